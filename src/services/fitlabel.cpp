#include "services/fitlabel.h"

#include <QCheckBox>
#include <QEvent>
#include <QFontMetrics>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QStyle>
#include <QStyleOption>

namespace services {
namespace {
constexpr double kSmallestPoints = 6;
constexpr int kSmallestPixels = 8;

bool fits(const QFont& font, const QString& text, const QSize& room, int flags)
{
    const QRect need = QFontMetrics(font).boundingRect(QRect(QPoint(), room), flags, text);
    return need.width() <= room.width() && need.height() <= room.height();
}
// What a box shows and where, in the style's own measures.
struct Content {
    QString sample;
    QRect room;
    int flags;
};

Content contentOf(QWidget* widget)
{
    if (auto* box = qobject_cast<QLineEdit*>(widget)) {
        QStyleOptionFrame opt;
        opt.initFrom(box);
        opt.lineWidth = box->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &opt, box);
        // Less the line edit's own margins around its text: 2 pixels across, 1 up and down.
        const QRect room = box->style()->subElementRect(QStyle::SE_LineEditContents, &opt, box).adjusted(2, 1, -2, -1);
        const QString sample = box->placeholderText().isEmpty() ? QStringLiteral("0") : box->placeholderText();
        return {sample, room, Qt::AlignLeft | Qt::AlignVCenter};
    }
    if (auto* button = qobject_cast<QPushButton*>(widget)) {
        QStyleOptionButton opt;
        opt.initFrom(button);
        opt.text = button->text();
        const QRect room = button->style()->subElementRect(QStyle::SE_PushButtonContents, &opt, button);
        return {button->text(), room, Qt::AlignCenter | Qt::TextShowMnemonic};
    }
    if (auto* check = qobject_cast<QCheckBox*>(widget)) {
        QStyleOptionButton opt;
        opt.initFrom(check);
        opt.text = check->text();
        const QRect room = check->style()->subElementRect(QStyle::SE_CheckBoxContents, &opt, check);
        return {check->text(), room, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextShowMnemonic};
    }
    return {};
}

// Remembers the font the widget has without our size (the caller's, else the one Qt gives
// its class, a theme's button font for a button) and sets the fitting size over it.
class BoxFontFit : public QObject {
public:
    explicit BoxFontFit(QWidget* widget)
        : QObject(widget), m_natural(widget->font()),
          m_callerFont(widget->testAttribute(Qt::WA_SetFont) ? widget->font() : QFont())
    {
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (m_busy) return false;
        auto* widget = static_cast<QWidget*>(watched);
        const auto type = event->type();
        if (type == QEvent::FontChange) learnNatural(widget);
        if (type == QEvent::FontChange || type == QEvent::Resize || type == QEvent::Show) refit(widget);
        return false;
    }

private:
    void learnNatural(QWidget* widget)
    {
        if (m_shrunk) {
            // Our size is on: the caller's font goes back to show what the change brought.
            set(widget, m_callerFont);
            m_shrunk = false;
        } else {
            m_callerFont = widget->testAttribute(Qt::WA_SetFont) ? widget->font() : QFont();
        }
        m_natural = widget->font();
    }

    void refit(QWidget* widget)
    {
        const Content c = contentOf(widget);
        if (c.sample.isEmpty() || c.room.isEmpty()) return;
        const QFont fit = fittingFont(m_natural, c.sample, c.room.size(), c.flags);
        if (fit == widget->font()) return;
        m_shrunk = fit != m_natural;
        set(widget, m_shrunk ? fit : m_callerFont);
    }

    // Our own setting comes back as a FontChange, which is not a new natural font.
    void set(QWidget* widget, const QFont& font)
    {
        m_busy = true;
        widget->setFont(font);
        m_busy = false;
    }

    QFont m_natural;
    QFont m_callerFont;
    bool m_shrunk = false;
    bool m_busy = false;
};

} // namespace

void fitFontToBox(QWidget* widget) { widget->installEventFilter(new BoxFontFit(widget)); }

QFont fittingFont(QFont font, const QString& text, const QSize& room, int flags)
{
    // Half a point (or a pixel) at a time: the sizes between are what the font offers.
    while (!fits(font, text, room, flags)) {
        if (font.pointSizeF() > 0) {
            if (font.pointSizeF() - 0.5 < kSmallestPoints) break;
            font.setPointSizeF(font.pointSizeF() - 0.5);
        } else {
            if (font.pixelSize() - 1 < kSmallestPixels) break;
            font.setPixelSize(font.pixelSize() - 1);
        }
    }
    return font;
}

void FitLabel::paintEvent(QPaintEvent* event)
{
    const QRect room = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
    const int flags = int(alignment()) | (wordWrap() ? Qt::TextWordWrap : 0) | Qt::TextShowMnemonic;
    if (textFormat() == Qt::RichText || text().isEmpty() || fits(font(), text(), room.size(), flags))
        return QLabel::paintEvent(event);
    QPainter painter(this);
    painter.setFont(fittingFont(font(), text(), room.size(), flags));
    style()->drawItemText(&painter, room, flags, palette(), isEnabled(), text(), foregroundRole());
}

} // namespace services
