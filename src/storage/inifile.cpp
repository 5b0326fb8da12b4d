#include "storage/inifile.h"

#include "storage/filebytes.h"

#include <QStringDecoder>

#include <algorithm>
#include <iterator>
#include <utility>

namespace storage {
namespace {

// Windows-1252 bytes 0x80..0x9F; the five bytes the code page leaves undefined map to
// the C1 controls of the same number, as Windows itself does, so they round-trip.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

bool isQuote(QChar c) { return c == u'"' || c == u'\''; }

// A key's name without its trailing digits, as a view of the key's text.
detail::CaselessName stemOf(QStringView key)
{
    qsizetype n = key.size();
    while (n > 0 && key[n - 1] >= u'0' && key[n - 1] <= u'9') --n;
    return {QString::fromRawData(key.data(), n)};
}

bool hasLineBreak(const QString& s)
{
    return s.contains(u'\n') || s.contains(u'\r');
}

// Windows-1252 bytes the reader would take for other text: a byte-order mark first, or valid
// UTF-8 with a byte over 0x7F (an edit took away the one byte that was not UTF-8). Such text
// is written as UTF-8, which reads back the same.
bool readBackAsOther(const QByteArray& windows1252)
{
    if (windows1252.startsWith("\xEF\xBB\xBF")) return true;
    if (std::all_of(windows1252.begin(), windows1252.end(), [](char c) { return static_cast<uchar>(c) < 0x80; }))
        return false;
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    const QString decoded = utf8.decode(windows1252);
    return !utf8.hasError();
}

// A byte that is not UTF-8 is held as a lone low surrogate, U+DC80..U+DCFF, which no
// valid text decodes to, and written back as that byte.
QString decodeUtf8Escaped(QByteArrayView bytes, bool& escaped)
{
    QString out;
    out.reserve(bytes.size());
    // Every run is decoded as it stands: a byte-order mark in it is text to keep.
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
    const qsizetype n = bytes.size();
    qsizetype runStart = 0;
    auto sequenceLength = [&](qsizetype i) -> int {
        const unsigned char c = b[i];
        int len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (len == 0 || i + len > n) return 0;
        for (int k = 1; k < len; ++k)
            if ((b[i + k] & 0xC0) != 0x80) return 0;
        // Overlong forms, surrogates and code points past U+10FFFF are not UTF-8.
        if (len == 2 && c < 0xC2) return 0;
        if (len == 3 && ((c == 0xE0 && b[i + 1] < 0xA0) || (c == 0xED && b[i + 1] >= 0xA0))) return 0;
        if (len == 4 && ((c == 0xF0 && b[i + 1] < 0x90) || c > 0xF4 || (c == 0xF4 && b[i + 1] >= 0x90))) return 0;
        return len;
    };
    for (qsizetype i = 0; i < n;) {
        const int len = sequenceLength(i);
        if (len > 0) {
            i += len;
            continue;
        }
        out += utf8(bytes.sliced(runStart, i - runStart));
        out += QChar(char16_t(0xDC00 + b[i]));
        escaped = true;
        runStart = ++i;
    }
    out += utf8(bytes.sliced(runStart));
    return out;
}

QByteArray encodeUtf8Escaped(const QString& text)
{
    QByteArray out;
    out.reserve(text.size());
    const QChar* c = text.constData();
    const qsizetype n = text.size();
    qsizetype runStart = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t u = c[i].unicode();
        if (u < 0xDC80 || u > 0xDCFF) continue;
        if (i > 0 && c[i - 1].isHighSurrogate()) continue;  // half of a real pair
        out += QStringView(c + runStart, i - runStart).toUtf8();
        out += char(u - 0xDC00);
        runStart = i + 1;
    }
    out += QStringView(c + runStart, n - runStart).toUtf8();
    return out;
}

} // namespace

