#include "player/sampleengine.h"

#include "player/audiodecoder.h"
#include "player/audiooutput.h"
#include "player/liveswitch.h"
#include "player/loopreader.h"
#include "player/practiceplan.h"
#include "player/spscqueue.h"

#include <rubberband/RubberBandStretcher.h>

#include <QFileInfo>
#include <QPointer>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>

namespace player {

using namespace audio;

namespace {

constexpr qint64 kChunkFrames = 512;
constexpr std::size_t kRingChunks = 192;
// How far the worker decodes ahead of the output: some 0.75 s at 44.1 kHz.
constexpr std::size_t kAheadChunks = 64;
constexpr auto kTopUpWait = std::chrono::milliseconds(40);
constexpr auto kIdleWait = std::chrono::milliseconds(500);
constexpr auto kFullWait = std::chrono::milliseconds(5);
constexpr int kPulseConnectMs = 500;
// The UI looks at what the output took this often, and wakes at the very frame of a wrap,
// an end or the next entry once it knows of one; the output takes its sound some 100 ms
// before it is heard, so every such frame is known in time.
constexpr int kHeardPollMs = 20;
// Chunks (some 12 ms each) the output plays on while a change made during play is rendered.
constexpr quint64 kSwitchLeadChunks = 2;
// Sound after silence is handed over this many chunks at once: the output writes the first
// of it over queued silence just ahead of where the server reads, and what follows must be
// there before the server gets to it, even when the worker is held up a while.
constexpr std::size_t kStartChunks = 3;
// A stop this close past the file's end is the file's end (the stop text rounds).
constexpr double kEndSlackSeconds = 0.002;
constexpr int kStretchedBlendMs = 30;

struct Chunk {
    quint64 seq = 0;
    quint64 epoch = 0;
    quint64 entry = 0;
    double sourcePos = 0;
    double step = 1;
    qint64 frames = 0;
    bool passStart = false;
    bool end = false;
    float data[kChunkFrames * kChannels];
};

using Note = SampleEngine::Heard;

// The decoder as the loop reader sees it: stereo, read at any place.
class DecoderSource : public FrameSource {
public:
    explicit DecoderSource(Decoder* d) : m_decoder(d) {}
    void setDecoder(Decoder* d)
    {
        m_decoder = d;
        m_next = -1;
    }
    void reset() { m_next = -1; }
    qint64 frames() const override { return m_decoder->format().frames; }
    qint64 readAt(qint64 pos, float* out, qint64 n) override
    {
        if (pos != m_next) {
            if (!m_decoder->seek(pos)) return -1;
            m_next = pos;
        }
        const int ch = m_decoder->format().channels;
        m_buf.resize(std::size_t(n) * ch);
        qint64 got = 0;
        while (got < n) {
            const qint64 r = m_decoder->read(m_buf.data() + got * ch, n - got);
            if (r < 0) return got > 0 ? got : -1;
            if (r == 0) break;
            got += r;
        }
        for (qint64 i = 0; i < got; ++i) {
            const float* f = m_buf.data() + i * ch;
            if (ch == 1) {
                out[i * 2] = out[i * 2 + 1] = f[0];
            } else {
                // More than two channels: the centre goes to both sides.
                const float centre = ch > 2 ? 0.7071f * f[2] : 0.0f;
                out[i * 2] = f[0] + centre;
                out[i * 2 + 1] = f[1] + centre;
            }
        }
        m_next += got;
        return got;
    }

private:
    Decoder* m_decoder;
    qint64 m_next = -1;
    std::vector<float> m_buf;
};

struct FrameLoop {
    std::optional<Loop> loop;
    qint64 from = 0;
};

// Seconds of an entry in the file's frames; a stop a hair past the end is the end.
FrameLoop entryFrames(double from, const std::optional<LoopRange>& range, const Format& f)
{
    FrameLoop out;
    const auto frames = [&](double s) { return qint64(std::llround(std::max(0.0, s) * f.sampleRate)); };
    out.from = frames(from);
    if (f.frames >= 0) out.from = std::min(out.from, f.frames);
    if (range) {
        Loop l{frames(range->start), frames(range->stop), range->wraps, range->holdAtStop};
        if (f.frames >= 0 && l.stop > f.frames && l.stop <= f.frames + qint64(kEndSlackSeconds * f.sampleRate))
            l.stop = f.frames;
        out.loop = l;
    }
    return out;
}

} // namespace

struct Plan {
    quint64 epoch = 0;
    quint64 entry = 0;
    std::optional<double> from;  // none: on from what the output has taken
    std::optional<LoopRange> loop;
    double rate = 1;
    PracticeSettings practice;
    int pass = 0;          // the pass the plan begins in, counted since the practice began
    bool preroll = false;  // that pass's pause and count-in come first
};

struct Opened {
    quint64 generation = 0;
    bool ok = false;
    QString error;
    Format format;
    QHash<QString, QString> tags;
};

// Pitch-kept stretching, fed without a break; positions map back through what was fed.
class Stretcher {
public:
    // What the next pass asks of the stretcher, told just before its first frame is fed.
    struct Turn {
        // A preroll or a new rate comes first: this pass's sound is finished, and the
        // stretcher starts over. (A ratio changed on the fly smears the pass start over
        // the stretcher's latency, and the positions with it.)
        bool gap = false;
        double rate = 1;
    };
    using TurnFn = std::function<Turn()>;

