#pragma once
// Ends a pass's hold on time. The hold's own timer fires on the UI thread, which on a loaded
// machine came to it up to 24 ms late (busy laying out or drawing), each ms a ms of pause
// too long. This waits on a thread of its own and runs the release there; the UI thread
// does the bookkeeping when its timer comes.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace engine {

class TimedRelease {
public:
    using Clock = std::chrono::steady_clock;

    // `release` runs on the waiting thread, under the lock disarm() takes: once disarm()
    // has returned it does not run for that hold. It must be safe off the UI thread.
    explicit TimedRelease(std::function<void()> release);
    ~TimedRelease();
    TimedRelease(const TimedRelease&) = delete;
    TimedRelease& operator=(const TimedRelease&) = delete;

    void arm(Clock::time_point at);
    // True when the release ran since the last arm().
    bool disarm();

private:
    enum class Phase { Idle, Armed, Fired, Quitting };
    void run();

    std::function<void()> m_release;
    std::mutex m_lock;
    std::condition_variable m_wake;
    Phase m_phase = Phase::Idle;
    Clock::time_point m_at;
    std::thread m_thread;  // started with the first hold
};

} // namespace engine
