// How late a timer on the UI thread fires while the beats of a long file are found on the
// worker, as the player's waveform has them found.
//
//   ui_stall FILE      prints the timer's lateness: the largest, how many over 10 ms, ticks
//   ui_stall --idle S  the same for S seconds with nothing analysed: what the machine's load
//                      alone costs the timer
//
// The grids' cache goes to a fresh folder, so the file is analysed, not read back.
#include "beats/beatsource.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const bool idle = args.size() == 3 && args[1] == "--idle";
    if (args.size() != 2 && !idle) {
        std::fprintf(stderr, "usage: ui_stall FILE | --idle SECONDS\n");
        return 2;
    }
    QTemporaryDir cache;
    beats::setCacheFolder(cache.path());
    beats::BeatSource source;
    constexpr int kTickMs = 5;
    QElapsedTimer clock;
    qint64 last = 0, worst = 0, over = 0, ticks = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        const qint64 late = now - last - kTickMs * 1000000LL;
        worst = std::max(worst, late);
        over += late > 10000000LL;
        ++ticks;
        last = now;
    });
    QObject::connect(&source, &beats::BeatSource::changed, [&] {
        if (source.status() == beats::BeatSource::Status::Analysing) return;
        std::printf("status %d, %zu beats, %.2f s, timer late at most %.2f ms, %lld of %lld ticks over 10 ms\n",
                    int(source.status()), source.grid().beats.size(), clock.nsecsElapsed() / 1e9, worst / 1e6,
                    over, ticks);
        app.quit();
    });
    clock.start();
    tick.start(kTickMs);
    if (idle) {
        QTimer::singleShot(int(args[2].toDouble() * 1000), [&] {
            std::printf("idle %.2f s, timer late at most %.2f ms, %lld of %lld ticks over 10 ms\n",
                        clock.nsecsElapsed() / 1e9, worst / 1e6, over, ticks);
            app.quit();
        });
    } else {
        source.setFile(args[1]);
    }
    return app.exec();
}
