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
    bool operator==(const Band&) const = default;
};
Band lowEdge(const HearSettings& h) { return {h.lowCut > 0 ? h.lowCut : kIdleEdgeHz, h.lowCut > 0}; }
Band highEdge(const HearSettings& h) { return {h.highCut > 0 ? h.highCut : kIdleEdgeHz, h.highCut > 0}; }

using Branch = MpvHearChain::Branch;

// One labelled lavfi graph of mpv's list, quoted by its length: mpv's brackets do not
// nest, and a graph's own link labels are bracketed.
QByteArray lavfi(const QByteArray& label, const QByteArray& graph)
{
    return "@" + label + ":lavfi=%" + QByteArray::number(graph.size()) + "%" + graph;
}

QByteArray suffix(Branch b)
{
    return b == Branch::A ? "a" : "b";
}

Branch other(Branch b)
{
    return b == Branch::A ? Branch::B : Branch::A;
}

// Two stereo streams side by side as one of four channels (the first on FL FR).
constexpr const char* kJoin = "join=inputs=2:channel_layout=quad:map=0.0-FL|0.1-FR|1.0-BL|1.1-BR";

// The same Butterworth sections as our own engine's band.
QByteArray sections(const char* filter, Band b)
{
    const char* const q[] = {"0.541196", "1.306563"};
    QList<QByteArray> two;
    for (const char* w : q)
        two << QByteArray(filter) + "=f=" + num(b.hz) + ":width_type=q:w=" + w + ":mix=" + flag(b.on);
    return two.join(',');
}

// `part` on one branch's pair of the four channels, the other pair as it was. The pairs go
// apart and back rather than through a filter's channel option: a biquad that takes a
// command starts again on every channel, the heard pair's too.
QByteArray onPair(Branch b, const QByteArray& part)
{
    const QByteArray first = b == Branch::A ? "," + part : QByteArray(), second = b == Branch::B ? "," + part : QByteArray();
    return "asplit[x][y];[x]pan=stereo|c0=c0|c1=c1" + first + "[a];[y]pan=stereo|c0=c2|c1=c3" + second + "[b];[a][b]" +
           kJoin;
}

QByteArray stereoTools(const StereoTools& st)
{
    return "stereotools=mode=" + QByteArray::number(st.mode) + ":phasel=" + flag(st.phaseL) + ":phaser=" +
           flag(st.phaseR) + ":mutel=" + flag(st.muteL) + ":muter=" + flag(st.muteR) + ":level_out=" +
           num(st.levelOut);
}

// The limiter at our own engine's ceiling while any setting is on, else out of the way;
// always at the ceiling in B, so that the first setting from none (a change lands in B)
// needs no command to it: a limiter that takes one starts again from its look-ahead's
// silence and has to play unheard first. The price: the settings all turned off are heard
// through B's limiter at the ceiling until the hand-back to A (0.2 s at rate 1).
double limit(const HearSettings& h, Branch b)
{
    return h.any() || b == Branch::B ? audio::PeakLimiter::kCeiling : 1.0;
}

// The centre found per frequency, as our own engine does: the upmix's front centre (its
// level doubled by the windows' 3/4 overlap, and 3 dB above the middle it came from) on
// both sides. The upmix takes no commands, so a branch holds it only while it keeps the
// centre. It hands its sound on 768 frames late (a 1024-frame window less its hop) under the
// same timestamps: 17 ms at 44.1 kHz, within a frame of the picture at up to 50 frames a
// second. A 4096-frame window lowered a side tone more (-31 dB against -30) but was 46 ms
// late, and with a timestamp shift to make up for it, no delayed and undelayed branch could
// be faded across without moving the picture by more than a frame.
constexpr const char* kKeep =
    "surround=chl_out=3.0:lfe=0:win_size=1024:overlap=0.75,pan=stereo|c0=0.353553*FC|c1=0.353553*FC";
constexpr int kKeepHop = 1024 - kHearKeepFrames;  // the window less its overlap

