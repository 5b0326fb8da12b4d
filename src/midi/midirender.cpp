#include "midi/midirender.h"

#include "app/pooltask.h"
#include "storage/usercache.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QElapsedTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLoggingCategory>
#include <QSaveFile>
#include <QStandardPaths>
#include <QThreadPool>
#include <QtEndian>

#include <cmath>
#include <mutex>
#include <vector>

#ifdef VAMPLET_HAVE_FLUIDSYNTH
#include <fluidsynth.h>
#endif

Q_LOGGING_CATEGORY(lcMidi, "vamplet.midi", QtWarningMsg)

namespace midi {
namespace cache = storage::cache;
namespace {

// Bumped when the rendering itself changes, so old renderings are not played.
constexpr int kRenderVersion = 1;
constexpr int kBlockFrames = 4096;
constexpr double kGain = 0.5;

QString& cacheOverride()
{
    static QString folder;
    return folder;
}

std::atomic<int> g_renders{0};

// Jobs under way by target, so two players asking for the same file share one.
struct Registry {
    QMutex mutex;
    QHash<QString, std::weak_ptr<RenderJob>> jobs;
    QThreadPool* pool = nullptr;

    ~Registry()
    {
        if (!pool) return;
        {
            QMutexLocker lock(&mutex);
            for (const auto& weak : std::as_const(jobs))
                if (const auto job = weak.lock()) job->cancel();
        }
        pool->waitForDone();
        delete pool;
    }
};

Registry& registry()
{
    static Registry r;
    return r;
}

QByteArray wavHeader(qint64 frames)
{
    const quint32 dataBytes = quint32(frames * 4);
    QByteArray h;
    auto u32 = [&h](quint32 v) { char b[4]; qToLittleEndian(v, b); h.append(b, 4); };
    auto u16 = [&h](quint16 v) { char b[2]; qToLittleEndian(v, b); h.append(b, 2); };
    h.append("RIFF");
    u32(36 + dataBytes);
    h.append("WAVEfmt ");
    u32(16);
    u16(1);  // PCM
    u16(2);
    u32(kSampleRate);
    u32(kSampleRate * 4);
    u16(4);
    u16(16);
    h.append("data");
    u32(dataBytes);
    return h;
}

#ifdef VAMPLET_HAVE_FLUIDSYNTH
void logFromSynth(int level, const char* message, void*)
{
    if (level <= FLUID_ERR)
        qCWarning(lcMidi, "fluidsynth: %s", message);
    else
        qCDebug(lcMidi, "fluidsynth: %s", message);
}

void send(fluid_synth_t* synth, const Event& e)
{
    const int ch = e.status & 0x0F;
    switch (e.status & 0xF0) {
    case 0x80: fluid_synth_noteoff(synth, ch, e.data1); break;
    case 0x90:
        if (e.data2 == 0) fluid_synth_noteoff(synth, ch, e.data1);
        else fluid_synth_noteon(synth, ch, e.data1, e.data2);
        break;
    case 0xA0: fluid_synth_key_pressure(synth, ch, e.data1, e.data2); break;
    case 0xB0: fluid_synth_cc(synth, ch, e.data1, e.data2); break;
    case 0xC0: fluid_synth_program_change(synth, ch, e.data1); break;
    case 0xD0: fluid_synth_channel_pressure(synth, ch, e.data1); break;
    case 0xE0: fluid_synth_pitch_bend(synth, ch, (e.data2 << 7) | e.data1); break;
    case 0xF0:
        if (e.status == 0xF0 && !e.sysex.isEmpty())
            fluid_synth_sysex(synth, e.sysex.constData(), int(e.sysex.size()), nullptr, nullptr, nullptr, 0);
        break;
    }
}
#endif

} // namespace

QString cacheFolder()
{
    if (!cacheOverride().isEmpty()) return cacheOverride();
    return cache::folder(QStringLiteral("midi"));
}

void setCacheFolder(const QString& folder) { cacheOverride() = folder; }

void markUsed(const QString& rendering) { cache::markUsed(rendering); }

int trimCache(const QString& folder, qint64 limitBytes, const QString& keep)
{
    return cache::trim(folder, QStringLiteral("*.wav"), limitBytes, keep);
}

QString renderingPath(const QString& midiPath, const QString& soundFont)
{
    const QFileInfo midi(midiPath);
    if (!midi.isFile()) return {};
    const QByteArray key = cache::fileStamp(midi) + '\n' + cache::fileStamp(QFileInfo(soundFont)) + '\n' +
                           QByteArray::number(kRenderVersion) + '\n' + QByteArray::number(kSampleRate);
    return cache::entryPath(cacheFolder(), midiPath, key, QStringLiteral(".wav"));
}

std::optional<Plan> plan(const QString& path, QString* error)
{
    auto failWith = [error](const QString& why) {
        if (error) *error = why;
        return std::nullopt;
    };
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return failWith(RenderJob::tr("The file cannot be read."));
    QString why;
    // parse() refuses what is too large; no need to read more to know.
    std::optional<Song> song = parse(file.read(kMaxFileBytes + 1), &why);
    if (!song) return failWith(why);
    if (!synthesizerAvailable())
        return failWith(RenderJob::tr("This build of the program has no MIDI synthesizer (libfluidsynth)."));
    const SoundFontChoice font = findSoundFont();
    if (font.path.isEmpty()) return failWith(font.problem);
    return Plan{std::move(*song), font.path, renderingPath(path, font.path)};
}

int renderCount() { return g_renders; }

bool synthesizerAvailable()
{
#ifdef VAMPLET_HAVE_FLUIDSYNTH
    return true;
#else
    return false;
#endif
}

RenderJob::RenderJob(const QString& target, const Song& song, const QString& soundFont)
    : m_target(target), m_song(song), m_soundFont(soundFont)
{
}

bool RenderJob::wait(int ms)
{
    QMutexLocker lock(&m_mutex);
    if (!m_finished) m_done.wait(&m_mutex, QDeadlineTimer(std::max(0, ms)));
    return m_finished;
}

bool RenderJob::isFinished() const
{
    QMutexLocker lock(&m_mutex);
    return m_finished;
}

QString RenderJob::error() const
{
    QMutexLocker lock(&m_mutex);
    return m_error;
}

void RenderJob::run()
{
    const QString error = m_cancel ? QString() : render();
    complete(error);
}

void RenderJob::complete(const QString& error)
{
    {
        QMutexLocker lock(&m_mutex);
        m_finished = true;
        m_error = m_cancel && error.isEmpty() && !QFileInfo::exists(m_target) ? tr("The rendering was cancelled.") : error;
    }
    m_done.wakeAll();
    // Nobody listens to a cancelled job, and the program may be on its way out.
    if (!m_cancel) emit finished();
}

QString RenderJob::render()
{
#ifndef VAMPLET_HAVE_FLUIDSYNTH
    return tr("This build of the program has no MIDI synthesizer (libfluidsynth).");
#else
    QElapsedTimer clock;
    clock.start();
    if (!QDir().mkpath(QFileInfo(m_target).absolutePath()))
        return tr("The folder for rendered MIDI files cannot be made: %1").arg(QFileInfo(m_target).absolutePath());

    std::unique_ptr<fluid_settings_t, void (*)(fluid_settings_t*)> settings(new_fluid_settings(), delete_fluid_settings);
    if (!settings) return tr("The MIDI synthesizer cannot be started.");
    fluid_settings_setnum(settings.get(), "synth.sample-rate", kSampleRate);
    fluid_settings_setnum(settings.get(), "synth.gain", kGain);
    fluid_settings_setint(settings.get(), "synth.threadsafe-api", 0);
    fluid_settings_setint(settings.get(), "synth.cpu-cores", 1);
    std::unique_ptr<fluid_synth_t, void (*)(fluid_synth_t*)> synth(new_fluid_synth(settings.get()), delete_fluid_synth);
    if (!synth) return tr("The MIDI synthesizer cannot be started.");
    if (fluid_synth_sfload(synth.get(), QFile::encodeName(m_soundFont).constData(), 1) == FLUID_FAILED)
        return tr("The sound font '%1' cannot be read.").arg(m_soundFont);

    const qint64 total = std::llround(m_song.duration * kSampleRate);
    QSaveFile out(m_target);
    if (!out.open(QIODevice::WriteOnly))
        return tr("The rendered sound cannot be written to %1: %2").arg(m_target, out.errorString());
    out.write(wavHeader(total));

    std::vector<qint16> buffer(2 * kBlockFrames);
    qint64 frame = 0;
    int lastPercent = -1;
    // Renders up to `end`; false when cancelled.
    auto renderTo = [&](qint64 end) {
        while (frame < end) {
            if (m_cancel) return false;
            const int n = int(std::min<qint64>(kBlockFrames, end - frame));
            fluid_synth_write_s16(synth.get(), n, buffer.data(), 0, 2, buffer.data(), 1, 2);
            if constexpr (Q_BYTE_ORDER == Q_BIG_ENDIAN)
                for (int i = 0; i < 2 * n; ++i) buffer[i] = qToLittleEndian(buffer[i]);
            out.write(reinterpret_cast<const char*>(buffer.data()), qint64(n) * 4);
            frame += n;
            const int percent = int(frame * 100 / std::max<qint64>(1, total));
            if (percent != lastPercent) {
                lastPercent = percent;
                m_percent = percent;
                emit progressed(percent);
            }
        }
        return true;
    };
    for (const Event& e : m_song.events) {
        if (!renderTo(std::min(total, std::llround(e.seconds * kSampleRate)))) break;
        send(synth.get(), e);
    }
    if (!renderTo(total) || m_cancel) {
        out.cancelWriting();
        return {};
    }
    if (!out.commit()) return tr("The rendered sound cannot be written to %1: %2").arg(m_target, out.errorString());
    cache::removeOlder(m_target);
    trimCache(QFileInfo(m_target).absolutePath(), kCacheLimitBytes, m_target);
    qCDebug(lcMidi, "rendered %.1f s of MIDI in %lld ms", m_song.duration, qint64(clock.elapsed()));
    return {};
#endif
}

RenderHandle::RenderHandle(std::shared_ptr<RenderJob> job) : m_job(std::move(job)) { ++m_job->claims; }

RenderHandle::~RenderHandle()
{
    if (--m_job->claims == 0) m_job->cancel();
}

std::unique_ptr<RenderHandle> render(const QString& target, const Song& song, const QString& soundFont)
{
#ifdef VAMPLET_HAVE_FLUIDSYNTH
    static std::once_flag logOnce;
    std::call_once(logOnce, [] {
        for (int level = FLUID_PANIC; level < LAST_LOG_LEVEL; ++level)
            fluid_set_log_function(level, logFromSynth, nullptr);
    });
#endif
    Registry& r = registry();
    QMutexLocker lock(&r.mutex);
    if (const auto running = r.jobs.value(target).lock(); running && !running->cancelled() && !running->isFinished())
        return std::make_unique<RenderHandle>(running);

    // Deleted on the thread it belongs to, whichever thread lets go of it last.
    std::shared_ptr<RenderJob> job(new RenderJob(target, song, soundFont), [](RenderJob* j) { j->deleteLater(); });
    auto handle = std::make_unique<RenderHandle>(job);
    r.jobs.insert(target, job);
    if (!r.pool) {
        r.pool = new QThreadPool;
        // One at a time: the player and the sound output need the other core.
        r.pool->setMaxThreadCount(1);
    }
    ++g_renders;
    app::startInPool(*r.pool, [job] {
        job->run();
        Registry& reg = registry();
        QMutexLocker l(&reg.mutex);
        if (reg.jobs.value(job->target()).lock() == job) reg.jobs.remove(job->target());
    });
    return handle;
}

} // namespace midi
