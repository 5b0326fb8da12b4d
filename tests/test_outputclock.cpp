// The output's clock: which frame is heard at a moment, from the server's last report.
#include "audio/audiooutput.h"

#include <QTest>

using namespace audio;

class OutputClockTest : public QObject {
    Q_OBJECT
private slots:
    void heardFrames_data()
    {
        QTest::addColumn<qint64>("streamUs");
        QTest::addColumn<qint64>("sinceNs");  // now, against the report's stamp
        QTest::addColumn<qint64>("written");
        QTest::addColumn<int>("rate");
        QTest::addColumn<double>("heard");
        const qint64 ms = 1'000'000;
        QTest::newRow("at the report") << 1'000'000LL << 0LL << 100'000LL << 44100 << 44100.0;
        QTest::newRow("run on by the clock") << 1'000'000LL << 10 * ms << 100'000LL << 44100 << 44541.0;
        QTest::newRow("a fraction of a frame") << 500LL << 10'000LL << 100LL << 48000 << 24.48;
        QTest::newRow("no reports: stops 100 ms on") << 1'000'000LL << 250 * ms << 100'000LL << 44100 << 48510.0;
        QTest::newRow("never past what was written") << 1'000'000LL << 50 * ms << 44500LL << 44100 << 44500.0;
        QTest::newRow("read before the report's stamp") << 1'000'000LL << -3 * ms << 100'000LL << 44100 << 44100.0;
        QTest::newRow("nothing written yet") << 0LL << 20 * ms << 0LL << 44100 << 0.0;
    }
    void heardFrames()
    {
        QFETCH(qint64, streamUs);
        QFETCH(qint64, sinceNs);
        QFETCH(qint64, written);
        QFETCH(int, rate);
        QFETCH(double, heard);
        const qint64 stamp = 5'000'000'000LL;
        const double got = heardFramesAt(TimingReport{streamUs, stamp}, stamp + sinceNs, written, rate, 100'000'000LL);
        QVERIFY2(std::abs(got - heard) < 1e-6, qPrintable(QString::number(got, 'f', 6)));
    }
};

QTEST_GUILESS_MAIN(OutputClockTest)
#include "test_outputclock.moc"
