// The player window's File menu, file properties viewer, tray animation and tray menu.
#include "app/globals.h"
#include "engine/enginefactory.h"
#include "playback/entryplayer.h"
#include "playback/mediaplayer.h"
#include "storage/modkelini.h"
#include "storage/playliststore.h"
#include "support/fakeengine.h"
#include "support/sandbox.h"
#include "support/testkit.h"
#include "windows/entrygrid.h"
#include "windows/forms.h"
#include "windows/frmlook.h"
#include "windows/frmplayer.h"
#include "windows/frmplaylist.h"
#include "windows/keltray.h"

#include <QLabel>
#include <QMenu>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

using windows::frmPlayer;

class MenusTrayTest : public QObject {
    Q_OBJECT
    testkit::Sandbox* dir = nullptr;
    FakeEngine* engine = nullptr;
    QString a, b, c;

    frmPlayer* player() { return forms::frmPlayer(); }
    panel::frmPlayList* panel() { return forms::frmPlayList(); }
    panel::EntryGrid* grid() { return panel()->lstSelector(); }
    void openThree()
    {
        storage::AddNewPlayList("Drills");
        storage::SavePlayList("Drills", {{a, "0", "1", "1", "1"}, {b, "0", "1", "1", "1"}, {c, "0", "1", "1", "1"}});
        player()->ShowControlPanel();
    }
    void run(int ms)
    {
        testkit::runPlayer(*engine, *player()->playback(), ms);
    }

private slots:
    void initTestCase() { testkit::useFakeEngines(&engine); }
    void init()
    {
        dir = new testkit::Sandbox;
        a = dir->a;
        b = dir->b;
        c = dir->c;
        player();  // the player's engine is made first, so `engine` is the player's
    }
    void cleanup()
    {
        forms::resetAll();
        services::setFileAnswer({});
        delete dir;
    }

