#include "audio/centrekeep.h"

extern "C" {
#include <libavutil/mem.h>
#include <libavutil/tx.h>
}

#include <algorithm>
#include <cmath>
#include <numbers>

namespace audio {

namespace {

// About 46 ms at 44.1 kHz: bins 21 Hz apart, fine enough to part two instruments' notes.
constexpr int kSizeAt48k = 2048;
constexpr int kHopsPerWindow = 4;
// Seconds of frames remembered: more than an output holds that it may replace (a fifth of
// a second queued at the server, a second kept for rewrites).
constexpr double kHistorySeconds = 1.5;
// How much of a bin's last hop its weight keeps: a little smoothing, so that weights do not
// flutter from hop to hop (heard as a warble), without smearing a note's start.
constexpr double kSmoothing = 0.4;

std::int64_t powerOfTwoAtLeast(double n)
{
    std::int64_t p = 1;
    while (double(p) < n) p *= 2;
    return p;
}

struct AvFree {
    void operator()(void* p) const { av_free(p); }
};
template <typename T>
using AvBuffer = std::unique_ptr<T[], AvFree>;

} // namespace

// The transforms and their aligned buffers, one set per channel.
struct CentreKeep::Fft {
    AVTXContext* forward = nullptr;
    AVTXContext* inverse = nullptr;
    av_tx_fn forwardFn = nullptr, inverseFn = nullptr;
    AvBuffer<float> time[2];
    AvBuffer<AVComplexFloat> bins[2];

