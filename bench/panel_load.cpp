// How long the control panel takes to show a large playlist in its grid and to write it
// back, for 1,000 and 10,000 entries (offscreen, no engine involved).
#include "app/globals.h"
#include "engine/enginefactory.h"
#include "storage/modkelini.h"
#include "storage/playliststore.h"
#include "support/fakeengine.h"
#include "windows/entrygrid.h"
#include "windows/forms.h"
#include "windows/frmplaylist.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>

namespace {

struct Figures { double loadMs, saveMs; };

Figures measure(int entries, int runs)
{
    QTemporaryDir dir;
    app::strIniPath = dir.filePath("vamplet.ini");
    QList<storage::EntryTexts> rows;
    for (int i = 1; i <= entries; ++i)
        rows.append({QStringLiteral("/music/album %1/track %2.mp3").arg(i / 12).arg(i), QString::number(i % 300),
                     QString::number(i % 300 + 12.5), QStringLiteral("0.75"), QString::number(1 + i % 4)});
    storage::AddNewPlayList(QStringLiteral("Big"));
    storage::AddNewPlayList(QStringLiteral("Empty"));
    storage::SavePlayList(QStringLiteral("Big"), rows);

    panel::frmPlayList* panel = forms::frmPlayList();
    Figures best{1e9, 1e9};
    for (int r = 0; r < runs; ++r) {
        panel->cboPlayListName()->setCurrentIndex(1);  // the empty list
        QElapsedTimer t;
        t.start();
        panel->cboPlayListName()->setCurrentIndex(0);  // shows "Big" in the grid
        best.loadMs = std::min(best.loadMs, t.nsecsElapsed() / 1e6);
        if (panel->lstSelector()->rowCount() != entries) std::fprintf(stderr, "wrong row count\n");
        t.restart();
        panel->SavePlayList();
        best.saveMs = std::min(best.saveMs, t.nsecsElapsed() / 1e6);
    }
    forms::resetAll();
    return best;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    engine::setEngineFactory([] { return new FakeEngine; });
    const Figures small = measure(1000, 7);
    const Figures large = measure(10000, 5);
    std::printf("control panel, best of several runs (file parsed anew for each load)\n");
    std::printf("%8s %12s %12s\n", "entries", "load ms", "save ms");
    std::printf("%8d %12.1f %12.1f\n", 1000, small.loadMs, small.saveMs);
    std::printf("%8d %12.1f %12.1f\n", 10000, large.loadMs, large.saveMs);
    std::printf("ratio 10k/1k: load %.1f, save %.1f\n", large.loadMs / small.loadMs, large.saveMs / small.saveMs);
    std::printf("targets: 10,000 load <= 300 ms and save <= 300 ms; ratio <= 12\n");
    return 0;
}