namespace detail {

// Folds code point by code point as QString::compare(..., Qt::CaseInsensitive) does,
// so that names equal under that comparison hash alike.
static quint32 caselessHash(QStringView s)
{
    quint32 h = 2166136261u ^ quint32(QHashSeed::globalSeed());
    const qsizetype n = s.size();
    for (qsizetype i = 0; i < n; ++i) {
        char32_t c = s[i].unicode();
        if (c < 0x80) {
            if (c >= 'A' && c <= 'Z') c += 'a' - 'A';
        } else {
            if (QChar::isHighSurrogate(c) && i + 1 < n && s[i + 1].isLowSurrogate())
                c = QChar::surrogateToUcs4(char16_t(c), s[++i].unicode());
            c = QChar::toCaseFolded(c);
        }
        h = (h ^ quint32(c)) * 16777619u;
    }
    // The table takes the low bits; spread the high ones into them.
    h ^= h >> 16;
    h *= 0x85ebca6bu;
    h ^= h >> 13;
    h *= 0xc2b2ae35u;
    return h ^ (h >> 16);
}

size_t qHash(const CaselessName& key, size_t seed) noexcept
{
    return ::qHash(caselessHash(key.name), seed);
}

static bool sameName(QStringView a, QStringView b)
{
    // Qt folds letter by letter: names of different lengths never compare equal.
    return a.size() == b.size() && (a == b || a.compare(b, Qt::CaseInsensitive) == 0);
}

void KeyIndex::reserve(qsizetype keys)
{
    qsizetype capacity = 16;
    while (capacity < 2 * keys) capacity *= 2;
    if (capacity > m_slots.size()) rehash(capacity);
}

// The slot holding `key`, or the free slot where it would go.
qsizetype KeyIndex::slotOf(QStringView key, quint32 hash, const QList<IniLine>& lines) const
{
    const qsizetype mask = m_slots.size() - 1;
    const Slot* table = m_slots.constData();
    for (qsizetype i = hash & mask;; i = (i + 1) & mask) {
        const Slot& s = table[i];
        if (s.line < 0 || (s.hash == hash && sameName(lines.at(s.line).key(), key))) return i;
    }
}

int KeyIndex::find(QStringView key, const QList<IniLine>& lines) const
{
    if (m_size == 0) return -1;
    return m_slots.at(slotOf(key, caselessHash(key), lines)).line;
}

quint32 KeyIndex::hashOf(QStringView key) { return caselessHash(key); }

bool KeyIndex::insert(QStringView key, quint32 hash, int line, const QList<IniLine>& lines)
{
    if (2 * (m_size + 1) > m_slots.size()) reserve(m_size + 1);
    const qsizetype at = slotOf(key, hash, lines);
    if (m_slots.at(at).line >= 0) return false;
    m_slots[at] = {hash, line};
    ++m_size;
    return true;
}

void KeyIndex::rehash(qsizetype capacity)
{
    QList<Slot> old = std::exchange(m_slots, QList<Slot>(capacity, Slot{0, -1}));
    const qsizetype mask = capacity - 1;
    for (const Slot& s : std::as_const(old)) {
        if (s.line < 0) continue;
        qsizetype i = s.hash & mask;
        while (m_slots.at(i).line >= 0) i = (i + 1) & mask;
        m_slots[i] = s;
    }
}

} // namespace detail

QString IniFile::decodeWindows1252(const QByteArray& bytes)
{
    QString out(bytes.size(), Qt::Uninitialized);
    QChar* d = out.data();
    for (const char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        *d++ = (b >= 0x80 && b < 0xA0) ? QChar(kCp1252High[b - 0x80]) : QChar(char16_t(b));
    }
    return out;
}

std::optional<QByteArray> IniFile::encodeWindows1252(const QString& text)
{
    QByteArray out(text.size(), Qt::Uninitialized);
    char* d = out.data();
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) {
            *d++ = static_cast<char>(u);
            continue;
        }
        int found = -1;
        for (int i = 0; i < 32; ++i)
            if (kCp1252High[i] == u) { found = i; break; }
        if (found < 0) return std::nullopt;
        *d++ = static_cast<char>(0x80 + found);
    }
    return out;
}

IniFile::IniFile()
{
    m_sections.append(Section{QString(), false, QString(), detail::Eol::Default, {}, {}, {}});
    m_sectionIndex.insert(fold(QString()), 0);
}