// Silence after a file's last frame, so that what the chain still holds then is handed on:
// the limiter's look-ahead, and with the centre kept the upmix's window besides (it hands
// on whole hops only, so the last is filled by up to a hop of this silence, played after
// the file's sound at a plain end). Without it a file's end lost 5 ms, 26 ms kept. Where
// mpv cuts, at a stop or a loop's end, it cuts by date: the silence is never played there,
// nor does it lengthen a wrap. Set by A's settings alone, so that a change on B leaves A's
// entries as they run: between a change of keep on B and its hand-back an end loses the
// upmix's part.
QByteArray endPad(const HearSettings& a)
{
    const QByteArray limiter = "apad=pad_dur=" + num(kHearChainDelaySeconds);
    if (a.centre != Centre::Keep) return limiter;
    return "apad=pad_len=" + QByteArray::number(kHearKeepFrames + kKeepHop - 1) + "," + limiter;
}

// One branch's parts, graphs of their own so that no command of one part reaches another:
// the centre, channels and gain, the kept centre while on, the low edge, the high edge and
// the limiter. The limiter is the branch's own, not the last graph's: the last graph is
// never built again while playing (a limiter built again starts with its look-ahead's 5 ms
// of silence).
QList<QByteArray> branchFilters(const HearSettings& h, Branch b)
{
    const QByteArray mix = stereoTools(stereoToolsFor(h)) + ",volume=volume=" + num(h.gainDb) + "dB";
    // The input twice over goes in front of A's first graph (a graph more to build again
    // at each seek lengthens its gap): each branch's copy, B silent until a change.
    const QByteArray split = b == Branch::A ? "aformat=channel_layouts=stereo," + endPad(h) + ",asplit[p][q];[p][q]" +
                                                  kJoin + ","
                                            : QByteArray();
    QList<QByteArray> out{lavfi("hearmix" + suffix(b), split + onPair(b, mix))};
    if (h.centre == Centre::Keep) out << lavfi("hearkeep" + suffix(b), onPair(b, kKeep));
    return out << lavfi("hearlow" + suffix(b), onPair(b, sections("highpass", lowEdge(h))))
               << lavfi("hearhigh" + suffix(b),
                        onPair(b, sections("lowpass", highEdge(h)) + ",alimiter=limit=" + num(limit(h, b)) +
                                      ":level=0"));
}

