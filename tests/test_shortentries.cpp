// Entries shorter than a chunk the engine renders, in lists that wrap, through the whole
// stack on a hand-pulled output: list play goes round and round, never standing silent.
#include "offline/offlinestack.h"
#include "support/fakeengine.h"
#include "support/testkit.h"

#include <QtTest>

class ShortEntriesTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

private slots:
    void listGoesRound_data()
    {
        QTest::addColumn<QStringList>("tiny");
        QTest::addColumn<bool>("between");
        QVERIFY(testkit::ffmpeg({"-f", "lavfi", "-i", "sine=f=440:r=44100:d=3", m_dir.filePath("t.wav")}));
        for (const char* c : {"1", "5", "8", "12"})
            for (const char* r : {"1", "0.75"})
                for (const char* loops : {"1", "3"})
                    for (bool between : {false, true})
                        QTest::addRow("%s ms, rate %s, %s passes%s", c, r, loops, between ? ", between others" : "")
                            << QStringList{m_dir.filePath("t.wav"), "1", QString("1.%1").arg(c, 3, '0'), r, loops} << between;
    }
    void listGoesRound()
    {
        QFETCH(QStringList, tiny);
        QFETCH(bool, between);
        offline::OfflineStack stack(new FakeEngine);
        if (between) stack.list.rows.push_back({{tiny[0], "0.5", "0.7", "1", "1"}, {}});
        stack.list.rows.push_back({tiny, {}});
        if (between) stack.list.rows.push_back({{tiny[0], "2", "2.15", "0.75", "2"}, {}});
        const int rounds = 3 * int(stack.list.rows.size());
        stack.playList();
        for (int i = 0; i < 500 && stack.list.selections <= rounds; ++i) QVERIFY(stack.step());
        QVERIFY2(stack.list.selections > rounds, qPrintable(QString("stood at row %1").arg(stack.seen.back().row)));
        // An entry shorter than a block the output pulls is followed by silence to its end.
        qint64 run = 0, longest = 0;
        for (std::size_t f = 0; f < stack.recording.size(); f += 2)
            longest = std::max(longest, run = stack.recording[f] == 0 && stack.recording[f + 1] == 0 ? run + 1 : 0);
        QVERIFY2(longest < 441, qPrintable(QString("%1 frames silent").arg(longest)));
    }
};

QTEST_MAIN(ShortEntriesTest)
#include "test_shortentries.moc"
