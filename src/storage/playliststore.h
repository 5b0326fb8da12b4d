#pragma once
// The playlists in the program's INI file, as plain data. The control panel keeps the
// chooser and the grid; these functions are what its ReLoadINI, AddNewPlayList,
// btnPlO_Click, cboPlayListName_Click and SavePlayList do with the file.
//
// Layout: section "Main" holds "PlayListCount", "PlayList1".."PlayListN" and
// "LastPlayList"; each playlist has a section of its own name with "FileCount" and
// "FileName", "FileStart", "FileStop", "FileRate", "FileLoop" followed by 1..FileCount.
// Nothing is ever removed: keys beyond FileCount stay and are ignored.
#include "app/entryrecord.h"

#include <QList>
#include <QString>
#include <QStringList>

class QWidget;

namespace storage {

// One grid row as the grid shows it; the store writes these texts unchanged.
struct EntryTexts {
    QString fileName, start, stop, rate, loops;
};

struct PlayListNames {
    QStringList names;  // chooser items in order; "INI FILE ERROR!" where a name is missing
    QString last;       // "LastPlayList"

    // The chooser row to select: the first item equal to `last`, the first item when
    // `last` is empty, -1 (select nothing) when `last` names no item or there are none.
    int selection() const;
};

PlayListNames readPlayListNames();

// Registers a playlist and makes it the last shown: "PlayListCount", "PlayList" + n and
// "LastPlayList", in that order, saved together. Any name is taken, duplicates too.
// False when the file could not be written (the user has been told).
bool AddNewPlayList(const QString& strNewList);

// Asks for a name ("New Play List") and registers it. Returns the name, or "" when the
// user cancelled or left it empty (then nothing is written). The caller reloads.
QString AddPlayListFromPrompt();

// The entries of a playlist as numbers, Index = 1-based row. Missing values take their
// defaults (start 0, stop/rate/loops 1); an empty value reads as 0; a value that does
// not convert keeps the previous entry's number (0 for the first). Does not write
// "LastPlayList": call setLastPlayList once the grid shows the list.
QList<EntryRecord> loadPlayList(const QString& name);

void setLastPlayList(const QString& name);

// "You must create a playlist first!": what adding or saving says when no playlist is shown.
void showNoPlayListMessage(QWidget* parent = nullptr);

enum class SaveResult {
    Saved,
    NoPlayList,  // name empty: "You must create a playlist first!" was shown, nothing written
    Failed       // the file could not be written; the user has been told
};

// Writes "FileCount" and the five keys of every row, in row order, as one save.
SaveResult SavePlayList(const QString& name, const QList<EntryTexts>& rows);

// Counts read from the file are trusted only up to here, so that a damaged count cannot
// hang the program; real lists stay far below.
inline constexpr qint32 kMaxStoredCount = 1000000;

} // namespace storage
