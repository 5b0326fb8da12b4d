// How late a timer on the UI thread fires while the beats of a long file are found on the
// worker, as the player's waveform has them found.
//
//   ui_stall FILE         prints the timer's lateness: the largest, how many over 10 ms, ticks
//   ui_stall --view FILE  the same with a waveform view (offscreen) on FILE: its peaks and
//                         beats found together, drawn as they arrive, as in the player
//   ui_stall --idle S     the same for S seconds with nothing analysed: what the machine's
//                         load alone costs the timer
//
// Each late tick is put down to the UI thread's own work when the thread ran (its processor
// time) for more than half the lateness since the tick before, else to waiting for a core.
// The caches go to a fresh folder, so the file is analysed, not read back.
#include "beats/beatsource.h"
#include "waveform/waveformsource.h"
#include "waveform/waveformview.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace {

qint64 threadCpuNs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return qint64(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const bool idle = args.size() == 3 && args[1] == "--idle";
    const bool withView = args.size() == 3 && args[1] == "--view";
    if (args.size() != 2 && !idle && !withView) {
        std::fprintf(stderr, "usage: ui_stall FILE | --view FILE | --idle SECONDS\n");
        return 2;
    }
    QTemporaryDir cache;
    beats::setCacheFolder(cache.path());
    waveform::setCacheFolder(cache.path());
    beats::BeatSource plain;
    waveform::WaveformView* view = withView ? new waveform::WaveformView : nullptr;
    beats::BeatSource& source = view ? *view->beats() : plain;
    constexpr int kTickMs = 5;
    constexpr qint64 kOverNs = 10000000LL;
    QElapsedTimer clock;
    qint64 last = 0, lastCpu = threadCpuNs(), startCpu = lastCpu, worst = 0, over = 0, ours = 0, ticks = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed(), cpu = threadCpuNs();
        const qint64 late = now - last - kTickMs * 1000000LL;
        worst = std::max(worst, late);
        if (late > kOverNs) {
            ++over;
            ours += (cpu - lastCpu) > late / 2;
        }
        ++ticks;
        last = now;
        lastCpu = cpu;
    });
    const auto report = [&](const char* what) {
        std::printf("%s, %.2f s, timer late at most %.2f ms, %lld of %lld ticks over 10 ms (%lld while the UI thread "
                    "worked), UI thread processor %.1f ms\n",
                    what, clock.nsecsElapsed() / 1e9, worst / 1e6, over, ticks, ours,
                    (threadCpuNs() - startCpu) / 1e6);
        app.quit();
    };
    QObject::connect(&source, &beats::BeatSource::changed, [&] {
        if (source.status() == beats::BeatSource::Status::Analysing) return;
        const QByteArray what = "status " + QByteArray::number(int(source.status())) + ", " +
                                QByteArray::number(qulonglong(source.grid().beats.size())) + " beats";
        report(what.constData());
    });
    clock.start();
    tick.start(kTickMs);
    if (idle) {
        QTimer::singleShot(int(args[2].toDouble() * 1000), [&] { report("idle"); });
    } else if (view) {
        view->resize(1400, 240);
        view->show();
        view->setFile(args[2]);
    } else {
        source.setFile(args[1]);
    }
    const int rc = app.exec();
    delete view;
    return rc;
}
