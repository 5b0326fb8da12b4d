#pragma once
// What list play must sound like, from the entries' numbers alone: the passes in order,
// wrapping to the first entry; each pass's rate (a trainer's too), the pause and count-in
// before it, and its sound: the source's frames by plain index arithmetic, seams blended
// with their power kept, stretched runs rendered offline by Rubber Band's finer engine
// (the reference for the level of stretched sound). No engine code, no threads, no clock.
// For tests and benchmarks.
#include "app/practice.h"

#include <vector>

namespace offline::model {

struct Source {
    int sampleRate = 44100;
    std::vector<float> frames;  // stereo, interleaved
    qint64 length() const { return qint64(frames.size() / 2); }
};

struct Entry {
    int source = 0;
    double start = 0;  // seconds; start and stop both 0: the whole file
    double stop = 0;
    double rate = 1;
    int loops = 1;
    PracticeSettings practice;
    // A rate key pressed during its first pass, the first time round: its next passes play
    // at this rate (0: none).
    double liveRate = 0;
    // The source frame the live rate's sound went on from, where the engine began it anew
    // (-1: not known; the pass is taken as played at the new rate from its start).
    qint64 liveFrom = -1;
};

struct Pass {
    int entry = 0;
    int pass = 0;  // counted from the entry's first
    int sampleRate = 44100;
    double rate = 1;
    bool live = false;           // a live change lands inside it: its sound and length are not known
    qint64 preroll = 0;          // frames of pause and count-in before its sound
    std::vector<qint64> clicks;  // where each click begins in the preroll
    std::vector<float> sound;    // stereo, at the source's rate
    double start = 0, stop = 0;  // its stretch in seconds; both 0: the whole file
    int runPass = 0;             // passes before it that ran through the same stretcher
    qint64 frames() const { return qint64(sound.size() / 2); }
};

// The frames the pass's sound lasts played at `outputRate`: another rate than its file's
// takes the stretch's ends in the output's frames, as the engine does, and a run of passes
// through one stretcher ends each where the frames fed so far end.
qint64 framesAt(const Pass& pass, int outputRate);

// The trainer's rate for `pass`, or the entry's own rate without one.
double passRate(const PracticeSettings& practice, double entryRate, int pass);

// Every pass of the list once round, then `wrapPasses` more from its first entry again.
std::vector<Pass> listPasses(const std::vector<Source>& sources, const std::vector<Entry>& entries, int wrapPasses = 1);

} // namespace offline::model
