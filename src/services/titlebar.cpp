#include "services/titlebar.h"

#include <QAbstractButton>
#include <QEvent>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QWindow>

#include <algorithm>
#include <vector>

namespace services {
namespace {

constexpr int kGrip = 4;
constexpr Qt::Edges kGripEdges[] = {
    Qt::LeftEdge,   Qt::RightEdge, Qt::TopEdge,
    Qt::BottomEdge, Qt::TopEdge | Qt::LeftEdge, Qt::TopEdge | Qt::RightEdge,
    Qt::BottomEdge | Qt::LeftEdge, Qt::BottomEdge | Qt::RightEdge};

bool replacesPlatformBar() { return QGuiApplication::platformName().startsWith(QLatin1String("wayland")); }

// The cross in the palette's button text: a theme's icon would stay black on a dark palette.
class CloseButton : public QAbstractButton {
public:
    explicit CloseButton(QWidget* parent) : QAbstractButton(parent)
    {
        setFocusPolicy(Qt::NoFocus);
        setToolTip(QStringLiteral("Close"));
        setAccessibleName(QStringLiteral("Close"));
        setAttribute(Qt::WA_Hover);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        if (underMouse()) p.fillRect(rect(), palette().color(QPalette::Mid));
        p.setPen(QPen(palette().color(isDown() ? QPalette::BrightText : QPalette::ButtonText), 1.5));
        const qreal d = height() * 0.3;
        const QPointF c = QRectF(rect()).center();
        p.drawLine(c + QPointF(-d, -d), c + QPointF(d, d));
        p.drawLine(c + QPointF(-d, d), c + QPointF(d, -d));
    }
};

class Grip : public QWidget {
public:
    Grip(QWidget* window, Qt::Edges edges) : QWidget(window), m_edges(edges)
    {
        const bool diagonal = (edges & (Qt::LeftEdge | Qt::RightEdge)) && (edges & (Qt::TopEdge | Qt::BottomEdge));
        const bool falling = edges == (Qt::TopEdge | Qt::LeftEdge) || edges == (Qt::BottomEdge | Qt::RightEdge);
        setCursor(diagonal ? (falling ? Qt::SizeFDiagCursor : Qt::SizeBDiagCursor)
                           : (edges & (Qt::LeftEdge | Qt::RightEdge) ? Qt::SizeHorCursor : Qt::SizeVerCursor));
    }
    void place(QSize window) { setGeometry(gripRect(m_edges, window, kGrip)); }

protected:
    void mousePressEvent(QMouseEvent* event) override
    {
        if (event->button() == Qt::LeftButton && window()->windowHandle())
            window()->windowHandle()->startSystemResize(m_edges);
    }

private:
    Qt::Edges m_edges;
};

class TitleBar : public QWidget {
public:
    TitleBar(QWidget* window, bool closable) : QWidget(window), m_close(new CloseButton(this))
    {
        setObjectName(QStringLiteral("ownTitleBar"));
        setFixedHeight(std::max(22, fontMetrics().height() + 8));
        // A message box that must be answered by a button offers no close.
        m_close->setVisible(closable);
        connect(m_close, &QAbstractButton::clicked, window, &QWidget::close);
        window->installEventFilter(this);
    }
    void addGrips()
    {
        for (Qt::Edges edges : kGripEdges) m_grips.push_back(new Grip(window(), edges));
    }
    void place()
    {
        setGeometry(0, 0, window()->width(), height());
        m_close->setGeometry(width() - height(), 0, height(), height());
        raise();
        // Some windows fix their size only as they show (message boxes): no grips then.
        const bool fixed = window()->minimumSize() == window()->maximumSize();
        for (Grip* grip : m_grips) {
            grip->place(window()->size());
            grip->setVisible(!fixed);
            grip->raise();
        }
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::Resize: place(); break;
        case QEvent::WindowTitleChange:
        case QEvent::ActivationChange: update(); break;
        default: break;
        }
        return false;
    }
    void mousePressEvent(QMouseEvent* event) override
    {
        if (event->button() == Qt::LeftButton && window()->windowHandle()) window()->windowHandle()->startSystemMove();
    }
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.fillRect(rect(), palette().color(QPalette::Button));
        p.setPen(palette().color(QPalette::Mid));
        p.drawLine(0, height() - 1, width(), height() - 1);
        const bool active = window()->isActiveWindow();
        p.setPen(palette().color(active ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText));
        const QRect text = rect().adjusted(height(), 0, -height(), 0);
        p.drawText(text, Qt::AlignCenter,
                   fontMetrics().elidedText(window()->windowTitle(), Qt::ElideRight, text.width()));
    }

private:
    CloseButton* m_close;
    std::vector<Grip*> m_grips;
};

} // namespace

bool offersClose(Qt::WindowFlags flags)
{
    // A widget's flags come filled in by Qt: a window that named none of the bar's hints
    // reads with all of them.
    return flags.testFlag(Qt::WindowCloseButtonHint);
}

QRect gripRect(Qt::Edges edges, QSize size, int thick)
{
    const int corner = 2 * thick;
    const int w = size.width(), h = size.height();
    const int x = edges & Qt::LeftEdge ? 0 : edges & Qt::RightEdge ? w - corner : corner;
    const int y = edges & Qt::TopEdge ? 0 : edges & Qt::BottomEdge ? h - corner : corner;
    const bool corners = (edges & (Qt::LeftEdge | Qt::RightEdge)) && (edges & (Qt::TopEdge | Qt::BottomEdge));
    if (corners) return QRect(x, y, corner, corner);
    if (edges & (Qt::LeftEdge | Qt::RightEdge))
        return QRect(edges & Qt::RightEdge ? w - thick : 0, corner, thick, std::max(0, h - 2 * corner));
    return QRect(corner, edges & Qt::BottomEdge ? h - thick : 0, std::max(0, w - 2 * corner), thick);
}

int addOwnTitleBar(QWidget* window)
{
    if (!window || !replacesPlatformBar()) return 0;
    const bool fixed = window->minimumSize() == window->maximumSize();
    // Before the platform window is made: Qt then makes no bar of its own. The title hints
    // go, or Qt takes the frameless hint back.
    constexpr Qt::WindowFlags kTitleHints = Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                                            Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint |
                                            Qt::WindowContextHelpButtonHint;
    const Qt::WindowFlags flags = window->windowFlags();
    window->setWindowFlags((flags & ~kTitleHints) | Qt::FramelessWindowHint);
    auto* bar = new TitleBar(window, offersClose(flags));
    const int top = bar->height();
    if (window->layout()) {
        // The layout lies within the window's margins, and sizes the window with them.
        const QMargins m = window->contentsMargins();
        window->setContentsMargins(m.left(), m.top() + top, m.right(), m.bottom());
    } else {
        for (QWidget* child : window->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            if (child != bar) child->move(child->x(), child->y() + top);
    }
    if (fixed) {
        window->setFixedSize(window->width(), window->height() + top);
    } else {
        bar->addGrips();
        if (!window->layout() || window->testAttribute(Qt::WA_Resized))
            window->resize(window->width(), window->height() + top);
    }
    bar->place();
    return top;
}

} // namespace services
