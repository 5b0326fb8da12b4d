#include "player/mpvengine.h"

#include "player/mpvformats.h"
#include "player/mpvpractice.h"
#include "player/mpvvideoview.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QCoreApplication>
#include <QFileInfo>
#include <QThreadPool>
#include <QLoggingCategory>

#include <mpv/client.h>

#include <algorithm>
#include <clocale>
#include <cmath>
#include <iterator>
#include <type_traits>

Q_LOGGING_CATEGORY(lcMpv, "vamplet.mpv", QtWarningMsg)
Q_LOGGING_CATEGORY(lcEngine, "vamplet.engine", QtWarningMsg)

namespace player {

namespace {

// reply_userdata of our asynchronous requests; seeks carry the load generation above
// the tag, so replies to seeks made for an earlier file are told apart.
constexpr std::uint64_t kTagWrite = 1;
constexpr std::uint64_t kTagSeek = 2;
constexpr std::uint64_t kTagCommand = 3;
constexpr std::uint64_t kTagBits = 8;
constexpr std::uint64_t kHookPreloaded = 1;

QByteArray seconds(double s)
{
    // Fixed notation: mpv's time options take neither exponents nor a locale's comma.
    return QByteArray::number(s, 'f', 6);
}

template <class... F> struct Overloaded : F... { using F::operator()...; };
template <class... F> Overloaded(F...) -> Overloaded<F...>;

struct Tracks {
    bool audio = false;
    bool audioHeard = false;  // ... and selected for playing
    bool video = false;       // moving pictures
    bool videoShown = false;  // ... and selected for showing
    bool cover = false;       // a still picture that comes with music
};

Tracks readTracks(const mpv_node* list)
{
    Tracks found;
    if (!list || list->format != MPV_FORMAT_NODE_ARRAY) return found;
    for (int i = 0; i < list->u.list->num; ++i) {
        const mpv_node& t = list->u.list->values[i];
        if (t.format != MPV_FORMAT_NODE_MAP) continue;
        QByteArray type;
        bool albumArt = false, selected = false;
        for (int k = 0; k < t.u.list->num; ++k) {
            const char* key = t.u.list->keys[k];
            const mpv_node& v = t.u.list->values[k];
            if (qstrcmp(key, "type") == 0 && v.format == MPV_FORMAT_STRING)
                type = v.u.string;
            else if (qstrcmp(key, "albumart") == 0 && v.format == MPV_FORMAT_FLAG)
                albumArt = v.u.flag;
            else if (qstrcmp(key, "selected") == 0 && v.format == MPV_FORMAT_FLAG)
                selected = v.u.flag;
        }
        if (type == "audio") {
            found.audio = true;
            found.audioHeard = found.audioHeard || selected;
        } else if (type == "video" && albumArt) {
            found.cover = true;
        } else if (type == "video") {
            found.video = true;
            found.videoShown = found.videoShown || selected;
        }
    }
    return found;
}

} // namespace

const MpvEngine::ObservedProperty MpvEngine::kObserved[] = {
    {"pause", &MpvEngine::onPause},
    {"eof-reached", &MpvEngine::onEofReached},
    {"time-pos", &MpvEngine::onTimePos},
    {"audio-pts", &MpvEngine::onAudioPts},
    {"duration", &MpvEngine::onDuration},
    {"metadata", &MpvEngine::onMetadata},
    {"track-list", &MpvEngine::onTrackList},
};

MpvEngine::MpvEngine(QObject* parent) : MpvEngine(Options{}, parent) {}

MpvEngine::MpvEngine(const Options& options, QObject* parent) : MediaEngine(parent), m_options(options)
{
    init();
}

MpvEngine::~MpvEngine()
{
    // The render context must go before the core it renders for.
    if (m_view) m_view->detach();
    if (m_mpv) {
        mpv_set_wakeup_callback(m_mpv, nullptr, nullptr);
        mpv_terminate_destroy(m_mpv);
        m_mpv = nullptr;
    }
}

void MpvEngine::init()
{
    m_clock.start();
    m_heardTimer.setSingleShot(true);
    m_heardTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_heardTimer, &QTimer::timeout, this, &MpvEngine::resolveHeard);
    m_loadLimit.setSingleShot(true);
    connect(&m_loadLimit, &QTimer::timeout, this, &MpvEngine::giveUpLoad);
    m_practice = new MpvPractice(this);
    connect(m_practice, &MpvPractice::released, this, &MpvEngine::releasePass);
    connect(m_practice, &MpvPractice::passRateChanged, this, &MpvEngine::passRateChanged);

    // libmpv refuses to start under a numeric locale other than "C" (Qt sets the user's).
    std::setlocale(LC_NUMERIC, "C");
    m_mpv = mpv_create();
    if (!m_mpv) return;

