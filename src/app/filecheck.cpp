#include "app/filecheck.h"

#include <QFileInfo>

namespace app {

bool mediaFileUsable(const QString& path)
{
    if (path.isEmpty()) return false;
    const QFileInfo info(path);
    return info.exists() && info.isFile() && info.size() >= 1;
}

}
