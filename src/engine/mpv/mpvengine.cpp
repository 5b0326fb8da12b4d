#include "engine/mpv/mpvengine.h"

#include "engine/mpvformats.h"
#include "engine/mpv/mpvhear.h"
#include "engine/mpv/beatschedule.h"
#include "engine/mpv/clickoutput.h"
#include "engine/mpv/mpvline.h"
#include "engine/mpv/mpvmetronome.h"
#include "engine/mpv/mpvpractice.h"
#include "engine/mpv/mpvvideoview.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFontInfo>
#include <QFile>
#include <QFileInfo>
#include <QThreadPool>

#include <algorithm>
#include <cmath>
#include <limits>

namespace engine {

namespace {

QByteArray seconds(double s)
{
    // Fixed notation: mpv's time options take neither exponents nor a locale's comma.
    return QByteArray::number(s, 'f', 6);
}

} // namespace

MpvEngine::MpvEngine(QObject* parent) : MpvEngine(Options{}, parent) {}

MpvEngine::MpvEngine(const Options& options, QObject* parent)
    : MediaEngine(parent), m_options(options), m_mpv(options.videoOutput, options.audioOutput, this),
      m_clock([this] { return now(); })
{
    m_practice = new MpvPractice(this);
    m_metronome = new MpvMetronome([this](qint64 heardFrame) { return heardRun(heardFrame); },
                                   [this](bool open) { return m_practice->clicks(open); }, this);
    m_elapsed.start();
    m_heardTimer.setSingleShot(true);
    m_heardTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_heardTimer, &QTimer::timeout, this, [this] { resolveHeard(); });
    m_hearWait.setSingleShot(true);
    connect(&m_hearWait, &QTimer::timeout, this, &MpvEngine::sendHear);
    m_loadLimit.setSingleShot(true);
    connect(&m_loadLimit, &QTimer::timeout, this, &MpvEngine::giveUpLoad);
    connect(m_practice, &MpvPractice::released, this, &MpvEngine::releasePass);
    m_practice->setSoundLag([this](double rate) { return soundLag(rate); });
    connect(m_practice, &MpvPractice::passRateChanged, this, &MpvEngine::passRateChanged);
    writeFilters();
}

MpvEngine::~MpvEngine()
{
    // The render context must go before the core it renders for.
    if (m_view) m_view->detach();
}

// ---- loading ----

