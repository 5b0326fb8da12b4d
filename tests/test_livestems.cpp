// What the editor's stems list keeps: the files chosen, named as the entry keeps them, and
// the set they join.
#include "playback/livestems.h"

#include <QtTest>

class LiveStemsTest : public QObject {
    Q_OBJECT
private slots:
    void pathsAsKept()
    {
        const struct { const char* entry; const char* chosen; const char* kept; } rows[] = {
            {"/m/song.wav", "/m/song.bass.wav", "song.bass.wav"},
            {"/m/song.wav", "/m/song/vocals.wav", "song/vocals.wav"},
            {"/m/song.wav", "/m/./song/../song.drums.wav", "song.drums.wav"},
            {"/m/a/song.wav", "/m/b/bass.wav", "/m/b/bass.wav"},
            {"/m/a/song.wav", "/m/a..b/bass.wav", "/m/a..b/bass.wav"},
            {"/m/a/song.wav", "/m/a/..b/bass.wav", "..b/bass.wav"},
        };
        for (const auto& r : rows)
            QCOMPARE(playback::stemPathFor(QString::fromLatin1(r.entry), QString::fromLatin1(r.chosen)),
                     QString::fromLatin1(r.kept));
    }

    void addedOnceAndWithinTheMix()
    {
        StemSet set{{Stem{"a.wav", -6, true}}};
        set = playback::withStemsAdded(set, {"a.wav", "b.wav", "b.wav"});
        QCOMPARE(set.stems.size(), 2);
        QCOMPARE(set.stems[0], (Stem{"a.wav", -6, true}));  // kept as it was
        QStringList many;
        for (int i = 0; i < 20; ++i) many << QStringLiteral("%1.wav").arg(i);
        QCOMPARE(playback::withStemsAdded(set, many).stems.size(), stems::kMaxStems);
    }
};

QTEST_GUILESS_MAIN(LiveStemsTest)
#include "test_livestems.moc"
