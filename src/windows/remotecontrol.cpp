#include "windows/remotecontrol.h"

#include "app/globals.h"
#include "playback/enginecontrol.h"
#include "playback/entryplayer.h"

#include <QUrl>
#include <algorithm>

namespace windows {

RemoteControl::RemoteControl(desktop::RemoteHost* host, QObject* parent)
    : QObject(parent), m_host(host), m_media(host->engineControl())
{
    connect(m_media, &playback::EngineControl::PlayStateChange, this, &RemoteControl::changed);
    connect(m_media, &playback::EngineControl::loopWrapped, this, [this] { emit jumped(positionSeconds()); });
    connect(m_media, &playback::EngineControl::PositionChange, this, [this](double, double now) { emit jumped(now); });
    connect(m_host->entryPlayback(), &playback::EntryPlayer::textChanged, this, &RemoteControl::changed);
}

void RemoteControl::play()
{
    if (m_media->PlayState() == engine::PlayState::Playing) return;
    if (m_media->PlayState() == engine::PlayState::Paused && m_host->entryPlayback()->inPlay()) {
        m_media->Play();
        return;
    }
    if (hasEntries()) m_host->playEntry(std::clamp(currentEntry(), 1, m_host->entryCount()), false);
}

void RemoteControl::pause()
{
    if (m_media->PlayState() == engine::PlayState::Playing) m_media->Pause();
}

void RemoteControl::playPause() { status() == Status::Playing ? pause() : play(); }

void RemoteControl::stop() { m_host->stopEntries(); }

void RemoteControl::next() { m_host->stepLine(1); }

void RemoteControl::previous() { m_host->stepLine(-1); }

bool RemoteControl::openUri(const QString& uri)
{
    const QUrl url(uri);
    const QString path = url.isLocalFile() ? url.toLocalFile() : url.scheme().isEmpty() ? uri : QString();
    if (path.isEmpty()) return false;
    m_host->openOutsideFile(path);
    return true;
}

void RemoteControl::raise() { m_host->showPlayer(); }

void RemoteControl::quit() { m_host->quitProgram(); }

RemoteControl::Status RemoteControl::status() const
{
    const engine::PlayState state = m_media->PlayState();
    if (state == engine::PlayState::Playing) return Status::Playing;
    // The panel's "Stop" leaves the file paused at the entry's start, with no entry playing.
    return state == engine::PlayState::Paused && m_host->entryPlayback()->inPlay() ? Status::Paused : Status::Stopped;
}

QString RemoteControl::title() const
{
    // A line or label says more than the file's title.
    if (const QString& line = m_host->entryPlayback()->current().text; !line.isEmpty()) return line;
    const QString tagged = m_media->engine()->metadata().value(QStringLiteral("title"));
    return tagged.isEmpty() ? app::GetFileName(fileName()) : tagged;
}

QString RemoteControl::artist() const { return m_media->engine()->metadata().value(QStringLiteral("artist")); }

QString RemoteControl::fileName() const { return m_media->FileName(); }

double RemoteControl::lengthSeconds() const { return m_media->Duration(); }

double RemoteControl::positionSeconds() const { return m_media->CurrentPosition(); }

void RemoteControl::setPositionSeconds(double seconds)
{
    if (!fileName().isEmpty() && seconds >= 0 && seconds <= lengthSeconds()) m_media->setCurrentPosition(seconds);
}

double RemoteControl::rate() const
{
    const double r = m_media->Rate();
    return r > 0 ? r : 1.0;
}

void RemoteControl::setRate(double rate)
{
    // A rate of 0 would be a pause; the desktop's slider may offer one.
    if (!(rate > 0)) return;
    m_media->setRate(std::clamp(rate, playback::kMinimumRate, playback::kMaximumRate));
    emit changed();
}

int RemoteControl::currentEntry() const { return m_host->currentEntry(); }

bool RemoteControl::hasEntries() const { return m_host->entryCount() > 0; }

} // namespace windows
