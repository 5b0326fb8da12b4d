#include "windows/frmplayer.h"

#include "app/commandline.h"
#include "app/globals.h"
#include "engine/enginefactory.h"
#include "playback/enginecontrol.h"
#include "playback/entryplayer.h"
#include "playback/listplay.h"
#include "playback/livehear.h"
#include "playback/livestems.h"
#include "windows/stemsmenu.h"
#include "playback/liveloopkeys.h"
#include "playback/mediaplayer.h"
#include "playback/waveformbinding.h"
#include "windows/beatmenu.h"
#include "waveform/waveformview.h"
#include "services/droppedfiles.h"
#include "services/keldialogs.h"
#include "services/messages.h"
#include "services/placement.h"
#include "services/stacking.h"
#include "services/twips.h"
#include "services/windowstate.h"
#include "windows/artwork.h"
#include "windows/entrygrid.h"
#include "windows/forms.h"
#include "windows/frmabout.h"
#include "windows/frmlook.h"
#include "windows/frmplaylist.h"
#include "windows/keltray.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QMenuBar>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

namespace windows {

using playback::GetNextEntry;

frmPlayer::frmPlayer(QWidget* parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("frmPlayer"));
    setWindowTitle(QString::fromLatin1(app::kAppTitle));
    setWindowIcon(about::programIcon());
    setAcceptDrops(true);

    auto* client = new QWidget(this);
    auto* layout = new QVBoxLayout(client);
    // The picture fills the client area but for a thin strip at the bottom.
    layout->setContentsMargins(0, 0, 0, services::twipsToPixels(50));
    m_mediaPlayer = new playback::MediaPlayer(engine::makeEngine(), client);
    m_mediaPlayer->setObjectName(QStringLiteral("MediaPlayer1"));
    m_mediaPlayer->setAccessibleName(QStringLiteral("Player"));
    layout->addWidget(m_mediaPlayer);
    // Sound without pictures shows its waveform.
    auto* waveform = m_waveform = new waveform::WaveformView;
    waveform->setObjectName(QStringLiteral("Waveform"));
    waveform->setAccessibleName(QStringLiteral("Waveform"));
    waveform->setToolTip(QStringLiteral("Click to play from there; wheel or + and - zoom, drag or arrows move, 0 shows all"));
    m_mediaPlayer->setPictureStandIn(waveform);
    // The line (or label) of the entry heard, under the waveform or the video's picture.
    new playback::WaveformBinding(m_mediaPlayer->control(), waveform, this);
    setCentralWidget(client);
    resize(services::twipsSize(5250, 4695));

    m_playback = new playback::EntryPlayer(m_mediaPlayer->control(), this);
    connect(m_playback, &playback::EntryPlayer::fileNotFound, this, [this](const QString& path) { services::TellNotFound(path, this); });
    connect(m_playback, &playback::EntryPlayer::cannotPlay, this,
            [this](const QString& path, const QString& reason) { services::TellCannotPlay(path, reason, this); });
    connect(m_playback, &playback::EntryPlayer::textChanged, m_mediaPlayer, &playback::MediaPlayer::setLine);
    m_playback->setNextEntrySource([this] {
        m_outsideFile = false;
        panel::frmPlayList* panel = forms::frmPlayList();
        return GetNextEntry(*panel->lstSelector(), panel->CurrentID);
    });
    m_playback->setNextEntryPeek([](int ahead) {
        panel::frmPlayList* panel = forms::frmPlayList();
        return playback::PeekEntryAhead(*panel->lstSelector(), panel->CurrentID, ahead);
    });

    // A click on the title bar raises the player without telling it.
    connect(new services::StackingWatch(this), &services::StackingWatch::restacked, this, &frmPlayer::keepPanelInFront);
    m_tmrTrayIcon = new QTimer(this);
    m_tmrTrayIcon->setInterval(400);
    connect(m_tmrTrayIcon, &QTimer::timeout, this, &frmPlayer::tmrTrayIcon_Timer);
    connect(m_mediaPlayer, &playback::MediaPlayer::PlayStateChange, this, &frmPlayer::animateTray);
    m_tray = new TrayIcon(this);
    connect(m_tray, &TrayIcon::doubleClicked, this, &frmPlayer::showFromTray);
    connect(m_tray, &TrayIcon::contextRequested, this, &frmPlayer::openTrayMenu);

    buildMenus();
    m_endProcess = [] { QApplication::exit(0); };
    m_trayShows = [this] { return m_tray->isUp() && TrayIcon::available(); };
}

