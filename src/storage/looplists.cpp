#include "storage/looplists.h"

#include "storage/filebytes.h"
#include "storage/subtitles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStringDecoder>
#include <QUrl>
#include <cmath>
#include <optional>

namespace storage {
namespace {

// Other tools write their numbers with a point, whatever the user's locale.
QString cNumber(double v)
{
    QString t = QString::number(v, 'f', 9);
    while (t.endsWith(QLatin1Char('0'))) t.chop(1);
    if (t.endsWith(QLatin1Char('.'))) t.chop(1);
    return t == QLatin1String("-0") ? QStringLiteral("0") : t;
}

std::optional<double> cParse(QStringView text)
{
    bool ok = false;
    const double v = QLocale::c().toDouble(text.trimmed(), &ok);
    if (!ok || !std::isfinite(v) || v < 0) return std::nullopt;
    return v;
}

// A length added to a start would otherwise leave a stop a few ulps off the one written.
double roundedToNanoseconds(double v) { return std::round(v * 1e9) / 1e9; }

QString decodeText(QByteArray bytes)
{
    if (bytes.startsWith("\xEF\xBB\xBF")) bytes.remove(0, 3);
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString text = utf8.decode(bytes);
    // Old lists are in a single-byte code page; Latin-1 keeps every byte readable.
    return utf8.hasError() ? QString::fromLatin1(bytes) : text;
}

const char* formatName(LoopListFormat format)
{
    switch (format) {
    case LoopListFormat::AudacityLabels: return "An Audacity label file";
    case LoopListFormat::Cue: return "A CUE sheet";
    case LoopListFormat::M3u: return "An M3U playlist";
    case LoopListFormat::MpvEdl: return "An mpv EDL file";
    case LoopListFormat::Srt:
    case LoopListFormat::WebVtt:
    case LoopListFormat::Lrc:
    case LoopListFormat::Obs: break;
    }
    return "A playlist file";
}

QString entriesText(qsizetype n)
{
    return n == 1 ? QStringLiteral("1 entry") : QStringLiteral("%1 entries").arg(n);
}

// Counts what was left out or changed and turns each kind into one sentence.
class Notes {
public:
    qsizetype notUnderstood = 0, network = 0, tooLong = 0, openEnd = 0;
    bool cutAtCount = false;
    QStringList extra;

    QStringList sentences() const
    {
        QStringList out;
        if (notUnderstood)
            out << QStringLiteral("%1 not understood and left out.")
                       .arg(notUnderstood == 1 ? QStringLiteral("1 line was") : QStringLiteral("%1 lines were").arg(notUnderstood));
        if (network)
            out << QStringLiteral("%1 network addresses, which are not played, and were left out.")
                       .arg(entriesText(network) + (network == 1 ? QStringLiteral(" names") : QStringLiteral(" name")));
        if (tooLong)
            out << QStringLiteral("%1 a file name longer than %2 characters and were left out.")
                       .arg(entriesText(tooLong) + (tooLong == 1 ? QStringLiteral(" has") : QStringLiteral(" have")))
                       .arg(kMaxLoopListField);
        if (cutAtCount)
            out << QStringLiteral("The list holds more than %1 entries; the rest were left out.").arg(kMaxLoopListEntries);
        if (openEnd)
            out << QStringLiteral("%1 at the end of the file, which the list does not give: the stop reads 0 "
                                  "until it is set in the entry editor.")
                       .arg(entriesText(openEnd) + (openEnd == 1 ? QStringLiteral(" stops") : QStringLiteral(" stop")));
        return out + extra;
    }
};

class Reader {
public:
    Reader(const QString& folder) : m_folder(folder) {}