    void start(int sampleRate, double rate, double pitchScale)
    {
        const Settings wanted{sampleRate, rate, pitchScale};
        if (m_spare && m_spareFor == wanted) {
            m_rb = std::move(m_spare);
            m_drop = m_spareDrop;
        } else {
            m_rb = make(wanted, &m_drop);
        }
        m_rate = rate;
        m_fed.clear();
        m_fedFrames = 0;
        m_out = 0;
        m_final = false;
        m_gap = false;
    }
    // A stretcher made ready ahead of need: building one takes a millisecond or two of
    // the next start's first sound.
    void keepSpare(int sampleRate, double rate, double pitchScale)
    {
        const Settings wanted{sampleRate, rate, pitchScale};
        if (!m_spare || !(m_spareFor == wanted)) {
            m_spare = make(wanted, &m_spareDrop);
            m_spareFor = wanted;
        }
    }
    bool active() const { return m_rb != nullptr; }
    void stopUsing() { m_rb.reset(); }
    // The last fill ended at a gap before a pass, not at the end.
    bool atGap() const { return m_gap; }

    struct Fed {
        qint64 at;
        Block block;
        quint64 entry;
    };

    // Feeds the reader until a chunk is ready; false at the end (or a gap) with nothing left.
    bool fill(LoopReader& reader, quint64 entry, const TurnFn& turn)
    {
        for (;;) {
            const int avail = m_rb->available();
            if (avail < 0) return false;
            if (m_drop > 0 && avail > 0) {
                const qint64 n = std::min<qint64>(m_drop, avail);
                scratch(n);
                float* outs[] = {m_left.data(), m_right.data()};
                m_rb->retrieve(outs, std::size_t(n));
                m_drop -= n;
                continue;
            }
            if (m_drop == 0 && (avail >= kChunkFrames || (m_final && avail > 0))) return true;
            if (m_final) return false;
            if (reader.passPending()) {
                const Turn t = turn();
                if (t.gap) {
                    const float* none[] = {m_left.data(), m_right.data()};
                    m_rb->process(none, 0, true);
                    m_final = m_gap = true;
                    continue;
                }
            }
            const qint64 want = std::max<qint64>(256, qint64(m_rb->getSamplesRequired()));
            m_in.resize(std::size_t(want) * kChannels);
            const Block b = reader.read(m_in.data(), want);
            if (b.frames > 0 || b.passStart) m_fed.push_back({m_fedFrames, b, entry});
            m_fedFrames += b.frames;
            const bool last = b.end || reader.ended() || reader.failed() || (b.frames == 0);
            scratch(std::max<qint64>(b.frames, 1));
            for (qint64 i = 0; i < b.frames; ++i) {
                m_left[i] = m_in[i * 2];
                m_right[i] = m_in[i * 2 + 1];
            }
            const float* ins[] = {m_left.data(), m_right.data()};
            m_rb->process(ins, std::size_t(b.frames), last);
            m_final = last;
        }
    }

    // The next chunk of output; its frames run on from one place in the source.
    void take(Chunk& c)
    {
        qint64 n = std::min<qint64>(kChunkFrames, m_rb->available());
        const double s0 = double(m_out) * m_rate;
        // A chunk ends where a pass begins, so the wrap is told at its own frame.
        for (const Fed& f : m_fed) {
            if (f.block.passStart && double(f.at) > s0 + 1e-9) {
                const qint64 until = qint64(std::ceil(double(f.at) / m_rate)) - m_out;
                if (until > 0) n = std::min(n, until);
                break;
            }
        }
        const Fed* at = nullptr;
        for (const Fed& f : m_fed)
            if (double(f.at) <= s0 + 1e-9) at = &f;
        scratch(n);
        float* outs[] = {m_left.data(), m_right.data()};
        n = qint64(m_rb->retrieve(outs, std::size_t(n)));
        for (qint64 i = 0; i < n; ++i) {
            c.data[i * 2] = m_left[i];
            c.data[i * 2 + 1] = m_right[i];
        }
        c.frames = n;
        c.step = m_rate;
        c.sourcePos = at ? double(at->block.sourcePos) + (s0 - double(at->at)) : 0;
        c.entry = at ? at->entry : 0;
        c.passStart = at && at->block.passStart && s0 - double(at->at) < m_rate;
        m_out += n;
        c.end = m_final && !m_gap && m_rb->available() <= 0;
        // What lies behind the output is no longer needed, but the block it is in.
        while (m_fed.size() > 1 && double(m_fed[1].at) <= double(m_out) * m_rate) m_fed.pop_front();
    }

private:
    struct Settings {
        int sampleRate = 0;
        double rate = 1;
        double pitchScale = 1;
        bool operator==(const Settings&) const = default;
    };

    static std::unique_ptr<RubberBand::RubberBandStretcher> make(const Settings& s, qint64* drop)
    {
        using RB = RubberBand::RubberBandStretcher;
        // A transpose takes the finer engine: the faster one misses a tone's pitch by more
        // than a tenth of a semitone, which a player tuning to it hears.
        const auto engine = s.pitchScale != 1.0 ? RB::OptionEngineFiner : RB::OptionEngineFaster;
        // Crisp transients reset the phases wherever the detector fires, and on a held tone
        // it fires every hundred milliseconds or so, each time a dip of up to 10 dB; mixed
        // keeps the attacks of drums and leaves the range of notes alone.
        auto rb = std::make_unique<RB>(std::size_t(s.sampleRate), kChannels,
                                       RB::OptionProcessRealTime | RB::OptionPitchHighConsistency |
                                           RB::OptionTransientsMixed | engine,
                                       1.0 / s.rate, s.pitchScale);
        // Padding in front and dropping the start delay line the output up with the input.
        const std::size_t pad = rb->getPreferredStartPad();
        std::vector<float> zeros(std::max<std::size_t>(pad, 1), 0.0f);
        const float* in[] = {zeros.data(), zeros.data()};
        if (pad > 0) rb->process(in, pad, false);
        *drop = qint64(rb->getStartDelay());
        return rb;
    }

