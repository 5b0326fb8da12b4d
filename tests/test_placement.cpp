// Windows come back where they were and stay on the screen.
#include "services/menufit.h"
#include "services/placement.h"
#include "services/stacking.h"
#include "services/ticks.h"
#include "services/titlebar.h"
#include "services/twips.h"

#include <QDialog>
#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QStandardPaths>
#include <QtTest>

using services::Placement;

class PlacementTest : public QObject {
    Q_OBJECT
    double screenW = 0, screenH = 0;

    static void putStored(const QString& name, const QString& key, const QString& value)
    {
        QSettings s("Vamplet", "Vamplet");
        s.setValue(name + "/" + key, value);
    }
    static QString stored(const QString& name, const QString& key)
    {
        QSettings s("Vamplet", "Vamplet");
        return s.value(name + "/" + key).toString();
    }
    static double twips(int px) { return services::pixelsToTwips(px); }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        const QSize px = QGuiApplication::primaryScreen()->size();
        screenW = services::pixelsToTwips(px.width());
        screenH = services::pixelsToTwips(px.height());
    }
    void init()
    {
        QSettings s("Vamplet", "Vamplet");
        s.clear();
    }

    // The own title bar's grips: every dot along the border resizes exactly the edges it lies on.
    void gripsTileTheBorder()
    {
        const Qt::Edges all[] = {Qt::LeftEdge, Qt::RightEdge, Qt::TopEdge, Qt::BottomEdge,
                                 Qt::TopEdge | Qt::LeftEdge, Qt::TopEdge | Qt::RightEdge,
                                 Qt::BottomEdge | Qt::LeftEdge, Qt::BottomEdge | Qt::RightEdge};
        struct Case { QPoint at; Qt::Edges edges; } cases[] = {
            {{0, 0}, Qt::TopEdge | Qt::LeftEdge}, {{99, 59}, Qt::BottomEdge | Qt::RightEdge},
            {{7, 59}, Qt::BottomEdge | Qt::LeftEdge}, {{8, 59}, Qt::BottomEdge}, {{50, 0}, Qt::TopEdge},
            {{99, 8}, Qt::RightEdge}, {{0, 51}, Qt::LeftEdge}, {{50, 30}, {}}, {{4, 30}, {}}};
        for (const Case& c : cases) {
            Qt::Edges found;
            int hits = 0;
            for (Qt::Edges e : all)
                if (services::gripRect(e, {100, 60}, 4).contains(c.at)) found = e, ++hits;
            QVERIFY2(hits <= 1 && found == c.edges, qPrintable(QString("%1,%2").arg(c.at.x()).arg(c.at.y())));
        }
        for (Qt::Edges e : all) QVERIFY(services::gripRect(e, {10, 10}, 4).width() >= 0);
    }

    // A menu stays within its window, moved as little as possible; one larger than the window
    // starts at its edge, so its first items show.
    void menusOpenWithinTheirWindow()
    {
        const QRect window(10, 20, 300, 400);
        const struct { QPoint at; QSize size; QPoint placed; } cases[] = {
            {{50, 60}, {100, 200}, {50, 60}},      // fits where it was asked
            {{50, 300}, {100, 200}, {50, 220}},    // ran off the bottom: ends at the window's
            {{250, 60}, {100, 200}, {210, 60}},    // ran off the right
            {{0, 0}, {100, 200}, {10, 20}},        // above and left of the window
            {{50, 300}, {100, 400}, {50, 20}},     // just as tall: the window's whole height
            {{50, 300}, {100, 450}, {50, 20}},     // taller: from the top
            {{290, 300}, {320, 100}, {10, 300}},   // wider: from the left
        };
        for (const auto& c : cases) QCOMPARE(services::menuPlaceWithin(window, c.size, c.at), c.placed);
    }

    // Ticks from the first value to the last, one at the maximum even off the interval.
    void ticksReachBothEnds()
    {
        const struct { int min, max, interval; QVector<int> places; } cases[] = {
            {0, 100, 50, {5, 60, 115}},   // 120 long, a handle of 10: 110 to travel
            {0, 10, 4, {5, 49, 93, 115}}, // the last one at the maximum, not past it
            {0, 10, 0, {}},               // an interval of 0 is taken as 1
            {5, 5, 1, {5}},
        };
        for (const auto& c : cases) {
            const QVector<int> got = services::tickPlaces(c.min, c.max, c.interval, 120, 10);
            if (c.interval == 0) QCOMPARE(got.size(), 11);
            else QCOMPARE(got, c.places);
        }
    }

    void closeOfferedAsTheFlagsSay()
    {
        // Through Qt's own filling-in of the flags, as the dialogs set them.
        QDialog plain, answerOnly, about(nullptr, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
        answerOnly.setWindowFlag(Qt::WindowCloseButtonHint, false);
        const struct { QWidget* window; bool close; } cases[] = {{&plain, true}, {&answerOnly, false}, {&about, true}};
        for (const auto& c : cases) QCOMPARE(services::offersClose(c.window->windowFlags()), c.close);
    }

    void correctionIsStrict()
    {
        const Placement edge = services::correctPlacement({9000, 12000, 12000, 9000}, 12000, 9000, true);
        QCOMPARE(edge.top, 9000.0);  // equal to the screen: left as it is
        QCOMPARE(edge.left, 12000.0);
        QCOMPARE(edge.width, 12000.0);
        const Placement off = services::correctPlacement({-300, 12001, 12001, 9001}, 12000, 9000, true);
        QCOMPARE(off.top, 0.0);
        QCOMPARE(off.left, 0.0);
        QCOMPARE(off.width, 11900.0);
        QCOMPARE(off.height, 8900.0);
        const Placement fixed = services::correctPlacement({10, 10, 99999, -5}, 12000, 9000, false);
        QCOMPARE(fixed.width, 99999.0);  // a fixed window's size is never touched
        QCOMPARE(fixed.height, -5.0);
    }

    void firstStartUsesTheDefaults()
    {
        QWidget w;
        w.setObjectName("frmPlayer");
        services::RestoreFormPlacement(&w);
        QCOMPARE(w.pos(), QPoint(services::twipsToPixels(120), services::twipsToPixels(120)));
        QCOMPARE(w.size(), services::twipsSize(6330, 7065));

        QDialog fixed;
        fixed.setObjectName("frmEdit");
        fixed.setFixedSize(300, 200);
        services::RestoreFormPlacement(&fixed);
        QCOMPARE(fixed.pos(), QPoint(services::twipsToPixels(120), services::twipsToPixels(120)));
        QCOMPARE(fixed.size(), QSize(300, 200));
    }

    void storedValuesOffTheScreenArePulledBack()
    {
        putStored("frmPlayList", "Top", "-300");
        putStored("frmPlayList", "Left", QString::number(screenW + 1000));
        putStored("frmPlayList", "Width", QString::number(screenW + 1000));
        putStored("frmPlayList", "Height", "3000");
        QWidget w;
        w.setObjectName("frmPlayList");
        services::RestoreFormPlacement(&w);
        QCOMPARE(w.pos(), QPoint(0, 0));
        QCOMPARE(w.width(), services::twipsToPixels(screenW - 100));
        QCOMPARE(w.height(), services::twipsToPixels(3000));
    }

    void aValueThatIsNoNumberKeepsTheWindowsOwn()
    {
        putStored("frmPlayer", "Top", "high");
        putStored("frmPlayer", "Left", "600");
        QWidget w;
        w.setObjectName("frmPlayer");
        w.move(0, 30);
        services::RestoreFormPlacement(&w);
        QCOMPARE(w.pos(), QPoint(services::twipsToPixels(600), 30));
    }

    void saveCorrectsThenStores()
    {
        QWidget w;
        w.setObjectName("frmPlayer");
        w.move(-40, 45);
        w.resize(300, 200);
        services::SaveFormPlacement(&w);
        QCOMPARE(w.x(), 0);  // moved back onto the screen before it is stored
        QCOMPARE(stored("frmPlayer", "Left"), QString("0"));
        QCOMPARE(stored("frmPlayer", "Top").toDouble(), double(float(twips(45))));
        QCOMPARE(stored("frmPlayer", "Width").toDouble(), double(float(twips(300))));

        QDialog fixed;
        fixed.setObjectName("frmEdit");
        fixed.setFixedSize(300, 200);
        services::SaveFormPlacement(&fixed);
        QVERIFY(stored("frmEdit", "Width").isEmpty());
        QVERIFY(!stored("frmEdit", "Top").isEmpty());

        // What was stored comes back.
        QWidget again;
        again.setObjectName("frmPlayer");
        services::RestoreFormPlacement(&again);
        QCOMPARE(again.pos(), QPoint(0, 45));
        QCOMPARE(again.size(), QSize(300, 200));
    }
    // Only a panel that really lies under its owner is raised again: a raise restacks.
    void panelBehindOwnerIsFound()
    {
        const std::vector<quint32> order{7, 3, 9}; // bottom to top
        const struct { quint32 window, other; bool below; } cases[] = {
            {3, 9, true}, {9, 3, false}, {7, 9, true}, {3, 3, false}, {4, 9, false}, {3, 4, false},
        };
        for (const auto& c : cases) QCOMPARE(services::liesBelow(order, c.window, c.other), c.below);
        QVERIFY(!services::liesBelow({}, 3, 9));
    }
};

QTEST_MAIN(PlacementTest)
#include "test_placement.moc"
