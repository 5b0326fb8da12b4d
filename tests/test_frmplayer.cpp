// The player window: start-up, minimise, shutdown and the command line.
#include "app/globals.h"
#include "engine/enginefactory.h"
#include "playback/entryplayer.h"
#include "playback/mediaplayer.h"
#include "waveform/waveformview.h"
#include "support/fakeengine.h"
#include "support/testkit.h"
#include "windows/forms.h"
#include "windows/frmplayer.h"
#include "windows/frmplaylist.h"
#include "windows/keltray.h"

#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

using windows::frmPlayer;

class FrmPlayerTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    FakeEngine* lastEngine = nullptr;
    int processEnds = 0;

    frmPlayer* fresh()
    {
        forms::resetAll();
        frmPlayer* w = forms::frmPlayer();
        w->setProcessEnd([this] { ++processEnds; });
        return w;
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        engine::setEngineFactory([this] { return lastEngine = new FakeEngine; });
    }
    void cleanup() { forms::resetAll(); }

    void startUpSetsCaptionAndPaths()
    {
        frmPlayer* w = fresh();
        QCOMPARE(w->windowTitle(), QString("Vamplet"));
        app::blnPanelClosed = true;
        w->InitPlayer(QString());
        QCOMPARE(w->windowTitle(), QString("Vamplet - Version 1.0"));
        QVERIFY(app::strAppPath.endsWith('/'));
        QVERIFY(app::strIniPath.endsWith("/test_frmplayer.ini"));
        QVERIFY(!app::blnPanelClosed);
        QCOMPARE(lastEngine->loads, 0);  // no command line: nothing plays
        QCOMPARE(w, forms::frmPlayer());  // one instance
    }

    void commandLinePlaysTheFileWholeTwice()
    {
        const QString song = testkit::writeFile(dir.filePath("my song.wav"), 100);
        frmPlayer* w = fresh();
        w->InitPlayer("\"" + song + "\"");
        QCOMPARE(lastEngine->path(), song);
        QVERIFY(w->playback()->counted());
        QCOMPARE(w->playback()->current().loopsLeft, 1.0);
        QCOMPARE(w->playback()->current().stop, lastEngine->fileDuration);
    }

    void commandLineNamingNoFileSaysSo()
    {
        testkit::MessageRecorder msgs;
        frmPlayer* w = fresh();
        w->InitPlayer(dir.filePath("gone.wav"));
        QCOMPARE(msgs.messages.size(), 1);
        QVERIFY(msgs.messages[0].text.contains("gone.wav"));
        QCOMPARE(lastEngine->loads, 0);
        QVERIFY(!w->playback()->counted());
    }

    void minimiseHidesOnlyWhenSomethingCanBringItBack()
    {
        // Tray at start, tray now: hidden, and the panel's way back shown. The icon moves
        // only while something plays, and stands still again once it stops.
        const QString song = testkit::writeFile(dir.filePath("s.wav"), 100);
        const struct { bool atStart, now, hidden, playing; } cases[] = {
            {false, false, false, true}, {true, true, true, true}, {true, false, false, false}, {true, true, true, false}};
        for (const auto& c : cases) {
            frmPlayer* w = fresh();
            w->InitPlayer(c.playing ? "\"" + song + "\"" : QString());
            w->show();
            QVERIFY(QTest::qWaitForWindowExposed(w));
            w->setHideOnMinimise(c.atStart);
            w->setTrayShows([&c] { return c.now; });
            w->setWindowState(Qt::WindowMinimized);
            QTRY_COMPARE(w->isVisible(), !c.hidden);
            QTRY_COMPARE(w->tmrTrayIcon()->isActive(), c.playing);
            QCOMPARE(forms::frmPlayList()->btnShowPlayer()->isVisibleTo(forms::frmPlayList()), !c.hidden);
            w->MediaPlayer1()->control()->Stop();
            QTRY_VERIFY(!w->tmrTrayIcon()->isActive());
            QCOMPARE(w->tray()->image(), 0);
            // The way back (tray, second start, the desktop's Raise) always brings it.
            w->showFromTray();
            QVERIFY(w->isVisible() && !(w->windowState() & Qt::WindowMinimized));
            QVERIFY(!w->tmrTrayIcon()->isActive());
        }
    }

    void closingStopsSavesAndEnds()
    {
        const QString song = testkit::writeFile(dir.filePath("s.wav"), 100);
        QSettings("Vamplet", "Vamplet").clear();
        frmPlayer* w = fresh();
        w->InitPlayer(QString());
        w->PlayPosition(song, "1", "2", "1", "1", true);
        w->show();
        w->move(-50, 60);
        w->close();
        QVERIFY(app::blnPanelClosed);
        QCOMPARE(processEnds, 1);
        QVERIFY(!w->playback()->endless());
        QCOMPARE(lastEngine->path(), QString());
        QCOMPARE(QSettings("Vamplet", "Vamplet").value("frmPlayer/Left").toString(), QString("0"));
    }
    void soundShowsItsWaveformStretchAndPlayhead()
    {
        using waveform::WaveformView;
        const QString song = testkit::writeWav(dir.filePath("wave.wav"), 30, 8000);
        frmPlayer* w = fresh();
        w->InitPlayer(QString());
        w->show();
        w->PlayPosition(song, "5", "10", "1", "1", true);
        auto* view = w->findChild<WaveformView*>("Waveform");
        QVERIFY(view);
        QTRY_VERIFY(view->isVisible());
        QTRY_COMPARE(view->source()->status(), waveform::WaveformSource::Status::Ready);
        QCOMPARE(view->duration(), 30.0);
        QTRY_COMPARE(view->handle(WaveformView::Stop), 10.0);  // the stretch that loops
        QCOMPARE(view->handle(WaveformView::Start), 5.0);
        lastEngine->advance(1500);
        QTRY_COMPARE(view->playhead(), lastEngine->position());
        // A click seeks there.
        const int x = int(std::lround(view->xOf(20))) + 2;
        QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(x, view->height() / 2));
        QVERIFY(std::abs(lastEngine->position() - 20) <= 30.0 / view->viewport().width);
    }
};

QTEST_MAIN(FrmPlayerTest)
#include "test_frmplayer.moc"