    void scratch(qint64 n)
    {
        if (qint64(m_left.size()) < n) {
            m_left.resize(std::size_t(n));
            m_right.resize(std::size_t(n));
        }
    }

    std::unique_ptr<RubberBand::RubberBandStretcher> m_rb;
    std::unique_ptr<RubberBand::RubberBandStretcher> m_spare;
    Settings m_spareFor;
    qint64 m_spareDrop = 0;
    double m_rate = 1;
    qint64 m_drop = 0;
    std::deque<Fed> m_fed;
    qint64 m_fedFrames = 0;
    qint64 m_out = 0;
    bool m_final = false;
    bool m_gap = false;
    std::vector<float> m_in, m_left, m_right;
};

struct SampleEngine::Shared {
    explicit Shared(const Options& o) : options(o) {}

    Options options;
    std::unique_ptr<AudioOutput> output;

    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable openedWake;
    bool quit = false;
    quint64 loadGeneration = 0;
    QString loadPath;
    bool loadWanted = false;
    std::optional<Opened> opened;
    std::optional<Plan> plan;
    std::optional<std::pair<quint64, NextEntry>> next;  // with the epoch it belongs to
    std::optional<Opened> nextOpened;
    // renderAhead(): the worker tells, by copying the request's number, that it is idle.
    quint64 idleWanted = 0;
    quint64 idleSeen = 0;
    std::condition_variable idleWake;

    // Between the worker and the output thread, and read by the UI: no locks.
    SpscQueue<Chunk> ring{kRingChunks};
    SpscQueue<Note> notes{16384};
    std::atomic<quint64> epoch{0};
    std::atomic<quint64> seenEpoch{0};
    // A change during play: the chunks from `dropFrom` to `dropTo` are not played.
    std::atomic<quint64> taken{0};
    std::atomic<quint64> dropFrom{1};
    std::atomic<quint64> dropTo{0};
    std::atomic<bool> gate{false};
    std::atomic<double> writtenPos{0};
    std::atomic<qint64> written{0};
    std::atomic<qint64> outputBase{0};

    // The output thread's own.
    qint64 offset = 0;
    bool silent = true;

