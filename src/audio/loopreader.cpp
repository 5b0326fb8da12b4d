#include "audio/loopreader.h"

#include <algorithm>
#include <cmath>

namespace audio {

float fadeInGain(qint64 i, qint64 length)
{
    return float(std::sin(M_PI / 2 * (double(i) + 0.5) / double(length)));
}

float fadeOutGain(qint64 i, qint64 length)
{
    return float(std::cos(M_PI / 2 * (double(i) + 0.5) / double(length)));
}

BlendGains blendGains(qint64 i, qint64 length, double correlation)
{
    // Gains e + o and e - o, with o odd and e even in t, give a^2 + b^2 + 2rab = 1 for
    // any r; past -0.9 the gains would grow without bound for the last few dB.
    const double r = std::clamp(correlation, -0.9, 1.0);
    const double t = 2.0 * (double(i) + 0.5) / double(length) - 1.0;
    const double o = 0.5 * std::sin(M_PI / 2 * t);
    const double e = std::sqrt(std::max(0.0, 0.5 / (1 + r) - (1 - r) / (1 + r) * o * o));
    return {float(e + o), float(e - o)};
}

double correlation(const float* a, const float* b, qint64 frames)
{
    double ab = 0, aa = 0, bb = 0;
    for (qint64 i = 0; i < frames * kChannels; ++i) {
        ab += double(a[i]) * b[i];
        aa += double(a[i]) * a[i];
        bb += double(b[i]) * b[i];
    }
    return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0.0;
}

LoopReader::LoopReader(FrameSource& source, qint64 fadeFrames) : m_source(source), m_fade(std::max<qint64>(0, fadeFrames))
{
}

void LoopReader::seek(qint64 pos, bool passStart)
{
    m_pos = std::max<qint64>(0, pos);
    m_ended = false;
    m_passStart = passStart;
    m_incoming.clear();
    m_incomingAt = m_incomingLength = 0;
    m_headFrames = -1;
}

void LoopReader::setLoop(std::optional<Loop> loop)
{
    m_loop = loop;
}

void LoopReader::setIncoming(std::vector<float> tail)
{
    m_incoming = std::move(tail);
    m_incomingAt = 0;
    m_incomingLength = qint64(m_incoming.size() / kChannels);
    m_headFrames = -1;
}

void LoopReader::fadeIn()
{
    setIncoming(std::vector<float>(std::size_t(m_loop ? fadeFor(*m_loop) : m_fade) * kChannels, 0.0f));
}

qint64 LoopReader::fetch(qint64 pos, float* out, qint64 n)
{
    qint64 got = 0;
    if (m_headFrames > 0 && pos >= m_headAt && pos < m_headAt + m_headFrames) {
        got = std::min(n, m_headAt + m_headFrames - pos);
        std::copy_n(m_head.begin() + (pos - m_headAt) * kChannels, got * kChannels, out);
        if (got == n) return got;
    }
    const qint64 rest = m_source.readAt(pos + got, out + got * kChannels, n - got);
    return rest < 0 ? (got > 0 ? got : -1) : got + rest;
}

qint64 LoopReader::fadeFor(const Loop& loop) const
{
    // Half a pass at most, so a blend never reaches the next seam.
    return std::min(m_fade, (loop.stop - loop.start) / 2);
}

bool LoopReader::tailAvailable(qint64 stop, qint64 fade) const
{
    const qint64 end = m_knownEnd >= 0 ? m_knownEnd : m_source.frames();
    return end < 0 || stop + fade <= end;
}

bool LoopReader::gapAhead() const
{
    if (!m_loop) return false;
    return m_loop->wraps != 0 ? m_gapAtWrap : m_gapAtHold;
}

bool LoopReader::loopApplies() const
{
    if (!m_loop || m_loop->stop <= m_loop->start || m_pos >= m_loop->stop) return false;
    const qint64 end = m_knownEnd >= 0 ? m_knownEnd : m_source.frames();
    return end < 0 || m_loop->stop <= end;
}

void LoopReader::fillTail(qint64 stop, qint64 fade)
{
    std::vector<float> tail(size_t(fade) * kChannels, 0.0f);
    // Where nothing follows the stop the end was faded: the blend only fades in.
    if (fade > 0 && tailAvailable(stop, fade) && !gapAhead()) {
        const qint64 got = m_source.readAt(stop, tail.data(), fade);
        if (got < fade) std::fill(tail.begin() + std::max<qint64>(0, got) * kChannels, tail.end(), 0.0f);
    }
    setIncoming(std::move(tail));
}

qint64 LoopReader::heldFrom(bool looping) const
{
    if (!m_await || m_followed || !looping || m_loop->wraps != 0 || !m_loop->hold) return -1;
    const qint64 fade = fadeFor(*m_loop);
    return fade > 0 ? m_loop->stop - fade : -1;
}

qint64 LoopReader::readPast(qint64 from, float* out, qint64 n)
{
    if (!m_ended || !m_loop || !m_followed || m_gapAtHold || from < 0) return 0;
    const qint64 at = m_loop->stop + from;
    const qint64 end = m_knownEnd >= 0 ? m_knownEnd : m_source.frames();
    if (end >= 0) n = std::min(n, end - at);
    return n > 0 ? std::max<qint64>(0, m_source.readAt(at, out, n)) : 0;
}

std::vector<float> LoopReader::takeTail()
{
    if (!m_loop) return {};
    const qint64 fade = fadeFor(*m_loop);
    fillTail(m_loop->stop, fade);
    std::vector<float> tail = std::move(m_incoming);
    m_incoming.clear();
    m_incomingAt = m_incomingLength = 0;
    return tail;
}

Block LoopReader::read(float* out, qint64 n)
{
    Block block;
    block.sourcePos = m_pos;
    m_waiting = false;
    if (m_ended || m_failed || n <= 0) {
        block.end = m_ended;
        return block;
    }
    // A loop with no wraps left bounds playback only where it holds.
    const bool looping = loopApplies() && (m_loop->wraps != 0 || m_loop->hold);
    const qint64 end = m_knownEnd >= 0 ? m_knownEnd : m_source.frames();
    const qint64 limit = looping ? m_loop->stop : end;
    const qint64 held = heldFrom(looping);
    if (held >= 0 && m_pos >= held) {
        m_waiting = true;
        return block;
    }
    const qint64 want = limit >= 0 ? std::min(n, (held >= 0 ? held : limit) - m_pos) : n;

    if (m_incomingAt < m_incomingLength && m_headFrames < 0) {
        // Read the blend's first frames whole, once, so the gains suit the two sounds.
        const qint64 len = limit >= 0 ? std::clamp<qint64>(limit - m_pos, 0, m_incomingLength) : m_incomingLength;
        m_head.resize(std::size_t(len) * kChannels);
        m_headAt = m_pos;
        m_headFrames = len > 0 ? std::max<qint64>(0, m_source.readAt(m_pos, m_head.data(), len)) : 0;
        m_blendCorrelation = correlation(m_head.data(), m_incoming.data() + m_incomingAt * kChannels,
                                         std::min(m_headFrames, m_incomingLength - m_incomingAt));
    }
    qint64 got = want > 0 ? fetch(m_pos, out, want) : 0;
    if (got < 0) {
        m_failed = true;
        return block;
    }
    if (got < want) m_knownEnd = m_pos + got;  // the source ended before it said it would
    block.frames = got;
    block.passStart = m_passStart;
    m_passStart = false;

    // The sound before the seam blends out over the first frames.
    for (qint64 i = 0; i < got && m_incomingAt < m_incomingLength; ++i, ++m_incomingAt) {
        const BlendGains g = blendGains(m_incomingAt, m_incomingLength, m_blendCorrelation);
        for (int c = 0; c < kChannels; ++c)
            out[i * kChannels + c] = out[i * kChannels + c] * g.in + m_incoming[m_incomingAt * kChannels + c] * g.out;
    }

    // Reaching a stop with nothing past it: the end fades, where something follows.
    if (looping) {
        const qint64 fade = fadeFor(*m_loop);
        const bool follows = m_loop->wraps != 0 || m_followed;
        if (fade > 0 && follows && (gapAhead() || !tailAvailable(m_loop->stop, fade))) {
            const qint64 fadeFrom = m_loop->stop - fade;
            for (qint64 i = std::max<qint64>(0, fadeFrom - m_pos); i < got; ++i) {
                const float g = fadeOutGain(m_pos + i - fadeFrom, fade);
                for (int c = 0; c < kChannels; ++c) out[i * kChannels + c] *= g;
            }
        }
    }
    m_pos += got;

    const bool atLimit = (limit >= 0 && m_pos >= limit) || got < want || (got == 0 && want == 0);
    if (!atLimit) return block;
    if (looping && m_pos >= m_loop->stop && m_loop->wraps != 0) {
        fillTail(m_loop->stop, fadeFor(*m_loop));
        if (m_loop->wraps > 0) --m_loop->wraps;
        m_pos = m_loop->start;
        m_passStart = true;
    } else if (looping && got < want && m_loop->wraps != 0) {
        // The source ended inside the stretch: loop from there.
        m_loop->stop = m_pos;
        fillTail(m_pos, 0);
        if (m_loop->wraps > 0) --m_loop->wraps;
        m_pos = m_loop->start;
        m_passStart = true;
    } else {
        m_ended = true;
        block.end = true;
    }
    return block;
}

} // namespace audio
