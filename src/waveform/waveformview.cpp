#include "waveform/waveformview.h"

#include "beats/beatsnap.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QFontMetricsF>
#include <QPainter>
#include <QPaintEvent>
#include <QPainterPath>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace waveform {
namespace {

constexpr double kGrabPixels = 5;
// The wave's area lies this far inside the view's frame.
constexpr double kInset = 2;
// Half the playhead's width with its rim, and a pixel for rounding.
constexpr int kPlayheadReach = 3;
constexpr double kFallbackRate = 44100;

QColor withAlpha(QColor c, int alpha)
{
    c.setAlpha(alpha);
    return c;
}

} // namespace

// ---- Viewport ---------------------------------------------------------------------------

void Viewport::showAll()
{
    first = 0;
    framesPerPixel = total > 0 && width > 0 ? double(total) / width : 1;
    clamp();
}

void Viewport::clamp()
{
    const double widest = width > 0 ? std::max(kMinFramesPerPixel, double(total) / width) : 1;
    framesPerPixel = std::clamp(framesPerPixel, kMinFramesPerPixel, widest);
    first = std::clamp(first, 0.0, std::max(0.0, double(total) - width * framesPerPixel));
}

void Viewport::zoomAround(double x, double factor)
{
    if (factor <= 0) return;
    const double frame = frameAt(x);
    framesPerPixel /= factor;
    clamp();
    first = frame - x * framesPerPixel;
    clamp();
}

void Viewport::panBy(double pixels)
{
    first -= pixels * framesPerPixel;
    clamp();
}

void Viewport::reveal(double frame)
{
    const double span = width * framesPerPixel;
    if (frame < first) first = frame;
    else if (frame > first + span) first = frame - span;
    clamp();
}

bool Viewport::wholeFile() const { return first <= 0 && framesPerPixel * width >= double(total) - 0.5; }

double roundToPixel(double seconds, double secondsPerPixel)
{
    if (!(secondsPerPixel > 0)) return seconds;
    const int decimals = std::clamp(int(std::ceil(-std::log10(secondsPerPixel))), 0, 6);
    const double scale = std::pow(10.0, decimals);
    return std::round(seconds * scale) / scale;
}

QRegion playheadDirty(std::optional<double> oldX, std::optional<double> newX, int height, double dpr)
{
    if (oldX.has_value() == newX.has_value() &&
        (!oldX || std::lround(*oldX * dpr) == std::lround(*newX * dpr)))
        return {};
    QRegion dirty;
    for (const std::optional<double>& x : {oldX, newX})
        if (x) dirty += QRect(int(std::floor(*x)) - kPlayheadReach, 0, 2 * kPlayheadReach + 1, height);
    return dirty;
}

// ---- View -------------------------------------------------------------------------------

WaveformView::WaveformView(QWidget* parent)
    : QWidget(parent), m_source(new WaveformSource(this)), m_beats(new beats::BeatSource(this))
{
    connect(m_beats, &beats::BeatSource::changed, this, qOverload<>(&WaveformView::update));
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumHeight(24);
    connect(m_source, &WaveformSource::changed, this, &WaveformView::sourceChanged);
    connect(m_source, &WaveformSource::windowReady, this, qOverload<>(&WaveformView::update));
}

void WaveformView::setFile(const QString& path)
{
    m_beats->setFile(path);
    if (path == m_source->file()) {
        m_source->setFile(path);  // made again if the file changed since
        return;
    }
    m_duration = 0;
    m_fitted = true;
    m_source->setFile(path);
}

void WaveformView::setDuration(double seconds)
{
    if (seconds == m_duration || !(seconds >= 0)) return;
    m_duration = seconds;
    syncTotal();
}

double WaveformView::duration() const
{
    const Peaks& p = m_source->peaks();
    if (p.frames > 0 && p.sampleRate > 0) return double(p.frames) / p.sampleRate;
    return m_duration;
}

double WaveformView::sampleRate() const
{
    const int rate = m_source->peaks().sampleRate;
    return rate > 0 ? rate : kFallbackRate;
}

double WaveformView::xOf(double seconds) const { return m_view.xAt(seconds * sampleRate()); }

double WaveformView::secondsAt(double x) const { return m_view.frameAt(x) / sampleRate(); }

double WaveformView::secondsPerDot() const { return m_view.framesPerPixel / sampleRate() / devicePixelRatioF(); }

void WaveformView::setStretch(double start, double stop)
{
    if (start == m_start && stop == m_stop) return;
    m_start = start;
    m_stop = stop;
    update();
}

