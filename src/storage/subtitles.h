#pragma once
// Subtitles and lyrics as loop lists: SubRip (.srt), WebVTT (.vtt) and LRC lyrics (.lrc,
// the enhanced form's word tags read for their line's time only). One entry a cue or
// lyric line: its stretch from the cue's times (an LRC line ends where the next begins, the
// last at the media's end), its text in EntryRecord::Text, formatting tags left out.
//
// Hostile input is read as the other lists are: line by line, at most kMaxLoopListEntries
// entries and kMaxCueText characters a cue; the rest is left out and said in the notes, as
// are cues that end before they begin (left out; overlapping cues are kept as they are).
#include "storage/looplists.h"

#include <QLocale>

namespace storage {

inline constexpr qsizetype kMaxCueText = 4096;

bool isSubtitleFormat(LoopListFormat format);

// The bytes as text: UTF-8 with or without a byte-order mark, UTF-16 after its mark or, without
// one, told by where its first kUtf16Sniff bytes hold zeros; else `legacy` (an encoding name;
// Windows-1252 when unknown), which is then a guess.
inline constexpr qsizetype kUtf16Sniff = 4096;
struct DecodedText {
    QString text;
    bool guessed = false;
    QString encoding;
};
DecodedText decodeSubtitleText(const QByteArray& bytes, const QString& legacy);
// The 8-bit (or double-byte) encoding older files of a language were written in.
QString legacyEncodingOf(const QLocale& locale);

LoopList parseSubtitles(LoopListFormat format, const QByteArray& bytes, const SubtitleImport& how);
// Entries without text, and those without a stop after their start (except the last of an
// LRC file), are left out and counted in the notes.
LoopListText writeSubtitles(LoopListFormat format, const QList<EntryRecord>& entries);

// The media file a subtitle file belongs to, by name, in its folder: "film.en.srt" and
// "film.srt" go with "film.mp4" (or any other media extension); video first for subtitles,
// sound first for lyrics. Empty when there is none.
QString subtitleMediaBeside(const QString& subtitlePath);

} // namespace storage
