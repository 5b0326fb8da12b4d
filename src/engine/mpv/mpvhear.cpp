#include "engine/mpv/mpvhear.h"

#include "audio/partfilter.h"

#include <cmath>

namespace engine {

namespace {

using Centre = HearSettings::Centre;
using Channels = HearSettings::Channels;

QByteArray num(double v)
{
    return QByteArray::number(v, 'f', 6);
}

QByteArray flag(bool on)
{
    return on ? "1" : "0";
}

// A band edge that is off stays in the chain at a harmless frequency, mixed out.
constexpr double kIdleEdgeHz = 1000;

struct Band {
    double hz;
    bool on;
};
Band lowEdge(const HearSettings& h) { return {h.lowCut > 0 ? h.lowCut : kIdleEdgeHz, h.lowCut > 0}; }
Band highEdge(const HearSettings& h) { return {h.highCut > 0 ? h.highCut : kIdleEdgeHz, h.highCut > 0}; }

// The same Butterworth sections as our own engine's band.
QByteArray sections(const char* filter, Band b)
{
    const char* const q[] = {"0.541196", "1.306563"};
    QList<QByteArray> two;
    for (const char* w : q)
        two << QByteArray(filter) + "=f=" + num(b.hz) + ":width_type=q:w=" + w + ":mix=" + flag(b.on);
    return two.join(',');
}

// The limiter at our own engine's ceiling while any setting is on, else out of the way.
double limit(const HearSettings& h)
{
    return h.any() ? audio::PeakLimiter::kCeiling : 1.0;
}

void band(QList<MpvHearCommand>& out, const QByteArray& label, Band from, Band to)
{
    if (to.on && to.hz != from.hz) out.append({label, "f", num(to.hz)});
    if (to.on != from.on) out.append({label, "mix", flag(to.on)});
}

} // namespace

StereoTools stereoToolsFor(const HearSettings& hear)
{
    if (hear.centre != Centre::Cancel) {
        // Keep's upmix has put the centre on both sides already: any channel choice keeps it.
        if (hear.centre == Centre::Keep) return {};
        switch (hear.channels) {
        case Channels::Both: return {};
        case Channels::Left: return {.mode = 3};
        case Channels::Right: return {.mode = 4};
        case Channels::Mono: return {.mode = 5};
        }
    }
    // lr>l-r gives half the difference on both sides.
    switch (hear.channels) {
    case Channels::Both: return {.mode = 10, .phaseR = true, .levelOut = 2};
    case Channels::Left: return {.mode = 10, .levelOut = 2};
    case Channels::Right: return {.mode = 10, .phaseL = true, .phaseR = true, .levelOut = 2};
    case Channels::Mono: return {.muteL = true, .muteR = true};
    }
    return {};
}

QByteArray mpvHearFilters(const HearSettings& hear)
{
    QList<QByteArray> chain;
    if (hear.centre == Centre::Keep) {
        // The centre found per frequency, as our own engine does: the upmix's front centre
        // (3 dB above the middle it came from) on both sides. The upmix hands its sound on
        // half its window (2048 frames at any rate) late under the same timestamps, which
        // mpv would play 46 ms behind the picture: the timestamps go back by as much.
        chain << "@hearkeep:lavfi=[surround=chl_out=3.0:lfe=0,pan=stereo|c0=0.707107*FC|c1=0.707107*FC,"
                 "asetpts=PTS-2048/SR/TB]";
    }
    const StereoTools st = stereoToolsFor(hear);
    chain << "@hearmix:lavfi=[stereotools=mode=" + QByteArray::number(st.mode) + ":phasel=" + flag(st.phaseL) +
                 ":phaser=" + flag(st.phaseR) + ":mutel=" + flag(st.muteL) + ":muter=" + flag(st.muteR) +
                 ":level_out=" + num(st.levelOut) + "]";
    chain << "@hearlow:lavfi=[" + sections("highpass", lowEdge(hear)) + "]";
    chain << "@hearhigh:lavfi=[" + sections("lowpass", highEdge(hear)) + "]";
    chain << "@heargain:lavfi=[volume=volume=" + num(hear.gainDb) + "dB]";
    chain << "@hearlimit:lavfi=[alimiter=limit=" + num(limit(hear)) + ":level=0]";
    return chain.join(',');
}

QByteArray mpvHearCommandLine(const QList<MpvHearCommand>& commands)
{
    QList<QByteArray> line;
    for (const MpvHearCommand& c : commands) line << "af-command " + c.label + ' ' + c.command + " \"" + c.argument + '"';
    return line.join("; ");
}

std::optional<QList<MpvHearCommand>> mpvHearCommands(const HearSettings& from, const HearSettings& to)
{
    if ((from.centre == Centre::Keep) != (to.centre == Centre::Keep)) return std::nullopt;
    QList<MpvHearCommand> out;
    const StereoTools a = stereoToolsFor(from), b = stereoToolsFor(to);
    const QByteArray mix = "hearmix";
    // Mutes and phases first where they go on, last where they go off, so that a step
    // between commands is quieter rather than louder.
    if (b.muteL && !a.muteL) out.append({mix, "mutel", "1"});
    if (b.muteR && !a.muteR) out.append({mix, "muter", "1"});
    if (b.mode != a.mode) out.append({mix, "mode", QByteArray::number(b.mode)});
    if (b.phaseL != a.phaseL) out.append({mix, "phasel", flag(b.phaseL)});
    if (b.phaseR != a.phaseR) out.append({mix, "phaser", flag(b.phaseR)});
    if (b.levelOut != a.levelOut) out.append({mix, "level_out", num(b.levelOut)});
    if (!b.muteL && a.muteL) out.append({mix, "mutel", "0"});
    if (!b.muteR && a.muteR) out.append({mix, "muter", "0"});
    band(out, "hearlow", lowEdge(from), lowEdge(to));
    band(out, "hearhigh", highEdge(from), highEdge(to));
    if (to.gainDb != from.gainDb) out.append({"heargain", "volume", num(to.gainDb) + "dB"});
    if (limit(to) != limit(from)) out.append({"hearlimit", "limit", num(limit(to))});
    return out;
}

} // namespace engine
