#pragma once
// A waveform of one sound file: the whole file or a zoomed part of it, its beats and numbered
// bars once found, the stretch that plays shaded, the playhead, and (where the stretch is
// edited) two handles for its start and stop.
// A click seeks, the wheel zooms around the mouse, a drag pans or moves a handle.
#include "beats/beatsource.h"
#include "waveform/waveformsource.h"

#include <QRegion>
#include <QWidget>

#include <optional>

namespace waveform {

// Which frames the view shows, one column per `framesPerPixel` frames.
struct Viewport {
    static constexpr double kMinFramesPerPixel = 1.0 / 16;  // a sample every 16 pixels

    qint64 total = 0;   // frames in the file
    double width = 0;   // pixels
    double first = 0;   // frame at the left edge
    double framesPerPixel = 1;

    void showAll();
    // Keeps the frame under `x` where it is.
    void zoomAround(double x, double factor);
    void panBy(double pixels);
    // Brings `frame` into view, moving as little as possible.
    void reveal(double frame);
    void clamp();
    double frameAt(double x) const { return first + x * framesPerPixel; }
    double xAt(double frame) const { return (frame - first) / framesPerPixel; }
    bool wholeFile() const;
};

// Seconds at a pointer position, rounded to the finest decimal a pixel there can tell apart.
double roundToPixel(double seconds, double secondsPerPixel);

// What a view `height` pixels high paints again when its playhead moves from `oldX` to
// `newX` (its pixel column in the view, nullopt where it is not drawn): the strips under
// the old and the new line, nothing while it stays on the same device pixel.
QRegion playheadDirty(std::optional<double> oldX, std::optional<double> newX, int height, double dpr);

// Every how many bars a number (and, when bars crowd, a bar line) is drawn, for bars
// `pixelsPerBar` apart: 1, 2, 4, 8 ... so labels never run into each other.
int barStride(double pixelsPerBar);

class WaveformView : public QWidget {
    Q_OBJECT
public:
    enum Handle { Start = 0, Stop = 1 };

    explicit WaveformView(QWidget* parent = nullptr);

    WaveformSource* source() const { return m_source; }
    beats::BeatSource* beats() const { return m_beats; }
    void setFile(const QString& path);
    // The media's length as the player knows it, for files whose decoder does not say.
    void setDuration(double seconds);
    double duration() const;

    // The stretch that plays, shaded; hidden when stop is not after start.
    void setStretch(double start, double stop);
    // Seconds as heard; negative hides the playhead.
    void setPlayhead(double seconds);
    double playhead() const { return m_playhead; }

    // With handles the stretch is edited: dragging its ends moves them.
    void setHandlesShown(bool shown);
    double handle(Handle which) const { return which == Start ? m_start : m_stop; }
    void setHandle(Handle which, double seconds);
    Handle activeHandle() const { return m_active; }
    // While on, dragged handles land on the nearest beat and the arrow keys move them a beat
    // (Shift: a bar); Alt held places them freely. Without beats found nothing snaps.
    void setSnapping(bool on);
    bool snapping() const { return m_snap; }

    Viewport& viewport() { return m_view; }
    const Viewport& viewport() const { return m_view; }
    // Pixel of a time and time of a pixel, in the current zoom.
    double xOf(double seconds) const;
    double secondsAt(double x) const;
    // Seconds one device pixel of the wave stands for.
    double secondsPerDot() const;

    QSize sizeHint() const override { return {400, 80}; }

signals:
    void seekRequested(double seconds);
    // The user moved a handle to `seconds`.
    void handleMoved(WaveformView::Handle which, double seconds);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    enum class Gesture { None, Pressed, Panning, Dragging };

    double sampleRate() const;
    void sourceChanged();
    void syncTotal();
    void viewChanged();
    void moveHandle(Handle which, double seconds);
    int handleNear(double x) const;
    // The playhead's column in the view, where it is drawn.
    std::optional<double> playheadX() const;
    void drawWave(QPainter& p, const QRectF& area, const QRect& dirty) const;
    void drawHandles(QPainter& p, const QRectF& area) const;
    void drawBeats(QPainter& p, const QRectF& area) const;
    QString statusText() const;
    QString snapStatus() const;
    // The grid handles snap to with `modifiers` held; nullptr where they do not snap.
    const beats::BeatGrid* snapGrid(Qt::KeyboardModifiers modifiers) const;

    WaveformSource* m_source;
    beats::BeatSource* m_beats;
    Viewport m_view;
    bool m_fitted = true;  // shows the whole file until the user zooms
    double m_duration = 0;
    double m_start = 0, m_stop = 0;
    double m_playhead = -1;
    bool m_handles = false;
    bool m_snap = false;
    Handle m_active = Start;
    Gesture m_gesture = Gesture::None;
    double m_pressX = 0;
    double m_lastX = 0;
};

} // namespace waveform
