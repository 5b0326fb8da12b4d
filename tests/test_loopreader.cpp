// The loop in samples: passes exact to the frame, seams without a step, an end that fades.
#include "audio/loopreader.h"

#include <QTest>

#include <cmath>
#include <vector>

using namespace audio;

namespace {

// Frame i holds its place (left) and a 440 Hz tone (right), so both the place and the
// waveform of every frame can be checked.
class MemorySource : public FrameSource {
public:
    explicit MemorySource(qint64 frames, bool told = true) : m_frames(frames), m_told(told) {}
    qint64 frames() const override { return m_told ? m_frames : -1; }
    qint64 readAt(qint64 pos, float* out, qint64 n) override
    {
        const qint64 got = std::clamp<qint64>(m_frames - pos, 0, n);
        for (qint64 i = 0; i < got; ++i) {
            out[i * 2] = place(pos + i);
            out[i * 2 + 1] = tone(pos + i);
        }
        return got;
    }
    // i + 1, wrapped where a float still tells every frame apart (a long file's places).
    static float place(qint64 i) { return float(i % (1 << 20) + 1); }
    static float tone(qint64 i) { return float(std::sin(2 * M_PI * 440.0 * double(i) / 44100.0)); }

private:
    qint64 m_frames;
    bool m_told;
};

struct Played {
    std::vector<float> frames;
    std::vector<Block> blocks;
    qint64 count() const { return qint64(frames.size() / 2); }
    float largestToneStep() const
    {
        float step = 0;
        for (qint64 i = 1; i < count(); ++i) step = std::max(step, std::abs(frames[i * 2 + 1] - frames[i * 2 - 1]));
        return step;
    }
};

Played play(LoopReader& r, qint64 chunk, qint64 limit = 1'000'000)
{
    Played p;
    std::vector<float> buf(chunk * 2);
    while (!r.ended() && p.count() < limit) {
        const Block b = r.read(buf.data(), chunk);
        if (b.frames == 0 && !b.end) break;
        p.blocks.push_back(b);
        p.frames.insert(p.frames.end(), buf.begin(), buf.begin() + b.frames * 2);
    }
    return p;
}

// A 440 Hz tone on both sides, nothing else: what a blend does to its level shows.
class ToneSource : public FrameSource {
public:
    qint64 frames() const override { return 200000; }
    qint64 readAt(qint64 pos, float* out, qint64 n) override
    {
        for (qint64 i = 0; i < n; ++i) out[i * 2] = out[i * 2 + 1] = MemorySource::tone(pos + i);
        return n;
    }
};

// The largest step the 440 Hz tone itself makes from one sample to the next.
const float kToneStep = float(2 * M_PI * 440.0 / 44100.0);

} // namespace