    qint64 pull(float* out, qint64 frames);
    bool dropped(const Chunk* c) const
    {
        return c->seq >= dropFrom.load(std::memory_order_acquire) && c->seq <= dropTo.load(std::memory_order_acquire);
    }
    void run(QPointer<SampleEngine> engine);
};

qint64 SampleEngine::Shared::pull(float* out, qint64 frames)
{
    const quint64 ep = epoch.load(std::memory_order_acquire);
    for (Chunk* c; (c = ring.front()) && (c->epoch < ep || dropped(c));) {
        ring.pop();
        offset = 0;
    }
    seenEpoch.store(ep, std::memory_order_release);
    const qint64 w = written.load(std::memory_order_relaxed);
    qint64 filled = 0;
    if (gate.load(std::memory_order_acquire)) {
        while (filled < frames) {
            Chunk* c = ring.front();
            if (!c) break;
            if (dropped(c)) {
                ring.pop();
                offset = 0;
                continue;
            }
            taken.store(c->seq, std::memory_order_release);
            if (offset == 0 || silent) {
                notes.push(Note{double(w + filled), c->epoch, c->entry, c->sourcePos + double(offset) * c->step, c->step,
                                c->frames - offset, false, c->passStart && offset == 0, c->end});
                silent = false;
            }
            const qint64 n = std::min(frames - filled, c->frames - offset);
            std::memcpy(out + filled * kChannels, c->data + offset * kChannels, sizeof(float) * kChannels * n);
            filled += n;
            offset += n;
            writtenPos.store(c->sourcePos + double(offset) * c->step, std::memory_order_relaxed);
            if (offset >= c->frames) {
                ring.pop();
                offset = 0;
            }
        }
    }
    if (filled < frames) {
        if (!silent) {
            notes.push(Note{double(w + filled), ep, 0, 0, 0, 0, true, false, false});
            silent = true;
        }
        std::memset(out + filled * kChannels, 0, sizeof(float) * kChannels * (frames - filled));
    }
    written.store(w + frames, std::memory_order_release);
    return filled;
}

void SampleEngine::Shared::run(QPointer<SampleEngine> engine)
{
    auto decoder = std::make_unique<Decoder>();
    DecoderSource source(decoder.get());
    QString currentPath;
    std::unique_ptr<LoopReader> reader;
    Stretcher stretch;
    std::optional<std::pair<quint64, NextEntry>> next;
    quint64 epochNow = 0, entryNow = 0;
    bool rendering = false;
    quint64 seq = 0;
    quint64 planFirst = 1;  // the first chunk of the plan rendered now
    // This plan's chunks not yet taken: what the output drops of an older plan, the
    // worker need not wait for.
    const auto ahead = [&] {
        const quint64 done = std::max(taken.load(std::memory_order_acquire), planFirst - 1);
        return std::size_t(seq > done ? seq - done : 0);
    };
    std::deque<Rendered> rendered;  // what the ring holds of this plan, for a change during play
    int renderedPass = 0;           // the pass the last chunk rendered is in
    std::size_t startHeld = 0;  // chunks of a start after silence filled, not yet handed over
    std::size_t startWanted = 0;
    const auto publish = [&](Chunk* c) {
        c->seq = ++seq;
        if (c->passStart) ++renderedPass;
        rendered.push_back(Rendered{c->seq, c->sourcePos, c->step, c->frames, c->passStart, renderedPass});
        while (rendered.size() > kRingChunks) rendered.pop_front();
        if (startWanted > 0 && startHeld + 1 < startWanted && !c->end) {
            ++startHeld;
            return;
        }
        ring.publish(startHeld + 1);
        const bool started = startWanted > 0;
        startHeld = startWanted = 0;
        // The first sound goes out at once, not after the rest rendered ahead (tens of
        // milliseconds when stretching).
        if (started && gate.load(std::memory_order_acquire)) output->kick();
    };
    int sampleRate = 44100;
    PracticePlan practice;
    int passNow = 0;
    bool passBegun = false;       // the pending pass's turn was taken (its preroll played)
    std::optional<PassPlan> preroll;  // playing now, or due once the stretcher has finished
    bool prerollPlaying = false;
    qint64 prerollAt = 0;
    double holdPos = 0;
    // A pass is about to begin: its rate, and whether its seam is cut (a preroll, a new rate).
    const auto turn = [&]() -> Stretcher::Turn {
        if (passBegun) {
            passBegun = false;
            return {false, practice.rateOf(passNow)};
        }
        ++passNow;
        const PassPlan p = practice.pass(passNow);
        reader->setGapAtWrap(practice.cutBefore(passNow + 1));
        if (p.prerollFrames > 0) {
            preroll = p;
            holdPos = double(reader->position());
        }
        passBegun = practice.cutBefore(passNow);
        return {passBegun, p.rate};
    };
    int outputRate = 0;

    const auto post = [&](auto fn) {
        QMetaObject::invokeMethod(engine, fn, Qt::QueuedConnection);
    };
    // A stretched seam blends longer: the stretcher's window (some 46 ms) hears a faster
    // turn of phase as two sounds at once, and their sum dips.
    const auto fadeFrames = [&](int sampleRate) {
        const int ms = options.crossfadeMs > 0 && practice.stretches() ? std::max(options.crossfadeMs, kStretchedBlendMs)
                                                                      : options.crossfadeMs;
        return qint64(ms) * sampleRate / 1000;
    };
    const auto useRate = [&](int sampleRate) {
        if (sampleRate == outputRate) return;
        output->stop();
        outputBase.store(written.load());
        output->start(sampleRate, [this](float* out, qint64 frames) { return pull(out, frames); });
        outputRate = sampleRate;
    };

    for (;;) {
        std::optional<std::pair<quint64, QString>> load;
        std::optional<Plan> plan;
        {
            std::unique_lock lock(mutex);
            // Every command wakes the worker; the timeout only tops up what is ahead, a few
            // chunks at a time, rather than one chunk a wakeup. A ring full of what the
            // output is still to drop is looked at again soon.
            const bool full = ring.size() >= ring.capacity();
            const bool busy = rendering && ahead() < kAheadChunks && !full;
            if (!busy) {
                // Nothing left to do until the output takes more or a command comes.
                if (!quit && !loadWanted && !this->plan && idleSeen != idleWanted) {
                    idleSeen = idleWanted;
                    idleWake.notify_all();
                }
                wake.wait_for(lock, !rendering ? kIdleWait : full ? kFullWait : kTopUpWait,
                              [&] { return quit || loadWanted || this->plan.has_value() || idleSeen != idleWanted; });
            }
            if (quit) return;
            if (loadWanted) {
                load = std::pair{loadGeneration, loadPath};
                loadWanted = false;
            }
            if (this->plan) {
                plan = this->plan;
                this->plan.reset();
            }
            if (this->next && (!next || this->next->first != next->first || this->next->second.path != next->second.path))
                next = this->next;
        }

        if (load) {
            rendering = false;
            reader.reset();
            next.reset();
            Opened result;
            result.generation = load->first;
            result.ok = decoder->open(load->second, &result.error);
            source.reset();
            currentPath = QFileInfo(load->second).absoluteFilePath();
            if (result.ok) {
                result.format = decoder->format();
                result.tags = decoder->tags();
                useRate(result.format.sampleRate);
            }
            {
                std::lock_guard lock(mutex);
                opened = result;
            }
            openedWake.notify_all();
            const quint64 gen = load->first;
            post([engine, gen] { if (engine) engine->opened(gen); });
        }

        if (plan && decoder->format().sampleRate > 0) {
            const Format f = decoder->format();
            const quint64 previous = epochNow;
            epochNow = plan->epoch;
            entryNow = plan->entry;
            double from = plan->from.value_or(0.0);
            std::optional<Switch> live;
            if (!plan->from && previous == epochNow)
                live = chooseSwitch(rendered, taken.load(std::memory_order_acquire), kSwitchLeadChunks);
            rendered.clear();
            if (live) {
                // What is kept plays on; the rest is rendered again from where it ends.
                dropFrom.store(live->keepUntil + 1, std::memory_order_release);
                dropTo.store(seq, std::memory_order_release);
                from = live->from / f.sampleRate;
            } else if (!plan->from) {
                // On from where the output stopped taking the old plan.
                for (int i = 0; i < 50 && seenEpoch.load() < epochNow && previous != epochNow; ++i)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                from = writtenPos.load() / f.sampleRate;
            }
            // Going on from what plays, the passes go on from the one the output is in, not
            // from the one the listener hears now.
            const bool goesOn = !plan->from && previous == epochNow;
            const int passFrom = live ? live->pass : goesOn ? renderedPass : plan->pass;
            if (goesOn && plan->loop) plan->loop->wraps = wrapsLeft(plan->loop->wraps, plan->pass, passFrom);
            renderedPass = passFrom;
            FrameLoop fl = entryFrames(from, plan->loop, f);
            bool wrapNow = false;
            if (live && fl.loop && fl.loop->stop > fl.loop->start && fl.from >= fl.loop->stop && fl.loop->wraps != 0) {
                // The new stop is behind what plays by now (set to the place heard): the
                // pass ends here, rather than the sound running on past the stretch.
                fl.from = fl.loop->start;
                if (fl.loop->wraps > 0) --fl.loop->wraps;
                wrapNow = true;
            }
            practice = PracticePlan(plan->practice, plan->rate, f.sampleRate);
            reader = std::make_unique<LoopReader>(source, fadeFrames(f.sampleRate));
            reader->seek(fl.from, wrapNow);
            reader->setLoop(fl.loop);
            sampleRate = f.sampleRate;
            passNow = passFrom;
            passBegun = false;
            reader->setGapAtWrap(practice.cutBefore(passNow + 1));
            preroll.reset();
            prerollPlaying = false;
            if (plan->preroll && practice.pass(passNow).prerollFrames > 0) {
                preroll = practice.pass(passNow);
                prerollPlaying = true;
                prerollAt = 0;
                holdPos = double(fl.from);
            }
            // Rate 1 without a transpose is not stretched at all: the source's own samples.
            if (practice.stretches())
                stretch.start(f.sampleRate, practice.rateOf(passNow), practice.pitchScale());
            else
                stretch.stopUsing();
            rendering = true;
            planFirst = seq + 1;
            startHeld = 0;
            startWanted = live ? 0 : kStartChunks;
            if (next && next->first != epochNow) next.reset();
        }
        if (!rendering || !reader) continue;
        if (next && next->first == epochNow)
            reader->setFollowed(true, cutIntoNext(practice, passNow, PracticePlan(next->second.practice, next->second.rate,
                                                                                  sampleRate)));

        // Render ahead, a chunk at a time, while there is room.
        while (ahead() < kAheadChunks) {
            if (epoch.load() != epochNow) {
                rendering = false;  // a newer plan is on its way, or none (unloaded)
                break;
            }
            Chunk* c = ring.slot(startHeld);
            if (!c) break;
            c->epoch = epochNow;
            if (preroll && !prerollPlaying && !stretch.active()) {
                // No stretcher to finish first: the preroll begins at once.
                prerollPlaying = true;
                prerollAt = 0;
            }
            if (prerollPlaying) {
                // Silence and clicks before a pass; the position holds at where it begins.
                const qint64 n = std::min(kChunkFrames, preroll->prerollFrames - prerollAt);
                renderPreroll(*preroll, sampleRate, prerollAt, c->data, n);
                prerollAt += n;
                if (prerollAt >= preroll->prerollFrames) {
                    preroll.reset();
                    prerollPlaying = false;
                }
                c->frames = n;
                c->sourcePos = holdPos;
                c->step = 0;
                c->passStart = false;
                c->end = false;
                c->entry = entryNow;
                publish(c);
                continue;
            }
            if (!stretch.active() && reader->passPending() && turn().gap) continue;
            if (stretch.active()) {
                const bool ready = stretch.fill(*reader, entryNow, turn);
                if (!ready && stretch.atGap()) {
                    // This pass's sound has run out of the stretcher: the preroll, if any, then
                    // the next pass from a fresh start at its own rate.
                    stretch.start(sampleRate, practice.rateOf(passNow), practice.pitchScale());
                    prerollPlaying = preroll.has_value();
                    prerollAt = 0;
                    continue;
                }
                if (!ready) {
                    c->frames = 0;
                    c->end = true;
                    c->entry = entryNow;
                    c->sourcePos = double(reader->position());
                    c->passStart = false;
                } else {
                    stretch.take(*c);
                }
            } else {
                const Block b = reader->read(c->data, kChunkFrames);
                c->frames = b.frames;
                c->sourcePos = double(b.sourcePos);
                c->step = 1;
                c->passStart = b.passStart;
                c->end = b.end || reader->failed();
                c->entry = entryNow;
            }
            if (c->end && next && next->first == epochNow) {
                // The next entry follows the last sample: its start blends out what
                // followed this one's stop.
                const NextEntry n = next->second;
                next.reset();
                {
                    std::lock_guard lock(mutex);
                    this->next.reset();
                }
                std::vector<float> tail = reader->takeTail();
                Opened info;
                bool ok = true;
                if (QFileInfo(n.path).absoluteFilePath() != currentPath) {
                    auto other = std::make_unique<Decoder>();
                    ok = other->open(n.path, &info.error) && other->format().sampleRate == decoder->format().sampleRate;
                    if (ok) {
                        decoder = std::move(other);
                        source.setDecoder(decoder.get());
                        currentPath = QFileInfo(n.path).absoluteFilePath();
                    }
                }
                if (ok) {
                    info.ok = true;
                    info.format = decoder->format();
                    info.tags = decoder->tags();
                    ++entryNow;
                    const FrameLoop fl = entryFrames(n.start, n.hasLoop ? std::optional(n.loop) : std::nullopt, info.format);
                    reader = std::make_unique<LoopReader>(source, fadeFrames(info.format.sampleRate));
                    reader->seek(fl.from);
                    reader->setLoop(fl.loop);
                    reader->setIncoming(std::move(tail));
                    // Its passes count from its first, which may begin with a pause and
                    // clicks after this one's last sample, at its own rate and pitch. The
                    // stretcher has given all of this entry's sound: it starts over.
                    practice = PracticePlan(n.practice, n.rate, sampleRate);
                    passNow = 0;
                    renderedPass = 0;
                    passBegun = false;
                    reader->setGapAtWrap(practice.cutBefore(1));
                    preroll.reset();
                    prerollPlaying = false;
                    if (practice.pass(0).prerollFrames > 0) {
                        preroll = practice.pass(0);
                        prerollPlaying = true;
                        prerollAt = 0;
                        holdPos = double(fl.from);
                    }
                    if (practice.stretches())
                        stretch.start(sampleRate, practice.rateOf(0), practice.pitchScale());
                    else
                        stretch.stopUsing();
                    c->end = false;
                    {
                        std::lock_guard lock(mutex);
                        nextOpened = info;
                    }
                    if (c->frames == 0) continue;  // the slot is filled from the next entry
                }
            }
            publish(c);
            if (c->end) {
                rendering = false;
                break;
            }
        }
        if (gate.load(std::memory_order_acquire) && ring.size() > 0) output->kick();
        if (rendering && practice.stretches())
            stretch.keepSpare(sampleRate, practice.rateOf(passNow), practice.pitchScale());
    }
}

SampleEngine::SampleEngine(QObject* parent) : SampleEngine(Options{}, parent) {}

SampleEngine::SampleEngine(const Options& options, QObject* parent)
    : MediaEngine(parent), m_options(options), m_shared(std::make_unique<Shared>(options))
{
    if (options.output) m_shared->output = options.output();
    else if (options.audioOutput) m_shared->output = openPulseOutput(kPulseConnectMs);
    if (!m_shared->output) m_shared->output = openNullOutput();
    m_heardTimer.setInterval(kHeardPollMs);
    m_heardTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_heardTimer, &QTimer::timeout, this, &SampleEngine::tick);
    m_worker = std::thread([shared = m_shared.get(), self = QPointer<SampleEngine>(this)] { shared->run(self); });
}

