#pragma once
// The hear settings as mpv audio filters: FFmpeg's stereotools for the centre and the
// channels, high and low passes (two sections each, for 24 dB an octave), a volume and a
// limiter. Each part is a filter of mpv's own with a label, since mpv sends a command to
// every filter in a labelled graph: a change of band, centre cancel, channels or gain is a
// handful of commands to the running chain, its state kept, where writing the list anew
// would restart the chain (a short gap). Keeping the centre is FFmpeg's surround upmix put
// in front, which takes no commands: turning it on or off writes the list.
#include "app/hear.h"

#include <QByteArray>
#include <QList>

#include <optional>

namespace engine {

// The filters for `hear` in mpv's `af` list syntax, a chain of them whatever the settings
// (with every setting off, one that leaves the sound as it is).
QByteArray mpvHearFilters(const HearSettings& hear);
// How much later than mpv's audio-pts says the chain's sound is heard: the limiter's
// look-ahead (alimiter's attack, 5 ms as left), in the source's seconds, for the chain runs
// before mpv's speed change.
inline constexpr double kHearChainDelaySeconds = 0.005;

struct MpvHearCommand {
    QByteArray label, command, argument;  // af-command's arguments
    bool operator==(const MpvHearCommand&) const = default;
};
// What turns the chain of `from` into that of `to` while it runs, in order; none when the
// list must be written anew (the centre kept in one and not the other).
std::optional<QList<MpvHearCommand>> mpvHearCommands(const HearSettings& from, const HearSettings& to);
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
