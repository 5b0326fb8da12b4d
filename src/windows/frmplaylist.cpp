#include "windows/frmplaylist.h"

#include "app/globals.h"
#include "app/numbertext.h"
#include "playback/entryplayer.h"
#include "playback/livehear.h"
#include "playback/liveloopkeys.h"
#include "playback/mediaplayer.h"
#include "playback/playbackfollow.h"
#include "playback/entryedits.h"
#include "engine/mediaprobe.h"
#include "services/controls.h"
#include "services/custommsgbox.h"
#include "services/fitlabel.h"
#include "services/keldialogs.h"
#include "services/messages.h"
#include "services/placement.h"
#include "services/titlebar.h"
#include "services/twips.h"
#include "services/windowstate.h"
#include "services/wmbuttons.h"
#include "storage/looplists.h"
#include "storage/subtitles.h"
#include "storage/modkelini.h"
#include "storage/playlistfile.h"
#include "storage/playliststore.h"
#include "storage/stemkeys.h"
#include "windows/drilldialog.h"
#include "windows/entrygrid.h"
#include "windows/forms.h"
#include "windows/frmedit.h"
#include "windows/frmplayer.h"
#include "windows/panellayout.h"
#include "windows/stemsmenu.h"

#include <QAccessibleWidget>
#include <QAction>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QComboBox>
#include <QFileInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>

#include <algorithm>
#include <QPainter>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <cmath>

using services::makeBox;
using services::makeButton;
using services::twipsRect;
using services::twipsToPixels;

namespace panel {
namespace {

// The toggle's glyphs: a bar along the bottom (fold away) and a framed box (open again),
// in the palette's text colour, so a dark theme shows them too.
QPixmap drawGlyph(bool window, const QPalette& palette)
{
    QPixmap pm(17, 15);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    const QColor ink = palette.color(QPalette::WindowText);
    p.setPen(ink);
    if (window) {
        p.drawRect(2, 1, 12, 11);
        p.fillRect(3, 2, 11, 2, palette.color(QPalette::Highlight));
    } else {
        p.fillRect(4, 10, 9, 2, ink);
    }
    return pm;
}

// The panel is a window to a screen reader, not a filler.
QAccessibleInterface* panelAccessible(const QString& key, QObject* object)
{
    if (key != QLatin1String("panel::frmPlayList") || !object || !object->isWidgetType()) return nullptr;
    return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Window);
}

QString shownPath(const QString& path) { return QDir::toNativeSeparators(path); }

QStringList rowOf(const QString& file, double start, double end, double rate, double count,
                  const PracticeSettings& practice, const QString& text)
{
    QStringList row;
    row.reserve(EntryGrid::kColumns);  // a list of 100,000 rows makes as many
    row << file << numtext::format(start) << numtext::format(end) << numtext::format(rate == 0 ? 1.0 : rate)
        << numtext::format(count == 0 ? 1.0 : count) << EntryGrid::practiceCells(practice) << text
        << storage::hearText(practice.hear) << storage::stemsText(practice.stems);
    return row;
}

} // namespace

// Customised: the window manager then draws no minimise and maximise buttons either
// (openbox, which reads only the window's type for them: keepToCloseOnly).
frmPlayList::frmPlayList(QWidget* owner)
    : QWidget(owner, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("frmPlayList"));
    setWindowTitle(QStringLiteral("Control Panel"));
    services::keepToCloseOnly(this);
    services::mapFreeOfOwner(this);
    static const bool accessible = (QAccessible::installFactory(panelAccessible), true);
    Q_UNUSED(accessible);
    resize(services::twipsSize(6405, 3645));

    m_pictures[0] = drawGlyph(false, palette());
    m_pictures[1] = m_pictures[0];
    m_pictures[2] = drawGlyph(true, palette());
    m_pictures[3] = drawGlyph(false, palette());
    m_imgEnabler0 = new QLabel(this);
    m_imgEnabler0->setObjectName(QStringLiteral("imgEnabler0"));
    m_imgEnabler0->setGeometry(twipsRect(0, 80, 255, 225));
    m_imgEnabler0->setToolTip(QStringLiteral("Toggle the position Grabber Controls"));
    m_imgEnabler0->setPixmap(m_pictures[1]);
    m_shownPicture = m_pictures[1].cacheKey();
    m_imgEnabler0->setCursor(Qt::PointingHandCursor);
    m_imgEnabler0->setAccessibleName(QStringLiteral("Fold the position grabber"));
    m_imgEnabler0->installEventFilter(this);
    // The toggle's key.
    auto* fold = new QAction(this);
    fold->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_G));
    connect(fold, &QAction::triggered, this, [this] { imgEnabler_Click(0); });
    addAction(fold);

    buildGrabber();
    buildPlayList();
    buildMenu();
    buildLoopMenu();

    m_grid->InitGrid();
    tellIfNotWritable();  // before the first write to it fails
    connect(m_grid, &EntryGrid::filesDropped, this, &frmPlayList::DropFiles);
    ReLoadINI();
    m_barTop = services::addOwnTitleBar(this);
    // At the first start the panel stands beside the player window, not on top of it.
    services::Placement beside = services::kDefaultPlacement;
    beside.left += services::kDefaultPlacement.width + 120;
    beside.height = 5400;
    services::RestoreFormPlacement(this, beside);
    applyMinimumWidth();
    Form_Resize();
}

frmPlayList::~frmPlayList() = default;

