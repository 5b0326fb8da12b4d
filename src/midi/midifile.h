#pragma once
// Standard MIDI files (and RIFF RMID wrapping one), read into events timed in seconds,
// so that the rendering and the positions shown agree sample for sample.
#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

#include <optional>

namespace midi {

struct Event {
    double seconds = 0;
    quint8 status = 0;     // a channel message's status byte, or 0xF0 for a system exclusive
    quint8 data1 = 0;
    quint8 data2 = 0;
    QByteArray sysex;      // the bytes between F0 and the closing F7
};

// A beat of the metre the file writes down.
struct Beat {
    double seconds = 0;
    bool downbeat = false;  // the first of its bar
};

struct Song {
    QList<Event> events;   // in playing order
    // Every beat from the start to the end, by the file's tempo map and time signatures
    // (4/4 until one is written; 6/8, 9/8, 12/8 beat in dotted quarters). Empty for files
    // timed in SMPTE frames and for independent patterns (format 2), which have no one metre.
    QList<Beat> beats;
    double duration = 0;   // up to the last track's end
    // "title", "copyright", "comment": from the first track's name and texts.
    QHash<QString, QString> tags;
};

// No MIDI file comes near it; a larger one is refused unread beyond this.
inline constexpr qsizetype kMaxFileBytes = 16 * 1024 * 1024;

// True when `head` (the first bytes of a file, 12 are enough) starts a MIDI file.
bool looksLikeMidi(const QByteArray& head);
// Reads the first bytes of `path`; false for files that cannot be read.
bool isMidiFile(const QString& path);

// Reads a whole file's bytes as a song. A track cut short keeps the events before the
// cut. On failure returns nothing and says why in `error`.
std::optional<Song> parse(const QByteArray& bytes, QString* error = nullptr);

} // namespace midi
