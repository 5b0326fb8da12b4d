#include "midi/midifile.h"

#include <QCoreApplication>
#include <QFile>

#include <algorithm>

namespace midi {
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

// An event as read, before its time is known: 24 bytes, the system-exclusive bytes left
// where they lie in the file. A file holds millions of these at most.
struct TickEvent {
    qint64 tick = 0;
    quint32 offset = 0;  // of a system exclusive's bytes in the file
    quint32 length = 0;
    quint8 status = 0, data1 = 0, data2 = 0;
};

struct Tempo {
    qint64 tick = 0;
    double secondsPerTick = 0;
};

struct Signature {
    qint64 tick = 0;
    int numerator = 4;
    int denominator = 4;
};

struct TrackSpan {
    qsizetype first = 0, end = 0;  // of its events in Reading::events
    qsizetype firstTempo = 0, endTempo = 0;
    qint64 endTick = 0;
};

// Every track's events in one list, track after track, each in its own order.
struct Reading {
    QList<TickEvent> events;
    QList<Tempo> tempos;
    QList<Signature> signatures;
    QList<TrackSpan> tracks;
    QHash<QString, QString> tags;  // from the first track, and the first copyright anywhere
    bool tooMany = false;
};

// No piece comes near it (a dense two-hour piano piece holds some 400,000); beyond it
// the file is refused as it is read, so a file of nothing but notes costs little.
constexpr qsizetype kMaxEvents = 2'000'000;

// One MTrk's bytes, at `base` in the file. A track cut short ends at the cut.
void readTrack(const char* data, qsizetype n, qsizetype base, double quarterTicks, Reading& r)
{
    TrackSpan t{r.events.size(), 0, r.tempos.size(), 0, 0};
    const bool first = r.tracks.isEmpty();
    const auto* p = reinterpret_cast<const unsigned char*>(data);
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
    auto tag = [&](const char* key, quint32 len) {
        const QString name = QString::fromLatin1(key);
        if ((first || name == QLatin1String("copyright")) && !r.tags.contains(name))
            r.tags.insert(name, text(QByteArray(data + i, len)));
    };
    while (i < n) {
        if (r.events.size() >= kMaxEvents) {
            r.tooMany = true;
            break;
        }
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
            t.endTick = tick;
            if (type == 0x2F) break;  // end of track
            if (type == 0x51 && len == 3) {
                const quint32 usPerQuarter = (quint32(p[i]) << 16) | (quint32(p[i + 1]) << 8) | p[i + 2];
                if (usPerQuarter > 0 && quarterTicks > 0) r.tempos.append({tick, usPerQuarter / 1e6 / quarterTicks});
            } else if (type == 0x58 && len >= 2) {
                if (p[i] > 0 && p[i + 1] <= 6) r.signatures.append({tick, p[i], 1 << p[i + 1]});
            } else if (type == 0x03) {
                tag("title", len);
            } else if (type == 0x02) {
                tag("copyright", len);
            } else if (type == 0x01) {
                tag("comment", len);
            }
            i += len;
            continue;
        }
        if (status == 0xF0 || status == 0xF7) {
            const quint32 len = varLen(&ok);
            if (!ok || len > quint32(n - i)) break;
            t.endTick = tick;
            // F0 packets carry a message of their own; F7 ones continue or escape
            // something the synthesizer would not take apart anyway.
            if (status == 0xF0) {
                const quint32 body = len > 0 && p[i + len - 1] == 0xF7 ? len - 1 : len;
                r.events.append({tick, quint32(base + i), body, 0xF0, 0, 0});
            }
            i += len;
            continue;
        }
        if (status >= 0xF0) break;  // no other system message belongs in a file

        running = status;
        const int dataBytes = (status & 0xF0) == 0xC0 || (status & 0xF0) == 0xD0 ? 1 : 2;
        if (i + dataBytes > n) break;
        r.events.append({tick, 0, 0, status, quint8(p[i] & 0x7F), quint8(dataBytes == 2 ? p[i + 1] & 0x7F : 0)});
        i += dataBytes;
        t.endTick = tick;
    }
    t.endTick = std::max(t.endTick, tick);
    t.end = r.events.size();
    t.endTempo = r.tempos.size();
    r.tracks.append(t);
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

constexpr double kMaxSeconds = 2 * 60 * 60;
// Two hours of 64th notes at 120 a minute: a metre beyond it is a damaged file's.
constexpr qsizetype kMaxBeats = 230'400;

// The beats of the metre before `endTick`; a new time signature begins a bar.
QList<Beat> metre(QList<Signature> signatures, double quarterTicks, qint64 endTick, const Clock& clock)
{
    std::stable_sort(signatures.begin(), signatures.end(),
                     [](const Signature& a, const Signature& b) { return a.tick < b.tick; });
    QList<Beat> beats;
    Signature sig;
    qsizetype next = 0;
    double tick = 0;
    int inBar = 0;
    while (tick < endTick && beats.size() < kMaxBeats) {
        while (next < signatures.size() && signatures[next].tick <= qint64(tick + 0.5)) {
            tick = std::max<double>(tick, signatures[next].tick);
            sig = signatures[next++];
            inBar = 0;
        }
        const bool compound = sig.denominator >= 8 && sig.numerator % 3 == 0 && sig.numerator > 3;
        const int perBar = compound ? sig.numerator / 3 : sig.numerator;
        const double beatTicks = quarterTicks * 4 / sig.denominator * (compound ? 3 : 1);
        beats.append({clock.seconds(qint64(tick + 0.5)), inBar == 0});
        inBar = (inBar + 1) % perBar;
        tick += beatTicks;
    }
    return beats;
}

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

