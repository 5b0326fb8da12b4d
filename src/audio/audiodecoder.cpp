#include "audio/audiodecoder.h"

#include <QFile>
#include <QFileInfo>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>
#include <optional>
#include <utility>
#include <vector>

namespace audio {
namespace {

// Packets in a row that do not decode before the file counts as unreadable.
constexpr int kMaxBadPackets = 500;

QString avText(int code)
{
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, buf, sizeof buf);
    return QString::fromUtf8(buf);
}

// Refuses every file a demuxer would open besides the one asked for: playlists,
// segment lists and references to other files stay unexpanded.
int refuseNestedOpen(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**)
{
    return AVERROR(EPERM);
}

// Demuxers whose files are lists of other files; they open those on their own.
bool namesOtherFiles(const AVInputFormat* kind)
{
    static const char* const kLists[] = {"concat", "hls", "dash", "webm_dash_manifest", "ffmetadata"};
    const QByteArray names(kind->name);
    for (const QByteArray& n : names.split(','))
        for (const char* list : kLists)
            if (n == list) return true;
    return false;
}

constexpr int64_t kPcmProbeBytes = 32 * 1024;

// One PCM sound stream and nothing else.
bool pcmAlone(const AVFormatContext* fmt)
{
    if (fmt->nb_streams != 1) return false;
    const AVCodecParameters* p = fmt->streams[0]->codecpar;
    const AVCodecDescriptor* d = avcodec_descriptor_get(p->codec_id);
    return p->codec_type == AVMEDIA_TYPE_AUDIO && d && QByteArray(d->name).startsWith("pcm_");
}

// The encoder's delay and padding an MP3's LAME or Lavf info frame gives; the demuxer
// drops both when decoding but counts them in the stream's length.
std::optional<std::pair<int, int>> mp3Padding(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return std::nullopt;
    qint64 at = 0;
    for (;;) {  // ID3v2 tags, however many
        f.seek(at);
        const QByteArray h = f.read(10);
        if (h.size() < 10 || !h.startsWith("ID3")) break;
        const auto b = [&](int i) { return qint64(uchar(h[i]) & 0x7f); };
        at += 10 + (b(6) << 21 | b(7) << 14 | b(8) << 7 | b(9)) + ((uchar(h[5]) & 0x10) ? 10 : 0);
    }
    f.seek(at);
    const QByteArray head = f.read(4096);
    const auto u = [&](qsizetype i) { return i < head.size() ? uchar(head[i]) : uchar(0); };
    qsizetype sync = 0;
    while (sync + 4 < head.size() && !(u(sync) == 0xff && (u(sync + 1) & 0xe0) == 0xe0)) ++sync;
    if (sync + 4 >= head.size() || ((u(sync + 1) >> 1) & 3) != 1) return std::nullopt;  // layer III only
    const bool lsf = !((u(sync + 1) >> 3) & 1);
    const bool mono = (u(sync + 3) >> 6) == 3;
    qsizetype p = sync + 4 + (lsf ? (mono ? 9 : 17) : (mono ? 17 : 32));
    const QByteArray tag = head.mid(p, 4);
    if (tag != "Xing" && tag != "Info") return std::nullopt;
    const uchar flags = u(p + 7);
    p += 8 + ((flags & 1) ? 4 : 0) + ((flags & 2) ? 4 : 0) + ((flags & 4) ? 100 : 0) + ((flags & 8) ? 4 : 0);
    const QByteArray encoder = head.mid(p, 4);
    if (encoder != "LAME" && encoder != "Lavf" && encoder != "Lavc") return std::nullopt;
    p += 21;
    if (p + 3 > head.size()) return std::nullopt;
    const int v = u(p) << 16 | u(p + 1) << 8 | u(p + 2);
    return std::pair{v >> 12, v & 4095};
}

} // namespace

struct Decoder::State {
    QString path;
    AVIOContext* io = nullptr;
    AVFormatContext* fmt = nullptr;
    AVCodecContext* codec = nullptr;
    SwrContext* swr = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    int stream = -1;
    AVRational timeBase{1, 1};
    qint64 startTs = 0;  // the stream's first sample, in its time base
    Format format;
    int wantedRate = 0;  // the rate asked for; 0: the file's own
    qint64 dropIn = 0;   // input frames left out before the resampler, so its grid is the file's

