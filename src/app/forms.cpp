#include "app/forms.h"

#include "player/frmplayer.h"

#include <QPointer>

namespace forms {
namespace {
QPointer<player::frmPlayer> g_player;
}

player::frmPlayer* frmPlayer()
{
    if (!g_player) g_player = new player::frmPlayer;
    return g_player;
}

void resetAll()
{
    delete g_player.data();
}

}
