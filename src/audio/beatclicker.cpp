#include "audio/beatclicker.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace audio {

void BeatClicker::setBeats(std::vector<SourceClick> frames)
{
    m_beats = std::move(frames);
}

bool BeatClicker::render(const SourceRun& run, int sampleRate, float* lane)
{
    const qint64 n = std::max<qint64>(0, run.frames);
    std::memset(lane, 0, sizeof(float) * std::size_t(n));
    if (run.step > 0 && n > 0) {
        // Each beat is met by the one run whose source span holds it, so none sounds twice.
        const double from = run.sourcePos, to = run.sourcePos + double(n) * run.step;
        auto it = std::lower_bound(m_beats.begin(), m_beats.end(), from,
                                   [](const SourceClick& c, double at) { return c.seconds < at; });
        for (; it != m_beats.end() && it->seconds < to && m_sounding < int(m_clicks.size()); ++it)
            m_clicks[std::size_t(m_sounding++)] = {-qint64(std::llround((it->seconds - from) / run.step)), it->accent};
    }
    const qint64 length = clickLength(sampleRate);
    bool any = false;
    int kept = 0;
    for (int k = 0; k < m_sounding; ++k) {
        Sounding s = m_clicks[std::size_t(k)];
        const qint64 first = std::max<qint64>(0, -s.into), last = std::min(n, length - s.into);
        for (qint64 i = first; i < last; ++i) lane[i] += clickSample(s.into + i, sampleRate, s.accent);
        any = any || first < last;
        s.into += n;
        if (s.into < length) m_clicks[std::size_t(kept++)] = s;
    }
    m_sounding = kept;
    return any;
}

} // namespace audio
