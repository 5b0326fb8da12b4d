// The practice plan to the sample: each pass's rate, the preroll before it and its clicks.
#include "engine/mediaengine.h"
#include "engine/mpv/mpvpractice.h"
#include "audio/practiceplan.h"

#include <QTest>

using namespace audio;
using namespace engine;

namespace {

PracticeSettings make(double pause, int clicks, double bpm, bool every, double start = 0, double step = 0, int per = 1)
{
    PracticeSettings s;
    s.pause = pause;
    s.countInClicks = clicks;
    s.countInBpm = bpm;
    s.countInWhen = every ? PracticeSettings::CountInWhen::EveryPass : PracticeSettings::CountInWhen::First;
    s.trainerStartRate = start;
    s.trainerStep = step;
    s.trainerPassesPerStep = per;
    return s;
}

PracticeSettings trainer(double start, double step, int per) { return make(0, 0, 120, false, start, step, per); }

} // namespace

class TestPracticePlan : public QObject {
    Q_OBJECT
private slots:
    // Rates of passes 0, 1, 2 ..., which seams are cut (1: a preroll or a new rate between),
    // and whether the stretcher is needed at all.
    void passes()
    {
        PracticeSettings octaveDown;
        octaveDown.transposeSemitones = -12;
        const struct {
            const char* name;
            PracticeSettings s;
            double entryRate;
            std::vector<double> rates;
            std::vector<int> cut;
            bool stretches;
        } cases[] = {
            {"rising a step a pass", trainer(0.6, 0.1, 1), 1.0, {0.6, 0.7, 0.8, 0.9, 1.0, 1.0}, {0, 1, 1, 1, 1, 0}, true},
            {"two passes a step", trainer(0.6, 0.05, 2), 0.7, {0.6, 0.6, 0.65, 0.65, 0.7, 0.7}, {0, 0, 1, 0, 1, 0}, true},
            {"overshooting step stays", trainer(0.5, 0.3, 1), 1.0, {0.5, 0.8, 1.0, 1.0}, {0, 1, 1, 0}, true},
            {"falling to the entry", trainer(1.5, 0.25, 1), 1.0, {1.5, 1.25, 1.0, 1.0}, {0, 1, 1, 0}, true},
            {"start 0 is no trainer", trainer(0, 0.1, 1), 0.8, {0.8, 0.8}, {0, 0}, true},
            {"trainer at the entry's rate", trainer(1.0, 0.1, 1), 1.0, {1.0, 1.0}, {0, 0}, false},
            {"pause", make(0.2, 0, 120, false), 1.0, {1.0, 1.0, 1.0}, {0, 1, 1}, false},
            {"count-in first only", make(0, 2, 120, false), 1.0, {1.0, 1.0}, {0, 0}, false},
            {"count-in every pass", make(0, 2, 120, true), 1.0, {1.0, 1.0}, {0, 1}, false},
            {"transpose", octaveDown, 1.0, {1.0, 1.0}, {0, 0}, true},
        };
        for (const auto& c : cases) {
            const PracticePlan plan(c.s, c.entryRate, 44100);
            for (std::size_t n = 0; n < c.rates.size(); ++n)
                QVERIFY2(plan.rateOf(int(n)) == c.rates[n] && plan.cutBefore(int(n)) == bool(c.cut[n]),
                         qPrintable(QStringLiteral("%1, pass %2").arg(c.name).arg(n)));
            QVERIFY2(plan.stretches() == c.stretches, c.name);
        }
        QCOMPARE(PracticePlan(trainer(0.1, 0.1, 1), 1.1, 44100).rateOf(10), 1.1);  // no drift over ten steps
        QCOMPARE(PracticePlan(octaveDown, 1.0, 44100).pitchScale(), 0.5);
    }

