#include "engine/sample/sampleengine.h"

#include "app/pooltask.h"

#include "audio/audiodecoder.h"
#include "audio/decodersource.h"
#include "audio/beatclicker.h"
#include "audio/audiooutput.h"
#include "audio/failoveroutput.h"
#include "audio/liveswitch.h"
#include "audio/loopreader.h"
#include "audio/partfilter.h"
#include "audio/practiceplan.h"
#include "audio/realtime.h"
#include "audio/spscqueue.h"
#include "audio/stretcher.h"
#include "engine/sample/stemfiles.h"
#include "beats/beatclicks.h"

#include <QFileInfo>
#include <QPointer>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <limits>
#include <mutex>
#include <span>
#include <utility>
#include <variant>

namespace engine {

using namespace audio;

namespace {

constexpr std::size_t kRingChunks = 192;
// How far the worker decodes ahead of the output: some 0.75 s at 44.1 kHz, up to some
// 1.7 s where it was held up (audio::RenderAhead); the rest of the ring is room for what
// the output still drops of an older plan.
constexpr std::size_t kAheadChunks = 64;
constexpr std::size_t kMostAheadChunks = kRingChunks * 3 / 4;
constexpr auto kTopUpWait = std::chrono::milliseconds(40);
constexpr auto kIdleWait = std::chrono::milliseconds(500);
constexpr auto kFullWait = std::chrono::milliseconds(5);
constexpr int kPulseConnectMs = 500;
// The UI looks at what the output took this often, and wakes at the very frame of a wrap,
// an end or the next entry once it knows of one; the output takes its sound some 100 ms
// before it is heard, so every such frame is known at least 60 ms in time. (Each look is
// a wake-up of the UI thread: at 20 ms they were most of what a playing program cost.)
constexpr int kHeardPollMs = 40;
constexpr int kHeardWaitMaxMs = 250;
// Chunks (some 12 ms each) the output plays on while a change made during play is rendered.
constexpr quint64 kSwitchLeadChunks = 2;
// A stop moved behind what the output holds is heard as soon as the output can replace its
// queue: this long after the earliest frame it can, for rendering the sound that replaces it
// (a fresh stretcher's first chunks take longer).
constexpr int kReplaceMarginMs = 5;
constexpr int kStretchedReplaceMarginMs = 15;
// A remix's first frames go out sooner (a short lead-in, kRemixLeadInFrames, and previews
// from its second chunk): where the server reads on past the cut meanwhile, they are left out.
constexpr int kStretchedRemixMarginMs = 10;
// A remix of the stems replaces all the output holds from just past what the server has
// played, in one write once it is rendered that far and this much further (more than the
// server asks for at a time): a replacement followed by silence for the worker to catch up
// on gapped for 60-700 ms on the loaded machine.
constexpr int kRemixSlackMs = 50;
// ... where it renders this many times faster than real time; slower (a busy machine), it
// waits until it is as far ahead as the old sound was (remixReady()).
constexpr double kFastRemix = 4;
// The remix's first frames are put in the server's queue as soon as this much of it is
// rendered (AudioOutput::preview()), so that the change is heard within a server request,
// and again each step more until the whole replacement follows: all the queue takes some
// 25 ms to render, its first chunk some 9 after the fresh stretcher's 5 ms lead-in, each
// further one about 1. (Waiting for 50 ms of it and four times real time in all, the
// lead-in counted, put the first frames out some 6 ms later.)
constexpr int kRemixFirstPreviewMs = 20;
constexpr int kRemixPreviewStepMs = 20;
// A remix's stretcher hears this much before the cut, not the 4096 frames of other starts:
// to its second chunk at 0.75 that took 9.7 ms of CPU, not 14.4. Its phases never matched
// the stretcher it replaces whatever the lead-in, and its level is within 0.5 dB from the
// first 5 ms (without one, 6 dB soft there). With 1024 (8.0 ms) the old mix's tail rang
// on 10 ms longer where the new mix cancels to silence.
constexpr qint64 kRemixLeadInFrames = 2048;
// Where the output can replace nothing, it goes on after this many chunks beyond what the
// output took: the worker has their time to render it with a fresh stretcher.
constexpr quint64 kRemixLeadChunks = 6;
// Sound after silence is handed over this many chunks at once: the output writes the first
// of it over queued silence just ahead of where the server reads, and what follows must be
// there before the server gets to it, even when the worker is held up a while.
// New hear settings run over what the server holds again (rehear()): what went into the
// filters is kept longer than the server ever holds of ours plus the frames before it that
// warm the filters' state (a 20 Hz edge's ring falls some 25 dB in that time).
constexpr int kHearInKeptMs = 1000;
constexpr int kRehearWarmMs = 50;
constexpr std::size_t kStartChunks = 3;
// A stop this close past the file's end is the file's end (the stop text rounds).
constexpr double kEndSlackSeconds = 0.002;
constexpr int kStretchedBlendMs = 30;
// An end rendered ahead is told to the output only this close to it: a next entry handed
// over meanwhile (its last pass may be shorter than what is rendered ahead) still follows
// without a gap.
constexpr std::size_t kEndLeadChunks = 4;
// The last blend before a hold waits for the next entry (list play hands it over once the
// last pass is heard) until the output is this close to it; then it is rendered as if
// nothing followed, which leaves time to render it and the stretcher's flush.
constexpr std::size_t kAwaitLeadChunks = kEndLeadChunks + 4;

using Note = SampleEngine::Heard;

struct FrameLoop {
    std::optional<Loop> loop;
    qint64 from = 0;
};

// The seconds of source one pass plays: its stretch, or the file from where it starts.
double stretchSeconds(const FrameLoop& fl, const Format& f)
{
    if (f.sampleRate <= 0) return 0;
    if (fl.loop && fl.loop->stop > fl.loop->start) return double(fl.loop->stop - fl.loop->start) / f.sampleRate;
    return f.frames > fl.from ? double(f.frames - fl.from) / f.sampleRate : 0;
}

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
    bool dropNext = false; // the next entry handed over is taken back
    bool remix = false;    // only the stems' levels changed: rendered again from the frame heard
    SampleEngine::Quiet quiet = SampleEngine::Quiet::None;
};

// What the UI asks of the worker, in order; the worker answers through `opened` and
// `nextOpened`.
struct LoadCommand {
    quint64 generation = 0;
    QString path;  // empty: unload
};
struct NextCommand {
    quint64 epoch = 0;  // the plan it follows
    quint64 number = 0; // the entry it becomes: the one heard now, plus one, plus entry.after
    NextEntry entry;
};
struct QuitCommand {};
// New hear settings were posted: what the output holds goes again under them.
struct HearCommand {};
// The beats of `path`, for the metronome and the automatic count-in (none: forget them).
struct BeatsCommand {
    QString path;
    std::shared_ptr<const beats::BeatGrid> grid;
};
using Command = std::variant<LoadCommand, Plan, NextCommand, QuitCommand, BeatsCommand, HearCommand>;

struct Opened {
    quint64 generation = 0;
    bool ok = false;
    QString error;
    Format format;
    QHash<QString, QString> tags;
};

// The last frames pulled, by the frame pulled (written round): copied in and out in at most
// two blocks, for the pull's sake.
struct PulledRing {
    explicit PulledRing(int ch) : channels(ch) {}
    int channels;
    std::vector<float> data;
    qint64 frames() const { return qint64(data.size()) / channels; }
    void resize(qint64 n) { data.assign(std::size_t(n * channels), 0.0f); }
    // fn(the ring's slot, the first of the n asked for it holds, how many) in order.
    template <class Fn> void walk(qint64 at, qint64 n, Fn&& fn) const
    {
        const qint64 size = frames();
        for (qint64 i = 0; size > 0 && i < n;) {
            const qint64 slot = (at + i) % size, m = std::min(n - i, size - slot);
            fn(slot, i, m);
            i += m;
        }
    }
    // `from` null: silence.
    void put(qint64 at, const float* from, qint64 n)
    {
        walk(at, n, [&](qint64 slot, qint64 i, qint64 m) {
            float* to = data.data() + slot * channels;
            if (from) std::copy_n(from + i * channels, m * channels, to);
            else std::fill_n(to, m * channels, 0.0f);
        });
    }
    void get(qint64 at, qint64 n, float* to) const
    {
        walk(at, n, [&](qint64 slot, qint64 i, qint64 m) { std::copy_n(data.data() + slot * channels, m * channels, to + i * channels); });
    }
};

struct SampleEngine::Shared {
    explicit Shared(const Options& o) : options(o) {}

    Options options;
    std::unique_ptr<AudioOutput> output;

    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable openedWake;
    std::deque<Command> inbox;
    std::optional<Opened> opened;
    // Each entry handed over, by the number it became, until the UI hears it.
    std::deque<std::pair<quint64, Opened>> nextOpened;
    // The gate opened: the worker hands over what it rendered at once.
    bool nudged = false;
    // renderAhead(): the worker tells, by copying the request's number, that it is idle.
    quint64 idleWanted = 0;
    quint64 idleSeen = 0;
    // The last entry (with its plan's epoch) the UI heard play its last pass, set once it
    // had its chance to hand over the one after it (what it sent before is in the inbox by
    // then). An end is told only after that: an entry shorter than what is rendered ahead
    // is rendered whole, all its passes, before the UI hears the pass that hands over.
    std::pair<quint64, quint64> lastPassHeard{0, 0};
    std::condition_variable idleWake;

    // From the UI thread: the commands are taken together, in order.
    void post(std::span<const Command> commands)
    {
        const bool plan = std::any_of(commands.begin(), commands.end(), [](const Command& c) { return std::holds_alternative<Plan>(c); });
        {
            std::lock_guard lock(mutex);
            inbox.insert(inbox.end(), commands.begin(), commands.end());
            if (plan) planWaiting.store(true, std::memory_order_release);
        }
        wake.notify_all();
    }
    void post(std::initializer_list<Command> commands) { post(std::span(commands.begin(), commands.size())); }
    // A plan is in the inbox: the worker stops rendering ahead for it (after a remix that is
    // some 40 chunks, as many ms, which a second change made soon after waited for).
    std::atomic<bool> planWaiting{false};

    // Between the worker and the output thread, and read by the UI: no locks. The ring's one
    // consumer is whichever thread pulls: the output's own, or the worker's when it kicks.
    // They never pull at once only because the output serialises its kicks with its own
    // pulls (AudioOutput::Pull); an output that did not would break the ring.
    SpscQueue<audio::Chunk> ring{kRingChunks};
    SpscQueue<Note> notes{16384};
    std::atomic<quint64> epoch{0};
    std::atomic<quint64> seenEpoch{0};
    // A change during play: the chunks from `dropFrom` to `dropTo` are not played.
    std::atomic<quint64> taken{0};
    std::atomic<quint64> dropFrom{1};
    std::atomic<quint64> dropTo{0};
    std::atomic<bool> gate{false};
    // Whether the pull mixes in the metronome's clicks the worker rendered beside the sound.
    std::atomic<bool> metronome{false};
    std::atomic<double> writtenPos{0};
    // Stored by the pull, which must not lock: a library-made atomic double would.
    static_assert(std::atomic<double>::is_always_lock_free);
    std::atomic<qint64> written{0};
    std::atomic<qint64> outputBase{0};
    // Where each chunk's first frame went among the frames pulled (by seq, modulo the ring),
    // so that what the output holds maps back to the source.
    std::array<std::atomic<qint64>, kRingChunks> pulledAt{};
    // The frames pulled that the output replaced (never heard), from and to; the UI skips
    // what it was told of them.
    std::atomic<qint64> replacedFrom{0};
    std::atomic<qint64> replacedTo{0};

