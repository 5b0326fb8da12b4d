// How often the displays and the entry's ticks look at the player, as a function of what
// plays and what is in sight.
#include "beats/beatsource.h"
#include "playback/enginecontrol.h"
#include "playback/entryplayer.h"
#include "playback/playbackfollow.h"
#include "playback/waveformbinding.h"
#include "support/fakeengine.h"
#include "support/testkit.h"
#include "waveform/waveformview.h"

#include <QLineEdit>
#include <QTemporaryDir>
#include <QtTest>

using playback::Sight;

class FollowTest : public QObject {
    Q_OBJECT
private slots:
    void displaysPollOnlyWhileSomethingPlays()
    {
        const int slow = playback::PlaybackFollow::kHiddenMs;
        struct Case { int shownMs; bool playing; Sight sight; int want; };
        const Case cases[] = {
            {400, false, Sight::Shown, 0},   // nothing plays: the reports alone move it
            {400, false, Sight::Hidden, 0},
            {400, true, Sight::Shown, 400},
            {400, true, Sight::Hidden, slow},
            {2000, true, Sight::Hidden, 2000},  // slowed, never hurried
            {0, true, Sight::Shown, 0},
        };
        for (const Case& c : cases)
            QCOMPARE(playback::followInterval(c.shownMs, c.playing, c.sight), c.want);
    }

    void playheadMovesOnADotAtATime()
    {
        struct Case { double secondsPerDot; double rate; int screenMs; int want; };
        const Case cases[] = {
            {0.5, 1, 30, 500},       // a long file: a dot every half second
            {0.5, 2, 30, 250},       // twice as fast
            {0.5, 0.25, 30, 1000},   // slow, but looked at at least every second
            {0.001, 1, 30, 30},      // zoomed in: no faster than the screen
            {0.001, 1, 17, 17},
            {0.0, 1, 30, 30},        // nothing to show yet
            {0.5, 0, 30, 30},
        };
        for (const Case& c : cases) QCOMPARE(playback::followMs(c.secondsPerDot, c.rate, c.screenMs), c.want);
    }

    void ticksStandByWhereTheEngineCutsTheStretch()
    {
        using playback::EntryPlayer;
        engine::LoopRange stretch;
        stretch.start = 1;
        stretch.stop = 3;
        engine::LoopRange backwards = stretch;
        backwards.stop = 1;
        QCOMPARE(EntryPlayer::tickInterval(std::nullopt), EntryPlayer::kStandbyMs);  // a whole file: its end is told
        QCOMPARE(EntryPlayer::tickInterval(stretch), EntryPlayer::kStandbyMs);
        QCOMPARE(EntryPlayer::tickInterval(backwards), EntryPlayer::kTickMs);  // never cut: watched
    }

    // A video's picture hides the player's waveform: the beats of what plays are found all
    // the same. The editor's hidden waveform stays on its file box's file.
    void hiddenWaveformStillFindsThePlayersBeats()
    {
        QTemporaryDir dir;
        beats::setCacheFolder(dir.filePath("cache"));
        const QString played = testkit::writeWav(dir.filePath("played.wav"), 1.0);
        for (const bool editor : {false, true}) {
            playback::EngineControl control(new FakeEngine);  // owns it
            waveform::WaveformView view;  // never shown
            playback::WaveformBinding binding(&control, &view);
            QLineEdit file, start, stop;
            if (editor) binding.bindBoxes(&file, &start, &stop);
            control.Open(played);
            binding.refresh();
            QCOMPARE(view.beats()->file(), editor ? QString() : played);
        }
        beats::setCacheFolder({});
    }
};

QTEST_MAIN(FollowTest)
#include "test_follow.moc"
