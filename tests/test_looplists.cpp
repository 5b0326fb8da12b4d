// Loop lists of other tools: every entry survives a round trip, lists written by the tools
// themselves read as they mean, and what cannot be kept is said.
#include "storage/looplists.h"

#include <QTest>

using storage::LoopListFormat;

Q_DECLARE_METATYPE(LoopListFormat)

namespace {

struct Expected {
    QString file;
    double start, stop;
};

EntryRecord entry(const QString& file, double start, double stop, double rate = 1, double loops = 1)
{
    return {0, file, start, stop, rate, loops};
}

void compareEntries(const QList<EntryRecord>& got, const QList<Expected>& want)
{
    QCOMPARE(got.size(), want.size());
    for (qsizetype i = 0; i < got.size(); ++i) {
        QCOMPARE(got[i].FileName, want[i].file);
        QVERIFY2(std::abs(got[i].Start - want[i].start) < 1e-9, qPrintable(QString::number(got[i].Start)));
        QVERIFY2(std::abs(got[i].Stop - want[i].stop) < 1e-9, qPrintable(QString::number(got[i].Stop)));
    }
}

} // namespace

class TestLoopLists : public QObject {
    Q_OBJECT
private slots:
    void roundTripKeepsEveryEntry_data()
    {
        QTest::addColumn<LoopListFormat>("format");
        // Positions on whole 1/75 s, so that a CUE sheet holds them exactly too.
        const QList<EntryRecord> list{
            entry("/music/Take Five.mp3", 1.2, 10.48),
            entry("/music/Take Five.mp3", 10.48, 20),    // carries on where the one before stops
            entry("/music/Take Five.mp3", 4, 8),         // goes back
            entry("/music/whole, file.wav", 0, 0),       // the whole file, a comma in the name
            entry("/video/día de baile.avi", 62.04, 75.6),
        };
        for (auto [name, format] : {std::pair{"audacity", LoopListFormat::AudacityLabels},
                                    std::pair{"cue", LoopListFormat::Cue}, std::pair{"m3u", LoopListFormat::M3u},
                                    std::pair{"edl", LoopListFormat::MpvEdl}})
            QTest::newRow(name) << format;
        m_list = list;
    }
    void roundTripKeepsEveryEntry()
    {
        QFETCH(LoopListFormat, format);
        const storage::LoopListText text = storage::writeLoopList(format, m_list);
        QCOMPARE(text.notes, QStringList());
        const storage::LoopList back = storage::parseLoopList(format, text.bytes, "/elsewhere");
        QCOMPARE(back.notes, QStringList());
        QList<Expected> want;
        for (const EntryRecord& e : m_list) want.append({e.FileName, e.Start, e.Stop});
        compareEntries(back.entries, want);
    }

    void whatAFormatCannotHoldIsSaid_data()
    {
        QTest::addColumn<LoopListFormat>("format");
        QTest::addColumn<QList<EntryRecord>>("entries");
        QTest::addColumn<int>("written");  // entries that read back
        QTest::addColumn<QString>("said");  // a word the note must hold
        QTest::newRow("rate in labels") << LoopListFormat::AudacityLabels << QList{entry("/a.wav", 0, 1, 0.5)} << 1 << "rate";
        QTest::newRow("loops in m3u") << LoopListFormat::M3u << QList{entry("/a.wav", 0, 1, 1, 3)} << 1 << "loop";
        QTest::newRow("loops in edl") << LoopListFormat::MpvEdl << QList{entry("/a.wav", 0, 1, 1, 3)} << 1 << "loop";
        QTest::newRow("cue rounds") << LoopListFormat::Cue << QList{entry("/a.wav", 0.001, 1)} << 1 << "1/75";
        QTest::newRow("cue quote") << LoopListFormat::Cue << QList{entry("/a\".wav", 0, 1), entry("/b.wav", 0, 1)} << 1
                                   << "quote";
        QTest::newRow("line break") << LoopListFormat::M3u << QList{entry("/a\nb.wav", 0, 1)} << 0 << "line break";
        EntryRecord paused = entry("/a.wav", 0, 1);
        paused.Practice.pause = 2;
        QTest::newRow("pause in cue") << LoopListFormat::Cue << QList{paused} << 1 << "pause";
        QTest::newRow("edl backwards") << LoopListFormat::MpvEdl << QList{entry("/a.wav", 5, 2)} << 1 << "before the start";
    }
    void whatAFormatCannotHoldIsSaid()
    {
        QFETCH(LoopListFormat, format);
        QFETCH(QList<EntryRecord>, entries);
        QFETCH(int, written);
        QFETCH(QString, said);
        const storage::LoopListText text = storage::writeLoopList(format, entries);
        QCOMPARE(text.notes.size(), 1);
        QVERIFY2(text.notes[0].contains(said), qPrintable(text.notes[0]));
        QCOMPARE(storage::parseLoopList(format, text.bytes, "/").entries.size(), written);
    }

