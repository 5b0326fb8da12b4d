#pragma once
// The real playback engine, on libmpv: the transport. It keeps the load and our seeks
// in step with mpv's events (MpvHandle keeps the core) and reports positions as heard
// (HeardClock). Everything runs on the UI thread.
#include "audio/heardclock.h"
#include "engine/mediaengine.h"
#include "engine/mpv/loadbudget.h"
#include "engine/mpv/mpvhandle.h"
#include "engine/mpv/mpvhear.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QHash>
#include <QPointer>
#include <QTimer>

#include <cstdint>
#include <optional>

namespace engine {

class MpvMetronome;
class MpvPractice;
class MpvVideoView;
struct HeardRun;
enum class MpvStretch;

class MpvEngine : public MediaEngine, private MpvHandle::Listener {
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
    bool isValid() const { return m_mpv.handle() != nullptr; }

    void load(const QString& path) override;
    bool waitForLoad(int timeoutMs) override;
    QString path() const override { return m_path; }

    void play() override;
    void pause() override;
    void stop() override;
    PlayState state() const override { return m_state; }

    double position() const override;
    void seek(double seconds) override;
    double duration() const override { return isLoaded() ? m_duration : 0.0; }

    void setRate(double rate) override;
    double rate() const override { return m_entryRate; }

    void setLoop(const LoopRange& range) override;
    void clearLoop() override;
    LoopRange loop() const override { return m_loop; }

    QHash<QString, QString> metadata() const override { return isLoaded() ? m_metadata : QHash<QString, QString>{}; }
    bool hasVideo() const override { return isLoaded() && m_hasVideo; }

    QWidget* createVideoView(QWidget* parent) override;
    void setPractice(const PracticeSettings& practice, int pass) override;
    void setHear(const HearSettings& hear) override;
    void setBeats(const QString& path, std::shared_ptr<const beats::BeatGrid> grid) override;
    void setMetronome(bool on) override;
    bool metronome() const override;
    bool setOverlayLine(const QString& text) override;

    // True when `path` names something mpv would open through a protocol rather than as
    // a plain local file.
    static bool looksLikeUrl(const QString& path);

private:
    // Where the current file's load stands.
    enum class LoadPhase {
        Empty,     // nothing loaded, or the load failed
        Opening,   // asked for; mpv still plays or holds the file before
        Started,   // mpv began the file; neither loaded() nor loadFailed() yet
        Settling,  // loaded; seeks until its first playback restart are the load's own
        Loaded,
    };
    // Where our seeks stand. SEEK events that follow a reply of ours are ours; others are
    // the loop wrapping.
    enum class SeekPhase {
        None,
        Parked,    // paused where the last seek landed, its sound (and picture) decoded
        Pending,   // ours under way: the position reads its target until it lands
        Answered,  // ... and mpv took it: the next SEEK event is ours
    };
    // What the caller asked for, or an end reached.
    enum class Motion { Playing, Paused, Stopped, Ended };

    bool eventFilter(QObject* watched, QEvent* event) override;
    void applyLine();

    // MpvHandle::Listener
    void onStartFile(std::int64_t entryId) override;
    void onPreloaded() override;
    void onFileLoaded() override;
    void onEndFile(std::int64_t entryId, MpvHandle::EndReason reason, int error) override;
    void onSeekEvent() override;
    void onPlaybackRestart() override;
    void onSeekReply(std::uint64_t generation, bool done) override;
    void onPause(bool paused) override;
    void onEofReached(bool eof) override;
    void onTimePos(std::optional<double> t) override;
    void onAudioPts(std::optional<double> t) override;
    void onDuration(std::optional<double> d) override;
    void onMetadata(const QHash<QString, QString>& tags) override;
    void onTrackList(const MpvHandle::Tracks& tracks) override;

    bool isLoaded() const { return m_load == LoadPhase::Settling || m_load == LoadPhase::Loaded; }
    bool seekPending() const { return m_seek == SeekPhase::Pending || m_seek == SeekPhase::Answered; }
    bool pauseWanted() const { return m_motion == Motion::Paused || m_motion == Motion::Stopped; }
    bool stopped() const { return m_motion == Motion::Stopped || m_motion == Motion::Ended; }
    void haltAtEnd();
    void requestSeek(double target);

    void failLoad(const QString& reason);
    void giveUpLoad();
    // The load's limit counts from now.
    void limitLoad(qint64 ms);
    void checkLoadIn(qint64 ms);
    void countStreamLength();
    void streamCounted(std::uint64_t generation, double seconds);
    void resetFileState();
    void reportVideo();
    void onVideoOutput(bool available);
    void issueSeek(double target);
    // Where mpv is sent for `target`: on a video with sound, the frame shown there.
    double seekPoint(double target) const;
    void applyLoop();
    void unpauseAfterSeek();
    // Pauses mpv through the coming landing when its pass begins with a hold.
    void pauseForStartHold();
    // The speed mpv plays at (a trainer's pass rate, else the entry's rate).
    void applySpeed(double speed);
    // Still between two passes, for their pause and count-in; the engine counts as playing.
    void holdForPass();
    // Decodes the pass after a wrap anew while its hold lasts.
    void restartHeldPass();
    void releasePass();
    void updateState();
    // The file's bar before the passes' start, for an automatic count-in.
    void updateCountInBar();
    // How far behind audio-pts a pass at `rate` is heard, in the source's seconds.
    double soundLag(double rate) const;
    // What the metronome clicks on: the sound heard from the click output's `heardFrame`.
    HeardRun heardRun(qint64 heardFrame) const;

