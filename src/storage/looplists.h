#pragma once
// Loop lists of other tools, read into entries and written from them: Audacity label files,
// CUE sheets, M3U playlists with start and stop times, mpv's EDL files, and subtitles and
// lyrics (SubRip, WebVTT, LRC: see subtitles.h), one entry a line, its text kept.
//
// The parsers and writers are pure: bytes in, entries and notes out (and the reverse).
// Notes tell the user, in a sentence each, whatever a file held that an entry cannot (or an
// entry that the format cannot hold), and where a file was cut at the bounds below.
#include "app/entryrecord.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace storage {

enum class LoopListFormat { Obs, AudacityLabels, Cue, M3u, MpvEdl, Srt, WebVtt, Lrc };

// The filter of the export and import dialogs: playlist files first, then the other tools' lists.
extern const char* const kLoopListFilter;

// By the file's extension (.txt, .cue, .m3u or .m3u8, .edl, .srt, .vtt, .lrc); anything else
// is a playlist file of our own.
LoopListFormat loopListFormatOf(const QString& path);
// A list of entries by its extension (one of the filter's), not a media file.
bool isListFile(const QString& path);

// Bounds no real list comes near; what lies beyond them is left out and said.
inline constexpr qsizetype kMaxLoopListBytes = 16 * 1024 * 1024;
inline constexpr qsizetype kMaxLoopListEntries = 100000;
inline constexpr qsizetype kMaxLoopListField = 4096;

struct LoopList {
    QList<EntryRecord> entries;
    QStringList notes;
    // Subtitles and lyrics name no media file. When none was given and none lies beside the
    // list (see subtitleMediaBeside), the entries' file names are empty: the user is asked
    // once, and the list read again with SubtitleImport::media set.
    bool needsMedia = false;
    // The bytes were no Unicode text: read in the user's older 8-bit encoding (its name in
    // `encoding`), which may be wrong; the notes say so too.
    bool encodingGuessed = false;
    QString encoding;
};

// How subtitles and lyrics become entries: each cue's stretch widened by the margins (subtitle
// times are tight), held within 0 and the media's end when its length is known.
struct SubtitleImport {
    QString media;           // the media file the lines belong to; empty: the one beside the list
    double mediaLength = 0;  // seconds; 0 when not known (an open end then reads stop 0)
    double leadIn = 0;       // seconds before each cue's start, 0 to kMaxSubtitleMargin
    double tail = 0;         // seconds after each cue's stop, 0 to kMaxSubtitleMargin
    QString legacyEncoding;  // for bytes that are not Unicode; empty: the user's (by language)
};
inline constexpr double kMaxSubtitleMargin = 10;

// `folder` resolves file names given relative to the list. Entries get rate 1 and loop count
// 1 where the format has none. An Audacity label that names no file is kept as the entry's
// file name, relative names resolved, and as its text (readLoopListFile keeps the text only
// where the label names no file there is). Subtitles and lyrics are read as parseSubtitles(format,
// bytes, {}) reads them.
LoopList parseLoopList(LoopListFormat format, const QByteArray& bytes, const QString& folder);

struct LoopListText {
    QByteArray bytes;
    QStringList notes;
};
LoopListText writeLoopList(LoopListFormat format, const QList<EntryRecord>& entries);

// File level. Reading reads at most kMaxLoopListBytes; `ok` false (with a note) when the
// file cannot be read. Writing replaces the file whole, or leaves it as it was.
LoopList readLoopListFile(const QString& path, bool& ok, const SubtitleImport& subtitles = {});
// Whole or not at all; the reason in words when it failed, else empty.
QString writeLoopListFile(const QString& path, const QByteArray& bytes);

} // namespace storage
