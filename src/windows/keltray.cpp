#include "windows/keltray.h"

#include <QPainter>
#include <QPixmap>
#include <QSystemTrayIcon>

namespace windows {

QIcon trayFrame(int number)
{
    // A ring with a bright dot running round it: the loop, going round.
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(40, 90, 160), 2));
    p.drawEllipse(QRectF(2, 2, 12, 12));
    const double angle = (number - 1) * 60.0 * M_PI / 180.0;
    const QPointF dot(8 + 6 * std::sin(angle), 8 - 6 * std::cos(angle));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(240, 160, 30));
    p.drawEllipse(dot, 2.6, 2.6);
    return QIcon(pm);
}

TrayIcon::TrayIcon(QObject* parent) : QObject(parent)
{
    for (int i = 0; i < kFrames; ++i) m_frames[i] = trayFrame(i + 1);
}

TrayIcon::~TrayIcon() = default;

bool TrayIcon::available() { return QSystemTrayIcon::isSystemTrayAvailable(); }

void TrayIcon::AddTrayIcon(const QString& strTip, const QIcon& picIcon)
{
    m_still = picIcon;
    if (!m_icon) {
        m_icon = new QSystemTrayIcon(this);
        connect(m_icon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason why) {
            if (why == QSystemTrayIcon::DoubleClick) emit doubleClicked();
            else if (why == QSystemTrayIcon::Context) emit contextRequested();
        });
    }
    m_image = 0;
    m_tip = strTip.left(kMaxTip);
    m_icon->setIcon(m_still);
    m_icon->setToolTip(m_tip);
    m_icon->show();
}

void TrayIcon::RemoveTrayIcon()
{
    if (m_icon) m_icon->hide();
}

bool TrayIcon::isUp() const { return m_icon && m_icon->isVisible(); }

void TrayIcon::UpdateTrayIcon(int intImage, const QString& strTip)
{
    if (!strTip.isEmpty()) m_tip = strTip.left(kMaxTip);
    if (intImage <= kFrames) m_image = intImage < 1 ? 0 : intImage;
    if (!m_icon) return;
    m_icon->setToolTip(m_tip);
    m_icon->setIcon(m_image == 0 ? m_still : m_frames[m_image - 1]);
}

} // namespace windows
