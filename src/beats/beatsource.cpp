#include "beats/beatsource.h"

#include "beats/beatanalysis.h"
#include "app/jobpool.h"
#include "storage/usercache.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QSaveFile>

namespace beats {
namespace cache = storage::cache;
namespace {

// Bumped when the analysis changes, so grids of an older one are made again.
constexpr int kGridVersion = 2;
// The analysis rests between blocks of sound, so that the window's thread finds a core on a
// busy machine: a quarter as many stalls, the analysis no slower (bench/beats/README.md).
constexpr std::chrono::microseconds kRest{200};
// A grid of a long piece takes some 100 KiB: thousands of files.
constexpr qint64 kCacheLimitBytes = qint64(32) << 20;

QString& cacheOverride()
{
    static QString folder;
    return folder;
}

// Tells every source on a file that its corrections changed.
class FixBoard : public QObject {
    Q_OBJECT
signals:
    void changed(const QString& path, const beats::GridFix& fix);
};

FixBoard& fixBoard()
{
    static FixBoard board;
    return board;
}

} // namespace

// Runs on the worker; `done` reaches the window's thread queued. The window's side lets go
// of a job it no longer needs and cancels it; the job then ends at its next block of sound.
class BeatJob : public QObject, public app::PoolJob {
    Q_OBJECT
public:
    BeatJob(QString path, QString cachePath) : m_path(std::move(path)), m_cachePath(std::move(cachePath)) {}

    void run() override
    {
        if (cancelled()) return;
        std::optional<BeatGrid> grid = readCache();
        QString error;
        if (!grid) {
            grid = analyseFile(m_path, &error, cancelFlag(), kRest);
            if (grid) save(*grid);
        }
        if (cancelled()) return;
        {
            QMutexLocker lock(&m_mutex);
            m_grid = std::move(grid);
            m_error = error;
        }
        emit done();
    }

    // On the window's thread, after done().
    std::optional<BeatGrid> result(QString& error)
    {
        QMutexLocker lock(&m_mutex);
        error = m_error;
        return std::move(m_grid);
    }

signals:
    void done();

private:
    std::optional<BeatGrid> readCache() const
    {
        QFile file(m_cachePath);
        if (m_cachePath.isEmpty() || !file.open(QIODevice::ReadOnly)) return std::nullopt;
        std::optional<BeatGrid> grid = BeatGrid::deserialize(file.read(kCacheLimitBytes));
        file.close();
        if (grid) cache::markUsed(m_cachePath);
        return grid;
    }

    void save(const BeatGrid& grid) const
    {
        if (m_cachePath.isEmpty() || cancelled()) return;
        const QString folder = QFileInfo(m_cachePath).absolutePath();
        // A cache that cannot be written only costs the next analysis.
        QSaveFile out(m_cachePath);
        if (!QDir().mkpath(folder) || !out.open(QIODevice::WriteOnly) || out.write(grid.serialize()) < 0 || !out.commit())
            return;
        cache::removeOlder(m_cachePath);
        cache::trim(folder, QStringLiteral("*.beats"), kCacheLimitBytes, m_cachePath);
    }

    const QString m_path, m_cachePath;
    QMutex m_mutex;
    std::optional<BeatGrid> m_grid;
    QString m_error;
};

namespace {

app::JobPool& worker()
{
    static app::JobPool pool;
    return pool;
}

} // namespace

QString cacheFolder() { return cacheOverride().isEmpty() ? cache::folder(QStringLiteral("peaks")) : cacheOverride(); }

void setCacheFolder(const QString& folder) { cacheOverride() = folder; }

QString gridPath(const QString& mediaPath)
{
    const QFileInfo info(mediaPath);
    if (!info.isFile()) return {};
    const QByteArray key = cache::fileStamp(info) + '\n' + QByteArray::number(kGridVersion);
    return cache::entryPath(cacheFolder(), mediaPath, key, QStringLiteral(".beats"));
}

QString fixPath(const QString& mediaPath)
{
    if (mediaPath.isEmpty()) return {};
    const QString absolute = QFileInfo(mediaPath).absoluteFilePath();
    return cache::entryPath(cacheFolder(), absolute, absolute.toUtf8(), QStringLiteral(".beatfix"));
}

BeatSource::BeatSource(QObject* parent) : QObject(parent)
{
    connect(&fixBoard(), &FixBoard::changed, this, [this](const QString& path, const GridFix& fix) {
        if (path != m_path || fix == m_fix) return;
        m_fix = fix;
        applyFix();
        emit changed();
    });
}

void BeatSource::readFix()
{
    // A few bytes: read on the window's thread.
    QFile file(fixPath(m_path));
    m_fix = file.open(QIODevice::ReadOnly) ? GridFix::fromText(file.read(4096)) : GridFix{};
}

void BeatSource::applyFix()
{
    // A file where no beat was found may still take a tapped tempo.
    const bool known = m_status == Status::Ready || m_status == Status::Failed;
    m_grid = m_fix.empty() || !known ? m_analysed : beats::applyFix(m_analysed, m_fix, m_length);
}

void BeatSource::setFix(const GridFix& fix)
{
    if (m_path.isEmpty() || fix == m_fix) return;
    const QString path = fixPath(m_path);
    QDir().mkpath(QFileInfo(path).absolutePath());
    if (fix.empty()) {
        QFile::remove(path);
    } else {
        QSaveFile out(path);
        // Not kept on a full disk; still shown for this run.
        if (out.open(QIODevice::WriteOnly) && out.write(fix.toText()) >= 0) out.commit();
    }
    m_fix = fix;
    applyFix();
    emit changed();
    emit fixBoard().changed(m_path, m_fix);
}

void BeatSource::setLength(double seconds)
{
    if (!(seconds > 0) || seconds == m_length) return;
    m_length = seconds;
    if (m_fix.tappedBpm <= 0) return;
    applyFix();
    emit changed();
}

BeatSource::~BeatSource() { app::dropJob(m_job); }

void BeatSource::setFile(const QString& path)
{
    const QFileInfo info(path);
    const QByteArray stamp = path.isEmpty() ? QByteArray() : cache::fileStamp(info);
    if (path == m_path && stamp == m_stamp) return;
    m_path = path;
    m_stamp = stamp;
    app::dropJob(m_job);
    m_grid = {};
    m_analysed = {};
    m_length = 0;
    m_error.clear();
    readFix();
    if (path.isEmpty() || !info.isFile()) {
        m_status = path.isEmpty() ? Status::Empty : Status::Failed;
        emit changed();
        return;
    }
    m_status = Status::Analysing;
    auto job = app::makePoolJob<BeatJob>(path, gridPath(path));
    connect(job.get(), &BeatJob::done, this, &BeatSource::jobDone);
    m_job = job;
    worker().start(job);
    emit changed();
}

void BeatSource::jobDone()
{
    if (!m_job) return;
    std::optional<BeatGrid> grid = m_job->result(m_error);
    app::dropJob(m_job);
    m_status = grid ? Status::Ready : Status::Failed;
    if (grid) m_analysed = std::move(*grid);
    applyFix();
    emit changed();
}

} // namespace beats

#include "beatsource.moc"
