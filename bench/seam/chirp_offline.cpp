// The chirp case of run.sh as it should sound, made without any of the engine's code: the
// stretch START..STOP of the chirp, repeated by plain index arithmetic (a hard cut, landing
// on START to the sample), goes through Rubber Band with the engine's options at the given
// rate. Rubber Band's output does not depend on how its input is split into blocks, and a
// landing one frame off changes it by thousands, so a recording that matches this render
// lands on the start to the sample and keeps every pass's length. Raw 16-bit stereo at
// 44.1 kHz on standard output.
//   chirp_offline RATE SECONDS [START STOP] > out.raw
#include <rubberband/RubberBandStretcher.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

using RB = RubberBand::RubberBandStretcher;

namespace {

constexpr int kRate = 44100;

// The same signal as seamlib.chirp_samples: 200 Hz + 250 Hz per second of file.
float chirpAt(long frame)
{
    const double t = double(frame) / kRate;
    return float(std::round(16000 * std::sin(2 * M_PI * (200 * t + 250 * t * t / 2))) / 32768.0);
}

} // namespace

int main(int argc, char** argv)
{
    const double rate = argc > 1 ? std::atof(argv[1]) : 0.75;
    const double seconds = argc > 2 ? std::atof(argv[2]) : 8;
    const long start = std::lround((argc > 4 ? std::atof(argv[3]) : 2.0) * kRate);
    const long stop = std::lround((argc > 4 ? std::atof(argv[4]) : 3.0) * kRate);
    if (!(rate > 0) || stop <= start) {
        std::fprintf(stderr, "usage: chirp_offline RATE SECONDS [START STOP]\n");
        return 2;
    }
    RB rb(kRate, 2,
          RB::OptionProcessRealTime | RB::OptionEngineFiner | RB::OptionPitchHighSpeed,
          1.0 / rate, 1.0);
    std::vector<float> left(8192), right(8192);
    const std::size_t padFrames = rb.getPreferredStartPad();
    std::vector<float> zeros(std::max<std::size_t>(padFrames, 1), 0.0f);
    const float* pad[] = {zeros.data(), zeros.data()};
    rb.process(pad, padFrames, false);
    long drop = long(rb.getStartDelay());
    std::vector<short> out;
    const std::size_t want = std::size_t(seconds * kRate);
    for (long fed = 0; out.size() / 2 < want;) {
        const long n = std::min<long>(long(left.size()), std::max<long>(256, long(rb.getSamplesRequired())));
        for (long i = 0; i < n; ++i) left[i] = right[i] = chirpAt(start + (fed + i) % (stop - start));
        fed += n;
        const float* ins[] = {left.data(), right.data()};
        rb.process(ins, std::size_t(n), false);
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
