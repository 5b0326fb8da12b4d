// Reading MIDI files into timed events, and finding a sound font to render them with.
#include "midi/midifile.h"
#include "midi/midirender.h"
#include "midi/soundfont.h"
#include "support/testkit.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace midi;

namespace {

QByteArray varLen(quint32 v)
{
    QByteArray out(1, char(v & 0x7F));
    while (v >>= 7) out.prepend(char(0x80 | (v & 0x7F)));
    return out;
}

QByteArray be(quint32 v, int bytes)
{
    QByteArray out;
    for (int i = bytes - 1; i >= 0; --i) out += char(v >> (8 * i));
    return out;
}

QByteArray header(int format, int tracks, quint16 division)
{
    return "MThd" + be(6, 4) + be(format, 2) + be(tracks, 2) + be(division, 2);
}

QByteArray track(const QByteArray& events) { return "MTrk" + be(events.size(), 4) + events; }

QByteArray tempo(quint32 delta, quint32 usPerQuarter) { return varLen(delta) + "\xFF\x51\x03" + be(usPerQuarter, 3); }
QByteArray noteOn(quint32 delta, int key) { return varLen(delta) + char(0x90) + char(key) + char(100); }
QByteArray endOfTrack(quint32 delta) { return varLen(delta) + QByteArray("\xFF\x2F\x00", 3); }

QList<double> noteTimes(const Song& song)
{
    QList<double> t;
    for (const Event& e : song.events)
        if ((e.status & 0xF0) == 0x90 && e.data2 > 0) t << e.seconds;
    return t;
}

bool near(double a, double b) { return std::abs(a - b) < 1e-9; }

} // namespace

class MidiFileTest : public QObject {
    Q_OBJECT

private slots:
    void aTempoChangeInOneTrackTimesEveryTrack()
    {
        // 96 ticks a quarter: 120 a minute, then twice as fast from tick 192 (1.0 s).
        const QByteArray bytes = header(1, 2, 96) + track(tempo(0, 500000) + tempo(192, 250000) + endOfTrack(0)) +
                                 track(noteOn(96, 60) + noteOn(192, 62) + endOfTrack(96));
        const auto song = parse(bytes);
        QVERIFY(song);
        const QList<double> t = noteTimes(*song);
        QCOMPARE(t.size(), 2);
        QVERIFY(near(t[0], 0.5));
        QVERIFY(near(t[1], 1.25));
        QVERIFY(near(song->duration, 1.5));
    }

    void runningStatusAndSilentNoteOnsAreRead()
    {
        const QByteArray events = varLen(0) + "\x90\x3C\x64" + varLen(48) + QByteArray("\x3C\x00", 2) +
                                  varLen(0) + "\xC0\x05" + varLen(48) + "\x40" + endOfTrack(0);
        const auto song = parse(header(0, 1, 96) + track(events));
        QVERIFY(song);
        QCOMPARE(song->events.size(), 4);
        QCOMPARE(song->events[1].status, quint8(0x90));
        QCOMPARE(song->events[1].data2, quint8(0));
        QVERIFY(near(song->events[1].seconds, 0.25));
        // A program change takes one data byte, running status included.
        QCOMPARE(song->events[3].status, quint8(0xC0));
        QCOMPARE(song->events[3].data1, quint8(0x40));
        QVERIFY(near(song->duration, 0.5));
    }

    void formatTwoPlaysItsPatternsOneAfterAnother()
    {
        const QByteArray bytes = header(2, 2, 96) + track(noteOn(0, 60) + endOfTrack(192)) +
                                 track(tempo(0, 250000) + noteOn(96, 62) + endOfTrack(96));
        const auto song = parse(bytes);
        QVERIFY(song);
        QCOMPARE(noteTimes(*song), (QList<double>{0.0, 1.25}));
        QVERIFY(near(song->duration, 1.5));
    }

    void smpteTimeIgnoresTheTempo()
    {
        // 25 frames of 40 ticks: a millisecond a tick.
        const QByteArray bytes = header(0, 1, 0xE728) + track(tempo(0, 250000) + noteOn(500, 60) + endOfTrack(700));
        const auto song = parse(bytes);
        QVERIFY(song);
        QCOMPARE(noteTimes(*song), (QList<double>{0.5}));
        QVERIFY(near(song->duration, 1.2));
    }

    void systemExclusiveIsKeptWithoutItsFrame()
    {
        const QByteArray gmOn("\x7E\x7F\x09\x01", 4);
        const QByteArray events = varLen(0) + char(0xF0) + varLen(gmOn.size() + 1) + gmOn + char(0xF7) + endOfTrack(96);
        const auto song = parse(header(0, 1, 96) + track(events));
        QVERIFY(song);
        QCOMPARE(song->events.size(), 1);
        QCOMPARE(song->events[0].status, quint8(0xF0));
        QCOMPARE(song->events[0].sysex, gmOn);
    }

    void riffMidiAndItsTagsAreRead()
    {
        const QByteArray plain = testkit::midiBytes(2.0, {false, false, "Etude"});
        const QByteArray wrapped = testkit::midiBytes(2.0, {false, true, "Etude"});
        QVERIFY(looksLikeMidi(plain));
        QVERIFY(looksLikeMidi(wrapped));
        for (const QByteArray& bytes : {plain, wrapped}) {
            const auto song = parse(bytes);
            QVERIFY(song);
            QVERIFY(near(song->duration, 2.0));
            QCOMPARE(song->tags.value("title"), QString("Etude"));
            QCOMPARE(noteTimes(*song).size(), 4);  // a note every half second
        }
    }

