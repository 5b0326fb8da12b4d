#pragma once
// Windows come back where they were, and never off the screen.
#include <QPoint>
#include <QRectF>
#include <QSize>
#include <QString>

class QWidget;

namespace services {

// A window's placement in twips.
struct Placement {
    double top = 0, left = 0, width = 0, height = 0;
};

// Pulls a placement back onto a screen of the given size (twips): an edge off the screen
// goes to 0, a resizable window larger than the screen shrinks to it less 100.
Placement correctPlacement(Placement p, double screenWidth, double screenHeight, bool resizable);

// A window is resizable unless its size is fixed.
bool isResizable(const QWidget* frm);

// What a window takes when nothing is stored for it.
inline constexpr Placement kDefaultPlacement{120, 120, 6330, 7065};

// Restores the placement stored under the window's object name (or `defaults`),
// corrected onto the primary screen.
void RestoreFormPlacement(QWidget* frm, const Placement& defaults = kDefaultPlacement);
// Corrects the window onto the screen, then stores its placement.
void SaveFormPlacement(QWidget* frm);

// Where a window of outer size `outer` stands centred over `owner`, moved as far as
// needed to lie wholly on the owner's screen.
QPoint centredOver(const QWidget* owner, const QSize& outer);

} // namespace services
