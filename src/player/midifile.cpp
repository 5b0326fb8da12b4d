#include "player/midifile.h"

#include <QCoreApplication>
#include <QFile>

#include <algorithm>

namespace player::midi {
namespace {

QString tr(const char* text) { return QCoreApplication::translate("MidiFile", text); }

quint32 be32(const char* p)
{
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    return (quint32(u[0]) << 24) | (quint32(u[1]) << 16) | (quint32(u[2]) << 8) | u[3];
}

quint32 le32(const char* p)
{
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    return (quint32(u[3]) << 24) | (quint32(u[2]) << 16) | (quint32(u[1]) << 8) | u[0];
}

quint16 be16(const char* p)
{
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    return quint16((u[0] << 8) | u[1]);
}

// The standard MIDI file inside a RIFF RMID, or the bytes themselves.
QByteArray unwrapRmid(const QByteArray& bytes)
{
    if (!bytes.startsWith("RIFF") || bytes.size() < 12 || bytes.mid(8, 4) != "RMID") return bytes;
    qsizetype at = 12;
    while (at + 8 <= bytes.size()) {
        const qsizetype len = le32(bytes.constData() + at + 4);
        if (bytes.mid(at, 4) == "data") return bytes.mid(at + 8, len);
        at += 8 + len + (len & 1);  // chunks are padded to even length
    }
    return {};
}

QString text(const QByteArray& raw)
{
    QByteArray b = raw;
    while (b.endsWith('\0')) b.chop(1);
    // Most files carry Latin-1; newer ones UTF-8.
    QString s = QString::fromUtf8(b);
    if (s.contains(QChar::ReplacementCharacter)) s = QString::fromLatin1(b);
    return s.trimmed();
}

struct TickEvent {
    qint64 tick = 0;
    int track = 0;
    Event event;
};

struct Tempo {
    qint64 tick = 0;
    double secondsPerTick = 0;
};

struct Track {
    QList<TickEvent> events;
    QList<Tempo> tempos;  // set-tempo events, in the track's order
    qint64 endTick = 0;
    QHash<QString, QString> tags;
};

// One MTrk's bytes. A track cut short ends at the cut.
Track readTrack(const QByteArray& data, int index, double quarterTicks)
{
    Track t;
    const auto* p = reinterpret_cast<const unsigned char*>(data.constData());
    const qsizetype n = data.size();
    qsizetype i = 0;
    qint64 tick = 0;
    quint8 running = 0;
    auto varLen = [&](bool* ok) {
        quint32 v = 0;
        for (int k = 0; k < 4; ++k) {
            if (i >= n) break;
            const quint8 b = p[i++];
            v = (v << 7) | (b & 0x7F);
            if (!(b & 0x80)) {
                *ok = true;
                return v;
            }
        }
        *ok = false;
        return v;
    };
    while (i < n) {
        bool ok = false;
        const quint32 delta = varLen(&ok);
        if (!ok) break;
        tick += delta;
        if (i >= n) break;
        quint8 status = p[i];
        if (status & 0x80) {
            ++i;
        } else if (running) {
            status = running;  // running status: the data byte is read below
        } else {
            break;  // data without a status: the rest is unreadable
        }

        if (status == 0xFF) {
            if (i >= n) break;
            const quint8 type = p[i++];
            const quint32 len = varLen(&ok);
            if (!ok || len > quint32(n - i)) break;
            const QByteArray body = data.mid(i, len);
            i += len;
            t.endTick = tick;
            if (type == 0x2F) break;  // end of track
            if (type == 0x51 && len == 3) {
                const quint32 usPerQuarter = (quint32(quint8(body[0])) << 16) | (quint32(quint8(body[1])) << 8) |
                                             quint8(body[2]);
                if (usPerQuarter > 0 && quarterTicks > 0)
                    t.tempos.append({tick, usPerQuarter / 1e6 / quarterTicks});
            } else if (type == 0x03 && !t.tags.contains("title")) {
                t.tags.insert("title", text(body));
            } else if (type == 0x02 && !t.tags.contains("copyright")) {
                t.tags.insert("copyright", text(body));
            } else if (type == 0x01 && !t.tags.contains("comment")) {
                t.tags.insert("comment", text(body));
            }
            continue;
        }
        if (status == 0xF0 || status == 0xF7) {
            const quint32 len = varLen(&ok);
            if (!ok || len > quint32(n - i)) break;
            QByteArray body = data.mid(i, len);
            i += len;
            t.endTick = tick;
            // F0 packets carry a message of their own; F7 ones continue or escape
            // something the synthesizer would not take apart anyway.
            if (status == 0xF0) {
                if (body.endsWith(char(0xF7))) body.chop(1);
                Event e;
                e.status = 0xF0;
                e.sysex = body;
                t.events.append({tick, index, e});
            }
            continue;
        }
        if (status >= 0xF0) break;  // no other system message belongs in a file

        running = status;
        const int dataBytes = (status & 0xF0) == 0xC0 || (status & 0xF0) == 0xD0 ? 1 : 2;
        if (i + dataBytes > n) break;
        Event e;
        e.status = status;
        e.data1 = p[i] & 0x7F;
        e.data2 = dataBytes == 2 ? p[i + 1] & 0x7F : 0;
        i += dataBytes;
        t.events.append({tick, index, e});
        t.endTick = tick;
    }
    t.endTick = std::max(t.endTick, tick);
    return t;
}

// Converts ticks to seconds through a tempo map sorted by tick.
class Clock {
public:
    Clock(QList<Tempo> tempos, double defaultSecondsPerTick) : m_default(defaultSecondsPerTick)
    {
        std::stable_sort(tempos.begin(), tempos.end(), [](const Tempo& a, const Tempo& b) { return a.tick < b.tick; });
        double seconds = 0;
        qint64 tick = 0;
        double perTick = m_default;
        for (const Tempo& t : tempos) {
            seconds += (t.tick - tick) * perTick;
            tick = t.tick;
            perTick = t.secondsPerTick;
            m_steps.append({t.tick, seconds, perTick});
        }
    }