void WaveformView::setPlayhead(double seconds)
{
    if (seconds == m_playhead) return;
    const double old = m_playhead;
    const std::optional<double> oldX = playheadX();
    m_playhead = seconds;
    // A zoomed view turns the page when the playhead runs off its right edge.
    if (!m_fitted && m_gesture == Gesture::None && seconds >= 0) {
        const double oldX = xOf(old), x = xOf(seconds);
        if (oldX >= 0 && oldX <= m_view.width && (x > m_view.width || x < 0)) {
            m_view.first = seconds * sampleRate() - m_view.width * m_view.framesPerPixel * 0.1;
            m_view.clamp();
            viewChanged();
            return;
        }
    }
    // Only the playhead's strips: the wave under it stays as it was.
    const QRegion dirty = playheadDirty(oldX, playheadX(), height(), devicePixelRatioF());
    if (!dirty.isEmpty()) update(dirty);
}

std::optional<double> WaveformView::playheadX() const
{
    if (m_playhead < 0) return std::nullopt;
    const double x = xOf(m_playhead);
    const double areaWidth = width() - 2 * kInset;
    if (x < 0 || x > areaWidth) return std::nullopt;
    return kInset + x;
}

void WaveformView::setHandlesShown(bool shown)
{
    m_handles = shown;
    update();
}

void WaveformView::setHandle(Handle which, double seconds)
{
    if (!std::isfinite(seconds)) return;
    (which == Start ? m_start : m_stop) = seconds;
    update();
}

void WaveformView::moveHandle(Handle which, double seconds)
{
    const double end = duration() > 0 ? duration() : std::max(m_start, m_stop);
    seconds = std::clamp(seconds, 0.0, std::max(0.0, end));
    // The stretch never turns round.
    if (which == Start) seconds = std::min(seconds, std::max(m_stop, 0.0));
    else seconds = std::max(seconds, m_start);
    m_active = which;
    setHandle(which, seconds);
    emit handleMoved(which, seconds);
}

void WaveformView::setSnapping(bool on)
{
    if (on == m_snap) return;
    m_snap = on;
    update();
}

const beats::BeatGrid* WaveformView::snapGrid(Qt::KeyboardModifiers modifiers) const
{
    const beats::BeatGrid& g = m_beats->grid();
    return m_snap && !(modifiers & Qt::AltModifier) && g.beats.size() >= 2 ? &g : nullptr;
}

int WaveformView::handleNear(double x) const
{
    const double ds = std::abs(xOf(m_start) - x), de = std::abs(xOf(m_stop) - x);
    if (std::min(ds, de) > kGrabPixels) return -1;
    // Handles on top of each other: the one towards the pointer's side of them.
    if (ds == de) return x < xOf(m_start) ? Start : Stop;
    return ds < de ? Start : Stop;
}

void WaveformView::sourceChanged()
{
    syncTotal();
    update();
}

void WaveformView::syncTotal()
{
    const Peaks& p = m_source->peaks();
    qint64 total = p.frames;
    if (total <= 0) total = m_duration > 0 ? qint64(std::llround(m_duration * sampleRate())) : p.framesDone;
    if (total == m_view.total) return;
    m_beats->setLength(duration());
    const double oldTotal = double(m_view.total);
    m_view.total = total;
    if (m_fitted || oldTotal <= 0) {
        m_view.showAll();
    } else {
        // Same time span, now in true frames.
        const double scale = double(total) / oldTotal;
        m_view.first *= scale;
        m_view.framesPerPixel *= scale;
        m_view.clamp();
    }
    viewChanged();
}

void WaveformView::viewChanged()
{
    // Below one peak a pixel, draw from the frames themselves.
    const double perColumn = m_view.framesPerPixel / devicePixelRatioF();
    if (perColumn < kBaseBucket && m_view.total > 0) {
        const double span = m_view.width * m_view.framesPerPixel;
        m_source->requestWindow(qint64(m_view.first - span), qint64(3 * span) + 2);
    }
    update();
}

void WaveformView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    const double oldWidth = m_view.width;
    m_view.width = std::max(1, width() - 4);
    if (m_fitted || oldWidth <= 0) m_view.showAll();
    else m_view.clamp();
    viewChanged();
}

void WaveformView::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::EnabledChange) update();
}

// ---- Drawing ------------------------------------------------------------------------------