    void prerollsAndClicks()
    {
        const struct {
            const char* name;
            PracticeSettings s;
            int rate, pass;
            qint64 preroll;
            std::vector<qint64> clicks;
        } cases[] = {
            {"pause only", make(1.5, 0, 120, false), 44100, 3, 66150, {}},
            {"count-in at 120", make(0, 4, 120, false), 44100, 0, 88200, {0, 22050, 44100, 66150}},
            {"count-in first only: none later", make(0, 4, 120, false), 44100, 1, 0, {}},
            {"every pass, after the pause", make(0.5, 3, 100, true), 48000, 2, 24000 + 86400, {24000, 52800, 81600}},
            // 60/130 s is 20353.85 frames: each click rounds on its own, no drift.
            {"beats that do not divide", make(0, 4, 130, false), 44100, 0, 81415, {0, 20354, 40708, 61062}},
        };
        for (const auto& c : cases) {
            const PassPlan p = PracticePlan(c.s, 1.0, c.rate).pass(c.pass);
            QVERIFY2(p.prerollFrames == c.preroll && p.clicks == c.clicks, c.name);
        }
    }

    // A pause by length: a multiple of the pass's own heard length, its trainer rate included;
    // it wins over seconds, and an unknown stretch has none.
    void pauseByLength()
    {
        const auto by = [](double factor, double seconds = 0, double trainerStart = 0) {
            PracticeSettings s = trainer(trainerStart, 0.2, 1);
            s.pauseFactor = factor;
            s.pause = seconds;
            return s;
        };
        const struct { const char* name; PracticeSettings s; double entryRate, stretch; int pass; qint64 preroll; } cases[] = {
            {"1.5x of 2 s at rate 1", by(1.5), 1.0, 2.0, 0, 132300},
            {"1.5x of 2 s at 0.8: 2.5 s heard", by(1.5), 0.8, 2.0, 1, 165375},
            {"the trainer's 0.6 on pass 0", by(1.0, 0, 0.6), 1.0, 1.2, 0, 88200},
            {"the trainer's 0.8 on pass 1", by(1.0, 0, 0.6), 1.0, 1.2, 1, 66150},
            {"wins over seconds", by(0.5, 3.0), 1.0, 1.0, 0, 22050},
            {"stretch not known yet", by(1.5), 1.0, 0.0, 0, 0},
        };
        for (const auto& c : cases) {
            const PracticePlan plan(c.s, c.entryRate, 44100, c.stretch);
            QVERIFY2(plan.pass(c.pass).prerollFrames == c.preroll, c.name);
            QVERIFY2(c.s.hasTrainer() || plan.cutBefore(c.pass) == (c.pass > 0 && c.preroll > 0), c.name);
        }
        // The next entry's stretch may not be known before its file opens: still a cut.
        QVERIFY(cutIntoNext(PracticePlan({}, 1.0, 44100), 0, PracticePlan(by(1.5), 1.0, 44100)));
    }

    // Into the list's next entry: blended only where its first pass follows without a
    // preroll, at the rate and pitch this entry's last pass played.
    void seamIntoTheNextEntry()
    {
        PracticeSettings fifth;
        fifth.transposeSemitones = 7;
        const struct { const char* name; PracticeSettings now; double nowRate; int pass; PracticeSettings next; double nextRate; bool cut; } cases[] = {
            {"neither has settings", {}, 1.0, 0, {}, 1.0, false},
            {"a pause first", {}, 1.0, 0, make(0.5, 0, 120, false), 1.0, true},
            {"a count-in first", {}, 1.0, 0, make(0, 2, 120, false), 1.0, true},
            {"the trainer's first rate", {}, 1.0, 0, trainer(0.6, 0.1, 1), 1.0, true},
            {"trained up to the same rate", trainer(0.6, 0.1, 1), 1.0, 4, {}, 1.0, false},
            {"still training", trainer(0.6, 0.1, 1), 1.0, 2, {}, 1.0, true},
            {"another rate", {}, 0.8, 0, {}, 1.0, true},
            {"a transpose", {}, 1.0, 0, fifth, 1.0, true},
            {"a pause after this one's passes only", make(0.5, 0, 120, false), 1.0, 3, {}, 1.0, false},
        };
        for (const auto& c : cases)
            QVERIFY2(cutIntoNext(PracticePlan(c.now, c.nowRate, 44100), c.pass, PracticePlan(c.next, c.nextRate, 44100)) == c.cut,
                     c.name);
    }

