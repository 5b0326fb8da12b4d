#include "playback/liveloop.h"

#include <QLocale>
#include <QtTest>

#include <cmath>

using playback::LiveKey;

class LiveLoopTest : public QObject {
    Q_OBJECT
private slots:
    void init() { QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany)); }
    void cleanup() { QLocale::setDefault(QLocale::c()); }

    void keys()
    {
        // The stretch before and after as row text (start|stop|rate); "" for no change.
        struct Case { const char* name; LiveKey key; bool coarse; double heard, duration; const char *before, *after; };
        using K = LiveKey;
        const Case cases[] = {
            {"start here, to the ms", K::StartHere, false, 12.34567, 60, "10|20|1", "12,346|20|1"},
            {"stop here, never after it", K::StopHere, false, 15.0009, 60, "10|20|1", "10|15|1"},
            {"start here past stop", K::StartHere, false, 20, 60, "10|20|1", "19,95|20|1"},
            {"stop here before start", K::StopHere, false, 9, 60, "10|20|1", "10|10,05|1"},
            {"start -10 ms", K::StartEarlier, false, 0, 60, "1,5|20|1", "1,49|20|1"},
            {"start +100 ms", K::StartLater, true, 0, 60, "1,5|20|1", "1,6|20|1"},
            {"typed digits kept", K::StartLater, false, 0, 60, "1,2345|20|1", "1,2445|20|1"},
            {"start not below 0", K::StartEarlier, true, 0, 60, "0,05|20|1", "0|20|1"},
            {"start at 0 stays", K::StartEarlier, false, 0, 60, "0|20|1", ""},
            {"start stays before stop", K::StartLater, true, 0, 60, "19,9|20|1", "19,95|20|1"},
            {"stop -10 ms", K::StopEarlier, false, 0, 60, "10|20|1", "10|19,99|1"},
            {"stop +100 ms", K::StopLater, true, 0, 60, "10|20|1", "10|20,1|1"},
            {"stop not past the end", K::StopLater, true, 0, 20.05, "10|20|1", "10|20,05|1"},
            {"stop at the end stays", K::StopLater, false, 0, 20, "10|20|1", ""},
            {"stop past end, earlier", K::StopEarlier, false, 0, 30, "10|99|1", "10|29,99|1"},
            {"length unknown", K::StopLater, true, 0, 0, "10|20|1", "10|20,1|1"},
            {"stop stays after start", K::StopEarlier, true, 0, 60, "10|10,1|1", "10|10,05|1"},
            {"no room for a stretch", K::StartEarlier, false, 0, 60, "0|0,02|1", ""},
            {"rate up", K::RateUp, false, 0, 60, "10|20|0,95", "10|20|1"},
            {"rate down, two digits", K::RateDown, false, 0, 60, "10|20|1,2345", "10|20|1,18"},
            {"rate floor", K::RateDown, false, 0, 60, "10|20|0,12", "10|20|0,1"},
            {"rate at the top stays", K::RateUp, false, 0, 60, "10|20|4", ""},
        };
        const QLocale l;
        for (const Case& c : cases) {
            const QStringList b = QString(c.before).split('|');
            const playback::LiveNow now{{l.toDouble(b[0]), l.toDouble(b[1]), l.toDouble(b[2])}, c.heard, c.duration};
            const playback::LiveEdit e = playback::liveEdit(now, c.key, c.coarse);
            const QString got = e.changed ? QStringList({e.start, e.stop, e.rate}).join('|') : QString();
            QVERIFY2(got == c.after, qPrintable(QString("%1: %2").arg(c.name, got)));
            // What plays is what the row says.
            QVERIFY2(!e.changed || e.stretch == (playback::LiveStretch{l.toDouble(e.start), l.toDouble(e.stop),
                                                                     l.toDouble(e.rate)}), c.name);
        }
    }

    // On a grid of beats every 0.5 s from 0.5 s, bars of four from 1 s.
    void snappedKeys()
    {
        beats::BeatGrid g;
        for (int i = 0; i < 40; ++i) g.beats.push_back(0.5 + 0.5 * i);
        g.bars = {1, 5, 9};
        struct Case { const char* name; LiveKey key; bool coarse; int bars; double heard; const char *before, *after; };
        using K = LiveKey;
        const Case cases[] = {
            {"start here, the nearest beat", K::StartHere, false, 1, 2.76, "1|9|1", "3|9|1"},
            {"stop here, the nearest beat", K::StopHere, false, 1, 6.2, "1|9|1", "1|6|1"},
            {"start a beat later", K::StartLater, false, 1, 0, "1,2|9|1", "1,5|9|1"},
            {"start a bar earlier", K::StartEarlier, true, 1, 0, "3,5|9|1", "3|9|1"},
            {"stop a beat earlier", K::StopEarlier, false, 1, 0, "1|9|1", "1|8,5|1"},
            {"stop a bar later", K::StopLater, true, 1, 0, "1|9|1", "1|11|1"},
            {"no beat before the first", K::StartEarlier, false, 1, 0, "0,5|9|1", ""},
            {"two bars from the bar heard", K::LoopBars, false, 2, 4.2, "1|2|1", "3|7|1"},
            {"bars held within the file", K::LoopBars, false, 8, 14.2, "1|2|1", "13|16|1"},
        };
        const QLocale l;
        for (const Case& c : cases) {
            const QStringList b = QString(c.before).split('|');
            playback::LiveNow now{{l.toDouble(b[0]), l.toDouble(b[1]), l.toDouble(b[2])}, c.heard, 16, &g, c.bars};
            const playback::LiveEdit e = playback::liveEdit(now, c.key, c.coarse);
            const QString got = e.changed ? QStringList({e.start, e.stop, e.rate}).join('|') : QString();
            QVERIFY2(got == c.after, qPrintable(QString("%1: %2").arg(c.name, got)));
            now.grid = nullptr;  // bars need a grid
            if (c.key == K::LoopBars) QVERIFY(!playback::liveEdit(now, c.key, c.coarse).changed);
        }
    }

    void findsThePlayingRow()
    {
        const QStringList row{"/m/a.flac", "1,5", "3", "1", "2"};
        QVERIFY(playback::rowPlays(row, "/m/a.flac", 1.5, 3, false));
        QVERIFY(!playback::rowPlays(row, "/m/b.flac", 1.5, 3, false));  // rows moved under it
        QVERIFY(!playback::rowPlays(row, "/m/a.flac", 1.5, 4, false));  // another stretch of the file
        QVERIFY(!playback::rowPlays(row, "/m/a.flac", 0, 0, true));
        QVERIFY(playback::rowPlays({"/m/a.flac", "", "0", "1", "1"}, "/m/a.flac", 0, 61.2, true));
    }

    // While nothing plays a key starts from a row: the selected one, else the one last played.
    void stoppedKeysTakeARow()
    {
        QCOMPARE(playback::stoppedKeyRow(3, 1), 3);
        QCOMPARE(playback::stoppedKeyRow(0, 2), 2);
        QCOMPARE(playback::stoppedKeyRow(0, 0), 0);
        const struct { QStringList row; double duration; bool found; playback::LiveStretch s; } cases[] = {
            {{"/a", "1,5", "3", "0,8"}, 0, true, {1.5, 3, 0.8}},
            {{"/a", "1,5", "3", "0"}, 0, true, {1.5, 3, 1}},
            {{"/a", "", "0", "1"}, 42.5, true, {0, 42.5, 1}},  // a whole file runs to its end
            {{"/a", "", "0", "1"}, 0, false, {}},              // whose length is not known
            {{"/a", "x", "3", "1"}, 10, false, {}},
            {{"", "1", "3", "1"}, 10, false, {}},
        };
        for (const auto& c : cases) {
            const auto s = playback::rowStretch(c.row, c.duration);
            QCOMPARE(s.has_value(), c.found);
            if (s) QCOMPARE(*s, c.s);
        }
        // Positions are only the loaded file's.
        QVERIFY(!playback::liveEdit({{1, 3, 1}, std::nan(""), 0}, LiveKey::StopHere, false).changed);
        QVERIFY(playback::liveEdit({{1, 3, 1}, std::nan(""), 0}, LiveKey::StopLater, false).changed);
    }

    // An edit of the playing row is heard at once, so the keys go on from what the row says.
    void editsOfThePlayingRowAreHeard()
    {
        const QStringList row{"/a", "1", "3", "1", "2"};
        const playback::LiveStretch was{1, 3, 1};
        const struct { const char* name; QStringList before, after; bool follows, moves; playback::LiveStretch s; } cases[] = {
            {"stretch moved", row, {"/a", "1", "4,5", "0,9", "2"}, true, true, {1, 4.5, 0.9}},
            {"count only", row, {"/a", "1", "3", "1", "5"}, true, true, {1, 3, 1}},
            {"made whole: rate only", row, {"/a", "0", "0", "1,2", "2"}, true, false, {1, 3, 1.2}},
            {"another file", row, {"/b", "1", "3", "1", "2"}, false, false, {}},
            {"another row", {"/a", "5", "6", "1", "2"}, row, false, false, {}},
            {"no number", row, {"/a", "1", "y", "1", "2"}, false, false, {}},
        };
        for (const auto& c : cases) {
            const playback::RowEdit e = playback::followEdit(c.before, c.after, "/a", was, false);
            QVERIFY2(e.follows == c.follows && e.moves == c.moves && (!e.follows || e.stretch == c.s), c.name);
        }
        // A whole file keeps its length as its stop.
        const playback::RowEdit whole = playback::followEdit({"/a", "0", "0", "1"}, {"/a", "0", "0", "2"}, "/a", {0, 60, 1}, true);
        QVERIFY(whole.follows && !whole.moves && whole.stretch == (playback::LiveStretch{0, 60, 2}));
    }
};

QTEST_GUILESS_MAIN(LiveLoopTest)
#include "test_liveloop.moc"
