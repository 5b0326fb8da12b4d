#include "storage/filebytes.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace storage {
namespace {

QString errnoText(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

// Closes on every path out.
struct Fd {
    int fd = -1;
    ~Fd()
    {
        if (fd >= 0) ::close(fd);
    }
    int release() { return std::exchange(fd, -1); }
};

int writeAll(int fd, const char* data, qint64 size, qint64 offset)
{
    while (size > 0) {
        const ssize_t n = ::pwrite(fd, data, size_t(size), off_t(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n < 0 ? errno : EIO;
        data += n;
        size -= n;
        offset += n;
    }
    return 0;
}

QString refusedType(const struct stat& st)
{
    if (S_ISDIR(st.st_mode)) return QStringLiteral("it is a folder");
    if (S_ISREG(st.st_mode)) return {};
    return QStringLiteral("it is not a regular file");
}

// The file a write lands in: a symbolic link's target, so the link stays a link.
QString writeTarget(const QString& path)
{
    const QFileInfo info(path);
    return info.isSymLink() ? info.symLinkTarget() : info.absoluteFilePath();
}

bool effectivelyWritable(const QByteArray& path)
{
    return ::faccessat(AT_FDCWD, path.constData(), W_OK, AT_EACCESS) == 0;
}

QString closeChecked(Fd& file)
{
    if (::fsync(file.fd) != 0 && errno != EINVAL) return errnoText(errno);
    if (::close(file.release()) != 0) return errnoText(errno);
    return {};
}

QString writeInPlace(const QByteArray& target, const QByteArray& bytes)
{
    Fd file{::open(target.constData(), O_RDWR | O_CLOEXEC)};
    if (file.fd < 0) return errnoText(errno);
    struct stat st{};
    if (::fstat(file.fd, &st) != 0) return errnoText(errno);
    const qint64 oldSize = st.st_size;
    QByteArray old(oldSize, Qt::Uninitialized);
    for (qint64 done = 0; done < oldSize;) {
        const ssize_t n = ::pread(file.fd, old.data() + done, size_t(oldSize - done), off_t(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n < 0 ? errnoText(errno) : QStringLiteral("the file changed while it was read");
        done += n;
    }
    // Reserve the room first, so that a full disk refuses before a byte changes.
    if (bytes.size() > oldSize) {
        if (::fallocate(file.fd, FALLOC_FL_KEEP_SIZE, 0, off_t(bytes.size())) != 0 && errno != EOPNOTSUPP)
            return errnoText(errno);
    }
    int error = writeAll(file.fd, bytes.constData(), bytes.size(), 0);
    if (!error && ::ftruncate(file.fd, off_t(bytes.size())) != 0) error = errno;
    if (!error && ::fsync(file.fd) != 0) error = errno;
    if (error) {
        // The old bytes fit where they stood before.
        writeAll(file.fd, old.constData(), oldSize, 0);
        if (::ftruncate(file.fd, off_t(oldSize)) == 0) ::fsync(file.fd);
        return errnoText(error);
    }
    return closeChecked(file);
}

} // namespace

FileRead readFileBytes(const QString& path, qint64 limit)
{
    FileRead result;
    const QByteArray name = QFile::encodeName(path);
    // Non-blocking: opening a pipe waits for a writer otherwise.
    Fd file{::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)};
    if (file.fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR) return result;
        result.status = FileRead::Status::Refused;
        result.error = errno == EISDIR ? QStringLiteral("it is a folder") : errnoText(errno);
        return result;
    }
    result.status = FileRead::Status::Refused;
    struct stat st{};
    if (::fstat(file.fd, &st) != 0) {
        result.error = errnoText(errno);
        return result;
    }
    result.error = refusedType(st);
    if (!result.error.isEmpty()) return result;
    if (st.st_size > limit) {
        result.error = QStringLiteral("it is larger than %1 MiB, far more than a playlist file holds").arg(limit >> 20);
        return result;
    }
    // Read to the end rather than trust the size: the file may grow meanwhile.
    QByteArray bytes(qsizetype(st.st_size), Qt::Uninitialized);
    qint64 done = 0;
    for (;;) {
        if (done == bytes.size()) {
            if (bytes.size() > limit) {
                result.error = QStringLiteral("it grew beyond %1 MiB while it was read").arg(limit >> 20);
                return result;
            }
            bytes.resize(bytes.size() + 4096);
        }
        const ssize_t n = ::read(file.fd, bytes.data() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            result.error = errnoText(errno);
            return result;
        }
        if (n == 0) break;
        done += n;
    }
    bytes.truncate(done);
    result.bytes = std::move(bytes);
    result.status = FileRead::Status::Read;
    result.error.clear();
    return result;
}

QString writeProblem(const QString& path)
{
    const QString target = writeTarget(path);
    const QByteArray name = QFile::encodeName(target);
    struct stat st{};
    const bool exists = ::stat(name.constData(), &st) == 0;
    if (exists) {
        const QString type = refusedType(st);
        if (!type.isEmpty()) return type;
        if (effectivelyWritable(name)) return {};
        return errno == EROFS ? errnoText(EROFS) : QStringLiteral("the file is read-only");
    }
    const QByteArray folder = QFile::encodeName(QFileInfo(target).absolutePath());
    if (::faccessat(AT_FDCWD, folder.constData(), W_OK | X_OK, AT_EACCESS) == 0) return {};
    return errno == ENOENT ? QStringLiteral("its folder does not exist") : QStringLiteral("its folder is not writable");
}

QString writeFileBytes(const QString& path, const QByteArray& bytes)
{
    if (const QString problem = writeProblem(path); !problem.isEmpty()) return problem;
    const QString target = writeTarget(path);
    const QByteArray name = QFile::encodeName(target);
    struct stat st{};
    const bool exists = ::stat(name.constData(), &st) == 0;

    const QFileInfo info(target);
    QByteArray temp = QFile::encodeName(info.absolutePath() + QStringLiteral("/.") + info.fileName() +
                                        QStringLiteral(".XXXXXX"));
    Fd file{::mkostemp(temp.data(), O_CLOEXEC)};
    if (file.fd < 0) {
        const int error = errno;
        if (exists && (error == EACCES || error == EPERM)) return writeInPlace(name, bytes);
        return errnoText(error);
    }
    auto fail = [&](int error) {
        ::unlink(temp.constData());
        return errnoText(error);
    };
    mode_t mode = st.st_mode & 07777;
    if (!exists) {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    if (::fchmod(file.fd, mode) != 0) return fail(errno);
    if (exists) (void)::fchown(file.fd, st.st_uid, st.st_gid);  // kept where allowed
    if (const int error = writeAll(file.fd, bytes.constData(), bytes.size(), 0)) return fail(error);
    if (::fsync(file.fd) != 0) return fail(errno);
    if (::close(file.release()) != 0) return fail(errno);
    if (::rename(temp.constData(), name.constData()) != 0) return fail(errno);
    return {};
}

} // namespace storage
