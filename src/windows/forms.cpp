#include "windows/forms.h"

#include "windows/frmabout.h"
#include "windows/frmedit.h"
#include "windows/frmlook.h"
#include "windows/frmplayer.h"
#include "windows/frmplaylist.h"

#include <QPointer>

namespace forms {
namespace {
QPointer<windows::frmPlayer> g_player;
QPointer<panel::frmPlayList> g_panel;
QPointer<editor::frmEdit> g_edit;
QPointer<windows::frmLook> g_look;
QPointer<about::frmAbout> g_about;
}

windows::frmLook* frmLook()
{
    if (!g_look) g_look = new windows::frmLook(frmPlayer());
    return g_look;
}

bool hasLook() { return !g_look.isNull(); }
bool hasPlayList() { return !g_panel.isNull(); }
QWidget* editWindow() { return g_edit.data(); }

windows::frmPlayer* frmPlayer()
{
    if (!g_player) g_player = new windows::frmPlayer;
    return g_player;
}

panel::frmPlayList* frmPlayList()
{
    if (!g_panel) g_panel = new panel::frmPlayList(frmPlayer());
    return g_panel;
}

editor::frmEdit* frmEdit()
{
    if (!g_edit) g_edit = new editor::frmEdit(frmPlayList());
    return g_edit;
}

about::frmAbout* frmAbout()
{
    if (!g_about) g_about = new about::frmAbout(g_player.data());
    return g_about;
}

void resetAll()
{
    delete g_look.data();
    delete g_edit.data();
    delete g_about.data();
    delete g_panel.data();
    delete g_player.data();
}

}