    void listsOfOtherToolsRead_data()
    {
        QTest::addColumn<LoopListFormat>("format");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QList<Expected>>("want");
        QTest::addColumn<int>("notes");
        QTest::newRow("audacity with frequencies and a point label")
            << LoopListFormat::AudacityLabels
            << QByteArray("1.500000\t3.250000\tsong.wav\n\\\t100.0\t2000.0\n7.000000\t7.000000\t/abs/b.wav\r\n")
            << QList<Expected>{{"/lists/song.wav", 1.5, 3.25}, {"/abs/b.wav", 7, 7}} << 0;
        QTest::newRow("audacity junk") << LoopListFormat::AudacityLabels << QByteArray("x\ty\tz\n-1\t2\ta\n2\t3\t\n")
                                       << QList<Expected>{} << 1;
        QTest::newRow("cue of a whole record")
            << LoopListFormat::Cue
            << QByteArray("PERFORMER \"Band\"\nFILE \"rec one.flac\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                          "  TRACK 02 AUDIO\n    INDEX 00 03:00:00\n    INDEX 01 03:02:15\n"
                          "  TRACK 03 AUDIO\n    INDEX 01 05:00:00\n")
            << QList<Expected>{{"/lists/rec one.flac", 0, 180}, {"/lists/rec one.flac", 182.2, 300},
                               {"/lists/rec one.flac", 300, 0}}
            << 1;  // the last track's end is not given
        QTest::newRow("cue frames to the millisecond")
            << LoopListFormat::Cue << QByteArray("FILE a.mp3 MP3\nTRACK 01 AUDIO\nINDEX 01 00:00:38\nREM STOP 00:01:01\n")
            << QList<Expected>{{"/lists/a.mp3", 0.507, 1.013}} << 0;
        QTest::newRow("cue bad times") << LoopListFormat::Cue
                                       << QByteArray("TRACK 01 AUDIO\nFILE a.wav WAVE\nTRACK 01 AUDIO\nINDEX 01 00:61:00\n")
                                       << QList<Expected>{} << 1;
        QTest::newRow("m3u of a media player")
            << LoopListFormat::M3u
            << QByteArray("#EXTM3U\n#EXTINF:123,Title\n#EXTVLCOPT:start-time=2.5\n#EXTVLCOPT:stop-time=9\n"
                          "file:///music/a%20b.mp3\nhttp://radio.example/stream\n#EXTVLCOPT:network-caching=1000\n"
                          "rel/c.ogg\n")
            << QList<Expected>{{"/music/a b.mp3", 2.5, 9}, {"/lists/rel/c.ogg", 0, 0}} << 1;
        QTest::newRow("edl with options and named values")
            << LoopListFormat::MpvEdl
            << QByteArray("# mpv EDL v0\n!no_clip\n# a comment\n%7%x,y.mp4,10,5;a.mp4,start=1,length=2.5\n"
                          "file=b.mp4,length=3\n%99%short\n")
            << QList<Expected>{{"/lists/x,y.mp4", 10, 15}, {"/lists/a.mp4", 1, 3.5}, {"/lists/b.mp4", 0, 3}} << 2;
        QTest::newRow("blanks bared by a cleaned name") << LoopListFormat::M3u << QByteArray("2|2|\t/\t/\n")
                                                        << QList<Expected>{{"/lists/2|2|", 0, 0}} << 0;
        QTest::newRow("no edl") << LoopListFormat::MpvEdl << QByteArray("a.mp4,1,2\n") << QList<Expected>{} << 1;
    }
    void listsOfOtherToolsRead()
    {
        QFETCH(LoopListFormat, format);
        QFETCH(QByteArray, bytes);
        QFETCH(QList<Expected>, want);
        QFETCH(int, notes);
        const storage::LoopList list = storage::parseLoopList(format, bytes, "/lists");
        compareEntries(list.entries, want);
        QCOMPARE(list.notes.size(), notes);
    }

    void cueNamesTheFileType()
    {
        for (auto [file, type] : {std::pair{"/a.mp3", "MP3"}, {"/a.aiff", "AIFF"}, {"/v.mpg", "BINARY"}, {"/a.wav", "WAVE"}})
            QVERIFY2(storage::writeLoopList(LoopListFormat::Cue, {entry(file, 0, 1)}).bytes.contains(QByteArray("\" ") + type + '\n'),
                     file);
    }

    void countsAndLengthsAreBounded()
    {
        QByteArray many;
        for (qsizetype i = 0; i < storage::kMaxLoopListEntries + 3; ++i) many += "0\t1\t/a.wav\n";
        many += "0\t1\t/" + QByteArray(storage::kMaxLoopListField, 'x') + "\n";
        const storage::LoopList list = storage::parseLoopList(LoopListFormat::AudacityLabels, many, "/");
        QCOMPARE(list.entries.size(), storage::kMaxLoopListEntries);
        QCOMPARE(list.notes.size(), 1);

        const storage::LoopList longName = storage::parseLoopList(
            LoopListFormat::M3u, "/" + QByteArray(storage::kMaxLoopListField, 'x') + "\n/ok.wav\n", "/");
        QCOMPARE(longName.entries.size(), 1);
        QCOMPARE(longName.notes.size(), 1);
    }

    void formatByExtension()
    {
        QCOMPARE(storage::loopListFormatOf("/a/labels.TXT"), LoopListFormat::AudacityLabels);
        QCOMPARE(storage::loopListFormatOf("/a/x.cue"), LoopListFormat::Cue);
        QCOMPARE(storage::loopListFormatOf("/a/x.m3u8"), LoopListFormat::M3u);
        QCOMPARE(storage::loopListFormatOf("/a/x.edl"), LoopListFormat::MpvEdl);
        QCOMPARE(storage::loopListFormatOf("/a/x.en.SRT"), LoopListFormat::Srt);
        QCOMPARE(storage::loopListFormatOf("/a/x.vtt"), LoopListFormat::WebVtt);
        QCOMPARE(storage::loopListFormatOf("/a/x.lrc"), LoopListFormat::Lrc);
        QCOMPARE(storage::loopListFormatOf("/a.b/mine"), LoopListFormat::Obs);
        QCOMPARE(storage::loopListFormatOf("/a/x.vamplet"), LoopListFormat::Obs);
    }

private:
    QList<EntryRecord> m_list;
};

QTEST_GUILESS_MAIN(TestLoopLists)
#include "test_looplists.moc"
