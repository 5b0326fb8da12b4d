#pragma once
// Stems mixed into one stereo source before the stretcher: every stem is read at the same
// frame, so they play in sample sync through one stretcher, one loop and one seam, and
// never drift apart. A change of level ramps from the frame it starts at, so a remix
// rendered again from the frame heard joins what played before it without a click.
// Used by one thread (the engine's worker); no clock.
#include "audio/loopreader.h"

#include <memory>
#include <vector>

namespace audio {

class StemMix : public FrameSource {
public:
    // `frames`: the length of the entry's own file, which the stems share (-1: not known;
    // then the longest stem's). A stem that ends sooner is silent after its end.
    StemMix(std::vector<std::unique_ptr<FrameSource>> stems, qint64 frames);

    int count() const { return int(m_stems.size()); }
    // The gains from now on, at once.
    void setGains(const std::vector<float>& gains);
    // The gains reached over `rampFrames` from source frame `at` on; before it the gains in
    // use now hold (what played up to there, and a stretcher's lead-in before it).
    void rampTo(const std::vector<float>& gains, qint64 at, qint64 rampFrames);
    float gainAt(int stem, qint64 pos) const;

    qint64 frames() const override;
    qint64 readAt(qint64 pos, float* out, qint64 n) override;

private:
    std::vector<std::unique_ptr<FrameSource>> m_stems;
    qint64 m_frames;
    std::vector<float> m_from, m_to;
    qint64 m_rampAt = 0, m_rampFrames = 0;
    std::vector<float> m_buf;
};

} // namespace audio
