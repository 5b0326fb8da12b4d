#include "engine/mpv/beatschedule.h"

#include "engine/mpv/mpvhear.h"

#include <algorithm>
#include <cmath>

namespace engine {

namespace {

// The beats of [begin, end) of the source heard from `origin` (the frame where `begin` is
// heard) at `rate`, those in [from, to) only.
void pass(const std::vector<beats::Tick>& beats, double begin, double end, double origin, double rate, int sampleRate,
          qint64 from, qint64 to, std::vector<PlacedClick>& out)
{
    auto it = std::lower_bound(beats.begin(), beats.end(), begin,
                               [](const beats::Tick& t, double at) { return t.seconds < at; });
    for (; it != beats.end() && it->seconds < end; ++it) {
        const qint64 at = qint64(std::llround(origin + (it->seconds - begin) / rate * sampleRate));
        if (at >= to) return;
        if (at >= from) out.push_back({at, it->downbeat});
    }
}

} // namespace

double mpvHeardLag(double rate, MpvStretch stretch)
{
    if (stretch == MpvStretch::Own) {
        // mpv's own stretcher dates its output by the middle of its search, while the sound
        // there comes from half its 20 ms overlap window before: measured at 0.75, clicks by
        // audio-pts alone came 9-11 ms early against the stretched beats (within 3 ms at 1).
        static constexpr double kOwnStretchLag = 0.010;
        return kHearChainDelaySeconds + (rate != 1.0 ? kOwnStretchLag : 0.0);
    }
    // The hear chain comes before Rubber Band: its delay is the source's, as with mpv's own.
    return kHearChainDelaySeconds - mpvRubberBandEarly(rate);
}

double mpvRubberBandEarly(double rate)
{
    // mpv dates Rubber Band's output as if its latency passed at the source's pace while it
    // passes at the output's. Fitted to clicks placed by audio-pts and the hear chain's
    // delay alone: 5 ms early at 1, 12 ms late at 0.75, 47 ms late at 0.5 (the finer engine,
    // 44.1 kHz).
    static constexpr double kAtOne = -0.005;
    static constexpr double kLatency = 0.0514;
    return kLatency * (1.0 - rate) + kAtOne * rate;
}

std::vector<PlacedClick> BeatPlacer::place(const std::vector<beats::Tick>& beats, const HeardRun& run, int sampleRate,
                                           qint64 from, qint64 to)
{
    std::vector<PlacedClick> found;
    if (!run.running || !(run.rate > 0) || beats.empty()) return found;
    // A held pass's start may read a hair past its first beat (the clock ran on a moment
    // between the wrap and the hold): that beat is still the pass's.
    constexpr double kHeldSlack = 0.002;
    const double begin = run.exact ? run.position - kHeldSlack : run.position;
    // A beat at the stop is the next pass's start, never heard before the wrap.
    pass(beats, begin, run.stop, double(run.frame) - (run.position - begin) / run.rate * sampleRate, run.rate,
         sampleRate, from, to, found);
    double origin = double(run.frame) + (run.stop - run.position) / run.rate * sampleRate;
    const double length = run.stop - run.wrapStart;
    // Passes too short to hold a click apart are left out rather than looped for ever.
    if (run.wrapsOn && run.nextRate > 0 && length * sampleRate / run.nextRate >= 1)
        for (int n = 0; (run.wraps < 0 || n < run.wraps) && origin < double(to); ++n) {
            pass(beats, run.wrapStart, run.stop, origin, run.nextRate, sampleRate, from, to, found);
            origin += length / run.nextRate * sampleRate;
        }
    std::vector<PlacedClick> out;
    const qint64 same = qint64(kSameBeatSeconds * sampleRate);
    for (const PlacedClick& c : found) {
        if (m_last && c.frame < *m_last + same) continue;
        out.push_back(c);
        m_last = c.frame;
    }
    return out;
}

HeardRun HeardSmoother::smooth(const HeardRun& run, int sampleRate)
{
    if (!run.running || !(run.rate > 0) || run.exact) {
        reset();
        return run;
    }
    const double origin = double(run.frame) - run.position / run.rate * sampleRate;
    double mean = 0;
    for (int i = 0; i < m_count; ++i) mean += m_origins[std::size_t(i)];
    if (m_count > 0) mean /= m_count;
    if (m_count > 0 && (run.rate != m_rate || run.position < m_position - kJumpSeconds ||
                        std::abs(origin - mean) > kJumpSeconds * sampleRate))
        reset();
    m_rate = run.rate;
    m_position = run.position;
    m_origins[std::size_t(m_next)] = origin;
    m_next = (m_next + 1) % int(m_origins.size());
    m_count = std::min(m_count + 1, int(m_origins.size()));
    mean = 0;
    for (int i = 0; i < m_count; ++i) mean += m_origins[std::size_t(i)];
    mean /= m_count;
    HeardRun out = run;
    out.frame = qint64(std::llround(mean + run.position / run.rate * sampleRate));
    return out;
}

} // namespace engine