SampleEngine::~SampleEngine()
{
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->quit = true;
    }
    m_shared->wake.notify_all();
    if (m_worker.joinable()) m_worker.join();
    m_shared->output->stop();
}

QString SampleEngine::outputName() const
{
    return QString::fromLatin1(m_shared->output->name());
}

bool SampleEngine::renderAhead(int timeoutMs)
{
    std::unique_lock lock(m_shared->mutex);
    const quint64 wanted = ++m_shared->idleWanted;
    m_shared->wake.notify_all();
    return m_shared->idleWake.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                       [&] { return m_shared->idleSeen >= wanted; });
}

void SampleEngine::pollHeard()
{
    if (m_heardTimer.isActive()) tick();
}

void SampleEngine::load(const QString& path)
{
    ++m_generation;
    m_path = path;
    m_loaded = false;
    m_atEnd = false;
    m_tags.clear();
    m_duration = 0;
    m_planStart = 0;
    m_next.reset();
    m_pauseWanted = false;
    m_shared->gate.store(false);
    // Whatever played stops at once.
    m_shared->epoch.store(++m_epoch);
    m_planDirty = false;
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->plan.reset();
        m_shared->next.reset();
        m_shared->opened.reset();
        if (!path.isEmpty()) {
            m_shared->loadGeneration = m_generation;
            m_shared->loadPath = path;
            m_shared->loadWanted = true;
        }
    }
    m_loadPending = !path.isEmpty();
    reportDuration();
    // A load under way counts as playing: no Stopped between two files.
    setState(m_loadPending ? PlayState::Playing : PlayState::Stopped);
    if (!m_loadPending) return;
    // The worker opens the file and renders the plan made meanwhile straight after, so
    // the sound starts without waiting for this thread in between.
    m_shared->gate.store(true);
    sendPlan(0.0);
    m_shared->wake.notify_all();
}