    double seconds(qint64 tick) const
    {
        // The last change at or before the tick.
        auto it = std::upper_bound(m_steps.cbegin(), m_steps.cend(), tick,
                                   [](qint64 t, const Step& s) { return t < s.tick; });
        if (it == m_steps.cbegin()) return tick * m_default;
        --it;
        return it->seconds + (tick - it->tick) * it->perTick;
    }

private:
    struct Step {
        qint64 tick;
        double seconds;
        double perTick;
    };
    double m_default;
    QList<Step> m_steps;
};

constexpr qsizetype kMaxFileBytes = 16 * 1024 * 1024;
constexpr double kMaxSeconds = 2 * 60 * 60;

} // namespace

bool looksLikeMidi(const QByteArray& head)
{
    return head.startsWith("MThd") || (head.startsWith("RIFF") && head.size() >= 12 && head.mid(8, 4) == "RMID");
}

bool isMidiFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) && looksLikeMidi(f.read(12));
}

std::optional<Song> parse(const QByteArray& bytes, QString* error)
{
    auto fail = [&](const QString& why) -> std::optional<Song> {
        if (error) *error = why;
        return std::nullopt;
    };
    if (bytes.size() > kMaxFileBytes) return fail(tr("The file is too large to be a MIDI file."));
    const QByteArray smf = unwrapRmid(bytes);
    if (smf.size() < 14 || !smf.startsWith("MThd")) return fail(tr("The MIDI file is damaged: it has no header."));
    const quint32 headerLen = be32(smf.constData() + 4);
    if (headerLen < 6 || headerLen > quint32(smf.size() - 8)) return fail(tr("The MIDI file is damaged: its header is cut short."));
    const int format = be16(smf.constData() + 8);
    const quint16 division = be16(smf.constData() + 12);
    if (format > 2) return fail(tr("The MIDI file is of an unknown kind (format %1).").arg(format));

    double quarterTicks = 0;       // ticks per quarter note, when the tempo applies
    double secondsPerTick = 0.5 / 96;
    if (division & 0x8000) {
        // SMPTE time: frames per second (29 stands for 29.97) times ticks per frame.
        const int fps = -static_cast<qint8>(division >> 8);
        const int perFrame = division & 0xFF;
        const double rate = fps == 29 ? 30000.0 / 1001.0 : fps;
        if (fps <= 0 || perFrame == 0) return fail(tr("The MIDI file is damaged: its time division is zero."));
        secondsPerTick = 1.0 / (rate * perFrame);
    } else {
        if (division == 0) return fail(tr("The MIDI file is damaged: its time division is zero."));
        quarterTicks = division;
        secondsPerTick = 0.5 / quarterTicks;  // 120 beats a minute until a tempo says otherwise
    }

    QList<Track> tracks;
    qsizetype at = 8 + headerLen;
    while (at + 8 <= smf.size()) {
        const qsizetype len = be32(smf.constData() + at + 4);
        const bool isTrack = smf.mid(at, 4) == "MTrk";
        const QByteArray body = smf.mid(at + 8, std::min<qsizetype>(len, smf.size() - at - 8));
        if (isTrack) tracks.append(readTrack(body, int(tracks.size()), quarterTicks));
        at += 8 + len;  // other chunks are skipped, as the format asks
    }
    if (tracks.isEmpty()) return fail(tr("The MIDI file holds no tracks."));

    Song song;
    for (const Track& t : std::as_const(tracks))
        for (auto it = t.tags.cbegin(); it != t.tags.cend(); ++it)
            if (!song.tags.contains(it.key()) && (it.key() == "copyright" || &t == &tracks.constFirst()))
                song.tags.insert(it.key(), it.value());

    auto place = [&](const QList<TickEvent>& events, const Clock& clock, double offset) {
        for (const TickEvent& e : events) {
            Event ev = e.event;
            ev.seconds = offset + clock.seconds(e.tick);
            song.events.append(ev);
        }
    };
    if (format == 2) {
        // Independent patterns, one after the other, each with its own tempo.
        double offset = 0;
        for (const Track& t : std::as_const(tracks)) {
            const Clock clock(t.tempos, secondsPerTick);
            place(t.events, clock, offset);
            offset += clock.seconds(t.endTick);
        }
        song.duration = offset;
    } else {
        // One tempo map for all tracks, wherever its changes are written.
        QList<Tempo> tempos;
        QList<TickEvent> all;
        qint64 end = 0;
        for (const Track& t : std::as_const(tracks)) {
            tempos += t.tempos;
            all += t.events;
            end = std::max(end, t.endTick);
        }
        // Same tick: the earlier track first, each track's own order kept.
        std::stable_sort(all.begin(), all.end(), [](const TickEvent& a, const TickEvent& b) {
            return a.tick != b.tick ? a.tick < b.tick : a.track < b.track;
        });
        const Clock clock(tempos, secondsPerTick);
        place(all, clock, 0);
        song.duration = clock.seconds(end);
    }
    if (song.duration > kMaxSeconds) return fail(tr("The MIDI file lasts more than two hours: too long to render."));
    if (song.duration <= 0) return fail(tr("The MIDI file holds no music."));
    return song;
}

} // namespace player::midi
