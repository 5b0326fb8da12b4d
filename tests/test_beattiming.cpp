// Beats moved to their onsets on made-up envelopes and clicks whose times are known.
#include "beats/beattiming.h"

#include <QTest>

#include <cmath>

using namespace beats;

class TestBeatTiming : public QObject {
    Q_OBJECT
private slots:
    void onsetsNearABlock()
    {
        // Level 1, then from block 50 a rise to 10 (1.5 at block 50), or a slow swell.
        std::vector<float> step(100, 1.f), swell(100);
        for (size_t i = 50; i < 100; ++i) step[i] = i == 50 ? 1.5f : 10.f;
        for (size_t i = 0; i < 100; ++i) swell[i] = float(std::pow(1.05, double(i)));
        const struct { const std::vector<float>* e; double at; int reach; double want; } rows[] = {
            {&step, 45, 8, 50}, {&step, 57, 8, 50}, {&step, 30, 8, -1}, {&step, 70, 8, -1}, {&swell, 50, 8, -1}};
        for (const auto& r : rows) {
            const auto onset = onsetNear(*r.e, r.at, r.reach);
            QCOMPARE(onset ? onset->block : -1.0, r.want);
        }
    }

    void beatsGoToTheirClicks()
    {
        // 1 kHz clicks every 0.5 s from 0.5 s; beats given 9 ms early, or one with no click.
        const double rate = 22050;
        std::vector<float> sound(size_t(rate * 4), 0.f);
        for (int k = 1; k < 8; ++k)
            for (size_t i = 0; i < 200; ++i) sound[size_t(k * 0.5 * rate) + i] = float(std::sin(2 * M_PI * 1000 * double(i) / rate));
        OnsetEnvelopes env(rate, 32);
        env.add(sound.data(), sound.size());
        const std::vector<double> found = beatsOnOnsets({0.491, 0.991, 1.25, 1.491, 2.491}, env, 256 / rate);
        const double want[] = {0.5, 1.0, 1.25, 1.5, 2.5};
        for (size_t i = 0; i < found.size(); ++i) QVERIFY2(std::abs(found[i] - want[i]) < 0.0015, qPrintable(QString::number(found[i])));
    }
};

QTEST_GUILESS_MAIN(TestBeatTiming)
#include "test_beattiming.moc"
