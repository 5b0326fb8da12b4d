#include "audio/audiooutput.h"

#include "audio/realtime.h"
#include "audio/seqcount.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <optional>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace audio {

void Rewrites::add(qint64 at, qint64 leftOut)
{
    int n = m_count.load(std::memory_order_relaxed);
    if (n == kKept) {
        m_before.store(m_leftOut[0].load(std::memory_order_relaxed), std::memory_order_relaxed);
        for (int i = 1; i < kKept; ++i) {
            m_at[i - 1].store(m_at[i].load(std::memory_order_relaxed), std::memory_order_relaxed);
            m_leftOut[i - 1].store(m_leftOut[i].load(std::memory_order_relaxed), std::memory_order_relaxed);
        }
        --n;
    }
    m_at[n].store(at, std::memory_order_relaxed);
    m_leftOut[n].store(leftOut, std::memory_order_relaxed);
    m_count.store(n + 1, std::memory_order_relaxed);
}

qint64 Rewrites::leftOutAt(double frame) const
{
    for (int i = m_count.load(std::memory_order_relaxed) - 1; i >= 0; --i)
        if (double(m_at[i].load(std::memory_order_relaxed)) <= frame) return m_leftOut[i].load(std::memory_order_relaxed);
    return m_before.load(std::memory_order_relaxed);
}

qint64 Rewrites::serverFrameOf(qint64 pulled) const
{
    for (int i = m_count.load(std::memory_order_relaxed) - 1; i >= 0; --i) {
        const qint64 leftOut = m_leftOut[i].load(std::memory_order_relaxed);
        if (m_at[i].load(std::memory_order_relaxed) + leftOut <= pulled) return pulled - leftOut;
    }
    return pulled - m_before.load(std::memory_order_relaxed);
}

void Rewrites::clear()
{
    m_count.store(0, std::memory_order_relaxed);
    m_before.store(0, std::memory_order_relaxed);
}

namespace {

using Clock = std::chrono::steady_clock;

// The thread that hands sound over runs ahead of busy programs where the system lets it.
void tryRealTime()
{
    thread_local bool tried = false;
    if (tried) return;
    tried = true;
    raiseThisThread(ThreadRole::Output);
}

qint64 nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

// The sound the server holds for us, asked for again every kServerRequestMs. A busy
// machine kept even our real-time thread from running for 95-135 ms at a time (two cores,
// load 15), and the server reads its sink's whole latency at once: with the latency split
// between sink and queue, only twice the request was left to ride that out, and the queue
// ran dry (a 40-160 ms hole every few seconds). So the sink holds one request and the
// queue the rest. A long queue costs no time to the first sound (it goes over queued
// silence, at the server's reading) nor to a change (the queue is replaced). Each request
// wakes the server's thread of ours: at 20 ms they were most of a looping program's
// wake-ups (some 110 a second, against 40-55 at 40 ms).
constexpr int kQueueMs = 200;
constexpr int kServerRequestMs = 40;
// What a kick writes, and the null output's period.
constexpr int kRequestMs = 10;
// A report run on by the clock for longer than this is from an output that stopped.
constexpr int kReportRunOnMs = 100;
// How far past the server's reading sound may be written over queued silence: time for
// the write to reach the server before it reads there. The server reads in blocks, ahead
// of the reading its last report gives: written right there the first 2 ms went unheard,
// 4 ms past it once in eight runs on a loaded machine.
constexpr int kRewriteLeadMs = 8;
// Past the server's own reading: the frames it may be in the middle of taking.
constexpr int kOnReadLeadFrames = 96;
// What was written over is faded into what replaces it: a cut to silence (a pause) is
// heard as a short fade, sound that goes on as it was is unchanged.
constexpr int kReplaceFadeMs = 5;
// Written frames kept to fade from: more than the server ever holds of ours.
constexpr int kQueuedKeptMs = 1000;
// A server that asks for nothing this long, with the sink not suspended, has hung.
constexpr qint64 kStallNs = 1'000'000'000;

class PulseOutput : public AudioOutput {
public:
    ~PulseOutput() override
    {
        stop();
        if (m_loop) pa_threaded_mainloop_stop(m_loop);
        dropContext();
        if (m_loop) pa_threaded_mainloop_free(m_loop);
    }

