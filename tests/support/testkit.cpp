#include "support/testkit.h"

#include <QDataStream>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QtEndian>
#include <algorithm>
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

namespace {

QByteArray bytes(std::initializer_list<char> list) { return QByteArray(list.begin(), qsizetype(list.size())); }

QByteArray be32(quint32 v)
{
    return bytes({char(v >> 24), char(v >> 16), char(v >> 8), char(v)});
}

QByteArray varLen(quint32 v)
{
    QByteArray out(1, char(v & 0x7F));
    while (v >>= 7) out.prepend(char(0x80 | (v & 0x7F)));
    return out;
}

QByteArray chunk(const char* id, const QByteArray& body) { return QByteArray(id, 4) + be32(body.size()) + body; }

// Events as (tick, bytes), written with deltas; the track ends at `end`.
QByteArray track(QList<std::pair<qint64, QByteArray>> events, qint64 end)
{
    std::stable_sort(events.begin(), events.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    QByteArray body;
    qint64 at = 0;
    for (const auto& [tick, bytes] : events) {
        body += varLen(quint32(tick - at)) + bytes;
        at = tick;
    }
    body += varLen(quint32(end - at)) + QByteArray("\xFF\x2F\x00", 3);
    return chunk("MTrk", body);
}

} // namespace

QByteArray midiBytes(double seconds, const MidiOptions& options)
{
    constexpr int kQuarter = 480;  // ticks; at 120 a minute 960 ticks make a second
    const qint64 end = std::llround(seconds * 2 * kQuarter);
    QList<std::pair<qint64, QByteArray>> conductor{{0, QByteArray("\xFF\x51\x03\x07\xA1\x20", 6)}};
    if (!options.title.isEmpty())
        conductor.append({0, QByteArray("\xFF\x03", 2) + varLen(options.title.size()) + options.title});

    QList<std::pair<qint64, QByteArray>> music;
    auto note = [&](qint64 at, qint64 len, int channel, int key, int velocity) {
        if (at >= end) return;
        // Offs sort before ons at the same tick, so a repeated key is not cut.
        music.append({std::min(end, at + len), bytes({char(0x80 | channel), char(key), char(0)})});
        music.append({at, bytes({char(0x90 | channel), char(key), char(velocity)})});
    };
    music.append({0, bytes({char(0xC0), char(0)})});  // piano
    const int tune[] = {60, 62, 64, 65, 67, 65, 64, 62};
    for (qint64 t = 0, i = 0; t < end; t += kQuarter, ++i) note(t, kQuarter * 9 / 10, 0, tune[i % 8], 100);
    if (options.busy) {
        music.append({0, bytes({char(0xC1), char(48)})});  // strings
        music.append({0, bytes({char(0xC2), char(33)})});  // bass
        const int chords[][3] = {{48, 52, 55}, {53, 57, 60}, {55, 59, 62}, {48, 52, 55}};
        for (qint64 t = 0, bar = 0; t < end; t += 4 * kQuarter, ++bar)
            for (int key : chords[bar % 4]) note(t, 4 * kQuarter - 20, 1, key, 70);
        for (qint64 t = 0, i = 0; t < end; t += kQuarter, ++i) note(t, kQuarter / 2, 2, 36 + (i % 2) * 7, 90);
        for (qint64 t = 0, i = 0; t < end; t += kQuarter / 2, ++i) {
            note(t, 60, 9, 42, 60);                      // closed hi-hat
            if (i % 4 == 0) note(t, 60, 9, 36, 110);     // kick
            if (i % 4 == 2) note(t, 60, 9, 38, 100);     // snare
        }
    }
    const QByteArray smf = chunk("MThd", QByteArray("\x00\x01\x00\x02\x01\xE0", 6)) + track(conductor, end) +
                           track(music, end);
    if (!options.rmid) return smf;
    QByteArray data = "data" + QByteArray(4, 0) + smf;
    qToLittleEndian(quint32(smf.size()), data.data() + 4);
    if (smf.size() % 2) data += '\0';
    QByteArray riff = "RIFF" + QByteArray(4, 0) + "RMID" + data;
    qToLittleEndian(quint32(riff.size() - 8), riff.data() + 4);
    return riff;
}

QString writeMidi(const QString& path, double seconds, const MidiOptions& options)
{
    return writeBytes(path, midiBytes(seconds, options));
}

QString writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly)) f.write(bytes);
    return path;
}

bool ffmpeg(const QStringList& args)
{
    if (QStandardPaths::findExecutable("ffmpeg").isEmpty()) return false;
    QProcess ff;
    ff.start("ffmpeg", QStringList{"-hide_banner", "-loglevel", "error", "-y"} + args);
    return ff.waitForFinished(60000) && ff.exitStatus() == QProcess::NormalExit && ff.exitCode() == 0;
}

bool makeVideo(const QString& path, double seconds, bool withSound)
{
    const QString d = QString::number(seconds);
    QStringList args{"-f", "lavfi", "-i", "testsrc=duration=" + d + ":size=160x120:rate=25"};
    if (withSound)
        args << "-f" << "lavfi" << "-i" << "sine=frequency=300:duration=" + d << "-c:a" << "mp2" << "-shortest";
    args << "-c:v" << "mpeg4" << path;
    return ffmpeg(args);
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