bool SampleEngine::waitForLoad(int timeoutMs)
{
    if (!m_loadPending) return m_loaded;
    {
        std::unique_lock lock(m_shared->mutex);
        const quint64 gen = m_generation;
        m_shared->openedWake.wait_for(lock, std::chrono::milliseconds(std::max(0, timeoutMs)),
                                      [&] { return m_shared->opened && m_shared->opened->generation == gen; });
    }
    opened(m_generation);
    return m_loaded;
}

void SampleEngine::opened(quint64 generation)
{
    if (generation != m_generation || !m_loadPending) return;
    std::optional<Opened> result;
    {
        std::lock_guard lock(m_shared->mutex);
        if (m_shared->opened && m_shared->opened->generation == generation) result = m_shared->opened;
    }
    if (!result) return;
    m_loadPending = false;
    if (!result->ok) {
        failLoad(result->error);
        return;
    }
    m_loaded = true;
    m_sampleRate = result->format.sampleRate;
    m_duration = result->format.frames > 0 ? double(result->format.frames) / m_sampleRate : 0.0;
    m_tags = result->tags;
    // The plan went with the load; the worker holds its start to the file's end too.
    if (m_duration > 0) m_planStart = std::min(m_planStart, m_duration);
    if (!m_planDirty) m_prerollDue = false;
    reportDuration();
    emit loaded();
    // Stopped meanwhile, it stays so.
    if (m_state == PlayState::Stopped) return;
    if (!m_pauseWanted) {
        m_shared->gate.store(true);
        m_shared->wake.notify_all();
        setState(PlayState::Playing);
    } else {
        setState(PlayState::Paused);
    }
}

