// Where a change made during play takes over from what was rendered ahead.
#include "audio/liveswitch.h"

#include <QTest>
#include <tuple>

using namespace audio;

namespace {

// Chunks 1..n of 512 frames at `step` from source frame 0; chunk `wrapAt` begins a pass at 0 again.
std::deque<Rendered> chunks(int n, double step = 1, int wrapAt = 0)
{
    std::deque<Rendered> out;
    for (int i = 1; i <= n; ++i)
        out.push_back(Rendered{quint64(i), (i >= wrapAt && wrapAt ? i - wrapAt : i - 1) * 512 * step, step, 512,
                               i == wrapAt, wrapAt && i >= wrapAt ? 1 : 0});
    return out;
}

} // namespace

class TestLiveSwitch : public QObject {
    Q_OBJECT
private slots:
    void keepsTheLeadAndGoesOnWhereItEnds()
    {
        const struct {
            const char* name;
            std::deque<Rendered> rendered;
            quint64 taken, lead;
            bool found;
            quint64 keepUntil;
            double from;
            int pass;
        } cases[] = {
            {"two chunks past the one playing", chunks(10), 3, 2, true, 5, 5 * 512, 0},
            {"stretched: source frames by the step", chunks(10, 0.5), 3, 2, true, 5, 5 * 256, 0},
            {"less than the lead ahead: all of it", chunks(4), 3, 2, true, 4, 4 * 512, 0},
            {"nothing ahead", chunks(4), 4, 2, false, 0, 0, 0},
            {"nothing rendered", {}, 0, 2, false, 0, 0, 0},
            // Beginning at the stop, the stretch would no longer loop: the wrap is kept too.
            {"not at a stop", chunks(10, 1, 6), 3, 2, true, 6, 512, 1},
            {"a wrap in what is kept counts", chunks(10, 1, 5), 3, 3, true, 6, 2 * 512, 1},
            // Taken by the output, its wrap may not be heard yet: the pass goes on all the same.
            {"a wrap already playing", chunks(10, 1, 3), 3, 2, true, 5, 3 * 512, 1},
            {"a wrap taken earlier", chunks(10, 1, 2), 3, 2, true, 5, 4 * 512, 1},
        };
        for (const auto& c : cases) {
            const auto s = chooseSwitch(c.rendered, c.taken, c.lead);
            QVERIFY2(s.has_value() == c.found, c.name);
            if (s) QVERIFY2(s->keepUntil == c.keepUntil && s->from == c.from && s->pass == c.pass, c.name);
        }
    }

