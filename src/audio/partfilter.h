#pragma once
// The hear settings applied to stereo sound at the output's rate: the centre and channel
// matrix, the band (24 dB an octave each side), the gain, then a peak limiter so that no
// gain clips. A change fades from the old settings to the new over a few milliseconds, so it
// never steps. Real-time safe: no allocation, no locks, no waits.
#include "app/hear.h"
#include "audio/centrekeep.h"
#include "audio/seqcount.h"

#include <atomic>
#include <cmath>
#include <cstdint>

namespace audio {

// One second-order section (transposed direct form II) on two channels.
struct Biquad {
    double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
    double s1[2] = {0, 0}, s2[2] = {0, 0};

    double step(int ch, double x)
    {
        const double y = b0 * x + s1[ch];
        s1[ch] = b1 * x - a1 * y + s2[ch];
        s2[ch] = b2 * x - a2 * y;
        return y;
    }
    void clearState() { s1[0] = s1[1] = s2[0] = s2[1] = 0; }
    // Coefficients only; the state goes on.
    void highPass(double hz, double q, int rate);
    void lowPass(double hz, double q, int rate);
    void pass();
    double gainAt(double hz, int rate) const;
};

// The settings as one stateful chain, without fades or limiter. Keep's centre comes in
// already found (CentreKeep); the matrix then mixes it as for any other sound.
class PartChain {
public:
    // New coefficients for `s`; the filters' state is kept, for a fade between the two.
    void design(const HearSettings& s, int rate);
    void clearState();
    void frame(double& l, double& r);
    // The band's gain at `hz` as designed, in dB (0 without a band).
    double bandGainDb(double hz, int rate) const;

private:
    static constexpr int kSections = 4;  // two high-pass, two low-pass: fourth order each
    Biquad m_band[kSections];
    int m_sections = 0;
    std::array<double, 4> m_matrix{1, 0, 0, 1};
    double m_gain = 1;
};

// Fast-attack peak limiter: the gain falls at once to what keeps a frame under the ceiling
// and recovers smoothly, so no output sample ever exceeds it.
class PeakLimiter {
public:
    static constexpr double kCeiling = 0.944;  // -0.5 dBFS
    void setRate(int rate);
    void reset() { m_gain = 1; }
    // Back at unity, to within what no one hears: the sound may pass untouched again.
    bool idle() const { return m_gain > 1 - 1e-4; }
    void frame(double& l, double& r);

private:
    double m_gain = 1;
    double m_release = 0.999;
};

// Hands the settings from the UI thread to the pulling thread without a lock: the UI posts,
// the pull takes the newest once it differs from what it took before.
class HearMailbox {
public:
    // `tag` says whom the settings are for (an entry), for a reader that asks by it.
    void post(const HearSettings& s, std::uint64_t tag = 0);  // one writer at a time
    bool take(std::uint64_t& seen, HearSettings& out) const;
    // The settings posted last for `tag`, if they are the last posted.
    bool takeFor(std::uint64_t tag, HearSettings& out) const;

private:
    struct Posted {
        std::uint64_t version, tag;
        HearSettings settings;
    };
    Posted read() const;
    SeqCount m_seq;
    std::atomic<std::uint64_t> m_version{0}, m_tag{0};
    std::atomic<double> m_low{0}, m_high{0}, m_gainDb{0};
    std::atomic<int> m_centre{0}, m_channels{0};
};

// How late the sound goes out while keep comes and goes: keep's analysis needs latency()
// frames it has not had yet, so the sound moves that much later while keep is on. A jump
// would be heard as 46 ms repeated or skipped; instead the delay glides (a raised cosine
// over kGlideSeconds: the sound slows, or hurries, by at most some 2.4 %, 42 cents, and
// comes back to pitch). Where the frames the jump would repeat or skip are silence (an
// entry's start), it jumps at once. Pure: frames counted, no clock.
class DelayGlide {
public:
    static constexpr double kGlideSeconds = 3.0;
    void setRate(int rate, int latency, bool on);
    // One frame on towards `on`; `quiet` when the frames over the delay went in silent.
    void step(bool on, bool quiet);
    double frames() const { return m_frames; }
    bool atFull() const { return m_progress >= 1; }
    bool idle() const { return m_progress <= 0; }

private:
    double m_progress = 0;  // 0 none, 1 the whole latency
    double m_perFrame = 1;
    double m_frames = 0;
    int m_latency = 0;
};

class PartFilter {
public:
    // Not while process() may run: the output is stopped around it.
    void setRate(int rate);
    // From the thread that processes: takes effect through a fade; one arriving during a
    // fade waits for its end.
    void set(const HearSettings& s);
    // In place, interleaved stereo. Untouched (bit for bit) while every setting is off and
    // keep's delay has glided out.
    void process(float* frames, std::int64_t n);
    bool bypassed() const { return !m_now.any() && m_fadeAt >= m_fadeLen && m_limiter.idle() && m_glide.idle(); }
    int fadeFrames() const { return m_fadeLen; }
    // How much later than it came the sound goes out now (to the nearest frame): keep's
    // analysis while the centre is kept, none without it, gliding between the two.
    int latency() const { return int(std::lround(m_glide.frames())); }
    // From the thread that processes: the last `n` frames processed were dropped by the
    // output; the centre's analysis goes back over them so that none of them is heard.
    void forget(std::int64_t n)
    {
        m_keep.forget(n);
        m_quiet = 0;
    }
    // Whether rerun() can take `s` now: the settings settled (no fade under way or waiting),
    // and neither they nor `s` keep the centre, whose delay would move what was heard.
    bool canRerun(const HearSettings& s) const
    {
        return m_fadeAt >= m_fadeLen && !m_pending && m_glide.idle() && !keeps(m_now) && !keeps(s);
    }
    // The last `n` frames processed go through again from their input (`frames`, in place),
    // changing to `s` at the first through the usual fade; the `warm` frames that went in
    // before them warm the filters' state first. An output that still holds those frames
    // writes the result over them, so a change is heard at once. Only where canRerun(s).
    void rerun(const float* warm, std::int64_t warmFrames, float* frames, std::int64_t n, const HearSettings& s);

private:
    void beginFade();
    bool wantsDelay() const { return keeps(m_now) || (keeps(m_next) && (m_fadeAt < m_fadeLen || m_pending)); }
    static bool keeps(const HearSettings& s) { return s.centre == HearSettings::Centre::Keep; }

    int m_rate = 44100;
    int m_fadeLen = 441;
    int m_fadeAt = 441;  // == m_fadeLen: no fade under way
    HearSettings m_now, m_next;
    bool m_pending = false;
    PartChain m_chain, m_nextChain;
    PeakLimiter m_limiter;
    CentreKeep m_keep;
    DelayGlide m_glide;
    // Until the delay is keep's whole latency, keep hears the plain middle of the channels
    // (no look-back, so any delay): 1 while it does, faded to 0 once the centre is as late.
    double m_standIn = 1;
    std::int64_t m_quiet = 0;  // frames in a row that went in silent
};

} // namespace audio
