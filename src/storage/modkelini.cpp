#include "storage/modkelini.h"

#include "app/globals.h"
#include "services/messages.h"
#include "storage/inifile.h"

#include <QDateTime>
#include <QDir>
#include <QSet>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QList>
#include <memory>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace storage {
namespace {

// Files whose failure the user has been told of and that have not been saved since.
QSet<QString> g_toldFailing;


// Enough to notice another program's save: size, time to the nanosecond where the
// system has it, and the file's identity (an atomic save by anyone makes a new file).
struct FileStamp {
    bool exists = false;
    qint64 size = 0;
    qint64 mtime = 0;
    quint64 id = 0;
    bool operator==(const FileStamp&) const = default;
};

FileStamp stampOf(const QString& path)
{
    FileStamp s;
#ifdef Q_OS_UNIX
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode)) return s;
    s.exists = true;
    s.size = st.st_size;
    s.mtime = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    s.id = quint64(st.st_ino) ^ (quint64(st.st_dev) << 40);
#else
    const QFileInfo info(path);
    if (!info.isFile()) return s;
    s.exists = true;
    s.size = info.size();
    s.mtime = info.lastModified().toMSecsSinceEpoch();
#endif
    return s;
}

struct Cached {
    IniFile doc;
    FileStamp stamp;
    bool unreadable = false;  // exists but could not be read: never written over
    int batchDepth = 0;
    FailureReport report = FailureReport::ToUser;
    QString rejected;         // why a write of the open batch could not be taken in
};

QHash<QString, std::shared_ptr<Cached>> g_cache;
IniStats g_stats;
QString g_lastRawPath, g_lastPath;
// The entry last used: a playlist load or save asks for the same file many times over.
// Cleared whenever an entry leaves g_cache.
QString g_memoPath;
std::shared_ptr<Cached> g_memo;

constexpr int kCacheLimit = 8;
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

void load(Cached& c, const QString& path, const FileStamp& stamp)
{
    c.doc = IniFile();
    c.unreadable = false;
    c.stamp = stamp;
    if (!stamp.exists) return;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        c.unreadable = true;
        return;
    }
    c.doc = IniFile::fromBytes(file.readAll());
    ++g_stats.parses;
}

void evictIdle(const QString& keep)
{
    if (g_cache.size() <= kCacheLimit) return;
    g_memo.reset();
    for (auto it = g_cache.begin(); it != g_cache.end();) {
        if (it.key() != keep && it.value()->batchDepth == 0) it = g_cache.erase(it);
        else ++it;
    }
}

// The parsed file, checked against the disk unless a batch holds it.
std::shared_ptr<Cached> entryFor(const QString& path)
{
    if (!g_memo || path != g_memoPath) {
        std::shared_ptr<Cached> entry = g_cache.value(path);
        if (!entry) {
            entry = std::make_shared<Cached>();
            entry->stamp.size = -1;  // matches no file, so the check below loads it
            g_cache.insert(path, entry);
            evictIdle(path);
        }
        g_memo = entry;
        g_memoPath = path;
    }
    if (g_memo->batchDepth == 0) {
        const FileStamp now = stampOf(path);
        if (!(now == g_memo->stamp)) load(*g_memo, path, now);
    }
    return g_memo;
}

// Saves the entry's document when it changed. Returns the reason of a failure, or an
// empty string. A failed entry leaves the cache so that reads show the file.
QString flush(const QString& path, const std::shared_ptr<Cached>& c)
{
    QString why = c->rejected;
    c->rejected.clear();
    if (c->doc.isModified()) {
        const FileStamp now = stampOf(path);
        if (!(now == c->stamp)) {  // changed by someone else while a batch was open
            const IniFile ours = c->doc;
            load(*c, path, now);
            ours.applyChangesTo(c->doc);
        }
    }
    if (c->doc.isModified()) {
        QString error;
        if (c->unreadable) error = QStringLiteral("the file exists but cannot be read");
        else if (c->doc.save(path, &error)) {
            c->doc.markSaved();
            c->stamp = stampOf(path);
            ++g_stats.saves;
            g_toldFailing.remove(path);
        }
        if (!error.isEmpty()) {
            ++g_stats.failedSaves;
            why = why.isEmpty() ? error : why + QStringLiteral("; ") + error;
        }
    }
    if (!why.isEmpty()) {
        g_memo.reset();
        g_cache.remove(path);
    }
    return why;
}

} // namespace

QString ReadINI(const QString& strSection, const QString& strKey, const QString& strDefault,
                const QString& strFile)
{
    const QString path = resolve(strFile);
    if (path.isEmpty()) return strDefault;
    return entryFor(path)->doc.value(strSection, strKey, strDefault);
}

QStringList ReadINIKeys(const QString& strSection, const QString& strFile)
{
    const QString path = resolve(strFile);
    if (path.isEmpty()) return {};
    return entryFor(path)->doc.keys(strSection);
}

bool WriteINI(const QString& strSection, const QString& strKey, const QString& strValue,
              const QString& strFile)
{
    const QString path = resolve(strFile);
    if (path.isEmpty()) return false;
    const std::shared_ptr<Cached> c = entryFor(path);
    const bool taken = c->doc.setValue(strSection, strKey, strValue);
    if (c->batchDepth > 0) {
        if (!taken && c->rejected.isEmpty()) c->rejected = kRejected;
        return taken;
    }
    if (!taken) c->rejected = kRejected;
    const QString why = flush(path, c);
    if (why.isEmpty()) return true;
    reportWriteFailure(path, why);
    return false;
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

IniBatch::IniBatch(const QString& strFile, FailureReport report) : m_path(resolve(strFile))
{
    if (m_path.isEmpty()) {
        m_done = true;
        m_result = false;
        return;
    }
    const std::shared_ptr<Cached> c = entryFor(m_path);
    if (c->batchDepth++ == 0) {
        c->report = report;
        c->rejected.clear();
    }
}

IniBatch::~IniBatch() { commit(); }

bool IniBatch::commit()
{
    if (m_done) return m_result;
    m_done = true;
    const auto it = g_cache.constFind(m_path);
    if (it == g_cache.constEnd()) return m_result = false;
    const std::shared_ptr<Cached> c = it.value();
    if (--c->batchDepth > 0) return m_result = true;
    const QString why = flush(m_path, c);
    m_result = why.isEmpty();
    // Last, and with nothing held: the message box runs an event loop of its own.
    if (!m_result && c->report == FailureReport::ToUser) reportWriteFailure(m_path, why);
    return m_result;
}

void reportWriteFailure(const QString& path, const QString& reason)
{
    // A file that stays unwritable is told about once, not at every playlist shown,
    // until a save to it succeeds again.
    if (g_toldFailing.contains(path)) return;
    g_toldFailing.insert(path);
    QString text = QStringLiteral("Could not save to the file") + u'\n' + QDir::toNativeSeparators(path);
    if (!reason.isEmpty()) text += QStringLiteral("\n\nReason: ") + reason + u'.';
    text += QStringLiteral("\n\nThe last change was not saved.");
    services::MsgBox(text, services::MsgButtons::OK, services::MsgIcon::Exclamation);
}

void dropIniCache()
{
    g_toldFailing.clear();
    g_memo.reset();
    for (auto it = g_cache.begin(); it != g_cache.end();) {
        if (it.value()->batchDepth == 0) it = g_cache.erase(it);
        else ++it;
    }
}

IniStats iniStats() { return g_stats; }

} // namespace storage
