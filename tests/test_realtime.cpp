// How far the worker renders ahead, as wake-ups find the output nearer or further.
#include "audio/realtime.h"

#include <QtTest>

#include <vector>

class RealTimeTest : public QObject {
    Q_OBJECT
private slots:
    void renderAheadFollowsTheHolds()
    {
        struct Case {
            const char* name;
            std::vector<std::size_t> left;  // chunks left at each wake-up, in order
            std::size_t target;
        };
        // Base 64 chunks, at most 144, back a chunk after 4 calm wake-ups.
        const Case cases[] = {
            {"short holds leave it", {60, 40, 33}, 64},
            {"a long hold doubles what was taken", {20}, 88},
            {"a hold that took all goes to the most", {20, 0}, 144},
            {"an empty ring doubles it", {0}, 128},
            {"calm wake-ups bring it back a chunk", {20, 87, 87, 87, 86}, 87},
            {"then more quickly", {20, 87, 87, 87, 86, 85, 84}, 86},
            {"a new hold starts the calm anew", {20, 87, 87, 87, 40, 96, 96, 96}, 96},
            {"never under the base", {63, 63, 63, 63, 63, 63}, 64},
        };
        for (const Case& c : cases) {
            audio::RenderAhead ahead(64, 144, 4);
            for (std::size_t left : c.left) ahead.woke(left);
            QCOMPARE(ahead.target(), c.target);
        }
    }
};

QTEST_GUILESS_MAIN(RealTimeTest)
#include "test_realtime.moc"
