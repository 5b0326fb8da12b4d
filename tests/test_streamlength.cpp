// The length of a raw MPEG video stream, counted from its pictures and frame rate.
#include "engine/mpvformats.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class StreamLengthTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QString write(const QByteArray& bytes)
    {
        static int n = 0;
        const QString path = dir.filePath(QString("s%1.m1v").arg(++n));
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write(bytes);
        return path;
    }
    static QByteArray stream(quint8 rateCode, int pictures, int junkPerPicture)
    {
        // Sequence header: start code, 12 bits width, 12 bits height, aspect (4 bits) and rate (4 bits).
        QByteArray s = QByteArray::fromHex("000001b3");
        s += char(0x14);
        s += char(0x00);
        s += char(0xf0);
        s += char(0x10 | rateCode);
        for (int i = 0; i < pictures; ++i) {
            s += QByteArray::fromHex("00000100");
            s += QByteArray(junkPerPicture, char(0x55));
        }
        return s;
    }

private slots:
    void countsPicturesOverTheRate()
    {
        QCOMPARE(engine::mpegVideoStreamSeconds(write(stream(3, 50, 300))), 2.0);          // 25 fps
        QCOMPARE(engine::mpegVideoStreamSeconds(write(stream(2, 72, 10))), 3.0);           // 24 fps
        QVERIFY(qFuzzyCompare(engine::mpegVideoStreamSeconds(write(stream(4, 30, 5))), 30 * 1001 / 30000.0));
    }

    void picturesAcrossChunkBordersCountOnce()
    {
        // Over a megabyte, so start codes straddle the reads.
        QCOMPARE(engine::mpegVideoStreamSeconds(write(stream(5, 90, 40000))), 3.0);
    }

    void notAStream()
    {
        QCOMPARE(engine::mpegVideoStreamSeconds(write(QByteArray(5000, 'x'))), 0.0);
        QCOMPARE(engine::mpegVideoStreamSeconds(write(stream(0, 20, 5))), 0.0);  // rate code 0 is forbidden
        QCOMPARE(engine::mpegVideoStreamSeconds(dir.filePath("none.m1v")), 0.0);
    }

    void seeksGoToTheFrameShownAtTheTarget()  // target, first frame's time, spacing, wanted
    {
        const double cases[][4] = {{1.85, 0, 0.04, 1.84}, {1.84, 0, 0.04, 1.84}, {0.47, 0.01, 0.04, 0.45},
                                   {0.005, 0.01, 0.04, 0}, {2.5, 0, 0, 2.5}};
        for (const auto& c : cases)
            QVERIFY2(std::abs(engine::frameStartAtOrBefore(c[0], c[1], c[2]) - c[3]) < 1e-9, qPrintable(QString::number(c[0])));
    }
};

QTEST_GUILESS_MAIN(StreamLengthTest)
#include "test_streamlength.moc"
