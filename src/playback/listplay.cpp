#include "playback/listplay.h"

#include "app/numbertext.h"

#include <QStringList>

namespace player {

EntryRecord PeekNextEntry(const EntryList& list, qint32 currentId)
{
    qint64 n = qint64(currentId) + 1;
    if (n < 1 || n > list.rowCount()) {
        n = 1;
        if (list.rowCount() < 1) return {};
    }
    const QStringList cells = list.rowTexts(int(n));
    auto number = [&](int i) { return numtext::parse(cells.value(i)).value_or(0.0); };
    return EntryRecord{qint32(n), cells.value(0), number(1), number(2), number(3), number(4), list.rowPractice(int(n))};
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

void SwapEntries(EntryList& list, int from, int to)
{
    auto read = [&list](int row) {
        const QStringList t = list.rowTexts(row);
        QStringList out{t.value(0)};
        for (int i = 1; i <= 4; ++i) out << numtext::format(numtext::parse(t.value(i)).value_or(0.0));
        return std::pair{out, list.rowPractice(row)};
    };
    const auto [a, aPractice] = read(from);
    const auto [b, bPractice] = read(to);
    list.setRow(from, b, bPractice);
    list.setRow(to, a, aPractice);
    list.selectRow(to);
}

} // namespace player
