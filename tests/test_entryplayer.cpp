// Playback rules of one entry, on an engine whose clock the test drives.
#include "playback/entryplayer.h"
#include "playback/mediaplayer.h"
#include "playback/enginecontrol.h"
#include "support/fakeengine.h"
#include "support/sandbox.h"
#include "support/testkit.h"
#include "support/waits.h"

#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

using playback::EntryPlayer;

namespace {

// Runs the clock a millisecond at a time, firing whichever timer is on every 10 ms,
// and counts passes: a pass is a run of rising positions.
struct Rig {
    FakeEngine* engine = new FakeEngine;
    playback::EngineControl media{engine};
    EntryPlayer entry{&media};
    int passes = 0;
    int nextRequests = 0;
    QList<EntryRecord> queue;  // what the list hands out next
    double last = -1;
    bool rising = false;

    Rig()
    {
        testkit::sayRefusals(entry);
        entry.setNextEntrySource([this] {
            ++nextRequests;
            return queue.isEmpty() ? EntryRecord{} : queue.takeFirst();
        });
    }

    void observe()
    {
        const double pos = engine->position();
        const bool playing = engine->state() == engine::PlayState::Playing;
        if (pos < last - 1e-9) rising = false;
        if (playing && pos > last + 1e-9 && !rising) {
            rising = true;
            ++passes;
        }
        last = pos;
    }

    void run(int ms)
    {
        for (int t = 1; t <= ms; ++t) {
            engine->advance(1);
            observe();
            if (t % EntryPlayer::kTickMs == 0) {
                if (entry.inPlay()) entry.tick();
                observe();
            }
        }
    }

    void play(const QString& file, const QString& start, const QString& stop, const QString& rate,
              const QString& loops, bool loop)
    {
        entry.PlayPosition(file, start, stop, rate, loops, loop);
        last = -1;
        rising = false;
        observe();
    }
};

} // namespace

class EntryPlayerTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QString song, other, empty;
    QString path(const QString& name) const { return dir.filePath(name); }

