#include "playback/entryedits.h"

#include <QFileInfo>
#include <QStringList>

#include <algorithm>

namespace playback {

namespace {
bool whole(const EntryRecord& e) { return e.Start == 0 && e.Stop == 0; }
}

std::optional<EntryRecord> mergedEntry(const QList<EntryRecord>& rows)
{
    if (rows.size() < 2) return std::nullopt;
    const QString file = QFileInfo(rows.front().FileName).absoluteFilePath();
    QStringList texts;
    for (const EntryRecord& e : rows) {
        if (whole(e) || QFileInfo(e.FileName).absoluteFilePath() != file) return std::nullopt;
        if (!e.Text.trimmed().isEmpty()) texts << e.Text.trimmed();
    }
    EntryRecord out = rows.front();
    // Rows out of time order still make one stretch over all of them.
    for (const EntryRecord& e : rows) {
        out.Start = std::min(out.Start, e.Start);
        out.Stop = std::max(out.Stop, e.Stop);
    }
    out.Text = texts.join(QLatin1Char(' '));
    return out;
}

std::optional<std::pair<EntryRecord, EntryRecord>> splitEntry(const EntryRecord& entry, double at, double fileLength)
{
    const double start = entry.Start;
    const double stop = whole(entry) ? fileLength : entry.Stop;
    if (!(at >= start + live::kMinStretch && at <= stop - live::kMinStretch)) return std::nullopt;
    EntryRecord before = entry, after = entry;
    before.Start = start;
    before.Stop = at;
    after.Start = at;
    after.Stop = stop;
    return std::pair{before, after};
}

} // namespace playback