    // The pulling thread's own (see the ring).
    qint64 offset = 0;
    bool silent = true;
    // Where the next silence stands in the source when the sound before it was replaced
    // (-1: where that sound ended). Set by a replacement's `ready`, which runs as the
    // pulling thread does (AudioOutput::replace).
    double silenceAt = -1;
    quint64 silenceEntry = 0;  // the entry it stands in then (the sound after the cut may be another's)
    // What is heard of the mix, after the stretcher and the seam blends, at the output's rate:
    // applied as the sound leaves, so a change is heard within the output's buffer rather
    // than after all that is rendered ahead. Set from the UI through the mailbox; its rate
    // is set by the worker while the output is stopped.
    // An entry handed over in the worker brings its own settings, taken as its first chunk
    // is: `entryHear` is tagged by the entry.
    // Keeping the centre delays the sound (PartFilter::latency(), gliding in and out over
    // seconds): the notes tell where a chunk is heard with the delay it goes out with, a new
    // note at each pull while the delay moves.
    PartFilter hear;
    HearMailbox hearBox, entryHear;
    std::uint64_t hearSeen = 0;
    quint64 hearEntry = 0;
    int notedLatency = 0;
    // What went into the filters, by frame pulled, and the clicks put in after them, so that
    // new settings can run over what the server holds (rehear()); and the frame pulled where
    // the settings last changed. Sized while the output is stopped.
    PulledRing hearIn{kChannels}, clicksIn{1};
    std::vector<float> hearWarm;
    qint64 hearSetAt = 0;

    qint64 pull(float* out, qint64 frames);
    void keepHearIn(qint64 at, const float* in, qint64 n, const float* clicks);
    qint64 rehear(qint64 from, float* out, qint64 frames);
    static void mixClicks(const audio::Chunk& c, qint64 offset, float* out, qint64 n)
    {
        for (qint64 i = 0; i < n; ++i) {
            out[i * kChannels] += c.clicks[offset + i];
            out[i * kChannels + 1] += c.clicks[offset + i];
        }
    }
    bool dropped(const audio::Chunk* c) const
    {
        return c->seq >= dropFrom.load(std::memory_order_acquire) && c->seq <= dropTo.load(std::memory_order_acquire);
    }
    void run(QPointer<SampleEngine> engine);
    // From the worker: the UI takes the reply to a load from its own event loop.
    static void tellOpened(QPointer<SampleEngine> engine, quint64 generation)
    {
        app::postQueued(engine.data(), [engine, generation] { if (engine) engine->opened(generation); });
    }
};

// On the output's thread, or the worker's inside kick(): never both at once (see the ring).
qint64 SampleEngine::Shared::pull(float* out, qint64 frames)
{
    const quint64 ep = epoch.load(std::memory_order_acquire);
    for (audio::Chunk* c; (c = ring.front()) && (c->epoch < ep || dropped(c));) {
        ring.pop();
        offset = 0;
    }
    seenEpoch.store(ep, std::memory_order_release);
    const qint64 w = written.load(std::memory_order_relaxed);
    if (HearSettings h; hearBox.take(hearSeen, h)) hear.set(h), hearSetAt = w;
    qint64 filled = 0;
    if (gate.load(std::memory_order_acquire)) {
        while (filled < frames) {
            audio::Chunk* c = ring.front();
            if (!c) break;
            if (dropped(c)) {
                ring.pop();
                offset = 0;
                continue;
            }
            taken.store(c->seq, std::memory_order_release);
            if (HearSettings h; c->entry != hearEntry && entryHear.takeFor(c->entry, h)) {
                hear.set(h);
                hearEntry = c->entry;
                hearSetAt = w + filled;
            }
            if (offset == 0 || silent || hear.latency() != notedLatency) {
                notedLatency = hear.latency();
                pulledAt[c->seq % kRingChunks].store(w + filled - offset, std::memory_order_release);
                notes.push(Note{{c->epoch, c->entry, c->sourcePos + double(offset) * c->step, c->step, c->frames - offset,
                                 c->passStart && offset == 0, c->end},
                                double(w + filled + notedLatency), false});
                silent = false;
                silenceAt = -1;
            }
            const qint64 n = std::min(frames - filled, c->frames - offset);
            std::memcpy(out + filled * kChannels, c->data + offset * kChannels, sizeof(float) * kChannels * n);
            const bool clicks = c->hasClicks && metronome.load(std::memory_order_relaxed);
            keepHearIn(w + filled, out + filled * kChannels, n, clicks ? c->clicks + offset : nullptr);
            // The clicks go in after the filters, so a cancelled centre or a band keeps them.
            hear.process(out + filled * kChannels, n);
            if (clicks) mixClicks(*c, offset, out + filled * kChannels, n);
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
            Note n{{ep, silenceAt >= 0 ? silenceEntry : 0, std::max(0.0, silenceAt), 0, 0, false, false},
                   double(w + filled + hear.latency()), true};
            n.standsKnown = silenceAt >= 0;
            notes.push(n);
            silent = true;
            silenceAt = -1;
        }
        std::memset(out + filled * kChannels, 0, sizeof(float) * kChannels * (frames - filled));
        keepHearIn(w + filled, out + filled * kChannels, frames - filled, nullptr);
        hear.process(out + filled * kChannels, frames - filled);  // the filters' tails ring out
    }
    written.store(w + frames, std::memory_order_release);
    return filled;
}

// As pull() (its thread's own): the ring of what went into the filters, by frame pulled.
void SampleEngine::Shared::keepHearIn(qint64 at, const float* in, qint64 n, const float* clicks)
{
    hearIn.put(at, in, n);
    clicksIn.put(at, clicks, n);
}

// Runs as pull() does, where no pull comes between (AudioOutput::preview()), on the worker's
// thread: the frames pulled from `from` to what is pulled now go through the filters again,
// changing to the settings posted last at `from`, into `out`; the filters go on from there.
// All of them or none (0): where the settings changed too lately for the state at `from`
// to be known, or the change keeps the centre, the pull takes the settings as before.
qint64 SampleEngine::Shared::rehear(qint64 from, float* out, qint64 frames)
{
    const qint64 w = written.load(std::memory_order_relaxed);
    const qint64 kept = clicksIn.frames();
    const qint64 warm = qint64(hearWarm.size()) / kChannels;
    if (from + frames != w || frames <= 0 || w - from + warm > kept || from - warm < hearSetAt + hear.fadeFrames())
        return 0;
    std::uint64_t seen = hearSeen;
    HearSettings h;
    if (!hearBox.take(seen, h) || !hear.canRerun(h)) return 0;
    hearSeen = seen;
    hearSetAt = from;
    hearIn.get(from - warm, warm, hearWarm.data());
    hearIn.get(from, frames, out);
    hear.rerun(hearWarm.data(), warm, out, frames, h);
    // The clicks go in after the filters, as the pull put them.
    clicksIn.walk(from, frames, [&](qint64 slot, qint64 i, qint64 n) {
        for (qint64 k = 0; k < n; ++k)
            for (int c = 0; c < kChannels; ++c) out[(i + k) * kChannels + c] += clicksIn.data[std::size_t(slot + k)];
    });
    return frames;
}

// The worker thread: takes the UI's commands, opens files, and renders the plan ahead
// of the output, a chunk at a time. Everything here runs on the worker thread alone,
// except what goes through `sh` (the ring, the atomics, the mailbox under its mutex).
class Worker {
public:
    Worker(SampleEngine::Shared& shared, QPointer<SampleEngine> engine)
        : sh(shared), m_engine(std::move(engine)), m_decoder(std::make_unique<Decoder>()), m_source(m_decoder.get())
    {
    }
    void run();

private:
    // What is rendered now.
    enum class Mode {
        Idle,        // nothing: no plan, or a newer one on its way
        Preroll,     // silence and clicks before a pass
        Plain,       // the source's own samples (rate 1, no transpose)
        Stretching,  // through the stretcher
        Awaiting,    // rendered up to the last blend before a hold, which waits to hear
                     // whether a next entry follows and how (until the output nears it)
        Ended,       // all of the plan is rendered; its end waits for a next entry
    };
    // The commands taken at one wakeup; a newer one of a kind replaces the older.
    struct Inbox {
        bool quit = false;
        std::optional<LoadCommand> load;
        std::optional<Plan> plan;
        std::vector<NextCommand> next;
        std::vector<BeatsCommand> beats;  // in the order given
        bool hear = false;
    };

    Inbox takeCommands();
    void open(const LoadCommand& load);
    void applyPlan(Plan plan);
    std::optional<int> takeBackHandOver(quint64 entry);
    bool relooped(const Plan& plan);
    bool rangedInPlace(const Plan& plan);
    // Whether what the output may still replace or has not taken holds a wrap, or sound of
    // this entry past `stop` (source frames).
    bool againstRange(qint64 stop) const;
    // Sets up an entry's passes from `fl`, its first pass being `pass` (counted since its
    // practice began), with that pass's pause and count-in first when `preroll`.
    // `before`: the sound fed just before, where the start blends out of it (else the
    // stretcher hears the source's frames before the start).
    void beginEntry(const FrameLoop& fl, bool wrapNow, int pass, bool preroll, bool fadesIn = false,
                    const std::vector<float>& before = {});
    // The stretcher hears the source's frames before `from` (where they exist).
    void leadInFrom(qint64 from, qint64 wanted);
    bool handOver(std::vector<float> tail);
    // `cut`: the frame the output can replace from, where the caller read it already.
    std::optional<Takeover> takeover(quint64 taken, Change change, std::optional<double> stop,
                                     std::optional<quint64> firstEntry = std::nullopt,
                                     std::optional<qint64> cut = std::nullopt) const;
    // A pause the UI sent for the entry before the one handed over, cut in the latter.
    Plan goOnInHanded(const Plan& plan) const;
    void enterPreroll();
    bool quietFrom(const Takeover& cut);
    void quietAll();
    void markReplaced(qint64 from);
    qint64 joinInTime(qint64 from, std::size_t held, std::pair<quint64, quint64>& drop);
    std::vector<float> tailAt(double sourcePos);
    void renderAhead(bool timedWake);
    bool renderChunk(audio::Chunk* c);
    void renderPreroll(audio::Chunk* c);
    void holdEnd(audio::Chunk* c);
    void tellEnd();
    audio::Stretcher::Turn turn();
    void publish(audio::Chunk* c);
    void releaseStart();
    std::size_t ahead() const;
    qint64 fadeFrames() const;
    void useRate(int rate);
    bool nextFollows() const { return !m_next.empty() && m_next.front().epoch == m_epoch; }
    // The next entry is rendered only once the output took some of the one rendered now:
    // an entry handed over and not heard yet may still be taken back, one at a time.
    bool handOverAllowed() const;
    bool renderedOf(quint64 entry) const;
    void queueNext(NextCommand next);
    // The beats of the file open now, where they are known: the metronome's and the count-in's.
    const beats::BeatGrid* grid() const;
    void keepGrid(const QString& path, std::shared_ptr<const beats::BeatGrid> grid);
    void useBeats();
    std::vector<SourceClick> countInBar(const FrameLoop& fl, const Format& f) const;
    Mode soundMode() const { return m_practice.stretches() ? Mode::Stretching : Mode::Plain; }

    SampleEngine::Shared& sh;
    QPointer<SampleEngine> m_engine;
    std::unique_ptr<Decoder> m_decoder;
    DecoderSource m_source;
    // The entry's stems, where it has them: read in place of the decoder (stemfiles.h).
    OpenStems m_stems;
    std::optional<OpenStems> m_beforeStems;  // the entry's before a hand-over not heard yet
    FrameSource& source() { return m_stems.mix ? static_cast<FrameSource&>(*m_stems.mix) : m_source; }
    void useStems(const StemSet& set, std::optional<qint64> remixAt);
    QString m_path;  // absolute, of the file the decoder has open
    // The file of the entry before a hand-over the UI has not heard yet (none: the same).
    std::unique_ptr<Decoder> m_before;
    QString m_beforePath;
    std::unique_ptr<LoopReader> m_reader;
    audio::Stretcher m_stretch;
    std::vector<float> m_leadIn;
    // The entries to follow the one rendered now, in order: m_entry + 1 on.
    std::deque<NextCommand> m_next;
    Mode m_mode = Mode::Idle;
    quint64 m_epoch = 0, m_entry = 0;
    std::pair<quint64, quint64> m_lastPassHeard{0, 0};  // sh.lastPassHeard, as of the commands taken last
    double m_endPos = 0;  // where the source ended, told with the end
    int m_outputRate = 0;  // the rate every frame is rendered at

