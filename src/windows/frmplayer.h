#pragma once
// The player window: hosts the media player, owns entry playback, the tray icon and the
// File and Help menus, and is the program's start-up and shutdown.
#include "app/practice.h"
#include "desktop/remotehost.h"

#include <QMainWindow>
#include <functional>

class QAction;
class QMenu;
class QTimer;

namespace waveform { class WaveformView; }
namespace playback { class EntryPlayer; class LiveHear; class LiveLoopKeys; class LiveStems; class MediaPlayer; }
namespace windows {

class TrayIcon;

class frmPlayer : public QMainWindow, public desktop::RemoteHost {
    Q_OBJECT
public:
    explicit frmPlayer(QWidget* parent = nullptr);
    ~frmPlayer() override;

    // The desktop's media controls.
    playback::EngineControl* engineControl() const override;
    playback::EntryPlayer* entryPlayback() const override { return m_playback; }
    int entryCount() const override;
    int currentEntry() const override;
    void playEntry(int row, bool loop) override;
    void stopEntries() override;
    void openOutsideFile(const QString& path) override { OpenFile(path); }
    void showPlayer() override { showFromTray(); }
    void quitProgram() override { MnuFile_Click(9); }

    // Start-up: paths, caption, the control panel, the command line, placement, tray.
    void InitPlayer(const QString& commandLine);

    // Shows the control panel (creating it on first use), owned by this window.
    void ShowControlPanel();

    void PlayPosition(const QString& strFileName, const QString& strStart, const QString& strEnd,
                      const QString& strRate, const QString& strLoops, bool ynDoLoop,
                      const PracticeSettings& practice = {}, const QString& text = {});
    // Plays the list's row `step` rows on from the cursor (back where negative), wrapping,
    // in the mode that was playing (looped or counted).
    void stepLine(int step) override;

    // Plays a file whole, as File > Open does.
    void OpenFile(const QString& path);

    // Menus.
    void MnuFile_Click(int index);
    void MenuAbout_Click();
    void mnuTray_Click(int index);
    void FileProperties();
    // The twelve labelled lines of the loaded file's properties.
    QString propertiesText() const;

    // Tray.
    void tmrTrayIcon_Timer();
    void showFromTray();
    void openTrayMenu();
    int mintTrayFrame = 0;

    playback::MediaPlayer* MediaPlayer1() const { return m_mediaPlayer; }
    playback::EntryPlayer* playback() const { return m_playback; }
    playback::LiveLoopKeys* liveKeys() const { return m_liveKeys; }
    playback::LiveHear* liveHear() const { return m_liveHear; }
    playback::LiveStems* liveStems() const { return m_liveStems; }
    QMenu* MenuLoop() const { return m_menuLoop; }
    // Whether what plays came from outside the list (File > Open, the command line, a
    // drop) and so has no row until the list goes on.
    bool playsOutsideFile() const { return m_outsideFile; }
    QTimer* tmrTrayIcon() const { return m_tmrTrayIcon; }
    TrayIcon* tray() const { return m_tray; }
    QMenu* MenuFile() const { return m_menuFile; }
    QMenu* MenuTrayControl() const { return m_menuTray; }
    QAction* MnuFile(int index) const { return m_mnuFile[index]; }

    // What ends the process after shutdown; tests replace it.
    void setProcessEnd(std::function<void()> end) { m_endProcess = std::move(end); }
    // Whether minimising hides the window (only when a tray icon can bring it back).
    void setHideOnMinimise(bool hide) { m_hideOnMinimise = hide; }
    // Whether a minimise now hides the window: a tray icon is up to bring it back.
    bool hidesOnMinimise() const;
    // Whether the tray icon shows now; tests replace it.
    void setTrayShows(std::function<bool()> shows) { m_trayShows = std::move(shows); }

protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void buildMenus();
    bool ownsMenuKeys() const;
    void restoreOwnedWindows();
    void keepPanelInFront();
    void OpenCommandLine(const QString& commandLine);
    void Form_Resize();
    void Form_Unload();
    // The icon moves only while the window is away and something plays; still, it shows
    // the program's own icon.
    void animateTray();

    playback::MediaPlayer* m_mediaPlayer;
    playback::EntryPlayer* m_playback;
    playback::LiveLoopKeys* m_liveKeys = nullptr;
    waveform::WaveformView* m_waveform = nullptr;
    playback::LiveHear* m_liveHear = nullptr;
    playback::LiveStems* m_liveStems = nullptr;
    QMenu* m_menuLoop = nullptr;
    bool m_outsideFile = false;
    QTimer* m_tmrTrayIcon;
    bool m_minimised = false;  // since the last minimise, until the window is restored
    TrayIcon* m_tray;
    QMenu* m_menuFile = nullptr;
    QMenu* m_menuTray = nullptr;
    QAction* m_mnuFile[10] = {};
    std::function<void()> m_endProcess;
    std::function<bool()> m_trayShows;
    bool m_hideOnMinimise = false;
    bool m_unloaded = false;
    bool m_placedWithFrame = false;
};

} // namespace windows