void WaveformView::paintEvent(QPaintEvent* event)
{
    QPainter p(this);
    const QPalette& pal = palette();
    p.fillRect(event->rect(), pal.color(QPalette::Base));
    const QRectF area = QRectF(rect()).adjusted(kInset, kInset, -kInset, -kInset);

    // The stretch that plays.
    if (m_stop > m_start) {
        const double x0 = std::max(0.0, xOf(m_start)), x1 = std::min(area.width(), xOf(m_stop));
        if (x1 > x0) p.fillRect(QRectF(area.left() + x0, area.top(), x1 - x0, area.height()),
                                withAlpha(pal.color(QPalette::Highlight), 70));
    }
    p.setPen(QPen(withAlpha(pal.color(QPalette::Text), 60), 0));
    p.drawLine(QPointF(area.left(), area.center().y()), QPointF(area.right(), area.center().y()));
    drawBeats(p, area);
    drawWave(p, area, event->rect());

    if (const std::optional<double> x = playheadX()) {
        // In the text colour with a rim of the background, so it shows over the wave too.
        const QLineF line(*x, area.top(), *x, area.bottom());
        p.setPen(QPen(pal.color(QPalette::Base), 2 * (kPlayheadReach - 1)));
        p.drawLine(line);
        p.setPen(QPen(pal.color(QPalette::Text), 2));
        p.drawLine(line);
    }
    if (m_handles) drawHandles(p, area);

    const QString status = statusText();
    if (!status.isEmpty()) {
        p.setPen(pal.color(QPalette::PlaceholderText));
        p.drawText(area, Qt::AlignCenter | Qt::TextWordWrap, status);
    }
    const QString snap = snapStatus();
    if (!snap.isEmpty()) {
        p.setPen(pal.color(QPalette::PlaceholderText));
        p.drawText(area.adjusted(4, 2, -4, -2), Qt::AlignRight | Qt::AlignTop, snap);
    }
    // Where the keyboard is: a frame in the selection colour, plainly visible.
    if (hasFocus()) p.setPen(QPen(pal.color(QPalette::Highlight), 2));
    else p.setPen(QPen(pal.color(QPalette::Mid), 1));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(rect()).adjusted(1, 1, -1, -1));
}

void WaveformView::drawWave(QPainter& p, const QRectF& area, const QRect& dirty) const
{
    const Peaks& peaks = m_source->peaks();
    const SampleWindow& win = m_source->window();
    if (peaks.levels.empty() && win.lo.empty()) return;
    const double dpr = devicePixelRatioF();
    const double mid = area.center().y(), half = area.height() / 2;
    const QColor ink = palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::Text);
    auto yOf = [&](float v) { return mid - std::clamp(double(v), -1.0, 1.0) * half; };

    // Samples far enough apart to be seen one by one: a line through them.
    if (m_view.framesPerPixel < 1 && !win.lo.empty()) {
        const qint64 from = std::max<qint64>(win.first, qint64(std::floor(m_view.first)));
        const qint64 to = std::min<qint64>(win.end(), qint64(std::ceil(m_view.frameAt(area.width()))) + 1);
        if (from < to) {
            QPolygonF hi, lo;
            for (qint64 f = from; f < to; ++f) {
                const double x = area.left() + m_view.xAt(double(f));
                hi << QPointF(x, yOf(win.hi[size_t(f - win.first)]));
                lo << QPointF(x, yOf(win.lo[size_t(f - win.first)]));
            }
            p.setRenderHint(QPainter::Antialiasing, true);
            p.setPen(QPen(ink, 0));
            p.drawPolyline(hi);
            if (lo != hi) p.drawPolyline(lo);
            if (1 / m_view.framesPerPixel >= 6) {
                p.setBrush(ink);
                for (const QPointF& pt : hi) p.drawEllipse(pt, 1.5, 1.5);
            }
            p.setRenderHint(QPainter::Antialiasing, false);
            return;
        }
    }

    // One vertical stroke per device pixel, from the peaks or from the frames; only the
    // columns painted again (the playhead's strips while it moves) are read.
    const int columns = int(area.width() * dpr);
    const int firstColumn = std::max(0, int(std::floor((dirty.left() - area.left()) * dpr)) - 1);
    const int endColumn = std::min(columns, int(std::ceil((dirty.right() + 1 - area.left()) * dpr)) + 1);
    QVector<QLineF> lines;
    lines.reserve(std::max(0, endColumn - firstColumn));
    const double perColumn = m_view.framesPerPixel / dpr;
    for (int c = firstColumn; c < endColumn; ++c) {
        const qint64 f0 = qint64(std::floor(m_view.first + c * perColumn));
        const qint64 f1 = std::max(f0 + 1, qint64(std::floor(m_view.first + (c + 1) * perColumn)));
        float lo = 0, hi = 0;
        if (perColumn < kBaseBucket && f0 >= win.first && f1 <= win.end()) {
            const auto l = std::min_element(win.lo.begin() + (f0 - win.first), win.lo.begin() + (f1 - win.first));
            const auto h = std::max_element(win.hi.begin() + (f0 - win.first), win.hi.begin() + (f1 - win.first));
            lo = *l;
            hi = *h;
        } else if (!peaks.range(f0, f1, lo, hi)) {
            continue;
        }
        const double x = area.left() + (c + 0.5) / dpr;
        // At least one device pixel, so silence still shows as a line.
        lines.append(QLineF(x, yOf(hi) - 0.5 / dpr, x, yOf(lo) + 0.5 / dpr));
    }
    p.setPen(QPen(ink, 0));
    p.drawLines(lines);
}