class LoopReaderTest : public QObject {
    Q_OBJECT
private slots:
    // With no blend every frame is the source's own, in the order of the passes.
    void passesAreSampleExact_data()
    {
        QTest::addColumn<qint64>("fileFrames");
        QTest::addColumn<bool>("lengthTold");
        QTest::addColumn<qint64>("from");
        QTest::addColumn<qint64>("start");
        QTest::addColumn<qint64>("stop");
        QTest::addColumn<int>("wraps");
        QTest::addColumn<bool>("hold");
        QTest::addColumn<qint64>("chunk");
        QTest::addColumn<QList<qint64>>("runs");  // [from, to) pairs, in order
        QTest::newRow("two wraps then hold") << 50000LL << true << 1000LL << 1000LL << 3001LL << 2 << true << 512LL
                                             << QList<qint64>{1000, 3001, 1000, 3001, 1000, 3001};
        QTest::newRow("no wraps, runs on") << 5000LL << true << 0LL << 100LL << 200LL << 1 << false << 64LL
                                           << QList<qint64>{0, 200, 100, 5000};
        QTest::newRow("stop at the file's end") << 4000LL << true << 3000LL << 2500LL << 4000LL << 2 << true << 333LL
                                                << QList<qint64>{3000, 4000, 2500, 4000, 2500, 4000};
        QTest::newRow("length not told") << 4000LL << false << 3990LL << 10LL << 4000LL << 1 << true << 7LL
                                         << QList<qint64>{3990, 4000, 10, 4000};
        QTest::newRow("stop before start: no loop") << 3000LL << true << 0LL << 2000LL << 1000LL << 5 << true << 100LL
                                                     << QList<qint64>{0, 3000};
        QTest::newRow("stop past the end: no loop") << 3000LL << true << 0LL << 100LL << 3500LL << 5 << true << 100LL
                                                     << QList<qint64>{0, 3000};
        // Three hours at 44.1 kHz: 3.8 GB as stereo floats, past a 32-bit count of bytes.
        const qint64 hours3 = 3LL * 3600 * 44100;
        QTest::newRow("3 hours, near the end") << hours3 << true << hours3 - 132300 << hours3 - 132300 << hours3 - 88200
                                               << 2 << true << 4096LL
                                               << QList<qint64>{hours3 - 132300, hours3 - 88200, hours3 - 132300,
                                                                hours3 - 88200, hours3 - 132300, hours3 - 88200};
        QTest::newRow("3 hours, to the end") << hours3 << true << hours3 - 44100 << hours3 - 44100 << hours3 << 1
                                             << true << 4096LL
                                             << QList<qint64>{hours3 - 44100, hours3, hours3 - 44100, hours3};
        QTest::newRow("one frame stretch") << 3000LL << true << 10LL << 10LL << 11LL << 3 << true << 100LL
                                           << QList<qint64>{10, 11, 10, 11, 10, 11, 10, 11};
    }
    void passesAreSampleExact()
    {
        QFETCH(qint64, fileFrames);
        QFETCH(bool, lengthTold);
        QFETCH(qint64, from);
        QFETCH(qint64, start);
        QFETCH(qint64, stop);
        QFETCH(int, wraps);
        QFETCH(bool, hold);
        QFETCH(qint64, chunk);
        QFETCH(QList<qint64>, runs);
        MemorySource src(fileFrames, lengthTold);
        LoopReader r(src, 0);
        r.seek(from);
        r.setLoop(Loop{start, stop, wraps, hold});
        const Played p = play(r, chunk);
        std::vector<float> expected;
        for (int i = 0; i < runs.size(); i += 2)
            for (qint64 f = runs[i]; f < runs[i + 1]; ++f) expected.push_back(MemorySource::place(f));
        QCOMPARE(p.count(), qint64(expected.size()));
        for (qint64 i = 0; i < p.count(); ++i) QCOMPARE(p.frames[i * 2], expected[i]);
        // Each block runs on from its own place, and says where a pass begins.
        qint64 at = 0, passStarts = 0;
        for (const Block& b : p.blocks) {
            QCOMPARE(p.frames[at * 2], MemorySource::place(b.sourcePos));
            QCOMPARE(p.frames[(at + b.frames - 1) * 2], MemorySource::place(b.sourcePos + b.frames - 1));
            passStarts += b.passStart;
            at += b.frames;
        }
        QCOMPARE(passStarts, qint64(runs.size() / 2 - 1));
        QVERIFY(p.blocks.back().end);
    }

    // A seam on a tone that is not a whole number of periods: the blend leaves no step
    // larger than the tone's own, the hard cut does, and a pass lasts stop - start.
    void seamsHaveNoStep_data()
    {
        QTest::addColumn<qint64>("fileFrames");
        QTest::addColumn<qint64>("stop");
        QTest::addColumn<qint64>("fade");
        QTest::addColumn<bool>("smooth");
        QTest::addColumn<bool>("gap");     // a pause comes between the passes
        QTest::addColumn<bool>("fadeIn");  // and before the first
        QTest::newRow("blend from past the stop") << 40000LL << 30090LL << 220LL << true << false << false;
        QTest::newRow("end fades at the file's end") << 30090LL << 30090LL << 220LL << true << false << false;
        QTest::newRow("file ends inside the blend") << 30150LL << 30090LL << 220LL << true << false << false;
        QTest::newRow("hard cut") << 40000LL << 30090LL << 0LL << false << false << false;
        QTest::newRow("a gap: out and in from silence") << 40000LL << 30090LL << 220LL << true << true << false;
        QTest::newRow("a gap before the first pass too") << 40000LL << 30090LL << 220LL << true << true << true;
    }
    void seamsHaveNoStep()
    {
        QFETCH(qint64, fileFrames);
        QFETCH(qint64, stop);
        QFETCH(qint64, fade);
        QFETCH(bool, smooth);
        QFETCH(bool, gap);
        QFETCH(bool, fadeIn);
        const qint64 start = 10000;
        MemorySource src(fileFrames);
        LoopReader r(src, fade);
        r.seek(start);
        r.setLoop(Loop{start, stop, 3, true});
        r.setGapAtWrap(gap);
        if (fadeIn) r.fadeIn();
        const Played p = play(r, 1000);
        QCOMPARE(std::abs(p.frames[1]) < 0.01f, fadeIn);
        QCOMPARE(p.count(), 4 * (stop - start));
        QCOMPARE(p.largestToneStep() <= 1.5f * kToneStep, smooth);
        // Each pass starts by landing on the start, and is the source itself past the blend.
        for (qint64 pass = fadeIn ? 0 : 1; pass < 4; ++pass) {
            const qint64 at = pass * (stop - start);
            QCOMPARE(p.frames[(at + fade) * 2], float(start + fade + 1));
            if (fade == 0) QCOMPARE(p.frames[at * 2], float(start + 1));
            // Around a gap both sides are all but silent (the tone is loud at both places).
            if (gap && at > 0) QVERIFY(std::abs(p.frames[at * 2 + 1]) < 0.01f && std::abs(p.frames[at * 2 - 1]) < 0.01f);
        }
    }