frmPlayer::~frmPlayer() = default;

void frmPlayer::buildMenus()
{
    struct Item { const char* caption; QKeySequence key; bool visible; };
    const Item file[10] = {{"", {}, false},
                           {"&Control Panel...", QKeySequence(Qt::Key_F8), true},
                           {"-", {}, true},
                           {"&Open...", QKeySequence(Qt::Key_F2), true},
                           {"-", {}, true},
                           {"hidden", {}, false},
                           {"-", {}, false},
                           {"File Properties...", QKeySequence(Qt::CTRL | Qt::Key_P), true},
                           {"-", {}, true},
                           {"E&xit", {}, true}};
    m_menuFile = menuBar()->addMenu(QStringLiteral("&File"));
    m_menuFile->setObjectName(QStringLiteral("MenuFile"));
    for (int i = 1; i <= 9; ++i) {
        const QString caption = QString::fromLatin1(file[i].caption);
        QAction* a = caption == "-" ? m_menuFile->addSeparator() : m_menuFile->addAction(caption);
        a->setShortcut(file[i].key);
        a->setVisible(file[i].visible);
        if (caption != "-")
            connect(a, &QAction::triggered, this, [this, i] {
                if (ownsMenuKeys()) MnuFile_Click(i);
            });
        m_mnuFile[i] = a;
    }
    m_liveKeys = new playback::LiveLoopKeys(m_playback, m_mediaPlayer->control(), this);
    m_liveKeys->setAccepting([this] {
        const QWidget* active = QApplication::activeWindow();
        return !active || active == this || (forms::hasPlayList() && active == forms::frmPlayList());
    });
    m_liveKeys->setList([] { return static_cast<playback::EntryList*>(forms::frmPlayList()->lstSelector()); },
                        [this] { return m_outsideFile ? 0 : int(forms::frmPlayList()->CurrentID); });
    m_liveKeys->setLineStep([this](int step) { stepLine(step); });
    m_liveKeys->setGrids([this](const QString& file) -> const beats::BeatGrid* {
        const beats::BeatSource* b = m_waveform->beats();
        return b->file() == file && !b->grid().empty() ? &b->grid() : nullptr;
    });
    connect(m_liveKeys, &playback::LiveLoopKeys::changed, this,
            [](const playback::LiveChange& change) { forms::frmPlayList()->WriteLiveChange(change); });
    m_menuLoop = menuBar()->addMenu(QStringLiteral("&Loop"));
    m_menuLoop->setObjectName(QStringLiteral("MenuLoop"));
    for (QAction* a : m_liveKeys->actions()) {
        if (a) m_menuLoop->addAction(a);
        else m_menuLoop->addSeparator();
    }

    // Corrections go to the waveform's file; a bar starts where the player is.
    menuBar()->addMenu(new BeatMenu(
        m_waveform, m_liveKeys->snapAction(),
        [this] {
            playback::EngineControl* c = m_mediaPlayer->control();
            return c->FileName() == m_waveform->beats()->file() ? c->CurrentPosition() : -1.0;
        },
        [this] { return m_mediaPlayer->control()->Rate(); }, this));
    m_liveHear = new playback::LiveHear(m_playback, m_mediaPlayer->control(), this);
    m_liveHear->setAccepting([this] {
        const QWidget* active = QApplication::activeWindow();
        return !active || active == this || (forms::hasPlayList() && active == forms::frmPlayList());
    });
    m_liveHear->setList([] { return static_cast<playback::EntryList*>(forms::frmPlayList()->lstSelector()); },
                        [this] { return m_outsideFile ? 0 : int(forms::frmPlayList()->CurrentID); });
    connect(m_liveHear, &playback::LiveHear::rowChanged, this, [] { forms::frmPlayList()->SavePlayList(); });
    QMenu* hear = menuBar()->addMenu(QStringLiteral("H&ear"));
    hear->setObjectName(QStringLiteral("MenuHear"));
    for (QAction* a : m_liveHear->actions()) {
        if (a) hear->addAction(a);
        else hear->addSeparator();
    }
    connect(hear, &QMenu::aboutToShow, m_liveHear, &playback::LiveHear::sync);
    m_liveStems = new playback::LiveStems(m_playback, this);
    m_liveStems->setList([] { return static_cast<playback::EntryList*>(forms::frmPlayList()->lstSelector()); },
                         [this] { return m_outsideFile ? 0 : int(forms::frmPlayList()->CurrentID); });
    connect(m_liveStems, &playback::LiveStems::rowChanged, this, [] { forms::frmPlayList()->SavePlayList(); });
    auto* stemsMenu = new StemsMenu(m_liveStems, this);
    menuBar()->addMenu(stemsMenu);
    auto* openStems = new QAction(QStringLiteral("Stems"), this);
    openStems->setShortcut(StemsMenu::kKey);
    connect(openStems, &QAction::triggered, this, [this, stemsMenu] { menuBar()->setActiveAction(stemsMenu->menuAction()); });
    addAction(openStems);

    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("MenuHelp"));
    QAction* about = help->addAction(QStringLiteral("&About"));
    about->setObjectName(QStringLiteral("MenuAbout"));
    connect(about, &QAction::triggered, this, &frmPlayer::MenuAbout_Click);

    // Never in the menu bar: it pops up from the tray icon.
    m_menuTray = new QMenu(QStringLiteral("MenuTray"), this);
    m_menuTray->setObjectName(QStringLiteral("MenuTrayControl"));
    const char* const tray[10] = {"",       "Sho&w", "-",      "Play &List", "Loop &Current Item", "-",
                                  "&Pause", "&Stop", "-",      "Cancel"};
    for (int i = 1; i <= 9; ++i) {
        const QString caption = QString::fromLatin1(tray[i]);
        if (caption == "-") {
            m_menuTray->addSeparator();
            continue;
        }
        QAction* a = m_menuTray->addAction(caption);
        connect(a, &QAction::triggered, this, [this, i] { mnuTray_Click(i); });
    }
}

