#include "waveform/waveformsource.h"

#include "app/jobpool.h"
#include "audio/audiodecoder.h"
#include "midi/midifile.h"
#include "midi/midirender.h"
#include "storage/usercache.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QSaveFile>
#include <QTimer>

namespace waveform {
namespace cache = storage::cache;
namespace {

// Bumped when the peaks themselves change, so old ones are not shown.
constexpr int kPeaksVersion = 1;
constexpr qint64 kReadFrames = 16384;
// How often peaks go to the window while they are made.
constexpr int kHandOverMs = 40;
// The longest stretch of frames read for sample zoom.
constexpr qint64 kMaxWindowFrames = qint64(1) << 20;

QString& cacheOverride()
{
    static QString folder;
    return folder;
}

SourceOpener& openerOverride()
{
    static SourceOpener opener;
    return opener;
}

std::unique_ptr<FrameSource> openWithDecoder(const QString& path, QString* error);

} // namespace

// Runs on a worker thread; its signals reach the window's thread queued.
class PeaksJob : public QObject, public app::PoolJob {
    Q_OBJECT
public:
    PeaksJob(QString audioPath, QString cachePath, SourceOpener opener)
        : m_audioPath(std::move(audioPath)), m_cachePath(std::move(cachePath)), m_open(std::move(opener))
    {
    }

    void run() override;

    // On the window's thread: what arrived since the last call.
    std::vector<PeakDelta> take(Peaks& format, QString& error)
    {
        QMutexLocker lock(&m_mutex);
        m_queued = false;
        format.sampleRate = m_format.sampleRate;
        format.channels = m_format.channels;
        if (format.frames < 0) format.frames = m_format.frames;
        error = m_error;
        return std::exchange(m_pending, {});
    }

signals:
    void progressed();

private:
    bool readCache();
    void build();
    void publish(PeakDelta delta, const QString& error = {});
    void save(const Peaks& peaks);

