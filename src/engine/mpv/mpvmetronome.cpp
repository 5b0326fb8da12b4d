#include "engine/mpv/mpvmetronome.h"

#include "engine/mpv/clickoutput.h"

#include <QFileInfo>

#include <algorithm>
#include <limits>

namespace engine {

namespace {
constexpr int kTickMs = 20;
// Clicks are placed this far past what the output has written: the stream thread takes
// more while a click is sent, and a click it finds written past is dropped.
constexpr int kMarginMs = 10;
// ... and up to this far: several ticks, so that ticks late on a loaded UI thread lose none.
constexpr int kAheadMs = 150;
constexpr std::size_t kGridsKept = 4;

QString absolute(const QString& path)
{
    return path.isEmpty() ? QString() : QFileInfo(path).absoluteFilePath();
}
} // namespace

MpvMetronome::MpvMetronome(Heard heard, Output output, QObject* parent)
    : QObject(parent), m_heard(std::move(heard)), m_output(std::move(output))
{
    m_timer.setInterval(kTickMs);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &MpvMetronome::tick);
}

void MpvMetronome::setBeats(const QString& path, std::shared_ptr<const beats::BeatGrid> grid)
{
    const QString key = absolute(path);
    std::erase_if(m_grids, [&](const auto& g) { return g.first == key; });
    if (grid) m_grids.emplace_back(key, std::move(grid));
    if (m_grids.size() > kGridsKept) m_grids.erase(m_grids.begin());
    if (key == m_file) update();
}

const beats::BeatGrid* MpvMetronome::grid(const QString& path) const
{
    const QString key = absolute(path);
    for (const auto& [p, g] : m_grids)
        if (p == key && g && g->beats.size() >= 2) return g.get();
    return nullptr;
}

void MpvMetronome::setFile(const QString& path)
{
    const QString key = absolute(path);
    if (key == m_file) return;
    m_file = key;
    update();
}

void MpvMetronome::setOn(bool on)
{
    if (on == m_on) return;
    m_on = on;
    update();
}

void MpvMetronome::setPlaying(bool playing)
{
    if (playing == m_playing) return;
    m_playing = playing;
    if (m_on && m_playing && !m_beats.empty()) m_timer.start();
    else m_timer.stop();
}

void MpvMetronome::update()
{
    const beats::BeatGrid* g = grid(m_file);
    m_beats = g ? beats::beatsBetween(*g, 0, std::numeric_limits<double>::infinity()) : std::vector<beats::Tick>{};
    // Clicks placed from other beats go; a count-in's are left alone while none were.
    if (m_timer.isActive()) silence();
    // Opened once this engine has a file with beats to click, before it plays them, so that
    // its timing has settled by then; never for files the other engine plays.
    if (m_on && !m_beats.empty()) m_output(true);
    if (m_on && m_playing && !m_beats.empty()) m_timer.start();
    else m_timer.stop();
}

void MpvMetronome::silence()
{
    if (ClickOutput* out = m_output(false)) out->silence();
    m_placer.reset();
    m_smoother.reset();
}

void MpvMetronome::tick()
{
    if (!m_timer.isActive()) return;  // off, not playing, or no beats
    ClickOutput* out = m_output(false);
    if (!out || out->settlingMs() > 0 || out->cutting()) return;
    const qint64 written = out->written();
    const qint64 heard = qint64(out->heardFrames());
    const HeardRun run = m_smoother.smooth(m_heard(heard), ClickOutput::kRate);
    constexpr int kFramesPerMs = ClickOutput::kRate / 1000;
    // A held pass's start is timed by the output itself: its first beats go out as the hold
    // begins (at least 60 ms past what is written), not at a tick during it, which a busy UI
    // thread may bring too late, or when the stream has taken a large block past the beat.
    const qint64 ahead = kAheadMs * kFramesPerMs;
    const qint64 to = run.exact ? std::max(written, run.frame) + ahead : written + ahead;
    for (const PlacedClick& c : m_placer.place(m_beats, run, ClickOutput::kRate, written + kMarginMs * kFramesPerMs, to))
        out->place(c.frame, c.accent);
}

} // namespace engine
