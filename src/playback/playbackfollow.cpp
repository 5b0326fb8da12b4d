#include "playback/playbackfollow.h"

#include "playback/enginecontrol.h"

#include <QEvent>
#include <QTimer>
#include <QWidget>

#include <algorithm>

namespace playback {

int followInterval(int shownMs, bool playing, Sight sight)
{
    if (!playing || shownMs <= 0) return 0;
    return sight == Sight::Shown ? shownMs : std::max(shownMs, PlaybackFollow::kHiddenMs);
}

PlaybackFollow::PlaybackFollow(EngineControl* control, QWidget* display, int shownMs,
                               std::function<void(FollowCause)> refresh,
                               QObject* parent)
    : QObject(parent), m_control(control), m_display(display), m_shownMs(shownMs), m_refresh(std::move(refresh)),
      m_timer(new QTimer(this))
{
    connect(m_timer, &QTimer::timeout, this, [this] { follow(FollowCause::Tick); });
    // What the player reports is all that moves a still display; queued, so the player
    // is out of its report before the display reads it.
    auto later = [this] { QMetaObject::invokeMethod(this, [this] { follow(); }, Qt::QueuedConnection); };
    connect(m_control, &EngineControl::PlayStateChange, this, later);
    connect(m_control, &EngineControl::PositionChange, this, later);
    connect(m_control, &EngineControl::DurationChange, this, later);
    connect(m_control, &EngineControl::loopChanged, this, later);
    // Coming back into sight it shows the present at once, not after a slow tick.
    m_display->installEventFilter(this);
    if (m_display->window() != m_display) m_display->window()->installEventFilter(this);
    schedule();
}

void PlaybackFollow::setEnabled(bool enabled)
{
    m_enabled = enabled;
    if (enabled) follow();
    else m_timer->stop();
}

void PlaybackFollow::setShownInterval(int ms)
{
    if (ms == m_shownMs) return;
    m_shownMs = ms;
    schedule();
}

void PlaybackFollow::follow(FollowCause cause)
{
    if (!m_enabled) return;
    m_refresh(cause);
    schedule();
}

void PlaybackFollow::schedule()
{
    const bool shown = m_display->isVisible() && !m_display->window()->isMinimized();
    const int ms = m_enabled ? followInterval(m_shownMs, m_control->PlayState() == engine::PlayState::Playing,
                                              shown ? Sight::Shown : Sight::Hidden)
                             : 0;
    if (ms == 0) {
        m_timer->stop();
    } else if (!m_timer->isActive() || m_timer->interval() != ms) {
        // A running timer keeps its phase: restarting it on every report would starve it.
        m_timer->start(ms);
    }
}

bool PlaybackFollow::eventFilter(QObject* watched, QEvent* event)
{
    // Looked at from the event loop: a widget is also hidden while its window is taken
    // down, when the player may be half gone; a deleted follow takes no queued call.
    switch (event->type()) {
    case QEvent::Show:
    case QEvent::WindowStateChange:
        if (watched == m_display || watched == m_display->window())
            QMetaObject::invokeMethod(this, [this] { follow(); }, Qt::QueuedConnection);
        break;
    case QEvent::Hide: QMetaObject::invokeMethod(this, &PlaybackFollow::schedule, Qt::QueuedConnection); break;
    default: break;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace playback
