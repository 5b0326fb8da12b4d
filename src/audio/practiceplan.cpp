#include "audio/practiceplan.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace audio {

namespace {
constexpr double kClickSeconds = 0.025;
constexpr double kClickDecaySeconds = 0.005;
}

PracticePlan::PracticePlan(const PracticeSettings& settings, double entryRate, int sampleRate, double stretchSeconds)
    : m_settings(settings), m_entryRate(entryRate > 0 ? entryRate : 1.0), m_sampleRate(std::max(1, sampleRate)),
      m_stretchSeconds(std::max(0.0, stretchSeconds))
{
}

bool PracticePlan::playsAs(const PracticeSettings& settings, double entryRate) const
{
    PracticeSettings a = settings, b = m_settings;
    a.hear = b.hear = {};
    return a == b && (entryRate > 0 ? entryRate : 1.0) == m_entryRate;
}

double PracticePlan::rateOf(int pass) const
{
    if (!m_settings.hasTrainer()) return m_entryRate;
    const double start = m_settings.trainerStartRate;
    const int steps = std::max(0, pass) / std::max(1, m_settings.trainerPassesPerStep);
    const double moved = std::abs(m_settings.trainerStep) * steps;
    // Rounded to a billionth, so that ten steps of 0.1 land on the rate and not a hair off it.
    const auto clean = [](double r) { return std::round(r * 1e9) / 1e9; };
    if (start < m_entryRate) return std::min(m_entryRate, clean(start + moved));
    return std::max(m_entryRate, clean(start - moved));
}

PassPlan PracticePlan::pass(int pass) const
{
    PassPlan p;
    p.rate = rateOf(pass);
    const double sr = m_sampleRate;
    // A pause by length follows this pass's own rate, the trainer's included.
    const double seconds = pausesByLength() ? m_settings.pauseFactor * m_stretchSeconds / p.rate
                           : m_settings.hasPause() ? m_settings.pause
                                                   : 0.0;
    const qint64 pause = qint64(std::llround(seconds * sr));
    p.prerollFrames = pause;
    const bool counts = m_settings.hasCountIn() &&
                        (pass == 0 || m_settings.countInWhen == PracticeSettings::CountInWhen::EveryPass);
    if (counts && m_settings.countInAuto && !m_bar.empty()) {
        // The bar's beats as this pass's rate hears them, the first at the pause's end, each
        // from the start on its own so that none drifts by rounding.
        const auto at = [&](double seconds) { return qint64(std::llround(-seconds / p.rate * sr)); };
        const qint64 lead = at(m_bar.front().seconds);
        for (const SourceClick& c : m_bar) {
            p.clicks.push_back(pause + lead - at(c.seconds));
            p.accents.push_back(c.accent);
        }
        p.prerollFrames = pause + lead;
    } else if (counts) {
        // Each click from the pause's end on its own, so the beats never drift by rounding.
        const double beat = 60.0 * sr / m_settings.countInBpm;
        for (qint32 i = 0; i < m_settings.countInClicks; ++i) p.clicks.push_back(pause + qint64(std::llround(i * beat)));
        p.prerollFrames = pause + qint64(std::llround(m_settings.countInClicks * beat));
    }
    return p;
}

bool PracticePlan::cutBefore(int pass) const
{
    if (pass <= 0) return false;
    return this->pass(pass).prerollFrames > 0 || rateOf(pass) != rateOf(pass - 1);
}

bool PracticePlan::stretches() const
{
    if (m_settings.hasTranspose()) return true;
    return rateOf(0) != 1.0 || m_entryRate != 1.0;
}

bool cutIntoNext(const PracticePlan& current, int pass, const PracticePlan& next)
{
    return next.pass(0).prerollFrames > 0 || next.pausesByLength() || next.rateOf(0) != current.rateOf(pass) ||
           next.pitchScale() != current.pitchScale();
}

qint64 clickLength(int sampleRate)
{
    return qint64(std::llround(kClickSeconds * sampleRate));
}

float clickSample(qint64 i, int sampleRate, bool accent)
{
    if (i < 0 || i >= clickLength(sampleRate)) return 0.0f;
    const double t = double(i) / sampleRate;
    const double freq = accent ? 1760.0 : 1320.0;
    const double level = accent ? 0.7 : 0.45;
    return float(level * std::exp(-t / kClickDecaySeconds) * std::sin(2 * M_PI * freq * t));
}

qint64 prerollResumeAt(const PassPlan& plan, qint64 at)
{
    const qint64 countIn = plan.clicks.empty() ? plan.prerollFrames : plan.clicks.front();
    return std::clamp<qint64>(std::min(at, countIn), 0, std::max<qint64>(0, plan.prerollFrames - 1));
}

void renderPreroll(const PassPlan& plan, int sampleRate, qint64 from, float* out, qint64 n)
{
    std::memset(out, 0, sizeof(float) * 2 * std::size_t(std::max<qint64>(0, n)));
    const qint64 length = clickLength(sampleRate);
    for (std::size_t c = 0; c < plan.clicks.size(); ++c) {
        const qint64 at = plan.clicks[c];
        const qint64 first = std::max(at, from), last = std::min(at + length, from + n);
        for (qint64 f = first; f < last; ++f) {
            const float s = clickSample(f - at, sampleRate, plan.accents.empty() ? c == 0 : bool(plan.accents[c]));
            out[(f - from) * 2] += s;
            out[(f - from) * 2 + 1] += s;
        }
    }
}

} // namespace audio
