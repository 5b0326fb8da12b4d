#include "windows/mpris.h"

#include "app/globals.h"
#include "windows/remotecontrol.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QUrl>
#include <cmath>

namespace windows {
namespace {

const QString kPropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kPlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");

qlonglong microseconds(double seconds) { return std::isfinite(seconds) ? qlonglong(std::llround(seconds * 1e6)) : 0; }

QDBusObjectPath trackId(const RemoteControl& remote)
{
    if (remote.fileName().isEmpty()) return QDBusObjectPath(QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack"));
    // The entry's row names the track; "/org/mpris" is not for players' own ids.
    return QDBusObjectPath(QStringLiteral("/io/github/vamplet/Vamplet/entry/%1").arg(std::max(0, remote.currentEntry())));
}

} // namespace

bool publishMpris(RemoteControl* remote)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return false;
    new MprisRoot(remote, remote);
    new MprisPlayer(remote, remote);
    return bus.registerObject(QString::fromLatin1(desktop::kMprisPath), remote, QDBusConnection::ExportAdaptors);
}

// ---- org.mpris.MediaPlayer2 -------------------------------------------------------------

MprisRoot::MprisRoot(QObject* host, RemoteControl* remote) : QDBusAbstractAdaptor(host), m_remote(remote) {}

QString MprisRoot::Identity() const { return QString::fromLatin1(app::kAppTitle); }

QString MprisRoot::DesktopEntry() const { return QString::fromLatin1(app::kDesktopId); }

QStringList MprisRoot::SupportedMimeTypes() const
{
    return {QStringLiteral("audio/x-wav"), QStringLiteral("audio/basic"),  QStringLiteral("audio/x-aiff"),
            QStringLiteral("audio/mpeg"),  QStringLiteral("audio/x-ms-wma"), QStringLiteral("audio/midi"),
            QStringLiteral("video/mpeg"),  QStringLiteral("video/x-msvideo"), QStringLiteral("video/x-ms-wmv"),
            QStringLiteral("application/vnd.ms-asf")};
}

void MprisRoot::Raise() { m_remote->raise(); }

void MprisRoot::Quit() { m_remote->quit(); }

// ---- org.mpris.MediaPlayer2.Player ------------------------------------------------------

MprisPlayer::MprisPlayer(QObject* host, RemoteControl* remote) : QDBusAbstractAdaptor(host), m_remote(remote)
{
    connect(remote, &RemoteControl::changed, this, &MprisPlayer::announceChanges);
    connect(remote, &RemoteControl::jumped, this, [this](double seconds) { emit Seeked(microseconds(seconds)); });
}

QString MprisPlayer::PlaybackStatus() const
{
    switch (m_remote->status()) {
    case RemoteControl::Status::Playing: return QStringLiteral("Playing");
    case RemoteControl::Status::Paused: return QStringLiteral("Paused");
    case RemoteControl::Status::Stopped: break;
    }
    return QStringLiteral("Stopped");
}

double MprisPlayer::Rate() const { return m_remote->rate(); }

void MprisPlayer::setRate(double rate) { m_remote->setRate(rate); }

QVariantMap MprisPlayer::Metadata() const
{
    QVariantMap m;
    m.insert(QStringLiteral("mpris:trackid"), QVariant::fromValue(trackId(*m_remote)));
    if (m_remote->fileName().isEmpty()) return m;
    m.insert(QStringLiteral("mpris:length"), microseconds(m_remote->lengthSeconds()));
    m.insert(QStringLiteral("xesam:title"), m_remote->title());
    if (!m_remote->artist().isEmpty()) m.insert(QStringLiteral("xesam:artist"), QStringList{m_remote->artist()});
    // A URL percent-encoded, as clients parse it: blanks and "#" in names stay part of the path.
    m.insert(QStringLiteral("xesam:url"), QString::fromLatin1(QUrl::fromLocalFile(m_remote->fileName()).toEncoded()));
    return m;
}

qlonglong MprisPlayer::Position() const { return microseconds(m_remote->positionSeconds()); }

double MprisPlayer::MinimumRate() const { return RemoteControl::kMinimumRate; }

double MprisPlayer::MaximumRate() const { return RemoteControl::kMaximumRate; }

bool MprisPlayer::CanGoNext() const { return m_remote->hasEntries(); }

bool MprisPlayer::CanPlay() const { return m_remote->hasEntries() || !m_remote->fileName().isEmpty(); }

void MprisPlayer::Next() { m_remote->next(); }

void MprisPlayer::Previous() { m_remote->previous(); }

void MprisPlayer::Pause() { m_remote->pause(); }

void MprisPlayer::PlayPause() { m_remote->playPause(); }

void MprisPlayer::Stop() { m_remote->stop(); }

void MprisPlayer::Play() { m_remote->play(); }

void MprisPlayer::Seek(qlonglong offset) { m_remote->setPositionSeconds(m_remote->positionSeconds() + offset / 1e6); }

void MprisPlayer::SetPosition(const QDBusObjectPath& track, qlonglong position)
{
    if (track == trackId(*m_remote)) m_remote->setPositionSeconds(position / 1e6);
}

void MprisPlayer::OpenUri(const QString& uri) { m_remote->openUri(uri); }

// Clients learn of changes from the bus's PropertiesChanged signal, not by asking.
void MprisPlayer::announceChanges()
{
    const QVariantMap now{{QStringLiteral("PlaybackStatus"), PlaybackStatus()},
                          {QStringLiteral("Metadata"), Metadata()},
                          {QStringLiteral("Rate"), Rate()},
                          {QStringLiteral("CanPlay"), CanPlay()},
                          {QStringLiteral("CanGoNext"), CanGoNext()},
                          {QStringLiteral("CanGoPrevious"), CanGoPrevious()}};
    QVariantMap changed;
    for (auto it = now.begin(); it != now.end(); ++it)
        if (m_announced.value(it.key()) != it.value()) changed.insert(it.key(), it.value());
    m_announced = now;
    if (changed.isEmpty()) return;
    QDBusMessage signal =
        QDBusMessage::createSignal(QString::fromLatin1(desktop::kMprisPath), kPropertiesInterface, QStringLiteral("PropertiesChanged"));
    signal << kPlayerInterface << changed << QStringList();
    QDBusConnection::sessionBus().send(signal);
}

} // namespace windows
