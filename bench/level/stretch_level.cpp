// The level of stretched sound: the engine's Stretcher, fed by a LoopReader exactly as the
// sample engine feeds it (30 ms seam blends, 512-frame chunks), against Rubber Band's finer
// engine run offline (study, then process) on the same stretch repeated by plain index
// arithmetic. Every 10 ms window's rms is compared; windows near a seam are counted apart,
// since there the engine blends and the render cuts. Also the stretcher's CPU time against
// the sound's length, and its CPU time to the first sound handed over.
//   stretch_level [--rates 0.5,0.75,...] [--seconds N] [--only NAME] [FILE START STOP]...
// Without files it takes the music of Debian's asc-music and the chime of gnome-audio
// where installed (bench/level/README.md).
#include "audio/audiodecoder.h"
#include "audio/loopreader.h"
#include "audio/stretcher.h"
#include "offline/offlinestretch.h"

#include <QFileInfo>
#include <QString>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

using namespace audio;
using namespace offline;

namespace {

constexpr double kBlendMs = 30;  // the engine's seam blend when stretching
constexpr double kFloor = 1e-4;  // -80 dBFS: quieter windows count as equal

struct Sound {
    std::string name;
    int sampleRate = 44100;
    std::vector<float> frames;  // stereo
    qint64 start = 0, stop = 0;
};

class MemorySource : public FrameSource {
public:
    explicit MemorySource(const std::vector<float>& f) : m_f(f) {}
    qint64 frames() const override { return qint64(m_f.size() / kChannels); }
    qint64 readAt(qint64 pos, float* out, qint64 n) override
    {
        const qint64 got = std::clamp<qint64>(frames() - pos, 0, n);
        std::copy_n(m_f.begin() + pos * kChannels, got * kChannels, out);
        return got;
    }

private:
    const std::vector<float>& m_f;
};

Sound synth(const std::string& name, double seconds, double start, double stop, const std::function<double(double)>& f)
{
    Sound s{name, 44100, {}, qint64(start * 44100), qint64(stop * 44100)};
    for (qint64 i = 0; i < qint64(seconds * s.sampleRate); ++i) {
        const float v = float(f(double(i) / s.sampleRate));
        s.frames.push_back(v);
        s.frames.push_back(v);
    }
    return s;
}

bool decode(const char* path, double start, double stop, Sound* s)
{
    Decoder d;
    if (!d.open(QString::fromLocal8Bit(path))) return false;
    const Format f = d.format();
    s->name = QFileInfo(QString::fromLocal8Bit(path)).fileName().toStdString();
    s->sampleRate = f.sampleRate;
    std::vector<float> buf(std::size_t(4096 * f.channels));
    const qint64 until = qint64((stop + 1) * f.sampleRate);
    for (qint64 r; qint64(s->frames.size() / 2) < until && (r = d.read(buf.data(), 4096)) > 0;)
        for (qint64 i = 0; i < r; ++i) {
            s->frames.push_back(buf[std::size_t(i * f.channels)]);
            s->frames.push_back(buf[std::size_t(i * f.channels + (f.channels > 1 ? 1 : 0))]);
        }
    s->start = qint64(start * f.sampleRate);
    s->stop = std::min<qint64>(qint64(stop * f.sampleRate), qint64(s->frames.size() / 2));
    return s->stop > s->start;
}

double cpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

struct Engine {
    std::vector<float> out;  // stereo
    double cpu = 0;          // seconds, start included
    double firstCpu = 0;     // to the first three chunks (what the engine hands over at once)
};

// As SampleEngine::Shared::run does for an endless loop without practice settings.
Engine engine(const Sound& s, double rate, qint64 frames)
{
    Engine e;
    MemorySource source(s.frames);
    LoopReader reader(source, qint64(kBlendMs * s.sampleRate / 1000));
    reader.seek(s.start);
    reader.setLoop(Loop{s.start, s.stop, -1, false});
    Stretcher st;
    const double c0 = cpuSeconds();
    st.start(s.sampleRate, rate, 1.0);
    const auto turn = [rate] { return Stretcher::Turn{false, rate}; };
    auto chunk = std::make_unique<Chunk>();
    int chunks = 0;
    while (qint64(e.out.size() / 2) < frames && st.fill(reader, 1, turn)) {
        st.take(*chunk);
        e.out.insert(e.out.end(), chunk->data, chunk->data + chunk->frames * kChannels);
        if (++chunks == 3) e.firstCpu = cpuSeconds() - c0;
    }
    e.cpu = cpuSeconds() - c0;
    return e;
}

enum class Input {
    Cut,      // the stretch repeated with hard cuts, by plain index arithmetic
    Blended,  // what a loop reader of its own gives, seam blends and all
};

// The finer engine offline over the looped stretch, fed as the engine feeds its own.
std::vector<float> reference(const Sound& s, double rate, qint64 frames, Input input)
{
    const qint64 len = s.stop - s.start, inFrames = qint64(double(frames) * rate) + len;
    std::vector<float> looped(std::size_t(inFrames * 2));
    if (input == Input::Blended) {
        MemorySource source(s.frames);
        LoopReader reader(source, qint64(kBlendMs * s.sampleRate / 1000));
        reader.seek(s.start);
        reader.setLoop(Loop{s.start, s.stop, -1, false});
        for (qint64 at = 0; at < inFrames;) at += reader.read(looped.data() + at * 2, std::min<qint64>(4096, inFrames - at)).frames;
    } else {
        for (qint64 i = 0; i < inFrames; ++i) std::copy_n(s.frames.begin() + (s.start + i % len) * 2, 2, looped.begin() + i * 2);
    }
    return offlineStretch(looped, s.sampleRate, rate);
}

double rms(const std::vector<float>& v, qint64 from, qint64 n)
{
    double sum = 0;
    for (qint64 i = from * 2; i < (from + n) * 2; ++i) sum += double(v[std::size_t(i)]) * v[std::size_t(i)];
    return std::max(kFloor, std::sqrt(sum / double(2 * n)));
}

struct Figures {
    int windows = 0, off = 0, seamWindows = 0, seamOff = 0;
    double median = 0, worst = 0, seamWorst = 0;
};

Figures compare(const Sound& s, double rate, const std::vector<float>& a, const std::vector<float>& ref, bool seamsApart)
{
    Figures f;
    const qint64 w = s.sampleRate / 100;
    const qint64 n = qint64(std::min(a.size(), ref.size()) / 2);
    const double pass = double(s.stop - s.start) / rate;
    // The blend spans its own length past the seam in the source, and the stretcher's
    // window smears it some 40 ms either side.
    const double before = 0.040 * s.sampleRate, after = (kBlendMs / 1000 / rate + 0.040) * s.sampleRate;
    std::vector<double> all;
    for (qint64 at = w; at + w <= n; at += w) {
        const double db = 20 * std::log10(rms(a, at, w) / rms(ref, at, w));
        const double k = std::round(double(at + w / 2) / pass);
        const double fromSeam = double(at) - k * pass;
        const bool nearSeam = seamsApart && k > 0 && fromSeam + double(w) > -before && fromSeam < after;
        if (nearSeam) {
            ++f.seamWindows;
            f.seamOff += std::abs(db) > 1;
            if (std::abs(db) > std::abs(f.seamWorst)) f.seamWorst = db;
            continue;
        }
        ++f.windows;
        f.off += std::abs(db) > 1;
        if (std::abs(db) > std::abs(f.worst)) f.worst = db;
        all.push_back(db);
    }
    std::sort(all.begin(), all.end());
    f.median = all.empty() ? 0 : all[all.size() / 2];
    return f;
}

std::vector<double> parseRates(const char* text)
{
    std::vector<double> rates;
    for (const char* p = text; *p;) {
        char* end = nullptr;
        rates.push_back(std::strtod(p, &end));
        p = *end == ',' ? end + 1 : end;
        if (end == p && *p) break;
    }
    return rates;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<double> rates{0.5, 0.6, 0.75, 1.25, 1.5, 2};
    double seconds = 6;
    std::string only;  // sounds whose name holds this, alone
    std::vector<Sound> sounds;
    sounds.push_back(synth("tone 440, 0.9173 s", 4, 2, 2.9173, [](double t) { return 16000.0 / 32768 * std::sin(2 * M_PI * 440 * t); }));
    sounds.push_back(synth("chirp 2-3 s", 4, 2, 3, [](double t) {
        return 12000.0 / 32768 * std::sin(2 * M_PI * (200 * t + 250 * t * t / 2));
    }));
    sounds.push_back(synth("ramp 660 Hz 1-1.6 s", 2, 1, 1.6, [](double t) {
        const double a = 11000 + 4800 * std::clamp((t - 1) / 0.6, 0.0, 1.0);
        return a / 32768 * std::sin(2 * M_PI * 660 * t);
    }));
    bool files = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--rates") && i + 1 < argc) {
            rates = parseRates(argv[++i]);
        } else if (!std::strcmp(argv[i], "--seconds") && i + 1 < argc) {
            seconds = std::atof(argv[++i]);
        } else if (!std::strcmp(argv[i], "--only") && i + 1 < argc) {
            only = argv[++i];
        } else if (i + 2 < argc) {
            Sound s;
            if (decode(argv[i], std::atof(argv[i + 1]), std::atof(argv[i + 2]), &s)) sounds.push_back(s);
            else std::fprintf(stderr, "cannot read %s\n", argv[i]);
            i += 2;
            files = true;
        }
    }
    if (!files) {
        const struct {
            const char* path;
            double start, stop;
        } defaults[] = {{"/usr/share/games/asc/music/frontiers.mp3", 30, 33},
                        {"/usr/share/games/asc/music/machine_wars.mp3", 20, 23},
                        {"/usr/share/games/asc/music/time_to_strike.mp3", 40, 43},
                        {"/usr/share/sounds/startup3.wav", 0.5, 2.5}};
        for (const auto& d : defaults) {
            Sound s;
            if (decode(d.path, d.start, d.stop, &s)) sounds.push_back(s);
        }
    }
    std::printf("| sound | rate | windows | against blended: > 1 dB | worst dB | against cut, off seams: windows "
                "| > 1 dB | worst dB | seam windows | > 1 dB | worst dB | largest sample difference, same input | CPU %% of a core "
                "| first sound CPU ms | deepest window against the median dB |\n"
                "|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|\n");
    int failing = 0;
    for (const Sound& s : sounds)
        for (const double rate : rates) {
            if (s.name.find(only) == std::string::npos) continue;
            const qint64 frames = qint64(seconds * s.sampleRate);
            const Engine e = engine(s, rate, frames);
            const std::vector<float> same = reference(s, rate, frames, Input::Blended);
            const Figures b = compare(s, rate, e.out, same, false);
            const Figures c = compare(s, rate, e.out, reference(s, rate, frames, Input::Cut), true);
            // The largest difference of a sample from the render of the same input.
            double step = 0;
            for (std::size_t i = 0; i < std::min(same.size(), e.out.size()); ++i)
                step = std::max(step, double(std::abs(same[i] - e.out[i])));
            // On a steady tone, the seam's own dip (from 0.5 s on, as the seam bench reads it).
            std::vector<double> levels;
            for (qint64 at = s.sampleRate / 2; (at + s.sampleRate / 100) * 2 <= qint64(e.out.size()); at += s.sampleRate / 100)
                levels.push_back(rms(e.out, at, s.sampleRate / 100));
            std::sort(levels.begin(), levels.end());
            const double dip = 20 * std::log10(levels.front() / levels[levels.size() / 2]);
            failing += b.off;
            std::printf("| %s | %.2f | %d | %d | %+.2f | %d | %d | %+.2f | %d | %d | %+.2f | %.1g | %.1f | %.1f | %.1f |\n",
                        s.name.c_str(), rate, b.windows, b.off, b.worst, c.windows, c.off, c.worst, c.seamWindows,
                        c.seamOff, c.seamWorst, step, 100 * e.cpu / (double(e.out.size() / 2) / s.sampleRate),
                        1000 * e.firstCpu, dip);
            std::fflush(stdout);
        }
    std::printf("\nwindows more than 1 dB off the render of the same blended input (target 0): %d\n", failing);
    return 0;
}
