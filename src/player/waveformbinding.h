#pragma once
// Ties a waveform view to a media player: the playhead follows what is heard and a click
// on the view seeks. In the player window the view shows the player's file and its loop;
// in the editor it shows the file box's file, with handles that follow the start and stop
// boxes as number text, and the boxes follow the handles.
#include <QObject>

class QLineEdit;
class QTimer;

namespace player {

class MediaPlayer;
class PlaybackFollow;
namespace wave { class WaveformView; }

// How often a playhead is moved on: once a dot of the screen is `secondsPerDot` of the
// file, at `rate`; never faster than every `screenMs`, nor slower than a hidden display.
int followMs(double secondsPerDot, double rate, int screenMs);

class WaveformBinding : public QObject {
    Q_OBJECT
public:
    WaveformBinding(MediaPlayer* player, wave::WaveformView* view, QObject* parent = nullptr);

    // The view shows the file of `fileBox` (once it names a file) instead of the player's, and
    // its stretch is edited in `startBox` and `stopBox`.
    void bindBoxes(QLineEdit* fileBox, QLineEdit* startBox, QLineEdit* stopBox);

    // One look at the player; repeated on what the player reports, and on a timer while
    // it plays.
    void refresh();

private:
    bool playerHasShownFile() const;
    void followPlayhead();
    void fileBoxEdited();
    void boxEdited(QLineEdit* box);
    void handleMoved(int which, double seconds);

    MediaPlayer* m_player;
    wave::WaveformView* m_view;
    PlaybackFollow* m_follow;
    QTimer* m_fileSettle;
    QLineEdit* m_file = nullptr;
    QLineEdit* m_start = nullptr;
    QLineEdit* m_stop = nullptr;
};

} // namespace player
