// Prints the beats a file's sound gives our tracker, one a line: seconds, then 1 for a
// downbeat. With --midi a MIDI file's own metre instead (the ground truth of a rendering).
// The analysis time goes to stderr: wall clock and processor time (the analysis runs on one
// thread, so on a busy machine the second says what it costs).
#include "beats/beatanalysis.h"
#include "midi/midifile.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>

#include <cstdio>
#include <ctime>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.isEmpty()) {
        std::fprintf(stderr, "usage: beats_track [--midi] FILE\n");
        return 2;
    }
    const bool midi = args.first() == QLatin1String("--midi");
    const QString path = args.last();
    QElapsedTimer timer;
    timer.start();
    const std::clock_t cpu = std::clock();
    QString error;
    std::optional<beats::BeatGrid> grid;
    if (midi) {
        QFile f(path);
        f.open(QIODevice::ReadOnly);
        if (auto song = midi::parse(f.readAll(), &error)) grid = beats::fromSong(*song);
    } else {
        grid = beats::analyseFile(path, &error);
    }
    if (!grid) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    std::fprintf(stderr, "analysis %.3f s, processor %.3f s, meter %d\n", timer.nsecsElapsed() / 1e9,
                 double(std::clock() - cpu) / CLOCKS_PER_SEC, grid->meter);
    size_t bar = 0;
    for (size_t i = 0; i < grid->beats.size(); ++i) {
        const bool down = bar < grid->bars.size() && grid->bars[bar] == int(i);
        if (down) ++bar;
        std::printf("%.4f %d\n", grid->beats[i], down ? 1 : 0);
    }
    return 0;
}
