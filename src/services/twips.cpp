#include "services/twips.h"

#include <QGuiApplication>
#include <QScreen>
#include <cmath>

namespace services {

double screenDpi()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    const double dpi = screen ? screen->logicalDotsPerInch() : 96.0;
    return dpi > 0 ? dpi : 96.0;
}

int twipsToPixels(double twips)
{
    return static_cast<int>(std::lround(twips * screenDpi() / 1440.0));
}

double pixelsToTwips(int pixels)
{
    return pixels * 1440.0 / screenDpi();
}

QRect twipsRect(double left, double top, double width, double height)
{
    return QRect(twipsToPixels(left), twipsToPixels(top), twipsToPixels(width), twipsToPixels(height));
}

QSize twipsSize(double width, double height)
{
    return QSize(twipsToPixels(width), twipsToPixels(height));
}

} // namespace services
