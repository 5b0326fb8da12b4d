// The promises every engine keeps (see mediaengine.h), checked on each: the hand-clocked
// fake in both its modes, the sample engine on the null output, mpv without sound or
// screen, and the program's own stack of them.
#include "engine/midi/midiengine.h"
#include "engine/mpv/mpvengine.h"
#include "engine/routingengine.h"
#include "engine/sample/sampleengine.h"
#include "support/fakeengine.h"
#include "support/testkit.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <clocale>
#include <memory>

using namespace engine;

namespace {

constexpr double kFileSeconds = 1.0;

struct Rig {
    Rig(MediaEngine* engine, FakeEngine* f) : e(engine), fake(f) {}
    std::unique_ptr<MediaEngine> e;
    FakeEngine* fake = nullptr;
    QSignalSpy loaded{e.get(), &MediaEngine::loaded}, failed{e.get(), &MediaEngine::loadFailed},
        states{e.get(), &MediaEngine::stateChanged}, jumps{e.get(), &MediaEngine::positionJumped},
        lengths{e.get(), &MediaEngine::durationChanged}, wraps{e.get(), &MediaEngine::loopWrapped};

    // Until `done`, or false after 5 s of the engine's clock: the fake's runs by hand.
    template <class Done> bool until(Done done)
    {
        if (!fake) return QTest::qWaitFor(done, 5000);
        for (int t = 0; t < 5000 && !done(); t += 5) {
            QCoreApplication::processEvents();
            fake->advance(5);
        }
        return done();
    }
    double told() const { return lengths.isEmpty() ? 0.0 : lengths.last().at(0).toDouble(); }
};

} // namespace

class EngineContractTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_wav, m_bad;

    std::unique_ptr<Rig> rig()
    {
        QFETCH(QString, kind);
        MediaEngine* e = nullptr;
        FakeEngine* fake = nullptr;
        const auto sample = [] { return new SampleEngine(SampleEngine::Options{false, 5}); };
        const auto mpv = [] { return new MpvEngine(MpvEngine::Options{false, false}); };
        if (kind.startsWith("fake")) {
            e = fake = new FakeEngine;
            fake->async = kind == "fake async";
            fake->fileDuration = kFileSeconds;
            fake->undecodable << m_bad;
        } else {
            e = kind == "sample" ? static_cast<MediaEngine*>(sample())
                : kind == "mpv"  ? static_cast<MediaEngine*>(mpv())
                                 : new MidiEngine(new RoutingEngine(sample(), mpv()));
        }
        return std::make_unique<Rig>(e, fake);
    }
    static void engines()
    {
        QTest::addColumn<QString>("kind");
        for (const char* k : {"fake", "fake async", "sample", "mpv", "program"}) QTest::newRow(k) << QString(k);
    }

