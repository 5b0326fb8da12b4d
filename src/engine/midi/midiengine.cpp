#include "engine/midi/midiengine.h"

#include "midi/midirender.h"
#include "midi/soundfont.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace engine {

MidiEngine::MidiEngine(MediaEngine* inner, QObject* parent) : MediaEngine(parent), m_inner(inner)
{
    m_inner->setParent(this);
    m_reported = m_inner->state();
    connect(m_inner, &MediaEngine::stateChanged, this, &MidiEngine::syncState);
    connect(m_inner, &MediaEngine::positionJumped, this, [this](double from, double to) {
        if (passesThrough()) emit positionJumped(from, to);
    });
    connect(m_inner, &MediaEngine::loopWrapped, this, [this] {
        if (passesThrough()) emit loopWrapped();
    });
    connect(m_inner, &MediaEngine::loaded, this, [this] {
        if (passesThrough()) emit loaded();
    });
    connect(m_inner, &MediaEngine::loadFailed, this, [this](const QString& reason) {
        if (!passesThrough()) return;
        // A rendering that does not play is damaged: render it again next time.
        if (m_phase == Phase::Rendered) QFile::remove(m_rendering);
        emit loadFailed(reason);
    });
    connect(m_inner, &MediaEngine::videoChanged, this, &MediaEngine::videoChanged);
    connect(m_inner, &MediaEngine::nextStarted, this, [this] {
        if (!passesThrough()) return;
        // The inner engine plays the handed-over file now: no rendering stands in for it.
        m_phase = Phase::Direct;
        m_path = m_inner->path();
        m_rendering.clear();
        emit nextStarted();
    });
    connect(m_inner, &MediaEngine::loadProgress, this, &MediaEngine::loadProgress);
    connect(m_inner, &MediaEngine::durationChanged, this, &MidiEngine::reportDuration);
    connect(m_inner, &MediaEngine::passRateChanged, this, &MediaEngine::passRateChanged);
}

MidiEngine::~MidiEngine()
{
    dropJob();
}

void MidiEngine::dropJob()
{
    if (!m_job) return;
    disconnect(m_job->job(), nullptr, this, nullptr);
    m_job.reset();
}

void MidiEngine::load(const QString& path)
{
    dropJob();
    m_path = path;
    m_song = {};
    m_rendering.clear();
    m_seek.reset();
    m_stopped = false;
    m_pauseWanted = false;
    // Told by content: a MIDI file may carry any name, and no other file is one.
    if (!path.isEmpty() && midi::isMidiFile(path)) {
        loadMidi(path);
        return;
    }
    m_phase = Phase::Direct;
    m_inner->load(path);
    syncState();
}

void MidiEngine::loadMidi(const QString& path)
{
    QString error;
    std::optional<midi::Plan> plan = midi::plan(path, &error);
    if (!plan) {
        fail(error);
        return;
    }
    m_song = std::move(plan->song);
    const QString target = plan->target;
    const QString soundFont = plan->soundFont;
    if (QFileInfo::exists(target)) {
        midi::markUsed(target);
        playRendering(target);
        return;
    }

    m_phase = Phase::Rendering;
    m_inner->load(QString());  // nothing else plays meanwhile
    m_job = midi::render(target, m_song, soundFont);
    midi::RenderJob* job = m_job->job();
    connect(job, &midi::RenderJob::progressed, this, &MediaEngine::loadProgress);
    connect(job, &midi::RenderJob::finished, this, &MidiEngine::renderFinished);
    syncState();
    emit loadProgress(job->percent());
    // A job shared with another player may be over already.
    if (job->isFinished()) QTimer::singleShot(0, this, &MidiEngine::renderFinished);
}

void MidiEngine::renderFinished()
{
    if (m_phase != Phase::Rendering || !m_job || !m_job->job()->isFinished()) return;
    const QString error = m_job->job()->error();
    const QString target = m_job->job()->target();
    dropJob();
    if (!error.isEmpty()) {
        fail(error);
        return;
    }
    emit loadProgress(100);
    playRendering(target);
}

void MidiEngine::setBeats(const QString& path, std::shared_ptr<const beats::BeatGrid> grid)
{
    // Kept for the rendering still to come; another file's (the list's next entry's) goes on.
    if (path == m_path) {
        m_beatsPath = path;
        m_beats = grid;
    }
    const bool rendered = m_phase == Phase::Rendered && path == m_path;
    m_inner->setBeats(rendered ? m_rendering : path, std::move(grid));
}

