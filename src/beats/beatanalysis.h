#pragma once
// Finds the beats and bars of a sound: an onset detection function (complex domain), a
// tempo track that follows tempo changes, and downbeats from the spectral change at each
// beat, with 3 or 4 beats a bar as the sound suggests. A MIDI file's own metre is exact and
// needs no listening. Everything here runs on whichever thread calls it.
#include "beats/beatgrid.h"
#include "beats/beattiming.h"

#include <QString>
#include <QtGlobal>

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <vector>

class DetectionFunction;
class DownBeat;

namespace midi { struct Song; }

namespace beats {

// The rate sound is analysed at, resampled to it: onsets and the downbeats' spectra need no
// more, and it halves the work of the CD rate. The steps below keep the time resolution the
// tempo tracker is built for.
constexpr int kAnalysisRate = 22050;

// Fed mono sound at kAnalysisRate block by block, so a long file never sits whole in memory.
class Analyser {
public:
    Analyser();
    ~Analyser();
    Analyser(const Analyser&) = delete;
    Analyser& operator=(const Analyser&) = delete;

    void add(const float* mono, qint64 frames);
    // The grid of everything added; empty when no beat was found (silence, a click).
    BeatGrid finish();
    // finish() rests this long between its stages (see analyseFile()).
    void setRest(std::chrono::microseconds rest) { m_rest = rest; }
    // Whether bars in `meter` are far clearer on the points halfway between the beats found
    // than on those beats, from the spectral change into each point but the first.
    static bool offTheBeat(const std::vector<double>& changeOn, const std::vector<double>& changeBetween, int meter);

private:
    void rest() const;
    // finish() without moving the beats to their onsets.
    BeatGrid findGrid();

    // The downbeats (indexes of `beats` beats) in `meter`, from the spectral change at each
    // beat but the first and the last; the bar's phase may shift where the sound says so
    // for long enough.
    struct Bars {
        std::vector<int> downbeats;
        double score = -1;  // the changes the downbeats gathered, less the shifts' cost
    };
    static Bars followBars(const std::vector<double>& beatChange, size_t beats, int meter);
    // The spectral change into each of `found` (detection steps) but the first.
    std::vector<double> changeAt(const float* low, size_t length, const std::vector<double>& found);
    // A grid in threes counted again in the dotted quarters of a 6/8, where its sound says
    // so (`df`: the detection function; `found`: the beats in its steps).
    static BeatGrid compoundBeats(BeatGrid grid, const std::vector<double>& df, const std::vector<double>& found);

    std::unique_ptr<DetectionFunction> m_df;
    std::unique_ptr<DownBeat> m_downBeat;
    std::vector<double> m_frame;   // the detection function's window being filled
    std::vector<float> m_block;    // the downsampler's block being filled
    size_t m_frameFill = 0, m_blockFill = 0;
    std::vector<double> m_detection;
    OnsetEnvelopes m_onsets;
    std::chrono::microseconds m_rest{0};
};

// Beaten at twice a slow piece's tempo (the tracker leans towards 120 a minute), every
// second beat may fall between its notes: a 6/8 at 60 dotted quarters a minute beaten every
// half second has every second beat between two eighths. Those beats gather next to nothing
// (a twentieth of what the others do in bench/beats, where a true offbeat gathers two thirds
// or more): under a quarter, they are left out.
// `df`: the detection function; `found`: the beats in its steps.
std::vector<double> beatsOnTheNotes(const std::vector<double>& df, std::vector<double> found);

// The other way: the tracker's tempo prior (120 a minute) halves a fast piece, at 180 a
// minute beating every second beat. Then the points between the beats found sound as much
// as the beats do, where a true offbeat sounds less (at most three quarters of the beats in
// bench/beats): from 85 %, the points between are beats too, as long as the beat stays
// slower than 210 a minute. `secondsPerStep`: the detection function's step.
std::vector<double> beatsBetweenToo(const std::vector<double>& df, std::vector<double> found, double secondsPerStep);

// The grid of a MIDI song's own metre.
BeatGrid fromSong(const midi::Song& song);

// The grid of a media file: a MIDI file's metre, else its decoded sound's (a video's too; the
// first hour of a longer one).
// Nothing, with `error` set, when it cannot be read; nothing when `cancel` turns true.
// `rest`: a sleep after each block of sound (a millisecond of work) and between the stages
// that follow. On a loaded machine a thread that never sleeps costs the other threads of its
// process their turns, whatever its priority (bench/beats: the UI thread's stalls); one
// that rests leaves them a core at once.
std::optional<BeatGrid> analyseFile(const QString& path, QString* error = nullptr,
                                    const std::atomic<bool>* cancel = nullptr,
                                    std::chrono::microseconds rest = {});

} // namespace beats
