#include "FormulaHelpViewer.h"

#include <windows.h>

#include <shellapi.h>

#include <algorithm>
#include <memory>

#include "SysUtils.h"

namespace {

std::string ClassesRootValue(const std::string &Key) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, Key.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return "";
    char buffer[1024];
    DWORD size = sizeof buffer - 1, type = 0;
    std::string value;
    if (RegQueryValueExA(key, nullptr, nullptr, &type, reinterpret_cast<BYTE *>(buffer), &size) ==
            ERROR_SUCCESS &&
        (type == REG_SZ || type == REG_EXPAND_SZ)) {
        buffer[std::min<DWORD>(size, sizeof buffer - 1)] = 0;
        value = buffer;
    }
    RegCloseKey(key);
    return value;
}

std::unique_ptr<TShellFormulaHelpViewer> Viewer;

} // namespace

void TShellFormulaHelpViewer::ShowBrowserHelpTopic(const std::string &File, const std::string &Topic) {
    std::string progId = ClassesRootValue(".htm");
    if (progId.empty())
        progId = ClassesRootValue(".html");
    if (progId.empty())
        return;
    const std::string command = Trim(ClassesRootValue(progId + "\\shell\\open\\command"));
    if (command.empty())
        return;
    TBrowserHelpCommand browser = MakeBrowserHelpCommand(command, File, Topic);
    std::string program = browser.Program;
    if (program.size() >= 2 && program.front() == '"' && program.back() == '"')
        program = program.substr(1, program.size() - 2);
    ShellExecuteA(nullptr, "open", program.c_str(), browser.Parameter.c_str(), nullptr, SW_SHOWNORMAL);
}

void TShellFormulaHelpViewer::ShowHtmlHelpTopic(const std::string &File, const std::string &Topic) {
    using THtmlHelp = HWND(WINAPI *)(HWND, LPCSTR, UINT, DWORD_PTR);
    static HMODULE library = LoadLibraryA("hhctrl.ocx");
    if (!library)
        return;
    const auto htmlHelp =
        reinterpret_cast<THtmlHelp>(reinterpret_cast<void *>(GetProcAddress(library, "HtmlHelpA")));
    if (!htmlHelp)
        return;
    const std::string target = Topic.empty() ? File : File + "::/" + Topic;
    htmlHelp(GetDesktopWindow(), target.c_str(), 0 /* display topic */, 0);
}

void TShellFormulaHelpViewer::ShowWinHelpTopic(const std::string &File, const std::string &Topic) {
    const std::string macro = Topic.empty() ? std::string() : WinHelpJumpMacro(Topic);
    if (!WinHelpA(GetDesktopWindow(), File.c_str(), HELP_CONTENTS, 0) || macro.empty())
        return;
    WinHelpA(GetDesktopWindow(), File.c_str(), HELP_COMMAND, reinterpret_cast<ULONG_PTR>(macro.c_str()));
}

void InitializeFormulaHelpViewer() {
    if (!Viewer)
        Viewer = std::make_unique<TShellFormulaHelpViewer>();
    SetFormulaHelpViewer(Viewer.get());
}

void FinalizeFormulaHelpViewer() {
    SetFormulaHelpViewer(nullptr);
    Viewer.reset();
}
