#include "desktop/singleinstance.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QThread>
#include <QUrl>

namespace desktop {

BusClaim claimBusName(const QString& file)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return BusClaim::NoBus;
    const QString service = QString::fromLatin1(kMprisService);
    if (bus.registerService(service)) return BusClaim::Ours;
    if (!bus.interface()->isServiceRegistered(service)) return BusClaim::NoBus;
    // The running program answers as any media player would: shown by Raise, a file played
    // by OpenUri.
    QDBusMessage call = file.isEmpty() ? QDBusMessage::createMethodCall(service, QString::fromLatin1(kMprisPath),
                                                                        QStringLiteral("org.mpris.MediaPlayer2"),
                                                                        QStringLiteral("Raise"))
                                       : QDBusMessage::createMethodCall(service, QString::fromLatin1(kMprisPath),
                                                                        QStringLiteral("org.mpris.MediaPlayer2.Player"),
                                                                        QStringLiteral("OpenUri"));
    if (!file.isEmpty()) call << QUrl::fromLocalFile(file).toString();
    // The running program may still be starting: its name is there before its object.
    const QDeadlineTimer deadline(5000);
    while (true) {
        const QDBusMessage reply = bus.call(call, QDBus::Block, 10000);
        if (reply.type() == QDBusMessage::ReplyMessage || deadline.hasExpired()) break;
        QThread::msleep(100);
    }
    return BusClaim::HandedOver;
}

} // namespace desktop
