#include "playback/listplay.h"

#include "app/numbertext.h"
#include "playback/liveloop.h"

#include <QStringList>

namespace playback {

EntryRecord PeekNextEntry(const EntryList& list, qint32 currentId)
{
    qint64 n = qint64(currentId) + 1;
    if (n < 1 || n > list.rowCount()) {
        n = 1;
        if (list.rowCount() < 1) return {};
    }
    const QStringList cells = list.rowTexts(int(n));
    auto number = [&](int i) { return numtext::parse(cells.value(i)).value_or(0.0); };
    return EntryRecord{qint32(n),     cells.value(0), number(1), number(2), number(3), number(4), list.rowPractice(int(n)),
                       cells.value(kTextCell)};
}

EntryRecord PeekEntryAhead(const EntryList& list, qint32 currentId, int ahead)
{
    EntryRecord r = PeekNextEntry(list, currentId);
    for (int i = 0; i < ahead && r.Index > 0; ++i) r = PeekNextEntry(list, r.Index);
    return r;
}

EntryRecord GetNextEntry(EntryList& list, qint32& currentId)
{
    const EntryRecord r = PeekNextEntry(list, currentId);
    if (r.Index == 0) {
        currentId = 0;
        return r;
    }
    list.selectRow(int(r.Index));
    currentId = r.Index;
    return r;
}

int steppedRow(int current, int rows, int step)
{
    if (rows < 1) return 0;
    // No cursor, or one past the end (rows deleted): on from before the first or after the last.
    const qint64 from = current < 1 || current > rows ? (step > 0 ? 0 : rows + 1) : current;
    const qint64 to = ((from + step - 1) % rows + rows) % rows + 1;
    return int(to);
}

void SwapEntries(EntryList& list, int from, int to)
{
    auto read = [&list](int row) {
        const QStringList t = list.rowTexts(row);
        QStringList out{t.value(0)};
        for (int i = 1; i <= 4; ++i) out << numtext::format(numtext::parse(t.value(i)).value_or(0.0));
        // The text goes with its row; the practice cells between are written from the settings.
        while (out.size() < kTextCell) out << QString();
        out << t.value(kTextCell);  // the hear cell too is written from the settings
        return std::pair{out, list.rowPractice(row)};
    };
    const auto [a, aPractice] = read(from);
    const auto [b, bPractice] = read(to);
    list.setRow(from, b, bPractice);
    list.setRow(to, a, aPractice);
    list.selectRow(to);
}

bool changeRowPractice(EntryList* list, int row, const QString& file, double start, double stop, bool wholeFile,
                       const std::function<void(PracticeSettings&)>& change)
{
    if (!list || row <= 0 || row > list->rowCount()) return false;
    const QStringList texts = list->rowTexts(row);
    if (!rowPlays(texts, file, start, stop, wholeFile)) return false;
    PracticeSettings kept = list->rowPractice(row);
    change(kept);
    list->setRow(row, texts, kept);
    return true;
}

} // namespace playback
