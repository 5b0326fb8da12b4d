// Loops a file on the sample engine (sound to PulseAudio) with hear settings, optionally
// turning them on while it plays, and prints on the monotonic clock when it did, and the
// process's CPU time over the play.
//
//   hear_driver --file F --rate R --seconds S [--hear TEXT] [--change-at T --to TEXT]
//               [--engine sample|mpv] [--tap FILE] [--toggles N --every S] [--once 1|2]
//   hear_driver --mpv-list TEXT    (prints the video engine's filter list for TEXT)
//
// TEXT is the playlist key's form ("200-4000 cancel left +6dB"). `--engine mpv` plays on the
// video engine (no pictures), through mpv's filters. `--tap FILE` writes what the sample
// engine handed its output (float stereo, raw), to tell a step of ours from one the sound
// server or the recorder made. `--toggles N` goes back and forth between the two settings N
// times after the first change, one every S to 1.25 S seconds (spread, so the calls fall at
// every point of mpv's output blocks), printing each call's time. `--once 1` plays the file
// once to its end instead of looping it, `--once 2` as a list's entry to the file's end does
// (held at the stop).
#include "engine/mpv/mpvengine.h"
#include "engine/mpv/mpvhear.h"
#include "audio/failoveroutput.h"
#include "engine/sample/sampleengine.h"
#include "storage/practicekeys.h"

#include "../driverclock.h"

#include <QCoreApplication>
#include <QStringList>

#include <atomic>
#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstring>
#include <vector>
#include <memory>
#include <cstdio>
#include <ctime>

using namespace engine;

static double cpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + t.tv_nsec / 1e9;
}

// The program's own output, with a copy of each frame pulled into a buffer made beforehand
// (the pull must not allocate).
class TapOutput : public audio::AudioOutput {
public:
    explicit TapOutput(std::size_t frames) : m_out(audio::openFailoverOutput(500)), m_tap(frames * 2) {}
    bool start(int rate, Pull pull) override
    {
        return m_out->start(rate, [this, pull](float* out, qint64 frames) {
            const qint64 n = pull(out, frames);
            const std::size_t at = m_at.load(std::memory_order_relaxed);
            const std::size_t copy = std::min(m_tap.size() - at, std::size_t(frames) * 2);
            std::memcpy(m_tap.data() + at, out, copy * sizeof(float));
            m_at.store(at + copy, std::memory_order_release);
            return n;
        });
    }
    void stop() override { m_out->stop(); }
    int sampleRate() const override { return m_out->sampleRate(); }
    double heardFrames() const override { return m_out->heardFrames(); }
    void kick() override { m_out->kick(); }
    qint64 replaceableFrom(Putting what) override { return m_out->replaceableFrom(what); }
    void replace(qint64 from, const std::function<void(bool)>& ready) override
    {
        std::printf("REPLACE %lld\n", from);
        m_out->replace(from, ready);
    }
    bool healthy() const override { return m_out->healthy(); }
    void setOnLost(std::function<void()> lost) override { m_out->setOnLost(std::move(lost)); }
    bool reconnect(int ms) override { return m_out->reconnect(ms); }
    const char* name() const override { return m_out->name(); }
    bool write(const QString& path) const
    {
        FILE* f = std::fopen(qPrintable(path), "wb");
        if (!f) return false;
        std::fwrite(m_tap.data(), sizeof(float), m_at.load(std::memory_order_acquire), f);
        return std::fclose(f) == 0;
    }

private:
    std::unique_ptr<audio::AudioOutput> m_out;
    std::vector<float> m_tap;
    std::atomic<std::size_t> m_at{0};
};

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    QString file, hearText, toText, engineName = "sample", tapFile;
    double rate = 1, seconds = 5, changeAt = 0, every = 1;
    int toggles = 0;
    int once = 0;
    const QStringList args = app.arguments();
    if (args.size() == 3 && args[1] == "--mpv-list") {
        const auto listed = storage::hearOf(args[2]);
        if (!listed) return std::fprintf(stderr, "hear text does not read\n"), 2;
        return std::printf("%s\n", engine::mpvHearFilters(*listed).constData()), 0;
    }
    for (int i = 1; i + 1 < args.size(); i += 2) {
        const QString& a = args[i];
        const QString& v = args[i + 1];
        if (a == "--file") file = v;
        else if (a == "--rate") rate = v.toDouble();
        else if (a == "--seconds") seconds = v.toDouble();
        else if (a == "--hear") hearText = v;
        else if (a == "--change-at") changeAt = v.toDouble();
        else if (a == "--to") toText = v;
        else if (a == "--engine") engineName = v;
        else if (a == "--tap") tapFile = v;
        else if (a == "--toggles") toggles = v.toInt();
        else if (a == "--every") every = v.toDouble();
        else if (a == "--once") once = v.toInt();
        else return std::fprintf(stderr, "unknown argument %s\n", qPrintable(a)), 2;
    }
    const auto hear = storage::hearOf(hearText), to = storage::hearOf(toText);
    if (file.isEmpty() || !hear || !to) return std::fprintf(stderr, "need --file, and hear texts that read\n"), 2;

    std::unique_ptr<MediaEngine> made;
    TapOutput* tap = nullptr;  // owned by the engine
    QString output = "mpv";
    if (engineName == "mpv") {
        made = std::make_unique<MpvEngine>(MpvEngine::Options{false, true});
    } else {
        SampleEngine::Options o;
        if (!tapFile.isEmpty()) o.output = [&tap, seconds] {
            auto made = std::make_unique<TapOutput>(std::size_t((seconds + 2) * 96000));
            tap = made.get();
            return made;
        };
        made = std::make_unique<SampleEngine>(o);
    }
    MediaEngine& engine = *made;
    engine.setHear(*hear);
    engine.setRate(rate);
    engine.load(file);
    if (!engine.waitForLoad(5000)) return std::fprintf(stderr, "cannot open %s\n", qPrintable(file)), 1;
    // Once as a list's entry to the file's end plays: no wrap left, held at the stop.
    if (once == 2) engine.setLoop(LoopRange{0, engine.duration(), 0, true, true});
    else if (once == 0) engine.setLoop(LoopRange{0, engine.duration(), LoopRange::kEndless, false, true});
    if (auto* sample = dynamic_cast<SampleEngine*>(&engine)) output = sample->outputName();
    std::printf("OUTPUT %s\n", qPrintable(output));
    const double cpu0 = cpuSeconds();
    std::printf("PLAY %lld\n", monoNs());
    engine.play();
    if (changeAt > 0) {
        runFor(changeAt);
        std::printf("CHANGE %lld\n", monoNs());
        std::fflush(stdout);
        engine.setHear(*to);
        double at = changeAt;
        for (int i = 0; i < toggles; ++i) {
            // A fixed spread of 0-25 % of the interval (golden-ratio steps), the same each run.
            const double wait = every * (1 + 0.25 * std::fmod(0.618034 * (i + 1), 1.0));
            runFor(wait);
            at += wait;
            std::printf("CHANGE %lld\n", monoNs());
            std::fflush(stdout);
            engine.setHear(i % 2 == 0 ? *hear : *to);
        }
        runFor(std::max(0.5, seconds - at));
    } else {
        runFor(seconds);
    }
    std::printf("CPU %.6f %.6f\n", cpuSeconds() - cpu0, seconds);
    std::printf("END %lld\n", monoNs());
    engine.stop();
    if (tap && !tap->write(tapFile)) return std::fprintf(stderr, "cannot write %s\n", qPrintable(tapFile)), 1;
    return 0;
}
