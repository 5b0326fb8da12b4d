// Plays a list of entries with stems through the program's own playback (PlayPosition on
// the sample engine, sound to PulseAudio), changing the stems' mix every so often, and
// prints on the monotonic clock when it played and changed, so the recording of the sink
// can be lined up with it.
//
//   stems_driver --row FILE,START,STOP,RATE,LOOPS [--row ...] [--stems A|B|C|D]
//                [--loop] [--seconds S] [--crossfade MS] [--mix-every S]
//
// Every row plays the same stem files, each row with its own mix (all at first). Without
// --stems the rows play their own file, and a change does nothing (the yardstick of one
// file); with one stem a change toggles its solo, which is heard as no change at all but
// goes through the same remix as the stems'.
// --mix-every changes the playing entry's mix through the Stems menu's own calls, which keep
// it in the playing row only: a row heard with all stems gets the third muted or (every
// other time) the second alone, one with a stem muted or alone gets all again. Each change
// prints "MIX <ns> <name> <row>"; each entry heard, "SELECT <row> <ns>".
#include "engine/routingengine.h"
#include "engine/mpv/mpvengine.h"
#include "engine/sample/sampleengine.h"
#include "playback/entryplayer.h"
#include "playback/livestems.h"
#include "playback/listplay.h"
#include "playback/mediaplayer.h"

#include "../driverclock.h"

#include <QApplication>
#include <QStringList>
#include <QTimer>

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <ctime>

using namespace engine;
using namespace playback;

namespace {

class Rows : public EntryList {
public:
    QList<QStringList> rows;
    QList<StemSet> stems;  // each row's
    int rowCount() const override { return int(rows.size()); }
    QStringList rowTexts(int row) const override { return rows.value(row - 1); }
    void setRow(int row, const QStringList& texts, const PracticeSettings& practice) override
    {
        rows[row - 1] = texts;
        stems[row - 1] = practice.stems;
    }
    void selectRow(int row) override
    {
        std::printf("SELECT %d %lld\n", row, monoNs());
        std::fflush(stdout);
    }
    PracticeSettings rowPractice(int row) const override { return PracticeSettings{.stems = stems.value(row - 1)}; }
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
    StemSet stems;
    bool loop = false;
    double seconds = 5, mixEvery = 0;
    int crossfadeMs = SampleEngine::Options{}.crossfadeMs;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        const QString value = i + 1 < args.size() ? args[i + 1] : QString();
        if (a == "--row") list.rows << value.split(','), ++i;
        else if (a == "--stems") {
            for (const QString& f : value.split('|')) stems.stems << Stem{f};
            ++i;
        } else if (a == "--loop") loop = true;
        else if (a == "--seconds") seconds = value.toDouble(), ++i;
        else if (a == "--crossfade") crossfadeMs = value.toInt(), ++i;
        else if (a == "--mix-every") mixEvery = value.toDouble(), ++i;
        else return std::fprintf(stderr, "unknown argument %s\n", qPrintable(a)), 2;
    }
    if (list.rows.isEmpty() || list.rows[0].size() != 5 || stems.stems.size() == 2)
        return std::fprintf(stderr, "need --row FILE,START,STOP,RATE,LOOPS and --stems A, or A|B|C...\n"), 2;

    auto* sample = new SampleEngine(SampleEngine::Options{true, crossfadeMs});
    MediaPlayer media(new RoutingEngine(sample, new MpvEngine(MpvEngine::Options{false, true})));
    EntryPlayer entry(media.control());
    qint32 currentId = 0;
    entry.setNextEntrySource([&] { return GetNextEntry(list, currentId); });
    entry.setNextEntryPeek([&] { return PeekNextEntry(list, currentId); });

    for (int i = 0; i < list.rows.size(); ++i) list.stems << stems;
    LiveStems live(&entry, nullptr);
    live.setList([&]() -> EntryList* { return &list; }, [&] { return int(currentId); });
    int turns = 0;
    QTimer mixes;
    QObject::connect(&mixes, &QTimer::timeout, [&] {
        const StemSet now = live.current();
        const auto changed = std::find_if(now.stems.begin(), now.stems.end(), [](const Stem& s) { return s.mute || s.solo; });
        const char* name = "all";
        if (now.stems.size() < 3) {
            // One file's yardstick: nothing audible changes.
            if (now.any()) live.apply(0, StemStep::Solo);
            name = "same";
        } else if (changed != now.stems.end()) {
            const int stem = int(changed - now.stems.begin());
            live.apply(stem, changed->mute ? StemStep::Mute : StemStep::Solo);
        } else if (++turns % 2) {
            live.apply(2, StemStep::Mute), name = "mute3";
        } else {
            live.apply(1, StemStep::Solo), name = "solo2";
        }
        std::printf("MIX %lld %s %d\n", monoNs(), name, int(currentId));
        std::fflush(stdout);
    });

    const QStringList& row = list.rows[0];
    currentId = 1;
    const double cpu0 = cpuSeconds();
    std::printf("PLAY %lld\n", monoNs());
    entry.PlayPosition(row[0], row[1], row[2], row[3], row[4], loop, PracticeSettings{.stems = stems});
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
