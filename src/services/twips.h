#pragma once
// Window geometry is designed in twips (1/1440 inch); this is the one conversion to
// and from the screen's pixels.
#include <QPoint>
#include <QRect>
#include <QSize>

namespace services {

// Pixels per inch of the primary screen (96 when there is none).
double screenDpi();

int twipsToPixels(double twips);
double pixelsToTwips(int pixels);

QRect twipsRect(double left, double top, double width, double height);
QSize twipsSize(double width, double height);

} // namespace services