void SampleEngine::failLoad(const QString& reason)
{
    m_loaded = false;
    m_loadPending = false;
    m_shared->gate.store(false);
    setState(PlayState::Stopped);
    reportDuration();
    emit loadFailed(reason);
}

void SampleEngine::sendPlan(std::optional<double> from)
{
    // Going on from what plays: until the new plan is heard, the position stands there.
    m_planStart = from ? *from : position();
    // From a new place, everything rendered for the old plan is dropped at once. Going on
    // from what plays, the worker replaces what it rendered ahead, without a gap. It gets
    // the newest plan only, once the caller is done changing it.
    if (from || m_state != PlayState::Playing) m_shared->epoch.store(++m_epoch);
    if (from) m_planFrom = from;
    if (m_planDirty) return;
    m_planDirty = true;
    QMetaObject::invokeMethod(this, &SampleEngine::flushPlan, Qt::QueuedConnection);
}

void SampleEngine::flushPlan()
{
    if (!m_planDirty) return;
    m_planDirty = false;
    if (!m_loaded && !m_loadPending) return;
    Plan plan;
    plan.epoch = m_epoch;
    plan.entry = m_entry;
    plan.from = m_planFrom;
    if (m_hasLoop) plan.loop = m_loop;
    plan.rate = m_rate;
    plan.practice = m_practice;
    plan.pass = m_practicePass;
    // The first pass's pause and count-in play once, where it is started from a place.
    plan.preroll = m_prerollDue && m_planFrom.has_value();
    // While the file opens each new plan replaces the last, which had it too.
    if (plan.preroll && !m_loadPending) m_prerollDue = false;
    m_planFrom.reset();
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->plan = plan;
        if (m_next) m_shared->next = std::pair{m_epoch, *m_next};
    }
    m_shared->wake.notify_all();
}

void SampleEngine::play()
{
    m_pauseWanted = false;
    if (m_loadPending) {
        m_shared->gate.store(true);
        m_shared->wake.notify_all();
        setState(PlayState::Playing);
    }
    if (!m_loaded) return;
    if (m_atEnd) {
        m_atEnd = false;
        m_planStart = m_endPos;
        sendPlan(m_endPos);
    }
    m_shared->gate.store(true);
    m_shared->wake.notify_all();
    setState(PlayState::Playing);
}

void SampleEngine::pause()
{
    m_pauseWanted = true;
    if (m_loadPending) {
        m_shared->gate.store(false);
        setState(PlayState::Paused);
    }
    if (!m_loaded) return;
    m_shared->gate.store(false);
    if (m_state == PlayState::Playing) {
        // Stand where the sound stopped, and go on from there.
        m_planStart = position();
    }
    setState(PlayState::Paused);
}

void SampleEngine::stop()
{
    m_shared->gate.store(false);
    m_atEnd = false;
    m_next.reset();
    m_planStart = 0;
    if (m_loaded || m_loadPending) sendPlan(0.0);
    setState(PlayState::Stopped);
}

void SampleEngine::seek(double seconds)
{
    if (!std::isfinite(seconds)) return;
    if (!m_loaded) {
        m_planStart = std::max(0.0, seconds);
        if (m_loadPending) sendPlan(m_planStart);
        return;
    }
    const double old = position();
    const double target = std::clamp(seconds, 0.0, m_duration > 0 ? m_duration : seconds);
    m_planStart = target;
    m_atEnd = false;
    m_next.reset();
    sendPlan(target);
    emit positionJumped(old, target);
}

void SampleEngine::replan()
{
    // While the file opens nothing is heard yet: the plan starts over from its start.
    if (m_loadPending) sendPlan(m_planStart);
    else if (m_loaded) sendPlan(m_state == PlayState::Playing ? std::nullopt : std::optional(m_planStart));
}

void SampleEngine::setRate(double rate)
{
    if (!(rate > 0) || !std::isfinite(rate) || rate == m_rate) return;
    m_rate = rate;
    showPassRate();
    replan();
}

void SampleEngine::setLoop(const LoopRange& range)
{
    // The same stretch with the wraps heard so far taken off is what plays already.
    if (m_hasLoop && range == m_loop) return;
    m_loop = range;
    m_hasLoop = true;
    replan();
}

void SampleEngine::clearLoop()
{
    if (!m_hasLoop) return;
    m_hasLoop = false;
    m_loop = {};
    m_next.reset();
    replan();
}

void SampleEngine::setPractice(const PracticeSettings& practice, int pass)
{
    const bool changed = practice != m_practice;
    m_practice = practice;
    if (pass != kGoOn) {
        m_practicePass = std::max(0, pass);
        m_prerollDue = true;
    }
    if (changed || pass != kGoOn) showPassRate();
    // Changed while it plays: heard from here on, the pass count kept.
    if (changed) replan();
}

