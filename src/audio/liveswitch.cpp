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

namespace {

// The chunk taken that holds frame `at` of those pulled: kept up to the one before, rendered
// anew from `at`; in a hold, from where it stands, with how far into the hold the cut is.
// Not in an entry before `firstEntry` (its file is closed).
std::optional<Takeover> cutAt(const std::deque<Rendered>& rendered, const std::function<qint64(quint64)>& pulledAt,
                              quint64 taken, qint64 at, quint64 firstEntry)
{
    if (at < 0 || rendered.empty()) return std::nullopt;
    for (const Rendered& r : rendered) {
        if (r.seq > taken) break;
        const qint64 first = pulledAt(r.seq);
        if (at < first || at >= first + r.frames) continue;
        if (r.entry < firstEntry) return std::nullopt;
        if (r.step <= 0) {
            const Switch s{r.seq - 1, r.sourcePos, r.pass};
            return Takeover{s, at, r.entry, std::max<qint64>(0, r.holdAt) + (at - first), r.holdPass};
        }
        // On a pass's first frame the cut goes one past it, so that its wrap stays counted.
        if (at == first && r.passStart) ++at;
        if (at >= first + r.frames) return std::nullopt;
        return Takeover{Switch{r.seq - 1, r.sourcePos + double(at - first) * r.step, r.pass}, at, r.entry};
    }
    return std::nullopt;
}

// Whether the chunks from the cut through the switch's last go against a range ending at
// `stop`: a pass begins in them (the old stop's wrap, a pause's hold) or they reach the stop.
bool keptGoesAgainst(const std::deque<Rendered>& rendered, quint64 cut, quint64 keepUntil, std::optional<double> stop)
{
    for (const Rendered& r : rendered) {
        if (r.seq <= cut || r.seq > keepUntil) continue;
        if (r.passStart || r.step <= 0) return true;
        if (stop && r.sourcePos + double(r.frames) * r.step >= *stop) return true;
    }
    return false;
}

} // namespace

std::optional<Takeover> chooseTakeover(const std::deque<Rendered>& rendered,
                                       const std::function<qint64(quint64 seq)>& pulledAt, quint64 taken,
                                       quint64 lead, qint64 replaceable, std::optional<double> stop, Change change,
                                       std::optional<quint64> firstEntry)
{
    const quint64 now = rendered.empty() ? 0 : rendered.back().entry;
    const quint64 earliest = change == Change::Pause ? std::min(firstEntry.value_or(now), now) : now;
    std::optional<Takeover> cut = cutAt(rendered, pulledAt, taken, replaceable, earliest);
    if (change == Change::Pause) return cut;
    // A new range or rate goes on from a source frame, which a hold's silence has none of.
    if (cut && cut->holdAt >= 0) cut.reset();
    // A mix is rendered again from the cut whatever is ahead: the output may hold all of
    // the entry cut in, and the next one after it.
    if (cut && change == Change::Mix) return cut;
    const std::optional<Switch> s = chooseSwitch(rendered, taken, lead);
    if (!s) return std::nullopt;
    if (cut && keptGoesAgainst(rendered, cut->keep.keepUntil, s->keepUntil, stop)) return cut;
    // Out of the output's reach, a stop behind the switch is cut as soon as may be.
    if (stop && s->from >= *stop)
        if (const std::optional<Switch> sooner = chooseSwitch(rendered, taken, 1)) return Takeover{*sooner, -1};
    return Takeover{*s, -1};
}

int wrapsLeft(int wraps, int heardPass, int pass)
{
    if (wraps < 0) return wraps;
    return std::max(0, wraps - std::max(0, pass - heardPass));
}

bool remixReaches(const std::deque<Rendered>& rendered, const std::function<qint64(quint64 seq)>& pulledAt,
                  quint64 taken, qint64 replaceable, quint64 entry)
{
    return std::any_of(rendered.begin(), rendered.end(), [&](const Rendered& r) {
        return r.entry == entry && (r.seq > taken || (replaceable >= 0 && pulledAt(r.seq) + r.frames > replaceable));
    });
}

bool remixReady(const RemixProgress& p, qint64 slack, double fastSpeed)
{
    // Where it is as far ahead as the old sound, nothing of what was ahead is lost.
    return p.pastQueue >= slack && (p.speed >= fastSpeed || p.pastQueue >= p.oldAhead);
}

bool previewDue(qint64 held, qint64 previewed, double recentSpeed, qint64 first, qint64 step, double fastSpeed)
{
    if (recentSpeed < fastSpeed) return false;
    return previewed <= 0 ? held >= first : held >= previewed + step;
}

} // namespace audio
