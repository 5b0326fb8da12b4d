#pragma once
// An INI document held in memory: parsed once, queried and changed by section and key,
// written back with every line it did not change kept as it was.
//
// Reading rules (close to the Windows private-profile functions, so files written by
// other tools read the same):
//  - "[name]" starts a section; the name runs to the last "]" on the line, blanks
//    around it ignored. "key=value" lines belong to the section above them; blanks
//    around key and value are ignored and one pair of matching quotes ("..." or '...')
//    around a value is removed.
//  - Section and key names match without regard to letter case. The first section and
//    the first key of a name win; later duplicates are kept in the file but unused.
//  - Lines starting with ";" or "#", lines without "=", and anything else not
//    understood are kept and rewritten unchanged. Lines above the first section form
//    a section with the empty name.
//  - Bytes that are valid UTF-8 are read as UTF-8 (a byte-order mark is kept);
//    anything else is read as Windows-1252, the code page old INI files were written in.
//    After a byte-order mark, bytes that are not UTF-8 are held as escapes and written
//    back as the bytes they were.
//
// Writing rules:
//  - A changed key keeps its place; a new key goes after the last non-blank line of
//    its section; a new section goes at the end of the file after a blank line.
//  - A value that has blanks at either end or is itself quoted is written in double
//    quotes so that it reads back exactly.
//  - Every line read keeps its own line ending (LF, CRLF, a final lone CR or none); a
//    new line takes the file's first one, and a new file CRLF, which every INI reader
//    accepts. A byte-order mark at the start of a line is read as a blank, and kept.
//  - The text is written as Windows-1252 when it was read that way and every character
//    still fits, so an old file stays readable by old tools; otherwise the whole file
//    as UTF-8. A new file is UTF-8 without a byte-order mark, which old readers would
//    take as part of the first section's header.
#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace storage {

namespace detail {
// A section or key name as a hash key that ignores letter case, so that a lookup needs
// no folded copy of the name.
struct CaselessName {
    QString name;
    bool operator==(const CaselessName& other) const
    {
        // Qt folds letter by letter: names of different lengths never compare equal, and
        // the hash's probes meet many such.
        if (name.size() != other.name.size()) return false;
        return name == other.name || name.compare(other.name, Qt::CaseInsensitive) == 0;
    }
};
size_t qHash(const CaselessName& key, size_t seed) noexcept;

// A line as read owns no text: it points into the text of the document it was read
// from. A line written since owns its text. Key and value are spans of the line's text (quotes left outside).
// How a line ended in the file; Default for a line written since: the file's ending.
enum class Eol : quint8 { Default, None, Lf, CrLf, Cr };

struct IniLine {
    QString text;
    Eol eol = Eol::Default;
    qint32 keyStart = 0, keyLength = 0;  // keyLength 0: not a key line
    qint32 valueStart = 0, valueLength = 0;
    bool shadowed = false;  // a later line of a key the section already has
    bool changed = false;   // written since the document was last saved
    QStringView key() const { return QStringView(text).mid(keyStart, keyLength); }
    QStringView value() const { return QStringView(text).mid(valueStart, valueLength); }
    bool isBlank() const { return QStringView(text).trimmed().isEmpty(); }
};

// A section's keys by name, without regard to letter case: open addressing over slots of a
// hash and a line number, the names compared in the lines themselves. A playlist section
// has hundreds of thousands of keys; a node per key (a hash table of names) cost a cache
// miss or two per key while parsing and twice the memory. Copies share the slots until
// one of them changes.
class KeyIndex {
public:
    void reserve(qsizetype keys);
    qsizetype size() const { return m_size; }
    // The line of `key`, or -1.
    int find(QStringView key, const QList<IniLine>& lines) const;
    // False (and nothing changed) when the key is there already.
    bool insert(QStringView key, int line, const QList<IniLine>& lines) { return insert(key, hashOf(key), line, lines); }
    bool insert(QStringView key, quint32 hash, int line, const QList<IniLine>& lines);
    static quint32 hashOf(QStringView key);
    // Asks the processor for the slot where a key of this hash would be looked for first.
    void prefetch(quint32 hash) const { __builtin_prefetch(m_slots.constData() + (hash & (m_slots.size() - 1))); }

private:
    struct Slot {
        quint32 hash;
        qint32 line;  // -1: free
    };
    qsizetype slotOf(QStringView key, quint32 hash, const QList<IniLine>& lines) const;
    void rehash(qsizetype capacity);

