#pragma once
// The program's look for every window: the font the twips layout was drawn for, and frames
// whose caption sits on the border line.
#include <QFont>

class QApplication;

namespace services {

// `font` in the family and size the twips layout was drawn for.
QFont layoutFont(QFont font);

// Sets that font, and keeps it when a platform theme later sets the desktop's; sets the
// frames' style sheet before the user's own.
void applyLook(QApplication& app);

} // namespace services
