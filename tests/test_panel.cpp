// The control panel through its real window: the grid, its commands, the grabber, the
// layout, and list play on an engine whose clock the test drives.
#include "app/globals.h"
#include "engine/enginefactory.h"
#include "playback/entryplayer.h"
#include "playback/liveloopkeys.h"
#include "playback/mediaplayer.h"
#include "services/controls.h"
#include "services/fitlabel.h"
#include "services/look.h"
#include "services/placement.h"
#include "services/twips.h"
#include "storage/modkelini.h"
#include "storage/playlistfile.h"
#include "storage/playliststore.h"
#include "support/fakeengine.h"
#include "support/sandbox.h"
#include "support/testkit.h"
#include "windows/drilldialog.h"
#include "windows/entrygrid.h"
#include "windows/forms.h"
#include "windows/frmplayer.h"
#include "windows/frmplaylist.h"
#include "windows/panellayout.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QHeaderView>
#include <QtTest>

using panel::frmPlayList;

class PanelTest : public QObject {
    Q_OBJECT
    testkit::Sandbox* box = nullptr;
    FakeEngine* engine = nullptr;
    QString a, b, c, missing, empty;

    frmPlayList* panel() { return forms::frmPlayList(); }
    panel::EntryGrid* grid() { return panel()->lstSelector(); }
    playback::EntryPlayer* playback() { return forms::frmPlayer()->playback(); }

    // A playlist "Drills" holding the given rows, shown by a fresh panel.
    frmPlayList* openWith(const QList<storage::EntryTexts>& rows)
    {
        storage::AddNewPlayList("Drills");
        storage::SavePlayList("Drills", rows);
        return panel();
    }
    frmPlayList* openThree()
    {
        return openWith({{a, "0", "1", "1", "1"}, {b, "0", "1", "1", "1"}, {c, "0", "1", "1", "1"}});
    }
    QString ini(const QString& section, const QString& key)
    {
        return storage::DoINI(section, key, "<none>", false, "");
    }
    // Drives the clock, firing the player's timers every 10 ms; returns the rows that
    // started playing, in order.
    QList<int> runList(int ms)
    {
        QList<int> started;
        int lastId = panel()->CurrentID;
        QString lastPath = engine->path();
        testkit::runPlayer(*engine, *playback(), ms, [&] {
            if (panel()->CurrentID != lastId || engine->path() != lastPath) {
                started << panel()->CurrentID;
                if (grid()->selectedRow() != panel()->CurrentID) started << -1;  // the selection must follow
                lastId = panel()->CurrentID;
                lastPath = engine->path();
            }
        });
        return started;
    }

private slots:
    void initTestCase() { testkit::useFakeEngines(&engine); }

    void init()
    {
        box = new testkit::Sandbox;
        a = box->a;
        b = box->b;
        c = box->c;
        missing = box->path("gone.wav");
        empty = testkit::writeFile(box->path("empty.wav"), 0);
    }

    void cleanup()
    {
        forms::resetAll();
        services::setInputAnswer({});
        delete box;
    }

    void controlsAndMenu()
    {
        frmPlayList* p = panel();
        QVERIFY(p->windowFlags() & Qt::Tool);
        QCOMPARE(p->parentWidget(), forms::frmPlayer());
        QCOMPARE(grid()->columnCount(), 12);  // the five, the practice settings, the text, the hear settings, the stems
        QCOMPARE(grid()->headerItem()->text(2), QString("End"));
        QCOMPARE(grid()->selectionMode(), QAbstractItemView::ExtendedSelection);
        QCOMPARE(grid()->editTriggers(), QAbstractItemView::NoEditTriggers);
        const QList<QAction*> items = p->RightClickMenu()->actions();
        QCOMPARE(items.size(), 20);  // merge and split before "Cancel"
        QCOMPARE(p->RightClickMenu()->defaultAction()->text(), QString("Loop this Entry"));
        QVERIFY(items[3]->isSeparator() && items[7]->isSeparator() && items[12]->isSeparator());
        QVERIFY(!items[15]->isVisible());
        QVERIFY(!p->btnPlO(0)->isVisible() && !p->btnPlO(0)->isEnabled());
        QCOMPARE(p->txtRate()->maxLength(), 5);
        const QList<QLabel*> labels = p->findChildren<QLabel*>();  // the rate box says what it is
        QVERIFY(std::any_of(labels.begin(), labels.end(), [&](QLabel* l) { return l->buddy() == p->txtRate(); }));
        QVERIFY(p->txtRate()->toolTip().contains("rate", Qt::CaseInsensitive));
        // The position display polls only while something plays, and shows a jump at once.
        QVERIFY(p->grabberOpen());
        QVERIFY(!p->Timer1()->isActive());
        windows::frmPlayer* w = forms::frmPlayer();
        w->PlayPosition(box->a, "1", "3", "1", "1", true);
        QTRY_VERIFY(p->Timer1()->isActive());
        w->MediaPlayer1()->control()->Pause();
        w->MediaPlayer1()->control()->setCurrentPosition(2.5);
        QTRY_COMPARE(p->txtCurPos()->text(), QString("2.5"));
        QVERIFY(!p->Timer1()->isActive());
        w->playback()->stopPlayback();
    }

