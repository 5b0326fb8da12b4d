// Bar and beat arithmetic on grids with a pickup, a tempo change and a change of metre.
#include "beats/beatgrid.h"

#include <QTest>

using beats::BeatGrid;

namespace {

// Beats every 0.5 s from 0.5 s, the tempo rising to 0.4 s after the ninth beat (4.5 s);
// one pickup beat, then two bars of 3 and bars of 4 from beat 7.
BeatGrid grid()
{
    BeatGrid g;
    for (int i = 0; i < 9; ++i) g.beats.push_back(0.5 + 0.5 * i);
    for (int i = 1; i <= 6; ++i) g.beats.push_back(4.5 + 0.4 * i);
    g.bars = {1, 4, 7, 11};
    g.meter = 4;
    return g;
}

} // namespace

class TestBeatGrid : public QObject {
    Q_OBJECT
private slots:
    void arithmetic()
    {
        const BeatGrid g = grid();
        const struct {
            double at;
            double snapped;
            int bar;
            double tempo;
        } cases[] = {
            {0.0, 0.5, -1, 120},     // before everything: the pickup's bar
            {0.74, 0.5, -1, 120},
            {0.76, 1.0, -1, 120},    // snaps to the first downbeat, still before it
            {2.4, 2.5, 0, 120},
            {4.6, 4.5, 2, 150},      // the tempo after the change
            {4.71, 4.9, 2, 150},
            {6.2, 6.1, 3, 150},      // from the last downbeat, bars of `meter` beats
            {20.0, 6.9, 11, 150},    // far beyond: extrapolated at the last interval
        };
        for (const auto& c : cases) {
            QCOMPARE(g.snap(c.at), c.snapped);
            QCOMPARE(g.barAt(c.at), std::optional<int>(c.bar));
            QCOMPARE(qRound(g.tempoAt(c.at)), qRound(c.tempo));
        }
    }

    void barsAndLoops()
    {
        const BeatGrid g = grid();
        const struct {
            const char* name;
            double from;
            int n;
            double to;
        } loops[] = {
            {"one 3/4 bar from its downbeat", 1.0, 1, 2.5},
            {"two bars across the metre change", 1.0, 2, 4.0},
            {"mid-beat keeps its place", 1.25, 1, 2.75},
            {"into the faster tempo", 2.5, 1, 4.0},
            {"second beat into a bar of 4", 3.0, 1, 4.5},
            {"back into a shorter bar, held to its end", 5.3, -1, 4.0},
            {"beyond the last downbeat", 6.1, 1, 7.7},
            {"backwards", 4.0, -2, 1.0},
            {"from the pickup, held to the bar's end", 0.5, 1, 2.5},
        };
        for (const auto& l : loops) {
            const std::optional<double> to = g.barsFrom(l.from, l.n);
            QVERIFY2(to && qAbs(*to - l.to) < 1e-9, l.name);
        }
        const double starts[] = {1.0, 2.5, 4.0, 5.7, 7.3};
        for (int n = 0; n < 5; ++n) QVERIFY(qAbs(*g.barStart(n) - starts[n]) < 1e-9);
        QVERIFY(qAbs(*g.barStart(-1) - (-1.0)) < 1e-9);  // a whole bar of 4 before the first
    }

    void withoutBars()
    {
        BeatGrid g;
        QCOMPARE(g.nearestBeat(3), -1);
        QCOMPARE(g.snap(3.25), 3.25);
        QCOMPARE(g.tempoAt(1), 0.0);
        g.beats = {1, 2, 3};
        QVERIFY(!g.barAt(2));
        QVERIFY(!g.barsFrom(2, 1));
    }

    void storage()
    {
        const BeatGrid g = grid();
        const QByteArray bytes = g.serialize();
        QCOMPARE(BeatGrid::deserialize(bytes), std::optional<BeatGrid>(g));
        BeatGrid unordered = g;
        std::swap(unordered.bars[1], unordered.bars[2]);
        const QByteArray damaged[] = {bytes.left(bytes.size() - 1), bytes + "x", QByteArray(), unordered.serialize(),
                                      QByteArray(bytes).replace(0, 4, "XXXX")};
        for (const QByteArray& d : damaged) QVERIFY(!BeatGrid::deserialize(d));
    }
};

QTEST_APPLESS_MAIN(TestBeatGrid)
#include "test_beatgrid.moc"