    struct Opt { const char* name; const char* value; };
    const Opt options[] = {
        // Predictable and safe: nothing from the user's mpv setup, no scripts, no
        // network helpers, no keys of its own, no on-screen display.
        {"config", "no"}, {"load-scripts", "no"}, {"osc", "no"}, {"ytdl", "no"},
        // Local media only: a file that is a playlist, a metafile or a reference to
        // another place is not followed, and the demuxers open nothing but files.
        {"access-references", "no"}, {"load-unsafe-playlists", "no"}, {"prefetch-playlist", "no"},
        {"demuxer-lavf-o", "protocol_whitelist=file"},
        {"load-stats-overlay", "no"}, {"load-osd-console", "no"}, {"load-auto-profiles", "no"},
        {"input-default-bindings", "no"}, {"input-vo-keyboard", "no"}, {"input-cursor", "no"},
        {"terminal", "no"}, {"resume-playback", "no"}, {"osd-level", "0"}, {"osd-bar", "no"},
        // At a file's end stay there, paused, like the component callers expect.
        {"keep-open", "yes"}, {"keep-open-pause", "yes"}, {"idle", "yes"}, {"cache-pause", "no"},
        // Short clips decode fine in software; no probing for GPU decoders.
        {"hwdec", "no"}, {"gpu-hwdec-interop", "no"},
        {"hr-seek", "yes"}, {"audio-pitch-correction", "yes"}, {"audio-fallback-to-null", "yes"},
        // Without a render context (no view yet, or gone) libmpv's output cannot open;
        // mpv falls back to none and plays on.
        {"vo", m_options.videoOutput ? "libmpv,null" : "null"},
    };
    // An engine that did not take every option is not one we can vouch for.
    bool refused = false;
    auto set = [&](const char* name, const char* value) {
        const int rc = mpv_set_option_string(m_mpv, name, value);
        if (rc >= 0) return;
        qCWarning(lcEngine) << "mpv refused option" << name << "=" << value << ":" << mpv_error_string(rc);
        refused = true;
    };
    for (const Opt& o : options) set(o.name, o.value);
    m_written.insert("vo", m_options.videoOutput ? "libmpv,null" : "null");
    if (!m_options.audioOutput) set("ao", "null");

    // Start from known values, so the write cache tells the truth from the first call.
    const Opt initial[] = {{"pause", "no"}, {"speed", "1.000000"}, {"ab-loop-a", "no"},
                           {"ab-loop-b", "no"}, {"ab-loop-count", "inf"}, {"end", "none"}, {"af", ""}};
    for (const Opt& o : initial) {
        set(o.name, o.value);
        m_written.insert(o.name, o.value);
    }

    if (refused || mpv_initialize(m_mpv) < 0) {
        mpv_terminate_destroy(m_mpv);
        m_mpv = nullptr;
        return;
    }
    for (std::size_t i = 0; i < std::size(kObserved); ++i) {
        const mpv_format format = std::visit(
            Overloaded{[](FlagHandler) { return MPV_FORMAT_FLAG; },
                       [](TimeHandler) { return MPV_FORMAT_DOUBLE; },
                       [](NodeHandler) { return MPV_FORMAT_NODE; }},
            kObserved[i].handler);
        mpv_observe_property(m_mpv, i, kObserved[i].name, format);
    }
    // Once a file is open and its length known, but before it plays: the moment to hand
    // over a pending seek and to check the loop range against the file's end.
    mpv_hook_add(m_mpv, kHookPreloaded, "on_preloaded", 0);
    // Verbose messages cost mpv's playback thread time at every seek and loop jump: ask
    // only for what the category will show.
    const char* level = lcMpv().isDebugEnabled() ? "v" : lcMpv().isInfoEnabled() ? "warn" : "error";
    mpv_request_log_messages(m_mpv, level);
    mpv_set_wakeup_callback(m_mpv, [](void* self) { static_cast<MpvEngine*>(self)->queueDrain(); }, this);
}

// Called on any of mpv's threads: only queue a drain onto ours.
void MpvEngine::queueDrain()
{
    if (!m_drainQueued.exchange(true))
        QMetaObject::invokeMethod(this, [this] { drainEvents(); }, Qt::QueuedConnection);
}

void MpvEngine::drainEvents()
{
    m_drainQueued = false;
    while (m_mpv) {
        mpv_event* event = mpv_wait_event(m_mpv, 0);
        if (event->event_id == MPV_EVENT_NONE) break;
        handleEvent(*event);
    }
}

