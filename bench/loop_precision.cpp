// How precisely entries loop on the real engine: plays a generated file through
// PlayPosition and reports how far playback runs past each stop, how many seeks came from
// outside the engine's own loop, how soon a new file starts moving, and the CPU it costs.
#include "playback/entryplayer.h"
#include "playback/mediaplayer.h"
#include "engine/mpv/mpvengine.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <sys/resource.h>

#include "../tests/support/testkit.h"

using namespace engine;
using namespace playback;

namespace {

// Counts the seeks the program asks for; everything else goes straight through.
class CountingEngine : public MediaEngine {
public:
    explicit CountingEngine(MediaEngine* inner) : m_inner(inner)
    {
        inner->setParent(this);
        connect(inner, &MediaEngine::stateChanged, this, &MediaEngine::stateChanged);
        connect(inner, &MediaEngine::positionJumped, this, &MediaEngine::positionJumped);
        connect(inner, &MediaEngine::loopWrapped, this, &MediaEngine::loopWrapped);
        connect(inner, &MediaEngine::loaded, this, &MediaEngine::loaded);
        connect(inner, &MediaEngine::loadFailed, this, &MediaEngine::loadFailed);
        connect(inner, &MediaEngine::videoChanged, this, &MediaEngine::videoChanged);
    }
    int seeks = 0;
    void load(const QString& p) override { m_inner->load(p); }
    bool waitForLoad(int ms) override { return m_inner->waitForLoad(ms); }
    QString path() const override { return m_inner->path(); }
    void play() override { m_inner->play(); }
    void pause() override { m_inner->pause(); }
    void stop() override { m_inner->stop(); }
    PlayState state() const override { return m_inner->state(); }
    double position() const override { return m_inner->position(); }
    void seek(double s) override { ++seeks; m_inner->seek(s); }
    double duration() const override { return m_inner->duration(); }
    void setRate(double r) override { m_inner->setRate(r); }
    double rate() const override { return m_inner->rate(); }
    void setLoop(const LoopRange& r) override { m_inner->setLoop(r); }
    void clearLoop() override { m_inner->clearLoop(); }
    LoopRange loop() const override { return m_inner->loop(); }
    QHash<QString, QString> metadata() const override { return m_inner->metadata(); }
    bool hasVideo() const override { return m_inner->hasVideo(); }

private:
    MediaEngine* m_inner;
};

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double percentile(std::vector<double> v, double p)
{
    if (v.empty()) return NAN;
    std::sort(v.begin(), v.end());
    const size_t i = std::min(v.size() - 1, static_cast<size_t>(std::ceil(p * v.size())) - (p > 0 ? 1 : 0));
    return v[i];
}

struct Result {
    std::vector<double> overrunsMs;
    int outsideSeeks = 0;
    double firstAdvanceMs = NAN;
    double cpuPercent = 0;
    int passes = 0;
};

// Plays `file` from 1.0 s to 2.0 s for `seconds`, polling the position every millisecond.
// The engine has played another file before, as it has in a running program: the first
// file's audio output start is not part of the figures.
Result runMode(const QString& file, const QString& warmUp, bool endless, double seconds)
{
    auto* counting = new CountingEngine(new MpvEngine(MpvEngine::Options{false, true}));
    MediaPlayer media(counting);
    EntryPlayer entry(media.control());
    media.control()->Open(warmUp);
    {
        QElapsedTimer settle;
        settle.start();
        while (settle.elapsed() < 300) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    const double start = 1.0, stop = 2.0;
    // A one-row list: after its passes the entry follows itself.
    entry.setNextEntrySource([&] { return EntryRecord{1, file, start, stop, 1, 5}; });

    Result r;
    QElapsedTimer wall;
    wall.start();
    const double cpu0 = cpuSeconds();
    entry.PlayPosition(file, "1", "2", "1", "5", endless);
    const int seeksAfterStart = counting->seeks;

    double maxSinceWrap = -1, last = -1;
    bool moving = false;
    QTimer poll;
    poll.setTimerType(Qt::PreciseTimer);
    poll.setInterval(1);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        const double pos = media.control()->CurrentPosition();
        if (!moving && last >= 0 && pos > last + 1e-6 && pos > start) {
            moving = true;
            r.firstAdvanceMs = wall.nsecsElapsed() / 1e6;
        }
        if (moving) {
            if (pos < maxSinceWrap - 0.25) {  // jumped back: one pass ended
                r.overrunsMs.push_back((maxSinceWrap - stop) * 1000.0);
                ++r.passes;
                maxSinceWrap = pos;
            } else {
                maxSinceWrap = std::max(maxSinceWrap, pos);
            }
        }
        last = pos;
        if (wall.elapsed() > seconds * 1000) QCoreApplication::quit();
    });
    poll.start();
    QCoreApplication::exec();
    r.outsideSeeks = counting->seeks - seeksAfterStart;
    r.cpuPercent = 100.0 * (cpuSeconds() - cpu0) / (wall.nsecsElapsed() / 1e9);
    entry.stopPlayback();
    return r;
}

void print(const char* mode, const Result& r)
{
    std::printf("%-22s passes %3d  overrun ms: median %7.2f  p95 %7.2f  max %7.2f  outside seeks %3d  "
                "first advance %6.1f ms  CPU %5.1f%%\n",
                mode, r.passes, percentile(r.overrunsMs, 0.5), percentile(r.overrunsMs, 0.95),
                r.overrunsMs.empty() ? NAN : *std::max_element(r.overrunsMs.begin(), r.overrunsMs.end()),
                r.outsideSeeks, r.firstAdvanceMs, r.cpuPercent);
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    const double seconds = argc > 1 ? std::atof(argv[1]) : 20.0;
    QTemporaryDir dir;
    const QString file = testkit::writeWav(dir.filePath("tone.wav"), 10.0);
    const QString warmUp = testkit::writeWav(dir.filePath("other.wav"), 2.0, 44100, 220.0);
    std::printf("loop precision: stretch 1.0-2.0 s of a 10 s WAV, %.0f s per mode\n", seconds);
    std::printf("targets: overrun p95 <= 2 ms, no outside seeks in endless mode, first advance <= 50 ms, "
                "CPU <= 5%%\n");
    print("endless", runMode(file, warmUp, true, seconds));
    print("counted (5 passes/row)", runMode(file, warmUp, false, seconds));
    return 0;
}
