// The end-to-end driver: starts the real program as a separate process, finds and reads its
// windows, menus, status bars, message boxes and dialogs, drives it with messages, keys and the
// mouse, takes pictures of the screen and reads the settings the program stored.
//
// The programs started share the test's desktop. Under Wine the test program runs on a virtual
// desktop of its own (tools/wine-run with OV_WINE_DESKTOP=1024x768, which ctest sets for
// ShellTests), where Wine draws window frames, captions and menus itself: on a bare X display
// without a window manager nothing draws them, and input and the foreground behave as on Windows.
//
// Another process's menus and status-bar texts are not readable with the usual calls everywhere:
// Wine keeps menus inside the process that made them (GetMenuItemInfo of another process's menu
// fails), and a status bar's SB_GETTEXT writes to an address in the status bar's own process. So
// status-bar texts are read through a buffer allocated in the program (VirtualAllocEx) and read
// back (ReadProcessMemory), and menus by a small library (E2EMenuReader.dll) that the driver loads
// into the program and runs there on a thread of its own. Both work the same on Windows.
//
// Every wait polls a condition with a bounded time-out; nothing waits a fixed time.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace e2e {

// Generous: under user-mode emulation a start of the program takes several seconds.
constexpr DWORD DefaultTimeoutMs = 60000;

// --- Paths ---------------------------------------------------------------------------------

// The build folder: the parent of the folder of this test program (build\tests\).
std::string BuildFolder();
// BuildFolder() + "\OrbiskVantel.exe".
std::string ProgramPath();
// BuildFolder() + "\tests\" + Name: the helper programs and libraries of the tests.
std::string TestProgramPath(const std::string &Name);
// BuildFolder() + "\artifacts", made when missing.
std::string ArtifactsFolder();

bool RunningUnderWine();

// --- Waiting -------------------------------------------------------------------------------

// Polls Condition every PollMs until it holds (true) or TimeoutMs passed (false).
bool WaitUntil(const std::function<bool()> &Condition, DWORD TimeoutMs = DefaultTimeoutMs, DWORD PollMs = 25);

// --- Version information of a program file -------------------------------------------------

struct TFileVersion {
    std::string ProductName;    // "ProductName" of the string table
    std::string ProductVersion; // "ProductVersion" of the string table
    int Major = 0;              // of the fixed product version
    int Minor = 0;
};
std::optional<TFileVersion> ReadFileVersion(const std::string &Path);

// --- Windows -------------------------------------------------------------------------------

std::string WindowText(HWND Window);
std::string WindowClassName(HWND Window);
RECT WindowRect(HWND Window);       // screen coordinates, frame included
RECT ClientScreenRect(HWND Window); // the client area in screen coordinates
bool IsVisibleWindow(HWND Window);
DWORD WindowProcessId(HWND Window);
// Direct children (ClassName "" matches any class) in Z order.
std::vector<HWND> ChildWindows(HWND Parent, const std::string &ClassName = "");
// The first descendant of that class whose text, with '&' marks removed, is Text ("" matches any).
HWND FindDescendant(HWND Parent, const std::string &ClassName, const std::string &Text = "");
// Caption text without the '&' that marks the access key ("&&" stays as one '&').
std::string StripAccessMark(const std::string &Caption);

// Texts of a status bar's panels (of any process), the alignment tabs in front removed. One text in
// simple mode.
std::vector<std::string> StatusBarTexts(HWND StatusBar);

// Posts WM_COMMAND for a menu or button command, as a click on the item would.
bool PostCommand(HWND Window, UINT Command);

// The texts a dialog or message box shows in its static controls, in Z order (icons, which have
// no text, left out).
std::vector<std::string> DialogTexts(HWND Dialog);
// Clicks the dialog's button whose caption, with '&' marks removed, is Caption (posted, so that
// whatever the click starts never blocks the test). False when there is no such button.
bool PressButton(HWND Dialog, const std::string &Caption);

// --- Menus ---------------------------------------------------------------------------------

struct TMenuEntry {
    std::string Caption;  // before the tab, access mark kept ("&Open...")
    std::string ShortCut; // after the tab ("Ctrl+O"), empty when none
    UINT Command = 0;
    bool Separator = false;
    bool Enabled = true;
    bool Checked = false;
    bool RadioCheck = false;
    bool Default = false;
    std::vector<TMenuEntry> Items; // a submenu's items
    bool HasSubMenu = false;
};

// --- Pictures ------------------------------------------------------------------------------

struct TImage {
    int Width = 0;
    int Height = 0;
    std::vector<std::uint8_t> Rgb;           // rows top to bottom, 3 bytes a pixel
    std::uint32_t Pixel(int X, int Y) const; // 0xRRGGBB
};

// A PNG file (8-bit RGB) of Image; false when it cannot be written.
bool WritePng(const std::string &Path, const TImage &Image);

// --- Registry ------------------------------------------------------------------------------

// "Software\Orbisk Vantel\<major>.<minor>" for the program's version (read from ProgramPath()).
std::string ProgramRegistryKey();
// Values under HKEY_CURRENT_USER\Key (no conversion between types: a REG_SZ is not an integer).
std::optional<std::string> ReadRegistryString(const std::string &Key, const std::string &Name);
std::optional<DWORD> ReadRegistryInteger(const std::string &Key, const std::string &Name);
std::vector<std::string> RegistryValueNames(const std::string &Key);
bool RegistryKeyExists(const std::string &Key);
// Deletes the key with all its subkeys; true also when there was none.
bool DeleteRegistryTree(const std::string &Key);
// The same under ProgramRegistryKey() + "\" + Section ("General", "Forms\TMainForm", ...).
std::optional<std::string> ReadProgramString(const std::string &Section, const std::string &Name);
std::optional<DWORD> ReadProgramInteger(const std::string &Section, const std::string &Name);
// Settings the program reads at its next start (the section's key is made when missing).
bool WriteProgramString(const std::string &Section, const std::string &Name, const std::string &Value);
bool WriteProgramInteger(const std::string &Section, const std::string &Name, DWORD Value);

