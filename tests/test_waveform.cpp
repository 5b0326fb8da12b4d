// Waveform peaks against a brute-force reading of generated signals, the view's zoom
// arithmetic, and the peaks' way through the worker and the cache.
#include "midi/midirender.h"
#include "waveform/peaks.h"
#include "playback/waveformbinding.h"
#include "waveform/waveformsource.h"
#include "waveform/waveformview.h"

#include <QFile>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include "support/testkit.h"

using namespace waveform;

namespace {

// Values on the 1/32767 grid, so every peak is exactly representable.
std::vector<float> signal(qint64 frames, int channels, quint32 seed)
{
    std::vector<float> s(size_t(frames * channels));
    for (float& v : s) {
        seed = seed * 1664525u + 1013904223u;
        v = float(int(seed >> 16) % 65535 - 32767) / 32767.0f;
    }
    return s;
}

Peaks build(const std::vector<float>& s, int channels, qint64 chunk)
{
    PeakBuilder b(channels);
    Peaks p;
    p.sampleRate = 8000;
    p.channels = channels;
    const qint64 frames = qint64(s.size()) / channels;
    for (qint64 at = 0; at < frames; at += chunk) {
        b.add(s.data() + at * channels, std::min(chunk, frames - at));
        p.append(b.take());
    }
    b.finish();
    p.append(b.take());
    return p;
}

struct Generated : FrameSource {
    std::vector<float> s;
    int ch;
    qint64 at = 0;
    Generated(std::vector<float> samples, int channels) : s(std::move(samples)), ch(channels) {}
    int sampleRate() const override { return 8000; }
    int channels() const override { return ch; }
    qint64 frames() const override { return qint64(s.size()) / ch; }
    qint64 read(float* out, qint64 max) override
    {
        const qint64 n = std::min(max, frames() - at);
        std::copy_n(s.begin() + at * ch, n * ch, out);
        at += n;
        return n;
    }
    bool seek(qint64 f) override { return f <= frames() && (at = f, true); }
};

} // namespace

class WaveformTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void peaksAreExactAtEveryLevel_data()
    {
        QTest::addColumn<qint64>("frames");
        QTest::addColumn<int>("channels");
        QTest::addColumn<qint64>("chunk");
        QTest::newRow("one frame") << qint64(1) << 1 << qint64(1);
        QTest::newRow("one bucket short") << qint64(63) << 2 << qint64(5);
        QTest::newRow("exactly one bucket") << qint64(64) << 1 << qint64(64);
        QTest::newRow("partial second bucket") << qint64(65) << 2 << qint64(7);
        QTest::newRow("four levels and a tail") << qint64(64 * 64 + 17) << 2 << qint64(1000);
        QTest::newRow("long, odd chunks") << qint64(700001) << 2 << qint64(4093);
        QTest::newRow("six channels") << qint64(20000) << 6 << qint64(333);
    }
    void peaksAreExactAtEveryLevel()
    {
        QFETCH(qint64, frames);
        QFETCH(int, channels);
        QFETCH(qint64, chunk);
        const std::vector<float> s = signal(frames, channels, quint32(frames));
        const Peaks p = build(s, channels, chunk);
        QVERIFY(p.complete);
        QCOMPARE(p.frames, frames);
        int expectLevels = 0;
        for (qint64 n = frames; ; n = (n + 3) / 4) {
            ++expectLevels;
            if (n <= 64) break;
        }
        QCOMPARE(int(p.levels.size()), expectLevels);
        for (int l = 0; l < int(p.levels.size()); ++l) {
            const qint64 size = bucketFrames(l);
            QCOMPARE(qint64(p.levels[l].size()), (frames + size - 1) / size);
            for (qint64 b = 0; b < qint64(p.levels[l].size()); ++b) {
                const auto first = s.begin() + b * size * channels;
                const auto last = s.begin() + std::min(frames, (b + 1) * size) * channels;
                const auto [lo, hi] = std::minmax_element(first, last);
                const Peak want{qint16(std::lround(*lo * 32767)), qint16(std::lround(*hi * 32767))};
                if (!(p.levels[l][b] == want))
                    QFAIL(qPrintable(QString("level %1 bucket %2: %3..%4, want %5..%6").arg(l).arg(b)
                                         .arg(p.levels[l][b].min).arg(p.levels[l][b].max).arg(want.min).arg(want.max)));
            }
        }
    }

    void rangeNeverHidesAPeak()
    {
        const std::vector<float> s = signal(300000, 1, 7);
        const Peaks p = build(s, 1, 10000);
        quint32 seed = 3;
        for (int i = 0; i < 500; ++i) {
            seed = seed * 1664525u + 1013904223u;
            const qint64 from = seed % 290000, to = from + 1 + (seed >> 8) % 9000;
            float lo = 0, hi = 0;
            QVERIFY(p.range(from, to, lo, hi));
            const auto [tlo, thi] = std::minmax_element(s.begin() + from, s.begin() + to);
            QVERIFY2(lo <= *tlo && hi >= *thi, qPrintable(QString("span %1-%2").arg(from).arg(to)));
            // Never more than the buckets the span touches at level 0 hold.
            const auto [blo, bhi] = std::minmax_element(s.begin() + from / 64 * 64,
                                                        s.begin() + std::min<qint64>(300000, (to + 63) / 64 * 64));
            QVERIFY(lo >= *blo && hi <= *bhi);
        }
        // Samples beyond full scale are held at it.
        const std::vector<float> loud{2.0f, -3.0f};
        const Peaks q = build(loud, 1, 2);
        QCOMPARE(q.levels[0][0], (Peak{-32767, 32767}));
    }

    void cacheBytesRoundTripAndRefuseDamage()
    {
        const Peaks p = build(signal(50000, 2, 1), 2, 999);
        const QByteArray bytes = p.serialize();
        const std::optional<Peaks> back = Peaks::deserialize(bytes);
        QVERIFY(back);
        QCOMPARE(back->frames, p.frames);
        QCOMPARE(back->levels, p.levels);
        QByteArray wrongCount = bytes;
        wrongCount[28] = 99;  // the level count
        for (const QByteArray& bad : {bytes.left(bytes.size() - 1), bytes + "x", QByteArray("VPK1"), wrongCount, QByteArray()})
            QVERIFY(!Peaks::deserialize(bad));
    }

    void shadedStretchOutlivesAStop()
    {
        using engine::PlayState;
        const playback::ShadedStretch was{"a.wav", 2, 5};
        const struct { QString file; engine::LoopRange loop; PlayState state; playback::ShadedStretch want; } cases[] = {
            {"a.wav", {}, PlayState::Stopped, was},  // a Stop stands at the entry's start
            {"a.wav", {}, PlayState::Playing, {"a.wav", 0, 0}},  // the whole file plays
            {"b.wav", {}, PlayState::Paused, {"b.wav", 0, 0}},
            {"a.wav", {1, 3}, PlayState::Stopped, {"a.wav", 1, 3}}};
        for (const auto& c : cases) QCOMPARE(playback::nextShadedStretch(was, c.file, c.loop, c.state), c.want);
    }

    void viewportZoomsAroundThePointer()
    {
        Viewport v;
        v.total = 100000;
        v.width = 500;
        v.showAll();
        QCOMPARE(v.framesPerPixel, 200.0);
        const double under = v.frameAt(123);
        v.zoomAround(123, 8);
        QCOMPARE(v.framesPerPixel, 25.0);
        QCOMPARE(v.frameAt(123), under);
        v.panBy(1e9);  // far left: stops at the beginning
        QCOMPARE(v.first, 0.0);
        v.panBy(-1e9);
        QCOMPARE(v.frameAt(v.width), 100000.0);
        v.zoomAround(0, 1e9);
        QCOMPARE(v.framesPerPixel, Viewport::kMinFramesPerPixel);
        v.zoomAround(250, 1e-9);
        QVERIFY(v.wholeFile());
        struct Case { double seconds, perPixel, want; };
        for (const Case& c : {Case{12.3456, 2, 12}, Case{12.3456, 0.5, 12.3}, Case{12.3456, 0.05, 12.35}, Case{12.3456, 0.002, 12.346},
                              Case{1.23456789, 1e-9, 1.234568}})
            QCOMPARE(roundToPixel(c.seconds, c.perPixel), c.want);
    }

    void playheadRepaintsOnlyItsStrips()
    {
        const int h = 80;
        struct Case { std::optional<double> from, to; double dpr; QList<int> dirty, clean; };
        const Case cases[] = {
            {10.2, 10.4, 1, {}, {10}},              // the same dot: nothing
            {10.2, 10.4, 2, {10}, {20}},            // a dot at scale 2
            {10, 11, 1, {7, 10, 11, 14}, {16, 5}},  // one pixel on: both lines with their rims
            {300, 5, 1, {300, 5}, {150}},           // a wrap: two strips, not the span between
            {std::nullopt, 50, 1, {50}, {10}},
            {50, std::nullopt, 1, {50}, {60}},
            {std::nullopt, std::nullopt, 1, {}, {0}},
        };
        for (const Case& c : cases) {
            const QRegion r = playheadDirty(c.from, c.to, h, c.dpr);
            for (int x : c.dirty) QVERIFY2(r.contains(QPoint(x, 0)) && r.contains(QPoint(x, h - 1)), qPrintable(QString::number(x)));
            for (int x : c.clean) QVERIFY2(!r.contains(QPoint(x, h / 2)), qPrintable(QString::number(x)));
        }
    }

    void peaksArriveThenComeFromTheCache()
    {
        QTemporaryDir dir;
        setCacheFolder(dir.filePath("peaks"));
        const QString media = dir.filePath("tone.raw");
        QFile f(media);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write("x") == 1);
        f.close();
        const std::vector<float> s = signal(400000, 2, 11);
        int opened = 0;
        // The samples by value: a worker still reading when a check fails outlives this frame.
        setSourceOpener([&opened, s](const QString&, QString*) {
            ++opened;
            return std::make_unique<Generated>(s, 2);
        });
        const Peaks want = build(s, 2, 4096);
        for (int round = 0; round < 2; ++round) {
            WaveformSource src;
            src.setFile(media);
            QTRY_COMPARE_WITH_TIMEOUT(src.status(), WaveformSource::Status::Ready, 60000);  // slow under sanitizers
            QCOMPARE(src.peaks().levels, want.levels);
            QCOMPARE(src.peaks().sampleRate, 8000);
            QCOMPARE(opened, 1);  // the second time from the cache
        }
        // A changed file is read again, and its old peaks go.
        QVERIFY(f.open(QIODevice::Append) && f.write("y") == 1);
        f.close();
        WaveformSource src;
        src.setFile(media);
        QTRY_COMPARE_WITH_TIMEOUT(src.status(), WaveformSource::Status::Ready, 60000);
        QCOMPARE(opened, 2);
        QCOMPARE(QDir(dir.filePath("peaks")).entryList({"*.peaks"}).size(), 1);
        // Sample zoom reads the frames themselves.
        QSignalSpy ready(&src, &WaveformSource::windowReady);
        src.requestWindow(1000, 10);
        QTRY_COMPARE(ready.size(), 1);
        QCOMPARE(src.window().first, qint64(1000));
        QCOMPARE(src.window().hi[3], std::max(s[2006], s[2007]));
        // A source that fails says so instead of showing nothing.
        setSourceOpener([](const QString&, QString* error) {
            *error = "bad data";
            return nullptr;
        });
        QFile::remove(peaksPath(media));
        WaveformSource broken;
        broken.setFile(media);
        QTRY_COMPARE(broken.status(), WaveformSource::Status::Failed);
        QCOMPARE(broken.error(), QString("bad data"));
        setSourceOpener({});
        setCacheFolder({});
    }
    void midiPeaksComeFromItsRendering()
    {
        if (!midi::synthesizerAvailable() || midi::findSoundFont().path.isEmpty())
            QSKIP("no synthesizer or sound font here");
        QTemporaryDir dir;
        setCacheFolder(dir.filePath("peaks"));
        midi::setCacheFolder(dir.filePath("midi"));
        WaveformSource src;
        src.setFile(testkit::writeMidi(dir.filePath("song.mid"), 2, {true}));
        QCOMPARE(src.status(), WaveformSource::Status::Preparing);
        QTRY_COMPARE_WITH_TIMEOUT(src.status(), WaveformSource::Status::Ready, 20000);
        QCOMPARE(src.peaks().frames, qint64(2 * midi::kSampleRate));
        float lo = 0, hi = 0;
        QVERIFY(src.peaks().range(0, src.peaks().frames, lo, hi) && hi > 0.01f);  // notes, not silence
        setCacheFolder({});
        midi::setCacheFolder({});
    }
};

QTEST_MAIN(WaveformTest)
#include "test_waveform.moc"
