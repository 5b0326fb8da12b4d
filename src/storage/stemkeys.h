#pragma once
// An entry's stems as the text of its `FileStems` key, beside the practice keys:
//
//   FileStems    "song.bass.wav;-6dB|song.vocals.wav;mute|song.drums.wav;solo"
//
// one item a stem, separated by "|": the file (relative to the entry's file's folder, or
// absolute), then, each optional and after ";", its level ("-6dB", -60 to +12), "mute",
// "solo". No stems: the empty text. As the other keys, "." is the decimal point everywhere.
#include "app/stems.h"

#include <QString>

#include <optional>

namespace storage {

inline const QString kFileStems = QStringLiteral("FileStems");

QString stemsText(const StemSet& stems);
// Strict: none for a text that is not exactly of the form above, or out of bounds.
std::optional<StemSet> stemsOf(const QString& text);
// Why the stems cannot be kept ("" when they can).
QString stemsProblem(const StemSet& stems);

} // namespace storage
