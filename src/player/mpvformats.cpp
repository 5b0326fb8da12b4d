#include "player/mpvformats.h"

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
