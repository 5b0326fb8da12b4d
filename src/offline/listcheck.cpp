#include "offline/listcheck.h"

#include <algorithm>
#include <cmath>

namespace offline::model {

namespace {

constexpr double kWindowSeconds = 0.010;
constexpr double kChangeSeconds = 0.030;  // how far about a change silence is looked for
constexpr double kQuiet = 0.01;           // windows the model has quieter than this (-40 dB) are not compared

int rateAt(const OfflineStack& stack, qint64 frame)
{
    int rate = stack.rates.empty() ? 44100 : stack.rates.front().sampleRate;
    for (const auto& r : stack.rates)
        if (r.frame <= frame) rate = r.sampleRate;
    return rate;
}

double rms(const float* f, qint64 frames)
{
    double sum = 0;
    for (qint64 i = 0; i < frames * 2; ++i) sum += double(f[i]) * f[i];
    return frames > 0 ? std::sqrt(sum / double(frames * 2)) : 0.0;
}

qint64 longestSilence(const std::vector<float>& rec, qint64 from, qint64 to)
{
    qint64 best = 0, run = 0;
    for (qint64 i = std::max<qint64>(0, from); i < std::min<qint64>(to, qint64(rec.size() / 2)); ++i) {
        run = rec[i * 2] == 0.0f && rec[i * 2 + 1] == 0.0f ? run + 1 : 0;
        best = std::max(best, run);
    }
    return best > 1 ? best : 0;  // a lone zero is a tone crossing it
}

// Where each pass began, from what the UI side saw after each block: a new row selected
// or the position jumping back starts a pass; once the position has moved off the
// entry's start, the sound began that far back at the pass's rate.
std::vector<HeardPass> heardPasses(const OfflineStack& stack, const std::vector<Pass>& model,
                                   const std::vector<double>& starts)
{
    std::vector<HeardPass> heard;
    int selections = 0, entry = -1, pass = 0;
    double last = 0;
    bool pending = false;
    for (const auto& s : stack.seen) {
        if (s.selections != selections) {
            selections = s.selections;
            entry = s.row - 1;
            pass = 0;
            pending = true;
        } else if (s.position < last - 0.01) {
            ++pass;
            pending = true;
        }
        last = s.position;
        if (!pending || !s.playing || entry < 0 || entry >= int(starts.size()) || s.position <= starts[entry] + 1e-7)
            continue;
        double rate = 1;
        for (const Pass& p : model)
            if (p.entry == entry && p.pass == pass) rate = p.rate;
        // The run heard now began a whole number of frames back; its first frame may map
        // up to one step past the start, so the count is rounded down.
        const double back = (s.position - starts[entry]) * rateAt(stack, s.frame) / rate;
        heard.push_back({entry, pass, s.frame - qint64(std::floor(back + 1e-6))});
        pending = false;
    }
    return heard;
}

} // namespace

Check check(const OfflineStack& stack, const std::vector<Pass>& model, const std::vector<double>& starts)
{
    Check c;
    c.heard = heardPasses(stack, model, starts);
    while (c.matching < int(std::min(c.heard.size(), model.size())) && c.heard[c.matching].entry == model[c.matching].entry &&
           c.heard[c.matching].pass == model[c.matching].pass)
        ++c.matching;
    const std::vector<float>& rec = stack.recording;
    for (int k = 0; k < c.matching; ++k) {
        const Pass& p = model[std::size_t(k)];
        const qint64 at = c.heard[k].at;
        const double scale = double(rateAt(stack, at)) / p.sampleRate;  // output frames a source frame
        if (k > 0 && !model[std::size_t(k - 1)].live) {
            const Pass& before = model[std::size_t(k - 1)];
            // Each at its own file's rate: the preroll is counted at the next entry's.
            const qint64 due = framesAt(before, rateAt(stack, c.heard[k - 1].at)) +
                               qint64(std::llround(double(p.preroll) * rateAt(stack, at) / p.sampleRate));
            const qint64 near = qint64(kChangeSeconds * rateAt(stack, at));
            c.changes.push_back({k, at - c.heard[k - 1].at - due, p.preroll > 0 ? -1 : longestSilence(rec, at - near, at + near)});
        }
        for (qint64 click : p.clicks) {
            // A click's first sample is 0 (it starts as a sine), its next ones are not.
            const qint64 f = at - qint64(std::llround((p.preroll - click) * scale));
            const bool quietBefore = click < 8 || f < 8 || longestSilence(rec, f - 8, f + 1) == 9;
            const bool soundAfter = f >= 0 && f + 3 <= qint64(rec.size() / 2) && rec[f * 2] == 0 &&
                                   rec[(f + 1) * 2] != 0 && rec[(f + 2) * 2] != 0;
            ++c.clicks;
            if (!quietBefore || !soundAfter) ++c.clicksOff;
        }
        const qint64 n = qint64(std::llround(kWindowSeconds * p.sampleRate));
        const qint64 nOut = qint64(std::llround(n * scale));
        for (qint64 w = 0; !p.live && (w + 1) * n <= p.frames(); ++w) {
            const qint64 from = at + qint64(std::llround(w * n * scale));
            if (from < 0 || (from + nOut) * 2 > qint64(rec.size())) break;
            const double want = rms(p.sound.data() + w * n * 2, n);
            if (want < kQuiet) continue;
            const double got = rms(rec.data() + from * 2, nOut);
            const double db = got > 0 ? 20 * std::log10(got / want) : -120.0;
            ++c.windows;
            if (std::abs(db) > 1.0) ++c.windowsOff;
            if (std::abs(db) > std::abs(c.worstDb)) {
                c.worstDb = db;
                c.worstPass = k;
            }
        }
    }
    return c;
}

} // namespace offline::model
