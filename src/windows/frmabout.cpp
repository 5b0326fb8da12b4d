#include "windows/frmabout.h"

#include "app/globals.h"
#include "services/messages.h"
#include "services/titlebar.h"
#include "services/twips.h"
#include "windows/artwork.h"
#include "windows/sysinfo.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTimer>
#include <QUrl>

using services::twipsRect;
using services::twipsToPixels;

namespace about {
namespace {

// One dot per tick keeps the animation light; the eye does not need more.
constexpr int kDotIntervalMs = 10;

std::function<void()>& beepHandler()
{
    static std::function<void()> handler;
    return handler;
}

void beep()
{
    if (beepHandler()) beepHandler()();
    else QApplication::beep();
}

double pointsToPixels(double points) { return points * services::screenDpi() / 72.0; }
double pixelsToPoints(double pixels) { return pixels * 72.0 / services::screenDpi(); }

QWidget* filledArea(QWidget* area, QPalette::ColorRole background)
{
    QPalette pal = area->palette();
    pal.setColor(QPalette::Window, pal.color(background));
    area->setPalette(pal);
    area->setAutoFillBackground(true);
    // A click on an area that has no handler of its own is not a click on the window.
    area->setAttribute(Qt::WA_NoMousePropagation);
    return area;
}

// The drawing area shows the picture the dots are drawn into, so that they stay between ticks.
class DrawingArea : public QWidget {
public:
    DrawingArea(const QImage& picture, QWidget* parent) : QWidget(parent), m_picture(picture) {}

protected:
    void paintEvent(QPaintEvent* event) override
    {
        QPainter p(this);
        p.drawImage(event->rect(), m_picture, event->rect());
    }

private:
    const QImage& m_picture;
};

// The etched separator along the top of the button area.
class EtchedArea : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setPen(QPen(QColor(128, 128, 128), 1));
        p.drawLine(twipsToPixels(0), twipsToPixels(30), twipsToPixels(5564), twipsToPixels(30));
        // The 2-pixel white line lies just below the grey one, not on it, for the etched look.
        const int left = twipsToPixels(15);
        p.fillRect(left, twipsToPixels(45), twipsToPixels(5564) - left + 1, 2, Qt::white);
    }
};

bool isClick(QEvent* event, QWidget* on)
{
    if (event->type() != QEvent::MouseButtonRelease) return false;
    const auto* mouse = static_cast<QMouseEvent*>(event);
    return mouse->button() == Qt::LeftButton && on->rect().contains(mouse->position().toPoint());
}

} // namespace

QString userGuidePath()
{
    const QString bin = QCoreApplication::applicationDirPath();
    const QStringList places{bin + QStringLiteral("/../share/doc/vamplet/README.md"),
                             QStringLiteral("/usr/share/doc/vamplet/README.md"),
#ifdef VAMPLET_SOURCE_DIR
                             QStringLiteral(VAMPLET_SOURCE_DIR "/README.md"),
#endif
                             bin + QStringLiteral("/README.md")};
    for (const QString& place : places)
        if (QFileInfo(place).isFile()) return QFileInfo(place).canonicalFilePath();
    return {};
}

QString versionLine(int major, int minor)
{
    return QStringLiteral("Version %1.%2").arg(major).arg(minor);
}

QColor QBColor(int number)
{
    static const QColor palette[16] = {
        {0, 0, 0},       {0, 0, 128},   {0, 128, 0},   {0, 128, 128}, {128, 0, 0},   {128, 0, 128},
        {128, 128, 0},   {192, 192, 192}, {128, 128, 128}, {0, 0, 255}, {0, 255, 0}, {0, 255, 255},
        {255, 0, 0},     {255, 0, 255}, {255, 255, 0}, {255, 255, 255},
    };
    return (number >= 0 && number < 16) ? palette[number] : QColor(0, 0, 0);
}

void setBeepHandler(std::function<void()> handler) { beepHandler() = std::move(handler); }

