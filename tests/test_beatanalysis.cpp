// The beats and bars found in synthesized pieces whose beats are known, and a MIDI file's
// own metre.
#include "beats/beatanalysis.h"
#include "beats/beatsource.h"
#include "midi/midifile.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <random>

using namespace beats;

namespace {

struct Truth {
    std::vector<double> beats, downbeats;
};

// A kick on each downbeat, a noise burst on the other beats and a chord that changes with
// each bar, `bars` bars of `meter` at `bpm`, the tempo turning to `bpm2` half-way.
std::vector<float> synthesize(int meter, double bpm, double bpm2, int bars, Truth& truth)
{
    const double rate = kAnalysisRate;
    std::vector<double> onsets;
    double t = 0.5;
    for (int b = 0; b < bars * meter; ++b) {
        onsets.push_back(t);
        (b % meter ? truth.beats : truth.downbeats).push_back(t);
        t += 60.0 / (b < bars * meter / 2 ? bpm : bpm2);
    }
    truth.beats.insert(truth.beats.end(), truth.downbeats.begin(), truth.downbeats.end());
    std::sort(truth.beats.begin(), truth.beats.end());
    std::vector<float> out(size_t((t + 1) * rate));
    std::mt19937 noise(7);
    std::uniform_real_distribution<float> white(-1, 1);
    const double chords[4][3] = {{262, 330, 392}, {220, 262, 330}, {175, 220, 262}, {196, 247, 294}};
    for (size_t k = 0; k < onsets.size(); ++k) {
        const bool down = k % size_t(meter) == 0;
        const double* chord = chords[(k / size_t(meter)) % 4];
        const double end = k + 1 < onsets.size() ? onsets[k + 1] : t;
        for (size_t i = size_t(onsets[k] * rate); i < size_t(end * rate) && i < out.size(); ++i) {
            const double s = i / rate - onsets[k];
            double v = 0;
            for (int n = 0; n < 3; ++n) v += 0.08 * std::sin(2 * M_PI * chord[n] * (i / rate));
            if (down) v += 0.6 * std::exp(-s * 18) * std::sin(2 * M_PI * 55 * s);
            else v += 0.3 * std::exp(-s * 40) * white(noise);
            out[i] = float(v);
        }
    }
    return out;
}

// Share of `want` with a found time within 70 ms, beats in the first 5 s left out.
double recall(const std::vector<double>& want, const std::vector<double>& found)
{
    int hit = 0, all = 0;
    for (double w : want) {
        if (w < 5) continue;
        ++all;
        hit += std::any_of(found.begin(), found.end(), [&](double f) { return std::abs(f - w) <= 0.07; });
    }
    return all ? double(hit) / all : 0;
}

QByteArray vlq(quint32 v)
{
    QByteArray b(1, char(v & 0x7F));
    while (v >>= 7) b.prepend(char(0x80 | (v & 0x7F)));
    return b;
}

// Two bars of 6/8 at 80 beats a minute, then `quarters` of 3/4 at 240.
QByteArray metreFile(int quarters)
{
    QByteArray track;
    auto meta = [&](quint32 delta, char type, const QByteArray& data) {
        track += vlq(delta) + char(0xFF) + type + vlq(quint32(data.size())) + data;
    };
    meta(0, 0x58, QByteArray("\x06\x03\x18\x08", 4));
    meta(0, 0x51, QByteArray("\x07\xA1\x20", 3));  // 500 000 us a quarter
    meta(2 * 3 * 480, 0x58, QByteArray("\x03\x02\x18\x08", 4));
    meta(0, 0x51, QByteArray("\x03\xD0\x90", 3));  // 250 000 us a quarter
    track += vlq(quint32(quarters) * 480) + QByteArray("\x90\x3C\x40", 3) + vlq(0) + QByteArray("\x80\x3C\x00", 3);
    meta(0, 0x2F, {});
    const quint32 n = quint32(track.size());
    return QByteArray("MThd\0\0\0\x06\0\0\0\x01\x01\xE0", 14) + "MTrk" + char(n >> 24) + char(n >> 16) +
           char(n >> 8) + char(n) + track;
}

} // namespace

