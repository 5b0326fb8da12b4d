#pragma once
// The one access to INI files by section and key. Nothing else opens an INI file.
//
// Parsed files are kept in memory, keyed by absolute path. A read outside a batch
// checks the file's size, modification time and identity and parses it again only when
// one of them changed, so another program's edit is seen. A write outside a batch is
// saved at once (atomically, see IniFile::save). Inside an IniBatch the file is neither
// checked nor written until the batch ends; then it is saved once.
//
// A save that fails is reported to the user once, through reportWriteFailure(), unless
// the open batch asked for failures to be returned instead. The cached copy is then
// dropped so that reads show what the file really holds.
#include <QString>
#include <QStringList>

namespace storage {

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
// False when the value is not in the file (or, inside a batch, could not be taken in).
bool WriteINI(const QString& strSection, const QString& strKey, const QString& strValue,
              const QString& strFile);

enum class FailureReport {
    ToUser,   // a message box names the file
    ToCaller  // only IniBatch::commit() tells; for callers with a message of their own
};

// Collects the writes to one file and saves them once:
//     IniBatch batch(strFile);
//     ... DoINI(..., true, strFile) ...
//     if (!batch.commit()) ...      // or let the destructor save
// Reads inside the batch see its writes and do not look at the file again. Batches on
// the same file nest; the outermost one saves and its FailureReport applies. If another
// program changed the file while the batch was open, the batch's writes are applied to
// the file's new content, not over it.
class IniBatch {
public:
    explicit IniBatch(const QString& strFile = {}, FailureReport report = FailureReport::ToUser);
    ~IniBatch();
    IniBatch(const IniBatch&) = delete;
    IniBatch& operator=(const IniBatch&) = delete;

    // Ends the batch now. True when every write reached the file; an inner batch of a
    // nest returns true, as its writes are saved with the outermost one.
    bool commit();

private:
    QString m_path;
    bool m_done = false;
    bool m_result = true;
};

// The message shown when an INI file could not be written.
void reportWriteFailure(const QString& path, const QString& reason = {});

// Forgets every parsed file not held by an open batch (the next read parses anew) and
// which failures the user was told of.
void dropIniCache();

// Counters since the program started, for tests and benchmarks.
struct IniStats {
    qint64 parses = 0;
    qint64 saves = 0;
    qint64 failedSaves = 0;
};
IniStats iniStats();

} // namespace storage
