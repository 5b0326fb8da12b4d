#pragma once
// Moving positions onto a beat grid: to the nearest beat, a beat or a bar on, a stretch of
// whole bars; and tempos as rates. Pure: the editor, the live keys and the trainer share them.
#include "beats/beatgrid.h"

#include <cmath>
#include <optional>

namespace beats {

// Positions put on a beat are kept to the millisecond, as heard ones are: beats are found
// to some ten milliseconds anyway.
inline double toMillisecond(double seconds) { return std::round(seconds * 1e3) / 1e3; }

// The beat (with `bar`, the bar start) strictly after (`direction` > 0) or before `seconds`,
// bars beyond the detected ones continuing at the grid's meter; nullopt where the grid has
// no such place (fewer than two beats, no bars for `bar`, before the first beat).
std::optional<double> stepFrom(const BeatGrid& grid, double seconds, int direction, bool bar);

struct BarStretch {
    double start = 0;
    double stop = 0;
    bool operator==(const BarStretch&) const = default;
};
// `bars` bars from the start of the bar `seconds` lies in. A grid without downbeats counts
// bars of `meter` beats from the nearest beat. Nullopt for fewer than two beats or bars < 1.
std::optional<BarStretch> barsAt(const BeatGrid& grid, double seconds, int bars);

// The stop of a loop of `bars` bars from `start`, at the same place in its bar; a grid
// without downbeats counts bars of `meter` beats. Nullopt for fewer than two beats.
std::optional<double> stopAfterBars(const BeatGrid& grid, double start, int bars);

// A speed trainer's rate for `bpm` over a piece at `tempo` beats a minute (to 1/10000),
// and back (to 1/1000 bpm: fine enough that a rate of 1/100 comes back the same).
// Zero where the tempo is unknown.
double rateForBpm(double bpm, double tempo);
double bpmForRate(double rate, double tempo);

} // namespace beats
