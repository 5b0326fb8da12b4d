// The sample engine on an output pulled by hand: the wraps it tells, where it holds, the
// next entry it is handed, list play through it, and files it cannot play.
#include "app/numbertext.h"
#include "audio/audiooutput.h"
#include "playback/entryplayer.h"
#include "playback/listplay.h"
#include "playback/mediaplayer.h"
#include "engine/sample/sampleengine.h"
#include "playback/enginecontrol.h"
#include "audio/manualoutput.h"
#include "beats/beatgrid.h"
#include "offline/offlinestack.h"
#include "support/fakeengine.h"
#include "support/testkit.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

using namespace engine;
using namespace playback;

namespace {

struct Rows : EntryList {
    QList<QStringList> rows;
    int rowCount() const override { return int(rows.size()); }
    QStringList rowTexts(int row) const override { return rows.value(row - 1); }
    void selectRow(int) override {}
    void setRow(int row, const QStringList& texts, const PracticeSettings&) override { rows[row - 1] = texts; }
};

// Time passes only as a step pulls a block of sound, so each check waits on the state it
// checks, however slow or loaded the machine: the worker renders all it may, a block is
// pulled, and the UI side handles what was heard, entry playback's tick included.
struct Pulled {
    audio::ManualOutput* out = nullptr;  // owned by the engine
    std::unique_ptr<SampleEngine> owned;
    SampleEngine* engine;
    EntryPlayer* entry = nullptr;
    std::vector<float> block;

    // `queueMs`: what the output holds ahead of what is heard, as a sound server does.
    explicit Pulled(int queueMs = 0)
    {
        SampleEngine::Options o;
        o.output = [this, queueMs] {
            auto made = std::make_unique<audio::ManualOutput>(qint64(queueMs) * 441 / 10);
            out = made.get();
            return made;
        };
        owned = std::make_unique<SampleEngine>(o);
        engine = owned.get();
    }
    SampleEngine* release() { return owned.release(); }

    bool step()
    {
        for (int i = 0; i < 3; ++i) {
            QCoreApplication::sendPostedEvents();
            if (!engine->renderAhead()) return false;
        }
        const qint64 n = out->sampleRate() / 100;
        block.resize(std::size_t(n) * 2);
        out->pull(block.data(), n);
        engine->pollHeard();
        QCoreApplication::sendPostedEvents();
        if (entry && entry->inPlay()) entry->tick();
        return true;
    }
    bool loud() const { return std::any_of(block.begin(), block.end(), [](float v) { return std::abs(v) > 0.01f; }); }
    // `path` played over `range` from its start, paused `at` seconds on, then 0.5 s silent.
    bool paused(const QString& path, const LoopRange& range, double at, std::optional<NextEntry> next = {})
    {
        engine->load(path);
        bool ok = engine->waitForLoad(5000);
        engine->setLoop(range);
        engine->seek(range.start);
        engine->play();
        for (int i = 0; ok && i < std::lround(at * 100); ++i) ok = (!next || engine->queueNext(*next)) && step();
        engine->pause();
        for (int i = 0; ok && i < 50; ++i) ok = step() && !loud();
        return ok;
    }
    // Steps until `done`, for at most `seconds` of the output's time.
    bool until(const std::function<bool()>& done, double seconds = 10)
    {
        for (int i = 0; i < seconds * 100; ++i) {
            if (done()) return true;
            if (!step()) return false;
        }
        return done();
    }
};

} // namespace

class SampleEngineTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_a, m_b, m_c, m_d, m_e;