class TestBeatAnalysis : public QObject {
    Q_OBJECT
private slots:
    void pieces()
    {
        const struct {
            const char* name;
            int meter;
            double bpm, bpm2;
        } cases[] = {
            {"4/4 at 120", 4, 120, 120},
            {"3/4 at 100 turning to 132", 3, 100, 132},
            {"4/4 at 140 turning to 105", 4, 140, 105},
        };
        for (const auto& c : cases) {
            Truth truth;
            const std::vector<float> sound = synthesize(c.meter, c.bpm, c.bpm2, 16, truth);
            Analyser a;
            a.add(sound.data(), qint64(sound.size()));
            const BeatGrid g = a.finish();
            std::vector<double> downbeats;
            for (int i : g.bars) downbeats.push_back(g.beats[size_t(i)]);
            QVERIFY2(g.valid() && g.meter == c.meter, c.name);
            // Every beat found, none between: as many found as there are.
            QVERIFY2(recall(truth.beats, g.beats) >= 0.9 && recall(g.beats, truth.beats) >= 0.9, c.name);
            QVERIFY2(recall(truth.downbeats, downbeats) >= 0.9 && recall(downbeats, truth.downbeats) >= 0.9, c.name);
        }
    }

    // Beats at twice the tempo whose every second one lies between the notes: those go.
    // Notes every 12 steps; weaker notes (offbeats) every 12 steps from 6 where given.
    void beatsBetweenTheNotesGo()
    {
        const struct {
            const char* name;
            double offbeat;  // the detection function between the notes
            double first;    // the first beat found, every 6 steps from it
            double kept;     // the first beat kept (-1: all kept)
        } cases[] = {
            {"every second beat on nothing", 0.05, 0, 0},
            {"the first beat on nothing", 0.05, 6, 12},
            {"offbeats played softer", 0.6, 0, -1},
        };
        for (const auto& c : cases) {
            std::vector<double> df(600, 0.05), found;
            for (size_t i = 0; i < df.size(); i += 12) df[i] = 1.0;
            for (size_t i = 6; i < df.size(); i += 12) df[i] = c.offbeat;
            for (double b = c.first; b < 590; b += 6) found.push_back(b);
            const std::vector<double> kept = beatsOnTheNotes(df, found);
            if (c.kept < 0) QVERIFY2(kept == found, c.name);
            else QVERIFY2(kept.front() == c.kept && kept.size() == size_t(std::count_if(found.begin(), found.end(), [](double f) { return std::fmod(f, 12) == 0; })) &&
                          std::all_of(kept.begin(), kept.end(), [](double k) { return std::fmod(k, 12) == 0; }),
                          c.name);
        }
    }

    // Beats found every 24 steps, notes every 12: the notes between count as beats when
    // they sound about as much, unless that makes the beat too fast.
    void beatsBetweenComeToo()
    {
        const struct {
            const char* name;
            double between;        // the detection function between the beats found
            double secondsPerStep;
            bool doubled;
        } cases[] = {
            {"half tempo, backbeat as loud", 0.95, 0.03, true},
            {"offbeats softer", 0.6, 0.03, false},
            {"doubling would pass 210 a minute", 0.95, 0.02, false},
        };
        for (const auto& c : cases) {
            std::vector<double> df(600, 0.05), found;
            for (size_t i = 0; i < df.size(); i += 24) df[i] = 1.0;
            for (size_t i = 12; i < df.size(); i += 24) df[i] = c.between;
            for (double b = 0; b < 590; b += 24) found.push_back(b);
            const std::vector<double> got = beatsBetweenToo(df, found, c.secondsPerStep);
            std::vector<double> want = found;
            if (c.doubled) {
                want.clear();
                for (double b = 0; b <= found.back(); b += 12) want.push_back(b);
            }
            QVERIFY2(got == want, c.name);
        }
    }

