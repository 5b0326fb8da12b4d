#pragma once
// The media player component: a picture for video files, its own play, pause and stop
// buttons and a tracker bar, over an engine. Callers treat it as synchronous: see the
// engine's contract for what is queued until a file is loaded. Nothing here waits for a
// load: a file's length is read from its headers until the engine knows it.
#include "engine/mediaengine.h"

#include <QWidget>
#include <memory>

class QLabel;
class QPushButton;
class QSlider;
class QStackedLayout;

namespace player {

class PlaybackFollow;

class MediaPlayer : public QWidget {
    Q_OBJECT
public:
    // Takes ownership of the engine.
    explicit MediaPlayer(MediaEngine* engine, QWidget* parent = nullptr);
    ~MediaPlayer() override;

    QString FileName() const;
    // Loads the file and starts it from its beginning; an empty name unloads.
    void setFileName(const QString& path);

    double CurrentPosition() const;
    void setCurrentPosition(double seconds);
    // Seconds; known as soon as a file is set (0 when its headers do not tell it).
    double Duration() const;
    double Rate() const;
    void setRate(double rate);
    player::PlayState PlayState() const;

    void Play();
    void Pause();
    void Stop();
    // Plays a whole file from its beginning; returns at once, with its duration known.
    void Open(const QString& path);
    // Media information of the loaded file by kind; empty when the file has none.
    QString GetMediaInfoString(int kind) const;

    // The stretch the engine repeats by itself.
    void setLoop(const LoopRange& range);
    void clearLoop();

    MediaEngine* engine() const { return m_engine; }

    // What shows in place of the picture for files without one (a black area otherwise);
    // takes ownership.
    void setPictureStandIn(QWidget* standIn);

    // The line (or label) of what plays: under the stand-in for files without pictures,
    // large over the bottom of the picture for video; nothing shows for an empty one.
    void setLine(const QString& text);
    QString line() const;
    // Whether the line shows over the picture (video) rather than under it.
    bool lineOverPicture() const;

    // Whether the file last set could not be played, and why.
    bool failed() const { return !m_failure.isEmpty(); }
    QString failure() const { return m_failure; }

    // The message for a file that cannot be played.
    static QString cannotPlayText(const QString& path, const QString& reason);
    static constexpr const char* kCannotPlayTitle = "Cannot Play This File";

signals:
    // The file's length became known or more exact (a count the engine finished later).
    void DurationChange(double seconds);
    void PlayStateChange(player::PlayState oldState, player::PlayState newState);
    void PositionChange(double oldPosition, double newPosition);
    // The engine jumped back from the loop's stop to its start.
    void loopWrapped();
    // The file set could not be played (unknown format, damaged, no sound font ...).
    void loadFailed(const QString& path, const QString& reason);
    // The stretch the engine repeats was set or cleared.
    void loopChanged();

public:
    // The view of the video playing; nullptr while no video has shown since the last file
    // without pictures.
    QWidget* videoView() const { return m_videoView; }

private:
    void buildControls();
    void showPicture();
    void dropVideoView();
    void refreshTracker();
    void trackerMoved(int value);
    void placeLine();
    bool eventFilter(QObject* watched, QEvent* event) override;

    MediaEngine* m_engine;
    QWidget* m_videoView = nullptr;
    QWidget* m_blank = nullptr;
    QStackedLayout* m_pictureStack = nullptr;
    QPushButton* m_play = nullptr;
    QPushButton* m_pause = nullptr;
    QPushButton* m_stop = nullptr;
    QSlider* m_tracker = nullptr;
    QLabel* m_preparing = nullptr;
    QLabel* m_lineUnder = nullptr;  // in the layout, between the picture and the controls
    QLabel* m_lineOver = nullptr;   // a child of the picture, placed over its bottom
    PlaybackFollow* m_trackerFollow = nullptr;
    bool m_trackerDragging = false;
    QString m_failure;
    // The length read from the headers of the file set, until the engine knows it.
    mutable QString m_probedPath;
    mutable double m_probedLength = 0;
};

} // namespace player
