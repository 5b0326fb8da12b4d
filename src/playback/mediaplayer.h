#pragma once
// The media player component: a picture for video files, its own play, pause and stop
// buttons and a tracker bar, over the engine's controls (EngineControl), which it owns.
// Callers that play, seek or ask where playback is use those controls, not the widget.
#include "playback/enginecontrol.h"

#include <QWidget>
#include <memory>

class QLabel;
class QPushButton;
class QSlider;
class QStackedLayout;

namespace playback {

class PlaybackFollow;

class MediaPlayer : public QWidget {
    Q_OBJECT
public:
    // Takes ownership of the engine.
    explicit MediaPlayer(engine::MediaEngine* engine, QWidget* parent = nullptr);
    ~MediaPlayer() override;

    // What playback rules drive, without this widget.
    EngineControl* control() const { return m_control; }

    // Media information of the loaded file by kind; empty when the file has none.
    QString GetMediaInfoString(int kind) const;

    // What shows in place of the picture for files without one (a black area otherwise);
    // takes ownership.
    void setPictureStandIn(QWidget* standIn);

    // The line (or label) of what plays: under a waveform, over a video's picture;
    // nothing shows for an empty one.
    void setLine(const QString& text);
    QString line() const;

signals:
    // EngineControl's, passed on.
    void DurationChange(double seconds);
    void PlayStateChange(engine::PlayState oldState, engine::PlayState newState);
    void PositionChange(double oldPosition, double newPosition);
    void loopWrapped();
    void loadFailed(const QString& path, const QString& reason);
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
    void refreshLine();
    void trackerMoved(int value);

    EngineControl* m_control;
    engine::MediaEngine* m_engine;
    QWidget* m_videoView = nullptr;
    QWidget* m_blank = nullptr;
    QStackedLayout* m_pictureStack = nullptr;
    QPushButton* m_play = nullptr;
    QPushButton* m_pause = nullptr;
    QPushButton* m_stop = nullptr;
    QSlider* m_tracker = nullptr;
    QLabel* m_preparing = nullptr;
    QLabel* m_line = nullptr;  // in the layout, between the picture and the controls; holds the line
    PlaybackFollow* m_trackerFollow = nullptr;
    bool m_trackerDragging = false;
};

} // namespace playback
