// The hear settings on the video engine: the stereo options that stand for each centre and
// channel setting, and the commands that change a running chain rather than restart it.
#include "engine/mpv/mpvhear.h"

#include <QtTest>

using C = HearSettings::Centre;
using Ch = HearSettings::Channels;
using engine::MpvHearCommand;

namespace {
// FFmpeg's stereotools on one frame, as it answers for the modes used (each mode's output
// measured on the frame 0.5 | 0.3): the phases turned, the mutes, then the level out.
std::pair<double, double> stereoTools(const engine::StereoTools& t, double l, double r)
{
    double a = l, b = r;
    switch (t.mode) {
    case 3: b = l; break;
    case 4: a = r; break;
    case 5: a = b = (l + r) / 2; break;
    case 10: a = b = (l - r) / 2; break;
    default: break;
    }
    if (t.phaseL) a = -a;
    if (t.phaseR) b = -b;
    if (t.muteL) a = 0;
    if (t.muteR) b = 0;
    return {a * t.levelOut, b * t.levelOut};
}
} // namespace

class MpvHearTest : public QObject {
    Q_OBJECT
private slots:
    void stereoOptionsMixAsOurOwnMatrix()
    {
        for (const C centre : {C::Normal, C::Cancel})
            for (const Ch channels : {Ch::Both, Ch::Left, Ch::Right, Ch::Mono}) {
                const HearSettings h{.centre = centre, .channels = channels};
                const auto m = h.matrix();
                const auto [l, r] = stereoTools(engine::stereoToolsFor(h), 0.5, 0.3);
                const QString row = QStringLiteral("centre %1 channels %2").arg(int(centre)).arg(int(channels));
                QVERIFY2(std::abs(l - (m[0] * 0.5 + m[1] * 0.3)) < 1e-9, qPrintable(row));
                QVERIFY2(std::abs(r - (m[2] * 0.5 + m[3] * 0.3)) < 1e-9, qPrintable(row));
            }
    }

    void changesAreCommandsWhereTheChainAllows()
    {
        using L = QList<MpvHearCommand>;
        const QByteArray limit = QByteArray::number(0.944, 'f', 6);
        const struct { HearSettings from, to; std::optional<L> commands; } rows[] = {
            {{}, {.lowCut = 200}, L{{"hearlow", "f", "200.000000"}, {"hearlow", "mix", "1"}, {"hearlimit", "limit", limit}}},
            {{.lowCut = 200, .highCut = 4000}, {.lowCut = 300, .highCut = 4000}, L{{"hearlow", "f", "300.000000"}}},
            {{.highCut = 300}, {}, L{{"hearhigh", "mix", "0"}, {"hearlimit", "limit", "1.000000"}}},
            {{.centre = C::Cancel, .gainDb = 3}, {.gainDb = 3},
             L{{"hearmix", "mode", "0"}, {"hearmix", "phaser", "0"}, {"hearmix", "level_out", "1.000000"}}},
            {{.channels = Ch::Left}, {.centre = C::Cancel, .channels = Ch::Mono},
             L{{"hearmix", "mutel", "1"}, {"hearmix", "muter", "1"}, {"hearmix", "mode", "0"}}},
            {{.gainDb = -6}, {.gainDb = 6}, L{{"heargain", "volume", "6.000000dB"}}},
            {{.centre = C::Keep}, {.centre = C::Keep, .channels = Ch::Mono}, L{}},
            {{}, {.centre = C::Keep}, std::nullopt},
            {{.lowCut = 40, .centre = C::Keep}, {.lowCut = 40}, std::nullopt},
        };
        for (const auto& r : rows) QCOMPARE(engine::mpvHearCommands(r.from, r.to), r.commands);
    }

    void aChangeIsOneLine()
    {
        // Every command of a change in one line mpv runs in one go, each argument quoted.
        const struct { QList<MpvHearCommand> commands; QByteArray line; } rows[] = {
            {{}, ""},
            {{{"heargain", "volume", "6.000000dB"}}, R"(af-command heargain volume "6.000000dB")"},
            {{{"hearmix", "mode", "10"}, {"hearmix", "phaser", "1"}, {"hearmix", "level_out", "2.000000"}},
             R"(af-command hearmix mode "10"; af-command hearmix phaser "1"; af-command hearmix level_out "2.000000")"},
        };
        for (const auto& r : rows) QCOMPARE(engine::mpvHearCommandLine(r.commands), r.line);
    }
};

QTEST_GUILESS_MAIN(MpvHearTest)
#include "test_mpvhear.moc"
