#include "engine/mpv/clickoutput.h"

#include "audio/practiceplan.h"

#include <algorithm>
#include <cstring>

namespace engine {

ClickOutput::ClickOutput()
{
    m_worker = std::thread([this] { work(); });
}

ClickOutput::~ClickOutput()
{
    m_quit.store(true);
    m_cutAsked.fetch_add(1);
    m_cutAsked.notify_one();
    m_worker.join();
    if (m_output) m_output->stop();
}

void ClickOutput::work()
{
    // The sound server answers within milliseconds, but not on the UI thread.
    auto out = audio::openPulseOutput(500);
    if (out) {
        // All of it counts as sound: the clicks are placed by frame, and silence written
        // over would move them.
        out->start(kRate, [this](float* o, qint64 n) {
            pull(o, n);
            return n;
        });
        m_output = std::move(out);
        m_opened.start();
        m_ready.store(true, std::memory_order_release);
    }
    int seen = m_cutDone.load();
    for (;;) {
        m_cutAsked.wait(seen);
        if (m_quit.load()) return;
        seen = m_cutAsked.load();
        // Takes the server's lock, which the stream's thread holds while it pulls: never
        // on the UI thread.
        if (m_output)
            if (const qint64 from = m_output->replaceableFrom(audio::AudioOutput::Putting::Silence); from >= 0)
                m_output->replace(from, [](bool) {});
        m_cutDone.store(seen, std::memory_order_release);
    }
}

int ClickOutput::settlingMs() const
{
    constexpr int kSettleMs = 1000;
    if (!ready()) return kSettleMs;
    return int(std::max<qint64>(0, kSettleMs - m_opened.elapsed()));
}

bool ClickOutput::place(qint64 at, bool accent)
{
    return m_queue.push({at, accent, m_epoch.load(std::memory_order_relaxed)});
}

void ClickOutput::silence()
{
    m_epoch.fetch_add(1, std::memory_order_release);
    if (!ready()) return;
    m_cutAsked.fetch_add(1, std::memory_order_release);
    m_cutAsked.notify_one();
}

void ClickOutput::pull(float* out, qint64 frames)
{
    const quint32 epoch = m_epoch.load(std::memory_order_acquire);
    const qint64 w = m_written.load(std::memory_order_relaxed);
    int kept = 0;
    for (int i = 0; i < m_pendingCount; ++i)
        if (m_pending[std::size_t(i)].epoch == epoch) m_pending[std::size_t(kept++)] = m_pending[std::size_t(i)];
    m_pendingCount = kept;
    for (Click* c; (c = m_queue.front()); m_queue.pop())
        if (c->epoch == epoch && c->at >= w && m_pendingCount < int(m_pending.size())) m_pending[std::size_t(m_pendingCount++)] = *c;

    std::memset(out, 0, sizeof(float) * 2 * std::size_t(frames));
    const qint64 length = audio::clickLength(kRate);
    kept = 0;
    for (int i = 0; i < m_pendingCount; ++i) {
        const Click c = m_pending[std::size_t(i)];
        for (qint64 f = std::max(c.at, w); f < std::min(c.at + length, w + frames); ++f) {
            const float s = audio::clickSample(f - c.at, kRate, c.accent);
            out[(f - w) * 2] += s;
            out[(f - w) * 2 + 1] += s;
        }
        if (c.at + length > w + frames) m_pending[std::size_t(kept++)] = c;
    }
    m_pendingCount = kept;
    m_written.store(w + frames, std::memory_order_release);
}

} // namespace engine
