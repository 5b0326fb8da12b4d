#pragma once
#include <QIcon>

namespace app {
// The program's own 32 x 32 icon: the windows' icon and the tray's still picture.
QIcon programIcon();
}
