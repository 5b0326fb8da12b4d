#pragma once
#include <QString>

namespace app {
// A media file is usable when it exists and holds at least one byte; a missing file,
// a bad path and an empty file are all "Not Found!".
bool mediaFileUsable(const QString& path);
// The "Filename: '...' Not Found!" text shown for an unusable file.
QString notFoundText(const QString& path);
inline constexpr const char* kFixEntryTitle = "Please Fix this Entry!";
}
