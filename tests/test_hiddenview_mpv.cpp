// A picture-only file keeps real time while its view is out of sight (the player in the tray).
#include "engine/mpv/mpvengine.h"
#include "engine/mpv/mpvvideoview.h"
#include "support/testkit.h"

#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using engine::MpvEngine;
using engine::MpvVideoView;

class HiddenViewMpvTest : public QObject {
    Q_OBJECT
private slots:
    void framesAreTakenWhileOutOfSight()
    {
        QTemporaryDir dir;
        const QString video = dir.filePath("bars.mkv");
        if (!testkit::makeVideo(video, 10.0, false)) QSKIP("ffmpeg is not available to make a video");
        MpvEngine engine(MpvEngine::Options{true, false});
        std::unique_ptr<MpvVideoView> view(static_cast<MpvVideoView*>(engine.createVideoView(nullptr)));
        if (!view) QSKIP("no OpenGL on this display");
        view->resize(320, 240);
        view->show();
        if (!QTest::qWaitFor([&] { return view->isRendering(); }, 5000)) QSKIP("no OpenGL for mpv here");
        view->hide();
        QTRY_VERIFY_WITH_TIMEOUT(!view->isVisible(), 2000);

        engine.load(video);
        QVERIFY(engine.waitForLoad(5000));
        QTRY_VERIFY_WITH_TIMEOUT(engine.position() > 0.2, 5000);
        // Frames that waited for a paint that never comes ran the clock at 0.78: out of
        // sight they are taken all the same, some 25 a second of position.
        const int taken = view->framesTaken();
        const double from = engine.position();
        QTRY_VERIFY_WITH_TIMEOUT(engine.position() >= from + 2.0, 10000);
        QVERIFY2(view->framesTaken() - taken >= 25, qPrintable(QString::number(view->framesTaken() - taken)));
    }
};

QTEST_MAIN(HiddenViewMpvTest)
#include "test_hiddenview_mpv.moc"
