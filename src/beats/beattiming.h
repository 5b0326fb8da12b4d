#pragma once
// Beats found on the tracker's steps (11.6 ms) moved to where the note that carries them
// begins: the energy envelope of a band, in blocks of about 1.5 ms, is searched within a
// step either side for the onset with the greatest rise, and the beat goes to where that
// rise starts. Pure functions; any thread.
#include <cstddef>
#include <optional>
#include <vector>

namespace beats {

// Energy in blocks of `blockFrames` frames, in two bands: the first difference (attacks of
// drums and picked or struck strings) and under about 150 Hz (bass drum, bass).
class OnsetEnvelopes {
public:
    OnsetEnvelopes(double rate, size_t blockFrames);
    void add(const float* mono, size_t frames);
    double secondsPerBlock() const { return m_blockFrames / m_rate; }
    const std::vector<float>& attack() const { return m_attack; }
    const std::vector<float>& low() const { return m_low; }

private:
    double m_rate;
    size_t m_blockFrames;
    double m_lowCoeff;
    float m_previous = 0, m_lowState = 0;
    double m_attackSum = 0, m_lowSum = 0;
    size_t m_fill = 0;
    std::vector<float> m_attack, m_low;
};

// Where the steepest rise of `energy` within `reach` blocks of block `at` starts (a block
// index), and how great the rise is (log of the ratio); nothing without a clear onset.
struct Onset {
    double block = 0;
    double rise = 0;
};
std::optional<Onset> onsetNear(const std::vector<float>& energy, double at, int reach);

// Each beat (seconds) moved to its onset in the band whose onsets at the beats rise most
// over the piece; a beat without an onset near it stays.
std::vector<double> beatsOnOnsets(const std::vector<double>& beats, const OnsetEnvelopes& envelopes,
                                  double reachSeconds);

} // namespace beats
