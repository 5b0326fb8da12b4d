// The practice plan to the sample: each pass's rate, the preroll before it and its clicks.
#include "player/practiceplan.h"

#include <QTest>

#include <cmath>
#include <vector>

using namespace player::audio;

namespace {

PracticeSettings trainer(double start, double step, int per)
{
    PracticeSettings s;
    s.trainerStartRate = start;
    s.trainerStep = step;
    s.trainerPassesPerStep = per;
    return s;
}

PracticeSettings countIn(double pause, int clicks, double bpm, bool every)
{
    PracticeSettings s;
    s.pause = pause;
    s.countInClicks = clicks;
    s.countInBpm = bpm;
    s.countInWhen = every ? PracticeSettings::CountInWhen::EveryPass : PracticeSettings::CountInWhen::First;
    return s;
}

} // namespace

class TestPracticePlan : public QObject {
    Q_OBJECT
private slots:
    void trainerRates()
    {
        struct Case {
            const char* name;
            PracticeSettings s;
            double entryRate;
            std::vector<double> rates;  // passes 0, 1, 2 ...
        };
        const std::vector<Case> cases{
            {"rising, a step a pass", trainer(0.6, 0.1, 1), 1.0, {0.6, 0.7, 0.8, 0.9, 1.0, 1.0}},
            {"rising, two passes a step", trainer(0.6, 0.05, 2), 0.7, {0.6, 0.6, 0.65, 0.65, 0.7, 0.7, 0.7}},
            {"step overshoots: stays at the entry", trainer(0.5, 0.3, 1), 1.0, {0.5, 0.8, 1.0, 1.0}},
            {"falling to the entry", trainer(1.5, 0.25, 1), 1.0, {1.5, 1.25, 1.0, 1.0}},
            {"a start rate of 0 is no trainer", trainer(0.0, 0.1, 1), 1.0, {1.0, 1.0}},
            {"no trainer: the entry's rate", PracticeSettings{}, 0.8, {0.8, 0.8}},
        };
        for (const Case& c : cases) {
            const PracticePlan plan(c.s, c.entryRate, 44100);
            for (std::size_t n = 0; n < c.rates.size(); ++n)
                QVERIFY2(plan.rateOf(int(n)) == c.rates[n] && plan.pass(int(n)).rate == c.rates[n],
                         qPrintable(QStringLiteral("%1, pass %2: %3").arg(c.name).arg(n).arg(plan.rateOf(int(n)))));
        }
        // Exactly on the entry's rate after ten steps of a tenth, not a hair off.
        QCOMPARE(PracticePlan(trainer(0.1, 0.1, 1), 1.1, 44100).rateOf(10), 1.1);
    }

    void prerollsAndClicks()
    {
        struct Case {
            const char* name;
            PracticeSettings s;
            int rate;
            int pass;
            qint64 preroll;
            std::vector<qint64> clicks;
        };
        const std::vector<Case> cases{
            {"pause only", countIn(1.5, 0, 120, false), 44100, 3, 66150, {}},
            {"count-in at 120", countIn(0, 4, 120, false), 44100, 0, 88200, {0, 22050, 44100, 66150}},
            {"count-in first only: none later", countIn(0, 4, 120, false), 44100, 1, 0, {}},
            {"every pass, after the pause", countIn(0.5, 3, 100, true), 48000, 2, 24000 + 86400, {24000, 52800, 81600}},
            // 60/130 s is 20353.85 frames: each click rounds on its own, no drift.
            {"beats that do not divide", countIn(0, 4, 130, false), 44100, 0, 81415, {0, 20354, 40708, 61062}},
            {"nothing set", PracticeSettings{}, 44100, 0, 0, {}},
        };
        for (const Case& c : cases) {
            const PassPlan p = PracticePlan(c.s, 1.0, c.rate).pass(c.pass);
            QVERIFY2(p.prerollFrames == c.preroll, qPrintable(QStringLiteral("%1: %2").arg(c.name).arg(p.prerollFrames)));
            QVERIFY2(p.clicks == c.clicks, c.name);
        }
    }

    void stretcherNeeded()
    {
        PracticeSettings transpose;
        transpose.transposeSemitones = -12;
        const struct {
            PracticeSettings s;
            double entryRate;
            bool stretches;
        } cases[] = {
            {PracticeSettings{}, 1.0, false},        {countIn(2, 4, 90, true), 1.0, false},
            {PracticeSettings{}, 0.9, true},         {transpose, 1.0, true},
            {trainer(0.6, 0.1, 1), 1.0, true},       {trainer(1.0, 0.1, 1), 1.0, false},
        };
        for (const auto& c : cases) QCOMPARE(PracticePlan(c.s, c.entryRate, 44100).stretches(), c.stretches);
        QCOMPARE(PracticePlan(transpose, 1.0, 44100).pitchScale(), 0.5);
    }

    void seamsCutWhereSomethingComesBetween()
    {
        const struct {
            const char* name;
            PracticeSettings s;
            std::vector<bool> cut;  // before passes 0, 1, 2 ...
        } cases[] = {
            {"nothing: blended", PracticeSettings{}, {false, false, false}},
            {"a pause before each", countIn(0.2, 0, 120, false), {false, true, true}},
            {"count-in first only", countIn(0, 2, 120, false), {false, false, false}},
            {"count-in every pass", countIn(0, 2, 120, true), {false, true, true}},
            {"trainer steps every 2nd", trainer(0.8, 0.1, 2), {false, false, true, false, true, false, false}},
        };
        for (const auto& c : cases) {
            const PracticePlan plan(c.s, 1.0, 44100);
            for (std::size_t n = 0; n < c.cut.size(); ++n)
                QVERIFY2(plan.cutBefore(int(n)) == c.cut[n], qPrintable(QStringLiteral("%1, pass %2").arg(c.name).arg(n)));
        }
    }

    void prerollSoundsItsClicksOnly()
    {
        const int sr = 44100;
        const PassPlan p = PracticePlan(countIn(0.1, 2, 240, false), 1.0, sr).pass(0);
        // Rendered in odd pieces, the result is the same as in one go.
        std::vector<float> whole(std::size_t(p.prerollFrames) * 2), pieces(whole.size());
        renderPreroll(p, sr, 0, whole.data(), p.prerollFrames);
        for (qint64 at = 0; at < p.prerollFrames; at += 333)
            renderPreroll(p, sr, at, pieces.data() + at * 2, std::min<qint64>(333, p.prerollFrames - at));
        QVERIFY(whole == pieces);
        const auto loudest = [&](qint64 from, qint64 to) {
            float m = 0;
            for (qint64 i = from; i < to; ++i) m = std::max(m, std::abs(whole[std::size_t(i) * 2]));
            return m;
        };
        const qint64 len = clickLength(sr);
        QCOMPARE(loudest(0, p.clicks[0]), 0.0f);                 // the pause is silent
        QVERIFY(loudest(p.clicks[0], p.clicks[0] + len) > 0.3f);  // a click is heard
        QCOMPARE(loudest(p.clicks[0] + len, p.clicks[1]), 0.0f);  // and stops
        QVERIFY(loudest(p.clicks[0], p.clicks[0] + len) > loudest(p.clicks[1], p.clicks[1] + len));  // accent
        // It dies away rather than stopping short.
        QVERIFY(loudest(p.clicks[1] + len - len / 10, p.clicks[1] + len) < 0.01f);
    }
};

QTEST_GUILESS_MAIN(TestPracticePlan)
#include "test_practiceplan.moc"
