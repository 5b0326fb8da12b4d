#pragma once
// Where the metronome's clicks go on an output of their own that plays beside mpv: each
// beat of the file at the frame where mpv's sound plays it, from what is heard now (or
// where a held pass will start), the rate, and the passes that follow on without a hold.
// No clock and no threads: plain frames in, frames out.
#include "beats/beatclicks.h"

#include <QtGlobal>

#include <array>
#include <optional>
#include <vector>

namespace engine {

// The sound heard from one moment on: the source at `position` is heard at output frame
// `frame`, and plays on at `rate` to `stop`. Then, where `wrapStart` is set, it goes back
// there at once at `nextRate`, for `wraps` more passes (-1: without end).
struct HeardRun {
    bool running = false;  // false: nothing plays (paused, held without a start, stopped)
    qint64 frame = 0;
    double position = 0;
    double rate = 1;
    double stop = 0;
    bool wrapsOn = false;
    double wrapStart = 0;
    double nextRate = 1;
    int wraps = -1;
    // `frame` is timed by the output itself (a held pass's start), not sampled.
    bool exact = false;
};

// What changes mpv's speed: its own stretcher (put in at any speed but 1) or Rubber Band
// (in the filter list for a transpose, or for any rate but 1).
enum class MpvStretch { Own, RubberBand };

// How much later, in the source's seconds, the sound heard at `rate` is than mpv's
// audio-pts says.
double mpvHeardLag(double rate, MpvStretch stretch);
// How much earlier, in the source's seconds, mpv dates the sound out of Rubber Band at
// `rate` than it is: its loop and its end cut there by the date.
double mpvRubberBandEarly(double rate);

struct PlacedClick {
    qint64 frame = 0;
    bool accent = false;
    bool operator==(const PlacedClick&) const = default;
};

// Places each beat once. The run is told anew every few milliseconds, a little off each
// time (the heard position is an estimate), so a beat is taken as placed when a click lies
// within kSameBeat of it.
class BeatPlacer {
public:
    static constexpr double kSameBeatSeconds = 0.04;

    // The clicks of `beats` (ascending) heard in output frames [from, to) and not placed yet.
    std::vector<PlacedClick> place(const std::vector<beats::Tick>& beats, const HeardRun& run, int sampleRate,
                                   qint64 from, qint64 to);
    // Nothing placed any more counts (the clicks were silenced).
    void reset() { m_last.reset(); }

private:
    std::optional<qint64> m_last;
};

// The run told every few milliseconds, made steadier: where the source's start would be
// heard, averaged over the runs told lately. Each is a little off: the position heard is
// sampled on the UI thread, and mpv's speed change moves its reports in steps. A jump back,
// a new rate or a move further than kJumpSeconds (a wrap, a seek) starts afresh.
class HeardSmoother {
public:
    static constexpr double kJumpSeconds = 0.05;
    HeardRun smooth(const HeardRun& run, int sampleRate);
    void reset() { m_count = m_next = 0; }

private:
    std::array<double, 16> m_origins{};
    int m_count = 0;
    int m_next = 0;
    double m_rate = 0;
    double m_position = 0;
};

} // namespace engine