    // Swr's input as last configured.
    int swrFormat = -1;
    int swrRate = 0;
    int swrChannels = 0;

    std::vector<float> pending;  // one decoded frame, converted
    qint64 pendingFrames = 0;
    qint64 pendingPos = 0;   // frames of `pending` already handed out
    qint64 next = 0;         // sample index of pending[pendingPos]
    bool placeFromPts = false;  // after a seek the next frame's time stamp says where it is
    bool placeUnknown = false;  // ... and it had none
    bool flushed = false;       // the demuxer ended and the decoder was told
    bool ended = false;

    ~State() { close(); }

    void close()
    {
        swr_free(&swr);
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&codec);
        avformat_close_input(&fmt);
        avio_closep(&io);
        stream = -1;
        format = Format{};  // nothing plays from a file that failed to open
        swrFormat = -1;
        pending.clear();
        pendingFrames = pendingPos = next = dropIn = 0;
        placeFromPts = flushed = ended = false;
    }

    bool open(const QString& file, QString* error);
    int decodeFrame();
    bool convert();
    bool resampling() const { return swr && swrRate != format.sampleRate; }
    qint64 placeAt(int64_t ts);
    bool drainResampler();
    qint64 sampleOf(int64_t ts) const;
    void restart();
    bool skipTo(qint64 frame);
};

bool Decoder::State::open(const QString& file, QString* error)
{
    close();
    auto fail = [&](const QString& why) {
        if (error) *error = why;
        close();
        return false;
    };
    const QFileInfo info(file);
    if (!info.exists()) return fail(QStringLiteral("The file does not exist."));
    if (!info.isFile()) return fail(QStringLiteral("This is not a file."));
    path = info.absoluteFilePath();

    // An absolute path through the file protocol alone: nothing in the name is read as
    // a protocol or an option.
    AVDictionary* ioOptions = nullptr;
    av_dict_set(&ioOptions, "protocol_whitelist", "file", 0);
    const QByteArray url = "file:" + QFile::encodeName(path);
    int rc = avio_open2(&io, url.constData(), AVIO_FLAG_READ, nullptr, &ioOptions);
    av_dict_free(&ioOptions);
    if (rc < 0) return fail(QStringLiteral("The file cannot be read (%1).").arg(avText(rc)));

    const AVInputFormat* kind = nullptr;
    rc = av_probe_input_buffer2(io, &kind, url.constData(), nullptr, 0, 0);
    if (rc < 0 || !kind) return fail(QStringLiteral("This is not a media file that can be played."));
    if (namesOtherFiles(kind)) return fail(QStringLiteral("This is a list of other files, not a media file."));

    fmt = avformat_alloc_context();
    if (!fmt) return fail(QStringLiteral("Out of memory."));
    fmt->pb = io;
    fmt->io_open = refuseNestedOpen;
    fmt->flags |= AVFMT_FLAG_GENPTS;
    rc = avformat_open_input(&fmt, url.constData(), kind, nullptr);
    if (rc < 0) {
        fmt = nullptr;  // freed by avformat_open_input
        return fail(QStringLiteral("This is not a media file that can be played."));
    }
    // A PCM stream is checked for compressed sound passed off as PCM by reading ahead;
    // the default 5 MB takes several milliseconds of a new file's first sound, and a
    // compressed stream shows its sync words well inside 32 KiB.
    if (pcmAlone(fmt)) fmt->probesize = kPcmProbeBytes;
    rc = avformat_find_stream_info(fmt, nullptr);
    if (rc < 0) return fail(QStringLiteral("The file's streams cannot be read (%1).").arg(avText(rc)));

    const AVCodec* decoderCodec = nullptr;
    stream = av_find_best_stream(fmt, AVMEDIA_TYPE_AUDIO, -1, -1, &decoderCodec, 0);
    if (stream < 0 || !decoderCodec) {
        const bool none = stream == AVERROR_STREAM_NOT_FOUND;
        return fail(none ? QStringLiteral("The file holds no sound.")
                         : QStringLiteral("The file's sound cannot be decoded (no decoder for it)."));
    }
    AVStream* st = fmt->streams[stream];
    for (unsigned i = 0; i < fmt->nb_streams; ++i)
        if (static_cast<int>(i) != stream) fmt->streams[i]->discard = AVDISCARD_ALL;

    codec = avcodec_alloc_context3(decoderCodec);
    if (!codec) return fail(QStringLiteral("Out of memory."));
    rc = avcodec_parameters_to_context(codec, st->codecpar);
    if (rc >= 0) {
        codec->pkt_timebase = st->time_base;
        rc = avcodec_open2(codec, decoderCodec, nullptr);
    }
    if (rc < 0) return fail(QStringLiteral("The file's sound cannot be decoded (%1).").arg(avText(rc)));

    format.sampleRate = codec->sample_rate;
    format.channels = codec->ch_layout.nb_channels;
    if (format.sampleRate <= 0 || format.channels <= 0)
        return fail(QStringLiteral("The file's sound has no sample rate or channels."));
    // Every count below, and every seek, is at the rate the frames are handed out at.
    const int ownRate = format.sampleRate;
    if (wantedRate > 0) format.sampleRate = wantedRate;

    timeBase = st->time_base;
    startTs = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;
    // Counted in the file's own frames first: the resampler's output for them is known
    // exactly, where a length rescaled and rounded on its own may miss its last frame.
    qint64 own = -1;
    if (st->duration != AV_NOPTS_VALUE && st->duration > 0)
        own = av_rescale_q_rnd(st->duration, timeBase, AVRational{1, ownRate}, AV_ROUND_NEAR_INF);
    else if (fmt->duration != AV_NOPTS_VALUE && fmt->duration > 0)
        own = av_rescale_q_rnd(fmt->duration, AV_TIME_BASE_Q, AVRational{1, ownRate}, AV_ROUND_NEAR_INF);
    if (own > 0 && QByteArray(fmt->iformat->name) == "mp3" &&
        fmt->duration_estimation_method == AVFMT_DURATION_FROM_STREAM)
        if (const auto pad = mp3Padding(path)) own = std::max<qint64>(0, own - pad->first - pad->second);
    // From a first frame on both grids, the resampler gives a frame for every moment before
    // the sound's end: the count rounds up.
    format.frames = own >= 0 && ownRate != format.sampleRate ? av_rescale_rnd(own, format.sampleRate, ownRate, AV_ROUND_UP)
                                                             : own;

    packet = av_packet_alloc();
    frame = av_frame_alloc();
    if (!packet || !frame) return fail(QStringLiteral("Out of memory."));
    return true;
}

