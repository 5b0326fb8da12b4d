#include "offline/offlinestretch.h"

#include "audio/stretcher.h"

#include <rubberband/RubberBandStretcher.h>

#include <algorithm>
#include <cmath>

namespace offline {

std::vector<float> offlineStretch(const std::vector<float>& in, int sampleRate, double rate, double pitch)
{
    using RB = RubberBand::RubberBandStretcher;
    const qint64 frames = qint64(in.size() / 2);
    const qint64 wanted = audio::stretchedFrames(double(frames), rate);
    // Enough silence after the input for all of its sound to come out (the finer engine
    // holds some 100 ms); its own end trims the last hops, which fall in the silence.
    const qint64 total = frames + 4 * sampleRate / 10 + 16384;
    std::vector<float> left(std::size_t(total), 0.0f), right(std::size_t(total), 0.0f);
    for (qint64 i = 0; i < frames; ++i) {
        left[std::size_t(i)] = in[std::size_t(i * 2)];
        right[std::size_t(i)] = in[std::size_t(i * 2 + 1)];
    }
    RB rb(std::size_t(sampleRate), 2, RB::OptionProcessOffline | RB::OptionEngineFiner, 1.0 / rate, pitch);
    const float* all[] = {left.data(), right.data()};
    rb.study(all, std::size_t(total), true);
    std::vector<float> out, l(8192), r(8192);
    out.reserve(std::size_t(wanted) * 2);
    const auto drain = [&] {
        for (int k; (k = std::min(rb.available(), 8192)) > 0;) {
            float* o[] = {l.data(), r.data()};
            rb.retrieve(o, std::size_t(k));
            for (int i = 0; i < k; ++i) {
                out.push_back(l[std::size_t(i)]);
                out.push_back(r[std::size_t(i)]);
            }
        }
    };
    // A first call short of a hop, as the real-time stretcher's first is its padding alone
    // (offline, the engine pads by itself; a call of nothing is not counted).
    rb.process(all, 1, false);
    for (qint64 at = 1; at < total && qint64(out.size() / 2) < wanted;) {
        const qint64 n = std::min<qint64>(std::max<qint64>(1, qint64(rb.getSamplesRequired())), total - at);
        const float* hop[] = {left.data() + at, right.data() + at};
        at += n;
        rb.process(hop, std::size_t(n), at >= total);
        drain();
    }
    out.resize(std::size_t(wanted) * 2, 0.0f);
    return out;
}

} // namespace offline