void frmPlayList::buildGrabber()
{
    m_framGrabber = new QGroupBox(QStringLiteral("Position Grabber:"), this);
    m_framGrabber->setGeometry(twipsRect(360, 0, 6015, kGrabberOpenHeight));

    auto* label3 = new services::FitLabel(QStringLiteral("Current Position:"), m_framGrabber);
    label3->setGeometry(twipsRect(120, 360, 1215, 255));
    QFont bold = font();
    bold.setBold(true);
    m_txtCurPos = makeBox(m_framGrabber, twipsRect(1440, 360, 1935, 300), QString(),
                          QStringLiteral("When the file is playing this shows the current position."));
    m_txtCurPos->setFont(bold);
    m_txtCurPos->setReadOnly(true);
    auto* lblDuration = new services::FitLabel(QStringLiteral("Duration:"), m_framGrabber);
    lblDuration->setGeometry(twipsRect(120, 720, 1215, 255));
    m_txtDuration = makeBox(m_framGrabber, twipsRect(1440, 720, 1935, 300), QString(), QString());
    m_txtDuration->setFont(bold);
    m_txtDuration->setReadOnly(true);
    // The two memories: catch the shown position, keep it as text, seek back to it.
    auto memoryRow = [this](int n, double top, double catchHeight, QLineEdit*& box) {
        const QString m = QString::number(n);
        auto* add = makeButton(m_framGrabber, twipsRect(3480, top, 495, catchHeight), "M" + m + "+",
                               "Add current Position to Memory " + m);
        box = makeBox(m_framGrabber, twipsRect(4080, top, 1215, 285), QStringLiteral("0"),
                      "Holds Memory Position " + m);
        auto* recall = makeButton(m_framGrabber, twipsRect(5400, top, 495, 285), "M" + m + "R",
                                  "Set the current Position to Memory " + m);
        return std::pair{add, recall};
    };
    const auto [m1a, m1r] = memoryRow(1, 360, 285, m_txtM1);
    const auto [m2a, m2r] = memoryRow(2, 720, 255, m_txtM2);
    // A text box would take its frame's caption for its name: each says what it holds.
    const std::pair<QWidget*, const char*> named[] = {
        {m_txtCurPos, "Current position"}, {m_txtDuration, "Duration"},    {m_txtM1, "Memory 1"},
        {m_txtM2, "Memory 2"},             {m1a, "Keep in memory 1"},       {m1r, "Go to memory 1"},
        {m2a, "Keep in memory 2"},         {m2r, "Go to memory 2"}};
    for (const auto& [w, name] : named) w->setAccessibleName(QString::fromLatin1(name));

    // The displays read inverted: a box's own text and ground swapped contrast in any
    // palette, where a tooltip's colours need not (some dark themes give white on white).
    for (QLineEdit* box : {m_txtCurPos, m_txtDuration}) {
        QPalette pal = box->palette();
        for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
            const QColor base = pal.color(group, QPalette::Base), text = pal.color(group, QPalette::Text);
            pal.setColor(group, QPalette::Base, text);
            pal.setColor(group, QPalette::Text, base);
        }
        box->setPalette(pal);
    }

    connect(m1a, &QPushButton::clicked, this, &frmPlayList::btnM1a_Click);
    connect(m2a, &QPushButton::clicked, this, &frmPlayList::btnM2a_Click);
    connect(m1r, &QPushButton::clicked, this, &frmPlayList::btnM1r_Click);
    connect(m2r, &QPushButton::clicked, this, &frmPlayList::btnM2r_Click);

    m_timer1 = new playback::PlaybackFollow(control(), m_framGrabber, 400, [this](playback::FollowCause) { Timer1_Timer(); }, this);
}

QTimer* frmPlayList::Timer1() const { return m_timer1->timer(); }

bool frmPlayList::grabberOpen() const { return m_timer1->isEnabled(); }

void frmPlayList::buildPlayList()
{
    m_framPL = new QGroupBox(QStringLiteral("Play List:"), this);
    m_framPL->setGeometry(twipsRect(0, 1200, 6015, 2415));

    m_txtRate = new QLineEdit(QStringLiteral("1"), m_framPL);
    m_txtRate->setObjectName(QStringLiteral("txtRate"));
    m_txtRate->setGeometry(twipsRect(840, 0, 375, 195));
    m_txtRate->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_txtRate->setMaxLength(5);
    m_txtRate->setToolTip(QStringLiteral("Playback rate of the player: 1 is normal, .5 half speed, 2 double speed"));
    m_txtRate->setAccessibleName(QStringLiteral("Rate"));
    QFont small = font();
    small.setPointSizeF(6);
    m_txtRate->setFont(small);
    m_txtRate->setTextMargins(0, 0, 0, 0);
    m_txtRate->setFrame(false);
    connect(m_txtRate, &QLineEdit::editingFinished, this, &frmPlayList::txtRate_LostFocus);
    // Only the user's keys count: what the program shows there (a trainer's rate) is no choice.
    connect(m_txtRate, &QLineEdit::textEdited, this, [this] { m_rateTyped = true; });
    connect(control()->engine(), &engine::MediaEngine::passRateChanged, this, &frmPlayList::showTrainerRate);
    auto* rateLabel = new services::FitLabel(QStringLiteral("Rate"), m_framPL);
    rateLabel->setFont(small);
    rateLabel->setGeometry(twipsRect(1245, 0, 375, 195));
    rateLabel->setBuddy(m_txtRate);
    // Over the frame's line, as its caption is: the line does not run through the label.
    rateLabel->setAutoFillBackground(true);
    // Under the row on the frame's line, so that the line does not show in the gaps between
    // its controls: the row reads as part of the caption, the line going on after it.
    m_captionStrip = new QWidget(m_framPL);
    m_captionStrip->setAutoFillBackground(true);
    m_captionStrip->lower();

    m_chooser = new QComboBox(m_framPL);
    m_chooser->setObjectName(QStringLiteral("cboPlayListName"));
    m_chooser->setGeometry(twipsRect(75, 225, 3615, 315));
    connect(m_chooser, &QComboBox::currentIndexChanged, this, [this] { cboPlayListName_Click(); });

    QFont bold = font();
    bold.setBold(true);
    m_btnPlus = makeButton(m_framPL, twipsRect(3720, 225, 375, 315), QStringLiteral("+"),
                           QStringLiteral("Add New Playlist"));
    m_btnPlus->setFont(bold);
    m_btnMinus = makeButton(m_framPL, twipsRect(4080, 225, 375, 315), QStringLiteral("-"),
                            QStringLiteral("Delete Current Playlist"));
    m_btnMinus->setFont(bold);
    m_chooser->setAccessibleName(QStringLiteral("Play list"));
    m_btnPlus->setAccessibleName(QStringLiteral("New play list"));
    m_btnMinus->setAccessibleName(QStringLiteral("Delete play list"));
    m_btnMinus->hide();
    m_btnMinus->setEnabled(false);
    connect(m_btnPlus, &QPushButton::clicked, this, [this] { btnPlO_Click(1); });

    m_grid = new EntryGrid(m_framPL);
    m_grid->setObjectName(QStringLiteral("lstSelector"));
    m_grid->setGeometry(twipsRect(60, 600, 5895, 1695));
    m_grid->setContextMenuPolicy(Qt::CustomContextMenu);
    m_grid->setAccessibleName(QStringLiteral("Entries"));
    connect(m_grid, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item) { lstSelector_ItemClick(item); });
    connect(m_grid, &QTreeWidget::itemDoubleClicked, this, [this] { lstSelector_DblClick(); });
    connect(m_grid, &QWidget::customContextMenuRequested, this, &frmPlayList::lstSelector_RightPress);
}

