#pragma once
// Playing one entry: a file's stretch at a rate, repeated without end or for a counted
// number of passes, after which the list goes on. The engine cuts the loop seam; the
// two timers count passes and stand in where the engine cannot loop.
#include "app/entryrecord.h"
#include "engine/mediaengine.h"

#include <QObject>
#include <QString>
#include <functional>
#include <optional>

class QTimer;
class QWidget;

namespace player {

class MediaPlayer;

class EntryPlayer : public QObject {
    Q_OBJECT
public:
    EntryPlayer(MediaPlayer* mediaPlayer, QWidget* dialogParent, QObject* parent = nullptr);

    // The one entry point for playback. Texts are converted as "0" + text; a text that does
    // not convert leaves the field as it was.
    // `text`: the entry's line or label, shown while it plays.
    void PlayPosition(const QString& strFileName, const QString& strStart, const QString& strEnd,
                      const QString& strRate, const QString& strLoops, bool ynDoLoop,
                      const PracticeSettings& practice = {}, const QString& text = {});

    // Both timers off and the player stopped.
    void stopPlayback();

    // Whether an entry is in play (a timer watches it), paused or not.
    bool inPlay() const { return endless() || counted(); }
    // Whether the entry in play is a whole file (its stop is the file's length).
    bool wholeFile() const { return m_wholeFile; }
    // Moves the stretch in play without restarting the pass: the engine takes the new
    // range at once and the timers check the new stop.
    void changeStretch(double start, double stop);
    // The entry's rate, heard at once and kept for its next passes.
    void changeRate(double rate);
    // The entry's practice settings, heard from here on with its passes counted on.
    void changePractice(const PracticeSettings& practice);
    // Pauses what plays, goes on with what is paused, and plays the last entry again
    // when it was stopped.
    void togglePause();
    // In list play, one pass more of the entry that plays, heard after the pass now.
    void repeatOnce();

    // Where the list's next entry comes from once an entry's passes are used up.
    void setNextEntrySource(std::function<EntryRecord()> source) { m_nextEntry = std::move(source); }
    // The entry the source would give next, without moving on; with it the engine is
    // handed the next entry before the current one ends, so no sound is lost between.
    void setNextEntryPeek(std::function<EntryRecord()> peek) { m_peekNext = std::move(peek); }

    void tmrLooper_Timer();
    void tmrPlayer_Timer();

    QTimer* tmrLooper() const { return m_tmrLooper; }
    QTimer* tmrPlayer() const { return m_tmrPlayer; }
    bool endless() const;
    bool counted() const;

    // The play state of the entry.
    QString mstrFileName;
    double mdblStart = 0;
    double mdblStop = 0;
    double mdblRate = 0;
    double mdblLoopsLeft = 0;
    PracticeSettings mPractice;
    // The text of the entry heard now; empty for none.
    QString mstrText;

    static constexpr int kTickMs = 10;
    // Where the engine cuts the stretch itself it reports each wrap and each end as it is
    // heard, and the ticks only stand by.
    static constexpr int kStandbyMs = 200;
    // The ticks' interval for the range handed to the engine (none: a whole file, whose
    // end the engine reports).
    static int tickInterval(const std::optional<LoopRange>& handed);

signals:
    // The entry heard now has another text (empty: none).
    void textChanged(const QString& text);

private:
    EntryRecord GetNextEntry();
    void setText(const QString& text);
    void playerFailed(const QString& path, const QString& reason);
    void tellCannotPlay(const QString& path, const QString& reason);
    void handOverLoop(bool endless);
    void endHeard();
    void handOverNext();
    void nextHeard();
    void watchStop(bool loop);
    void setTickPace(const std::optional<LoopRange>& handed);
    void lengthChanged(double seconds);

    // Where the entry's stop comes from.
    enum class StopFrom {
        Entry,         // a stretch: the entry's own stop
        FileLength,    // a whole file: its length, followed as it becomes more exact
        AwaitedLength, // a whole file whose length is not known yet: nothing is watched
    };

    MediaPlayer* m_player;
    QWidget* m_dialogParent;
    QTimer* m_tmrLooper;
    QTimer* m_tmrPlayer;
    std::function<EntryRecord()> m_nextEntry;
    std::function<EntryRecord()> m_peekNext;
    bool m_nextHandedOver = false;  // the engine plays the next entry once this one holds
    int m_pendingWraps = 0;        // engine wraps heard but not yet counted as passes
    bool m_replayAfterWrap = false;  // the engine already stands at the stretch's start
    StopFrom m_stopFrom = StopFrom::Entry;
    bool m_loopWhole = false;          // the whole file loops without end
    bool m_replayingPass = false;    // the entry plays again for its next counted pass
    int m_pass = 0;                  // the entry's passes so far, where the engine does not count them
    bool m_wholeFile = false;
    bool m_lastDoLoop = false;   // how the last entry was played, to play it again
    double m_lastLoops = 1;
};

} // namespace player
