#include "audio/realtime.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>

namespace audio {

namespace {

// Below the sound server's own real-time priority (5 for PulseAudio, 20 for PipeWire's
// data thread as rtkit grants), the output above the renderer: a render burst never holds
// up a hand-over to the server.
int realTimePriority(ThreadRole role)
{
    return role == ThreadRole::Output ? 4 : 2;
}

int niceValue(ThreadRole role)
{
    return role == ThreadRole::Output ? -11 : -10;
}

// Where the process may not raise itself (a desktop user's limits), the desktop's rtkit
// grants a nice value over the system bus, as it does the sound server's. Real time from
// rtkit is not asked for: it needs a limit on the CPU time a real-time thread runs without
// waiting, and a fresh stretcher rendering ahead could reach it and kill the program.
bool askRtkitForNice(pid_t tid, int nice)
{
    if (!QCoreApplication::instance()) return false;
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) return false;
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.RealtimeKit1"),
                                                       QStringLiteral("/org/freedesktop/RealtimeKit1"),
                                                       QStringLiteral("org.freedesktop.RealtimeKit1"),
                                                       QStringLiteral("MakeThreadHighPriority"));
    call << quint64(tid) << qint32(nice);
    return bus.call(call, QDBus::Block, 1000).type() == QDBusMessage::ReplyMessage;
}

} // namespace

Raised raiseThisThread(ThreadRole role)
{
    // The renderer takes turns (SCHED_RR) with any other at its priority; the output is
    // never busy long, so it runs until it waits.
    const int policy = role == ThreadRole::Output ? SCHED_FIFO : SCHED_RR;
    sched_param p{};
    p.sched_priority = std::min(realTimePriority(role), sched_get_priority_max(policy));
    if (pthread_setschedparam(pthread_self(), policy | SCHED_RESET_ON_FORK, &p) == 0) return Raised::RealTime;
    // Refused (no rtprio limit, no capability): a better nice value where the nice limit
    // allows some, the most it allows.
    const int wanted = niceValue(role);
    const pid_t tid = gettid();
    for (int nice = wanted; nice < 0; ++nice)
        if (setpriority(PRIO_PROCESS, id_t(tid), nice) == 0) return Raised::Nice;
    // The output's thread asks for sound under the sound server's lock: no bus call there.
    if (role == ThreadRole::Render && askRtkitForNice(tid, wanted)) return Raised::Nice;
    return Raised::None;
}

void nameThisThread(const char* name)
{
    pthread_setname_np(pthread_self(), name);
}

RenderAhead::RenderAhead(std::size_t base, std::size_t most, int calmWakes)
    : m_base(base), m_most(std::max(base, most)), m_calmWakes(calmWakes), m_target(base)
{
}

void RenderAhead::woke(std::size_t left)
{
    const std::size_t taken = m_target > left ? m_target - left : 0;
    if (2 * taken > m_target) {
        m_target = std::clamp(2 * taken, m_base, m_most);
        m_calm = 0;
    } else if (m_target > m_base && ++m_calm >= m_calmWakes) {
        --m_target;
        m_calm = m_calmWakes / 2;  // further steps down come quicker, yet not all at once
    }
}

} // namespace audio
