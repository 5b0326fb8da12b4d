// An entry's text is kept, exactly, by the playlist store and by exported playlist files,
// whatever the script, the line breaks, and the form the file was in before.
#include "app/globals.h"
#include "storage/entrytext.h"
#include "storage/filebytes.h"
#include "storage/playlistfile.h"
#include "storage/playliststore.h"
#include "support/sandbox.h"
#include "support/testkit.h"

#include <QtTest>

using namespace storage;

class EntryTextTest : public QObject {
    Q_OBJECT
private slots:
    void keptByStoreAndExport_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("before");  // the file as it was: its mark and line ends
        const QByteArray lf = "[L]\nFileCount=0\n", crlf = "[L]\r\nFileCount=0\r\n", bom = "\xEF\xBB\xBF";
        const struct { const char* name; const char* text; } texts[] = {
            {"latin", "Ça va, señor? Über Ærø"}, {"cyrillic", "Я помню чудное мгновенье"},
            {"japanese", "古池や 蛙飛び込む 水の音"}, {"arabic", "مرحبا بالعالم"},
            {"two lines", "first line\nsecond line"}, {"crlf inside", "a\r\nb"},
            {"backslashes", "C:\\new\\n \\\\ end\\"}, {"blanks and quotes", "  \"quoted\" "},
            {"label", "bar 33-36"}};
        for (const auto& t : texts) {
            QTest::addRow("%s lf", t.name) << QString::fromUtf8(t.text) << lf;
            QTest::addRow("%s crlf", t.name) << QString::fromUtf8(t.text) << crlf;
            QTest::addRow("%s lf bom", t.name) << QString::fromUtf8(t.text) << bom + lf;
            QTest::addRow("%s crlf bom", t.name) << QString::fromUtf8(t.text) << bom + crlf;
        }
    }
    void keptByStoreAndExport()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, before);
        testkit::Sandbox box;
        testkit::writeBytes(app::strIniPath, before);
        QCOMPARE(SavePlayList("L", {{box.a, "1", "2", "1", "1", {}, text}, {box.b, "3", "4", "1", "1", {}, {}}}),
                 SaveResult::Saved);
        const QByteArray saved = readFileBytes(app::strIniPath).bytes;
        QCOMPARE(saved.startsWith("\xEF\xBB\xBF"), before.startsWith("\xEF\xBB\xBF"));
        QCOMPARE(saved.count("\r\n"), before.contains("\r\n") ? saved.count('\n') : 0);
        QVERIFY(!saved.contains("FileText2"));  // an entry without text writes no key
        const QList<EntryRecord> loaded = loadPlayList("L");
        QCOMPARE(loaded.value(0).Text, text);
        QCOMPARE(loaded.value(1).Text, QString());

        const QString obs = box.path("out.obs");
        testkit::writeBytes(obs, before);
        QVERIFY(ExportPlayListFile(obs, loaded));
        QVERIFY(ImportPlayListFile(obs));
        QCOMPARE(ImportEntries.value(0).Text, text);
        QCOMPARE(ImportEntries.value(1).Text, QString());
        QVERIFY(readFileBytes(obs).bytes.contains("FileText0="));
        // A text removed again leaves no stale key behind.
        QCOMPARE(SavePlayList("L", {{box.a, "1", "2", "1", "1", {}, {}}}), SaveResult::Saved);
        QCOMPARE(loadPlayList("L").value(0).Text, QString());
    }
    void valuesReadAsText()
    {
        const struct { const char *value, *text; } rows[] = {
            {"a\\nb\\rc\\\\d", "a\nb\rc\\d"}, {"\\x \\", "\\x \\"}, {"\\\\n", "\\n"}};
        for (const auto& r : rows) QCOMPARE(textFromValue(r.value), QString::fromLatin1(r.text));
    }
};

QTEST_GUILESS_MAIN(EntryTextTest)
#include "test_entrytext.moc"
