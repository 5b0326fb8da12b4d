#include "player/listplay.h"

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

} // namespace player
