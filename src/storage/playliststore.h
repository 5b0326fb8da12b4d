#pragma once
// The playlists in the program's INI file, as plain data. The control panel keeps the
// chooser and the grid; these functions are what its ReLoadINI, AddNewPlayList,
// btnPlO_Click, cboPlayListName_Click and SavePlayList do with the file.
//
// Layout: section "Main" holds "PlayListCount", "PlayList1".."PlayListN" and
// "LastPlayList"; each playlist has a section of its own name with "FileCount" and
// "FileName", "FileStart", "FileStop", "FileRate", "FileLoop" followed by 1..FileCount,
// and the practice keys of practicekeys.h and "FileText" (entrytext.h) where an entry has them.
// Nothing is ever removed: keys beyond FileCount stay and are ignored.
//
// Nothing here talks to the user: each call returns what went wrong for the panel to tell.
#include "app/entryrecord.h"
#include "storage/practicekeys.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace storage {

// One grid row as the grid shows it; the store writes these texts unchanged.
struct EntryTexts {
    QString fileName, start, stop, rate, loops;
    PracticeTexts practice;
    QString text;  // the entry's line or label, as it is; "" for none
};

// What a read met that the user should hear of.
struct ReadNotice {
    QString file;        // absolute path
    QString unreadable;  // why the file could not be read; it was taken as empty
    bool cut = false;    // values or counts beyond the bounds below were cut to them
    qint32 refused = 0;  // practice settings that could not be read: they are off
    bool any() const { return cut || refused || !unreadable.isEmpty(); }
};

// The outcome of a write; false when the file was left as it was.
struct WriteOutcome {
    QString file;
    QString error;  // why, in words
    bool wrote = false;  // the file was written (it had changes)
    explicit operator bool() const { return error.isEmpty(); }
};

struct PlayListNames {
    QStringList names;  // chooser items in order; "INI FILE ERROR!" where a name is missing
    QString last;       // "LastPlayList"

    // The chooser row to select: the first item equal to `last`, the first item when
    // `last` is empty, -1 (select nothing) when `last` names no item or there are none.
    int selection() const;
    ReadNotice notice;
};

PlayListNames readPlayListNames();

// Registers a playlist and makes it the last shown: "PlayListCount", "PlayList" + n and
// "LastPlayList", in that order, saved together. Any name is taken, duplicates too.
WriteOutcome AddNewPlayList(const QString& strNewList);

// The entries of a playlist as numbers, Index = 1-based row. Missing values take their
// defaults (start 0, stop/rate/loops 1); an empty value reads as 0; a value that does
// not convert keeps the previous entry's number (0 for the first). Only numbers from 1
// to FileCount that have at least one of the five keys are entries: a count beyond the
// keys the file holds makes no blank rows. Does not write "LastPlayList": call
// setLastPlayList once the grid shows the list. Practice settings are read strictly: one
// that cannot be read is off and counted in the notice.
QList<EntryRecord> loadPlayList(const QString& name, ReadNotice* notice = nullptr);

// Written only when it changes.
WriteOutcome setLastPlayList(const QString& name);

// The text shown when adding or saving finds no playlist shown.
QString noPlayListText();

enum class SaveResult {
    Saved,
    NoPlayList,  // name empty: nothing written
    Failed       // the file could not be written and is as it was
};

// Writes "FileCount" and the five keys of every row, then its practice keys (see
// writePracticeKeys) and its text (see writeTextKey), in row order, as one save, whole or not at all. `outcome`, when given, says why a save failed.
SaveResult SavePlayList(const QString& name, const QList<EntryTexts>& rows, WriteOutcome* outcome = nullptr);

// Why the program's playlist file cannot be written now, or "" (see writeProblem).
QString playListFileWriteProblem();

// No real playlist file reaches these; what lies beyond is cut and the user told.
inline constexpr qint32 kMaxPlayLists = 10000;
inline constexpr qint32 kMaxEntries = 100000;

} // namespace storage