qint64 Decoder::State::placeAt(int64_t ts)
{
    const int inRate = frame->sample_rate > 0 ? frame->sample_rate : codec->sample_rate;
    if (inRate == format.sampleRate) return sampleOf(ts);
    // A fresh resampler's frames stand at the moments of its first input frame on: it
    // starts where the two rates' frames meet (every 147 at 44.1 kHz into 48 kHz), else
    // each seek would shift the sound by a fraction of a frame.
    const qint64 g = std::gcd(inRate, format.sampleRate);
    const qint64 inStep = inRate / g;
    const qint64 in = av_rescale_q_rnd(ts - startTs, timeBase, AVRational{1, inRate}, AV_ROUND_NEAR_INF);
    dropIn = ((inStep - in % inStep) % inStep + inStep) % inStep;
    return (in + dropIn) / inStep * (format.sampleRate / g);
}

qint64 Decoder::State::sampleOf(int64_t ts) const
{
    return av_rescale_q_rnd(ts - startTs, timeBase, AVRational{1, format.sampleRate}, AV_ROUND_NEAR_INF);
}

bool Decoder::State::convert()
{
    AVChannelLayout inLayout{};
    if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || frame->ch_layout.nb_channels == 0)
        av_channel_layout_default(&inLayout, frame->ch_layout.nb_channels ? frame->ch_layout.nb_channels
                                                                          : format.channels);
    else if (av_channel_layout_copy(&inLayout, &frame->ch_layout) < 0)
        return false;
    const int inRate = frame->sample_rate > 0 ? frame->sample_rate : format.sampleRate;

    if (!swr || frame->format != swrFormat || inRate != swrRate || inLayout.nb_channels != swrChannels) {
        swr_free(&swr);
        AVChannelLayout outLayout{};
        av_channel_layout_default(&outLayout, format.channels);
        const int rc = swr_alloc_set_opts2(&swr, &outLayout, AV_SAMPLE_FMT_FLT, format.sampleRate, &inLayout,
                                           static_cast<AVSampleFormat>(frame->format), inRate, 0, nullptr);
        av_channel_layout_uninit(&outLayout);
        if (rc < 0 || swr_init(swr) < 0) {
            av_channel_layout_uninit(&inLayout);
            swr_free(&swr);
            return false;
        }
        swrFormat = frame->format;
        swrRate = inRate;
        swrChannels = inLayout.nb_channels;
    }
    av_channel_layout_uninit(&inLayout);

    const int skip = int(std::min<qint64>(dropIn, frame->nb_samples));
    dropIn -= skip;
    const auto sampleFormat = static_cast<AVSampleFormat>(frame->format);
    const bool planar = av_sample_fmt_is_planar(sampleFormat);
    const int channels = std::max(1, frame->ch_layout.nb_channels);
    std::vector<const uint8_t*> in(planar ? channels : 1);
    for (std::size_t p = 0; p < in.size(); ++p)
        in[p] = frame->extended_data[p] + std::size_t(skip) * av_get_bytes_per_sample(sampleFormat) * (planar ? 1 : channels);
    const int room = swr_get_out_samples(swr, frame->nb_samples - skip);
    if (room < 0) return false;
    pending.resize(static_cast<size_t>(room) * format.channels);
    uint8_t* out[] = {reinterpret_cast<uint8_t*>(pending.data())};
    const int n = swr_convert(swr, out, room, in.data(), frame->nb_samples - skip);
    if (n < 0) return false;
    pendingFrames = n;
    pendingPos = 0;
    return true;
}

