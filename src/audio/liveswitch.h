#pragma once
// A change made while the sound plays (a new stop, a new rate) replaces what was rendered
// ahead of the output from a chunk boundary a little ahead of what the output takes: the
// sound runs on without a gap, and the change is heard within the server's buffer rather
// than after all the worker had rendered. No threads and no clock.
#include <QtGlobal>

#include <deque>
#include <optional>

namespace audio {

// A chunk as it went into the ring.
struct Rendered {
    quint64 seq = 0;
    double sourcePos = 0;  // source frame of its first frame
    double step = 1;       // source frames a frame (0: a pause holding still)
    qint64 frames = 0;
    bool passStart = false;
    int pass = 0;          // the pass its frames are in, counted as the passes begun are heard
    quint64 entry = 0;     // the list entry it belongs to, counted as the engine hands over
};

struct Switch {
    quint64 keepUntil = 0;  // the last chunk still played; the ones after it are dropped
    double from = 0;        // the source frame the new rendering begins at
    int pass = 0;           // the pass the new rendering goes on in
};

// `taken`: the chunk the output plays now; `lead`: chunks left to play while the new ones
// are rendered. None when nothing is ahead of the output.
std::optional<Switch> chooseSwitch(const std::deque<Rendered>& rendered, quint64 taken, quint64 lead);

// The wraps left to a range that had `wraps` when pass `heardPass` was heard, once the
// rendering goes on in pass `pass`. Passes begun in chunks the output took but the
// listener has not heard yet count as well: the output's buffer holds some 100 ms.
int wrapsLeft(int wraps, int heardPass, int pass);

} // namespace audio
