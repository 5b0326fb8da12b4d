#include "storage/subtitles.h"

#include "storage/inifile.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QStringDecoder>

#include <algorithm>
#include <cmath>
#include <optional>

namespace storage {
namespace {

struct Cue {
    double start = 0, stop = 0;
    QString text;
    bool openEnd = false;  // an LRC line with no line after it
};

// Counts what was left out or changed, one sentence a kind.
struct Counts {
    qsizetype notUnderstood = 0, backwards = 0, textCut = 0, pastEnd = 0, openEnd = 0;
    bool cutAtCount = false;

    QStringList sentences() const
    {
        auto n = [](qsizetype count, const char* one, const char* many) {
            return count == 1 ? QString::fromLatin1(one) : QString::fromLatin1(many).arg(count);
        };
        QStringList out;
        if (notUnderstood)
            out << n(notUnderstood, "1 line was", "%1 lines were") + QStringLiteral(" not understood and left out.");
        if (backwards)
            out << n(backwards, "1 line ends at or before its start and was", "%1 lines end at or before their start and were") +
                       QStringLiteral(" left out.");
        if (pastEnd)
            out << n(pastEnd, "1 line starts after the media's end and was", "%1 lines start after the media's end and were") +
                       QStringLiteral(" left out.");
        if (textCut)
            out << n(textCut, "1 line's text was", "%1 lines' texts were") +
                       QStringLiteral(" longer than %1 characters and cut there.").arg(kMaxCueText);
        if (cutAtCount)
            out << QStringLiteral("The file holds more than %1 lines; the rest were left out.").arg(kMaxLoopListEntries);
        if (openEnd)
            out << QStringLiteral("The last line stops at the media's end, whose length is not known: its stop reads 0 "
                                  "until it is set in the entry editor.");
        return out;
    }
};

// The lines of a text one at a time, as views ("\r\n", "\r" or "\n" ends one).
class Lines {
public:
    explicit Lines(const QString& text) : m_text(text) {}
    bool next(QStringView& line)
    {
        if (m_at > m_text.size()) return false;
        const QChar* c = m_text.constData();
        qsizetype end = m_at;
        while (end < m_text.size() && c[end] != u'\n' && c[end] != u'\r') ++end;
        line = QStringView(m_text).mid(m_at, end - m_at);
        m_at = end + (end + 1 < m_text.size() && c[end] == u'\r' && c[end + 1] == u'\n' ? 2 : 1);
        return true;
    }

private:
    const QString& m_text;
    qsizetype m_at = 0;
};

// Digits only, at most `most` of them: no text stands for a number beyond the bound.
std::optional<qint64> digits(QStringView t, int most)
{
    if (t.isEmpty() || t.size() > most) return std::nullopt;
    qint64 v = 0;
    for (const QChar c : t) {
        if (c < u'0' || c > u'9') return std::nullopt;
        v = v * 10 + (c.unicode() - u'0');
    }
    return v;
}

// "ss", "ss.f" or "ss,fff" (the fraction one to three digits) as milliseconds.
std::optional<qint64> secondsMs(QStringView t, bool commaToo)
{
    qsizetype dot = t.indexOf(u'.');
    if (dot < 0 && commaToo) dot = t.indexOf(u',');
    const auto s = digits(dot < 0 ? t : t.left(dot), 2);
    if (!s || *s > 59) return std::nullopt;
    if (dot < 0) return *s * 1000;
    const QStringView f = t.mid(dot + 1);
    const auto ms = digits(f, 3);
    if (!ms) return std::nullopt;
    return *s * 1000 + *ms * (f.size() == 1 ? 100 : f.size() == 2 ? 10 : 1);
}

// A cue time: "h:mm:ss,fff" in SubRip, "[h:]mm:ss.fff" in WebVTT; hours past 24 are fine.
std::optional<double> cueClock(QStringView t)
{
    const QList<QStringView> p = t.split(u':');
    if (p.size() < 2 || p.size() > 3) return std::nullopt;
    const auto h = p.size() == 3 ? digits(p[0], 5) : std::optional<qint64>(0);
    const auto m = digits(p[p.size() - 2], 2);
    const auto ms = secondsMs(p.last(), true);
    if (!h || !m || *m > 59 || !ms) return std::nullopt;
    return double((*h * 60 + *m) * 60000 + *ms) / 1000.0;
}

// "start --> stop [settings]".
std::optional<std::pair<double, double>> timing(QStringView line)
{
    const qsizetype arrow = line.indexOf(QLatin1String("-->"));
    if (arrow < 0) return std::nullopt;
    QStringView rest = line.mid(arrow + 3).trimmed();
    qsizetype end = 0;
    while (end < rest.size() && !rest[end].isSpace()) ++end;
    const auto a = cueClock(line.left(arrow).trimmed()), b = cueClock(rest.left(end));
    if (!a || !b) return std::nullopt;
    return std::pair(*a, *b);
}

// A cue's text without its formatting: SubRip's few tags and the braces of styled ones,
// WebVTT's tags of any name and its character references.
QString plainLine(QStringView line, LoopListFormat format)
{
    QString out;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line[i];
        const qsizetype close = c == u'<' ? line.indexOf(u'>', i) : c == u'{' ? line.indexOf(u'}', i) : -1;
        if (close > i) {
            const QStringView inner = line.mid(i + 1, close - i - 1);
            bool tag = false;
            if (format == LoopListFormat::WebVtt) tag = c == u'<';
            else if (c == u'{') tag = inner.startsWith(u'\\');
            else {
                const QStringView name = inner.startsWith(u'/') ? inner.mid(1) : inner;
                tag = name.compare(u"i", Qt::CaseInsensitive) == 0 || name.compare(u"b", Qt::CaseInsensitive) == 0 ||
                      name.compare(u"u", Qt::CaseInsensitive) == 0 || name.compare(u"s", Qt::CaseInsensitive) == 0 ||
                      name.startsWith(QLatin1String("font"), Qt::CaseInsensitive);
            }
            if (tag) {
                i = close;
                continue;
            }
        }
        if (format == LoopListFormat::WebVtt && c == u'&') {
            static const std::pair<const char*, char16_t> refs[] = {
                {"&amp;", u'&'}, {"&lt;", u'<'}, {"&gt;", u'>'}, {"&nbsp;", u'\u00A0'}, {"&lrm;", u'\u200E'}, {"&rlm;", u'\u200F'}};
            const auto ref = std::find_if(std::begin(refs), std::end(refs), [&](const auto& r) {
                return line.mid(i).startsWith(QLatin1String(r.first));
            });
            if (ref != std::end(refs)) {
                out += QChar(ref->second);
                i += qsizetype(qstrlen(ref->first)) - 1;
                continue;
            }
        }
        out += c;
    }
    return out.trimmed();
}

bool allDigits(QStringView t) { return digits(t, 18).has_value(); }

// Collects cues and turns them into entries, margins applied.
class Builder {
public:
    explicit Builder(const SubtitleImport& how) : m_how(how) {}

