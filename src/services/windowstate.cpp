#include "services/windowstate.h"

#include <QApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QTimer>
#include <QWidget>
#include <QWindow>

namespace services {

void restoreMinimised(QWidget* window)
{
    if (!window || !window->isVisible() || !window->isMinimized()) return;
    // Minimised by the window manager, the platform window may still take itself for
    // normal and would then ignore the way back: tell it first.
    if (QWindow* handle = window->windowHandle()) handle->setWindowStates(Qt::WindowMinimized);
    window->showNormal();
}

bool comeBackIfTakenAlong(QWidget* window)
{
    const QWidget* active = QApplication::activeWindow();
    bool owned = false;
    for (const QWidget* w = active ? active->parentWidget() : nullptr; w && !owned; w = w->parentWidget())
        owned = w == window;
    if (!owned) return false;
    QTimer::singleShot(0, window, [window] { restoreMinimised(window); });
    return true;
}

void bringToFront(QWidget* window)
{
    if (!window) return;
    restoreMinimised(window);
    window->show();
    window->raise();
    window->activateWindow();
}

namespace {
bool onWayland() { return QGuiApplication::platformName().startsWith(QLatin1String("wayland")); }
} // namespace

bool bringBackRemaps() { return onWayland(); }

bool mapsOwnedAfterOwner() { return onWayland(); }

namespace {
class OwnerCutter : public QObject {
public:
    using QObject::QObject;
    // Sent after the platform window is made and before it maps, each time it is shown:
    // the protocol's parent is given only as the surface is made.
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show)
            if (QWindow* handle = static_cast<QWidget*>(watched)->windowHandle()) handle->setTransientParent(nullptr);
        return false;
    }
};
} // namespace

void mapFreeOfOwner(QWidget* window)
{
    if (window && onWayland()) window->installEventFilter(new OwnerCutter(window));
}

void bringBack(QWidget* window)
{
    if (!window) return;
    // A Wayland window that was minimised still reads as normal here, and asking for the
    // normal state does nothing: a new surface is shown normal.
    if (bringBackRemaps() && window->isVisible()) window->hide();
    window->showNormal();
    bringToFront(window);
}

} // namespace services
