#pragma once
// The key names an entry is kept under, followed by its number: in a playlist's section of the
// INI file (numbered from 1) and in an exported playlist file (numbered from 0). The practice
// keys beside them are in storage/practicekeys.h.
#include <QString>

namespace storage {

inline const QString kMainSection = QStringLiteral("Main");
inline const QString kFileCount = QStringLiteral("FileCount");
inline const QString kFileName = QStringLiteral("FileName");
inline const QString kFileStart = QStringLiteral("FileStart");
inline const QString kFileStop = QStringLiteral("FileStop");
inline const QString kFileRate = QStringLiteral("FileRate");
inline const QString kFileLoop = QStringLiteral("FileLoop");
// Optional: absent means no text, and readers that predate it ignore it.
inline const QString kFileText = QStringLiteral("FileText");

} // namespace storage
