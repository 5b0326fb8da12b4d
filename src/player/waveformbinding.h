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
namespace wave { class WaveformView; }

class WaveformBinding : public QObject {
    Q_OBJECT
public:
    WaveformBinding(MediaPlayer* player, wave::WaveformView* view, QObject* parent = nullptr);

    // The view shows the file of `fileBox` (once it names a file) instead of the player's, and
    // its stretch is edited in `startBox` and `stopBox`.
    void bindBoxes(QLineEdit* fileBox, QLineEdit* startBox, QLineEdit* stopBox);

    // One look at the player; a timer repeats it while the view is visible.
    void refresh();

private:
    bool playerHasShownFile() const;
    void fileBoxEdited();
    void boxEdited(QLineEdit* box);
    void handleMoved(int which, double seconds);

    MediaPlayer* m_player;
    wave::WaveformView* m_view;
    QTimer* m_timer;
    QTimer* m_fileSettle;
    QLineEdit* m_file = nullptr;
    QLineEdit* m_start = nullptr;
    QLineEdit* m_stop = nullptr;
};

} // namespace player
