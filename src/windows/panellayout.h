#pragma once
// Where the control panel's stretching controls go for a given client size (twips).
#include <QRectF>

namespace panel {

inline constexpr double kMinOuterWidth = 6525;
inline constexpr double kGrabberOpenHeight = 1095;
inline constexpr double kGrabberFoldedHeight = 255;

struct PanelLayout {
    QRectF framPL;          // in the client area
    double gridWidth = 0, gridHeight = 0;
    double chooserWidth = 0;
    double minusLeft = 0, plusLeft = 0;  // in the frame
};

// A size that comes out negative is left to the caller to skip (the control keeps its own).
PanelLayout layoutPanel(double clientWidth, double clientHeight, double grabberHeight, double chooserHeight);

} // namespace panel
