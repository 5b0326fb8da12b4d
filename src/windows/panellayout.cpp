#include "windows/panellayout.h"

namespace panel {

PanelLayout layoutPanel(double clientWidth, double clientHeight, double grabberHeight, double chooserHeight)
{
    PanelLayout l;
    const double top = grabberHeight + 105;
    l.framPL = QRectF(0, top, clientWidth, clientHeight - top);
    l.gridHeight = l.framPL.height() - chooserHeight - 350;
    l.gridWidth = l.framPL.width() - 150;
    l.chooserWidth = l.framPL.width() - 1000;
    l.minusLeft = l.framPL.width() - 455;
    l.plusLeft = l.framPL.width() - 855;
    return l;
}

} // namespace panel
