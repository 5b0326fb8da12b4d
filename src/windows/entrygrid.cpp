#include "windows/entrygrid.h"

#include "services/droppedfiles.h"

#include <QDropEvent>

#include "services/twips.h"
#include "storage/practicekeys.h"
#include "storage/stemkeys.h"

#include <QHeaderView>

#include <algorithm>
#include <array>
#include <QKeyEvent>
#include <QPainter>
#include <QStyleOptionFocusRect>

namespace panel {
namespace {

// A row's cells as one text and where each ends: as eleven texts in Qt's per-column lists,
// grown one column at a time, a row took some 600 bytes in fifteen blocks, and making them
// was most of the start of a list of 100,000 rows. A cell changed once the row is shown is
// also handed to the base item, whose change signal the model and the view follow.
//
// A row as a screen reader says its cells: "2, Start: 1.5". The numbers' alignment is
// the column's, answered here rather than kept in every cell.
class EntryItem : public QTreeWidgetItem {
public:
    explicit EntryItem(const QStringList& texts)
    {
        qsizetype size = 0;
        for (int c = 0; c < EntryGrid::kColumns; ++c) size += texts.value(c).size();
        m_cells.reserve(size);
        for (int c = 0; c < EntryGrid::kColumns; ++c) {
            if (c < texts.size()) m_cells += texts[c];
            m_ends[c] = quint32(m_cells.size());
        }
    }

    QVariant data(int column, int role) const override
    {
        if (isCell(column, role)) {
            const QStringView cell = cellAt(column);
            // An empty cell holds nothing, as a cell never set does.
            return cell.isEmpty() ? QVariant() : QVariant(cell.toString());
        }
        if (role == Qt::TextAlignmentRole && column > 0 && column < playback::kTextCell)
            return QVariant(int(Qt::AlignRight | Qt::AlignVCenter));
        if (role != Qt::AccessibleTextRole) return QTreeWidgetItem::data(column, role);
        const QTreeWidget* grid = treeWidget();
        if (!grid) return text(column);
        return EntryGrid::spokenCell(grid->indexOfTopLevelItem(const_cast<EntryItem*>(this)) + 1,
                                     grid->headerItem()->text(column), text(column),
                                     (column >= 5 && column < playback::kTextCell) || column >= playback::kHearCell);
    }

    void setData(int column, int role, const QVariant& value) override
    {
        if (!isCell(column, role)) return QTreeWidgetItem::setData(column, role, value);
        const QString text = value.toString();
        const QStringView cell = cellAt(column);
        if (cell == text) return;
        const qsizetype from = cell.data() - m_cells.constData();
        const auto grown = quint32(text.size() - cell.size());  // modulo 2^32, as the ends are
        m_cells.replace(from, cell.size(), text);
        for (int c = column; c < EntryGrid::kColumns; ++c) m_ends[c] += grown;
        QTreeWidgetItem::setData(column, role, value);
    }

private:
    static bool isCell(int column, int role)
    {
        return (role == Qt::DisplayRole || role == Qt::EditRole) && column >= 0 && column < EntryGrid::kColumns;
    }
    QStringView cellAt(int column) const
    {
        const quint32 from = column == 0 ? 0 : m_ends[column - 1];
        return QStringView(m_cells).sliced(from, m_ends[column] - from);
    }

    QString m_cells;
    std::array<quint32, EntryGrid::kColumns> m_ends{};
};

} // namespace

QString EntryGrid::spokenCell(int row, const QString& column, const QString& value, bool setting)
{
    const QString said = !value.isEmpty() ? value : setting ? QStringLiteral("off") : QStringLiteral("empty");
    return QStringLiteral("%1, %2: %3").arg(row).arg(column, said);
}

EntryGrid::EntryGrid(QWidget* parent) : QTreeWidget(parent)
{
    setRootIsDecorated(false);
    setUniformRowHeights(true);  // keeps large lists fast
    // Several rows at once for merging; the entry commands act on the first.
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);  // rows are never edited in place
    setAllColumnsShowFocus(true);
    setAlternatingRowColors(true);
    setSortingEnabled(false);
    header()->setSectionsMovable(false);
    header()->setSectionsClickable(false);
    // Room gained by widening goes to the file names, not to the loop counts.
    header()->setStretchLastSection(false);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
}

void EntryGrid::InitGrid()
{
    clear();
    struct Column { const char* header; double width; Qt::Alignment align; };
    // The practice settings follow the five; their cells are empty while a setting is off.
    static const Column columns[kColumns] = {
        {"File Name", 2800, Qt::AlignLeft}, {"Start", 1100, Qt::AlignRight},   {"End", 1100, Qt::AlignRight},
        {"Rate", 600, Qt::AlignRight},      {"Loop", 600, Qt::AlignRight},     {"Pause", 600, Qt::AlignRight},
        {"Count-in", 1100, Qt::AlignRight}, {"Trainer", 1100, Qt::AlignRight}, {"Pitch", 700, Qt::AlignRight},
        {"Text", 2800, Qt::AlignLeft},      {"Hear", 1600, Qt::AlignLeft},      {"Stems", 2800, Qt::AlignLeft}};
    setColumnCount(kColumns);
    QStringList headers;
    for (const Column& c : columns) headers << QString::fromLatin1(c.header);
    setHeaderLabels(headers);
    for (int i = 0; i < kColumns; ++i) {
        setColumnWidth(i, services::twipsToPixels(columns[i].width));
        headerItem()->setTextAlignment(i, columns[i].align | Qt::AlignVCenter);
    }
    m_fileNameWidth = columnWidth(0);
    fitFileNameColumn();
}