    void setOnLost(std::function<void()> lost) override { m_onLost = std::move(lost); }

    // A context that went away is dropped and a new one made on the same main loop, so the
    // atomics the UI reads stay where they are.
    bool reconnect(int timeoutMs) override
    {
        // A hung server's context still looks up: it is made anew, and waited for.
        if (m_contextUp.load() && !m_stalled) return true;
        m_stalled = false;
        if (!m_loop) {
            m_loop = pa_threaded_mainloop_new();
            if (!m_loop) return false;
            if (pa_threaded_mainloop_start(m_loop) < 0) {
                pa_threaded_mainloop_free(m_loop);
                m_loop = nullptr;
                return false;
            }
        }
        pa_threaded_mainloop_lock(m_loop);
        dropContext();
        pa_proplist* props = pa_proplist_new();
        pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, "Vamplet");
        pa_proplist_sets(props, PA_PROP_MEDIA_ROLE, "music");
        m_context = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(m_loop), "Vamplet", props);
        pa_proplist_free(props);
        bool ok = m_context != nullptr;
        if (ok) {
            pa_context_set_state_callback(m_context, &PulseOutput::onContextState, this);
            ok = pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0;
        }
        pa_threaded_mainloop_unlock(m_loop);
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (ok && !m_contextUp.load()) {
            pa_threaded_mainloop_lock(m_loop);
            const pa_context_state_t state = pa_context_get_state(m_context);
            pa_threaded_mainloop_unlock(m_loop);
            if (!PA_CONTEXT_IS_GOOD(state) || Clock::now() > deadline) ok = false;
            else std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        if (!ok) {
            pa_threaded_mainloop_lock(m_loop);
            dropContext();
            pa_threaded_mainloop_unlock(m_loop);
        }
        return ok;
    }

    bool start(int sampleRate, Pull pull) override
    {
        stop();
        m_pull = std::move(pull);
        m_rate = sampleRate;
        m_written.store(0);
        m_index = 0;
        m_silentFrom = 0;
        m_ranShort = false;
        m_landing.reset();
        m_mostAhead = 0;
        m_rewrites.clear();
        m_queued.assign(std::size_t(sampleRate) * kQueuedKeptMs / 1000 * 2, 0.0f);
        m_preview.assign(m_queued.size(), 0.0f);
        m_timeUs.store(0);
        m_stampNs.store(nowNs());
        m_healthy.store(true);
        m_lastAskedNs.store(nowNs());
        m_suspended.store(false);
        if (!m_contextUp.load()) return false;
        const pa_sample_spec sampleFormat{PA_SAMPLE_FLOAT32NE, uint32_t(sampleRate), 2};
        const uint32_t bytesPerMs = uint32_t(sampleRate) * 8 / 1000;
        pa_buffer_attr attr;
        attr.maxlength = uint32_t(-1);
        attr.tlength = bytesPerMs * kQueueMs;
        attr.prebuf = 0;  // starts at once; we never leave it empty
        attr.minreq = bytesPerMs * kServerRequestMs;
        attr.fragsize = uint32_t(-1);
        pa_threaded_mainloop_lock(m_loop);
        m_stream = pa_stream_new(m_context, "Vamplet", &sampleFormat, nullptr);
        bool ok = m_stream != nullptr;
        if (ok) {
            m_started.store(true);
            pa_stream_set_write_callback(m_stream, &PulseOutput::onWrite, this);
            pa_stream_set_state_callback(m_stream, &PulseOutput::onState, this);
            pa_stream_set_suspended_callback(m_stream, &PulseOutput::onSuspended, this);
            pa_stream_set_underflow_callback(m_stream, &PulseOutput::onUnderflow, this);
            // Early requests: the sink's latency is one request, the queue all of tlength.
            const auto flags = pa_stream_flags_t(PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_EARLY_REQUESTS);
            ok = pa_stream_connect_playback(m_stream, nullptr, &attr, flags, nullptr, nullptr) >= 0;
        }
        pa_threaded_mainloop_unlock(m_loop);
        if (!ok) stop();
        return ok;
    }

