// The decoder gives every sample once, in order, and a seek lands on the sample asked for.
#include "audio/audiodecoder.h"
#include "support/testkit.h"

#include <QDataStream>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <vector>

using audio::Decoder;

namespace {

constexpr int kRate = 44100;
constexpr qint64 kFrames = 3 * kRate + 123;

// Stereo 16-bit PCM whose samples spell their own index, so a misplaced sample shows.
QString writeIndexWav(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly)) return path;
    QDataStream out(&f);
    out.setByteOrder(QDataStream::LittleEndian);
    const quint32 dataBytes = kFrames * 4;
    out.writeRawData("RIFF", 4);
    out << quint32(36 + dataBytes);
    out.writeRawData("WAVEfmt ", 8);
    out << quint32(16) << quint16(1) << quint16(2) << quint32(kRate) << quint32(kRate * 4) << quint16(4) << quint16(16);
    out.writeRawData("data", 4);
    out << dataBytes;
    for (qint64 i = 0; i < kFrames; ++i) out << qint16((i & 0x3fff) + 1) << qint16((i >> 14) + 1);
    return path;
}

qint64 indexOf(const float* frame)
{
    const auto lo = std::lround(frame[0] * 32768.0) - 1;
    const auto hi = std::lround(frame[1] * 32768.0) - 1;
    return (hi << 14) | lo;
}

std::vector<float> readAll(Decoder& d)
{
    const int ch = d.format().channels;
    std::vector<float> all;
    std::vector<float> chunk(997 * ch);
    for (qint64 n; (n = d.read(chunk.data(), 997)) > 0;) all.insert(all.end(), chunk.begin(), chunk.begin() + n * ch);
    return all;
}

} // namespace

class AudioDecoderTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_wav, m_tone;

    QString file(const QString& name) const { return m_dir.filePath(name); }

