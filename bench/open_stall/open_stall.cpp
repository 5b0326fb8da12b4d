// How long the UI thread stands still when the player opens a file, as the list does for a
// whole-file entry: the Open call itself, and the longest gap between the ticks of a 1 ms
// timer during the following second (work an engine queues for later lands there). Also the
// first Duration() after it (the length read from the file's headers) and, alone, the probe
// that reads them. Then a play from the middle (a seek and Play, as for a stretch) and the
// longest gap in the half second after it, with the file decoding.
//
//   open_stall [--runs N] FILE...
//
// Each file is opened N times (default 5), each time after another file and with a new time
// of change, so every open is a real load of a file not read before. Engines are the program's own stack with null outputs: what is measured is our
// code's time on the UI thread, not the sound server's.
#include "playback/mediaplayer.h"
#include "engine/mediaprobe.h"
#include "engine/midi/midiengine.h"
#include "engine/mpv/mpvengine.h"
#include "engine/routingengine.h"
#include "engine/sample/sampleengine.h"

#include <QApplication>
#include <QDateTime>
#include <QFile>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTimer>

#include <algorithm>
#include <clocale>
#include <cstdio>

using namespace engine;
using namespace playback;

namespace {

struct Sample {
    double openMs = 0;
    double lengthMs = 0;
    double gapMs = 0;
    double durationAtReturn = 0;
    double durationLater = 0;
    double playMs = 0;
    double playGapMs = 0;
};

// Runs the event loop for `ms`, ticking every millisecond; returns the longest gap.
double longestGap(int ms)
{
    QElapsedTimer clock;
    clock.start();
    qint64 last = clock.nsecsElapsed(), worst = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(1);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        worst = std::max(worst, now - last);
        last = now;
    });
    tick.start();
    while (clock.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    return worst / 1e6;
}

// A new time of change: the file counts as not read before (its headers are read again).
void touch(const QString& file)
{
    QFile f(file);
    if (f.open(QIODevice::ReadWrite)) f.setFileTime(QDateTime::currentDateTime(), QFileDevice::FileModificationTime);
}

Sample openOnce(MediaPlayer& player, const QString& file)
{
    touch(file);
    Sample s;
    QElapsedTimer t;
    t.start();
    player.control()->Open(file);
    s.openMs = t.nsecsElapsed() / 1e6;
    t.restart();
    s.durationAtReturn = player.control()->Duration();
    s.lengthMs = t.nsecsElapsed() / 1e6;
    s.gapMs = longestGap(1000);
    s.durationLater = player.control()->Duration();
    t.restart();
    player.control()->setCurrentPosition(s.durationLater / 2);
    player.control()->Play();
    s.playMs = t.nsecsElapsed() / 1e6;
    s.playGapMs = longestGap(500);
    player.control()->Stop();
    return s;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    QStringList args = app.arguments().mid(1);
    int runs = 5;
    if (args.size() >= 2 && args.first() == "--runs") {
        runs = args.at(1).toInt();
        args = args.mid(2);
    }
    if (args.isEmpty()) {
        std::fprintf(stderr, "usage: open_stall [--runs N] FILE...\n");
        return 2;
    }
    MediaPlayer player(new MidiEngine(new RoutingEngine(new SampleEngine(SampleEngine::Options{false, 5}),
                                                        new MpvEngine(MpvEngine::Options{false, false}))));
    std::printf("%-12s %5s %11s %11s %13s %11s %10s %11s %15s  %s\n", "file", "MB", "Open ms med", "Open ms max",
                "Duration() ms", "probe ms", "gap ms max", "Play ms max", "play gap ms max", "length s");
    for (int i = 0; i < args.size(); ++i) {
        const QString file = args.at(i);
        const QString other = args.at((i + 1) % args.size());
        std::vector<double> open, gap, length, probe, play, playGap;
        Sample last;
        for (int r = 0; r < runs; ++r) {
            if (other != file) openOnce(player, other);
            last = openOnce(player, file);
            open.push_back(last.openMs);
            length.push_back(last.lengthMs);
            touch(file);
            QElapsedTimer t;
            t.start();
            probeMedia(file);
            probe.push_back(t.nsecsElapsed() / 1e6);
            gap.push_back(last.gapMs);
            play.push_back(last.playMs);
            playGap.push_back(last.playGapMs);
        }
        const QString lengthText = QString::number(last.durationAtReturn, 'f', 3) +
                               (last.durationLater != last.durationAtReturn
                                    ? QStringLiteral(" (then %1)").arg(last.durationLater, 0, 'f', 3)
                                    : QString());
        const auto most = [](const std::vector<double>& v) { return *std::max_element(v.begin(), v.end()); };
        std::printf("%-12s %5.0f %11.1f %11.1f %13.1f %11.1f %10.1f %11.1f %15.1f  %s\n",
                    qPrintable(QFileInfo(file).fileName()), QFileInfo(file).size() / 1e6, median(open), most(open),
                    median(length), median(probe), most(gap), most(play), most(playGap), qPrintable(lengthText));
        std::fflush(stdout);
    }
    return 0;
}
