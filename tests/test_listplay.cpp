#include "player/listplay.h"

#include <QtTest>

using player::EntryList;

namespace {

// A list as plain rows, so list play is checked without a window.
class Rows : public EntryList {
public:
    QList<QStringList> rows;
    int selected = 0;
    int rowCount() const override { return int(rows.size()); }
    QStringList rowTexts(int row) const override { return rows.value(row - 1); }
    void selectRow(int row) override { selected = row; }
    void setRow(int row, const QStringList& texts, const PracticeSettings& p) override
    {
        rows[row - 1] = texts;
        practice[row - 1] = p;
    }
    QList<PracticeSettings> practice;
    PracticeSettings rowPractice(int row) const override { return practice.value(row - 1); }
};

Rows rowsOf(int count)
{
    Rows list;
    for (int i = 1; i <= count; ++i) {
        list.rows.append({QStringLiteral("%1.wav").arg(i), QString::number(i), QString::number(i + 1), "1", "2"});
        list.practice.append(PracticeSettings{});
    }
    return list;
}

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
        QTest::newRow("cursor past rows deleted") << 2 << 5 << 1;
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
        Rows list = rowsOf(rows);
        qint32 cursor = current;

        const EntryRecord peeked = player::PeekNextEntry(list, cursor);
        QCOMPARE(peeked.Index, next);
        QCOMPARE(list.selected, 0);  // a peek moves nothing
        QCOMPARE(cursor, current);

        const EntryRecord got = player::GetNextEntry(list, cursor);
        QCOMPARE(got.Index, next);
        QCOMPARE(cursor, next);
        QCOMPARE(list.selected, next);
        QCOMPARE(got.FileName, next ? QStringLiteral("%1.wav").arg(next) : QString());
        QCOMPARE(got.Start, double(next));
    }

    void swapCarriesPracticeAndRewritesNumbers()
    {
        Rows list = rowsOf(3);
        list.rows[0] = {"a.wav", "1.50", "x", "1", "2"};
        list.practice[0].pause = 1.5;
        player::SwapEntries(list, 1, 2);
        QCOMPARE(list.rows[1], QStringList({"a.wav", "1.5", "0", "1", "2"}));
        QCOMPARE(list.rows[0], QStringList({"2.wav", "2", "3", "1", "2"}));
        QCOMPARE(list.practice[1].pause, 1.5);
        QCOMPARE(list.practice[0].pause, 0.0);
        QCOMPARE(list.selected, 2);
        QCOMPARE(list.rows[2][0], QString("3.wav"));  // the others stay
    }

    void cellsThatAreNoNumberReadAsZero()
    {
        Rows list;
        list.rows = {{"a.wav", "1.5", "x", "", "3"}, {"b.wav"}};
        qint32 cursor = 0;
        const EntryRecord a = player::GetNextEntry(list, cursor);
        QCOMPARE(QList<double>({a.Start, a.Stop, a.Rate, a.Loops}), QList<double>({1.5, 0, 0, 3}));
        const EntryRecord b = player::GetNextEntry(list, cursor);  // a short row has no fields
        QCOMPARE(QList<double>({b.Start, b.Stop, b.Rate, b.Loops}), QList<double>({0, 0, 0, 0}));
    }
};

QTEST_GUILESS_MAIN(ListPlayTest)
#include "test_listplay.moc"
