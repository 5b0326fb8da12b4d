#include "audio/failoveroutput.h"

#include "audio/seqcount.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace audio {

LinkStep linkStep(Link now, LinkEvent event)
{
    switch (now) {
    case Link::Stopped:
        if (event == LinkEvent::Start) return {Link::Server, Move::StartServer};
        break;
    case Link::Server:
        if (event == LinkEvent::Lost) return {Link::Null, Move::ServerToNull};
        if (event == LinkEvent::Stop) return {Link::Stopped, Move::StopServer};
        break;
    case Link::Null:
        if (event == LinkEvent::Answered) return {Link::Server, Move::NullToServer};
        if (event == LinkEvent::Stop) return {Link::Stopped, Move::StopNull};
        break;
    }
    return {now, Move::None};
}

Handover handoverAt(double heard, qint64 pulled, qint64 kept)
{
    const qint64 oldest = std::max<qint64>(0, pulled - std::max<qint64>(0, kept));
    const qint64 from = std::clamp(qint64(std::floor(heard)), oldest, std::max<qint64>(0, pulled));
    return {from, std::max<qint64>(0, pulled) - from};
}

namespace {

// How often a lost server is asked again, and how long one may take to answer: sound is
// back within half a second of a server's return.
constexpr auto kRetry = std::chrono::milliseconds(250);
// What was handed to the server and not heard when it went: its queue (some 200 ms) with
// room for a server that took more after a move.
constexpr int kKeptMs = 1000;

class FailoverOutput : public AudioOutput {
public:
    FailoverOutput(std::unique_ptr<AudioOutput> server, std::unique_ptr<AudioOutput> fallback, int connectMs)
        : m_server(std::move(server)), m_null(std::move(fallback)), m_connectMs(connectMs)
    {
        m_server->setOnLost([this] {
            // On the server's thread, which may hold its lock: no lock of ours here.
            m_lost.store(true);
            m_wake.notify_all();
        });
        m_watcher = std::thread([this] { watch(); });
    }

    ~FailoverOutput() override
    {
        {
            std::lock_guard lock(m_mutex);
            m_quit = true;
        }
        m_wake.notify_all();
        m_watcher.join();
        stop();
        // Before the members its threads tell of a loss go.
        m_server.reset();
        m_null.reset();
    }

    bool start(int sampleRate, Pull pull) override
    {
        std::lock_guard lock(m_mutex);
        apply(LinkEvent::Stop);
        m_pull = std::move(pull);
        m_rate.store(sampleRate);
        m_history.assign(std::size_t(keptFrames()) * kChannelsOut, 0.f);
        m_pulled = m_soundEnd = m_replayAt = m_replayEnd = 0;
        publish(0, Heard::Frozen, 0);
        apply(LinkEvent::Start);
        return true;
    }

    void stop() override
    {
        std::lock_guard lock(m_mutex);
        apply(LinkEvent::Stop);
    }

    void kick() override
    {
        // A kick only hurries sound along: while the outputs are switched it is not needed.
        // The lock keeps its pull from a switch (the null output pulls only while the server
        // is stopped); the server keeps it from its own thread's pulls.
        std::unique_lock lock(m_mutex, std::try_to_lock);
        if (lock.owns_lock() && m_link.load() == Link::Server) m_server->kick();
    }

    // On the server only, whose frames count from where it took over; the null output
    // keeps no queue to replace.
    qint64 replaceableFrom(Putting what) override
    {
        std::unique_lock lock(m_mutex, std::try_to_lock);
        if (!lock.owns_lock() || m_link.load() != Link::Server) return -1;
        const qint64 from = m_server->replaceableFrom(what);
        return from < 0 ? -1 : m_from.load() + from;
    }

    void replace(qint64 from, const std::function<void(bool replacing)>& ready) override
    {
        std::unique_lock lock(m_mutex, std::try_to_lock);
        if (lock.owns_lock() && m_link.load() == Link::Server && from >= m_from.load())
            m_server->replace(from - m_from.load(), ready);
        else
            ready(false);
    }

