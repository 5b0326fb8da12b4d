#pragma once
// A slider's tick marks drawn in its palette's text colour. Styles draw them in a fixed dark
// shade (Fusion: black, faint), which a dark palette swallows.
#include <QVector>

class QSlider;

namespace services {

// The slider keeps its style for the groove and the handle; only its ticks are drawn anew.
void drawTicksFromPalette(QSlider* slider);

// Where a slider `length` pixels long puts its ticks along itself: one every `interval` from
// `minimum` to `maximum` (the last at the maximum), at the centre of the handle
// (`handle` pixels long) as it stands on that value.
QVector<int> tickPlaces(int minimum, int maximum, int interval, int length, int handle);

} // namespace services
