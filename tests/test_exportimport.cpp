// Exporting the shown playlist to a file of its own and importing such files.
#include "app/globals.h"
#include "engine/enginefactory.h"
#include "services/keldialogs.h"
#include "storage/modkelini.h"
#include "storage/playlistfile.h"
#include "storage/playliststore.h"
#include "support/fakeengine.h"
#include "support/sandbox.h"
#include "support/testkit.h"
#include "windows/drilldialog.h"
#include "windows/entrygrid.h"
#include "windows/forms.h"
#include "windows/frmplaylist.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QFile>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

using services::MessageRequest;

class ExportImportTest : public QObject {
    Q_OBJECT
    testkit::Sandbox* dir = nullptr;
    QString a, b, c;

    panel::frmPlayList* panel() { return forms::frmPlayList(); }
    panel::EntryGrid* grid() { return panel()->lstSelector(); }
    void chooseFile(const QString& path)
    {
        services::setFileAnswer([path](const services::FileDialogRequest&) { return path; });
    }
    QString read(const QString& file, const QString& section, const QString& key)
    {
        return storage::DoINI(section, key, "<none>", false, file);
    }
    void showDrills(const QList<storage::EntryTexts>& rows)
    {
        storage::AddNewPlayList("Drills");
        storage::SavePlayList("Drills", rows);
        panel()->ReLoadINI();
    }
    static int answerBox(const MessageRequest& r, int existing)
    {
        return r.title == "New Playlist?" ? existing : services::vbOK;
    }

private slots:
    void initTestCase() { testkit::useFakeEngines(); }
    void init()
    {
        dir = new testkit::Sandbox;
        a = dir->a;
        b = dir->b;
        c = dir->c;
    }
    void cleanup()
    {
        forms::resetAll();
        services::setFileAnswer({});
        services::setInputAnswer({});
        delete dir;
    }

    void roundTrip()
    {
        testkit::MessageRecorder msgs;
        msgs.decide = [](const MessageRequest& r) { return answerBox(r, services::vbAbort); };
        showDrills({{a, "1.50", "2", "1", "1"}, {b, "3", "4", "0.5", "2"}, {c, "5", "6", "1", "3"}});
        grid()->setRowTexts(1, {a, "1.50", "2", "1", "1"});
        QString proposed;
        services::setFileAnswer([&](const services::FileDialogRequest& r) {
            proposed = r.fileName;
            return r.kind == services::FileDialogKind::Save ? dir->path("out") : QString();
        });
        panel()->MnuRightClick_Click(13);
        QCOMPARE(proposed, QString("Drills.obs"));
        const QString out = dir->path("out.obs");  // no dot: the extension is added
        QCOMPARE(read(out, "Main", "FileCount"), QString("2"));
        QCOMPARE(read(out, "Playlist", "FileName0"), a);
        QCOMPARE(read(out, "Playlist", "FileStart0"), QString("1.5"));
        QCOMPARE(read(out, "Playlist", "FileRate1"), QString("0.5"));
        QCOMPARE(read(out, "Playlist", "FileLoop2"), QString("3"));
        QCOMPARE(read(out, "Playlist", "FileName3"), QString("<none>"));
        QCOMPARE(msgs.messages.last().title, QString("Export Complete."));
        QCOMPARE(msgs.messages.last().text, "Playlist Exported to: \n" + out + "\n");
        QCOMPARE(msgs.messages.last().icon, services::MsgIcon::Information);

        chooseFile(out);
        panel()->MnuRightClick_Click(14);  // into the shown playlist: appended after its rows
        const MessageRequest ask = msgs.messages.last();
        QCOMPARE(ask.title, QString("New Playlist?"));
        QCOMPARE(ask.captions, QStringList({" Existing ", " Add New ", " Cancel "}));
        QCOMPARE(ask.text, QString("Would you like to add this file to\nan existing playlist or create\na new playlist?"));
        QCOMPARE(grid()->rowCount(), 6);
        QCOMPARE(grid()->rowTexts(4), QStringList({a, "1.5", "2", "1", "1"}));
        QCOMPARE(grid()->rowTexts(6), QStringList({c, "5", "6", "1", "3"}));
        QCOMPARE(storage::DoINI("Drills", "FileCount", "", false, ""), QString("6"));
    }

