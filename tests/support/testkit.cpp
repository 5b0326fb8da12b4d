#include "support/testkit.h"

#include <QDataStream>
#include <QFile>
#include <cmath>

namespace testkit {

QString writeFile(const QString& path, qint64 bytes)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly)) f.write(QByteArray(bytes, 'x'));
    return path;
}

QString writeWav(const QString& path, double seconds, int sampleRate, double hz)
{
    const quint32 frames = static_cast<quint32>(seconds * sampleRate);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly)) return path;
    QDataStream out(&f);
    out.setByteOrder(QDataStream::LittleEndian);
    const quint32 dataBytes = frames * 2;
    out.writeRawData("RIFF", 4);
    out << quint32(36 + dataBytes);
    out.writeRawData("WAVEfmt ", 8);
    out << quint32(16) << quint16(1) << quint16(1) << quint32(sampleRate) << quint32(sampleRate * 2) << quint16(2)
        << quint16(16);
    out.writeRawData("data", 4);
    out << dataBytes;
    for (quint32 i = 0; i < frames; ++i)
        out << qint16(std::lround(8000.0 * std::sin(2.0 * M_PI * hz * i / sampleRate)));
    return path;
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
