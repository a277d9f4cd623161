#include "HelpHandler.h"

#include <htmlhelp.h>

#include "Forms.h"
#include "SysUtils.h"

namespace {

THtmlHelpFunction &HtmlHelpFunction() {
    static THtmlHelpFunction function;
    return function;
}

std::unique_ptr<THelpHandler> &Instance() {
    static std::unique_ptr<THelpHandler> instance;
    return instance;
}

using THtmlHelpA = HWND(WINAPI *)(HWND, LPCSTR, UINT, DWORD_PTR);

HWND CallSystemHtmlHelp(const std::string &File, UINT Command, DWORD_PTR Data) {
    static THtmlHelpA entry = [] {
        HMODULE library = LoadLibraryA("hhctrl.ocx");
        return library ? reinterpret_cast<THtmlHelpA>(GetProcAddress(library, "HtmlHelpA")) : nullptr;
    }();
    if (!entry)
        throw Exception("Orbisk Vantel Help requires Microsoft HTML Help to be installed");
    return entry(nullptr, File.c_str(), Command, Data);
}

const std::string JumpPrefix = "JumpID(\"\",\"";
const std::string JumpSuffix = "\")";

} // namespace

void SetHtmlHelpFunction(THtmlHelpFunction Function) {
    HtmlHelpFunction() = std::move(Function);
}

std::string HelpJumpMacro(const std::string &Topic) {
    return JumpPrefix + Topic + JumpSuffix;
}

void HelpJump(const std::string &Topic) {
    const std::string macro = HelpJumpMacro(Topic);
    Application->HelpCommand(HELP_COMMAND, reinterpret_cast<intptr_t>(macro.c_str()));
}

RECT FitRectOnMonitor(const RECT &Popup, const RECT &Monitor) {
    int dx = 0, dy = 0;
    if (Popup.left < Monitor.left)
        dx = Monitor.left - Popup.left;
    else if (Popup.right > Monitor.right)
        dx = Monitor.right - Popup.right;
    if (Popup.top < Monitor.top)
        dy = Monitor.top - Popup.top;
    else if (Popup.bottom > Monitor.bottom)
        dy = Monitor.bottom - Popup.bottom;
    return RECT{Popup.left + dx, Popup.top + dy, Popup.right + dx, Popup.bottom + dy};
}

THelpHandler::THelpHandler(const std::string &HelpFile) : FHelpFile(HelpFile) {
    if (FHelpFile.empty()) {
        char path[MAX_PATH];
        const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
        FHelpFile = ChangeFileExt(std::string(path, length), ".chm");
    }
}

HWND THelpHandler::CallHtmlHelp(UINT Command, DWORD_PTR Data, const std::string &File) {
    const std::string &file = File.empty() ? FHelpFile : File;
    HWND window = HtmlHelpFunction() ? HtmlHelpFunction()(file, Command, Data)
                                     : CallSystemHtmlHelp(file, Command, Data);
    if (window)
        FHelpWindow = window;
    return window;
}

bool THelpHandler::HelpHook(WORD Command, intptr_t Data, bool &CallHelp) {
    CallHelp = false;
    switch (Command) {
    case HELP_FINDER:
        CallHtmlHelp(HH_DISPLAY_TOPIC, 0);
        break;
    case HELP_CONTEXT:
        CallHtmlHelp(HH_HELP_CONTEXT, static_cast<DWORD_PTR>(Data));
        break;
    case HELP_QUIT:
        if (FHelpWindow) {
            if (IsWindow(FHelpWindow))
                PostMessageA(FHelpWindow, WM_CLOSE, 0, 0);
            FHelpWindow = nullptr;
        }
        break;
    case HELP_CONTEXTPOPUP:
        ShowPopup(static_cast<int>(Data));
        break;
    case HELP_COMMAND: {
        const std::string macro = Data ? reinterpret_cast<const char *>(Data) : "";
        if (macro.size() > JumpPrefix.size() + JumpSuffix.size() &&
            macro.compare(0, JumpPrefix.size(), JumpPrefix) == 0 &&
            macro.compare(macro.size() - JumpSuffix.size(), JumpSuffix.size(), JumpSuffix) == 0) {
            const std::string topic =
                macro.substr(JumpPrefix.size(), macro.size() - JumpPrefix.size() - JumpSuffix.size());
            CallHtmlHelp(HH_DISPLAY_TOPIC, reinterpret_cast<DWORD_PTR>(topic.c_str()));
        }
        break;
    }
    case HELP_KEY:
    case HELP_PARTIALKEY: {
        HH_AKLINK link{};
        link.cbStruct = sizeof(link);
        link.pszKeywords = Data ? reinterpret_cast<LPCSTR>(Data) : "";
        link.fIndexOnFail = TRUE;
        CallHtmlHelp(HH_KEYWORD_LOOKUP, reinterpret_cast<DWORD_PTR>(&link));
        break;
    }
    default:
        break;
    }
    return true;
}

void THelpHandler::ShowPopup(int Context) {
    HH_POPUP popup{};
    popup.cbStruct = sizeof(popup);
    popup.idString = static_cast<UINT>(Context);
    GetCursorPos(&popup.pt);
    popup.clrForeground = static_cast<COLORREF>(-1);
    popup.clrBackground = static_cast<COLORREF>(-1);
    popup.rcMargins = RECT{10, 8, 10, 8};
    popup.pszFont = "Tahoma,8,,";
    HWND window =
        CallHtmlHelp(HH_DISPLAY_TEXT_POPUP, reinterpret_cast<DWORD_PTR>(&popup), FHelpFile + "::/Popups.txt");
    if (!window || !IsWindow(window))
        return;
    // The popup stays on the monitor under the pointer (the nearest when none contains it).
    HMONITOR monitor = MonitorFromPoint(popup.pt, MONITOR_DEFAULTTONEAREST);
    MONITORINFO info{};
    info.cbSize = sizeof(info);
    RECT rect;
    if (!GetMonitorInfoA(monitor, &info) || !GetWindowRect(window, &rect))
        return;
    const RECT fitted = FitRectOnMonitor(rect, info.rcMonitor);
    if (fitted.left != rect.left || fitted.top != rect.top) {
        ShowWindow(window, SW_HIDE);
        SetWindowPos(window, HWND_TOPMOST, fitted.left, fitted.top, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE);
        ShowWindow(window, SW_SHOWNA);
    } else
        SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE);
}

THelpHandler *HelpHandler() {
    return Instance().get();
}

void InitializeHelpHandler() {
    Instance() = std::make_unique<THelpHandler>();
    if (Application)
        Application->OnHelp = MakeEvent<&THelpHandler::HelpHook>(Instance().get());
}

void FinalizeHelpHandler() {
    if (!Instance())
        return;
    if (Application)
        Application->OnHelp = THelpEvent();
    // An open help window goes with the program.
    bool callHelp;
    Instance()->HelpHook(HELP_QUIT, 0, callHelp);
    Instance().reset();
}
