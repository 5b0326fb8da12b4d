#pragma once
// The beats of the file the list goes on with, found (or read back from the cache) while the
// entry before it plays, and given to the engine before that entry is handed over: its
// count-in on the beats and its metronome play from its first pass. The player's waveform
// finds the beats only of the file it shows, which is the next one only once it is heard.
#include <QObject>
#include <QString>

namespace beats { class BeatSource; }

namespace playback {

class EngineControl;

class BeatsAhead : public QObject {
    Q_OBJECT
public:
    explicit BeatsAhead(EngineControl* control, QObject* parent = nullptr);

    // The file whose beats are wanted next (empty: none); the one wanted before is let go,
    // its analysis cancelled if it is still under way.
    void setFile(const QString& path);

private:
    EngineControl* m_control;
    beats::BeatSource* m_source;
};

} // namespace playback
