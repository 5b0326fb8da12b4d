#include "playback/listplay.h"
#include "playback/entryedits.h"

#include <QtTest>

namespace {

// A list as plain rows, so list play is checked without a window.
struct Rows : playback::EntryList {
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
        QCOMPARE(playback::PeekNextEntry(list, cursor).Index, next);
        QCOMPARE(list.selected, 0);  // a peek moves nothing
        QCOMPARE(cursor, current);

        const EntryRecord got = playback::GetNextEntry(list, cursor);
        QCOMPARE(QList<int>({got.Index, cursor, list.selected}), QList<int>({next, next, next}));
        QCOMPARE(got.FileName, next ? QStringLiteral("%1.wav").arg(next) : QString());
        // Cells that are no number read as 0.
        QCOMPARE(QList<double>({got.Start, got.Stop, got.Rate, got.Loops}), QList<double>({double(next), 0, 0, next ? 2.0 : 0}));
    }

    // Entries handed over one after another, wrapping as the list plays; nothing moves.
    void peekAhead()
    {
        const struct { int rows, current, ahead, row; } cases[] = {
            {3, 1, 0, 2}, {3, 1, 1, 3}, {3, 1, 2, 1}, {3, 3, 4, 2}, {1, 1, 3, 1}, {2, 0, 1, 2}, {0, 1, 2, 0}};
        for (const auto& c : cases) {
            Rows list(c.rows);
            QCOMPARE(playback::PeekEntryAhead(list, c.current, c.ahead).Index, c.row);
            QCOMPARE(list.selected, 0);
        }
    }

    void swapCarriesPracticeAndRewritesNumbers()
    {
        Rows list(3);
        list.rows[0][1] = "1.50";
        list.practice[0].pause = 1.5;
        list.rows[0] << "" << "" << "" << "" << "Привет, мир";
        QCOMPARE(playback::PeekNextEntry(list, 0).Text, "Привет, мир");
        playback::SwapEntries(list, 1, 2);
        // The text goes with its row, and the row without one loses the other's.
        QCOMPARE(list.rows, QList<QStringList>({{"2.wav", "2", "0", "0", "2", "", "", "", "", ""},
                                                {"1.wav", "1.5", "0", "0", "2", "", "", "", "", "Привет, мир"},
                                                {"3.wav", "3", "x", "", "2"}}));
        QCOMPARE(QList<double>({list.practice[0].pause, list.practice[1].pause}), QList<double>({0, 1.5}));
        QCOMPARE(list.selected, 2);
    }

    // Previous and next line: wrapping, and from no cursor or one past deleted rows.
    void steppedRows()
    {
        const struct { int current, rows, step, to; } cases[] = {
            {2, 3, 1, 3}, {3, 3, 1, 1}, {1, 3, -1, 3}, {2, 3, -1, 1}, {0, 3, 1, 1}, {0, 3, -1, 3},
            {7, 3, 1, 1}, {7, 3, -1, 3}, {1, 1, 1, 1}, {1, 1, -1, 1}, {2, 0, 1, 0},
        };
        for (const auto& c : cases)
            QVERIFY2(playback::steppedRow(c.current, c.rows, c.step) == c.to,
                     qPrintable(QStringLiteral("%1 of %2, %3").arg(c.current).arg(c.rows).arg(c.step)));
    }

    void mergeAndSplit()
    {
        const auto e = [](const char* file, double start, double stop, const char* text) {
            return EntryRecord{0, QString::fromUtf8(file), start, stop, 0.8, 2, {}, QString::fromUtf8(text)};
        };
        const struct { const char* name; QList<EntryRecord> rows; double start, stop; const char* text; } merges[] = {
            {"three lines", {e("a.wav", 1, 2, "Un"), e("a.wav", 2.5, 3, ""), e("a.wav", 3, 4.5, "deux ")}, 1, 4.5, "Un deux"},
            {"out of time order", {e("a.wav", 5, 6, "b"), e("a.wav", 1, 2, "a")}, 1, 6, "b a"},
            {"two files", {e("a.wav", 1, 2, ""), e("b.wav", 2, 3, "")}, -1, -1, ""},
            {"a whole file", {e("a.wav", 1, 2, ""), e("a.wav", 0, 0, "")}, -1, -1, ""},
            {"one row", {e("a.wav", 1, 2, "")}, -1, -1, ""},
        };
        for (const auto& m : merges) {
            const std::optional<EntryRecord> got = playback::mergedEntry(m.rows);
            QVERIFY2(got.has_value() == (m.start >= 0), m.name);
            if (got)
                QVERIFY2(got->Start == m.start && got->Stop == m.stop && got->Text == QString::fromUtf8(m.text) &&
                             got->Rate == 0.8 && got->Loops == 2,
                         m.name);
        }
        const struct { const char* name; EntryRecord entry; double at, length, before, after; } splits[] = {
            {"inside", e("a.wav", 1, 3, "日本語"), 2.25, 10, 1, 3},
            {"a whole file", e("a.wav", 0, 0, "x"), 4, 10, 0, 10},
            {"too near the start", e("a.wav", 1, 3, ""), 1.02, 10, -1, -1},
            {"past the stop", e("a.wav", 1, 3, ""), 3.5, 10, -1, -1},
        };
        for (const auto& c : splits) {
            const auto parts = playback::splitEntry(c.entry, c.at, c.length);
            QVERIFY2(parts.has_value() == (c.before >= 0), c.name);
            if (parts)
                QVERIFY2(parts->first.Start == c.before && parts->first.Stop == c.at && parts->second.Start == c.at &&
                             parts->second.Stop == c.after && parts->first.Text == c.entry.Text &&
                             parts->second.Text == c.entry.Text,
                         c.name);
        }
    }
};

QTEST_GUILESS_MAIN(ListPlayTest)
#include "test_listplay.moc"
