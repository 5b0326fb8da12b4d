#include "engine/mpv/mpvhandle.h"

#include <QLoggingCategory>

#include <mpv/client.h>

#include <clocale>
#include <iterator>
#include <type_traits>
#include <variant>

Q_LOGGING_CATEGORY(lcMpv, "vamplet.mpv", QtWarningMsg)
Q_LOGGING_CATEGORY(lcEngine, "vamplet.engine", QtWarningMsg)

namespace engine {

namespace {

// reply_userdata of our asynchronous requests; seeks carry the load generation above
// the tag, so replies to seeks made for an earlier file are told apart.
constexpr std::uint64_t kTagWrite = 1;
constexpr std::uint64_t kTagSeek = 2;
constexpr std::uint64_t kTagCommand = 3;
constexpr std::uint64_t kTagBits = 8;
constexpr std::uint64_t kHookPreloaded = 1;

template <class... F> struct Overloaded : F... { using F::operator()...; };
template <class... F> Overloaded(F...) -> Overloaded<F...>;

using Listener = MpvHandle::Listener;
using FlagHandler = void (Listener::*)(bool);
using TimeHandler = void (Listener::*)(std::optional<double>);
using TagsHandler = void (Listener::*)(const QHash<QString, QString>&);
using TracksHandler = void (Listener::*)(const MpvHandle::Tracks&);

struct ObservedProperty {
    const char* name;
    std::variant<FlagHandler, TimeHandler, TagsHandler, TracksHandler> handler;
};

const ObservedProperty kObserved[] = {
    {"pause", &Listener::onPause},
    {"eof-reached", &Listener::onEofReached},
    {"time-pos", &Listener::onTimePos},
    {"audio-pts", &Listener::onAudioPts},
    {"duration", &Listener::onDuration},
    {"metadata", &Listener::onMetadata},
    {"track-list", &Listener::onTrackList},
};

MpvHandle::Tracks tracksOf(const mpv_node* list)
{
    MpvHandle::Tracks found;
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

QHash<QString, QString> tagsOf(const mpv_node* node)
{
    QHash<QString, QString> tags;
    if (!node || node->format != MPV_FORMAT_NODE_MAP) return tags;
    for (int i = 0; i < node->u.list->num; ++i) {
        const mpv_node& v = node->u.list->values[i];
        if (v.format != MPV_FORMAT_STRING) continue;
        tags.insert(QString::fromUtf8(node->u.list->keys[i]).toLower(), QString::fromUtf8(v.u.string));
    }
    return tags;
}

MpvHandle::EndReason endReasonOf(int reason)
{
    switch (reason) {
    case MPV_END_FILE_REASON_STOP:
    case MPV_END_FILE_REASON_QUIT:
        return MpvHandle::EndReason::Ours;
    case MPV_END_FILE_REASON_REDIRECT:
        return MpvHandle::EndReason::Redirect;
    case MPV_END_FILE_REASON_ERROR:
        return MpvHandle::EndReason::Error;
    default:
        return MpvHandle::EndReason::Other;
    }
}

} // namespace

MpvHandle::MpvHandle(bool videoOutput, bool audioOutput, Listener* listener, QObject* parent)
    : QObject(parent), m_listener(listener)
{
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
        // Subtitles beside a video are lines of a list, shown once by the player window
        // under the picture; mpv drawing them too would show each line twice.
        {"sub-auto", "no"},
        {"load-stats-overlay", "no"}, {"load-osd-console", "no"}, {"load-auto-profiles", "no"},
        {"input-default-bindings", "no"}, {"input-vo-keyboard", "no"}, {"input-cursor", "no"},
        {"terminal", "no"}, {"resume-playback", "no"}, {"osd-level", "0"}, {"osd-bar", "no"},
        // At a file's end stay there, paused, like the component callers expect.
        {"keep-open", "yes"}, {"keep-open-pause", "yes"}, {"idle", "yes"}, {"cache-pause", "no"},
        // Short clips decode fine in software; no probing for GPU decoders.
        {"hwdec", "no"}, {"gpu-hwdec-interop", "no"},
        {"hr-seek", "yes"}, {"audio-pitch-correction", "yes"}, {"audio-fallback-to-null", "yes"},
        // Pictures are drawn on the UI thread (MpvVideoView), and by default mpv hands each
        // one over early and then blocks the draw until its time: 30-42 ms of every 40 ms
        // frame of a 25 fps video (measured, software OpenGL), while the wraps, holds and
        // mpv's events waited. mpv's own output thread waits for the time instead.
        {"video-timing-offset", "0"},
        // Without a render context (no view yet, or gone) libmpv's output cannot open;
        // mpv falls back to none and plays on.
        {"vo", videoOutput ? "libmpv,null" : "null"},
    };
    // A core that did not take every option is not one we can vouch for.
    bool refused = false;
    auto set = [&](const char* name, const char* value) {
        const int rc = mpv_set_option_string(m_mpv, name, value);
        if (rc >= 0) return;
        qCWarning(lcEngine) << "mpv refused option" << name << "=" << value << ":" << mpv_error_string(rc);
        refused = true;
    };
    for (const Opt& o : options) set(o.name, o.value);
    m_known.insert("vo", videoOutput ? "libmpv,null" : "null");
    if (!audioOutput) set("ao", "null");

