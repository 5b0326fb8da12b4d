#pragma once
// Finds the beats and bars of a sound: an onset detection function (complex domain), a
// tempo track that follows tempo changes, and downbeats from the spectral change at each
// beat, with 3 or 4 beats a bar as the sound suggests. A MIDI file's own metre is exact and
// needs no listening. Everything here runs on whichever thread calls it.
#include "beats/beatgrid.h"

#include <QString>
#include <QtGlobal>

#include <atomic>
#include <memory>
#include <optional>
#include <vector>

class DetectionFunction;
class DownBeat;

namespace player::midi { struct Song; }

namespace player::beats {

// The rate the trackers are tuned for; sound of other rates is resampled to it.
constexpr int kAnalysisRate = 44100;

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

private:
    // The meter whose downbeats stand out most in the spectral change at each beat.
    static int chooseMeter(const std::vector<double>& beatChange);
    // The downbeats (indexes of beats) in `meter`, from the spectral change at each beat
    // but the first; the bar's phase may shift where the sound says so for long enough.
    static std::vector<int> followBars(const std::vector<double>& beatChange, int meter);

    std::unique_ptr<DetectionFunction> m_df;
    std::unique_ptr<DownBeat> m_downBeat;
    std::vector<double> m_frame;   // the detection function's window being filled
    std::vector<float> m_block;    // the downsampler's block being filled
    size_t m_frameFill = 0, m_blockFill = 0;
    std::vector<double> m_detection;
};

// The grid of a MIDI song's own metre.
BeatGrid fromSong(const midi::Song& song);

// The grid of a media file: a MIDI file's metre, else its decoded sound's (a video's too).
// Nothing, with `error` set, when it cannot be read; nothing when `cancel` turns true.
std::optional<BeatGrid> analyseFile(const QString& path, QString* error = nullptr,
                                    const std::atomic<bool>* cancel = nullptr);

} // namespace player::beats
