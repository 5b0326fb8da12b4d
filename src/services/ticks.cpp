#include "services/ticks.h"

#include <QApplication>
#include <QPainter>
#include <QProxyStyle>
#include <QSlider>
#include <QStyleFactory>
#include <QStyleOptionSlider>

namespace services {
namespace {

class PaletteTicks : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                            const QWidget* widget) const override
    {
        const auto* slider = qstyleoption_cast<const QStyleOptionSlider*>(option);
        if (control != CC_Slider || !slider || !(slider->subControls & SC_SliderTickmarks)) {
            QProxyStyle::drawComplexControl(control, option, painter, widget);
            return;
        }
        QStyleOptionSlider rest(*slider);
        rest.subControls &= ~SC_SliderTickmarks;
        QProxyStyle::drawComplexControl(control, &rest, painter, widget);
        drawTicks(*slider, painter, widget);
    }

private:
    void drawTicks(const QStyleOptionSlider& o, QPainter* painter, const QWidget* widget) const
    {
        const bool across = o.orientation == Qt::Horizontal;
        const QRect handle = subControlRect(CC_Slider, &o, SC_SliderHandle, widget);
        const int depth = qMax(3, pixelMetric(PM_SliderTickmarkOffset, &o, widget));
        int interval = o.tickInterval > 0 ? o.tickInterval : o.pageStep;
        const QVector<int> places = tickPlaces(o.minimum, o.maximum, interval, across ? o.rect.width() : o.rect.height(),
                                               across ? handle.width() : handle.height());
        QColor ink = o.palette.color(o.state & State_Enabled ? QPalette::Active : QPalette::Disabled, QPalette::WindowText);
        ink.setAlphaF(0.6);
        painter->save();
        painter->setPen(QPen(ink, 1));
        const QRect r = o.rect;
        for (int at : places) {
            const int p = o.upsideDown ? (across ? r.width() : r.height()) - 1 - at : at;
            if (o.tickPosition & QSlider::TicksAbove) {
                if (across) painter->drawLine(r.left() + p, r.top(), r.left() + p, r.top() + depth - 1);
                else painter->drawLine(r.left(), r.top() + p, r.left() + depth - 1, r.top() + p);
            }
            if (o.tickPosition & QSlider::TicksBelow) {
                if (across) painter->drawLine(r.left() + p, r.bottom() - depth + 1, r.left() + p, r.bottom());
                else painter->drawLine(r.right() - depth + 1, r.top() + p, r.right(), r.top() + p);
            }
        }
        painter->restore();
    }
};

} // namespace

QVector<int> tickPlaces(int minimum, int maximum, int interval, int length, int handle)
{
    QVector<int> places;
    if (maximum < minimum || length <= handle) return places;
    interval = qMax(1, interval);
    const int span = length - handle;
    for (qint64 v = minimum;; v += interval) {
        const int value = int(qMin<qint64>(v, maximum));
        places << QStyle::sliderPositionFromValue(minimum, maximum, value, span) + handle / 2;
        if (value == maximum) break;
    }
    return places;
}

void drawTicksFromPalette(QSlider* slider)
{
    // A style of the slider's own (the slider owns it), of the kind the program draws in. Under
    // an application style sheet the style has no name: the desktop's own is taken then.
    const QString kind = QApplication::style()->name();
    auto* style = new PaletteTicks(kind.isEmpty() ? nullptr : QStyleFactory::create(kind));
    style->setParent(slider);
    slider->setStyle(style);
}

} // namespace services