    void stop() override
    {
        if (!m_stream) return;
        m_stalled = stalled();
        m_started.store(false);
        pa_threaded_mainloop_lock(m_loop);
        pa_stream_set_write_callback(m_stream, nullptr, nullptr);
        pa_stream_set_state_callback(m_stream, nullptr, nullptr);
        pa_stream_set_suspended_callback(m_stream, nullptr, nullptr);
        pa_stream_disconnect(m_stream);
        pa_stream_unref(m_stream);
        m_stream = nullptr;
        pa_threaded_mainloop_unlock(m_loop);
    }

    // The pull runs here, on the kicking thread: the main loop's lock keeps it from the
    // main loop's own writes, which is all that keeps the engine's ring to one consumer.
    void kick() override
    {
        if (m_silentFrom.load(std::memory_order_relaxed) < 0) return;
        pa_threaded_mainloop_lock(m_loop);
        m_kicking = true;
        if (m_stream && m_silentFrom.load(std::memory_order_relaxed) >= 0)
            write(m_stream, std::size_t(m_rate) * 8 * kRequestMs / 1000);
        m_kicking = false;
        pa_threaded_mainloop_unlock(m_loop);
    }

    qint64 replaceableFrom(Putting what) override
    {
        if (!m_loop) return -1;
        qint64 from = -1;
        pa_threaded_mainloop_lock(m_loop);
        // Sound placed on the reading and not located yet is left as it is; so is a queue
        // that ends in silence (a start about to be placed), unless silence goes over it.
        const qint64 silentFrom = m_silentFrom.load(std::memory_order_relaxed);
        if (m_stream && !m_landing && (silentFrom < 0 || what == Putting::Silence)) {
            const qint64 at = reading(m_stream) + qint64(kRewriteLeadMs) * m_rate / 1000;
            if (at < (silentFrom < 0 ? m_index : silentFrom)) from = at + m_rewrites.leftOutAt(double(at));
        }
        pa_threaded_mainloop_unlock(m_loop);
        return from;
    }

    // Written at once over all that is replaced, so none of the old sound is left queued
    // past the new; where the server has read on meanwhile, it goes just past its reading.
    void replace(qint64 from, const std::function<void(bool replacing)>& ready) override
    {
        if (!m_loop) {
            ready(false);
            return;
        }
        pa_threaded_mainloop_lock(m_loop);
        qint64 at = m_index;  // nothing to replace
        if (m_stream && !m_landing)
            at = std::max(m_rewrites.serverFrameOf(from), reading(m_stream) + qint64(kRewriteLeadMs) * m_rate / 1000);
        ready(at < m_index);
        if (at < m_index) {
            m_replaceAt = at;
            m_silentFrom.store(-1, std::memory_order_relaxed);
            m_kicking = true;
            write(m_stream, std::size_t(m_index - at) * 8);
            m_kicking = false;
            m_replaceAt.reset();
        }
        pa_threaded_mainloop_unlock(m_loop);
    }

