#pragma once
// What a media file holds, read from its headers without decoding it, so the engine can be
// chosen by content and the length is known before any engine has loaded the file.
#include <QString>

namespace engine {

struct MediaProbe { bool ok=false; QString error; bool hasAudio=false; bool hasVideo=false; double duration=0; };

// Local files only: no network, and nothing the file names is opened (no playlists,
// metafiles or references). A cover picture is not video. `duration` is 0 where the
// container does not tell it, and for a raw MPEG video stream, whose header gives a guess.
// Takes a few milliseconds for an ordinary local file; safe on any thread.
MediaProbe probeMedia(const QString& path);

} // namespace engine
