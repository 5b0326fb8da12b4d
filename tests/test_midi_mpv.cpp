// MIDI files on the real engine (ao=null, vo=null): rendered to sound with the system's
// sound font, kept in a cache, and played like any sound file.
#include "playback/entryplayer.h"
#include "playback/mediaplayer.h"
#include "engine/midi/midiengine.h"
#include "midi/midirender.h"
#include "engine/mpv/mpvengine.h"
#include "midi/soundfont.h"
#include "support/sandbox.h"
#include "support/testkit.h"
#include "support/waits.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <cmath>

using namespace engine;
using namespace playback;

namespace {

// A 44-byte-header 16-bit stereo WAV's frames.
QList<qint16> leftChannel(const QString& wav)
{
    QFile f(wav);
    if (!f.open(QIODevice::ReadOnly)) return {};
    const QByteArray all = f.readAll();
    QList<qint16> left;
    for (qsizetype i = 44; i + 4 <= all.size(); i += 4) left << qFromLittleEndian<qint16>(all.constData() + i);
    return left;
}

QByteArray be(quint32 v, int bytes)
{
    QByteArray out;
    for (int i = bytes - 1; i >= 0; --i) out += char(v >> (8 * i));
    return out;
}

} // namespace

class MidiMpvTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_cache;
    QString m_song;  // 3 s, titled
    QString m_wav;

    QString path(const QString& name) const { return m_dir.filePath(name); }

    static MediaPlayer* newPlayer()
    {
        return new MediaPlayer(new MidiEngine(new MpvEngine(MpvEngine::Options{false, false})));
    }
    static MidiEngine* midiOf(MediaPlayer& p) { return static_cast<MidiEngine*>(p.control()->engine()); }

    // Sets the file and waits until it is loaded, rendering included.
    static bool loadAndWait(MediaPlayer& p, const QString& file)
    {
        QSignalSpy loaded(p.control()->engine(), &MediaEngine::loaded);
        p.control()->setFileName(file);
        if (!p.control()->engine()->waitForLoad(5000)) loaded.wait(30000);
        return loaded.count() == 1;
    }

    QStringList renderings() const { return QDir(m_cache).entryList(QDir::Files); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        if (midi::findSoundFont().path.isEmpty()) QSKIP("no General MIDI sound font installed (timgm6mb-soundfont)");
        m_cache = path("cache");
        midi::setCacheFolder(m_cache);
        m_song = testkit::writeMidi(path("song.mid"), 3.0, {true, false, "Little Tune"});
        m_wav = testkit::writeWav(path("tone.wav"), 2.0);
    }

    void init() { QVERIFY(QDir(m_cache).removeRecursively()); }

    void theRenderingIsTheSongToTheSample()
    {
        // One note from 1.0 s to 1.5 s at 60 beats a minute; the song ends at 2.0 s.
        const QByteArray events = QByteArray("\x00\xFF\x51\x03", 4) + be(1000000, 3) + QByteArray("\x00\xC0\x00", 3) +
                                  "\x83\x60\x90\x45\x70" + QByteArray("\x81\x70\x80\x45\x00", 5) +
                                  QByteArray("\x81\x70\xFF\x2F\x00", 5);
        const QByteArray smf = "MThd" + be(6, 4) + be(0, 2) + be(1, 2) + be(480, 2) + "MTrk" + be(events.size(), 4) + events;
        const auto song = midi::parse(smf);
        QVERIFY(song);
        QCOMPARE(song->duration, 2.0);

        const int before = midi::renderCount();
        const QString target = path("one-note.wav");
        auto handle = midi::render(target, *song, midi::findSoundFont().path);
        QVERIFY(handle->job()->wait(20000));
        QVERIFY2(handle->job()->error().isEmpty(), qPrintable(handle->job()->error()));
        QCOMPARE(midi::renderCount(), before + 1);

        const QList<qint16> left = leftChannel(target);
        QCOMPARE(left.size(), 2 * midi::kSampleRate);
        qsizetype onset = -1;
        for (qsizetype i = 0; i < left.size() && onset < 0; ++i)
            if (std::abs(left[i]) > 100) onset = i;
        const double onsetSeconds = double(onset) / midi::kSampleRate;
        QVERIFY2(onsetSeconds >= 1.0 && onsetSeconds < 1.01, qPrintable(QString::number(onsetSeconds, 'f', 4)));
    }

    void aMidiFilePlaysLikeASoundFile()
    {
        std::unique_ptr<MediaPlayer> p(newPlayer());
        QSignalSpy progress(p->control()->engine(), &MediaEngine::loadProgress);
        QVERIFY(loadAndWait(*p, m_song));
        QCOMPARE(p->control()->FileName(), m_song);
        QVERIFY(!p->control()->failed());
        QCOMPARE(p->GetMediaInfoString(1), QString("Little Tune"));
        QVERIFY(!progress.isEmpty());

        // The rendering holds the song's length to the sample, and the engine says so.
        QCOMPARE(renderings().size(), 1);
        const qint64 frames = (QFileInfo(QDir(m_cache).filePath(renderings().first())).size() - 44) / 4;
        QCOMPARE(frames, qint64(3 * midi::kSampleRate));
        QVERIFY2(std::abs(p->control()->Duration() - 3.0) < 0.001, qPrintable(QString::number(p->control()->Duration(), 'f', 4)));
        QTRY_VERIFY_WITH_TIMEOUT(p->control()->CurrentPosition() > 0.2, 3000);
        QCOMPARE(p->control()->PlayState(), engine::PlayState::Playing);

        p->control()->setRate(1.5);
        p->control()->setLoop({1.0, 1.6, LoopRange::kEndless, false});
        p->control()->setCurrentPosition(1.0);
        QSignalSpy wraps(p.get(), &MediaPlayer::loopWrapped);
        double lowest = 9, highest = -1;
        testkit::PaceClock safetyNet;  // a stall ends the wait, not a busy machine
        const double netFrom = safetyNet.position();
        while (wraps.count() < 2 && safetyNet.position() < netFrom + 5) {
            QTest::qWait(10);
            lowest = std::min(lowest, p->control()->CurrentPosition());
            highest = std::max(highest, p->control()->CurrentPosition());
        }
        QCOMPARE(wraps.count(), 2);
        QVERIFY2(lowest >= 1.0 - 0.005 && highest <= 1.6 + 0.005, qPrintable(QString("%1..%2").arg(lowest).arg(highest)));
        QCOMPARE(p->control()->Rate(), 1.5);
    }

    void aSecondLoadComesFromTheCacheAndAChangedFileIsRenderedAgain()
    {
        const QString file = testkit::writeMidi(path("changing.mid"), 2.0);
        std::unique_ptr<MediaPlayer> p(newPlayer());
        const int before = midi::renderCount();
        QVERIFY(loadAndWait(*p, file));
        QCOMPARE(midi::renderCount(), before + 1);

        QVERIFY(loadAndWait(*p, m_wav));
        QVERIFY(loadAndWait(*p, file));
        QCOMPARE(midi::renderCount(), before + 1);
        // Even a second player finds it.
        std::unique_ptr<MediaPlayer> other(newPlayer());
        QVERIFY(loadAndWait(*other, file));
        QCOMPARE(midi::renderCount(), before + 1);

        // New length and time: rendered again, and the old rendering goes.
        testkit::writeMidi(file, 2.5);
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadWrite));
        QVERIFY(f.setFileTime(QDateTime::currentDateTime().addSecs(60), QFileDevice::FileModificationTime));
        f.close();
        QVERIFY(loadAndWait(*p, m_wav));
        QVERIFY(loadAndWait(*p, file));
        QCOMPARE(midi::renderCount(), before + 2);
        QVERIFY(std::abs(p->control()->Duration() - 2.5) < 0.001);
        QCOMPARE(renderings().size(), 1);
    }

    void whatIsAskedWhileRenderingAppliesToTheRendering()
    {
        const QString file = testkit::writeMidi(path("long.mid"), 40.0, {true});
        std::unique_ptr<MediaPlayer> p(newPlayer());
        QSignalSpy states(p.get(), &MediaPlayer::PlayStateChange);
        QSignalSpy loaded(p->control()->engine(), &MediaEngine::loaded);
        p->control()->setFileName(file);
        QVERIFY(midiOf(*p)->rendering());
        // Known from the file itself, before a note is rendered.
        QCOMPARE(p->control()->Duration(), 40.0);
        QCOMPARE(p->control()->PlayState(), engine::PlayState::Playing);
        p->control()->setRate(1.25);
        p->control()->setLoop({10.0, 11.0, LoopRange::kEndless, false});
        p->control()->setCurrentPosition(10.0);
        QCOMPARE(p->control()->CurrentPosition(), 10.0);
        // The player tells how far the rendering is, until it plays.
        const QLabel* preparing = p->findChild<QLabel*>(QStringLiteral("Preparing"));
        QVERIFY(preparing);
        QTRY_VERIFY(!preparing->isHidden() && preparing->text().startsWith("Preparing "));
        QVERIFY(loaded.wait(30000) || loaded.count() == 1);
        QVERIFY(preparing->isHidden());

        QSignalSpy wraps(p.get(), &MediaPlayer::loopWrapped);
        QTRY_VERIFY_WITH_TIMEOUT(wraps.count() >= 2, 5000);
        QVERIFY(p->control()->CurrentPosition() >= 10.0 - 0.005 && p->control()->CurrentPosition() <= 11.0 + 0.005);
        QCOMPARE(p->control()->Rate(), 1.25);
        // A load under way counts as playing: never stopped on the way.
        for (const QList<QVariant>& s : std::as_const(states)) QVERIFY(s.at(1).toInt() != 0);

        // Stopped while rendering: it loads rewound and quiet.
        const QString other = testkit::writeMidi(path("other.mid"), 20.0, {true});
        p->control()->setFileName(other);
        p->control()->Stop();
        QCOMPARE(p->control()->PlayState(), engine::PlayState::Stopped);
        QVERIFY(loaded.wait(30000));
        QVERIFY(testkit::PaceClock().letPlay(0.2));
        QCOMPARE(p->control()->PlayState(), engine::PlayState::Stopped);
        QCOMPARE(p->control()->CurrentPosition(), 0.0);
        p->control()->Play();
        QTRY_VERIFY_WITH_TIMEOUT(p->control()->CurrentPosition() > 0.1, 3000);
    }

    void anotherFileCancelsTheRendering()
    {
        const QString file = testkit::writeMidi(path("very-long.mid"), 900.0, {true});
        std::unique_ptr<MediaPlayer> p(newPlayer());
        QSignalSpy failed(p->control()->engine(), &MediaEngine::loadFailed);
        QSignalSpy progress(p->control()->engine(), &MediaEngine::loadProgress);
        p->control()->setFileName(file);
        QVERIFY(midiOf(*p)->rendering());
        // Cancelled while it writes, not before it began.
        QTRY_VERIFY_WITH_TIMEOUT(!progress.isEmpty() && progress.last().at(0).toInt() > 0, 30000);
        QVERIFY(loadAndWait(*p, m_wav));
        QCOMPARE(p->control()->FileName(), m_wav);
        // Renderings run one at a time: one over after it (a quick one, with no font to
        // read) means the cancelled one is over.
        const auto after = midi::render(path("after.wav"), *midi::parse(testkit::midiBytes(0.5)), path("none.sf2"));
        QVERIFY(after->job()->wait(30000));
        QVERIFY(testkit::runQueued());
        // Nothing half-written is left behind, and nothing is reported.
        QVERIFY(renderings().isEmpty());
        QCOMPARE(failed.count(), 0);
        QVERIFY(std::abs(p->control()->Duration() - 2.0) < 0.01);
    }

    void withoutASoundFontTheMessageSaysWhatToInstall()
    {
        QTemporaryDir empty;
        const QString missing = empty.filePath("no-such-font.sf2");
        qputenv(midi::kSoundFontVariable, missing.toUtf8());
        midi::setSoundFontFolders({empty.path()});
        testkit::MessageRecorder messages;
        std::unique_ptr<MediaPlayer> p(newPlayer());
        EntryPlayer entry(p->control());
        testkit::sayRefusals(entry);

        entry.PlayPosition(m_song, "0", "0", "1", "1", false);
        entry.PlayPosition(m_song, "1", "2", "1", "3", false);
        QVERIFY(testkit::runQueued());
        QCOMPARE(messages.messages.size(), 2);  // once for each try
        const services::MessageRequest& m = messages.messages.first();
        QCOMPARE(m.title, QString(services::kCannotPlayTitle));
        QVERIFY(m.text.contains(m_song));
        QVERIFY(m.text.contains("No General MIDI sound font found. Install the package timgm6mb-soundfont, "
                                "or name a .sf2 file in VAMPLET_SOUNDFONT."));
        QVERIFY(m.text.contains(missing));
        QVERIFY(!entry.inPlay());
        QCOMPARE(p->control()->PlayState(), engine::PlayState::Stopped);
        QVERIFY(renderings().isEmpty());

        // Everything else goes on, and with the font back the song plays.
        qunsetenv(midi::kSoundFontVariable);
        midi::resetSoundFontFolders();
        entry.PlayPosition(m_wav, "0", "0", "1", "1", false);
        QVERIFY(entry.counted());
        entry.stopPlayback();
        QVERIFY(loadAndWait(*p, m_song));
        QVERIFY(!p->control()->failed());
        QCOMPARE(messages.messages.size(), 2);
    }
};

QTEST_MAIN(MidiMpvTest)
#include "test_midi_mpv.moc"
