// The hear filters on plain sound: the band's response, the centre and channel matrix, the
// limiter's ceiling, and changes made while sound runs through.
#include "audio/partfilter.h"
#include "playback/livehear.h"

#include <QtTest>

#include <cmath>
#include <numbers>
#include <vector>

using audio::PartFilter;
using C = HearSettings::Centre;
using Ch = HearSettings::Channels;

namespace {
constexpr int kRate = 48000;

std::vector<float> tone(double hz, double left, double right, int frames, int from = 0)
{
    std::vector<float> v(std::size_t(frames) * 2);
    for (int i = 0; i < frames; ++i) {
        const double s = std::sin(2 * std::numbers::pi * hz * (i + from) / kRate);
        v[2 * i] = float(left * s);
        v[2 * i + 1] = float(right * s);
    }
    return v;
}

double rmsDb(const std::vector<float>& v, int ch, int from)
{
    double sum = 0;
    for (std::size_t i = std::size_t(from) * 2 + ch; i < v.size(); i += 2) sum += double(v[i]) * v[i];
    return 10 * std::log10(sum / (v.size() / 2 - from) + 1e-30);
}

// In place before the sound starts (as when the output opens with them).
PartFilter filterWith(const HearSettings& s)
{
    PartFilter f;
    f.set(s);
    f.setRate(kRate);
    return f;
}
} // namespace

class PartFilterTest : public QObject {
    Q_OBJECT
private slots:
    void bandResponse()
    {
        // Fourth order: -3 dB at the edge, about -12 at half an octave out, -48 at two.
        const struct { double low, high, hz, minDb, maxDb; } rows[] = {
            {40, 300, 110, -0.5, 0.5},    {40, 300, 300, -3.6, -2.4},   {40, 300, 424, -13.5, -11},
            {40, 300, 1200, -99, -45},    {40, 300, 10, -99, -45},      {200, 4000, 1000, -0.5, 0.5},
            {200, 4000, 141, -13.5, -11}, {200, 4000, 16000, -99, -45}, {200, 4000, 50, -99, -45},
            {2000, 0, 8000, -0.5, 0.5},   {2000, 0, 1414, -13.5, -11},  {2000, 0, 500, -99, -45},
        };
        for (const auto& r : rows) {
            PartFilter f = filterWith({.lowCut = r.low, .highCut = r.high});
            std::vector<float> v = tone(r.hz, 0.5, 0.5, kRate);
            f.process(v.data(), kRate);
            const double db = rmsDb(v, 0, kRate / 2) - 20 * std::log10(0.5 / std::sqrt(2.0));
            QVERIFY2(db >= r.minDb && db <= r.maxDb, qPrintable(QString("%1-%2 Hz at %3 Hz: %4 dB")
                                                                    .arg(r.low).arg(r.high).arg(r.hz).arg(db)));
        }
    }

    void centreAndChannels()
    {
        const struct { C centre; Ch channels; double gainDb, l, r, outL, outR; } rows[] = {
            {C::Cancel, Ch::Both, 0, 0.5, 0.5, 0, 0},      {C::Cancel, Ch::Both, 0, 0.5, 0, 0.5, -0.5},
            {C::Normal, Ch::Left, 0, 0.5, 0.3, 0.5, 0.5},  {C::Normal, Ch::Right, 0, 0.5, 0.3, 0.3, 0.3},
            {C::Normal, Ch::Mono, 0, 0.5, 0.3, 0.4, 0.4},  {C::Cancel, Ch::Left, 0, 0.5, 0.3, 0.2, 0.2},
            {C::Normal, Ch::Both, 6.0206, 0.2, -0.1, 0.4, -0.2},
        };
        for (const auto& r : rows) {
            PartFilter f = filterWith({.centre = r.centre, .channels = r.channels, .gainDb = r.gainDb});
            std::vector<float> v(2000);
            for (std::size_t i = 0; i < v.size(); i += 2) v[i] = float(r.l), v[i + 1] = float(r.r);
            f.process(v.data(), 1000);
            QCOMPARE_LE(std::abs(v[1998] - r.outL), 1e-4);
            QCOMPARE_LE(std::abs(v[1999] - r.outR), 1e-4);
        }
    }