    void grabberDisplaysContrastInADarkPalette()
    {
        // A dark theme whose tooltips are light on light: the displays must not follow them.
        QPalette dark(QColor(0x30, 0x30, 0x30)), before = QApplication::palette();
        dark.setColor(QPalette::ToolTipBase, Qt::white);
        dark.setColor(QPalette::ToolTipText, Qt::white);
        QApplication::setPalette(dark);
        for (QLineEdit* box : {panel()->txtCurPos(), panel()->txtDuration()})
            QVERIFY(qAbs(box->palette().base().color().lightness() - box->palette().text().color().lightness()) > 128);
        QApplication::setPalette(before);
    }

    void frameLineKeepsOutOfTheCaptionRow()
    {
        const QFont font = QApplication::font();
        services::applyLook(*qApp);  // the frames as the program draws them
        const auto restore = qScopeGuard([&] { qApp->setStyleSheet({}), QApplication::setFont(font); });
        panel()->showPlayerButton(true);
        QWidget* frame = panel()->txtRate()->parentWidget();
        const QImage img = frame->grab().toImage();
        const int free = frame->width() - 10, end = panel()->btnShowPlayer()->geometry().right();
        int line = 0;  // the frame's top line, where no control lies over it
        while (line < 20 && img.pixelColor(free, line) == img.pixelColor(free, 0)) ++line;
        for (int x = panel()->txtRate()->x(); x <= end; ++x)
            if (!qobject_cast<QAbstractButton*>(frame->childAt(x, line)) && !qobject_cast<QLineEdit*>(frame->childAt(x, line)))
                QVERIFY2(img.pixelColor(x, line) != img.pixelColor(free, line), qPrintable(QString("line at %1").arg(x)));
    }

    void captionsShrinkOnlyWhenTheirBoxIsTooSmall()
    {
        QFont big = QApplication::font();
        big.setPointSizeF(14);
        const QSize need = QFontMetrics(big).boundingRect("Current Position:").size() + QSize(4, 4);
        for (const QSize& room : {need, QSize(need.width() / 2, need.height()), QSize(need.width(), need.height() / 2)}) {
            const QFont fitted = services::fittingFont(big, "Current Position:", room, Qt::AlignLeft);
            QCOMPARE(fitted.pointSizeF() < 14, room != need);
            QVERIFY(QFontMetrics(fitted).horizontalAdvance("Current Position:") <= room.width());
        }
    }

    void boxesShrinkTheirFontOnlyWhileTooSmall()
    {
        QWidget parent;
        QLineEdit* box = services::makeBox(&parent, QRect(0, 0, 200, 40), QString());
        box->setPlaceholderText("passes");
        auto* check = new QCheckBox("Before every pass", &parent);
        services::fitFontToBox(check);
        QPushButton* button = services::makeButton(&parent, QRect(), "Before every pass");
        parent.show();
        // Each row after the last: the inherited size, the boxes' sizes, whether they shrink.
        const struct { double points; QSize box, check; bool shrinks; } rows[] = {
            {9, {200, 40}, {300, 30}, false},
            {20, {40, 19}, {120, 16}, true},
            {20, {200, 40}, {500, 40}, false},
            {9, {200, 40}, {500, 40}, false}};
        for (const auto& r : rows) {
            QFont f = parent.font();
            f.setPointSizeF(r.points);
            parent.setFont(f);
            box->resize(r.box);
            check->resize(r.check);
            button->resize(r.check);
            // Not shrunk, the font is inherited again, not kept at a size of its own.
            for (QWidget* w : std::initializer_list<QWidget*>{box, check, button})
                QVERIFY(r.shrinks ? w->font().pointSizeF() < r.points : w->font().pointSizeF() == r.points);
            if (r.shrinks) QVERIFY(QFontMetrics(box->font()).height() <= r.box.height());
        }
        // A theme's font for buttons fits too, keeping its weight.
        const QFont before = QApplication::font("QPushButton");
        QFont themed = before;
        themed.setPointSizeF(20);
        themed.setBold(true);
        QApplication::setFont(themed, "QPushButton");
        button->resize(120, 16);
        QVERIFY(button->font().pointSizeF() < 20 && button->font().bold());
        QApplication::setFont(before, "QPushButton");
    }

