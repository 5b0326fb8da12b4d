#include "playback/enginecontrol.h"

#include "engine/mediaprobe.h"

#include <cmath>

namespace playback {

EngineControl::EngineControl(engine::MediaEngine* engine, QObject* parent) : QObject(parent), m_engine(engine)
{
    m_engine->setParent(this);
    connect(m_engine, &engine::MediaEngine::stateChanged, this, &EngineControl::PlayStateChange);
    connect(m_engine, &engine::MediaEngine::positionJumped, this, &EngineControl::PositionChange);
    connect(m_engine, &engine::MediaEngine::loopWrapped, this, &EngineControl::loopWrapped);
    connect(m_engine, &engine::MediaEngine::loaded, this, [this] { m_failure.clear(); });
    connect(m_engine, &engine::MediaEngine::loadFailed, this, [this](const QString& reason) {
        m_failure = reason.isEmpty() ? tr("the file cannot be decoded") : reason;
        emit loadFailed(m_engine->path(), m_failure);
    });
    connect(m_engine, &engine::MediaEngine::durationChanged, this, [this](double seconds) {
        if (seconds > 0) emit DurationChange(seconds);
    });
}

QString EngineControl::FileName() const { return m_engine->path(); }

void EngineControl::setFileName(const QString& path)
{
    m_failure.clear();
    m_probedPath.clear();
    emit fileSet();
    m_engine->load(path);
}

double EngineControl::CurrentPosition() const { return m_engine->position(); }

void EngineControl::setCurrentPosition(double seconds) { m_engine->seek(seconds); }

double EngineControl::Duration() const
{
    const double known = m_engine->duration();
    if (known > 0 || failed()) return known;
    const QString path = m_engine->path();
    if (path.isEmpty()) return 0;
    // Read once per file set, in a few milliseconds: callers need the length before the
    // engine has opened the file, and nothing waits for that.
    if (m_probedPath != path) {
        m_probedPath = path;
        m_probedLength = engine::probeMedia(path).duration;
    }
    return m_probedLength;
}

double EngineControl::Rate() const { return m_engine->rate(); }

void EngineControl::setRate(double rate)
{
    if (rate > 0 && std::isfinite(rate)) m_engine->setRate(rate);
}

engine::PlayState EngineControl::PlayState() const { return m_engine->state(); }

void EngineControl::Play() { m_engine->play(); }

void EngineControl::Pause() { m_engine->pause(); }

void EngineControl::Stop() { m_engine->stop(); }

void EngineControl::Open(const QString& path)
{
    // The file already set (loaded or still loading) is only rewound: no second load.
    if (path.isEmpty() || path != m_engine->path()) {
        setFileName(path);
    } else {
        m_engine->seek(0);
        m_engine->play();
    }
}

void EngineControl::setLoop(const engine::LoopRange& range)
{
    m_engine->setLoop(range);
    emit loopChanged();
}

void EngineControl::clearLoop()
{
    m_engine->clearLoop();
    emit loopChanged();
}

} // namespace playback
