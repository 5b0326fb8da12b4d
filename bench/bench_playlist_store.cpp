// Loading and saving playlists of 1,000 and 10,000 entries. Prints the best of several
// runs next to the targets; run it from a Release build. The runs of both sizes take
// turns, so that a busy machine slows both alike and the ratio stays meaningful.
#include "app/globals.h"
#include "storage/modkelini.h"
#include "storage/playliststore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>
#include <algorithm>
#include <ctime>
#include <functional>

using namespace storage;

namespace {

constexpr int kRuns = 11;
constexpr double kLoadTargetMs = 300, kSaveTargetMs = 300, kRatioTarget = 12;

QList<EntryTexts> makeRows(int count, int variant)
{
    QList<EntryTexts> rows;
    rows.reserve(count);
    for (int i = 1; i <= count; ++i) {
        const QString n = QString::number(i);
        rows.append({"/home/user/Music/Artist " + QString::number(i % 97) + "/Album " + QString::number(i % 13) +
                         "/" + n + " - Some Track Title.flac",
                     QString::number(i % 300 + variant) + ".25", QString::number(i % 300 + 30 + variant) + ".5",
                     variant ? "0.75" : "1", QString::number(1 + i % 4)});
    }
    return rows;
}

double cpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

// Best wall-clock and processor time seen over the runs.
struct Best {
    double wall = 1e300, cpu = 1e300;
    void time(const std::function<void()>& work)
    {
        QElapsedTimer t;
        const double c0 = cpuMs();
        t.start();
        work();
        wall = std::min(wall, t.nsecsElapsed() / 1e6);
        cpu = std::min(cpu, cpuMs() - c0);
    }
};

struct Case {
    int count;
    QString path, name;
    QList<EntryTexts> rowsA, rowsB;
    Best saveNew, saveReplace, loadParsed, loadAgain;
    bool failed = false;

    Case(int n, const QString& file)
        : count(n), path(file), name(QStringLiteral("Playlist %1").arg(n)), rowsA(makeRows(n, 0)), rowsB(makeRows(n, 1))
    {
    }

    void run()
    {
        app::strIniPath = path;
        auto check = [&](SaveResult r) { failed |= r != SaveResult::Saved; };
        QFile::remove(path);
        saveNew.time([&] { check(SavePlayList(name, rowsA)); });
        qsizetype loaded = 0;
        loadParsed.time([&] { loaded = loadPlayList(name).size(); });
        failed |= loaded != count;
        loadAgain.time([&] { loaded = loadPlayList(name).size(); });
        failed |= loaded != count;
        // As after showing a list read from the file: every value changes, so every line
        // is rebuilt and the whole file written.
        saveReplace.time([&] { check(SavePlayList(name, rowsB)); });
    }
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication qapp(argc, argv);
    QTemporaryDir dir;
    if (!dir.isValid()) return 1;
    QTextStream out(stdout);

    Case small(1000, dir.filePath("small.ini")), big(10000, dir.filePath("big.ini"));
    for (int r = 0; r < kRuns; ++r) {
        small.run();
        big.run();
    }
    if (small.failed || big.failed) {
        out << "FAILED: a save did not succeed or a load returned the wrong number of entries\n";
        return 1;
    }

    bool allMet = true;
    auto row = [&](const char* what, const Best& s, const Best& b, double target) {
        const double ratio = b.wall / s.wall;
        out << QString("%1 %2 ms %3 ms  x%4   (cpu %5 / %6 ms, x%7)")
                   .arg(what, -27).arg(s.wall, 8, 'f', 2).arg(b.wall, 8, 'f', 2).arg(ratio, 5, 'f', 1)
                   .arg(s.cpu, 0, 'f', 1).arg(b.cpu, 0, 'f', 1).arg(b.cpu / s.cpu, 0, 'f', 1);
        if (target > 0) {
            const bool met = b.wall <= target && ratio <= kRatioTarget;
            allMet &= met;
            out << QString("   target: 10,000 <= %1 ms, ratio <= %2: %3").arg(target).arg(kRatioTarget).arg(met ? "met" : "MISSED");
        }
        out << "\n";
    };
    out << "playlist store, best of " << kRuns << " runs; the INI file of 10,000 entries is "
        << QFile(big.path).size() / 1024 << " KiB\n";
    out << QString("%1 %2    %3      ratio\n").arg("", -27).arg("1,000", 11).arg("10,000", 11);
    row("loadPlayList (file parsed)", small.loadParsed, big.loadParsed, kLoadTargetMs);
    row("loadPlayList (read again)", small.loadAgain, big.loadAgain, 0);
    row("SavePlayList (replacing)", small.saveReplace, big.saveReplace, kSaveTargetMs);
    row("SavePlayList (new file)", small.saveNew, big.saveNew, 0);

    // One file holds every list, so saving a short list also rewrites the long ones.
    app::strIniPath = big.path;
    const QList<EntryTexts> few = makeRows(1000, 0), fewB = makeRows(1000, 1);
    Best shared;
    for (int r = 0; r < kRuns; ++r) shared.time([&] { SavePlayList("Short", (r % 2) ? few : fewB); });
    out << QString("SavePlayList of 1,000 entries into the file that also holds 10,000: %1 ms\n").arg(shared.wall, 0, 'f', 2);
    out << "INI files parsed " << iniStats().parses << " times, saved " << iniStats().saves << " times\n";
    out << (allMet ? "all targets met\n" : "some targets MISSED\n");
    return 0;
}
