#include "services/placement.h"

#include "app/globals.h"
#include "app/numbertext.h"
#include "services/twips.h"

#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QWidget>
#include <algorithm>

namespace services {
namespace {

QSizeF screenTwips()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QSize px = screen ? screen->size() : QSize(1024, 768);
    return QSizeF(pixelsToTwips(px.width()), pixelsToTwips(px.height()));
}

// The store keeps single-precision values, as text.
QString storedText(double v) { return numtext::format(static_cast<float>(v)); }

void readInto(QSettings& s, const char* key, double fallback, double& target)
{
    numtext::assignIfParsed(numtext::parse(s.value(key, numtext::format(fallback)).toString()), target);
}

Placement currentPlacement(const QWidget* frm)
{
    return {pixelsToTwips(frm->y()), pixelsToTwips(frm->x()), pixelsToTwips(frm->width()),
            pixelsToTwips(frm->height())};
}

void apply(QWidget* frm, const Placement& p, bool resizable)
{
    frm->move(twipsToPixels(p.left), twipsToPixels(p.top));
    if (resizable) frm->resize(twipsToPixels(p.width), twipsToPixels(p.height));
}

} // namespace

Placement correctPlacement(Placement p, double screenWidth, double screenHeight, bool resizable)
{
    if (p.top < 0 || p.top > screenHeight) p.top = 0;
    if (p.left < 0 || p.left > screenWidth) p.left = 0;
    if (resizable) {
        if (p.width < 0 || p.width > screenWidth) p.width = screenWidth - 100;
        if (p.height < 0 || p.height > screenHeight) p.height = screenHeight - 100;
    }
    return p;
}

bool isResizable(const QWidget* frm)
{
    return frm->minimumSize() != frm->maximumSize();
}

void RestoreFormPlacement(QWidget* frm, const Placement& defaults)
{
    if (!frm) return;
    const bool resizable = isResizable(frm);
    Placement p = currentPlacement(frm);
    QSettings s(QString::fromLatin1(app::kAppTitle), QString::fromLatin1(app::kAppTitle));
    s.beginGroup(frm->objectName());
    readInto(s, "Top", defaults.top, p.top);
    readInto(s, "Left", defaults.left, p.left);
    if (resizable) {
        readInto(s, "Width", defaults.width, p.width);
        readInto(s, "Height", defaults.height, p.height);
    }
    const QSizeF screen = screenTwips();
    apply(frm, correctPlacement(p, screen.width(), screen.height(), resizable), resizable);
}

QPoint centredOver(const QWidget* owner, const QSize& outer)
{
    const QRect over = owner ? owner->frameGeometry() : QRect();
    const QScreen* screen = owner && owner->screen() ? owner->screen() : QGuiApplication::primaryScreen();
    const QRect room = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
    const QPoint centre = over.isValid() ? over.center() : room.center();
    const int x = std::clamp(centre.x() - outer.width() / 2, room.left(), std::max(room.left(), room.right() + 1 - outer.width()));
    const int y = std::clamp(centre.y() - outer.height() / 2, room.top(), std::max(room.top(), room.bottom() + 1 - outer.height()));
    return {x, y};
}

void SaveFormPlacement(QWidget* frm)
{
    if (!frm) return;
    const bool resizable = isResizable(frm);
    const QSizeF screen = screenTwips();
    const Placement before = currentPlacement(frm);
    const Placement p = correctPlacement(before, screen.width(), screen.height(), resizable);
    if (p.top != before.top || p.left != before.left || p.width != before.width || p.height != before.height)
        apply(frm, p, resizable);
    QSettings s(QString::fromLatin1(app::kAppTitle), QString::fromLatin1(app::kAppTitle));
    s.beginGroup(frm->objectName());
    s.setValue("Top", storedText(p.top));
    s.setValue("Left", storedText(p.left));
    if (resizable) {
        s.setValue("Width", storedText(p.width));
        s.setValue("Height", storedText(p.height));
    }
}

} // namespace services