    // Chunks of 512 frames pulled one after another; the output can still replace from
    // `replaceable` (what is heard next), while it took up to `taken`.
    void takesOverFromTheFrameHeardWhereTheKeptSoundDisagrees()
    {
        const auto pulledAt = [](quint64 seq) { return qint64(seq - 1) * 512; };
        auto handedOver = chunks(10);
        for (Rendered& r : handedOver) r.entry = r.seq >= 5 ? 1 : 0;
        const std::optional<double> none;
        const struct {
            const char* name;
            std::deque<Rendered> rendered;
            quint64 taken;
            qint64 replaceable;
            std::optional<double> stop;
            Change change;
            bool found;
            quint64 keepUntil;
            double from;
            int pass;
            qint64 replaceFrom;
        } cases[] = {
            {"pause: cut where heard", chunks(10), 6, 1124, none, Change::Pause, true, 2, 1124, 0, 1124},
            {"pause, stretched: source by the step", chunks(10, 0.5), 6, 1124, none, Change::Pause, true, 2, 562, 0, 1124},
            {"pause out of reach: plays out", chunks(10), 6, -1, none, Change::Pause, false, 0, 0, 0, 0},
            {"pause past what was taken", chunks(10), 6, 7 * 512, none, Change::Pause, false, 0, 0, 0, 0},
            {"pause on a wrap's first frame keeps the wrap", chunks(10, 1, 4), 6, 3 * 512, none, Change::Pause, true,
             3, 1, 1, 3 * 512 + 1},
            {"pause in an entry handed over", handedOver, 6, 4 * 512 + 10, none, Change::Pause, true, 4, 4 * 512 + 10, 0,
             4 * 512 + 10},
            {"pause in the entry before the hand-over", handedOver, 6, 100, none, Change::Pause, false, 0, 0, 0, 0},
            {"stop ahead of all kept: switch, nothing replaced", chunks(10), 3, 700, 9 * 512, Change::Plan, true, 5,
             5 * 512, 0, -1},
            {"stop behind the switch: cut where heard", chunks(10), 3, 700, 4 * 512 + 10, Change::Plan, true, 1, 700, 0,
             700},
            {"stop behind the switch, out of reach: one chunk", chunks(10), 3, -1, 4 * 512 + 10, Change::Plan, true, 4,
             4 * 512, 0, -1},
            // The old stop's wrap taken already, the new stop ahead of the ear: same pass.
            {"old wrap taken: cut where heard", chunks(10, 1, 5), 5, 3 * 512 + 5, 3 * 512 + 300, Change::Plan, true, 3,
             3 * 512 + 5, 0, 3 * 512 + 5},
            {"old wrap taken, out of reach: next pass", chunks(10, 1, 5), 5, -1, 3 * 512 + 300, Change::Plan, true, 7,
             3 * 512, 1, -1},
            {"a wrap the listener has heard is kept", chunks(10, 1, 2), 5, 3 * 512 + 5, 8 * 512, Change::Plan, true, 7,
             6 * 512, 1, -1},
            {"no cut into the entry before", handedOver, 6, 100, 9 * 512, Change::Plan, true, 8, 8 * 512, 0, -1},
            // A mix is rendered again from the frame heard, whatever the range.
            {"mix: cut where heard", chunks(10, 0.5), 6, 1124, none, Change::Mix, true, 2, 562, 0, 1124},
            {"mix out of reach: after the lead", chunks(10), 6, -1, none, Change::Mix, true, 8, 8 * 512, 0, -1},
            {"mix: not into the entry before", handedOver, 6, 100, none, Change::Mix, true, 8, 8 * 512, 0, -1},
            // All of an entry taken back to its end (the next one dropped) is still heard.
            {"mix: all taken, cut where heard", chunks(4), 4, 1124, none, Change::Mix, true, 2, 1124, 0, 1124},
        };
        for (const auto& c : cases) {
            const auto t = chooseTakeover(c.rendered, pulledAt, c.taken, 2, c.replaceable, c.stop, c.change);
            QVERIFY2(t.has_value() == c.found, c.name);
            if (!t) continue;
            QVERIFY2(t->keep.keepUntil == c.keepUntil, c.name);
            QVERIFY2(t->keep.from == c.from && t->keep.pass == c.pass, c.name);
            QVERIFY2(t->replaceFrom == c.replaceFrom, c.name);
        }
    }

    // A pause within a pause or count-in (chunks 3 on stand at 1024, before pass 1), and one
    // in the entry before one handed over ahead, which the plan's entry allows.
    void pauseCutsInAHoldAndBeforeAHandOver()
    {
        const auto pulledAt = [](quint64 seq) { return qint64(seq - 1) * 512; };
        auto held = chunks(8), handedOver = chunks(10);
        for (Rendered& r : held)
            if (r.seq >= 3) r = Rendered{r.seq, 1024, 0, 512, false, 0, 0, qint64(r.seq - 3) * 512, 1};
        for (Rendered& r : handedOver) r.entry = r.seq >= 5 ? 1 : 0;
        // {rendered, cut at, first entry, found, entry, frames into the hold}
        const std::tuple<const std::deque<Rendered>*, qint64, std::optional<quint64>, bool, quint64, qint64> cases[] = {
            {&held, 4 * 512 + 7, {}, true, 0, 2 * 512 + 7}, {&handedOver, 100, 0, true, 0, -1},
            {&handedOver, 100, 1, false, 0, -1}, {&handedOver, 5 * 512, 0, true, 1, -1}};
        for (const auto& [rendered, at, firstEntry, found, entry, holdAt] : cases) {
            const auto t = chooseTakeover(*rendered, pulledAt, 6, 2, at, std::nullopt, Change::Pause, firstEntry);
            QCOMPARE(t.has_value(), found);
            if (t) QVERIFY(t->entry == entry && t->holdAt == holdAt && t->replaceFrom == at && t->holdPass == (holdAt >= 0));
        }
        // A new range goes on from a source frame, which a hold has none of: no cut in it.
        QCOMPARE(chooseTakeover(held, pulledAt, 6, 2, 4 * 512 + 7, 100.0, Change::Plan)->replaceFrom, -1);
    }