    // False once the list is full.
    bool add(Cue cue)
    {
        if (m_cues.size() >= kMaxLoopListEntries) {
            counts.cutAtCount = true;
            return false;
        }
        if (cue.text.size() > kMaxCueText) {
            cue.text.truncate(kMaxCueText);
            ++counts.textCut;
        }
        m_cues.append(std::move(cue));
        return true;
    }

    LoopList take()
    {
        const double lead = std::clamp(m_how.leadIn, 0.0, kMaxSubtitleMargin);
        const double tail = std::clamp(m_how.tail, 0.0, kMaxSubtitleMargin);
        const double end = m_how.mediaLength > 0 && std::isfinite(m_how.mediaLength) ? m_how.mediaLength : 0;
        LoopList list;
        for (const Cue& c : std::as_const(m_cues)) {
            if (!c.openEnd && c.stop <= c.start) {
                ++counts.backwards;
                continue;
            }
            if (end > 0 && c.start >= end) {
                ++counts.pastEnd;
                continue;
            }
            double stop = c.openEnd ? end : c.stop + tail;
            if (end > 0) stop = std::min(stop, end);
            counts.openEnd += stop == 0;
            // A margin is added to times read to the millisecond; no ulps left over.
            const double start = std::round(std::max(0.0, c.start - lead) * 1e6) / 1e6;
            list.entries.append({0, m_how.media, start, std::round(stop * 1e6) / 1e6, 1.0, 1.0, {}, c.text});
        }
        list.notes = counts.sentences();
        list.needsMedia = m_how.media.isEmpty() && !list.entries.isEmpty();
        return list;
    }

