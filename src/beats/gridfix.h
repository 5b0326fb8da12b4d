#pragma once
// The user's corrections of a file's beat grid, kept apart from the analysis so that a new
// analysis never loses them, and the tap tempo they may come from. Pure values.
#include "beats/beatgrid.h"

#include <QByteArray>

#include <optional>
#include <vector>

namespace beats {

struct GridFix {
    static constexpr int kMinMeter = 2, kMaxMeter = 7;
    static constexpr int kMaxOctaves = 2;  // a tempo halved or doubled at most twice

    // A bar begins on the beat nearest this time.
    std::optional<double> downbeat;
    // The tempo doubled (+1) or halved (-1) so many times; beats put between or left out.
    int octaves = 0;
    // Above 0: even beats at this tempo over the whole file, through the downbeat.
    double tappedBpm = 0;
    // Beats in a bar (kMinMeter-kMaxMeter); 0 keeps the analysis's bars.
    int meter = 0;

    bool empty() const { return !downbeat && octaves == 0 && tappedBpm <= 0 && meter == 0; }
    bool operator==(const GridFix&) const = default;

    // Halving or doubling: a tapped tempo itself, else one octave more; false at the bounds.
    bool scaleTempo(int direction);

    // "key value" lines; unknown keys are skipped, so later additions stay readable here.
    QByteArray toText() const;
    // Values out of bounds are left out.
    static GridFix fromText(const QByteArray& text);
};

// `analysed` with `fix` applied. `length` (seconds, 0 when unknown) bounds a tapped grid;
// without it one reaches a beat past the analysed ones or the downbeat.
BeatGrid applyFix(const BeatGrid& analysed, const GridFix& fix, double length);

// Taps in time: the tempo from the intervals between the last taps, a pause starting over.
class TapTempo {
public:
    static constexpr double kRestartSeconds = 2.0;  // a longer gap starts a new count
    static constexpr int kKeptIntervals = 8;

    // A tap at `seconds` (any monotonic clock); returns the tempo so far, 0 after one tap.
    double tap(double seconds);
    double bpm() const;
    int taps() const { return m_taps; }
    void reset();

private:
    std::vector<double> m_intervals;
    double m_last = 0;
    int m_taps = 0;
};

} // namespace beats
