#pragma once
// "Snap to Beats": one checkable action for the whole program, so the player, the control
// panel and the editor show and change the same setting; remembered in the settings.
class QAction;

namespace playback {

// Made on first use, owned by the application; the window thread only.
QAction* snapToBeats();

} // namespace playback