    Counts counts;

private:
    SubtitleImport m_how;
    QList<Cue> m_cues;
};

// SubRip and WebVTT: blocks of a timing line and its text, blank lines between them.
LoopList parseCues(LoopListFormat format, const QString& text, const SubtitleImport& how)
{
    Builder b(how);
    Lines lines(text);
    QStringView line;
    if (format == LoopListFormat::WebVtt) {
        if (!lines.next(line) || !line.startsWith(QLatin1String("WEBVTT"))) {
            LoopList none;
            none.notes << QStringLiteral("The file is no WebVTT file: it does not begin with \"WEBVTT\".");
            return none;
        }
    }
    std::optional<Cue> cue;
    qsizetype lastLineStart = -1;  // where the cue's last text line begins, for a stray number
    bool full = false;
    while (!full && lines.next(line)) {
        if (line.contains(QLatin1String("-->"))) {
            const auto t = timing(line);
            if (t) {
                // A SubRip file without blank lines: the number above the timing is the
                // next cue's, not the text of this one.
                if (cue && lastLineStart >= 0 && allDigits(QStringView(cue->text).mid(lastLineStart))) {
                    cue->text.truncate(std::max<qsizetype>(0, lastLineStart - 1));
                }
                if (cue) full = !b.add(std::move(*cue));
                cue = Cue{t->first, t->second, {}, false};
                lastLineStart = -1;
                continue;
            }
            if (!cue) ++b.counts.notUnderstood;
        }
        if (line.trimmed().isEmpty()) {
            if (cue) full = !b.add(std::move(*cue));
            cue.reset();
            continue;
        }
        if (!cue || cue->text.size() > kMaxCueText) continue;  // ids, notes, styles; or enough read
        const QString plain = plainLine(line.left(kMaxCueText + 1), format);
        if (plain.isEmpty()) continue;
        if (!cue->text.isEmpty()) cue->text += u'\n';
        lastLineStart = cue->text.size();
        cue->text += plain;
    }
    if (cue && !full) b.add(std::move(*cue));
    return b.take();
}

// An LRC time tag's inside: "mm:ss", "mm:ss.xx" or "mm:ss:xx"; minutes past 59 are fine.
std::optional<double> lrcClock(QStringView t)
{
    const QList<QStringView> p = t.split(u':');
    if (p.size() < 2 || p.size() > 3) return std::nullopt;
    const auto m = digits(p[0].trimmed(), 7);
    const auto ms = p.size() == 3 ? secondsMs(p[1].toString() + u'.' + p[2].toString(), false) : secondsMs(p[1].trimmed(), false);
    if (!m || !ms) return std::nullopt;
    return double(*m * 60000 + *ms) / 1000.0;
}

LoopList parseLrc(const QString& text, const SubtitleImport& how)
{
    struct Tagged {
        double at;
        QString text;
    };
    QList<Tagged> tags;
    qsizetype notUnderstood = 0;
    bool full = false;
    double offset = 0;  // "[offset:+500]": the lyrics come 0.5 s earlier
    Lines lines(text);
    for (QStringView line; !full && lines.next(line);) {
        line = line.trimmed();
        QList<double> times;
        while (line.startsWith(u'[')) {
            const qsizetype close = line.indexOf(u']');
            if (close < 0) break;
            const QStringView inner = line.mid(1, close - 1);
            const auto at = lrcClock(inner);
            if (!at) {
                if (times.isEmpty() && inner.startsWith(QLatin1String("offset:"), Qt::CaseInsensitive)) {
                    QStringView v = inner.mid(7).trimmed();
                    const bool minus = v.startsWith(u'-');
                    if (minus || v.startsWith(u'+')) v = v.mid(1);
                    if (const auto ms = digits(v, 7)) offset = (minus ? -1 : 1) * double(*ms) / 1000.0;
                }
                break;
            }
            // Tags beyond the bound are passed over, not kept, so the words are still found.
            if (tags.size() + times.size() < kMaxLoopListEntries) times.append(*at);
            else full = true;
            line = line.mid(close + 1);
        }
        if (times.isEmpty()) {
            // Id tags ("[ar:...]") and blank lines hold no time; anything else is no lyric.
            if (!line.isEmpty() && !line.startsWith(u'[')) ++notUnderstood;
            continue;
        }
        QString words = line.left(kMaxCueText + 1).toString();
        // The enhanced form's word times: "<mm:ss.xx>" before each word.
        for (qsizetype i = words.indexOf(u'<'); i >= 0; i = words.indexOf(u'<', i)) {
            const qsizetype close = words.indexOf(u'>', i);
            if (close > i && lrcClock(QStringView(words).mid(i + 1, close - i - 1))) words.remove(i, close - i + 1);
            else ++i;
        }
        words = words.simplified();
        for (const double at : std::as_const(times)) tags.append({at, words});
    }
    for (Tagged& t : tags) t.at = std::max(0.0, t.at - offset);
    std::stable_sort(tags.begin(), tags.end(), [](const Tagged& a, const Tagged& b) { return a.at < b.at; });
    Builder b(how);
    b.counts.notUnderstood = notUnderstood;
    b.counts.cutAtCount = full;
    // A line lasts until the next later time, so lines sharing a time (a translation under
    // its line) share the stretch too; a tag without words only ends the line before it.
    qsizetype later = 0;
    for (qsizetype i = 0; i < tags.size(); ++i) {
        if (tags[i].text.isEmpty()) continue;
        later = std::max(later, i + 1);
        while (later < tags.size() && tags[later].at <= tags[i].at) ++later;
        const bool last = later >= tags.size();
        if (!b.add({tags[i].at, last ? 0 : tags[later].at, tags[i].text, last})) break;
    }
    return b.take();
}

// ---- Writing ----------------------------------------------------------------------------

QString clock(double seconds, QChar fraction)
{
    const qint64 ms = std::llround(std::max(0.0, seconds) * 1000);
    return QStringLiteral("%1:%2:%3%4%5")
        .arg(ms / 3600000, 2, 10, QLatin1Char('0'))
        .arg(ms / 60000 % 60, 2, 10, QLatin1Char('0'))
        .arg(ms / 1000 % 60, 2, 10, QLatin1Char('0'))
        .arg(fraction)
        .arg(ms % 1000, 3, 10, QLatin1Char('0'));
}

QString lrcClockText(qint64 cs)
{
    return QStringLiteral("[%1:%2.%3]")
        .arg(cs / 6000, 2, 10, QLatin1Char('0'))
        .arg(cs / 100 % 60, 2, 10, QLatin1Char('0'))
        .arg(cs % 100, 2, 10, QLatin1Char('0'));
}

// A cue's lines as the block holds them: no blank line, which would end it.
QStringList cueLines(const QString& text)
{
    QStringList out;
    for (const QString& l : text.split(QRegularExpression(QStringLiteral("\r\n|\r|\n"))))
        if (!l.trimmed().isEmpty()) out << l.trimmed();
    return out;
}

QString vttEscaped(QString t)
{
    return t.replace(u'&', QLatin1String("&amp;")).replace(u'<', QLatin1String("&lt;")).replace(u'>', QLatin1String("&gt;"));
}

const char* subtitleName(LoopListFormat format)
{
    return format == LoopListFormat::Srt ? "A SubRip file" : format == LoopListFormat::WebVtt ? "A WebVTT file" : "An LRC file";
}

QString countText(qsizetype n, const char* one, const char* many)
{
    return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? one : many));
}

