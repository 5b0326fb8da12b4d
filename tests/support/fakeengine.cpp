#include "support/fakeengine.h"

#include <QTimer>

#include <algorithm>
#include <tuple>
#include <utility>

using engine::PlayState;

void FakeEngine::load(const QString& path)
{
    ++loads;
    ++m_generation;
    m_next.reset();
    calls << "load " + path;
    m_path = path;
    m_position = 0;
    m_load = path.isEmpty() ? Load::None : Load::Pending;
    m_wanted = PlayState::Playing;
    reportDuration();
    if (m_load == Load::Pending && !async) return finishLoad();
    setState(m_load == Load::None ? PlayState::Stopped : PlayState::Playing);
    if (m_load == Load::Pending)
        QTimer::singleShot(0, this, [this, generation = m_generation] {
            if (generation == m_generation) finishLoad();
        });
}

void FakeEngine::finishLoad()
{
    if (m_load != Load::Pending) return;
    m_load = Load::None;
    if (undecodable.contains(m_path)) {
        m_position = 0;
        setState(PlayState::Stopped);
        emit loadFailed(QStringLiteral("cannot decode"));
        return;
    }
    m_load = Load::Loaded;
    m_duration = fileDuration;
    m_position = std::clamp(m_position, 0.0, m_duration);
    passStarts << m_path;
    emit loaded();
    reportDuration();
    setState(m_wanted);
}

bool FakeEngine::waitForLoad(int)
{
    finishLoad();
    return m_load == Load::Loaded;
}

void FakeEngine::play()
{
    ++plays;
    calls << "play";
    if (m_load == Load::None) return;
    m_wanted = PlayState::Playing;
    setState(m_wanted);
}

void FakeEngine::pause()
{
    calls << "pause";
    if (m_load == Load::None) return;
    m_wanted = PlayState::Paused;
    setState(m_wanted);
}

void FakeEngine::stop()
{
    ++stops;
    calls << "stop";
    m_position = 0;
    m_wanted = PlayState::Stopped;
    setState(m_wanted);
}

void FakeEngine::seek(double seconds)
{
    ++seeks;
    calls << QStringLiteral("seek %1").arg(seconds);
    // While loading it applies to the file once loaded, and reads back as the target.
    if (m_load == Load::Pending) m_position = std::max(0.0, seconds);
    if (m_load != Load::Loaded) return;
    const double old = m_position;
    m_position = std::clamp(seconds, 0.0, m_duration);
    emit positionJumped(old, m_position);
}

void FakeEngine::setRate(double rate)
{
    calls << QStringLiteral("rate %1").arg(rate);
    m_rate = rate;
}

void FakeEngine::setLoop(const engine::LoopRange& range)
{
    m_loop = range;
    m_hasLoop = true;
}

void FakeEngine::clearLoop()
{
    m_loop = {};
    m_hasLoop = false;
}

bool FakeEngine::loopActive() const
{
    return m_hasLoop && m_loop.loopsOn(m_duration) && (wrapsAtEnd || m_loop.stop < m_duration);
}

void FakeEngine::advance(int ms)
{
    finishLoad();
    // One millisecond at a time, so a loop's stop is never stepped over.
    for (int i = 0; i < ms; ++i) {
        if (m_state != PlayState::Playing) return;
        m_position += 0.001 * m_rate;
        if (loopActive() && m_position >= std::min(m_loop.stop, m_duration) - 1e-9) {
            if (m_loop.wraps == engine::LoopRange::kEndless || m_loop.wraps > 0) {
                if (m_loop.wraps > 0) --m_loop.wraps;
                m_position = m_loop.start + std::max(0.0, m_position - std::min(m_loop.stop, m_duration));
                passStarts << m_path;
                emit loopWrapped();
                continue;
            }
            if (m_loop.holdAtStop && m_next) {
                const engine::NextEntry n = *std::exchange(m_next, std::nullopt);
                std::tie(m_path, m_position, m_rate, m_loop) = std::tie(n.path, n.start, n.rate, n.loop);
                passStarts << m_path;
                emit nextStarted();
                continue;
            }
            if (m_loop.holdAtStop) {
                m_position = m_loop.stop;
                setState(PlayState::Stopped);
                return;
            }
        }
        if (m_position >= m_duration) {
            m_position = m_duration;
            setState(PlayState::Stopped);
            return;
        }
    }
}

void FakeEngine::setState(PlayState s)
{
    if (s == m_state) return;
    const PlayState old = m_state;
    m_state = s;
    emit stateChanged(old, s);
}