    void firstStartAndNewPlayLists()
    {
        testkit::MessageRecorder msgs;
        frmPlayList* p = panel();
        QCOMPARE(p->cboPlayListName()->count(), 0);
        QCOMPARE(grid()->rowCount(), 0);
        p->SavePlayList();
        QCOMPARE(msgs.messages.size(), 1);
        QVERIFY(msgs.messages[0].text.startsWith("You must create a playlist first!"));
        QVERIFY(!QFile::exists(app::strIniPath));

        services::InputRequest asked;
        services::setInputAnswer([&asked](const services::InputRequest& r) {
            asked = r;
            return r.title == "New Play List" ? r.defaultText : QString();
        });
        p->btnPlO_Click(1);
        QCOMPARE(asked.prompt, QString("Enter the name of the new Play List"));
        QCOMPARE(p->cboPlayListName()->currentText(), QString("My Play List"));
        QCOMPARE(ini("Main", "PlayListCount"), QString("1"));
        QCOMPARE(ini("Main", "LastPlayList"), QString("My Play List"));
        QCOMPARE(ini("My Play List", "FileCount"), QString("<none>"));

        services::setInputAnswer([](const services::InputRequest&) { return QString(); });
        p->btnPlO_Click(1);  // cancelled: nothing changes
        QCOMPARE(ini("Main", "PlayListCount"), QString("1"));
    }

    void lastPlayListComesBack()
    {
        storage::AddNewPlayList("One");
        storage::AddNewPlayList("Two");
        storage::SavePlayList("One", {{a, "1", "2", "1", "1"}});
        frmPlayList* p = panel();
        QCOMPARE(p->cboPlayListName()->currentText(), QString("Two"));
        p->cboPlayListName()->setCurrentIndex(0);
        QCOMPARE(grid()->rowCount(), 1);
        forms::resetAll();
        QCOMPARE(panel()->cboPlayListName()->currentText(), QString("One"));
        QCOMPARE(grid()->rowTexts(1), QStringList({a, "1", "2", "1", "1"}));
    }

    void zeroRateAndLoopShowAsOne()
    {
        openWith({{a, "0", "1", "0", ""}});
        QCOMPARE(grid()->rowTexts(1), QStringList({a, "0", "1", "1", "1"}));
    }

    void doubleClick()
    {
        testkit::MessageRecorder msgs;
        frmPlayList* p = openWith({{a, "1", "2", "1", "1"}, {missing, "0", "1", "1", "1"}, {empty, "0", "1", "1", "1"}});
        p->lstSelector_DblClick();  // nothing selected
        QCOMPARE(engine->loads, 0);

        grid()->selectRow(1);
        p->lstSelector_DblClick();
        QCOMPARE(engine->path(), a);
        QVERIFY(playback()->endless());
        QCOMPARE(p->CurrentID, 1);

        for (int row : {2, 3}) {
            grid()->selectRow(row);
            p->lstSelector_DblClick();
            QCOMPARE(msgs.messages.last().title, QString("Please Fix this Entry!"));
            QCOMPARE(msgs.messages.last().text, "Filename:\n'" + grid()->rowTexts(row)[0] + "'\nNot Found!");
            QCOMPARE(p->CurrentID, 1);
        }
        QCOMPARE(msgs.messages.size(), 2);
        QCOMPARE(engine->path(), a);
    }

    void itemClickSetsTheToolTip()
    {
        frmPlayList* p = openThree();
        p->lstSelector_ItemClick(grid()->topLevelItem(1));
        QCOMPARE(grid()->toolTip(), QString("b.wav"));
    }

