// The request and answer that the end-to-end driver exchanges with its menu reader inside the
// program under test. Both sides are 32-bit programs of this build, so the layout is the same on
// both; the block lives in the program's memory, where the driver writes and reads it.
#pragma once

#include <windows.h>

namespace e2e {

constexpr int MaxRemoteMenuItems = 64;
constexpr int MaxRemoteMenuDepth = 8;
constexpr int MaxRemoteMenuText = 256;

struct TRemoteMenuItem {
    UINT Command;
    UINT Type;
    UINT State;
    HMENU SubMenu;
    char Text[MaxRemoteMenuText];
};

struct TRemoteMenuBlock {
    // In: the window whose menu bar is the root, and the path of item positions to the menu to read
    // (Depth 0 reads the menu bar itself).
    HWND Window;
    int Depth;
    int Path[MaxRemoteMenuDepth];
    // Out: the menu read, and its items; Count is -1 when the path leads to no menu.
    HMENU Menu;
    int Count;
    TRemoteMenuItem Items[MaxRemoteMenuItems];
};

} // namespace e2e
