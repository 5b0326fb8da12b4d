#include "engine/mpv/mpvpractice.h"

#include "audio/audiooutput.h"
#include "engine/mediaengine.h"
#include "engine/mpv/mpvhandle.h"
#include "audio/spscqueue.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <thread>
#include <utility>

#include <QElapsedTimer>

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

// The count-in's clicks on an output of their own, beside mpv's. The output's thread takes
// each preroll from a lock-free queue and never waits.
class ClickOutput {
public:
    static constexpr int kRate = 44100;

    ClickOutput()
    {
        m_opener = std::thread([this] {
            auto out = audio::openPulseOutput(500);
            if (!out) return;
            // All of it counts as sound: the clicks are placed by frame, and silence written over
            // would move them.
            out->start(kRate, [this](float* o, qint64 n) {
                pull(o, n);
                return n;
            });
            m_output = std::move(out);
            m_opened.start();
            m_ready.store(true, std::memory_order_release);
        });
    }
    ~ClickOutput()
    {
        m_opener.join();
        if (m_output) m_output->stop();
    }

    // Plays `plan`'s clicks from now; returns how long the hold lasts, in frames.
    qint64 play(const audio::PassPlan& plan)
    {
        if (!m_ready.load(std::memory_order_acquire)) return plan.prerollFrames;
        const qint64 written = m_written.load(std::memory_order_acquire);
        // A little ahead of what is written: the output takes more while this is sent.
        const PrerollPlace place = placePreroll(plan, qint64(m_output->heardFrames()), written + kRate / 100);
        Run r;
        r.at = place.at;
        r.count = int(std::min<std::size_t>(plan.clicks.size(), practice::kMaxCountInClicks));
        std::copy_n(plan.clicks.begin(), r.count, r.clicks);
        m_runs.push(r);
        return place.holdFrames;
    }
    void silence() { m_runs.push(Run{}); }
    // Milliseconds until the server's timing of a new stream can be trusted (measured: the
    // first clicks came 0.4 s after it said); 0 once it can.
    int settlingMs() const
    {
        constexpr int kSettleMs = 1000;
        if (!m_ready.load(std::memory_order_acquire)) return kSettleMs;
        return int(std::max<qint64>(0, kSettleMs - m_opened.elapsed()));
    }

private:
    struct Run {
        qint64 at = 0;
        int count = 0;
        qint64 clicks[practice::kMaxCountInClicks] = {};
    };

    void pull(float* out, qint64 frames)
    {
        for (Run* r; (r = m_runs.front()); m_runs.pop()) m_run = *r;
        std::memset(out, 0, sizeof(float) * 2 * std::size_t(frames));
        const qint64 w = m_written.load(std::memory_order_relaxed);
        const qint64 length = audio::clickLength(kRate);
        for (int c = 0; c < m_run.count; ++c) {
            const qint64 at = m_run.at + m_run.clicks[c];
            for (qint64 f = std::max(at, w); f < std::min(at + length, w + frames); ++f) {
                const float s = audio::clickSample(f - at, kRate, c == 0);
                out[(f - w) * 2] += s;
                out[(f - w) * 2 + 1] += s;
            }
        }
        m_written.store(w + frames, std::memory_order_release);
    }

    std::thread m_opener;
    std::unique_ptr<audio::AudioOutput> m_output;
    std::atomic<bool> m_ready{false};
    QElapsedTimer m_opened;
    std::atomic<qint64> m_written{0};
    audio::SpscQueue<Run> m_runs{8};
    Run m_run;  // the output thread's own
};

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
    // Opened ahead: the sound server answers within milliseconds, but not on the UI thread.
    if (practice.hasCountIn() && !m_clicks) m_clicks = std::make_unique<ClickOutput>();
    if (pass != MediaEngine::kGoOn) tellRate();
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
    const bool clicks = m_clicks && !plan.clicks.empty();
    if (clicks && m_clicks->settlingMs() > 0) {
        // A little longer, once, rather than clicks out of time.
        m_clicksDue = plan;
        m_hold.start(m_clicks->settlingMs());
        return true;
    }
    // Clicks are placed from now on: only a pause alone counts what was silent already.
    const double quiet = clicks ? 0.0 : quietSeconds;
    const qint64 frames = clicks ? m_clicks->play(plan) : plan.prerollFrames;
    m_holdDueMs = std::max(0, int(std::llround(double(frames) * 1000.0 / ClickOutput::kRate - quiet * 1000.0)));
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
    if (m_clicks) m_clicks->silence();
    emit released();
}

void MpvPractice::tellRate()
{
    if (m_breaks.trains()) emit passRateChanged(m_breaks.heardRate());
}

} // namespace engine
