#include "app/commandline.h"

#include <QFileInfo>

namespace app {

QString commandLineText(const QStringList& arguments)
{
    return arguments.mid(1).join(QLatin1Char(' '));
}

QString commandLinePath(const QString& commandLine)
{
    QString t = commandLine.trimmed();
    if (t.size() >= 2 && t.front() == '"' && t.back() == '"') t = t.mid(1, t.size() - 2);
    // Relative to where the program was started, not to wherever the engine runs.
    return t.isEmpty() ? t : QFileInfo(t).absoluteFilePath();
}

}