    // Written over the queue from just past the server's reading, and the old sound after
    // it written again as it was (from what was kept), so the queue ends where it did and
    // what was pulled still counts as it did.
    bool preview(qint64 from, const Fill& fill, bool goesOn) override
    {
        if (!m_loop) return false;
        pa_threaded_mainloop_lock(m_loop);
        bool put = false;
        if (m_stream && !m_landing && m_silentFrom.load(std::memory_order_relaxed) < 0) {
            const qint64 start = m_rewrites.serverFrameOf(from);
            const qint64 at = std::max(start, reading(m_stream) + qint64(kRewriteLeadMs) * m_rate / 1000);
            const qint64 frames = m_index - at;
            if (frames > 0 && frames * 2 <= qint64(m_preview.size())) {
                float* data = m_preview.data();
                const qint64 got = std::min(frames, fill(at - start, data, frames));
                if (got > 0) {
                    fadeFromQueued(data, at, got);
                    if (!goesOn || got < frames) fadeBackToQueued(data, at, got, frames);
                    put = pa_stream_write(m_stream, data, std::size_t(frames) * 8, nullptr, int64_t(at) * 8,
                                          PA_SEEK_ABSOLUTE) >= 0;
                    if (put) keepQueued(data, at, frames);
                }
            }
        }
        pa_threaded_mainloop_unlock(m_loop);
        return put;
    }

    int sampleRate() const override { return m_rate; }
    qint64 underflows() const override { return m_underflows.load(std::memory_order_relaxed); }
    bool healthy() const override { return m_healthy.load() && m_contextUp.load() && !stalled(); }
    const char* name() const override { return "pulse"; }

    double heardFrames() const override
    {
        const qint64 now = nowNs();
        // One consistent reading of the server's report and of the rewrites made since.
        const double pulled = m_seq.read([&] {
            const TimingReport r{m_timeUs.load(std::memory_order_relaxed), m_stampNs.load(std::memory_order_relaxed)};
            const double heard = heardFramesAt(r, now, m_written.load(std::memory_order_relaxed), m_rate,
                                               qint64(kReportRunOnMs) * 1'000'000);
            // Sound written over queued silence left stream frames out: heard counts what was pulled.
            return heard + double(m_rewrites.leftOutAt(heard));
        });
        return std::min(pulled, double(m_written.load(std::memory_order_relaxed)));
    }

private:
    // Under the main loop's lock, or before it runs.
    void dropContext()
    {
        m_contextUp.store(false);
        if (!m_context) return;
        pa_context_set_state_callback(m_context, nullptr, nullptr);
        pa_context_disconnect(m_context);
        pa_context_unref(m_context);
        m_context = nullptr;
    }

    // On the main loop's thread.
    void lost()
    {
        m_healthy.store(false);
        if (m_onLost) m_onLost();
    }

    static void onContextState(pa_context* c, void* self)
    {
        auto* out = static_cast<PulseOutput*>(self);
        const pa_context_state_t state = pa_context_get_state(c);
        if (state == PA_CONTEXT_READY) {
            out->m_contextUp.store(true);
        } else if (!PA_CONTEXT_IS_GOOD(state)) {
            out->m_contextUp.store(false);
            out->lost();
        }
    }

