#pragma once
// How long a load has had to run. On a busy machine a file's open and probe wait for a
// processor most of the time (load 16 on 2 cores: some 85% of it), so a wall-clock limit
// gave up on loads that were merely slow, told the user the file cannot be played and
// stopped the list. A load counts the time the process was let run instead: the wall time
// less the longest any of its threads waited for a processor meanwhile (the one doing the
// load waits the most). A load that is stuck waits for no processor and is given up after
// its limit as before; one that moves, however slowly, gets as much wall time as it takes,
// up to a cap that ends it on any machine.
#include <QHash>
#include <QtGlobal>

namespace engine {

// Each thread of the process and the nanoseconds it has waited for a processor.
using ThreadWaits = QHash<qint64, qint64>;

// The process's threads as the kernel counts them now; empty where it does not tell.
ThreadWaits readThreadWaits();

// The longest any thread waited between the two readings; a thread begun since counts
// all of its wait.
qint64 longestWaitMs(const ThreadWaits& before, const ThreadWaits& after);

// What a load's limit makes of `wallMs` since it began, `starvedMs` of it spent waiting.
enum class LoadTime { InTime, Spent };
LoadTime judgeLoad(qint64 wallMs, qint64 starvedMs, qint64 limitMs);

// Wall time a load is given at most, as a multiple of its limit.
constexpr qint64 kLoadWallCapFactor = 10;

} // namespace engine