void SampleEngine::showPassRate()
{
    if (!m_practice.hasTrainer()) return;
    emit passRateChanged(audio::PracticePlan(m_practice, m_rate, m_sampleRate).rateOf(m_practicePass));
}

bool SampleEngine::queueNext(const NextEntry& next)
{
    if (!m_loaded || m_state != PlayState::Playing || !m_hasLoop || !m_loop.holdAtStop || m_loop.wraps != 0 ||
        !(next.rate > 0) || next.path.isEmpty())
        return false;
    m_next = next;
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->next = std::pair{m_epoch, next};
    }
    m_shared->wake.notify_all();
    return true;
}

void SampleEngine::setState(PlayState s)
{
    if (s == PlayState::Playing)
        m_heardTimer.start();
    else
        m_heardTimer.stop();
    if (s == m_state) return;
    const PlayState old = m_state;
    m_state = s;
    emit stateChanged(old, s);
}

double SampleEngine::heardFrame() const
{
    // Never back: a timing report may lag the clock run on from the one before.
    m_heard = std::max(m_heard, double(m_shared->outputBase.load()) + m_shared->output->heardFrames());
    return m_heard;
}

void SampleEngine::drainRuns() const
{
    for (Note* n; (n = m_shared->notes.front()); m_shared->notes.pop()) {
        Run r;
        static_cast<Heard&>(r) = *n;
        if (r.silence && !m_runs.empty() && !m_runs.back().silence) {
            // Silence stands where the sound before it ended.
            const Run& b = m_runs.back();
            r.sourcePos = b.sourcePos + double(b.frames) * b.step;
            r.entry = b.entry;
            r.epoch = b.epoch;
        }
        m_runs.push_back(r);
    }
    // Keep what is still to be heard and the run heard now.
    const double heard = heardFrame();
    while (m_runs.size() > 1 && m_runs[1].at <= heard && m_runs.front().handled) m_runs.pop_front();
}

double SampleEngine::position() const
{
    if (!m_loaded || m_state == PlayState::Stopped || m_state == PlayState::Paused) {
        if (m_atEnd) return m_endPos;
        if (m_state != PlayState::Paused || !m_loaded) return m_planStart;
    }
    drainRuns();
    const double heard = heardFrame();
    const Run* run = nullptr;
    for (const Run& r : m_runs)
        if (r.at <= heard) run = &r;
    // Until the new plan is heard, the position is where it begins.
    if (!run || run->epoch != m_epoch || run->entry != m_entry) return m_planStart;
    const double into = run->silence ? 0.0 : std::min(heard - run->at, double(run->frames));
    const double pos = (run->sourcePos + into * run->step) / m_sampleRate;
    // While the engine wraps by itself its stop is never heard; a stretched pass's last
    // frames may map a hair past it, which must not read as having reached it.
    if (m_hasLoop && m_loop.wraps != 0 && m_loop.stop > m_loop.start && pos >= m_loop.stop && run->sourcePos < m_loop.stop * m_sampleRate)
        return m_loop.stop - 1.0 / m_sampleRate;
    return pos;
}

void SampleEngine::tick()
{
    // What is heard before this thread knows the file is told once it does.
    if (!m_loaded) return;
    drainRuns();
    const double heard = heardFrame();
    for (Run& r : m_runs) {
        if (r.handled || r.at > heard) continue;
        if (r.epoch != m_epoch) {
            r.handled = true;
            continue;
        }
        if (r.entry == m_entry + 1 && m_next) {
            // The handed-over entry is heard: it is the one playing now.
            std::optional<Opened> info;
            {
                std::lock_guard lock(m_shared->mutex);
                info = m_shared->nextOpened;
                m_shared->nextOpened.reset();
            }
            m_entry = r.entry;
            const NextEntry n = *m_next;
            m_next.reset();
            m_path = n.path;
            m_hasLoop = n.hasLoop;
            m_loop = n.hasLoop ? n.loop : LoopRange{};
            m_planStart = n.start;
            m_rate = n.rate;
            m_practice = n.practice;
            m_practicePass = 0;
            m_prerollDue = false;
            showPassRate();
            if (info && info->ok) {
                m_duration = info->format.frames > 0 ? double(info->format.frames) / m_sampleRate : 0.0;
                m_tags = info->tags;
            }
            reportDuration();
            emit nextStarted();
        }
        if (r.entry != m_entry) {
            r.handled = true;
            continue;
        }
        if (r.passStart) {
            r.passStart = false;
            if (m_hasLoop && m_loop.wraps > 0) --m_loop.wraps;
            ++m_practicePass;
            showPassRate();
            emit loopWrapped();
        }
        if (r.end) {
            if (heard < r.at + double(r.frames)) continue;
            r.handled = true;
            m_atEnd = true;
            m_endPos = (r.sourcePos + double(r.frames) * r.step) / m_sampleRate;
            m_shared->gate.store(false);
            setState(PlayState::Stopped);
            return;
        }
        r.handled = true;
    }
    scheduleTick(heard);
}

void SampleEngine::scheduleTick(double heard)
{
    double due = heard + kHeardPollMs * m_sampleRate / 1000.0;
    for (const Run& r : m_runs) {
        if (r.handled || r.epoch != m_epoch || !(r.passStart || r.end || r.entry != m_entry)) continue;
        due = std::min(due, r.end ? r.at + double(r.frames) : r.at);
        break;
    }
    m_heardTimer.start(std::max(1, int(std::ceil((due - heard) * 1000.0 / m_sampleRate))));
}

} // namespace player
