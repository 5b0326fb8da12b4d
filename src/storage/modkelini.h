#pragma once
// The one access to INI files by section and key. Nothing else opens an INI file.
//
// Outside a batch every read reads the file and every write reads, changes and saves it.
// An IniBatch reads its file once, takes every read and write of its file in memory and
// saves once at its end, whole or not at all (see writeFileBytes). Nothing here talks to
// the user: callers get what went wrong and tell it.
#include <QString>
#include <QStringList>

#include <memory>

namespace storage {

// A value longer than this is read cut to it; no path or number comes near.
inline constexpr qsizetype kMaxValueLength = 32768;

// strFile empty means the program's own INI file (app::strIniPath). Reading returns
// the value, or strValue when the file, section or key does not exist. Writing stores
// strValue, creating file, section and key as needed, and returns "".
QString DoINI(const QString& strSection, const QString& strKey, const QString& strValue, bool bWrite,
              const QString& strFile);

// The halves of DoINI, on an explicit file.
QString ReadINI(const QString& strSection, const QString& strKey, const QString& strDefault,
                const QString& strFile);
// The key names of a section, in file order; none for a missing file or section.
QStringList ReadINIKeys(const QString& strSection, const QString& strFile);
// The numbers n, first <= n <= last, of a section's keys that are one of `prefixes`
// followed by n in decimal without leading zeros (letter case aside); ascending, each
// once. No list of the keys is made: a section holds hundreds of thousands.
QList<qint64> ReadINIKeyNumbers(const QString& strSection, const QStringList& prefixes, qint64 first, qint64 last,
                                const QString& strFile);
// False when the value did not reach the file (inside a batch: could not be taken in).
bool WriteINI(const QString& strSection, const QString& strKey, const QString& strValue,
              const QString& strFile);

// The absolute path DoINI uses for strFile.
QString iniFilePath(const QString& strFile);

// Collects the reads and writes of one file:
//     IniBatch batch(strFile);
//     ... DoINI(..., strFile) ...
//     if (!batch.commit()) tell(batch.error());
// Batches on the same file nest; the outermost one saves. A batch in which any write
// could not be taken in saves nothing. Another program's change made while a batch is
// open is overwritten by the batch's save.
class IniBatch {
public:
    explicit IniBatch(const QString& strFile = {});
    ~IniBatch();
    IniBatch(const IniBatch&) = delete;
    IniBatch& operator=(const IniBatch&) = delete;

    // Ends the batch now. True when nothing needed saving or every write reached the
    // file; an inner batch of a nest returns true, its writes go with the outermost.
    bool commit();
    // Why commit() failed, in words.
    QString error() const { return m_error; }
    // True when commit() wrote the file (it had changes).
    bool wrote() const { return m_wrote; }
    // Why the file could not be read ("" when it was read or does not exist); such a
    // file reads as empty and is never written.
    QString readProblem() const;
    // True when a value read in this batch was cut to kMaxValueLength.
    bool valuesCut() const;
    QString path() const { return m_path; }

    struct Held;

private:
    QString m_path;
    std::shared_ptr<Held> m_held;
    bool m_done = false;
    bool m_result = true;
    bool m_wrote = false;
    QString m_error;
};

// Counters since the program started, for tests and benchmarks.
struct IniStats {
    qint64 parses = 0;
    qint64 saves = 0;
    qint64 failedSaves = 0;
};
IniStats iniStats();

} // namespace storage