    static void onState(pa_stream* s, void* self)
    {
        const pa_stream_state_t state = pa_stream_get_state(s);
        if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED) static_cast<PulseOutput*>(self)->lost();
    }

    // The first frame the server will not have read by the time a write made now reaches
    // it, before the lead; the queue's end where that is not known.
    qint64 reading(pa_stream* s)
    {
        const pa_timing_info* t = pa_stream_get_timing_info(s);
        if (!t || t->read_index_corrupt || !t->playing) return m_index;
        const qint64 ahead = qint64(t->sink_usec) * m_rate / 1'000'000;
        m_mostAhead = std::max(m_mostAhead, ahead);
        const qint64 age = qint64(pa_timeval_age(&t->timestamp)) * m_rate / 1'000'000;
        return Rewrites::readingAt(t->read_index / 8, ahead, m_mostAhead, age);
    }

    static void onWrite(pa_stream* s, size_t bytes, void* self)
    {
        static_cast<PulseOutput*>(self)->m_lastAskedNs.store(nowNs(), std::memory_order_relaxed);
        static_cast<PulseOutput*>(self)->write(s, bytes);
    }

    // On the main loop's thread: the server found our queue empty where sound was due.
    static void onUnderflow(pa_stream*, void* self)
    {
        static_cast<PulseOutput*>(self)->m_underflows.fetch_add(1, std::memory_order_relaxed);
    }

    static void onSuspended(pa_stream* s, void* self)
    {
        auto* out = static_cast<PulseOutput*>(self);
        out->m_suspended.store(pa_stream_is_suspended(s) > 0);
        out->m_lastAskedNs.store(nowNs());
    }

    // A suspended sink asks for nothing and is not hung.
    bool stalled() const
    {
        return m_started.load() && !m_suspended.load() && nowNs() - m_lastAskedNs.load() > kStallNs;
    }

    // Always under the main loop's lock (on its thread, or in kick()): one pull at a time.
    void write(pa_stream* s, size_t bytes)
    {
        if (!m_kicking) tryRealTime();
        while (bytes >= 8) {
            void* data = nullptr;
            size_t n = bytes;
            if (pa_stream_begin_write(s, &data, &n) < 0 || !data) break;
            n -= n % 8;
            const qint64 frames = qint64(n / 8);
            const qint64 sound = m_pull(static_cast<float*>(data), frames);
            const qint64 silentFrom = m_silentFrom.load(std::memory_order_relaxed);
            const qint64 lead = qint64(kRewriteLeadMs) * m_rate / 1000;
            // Until a placement on the reading is reported, what follows goes on after it.
            const bool placing = sound > 0 && silentFrom >= 0 && !m_landing;
            const qint64 reads = placing ? reading(s) : m_index;
            const qint64 at = m_replaceAt                 ? *m_replaceAt
                              : placing ? Rewrites::soundAt(m_index, silentFrom, reads, lead, m_ranShort)
                                        : m_index;
            if (m_replaceAt) fadeFromQueued(static_cast<float*>(data), at, std::min(frames, m_index - at));
            m_replaceAt.reset();
            keepQueued(static_cast<const float*>(data), at, frames);
            const qint64 written = m_written.load(std::memory_order_relaxed);
            // Sound that goes just past the reading goes where the server itself reads
            // next: it reads in bursts its reports lag, and sound put where a report said
            // was partly read past before it arrived. Where it landed, the next report tells.
            const bool onRead = placing && at < m_index && at == reads + lead && at > silentFrom;
            if (onRead) {
                m_landing = Landing{at, written, 0};
            } else if (at < m_index) {
                m_seq.beginWrite();
                m_rewrites.add(at, written - at);
                m_seq.endWrite();
            }
            const auto mode = onRead ? PA_SEEK_RELATIVE_ON_READ : at < m_index ? PA_SEEK_ABSOLUTE : PA_SEEK_RELATIVE;
            const int64_t offset = mode == PA_SEEK_ABSOLUTE ? int64_t(at) * 8 : onRead ? int64_t(kOnReadLeadFrames) * 8 : 0;
            if (pa_stream_write(s, data, n, nullptr, offset, mode) < 0) break;
            if (m_landing) m_landing->since += frames;
            if (sound == frames) m_silentFrom.store(-1, std::memory_order_relaxed);
            else if (sound > 0 || silentFrom < 0) m_silentFrom.store(at + sound, std::memory_order_relaxed);
            if (sound > 0) m_ranShort = sound < frames;
            m_index = at + frames;
            m_written.store(written + frames, std::memory_order_relaxed);
            bytes -= n;
        }
        // A fresh report with every request: the library's own run-on between the reports it
        // asks for by itself (a second or more apart) lags and jumps by a millisecond or so.
        if (pa_operation* o = pa_stream_update_timing_info(s, &PulseOutput::onTiming, this)) pa_operation_unref(o);
    }

    // Under the main loop's lock, as write(): the queue's frames by their place on the
    // server's count, for a replacement to fade from. Filled before the server starts.
    void keepQueued(const float* data, qint64 at, qint64 frames)
    {
        const qint64 kept = qint64(m_queued.size()) / 2;
        for (qint64 i = 0; i < frames && kept > 0; ++i) {
            const std::size_t slot = std::size_t((at + i) % kept) * 2;
            m_queued[slot] = data[i * 2];
            m_queued[slot + 1] = data[i * 2 + 1];
        }
    }

    // The first frames of a replacement rise as the `queued` frames they go over fall.
    void fadeFromQueued(float* data, qint64 at, qint64 queued)
    {
        const qint64 kept = qint64(m_queued.size()) / 2;
        const qint64 fade = qint64(kReplaceFadeMs) * m_rate / 1000;
        if (queued > kept) return;  // never: the server holds far less
        for (qint64 i = 0; i < std::min(fade, queued); ++i) {
            const float in = float(i + 1) / float(fade + 1);
            const std::size_t slot = std::size_t((at + i) % kept) * 2;
            data[i * 2] = data[i * 2] * in + m_queued[slot] * (1.0f - in);
            data[i * 2 + 1] = data[i * 2 + 1] * in + m_queued[slot + 1] * (1.0f - in);
        }
    }

    // After the `got` frames of a preview, the queued sound from there to `frames` as it
    // was, its first few milliseconds fading in from the preview's last frame on.
    void fadeBackToQueued(float* data, qint64 at, qint64 got, qint64 frames)
    {
        const qint64 kept = qint64(m_queued.size()) / 2;
        const qint64 fade = qint64(kReplaceFadeMs) * m_rate / 1000;
        for (qint64 i = got; i < frames; ++i) {
            const std::size_t slot = std::size_t((at + i) % kept) * 2;
            data[i * 2] = m_queued[slot];
            data[i * 2 + 1] = m_queued[slot + 1];
        }
        for (qint64 i = std::max<qint64>(0, got - fade); i < got; ++i) {
            const float out = float(got - i) / float(fade + 1);
            const std::size_t slot = std::size_t((at + i) % kept) * 2;
            data[i * 2] = data[i * 2] * out + m_queued[slot] * (1.0f - out);
            data[i * 2 + 1] = data[i * 2 + 1] * out + m_queued[slot + 1] * (1.0f - out);
        }
    }

    static void onTiming(pa_stream* s, int ok, void* self)
    {
        auto* out = static_cast<PulseOutput*>(self);
        if (ok) out->landed(pa_stream_get_timing_info(s));
        pa_usec_t usec = 0;
        if (ok && pa_stream_get_time(s, &usec) == 0) out->report(usec);
    }

    // The server's count of what was written tells where sound placed on its reading went.
    void landed(const pa_timing_info* t)
    {
        if (!m_landing || !t || t->write_index_corrupt) return;
        const qint64 at = t->write_index / 8 - m_landing->since;
        const qint64 shift = at - m_landing->guess;
        m_seq.beginWrite();
        m_rewrites.add(at, m_landing->written - at);
        m_seq.endWrite();
        m_index += shift;
        const qint64 silentFrom = m_silentFrom.load(std::memory_order_relaxed);
        if (silentFrom >= 0) m_silentFrom.store(silentFrom + shift, std::memory_order_relaxed);
        m_landing.reset();
    }

    void report(pa_usec_t usec)
    {
        m_seq.beginWrite();
        m_timeUs.store(qint64(usec), std::memory_order_relaxed);
        m_stampNs.store(nowNs(), std::memory_order_relaxed);
        m_seq.endWrite();
    }

    pa_threaded_mainloop* m_loop = nullptr;
    pa_context* m_context = nullptr;
    pa_stream* m_stream = nullptr;
    Pull m_pull;
    // Written under the main loop's lock: where the next write goes on the server's count,
    // and where the silence queued at its end begins (-1: it ends in sound).
    qint64 m_index = 0;
    std::atomic<qint64> m_silentFrom{-1};
    Rewrites m_rewrites;
    bool m_ranShort = false;  // the last sound written ran out inside its write
    // Sound placed on the server's reading, until a report tells where it went: where it
    // was guessed to, the frames handed over before it, and the frames written since.
    struct Landing {
        qint64 guess = 0;
        qint64 written = 0;
        qint64 since = 0;
    };
    std::optional<Landing> m_landing;
    qint64 m_mostAhead = 0;   // the most the server was seen taking ahead of the sound heard
    bool m_kicking = false;  // write() called by kick() or replace(), on the worker's thread
    std::optional<qint64> m_replaceAt;  // where replace() puts the next write
    std::vector<float> m_queued;        // the last frames written, by server frame (keepQueued)
    std::vector<float> m_preview;       // a preview and the queue after it, as written (under the lock)
    std::atomic<int> m_rate{44100};
    std::atomic<qint64> m_written{0};
    SeqCount m_seq;  // written under the main loop's lock
    std::atomic<qint64> m_timeUs{0};
    std::atomic<qint64> m_stampNs{0};
    std::atomic<bool> m_healthy{true};
    std::atomic<bool> m_contextUp{false};
    std::atomic<bool> m_started{false};
    std::atomic<bool> m_suspended{false};
    std::atomic<qint64> m_lastAskedNs{0};  // when the server last asked for sound
    std::atomic<qint64> m_underflows{0};   // over every stream this output opened
    bool m_stalled = false;  // the stream stopped had hung; stop() and reconnect() only
    std::function<void()> m_onLost;  // set before the output starts
};

