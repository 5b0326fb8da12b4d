// The resident memory a sound file adds to the sample engine: VmRSS before the load,
// once loaded, and after playing from the middle for a while.
//   memory_driver FILE [--rate R] [--seconds S]
#include "engine/sample/sampleengine.h"

#include "../driverclock.h"

#include <QCoreApplication>
#include <QFile>
#include <QStringList>

#include <cstdio>

namespace {

long residentKb()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: memory_driver FILE [--rate R] [--seconds S]\n");
        return 2;
    }
    double rate = 1, seconds = 5;
    for (int i = 2; i + 1 < args.size(); i += 2) {
        if (args[i] == "--rate") rate = args[i + 1].toDouble();
        if (args[i] == "--seconds") seconds = args[i + 1].toDouble();
    }
    // The null output: the server's own buffers are not the engine's.
    engine::SampleEngine engine(engine::SampleEngine::Options{false});
    runFor(0.2);
    const long before = residentKb();
    engine.load(args[1]);
    if (!engine.waitForLoad(10000)) {
        std::fprintf(stderr, "cannot open %s\n", qPrintable(args[1]));
        return 1;
    }
    runFor(0.2);
    const long loaded = residentKb();
    engine.setRate(rate);
    engine.seek(engine.duration() / 2);
    engine.play();
    runFor(seconds);
    const long played = residentKb();
    std::printf("RSS_KB before %ld loaded %ld played %ld position %.1f\n", before, loaded, played, engine.position());
    return 0;
}
