#include "storage/modkelini.h"

#include "app/globals.h"
#include "storage/filebytes.h"
#include "storage/inifile.h"

#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <algorithm>
#include <cstring>

namespace storage {

struct IniBatch::Held {
    std::unique_ptr<FolderLock> lock;  // from the read to the save
    IniFile doc;
    QString readProblem;
    QString rejected;  // why a write could not be taken in
    bool cut = false;
    int depth = 0;
};

namespace {

using Held = IniBatch::Held;

// Files with an open batch, only while it is open.
QHash<QString, std::shared_ptr<Held>> g_open;
// The batch asked for last: a playlist load or save asks for the same file many times over.
QString g_lastOpenPath;
std::shared_ptr<Held> g_lastOpen;
IniStats g_stats;
QString g_lastRawPath, g_lastPath;
// The last document parsed, with the bytes it was parsed from: the start reads one file
// three times over (names, the list, the last list) and a 100,000-entry file takes most
// of a second to parse. Equal bytes parse to an equal document; the bytes are compared
// with the file's, piece by piece, no date is trusted.
struct Parsed {
    QString path;
    QByteArray bytes;
    IniFile doc;
};
Parsed g_parsed;
// Files whose unfinished writes were looked for: once per file and program.
QSet<QString> g_recovered;

const QString kRejected = QStringLiteral("a name or value holds a line break or cannot be a key");

QString resolve(const QString& strFile)
{
    const QString& raw = strFile.isEmpty() ? app::strIniPath : strFile;
    if (raw.isEmpty()) return {};
    if (raw != g_lastRawPath) {
        g_lastRawPath = raw;
        g_lastPath = QFileInfo(raw).absoluteFilePath();
    }
    return g_lastPath;
}

// memchr looks at a word at a time, QByteArray::count at a byte: this is 1 % of a large start.
bool atLeastLines(const QByteArray& bytes, qsizetype lines)
{
    const char* p = bytes.constData();
    const char* const end = p + bytes.size();
    for (qsizetype n = 0; n < lines; ++n, ++p) {
        p = static_cast<const char*>(std::memchr(p, '\n', size_t(end - p)));
        if (!p) return false;
    }
    return true;
}

std::shared_ptr<Held> readHeld(const QString& path)
{
    auto held = std::make_shared<Held>();
    FileRead read = readFileBytes(path, kMaxPlayListFileBytes, g_parsed.path == path ? &g_parsed.bytes : nullptr);
    if (read.same) {
        held->doc = g_parsed.doc;
        return held;
    }
    if (read.status == FileRead::Status::Read && atLeastLines(read.bytes, kMaxPlayListFileLines)) {
        read.status = FileRead::Status::Refused;
        read.error = QStringLiteral("it holds more than %1 lines, far more than a playlist file holds")
                         .arg(kMaxPlayListFileLines);
    }
    if (read.status == FileRead::Status::Refused) {
        held->readProblem = read.error;
    } else if (read.status == FileRead::Status::Read) {
        g_parsed = {};  // its document is not kept beside the new one
        held->doc = IniFile::fromBytes(read.bytes);
        ++g_stats.parses;
        g_parsed = {path, std::move(read.bytes), held->doc};
    }
    return held;
}

// The open batch's copy, or a fresh read of the file.
std::shared_ptr<Held> heldFor(const QString& path)
{
    if (g_lastOpen && path == g_lastOpenPath) return g_lastOpen;
    const auto it = g_open.constFind(path);
    if (it == g_open.constEnd()) return readHeld(path);
    g_lastOpenPath = path;
    return g_lastOpen = it.value();
}

QString readValue(Held& held, const QString& section, const QString& key, const QString& fallback)
{
    QString value = held.doc.value(section, key, fallback);
    if (value.size() > kMaxValueLength) {
        value.truncate(kMaxValueLength);
        held.cut = true;
    }
    return value;
}

// Saves the document when it changed; the reason of a failure, or "".
QString save(const QString& path, Held& held)
{
    if (!held.rejected.isEmpty()) return held.rejected;
    if (!held.doc.isModified()) return {};
    QString error;
    if (!held.readProblem.isEmpty()) error = QStringLiteral("the file cannot be read: ") + held.readProblem;
    else if (held.lock && !held.lock->held()) error = held.lock->problem();
    else if (held.doc.save(path, &error)) {
        held.doc.markSaved();
        if (g_parsed.path == path) g_parsed = {};  // what it was parsed from is gone
        ++g_stats.saves;
        return {};
    }
    ++g_stats.failedSaves;
    return error;
}

QList<qint64> keyNumbers(const IniFile& doc, const QString& section, const QStringList& prefixes, qint64 first,
                        qint64 last)
{
    QList<qint64> numbers;
    // A file written by us holds each entry's keys in a row, the entries in order: repeats
    // are dropped as they come and the sort is needed only when a number went back.
    bool ascending = true;
    doc.forEachKey(section, [&](QStringView key) {
        for (const QString& prefix : prefixes) {
            if (!key.startsWith(prefix, Qt::CaseInsensitive)) continue;
            const QStringView digits = key.sliced(prefix.size());
            if (digits.isEmpty() || digits.size() > 10 || (digits.size() > 1 && digits[0] == u'0')) break;
            qint64 n = 0;
            for (const QChar c : digits) {
                if (c < u'0' || c > u'9') {
                    n = -1;
                    break;
                }
                n = n * 10 + (c.unicode() - u'0');
            }
            if (n < first || n > last || (!numbers.isEmpty() && n == numbers.back())) break;
            ascending = ascending && (numbers.isEmpty() || n > numbers.back());
            numbers.append(n);
            break;
        }
    });
    if (ascending) return numbers;
    std::sort(numbers.begin(), numbers.end());
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
    return numbers;
}

} // namespace

QString iniFilePath(const QString& strFile) { return resolve(strFile); }

QString ReadINI(const QString& strSection, const QString& strKey, const QString& strDefault,
                const QString& strFile)
{
    const QString path = resolve(strFile);
    if (path.isEmpty()) return strDefault;
    return readValue(*heldFor(path), strSection, strKey, strDefault);
}

QStringList ReadINIKeys(const QString& strSection, const QString& strFile)
{
    const QString path = resolve(strFile);
    if (path.isEmpty()) return {};
    return heldFor(path)->doc.keys(strSection);
}

QList<qint64> ReadINIKeyNumbers(const QString& strSection, const QStringList& prefixes, qint64 first, qint64 last,
                                const QString& strFile)
{
    const QString path = resolve(strFile);
    if (path.isEmpty()) return {};
    const std::shared_ptr<Held> held = heldFor(path);
    return keyNumbers(held->doc, strSection, prefixes, first, last);
}

bool WriteINI(const QString& strSection, const QString& strKey, const QString& strValue,
              const QString& strFile)
{
    const QString path = resolve(strFile);
    if (path.isEmpty()) return false;
    if (!g_open.contains(path)) {
        // A lone write is a batch of one: read, changed and saved under the lock.
        IniBatch batch(strFile);
        const bool taken = WriteINI(strSection, strKey, strValue, strFile);
        return batch.commit() && taken;
    }
    const std::shared_ptr<Held> held = heldFor(path);
    const bool taken = held->doc.setValue(strSection, strKey, strValue);
    if (!taken && held->rejected.isEmpty()) held->rejected = kRejected;
    if (held->depth > 0) return taken;
    return save(path, *held).isEmpty();
}

QString DoINI(const QString& strSection, const QString& strKey, const QString& strValue, bool bWrite,
              const QString& strFile)
{
    if (bWrite) {
        WriteINI(strSection, strKey, strValue, strFile);
        return {};
    }
    return ReadINI(strSection, strKey, strValue, strFile);
}

IniBatch::IniBatch(const QString& strFile) : m_path(resolve(strFile))
{
    if (m_path.isEmpty()) {
        m_done = true;
        m_result = false;
        m_error = QStringLiteral("no file is named");
        return;
    }
    if (const auto open = g_open.constFind(m_path); open != g_open.constEnd()) {
        m_held = open.value();
        ++m_held->depth;
        return;
    }
    auto lock = std::make_unique<FolderLock>(m_path);
    if (lock->held() && !g_recovered.contains(m_path)) {
        recoverUnfinishedWrites(m_path);
        g_recovered.insert(m_path);
    }
    m_held = readHeld(m_path);
    m_held->lock = std::move(lock);
    m_held->depth = 1;
    g_open.insert(m_path, m_held);
}

IniBatch::~IniBatch() { commit(); }

bool IniBatch::commit()
{
    if (m_done) return m_result;
    m_done = true;
    if (--m_held->depth > 0) return m_result = true;
    g_open.remove(m_path);
    g_lastOpen.reset();
    const bool changed = m_held->doc.isModified();
    m_error = save(m_path, *m_held);
    m_held->lock.reset();
    m_wrote = changed && m_error.isEmpty();
    return m_result = m_error.isEmpty();
}

QString IniBatch::readProblem() const { return m_held ? m_held->readProblem : QString(); }

bool IniBatch::valuesCut() const { return m_held && m_held->cut; }

IniStats iniStats() { return g_stats; }

} // namespace storage