    void moveUpAndDown()
    {
        frmPlayList* p = openWith({{a, "1.50", "2", "1", "1"}, {b, "3", "4.0", "1", "2"}, {c, "5", "6", "x", "1"}});
        QCOMPARE(grid()->rowTexts(1)[1], QString("1.5"));  // loading already writes number text
        // Rows as typed in the file are kept until a move rewrites them.
        grid()->setRowTexts(1, {a, "1.50", "2", "1", "1"});
        grid()->selectRow(1);
        const QString before = ini("Drills", "FileName1");
        p->MoveListEntry(true);  // first row up: nothing
        QCOMPARE(grid()->rowTexts(1)[1], QString("1.50"));
        QCOMPARE(ini("Drills", "FileName1"), before);

        p->MoveListEntry(false);
        QCOMPARE(grid()->rowTexts(1), QStringList({b, "3", "4", "1", "2"}));
        QCOMPARE(grid()->rowTexts(2), QStringList({a, "1.5", "2", "1", "1"}));
        QCOMPARE(grid()->selectedRow(), 2);
        QCOMPARE(ini("Drills", "FileName1"), b);
        QCOMPARE(ini("Drills", "FileStart2"), QString("1.5"));

        grid()->setRowTexts(3, {c, "5", "6", "x", "1"});
        p->MoveListEntry(false);  // a field that is no number is written back as 0
        QCOMPARE(grid()->rowTexts(2), QStringList({c, "5", "6", "0", "1"}));
        QCOMPARE(grid()->selectedRow(), 3);
        p->MoveListEntry(false);  // last row down: nothing
        QCOMPARE(grid()->selectedRow(), 3);
        p->MoveListEntry(true);
        QCOMPARE(grid()->selectedRow(), 2);
        QCOMPARE(grid()->rowTexts(2)[0], a);
    }

    void practiceFollowsItsEntry()
    {
        const QStringList cells{"1.5", "4 96 every", "0.6 0.05 2", "-2 15"};
        frmPlayList* p = openWith({{a, "1", "2", "1", "1", {cells[0], cells[1], cells[2], cells[3]}}, {b, "3", "4", "1", "1", {}}});
        grid()->selectRow(1);
        p->MoveListEntry(false);
        QCOMPARE(grid()->rowTexts(2).mid(5), cells);
        QCOMPARE(QStringList({ini("Drills", "FilePitch1"), ini("Drills", "FilePitch2")}), QStringList({"", "-2 15"}));
        // Exported and imported again, each entry keeps its own (none: none left from before).
        const QString file = box->path("out.obs");
        testkit::MessageRecorder msgs(services::vbAbort);  // " Existing "
        for (int row : {2, 1}) {
            QVERIFY(storage::ExportPlayListFile(file, {p->GetListEntry(row)}));
            p->ImportFile(file);
            QCOMPARE(grid()->rowTexts(grid()->rowCount()), grid()->rowTexts(row));
        }
    }

    void deleteAsksNothing()
    {
        testkit::MessageRecorder msgs;
        frmPlayList* p = openThree();
        grid()->selectRow(2);
        p->MnuRightClick_Click(6);
        QCOMPARE(msgs.messages.size(), 0);
        QCOMPARE(grid()->rowCount(), 2);
        QCOMPARE(ini("Drills", "FileCount"), QString("2"));
        QCOMPARE(ini("Drills", "FileName2"), c);
        QCOMPARE(ini("Drills", "FileName3"), c);  // left over, ignored
    }

    void addAndEditEntries()
    {
        testkit::MessageRecorder msgs;
        frmPlayList* p = panel();
        p->AddListEntry(a, 1, 2, 1, 1);  // no playlist yet
        QCOMPARE(msgs.messages.size(), 1);
        QVERIFY(msgs.messages[0].text.startsWith("You must create a playlist first!"));
        QCOMPARE(grid()->rowCount(), 0);

        storage::AddNewPlayList("Drills");
        p->ReLoadINI();
        p->AddListEntry(a, 1.25, 2, 0, 0);
        QCOMPARE(grid()->rowTexts(1), QStringList({a, "1.25", "2", "1", "1"}));
        QCOMPARE(ini("Drills", "FileRate1"), QString("1"));

        p->AddListEntry(missing, 0, 1, 2, 3);  // a warning, but the row is added
        QCOMPARE(msgs.messages.size(), 2);
        QCOMPARE(msgs.messages[1].title, QString("Please Fix this Entry!"));
        QCOMPARE(grid()->rowCount(), 2);
        QCOMPARE(ini("Drills", "FileCount"), QString("2"));

        p->AddListEntry(b, 0, 1, 1, 1, true);  // not saved
        QCOMPARE(grid()->rowCount(), 3);
        QCOMPARE(ini("Drills", "FileCount"), QString("2"));

        grid()->selectRow(2);
        p->EditListEntry(c, 3, 4, 0, 0);
        QCOMPARE(grid()->rowTexts(2), QStringList({c, "3", "4", "1", "1"}));
        QCOMPARE(ini("Drills", "FileName2"), c);
        QCOMPARE(ini("Drills", "FileCount"), QString("3"));
    }