    explicit Fft(int size)
    {
        const float one = 1, inverseScale = 1.0f / float(size);
        av_tx_init(&forward, &forwardFn, AV_TX_FLOAT_RDFT, 0, size, &one, 0);
        av_tx_init(&inverse, &inverseFn, AV_TX_FLOAT_RDFT, 1, size, &inverseScale, 0);
        for (int ch = 0; ch < 2; ++ch) {
            time[ch].reset(static_cast<float*>(av_malloc(sizeof(float) * std::size_t(size + 2))));
            bins[ch].reset(static_cast<AVComplexFloat*>(av_malloc(sizeof(AVComplexFloat) * std::size_t(size / 2 + 1))));
        }
    }
    ~Fft()
    {
        av_tx_uninit(&forward);
        av_tx_uninit(&inverse);
    }
    bool ok() const { return forward && inverse && time[0] && time[1] && bins[0] && bins[1]; }
};

CentreKeep::CentreKeep() = default;
CentreKeep::~CentreKeep() = default;
CentreKeep::CentreKeep(CentreKeep&&) noexcept = default;
CentreKeep& CentreKeep::operator=(CentreKeep&&) noexcept = default;

void CentreKeep::setRate(int rate)
{
    // The same resolution in Hz at any rate.
    m_size = int(powerOfTwoAtLeast(kSizeAt48k * std::max(1, rate) / 48000.0 * 0.75));
    m_size = std::max(m_size, 256);
    m_hop = m_size / kHopsPerWindow;
    m_history = powerOfTwoAtLeast(kHistorySeconds * std::max(1, rate) + 2.0 * m_size);
    m_in.assign(std::size_t(m_history) * 2, 0.0f);
    m_sum.assign(std::size_t(m_size) * 2, 0.0f);
    m_window.resize(std::size_t(m_size));
    for (int n = 0; n < m_size; ++n) m_window[n] = float(0.5 - 0.5 * std::cos(2 * std::numbers::pi * n / m_size));
    m_cross.assign(std::size_t(m_size / 2 + 1), 0.0);
    m_power.assign(std::size_t(m_size / 2 + 1), 0.0);
    m_fft = std::make_unique<Fft>(m_size);
    if (!m_fft->ok()) m_fft.reset();
    m_at = 0;
    m_running = false;
}

void CentreKeep::remember(const float* frames, std::int64_t n)
{
    if (m_history == 0) return;
    for (std::int64_t i = 0; i < n; ++i, ++m_at) {
        float* slot = &m_in[std::size_t(ring(m_at)) * 2];
        slot[0] = frames[2 * i];
        slot[1] = frames[2 * i + 1];
    }
}

void CentreKeep::start()
{
    if (m_size == 0) return;
    // The next frame out is m_at - latency(); the windows that end by now and reach it are
    // added up again from what is remembered.
    std::fill(m_sum.begin(), m_sum.end(), 0.0f);
    std::fill(m_cross.begin(), m_cross.end(), 0.0);
    std::fill(m_power.begin(), m_power.end(), 0.0);
    const std::int64_t next = m_at - latency();
    std::int64_t end = (next + 1 + m_hop - 1) / m_hop * m_hop;  // first hop edge past `next`
    if (next + 1 < 0) end = -((-(next + 1)) / m_hop * m_hop);
    for (; end <= m_at; end += m_hop) analyse(end, next);
    m_running = true;
}

void CentreKeep::forget(std::int64_t n)
{
    if (n <= 0 || m_size == 0) return;
    if (n + 2 * std::int64_t(m_size) > m_history) {
        std::fill(m_in.begin(), m_in.end(), 0.0f);
    } else {
        m_at -= n;
    }
    if (m_running) start();
}

void CentreKeep::past(double back, double& l, double& r) const
{
    if (m_history == 0) return;
    const double at = double(m_at - 1) - back;
    const std::int64_t whole = std::int64_t(std::floor(at));
    const double t = at - double(whole);
    for (int ch = 0; ch < 2; ++ch) {
        // No frame past the last one in: the ring holds an old one there.
        const auto in = [&](std::int64_t k) { return double(m_in[std::size_t(ring(std::min(whole + k, m_at - 1))) * 2 + ch]); };
        const double y0 = in(-1), y1 = in(0), y2 = in(1), y3 = in(2);
        // Catmull-Rom: through the frames themselves, smooth between them.
        const double v = t == 0 ? y1
                                : y1 + 0.5 * t * (y2 - y0 + t * (2 * y0 - 5 * y1 + 4 * y2 - y3 + t * (3 * (y1 - y2) + y3 - y0)));
        (ch == 0 ? l : r) = v;
    }
}

void CentreKeep::frame(double& l, double& r)
{
    float* slot = &m_in[std::size_t(ring(m_at)) * 2];
    slot[0] = float(l);
    slot[1] = float(r);
    ++m_at;
    if (m_at % m_hop == 0) analyse(m_at, m_at - latency() - 1);
    float* out = &m_sum[std::size_t((m_at - 1 - latency()) & (m_size - 1)) * 2];
    l = out[0];
    r = out[1];
    out[0] = out[1] = 0;
}

void CentreKeep::analyse(std::int64_t end, std::int64_t keepFrom)
{
    // The window of frames [end - size, end), added in where it reaches `keepFrom` or later.
    if (!m_fft) return;
    Fft& f = *m_fft;
    const std::int64_t first = end - m_size;
    for (int ch = 0; ch < 2; ++ch) {
        for (int n = 0; n < m_size; ++n) f.time[ch][n] = m_window[n] * m_in[std::size_t(ring(first + n)) * 2 + ch];
        f.forwardFn(f.forward, f.bins[ch].get(), f.time[ch].get(), sizeof(float));
    }
    for (int k = 0; k <= m_size / 2; ++k) {
        AVComplexFloat& a = f.bins[0][k];
        AVComplexFloat& b = f.bins[1][k];
        // Alike in level and phase: 1 for the same in both, 0 for one side alone, below 0 for
        // opposite phase. Squared, so that a sound mostly to one side keeps little.
        const double cross = double(a.re) * b.re + double(a.im) * b.im;
        const double power = double(a.re) * a.re + double(a.im) * a.im + double(b.re) * b.re + double(b.im) * b.im;
        m_cross[k] = kSmoothing * m_cross[k] + (1 - kSmoothing) * cross;
        m_power[k] = kSmoothing * m_power[k] + (1 - kSmoothing) * power;
        double w = m_power[k] > 1e-20 ? std::clamp(2 * m_cross[k] / m_power[k], 0.0, 1.0) : 0.0;
        w *= w;
        a.re = float(a.re * w), a.im = float(a.im * w);
        b.re = float(b.re * w), b.im = float(b.im * w);
    }
    // A Hann window twice at a quarter hop adds up to 1.5 everywhere.
    const float gain = 1.0f / 1.5f;
    for (int ch = 0; ch < 2; ++ch) {
        f.inverseFn(f.inverse, f.time[ch].get(), f.bins[ch].get(), sizeof(AVComplexFloat));
        for (int n = std::max<std::int64_t>(0, keepFrom - first); n < m_size; ++n)
            m_sum[std::size_t((first + n) & (m_size - 1)) * 2 + ch] += gain * m_window[n] * f.time[ch][n];
    }
}

} // namespace audio
