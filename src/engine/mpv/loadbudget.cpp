#include "engine/mpv/loadbudget.h"

#include <QDir>
#include <QFile>

#include <algorithm>

namespace engine {

ThreadWaits readThreadWaits()
{
    // Linux: per thread "run_ns wait_ns slices".
    ThreadWaits waits;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString& tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile f(tasks.filePath(tid + QStringLiteral("/schedstat")));
        if (!f.open(QIODevice::ReadOnly)) continue;  // the thread ended meanwhile
        const QList<QByteArray> fields = f.readAll().simplified().split(' ');
        bool ok = false;
        const qint64 wait = fields.size() >= 2 ? fields[1].toLongLong(&ok) : 0;
        if (ok) waits.insert(tid.toLongLong(), wait);
    }
    return waits;
}

qint64 longestWaitMs(const ThreadWaits& before, const ThreadWaits& after)
{
    qint64 longest = 0;
    for (auto it = after.cbegin(); it != after.cend(); ++it)
        longest = std::max(longest, it.value() - before.value(it.key(), 0));
    return longest / 1'000'000;
}

LoadTime judgeLoad(qint64 wallMs, qint64 starvedMs, qint64 limitMs)
{
    if (wallMs >= limitMs * kLoadWallCapFactor) return LoadTime::Spent;
    return wallMs - std::clamp<qint64>(starvedMs, 0, wallMs) >= limitMs ? LoadTime::Spent : LoadTime::InTime;
}

} // namespace engine
