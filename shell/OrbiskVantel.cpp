// Program entry: ordered module start-up, the main window and the message loop, ordered shut-down.
#include <windows.h>

#include <string>

#include "GenModules.h"
#include "GenSetup.h"
#include "ProgramModules.h"
#include "SysUtils.h"

namespace {

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

int RunMainWindow(HINSTANCE instance, const std::string &title) {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_APPWORKSPACE + 1);
    windowClass.lpszClassName = "TOrbiskMainForm";
    if (!RegisterClassA(&windowClass))
        return 1;
    HWND window = CreateWindowExA(0, windowClass.lpszClassName, title.c_str(), WS_OVERLAPPEDWINDOW,
                                  CW_USEDEFAULT, CW_USEDEFAULT, 900, 650, nullptr, nullptr, instance, nullptr);
    if (!window)
        return 1;
    ShowWindow(window, SW_SHOWDEFAULT);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return static_cast<int>(message.wParam);
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    try {
        TModuleStartup modules(ProgramModules());
        modules.Start();
        int result = RunMainWindow(instance, ProgramTitle());
        ConfigManager()->SaveSettings();
        modules.Stop();
        return result;
    } catch (const EAbort &) {
        return 0;
    } catch (const std::exception &error) {
        MessageBoxA(nullptr, error.what(), "Orbisk Vantel", MB_OK | MB_ICONERROR);
        return 1;
    }
}
