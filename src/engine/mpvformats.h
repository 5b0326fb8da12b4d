#pragma once
// What some container formats need from mpv beyond its defaults, and what its load
// errors mean to a user.
#include <QByteArray>
#include <QString>

namespace engine {

// How far before an exact seek's target mpv's demuxer must start (its
// hr-seek-demuxer-offset) for the format mpv names `fileFormat`; empty for none.
// MPEG program streams landed up to a group of pictures late (0.44 s measured), ASF
// files up to a data packet late: starting the demuxer earlier lets the exact seek
// decode up to the target instead.
QByteArray demuxerSeekOffset(const QByteArray& fileFormat);

// Where to seek a video with sound so that none of the sound from `target` on is lost:
// the start of the frame that shows at `target`, its frames `period` seconds apart from
// `phase` on (any frame's time). mpv starts the sound with the first picture it shows after
// an exact seek, the first frame at or after the target, so a seek between two frames lost
// the sound up to the later one (20-40 ms at 25 frames a second). Sought here, the sound
// starts less than a frame early. `target` itself without a frame rate.
double frameStartAtOrBefore(double target, double phase, double period);

// The length of a raw MPEG-1/2 video stream (mpv's "mpegvideo"), which carries no time
// stamps: its pictures counted, over the frame rate of its first sequence header.
// 0 when the file is not such a stream or cannot be read.
double mpegVideoStreamSeconds(const QString& path);

// Why a file could not be loaded, for the user, from mpv's error code.
QString loadErrorText(int mpvError);

} // namespace engine