void frmPlayList::buildMenu()
{
    static const char* const captions[] = {
        "Play the List", "Play this Entry", "Loop this Entry", "-", "Add Entry...", "Edit Entry...",
        "Delete from Playlist", "-", "Move Up", "Move Down", "-", "Stop", "-", "Export...", "Import...", "",
        "Cancel"};
    m_menu = new QMenu(QStringLiteral("Hidden-RightClick"), this);
    for (int i = 0; i < 17; ++i) {
        const QString caption = QString::fromLatin1(captions[i]);
        QAction* action = caption == "-" ? m_menu->addSeparator() : m_menu->addAction(caption);
        action->setData(i);
        if (i == 15) action->setVisible(false);
        if (caption != "-") connect(action, &QAction::triggered, this, [this, i] { MnuRightClick_Click(i); });
    }
    m_menu->setDefaultAction(m_menu->actions().at(2));
    buildRowEdits();
}

void frmPlayList::buildRowEdits()
{
    // Before "Cancel", so the numbered entry commands keep their places.
    QAction* cancel = m_menu->actions().last();
    m_menu->insertSeparator(cancel);
    const struct { const char* caption; QKeySequence key; void (frmPlayList::*run)(); } edits[] = {
        {"&Merge Selected Entries", QKeySequence(Qt::CTRL | Qt::Key_M), &frmPlayList::MergeSelectedRows},
        {"Spli&t at Position Heard", QKeySequence(Qt::CTRL | Qt::Key_K), &frmPlayList::SplitAtHeard},
    };
    for (const auto& e : edits) {
        auto* a = new QAction(QString::fromLatin1(e.caption), m_menu);
        a->setShortcut(e.key);
        a->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        connect(a, &QAction::triggered, this, e.run);
        m_menu->insertAction(cancel, a);
        m_grid->addAction(a);  // the keys work where the rows are
    }
}

void frmPlayList::tell(const QString& text)
{
    services::MsgBox(text, services::MsgButtons::OK, services::MsgIcon::None, QString(), this);
}

void frmPlayList::MergeSelectedRows()
{
    const QList<int> rows = m_grid->selectedRows();
    QList<EntryRecord> entries;
    for (const int row : rows) entries << GetListEntry(row);
    const std::optional<EntryRecord> merged = playback::mergedEntry(entries);
    if (!merged) {
        tell(QStringLiteral("Select two or more stretches of one file to merge them."));
        return;
    }
    const EntryRecord& e = *merged;
    m_grid->setRowTexts(rows.front(), rowOf(e.FileName, e.Start, e.Stop, e.Rate, e.Loops, e.Practice, e.Text));
    for (qsizetype i = rows.size() - 1; i > 0; --i) m_grid->removeRow(rows[i]);
    // The cursor stays on the entry it was on, or on the merged one.
    const auto before = std::count_if(rows.begin() + 1, rows.end(), [this](int r) { return r < CurrentID; });
    if (rows.contains(CurrentID)) CurrentID = rows.front();
    else CurrentID -= qint32(before);
    m_grid->clearSelection();
    m_grid->selectRow(rows.front());
    SavePlayList();
}

void frmPlayList::SplitAtHeard()
{
    const int row = m_grid->selectedRow();
    if (row == 0) return;
    const EntryRecord entry = GetListEntry(row);
    const bool heard = !control()->FileName().isEmpty() &&
                       QFileInfo(control()->FileName()).absoluteFilePath() == QFileInfo(entry.FileName).absoluteFilePath();
    const auto parts = heard ? playback::splitEntry(entry, control()->CurrentPosition(), control()->Duration()) : std::nullopt;
    if (!parts) {
        tell(QStringLiteral("Play the entry and split it where it is heard, inside its stretch."));
        return;
    }
    const auto& [first, second] = *parts;
    m_grid->setRowTexts(row, rowOf(first.FileName, first.Start, first.Stop, first.Rate, first.Loops, first.Practice,
                                   first.Text));
    m_grid->insertRow(row + 1, rowOf(second.FileName, second.Start, second.Stop, second.Rate, second.Loops,
                                     second.Practice, second.Text));
    if (CurrentID > row) ++CurrentID;
    SavePlayList();
}

windows::frmPlayer* frmPlayList::player() const { return forms::frmPlayer(); }

