#include "app/forms.h"

#include "about/frmabout.h"
#include "panel/frmplaylist.h"
#include "player/frmplayer.h"

#include <QPointer>

namespace forms {
namespace {
QPointer<player::frmPlayer> g_player;
QPointer<panel::frmPlayList> g_panel;
QPointer<about::frmAbout> g_about;
}

player::frmPlayer* frmPlayer()
{
    if (!g_player) g_player = new player::frmPlayer;
    return g_player;
}

panel::frmPlayList* frmPlayList()
{
    if (!g_panel) g_panel = new panel::frmPlayList(frmPlayer());
    return g_panel;
}

about::frmAbout* frmAbout()
{
    if (!g_about) g_about = new about::frmAbout(g_player.data());
    return g_about;
}

void resetAll()
{
    delete g_about.data();
    delete g_panel.data();
    delete g_player.data();
}

}
