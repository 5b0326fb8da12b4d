// Practice settings as text: read strictly, kept by playlists, the five fields untouched.
#include "app/globals.h"
#include "storage/filebytes.h"
#include "storage/playlistfile.h"
#include "storage/playliststore.h"
#include "support/sandbox.h"
#include "support/testkit.h"

#include <QtTest>

using namespace storage;

// One text in slot `key` (0 pause, 1 count-in, 2 trainer, 3 pitch).
static PracticeTexts only(int key, const QString& text)
{
    PracticeTexts t;
    *QList{&t.pause, &t.countIn, &t.trainer, &t.pitch}[key] = text;
    return t;
}

static const PracticeTexts kAll{.pause = "1.5", .countIn = "4 96 every", .trainer = "0.6 0.05 2", .pitch = "-2 15", .hear = "200-4000 cancel left +6dB",
                                   .stems = "a bass.wav;-6dB|/m/a.vocals.wav;mute;solo"};

class PracticeKeysTest : public QObject {
    Q_OBJECT
private slots:
    void textForms_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("back");  // as written again; "!" where the text is refused
        const struct { int key; const char* text; const char* back; } rows[] = {
            {0, "1.5", "1.5"}, {0, " 60 ", "60"}, {0, "0", ""}, {0, "60.001", "!"}, {0, "-1", "!"},
            {0, "1,5", "!"}, {0, "1e1", "!"}, {0, "inf", "!"}, {0, "nan", "!"}, {0, "99999999999999999999", "!"},
            {0, "1.5 2", "!"}, {0, "1.5x", "1.5x"}, {0, "0.1x", "0.1x"}, {0, "10x", "10x"}, {0, "0x", ""},
            {0, "0.09x", "!"}, {0, "10.5x", "!"}, {0, "-1x", "!"}, {0, "1.5X", "!"}, {0, "x", "!"}, {0, "1.5xx", "!"}, {1, "4 120 first", "4 120 first"}, {1, "32  400  every", "32 400 every"},
            {0, "000000.000000000000001", "0.000000000000001"}, {0, "59.999999999999999", "60"},
            {1, "4 20.000000000000001 first", "4 20 first"},
            {1, "0 120 first", "!"}, {1, "33 120 first", "!"}, {1, "4 19.9 first", "!"}, {1, "4 120 First", "!"},
            {1, "4 120", "!"}, {1, "4.5 120 first", "!"}, {2, "0.6 0.05 2", "0.6 0.05 2"}, {2, "4 1 100", "4 1 100"},
            {2, "0.09 0.05 2", "!"}, {2, "0.6 0 2", "!"}, {2, "0.6 -0.05 2", "!"}, {2, "0.6 0.05 101", "!"},
            {2, "0.6 0.05", "!"}, {3, "-2 15", "-2 15"}, {3, "24 -99", "24 -99"}, {3, "0 0", ""}, {3, "25 0", "!"},
            {3, "0 100", "!"}, {3, "-2", "!"}, {3, "2147483648 0", "!"}, {3, "x y", "!"}};
        for (const auto& r : rows) QTest::addRow("%d %s", r.key, r.text) << r.key << r.text << r.back;
    }
    void textForms()
    {
        QFETCH(int, key);
        QFETCH(QString, text);
        QFETCH(QString, back);
        int refused = -1;
        const PracticeSettings s = practiceOf(only(key, text), &refused);
        QCOMPARE(refused, back == "!" ? 1 : 0);
        // A refused text leaves the setting off, every part of it at its default.
        QCOMPARE(back == "!" ? practiceTexts(PracticeSettings()) : only(key, back), practiceTexts(s));
        if (back == "!") QCOMPARE(s, PracticeSettings());
    }
    void hearForms()
    {
        using C = HearSettings::Centre;
        using Ch = HearSettings::Channels;
        const struct { const char* text; const char* back; HearSettings hear; } rows[] = {
            {"bass", "40-300", {.lowCut = 40, .highCut = 300}},
            {"2000- keep", "2000- keep", {.lowCut = 2000, .centre = C::Keep}},
            {"-300 right -3.5dB", "-300 right -3.5dB", {.highCut = 300, .channels = Ch::Right, .gainDb = -3.5}},
            {"mono 24dB", "mono +24dB", {.channels = Ch::Mono, .gainDb = 24}},
            {"cancel", "cancel", {.centre = C::Cancel}},
            {"300-200", "!", {}}, {"10-300", "!", {}}, {"40-20001", "!", {}}, {"-", "!", {}}, {"+25dB", "!", {}},
            {"left cancel", "!", {}}, {"cancel mono", "!", {}}, {"keep keep", "!", {}}, {"LEFT", "!", {}},
            {"40-300-500", "!", {}}, {"6", "!", {}}, {"1e3-", "!", {}},
        };
        for (const auto& r : rows) {
            int refused = -1;
            const PracticeSettings s = practiceOf({.hear = r.text}, &refused);
            QCOMPARE(refused, QString(r.back) == "!" ? 1 : 0);
            QCOMPARE(s.hear, r.hear);
            if (refused == 0) QCOMPARE(hearText(s.hear), QString(r.back));
        }
    }
    void stemForms()
    {
        const struct { const char* text; const char* back; } rows[] = {
            {"a.bass.wav|a.drums.wav", "a.bass.wav|a.drums.wav"}, {"x y.wav;+3dB;solo", "x y.wav;+3dB;solo"},
            {"a.wav;-6.5dB;mute", "a.wav;-6.5dB;mute"}, {"a.wav;0dB", "a.wav"}, {"a.wav;12dB", "a.wav;+12dB"},
            {"a.wav;13dB", "!"}, {"a.wav;-61dB", "!"}, {"a.wav;mute;-6dB", "!"}, {"a.wav;mute;mute", "!"},
            {"a.wav;Solo", "!"}, {"a.wav;", "!"}, {"a.wav||b.wav", "!"}, {";mute", "!"}, {"a.wav;6", "!"},
            {"1|2|3|4|5|6|7|8", "1|2|3|4|5|6|7|8"}, {"1|2|3|4|5|6|7|8|9", "!"}};
        for (const auto& r : rows) {
            int refused = -1;
            const PracticeSettings s = practiceOf({.stems = r.text}, &refused);
            QCOMPARE(refused, QString(r.back) == "!" ? 1 : 0);
            QCOMPARE(practiceTexts(s).stems, QString(r.back) == "!" ? QString() : QString(r.back));
        }
    }
    void pauseProblems()
    {
        const struct { double pause, factor; bool fine; } rows[] = {{0, 1.5, 1}, {2, 0, 1}, {0, 0.05, 0}, {0, 11, 0}, {1, 1.5, 0}};
        for (const auto& r : rows)
            QCOMPARE(practiceProblem({.pause = r.pause, .pauseFactor = r.factor}).isEmpty(), r.fine);
    }
    void beatWords()
    {
        // Key texts in, as written again (the count-in, the beat words), refused texts; the grid's cell too.
        const struct { const char *countIn, *beat, *backCountIn, *backBeat; int refused; } rows[] = {
            {"3 90 every", "auto", "3 90 every", "auto", 0}, {"", "auto", "4 120 first", "auto", 0},
            {"0 90 first", "auto click", "4 120 first", "auto click", 1}, {"", "click", "", "click", 0},
            {"4 90 first", "click auto", "4 90 first", "auto click", 0}, {"4 90 first", "auto auto", "4 90 first", "", 1},
            {"4 90 first", "Auto", "4 90 first", "", 1}, {"", "click 1", "", "", 1}, {"", "", "", "", 0}};
        for (const auto& r : rows) {
            int refused = -1;
            const PracticeSettings s = practiceOf({{}, r.countIn, {}, {}, r.beat}, &refused);
            const PracticeTexts back{{}, r.backCountIn, {}, {}, r.backBeat};
            QCOMPARE(practiceTexts(s), back);
            QCOMPARE(refused, r.refused);
            QCOMPARE(cellTexts({}, countInCell(back), {}, {}), back);
        }
    }
    void playListKeepsThemAndTheFive()
    {
        testkit::Sandbox box;
        const EntryTexts plain{"/m/a.wav", "1.5", "2", "0.5", "3", {}}, practised{"/m/a.wav", "1.5", "2", "0.5", "3", kAll};
        QCOMPARE(SavePlayList("L", {plain, plain}), SaveResult::Saved);
        const QByteArray without = readFileBytes(app::strIniPath).bytes;
        QVERIFY(!without.contains("FilePause") && !without.contains("FilePitch"));
        QCOMPARE(SavePlayList("L", {plain, practised}), SaveResult::Saved);
        const QList<EntryRecord> back = loadPlayList("L");
        QCOMPARE(back.size(), 2);
        for (const EntryRecord& e : back) QCOMPARE(QList({e.Start, e.Stop, e.Rate, e.Loops}), QList<double>({1.5, 2, 0.5, 3}));
        const PracticeSettings all{.pause = 1.5, .countInClicks = 4, .countInBpm = 96, .countInWhen = PracticeSettings::CountInWhen::EveryPass,
                                   .trainerStartRate = 0.6, .trainerStep = 0.05, .trainerPassesPerStep = 2, .transposeSemitones = -2, .transposeCents = 15,
                                   .hear = {.lowCut = 200, .highCut = 4000, .centre = HearSettings::Centre::Cancel,
                                            .channels = HearSettings::Channels::Left, .gainDb = 6},
                                   .stems = {{{"a bass.wav", -6}, {"/m/a.vocals.wav", 0, true, true}}}};
        QCOMPARE(QList({back[0].Practice, back[1].Practice}), QList({PracticeSettings(), all}));
        // An exported list keeps them the same way.
        const QString obs = box.path("l.obs");
        QVERIFY(ExportPlayListFile(obs, back));
        QVERIFY(ImportPlayListFile(obs).status == ImportOutcome::Status::Read);
        QCOMPARE(ImportEntries.size(), 2);
        QCOMPARE(ImportEntries[1].Practice, all);
        // Turned off again, its keys are emptied, so nothing stale is read, and no other byte changes.
        QCOMPARE(SavePlayList("L", {plain, plain}), SaveResult::Saved);
        QString now = QString::fromUtf8(readFileBytes(app::strIniPath).bytes);
        now.remove(QRegularExpression("File(Pause|CountIn|Trainer|Pitch|Hear|Stems)2=\\r?\n"));
        QCOMPARE(now.toUtf8(), without);
    }
    void hostileValuesLeaveTheFiveAlone()
    {
        testkit::Sandbox box;
        testkit::writeBytes(app::strIniPath, "[L]\nFileCount=2\nFileName1=/m/a.wav\nFileStart1=1\nFileStop1=2\nFileRate1=1\nFileLoop1=2\n"
                "FilePause1=1e308\nFileCountIn1=999999999 120 every\nFileTrainer1=0.6 0.05\nFilePitch1=-2 15\n"
                "FilePause3=2\nFileName2=/m/b.wav\nFileStop2=9\n");
        ReadNotice notice;
        const QList<EntryRecord> back = loadPlayList("L", &notice);
        QCOMPARE(back.size(), 2);  // keys of an entry beyond the count make no entry
        QCOMPARE(QList<double>({back[0].Start, back[0].Stop, back[0].Loops, back[1].Stop}), QList<double>({1, 2, 2, 9}));
        QCOMPARE(notice.refused, 3);
        QCOMPARE(practiceTexts(back[0].Practice), only(3, "-2 15"));
    }
};

QTEST_MAIN(PracticeKeysTest)
#include "test_practicekeys.moc"