void frmPlayer::InitPlayer(const QString& commandLine)
{
    app::InitPaths();
    app::blnPanelClosed = false;
    setWindowTitle(app::versionCaption());
    // Where the panel is kept over the player and placed by it only if mapped after it,
    // it waits for the player's first show.
    if (!services::mapsOwnedAfterOwner()) ShowControlPanel();
    if (!commandLine.isEmpty()) OpenCommandLine(commandLine);
    services::RestoreFormPlacement(this);
    // Without a notification area the program runs on without an icon, and minimising
    // leaves the window where the task bar can bring it back.
    if (TrayIcon::available()) {
        m_tray->AddTrayIcon(QString::fromLatin1(app::kAppTitle), windowIcon());
        m_hideOnMinimise = true;
    }
    forms::frmPlayList()->showPlayerButton(!hidesOnMinimise());
}

bool frmPlayer::hidesOnMinimise() const
{
    // The tray host may have gone since: hidden then, the window could not come back.
    return m_hideOnMinimise && m_trayShows();
}

void frmPlayer::ShowControlPanel()
{
    app::blnPanelClosed = false;
    // Where the panel is a free window (Wayland) it may lie under the player, and only a new
    // map puts it on top there.
    if (services::bringBackRemaps())
        services::bringBack(forms::frmPlayList());
    else
        services::bringToFront(forms::frmPlayList());
    services::restoreMinimised(forms::editWindow());
}

bool frmPlayer::ownsMenuKeys() const
{
    // Qt hands a tool window's keys on to its owner: the control panel's F2 would open a
    // file here.
    const QWidget* active = QApplication::activeWindow();
    return !active || active == this;
}

void frmPlayer::restoreOwnedWindows()
{
    if (forms::hasPlayList()) services::restoreMinimised(forms::frmPlayList());
    services::restoreMinimised(forms::editWindow());
}

void frmPlayer::keepPanelInFront()
{
    if (!forms::hasPlayList()) return;
    panel::frmPlayList* panel = forms::frmPlayList();
    if (!panel->isVisible() || panel->isMinimized()) return;
    // Where the desktop tells its stacking, only a panel that fell behind is raised: a
    // raise changes the stacking again.
    const std::vector<quint32> order = services::stackingOrder();
    if (order.empty() || services::liesBelow(order, quint32(panel->winId()), quint32(winId()))) panel->raise();
    // A message box stays over the panel: its buttons must not hide under it.
    QWidget* modal = QApplication::activeModalWidget();
    if (modal && modal != panel &&
        (order.empty() || services::liesBelow(order, quint32(modal->winId()), quint32(panel->winId()))))
        modal->raise();
}

void frmPlayer::PlayPosition(const QString& strFileName, const QString& strStart, const QString& strEnd,
                             const QString& strRate, const QString& strLoops, bool ynDoLoop,
                             const PracticeSettings& practice, const QString& text)
{
    m_outsideFile = false;
    m_playback->PlayPosition(strFileName, strStart, strEnd, strRate, strLoops, ynDoLoop, practice, text);
}

