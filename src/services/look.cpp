#include "services/look.h"

#include <QApplication>
#include <QEvent>
#include <QFile>
#include <QFont>
#include <QFontDatabase>
#include <QWidget>

namespace services {
namespace {

// Holds the layout's font against a platform theme (qt6ct, say) that sets the desktop's own
// once the event loop runs: the windows would cut their captions with it.
// The theme also gives fonts per widget class (menu bar, label, button), which Qt takes up
// again whenever the style changes (a style sheet set is one): a widget polished then keeps
// that font for good, as the style sheet style sets it as the widget's own. So before a
// widget is polished, class fonts that differ are dropped (setting the application's font
// drops them all).
class FontKeeper : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == qApp && event->type() == QEvent::ApplicationFontChange) {
            const QFont kept = layoutFont(QApplication::font());
            if (kept != QApplication::font()) QApplication::setFont(kept);
        } else if (event->type() == QEvent::Polish && watched->isWidgetType()) {
            if (QApplication::font(static_cast<QWidget*>(watched)) != QApplication::font())
                QApplication::setFont(QApplication::font());
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
    // After the style sheet: setting it took up the theme's class fonts again.
    QApplication::setFont(layoutFont(QApplication::font()));
}

} // namespace services
