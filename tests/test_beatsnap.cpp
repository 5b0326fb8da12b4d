// Snapping, bar stretches, hand corrections and tap tempo on small known grids.
#include "beats/beatsnap.h"
#include "beats/gridfix.h"

#include <QTest>

using namespace beats;

namespace {

// Beats every 0.5 s from 0.5 s; a pickup beat, then bars of 4 (downbeats at 1, 3, 5 s).
BeatGrid grid()
{
    BeatGrid g;
    for (int i = 0; i < 12; ++i) g.beats.push_back(0.5 + 0.5 * i);
    g.bars = {1, 5, 9};
    return g;
}

} // namespace

class TestBeatSnap : public QObject {
    Q_OBJECT
private slots:
    void steps()
    {
        const BeatGrid g = grid();
        const struct {
            double from;
            int dir;
            bool bar;
            std::optional<double> to;
        } cases[] = {
            {1.2, 1, false, 1.5},  {1.2, -1, false, 1.0}, {1.5, 1, false, 2.0},  // on a beat: the next one
            {1.5, -1, false, 1.0}, {0.5, -1, false, {}},  {6.0, 1, false, {}},   // no beat beyond the ends
            {1.2, 1, true, 3.0},   {3.0, -1, true, 1.0},  {3.4, -1, true, 3.0},  // a bar back: its own start first
            {5.2, 1, true, 7.0},   {0.7, -1, true, {}},                          // bars go on at the meter
        };
        for (const auto& c : cases) QCOMPARE(stepFrom(g, c.from, c.dir, c.bar), c.to);
        QCOMPARE(stepFrom(BeatGrid{}, 1, 1, false), std::nullopt);
        // A beat kept to the millisecond is still that beat: the step goes past it.
        const BeatGrid odd{{1.0, 1.2346, 1.5}, {}, 4};
        QCOMPARE(stepFrom(odd, 1.235, -1, false), std::optional<double>(1.0));
        QCOMPARE(stepFrom(odd, 1.235, 1, false), std::optional<double>(1.5));
    }

    void barStretches()
    {
        BeatGrid noBars = grid();
        noBars.bars.clear();
        const struct {
            const BeatGrid g;
            double at;
            int n;
            std::optional<BarStretch> want;
        } cases[] = {
            {grid(), 1.0, 1, BarStretch{1.0, 3.0}},
            {grid(), 2.9, 2, BarStretch{1.0, 5.0}},   // from the bar's own start
            {grid(), 5.5, 4, BarStretch{5.0, 13.0}},  // past the last downbeat, bars of `meter`
            {noBars, 1.6, 1, BarStretch{1.5, 3.5}},   // no downbeats: from the nearest beat
            {grid(), 2.0, 0, std::nullopt},
            {BeatGrid{}, 2.0, 1, std::nullopt},
        };
        for (const auto& c : cases) {
            QCOMPARE(barsAt(c.g, c.at, c.n), c.want);
            // From a bar's start, a stop after whole bars is that stretch's stop.
            if (c.want) QCOMPARE(stopAfterBars(c.g, c.want->start, c.n), std::optional<double>(c.want->stop));
        }
    }

    void fixes()
    {
        GridFix halved;
        halved.octaves = -1;
        GridFix doubled;
        doubled.octaves = 1;
        GridFix moved;
        moved.downbeat = 1.45;
        moved.meter = 3;
        GridFix tapped;
        tapped.tappedBpm = 60;
        tapped.downbeat = 2.2;
        const struct {
            const char* name;
            GridFix fix;
            size_t beats;
            double beat3;
            std::vector<int> bars;
        } cases[] = {
            {"none", {}, 12, 2.0, {1, 5, 9}},
            {"halved, on the downbeats", halved, 6, 4.0, {0, 2, 4}},
            {"doubled", doubled, 23, 1.25, {2, 10, 18}},
            {"downbeat and meter", moved, 12, 2.0, {2, 5, 8, 11}},
            {"tapped through the downbeat", tapped, 10, 3.2, {2, 6}},
        };
        for (const auto& c : cases) {
            const BeatGrid g = applyFix(grid(), c.fix, 10.0);
            QVERIFY2(g.valid(), c.name);
            QCOMPARE(g.beats.size(), c.beats);
            QCOMPARE(g.beats[3], c.beat3);
            QCOMPARE(g.bars, c.bars);
            QCOMPARE(GridFix::fromText(c.fix.toText()), c.fix);
        }
        QCOMPARE(GridFix::fromText("meter 9\nbpm 1e9\noctaves 1\nlater 3\n").octaves, 1);
        QVERIFY(GridFix::fromText("meter 9\nbpm 1e9\nlater 3\n").empty());
    }

    void trainerInBpm()
    {
        const struct {
            double rate, tempo, bpm;
        } cases[] = {{0.75, 120, 90}, {0.73, 117.3, 85.629}, {0.05, 97.7, 4.885}, {1.2345, 0, 0}};
        for (const auto& c : cases) {
            QCOMPARE(bpmForRate(c.rate, c.tempo), c.bpm);
            // Rates of a step's precision come back unchanged.
            if (c.tempo > 0) QCOMPARE(rateForBpm(bpmForRate(c.rate, c.tempo), c.tempo), c.rate);
        }
        QCOMPARE(rateForBpm(90, 0), 0.0);
    }

    void tapTempo()
    {
        const struct {
            std::vector<double> taps;
            double bpm;
        } cases[] = {
            {{0.0}, 0},
            {{0.0, 0.5, 1.0, 1.5}, 120},
            {{0.0, 0.5, 1.0, 1.9, 2.4}, 120},  // one late tap does not pull it
            {{0.0, 0.5, 5.0, 5.4, 5.8}, 150},  // a pause starts over
        };
        for (const auto& c : cases) {
            TapTempo t;
            for (double s : c.taps) t.tap(s);
            QCOMPARE(qRound(t.bpm()), qRound(c.bpm));
        }
    }
};

QTEST_APPLESS_MAIN(TestBeatSnap)
#include "test_beatsnap.moc"
