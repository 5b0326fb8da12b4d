#include "services/fitlabel.h"

#include <QFontMetrics>
#include <QPainter>
#include <QStyle>

namespace services {
namespace {
constexpr double kSmallestPoints = 6;
constexpr int kSmallestPixels = 8;

bool fits(const QFont& font, const QString& text, const QSize& room, int flags)
{
    const QRect need = QFontMetrics(font).boundingRect(QRect(QPoint(), room), flags, text);
    return need.width() <= room.width() && need.height() <= room.height();
}
} // namespace

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
