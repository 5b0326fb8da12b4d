#pragma once
// Finding the General MIDI sound font that MIDI files are rendered with.
#include <QString>
#include <QStringList>

namespace midi {

// Names a sound font file to use before any folder is searched.
constexpr const char* kSoundFontVariable = "VAMPLET_SOUNDFONT";

struct SoundFontChoice {
    QString path;     // empty when none was found
    QString problem;  // then: what to do about it, for the user
};

// The sound font named by VAMPLET_SOUNDFONT when that file exists, else the best one
// in the search folders: a system's default General MIDI font first.
SoundFontChoice findSoundFont();

// Where sound fonts are looked for: "soundfonts", "sounds/sf2" and "sounds/sf3" in each
// of the system's data folders (/usr/share, /usr/local/share, the user's own).
QStringList soundFontFolders();
// Replaces the folders searched (tests hide the system's); resetSoundFontFolders()
// goes back to the standard ones.
void setSoundFontFolders(const QStringList& folders);
void resetSoundFontFolders();

} // namespace midi
