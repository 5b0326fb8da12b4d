#pragma once
// Bringing windows back to the user. Some window managers minimise windows that asked for
// no minimise button (and their owners with them); these undo that.
class QWidget;

namespace services {

// A shown window that is minimised comes back in the normal state; others are untouched.
void restoreMinimised(QWidget* window);

// Called as `window` becomes minimised: when a window it owns has the keyboard, the
// manager minimised that one and took its owners along, so `window` comes back at once.
// Returns whether it does.
bool comeBackIfTakenAlong(QWidget* window);

// Shows the window (in the normal state), puts it in front and gives it the keyboard.
void bringToFront(QWidget* window);

// As bringToFront(), for a window the user may have minimised on a desktop that neither
// tells the program nor lets it undo that (Wayland): there it is mapped afresh.
void bringBack(QWidget* window);
// Whether bringBack() maps windows afresh here: the windows they own then need a new map too,
// to be owned by the new one.
bool bringBackRemaps();
// Whether a window is tied to its owner only if the owner is already mapped as it maps
// (Wayland): shown before its owner, it stays a free window for good.
bool mapsOwnedAfterOwner();

// Where a compositor keeps an owned window over its owner and opens the owner's menus just
// above the owner (weston), the owned window would cover the owner's menus and message
// boxes: there `window` maps as a free window, raised as any other when the user turns to
// it. Its owner stays its owner within the program (keys, closing, minimising).
void mapFreeOfOwner(QWidget* window);

} // namespace services
