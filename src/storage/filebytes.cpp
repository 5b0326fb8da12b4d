#include "storage/filebytes.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace storage {
namespace {

QString errnoText(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

detail::StepGate g_gate = nullptr;
void* g_gateContext = nullptr;
QString g_safetyFolder;
int g_lockWaitMs = 3000;

// What a write stopped by the gate returns; it leaves everything as a kill would.
const QString kStopped = QStringLiteral("stopped");

bool go() { return !g_gate || g_gate(g_gateContext); }

// Written a piece at a time, so that a stop can fall between pieces as a kill can.
constexpr qint64 kPiece = 64 * 1024;

// Closes on every path out.
struct Fd {
    int fd = -1;
    ~Fd()
    {
        if (fd >= 0) ::close(fd);
    }
    int release() { return std::exchange(fd, -1); }
};

// ECANCELED: stopped by the gate.
int writeAll(int fd, const char* data, qint64 size, qint64 offset)
{
    while (size > 0) {
        if (!go()) return ECANCELED;
        const ssize_t n = ::pwrite(fd, data, size_t(std::min(size, kPiece)), off_t(offset));
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

bool readAll(int fd, QByteArray& into, qint64 size)
{
    into.resize(size);
    for (qint64 done = 0; done < size;) {
        const ssize_t n = ::pread(fd, into.data() + done, size_t(size - done), off_t(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += n;
    }
    return true;
}

void syncFolder(const QByteArray& folder)
{
    Fd dir{::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    if (dir.fd >= 0) (void)::fsync(dir.fd);
}

QByteArray folderOf(const QByteArray& path)
{
    const qsizetype slash = path.lastIndexOf('/');
    return slash <= 0 ? QByteArray("/") : path.left(slash);
}

// The safety copy of one file: named after its path, so that each file has one place.
QString safetyCopyOf(const QByteArray& target)
{
    const QByteArray hash = QCryptographicHash::hash(target, QCryptographicHash::Sha1).toHex().left(24);
    return safetyCopyFolder() + QStringLiteral("/") + QString::fromLatin1(hash) + QStringLiteral(".copy");
}

const QByteArray kCopyMagic = "unfinished in-place write\n";

// The copy holds the path and the old bytes; it is renamed into place only when whole,
// so a copy that is there is a copy that can be put back.
QString keepSafetyCopy(const QByteArray& target, const QByteArray& old, QByteArray& copyName)
{
    const QString folder = safetyCopyFolder();
    if (folder.isEmpty() || !QDir().mkpath(folder)) return QStringLiteral("no safety copy can be kept in the data folder");
    copyName = QFile::encodeName(safetyCopyOf(target));
    QByteArray temp = copyName + ".XXXXXX";
    if (!go()) return kStopped;
    Fd file{::mkostemp(temp.data(), O_CLOEXEC)};
    if (file.fd < 0) return QStringLiteral("no safety copy can be kept: ") + errnoText(errno);
    const QByteArray head = kCopyMagic + target + '\n' + QByteArray::number(old.size()) + '\n';
    int error = writeAll(file.fd, head.constData(), head.size(), 0);
    if (!error) error = writeAll(file.fd, old.constData(), old.size(), head.size());
    if (!error) error = !go() ? ECANCELED : ::fsync(file.fd) != 0 ? errno : 0;
    if (!error) error = !go() ? ECANCELED : ::rename(temp.constData(), copyName.constData()) != 0 ? errno : 0;
    if (error == ECANCELED) return kStopped;
    if (error) {
        ::unlink(temp.constData());
        return QStringLiteral("no safety copy can be kept: ") + errnoText(error);
    }
    if (!go()) return kStopped;
    syncFolder(folderOf(copyName));
    return {};
}

// Puts `bytes` into the open file from its start and cuts it to their length.
int overwrite(int fd, const QByteArray& bytes)
{
    if (const int error = writeAll(fd, bytes.constData(), bytes.size(), 0)) return error;
    if (!go()) return ECANCELED;
    if (::ftruncate(fd, off_t(bytes.size())) != 0) return errno;
    if (!go()) return ECANCELED;
    if (::fsync(fd) != 0) return errno;
    return 0;
}

// The folder allows no new file: the old bytes go to a safety copy first, then the file
// is rewritten and cut; the copy goes once the file is whole. A kill in between leaves
// the copy, and recoverUnfinishedWrites puts it back.
QString writeInPlace(const QByteArray& target, const QByteArray& bytes)
{
    Fd file{::open(target.constData(), O_RDWR | O_CLOEXEC)};
    if (file.fd < 0) return errnoText(errno);
    struct stat st{};
    if (::fstat(file.fd, &st) != 0) return errnoText(errno);
    QByteArray old;
    if (!readAll(file.fd, old, st.st_size)) return QStringLiteral("the file changed while it was read");
    // Reserve the room first, so that a full disk refuses before a byte changes.
    if (bytes.size() > old.size()) {
        if (::fallocate(file.fd, FALLOC_FL_KEEP_SIZE, 0, off_t(bytes.size())) != 0 && errno != EOPNOTSUPP)
            return errnoText(errno);
    }
    QByteArray copyName;
    if (const QString why = keepSafetyCopy(target, old, copyName); !why.isEmpty()) return why;
    const int error = overwrite(file.fd, bytes);
    if (error == ECANCELED) return kStopped;
    if (error) {
        // The old bytes fit where they stood before; the copy stays if even that fails.
        if (overwrite(file.fd, old) == 0) ::unlink(copyName.constData());
        return errnoText(error);
    }
    if (!go()) return kStopped;
    ::unlink(copyName.constData());
    return closeChecked(file);
}

// ".name.XXXXXX": the temporary file a save of `name` writes before its rename.
bool isTempOf(const QString& entry, const QString& name)
{
    if (entry.size() != name.size() + 8 || !entry.startsWith(u'.') || entry.at(name.size() + 1) != u'.') return false;
    if (QStringView(entry).mid(1, name.size()) != name) return false;
    for (const QChar c : QStringView(entry).right(6))
        if (!(c.isLetterOrNumber() && c.unicode() < 0x80)) return false;
    return true;
}

// Locks of folders held by this program: one descriptor each, counted.
struct HeldLock {
    int fd = -1;
    int count = 0;
    QString problem;
};
QHash<QByteArray, HeldLock> g_locks;

} // namespace

namespace {

// True when the file from its current offset to its end holds exactly `known`; the offset
// is put back to the start either way.
bool holdsExactly(int fd, const QByteArray& known)
{
    char piece[65536];
    qint64 at = 0;
    bool equal = true;
    for (;;) {
        const ssize_t n = ::read(fd, piece, sizeof piece);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            equal = equal && n == 0 && at == known.size();
            break;
        }
        if (at + n > known.size() || std::memcmp(piece, known.constData() + at, size_t(n)) != 0) {
            equal = false;
            break;
        }
        at += n;
    }
    ::lseek(fd, 0, SEEK_SET);
    return equal;
}

} // namespace

FileRead readFileBytes(const QString& path, qint64 limit, const QByteArray* known)
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
    if (known && st.st_size == known->size() && holdsExactly(file.fd, *known)) {
        result.bytes = *known;
        result.status = FileRead::Status::Read;
        result.error.clear();
        result.same = true;
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
    if (!go()) return kStopped;
    Fd file{::mkostemp(temp.data(), O_CLOEXEC)};
    if (file.fd < 0) {
        const int error = errno;
        if (exists && (error == EACCES || error == EPERM)) return writeInPlace(name, bytes);
        return errnoText(error);
    }
    auto fail = [&](int error) {
        if (error == ECANCELED) return kStopped;
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
    if (!go()) return kStopped;
    if (::fsync(file.fd) != 0) return fail(errno);
    if (::close(file.release()) != 0) return fail(errno);
    if (!go()) return kStopped;
    if (::rename(temp.constData(), name.constData()) != 0) return fail(errno);
    syncFolder(folderOf(name));
    return {};
}

void setSafetyCopyFolder(const QString& folder) { g_safetyFolder = folder; }

QString safetyCopyFolder()
{
    if (g_safetyFolder.isEmpty()) {
        const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
        if (!data.isEmpty()) g_safetyFolder = data + QStringLiteral("/unfinished");
    }
    return g_safetyFolder;
}

void recoverUnfinishedWrites(const QString& path)
{
    const QString target = writeTarget(path);
    const QByteArray name = QFile::encodeName(target);
    const QByteArray copyName = QFile::encodeName(safetyCopyOf(name));
    if (FileRead copy = readFileBytes(QFile::decodeName(copyName), kMaxPlayListFileBytes + 4096);
        copy.status == FileRead::Status::Read) {
        // magic, path, size, bytes; anything else is not ours to put back.
        const QByteArray& c = copy.bytes;
        const qsizetype pathEnd = c.indexOf('\n', kCopyMagic.size());
        const qsizetype sizeEnd = pathEnd < 0 ? -1 : c.indexOf('\n', pathEnd + 1);
        bool sized = false;
        const qint64 size = sizeEnd < 0 ? -1 : c.mid(pathEnd + 1, sizeEnd - pathEnd - 1).toLongLong(&sized);
        const bool ours = c.startsWith(kCopyMagic) && sized && c.mid(kCopyMagic.size(), pathEnd - kCopyMagic.size()) == name &&
                          size == c.size() - sizeEnd - 1;
        bool restored = !ours;
        if (ours) {
            Fd file{::open(name.constData(), O_RDWR | O_CLOEXEC)};
            restored = file.fd >= 0 && overwrite(file.fd, c.sliced(sizeEnd + 1)) == 0;
        }
        if (restored) ::unlink(copyName.constData());
    }
    const QFileInfo info(target);
    const QDir folder = info.absoluteDir();
    const QString fileName = info.fileName();
    for (const QString& entry : folder.entryList({QStringLiteral(".") + fileName + QStringLiteral(".*")},
                                                 QDir::Files | QDir::Hidden | QDir::System)) {
        if (isTempOf(entry, fileName)) ::unlink(QFile::encodeName(folder.filePath(entry)).constData());
    }
    const QDir copies(safetyCopyFolder());
    const QString copyFile = QFileInfo(QFile::decodeName(copyName)).fileName();
    for (const QString& entry : copies.entryList({copyFile + QStringLiteral(".*")}, QDir::Files | QDir::Hidden))
        ::unlink(QFile::encodeName(copies.filePath(entry)).constData());
}

void setLockWaitMs(int ms) { g_lockWaitMs = ms; }
int lockWaitMs() { return g_lockWaitMs; }

FolderLock::FolderLock(const QString& path)
    : m_folder(QFile::encodeName(QFileInfo(writeTarget(path)).absolutePath()))
{
    HeldLock& lock = g_locks[m_folder];
    if (lock.count++ > 0) {
        m_problem = lock.problem;
        return;
    }
    lock.fd = ::open(m_folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    // A folder that cannot be opened or locked (some network file systems) is used
    // without a lock, as before: refusing every save there would gain nothing.
    if (lock.fd < 0) return;
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        if (::flock(lock.fd, LOCK_EX | LOCK_NB) == 0) return;
        if (errno == EINTR) continue;
        if (errno != EWOULDBLOCK) return;
        if (waited.elapsed() >= g_lockWaitMs) break;
        const timespec pause{0, 20 * 1000 * 1000};
        ::nanosleep(&pause, nullptr);
    }
    m_problem = lock.problem =
        QStringLiteral("another program is writing to a playlist file in its folder (it holds the folder's lock)");
    ::close(lock.fd);
    lock.fd = -1;
}

FolderLock::~FolderLock()
{
    const auto it = g_locks.find(m_folder);
    if (it == g_locks.end() || --it->count > 0) return;
    if (it->fd >= 0) ::close(it->fd);  // closing lets the lock go
    g_locks.erase(it);
}

namespace detail {
void setStepGate(StepGate gate, void* context)
{
    g_gate = gate;
    g_gateContext = context;
}
} // namespace detail

} // namespace storage
