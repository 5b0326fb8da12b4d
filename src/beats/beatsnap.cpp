#include "beats/beatsnap.h"

#include <algorithm>
#include <cmath>

namespace beats {
namespace {
// A position put on a beat, to the millisecond, counts as on it.
constexpr double kOnBeat = 0.6e-3;
} // namespace

std::optional<double> stepFrom(const BeatGrid& grid, double seconds, int direction, bool bar)
{
    if (grid.beats.size() < 2 || direction == 0) return std::nullopt;
    const int dir = direction > 0 ? 1 : -1;
    if (bar) {
        const std::optional<int> n = grid.barAt(seconds);
        if (!n) return std::nullopt;
        // From inside a bar, going back lands on its own start first.
        for (int k = *n + (dir > 0 ? 1 : 0); std::abs(k - *n) <= 2; k += dir) {
            const std::optional<double> t = grid.barStart(k);
            if (t && dir * (*t - seconds) > kOnBeat && *t >= 0) return t;
        }
        return std::nullopt;
    }
    const double p = grid.beatPosition(seconds);
    const double onto = std::round(p);
    const bool on = std::abs(grid.timeOfBeat(onto) - seconds) <= kOnBeat;
    const double next = on ? onto + dir : (dir > 0 ? std::ceil(p) : std::floor(p));
    // Only the detected beats: beyond them no beat is known.
    if (next < 0 || next > double(grid.beats.size() - 1)) return std::nullopt;
    return grid.beats[size_t(next)];
}

std::optional<BarStretch> barsAt(const BeatGrid& grid, double seconds, int bars)
{
    if (grid.beats.size() < 2 || bars < 1) return std::nullopt;
    if (grid.bars.empty()) {
        const int first = grid.nearestBeat(seconds);
        return BarStretch{grid.beats[size_t(first)], grid.timeOfBeat(first + double(bars) * grid.meter)};
    }
    const int bar = *grid.barAt(seconds);
    return BarStretch{*grid.barStart(bar), *grid.barStart(bar + bars)};
}

std::optional<double> stopAfterBars(const BeatGrid& grid, double start, int bars)
{
    if (grid.beats.size() < 2 || bars < 1) return std::nullopt;
    if (!grid.bars.empty()) return grid.barsFrom(start, bars);
    return grid.timeOfBeat(grid.beatPosition(start) + double(bars) * grid.meter);
}

double rateForBpm(double bpm, double tempo) { return tempo > 0 ? std::round(bpm / tempo * 1e4) / 1e4 : 0; }

double bpmForRate(double rate, double tempo) { return tempo > 0 ? std::round(rate * tempo * 1000) / 1000 : 0; }

} // namespace beats