int barStride(double pixelsPerBar)
{
    constexpr double kLabelPixels = 28;
    int stride = 1;
    while (stride < (1 << 20) && pixelsPerBar * stride < kLabelPixels) stride *= 2;
    return stride;
}

void WaveformView::drawBeats(QPainter& p, const QRectF& area) const
{
    const beats::BeatGrid& grid = m_beats->grid();
    if (grid.beats.size() < 2 || sampleRate() <= 0) return;
    const double left = secondsAt(-kInset), right = secondsAt(area.width() + kInset);
    const auto first = std::lower_bound(grid.beats.begin(), grid.beats.end(), left);
    const auto last = std::upper_bound(first, grid.beats.end(), right);
    // Ticks only where beats stand apart; bar lines thinned out as numbers are.
    const double beatPixels = (area.width() / std::max(1e-9, right - left)) * (60.0 / std::max(1.0, grid.tempoAt(left)));
    const int stride = barStride(beatPixels * grid.meter);
    const QColor ink = palette().color(QPalette::Text);
    QVector<QLineF> ticks, lines;
    QFont small = font();
    small.setPointSizeF(std::max(6.0, small.pointSizeF() * 0.75));
    p.setFont(small);
    const double tick = std::max(3.0, area.height() / 8);
    auto bar = std::lower_bound(grid.bars.begin(), grid.bars.end(), int(first - grid.beats.begin()));
    for (auto it = first; it != last; ++it) {
        const int index = int(it - grid.beats.begin());
        const double x = area.left() + xOf(*it);
        const bool down = bar != grid.bars.end() && *bar == index;
        const int number = int(bar - grid.bars.begin());  // of the bar this beat begins
        if (down) ++bar;
        if (down && number % stride == 0) {
            lines.append(QLineF(x, area.top(), x, area.bottom()));
            p.setPen(withAlpha(ink, 150));
            p.drawText(QPointF(x + 2, area.top() + QFontMetricsF(small).ascent()), QString::number(number + 1));
        } else if (beatPixels >= 4) {
            ticks.append(QLineF(x, area.bottom() - tick, x, area.bottom()));
        }
    }
    p.setPen(QPen(withAlpha(ink, 110), 0));
    p.drawLines(lines);
    p.setPen(QPen(withAlpha(ink, 70), 0));
    p.drawLines(ticks);
}

void WaveformView::drawHandles(QPainter& p, const QRectF& area) const
{
    const QColor colour = palette().color(QPalette::Highlight);
    for (Handle h : {Start, Stop}) {
        const double x = xOf(handle(h));
        if (x < -kGrabPixels || x > area.width() + kGrabPixels) continue;
        const double ax = area.left() + x;
        const bool active = h == m_active;
        p.setPen(QPen(colour, active ? 2 : 1));
        p.drawLine(QPointF(ax, area.top()), QPointF(ax, area.bottom()));
        // A grip that points into the stretch.
        const double g = active ? 7 : 5, dir = h == Start ? 1 : -1;
        QPainterPath grip;
        grip.moveTo(ax, area.top());
        grip.lineTo(ax + dir * g, area.top());
        grip.lineTo(ax, area.top() + g * 1.5);
        grip.closeSubpath();
        p.fillPath(grip, colour);
    }
}

QString WaveformView::snapStatus() const
{
    if (!m_snap || !m_handles || m_beats->grid().beats.size() >= 2) return {};
    switch (m_beats->status()) {
    case beats::BeatSource::Status::Empty: return {};
    case beats::BeatSource::Status::Analysing: return tr("Finding the beats: no snapping yet");
    case beats::BeatSource::Status::Ready:
    case beats::BeatSource::Status::Failed: return tr("No beats found: no snapping");
    }
    return {};
}

