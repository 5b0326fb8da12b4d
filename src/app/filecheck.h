#pragma once
#include <QString>

namespace app {
// A media file is usable when it exists and holds at least one byte; a missing file,
// a bad path and an empty file are all "Not Found!" (services::MediaFileFound).
bool mediaFileUsable(const QString& path);
}
