// Plays a list of entries with stems through the program's own playback (PlayPosition on
// the sample engine, sound to PulseAudio), changing the stems' mix every so often, and
// prints on the monotonic clock when it played and changed, so the recording of the sink
// can be lined up with it.
//
//   stems_driver --row FILE,START,STOP,RATE,LOOPS [--row ...] --stems A|B|C|D
//                [--loop] [--seconds S] [--crossfade MS] [--mix-every S]
//
// Every row plays the same stems. --mix-every cycles the mix: all, the third muted, all,
// the second alone (solo), and again, as the Stems menu does; each change prints
// "MIX <ns> <name>".
#include "engine/routingengine.h"
#include "engine/mpv/mpvengine.h"
#include "engine/sample/sampleengine.h"
#include "playback/entryplayer.h"
#include "playback/listplay.h"
#include "playback/mediaplayer.h"

#include "../driverclock.h"

#include <QApplication>
#include <QStringList>
#include <QTimer>

#include <clocale>
#include <cstdio>
#include <ctime>

using namespace engine;
using namespace playback;

namespace {

class Rows : public EntryList {
public:
    QList<QStringList> rows;
    StemSet stems;
    int rowCount() const override { return int(rows.size()); }
    QStringList rowTexts(int row) const override { return rows.value(row - 1); }
    void setRow(int row, const QStringList& texts, const PracticeSettings&) override { rows[row - 1] = texts; }
    void selectRow(int row) override
    {
        std::printf("SELECT %d %lld\n", row, monoNs());
        std::fflush(stdout);
    }
    PracticeSettings rowPractice(int) const override { return PracticeSettings{.stems = stems}; }
};

double cpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + t.tv_nsec / 1e9;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    QLocale::setDefault(QLocale::c());
    Rows list;
    bool loop = false;
    double seconds = 5, mixEvery = 0;
    int crossfadeMs = SampleEngine::Options{}.crossfadeMs;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        const QString value = i + 1 < args.size() ? args[i + 1] : QString();
        if (a == "--row") list.rows << value.split(','), ++i;
        else if (a == "--stems") {
            for (const QString& f : value.split('|')) list.stems.stems << Stem{f};
            ++i;
        } else if (a == "--loop") loop = true;
        else if (a == "--seconds") seconds = value.toDouble(), ++i;
        else if (a == "--crossfade") crossfadeMs = value.toInt(), ++i;
        else if (a == "--mix-every") mixEvery = value.toDouble(), ++i;
        else return std::fprintf(stderr, "unknown argument %s\n", qPrintable(a)), 2;
    }
    if (list.rows.isEmpty() || list.rows[0].size() != 5 || list.stems.stems.size() < 3)
        return std::fprintf(stderr, "need --row FILE,START,STOP,RATE,LOOPS and --stems A|B|C\n"), 2;

    auto* sample = new SampleEngine(SampleEngine::Options{true, crossfadeMs});
    MediaPlayer media(new RoutingEngine(sample, new MpvEngine(MpvEngine::Options{false, true})));
    EntryPlayer entry(media.control());
    qint32 currentId = 0;
    entry.setNextEntrySource([&] { return GetNextEntry(list, currentId); });
    entry.setNextEntryPeek([&] { return PeekNextEntry(list, currentId); });

    int step = 0;
    QTimer mixes;
    QObject::connect(&mixes, &QTimer::timeout, [&] {
        StemSet m = list.stems;
        for (Stem& s : m.stems) s.mute = s.solo = false;
        const char* name = "all";
        switch (++step % 4) {
        case 1: m.stems[2].mute = true, name = "mute3"; break;
        case 3: m.stems[1].solo = true, name = "solo2"; break;
        default: break;
        }
        std::printf("MIX %lld %s\n", monoNs(), name);
        std::fflush(stdout);
        // As the Stems menu changes them: the playing entry's settings, and its row, which
        // the entries that follow are read from.
        list.stems = m;
        PracticeSettings practice = entry.current().practice;
        practice.stems = m;
        entry.changePractice(practice);
    });

    const QStringList& row = list.rows[0];
    currentId = 1;
    const double cpu0 = cpuSeconds();
    std::printf("PLAY %lld\n", monoNs());
    entry.PlayPosition(row[0], row[1], row[2], row[3], row[4], loop, PracticeSettings{.stems = list.stems});
    if (mixEvery > 0) mixes.start(int(mixEvery * 1000));
    runFor(seconds);
    mixes.stop();
    std::printf("OUTPUT %s\n", qPrintable(sample->outputName()));
    std::printf("CPU %.6f %.6f\n", cpuSeconds() - cpu0, seconds);
    std::printf("END %lld\n", monoNs());
    entry.stopPlayback();
    runFor(0.1);
    return 0;
}
