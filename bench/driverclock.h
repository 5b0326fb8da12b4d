#pragma once
// The clock the output drivers print and the wait they play for, the same in each, so
// their times line up with the recordings the scripts read.
#include <QEventLoop>
#include <QTimer>

#include <chrono>

inline long long monoNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Runs the event loop for `seconds`, as a player's timers need.
inline void runFor(double seconds)
{
    QEventLoop loop;
    QTimer::singleShot(static_cast<int>(seconds * 1000), Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}