    quint64 m_seq = 0;
    quint64 m_planFirst = 1;  // the first chunk of the plan rendered now
    std::deque<Rendered> m_rendered;  // what the ring holds of this plan, for a change during play
    int m_renderedPass = 0;           // the pass the last chunk rendered is in
    std::size_t m_startHeld = 0;  // chunks of a start after silence filled, not yet handed over
    std::size_t m_startWanted = 0;
    qint64 m_replaceFrom = -1;    // the start replaces what the output holds from this frame
    // A remix replaces the whole queue: its chunks are held until they cover it, while the
    // old ones play on; these go (seqs, first to last) with the write that replaces them.
    bool m_replacesQueue = false;
    qint64 m_heldFrames = 0;
    qint64 m_previewedFrames = 0;  // of the remix's frames, those in the server's queue
    std::chrono::steady_clock::time_point m_lastHeldAt;  // when its last chunk was rendered
    void previewRemix();
    // New hear settings over what the server holds (Shared::rehear()).
    void rehear();
    bool remixStillReaches(quint64 entry, quint64 taken, qint64 cut) const;
    qint64 cutFrom(Change change) const;  // the first frame pulled a change may cut at (-1: none)
    qint64 pulledAt(quint64 seq) const { return sh.pulledAt[seq % kRingChunks].load(std::memory_order_acquire); }
    qint64 outputFrames(int ms) const { return qint64(ms) * m_outputRate / 1000; }
    std::optional<std::pair<quint64, quint64>> m_dropOnReplace;
    std::vector<std::pair<quint64, qint64>> m_oldAhead;  // the old chunks it replaces: seq, frames
    std::chrono::steady_clock::time_point m_remixBegan;
    RemixProgress remixProgress() const;

    PracticePlan m_practice;
    int m_pass = 0;
    bool m_passBegun = false;         // the pending pass's turn was taken (its preroll played)
    std::optional<PassPlan> m_preroll;  // playing now, or due once the stretcher has finished
    qint64 m_prerollAt = 0;
    // The entry's first preroll: its frame `at` begins chunk `seq` (none once a pass turns).
    struct PrerollFrom {
        quint64 seq = 0;
        qint64 at = 0;
    };
    std::optional<PrerollFrom> m_firstPreroll;
    std::optional<qint64> prerollKept(quint64 keepUntil) const;
    qint64 m_prerollResume = 0;  // where the next preroll begins: a pause's, played again
    qint64 m_holdChunkAt = -1;   // the preroll frame the chunk rendered now begins at
    double m_holdPos = 0;
    // The entry handed over last, as its own plan would have it (its first pass on).
    std::optional<Plan> m_handedPlan;