frmAbout::frmAbout(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("frmAbout"));
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(services::twipsSize(5730, 3825));
    setWindowIcon(programIcon());
    // The geometry is laid out for text of this size.
    QFont small = font();
    small.setPointSizeF(8.25);
    setFont(small);
    m_random = [] { return QRandomGenerator::global()->generateDouble(); };

    // Made first so that it lies behind the other areas.
    m_picture1 = filledArea(new DrawingArea(m_drawing, this), QPalette::Midlight);
    m_picture1->setObjectName(QStringLiteral("Picture1"));
    m_picture1->setGeometry(twipsRect(0, 0, 5775, 3615));
    m_picture1->installEventFilter(this);
    m_drawing = QImage(m_picture1->size(), QImage::Format_RGB32);
    clearDrawing();

    m_picIcon = new QLabel(this);
    m_picIcon->setObjectName(QStringLiteral("picIcon"));
    const QPixmap picture = programPicture();
    m_picIcon->setPixmap(picture);
    m_picIcon->setGeometry(QRect(twipsRect(360, 240, 900, 1185).topLeft(), picture.size()));
    m_picIcon->setCursor(Qt::PointingHandCursor);
    m_picIcon->setAttribute(Qt::WA_NoMousePropagation);
    m_picIcon->installEventFilter(this);

    m_picture2 = filledArea(new QWidget(this), QPalette::Midlight);
    m_picture2->setObjectName(QStringLiteral("Picture2"));
    m_picture2->setGeometry(twipsRect(1800, 240, 3975, 2145));
    m_lblTitle = new QLabel(m_picture2);
    m_lblTitle->setObjectName(QStringLiteral("lblTitle"));
    m_lblTitle->setGeometry(twipsRect(0, 0, 3885, 480));
    QFont titleFont = font();
    titleFont.setPointSizeF(9.75);
    titleFont.setBold(true);
    m_lblTitle->setFont(titleFont);
    m_lblVersion = new QLabel(m_picture2);
    m_lblVersion->setObjectName(QStringLiteral("lblVersion"));
    m_lblVersion->setGeometry(twipsRect(0, 540, 3885, 225));
    m_lblDescription = new QLabel(m_picture2);
    m_lblDescription->setObjectName(QStringLiteral("lblDescription"));
    m_lblDescription->setGeometry(twipsRect(0, 885, 3885, 1170));
    m_lblDescription->setWordWrap(true);
    for (QLabel* label : {m_lblTitle, m_lblVersion, m_lblDescription})
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    m_picture3 = filledArea(new EtchedArea(this), QPalette::Button);
    m_picture3->setObjectName(QStringLiteral("Picture3"));
    m_picture3->setGeometry(twipsRect(120, 2400, 5535, 1335));
    m_txtDisclaimer = new QPlainTextEdit(m_picture3);
    m_txtDisclaimer->setObjectName(QStringLiteral("txtDisclaimer"));
    m_txtDisclaimer->setGeometry(twipsRect(0, 120, 3975, 1215));
    m_txtDisclaimer->setReadOnly(true);
    m_txtDisclaimer->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_txtDisclaimer->setFocusPolicy(Qt::ClickFocus);
    QPalette textPal = m_txtDisclaimer->palette();
    textPal.setColor(QPalette::Base, textPal.color(QPalette::Button));
    m_txtDisclaimer->setPalette(textPal);
    m_cmdOK = new QPushButton(QStringLiteral("OK"), m_picture3);
    m_cmdOK->setObjectName(QStringLiteral("cmdOK"));
    m_cmdOK->setGeometry(twipsRect(4080, 120, 1260, 345));
    m_cmdOK->setDefault(true);
    m_cmdSysInfo = new QPushButton(QStringLiteral("&System Info..."), m_picture3);
    m_cmdSysInfo->setObjectName(QStringLiteral("cmdSysInfo"));
    m_cmdSysInfo->setGeometry(twipsRect(4095, 570, 1245, 345));
    setTabOrder(m_cmdOK, m_cmdSysInfo);
    m_cmdOK->setFocus();

    connect(m_cmdOK, &QPushButton::clicked, this, &frmAbout::cmdOK_Click);
    connect(m_cmdSysInfo, &QPushButton::clicked, this, &frmAbout::cmdSysInfo_Click);

    m_timer1 = new QTimer(this);
    m_timer1->setInterval(5000);
    connect(m_timer1, &QTimer::timeout, this, &frmAbout::Timer1_Timer);
    m_dotTimer = new QTimer(this);
    m_dotTimer->setInterval(kDotIntervalMs);
    connect(m_dotTimer, &QTimer::timeout, this, &frmAbout::DotTimer_Timer);

    Form_Load();
    services::addOwnTitleBar(this);
    m_timer1->start();
}