playback::EngineControl* frmPlayList::control() const { return player()->MediaPlayer1()->control(); }

// ---- What the store met, told once ---------------------------------------------------

void frmPlayList::tellReadNotice(const storage::ReadNotice& notice)
{
    if (!notice.unreadable.isEmpty()) {
        if (m_toldUnreadable.contains(notice.file)) return;
        m_toldUnreadable.insert(notice.file);
        m_toldFailing = notice.file;  // its saves fail for the same reason
        services::MsgBox(QStringLiteral("The playlist file\n") + shownPath(notice.file) +
                             QStringLiteral("\ncannot be read: ") + notice.unreadable +
                             QStringLiteral(".\n\nIt is left as it is; changes cannot be kept in it."),
                         services::MsgButtons::OK, services::MsgIcon::Exclamation, QString(), this);
        return;
    }
    if (notice.refused && !m_toldRefused.contains(notice.file)) {
        m_toldRefused.insert(notice.file);
        services::MsgBox(QStringLiteral("The playlist file\n") + shownPath(notice.file) +
                             QStringLiteral("\nholds %1 practice setting(s) (pause, count-in, trainer or pitch) that "
                                            "cannot be read or lie outside their bounds.\n\nThey are off; a change to "
                                            "the list saves them off.")
                                 .arg(notice.refused),
                         services::MsgButtons::OK, services::MsgIcon::Exclamation, QString(), this);
    }
    if (!notice.cut || m_toldCut.contains(notice.file)) return;
    m_toldCut.insert(notice.file);
    services::MsgBox(QStringLiteral("The playlist file\n") + shownPath(notice.file) +
                         QStringLiteral("\nholds values or counts larger than any playlist needs "
                                        "(over %1 characters, %2 entries or %3 playlists).\n\n"
                                        "They are shown cut to that size; a change to the list saves them so.")
                             .arg(storage::kMaxValueLength)
                             .arg(storage::kMaxEntries)
                             .arg(storage::kMaxPlayLists),
                     services::MsgButtons::OK, services::MsgIcon::Exclamation, QString(), this);
}

bool frmPlayList::tellWriteOutcome(const storage::WriteOutcome& outcome)
{
    if (outcome) {
        if (outcome.wrote && m_toldFailing == outcome.file) m_toldFailing.clear();
        return true;
    }
    // A file that stays unwritable is told about once, not at every change, until a
    // save to it succeeds again.
    if (m_toldFailing == outcome.file) return false;
    m_toldFailing = outcome.file;
    services::MsgBox(QStringLiteral("Could not save to the file\n") + shownPath(outcome.file) +
                         QStringLiteral("\n\nReason: ") + outcome.error +
                         QStringLiteral(".\n\nThe last change was not saved."),
                     services::MsgButtons::OK, services::MsgIcon::Exclamation, QString(), this);
    return false;
}

void frmPlayList::tellIfNotWritable()
{
    const QString file = storage::iniFilePath(QString());
    if (!QFileInfo(file).isFile()) return;  // what is not a file is told when it is read
    const QString problem = storage::playListFileWriteProblem();
    if (problem.isEmpty()) return;
    m_toldFailing = file;
    services::MsgBox(QStringLiteral("The playlist file\n") + shownPath(file) + QStringLiteral("\ncannot be written: ") +
                         problem + QStringLiteral(".\n\nYour playlists are shown, but changes to them cannot be kept."),
                     services::MsgButtons::OK, services::MsgIcon::Exclamation, QString(), this);
}

// ---- Playlist store ---------------------------------------------------------------

void frmPlayList::ReLoadINI()
{
    const storage::PlayListNames names = storage::readPlayListNames();
    tellReadNotice(names.notice);
    {
        const QSignalBlocker block(m_chooser);
        m_chooser->clear();
        m_chooser->addItems(names.names);
        m_chooser->setCurrentIndex(-1);
    }
    const int pick = names.selection();
    if (pick >= 0) m_chooser->setCurrentIndex(pick);
}

void frmPlayList::AddNewPlayList(const QString& strNewList)
{
    tellWriteOutcome(storage::AddNewPlayList(strNewList));
}

void frmPlayList::btnPlO_Click(int)
{
    const QString name = services::InputBox(QStringLiteral("Enter the name of the new Play List"),
                                            QStringLiteral("New Play List"), QStringLiteral("My Play List"), this);
    // The keyboard comes back here, not to the player.
    services::bringToFront(this);
    if (name.isEmpty()) return;
    AddNewPlayList(name);
    ReLoadINI();
}

void frmPlayList::cboPlayListName_Click()
{
    const QString name = m_chooser->currentText();
    storage::ReadNotice notice;
    const QList<EntryRecord> entries = storage::loadPlayList(name, &notice);
    m_grid->clearRows();
    // A few thousand rows at a time: the texts of a long list are never held twice over.
    constexpr qsizetype kRowsAtATime = 4096;
    QList<QStringList> rows;
    for (qsizetype at = 0; at < entries.size(); at += kRowsAtATime) {
        rows.clear();
        for (const EntryRecord& e : entries.sliced(at, std::min(kRowsAtATime, entries.size() - at)))
            rows.append(rowOf(e.FileName, e.Start, e.Stop, e.Rate, e.Loops, e.Practice, e.Text));
        m_grid->appendRows(rows);
    }
    tellReadNotice(notice);
    tellWriteOutcome(storage::setLastPlayList(name));
}

