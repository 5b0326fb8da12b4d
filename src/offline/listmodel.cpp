#include "offline/listmodel.h"

#include "offline/offlinestretch.h"
#include "audio/stretcher.h"

#include <algorithm>
#include <cmath>

namespace offline::model {

namespace {

// A seam blends over this long, a stretched entry's longer (the stretcher's window hears
// a fast turn of phase as two sounds); never over more than half a pass.
constexpr int kBlendMs = 30;
constexpr int kStretchedBlendMs = 30;
constexpr qint64 kContext = 4096;  // source frames around a stretched run

qint64 toFrames(double seconds, int sampleRate)
{
    return qint64(std::llround(std::max(0.0, seconds) * sampleRate));
}

// A pass before its sound is made.
struct Planned {
    Pass pass;
    const Source* source = nullptr;
    qint64 from = 0, to = 0;  // source frames
    double pitch = 1;
    bool stretches = false;  // its entry plays through the stretcher
    qint64 blend = 0;
    int round = 0;  // which time round the list this entry plays
    qint64 liveFrom = -1;
    // Its sound fades in from silence, or out into silence: nothing of the source lies
    // beyond that end for the stretcher to hear.
    bool fadesIn = false, fadesOut = false;
};

// `heard`: the seconds the pass's sound lasts, which a pause by length is a multiple of.
Pass prerolled(const PracticeSettings& p, int pass, int sampleRate, double heard)
{
    Pass out;
    out.preroll = p.pauseFactor > 0 ? toFrames(p.pauseFactor * heard, sampleRate) : p.hasPause() ? toFrames(p.pause, sampleRate) : 0;
    if (p.hasCountIn() && (pass == 0 || p.countInWhen == PracticeSettings::CountInWhen::EveryPass)) {
        // The pass begins one beat after the last click.
        const double beat = 60.0 * sampleRate / p.countInBpm;
        for (int i = 0; i < p.countInClicks; ++i) out.clicks.push_back(out.preroll + qint64(std::llround(i * beat)));
        out.preroll += qint64(std::llround(p.countInClicks * beat));
    }
    return out;
}

// The two gains of a blend at frame i of n whose sounds correlate by r: their sum keeps
// its power, a^2 + b^2 + 2rab = 1, with a rising and b falling symmetrically.
std::pair<double, double> blendGains(qint64 i, qint64 n, double r)
{
    r = std::clamp(r, -0.9, 1.0);
    const double t = 2.0 * (double(i) + 0.5) / double(n) - 1.0;
    const double odd = 0.5 * std::sin(M_PI / 2 * t);
    const double even = std::sqrt(std::max(0.0, 0.5 / (1 + r) - (1 - r) / (1 + r) * odd * odd));
    return {even + odd, even - odd};
}

// The seam from `a` into `b`: `b` blends out what followed `a`'s stop, or, where a pause
// or another rate or pitch comes between (or nothing follows the stop: a whole file's
// end), `a` fades out and `b` fades in, whatever the two files' sample rates.
void seam(Planned& a, Planned& b, std::vector<float>& aFrames, std::vector<float>& bFrames)
{
    if (a.blend <= 0) return;
    const qint64 n = a.blend;
    // Another file's rate is resampled to the output's: `b` blends out `a`'s tail at its own.
    const double step = double(a.source->sampleRate) / b.source->sampleRate;
    const qint64 nb = qint64(std::llround(double(n) / step));
    // A live change left `a` playing at `b`'s rate by its end.
    const bool cut = b.pass.preroll > 0 || (!a.pass.live && b.pass.rate != a.pass.rate) || b.pitch != a.pitch;
    std::vector<float> tail(std::size_t(nb) * 2, 0.0f);
    if (!cut && a.to + n + 1 <= a.source->length()) {
        for (qint64 i = 0; i < nb; ++i) {
            const double x = double(a.to) + double(i) * step;
            const qint64 k = qint64(x);
            const float f = float(x - double(k));
            for (int c = 0; c < 2; ++c)
                tail[std::size_t(i * 2 + c)] = a.source->frames[std::size_t(k * 2 + c)] * (1 - f) + a.source->frames[std::size_t(k * 2 + 2 + c)] * f;
        }
    } else {
        a.fadesOut = b.fadesIn = true;
        const qint64 len = qint64(aFrames.size() / 2);
        for (qint64 i = 0; i < std::min(n, len); ++i) {
            const float g = float(std::cos(M_PI / 2 * (double(i) + 0.5) / double(n)));
            aFrames[std::size_t(len - n + i) * 2] *= g;
            aFrames[std::size_t(len - n + i) * 2 + 1] *= g;
        }
    }
    const qint64 m = std::min<qint64>(nb, qint64(bFrames.size() / 2));
    double ab = 0, aa = 0, bb = 0;
    for (qint64 i = 0; i < m * 2; ++i) {
        ab += double(bFrames[i]) * tail[i];
        aa += double(bFrames[i]) * bFrames[i];
        bb += double(tail[i]) * tail[i];
    }
    const double r = aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0.0;
    for (qint64 i = 0; i < m; ++i) {
        const auto [in, out] = blendGains(i, nb, r);
        for (int c = 0; c < 2; ++c)
            bFrames[i * 2 + c] = float(bFrames[i * 2 + c] * in + tail[i * 2 + c] * out);
    }
}

// The stretcher, offline, eases in and out over its window at the ends of what it is given;
// a stretched run must not: it goes in between the source's own frames around it (where
// the file has them), whose output is dropped.
std::vector<float> stretched(const std::vector<float>& before, const std::vector<float>& run, const std::vector<float>& after,
                             int sampleRate, double rate, double pitch, qint64 outFrames)
{
    std::vector<float> in = before;
    in.insert(in.end(), run.begin(), run.end());
    in.insert(in.end(), after.begin(), after.end());
    std::vector<float> out = offlineStretch(in, sampleRate, rate, pitch);
    const qint64 drop = std::min<qint64>(qint64(std::llround(double(before.size() / 2) / rate)), qint64(out.size() / 2));
    out.erase(out.begin(), out.begin() + drop * 2);
    out.resize(std::size_t(outFrames) * 2, 0.0f);
    return out;
}

// Each entry's passes that play without a cut between them run through one stretcher, a
// whole file's first one too (its end fades and its start fades in, the stretcher runs on):
// pass k ends where the frames fed so far, at its rate, end.
void render(std::vector<Planned>& plan, std::vector<std::vector<float>>& frames)
{
    const auto sameRun = [&](std::size_t a, std::size_t b) {
        return b < plan.size() && plan[b].round == plan[a].round && plan[b].pass.entry == plan[a].pass.entry &&
               plan[b].pass.preroll == 0;
    };
    for (std::size_t first = 0; first < plan.size();) {
        // A live change leaves the stretcher running at the next pass's rate by the end of
        // its pass: the passes after it go on through the same stretcher.
        const double rate = plan[first].pass.live && sameRun(first, first + 1) ? plan[first + 1].pass.rate : plan[first].pass.rate;
        std::size_t last = first + 1;
        while (sameRun(first, last) && plan[last].pass.rate == rate) ++last;
        const Planned& head = plan[first];
        for (std::size_t k = first; k < last; ++k) plan[k].pass.runPass = int(k - first);
        if (!head.stretches) {
            for (std::size_t k = first; k < last; ++k) plan[k].pass.sound = std::move(frames[k]);
        } else {
            std::vector<float> in;
            std::vector<qint64> ends;
            // A live change's stretcher begins where it landed, hearing the source before.
            const qint64 skip = head.liveFrom >= 0 ? head.liveFrom - head.from : 0;
            for (std::size_t k = first; k < last; ++k) {
                in.insert(in.end(), frames[k].begin() + (k == first ? skip * 2 : 0), frames[k].end());
                ends.push_back(audio::stretchedFrames(double(in.size() / 2), rate));
            }
            const Source& src = *head.source;
            const qint64 begin = head.from + skip;
            const bool context = !head.fadesIn || skip > 0;
            const qint64 from = context ? std::max<qint64>(0, begin - kContext) : begin, to = plan[last - 1].to;
            const qint64 until = plan[last - 1].fadesOut ? to : std::min(src.length(), to + kContext);
            std::vector<float> before(src.frames.begin() + from * 2, src.frames.begin() + begin * 2);
            // Near the file's start the context is the silence before its first frame, as
            // the real-time stretcher hears it: the offline one eases in over the first
            // frames it is given: on sound, its first 10 ms come up to 2.5 dB soft.
            if (context && begin > 0 && begin < kContext) before.insert(before.begin(), std::size_t(kContext - begin) * 2, 0.0f);
            // Blending out of another stretched entry's end, it hears that end, as the engine's does.
            const Planned* prev = first > 0 ? &plan[first - 1] : nullptr;
            if (context && skip == 0 && prev && prev->stretches && prev->source->sampleRate == src.sampleRate) {
                const std::vector<float>& heard = frames[first - 1];
                before.assign(heard.end() - std::min<qint64>(kContext, qint64(heard.size() / 2)) * 2, heard.end());
            }
            const std::vector<float> after(src.frames.begin() + to * 2, src.frames.begin() + until * 2);
            const std::vector<float> out = stretched(before, in, after, src.sampleRate, rate, head.pitch, ends.back());
            qint64 at = 0;
            for (std::size_t k = first; k < last; ++k) {
                plan[k].pass.sound.assign(out.begin() + at * 2, out.begin() + ends[k - first] * 2);
                at = ends[k - first];
            }
        }
        first = last;
    }
}

} // namespace

qint64 framesAt(const Pass& p, int outputRate)
{
    if (outputRate == p.sampleRate) return p.frames();
    if (p.stop <= p.start) return qint64(std::llround(double(p.frames()) * outputRate / p.sampleRate));
    const double span = double(toFrames(p.stop, outputRate) - toFrames(p.start, outputRate));
    return audio::stretchedFrames(span * (p.runPass + 1), p.rate) - audio::stretchedFrames(span * p.runPass, p.rate);
}

double passRate(const PracticeSettings& p, double entryRate, int pass)
{
    if (!p.hasTrainer()) return entryRate;
    const int steps = std::max(0, pass) / std::max(1, p.trainerPassesPerStep);
    const double towards = p.trainerStartRate < entryRate ? 1.0 : -1.0;
    const double r = std::round((p.trainerStartRate + towards * std::abs(p.trainerStep) * steps) * 1e9) / 1e9;
    return towards > 0 ? std::min(entryRate, r) : std::max(entryRate, r);
}

std::vector<Pass> listPasses(const std::vector<Source>& sources, const std::vector<Entry>& entries, int wrapPasses)
{
    std::vector<Planned> plan;
    // A whole file plays once opened, then its loop count more times as the stretch from
    // its start to its end.
    const auto passes = [&](int e) {
        const Entry& entry = entries[std::size_t(e)];
        return std::max(1, entry.loops) + (entry.start == 0 && entry.stop == 0 ? 1 : 0);
    };
    const auto add = [&](int e, int round, int count) {
        const Entry& entry = entries[std::size_t(e)];
        const Source& src = sources[std::size_t(entry.source)];
        const int sr = src.sampleRate;
        const bool whole = entry.start == 0 && entry.stop == 0;
        bool stretches = entry.practice.hasTranspose() || (round == 0 && entry.liveRate > 0 && entry.liveRate != 1.0);
        for (int p = 0; p < passes(e); ++p) stretches = stretches || passRate(entry.practice, entry.rate, p) != 1.0;
        for (int p = 0; p < count; ++p) {
            Planned k;
            const bool live = round == 0 && entry.liveRate > 0;
            const double rate = live && p > 0 ? entry.liveRate : passRate(entry.practice, entry.rate, p);
            k.from = whole ? 0 : std::min(toFrames(entry.start, sr), src.length());
            k.to = whole ? src.length() : std::min(toFrames(entry.stop, sr), src.length());
            k.pass = prerolled(entry.practice, p, sr, double(k.to - k.from) / sr / rate);
            k.pass.entry = e;
            k.pass.pass = p;
            k.pass.sampleRate = sr;
            k.pass.rate = rate;
            k.pass.live = live && p == 0;
            if (!whole) k.pass.start = entry.start, k.pass.stop = entry.stop;
            k.source = &src;
            k.pitch = entry.practice.pitchScale();
            k.stretches = stretches;
            k.blend = std::min(qint64(stretches ? kStretchedBlendMs : kBlendMs) * sr / 1000, (k.to - k.from) / 2);
            k.round = round;
            if (live && p == 0 && entry.liveFrom > k.from) k.liveFrom = std::min(entry.liveFrom, k.to);
            plan.push_back(std::move(k));
        }
    };
    for (int e = 0; e < int(entries.size()); ++e) add(e, 0, passes(e));
    // One pass more than asked for: how the last one ends depends on what follows it.
    for (int e = 0, round = 1, left = wrapPasses + 1; left > 0 && !entries.empty();) {
        const int n = std::min(left, passes(e));
        add(e, round, n);
        left -= n;
        if (++e == int(entries.size())) e = 0, ++round;
    }
    std::vector<std::vector<float>> frames;
    for (const Planned& k : plan)
        frames.emplace_back(k.source->frames.begin() + k.from * 2, k.source->frames.begin() + k.to * 2);
    // The first pass comes out of silence: after a pause or count-in it fades in, as every pass does.
    if (!plan.empty() && plan.front().pass.preroll > 0) {
        Planned silence = plan.front();
        silence.pass.preroll = 0;
        std::vector<float> none;
        seam(silence, plan.front(), none, frames.front());
    }
    for (std::size_t k = 1; k < plan.size(); ++k) seam(plan[k - 1], plan[k], frames[k - 1], frames[k]);
    render(plan, frames);
    std::vector<Pass> out;
    for (Planned& k : plan) out.push_back(std::move(k.pass));
    if (!entries.empty()) out.pop_back();
    return out;
}

} // namespace offline::model
