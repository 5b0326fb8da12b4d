#include "windows/frmlook.h"

#include "services/titlebar.h"
#include "services/twips.h"

#include <QFontDatabase>
#include <QLabel>
#include <QPushButton>

namespace windows {

frmLook::frmLook(QWidget* owner) : QDialog(owner, Qt::Tool | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("frmLook"));
    // A blank caption: an empty one makes the platform show the program's name.
    setWindowTitle(QStringLiteral(" "));
    setFixedSize(services::twipsSize(7020, 4185));
    m_lblLook = new QLabel(this);
    m_lblLook->setGeometry(services::twipsRect(0, 0, 6975, 4095));
    m_lblLook->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_lblLook->setTextFormat(Qt::PlainText);
    m_lblLook->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_lblLook->setContentsMargins(4, 4, 0, 0);
    // Courier New, or a face with its metrics.
    QFont mono(QFontDatabase::hasFamily(QStringLiteral("Courier New")) ? QStringLiteral("Courier New")
                                                                      : QStringLiteral("Liberation Mono"));
    mono.setStyleHint(QFont::TypeWriter);
    mono.setFixedPitch(true);
    if (!QFontInfo(mono).fixedPitch()) mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPointSizeF(8.25);
    m_lblLook->setFont(mono);
    // Never seen: it only gives Esc something to press.
    m_cmdEscape = new QPushButton(QStringLiteral("close"), this);
    m_cmdEscape->setGeometry(services::twipsRect(-1020, 1920, 495, 615));
    m_cmdEscape->setAutoDefault(false);
    connect(m_cmdEscape, &QPushButton::clicked, this, &frmLook::cmdEscape_Click);
    services::addOwnTitleBar(this);
}

void frmLook::SetLook(const QString& strLook)
{
    m_text = strLook;
    QString shown = strLook;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    m_lblLook->setText(shown);
}

void frmLook::reject() { cmdEscape_Click(); }

void frmLook::cmdEscape_Click()
{
    hide();
    if (QWidget* owner = parentWidget()) owner->activateWindow();
    deleteLater();
}

} // namespace windows
