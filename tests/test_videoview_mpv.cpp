// The engine's pictures on screen, through mpv's render API in an OpenGL window of its own.
#include "playback/mediaplayer.h"
#include "engine/mpv/mpvengine.h"
#include "engine/mpv/mpvvideoview.h"
#include "support/testkit.h"

#include <QApplication>
#include <QImage>
#include <QOpenGLWindow>
#include <QSet>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using playback::MediaPlayer;
using engine::MpvEngine;
using engine::MpvVideoView;

class VideoViewMpvTest : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    QString m_video;

    static int colours(const QImage& image)
    {
        QSet<QRgb> seen;
        for (int y = 0; y < image.height(); y += 4)
            for (int x = 0; x < image.width(); x += 4) seen.insert(image.pixel(x, y) & 0xf0f0f0);
        return seen.size();
    }

    // Shows the view and waits for mpv to get a render context; false when this display
    // has no usable OpenGL.
    static bool showAndInit(MpvVideoView* view)
    {
        if (!view) return false;
        view->resize(320, 240);
        view->show();
        return QTest::qWaitFor([view] { return view->isRendering(); }, 5000);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_video = m_dir.filePath("bars.mkv");
        if (!testkit::makeVideo(m_video, 4.0, false)) QSKIP("ffmpeg is not available to make a video");
    }

    void oneViewPerEngineWithPicturesOnly()
    {
        MpvEngine silent(MpvEngine::Options{false, false});
        QVERIFY(silent.createVideoView(nullptr) == nullptr);

        MpvEngine engine(MpvEngine::Options{true, false});
        std::unique_ptr<QWidget> view(engine.createVideoView(nullptr));
        QCOMPARE(bool(view), MpvVideoView::openGlAvailable());
        QVERIFY(engine.createVideoView(nullptr) == nullptr);
    }

    void aVideoPlaysInThePlayerWithOrWithoutOpenGl()
    {
        // Without OpenGL there is no view to draw in, rather than a crash.
        MediaPlayer player(new MpvEngine(MpvEngine::Options{true, false}));
        player.resize(320, 300);
        player.show();
        QVERIFY(QTest::qWaitForWindowExposed(&player));
        QVERIFY(!player.videoView());  // no OpenGL at all before a video shows
        player.control()->Open(m_video);
        QTRY_VERIFY_WITH_TIMEOUT(player.control()->engine()->hasVideo(), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(player.control()->CurrentPosition() > 0.5, 5000);
        QCOMPARE(player.control()->PlayState(), engine::PlayState::Playing);
        auto* view = qobject_cast<MpvVideoView*>(player.videoView());
        QCOMPARE(bool(view), MpvVideoView::openGlAvailable());
        if (view) QTRY_VERIFY_WITH_TIMEOUT(view->framesDrawn() >= 3, 5000);
        // A sound file lets the view and its context go.
        player.control()->Open(testkit::writeWav(m_dir.filePath("tone.wav"), 2.0));
        QTRY_VERIFY_WITH_TIMEOUT(!player.control()->engine()->hasVideo() && player.control()->CurrentPosition() > 0.2, 5000);
        QVERIFY(!player.videoView());
    }

    void showsTheFramesOfAVideo()
    {
        MpvEngine engine(MpvEngine::Options{true, false});
        std::unique_ptr<MpvVideoView> view(static_cast<MpvVideoView*>(engine.createVideoView(nullptr)));
        if (!showAndInit(view.get())) QSKIP("no OpenGL for mpv on this display");
        engine.load(m_video);
        QVERIFY(engine.waitForLoad(5000));
        QVERIFY(engine.hasVideo());
        QTRY_VERIFY_WITH_TIMEOUT(view->framesDrawn() >= 5, 5000);
        const QImage picture = view->grabFramebuffer();
        QVERIFY2(colours(picture) >= 6, qPrintable(QString::number(colours(picture))));
        // The pictures move on with playback.
        QTRY_VERIFY_WITH_TIMEOUT(engine.position() > 0.5, 3000);
        QVERIFY(view->grabFramebuffer() != picture);
    }

    void fileOpenedBeforeTheViewGetsItsPictures()
    {
        MpvEngine engine(MpvEngine::Options{true, false});
        engine.load(m_video);
        QVERIFY(engine.waitForLoad(5000));
        QVERIFY(engine.hasVideo());
        std::unique_ptr<MpvVideoView> view(static_cast<MpvVideoView*>(engine.createVideoView(nullptr)));
        if (!showAndInit(view.get())) QSKIP("no OpenGL for mpv on this display");
        QTRY_VERIFY_WITH_TIMEOUT(view->framesDrawn() >= 3, 5000);
        QVERIFY(colours(view->grabFramebuffer()) >= 6);
    }

    void eitherMayGoFirst()
    {
        {
            // The engine first: the view is left black and harmless.
            auto engine = std::make_unique<MpvEngine>(MpvEngine::Options{true, false});
            std::unique_ptr<MpvVideoView> view(static_cast<MpvVideoView*>(engine->createVideoView(nullptr)));
            if (!showAndInit(view.get())) QSKIP("no OpenGL for mpv on this display");
            engine->load(m_video);
            QVERIFY(engine->waitForLoad(5000));
            QTRY_VERIFY_WITH_TIMEOUT(view->framesDrawn() >= 2, 5000);
            engine.reset();
            QVERIFY(!view->isRendering());
            // Drawn once more without it: black, no crash.
            QOpenGLWindow* surface = nullptr;
            for (QWindow* w : QGuiApplication::allWindows())
                if (auto* gl = qobject_cast<QOpenGLWindow*>(w)) surface = gl;
            QVERIFY(surface);
            QSignalSpy swapped(surface, &QOpenGLWindow::frameSwapped);
            surface->update();
            QVERIFY(swapped.wait(5000));
        }
        {
            // The view first: playback goes on without pictures.
            MpvEngine engine(MpvEngine::Options{true, false});
            auto* view = static_cast<MpvVideoView*>(engine.createVideoView(nullptr));
            if (!showAndInit(view)) QSKIP("no OpenGL for mpv on this display");
            engine.load(m_video);
            QVERIFY(engine.waitForLoad(5000));
            QTRY_VERIFY_WITH_TIMEOUT(view->framesDrawn() >= 2, 5000);
            delete view;
            const double at = engine.position();
            QTRY_VERIFY_WITH_TIMEOUT(engine.position() > at + 0.3, 3000);
        }
    }
};

QTEST_MAIN(VideoViewMpvTest)
#include "test_videoview_mpv.moc"