    // The beats of the files given them by absolute path, the last given last: the file open
    // now, the next entry's (given before its hand-over), the one before a hand-over.
    static constexpr std::size_t kGridsKept = 8;
    std::vector<std::pair<QString, std::shared_ptr<const beats::BeatGrid>>> m_grids;
    audio::BeatClicker m_clicker;
    audio::RenderAhead m_ahead{kAheadChunks, kMostAheadChunks};
    // The plan and chunk at which the last top-up reached the target: a wake-up that finds
    // both unchanged is the next top-up of the same sound, and tells how far the output got.
    std::optional<std::pair<quint64, quint64>> m_toppedUp;
};

Worker::Inbox Worker::takeCommands()
{
    Inbox in;
    std::unique_lock lock(sh.mutex);
    // Every command wakes the worker; the timeout only tops up what is ahead, a few chunks
    // at a time, rather than one chunk a wakeup. A ring full of what the output is still to
    // drop, or an end held back, is looked at again soon.
    const bool full = sh.ring.size() >= sh.ring.capacity();
    const bool held = m_mode == Mode::Ended || m_mode == Mode::Awaiting;
    const bool rendering = m_mode != Mode::Idle && !held;
    const bool busy = rendering && ahead() < m_ahead.target() && !full;
    if (!busy) {
        // Nothing left to do until the output takes more or a command comes: a hand-pulled
        // output's driver waits for this before it pulls.
        if (sh.inbox.empty() && sh.idleSeen != sh.idleWanted) {
            sh.idleSeen = sh.idleWanted;
            sh.idleWake.notify_all();
        }
        sh.wake.wait_for(lock, held || full ? kFullWait : !rendering ? kIdleWait : kTopUpWait,
                         [&] { return !sh.inbox.empty() || sh.idleSeen != sh.idleWanted || sh.nudged; });
    }
    sh.nudged = false;
    sh.planWaiting.store(false, std::memory_order_relaxed);
    m_lastPassHeard = sh.lastPassHeard;
    for (Command& c : sh.inbox) {
        if (std::holds_alternative<QuitCommand>(c)) {
            in.quit = true;
        } else if (auto* load = std::get_if<LoadCommand>(&c)) {
            // What was asked for the file before is void.
            const bool quit = in.quit;
            auto beats = std::move(in.beats);
            in = Inbox{};
            in.quit = quit;
            in.beats = std::move(beats);
            in.load = std::move(*load);
        } else if (auto* plan = std::get_if<Plan>(&c)) {
            if (plan->dropNext) in.next.clear();
            if (in.plan && in.plan->dropNext) plan->dropNext = true;
            in.plan = std::move(*plan);
        } else if (auto* next = std::get_if<NextCommand>(&c)) {
            in.next.push_back(std::move(*next));
        } else if (auto* beats = std::get_if<BeatsCommand>(&c)) {
            in.beats.push_back(std::move(*beats));
        } else if (std::holds_alternative<HearCommand>(c)) {
            in.hear = true;
        }
    }
    sh.inbox.clear();
    return in;
}

void Worker::useRate(int rate)
{
    if (rate == m_outputRate) return;
    sh.output->stop();
    sh.hear.setRate(rate);  // no pull while the output is stopped
    sh.hearIn.resize(qint64(rate) * kHearInKeptMs / 1000);
    sh.clicksIn.resize(qint64(rate) * kHearInKeptMs / 1000);
    sh.hearWarm.assign(std::size_t(rate) * kRehearWarmMs / 1000 * kChannels, 0.0f);
    sh.hearSetAt = sh.written.load();
    sh.outputBase.store(sh.written.load());
    sh.output->start(rate, [s = &sh](float* out, qint64 frames) { return s->pull(out, frames); });
    m_outputRate = rate;
}

void Worker::open(const LoadCommand& load)
{
    m_mode = Mode::Idle;
    m_reader.reset();
    m_next.clear();
    m_before.reset();
    m_stems = {};
    m_beforeStems.reset();
    m_handedPlan.reset();
    m_replacesQueue = false;
    m_dropOnReplace.reset();
    if (load.path.isEmpty()) return;  // an unload
    Opened result;
    result.generation = load.generation;
    result.ok = m_decoder->open(load.path, &result.error);
    m_source.reset();
    m_path = QFileInfo(load.path).absoluteFilePath();
    if (result.ok) {
        result.format = m_decoder->format();
        result.tags = m_decoder->tags();
        useRate(result.format.sampleRate);
    }
    {
        std::lock_guard lock(sh.mutex);
        sh.opened = result;
    }
    sh.openedWake.notify_all();
    SampleEngine::Shared::tellOpened(m_engine, load.generation);
}

qint64 Worker::fadeFrames() const
{
    // A stretched seam blends longer: the stretcher's window (some 46 ms) hears a faster
    // turn of phase as two sounds at once, and their sum dips.
    const int ms = sh.options.crossfadeMs;
    return outputFrames(ms > 0 && m_practice.stretches() ? std::max(ms, kStretchedBlendMs) : ms);
}

void Worker::beginEntry(const FrameLoop& fl, bool wrapNow, int pass, bool preroll, bool fadesIn,
                        const std::vector<float>& before)
{
    m_reader = std::make_unique<LoopReader>(source(), fadeFrames());
    m_reader->awaitFollower(true);
    m_reader->seek(fl.from, wrapNow);
    m_reader->setLoop(fl.loop);
    m_pass = pass;
    m_passBegun = false;
    m_reader->setGapAtWrap(m_practice.cutBefore(m_pass + 1));
    m_preroll.reset();
    m_mode = soundMode();
    m_firstPreroll.reset();
    if (preroll && m_practice.pass(m_pass).prerollFrames > 0) {
        m_preroll = m_practice.pass(m_pass);
        enterPreroll();
        m_firstPreroll = PrerollFrom{m_seq + 1, m_prerollAt};
        m_holdPos = double(fl.from);
        m_reader->fadeIn();  // out of the pause, as at every other pass after one
    }
    // Rate 1 without a transpose is not stretched at all: the source's own samples.
    if (m_practice.stretches()) {
        m_stretch.start(m_outputRate, m_practice.rateOf(m_pass), m_practice.pitchScale());
        // Sound that does not rise from silence goes on from the frames before it: those
        // heard, where it blends out of another stretch's end. (The frames before its start
        // would make a step at the seam, which the real-time stretcher answers some 6 dB soft
        // for a few ms, where its offline render does not.)
        if (m_mode != Mode::Preroll && !fadesIn) {
            if (before.empty()) leadInFrom(fl.from, m_replacesQueue ? kRemixLeadInFrames : m_stretch.leadInWanted());
            else m_stretch.leadIn(before.data(), qint64(before.size() / audio::kChannels));
        }
    } else {
        m_stretch.stopUsing();
    }
}

void Worker::useStems(const StemSet& set, std::optional<qint64> remixAt)
{
    if (stemPaths(set, m_path) != m_stems.paths) {
        const Format f = m_decoder->format();
        m_stems = openStems(set, m_path, f.sampleRate, f.frames);
        return;
    }
    if (!m_stems.mix) return;
    // A remix joins what plays through a short ramp from the frame it is rendered again
    // from; anything else starts at its levels.
    constexpr int kRemixRampMs = 5;
    if (remixAt) m_stems.mix->rampTo(stemGains(set), *remixAt, qint64(kRemixRampMs) * m_decoder->format().sampleRate / 1000);
    else m_stems.mix->setGains(stemGains(set));
}

void Worker::leadInFrom(qint64 from, qint64 wanted)
{
    const qint64 n = std::min(wanted, from);
    if (n <= 0) return;
    m_leadIn.resize(std::size_t(n) * audio::kChannels);
    // Read just before the reader's first frames: the decoder goes on from here unmoved.
    if (source().readAt(from - n, m_leadIn.data(), n) == n) m_stretch.leadIn(m_leadIn.data(), n, wanted);
}

// The UI's plan is still for the entry before the one handed over ahead: nothing of that
// one was heard, and the plan goes on from the entry before (its passes taken back, or a
// change made in its last pass). Returns the pass of its last chunk still in the ring.
std::optional<int> Worker::takeBackHandOver(quint64 entry)
{
    if (m_before) {
        m_decoder = std::move(m_before);
        m_source.setDecoder(m_decoder.get());
        m_path = m_beforePath;
        useBeats();
    }
    if (m_beforeStems) m_stems = std::move(*std::exchange(m_beforeStems, std::nullopt));
    while (!m_rendered.empty() && m_rendered.back().entry != entry) m_rendered.pop_back();
    return m_rendered.empty() ? std::nullopt : std::optional(m_rendered.back().pass);
}

void Worker::applyPlan(Plan plan)
{
    // A remix still held goes out as far as it is rendered: what follows builds on it.
    if (m_replacesQueue) releaseStart();
    if (rangedInPlace(plan)) return;
    const quint64 taken = sh.taken.load(std::memory_order_acquire);
    // A pause silences what the output took and nobody heard from the frame heard, and it
    // is rendered again from there for the play that follows. Out of the output's reach the
    // plan goes on as any change during play does, and that sound plays out. Just after a
    // hand-over the UI may not have heard the entry handed over yet: the cut may fall in
    // either, and where it falls in the new one, that one goes on.
    std::optional<Takeover> pauseCut;
    if (plan.quiet == SampleEngine::Quiet::Pause && !plan.from && plan.epoch == m_epoch &&
        (plan.entry == m_entry || plan.entry + 1 == m_entry)) {
        pauseCut = takeover(taken, Change::Pause, std::nullopt, plan.entry);
        if (pauseCut && !quietFrom(*pauseCut)) pauseCut.reset();
        if (pauseCut && pauseCut->entry == m_entry && plan.entry != m_entry && m_handedPlan) plan = goOnInHanded(plan);
    }
    std::optional<int> lastPass;
    const bool takenBack = plan.entry + 1 == m_entry;
    // New levels for the entry before the one handed over, when the output holds all of it
    // past its reach: nothing of it is heard again, and taking the next one back would play
    // on from its stop (another pass, or silence) where the output holds the next already.
    // The remix is cut where this found it reaching: read again later, the server may have
    // read past the entry, and the entry be taken back with nothing to render of it.
    const qint64 mixCut = plan.remix ? cutFrom(Change::Mix) : -1;
    if (plan.remix && takenBack && plan.epoch == m_epoch && !remixStillReaches(plan.entry, taken, mixCut)) return;
    if (takenBack) lastPass = takeBackHandOver(plan.entry);
    else {
        m_before.reset();
        m_beforeStems.reset();
    }
    const Format f = m_decoder->format();
    // The start rendered already, asked for again (the UI keeps the epoch only then): its
    // range applies in place where nothing read reaches it. Else, none of it taken, it is
    // rendered afresh (what was is dropped); some taken, it goes on from there, as a change
    // during play does.
    if (plan.from && plan.epoch == m_epoch && m_reader && !m_rendered.empty()) {
        if (relooped(plan)) return;
        if (sh.taken.load(std::memory_order_acquire) < m_planFirst) {
            sh.dropFrom.store(m_planFirst, std::memory_order_release);
            sh.dropTo.store(m_seq, std::memory_order_release);
        } else {
            plan.from.reset();
        }
    }
    const quint64 previous = m_epoch;
    m_epoch = plan.epoch;
    m_entry = plan.entry;
    double from = plan.from.value_or(0.0);
    // Going on from what plays: the passes go on from the one the output is in, not from
    // the one the listener hears now.
    const bool goesOn = !plan.from && previous == m_epoch;
    std::optional<Switch> live;
    bool fadesIn = false;
    m_replaceFrom = -1;
    // Paused with a new place to start from: none of what the output holds is heard.
    if (plan.quiet == SampleEngine::Quiet::Pause && plan.from) quietAll();
    if (pauseCut) {
        live = pauseCut->keep;
        fadesIn = true;
    } else if (goesOn) {
        live = chooseSwitch(m_rendered, taken, plan.remix ? kRemixLeadChunks : kSwitchLeadChunks);
        const FrameLoop target = entryFrames(0.0, plan.loop, f);
        // All that is kept of the entry before the one taken back: its last pass ended at
        // its stop, exactly (the output may have taken all of it meanwhile).
        const bool keptToItsEnd = takenBack && target.loop && (!live || live->keepUntil >= m_rendered.back().seq);
        if (keptToItsEnd)
            live = Switch{live ? live->keepUntil : taken, double(target.loop->stop), lastPass.value_or(plan.pass)};
        // What the output took and nobody heard yet that goes against the new range (a stop
        // moved behind it, a wrap at the old stop) goes too, from the frame heard on, as far
        // as the output can still replace it.
        if (live && !keptToItsEnd && !plan.remix) {
            const bool bounded = target.loop && target.loop->stop > target.loop->start;
            const auto stop = bounded ? std::optional(double(target.loop->stop)) : std::nullopt;
            if (const std::optional<Takeover> t = takeover(taken, Change::Plan, stop)) {
                live = t->keep;
                m_replaceFrom = t->replaceFrom;
            }
        } else if (live && plan.remix) {
            // Rendered again from just past what the server has played: heard at once. The
            // entry before one taken back too, before the next is handed over again.
            if (const std::optional<Takeover> t = takeover(taken, Change::Mix, std::nullopt, std::nullopt, mixCut)) {
                live = t->keep;
                m_replaceFrom = t->replaceFrom;
            }
        }
    }
    // A first pass's pause or count-in the change lands in (a whole file's length learned
    // while it plays, a pause by length with it) goes on where it is, at its new length,
    // and the pass fades in after it as due.
    const std::optional<qint64> prerollDone = live && !pauseCut ? prerollKept(live->keepUntil) : std::nullopt;
    m_replacesQueue = plan.remix && live && m_replaceFrom >= 0;
    m_oldAhead.clear();
    if (m_replacesQueue)
        for (const Rendered& r : m_rendered)
            if (r.seq > live->keepUntil) m_oldAhead.emplace_back(r.seq, r.frames);
    m_rendered.clear();
    m_heldFrames = 0;
    m_previewedFrames = 0;
    if (m_replacesQueue) {
        m_remixBegan = m_lastHeldAt = std::chrono::steady_clock::now();
        // Played on until the remix replaces them all at once.
        m_dropOnReplace = std::pair{live->keepUntil + 1, m_seq};
        from = live->from / f.sampleRate;
    } else if (live) {
        // What is kept plays on; the rest is rendered again from where it ends.
        sh.dropFrom.store(live->keepUntil + 1, std::memory_order_release);
        sh.dropTo.store(m_seq, std::memory_order_release);
        from = live->from / f.sampleRate;
    } else if (!plan.from) {
        // On from where the output stopped taking the old plan.
        for (int i = 0; i < 50 && sh.seenEpoch.load() < m_epoch && previous != m_epoch; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        from = sh.writtenPos.load() / f.sampleRate;
    }
    const int passFrom = live ? live->pass : goesOn ? m_renderedPass : plan.pass;
    if (goesOn && plan.loop) plan.loop->wraps = wrapsLeft(plan.loop->wraps, plan.pass, passFrom);
    m_renderedPass = passFrom;
    FrameLoop fl = entryFrames(from, plan.loop, f);
    bool wrapNow = false;
    // Paused in a pass's pause or count-in: played again, that goes on from where it was
    // paused (prerollResumeAt), and then the pass, counted as the wrap it began with.
    const bool inHold = pauseCut && pauseCut->holdAt >= 0;
    if (inHold && pauseCut->holdPass > passFrom) {
        if (fl.loop && fl.loop->wraps > 0) --fl.loop->wraps;
        wrapNow = true;
    } else if (inHold) {
        plan.preroll = true;
    }
    if (live && fl.loop && fl.loop->stop > fl.loop->start && fl.from >= fl.loop->stop && fl.loop->wraps != 0) {
        // The new stop is behind what plays by now (set to the place heard): the pass ends
        // here, rather than the sound running on past the stretch.
        fl.from = fl.loop->start;
        if (fl.loop->wraps > 0) --fl.loop->wraps;
        wrapNow = true;
    }
    useStems(plan.practice.stems, plan.remix && live ? std::optional(fl.from) : std::nullopt);
    m_practice = PracticePlan(plan.practice, plan.rate, f.sampleRate, stretchSeconds(fl, f));
    m_practice.setCountInBar(countInBar(fl, f));
    m_clicker.reset();
    m_prerollResume = inHold ? prerollResumeAt(m_practice.pass(pauseCut->holdPass), pauseCut->holdAt) : 0;
    std::vector<float> tail = wrapNow && !inHold ? tailAt(live->from) : std::vector<float>{};
    beginEntry(fl, wrapNow, passFrom, plan.preroll || prerollDone, fadesIn);
    if (prerollDone && m_mode == Mode::Preroll) {
        m_prerollAt = std::min(*prerollDone, m_preroll->prerollFrames - 1);
        m_firstPreroll = PrerollFrom{m_seq + 1, m_prerollAt};
    }
    // Cut short, the pass blends out as at a seam rather than stepping.
    if (wrapNow && !inHold && m_mode != Mode::Preroll) m_reader->setIncoming(std::move(tail));
    // Played again after a pause, it rises from the silence the pause left.
    if (fadesIn && m_mode != Mode::Preroll) m_reader->fadeIn();
    m_planFirst = m_seq + 1;
    m_startHeld = 0;
    m_startWanted = !live || m_replaceFrom >= 0 ? kStartChunks : 0;
    while (!m_next.empty() && m_next.front().epoch != m_epoch) m_next.pop_front();
}

std::optional<qint64> Worker::prerollKept(quint64 keepUntil) const
{
    // Preroll chunks are whole but the last, and follow one another from the first.
    if (!m_firstPreroll || keepUntil < m_firstPreroll->seq) return std::nullopt;
    const auto kept = std::find_if(m_rendered.begin(), m_rendered.end(), [&](const Rendered& r) { return r.seq == keepUntil; });
    if (kept == m_rendered.end() || kept->step != 0 || kept->entry != m_entry) return std::nullopt;
    return m_firstPreroll->at + qint64(keepUntil - m_firstPreroll->seq + 1) * audio::kChunkFrames;
}

bool Worker::relooped(const Plan& plan)
{
    if (m_mode != Mode::Plain && m_mode != Mode::Stretching && m_mode != Mode::Preroll) return false;
    const FrameLoop fl = entryFrames(*plan.from, plan.loop, m_decoder->format());
    // A stop's blend reads the frames past it: both ranges must lie ahead of all that is read.
    const auto reach = [](const std::optional<Loop>& l) {
        return l && l->stop > l->start ? l->stop : std::numeric_limits<qint64>::max();
    };
    if (m_reader->position() + fadeFrames() >= std::min(reach(m_reader->loop()), reach(fl.loop))) return false;
    m_reader->setLoop(fl.loop);
    return true;
}

// A plan going on from what plays that changes the range alone (a whole file's stop once
// its length is known, the passes left once an entry handed over is heard, a stop moved
// ahead of all that is read) takes effect in the reader: the stretcher runs on. Begun
// anew mid-pass from a place between two source frames, it would end the pass a frame
// off and start from a fresh window.
bool Worker::rangedInPlace(const Plan& plan)
{
    if (plan.from || plan.epoch != m_epoch || plan.entry != m_entry || !plan.loop || plan.dropNext ||
        plan.quiet != SampleEngine::Quiet::None)
        return false;
    if (!m_reader || (m_mode != Mode::Plain && m_mode != Mode::Stretching) || m_preroll || m_passBegun ||
        m_reader->passPending() || !m_practice.playsAs(plan.practice, plan.rate))
        return false;
    const Format f = m_decoder->format();
    FrameLoop fl = entryFrames(double(m_reader->position()) / std::max(1, f.sampleRate), plan.loop, f);
    if (!fl.loop || !(fl.loop->stop > fl.loop->start)) return false;
    const auto reach = [](const std::optional<Loop>& l) {
        return l && l->stop > l->start ? l->stop : std::numeric_limits<qint64>::max();
    };
    if (m_reader->position() + fadeFrames() >= std::min(reach(m_reader->loop()), fl.loop->stop)) return false;
    // The reader may have wrapped at the old stop while the sound before that wrap is still
    // to be heard: that goes against the new range from the frame heard, as any change does.
    if (againstRange(fl.loop->stop)) return false;
    // The reader is in pass m_pass: the wraps it made since the plan's pass are spent.
    fl.loop->wraps = wrapsLeft(fl.loop->wraps, plan.pass, m_pass);
    m_before.reset();
    m_reader->setLoop(fl.loop);
    m_practice = PracticePlan(plan.practice, plan.rate, f.sampleRate, stretchSeconds(fl, f));
    m_practice.setCountInBar(countInBar(fl, f));
    m_reader->setGapAtWrap(m_practice.cutBefore(m_pass + 1));
    return true;
}

bool Worker::againstRange(qint64 stop) const
{
    const quint64 taken = sh.taken.load(std::memory_order_acquire);
    const qint64 from = sh.output->replaceableFrom(AudioOutput::Putting::Sound);
    // A chunk's pulled frame is known only once the output took it.
    const auto pulledFrom = [&](const Rendered& r) {
        return r.seq > taken ? std::numeric_limits<qint64>::max() : pulledAt(r.seq);
    };
    for (const Rendered& r : m_rendered) {
        if (r.entry != m_entry || r.step <= 0) continue;
        const qint64 at = pulledFrom(r);
        const bool unheard = r.seq > taken || (from >= 0 && at >= from);
        const bool reaching = r.seq > taken || (from >= 0 && at + r.frames > from);
        if ((unheard && r.passStart) || (reaching && r.sourcePos + double(r.frames) * r.step > double(stop))) return true;
    }
    return false;
}

std::optional<Takeover> Worker::takeover(quint64 taken, Change change, std::optional<double> stop,
                                         std::optional<quint64> firstEntry, std::optional<qint64> cut) const
{
    const auto at = [this](quint64 seq) { return pulledAt(seq); };
    return chooseTakeover(m_rendered, at, taken, kSwitchLeadChunks, cut.value_or(cutFrom(change)), stop, change, firstEntry);
}

qint64 Worker::cutFrom(Change change) const
{
    // Silence is written at once; sound that goes on is rendered first, which takes a while.
    const bool silence = change == Change::Pause;
    const qint64 from = sh.output->replaceableFrom(silence ? AudioOutput::Putting::Silence : AudioOutput::Putting::Sound);
    const int stretched = change == Change::Mix ? kStretchedRemixMarginMs : kStretchedReplaceMarginMs;
    const int ms = silence ? 0 : m_practice.stretches() ? stretched : kReplaceMarginMs;
    return from >= 0 ? from + outputFrames(ms) : -1;
}

bool Worker::remixStillReaches(quint64 entry, quint64 taken, qint64 cut) const
{
    const auto at = [this](quint64 seq) { return pulledAt(seq); };
    return remixReaches(m_rendered, at, taken, cut, entry);
}

void Worker::markReplaced(qint64 from)
{
    // Told under the output's lock before the write: the frames pulled from `from` to
    // what is pulled now are never heard, their wraps and ends with them (their notes
    // stand later by the filters' delay).
    const qint64 written = sh.written.load(std::memory_order_acquire);
    const int late = sh.hear.latency();
    sh.replacedFrom.store(from + late, std::memory_order_release);
    sh.replacedTo.store(written + late, std::memory_order_release);
    sh.hear.forget(written - from);
}

bool Worker::quietFrom(const Takeover& cut)
{
    bool replaced = false;
    // The gate is shut, so the replacing write pulls silence; the ring's sound past the cut
    // goes, and the silence stands at the cut (the position paused at).
    sh.output->replace(cut.replaceFrom, [&](bool replacing) {
        replaced = replacing;
        if (!replacing) return;
        markReplaced(cut.replaceFrom);
        sh.dropFrom.store(cut.keep.keepUntil + 1, std::memory_order_release);
        sh.dropTo.store(m_seq, std::memory_order_release);
        sh.silent = false;
        sh.silenceAt = cut.keep.from;
        sh.silenceEntry = cut.entry;
    });
    return replaced;
}

void Worker::quietAll()
{
    // The plan that follows starts afresh, so none of what the output holds is to be heard:
    // with the gate shut or the plan new, the replacing write pulls silence.
    const qint64 from = sh.output->replaceableFrom(AudioOutput::Putting::Silence);
    if (from >= 0) sh.output->replace(from, [this, from](bool replacing) {
        if (replacing) sh.hear.forget(sh.written.load(std::memory_order_acquire) - from);
    });
}

std::vector<float> Worker::tailAt(double sourcePos)
{
    // What followed the place cut, for what comes next to blend out.
    const qint64 n = fadeFrames();
    std::vector<float> tail(std::size_t(n) * kChannels, 0.0f);
    if (n > 0 && source().readAt(qint64(std::llround(sourcePos)), tail.data(), n) < 0)
        std::fill(tail.begin(), tail.end(), 0.0f);
    return tail;
}

bool Worker::handOver(std::vector<float> tail)
{
    // The next entry follows the last sample: its start blends out what followed this
    // one's stop.
    const NextEntry n = m_next.front().entry;
    m_next.pop_front();
    Opened info;
    if (QFileInfo(n.path).absoluteFilePath() != m_path) {
        // At the rate the output runs at: another file's rate must not cost a gap.
        auto other = std::make_unique<Decoder>();
        if (!other->open(n.path, &info.error, m_outputRate)) return false;
        m_before = std::exchange(m_decoder, std::move(other));
        m_beforePath = m_path;
        m_source.setDecoder(m_decoder.get());
        m_path = QFileInfo(n.path).absoluteFilePath();
    }
    // The same stems go on from where they are read (a take-back sets their gains again).
    if (stemPaths(n.practice.stems, m_path) != m_stems.paths) m_beforeStems = std::exchange(m_stems, OpenStems{});
    useStems(n.practice.stems, std::nullopt);
    info.ok = true;
    info.format = m_decoder->format();
    info.tags = m_decoder->tags();
    ++m_entry;
    LoopRange range = n.loop;
    if (n.toEnd) range.stop = info.format.frames > 0 ? double(info.format.frames) / info.format.sampleRate : 0;
    // Its passes count from its first, which may begin with a pause and clicks after this
    // one's last sample, at its own rate and pitch. The stretcher has given all of this
    // entry's sound: it starts over.
    const FrameLoop fl = entryFrames(n.start, n.hasLoop ? std::optional(range) : std::nullopt, info.format);
    PracticePlan next(n.practice, n.rate, m_outputRate, stretchSeconds(fl, info.format));
    useBeats();
    next.setCountInBar(countInBar(fl, info.format));
    const bool cut = cutIntoNext(m_practice, m_pass, next);
    m_practice = next;
    Plan handed;
    handed.entry = m_entry;
    if (n.hasLoop) handed.loop = range;
    handed.rate = n.rate;
    handed.practice = n.practice;
    handed.practice.hear = {};  // goes with the entry's first chunk (entryHear)
    m_handedPlan = handed;
    sh.entryHear.post(n.practice.hear, m_entry);
    // Where nothing followed this one's stop (a whole file's end) the next rises from
    // silence too: its stretcher must not hear the frames before its start.
    const bool fromSilence = cut || std::all_of(tail.begin(), tail.end(), [](float v) { return v == 0.0f; });
    beginEntry(fl, false, 0, true, fromSilence, m_stretch.active() ? m_stretch.lastFed() : std::vector<float>{});
    // After a pause the next entry fades in from silence; without one it blends out what
    // followed this one's stop.
    if (m_mode != Mode::Preroll) m_reader->setIncoming(std::move(tail));
    m_renderedPass = 0;
    {
        std::lock_guard lock(sh.mutex);
        sh.nextOpened.emplace_back(m_entry, info);
    }
    return true;
}

audio::Stretcher::Turn Worker::turn()
{
    // A pass is about to begin: its rate, and whether its seam is cut (a preroll, a new rate).
    if (m_passBegun) {
        m_passBegun = false;
        return {false, m_practice.rateOf(m_pass)};
    }
    ++m_pass;
    m_firstPreroll.reset();
    const PassPlan p = m_practice.pass(m_pass);
    m_reader->setGapAtWrap(m_practice.cutBefore(m_pass + 1));
    if (p.prerollFrames > 0) {
        m_preroll = p;
        m_holdPos = double(m_reader->position());
    }
    m_passBegun = m_practice.cutBefore(m_pass);
    return {m_passBegun, p.rate};
}

std::size_t Worker::ahead() const
{
    // This plan's chunks not yet taken: what the output drops of an older plan, the worker
    // need not wait for.
    const quint64 done = std::max(sh.taken.load(std::memory_order_acquire), m_planFirst - 1);
    return std::size_t(m_seq > done ? m_seq - done : 0);
}

void Worker::publish(audio::Chunk* c)
{
    c->hasClicks = m_clicker.hasBeats() && m_clicker.render(*c, m_outputRate, c->clicks);
    c->seq = ++m_seq;
    if (c->passStart) ++m_renderedPass;
    Rendered r{c->seq, c->sourcePos, c->step, c->frames, c->passStart, m_renderedPass, c->entry};
    if (c->step <= 0) {
        r.holdAt = std::exchange(m_holdChunkAt, -1);
        r.holdPass = m_pass;
    }
    m_rendered.push_back(r);
    while (m_rendered.size() > kRingChunks) m_rendered.pop_front();
    if (m_replacesQueue) {
        m_heldFrames += c->frames;
        // Not past the ring's room (the old sound fills it while it plays on).
        const bool room = sh.ring.slot(m_startHeld + 1) != nullptr;
        const RemixProgress progress = remixProgress();
        const auto now = std::chrono::steady_clock::now();
        const double took = std::chrono::duration<double>(now - std::exchange(m_lastHeldAt, now)).count();
        if (!c->end && room && !remixReady(progress, outputFrames(kRemixSlackMs), kFastRemix)) {
            ++m_startHeld;
            const double recent = took > 0 ? double(c->frames) / m_outputRate / took : kFastRemix;
            if (previewDue(m_heldFrames, m_previewedFrames, recent, outputFrames(kRemixFirstPreviewMs),
                           outputFrames(kRemixPreviewStepMs), kFastRemix))
                previewRemix();
            return;
        }
    } else if (m_startWanted > 0 && m_startHeld + 1 < m_startWanted && !c->end) {
        ++m_startHeld;
        return;
    }
    ++m_startHeld;
    releaseStart();
}

RemixProgress Worker::remixProgress() const
{
    RemixProgress p;
    p.pastQueue = m_heldFrames - (sh.written.load(std::memory_order_acquire) - m_replaceFrom);
    const quint64 taken = sh.taken.load(std::memory_order_acquire);
    for (const auto& [seq, frames] : m_oldAhead)
        if (seq > taken) p.oldAhead += frames;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - m_remixBegan).count();
    p.speed = seconds > 0 ? double(m_heldFrames) / m_outputRate / seconds : 0;
    return p;
}

void Worker::rehear()
{
    // A remix on its way replaces the queue itself; silence queued has nothing to hear anew.
    if (m_replacesQueue || !sh.gate.load(std::memory_order_acquire)) return;
    const qint64 from = sh.output->replaceableFrom(AudioOutput::Putting::Sound);
    if (from < 0) return;
    // Nothing counts as pulled: the frames keep their places, only their sound is new.
    // The filters go on from the preview's last frame: no fade back to what was queued.
    sh.output->preview(
        from, [this, from](qint64 skip, float* out, qint64 frames) { return sh.rehear(from + skip, out, frames); },
        true);
}

void Worker::previewRemix()
{
    m_previewedFrames = m_heldFrames;
    const std::size_t held = m_startHeld;
    // Run where no pull comes between (AudioOutput::preview()): the pull's own state (the
    // filters, the metronome) may be read there, and the held slots are this thread's alone
    // until they are handed over.
    const auto fill = [this, held](qint64 skip, float* out, qint64 frames) -> qint64 {
        // Filters that shape what is heard run on with the pulls: their state is not to be
        // stepped on by frames pulled again later.
        if (!sh.hear.bypassed() || sh.hear.latency() != 0) return 0;
        qint64 got = 0;
        for (std::size_t i = 0; i < held && got < frames; ++i) {
            const audio::Chunk* c = sh.ring.slot(i);
            if (skip >= c->frames) {
                skip -= c->frames;
                continue;
            }
            const qint64 n = std::min(frames - got, c->frames - skip);
            std::memcpy(out + got * kChannels, c->data + skip * kChannels, sizeof(float) * kChannels * std::size_t(n));
            if (c->hasClicks && sh.metronome.load(std::memory_order_relaxed))
                SampleEngine::Shared::mixClicks(*c, skip, out + got * kChannels, n);
            got += n;
            skip = 0;
        }
        return got;
    };
    sh.output->preview(m_replaceFrom, fill);
}

void Worker::releaseStart()
{
    std::optional<std::pair<quint64, quint64>> drop = std::exchange(m_dropOnReplace, std::nullopt);
    const bool wholeQueue = std::exchange(m_replacesQueue, false);
    if (m_startHeld == 0) {
        // Nothing of a remix rendered yet: the old sound goes all the same, the remix
        // follows what the output holds.
        if (drop) sh.dropFrom.store(drop->first, std::memory_order_release), sh.dropTo.store(drop->second, std::memory_order_release);
        if (wholeQueue) m_replaceFrom = -1;
        return;
    }
    const std::size_t held = m_startHeld;
    const bool started = m_startWanted > 0;
    m_startHeld = m_startWanted = 0;
    if (qint64 from = std::exchange(m_replaceFrom, -1); from >= 0) {
        if (wholeQueue && drop) from = joinInTime(from, held, *drop);
        // Handed over where no pull comes between them and the write that replaces the
        // queue; the UI is told which frames pulled before will not be heard. The old
        // sound a remix replaces is dropped there too, not before: it plays while the
        // remix renders.
        sh.output->replace(from, [this, from, held, drop](bool replacing) {
            if (replacing) markReplaced(from);
            if (drop) {
                sh.dropFrom.store(drop->first, std::memory_order_release);
                sh.dropTo.store(drop->second, std::memory_order_release);
            }
            sh.ring.publish(held);
        });
        return;
    }
    sh.ring.publish(held);
    // The first sound goes out at once, not after the rest rendered ahead (tens of
    // milliseconds when stretching).
    if (started && sh.gate.load(std::memory_order_acquire)) sh.output->kick();
}

// The server read on past the cut while the remix rendered: its first frames up to where
// the queue can still be replaced go unheard, so that it joins in time (rather than later,
// repeating what was heard), through the output's fade. The held chunks are ring slots not
// handed over yet: the pull never sees them, so they change here without a lock; those
// left out whole join the old ones dropped (`drop`, whose seqs they follow).
qint64 Worker::joinInTime(qint64 from, std::size_t held, std::pair<quint64, quint64>& drop)
{
    const qint64 now = sh.output->replaceableFrom(AudioOutput::Putting::Sound);
    if (now <= from) return from;
    // A little past: the server reads on while this runs.
    qint64 skip = now - from + outputFrames(kReplaceMarginMs);
    const qint64 wanted = skip;
    bool passStart = false;
    std::size_t i = 0;
    for (; i < held && sh.ring.slot(i)->frames <= skip; ++i) {
        skip -= sh.ring.slot(i)->frames;
        passStart = passStart || sh.ring.slot(i)->passStart;
    }
    if (i == held) return from;  // later than all of it: it goes where the reading lets it
    if (i > 0) drop.second = sh.ring.slot(i - 1)->seq;
    audio::Chunk* c = sh.ring.slot(i);
    const qint64 left = c->frames - skip;
    std::memmove(c->data, c->data + skip * kChannels, sizeof(float) * std::size_t(left * kChannels));
    if (c->hasClicks) std::memmove(c->clicks, c->clicks + skip, sizeof(float) * std::size_t(left));
    c->sourcePos += double(skip) * c->step;
    c->frames = left;
    // A wrap left out is still counted, where the remix joins.
    c->passStart = c->passStart || passStart;
    std::erase_if(m_rendered, [&](const Rendered& r) { return r.seq <= drop.second && r.seq >= drop.first; });
    for (Rendered& r : m_rendered) {
        if (r.seq != c->seq) continue;
        r.sourcePos = c->sourcePos;
        r.frames = c->frames;
        r.passStart = c->passStart;
        if (r.holdAt >= 0) r.holdAt += skip;
    }
    return from + wanted;
}

void Worker::enterPreroll()
{
    m_mode = Mode::Preroll;
    m_prerollAt = std::exchange(m_prerollResume, 0);
}

Plan Worker::goOnInHanded(const Plan& plan) const
{
    // The UI's plan is for the entry before: the pause's own settings go with the one
    // handed over, its passes counted from its first.
    Plan p = *m_handedPlan;
    p.epoch = plan.epoch;
    p.quiet = plan.quiet;
    p.dropNext = plan.dropNext;
    return p;
}

void Worker::renderPreroll(audio::Chunk* c)
{
    // Silence and clicks before a pass; the position holds at where it begins.
    m_holdChunkAt = m_prerollAt;
    const qint64 n = std::min(audio::kChunkFrames, m_preroll->prerollFrames - m_prerollAt);
    audio::renderPreroll(*m_preroll, m_outputRate, m_prerollAt, c->data, n);
    m_prerollAt += n;
    if (m_prerollAt >= m_preroll->prerollFrames) {
        m_preroll.reset();
        m_mode = soundMode();
    }
    c->frames = n;
    c->sourcePos = m_holdPos;
    c->step = 0;
    c->passStart = false;
    c->end = false;
    c->entry = m_entry;
}

// Fills `c` with the plan's next sound; false when nothing is to be published from it.
bool Worker::renderChunk(audio::Chunk* c)
{
    c->epoch = m_epoch;
    if (m_mode == Mode::Plain && m_preroll) {
        // No stretcher to finish first: the preroll begins at once.
        enterPreroll();
    }
    if (m_mode == Mode::Preroll) {
        renderPreroll(c);
        return true;
    }
    if (m_mode == Mode::Plain) {
        if (m_reader->passPending() && turn().gap) return false;
        const Block b = m_reader->read(c->data, audio::kChunkFrames);
        if (b.frames == 0 && m_reader->waiting()) {
            m_mode = Mode::Awaiting;
            return false;
        }
        c->frames = b.frames;
        c->sourcePos = double(b.sourcePos);
        c->step = 1;
        c->passStart = b.passStart;
        c->end = b.end || m_reader->failed();
        c->entry = m_entry;
    } else if (m_stretch.fill(*m_reader, m_entry, [this] { return turn(); })) {
        m_stretch.take(*c);
    } else if (m_stretch.atGap()) {
        // This pass's sound has run out of the stretcher: the preroll, if any, then the
        // next pass from a fresh start at its own rate.
        m_stretch.start(m_outputRate, m_practice.rateOf(m_pass), m_practice.pitchScale());
        if (m_preroll) enterPreroll();
        return false;
    } else if (m_stretch.waiting()) {
        m_mode = Mode::Awaiting;
        return false;
    } else {
        c->frames = 0;
        c->end = true;
        c->entry = m_entry;
        c->sourcePos = double(m_reader->position());
        c->passStart = false;
    }
    if (!c->end) return true;
    // Held with the next entry kept until the output reaches this one (else told as an end).
    if (nextFollows() && !handOverAllowed()) {
        holdEnd(c);
        return false;
    }
    if (nextFollows() && handOver(m_reader->takeTail())) {
        c->end = false;
        return c->frames > 0;  // an empty slot is filled from the next entry
    }
    m_next.clear();
    holdEnd(c);
    return false;
}

void Worker::holdEnd(audio::Chunk* c)
{
    // Held until the output nears it; the sound before it goes out now.
    c->end = false;
    if (c->frames > 0) publish(c);
    releaseStart();
    m_endPos = double(m_reader->position());
    m_mode = Mode::Ended;
}

void Worker::tellEnd()
{
    audio::Chunk* c = sh.ring.slot(m_startHeld);
    if (!c) return;
    c->epoch = m_epoch;
    c->entry = m_entry;
    c->sourcePos = m_endPos;
    c->step = 1;
    c->frames = 0;
    c->passStart = false;
    c->end = true;
    publish(c);
    m_mode = Mode::Idle;
}

void Worker::renderAhead(bool timedWake)
{
    if (m_mode == Mode::Ended && nextFollows() && handOverAllowed()) {
        // The next entry came before the end was told: it follows the last sample.
        m_mode = soundMode();
    } else if (m_mode == Mode::Ended && ahead() <= kEndLeadChunks && !nextFollows() &&
               (ahead() == 0 || handOverAllowed()) && (m_lastPassHeard >= std::pair{m_epoch, m_entry} || !renderedOf(m_entry))) {
        // Not before the UI heard this entry's last pass start (nor, with a next entry to
        // follow, at all): it hands over the one after it only then, which for an entry
        // shorter than the lead comes after the output took some of it, or even all. A plan
        // with no sound at all (started at its end) ends at once.
        tellEnd();
    } else if (m_mode == Mode::Awaiting && (nextFollows() || ahead() <= kAwaitLeadChunks)) {
        // Nothing known to follow by now: the end goes out as it is.
        if (!nextFollows()) m_reader->awaitFollower(false);
        m_mode = soundMode();
    }
    if (m_mode == Mode::Idle || m_mode == Mode::Ended || m_mode == Mode::Awaiting || !m_reader) return;
    // What the output took while this thread slept (no command came, nothing was rendered
    // since) sizes how far to render ahead.
    if (timedWake && m_toppedUp == std::pair{m_epoch, m_seq}) m_ahead.woke(ahead());
    m_toppedUp.reset();
    // A chunk at a time, while there is room.
    while (ahead() < m_ahead.target() && m_mode != Mode::Ended && m_mode != Mode::Awaiting) {
        if (sh.epoch.load() != m_epoch) {
            m_mode = Mode::Idle;  // a newer plan is on its way, or none (unloaded)
            break;
        }
        if (sh.planWaiting.load(std::memory_order_acquire)) break;  // taken first, then on from here
        audio::Chunk* c = sh.ring.slot(m_startHeld);
        if (!c) break;
        // The next entry may come a pass early: whether the end fades is the last pass's
        // (a trainer's rate) against it, and the pass moves on within this loop.
        if (nextFollows()) {
            const PracticePlan next(m_next.front().entry.practice, m_next.front().entry.rate, m_outputRate);
            m_reader->setFollowed(true, cutIntoNext(m_practice, m_pass, next));
        }
        if (renderChunk(c)) publish(c);
    }
    if (ahead() >= m_ahead.target() && (m_mode == Mode::Plain || m_mode == Mode::Stretching))
        m_toppedUp = std::pair{m_epoch, m_seq};
    // A remix that ran into a hold for the next entry, or as far ahead as the worker
    // renders, goes out as far as it is.
    if (m_replacesQueue && (m_mode == Mode::Awaiting || ahead() >= m_ahead.target())) releaseStart();
}

void Worker::run()
{
    // Rendering ahead is what keeps the output from running dry: this thread runs before
    // busy programs where the system allows (never before the output's own thread). Asking
    // may wait on the system bus, before any command is taken: a load asked for meanwhile
    // is opened a little later, and no sound is due yet.
    nameThisThread("vamplet-render");
    raiseThisThread(ThreadRole::Render);
    for (;;) {
        Inbox in = takeCommands();
        if (in.quit) return;
        const bool timedWake = !in.load && !in.plan && in.next.empty() && in.beats.empty() && !in.hear;
        // A new file, a stop or a new place (a seek, an entry played again): what the output
        // holds goes before anything else, or the new sound would follow all of it.
        const bool newPlace = in.plan && in.plan->from && in.plan->epoch != m_epoch;
        if (in.load || newPlace || (in.plan && in.plan->quiet == SampleEngine::Quiet::Stop)) quietAll();
        if (in.load) open(*in.load);
        for (BeatsCommand& b : in.beats) keepGrid(QFileInfo(b.path).absoluteFilePath(), std::move(b.grid));
        if (in.load || !in.beats.empty()) useBeats();
        if (in.plan && in.plan->dropNext) m_next.clear();
        if (in.plan && m_decoder->format().sampleRate > 0) applyPlan(std::move(*in.plan));
        // After the plan: the entries are numbered from the one it is for, which may be
        // before one handed over already.
        for (NextCommand& n : in.next) queueNext(std::move(n));
        if (in.hear) rehear();
        renderAhead(timedWake);
        if (sh.gate.load(std::memory_order_acquire) && sh.ring.size() > 0) sh.output->kick();
        if ((m_mode == Mode::Plain || m_mode == Mode::Stretching || m_mode == Mode::Preroll) && m_practice.stretches())
            m_stretch.keepSpare(m_outputRate, m_practice.rateOf(m_pass), m_practice.pitchScale());
    }
}

bool Worker::renderedOf(quint64 entry) const
{
    return std::any_of(m_rendered.begin(), m_rendered.end(), [&](const Rendered& r) { return r.entry == entry; });
}

bool Worker::handOverAllowed() const
{
    // A remix held is cut inside what the output took of this entry: the next one follows
    // it in the same write, rather than after a wait that would leave the queue silent.
    if (m_replacesQueue) return true;
    const quint64 taken = sh.taken.load(std::memory_order_acquire);
    return std::any_of(m_rendered.begin(), m_rendered.end(), [&](const Rendered& r) { return r.entry == m_entry && r.seq <= taken; });
}

void Worker::queueNext(NextCommand next)
{
    // Sent again with each plan: what was handed over already is not again, and an entry
    // replaces the one of its place and those after it.
    if (next.number <= m_entry) return;
    const quint64 at = next.number - m_entry - 1;
    if (at > m_next.size()) return;
    m_next.resize(std::size_t(at));
    m_next.push_back(std::move(next));
}

const beats::BeatGrid* Worker::grid() const
{
    const auto it = std::find_if(m_grids.begin(), m_grids.end(), [&](const auto& g) { return g.first == m_path; });
    return it != m_grids.end() && it->second && it->second->beats.size() >= 2 ? it->second.get() : nullptr;
}

void Worker::keepGrid(const QString& path, std::shared_ptr<const beats::BeatGrid> grid)
{
    std::erase_if(m_grids, [&](const auto& g) { return g.first == path; });
    if (!grid) return;
    m_grids.emplace_back(path, std::move(grid));
    if (m_grids.size() > kGridsKept) m_grids.erase(m_grids.begin());
}

void Worker::useBeats()
{
    // Every beat of the file in its frames: what the clicker looks up while rendering.
    std::vector<SourceClick> frames;
    const double rate = m_decoder->format().sampleRate;
    if (const beats::BeatGrid* g = grid(); g && rate > 0)
        for (const beats::Tick& t : beats::beatsBetween(*g, 0, std::numeric_limits<double>::infinity()))
            frames.push_back({t.seconds * rate, t.downbeat});
    m_clicker.setBeats(std::move(frames));
    m_clicker.reset();
}

std::vector<SourceClick> Worker::countInBar(const FrameLoop& fl, const Format& f) const
{
    const beats::BeatGrid* g = grid();
    if (!g || f.sampleRate <= 0) return {};
    // Every pass but a first one sought elsewhere begins at the stretch's start.
    const double start = double(fl.loop && fl.loop->stop > fl.loop->start ? fl.loop->start : fl.from) / f.sampleRate;
    std::vector<SourceClick> bar;
    for (const beats::Tick& t : beats::countInBar(*g, start)) bar.push_back({t.seconds - start, t.downbeat});
    return bar;
}

void SampleEngine::Shared::run(QPointer<SampleEngine> engine)
{
    Worker(*this, std::move(engine)).run();
}

SampleEngine::SampleEngine(QObject* parent) : SampleEngine(Options{}, parent) {}

SampleEngine::SampleEngine(const Options& options, QObject* parent)
    : MediaEngine(parent), m_options(options), m_shared(std::make_unique<Shared>(options))
{
    if (options.output) m_shared->output = options.output();
    else m_shared->output = options.audioOutput ? openFailoverOutput(kPulseConnectMs) : openNullOutput();
    m_heardTimer.setInterval(kHeardPollMs);
    m_heardTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_heardTimer, &QTimer::timeout, this, &SampleEngine::tick);
    m_worker = std::thread([shared = m_shared.get(), self = QPointer<SampleEngine>(this)] { shared->run(self); });
}