    void aTrackCutShortKeepsWhatCameBefore()
    {
        QByteArray events = noteOn(0, 60) + noteOn(96, 62) + noteOn(96, 64) + endOfTrack(96);
        QByteArray bytes = header(0, 1, 96) + track(events);
        bytes.chop(6);  // into the third note
        const auto song = parse(bytes);
        QVERIFY(song);
        QCOMPARE(noteTimes(*song), (QList<double>{0.0, 0.5}));
    }

    void whatIsNotAMidiFileIsRefused_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("text") << QByteArray("MThd is how a MIDI file starts");
        QTest::newRow("wave") << QByteArray("RIFF\x24\x00\x00\x00WAVEfmt ", 16);
        QTest::newRow("riff midi without data") << QByteArray("RIFF\x04\x00\x00\x00RMID", 12);
        QTest::newRow("no tracks") << header(1, 0, 96);
        QTest::newRow("zero division") << header(0, 1, 0) + track(endOfTrack(0));
        QTest::newRow("unknown format") << header(3, 1, 96) + track(noteOn(0, 60) + endOfTrack(96));
        QTest::newRow("no length") << header(0, 1, 96) + track(endOfTrack(0));
    }

    void whatIsNotAMidiFileIsRefused()
    {
        QFETCH(QByteArray, bytes);
        QString error;
        QVERIFY(!parse(bytes, &error));
        QVERIFY(!error.isEmpty());
    }

    void onlyMidiContentLooksLikeMidi()
    {
        QVERIFY(!looksLikeMidi(QByteArray("RIFF\x24\x00\x00\x00WAVE", 12)));
        QVERIFY(!looksLikeMidi("ID3\x04"));
        QVERIFY(!looksLikeMidi("MTh"));
    }

    void soundFontSearch()
    {
        QTemporaryDir dir;
        const QString first = dir.filePath("first"), second = dir.filePath("second");
        QDir().mkpath(first);
        QDir().mkpath(second);
        qunsetenv(kSoundFontVariable);
        setSoundFontFolders({first, second});

        testkit::writeFile(first + "/aaa.sf2", 10);
        QCOMPARE(findSoundFont().path, first + "/aaa.sf2");
        // A known General MIDI set wins over any other font, in whichever folder.
        testkit::writeFile(second + "/TimGM6mb.sf2", 10);
        QCOMPARE(findSoundFont().path, second + "/TimGM6mb.sf2");
        testkit::writeFile(second + "/default-GM.sf2", 10);
        QCOMPARE(findSoundFont().path, second + "/default-GM.sf2");
        // An empty file is no sound font.
        testkit::writeFile(first + "/default-GM.sf2", 0);
        QCOMPARE(findSoundFont().path, second + "/default-GM.sf2");

        const QString named = testkit::writeFile(dir.filePath("mine.sf2"), 10);
        qputenv(kSoundFontVariable, named.toUtf8());
        QCOMPARE(findSoundFont().path, named);

        setSoundFontFolders({dir.filePath("nowhere")});
        qputenv(kSoundFontVariable, dir.filePath("gone.sf2").toUtf8());
        const SoundFontChoice none = findSoundFont();
        QVERIFY(none.path.isEmpty());
        QVERIFY(none.problem.contains("Install the package timgm6mb-soundfont"));
        QVERIFY(none.problem.contains(dir.filePath("gone.sf2")));

        qunsetenv(kSoundFontVariable);
        resetSoundFontFolders();
        QVERIFY(soundFontFolders().contains("/usr/share/sounds/sf2"));
        QVERIFY(soundFontFolders().contains("/usr/share/soundfonts"));
    }

    void theCacheLosesTheLeastRecentlyPlayedFirst()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        // a.wav played longest ago ... d.wav last; 100 bytes each, and one other file.
        const QDateTime now = QDateTime::currentDateTime();
        const QStringList names{"a.wav", "b.wav", "c.wav", "d.wav"};
        for (int i = 0; i < names.size(); ++i) {
            QFile f(dir.filePath(names[i]));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(QByteArray(100, 'x'));
            QVERIFY(f.setFileTime(now.addSecs(-3600 + 60 * i), QFileDevice::FileModificationTime));
        }
        testkit::writeFile(dir.filePath("notes.txt"), 5000);

        markUsed(dir.filePath("a.wav"));  // played again just now
        QCOMPARE(trimCache(dir.path(), 400, QString()), 0);
        // Over the limit: b and c go; d, the one to keep, stays though it is old.
        QFile d(dir.filePath("d.wav"));
        QVERIFY(d.open(QIODevice::ReadWrite) && d.setFileTime(now.addSecs(-7200), QFileDevice::FileModificationTime));
        d.close();
        QCOMPARE(trimCache(dir.path(), 250, dir.filePath("d.wav")), 2);
        QVERIFY(QFileInfo::exists(dir.filePath("a.wav")));
        QVERIFY(!QFileInfo::exists(dir.filePath("b.wav")));
        QVERIFY(!QFileInfo::exists(dir.filePath("c.wav")));
        QVERIFY(QFileInfo::exists(dir.filePath("d.wav")));
        QVERIFY(QFileInfo::exists(dir.filePath("notes.txt")));
        // Nothing but the kept one left to remove.
        QCOMPARE(trimCache(dir.path(), 0, dir.filePath("a.wav")), 1);
        QCOMPARE(QDir(dir.path()).entryList({"*.wav"}), QStringList{"a.wav"});
    }
};

QTEST_GUILESS_MAIN(MidiFileTest)
#include "test_midifile.moc"
