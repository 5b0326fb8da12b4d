#pragma once
// Which beats of a grid are clicked on: the bar before an entry's start that counts it in,
// and the beats a stretch of the file passes over. Plain values, for the sound engine's
// worker to turn into output frames.
#include "beats/beatgrid.h"

#include <vector>

namespace beats {

struct Tick {
    double seconds = 0;  // of the media, at rate 1
    bool downbeat = false;
    bool operator==(const Tick&) const = default;
};

// One bar of beats counting in to `start`: as many as the bar they lie in holds, the last
// the grid's beat before `start` (a start within a thousandth of a beat of one counts as on
// it, so that beat is the pass's own). Off the beat, the clicks keep the grid's phase: the
// pass then begins less than a beat after the last click. Beyond the grid's ends its edge
// intervals go on. Without bars the first is the accented one. Empty below two beats.
std::vector<Tick> countInBar(const BeatGrid& grid, double start);

// The grid's beats in [from, to), downbeats marked.
std::vector<Tick> beatsBetween(const BeatGrid& grid, double from, double to);

} // namespace beats
