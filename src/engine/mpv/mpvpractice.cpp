#include "engine/mpv/mpvpractice.h"

#include "engine/mediaengine.h"
#include "engine/mpv/clickoutput.h"
#include "engine/mpv/mpvhandle.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace engine {

PrerollPlace placePreroll(const audio::PassPlan& plan, qint64 heard, qint64 written)
{
    const qint64 late = plan.clicks.empty() ? 0 : std::max<qint64>(0, written - (heard + plan.clicks.front()));
    return {heard + late, plan.prerollFrames + late};
}

void PassBreaks::setPractice(const PracticeSettings& practice, int pass, double entryRate)
{
    m_settings = practice;
    m_entryRate = entryRate;
    if (pass == MediaEngine::kGoOn) return;
    m_heard = m_decoded = std::max(0, pass);
    m_startDue = true;
}

void PassBreaks::setEntryRate(double rate)
{
    m_entryRate = rate;
}

audio::PracticePlan PassBreaks::plan() const
{
    audio::PracticePlan p(m_settings, m_entryRate, kClickRate, m_stretchSeconds);
    p.setCountInBar(m_bar);
    return p;
}

double PassBreaks::speed() const
{
    return plan().rateOf(m_decoded);
}

double PassBreaks::wrapDecoded()
{
    ++m_decoded;
    return speed();
}

audio::PassPlan PassBreaks::wrapHeard()
{
    ++m_heard;
    // A wrap is never heard before it is decoded.
    m_decoded = std::max(m_decoded, m_heard);
    return plan().pass(m_heard);
}

std::optional<audio::PassPlan> PassBreaks::startLanded()
{
    if (!m_startDue) return std::nullopt;
    m_startDue = false;
    m_decoded = m_heard;
    return plan().pass(m_heard);
}

MpvPractice::MpvPractice(QObject* parent) : QObject(parent)
{
    m_hold.setSingleShot(true);
    m_hold.setTimerType(Qt::PreciseTimer);
    connect(&m_hold, &QTimer::timeout, this, &MpvPractice::holdEnded);
}

MpvPractice::~MpvPractice() = default;

void MpvPractice::setPractice(const PracticeSettings& practice, int pass, double entryRate)
{
    m_breaks.setPractice(practice, pass, entryRate);
    // Opened ahead, so that its timing has settled by the time a count-in plays.
    if (practice.hasCountIn()) clicks(true);
    if (pass != MediaEngine::kGoOn) tellRate();
}

ClickOutput* MpvPractice::clicks(bool open)
{
    if (open && !m_clicks) m_clicks = std::make_unique<ClickOutput>();
    return m_clicks.get();
}

bool MpvPractice::wrapsHeard(int count, double quietSeconds)
{
    if (count <= 0) return false;
    audio::PassPlan plan;
    for (int i = 0; i < count; ++i) plan = m_breaks.wrapHeard();
    tellRate();
    return hold(plan, quietSeconds);
}

bool MpvPractice::startLanded(double quietSeconds)
{
    const auto plan = m_breaks.startLanded();
    return plan && hold(*plan, quietSeconds);
}

bool MpvPractice::hold(const audio::PassPlan& plan, double quietSeconds)
{
    if (plan.prerollFrames <= 0) return false;
    m_clicksDue.reset();
    m_passAt.reset();
    const bool clicks = m_clicks && !plan.clicks.empty();
    if (clicks && m_clicks->settlingMs() > 0) {
        // A little longer, once, rather than clicks out of time.
        m_clicksDue = plan;
        m_hold.start(m_clicks->settlingMs());
        return true;
    }
    // Clicks are placed from now on: only a pause alone counts what was silent already.
    const double quiet = clicks ? 0.0 : quietSeconds;
    qint64 frames = plan.prerollFrames;
    const bool timed = m_clicks && m_clicks->ready() && !m_clicks->cutting();
    const qint64 heard = timed ? qint64(m_clicks->heardFrames()) : 0;
    if (clicks && timed) {
        // A little ahead of what is written: the output takes more while this is sent.
        const PrerollPlace place = placePreroll(plan, heard, m_clicks->written() + ClickOutput::kRate / 100);
        for (std::size_t c = 0; c < plan.clicks.size() && c < std::size_t(practice::kMaxCountInClicks); ++c)
            m_clicks->place(place.at + plan.clicks[c], plan.accents.empty() ? c == 0 : bool(plan.accents[c]));
        frames = place.holdFrames;
    }
    int ms = std::max(0, int(std::llround(double(frames) * 1000.0 / ClickOutput::kRate - quiet * 1000.0)));
    if (timed && m_metronome) {
        // A pause shorter than the output's queue would start the pass where its first beat
        // can no longer be clicked (the next ticks place beats a little past what is written).
        constexpr qint64 kPlaceableMs = 60;
        const qint64 earliest = m_clicks->written() + kPlaceableMs * ClickOutput::kRate / 1000;
        ms = int(std::max<qint64>(ms, (earliest - heard) * 1000 / ClickOutput::kRate + 1));
    }
    // mpv's sound reaches the ear `lag` after its clock. A count-in's clicks time the pass
    // on the ear's time: released that much earlier, the pass is heard on its beat. A pause
    // alone began on mpv's clock as well, while the pass before still sounded for `lag`:
    // released on time, the silence heard is the pause's length, and the pass comes `lag`
    // after (released early, every pause heard came 15-35 ms short at 0.8).
    const int lagMs = int(std::lround((m_soundLag ? m_soundLag(plan.rate) / plan.rate : 0.0) * 1000.0));
    const int earlyMs = clicks && timed ? lagMs : 0;
    if (timed) m_passAt = heard + qint64(std::llround(double(ms + lagMs - earlyMs) * ClickOutput::kRate / 1000.0));
    m_holdDueMs = std::max(0, ms - earlyMs);
    m_hold.start(m_holdDueMs);
    m_holdSince.start();
    return true;
}

void MpvPractice::holdEnded()
{
    if (const auto due = std::exchange(m_clicksDue, std::nullopt)) {
        hold(*due);
        return;
    }
    // A late timer lengthens the pause by as much: the UI thread was busy.
    qCDebug(lcEngine, "hold of %d ms, its UI timer %lld ms late", m_holdDueMs, m_holdSince.elapsed() - m_holdDueMs);
    emit released();
}

void MpvPractice::cancel()
{
    if (!m_hold.isActive()) return;
    m_hold.stop();
    m_clicksDue.reset();
    m_passAt.reset();
    if (m_clicks) m_clicks->silence();
    emit released();
}

void MpvPractice::tellRate()
{
    if (m_breaks.trains()) emit passRateChanged(m_breaks.heardRate());
}

} // namespace engine