    void keepFindsTheCentrePerFrequency()
    {
        // Tones of known pan (a second tone optional), the left level out against the first
        // tone's in: what is in the middle stays, what is to one side goes, even beside it.
        struct Tone {
            double hz, left, right;
        };
        const struct { Tone a, b; double minDb, maxDb; } rows[] = {
            {{440, 0.4, 0.4}, {}, -1, 1},           {{440, 0.4, 0}, {}, -300, -30},
            {{440, 0.4, -0.4}, {}, -300, -30},      {{3000, 0.4, 0.1}, {}, -25, -12},
            {{440, 0.3, 0.3}, {1000, 0.3, 0}, -1, 1}, {{220, 0.3, 0.3}, {5000, 0, 0.5}, -1, 1},
        };
        for (const auto& r : rows) {
            PartFilter f = filterWith({.centre = C::Keep});
            std::vector<float> in = tone(r.a.hz, r.a.left, r.a.right, kRate);
            const std::vector<float> a = in;
            if (r.b.hz > 0) {
                const std::vector<float> b = tone(r.b.hz, r.b.left, r.b.right, kRate);
                for (std::size_t i = 0; i < in.size(); ++i) in[i] += b[i];
            }
            std::vector<float> out = in;
            for (int at = 0; at < kRate; at += 480) f.process(out.data() + 2 * at, 480);
            const double db = rmsDb(out, 0, kRate / 2) - rmsDb(a, 0, kRate / 2);
            const QString row = QString("%1 Hz %2/%3: %4 dB").arg(r.a.hz).arg(r.a.left).arg(r.a.right).arg(db);
            QVERIFY2(db >= r.minDb && db <= r.maxDb, qPrintable(row));
            // The centre comes out as it went in, exactly the latency later.
            if (r.a.left != r.a.right) continue;
            double apart = 0;
            for (int i = kRate / 2; i < kRate; ++i)
                apart = std::max(apart, double(std::abs(out[2 * i] - a[2 * (i - f.latency())])));
            QVERIFY2(apart <= 0.03, qPrintable(row + QString(" apart %1 late %2").arg(apart).arg(f.latency())));
        }
    }

    void forgottenFramesAreNeverHeard()
    {
        // Frames an output dropped, then others in their place: out comes what would have
        // come had the dropped ones never gone in, whether keep ran then or starts after.
        for (const bool keepFirst : {true, false}) {
            const HearSettings first = keepFirst ? HearSettings{.centre = C::Keep} : HearSettings{};
            PartFilter once = filterWith(first), twice = filterWith(first);
            std::vector<float> a = tone(440, 0.4, 0.4, 9600), b = tone(660, 0.3, 0.3, 9600);
            std::vector<float> dropped = tone(1000, 0.4, 0.1, 4800);
            std::vector<float> a2 = a, b2 = b;
            once.process(a.data(), 9600);
            twice.process(a2.data(), 9600);
            twice.process(dropped.data(), 4800);
            twice.forget(4800);
            for (PartFilter* f : {&once, &twice}) f->set({.centre = C::Keep});
            once.process(b.data(), 9600);
            twice.process(b2.data(), 9600);
            double apart = 0;
            for (std::size_t i = 2 * 960; i < b.size(); ++i) apart = std::max(apart, double(std::abs(b[i] - b2[i])));
            QCOMPARE_LE(apart, 1e-4);
        }
    }

    void limiterHoldsTheCeiling()
    {
        PartFilter f = filterWith({.lowCut = 40, .gainDb = 24});
        std::vector<float> v = tone(220, 0.9, -0.6, kRate);
        for (std::size_t i = 0; i < v.size(); i += 7) v[i] = (i % 3) ? 1.0f : -1.0f;  // spikes
        f.process(v.data(), kRate);
        for (float s : v) QVERIFY(std::abs(s) <= audio::PeakLimiter::kCeiling + 1e-6);
    }

    void changesWhilePlaying()
    {
        // Turned on and off in the middle of a tone: no step larger than the tone's own, and
        // off again leaves the sound bit for bit as it came.
        const HearSettings cases[] = {{.centre = C::Cancel}, {.lowCut = 200, .highCut = 4000, .gainDb = 6},
                                      {.channels = Ch::Right}};
        for (const HearSettings& on : cases) {
            PartFilter f;
            f.setRate(kRate);
            const int block = 256;
            const std::vector<float> in = tone(300, 0.5, 0.2, block * 120);
            std::vector<float> out = in;
            for (int b = 0; b < 120; ++b) {
                if (b == 10) f.set(on);
                if (b == 25) f.set({});
                f.process(out.data() + b * block * 2, block);
            }
            double ownStep = 0, step = 0;
            for (std::size_t i = 2; i < in.size(); ++i) {
                ownStep = std::max(ownStep, double(std::abs(in[i] - in[i - 2])));
                step = std::max(step, double(std::abs(out[i] - out[i - 2])));
            }
            QVERIFY2(step <= ownStep * std::pow(10, on.gainDb / 20) * 1.05, qPrintable(QString::number(step)));
            QCOMPARE_NE(out[2 * 20 * block], in[2 * 20 * block]);  // heard within the block after
            QVERIFY(std::equal(out.begin() + 2 * 110 * block, out.end(), in.begin() + 2 * 110 * block));
        }
    }