// The gain on B's share, where A is heard at 0 and B at 1.
double shareOfB(Branch heard)
{
    return heard == Branch::A ? 0 : 1;
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

namespace {

// The list whose branch A holds `a`, B `b`, A heard.
QByteArray hearList(const HearSettings& a, const HearSettings& b)
{
    // The upmix takes its input 256 frames (its hop) at a time and keeps what is left over,
    // with the other pair waiting for it in its graph's join: a graph built anew loses what
    // it holds, heard as a skip. Frames cut to whole hops in an entry never rewritten leave
    // it nothing between frames. At a file's end the last, shorter frame goes on whole.
    QList<QByteArray> chain{lavfi("hearframes", "asetnsamples=n=" + QByteArray::number(kKeepHop) + ":p=0")};
    chain << branchFilters(a, Branch::A) << branchFilters(b, Branch::B);
    // A + g (B - A): one gain, so one command fades both ways at once. volume evaluates
    // once a frame, so frames of 4 make the fade's steps fine: 110 over 10 ms at 44.1 kHz,
    // each at most 1 % of what the branches differ by. Only the difference goes through
    // them (0.9 % of a core more than mpv's frames, by ffmpeg alone); what is heard keeps
    // mpv's frames.
    chain << lavfi("hearfade", QByteArray("asplit[s][d];[s]pan=stereo|c0=c0|c1=c1[a];"
                                          "[d]pan=stereo|c0=c2-c0|c1=c3-c1,asetnsamples=n=4:p=0,"
                                          "volume=volume=0:eval=frame[dd];[a][dd]") +
                                   kJoin + ",pan=stereo|c0=c0+c2|c1=c1+c3");
    return chain.join(',');
}

} // namespace

QByteArray mpvHearFilters(const HearSettings& hear)
{
    return hearList(hear, hear);
}

MpvHearHandBack mpvHearHandBack(const HearSettings& listed, const HearSettings& heard)
{
    return {.list = hearList(heard, listed),
            .fade = {"hearfade", "volume", mpvHearFade(1, 0, kHearBandSettleSeconds)}};
}

QByteArray mpvHearCommandLine(const QList<MpvHearCommand>& commands)
{
    QList<QByteArray> line;
    for (const MpvHearCommand& c : commands) line << "af-command " + c.label + ' ' + c.command + " \"" + c.argument + '"';
    return line.join("; ");
}

namespace {

// What turns one branch of `from` into one of `to`, in order.
QList<MpvHearCommand> branchCommands(const HearSettings& from, const HearSettings& to, Branch on)
{
    QList<MpvHearCommand> out;
    const StereoTools a = stereoToolsFor(from), b = stereoToolsFor(to);
    const QByteArray mix = "hearmix" + suffix(on);
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
    band(out, "hearlow" + suffix(on), lowEdge(from), lowEdge(to));
    band(out, "hearhigh" + suffix(on), highEdge(from), highEdge(to));
    if (to.gainDb != from.gainDb) out.append({mix, "volume", num(to.gainDb) + "dB"});
    if (limit(to, on) != limit(from, on)) out.append({"hearhigh" + suffix(on), "limit", num(limit(to, on))});
    return out;
}

} // namespace

MpvHearChain mpvHearChain(const HearSettings& hear)
{
    return {.a = hear, .b = hear};
}

QByteArray mpvHearFade(double from, double to, double settle)
{
    // st/ld keep their values in the parsed expression, which a command makes anew:
    // 1 says the start is taken, 0 is the first frame's time, 2 the furthest share reached.
    return num(from) + "+(" + num(to - from) + ")*st(2,max(ld(2),min(1,max(0,t-if(ld(1),ld(0),st(1,1)*st(0,t))-" +
           num(settle) + ")/" + num(kHearFadeSeconds) + ")))";
}

MpvHearChange mpvHearChange(const MpvHearChain& chain, const HearSettings& to)
{
    const HearSettings& heard = chain.heard == Branch::A ? chain.a : chain.b;
    MpvHearChange change{.list = {}, .commands = {}, .chain = chain};
    if (to == heard) return change;
    // The branch not heard takes the new settings, silent, then the fade goes over to it.
    const Branch idle = other(chain.heard);
    HearSettings& target = idle == Branch::A ? change.chain.a : change.chain.b;
    bool settle = false;
    if ((target.centre == Centre::Keep) != (to.centre == Centre::Keep)) {
        // The upmix comes or goes by the idle branch's entries, which mpv builds anew
        // without a sound while the heard ones run on. The fade waits for the new branch's
        // first real output, as for a band: the upmix's own 768 frames, and the edges and
        // the limiter started from nothing.
        change.list = idle == Branch::A ? hearList(to, chain.b) : hearList(chain.a, to);
        settle = true;
    } else {
        change.commands = branchCommands(target, to, idle);
        // A limiter that takes a command starts again from its look-ahead's silence (a step
        // of 0.08 mid-fade when cancel turned on at once): it waits as a band does.
        settle = lowEdge(target) != lowEdge(to) || highEdge(target) != highEdge(to) ||
                 limit(target, idle) != limit(to, idle);
    }
    const double wait = settle ? kHearBandSettleSeconds : kHearSwitchSettleSeconds;
    change.commands.append({"hearfade", "volume", mpvHearFade(shareOfB(chain.heard), shareOfB(idle), wait)});
    target = to;
    change.chain.heard = idle;
    return change;
}

} // namespace engine