void frmPlayList::SavePlayList()
{
    QList<storage::EntryTexts> rows;
    const int n = m_grid->rowCount();
    rows.reserve(n);
    for (int i = 1; i <= n; ++i) {
        const QStringList t = m_grid->rowTexts(i);
        rows.append({t[0], t[1], t[2], t[3], t[4], storage::cellTexts(t.value(5), t.value(6), t.value(7), t.value(8), t.value(playback::kHearCell),
                                                         t.value(playback::kStemsCell)),
                     t.value(playback::kTextCell)});
    }
    storage::WriteOutcome outcome;
    if (storage::SavePlayList(m_chooser->currentText(), rows, &outcome) == storage::SaveResult::NoPlayList)
        services::MsgBox(storage::noPlayListText(), services::MsgButtons::OK, services::MsgIcon::None, QString(), this);
    else
        tellWriteOutcome(outcome);
}

// ---- Entry commands ---------------------------------------------------------------

// A flat button on the list frame's top line, beside the rate box and in its font.
QToolButton* frmPlayList::frameButton(const QString& name, const QString& text, const QString& tip, int leftTwips)
{
    auto* button = new QToolButton(m_framPL);
    button->setObjectName(name);
    button->setText(text);
    button->setToolTip(tip);
    button->setGeometry(twipsRect(leftTwips, 0, 1000, 195));
    button->setFont(m_txtRate->font());
    button->setAutoRaise(true);
    button->setAutoFillBackground(true);
    return button;
}

void frmPlayList::buildLoopMenu()
{
    // The player's live loop keys, beside the rate box they change: the same actions, so
    // their keys work here too.
    auto* button = frameButton(QStringLiteral("btnLoopKeys"), QStringLiteral("Loop Keys"),
                               QStringLiteral("Move the playing stretch's start and stop, change its rate, pause"), 1740);
    button->setPopupMode(QToolButton::InstantPopup);
    m_loopMenu = new QMenu(QStringLiteral("Loop Keys"), this);
    for (QAction* a : player()->liveKeys()->actions()) {
        if (!a) {
            m_loopMenu->addSeparator();
            continue;
        }
        m_loopMenu->addAction(a);
        addAction(a);
    }
    button->setMenu(m_loopMenu);
    button->setAccessibleName(QStringLiteral("Loop keys"));

    // How the entry is heard, beside it: the player's Hear menu's actions.
    auto* hear = frameButton(QStringLiteral("btnHear"), QStringLiteral("Hear"),
                             QStringLiteral("Hear one part: a band, the centre cancelled or kept, one channel, a gain"), 2800);
    hear->setPopupMode(QToolButton::InstantPopup);
    auto* hearMenu = new QMenu(QStringLiteral("Hear"), this);
    for (QAction* a : player()->liveHear()->actions()) {
        if (!a) {
            hearMenu->addSeparator();
            continue;
        }
        hearMenu->addAction(a);
        addAction(a);
    }
    connect(hearMenu, &QMenu::aboutToShow, player()->liveHear(), &playback::LiveHear::sync);
    hear->setMenu(hearMenu);
    hear->setAccessibleName(QStringLiteral("Hear"));

    // The playing entry's stems, the player's Stems menu again.
    auto* stems = frameButton(QStringLiteral("btnStems"), QStringLiteral("Stems"),
                              QStringLiteral("Mute, solo or level the playing entry's stems, or find them beside its file (%1)")
                                  .arg(windows::StemsMenu::kKey.toString(QKeySequence::NativeText)),
                              3860);
    stems->setPopupMode(QToolButton::InstantPopup);
    stems->setMenu(new windows::StemsMenu(player()->liveStems(), this));
    stems->setAccessibleName(QStringLiteral("Stems"));
    auto* openStems = new QAction(this);
    openStems->setShortcut(windows::StemsMenu::kKey);
    connect(openStems, &QAction::triggered, stems, &QToolButton::showMenu);
    addAction(openStems);

    m_btnShowPlayer = frameButton(QStringLiteral("btnShowPlayer"), QStringLiteral("Show &Player"),
                                  QStringLiteral("Bring the player window back"), 4920);
    m_btnShowPlayer->hide();
    connect(m_btnShowPlayer, &QToolButton::clicked, this, [this] { player()->showFromTray(); });
    fitCaptionStrip();
}

void frmPlayList::showPlayerButton(bool shown)
{
    m_btnShowPlayer->setVisible(shown);
    fitCaptionStrip();
}