IniFile::Line IniFile::parseLine(const QString& text, bool& isHeader, QString& headerName)
{
    isHeader = false;
    Line line{text};
    const QChar* c = text.constData();
    qsizetype b = 0, e = text.size();
    // Extra byte-order marks (files concatenated, or saved twice with one) count as blanks.
    while (b < e && (c[b].isSpace() || c[b] == QChar(0xFEFF))) ++b;
    while (e > b && c[e - 1].isSpace()) --e;
    if (b == e || c[b] == u';' || c[b] == u'#') return line;
    if (c[b] == u'[') {
        const qsizetype close = QStringView(text).left(e).lastIndexOf(u']');
        if (close > b) {
            isHeader = true;
            headerName = QStringView(text).mid(b + 1, close - b - 1).trimmed().toString();
        }
        return line;
    }
    const qsizetype eq = QStringView(text).left(e).indexOf(u'=', b);
    if (eq < 0) return line;
    qsizetype keyEnd = eq;
    while (keyEnd > b && c[keyEnd - 1].isSpace()) --keyEnd;
    if (keyEnd == b) return line;
    qsizetype vb = eq + 1, ve = e;
    while (vb < ve && c[vb].isSpace()) ++vb;
    if (ve - vb >= 2 && isQuote(c[vb]) && c[ve - 1] == c[vb]) {
        ++vb;
        --ve;
    }
    line.keyStart = qint32(b);
    line.keyLength = qint32(keyEnd - b);
    line.valueStart = qint32(vb);
    line.valueLength = qint32(ve - vb);
    return line;
}