void EntryGrid::fitFileNameColumn()
{
    if (columnCount() < kColumns) return;
    int others = 0;
    for (int i = 1; i < columnCount(); ++i) others += columnWidth(i);
    setColumnWidth(0, std::max(m_fileNameWidth, viewport()->width() - others));
}

void EntryGrid::resizeEvent(QResizeEvent* event)
{
    QTreeWidget::resizeEvent(event);
    fitFileNameColumn();
}

void EntryGrid::keyPressEvent(QKeyEvent* event)
{
    // Shift+F10 opens the menu, as the Menu key does.
    if (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier) {
        const QTreeWidgetItem* item = currentItem();
        const QPoint at = item ? visualItemRect(item).center() : QPoint(0, 0);
        emit customContextMenuRequested(at);
        return;
    }
    QTreeWidget::keyPressEvent(event);
}

void EntryGrid::focusInEvent(QFocusEvent* event)
{
    QTreeWidget::focusInEvent(event);
    // Tabbed into, the grid has a row to act on, so the entry commands do something.
    if (selectedRow() == 0 && rowCount() > 0) selectRow(currentItem() ? indexOfTopLevelItem(currentItem()) + 1 : 1);
}

void EntryGrid::paintEvent(QPaintEvent* event)
{
    QTreeWidget::paintEvent(event);
    // An empty grid has no row to mark: the keyboard's place shows on its viewport instead.
    if (rowCount() > 0 || !hasFocus()) return;
    QPainter p(viewport());
    QStyleOptionFocusRect focus;
    focus.initFrom(this);
    focus.rect = viewport()->rect().adjusted(1, 1, -1, -1);
    style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &p, this);
}

int EntryGrid::rowCount() const { return topLevelItemCount(); }

QTreeWidgetItem* EntryGrid::itemAt(int row) const
{
    return row >= 1 && row <= topLevelItemCount() ? topLevelItem(row - 1) : nullptr;
}

QStringList EntryGrid::rowTexts(int row) const
{
    QStringList texts;
    if (const QTreeWidgetItem* item = itemAt(row))
        for (int c = 0; c < kColumns; ++c) texts << item->text(c);
    // An entry without practice settings is its five texts, as it always was.
    while (texts.size() > 5 && texts.last().isEmpty()) texts.removeLast();
    return texts;
}

PracticeSettings EntryGrid::rowPractice(int row) const
{
    const QStringList t = rowTexts(row);
    return storage::practiceOf(storage::cellTexts(t.value(5), t.value(6), t.value(7), t.value(8), t.value(playback::kHearCell),
                                                         t.value(playback::kStemsCell)));
}

void EntryGrid::setRow(int row, const QStringList& texts, const PracticeSettings& practice)
{
    const QString text = texts.size() > playback::kTextCell ? texts[playback::kTextCell] : rowTexts(row).value(playback::kTextCell);
    setRowTexts(row, texts.mid(0, 5) + practiceCells(practice) + QStringList{text, storage::hearText(practice.hear), storage::stemsText(practice.stems)});
}

QStringList EntryGrid::practiceCells(const PracticeSettings& practice)
{
    const storage::PracticeTexts t = storage::practiceTexts(practice);
    return {t.pause, storage::countInCell(t), t.trainer, t.pitch};
}

void EntryGrid::selectRow(int row)
{
    if (QTreeWidgetItem* item = itemAt(row)) {
        // The row alone: the list's cursor, not one more row of a selection to merge.
        clearSelection();
        setCurrentItem(item);
        item->setSelected(true);
    }
}

int EntryGrid::selectedRow() const
{
    const QList<int> rows = selectedRows();
    return rows.isEmpty() ? 0 : rows.front();
}

QList<int> EntryGrid::selectedRows() const
{
    QList<int> rows;
    for (QTreeWidgetItem* item : selectedItems()) rows << indexOfTopLevelItem(item) + 1;
    std::sort(rows.begin(), rows.end());
    return rows;
}

void EntryGrid::setRowTexts(int row, const QStringList& texts)
{
    if (QTreeWidgetItem* item = itemAt(row))
        for (int c = 0; c < kColumns; ++c) item->setText(c, texts.value(c));
}

void EntryGrid::appendRow(const QStringList& texts) { addTopLevelItem(new EntryItem(texts)); }

void EntryGrid::insertRow(int row, const QStringList& texts)
{
    insertTopLevelItem(std::clamp(row - 1, 0, topLevelItemCount()), new EntryItem(texts));
}

void EntryGrid::appendRows(const QList<QStringList>& rows)
{
    QList<QTreeWidgetItem*> items;
    items.reserve(rows.size());
    for (const QStringList& texts : rows) items.append(new EntryItem(texts));
    addTopLevelItems(items);
}

void EntryGrid::removeRow(int row)
{
    delete itemAt(row);
}

void EntryGrid::clearRows() { QTreeWidget::clear(); }

// Files from outside become entries; the grid has no row dragging of its own.
void EntryGrid::dragEnterEvent(QDragEnterEvent* event) { services::acceptFiles(event); }

void EntryGrid::dragMoveEvent(QDragMoveEvent* event) { services::acceptFiles(event); }

void EntryGrid::dropEvent(QDropEvent* event)
{
    if (services::acceptFiles(event)) emit filesDropped(services::droppedFiles(event->mimeData()));
}

} // namespace panel
