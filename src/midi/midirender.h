#pragma once
// MIDI files become sound through a synthesizer and a sound font, rendered once into the
// per-user cache as a 16-bit stereo WAV of exactly the song's length. Rendering runs on a
// worker thread; its job reports progress and its end on the UI thread.
#include "midi/midifile.h"
#include "midi/soundfont.h"

#include <QMutex>
#include <QObject>
#include <QWaitCondition>

#include <atomic>
#include <memory>
#include <optional>

namespace midi {

constexpr int kSampleRate = 44100;

// The folder renderings are kept in: the per-user cache's "midi" folder, unless set.
QString cacheFolder();
// An empty folder goes back to the per-user cache.
void setCacheFolder(const QString& folder);

// Where the rendering of `midiPath` with `soundFont` is kept. The name changes with the
// file's size and modification time and with the sound font, so a changed file is
// rendered again. Empty when the file cannot be looked at.
QString renderingPath(const QString& midiPath, const QString& soundFont);

// The cache is kept below this size: some three hours of rendered sound.
constexpr qint64 kCacheLimitBytes = qint64(2) << 30;

// Notes that a rendering was played (found in the cache), so it goes last when the cache
// is trimmed.
void markUsed(const QString& rendering);
// Removes the least recently used renderings of `folder` until the rest take at most
// `limitBytes`; `keep` stays whatever its size. Returns how many went.
int trimCache(const QString& folder, qint64 limitBytes, const QString& keep);

// What rendering a MIDI file takes: its song, the sound font and where the sound goes.
struct Plan {
    Song song;
    QString soundFont;
    QString target;
};
// Reads and checks `path`; on failure returns nothing and says why in `error`.
std::optional<Plan> plan(const QString& path, QString* error);

// Renderings started in this process; a rendering found in the cache starts none.
int renderCount();

// Whether this build can render MIDI at all.
bool synthesizerAvailable();

class RenderJob : public QObject {
    Q_OBJECT
public:
    RenderJob(const QString& target, const Song& song, const QString& soundFont);

    QString target() const { return m_target; }
    // Blocks for at most `ms` until the job is over; true when it is.
    bool wait(int ms);
    bool isFinished() const;
    // Once finished: why it failed, or empty.
    QString error() const;
    int percent() const { return m_percent; }

    // Runs on the worker thread.
    void run();
    void cancel() { m_cancel = true; }
    bool cancelled() const { return m_cancel; }

    std::atomic<int> claims{0};

signals:
    // Queued to the UI thread: how far the rendering is, and its end.
    void progressed(int percent);
    void finished();

private:
    QString render();
    void complete(const QString& error);

    const QString m_target;
    const Song m_song;
    const QString m_soundFont;
    std::atomic<bool> m_cancel{false};
    std::atomic<int> m_percent{0};
    mutable QMutex m_mutex;
    QWaitCondition m_done;
    bool m_finished = false;
    QString m_error;
};

// A caller's claim on a rendering: the rendering is cancelled once no one claims it.
class RenderHandle {
public:
    explicit RenderHandle(std::shared_ptr<RenderJob> job);
    ~RenderHandle();
    RenderHandle(const RenderHandle&) = delete;
    RenderHandle& operator=(const RenderHandle&) = delete;
    RenderJob* job() const { return m_job.get(); }

private:
    std::shared_ptr<RenderJob> m_job;
};

// Renders `song` with `soundFont` into `target`, or joins a rendering of the same target
// already under way. One rendering runs at a time.
std::unique_ptr<RenderHandle> render(const QString& target, const Song& song, const QString& soundFont);

} // namespace midi
