// Plays one practice case through the program's own playback (PlayPosition on the sample
// engine, sound to PulseAudio) and prints what it did on the monotonic clock, so that the
// recording of the sink can be read against it.
//
//   practice_driver --row FILE,START,STOP,RATE,LOOPS [--loop] [--seconds S]
//                   [--practice PAUSE;COUNTIN;TRAINER;PITCH] [--crossfade MS]
//                   [--change-at S --new-stop D --how live|restart] [--engine sample|mpv]
//                   [--next FILE,START,STOP,RATE,LOOPS [--next-practice P]]
//                   [--grid FIRST,INTERVAL,COUNT,DOWNBEAT,METER] [--next-grid ...]
//
// --practice takes the texts as the playlist file keeps them ("" for off): pause,
// count-in, trainer, pitch and the beat words ("auto click").
// --grid gives the engine the row's file's beats: COUNT beats INTERVAL seconds apart from
// FIRST, bars of METER from beat DOWNBEAT on; --next-grid the next entry's file's, given
// ahead of the hand-over, as the list's look-ahead gives them while the row plays.
// --change-at: S seconds after play, the stretch's stop is moved to D seconds past the
// position heard then, while it plays ("live": the engine's setLoop) or by playing the
// entry again with the new stop ("restart", as before there was a live way).
// --engine mpv plays on the video engine instead, whatever the file.
// --next: the list's next entry (then nothing), with its own practice settings.
#include "playback/entryplayer.h"
#include "playback/mediaplayer.h"
#include "engine/mpv/mpvengine.h"
#include "engine/sample/sampleengine.h"
#include "storage/practicekeys.h"
#include "beats/beatgrid.h"

#include "../driverclock.h"

#include <QApplication>
#include <QEventLoop>
#include <QStringList>
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

    QStringList row;
    bool loop = false;
    double seconds = 5, changeAt = 0, newStop = 0;
    QString how = "live", engineName = "sample";
    PracticeSettings practice, nextPractice;
    QStringList next, grid, nextGrid;
    int crossfadeMs = SampleEngine::Options{}.crossfadeMs;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        const QString value = i + 1 < args.size() ? args[i + 1] : QString();
        if (a == "--row") row = value.split(','), ++i;
        else if (a == "--loop") loop = true;
        else if (a == "--seconds") seconds = value.toDouble(), ++i;
        else if (a == "--crossfade") crossfadeMs = value.toInt(), ++i;
        else if (a == "--change-at") changeAt = value.toDouble(), ++i;
        else if (a == "--new-stop") newStop = value.toDouble(), ++i;
        else if (a == "--how") how = value, ++i;
        else if (a == "--engine") engineName = value, ++i;
        else if (a == "--next") next = value.split(','), ++i;
        else if (a == "--grid") grid = value.split(','), ++i;
        else if (a == "--next-grid") nextGrid = value.split(','), ++i;
        else if (a == "--practice" || a == "--next-practice") {
            const QStringList t = value.split(';');
            int refused = 0;
            (a == "--practice" ? practice : nextPractice) =
                storage::practiceOf({t.value(0), t.value(1), t.value(2), t.value(3), t.value(4)}, &refused);
            if (refused) {
                std::fprintf(stderr, "practice settings refused: %s\n", qPrintable(value));
                return 2;
            }
            ++i;
        } else {
            std::fprintf(stderr, "unknown argument %s\n", qPrintable(a));
            return 2;
        }
    }
    if (row.size() != 5) {
        std::fprintf(stderr, "need --row FILE,START,STOP,RATE,LOOPS\n");
        return 2;
    }

    auto* sample = engineName == "mpv" ? nullptr : new SampleEngine(SampleEngine::Options{true, crossfadeMs});
    MediaEngine* engine = sample;
    if (!sample) engine = new MpvEngine(MpvEngine::Options{false, true});
    MediaPlayer media(engine);
    EntryPlayer entry(media.control());
    int nextTaken = 0;
    const auto nextEntry = [&] {
        if (next.size() != 5 || nextTaken > 0) return EntryRecord{};
        return EntryRecord{1, next[0], next[1].toDouble(), next[2].toDouble(), next[3].toDouble(), next[4].toDouble(),
                           nextPractice};
    };
    entry.setNextEntryPeek(nextEntry);
    entry.setNextEntrySource([&] {
        const EntryRecord r = nextEntry();
        ++nextTaken;
        return r;
    });
    QObject::connect(engine, &MediaEngine::nextStarted, [] { std::printf("NEXT %lld\n", monoNs()); });
    QObject::connect(engine, &MediaEngine::loopWrapped, [] { std::printf("WRAP %lld\n", monoNs()); });
    QObject::connect(engine, &MediaEngine::passRateChanged,
                     [](double r) { std::printf("PASSRATE %lld %.6f\n", monoNs(), r); });

    // The position the player reports every 10 ms, as the panel and the timers read it.
    QTimer positions;
    positions.setTimerType(Qt::PreciseTimer);
    QObject::connect(&positions, &QTimer::timeout, [&] { std::printf("POS %lld %.6f\n", monoNs(), media.control()->CurrentPosition()); });
    positions.start(10);

    // As the list's look-ahead hands the engine the next entry's beats while the one before plays.
    const auto giveGrid = [&](const QStringList& fields, const QString& file) {
        if (fields.size() != 5) return;
        auto g = std::make_shared<beats::BeatGrid>();
        for (int b = 0; b < fields[2].toInt(); ++b) g->beats.push_back(fields[0].toDouble() + b * fields[1].toDouble());
        for (int b = fields[3].toInt(); b < fields[2].toInt(); b += fields[4].toInt()) g->bars.push_back(b);
        g->meter = fields[4].toInt();
        engine->setBeats(file, g);
    };
    giveGrid(grid, row[0]);
    if (next.size() == 5) giveGrid(nextGrid, next[0]);
    std::printf("OUTPUT %s\n", sample ? qPrintable(sample->outputName()) : "pulse");
    std::printf("PLAY %lld\n", monoNs());
    entry.PlayPosition(row[0], row[1], row[2], row[3], row[4], loop, practice);
    if (changeAt > 0) {
        runFor(changeAt);
        const double heard = media.control()->CurrentPosition();
        const double stop = heard + newStop;
        std::printf("CHANGE %lld %.6f %.6f\n", monoNs(), heard, stop);
        if (how == "live") {
            LoopRange range = engine->loop();
            range.stop = stop;
            media.control()->setLoop(range);
        } else {
            entry.PlayPosition(row[0], row[1], QString::number(stop, 'f', 6), row[3], row[4], loop, practice);
        }
        std::fflush(stdout);
        runFor(seconds - changeAt);
    } else {
        runFor(seconds);
    }
    std::printf("END %lld\n", monoNs());
    entry.stopPlayback();
    runFor(0.1);
    return 0;
}
