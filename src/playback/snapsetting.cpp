#include "playback/snapsetting.h"

#include "app/globals.h"

#include <QAction>
#include <QCoreApplication>
#include <QSettings>

namespace playback {
namespace {
const char* const kSnapKey = "Beats/Snap";
QSettings settings() { return QSettings(QString::fromLatin1(app::kAppTitle), QString::fromLatin1(app::kAppTitle)); }
} // namespace

QAction* snapToBeats()
{
    static QAction* action = nullptr;
    if (action) return action;
    action = new QAction(QStringLiteral("Sn&ap to Beats"), QCoreApplication::instance());
    action->setObjectName(QStringLiteral("SnapToBeats"));
    action->setCheckable(true);
    action->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_B));
    action->setChecked(settings().value(QString::fromLatin1(kSnapKey), false).toBool());
    action->setToolTip(QStringLiteral("Positions set by the loop keys and on the editor's waveform go to the nearest "
                                      "beat (hold Alt to place them freely); files whose beats are not found yet do not snap"));
    QObject::connect(action, &QAction::toggled, [](bool on) { settings().setValue(QString::fromLatin1(kSnapKey), on); });
    QObject::connect(action, &QObject::destroyed, [] { action = nullptr; });
    return action;
}

} // namespace playback