    void fileMenu()
    {
        const QList<QAction*> items = player()->MenuFile()->actions();
        QCOMPARE(items.size(), 9);
        QCOMPARE(items[0]->shortcut(), QKeySequence(Qt::Key_F8));
        QCOMPARE(items[2]->shortcut(), QKeySequence(Qt::Key_F2));
        QCOMPARE(items[6]->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_P));
        QVERIFY(!items[4]->isVisible() && !items[5]->isVisible());
        const QList<QAction*> tray = player()->MenuTrayControl()->actions();
        QCOMPARE(tray.size(), 9);
    }

    // The player's keys act where the player has the keyboard, not in the control panel.
    void menuKeysBelongToThePlayer()
    {
        int dialogs = 0;
        services::setFileAnswer([&](const services::FileDialogRequest&) {
            ++dialogs;
            return QString();
        });
        player()->show();
        player()->ShowControlPanel();
        QTRY_COMPARE(QApplication::activeWindow(), panel());
        QTest::keyClick(grid(), Qt::Key_F2);
        QCOMPARE(dialogs, 0);
        player()->activateWindow();
        QTRY_COMPARE(QApplication::activeWindow(), player());
        QTest::keyClick(player(), Qt::Key_F2);
        QCOMPARE(dialogs, 1);
    }

    void openCancelledChangesNothing()
    {
        openThree();
        grid()->selectRow(2);
        panel()->MnuRightClick_Click(2);
        const QStringList before = engine->calls;
        services::setFileAnswer([](const services::FileDialogRequest&) { return QString(); });
        player()->MnuFile_Click(3);
        QCOMPARE(engine->calls, before);
        QVERIFY(player()->playback()->endless());
    }

    void openPlaysTwiceThenTheList()
    {
        openThree();
        engine->fileDuration = 1;
        const QString song = testkit::writeFile(dir->path("song.wav"), 10);
        services::setFileAnswer([&](const services::FileDialogRequest& r) {
            return r.title == "File to open" && r.filters.size() == 7 ? song : QString();
        });
        player()->MnuFile_Click(3);
        QCOMPARE(engine->path(), song);
        QVERIFY(player()->playback()->counted());
        run(1950);
        QCOMPARE(engine->path(), song);  // second whole pass
        run(100);
        QCOMPARE(engine->path(), a);  // then row CurrentID + 1 = 1
        QCOMPARE(panel()->CurrentID, 1);
    }

    void propertiesBeforeAnyFile()
    {
        player()->MnuFile_Click(7);
        const QString expected = "File Name         :\r\nClip Author       :\r\nClip Copyright    :\r\n"
                                 "Clip Description  :\r\nShow Author       :\r\nShow Copyright    :\r\n"
                                 "Show Description  :\r\nShow Rating       :\r\nShow Title        :\r\n"
                                 "Watermark         :\r\nBanner Image      :\r\nBanner More Info: \r\n";
        QVERIFY(forms::hasLook());
        QCOMPARE(forms::frmLook()->text(), expected);
        QVERIFY(forms::frmLook()->isVisible());
        QVERIFY(QFontInfo(forms::frmLook()->lblLook()->font()).fixedPitch());
    }

    void propertiesOfATaggedFileReuseTheViewer()
    {
        player()->MnuFile_Click(7);
        windows::frmLook* first = forms::frmLook();
        engine->tags = {{"title", "Etude"}, {"artist", "Someone"}, {"comment", "slow part"}, {"copyright", "(c) me"}};
        player()->PlayPosition(a, "0", "1", "1", "1", true);
        player()->FileProperties();
        QCOMPARE(forms::frmLook(), first);
        const QStringList lines = first->text().split("\r\n");
        QCOMPARE(lines[0], "File Name         :" + a);
        QCOMPARE(lines[1], QString("Clip Author       :Someone"));
        QCOMPARE(lines[3], QString("Clip Description  :slow part"));
        QCOMPARE(lines[5], QString("Show Copyright    :(c) me"));
        QCOMPARE(lines[8], QString("Show Title        :Etude"));
        QCOMPARE(lines[9], QString("Watermark         :"));

        QTest::keyClick(first, Qt::Key_Escape);
        QVERIFY(!first->isVisible());
        QTRY_VERIFY(!forms::hasLook());  // unloaded: the next one is new
    }

    void controlPanelComesBack()
    {
        panel()->close();
        QVERIFY(!panel()->isVisible());
        player()->MnuFile_Click(1);
        QVERIFY(panel()->isVisible());
        QVERIFY(!app::blnPanelClosed);
    }

    void trayFramesAndTip()
    {
        openThree();
        windows::TrayIcon* tray = player()->tray();
        tray->AddTrayIcon("Vamplet", QIcon());
        QCOMPARE(tray->tip(), QString("Vamplet"));
        QCOMPARE(tray->image(), 0);
        grid()->clearSelection();
        QList<int> frames;
        for (int i = 0; i < 8; ++i) {
            player()->tmrTrayIcon_Timer();
            frames << tray->image();
        }
        QCOMPARE(frames, QList<int>({1, 2, 3, 4, 5, 6, 1, 2}));
        QCOMPARE(tray->tip(), QString("Vamplet"));  // nothing selected: the tip stays

        panel()->MnuRightClick_Click(0);
        player()->tmrTrayIcon_Timer();
        QCOMPARE(tray->tip(), QString("Vamplet: a.wav"));
        run(1100);  // list play moves on; the tip follows
        player()->tmrTrayIcon_Timer();
        QCOMPARE(tray->tip(), QString("Vamplet: b.wav"));

        tray->UpdateTrayIcon(9, "");  // beyond the frames: unchanged
        QCOMPARE(tray->image(), 4);
        tray->UpdateTrayIcon(0, QString(100, 'x'));
        QCOMPARE(tray->image(), 0);
        QCOMPARE(tray->tip().size(), 63);
    }

    void trayMenu()
    {
        openThree();
        grid()->selectRow(3);
        player()->mnuTray_Click(4);
        QCOMPARE(engine->path(), c);
        QVERIFY(player()->playback()->endless());
        player()->mnuTray_Click(3);
        QCOMPARE(engine->path(), a);
        QVERIFY(player()->playback()->counted());
        player()->mnuTray_Click(6);
        QCOMPARE(engine->state(), engine::PlayState::Paused);
        QVERIFY(player()->playback()->counted());  // the mode's timer stays on
        player()->mnuTray_Click(7);
        QCOMPARE(engine->state(), engine::PlayState::Stopped);
        QVERIFY(player()->playback()->counted());
        player()->mnuTray_Click(9);
        player()->mnuTray_Click(2);
    }

    void minimiseToTrayAndBack()
    {
        frmPlayer* w = player();
        w->setHideOnMinimise(true);
        w->setTrayShows([] { return true; });
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        w->setWindowState(Qt::WindowMinimized);
        QTRY_VERIFY(!w->isVisible());
        QVERIFY(!w->tmrTrayIcon()->isActive());  // nothing plays: the icon stands still
        w->showFromTray();
        QVERIFY(w->isVisible());
        QVERIFY(!(w->windowState() & Qt::WindowMinimized));
        QVERIFY(!w->tmrTrayIcon()->isActive());
    }

    void exitEndsTheProgram()
    {
        int ends = 0;
        player()->setProcessEnd([&] { ++ends; });
        player()->tray()->AddTrayIcon("Vamplet", QIcon());
        player()->show();
        player()->MnuFile_Click(9);
        QCOMPARE(ends, 1);
        QVERIFY(app::blnPanelClosed);
        QVERIFY(!player()->tray()->isUp());
    }
};

QTEST_MAIN(MenusTrayTest)
#include "test_menus_tray.moc"
