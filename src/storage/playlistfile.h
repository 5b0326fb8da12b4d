#pragma once
// A playlist on its own, in a file that can be given to someone else: section "Main" with
// "FileCount" (the highest entry number), section "Playlist" with the entry keys
// numbered from 0, the practice keys and the text among them where an entry has them. Nothing here talks to the user: results say what happened.
#include "app/entryrecord.h"
#include "storage/playliststore.h"

#include <QList>
#include <QString>

namespace storage {

// What the last import read: only entries that name a file.
extern QList<EntryRecord> ImportEntries;

// Writes the entries into the file, whole or not at all; its other keys stay. Asking
// before writing into an existing file is the caller's.
WriteOutcome ExportPlayListFile(const QString& strFile, const QList<EntryRecord>& arrEntries);

struct ImportOutcome {
    enum class Status { Read, NotFound, Unreadable };
    Status status = Status::NotFound;
    ReadNotice notice;  // why it could not be read, or what was cut
    explicit operator bool() const { return status == Status::Read; }
};

// Reads the file into ImportEntries. Only numbers up to FileCount that have a "FileName"
// key are read, at most kMaxEntries of them: cost follows the keys the file holds.
ImportOutcome ImportPlayListFile(const QString& strFile);

// ".obs" appended to a path that has no dot anywhere.
QString withPlayListExtension(const QString& path);

} // namespace storage
