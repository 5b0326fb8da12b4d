#include "playback/waveformbinding.h"

#include "app/filecheck.h"
#include "app/numbertext.h"
#include "beats/beatsource.h"
#include "playback/enginecontrol.h"
#include "playback/playbackfollow.h"
#include "waveform/waveformview.h"

#include <QLineEdit>
#include <QScreen>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace playback {
namespace {
// The playhead moves on when it reaches the next dot of the screen, and never faster than
// the screen shows it.
constexpr int kFollowMs = 30;
// Typing a path names many files on the way; the view waits for a pause.
constexpr int kFileSettleMs = 300;

int screenMs(const QWidget* view)
{
    const QScreen* screen = view->screen();
    const double hz = screen ? screen->refreshRate() : 0;
    return hz > 0 ? std::max(kFollowMs, int(std::ceil(1000.0 / hz))) : kFollowMs;
}

} // namespace

int followMs(double secondsPerDot, double rate, int screenMs)
{
    if (!(secondsPerDot > 0) || !(rate > 0)) return screenMs;
    const double dotMs = secondsPerDot / rate * 1000.0;
    return int(std::clamp(dotMs, double(screenMs), double(PlaybackFollow::kHiddenMs)));
}

ShadedStretch nextShadedStretch(const ShadedStretch& before, const QString& file, const engine::LoopRange& loop,
                                engine::PlayState state)
{
    if (loop.stop > loop.start) return {file, loop.start, loop.stop};
    if (state != engine::PlayState::Playing && before.file == file) return before;
    return {file, 0, 0};
}

WaveformBinding::WaveformBinding(EngineControl* control, waveform::WaveformView* view, QObject* parent)
    : QObject(parent), m_control(control), m_view(view), m_fileSettle(new QTimer(this))
{
    m_follow = new PlaybackFollow(m_control, m_view, screenMs(m_view), [this](FollowCause cause) {
        // A tick moves the playhead alone: the file and the loop change only with a report.
        if (cause == FollowCause::Tick) followPlayhead();
        else refresh();
    }, this);
    m_fileSettle->setSingleShot(true);
    m_fileSettle->setInterval(kFileSettleMs);
    connect(m_fileSettle, &QTimer::timeout, this, &WaveformBinding::fileBoxEdited);
    connect(m_view, &waveform::WaveformView::seekRequested, this, [this](double seconds) {
        if (playerHasShownFile()) m_control->setCurrentPosition(seconds);
    });
    // The beats the view found are the engine's too, for its metronome and count-in.
    connect(m_view->beats(), &beats::BeatSource::changed, this, [this] {
        const beats::BeatSource* b = m_view->beats();
        if (b->status() == beats::BeatSource::Status::Ready && !b->file().isEmpty() && b->file() == m_control->FileName())
            m_control->engine()->setBeats(b->file(), std::make_shared<const beats::BeatGrid>(b->grid()));
    });
}

void WaveformBinding::bindBoxes(QLineEdit* fileBox, QLineEdit* startBox, QLineEdit* stopBox)
{
    m_file = fileBox;
    m_start = startBox;
    m_stop = stopBox;
    m_view->setHandlesShown(true);
    connect(fileBox, &QLineEdit::textChanged, m_fileSettle, qOverload<>(&QTimer::start));
    connect(startBox, &QLineEdit::textChanged, this, [this] { boxEdited(m_start); });
    connect(stopBox, &QLineEdit::textChanged, this, [this] { boxEdited(m_stop); });
    connect(m_view, &waveform::WaveformView::handleMoved, this,
            [this](waveform::WaveformView::Handle which, double seconds) { handleMoved(which, seconds); });
    boxEdited(m_start);
    boxEdited(m_stop);
    fileBoxEdited();
}

QString WaveformBinding::playedFile() const
{
    const QString file = m_control->FileName();
    return app::mediaFileUsable(file) ? file : QString();
}

bool WaveformBinding::playerHasShownFile() const
{
    return !m_view->source()->file().isEmpty() && m_control->FileName() == m_view->source()->file();
}

void WaveformBinding::refresh()
{
    if (!m_view->isVisible()) {
        // A video's picture (or a window put away) hides the player's waveform: the beats of
        // what plays are still found, from its sound, for snapping and the bar keys.
        if (!m_file) m_view->beats()->setFile(playedFile());
        return;
    }
    if (!m_file) {
        const QString file = m_control->FileName();
        m_view->setFile(playedFile());
        m_shaded = nextShadedStretch(m_shaded, file, m_control->engine()->loop(), m_control->PlayState());
        m_view->setStretch(m_shaded.start, m_shaded.stop);
    }
    followPlayhead();
}

void WaveformBinding::followPlayhead()
{
    if (!m_view->isVisible()) return;
    // The pace for the zoom and the rate as they are now.
    m_follow->setShownInterval(followMs(m_view->secondsPerDot(), m_control->Rate(), screenMs(m_view)));
    const bool same = playerHasShownFile();
    if (same) m_view->setDuration(m_control->Duration());
    m_view->setPlayhead(same && m_control->Duration() > 0 ? m_control->CurrentPosition() : -1);
}

void WaveformBinding::fileBoxEdited()
{
    const QString file = m_file->text();
    m_view->setFile(app::mediaFileUsable(file) ? file : QString());
    refresh();
}

void WaveformBinding::boxEdited(QLineEdit* box)
{
    const waveform::WaveformView::Handle which = box == m_start ? waveform::WaveformView::Start : waveform::WaveformView::Stop;
    if (const auto seconds = numtext::parse(box->text())) m_view->setHandle(which, *seconds);
}

void WaveformBinding::handleMoved(int which, double seconds)
{
    QLineEdit* box = which == waveform::WaveformView::Start ? m_start : m_stop;
    // The box already saying this value (in other digits) keeps its text.
    if (numtext::parse(box->text()) == seconds) return;
    box->setText(numtext::format(seconds));
}

} // namespace playback