void frmPlayList::fitCaptionStrip()
{
    // From the rate box to the end of the row's last control that is not hidden.
    QRect row = m_txtRate->geometry();
    for (QWidget* w : m_framPL->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (w != m_captionStrip && !w->isHidden() && w->y() == row.y() && w->x() > row.x()) row |= w->geometry();
    m_captionStrip->setGeometry(row);
}

void frmPlayList::takeKeyboard()
{
    if (!isVisible()) return;
    activateWindow();
    m_grid->setFocus(Qt::OtherFocusReason);
}

void frmPlayList::WriteLiveChange(const playback::LiveChange& change)
{
    if (change.movesRate() && change.heard) {
        m_txtRate->setText(change.edit.rate);
        m_rateTyped = false;
    }
    const int row = change.row;
    if (row <= 0) return;
    QStringList texts = m_grid->rowTexts(row);
    if (!playback::rowPlays(texts, change.file, change.was.start, change.was.stop, change.wholeFile)) return;
    // A rate leaves a whole file's zero ends alone; a moved end writes both, since a
    // stop of 0 would make the row whole again.
    if (change.movesRate()) {
        texts[3] = change.edit.rate;
    } else {
        texts[1] = change.edit.start;
        texts[2] = change.edit.stop;
    }
    m_grid->setRowTexts(row, texts);
    SavePlayList();
}

void frmPlayList::MnuRightClick_Click(int index)
{
    switch (index) {
    case 0:
        m_grid->selectRow(1);
        playSelected(m_grid->selectedRow(), false);
        break;
    case 1: if (m_grid->selectedRow()) playSelected(m_grid->selectedRow(), false); break;
    case 2: if (m_grid->selectedRow()) playSelected(m_grid->selectedRow(), true); break;
    case 4: forms::frmEdit()->LoadAdd(QString(), QString(), QString(), QString(), QString(), this); break;
    case 5:
        if (const int row = m_grid->selectedRow()) {
            const QStringList t = m_grid->rowTexts(row);
            forms::frmEdit()->LoadEdit(t[0], t[1], t[2], t[3], t[4], this, m_grid->rowPractice(row), t.value(playback::kTextCell));
        }
        break;
    case 6:
        if (const int row = m_grid->selectedRow()) m_grid->removeRow(row);
        SavePlayList();
        break;
    case 8: MoveListEntry(true); break;
    case 9: MoveListEntry(false); break;
    case 11: player()->playback()->stopPlayback(); break;
    case 13: ExportImportPlayList(false); break;
    case 14: ExportImportPlayList(true); break;
    default: break;
    }
}

void frmPlayList::playSelected(int row, bool loop)
{
    const QStringList t = m_grid->rowTexts(row);
    // The cursor first: an entry of one pass hands the list's next one to the engine as it
    // starts, and that is the row after this one.
    if (row > 0) CurrentID = row;
    player()->PlayPosition(t.value(0), t.value(1), t.value(2), t.value(3), t.value(4), loop, m_grid->rowPractice(row),
                           t.value(playback::kTextCell));
}

bool frmPlayList::showsPlayList() const { return !m_chooser->currentText().isEmpty(); }

void frmPlayList::AddListEntry(const QString& strFileName, double dblStart, double dblEnd, double dblRate,
                               double dblCount, bool ByPassSave, const PracticeSettings& practice, const QString& text)
{
    if (!showsPlayList()) {
        services::MsgBox(storage::noPlayListText(), services::MsgButtons::OK, services::MsgIcon::None, QString(), this);
        return;
    }
    // Only a warning: the entry is added all the same.
    services::MediaFileFound(strFileName, this);
    m_grid->appendRow(rowOf(strFileName, dblStart, dblEnd, dblRate, dblCount, practice, text));
    if (!ByPassSave) SavePlayList();
}

void frmPlayList::EditListEntry(const QString& strFileName, double dblStart, double dblEnd, double dblRate,
                                double dblCount, bool ByPassSave, const PracticeSettings& practice, const QString& text)
{
    const int row = m_grid->selectedRow();
    const QStringList before = m_grid->rowTexts(row);
    m_grid->setRowTexts(row, rowOf(strFileName, dblStart, dblEnd, dblRate, dblCount, practice, text));
    player()->liveKeys()->rowEdited(row, before, m_grid->rowTexts(row), practice);
    if (!ByPassSave) SavePlayList();
}

void frmPlayList::MoveListEntry(bool blnUp)
{
    const int selected = m_grid->selectedRow();
    const qint64 target = qint64(selected) + (blnUp ? -1 : 1);
    if (blnUp && target < 1) return;
    if (!blnUp && target > m_grid->rowCount()) return;
    if (selected == 0) {
        SavePlayList();  // nothing to move, but the list is written back as it is
        return;
    }
    playback::SwapEntries(*m_grid, selected, int(target));
    SavePlayList();
    m_grid->scrollToItem(m_grid->currentItem());
}

void frmPlayList::TrayControl(int lngIndex)
{
    if (lngIndex == 0) MnuRightClick_Click(0);
    else if (lngIndex == 1) MnuRightClick_Click(2);
}

// ---- Export and import --------------------------------------------------------------

EntryRecord frmPlayList::GetListEntry(qint32 lngIndex) const
{
    const QStringList t = m_grid->rowTexts(lngIndex);
    auto number = [&](int i) { return numtext::parse(t.value(i)).value_or(0.0); };
    return {lngIndex,  t.value(0), number(1), number(2), number(3), number(4), m_grid->rowPractice(lngIndex),
            t.value(playback::kTextCell)};
}

void frmPlayList::ExportImportPlayList(bool bImport)
{
    QString proposed = m_chooser->currentText() + QStringLiteral(".obs");
    const QString filter = QString::fromLatin1(storage::kLoopListFilter);
    const QString title = QStringLiteral("Save Vamplet File As...");
    if (!bImport) {
        QString path = services::SaveMediaFile(proposed, filter, title, QStringLiteral("obs"), QString());
        if (path.isEmpty()) return;
        QList<EntryRecord> entries;
        for (int i = 1; i <= m_grid->rowCount(); ++i) entries.append(GetListEntry(i));
        path = storage::withPlayListExtension(path);
        QString failure = QStringLiteral("Playlist Export Failed: \n");
        const bool refused = QFileInfo::exists(path) &&
                             services::MsgBox(QStringLiteral("File Exists!\n\nOverwrite?"), services::MsgButtons::YesNo,
                                              services::MsgIcon::Question, QStringLiteral("Overwrite File?"),
                                              this) != services::vbYes;
        if (!refused) {
            QStringList notes;
            const storage::WriteOutcome written = storage::loopListFormatOf(path) == storage::LoopListFormat::Obs
                                                      ? storage::ExportPlayListFile(path, entries)
                                                      : exportLoopList(path, entries, notes);
            if (written) {
                services::MsgBox(QStringLiteral("Playlist Exported to: \n") + path + QStringLiteral("\n") +
                                     (notes.isEmpty() ? QString() : QStringLiteral("\n") + notes.join(QLatin1Char('\n'))),
                                 services::MsgButtons::OK, services::MsgIcon::Information,
                                 QStringLiteral("Export Complete."), this);
                return;
            }
            failure += shownPath(path) + QStringLiteral("\n") + written.error + u'.';
        }
        services::MsgBox(failure, services::MsgButtons::OK, services::MsgIcon::Critical,
                         QStringLiteral("Export Failed."), this);
        return;
    }
    const QString path = services::OpenMediaFile(proposed, filter, title, QStringLiteral("obs"), QString());
    if (!path.isEmpty()) ImportFile(path);
}

void frmPlayList::ImportFile(const QString& path)
{
    QList<EntryRecord> entries;
    // A missing file goes the playlist file's way, which says so.
    if (storage::loopListFormatOf(path) == storage::LoopListFormat::Obs || !QFileInfo(path).isFile()) {
        const storage::ImportOutcome imported = storage::ImportPlayListFile(path);
        if (imported.status == storage::ImportOutcome::Status::NotFound) {
            services::MsgBox(QStringLiteral("File Not Found!"), services::MsgButtons::OK, services::MsgIcon::Exclamation,
                             QStringLiteral("No File Found!"), this);
            return;
        }
        if (!imported) {
            services::MsgBox(QStringLiteral("The file\n") + shownPath(path) + QStringLiteral("\ncannot be imported: ") +
                                 imported.notice.unreadable + u'.',
                             services::MsgButtons::OK, services::MsgIcon::Exclamation, QStringLiteral("Import Failed."),
                             this);
            return;
        }
        tellReadNotice(imported.notice);
        entries = storage::ImportEntries;
    } else if (!readLoopList(path, entries)) {
        return;
    }
    if (AskTargetPlayList(m_chooser->currentText()).isEmpty()) return;
    // One save for the whole import: saving after every row costs the square of its length.
    const int before = m_grid->rowCount();
    for (const EntryRecord& e : entries)
        AddListEntry(e.FileName, e.Start, e.Stop, e.Rate, e.Loops, true, e.Practice, e.Text);
    if (m_grid->rowCount() != before) SavePlayList();
}

storage::WriteOutcome frmPlayList::exportLoopList(const QString& path, const QList<EntryRecord>& entries,
                                                  QStringList& notes)
{
    const storage::LoopListText text = storage::writeLoopList(storage::loopListFormatOf(path), entries);
    notes = text.notes;
    storage::WriteOutcome outcome;
    outcome.file = path;
    outcome.error = storage::writeLoopListFile(path, text.bytes);
    outcome.wrote = outcome.error.isEmpty();
    return outcome;
}

bool frmPlayList::readDrillList(const QString& path, storage::LoopList& list, bool& ok)
{
    // Read once to learn whether the media file must be asked for; then again with the
    // answer's media and margins.
    list = storage::readLoopListFile(path, ok);
    if (!ok) return true;  // the notes say why
    DrillDialog ask(path, list.needsMedia, this);
    if (ask.exec() != QDialog::Accepted) return false;
    storage::SubtitleImport how;
    how.media = ask.drill().media;
    how.leadIn = ask.drill().leadIn;
    how.tail = ask.drill().tail;
    // The last lyric line ends at the media's end, and no margin reaches past it.
    const QString media = !how.media.isEmpty() ? how.media : list.entries.value(0).FileName;
    if (!media.isEmpty()) how.mediaLength = engine::probeMedia(media).duration;
    list = storage::readLoopListFile(path, ok, how);
    applyDrill(ask.drill(), list.entries);
    return true;
}

bool frmPlayList::readLoopList(const QString& path, QList<EntryRecord>& entries)
{
    bool ok = false;
    storage::LoopList list;
    if (storage::isSubtitleFormat(storage::loopListFormatOf(path))) {
        if (!readDrillList(path, list, ok)) return false;
    } else {
        list = storage::readLoopListFile(path, ok);
    }
    QStringList notes = list.notes;
    // Labels made in a sound editor name a stretch, not a file: they all belong to one
    // media file, which the user names once.
    qsizetype unnamed = 0;
    for (const EntryRecord& e : list.entries) unnamed += !QFileInfo(e.FileName).isFile();
    if (ok && unnamed && storage::loopListFormatOf(path) == storage::LoopListFormat::AudacityLabels) {
        QString none;
        const QString media = services::OpenMediaFile(none, QString(), QStringLiteral("Media File of the Labels"),
                                                      QString(), QFileInfo(path).absolutePath());
        if (media.isEmpty()) return false;
        for (EntryRecord& e : list.entries)
            if (!QFileInfo(e.FileName).isFile()) e.FileName = media;
        notes << QStringLiteral("%1 of %2 labels name no file: they play %3, each label kept as its text.")
                     .arg(unnamed)
                     .arg(list.entries.size())
                     .arg(app::GetFileName(media));
    }
    if (ok && list.entries.isEmpty()) {
        notes << QStringLiteral("The file holds no entries.");
        ok = false;
    }
    if (!notes.isEmpty())
        services::MsgBox(notes.join(QLatin1Char('\n')), services::MsgButtons::OK,
                         ok ? services::MsgIcon::Information : services::MsgIcon::Exclamation,
                         ok ? QStringLiteral("Import") : QStringLiteral("Import Failed."), this);
    entries = list.entries;
    return ok;
}

void frmPlayList::DropFiles(const QStringList& paths)
{
    if (!showsPlayList()) {
        services::MsgBox(storage::noPlayListText(), services::MsgButtons::OK, services::MsgIcon::None, QString(), this);
        return;
    }
    const int before = m_grid->rowCount();
    for (const QString& path : paths) {
        if (storage::isListFile(path))
            ImportFile(path);
        else
            AddListEntry(path, 0, 0, 1, 1, true);
    }
    if (m_grid->rowCount() != before) SavePlayList();
}

QString frmPlayList::AskTargetPlayList(const QString& strCurrent)
{
    services::CustomMsgBoxParams params;
    params.Prompt = QStringLiteral("Would you like to add this file to\nan existing playlist or create\na new playlist?");
    params.Title = QStringLiteral("New Playlist?");
    params.Flags = services::msgFlags(services::MsgButtons::AbortRetryIgnore, services::MsgIcon::Question);
    params.Button1 = {QStringLiteral(" Existing "), services::kButtonStyleDefault, true};
    params.Button2 = {QStringLiteral(" Add New "), services::kButtonStyleDefault, true};
    params.Button3 = {QStringLiteral(" Cancel "), services::kButtonStyleCentred, true};
    params.Owner = this;
    switch (services::CustomMsgBox(params)) {
    case services::vbAbort: return strCurrent;
    case services::vbRetry:
        btnPlO_Click(0);
        return m_chooser->currentText();
    default: return {};
    }
}

// ---- Grid events --------------------------------------------------------------------

void frmPlayList::lstSelector_ItemClick(QTreeWidgetItem* item)
{
    if (item) m_grid->setToolTip(app::GetFileName(item->text(0)));
}

void frmPlayList::lstSelector_DblClick()
{
    const int row = m_grid->selectedRow();
    if (row == 0) return;
    const QString file = m_grid->rowTexts(row).value(0);
    if (!services::MediaFileFound(file, this)) return;
    playSelected(row, true);
}

void frmPlayList::lstSelector_RightPress(const QPoint& at)
{
    m_menu->popup(m_grid->viewport()->mapToGlobal(at));
}

// ---- Grabber, rate box, toggle --------------------------------------------------------

void frmPlayList::Timer1_Timer()
{
    // Nothing to show before a clip is loaded: not a position of 0.
    if (control()->FileName().isEmpty()) return;
    // Shown to the millisecond: finer digits are noise from the clock, not the file.
    m_txtCurPos->setText(numtext::format(std::round(control()->CurrentPosition() * 1000.0) / 1000.0));
    m_txtDuration->setText(numtext::format(control()->Duration()));
}

void frmPlayList::btnM1a_Click() { m_txtM1->setText(m_txtCurPos->text()); }
void frmPlayList::btnM2a_Click() { m_txtM2->setText(m_txtCurPos->text()); }

void frmPlayList::btnM1r_Click()
{
    if (const auto v = numtext::parse(m_txtM1->text())) control()->setCurrentPosition(*v);
}

void frmPlayList::btnM2r_Click()
{
    if (const auto v = numtext::parse(m_txtM2->text())) control()->setCurrentPosition(*v);
}

void frmPlayList::txtRate_LostFocus()
{
    // Tabbing through the panel passes the box without changing what plays.
    if (!m_rateTyped) return;
    m_rateTyped = false;
    const double r = numtext::parse(m_txtRate->text()).value_or(0.0);
    m_txtRate->setText(numtext::format(r));
    if (r != 0) control()->setRate(r);
}

void frmPlayList::showTrainerRate(double rate)
{
    // Not while the user types a rate of their own.
    if (m_txtRate->hasFocus()) return;
    m_txtRate->setText(numtext::format(rate));
    m_rateTyped = false;
}

void frmPlayList::imgEnabler_Click(int index)
{
    if (index != 0) return;
    const int height = [&] {
        if (m_shownPicture == m_pictures[2].cacheKey()) {
            m_timer1->setEnabled(true);
            m_imgEnabler0->setPixmap(m_pictures[1]);
            m_shownPicture = m_pictures[1].cacheKey();
            return twipsToPixels(kGrabberOpenHeight);
        }
        m_timer1->setEnabled(false);
        m_imgEnabler0->setPixmap(m_pictures[2]);
        m_shownPicture = m_pictures[2].cacheKey();
        return twipsToPixels(kGrabberFoldedHeight);
    }();
    m_framGrabber->resize(m_framGrabber->width(), height);
    Form_Resize();
}

bool frmPlayList::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_imgEnabler0 && event->type() == QEvent::MouseButtonRelease) {
        imgEnabler_Click(0);
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

// ---- Layout ---------------------------------------------------------------------------

void frmPlayList::applyMinimumWidth()
{
    const int frame = isVisible() ? frameGeometry().width() - width() : 0;
    setMinimumWidth(std::max(0, twipsToPixels(kMinOuterWidth) - frame));
}

void frmPlayList::Form_Resize()
{
    if (isMinimized()) return;
    const PanelLayout l = layoutPanel(services::pixelsToTwips(width()), services::pixelsToTwips(height() - m_barTop),
                                      services::pixelsToTwips(m_framGrabber->height()),
                                      services::pixelsToTwips(m_chooser->height()));
    const QRect frame = twipsRect(l.framPL.left(), l.framPL.top(), l.framPL.width(), l.framPL.height()).translated(0, m_barTop);
    m_framPL->setGeometry(frame.x(), frame.y(), frame.width(), frame.height() >= 0 ? frame.height() : m_framPL->height());
    // Sizes that come out negative are skipped: the control keeps its last size.
    if (l.gridHeight >= 0) m_grid->resize(m_grid->width(), twipsToPixels(l.gridHeight));
    if (l.gridWidth >= 0) m_grid->resize(twipsToPixels(l.gridWidth), m_grid->height());
    if (l.chooserWidth >= 0) m_chooser->resize(twipsToPixels(l.chooserWidth), m_chooser->height());
    m_btnMinus->move(twipsToPixels(l.minusLeft), m_btnMinus->y());
    m_btnPlus->move(twipsToPixels(l.plusLeft), m_btnPlus->y());
}

void frmPlayList::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    Form_Resize();
}

void frmPlayList::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    applyMinimumWidth();
}

void frmPlayList::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && isMinimized()) services::comeBackIfTakenAlong(this);
}

void frmPlayList::closeEvent(QCloseEvent* event)
{
    services::SaveFormPlacement(this);
    if (!app::blnPanelClosed) {
        hide();
        event->ignore();
        app::blnPanelClosed = true;
        return;
    }
    event->accept();
}

} // namespace panel
