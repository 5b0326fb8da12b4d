// A load's limit counts the time the machine let the process run: slow on a busy machine
// is not stuck.
#include "engine/mpv/loadbudget.h"

#include <QtTest>

#include <unistd.h>

using namespace engine;

class LoadBudgetTest : public QObject {
    Q_OBJECT
private slots:
    void judgedOnTheTimeLetRun()
    {
        struct Case { const char* name; qint64 wall, starved; LoadTime expected; };
        const Case cases[] = {
            {"stuck, never waiting: spent at the limit", 1000, 0, LoadTime::Spent},
            {"short of the limit", 999, 0, LoadTime::InTime},
            {"kept waiting most of the time", 3000, 2500, LoadTime::InTime},
            {"let run a limit's worth between waits", 3000, 2000, LoadTime::Spent},
            {"a wait read longer than the wall time", 1500, 4000, LoadTime::InTime},
            {"past the cap whatever the wait", 10000, 9999, LoadTime::Spent},
        };
        for (const Case& c : cases) QVERIFY2(judgeLoad(c.wall, c.starved, 1000) == c.expected, c.name);
    }

    void theLongestWaitOfAnyThread()
    {
        const ThreadWaits before{{1, 5'000'000}, {2, 100'000'000}, {3, 0}};
        QCOMPARE(longestWaitMs(before, {{1, 905'000'000}, {2, 300'000'000}}), 900);  // one ended
        QCOMPARE(longestWaitMs(before, {{2, 100'000'000}, {4, 700'000'000}}), 700);  // one begun since
        QCOMPARE(longestWaitMs(before, before), 0);
    }

    void theKernelTellsThisThread()
    {
        const ThreadWaits waits = readThreadWaits();
        if (waits.isEmpty()) QSKIP("no per-thread scheduler counts here");
        QVERIFY(waits.contains(::gettid()) && waits.value(::gettid()) >= 0);
    }
};

QTEST_APPLESS_MAIN(LoadBudgetTest)
#include "test_loadbudget.moc"
