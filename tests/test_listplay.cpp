#include "playback/listplay.h"

#include <QtTest>

namespace {

// A list as plain rows, so list play is checked without a window.
struct Rows : player::EntryList {
    QList<QStringList> rows;
    QList<PracticeSettings> practice;
    int selected = 0;
    explicit Rows(int count)
    {
        for (int i = 1; i <= count; ++i) rows.append({QStringLiteral("%1.wav").arg(i), QString::number(i), "x", "", "2"});
        practice.resize(count);
    }
    int rowCount() const override { return int(rows.size()); }
    QStringList rowTexts(int row) const override { return rows.value(row - 1); }
    PracticeSettings rowPractice(int row) const override { return practice.value(row - 1); }
    void selectRow(int row) override { selected = row; }
    void setRow(int row, const QStringList& texts, const PracticeSettings& p) override
    {
        rows[row - 1] = texts;
        practice[row - 1] = p;
    }
};

} // namespace

class ListPlayTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }

    void nextRowWraps_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("current");
        QTest::addColumn<int>("next");
        QTest::newRow("first of three") << 3 << 0 << 1;
        QTest::newRow("middle") << 3 << 1 << 2;
        QTest::newRow("last wraps") << 3 << 3 << 1;
        QTest::newRow("cursor past deleted rows") << 2 << 5 << 1;
        QTest::newRow("negative cursor") << 2 << -4 << 1;
        QTest::newRow("one row repeats") << 1 << 1 << 1;
        QTest::newRow("cursor at the type's end") << 3 << std::numeric_limits<qint32>::max() << 1;
        QTest::newRow("empty list") << 0 << 2 << 0;
    }

    void nextRowWraps()
    {
        QFETCH(int, rows);
        QFETCH(int, current);
        QFETCH(int, next);
        Rows list(rows);
        qint32 cursor = current;
        QCOMPARE(player::PeekNextEntry(list, cursor).Index, next);
        QCOMPARE(list.selected, 0);  // a peek moves nothing
        QCOMPARE(cursor, current);

        const EntryRecord got = player::GetNextEntry(list, cursor);
        QCOMPARE(QList<int>({got.Index, cursor, list.selected}), QList<int>({next, next, next}));
        QCOMPARE(got.FileName, next ? QStringLiteral("%1.wav").arg(next) : QString());
        // Cells that are no number read as 0.
        QCOMPARE(QList<double>({got.Start, got.Stop, got.Rate, got.Loops}), QList<double>({double(next), 0, 0, next ? 2.0 : 0}));
    }

    void swapCarriesPracticeAndRewritesNumbers()
    {
        Rows list(3);
        list.rows[0][1] = "1.50";
        list.practice[0].pause = 1.5;
        player::SwapEntries(list, 1, 2);
        QCOMPARE(list.rows, QList<QStringList>({{"2.wav", "2", "0", "0", "2"}, {"1.wav", "1.5", "0", "0", "2"},
                                                {"3.wav", "3", "x", "", "2"}}));
        QCOMPARE(QList<double>({list.practice[0].pause, list.practice[1].pause}), QList<double>({0, 1.5}));
        QCOMPARE(list.selected, 2);
    }
};

QTEST_GUILESS_MAIN(ListPlayTest)
#include "test_listplay.moc"
