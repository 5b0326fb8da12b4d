#pragma once
// A decoder as the loop reader sees it: stereo, read at any place.
#include "audio/audiodecoder.h"
#include "audio/loopreader.h"

#include <vector>

namespace audio {

class DecoderSource : public FrameSource {
public:
    explicit DecoderSource(Decoder* d) : m_decoder(d) {}
    void setDecoder(Decoder* d)
    {
        m_decoder = d;
        m_next = -1;
    }
    void reset() { m_next = -1; }
    qint64 frames() const override { return m_decoder->format().frames; }
    qint64 readAt(qint64 pos, float* out, qint64 n) override;

private:
    Decoder* m_decoder;
    qint64 m_next = -1;
    std::vector<float> m_buf;
};

} // namespace audio