    // A remix for the entry before one handed over (chunks 1-4 of entry 0, 5-10 of entry 1)
    // goes on only where some of that entry is still to be replaced.
    void remixReachesOnlyWhatIsNotOutOfReach()
    {
        const auto pulledAt = [](quint64 seq) { return qint64(seq - 1) * 512; };
        auto rendered = chunks(10);
        for (Rendered& r : rendered) r.entry = r.seq >= 5 ? 1 : 0;
        const struct { quint64 taken; qint64 replaceable; quint64 entry; bool reaches; } cases[] = {
            {6, 100, 0, true},          // from within its first chunk
            {6, 4 * 512 - 1, 0, true},  // its last frame
            {6, 4 * 512, 0, false},     // from the next entry's first frame on
            {6, -1, 0, false},          // the output can replace nothing
            {3, -1, 0, true},           // its last chunk not taken yet
            {6, -1, 1, true},
        };
        for (const auto& c : cases) QCOMPARE(remixReaches(rendered, pulledAt, c.taken, c.replaceable, c.entry), c.reaches);
    }

    // A change some 100 ms after a seam: the listener has not heard the wrap the output took.
    void wrapsLeftCountWhatTheOutputTook()
    {
        const struct { int wraps, heard, pass, left; } cases[] = {
            {3, 0, 0, 3}, {3, 0, 1, 2}, {3, 1, 1, 3}, {1, 0, 2, 0}, {-1, 0, 4, -1}, {2, 2, 1, 2},
        };
        for (const auto& c : cases) QCOMPARE(wrapsLeft(c.wraps, c.heard, c.pass), c.left);
    }

    // A remix replaces the queue early only where its worker renders fast; a slow one never
    // leaves less ahead of the output than the old sound had.
    void remixWaitsWhereItsWorkerIsSlow()
    {
        const struct { qint64 past, old; double speed; bool ready; } cases[] = {
            {1000, 30000, 10, false},  // short of the slack, however fast
            {2205, 30000, 10, true},   // fast: the slack is enough
            {2205, 30000, 1.5, false}, // slow: it holds on
            {29000, 30000, 1.5, false},
            {30000, 30000, 1.5, true}, // as far ahead as the old sound
            {2205, 0, 0.5, true},      // the old sound ran out
        };
        for (const auto& c : cases) QCOMPARE(remixReady(RemixProgress{c.past, c.old, c.speed}, 2205, 4), c.ready);
    }

    // The remix goes over the queue from its first frames on and keeps ahead a step at a
    // time; a worker that just fell behind real time puts nothing out.
    void remixPreviewsEachStepWhileItsWorkerKeepsUp()
    {
        const struct { qint64 held, previewed; double recent; bool due; } cases[] = {
            {512, 0, 20, false},   // short of the first
            {1024, 0, 20, true},   // the first
            {1024, 0, 3, false},   // a slow chunk
            {1536, 1024, 20, false}, {2048, 1024, 20, true}, {4096, 1024, 20, true},
            {2048, 1024, 1, false},
        };
        for (const auto& c : cases) QCOMPARE(previewDue(c.held, c.previewed, c.recent, 882, 882, 4), c.due);
    }
};

QTEST_GUILESS_MAIN(TestLiveSwitch)
#include "test_liveswitch.moc"
