#pragma once
// The hear settings as mpv audio filters: FFmpeg's stereotools for the centre and the
// channels, high and low passes (two sections each, for 24 dB an octave), a volume and a
// limiter. The sound runs as four channels through two such branches, A on the first pair
// and B on the second, each a copy of the input; a last graph mixes them by one gain that
// ramps. A change sets the branch not heard (its parts are filters of mpv's own with a
// label, since mpv sends a command to every filter in a labelled graph) and fades to it
// over 10 ms from the frame the command lands on: nothing steps, where a command to the
// heard chain would switch between two frames. Keeping the centre is FFmpeg's surround
// upmix in a branch's own graph, which takes no commands: turning it on or off writes the
// branch not heard anew, then fades to it the same way.
#include "app/hear.h"

#include <QByteArray>
#include <QList>


namespace engine {

// The filters for `hear` in mpv's `af` list syntax, a chain of them whatever the settings
// (with every setting off, one that leaves the sound as it is).
QByteArray mpvHearFilters(const HearSettings& hear);
// How much later than mpv's audio-pts says the chain's sound is heard: the limiter's
// look-ahead (alimiter's attack, 5 ms as left), in the source's seconds, for the chain runs
// before mpv's speed change.
inline constexpr double kHearChainDelaySeconds = 0.005;
// How many frames later still the sound is heard while the centre is kept: the upmix's
// window (1024) less its hop (256), at the file's own rate since the chain runs first.
inline constexpr int kHearKeepFrames = 768;

struct MpvHearCommand {
    QByteArray label, command, argument;  // af-command's arguments
    bool operator==(const MpvHearCommand&) const = default;
};
// What the running chain holds: each branch's settings and the one heard.
struct MpvHearChain {
    enum class Branch { A, B };
    HearSettings a, b;
    Branch heard = Branch::A;
    bool operator==(const MpvHearChain&) const = default;
};
// The chain mpvHearFilters(hear) starts.
MpvHearChain mpvHearChain(const HearSettings& hear);
// What turns `chain` into one that plays `to` while it runs: a list to write first where the
// centre is kept in one and not the other (the branch not heard built anew, the heard
// branch's entries as they run, so its settings must be those its entries were written
// with, as after a load or a hand-back), then the commands in order, and the chain it leaves.
struct MpvHearChange {
    QByteArray list;
    QList<MpvHearCommand> commands;
    MpvHearChain chain;
    bool operator==(const MpvHearChange&) const = default;
};
MpvHearChange mpvHearChange(const MpvHearChain& chain, const HearSettings& to);
// How long a fade between the branches takes, in the source's seconds.
inline constexpr double kHearFadeSeconds = 0.01;
// How long a branch whose band changed plays unheard first: a biquad that takes a command
// starts again from its new coefficients, and its start rings (a peak of 2.4 times the
// tone's own on 200-4000 turned on under a 440 Hz tone). 80 ms lets a 40 Hz edge ring out
// with a frame of mpv's (up to 23 ms) between the band's graph and the fade's. Still well
// within mpv's output buffer (0.2 s).
inline constexpr double kHearBandSettleSeconds = 0.08;
// How long any other change waits: the new settings reach the fade only after the
// branch's limiter's look-ahead (5 ms); a fade begun at once met them mid-way, a step of
// half what the two sounds differ by (0.10 on cancel turned on under a 0.5 | 0.2 tone).
inline constexpr double kHearSwitchSettleSeconds = 2 * kHearChainDelaySeconds;
// volume's per-frame gain of the second branch's part: `from` at the first frame it sees
// and `settle` seconds after, a line to `to` over the fade, held there after (a jump back
// in time does not undo it).
QByteArray mpvHearFade(double from, double to, double settle);
// mpv builds each graph of the list again from its entry at every seek (a loop's wrap is
// one), so a setting given by command is lost there; setting the list keeps every entry
// whose text is unchanged running as it is and builds only the others. After a change has
// faded to B, the list that gives A the settings heard (A is built again, unheard) while B
// and the last graph keep the entries `listed` wrote, and the fade back to A once A's
// edges have rung out: after it, and after any seek from here on, A plays `heard`. Writing
// mpvHearFilters(heard) then builds B again, unheard, and the list holds what is heard.
struct MpvHearHandBack {
    QByteArray list;
    MpvHearCommand fade;
};
MpvHearHandBack mpvHearHandBack(const HearSettings& listed, const HearSettings& heard);
// The commands as one line of mpv's input syntax, run in one go: a change moves every part
// of the chain between the same two audio frames, never some parts a frame before others.
QByteArray mpvHearCommandLine(const QList<MpvHearCommand>& commands);

// stereotools' options for a centre and channels setting (keep: the upmix before it
// has done the work): the sound mixed by mode, the phases turned, muted, the level after.
struct StereoTools {
    int mode = 0;  // 0 lr>lr, 3 lr>ll, 4 lr>rr, 5 lr>l+r, 10 lr>l-r (the latter two halve)
    bool phaseL = false, phaseR = false, muteL = false, muteR = false;
    double levelOut = 1;
    bool operator==(const StereoTools&) const = default;
};
StereoTools stereoToolsFor(const HearSettings& hear);

} // namespace engine
