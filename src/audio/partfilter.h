#pragma once
// The hear settings applied to stereo sound at the output's rate: the centre and channel
// matrix, the band (24 dB an octave each side), the gain, then a peak limiter so that no
// gain clips. A change fades from the old settings to the new over a few milliseconds, so it
// never steps. Real-time safe: no allocation, no locks, no waits.
#include "app/hear.h"
#include "audio/centrekeep.h"
#include "audio/seqcount.h"

#include <atomic>
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

class PartFilter {
public:
    // Not while process() may run: the output is stopped around it.
    void setRate(int rate);
    // From the thread that processes: takes effect through a fade; one arriving during a
    // fade waits for its end.
    void set(const HearSettings& s);
    // In place, interleaved stereo. Untouched (bit for bit) while every setting is off.
    void process(float* frames, std::int64_t n);
    bool bypassed() const { return !m_now.any() && m_fadeAt >= m_fadeLen && m_limiter.idle(); }
    int fadeFrames() const { return m_fadeLen; }
    // How much later than it came the sound goes out now: the centre's analysis while the
    // centre is kept (from the start of the fade into it to the end of the fade out of it),
    // else none. A change of it is heard as a jump in the sound, blended by the fade.
    int latency() const { return m_keep.running() ? m_keep.latency() : 0; }
    // From the thread that processes: the last `n` frames processed were dropped by the
    // output; the centre's analysis goes back over them so that none of them is heard.
    void forget(std::int64_t n) { m_keep.forget(n); }

private:
    void beginFade();
    static bool keeps(const HearSettings& s) { return s.centre == HearSettings::Centre::Keep; }

    int m_rate = 44100;
    int m_fadeLen = 441;
    int m_fadeAt = 441;  // == m_fadeLen: no fade under way
    HearSettings m_now, m_next;
    bool m_pending = false;
    PartChain m_chain, m_nextChain;
    PeakLimiter m_limiter;
    CentreKeep m_keep;
};

} // namespace audio
