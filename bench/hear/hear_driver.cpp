// Loops a file on the sample engine (sound to PulseAudio) with hear settings, optionally
// turning them on while it plays, and prints on the monotonic clock when it did, and the
// process's CPU time over the play.
//
//   hear_driver --file F --rate R --seconds S [--hear TEXT] [--change-at T --to TEXT]
//
// TEXT is the playlist key's form ("200-4000 cancel left +6dB").
#include "engine/sample/sampleengine.h"
#include "storage/practicekeys.h"

#include "../driverclock.h"

#include <QCoreApplication>
#include <QStringList>

#include <clocale>
#include <cstdio>
#include <ctime>

using namespace engine;

static double cpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + t.tv_nsec / 1e9;
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    QString file, hearText, toText;
    double rate = 1, seconds = 5, changeAt = 0;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        const QString& a = args[i];
        const QString& v = args[i + 1];
        if (a == "--file") file = v;
        else if (a == "--rate") rate = v.toDouble();
        else if (a == "--seconds") seconds = v.toDouble();
        else if (a == "--hear") hearText = v;
        else if (a == "--change-at") changeAt = v.toDouble();
        else if (a == "--to") toText = v;
        else return std::fprintf(stderr, "unknown argument %s\n", qPrintable(a)), 2;
    }
    const auto hear = storage::hearOf(hearText), to = storage::hearOf(toText);
    if (file.isEmpty() || !hear || !to) return std::fprintf(stderr, "need --file, and hear texts that read\n"), 2;

    SampleEngine engine;
    engine.setHear(*hear);
    engine.setRate(rate);
    engine.load(file);
    if (!engine.waitForLoad(5000)) return std::fprintf(stderr, "cannot open %s\n", qPrintable(file)), 1;
    engine.setLoop(LoopRange{0, engine.duration(), LoopRange::kEndless, false, true});
    std::printf("OUTPUT %s\n", qPrintable(engine.outputName()));
    const double cpu0 = cpuSeconds();
    std::printf("PLAY %lld\n", monoNs());
    engine.play();
    if (changeAt > 0) {
        runFor(changeAt);
        std::printf("CHANGE %lld\n", monoNs());
        std::fflush(stdout);
        engine.setHear(*to);
        runFor(seconds - changeAt);
    } else {
        runFor(seconds);
    }
    std::printf("CPU %.6f %.6f\n", cpuSeconds() - cpu0, seconds);
    std::printf("END %lld\n", monoNs());
    engine.stop();
    return 0;
}