    // Adds an entry for a file named in the list; false once the list is full.
    bool add(const QString& name, double start, std::optional<double> stop, const QString& text = {})
    {
        if (m_list.entries.size() >= kMaxLoopListEntries) {
            notes.cutAtCount = true;
            return false;
        }
        const QString trimmed = name.trimmed();
        if (trimmed.size() > kMaxLoopListField) {
            ++notes.tooLong;
            return true;
        }
        // Resolved until nothing changes: cleaning "a \t/" leaves a blank at the end that a
        // second read would trim, and a name must read back as it was written.
        QString path = trimmed;
        for (int round = 0; round < 8; ++round) {
            const QString before = path;
            path = path.trimmed();
            if (path.startsWith(QLatin1String("file:"), Qt::CaseInsensitive)) {
                path = QUrl(path).toLocalFile();
            } else if (path.contains(QLatin1String("://"))) {
                ++notes.network;
                return true;
            }
            if (path.isEmpty()) {
                ++notes.notUnderstood;
                return true;
            }
            if (QDir::isRelativePath(path) && !path.contains(QLatin1Char('\\'))) path = QDir(m_folder).filePath(path);
            path = QDir::cleanPath(path);
            if (path == before) break;
        }
        if (!stop && start > 0) ++notes.openEnd;
        m_list.entries.append({0, path, start, stop.value_or(0.0), 1.0, 1.0, {}, text});
        return true;
    }

    LoopList take()
    {
        m_list.notes = notes.sentences();
        return std::move(m_list);
    }

