#include "windows/remotecontrol.h"

#include "app/globals.h"
#include "playback/entryplayer.h"
#include "playback/mediaplayer.h"
#include "windows/entrygrid.h"
#include "windows/forms.h"
#include "windows/frmplayer.h"
#include "windows/frmplaylist.h"

#include <QUrl>
#include <algorithm>

namespace player {

RemoteControl::RemoteControl(frmPlayer* player, QObject* parent) : QObject(parent), m_player(player)
{
    MediaPlayer* media = m_player->MediaPlayer1();
    connect(media, &MediaPlayer::PlayStateChange, this, &RemoteControl::changed);
    connect(media, &MediaPlayer::loopWrapped, this, [this] { emit jumped(positionSeconds()); });
    connect(media, &MediaPlayer::PositionChange, this, [this](double, double now) { emit jumped(now); });
    connect(m_player->playback(), &EntryPlayer::textChanged, this, &RemoteControl::changed);
}

void RemoteControl::playRow(int row, bool loop)
{
    panel::frmPlayList* panel = forms::frmPlayList();
    panel->lstSelector()->selectRow(row);
    panel->MnuRightClick_Click(loop ? 2 : 1);
}

void RemoteControl::play()
{
    EntryPlayer* playback = m_player->playback();
    MediaPlayer* media = m_player->MediaPlayer1();
    if (media->PlayState() == PlayState::Playing) return;
    if (media->PlayState() == PlayState::Paused && (playback->endless() || playback->counted())) {
        media->Play();
        return;
    }
    if (hasEntries()) playRow(std::clamp(currentEntry(), 1, forms::frmPlayList()->lstSelector()->rowCount()), false);
}

void RemoteControl::pause()
{
    if (m_player->MediaPlayer1()->PlayState() == PlayState::Playing) m_player->MediaPlayer1()->Pause();
}

void RemoteControl::playPause() { status() == Status::Playing ? pause() : play(); }

void RemoteControl::stop() { forms::frmPlayList()->MnuRightClick_Click(11); }

void RemoteControl::next() { m_player->stepLine(1); }

void RemoteControl::previous() { m_player->stepLine(-1); }

bool RemoteControl::openUri(const QString& uri)
{
    const QUrl url(uri);
    const QString path = url.isLocalFile() ? url.toLocalFile() : url.scheme().isEmpty() ? uri : QString();
    if (path.isEmpty()) return false;
    m_player->OpenFile(path);
    return true;
}

void RemoteControl::raise() { m_player->showFromTray(); }

void RemoteControl::quit() { m_player->MnuFile_Click(9); }

RemoteControl::Status RemoteControl::status() const
{
    const PlayState state = m_player->MediaPlayer1()->PlayState();
    if (state == PlayState::Playing) return Status::Playing;
    // The panel's "Stop" leaves the file paused at the entry's start, with no entry playing.
    const EntryPlayer* playback = m_player->playback();
    return state == PlayState::Paused && (playback->endless() || playback->counted()) ? Status::Paused : Status::Stopped;
}

QString RemoteControl::title() const
{
    // A line or label says more than the file's title.
    if (const QString& line = m_player->playback()->mstrText; !line.isEmpty()) return line;
    const QString tagged = m_player->MediaPlayer1()->engine()->metadata().value(QStringLiteral("title"));
    return tagged.isEmpty() ? app::GetFileName(fileName()) : tagged;
}

QString RemoteControl::artist() const
{
    return m_player->MediaPlayer1()->engine()->metadata().value(QStringLiteral("artist"));
}

QString RemoteControl::fileName() const { return m_player->MediaPlayer1()->FileName(); }

double RemoteControl::lengthSeconds() const { return m_player->MediaPlayer1()->Duration(); }

double RemoteControl::positionSeconds() const { return m_player->MediaPlayer1()->CurrentPosition(); }

void RemoteControl::setPositionSeconds(double seconds)
{
    if (!fileName().isEmpty() && seconds >= 0 && seconds <= lengthSeconds())
        m_player->MediaPlayer1()->setCurrentPosition(seconds);
}

double RemoteControl::rate() const
{
    const double r = m_player->MediaPlayer1()->Rate();
    return r > 0 ? r : 1.0;
}

void RemoteControl::setRate(double rate)
{
    // A rate of 0 would be a pause; the desktop's slider may offer one.
    if (!(rate > 0)) return;
    m_player->MediaPlayer1()->setRate(std::clamp(rate, kMinimumRate, kMaximumRate));
    emit changed();
}

int RemoteControl::currentEntry() const { return forms::frmPlayList()->CurrentID; }

bool RemoteControl::hasEntries() const { return forms::frmPlayList()->lstSelector()->rowCount() > 0; }

} // namespace player
