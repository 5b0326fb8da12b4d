// Seeded random lists played through the whole playback stack on a hand-pulled output and
// held against the model of what they must sound like: 1-6 entries of stretches and whole
// files, rates 0.5-2, practice settings on some, a rate key pressed on some. More seeds:
// VAMPLET_LISTMODEL_SEEDS=1-200 test_listmodel
#include "audio/audiodecoder.h"
#include "playback/entryplayer.h"
#include "offline/listcheck.h"
#include "support/fakeengine.h"
#include "support/testkit.h"

#include <QtTest>

#include <map>
#include <random>

using namespace engine;
using namespace offline;
using namespace playback;

class ListModelTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QStringList m_paths;
    std::vector<offline::model::Source> m_sources;
    // The same decoded at 44.1 and 48 kHz: list play hands every entry over at the rate the
    // output opened at, its first entry's, resampled before it is stretched.
    std::map<int, std::vector<offline::model::Source>> m_at;

    static offline::model::Source decoded(const QString& path, int sampleRate = 0)
    {
        audio::Decoder d;
        if (!d.open(path, nullptr, sampleRate)) return {};
        offline::model::Source s{d.format().sampleRate, {}};
        std::vector<float> buf(4096 * std::size_t(d.format().channels));
        for (qint64 got; (got = d.read(buf.data(), 4096)) > 0;)
            for (qint64 k = 0; k < got; ++k) {
                s.frames.push_back(buf[std::size_t(k * d.format().channels)]);
                s.frames.push_back(buf[std::size_t(k * d.format().channels + d.format().channels - 1)]);
            }
        return s;
    }

