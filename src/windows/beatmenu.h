#pragma once
// The "Beats" menu of a waveform: snapping, and the hand corrections of the file's grid
// (where a bar starts, the tempo halved, doubled or tapped, the beats in a bar).
#include <QMenu>

#include <QElapsedTimer>
#include <functional>

#include "beats/gridfix.h"

namespace waveform { class WaveformView; }

namespace windows {

class BeatMenu : public QMenu {
    Q_OBJECT
public:
    // `barHere`: the time "Bar Starts Here" puts a downbeat at (negative: none);
    // `rate`: the rate heard, so that taps count the file's own tempo. The menu's keys work
    // wherever `keysOn` has the focus.
    BeatMenu(waveform::WaveformView* view, QAction* snap, std::function<double()> barHere, std::function<double()> rate,
             QWidget* keysOn);

private:
    void change(const std::function<bool(beats::GridFix&)>& edit);
    void tap();
    void refresh();

    waveform::WaveformView* m_view;
    std::function<double()> m_barHere;
    std::function<double()> m_rate;
    QList<QAction*> m_fixes;
    QAction* m_meters[beats::GridFix::kMaxMeter + 1] = {};
    beats::TapTempo m_taps;
    QElapsedTimer m_clock;
};

} // namespace windows
