#pragma once
// The player's Stems menu: per stem of the entry in play a submenu with its mute, solo and
// level, built afresh each time it opens; and the stems beside the file given to the entry.
#include <QMenu>

namespace playback { class LiveStems; }

namespace windows {

class StemsMenu : public QMenu {
    Q_OBJECT
public:
    StemsMenu(playback::LiveStems* stems, QWidget* parent);

private:
    void refresh();

    playback::LiveStems* m_stems;
};

} // namespace windows
