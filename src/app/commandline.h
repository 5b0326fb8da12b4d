#pragma once
#include <QString>
#include <QStringList>

namespace app {
// The program's arguments joined with single blanks: one path, so a name with blanks
// given without quotes still works.
QString commandLineText(const QStringList& arguments);
// The path named by a command line: surrounding double quotes removed, made absolute.
QString commandLinePath(const QString& commandLine);
}
