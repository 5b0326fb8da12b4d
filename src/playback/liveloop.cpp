#include "playback/liveloop.h"

#include "app/numbertext.h"
#include "beats/beatsnap.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace playback {
namespace {

// Heard positions are kept to the millisecond, as the grabber shows them; a nudge keeps
// what the user typed and only drops the sums' binary noise.
double toMillisecond(double s) { return std::round(s * 1e3) / 1e3; }
// A stop put where the listener is must not land a hair after it: the pass ends now.
double downToMillisecond(double s) { return std::floor(s * 1e3 + 1e-6) / 1e3; }
double toMicrosecond(double s) { return std::round(s * 1e6) / 1e6; }
double toHundredth(double r) { return std::round(r * 100) / 100; }

bool same(double a, double b) { return std::abs(a - b) < 1e-9; }

// The key's new positions in `s` before the clamps; false when it has none.
bool movePositions(const LiveNow& now, LiveKey key, bool coarse, LiveStretch& s)
{
    const LiveStretch& was = now.stretch;
    const double step = coarse ? live::kCoarseNudge : live::kNudge;
    const double end = now.duration > 0 ? now.duration : std::numeric_limits<double>::infinity();
    const beats::BeatGrid* grid = now.grid && now.grid->beats.size() >= 2 ? now.grid : nullptr;
    // Snapped, a nudge goes a beat (or a bar) on from where the position is.
    auto nudge = [&](double from, int dir, double unsnapped) -> std::optional<double> {
        if (!grid) return toMicrosecond(unsnapped);
        const auto to = beats::stepFrom(*grid, from, dir, coarse);
        return to ? std::optional<double>(beats::toMillisecond(*to)) : std::nullopt;
    };
    std::optional<double> moved;
    switch (key) {
    case LiveKey::StartHere: s.start = toMillisecond(grid ? grid->snap(now.heard) : now.heard); return true;
    case LiveKey::StopHere: s.stop = grid ? toMillisecond(grid->snap(now.heard)) : downToMillisecond(now.heard); return true;
    case LiveKey::StartEarlier: moved = nudge(was.start, -1, was.start - step); break;
    case LiveKey::StartLater: moved = nudge(was.start, 1, was.start + step); break;
    case LiveKey::StopEarlier: moved = nudge(std::min(was.stop, end), -1, std::min(was.stop, end) - step); break;
    case LiveKey::StopLater: moved = nudge(was.stop, 1, was.stop + step); break;
    case LiveKey::LoopBars: {
        const auto bars = grid ? beats::barsAt(*grid, now.heard, now.bars) : std::nullopt;
        if (!bars) return false;
        s.start = toMillisecond(std::max(0.0, bars->start));
        s.stop = toMillisecond(std::min(bars->stop, end));
        return s.stop - s.start >= live::kMinStretch;
    }
    case LiveKey::RateDown:
    case LiveKey::RateUp: return true;
    }
    if (!moved) return false;
    const bool start = key == LiveKey::StartEarlier || key == LiveKey::StartLater;
    (start ? s.start : s.stop) = *moved;
    return true;
}

} // namespace

LiveEdit liveEdit(const LiveNow& now, LiveKey key, bool coarse)
{
    const LiveStretch& was = now.stretch;
    LiveStretch s = was;
    const double end = now.duration > 0 ? now.duration : std::numeric_limits<double>::infinity();
    const bool here = key == LiveKey::StartHere || key == LiveKey::StopHere || key == LiveKey::LoopBars;
    if (here && !std::isfinite(now.heard)) return {};
    if (!movePositions(now, key, coarse, s)) return {};
    if (key == LiveKey::RateDown) s.rate = toHundredth(was.rate - live::kRateStep);
    if (key == LiveKey::RateUp) s.rate = toHundredth(was.rate + live::kRateStep);

    // The field the key moved gives way to the other, never the other way round.
    const bool movesStart = key == LiveKey::StartHere || key == LiveKey::StartEarlier || key == LiveKey::StartLater;
    const bool movesStop = key == LiveKey::StopHere || key == LiveKey::StopEarlier || key == LiveKey::StopLater;
    if (movesStart) {
        const double latest = was.stop - live::kMinStretch;
        if (latest < 0) return {};
        s.start = std::clamp(s.start, 0.0, latest);
    } else if (movesStop) {
        const double earliest = was.start + live::kMinStretch;
        if (earliest > end) return {};
        s.stop = std::clamp(s.stop, earliest, end);
    } else if (key != LiveKey::LoopBars) {
        s.rate = std::clamp(s.rate, kMinimumRate, kMaximumRate);
    }

    LiveEdit e;
    e.start = numtext::format(s.start);
    e.stop = numtext::format(s.stop);
    e.rate = numtext::format(s.rate);
    e.stretch = {numtext::parse(e.start).value_or(s.start), numtext::parse(e.stop).value_or(s.stop),
                 numtext::parse(e.rate).value_or(s.rate)};
    e.changed = !same(e.stretch.start, was.start) || !same(e.stretch.stop, was.stop) || !same(e.stretch.rate, was.rate);
    return e;
}

bool rowPlays(const QStringList& row, const QString& file, double start, double stop, bool wholeFile)
{
    if (row.isEmpty() || row.value(0) != file) return false;
    const auto rowStart = numtext::parseZeroPrefixed(row.value(1));
    const auto rowStop = numtext::parseZeroPrefixed(row.value(2));
    if (!rowStart || !rowStop) return false;
    if (wholeFile) return *rowStart == 0 && *rowStop == 0;
    return same(*rowStart, start) && same(*rowStop, stop);
}

bool rowIsWholeFile(const QStringList& row)
{
    return numtext::parseZeroPrefixed(row.value(1)) == 0.0 && numtext::parseZeroPrefixed(row.value(2)) == 0.0;
}

std::optional<LiveStretch> rowStretch(const QStringList& row, double duration)
{
    const auto start = numtext::parseZeroPrefixed(row.value(1));
    const auto stop = numtext::parseZeroPrefixed(row.value(2));
    const auto rate = numtext::parseZeroPrefixed(row.value(3));
    if (row.value(0).isEmpty() || !start || !stop || !rate) return std::nullopt;
    LiveStretch s{*start, *stop, *rate == 0 ? 1.0 : *rate};
    if (rowIsWholeFile(row)) {
        if (!(duration > 0)) return std::nullopt;
        s.stop = duration;
    }
    return s;
}

int stoppedKeyRow(int selected, int lastPlayed)
{
    return selected > 0 ? selected : std::max(0, lastPlayed);
}

RowEdit followEdit(const QStringList& before, const QStringList& after, const QString& file, const LiveStretch& was,
                   bool wholeFile)
{
    RowEdit e;
    if (!rowPlays(before, file, was.start, was.stop, wholeFile) || after.value(0) != file) return e;
    const auto s = rowStretch(after, was.stop);
    if (!s) return e;
    e.follows = true;
    e.moves = !rowIsWholeFile(after);
    e.stretch = e.moves ? *s : LiveStretch{was.start, was.stop, s->rate};
    return e;
}

} // namespace playback
