#include "services/menufit.h"

#include <QApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QWidget>
#include <QWindow>

namespace services {
namespace {

// The window a menu belongs to: a submenu's is its top menu's.
QWidget* hostOf(QMenu* menu)
{
    QWidget* w = menu->parentWidget();
    while (w && qobject_cast<QMenu*>(w->window())) w = w->window()->parentWidget();
    return w ? w->window() : QApplication::activeWindow();
}

class MenuKeeper : public QObject {
public:
    using QObject::QObject;
    // Sent before the window is mapped: what changes here is what the compositor gets.
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::Show || !watched->isWidgetType()) return false;
        auto* w = static_cast<QWidget*>(watched);
        if (!w->isWindow()) return false;
        if (auto* menu = qobject_cast<QMenu*>(w)) {
            QWidget* host = hostOf(menu);
            // A window's menu opened by keys typed in a window it owns (Qt hands a tool
            // window's keys to its owner) opens where the keys are: its own window may lie
            // under that one, menus and all.
            QWidget* typing = QApplication::activeWindow();
            const bool topMenu = menu->parentWidget() && !qobject_cast<QMenu*>(menu->parentWidget()->window());
            if (topMenu && typing && host && typing != host && typing->parentWidget() == host && menu->windowHandle()) {
                menu->windowHandle()->setTransientParent(typing->windowHandle());
                host = typing;
            }
            if (host && host != menu) menu->move(menuPlaceWithin(host->frameGeometry(), menu->size(), menu->pos()));
        } else if (const int tall = heightForMenus(w); tall > w->minimumHeight()) {
            // Also keeps the user from making it too low to hold them.
            w->setMinimumHeight(qMin(tall, w->maximumHeight()));
        }
        return false;
    }
};

} // namespace

QPoint menuPlaceWithin(const QRect& window, const QSize& size, const QPoint& at)
{
    const auto along = [](int want, int length, int from, int span) {
        return length >= span ? from : qBound(from, want, from + span - length);
    };
    return {along(at.x(), size.width(), window.left(), window.width()),
            along(at.y(), size.height(), window.top(), window.height())};
}

int heightForMenus(const QWidget* window)
{
    int tall = 0;
    for (const QMenu* menu : window->findChildren<QMenu*>()) tall = qMax(tall, menu->sizeHint().height());
    return tall;
}

void keepMenusWithinWindows(QApplication& app)
{
    if (!QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) return;
    static MenuKeeper* keeper = nullptr;
    if (!keeper) app.installEventFilter(keeper = new MenuKeeper(&app));
}

} // namespace services
