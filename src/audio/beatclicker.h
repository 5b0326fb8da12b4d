#pragma once
// The metronome's clicks for a run of rendered sound: a click begins at the output frame
// where the run plays the beat's source frame, so a beat at source time t is heard
// (t - start) / rate after the pass's start, whatever the stretcher, the wraps or a rate
// changed on the way did. Runs on the sound engine's worker; render() neither allocates
// nor locks.
#include "audio/loopreader.h"
#include "audio/practiceplan.h"

#include <array>
#include <vector>

namespace audio {

class BeatClicker {
public:
    // Beats as source frames, ascending (`seconds` holds the frame). Allocates: call it
    // between runs, never where render() must not wait.
    void setBeats(std::vector<SourceClick> frames);
    bool hasBeats() const { return !m_beats.empty(); }
    // Clicks still sounding belong to sound no longer played (a seek, a new plan).
    void reset() { m_sounding = 0; }

    // Mono clicks for the run's `run.frames` frames into `lane`, the clicks begun in runs
    // before going on into it; false when the lane is silent. Runs must follow each other as
    // played: a run that holds still (step 0) passes no beat.
    bool render(const SourceRun& run, int sampleRate, float* lane);

private:
    struct Sounding {
        qint64 into = 0;  // frames of the click played before this run; negative: not begun
        bool accent = false;
    };
    std::vector<SourceClick> m_beats;
    std::array<Sounding, 8> m_clicks{};
    int m_sounding = 0;
};

} // namespace audio
