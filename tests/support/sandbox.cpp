#include "support/sandbox.h"

#include "app/globals.h"
#include "playback/entryplayer.h"
#include "services/messages.h"
#include "storage/modkelini.h"
#include "support/fakeengine.h"
#include "support/testkit.h"

#include <QLocale>
#include <QStandardPaths>
#include <QTimer>
#include "engine/enginefactory.h"

namespace testkit {

Sandbox::Sandbox()
{
    app::strIniPath = dir.filePath("vamplet.ini");
    app::blnPanelClosed = false;
    a = writeFile(dir.filePath("a.wav"), 10);
    b = writeFile(dir.filePath("b.wav"), 10);
    c = writeFile(dir.filePath("c.wav"), 10);
}

void useFakeEngines(FakeEngine** lastMade)
{
    QStandardPaths::setTestModeEnabled(true);
    QLocale::setDefault(QLocale::c());
    engine::setEngineFactory([lastMade] {
        auto* engine = new FakeEngine;
        if (lastMade) *lastMade = engine;
        return engine;
    });
}

void sayRefusals(playback::EntryPlayer& playback)
{
    using playback::EntryPlayer;
    QObject::connect(&playback, &EntryPlayer::fileNotFound, [](const QString& path) { services::TellNotFound(path, nullptr); });
    QObject::connect(&playback, &EntryPlayer::cannotPlay,
                     [](const QString& path, const QString& why) { services::TellCannotPlay(path, why, nullptr); });
}

void runPlayer(FakeEngine& engine, playback::EntryPlayer& playback, int ms, const std::function<void()>& afterTick)
{
    for (int t = 1; t <= ms; ++t) {
        engine.advance(1);
        if (t % playback::EntryPlayer::kTickMs) continue;
        if (playback.inPlay()) playback.tick();
        if (afterTick) afterTick();
    }
}

} // namespace testkit