SampleEngine::~SampleEngine()
{
    m_shared->post({QuitCommand{}});
    if (m_worker.joinable()) m_worker.join();
    m_shared->output->stop();
}

void SampleEngine::setHear(const HearSettings& hear)
{
    m_shared->hearBox.post(hear);
    m_shared->post({HearCommand{}});
}

QString SampleEngine::outputName() const
{
    return QString::fromLatin1(m_shared->output->name());
}

qint64 SampleEngine::outputUnderflows() const
{
    return m_shared->output->underflows();
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

std::vector<SampleEngine::Heard> SampleEngine::knownRuns() const
{
    drainRuns();
    return std::vector<Heard>(m_runs.begin(), m_runs.end());
}

void SampleEngine::load(const QString& path)
{
    ++m_generation;
    m_path = path;
    m_load = Load::None;
    m_atEnd = false;
    m_tags.clear();
    m_duration = 0;
    m_planStart = 0;
    m_next.clear();
    m_idlePlan.reset();
    m_pauseWanted = false;
    m_quiet = Quiet::None;  // the worker silences what played before it opens the file
    m_shared->gate.store(false);
    // Whatever played stops at once.
    m_shared->epoch.store(++m_epoch);
    m_planDirty = false;
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->opened.reset();
        m_shared->nextOpened.clear();
    }
    // A file goes to the worker in one post with its first plan (flushPlan()), an unload
    // at once: the worker then always opens it and renders that plan straight after, and
    // tells it opened after this thread sent the plan. Posted apart, the worker took the
    // two together or one by one as the threads ran, and what was rendered could differ.
    m_loadHeld = !path.isEmpty();
    if (!m_loadHeld) m_shared->post({LoadCommand{m_generation, path}});
    m_load = path.isEmpty() ? Load::None : Load::Opening;
    reportDuration();
    // A load under way counts as playing: no Stopped between two files.
    setState(m_load == Load::Opening ? PlayState::Playing : PlayState::Stopped);
    if (m_load != Load::Opening) return;
    // The worker opens the file and renders the plan made meanwhile straight after, so
    // the sound starts without waiting for this thread in between.
    m_shared->gate.store(true);
    sendPlan(0.0);
    m_shared->wake.notify_all();
}