    Reading r;
    qsizetype at = 8 + headerLen;
    while (at + 8 <= smf.size() && !r.tooMany) {
        const qsizetype len = be32(smf.constData() + at + 4);
        if (QByteArrayView(smf).sliced(at, 4) == "MTrk")
            readTrack(smf.constData() + at + 8, std::min<qsizetype>(len, smf.size() - at - 8), at + 8, quarterTicks, r);
        at += 8 + len;  // other chunks are skipped, as the format asks
    }
    if (r.tooMany) return fail(tr("The MIDI file holds more than %1 events: far more than any piece.").arg(kMaxEvents));
    if (r.tracks.isEmpty()) return fail(tr("The MIDI file holds no tracks."));

    Song song;
    song.tags = std::move(r.tags);
    song.events.reserve(r.events.size());
    auto place = [&](const TickEvent* e, const TickEvent* end, const Clock& clock, double offset) {
        for (; e != end; ++e) {
            Event ev;
            ev.seconds = offset + clock.seconds(e->tick);
            ev.status = e->status;
            ev.data1 = e->data1;
            ev.data2 = e->data2;
            if (e->status == 0xF0) ev.sysex = smf.mid(e->offset, e->length);
            song.events.append(std::move(ev));
        }
    };
    if (format == 2) {
        // Independent patterns, one after the other, each with its own tempo.
        double offset = 0;
        for (const TrackSpan& t : std::as_const(r.tracks)) {
            const Clock clock(r.tempos.mid(t.firstTempo, t.endTempo - t.firstTempo), secondsPerTick);
            place(r.events.constData() + t.first, r.events.constData() + t.end, clock, offset);
            offset += clock.seconds(t.endTick);
        }
        song.duration = offset;
    } else {
        // One tempo map for all tracks, wherever its changes are written. The list holds
        // track after track: a stable sort by tick puts the earlier track first at one
        // tick and keeps each track's own order.
        qint64 end = 0;
        for (const TrackSpan& t : std::as_const(r.tracks)) end = std::max(end, t.endTick);
        std::stable_sort(r.events.begin(), r.events.end(), [](const TickEvent& a, const TickEvent& b) { return a.tick < b.tick; });
        const Clock clock(std::move(r.tempos), secondsPerTick);
        place(r.events.cbegin(), r.events.cend(), clock, 0);
        song.duration = clock.seconds(end);
        if (quarterTicks > 0 && song.duration <= kMaxSeconds)
            song.beats = metre(std::move(r.signatures), quarterTicks, end, clock);
    }
    if (song.duration > kMaxSeconds) return fail(tr("The MIDI file lasts more than two hours: too long to render."));
    if (song.duration <= 0) return fail(tr("The MIDI file holds no music."));
    return song;
}

} // namespace midi