frmAbout::~frmAbout() = default;

void frmAbout::Form_Load()
{
    m_lblTitle->setText(QString::fromLatin1(app::kAppTitle));
    m_lblVersion->setText(versionLine(VAMPLET_VERSION_MAJOR, VAMPLET_VERSION_MINOR));
    setWindowTitle(QStringLiteral("About ") + QString::fromLatin1(app::kAppTitle));
    m_lblDescription->setText(QString::fromLatin1(kDescription));
    m_txtDisclaimer->setPlainText(QString::fromLatin1(kLegalNotice));
}

void frmAbout::cmdOK_Click() { close(); }

void frmAbout::cmdSysInfo_Click() { StartSysInfo(); }

void frmAbout::StartSysInfo()
{
    if (startSysInfoTool()) return;
    services::MsgBox(QString::fromLatin1(kSysInfoUnavailable), services::MsgButtons::OK, services::MsgIcon::None,
                     QString::fromLatin1(app::kAppTitle), this);
}

void frmAbout::picIcon_Click()
{
    // Whether a viewer opened is not the About box's business.
    const QString guide = userGuidePath();
    if (!guide.isEmpty()) QDesktopServices::openUrl(QUrl::fromLocalFile(guide));
}

void frmAbout::Timer1_Timer()
{
    AnimateDots();
    m_timer1->stop();
}

void frmAbout::Form_Click() { AnimateDots(); }

void frmAbout::Picture1_Click() { AnimateDots(); }

void frmAbout::AnimateDots()
{
    beep();
    clearDrawing();
    m_step = 1;
    m_dotTimer->start();
}

void frmAbout::DotTimer_Timer()
{
    m_penWidth = 6 - m_step; // 5, 4, 3
    const double x = m_random() * pixelsToPoints(m_picture1->width());
    const double y = m_random() * pixelsToPoints(m_picture1->height());
    // The colour is picked after the step moves on, so width and colour pair up as
    // 5 black, 4 grey, 3 light red.
    m_step = m_step % 3 + 1;
    const int colour = m_step == 1 ? 12 : (m_step == 2 ? 0 : 8);
    KelDotAt(x, y, colour);
}

void frmAbout::KelDotAt(double sngX, double sngY, int intColor)
{
    const QPointF from(pointsToPixels(sngX), pointsToPixels(sngY));
    const QPointF to(pointsToPixels(sngX + 1), pointsToPixels(sngY + 1));
    {
        QPainter p(&m_drawing);
        p.setPen(QPen(QBColor(intColor), m_penWidth, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(from, to);
    }
    m_lastDot = Dot{QPointF(sngX, sngY), m_penWidth, intColor};
    const int margin = m_penWidth + 1;
    m_picture1->update(QRectF(from, to).normalized().toAlignedRect().adjusted(-margin, -margin, margin, margin));
}

void frmAbout::setRandomSource(std::function<double()> source) { m_random = std::move(source); }

void frmAbout::clearDrawing()
{
    m_drawing.fill(m_picture1->palette().color(QPalette::Window));
    m_picture1->update();
}

bool frmAbout::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_picIcon && isClick(event, m_picIcon)) picIcon_Click();
    else if (watched == m_picture1 && isClick(event, m_picture1)) Picture1_Click();
    return QDialog::eventFilter(watched, event);
}

void frmAbout::keyPressEvent(QKeyEvent* event)
{
    // Esc presses OK, as Enter does.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        m_cmdOK->click();
        return;
    }
    QDialog::keyPressEvent(event);
}

void frmAbout::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) Form_Click();
    QDialog::mouseReleaseEvent(event);
}

void frmAbout::hideEvent(QHideEvent* event)
{
    m_dotTimer->stop();
    QDialog::hideEvent(event);
}

} // namespace about
