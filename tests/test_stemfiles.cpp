// Stems found by their names (beside the song, or a separation tool's folder), and mixed
// in step with a level each.
#include "audio/stemmix.h"
#include "storage/stemfiles.h"

#include <QtTest>

using namespace storage;

namespace {
// Frame i holds i + 1 on both sides, for `length` frames; -1 frames: it cannot be read.
struct Ramp : audio::FrameSource {
    qint64 length;
    explicit Ramp(qint64 n) : length(n) {}
    qint64 frames() const override { return length; }
    qint64 readAt(qint64 pos, float* out, qint64 n) override
    {
        if (length < 0) return -1;
        const qint64 got = std::max<qint64>(0, std::min(n, length - pos));
        for (qint64 i = 0; i < got; ++i) out[2 * i] = out[2 * i + 1] = float(pos + i + 1);
        return got;
    }
};
} // namespace

class StemFilesTest : public QObject {
    Q_OBJECT
private slots:
    void words()
    {
        const struct { const char *name, *word, *song; } rows[] = {
            {"song.bass.wav", "bass", "song"}, {"My Song_Vocals.FLAC", "vocals", "My Song"},
            {"vocals.wav", "vocals", ""}, {"a-b.accompaniment.mp3", "accompaniment", "a-b"},
            {"song.wav", "", ""}, {"bassoon.wav", "", ""}, {"songbass.wav", "", ""}, {"song.bass.txt", "", ""},
            {"bass", "", ""}, {".bass.wav", "", ""}};
        for (const auto& r : rows) {
            QCOMPARE(stemWordOf(r.name), QString(r.word));
            QCOMPARE(stemSongOf(r.name), QString(r.song));
        }
    }
    void sets()
    {
        const QStringList folder{"song.wav",       "song.vocals.wav", "song.bass.wav", "song2.drums.wav",
                                 "song.drums.flac", "song.bass.flac", "notes.txt",     "other.wav"};
        const struct { const char* file; QStringList names; QStringList found; } rows[] = {
            // The song, or any of its stems: its stems in the usual order, one a word.
            {"song.wav", folder, {"song.vocals.wav", "song.drums.flac", "song.bass.wav"}},
            {"song.bass.wav", folder, {"song.vocals.wav", "song.drums.flac", "song.bass.wav"}},
            {"song2.wav", folder, {}},  // one stem is no set
            {"notes.txt", folder, {}},
            {"vocals.wav", {"drums.wav", "vocals.wav", "x.wav"}, {"vocals.wav", "drums.wav"}},
        };
        for (const auto& r : rows) QCOMPARE(stemsBeside(r.file, r.names), r.found);
        QCOMPARE(stemsOfFolder({"other.wav", "bass.wav", "readme.md", "vocals.wav", "drums.wav"}),
                 QStringList({"vocals.wav", "drums.wav", "bass.wav", "other.wav"}));
        QCOMPARE(stemsOfFolder({"guitar.wav", "readme.md"}), QStringList());
    }
    void mixInStep()
    {
        std::vector<std::unique_ptr<audio::FrameSource>> stems;
        for (qint64 n : {100, 50, -1}) stems.push_back(std::make_unique<Ramp>(n));
        audio::StemMix mix(std::move(stems), 100);
        mix.setGains({1, 2, 5});
        mix.rampTo({0, 2, 5}, 20, 10);  // the first stem fades out over frames 20-29
        std::vector<float> out(2 * 100);
        // Read in two pieces, the ramp's frames first: each frame mixes its own frames.
        QCOMPARE(mix.readAt(10, out.data(), 30), 30);
        QCOMPARE(mix.readAt(40, out.data() + 60, 60), 60);
        const struct { qint64 pos; float value; } rows[] = {
            {10, 11 + 22}, {19, 20 + 40}, {20, 21 + 42}, {25, 26 * 0.5f + 52}, {30, 62}, {49, 100}, {50, 0}, {99, 0}};
        for (const auto& r : rows) {
            const qint64 at = r.pos < 40 ? r.pos - 10 : r.pos - 40 + 30;
            QCOMPARE(out[std::size_t(2 * at)], r.value);
            QCOMPARE(out[std::size_t(2 * at + 1)], r.value);
        }
        // Read past its end, the ramp is done: a wrap back before it keeps the new gains.
        QCOMPARE(mix.readAt(0, out.data(), 5), 5);
        QCOMPARE(out[0], 2.0f);
        QCOMPARE(mix.readAt(100, out.data(), 5), 0);
    }
};

QTEST_GUILESS_MAIN(StemFilesTest)
#include "test_stemfiles.moc"
