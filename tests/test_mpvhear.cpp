// The hear settings on the video engine: the stereo options that stand for each centre and
// channel setting, and the commands that change a running chain rather than restart it.
#include "engine/mpv/mpvhear.h"

#include <QMap>
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

// Each graph of a list by its label (a graph's text is quoted by its length).
QMap<QByteArray, QByteArray> graphs(const QByteArray& list)
{
    QMap<QByteArray, QByteArray> out;
    for (qsizetype at = 0; at < list.size();) {
        const qsizetype colon = list.indexOf(':', at), pct = list.indexOf('%', colon) + 1;
        const qsizetype end = list.indexOf('%', pct) + 1 + list.mid(pct, list.indexOf('%', pct) - pct).toInt();
        out.insert(list.mid(at + 1, colon - at - 1), list.mid(colon, end - colon));
        at = end + 1;
    }
    return out;
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

    void aChangeSetsTheSilentBranchAndFadesToIt()
    {
        using L = QList<MpvHearCommand>;
        using B = engine::MpvHearChain::Branch;
        const QByteArray limit = QByteArray::number(0.944, 'f', 6);
        // A band's change waits for the new branch to ring out; the others need not.
        const MpvHearCommand toB{"hearfade", "volume", engine::mpvHearFade(0, 1, engine::kHearBandSettleSeconds)};
        const MpvHearCommand toA{"hearfade", "volume", engine::mpvHearFade(1, 0, engine::kHearBandSettleSeconds)};
        const MpvHearCommand nowToB{"hearfade", "volume", engine::mpvHearFade(0, 1, engine::kHearSwitchSettleSeconds)};
        const HearSettings low{.lowCut = 200}, lower{.lowCut = 300}, cancel{.centre = C::Cancel, .gainDb = 3};
        const struct { engine::MpvHearChain from; HearSettings to; L commands; } rows[] = {
            {engine::mpvHearChain({}), low, L{{"hearlowb", "f", "200.000000"}, {"hearlowb", "mix", "1"}, toB}},
            // The second change goes back to A, from what A last held, its limit with it.
            {{.a = {}, .b = low, .heard = B::B}, lower,
             L{{"hearlowa", "f", "300.000000"}, {"hearlowa", "mix", "1"}, {"hearhigha", "limit", limit}, toA}},
            {{.a = cancel, .b = low, .heard = B::A}, {.gainDb = 3},
             L{{"hearlowb", "mix", "0"}, {"hearmixb", "volume", "3.000000dB"}, toB}},
            {{.a = {.channels = Ch::Left}, .b = {}, .heard = B::B}, {.centre = C::Cancel, .channels = Ch::Mono},
             L{{"hearmixa", "mutel", "1"}, {"hearmixa", "muter", "1"}, {"hearmixa", "mode", "0"},
               {"hearfade", "volume", engine::mpvHearFade(1, 0, engine::kHearSwitchSettleSeconds)}}},
            // B's limiter stays at the ceiling, so the first setting fades at once; A's is set
            // and waits as a band does.
            {engine::mpvHearChain({}), {.centre = C::Cancel},
             L{{"hearmixb", "mode", "10"}, {"hearmixb", "phaser", "1"}, {"hearmixb", "level_out", "2.000000"}, nowToB}},
            {{.a = {.gainDb = 3}, .b = low, .heard = B::B}, {},
             L{{"hearmixa", "volume", "0.000000dB"}, {"hearhigha", "limit", "1.000000"}, toA}},
            {engine::mpvHearChain(low), {.lowCut = 200, .gainDb = 6}, L{{"hearmixb", "volume", "6.000000dB"}, nowToB}},
            {engine::mpvHearChain(low), low, L{}},
            // The kept centre comes and goes by the idle branch's entries, then the same fade.
            {engine::mpvHearChain({}), {.centre = C::Keep}, L{toB}},
            {engine::mpvHearChain({.lowCut = 40, .centre = C::Keep}), {.lowCut = 40}, L{toB}},
            {{.a = {}, .b = {.centre = C::Keep}, .heard = B::B}, {.centre = C::Keep, .gainDb = 3}, L{toA}},
        };
        for (const auto& r : rows) {
            const auto change = engine::mpvHearChange(r.from, r.to);
            QCOMPARE(engine::mpvHearCommandLine(change.commands), engine::mpvHearCommandLine(r.commands));
            // What the chain then holds is what the next change starts from.
            if (!change.commands.isEmpty()) {
                const auto& heard = change.chain.heard == B::A ? change.chain.a : change.chain.b;
                QCOMPARE(heard, r.to);
                QVERIFY(change.chain.heard != r.from.heard);
            }
            // A written list builds the idle branch for the new settings and leaves every
            // entry that runs, the heard branch's and the fade's, as it was written.
            const char idle = r.from.heard == B::A ? 'b' : 'a';
            const bool keeps = ((idle == 'a' ? r.from.a : r.from.b).centre == C::Keep) != (r.to.centre == C::Keep);
            QCOMPARE(change.list.isEmpty(), !keeps);
            if (!keeps) continue;
            const auto was = graphs(engine::mpvHearFilters(r.from.heard == B::A ? r.from.a : r.from.b));
            const auto now = graphs(engine::mpvHearFilters(r.to)), list = graphs(change.list);
            QVERIFY(list.contains("hearkeep" + QByteArray(1, idle)) == (r.to.centre == C::Keep));
            for (const QByteArray& label : list.keys())
                QCOMPARE(list[label], label.endsWith(idle) ? now[label] : was[label]);
        }
    }

    void theHandBackBuildsOnlyBranchA()
    {
        const HearSettings rows[][2] = {{{}, {.lowCut = 200}}, {{.highCut = 4000, .gainDb = 3}, {.centre = C::Cancel}},
                                        {{.centre = C::Keep}, {.lowCut = 40, .centre = C::Keep}}};
        for (const auto& [listed, heard] : rows) {
            const auto before = graphs(engine::mpvHearFilters(listed)), after = graphs(engine::mpvHearFilters(heard));
            const auto back = graphs(engine::mpvHearHandBack(listed, heard).list);
            QCOMPARE(back.keys(), before.keys());
            for (const QByteArray& label : back.keys())
                QCOMPARE(back[label], label.endsWith('a') && label != "hearfade" ? after[label] : before[label]);
            QVERIFY(before["hearfade"] == after["hearfade"]);
        }
    }

    void aFilesEndIsHandedOnWhole()
    {
        // FFmpeg 5.1 as measured: the upmix hands on whole hops of 256 frames only, 768 late;
        // the limiter as many frames as it takes, its whole frames of 5 ms late; apad's
        // pad_dur counts frames to the nearest.
        const QRegularExpression pad("apad=pad_(len|dur)=([0-9.]+)");
        for (const HearSettings h : {HearSettings{}, {.gainDb = 6}, {.centre = C::Keep}, {.lowCut = 40, .centre = C::Keep}})
            for (const int rate : {44100, 48000})
                for (qint64 length = 44100; length < 44100 + 256; ++length) {  // every end within a hop
                    const bool keep = h.centre == C::Keep;
                    qint64 out = length;
                    for (const auto& m : pad.globalMatch(graphs(engine::mpvHearFilters(h))["hearmixa"]))
                        out += m.captured(1) == "len" ? m.captured(2).toLongLong()
                                                      : std::llround(m.captured(2).toDouble() * rate);
                    if (keep) out -= out % 256;
                    const qint64 heard = length + (keep ? 768 : 0) + rate / 200;
                    const QString row = QStringLiteral("keep %1 rate %2 length %3").arg(keep).arg(rate).arg(length);
                    QVERIFY2(out >= heard, qPrintable(row));                    // nothing of the file lost
                    QVERIFY2(out - heard <= (keep ? 256 : 1), qPrintable(row)); // little silence after it
                }
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
