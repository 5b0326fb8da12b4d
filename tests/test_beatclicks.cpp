// Clicks on the file's beats: the bar counting in to a start, and the metronome's onsets
// in the output frames that play each beat.
#include "audio/beatclicker.h"
#include "audio/practiceplan.h"
#include "beats/beatclicks.h"

#include <QTest>

#include <cmath>

using namespace audio;
using beats::Tick;

namespace {

// Beats every 0.5 s from 0.25, bars of four from the second (a pickup of one).
beats::BeatGrid fourFour()
{
    beats::BeatGrid g;
    for (int i = 0; i < 40; ++i) g.beats.push_back(0.25 + 0.5 * i);
    for (int i = 1; i < 40; i += 4) g.bars.push_back(i);
    return g;
}

} // namespace

class TestBeatClicks : public QObject {
    Q_OBJECT
private slots:
    void countInBar()
    {
        beats::BeatGrid threeNoBars{{0, 0.4, 0.8, 1.2, 1.7, 2.2}, {}, 3};
        const std::vector<Tick> barOne{{0.75, true}, {1.25, false}, {1.75, false}, {2.25, false}};
        const struct { const char* name; beats::BeatGrid g; double start; std::vector<Tick> bar; } cases[] = {
            {"on a downbeat: the bar before", fourFour(), 2.75, barOne},
            {"off the beat: the grid's phase", fourFour(), 2.5, barOne},
            {"a hair after a beat is on it", fourFour(), 2.7504, barOne},
            {"mid-bar: the downbeat where it falls", fourFour(), 3.25, {{1.25, false}, {1.75, false}, {2.25, false}, {2.75, true}}},
            {"before the grid: its interval goes on", fourFour(), 0.3, {{-1.25, true}, {-0.75, false}, {-0.25, false}, {0.25, false}}},
            {"no bars: the meter, the first accented", threeNoBars, 2.2, {{0.8, true}, {1.2, false}, {1.7, false}}},
            {"one beat is no grid", beats::BeatGrid{{1.0}, {}, 4}, 2.0, {}},
        };
        for (const auto& c : cases) QVERIFY2(beats::countInBar(c.g, c.start) == c.bar, c.name);
        QCOMPARE(beats::beatsBetween(fourFour(), 0.75, 1.75), (std::vector<Tick>{{0.75, true}, {1.25, false}}));
    }

    // Each beat is heard once, at (beat - run's source) / step frames into the run playing
    // it: through rates, a preroll holding still, chunks splitting a click, and wraps.
    void metronomeOnsets()
    {
        struct Run { double sourcePos, step; qint64 frames; };
        const std::vector<SourceClick> beats{{100, false}, {700, true}, {1500, false}};
        const struct { const char* name; std::vector<Run> runs; std::vector<std::pair<qint64, bool>> onsets; } cases[] = {
            {"rate 1", {{0, 1, 512}, {512, 1, 512}, {1024, 1, 512}, {1536, 1, 512}}, {{100, false}, {700, true}, {1500, false}}},
            {"rate 0.75", {{0, 0.75, 1000}, {750, 0.75, 1000}, {1500, 0.75, 100}}, {{133, false}, {933, true}, {2000, false}}},
            {"a preroll first", {{0, 0, 256}, {0, 1, 2000}}, {{356, false}, {956, true}, {1756, false}}},
            {"from past a beat", {{400, 1, 1500}}, {{300, true}, {1100, false}}},
            {"wrapping at 600", {{0, 1, 512}, {512, 1, 88}, {0, 1, 600}}, {{100, false}, {700, false}}},
        };
        const int rate = 48000;
        for (const auto& c : cases) {
            BeatClicker clicker;
            clicker.setBeats(beats);
            std::vector<float> lane, want;
            for (const Run& r : c.runs) {
                std::vector<float> part(std::size_t(r.frames));
                clicker.render({0, 0, r.sourcePos, r.step, r.frames}, rate, part.data());
                lane.insert(lane.end(), part.begin(), part.end());
            }
            want.assign(lane.size(), 0.0f);
            for (const auto& [at, accent] : c.onsets)
                for (qint64 i = at; i < qint64(want.size()); ++i) want[std::size_t(i)] += clickSample(i - at, rate, accent);
            for (std::size_t i = 0; i < lane.size(); ++i)
                QVERIFY2(std::abs(lane[i] - want[i]) < 1e-6f, qPrintable(QStringLiteral("%1 at %2").arg(c.name).arg(i)));
        }
    }

    // The automatic count-in: the bar's beats as the pass's rate hears them, ending where the
    // pass begins; the typed clicks while no beats are known.
    void autoCountIn()
    {
        PracticeSettings s;
        s.countInAuto = true;
        s.countInClicks = 2;
        s.pause = 0.5;
        const std::vector<SourceClick> bar{{-1.5, true}, {-1.0, false}, {-0.5, false}, {-0.25, false}};
        const struct { const char* name; std::vector<SourceClick> bar; double rate; qint64 preroll; std::vector<qint64> clicks; std::vector<bool> accents; } cases[] = {
            {"rate 1", bar, 1.0, 24000 + 72000, {24000, 48000, 72000, 84000}, {true, false, false, false}},
            {"rate 0.75", bar, 0.75, 24000 + 96000, {24000, 56000, 88000, 104000}, {true, false, false, false}},
            {"no beats known", {}, 0.75, 24000 + 48000, {24000, 48000}, {}},
        };
        for (const auto& c : cases) {
            PracticePlan plan(s, c.rate, 48000);
            plan.setCountInBar(c.bar);
            const PassPlan p = plan.pass(0);
            QVERIFY2(p.prerollFrames == c.preroll && p.clicks == c.clicks && p.accents == c.accents, c.name);
        }
    }
};

QTEST_MAIN(TestBeatClicks)
#include "test_beatclicks.moc"
