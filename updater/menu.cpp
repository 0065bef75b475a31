// The main window's menu: the resource carries English texts, the program
// shows German ones.
#include "updater.h"
#include "resource.h"

void renameMainMenu(HMENU menu)
{
    if (menu == NULL)
        return;
    // The drop-down keeps its items; only its title changes.
    HMENU fileMenu = GetSubMenu(menu, 0);
    ModifyMenuA(menu, 0, MF_BYPOSITION | MF_STRING | MF_POPUP, (UINT_PTR)fileMenu, "Datei");
    ModifyMenuA(menu, IDM_EXIT, MF_BYCOMMAND | MF_STRING, IDM_EXIT, "Beenden");
    ModifyMenuA(menu, IDM_HELP, MF_BYCOMMAND | MF_STRING, IDM_HELP, "Hilfe");
    ModifyMenuA(menu, IDM_ABOUT, MF_BYCOMMAND | MF_STRING, IDM_ABOUT, "Info...");
}
