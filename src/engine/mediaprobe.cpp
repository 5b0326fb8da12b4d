#include "engine/mediaprobe.h"

#include "engine/mpvformats.h"

#include <QByteArrayList>
#include <QDateTime>
#include <QFileInfo>

#include <algorithm>
#include <deque>
#include <mutex>
#include <optional>

#include <mpv/client.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
}

namespace engine {

namespace {

// Demuxers that follow references (HLS, concat, DASH, image sequences) open further files
// through this; the probe looks at the one file it was given and nothing else.
int refuseNestedOpen(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**)
{
    return AVERROR(EPERM);
}

// Formats that are lists of other files (or of network sources) rather than media.
bool namesOtherFiles(const char* formatName)
{
    const QByteArrayList names = QByteArray(formatName).split(',');
    for (const char* list : {"concat", "hls", "dash", "imf", "sdp", "rtsp", "image2"})
        if (names.contains(list)) return true;
    return false;
}

MediaProbe failure(int mpvError)
{
    MediaProbe p;
    p.error = loadErrorText(mpvError);
    return p;
}

// Plain PCM whose length the headers give is told in full by them: reading its first
// packets as well (6-9 ms, most of it looking for compressed sound carried as PCM) would
// hold up the window for nothing.
std::optional<double> pcmLength(const AVFormatContext* f)
{
    if (f->nb_streams == 0) return std::nullopt;
    double seconds = 0;
    for (unsigned i = 0; i < f->nb_streams; ++i) {
        const AVStream* st = f->streams[i];
        const AVCodecParameters* c = st->codecpar;
        if (c->codec_type != AVMEDIA_TYPE_AUDIO || av_get_bits_per_sample(c->codec_id) <= 0 || c->sample_rate <= 0 ||
            st->duration == AV_NOPTS_VALUE || st->duration <= 0)
            return std::nullopt;
        seconds = std::max(seconds, double(st->duration) * av_q2d(st->time_base));
    }
    return seconds;
}

struct Probe {
    AVIOContext* io = nullptr;
    AVFormatContext* format = nullptr;
    ~Probe()
    {
        avformat_close_input(&format);
        avio_closep(&io);
    }
};

} // namespace

namespace {

MediaProbe probeFile(const QFileInfo& info);

// The last files read, told apart by size and time of change: the engine is chosen and the
// length shown from the same few milliseconds of reading.
struct Remembered {
    QString path;
    qint64 size = 0;
    QDateTime changed;
    MediaProbe probe;
};

} // namespace

MediaProbe probeMedia(const QString& path)
{
    const QFileInfo info(path);
    if (path.isEmpty() || !info.isFile() || !info.isReadable()) return failure(MPV_ERROR_LOADING_FAILED);
    static std::mutex mutex;
    static std::deque<Remembered> remembered;
    const Remembered key{info.absoluteFilePath(), info.size(), info.lastModified(), {}};
    const auto same = [&](const Remembered& r) { return r.path == key.path && r.size == key.size && r.changed == key.changed; };
    {
        std::lock_guard lock(mutex);
        const auto it = std::find_if(remembered.begin(), remembered.end(), same);
        if (it != remembered.end()) return it->probe;
    }
    const MediaProbe probe = probeFile(info);
    std::lock_guard lock(mutex);
    if (std::none_of(remembered.begin(), remembered.end(), same)) {
        remembered.push_front(key);
        remembered.front().probe = probe;
        if (remembered.size() > 4) remembered.pop_back();
    }
    return probe;
}

namespace {

MediaProbe probeFile(const QFileInfo& info)
{
    av_log_set_level(AV_LOG_QUIET);
    Probe probe;
    // The "file:" prefix keeps a name with a colon from being read as another protocol.
    const QByteArray url = "file:" + QFile::encodeName(info.absoluteFilePath());
    AVDictionary* ioOptions = nullptr;
    av_dict_set(&ioOptions, "protocol_whitelist", "file", 0);
    const int opened = avio_open2(&probe.io, url.constData(), AVIO_FLAG_READ, nullptr, &ioOptions);
    av_dict_free(&ioOptions);
    if (opened < 0) return failure(MPV_ERROR_LOADING_FAILED);

    // The format is read before it is opened: a list opens the files it names as it opens.
    const AVInputFormat* format = nullptr;
    const int probed = av_probe_input_buffer2(probe.io, &format, url.constData(), nullptr, 0, 0);
    if (probed < 0 || !format)
        return failure(probed == AVERROR(EIO) ? MPV_ERROR_LOADING_FAILED : MPV_ERROR_UNKNOWN_FORMAT);
    if (namesOtherFiles(format->name)) return failure(MPV_ERROR_NOTHING_TO_PLAY);

    probe.format = avformat_alloc_context();
    if (!probe.format) return failure(MPV_ERROR_LOADING_FAILED);
    probe.format->pb = probe.io;
    probe.format->flags |= AVFMT_FLAG_CUSTOM_IO;
    probe.format->io_open = refuseNestedOpen;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    const int status = avformat_open_input(&probe.format, url.constData(), format, &options);
    av_dict_free(&options);
    if (status < 0) {
        // avformat_open_input frees the context on failure, leaving our I/O to close.
        return failure(status == AVERROR(EIO) || status == AVERROR(EPERM) ? MPV_ERROR_LOADING_FAILED
                                                                          : MPV_ERROR_UNKNOWN_FORMAT);
    }
    const std::optional<double> pcm = pcmLength(probe.format);
    if (pcm) {
        MediaProbe result;
        result.hasAudio = true;
        result.duration = *pcm;
        result.ok = true;
        return result;
    }
    if (avformat_find_stream_info(probe.format, nullptr) < 0) return failure(MPV_ERROR_UNKNOWN_FORMAT);

    MediaProbe result;
    for (unsigned i = 0; i < probe.format->nb_streams; ++i) {
        const AVStream* stream = probe.format->streams[i];
        const AVCodecParameters* codec = stream->codecpar;
        if (codec->codec_id == AV_CODEC_ID_NONE) continue;
        if (codec->codec_type == AVMEDIA_TYPE_AUDIO) result.hasAudio = true;
        else if (codec->codec_type == AVMEDIA_TYPE_VIDEO && !(stream->disposition & AV_DISPOSITION_ATTACHED_PIC))
            result.hasVideo = true;
    }
    if (!result.hasAudio && !result.hasVideo) return failure(MPV_ERROR_NOTHING_TO_PLAY);
    // A raw MPEG video stream's figure is a guess from its bit rate: its length is counted
    // from its pictures, by the engine that plays it.
    const bool guessed = QByteArray(format->name) == "mpegvideo";
    if (!guessed && probe.format->duration != AV_NOPTS_VALUE && probe.format->duration > 0)
        result.duration = static_cast<double>(probe.format->duration) / AV_TIME_BASE;
    result.ok = true;
    return result;
}

} // namespace

} // namespace engine