// One more frame into `pending`: 1 done, 0 at the end, -1 on an error.
int Decoder::State::decodeFrame()
{
    if (ended) return 0;
    int badPackets = 0;
    for (;;) {
        int rc = avcodec_receive_frame(codec, frame);
        if (rc == 0) {
            const int64_t ts = frame->best_effort_timestamp;
            const qint64 at = placeFromPts && ts != AV_NOPTS_VALUE ? placeAt(ts) : next + (pendingFrames - pendingPos);
            placeUnknown = placeFromPts && ts == AV_NOPTS_VALUE;
            placeFromPts = false;
            const bool ok = convert();
            av_frame_unref(frame);
            if (!ok) return -1;
            next = at;
            if (pendingFrames == 0) continue;
            return 1;
        }
        if (rc == AVERROR_EOF) {
            ended = true;
            pendingFrames = pendingPos = 0;
            // What the resampler holds back for its filter is the sound's last few frames.
            return drainResampler() && pendingFrames > 0 ? 1 : 0;
        }
        if (rc != AVERROR(EAGAIN)) return -1;
        if (flushed) {  // a decoder that wants input after being drained
            ended = true;
            return 0;
        }

        rc = av_read_frame(fmt, packet);
        if (rc < 0) {
            if (rc != AVERROR_EOF && fmt->pb && fmt->pb->error < 0) return -1;
            flushed = true;
            avcodec_send_packet(codec, nullptr);
            continue;
        }
        if (packet->stream_index != stream) {
            av_packet_unref(packet);
            continue;
        }
        rc = avcodec_send_packet(codec, packet);
        av_packet_unref(packet);
        // A damaged packet costs its own sound only, as in any player.
        if (rc < 0 && rc != AVERROR(EAGAIN)) {
            if (++badPackets > kMaxBadPackets) return -1;
        } else {
            badPackets = 0;
        }
    }
}

bool Decoder::State::drainResampler()
{
    if (!resampling()) return false;
    const int room = swr_get_out_samples(swr, 0);
    if (room <= 0) return false;
    pending.resize(static_cast<size_t>(room) * format.channels);
    uint8_t* out[] = {reinterpret_cast<uint8_t*>(pending.data())};
    const int n = swr_convert(swr, out, room, nullptr, 0);
    pendingFrames = std::max(0, n);
    pendingPos = 0;
    return n > 0;
}

