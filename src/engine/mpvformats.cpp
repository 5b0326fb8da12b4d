#include "engine/mpvformats.h"

#include <QFile>

#include <algorithm>
#include <cmath>
#include <cstring>

#include <QByteArrayList>
#include <QCoreApplication>

#include <mpv/client.h>

namespace engine {

double frameStartAtOrBefore(double target, double phase, double period)
{
    if (!(period > 0) || !std::isfinite(period) || !std::isfinite(phase)) return target;
    // A target on a frame's time, give or take rounding, is that frame's.
    const double frames = std::floor((target - phase) / period + 1e-6);
    return std::clamp(phase + frames * period, 0.0, std::max(0.0, target));
}

QByteArray demuxerSeekOffset(const QByteArray& fileFormat)
{
    const QByteArrayList names = fileFormat.split(',');
    for (const QByteArray& f : names) {
        // Without an index a seek is a search by time stamps, landing on the first
        // picture after the target.
        if (f == "mpeg" || f == "mpegts" || f == "mpegvideo") return "1.0";
        // ASF seeks to whole data packets: WMA sound landed 79 ms late at 1.5 s.
        if (f == "asf") return "0.5";
    }
    return {};
}

QString loadErrorText(int mpvError)
{
    const char* text = nullptr;
    switch (mpvError) {
    case MPV_ERROR_UNKNOWN_FORMAT:
        text = "The file is not in a sound or video format that can be played; it may be damaged or cut short.";
        break;
    case MPV_ERROR_LOADING_FAILED:
        text = "The file could not be opened or read.";
        break;
    case MPV_ERROR_NOTHING_TO_PLAY:
        text = "The file holds no sound or pictures that can be decoded.";
        break;
    case MPV_ERROR_AO_INIT_FAILED:
        text = "The sound output could not be opened.";
        break;
    case MPV_ERROR_VO_INIT_FAILED:
        text = "The video output could not be opened.";
        break;
    default:
        return QString::fromUtf8(mpv_error_string(mpvError));
    }
    return QCoreApplication::translate("MpvEngine", text);
}

} // namespace engine

namespace engine {

double mpegVideoStreamSeconds(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return 0;
    static const double rates[16] = {0, 24000.0 / 1001, 24, 25, 30000.0 / 1001, 30, 50, 60000.0 / 1001, 60};
    double fps = 0;
    qint64 pictures = 0;
    // A start code is 00 00 01 and its code byte; 01 is rare in coded data, so it is
    // looked for first. Each read is preceded by the last bytes of the one before, so
    // codes across the border are seen, and only once.
    constexpr qsizetype kCarry = 8;
    QByteArray buf;
    qsizetype from = 2;  // the first place a 01 may stand that was not looked at yet
    for (QByteArray chunk; !(chunk = file.read(1 << 20)).isEmpty();) {
        buf = buf.right(std::min(kCarry, buf.size())) + chunk;
        const auto* b = reinterpret_cast<const quint8*>(buf.constData());
        const qsizetype n = buf.size();
        qsizetype i = std::max<qsizetype>(from, 2);
        while (i + 1 < n) {
            const auto* hit = static_cast<const quint8*>(std::memchr(b + i, 0x01, std::size_t(n - 1 - i)));
            if (!hit) {
                i = n - 1;
                break;
            }
            i = hit - b;
            if (b[i - 1] == 0 && b[i - 2] == 0) {
                if (b[i + 1] == 0x00) {
                    ++pictures;
                } else if (b[i + 1] == 0xb3 && fps == 0) {
                    // Sequence header: the rate in the low bits of its 4th byte.
                    if (i + 5 >= n) break;  // seen again with the next read
                    fps = rates[b[i + 5] & 0x0f];
                }
            }
            ++i;
        }
        // The next read starts with the carried bytes: where looking stopped lies there.
        const qsizetype carried = std::min(kCarry, n);
        from = std::max<qsizetype>(2, i - (n - carried));
    }
    return fps > 0 ? pictures / fps : 0;
}

} // namespace engine
