#include "app/globals.h"
#include "services/messages.h"
#include "support/testkit.h"
#include "storage/inifile.h"
#include "storage/modkelini.h"
#include "storage/playliststore.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>
#include <QtTest>
#include <optional>

using namespace storage;

namespace {

QByteArray fileBytes()
{
    QFile f(app::strIniPath);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QByteArray& bytes)
{
    QFile f(app::strIniPath);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

QList<EntryTexts> rows(int count)
{
    QList<EntryTexts> list;
    for (int i = 1; i <= count; ++i)
        list.append({"/media/track" + QString::number(i) + ".mp3", QString::number(i), QString::number(i + 10), "1.5", "2"});
    return list;
}

// Start, stop, rate and loops of each entry, for comparing whole loads at a glance.
QStringList numbers(const QList<EntryRecord>& entries)
{
    QStringList out;
    for (const EntryRecord& e : entries)
        out.append(QStringLiteral("%1 %2 %3 %4").arg(e.Start).arg(e.Stop).arg(e.Rate).arg(e.Loops));
    return out;
}

} // namespace

class PlayListStoreTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    std::optional<testkit::MessageRecorder> m_recorder;  // the user, answering OK

private slots:
    void init()
    {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        app::strIniPath = m_dir.filePath("vamplet.ini");
        m_recorder.emplace();
    }
    void cleanup()
    {
        QCOMPARE(m_recorder->messages.size(), 0);  // the panel tells, not the store
        m_recorder.reset();
        QFile::remove(app::strIniPath);
        QLocale::setDefault(QLocale::c());
    }

    void firstStartWithoutFile()
    {
        const PlayListNames names = readPlayListNames();
        QVERIFY(names.names.isEmpty());
        QCOMPARE(names.selection(), -1);
        QVERIFY(loadPlayList("Anything").isEmpty());

        QCOMPARE(SavePlayList("", rows(2)), SaveResult::NoPlayList);
        QVERIFY(!QFile::exists(app::strIniPath));
    }

    void addingPlaylistsWritesTheDocumentedLayout()
    {
        QVERIFY(AddNewPlayList("My Play List"));
        QCOMPARE(fileBytes(), QByteArray("[Main]\r\nPlayListCount=1\r\nPlayList1=My Play List\r\nLastPlayList=My Play List\r\n"));
        QVERIFY(AddNewPlayList("Drills"));
        QCOMPARE(SavePlayList("My Play List", {{"/m/a.mp3", "1.5", "3", "1", "2"}}), SaveResult::Saved);
        QCOMPARE(fileBytes(), QByteArray("[Main]\r\nPlayListCount=2\r\nPlayList1=My Play List\r\nLastPlayList=Drills\r\n"
                                         "PlayList2=Drills\r\n\r\n[My Play List]\r\nFileCount=1\r\nFileName1=/m/a.mp3\r\n"
                                         "FileStart1=1.5\r\nFileStop1=3\r\nFileRate1=1\r\nFileLoop1=2\r\n"));
        const PlayListNames names = readPlayListNames();
        QCOMPARE(names.names, QStringList({"My Play List", "Drills"}));
        QCOMPARE(names.selection(), 1);
        QCOMPARE(loadPlayList("My Play List").value(0).FileName, QString("/m/a.mp3"));
    }

    void duplicateNamesShareOneSection()
    {
        AddNewPlayList("Same");
        AddNewPlayList("Same");
        SavePlayList("Same", rows(2));
        const PlayListNames names = readPlayListNames();
        QCOMPARE(names.names, QStringList({"Same", "Same"}));
        QCOMPARE(names.selection(), 0);
        QCOMPARE(loadPlayList("Same").size(), 2);
    }

    void damagedMainSection()
    {
        writeFile("[Main]\nPlayListCount=3\nPlayList1=A\nPlayList3=C\nLastPlayList=Gone\n");
        const PlayListNames names = readPlayListNames();
        QCOMPARE(names.names, QStringList({"A", "INI FILE ERROR!", "C"}));
        QCOMPARE(names.selection(), -1);
        writeFile("[Main]\nPlayListCount=many\n");
        QVERIFY(readPlayListNames().names.isEmpty());
        QVERIFY(AddNewPlayList("X"));  // a count that does not convert counts as 0
        QCOMPARE(readPlayListNames().names, QStringList("X"));
    }

