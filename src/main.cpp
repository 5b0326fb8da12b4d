#include "app/commandline.h"
#include "app/globals.h"
#include "app/memory.h"
#include "engine/enginefactory.h"
#include "engine/midi/midiengine.h"
#include "engine/mpv/mpvengine.h"
#include "engine/routingengine.h"
#include "engine/sample/sampleengine.h"
#include "desktop/singleinstance.h"
#include "services/look.h"
#include "services/menufit.h"
#include "windows/forms.h"
#include "windows/frmplayer.h"
#include "windows/mpris.h"
#include "windows/remotecontrol.h"

#include <QApplication>
#include <clocale>

int main(int argc, char** argv)
{
    app::prepareHeap();
    // The video's native child window must not make its neighbours native too: each
    // would be one more window to draw and flush.
    QApplication::setAttribute(Qt::AA_DontCreateNativeWidgetSiblings);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(app::kAppTitle));
    QApplication::setApplicationVersion(QStringLiteral(VAMPLET_VERSION));
    QGuiApplication::setDesktopFileName(QString::fromLatin1(app::kDesktopId));
    const QString commandLine = app::commandLineText(QApplication::arguments());
    // One program per user: a second start hands its file to the first instead of both
    // writing the playlist file.
    if (desktop::claimBusName(app::commandLinePath(commandLine)) == desktop::BusClaim::HandedOver) return 0;
    // The engine refuses any other numeric locale; number text does not depend on it.
    std::setlocale(LC_NUMERIC, "C");
    services::applyLook(app);
    services::keepMenusWithinWindows(app);
    // Sound plays on our sample engine, video on mpv; MIDI files are rendered to sound first.
    engine::setEngineFactory([] {
        return new engine::MidiEngine(new engine::RoutingEngine(
            new engine::SampleEngine(engine::SampleEngine::Options{}), new engine::MpvEngine(engine::MpvEngine::Options{})));
    });

    windows::frmPlayer* window = forms::frmPlayer();
    // The desktop's media keys and sound applets.
    windows::publishMpris(new windows::RemoteControl(window, window));
    window->InitPlayer(commandLine);
    window->show();
    return QApplication::exec();
}
