#include "engine/routingengine.h"

#include "engine/mediaprobe.h"

namespace engine {

RoutingEngine::RoutingEngine(MediaEngine* sound, MediaEngine* video, QObject* parent)
    : MediaEngine(parent), m_sound(sound), m_video(video), m_active(sound)
{
    m_sound->setParent(this);
    m_video->setParent(this);
    wire(m_sound);
    wire(m_video);
}

void RoutingEngine::wire(MediaEngine* e)
{
    // Only the engine in use speaks for the file.
    const auto mine = [this, e] { return e == m_active; };
    connect(e, &MediaEngine::stateChanged, this, [this, mine](PlayState a, PlayState b) { if (mine()) emit stateChanged(a, b); });
    connect(e, &MediaEngine::positionJumped, this, [this, mine](double a, double b) { if (mine()) emit positionJumped(a, b); });
    connect(e, &MediaEngine::loopWrapped, this, [this, mine] { if (mine()) emit loopWrapped(); });
    connect(e, &MediaEngine::loaded, this, [this, mine] { if (mine()) emit loaded(); });
    connect(e, &MediaEngine::nextStarted, this, [this, mine] { if (mine()) emit nextStarted(); });
    connect(e, &MediaEngine::loadFailed, this, [this, mine](const QString& r) { if (mine()) emit loadFailed(r); });
    connect(e, &MediaEngine::loadProgress, this, [this, mine](int p) { if (mine()) emit loadProgress(p); });
    connect(e, &MediaEngine::videoChanged, this, [this, mine](bool v) { if (mine()) emit videoChanged(v); });
    connect(e, &MediaEngine::durationChanged, this, [this, mine] { if (mine()) reportDuration(); });
    connect(e, &MediaEngine::passRateChanged, this, [this, mine](double r) { if (mine()) emit passRateChanged(r); });
}

MediaEngine* RoutingEngine::choose(const QString& path) const
{
    if (path.isEmpty()) return m_active;
    const MediaProbe probe = probeMedia(path);
    // What the probe cannot read goes to the video engine, which tells why it fails.
    if (!probe.ok || probe.hasVideo || !probe.hasAudio) return m_video;
    return m_sound;
}

void RoutingEngine::load(const QString& path)
{
    MediaEngine* next = choose(path);
    if (next != m_active) {
        MediaEngine* old = m_active;
        const PlayState oldState = old->state();
        const bool hadVideo = old->hasVideo();
        m_active = next;
        // The idle engine lets go of its file; the new one plays at the same rate.
        old->stop();
        old->load(QString());
        next->setRate(old->rate());
        if (oldState != PlayState::Stopped) emit stateChanged(oldState, next->state());
        if (hadVideo) emit videoChanged(false);
    }
    m_active->load(path);
    reportDuration();
}

void RoutingEngine::setRate(double rate)
{
    m_active->setRate(rate);
}

bool RoutingEngine::queueNext(const NextEntry& next)
{
    // Handed over only where the same engine plays the next file too.
    if (choose(next.path) != m_active) return false;
    return m_active->queueNext(next);
}

} // namespace engine
