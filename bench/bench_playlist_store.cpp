// Loading and saving playlists of 1,000 and 10,000 entries. Prints the best of a few
// runs next to the targets; run it from a Release build.
#include "app/globals.h"
#include "storage/modkelini.h"
#include "storage/playliststore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>
#include <algorithm>
#include <functional>

using namespace storage;

namespace {

constexpr int kRuns = 5;
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

double bestMs(const std::function<void()>& prepare, const std::function<void()>& work)
{
    double best = 1e300;
    for (int run = 0; run < kRuns; ++run) {
        prepare();
        QElapsedTimer t;
        t.start();
        work();
        best = std::min(best, t.nsecsElapsed() / 1e6);
    }
    return best;
}

struct Figures {
    double saveNew, saveReplace, loadParsed, loadCached;
};

Figures measure(const QString& iniPath, int count)
{
    app::strIniPath = iniPath;
    const QString name = QStringLiteral("Playlist %1").arg(count);
    const QList<EntryTexts> rowsA = makeRows(count, 0), rowsB = makeRows(count, 1);
    Figures f{};
    bool failed = false;
    auto check = [&](SaveResult r) { failed |= r != SaveResult::Saved; };

    f.saveNew = bestMs([&] { dropIniCache(); QFile::remove(iniPath); },
                       [&] { check(SavePlayList(name, rowsA)); });
    int flip = 0;  // every save changes every entry, so the file is really written
    f.saveReplace = bestMs([] {}, [&] { check(SavePlayList(name, (flip++ % 2) ? rowsA : rowsB)); });
    qsizetype loaded = 0;
    f.loadParsed = bestMs([] { dropIniCache(); }, [&] { loaded = loadPlayList(name).size(); });
    f.loadCached = bestMs([] {}, [&] { loaded = loadPlayList(name).size(); });
    if (failed || loaded != count) {
        QTextStream(stderr) << "FAILED: " << count << " entries, loaded " << loaded << "\n";
        std::exit(1);
    }
    return f;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication qapp(argc, argv);
    QTemporaryDir dir;
    if (!dir.isValid()) return 1;
    QTextStream out(stdout);

    const Figures small = measure(dir.filePath("small.ini"), 1000);
    const Figures big = measure(dir.filePath("big.ini"), 10000);
    const qint64 bigBytes = QFile(dir.filePath("big.ini")).size();

    auto row = [&](const char* what, double s, double b, double target) {
        out << QString("%1 %2 ms %3 ms   x%4").arg(what, -26).arg(s, 9, 'f', 2).arg(b, 9, 'f', 2).arg(b / s, 5, 'f', 1);
        if (target > 0) out << QString("   target <= %1 ms, ratio <= %2  %3")
                                   .arg(target).arg(kRatioTarget)
                                   .arg(b <= target && b / s <= kRatioTarget ? "ok" : "MISSED");
        out << "\n";
    };
    out << "playlist store, best of " << kRuns << " runs; INI file of 10,000 entries: " << bigBytes / 1024 << " KiB\n";
    out << QString("%1 %2 %3   ratio\n").arg("", -26).arg("1,000", 12).arg("10,000", 12);
    row("loadPlayList (file parsed)", small.loadParsed, big.loadParsed, kLoadTargetMs);
    row("loadPlayList (cached)", small.loadCached, big.loadCached, 0);
    row("SavePlayList (replacing)", small.saveReplace, big.saveReplace, kSaveTargetMs);
    row("SavePlayList (new file)", small.saveNew, big.saveNew, 0);

    // The file holds every list, so saving a short list also rewrites the long ones.
    app::strIniPath = dir.filePath("big.ini");
    const QList<EntryTexts> few = makeRows(1000, 0), fewB = makeRows(1000, 1);
    int flip = 0;
    const double shared = bestMs([] {}, [&] { SavePlayList("Short", (flip++ % 2) ? few : fewB); });
    out << QString("SavePlayList of 1,000 entries in the file that also holds 10,000: %1 ms\n").arg(shared, 0, 'f', 2);
    out << "INI parses " << iniStats().parses << ", saves " << iniStats().saves << "\n";
    return 0;
}