void frmPlayer::stepLine(int step)
{
    panel::frmPlayList* panel = forms::frmPlayList();
    panel::EntryGrid* grid = panel->lstSelector();
    if (grid->rowCount() < 1) return;
    grid->selectRow(playback::steppedRow(panel->CurrentID, grid->rowCount(), step));
    panel->MnuRightClick_Click(m_playback->endless() ? 2 : 1);
}

void frmPlayer::OpenCommandLine(const QString& commandLine) { OpenFile(app::commandLinePath(commandLine)); }

playback::EngineControl* frmPlayer::engineControl() const { return m_mediaPlayer->control(); }

int frmPlayer::entryCount() const { return forms::frmPlayList()->lstSelector()->rowCount(); }

int frmPlayer::currentEntry() const { return forms::frmPlayList()->CurrentID; }

void frmPlayer::playEntry(int row, bool loop)
{
    panel::frmPlayList* panel = forms::frmPlayList();
    panel->lstSelector()->selectRow(row);
    panel->MnuRightClick_Click(loop ? 2 : 1);
}

void frmPlayer::stopEntries() { forms::frmPlayList()->MnuRightClick_Click(11); }

void frmPlayer::OpenFile(const QString& path)
{
    // A playlist file opened from the desktop is imported, as the grid's "Import..." does.
    if (QFileInfo(path).suffix().compare(QLatin1String("obs"), Qt::CaseInsensitive) == 0) {
        // Asked once the windows are up: at start-up they are not yet.
        QTimer::singleShot(0, this, [this, path] {
            ShowControlPanel();
            forms::frmPlayList()->ImportFile(path);
        });
        return;
    }
    PlayPosition(path, QStringLiteral("0"), QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("1"), false);
    m_outsideFile = true;
}

void frmPlayer::dragEnterEvent(QDragEnterEvent* event) { services::acceptFiles(event); }

// One file plays; the grid is the place to drop many.
void frmPlayer::dropEvent(QDropEvent* event)
{
    if (services::acceptFiles(event)) OpenFile(services::droppedFiles(event->mimeData()).first());
}

// ---- Menus --------------------------------------------------------------------------

void frmPlayer::MnuFile_Click(int index)
{
    switch (index) {
    case 1: ShowControlPanel(); break;
    case 3: {
        QString name;
        OpenFile(services::OpenMediaFile(name, QString(), QStringLiteral("File to open"), QString(), QString()));
        break;
    }
    case 7: FileProperties(); break;
    case 9:
        app::blnPanelClosed = true;
        close();
        break;
    default: break;
    }
}

void frmPlayer::MenuAbout_Click()
{
    about::frmAbout* box = forms::frmAbout();
    box->show();
    box->raise();
    box->activateWindow();
}

QString frmPlayer::propertiesText() const
{
    struct Line { const char* label; int kind; };
    static const Line lines[12] = {{"File Name         :", 0},  {"Clip Author       :", 9},
                                   {"Clip Copyright    :", 10}, {"Clip Description  :", 12},
                                   {"Show Author       :", 2},  {"Show Copyright    :", 3},
                                   {"Show Description  :", 5},  {"Show Rating       :", 4},
                                   {"Show Title        :", 1},  {"Watermark         :", 16},
                                   {"Banner Image      :", 14}, {"Banner More Info: ", 15}};
    QString text;
    for (const Line& line : lines) {
        const QString value = line.kind == 0 ? m_mediaPlayer->control()->FileName() : m_mediaPlayer->GetMediaInfoString(line.kind);
        text += QString::fromLatin1(line.label) + value + QStringLiteral("\r\n");
    }
    return text;
}

void frmPlayer::FileProperties()
{
    const QString text = propertiesText();
    const bool opening = !forms::hasLook();
    frmLook* look = forms::frmLook();
    // A new viewer opens over the player window, not wherever the desktop puts it, and
    // wholly on the screen. Its frame is not known before it is shown: allow for a title bar.
    if (opening) {
        const QSize frame = frameGeometry().size() - size();
        look->move(services::centredOver(this, look->size() + frame));
    }
    look->SetLook(text);
    services::bringToFront(look);
}

// ---- Tray ---------------------------------------------------------------------------

