#include "player/audiooutput.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace player::audio {
namespace {

using Clock = std::chrono::steady_clock;

qint64 nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

// Short enough for a play command to be heard soon, long enough that a busy machine
// does not starve the server; the engine decodes far ahead of it.
constexpr int kTargetLatencyMs = 100;
constexpr int kRequestMs = 10;

class PulseOutput : public AudioOutput {
public:
    ~PulseOutput() override
    {
        stop();
        if (m_loop) pa_threaded_mainloop_stop(m_loop);
        if (m_context) {
            pa_context_disconnect(m_context);
            pa_context_unref(m_context);
        }
        if (m_loop) pa_threaded_mainloop_free(m_loop);
    }

    bool connect(int timeoutMs)
    {
        m_loop = pa_threaded_mainloop_new();
        if (!m_loop) return false;
        pa_proplist* props = pa_proplist_new();
        pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, "Vamplet");
        pa_proplist_sets(props, PA_PROP_MEDIA_ROLE, "music");
        m_context = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(m_loop), "Vamplet", props);
        pa_proplist_free(props);
        if (!m_context) return false;
        if (pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) return false;
        if (pa_threaded_mainloop_start(m_loop) < 0) return false;
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            pa_threaded_mainloop_lock(m_loop);
            const pa_context_state_t state = pa_context_get_state(m_context);
            pa_threaded_mainloop_unlock(m_loop);
            if (state == PA_CONTEXT_READY) return true;
            if (!PA_CONTEXT_IS_GOOD(state) || Clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }

    bool start(int sampleRate, Pull pull) override
    {
        stop();
        m_pull = std::move(pull);
        m_rate = sampleRate;
        m_written.store(0);
        m_timeUs.store(0);
        m_stampNs.store(nowNs());
        m_healthy.store(true);
        const pa_sample_spec sampleFormat{PA_SAMPLE_FLOAT32NE, uint32_t(sampleRate), 2};
        const uint32_t bytesPerMs = uint32_t(sampleRate) * 8 / 1000;
        pa_buffer_attr attr;
        attr.maxlength = uint32_t(-1);
        attr.tlength = bytesPerMs * kTargetLatencyMs;
        attr.prebuf = 0;  // starts at once; we never leave it empty
        attr.minreq = bytesPerMs * kRequestMs;
        attr.fragsize = uint32_t(-1);
        pa_threaded_mainloop_lock(m_loop);
        m_stream = pa_stream_new(m_context, "Vamplet", &sampleFormat, nullptr);
        bool ok = m_stream != nullptr;
        if (ok) {
            pa_stream_set_write_callback(m_stream, &PulseOutput::onWrite, this);
            pa_stream_set_state_callback(m_stream, &PulseOutput::onState, this);
            const auto flags = pa_stream_flags_t(PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_ADJUST_LATENCY);
            ok = pa_stream_connect_playback(m_stream, nullptr, &attr, flags, nullptr, nullptr) >= 0;
        }
        pa_threaded_mainloop_unlock(m_loop);
        if (!ok) stop();
        return ok;
    }

    void stop() override
    {
        if (!m_stream) return;
        pa_threaded_mainloop_lock(m_loop);
        pa_stream_set_write_callback(m_stream, nullptr, nullptr);
        pa_stream_set_state_callback(m_stream, nullptr, nullptr);
        pa_stream_disconnect(m_stream);
        pa_stream_unref(m_stream);
        m_stream = nullptr;
        pa_threaded_mainloop_unlock(m_loop);
    }

    int sampleRate() const override { return m_rate; }
    bool healthy() const override
    {
        return m_healthy.load() && m_context && PA_CONTEXT_IS_GOOD(pa_context_get_state(m_context));
    }
    const char* name() const override { return "pulse"; }

    double heardFrames() const override
    {
        TimingReport r;
        std::uint64_t seq;
        do {
            seq = m_seq.load(std::memory_order_acquire);
            r.streamUs = m_timeUs.load(std::memory_order_relaxed);
            r.stampNs = m_stampNs.load(std::memory_order_relaxed);
        } while ((seq & 1) || seq != m_seq.load(std::memory_order_acquire));
        return heardFramesAt(r, nowNs(), m_written.load(std::memory_order_relaxed), m_rate,
                             qint64(kTargetLatencyMs) * 1'000'000);
    }

private:
    static void onState(pa_stream* s, void* self)
    {
        const pa_stream_state_t state = pa_stream_get_state(s);
        if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED)
            static_cast<PulseOutput*>(self)->m_healthy.store(false);
    }

    static void onWrite(pa_stream* s, size_t bytes, void* self) { static_cast<PulseOutput*>(self)->write(s, bytes); }

    void write(pa_stream* s, size_t bytes)
    {
        while (bytes >= 8) {
            void* data = nullptr;
            size_t n = bytes;
            if (pa_stream_begin_write(s, &data, &n) < 0 || !data) break;
            n -= n % 8;
            const qint64 frames = qint64(n / 8);
            m_pull(static_cast<float*>(data), frames);
            if (pa_stream_write(s, data, n, nullptr, 0, PA_SEEK_RELATIVE) < 0) break;
            m_written.fetch_add(frames, std::memory_order_relaxed);
            bytes -= n;
        }
        // A fresh report with every request: the library's own run-on between the reports it
        // asks for by itself (a second or more apart) lags and jumps by a millisecond or so.
        if (pa_operation* o = pa_stream_update_timing_info(s, &PulseOutput::onTiming, this)) pa_operation_unref(o);
    }

    static void onTiming(pa_stream* s, int ok, void* self)
    {
        pa_usec_t usec = 0;
        if (ok && pa_stream_get_time(s, &usec) == 0) static_cast<PulseOutput*>(self)->report(usec);
    }

    void report(pa_usec_t usec)
    {
        m_seq.fetch_add(1, std::memory_order_acq_rel);
        m_timeUs.store(qint64(usec), std::memory_order_relaxed);
        m_stampNs.store(nowNs(), std::memory_order_relaxed);
        m_seq.fetch_add(1, std::memory_order_acq_rel);
    }

    pa_threaded_mainloop* m_loop = nullptr;
    pa_context* m_context = nullptr;
    pa_stream* m_stream = nullptr;
    Pull m_pull;
    std::atomic<int> m_rate{44100};
    std::atomic<qint64> m_written{0};
    std::atomic<std::uint64_t> m_seq{0};
    std::atomic<qint64> m_timeUs{0};
    std::atomic<qint64> m_stampNs{0};
    std::atomic<bool> m_healthy{true};
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
    if (!out->connect(timeoutMs)) return nullptr;
    return out;
}

std::unique_ptr<AudioOutput> openNullOutput()
{
    return std::make_unique<NullOutput>();
}

} // namespace player::audio
