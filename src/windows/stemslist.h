#pragma once
// The editor's list of an entry's stems: a row each (file, level, mute, solo), with buttons
// to add files, a folder of them or those found beside the entry's file, and to remove.
// What the list holds is the entry's `FileStems` once the editor keeps the entry.
#include "app/stems.h"

#include <QWidget>

#include <functional>

class QPushButton;
class QTableWidget;
class QTableWidgetItem;

namespace editor {

class StemsList : public QWidget {
    Q_OBJECT
public:
    enum Column { File, Level, Mute, Solo, kColumns };
    enum Button { AddFiles, AddFolder, FindBeside, Remove, kButtons };

    explicit StemsList(QWidget* parent);
    // The entry's file as the editor holds it now: stems are kept relative to its folder.
    void setEntryFile(std::function<QString()> file) { m_entryFile = std::move(file); }
    void setStems(const StemSet& set);
    const StemSet& stems() const { return m_set; }
    QTableWidget* table() const { return m_table; }
    QPushButton* button(Button b) const { return m_buttons[b]; }
    // Adds the stems of these files (chosen anywhere) after those listed.
    void addPaths(const QStringList& paths);

signals:
    // A change by the user; `sameFiles`: only levels, mutes or solos changed.
    void changed(bool sameFiles);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void fill();
    void itemChanged(QTableWidgetItem* item);
    void chooseFiles();
    void chooseFolder();
    void findBeside();
    void removeSelected();
    void replace(const StemSet& set);

    QTableWidget* m_table = nullptr;
    QPushButton* m_buttons[kButtons] = {};
    StemSet m_set;
    std::function<QString()> m_entryFile;
    bool m_filling = false;
};

} // namespace editor
