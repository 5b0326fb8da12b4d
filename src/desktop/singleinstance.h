#pragma once
// One program per user: the first start takes the media-controls bus name, a second one
// finds it taken and hands its file over instead of both writing the playlist file.
// Called by main before any window exists.
#include <QString>

namespace desktop {

// The bus name and object the desktop's media controls reach the program under.
inline constexpr const char* kMprisService = "org.mpris.MediaPlayer2.vamplet";
inline constexpr const char* kMprisPath = "/org/mpris/MediaPlayer2";

enum class BusClaim { Ours, HandedOver, NoBus };

// Takes the program's bus name. When another start holds it, hands `file` (when given) to it
// to play, or asks it to show itself, and says so: this process then has nothing to do.
BusClaim claimBusName(const QString& file);

} // namespace desktop
