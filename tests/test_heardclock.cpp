// The heard-position clock on a hand-moved time source: each case acts, then reads the
// position a reader sees and the wraps it reports, to the microsecond.
#include "audio/heardclock.h"

#include <QtTest>

#include <cmath>
#include <functional>

using audio::HeardClock;

class HeardClockTest : public QObject {
    Q_OBJECT
private slots:
    void positionsAsHeard()
    {
        using End = HeardClock::End;
        using Bounds = HeardClock::Bounds;
        struct Case {
            const char* name;
            std::function<int(HeardClock&, double& t)> act;  // returns the wraps heard
            Bounds bounds;
            double heard;
            int wraps;
        };
        const Case cases[] = {
            {"runs on at the rate", [](HeardClock& c, double& t) { c.holdAt(1); c.setRate(1.5); c.run(); t = 0.4; return 0; },
             {}, 1.6, 0},
            {"a new rate counts from when it is set",
             [](HeardClock& c, double& t) { c.run(); t = 1; c.setRate(2); t = 1.25; return 0; }, {}, 1.5, 0},
            {"frozen, it stands", [](HeardClock& c, double& t) { c.run(); t = 0.3; c.freeze(); t = 2; return 0; }, {}, 0.3, 0},
            {"a sample replaces the run", [](HeardClock& c, double& t) { c.run(); t = 1; c.sample(4, true); t = 1.1; return 0; },
             {}, 4.1, 0},
            {"a wrap decoded holds below the stop",
             [](HeardClock& c, double& t) { c.holdAt(2.9); c.run(); c.wrapDecoded(1, 3); t = 0.3; return 0; }, {}, 3 - 1e-6, 0},
            {"a wrap is heard when the clock reaches the stop",
             [](HeardClock& c, double& t) { c.holdAt(2.9); c.run(); c.wrapDecoded(1, 3); t = 0.35; return c.resolve().wraps; },
             {}, 1.25, 1},
            {"a sample after the wrap was decoded reads before it",
             [](HeardClock& c, double& t) { c.wrapDecoded(1, 3); c.wrapDecoded(1, 3); c.sample(1.5, true); t = 0.5; return c.resolve().wraps; },
             {}, 2.0, 2},
            {"the later wrap keeps the first one's range",
             [](HeardClock& c, double&) { c.holdAt(2.5); c.wrapDecoded(1, 3); c.wrapDecoded(0, 9); c.sample(2.5, false); return 0; },
             {}, 3 - 1e-6, 0},
            {"an end due holds at it", [](HeardClock& c, double& t) { c.holdAt(4.9); c.run(); c.endDecoded(5); t = 1; return 0; },
             {}, 5, 0},
            {"an end reached stands, with the wraps before it heard",
             [](HeardClock& c, double& t) {
                 c.holdAt(2.9); c.run(); c.wrapDecoded(1, 3); c.endDecoded(2); t = 0.01;
                 const auto h = c.reachEnd(); t = 5; return h.ended && c.end() == End::Reached ? h.wraps : -1; },
             {}, 2, 1},
            {"a withdrawn end lets it run", [](HeardClock& c, double& t) { c.run(); c.endDecoded(1); c.endWithdrawn(); t = 2; return 0; },
             {}, 2, 0},
            {"a flush forgets wraps and ends",
             [](HeardClock& c, double& t) { c.run(); c.wrapDecoded(0, 1); c.endDecoded(1); c.cancelPending(); t = 1.5; return c.resolve().wraps; },
             {}, 1.5, 0},
            {"inside a wrapping range, not past its stop",
             [](HeardClock& c, double& t) { c.holdAt(1.9); c.run(); t = 0.5; return 0; }, Bounds{2.0, {}, 0}, 2 - 1e-6, 0},
            {"outside the wrapping range it is free",
             [](HeardClock& c, double& t) { c.holdAt(2.5); c.run(); t = 0.5; return 0; }, Bounds{2.0, {}, 0}, 3, 0},
            {"at a hold point exactly", [](HeardClock& c, double& t) { c.holdAt(1.9); c.run(); t = 0.5; return 0; },
             Bounds{{}, 2.0, 0}, 2, 0},
            {"never past the file's end", [](HeardClock& c, double& t) { c.holdAt(9); c.run(); t = 3; return 0; },
             Bounds{{}, {}, 10}, 10, 0},
            {"never before its start", [](HeardClock& c, double&) { c.sample(-0.2, false); return 0; }, {}, 0, 0},
            {"a pass's sound begun early reads its start",
             [](HeardClock& c, double& t) { c.holdAt(2); c.run(); c.sample(1.97, true); t = 0.01; return 0; }, {}, 2, 0},
            {"... and runs on once past it",
             [](HeardClock& c, double& t) { c.holdAt(2); c.run(); c.sample(1.97, true); t = 0.05; return 0; }, {}, 2.02, 0},
            {"far below the start a sample stands for itself",
             [](HeardClock& c, double&) { c.holdAt(2); c.sample(1.5, false); return 0; }, {}, 1.5, 0},
            {"a wrap heard holds at its start while the sound leads it",
             [](HeardClock& c, double& t) {
                 c.holdAt(2.9); c.run(); c.wrapDecoded(1, 3); t = 0.1;
                 const int w = c.resolve().wraps; c.sample(0.97, true); t = 0.12; return w; },
             {}, 1, 1},
            {"frozen while the sound leads, it stands at the start",
             [](HeardClock& c, double& t) { c.holdAt(2); c.sample(1.96, true); t = 0.01; c.freeze(); c.sample(1.97, false); return 0; },
             {}, 2, 0},
        };
        for (const Case& k : cases) {
            double t = 0;
            HeardClock clock([&t] { return t; });
            const int wraps = k.act(clock, t);
            const double heard = clock.heard(k.bounds);
            QVERIFY2(std::abs(heard - k.heard) < 1e-9 && wraps == k.wraps,
                     qPrintable(QString("%1: %2 (wraps %3)").arg(k.name).arg(heard, 0, 'f', 7).arg(wraps)));
        }
    }

    void timeUntilTheNextWrapOrEnd()
    {
        double t = 0;
        HeardClock clock([&t] { return t; });
        clock.holdAt(2.8);
        clock.setRate(2);
        clock.wrapDecoded(1, 3);
        QVERIFY(!clock.untilDue());  // standing still, nothing comes
        clock.run();
        t = 0.05;
        QCOMPARE(qRound(*clock.untilDue() * 1e6), 50000);
        clock.resolve();
        clock.cancelPending();
        clock.endDecoded(2.95);
        QCOMPARE(qRound(*clock.untilDue() * 1e6), 25000);
        t = 0.1;  // run to 3.0 at twice the speed: 2.95 passed 25 ms ago, 3.5 comes in 250
        QCOMPARE(qRound(clock.secondsPast(2.95) * 1e6), 25000);
        QCOMPARE(qRound(clock.secondsPast(3.5) * 1e6), -250000);
        clock.freeze();
        QCOMPARE(clock.secondsPast(2.95), 0.0);
    }
};

QTEST_APPLESS_MAIN(HeardClockTest)
#include "test_heardclock.moc"
