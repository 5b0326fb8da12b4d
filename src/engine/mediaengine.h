#pragma once
// The playback engine behind a MediaPlayer: SampleEngine for sound files, MpvEngine for
// video, MidiEngine in front of them for MIDI files, RoutingEngine choosing between them;
// tests use an engine with a hand-driven clock.
//
// The contract every engine keeps (tests/test_engine_contract_mpv.cpp checks it on each):
// - Threads: everything is called and signalled on the UI thread. No call waits on a load,
//   a decoder or the sound server, except waitForLoad(), which tools and tests use.
// - Ownership: the caller owns the engine (a MediaPlayer takes it over). An engine owns
//   any engines it wraps and every thread it starts; destroying it mid-load is safe.
// - Loads: load() returns at once. Each load ends in exactly one loaded() or one
//   loadFailed(), unless another load() (or an unload) comes first: a superseded load
//   reports nothing. loadFailed() may come inside load() (a path that cannot be opened at
//   all) or later; loaded() comes inside waitForLoad() or later, never inside load() on a
//   real engine. Connect before calling load().
// - While a load is under way the engine counts as playing (paused after pause(), stopped
//   after stop()): no Stopped shows between two files. A seek, a rate or a loop range set
//   meanwhile applies to the new file; position() reads the seek's target (0 without one)
//   and positionJumped() is not emitted for it.
// - Signals that may come synchronously inside a call: stateChanged() inside load(),
//   play(), pause(), stop(); positionJumped() inside seek() once loaded; durationChanged()
//   inside load(); loadFailed() inside load(); loaded() and loadFailed() inside
//   waitForLoad(). Wraps, ends, nextStarted() and loadProgress() come only from the event
//   loop, when they are heard.
// - Positions: while a seek is pending position() reads its target; at a file's end (or
//   a hold point) it reads that end and the state is Stopped; after stop() it reads 0.
// - duration() is 0 while unknown. It may be known before loaded() (from the file's
//   headers) and may change after it (a length counted once the file is open);
//   durationChanged() tells every change, with the new value.
#include "app/hear.h"
#include "app/practice.h"

#include <QHash>
#include <QObject>
#include <QString>

#include <memory>

class QWidget;
namespace beats { struct BeatGrid; }

namespace engine {

enum class PlayState { Stopped = 0, Paused = 1, Playing = 2 };

// A stretch the engine repeats by itself, so the jump back is cut at the exact sample
// instead of by a poll.
struct LoopRange {
    double start = 0;         // where each wrap lands
    double stop = 0;          // where each wrap is cut
    int wraps = 0;            // jumps back still allowed; kEndless for no limit
    bool holdAtStop = false;  // once no wraps are left, end exactly at `stop` (as at a file's end)
    bool wrapAtEnd = false;   // a stop at the file's end wraps there instead of ending
    static constexpr int kEndless = -1;
    static constexpr double kEndSlack = 0.001;  // seconds a stop may lie past the end

    // Whether the range loops on a file of `duration` seconds (0: not known yet).
    bool loopsOn(double duration) const
    {
        if (!(stop > start)) return false;
        if (duration <= 0 || stop < duration) return true;
        return wrapAtEnd && stop <= duration + kEndSlack && start < duration;
    }

    bool operator==(const LoopRange&) const = default;
};

// The list's next entry, handed over while the current one plays so that its first
// sample follows the current one's last.
struct NextEntry {
    QString path;
    double start = 0;
    LoopRange loop;      // its stretch, as setLoop() would take it
    bool hasLoop = false;
    bool toEnd = false;  // a whole file: the stretch's stop is the file's end, once opened
    double rate = 1;
    PracticeSettings practice;
    // Entries handed over before it and not heard yet: 0 follows the one playing. An entry
    // over before it is heard (shorter than what the output holds ahead) needs the one after
    // it handed over with it.
    int after = 0;
};

class MediaEngine : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~MediaEngine() override = default;

    // Starts loading `path` and plays it from its beginning once loaded. A seek, a rate or
    // a loop range set before the load completes applies to the new file. An empty path
    // unloads. Failure is reported through loadFailed().
    virtual void load(const QString& path) = 0;
    // Waits, at most `timeoutMs`, for the last load to finish; true when the file is loaded.
    // Blocks the calling thread: for tools and tests, never for a window.
    virtual bool waitForLoad(int timeoutMs) = 0;
    // The path last loaded, exactly as given.
    virtual QString path() const = 0;

    virtual void play() = 0;
    virtual void pause() = 0;
    // Stops playback and rewinds to the beginning.
    virtual void stop() = 0;
    virtual PlayState state() const = 0;

    // Seconds as the listener hears them. While a seek is pending this reads its target;
    // at a file's end (or a hold point) it reads that end.
    virtual double position() const = 0;
    virtual void seek(double seconds) = 0;
    // Seconds; 0 until known, and known once waitForLoad() returned true.
    virtual double duration() const = 0;

