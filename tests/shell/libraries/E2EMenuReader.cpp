// Reads a menu inside the program under test, for the end-to-end driver. Menus belong to the
// process that made them: Wine does not let another process read them at all, so the driver loads
// this library into the program and runs ReadMenuItems there on a thread of its own, with a block
// in the program's memory for the question and the answer (see E2EMenuBlock.h). Plain C calls only:
// nothing here may throw, as this is the top of a thread.
#include <windows.h>

#include "../driver/E2EMenuBlock.h"

extern "C" __declspec(dllexport) DWORD WINAPI ReadMenuItems(LPVOID Parameter) {
    auto *block = static_cast<e2e::TRemoteMenuBlock *>(Parameter);
    block->Count = -1;
    HMENU menu = GetMenu(block->Window);
    for (int level = 0; menu && level < block->Depth && level < e2e::MaxRemoteMenuDepth; ++level)
        menu = GetSubMenu(menu, block->Path[level]);
    block->Menu = menu;
    if (!menu || !IsMenu(menu))
        return 0;
    int count = GetMenuItemCount(menu);
    if (count < 0)
        return 0;
    if (count > e2e::MaxRemoteMenuItems)
        count = e2e::MaxRemoteMenuItems;
    for (int i = 0; i < count; ++i) {
        e2e::TRemoteMenuItem &item = block->Items[i];
        MENUITEMINFOA info = {};
        info.cbSize = sizeof(info);
        info.fMask = MIIM_ID | MIIM_STATE | MIIM_FTYPE | MIIM_SUBMENU | MIIM_STRING;
        info.dwTypeData = item.Text;
        info.cch = e2e::MaxRemoteMenuText - 1;
        item.Text[0] = 0;
        if (!GetMenuItemInfoA(menu, i, TRUE, &info)) {
            item.Type = MFT_SEPARATOR;
            continue;
        }
        item.Command = info.wID;
        item.Type = info.fType;
        item.State = info.fState;
        item.SubMenu = info.hSubMenu;
    }
    block->Count = count;
    return 1;
}