    bool preview(qint64 from, const Fill& fill, bool goesOn) override
    {
        std::unique_lock lock(m_mutex, std::try_to_lock);
        return lock.owns_lock() && m_link.load() == Link::Server && from >= m_from.load() &&
               m_server->preview(from - m_from.load(), fill, goesOn);
    }

    int sampleRate() const override { return m_rate.load(); }
    qint64 underflows() const override { return m_server->underflows(); }

    double heardFrames() const override
    {
        return m_seq.read([&] {
            const auto by = m_heardBy.load(std::memory_order_relaxed);
            if (by == Heard::Frozen) return m_frozen.load(std::memory_order_relaxed);
            return double(m_from.load(std::memory_order_relaxed))
                   + (by == Heard::Server ? m_server : m_null)->heardFrames();
        });
    }

    bool healthy() const override { return true; }

    const char* name() const override
    {
        const Link link = m_link.load();
        if (link == Link::Stopped) return m_server->healthy() ? m_server->name() : m_null->name();
        return link == Link::Server ? m_server->name() : m_null->name();
    }

private:
    static constexpr int kChannelsOut = 2;
    enum class Heard { Frozen, Server, Null };

    qint64 keptFrames() const { return qint64(m_rate.load()) * kKeptMs / 1000; }

    // The watcher's thread: a lost server is left for the null output, and asked again.
    void watch()
    {
        std::unique_lock lock(m_mutex);
        while (!m_quit) {
            // A failed attempt tells of a loss too: only a loss on the server wakes early.
            m_wake.wait_for(lock, kRetry,
                            [&] { return m_quit || (m_link.load() == Link::Server && m_lost.load()); });
            if (m_quit) break;
            const Link link = m_link.load();
            if (link == Link::Server && (m_lost.exchange(false) || !m_server->healthy())) {
                apply(LinkEvent::Lost);
            } else if (link == Link::Null) {
                // Asked without our lock: a stop or start meanwhile goes to the null output.
                m_connecting = true;
                lock.unlock();
                const bool up = m_server->reconnect(m_connectMs);
                lock.lock();
                m_connecting = false;
                if (up && !m_quit) apply(LinkEvent::Answered);
            }
        }
    }

    // Under m_mutex, with no output pulling but the one the link names.
    void apply(LinkEvent event)
    {
        const LinkStep step = linkStep(m_link.load(), event);
        m_link.store(step.link);
        switch (step.move) {
        case Move::None:
            break;
        case Move::StartServer:
            if (!startOn(m_server.get(), Heard::Server)) fallBack();
            break;
        case Move::ServerToNull:
            handOver(m_server.get(), m_null.get(), Heard::Null);
            break;
        case Move::NullToServer:
            if (!handOver(m_null.get(), m_server.get(), Heard::Server)) fallBack();
            break;
        case Move::StopServer:
            halt(m_server.get());
            break;
        case Move::StopNull:
            halt(m_null.get());
            break;
        }
    }

    double heardOn(const AudioOutput* out) const
    {
        return double(m_from.load(std::memory_order_relaxed)) + out->heardFrames();
    }

    void halt(AudioOutput* out)
    {
        const double heard = heardOn(out);
        out->stop();
        publish(heard, Heard::Frozen, m_from.load());
    }

    bool startOn(AudioOutput* out, Heard by)
    {
        if (out == m_server.get()) {
            if (m_connecting) return false;
            m_lost.store(false);
        }
        // Its first frame is the one to be handed over next; it pulls as soon as it runs.
        const qint64 first = m_replayAt;
        if (!out->start(m_rate.load(), [this](float* data, qint64 frames) { return pullThrough(data, frames); }))
            return false;
        publish(m_frozen.load(), by, first);
        return true;
    }

    // The server would not take a stream: the null output goes on from the same frame.
    void fallBack()
    {
        m_link.store(Link::Null);
        startOn(m_null.get(), Heard::Null);
    }

