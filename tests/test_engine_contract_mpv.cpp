// The promises every engine keeps (see mediaengine.h), checked on each: the hand-clocked
// fake in both its modes, the sample engine on the null output, mpv without sound or
// screen, and the program's own stack of them.
#include "player/midiengine.h"
#include "player/mpvengine.h"
#include "player/routingengine.h"
#include "player/sampleengine.h"
#include "support/fakeengine.h"
#include "support/testkit.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <clocale>
#include <functional>
#include <memory>

using namespace player;

namespace {

constexpr double kFileSeconds = 1.0;
constexpr int kWaitMs = 5000;

enum class Kind { Fake, FakeAsync, Sample, Mpv, Program };

struct Rig {
    std::unique_ptr<MediaEngine> engine;
    FakeEngine* fake = nullptr;

    // Until `done`, or false after `ms` of the engine's clock: the fake's runs by hand.
    bool until(const std::function<bool()>& done, int ms = kWaitMs)
    {
        if (!fake) return QTest::qWaitFor(done, ms);
        for (int t = 0; t < ms; t += 5) {
            QCoreApplication::processEvents();
            if (done()) return true;
            fake->advance(5);
        }
        return done();
    }
};

Rig makeRig(Kind kind, const QString& undecodable)
{
    Rig r;
    switch (kind) {
    case Kind::Fake:
    case Kind::FakeAsync: {
        auto* f = new FakeEngine;
        f->async = kind == Kind::FakeAsync;
        f->fileDuration = kFileSeconds;
        f->undecodable << undecodable;
        r.fake = f;
        r.engine.reset(f);
        break;
    }
    case Kind::Sample: r.engine = std::make_unique<SampleEngine>(SampleEngine::Options{false, 5}); break;
    case Kind::Mpv: r.engine = std::make_unique<MpvEngine>(MpvEngine::Options{false, false}); break;
    case Kind::Program:
        r.engine = std::make_unique<MidiEngine>(new RoutingEngine(new SampleEngine(SampleEngine::Options{false, 5}),
                                                                  new MpvEngine(MpvEngine::Options{false, false})));
        break;
    }
    return r;
}

// What a load told, in order.
struct Reports {
    explicit Reports(MediaEngine* e) : loaded(e, &MediaEngine::loaded), failed(e, &MediaEngine::loadFailed),
        states(e, &MediaEngine::stateChanged), jumps(e, &MediaEngine::positionJumped),
        durations(e, &MediaEngine::durationChanged), wraps(e, &MediaEngine::loopWrapped) {}
    QSignalSpy loaded, failed, states, jumps, durations, wraps;
    int ends() const { return int(loaded.count() + failed.count()); }
};

} // namespace

Q_DECLARE_METATYPE(Kind)

class EngineContractTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_wav, m_bad;

    void engines()
    {
        QTest::addColumn<Kind>("kind");
        QTest::newRow("fake") << Kind::Fake;
        QTest::newRow("fake async") << Kind::FakeAsync;
        QTest::newRow("sample") << Kind::Sample;
        QTest::newRow("mpv") << Kind::Mpv;
        QTest::newRow("program") << Kind::Program;
    }
    Rig rig()
    {
        QFETCH(Kind, kind);
        return makeRig(kind, m_bad);
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
        // The last load of each sequence reports once; the ones it superseded never do.
        const QList<std::pair<QStringList, bool>> sequences = {
            {{m_wav}, true}, {{m_bad}, false}, {{m_bad, m_wav}, true}, {{m_wav, m_bad}, false}, {{m_wav, m_wav}, true}};
        for (const auto& [paths, succeeds] : sequences) {
            Rig r = rig();
            Reports rep(r.engine.get());
            // A load that ends inside its call (the plain fake's) is over before the next.
            for (const QString& p : paths.first(paths.size() - 1)) r.engine->load(p);
            const qsizetype loadedBefore = rep.loaded.count(), failedBefore = rep.failed.count();
            r.engine->load(paths.last());
            QVERIFY2(r.until([&] { return rep.ends() > loadedBefore + failedBefore; }), qPrintable(paths.join(' ')));
            if (succeeds) {
                // Played on a while, in case a late report of a superseded load comes.
                QVERIFY(r.until([&] { return r.engine->position() > 0.2; }));
            }
            QCOMPARE(rep.loaded.count() - loadedBefore, succeeds ? 1 : 0);
            QCOMPARE(rep.failed.count() - failedBefore, succeeds ? 0 : 1);
            QCOMPARE(r.engine->path(), paths.last());
            QCOMPARE(r.engine->state(), succeeds ? PlayState::Playing : PlayState::Stopped);
            QCOMPARE(r.engine->duration() > 0, succeeds);
        }
    }

    void loadCountsAsPlayingUntilItEnds_data() { engines(); }
    void loadCountsAsPlayingUntilItEnds()
    {
        // What is asked while the file loads is what it does once loaded.
        struct Case {
            void (MediaEngine::*call)();
            PlayState state;
            double position;
        };
        const QList<Case> cases = {{&MediaEngine::play, PlayState::Playing, 0.5},
                                   {&MediaEngine::pause, PlayState::Paused, 0.5},
                                   {&MediaEngine::stop, PlayState::Stopped, 0.0}};
        for (const Case& c : cases) {
            Rig r = rig();
            Reports rep(r.engine.get());
            r.engine->load(m_wav);
            const bool underWay = rep.loaded.isEmpty();
            QCOMPARE(r.engine->state(), PlayState::Playing);
            r.engine->seek(0.5);
            QCOMPARE(r.engine->position(), 0.5);
            (r.engine.get()->*c.call)();
            QCOMPARE(r.engine->state(), c.state);
            QVERIFY(r.until([&] { return rep.loaded.count() == 1; }));
            QCOMPARE(r.engine->state(), c.state);
            if (c.state == PlayState::Playing) {
                QVERIFY(r.engine->position() >= 0.5 && r.engine->position() < 0.6);
            } else {
                QCOMPARE(r.engine->position(), c.position);
            }
            if (!underWay) continue;
            // No jump is told for a file not loaded yet, and no Stopped shows before it plays.
            QCOMPARE(rep.jumps.count(), 0);
            if (c.state != PlayState::Stopped)
                for (const QList<QVariant>& s : rep.states) QVERIFY(s.at(1).value<PlayState>() != PlayState::Stopped);
        }
    }

    void seekIsToldAndReadAtOnce_data() { engines(); }
    void seekIsToldAndReadAtOnce()
    {
        Rig r = rig();
        Reports rep(r.engine.get());
        r.engine->load(m_wav);
        QVERIFY(r.until([&] { return rep.loaded.count() == 1; }));
        r.engine->pause();
        for (const double target : {0.25, 0.75, 0.0}) {
            const double before = r.engine->position();
            r.engine->seek(target);
            QCOMPARE(r.engine->position(), target);
            QCOMPARE(rep.jumps.count() > 0, true);
            QCOMPARE(rep.jumps.last().at(0).toDouble(), before);
            QCOMPARE(rep.jumps.last().at(1).toDouble(), target);
            rep.jumps.clear();
        }
    }

    void endsAndHoldsReadWhereTheyAre_data() { engines(); }
    void endsAndHoldsReadWhereTheyAre()
    {
        struct Case {
            const char* name;
            std::optional<LoopRange> range;
            double from, endsAt;
            int wraps;
        };
        const QList<Case> cases = {
            {"file end", std::nullopt, 0.7, kFileSeconds, 0},
            {"hold after a wrap", LoopRange{0.3, 0.5, 1, true}, 0.3, 0.5, 1},
            {"wrap at the end, then end", LoopRange{0.7, kFileSeconds, 1, false, true}, 0.7, kFileSeconds, 1},
        };
        for (const Case& c : cases) {
            Rig r = rig();
            Reports rep(r.engine.get());
            r.engine->load(m_wav);
            QVERIFY(r.until([&] { return rep.loaded.count() == 1; }));
            if (c.range) r.engine->setLoop(*c.range);
            r.engine->seek(c.from);
            rep.states.clear();
            QVERIFY2(r.until([&] { return r.engine->state() == PlayState::Stopped; }), c.name);
            QCOMPARE(rep.states.count(), 1);
            QVERIFY2(qAbs(r.engine->position() - c.endsAt) < 0.002, c.name);
            QCOMPARE(rep.wraps.count(), c.wraps);
            // Played again from outside, it starts where it is asked to.
            r.engine->seek(0.1);
            r.engine->play();
            QVERIFY2(r.until([&] { return r.engine->position() > 0.15 && r.engine->position() < 0.5; }), c.name);
        }
    }

    void stopRewinds_data() { engines(); }
    void stopRewinds()
    {
        Rig r = rig();
        Reports rep(r.engine.get());
        r.engine->load(m_wav);
        QVERIFY(r.until([&] { return r.engine->position() > 0.1; }));
        rep.states.clear();
        r.engine->stop();
        QCOMPARE(rep.states.count(), 1);
        QCOMPARE(r.engine->state(), PlayState::Stopped);
        QCOMPARE(r.engine->position(), 0.0);
        r.engine->play();
        QVERIFY(r.until([&] { return r.engine->position() > 0.05; }));
        QVERIFY(r.engine->position() < 0.5);
    }

    void durationIsToldOnEveryChange_data() { engines(); }
    void durationIsToldOnEveryChange()
    {
        Rig r = rig();
        Reports rep(r.engine.get());
        const auto told = [&] { return rep.durations.isEmpty() ? 0.0 : rep.durations.last().at(0).toDouble(); };
        r.engine->load(m_wav);
        QVERIFY(r.until([&] { return rep.loaded.count() == 1; }));
        QVERIFY(qAbs(r.engine->duration() - kFileSeconds) < 0.001);
        QCOMPARE(told(), r.engine->duration());
        r.engine->load(m_bad);
        QVERIFY(r.until([&] { return rep.failed.count() == 1; }));
        QCOMPARE(r.engine->duration(), 0.0);
        QCOMPARE(told(), 0.0);
        r.engine->load(m_wav);
        QVERIFY(r.until([&] { return rep.loaded.count() == 2; }));
        r.engine->load(QString());
        QCOMPARE(r.engine->state(), PlayState::Stopped);
        QCOMPARE(r.engine->duration(), 0.0);
        QCOMPARE(told(), 0.0);
        QCOMPARE(rep.ends(), 3);
    }
};

QTEST_MAIN(EngineContractTest)
#include "test_engine_contract_mpv.moc"
