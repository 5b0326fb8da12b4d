#include "support/fakeengine.h"

#include <QTimer>

#include <algorithm>

using player::PlayState;

void FakeEngine::load(const QString& path)
{
    ++loads;
    ++m_generation;
    calls << "load " + path;
    m_path = path;
    m_position = 0;
    m_loaded = false;
    m_pending = !path.isEmpty();
    m_pauseWanted = m_stopWanted = false;
    reportDuration();
    if (!m_pending) {
        setState(PlayState::Stopped);
        return;
    }
    if (!async) {
        finishLoad();
        return;
    }
    setState(PlayState::Playing);
    QTimer::singleShot(0, this, [this, generation = m_generation] {
        if (generation == m_generation) finishLoad();
    });
}

void FakeEngine::finishLoad()
{
    if (!m_pending) return;
    m_pending = false;
    if (undecodable.contains(m_path)) {
        m_position = 0;
        setState(PlayState::Stopped);
        emit loadFailed(QStringLiteral("cannot decode"));
        return;
    }
    m_loaded = true;
    m_duration = fileDuration;
    m_position = std::clamp(m_position, 0.0, m_duration);
    emit loaded();
    reportDuration();
    setState(wantedState());
}

PlayState FakeEngine::wantedState() const
{
    return m_stopWanted ? PlayState::Stopped : m_pauseWanted ? PlayState::Paused : PlayState::Playing;
}

bool FakeEngine::waitForLoad(int)
{
    finishLoad();
    return m_loaded;
}

void FakeEngine::play()
{
    ++plays;
    calls << "play";
    m_pauseWanted = m_stopWanted = false;
    if (m_loaded || m_pending) setState(PlayState::Playing);
}

void FakeEngine::pause()
{
    calls << "pause";
    m_pauseWanted = true;
    m_stopWanted = false;
    if (m_loaded || m_pending) setState(PlayState::Paused);
}

void FakeEngine::stop()
{
    ++stops;
    calls << "stop";
    m_position = 0;
    m_stopWanted = true;
    setState(PlayState::Stopped);
}

void FakeEngine::seek(double seconds)
{
    ++seeks;
    calls << QStringLiteral("seek %1").arg(seconds);
    if (m_pending) {
        // Applies to the file once loaded; reads back as the target meanwhile.
        m_position = std::max(0.0, seconds);
        return;
    }
    if (!m_loaded) return;
    const double old = m_position;
    m_position = std::clamp(seconds, 0.0, m_duration);
    emit positionJumped(old, m_position);
}

void FakeEngine::setRate(double rate)
{
    calls << QStringLiteral("rate %1").arg(rate);
    m_rate = rate;
}

void FakeEngine::setLoop(const player::LoopRange& range)
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
            if (m_loop.wraps == player::LoopRange::kEndless || m_loop.wraps > 0) {
                if (m_loop.wraps > 0) --m_loop.wraps;
                m_position = m_loop.start + std::max(0.0, m_position - std::min(m_loop.stop, m_duration));
                emit loopWrapped();
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