    void trayControlAndStop()
    {
        frmPlayList* p = openThree();
        grid()->selectRow(3);
        p->TrayControl(2);
        QCOMPARE(engine->loads, 0);
        p->TrayControl(1);
        QCOMPARE(engine->path(), c);
        QVERIFY(playback()->endless());
        QCOMPARE(p->CurrentID, 3);
        p->TrayControl(0);
        QCOMPARE(engine->path(), a);
        QVERIFY(playback()->counted());
        QCOMPARE(p->CurrentID, 1);
        QCOMPARE(grid()->selectedRow(), 1);

        p->MnuRightClick_Click(11);
        QVERIFY(!playback()->counted() && !playback()->endless());
        QCOMPARE(engine->state(), engine::PlayState::Stopped);
        QCOMPARE(p->CurrentID, 1);
        p->MnuRightClick_Click(1);  // plays again at once
        QVERIFY(playback()->counted());
        for (int i : {3, 7, 15, 16}) p->MnuRightClick_Click(i);
        QCOMPARE(grid()->rowCount(), 3);
    }

    void grabberAndRateBox()
    {
        frmPlayList* p = openThree();
        p->Timer1_Timer();  // no clip yet: nothing to show, not a 0
        QCOMPARE(p->txtCurPos()->text(), QString());
        QCOMPARE(p->txtDuration()->text(), QString());
        engine->fileDuration = 101;
        grid()->selectRow(1);
        p->MnuRightClick_Click(2);
        engine->seek(12.5);
        p->Timer1_Timer();
        QCOMPARE(p->txtCurPos()->text(), QString("12.5"));
        QCOMPARE(p->txtDuration()->text(), QString("101"));
        p->btnM1a_Click();
        QCOMPARE(p->txtM1()->text(), QString("12.5"));
        engine->seek(40);
        p->btnM1r_Click();
        QCOMPARE(engine->position(), 12.5);
        p->txtM2()->setText("abc");
        const int seeks = engine->seeks;
        p->btnM2r_Click();
        QCOMPARE(engine->seeks, seeks);

        auto type = [p](const char* text) {
            p->txtRate()->clear();
            QTest::keyClicks(p->txtRate(), text);
            p->txtRate_LostFocus();
        };
        type("1.50");
        QCOMPARE(p->txtRate()->text(), QString("1.5"));
        QCOMPARE(engine->rate(), 1.5);
        for (const char* text : {"0", "x"}) {
            type(text);
            QCOMPARE(p->txtRate()->text(), QString("0"));
            QCOMPARE(engine->rate(), 1.5);
        }
        // A rate the program showed (a trainer's), left untouched, is not applied on leaving.
        p->showTrainerRate(0.5);
        p->txtRate_LostFocus();
        QCOMPARE(engine->rate(), 1.5);
        QCOMPARE(p->txtRate()->text(), QString("0.5"));
    }

