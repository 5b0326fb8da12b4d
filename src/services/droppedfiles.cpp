#include "services/droppedfiles.h"

#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QUrl>

namespace services {

QStringList droppedFiles(const QMimeData* data)
{
    QStringList files;
    if (!data || !data->hasUrls()) return files;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile() && QFileInfo(url.toLocalFile()).isFile()) files << url.toLocalFile();
    return files;
}

bool acceptFiles(QDropEvent* event)
{
    if (droppedFiles(event->mimeData()).isEmpty()) return false;
    event->acceptProposedAction();
    return true;
}

} // namespace services
