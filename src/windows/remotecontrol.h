#pragma once
// What the desktop's media keys and sound applets may ask of the player: play, pause,
// stop, the list's next and previous entry, and what is playing.
#include "playback/liveloop.h"
#include "desktop/remotehost.h"

#include <QObject>
#include <QString>

namespace windows {

class RemoteControl : public QObject {
    Q_OBJECT
public:
    enum class Status { Stopped, Paused, Playing };

    explicit RemoteControl(desktop::RemoteHost* host, QObject* parent = nullptr);

    // Resumes a paused entry; otherwise plays the list from its current entry.
    void play();
    void pause();
    void playPause();
    // As the control panel's "Stop".
    void stop();
    // The entry after or before the list cursor, wrapping, in the mode that was playing.
    void next();
    void previous();
    // Plays a local file whole, as File > Open does; other addresses are refused.
    bool openUri(const QString& uri);
    void raise();
    void quit();

    Status status() const;
    // The playing entry's text, else the tags' title, else the file's name; empty when
    // nothing is loaded.
    QString title() const;
    QString artist() const;
    QString fileName() const;
    double lengthSeconds() const;
    double positionSeconds() const;
    void setPositionSeconds(double seconds);
    double rate() const;
    void setRate(double rate);
    int currentEntry() const;
    bool hasEntries() const;

    static constexpr double kMinimumRate = playback::kMinimumRate;
    static constexpr double kMaximumRate = playback::kMaximumRate;

signals:
    // Status, title, length or rate may have changed.
    void changed();
    // The position jumped (a seek or a loop's wrap).
    void jumped(double seconds);

private:
    desktop::RemoteHost* m_host;
    playback::EngineControl* m_media;
};

} // namespace windows