    const QString m_audioPath, m_cachePath;
    const SourceOpener m_open;
    QMutex m_mutex;
    Peaks m_format;
    std::vector<PeakDelta> m_pending;
    QString m_error;
    bool m_queued = false;
};

class WindowJob : public QObject, public app::PoolJob {
    Q_OBJECT
public:
    WindowJob(QString path, qint64 from, qint64 count, SourceOpener opener)
        : m_path(std::move(path)), m_from(from), m_count(count), m_open(std::move(opener))
    {
    }
    void run() override
    {
        if (cancelled()) return;
        QString error;
        std::unique_ptr<FrameSource> src = m_open(m_path, &error);
        SampleWindow w;
        w.first = m_from;
        if (src && src->channels() > 0 && src->seek(m_from)) {
            const int ch = src->channels();
            std::vector<float> buf(size_t(std::min(m_count, kReadFrames) * ch));
            while (qint64(w.lo.size()) < m_count && !cancelled()) {
                const qint64 n = src->read(buf.data(), std::min<qint64>(m_count - qint64(w.lo.size()), kReadFrames));
                if (n <= 0) break;
                for (qint64 f = 0; f < n; ++f) {
                    const float* frame = buf.data() + f * ch;
                    const auto [lo, hi] = std::minmax_element(frame, frame + ch);
                    w.lo.push_back(*lo);
                    w.hi.push_back(*hi);
                }
            }
        }
        {
            QMutexLocker lock(&m_mutex);
            m_result = std::move(w);
        }
        if (!cancelled()) emit done();
    }
    SampleWindow result()
    {
        QMutexLocker lock(&m_mutex);
        return std::move(m_result);
    }

signals:
    void done();

private:
    const QString m_path;
    const qint64 m_from, m_count;
    const SourceOpener m_open;
    QMutex m_mutex;
    SampleWindow m_result;
};

namespace {

// Peaks are built and sample windows read on workers of their own, so that a long build
// never holds up the window the view asks for.
app::JobPool& building()
{
    static app::JobPool pool;
    return pool;
}

app::JobPool& reading()
{
    static app::JobPool pool;
    return pool;
}

} // namespace

void PeaksJob::run()
{
    if (cancelled()) return;
    if (!readCache()) build();
}

bool PeaksJob::readCache()
{
    QFile file(m_cachePath);
    if (m_cachePath.isEmpty() || !file.open(QIODevice::ReadOnly)) return false;
    std::optional<Peaks> peaks = Peaks::deserialize(file.read(kCacheLimitBytes));
    if (!peaks) return false;
    file.close();
    cache::markUsed(m_cachePath);
    {
        QMutexLocker lock(&m_mutex);
        m_format.sampleRate = peaks->sampleRate;
        m_format.channels = peaks->channels;
        m_format.frames = peaks->frames;
    }
    publish({std::move(peaks->levels), peaks->frames, true});
    return true;
}

void PeaksJob::build()
{
    QString error;
    std::unique_ptr<FrameSource> src = m_open ? m_open(m_audioPath, &error) : nullptr;
    if (!src || src->channels() <= 0 || src->sampleRate() <= 0) {
        publish({}, error.isEmpty() ? tr("The sound of this file cannot be read.") : error);
        return;
    }
    {
        QMutexLocker lock(&m_mutex);
        m_format.sampleRate = src->sampleRate();
        m_format.channels = src->channels();
        m_format.frames = src->frames();
    }
    PeakBuilder builder(src->channels());
    Peaks whole;
    whole.sampleRate = src->sampleRate();
    whole.channels = src->channels();
    std::vector<float> buffer(size_t(kReadFrames * src->channels()));
    QElapsedTimer sinceHandOver;
    sinceHandOver.start();
    for (;;) {
        if (cancelled()) return;
        const qint64 n = src->read(buffer.data(), kReadFrames);
        if (n < 0) {
            publish({}, tr("The sound of this file cannot be read to its end."));
            return;
        }
        if (n == 0) break;
        builder.add(buffer.data(), n);
        if (sinceHandOver.elapsed() >= kHandOverMs) {
            sinceHandOver.restart();
            PeakDelta delta = builder.take();
            whole.append(PeakDelta(delta));
            publish(std::move(delta));
        }
    }
    builder.finish();
    PeakDelta last = builder.take();
    whole.append(PeakDelta(last));
    // Before the hand-over: the window lets go of the job once it has everything.
    save(whole);
    publish(std::move(last));
}

void PeaksJob::publish(PeakDelta delta, const QString& error)
{
    bool signal = false;
    {
        QMutexLocker lock(&m_mutex);
        if (!error.isEmpty()) m_error = error;
        else m_pending.push_back(std::move(delta));
        signal = !std::exchange(m_queued, true);
    }
    if (signal && !cancelled()) emit progressed();
}

void PeaksJob::save(const Peaks& peaks)
{
    if (m_cachePath.isEmpty() || cancelled()) return;
    const QString folder = QFileInfo(m_cachePath).absolutePath();
    if (!QDir().mkpath(folder)) return;
    // A cache that cannot be written only costs the next reading.
    QSaveFile out(m_cachePath);
    if (!out.open(QIODevice::WriteOnly) || out.write(peaks.serialize()) < 0 || !out.commit()) return;
    cache::removeOlder(m_cachePath);
    cache::trim(folder, QStringLiteral("*.peaks"), kCacheLimitBytes, m_cachePath);
}

// ---- Settings ---------------------------------------------------------------------------

void setSourceOpener(SourceOpener opener) { openerOverride() = std::move(opener); }

SourceOpener sourceOpener() { return openerOverride() ? openerOverride() : SourceOpener(openWithDecoder); }

QString cacheFolder() { return cacheOverride().isEmpty() ? cache::folder(QStringLiteral("peaks")) : cacheOverride(); }

void setCacheFolder(const QString& folder) { cacheOverride() = folder; }

QString peaksPath(const QString& audioPath)
{
    const QFileInfo info(audioPath);
    if (!info.isFile()) return {};
    const QByteArray key = cache::fileStamp(info) + '\n' + QByteArray::number(kPeaksVersion) + '\n' +
                           QByteArray::number(kBaseBucket) + '\n' + QByteArray::number(kLevelFactor);
    return cache::entryPath(cacheFolder(), audioPath, key, QStringLiteral(".peaks"));
}

// ---- The window's side -------------------------------------------------------------------

WaveformSource::WaveformSource(QObject* parent) : QObject(parent) {}

WaveformSource::~WaveformSource()
{
    app::dropJob(m_job);
    app::dropJob(m_windowJob);
}

void WaveformSource::setFile(const QString& path)
{
    const QFileInfo info(path);
    const QByteArray stamp = path.isEmpty() ? QByteArray() : cache::fileStamp(info);
    // A file that failed is tried again once it changes.
    if (path == m_path && stamp == m_stamp) return;
    m_path = path;
    m_stamp = stamp;
    app::dropJob(m_job);
    app::dropJob(m_windowJob);
    m_render.reset();
    m_peaks.clear();
    m_window = {};
    m_wantFrom = -1;
    m_error.clear();
    m_percent = 0;
    m_audioPath.clear();
    if (path.isEmpty()) {
        m_status = Status::Empty;
        emit changed();
        return;
    }
    if (!info.isFile()) {
        fail(tr("The file cannot be found."));
        return;
    }
    if (!midi::isMidiFile(path)) {
        startPeaks(path);
        return;
    }
    QString why;
    std::optional<midi::Plan> plan = midi::plan(path, &why);
    if (!plan) {
        fail(why);
        return;
    }
    if (QFileInfo::exists(plan->target)) {
        startPeaks(plan->target);
        return;
    }
    // Joins the player's rendering of the same file when there is one.
    m_status = Status::Preparing;
    m_audioPath = plan->target;
    m_render = midi::render(plan->target, plan->song, plan->soundFont);
    midi::RenderJob* job = m_render->job();
    connect(job, &midi::RenderJob::progressed, this, [this](int percent) {
        m_percent = percent;
        emit changed();
    });
    connect(job, &midi::RenderJob::finished, this, &WaveformSource::renderDone);
    if (job->isFinished()) QTimer::singleShot(0, this, &WaveformSource::renderDone);
    emit changed();
}

void WaveformSource::renderDone()
{
    if (!m_render || !m_render->job()->isFinished()) return;
    const QString error = m_render->job()->error();
    m_render.reset();
    if (!error.isEmpty()) fail(error);
    else startPeaks(m_audioPath);
}

void WaveformSource::startPeaks(const QString& audioPath)
{
    m_audioPath = audioPath;
    m_status = Status::Reading;
    auto job = app::makePoolJob<PeaksJob>(audioPath, peaksPath(audioPath), sourceOpener());
    connect(job.get(), &PeaksJob::progressed, this, &WaveformSource::drain);
    m_job = job;
    building().start(job);
    emit changed();
}

void WaveformSource::drain()
{
    if (!m_job) return;
    QString error;
    std::vector<PeakDelta> deltas = m_job->take(m_peaks, error);
    for (PeakDelta& d : deltas) m_peaks.append(std::move(d));
    if (!error.isEmpty()) {
        fail(error);
        return;
    }
    if (m_peaks.complete) {
        m_status = Status::Ready;
        app::dropJob(m_job);
    }
    emit changed();
}

void WaveformSource::fail(const QString& why)
{
    app::dropJob(m_job);
    m_status = Status::Failed;
    m_error = why;
    emit changed();
}

void WaveformSource::requestWindow(qint64 from, qint64 count)
{
    from = std::max<qint64>(0, from);
    count = std::clamp<qint64>(count, 0, kMaxWindowFrames);
    if (m_audioPath.isEmpty() || m_status == Status::Preparing || count == 0) return;
    if (from >= m_window.first && from + count <= m_window.end()) return;
    if (m_windowJob && from >= m_wantFrom && from + count <= m_wantFrom + m_wantCount) return;
    app::dropJob(m_windowJob);
    m_wantFrom = from;
    m_wantCount = count;
    auto job = app::makePoolJob<WindowJob>(m_audioPath, from, count, sourceOpener());
    connect(job.get(), &WindowJob::done, this, &WaveformSource::windowDone);
    m_windowJob = job;
    reading().start(job);
}

void WaveformSource::windowDone()
{
    if (!m_windowJob) return;
    m_window = m_windowJob->result();
    app::dropJob(m_windowJob);
    emit windowReady();
}

namespace {

class DecoderSource : public FrameSource {
public:
    audio::Decoder decoder;
    audio::Format format;
    int sampleRate() const override { return format.sampleRate; }
    int channels() const override { return format.channels; }
    qint64 frames() const override { return format.frames; }
    qint64 read(float* out, qint64 maxFrames) override { return decoder.read(out, maxFrames); }
    bool seek(qint64 frame) override { return decoder.seek(frame); }
};

std::unique_ptr<FrameSource> openWithDecoder(const QString& path, QString* error)
{
    auto src = std::make_unique<DecoderSource>();
    if (!src->decoder.open(path, error)) return nullptr;
    src->format = src->decoder.format();
    return src;
}

} // namespace

} // namespace waveform

#include "waveformsource.moc"
