#pragma once
// The notification-area icon: a still icon, six animation frames and a tip.
#include <QIcon>
#include <QObject>
#include <QString>

class QSystemTrayIcon;
class QMenu;

namespace windows {

class TrayIcon : public QObject {
    Q_OBJECT
public:
    explicit TrayIcon(QObject* parent = nullptr);
    ~TrayIcon() override;

    // Whether the desktop has a notification area to put the icon in.
    static bool available();

    void AddTrayIcon(const QString& strTip, const QIcon& picIcon);
    void RemoveTrayIcon();
    // An empty tip keeps the tip shown; an image below 1 shows the still icon, 1 to 6 a
    // frame, anything beyond leaves the icon as it was.
    void UpdateTrayIcon(int intImage, const QString& strTip);

    bool isUp() const;
    QString tip() const { return m_tip; }
    int image() const { return m_image; }
    QSystemTrayIcon* icon() const { return m_icon; }

    static constexpr int kFrames = 6;
    // The platform shows no more of a tip than this.
    static constexpr int kMaxTip = 63;

signals:
    void doubleClicked();
    void contextRequested();

private:
    QSystemTrayIcon* m_icon = nullptr;
    QIcon m_still;
    QIcon m_frames[kFrames];
    QString m_tip;
    int m_image = 0;
};

// The six animation frames, drawn here.
QIcon trayFrame(int number);

} // namespace windows
