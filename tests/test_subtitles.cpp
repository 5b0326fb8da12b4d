// Subtitles and lyrics read into entries (times, text, margins, encodings, hostile input),
// written back, and the media file found beside them.
#include "storage/subtitles.h"
#include "support/testkit.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace storage;
using F = LoopListFormat;

namespace {

// "start stop text" an entry, line breaks in the text shown as "|".
QStringList shown(const QList<EntryRecord>& entries)
{
    QStringList out;
    for (const EntryRecord& e : entries)
        out << QStringLiteral("%1 %2 %3")
                   .arg(QString::number(e.Start, 'g', 12), QString::number(e.Stop, 'g', 12), QString(e.Text).replace(u'\n', u'|'));
    return out;
}

const char* const kSrt = "1\n00:00:01,000 --> 00:00:02,500\n<i>Ça va,</i> señor?\nÜber {\\an8}Ærø\n\n"
                         "2\n00:00:02,000 --> 00:00:04,000 X1:10 X2:20\nЯ помню\n\n";

} // namespace

class SubtitlesTest : public QObject {
    Q_OBJECT
private slots:
    void reading_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<double>("length");  // of the media, 0 unknown
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<int>("notes");
        const QStringList two{"1 2.5 Ça va, señor?|Über Ærø", "2 4 Я помню"};  // overlapping, kept
        QTest::newRow("srt lf") << int(F::Srt) << QByteArray(kSrt) << 0.0 << two << 0;
        QTest::newRow("srt crlf bom") << int(F::Srt) << "\xEF\xBB\xBF" + QByteArray(kSrt).replace("\n", "\r\n") << 0.0 << two << 0;
        QTest::newRow("srt no blank lines, past 24 h, backwards")
            << int(F::Srt)
            << QByteArray("1\n25:00:01,5 --> 25:00:02.25\nfirst\n2\n00:00:05,000 --> 00:00:04,000\nback\n3\n"
                          "00:00:06,000 --> 00:00:07,000\n42\n\nnot a cue\n")
            << 0.0 << QStringList{"90001.5 90002.25 first", "6 7 42"} << 1;
        QTest::newRow("vtt") << int(F::WebVtt)
                             << QByteArray("WEBVTT - a title\nKind: captions\n\nNOTE no arrows here\n\nSTYLE\n::cue { color: red }\n\n"
                                           "intro\n00:01.000 --> 00:02.000 align:start\n<v Ann>古池や</v> &amp; &lt;蛙&gt;\n"
                                           "<c.loud>水の音</c>\n\n01:00:00.000 --> 01:00:01.000\nend\n")
                             << 0.0 << QStringList{"1 2 古池や & <蛙>|水の音", "3600 3601 end"} << 0;
        QTest::newRow("vtt without header") << int(F::WebVtt) << QByteArray("00:01.000 --> 00:02.000\nx\n") << 0.0
                                            << QStringList{} << 1;
        QTest::newRow("lrc enhanced, open end")
            << int(F::Lrc)
            << QByteArray("[ar:someone]\n[00:01.50]<00:01.50>مرحبا <00:02.00>بالعالم\n[00:03.00]\n[00:04.00]two\n")
            << 0.0 << QStringList{"1.5 3 مرحبا بالعالم", "4 0 two"} << 1;
        QTest::newRow("lrc tags, offset, past 24 h, media end")
            << int(F::Lrc)
            << QByteArray("[offset:+500]\n[1500:00.00]late\n[00:10.00][00:20.5]chorus\n[00:15:25]verse\n[00:15.25]same time\n")
            << 90100.0
            << QStringList{"9.5 14.75 chorus", "14.75 20 verse", "14.75 20 same time", "20 89999.5 chorus", "89999.5 90100 late"}
            << 0;
        for (const auto e : {QStringEncoder::Utf16LE, QStringEncoder::Utf16BE})
            for (const auto mark : {QStringEncoder::Flag::WriteBom, QStringEncoder::Flag::Default})
                QTest::addRow("utf-16 %s %s", e == QStringEncoder::Utf16LE ? "le" : "be", mark == QStringEncoder::Flag::WriteBom ? "bom" : "no bom")
                    << int(F::Srt) << QByteArray(QStringEncoder(e, mark).encode(QString::fromUtf8(kSrt))) << 0.0 << two << 0;
        QTest::newRow("cp1251 guessed") << int(F::Srt) << QByteArray("1\n00:00:01,000 --> 00:00:02,000\n\xdf \xef\xee\xec\xed\xfe\n")
                                        << 0.0 << QStringList{"1 2 Я помню"} << 1;
    }
    void reading()
    {
        QFETCH(int, format);
        QFETCH(QByteArray, bytes);
        QFETCH(double, length);
        QFETCH(QStringList, entries);
        QFETCH(int, notes);
        SubtitleImport how;
        how.mediaLength = length;
        how.legacyEncoding = "windows-1251";
        const LoopList list = parseSubtitles(F(format), bytes, how);
        QCOMPARE(shown(list.entries), entries);
        QVERIFY2(list.notes.size() == notes, qPrintable(list.notes.join(' ')));
        QCOMPARE(list.encodingGuessed, QByteArray(QTest::currentDataTag()).endsWith("guessed"));
        QCOMPARE(list.needsMedia, !entries.isEmpty());
    }
    void encodings()
    {
        const QString japanese = QString::fromUtf8("1\n00:00:01,000 --> 00:00:02,000\n古池や　蛙飛び込む　水の音\n");
        const auto utf16 = [](QStringEncoder::Encoding e, const QString& text) { return QByteArray(QStringEncoder(e).encode(text)); };
        const struct { const char* name; QByteArray bytes; const char* encoding; } rows[] = {
            {"wide script, ideographic spaces", utf16(QStringEncoder::Utf16LE, japanese), "UTF-16LE"},
            {"big-endian, cut inside a character", utf16(QStringEncoder::Utf16BE, japanese).chopped(1), "UTF-16BE"},
            {"utf-8 with a stray zero", QByteArray("1\n00:00:01,000 --> 00:00:02,000\nx\0y\n", 37), "UTF-8"},
            {"zeros alike on both sides", QByteArray(64, '\0'), "UTF-8"},
            {"a lone surrogate", QByteArray("1\0\n\01\0\n\0\x01\xD8x\0", 12), "windows-1251"},
            {"too short to tell", QByteArray("1\0", 2), "UTF-8"},
            {"8-bit", "\xdf \xef\xee\xec\xed\xfe\n", "windows-1251"}};
        for (const auto& r : rows) {
            const DecodedText d = decodeSubtitleText(r.bytes, "windows-1251");
            QVERIFY2(d.encoding == QLatin1String(r.encoding), r.name);
            if (d.encoding.startsWith("UTF-16")) QVERIFY2(d.text.startsWith(japanese.chopped(2)), r.name);
        }
    }
    void margins()
    {
        const QByteArray srt = "00:00:00,100 --> 00:00:00,100\nzero\n\n00:00:00,100 --> 00:00:00,200\na\n\n"
                               "00:00:01,100 --> 00:00:02,000\nb\n\n00:00:04,000 --> 00:00:05,000\nc\n\n"
                               "00:00:05,000 --> 00:00:05,000\nd\n\n00:00:05,000 --> 00:00:06,000\ne\n";
        const struct { double length; QStringList entries; qsizetype notes; } rows[] = {  // notes: backwards, past the end
            {4.1, {"0 0.45 a", "0.95 2.25 b", "3.85 4.1 c"}, 2}, {0, {"0 0.45 a", "0.95 2.25 b", "3.85 5.25 c", "4.85 6.25 e"}, 1}};
        for (const auto& r : rows) {
            const LoopList list = parseSubtitles(F::Srt, srt, {"/m/film.mp4", r.length, 0.15, 0.25, {}});
            QCOMPARE(shown(list.entries), r.entries);
            QVERIFY2(list.notes.size() == r.notes, qPrintable(list.notes.join(' ')));
            QVERIFY(list.entries.value(0).FileName == "/m/film.mp4" && !list.needsMedia);
        }
    }
    void roundTrips()
    {
        for (const F format : {F::Srt, F::WebVtt, F::Lrc}) {
            const QList<EntryRecord> entries{{0, "/m/a.mp4", 1.25, 3.5, 1, 1, {}, "Ça va <3 & señor"},
                                             {0, "/m/a.mp4", 3.5, 7, 1, 1, {}, format == F::Lrc ? "Я помню / вторая" : "Я помню\nвторая"},
                                             {0, "/m/a.mp4", 9, 10.75, 1, 1, {}, "古池や 蛙飛び込む"},
                                             {0, "/m/a.mp4", 90000.5, 90001, 1, 1, {}, "مرحبا بالعالم"}};
            const LoopListText text = writeSubtitles(format, entries);
            QVERIFY2(text.notes.isEmpty(), qPrintable(text.notes.join(' ')));
            // As written, and as other tools save it: line ends and mark changed.
            const QByteArray lf = QByteArray(text.bytes).replace("\r\n", "\n");
            for (const QByteArray& bytes : {lf, QByteArray(lf).replace("\n", "\r\n"), "\xEF\xBB\xBF" + lf,
                                            "\xEF\xBB\xBF" + QByteArray(lf).replace("\n", "\r\n")}) {
                const LoopList read = parseSubtitles(format, bytes, {});
                QCOMPARE(shown(read.entries), shown(entries));
                QVERIFY(!read.encodingGuessed);
            }
        }
    }
    void writingLeavesOutWhatTheFormatCannotHold()
    {
        const QList<EntryRecord> entries{{0, "/m/a.mp4", 1, 2, 0.8, 2, {}, "slow"}, {0, "/m/b.mp4", 3, 0, 1, 1, {}, "open"},
                                         {0, "/m/a.mp4", 5, 6, 1, 1, {}, {}}};
        const struct { F format; int entries, notes; } rows[] = {{F::Srt, 1, 3}, {F::WebVtt, 1, 3}, {F::Lrc, 2, 3}};
        for (const auto& r : rows) {
            const LoopListText text = writeSubtitles(r.format, entries);
            QCOMPARE(parseSubtitles(r.format, text.bytes, {}).entries.size(), r.entries);
            QVERIFY2(text.notes.size() == r.notes, qPrintable(text.notes.join(' ')));
        }
    }
    void hostileInputIsBounded()
    {
        QByteArray many;
        for (int i = 0; i <= kMaxLoopListEntries; ++i) many += "[00:01.00]x\n";
        const LoopList lrc = parseSubtitles(F::Lrc, many, {});
        QCOMPARE(lrc.entries.size(), kMaxLoopListEntries);
        QVERIFY(lrc.notes.join(' ').contains("more than 100000"));
        const QByteArray huge = "00:00:01,000 --> 00:00:02,000\n" + QByteArray(kMaxLoopListBytes - 64, 'w') + "\n";
        const LoopList srt = parseSubtitles(F::Srt, huge, {});
        QCOMPARE(srt.entries.value(0).Text.size(), kMaxCueText);
        QVERIFY(srt.notes.join(' ').contains("cut there"));
    }
    void mediaBeside()
    {
        QTemporaryDir dir;
        for (const char* name : {"film.mp4", "film.mp3", "song.MP3", "song.avi", "song.lrc", "film.en.srt", "alone.srt"})
            testkit::writeBytes(dir.filePath(name), "00:00:01,000 --> 00:00:02,000\nx\n");
        const struct { const char* list; const char* media; } rows[] = {
            {"film.en.srt", "film.mp4"}, {"film.srt", "film.mp4"}, {"film.lrc", "film.mp3"}, {"song.lrc", "song.MP3"},
            {"song.vtt", "song.avi"}, {"alone.srt", ""}};
        for (const auto& r : rows)
            QCOMPARE(QFileInfo(subtitleMediaBeside(dir.filePath(r.list))).fileName(), QString::fromLatin1(r.media));
        bool ok = false;
        QCOMPARE(readLoopListFile(dir.filePath("film.en.srt"), ok).entries.value(0).FileName, dir.filePath("film.mp4"));
        QVERIFY(readLoopListFile(dir.filePath("alone.srt"), ok).needsMedia);
        QCOMPARE(readLoopListFile(dir.filePath("alone.srt"), ok, {"/m/x.mkv"}).entries.value(0).FileName, "/m/x.mkv");
        // A label is an entry's text unless it names a file.
        testkit::writeBytes(dir.filePath("labels.txt"), "1\t2\tVerse 2\n3\t4\tfilm.mp4\n");
        const LoopList labels = readLoopListFile(dir.filePath("labels.txt"), ok);
        QCOMPARE(shown(labels.entries), QStringList({"1 2 Verse 2", "3 4 "}));
    }
};

QTEST_GUILESS_MAIN(SubtitlesTest)
#include "test_subtitles.moc"
