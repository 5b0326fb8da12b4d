// The chirp case of run.sh without threads, output or clock: the loop reader cuts 2-3 s of
// the chirp hard and an endless loop of it goes through Rubber Band with the engine's
// options at the given rate, fed in the engine's block sizes. Writes the stretched sound
// as raw 16-bit stereo at 44.1 kHz, to be read the way seam.py reads a recording: what
// this shows is the stretcher's sound, not a skip of the engine's worker or output.
//   chirp_offline RATE SECONDS > out.raw
#include "player/loopreader.h"

#include <rubberband/RubberBandStretcher.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

using RB = RubberBand::RubberBandStretcher;
using namespace player::audio;

namespace {

constexpr int kRate = 44100;

// The same signal as seamlib.chirp_samples: 200 Hz + 250 Hz per second of file.
class Chirp : public FrameSource {
public:
    qint64 frames() const override { return 12 * kRate; }
    qint64 readAt(qint64 pos, float* out, qint64 n) override
    {
        n = std::clamp<qint64>(frames() - pos, 0, n);
        for (qint64 i = 0; i < n; ++i) {
            const double t = double(pos + i) / kRate;
            const double v = std::round(16000 * std::sin(2 * M_PI * (200 * t + 250 * t * t / 2))) / 32768.0;
            out[2 * i] = out[2 * i + 1] = float(v);
        }
        return n;
    }
};

} // namespace

int main(int argc, char** argv)
{
    const double rate = argc > 1 ? std::atof(argv[1]) : 0.75;
    const double seconds = argc > 2 ? std::atof(argv[2]) : 8;
    Chirp chirp;
    LoopReader reader(chirp, 0);
    reader.setLoop(Loop{2 * kRate, 3 * kRate, -1, false});
    reader.seek(2 * kRate, true);
    RB rb(kRate, kChannels,
          RB::OptionProcessRealTime | RB::OptionPitchHighConsistency | RB::OptionTransientsMixed |
              RB::OptionEngineFaster,
          1.0 / rate, 1.0);
    std::vector<float> zeros(std::max<std::size_t>(rb.getPreferredStartPad(), 1), 0.0f);
    const float* pad[] = {zeros.data(), zeros.data()};
    rb.process(pad, rb.getPreferredStartPad(), false);
    long drop = long(rb.getStartDelay());
    std::vector<float> in, left, right;
    std::vector<short> out;
    const std::size_t want = std::size_t(seconds * kRate);
    while (out.size() / 2 < want) {
        const qint64 n = std::max<qint64>(256, qint64(rb.getSamplesRequired()));
        in.resize(std::size_t(n) * kChannels);
        const Block b = reader.read(in.data(), n);
        left.resize(std::size_t(std::max<qint64>(b.frames, 4096)));
        right.resize(left.size());
        for (qint64 i = 0; i < b.frames; ++i) left[i] = in[2 * i], right[i] = in[2 * i + 1];
        const float* ins[] = {left.data(), right.data()};
        rb.process(ins, std::size_t(b.frames), false);
        for (int k; (k = std::min(rb.available(), int(left.size()))) > 0;) {
            float* outs[] = {left.data(), right.data()};
            rb.retrieve(outs, std::size_t(k));
            for (int i = 0; i < k; ++i) {
                if (drop > 0) {
                    --drop;
                    continue;
                }
                out.push_back(short(std::lround(std::clamp(left[i], -1.0f, 1.0f) * 32767)));
                out.push_back(short(std::lround(std::clamp(right[i], -1.0f, 1.0f) * 32767)));
            }
        }
    }
    std::fwrite(out.data(), sizeof(short), out.size(), stdout);
    return 0;
}
