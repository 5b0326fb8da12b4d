#pragma once
// A playlist on its own, in a file that can be given to someone else: section "Main" with
// "FileCount" (the highest entry number), section "Playlist" with the entry keys
// numbered from 0.
#include "app/entryrecord.h"

#include <QList>
#include <QString>

namespace storage {

// The filter of the playlist file dialogs.
extern const char* const kPlayListFilter;

// What the last import read: only entries that name a file.
extern QList<EntryRecord> ImportEntries;

// Asks before an existing file is written over; true when it may be.
bool confirmOverwrite(const QString& strFile);

// Writes the entries into the file (its other keys stay). Asks before writing into an
// existing file; false when refused or when the file could not be written.
bool ExportPlayListFile(const QString& strFile, const QList<EntryRecord>& arrEntries);

// Reads the file into ImportEntries. False, after saying so, when there is no such file.
// A count larger than the keys the file holds reads only what is there.
bool ImportPlayListFile(const QString& strFile);

// ".obs" appended to a path that has no dot anywhere.
QString withPlayListExtension(const QString& path);

} // namespace storage
