#include "support/testkit.h"

#include <QDataStream>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <cmath>

namespace testkit {

QString writeFile(const QString& path, qint64 bytes)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly)) f.write(QByteArray(bytes, 'x'));
    return path;
}

QString writeWav(const QString& path, double seconds, int sampleRate, double hz, const QByteArray& title)
{
    const quint32 frames = static_cast<quint32>(seconds * sampleRate);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly)) return path;
    QDataStream out(&f);
    out.setByteOrder(QDataStream::LittleEndian);
    const quint32 dataBytes = frames * 2;
    // The title goes in a LIST/INFO chunk as INAM, NUL-ended and padded to even length.
    QByteArray name = title + '\0';
    if (name.size() % 2) name += '\0';
    const quint32 listBytes = title.isEmpty() ? 0 : 8 + 4 + 8 + name.size();
    out.writeRawData("RIFF", 4);
    out << quint32(36 + listBytes + dataBytes);
    out.writeRawData("WAVEfmt ", 8);
    out << quint32(16) << quint16(1) << quint16(1) << quint32(sampleRate) << quint32(sampleRate * 2) << quint16(2)
        << quint16(16);
    if (!title.isEmpty()) {
        out.writeRawData("LIST", 4);
        out << quint32(listBytes - 8);
        out.writeRawData("INFOINAM", 8);
        out << quint32(name.size());
        out.writeRawData(name.constData(), name.size());
    }
    out.writeRawData("data", 4);
    out << dataBytes;
    for (quint32 i = 0; i < frames; ++i)
        out << qint16(std::lround(8000.0 * std::sin(2.0 * M_PI * hz * i / sampleRate)));
    return path;
}

QString writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly)) f.write(bytes);
    return path;
}

bool makeVideo(const QString& path, double seconds, bool withSound)
{
    if (QStandardPaths::findExecutable("ffmpeg").isEmpty()) return false;
    const QString d = QString::number(seconds);
    QStringList args{"-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                     "testsrc=duration=" + d + ":size=160x120:rate=25"};
    if (withSound)
        args << "-f" << "lavfi" << "-i" << "sine=frequency=300:duration=" + d << "-c:a" << "mp2" << "-shortest";
    args << "-c:v" << "mpeg4" << path;
    QProcess ff;
    ff.start("ffmpeg", args);
    return ff.waitForFinished(60000) && ff.exitStatus() == QProcess::NormalExit && ff.exitCode() == 0;
}

MessageRecorder::MessageRecorder(int a) : answer(a)
{
    services::setMessageAnswer([this](const services::MessageRequest& r) {
        messages.append(r);
        return decide ? decide(r) : answer;
    });
}

MessageRecorder::~MessageRecorder() { services::setMessageAnswer({}); }

} // namespace testkit
