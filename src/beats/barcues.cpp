#include "beats/barcues.h"

#include <dsp/transforms/FFT.h>

#include <algorithm>
#include <cmath>

namespace beats {
namespace {

constexpr double kPi = 3.14159265358979323846;

// Fills `frame` with `sound` around `centre` under a Hann window, zero beyond the ends.
void windowed(const float* sound, size_t length, double centre, std::vector<double>& frame)
{
    const size_t n = frame.size();
    const long first = std::lround(centre) - long(n / 2);
    for (size_t k = 0; k < n; ++k) {
        const long at = first + long(k);
        const double w = 0.5 - 0.5 * std::cos(2 * kPi * double(k) / double(n));
        frame[k] = at >= 0 && at < long(length) ? w * sound[at] : 0.0;
    }
}

} // namespace

std::vector<double> lowRise(const float* sound, size_t length, double rate, const std::vector<double>& beats)
{
    // 46 ms windows at 2.8 kHz resolve 20 Hz bins; energy is compared 23 ms apart, about
    // a kick's attack, at the beat and a step either way (the tracker's beats are steps).
    constexpr size_t kSize = 128;
    constexpr double kTop = 150.0, kBottom = 35.0;
    const double step = rate * 0.0116, gap = rate * 0.023;
    FFTReal fft{int(kSize)};
    std::vector<double> frame(kSize), mag(kSize);
    double all = 0;
    const auto energy = [&](double at) {
        windowed(sound, length, at, frame);
        fft.forwardMagnitude(frame.data(), mag.data());
        double e = 0;
        for (size_t k = 1; k <= kSize / 2; ++k) {
            const double f = double(k) * rate / kSize;
            if (f >= kBottom && f <= kTop) e += mag[k] * mag[k];
            all += mag[k] * mag[k];
        }
        return e;
    };
    // Energy before and after each beat, a step either way; the rise is a ratio, so a floor
    // a thousandth of the whole sound's mean energy keeps a window's leakage and a higher
    // note's attack out of silence from counting.
    std::vector<double> before, after;
    for (double b : beats)
        for (int s = -1; s <= 1; ++s) {
            before.push_back(energy(b + s * step - gap / 2));
            after.push_back(energy(b + s * step + gap / 2));
        }
    const double mean = 1e-12 + all / double(2 * after.size());
    std::vector<double> rise(beats.size(), 0.0);
    for (size_t i = 0; i < after.size(); ++i)
        rise[i / 3] = std::max(rise[i / 3], std::log((after[i] + mean / 1000) / (before[i] + mean / 1000)));
    return rise;
}

std::vector<Chroma> chromaBetween(const float* sound, size_t length, double rate, const std::vector<double>& beats)
{
    // 0.37 s at 2.8 kHz: 2.7 Hz bins, near a semitone apart down to some 90 Hz.
    constexpr size_t kSize = 1024;
    constexpr double kLow = 90.0, kHigh = 1200.0;
    FFTReal fft{int(kSize)};
    std::vector<double> frame(kSize), mag(kSize);
    std::vector<Chroma> out;
    for (size_t i = 0; i + 1 < beats.size(); ++i) {
        windowed(sound, length, (beats[i] + beats[i + 1]) / 2, frame);
        fft.forwardMagnitude(frame.data(), mag.data());
        Chroma c{};
        for (size_t k = 1; k < kSize / 2; ++k) {
            const double f = double(k) * rate / kSize;
            if (f < kLow || f > kHigh) continue;
            const long pitch = std::lround(12 * std::log2(f / 440.0));
            c[size_t(((pitch % 12) + 12) % 12)] += mag[k];
        }
        double norm = 0;
        for (double v : c) norm += v * v;
        if (norm > 0)
            for (double& v : c) v /= std::sqrt(norm);
        out.push_back(c);
    }
    return out;
}

std::vector<double> harmonicChange(const std::vector<Chroma>& between, size_t beats, size_t span)
{
    std::vector<double> change(beats, 0.0);
    for (size_t i = span; i + span <= between.size() && i < beats; ++i) {
        Chroma before{}, after{};
        for (size_t k = 0; k < span; ++k)
            for (size_t p = 0; p < 12; ++p) {
                before[p] += between[i - 1 - k][p];
                after[p] += between[i + k][p];
            }
        double dot = 0, nb = 0, na = 0;
        for (size_t p = 0; p < 12; ++p) {
            dot += before[p] * after[p];
            nb += before[p] * before[p];
            na += after[p] * after[p];
        }
        if (nb > 0 && na > 0) change[i] = 1 - dot / std::sqrt(nb * na);
    }
    return change;
}


std::vector<double> barAccents(const std::vector<double>& changeInto, const std::vector<double>& low,
                               const std::vector<double>& harmonic, const std::vector<double>& onset)
{
    // Against the mean over the beats but the first and the last (the edges compare with
    // silence or nothing); a cue that never sounds adds nothing.
    const auto relative = [](const std::vector<double>& v) {
        double mean = 0;
        const size_t from = v.size() > 2 ? 1 : 0, to = v.size() > 2 ? v.size() - 1 : v.size();
        for (size_t i = from; i < to; ++i) mean += v[i] / double(to - from);
        std::vector<double> out(v.size(), 0.0);
        if (mean > 0)
            for (size_t i = 0; i < v.size(); ++i) out[i] = v[i] / mean - 1;
        return out;
    };
    // Spectral change leads: it alone marks the bars of the rendered pieces; the other cues
    // settle the phase where it is even (recordings whose snare changes the spectrum most).
    constexpr double kCueWeight = 0.5;
    const std::vector<double> change = relative(changeInto), l = relative(low), h = relative(harmonic),
                              o = relative(onset);
    std::vector<double> accents(change.size());
    for (size_t i = 0; i < change.size(); ++i) {
        const size_t beat = i + 1;
        double cues = 0;
        for (const std::vector<double>* cue : {&l, &h, &o})
            if (beat < cue->size()) cues += (*cue)[beat];
        accents[i] = 1 + change[i] + kCueWeight * cues;
    }
    return accents;
}

} // namespace beats
