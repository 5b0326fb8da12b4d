#include "player/mpvformats.h"

#include <QFile>

#include <QByteArrayList>
#include <QCoreApplication>

#include <mpv/client.h>

namespace player {

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

} // namespace player

namespace player {

double mpegVideoStreamSeconds(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return 0;
    static const double rates[16] = {0, 24000.0 / 1001, 24, 25, 30000.0 / 1001, 30, 50, 60000.0 / 1001, 60};
    double fps = 0;
    qint64 pictures = 0;
    quint32 window = 0xffffffff;  // the last four bytes read
    int headerBytesWanted = 0;    // bytes of a sequence header still to come before its rate
    QByteArray chunk;
    while (!(chunk = file.read(1 << 20)).isEmpty()) {
        for (const char ch : chunk) {
            const auto byte = static_cast<quint8>(ch);
            if (headerBytesWanted > 0 && --headerBytesWanted == 0 && fps == 0) fps = rates[byte & 0x0f];
            window = (window << 8) | byte;
            if (window == 0x00000100) ++pictures;                // picture start code
            else if (window == 0x000001b3) headerBytesWanted = 4;  // sequence header: rate in its 4th byte
        }
    }
    return fps > 0 ? pictures / fps : 0;
}

} // namespace player
