#pragma once
// Playing one entry: a file's stretch at a rate, repeated without end or for a counted
// number of passes, after which the list goes on. The engine cuts the loop seam; a tick
// counts passes and stands in where the engine cannot loop. Runs on the UI thread, over
// the engine's controls (no widget); what cannot be played is told by signals, and the
// window says it.
#include "app/entryrecord.h"
#include "engine/mediaengine.h"

#include <QObject>
#include <QString>
#include <functional>
#include <optional>

class QTimer;

namespace playback {

class BeatsAhead;
class EngineControl;

// The entry in play, as the last start (or live change) left it.
struct EntryStretch {
    QString file;
    double start = 0;
    double stop = 0;          // a whole file's: its length, once known
    double rate = 0;
    double loopsLeft = 0;     // passes still to come after the one playing
    PracticeSettings practice;
    bool wholeFile = false;   // its stop is the file's length
    QString text;             // its line or label; empty for none
};

class EntryPlayer : public QObject {
    Q_OBJECT
public:
    // What the entry in play is doing; the tick runs in every mode but Idle.
    enum class Mode {
        Idle,             // nothing watched: stopped, failed, or a whole file of unknown length
        Endless,          // the stretch repeats until stopped
        Counted,          // passes are counted; after the last the list goes on
        CountedHandedOver,  // the last pass or the one before plays, the list's next entry
                            // already with the engine
        // ... and a repeat came after the output took that entry: once it is heard, the line
        // just left plays one pass more, and the list goes on from it as before
        CountedGoingBack,
    };

    explicit EntryPlayer(EngineControl* player, QObject* parent = nullptr);

    // The one entry point for playback. Texts are converted as "0" + text; a text that does
    // not convert leaves the field as it was.
    // `text`: the entry's line or label, shown while it plays.
    void PlayPosition(const QString& strFileName, const QString& strStart, const QString& strEnd,
                      const QString& strRate, const QString& strLoops, bool ynDoLoop,
                      const PracticeSettings& practice = {}, const QString& text = {});

    // The tick off and the player stopped.
    void stopPlayback();

    Mode mode() const { return m_mode; }
    // Whether an entry is in play (the tick watches it), paused or not.
    bool inPlay() const { return m_mode != Mode::Idle; }
    bool endless() const { return m_mode == Mode::Endless; }
    bool counted() const
    {
        return m_mode == Mode::Counted || m_mode == Mode::CountedHandedOver || m_mode == Mode::CountedGoingBack;
    }
    const EntryStretch& current() const { return m_entry; }

    // Moves the stretch in play without restarting the pass: the engine takes the new
    // range at once and the tick checks the new stop.
    void changeStretch(double start, double stop);
    // The entry's rate, heard at once and kept for its next passes.
    void changeRate(double rate);
    // The entry's practice settings, heard from here on with its passes counted on.
    void changePractice(const PracticeSettings& practice);
    // Pauses what plays, goes on with what is paused, and plays the last entry again
    // when it was stopped.
    void togglePause();
    // In list play, one pass more of the entry that plays, heard after the pass now. Pressed
    // as the next entry is already on its way to the ear, the line just left is gone back to.
    void repeatOnce();

    // Where the list's next entry comes from once an entry's passes are used up.
    void setNextEntrySource(std::function<EntryRecord()> source) { m_nextEntry = std::move(source); }
    // The entry the source would give next (`ahead` more entries on), without moving on;
    // with it the engine is handed the next entry before the current one ends, so no
    // sound is lost between.
    void setNextEntryPeek(std::function<EntryRecord(int ahead)> peek) { m_peekNext = std::move(peek); }
    // Only the next entry known: none is handed over after it.
    void setNextEntryPeek(std::function<EntryRecord()> peek)
    {
        m_peekNext = [peek = std::move(peek)](int ahead) { return ahead == 0 ? peek() : EntryRecord{}; };
    }

    // What the running tick does each time it fires; drivers without real time call it
    // instead, whenever the tick runs (inPlay()).
    void tick();

    static constexpr int kTickMs = 10;
    // Where the engine cuts the stretch itself it reports each wrap and each end as it is
    // heard, and the ticks only stand by.
    static constexpr int kStandbyMs = 200;
    // The ticks' interval for the range handed to the engine (none: a whole file, whose
    // end the engine reports).
    static int tickInterval(const std::optional<engine::LoopRange>& handed);

signals:
    // The entry heard now has another text (empty: none).
    void textChanged(const QString& text);
    // The entry's file is missing or empty: nothing was played.
    void fileNotFound(const QString& path);
    // The entry's file is there but cannot be played, and why.
    void cannotPlay(const QString& path, const QString& reason);

private:
    // How a start follows what played before it.
    enum class Start {
        Fresh,        // the entry starts over
        HandedOver,   // the engine already plays the list's next entry from its start
        NextPass,     // the entry's next counted pass, started again here
        WrappedPass,  // the entry's next counted pass, after the engine's own wrap
    };

    void start(const QString& strFileName, const QString& strStart, const QString& strEnd, const QString& strRate,
               const QString& strLoops, bool ynDoLoop, const PracticeSettings& practice, const QString& text,
               Start how);
    void startWhole(bool loop, bool handedOver);
    // Enters a mode, the tick started afresh in any but Idle.
    void enter(Mode mode);
    // Between Counted and CountedHandedOver, the tick running on.
    void setHandedOver(bool handedOver);
    void loopTick();
    void passTick();
    EntryRecord GetNextEntry();
    void setText(const QString& text);
    void playerFailed(const QString& path, const QString& reason);
    void handOverLoop(bool endless);
    void endHeard();
    void handOverNext();
    std::optional<engine::NextEntry> nextEntry(const EntryRecord& next, int after);
    // Entries handed over at most at once, and the seconds of those before the last one
    // that make the output's depth (the engine renders some 0.75 s ahead).
    static constexpr int kHandOverEntries = 8;
    static constexpr double kHandOverAheadSeconds = 1.0;
    // The next entry goes to the engine a pass before the last: a last pass shorter than
    // what the engine renders ahead is heard too late to decide how its end blends.
    bool nextDue() const { return m_entry.loopsLeft <= 1; }
    void nextHeard();
    void watchStop(bool loop);
    // The list's next entry, on another file, plays on its beats: they are looked for now.
    void findBeatsAhead();
    void setTickPace(const std::optional<engine::LoopRange>& handed);
    void lengthChanged(double seconds);

    // Where the entry's stop comes from.
    enum class StopFrom {
        Entry,         // a stretch: the entry's own stop
        FileLength,    // a whole file: its length, followed as it becomes more exact
        AwaitedLength, // a whole file whose length is not known yet: nothing is watched
    };

    EngineControl* m_player;
    QTimer* m_tick;
    BeatsAhead* m_beatsAhead;
    Mode m_mode = Mode::Idle;
    EntryStretch m_entry;
    std::function<EntryRecord()> m_nextEntry;
    std::function<EntryRecord(int ahead)> m_peekNext;
    int m_pendingWraps = 0;        // engine wraps heard but not yet counted as passes
    StopFrom m_stopFrom = StopFrom::Entry;
    int m_pass = 0;                // the entry's passes so far, where the engine does not count them
    bool m_lastDoLoop = false;     // how the last entry was played, to play it again
    double m_lastLoops = 1;
};

} // namespace playback
