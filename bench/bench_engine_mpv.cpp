// How exactly the real engine keeps time: load time, the seam of an engine loop against
// a 10 ms poll that seeks back, and how early mpv announces wraps and ends.
#include "engine/mpv/mpvengine.h"
#include "support/testkit.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <numeric>

using engine::LoopRange;
using engine::MpvEngine;
using engine::PlayState;

namespace {

QList<double> g_leads;  // ms between mpv's announcement of a wrap or end and hearing it

void captureLeads(QtMsgType type, const QMessageLogContext& ctx, const QString& msg)
{
    if (qstrcmp(ctx.category, "vamplet.engine") == 0 && msg.contains("decoded")) {
        g_leads << msg.section(' ', 2, 2).toDouble();
        return;
    }
    if (type != QtDebugMsg) std::fprintf(stderr, "%s\n", qPrintable(msg));
}

void stats(const char* what, QList<double> v, const char* unit)
{
    if (v.isEmpty()) {
        std::printf("%-44s (none)\n", what);
        return;
    }
    std::sort(v.begin(), v.end());
    const double mean = std::accumulate(v.begin(), v.end(), 0.0) / v.size();
    std::printf("%-44s n=%-3lld min %7.1f  median %7.1f  mean %7.1f  max %7.1f %s\n", what,
                static_cast<long long>(v.size()), v.first(), v[v.size() / 2], mean, v.last(), unit);
}

MpvEngine::Options quiet() { return {false, false}; }

void loadTimes(const QString& wav)
{
    MpvEngine e(quiet());
    QList<double> ms;
    for (int i = 0; i < 20; ++i) {
        QElapsedTimer t;
        t.start();
        e.load(wav);
        if (!e.waitForLoad(5000)) return;
        ms << t.nsecsElapsed() / 1e6;
    }
    stats("load() to loaded", ms, "ms");
}

// Polls every 10 ms for `seconds`; `overrun` gets how far past `stop` each read was.
void loopSeam(const QString& wav, double rate, bool engineLoop)
{
    MpvEngine e(quiet());
    e.load(wav);
    if (!e.waitForLoad(5000)) return;
    const double start = 1.0, stop = 2.0;
    e.setRate(rate);
    if (engineLoop) e.setLoop({start, stop, LoopRange::kEndless, false});
    e.seek(start);
    QElapsedTimer t;
    t.start();
    QList<double> gaps;
    qint64 lastWrap = -1;
    QObject::connect(&e, &MpvEngine::loopWrapped, [&] {
        // A wrap should come once per (stop - start) / rate of wall time.
        if (lastWrap >= 0) gaps << (t.elapsed() - lastWrap) - (stop - start) / rate * 1000;
        lastWrap = t.elapsed();
    });
    g_leads.clear();
    double worst = -1e9;
    QList<double> overrun;
    while (t.elapsed() < 6000) {
        QTest::qWait(10);
        const double p = e.position();
        worst = std::max(worst, p - stop);
        if (!engineLoop && p >= stop) {
            overrun << (p - stop) * 1000;
            e.seek(start);
        }
    }
    const QByteArray label = QByteArray(engineLoop ? "engine loop" : "10 ms poll + seek") + " @" + QByteArray::number(rate);
    if (engineLoop) {
        std::printf("%-44s max position past stop %+.1f ms\n", label.constData(), worst * 1000);
        stats("  wrap interval error", gaps, "ms");
        stats("  wrap decoded before heard", g_leads, "ms");
    } else {
        stats(label + ": read past stop at seek", overrun, "ms");
    }
}

void holdAccuracy(const QString& wav)
{
    QList<double> off, late, leads;
    for (int i = 0; i < 5; ++i) {
        MpvEngine e(quiet());
        e.load(wav);
        if (!e.waitForLoad(5000)) return;
        e.setLoop({1.0, 1.5, 1, true});
        e.seek(1.0);
        QElapsedTimer t;
        t.start();
        g_leads.clear();
        while (e.state() != PlayState::Stopped && t.elapsed() < 5000) QTest::qWait(1);
        off << (e.position() - 1.5) * 1000;
        late << t.elapsed() - 1000.0;  // two passes of 0.5 s
        leads << g_leads.value(g_leads.size() - 1);
    }
    stats("hold: position at Stopped - stop", off, "ms");
    stats("hold: Stopped after 2 passes, minus 1000 ms", late, "ms");
    stats("hold: end decoded before heard", leads, "ms");
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(captureLeads);
    QLoggingCategory::setFilterRules("vamplet.engine.debug=true");
    QTemporaryDir dir;
    const QString wav = dir.filePath("tone.wav");
    testkit::writeWav(wav, 5.0, 44100, 440.0, "bench");
    std::printf("mpv engine, ao=null vo=null, 5 s WAV 44.1 kHz\n");
    loadTimes(wav);
    loopSeam(wav, 1.0, true);
    loopSeam(wav, 1.5, true);
    loopSeam(wav, 1.0, false);
    holdAccuracy(wav);
    return 0;
}
