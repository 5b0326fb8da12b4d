#include "audio/manualoutput.h"

#include <cstring>

namespace audio {

bool ManualOutput::start(int sampleRate, Pull pull)
{
    std::lock_guard lock(m_mutex);
    m_pull = std::move(pull);
    m_rate.store(sampleRate);
    m_pulled.store(0);
    return true;
}

void ManualOutput::stop()
{
    std::lock_guard lock(m_mutex);
    m_pull = nullptr;
}

qint64 ManualOutput::pull(float* out, qint64 frames)
{
    std::lock_guard lock(m_mutex);
    if (!m_pull) {
        std::memset(out, 0, sizeof(float) * 2 * std::size_t(frames));
        return 0;
    }
    const qint64 sound = m_pull(out, frames);
    m_pulled.store(m_pulled.load() + frames);
    return sound;
}

} // namespace audio
