#pragma once
// The beats and bars of a piece: each beat's time and which beats begin a bar. Times are
// seconds of the media as written (rate 1); a grid is a plain value, made once and read by
// anyone on any thread.
#include <QByteArray>

#include <optional>
#include <vector>

namespace beats {

struct BeatGrid {
    // Seconds, strictly ascending.
    std::vector<double> beats;
    // Indexes into `beats` of each bar's first beat (downbeat), strictly ascending. Beats
    // before the first one are a pickup.
    std::vector<int> bars;
    // Beats in a bar where the bars do not say (after the last downbeat, beyond the ends).
    int meter = 4;

    bool empty() const { return beats.empty(); }
    bool operator==(const BeatGrid&) const = default;
    // Beats ascending, bars ascending within them, a meter of at least 1.
    bool valid() const;

    // The beat nearest to `seconds`, or -1 for an empty grid.
    int nearestBeat(double seconds) const;
    // The time of the nearest beat; `seconds` itself for an empty grid.
    double snap(double seconds) const;

    // Where `seconds` lies counted in beats: 2.5 is half-way between the third and the
    // fourth beat. Before the first and after the last beat the edge's interval goes on.
    // Needs at least two beats.
    double beatPosition(double seconds) const;
    // The inverse of beatPosition().
    double timeOfBeat(double position) const;

    // The bar `seconds` lies in, counted from 0 at the first downbeat: negative in the
    // pickup and before it (bars of `meter` beats counted backwards), nullopt without bars.
    std::optional<int> barAt(double seconds) const;
    // The time bar `n` begins, bars beyond the detected ones continuing at `meter` beats.
    std::optional<double> barStart(int n) const;
    // The time `n` bars after `seconds` (before it for negative n), at the same place in
    // its bar counted in beats: the stop of a loop of n bars from `seconds`.
    std::optional<double> barsFrom(double seconds, int n) const;

    // Beats a minute at `seconds`, from the interval of the beats around it; 0 when unknown.
    double tempoAt(double seconds) const;

    QByteArray serialize() const;
    // Refuses anything damaged or inconsistent.
    static std::optional<BeatGrid> deserialize(const QByteArray& bytes);

private:
    // The beat index (fractional, extrapolated) at which bar n begins.
    std::optional<double> barBeat(int n) const;
};

} // namespace beats
