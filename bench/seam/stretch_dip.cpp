// Where a stretched tone loses its level: Rubber Band alone on a held 440 Hz tone, and the
// same tone looped over 0.9173 s (not a whole number of periods) with the seam blended
// the engine's way (correlated gains) or with plain equal-power gains, at each rate and
// option. Prints the deepest 10 ms window against the median one, and the click figure
// (the largest step against 1.5 times the tone's own), as seam.py reads the recording.
//   stretch_dip
#include "audio/loopreader.h"

#include <rubberband/RubberBandStretcher.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

using RB = RubberBand::RubberBandStretcher;
using audio::blendGains;
using audio::correlation;
using audio::fadeInGain;
using audio::fadeOutGain;

namespace {

constexpr int kRate = 44100;
constexpr double kAmp = 16000.0 / 32768.0;

float tone(long i) { return float(kAmp * std::sin(2 * M_PI * 440.0 * double(i) / kRate)); }

enum class Seam { None, EqualPower, Correlated };

struct Figures {
    double dipDb;
    double click;
};

Figures run(double rate, RB::Options options, Seam seam, long fade)
{
    RB rb(kRate, 1, RB::OptionProcessRealTime | RB::OptionPitchHighConsistency | options, 1.0 / rate, 1.0);
    std::vector<float> pad(std::max<std::size_t>(rb.getPreferredStartPad(), 1), 0.0f);
    const float* padIn[] = {pad.data()};
    rb.process(padIn, rb.getPreferredStartPad(), false);
    long drop = long(rb.getStartDelay());
    const long start = 2 * kRate, stop = start + long(0.9173 * kRate);
    // The seam's correlation, as the loop reader measures it.
    std::vector<float> head(std::size_t(2 * fade)), tail(std::size_t(2 * fade));
    for (long k = 0; k < fade; ++k) {
        head[2 * k] = head[2 * k + 1] = tone(start + k);
        tail[2 * k] = tail[2 * k + 1] = tone(stop + k);
    }
    const double r = seam == Seam::Correlated ? correlation(head.data(), tail.data(), fade) : 0.0;
    std::vector<float> in, out, buf(4096);
    long pos = seam == Seam::None ? 0 : start;
    while (out.size() < std::size_t(6.0 / rate * kRate)) {
        in.resize(std::max<std::size_t>(256, rb.getSamplesRequired()));
        for (float& v : in) {
            if (seam != Seam::None && pos >= stop) pos = start;
            v = tone(pos);
            if (seam != Seam::None && pos - start < fade) {
                const long k = pos - start;
                const auto g = seam == Seam::Correlated ? blendGains(k, fade, r)
                                                         : audio::BlendGains{fadeInGain(k, fade), fadeOutGain(k, fade)};
                v = v * g.in + tone(stop + k) * g.out;
            }
            ++pos;
        }
        const float* ins[] = {in.data()};
        rb.process(ins, in.size(), false);
        for (int n; (n = std::min(rb.available(), int(buf.size()))) > 0;) {
            float* outs[] = {buf.data()};
            rb.retrieve(outs, std::size_t(n));
            for (int i = 0; i < n; ++i)
                if (drop > 0) --drop;
                else out.push_back(buf[std::size_t(i)]);
        }
    }
    const std::size_t w = kRate / 100, from = kRate / 2;
    std::vector<double> levels;
    for (std::size_t i = from; i + w < out.size(); i += w) {
        double s = 0;
        for (std::size_t k = 0; k < w; ++k) s += double(out[i + k]) * out[i + k];
        levels.push_back(std::sqrt(s / double(w)));
    }
    std::vector<double> sorted = levels;
    std::sort(sorted.begin(), sorted.end());
    double step = 0;
    for (std::size_t i = from; i + 1 < out.size(); ++i) step = std::max(step, double(std::abs(out[i + 1] - out[i])));
    return {20 * std::log10(sorted.front() / sorted[sorted.size() / 2]),
            step / (1.5 * 2 * M_PI * 440.0 / kRate * kAmp)};
}

} // namespace

int main()
{
    struct Option {
        const char* name;
        RB::Options bits;
    };
    const Option options[] = {{"crisp (default)", 0},
                              {"mixed", RB::OptionTransientsMixed},
                              {"smooth", RB::OptionTransientsSmooth},
                              {"window short", RB::OptionWindowShort},
                              {"smoothing on", RB::OptionSmoothingOn},
                              {"phase independent", RB::OptionPhaseIndependent},
                              {"formant preserved", RB::OptionFormantPreserved},
                              {"finer engine (R3)", RB::OptionEngineFiner}};
    struct Case {
        const char* name;
        Seam seam;
        long fadeMs;
    };
    const Case cases[] = {{"held tone, no seam", Seam::None, 0},
                          {"loop, equal power 5 ms", Seam::EqualPower, 5},
                          {"loop, correlated 5 ms", Seam::Correlated, 5},
                          {"loop, correlated 30 ms", Seam::Correlated, 30}};
    std::printf("| options | case | dip 0.75 dB | click 0.75 | dip 0.5 dB | click 0.5 |\n|---|---|---|---|---|---|\n");
    for (const Option& o : options)
        for (const Case& c : cases) {
            const Figures a = run(0.75, o.bits, c.seam, c.fadeMs * kRate / 1000);
            const Figures b = run(0.5, o.bits, c.seam, c.fadeMs * kRate / 1000);
            std::printf("| %s | %s | %.1f | %.2f | %.1f | %.2f |\n", o.name, c.name, a.dipDb, a.click, b.dipDb, b.click);
            std::fflush(stdout);
        }
    return 0;
}
