#include "engine/mpv/mpvrelease.h"

#include <utility>

namespace engine {

TimedRelease::TimedRelease(std::function<void()> release) : m_release(std::move(release)) {}

TimedRelease::~TimedRelease()
{
    {
        std::lock_guard lock(m_lock);
        m_phase = Phase::Quitting;
    }
    m_wake.notify_one();
    if (m_thread.joinable()) m_thread.join();
}

void TimedRelease::arm(Clock::time_point at)
{
    {
        std::lock_guard lock(m_lock);
        m_phase = Phase::Armed;
        m_at = at;
        if (!m_thread.joinable()) m_thread = std::thread([this] { run(); });
    }
    m_wake.notify_one();
}

bool TimedRelease::disarm()
{
    std::lock_guard lock(m_lock);
    const bool fired = m_phase == Phase::Fired;
    if (m_phase != Phase::Quitting) m_phase = Phase::Idle;
    return fired;
}

void TimedRelease::run()
{
    std::unique_lock lock(m_lock);
    while (m_phase != Phase::Quitting) {
        if (m_phase != Phase::Armed) {
            m_wake.wait(lock);
            continue;
        }
        // Woken early (re-armed, disarmed, spuriously): the loop looks again.
        m_wake.wait_until(lock, m_at);
        if (m_phase == Phase::Armed && Clock::now() >= m_at) {
            m_release();
            m_phase = Phase::Fired;
        }
    }
}

} // namespace engine