    void liveKeysWriteThePlayingRow()
    {
        frmPlayList* p = openWith({{a, "1", "3", "1", "2"}, {a, "1", "3", "1", "2"}});
        engine->fileDuration = 10;
        playback::LiveLoopKeys* keys = forms::frmPlayer()->liveKeys();
        grid()->selectRow(2);
        p->MnuRightClick_Click(2);
        engine->seek(2.5);
        const int seeks = engine->seeks;
        grid()->selectRow(1);  // the row that plays is written, not the one selected
        keys->action(playback::LiveKey::StopEarlier, true)->trigger();
        keys->action(playback::LiveKey::RateUp, false)->trigger();
        QCOMPARE(engine->seeks, seeks);  // the pass goes on
        QCOMPARE(engine->loop().stop, 2.9);
        QCOMPARE(engine->rate(), 1.05);
        QCOMPARE(playback()->current().stop, 2.9);
        QCOMPARE(p->txtRate()->text(), QString("1.05"));
        QCOMPARE(grid()->rowTexts(2), QStringList({a, "1", "2.9", "1.05", "2"}));
        QCOMPARE(ini("Drills", "FileStop2") + ini("Drills", "FileRate2"), QString("2.91.05"));
        QCOMPARE(ini("Drills", "FileStop1"), QString("3"));

        // The editor's change to the playing row is heard, and the keys go on from it.
        grid()->selectRow(2);
        p->EditListEntry(a, 1.5, 2.5, 1.05, 2);
        QCOMPARE(engine->loop().stop, 2.5);
        keys->action(playback::LiveKey::StopLater, false)->trigger();
        QCOMPARE(grid()->rowTexts(2).value(2), QString("2.51"));
        // Stopped, the keys change the selected row.
        playback()->stopPlayback();
        grid()->selectRow(1);
        keys->action(playback::LiveKey::StartLater, true)->trigger();
        QCOMPARE(ini("Drills", "FileStart1") + ini("Drills", "FileStart2"), QString("1.11.5"));

        // A file opened from outside has no row: only what plays changes.
        forms::frmPlayer()->OpenFile(a);
        engine->seek(4);
        keys->action(playback::LiveKey::StartHere, false)->trigger();
        QCOMPARE(playback()->current().start, 4.0);
        QCOMPARE(ini("Drills", "FileStart2") + ini("Drills", "FileStart1"), QString("1.51.1"));
    }

    void gridKeysAndColumns()
    {
        frmPlayList* p = openThree();
        p->show();
        QVERIFY(QTest::qWaitForWindowExposed(p));
        grid()->selectRow(2);
        QTest::keyClick(grid(), Qt::Key_F10, Qt::ShiftModifier);
        QTRY_VERIFY(p->RightClickMenu()->isVisible());
        p->RightClickMenu()->close();

        // Room gained, once every column has its room, goes to the file names alone.
        QList<int> before;
        for (int i = 0; i < grid()->columnCount(); ++i) before << grid()->columnWidth(i);
        p->resize(p->width() + grid()->header()->length() - grid()->viewport()->width(), p->height());
        QTRY_COMPARE(grid()->header()->length(), grid()->viewport()->width());
        p->resize(p->width() + 200, p->height());
        QTRY_COMPARE(grid()->columnWidth(0), before[0] + 200);
        for (int i = 1; i < before.size(); ++i) QCOMPARE(grid()->columnWidth(i), before[i]);
    }

    void gridCellsKeepTheirTextsAndTellChanges()
    {
        panel::EntryGrid g;
        g.InitGrid();
        g.appendRows({{"/a.wav", "0", "1"}});
        QSignalSpy changed(g.model(), &QAbstractItemModel::dataChanged);
        for (const QStringList& texts : {QStringList{"/a.wav", "0", "1", "", ""}, {"/longer/a.wav", "", "12.5", "1", "1"},
                                         {"/b", "2", "", "", "", "1.5", "", "", "", "Verse", "bass"}, {"/b", "2", "", "", ""}}) {
            g.setRowTexts(1, texts);
            QCOMPARE(g.rowTexts(1), texts);
        }
        QCOMPARE(changed.size(), 0 + 5 + 8 + 3);  // one for each cell changed
    }

    void layoutArithmetic()
    {
        const panel::PanelLayout open = panel::layoutPanel(6405, 3645, 1095, 315);
        QCOMPARE(open.framPL.top(), 1200.0);
        QCOMPARE(open.framPL.height(), 2445.0);
        QCOMPARE(open.gridHeight, 2445.0 - 315 - 350);
        QCOMPARE(open.gridWidth, 6255.0);
        QCOMPARE(open.plusLeft, 6405.0 - 855);
        const panel::PanelLayout folded = panel::layoutPanel(6405, 3645, 255, 315);
        QCOMPARE(folded.framPL.top(), 360.0);
        QCOMPARE(folded.gridHeight - open.gridHeight, 840.0);
        const panel::PanelLayout bigger = panel::layoutPanel(7405, 4145, 1095, 315);
        QCOMPARE(bigger.gridHeight - open.gridHeight, 500.0);
        QCOMPARE(bigger.gridWidth - open.gridWidth, 1000.0);
        QCOMPARE(bigger.chooserWidth - open.chooserWidth, 1000.0);
        QCOMPARE(bigger.minusLeft - open.minusLeft, 1000.0);
    }

