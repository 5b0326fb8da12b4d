// Stretched sound keeps its level: the stretcher fed as the engine feeds it, against Rubber
// Band's finer engine run offline on the same input, to the sample and every 10 ms window
// within 1 dB.
#include "audio/loopreader.h"
#include "offline/offlinestretch.h"
#include "audio/stretcher.h"

#include <QTest>

#include <cmath>
#include <memory>
#include <vector>

using namespace audio;
using namespace offline;

namespace {

constexpr int kRate = 44100;

// A swelling chirp: the sound changes all the time, as music does, and a stretcher that
// loses track of it shows as a sag.
class Chirp : public FrameSource {
public:
    qint64 frames() const override { return kRate * 6 / 5; }
    qint64 readAt(qint64 pos, float* out, qint64 n) override
    {
        const qint64 got = std::clamp<qint64>(frames() - pos, 0, n);
        for (qint64 i = 0; i < got; ++i) {
            const double t = double(pos + i) / kRate;
            out[i * 2] = out[i * 2 + 1] = float((0.25 + 0.2 * t) * std::sin(2 * M_PI * (300 * t + 500 * t * t)));
        }
        return got;
    }
};

std::unique_ptr<LoopReader> reader(Chirp& source, int wraps)
{
    auto r = std::make_unique<LoopReader>(source, kRate * 30 / 1000);
    r->seek(0);
    if (wraps > 0) r->setLoop(Loop{kRate / 10, kRate * 7 / 10, wraps, true});
    return r;
}

double rms(const std::vector<float>& v, std::size_t from, std::size_t step, std::size_t n)
{
    double s = 0;
    for (std::size_t i = 0; i < n; ++i) s += double(v[(from + i) * step]) * v[(from + i) * step];
    return std::max(1e-4, std::sqrt(s / double(n)));
}

} // namespace

class TestStretcher : public QObject {
    Q_OBJECT
private slots:
    void levelFollowsTheOfflineRender_data()
    {
        QTest::addColumn<double>("rate");
        QTest::addColumn<int>("wraps");
        QTest::addColumn<int>("from");  // the first frame fed; the frames before it are its lead-in
        QTest::addColumn<int>("lead");  // how many of them
        const struct { const char* name; double rate; int wraps, from, lead = 4096; } rows[] = {
            {"0.5", 0.5, 0, 0}, {"0.75", 0.75, 0, 0}, {"1.25", 1.25, 0, 0}, {"1.5", 1.5, 0, 0}, {"2", 2.0, 0, 0},
            {"0.6, looped", 0.6, 2, 0}, {"1.5, looped", 1.5, 2, 0}, {"1.25, looped", 1.25, 2, 0},
            {"1 (a trainer's last step)", 1.0, 0, 0}, {"1, looped", 1.0, 2, 0},
            {"1.1, going on from the frames before", 1.1, 0, kRate / 5},
            {"0.75, from a short lead-in", 0.75, 0, kRate / 5, 1024}};
        for (const auto& r : rows) QTest::newRow(r.name) << r.rate << r.wraps << r.from << r.lead;
    }
    void levelFollowsTheOfflineRender()
    {
        QFETCH(double, rate);
        QFETCH(int, wraps);
        QFETCH(int, from);
        QFETCH(int, lead);
        // The same input as the stretcher is fed, seam blends and all, from a reader of its own.
        Chirp source;
        auto plain = reader(source, wraps);
        plain->seek(from);
        std::vector<float> input, block(2 * 4096);
        for (Block b{0, 0, false, false}; !b.end && !plain->ended();) {
            b = plain->read(block.data(), 4096);
            input.insert(input.end(), block.begin(), block.begin() + b.frames * 2);
        }
        // At rate 1 the input itself (the offline render eases in over its first frames).
        // Going on from frames before, the render hears them first and drops what they make.
        std::vector<float> before(std::size_t(std::min(from, lead)) * 2);
        source.readAt(from - qint64(before.size() / 2), before.data(), qint64(before.size() / 2));
        before.insert(before.end(), input.begin(), input.end());
        std::vector<float> expected = rate == 1.0 ? input : offlineStretch(before, kRate, rate);
        expected.erase(expected.begin(), expected.begin() + std::llround(double(before.size() - input.size()) / 2 / rate) * 2);
        expected.resize(std::size_t(stretchedFrames(double(input.size() / 2), rate)) * 2);

        auto fed = reader(source, wraps);
        fed->seek(from);
        Stretcher stretcher;
        stretcher.start(kRate, rate, 1.0);
        if (from > 0) stretcher.leadIn(before.data(), qint64(before.size() - input.size()) / 2, lead);
        std::vector<float> heard;  // stereo
        auto chunk = std::make_unique<Chunk>();
        while (stretcher.fill(*fed, 1, [rate] { return Stretcher::Turn{false, rate}; })) {
            stretcher.take(*chunk);
            heard.insert(heard.end(), chunk->data, chunk->data + chunk->frames * kChannels);
        }
        const std::size_t w = kRate / 100;
        // A pass lasts its frames over the rate.
        QCOMPARE(qint64(heard.size() / 2), qint64(std::ceil(double(input.size() / 2) / rate - 1e-9)));
        QCOMPARE(expected.size(), heard.size());
        // Fed as the render is, it is the render, but for the last 100 ms, where the input's
        // end fades as the reader saw it in its own reads.
        for (std::size_t i = 0; i + kRate / 10 * 2 < heard.size(); ++i)
            if (std::abs(heard[i] - expected[i]) > 1e-4f) QFAIL(qPrintable(QStringLiteral("differs at frame %1").arg(i / 2)));
        for (std::size_t at = 0; at + w <= heard.size() / 2; at += w) {
            const double db = 20 * std::log10(rms(heard, at, 2, w) / rms(expected, at, 2, w));
            if (std::abs(db) > 1) QFAIL(qPrintable(QStringLiteral("%1 dB at %2 ms").arg(db, 0, 'f', 1).arg(at / w * 10)));
        }
    }