// Back to the very first sample; a seek to the start re-arms the decoder's own skip of
// an encoder delay, which a seek elsewhere would not.
void Decoder::State::restart()
{
    const QString file = path;
    QString ignored;
    open(file, &ignored);
}

// Decodes forward, dropping samples before `frame`.
bool Decoder::State::skipTo(qint64 target)
{
    for (;;) {
        if (pendingPos < pendingFrames) {
            if (next >= target) return true;
            const qint64 drop = std::min(pendingFrames - pendingPos, target - next);
            pendingPos += drop;
            next += drop;
            if (next >= target) return true;
            continue;
        }
        const int rc = decodeFrame();
        if (rc < 0) return false;
        if (rc == 0) return true;  // past the end: reads give 0
    }
}

Decoder::Decoder() : d(std::make_unique<State>()) {}
Decoder::~Decoder() = default;

bool Decoder::open(const QString& path, QString* error, int sampleRate)
{
    d->wantedRate = std::max(0, sampleRate);
    return d->open(path, error);
}

Format Decoder::format() const
{
    return d->fmt ? d->format : Format{};
}

qint64 Decoder::read(float* out, qint64 maxFrames)
{
    if (!d->fmt) return -1;
    qint64 done = 0;
    const int ch = d->format.channels;
    while (done < maxFrames) {
        if (d->pendingPos >= d->pendingFrames) {
            const int rc = d->decodeFrame();
            if (rc < 0) return done > 0 ? done : -1;
            if (rc == 0) break;
        }
        const qint64 n = std::min(maxFrames - done, d->pendingFrames - d->pendingPos);
        std::memcpy(out + done * ch, d->pending.data() + d->pendingPos * ch, sizeof(float) * n * ch);
        d->pendingPos += n;
        d->next += n;
        done += n;
    }
    return done;
}

QHash<QString, QString> Decoder::tags() const
{
    QHash<QString, QString> out;
    if (!d->fmt) return out;
    // The container's tags first; the stream's fill what it lacks.
    for (AVDictionary* dict : {d->fmt->metadata, d->fmt->streams[d->stream]->metadata}) {
        const AVDictionaryEntry* e = nullptr;
        while ((e = av_dict_get(dict, "", e, AV_DICT_IGNORE_SUFFIX))) {
            const QString key = QString::fromUtf8(e->key).toLower();
            if (!out.contains(key)) out.insert(key, QString::fromUtf8(e->value));
        }
    }
    return out;
}

bool Decoder::seek(qint64 frame)
{
    State& s = *d;
    if (!s.fmt || frame < 0) return false;
    const qint64 rate = s.format.sampleRate;
    // Close ahead: decoding on is cheaper than a seek.
    if (!s.placeFromPts && frame >= s.next && frame - s.next < rate / 2) return s.skipTo(frame);

    // Land a little before the target and decode up to it: codecs with a bit reservoir
    // or overlapping transforms need a few frames before their output is exact.
    qint64 preroll = std::max<qint64>(rate / 10, 8192);
    for (int attempt = 0; attempt < 6; ++attempt, preroll *= 4) {
        const qint64 from = frame - preroll;
        if (from <= 0) break;
        const int64_t ts = s.startTs + av_rescale_q(from, AVRational{1, static_cast<int>(rate)}, s.timeBase);
        if (av_seek_frame(s.fmt, s.stream, ts, AVSEEK_FLAG_BACKWARD) < 0) break;
        avcodec_flush_buffers(s.codec);
        // The resampler's filter still holds sound from before the seek.
        if (s.resampling()) swr_free(&s.swr);
        s.dropIn = 0;
        s.pendingFrames = s.pendingPos = 0;
        s.flushed = s.ended = false;
        s.placeFromPts = true;
        const int rc = s.decodeFrame();
        if (rc < 0) return false;
        // Landed after the target, or nowhere known: further back.
        if (rc == 0 || s.placeUnknown) break;
        if (s.next > frame) continue;
        return s.skipTo(frame);
    }
    s.restart();
    if (!s.fmt) return false;
    return s.skipTo(frame);
}

} // namespace audio
