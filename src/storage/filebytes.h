#pragma once
// Whole-file reads and writes for the playlist files: bounded reads that never block on
// something that is not a regular file, and writes that replace a file whole or not at all.
#include <QByteArray>
#include <QString>

namespace storage {

// No playlist file comes near these; a file beyond them is not read, so it is never
// rewritten from a part of it.
inline constexpr qint64 kMaxPlayListFileBytes = 16 * 1024 * 1024;
inline constexpr qint64 kMaxPlayListFileLines = 1000000;

struct FileRead {
    enum class Status { Missing, Read, Refused };
    Status status = Status::Missing;
    QByteArray bytes;
    QString error;  // why it was refused, in words
    bool same = false;  // read, and equal to the bytes the caller knew: `bytes` shares them
};

// The file's bytes. Missing for no such file; Refused for a folder, a pipe, a device, a
// file larger than `limit` or one that cannot be read.
// With `known`, a file that still holds exactly those bytes is compared piece by piece
// and not read into a second copy.
FileRead readFileBytes(const QString& path, qint64 limit = kMaxPlayListFileBytes, const QByteArray* known = nullptr);

// Replaces the file's content by `bytes`, following a symbolic link to its target. A
// temporary file beside it is renamed over it; where the folder allows no new file, a
// writable file is rewritten in place, with the space reserved first and the old bytes
// put back on failure. Returns why it failed ("" on success); on failure the file holds
// its old bytes.
QString writeFileBytes(const QString& path, const QByteArray& bytes);

// Why writeFileBytes would fail now for reasons of permission or file type, or "".
QString writeProblem(const QString& path);

// Where an in-place write keeps a copy of the old bytes until the new ones are whole
// (a folder "unfinished" in the per-user data folder unless set).
void setSafetyCopyFolder(const QString& folder);
QString safetyCopyFolder();

// Puts back a file whose in-place write did not finish (its copy is still there) and
// removes the temporary files a save that did not finish left beside it. Call with the
// file's FolderLock held, before the file is read.
void recoverUnfinishedWrites(const QString& path);

// An advisory lock (flock) on the folder of a file, taken by every batch of reads and
// writes of a file in it, so that two programs writing one file never lose each other's
// changes. Nested and repeated locks of one folder within the program share one lock.
// Tries for lockWaitMs() before it gives up.
class FolderLock {
public:
    explicit FolderLock(const QString& path);
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    // Held, or the folder allows no lock (then nothing is gained by refusing to write).
    bool held() const { return m_problem.isEmpty(); }
    QString problem() const { return m_problem; }

private:
    QByteArray m_folder;
    QString m_problem;
};
void setLockWaitMs(int ms);
int lockWaitMs();

namespace detail {
// Asked before every step of a write that changes something on disk; false stops the
// write right there and leaves everything as it stands, as a kill would.
using StepGate = bool (*)(void* context);
void setStepGate(StepGate gate, void* context);
} // namespace detail

} // namespace storage
