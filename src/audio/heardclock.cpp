#include "audio/heardclock.h"

#include <algorithm>
#include <utility>

namespace audio {

namespace {
// While a wrap is coming the position stays a hair below the stop: a reader that compares
// with the stop (the player's fallback timers) must not take the stop as reached and jump
// or count a pass of its own before the wrap is reported.
constexpr double kBelowStop = 1e-6;
constexpr double kReached = 1e-9;
// The most a pass's sound may begin before its start and still read as the start: a frame
// of video at 10 frames a second. Further below, a sample is a position of its own.
constexpr double kMaxLead = 0.1;
} // namespace

HeardClock::HeardClock(TimeSource now) : m_now(std::move(now)) {}

void HeardClock::setRate(double rate)
{
    if (m_running) {
        m_anchorPos = raw();
        m_anchorTime = m_now();
    }
    m_rate = rate;
}

double HeardClock::raw() const
{
    return m_running ? m_anchorPos + (m_now() - m_anchorTime) * m_rate : m_anchorPos;
}

double HeardClock::heard(const Bounds& bounds) const
{
    if (m_end == End::Reached) return m_endPos;
    double p = raw();
    if (m_wrapsPending > 0) {
        // The jump back shows only together with the wrap's report, due within a millisecond.
        p = std::min(p, m_wrapStop - kBelowStop);
    } else if (m_end == End::Due) {
        p = std::min(p, m_endPos);
    } else if (bounds.wrapStop && m_anchorPos <= *bounds.wrapStop + kBelowStop) {
        // The decoder never plays past the stop from inside the range; a late wrap must
        // not show a position beyond it.
        p = std::min(p, *bounds.wrapStop - kBelowStop);
    } else if (bounds.holdStop && m_anchorPos <= *bounds.holdStop + kBelowStop) {
        p = std::min(p, *bounds.holdStop);
    }
    if (p < m_passStart && p > m_passStart - kMaxLead) p = m_passStart;
    if (bounds.duration > 0) p = std::min(p, bounds.duration);
    return std::max(p, 0.0);
}

void HeardClock::holdAt(double at)
{
    m_anchorPos = at;
    m_anchorTime = m_now();
    m_running = false;
    m_passStart = at;
}

void HeardClock::freeze()
{
    const double r = raw();
    // Stands where a reader sees it: at the pass's start while the sound leads it.
    holdAt(r < m_passStart && r > m_passStart - kMaxLead ? m_passStart : r);
}

void HeardClock::run()
{
    m_anchorTime = m_now();
    m_running = true;
}

void HeardClock::sample(double value, bool running)
{
    m_anchorPos = value + m_wrapsPending * (m_wrapStop - m_wrapStart);
    m_anchorTime = m_now();
    m_running = running;
}

void HeardClock::wrapDecoded(double start, double stop)
{
    if (m_wrapsPending == 0) {
        m_wrapStart = start;
        m_wrapStop = stop;
    }
    ++m_wrapsPending;
}

void HeardClock::endDecoded(double at)
{
    m_end = End::Due;
    m_endPos = at;
}

void HeardClock::endWithdrawn()
{
    if (m_end == End::Due) m_end = End::None;
}

void HeardClock::leaveEnd()
{
    if (m_end == End::Reached) m_end = End::None;
}

void HeardClock::cancelPending()
{
    m_wrapsPending = 0;
    m_end = End::None;
}

HeardClock::Heard HeardClock::resolve()
{
    Heard heard;
    if (m_wrapsPending > 0) {
        const double len = m_wrapStop - m_wrapStart;
        while (m_wrapsPending > 0 && raw() >= m_wrapStop - kReached) {
            m_anchorPos -= len;
            m_passStart = m_wrapStart;
            --m_wrapsPending;
            ++heard.wraps;
        }
    }
    heard.ended = m_wrapsPending == 0 && m_end == End::Due && raw() >= m_endPos - kReached;
    return heard;
}

HeardClock::Heard HeardClock::reachEnd()
{
    if (m_end != End::Due) return {};
    const Heard heard{m_wrapsPending, true};
    m_wrapsPending = 0;
    m_end = End::Reached;
    holdAt(m_endPos);
    return heard;
}

double HeardClock::secondsPast(double at) const
{
    return m_running ? (raw() - at) / m_rate : 0.0;
}

std::optional<double> HeardClock::untilDue() const
{
    if (!m_running || (m_wrapsPending == 0 && m_end != End::Due)) return std::nullopt;
    const double target = m_wrapsPending > 0 ? m_wrapStop : m_endPos;
    return (target - raw()) / m_rate;
}

} // namespace audio