bool SampleEngine::waitForLoad(int timeoutMs)
{
    if (m_load != Load::Opening) return m_load == Load::Ready;
    // The load alone: the plan made meanwhile goes as before, after the file opened (sent
    // with it, a pause in a first pass's pause or count-in came back a wrap late).
    if (std::exchange(m_loadHeld, false)) m_shared->post({LoadCommand{m_generation, m_path}});
    {
        std::unique_lock lock(m_shared->mutex);
        const quint64 gen = m_generation;
        m_shared->openedWake.wait_for(lock, std::chrono::milliseconds(std::max(0, timeoutMs)),
                                      [&] { return m_shared->opened && m_shared->opened->generation == gen; });
    }
    opened(m_generation);
    return m_load == Load::Ready;
}

void SampleEngine::opened(quint64 generation)
{
    if (generation != m_generation || m_load != Load::Opening) return;
    std::optional<Opened> result;
    {
        std::lock_guard lock(m_shared->mutex);
        if (m_shared->opened && m_shared->opened->generation == generation) result = m_shared->opened;
    }
    if (!result) return;
    if (!result->ok) {
        failLoad(result->error);
        return;
    }
    m_load = Load::Ready;
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
    m_load = Load::None;
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
    // the newest plan only, once the caller is done changing it. The start rendered while
    // nothing played, asked for again (an entry stopped and played again, its range set
    // anew), is kept: its first sound need not wait for a stretcher's start.
    const bool rendered = from && m_idlePlan && m_idlePlan->first == m_epoch
                          && m_idlePlan->second == planKey(*from, m_prerollDue);
    if ((from || m_state != PlayState::Playing) && !rendered) m_shared->epoch.store(++m_epoch);
    if (from) m_planFrom = from;
    if (m_planDirty) return;
    m_planDirty = true;
    QMetaObject::invokeMethod(this, &SampleEngine::flushPlan, Qt::QueuedConnection);
}

