#pragma once
// Ties a waveform view to a media player: the playhead follows what is heard and a click
// on the view seeks. In the player window the view shows the player's file and its loop;
// in the editor it shows the file box's file, with handles that follow the start and stop
// boxes as number text, and the boxes follow the handles.
#include "engine/mediaengine.h"

#include <QObject>
#include <QString>

class QLineEdit;
class QTimer;

namespace waveform { class WaveformView; }
namespace playback {

class EngineControl;
class PlaybackFollow;

// How often a playhead is moved on: once a dot of the screen is `secondsPerDot` of the
// file, at `rate`; never faster than every `screenMs`, nor slower than a hidden display.
int followMs(double secondsPerDot, double rate, int screenMs);

// The stretch a player's view shades on `file`.
struct ShadedStretch {
    QString file;
    double start = 0;
    double stop = 0;
    bool operator==(const ShadedStretch&) const = default;
};

// What to shade next, from what was shaded `before` and the engine's `loop` and `state`:
// the stretch the engine repeats; once it stops or pauses without one (a Stop clears the
// loop and stands at the entry's start), the stretch that played last on the same file,
// ready to be played again. A file played without a stretch shades nothing.
ShadedStretch nextShadedStretch(const ShadedStretch& before, const QString& file, const engine::LoopRange& loop,
                                engine::PlayState state);

class WaveformBinding : public QObject {
    Q_OBJECT
public:
    WaveformBinding(EngineControl* control, waveform::WaveformView* view, QObject* parent = nullptr);

    // The view shows the file of `fileBox` (once it names a file) instead of the player's, and
    // its stretch is edited in `startBox` and `stopBox`.
    void bindBoxes(QLineEdit* fileBox, QLineEdit* startBox, QLineEdit* stopBox);

    // One look at the player; repeated on what the player reports, and on a timer while
    // it plays.
    void refresh();

private:
    // The player's file, where it can be shown (else empty).
    QString playedFile() const;
    bool playerHasShownFile() const;
    void followPlayhead();
    void fileBoxEdited();
    void boxEdited(QLineEdit* box);
    void handleMoved(int which, double seconds);

    EngineControl* m_control;
    waveform::WaveformView* m_view;
    PlaybackFollow* m_follow;
    QTimer* m_fileSettle;
    QLineEdit* m_file = nullptr;
    QLineEdit* m_start = nullptr;
    QLineEdit* m_stop = nullptr;
    ShadedStretch m_shaded;
};

} // namespace playback
