#pragma once
// Files the program makes again from the user's media (MIDI renderings, waveform peaks) live
// in subfolders of the per-user cache. Each name ties the file to its source's state, so a
// changed source makes a new one; each folder is kept under a size bound, least recently
// used first.
#include <QByteArray>
#include <QString>
#include <QStringList>

class QFileInfo;

namespace storage::cache {

// The per-user cache's subfolder `name` (~/.cache/Vamplet/name).
QString folder(const QString& name);

// What a cached file depends on: the source's absolute path, size and modification time.
QByteArray fileStamp(const QFileInfo& info);

// `folder`/<hash of the source's path>-<hash of key><suffix>.
QString entryPath(const QString& folder, const QString& sourcePath, const QByteArray& key, const QString& suffix);

// Removes the other entries of the same source as `entry` (made before it changed).
void removeOlder(const QString& entry);

// Notes that a cached file was used, so it goes last when the folder is trimmed.
void markUsed(const QString& file);

// Removes the least recently used files matching `pattern` in `folder` until the rest take at
// most `limitBytes`; `keep` stays whatever its size. Returns how many went.
int trim(const QString& folder, const QString& pattern, qint64 limitBytes, const QString& keep);

} // namespace storage::cache