private slots:
    // Sound that changes all the time, as music does: a gliding tone under a slow swell,
    // in every format and sample rate a list mixes; mono and stereo.
    void initTestCase()
    {
        const char* formats[] = {"wav", "flac", "mp3", "flac", "wav", "mp3"};
        for (int i = 0; i < 6; ++i) {
            const QString rate = i % 2 ? "48000" : "44100", f0 = QString::number(330 + 50 * i);
            const QString tone = "0.25*(0.7+0.3*sin(2*PI*0.5*t))*sin(2*PI*(" + f0 + "*t+40*t*t)";
            const QString path = m_dir.filePath(QString("m%1.%2").arg(i).arg(formats[i]));
            QVERIFY(testkit::ffmpeg({"-f", "lavfi", "-i",
                                     "aevalsrc=exprs='" + tone + ")" + (i < 3 ? "" : "|" + tone + "+1)") + "':s=" + rate +
                                         ":d=" + QString::number(2.5 + 0.2 * i),
                                     path}));
            m_paths << path;
            m_sources.push_back(decoded(path));
            QVERIFY(m_sources.back().length() > 0);
            for (int sr : {44100, 48000}) m_at[sr].push_back(decoded(path, sr));
        }
    }

    void listSoundsAsModelled_data()
    {
        QTest::addColumn<int>("seed");
        const QStringList range = qEnvironmentVariable("VAMPLET_LISTMODEL_SEEDS", "1-6").split('-');
        for (int s = range.value(0).toInt(); s <= range.value(range.size() - 1).toInt(); ++s)
            QTest::newRow(qPrintable(QString("seed %1").arg(s))) << s;
    }

    void listSoundsAsModelled()
    {
        QFETCH(int, seed);
        testkit::MessageRecorder boxes;
        std::mt19937 rng{unsigned(seed)};
        const auto pick = [&](int n) { return int(rng() % unsigned(n)); };
        OfflineStack stack(new FakeEngine);
        std::vector<offline::model::Entry> entries;
        std::vector<double> starts;
        for (int i = 0, n = 1 + pick(6); i < n; ++i) {
            offline::model::Entry e;
            e.source = pick(int(m_sources.size()));
            const double seconds = double(m_sources[e.source].length()) / m_sources[e.source].sampleRate;
            if (pick(5) > 0) {
                e.start = pick(int((seconds - 1.0) * 100)) / 100.0;
                e.stop = e.start + 0.2 + pick(70) / 100.0;
                e.loops = 1 + pick(3);
            }
            e.rate = pick(3) == 0 ? 1.0 : (10 + pick(31)) / 20.0;
            PracticeSettings& p = e.practice;
            switch (pick(8)) {
            case 0: p.pause = 0.1 * (1 + pick(3)); break;
            case 1:
                p.countInClicks = 2, p.countInBpm = 240;
                p.countInWhen = pick(2) ? PracticeSettings::CountInWhen::EveryPass : PracticeSettings::CountInWhen::First;
                break;
            case 2: p.trainerStartRate = e.rate >= 0.7 ? e.rate - 0.2 : e.rate + 0.2, p.trainerStep = 0.1; break;
            case 3: p.transposeSemitones = pick(2) ? -2 : 3; break;
            case 4:
                p.pauseFactor = pick(2) ? 0.5 : 1.5;
                if (pick(2)) p.trainerStartRate = e.rate >= 0.7 ? e.rate - 0.2 : e.rate + 0.2, p.trainerStep = 0.1;
                break;
            default: break;
            }
            const auto text = [](double x) { return QString::number(x, 'g', 10); };
            stack.list.rows.push_back({{m_paths[e.source], text(e.start), text(e.stop), text(e.rate), text(e.loops)}, p});
            entries.push_back(e);
            starts.push_back(e.start);
        }
        // On some lists a rate key is pressed during an entry's first pass.
        const int live = entries.size() > 1 && pick(3) == 0 ? 1 + pick(int(entries.size()) - 1) : -1;
        offline::model::Entry* pressed = live > 0 && entries[live].loops > 1 && !entries[live].practice.hasTrainer() ? &entries[live] : nullptr;
        if (pressed) pressed->liveRate = std::round((pressed->rate + (pressed->rate < 2 ? 0.05 : -0.05)) * 100) / 100;
        const std::vector<offline::model::Source>& sources = m_at.at(m_sources[entries[0].source].sampleRate);
        std::vector<offline::model::Pass> model = offline::model::listPasses(sources, entries);
        double seconds = 1.0;
        for (const offline::model::Pass& p : model) seconds += double(p.preroll + p.frames()) / p.sampleRate;

        stack.playList();
        for (int i = 0; i < int(seconds * 100); ++i) {
            QVERIFY2(stack.step(), "the engine's worker never got idle");
            const OfflineStack::Seen& s = stack.seen.back();
            if (pressed && s.selections == live + 1 && s.position > pressed->start + 0.02) {
                stack.playback().changeRate(pressed->liveRate);
                pressed = nullptr;
            }
        }

        // The pressed key's rate began anew where the engine landed it: the model goes on from there.
        if (live > 0 && !pressed && entries[live].liveRate > 0) {
            const auto landed = std::find_if(stack.runs.begin(), stack.runs.end(), [&](const SampleEngine::Heard& r) {
                return !r.silence && r.frames > 0 && r.entry == quint64(live) && std::abs(r.step - entries[live].liveRate) < 1e-9;
            });
            QVERIFY(landed != stack.runs.end());
            entries[live].liveFrom = qint64(std::llround(landed->sourcePos));
            model = offline::model::listPasses(sources, entries);
        }
        const offline::model::Check c = offline::model::check(stack, model, starts);
        QStringList faults;
        if (c.matching < int(model.size())) {
            const auto at = [](const auto& v, int k) { return k < int(v.size()) ? QString("%1.%2").arg(v[k].entry + 1).arg(v[k].pass + 1) : QString("none"); };
            faults << QString("heard %1 of %2 passes in order; then %3 where %4 is due")
                          .arg(c.matching).arg(model.size()).arg(at(c.heard, c.matching), at(model, c.matching));
        }
        for (const offline::model::Change& ch : c.changes) {
            if (ch.silence > 0) faults << QString("into pass %1: %2 frames silent").arg(ch.into + 1).arg(ch.silence);
            if (ch.lengthError != 0) faults << QString("into pass %1: %2 frames off").arg(ch.into + 1).arg(ch.lengthError);
        }
        if (c.clicksOff > 0) faults << QString("%1 of %2 clicks not where due").arg(c.clicksOff).arg(c.clicks);
        if (c.windowsOff > 0)
            faults << QString("%1 of %2 windows off by over 1 dB, worst %3 dB in pass %4")
                          .arg(c.windowsOff).arg(c.windows).arg(c.worstDb, 0, 'f', 1).arg(c.worstPass + 1);
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join("; ")));
    }

    // One pass more pressed late in a line's last pass, the next line rendered ahead
    // already: the line still plays once more, then the next follows, as if it had one pass
    // more from the start. `before`: seconds of the stretch left at the press.
    void repeatLateInTheLastPass()
    {
        const struct { const char* name; int next; double rate, before; } rows[] = {
            {"same file", 0, 1, 0.3}, {"at the very end", 0, 1, 0.015}, {"other file and rate", 1, 1, 0.3}, {"stretched", 0, 0.8, 0.2}};
        for (const auto& r : rows) {
            OfflineStack stack(new FakeEngine);
            std::vector<offline::model::Entry> entries{{0, 0.5, 1.1, r.rate, 2, {}, 0}, {r.next, 1.3, 1.7, 1, 1, {}, 0}};
            for (const offline::model::Entry& e : entries)
                stack.list.rows.push_back({{m_paths[e.source], QString::number(e.start), QString::number(e.stop), QString::number(e.rate), "2"}, {}});
            stack.list.rows[1].texts[4] = "1";
            entries[0].loops = 3;
            const std::vector<offline::model::Pass> model = offline::model::listPasses(m_sources, entries);
            stack.playList();
            bool pressed = false;
            for (int i = 0; i < 400; ++i) {
                QVERIFY(stack.step());
                if (!pressed && stack.playback().mode() == EntryPlayer::Mode::CountedHandedOver &&
                    stack.seen.back().position > entries[0].stop - r.before)
                    pressed = (stack.playback().repeatOnce(), true);
            }
            const offline::model::Check c = offline::model::check(stack, model, {entries[0].start, entries[1].start});
            QVERIFY2(pressed && c.matching == int(model.size()), r.name);
            for (const offline::model::Change& ch : c.changes) QVERIFY2(ch.silence <= 0 && ch.lengthError == 0, r.name);
            QVERIFY2(r.rate != 1 || c.windowsOff == 0, r.name);  // the model holds the level of sound not stretched
        }
    }

    // A stopped entry played again sounds as it did the first time, its seams included
    // (what was rendered while it stood is kept, its range taken in place).
    void stoppedEntryPlaysAgainTheSame_data()
    {
        QTest::addColumn<QString>("rate");
        QTest::addColumn<QString>("stop");
        QTest::newRow("as it is") << "1" << "0.9";
        QTest::newRow("stretched, stop within what is rendered ahead") << "0.75" << "0.9";
        QTest::newRow("stretched, stop beyond it") << "0.75" << "1.4";
    }
    void stoppedEntryPlaysAgainTheSame()
    {
        QFETCH(QString, rate);
        QFETCH(QString, stop);
        OfflineStack stack(new FakeEngine);
        std::vector<qint64> starts;
        for (int play = 0; play < 2; ++play) {
            stack.playback().PlayPosition(m_paths[0], "0.5", stop, rate, "1", true);
            const qint64 from = stack.frames();
            while (stack.frames() < from + 88200) QVERIFY(stack.step());
            starts.push_back(from);
            stack.playback().stopPlayback();
            for (int i = 0; i < 5; ++i) QVERIFY(stack.step());
        }
        const auto sound = [&](qint64 from) {
            while (stack.recording[std::size_t(from) * 2] == 0.0f) ++from;
            return from;
        };
        const qint64 a = sound(starts[0]), b = sound(starts[1]);
        QVERIFY(b - starts[1] <= a - starts[0]);  // no later than the first time
        for (qint64 i = 0; i < 66150 * 2; ++i)
            QVERIFY2(std::abs(stack.recording[std::size_t(a * 2 + i)] - stack.recording[std::size_t(b * 2 + i)]) < 1e-4f,
                     qPrintable(QString("frame %1").arg(i / 2)));
    }
};

QTEST_MAIN(ListModelTest)
#include "test_listmodel.moc"