    // A pass that ends at a gap (a pause or a new rate next) comes out whole, to the frame,
    // before the stretcher starts over.
    void passBeforeAGapIsWhole_data()
    {
        QTest::addColumn<double>("rate");
        QTest::newRow("0.6") << 0.6;
        QTest::newRow("1.5") << 1.5;
        QTest::newRow("1") << 1.0;
    }
    void passBeforeAGapIsWhole()
    {
        QFETCH(double, rate);
        Chirp source;
        auto fed = reader(source, 2);
        fed->setGapAtWrap(true);
        Stretcher stretcher;
        stretcher.start(kRate, rate, 1.0);
        bool begun = false;
        const auto turn = [&] { return Stretcher::Turn{begun = !begun, rate}; };
        QList<qint64> passes{0};
        auto chunk = std::make_unique<Chunk>();
        for (;;) {
            const bool ready = stretcher.fill(*fed, 1, turn);
            if (!ready && stretcher.atGap()) {
                stretcher.start(kRate, rate, 1.0);
                passes << 0;
                continue;
            }
            if (!ready) break;
            stretcher.take(*chunk);
            passes.back() += chunk->frames;
        }
        const auto out = [rate](qint64 frames) { return stretchedFrames(double(frames), rate); };
        QCOMPARE(passes, (QList<qint64>{out(kRate * 7 / 10), out(kRate * 6 / 10), out(kRate * 6 / 10)}));
        // A whole quotient is whole, though 21 / 0.7 in doubles is a hair above 30.
        QCOMPARE(stretchedFrames(21, 0.7), 30);
        QCOMPARE(stretchedFrames(22, 0.7), 32);
    }

    // Going on from another's end (a step back to 0.2 s), it sounds as the sound run on.
    void nextStartHearsTheSoundBeforeTheSeam()
    {
        for (const double rate : {0.75, 1.35, 2.0}) {
            Chirp source;
            Stretcher first, next;
            const auto chunk = std::make_unique<Chunk>();
            first.start(kRate, rate, 1.0);
            for (auto whole = reader(source, 0); first.fill(*whole, 1, [rate] { return Stretcher::Turn{false, rate}; });) first.take(*chunk);
            std::vector<float> in(2 * 4096), heard, rest(2 * 4096);
            source.readAt(source.frames() - 4096, in.data(), 4096);
            in.insert(in.end(), rest.begin(), rest.begin() + 2 * source.readAt(kRate / 5, rest.data(), 4096));
            const std::vector<float> want = offlineStretch(in, kRate, rate), before = first.lastFed();
            next.start(kRate, rate, 1.0);
            next.leadIn(before.data(), qint64(before.size() / 2));
            const auto fed = reader(source, 0);
            fed->seek(kRate / 5);
            for (int i = 0; i < 4 && next.fill(*fed, 2, [rate] { return Stretcher::Turn{false, rate}; }); ++i)
                next.take(*chunk), heard.insert(heard.end(), chunk->data, chunk->data + chunk->frames * kChannels);
            for (std::size_t at = 0, w = kRate / 100, skip = std::size_t(std::llround(4096 / rate)); at + w <= heard.size() / 2; at += w)
                QVERIFY2(std::abs(20 * std::log10(rms(heard, at, 2, w) / rms(want, skip + at, 2, w))) < 0.5, qPrintable(QString::number(rate)));
        }
    }
};

QTEST_GUILESS_MAIN(TestStretcher)
#include "test_stretcher.moc"