    // Playback speed; the pitch is kept.
    virtual void setRate(double rate) = 0;
    virtual double rate() const = 0;

    // Hands a stretch to the engine. A range whose stop is not after its start is not
    // looped: playback runs on as without one. A stop at or past the file's end is not
    // looped either (playback ends there), unless `wrapAtEnd` is set and the stop is the
    // end (within kEndSlack): then the wrap is cut at the file's end. Looping "from here
    // to the end" is common, and a file that has ended can only be restarted from
    // outside with a gap and a flush.
    virtual void setLoop(const LoopRange& range) = 0;
    virtual void clearLoop() = 0;
    virtual LoopRange loop() const = 0;

    // The file's tags (lower-case names such as "title", "artist", "comment"); empty when
    // nothing is loaded.
    virtual QHash<QString, QString> metadata() const = 0;
    virtual bool hasVideo() const = 0;

    // Plays `next` where the current stretch holds at its stop (or the file ends), without
    // a gap; nextStarted() tells when it is heard, and from then on path(), position(),
    // rate() and loop() are the next entry's. False: not taken (the caller loads the next
    // entry itself once the current one ends). A load, seek or stop drops it.
    virtual bool queueNext(const NextEntry& next) { Q_UNUSED(next); return false; }
    // Takes back the entry queueNext() handed over, while none of it is heard (rendered
    // ahead already or not): the current stretch goes on as set next, nextStarted() does
    // not come. False when there is none, or when it is on its way to the ear already.
    virtual bool takeBackNext() { return false; }

    // The practice settings of the entry that plays, given before it is sought or loaded.
    // `pass`: the pass that starts with the next seek or load, counted from 0 for the
    // entry's first (its rate, its pause and count-in come first); kGoOn: the passes go on
    // as the engine's own wraps count them. rate() stays the entry's own rate; a
    // trainer's current one is told by passRateChanged(). An engine without practice
    // ignores them.
    static constexpr int kGoOn = -1;
    virtual void setPractice(const PracticeSettings& practice, int pass)
    {
        Q_UNUSED(practice);
        Q_UNUSED(pass);
    }

    // The beats of `path` (as found by analysis), for the metronome and an automatic
    // count-in; given again whenever they become known or change. An engine that cannot
    // click on them ignores them (the count-in then plays its typed clicks).
    virtual void setBeats(const QString& path, std::shared_ptr<const beats::BeatGrid> grid)
    {
        Q_UNUSED(path);
        Q_UNUSED(grid);
    }
    // The metronome, switched while playing: heard at the next output buffer. An entry's
    // own setting switches it as its practice settings are given.
    virtual void setMetronome(bool on) { Q_UNUSED(on); }
    virtual bool metronome() const { return false; }
    // How the sound is heard from now on (a band, the centre, one channel, a gain), heard
    // within one output buffer and without a click; it stays until set again, across loads
    // and entries. An engine without these filters ignores them.
    virtual void setHear(const HearSettings& hear) { Q_UNUSED(hear); }
    // The levels, mutes and solos of the stems the entry's practice settings name (the same
    // files, in the same order; others are ignored): heard within one output buffer, with
    // a short ramp. An engine without stems ignores them.
    virtual void setStemMix(const StemSet& mix) { Q_UNUSED(mix); }

    // A widget that shows the engine's video, or nullptr for an engine without pictures.
    virtual QWidget* createVideoView(QWidget* parent) { Q_UNUSED(parent); return nullptr; }
    // Draws `text` over the picture of the video view (none for an empty text); false when
    // the engine cannot, and the caller shows it elsewhere.
    virtual bool setOverlayLine(const QString& text) { Q_UNUSED(text); return false; }

signals:
    void stateChanged(PlayState oldState, PlayState newState);
    // A seek took effect; the position jumped from oldPos to newPos.
    void positionJumped(double oldPos, double newPos);
    // The engine jumped from the loop's stop back to its start, at the moment it is heard.
    void loopWrapped();
    void loaded();
    // The entry handed over by queueNext() is heard now.
    void nextStarted();
    void loadFailed(const QString& reason);
    // A load that prepares the file first (a MIDI file is rendered to sound) tells how far
    // it is, 0-100; loaded() or loadFailed() follows.
    void loadProgress(int percent);
    void videoChanged(bool hasVideo);
    // A speed trainer plays the pass heard now at `rate`.
    void passRateChanged(double rate);
    // duration() took a new value: `seconds` (0 when the file went or failed).
    void durationChanged(double seconds);

protected:
    // Emits durationChanged() when duration() differs from what was last told; engines
    // call it wherever their duration may have changed.
    void reportDuration()
    {
        const double d = duration();
        if (d == m_toldDuration) return;
        m_toldDuration = d;
        emit durationChanged(d);
    }

private:
    double m_toldDuration = 0;
};

} // namespace engine
