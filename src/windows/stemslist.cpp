#include "windows/stemslist.h"

#include "app/numbertext.h"
#include "playback/livestems.h"
#include "services/keldialogs.h"
#include "services/messages.h"
#include "storage/stemfiles.h"

#include <QKeyEvent>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <tuple>

namespace editor {

namespace {
const QString kNoStemsTitle = QStringLiteral("No Stems Found");
}

StemsList::StemsList(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("StemsList"));
    m_table = new QTableWidget(0, kColumns, this);
    m_table->setObjectName(QStringLiteral("StemsTable"));
    m_table->setAccessibleName(QStringLiteral("Stems"));
    m_table->setToolTip(QStringLiteral("Files played together in place of the entry's file, each with a level (dB), "
                                       "mute and solo; Space ticks a box, F2 edits a level, Delete removes"));
    m_table->setHorizontalHeaderLabels({QStringLiteral("File"), QStringLiteral("Level dB"), QStringLiteral("Mute"),
                                        QStringLiteral("Solo")});
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                             QAbstractItemView::AnyKeyPressed);
    m_table->setTabKeyNavigation(false);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setSectionResizeMode(File, QHeaderView::Stretch);
    for (int c = Level; c < kColumns; ++c) m_table->horizontalHeader()->setSectionResizeMode(c, QHeaderView::ResizeToContents);
    m_table->installEventFilter(this);

    struct Made { const char* caption; const char* tip; void (StemsList::*slot)(); };
    static const Made made[kButtons] = {
        {"Add F&iles...", "Add sound files of the same length as stems", &StemsList::chooseFiles},
        {"Add F&older...", "Add the stems a separation tool wrote into a folder (vocals.wav, drums.wav ...)",
         &StemsList::chooseFolder},
        {"Fi&nd Beside the File", "Add the stems named after the entry's file (song.bass.wav beside song.wav, or a folder song/)",
         &StemsList::findBeside},
        {"Re&move", "Remove the selected stems", &StemsList::removeSelected}};
    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(0, 0, 0, 0);
    for (int b = 0; b < kButtons; ++b) {
        m_buttons[b] = new QPushButton(QString::fromLatin1(made[b].caption), this);
        m_buttons[b]->setToolTip(QString::fromLatin1(made[b].tip));
        m_buttons[b]->setAccessibleName(QString(QString::fromLatin1(made[b].caption)).remove(QLatin1Char('&')).remove(QStringLiteral("...")));
        m_buttons[b]->setAutoDefault(false);
        connect(m_buttons[b], &QPushButton::clicked, this, made[b].slot);
        buttons->addWidget(m_buttons[b]);
    }
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(2);
    column->addWidget(m_table, 1);
    column->addLayout(buttons);
    setTabOrder(m_table, m_buttons[0]);
    for (int b = 0; b + 1 < kButtons; ++b) setTabOrder(m_buttons[b], m_buttons[b + 1]);
    connect(m_table, &QTableWidget::itemChanged, this, &StemsList::itemChanged);
    fill();
}

