#pragma once
// Each window exists at most once, created on first use through its accessor here.

namespace player { class frmPlayer; }

namespace forms {

player::frmPlayer* frmPlayer();

// Destroys every window so the next use creates it anew (tests).
void resetAll();

}
