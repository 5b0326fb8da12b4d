// What the probe reads from a file's headers, and what it refuses to open.
#include "engine/mediaprobe.h"
#include "support/testkit.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

using engine::probeMedia;

class MediaProbeTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString path(const QString& name) const { return m_dir.filePath(name); }

    bool ffmpeg(const QStringList& args)
    {
        QProcess ff;
        ff.start("ffmpeg", QStringList{"-hide_banner", "-loglevel", "error", "-y"} + args);
        return ff.waitForFinished(60000) && ff.exitCode() == 0;
    }

private slots:
    void contents_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("ffmpegArgs");  // empty: a WAV written by the kit
        QTest::addColumn<bool>("audio");
        QTest::addColumn<bool>("video");
        QTest::addColumn<double>("seconds");
        const QStringList tone{"-f", "lavfi", "-i", "sine=duration=2.5"};
        const QStringList card{"-f", "lavfi", "-i", "testsrc=duration=2:size=64x48:rate=25"};
        QTest::newRow("wav") << "a.wav" << QStringList{} << true << false << 1.5;
        QTest::newRow("mp3 with a cover picture")
            << "c.mp3" << tone + QStringList{"-f", "lavfi", "-i", "color=red:size=32x32:duration=0.04", "-map", "0",
                                             "-map", "1", "-c:v", "png", "-disposition:v", "attached_pic", "-frames:v", "1"}
            << true << false << 2.5;
        QTest::newRow("video without sound") << "v.avi" << card + QStringList{"-c:v", "mpeg4"} << false << true << 2.0;
        QTest::newRow("video with sound")
            << "av.mpg" << card + tone + QStringList{"-shortest", "-c:v", "mpeg1video", "-c:a", "mp2"} << true << true
            << 2.0;
        // Its header's figure is a guess: the length is left to the count.
        QTest::newRow("raw MPEG video") << "r.m1v" << card + QStringList{"-c:v", "mpeg1video", "-f", "mpeg1video"}
                                        << false << true << 0.0;
    }

    void contents()
    {
        QFETCH(QString, name);
        QFETCH(QStringList, ffmpegArgs);
        QFETCH(bool, audio);
        QFETCH(bool, video);
        QFETCH(double, seconds);
        if (ffmpegArgs.isEmpty()) testkit::writeWav(path(name), seconds);
        else if (QStandardPaths::findExecutable("ffmpeg").isEmpty() || !ffmpeg(ffmpegArgs << path(name)))
            QSKIP("ffmpeg could not write the sample");
        const engine::MediaProbe p = probeMedia(path(name));
        QVERIFY2(p.ok, qPrintable(p.error));
        QCOMPARE(p.hasAudio, audio);
        QCOMPARE(p.hasVideo, video);
        QVERIFY2(std::abs(p.duration - seconds) < 0.1, qPrintable(QString::number(p.duration)));
    }

    void refused_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");  // null: not written at all
        testkit::writeWav(path("inner.wav"), 1);
        QTest::newRow("missing") << "none.wav" << QByteArray();
        QTest::newRow("empty") << "empty.wav" << QByteArray("");
        QTest::newRow("not media") << "text.mp3" << QByteArray(4000, 'x');
        // Files that only name other files: followed, they would play what they point at.
        QTest::newRow("concat list") << "list.wav" << QByteArray("ffconcat version 1.0\nfile 'inner.wav'\n");
        QTest::newRow("HLS playlist") << "list.m3u8"
                                      << QByteArray("#EXTM3U\n#EXT-X-TARGETDURATION:1\n#EXTINF:1,\ninner.wav\n#EXT-X-ENDLIST\n");
    }

    void refused()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        if (!bytes.isNull()) testkit::writeBytes(path(name), bytes);
        const engine::MediaProbe p = probeMedia(path(name));
        QVERIFY(!p.ok);
        QVERIFY(!p.error.isEmpty());
        QVERIFY(!p.hasAudio && !p.hasVideo);
    }

    void notAFile()
    {
        QVERIFY(!probeMedia(m_dir.path()).ok);
        QVERIFY(!probeMedia(QString()).ok);
    }
};

QTEST_GUILESS_MAIN(MediaProbeTest)
#include "test_mediaprobe.moc"
