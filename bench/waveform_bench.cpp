// Waveform timings on the files given: the first drawn overview and the complete peaks from
// a cold and a warm cache, the longest the window's thread was kept from its events while
// peaks were made, and the draw time of one frame zoomed out and at sample zoom.
#include "waveform/waveformsource.h"
#include "waveform/waveformview.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <QTimer>
#include <QWheelEvent>

#include <cstdio>
#include <ctime>

using namespace waveform;

namespace {

struct Load {
    double firstDrawn = -1, complete = -1, longestBlock = 0, longestEvent = 0, longestCpu = 0;
};

// Times every event the window's thread handles: the longest is the longest block.
class TimedApp : public QApplication {
public:
    using QApplication::QApplication;
    double longest = 0, longestCpu = 0;  // wall clock, and the thread's own processor time
    bool notify(QObject* receiver, QEvent* event) override
    {
        QElapsedTimer t;
        t.start();
        timespec c0, c1;
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &c0);
        const bool done = QApplication::notify(receiver, event);
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &c1);
        const double cpu = (c1.tv_sec - c0.tv_sec) * 1e3 + (c1.tv_nsec - c0.tv_nsec) / 1e6;
        longest = std::max(longest, t.nsecsElapsed() / 1e6);
        longestCpu = std::max(longestCpu, cpu);
        return done;
    }
};

// Notes when the first peaks and the complete ones are on screen.
class TimedView : public WaveformView {
public:
    QElapsedTimer clock;
    double firstDrawn = -1, completeDrawn = -1;
    QEventLoop* done = nullptr;

protected:
    void paintEvent(QPaintEvent* event) override
    {
        WaveformView::paintEvent(event);
        const WaveformSource* s = source();
        if (!clock.isValid()) return;
        if (firstDrawn < 0 && !s->peaks().levels.empty()) firstDrawn = clock.nsecsElapsed() / 1e6;
        if (completeDrawn < 0 && (s->status() == WaveformSource::Status::Ready || s->status() == WaveformSource::Status::Failed)) {
            completeDrawn = clock.nsecsElapsed() / 1e6;
            if (done) done->quit();
        }
    }
};

Load load(TimedView& view, const QString& file)
{
    Load r;
    // The window's first showing is not part of the peaks' cost.
    {
        QEventLoop settle;
        QTimer::singleShot(300, &settle, &QEventLoop::quit);
        settle.exec();
    }
    QElapsedTimer sinceTick;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(1);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        r.longestBlock = std::max(r.longestBlock, sinceTick.nsecsElapsed() / 1e6 - 1);
        sinceTick.restart();
    });
    QEventLoop loop;
    view.done = &loop;
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    auto* timed = static_cast<TimedApp*>(qApp);
    timed->longest = timed->longestCpu = 0;
    view.clock.start();
    sinceTick.start();
    ticker.start();
    view.setFile(file);
    loop.exec();
    view.done = nullptr;
    r.firstDrawn = view.firstDrawn;
    r.complete = view.completeDrawn;
    r.longestEvent = timed->longest;
    r.longestCpu = timed->longestCpu;
    if (view.source()->status() == WaveformSource::Status::Failed)
        std::fprintf(stderr, "%s: %s\n", qPrintable(file), qPrintable(view.source()->error()));
    return r;
}

// Mean and longest of `n` frames, in ms.
std::pair<double, double> drawTimes(WaveformView& view, int n)
{
    double total = 0, worst = 0;
    for (int i = 0; i < n; ++i) {
        QElapsedTimer t;
        t.start();
        view.repaint();
        const double ms = t.nsecsElapsed() / 1e6;
        total += ms;
        worst = std::max(worst, ms);
    }
    return {total / n, worst};
}

void zoomToSamples(WaveformView& view)
{
    const QPointF at(view.width() / 2.0, view.height() / 2.0);
    while (view.viewport().framesPerPixel > 1.0 / 8) {
        QWheelEvent wheel(at, view.mapToGlobal(at), QPoint(), QPoint(0, 240), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(&view, &wheel);
    }
    QEventLoop loop;
    QObject::connect(view.source(), &WaveformSource::windowReady, &loop, &QEventLoop::quit);
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

int main(int argc, char** argv)
{
    TimedApp app(argc, argv);
    // A real window has drawn text before: the fonts are loaded once per process.
    {
        QImage image(200, 50, QImage::Format_ARGB32_Premultiplied);
        QPainter painter(&image);
        painter.drawText(image.rect(), Qt::AlignCenter, QStringLiteral("Reading the sound..."));
    }
    QTemporaryDir cache;
    setCacheFolder(cache.path());
    std::printf("| file | seconds | first overview cold | complete cold | longest event: wall / processor / loop gap, cold | first overview warm | "
                "complete warm | same, warm | frame zoomed out (mean/max) | frame at sample zoom (mean/max) |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|---|\n");
    for (const QString& file : app.arguments().mid(1)) {
        QFile::remove(peaksPath(file));
        Load cold, warm;
        {
            TimedView view;
            view.resize(1000, 160);
            view.show();
            cold = load(view, file);
        }
        TimedView view;
        view.resize(1000, 160);
        view.show();
        warm = load(view, file);
        const auto [outMean, outMax] = drawTimes(view, 50);
        zoomToSamples(view);
        const auto [inMean, inMax] = drawTimes(view, 50);
        std::printf("| %s | %.0f | %.0f ms | %.0f ms | %.1f / %.1f / %.1f ms | %.0f ms | %.0f ms | %.1f / %.1f / %.1f ms | %.2f / %.2f ms | %.2f / %.2f ms |\n",
                    qPrintable(QFileInfo(file).fileName()), view.duration(), cold.firstDrawn, cold.complete,
                    cold.longestEvent, cold.longestCpu, cold.longestBlock, warm.firstDrawn, warm.complete,
                    warm.longestEvent, warm.longestCpu, warm.longestBlock, outMean, outMax, inMean, inMax);
    }
    std::printf("\nTargets: complete within 1500 ms cold and 50 ms warm; a frame under 8 ms; no UI block over 10 ms.\n");
    return 0;
}
