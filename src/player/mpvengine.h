#pragma once
// The real playback engine, on libmpv. Everything runs on the UI thread: mpv's wakeup
// callback only queues a drain of its events here.
#include "player/mediaengine.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QHash>
#include <QPointer>
#include <QTimer>

#include <atomic>
#include <cstdint>
#include <optional>
#include <variant>

struct mpv_handle;
struct mpv_node;
struct mpv_event;

namespace player {

class MpvPractice;
class MpvVideoView;

class MpvEngine : public MediaEngine {
    Q_OBJECT
public:
    struct Options {
        bool videoOutput = true;  // false: no pictures at all (vo=null)
        bool audioOutput = true;  // false: decode audio but play it nowhere (ao=null)
    };

    explicit MpvEngine(QObject* parent = nullptr);
    explicit MpvEngine(const Options& options, QObject* parent = nullptr);
    ~MpvEngine() override;

    // False when libmpv could not be started; every call is then a no-op and loads fail.
    bool isValid() const { return m_mpv != nullptr; }

    void load(const QString& path) override;
    bool waitForLoad(int timeoutMs) override;
    QString path() const override { return m_path; }

    void play() override;
    void pause() override;
    void stop() override;
    PlayState state() const override { return m_state; }

    double position() const override;
    void seek(double seconds) override;
    double duration() const override { return m_loaded ? m_duration : 0.0; }

    void setRate(double rate) override;
    double rate() const override { return m_entryRate; }

    void setLoop(const LoopRange& range) override;
    void clearLoop() override;
    LoopRange loop() const override { return m_loop; }

    QHash<QString, QString> metadata() const override { return m_loaded ? m_metadata : QHash<QString, QString>{}; }
    bool hasVideo() const override { return m_loaded && m_hasVideo; }

    QWidget* createVideoView(QWidget* parent) override;
    void setPractice(const PracticeSettings& practice, int pass) override;

    // True when `path` names something mpv would open through a protocol rather than as
    // a plain local file.
    static bool looksLikeUrl(const QString& path);

private:
    using FlagHandler = void (MpvEngine::*)(bool);
    using TimeHandler = void (MpvEngine::*)(std::optional<double>);
    using NodeHandler = void (MpvEngine::*)(const mpv_node*);
    struct ObservedProperty {
        const char* name;
        std::variant<FlagHandler, TimeHandler, NodeHandler> handler;
    };
    static const ObservedProperty kObserved[];

    void init();
    void queueDrain();
    void drainEvents();
    void handleEvent(const mpv_event& event);
    void onPropertyChange(std::uint64_t id, int format, void* data);

    // Event handlers
    void onStartFile(std::int64_t entryId);
    void onPreloaded();
    void onFileLoaded();
    void onEndFile(std::int64_t entryId, int reason, int error);
    void onSeekEvent();
    void onPlaybackRestart();
    void onCommandReply(std::uint64_t tag, int error);

    // Property handlers (the table)
    void onPause(bool paused);
    void onEofReached(bool eof);
    void onTimePos(std::optional<double> t);
    void onAudioPts(std::optional<double> t);
    void onDuration(std::optional<double> d);
    void onMetadata(const mpv_node* node);
    void onTrackList(const mpv_node* node);

    void failLoad(const QString& reason);
    void giveUpLoad();
    void countStreamLength();
    void streamCounted(std::uint64_t generation, double seconds);
    void resetFileState();
    void reportVideo();
    void onVideoOutput(bool available);
    void setProperty(const char* name, const QByteArray& value);
    void issueSeek(double target);
    void applyLoop();
    void unpauseAfterSeek();
    // The speed mpv plays at (a trainer's pass rate, else the entry's rate).
    void applySpeed(double speed);
    // Still between two passes, for their pause and count-in; the engine counts as playing.
    void holdForPass();
    void releasePass();
    void updateState();

    // The clock of heard positions.
    double now() const;
    double rawPosition() const;
    void takeSample(double value);
    void freezeClock();
    void resolveHeard();
    void scheduleHeardCheck();
    void beginEnd();
    void finishEnd();
    void cancelPending();
    double effectiveEnd() const;
    bool mpvLoopActive() const;

    mpv_handle* m_mpv = nullptr;
    Options m_options;
    std::atomic<bool> m_drainQueued{false};
    bool m_inHook = false;
    QPointer<MpvVideoView> m_view;

    // Last value written to (or seen on) each mpv property we set, so unchanged values
    // are never written again.
    QHash<QByteArray, QByteArray> m_written;

    // The current load
    QString m_path;
    std::int64_t m_entryId = -1;
    bool m_started = false;      // mpv began the current entry
    bool m_loadPending = false;  // loading; neither loaded() nor loadFailed() yet
    bool m_loaded = false;
    std::optional<double> m_startPassed;  // a pending seek handed over with the load
    double m_duration = 0;
    std::optional<double> m_ownDuration;  // a length counted by us where mpv can only guess it
    std::uint64_t m_loadGeneration = 0;
    QHash<QString, QString> m_metadata;
    bool m_hasVideo = false;      // the file has pictures (a cover picture does not count)
    bool m_videoClock = false;    // pictures are shown, so the frame on screen is the clock
    double m_frameLead = 0;       // how far time-pos runs ahead of that frame
    bool m_videoReported = false; // what videoChanged() last said

    // Transport
    PlayState m_state = PlayState::Stopped;
    bool m_pauseWanted = false;
    bool m_mpvPaused = false;
    bool m_unpauseAfterSeek = false;
    bool m_stopped = false;  // by stop() or by reaching an end; play() clears it
    bool m_eofSeen = false;
    double m_rate = 1.0;  // the speed the clock runs at
    double m_entryRate = 1.0;
    MpvPractice* m_practice = nullptr;

    // Seeks of ours: SEEK events that follow a reply of ours are ours, others are wraps.
    bool m_seekPending = false;
    double m_seekTarget = 0;
    int m_seeksUnanswered = 0;
    bool m_seekAnswered = false;
    bool m_loadSeeking = false;
    // Paused where the last seek landed, with its sound (and picture) decoded.
    bool m_parked = false;

    // Heard position: a sample and the monotonic time it was taken, run on at the rate.
    QElapsedTimer m_clock;
    double m_anchorPos = 0;
    double m_anchorTime = 0;
    bool m_running = false;

    // Wraps decoded but not heard yet, and the stretch they jump over.
    int m_wrapsPending = 0;
    double m_wrapStart = 0;
    double m_wrapStop = 0;
    // An end (file's end or hold point) decoded but not heard yet, or reached.
    bool m_endPending = false;
    bool m_atEnd = false;
    double m_endPos = 0;
    QTimer m_heardTimer;
    // A load that has not finished by then is given up: a local file opens far sooner.
    static constexpr int kLoadLimitMs = 1000;
    QTimer m_loadLimit;
    QDeadlineTimer m_loadDeadline;

    LoopRange m_loop;
    bool m_hasLoop = false;
    // The range as handed to mpv, and the hold point written to its `end`.
    double m_appliedStart = 0;
    double m_appliedStop = 0;
    std::optional<double> m_holdEnd;
};

} // namespace player