void frmPlayer::tmrTrayIcon_Timer()
{
    ++mintTrayFrame;
    if (mintTrayFrame == 0 || mintTrayFrame > TrayIcon::kFrames) mintTrayFrame = 1;
    QString tip;
    panel::EntryGrid* grid = forms::frmPlayList()->lstSelector();
    if (const int row = grid->selectedRow())
        tip = QStringLiteral("Vamplet: ") + app::GetFileName(grid->rowTexts(row).value(0));
    m_tray->UpdateTrayIcon(mintTrayFrame, tip);
}

void frmPlayer::showFromTray()
{
    services::bringBack(this);
    // The player mapped afresh comes on top: the panel, mapped again after it, stays over it.
    if (services::bringBackRemaps() && forms::hasPlayList() && forms::frmPlayList()->isVisible()) {
        forms::frmPlayList()->hide();
        forms::frmPlayList()->show();
    }
    restoreOwnedWindows();
}

void frmPlayer::openTrayMenu()
{
    raise();
    activateWindow();
    if (m_menuTray->isVisible()) return;
    m_menuTray->popup(QCursor::pos());
}

void frmPlayer::mnuTray_Click(int index)
{
    switch (index) {
    case 1: showFromTray(); break;
    case 3: forms::frmPlayList()->TrayControl(0); break;
    case 4: forms::frmPlayList()->TrayControl(1); break;
    case 6: m_mediaPlayer->control()->Pause(); break;
    case 7: m_mediaPlayer->control()->Stop(); break;
    default: break;
    }
}

// ---- Window events ------------------------------------------------------------------

void frmPlayer::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange) Form_Resize();
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) keepPanelInFront();
}

void frmPlayer::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (!m_placedWithFrame) {
        // Before the window manager framed the window its frame was unknown, and some
        // managers then take the stored place for the inner window: the title bar ends up
        // above the screen. Once framed, the same place is applied to the frame.
        m_placedWithFrame = true;
        const QPoint wanted = pos();
        QTimer::singleShot(150, this, [this, wanted] {
            if (isVisible() && frameGeometry().topLeft() != wanted) move(wanted);
        });
        // The start-up window takes the keyboard from the panel shown before it: with the
        // panel active, a minimise of the player read as the panel's, taking the player along,
        // and the player came back at once.
        activateWindow();
        // Queued: the player's own surface is made only after this event.
        if (services::mapsOwnedAfterOwner())
            QTimer::singleShot(0, this, [this] {
                if (!app::blnPanelClosed) ShowControlPanel();
            });
    }
    Form_Resize();
}

void frmPlayer::Form_Resize()
{
    // A hidden window put back to the normal state is not a resize the user made: the
    // tray animation goes on until the window is shown again.
    if (!isVisible()) return;
    if (windowState() & Qt::WindowMinimized) {
        // Only the window minimised goes; it comes back through F8 or the tray.
        if (services::comeBackIfTakenAlong(this)) return;
        m_minimised = true;
        animateTray();
        // Hidden once the minimise is done: hidden inside it, the window stayed mapped.
        // The normal state comes back with showFromTray(): set on the hidden window, it
        // maps the window again. Without a tray icon nothing could bring it back: the
        // window stays minimised, and the panel offers the way back.
        const bool toTray = hidesOnMinimise();
        if (forms::hasPlayList()) forms::frmPlayList()->showPlayerButton(!toTray);
        if (toTray)
            QTimer::singleShot(0, this, [this] {
                if (isMinimized()) hide();
            });
    } else {
        m_minimised = false;
        animateTray();
    }
}

void frmPlayer::animateTray()
{
    const bool wanted = m_minimised && m_mediaPlayer->control()->PlayState() == engine::PlayState::Playing;
    if (wanted == m_tmrTrayIcon->isActive()) return;
    if (wanted) {
        m_tmrTrayIcon->start();
    } else {
        m_tmrTrayIcon->stop();
        mintTrayFrame = 0;
        m_tray->UpdateTrayIcon(0, QString());
    }
}

void frmPlayer::closeEvent(QCloseEvent* event)
{
    Form_Unload();
    event->accept();
}

void frmPlayer::Form_Unload()
{
    if (m_unloaded) return;
    m_unloaded = true;
    app::blnPanelClosed = true;
    m_tray->RemoveTrayIcon();
    m_playback->stopPlayback();
    m_mediaPlayer->control()->setFileName(QString());
    services::SaveFormPlacement(this);
    if (m_endProcess) m_endProcess();
}

} // namespace windows
