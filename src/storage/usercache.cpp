#include "storage/usercache.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace storage::cache {
namespace {
QByteArray hashHex(const QByteArray& data) { return QCryptographicHash::hash(data, QCryptographicHash::Sha1).toHex(); }
}

QString folder(const QString& name)
{
    return QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + QLatin1Char('/') + name;
}

QByteArray fileStamp(const QFileInfo& info)
{
    return info.absoluteFilePath().toUtf8() + '\n' + QByteArray::number(info.size()) + '\n' +
           QByteArray::number(info.lastModified().toMSecsSinceEpoch());
}

QString entryPath(const QString& folder, const QString& sourcePath, const QByteArray& key, const QString& suffix)
{
    const QByteArray name = hashHex(QFileInfo(sourcePath).absoluteFilePath().toUtf8()).left(16) + '-' + hashHex(key).left(16);
    return folder + QLatin1Char('/') + QString::fromLatin1(name) + suffix;
}

void removeOlder(const QString& entry)
{
    const QFileInfo info(entry);
    const QString prefix = info.fileName().section(QLatin1Char('-'), 0, 0) + QLatin1Char('-');
    const QString suffix = QLatin1Char('.') + info.suffix();
    QDir dir = info.dir();
    for (const QString& name : dir.entryList({prefix + QLatin1Char('*') + suffix}, QDir::Files))
        if (name != info.fileName()) dir.remove(name);
}

void markUsed(const QString& file)
{
    QFile f(file);
    if (f.open(QIODevice::ReadWrite)) f.setFileTime(QDateTime::currentDateTime(), QFileDevice::FileModificationTime);
}

int trim(const QString& folder, const QString& pattern, qint64 limitBytes, const QString& keep)
{
    // Oldest use first; the modification time is the last use (markUsed).
    const QFileInfoList files = QDir(folder).entryInfoList({pattern}, QDir::Files, QDir::Time | QDir::Reversed);
    qint64 total = 0;
    for (const QFileInfo& f : files) total += f.size();
    const QString kept = QFileInfo(keep).absoluteFilePath();
    int removed = 0;
    for (const QFileInfo& f : files) {
        if (total <= limitBytes) break;
        // A file in use stays readable until closed; a later use makes it again.
        if (f.absoluteFilePath() == kept || !QFile::remove(f.absoluteFilePath())) continue;
        total -= f.size();
        ++removed;
    }
    return removed;
}

} // namespace storage::cache