    void toggleFoldsAndOpens()
    {
        frmPlayList* p = panel();
        p->show();
        p->resize(services::twipsSize(6525, 4000));
        p->Form_Resize();
        const int gridHeight = grid()->height();
        const QPixmap open = p->imgEnabler0()->pixmap();
        p->imgEnabler_Click(0);
        QVERIFY(!p->grabberOpen());
        QCOMPARE(p->framGrabber()->height(), services::twipsToPixels(255));
        QCOMPARE(p->framPL()->y(), services::twipsToPixels(360));
        QCOMPARE(grid()->height() - gridHeight, services::twipsToPixels(1200) - services::twipsToPixels(360));
        QCOMPARE(p->imgEnabler0()->pixmap().cacheKey(), p->imgEnablerPicture(2).cacheKey());
        p->imgEnabler_Click(3);  // no other picture toggles
        QVERIFY(!p->grabberOpen());
        p->imgEnabler_Click(0);
        QVERIFY(p->grabberOpen());
        QCOMPARE(grid()->height(), gridHeight);
        QCOMPARE(p->imgEnabler0()->pixmap().toImage(), open.toImage());
    }

    void firstStartStandsBesideThePlayer()
    {
        QSettings("Vamplet", "Vamplet").clear();
        QCOMPARE(panel()->x(), services::twipsToPixels(120 + 6330 + 120));
        QCOMPARE(panel()->y(), services::twipsToPixels(120));
        panel()->move(33, 44);
        services::SaveFormPlacement(panel());
        forms::resetAll();
        QCOMPARE(panel()->pos(), QPoint(33, 44));  // once stored, the stored place wins
    }

    void minimumWidth()
    {
        frmPlayList* p = panel();
        p->resize(50, 300);
        QCOMPARE(p->width(), services::twipsToPixels(panel::kMinOuterWidth));
    }

    void closeHidesUntilExit()
    {
        frmPlayList* p = openThree();
        forms::frmPlayer()->ShowControlPanel();
        grid()->selectRow(2);
        p->txtM1()->setText("7");
        p->close();
        QVERIFY(!p->isVisible());
        QVERIFY(app::blnPanelClosed);
        forms::frmPlayer()->ShowControlPanel();
        QCOMPARE(forms::frmPlayList(), p);
        QVERIFY(p->isVisible());
        QCOMPARE(grid()->selectedRow(), 2);
        QCOMPARE(p->txtM1()->text(), QString("7"));
        QVERIFY(!app::blnPanelClosed);
        QVERIFY(!p->close());  // refused: hidden instead
        QVERIFY(!p->isVisible());
        forms::frmPlayer()->ShowControlPanel();
        app::blnPanelClosed = true;  // the program is ending
        QVERIFY(p->close());
    }

    void listPlaysRoundAndRound()
    {
        frmPlayList* p = openThree();
        engine->fileDuration = 5;
        p->MnuRightClick_Click(0);
        QCOMPARE(p->CurrentID, 1);
        QCOMPARE(runList(6000), QList<int>({2, 3, 1, 2, 3, 1}));
    }

    void playlistFileOpenedFromTheDesktopIsImported()
    {
        openWith({});
        QFile obs(box->path("set.obs"));
        QVERIFY(obs.open(QIODevice::WriteOnly));
        obs.write(("[Main]\r\nFileCount=1\r\n[Playlist]\r\nFileName0=" + a +
                   "\r\nFileStart0=1\r\nFileStop0=2\r\nFileRate0=1\r\nFileLoop0=3\r\n").toUtf8());
        obs.close();
        testkit::MessageRecorder msgs(services::vbAbort);  // " Existing "
        forms::frmPlayer()->OpenFile(obs.fileName());
        QTRY_COMPARE(grid()->rowCount(), 1);
        QCOMPARE(grid()->rowTexts(1), QStringList({a, "1", "2", "1", "3"}));
        QCOMPARE(msgs.messages.size(), 1);
        QCOMPARE(msgs.messages[0].title, QString("New Playlist?"));
        QCOMPARE(engine->path(), QString());  // nothing tried to play it
    }

