#include "audio/stemmix.h"

#include <algorithm>

namespace audio {

StemMix::StemMix(std::vector<std::unique_ptr<FrameSource>> stems, qint64 frames)
    : m_stems(std::move(stems)), m_frames(frames), m_from(m_stems.size(), 1.0f), m_to(m_from)
{
}

void StemMix::setGains(const std::vector<float>& gains)
{
    m_to = gains;
    m_to.resize(m_stems.size(), 0.0f);
    m_from = m_to;
    m_rampFrames = 0;
}

void StemMix::rampTo(const std::vector<float>& gains, qint64 at, qint64 rampFrames)
{
    // A ramp under way is where it stands at `at`.
    for (int i = 0; i < count(); ++i) m_from[std::size_t(i)] = gainAt(i, at);
    m_to = gains;
    m_to.resize(m_stems.size(), 0.0f);
    m_rampAt = at;
    m_rampFrames = std::max<qint64>(1, rampFrames);
}

float StemMix::gainAt(int stem, qint64 pos) const
{
    const std::size_t i = std::size_t(stem);
    if (m_rampFrames == 0 || pos >= m_rampAt + m_rampFrames) return m_to[i];
    if (pos < m_rampAt) return m_from[i];
    const float t = float(pos - m_rampAt) / float(m_rampFrames);
    return m_from[i] + (m_to[i] - m_from[i]) * t;
}

qint64 StemMix::frames() const
{
    if (m_frames >= 0) return m_frames;
    qint64 longest = -1;
    for (const auto& s : m_stems) longest = std::max(longest, s->frames());
    return longest;
}

qint64 StemMix::readAt(qint64 pos, float* out, qint64 n)
{
    const qint64 total = frames();
    if (total >= 0) n = std::max<qint64>(0, std::min(n, total - pos));
    std::fill(out, out + n * kChannels, 0.0f);
    m_buf.resize(std::size_t(n) * kChannels);
    qint64 longest = -1;
    for (int s = 0; s < count(); ++s) {
        const qint64 got = m_stems[std::size_t(s)]->readAt(pos, m_buf.data(), n);
        if (got < 0) continue;  // a stem that cannot be read is silent; the others play on
        longest = std::max(longest, got);
        for (qint64 i = 0; i < got; ++i) {
            const float g = gainAt(s, pos + i);
            out[i * kChannels] += g * m_buf[std::size_t(i * kChannels)];
            out[i * kChannels + 1] += g * m_buf[std::size_t(i * kChannels + 1)];
        }
    }
    // Read past the ramp, it is done: a wrap back before it keeps the new gains.
    if (m_rampFrames > 0 && pos + n >= m_rampAt + m_rampFrames) {
        m_from = m_to;
        m_rampFrames = 0;
    }
    if (longest < 0) return -1;
    // The file's length counts, not a shorter stem's.
    return total >= 0 ? n : longest;
}

} // namespace audio
