#include "audio/manualoutput.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace audio {

bool ManualOutput::start(int sampleRate, Pull pull)
{
    std::lock_guard lock(m_mutex);
    m_pull = std::move(pull);
    m_rate.store(sampleRate);
    m_pulled.store(0);
    m_heard.store(0);
    m_queue.clear();
    m_samples.clear();
    return true;
}

void ManualOutput::stop()
{
    std::lock_guard lock(m_mutex);
    m_pull = nullptr;
}

void ManualOutput::fill()
{
    const qint64 want = m_queueFrames - qint64(m_queue.size());
    if (!m_pull || want <= 0) return;
    std::vector<float> block(std::size_t(want) * 2);
    const qint64 sound = m_pull(block.data(), want);
    const qint64 first = m_pulled.load();
    for (qint64 i = 0; i < want; ++i) m_queue.push_back({first + i, i < sound});
    m_samples.insert(m_samples.end(), block.begin(), block.end());
    m_pulled.store(first + want);
}

qint64 ManualOutput::pull(float* out, qint64 frames)
{
    std::lock_guard lock(m_mutex);
    if (!m_pull && m_queue.empty()) {
        std::memset(out, 0, sizeof(float) * 2 * std::size_t(frames));
        return 0;
    }
    if (m_queueFrames == 0) {
        const qint64 sound = m_pull(out, frames);
        m_pulled.store(m_pulled.load() + frames);
        m_heard.store(m_pulled.load());
        return sound;
    }
    qint64 sound = 0;
    bool leading = true;
    for (qint64 i = 0; i < frames; ++i) {
        if (m_queue.size() <= std::size_t(m_queueFrames)) fill();
        if (m_queue.empty()) {
            out[2 * i] = out[2 * i + 1] = 0.0f;
            leading = false;
            continue;
        }
        leading = leading && m_queue.front().sound;
        sound += leading ? 1 : 0;
        out[2 * i] = m_samples[0];
        out[2 * i + 1] = m_samples[1];
        m_samples.erase(m_samples.begin(), m_samples.begin() + 2);
        m_queue.pop_front();
        m_heard.store(m_queue.empty() ? m_pulled.load() : m_queue.front().frame);
    }
    return sound;
}

void ManualOutput::kick()
{
    std::lock_guard lock(m_mutex);
    // The silence queued at the end goes: the sound that is ready now follows what plays.
    while (!m_queue.empty() && !m_queue.back().sound) {
        m_queue.pop_back();
        m_samples.resize(m_samples.size() - 2);
    }
    fill();
}

qint64 ManualOutput::replaceableFrom(Putting)
{
    std::lock_guard lock(m_mutex);
    return m_queue.empty() ? -1 : m_queue.front().frame;
}

void ManualOutput::replace(qint64 from, const std::function<void(bool replacing)>& ready)
{
    std::lock_guard lock(m_mutex);
    const auto keep = std::find_if(m_queue.begin(), m_queue.end(), [&](const Queued& q) { return q.frame >= from; });
    const bool replacing = keep != m_queue.end();
    m_samples.resize(std::size_t(keep - m_queue.begin()) * 2);
    m_queue.erase(keep, m_queue.end());
    ready(replacing);
    fill();
}

} // namespace audio
