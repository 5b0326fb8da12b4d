// Starts the control panel on a given playlist INI file, or imports a given .obs file into
// it, as the user would, with every question answered the plain way; prints how long the
// step took and what the user was told. bench/hostile/run.sh measures the rest from outside.
//   hostile_driver startup INI
//   hostile_driver import INI OBS
//   hostile_driver midi FILE        (the MIDI reader alone, as a rendering starts)
//   hostile_driver looplist FILE    (a loop list's reader alone, before the grid takes it)
#include "app/globals.h"
#include "app/memory.h"
#include "midi/midifile.h"
#include "storage/looplists.h"
#include "engine/enginefactory.h"
#include "services/messages.h"
#include "support/fakeengine.h"
#include "windows/entrygrid.h"
#include "windows/forms.h"
#include "windows/frmplaylist.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>
#include <cstdio>

int main(int argc, char** argv)
{
    app::prepareHeap();  // as the program does
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.value(1) == QLatin1String("looplist")) {
        bool ok = false;
        const storage::LoopList list = storage::readLoopListFile(args.value(2), ok);
        std::printf("rows=%d told=%d first=\"%s\"\n", int(list.entries.size()), int(list.notes.size()),
                    qPrintable(list.notes.value(0)));
        std::fflush(stdout);
        std::_Exit(0);
    }
    if (args.value(1) == QLatin1String("midi")) {
        QFile file(args.value(2));
        QString why;
        const auto song = file.open(QIODevice::ReadOnly) ? midi::parse(file.read(midi::kMaxFileBytes + 1), &why)
                                                         : std::nullopt;
        std::printf("rows=%d told=%d first=\"%s\"\n", song ? int(song->events.size()) : 0, song ? 0 : 1, qPrintable(why));
        std::fflush(stdout);
        std::_Exit(0);
    }
    const bool import = args.value(1) == QLatin1String("import");
    if (args.size() < (import ? 4 : 3)) {
        std::fprintf(stderr, "usage: hostile_driver startup INI | import INI OBS\n");
        return 2;
    }
    QStandardPaths::setTestModeEnabled(true);
    engine::setEngineFactory([] { return new FakeEngine; });
    app::strIniPath = args[2];

    int told = 0;
    QString first;
    services::setMessageAnswer([&](const services::MessageRequest& r) {
        if (r.title == QLatin1String("New Playlist?")) return int(services::vbAbort);  // " Existing "
        if (told++ == 0) first = r.text.section(u'\n', 0, 3).simplified();
        return int(services::vbOK);
    });
    services::setInputAnswer([](const services::InputRequest& r) { return r.defaultText; });
    services::setFileAnswer([&](const services::FileDialogRequest&) { return args.value(3); });

    QElapsedTimer t;
    t.start();
    panel::frmPlayList* panel = forms::frmPlayList();
    if (import) {
        told = 0;
        first.clear();
        t.restart();
        panel->ExportImportPlayList(true);
    }
    const double ms = t.nsecsElapsed() / 1e6;
    std::printf("ms=%.1f rows=%d playlists=%d told=%d first=\"%s\"\n", ms, panel->lstSelector()->rowCount(),
                panel->cboPlayListName()->count(), told, qPrintable(first.left(100)));
    std::fflush(stdout);
    std::_Exit(0);  // the figures are out; the windows need no orderly close
}
