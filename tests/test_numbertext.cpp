#include "app/numbertext.h"

#include <QLocale>
#include <QtTest>

class NumberTextTest : public QObject {
    Q_OBJECT
private slots:
    void init() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }
    void cleanup() { QLocale::setDefault(QLocale::c()); }

    void formatsGeneralNumberForm()
    {
        QCOMPARE(numtext::format(2.50), QString("2.5"));
        QCOMPARE(numtext::format(3.0), QString("3"));
        QCOMPARE(numtext::format(1.0 / 3.0), QString("0.333333333333333"));
        QCOMPARE(numtext::format(-0.0), QString("0"));
        QCOMPARE(numtext::format(123456789.125), QString("123456789.125"));
        QCOMPARE(numtext::format(1234567.0), QString("1234567"));  // no grouping
        QCOMPARE(numtext::format(1e20), QString("1E+20"));
    }

    void parsesStrictly()
    {
        QCOMPARE(numtext::parse("1.50"), std::optional<double>(1.5));
        QCOMPARE(numtext::parse(" 7 "), std::optional<double>(7));
        QVERIFY(!numtext::parse("abc"));
        QVERIFY(!numtext::parse("1.5x"));
        QVERIFY(!numtext::parse(""));
        QVERIFY(!numtext::parse("1,000"));  // grouping is not a number here
    }

    void zeroPrefixedReadsLikeTheGrid()
    {
        QCOMPARE(numtext::parseZeroPrefixed(""), std::optional<double>(0));
        QCOMPARE(numtext::parseZeroPrefixed(".5"), std::optional<double>(0.5));
        QCOMPARE(numtext::parseZeroPrefixed("2.5"), std::optional<double>(2.5));
        QVERIFY(!numtext::parseZeroPrefixed("-5"));
        QVERIFY(!numtext::parseZeroPrefixed("abc"));
        double target = 4;
        QVERIFY(!numtext::assignIfParsed(numtext::parseZeroPrefixed("x"), target));
        QCOMPARE(target, 4.0);
    }

    void wholeNumbers()
    {
        QCOMPARE(numtext::parseWhole("12"), std::optional<qint32>(12));
        QCOMPARE(numtext::parseWhole("2147483647"), std::optional<qint32>(2147483647));
        QVERIFY(!numtext::parseWhole("2147483648"));
        QVERIFY(!numtext::parseWhole("twelve"));
    }

    void leadingNumberIsLenient()
    {
        QCOMPARE(numtext::leadingNumber("2.5abc"), 2.5);
        QCOMPARE(numtext::leadingNumber("  -3"), -3.0);
        QCOMPARE(numtext::leadingNumber("abc"), 0.0);
        QCOMPARE(numtext::leadingNumber(""), 0.0);
    }

    void decimalCommaLocale()
    {
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        QCOMPARE(numtext::format(2.5), QString("2,5"));
        QCOMPARE(numtext::format(1234.5), QString("1234,5"));
        QCOMPARE(numtext::parse("2,5"), std::optional<double>(2.5));
        QVERIFY(!numtext::parse("1.5"));  // a dot is grouping there, never silently 15
        QCOMPARE(numtext::parseZeroPrefixed(",5"), std::optional<double>(0.5));
        QCOMPARE(numtext::leadingNumber("2,5s"), 2.5);
        // What one writes, the other reads back exactly.
        for (double v : {0.1, 12.345, 1.0 / 7.0, 99999.5})
            QVERIFY(qFuzzyCompare(numtext::parse(numtext::format(v)).value(), v));
    }

    // Whole numbers take a short way; it must write and read what the locale itself does.
    void wholeNumbersAsTheLocaleHasThem_data()
    {
        QTest::addColumn<QLocale>("locale");
        QTest::newRow("C") << QLocale::c();
        QTest::newRow("German") << QLocale(QLocale::German, QLocale::Germany);
        QTest::newRow("Arabic digits") << QLocale(QLocale::Arabic, QLocale::Egypt);
        QTest::newRow("Swedish minus") << QLocale(QLocale::Swedish, QLocale::Sweden);
    }
    void wholeNumbersAsTheLocaleHasThem()
    {
        QFETCH(QLocale, locale);
        QLocale::setDefault(locale);
        locale.setNumberOptions(QLocale::OmitGroupSeparator | QLocale::RejectGroupSeparator);
        const auto read = [&](const QString& text) {
            bool ok = false;
            const double v = locale.toDouble(text, &ok);
            return ok ? std::optional<double>(v) : std::nullopt;
        };
        for (double v : {1.0, -7.0, 120.0, 999999999999999.0, 1e15, -1e15, 12345678.0}) {
            const QString text = locale.toString(v, 'G', 15);
            QCOMPARE(numtext::format(v), text);
            QCOMPARE(numtext::parse(text), read(text));
        }
        for (const QString text : {locale.toString(42), QString("0012"), QString("1234567890123456")})
            QCOMPARE(numtext::parseZeroPrefixed(text), read("0" + text));
    }
};

QTEST_GUILESS_MAIN(NumberTextTest)
#include "test_numbertext.moc"