    void keepsDelayGlides()
    {
        // A centre tone (which keep leaves whole) with keep turned on and off: what comes out
        // is the tone as late as latency() says at every frame (no jump back or forward), no
        // step beyond the tone's own, and the delay keep's while on, none once off.
        const int frames = 4 * kRate, silence = kRate / 10;
        const struct { bool keepFirst; int on, off, lateAtEnd; } rows[] = {
            {false, silence, -1, 2047},     // from silence: at once
            {false, kRate / 2, -1, 2047},   // while playing: glides
            {true, -1, kRate / 2, 0},       // off while playing
            {false, kRate / 2, kRate, 0},   // off again half way
        };
        for (const auto& r : rows) {
            PartFilter f = filterWith(r.keepFirst ? HearSettings{.centre = C::Keep} : HearSettings{});
            std::vector<float> in = tone(300, 0.4, 0.4, frames);
            std::fill(in.begin(), in.begin() + 2 * silence, 0.0f);
            std::vector<float> out = in;
            double apart = 0, step = 0;
            for (int i = 0; i < frames; ++i) {
                if (i == r.on) f.set({.centre = C::Keep});
                if (i == r.off) f.set({});
                f.process(out.data() + 2 * i, 1);
                if (i == r.on + 1 && r.on == silence) QCOMPARE(f.latency(), 2047);
                if (i < silence + 4096) continue;
                apart = std::max(apart, double(std::abs(out[2 * i] - in[2 * (i - f.latency())])));
                step = std::max(step, double(std::abs(out[2 * i] - out[2 * i - 2])));
            }
            const QString row = QString("on %1 off %2: %3 apart, step %4").arg(r.on).arg(r.off).arg(apart).arg(step);
            QVERIFY2(apart < 0.05 && step < 0.4 * 2 * std::numbers::pi * 300 / kRate * 1.05, qPrintable(row));
            QCOMPARE(f.latency(), r.lateAtEnd);
            QCOMPARE(f.bypassed(), r.lateAtEnd == 0);
        }
    }

    void rerunIsTheChangeMadeThere()
    {
        // What an output writes over its queue for a change: the frames it holds run again
        // from their input under the new settings (the state warmed on 50 ms before) must be
        // what the filters would have made had the change come as those frames were pulled,
        // and go on as they would have.
        const int held = kRate / 5, warm = kRate / 20, before = kRate, after = kRate / 10;
        const struct { HearSettings from, to; double most; } rows[] = {
            {{}, {.channels = Ch::Right}, 1e-6},
            {{.channels = Ch::Right}, {}, 1e-6},
            {{.lowCut = 80, .highCut = 2000}, {.gainDb = 12}, 1e-4},  // the limiter takes over
            {{.centre = C::Cancel}, {.lowCut = 500, .highCut = 4000}, 1e-3},
            {{.lowCut = 40, .gainDb = -6}, {.lowCut = 40, .channels = Ch::Mono}, 2e-3},
        };
        for (const auto& r : rows) {
            std::vector<float> in = tone(110, 0.5, 0.1, before + after), hi = tone(3000, 0.05, 0.3, before + after);
            for (std::size_t i = 0; i < in.size(); ++i) in[i] += hi[i];
            PartFilter live = filterWith(r.from), asIf = filterWith(r.from);
            std::vector<float> got = in, want = in;
            for (int at = 0; at < before; at += kRate / 25) live.process(got.data() + 2 * at, kRate / 25);
            QVERIFY(live.canRerun(r.to));
            std::copy(in.begin() + 2 * (before - held), in.begin() + 2 * before, got.begin() + 2 * (before - held));
            live.rerun(in.data() + 2 * (before - held - warm), warm, got.data() + 2 * (before - held), held, r.to);
            live.process(got.data() + 2 * before, after);
            asIf.process(want.data(), before - held);
            asIf.set(r.to);
            asIf.process(want.data() + 2 * (before - held), held + after);
            double apart = 0;
            for (int i = 2 * (before - held); i < int(got.size()); ++i) apart = std::max(apart, double(std::abs(got[i] - want[i])));
            QVERIFY2(apart < r.most, qPrintable(QString("%1 apart").arg(apart)));
        }
        // Not while a change fades, nor where the centre is kept (its delay would move).
        PartFilter fading = filterWith({});
        fading.set({.gainDb = 6});
        QVERIFY(!fading.canRerun({}));
        QVERIFY(!filterWith({}).canRerun({.centre = C::Keep}));
        QVERIFY(!filterWith({.centre = C::Keep}).canRerun({}));
    }

    void menuSteps()
    {
        using S = playback::HearStep;
        const struct { HearSettings from; S step; HearSettings to; } rows[] = {
            {{.centre = C::Cancel}, S::Mono, {.channels = Ch::Mono}},  // together they are silence
            {{.channels = Ch::Mono}, S::Cancel, {.centre = C::Cancel}},
            {{.gainDb = 22.5}, S::GainUp, {.gainDb = 24}},
            {{.gainDb = -23}, S::GainDown, {.gainDb = -24}},
            {{.lowCut = 40, .highCut = 300, .centre = C::Keep}, S::Treble, {.lowCut = 2000, .centre = C::Keep}},
        };
        for (const auto& r : rows) QCOMPARE(playback::steppedHear(r.from, r.step), r.to);
    }

    void mailboxHandsOverOnce()
    {
        audio::HearMailbox box;
        std::uint64_t seen = 0;
        HearSettings got;
        QVERIFY(!box.take(seen, got));
        box.post({.highCut = 300, .channels = Ch::Mono});
        QVERIFY(box.take(seen, got));
        QCOMPARE(got, (HearSettings{.highCut = 300, .channels = Ch::Mono}));
        QVERIFY(!box.take(seen, got));
    }
};

QTEST_GUILESS_MAIN(PartFilterTest)
#include "test_partfilter.moc"
