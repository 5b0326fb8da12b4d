#include "beats/beattiming.h"

#include <algorithm>
#include <cmath>

namespace beats {
namespace {

// A rise is measured from the blocks before it (about 6 ms) to those after (about 4.5 ms).
constexpr int kBefore = 4, kAfter = 3;
// A clear onset: the energy at least trebles.
const double kClearRise = std::log(3.0);
constexpr double kFloor = 1e-12;
// The rise starts at the first block 30 % over the level before it (bench/beats: a
// rendered piano's note-on lies where its energy first grows, not where it doubles).
constexpr double kStartAt = 1.3;

double mean(const std::vector<float>& e, long from, long to)
{
    double sum = 0;
    for (long i = from; i < to; ++i) sum += e[size_t(i)];
    return sum / double(to - from) + kFloor;
}

} // namespace

OnsetEnvelopes::OnsetEnvelopes(double rate, size_t blockFrames)
    : m_rate(rate), m_blockFrames(blockFrames), m_lowCoeff(1 - std::exp(-2 * M_PI * 150.0 / rate))
{
}

void OnsetEnvelopes::add(const float* mono, size_t frames)
{
    for (size_t i = 0; i < frames; ++i) {
        const float x = mono[i];
        const float d = x - m_previous;
        m_previous = x;
        // One pole, 6 dB an octave over 150 Hz: it is the kick's rise, not its level,
        // that is looked for, and it costs nothing per sample.
        m_lowState += float(m_lowCoeff) * (x - m_lowState);
        m_attackSum += double(d) * d;
        m_lowSum += double(m_lowState) * m_lowState;
        if (++m_fill == m_blockFrames) {
            m_attack.push_back(float(m_attackSum));
            m_low.push_back(float(m_lowSum));
            m_attackSum = m_lowSum = 0;
            m_fill = 0;
        }
    }
}

std::optional<Onset> onsetNear(const std::vector<float>& energy, double at, int reach)
{
    const long centre = std::lround(at);
    const long first = std::max(long(kBefore), centre - reach);
    const long last = std::min(long(energy.size()) - kAfter, centre + reach);
    Onset best;
    long peak = -1;
    for (long k = first; k <= last; ++k) {
        const double rise = std::log(mean(energy, k, k + kAfter) / mean(energy, k - kBefore, k));
        if (rise > best.rise) {
            best.rise = rise;
            peak = k;
        }
    }
    if (peak < 0 || best.rise < kClearRise) return std::nullopt;
    const double before = mean(energy, peak - kBefore, peak);
    long start = peak;
    while (start > peak - kBefore && energy[size_t(start - 1)] > kStartAt * before) --start;
    best.block = double(start);
    return best;
}

std::vector<double> beatsOnOnsets(const std::vector<double>& beats, const OnsetEnvelopes& envelopes,
                                  double reachSeconds)
{
    const double perBlock = envelopes.secondsPerBlock();
    const int reach = int(std::lround(reachSeconds / perBlock));
    const std::vector<float>* bands[] = {&envelopes.attack(), &envelopes.low()};
    const std::vector<float>* carrier = bands[0];
    double most = -1;
    for (const std::vector<float>* band : bands) {
        double sum = 0;
        for (double b : beats)
            if (const auto onset = onsetNear(*band, b / perBlock, reach)) sum += onset->rise;
        if (sum > most) {
            most = sum;
            carrier = band;
        }
    }
    std::vector<double> out;
    out.reserve(beats.size());
    for (double b : beats) {
        const auto onset = onsetNear(*carrier, b / perBlock, reach);
        const double t = onset ? onset->block * perBlock : b;
        // Two beats never meet: one whose onset lies before the beat before keeps its step.
        out.push_back(out.empty() || t > out.back() ? t : std::max(b, out.back() + perBlock));
    }
    return out;
}

} // namespace beats