bool MpvEngine::looksLikeUrl(const QString& path)
{
    if (path.contains(QLatin1String("://"))) return true;
    // A scheme such as "av:" or "file:"; a single letter before the colon is a drive.
    const qsizetype colon = path.indexOf(QLatin1Char(':'));
    if (colon < 2) return false;
    for (qsizetype i = 0; i < colon; ++i) {
        const QChar c = path.at(i);
        const bool letter = (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
                            (c >= QLatin1Char('A') && c <= QLatin1Char('Z'));
        const bool other = c.isDigit() || c == QLatin1Char('+') || c == QLatin1Char('-') ||
                           c == QLatin1Char('.');
        if (!letter && !(i > 0 && other)) return false;
    }
    return true;
}

void MpvEngine::load(const QString& path)
{
    resetFileState();
    ++m_loadGeneration;
    m_path = path;
    m_metronome->setFile(path);
    m_startPassed.reset();
    if (m_motion != Motion::Ended) m_quietSince.reset();
    m_motion = Motion::Playing;
    m_unpauseAfterSeek = false;

    if (!isValid()) {
        updateState();
        if (!path.isEmpty()) emit loadFailed(tr("The media engine is not available."));
        return;
    }
    if (path.isEmpty()) {
        // Synchronous: mpv may run an asynchronous command after a later synchronous one,
        // and a stop landing after the next loadfile stopped that file for good.
        const char* args[] = {"stop", nullptr};
        m_mpv.command(args);
        updateState();
        return;
    }
    if (looksLikeUrl(path)) {
        failLoad(tr("Only local files can be played."));
        return;
    }
    const QFileInfo info(path);
    if (!info.exists()) {
        failLoad(tr("The file does not exist."));
        return;
    }
    if (!info.isFile()) {
        failLoad(tr("This is not a file."));
        return;
    }

    // One argument, never inside an option string: no quoting to get wrong. The pause
    // stays as it is until the new file starts (onStartFile): unpaused now, the old
    // file's output would sound for a moment.
    const QByteArray file = QFile::encodeName(info.absoluteFilePath());
    const char* args[] = {"loadfile", file.constData(), "replace", nullptr};
    const int rc = m_mpv.command(args);
    if (rc < 0) {
        failLoad(MpvHandle::errorString(rc));
        return;
    }
    // "replace" leaves our file alone in the playlist: its id tells our events apart
    // from those of the file it replaced.
    m_entryId = m_mpv.readInt("playlist/0/id").value_or(-1);
    m_load = LoadPhase::Opening;
    m_queueDeadline = QDeadlineTimer(kQueueLimitMs);
    limitLoad(kLoadLimitMs);
    updateState();
}

void MpvEngine::limitLoad(qint64 ms)
{
    m_loadSince.start();
    m_loadWaits = readThreadWaits();
    m_loadLimitMs = ms;
    checkLoadIn(ms);
}

void MpvEngine::checkLoadIn(qint64 ms)
{
    m_loadDeadline = QDeadlineTimer(ms, Qt::PreciseTimer);
    m_loadLimit.start(static_cast<int>(std::max<qint64>(0, ms)));
}

void MpvEngine::giveUpLoad()
{
    if (m_load == LoadPhase::Opening && !m_queueDeadline.hasExpired()) {
        // mpv has not begun this file yet: it is still ending the one before (a playlist
        // it refused is read through a second time, slowly on a busy machine). The limit
        // is for opening this file, counted once mpv begins it.
        limitLoad(m_queueDeadline.remainingTime());
        return;
    }
    if (m_load != LoadPhase::Opening && m_load != LoadPhase::Started) return;
    const qint64 wall = m_loadSince.elapsed();
    const qint64 starved = longestWaitMs(m_loadWaits, readThreadWaits());
    if (judgeLoad(wall, starved, m_loadLimitMs) == LoadTime::InTime) {
        // Slow, not stuck: the machine kept it waiting. Looked at again when the time it
        // may yet be let run would make up the limit.
        const qint64 left = m_loadLimitMs - (wall - std::min(starved, wall));
        const qint64 cap = m_loadLimitMs * kLoadWallCapFactor - wall;
        qCDebug(lcEngine, "load slow: %lld ms, %lld of them waiting for a processor", wall, starved);
        checkLoadIn(std::clamp<qint64>(left, 10, std::max<qint64>(cap, 10)));
        return;
    }
    failLoad(tr("The file did not open within a second; it may not be a local media file."));
}

bool MpvEngine::waitForLoad(int timeoutMs)
{
    if (isLoaded()) return true;
    const auto loading = [this] { return m_load == LoadPhase::Opening || m_load == LoadPhase::Started; };
    if (!isValid() || !loading()) return false;
    const QDeadlineTimer deadline(std::max(0, timeoutMs), Qt::PreciseTimer);
    // Take mpv's events right here rather than in a nested event loop, so nothing else
    // of the program runs while a caller waits. The load's limit moves as mpv begins it.
    while (loading() && isValid()) {
        const bool limited = m_loadDeadline < deadline;
        const qint64 left = (limited ? m_loadDeadline : deadline).remainingTime();
        if (left > 0) {
            m_mpv.waitEvent(left / 1000.0);
        } else if (limited) {
            giveUpLoad();
        } else {
            break;
        }
    }
    return isLoaded();
}

void MpvEngine::resetFileState()
{
    m_load = LoadPhase::Empty;
    m_seek = SeekPhase::None;
    m_duration = 0;
    m_ownDuration.reset();
    m_metadata.clear();
    m_hasVideo = false;
    m_videoClock = false;
    m_frameLead = 0;
    m_framePeriod = 0;
    m_framePhase = 0;
    m_eofSeen = false;
    m_clock.holdAt(0);
    cancelPending();
    reportVideo();
    reportDuration();
}

void MpvEngine::failLoad(const QString& reason)
{
    m_loadLimit.stop();
    m_load = LoadPhase::Empty;
    m_seek = SeekPhase::None;
    cancelPending();
    // Whatever was playing or half open goes: the engine is left empty and usable.
    const char* args[] = {"stop", nullptr};
    m_mpv.command(args);  // in order with the next load, as in load()
    updateState();
    reportVideo();
    reportDuration();
    emit loadFailed(reason);
}

void MpvEngine::onStartFile(std::int64_t entryId)
{
    if ((m_load != LoadPhase::Opening && m_load != LoadPhase::Started) || entryId != m_entryId) return;
    m_load = LoadPhase::Started;
    limitLoad(kLoadLimitMs);
    // The old file and its sound are gone: unpaused now, the output starts again while
    // the new file opens. A first pass that begins with a hold is kept paused instead
    // (onPreloaded).
    if (!pauseWanted() && !m_practice->startHoldDue()) m_mpv.write("pause", "no");
}

void MpvEngine::onPreloaded()
{
    if (m_load != LoadPhase::Started) return;
    if (const auto d = m_mpv.readDouble("duration"); d && *d > 0) m_duration = *d;

    const MpvHandle::Tracks tracks = m_mpv.readTracks();
    if (!tracks.audio && !tracks.video && !tracks.cover) {
        failLoad(tr("The file holds neither sound nor pictures."));
        return;
    }
    onTrackList(tracks);  // the frames a start or loop is placed on

    if (const auto format = m_mpv.readString("file-format")) {
        if (*format == "mpegvideo") {
            // Unknown until counted: mpv's guesses are not told meanwhile.
            m_ownDuration = 0.0;
            m_duration = 0;
            countStreamLength();
        }
        const QByteArray offset = demuxerSeekOffset(*format);
        if (!offset.isEmpty()) m_mpv.writeFileLocal("hr-seek-demuxer-offset", offset);
    }

    applyLoop();  // now that the file's end is known
    if (seekPending()) {
        // Hand a seek made while loading over with the load itself: no sound from 0 first.
        m_mpv.writeFileLocal("start", seconds(seekPoint(m_seekTarget)));
        m_startPassed = m_seekTarget;
    }
    // mpv waits for us here, so the pause takes effect before anything is decoded: this
    // event, or our handling of the landing, may come long after mpv began to play.
    pauseForStartHold();
}

void MpvEngine::pauseForStartHold()
{
    if (pauseWanted() || !m_practice->startHoldDue()) return;
    m_mpv.write("pause", "yes");
    m_unpauseAfterSeek = true;  // the landing plays should the hold not come after all
}

void MpvEngine::countStreamLength()
{
    // mpv guesses such a stream's length from what it has read so far. Counting its
    // pictures reads the whole file (a second and more on a large one), so it runs off the
    // UI thread and the count follows; until then mpv's guess stands.
    QPointer<MpvEngine> self(this);
    QThreadPool::globalInstance()->start([self, path = m_path, generation = m_loadGeneration] {
        const double seconds = mpegVideoStreamSeconds(path);
        QMetaObject::invokeMethod(QCoreApplication::instance(), [self, generation, seconds] {
            if (self) self->streamCounted(generation, seconds);
        }, Qt::QueuedConnection);
    });
}

void MpvEngine::streamCounted(std::uint64_t generation, double seconds)
{
    if (generation != m_loadGeneration || m_load == LoadPhase::Empty) return;
    double d = seconds;
    if (d <= 0) {
        // Not a stream after all: mpv's figure is the best there is.
        m_ownDuration.reset();
        d = m_mpv.readDouble("duration").value_or(seconds);
        if (!(d > 0)) return;
    } else {
        m_ownDuration = d;
    }
    m_duration = d;
    if (isLoaded()) applyLoop();
    reportDuration();
}

void MpvEngine::onFileLoaded()
{
    if (m_load != LoadPhase::Started) return;
    if (const auto d = m_mpv.readDouble("duration"); d && *d > 0) m_duration = *d;
    if (m_ownDuration) m_duration = *m_ownDuration;
    m_sampleRate = m_mpv.readDouble("current-tracks/audio/demux-samplerate").value_or(0.0);
    onTrackList(m_mpv.readTracks());
    onMetadata(m_mpv.readMetadata());

    m_loadLimit.stop();
    m_load = LoadPhase::Settling;
    if (seekPending() && m_startPassed != m_seekTarget) {
        applyLoop();
        issueSeek(m_seekTarget);
    }
    m_clock.holdAt(seekPending() ? m_seekTarget : 0.0);
    reportVideo();
    reportDuration();
    emit loaded();
    updateState();
}

void MpvEngine::onEndFile(std::int64_t entryId, MpvHandle::EndReason reason, int error)
{
    if (entryId != m_entryId) return;
    // Stopped or replaced by us: nothing to report.
    if (reason == MpvHandle::EndReason::Ours) return;
    const bool loading = m_load == LoadPhase::Opening || m_load == LoadPhase::Started;
    if (reason == MpvHandle::EndReason::Redirect) {
        // The file named other files or places to play instead; none is followed.
        if (m_load != LoadPhase::Empty) failLoad(tr("The file is a playlist or a reference, not media."));
        return;
    }
    if (loading) {
        failLoad(reason == MpvHandle::EndReason::Error ? loadErrorText(error) : tr("The file holds nothing to play."));
        return;
    }
    if (isLoaded()) {
        // keep-open holds every file that played; one that ends anyway broke while playing.
        resetFileState();
        updateState();
    }
}

void MpvEngine::onMetadata(const QHash<QString, QString>& tags)
{
    m_metadata = tags;
}

void MpvEngine::onTrackList(const MpvHandle::Tracks& tracks)
{
    m_hasVideo = tracks.video;
    // Pictures without sound go by the frame on screen. With sound, time-pos runs a frame
    // ahead (it names the frame handed to the output, not the one shown), while audio-pts
    // is what is heard, and mpv keeps the pictures in step with it.
    m_videoClock = tracks.videoShown && !tracks.audioHeard;
    // time-pos names the picture handed on after the one on screen: one frame ahead.
    const auto fps = tracks.videoShown ? m_mpv.readDouble("container-fps") : std::nullopt;
    const double period = fps && *fps > 0 ? 1.0 / *fps : 0.0;
    m_frameLead = m_videoClock ? period : 0.0;
    m_framePeriod = tracks.audioHeard ? period : 0.0;
    reportVideo();
}

void MpvEngine::reportVideo()
{
    const bool v = hasVideo();
    if (v == m_videoReported) return;
    m_videoReported = v;
    emit videoChanged(v);
}

void MpvEngine::onDuration(std::optional<double> d)
{
    if (!d || *d <= 0 || *d == m_duration || m_ownDuration) return;
    m_duration = *d;
    if (isLoaded()) applyLoop();
    reportDuration();
}

// ---- transport ----

void MpvEngine::setPractice(const PracticeSettings& practice, int pass)
{
    // The transpose is mpv's own Rubber Band filter, which then does the speed too.
    const QByteArray transpose = practice.hasTranspose()
                                     ? "rubberband=pitch-scale=" + QByteArray::number(practice.pitchScale(), 'f', 6)
                                     : QByteArray();
    const bool commanded = commandHear(practice.hear);
    m_practice->setPractice(practice, pass, m_entryRate);
    if (!commanded || transpose != m_transposeFilter || stretchWanted() != m_stretchFilter) {
        m_transposeFilter = transpose;
        writeFilters();
    }
    applySpeed(m_practice->speed());
    // An entry's own switch, as it starts or as its settings change; the key's between.
    if (pass != kGoOn || practice.metronome != m_entryMetronome) setMetronome(practice.metronome);
    m_entryMetronome = practice.metronome;
}

void MpvEngine::setBeats(const QString& path, std::shared_ptr<const beats::BeatGrid> grid)
{
    m_metronome->setBeats(path, std::move(grid));
    updateCountInBar();
}

void MpvEngine::setMetronome(bool on)
{
    m_metronome->setOn(on);
    m_practice->setMetronome(on);
}

bool MpvEngine::metronome() const
{
    return m_metronome->on();
}

void MpvEngine::updateCountInBar()
{
    // Every pass but a first one sought elsewhere begins at the stretch's start.
    const double start = m_hasLoop ? std::max(0.0, m_loop.start) : seekPending() ? m_seekTarget : 0.0;
    std::vector<audio::SourceClick> bar;
    if (const beats::BeatGrid* g = m_metronome->grid(m_path))
        for (const beats::Tick& t : beats::countInBar(*g, start)) bar.push_back({t.seconds - start, t.downbeat});
    m_practice->setCountInBar(std::move(bar));
}

double MpvEngine::soundLag(double rate) const
{
    const bool kept = m_hear.centre == HearSettings::Centre::Keep && m_sampleRate > 0;
    return mpvHeardLag(rate, stretch()) + (kept ? kHearKeepFrames / m_sampleRate : 0.0);
}

QByteArray MpvEngine::stretcherEntry() const
{
    return m_transposeFilter.isEmpty() && m_stretchFilter ? QByteArray("rubberband") : m_transposeFilter;
}

MpvStretch MpvEngine::stretch() const
{
    return stretcherEntry().isEmpty() ? MpvStretch::Own : MpvStretch::RubberBand;
}

QByteArray MpvEngine::cutAt(double at) const
{
    // mpv cuts by the date of the sound out of its filters: Rubber Band's runs early.
    return seconds(std::max(0.0, at - stretchEarly()));
}

QByteArray MpvEngine::endAt(double stop) const
{
    // Past a stop at the file's end lie only the hear chain's last frames, which it hands
    // on late under later dates: cut there, they were lost. The file's own end stops it.
    return m_duration > 0 && stop >= m_duration ? QByteArray("none") : cutAt(stop);
}

double MpvEngine::stretchEarly() const
{
    return stretch() == MpvStretch::RubberBand ? mpvRubberBandEarly(m_clock.rate()) : 0.0;
}

HeardRun MpvEngine::heardRun(qint64 heardFrame) const
{
    HeardRun run;
    if (!isLoaded() || pauseWanted() || stopped() || m_clock.end() == audio::HeardClock::End::Reached) return run;
    if (m_practice->holding()) {
        // Held between passes: the pass starts where the click output times the hold's end,
        // at the stretch's start (sought anew meanwhile, or where the wrap left the clock).
        const auto at = m_practice->passStartFrame();
        if (!at) return run;
        run.frame = *at;
        run.exact = true;
        run.position = seekPending() ? m_seekTarget : m_clock.anchor();
        // After a wrap the clock stood still where the hold found it, a little past the
        // start when the wrap was taken late; the pass itself starts at the start.
        static constexpr double kWrapTakenLate = 0.05;
        if (mpvLoopActive() && run.position >= m_appliedStart && run.position < m_appliedStart + kWrapTakenLate)
            run.position = m_appliedStart;
    } else if (m_clock.running() && !seekPending()) {
        run.frame = heardFrame;
        run.position = position() - soundLag(m_practice->heardRate());
    } else {
        return run;
    }
    run.running = true;
    run.rate = m_practice->heardRate();
    const bool loops = mpvLoopActive();
    run.stop = loops ? m_appliedStop : m_holdEnd ? *m_holdEnd : m_duration > 0 ? m_duration : std::numeric_limits<double>::infinity();
    run.wrapsOn = loops && !m_practice->nextHolds();
    run.wrapStart = m_appliedStart;
    run.nextRate = m_practice->nextRate();
    const QByteArray count = m_mpv.known("ab-loop-count");
    // mpv counts a wrap down as it decodes it: those decoded and not heard yet are still to come.
    run.wraps = count == "inf" ? -1 : count.toInt() + m_clock.wrapsPending();
    return run;
}

void MpvEngine::setHear(const HearSettings& hear)
{
    if (!commandHear(hear)) writeFilters();
}

bool MpvEngine::commandHear(const HearSettings& hear)
{
    if (hear == m_hear) return true;
    // Until a file's chain runs, a command reaches no filter (and mpv says nothing of it):
    // the list it starts from must hold the settings.
    m_hear = hear;
    if (m_load != LoadPhase::Loaded) return false;
    sendHear();
    return true;
}

void MpvEngine::sendHear()
{
    if (!m_hearFaded.hasExpired()) {
        m_hearWait.start(int(m_hearFaded.remainingTime()) + 1);
        return;
    }
    // The fade runs in the source's time from where mpv's decoding is, which is at most
    // the output buffer ahead and goes at the pass's speed: slower ones take longer.
    const double fade = kHearBandSettleSeconds + kHearFadeSeconds;
    const auto faded = [&] {
        m_hearFaded.setRemainingTime(qint64(1000 * (fade / std::clamp(m_practice->heardRate(), 0.1, 1.0) + 0.05)));
        m_hearWait.start(int(m_hearFaded.remainingTime()) + 1);
    };
    switch (m_hearListed) {
    case HearListed::FadedToB: {
        // The last graph is kept as it runs, so the fade back reaches it either way round.
        const MpvHearHandBack back = mpvHearHandBack(m_hearListedSettings, m_hearChain.b);
        writeList(back.list);
        m_mpv.commandLine(mpvHearCommandLine({back.fade}));
        m_hearListed = HearListed::HandingBack;
        faded();
        return;
    }
    case HearListed::HandingBack:
        m_hearListedSettings = m_hearChain.b;
        m_hearChain = mpvHearChain(m_hearListedSettings);
        writeList(mpvHearFilters(m_hearListedSettings));
        m_hearListed = HearListed::Heard;
        break;
    case HearListed::Heard: break;
    }
    const MpvHearChange change = mpvHearChange(m_hearChain, m_hear);
    if (change.commands.isEmpty()) return;
    if (!change.list.isEmpty()) {
        // B's entries now hold the settings themselves: the hand-back keeps them as written.
        writeList(change.list);
        m_hearListedSettings = m_hear;
    }
    m_mpv.commandLine(mpvHearCommandLine(change.commands));
    m_hearChain = change.chain;
    // Every change fades from A to B: the list is set back to A holding it once heard.
    m_hearListed = HearListed::FadedToB;
    faded();
}

bool MpvEngine::stretchWanted() const
{
    return m_entryRate != 1.0 || m_practice->speed() != 1.0;
}

void MpvEngine::writeFilters()
{
    m_stretchFilter = stretchWanted();
    m_hearChain = mpvHearChain(m_hear);
    m_hearListedSettings = m_hear;
    m_hearListed = HearListed::Heard;
    m_hearWait.stop();
    writeList(mpvHearFilters(m_hear));
}

void MpvEngine::writeList(const QByteArray& hear)
{
    // The stretcher's entry stays as written, so mpv keeps it running when the hear part changes.
    // It comes last: a graph that joins channels after a speed change made mpv play the
    // stretcher's start-up silence at a file's first pass (62 ms late at 0.75).
    const QByteArray stretcher = stretcherEntry();
    QByteArray af = hear;
    if (!af.isEmpty() && !stretcher.isEmpty()) af += ',';
    m_mpv.write("af", af + stretcher);
}

void MpvEngine::holdForPass()
{
    qCDebug(lcEngine, "hold at %.3f s of file", m_clock.raw());
    freezeClock();
    m_mpv.write("pause", "yes");
    // The pass's first beat may be due soon after what the click output has written.
    m_metronome->tick();
}

void MpvEngine::restartHeldPass()
{
    // Where the clock runs a little ahead of the output (a busy machine), the pause comes
    // before the stop is heard, and the rest of the stop's sound, still in mpv's output
    // ahead of the next pass's start, would sound after the hold. A seek while held
    // flushes both and decodes the start anew, as for a line's first pass. Left alone when
    // an end or a further wrap is decoded (the seek would forget them), and for a hold too
    // short for a seek to land in: the pass would start late instead.
    static constexpr int kSeekLandsMs = 250;
    if (!mpvLoopActive() || m_clock.wrapsPending() > 0 || m_clock.end() != audio::HeardClock::End::None ||
        m_practice->holdLeftMs() < kSeekLandsMs)
        return;
    requestSeek(m_appliedStart);
    issueSeek(m_appliedStart);
}

void MpvEngine::releasePass()
{
    if (isLoaded() && !pauseWanted() && !stopped()) m_mpv.write("pause", "no");
}

void MpvEngine::requestSeek(double target)
{
    // A seek mpv took keeps its SEEK event due: that one is still ours.
    if (m_seek != SeekPhase::Answered) m_seek = SeekPhase::Pending;
    m_seekTarget = target;
}

double MpvEngine::seekPoint(double target) const
{
    return frameStartAtOrBefore(target, m_framePhase, m_framePeriod);
}

void MpvEngine::issueSeek(double target)
{
    if (m_mpv.seekAsync(seconds(seekPoint(target)), m_loadGeneration)) ++m_seeksUnanswered;
}

void MpvEngine::onSeekReply(std::uint64_t generation, bool done)
{
    --m_seeksUnanswered;
    if (generation != m_loadGeneration) return;
    if (done) {
        if (m_seek == SeekPhase::Pending) m_seek = SeekPhase::Answered;
    } else if (m_seeksUnanswered == 0 && m_seek == SeekPhase::Pending) {
        // Refused (nothing to seek in): playback stays where it was.
        m_seek = SeekPhase::None;
        if (m_clock.running()) m_clock.run();
        unpauseAfterSeek();
    }
}

void MpvEngine::onSeekEvent()
{
    if (!isLoaded()) return;
    if (m_load == LoadPhase::Settling || m_seek == SeekPhase::Answered) {
        if (m_seek == SeekPhase::Answered) m_seek = SeekPhase::Pending;
        return;
    }
    // A jump we did not ask for: mpv's A-B loop went back to its start, because its
    // decoder reached the stop. The sound up to the stop is still in the output buffer.
    if (!mpvLoopActive() || m_eofSeen) return;
    // Well past the stop it is not a wrap. Through PulseAudio mpv tells the wrap about when
    // it is heard, not ahead, and a busy UI thread takes it later still (seen 45 ms past
    // the stop); a wrap missed so plays its pass without the pause before it.
    if (m_clock.wrapsPending() == 0 && m_clock.raw() > m_appliedStop + 0.25) return;
    // Decoded after the clock passed the stop (a busy machine: seen 18-46 ms, 306 ms after
    // an underrun): the output ran dry at the stop and has been silent since, which is
    // part of the pause before the next pass, not added to it.
    const double dry =
        m_clock.wrapsPending() == 0 ? std::max(0.0, (m_clock.raw() - m_appliedStop) / m_clock.rate()) : 0.0;
    m_clock.wrapDecoded(m_appliedStart, m_appliedStop);
    // What mpv holds of the pass before went through the old speed already.
    applySpeed(m_practice->wrapDecoded());
    qCDebug(lcEngine, "wrap decoded %.1f ms before it is heard",
            (m_clock.wrapStop() - m_clock.raw()) / m_clock.rate() * 1000);
    // mpv counted the wrap down itself.
    const QByteArray count = m_mpv.known("ab-loop-count");
    if (count != "inf" && count.toInt() > 0) {
        const int left = count.toInt() - 1;
        m_mpv.note("ab-loop-count", QByteArray::number(left));
        if (m_hasLoop && m_loop.wraps > 0) m_loop.wraps = left;
    }
    resolveHeard(dry);
}

void MpvEngine::onPlaybackRestart()
{
    if (!isLoaded()) return;
    m_load = LoadPhase::Loaded;
    if (m_seek != SeekPhase::Pending || m_seeksUnanswered != 0) return;
    m_seek = SeekPhase::None;
    // Landed on a frame: its time places the frames of any later seek.
    if (m_framePeriod > 0)
        if (const auto t = m_mpv.readDouble("time-pos")) {
            m_framePhase = std::fmod(*t, m_framePeriod);
            // The loop's start was placed on frames guessed before any landing: moved onto
            // the frames found, a wrap begins where a seek to the start does.
            if (m_mpv.known("ab-loop-a") != "no") m_mpv.write("ab-loop-a", seconds(seekPoint(m_appliedStart)));
        }
    m_clock.holdAt(m_seekTarget);
    if (m_eofSeen) {
        // The end seen before may be stale (its change follows this event) or may
        // hold still (a seek to the end itself): ask.
        // A seek well before the end cannot be at it: mpv still reads the flag of the
        // end it left (seen after a hold point), and taking it froze the clock there.
        m_eofSeen = m_mpv.readFlag("eof-reached") && m_seekTarget >= effectiveEnd() - 1e-3;
        if (m_eofSeen) beginEnd();
    }
    if (pauseWanted() && !m_eofSeen) m_seek = SeekPhase::Parked;
    if (m_unpauseAfterSeek && !pauseWanted() && !m_eofSeen && m_mpv.known("pause") == "yes" &&
        m_practice->startLanded(m_quietSince ? now() - *m_quietSince : 0.0)) {
        // Still paused since before the landing: the pass begins with its hold, whose
        // release plays.
        m_unpauseAfterSeek = false;
        m_quietSince.reset();
        holdForPass();
        return;
    }
    unpauseAfterSeek();
    // The output starts again now (within a few ms). Waiting for the first sample of
    // what is heard instead froze the position for up to 200 ms on PulseAudio, whose
    // first timing report comes late; the samples correct the clock as they come.
    if (!pauseWanted() && !stopped() && m_clock.end() == audio::HeardClock::End::None && m_mpv.known("pause") == "no") {
        m_clock.run();
        scheduleHeardCheck();
    }
    if (m_practice->startLanded() && m_clock.running()) holdForPass();
}

void MpvEngine::unpauseAfterSeek()
{
    if (!m_unpauseAfterSeek) return;
    m_unpauseAfterSeek = false;
    if (pauseWanted()) return;
    m_mpv.rewrite("pause", "no");
}

void MpvEngine::onPause(bool paused)
{
    m_mpvPaused = paused;
    m_mpv.note("pause", paused ? "yes" : "no");
    const bool playing = isLoaded() && !pauseWanted() && !stopped() && !seekPending();
    if (!paused) {
        // Playing again; with a prefilled output no sample may come before the end.
        if (playing && !m_clock.running()) {
            m_clock.run();
            scheduleHeardCheck();
        }
        return;
    }
    // mpv pauses by itself only at an end (keep-open), once its output has drained.
    // The observed eof-reached is no help: it reads false while the output drains and
    // may not be sent after. Asked now, it tells this from our own pause arriving late.
    if (playing && !m_unpauseAfterSeek && m_mpv.readFlag("eof-reached")) {
        if (m_clock.end() != audio::HeardClock::End::Due) m_clock.endDecoded(effectiveEnd());
        finishEnd();
    }
}

void MpvEngine::onEofReached(bool eof)
{
    m_eofSeen = eof;
    if (!isLoaded()) return;
    if (!eof) {
        m_clock.endWithdrawn();
        scheduleHeardCheck();
        return;
    }
    if (!seekPending() && m_clock.end() != audio::HeardClock::End::Reached) beginEnd();
}

void MpvEngine::play()
{
    if (!isValid() || m_load == LoadPhase::Empty) return;
    if (m_clock.end() == audio::HeardClock::End::Reached) {
        if (isLoaded() && m_clock.endPos() < effectiveEnd() - 1e-3) {
            // The hold was lifted (a new range): mpv sits at its end until moved.
            m_clock.leaveEnd();
            requestSeek(m_clock.endPos());
            issueSeek(m_clock.endPos());
        } else {
            haltAtEnd();  // nothing left to play
            updateState();
            return;
        }
    }
    m_motion = Motion::Playing;
    if (m_seek == SeekPhase::Parked) m_seek = SeekPhase::None;
    if (m_practice->holding()) {
        // Between two passes: the hold's end plays on.
        updateState();
        return;
    }
    if (seekPending() && (m_eofSeen || (isLoaded() && m_mpv.known("pause") == "yes"))) {
        // Unpaused at its end before the seek has run, mpv pauses again at once
        // (keep-open); unpaused elsewhere, the output would first play what it holds of
        // the old position. Play once the seek has landed.
        m_unpauseAfterSeek = true;
    } else if (m_load == LoadPhase::Opening) {
        // Unpaused now, the old file would sound until the new one replaces it: the new
        // one is unpaused as it starts (onStartFile).
    } else {
        m_mpv.write("pause", "no");
    }
    if (isLoaded() && !seekPending()) m_clock.run();
    scheduleHeardCheck();
    updateState();
}

void MpvEngine::pause()
{
    if (!isValid() || m_load == LoadPhase::Empty) return;
    freezeClock();
    m_metronome->silence();
    m_unpauseAfterSeek = false;
    m_quietSince.reset();
    m_motion = Motion::Paused;
    m_mpv.write("pause", "yes");
    updateState();
}

void MpvEngine::stop()
{
    if (!isValid() || m_load == LoadPhase::Empty) {
        updateState();
        return;
    }
    m_motion = Motion::Stopped;
    m_unpauseAfterSeek = false;
    m_quietSince.reset();
    if (m_seek == SeekPhase::Parked) m_seek = SeekPhase::None;
    m_mpv.write("pause", "yes");
    cancelPending();
    requestSeek(0);
    m_clock.holdAt(0);
    if (isLoaded()) {
        applyLoop();
        issueSeek(0);
    }
    updateState();
}

void MpvEngine::seek(double target)
{
    if (!isValid() || m_load == LoadPhase::Empty) return;
    target = std::max(0.0, target);
    if (m_duration > 0) target = std::min(target, m_duration);
    const double old = position();
    const bool parked = m_seek == SeekPhase::Parked;
    if (m_motion != Motion::Ended) m_quietSince.reset();
    // The seek flushes the output: jumps and ends still in it are never heard.
    cancelPending();
    requestSeek(target);
    if (!isLoaded()) return;  // handed over with the load
    applyLoop();  // lifts a hold the seek leaves behind, before the seek runs
    if (parked && target == m_clock.anchor()) {
        // Standing there paused, with the sound and picture already decoded: a seek
        // would only decode them again (from the key frame, on video) before a play.
        m_seek = SeekPhase::Parked;
        return;
    }
    // Played on through the seek, mpv would sound the pass's start before its hold.
    pauseForStartHold();
    issueSeek(target);
    emit positionJumped(old, target);
}

void MpvEngine::setRate(double rate)
{
    if (!(rate > 0) || !std::isfinite(rate)) return;
    const double old = m_entryRate;
    m_entryRate = std::clamp(rate, 0.01, 100.0);
    m_practice->setEntryRate(m_entryRate);
    if (stretchWanted() != m_stretchFilter) writeFilters();
    applySpeed(m_practice->speed());
    // The beats placed ahead went by the old rate.
    if (m_entryRate != old) m_metronome->silence();
}

void MpvEngine::applySpeed(double rate)
{
    rate = std::clamp(rate, 0.01, 100.0);
    const bool changed = rate != m_clock.rate();
    m_clock.setRate(rate);
    m_mpv.write("speed", seconds(rate));
    // Rubber Band's dating moves with the speed, and the pass decoded next cuts by it.
    if (changed && stretch() == MpvStretch::RubberBand) {
        if (m_mpv.known("ab-loop-b") != "no") m_mpv.write("ab-loop-b", cutAt(m_appliedStop));
        if (m_holdEnd) m_mpv.write("end", endAt(*m_holdEnd));
    }
    // Sound decoded for a parked start went through the old speed: decode it anew.
    if (m_seek == SeekPhase::Parked && changed) {
        m_seek = SeekPhase::None;
        seek(m_clock.anchor());
    }
    scheduleHeardCheck();
}

void MpvEngine::haltAtEnd()
{
    if (m_motion == Motion::Playing) m_motion = Motion::Ended;
    else if (m_motion == Motion::Paused) m_motion = Motion::Stopped;
}

void MpvEngine::updateState()
{
    // A load under way counts as playing, as the caller asked: no passing Stopped between
    // two files.
    const PlayState s = (m_load == LoadPhase::Empty || stopped()) ? PlayState::Stopped
                        : pauseWanted()                           ? PlayState::Paused
                                                                  : PlayState::Playing;
    m_metronome->setPlaying(s == PlayState::Playing);
    if (s == m_state) return;
    const PlayState old = m_state;
    m_state = s;
    emit stateChanged(old, s);
}

// ---- loop range ----

void MpvEngine::setLoop(const LoopRange& range)
{
    // Beats placed ahead past a new stop, or after a wrap to another start, would stray.
    if (range.start != m_loop.start || range.stop != m_loop.stop) m_metronome->silence();
    m_loop = range;
    if (m_loop.wraps < 0) m_loop.wraps = LoopRange::kEndless;
    m_hasLoop = true;
    applyLoop();
}

void MpvEngine::clearLoop()
{
    m_loop = {};
    m_hasLoop = false;
    applyLoop();
}

bool MpvEngine::mpvLoopActive() const
{
    return m_mpv.known("ab-loop-a") != "no" && m_mpv.known("ab-loop-count") != "0";
}

void MpvEngine::applyLoop()
{
    updateCountInBar();
    const bool usable = m_hasLoop && m_loop.loopsOn(m_duration);
    const bool toEnd = m_duration > 0 && m_loop.stop >= m_duration;
    if (!usable) {
        m_mpv.write("ab-loop-a", "no");
        m_mpv.write("ab-loop-b", "no");
        m_mpv.write("ab-loop-count", "inf");
        m_mpv.write("end", "none");
        m_holdEnd.reset();
        m_practice->setStretch(m_duration);  // the whole file plays
        return;
    }
    m_appliedStart = std::max(0.0, m_loop.start);
    // mpv's loop also wraps at the file's end when B lies there: the stop is the end.
    m_appliedStop = toEnd ? m_duration : m_loop.stop;
    m_practice->setStretch(m_appliedStop - m_appliedStart);
    m_mpv.write("ab-loop-a", seconds(seekPoint(m_appliedStart)));
    m_mpv.write("ab-loop-b", cutAt(m_appliedStop));
    m_mpv.write("ab-loop-count", m_loop.wraps == LoopRange::kEndless ? QByteArray("inf")
                                                                     : QByteArray::number(m_loop.wraps));
    // `end` makes mpv stop exactly at the stop once the count is used up. Set from the
    // start: mpv loops first while the count lasts. Past the stop it would end playback
    // at once, so it is left out there.
    const double at = seekPending()                                 ? m_seekTarget
                      : m_clock.end() == audio::HeardClock::End::Reached ? m_clock.endPos()
                                                                    : position();
    const bool hold = m_loop.holdAtStop && m_loop.wraps != LoopRange::kEndless && at <= m_appliedStop + 1e-6;
    m_mpv.write("end", hold ? endAt(m_appliedStop) : QByteArray("none"));
    if (hold)
        m_holdEnd = m_appliedStop;
    else
        m_holdEnd.reset();
}

// ---- heard position ----
//
// mpv decodes ahead of what is heard by its output buffer and the server's (0.2-0.4 s).
// Its position properties at a jump or an end tell what was decoded, so the clock is our own:
// - Files with sound take `audio-pts` (the written audio's time less the output delay,
//   i.e. what is heard; unset while mpv syncs after a seek); mpv keeps the pictures in
//   step with it. Pictures without sound take `time-pos`, the frame handed to the output.
// - Between updates (every 40-50 ms) the last sample runs on by the monotonic clock
//   times the rate.
// - When mpv's A-B loop wraps (a SEEK event we did not ask for), the tail before the
//   stop is still buffered and audio-pts reads start - buffered. With n wraps decoded but
//   not heard, heard = sample + n * (stop - start); a wrap is heard when that reaches the
//   stop. Measured on 0.35.1 with ao=null and mpv's buffer at 0.2 s: the wrap was
//   announced 0.30-0.40 s early.
// - At an end (eof-reached) the position runs on to the end, not past it; mpv's own
//   keep-open pause comes some 40 ms after the end is heard, the clock usually first.

double MpvEngine::now() const
{
    return m_elapsed.nsecsElapsed() / 1e9;
}

void MpvEngine::freezeClock()
{
    m_clock.freeze();
    m_heardTimer.stop();
}

double MpvEngine::position() const
{
    if (seekPending()) return m_seekTarget;
    if (!isLoaded()) return 0.0;
    audio::HeardClock::Bounds bounds;
    bounds.duration = m_duration;
    if (mpvLoopActive()) bounds.wrapStop = m_appliedStop;
    if (m_holdEnd) bounds.holdStop = m_appliedStop;
    return m_clock.heard(bounds);
}

void MpvEngine::takeSample(double value)
{
    // Paused, mpv reads the prefilled output buffer as not yet played: after a seek its
    // position shows the target less the buffer (measured: 1.82 for 2.0) until it plays.
    if (!isLoaded() || seekPending() || m_clock.end() != audio::HeardClock::End::None || pauseWanted() || m_mpvPaused ||
        m_practice->holding())
        return;
    m_clock.sample(value, !stopped());
    resolveHeard();
}

void MpvEngine::onTimePos(std::optional<double> t)
{
    if (m_videoClock && t) takeSample(std::max(0.0, *t - m_frameLead));
}

void MpvEngine::onAudioPts(std::optional<double> t)
{
    if (!m_videoClock && t) takeSample(*t);
}

void MpvEngine::resolveHeard(double drySeconds)
{
    const audio::HeardClock::Heard heard = m_clock.resolve();
    if (m_practice->wrapsHeard(heard.wraps, drySeconds)) {
        holdForPass();
        restartHeldPass();
    }
    scheduleHeardCheck();
    // State first, signals last: a slot may call back into the engine.
    for (int i = 0; i < heard.wraps; ++i) emit loopWrapped();
    if (heard.ended) finishEnd();
}

void MpvEngine::scheduleHeardCheck()
{
    const std::optional<double> due = m_clock.untilDue();
    if (!due) {
        m_heardTimer.stop();
        return;
    }
    m_heardTimer.start(std::max(0, static_cast<int>(std::ceil(*due * 1000.0))));
}

double MpvEngine::effectiveEnd() const
{
    return m_holdEnd && *m_holdEnd < m_duration ? *m_holdEnd : m_duration;
}

void MpvEngine::beginEnd()
{
    m_clock.endDecoded(effectiveEnd());
    qCDebug(lcEngine, "end decoded %.1f ms before it is heard",
            (m_clock.endPos() - m_clock.raw()) / m_clock.rate() * 1000);
    resolveHeard();
}

void MpvEngine::finishEnd()
{
    // The quiet before the next pass counts from when the end is heard, as a wrap's hold
    // does: mpv's own pause at an end comes 40-95 ms after that on a busy machine, and a
    // timer on a busy UI thread comes late. On a quiet one it comes first: mpv tells the
    // end once its output has handed the last sound to the server, which still plays it
    // (up to 19 ms in the drill's traces); counted from the telling, the pauses after an
    // entry change came out some 10 ms shorter than the wraps'. Bounded both ways: a clock
    // run ahead of a starved output would shorten the pause, one behind it lengthen it.
    static constexpr double kEndToldLate = 0.25;
    static constexpr double kEndToldEarly = 0.05;
    const double since = m_clock.wrapsPending() == 0
                             ? std::clamp(m_clock.secondsPast(m_clock.endPos()), -kEndToldEarly, kEndToldLate)
                             : 0.0;
    const audio::HeardClock::Heard heard = m_clock.reachEnd();
    if (!heard.ended) return;
    haltAtEnd();
    qCDebug(lcEngine, "end heard %.1f ms before it was told (less than 0: after)", since * 1000);
    m_quietSince = now() - since;
    m_heardTimer.stop();
    for (int i = 0; i < heard.wraps; ++i) emit loopWrapped();
    updateState();
}

void MpvEngine::cancelPending()
{
    m_practice->cancel();
    m_metronome->silence();
    m_clock.cancelPending();
    m_heardTimer.stop();
}

// ---- pictures ----

QWidget* MpvEngine::createVideoView(QWidget* parent)
{
    if (!isValid() || !m_options.videoOutput || m_view) return nullptr;
    if (!MpvVideoView::openGlAvailable()) {
        // The sound still plays; mpv falls back to no pictures.
        qCWarning(lcEngine, "No OpenGL on this display: videos play without pictures.");
        return nullptr;
    }
    m_view = new MpvVideoView(m_mpv.handle(), parent);
    connect(m_view, &MpvVideoView::renderContextReady, this, [this] { onVideoOutput(true); });
    connect(m_view, &MpvVideoView::renderContextAboutToBeReleased, this, [this] { onVideoOutput(false); });
    m_view->installEventFilter(this);  // its size sets the line's
    applyLine();
    return m_view;
}

bool MpvEngine::setOverlayLine(const QString& text)
{
    m_line = text;
    applyLine();
    return m_view != nullptr;
}

bool MpvEngine::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_view && event->type() == QEvent::Resize) applyLine();
    return MediaEngine::eventFilter(watched, event);
}

