// How long MIDI files take to become playable: rendering songs of several lengths,
// the whole load through the engine the first time, and again from the cache.
#include "engine/midi/midiengine.h"
#include "midi/midirender.h"
#include "engine/mpv/mpvengine.h"
#include "midi/soundfont.h"
#include "support/testkit.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

using namespace engine;

namespace {

// From load() until the rendering is loaded in the engine, with the event loop running
// as the program's would.
double msUntilLoaded(MidiEngine& e, const QString& path)
{
    QSignalSpy loaded(&e, &MediaEngine::loaded);
    QElapsedTimer t;
    t.start();
    e.load(path);
    if (!e.waitForLoad(5000) && !loaded.wait(120000)) return -1;
    return t.nsecsElapsed() / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    // --keep leaves the songs and renderings behind for a listen.
    if (app.arguments().contains("--keep")) {
        dir.setAutoRemove(false);
        std::printf("files in %s\n", qPrintable(dir.path()));
    }
    midi::setCacheFolder(dir.filePath("cache"));
    const midi::SoundFontChoice font = midi::findSoundFont();
    if (font.path.isEmpty()) {
        std::printf("%s\n", qPrintable(font.problem));
        return 1;
    }
    std::printf("sound font: %s\n", qPrintable(font.path));

    for (double seconds : {10.0, 60.0, 180.0}) {
        const QString path = testkit::writeMidi(dir.filePath(QString("song%1.mid").arg(seconds)), seconds, {true});
        const auto song = midi::parse(testkit::midiBytes(seconds, {true}));
        QElapsedTimer t;
        t.start();
        auto handle = midi::render(dir.filePath(QString("plain%1.wav").arg(seconds)), *song, font.path);
        handle->job()->wait(600000);
        const double renderMs = t.nsecsElapsed() / 1e6;
        std::printf("%5.0f s busy MIDI (%lld events): rendered in %7.1f ms (%.0fx real time), %lld bytes\n", seconds,
                    qint64(song->events.size()), renderMs, seconds * 1000 / renderMs,
                    qint64(QFileInfo(handle->job()->target()).size()));

        MidiEngine e(new MpvEngine(MpvEngine::Options{false, false}));
        std::printf("      first load (render + open):     %7.1f ms\n", msUntilLoaded(e, path));
        std::printf("      second load (from the cache):   %7.1f ms\n", msUntilLoaded(e, path));
    }
    std::printf("target: a 3-minute file playable within a few seconds, the window never blocked "
                "longer than %d ms\n", MidiEngine::kRenderWaitMs);
    return 0;
}