private slots:
    void initTestCase()
    {
        m_wav = writeIndexWav(file("index.wav"));
        m_tone = file("tone.wav");
        // Not periodic: a lag of the decoded sound against it shows.
        const bool made =
            testkit::ffmpeg({"-i", m_wav, "-c:a", "flac", file("index.flac")}) &&
            testkit::ffmpeg({"-f", "lavfi", "-i",
                             QString("aevalsrc=0.4*sin(2*PI*(300+400*t)*t)|0.3*sin(2*PI*523*t):s=%1:d=%2")
                                 .arg(kRate).arg(double(kFrames) / kRate, 0, 'f', 10),
                             "-c:a", "pcm_s16le", m_tone}) &&
            testkit::ffmpeg({"-i", m_tone, "-c:a", "libmp3lame", "-b:a", "192k", file("tone.mp3")});
        if (!made) QSKIP("ffmpeg cannot make the test files");
    }

    void readsEverySampleAndSeeksExactly_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("indexed");
        QTest::newRow("wav") << "index.wav" << true;
        QTest::newRow("flac") << "index.flac" << true;
        QTest::newRow("mp3") << "tone.mp3" << false;
    }
    void readsEverySampleAndSeeksExactly()
    {
        QFETCH(QString, name);
        QFETCH(bool, indexed);
        Decoder d;
        QString error;
        QVERIFY2(d.open(file(name), &error), qPrintable(error));
        QCOMPARE(d.format().sampleRate, kRate);
        QCOMPARE(d.format().channels, 2);
        // The encoder's delay and padding are not part of the sound.
        QCOMPARE(d.format().frames, kFrames);
        const std::vector<float> all = readAll(d);
        QCOMPARE(qint64(all.size() / 2), kFrames);
        if (indexed)
            for (qint64 i = 0; i < kFrames; i += 1)
                QCOMPARE(indexOf(&all[i * 2]), i);

        // Back and forth, near and far, the ends included.
        const qint64 targets[] = {kRate + 7, 5, 0, kFrames - 3, 100001, 100000, 2 * kRate, 1, kRate + 7000};
        for (const qint64 at : targets) {
            QVERIFY(d.seek(at));
            float got[64 * 2];
            const qint64 n = d.read(got, 64);
            QCOMPARE(n, std::min<qint64>(64, kFrames - at));
            for (qint64 i = 0; i < n * 2; ++i)
                QVERIFY2(std::abs(got[i] - all[at * 2 + i]) < 1e-6f,
                         qPrintable(QString("seek to %1: sample %2 differs").arg(at).arg(i / 2)));
        }
        QVERIFY(d.seek(kFrames));
        float rest[2];
        QCOMPARE(d.read(rest, 1), 0);
    }

    void mp3StartsOnTheFirstSample()
    {
        Decoder src, mp3;
        QVERIFY(src.open(m_tone));
        QVERIFY(mp3.open(file("tone.mp3")));
        const std::vector<float> a = readAll(src), b = readAll(mp3);
        QCOMPARE(a.size(), b.size());
        // The lag that matches the decoded sound best to its source, over a second.
        int best = 0;
        double bestScore = -1e300;
        for (int lag = -1200; lag <= 1200; ++lag) {
            double score = 0;
            for (qint64 i = 20000; i < 20000 + kRate; ++i) score += a[i * 2] * b[(i + lag) * 2];
            if (score > bestScore) bestScore = score, best = lag;
        }
        QCOMPARE(best, 0);
    }

    // Asked for another rate, the sound comes resampled, in time: every frame, read on or
    // after a seek, is the tone's own value at that frame's moment.
    void resamplesToTheRateAskedFor_data()
    {
        QTest::addColumn<int>("rate");
        QTest::newRow("own") << kRate;
        QTest::newRow("up") << 48000;
        QTest::newRow("down") << 22050;
        QTest::newRow("down, the length not whole") << 8000;  // 24022.3 frames' time: 24023 frames
    }
    void resamplesToTheRateAskedFor()
    {
        QFETCH(int, rate);
        Decoder d;
        QVERIFY(d.open(m_tone, nullptr, rate));
        QCOMPARE(d.format().sampleRate, rate);
        const qint64 frames = qint64(std::ceil(double(kFrames) * rate / kRate));
        QCOMPARE(d.format().frames, frames);
        const std::vector<float> all = readAll(d);
        QCOMPARE(qint64(all.size() / 2), frames);
        const auto tone = [&](qint64 i) { return 0.3 * std::sin(2 * M_PI * 523 * double(i) / rate); };
        for (qint64 i = 100; i < frames - 100; i += 7) QVERIFY(std::abs(all[i * 2 + 1] - tone(i)) < 0.004);
        for (const qint64 at : {qint64(rate) + 7, qint64(500), frames - 300, qint64(2 * rate)}) {
            QVERIFY(d.seek(at));
            float got[64 * 2];
            QCOMPARE(d.read(got, 64), 64);
            for (qint64 i = 0; i < 64; ++i) QVERIFY(std::abs(got[i * 2 + 1] - tone(at + i)) < 0.004);
        }
    }

    // Some WAV files say PCM but hold MP3: read as PCM, they are loud noise.
    void mp3PassedOffAsPcmPlaysAsMp3()
    {
        QFile mp3(file("tone.mp3"));
        QVERIFY(mp3.open(QIODevice::ReadOnly));
        const QByteArray body = mp3.readAll();
        QByteArray wav;
        QDataStream out(&wav, QIODevice::WriteOnly);
        out.setByteOrder(QDataStream::LittleEndian);
        out.writeRawData("RIFF", 4);
        out << quint32(36 + body.size());
        out.writeRawData("WAVEfmt ", 8);
        out << quint32(16) << quint16(1) << quint16(2) << quint32(kRate) << quint32(kRate * 4) << quint16(4) << quint16(16);
        out.writeRawData("data", 4);
        out << quint32(body.size());
        out.writeRawData(body.constData(), int(body.size()));
        testkit::writeBytes(file("mp3.wav"), wav);
        Decoder src, hidden;
        QVERIFY(src.open(m_tone));
        QVERIFY(hidden.open(file("mp3.wav")));
        const std::vector<float> a = readAll(src), b = readAll(hidden);
        // The best normalised match of a fifth of a second of the source, at any lag the
        // encoder's delay may leave.
        double best = 0;
        const qint64 from = kRate, n = kRate / 5;
        for (qint64 lag = -3000; lag <= 3000; ++lag) {
            double ab = 0, aa = 0, bb = 0;
            for (qint64 i = from; i < from + n && (i + lag) * 2 < qint64(b.size()); ++i) {
                const double x = a[i * 2], y = b[(i + lag) * 2];
                ab += x * y, aa += x * x, bb += y * y;
            }
            if (aa > 0 && bb > 0) best = std::max(best, ab / std::sqrt(aa * bb));
        }
        QVERIFY2(best > 0.9, qPrintable(QString("best match %1").arg(best)));
    }

    void opensOnlyLocalMediaFiles_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("missing") << "none.wav" << QByteArray();
        QTest::newRow("text") << "notes.mp3" << QByteArray("just some words, nothing to hear\n");
        QTest::newRow("hls playlist") << "list.m3u8" << QByteArray("#EXTM3U\n#EXT-X-TARGETDURATION:4\n#EXTINF:3,\nindex.wav\n#EXT-X-ENDLIST\n");
        QTest::newRow("concat list") << "list.ffconcat" << QByteArray("ffconcat version 1.0\nfile index.wav\n");
    }
    void opensOnlyLocalMediaFiles()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        if (!content.isEmpty()) testkit::writeBytes(file(name), content);
        Decoder d;
        QString error;
        QVERIFY(!d.open(file(name), &error));
        QVERIFY(!error.isEmpty());
        float f[2];
        QCOMPARE(d.read(f, 1), -1);
    }
};

QTEST_GUILESS_MAIN(AudioDecoderTest)
#include "test_audiodecoder.moc"
