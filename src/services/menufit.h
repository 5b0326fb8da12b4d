#pragma once
// Menus that stay on the screen where the program cannot see the screen. A Wayland client
// knows neither where its windows are nor where the screen ends, and places its popups
// relative to them; a compositor that does not slide them back (weston) lets a menu opened
// low in a window run off the bottom. Each window is on the screen, though: a menu kept
// within the window it opens from is on the screen too.
#include <QPoint>
#include <QRect>
#include <QSize>

class QApplication;
class QWidget;

namespace services {

// Where a menu of `size`, asked for at `at`, lies within `window` (all in one coordinate
// system), moved as little as possible. A menu larger than the window starts at its top
// (left) edge, so as much of it shows as the window holds.
QPoint menuPlaceWithin(const QRect& window, const QSize& size, const QPoint& at);

// The height a window needs for each of its menus to fit within it: the tallest one's.
int heightForMenus(const QWidget* window);

// On Wayland: every menu opens within its window, and a window is made tall enough for its
// menus when it is shown. Elsewhere Qt keeps menus on the screen itself: nothing changes.
void keepMenusWithinWindows(QApplication& app);

} // namespace services
