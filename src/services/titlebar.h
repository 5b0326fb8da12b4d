#pragma once
// A title bar of the program's own for the windows that can only be closed (the control
// panel, the editor, the dialogs and message boxes), where the platform's bar cannot leave minimise and maximise out: Qt's
// client-side bars on Wayland (6.4) draw all three buttons whatever the window's flags.
#include <QRect>
#include <QWidget>

namespace services {

// Makes `window` frameless and lays a bar over its top: the title and a close button;
// dragging the bar moves the window, and, unless its size is fixed, its edges resize it.
// The window grows by the bar and what it holds moves down under it (a laid-out window
// gains a top margin). The bar's close button shows where the window's flags offer one.
// Call once, after the window's flags are set and before it is first shown. Returns the bar's height: 0 where the platform's own bar is kept
// (X11 and the rest), and nothing changes.
int addOwnTitleBar(QWidget* window);

// Whether a window of these flags (as a widget reads them) offers to be closed from its
// title bar; a message box that must be answered by a button offers not.
bool offersClose(Qt::WindowFlags flags);

// Where the grip that resizes `edges` of a window of `size` lies: `thick` pixels deep along
// a side, a square twice that at a corner, the sides running between the corners.
QRect gripRect(Qt::Edges edges, QSize size, int thick);

} // namespace services
