#include "audio/liveswitch.h"

#include <algorithm>

namespace audio {

std::optional<Switch> chooseSwitch(const std::deque<Rendered>& rendered, quint64 taken, quint64 lead)
{
    std::size_t keep = rendered.size();
    for (std::size_t i = 0; i < rendered.size(); ++i) {
        if (rendered[i].seq >= taken + lead) {
            keep = i;
            break;
        }
    }
    if (keep == rendered.size()) {
        // Less than the lead is ahead: keep all of it.
        if (rendered.empty() || rendered.back().seq <= taken) return std::nullopt;
        keep = rendered.size() - 1;
    }
    // A chunk ending at a stop is followed by its wrap: the new rendering must not begin at
    // the stop itself, where the stretch would no longer loop.
    while (keep + 1 < rendered.size() && rendered[keep + 1].passStart) ++keep;
    const Rendered& last = rendered[keep];
    Switch s;
    s.keepUntil = last.seq;
    s.from = last.sourcePos + double(last.frames) * last.step;
    s.pass = last.pass;
    return s;
}

int wrapsLeft(int wraps, int heardPass, int pass)
{
    if (wraps < 0) return wraps;
    return std::max(0, wraps - std::max(0, pass - heardPass));
}

} // namespace audio
