#include "support/mediafiles.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QtEndian>

#include <cmath>

namespace testmedia {

namespace {
void putLe32(QByteArray& b, quint32 v) { char c[4]; qToLittleEndian(v, c); b.append(c, 4); }
void putLe16(QByteArray& b, quint16 v) { char c[2]; qToLittleEndian(v, c); b.append(c, 2); }
} // namespace

bool writeWav(const QString& path, double seconds, const QByteArray& title)
{
    const int rate = 44100;
    const int frames = static_cast<int>(seconds * rate);
    QByteArray samples;
    samples.reserve(frames * 2);
    for (int i = 0; i < frames; ++i) {
        const double t = double(i) / rate;
        const double v = std::sin(2 * M_PI * 440 * t) * (0.2 + 0.6 * t / seconds);
        putLe16(samples, static_cast<quint16>(static_cast<qint16>(v * 32767)));
    }
    QByteArray name = title + '\0';
    if (name.size() % 2) name += '\0';
    QByteArray info = "INFOINAM";
    putLe32(info, name.size());
    info += name;

    QByteArray body = "WAVEfmt ";
    putLe32(body, 16);
    putLe16(body, 1);         // PCM
    putLe16(body, 1);         // mono
    putLe32(body, rate);
    putLe32(body, rate * 2);  // bytes per second
    putLe16(body, 2);         // block align
    putLe16(body, 16);        // bits
    body += "LIST";
    putLe32(body, info.size());
    body += info;
    body += "data";
    putLe32(body, samples.size());
    body += samples;

    QByteArray file = "RIFF";
    putLe32(file, body.size());
    return writeFile(path, file + body);
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

bool makeVideo(const QString& path, double seconds, bool withSound)
{
    if (QStandardPaths::findExecutable("ffmpeg").isEmpty()) return false;
    const QString d = QString::number(seconds);
    QStringList args{"-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                     "testsrc=duration=" + d + ":size=160x120:rate=25"};
    if (withSound) args << "-f" << "lavfi" << "-i" << "sine=frequency=300:duration=" + d << "-c:a" << "mp2" << "-shortest";
    args << "-c:v" << "mpeg4" << path;
    QProcess ff;
    ff.start("ffmpeg", args);
    return ff.waitForFinished(60000) && ff.exitStatus() == QProcess::NormalExit && ff.exitCode() == 0;
}

} // namespace testmedia