    // Start from known values, so what is known is true from the first call.
    const Opt initial[] = {{"pause", "no"}, {"speed", "1.000000"}, {"ab-loop-a", "no"},
                           {"ab-loop-b", "no"}, {"ab-loop-count", "inf"}, {"end", "none"}, {"af", ""}};
    for (const Opt& o : initial) {
        set(o.name, o.value);
        m_known.insert(o.name, o.value);
    }

    if (refused || mpv_initialize(m_mpv) < 0) {
        mpv_terminate_destroy(m_mpv);
        m_mpv = nullptr;
        return;
    }
    for (std::size_t i = 0; i < std::size(kObserved); ++i) {
        const mpv_format format = std::visit(
            Overloaded{[](FlagHandler) { return MPV_FORMAT_FLAG; }, [](TimeHandler) { return MPV_FORMAT_DOUBLE; },
                       [](TagsHandler) { return MPV_FORMAT_NODE; }, [](TracksHandler) { return MPV_FORMAT_NODE; }},
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
    mpv_set_wakeup_callback(m_mpv, [](void* self) { static_cast<MpvHandle*>(self)->queueDrain(); }, this);
}

MpvHandle::~MpvHandle()
{
    if (!m_mpv) return;
    mpv_set_wakeup_callback(m_mpv, nullptr, nullptr);
    mpv_terminate_destroy(m_mpv);
    m_mpv = nullptr;
}

// Called on any of mpv's threads: only queue a drain onto ours.
void MpvHandle::queueDrain()
{
    if (!m_drainQueued.exchange(true))
        QMetaObject::invokeMethod(this, [this] { drainEvents(); }, Qt::QueuedConnection);
}

void MpvHandle::drainEvents()
{
    m_drainQueued = false;
    while (m_mpv) {
        mpv_event* event = mpv_wait_event(m_mpv, 0);
        if (event->event_id == MPV_EVENT_NONE) break;
        handleEvent(*event);
    }
}

void MpvHandle::waitEvent(double timeoutSeconds)
{
    if (!m_mpv) return;
    mpv_event* event = mpv_wait_event(m_mpv, timeoutSeconds);
    if (event->event_id != MPV_EVENT_NONE) handleEvent(*event);
}

void MpvHandle::handleEvent(const mpv_event& event)
{
    switch (event.event_id) {
    case MPV_EVENT_PROPERTY_CHANGE: {
        const auto* p = static_cast<const mpv_event_property*>(event.data);
        onPropertyChange(event.reply_userdata, p->format, p->data);
        break;
    }
    case MPV_EVENT_START_FILE:
        m_listener->onStartFile(static_cast<const mpv_event_start_file*>(event.data)->playlist_entry_id);
        break;
    case MPV_EVENT_HOOK: {
        const std::uint64_t id = static_cast<const mpv_event_hook*>(event.data)->id;
        if (event.reply_userdata == kHookPreloaded) {
            m_inHook = true;
            m_listener->onPreloaded();
            m_inHook = false;
        }
        if (m_mpv) mpv_hook_continue(m_mpv, id);
        break;
    }
    case MPV_EVENT_FILE_LOADED:
        m_listener->onFileLoaded();
        break;
    case MPV_EVENT_END_FILE: {
        const auto* e = static_cast<const mpv_event_end_file*>(event.data);
        m_listener->onEndFile(e->playlist_entry_id, endReasonOf(e->reason), e->error);
        break;
    }
    case MPV_EVENT_SEEK:
        m_listener->onSeekEvent();
        break;
    case MPV_EVENT_PLAYBACK_RESTART:
        m_listener->onPlaybackRestart();
        break;
    case MPV_EVENT_COMMAND_REPLY:
        if ((event.reply_userdata & ((1u << kTagBits) - 1)) == kTagSeek)
            m_listener->onSeekReply(event.reply_userdata >> kTagBits, event.error >= 0);
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

void MpvHandle::onPropertyChange(std::uint64_t id, int format, void* data)
{
    if (id >= std::size(kObserved)) return;
    Listener* l = m_listener;
    const auto* node = format == MPV_FORMAT_NODE ? static_cast<const mpv_node*>(data) : nullptr;
    std::visit(Overloaded{[&](FlagHandler h) { (l->*h)(format == MPV_FORMAT_FLAG && *static_cast<int*>(data)); },
                          [&](TimeHandler h) {
                              (l->*h)(format == MPV_FORMAT_DOUBLE ? std::optional(*static_cast<double*>(data))
                                                                  : std::nullopt);
                          },
                          [&](TagsHandler h) { (l->*h)(tagsOf(node)); },
                          [&](TracksHandler h) { (l->*h)(tracksOf(node)); }},
               kObserved[id].handler);
}

// ---- properties ----

void MpvHandle::write(const char* name, const QByteArray& value)
{
    if (!m_mpv) return;
    const auto it = m_known.constFind(name);
    if (it != m_known.constEnd() && *it == value) return;
    m_known.insert(name, value);
    if (m_inHook) {
        // mpv waits for us inside the hook; take effect before it plays on.
        mpv_set_property_string(m_mpv, name, value.constData());
        return;
    }
    const char* v = value.constData();
    mpv_set_property_async(m_mpv, kTagWrite, name, MPV_FORMAT_STRING, &v);
}

void MpvHandle::rewrite(const char* name, const QByteArray& value)
{
    if (!m_mpv) return;
    m_known.insert(name, value);
    const char* v = value.constData();
    mpv_set_property_async(m_mpv, kTagWrite, name, MPV_FORMAT_STRING, &v);
}

void MpvHandle::writeNow(const char* name, const QByteArray& value)
{
    if (!m_mpv || m_known.value(name) == value) return;
    m_known.insert(name, value);
    mpv_set_property_string(m_mpv, name, value.constData());
}

void MpvHandle::writeFileLocal(const char* name, const QByteArray& value)
{
    if (m_mpv) mpv_set_property_string(m_mpv, QByteArray("file-local-options/").append(name).constData(),
                                       value.constData());
}

// ---- reading ----

std::optional<double> MpvHandle::readDouble(const char* name) const
{
    double v = 0;
    if (!m_mpv || mpv_get_property(m_mpv, name, MPV_FORMAT_DOUBLE, &v) < 0) return std::nullopt;
    return v;
}

std::optional<std::int64_t> MpvHandle::readInt(const char* name) const
{
    std::int64_t v = 0;
    if (!m_mpv || mpv_get_property(m_mpv, name, MPV_FORMAT_INT64, &v) < 0) return std::nullopt;
    return v;
}

bool MpvHandle::readFlag(const char* name) const
{
    int v = 0;
    return m_mpv && mpv_get_property(m_mpv, name, MPV_FORMAT_FLAG, &v) >= 0 && v;
}

std::optional<QByteArray> MpvHandle::readString(const char* name) const
{
    char* v = m_mpv ? mpv_get_property_string(m_mpv, name) : nullptr;
    if (!v) return std::nullopt;
    QByteArray s(v);
    mpv_free(v);
    return s;
}

MpvHandle::Tracks MpvHandle::readTracks() const
{
    mpv_node node;
    if (!m_mpv || mpv_get_property(m_mpv, "track-list", MPV_FORMAT_NODE, &node) < 0) return {};
    const Tracks tracks = tracksOf(&node);
    mpv_free_node_contents(&node);
    return tracks;
}

QHash<QString, QString> MpvHandle::readMetadata() const
{
    mpv_node node;
    if (!m_mpv || mpv_get_property(m_mpv, "metadata", MPV_FORMAT_NODE, &node) < 0) return {};
    QHash<QString, QString> tags = tagsOf(&node);
    mpv_free_node_contents(&node);
    return tags;
}

// ---- commands ----

int MpvHandle::command(const char* const* args)
{
    return m_mpv ? mpv_command(m_mpv, const_cast<const char**>(args)) : MPV_ERROR_UNINITIALIZED;
}

int MpvHandle::commandLine(const QByteArray& line)
{
    return m_mpv ? mpv_command_string(m_mpv, line.constData()) : MPV_ERROR_UNINITIALIZED;
}

void MpvHandle::commandAsync(const char* const* args)
{
    if (m_mpv) mpv_command_async(m_mpv, kTagCommand, const_cast<const char**>(args));
}

bool MpvHandle::seekAsync(const QByteArray& target, std::uint64_t generation)
{
    const char* args[] = {"seek", target.constData(), "absolute+exact", nullptr};
    return m_mpv && mpv_command_async(m_mpv, (generation << kTagBits) | kTagSeek, args) >= 0;
}

QString MpvHandle::errorString(int error)
{
    return QString::fromUtf8(mpv_error_string(error));
}

} // namespace engine
