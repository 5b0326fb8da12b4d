#pragma once
// Playback of one file over an engine, as the media player widget and entry playback both
// drive it: the file, position, rate and loop, the failure of the file last set, and its
// length read from its headers until the engine knows it. No widgets: playback rules run
// on it without a window. Callers treat it as synchronous: see the engine's contract for
// what is queued until a file is loaded.
#include "engine/mediaengine.h"

#include <QObject>
#include <QString>

namespace playback {

class EngineControl : public QObject {
    Q_OBJECT
public:
    // Takes ownership of the engine.
    explicit EngineControl(engine::MediaEngine* engine, QObject* parent = nullptr);

    QString FileName() const;
    // Loads the file and starts it from its beginning; an empty name unloads.
    void setFileName(const QString& path);

    double CurrentPosition() const;
    void setCurrentPosition(double seconds);
    // Seconds; known as soon as a file is set (0 when its headers do not tell it).
    double Duration() const;
    double Rate() const;
    // Rates that are not positive and finite are ignored.
    void setRate(double rate);
    engine::PlayState PlayState() const;

    void Play();
    void Pause();
    void Stop();
    // Plays a whole file from its beginning; returns at once, with its duration known.
    void Open(const QString& path);

    // The stretch the engine repeats by itself.
    void setLoop(const engine::LoopRange& range);
    void clearLoop();

    engine::MediaEngine* engine() const { return m_engine; }

    // Whether the file last set could not be played, and why.
    bool failed() const { return !m_failure.isEmpty(); }
    QString failure() const { return m_failure; }

signals:
    // A file was set: what showed for the one before (its preparation) is over.
    void fileSet();
    // The file's length became known or more exact (a count the engine finished later).
    void DurationChange(double seconds);
    void PlayStateChange(engine::PlayState oldState, engine::PlayState newState);
    void PositionChange(double oldPosition, double newPosition);
    // The engine jumped back from the loop's stop to its start.
    void loopWrapped();
    // The file set could not be played (unknown format, damaged, no sound font ...).
    void loadFailed(const QString& path, const QString& reason);
    // The stretch the engine repeats was set or cleared.
    void loopChanged();

private:
    engine::MediaEngine* m_engine;
    QString m_failure;
    // The length read from the headers of the file set, until the engine knows it.
    mutable QString m_probedPath;
    mutable double m_probedLength = 0;
};

} // namespace playback
