#pragma once
// Each window exists at most once, created on first use through its accessor here.

namespace windows { class frmPlayer; class frmLook; }
namespace panel { class frmPlayList; }
namespace editor { class frmEdit; }
namespace about { class frmAbout; }

class QWidget;

namespace forms {

windows::frmPlayer* frmPlayer();
// The control panel, owned by the player window.
panel::frmPlayList* frmPlayList();
// The entry editor, owned by the control panel.
editor::frmEdit* frmEdit();
// Whether the control panel exists now (the accessor creates it).
bool hasPlayList();
// The editor's window if it exists now, else nullptr.
QWidget* editWindow();

// The file properties viewer, owned by the player window.
windows::frmLook* frmLook();
// Whether the viewer exists now (it is created by frmLook()).
bool hasLook();

// The About box, owned by the player window when there is one; it deletes itself on closing,
// so the next use loads it anew.
about::frmAbout* frmAbout();

// Destroys every window so the next use creates it anew (tests).
void resetAll();

}
