#pragma once
// The program's look for every window: the font the twips layout was drawn for, and frames
// whose caption sits on the border line.
class QApplication;

namespace services {

void applyLook(QApplication& app);

} // namespace services
