// The entry editor through its real window, with an engine whose clock the test drives.
#include "app/globals.h"
#include "app/numbertext.h"
#include "engine/enginefactory.h"
#include "playback/mediaplayer.h"
#include "waveform/waveformview.h"
#include "services/look.h"
#include "storage/modkelini.h"
#include "storage/playliststore.h"
#include "support/fakeengine.h"
#include "support/sandbox.h"
#include "support/testkit.h"
#include "windows/entrygrid.h"
#include "windows/forms.h"
#include "windows/frmedit.h"
#include "windows/frmplaylist.h"
#include "windows/stemslist.h"
#include "playback/listplay.h"

#include <QGroupBox>
#include <QLabel>
#include <QStyleOptionGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTableWidget>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

using editor::frmEdit;

class EditorTest : public QObject {
    Q_OBJECT
    testkit::Sandbox* dir = nullptr;
    FakeEngine* engine = nullptr;  // the last one made: the editor's own
    QString a, b;

    panel::frmPlayList* panel() { return forms::frmPlayList(); }
    panel::EntryGrid* grid() { return panel()->lstSelector(); }
    frmEdit* openAdd()
    {
        panel()->MnuRightClick_Click(4);
        return forms::frmEdit();
    }
    void fill(frmEdit* e, const QString& file, const QString& start, const QString& stop, const QString& rate,
              const QString& loops)
    {
        e->txtFileName()->setText(file);
        e->txtStart()->setText(start);
        e->txtStop()->setText(stop);
        e->txtRate()->setText(rate);
        e->txtLoops()->setText(loops);
    }
    // Runs the editor's clock, firing its loop every 5 ms.
    void run(frmEdit* e, int ms)
    {
        for (int t = 1; t <= ms; ++t) {
            engine->advance(1);
            if (t % 5 == 0 && e->tmrLooper()->isActive()) e->tmrLooper_Timer();
        }
    }

private slots:
    void initTestCase() { testkit::useFakeEngines(&engine); }
    void init()
    {
        dir = new testkit::Sandbox;
        storage::AddNewPlayList("Drills");
        a = dir->a;
        b = dir->b;
    }
    void cleanup()
    {
        forms::resetAll();
        services::setFileAnswer({});
        delete dir;
    }

    void opensEmptyForAdd()
    {
        frmEdit* e = openAdd();
        QVERIFY(e->isVisible());
        QCOMPARE(e->parentWidget(), panel());
        for (QLineEdit* box : {e->txtFileName(), e->txtStart(), e->txtStop(), e->txtRate(), e->txtLoops()})
            QVERIFY(box->text().isEmpty());
        QVERIFY(!e->btnTest()->isDefault());
        QVERIFY(!e->cmdOK()->isDefault());
        QCOMPARE(e->sldPos()->maximum(), 100);
    }