    // A tone looped over a stretch that is not a whole number of its periods meets itself
    // out of phase at the seam: the blend keeps its level all through, in fifths, and its
    // largest step within 5 % of the tone's own.
    void seamKeepsTheLevel_data()
    {
        QTest::addColumn<double>("periods");  // the stretch's length, in periods of the tone
        QTest::newRow("in phase") << 400.0;
        QTest::newRow("a quarter out") << 400.25;
        QTest::newRow("220 degrees out, as the bench's tone") << 403.612;
        QTest::newRow("three quarters out") << 400.75;
        QTest::newRow("a tenth short of opposite") << 400.4;
    }
    void seamKeepsTheLevel()
    {
        QFETCH(double, periods);
        const qint64 start = 10000, stop = start + qint64(std::llround(periods * 44100.0 / 440.0)),
                     fade = kSeamBlendMs * 44100 / 1000;
        ToneSource src;
        LoopReader r(src, fade);
        r.seek(start);
        r.setLoop(Loop{start, stop, 1, true});
        const Played p = play(r, 300);
        QCOMPARE(p.count(), 2 * (stop - start));
        const qint64 seam = stop - start;
        const qint64 part = fade / 5;
        for (qint64 from = seam; from + part <= seam + fade; from += part) {
            double power = 0;
            for (qint64 i = from; i < from + part; ++i) power += p.frames[i * 2] * p.frames[i * 2];
            const double db = 10 * std::log10(power / double(part) / 0.5);
            QVERIFY2(std::abs(db) < 0.5, qPrintable(QString("from %1: %2 dB").arg(from - seam).arg(db)));
        }
        QVERIFY2(p.largestToneStep() <= 1.05f * kToneStep, qPrintable(QString::number(p.largestToneStep() / kToneStep)));
    }

    // The next entry blends out what followed the last one's stop; nothing is lost. With a
    // pause before it, this end fades out and the next fades in from silence instead.
    void nextEntryBlendsLikeASeam()
    {
        for (const bool gap : {false, true}) {
            MemorySource a(40000), b(20000);
            LoopReader first(a, 220), second(b, 220);
            first.seek(1000);
            first.setLoop(Loop{1000, 20111, 0, true});
            // Until the next is known the blend's length before the stop waits.
            first.awaitFollower(true);
            Played p = play(first, 4096);
            QVERIFY(first.waiting());
            QCOMPARE(p.count(), 19111 - 220);
            first.setFollowed(true, gap);
            const Played rest = play(first, 4096);
            p.frames.insert(p.frames.end(), rest.frames.begin(), rest.frames.end());
            QCOMPARE(p.count(), 19111);
            float past[2] = {};
            QCOMPARE(first.readPast(3, past, 1), gap ? 0 : 1);
            QCOMPARE(past[0], gap ? 0.0f : float(20111 + 3 + 1));
            second.seek(5000);
            second.setIncoming(first.takeTail());
            const Played q = play(second, 4096);
            QCOMPARE(q.frames[220 * 2], float(5220 + 1));
            QCOMPARE(std::abs(p.frames.back()) < 0.01f, gap);
            QCOMPARE(std::abs(q.frames[1]) < 0.01f, gap);
            p.frames.insert(p.frames.end(), q.frames.begin(), q.frames.end());
            QVERIFY(p.largestToneStep() <= 1.5f * kToneStep);
            QCOMPARE(p.count(), 19111 + 15000);
        }
    }
};

QTEST_GUILESS_MAIN(LoopReaderTest)
#include "test_loopreader.moc"
