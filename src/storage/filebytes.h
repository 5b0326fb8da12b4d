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
};

// The file's bytes. Missing for no such file; Refused for a folder, a pipe, a device, a
// file larger than `limit` or one that cannot be read.
FileRead readFileBytes(const QString& path, qint64 limit = kMaxPlayListFileBytes);

// Replaces the file's content by `bytes`, following a symbolic link to its target. A
// temporary file beside it is renamed over it; where the folder allows no new file, a
// writable file is rewritten in place, with the space reserved first and the old bytes
// put back on failure. Returns why it failed ("" on success); on failure the file holds
// its old bytes.
QString writeFileBytes(const QString& path, const QByteArray& bytes);

// Why writeFileBytes would fail now for reasons of permission or file type, or "".
QString writeProblem(const QString& path);

} // namespace storage
