#include "player/liveloop.h"

#include <QLocale>
#include <QtTest>

using player::LiveKey;

Q_DECLARE_METATYPE(LiveKey)

class LiveLoopTest : public QObject {
    Q_OBJECT
private slots:
    void init() { QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany)); }
    void cleanup() { QLocale::setDefault(QLocale::c()); }

    void keys_data()
    {
        QTest::addColumn<LiveKey>("key");
        QTest::addColumn<bool>("coarse");
        QTest::addColumn<double>("heard");
        QTest::addColumn<double>("duration");
        QTest::addColumn<QString>("start");  // the stretch before: 10 to 20 at rate 1, unless given
        QTest::addColumn<QString>("stop");
        QTest::addColumn<QString>("rate");
        QTest::addColumn<QString>("expect");  // start|stop|rate as row text, or "" for no change

        // clang-format off
        QTest::newRow("start here, to the ms")  << LiveKey::StartHere << false << 12.34567 << 60.0 << "10" << "20" << "1" << "12,346|20|1";
        QTest::newRow("stop here")              << LiveKey::StopHere << false << 15.0004 << 60.0 << "10" << "20" << "1" << "10|15|1";
        QTest::newRow("start here past stop")   << LiveKey::StartHere << false << 20.0 << 60.0 << "10" << "20" << "1" << "19,95|20|1";
        QTest::newRow("stop here before start") << LiveKey::StopHere << false << 9.0 << 60.0 << "10" << "20" << "1" << "10|10,05|1";
        QTest::newRow("start -10 ms")           << LiveKey::StartEarlier << false << 0.0 << 60.0 << "1,5" << "20" << "1" << "1,49|20|1";
        QTest::newRow("start +100 ms")          << LiveKey::StartLater << true << 0.0 << 60.0 << "1,5" << "20" << "1" << "1,6|20|1";
        QTest::newRow("typed digits kept")      << LiveKey::StartLater << false << 0.0 << 60.0 << "1,2345" << "20" << "1" << "1,2445|20|1";
        QTest::newRow("start not below 0")      << LiveKey::StartEarlier << true << 0.0 << 60.0 << "0,05" << "20" << "1" << "0|20|1";
        QTest::newRow("start at 0 stays")       << LiveKey::StartEarlier << false << 0.0 << 60.0 << "0" << "20" << "1" << "";
        QTest::newRow("start stays before stop")<< LiveKey::StartLater << true << 0.0 << 60.0 << "19,9" << "20" << "1" << "19,95|20|1";
        QTest::newRow("stop -10 ms")            << LiveKey::StopEarlier << false << 0.0 << 60.0 << "10" << "20" << "1" << "10|19,99|1";
        QTest::newRow("stop +100 ms")           << LiveKey::StopLater << true << 0.0 << 60.0 << "10" << "20" << "1" << "10|20,1|1";
        QTest::newRow("stop not past the end")  << LiveKey::StopLater << true << 0.0 << 20.05 << "10" << "20" << "1" << "10|20,05|1";
        QTest::newRow("stop at the end stays")  << LiveKey::StopLater << false << 0.0 << 20.0 << "10" << "20" << "1" << "";
        QTest::newRow("stop past end, earlier") << LiveKey::StopEarlier << false << 0.0 << 30.0 << "10" << "99" << "1" << "10|29,99|1";
        QTest::newRow("length unknown")         << LiveKey::StopLater << true << 0.0 << 0.0 << "10" << "20" << "1" << "10|20,1|1";
        QTest::newRow("stop stays after start") << LiveKey::StopEarlier << true << 0.0 << 60.0 << "10" << "10,1" << "1" << "10|10,05|1";
        QTest::newRow("no room for a stretch")  << LiveKey::StartEarlier << false << 0.0 << 60.0 << "0" << "0,02" << "1" << "";
        QTest::newRow("rate up")                << LiveKey::RateUp << false << 0.0 << 60.0 << "10" << "20" << "0,95" << "10|20|1";
        QTest::newRow("rate down, two digits")  << LiveKey::RateDown << false << 0.0 << 60.0 << "10" << "20" << "1,2345" << "10|20|1,18";
        QTest::newRow("rate floor")             << LiveKey::RateDown << false << 0.0 << 60.0 << "10" << "20" << "0,12" << "10|20|0,1";
        QTest::newRow("rate at the top stays")  << LiveKey::RateUp << false << 0.0 << 60.0 << "10" << "20" << "4" << "";
        // clang-format on
    }

    void keys()
    {
        QFETCH(LiveKey, key);
        QFETCH(bool, coarse);
        QFETCH(double, heard);
        QFETCH(double, duration);
        QFETCH(QString, start);
        QFETCH(QString, stop);
        QFETCH(QString, rate);
        QFETCH(QString, expect);
        const QLocale l;
        const player::LiveNow now{{l.toDouble(start), l.toDouble(stop), l.toDouble(rate)}, heard, duration};
        const player::LiveEdit e = player::liveEdit(now, key, coarse);
        QCOMPARE(e.changed, !expect.isEmpty());
        if (!e.changed) return;
        QCOMPARE(QStringList({e.start, e.stop, e.rate}).join('|'), expect);
        // What plays is what the row says.
        QCOMPARE(e.stretch, (player::LiveStretch{l.toDouble(e.start), l.toDouble(e.stop), l.toDouble(e.rate)}));
    }

    void findsThePlayingRow()
    {
        const QStringList row{"/m/a.flac", "1,5", "3", "1", "2"};
        QVERIFY(player::rowPlays(row, "/m/a.flac", 1.5, 3, false));
        QVERIFY(!player::rowPlays(row, "/m/b.flac", 1.5, 3, false));  // rows moved under it
        QVERIFY(!player::rowPlays(row, "/m/a.flac", 1.5, 4, false));  // another stretch of the file
        QVERIFY(!player::rowPlays(row, "/m/a.flac", 0, 0, true));
        QVERIFY(player::rowPlays({"/m/a.flac", "", "0", "1", "1"}, "/m/a.flac", 0, 61.2, true));
        QVERIFY(!player::rowPlays({}, "", 0, 0, true));
    }
};

QTEST_GUILESS_MAIN(LiveLoopTest)
#include "test_liveloop.moc"
