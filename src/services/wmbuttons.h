#pragma once
// Title bar buttons for windows that can only be closed (the control panel, the editor,
// the message boxes).
#include <QWidget>

namespace services {

// Keeps the minimise and maximise buttons off `window` where the X11 window manager ignores
// Qt's hints for them: the window is typed a toolbar there, the one type such a manager
// gives neither button, each time before it is shown. Elsewhere nothing changes.
void keepToCloseOnly(QWidget* window);

} // namespace services
