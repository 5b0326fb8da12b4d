#pragma once
// Shared test helpers: media files on disk and a stand-in for the user at dialogs.
#include "services/messages.h"

#include <QList>
#include <QString>
#include <functional>

namespace testkit {

// A file of `bytes` bytes (0 makes an empty file); returns its path.
QString writeFile(const QString& path, qint64 bytes);

// A 16-bit mono PCM WAV of a sine tone, tagged with `title` when one is given; returns
// its path.
QString writeWav(const QString& path, double seconds, int sampleRate = 44100, double hz = 440.0,
                 const QByteArray& title = {});

// A standard MIDI file whose tracks end at exactly `seconds`: quarter notes at 120 beats a
// minute, with chords, bass and drums when `busy`; wrapped in RIFF RMID when `rmid`.
struct MidiOptions {
    bool busy = false;
    bool rmid = false;
    QByteArray title;
};
QByteArray midiBytes(double seconds, const MidiOptions& options = {});
QString writeMidi(const QString& path, double seconds, const MidiOptions& options = {});

// A file holding exactly `bytes`; returns its path.
QString writeBytes(const QString& path, const QByteArray& bytes);

// Runs ffmpeg quietly with `args` (overwriting outputs); false when it is missing or fails.
bool ffmpeg(const QStringList& args);

// A test-card video made by ffmpeg (`withSound` adds a tone); false when ffmpeg is
// missing or fails.
bool makeVideo(const QString& path, double seconds, bool withSound);

// Answers every message box with `answer` and records what was asked; undone on destruction.
class MessageRecorder {
public:
    explicit MessageRecorder(int answer = services::vbOK);
    ~MessageRecorder();
    QList<services::MessageRequest> messages;
    int answer;
    // When set, decides each answer instead of `answer`.
    std::function<int(const services::MessageRequest&)> decide;
};

} // namespace testkit