// --- The program under test ----------------------------------------------------------------

// Unless allowed, every start of the program switches off its start-up questions first (the
// file-type associations and the welcome window), which would wait for a person.
void AllowStartupQuestions(bool Allowed);

// A program started as a child process on the test's desktop. Its destructor terminates a
// program still running (a test that forgot to close it, or one that failed half-way).
class TProgramProcess {
public:
    // Starts Path with Arguments (each quoted where needed) in the program's own folder.
    // Started() tells whether the process was created.
    explicit TProgramProcess(const std::vector<std::string> &Arguments = {},
                             const std::string &Path = ProgramPath());
    ~TProgramProcess();
    TProgramProcess(const TProgramProcess &) = delete;
    TProgramProcess &operator=(const TProgramProcess &) = delete;

    bool Started() const { return FProcess != nullptr; }
    DWORD ProcessId() const { return FProcessId; }
    HANDLE ProcessHandle() const { return FProcess; }
    bool Running() const;

    // The program's top-level windows (visible ones only unless AllWindows).
    std::vector<HWND> TopLevelWindows(bool AllWindows = false) const;
    // The first visible top-level window of the class (ClassName "" matches any) whose caption
    // starts with CaptionPrefix; nullptr when none.
    HWND FindWindow(const std::string &ClassName, const std::string &CaptionPrefix = "") const;
    HWND WaitForWindow(const std::string &ClassName, const std::string &CaptionPrefix = "",
                       DWORD TimeoutMs = DefaultTimeoutMs) const;
    // The main window: a visible, unowned top-level window with a caption (the first in Z order).
    HWND WaitForMainWindow(DWORD TimeoutMs = DefaultTimeoutMs) const;
    // A visible dialog box or message box (class "#32770") whose caption starts with CaptionPrefix.
    HWND WaitForDialog(const std::string &CaptionPrefix = "", DWORD TimeoutMs = DefaultTimeoutMs) const;
    // Waits until no visible dialog of the program remains.
    bool WaitForNoDialog(DWORD TimeoutMs = DefaultTimeoutMs) const;
    // Waits until the program waits for input, then until each of its top-level windows has
    // handled a message sent to it: what was posted to its windows before is handled by then.
    bool WaitForIdle(DWORD TimeoutMs = DefaultTimeoutMs) const;

    // The menu bar of Window with every submenu. With InitPopups each submenu is announced with
    // WM_INITMENUPOPUP first (as opening it would), so that items the program updates when a menu
    // opens show their current state. Empty when the window has no menu.
    std::vector<TMenuEntry> ReadMenuBar(HWND Window, bool InitPopups = true);
    // One item found by its path of captions with the access marks removed ("File", "Open...").
    std::optional<TMenuEntry> FindMenuItem(HWND Window, const std::vector<std::string> &Path,
                                           bool InitPopups = true);

    // Waits for the program to end; its exit code, or nothing at the time-out.
    std::optional<DWORD> WaitForExit(DWORD TimeoutMs = DefaultTimeoutMs) const;
    // Ends the program as a user does: WM_CLOSE to MainWindow (the main window when nullptr), then
    // waits for the exit. When it does not end in time it is terminated and the result fails; on
    // success ExitCode receives the exit code.
    testing::AssertionResult Close(DWORD *ExitCode, HWND MainWindow = nullptr,
                                   DWORD TimeoutMs = DefaultTimeoutMs);
    // Ends a program that cannot end itself.
    void Terminate();

private:
    // Runs ReadMenuItems of the menu reader inside the program for the menu at Path.
    bool ReadRemoteMenu(HWND Window, const std::vector<int> &Path, std::vector<TMenuEntry> &Items,
                        HMENU *Menu);
    void ReadMenuLevel(HWND Window, std::vector<int> &Path, bool InitPopups, std::vector<TMenuEntry> &Items);
    bool LoadMenuReader();

    HANDLE FProcess = nullptr;
    HANDLE FThread = nullptr;
    DWORD FProcessId = 0;
    // The menu reader's entry inside the program, once loaded.
    LPTHREAD_START_ROUTINE FRemoteReader = nullptr;
};

// --- Input ---------------------------------------------------------------------------------

// Brings Window to the foreground and waits until it is there.
bool BringToForeground(HWND Window, DWORD TimeoutMs = DefaultTimeoutMs);
// Presses the keys together and releases them in reverse order through the system's input
// ({VK_CONTROL, 'O'} is Ctrl+O), after bringing Window to the foreground.
bool PressKeys(HWND Window, const std::vector<WORD> &Keys);
// A click of the left (or right) mouse button at a point of Window's client area.
bool ClickAt(HWND Window, POINT ClientPoint, bool RightButton = false);

// --- Screen pictures -----------------------------------------------------------------------

// What the desktop shows now (the whole virtual desktop under Wine, the screen on Windows); an
// empty image when it cannot be read.
TImage CaptureScreen();
// The part of Image covered by Rect (screen coordinates), clipped to the image.
TImage CropImage(const TImage &Image, const RECT &Rect);
// The screen once two pictures in a row are the same (painting has settled), or the last one
// taken at the time-out.
TImage CaptureSettledScreen(DWORD TimeoutMs = 10000);
// CaptureSettledScreen() written as ArtifactsFolder() + "\" + Name + ".png"; the path, or nothing.
std::optional<std::string> SaveScreenshot(const std::string &Name);

} // namespace e2e
