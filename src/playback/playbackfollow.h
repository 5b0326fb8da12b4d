#pragma once
// A display that follows playback (a position box, a tracker bar, a playhead): it looks at
// the player on every change the player reports, and on a timer only while something
// plays. Nothing polls while nothing plays; out of sight the timer slows down.
#include <QObject>

#include <functional>

class QTimer;
class QWidget;

namespace playback {

class EngineControl;

// How the display stands; what the follow timer does follows from it alone.
enum class Sight { Shown, Hidden };
// Why a display is refreshed: a tick only moves on what plays; a report of the player (a
// new file, state, position, length or loop) may have changed anything.
enum class FollowCause { Tick, Report };

// The follow timer's interval in milliseconds for a display refreshed every `shownMs` in
// sight; 0: the timer stands still.
int followInterval(int shownMs, bool playing, Sight sight);

class PlaybackFollow : public QObject {
    Q_OBJECT
public:
    // Out of sight, a display is looked at no more often than this.
    static constexpr int kHiddenMs = 1000;

    // `refresh` reads the player into the display. Shown means `display` is visible and its
    // window not minimised.
    PlaybackFollow(EngineControl* control, QWidget* display, int shownMs, std::function<void(FollowCause)> refresh,
                   QObject* parent = nullptr);

    // A display switched off (a folded panel) is neither refreshed nor timed.
    void setEnabled(bool enabled);
    bool isEnabled() const { return m_enabled; }
    // For displays that drew at most at another pace from now on (the screen's rate).
    void setShownInterval(int ms);

    QTimer* timer() const { return m_timer; }
    // Refreshes now and sets the timer for what the player does.
    void follow(FollowCause cause = FollowCause::Report);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void schedule();

    EngineControl* m_control;
    QWidget* m_display;
    int m_shownMs;
    std::function<void(FollowCause)> m_refresh;
    QTimer* m_timer;
    bool m_enabled = true;
};

} // namespace playback