    // The clock stands at the frame heard while the outputs change; the new one begins there.
    bool handOver(AudioOutput* from, AudioOutput* to, Heard by)
    {
        const double heard = heardOn(from);
        from->stop();
        const Handover h = handoverAt(heard, m_pulled, std::min(m_pulled, keptFrames()));
        publish(std::max(heard, double(h.from)), Heard::Frozen, h.from);
        m_replayAt = h.from;
        m_replayEnd = h.from + h.replay;
        return startOn(to, by);
    }

    void publish(double frozen, Heard by, qint64 from)
    {
        m_seq.beginWrite();
        m_frozen.store(frozen, std::memory_order_relaxed);
        m_from.store(from, std::memory_order_relaxed);
        m_heardBy.store(by, std::memory_order_relaxed);
        m_seq.endWrite();
    }

    // On the pulling output's thread: what the output before took and never played comes
    // first, then the engine's own sound, which is kept for the next change.
    qint64 pullThrough(float* out, qint64 frames)
    {
        const qint64 kept = qint64(m_history.size()) / kChannelsOut;
        qint64 done = 0, sound = 0;
        bool soundRun = true;
        while (done < frames && m_replayAt < m_replayEnd) {
            const qint64 slot = m_replayAt % kept;
            const qint64 n = std::min({frames - done, m_replayEnd - m_replayAt, kept - slot});
            std::memcpy(out + done * kChannelsOut, m_history.data() + slot * kChannelsOut,
                        sizeof(float) * kChannelsOut * std::size_t(n));
            const qint64 heard = std::clamp(m_soundEnd - m_replayAt, qint64(0), n);
            if (soundRun) sound += heard;
            soundRun = soundRun && heard == n;
            m_replayAt += n;
            done += n;
        }
        if (done == frames) return sound;
        const qint64 n = frames - done;
        const qint64 got = m_pull(out + done * kChannelsOut, n);
        for (qint64 i = 0; i < n;) {
            const qint64 slot = (m_pulled + i) % kept;
            const qint64 run = std::min(n - i, kept - slot);
            std::memcpy(m_history.data() + slot * kChannelsOut, out + (done + i) * kChannelsOut,
                        sizeof(float) * kChannelsOut * std::size_t(run));
            i += run;
        }
        if (got > 0) m_soundEnd = m_pulled + got;
        m_pulled += n;
        m_replayAt = m_replayEnd = m_pulled;
        return soundRun ? sound + got : sound;
    }

    std::unique_ptr<AudioOutput> m_server;
    std::unique_ptr<AudioOutput> m_null;
    const int m_connectMs;
    Pull m_pull;
    std::atomic<int> m_rate{44100};

    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_quit = false;
    bool m_connecting = false;  // the watcher asks the server, without the lock
    std::atomic<Link> m_link{Link::Stopped};
    std::atomic<bool> m_lost{false};
    std::thread m_watcher;

    // The pulling output's own, and the switch's while none pulls: the engine's frames
    // counted from the start, the last second of them, and what is handed over again.
    std::vector<float> m_history;
    qint64 m_pulled = 0;
    qint64 m_soundEnd = 0;
    qint64 m_replayAt = 0;
    qint64 m_replayEnd = 0;

    // Read by the UI without a lock: one consistent reading of which output's clock counts,
    // from which frame on, or where it stands while they change.
    SeqCount m_seq;  // written under m_mutex
    std::atomic<Heard> m_heardBy{Heard::Frozen};
    std::atomic<double> m_frozen{0};
    // Read under the count with no lock taken: a library-made atomic double would take one.
    static_assert(std::atomic<double>::is_always_lock_free);
    std::atomic<qint64> m_from{0};
};

} // namespace

std::unique_ptr<AudioOutput> makeFailoverOutput(std::unique_ptr<AudioOutput> server,
                                                std::unique_ptr<AudioOutput> fallback, int connectTimeoutMs)
{
    return std::make_unique<FailoverOutput>(std::move(server), std::move(fallback), connectTimeoutMs);
}

std::unique_ptr<AudioOutput> openFailoverOutput(int connectTimeoutMs)
{
    auto server = makePulseOutput();
    server->reconnect(connectTimeoutMs);
    return makeFailoverOutput(std::move(server), openNullOutput(), connectTimeoutMs);
}

} // namespace audio