    Notes notes;

private:
    QString m_folder;
    LoopList m_list;
};

// The lines of a list one at a time ("\r\n", "\r" or "\n" ends one): a list of millions
// of short lines is never built whole before the entry bound applies.
class Lines {
public:
    explicit Lines(const QByteArray& bytes) : m_text(decodeText(bytes)) {}
    bool next(QString& line)
    {
        if (m_at > m_text.size()) return false;
        const QChar* c = m_text.constData();
        qsizetype end = m_at;
        while (end < m_text.size() && c[end] != u'\n' && c[end] != u'\r') ++end;
        line = m_text.mid(m_at, end - m_at);
        m_at = end + (end + 1 < m_text.size() && c[end] == u'\r' && c[end + 1] == u'\n' ? 2 : 1);
        return true;
    }

private:
    QString m_text;
    qsizetype m_at = 0;
};

// ---- Audacity labels: "start<TAB>end<TAB>label" ----------------------------------------

LoopList parseLabels(const QByteArray& bytes, const QString& folder)
{
    Reader r(folder);
    Lines lines(bytes);
    for (QString line; lines.next(line);) {
        // A line after a label that starts with a backslash holds its frequency range.
        if (line.trimmed().isEmpty() || line.startsWith(QLatin1Char('\\'))) continue;
        const QStringList f = line.split(QLatin1Char('\t'));
        const auto start = cParse(f.value(0));
        const auto stop = f.size() > 1 ? cParse(f[1]) : std::nullopt;
        if (!start || !stop) {
            ++r.notes.notUnderstood;
            continue;
        }
        const QString label = f.mid(2).join(QLatin1Char('\t'));
        if (!r.add(label, *start, *stop, label.trimmed())) break;
    }
    return r.take();
}

// ---- CUE sheets: positions in minutes, seconds and 1/75 s frames -----------------------

constexpr int kCueFrames = 75;

std::optional<double> cueTime(const QString& text)
{
    const QStringList p = text.split(QLatin1Char(':'));
    if (p.size() != 3) return std::nullopt;
    bool ok1 = false, ok2 = false, ok3 = false;
    const qint64 m = p[0].toLongLong(&ok1), s = p[1].toLongLong(&ok2), f = p[2].toLongLong(&ok3);
    if (!ok1 || !ok2 || !ok3 || m < 0 || m > 100000 || s < 0 || s > 59 || f < 0 || f >= kCueFrames)
        return std::nullopt;
    // Shown to the millisecond, as other positions are; the frame is kept either way.
    return std::round((double(m * 60 + s) + double(f) / kCueFrames) * 1000.0) / 1000.0;
}

// The FILE line's type, by the file's extension: players pick their decoder from it.
QString cueFileType(const QString& file)
{
    const QString ext = QFileInfo(file).suffix().toLower();
    if (ext == QLatin1String("mp3") || ext == QLatin1String("mp2") || ext == QLatin1String("mpa")) return QStringLiteral("MP3");
    if (ext.startsWith(QLatin1String("aif"))) return QStringLiteral("AIFF");
    static const QStringList video{"mpg", "mpeg", "mpe", "m1v", "avi", "asf", "wm", "wmv"};
    return video.contains(ext) ? QStringLiteral("BINARY") : QStringLiteral("WAVE");
}

QString cueTimeText(qint64 frames)
{
    return QStringLiteral("%1:%2:%3")
        .arg(frames / (60 * kCueFrames), 2, 10, QLatin1Char('0'))
        .arg(frames / kCueFrames % 60, 2, 10, QLatin1Char('0'))
        .arg(frames % kCueFrames, 2, 10, QLatin1Char('0'));
}

// The words of a CUE line; a quoted word keeps its blanks.
QStringList cueWords(const QString& line)
{
    QStringList words;
    const QString t = line.trimmed();
    for (qsizetype i = 0; i < t.size();) {
        if (t[i].isSpace()) {
            ++i;
        } else if (t[i] == QLatin1Char('"')) {
            const qsizetype end = t.indexOf(QLatin1Char('"'), i + 1);
            words << t.mid(i + 1, (end < 0 ? t.size() : end) - i - 1);
            i = end < 0 ? t.size() : end + 1;
        } else {
            qsizetype end = i;
            while (end < t.size() && !t[end].isSpace()) ++end;
            words << t.mid(i, end - i);
            i = end;
        }
    }
    return words;
}

LoopList parseCue(const QByteArray& bytes, const QString& folder)
{
    struct Track {
        std::optional<double> start, pregap, stop;
    };
    Reader r(folder);
    QString file;
    QList<Track> tracks;
    bool full = false;
    // A track ends at its own stop, else where the next one of the same file begins.
    auto flush = [&] {
        for (qsizetype i = 0; i < tracks.size() && !full; ++i) {
            if (!tracks[i].start) {
                ++r.notes.notUnderstood;
                continue;
            }
            std::optional<double> stop = tracks[i].stop;
            if (!stop && i + 1 < tracks.size()) stop = tracks[i + 1].pregap ? tracks[i + 1].pregap : tracks[i + 1].start;
            full = !r.add(file, *tracks[i].start, stop);
        }
        tracks.clear();
    };
    Lines lines(bytes);
    for (QString line; !full && lines.next(line);) {
        const QStringList w = cueWords(line);
        if (w.isEmpty()) continue;
        const QString command = w[0].toUpper();
        if (command == QLatin1String("FILE")) {
            flush();
            file = w.value(1);
        } else if (command == QLatin1String("TRACK")) {
            if (file.isEmpty()) ++r.notes.notUnderstood;
            else if (tracks.size() < kMaxLoopListEntries) tracks.append(Track{});
            else r.notes.cutAtCount = true;
        } else if (command == QLatin1String("INDEX") && !tracks.isEmpty()) {
            const auto at = cueTime(w.value(2));
            if (!at) ++r.notes.notUnderstood;
            else if (w.value(1).toInt() == 1) tracks.last().start = at;
            else if (w.value(1).toInt() == 0) tracks.last().pregap = at;
        } else if (command == QLatin1String("REM") && w.value(1).toUpper() == QLatin1String("STOP") && !tracks.isEmpty()) {
            tracks.last().stop = cueTime(w.value(2));
        }
    }
    flush();
    return r.take();
}

// ---- M3U with VLC's start and stop options --------------------------------------------

LoopList parseM3u(const QByteArray& bytes, const QString& folder)
{
    Reader r(folder);
    double start = 0, stop = 0;
    bool stopGiven = false;
    Lines lines(bytes);
    for (QString raw; lines.next(raw);) {
        const QString line = raw.trimmed();
        if (line.isEmpty()) continue;
        if (line.startsWith(QLatin1Char('#'))) {
            static const QLatin1String option("#EXTVLCOPT:");
            if (!line.startsWith(option, Qt::CaseInsensitive)) continue;
            const QString setting = line.mid(option.size());
            const qsizetype eq = setting.indexOf(QLatin1Char('='));
            const QString key = setting.left(eq).trimmed().toLower();
            const auto value = cParse(QStringView(setting).mid(eq + 1));
            if (key != QLatin1String("start-time") && key != QLatin1String("stop-time")) continue;
            if (!value) ++r.notes.notUnderstood;
            else if (key == QLatin1String("start-time")) start = *value;
            else {
                stop = *value;
                stopGiven = true;
            }
            continue;
        }
        if (!r.add(line, start, stopGiven ? std::optional<double>(stop) : std::nullopt)) break;
        start = stop = 0;
        stopGiven = false;
    }
    return r.take();
}

// ---- mpv EDL: "# mpv EDL v0", then "file,start,length" segments ------------------------

LoopList parseEdl(const QByteArray& bytes, const QString& folder)
{
    Reader r(folder);
    QByteArray body = bytes.startsWith("\xEF\xBB\xBF") ? bytes.mid(3) : bytes;
    static const QByteArray header("# mpv EDL v0");
    if (!body.startsWith(header)) {
        r.notes.extra << QStringLiteral("The file is no mpv EDL file: it does not begin with \"# mpv EDL v0\".");
        return r.take();
    }
    bool skippedHeaders = false;
    qsizetype i = body.indexOf('\n');
    i = i < 0 ? body.size() : i + 1;
    while (i < body.size()) {
        const char c = body[i];
        if (c == '\n' || c == '\r' || c == ';' || c == ' ') {
            ++i;
            continue;
        }
        if (c == '#' || c == '!') {  // a comment, or a header line of options not kept
            skippedHeaders |= c == '!';
            const qsizetype end = body.indexOf('\n', i);
            i = end < 0 ? body.size() : end + 1;
            continue;
        }
        // One segment: parameters separated by ",", each "name=value" or positional; a
        // value written "%n%" is the next n bytes, whatever they hold.
        QList<QPair<QByteArray, QByteArray>> params;
        bool bad = false;
        while (i < body.size() && body[i] != '\n' && body[i] != ';') {
            QByteArray name;
            qsizetype at = i;
            while (at < body.size() && body[at] != '=' && body[at] != ',' && body[at] != '\n' && body[at] != ';' &&
                   body[at] != '%')
                ++at;
            if (at < body.size() && body[at] == '=') {
                name = body.mid(i, at - i).trimmed();
                i = at + 1;
            }
            QByteArray value;
            if (i < body.size() && body[i] == '%') {
                const qsizetype close = body.indexOf('%', i + 1);
                bool ok = false;
                const qint64 n = close < 0 ? -1 : body.mid(i + 1, close - i - 1).toLongLong(&ok);
                if (!ok || n < 0 || close + 1 + n > body.size()) {
                    bad = true;
                    break;
                }
                value = body.mid(close + 1, n);
                i = close + 1 + n;
            } else {
                qsizetype end = i;
                while (end < body.size() && body[end] != ',' && body[end] != '\n' && body[end] != ';') ++end;
                value = body.mid(i, end - i).trimmed();
                i = end;
            }
            params.append(qMakePair(name, value));
            if (i < body.size() && body[i] == ',') ++i;
        }
        if (bad) {
            ++r.notes.notUnderstood;
            const qsizetype end = body.indexOf('\n', i);
            i = end < 0 ? body.size() : end + 1;
            continue;
        }
        QByteArray file, start, length;
        int position = 0;
        for (const auto& [name, value] : params) {
            const QByteArray key = name.isEmpty() ? QByteArray(position == 0 ? "file" : position == 1 ? "start" : "length")
                                                  : name;
            if (name.isEmpty()) ++position;
            if (key == "file") file = value;
            else if (key == "start") start = value;
            else if (key == "length") length = value;
        }
        const auto s = start.isEmpty() ? std::optional<double>(0.0) : cParse(QString::fromUtf8(start));
        const auto len = length.isEmpty() ? std::nullopt : cParse(QString::fromUtf8(length));
        if (!s || (!length.isEmpty() && !len)) {
            ++r.notes.notUnderstood;
            continue;
        }
        std::optional<double> stop;
        if (len) stop = roundedToNanoseconds(*s + *len);
        if (!r.add(QString::fromUtf8(file), *s, stop)) break;
    }
    if (skippedHeaders) r.notes.extra << QStringLiteral("The file's stream options (lines starting with \"!\") are not kept.");
    return r.take();
}

// ---- Writers ----------------------------------------------------------------------------

QString baseName(const QString& path) { return QFileInfo(path).fileName(); }

bool holdsLineBreak(const QString& s) { return s.contains(QLatin1Char('\n')) || s.contains(QLatin1Char('\r')); }

} // namespace

LoopListText writeLoopList(LoopListFormat format, const QList<EntryRecord>& all)
{
    if (isSubtitleFormat(format)) return writeSubtitles(format, all);
    LoopListText out;
    QList<EntryRecord> entries;
    qsizetype unholdable = 0, quoted = 0, rounded = 0, backwards = 0, rateOrLoops = 0, practice = 0;
    for (const EntryRecord& e : all) {
        if (holdsLineBreak(e.FileName)) ++unholdable;
        else if (format == LoopListFormat::Cue && e.FileName.contains(QLatin1Char('"'))) ++quoted;
        else entries.append(e);
    }
    for (const EntryRecord& e : entries) {
        if (e.Rate != 1 || e.Loops != 1) ++rateOrLoops;
        if (e.Practice.any()) ++practice;
    }
    QString t;
    switch (format) {
    case LoopListFormat::AudacityLabels:
        for (const EntryRecord& e : entries)
            t += cNumber(e.Start) + QLatin1Char('\t') + cNumber(e.Stop) + QLatin1Char('\t') + e.FileName + QLatin1Char('\n');
        break;
    case LoopListFormat::M3u:
        t = QStringLiteral("#EXTM3U\n");
        for (const EntryRecord& e : entries) {
            t += QStringLiteral("#EXTINF:-1,") + baseName(e.FileName) + QLatin1Char('\n');
            if (e.Start != 0) t += QStringLiteral("#EXTVLCOPT:start-time=") + cNumber(e.Start) + QLatin1Char('\n');
            if (e.Stop != 0) t += QStringLiteral("#EXTVLCOPT:stop-time=") + cNumber(e.Stop) + QLatin1Char('\n');
            t += e.FileName + QLatin1Char('\n');
        }
        break;
    case LoopListFormat::MpvEdl:
        t = QStringLiteral("# mpv EDL v0\n");
        for (const EntryRecord& e : entries) {
            t += QStringLiteral("%%1%").arg(e.FileName.toUtf8().size()) + e.FileName + QLatin1Char(',') + cNumber(e.Start);
            if (e.Stop > e.Start) t += QLatin1Char(',') + cNumber(e.Stop - e.Start);
            else if (e.Stop != 0) ++backwards;
            t += QLatin1Char('\n');
        }
        break;
    case LoopListFormat::Cue: {
        auto frames = [&](double v) {
            const qint64 f = std::llround(v * kCueFrames);
            if (std::abs(double(f) / kCueFrames - v) > 1e-9) ++rounded;
            return f;
        };
        for (qsizetype i = 0; i < entries.size(); ++i) {
            const EntryRecord& e = entries[i];
            const qint64 start = frames(e.Start), stop = frames(e.Stop);
            // A stretch that starts where the one before it in the same file stops shares
            // its FILE block; the next track's index then marks the stop.
            const bool continues = i > 0 && entries[i - 1].FileName == e.FileName && entries[i - 1].Stop != 0 &&
                                   std::llround(entries[i - 1].Stop * kCueFrames) == start;
            const bool continued = i + 1 < entries.size() && entries[i + 1].FileName == e.FileName && e.Stop != 0 &&
                                   std::llround(entries[i + 1].Start * kCueFrames) == stop;
            if (!continues) t += QStringLiteral("FILE \"%1\" %2\n").arg(e.FileName, cueFileType(e.FileName));
            t += QStringLiteral("  TRACK %1 AUDIO\n").arg(i + 1, 2, 10, QLatin1Char('0'));
            t += QStringLiteral("    TITLE \"%1\"\n").arg(baseName(e.FileName));
            t += QStringLiteral("    INDEX 01 %1\n").arg(cueTimeText(start));
            if (!continued && e.Stop != 0) t += QStringLiteral("    REM STOP %1\n").arg(cueTimeText(stop));
        }
        break;
    }
    case LoopListFormat::Srt:
    case LoopListFormat::WebVtt:
    case LoopListFormat::Lrc:
    case LoopListFormat::Obs: break;
    }
    const QString name = QString::fromLatin1(formatName(format));
    if (rateOrLoops)
        out.notes << QStringLiteral("%1 keeps no rate and no loop count: %2 written with rate 1 and one pass.")
                         .arg(name, entriesText(rateOrLoops) + (rateOrLoops == 1 ? QStringLiteral(" was") : QStringLiteral(" were")));
    if (practice)
        out.notes << QStringLiteral("%1 keeps no pause, count-in, trainer or transpose: %2 written without them.")
                         .arg(name, entriesText(practice) + (practice == 1 ? QStringLiteral(" was") : QStringLiteral(" were")));
    if (unholdable)
        out.notes << QStringLiteral("%1 with a line break in the file name, which the file cannot hold, left out.")
                         .arg(entriesText(unholdable));
    if (quoted)
        out.notes << QStringLiteral("%1 with a double quote in the file name, which a CUE sheet cannot hold, left out.")
                         .arg(entriesText(quoted));
    if (rounded)
        out.notes << QStringLiteral("A CUE sheet counts positions in 1/75 s: %1 rounded.")
                         .arg(rounded == 1 ? QStringLiteral("1 position was") : QStringLiteral("%1 positions were").arg(rounded));
    if (backwards)
        out.notes << QStringLiteral("%1 stop at or before the start, which an mpv EDL file cannot hold: written to play to the end.")
                         .arg(entriesText(backwards));
    out.bytes = t.toUtf8();
    return out;
}

const char* const kLoopListFilter =
    "Vamplet PlayList File|*.obs;*.vamplet|Audacity Labels|*.txt|CUE Sheet|*.cue|M3U Playlist|*.m3u;*.m3u8|"
    "mpv EDL|*.edl|SubRip Subtitles|*.srt|WebVTT Subtitles|*.vtt|LRC Lyrics|*.lrc|All Files (*.*)|*.*|";

bool isListFile(const QString& path)
{
    const QString ext = QFileInfo(path).suffix().toLower();
    return loopListFormatOf(path) != LoopListFormat::Obs || ext == QLatin1String("obs") ||
           ext == QLatin1String("vamplet");
}

LoopListFormat loopListFormatOf(const QString& path)
{
    const QString ext = QFileInfo(path).suffix().toLower();
    if (ext == QLatin1String("txt")) return LoopListFormat::AudacityLabels;
    if (ext == QLatin1String("cue")) return LoopListFormat::Cue;
    if (ext == QLatin1String("m3u") || ext == QLatin1String("m3u8")) return LoopListFormat::M3u;
    if (ext == QLatin1String("edl")) return LoopListFormat::MpvEdl;
    if (ext == QLatin1String("srt")) return LoopListFormat::Srt;
    if (ext == QLatin1String("vtt")) return LoopListFormat::WebVtt;
    if (ext == QLatin1String("lrc")) return LoopListFormat::Lrc;
    return LoopListFormat::Obs;
}

LoopList parseLoopList(LoopListFormat format, const QByteArray& bytes, const QString& folder)
{
    switch (format) {
    case LoopListFormat::AudacityLabels: return parseLabels(bytes, folder);
    case LoopListFormat::Cue: return parseCue(bytes, folder);
    case LoopListFormat::M3u: return parseM3u(bytes, folder);
    case LoopListFormat::MpvEdl: return parseEdl(bytes, folder);
    case LoopListFormat::Srt:
    case LoopListFormat::WebVtt:
    case LoopListFormat::Lrc: return parseSubtitles(format, bytes, {});
    case LoopListFormat::Obs: break;
    }
    return {};
}

LoopList readLoopListFile(const QString& path, bool& ok, const SubtitleImport& subtitles)
{
    QFile file(path);
    ok = file.open(QIODevice::ReadOnly);
    if (!ok) {
        LoopList failed;
        failed.notes << QStringLiteral("The file could not be read: %1").arg(file.errorString());
        return failed;
    }
    QByteArray bytes = file.read(kMaxLoopListBytes + 1);
    const bool cut = bytes.size() > kMaxLoopListBytes;
    if (cut) bytes.truncate(std::max<qsizetype>(0, bytes.lastIndexOf('\n', kMaxLoopListBytes)));
    const LoopListFormat format = loopListFormatOf(path);
    LoopList list;
    if (isSubtitleFormat(format)) {
        SubtitleImport how = subtitles;
        if (how.media.isEmpty()) how.media = subtitleMediaBeside(path);
        list = parseSubtitles(format, bytes, how);
    } else {
        list = parseLoopList(format, bytes, QFileInfo(path).absolutePath());
    }
    // A label that names a file is no text of the entry's; any other is its text.
    if (format == LoopListFormat::AudacityLabels)
        for (EntryRecord& e : list.entries)
            if (QFileInfo(e.FileName).isFile()) e.Text.clear();
    if (cut) list.notes << QStringLiteral("The file is larger than %1 MiB; only its beginning was read.").arg(kMaxLoopListBytes >> 20);
    return list;
}

QString writeLoopListFile(const QString& path, const QByteArray& bytes)
{
    return writeFileBytes(path, bytes);
}

} // namespace storage