private slots:
    void initTestCase()
    {
        std::setlocale(LC_NUMERIC, "C");
        m_wav = testkit::writeWav(m_dir.filePath("tone.wav"), kFileSeconds);
        m_bad = testkit::writeBytes(m_dir.filePath("bad.wav"), QByteArray(5000, 'x'));
    }

    void eachLoadEndsInOneReport_data() { engines(); }
    void eachLoadEndsInOneReport()
    {
        // The last load reports once, and its length; the loads it superseded never do.
        const QList<QStringList> sequences = {{m_wav}, {m_bad}, {m_bad, m_wav}, {m_wav, m_bad}, {m_wav, m_wav}};
        for (const QStringList& paths : sequences) {
            auto r = rig();
            // A load that ends inside its call (the plain fake's) is over before the next.
            for (const QString& p : paths.first(paths.size() - 1)) r->e->load(p);
            const qsizetype loadedBefore = r->loaded.count(), before = loadedBefore + r->failed.count();
            const bool good = paths.last() == m_wav;
            r->e->load(paths.last());
            QVERIFY(r->until([&] { return r->loaded.count() + r->failed.count() > before; }));
            // Played on a while, in case a late report of a superseded load comes.
            if (good) QVERIFY(r->until([&] { return r->e->position() > 0.2; }));
            QCOMPARE(r->loaded.count() + r->failed.count(), before + 1);
            QCOMPARE(r->loaded.count() - loadedBefore, good ? 1 : 0);
            QCOMPARE(r->e->path(), paths.last());
            QCOMPARE(r->e->state(), good ? PlayState::Playing : PlayState::Stopped);
            QVERIFY(qAbs(r->e->duration() - (good ? kFileSeconds : 0.0)) < 0.001);
            QCOMPARE(r->told(), r->e->duration());
            r->e->load(QString());
            QCOMPARE(r->e->state(), PlayState::Stopped);
            QCOMPARE(r->told(), 0.0);
        }
    }

    void whatIsAskedDuringALoadApplies_data() { engines(); }
    void whatIsAskedDuringALoadApplies()
    {
        const QList<std::pair<void (MediaEngine::*)(), PlayState>> asks = {
            {&MediaEngine::play, PlayState::Playing}, {&MediaEngine::pause, PlayState::Paused},
            {&MediaEngine::stop, PlayState::Stopped}};
        for (const auto& [ask, state] : asks) {
            auto r = rig();
            r->e->load(m_wav);
            const bool underWay = r->loaded.isEmpty();
            QCOMPARE(r->e->state(), PlayState::Playing);  // no Stopped between two files
            r->e->seek(0.5);
            QCOMPARE(r->e->position(), 0.5);
            (r->e.get()->*ask)();
            QCOMPARE(r->e->state(), state);
            QVERIFY(r->until([&] { return r->loaded.count() == 1; }));
            QCOMPARE(r->e->state(), state);
            const double at = r->e->position();
            QVERIFY(state == PlayState::Playing ? at >= 0.5 && at < 0.6 : at == (state == PlayState::Paused ? 0.5 : 0.0));
            if (underWay) QCOMPARE(r->jumps.count(), 0);  // nothing to jump from yet
            // Loaded, a seek is told inside the call and read at once.
            r->e->pause();
            r->e->seek(0.25);
            QCOMPARE(r->e->position(), 0.25);
            QVERIFY(!r->jumps.isEmpty());
            QCOMPARE(r->jumps.last().at(1).toDouble(), 0.25);
        }
    }

    void endsAndHoldsReadWhereTheyAre_data() { engines(); }
    void endsAndHoldsReadWhereTheyAre()
    {
        struct Case {
            std::optional<LoopRange> range;
            double from, endsAt;
            int wraps;
        };
        const QList<Case> cases = {{std::nullopt, 0.7, kFileSeconds, 0},                       // the file's end
                                   {LoopRange{0.3, 0.5, 1, true}, 0.3, 0.5, 1},                // a hold after a wrap
                                   {LoopRange{0.7, kFileSeconds, 1, false, true}, 0.7, kFileSeconds, 1}};
        for (const Case& c : cases) {
            auto r = rig();
            r->e->load(m_wav);
            QVERIFY(r->until([&] { return r->loaded.count() == 1; }));
            if (c.range) r->e->setLoop(*c.range);
            r->e->seek(c.from);
            r->states.clear();
            QVERIFY(r->until([&] { return r->e->state() == PlayState::Stopped; }));
            QCOMPARE(r->states.count(), 1);
            QVERIFY2(qAbs(r->e->position() - c.endsAt) < 0.002, qPrintable(QString::number(r->e->position())));
            QCOMPARE(r->wraps.count(), c.wraps);
            // Played again from outside, it starts where it is asked to; a stop rewinds.
            r->e->seek(0.1);
            r->e->play();
            QVERIFY(r->until([&] { return r->e->position() > 0.15 && r->e->position() < 0.5; }));
            r->e->stop();
            QCOMPARE(r->e->state(), PlayState::Stopped);
            QCOMPARE(r->e->position(), 0.0);
        }
    }
};

QTEST_MAIN(EngineContractTest)
#include "test_engine_contract_mpv.moc"
