// Every type of the media filter that Debian's tools can write, played on the real
// engine (ao=null, vo=null) through the player and entry playback; and files that
// cannot be played, told once without leaving anything running.
//
// Not generated here: .wmd, a Windows Media Download package (a ZIP of player skins and
// playlists around the media), which no tool here writes and nothing here plays. WMV
// with WMA sound gains the WMA encoder's 46 ms priming at its start, which ASF cannot
// mark for trimming, so the video types are written without sound; .wma holds WMA sound.
#include "playback/entryplayer.h"
#include "playback/mediaplayer.h"
#include "engine/midi/midiengine.h"
#include "midi/midirender.h"
#include "engine/mpv/mpvengine.h"
#include "midi/soundfont.h"
#include "support/sandbox.h"
#include "support/testkit.h"

#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

using namespace engine;
using namespace playback;

namespace {

constexpr double kSeconds = 3.0;
constexpr double kTolerance = 0.05;

using testkit::ffmpeg;

} // namespace

class FormatsMpvTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QHash<QString, QString> m_notMade;  // extension -> why
    MediaPlayer* m_player = nullptr;
    // Plays at rate 1 throughout: the clock a speed is read against, delayed alike by a busy machine.
    MpvEngine* m_pace = nullptr;
    EntryPlayer* m_entry = nullptr;
    int m_nextRequests = 0;

    QString file(const QString& ext) const { return m_dir.filePath("sample." + ext); }

    void make(const QStringList& exts, const QStringList& args, bool video)
    {
        const QString d = QString::number(kSeconds);
        QStringList in;
        if (video) in << "-f" << "lavfi" << "-i" << "testsrc=duration=" + d + ":size=160x120:rate=25";
        if (args.contains("-c:a"))
            in << "-f" << "lavfi" << "-i" << "sine=frequency=440:sample_rate=44100:duration=" + d;
        if (!ffmpeg(in + args + QStringList{file(exts.first())})) {
            for (const QString& e : exts) m_notMade.insert(e, "ffmpeg could not write it");
            return;
        }
        for (const QString& e : exts.mid(1)) QFile::copy(file(exts.first()), file(e));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        midi::setCacheFolder(m_dir.filePath("cache"));
        if (QStandardPaths::findExecutable("ffmpeg").isEmpty()) {
            for (const char* e : {"wav", "au", "snd", "aif", "aiff", "aifc", "mp3", "wma", "asf", "wm", "wmv", "mpg",
                                  "mpeg", "mpe", "m1v", "mp2", "mpa", "avi"})
                m_notMade.insert(e, "ffmpeg is not installed");
        } else {
            make({"wav"}, {"-c:a", "pcm_s16le", "-f", "wav"}, false);
            make({"au", "snd"}, {"-c:a", "pcm_s16be", "-f", "au"}, false);
            make({"aiff", "aif"}, {"-c:a", "pcm_s16be", "-f", "aiff"}, false);
            make({"aifc"}, {"-c:a", "pcm_f32be", "-f", "aiff"}, false);  // another codec makes it AIFF-C
            make({"mp3"}, {"-c:a", "libmp3lame", "-f", "mp3"}, false);
            make({"wma"}, {"-c:a", "wmav2", "-f", "asf"}, false);
            make({"wmv", "asf", "wm"}, {"-c:v", "wmv2", "-f", "asf"}, true);
            make({"mpg", "mpeg", "mpe"}, {"-c:v", "mpeg1video", "-c:a", "mp2", "-f", "mpeg"}, true);
            make({"m1v"}, {"-c:v", "mpeg1video", "-f", "mpeg1video"}, true);
            make({"mp2", "mpa"}, {"-c:a", "mp2", "-f", "mp2"}, false);
            make({"avi"}, {"-c:v", "mpeg4", "-c:a", "mp2", "-f", "avi"}, true);
        }
        testkit::writeMidi(file("mid"), kSeconds);
        testkit::writeMidi(file("midi"), kSeconds);
        testkit::writeMidi(file("rmi"), kSeconds, {false, true});
        if (midi::findSoundFont().path.isEmpty())
            for (const char* e : {"mid", "midi", "rmi"}) m_notMade.insert(e, "no General MIDI sound font is installed");

        m_player = new MediaPlayer(new MidiEngine(new MpvEngine(MpvEngine::Options{false, false})));
        m_entry = new EntryPlayer(m_player->control(), m_player);
        m_pace = new MpvEngine(MpvEngine::Options{false, false}, m_player);
        m_pace->load(testkit::writeWav(m_dir.filePath("pace.wav"), 600.0, 8000));
        QVERIFY(m_pace->waitForLoad(5000));
        testkit::sayRefusals(*m_entry);
        m_entry->setNextEntrySource([this] {
            ++m_nextRequests;
            return EntryRecord{};
        });
    }

    void cleanupTestCase() { delete m_player; }

    void cleanup()
    {
        if (m_entry) m_entry->stopPlayback();
    }

    void everyTypePlays_data()
    {
        QTest::addColumn<QString>("ext");
        for (const char* e : {"wav", "au", "snd", "aif", "aiff", "aifc", "mp3", "wma", "asf", "wm", "wmv", "mpg",
                              "mpeg", "mpe", "m1v", "mp2", "mpa", "avi", "mid", "midi", "rmi"})
            QTest::newRow(e) << QString(e);
    }

    void everyTypePlays()
    {
        QFETCH(QString, ext);
        if (m_notMade.contains(ext)) QSKIP(qPrintable("not made here: " + m_notMade.value(ext)));
        const QString path = file(ext);
        testkit::MessageRecorder messages;
        MediaPlayer& p = *m_player;

        // Whole, in counted mode, once its length is known (a raw stream's is counted).
        m_entry->PlayPosition(path, "0", "0", "1", "1", false);
        QCOMPARE(p.control()->FileName(), path);
        QVERIFY2(!p.control()->failed(), qPrintable(p.control()->failure()));
        QTRY_VERIFY2_WITH_TIMEOUT(std::abs(p.control()->Duration() - kSeconds) < kTolerance,
                                  qPrintable(QString::number(p.control()->Duration(), 'f', 4)), 30000);
        QVERIFY(m_entry->counted());
        QTRY_VERIFY_WITH_TIMEOUT(p.control()->CurrentPosition() > 0.05, 30000);  // a MIDI file may still render

        // A seek to the middle while it plays, as the player's timers and tracker seek:
        // from there, playback runs on at its rate. Read from the seek on: its target at
        // once, then never before it and never backwards.
        p.control()->setCurrentPosition(kSeconds / 2);
        QVERIFY2(std::abs(p.control()->CurrentPosition() - kSeconds / 2) < kTolerance, qPrintable(QString::number(p.control()->CurrentPosition())));
        double last = 0, lowest = kSeconds, back = 0;
        QTRY_VERIFY_WITH_TIMEOUT(([&] {
            const double at = p.control()->CurrentPosition();
            lowest = std::min(lowest, at);
            back = std::max(back, last - at);
            last = at;
            return at >= kSeconds / 2 + 0.3;
        }()), 30000);
        QVERIFY2(lowest >= kSeconds / 2 - kTolerance && back < kTolerance,
                 qPrintable(QString("from %1, %2 s back").arg(lowest, 0, 'f', 3).arg(back, 0, 'f', 3)));
        // ... at its rate: 0.3 s of file as long as 0.3 s of the pace engine's, however late
        // the seek landed.
        const double from = p.control()->CurrentPosition(), paceFrom = m_pace->position();
        QTRY_VERIFY_WITH_TIMEOUT(p.control()->CurrentPosition() >= from + 0.3, 30000);
        const double speed = (p.control()->CurrentPosition() - from) / (m_pace->position() - paceFrom);
        QVERIFY2(std::abs(speed - 1.0) < 0.25, qPrintable(QString::number(speed)));

        // A stretch played twice, then the list goes on: each pass heard to near its stop.
        QSignalSpy wraps(m_player, &MediaPlayer::loopWrapped);
        m_nextRequests = 0;
        m_entry->PlayPosition(path, "0.5", "1.0", "1", "2", false);
        double highest = 0;
        QList<double> passHighest{0};
        const auto c = connect(m_player, &MediaPlayer::loopWrapped, this, [&] { passHighest << 0; });
        QTRY_VERIFY_WITH_TIMEOUT(([&] {
            const double at = p.control()->CurrentPosition();
            highest = std::max(highest, at);
            passHighest.back() = std::max(passHighest.back(), at);
            return m_nextRequests > 0;
        }()), 30000);
        disconnect(c);
        QCOMPARE(m_nextRequests, 1);
        QCOMPARE(wraps.count(), 1);
        for (double h : passHighest) QVERIFY2(h >= 0.75, qPrintable(QString::number(h, 'f', 3)));
        QVERIFY2(highest <= 1.0 + kTolerance, qPrintable(QString::number(highest, 'f', 3)));
        QVERIFY(messages.messages.isEmpty());
    }

    void undecodableFilesAreToldOnce_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("reason");
        const QString notMedia = "not in a sound or video format";
        QTest::newRow("text as mp3") << "list.mp3" << QByteArray("Eggs, milk, bread.\n") << notMedia;
        QTest::newRow("text as mid") << "list.mid" << QByteArray("Eggs, milk, bread.\n") << notMedia;
        QByteArray noise(4096, 0);
        QRandomGenerator rng(7);
        for (char& c : noise) c = char(rng.bounded(256));
        QTest::newRow("noise as wmv") << "noise.wmv" << noise << notMedia;
        QFile avi(file("avi"));
        if (avi.open(QIODevice::ReadOnly))
            QTest::newRow("video cut after its header") << "cut.avi" << avi.read(2000) << notMedia;
        QTest::newRow("MIDI header alone") << "empty.mid" << testkit::midiBytes(2.0).left(14)
                                           << "The MIDI file holds no tracks.";
        QTest::newRow("MIDI cut in its header") << "cut.rmi" << testkit::midiBytes(2.0, {false, true}).left(30)
                                                << "The MIDI file is damaged";
    }

    void undecodableFilesAreToldOnce()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, reason);
        const QString path = testkit::writeBytes(m_dir.filePath(name), bytes);
        testkit::MessageRecorder messages;
        MediaPlayer& p = *m_player;

        m_entry->PlayPosition(path, "0", "0", "1", "1", false);
        // The file is found out on the engine's own time (slow on a loaded machine); a second
        // message would show in the counts below.
        QTRY_COMPARE_WITH_TIMEOUT(messages.messages.size(), 1, 15000);
        QCOMPARE(messages.messages[0].text.left(messages.messages[0].text.indexOf("cannot be played")),
                 "Filename:\n'" + path + "'\n");
        QVERIFY2(messages.messages[0].text.contains(reason), qPrintable(messages.messages[0].text));
        QVERIFY(!m_entry->counted() && !m_entry->endless());
        QCOMPARE(p.control()->PlayState(), engine::PlayState::Stopped);

        // Looping a stretch of it: told again, and no timer keeps checking a dead file.
        m_entry->PlayPosition(path, "1", "2", "1", "0", true);
        QTRY_COMPARE_WITH_TIMEOUT(messages.messages.size(), 2, 15000);
        QVERIFY(!m_entry->counted() && !m_entry->endless());
        QCOMPARE(p.control()->PlayState(), engine::PlayState::Stopped);
        QCOMPARE(p.control()->CurrentPosition(), 0.0);

        // The player is fine: the next file plays.
        m_entry->PlayPosition(m_notMade.contains("wav") ? file("mid") : file("wav"), "0", "0", "1", "1", false);
        QVERIFY(m_entry->counted());
        QTRY_VERIFY_WITH_TIMEOUT(p.control()->CurrentPosition() > 0.1, 30000);  // a bound, not a pace: a loaded machine starts late
        QCOMPARE(messages.messages.size(), 2);
    }
};

QTEST_MAIN(FormatsMpvTest)
#include "test_formats_mpv.moc"
