#include "app/programicon.h"

#include <QFile>

namespace app {

QIcon programIcon()
{
    static const char* const path = ":/about/vamplet32.png";
    return QFile::exists(QString::fromLatin1(path)) ? QIcon(QString::fromLatin1(path)) : QIcon();
}

}