    void overwriteRefused()
    {
        testkit::MessageRecorder msgs;
        msgs.decide = [](const MessageRequest& r) {
            return r.title == "Overwrite File?" ? services::vbNo : services::vbOK;
        };
        showDrills({{a, "1", "2", "1", "1"}});
        const QString out = testkit::writeFile(dir->path("old.obs"), 5);
        chooseFile(out);
        panel()->ExportImportPlayList(false);
        QCOMPARE(msgs.messages[0].text, QString("File Exists!\n\nOverwrite?"));
        QCOMPARE(msgs.messages[0].buttons, services::MsgButtons::YesNo);
        QCOMPARE(msgs.messages[1].title, QString("Export Failed."));
        QCOMPARE(msgs.messages[1].text, QString("Playlist Export Failed: \n"));
        QFile f(out);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("xxxxx"));
    }

    void longerExportOverwrittenKeepsItsHigherKeys()
    {
        testkit::MessageRecorder msgs(services::vbYes);
        const QString out = dir->path("list.obs");
        QVERIFY(storage::ExportPlayListFile(out, {{1, a, 0, 1, 1, 1}, {2, b, 0, 1, 1, 1}, {3, c, 0, 1, 1, 1}}));
        QVERIFY(storage::ExportPlayListFile(out, {{1, b, 2, 3, 1, 1}}));
        QCOMPARE(read(out, "Main", "FileCount"), QString("0"));
        QCOMPARE(read(out, "Playlist", "FileName2"), c);  // left in the file
        QVERIFY(storage::ImportPlayListFile(out));
        QCOMPARE(storage::ImportEntries.size(), 1);  // but only up to the count
        QCOMPARE(storage::ImportEntries[0].FileName, b);
        QCOMPARE(storage::ImportEntries[0].Stop, 3.0);
    }

    void extensionRule()
    {
        QCOMPARE(storage::withPlayListExtension("/lists/mine"), QString("/lists/mine.obs"));
        QCOMPARE(storage::withPlayListExtension("/my.lists/mine"), QString("/my.lists/mine"));
        QCOMPARE(storage::withPlayListExtension("/lists/mine.txt"), QString("/lists/mine.txt"));
    }

    void addNewThenCancelledName()
    {
        testkit::MessageRecorder msgs;
        msgs.decide = [](const MessageRequest& r) { return answerBox(r, services::vbRetry); };
        showDrills({{a, "1", "2", "1", "1"}});
        const QString file = dir->path("in.obs");
        storage::ExportPlayListFile(file, {{1, b, 0, 1, 1, 1}});
        services::setInputAnswer([](const services::InputRequest&) { return QString(); });
        chooseFile(file);
        panel()->ExportImportPlayList(true);
        QCOMPARE(panel()->cboPlayListName()->currentText(), QString("Drills"));
        QCOMPARE(grid()->rowCount(), 2);

        services::setInputAnswer([](const services::InputRequest&) { return QString("Fresh"); });
        panel()->ExportImportPlayList(true);
        QCOMPARE(panel()->cboPlayListName()->currentText(), QString("Fresh"));
        QCOMPARE(grid()->rowCount(), 1);
        QCOMPARE(storage::DoINI("Fresh", "FileName1", "", false, ""), b);
    }

    void existingWithNoPlayListAddsNothing()
    {
        testkit::MessageRecorder msgs;
        msgs.decide = [](const MessageRequest& r) { return answerBox(r, services::vbAbort); };
        const QString file = dir->path("in.obs");
        storage::ExportPlayListFile(file, {{1, b, 0, 1, 1, 1}});
        chooseFile(file);
        panel()->ExportImportPlayList(true);
        QCOMPARE(grid()->rowCount(), 0);
        QCOMPARE(msgs.messages.last().title, QString("New Playlist?"));

        msgs.decide = [](const MessageRequest& r) { return answerBox(r, services::vbIgnore); };
        showDrills({});
        panel()->ExportImportPlayList(true);  // " Cancel "
        QCOMPARE(grid()->rowCount(), 0);
    }

    void largeImportIsSavedOnce()
    {
        testkit::MessageRecorder msgs;
        msgs.decide = [](const MessageRequest& r) { return answerBox(r, services::vbAbort); };
        showDrills({{a, "1", "2", "1", "1"}});
        QList<EntryRecord> many;
        for (int i = 0; i < 5000; ++i) many.append({0, b, double(i), double(i + 1), 1, 1});
        const QString file = dir->path("many.obs");
        QVERIFY(storage::ExportPlayListFile(file, many));
        chooseFile(file);
        const qint64 saves = storage::iniStats().saves;
        panel()->ExportImportPlayList(true);
        QCOMPARE(grid()->rowCount(), 5001);
        QCOMPARE(storage::iniStats().saves - saves, qint64(1));
        QCOMPARE(storage::DoINI("Drills", "FileCount", "", false, ""), QString("5001"));
        QCOMPARE(storage::DoINI("Drills", "FileStart5001", "", false, ""), QString("4999"));
    }

    // Subtitles through the grid's "Import...": the question answered in its own boxes, as
    // the user types, reaches every row; the margins stay within the media.
    void drilledSubtitles()
    {
        testkit::MessageRecorder msgs;
        msgs.decide = [](const MessageRequest& r) { return answerBox(r, services::vbAbort); };
        showDrills({});
        const QString media = testkit::writeWav(dir->path("tone.wav"), 3, 8000);
        chooseFile(testkit::writeBytes(dir->path("lines.srt"),
                                       "1\r\n00:00:00,050 --> 00:00:00,500\r\n古池や\r\n\r\n"
                                       "2\r\n00:00:01,000 --> 00:00:02,000\r\n<i>Ça va,</i> señor?\r\n\r\n"
                                       "3\r\n00:00:02,500 --> 00:00:03,500\r\nЯ помню\r\nمرحبا\r\n"));
        const struct { const char *box, *typed; } answers[] = {
            {"Media file", "tone.wav"}, {"Passes per line", "3"}, {"Rate", "0.8"}, {"Pause", "1.5x"},
            {"Lead-in seconds", "0.1"}, {"Tail seconds", "0.2"}};
        bool asked = false;
        QTimer::singleShot(0, this, [&] {
            auto* ask = qobject_cast<panel::DrillDialog*>(QApplication::activeModalWidget());
            if (!ask) return;
            asked = true;
            for (QLineEdit* box : ask->findChildren<QLineEdit*>()) {
                for (const auto& a : answers)
                    if (box->accessibleName() == QLatin1String(a.box)) {
                        box->clear();
                        QTest::keyClicks(box, a.box == answers[0].box ? media : QString::fromLatin1(a.typed));
                    }
            }
            QTest::mouseClick(ask->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok), Qt::LeftButton);
        });
        panel()->ExportImportPlayList(true);
        QVERIFY(asked);
        QStringList rows;
        for (int i = 1; i <= grid()->rowCount(); ++i)
            rows << grid()->rowTexts(i).mid(0, playback::kTextCell + 1).join(u'|').replace(u'\n', u'/');
        const QString row = media + "|%1|%2|0.8|3|1.5x||||%3";
        QCOMPARE(rows, QStringList({row.arg("0", "0.7", "古池や"), row.arg("0.9", "2.2", "Ça va, señor?"),
                                    row.arg("2.4", "3", "Я помню/مرحبا")}));
        QCOMPARE(storage::loadPlayList("Drills").value(2).Text, QString("Я помню\nمرحبا"));
    }

    void missingFile()
    {
        testkit::MessageRecorder msgs;
        showDrills({});
        chooseFile(dir->path("nothing.obs"));
        panel()->ExportImportPlayList(true);
        QCOMPARE(msgs.messages.size(), 1);
        QCOMPARE(msgs.messages[0].text, QString("File Not Found!"));
        QCOMPARE(msgs.messages[0].title, QString("No File Found!"));
        QCOMPARE(msgs.messages[0].icon, services::MsgIcon::Exclamation);
    }

    void exportThatCannotBeWrittenFails()
    {
        testkit::MessageRecorder msgs;
        showDrills({{a, "1", "2", "1", "1"}});
        chooseFile("/proc/vamplet-test.obs");  // never writable, not even for root
        panel()->ExportImportPlayList(false);
        QCOMPARE(msgs.messages.last().title, QString("Export Failed."));
        QCOMPARE(msgs.messages.size(), 1);  // one message, not one per key
    }

    void emptyExportAndListsNumberedFromOne()
    {
        testkit::MessageRecorder msgs;
        const QString empty = dir->path("empty.obs");
        QVERIFY(storage::ExportPlayListFile(empty, {}));
        QCOMPARE(read(empty, "Main", "FileCount"), QString("0"));
        QVERIFY(storage::ImportPlayListFile(empty));
        QCOMPARE(storage::ImportEntries.size(), 0);  // no phantom entry

        const QString fromOne = dir->path("one.obs");
        storage::DoINI("Main", "FileCount", "2", true, fromOne);
        storage::DoINI("Playlist", "FileName1", a, true, fromOne);
        storage::DoINI("Playlist", "FileName2", b, true, fromOne);
        storage::DoINI("Playlist", "FileStop2", "abc", true, fromOne);
        QVERIFY(storage::ImportPlayListFile(fromOne));
        QCOMPARE(storage::ImportEntries.size(), 2);
        QCOMPARE(storage::ImportEntries[0].FileName, a);
        QCOMPARE(storage::ImportEntries[0].Stop, 1.0);  // the default
        QCOMPARE(storage::ImportEntries[1].Stop, 0.0);  // did not convert; a fresh entry's value

        // A second import starts empty: nothing left over from the first.
        QVERIFY(storage::ImportPlayListFile(empty));
        QCOMPARE(storage::ImportEntries.size(), 0);
    }

    void hostileFiles_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("entries");
        QByteArray noise(64 * 1024, 0);
        QRandomGenerator rng(42);
        for (char& ch : noise) ch = char(rng.bounded(256));
        QTest::newRow("random bytes") << noise << 0;
        QTest::newRow("huge count")
            << QByteArray("[Main]\nFileCount=2147483647\n[Playlist]\nFileName0=/a.wav\nFileName5=/b.wav\n") << 2;
        QTest::newRow("negative count") << QByteArray("[Main]\nFileCount=-5\n[Playlist]\nFileName0=/a.wav\n") << 0;
        QByteArray big("[Main]\nFileCount=99999\n[Playlist]\n");
        for (int i = 0; big.size() < 10 * 1024 * 1024; ++i)
            big += "FileName" + QByteArray::number(i) + "=/music/" + QByteArray(60, 'm') + ".wav\n";
        QTest::newRow("10 MB") << big << 100000;
        QTest::newRow("long values") << "[Main]\nFileCount=0\n[Playlist]\nFileName0=" + QByteArray(100000, 'n') +
                                            "\nFileStart0=" + QByteArray(100000, '7') + "\n"
                                     << 1;
    }
    void hostileFiles()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, entries);
        testkit::MessageRecorder msgs;
        const QString file = dir->path("hostile.obs");
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
        f.close();
        const storage::ImportOutcome imported = storage::ImportPlayListFile(file);
        QVERIFY(imported);
        QCOMPARE(storage::ImportEntries.size(), entries);
        if (QTest::currentDataTag() == QByteArray("long values")) {
            QVERIFY(imported.notice.cut);  // told, and cut to a length no path reaches
            QCOMPARE(storage::ImportEntries[0].FileName.size(), storage::kMaxValueLength);
            QCOMPARE(storage::ImportEntries[0].Start, 0.0);  // beyond any double: not a number
        }
    }
};

QTEST_MAIN(ExportImportTest)
#include "test_exportimport.moc"
