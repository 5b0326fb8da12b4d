#include "engine/mpv/mpvhear.h"

#include "audio/partfilter.h"

#include <QList>

#include <cmath>

namespace engine {

namespace {

QByteArray num(double v)
{
    return QByteArray::number(v, 'f', 6);
}

// One output channel of pan's syntax: "0.500000*c0+0.500000*c1", "1.000000*c0-1.000000*c1".
QByteArray panTerms(double left, double right)
{
    return num(left) + "*c0" + (right < 0 ? "-" : "+") + num(std::abs(right)) + "*c1";
}

} // namespace

QByteArray mpvHearFilters(const HearSettings& hear)
{
    if (!hear.any()) return {};
    // The same Butterworth sections as our own engine's band.
    const char* const q[] = {"0.541196", "1.306563"};
    QList<QByteArray> graph;
    if (hear.centre == HearSettings::Centre::Keep) {
        // The centre found per frequency, as our own engine does: the upmix's front centre
        // (3 dB above the middle it came from) on both sides, which any channel choice keeps.
        graph << "surround=chl_out=3.0:lfe=0" << "pan=stereo|c0=0.707107*FC|c1=0.707107*FC";
    } else if (hear.centre != HearSettings::Centre::Normal || hear.channels != HearSettings::Channels::Both) {
        const auto m = hear.matrix();
        graph << "pan=stereo|c0=" + panTerms(m[0], m[1]) + "|c1=" + panTerms(m[2], m[3]);
    }
    for (const char* w : q) {
        if (hear.lowCut > 0) graph << "highpass=f=" + num(hear.lowCut) + ":width_type=q:w=" + w;
        if (hear.highCut > 0) graph << "lowpass=f=" + num(hear.highCut) + ":width_type=q:w=" + w;
    }
    if (hear.gainDb != 0) graph << "volume=volume=" + num(hear.gainDb) + "dB";
    graph << "alimiter=limit=" + num(audio::PeakLimiter::kCeiling) + ":level=0";
    return "lavfi=[" + graph.join(',') + "]";
}

} // namespace engine