    double now() const;
    void takeSample(double value);
    void freezeClock();
    // `drySeconds`: how long the output has been silent already before a wrap heard now.
    void resolveHeard(double drySeconds = 0);
    void scheduleHeardCheck();
    void beginEnd();
    void finishEnd();
    void cancelPending();
    double effectiveEnd() const;
    bool mpvLoopActive() const;

    Options m_options;
    MpvHandle m_mpv;
    QPointer<MpvVideoView> m_view;
    QString m_line;           // drawn over the view's picture
    QByteArray m_lineSent;    // the overlay as mpv has it, to leave it alone when unchanged

    // The current load
    QString m_path;
    std::int64_t m_entryId = -1;
    LoadPhase m_load = LoadPhase::Empty;
    std::optional<double> m_startPassed;  // a pending seek handed over with the load
    double m_duration = 0;
    std::optional<double> m_ownDuration;  // a length counted by us where mpv can only guess it
    std::uint64_t m_loadGeneration = 0;
    QHash<QString, QString> m_metadata;
    bool m_hasVideo = false;      // the file has pictures (a cover picture does not count)
    bool m_videoClock = false;    // pictures are shown, so the frame on screen is the clock
    double m_frameLead = 0;       // how far time-pos runs ahead of that frame
    // A video with sound: its frames' spacing (0: none, or no sound) and one frame's time,
    // where mpv is sent to the frame shown at a target (frameStartAtOrBefore()).
    double m_framePeriod = 0;
    double m_framePhase = 0;
    bool m_videoReported = false; // what videoChanged() last said

    // Transport
    PlayState m_state = PlayState::Stopped;
    Motion m_motion = Motion::Playing;
    bool m_mpvPaused = false;
    bool m_unpauseAfterSeek = false;  // a play waits for the seek to land
    // When the sound stopped at an end the caller goes on from (list play): the next pass's
    // hold counts from then, not from the seek or load that follows.
    std::optional<double> m_quietSince;
    bool m_eofSeen = false;
    SeekPhase m_seek = SeekPhase::None;
    double m_entryRate = 1.0;  // the clock runs at the pass's speed
    MpvPractice* m_practice = nullptr;
    MpvMetronome* m_metronome = nullptr;
    bool m_entryMetronome = false;  // the entry's own setting, as last given
    // mpv's "af" list: the hear chain, then the stretcher (the transpose's Rubber Band, or a
    // plain one for a rate but 1, or none: mpv's own then).
    QByteArray m_transposeFilter;
    bool m_stretchFilter = false;
    QByteArray stretcherEntry() const;
    // The hear settings heard. Their chain is in the list from the start (with every setting
    // off it leaves the sound as it is, 5 ms late by the limiter's look-ahead), so that turning
    // a filter on is a few commands to it, never a restart of the chain.
    HearSettings m_hear;
    double m_sampleRate = 0;  // the file's sound's, as decoded (0: none known)
    MpvHearChain m_hearChain;  // what the running chain's branches hold
    // A change sets the branch not heard: one that comes while the last fade or the list's
    // hand-back to A may still be under way waits for it, then goes as the settings are.
    QDeadlineTimer m_hearFaded;
    QTimer m_hearWait;
    // Where the list stands against what is heard: it holds it; a change has faded to B and
    // B's entries still hold m_hearListedSettings (the old ones, or the new where the change
    // wrote B anew); A has been given the heard settings and the fade back to it is under
    // way (see mpvHearHandBack).
    enum class HearListed { Heard, FadedToB, HandingBack };
    HearListed m_hearListed = HearListed::Heard;
    HearSettings m_hearListedSettings;
    void writeList(const QByteArray& hear);
    // Sends the commands that take the chain to `hear` where they can; false when the list
    // must be written for it (a change of keep, or no file's chain running yet).
    bool commandHear(const HearSettings& hear);
    void sendHear();
    void writeFilters();
    bool stretchWanted() const;
    MpvStretch stretch() const;
    // What mpv's ab-loop-b or end is told for a cut heard at `at`.
    QByteArray cutAt(double at) const;
    // What mpv's end is told for a hold at `stop`.
    QByteArray endAt(double stop) const;
    // How much earlier mpv dates the sound than it is (source seconds).
    double stretchEarly() const;
    double m_seekTarget = 0;
    int m_seeksUnanswered = 0;

    // The heard position, and a timer for the next wrap or end it will reach.
    QElapsedTimer m_elapsed;
    audio::HeardClock m_clock;
    QTimer m_heardTimer;
    // A load that has not finished in this much of the time the machine let it run is
    // given up: a local file opens far sooner (loadbudget.h).
    static constexpr int kLoadLimitMs = 1000;
    // ... and one mpv has not begun by then: it is stuck on the file before.
    static constexpr int kQueueLimitMs = 5000;
    QTimer m_loadLimit;
    QDeadlineTimer m_loadDeadline;
    QDeadlineTimer m_queueDeadline;
    QElapsedTimer m_loadSince;
    ThreadWaits m_loadWaits;  // as the limit began to count
    qint64 m_loadLimitMs = kLoadLimitMs;

    LoopRange m_loop;
    bool m_hasLoop = false;
    // The range as handed to mpv, and the hold point written to its `end`.
    double m_appliedStart = 0;
    double m_appliedStop = 0;
    std::optional<double> m_holdEnd;
};

} // namespace engine
