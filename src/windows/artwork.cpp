#include "windows/artwork.h"

// Q_INIT_RESOURCE names a global function, so it must be called outside any namespace.
static void registerAboutResources()
{
    static const bool once = [] {
        Q_INIT_RESOURCE(about);
        return true;
    }();
    Q_UNUSED(once);
}

namespace about {

QPixmap programPicture()
{
    registerAboutResources();
    return QPixmap(QString::fromLatin1(kProgramPicturePath));
}

QIcon programIcon()
{
    registerAboutResources();
    return QIcon(QString::fromLatin1(kProgramIconPath));
}

} // namespace about