std::optional<QStringDecoder::Encoding> utf16WithoutMark(const QByteArray& bytes)
{
    // UTF-8 and the 8-bit encodings never hold a zero byte in text; UTF-16 holds one in
    // every character below U+0100 (digits, colons, line ends: much of any timed list), on
    // the high byte's side. A look at the start is enough, and bounds the work.
    const qsizetype n = std::min<qsizetype>(bytes.size(), kUtf16Sniff) & ~qsizetype(1);
    qsizetype zeros[2] = {0, 0};
    for (qsizetype i = 0; i < n; ++i) zeros[i % 2] += bytes[i] == '\0';
    const qsizetype pairs = n / 2, most = std::max(zeros[0], zeros[1]), least = std::min(zeros[0], zeros[1]);
    // Characters with a zero low byte (U+3000, the ideographic space) put some on the other side.
    if (pairs < 2 || most * 8 < pairs || least * 4 > most) return std::nullopt;
    return zeros[1] > zeros[0] ? QStringDecoder::Utf16LE : QStringDecoder::Utf16BE;
}

} // namespace

bool isSubtitleFormat(LoopListFormat format)
{
    return format == LoopListFormat::Srt || format == LoopListFormat::WebVtt || format == LoopListFormat::Lrc;
}

QString legacyEncodingOf(const QLocale& locale)
{
    using L = QLocale::Language;
    switch (locale.language()) {
    case L::Russian: case L::Ukrainian: case L::Belarusian: case L::Bulgarian: case L::Serbian: case L::Macedonian:
        return QStringLiteral("windows-1251");
    case L::Polish: case L::Czech: case L::Slovak: case L::Hungarian: case L::Slovenian: case L::Croatian:
    case L::Romanian: case L::Bosnian: case L::Albanian:
        return QStringLiteral("windows-1250");
    case L::Greek: return QStringLiteral("windows-1253");
    case L::Turkish: case L::Azerbaijani: return QStringLiteral("windows-1254");
    case L::Hebrew: return QStringLiteral("windows-1255");
    case L::Arabic: case L::Persian: case L::Urdu: return QStringLiteral("windows-1256");
    case L::Estonian: case L::Latvian: case L::Lithuanian: return QStringLiteral("windows-1257");
    case L::Vietnamese: return QStringLiteral("windows-1258");
    case L::Thai: return QStringLiteral("windows-874");
    case L::Japanese: return QStringLiteral("Shift_JIS");
    case L::Korean: return QStringLiteral("EUC-KR");
    case L::Chinese:
        return locale.territory() == QLocale::Taiwan || locale.territory() == QLocale::HongKong ? QStringLiteral("Big5")
                                                                                               : QStringLiteral("GB18030");
    default: return QStringLiteral("windows-1252");
    }
}