private slots:
    void initTestCase()
    {
        m_a = testkit::writeWav(m_dir.filePath("a.wav"), 2.0);
        m_b = testkit::writeWav(m_dir.filePath("b.wav"), 1.5, 44100, 660.0, "Second");
        m_c = testkit::writeWav(m_dir.filePath("c.wav"), 3.0, 44100, 550.0);
        m_d = testkit::writeWav(m_dir.filePath("d.wav"), 3.0, 48000, 330.0);
        m_e = testkit::writeWav(m_dir.filePath("e.wav"), 0.4, 48000, 770.0);
    }

    void countedStretchWrapsThenHoldsAtItsStop()
    {
        Pulled rig;
        SampleEngine& e = *rig.engine;
        QSignalSpy wraps(&e, &MediaEngine::loopWrapped);
        e.load(m_a);
        QVERIFY(e.waitForLoad(5000));
        QCOMPARE(e.duration(), 2.0);
        e.setLoop(LoopRange{0.5, 0.7, 2, true});
        e.seek(0.5);
        QCOMPARE(e.position(), 0.5);  // the target, until it is heard
        e.play();
        QVERIFY(rig.until([&] { return e.state() == PlayState::Stopped; }));
        QCOMPARE(wraps.count(), 2);
        QCOMPARE(e.loop().wraps, 0);
        QCOMPARE(e.position(), 0.7);
    }

    // The metronome is switched where the output pulls: the very next block has its clicks,
    // or none. (A silent file, beats closer than a click lasts: every block of it clicks.)
    void metronomeSwitchesAtTheNextBlock()
    {
        const QString silent = testkit::writeWav(m_dir.filePath("silent.wav"), 2.0, 44100, 0.0);
        auto grid = std::make_shared<beats::BeatGrid>();
        for (int i = 0; i < 100; ++i) grid->beats.push_back(0.02 * i);
        Pulled rig;
        SampleEngine& e = *rig.engine;
        e.setBeats(silent, grid);
        e.load(silent);
        QVERIFY(e.waitForLoad(5000));
        e.setLoop(LoopRange{0, 2, -1});
        e.play();
        QVERIFY(rig.until([&] { return e.position() > 0.1; }));
        const auto clicks = [&] { return std::any_of(rig.block.begin(), rig.block.end(), [](float v) { return std::abs(v) > 0.01f; }); };
        for (const bool on : {false, true, false, true}) {
            e.setMetronome(on);
            QVERIFY(rig.step());
            QCOMPARE(clicks(), on);
        }
    }

    // The next entry's file has its own beats, given while the current file plays (in
    // either order): the metronome clicks in both, before and after the hand-over; an
    // entry without it followed by one with it clicks in the second alone.
    void metronomeGoesOnInTheNextFile_data()
    {
        QTest::addColumn<bool>("nextFirst");
        QTest::addColumn<bool>("currentClicks");
        QTest::newRow("current's beats given first") << false << true;
        QTest::newRow("next's beats given first") << true << true;
        QTest::newRow("the next entry alone clicks") << false << false;
    }
    void metronomeGoesOnInTheNextFile()
    {
        QFETCH(bool, nextFirst);
        QFETCH(bool, currentClicks);
        const QString one = testkit::writeWav(m_dir.filePath("quiet1.wav"), 2.0, 44100, 0.0);
        const QString two = testkit::writeWav(m_dir.filePath("quiet2.wav"), 2.0, 48000, 0.0);
        auto grid = std::make_shared<beats::BeatGrid>();
        for (int i = 0; i < 100; ++i) grid->beats.push_back(0.02 * i);
        Pulled rig;
        SampleEngine& e = *rig.engine;
        QSignalSpy next(&e, &MediaEngine::nextStarted);
        const PracticeSettings clicking{.metronome = true};
        e.setPractice(currentClicks ? clicking : PracticeSettings{}, 0);
        e.load(one);
        QVERIFY(e.waitForLoad(5000));
        e.setBeats(nextFirst ? two : one, grid);
        e.setBeats(nextFirst ? one : two, grid);
        e.setLoop(LoopRange{0.2, 0.6, 0, true});
        e.seek(0.2);
        e.play();
        QVERIFY(e.queueNext(NextEntry{two, 1.0, LoopRange{1.0, 1.4, 0, true}, true, false, 1, clicking}));
        const auto clicks = [&] { return std::any_of(rig.block.begin(), rig.block.end(), [](float v) { return std::abs(v) > 0.01f; }); };
        QVERIFY(rig.until([&] { return e.position() > 0.3; }));
        QVERIFY2(clicks() == currentClicks, "the current file");
        QVERIFY(rig.until([&] { return next.count() == 1 && e.position() > 1.1; }));
        QVERIFY(rig.step());
        QVERIFY2(clicks(), "the next file");
    }

    // Two stems that cancel each other: silence while they play in step, through the loop's
    // seams and the stretcher; a stem muted or soloed, live or with the entry's settings, is
    // heard within a few pulled blocks although the output holds 200 ms, and stays heard.
    void stemsPlayInStepAndRemixAtOnce_data()
    {
        QTest::addColumn<double>("rate");
        QTest::addColumn<bool>("withSettings");
        QTest::newRow("as recorded") << 1.0 << false;
        QTest::newRow("stretched") << 0.75 << false;
        QTest::newRow("stretched, with the settings") << 0.75 << true;
    }
    void stemsPlayInStepAndRemixAtOnce()
    {
        QFETCH(double, rate);
        QFETCH(bool, withSettings);
        testkit::writeWav(m_dir.filePath("song.other.wav"), 2.0, 44100, -440.0);
        Pulled rig(200);
        SampleEngine& e = *rig.engine;
        StemSet set{{{"a.wav"}, {"song.other.wav"}}};
        e.setPractice(PracticeSettings{.stems = set}, 0);
        e.load(m_a);
        QVERIFY(e.waitForLoad(5000));
        e.setRate(rate);
        e.setLoop(LoopRange{0.3, 0.8, -1});
        e.play();
        const auto loud = [&] { return std::any_of(rig.block.begin(), rig.block.end(), [](float v) { return std::abs(v) > 0.01f; }); };
        int wraps = 0;
        bool outOfStep = false;
        connect(&e, &MediaEngine::loopWrapped, [&] { ++wraps; });
        QVERIFY(rig.until([&] { outOfStep = outOfStep || loud(); return wraps >= 3; }));
        QVERIFY(!outOfStep);
        const struct { bool mute, solo, heard; } mixes[] = {{true, false, true}, {false, false, false}, {false, true, true}};
        for (const auto& m : mixes) {
            set.stems[1].mute = m.mute;
            set.stems[0].solo = m.solo;
            if (withSettings) e.setPractice(PracticeSettings{.stems = set}, SampleEngine::kGoOn);
            else e.setStemMix(set);
            // Stretched, the stretcher's window still holds the old mix for a while.
            int blocks = 0;
            for (; loud() != m.heard && blocks < 50; ++blocks) QVERIFY(rig.step());
            QVERIFY2(blocks <= 4, qPrintable(QString::number(blocks) + (m.mute ? " mute" : m.solo ? " solo" : " all")));
            for (int i = 0; i < 100; ++i) {
                QVERIFY(rig.step());
                QCOMPARE(loud(), m.heard);
            }
        }
    }

    // A live mix belongs to the entry heard: changed after the next entry was handed over,
    // it is heard at once on this one, and the next plays with the mix it was handed with.
    void liveMixStaysWithTheEntryHeard_data()
    {
        QTest::addColumn<double>("rate");
        QTest::newRow("as recorded") << 1.0;
        QTest::newRow("stretched") << 0.75;
    }
    void liveMixStaysWithTheEntryHeard()
    {
        QFETCH(double, rate);
        testkit::writeWav(m_dir.filePath("song.other.wav"), 2.0, 44100, -440.0);
        Pulled rig(200);
        SampleEngine& e = *rig.engine;
        const StemSet own{{{"a.wav"}, {"song.other.wav"}}};
        e.setPractice(PracticeSettings{.stems = own}, 0);
        e.load(m_a);
        QVERIFY(e.waitForLoad(5000));
        e.setRate(rate);
        const LoopRange once{0.3, 0.8, 0, true};
        e.setLoop(once);
        e.seek(0.3);
        e.play();
        QVERIFY(e.queueNext(NextEntry{m_a, 0.3, once, true, false, rate, PracticeSettings{.stems = own}}) && rig.step());
        QSignalSpy next(&e, &MediaEngine::nextStarted);
        StemSet muted = own;
        muted.stems[1].mute = true;
        e.setStemMix(muted);
        QVERIFY(rig.until([&] { return rig.loud() || !next.isEmpty(); }));
        QVERIFY2(next.isEmpty(), "the change is heard before the next entry");
        QVERIFY(rig.until([&] { return !next.isEmpty(); }));
        QCOMPARE(e.practice().stems, own);
        int loudBlocks = 0;  // the stretcher's window and the seam's blend carry the mix a little way
        for (int i = 0; i < 30 && rig.step(); ++i) loudBlocks += rig.loud() ? 1 : 0;
        QVERIFY2(loudBlocks <= 5, qPrintable(QString::number(loudBlocks)));
    }

    void nextEntryTakesOverWhereTheStretchHolds()
    {
        Pulled rig;
        SampleEngine& e = *rig.engine;
        QSignalSpy next(&e, &MediaEngine::nextStarted);
        QSignalSpy states(&e, &MediaEngine::stateChanged);
        e.load(m_a);
        QVERIFY(e.waitForLoad(5000));
        e.setLoop(LoopRange{0.2, 0.4, 0, true});
        e.seek(0.2);
        e.play();
        NextEntry n;
        n.path = m_b;
        n.start = 1.0;
        n.loop = LoopRange{1.0, 1.2, 0, true};
        n.hasLoop = true;
        QVERIFY(e.queueNext(n));
        QVERIFY(rig.until([&] { return next.count() == 1; }));
        QCOMPARE(e.path(), m_b);
        QCOMPARE(e.duration(), 1.5);
        QCOMPARE(e.metadata().value("title"), QString("Second"));
        QVERIFY(e.position() >= 1.0 && e.position() <= 1.2);
        // No stop between the two: the change is not an end.
        for (const QList<QVariant>& s : states) QVERIFY(s.at(1).value<PlayState>() != PlayState::Stopped);
        QVERIFY(rig.until([&] { return e.state() == PlayState::Stopped; }));
        QCOMPARE(e.position(), 1.2);
    }

    // A list of two short entries at any rates goes on and on, each change handed over
    // inside the engine: it never stops between them.
    void listGoesOnWithoutStopping_data()
    {
        // Each entry: file, start, stop, rate, loops (start and stop 0: the whole file, which
        // plays once whole and then its loops).
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("second");
        QTest::addColumn<int>("wraps");  // the second entry's passes after its first
        QTest::newRow("other file, slower") << "a 0.5 1 1 1" << "c 2 2.4 0.7 1" << 0;
        QTest::newRow("same file, slower") << "c 0.5 1 1 1" << "c 2 2.4 0.6 1" << 0;
        QTest::newRow("three passes at half") << "a 0.5 1 1 1" << "c 2 2.4 0.5 3" << 2;
        QTest::newRow("both at half") << "c 0.5 1 0.5 1" << "c 2 2.4 0.5 1" << 0;
        QTest::newRow("both at one") << "a 0.5 1 1 1" << "c 2 2.4 1 1" << 0;
        QTest::newRow("faster") << "a 0.5 1 1.5 1" << "c 2 2.4 0.8 1" << 0;
        QTest::newRow("other sample rate") << "a 0.5 1 1 1" << "d 2 2.4 0.7 1" << 0;
        QTest::newRow("whole file, other rate") << "a 0.5 1 1 1" << "e 0 0 0.7 1" << 1;
        QTest::newRow("shorter than the end's lead, stretched") << "a 0.5 0.53 0.8 1" << "c 2 2.02 1 1" << 0;
    }
    void listGoesOnWithoutStopping()
    {
        QFETCH(QString, first);
        QFETCH(QString, second);
        QFETCH(int, wraps);
        Pulled rig;
        SampleEngine* e = rig.engine;
        EngineControl media(rig.release());
        EntryPlayer entry(&media);
        rig.entry = &entry;
        Rows list;
        const QHash<QString, QString> files{{"a", m_a}, {"c", m_c}, {"d", m_d}, {"e", m_e}};
        for (const QString& row : {first, second}) {
            list.rows << row.split(' ');
            list.rows.back()[0] = files[list.rows.back()[0]];
        }
        qint32 current = 1;
        int started = 1;
        QSignalSpy wrapped(e, &MediaEngine::loopWrapped);
        qsizetype wrapsBeforeFifth = -1;
        entry.setNextEntrySource([&] {
            if (++started == 5) wrapsBeforeFifth = wrapped.count();
            return GetNextEntry(list, current);
        });
        entry.setNextEntryPeek([&] { return PeekNextEntry(list, current); });
        const QStringList& r = list.rows[0];
        entry.PlayPosition(r[0], r[1], r[2], r[3], r[4], false);
        QVERIFY(e->waitForLoad(5000));
        QSignalSpy states(e, &MediaEngine::stateChanged);
        QVERIFY(rig.until([&] { return started >= 5; }, 15));
        QCOMPARE(wrapsBeforeFifth, 2 * wraps);
        for (const QList<QVariant>& s : states) QVERIFY(s.at(1).value<PlayState>() != PlayState::Stopped);
    }

    // A pause before each pass and a trainer: the passes are counted as without them, each
    // at its own rate, and the stretch still ends at its stop.
    void practicePassesCountAndStep()
    {
        Pulled rig;
        SampleEngine& e = *rig.engine;
        QSignalSpy wraps(&e, &MediaEngine::loopWrapped);
        QSignalSpy rates(&e, &MediaEngine::passRateChanged);
        e.load(m_a);
        QVERIFY(e.waitForLoad(5000));
        PracticeSettings p;
        p.pause = 0.1;
        p.trainerStartRate = 0.5;
        p.trainerStep = 0.25;
        e.setPractice(p, 0);
        e.setLoop(LoopRange{0.5, 0.7, 2, true});
        e.seek(0.5);
        e.play();
        QVERIFY(rig.until([&] { return e.state() == PlayState::Stopped; }));
        QCOMPARE(wraps.count(), 2);
        QCOMPARE(e.position(), 0.7);
        QList<double> told;
        for (const QList<QVariant>& r : rates) told << r.at(0).toDouble();
        QCOMPARE(told, (QList<double>{0.5, 0.75, 1.0}));
    }

    // A stop moved while it plays takes effect in the pass playing, even one moved behind
    // the place heard (the pass ends there instead of running on to the file's end).
    // The stop moved {back} from 1.9 s with {ahead} s of the pass still to be heard, behind
    // {queue} ms of a sound server's queue (the worker rendered past the old stop and wrapped
    // already): the pass is cut at the new stop, or at once where that is behind what is heard.
    void stopMovedWhilePlaying()
    {
        const struct { double back, ahead; int queueMs; } cases[] = {{1.35, -0.05, 0}, {0.1, 0.04, 200}, {0.1, 0.15, 200}, {0.1, 0.15, 0}};
        for (const auto& c : cases) {
            Pulled rig(c.queueMs);
            SampleEngine& e = *rig.engine;
            QSignalSpy wraps(&e, &MediaEngine::loopWrapped);
            e.load(m_a);
            QVERIFY(e.waitForLoad(5000));
            e.setLoop(LoopRange{0.1, 1.9, LoopRange::kEndless, false});
            e.seek(0.1);
            e.play();
            LoopRange moved = e.loop();
            moved.stop -= c.back;
            QVERIFY(rig.until([&] { return e.position() >= moved.stop - c.ahead; }));
            e.setLoop(moved);
            double peak = 0;
            QVERIFY(rig.until([&] { return (peak = std::max(peak, e.position()), wraps.count() >= 1); }));
            QVERIFY2(c.ahead < 0 || peak <= moved.stop + 0.001, qPrintable(QString("%1 ahead: heard up to %2").arg(c.ahead).arg(peak)));
            QVERIFY(rig.until([&] { return e.position() > 0.2; }));
            QVERIFY(e.position() < moved.stop);
            QCOMPARE(e.state(), PlayState::Playing);
        }
    }

    // Entries shorter than a chunk the engine renders (ms, rate, 1 or 3 passes, alone or
    // between two others) in a list that wraps: it goes round and round, never silent for
    // longer than the rest of a block the output takes (what follows an entry shorter than it).
    void shortEntriesGoRound()
    {
        for (const char* ms : {"001", "005", "008", "012"})
            for (const char* rate : {"1", "0.75"})
                for (int k = 0; k < 4; ++k) {
                    offline::OfflineStack stack(new FakeEngine);
                    if (k > 1) stack.list.rows.push_back({{m_c, "0.5", "0.7", "1", "1"}, {}});
                    stack.list.rows.push_back({{m_c, "1", QString("1.") + ms, rate, k % 2 ? "3" : "1"}, {}});
                    if (k > 1) stack.list.rows.push_back({{m_c, "2", "2.15", "0.75", "2"}, {}});
                    const int rounds = 3 * int(stack.list.rows.size());
                    stack.playList();
                    for (int i = 0; i < 500 && stack.list.selections <= rounds; ++i) QVERIFY(stack.step());
                    qint64 run = 0, longest = 0;
                    for (std::size_t f = 0; f < stack.recording.size(); f += 2)
                        longest = std::max(longest, run = stack.recording[f] == 0 && stack.recording[f + 1] == 0 ? run + 1 : 0);
                    QVERIFY2(stack.list.selections > rounds && longest < 441, qPrintable(QString("%1 ms at %2, case %3: %4 rows, %5 frames silent")
                                 .arg(ms, rate).arg(k).arg(stack.list.selections).arg(longest)));
                }
    }

    // Paused in a pause (0.3 s) or count-in (2 clicks 0.5 s apart) behind 200 ms of queue,
    // silent at once, played again: {pause at s from play (pass 1's preroll from 1.5), the
    // first click and the pass after the play (the rest of the pause, the whole count-in), wraps}
    void pauseInAHoldStopsAndComesBackThere()
    {
        const QString silent = testkit::writeWav(m_dir.filePath("still.wav"), 2.0, 44100, 0.0);
        const struct { double at, click, pass; int wraps; } cases[] = {{0.5, 0, 1, 0}, {1.65, 0.15, 1.15, 1}, {2.1, 0, 1, 1}, {2.75, 0, 1, 1}};
        for (const auto& c : cases) {
            Pulled rig(200);
            QSignalSpy wraps(rig.engine, &MediaEngine::loopWrapped);
            rig.engine->setPractice({.pause = 0.3, .countInClicks = 2, .countInWhen = PracticeSettings::CountInWhen::EveryPass}, 0);
            QVERIFY(rig.paused(silent, LoopRange{0.5, 0.7, -1}, c.at));
            wraps.clear();
            rig.engine->play();
            std::vector<double> clicks(1, -1);
            double moved = -1;
            for (int i = 0; i < 150 && moved < 0 && rig.step(); ++i) {
                if (rig.loud() && i * 0.01 - clicks.back() > 0.1) clicks.push_back(i * 0.01);
                if (rig.engine->position() > 0.505) moved = i * 0.01;
            }
            QVERIFY2(clicks.size() == 3 && std::abs(clicks[1] - c.click) < 0.02 && std::abs(moved - c.pass) < 0.03, qPrintable(QString::number(c.at)));
            QCOMPARE(wraps.count(), c.wraps);
        }
        // Paused just before the entry handed over ahead is heard: it ends, the next follows.
        Pulled rig(200);
        QSignalSpy next(rig.engine, &MediaEngine::nextStarted);
        QVERIFY(rig.paused(m_a, LoopRange{0.2, 0.6, 0, true}, 0.35, NextEntry{m_b, 1.0, LoopRange{1.0, 1.4, 0, true}, true}));
        rig.engine->play();
        QVERIFY(rig.until([&] { return rig.engine->state() == PlayState::Stopped; }));
        QVERIFY(next.count() == 1 && rig.engine->position() == 1.4);
    }

    // Keeping the centre delays the sound: the position waits for it, starting where the
    // sound is first heard, as it does without the delay.
    void positionWaitsForTheCentresDelay()
    {
        for (const auto centre : {HearSettings::Centre::Normal, HearSettings::Centre::Keep}) {
            Pulled rig;
            SampleEngine& e = *rig.engine;
            e.setHear({.centre = centre});
            e.load(m_a);
            QVERIFY(e.waitForLoad(5000));
            QVERIFY(rig.step());  // the settings taken, before any sound
            e.setLoop(LoopRange{0.5, 1.5, LoopRange::kEndless, false});
            e.seek(0.5);
            e.play();
            rig.block.clear();
            const auto loud = [&] {
                return std::any_of(rig.block.begin(), rig.block.end(), [](float v) { return std::abs(v) > 0.01f; });
            };
            QVERIFY(rig.until(loud, 1));
            QVERIFY2(e.position() < 0.5 + 0.015, qPrintable(QString::number(e.position())));
        }
    }

    // Sound after queued silence goes over the silence not yet read, and a frame heard
    // maps back past every stretch of silence left out before it, the oldest forgotten.
    void rewrittenSilence()
    {
        using audio::Rewrites;
        // {silentFrom, reading, ran short, at} before a queue end of 1000, lead 50: sound that
        // ran short goes on with no gap unless the server is past it; a fresh start waits.
        const QList<std::tuple<qint64, qint64, bool, qint64>> places{{-1, 0, false, 1000}, {600, 200, false, 600},
            {600, 560, false, 610}, {600, 560, true, 600}, {600, 600, true, 600}, {600, 601, true, 651},
            {600, 800, false, 850}, {600, 1200, true, 1000}};
        for (const auto& [silentFrom, reading, goesOn, at] : places)
            QCOMPARE(Rewrites::soundAt(1000, silentFrom, reading, 50, goesOn), at);
        // {readIndex, ahead, mostAhead, age, reading}: a report caught early in a block counts
        // from the frame heard plus the largest block seen.
        const QList<std::array<qint64, 5>> reads{{1000, 400, 400, 30, 1030}, {1000, 10, 400, 30, 1420}, {1000, 0, 0, 0, 1000}};
        for (const auto& [readIndex, ahead, mostAhead, age, reading] : reads)
            QCOMPARE(Rewrites::readingAt(readIndex, ahead, mostAhead, age), reading);
        Rewrites r;
        const QList<std::pair<qint64, qint64>> added{{500, 300}, {2000, 450}, {2600, 500}, {4000, 900}, {5000, 1000}};
        for (const auto& [at, leftOut] : added) r.add(at, leftOut);
        const QList<std::pair<double, qint64>> heard{{0, 300}, {1999.5, 300}, {2000, 450}, {3999, 500}, {4500, 900}, {1e12, 1000}};
        for (const auto& [frame, leftOut] : heard) QCOMPARE(r.leftOutAt(frame), leftOut);
        // A frame pulled goes back to the server frame it went to, past the same gaps (the
        // oldest kept, with 300 before it, is 2000 + 450).
        const QList<std::pair<qint64, qint64>> pulled{{2449, 2149}, {2450, 2000}, {3099, 2649}, {3100, 2600}, {9000, 8000}};
        for (const auto& [frame, server] : pulled) QCOMPARE(r.serverFrameOf(frame), server);
        r.clear();
        QCOMPARE(r.leftOutAt(1e12), 0);
    }

    void filesThatDoNotPlayAreTold_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("missing") << "none.wav" << QByteArray();
        QTest::newRow("not media") << "words.mp3" << QByteArray("no sound in here at all\n");
    }
    void filesThatDoNotPlayAreTold()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        const QString path = m_dir.filePath(name);
        if (!bytes.isEmpty()) testkit::writeBytes(path, bytes);
        Pulled rig;
        SampleEngine& e = *rig.engine;
        QSignalSpy failed(&e, &MediaEngine::loadFailed);
        e.load(path);
        QVERIFY(!e.waitForLoad(5000));
        QCOMPARE(failed.count(), 1);
        QVERIFY(!failed.at(0).at(0).toString().isEmpty());
        QCOMPARE(e.state(), PlayState::Stopped);
        QCOMPARE(e.duration(), 0.0);
    }
};

QTEST_MAIN(SampleEngineTest)
#include "test_sampleengine.moc"