IniFile IniFile::fromBytes(const QByteArray& bytes)
{
    IniFile doc;
    QByteArray body = bytes;
    if (body.startsWith("\xEF\xBB\xBF")) {
        doc.m_bom = true;
        body.remove(0, 3);
        doc.m_text = decodeUtf8Escaped(body, doc.m_escaped);
    } else {
        QStringDecoder utf8(QStringConverter::Utf8,
                            QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
        doc.m_text = utf8(body);
        if (utf8.hasError()) {
            doc.m_text = decodeWindows1252(body);
            doc.m_encoding = Encoding::Windows1252;
        }
    }
    const QString& text = doc.m_text;
    const QChar* base = text.constData();
    const qsizetype size = text.size();

    const qsizetype firstLf = text.indexOf(u'\n');
    if (firstLf >= 0) doc.m_eol = (firstLf > 0 && base[firstLf - 1] == u'\r') ? QStringLiteral("\r\n")
                                                                                 : QStringLiteral("\n");
    doc.m_finalEol = size == 0 || base[size - 1] == u'\n';

    Section* current = &doc.m_sections.front();
    bool isHeader = false;
    QString headerName;
    for (qsizetype pos = 0; pos < size;) {
        const qsizetype lf = text.indexOf(u'\n', pos);
        const qsizetype end = lf < 0 ? size : lf;
        qsizetype length = end - pos;
        const bool cr = length > 0 && base[pos + length - 1] == u'\r';
        if (cr) --length;
        const detail::Eol eol = lf >= 0 ? (cr ? detail::Eol::CrLf : detail::Eol::Lf) : cr ? detail::Eol::Cr : detail::Eol::None;
        const QString raw = QString::fromRawData(base + pos, length);
        pos = end + 1;

        Line line = parseLine(raw, isHeader, headerName);
        if (isHeader) {
            doc.m_sections.append(Section{headerName, true, raw, eol, {}, {}, {}});
            current = &doc.m_sections.back();
            continue;
        }
        line.eol = eol;
        current->lines.append(std::move(line));
    }
    for (Section& s : doc.m_sections) {
        s.lines.squeeze();  // grown by doubling; a large file would keep a third of it unused
        indexKeys(s);
    }
    // Backwards, so that the first section of a name wins.
    doc.m_sectionIndex.clear();
    for (int i = int(doc.m_sections.size()) - 1; i >= 0; --i)
        doc.m_sectionIndex.insert(fold(doc.m_sections[i].name), i);
    return doc;
}

void IniFile::indexKeys(Section& s)
{
    s.keyIndex.reserve(std::count_if(s.lines.cbegin(), s.lines.cend(), [](const Line& l) { return l.keyLength > 0; }));
    // A file repeats a few stems over and over: the last ones seen need no hashing.
    constexpr int kRecent = 8;
    QStringView recent[kRecent];
    int nextRecent = 0, filled = 0;
    Line* const lines = s.lines.data();
    auto add = [&](int i, quint32 hash) {
        Line& l = lines[i];
        // The first line of a key wins.
        l.shadowed = !s.keyIndex.insert(l.key(), hash, i, s.lines);
        if (l.shadowed) return;
        const detail::CaselessName stem = stemOf(l.key());
        QStringView* const seen = std::begin(recent) + filled;
        if (std::find(std::begin(recent), seen, QStringView(stem.name)) != seen) return;
        recent[nextRecent] = stem.name;
        nextRecent = (nextRecent + 1) % kRecent;
        filled = std::min(filled + 1, kRecent);
        s.stems.insert(stem);
    };
    // Hashed a batch ahead, their slots fetched meanwhile: a large section's index outgrows
    // the processor's caches, and waiting on one slot after another was most of the parse.
    constexpr int kBatch = 16;
    std::pair<int, quint32> batch[kBatch];
    int queued = 0;
    for (int i = 0; i < s.lines.size(); ++i) {
        if (lines[i].keyLength == 0) continue;
        const quint32 hash = detail::KeyIndex::hashOf(lines[i].key());
        s.keyIndex.prefetch(hash);
        batch[queued++] = {i, hash};
        if (queued < kBatch) continue;
        for (const auto& [line, h] : batch) add(line, h);
        queued = 0;
    }
    for (int b = 0; b < queued; ++b) add(batch[b].first, batch[b].second);
}

QString IniFile::joinedText() const
{
    qsizetype size = 0;
    for (const Section& s : m_sections) {
        if (s.hasHeader) size += s.headerRaw.size() + 2;
        for (const Line& l : s.lines) size += l.text.size() + 2;
    }
    QString out;
    out.reserve(size);
    // A line's ending is written when the next line is: only the last line may end in
    // nothing or a lone CR, which would join it to a line after it.
    detail::Eol pending = detail::Eol::None;
    bool first = true;
    auto ending = [&](detail::Eol eol, bool last) -> QStringView {
        switch (eol) {
        case detail::Eol::Lf: return u"\n";
        case detail::Eol::CrLf: return u"\r\n";
        case detail::Eol::Cr: return last ? QStringView(u"\r") : QStringView(m_eol);
        case detail::Eol::None: return last ? QStringView() : QStringView(m_eol);
        case detail::Eol::Default: break;
        }
        return last && !m_finalEol ? QStringView() : QStringView(m_eol);
    };
    auto put = [&](const QString& raw, detail::Eol eol) {
        if (!first) out += ending(pending, false);
        out += raw;
        pending = eol;
        first = false;
    };
    for (const Section& s : m_sections) {
        if (s.hasHeader) put(s.headerRaw, s.headerEol);
        for (const Line& l : s.lines) put(l.text, l.eol);
    }
    if (!first) out += ending(pending, true);
    return out;
}

IniFile::Encoding IniFile::outputEncoding() const
{
    if (m_encoding == Encoding::Utf8) return Encoding::Utf8;
    const auto bytes = encodeWindows1252(joinedText());
    return bytes && !readBackAsOther(*bytes) ? Encoding::Windows1252 : Encoding::Utf8;
}

QByteArray IniFile::toBytes() const
{
    const QString text = joinedText();
    if (m_encoding == Encoding::Windows1252) {
        if (auto bytes = encodeWindows1252(text); bytes && !readBackAsOther(*bytes)) return *bytes;
    }
    QByteArray out = encodeUtf8Escaped(text);
    if (m_bom) out.prepend("\xEF\xBB\xBF");
    return out;
}

bool IniFile::save(const QString& path, QString* error) const
{
    auto fail = [error](const QString& why) {
        if (error) *error = why;
        return false;
    };
    const QString why = writeFileBytes(path, toBytes());
    return why.isEmpty() || fail(why);
}

int IniFile::findSectionIndex(const QString& name) const
{
    if (m_lastSectionIndex >= 0 && name == m_lastSectionName) return m_lastSectionIndex;
    const QString trimmed = name.trimmed();
    const int index = m_sectionIndex.value(fold(trimmed), -1);
    if (index >= 0) {
        m_lastSectionName = name;
        m_lastSectionIndex = index;
    }
    return index;
}

const IniFile::Section* IniFile::findSection(const QString& name) const
{
    const int index = findSectionIndex(name);
    return index < 0 ? nullptr : &m_sections[index];
}

int IniFile::keyLine(int section, const QString& key) const
{
    const Section& s = m_sections[section];
    if (!s.stems.contains(stemOf(key))) return -1;
    if (m_lastKeySection == section) {
        const int next = m_lastKeyLine + 1;
        if (next < s.lines.size()) {
            const Line& l = s.lines[next];
            if (l.keyLength > 0 && !l.shadowed && detail::sameName(l.key(), key)) {
                m_lastKeyLine = next;
                return next;
            }
        }
    }
    const int at = s.keyIndex.find(key, s.lines);
    if (at >= 0) {
        m_lastKeySection = section;
        m_lastKeyLine = at;
    }
    return at;
}

std::optional<QString> IniFile::value(const QString& section, const QString& key) const
{
    const int index = findSectionIndex(section);
    if (index < 0) return std::nullopt;
    const int at = keyLine(index, key.trimmed());
    if (at < 0) return std::nullopt;
    return m_sections[index].lines[at].value().toString();
}

QString IniFile::value(const QString& section, const QString& key, const QString& defaultValue) const
{
    return value(section, key).value_or(defaultValue);
}

IniFile::Line IniFile::newKeyLine(QStringView key, const QString& value)
{
    Line line;
    line.text.reserve(key.size() + value.size() + 3);
    line.text += key;
    line.keyLength = qint32(key.size());
    rewrite(line, value);
    return line;
}

// Keeps the key as it is written and replaces the rest of the line; a line that owns
// its text is rewritten in place, sparing an allocation per value on repeated saves.
void IniFile::rewrite(Line& line, const QString& value)
{
    // Quoted when the reader would otherwise trim or unquote the value.
    const bool padded = !value.isEmpty() && (value.front().isSpace() || value.back().isSpace());
    const bool quoted = value.size() >= 2 && isQuote(value.front()) && value.back() == value.front();
    const bool quote = padded || quoted;
    if (line.keyStart == 0 && line.text.isDetached()) {
        line.text.truncate(line.keyLength);
    } else {
        QString text;
        text.reserve(line.keyLength + value.size() + 3);
        text += line.key();
        line.text = std::move(text);
        line.keyStart = 0;
    }
    line.text += u'=';
    if (quote) line.text += u'"';
    line.text += value;
    if (quote) line.text += u'"';
    line.valueStart = line.keyLength + 1 + (quote ? 1 : 0);
    line.valueLength = qint32(value.size());
    line.changed = true;
}

void IniFile::markSaved()
{
    if (!m_modified) return;
    for (Section& s : m_sections)
        for (Line& l : s.lines) l.changed = false;
    m_modified = false;
}

IniFile::Section& IniFile::addSection(const QString& name)
{
    // Keep sections apart by one blank line, as hand-written files usually are.
    Section& last = m_sections.back();
    const bool empty = m_sections.size() == 1 && last.lines.isEmpty();
    const bool endsBlank = !last.lines.isEmpty() && last.lines.back().isBlank();
    if (!empty && !endsBlank) last.lines.append(Line{});
    m_sections.append(Section{name, true, u'[' + name + u']', detail::Eol::Default, {}, {}, {}});
    m_sectionIndex.insert(fold(name), int(m_sections.size() - 1));
    return m_sections.back();
}

bool IniFile::setValue(const QString& section, const QString& key, const QString& value)
{
    const QString name = section.trimmed();
    const QString k = key.trimmed();
    if (k.isEmpty() || k.contains(u'=') || k.front() == u'[' || k.front() == u';' || k.front() == u'#')
        return false;
    if (hasLineBreak(name) || hasLineBreak(k) || hasLineBreak(value)) return false;

    const int index = findSectionIndex(section);
    if (index < 0) addSection(name);
    const int si = index < 0 ? int(m_sections.size()) - 1 : index;
    Section& s = m_sections[si];

    const int at = keyLine(si, k);
    if (at >= 0) {
        Line& line = s.lines[at];
        if (line.value() == value) return true;
        rewrite(line, value);  // the name keeps the spelling it had
        m_modified = true;
        return true;
    }

    // After the section's last non-blank line; only blank lines move down, and they
    // are not in the key index.
    qsizetype pos = s.lines.size();
    while (pos > 0 && s.lines[pos - 1].isBlank()) --pos;
    s.lines.insert(pos, newKeyLine(k, value));
    s.keyIndex.insert(k, int(pos), s.lines);
    s.stems.insert({k.left(stemOf(k).name.size())});
    m_modified = true;
    return true;
}

QStringList IniFile::sectionNames() const
{
    QStringList names;
    for (int i = 0; i < m_sections.size(); ++i) {
        const Section& s = m_sections[i];
        if (s.hasHeader && m_sectionIndex.value(fold(s.name), -1) == i) names.append(s.name);
    }
    return names;
}

QStringList IniFile::keys(const QString& section) const
{
    QStringList names;
    const Section* s = findSection(section);
    if (!s) return names;
    for (const Line& l : s->lines)
        if (l.keyLength > 0 && !l.shadowed) names.append(l.key().toString());
    return names;
}

} // namespace storage
