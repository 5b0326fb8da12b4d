#pragma once
// The peaks of one sound file for a waveform view, made on a worker thread from the decoded
// sound and handed over as they arrive, or read back from the per-user cache. A MIDI file's
// peaks come from its rendering. For sample zoom it also reads short stretches of frames.
#include "waveform/peaks.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

namespace midi { class RenderHandle; }

namespace waveform {

// Interleaved float frames, pulled from the start or from a frame sought to.
class FrameSource {
public:
    virtual ~FrameSource() = default;
    virtual int sampleRate() const = 0;
    virtual int channels() const = 0;
    virtual qint64 frames() const = 0;  // -1 when not known
    // 0 at the end, -1 on an error.
    virtual qint64 read(float* out, qint64 maxFrames) = 0;
    virtual bool seek(qint64 frame) = 0;
};
using SourceOpener = std::function<std::unique_ptr<FrameSource>(const QString& path, QString* error)>;
// What opens the sound of a file (the engine's decoder unless replaced; an empty one restores it).
void setSourceOpener(SourceOpener opener);
SourceOpener sourceOpener();

// The folder peaks are kept in: the per-user cache's "peaks" folder, unless set.
QString cacheFolder();
// An empty folder goes back to the per-user cache.
void setCacheFolder(const QString& folder);
// Some 500 hours of sound.
constexpr qint64 kCacheLimitBytes = qint64(128) << 20;
// Where the peaks of `audioPath` as it is now are kept; empty when it cannot be looked at.
QString peaksPath(const QString& audioPath);

class PeaksJob;
class WindowJob;

// Per-frame lowest and highest value over the channels, for frames [first, first + size).
struct SampleWindow {
    qint64 first = 0;
    std::vector<float> lo, hi;
    qint64 end() const { return first + qint64(lo.size()); }
};

class WaveformSource : public QObject {
    Q_OBJECT
public:
    enum class Status { Empty, Preparing, Reading, Ready, Failed };

    explicit WaveformSource(QObject* parent = nullptr);
    ~WaveformSource() override;

    // Shows `path` (empty: nothing). The same file unchanged since is not read again, nor
    // tried again when it failed.
    void setFile(const QString& path);
    QString file() const { return m_path; }
    Status status() const { return m_status; }
    QString error() const { return m_error; }
    const Peaks& peaks() const { return m_peaks; }
    // While a MIDI file renders: how far, 0-100.
    int preparing() const { return m_percent; }

    // Asks for the frames [from, from + count); windowReady() tells when they are there.
    void requestWindow(qint64 from, qint64 count);
    const SampleWindow& window() const { return m_window; }

signals:
    void changed();
    void windowReady();

private:
    void startPeaks(const QString& audioPath);
    void drain();
    void renderDone();
    void windowDone();
    void fail(const QString& why);

    QString m_path;
    QByteArray m_stamp;
    QString m_audioPath;
    Status m_status = Status::Empty;
    QString m_error;
    int m_percent = 0;
    Peaks m_peaks;
    std::shared_ptr<PeaksJob> m_job;
    std::unique_ptr<midi::RenderHandle> m_render;
    std::shared_ptr<WindowJob> m_windowJob;
    qint64 m_wantFrom = -1, m_wantCount = 0;
    SampleWindow m_window;
};

} // namespace waveform