// Handlers copy what they need out of the event first: a slot connected to a signal
// emitted here may wait for events itself, which frees this one.
void MpvEngine::handleEvent(const mpv_event& event)
{
    switch (event.event_id) {
    case MPV_EVENT_PROPERTY_CHANGE: {
        const auto* p = static_cast<const mpv_event_property*>(event.data);
        onPropertyChange(event.reply_userdata, p->format, p->data);
        break;
    }
    case MPV_EVENT_START_FILE:
        onStartFile(static_cast<const mpv_event_start_file*>(event.data)->playlist_entry_id);
        break;
    case MPV_EVENT_HOOK: {
        const std::uint64_t id = static_cast<const mpv_event_hook*>(event.data)->id;
        if (event.reply_userdata == kHookPreloaded) {
            m_inHook = true;
            onPreloaded();
            m_inHook = false;
        }
        if (m_mpv) mpv_hook_continue(m_mpv, id);
        break;
    }
    case MPV_EVENT_FILE_LOADED:
        onFileLoaded();
        break;
    case MPV_EVENT_END_FILE: {
        const auto* e = static_cast<const mpv_event_end_file*>(event.data);
        onEndFile(e->playlist_entry_id, e->reason, e->error);
        break;
    }
    case MPV_EVENT_SEEK:
        onSeekEvent();
        break;
    case MPV_EVENT_PLAYBACK_RESTART:
        onPlaybackRestart();
        break;
    case MPV_EVENT_COMMAND_REPLY:
        onCommandReply(event.reply_userdata, event.error);
        break;
    case MPV_EVENT_LOG_MESSAGE: {
        const auto* m = static_cast<const mpv_event_log_message*>(event.data);
        const QString text = QString::fromUtf8(m->prefix) + QLatin1String(": ") + QString::fromUtf8(m->text).trimmed();
        if (m->log_level <= MPV_LOG_LEVEL_ERROR)
            qCWarning(lcMpv).noquote() << text;
        else if (m->log_level <= MPV_LOG_LEVEL_WARN)
            qCInfo(lcMpv).noquote() << text;
        else
            qCDebug(lcMpv).noquote() << text;
        break;
    }
    default:
        break;
    }
}

