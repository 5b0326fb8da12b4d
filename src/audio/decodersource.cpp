#include "audio/decodersource.h"

namespace audio {

qint64 DecoderSource::readAt(qint64 pos, float* out, qint64 n)
{
    if (pos != m_next) {
        if (!m_decoder->seek(pos)) return -1;
        m_next = pos;
    }
    const int ch = m_decoder->format().channels;
    m_buf.resize(std::size_t(n) * ch);
    qint64 got = 0;
    while (got < n) {
        const qint64 r = m_decoder->read(m_buf.data() + got * ch, n - got);
        if (r < 0) return got > 0 ? got : -1;
        if (r == 0) break;
        got += r;
    }
    for (qint64 i = 0; i < got; ++i) {
        const float* f = m_buf.data() + i * ch;
        if (ch == 1) {
            out[i * 2] = out[i * 2 + 1] = f[0];
        } else {
            // More than two channels: the centre goes to both sides.
            const float centre = ch > 2 ? 0.7071f * f[2] : 0.0f;
            out[i * 2] = f[0] + centre;
            out[i * 2 + 1] = f[1] + centre;
        }
    }
    m_next += got;
    return got;
}

} // namespace audio