void SampleEngine::flushPlan()
{
    if (!m_planDirty) return;
    m_planDirty = false;
    if (m_load == Load::None) return;
    Plan plan;
    plan.epoch = m_epoch;
    plan.entry = m_entry;
    plan.from = m_planFrom;
    plan.loop = m_loop;
    plan.rate = m_rate;
    plan.practice = m_practice;
    plan.pass = m_practicePass;
    // The first pass's pause and count-in play once, where it is started from a place.
    plan.preroll = m_prerollDue && m_planFrom.has_value();
    // While the file opens each new plan replaces the last, which had it too.
    if (plan.preroll && m_load != Load::Opening) m_prerollDue = false;
    m_idlePlan.reset();
    if (!m_shared->gate.load() && m_load == Load::Ready && m_planFrom && m_next.empty())
        m_idlePlan.emplace(m_epoch, planKey(*m_planFrom, plan.preroll));
    m_planFrom.reset();
    plan.dropNext = std::exchange(m_nextTakenBack, false);
    plan.quiet = std::exchange(m_quiet, Quiet::None);
    plan.remix = std::exchange(m_remix, false) && !plan.from;
    m_changedAt = heardFrame();
    // The plan and the entries handed over after it in one go: a worker that woke between
    // them would render the plan's end as if nothing followed (a remix takes the next entry
    // back), and replace the queue with it.
    std::vector<Command> commands;
    if (std::exchange(m_loadHeld, false)) commands.emplace_back(LoadCommand{m_generation, m_path});
    commands.emplace_back(plan);
    for (std::size_t i = 0; i < m_next.size(); ++i) commands.emplace_back(NextCommand{m_epoch, m_entry + 1 + i, m_next[i]});
    m_shared->post(commands);
}

SampleEngine::PlanKey SampleEngine::planKey(double from, bool preroll) const
{
    // The pass counts only where the passes differ.
    const bool perPass = m_practice.hasTrainer() || m_practice.hasPause() || m_practice.hasCountIn();
    return PlanKey{from, m_rate, m_practice, perPass ? m_practicePass : 0, perPass && preroll};
}

void SampleEngine::play()
{
    m_pauseWanted = false;
    m_idlePlan.reset();
    if (m_load == Load::Opening) {
        m_shared->gate.store(true);
        m_shared->wake.notify_all();
        setState(PlayState::Playing);
    }
    if (m_load != Load::Ready) return;
    if (m_atEnd) {
        m_atEnd = false;
        m_planStart = m_endPos;
        sendPlan(m_endPos);
    }
    m_shared->gate.store(true);
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->nudged = true;
    }
    m_shared->wake.notify_all();
    setState(PlayState::Playing);
}

void SampleEngine::pause()
{
    m_pauseWanted = true;
    if (m_load == Load::Opening) {
        m_shared->gate.store(false);
        setState(PlayState::Paused);
    }
    if (m_load != Load::Ready) return;
    m_shared->gate.store(false);
    if (m_state == PlayState::Playing) {
        // Stand where the sound stopped, and go on from there: what the output holds is
        // silenced from the frame heard on and rendered again from there (the plan goes on,
        // so it is sent while still playing).
        m_quiet = Quiet::Pause;
        sendPlan(std::nullopt);
    }
    setState(PlayState::Paused);
}

