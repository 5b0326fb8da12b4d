// Where a change made during play takes over from what was rendered ahead.
#include "audio/liveswitch.h"

#include <QTest>

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

    // A change some 100 ms after a seam: the listener has not heard the wrap the output took.
    void wrapsLeftCountWhatTheOutputTook()
    {
        const struct { int wraps, heard, pass, left; } cases[] = {
            {3, 0, 0, 3}, {3, 0, 1, 2}, {3, 1, 1, 3}, {1, 0, 2, 0}, {-1, 0, 4, -1}, {2, 2, 1, 2},
        };
        for (const auto& c : cases) QCOMPARE(wrapsLeft(c.wraps, c.heard, c.pass), c.left);
    }
};

QTEST_GUILESS_MAIN(TestLiveSwitch)
#include "test_liveswitch.moc"