// Takes the sound at the pace a sound card would, and drops it.
class NullOutput : public AudioOutput {
public:
    ~NullOutput() override { stop(); }

    bool start(int sampleRate, Pull pull) override
    {
        stop();
        m_rate = sampleRate;
        m_pulled.store(0);
        m_running.store(true);
        m_thread = std::thread([this, pull = std::move(pull)] { run(pull); });
        return true;
    }

    void stop() override
    {
        m_running.store(false);
        if (m_thread.joinable()) m_thread.join();
    }

    int sampleRate() const override { return m_rate; }
    double heardFrames() const override { return double(m_pulled.load()); }
    const char* name() const override { return "null"; }

private:
    void run(const Pull& pull)
    {
        tryRealTime();
        std::vector<float> buf(1024 * 2);
        const auto t0 = Clock::now();
        auto next = t0;
        while (m_running.load()) {
            next += std::chrono::milliseconds(kRequestMs);
            std::this_thread::sleep_until(next);
            const qint64 due =
                qint64(std::chrono::duration<double>(Clock::now() - t0).count() * m_rate);
            for (qint64 done = m_pulled.load(); done < due;) {
                const qint64 n = std::min<qint64>(1024, due - done);
                pull(buf.data(), n);
                done += n;
                m_pulled.store(done);
            }
        }
    }

    int m_rate = 44100;
    std::atomic<bool> m_running{false};
    std::atomic<qint64> m_pulled{0};
    std::thread m_thread;
};

} // namespace

double heardFramesAt(const TimingReport& report, qint64 nowNs, qint64 written, int sampleRate, qint64 runOnNs)
{
    const qint64 since = std::clamp<qint64>(nowNs - report.stampNs, 0, runOnNs);
    const double heard = (double(report.streamUs) * 1e3 + double(since)) * sampleRate / 1e9;
    return std::clamp(heard, 0.0, double(std::max<qint64>(0, written)));
}

std::unique_ptr<AudioOutput> openPulseOutput(int timeoutMs)
{
    auto out = std::make_unique<PulseOutput>();
    if (!out->reconnect(timeoutMs)) return nullptr;
    return out;
}

std::unique_ptr<AudioOutput> makePulseOutput()
{
    return std::make_unique<PulseOutput>();
}

std::unique_ptr<AudioOutput> openNullOutput()
{
    return std::make_unique<NullOutput>();
}

} // namespace audio