    // A frame's border line or caption drawn through the first line of what it holds.
    void framesKeepTheirCaptionsClear()
    {
        services::applyLook(*qApp);
        frmEdit* e = openAdd();
        {
            const QList<QGroupBox*> frames = e->findChildren<QGroupBox*>();
            QVERIFY(!frames.isEmpty());
            for (QGroupBox* frame : frames) {
                QStyleOptionGroupBox option;
                option.initFrom(frame);
                option.text = frame->title();
                option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
                const QRect line = frame->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxFrame, frame);
                const QRect caption = frame->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, frame);
                for (QWidget* child : frame->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
                    if (child->isHidden()) continue;
                    QVERIFY2(child->y() > line.top(), qPrintable(frame->title() + " line under " + child->objectName()));
                    QVERIFY2(!child->geometry().intersects(caption), qPrintable(frame->title() + " caption over " + child->objectName()));
                }
            }
        }
        qApp->setStyleSheet(QString());
    }

    void validation()
    {
        testkit::MessageRecorder msgs;
        frmEdit* e = openAdd();
        e->cmdOK_Click();
        QCOMPARE(msgs.messages.size(), 1);
        QCOMPARE(msgs.messages[0].text, QString("Cannot add with out a File"));
        QCOMPARE(msgs.messages[0].title, QString("Vamplet"));
        QCOMPARE(msgs.messages[0].icon, services::MsgIcon::None);

        fill(e, "   ", "1", "2", "1", "1");
        e->cmdOK_Click();
        QCOMPARE(msgs.messages.last().text, QString("Cannot add with out a File"));

        fill(e, a, "20", "10", "1", "1");
        e->cmdOK_Click();
        QCOMPARE(msgs.messages.last().text,
                 QString("Stop Position cannot be before Start position!\nCannot play in Reverse in this version."));
        QCOMPARE(grid()->rowCount(), 0);

        fill(e, a, "12.5", "12.5", "1", "1");  // equal passes
        e->cmdOK_Click();
        QCOMPARE(grid()->rowCount(), 1);
        QCOMPARE(msgs.messages.size(), 3);

        fill(e, "  " + b + " ", "", "", "", "");
        e->cmdOK_Click();
        QCOMPARE(grid()->rowTexts(2), QStringList({b, "0", "0", "1", "1"}));  // trimmed; empty as 0, 0, 1, 1

        fill(e, a, "1", "2", ".5", "2.5");
        e->cmdOK_Click();
        QCOMPARE(grid()->rowTexts(3), QStringList({a, "1", "2", "0.5", "2.5"}));
        QCOMPARE(storage::DoINI("Drills", "FileLoop3", "", false, ""), QString("2.5"));

        fill(e, a, "1", "2", "-1", "1");  // silently nothing
        e->cmdOK_Click();
        QCOMPARE(grid()->rowCount(), 3);
        QCOMPARE(msgs.messages.size(), 3);
        QCOMPARE(e->mdblEditStart, 1.0);  // converted before the failing box
    }

    void practiceBoxes_data()
    {
        QTest::addColumn<QStringList>("boxes");  // pause, clicks, bpm, from, step, passes, semitones, cents
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QStringList>("cells");  // the row's practice cells, or the message's gist
        const QString e;
        QTest::newRow("all") << QStringList{"1.5", "4", e, "0.6", e, e, "-2", "15"} << "C"
                             << QStringList{"1.5", "4 120 first", "0.6 0.05 1", "-2 15"};
        QTest::newRow("comma") << QStringList{e, "2", "92,5", e, e, e, e, e} << "de_DE" << QStringList{e, "2 92.5 first"};
        QTest::newRow("pause beyond") << QStringList{"61", e, e, e, e, e, e, e} << "C" << QStringList{"The pause"};
        QTest::newRow("clicks not whole") << QStringList{e, "2.5", e, e, e, e, e, e} << "C" << QStringList{"whole number"};
        QTest::newRow("huge semitones") << QStringList{e, e, e, e, e, e, "1e12", e} << "C" << QStringList{"transpose"};
    }
    void practiceBoxes()
    {
        QFETCH(QStringList, boxes);
        QFETCH(QString, locale);
        QFETCH(QStringList, cells);
        QLocale::setDefault(QLocale(locale));
        testkit::MessageRecorder msgs;
        frmEdit* e = openAdd();
        fill(e, a, "1", "2", "1", "1");
        for (int i = 0; i < frmEdit::kPracticeBoxes; ++i) e->txtPractice(frmEdit::PracticeBox(i))->setText(boxes[i]);
        e->cmdOK_Click();
        if (!msgs.messages.isEmpty()) {
            QVERIFY2(msgs.messages[0].text.contains(cells[0], Qt::CaseInsensitive), qPrintable(msgs.messages[0].text));
            QCOMPARE(grid()->rowCount(), 0);  // nothing half kept
            return;
        }
        grid()->selectRow(1);
        panel()->MnuRightClick_Click(5);  // edited again unchanged, the row stays as it is
        // A count-in reopens with the tempo the grid shows.
        QCOMPARE(e->txtPractice(frmEdit::Bpm)->text().replace(u',', u'.'), cells.value(1).section(' ', 1, 1));
        e->cmdApply_Click();
        QCOMPARE(grid()->rowTexts(1).mid(5), cells);
    }

    void stemsKeptInTheRow()
    {
        // Files chosen beside the entry's file are kept relative to it, others whole; a tick
        // and a level typed in the list go into the row, and come back when edited again.
        frmEdit* e = openAdd();
        fill(e, a, "1", "2", "1", "1");
        const QString beside = QFileInfo(a).absolutePath() + "/song.bass.wav";
        services::setFileAnswer([&](const services::FileDialogRequest&) { return beside + "\n/elsewhere/drums.wav"; });
        const auto restore = qScopeGuard([] { services::setFileAnswer({}); });
        editor::StemsList* list = e->stemsList();
        list->button(editor::StemsList::AddFiles)->click();
        list->table()->item(0, editor::StemsList::Mute)->setCheckState(Qt::Checked);
        list->table()->item(1, editor::StemsList::Level)->setText("-6");
        e->cmdOK_Click();
        const QString kept = "song.bass.wav;mute|/elsewhere/drums.wav;-6dB";
        QCOMPARE(grid()->rowTexts(1).value(playback::kStemsCell), kept);
        grid()->selectRow(1);
        panel()->MnuRightClick_Click(5);
        list->table()->selectRow(0);
        QTest::keyClick(list->table(), Qt::Key_Delete);
        e->cmdApply_Click();
        QCOMPARE(grid()->rowTexts(1).value(playback::kStemsCell), kept.section('|', 1));
    }

    void addNewTwiceAndApplyOnTheSelectedRow()
    {
        frmEdit* e = openAdd();
        fill(e, a, "1", "2", "1", "1");
        e->cmdOK_Click();
        e->cmdOK_Click();
        QCOMPARE(grid()->rowCount(), 2);
        QCOMPARE(grid()->rowTexts(1), grid()->rowTexts(2));
        QVERIFY(e->isVisible());  // stays open

        grid()->selectRow(1);
        panel()->MnuRightClick_Click(5);
        QCOMPARE(e->windowTitle(), QString("Edit List Entry"));
        QCOMPARE(e->txtStart()->text(), QString("1"));
        grid()->selectRow(2);  // another row chosen meanwhile
        fill(e, b, "3", "4", "2", "5");
        e->cmdApply_Click();
        QCOMPARE(grid()->rowTexts(2), QStringList({b, "3", "4", "2", "5"}));
        QCOMPARE(grid()->rowTexts(1)[0], a);
        QCOMPARE(storage::DoINI("Drills", "FileName2", "", false, ""), b);
    }

    void lostFocusRules()
    {
        frmEdit* e = openAdd();
        const QList<QPair<QString, QString>> loops = {{"-3", "1"}, {"abc", "1"}, {"", "1"}, {"2.5", "2.5"}, {"0", "1"}};
        for (const auto& [in, out] : loops) {
            e->txtLoops()->setText(in);
            e->txtLoops_LostFocus();
            QCOMPARE(e->txtLoops()->text(), out);
        }
        const QList<QPair<QString, QString>> rates = {{"-3", "-3"}, {"abc", "1"}, {"", "1"}, {".5", ".5"}, {"0", "1"}};
        for (const auto& [in, out] : rates) {
            e->txtRate()->setText(in);
            e->txtRate_LostFocus();
            QCOMPARE(e->txtRate()->text(), out);
        }
    }

    void testLoopsALoadedFile()
    {
        frmEdit* e = openAdd();
        engine->fileDuration = 10;
        fill(e, a, "0", "10", "1", "1");
        e->btnTest_Click();  // loads it
        fill(e, a, "2", "4", "1", "7");
        e->btnTest_Click();
        QCOMPARE(engine->loads, 1);
        QCOMPARE(engine->position(), 2.0);
        QVERIFY(e->tmrLooper()->isActive());
        QVERIFY(e->btnTest()->isDefault());
        for (int i = 0; i < 100; ++i) {
            run(e, 57);
            QVERIFY(engine->position() >= 2.0 && engine->position() < 4.0);
        }
    }

    void testStartsANewFileFromItsBeginning()
    {
        frmEdit* e = openAdd();
        engine->fileDuration = 10;
        fill(e, a, "2", "4", "1", "1");
        e->btnTest_Click();
        QCOMPARE(engine->path(), a);
        QCOMPARE(engine->position(), 0.0);
        run(e, 3900);
        QVERIFY(engine->position() > 3.8);
        run(e, 200);
        QVERIFY(engine->position() >= 2.0 && engine->position() < 2.2);
    }

    void testWithoutOrWithAMissingFile()
    {
        testkit::MessageRecorder msgs;
        frmEdit* e = openAdd();
        fill(e, "", "1", "2", "1", "1");
        e->btnTest_Click();
        QVERIFY(e->btnTest()->isDefault());
        QCOMPARE(engine->stops, 1);
        QCOMPARE(engine->loads, 0);
        QVERIFY(msgs.messages.isEmpty());

        forms::resetAll();
        e = openAdd();
        const QString gone = dir->path("gone.wav");
        fill(e, gone, "1", "2", "1", "1");
        e->btnTest_Click();
        QCOMPARE(msgs.messages.size(), 1);
        QCOMPARE(msgs.messages[0].title, QString("Not Found"));
        QCOMPARE(msgs.messages[0].text, "Filename:\n'" + gone + "'\nNot Found!");
        QVERIFY(!e->btnTest()->isDefault());
        QVERIFY(!e->tmrLooper()->isActive());
    }

    void testOfAFileThatDoesNotPlay()
    {
        testkit::MessageRecorder msgs;
        frmEdit* e = openAdd();
        const QString bad = testkit::writeFile(dir->path("bad.mp3"), 40);
        engine->undecodable << bad;
        fill(e, bad, "1", "2", "1", "1");
        e->btnTest_Click();
        QVERIFY(!e->tmrLooper()->isActive());
        QTRY_COMPARE(msgs.messages.size(), 1);
        QCOMPARE(msgs.messages[0].title, QString("Cannot Play This File"));
    }

    void startThatIsNoNumberKeepsThePrevious()
    {
        frmEdit* e = openAdd();
        engine->fileDuration = 20;
        fill(e, a, "3", "5", "1", "1");
        e->btnTest_Click();
        QCOMPARE(e->mdblTestStart, 3.0);
        engine->seek(4.5);
        const int seeks = engine->seeks;
        fill(e, a, "abc", "6", "1", "1");
        e->btnTest_Click();
        QCOMPARE(e->mdblTestStart, 3.0);
        QCOMPARE(e->mdblTestStop, 6.0);
        QCOMPARE(engine->seeks, seeks);  // the position is not set before playing
    }

    void stopBeyondTheEndPlaysOnce()
    {
        frmEdit* e = openAdd();
        engine->fileDuration = 3;
        fill(e, a, "1", "9", "1", "1");
        e->btnTest_Click();
        run(e, 3500);
        QCOMPARE(engine->state(), engine::PlayState::Stopped);
        QVERIFY(!e->tmrLooper()->isActive());
    }

    void sliderFollowsAndMoves()
    {
        frmEdit* e = openAdd();
        engine->fileDuration = 101;
        fill(e, a, "0", "101", "1", "1");
        e->btnTest_Click();
        e->sldPos()->setValue(50);  // the user moves it
        QCOMPARE(engine->position(), 50.0);
        engine->seek(25.25);
        e->tmrLooper_Timer();
        QCOMPARE(e->sldPos()->value(), 25);  // a quarter of the clip
        QCOMPARE(engine->position(), 25.25);  // following does not move the player
        engine->seek(26.5);
        e->tmrLooper_Timer();
        QCOMPARE(e->sldPos()->value(), 26);  // halves go to even
        engine->seek(100.4);
        e->tmrLooper_Timer();
        QCOMPARE(e->sldPos()->value(), 100);
        engine->seek(100.8);  // 101 is past the slider's end: it stays where it was
        e->tmrLooper_Timer();
        QCOMPARE(e->sldPos()->value(), 100);
    }

    void positionLabels()
    {
        frmEdit* e = openAdd();
        panel()->txtM1()->setText("");
        panel()->txtM2()->setText("7.25");
        engine->fileDuration = 60;
        fill(e, a, "9", "9", "1", "1");
        e->btnTest_Click();
        engine->seek(12.345);
        e->lblMad_Click(0);
        QCOMPARE(e->txtStart()->text(), QString(""));  // even an empty memory is copied
        e->lblMad_Click(4);
        QCOMPARE(e->txtStop()->text(), QString("7.25"));
        e->lblMad_Click(5);
        QCOMPARE(e->txtStop()->text(), QString("12.345"));
        e->lblMad_Click(6);
        QCOMPARE(e->txtStop()->text(), QString("12.345"));
        // A long position shows its beginning in the box.
        engine->seek(12.3456789012345);
        e->lblMad_Click(2);
        QCOMPARE(e->txtStart()->text(), QString("12.3456789012345"));
        QCOMPARE(e->txtStart()->cursorPosition(), 0);
    }

    void playerButtonsShowTheFocus()
    {
        frmEdit* e = openAdd();
        QVERIFY(QTest::qWaitForWindowActive(e));
        e->btnTest()->setFocus();
        // Reached with Tab, as the keyboard user does; then Tab on to the next one.
        for (const char* tip : {"Play", "Pause", "Stop"}) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            auto* button = qobject_cast<QPushButton*>(QApplication::focusWidget());
            QVERIFY(button);
            QCOMPARE(button->toolTip(), QString(tip));
            const QImage focused = button->grab().toImage();
            QTest::keyClick(button, Qt::Key_Tab);
            QVERIFY2(button->grab().toImage() != focused, tip);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
        }
    }

    void browse()
    {
        frmEdit* e = openAdd();
        engine->fileDuration = 42.5;
        e->txtFileName()->setText("proposed.wav");
        QString proposed;
        services::setFileAnswer([&](const services::FileDialogRequest& r) {
            proposed = r.fileName;
            return QString();
        });
        e->btnBrowse_Click();
        QCOMPARE(proposed, QString("proposed.wav"));
        QCOMPARE(e->txtFileName()->text(), QString("proposed.wav"));  // cancelled: unchanged
        QCOMPARE(engine->loads, 0);

        services::setFileAnswer([&](const services::FileDialogRequest&) { return b; });
        e->btnBrowse_Click();
        QCOMPARE(e->txtFileName()->text(), b);
        QCOMPARE(engine->path(), b);
        QCOMPARE(e->txtStart()->text(), QString("0"));
        QCOMPARE(e->txtStop()->text(), QString("42.5"));
    }

    void closeAndReopen()
    {
        frmEdit* e = openAdd();
        fill(e, a, "1", "2", "1", "1");
        e->cmdOK_Click();
        e->btnTest_Click();
        QVERIFY(e->btnTest()->isDefault());
        QTest::keyClick(e, Qt::Key_Escape);
        QVERIFY(!e->isVisible());
        QVERIFY(!e->tmrLooper()->isActive());
        QCOMPARE(engine->path(), QString());  // the test player went with the window
        QCOMPARE(e->mdblEditStart, 1.0);       // the editor's fields stay
        e = openAdd();
        QVERIFY(e->isVisible());
        QVERIFY(!e->btnTest()->isDefault());
    }
    void waveformHandlesAndBoxesFollowEachOther()
    {
        using waveform::WaveformView;
        frmEdit* e = openAdd();
        e->txtFileName()->setText(testkit::writeWav(dir->path("long.wav"), 20, 8000));
        WaveformView* view = e->waveform();
        QTRY_COMPARE(view->source()->status(), waveform::WaveformSource::Status::Ready);
        QCOMPARE(view->duration(), 20.0);
        const double perPixel = 20.0 / view->viewport().width;
        // Typing moves the handles; a box that does not read as a number leaves its handle.
        struct Typed { QLineEdit* box; const char* text; WaveformView::Handle handle; double at; };
        for (const Typed& t : {Typed{e->txtStart(), "5", WaveformView::Start, 5}, Typed{e->txtStop(), "12.5", WaveformView::Stop, 12.5},
                               Typed{e->txtStop(), "12.5x", WaveformView::Stop, 12.5}}) {
            t.box->clear();
            QTest::keyClicks(t.box, t.text);
            QCOMPARE(view->handle(t.handle), t.at);
            QVERIFY(std::abs(view->xOf(t.at) - t.at / perPixel) < 1);
        }
        // A drag puts the number text of where it ends into the box, start never past stop.
        struct Drag { double from, to; QLineEdit* box; double want; };
        const int y = view->height() / 2;
        for (const Drag& d : {Drag{12.5, 15, e->txtStop(), 15}, Drag{5, 2.25, e->txtStart(), 2.25}, Drag{2.25, 19, e->txtStart(), 15}}) {
            const auto px = [&](double s) { return QPoint(int(std::lround(view->xOf(s))) + 2, y); };
            QTest::mousePress(view, Qt::LeftButton, {}, px(d.from));
            QTest::mouseMove(view, px((d.from + d.to) / 2));
            QTest::mouseMove(view, px(d.to));
            QTest::mouseRelease(view, Qt::LeftButton, {}, px(d.to));
            const auto typed = numtext::parse(d.box->text());
            QVERIFY2(typed && std::abs(*typed - d.want) <= perPixel, qPrintable(d.box->text()));
            QCOMPARE(d.box->text(), numtext::format(view->handle(d.box == e->txtStart() ? WaveformView::Start : WaveformView::Stop)));
        }
        // Keys: ] takes the stop handle, the arrows move it a pixel, with Shift ten.
        const double stop = *numtext::parse(e->txtStop()->text());
        view->setFocus();
        QTest::keyClick(view, Qt::Key_BracketRight);
        QTest::keyClick(view, Qt::Key_Right);
        QVERIFY(std::abs(*numtext::parse(e->txtStop()->text()) - (stop + perPixel)) <= perPixel / 2);
        QTest::keyClick(view, Qt::Key_Right, Qt::ShiftModifier);
        QVERIFY(std::abs(*numtext::parse(e->txtStop()->text()) - (stop + 11 * perPixel)) <= perPixel / 2);
        QTest::keyClick(view, Qt::Key_Left, Qt::ShiftModifier);
        QTest::keyClick(view, Qt::Key_Left, Qt::ShiftModifier);  // held at the start handle
        QCOMPARE(numtext::parse(e->txtStop()->text()), numtext::parse(e->txtStart()->text()));
    }
};

QTEST_MAIN(EditorTest)
#include "test_editor.moc"
