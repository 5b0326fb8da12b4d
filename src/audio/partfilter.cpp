#include "audio/partfilter.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>
#include <numbers>

namespace audio {

namespace {

// Two sections with these Q make a fourth-order Butterworth: flat to the edge, -3 dB there,
// 24 dB an octave beyond.
constexpr double kButterworthQ[2] = {0.54119610014619698, 1.30656296487637653};
// An edge this close to half the output's rate cannot be designed; it is left open.
constexpr double kHighestEdge = 0.45;
constexpr double kFadeSeconds = 0.010;
constexpr double kReleaseSeconds = 0.050;

struct Cookbook {
    double cosw, alpha;
};

Cookbook cookbook(double hz, double q, int rate)
{
    const double w = 2 * std::numbers::pi * hz / rate;
    return {std::cos(w), std::sin(w) / (2 * q)};
}

} // namespace

void Biquad::highPass(double hz, double q, int rate)
{
    const auto [c, alpha] = cookbook(hz, q, rate);
    const double a0 = 1 + alpha;
    b0 = b2 = (1 + c) / 2 / a0;
    b1 = -(1 + c) / a0;
    a1 = -2 * c / a0;
    a2 = (1 - alpha) / a0;
}

void Biquad::lowPass(double hz, double q, int rate)
{
    const auto [c, alpha] = cookbook(hz, q, rate);
    const double a0 = 1 + alpha;
    b0 = b2 = (1 - c) / 2 / a0;
    b1 = (1 - c) / a0;
    a1 = -2 * c / a0;
    a2 = (1 - alpha) / a0;
}

void Biquad::pass()
{
    b0 = 1;
    b1 = b2 = a1 = a2 = 0;
}

double Biquad::gainAt(double hz, int rate) const
{
    const std::complex<double> z = std::polar(1.0, -2 * std::numbers::pi * hz / rate);
    return std::abs((b0 + b1 * z + b2 * z * z) / (1.0 + a1 * z + a2 * z * z));
}

void PartChain::design(const HearSettings& s, int rate)
{
    // Sections keep their place (and state) from one design to the next: low cut first.
    const bool low = s.lowCut > 0 && s.lowCut < kHighestEdge * rate;
    const bool high = s.highCut > 0 && s.highCut < kHighestEdge * rate;
    for (int i = 0; i < 2; ++i) {
        if (low) m_band[i].highPass(s.lowCut, kButterworthQ[i], rate);
        else m_band[i].pass();
        if (high) m_band[2 + i].lowPass(s.highCut, kButterworthQ[i], rate);
        else m_band[2 + i].pass();
    }
    m_sections = low || high ? kSections : 0;
    m_matrix = s.matrix();
    m_gain = std::pow(10.0, s.gainDb / 20);
}

void PartChain::clearState()
{
    for (Biquad& b : m_band) b.clearState();
}

void PartChain::frame(double& l, double& r)
{
    const double inL = l;
    l = m_matrix[0] * inL + m_matrix[1] * r;
    r = m_matrix[2] * inL + m_matrix[3] * r;
    for (int i = 0; i < m_sections; ++i) {
        l = m_band[i].step(0, l);
        r = m_band[i].step(1, r);
    }
    l *= m_gain;
    r *= m_gain;
}

double PartChain::bandGainDb(double hz, int rate) const
{
    double g = 1;
    for (int i = 0; i < m_sections; ++i) g *= m_band[i].gainAt(hz, rate);
    return 20 * std::log10(g);
}

void PeakLimiter::setRate(int rate)
{
    m_release = std::exp(-1.0 / (kReleaseSeconds * rate));
    m_gain = 1;
}

void PeakLimiter::frame(double& l, double& r)
{
    const double peak = std::max(std::abs(l), std::abs(r));
    const double target = peak > kCeiling ? kCeiling / peak : 1.0;
    m_gain = target < m_gain ? target : target + (m_gain - target) * m_release;
    l *= m_gain;
    r *= m_gain;
}

void HearMailbox::post(const HearSettings& s, std::uint64_t tag)
{
    m_seq.beginWrite();
    m_tag.store(tag, std::memory_order_relaxed);
    m_low.store(s.lowCut, std::memory_order_relaxed);
    m_high.store(s.highCut, std::memory_order_relaxed);
    m_gainDb.store(s.gainDb, std::memory_order_relaxed);
    m_centre.store(int(s.centre), std::memory_order_relaxed);
    m_channels.store(int(s.channels), std::memory_order_relaxed);
    m_version.fetch_add(1, std::memory_order_relaxed);
    m_seq.endWrite();
}

HearMailbox::Posted HearMailbox::read() const
{
    return m_seq.read([this] {
        HearSettings s;
        s.lowCut = m_low.load(std::memory_order_relaxed);
        s.highCut = m_high.load(std::memory_order_relaxed);
        s.gainDb = m_gainDb.load(std::memory_order_relaxed);
        s.centre = HearSettings::Centre(m_centre.load(std::memory_order_relaxed));
        s.channels = HearSettings::Channels(m_channels.load(std::memory_order_relaxed));
        return Posted{m_version.load(std::memory_order_relaxed), m_tag.load(std::memory_order_relaxed), s};
    });
}

bool HearMailbox::take(std::uint64_t& seen, HearSettings& out) const
{
    const Posted p = read();
    if (p.version == seen) return false;
    seen = p.version;
    out = p.settings;
    return true;
}

bool HearMailbox::takeFor(std::uint64_t tag, HearSettings& out) const
{
    const Posted p = read();
    if (p.version == 0 || p.tag != tag) return false;
    out = p.settings;
    return true;
}

void DelayGlide::setRate(int rate, int latency, bool on)
{
    m_latency = latency;
    m_perFrame = 1.0 / std::max(1.0, kGlideSeconds * rate);
    m_progress = on ? 1 : 0;
    m_frames = on ? latency : 0;
}

void DelayGlide::step(bool on, bool quiet)
{
    const double target = on ? 1 : 0;
    if (m_progress == target) return;
    if (quiet) m_progress = target;
    else if (on) m_progress = std::min(1.0, m_progress + m_perFrame);
    else m_progress = std::max(0.0, m_progress - m_perFrame);
    m_frames = m_latency * (1 - std::cos(std::numbers::pi * m_progress)) / 2;
}

void PartFilter::setRate(int rate)
{
    // What was on its way is what is wanted: the new rate starts with it, no fade needed
    // across the output's restart.
    if (m_fadeAt < m_fadeLen || m_pending) m_now = m_next;
    m_rate = std::max(1, rate);
    m_fadeLen = m_fadeAt = std::max(1, int(kFadeSeconds * m_rate));
    m_limiter.setRate(m_rate);
    m_chain.design(m_now, m_rate);
    m_chain.clearState();
    m_pending = false;
    m_keep.setRate(m_rate);
    if (keeps(m_now)) m_keep.start();
    m_glide.setRate(m_rate, m_keep.latency(), keeps(m_now));
    m_standIn = keeps(m_now) ? 0 : 1;
    m_quiet = std::numeric_limits<std::int64_t>::max() / 2;  // nothing in yet: all silence
}

void PartFilter::set(const HearSettings& s)
{
    m_next = s;
    m_pending = true;
    if (m_fadeAt >= m_fadeLen) beginFade();
}

void PartFilter::beginFade()
{
    m_pending = false;
    if (m_next == m_now) return;
    // The new chain starts from the old one's state, so the two sound alike at the start of
    // the fade rather than the new one ringing up from silence.
    m_nextChain = m_chain;
    if (!m_now.any()) m_nextChain.clearState();
    m_nextChain.design(m_next, m_rate);
    if (!m_now.any()) m_limiter.reset();
    // The centre found from what came before, so that it is ready once the delay is.
    if (keeps(m_next) && !m_keep.running()) m_keep.start();
    m_fadeAt = 0;
}

void PartFilter::rerun(const float* warm, std::int64_t warmFrames, float* frames, std::int64_t n, const HearSettings& s)
{
    // The band's state forgets within milliseconds, so warming on what came just before
    // gives it as it stood at the first frame, to far below what is heard.
    m_chain.design(m_now, m_rate);
    m_chain.clearState();
    m_limiter.reset();
    for (std::int64_t i = 0; i < warmFrames; ++i) {
        double l = warm[2 * i], r = warm[2 * i + 1];
        if (m_now.any()) m_chain.frame(l, r);
        m_limiter.frame(l, r);
    }
    m_keep.forget(n);  // remembered again as they go through
    m_quiet = 0;
    set(s);
    process(frames, n);
}

void PartFilter::process(float* frames, std::int64_t n)
{
    if (bypassed()) {
        m_keep.remember(frames, n);
        for (std::int64_t i = 0; i < n; ++i) m_quiet = frames[2 * i] == 0 && frames[2 * i + 1] == 0 ? m_quiet + 1 : 0;
        return;
    }
    for (std::int64_t i = 0; i < n; ++i) {
        float* f = frames + 2 * i;
        // A jump of the delay now would repeat or skip the frames before this one.
        m_glide.step(wantsDelay(), m_quiet > m_keep.latency());
        m_quiet = f[0] == 0 && f[1] == 0 ? m_quiet + 1 : 0;
        // The centre alone, later by the analysis: what a chain that keeps it takes once the
        // rest of the sound is as late.
        double cl = f[0], cr = f[1];
        if (m_keep.running()) m_keep.frame(cl, cr);
        else m_keep.remember(f, 1);
        double l = f[0], r = f[1];
        if (!m_glide.idle()) m_keep.past(m_glide.frames(), l, r);
        const double standInTarget = m_glide.atFull() && m_keep.running() ? 0 : 1;
        if (m_standIn != standInTarget)
            m_standIn = standInTarget > m_standIn ? 1 : std::max(0.0, m_standIn - 1.0 / m_fadeLen);
        const double mid = (l + r) / 2;
        double kl = mid, kr = mid;
        if (m_standIn < 1) kl = cl + (mid - cl) * m_standIn, kr = cr + (mid - cr) * m_standIn;
        if (m_fadeAt < m_fadeLen) {
            double nl = keeps(m_next) ? kl : l, nr = keeps(m_next) ? kr : r;
            if (keeps(m_now)) l = kl, r = kr;
            if (m_now.any()) m_chain.frame(l, r);
            if (m_next.any()) m_nextChain.frame(nl, nr);
            const double t = double(++m_fadeAt) / m_fadeLen;
            l += (nl - l) * t;
            r += (nr - r) * t;
            if (m_fadeAt == m_fadeLen) {
                m_chain = m_nextChain;
                m_now = m_next;
                if (!keeps(m_now)) m_keep.stop();
                if (m_pending) beginFade();
            }
        } else if (m_now.any()) {
            if (keeps(m_now)) l = kl, r = kr;
            m_chain.frame(l, r);
        }
        m_limiter.frame(l, r);
        f[0] = float(l);
        f[1] = float(r);
    }
}

} // namespace audio