DecodedText decodeSubtitleText(const QByteArray& bytes, const QString& legacy)
{
    auto utf16 = [&](QStringDecoder::Encoding e, qsizetype mark) {
        QByteArray body = bytes.mid(mark);
        if (body.size() % 2) body.chop(1);  // a file cut inside its last character
        const QString text = QStringDecoder(e, QStringDecoder::Flag::Stateless).decode(body);
        const QString name = QString::fromLatin1(e == QStringDecoder::Utf16LE ? "UTF-16LE" : "UTF-16BE");
        return std::pair{DecodedText{text, false, name}, text.isValidUtf16() && !text.contains(QChar(u'\0'))};
    };
    if (bytes.startsWith("\xFF\xFE")) return utf16(QStringDecoder::Utf16LE, 2).first;
    if (bytes.startsWith("\xFE\xFF")) return utf16(QStringDecoder::Utf16BE, 2).first;
    // Without a mark it must decode cleanly to be taken for UTF-16.
    if (const auto e = utf16WithoutMark(bytes))
        if (auto [decoded, clean] = utf16(*e, 0); clean) return decoded;
    const QByteArray body = bytes.startsWith("\xEF\xBB\xBF") ? bytes.mid(3) : bytes;
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(body);
    if (!utf8.hasError()) return {text, false, QStringLiteral("UTF-8")};
    QStringDecoder old(legacy.toLatin1().constData());
    if (old.isValid()) return {old.decode(body), true, legacy};
    return {IniFile::decodeWindows1252(body), true, QStringLiteral("windows-1252")};
}

LoopList parseSubtitles(LoopListFormat format, const QByteArray& bytes, const SubtitleImport& how)
{
    const DecodedText decoded =
        decodeSubtitleText(bytes, how.legacyEncoding.isEmpty() ? legacyEncodingOf(QLocale::system()) : how.legacyEncoding);
    LoopList list = format == LoopListFormat::Lrc ? parseLrc(decoded.text, how) : parseCues(format, decoded.text, how);
    list.encodingGuessed = decoded.guessed;
    list.encoding = decoded.encoding;
    if (decoded.guessed)
        list.notes << QStringLiteral("The file is not in Unicode; it was read as %1, which may be wrong.").arg(decoded.encoding);
    return list;
}