bool StemsList::eventFilter(QObject* watched, QEvent* event)
{
    // Delete removes the selected stems (while a level is edited, its box takes the key).
    if (watched == m_table && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->matches(QKeySequence::Delete)) {
        removeSelected();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void StemsList::setStems(const StemSet& set)
{
    m_set = set;
    fill();
}

void StemsList::fill()
{
    m_filling = true;
    m_table->setRowCount(int(m_set.stems.size()));
    for (int row = 0; row < m_set.stems.size(); ++row) {
        const Stem& s = m_set.stems[row];
        const QString caption = playback::stemCaption(s);
        auto* file = new QTableWidgetItem(s.file);
        file->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
        file->setToolTip(s.file);
        auto* level = new QTableWidgetItem(numtext::format(s.levelDb));
        level->setData(Qt::AccessibleTextRole, QStringLiteral("Level of %1: %2 dB").arg(caption, numtext::format(s.levelDb)));
        m_table->setItem(row, File, file);
        m_table->setItem(row, Level, level);
        for (const auto& [column, on, word] : {std::tuple{Mute, s.mute, "Mute"}, std::tuple{Solo, s.solo, "Solo"}}) {
            auto* box = new QTableWidgetItem;
            box->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
            box->setCheckState(on ? Qt::Checked : Qt::Unchecked);
            box->setData(Qt::AccessibleTextRole, QStringLiteral("%1 %2").arg(QString::fromLatin1(word), caption));
            m_table->setItem(row, column, box);
        }
    }
    m_buttons[Remove]->setEnabled(m_set.any());
    m_filling = false;
}

void StemsList::itemChanged(QTableWidgetItem* item)
{
    if (m_filling) return;
    const int row = item->row();
    if (row < 0 || row >= m_set.stems.size()) return;
    Stem& s = m_set.stems[row];
    const Stem before = s;
    switch (item->column()) {
    case Level:
        // A level that is no number stays as it was; one out of bounds goes to the nearest.
        if (const auto db = numtext::parse(item->text().trimmed().remove(QStringLiteral("dB"), Qt::CaseInsensitive)))
            s.levelDb = std::clamp(*db, stems::kMinLevelDb, stems::kMaxLevelDb);
        break;
    case Mute: s.mute = item->checkState() == Qt::Checked; break;
    case Solo: s.solo = item->checkState() == Qt::Checked; break;
    default: return;
    }
    // Shown as kept, after the table is done with the item.
    QMetaObject::invokeMethod(this, &StemsList::fill, Qt::QueuedConnection);
    if (s != before) emit changed(true);
}

void StemsList::replace(const StemSet& set)
{
    if (set == m_set) return;
    const bool same = set.sameFiles(m_set);
    m_set = set;
    fill();
    emit changed(same);
}

void StemsList::addPaths(const QStringList& paths)
{
    const QString entry = m_entryFile ? m_entryFile() : QString();
    QStringList files;
    for (const QString& p : paths) files << (entry.isEmpty() ? QFileInfo(p).absoluteFilePath() : playback::stemPathFor(entry, p));
    replace(playback::withStemsAdded(m_set, files));
}

void StemsList::chooseFiles()
{
    const QString entry = m_entryFile ? m_entryFile() : QString();
    services::FileDialogRequest request;
    request.title = QStringLiteral("Stems to add");
    request.folder = entry.isEmpty() ? QString() : QFileInfo(entry).absolutePath();
    request.filters = services::dialogFilters(QString::fromLatin1(services::kMediaFilter));
    const QStringList chosen = services::OpenFilesDialog(request, this);
    if (!chosen.isEmpty()) addPaths(chosen);
}

void StemsList::chooseFolder()
{
    const QString entry = m_entryFile ? m_entryFile() : QString();
    services::FileDialogRequest request;
    request.kind = services::FileDialogKind::Folder;
    request.title = QStringLiteral("Folder of stems");
    request.folder = entry.isEmpty() ? QString() : QFileInfo(entry).absolutePath();
    const QString folder = services::FileDialog(request, this);
    if (folder.isEmpty()) return;
    const QDir dir(folder);
    const QStringList found = storage::stemsOfFolder(dir.entryList(QDir::Files));
    if (found.isEmpty()) {
        services::MsgBox(QStringLiteral("%1 holds no stems: their names say the part (vocals.wav, drums.wav, bass.wav, "
                                        "other.wav ...).").arg(QDir::toNativeSeparators(folder)),
                         services::MsgButtons::OK, services::MsgIcon::Information, kNoStemsTitle, this);
        return;
    }
    QStringList paths;
    for (const QString& name : found) paths << dir.filePath(name);
    addPaths(paths);
}

void StemsList::findBeside()
{
    const QString entry = m_entryFile ? m_entryFile() : QString();
    // Named relative to the entry's folder already.
    const QStringList found = entry.isEmpty() ? QStringList() : storage::findStems(entry);
    if (found.isEmpty()) {
        services::MsgBox(QStringLiteral("No stems lie beside %1 (song.bass.wav or song_vocals.flac beside song.wav, or "
                                        "a folder song/ of vocals.wav, drums.wav ...).")
                             .arg(entry.isEmpty() ? QStringLiteral("the entry's file") : QDir::toNativeSeparators(entry)),
                         services::MsgButtons::OK, services::MsgIcon::Information, kNoStemsTitle, this);
        return;
    }
    replace(playback::withStemsAdded(m_set, found));
}

void StemsList::removeSelected()
{
    StemSet set = m_set;
    QList<int> rows;
    for (const QModelIndex& i : m_table->selectionModel()->selectedRows()) rows << i.row();
    if (rows.isEmpty() && m_table->currentRow() >= 0) rows << m_table->currentRow();
    std::sort(rows.begin(), rows.end(), std::greater<>());
    for (int row : rows)
        if (row < set.stems.size()) set.stems.removeAt(row);
    replace(set);
}

} // namespace editor
