#include "services/look.h"

#include <QApplication>
#include <QFile>
#include <QFont>
#include <QFontDatabase>

namespace services {

void applyLook(QApplication& app)
{
    // The windows are laid out in twips for a small dialog font; a larger desktop font
    // would cut their captions.
    QFont font = QApplication::font();
    // Arial's metrics, the closest to the small dialog font the layout was drawn for.
    if (QFontDatabase::hasFamily(QStringLiteral("Liberation Sans"))) font.setFamily(QStringLiteral("Liberation Sans"));
    font.setPointSizeF(8.25);
    QApplication::setFont(font);
    // A frame's caption sits on its border line, so the twips layout inside starts below
    // the caption instead of under a line drawn beneath it.
    // The user's own style sheet (-stylesheet) comes after ours, so its rules win.
    QString user = app.styleSheet();
    if (user.startsWith(QLatin1String("file:///"))) {
        QFile file(user.mid(8));
        user = file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }
    app.setStyleSheet(QStringLiteral(
        "QGroupBox { border: 1px solid palette(mid); border-radius: 2px; margin-top: 0.5em; }"
        "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left; left: 6px; padding: 0 2px; }\n") +
                      user);
}

} // namespace services
