#pragma once
// The hear settings as mpv audio filters: lavfi's high and low passes (two sections each, for
// 24 dB an octave), a pan matrix for the centre and the channels, a volume and a limiter.
// What mpv cannot do as our own engine does: a change restarts its filter chain (a short gap
// rather than a fade), and the limiter looks ahead a few milliseconds, so it is later by as much.
#include "app/hear.h"

#include <QByteArray>

namespace engine {

// The filters for `hear` in mpv's `af` list syntax; empty when every setting is off.
QByteArray mpvHearFilters(const HearSettings& hear);

} // namespace engine