void MpvEngine::applyLine()
{
    // mpv's own OSD draws into the picture it renders, in the view's device pixels.
    static constexpr const char* kLineOverlay = "1";
    QByteArray data, width, height;
    if (m_view && !m_line.isEmpty()) {
        const double dpr = m_view->devicePixelRatioF();
        // Never smaller than the line under a waveform (1.6 times the text's size).
        const int minimum = int(QFontInfo(m_view->font()).pixelSize() * 1.6);
        data = lineEvent(m_line, lineFontPixels(m_view->size(), dpr, minimum));
        width = QByteArray::number(std::lround(m_view->width() * dpr));
        height = QByteArray::number(std::lround(m_view->height() * dpr));
    }
    const QByteArray sent = data + ' ' + width + 'x' + height;
    if (!isValid() || sent == m_lineSent) return;
    m_lineSent = sent;
    if (data.isEmpty()) {
        const char* args[] = {"osd-overlay", kLineOverlay, "none", "", nullptr};
        m_mpv.commandAsync(args);
        return;
    }
    const char* args[] = {"osd-overlay", kLineOverlay, "ass-events", data.constData(), width.constData(),
                          height.constData(), "0", "no", nullptr};
    m_mpv.commandAsync(args);
}

void MpvEngine::onVideoOutput(bool available)
{
    // A new value of `vo` makes mpv open its output again: the file playing gets its
    // pictures when a view appears. When the view goes, its output must be closed while
    // the render context still exists: mpv drops a video track whose output breaks, and
    // ends a file that has nothing else to play.
    m_mpv.writeNow("vo", available ? "libmpv" : "null");
    // mpv takes the pictures up where its decoder had got to, ahead of the sound. Paused
    // (a pass's hold, a parked start), the sound then waits for them when it plays: the
    // pass's start went unheard (0.17 s of it). Sound and pictures decoded anew from
    // where we stand start together.
    if (available && isLoaded() && m_mpv.known("pause") == "yes" && m_clock.end() == audio::HeardClock::End::None) {
        const double at = position();
        requestSeek(at);
        issueSeek(at);
    }
}

} // namespace engine
