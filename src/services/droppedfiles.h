#pragma once
// What a drag carries that the program can take: local files only.
#include <QStringList>

class QDropEvent;
class QMimeData;

namespace services {
// The local files among the dragged addresses, in their order; folders and network
// addresses are not taken.
QStringList droppedFiles(const QMimeData* data);
// Accepts a drag (entering, moving or dropped) when it carries local files.
bool acceptFiles(QDropEvent* event);
}