QString WaveformView::statusText() const
{
    switch (m_source->status()) {
    case WaveformSource::Status::Empty: return {};
    case WaveformSource::Status::Preparing: return tr("Preparing %1%").arg(m_source->preparing());
    case WaveformSource::Status::Reading:
        return m_source->peaks().levels.empty() ? tr("Reading the sound...") : QString();
    case WaveformSource::Status::Ready: return {};
    case WaveformSource::Status::Failed: return tr("No waveform: %1").arg(m_source->error());
    }
    return {};
}

// ---- Mouse and keys ------------------------------------------------------------------------

void WaveformView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
    const double x = event->position().x() - 2;
    m_lastX = m_pressX = x;
    const int near = m_handles ? handleNear(x) : -1;
    if (near >= 0) {
        m_gesture = Gesture::Dragging;
        m_active = Handle(near);
        update();
    } else {
        m_gesture = Gesture::Pressed;
    }
}

void WaveformView::mouseMoveEvent(QMouseEvent* event)
{
    const double x = event->position().x() - 2;
    switch (m_gesture) {
    case Gesture::Pressed:
        if (std::abs(x - m_pressX) < QApplication::startDragDistance()) break;
        m_gesture = Gesture::Panning;
        [[fallthrough]];
    case Gesture::Panning:
        m_view.panBy(x - m_lastX);
        m_fitted = m_fitted && m_view.wholeFile();
        viewChanged();
        break;
    case Gesture::Dragging: {
        const double at = roundToPixel(secondsAt(x), m_view.framesPerPixel / sampleRate());
        const beats::BeatGrid* grid = snapGrid(event->modifiers());
        moveHandle(m_active, grid ? beats::toMillisecond(grid->snap(at)) : at);
        break;
    }
    case Gesture::None:
        if (m_handles) setCursor(handleNear(x) >= 0 ? Qt::SizeHorCursor : Qt::ArrowCursor);
        break;
    }
    m_lastX = x;
}

void WaveformView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) return QWidget::mouseReleaseEvent(event);
    if (m_gesture == Gesture::Pressed) {
        const double end = duration();
        if (end > 0) emit seekRequested(std::clamp(secondsAt(event->position().x() - 2), 0.0, end));
    }
    m_gesture = Gesture::None;
}

void WaveformView::wheelEvent(QWheelEvent* event)
{
    const QPoint delta = event->angleDelta();
    if (delta.y() != 0) m_view.zoomAround(event->position().x() - 2, std::pow(2.0, delta.y() / 240.0));
    if (delta.x() != 0) m_view.panBy(delta.x() / 2.0);
    m_fitted = m_view.wholeFile();
    viewChanged();
    event->accept();
}

void WaveformView::keyPressEvent(QKeyEvent* event)
{
    const bool shift = event->modifiers() & Qt::ShiftModifier;
    const double pixelSeconds = m_view.framesPerPixel / sampleRate();
    auto zoom = [this](double factor) {
        const double at = m_handles ? handle(m_active) : m_playhead;
        const double x = at >= 0 && xOf(at) >= 0 && xOf(at) <= m_view.width ? xOf(at) : m_view.width / 2;
        m_view.zoomAround(x, factor);
        m_fitted = m_view.wholeFile();
        viewChanged();
    };
    switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Right: {
        const double dir = event->key() == Qt::Key_Left ? -1 : 1;
        const beats::BeatGrid* grid = m_handles ? snapGrid(event->modifiers()) : nullptr;
        if (grid) {
            if (const auto to = beats::stepFrom(*grid, handle(m_active), int(dir), shift))
                moveHandle(m_active, beats::toMillisecond(*to));
            m_view.reveal(handle(m_active) * sampleRate());
        } else if (m_handles) {
            const double moved = handle(m_active) + dir * (shift ? 10 : 1) * pixelSeconds;
            moveHandle(m_active, roundToPixel(moved, pixelSeconds));
            m_view.reveal(handle(m_active) * sampleRate());
        } else {
            m_view.panBy(-dir * m_view.width / 8);
        }
        m_fitted = m_view.wholeFile();
        viewChanged();
        return;
    }
    case Qt::Key_BracketLeft: m_active = Start; update(); return;
    case Qt::Key_BracketRight: m_active = Stop; update(); return;
    case Qt::Key_Plus:
    case Qt::Key_Equal: zoom(2); return;
    case Qt::Key_Minus: zoom(0.5); return;
    case Qt::Key_0:
        m_fitted = true;
        m_view.showAll();
        viewChanged();
        return;
    default: QWidget::keyPressEvent(event);
    }
}

} // namespace waveform