    QList<Slot> m_slots;  // a power of two, at most half of them used
    qsizetype m_size = 0;
};
} // namespace detail
} // namespace storage

// Moved in memory as a block when a line list grows; a file has tens of thousands.
Q_DECLARE_TYPEINFO(storage::detail::IniLine, Q_RELOCATABLE_TYPE);

namespace storage {

class IniFile {
public:
    enum class Encoding { Utf8, Windows1252 };

    IniFile();

    // Parses the bytes of a file; never fails (what is not understood is kept as text).
    static IniFile fromBytes(const QByteArray& bytes);
    QByteArray toBytes() const;

    // Whole or not at all (see writeFileBytes). On failure the target is unchanged and
    // `error` (when given) says why.
    bool save(const QString& path, QString* error = nullptr) const;

    std::optional<QString> value(const QString& section, const QString& key) const;
    QString value(const QString& section, const QString& key, const QString& defaultValue) const;

    // Creates the section and key as needed. False (and nothing changed) when a name or
    // the value cannot be stored on one line: a line break anywhere, an empty key, a
    // key containing "=" or starting like a section or comment.
    bool setValue(const QString& section, const QString& key, const QString& value);

    // Names as written in the file, first occurrences only, in file order.
    QStringList sectionNames() const;
    QStringList keys(const QString& section) const;
    // Calls `visit` with each of those names, a view into the document, without a list of
    // them: a playlist section has hundreds of thousands.
    template <typename Visit>
    void forEachKey(const QString& section, Visit visit) const
    {
        if (const Section* s = findSection(section))
            for (const Line& l : s->lines)
                if (l.keyLength > 0 && !l.shadowed) visit(l.key());
    }

    Encoding sourceEncoding() const { return m_encoding; }
    // The encoding toBytes() will use now.
    Encoding outputEncoding() const;
    QString lineEnding() const { return m_eol; }
    // True once a setValue changed something since parsing or the last markSaved().
    bool isModified() const { return m_modified; }
    void markSaved();

    static QString decodeWindows1252(const QByteArray& bytes);
    // Empty optional when a character has no Windows-1252 byte.
    static std::optional<QByteArray> encodeWindows1252(const QString& text);

private:
    using Line = detail::IniLine;
    struct Section {
        QString name;    // trimmed, as in the file
        bool hasHeader;  // false only for the lines above the first header
        QString headerRaw;
        detail::Eol headerEol;
        QList<Line> lines;
        detail::KeyIndex keyIndex;  // key -> line, the first line of a key only
        // Every key's name without its trailing digits ("FileName" for "FileName12"): a
        // playlist asks for keys most entries lack, and this small set answers at once.
        QSet<detail::CaselessName> stems;
    };

    static detail::CaselessName fold(const QString& name) { return {name}; }
    static Line parseLine(const QString& text, bool& isHeader, QString& headerName);
    static Line newKeyLine(QStringView key, const QString& value);
    static void indexKeys(Section& s);
    int keyLine(int section, const QString& key) const;
    static void rewrite(Line& line, const QString& value);
    const Section* findSection(const QString& name) const;
    int findSectionIndex(const QString& name) const;
    Section& addSection(const QString& name);
    QString joinedText() const;

    // The decoded file, never changed once parsed: the lines as read point into it.
    QString m_text;
    QList<Section> m_sections;
    QHash<detail::CaselessName, int> m_sectionIndex;  // name -> index in m_sections
    Encoding m_encoding = Encoding::Utf8;
    bool m_bom = false;
    bool m_escaped = false;  // holds bytes that are not UTF-8 (after a byte-order mark)
    QString m_eol = QStringLiteral("\r\n");
    bool m_finalEol = true;
    bool m_modified = false;
    // A playlist save looks up the same section tens of thousands of times in a row.
    mutable QString m_lastSectionName;
    mutable int m_lastSectionIndex = -1;
    // The line found last: a playlist is read key after key in the order it was written,
    // so the next key is most often on the next line, found without the hash.
    mutable int m_lastKeySection = -1, m_lastKeyLine = -1;
};

} // namespace storage
