#include "beats/beatclicks.h"

#include <algorithm>
#include <cmath>

namespace beats {
namespace {

constexpr double kOnBeat = 1e-3;     // beats
constexpr double kSameTime = 1e-6;   // seconds

bool isDownbeat(const BeatGrid& g, double seconds)
{
    const std::optional<int> bar = g.barAt(seconds + kSameTime);
    if (!bar) return false;
    const std::optional<double> at = g.barStart(*bar);
    return at && std::abs(*at - seconds) < kSameTime;
}

// Beats in the bar holding `seconds`, or the grid's meter without bars.
int barLength(const BeatGrid& g, double seconds)
{
    const std::optional<int> bar = g.barAt(seconds + kSameTime);
    if (!bar) return g.meter;
    const std::optional<double> a = g.barStart(*bar), b = g.barStart(*bar + 1);
    const long n = std::lround(g.beatPosition(*b) - g.beatPosition(*a));
    return int(std::clamp<long>(n, 1, 32));
}

} // namespace

std::vector<Tick> countInBar(const BeatGrid& grid, double start)
{
    if (grid.beats.size() < 2) return {};
    const double last = std::ceil(grid.beatPosition(start) - kOnBeat) - 1;
    const int n = barLength(grid, grid.timeOfBeat(last));
    std::vector<Tick> bar;
    for (int k = n - 1; k >= 0; --k) {
        const double t = grid.timeOfBeat(last - k);
        bar.push_back({t, grid.bars.empty() ? k == n - 1 : isDownbeat(grid, t)});
    }
    return bar;
}

std::vector<Tick> beatsBetween(const BeatGrid& grid, double from, double to)
{
    std::vector<Tick> out;
    const auto first = std::lower_bound(grid.beats.begin(), grid.beats.end(), from);
    for (auto it = first; it != grid.beats.end() && *it < to; ++it) {
        const int i = int(it - grid.beats.begin());
        out.push_back({*it, std::binary_search(grid.bars.begin(), grid.bars.end(), i)});
    }
    return out;
}

} // namespace beats
