#include "ContextHelp.h"

#include <windowsx.h>

#include "Controls.h"

namespace {

// The help context of a window: its control's, or the one the system keeps for it.
DWORD HelpContextOf(HWND Window) {
    if (TWinControl *control = FindControl(Window))
        return static_cast<DWORD>(control->HelpContext());
    return GetWindowContextHelpId(Window);
}

// The program's window at a screen point: the deepest visible child, disabled ones included
// (they are worth explaining too), or nullptr when the point lies on another program's window.
HWND ProgramWindowAt(POINT Pos) {
    HWND window = WindowFromPoint(Pos);
    if (!window || GetWindowThreadProcessId(window, nullptr) != GetCurrentThreadId())
        return nullptr;
    for (;;) {
        POINT local = Pos;
        ScreenToClient(window, &local);
        HWND child = ChildWindowFromPointEx(window, local, CWP_SKIPINVISIBLE | CWP_SKIPTRANSPARENT);
        if (!child || child == window)
            return window;
        window = child;
    }
}

bool IsMouseInput(UINT Msg) {
    return (Msg >= WM_MOUSEFIRST && Msg <= WM_MOUSELAST) ||
           (Msg >= WM_NCMOUSEMOVE && Msg <= WM_NCXBUTTONDBLCLK);
}

bool IsKeyInput(UINT Msg) {
    return Msg >= WM_KEYFIRST && Msg <= WM_KEYLAST;
}

} // namespace

HWND RunContextHelpMode(HWND Window) {
    if (!IsWindow(Window))
        return nullptr;
    HCURSOR helpCursor = LoadCursorA(nullptr, IDC_HELP);
    SetCapture(Window);
    SetCursor(helpCursor);
    bool clicked = false;
    POINT clickPos = {};
    MSG msg;
    for (;;) {
        if (!IsWindow(Window) || GetCapture() != Window)
            break;
        BOOL got = GetMessageA(&msg, nullptr, 0, 0);
        if (got == 0) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        if (got < 0)
            break;
        if (msg.message == WM_LBUTTONDOWN || msg.message == WM_NCLBUTTONDOWN) {
            clickPos = {GET_X_LPARAM(msg.lParam), GET_Y_LPARAM(msg.lParam)};
            if (msg.message == WM_LBUTTONDOWN)
                ClientToScreen(msg.hwnd, &clickPos);
            clicked = true;
            break;
        }
        if (msg.message == WM_RBUTTONDOWN || msg.message == WM_NCRBUTTONDOWN ||
            msg.message == WM_CANCELMODE || (msg.message == WM_KEYDOWN && msg.wParam == VK_ESCAPE))
            break;
        if (IsMouseInput(msg.message) || IsKeyInput(msg.message)) {
            SetCursor(helpCursor);
            continue; // input belongs to the mode
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    if (GetCapture() == Window)
        ReleaseCapture();
    if (!clicked)
        return nullptr;
    HWND target = ProgramWindowAt(clickPos);
    if (!target)
        return nullptr;
    HELPINFO info = {};
    info.cbSize = sizeof(info);
    info.iContextType = HELPINFO_WINDOW;
    info.iCtrlId = GetDlgCtrlID(target);
    info.hItemHandle = target;
    info.dwContextId = HelpContextOf(target);
    info.MousePos = clickPos;
    SendMessageA(target, WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
    return target;
}

bool HandleContextHelpCommand(HWND Window, UINT Msg, WPARAM WParam) {
    if (Msg != WM_SYSCOMMAND || (WParam & 0xFFF0) != SC_CONTEXTHELP)
        return false;
    RunContextHelpMode(Window);
    return true;
}
