#pragma once
// Which files are the stems of a recording, by their names: a separation tool writes
// `vocals.wav`, `drums.wav`, ... into a folder of the song's own, and a set kept beside the
// song is named `song.bass.wav`, `song_vocals.flac` and so on. The matching is pure (names
// in, names out); findStems() alone looks at the disk.
#include <QString>
#include <QStringList>

namespace storage {

// The stem a file's name says ("bass" for `song.bass.wav`, "vocals" for `vocals.wav`), in
// lower case; empty when it names none or is no sound file.
QString stemWordOf(const QString& fileName);
// The song a stem's name belongs to: `song` for `song.bass.wav`, "" for `bass.wav`.
QString stemSongOf(const QString& fileName);

// Of `names` (the files of one folder), the stems that go with the file named `fileName`
// there (itself a stem, or the song they were made of): those of the same song, at least
// two, one of each word, in the usual order of the words. None where fewer are found.
QStringList stemsBeside(const QString& fileName, const QStringList& names);
// Of `names`, the stems a folder of them holds (any one song's), as stemsBeside().
QStringList stemsOfFolder(const QStringList& names);

// The stems beside `path` on disk, as names relative to its folder; else those in a folder
// named as the song next to it (`song/vocals.wav` beside `song.wav`), as relative paths.
QStringList findStems(const QString& path);

} // namespace storage
