#pragma once
// A recording of list play held against the model of what it must sound like: the passes
// heard in order and where each began, to the frame; the silence and the frames lost at
// each change of pass or entry; every 10 ms window's level against the model's. For tests
// and benchmarks.
#include "offline/listmodel.h"
#include "offline/offlinestack.h"

namespace offline::model {

struct HeardPass {
    int entry = 0;
    int pass = 0;
    qint64 at = 0;  // the recording's frame where its sound began
};

struct Change {
    int into = 0;             // the heard pass the change leads into
    qint64 lengthError = 0;   // frames the pass before (with this one's preroll) ran over the model; < 0: lost
    qint64 silence = -1;      // the longest run of silent frames about the change; -1: a pause is due there
};

struct Check {
    std::vector<HeardPass> heard;
    int matching = 0;  // the leading heard passes that are the model's, in its order
    std::vector<Change> changes;
    int clicks = 0;      // count-in clicks due before the heard passes
    int clicksOff = 0;   // not heard exactly where due: silence just before, sound from there on
    int windows = 0;     // 10 ms windows compared
    int windowsOff = 0;  // more than 1 dB off the model's
    double worstDb = 0;  // the largest difference: < 0 quieter than the model
    int worstPass = -1;
};

// `starts`: each entry's start in seconds (0 for a whole file).
Check check(const OfflineStack& stack, const std::vector<Pass>& model, const std::vector<double>& starts);

} // namespace offline::model