void SampleEngine::stop()
{
    m_shared->gate.store(false);
    m_atEnd = false;
    m_next.clear();
    m_planStart = 0;
    if (m_load != Load::None) {
        m_quiet = Quiet::Stop;  // what the output holds is not heard either
        sendPlan(0.0);
    }
    setState(PlayState::Stopped);
}

void SampleEngine::seek(double seconds)
{
    if (!std::isfinite(seconds)) return;
    if (m_load != Load::Ready) {
        m_planStart = std::max(0.0, seconds);
        if (m_load == Load::Opening) sendPlan(m_planStart);
        return;
    }
    const double old = position();
    const double target = std::clamp(seconds, 0.0, m_duration > 0 ? m_duration : seconds);
    m_planStart = target;
    m_atEnd = false;
    m_next.clear();
    sendPlan(target);
    emit positionJumped(old, target);
}

void SampleEngine::replan()
{
    // While the file opens nothing is heard yet: the plan starts over from its start.
    if (m_load == Load::Opening) sendPlan(m_planStart);
    else if (m_load == Load::Ready) sendPlan(m_state == PlayState::Playing ? std::nullopt : std::optional(m_planStart));
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
    if (m_loop == range) return;
    m_loop = range;
    replan();
}

void SampleEngine::clearLoop()
{
    if (!m_loop) return;
    m_loop.reset();
    m_next.clear();
    replan();
}

void SampleEngine::setPractice(const PracticeSettings& given, int pass)
{
    // The hear settings change what leaves the engine, not the passes: no plan anew.
    setHear(given.hear);
    PracticeSettings practice = given;
    practice.hear = {};
    // The click alone is switched in the output, not by a new plan.
    PracticeSettings heard = practice;
    heard.metronome = m_practice.metronome;
    // New levels for the same stems are a remix, heard from the frame heard on.
    if (practice.stems.sameFiles(m_practice.stems)) heard.stems = m_practice.stems;
    const bool changed = heard != m_practice;
    const StemSet stemsBefore = m_practice.stems;
    if (pass != kGoOn || practice.metronome != m_practice.metronome) setMetronome(practice.metronome);
    m_practice = practice;
    if (pass != kGoOn) {
        m_practicePass = std::max(0, pass);
        m_prerollDue = true;
    }
    if (changed || pass != kGoOn) showPassRate();
    // Changed while it plays: heard from here on, the pass count kept.
    if (changed) {
        replan();
    } else if (practice.stems != stemsBefore) {
        // setStemMix() takes only levels that differ from those in use.
        m_practice.stems = stemsBefore;
        setStemMix(practice.stems);
    }
}

void SampleEngine::setStemMix(const StemSet& mix)
{
    // Other files are another entry's stems, given with its practice settings.
    if (!mix.sameFiles(m_practice.stems) || mix == m_practice.stems) return;
    // A live mix belongs to the entry heard now: the entries handed over after it keep the
    // mix of their own rows, which the list asserts again as each starts.
    m_practice.stems = mix;
    m_remix = true;
    replan();
}

void SampleEngine::setBeats(const QString& path, std::shared_ptr<const beats::BeatGrid> grid)
{
    m_shared->post({BeatsCommand{path, std::move(grid)}});
    // An automatic count-in waiting to be heard is placed on them.
    if (path == m_path && m_practice.countInAuto && m_prerollDue && m_state != PlayState::Playing) replan();
}

void SampleEngine::setMetronome(bool on)
{
    m_shared->metronome.store(on, std::memory_order_relaxed);
}

bool SampleEngine::metronome() const
{
    return m_shared->metronome.load(std::memory_order_relaxed);
}

void SampleEngine::showPassRate()
{
    if (!m_practice.hasTrainer()) return;
    emit passRateChanged(audio::PracticePlan(m_practice, m_rate, m_sampleRate).rateOf(m_practicePass));
}

bool SampleEngine::queueNext(const NextEntry& next)
{
    // Taken while the file still opens too: an entry loaded because the one before could
    // not hand it over still hands over the one after it.
    // From the pass before the last on: the worker may render the last one whole before
    // it is heard, and how its end blends depends on what follows.
    if (m_load == Load::None || m_state != PlayState::Playing || !m_loop || !m_loop->holdAtStop || m_loop->wraps < 0 ||
        m_loop->wraps > 1 || !(next.rate > 0) || next.path.isEmpty())
        return false;
    // Asked again as the last pass begins: the one handed over stands (the worker may be
    // rendering it already).
    if (next.after < int(m_next.size())) return true;
    if (next.after > int(m_next.size())) return false;
    // One after another handed over: that one ends at a hold within its next pass too.
    if (next.after > 0) {
        const NextEntry& before = m_next.back();
        if (!before.hasLoop || !before.loop.holdAtStop || before.loop.wraps < 0 || before.loop.wraps > 1) return false;
    }
    m_next.push_back(next);
    m_changedAt = heardFrame();
    m_shared->post({NextCommand{m_epoch, m_entry + m_next.size(), next}});
    return true;
}

bool SampleEngine::takeBackNext()
{
    if (m_next.empty()) return false;
    // Once the output took any of it, it is heard within the output's latency.
    drainRuns();
    for (const Run& r : m_runs)
        if (r.epoch == m_epoch && r.entry == m_entry + 1) return false;
    m_next.clear();
    m_nextTakenBack = true;
    replan();
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
            // Silence stands where the sound before it ended, or where it was cut.
            const Run& b = m_runs.back();
            if (!r.standsKnown) {
                r.sourcePos = b.sourcePos + double(b.frames) * b.step;
                r.entry = b.entry;
            }
            r.epoch = b.epoch;
        }
        m_runs.push_back(r);
    }
    // What the output replaced was never heard: its wraps and ends did not happen.
    const qint64 replacedFrom = m_shared->replacedFrom.load(std::memory_order_acquire);
    const qint64 replacedTo = m_shared->replacedTo.load(std::memory_order_acquire);
    for (Run& r : m_runs)
        if (r.at >= double(replacedFrom) && r.at < double(replacedTo)) r.handled = true;
    // Keep what is still to be heard and the run heard now.
    const double heard = heardFrame();
    while (m_runs.size() > 1 && m_runs[1].at <= heard && m_runs.front().handled) m_runs.pop_front();
}

double SampleEngine::position() const
{
    if (m_load != Load::Ready || m_state == PlayState::Stopped || m_state == PlayState::Paused) {
        if (m_atEnd) return m_endPos;
        if (m_state != PlayState::Paused || m_load != Load::Ready) return m_planStart;
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
    // While the engine wraps or holds by itself its stop is heard only as the end (which
    // reads it exactly) or not at all; a stretched pass's last frames may map a hair past
    // it, which must not read as having reached it: the list would go on a second time.
    // Nor may the pass's very last frame, which a stretched step's rounding reads a hair
    // short of the stop (within what counts as reaching it): heard at the end of a block,
    // list play would start the next entry over the one handed over already.
    const bool bounded = m_loop && (m_loop->wraps != 0 || m_loop->holdAtStop);
    const double stopFrame = std::round(m_loop ? m_loop->stop * m_sampleRate : 0.0);
    if (bounded && m_loop->stop > m_loop->start && pos * m_sampleRate >= stopFrame - 1e-6 && run->sourcePos < stopFrame)
        return m_loop->stop - 1.0 / m_sampleRate;
    return pos;
}

void SampleEngine::tick()
{
    // What is heard before this thread knows the file is told once it does.
    if (m_load != Load::Ready) return;
    drainRuns();
    const double heard = heardFrame();
    for (Run& r : m_runs) {
        if (r.handled || r.at > heard) continue;
        if (r.epoch != m_epoch) {
            r.handled = true;
            continue;
        }
        if (r.entry == m_entry + 1 && !m_next.empty()) {
            // The handed-over entry is heard: it is the one playing now.
            std::optional<Opened> info;
            {
                std::lock_guard lock(m_shared->mutex);
                auto& opened = m_shared->nextOpened;
                while (!opened.empty() && opened.front().first < r.entry) opened.pop_front();
                if (!opened.empty() && opened.front().first == r.entry) {
                    info = opened.front().second;
                    opened.pop_front();
                }
            }
            m_entry = r.entry;
            const NextEntry n = m_next.front();
            m_next.pop_front();
            m_path = n.path;
            m_loop.reset();
            if (n.hasLoop) m_loop = n.loop;
            m_planStart = n.start;
            m_rate = n.rate;
            m_practice = n.practice;
            m_practice.hear = {};  // the pull took it with the entry's first chunk
            // Its metronome as its row has it: setPractice() that follows finds nothing changed.
            setMetronome(m_practice.metronome);
            m_practicePass = 0;
            m_prerollDue = false;
            showPassRate();
            if (info && info->ok) {
                m_duration = info->format.frames > 0 ? double(info->format.frames) / m_sampleRate : 0.0;
                m_tags = info->tags;
            }
            if (n.toEnd && m_loop) m_loop->stop = m_duration;
            reportDuration();
            emit nextStarted();
        }
        if (r.entry != m_entry) {
            r.handled = true;
            continue;
        }
        const bool wrapped = std::exchange(r.passStart, false);
        if (wrapped) {
            if (m_loop && m_loop->wraps > 0) --m_loop->wraps;
            ++m_practicePass;
            showPassRate();
            emit loopWrapped();
        }
        if (wrapped || std::pair{m_epoch, m_entry} != m_passHeardOf) tellPassHeard();
        if (r.end) {
            if (heard < r.at + double(r.frames)) continue;
            r.handled = true;
            m_atEnd = true;
            m_endPos = (r.sourcePos + double(r.frames) * r.step) / m_sampleRate;
            // A held stop ends on the frame nearest it: the end is the stop itself, which
            // entry playback waits to reach.
            if (m_loop && m_loop->holdAtStop && m_loop->stop > m_loop->start &&
                std::abs(m_endPos - m_loop->stop) * m_sampleRate < 1.0)
                m_endPos = m_loop->stop;
            m_shared->gate.store(false);
            setState(PlayState::Stopped);
            return;
        }
        r.handled = true;
    }
    scheduleTick(heard);
}

void SampleEngine::tellPassHeard()
{
    m_passHeardOf = {m_epoch, m_entry};
    // After what its listeners sent (a hand-over, a plan they changed): the worker takes
    // those first.
    QMetaObject::invokeMethod(this, [this, heard = m_passHeardOf] {
        // An endless loop or no range at all ends only where the file fails: told at once.
        if (heard != std::pair{m_epoch, m_entry} || (m_loop && m_loop->wraps > 0)) return;
        std::lock_guard lock(m_shared->mutex);
        m_shared->lastPassHeard = std::max(m_shared->lastPassHeard, heard);
        m_shared->nudged = true;
        m_shared->wake.notify_all();
    }, Qt::QueuedConnection);
}

void SampleEngine::scheduleTick(double heard)
{
    double due = heard + kHeardPollMs * m_sampleRate / 1000.0;
    // What the output pulls from now on is heard after all it has pulled so far, so no note
    // yet to come stands before that: the look waits for it. Only a change the worker may
    // still be carrying out replaces what is queued, nearer: for a second of sound after
    // one, the look keeps its pace.
    if (heard > m_changedAt + m_sampleRate)
        due = std::max(due, std::min(double(m_shared->written.load(std::memory_order_acquire)),
                                     heard + kHeardWaitMaxMs * m_sampleRate / 1000.0));
    for (const Run& r : m_runs) {
        if (r.handled || r.epoch != m_epoch || !(r.passStart || r.end || r.entry != m_entry)) continue;
        due = std::min(due, r.end ? r.at + double(r.frames) : r.at);
        break;
    }
    m_heardTimer.start(std::max(1, int(std::ceil((due - heard) * 1000.0 / m_sampleRate))));
}

} // namespace engine