    // On video, clicks go out on an output of their own, whose buffer is ahead of the ear.
    void prerollOnAnotherOutput()
    {
        const struct { const char* name; PassPlan plan; qint64 heard, written, at, hold; } cases[] = {
            {"a pause: no clicks to place", {1, 22050, {}}, 1000, 5410, 1000, 22050},
            {"clicks after a longer pause", {1, 44100, {22050, 33075}}, 1000, 5410, 1000, 44100},
            {"a click due where it is written already", {1, 44100, {0, 22050}}, 1000, 5410, 5410, 48510},
            {"nothing written ahead", {1, 44100, {0, 22050}}, 1000, 1000, 1000, 44100},
        };
        for (const auto& c : cases) {
            const PrerollPlace p = placePreroll(c.plan, c.heard, c.written);
            QVERIFY2(p.at == c.at && p.holdFrames == c.hold, c.name);
        }
    }

    // mpv decodes a pass before it is heard: it takes its rate then; its preroll when heard.
    void passesDecodedAndHeard()
    {
        PracticeSettings s = trainer(0.6, 0.1, 1);
        s.pause = 0.5;
        PassBreaks b;
        b.setPractice(s, 0, 1.0);
        QCOMPARE(b.speed(), 0.6);
        QCOMPARE(b.startLanded()->prerollFrames, 22050);
        QVERIFY(!b.startLanded());  // once a start
        QCOMPARE(b.wrapDecoded(), 0.7);
        QCOMPARE(b.heardRate(), 0.6);  // still hearing the pass before
        QCOMPARE(b.wrapDecoded(), 0.8);
        const PassPlan heard = b.wrapHeard();
        QVERIFY(heard.rate == 0.7 && heard.prerollFrames == 22050);
        b.setPractice(s, engine::MediaEngine::kGoOn, 1.0);  // the passes go on
        QVERIFY(!b.startLanded());
        QCOMPARE(b.wrapHeard().rate, 0.8);
        b.setPractice(s, 3, 1.0);  // an entry started over at pass 3
        QCOMPARE(b.speed(), 0.9);
        QCOMPARE(b.startLanded()->rate, 0.9);
    }

    // mpv stays paused through a landing only when the pass it starts begins with a hold.
    void startHoldDueOnlyBeforeAHeldPass()
    {
        const int goOn = engine::MediaEngine::kGoOn;
        struct Case { const char* name; double pause, factor; int clicks, pass; bool due; };
        const Case cases[] = {{"seconds", 1.0, 0, 0, 0, true}, {"by the pass", 0, 1.5, 0, 0, true},
                              {"count-in", 0, 0, 2, 0, true}, {"count-in first only", 0, 0, 2, 2, false},
                              {"nothing before", 0, 0, 0, 0, false}, {"passes go on", 1.0, 0, 0, goOn, false}};
        for (const Case& c : cases) {
            PracticeSettings s;
            s.pause = c.pause;
            s.pauseFactor = c.factor;
            s.countInClicks = c.clicks;
            PassBreaks b;
            b.setStretch(2.0);
            b.setPractice(s, c.pass, 1.0);
            QVERIFY2(b.startHoldDue() == c.due, c.name);
            b.startLanded();
            QVERIFY2(!b.startHoldDue(), c.name);  // taken by that landing
        }
    }
};

QTEST_GUILESS_MAIN(TestPracticePlan)
#include "test_practiceplan.moc"