    void shorterListKeepsHigherKeys()
    {
        QCOMPARE(SavePlayList("L", rows(5)), SaveResult::Saved);
        QCOMPARE(SavePlayList("L", rows(3)), SaveResult::Saved);
        const IniFile doc = IniFile::fromBytes(fileBytes());
        QCOMPARE(doc.value("L", "FileCount", ""), QString("3"));
        QCOMPARE(doc.value("L", "FileName5", ""), QString("/media/track5.mp3"));
        QCOMPARE(doc.value("L", "FileLoop4", ""), QString("2"));
        QCOMPARE(loadPlayList("L").size(), 3);
    }

    void loadConvertsWithDefaultsAndCarriesBadValues()
    {
        writeFile("[L]\r\nFileCount=4\r\n"
                  "FileName1=a\r\nFileStart1=abc\r\n"                                  // stop/rate/loop missing
                  "FileName2=b\r\nFileStart2=2.5\r\nFileStop2=\r\nFileRate2=\r\nFileLoop2=\r\n"  // empty: 0
                  "FileName3=c\r\nFileStart3=x\r\nFileStop3=9\r\nFileRate3=fast\r\nFileLoop3=-1\r\n"
                  "FileStart4=.5\r\n");                                               // no name: ""
        // Entry 3's "x", "fast" and "-1" ("0-1") do not convert and keep entry 2's numbers.
        QCOMPARE(numbers(loadPlayList("l")), QStringList({"0 1 1 1", "2.5 0 0 0", "2.5 9 0 0", "0.5 1 1 1"}));

        for (const QByteArray count : {"FileCount=abc", "FileCount=", "FileCount=-2", ""}) {
            writeFile("[L]\n" + count + "\nFileName1=a\n");
            QVERIFY2(loadPlayList("L").isEmpty(), count.constData());
        }
    }

    void entriesFollowTheirNumbersNotTheFileOrder()
    {
        const struct { const char* body; const char* names; } cases[] = {
            {"FileName1=a\nFileName2=b\nFileName3=c\n", "a b c"},
            {"FileName3=c\nFileStart1=1\nFileName1=a\nFileStop3=2\n", "a c"},       // back and forth
            {"FileName2=b\nfilename2=B\nFileName02=x\nFileName2a=y\nFileName9=z\n", "b"},  // one each, counted
        };
        for (const auto& c : cases) {
            writeFile(QByteArray("[L]\nFileCount=3\n") + c.body);
            QStringList names;
            for (const EntryRecord& e : loadPlayList("L")) names << e.FileName;
            QCOMPARE(names.join(' '), QString(c.names));
        }
    }

    void followsTheUsersDecimalSeparator()
    {
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        writeFile("[L]\nFileCount=1\nFileStart1=1,5\n");
        QCOMPARE(loadPlayList("L").value(0).Start, 1.5);
    }

    void lastPlayListSurvivesAFreshRead()
    {
        AddNewPlayList("A");
        AddNewPlayList("B");
        setLastPlayList("A");
        QCOMPARE(readPlayListNames().last, QString("A"));
        QVERIFY(fileBytes().contains("LastPlayList=A\r\n"));
    }

    void largeListSavesInOneWriteBeyond16Bits()
    {
        const qint64 saves = iniStats().saves;
        QCOMPARE(SavePlayList("Big", rows(40000)), SaveResult::Saved);
        QCOMPARE(iniStats().saves, saves + 1);
        const QList<EntryRecord> loaded = loadPlayList("Big");
        QCOMPARE(loaded.size(), 40000);
        QCOMPARE(loaded.last().FileName, QString("/media/track40000.mp3"));
        QCOMPARE(loaded.last().Stop, 40010.0);
    }

    void failedSaveIsReportedOnce()
    {
        QFile blocker(m_dir.filePath("notadir"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        app::strIniPath = m_dir.filePath("notadir/vamplet.ini");
        WriteOutcome outcome;
        QCOMPARE(SavePlayList("L", rows(100), &outcome), SaveResult::Failed);
        QCOMPARE(outcome.file, app::strIniPath);
        QVERIFY(!outcome.error.isEmpty());
        QVERIFY(!AddNewPlayList("L"));
        QVERIFY(loadPlayList("L").isEmpty());
        QFile::remove(m_dir.filePath("notadir"));
    }
};

QTEST_GUILESS_MAIN(PlayListStoreTest)
#include "test_playliststore.moc"
