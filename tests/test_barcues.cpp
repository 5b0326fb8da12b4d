// The bar cues on made-up sounds and chords whose bar lines are known.
#include "beats/barcues.h"

#include <QTest>

#include <algorithm>
#include <cmath>

using namespace beats;

class TestBarCues : public QObject {
    Q_OBJECT
private slots:
    void cuesPeakWhereTheBarChanges()
    {
        const double rate = 2756.25;
        const std::vector<double> beats = {1000, 2000, 3000, 4000, 5000, 6000};
        // Low: a tone from beat `at` on (a 15 ms attack) rises there only when under the band's top.
        const struct { double hz; size_t at; bool rises; } tones[] = {{60, 3, true}, {110, 2, true}, {600, 3, false}};
        for (const auto& t : tones) {
            std::vector<float> sound(7000, 0.f);
            for (size_t i = size_t(beats[t.at]); i < sound.size(); ++i) 
                sound[i] = float(std::min(1.0, (double(i) - beats[t.at]) / 40) * std::sin(2 * M_PI * t.hz * double(i) / rate));
            const std::vector<double> rise = lowRise(sound.data(), sound.size(), rate, beats);
            QCOMPARE(size_t(std::max_element(rise.begin(), rise.end()) - rise.begin()) == t.at && rise[t.at] > 2, t.rises);
        }
        // Harmony: one chord, then another from beat `at`; the change is there at every span.
        const Chroma c{1, 0, 0, 0, 1, 0, 0, 1, 0, 0, 0, 0}, g{0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 1};
        const struct { size_t at, span; } changes[] = {{8, 4}, {8, 1}, {5, 2}};
        for (const auto& h : changes) {
            std::vector<Chroma> between(15);
            for (size_t i = 0; i < between.size(); ++i) between[i] = i < h.at ? c : g;
            const std::vector<double> d = harmonicChange(between, 16, h.span);
            QCOMPARE(size_t(std::max_element(d.begin(), d.end()) - d.begin()), h.at);
            QCOMPARE(d[h.at - 1] < d[h.at] && d[h.at + 1] < d[h.at], true);
        }
    }

    void accentsWeighEachCueAgainstItsMean()
    {
        const std::vector<double> flat(9, 1.0);
        std::vector<double> kick = flat, snareChange(8, 1.0);
        kick[4] = 3;         // beat 4's bass rise
        snareChange[5] = 1.6;  // the change into beat 6
        for (double v : barAccents(std::vector<double>(8, 2.0), flat, flat, flat)) QCOMPARE(v, 1.0);
        const std::vector<double> a = barAccents(snareChange, kick, flat, flat);
        QCOMPARE(size_t(std::max_element(a.begin(), a.end()) - a.begin()), size_t(3));  // beat 4
        QCOMPARE(a[5] > a[0], true);
        // Silent cues (all zero) add nothing.
        QCOMPARE(barAccents(flat, std::vector<double>(9, 0.0), flat, flat).front(), 1.0);
    }
};

QTEST_GUILESS_MAIN(TestBarCues)
#include "test_barcues.moc"