    // The spectral change into 64 beats and into the points between them: a change every
    // fourth point marks bars; the beat goes between only where its bars are far clearer.
    void offbeatsTakenForBeats()
    {
        const struct {
            const char* name;
            double onBar, betweenBar;  // the change every fourth point (1 elsewhere)
            bool moved;
        } cases[] = {
            {"bars on the beats found", 3, 1, false},
            {"bars between them", 1, 3, true},
            {"between a little clearer", 2, 2.5, false},
            {"no bars anywhere", 1, 1, false},
        };
        for (const auto& c : cases) {
            std::vector<double> on(63, 1.0), between(62, 1.0);
            for (size_t i = 3; i < on.size(); i += 4) on[i] = c.onBar;
            for (size_t i = 1; i < between.size(); i += 4) between[i] = c.betweenBar;
            QVERIFY2(Analyser::offTheBeat(on, between, 4) == c.moved, c.name);
        }
    }

    void silence()
    {
        Analyser a;
        const std::vector<float> quiet(size_t(kAnalysisRate) * 10);
        a.add(quiet.data(), qint64(quiet.size()));
        QVERIFY(a.finish().empty());
    }

    // 6/8 beats in dotted quarters; a new signature starts a bar; the tempo map times them.
    void midiMetre()
    {
        const std::optional<midi::Song> song = midi::parse(metreFile(12));
        QVERIFY(song);
        const BeatGrid g = fromSong(*song);
        std::vector<double> beats = {0, 0.75, 1.5, 2.25};
        for (int k = 0; k < 12; ++k) beats.push_back(3.0 + 0.25 * k);
        QCOMPARE(g.beats, beats);
        QCOMPARE(g.bars, (std::vector<int>{0, 2, 4, 7, 10, 13}));
        QCOMPARE(g.meter, 3);
    }

    // A grid is kept, and made again (the old one dropped) when its file changes.
    void cachedUntilChanged()
    {
        QTemporaryDir dir;
        setCacheFolder(dir.filePath(QStringLiteral("cache")));
        const QString path = dir.filePath(QStringLiteral("piece.mid"));
        const size_t beats[] = {16, 40};
        for (int quarters : {12, 36}) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(metreFile(quarters)) > 0);
            f.close();
            BeatSource source;
            source.setFile(path);
            QTRY_COMPARE(source.status(), BeatSource::Status::Ready);
            QCOMPARE(source.grid().beats.size(), beats[quarters > 12]);
            QVERIFY(QFile::exists(gridPath(path)));
            QCOMPARE(QDir(dir.filePath(QStringLiteral("cache"))).entryList({QStringLiteral("*.beats")}).size(), 1);
        }
        setCacheFolder({});
    }

    // A correction shows on every source of the file at once, and outlives a new analysis.
    void correctionsKept()
    {
        QTemporaryDir dir;
        setCacheFolder(dir.filePath(QStringLiteral("cache")));
        const QString path = dir.filePath(QStringLiteral("piece.mid"));
        auto write = [&](int quarters) {
            QFile f(path);
            return f.open(QIODevice::WriteOnly) && f.write(metreFile(quarters)) > 0;
        };
        QVERIFY(write(12));
        BeatSource a, b;
        for (BeatSource* s : {&a, &b}) {
            s->setFile(path);
            QTRY_COMPARE(s->status(), BeatSource::Status::Ready);
        }
        GridFix twos;
        twos.meter = 2;
        a.setFix(twos);
        QCOMPARE(b.fix(), twos);
        QCOMPARE(b.grid().bars[1] - b.grid().bars[0], 2);
        QVERIFY(write(36));
        BeatSource c;
        c.setFile(path);
        QTRY_COMPARE(c.status(), BeatSource::Status::Ready);
        QCOMPARE(c.grid().meter, 2);
        QCOMPARE(c.analysed().beats.size(), size_t(40));
        setCacheFolder({});
    }
};

QTEST_GUILESS_MAIN(TestBeatAnalysis)
#include "test_beatanalysis.moc"