LoopListText writeSubtitles(LoopListFormat format, const QList<EntryRecord>& all)
{
    LoopListText out;
    QList<EntryRecord> entries;
    qsizetype untexted = 0, open = 0, joined = 0, changedStops = 0, rounded = 0, rateOrLoops = 0;
    for (qsizetype i = 0; i < all.size(); ++i) {
        const EntryRecord& e = all[i];
        if (e.Text.trimmed().isEmpty()) ++untexted;
        else if (e.Stop <= e.Start && format != LoopListFormat::Lrc) ++open;
        else entries.append(e);
    }
    QSet<QString> files;
    for (const EntryRecord& e : entries) {
        files.insert(e.FileName);
        rateOrLoops += e.Rate != 1 || e.Loops != 1 || e.Practice.any();
    }
    QString t;
    if (format == LoopListFormat::Lrc) {
        std::stable_sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return a.Start < b.Start; });
        auto cs = [&](double v) {
            const qint64 c = std::llround(std::max(0.0, v) * 100);
            rounded += std::abs(double(c) / 100 - v) > 1e-9;
            return c;
        };
        for (qsizetype i = 0; i < entries.size(); ++i) {
            const EntryRecord& e = entries[i];
            const QStringList lines = cueLines(e.Text);
            joined += lines.size() > 1;
            const qint64 start = cs(e.Start);
            t += lrcClockText(start) + lines.join(QLatin1String(" / ")) + u'\n';
            // A line ends where the next begins; an earlier stop takes a tag of its own.
            const bool last = i + 1 == entries.size();
            const qint64 next = last ? 0 : std::llround(entries[i + 1].Start * 100);
            const qint64 stop = e.Stop > e.Start ? cs(e.Stop) : 0;
            if (stop > start && (last || stop < next)) t += lrcClockText(stop) + u'\n';
            else if (!last && stop != next) ++changedStops;
        }
    } else {
        if (format == LoopListFormat::WebVtt) t = QStringLiteral("WEBVTT\n\n");
        const QChar fraction = format == LoopListFormat::Srt ? u',' : u'.';
        for (qsizetype i = 0; i < entries.size(); ++i) {
            const EntryRecord& e = entries[i];
            QStringList lines = cueLines(e.Text);
            if (format == LoopListFormat::WebVtt) for (QString& l : lines) l = vttEscaped(l);
            if (format == LoopListFormat::Srt) t += QString::number(i + 1) + u'\n';
            t += clock(e.Start, fraction) + QLatin1String(" --> ") + clock(e.Stop, fraction) + u'\n' +
                 lines.join(u'\n') + QLatin1String("\n\n");
        }
    }
    const QString name = QString::fromLatin1(subtitleName(format));
    if (untexted) out.notes << QStringLiteral("%1 without text left out.").arg(countText(untexted, "entry", "entries"));
    if (open)
        out.notes << QStringLiteral("%1 has no open end: %2 without a stop after the start left out.")
                         .arg(name, countText(open, "entry", "entries"));
    if (files.size() > 1)
        out.notes << QStringLiteral("%1 names no media file: the lines of %2 files are written as one.").arg(name).arg(files.size());
    if (rateOrLoops)
        out.notes << QStringLiteral("%1 keeps no rate, loop count or practice settings: %2 written without them.")
                         .arg(name, countText(rateOrLoops, "entry", "entries"));
    if (joined) out.notes << QStringLiteral("An LRC line is one line: %1 joined with \" / \".").arg(countText(joined, "text", "texts"));
    if (changedStops)
        out.notes << QStringLiteral("An LRC line ends where the next begins: %1 changed.").arg(countText(changedStops, "stop", "stops"));
    if (rounded) out.notes << QStringLiteral("An LRC file counts time in 1/100 s: %1 rounded.").arg(countText(rounded, "position", "positions"));
    out.bytes = t.toUtf8();
    return out;
}

QString subtitleMediaBeside(const QString& subtitlePath)
{
    static const char* const video[] = {"mp4", "mkv", "webm", "avi", "mov", "m4v", "mpg", "mpeg", "wmv", "flv", "ogv", "ts",
                                        "m2ts", "3gp", "asf"};
    static const char* const sound[] = {"mp3", "flac", "wav", "ogg", "opus", "m4a", "aac", "wma", "aif", "aiff", "mka",
                                        "wv", "ape", "mid", "midi"};
    const QFileInfo list(subtitlePath);
    const bool lyrics = list.suffix().compare(QLatin1String("lrc"), Qt::CaseInsensitive) == 0;
    QStringList extensions;
    for (const char* e : lyrics ? sound : video) extensions << QString::fromLatin1(e);
    for (const char* e : lyrics ? video : sound) extensions << QString::fromLatin1(e);
    const QDir folder = list.absoluteDir();
    // "film.en.forced.srt" tries "film.en.forced", then "film.en", then "film".
    QString base = list.completeBaseName();
    for (int round = 0; round < 4 && !base.isEmpty(); ++round) {
        for (const QString& ext : std::as_const(extensions)) {
            for (const QString& name : {base + u'.' + ext, base + u'.' + ext.toUpper()}) {
                const QFileInfo media(folder.filePath(name));
                if (media.isFile()) return media.absoluteFilePath();
            }
        }
        const qsizetype dot = base.lastIndexOf(u'.');
        if (dot <= 0) break;
        base.truncate(dot);
    }
    return {};
}

} // namespace storage
