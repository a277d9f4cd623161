// A small program for the end-to-end driver's own tests: a top-level window with a menu bar, a
// status bar of three panels and a message box, built with the system's controls the way the main
// window builds them, so that the driver's way of reading another process's menus and status bar
// is checked against a program whose contents the test knows.
//   E2EProbe.exe [exit-code]   - the code the program ends with when its window is closed
#include <windows.h>

#include <commctrl.h>

#include <cstdlib>
#include <string>

namespace {

enum ProbeCommand : UINT {
    cmOpen = 101,
    cmSave = 102,
    cmExit = 103,
    cmStatusBar = 201,
    cmZoomIn = 211,
};

HWND StatusBar = nullptr;
HMENU FileMenu = nullptr;
bool DocumentOpen = false;
int ExitCode = 0;

void SetStatus(const std::string &Text) {
    SendMessageA(StatusBar, SB_SETTEXTA, 0, reinterpret_cast<LPARAM>(Text.c_str()));
}

HMENU CreateProbeMenu() {
    HMENU bar = CreateMenu();
    FileMenu = CreatePopupMenu();
    AppendMenuA(FileMenu, MF_STRING, cmOpen, "&Open...\tCtrl+O");
    AppendMenuA(FileMenu, MF_STRING | MF_GRAYED, cmSave, "&Save\tCtrl+S");
    AppendMenuA(FileMenu, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(FileMenu, MF_STRING, cmExit, "E&xit");
    AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(FileMenu), "&File");
    HMENU view = CreatePopupMenu();
    AppendMenuA(view, MF_STRING | MF_CHECKED, cmStatusBar, "&Status Bar");
    HMENU zoom = CreatePopupMenu();
    AppendMenuA(zoom, MF_STRING, cmZoomIn, "Zoom &In\tNum +");
    AppendMenuA(view, MF_POPUP, reinterpret_cast<UINT_PTR>(zoom), "&Zoom");
    AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(view), "&View");
    return bar;
}

void OnCommand(HWND window, UINT command) {
    switch (command) {
    case cmOpen: {
        // The answer shows in the status bar, where the test reads it back.
        const int answer =
            MessageBoxA(window, "Open the probe document?", "E2E probe", MB_OKCANCEL | MB_ICONQUESTION);
        DocumentOpen = answer == IDOK;
        SetStatus(DocumentOpen ? "Opened" : "Cancelled");
        break;
    }
    case cmExit:
        PostMessageA(window, WM_CLOSE, 0, 0);
        break;
    default:
        break;
    }
}

LRESULT CALLBACK ProbeWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE: {
        StatusBar = CreateWindowExA(0, STATUSCLASSNAMEA, nullptr, WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP, 0,
                                    0, 0, 0, window, nullptr, nullptr, nullptr);
        int edges[] = {120, 260, -1};
        SendMessageA(StatusBar, SB_SETPARTS, 3, reinterpret_cast<LPARAM>(edges));
        SetStatus("Ready");
        SendMessageA(StatusBar, SB_SETTEXTA, 1, reinterpret_cast<LPARAM>("\tCentred"));
        SendMessageA(StatusBar, SB_SETTEXTA, 2, reinterpret_cast<LPARAM>("Third panel"));
        return 0;
    }
    case WM_SIZE:
        SendMessageA(StatusBar, WM_SIZE, 0, 0);
        return 0;
    case WM_INITMENUPOPUP:
        // Item states follow the program's state when a menu opens, as in the real program.
        if (reinterpret_cast<HMENU>(wParam) == FileMenu)
            EnableMenuItem(FileMenu, cmSave, MF_BYCOMMAND | (DocumentOpen ? MF_ENABLED : MF_GRAYED));
        return 0;
    case WM_COMMAND:
        OnCommand(window, LOWORD(wParam));
        return 0;
    case WM_KEYDOWN:
        SetStatus("Key " + std::to_string(static_cast<unsigned>(wParam)));
        return 0;
    case WM_LBUTTONDOWN:
        SetStatus("Click " + std::to_string(static_cast<short>(LOWORD(lParam))) + "," +
                  std::to_string(static_cast<short>(HIWORD(lParam))));
        return 0;
    case WM_DESTROY:
        PostQuitMessage(ExitCode);
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    ExitCode = std::atoi(commandLine);
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = ProbeWindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = "TE2EProbeForm";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowExA(0, windowClass.lpszClassName, "E2E probe", WS_OVERLAPPEDWINDOW, 60, 40, 480,
                                  320, nullptr, CreateProbeMenu(), instance, nullptr);
    if (!window)
        return 1;
    ShowWindow(window, SW_SHOWNORMAL);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return static_cast<int>(message.wParam);
}
