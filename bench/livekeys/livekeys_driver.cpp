// Plays a stretch without end through the program's own playback on the sample engine
// (sound to PulseAudio), and once the position heard reaches --at, changes the stretch's
// stop: with a live loop key (--how key) or by playing the entry again with the new stop
// (--how restart), as an edit of the entry costs without the keys. Prints, on the
// monotonic clock, when the change was asked for, to be lined up with the recording.
// --key pause pauses instead (Ctrl+Space) and plays again 1 s later (RESUME); --key stop
// stops (the Stop command).
//
//   livekeys_driver --file WAV --start S --stop S --at S
//                   --key stop-here|stop-earlier|stop-earlier-coarse|pause|stop
//                   --how key|restart [--seconds S] [--crossfade MS]
#include "app/numbertext.h"
#include "playback/entryplayer.h"
#include "playback/liveloopkeys.h"
#include "playback/mediaplayer.h"
#include "engine/mpv/mpvengine.h"
#include "engine/routingengine.h"
#include "engine/sample/sampleengine.h"

#include "../driverclock.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <clocale>
#include <cstdio>

using namespace engine;
using namespace playback;

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    QLocale::setDefault(QLocale::c());

    QString file, how = "key", keyName = "stop-earlier";
    double start = 1, stop = 3, at = 2.5, seconds = 4;
    int crossfadeMs = 0;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        const QString& a = args[i];
        const QString& v = args[i + 1];
        if (a == "--file") file = v;
        else if (a == "--start") start = v.toDouble();
        else if (a == "--stop") stop = v.toDouble();
        else if (a == "--at") at = v.toDouble();
        else if (a == "--key") keyName = v;
        else if (a == "--how") how = v;
        else if (a == "--seconds") seconds = v.toDouble();
        else if (a == "--crossfade") crossfadeMs = v.toInt();
    }
    const LiveKey key = keyName == "stop-here" ? LiveKey::StopHere : LiveKey::StopEarlier;
    const bool coarse = keyName == "stop-earlier-coarse";

    auto* engine = new RoutingEngine(new SampleEngine(SampleEngine::Options{true, crossfadeMs}),
                                     new MpvEngine(MpvEngine::Options{false, true}));
    MediaPlayer media(engine);
    EntryPlayer entry(media.control());
    LiveLoopKeys keys(&entry, media.control(), nullptr);

    entry.PlayPosition(file, numtext::format(start), numtext::format(stop), "1", "1", true);
    // Waits for the position heard, checked every millisecond, as a hand on the key would.
    QTimer watch;
    watch.setTimerType(Qt::PreciseTimer);
    bool sent = false;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        const double heard = media.control()->CurrentPosition();
        if (sent || heard < at || heard > stop) return;
        sent = true;
        if (keyName == "pause" || keyName == "stop") {
            std::printf("KEY %lld %.6f %.6f\n", monoNs(), heard, heard);
            std::fflush(stdout);
            if (keyName == "stop") {
                entry.stopPlayback();
                return;
            }
            entry.togglePause();
            QTimer::singleShot(1000, [&] {
                std::printf("RESUME %lld %.6f\n", monoNs(), media.control()->CurrentPosition());
                std::fflush(stdout);
                entry.togglePause();
            });
            return;
        }
        const LiveEdit e = liveEdit({{start, stop, 1}, heard, media.control()->Duration()}, key, coarse);
        std::printf("KEY %lld %.6f %.6f\n", monoNs(), heard, e.stretch.stop);
        std::fflush(stdout);
        if (how == "key")
            keys.press(key, coarse);
        else
            entry.PlayPosition(file, e.start, e.stop, e.rate, "1", true);
        std::printf("DONE %lld %.6f %.6f\n", monoNs(), media.control()->CurrentPosition(), entry.current().stop);
        std::fflush(stdout);
    });
    watch.start(1);
    runFor(seconds);
    entry.stopPlayback();
    runFor(0.1);
    return sent ? 0 : 1;
}
