#pragma once
// List play: the entry that follows the list cursor, wrapping from the last row to the first.
#include "app/entryrecord.h"

#include <QString>

#include <functional>

namespace playback {

// Where a row's text (its line or label) stands among its cells, after the five fields and
// the four practice cells; a list that keeps no text gives fewer cells.
constexpr int kTextCell = 9;
// The hear settings' cell comes after the text, so rows kept before it read as they were.
constexpr int kHearCell = 10;
// The stems' cell after it, for the same reason.
constexpr int kStemsCell = 11;

// The list as the player sees it: rows addressed from 1.
class EntryList {
public:
    virtual ~EntryList() = default;
    virtual int rowCount() const = 0;
    // The row's five texts: file name, start, end, rate, loop; then, where the list keeps
    // them, its practice cells and its text (kTextCell). Trailing empty cells may be left out.
    virtual QStringList rowTexts(int row) const = 0;
    virtual void selectRow(int row) = 0;
    // 0 when no row is selected.
    virtual int selectedRow() const { return 0; }
    // Rewrites the row: its five texts and its practice settings; its text where `texts`
    // reaches kTextCell, else the row keeps the one it has.
    virtual void setRow(int row, const QStringList& texts, const PracticeSettings& practice) = 0;
    // The row's practice settings; none where the list keeps none.
    virtual PracticeSettings rowPractice(int row) const { Q_UNUSED(row); return {}; }
};

// The row after `currentId` (row 1 after the last), selected and made the cursor. An empty
// list gives a record without a file name, which plays nothing.
EntryRecord GetNextEntry(EntryList& list, qint32& currentId);
// The same row, with neither the selection nor the cursor moved.
EntryRecord PeekNextEntry(const EntryList& list, qint32 currentId);
// The row `ahead` rows after that one (0: that one), wrapping as the list plays.
EntryRecord PeekEntryAhead(const EntryList& list, qint32 currentId, int ahead);

// The row `step` rows on from `current` among `rows` (back where negative), wrapping; from
// no row (0), one step on is the first and one back the last.
int steppedRow(int current, int rows, int step);

// Changes the practice settings kept in `row` by `change`, while that row still holds the
// stretch that plays (file, start, stop; a whole file by a start and end of 0): a live change
// is kept in the list only for the entry it was made on. False where the row is another.
bool changeRowPractice(EntryList* list, int row, const QString& file, double start, double stop, bool wholeFile,
                       const std::function<void(PracticeSettings&)>& change);

// Swaps two rows, both written back in number text (a field that is no number becomes 0) with
// their practice settings, and selects the row `to`.
void SwapEntries(EntryList& list, int from, int to);

} // namespace playback
