// Draws the program's picture (60 x 79) and icon (32 x 32) into src/windows/.
// Build and run from the repository root:
//   g++ -std=c++20 -fPIC scripts/make-about-art.cpp $(pkg-config --cflags --libs Qt6Gui) -o /tmp/make-about-art
//   QT_QPA_PLATFORM=offscreen /tmp/make-about-art src/windows data/icons
// data/icons/hicolor/scalable/apps/vamplet.svg is the same icon drawn by hand.
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QtMath>
#include <cstdio>

namespace {

const QColor kDeep(11, 37, 69);
const QColor kBlue(29, 78, 137);
const QColor kAmber(245, 166, 35);
const QColor kFoam(168, 218, 220);

void background(QPainter& p, const QRectF& r, qreal radius)
{
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, kBlue);
    g.setColorAt(1, kDeep);
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawRoundedRect(r, radius, radius);
}

// A ring that almost closes, ending in an arrowhead: the stretch that plays again.
void loopArrow(QPainter& p, QPointF c, qreal radius, qreal width)
{
    const qreal startDeg = 110, spanDeg = -300; // Qt angles: counter-clockwise from 3 o'clock
    const QRectF box(c.x() - radius, c.y() - radius, 2 * radius, 2 * radius);
    QPen pen(kAmber, width, Qt::SolidLine, Qt::FlatCap);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    QPainterPath arc;
    arc.arcMoveTo(box, startDeg);
    arc.arcTo(box, startDeg, spanDeg);
    p.drawPath(arc);

    // Head at the arc's end, pointing along the clockwise direction of travel.
    const qreal end = qDegreesToRadians(startDeg + spanDeg);
    const QPointF tip(c.x() + radius * qCos(end), c.y() - radius * qSin(end));
    const QPointF along(qSin(end), qCos(end));     // clockwise tangent in screen space
    const QPointF outward(qCos(end), -qSin(end));
    const qreal head = width * 1.7;
    QPolygonF tri;
    tri << tip + along * head << tip + outward * head << tip - outward * head;
    p.setPen(Qt::NoPen);
    p.setBrush(kAmber);
    p.drawPolygon(tri);
}

void playMark(QPainter& p, QPointF c, qreal size)
{
    QPolygonF tri;
    tri << QPointF(c.x() - size * 0.4, c.y() - size * 0.5) << QPointF(c.x() - size * 0.4, c.y() + size * 0.5)
        << QPointF(c.x() + size * 0.5, c.y());
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawPolygon(tri);
}

// A strip of sound with the looped stretch between two markers.
void wave(QPainter& p, const QRectF& r)
{
    const int bars = 13;
    const qreal step = r.width() / bars;
    for (int i = 0; i < bars; ++i) {
        const qreal h = r.height() * (0.3 + 0.7 * qAbs(qSin(i * 1.3 + 0.4)));
        const bool inLoop = i >= 4 && i <= 8;
        p.setPen(Qt::NoPen);
        p.setBrush(inLoop ? kAmber : kFoam);
        p.drawRect(QRectF(r.left() + i * step + step * 0.2, r.center().y() - h / 2, step * 0.6, h));
    }
    p.setPen(QPen(Qt::white, 1));
    const qreal a = r.left() + 4 * step, b = r.left() + 9 * step;
    p.drawLine(QPointF(a, r.top() - 2), QPointF(a, r.bottom() + 2));
    p.drawLine(QPointF(b, r.top() - 2), QPointF(b, r.bottom() + 2));
}

QImage picture()
{
    QImage img(60, 79, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    background(p, QRectF(0.5, 0.5, 59, 78), 7);
    loopArrow(p, QPointF(30, 29), 17, 5);
    playMark(p, QPointF(31, 29), 13);
    wave(p, QRectF(5, 56, 50, 14));
    return img;
}

// Drawn on a 32-unit grid, scaled to `size` pixels.
QImage icon(int size = 32)
{
    QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 32.0, size / 32.0);
    background(p, QRectF(0.5, 0.5, 31, 31), 5);
    loopArrow(p, QPointF(16.5, 16.5), 9.5, 3);
    playMark(p, QPointF(16.5, 16), 8);
    return img;
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    bool ok = picture().save(dir + "/vamplet60x79.png") && icon().save(dir + "/vamplet32.png");
    // The desktop's icon theme sizes, when a data folder is given (data/icons).
    if (argc > 2) {
        const QString icons = QString::fromLocal8Bit(argv[2]);
        for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
            const QString folder = QStringLiteral("%1/hicolor/%2x%2/apps").arg(icons).arg(size);
            ok = QDir().mkpath(folder) && icon(size).save(folder + "/vamplet.png") && ok;
        }
    }
    if (!ok) std::fprintf(stderr, "could not write the pictures to %s\n", qPrintable(dir));
    return ok ? 0 : 1;
}