private slots:
    void initTestCase()
    {
        QLocale::setDefault(QLocale::c());
        song = testkit::writeFile(path("song.wav"), 1000);
        other = testkit::writeFile(path("other.wav"), 1000);
        empty = testkit::writeFile(path("empty.wav"), 0);
    }

    void emptyTextsPlayTheWholeFileTwice()
    {
        Rig rig;
        rig.engine->fileDuration = 2.0;
        rig.play(song, "", "", "", "", false);
        QCOMPARE(rig.entry.current().start, 0.0);
        QCOMPARE(rig.entry.current().stop, 2.0);  // the duration, once opened
        QCOMPARE(rig.entry.current().rate, 1.0);
        QVERIFY(rig.entry.counted());
        rig.run(3900);
        QCOMPARE(rig.passes, 2);
        QCOMPARE(rig.nextRequests, 0);
        rig.run(200);
        QCOMPARE(rig.nextRequests, 1);  // then the list goes on (nothing there: idle)
        QVERIFY(!rig.entry.counted() && !rig.entry.endless());
        QCOMPARE(rig.engine->loads, 1);
    }

    void passCounts_data()
    {
        QTest::addColumn<QString>("loops");
        QTest::addColumn<int>("passes");
        QTest::newRow("0 counts as 1") << "0" << 1;
        QTest::newRow("1") << "1" << 1;
        QTest::newRow("3") << "3" << 3;
        QTest::newRow("2.5 rounds up") << "2.5" << 3;
        QTest::newRow("not a number") << "abc" << 1;
    }
    void passCounts()
    {
        QFETCH(QString, loops);
        QFETCH(int, passes);
        Rig rig;
        rig.queue.append({0, other, 0, 0.5, 1, 1});
        rig.play(song, "1", "2", "1", loops, false);
        // Each pass takes a second; the next entry follows the last pass.
        rig.run(passes * 1000 - 50);
        QCOMPARE(rig.passes, passes);
        QCOMPARE(rig.nextRequests, 0);
        rig.run(100);
        QCOMPARE(rig.nextRequests, 1);
        QCOMPARE(rig.engine->path(), other);
        QCOMPARE(rig.entry.current().stop, 0.5);
    }

    // "Repeat once more" during a pass: one pass more before the next entry, whichever pass
    // it was pressed in; the next entry's text shows once it plays.
    void repeatOnceAddsAPass()
    {
        const struct { const char* name; int pressAtMs, presses, passes; } cases[] = {
            {"in the first of two", 500, 1, 3}, {"in the last", 1500, 1, 3}, {"twice", 500, 2, 4}};
        for (const auto& c : cases) {
            Rig rig;
            rig.queue.append({0, other, 0, 0.5, 1, 1, {}, QStringLiteral("Строка 2")});
            rig.entry.PlayPosition(song, "1", "2", "1", "2", false, {}, QStringLiteral("Line 1"));
            rig.observe();
            QCOMPARE(rig.entry.current().text, QStringLiteral("Line 1"));
            rig.run(c.pressAtMs);
            for (int i = 0; i < c.presses; ++i) rig.entry.repeatOnce();
            rig.run(c.passes * 1000 - 50 - c.pressAtMs);
            QVERIFY2(rig.passes == c.passes && rig.nextRequests == 0, c.name);
            rig.run(100);
            QVERIFY2(rig.nextRequests == 1 && rig.entry.current().text == QStringLiteral("Строка 2"), c.name);
        }
    }

    // Handed over ahead, a repeat pressed too late to take the next entry back goes back to
    // the line just left after a moment of the next; the list then goes on to that entry.
    void repeatOnceAfterTheHandOver()
    {
        const struct { int pressAtMs; const char* heard; } cases[] = {{900, "sso"}, {990, "soso"}};  // song, other
        for (const auto& c : cases) {
            Rig rig;
            rig.engine->handsOver = true;
            rig.queue.append({0, other, 0, 0.5, 1, 1, {}, QStringLiteral("Строка 2")});
            rig.entry.setNextEntryPeek([&rig] { return rig.queue.value(0); });
            rig.entry.PlayPosition(song, "1", "2", "1", "1", false, {}, QStringLiteral("Line 1"));
            rig.run(c.pressAtMs);
            rig.entry.repeatOnce();
            rig.run(1950 - c.pressAtMs);
            QVERIFY(rig.nextRequests == 0 && rig.entry.current().text == QStringLiteral("Line 1"));
            rig.run(100);
            QVERIFY(rig.nextRequests == 1 && rig.entry.current().text == QStringLiteral("Строка 2"));
            QString heard;
            for (const QString& p : rig.engine->passStarts) heard += p == song ? 's' : 'o';
            QCOMPARE(heard, QString(c.heard));
        }
    }

    void wholeFilePlaysOneMorePassThanItsCount()
    {
        Rig rig;
        rig.engine->fileDuration = 1.0;
        rig.play(song, "0", "0", "1", "3", false);
        rig.run(3950);
        QCOMPARE(rig.passes, 4);
        QCOMPARE(rig.nextRequests, 0);
        rig.run(100);
        QCOMPARE(rig.nextRequests, 1);
    }

    void countedPassesAreCutByTheEngine()
    {
        Rig rig;
        rig.play(song, "10", "11", "1", "3", false);
        const int seeksAtStart = rig.engine->seeks;
        rig.run(2900);
        QCOMPARE(rig.passes, 3);
        QCOMPARE(rig.engine->seeks, seeksAtStart);  // every wrap came from the engine
        QCOMPARE(rig.engine->loads, 1);
    }

    void changedStretchCountsFromTheNextPassOn()
    {
        Rig rig;
        rig.play(song, "10", "11", "1", "3", false);
        const int seeks = rig.engine->seeks;
        rig.run(300);
        rig.entry.changeStretch(10, 10.5);  // the pass that plays is not started again
        rig.entry.changeRate(2);
        QCOMPARE(rig.engine->seeks, seeks);
        QCOMPARE(rig.engine->loop().stop, 10.5);
        QCOMPARE(rig.engine->rate(), 2.0);
        rig.run(100 + 250 + 250 - 20);  // what is left of this pass at the new rate, then two more
        QCOMPARE(rig.passes, 3);
        QCOMPARE(rig.nextRequests, 0);
        rig.run(40);
        QCOMPARE(rig.nextRequests, 1);
    }

    void aMovedStopOutlivesALengthCountedLater()
    {
        Rig rig;
        rig.engine->fileDuration = 2.0;
        rig.play(song, "0", "0", "1", "1", true);
        rig.entry.changeStretch(0, 1.0);
        rig.engine->countLength(2.5);
        QCOMPARE(QList<double>({rig.entry.current().stop, rig.engine->loop().stop}), QList<double>({1.0, 1.0}));
    }

    void stopMovedBehindWhatIsHeardThenPlayPause()
    {
        Rig rig;
        rig.play(song, "10", "11", "1", "1", true);
        rig.run(300);
        rig.entry.changeStretch(10, 10.2);
        QCOMPARE(rig.engine->position(), 10.0);  // at once, not at the next tick
        rig.entry.togglePause();
        QCOMPARE(rig.engine->state(), engine::PlayState::Paused);
        rig.entry.togglePause();
        QCOMPARE(rig.engine->state(), engine::PlayState::Playing);
        rig.entry.stopPlayback();
        rig.entry.togglePause();  // stopped: the entry plays again, looped as before
        QVERIFY(rig.entry.endless());
        QCOMPARE(rig.engine->position(), 10.0);
    }

    void endlessLoopStaysInsideItsStretch()
    {
        Rig rig;
        rig.play(song, "10", "10.5", "1", "1", true);
        QVERIFY(rig.entry.endless());
        const int seeksAtStart = rig.engine->seeks;
        for (int i = 0; i < 500; ++i) {
            rig.run(10);
            QVERIFY(rig.engine->position() >= 10.0 && rig.engine->position() < 10.5);
        }
        QCOMPARE(rig.passes, 10);
        QCOMPARE(rig.engine->seeks, seeksAtStart);
        QCOMPARE(rig.nextRequests, 0);
    }

    void endlessLoopsToTheFileEnd_data()
    {
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("stop");
        QTest::addColumn<bool>("engineWraps");
        // The end falls between two steps of the clock, as it does between two polls.
        QTest::newRow("stretch to the end") << "1" << "3.0005" << true;
        QTest::newRow("whole file") << "" << "" << true;
        QTest::newRow("stretch to the end, no engine wrap") << "1" << "3.0005" << false;
        QTest::newRow("whole file, no engine wrap") << "0" << "0" << false;
    }
    void endlessLoopsToTheFileEnd()
    {
        QFETCH(QString, start);
        QFETCH(QString, stop);
        QFETCH(bool, engineWraps);
        Rig rig;
        rig.engine->fileDuration = 3.0005;
        rig.engine->wrapsAtEnd = engineWraps;
        rig.play(song, start, stop, "1", "1", true);
        const double from = rig.entry.current().start;
        rig.run(int(3.5 * (3.0 - from) * 1000));
        QCOMPARE(rig.passes, 4);
        QCOMPARE(rig.engine->state(), engine::PlayState::Playing);
        QVERIFY(rig.entry.endless());
        QVERIFY(rig.engine->position() >= from && rig.engine->position() < 3.0005);
    }

    void rateZeroPlaysAtNormalSpeed()
    {
        Rig rig;
        rig.play(song, "1", "2", "0", "1", false);
        QCOMPARE(rig.entry.current().rate, 1.0);
        QCOMPARE(rig.engine->rate(), 1.0);
        rig.play(song, "1", "2", "0.5", "1", false);
        QCOMPARE(rig.engine->rate(), 0.5);
    }

    void stopZeroWithStartEndsAPassEveryTick()
    {
        Rig counted;
        counted.play(song, "5", "0", "1", "2", false);
        counted.run(10);
        QCOMPARE(counted.nextRequests, 0);
        counted.run(10);
        QCOMPARE(counted.nextRequests, 1);

        Rig endless;
        endless.play(song, "5", "0", "1", "1", true);
        const int seeks = endless.engine->seeks;
        endless.run(50);
        QCOMPARE(endless.engine->seeks, seeks + 5);
        QCOMPARE(endless.engine->position(), 5.0);
    }

    void stopBeyondTheEndIsNeverReachedInEndlessMode()
    {
        Rig rig;
        rig.engine->fileDuration = 3.0;
        rig.play(song, "2", "9", "1", "1", true);
        rig.run(2000);
        QCOMPARE(rig.engine->position(), 3.0);
        QCOMPARE(rig.engine->state(), engine::PlayState::Stopped);
        QVERIFY(rig.entry.endless());
    }

    void emptyPathOnlyTakesTheValues()
    {
        testkit::MessageRecorder msgs;
        Rig rig;
        rig.play("", "3", "4", "2", "5", false);
        QVERIFY(msgs.messages.isEmpty());
        QCOMPARE(rig.engine->calls, QStringList());
        QCOMPARE(rig.entry.current().start, 3.0);
        QCOMPARE(rig.entry.current().stop, 4.0);
        QCOMPARE(rig.entry.current().loopsLeft, 5.0);
        QVERIFY(!rig.entry.counted() && !rig.entry.endless());
    }

    void missingOrEmptyFileIsNotFound_data()
    {
        QTest::addColumn<QString>("file");
        QTest::newRow("missing") << path("nowhere.wav");
        QTest::newRow("0 bytes") << empty;
        QTest::newRow("a folder") << dir.path();
    }
    void missingOrEmptyFileIsNotFound()
    {
        QFETCH(QString, file);
        testkit::MessageRecorder msgs;
        Rig rig;
        rig.play(song, "1", "2", "1", "1", true);
        const QStringList before = rig.engine->calls;
        rig.play(file, "7", "8", "1.5", "2", false);
        QCOMPARE(msgs.messages.size(), 1);
        QCOMPARE(msgs.messages[0].text, "Filename:\n'" + file + "'\nNot Found!");
        QCOMPARE(msgs.messages[0].title, QString("Please Fix this Entry!"));
        QCOMPARE(msgs.messages[0].icon, services::MsgIcon::Critical);
        QCOMPARE(msgs.messages[0].buttons, services::MsgButtons::OK);
        QCOMPARE(rig.engine->calls, before);   // the player is not touched
        QVERIFY(rig.entry.endless());          // nor the timers
        QCOMPARE(rig.entry.current().file, file);  // the fields keep the new values
        QCOMPARE(rig.entry.current().start, 7.0);
        QCOMPARE(rig.entry.current().rate, 1.5);
    }

    void textThatDoesNotConvertKeepsTheOldValue()
    {
        Rig rig;
        rig.play(song, "4", "6", "1.5", "1", true);
        rig.play(song, "-5", "abc", "x", "1", true);
        QCOMPARE(rig.entry.current().start, 4.0);
        QCOMPARE(rig.entry.current().stop, 6.0);
        QCOMPARE(rig.entry.current().rate, 1.5);
        QCOMPARE(rig.engine->position(), 4.0);
    }

    void sameFileIsNotReloadedButAnotherCaseIs()
    {
        Rig rig;
        rig.play(song, "1", "2", "1", "1", false);
        rig.play(song, "3", "4", "1", "1", false);
        QCOMPARE(rig.engine->loads, 1);
        QCOMPARE(rig.engine->stops, 1);

        const QString upper = testkit::writeFile(path("SONG.wav"), 10);
        rig.play(upper, "3", "4", "1", "1", false);
        QCOMPARE(rig.engine->loads, 2);
        QCOMPARE(rig.engine->stops, 2);
        QCOMPARE(rig.engine->path(), upper);
    }

    void undecodableFileIsToldOnceAndLeavesPlaybackIdle()
    {
        testkit::MessageRecorder msgs;
        Rig rig;
        const QString bad = testkit::writeFile(path("bad.mp3"), 50);
        rig.engine->undecodable << bad;
        for (const char* stop : {"0", "2"}) {  // whole file and stretch
            rig.play(song, "0", "1", "1", "1", false);
            rig.play(bad, "0", stop, "1", "3", false);
            QVERIFY(!rig.entry.counted() && !rig.entry.endless());
            QTRY_COMPARE(msgs.messages.size(), 1);
            QCOMPARE(msgs.messages[0].title, QString("Cannot Play This File"));
            QVERIFY(msgs.messages[0].text.contains(bad));
            rig.run(100);
            QCOMPARE(rig.nextRequests, 0);
            QCOMPARE(rig.engine->loads, 2);  // no second attempt behind the user's back
            QVERIFY(testkit::runQueued());
            QCOMPARE(msgs.messages.size(), 1);

            rig.play(bad, "0", stop, "1", "3", true);  // asked again: told again, still idle
            QCOMPARE(msgs.messages.size(), 2);
            QVERIFY(!rig.entry.endless());
            msgs.messages.clear();
            rig.engine->loads = 0;
        }
    }

    void listAdvanceToTheSameFileDoesNotReload()
    {
        Rig rig;
        rig.queue.append({2, song, 5, 5.5, 1, 1});
        rig.play(song, "1", "1.5", "1", "1", false);
        rig.run(600);
        QCOMPARE(rig.nextRequests, 1);
        QCOMPARE(rig.engine->loads, 1);
        QVERIFY(rig.engine->position() >= 5.0 && rig.engine->position() < 5.5);
    }

    void nextEntryStartsWhenTheHoldIsHeardNotAtTheNextTick()
    {
        Rig rig;
        rig.queue.append({2, other, 5, 5.5, 1, 1});
        rig.play(song, "1", "1.5", "1", "1", false);
        // The engine alone, no tick: it plays to the stop and holds there.
        rig.engine->advance(600);
        QCOMPARE(rig.engine->state(), engine::PlayState::Stopped);
        QCOMPARE(rig.nextRequests, 0);
        QCoreApplication::processEvents();
        QCOMPARE(rig.nextRequests, 1);
        QCOMPARE(rig.engine->path(), other);
        QCOMPARE(rig.engine->position(), 5.0);
        QCOMPARE(rig.engine->state(), engine::PlayState::Playing);
        QVERIFY(rig.entry.counted());
        // The tick that follows finds nothing more to do.
        rig.run(10);
        QCOMPARE(rig.nextRequests, 1);
    }

    void wholeFileEndStartsTheNextEntryAtOnce()
    {
        Rig rig;
        rig.engine->fileDuration = 0.5;
        rig.queue.append({2, other, 0.1, 0.3, 1, 1});
        rig.play(song, "0", "0", "1", "1", false);
        rig.run(600);
        QCOMPARE(rig.nextRequests, 0);  // the whole file plays twice before the list goes on
        QCOMPARE(rig.engine->position(), 0.1);  // wrapped at its end by the engine, no restart
        QCOMPARE(rig.engine->state(), engine::PlayState::Playing);
        rig.engine->advance(600);
        QCoreApplication::processEvents();
        QCOMPARE(rig.nextRequests, 1);
        QCOMPARE(rig.engine->path(), other);
    }

    void stopsThatAreNoEndDoNotAdvance()
    {
        Rig rig;
        rig.queue.append({2, other, 5, 5.5, 1, 1});
        rig.play(song, "1", "2", "1", "1", false);
        rig.run(300);
        // The tray's Stop acts on the media player only: the mode stays, nothing moves on.
        rig.media.Stop();
        QCoreApplication::processEvents();
        QCOMPARE(rig.nextRequests, 0);
        QVERIFY(rig.entry.counted());
        QCOMPARE(rig.engine->path(), song);

        rig.play(song, "1", "1.2", "1", "1", false);
        rig.entry.stopPlayback();
        rig.engine->play();
        rig.engine->advance(400);  // the hold comes after the panel's Stop
        QCoreApplication::processEvents();
        QCOMPARE(rig.nextRequests, 0);
    }

    void stopPlaybackEndsEitherMode()
    {
        Rig rig;
        rig.play(song, "1", "2", "1", "3", false);
        rig.entry.stopPlayback();
        QVERIFY(!rig.entry.counted() && !rig.entry.endless());
        QCOMPARE(rig.engine->state(), engine::PlayState::Stopped);
        // Stopped at the entry's start, so playing it again needs no seek.
        QCOMPARE(rig.engine->position(), 1.0);
        QVERIFY(!rig.engine->loop().stop);
        rig.run(3000);
        QCOMPARE(rig.nextRequests, 0);
        QCOMPARE(rig.engine->position(), 1.0);

        // A whole file stops at its beginning. An entry whose file was not opened (it is
        // missing) leaves the file that is open alone.
        rig.play(song, "", "", "", "", true);
        rig.run(500);
        rig.entry.stopPlayback();
        QCOMPARE(rig.engine->position(), 0.0);
        const int seeks = rig.engine->seeks;
        rig.play(QString(), "2", "3", "1", "1", true);
        rig.entry.stopPlayback();
        testkit::MessageRecorder msgs;  // "Not Found!"
        rig.play(path("missing.wav"), "2", "3", "1", "1", true);
        rig.entry.stopPlayback();
        QCOMPARE(rig.engine->seeks, seeks);
        QCOMPARE(rig.engine->position(), 0.0);
    }
};

QTEST_MAIN(EntryPlayerTest)
#include "test_entryplayer.moc"
