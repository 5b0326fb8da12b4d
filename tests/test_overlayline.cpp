// The line drawn over a video: shown as written, sized with the picture.
#include "engine/mpv/mpvline.h"

#include <QTest>

class TestOverlayLine : public QObject {
    Q_OBJECT
private slots:
    void textShowsAsWritten()
    {
        const QString wj(QChar(0x2060));
        const struct { const char* in; QString out; } cases[] = {
            {"Привет, こんにちは", QStringLiteral("Привет, こんにちは")},
            {"{\\b1}bold?", "\\{\\" + wj + "b1}bold?"},
            {"a\\Nb \\h", "a\\" + wj + "Nb \\" + wj + "h"},
            {"one\r\ntwo\nthree", QStringLiteral("one\\Ntwo\\Nthree")},
            {"  indented\n x", QStringLiteral("\\h\\hindented\\N\\hx")},
        };
        for (const auto& c : cases) QCOMPARE(engine::assLiteral(QString::fromUtf8(c.in)), c.out);
    }

    void fontGrowsWithThePictureAndItsPixels()
    {
        const struct { QSize size; double dpr; int minimum, px; } cases[] = {
            {{640, 360}, 1, 20, 30}, {{640, 360}, 2, 20, 60},  // a twelfth of the height
            {{320, 480}, 1, 10, 20},                           // a narrow one by its width
            {{200, 100}, 1.5, 20, 30},                         // never under the minimum
        };
        for (const auto& c : cases) QCOMPARE(engine::lineFontPixels(c.size, c.dpr, c.minimum), c.px);
    }
};

QTEST_GUILESS_MAIN(TestOverlayLine)
#include "test_overlayline.moc"
