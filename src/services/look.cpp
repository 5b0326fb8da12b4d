#include "services/look.h"

#include <QApplication>
#include <QEvent>
#include <QFile>
#include <QFont>
#include <QFontDatabase>

namespace services {
namespace {

// Holds the layout's font against a platform theme (qt6ct, say) that sets the desktop's own
// once the event loop runs: the windows would cut their captions with it.
class FontKeeper : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == qApp && event->type() == QEvent::ApplicationFontChange) {
            const QFont kept = layoutFont(QApplication::font());
            if (kept != QApplication::font()) QApplication::setFont(kept);
        }
        return false;
    }
};

} // namespace

QFont layoutFont(QFont font)
{
    // Arial's metrics, the closest to the small dialog font the layout was drawn for.
    if (QFontDatabase::hasFamily(QStringLiteral("Liberation Sans"))) font.setFamily(QStringLiteral("Liberation Sans"));
    font.setPointSizeF(8.25);
    return font;
}

void applyLook(QApplication& app)
{
    // The windows are laid out in twips for a small dialog font; a larger desktop font
    // would cut their captions.
    QApplication::setFont(layoutFont(QApplication::font()));
    static FontKeeper* keeper = nullptr;
    if (!keeper) app.installEventFilter(keeper = new FontKeeper(&app));
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
