#include "services/windowstate.h"

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

void bringToFront(QWidget* window)
{
    if (!window) return;
    restoreMinimised(window);
    window->show();
    window->raise();
    window->activateWindow();
}

} // namespace services