void MidiEngine::playRendering(const QString& wav)
{
    m_phase = Phase::Rendered;
    m_rendering = wav;
    const bool stopped = m_stopped, paused = m_pauseWanted;
    const std::optional<double> seekTo = m_seek;
    m_seek.reset();
    m_stopped = m_pauseWanted = false;
    // What was asked meanwhile goes with the load, as for any file still loading.
    m_inner->load(wav);
    if (m_beats && m_beatsPath == m_path) m_inner->setBeats(wav, m_beats);
    if (stopped)
        m_inner->stop();
    else if (paused)
        m_inner->pause();
    if (seekTo) m_inner->seek(*seekTo);
    syncState();
}

void MidiEngine::fail(const QString& reason)
{
    dropJob();
    m_phase = Phase::Failed;
    m_song = {};
    m_inner->load(QString());
    syncState();
    emit loadFailed(reason);
}

bool MidiEngine::waitForLoad(int timeoutMs)
{
    switch (m_phase) {
    case Phase::Direct:
    case Phase::Rendered:
        return m_inner->waitForLoad(timeoutMs);
    case Phase::Failed:
        return false;
    case Phase::Rendering:
        break;
    }
    QElapsedTimer waited;
    waited.start();
    if (!m_job->job()->wait(std::min(timeoutMs, kRenderWaitMs))) return false;
    renderFinished();
    return m_phase == Phase::Rendered && m_inner->waitForLoad(std::max<int>(0, timeoutMs - int(waited.elapsed())));
}

QString MidiEngine::path() const { return m_path; }

bool MidiEngine::queueNext(const NextEntry& next)
{
    if (!passesThrough() || midi::isMidiFile(next.path)) return false;
    return m_inner->queueNext(next);
}

PlayState MidiEngine::state() const
{
    switch (m_phase) {
    case Phase::Direct:
    case Phase::Rendered:
        return m_inner->state();
    case Phase::Rendering:
        // Like any load under way: playing unless asked otherwise.
        return m_stopped ? PlayState::Stopped : m_pauseWanted ? PlayState::Paused : PlayState::Playing;
    case Phase::Failed:
        break;
    }
    return PlayState::Stopped;
}

void MidiEngine::syncState()
{
    reportDuration();
    const PlayState s = state();
    if (s == m_reported) return;
    const PlayState old = m_reported;
    m_reported = s;
    emit stateChanged(old, s);
}

void MidiEngine::play()
{
    if (passesThrough()) {
        m_inner->play();
    } else if (m_phase == Phase::Rendering) {
        m_stopped = m_pauseWanted = false;
        syncState();
    }
}

void MidiEngine::pause()
{
    if (passesThrough()) {
        m_inner->pause();
    } else if (m_phase == Phase::Rendering) {
        m_pauseWanted = true;
        m_stopped = false;
        syncState();
    }
}

void MidiEngine::stop()
{
    if (passesThrough()) {
        m_inner->stop();
    } else if (m_phase == Phase::Rendering) {
        m_stopped = m_pauseWanted = true;
        m_seek = 0.0;
        syncState();
    }
}

double MidiEngine::position() const
{
    if (passesThrough()) return m_inner->position();
    return m_phase == Phase::Rendering ? m_seek.value_or(0.0) : 0.0;
}

void MidiEngine::seek(double seconds)
{
    if (passesThrough())
        m_inner->seek(seconds);
    else if (m_phase == Phase::Rendering && std::isfinite(seconds))
        m_seek = std::clamp(seconds, 0.0, m_song.duration);
}

double MidiEngine::duration() const
{
    switch (m_phase) {
    case Phase::Direct:
        return m_inner->duration();
    case Phase::Rendered:
        // The rendering is the song's length to the sample; until it is open, the
        // song's own figure stands in.
        return m_inner->duration() > 0 ? m_inner->duration() : m_song.duration;
    case Phase::Rendering:
        return m_song.duration;
    case Phase::Failed:
        break;
    }
    return 0.0;
}

QHash<QString, QString> MidiEngine::metadata() const
{
    if (m_phase == Phase::Direct) return m_inner->metadata();
    return m_song.tags;
}

bool MidiEngine::hasVideo() const { return m_phase == Phase::Direct && m_inner->hasVideo(); }

} // namespace engine
