#pragma once
// The player window: hosts the media player, owns entry playback, and is the program's
// start-up and shutdown.
#include <QMainWindow>
#include <functional>

class QTimer;

namespace player {

class EntryPlayer;
class MediaPlayer;

class frmPlayer : public QMainWindow {
    Q_OBJECT
public:
    explicit frmPlayer(QWidget* parent = nullptr);
    ~frmPlayer() override;

    // Start-up: paths, caption, the control panel, the command line, placement, tray.
    void InitPlayer(const QString& commandLine);

    // Shows the control panel (creating it on first use), owned by this window.
    void ShowControlPanel();

    void PlayPosition(const QString& strFileName, const QString& strStart, const QString& strEnd,
                      const QString& strRate, const QString& strLoops, bool ynDoLoop);

    MediaPlayer* MediaPlayer1() const { return m_mediaPlayer; }
    EntryPlayer* playback() const { return m_playback; }
    QTimer* tmrTrayIcon() const { return m_tmrTrayIcon; }

    // What ends the process after shutdown; tests replace it.
    void setProcessEnd(std::function<void()> end) { m_endProcess = std::move(end); }
    // Whether minimising hides the window (only when a tray icon can bring it back).
    void setHideOnMinimise(bool hide) { m_hideOnMinimise = hide; }

protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void OpenCommandLine(const QString& commandLine);
    void Form_Resize();
    void Form_Unload();

    MediaPlayer* m_mediaPlayer;
    EntryPlayer* m_playback;
    QTimer* m_tmrTrayIcon;
    std::function<void()> m_endProcess;
    bool m_hideOnMinimise = false;
    bool m_unloaded = false;
};

} // namespace player
