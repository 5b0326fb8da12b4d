#include "app/globals.h"
#include "services/messages.h"
#include "support/testkit.h"
#include "storage/inifile.h"
#include "storage/modkelini.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <optional>

#include <csignal>
#include <sys/resource.h>

using storage::IniFile;

namespace {

QByteArray readBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

} // namespace

class IniFileTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    std::optional<testkit::MessageRecorder> m_recorder;  // the user, answering OK

    QString path(const QString& name) const { return m_dir.filePath(name); }

private slots:
    void init()
    {
        QVERIFY(m_dir.isValid());
        app::strIniPath = path("vamplet.ini");
        m_recorder.emplace();
    }
    void cleanup()
    {
        QCOMPARE(m_recorder->messages.size(), 0);  // storage tells nobody; its callers do
        m_recorder.reset();
        QDir(m_dir.path()).removeRecursively();
        QDir().mkpath(m_dir.path());
    }

    // --- the document ---------------------------------------------------------------

    void unchangedDocumentRewritesByteForByte_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("crlf") << QByteArray("; made by hand\r\n[Main]\r\nA = 1\r\n\r\n[Other]\r\nB=2\r\n");
        QTest::newRow("lf, no final break") << QByteArray("top=1\n[S]\njunk line\n# note\nk=v");
        QTest::newRow("bom") << QByteArray("\xEF\xBB\xBF[S]\r\nk=v\r\n");
        QTest::newRow("bom, then bytes that are not UTF-8")
            << QByteArray("\xEF\xBB\xBF[S]\r\nk=Caf\xE9 \xC3\xA9 \xED\xA0\x80 \xF0\x9F\x8E\xB5 \xC3\r\n\xFF\xFE");
        QTest::newRow("cp1252") << QByteArray("[Main]\r\nName=Caf\xE9 \x80\x81\r\n");
        QTest::newRow("empty") << QByteArray();
    }
    void unchangedDocumentRewritesByteForByte()
    {
        QFETCH(QByteArray, bytes);
        QCOMPARE(IniFile::fromBytes(bytes).toBytes(), bytes);
    }

    // Only the line changed changes: every other byte stays, whatever the file's mix.
    void editKeepsEveryOtherByte_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QByteArray>("after");
        QTest::newRow("mixed endings") << QByteArray("[S]\r\nk=v\nj=w\r\n") << "j" << QByteArray("[S]\r\nk=v\nj=x\r\n");
        QTest::newRow("final lone CR") << QByteArray("[S]\nk=v\nj=w\r") << "k" << QByteArray("[S]\nk=x\nj=w\r");
        QTest::newRow("new key after a lone CR") << QByteArray("[S]\nk=v\r") << "n" << QByteArray("[S]\nk=v\nn=x");
        QTest::newRow("three byte-order marks")
            << QByteArray("\xEF\xBB\xBF\xEF\xBB\xBF\xEF\xBB\xBF[S]\r\nk=v\r\n") << "k"
            << QByteArray("\xEF\xBB\xBF\xEF\xBB\xBF\xEF\xBB\xBF[S]\r\nk=x\r\n");
        QTest::newRow("a mark after a byte that is not UTF-8")
            << QByteArray("\xEF\xBB\xBF[S]\r\nj=\xFF\xEF\xBB\xBFz\r\nk=v\r\n") << "k"
            << QByteArray("\xEF\xBB\xBF[S]\r\nj=\xFF\xEF\xBB\xBFz\r\nk=x\r\n");
        QTest::newRow("NUL and control bytes") << QByteArray("[S]\nj=\0\x01\x7F\nk=v\n", 14) << "k"
                                               << QByteArray("[S]\nj=\0\x01\x7F\nk=x\n", 14);
    }
    void editKeepsEveryOtherByte()
    {
        QFETCH(QByteArray, before);
        QFETCH(QString, key);
        QFETCH(QByteArray, after);
        IniFile doc = IniFile::fromBytes(before);
        QVERIFY(doc.setValue("S", key, "x"));
        QCOMPARE(doc.toBytes(), after);
        QCOMPARE(IniFile::fromBytes(after).value("s", key, "-"), QString("x"));
    }

    void parsesLikeProfileReaders()
    {
        const IniFile doc = IniFile::fromBytes(
            "pre=0\n[ Main ]\n  Key  =  spaced value  \nQ=\"  kept  \"\nS='x'\n;c=1\nnoequals\n"
            "[Best [live]] trailing\nk=first\nK=second\n[main]\nKey=shadowed\n");
        QCOMPARE(doc.value("", "pre", "-"), QString("0"));
        QCOMPARE(doc.value("main", "KEY", "-"), QString("spaced value"));
        QCOMPARE(doc.value("Main", "Q", "-"), QString("  kept  "));
        QCOMPARE(doc.value("Main", "S", "-"), QString("x"));
        QCOMPARE(doc.value("Main", ";c", "-"), QString("-"));
        QCOMPARE(doc.value("Main", "noequals", "-"), QString("-"));
        QCOMPARE(doc.value("Best [live]", "k", "-"), QString("first"));  // first of a name wins,
        QCOMPARE(doc.value("Best [live]", "K", "-"), QString("first"));  // also when asked in file order
        QCOMPARE(doc.sectionNames(), QStringList({"Main", "Best [live]"}));
    }

    void keysAskedInFileOrderOrNot()
    {
        // Asked in turn, as a playlist is read: the next line, a shadowed one, one not there.
        IniFile doc = IniFile::fromBytes("[L]\nName1=a\nname1=shadowed\nStop1=2\nName2=b\nName12=c\n=x\n7=n\n");
        const struct { const char* key; const char* want; } asks[] = {
            {"Name1", "a"}, {"NAME1", "a"}, {"Stop1", "2"}, {"Pause1", "-"}, {"name2", "b"}, {"Name12", "c"},
            {"Name", "-"}, {"Name3", "-"}, {"Stop2", "-"}, {"7", "n"}, {"8", "-"}, {"Name1", "a"}};
        for (const auto& a : asks) QCOMPARE(doc.value("l", a.key, "-"), QString(a.want));
        QVERIFY(doc.setValue("L", "Pause1", "1.5"));  // a name no key had before
        QCOMPARE(doc.value("L", "pause1", "-"), QString("1.5"));
        QCOMPARE(doc.value("L", "Pause2", "-"), QString("-"));
    }

    void indexGrowsAndCopiesStayApart()
    {
        // Past several growths of the key index, asked backwards so never the next line.
        IniFile doc;
        for (int i = 0; i < 300; ++i) QVERIFY(doc.setValue("S", QString("Kéy%1").arg(i), QString::number(i)));
        const IniFile copy = doc;
        QVERIFY(doc.setValue("S", "KÉY7", "changed"));
        QVERIFY(doc.setValue("S", "extra", "e"));
        for (int i = 299; i >= 0; i -= 7) QCOMPARE(copy.value("s", QString("kÉy%1").arg(i), "-"), QString::number(i));
        QCOMPARE(copy.value("S", "extra", "-"), QString("-"));
        QCOMPARE(copy.value("S", "key7", "-"), QString("-"));
        QCOMPARE(doc.value("S", "kéy7", "-"), QString("changed"));
        QCOMPARE(IniFile::fromBytes(doc.toBytes()).keys("S").size(), 301);
    }

    void writesKeepPlaceCaseAndLayout()
    {
        IniFile doc = IniFile::fromBytes("[Main]\r\nCount=1\r\n\r\n[List]\r\nA=1\r\n");
        QVERIFY(doc.setValue("MAIN", "count", "2"));  // replaced in place, spelling kept
        QVERIFY(doc.setValue("Main", "New", "x"));    // before the blank separator
        QVERIFY(doc.setValue("Fresh", "k", " padded "));
        QCOMPARE(doc.toBytes(), QByteArray("[Main]\r\nCount=2\r\nNew=x\r\n\r\n[List]\r\nA=1\r\n\r\n"
                                           "[Fresh]\r\nk=\" padded \"\r\n"));
        QCOMPARE(IniFile::fromBytes(doc.toBytes()).value("fresh", "K", "-"), QString(" padded "));

        IniFile lf = IniFile::fromBytes("[S]\nk=v\n");
        lf.setValue("S", "k2", "w");
        QCOMPARE(lf.toBytes(), QByteArray("[S]\nk=v\nk2=w\n"));
        IniFile fresh;
        fresh.setValue("S", "k", "v");
        QCOMPARE(fresh.toBytes(), QByteArray("[S]\r\nk=v\r\n"));
        fresh.setValue("S", "k", "'q'");  // rewritten in place, longer, shorter, quoted or not
        QCOMPARE(fresh.value("S", "k", ""), QString("'q'"));
        fresh.setValue("S", "k", "x");
        QCOMPARE(fresh.toBytes(), QByteArray("[S]\r\nk=x\r\n"));
    }

    void refusesWhatOneLineCannotHold()
    {
        IniFile doc = IniFile::fromBytes("[S]\r\nk=v\r\n");
        QVERIFY(!doc.setValue("S", "k", "two\nlines"));
        QVERIFY(!doc.setValue("S", "a=b", "v"));
        QVERIFY(!doc.setValue("S", " ", "v"));
        QVERIFY(!doc.setValue("S", ";k", "v"));
        QVERIFY(!doc.setValue("S\rT", "k", "v"));
        QVERIFY(!doc.isModified());
        QCOMPARE(doc.toBytes(), QByteArray("[S]\r\nk=v\r\n"));
    }

    void windows1252StaysUntilItCannot()
    {
        IniFile doc = IniFile::fromBytes("[Main]\r\nName=Caf\xE9\r\n");
        QCOMPARE(doc.sourceEncoding(), IniFile::Encoding::Windows1252);
        QCOMPARE(doc.value("Main", "Name", ""), QString::fromUtf8("Café"));
        doc.setValue("Main", "Price", QString::fromUtf8("5 €"));
        QCOMPARE(doc.toBytes(), QByteArray("[Main]\r\nName=Caf\xE9\r\nPrice=5 \x80\r\n"));
        doc.setValue("Main", "Title", QString::fromUtf8("日本"));
        QCOMPARE(doc.outputEncoding(), IniFile::Encoding::Utf8);
        QCOMPARE(doc.toBytes(), QString::fromUtf8("[Main]\r\nName=Café\r\nPrice=5 €\r\nTitle=日本\r\n").toUtf8());
        // After a byte-order mark, bytes that are not UTF-8 outlive a write of another key.
        IniFile bom = IniFile::fromBytes("\xEF\xBB\xBFk=\xE9\r\n");
        bom.setValue("", "j", QString::fromUtf8("€"));
        QCOMPARE(bom.toBytes(), QByteArray("\xEF\xBB\xBFk=\xE9\r\nj=\xE2\x82\xAC\r\n"));
        // Edited so that no byte but valid UTF-8 is left, Windows-1252 would read back as other
        // text ("Ã©" as "é"): written as UTF-8 instead.
        IniFile mixed = IniFile::fromBytes("[Main]\r\nA=\xC3\xA9\r\nB=\xE9\r\n");
        mixed.setValue("Main", "B", "e");
        QCOMPARE(IniFile::fromBytes(mixed.toBytes()).value("Main", "A", ""), QString::fromUtf8("Ã©"));
        QCOMPARE(mixed.outputEncoding(), IniFile::Encoding::Utf8);
        // Valid UTF-8 is never taken for Windows-1252.
        QCOMPARE(IniFile::fromBytes("k=Caf\xC3\xA9\n").value("", "k", ""), QString::fromUtf8("Café"));
    }

    // --- DoINI on files -------------------------------------------------------------

    void missingFileSectionOrKeyReadsDefault()
    {
        QCOMPARE(storage::DoINI("Main", "k", "dflt", false, ""), QString("dflt"));
        QCOMPARE(storage::DoINI("Main", "k", "", false, path("none.ini")), QString());
        QVERIFY(!QFile::exists(app::strIniPath));
        storage::DoINI("Main", "k", "v", true, "");
        QCOMPARE(storage::DoINI("Main", "other", "d", false, ""), QString("d"));
        QCOMPARE(storage::DoINI("Nope", "k", "d", false, ""), QString("d"));
    }

    void writeIsVisibleAndKeepsOtherKeys()
    {
        const QString other = path("sub.obs");
        writeBytes(other, "[Main]\r\nKeep=1\r\nK=old\r\n; note\r\n");
        QCOMPARE(storage::DoINI("main", "k", "new", true, other), QString());
        QCOMPARE(storage::DoINI("Main", "K", "", false, other), QString("new"));
        QCOMPARE(readBytes(other), QByteArray("[Main]\r\nKeep=1\r\nK=new\r\n; note\r\n"));

        const QString longValue(5000, QChar('x'));
        storage::DoINI("Main", "Long", longValue, true, "");
        QCOMPARE(storage::DoINI("Main", "Long", "", false, ""), longValue);
    }

    void batchReadsOnceButEditsAreSeen()
    {
        writeBytes(app::strIniPath, "[Main]\nk=1\n");
        const qint64 parses = storage::iniStats().parses;
        {
            storage::IniBatch hold;
            for (int i = 0; i < 100; ++i) QCOMPARE(storage::ReadINI("Main", "k", "", ""), QString("1"));
        }
        QCOMPARE(storage::iniStats().parses, parses + 1);

        writeBytes(app::strIniPath, "[Main]\nk=2\n");  // same size: time or identity tells
        QFile touched(app::strIniPath);
        QVERIFY(touched.open(QIODevice::ReadWrite));
        QVERIFY(touched.setFileTime(QDateTime::currentDateTime().addSecs(5), QFileDevice::FileModificationTime));
        touched.close();
        QCOMPARE(storage::ReadINI("Main", "k", "", ""), QString("2"));
    }

    void batchSavesOnce()
    {
        writeBytes(app::strIniPath, "[Main]\r\nk=0\r\n");
        const qint64 saves = storage::iniStats().saves;
        {
            storage::IniBatch batch;
            for (int i = 1; i <= 200; ++i) storage::DoINI("List", "K" + QString::number(i), "v", true, "");
            QCOMPARE(storage::DoINI("List", "K7", "", false, ""), QString("v"));
            QCOMPARE(readBytes(app::strIniPath), QByteArray("[Main]\r\nk=0\r\n"));  // not yet
            writeBytes(app::strIniPath, "[Main]\r\nk=0\r\nforeign=1\r\n");          // someone else
        }
        QCOMPARE(storage::iniStats().saves, saves + 1);
        QCOMPARE(storage::DoINI("List", "K200", "", false, ""), QString("v"));

        // Writing what is already there does not touch the file.
        storage::DoINI("List", "K1", "v", true, "");
        QCOMPARE(storage::iniStats().saves, saves + 1);
    }

    void failedSaveSaysWhyAndBatchIsWholeOrNothing()
    {
        writeBytes(path("plain"), "x");
        const QString blocked = path("plain/vamplet.ini");  // a file stands where a folder must
        {
            storage::IniBatch batch(blocked);
            for (int i = 0; i < 50; ++i) storage::DoINI("S", "K" + QString::number(i), "v", true, blocked);
            QVERIFY(!batch.commit());
            QVERIFY(!batch.error().isEmpty());
            QCOMPARE(batch.path(), blocked);
        }
        QCOMPARE(storage::DoINI("S", "K", "gone", false, blocked), QString("gone"));

        const QByteArray old = "[S]\r\ngood=0\r\n";
        writeBytes(app::strIniPath, old);
        for (const QString bad : {QString("two\nlines"), QString("lone\rCR")}) {
            storage::IniBatch batch;  // one value one line cannot hold: nothing is saved
            storage::DoINI("S", "good", "1", true, "");
            storage::DoINI("S", "new", "x", true, "");
            storage::DoINI("S", "bad", bad, true, "");
            QVERIFY(!batch.commit());
            QVERIFY(batch.error().contains("line break"));
            QCOMPARE(readBytes(app::strIniPath), old);
        }
    }

    void interruptedSaveLeavesOldFileWhole_data()
    {
        QTest::addColumn<int>("keys");
        QTest::newRow("small, buffered whole") << 20;
        QTest::newRow("larger than any buffer") << 2000;
    }
    void interruptedSaveLeavesOldFileWhole()
    {
        const QByteArray old = "[Main]\r\nk=old\r\n";
        writeBytes(app::strIniPath, old);
        // A file-size limit makes the write fail half-way, as a full disk would.
        rlimit saved{};
        getrlimit(RLIMIT_FSIZE, &saved);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = saved;
        small.rlim_cur = old.size() + 8;
        setrlimit(RLIMIT_FSIZE, &small);
        QFETCH(int, keys);
        bool committed = true;
        {
            storage::IniBatch batch;
            for (int i = 0; i < keys; ++i) storage::DoINI("Main", "Key" + QString::number(i), "value", true, "");
            committed = batch.commit();
        }
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);

        QVERIFY(!committed);
        QCOMPARE(readBytes(app::strIniPath), old);
        QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList("vamplet.ini"));
        QCOMPARE(storage::DoINI("Main", "Key5", "none", false, ""), QString("none"));
    }
};

QTEST_GUILESS_MAIN(IniFileTest)
#include "test_inifile.moc"
