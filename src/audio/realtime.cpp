#include "audio/realtime.h"

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
    return Raised::None;
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