void MpvEngine::onPropertyChange(std::uint64_t id, int format, void* data)
{
    if (id >= std::size(kObserved)) return;
    std::visit(Overloaded{
                   [&](FlagHandler h) { (this->*h)(format == MPV_FORMAT_FLAG && *static_cast<int*>(data)); },
                   [&](TimeHandler h) {
                       (this->*h)(format == MPV_FORMAT_DOUBLE ? std::optional(*static_cast<double*>(data))
                                                              : std::nullopt);
                   },
                   [&](NodeHandler h) {
                       (this->*h)(format == MPV_FORMAT_NODE ? static_cast<const mpv_node*>(data) : nullptr);
                   }},
               kObserved[id].handler);
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
    m_seekPending = false;
    m_startPassed.reset();
    m_stopped = false;
    m_pauseWanted = false;
    m_unpauseAfterSeek = false;

    if (!m_mpv) {
        updateState();
        if (!path.isEmpty()) emit loadFailed(tr("The media engine is not available."));
        return;
    }
    if (path.isEmpty()) {
        const char* args[] = {"stop", nullptr};
        mpv_command_async(m_mpv, kTagCommand, args);
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
    const int rc = mpv_command(m_mpv, args);
    if (rc < 0) {
        failLoad(QString::fromUtf8(mpv_error_string(rc)));
        return;
    }
    // "replace" leaves our file alone in the playlist: its id tells our events apart
    // from those of the file it replaced.
    std::int64_t id = -1;
    mpv_get_property(m_mpv, "playlist/0/id", MPV_FORMAT_INT64, &id);
    m_entryId = id;
    m_loadPending = true;
    m_loadDeadline = QDeadlineTimer(kLoadLimitMs);
    m_loadLimit.start(kLoadLimitMs);
    updateState();
}

void MpvEngine::giveUpLoad()
{
    if (m_loadPending) failLoad(tr("The file did not open within a second; it may not be a local media file."));
}

bool MpvEngine::waitForLoad(int timeoutMs)
{
    if (m_loaded) return true;
    if (!m_mpv || !m_loadPending) return false;
    QDeadlineTimer deadline(std::max(0, timeoutMs), Qt::PreciseTimer);
    const bool limited = m_loadDeadline < deadline;
    if (limited) deadline = m_loadDeadline;
    // Drain mpv's events right here rather than in a nested event loop, so nothing else
    // of the program runs while a caller waits.
    while (m_loadPending && m_mpv) {
        const qint64 left = deadline.remainingTime();
        if (left <= 0) break;
        mpv_event* event = mpv_wait_event(m_mpv, left / 1000.0);
        if (event->event_id != MPV_EVENT_NONE) handleEvent(*event);
    }
    if (limited && m_loadPending) giveUpLoad();
    return m_loaded;
}

void MpvEngine::resetFileState()
{
    m_loaded = false;
    m_loadPending = false;
    m_started = false;
    m_duration = 0;
    m_ownDuration.reset();
    m_metadata.clear();
    m_hasVideo = false;
    m_videoClock = false;
    m_frameLead = 0;
    m_eofSeen = false;
    m_seekAnswered = false;
    m_loadSeeking = false;
    m_parked = false;
    m_anchorPos = 0;
    m_anchorTime = now();
    m_running = false;
    cancelPending();
    reportVideo();
    reportDuration();
}

void MpvEngine::failLoad(const QString& reason)
{
    m_loadLimit.stop();
    m_loadPending = false;
    m_loaded = false;
    m_started = false;
    m_seekPending = false;
    cancelPending();
    if (m_mpv) {
        // Whatever was playing or half open goes: the engine is left empty and usable.
        const char* args[] = {"stop", nullptr};
        mpv_command_async(m_mpv, kTagCommand, args);
    }
    updateState();
    reportVideo();
    reportDuration();
    emit loadFailed(reason);
}

void MpvEngine::onStartFile(std::int64_t entryId)
{
    if (!m_loadPending || entryId != m_entryId) return;
    m_started = true;
    // The old file and its sound are gone: unpaused now, the output starts again while
    // the new file opens.
    if (!m_pauseWanted) setProperty("pause", "no");
}

void MpvEngine::onPreloaded()
{
    if (!m_loadPending || !m_started) return;
    double d = 0;
    if (mpv_get_property(m_mpv, "duration", MPV_FORMAT_DOUBLE, &d) >= 0 && d > 0) m_duration = d;

    mpv_node node;
    Tracks tracks;
    if (mpv_get_property(m_mpv, "track-list", MPV_FORMAT_NODE, &node) >= 0) {
        tracks = readTracks(&node);
        mpv_free_node_contents(&node);
    }
    if (!tracks.audio && !tracks.video && !tracks.cover) {
        failLoad(tr("The file holds neither sound nor pictures."));
        return;
    }

    if (char* format = mpv_get_property_string(m_mpv, "file-format")) {
        if (QByteArray(format) == "mpegvideo") {
            // Unknown until counted: mpv's guesses are not told meanwhile.
            m_ownDuration = 0.0;
            m_duration = 0;
            countStreamLength();
        }
        const QByteArray offset = demuxerSeekOffset(format);
        if (!offset.isEmpty()) mpv_set_property_string(m_mpv, "file-local-options/hr-seek-demuxer-offset", offset.constData());
        mpv_free(format);
    }

    applyLoop();  // now that the file's end is known
    if (m_seekPending) {
        // Hand a seek made while loading over with the load itself: no sound from 0 first.
        mpv_set_property_string(m_mpv, "file-local-options/start", seconds(m_seekTarget).constData());
        m_startPassed = m_seekTarget;
    }
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
    if (generation != m_loadGeneration || (!m_loaded && !m_loadPending)) return;
    double d = seconds;
    if (d <= 0) {
        // Not a stream after all: mpv's figure is the best there is.
        m_ownDuration.reset();
        if (m_mpv) mpv_get_property(m_mpv, "duration", MPV_FORMAT_DOUBLE, &d);
        if (!(d > 0)) return;
    } else {
        m_ownDuration = d;
    }
    m_duration = d;
    if (m_loaded) applyLoop();
    reportDuration();
}

void MpvEngine::onFileLoaded()
{
    if (!m_loadPending || !m_started) return;
    double d = 0;
    if (mpv_get_property(m_mpv, "duration", MPV_FORMAT_DOUBLE, &d) >= 0 && d > 0) m_duration = d;
    if (m_ownDuration) m_duration = *m_ownDuration;
    mpv_node node;
    if (mpv_get_property(m_mpv, "track-list", MPV_FORMAT_NODE, &node) >= 0) {
        onTrackList(&node);
        mpv_free_node_contents(&node);
    }
    if (mpv_get_property(m_mpv, "metadata", MPV_FORMAT_NODE, &node) >= 0) {
        onMetadata(&node);
        mpv_free_node_contents(&node);
    }

    m_loadLimit.stop();
    m_loadPending = false;
    m_loaded = true;
    m_loadSeeking = true;
    if (m_seekPending && m_startPassed != m_seekTarget) {
        applyLoop();
        issueSeek(m_seekTarget);
    }
    m_anchorPos = m_seekPending ? m_seekTarget : 0.0;
    m_anchorTime = now();
    m_running = false;
    reportVideo();
    reportDuration();
    emit loaded();
    updateState();
}

void MpvEngine::onEndFile(std::int64_t entryId, int reason, int error)
{
    if (entryId != m_entryId) return;
    // Stopped or replaced by us: nothing to report.
    if (reason == MPV_END_FILE_REASON_STOP || reason == MPV_END_FILE_REASON_QUIT) return;
    if (reason == MPV_END_FILE_REASON_REDIRECT) {
        // The file named other files or places to play instead; none is followed.
        if (m_loadPending || m_loaded) failLoad(tr("The file is a playlist or a reference, not media."));
        return;
    }
    if (m_loadPending) {
        failLoad(reason == MPV_END_FILE_REASON_ERROR ? loadErrorText(error)
                                                     : tr("The file holds nothing to play."));
        return;
    }
    if (m_loaded) {
        // keep-open holds every file that played; one that ends anyway broke while playing.
        resetFileState();
        m_seekPending = false;
        updateState();
    }
}

void MpvEngine::onMetadata(const mpv_node* node)
{
    m_metadata.clear();
    if (!node || node->format != MPV_FORMAT_NODE_MAP) return;
    for (int i = 0; i < node->u.list->num; ++i) {
        const mpv_node& v = node->u.list->values[i];
        if (v.format != MPV_FORMAT_STRING) continue;
        m_metadata.insert(QString::fromUtf8(node->u.list->keys[i]).toLower(), QString::fromUtf8(v.u.string));
    }
}

void MpvEngine::onTrackList(const mpv_node* node)
{
    const Tracks tracks = readTracks(node);
    m_hasVideo = tracks.video;
    // Pictures without sound go by the frame on screen. With sound, time-pos runs a frame
    // ahead (it names the frame handed to the output, not the one shown), while audio-pts
    // is what is heard, and mpv keeps the pictures in step with it.
    m_videoClock = tracks.videoShown && !tracks.audioHeard;
    // time-pos names the picture handed on after the one on screen: one frame ahead.
    double fps = 0;
    m_frameLead = m_videoClock && mpv_get_property(m_mpv, "container-fps", MPV_FORMAT_DOUBLE, &fps) >= 0 && fps > 0
                      ? 1.0 / fps
                      : 0.0;
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
    if (m_loaded) applyLoop();
    reportDuration();
}

// ---- transport ----

void MpvEngine::setProperty(const char* name, const QByteArray& value)
{
    if (!m_mpv) return;
    const auto it = m_written.constFind(name);
    if (it != m_written.constEnd() && *it == value) return;
    m_written.insert(name, value);
    if (m_inHook) {
        // mpv waits for us inside the hook; take effect before it plays on.
        mpv_set_property_string(m_mpv, name, value.constData());
        return;
    }
    const char* v = value.constData();
    mpv_set_property_async(m_mpv, kTagWrite, name, MPV_FORMAT_STRING, &v);
}

void MpvEngine::setPractice(const PracticeSettings& practice, int pass)
{
    // The transpose is mpv's own Rubber Band filter, which then does the speed too.
    setProperty("af", practice.hasTranspose()
                          ? "rubberband=pitch-scale=" + QByteArray::number(practice.pitchScale(), 'f', 6)
                          : QByteArray());
    m_practice->setPractice(practice, pass, m_entryRate);
    applySpeed(m_practice->speed());
}

void MpvEngine::holdForPass()
{
    freezeClock();
    setProperty("pause", "yes");
}

void MpvEngine::releasePass()
{
    if (m_loaded && !m_pauseWanted && !m_stopped) setProperty("pause", "no");
}

void MpvEngine::issueSeek(double target)
{
    const QByteArray t = seconds(target);
    const char* args[] = {"seek", t.constData(), "absolute+exact", nullptr};
    if (mpv_command_async(m_mpv, (m_loadGeneration << kTagBits) | kTagSeek, args) >= 0)
        ++m_seeksUnanswered;
}

void MpvEngine::onCommandReply(std::uint64_t tag, int error)
{
    if ((tag & ((1u << kTagBits) - 1)) != kTagSeek) return;
    --m_seeksUnanswered;
    if ((tag >> kTagBits) != m_loadGeneration) return;
    if (error >= 0) {
        m_seekAnswered = true;
    } else if (m_seeksUnanswered == 0 && !m_seekAnswered && m_seekPending) {
        // Refused (nothing to seek in): playback stays where it was.
        m_seekPending = false;
        m_anchorTime = now();
        unpauseAfterSeek();
    }
}

void MpvEngine::onSeekEvent()
{
    if (!m_loaded) return;
    if (m_loadSeeking || m_seekAnswered) {
        m_seekAnswered = false;
        return;
    }
    // A jump we did not ask for: mpv's A-B loop went back to its start, because its
    // decoder reached the stop. The sound up to the stop is still in the output buffer.
    if (!mpvLoopActive() || m_eofSeen) return;
    if (m_wrapsPending == 0) {
        if (rawPosition() > m_appliedStop + 0.05) return;
        m_wrapStart = m_appliedStart;
        m_wrapStop = m_appliedStop;
    }
    ++m_wrapsPending;
    // What mpv holds of the pass before went through the old speed already.
    applySpeed(m_practice->wrapDecoded());
    qCDebug(lcEngine, "wrap decoded %.1f ms before it is heard", (m_wrapStop - rawPosition()) / m_rate * 1000);
    // mpv counted the wrap down itself.
    const QByteArray count = m_written.value("ab-loop-count");
    if (count != "inf" && count.toInt() > 0) {
        const int left = count.toInt() - 1;
        m_written.insert("ab-loop-count", QByteArray::number(left));
        if (m_hasLoop && m_loop.wraps > 0) m_loop.wraps = left;
    }
    resolveHeard();
}

void MpvEngine::onPlaybackRestart()
{
    if (!m_loaded) return;
    m_loadSeeking = false;
    if (m_seekPending && m_seeksUnanswered == 0 && !m_seekAnswered) {
        m_seekPending = false;
        m_anchorPos = m_seekTarget;
        m_anchorTime = now();
        m_running = false;
        if (m_eofSeen) {
            // The end seen before may be stale (its change follows this event) or may
            // hold still (a seek to the end itself): ask.
            // A seek well before the end cannot be at it: mpv still reads the flag of the
            // end it left (seen after a hold point), and taking it froze the clock there.
            int eof = 0;
            mpv_get_property(m_mpv, "eof-reached", MPV_FORMAT_FLAG, &eof);
            m_eofSeen = eof && m_seekTarget >= effectiveEnd() - 1e-3;
            if (m_eofSeen) beginEnd();
        }
        m_parked = m_pauseWanted && !m_eofSeen;
        unpauseAfterSeek();
        // The output starts again now (within a few ms). Waiting for the first sample of
        // what is heard instead froze the position for up to 200 ms on PulseAudio, whose
        // first timing report comes late; the samples correct the clock as they come.
        if (!m_pauseWanted && !m_stopped && !m_atEnd && !m_endPending && m_written.value("pause") == "no") {
            m_running = true;
            scheduleHeardCheck();
        }
        if (m_practice->startLanded() && m_running) holdForPass();
    }
}

void MpvEngine::unpauseAfterSeek()
{
    if (!m_unpauseAfterSeek) return;
    m_unpauseAfterSeek = false;
    if (m_pauseWanted) return;
    // Written even where the cache says "no": mpv may have paused by itself since.
    m_written.insert("pause", "no");
    const char* no = "no";
    mpv_set_property_async(m_mpv, kTagWrite, "pause", MPV_FORMAT_STRING, &no);
}

void MpvEngine::onPause(bool paused)
{
    m_mpvPaused = paused;
    m_written.insert("pause", paused ? "yes" : "no");
    const bool playing = m_loaded && !m_pauseWanted && !m_stopped && !m_seekPending;
    if (!paused) {
        // Playing again; with a prefilled output no sample may come before the end.
        if (playing && !m_running) {
            m_anchorTime = now();
            m_running = true;
            scheduleHeardCheck();
        }
        return;
    }
    // mpv pauses by itself only at an end (keep-open), once its output has drained.
    // The observed eof-reached is no help: it reads false while the output drains and
    // may not be sent after. Asked now, it tells this from our own pause arriving late.
    int eof = 0;
    if (playing && !m_unpauseAfterSeek && mpv_get_property(m_mpv, "eof-reached", MPV_FORMAT_FLAG, &eof) >= 0 &&
        eof) {
        if (!m_endPending) {
            m_endPending = true;
            m_endPos = effectiveEnd();
        }
        finishEnd();
    }
}

void MpvEngine::onEofReached(bool eof)
{
    m_eofSeen = eof;
    if (!m_loaded) return;
    if (!eof) {
        m_endPending = false;
        scheduleHeardCheck();
        return;
    }
    if (!m_seekPending && !m_atEnd) beginEnd();
}

void MpvEngine::play()
{
    if (!m_mpv || (!m_loaded && !m_loadPending)) return;
    if (m_atEnd) {
        if (m_loaded && m_endPos < effectiveEnd() - 1e-3) {
            // The hold was lifted (a new range): mpv sits at its end until moved.
            m_atEnd = false;
            m_seekPending = true;
            m_seekTarget = m_endPos;
            issueSeek(m_endPos);
        } else {
            m_stopped = true;  // nothing left to play
            updateState();
            return;
        }
    }
    m_stopped = false;
    m_pauseWanted = false;
    m_parked = false;
    if (m_practice->holding()) {
        // Between two passes: the hold's end plays on.
        updateState();
        return;
    }
    if (m_seekPending && (m_eofSeen || (m_loaded && m_written.value("pause") == "yes"))) {
        // Unpaused at its end before the seek has run, mpv pauses again at once
        // (keep-open); unpaused elsewhere, the output would first play what it holds of
        // the old position. Play once the seek has landed.
        m_unpauseAfterSeek = true;
    } else if (m_loadPending && !m_started) {
        // Unpaused now, the old file would sound until the new one replaces it: the new
        // one is unpaused as it starts (onStartFile).
    } else {
        setProperty("pause", "no");
    }
    if (m_loaded && !m_seekPending) {
        m_anchorTime = now();
        m_running = true;
    }
    scheduleHeardCheck();
    updateState();
}

void MpvEngine::pause()
{
    if (!m_mpv || (!m_loaded && !m_loadPending)) return;
    freezeClock();
    m_unpauseAfterSeek = false;
    m_pauseWanted = true;
    m_stopped = false;
    setProperty("pause", "yes");
    updateState();
}

void MpvEngine::stop()
{
    if (!m_mpv || (!m_loaded && !m_loadPending)) {
        updateState();
        return;
    }
    m_pauseWanted = true;
    m_unpauseAfterSeek = false;
    m_stopped = true;
    m_parked = false;
    setProperty("pause", "yes");
    cancelPending();
    m_seekPending = true;
    m_seekTarget = 0;
    m_anchorPos = 0;
    m_running = false;
    if (m_loaded) {
        applyLoop();
        issueSeek(0);
    }
    updateState();
}

void MpvEngine::seek(double target)
{
    if (!m_mpv || (!m_loaded && !m_loadPending)) return;
    target = std::max(0.0, target);
    if (m_duration > 0) target = std::min(target, m_duration);
    const double old = position();
    // The seek flushes the output: jumps and ends still in it are never heard.
    cancelPending();
    m_seekPending = true;
    m_seekTarget = target;
    if (!m_loaded) return;  // handed over with the load
    applyLoop();  // lifts a hold the seek leaves behind, before the seek runs
    if (m_parked && target == m_anchorPos) {
        // Standing there paused, with the sound and picture already decoded: a seek
        // would only decode them again (from the key frame, on video) before a play.
        m_seekPending = false;
        return;
    }
    m_parked = false;
    issueSeek(target);
    emit positionJumped(old, target);
}

void MpvEngine::setRate(double rate)
{
    if (!(rate > 0) || !std::isfinite(rate)) return;
    m_entryRate = std::clamp(rate, 0.01, 100.0);
    m_practice->setEntryRate(m_entryRate);
    applySpeed(m_practice->speed());
}

void MpvEngine::applySpeed(double rate)
{
    rate = std::clamp(rate, 0.01, 100.0);
    if (m_running) {
        m_anchorPos = rawPosition();
        m_anchorTime = now();
    }
    const bool changed = rate != m_rate;
    m_rate = rate;
    setProperty("speed", seconds(rate));
    // Sound decoded for a parked start went through the old speed: decode it anew.
    if (m_parked && changed) {
        m_parked = false;
        seek(m_anchorPos);
    }
    scheduleHeardCheck();
}

void MpvEngine::updateState()
{
    // A load under way counts as playing, as the caller asked: no passing Stopped between
    // two files.
    const PlayState s = ((!m_loaded && !m_loadPending) || m_stopped) ? PlayState::Stopped
                        : m_pauseWanted                              ? PlayState::Paused
                                                                     : PlayState::Playing;
    if (s == m_state) return;
    const PlayState old = m_state;
    m_state = s;
    emit stateChanged(old, s);
}

// ---- loop range ----

void MpvEngine::setLoop(const LoopRange& range)
{
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
    return m_written.value("ab-loop-a") != "no" && m_written.value("ab-loop-count") != "0";
}

void MpvEngine::applyLoop()
{
    const bool usable = m_hasLoop && m_loop.loopsOn(m_duration);
    const bool toEnd = m_duration > 0 && m_loop.stop >= m_duration;
    if (!usable) {
        setProperty("ab-loop-a", "no");
        setProperty("ab-loop-b", "no");
        setProperty("ab-loop-count", "inf");
        setProperty("end", "none");
        m_holdEnd.reset();
        return;
    }
    m_appliedStart = std::max(0.0, m_loop.start);
    // mpv's loop also wraps at the file's end when B lies there: the stop is the end.
    m_appliedStop = toEnd ? m_duration : m_loop.stop;
    setProperty("ab-loop-a", seconds(m_appliedStart));
    setProperty("ab-loop-b", seconds(m_appliedStop));
    setProperty("ab-loop-count", m_loop.wraps == LoopRange::kEndless ? QByteArray("inf")
                                                                     : QByteArray::number(m_loop.wraps));
    // `end` makes mpv stop exactly at the stop once the count is used up. Set from the
    // start: mpv loops first while the count lasts. Past the stop it would end playback
    // at once, so it is left out there.
    const double at = m_seekPending ? m_seekTarget : m_atEnd ? m_endPos : position();
    const bool hold = m_loop.holdAtStop && m_loop.wraps != LoopRange::kEndless && at <= m_appliedStop + 1e-6;
    setProperty("end", hold ? seconds(m_appliedStop) : QByteArray("none"));
    if (hold)
        m_holdEnd = m_appliedStop;
    else
        m_holdEnd.reset();
}

// ---- heard position ----
//
// mpv decodes ahead of what is heard by its output buffer (0.2-0.4 s). Its position
// properties at a jump or an end tell what was decoded, so this keeps its own clock:
// - Files with sound take `audio-pts` (the written audio's time less the output delay,
//   i.e. what is heard; unset while mpv syncs after a seek); mpv keeps the pictures in
//   step with it. Pictures without sound take `time-pos`, the frame handed to the output.
// - Between updates (every 40-50 ms) the last sample runs on by the monotonic clock
//   times the rate.
// - When mpv's A-B loop wraps (a SEEK event we did not ask for), the tail before the
//   stop is still buffered and audio-pts reads start - buffered. With n wraps decoded but
//   not heard, heard = sample + n * (stop - start); a wrap is heard when that reaches the
//   stop. Measured on 0.35.1 with ao=null: the wrap is announced 0.30-0.40 s early.
// - At an end (eof-reached) the position runs on to the end, not past it; mpv's own
//   keep-open pause comes some 40 ms after the end is heard, the clock usually first.

double MpvEngine::now() const
{
    return m_clock.nsecsElapsed() / 1e9;
}

double MpvEngine::rawPosition() const
{
    return m_running ? m_anchorPos + (now() - m_anchorTime) * m_rate : m_anchorPos;
}

void MpvEngine::freezeClock()
{
    m_anchorPos = rawPosition();
    m_anchorTime = now();
    m_running = false;
    m_heardTimer.stop();
}

double MpvEngine::position() const
{
    if (m_seekPending) return m_seekTarget;
    if (!m_loaded) return 0.0;
    if (m_atEnd) return m_endPos;
    double p = rawPosition();
    // While a wrap is coming the position stays a hair below the stop: a reader that
    // compares with the stop (the player's fallback timers) must not take the stop as
    // reached and jump or count a pass of its own before loopWrapped() says so.
    constexpr double kBelowStop = 1e-6;
    if (m_wrapsPending > 0) {
        // The jump back shows only together with loopWrapped(), due within a millisecond.
        p = std::min(p, m_wrapStop - kBelowStop);
    } else if (m_endPending) {
        p = std::min(p, m_endPos);
    } else if (mpvLoopActive() && m_anchorPos <= m_appliedStop + 1e-6) {
        // mpv never plays past the stop from inside the range; a late wrap must not
        // show a position beyond it.
        p = std::min(p, m_appliedStop - kBelowStop);
    } else if (m_holdEnd && m_anchorPos <= m_appliedStop + 1e-6) {
        p = std::min(p, m_appliedStop);
    }
    if (m_duration > 0) p = std::min(p, m_duration);
    return std::max(p, 0.0);
}

void MpvEngine::takeSample(double value)
{
    // Paused, mpv reads the prefilled output buffer as not yet played: after a seek its
    // position shows the target less the buffer (measured: 1.82 for 2.0) until it plays.
    if (!m_loaded || m_seekPending || m_atEnd || m_endPending || m_pauseWanted || m_mpvPaused || m_practice->holding())
        return;
    m_anchorPos = value + m_wrapsPending * (m_wrapStop - m_wrapStart);
    m_anchorTime = now();
    m_running = !m_stopped;
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

void MpvEngine::resolveHeard()
{
    int heard = 0;
    if (m_wrapsPending > 0) {
        const double len = m_wrapStop - m_wrapStart;
        while (m_wrapsPending > 0 && rawPosition() >= m_wrapStop - 1e-9) {
            m_anchorPos -= len;
            --m_wrapsPending;
            ++heard;
        }
    }
    const bool ended = m_wrapsPending == 0 && m_endPending && rawPosition() >= m_endPos - 1e-9;
    if (m_practice->wrapsHeard(heard)) holdForPass();
    scheduleHeardCheck();
    // State first, signals last: a slot may call back into the engine.
    for (int i = 0; i < heard; ++i) emit loopWrapped();
    if (ended) finishEnd();
}

void MpvEngine::scheduleHeardCheck()
{
    if (!m_running || (m_wrapsPending == 0 && !m_endPending)) {
        m_heardTimer.stop();
        return;
    }
    const double target = m_wrapsPending > 0 ? m_wrapStop : m_endPos;
    const double ms = (target - rawPosition()) / m_rate * 1000.0;
    m_heardTimer.start(std::max(0, static_cast<int>(std::ceil(ms))));
}

double MpvEngine::effectiveEnd() const
{
    return m_holdEnd && *m_holdEnd < m_duration ? *m_holdEnd : m_duration;
}

void MpvEngine::beginEnd()
{
    m_endPending = true;
    m_endPos = effectiveEnd();
    qCDebug(lcEngine, "end decoded %.1f ms before it is heard", (m_endPos - rawPosition()) / m_rate * 1000);
    resolveHeard();
}

void MpvEngine::finishEnd()
{
    if (!m_endPending) return;
    const int heard = m_wrapsPending;
    m_wrapsPending = 0;
    m_endPending = false;
    m_atEnd = true;
    m_anchorPos = m_endPos;
    m_anchorTime = now();
    m_running = false;
    m_stopped = true;
    m_heardTimer.stop();
    for (int i = 0; i < heard; ++i) emit loopWrapped();
    updateState();
}

void MpvEngine::cancelPending()
{
    m_practice->cancel();
    m_wrapsPending = 0;
    m_endPending = false;
    m_atEnd = false;
    m_heardTimer.stop();
}

// ---- pictures ----

QWidget* MpvEngine::createVideoView(QWidget* parent)
{
    if (!m_mpv || !m_options.videoOutput || m_view) return nullptr;
    if (!MpvVideoView::openGlAvailable()) {
        // The sound still plays; mpv falls back to no pictures.
        qCWarning(lcEngine, "No OpenGL on this display: videos play without pictures.");
        return nullptr;
    }
    m_view = new MpvVideoView(m_mpv, parent);
    connect(m_view, &MpvVideoView::renderContextReady, this, [this] { onVideoOutput(true); });
    connect(m_view, &MpvVideoView::renderContextAboutToBeReleased, this, [this] { onVideoOutput(false); });
    return m_view;
}

void MpvEngine::onVideoOutput(bool available)
{
    if (!m_mpv) return;
    // A new value of `vo` makes mpv open its output again: the file playing gets its
    // pictures when a view appears. When the view goes, its output must be closed while
    // the render context still exists: mpv drops a video track whose output breaks, and
    // ends a file that has nothing else to play.
    const QByteArray vo = available ? "libmpv" : "null";
    if (m_written.value("vo") == vo) return;
    m_written.insert("vo", vo);
    mpv_set_property_string(m_mpv, "vo", vo.constData());
}

} // namespace player