    // A row's text shows while it plays; merged rows join their texts, a split keeps it on both.
    void linesShowMergeAndSplit()
    {
        frmPlayList* p = openWith({{a, "1", "2", "1", "1", {}, "Ça va ?"},
                                   {a, "2", "3", "1", "1", {}, "Да"},
                                   {b, "0", "1", "1", "1"}});
        playback::MediaPlayer* media = forms::frmPlayer()->MediaPlayer1();
        for (const auto& [row, line] : {std::pair{2, "Да"}, std::pair{3, ""}}) {
            grid()->selectRow(row);
            p->MnuRightClick_Click(1);
            QCOMPARE(media->line(), QString::fromUtf8(line));
            QCOMPARE(media->findChild<QLabel*>("Line")->isVisibleTo(media), row == 2);
        }
        grid()->selectRow(1);
        grid()->topLevelItem(1)->setSelected(true);
        p->MergeSelectedRows();
        QCOMPARE(grid()->rowTexts(1), QStringList({a, "1", "3", "1", "1", "", "", "", "", "Ça va ? Да"}));
        QCOMPARE(p->CurrentID, 2);  // row 3 moved up
        p->MnuRightClick_Click(1);
        media->control()->setCurrentPosition(2.5);
        p->SplitAtHeard();
        QCOMPARE(grid()->rowTexts(2), QStringList({a, "2.5", "3", "1", "1", "", "", "", "", "Ça va ? Да"}));
        QCOMPARE(grid()->rowTexts(1).value(2), QString("2.5"));
    }

    // The drill an import asks for: defaults for empty boxes, "1.5x" or seconds, bounds kept.
    void drillAnswers()
    {
        const struct { const char* passes, *rate, *pause, *leadIn, *tail; int got; double factor, seconds; } cases[] = {
            {"2", "0.8", "1.5x", "0.15", "0.25", 2, 1.5, 0},
            {"", "", "", "", "", 2, 0, 0},
            {"3", "1", "2", "0", "0", 3, 0, 2},
            {"2.5", "1", "", "0", "0", 0, 0, 0},
            {"2", "9", "", "0", "0", 0, 0, 0},
            {"2", "1", "fast", "0", "0", 0, 0, 0},
            {"2", "1", "", "-1", "0", 0, 0, 0},
        };
        for (const auto& c : cases) {
            const panel::DrillRead r = panel::readDrill(c.passes, c.rate, c.pause, c.leadIn, c.tail);
            QVERIFY2(r.drill.has_value() == (c.got > 0) && r.problem.isEmpty() == (c.got > 0), c.pause);
            if (!r.drill) continue;
            QList<EntryRecord> lines{{}};
            panel::applyDrill(*r.drill, lines);
            QVERIFY(lines[0].Loops == c.got && lines[0].Practice.pauseFactor == c.factor && lines[0].Practice.pause == c.seconds);
        }
    }

    void playThisEntryContinuesAfterIt()
    {
        frmPlayList* p = openThree();
        grid()->selectRow(2);
        p->MnuRightClick_Click(1);
        QCOMPARE(runList(3000), QList<int>({3, 1, 2}));
    }

    void deletedRowsWrapToTheFirst()
    {
        frmPlayList* p = openThree();
        grid()->selectRow(2);
        p->MnuRightClick_Click(1);
        grid()->selectRow(3);
        p->MnuRightClick_Click(6);
        grid()->selectRow(2);
        p->MnuRightClick_Click(6);  // the playing row itself
        QCOMPARE(runList(1000), QList<int>({1}));
    }

    void oneRowRepeats()
    {
        frmPlayList* p = openWith({{a, "0", "0.5", "1", "2"}});
        p->MnuRightClick_Click(0);
        runList(3000);
        QCOMPARE(p->CurrentID, 1);
        QVERIFY(playback()->counted());
        QCOMPARE(engine->path(), a);
    }

    void missingFileEndsListPlay()
    {
        testkit::MessageRecorder msgs;
        frmPlayList* p = openWith({{a, "0", "1", "1", "1"}, {missing, "0", "1", "1", "1"}, {c, "0", "1", "1", "1"}});
        p->MnuRightClick_Click(0);
        runList(3000);
        QCOMPARE(msgs.messages.size(), 1);
        QCOMPARE(p->CurrentID, 2);
        QVERIFY(!playback()->counted() && !playback()->endless());
    }

    void emptyListEndsIdle()
    {
        frmPlayList* p = openWith({});
        p->MnuRightClick_Click(0);  // nothing to play
        QCOMPARE(engine->loads, 0);
        forms::frmPlayer()->PlayPosition(a, "0", "0.5", "1", "1", false);
        runList(1000);
        QVERIFY(!playback()->counted());
        QCOMPARE(p->CurrentID, 0);
    }
};

QTEST_MAIN(PanelTest)
#include "test_panel.moc"
