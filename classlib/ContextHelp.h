// The context-help mode of a window ("What's This?"): the pointer becomes the help cursor, the
// window holds the mouse capture, and a left click sends WM_HELP to the window under it. The
// system's own mode (SC_CONTEXTHELP) is not available everywhere the program runs, so the
// library runs its own.
#pragma once

#include <windows.h>

// Runs the mode for Window until a left click (WM_HELP goes to the program's window under the
// click, with HELPINFO_WINDOW, the click's screen position and the window's help context), the
// right button, Escape, a cancel or the loss of the capture; other messages are handled as usual
// meanwhile. The capture is released, and the window told so (WM_CAPTURECHANGED), before the
// help request goes out. A click outside the program's windows ends the mode without a request.
// Returns the window the request went to, nullptr for none.
HWND RunContextHelpMode(HWND Window);

// For a window procedure: runs the mode and returns true for WM_SYSCOMMAND with SC_CONTEXTHELP.
bool HandleContextHelpCommand(HWND Window, UINT Msg, WPARAM WParam);
