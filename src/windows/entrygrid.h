#pragma once
// The entry grid: one row per entry of the current playlist, the five fields, the four
// practice texts and the entry's text as text columns, rows addressed from 1. It is the working copy of the playlist.
#include "playback/listplay.h"

#include <QTreeWidget>

namespace panel {

class EntryGrid : public QTreeWidget, public playback::EntryList {
    Q_OBJECT
public:
    explicit EntryGrid(QWidget* parent = nullptr);

    static constexpr int kColumns = playback::kStemsCell + 1;

    // Clears columns and rows and sets up the columns.
    void InitGrid();

    int rowCount() const override;
    QStringList rowTexts(int row) const override;
    void selectRow(int row) override;
    void setRow(int row, const QStringList& texts, const PracticeSettings& practice) override;
    // Read from the row's practice texts (storage/practicekeys.h); one that does not read is off.
    PracticeSettings rowPractice(int row) const override;

    // What a screen reader says for a cell; an empty practice cell is a setting that is off.
    static QString spokenCell(int row, const QString& column, const QString& value, bool setting);

    // The four practice columns' texts.
    static QStringList practiceCells(const PracticeSettings& practice);

    int selectedRow() const override;
    // Every selected row, in grid order.
    QList<int> selectedRows() const;
    void setRowTexts(int row, const QStringList& texts);
    void appendRow(const QStringList& texts);
    // A new row before `row` (after the last where `row` is past it).
    void insertRow(int row, const QStringList& texts);
    void appendRows(const QList<QStringList>& rows);
    void removeRow(int row);
    void clearRows();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
signals:
    // Local files dropped on the grid.
    void filesDropped(const QStringList& paths);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    QTreeWidgetItem* itemAt(int row) const;
    void fitFileNameColumn();

    int m_fileNameWidth = 0;  // the column's design width
};

} // namespace panel
