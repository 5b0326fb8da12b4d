#pragma once
// Rows of a list joined into one entry or one entry cut in two: lines of a drill that the
// subtitles split too finely or too coarsely. Numbers only; the panel applies them.
#include "app/entryrecord.h"
#include "playback/liveloop.h"

#include <QList>
#include <optional>
#include <utility>

namespace playback {

// `rows` (in list order) as one entry: the first's file, rate, loops and practice, from the
// first's start to the last's stop, the texts joined with " " (empty ones left out). None
// where fewer than two rows are given, their files differ, or one is a whole file.
std::optional<EntryRecord> mergedEntry(const QList<EntryRecord>& rows);

// `entry` cut at `at` seconds into the part before and the part after, both keeping its
// text, rate, loops and practice; a whole file is cut as the stretch 0 to `fileLength`.
// None where `at` is not inside the stretch by live::kMinStretch on either side.
std::optional<std::pair<EntryRecord, EntryRecord>> splitEntry(const EntryRecord& entry, double at, double fileLength);

} // namespace playback
