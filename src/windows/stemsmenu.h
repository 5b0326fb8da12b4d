#pragma once
// The player's Stems menu: per stem of the entry in play a submenu with its mute, solo and
// level, built afresh each time it opens; and the stems beside the file given to the entry.
#include <QKeySequence>
#include <QMenu>

namespace playback { class LiveStems; }

namespace windows {

class StemsMenu : public QMenu {
    Q_OBJECT
public:
    StemsMenu(playback::LiveStems* stems, QWidget* parent);
    // Opens the menu, in the player window and the control panel alike.
    static inline const QKeySequence kKey{Qt::CTRL | Qt::ALT | Qt::Key_S};

private:
    void refresh();

    playback::LiveStems* m_stems;
};

} // namespace windows
