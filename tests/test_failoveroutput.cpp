// A sound server that goes away and comes back: which output takes the sound, and that
// the frames heard and handed over run on across each change.
#include "audio/failoveroutput.h"

#include <QTest>

using namespace audio;
Q_DECLARE_METATYPE(QList<LinkEvent>)
Q_DECLARE_METATYPE(QList<Move>)

namespace {

// An output pulled by the test's hand.
struct HandOutput : AudioOutput {
    Pull pull;
    std::atomic<bool> running{false}, takes{true}, answers{false};
    std::atomic<double> heard{0};
    std::function<void()> lost;
    bool start(int, Pull p) override
    {
        if (!takes) return false;
        pull = std::move(p);
        heard = 0;
        return running = true;
    }
    void stop() override { running = false; }
    int sampleRate() const override { return 1000; }
    double heardFrames() const override { return heard; }
    void setOnLost(std::function<void()> l) override { lost = std::move(l); }
    bool reconnect(int) override { return answers; }
    const char* name() const override { return "hand"; }
    // Pulls `n` frames; returns the first sample of each.
    std::vector<float> take(int n)
    {
        std::vector<float> buf(std::size_t(n) * 2);
        pull(buf.data(), n);
        std::vector<float> firsts;
        for (int i = 0; i < n; ++i) firsts.push_back(buf[std::size_t(i) * 2]);
        return firsts;
    }
};

} // namespace

class FailoverOutputTest : public QObject {
    Q_OBJECT
private slots:
    void steps_data()
    {
        QTest::addColumn<QList<LinkEvent>>("events");
        QTest::addColumn<QList<Move>>("moves");
        QTest::addColumn<int>("link");
        using E = LinkEvent;
        using M = Move;
        QTest::newRow("server killed and back") << QList{E::Start, E::Lost, E::Lost, E::Answered}
                                                << QList{M::StartServer, M::ServerToNull, M::None, M::NullToServer}
                                                << int(Link::Server);
        QTest::newRow("stopped while lost") << QList{E::Start, E::Lost, E::Stop, E::Answered}
                                            << QList{M::StartServer, M::ServerToNull, M::StopNull, M::None}
                                            << int(Link::Stopped);
        QTest::newRow("a late answer while on the server") << QList{E::Start, E::Answered, E::Stop, E::Lost}
                                                           << QList{M::StartServer, M::None, M::StopServer, M::None}
                                                           << int(Link::Stopped);
    }
    void steps()
    {
        QFETCH(QList<LinkEvent>, events);
        QFETCH(QList<Move>, moves);
        QFETCH(int, link);
        Link now = Link::Stopped;
        QList<Move> got;
        for (LinkEvent e : events) {
            const LinkStep s = linkStep(now, e);
            got << s.move;
            now = s.link;
        }
        QCOMPARE(got, moves);
        QCOMPARE(int(now), link);
    }

    void handover_data()
    {
        QTest::addColumn<double>("heard");
        QTest::addColumn<qint64>("pulled");
        QTest::addColumn<qint64>("kept");
        QTest::addColumn<qint64>("from");
        QTest::addColumn<qint64>("replay");
        QTest::newRow("the server's queue played again") << 600.7 << 1000LL << 1000LL << 600LL << 400LL;
        QTest::newRow("all heard") << 1000.0 << 1000LL << 1000LL << 1000LL << 0LL;
        QTest::newRow("more unheard than kept") << 100.0 << 5000LL << 1000LL << 4000LL << 1000LL;
        QTest::newRow("nothing yet") << 0.0 << 0LL << 0LL << 0LL << 0LL;
    }
    void handover()
    {
        QFETCH(double, heard);
        QFETCH(qint64, pulled);
        QFETCH(qint64, kept);
        const Handover h = handoverAt(heard, pulled, kept);
        QTEST(h.from, "from");
        QTEST(h.replay, "replay");
    }

    // The engine's frames numbered: each change must go on with the frame heard.
    void serverGoesAndComesBack()
    {
        auto* server = new HandOutput;
        auto* null = new HandOutput;
        auto out = makeFailoverOutput(std::unique_ptr<AudioOutput>(server), std::unique_ptr<AudioOutput>(null), 0);
        float next = 0;
        out->start(1000, [&](float* data, qint64 frames) {
            for (qint64 i = 0; i < frames; ++i) data[2 * i] = data[2 * i + 1] = next++;
            return frames;
        });
        QVERIFY(server->running);
        server->take(1000);
        server->heard = 600;
        server->lost();
        QTRY_VERIFY(null->running);
        QVERIFY(!server->running);
        QCOMPARE(out->heardFrames(), 600.0);
        const auto firsts = null->take(500);
        QCOMPARE(firsts[0], 600.f);
        QCOMPARE(firsts[399], 999.f);
        QCOMPARE(firsts[400], 1000.f);
        null->heard = 500;
        QCOMPARE(out->heardFrames(), 1100.0);
        server->answers = true;
        QTRY_VERIFY(server->running);
        QCOMPARE(out->heardFrames(), 1100.0);
        QCOMPARE(server->take(1)[0], 1100.f);
        server->heard = 1;
        QTRY_COMPARE(out->heardFrames(), 1101.0);
    }
};

QTEST_GUILESS_MAIN(FailoverOutputTest)
#include "test_failoveroutput.moc"
