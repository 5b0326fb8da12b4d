#include "player/frmplayer.h"

#include "app/commandline.h"
#include "app/forms.h"
#include "panel/entrygrid.h"
#include "panel/frmplaylist.h"
#include "player/listplay.h"
#include "app/globals.h"
#include "player/enginefactory.h"
#include "player/entryplayer.h"
#include "player/mediaplayer.h"
#include "services/placement.h"
#include "services/twips.h"

#include <QApplication>
#include <QCloseEvent>
#include <QTimer>
#include <QVBoxLayout>

namespace player {

frmPlayer::frmPlayer(QWidget* parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("frmPlayer"));
    setWindowTitle(QString::fromLatin1(app::kAppTitle));

    auto* client = new QWidget(this);
    auto* layout = new QVBoxLayout(client);
    // The picture fills the client area but for a thin strip at the bottom.
    layout->setContentsMargins(0, 0, 0, services::twipsToPixels(50));
    m_mediaPlayer = new MediaPlayer(makeEngine(), client);
    m_mediaPlayer->setObjectName(QStringLiteral("MediaPlayer1"));
    layout->addWidget(m_mediaPlayer);
    setCentralWidget(client);
    resize(services::twipsSize(5250, 4695));

    m_playback = new EntryPlayer(m_mediaPlayer, this, this);
    m_playback->setNextEntrySource([] {
        panel::frmPlayList* panel = forms::frmPlayList();
        return GetNextEntry(*panel->lstSelector(), panel->CurrentID);
    });

    m_tmrTrayIcon = new QTimer(this);
    m_tmrTrayIcon->setInterval(400);

    m_endProcess = [] { QApplication::exit(0); };
}

frmPlayer::~frmPlayer() = default;

void frmPlayer::InitPlayer(const QString& commandLine)
{
    app::InitPaths();
    app::blnPanelClosed = false;
    setWindowTitle(app::versionCaption());
    ShowControlPanel();
    if (!commandLine.isEmpty()) OpenCommandLine(commandLine);
    services::RestoreFormPlacement(this);
}

void frmPlayer::ShowControlPanel()
{
    app::blnPanelClosed = false;
    panel::frmPlayList* panel = forms::frmPlayList();
    panel->show();
    panel->raise();
}

void frmPlayer::PlayPosition(const QString& strFileName, const QString& strStart, const QString& strEnd,
                             const QString& strRate, const QString& strLoops, bool ynDoLoop)
{
    m_playback->PlayPosition(strFileName, strStart, strEnd, strRate, strLoops, ynDoLoop);
}

void frmPlayer::OpenCommandLine(const QString& commandLine)
{
    PlayPosition(app::commandLinePath(commandLine), QStringLiteral("0"), QStringLiteral("0"), QStringLiteral("1"),
                 QStringLiteral("1"), false);
}

void frmPlayer::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange) Form_Resize();
}

void frmPlayer::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    Form_Resize();
}

void frmPlayer::Form_Resize()
{
    // A hidden window put back to the normal state is not a resize the user made: the
    // tray animation goes on until the window is shown again.
    if (!isVisible()) return;
    if (windowState() & Qt::WindowMinimized) {
        m_tmrTrayIcon->start();
        // Without a tray icon nothing could bring a hidden window back.
        if (m_hideOnMinimise) {
            hide();
            setWindowState(windowState() & ~Qt::WindowMinimized);
        }
    } else {
        m_tmrTrayIcon->stop();
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
    m_playback->stopPlayback();
    m_mediaPlayer->setFileName(QString());
    services::SaveFormPlacement(this);
    if (m_endProcess) m_endProcess();
}

} // namespace player
