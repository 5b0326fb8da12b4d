// Plays one benchmark case through the program's own playback (PlayPosition on the real
// engine, sound to PulseAudio) and prints when each command was given, on the monotonic
// clock, so the recording of the sink can be lined up with it.
//
//   seam_driver --row FILE,START,STOP,RATE,LOOPS [--row ...] [--warm FILE]
//               [--loop] [--seconds S] [--replay S] [--engine program|mpv] [--stall MS]
//               [--crossfade MS]
//
// Rows form the list; row 1 is played first (endless with --loop, counted otherwise).
// --warm plays another file briefly first, so the output is open as in a running program.
// --replay stops after S seconds, waits, and plays row 1 again on the loaded file.
// Every 10 ms it prints the position the player reports, to be set against what is heard.
// --engine mpv plays everything on mpv, as the program did before its own sample engine;
// the default is the program's choice. --stall holds the UI thread for MS every second.
#include "app/numbertext.h"
#include "playback/entryplayer.h"
#include "playback/listplay.h"
#include "playback/mediaplayer.h"
#include "engine/mpv/mpvengine.h"
#include "engine/routingengine.h"
#include "engine/sample/sampleengine.h"

#include "../driverclock.h"

#include <QApplication>
#include <QEventLoop>
#include <QStringList>
#include <QTimer>

#include <chrono>
#include <clocale>
#include <cstdio>
#include <sys/resource.h>

using namespace engine;
using namespace playback;

namespace {

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void event(const char* name)
{
    std::printf("EVENT %s %lld\n", name, monoNs());
    std::fflush(stdout);
}

class Rows : public EntryList {
public:
    QList<QStringList> rows;
    int rowCount() const override { return int(rows.size()); }
    QStringList rowTexts(int row) const override { return rows.value(row - 1); }
    void setRow(int row, const QStringList& texts, const PracticeSettings&) override { rows[row - 1] = texts; }
    void selectRow(int row) override
    {
        std::printf("SELECT %d %lld\n", row, monoNs());
        std::fflush(stdout);
    }
};

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    QLocale::setDefault(QLocale::c());

    Rows list;
    QString warm;
    bool loop = false;
    double seconds = 5, replay = 0;
    QString engineName = "program";
    int stallMs = 0;
    int crossfadeMs = SampleEngine::Options{}.crossfadeMs;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        const QString value = i + 1 < args.size() ? args[i + 1] : QString();
        if (a == "--row") list.rows << value.split(','), ++i;
        else if (a == "--warm") warm = value, ++i;
        else if (a == "--loop") loop = true;
        else if (a == "--seconds") seconds = value.toDouble(), ++i;
        else if (a == "--replay") replay = value.toDouble(), ++i;
        else if (a == "--engine") engineName = value, ++i;
        else if (a == "--stall") stallMs = value.toInt(), ++i;
        else if (a == "--crossfade") crossfadeMs = value.toInt(), ++i;
        else {
            std::fprintf(stderr, "unknown argument %s\n", qPrintable(a));
            return 2;
        }
    }
    if (list.rows.isEmpty() || list.rows[0].size() != 5) {
        std::fprintf(stderr, "need --row FILE,START,STOP,RATE,LOOPS\n");
        return 2;
    }

    MediaEngine* engine = new MpvEngine(MpvEngine::Options{false, true});
    SampleEngine* sample = nullptr;
    if (engineName != "mpv") {
        sample = new SampleEngine(SampleEngine::Options{true, crossfadeMs});
        engine = new RoutingEngine(sample, engine);
    }
    MediaPlayer media(engine);
    EntryPlayer entry(media.control());
    qint32 currentId = 0;
    entry.setNextEntrySource([&] { return GetNextEntry(list, currentId); });
    entry.setNextEntryPeek([&] { return PeekNextEntry(list, currentId); });

    // A window that freezes now and then, as a busy desktop does.
    QTimer stall;
    QObject::connect(&stall, &QTimer::timeout, [&] {
        event("stall");
        const long long until = monoNs() + stallMs * 1000000LL;
        while (monoNs() < until) {
        }
    });
    if (stallMs > 0) stall.start(1000);

    if (!warm.isEmpty()) {
        entry.PlayPosition(warm, "0.5", "5", "1", "1", true);
        runFor(0.5);
        entry.stopPlayback();
        runFor(0.4);
    }

    QTimer positions;
    positions.setTimerType(Qt::PreciseTimer);
    QObject::connect(&positions, &QTimer::timeout, [&] {
        const double at = media.control()->CurrentPosition();
        std::printf("POS %lld %.6f\n", monoNs(), at);
    });

    const QStringList& row = list.rows[0];
    currentId = 1;
    const double cpu0 = cpuSeconds();
    const long long wall0 = monoNs();
    event("play_new");
    entry.PlayPosition(row[0], row[1], row[2], row[3], row[4], loop);
    positions.start(10);
    runFor(seconds);
    if (replay > 0) {
        event("stop");
        entry.stopPlayback();
        runFor(0.4);
        currentId = 1;
        event("play_loaded");
        entry.PlayPosition(row[0], row[1], row[2], row[3], row[4], loop);
        runFor(replay);
    }
    positions.stop();
    std::printf("CPU %.4f %.4f\n", cpuSeconds() - cpu0, (monoNs() - wall0) / 1e9);
    rusage peak{};
    getrusage(RUSAGE_SELF, &peak);
    std::printf("RSS %ld\n", peak.ru_maxrss);
    if (sample) std::printf("UNDERFLOWS %lld\n", static_cast<long long>(sample->outputUnderflows()));
    event("end");
    entry.stopPlayback();
    runFor(0.1);
    return 0;
}
