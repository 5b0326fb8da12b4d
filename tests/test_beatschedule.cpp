// The metronome's clicks beside mpv: the file's beats placed on the click output's frames
// from the sound heard, its rate, its wraps and holds.
#include "engine/mpv/beatschedule.h"

#include <QTest>

#include <cmath>

using namespace engine;

Q_DECLARE_METATYPE(engine::HeardRun)

namespace {

constexpr int kRate = 1000;  // frames are milliseconds

// Beats every half second from 0, bars of four from 0.
std::vector<beats::Tick> grid()
{
    std::vector<beats::Tick> t;
    for (int i = 0; i < 40; ++i) t.push_back({i * 0.5, i % 4 == 0});
    return t;
}

HeardRun run(qint64 frame, double position, double rate, double stop)
{
    HeardRun r;
    r.running = true;
    r.frame = frame;
    r.position = position;
    r.rate = rate;
    r.stop = stop;
    return r;
}

HeardRun wrapping(HeardRun r, double start, double nextRate, int wraps = -1)
{
    r.wrapsOn = true;
    r.wrapStart = start;
    r.nextRate = nextRate;
    r.wraps = wraps;
    return r;
}

QString frames(const std::vector<PlacedClick>& clicks)
{
    QStringList s;
    for (const PlacedClick& c : clicks) s << QString::number(c.frame) + (c.accent ? "!" : "");
    return s.join(' ');
}

} // namespace

class TestBeatSchedule : public QObject {
    Q_OBJECT
private slots:
    void place_data()
    {
        QTest::addColumn<HeardRun>("heard");
        QTest::addColumn<qint64>("from");
        QTest::addColumn<QString>("expected");  // frames, "!" on downbeats
        QTest::newRow("rate 1") << run(100, 1.9, 1, 20) << qint64(0) << "200! 700 1200 1700";
        QTest::newRow("rate 0.75: beats further apart") << run(0, 2.0, 0.75, 20) << qint64(0) << "0! 667 1333";
        QTest::newRow("rate 1.5") << run(0, 2.0, 1.5, 20) << qint64(0) << "0! 333 667 1000 1333! 1667";
        QTest::newRow("not before from") << run(0, 2.0, 1, 20) << qint64(1) << "500 1000 1500";
        QTest::newRow("paused") << HeardRun{} << qint64(0) << "";
        QTest::newRow("beat at the stop: not before the wrap") << run(0, 2.6, 1, 3.0) << qint64(0) << "";
        QTest::newRow("wrap: the start's beats follow the stop") << wrapping(run(0, 2.6, 1, 3.0), 2.0, 1) << qint64(0)
                                                                  << "400! 900 1400! 1900";
        QTest::newRow("wrap into a slower pass") << wrapping(run(0, 2.6, 1, 3.0), 2.0, 0.5) << qint64(0) << "400! 1400";
        QTest::newRow("off-beat start keeps the beats' phase") << wrapping(run(0, 2.9, 1, 3.3), 2.2, 1) << qint64(0)
                                                                << "100 700 1200 1800";
        QTest::newRow("last wrap: then nothing") << wrapping(run(0, 2.6, 1, 3.0), 2.0, 1, 1) << qint64(0) << "400! 900";
        QTest::newRow("held pass: starts at its frame") << run(300, 2.0, 1, 20) << qint64(0) << "300! 800 1300 1800";
        HeardRun held = run(300, 2.001, 1, 20);
        held.exact = true;
        QTest::newRow("held pass a hair past its beat") << held << qint64(0) << "299! 799 1299 1799";
        QTest::newRow("a stretch too short to click") << wrapping(run(0, 2.1, 1, 2.1), 2.1, 1) << qint64(0) << "";
    }
    void place()
    {
        QFETCH(HeardRun, heard);
        QFETCH(qint64, from);
        QFETCH(QString, expected);
        BeatPlacer placer;
        QCOMPARE(frames(placer.place(grid(), heard, kRate, from, 2000)), expected);
    }

    // Told again a little off each time, a beat clicks once; silenced, it is placed again.
    void placesOnce()
    {
        BeatPlacer placer;
        QCOMPARE(frames(placer.place(grid(), run(0, 2.0, 1, 20), kRate, 0, 600)), QString("0! 500"));
        QCOMPARE(frames(placer.place(grid(), run(20, 2.0, 1, 20), kRate, 0, 1100)), QString("1020"));
        QCOMPARE(frames(placer.place(grid(), run(-15, 2.0, 1, 20), kRate, 0, 1100)), QString(""));
        placer.reset();
        QCOMPARE(frames(placer.place(grid(), run(0, 2.0, 1, 20), kRate, 400, 1100)), QString("500 1000"));
    }

    // Runs told a little off each time are averaged; a jump back or ahead starts afresh, and
    // a start timed by the output itself is taken as it is.
    void smooths()
    {
        HeardSmoother s;
        HeardRun held = run(9000, 2.0, 1, 20);
        held.exact = true;
        const struct {
            HeardRun heard;
            qint64 frame;
        } steps[] = {{run(1000, 2.0, 1, 20), 1000}, {run(1110, 2.1, 1, 20), 1105}, {run(2000, 2.0, 1, 20), 2000},
                     {run(2600, 2.5, 1, 20), 2600}, {held, 9000}, {run(1000, 2.0, 0.5, 20), 1000}};
        for (const auto& step : steps) QCOMPARE(s.smooth(step.heard, kRate).frame, step.frame);
    }

    // The lags the clicks were measured to need (source ms) against mpv's audio-pts, each
    // stretcher at each rate (Rubber Band's at 0.5 measured with the hear chain after it,
    // plus the 2.5 ms of source its limiter now adds before it).
    void lags()
    {
        const struct {
            MpvStretch stretch;
            double rate, measuredMs;
        } rows[] = {{MpvStretch::Own, 1, 5},         {MpvStretch::Own, 0.75, 15},
                    {MpvStretch::RubberBand, 1, 10}, {MpvStretch::RubberBand, 0.75, -3.9},
                    {MpvStretch::RubberBand, 0.5, -18.5}};
        for (const auto& r : rows)
            QVERIFY2(std::abs(mpvHeardLag(r.rate, r.stretch) * 1000 - r.measuredMs) < 1,
                     qPrintable(QString::number(r.rate)));
    }
};

QTEST_GUILESS_MAIN(TestBeatSchedule)
#include "test_beatschedule.moc"
