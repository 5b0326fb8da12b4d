#pragma once
// Keeps one libmpv core: starts it with checked options, observes the properties the
// engine follows, drains its events on the UI thread (mpv's wakeup callback only queues
// a drain), answers its hook, forwards its log and writes its properties. What the events
// mean is the listener's business.
#include <QByteArray>
#include <QHash>
#include <QLoggingCategory>
#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>
#include <optional>

struct mpv_handle;
struct mpv_event;

Q_DECLARE_LOGGING_CATEGORY(lcEngine)

namespace engine {

class MpvHandle : public QObject {
    Q_OBJECT
public:
    struct Tracks {
        bool audio = false;
        bool audioHeard = false;  // ... and selected for playing
        bool video = false;       // moving pictures
        bool videoShown = false;  // ... and selected for showing
        bool cover = false;       // a still picture that comes with music
    };

    enum class EndReason {
        Ours,      // stopped or replaced by us
        Redirect,  // the file names other files or places instead
        Error,
        Other,
    };

    // Handlers copy what they need first: a slot connected to a signal emitted from one may
    // wait for events itself, which frees the event.
    class Listener {
    public:
        virtual void onStartFile(std::int64_t entryId) = 0;
        // Inside the hook: mpv waits until it returns (writes take effect at once).
        virtual void onPreloaded() = 0;
        virtual void onFileLoaded() = 0;
        virtual void onEndFile(std::int64_t entryId, EndReason reason, int error) = 0;
        virtual void onSeekEvent() = 0;
        virtual void onPlaybackRestart() = 0;
        virtual void onSeekReply(std::uint64_t generation, bool done) = 0;

        virtual void onPause(bool paused) = 0;
        virtual void onEofReached(bool eof) = 0;
        virtual void onTimePos(std::optional<double> t) = 0;
        virtual void onAudioPts(std::optional<double> t) = 0;
        virtual void onDuration(std::optional<double> d) = 0;
        virtual void onMetadata(const QHash<QString, QString>& tags) = 0;
        virtual void onTrackList(const Tracks& tracks) = 0;

    protected:
        virtual ~Listener() = default;
    };

    MpvHandle(bool videoOutput, bool audioOutput, Listener* listener, QObject* parent = nullptr);
    ~MpvHandle() override;

    // Null when libmpv could not be started or refused an option.
    mpv_handle* handle() const { return m_mpv; }

    // ---- properties we set ----
    // The values mpv holds for the properties we set, as far as we know: what we wrote, and
    // what mpv changed by itself (noted). A write of the value mpv holds is left out.
    QByteArray known(const char* name) const { return m_known.value(name); }
    void note(const char* name, const QByteArray& value) { m_known.insert(name, value); }
    // Asynchronous, except inside the hook.
    void write(const char* name, const QByteArray& value);
    // Written even where the value is known: mpv may have changed it since without telling yet.
    void rewrite(const char* name, const QByteArray& value);
    // Synchronous: takes effect before the call returns.
    void writeNow(const char* name, const QByteArray& value);
    // For the current file only; never known afterwards.
    void writeFileLocal(const char* name, const QByteArray& value);

    // ---- reading ----
    std::optional<double> readDouble(const char* name) const;
    std::optional<std::int64_t> readInt(const char* name) const;
    bool readFlag(const char* name) const;  // false when it cannot be read
    std::optional<QByteArray> readString(const char* name) const;
    Tracks readTracks() const;
    QHash<QString, QString> readMetadata() const;

    // ---- commands ----
    int command(const char* const* args);  // synchronous; mpv's error code
    void commandAsync(const char* const* args);
    // An exact absolute seek; its reply reaches the listener with `generation`.
    bool seekAsync(const QByteArray& target, std::uint64_t generation);

    // Handles the events that come within `timeoutSeconds`, one at least when any comes;
    // for callers that wait for an answer without a nested event loop.
    void waitEvent(double timeoutSeconds);

    static QString errorString(int error);

private:
    void queueDrain();
    void drainEvents();
    void handleEvent(const mpv_event& event);
    void onPropertyChange(std::uint64_t id, int format, void* data);

    mpv_handle* m_mpv = nullptr;
    Listener* m_listener;
    std::atomic<bool> m_drainQueued{false};
    bool m_inHook = false;
    QHash<QByteArray, QByteArray> m_known;
};

} // namespace engine
