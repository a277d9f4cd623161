// The program's start as a user meets it: the splash, then the main window with its menus, tool
// bar, status bar and dock bar; F12 hiding and bringing back the tool windows; a later start handing
// its files to the running program (also while the splash still shows); interface errors shown as
// message boxes after which the program goes on; the layout and the file history stored at exit.
// Each start of the program costs seconds under emulation, so every test starts it once and checks
// as much as one start shows.
#include <windows.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "E2EDriver.h"

namespace {

using namespace e2e;

// The Fractal-window-less program names its missing documents by their full path.
const std::string Missing1 = "C:\\ov-e2e\\first.ofr";
const std::string Missing2 = "C:\\ov-e2e\\with blank.opr";

std::string Unmarked(const TMenuEntry &Entry) {
    return StripAccessMark(Entry.Caption);
}

const TMenuEntry *Find(const std::vector<TMenuEntry> &Items, const std::string &Caption) {
    for (const TMenuEntry &item : Items)
        if (!item.Separator && Unmarked(item) == Caption)
            return &item;
    return nullptr;
}

std::string ChildClasses(HWND Parent) {
    std::string text;
    for (HWND child : ChildWindows(Parent, ""))
        text += WindowClassName(child) + " ";
    return text;
}

// The texts of the program's message boxes, each answered with OK, until Count were read.
std::vector<std::string> AnswerMessageBoxes(TProgramProcess &Program, size_t Count) {
    std::vector<std::string> texts;
    while (texts.size() < Count) {
        HWND box = Program.WaitForWindow("TMessageForm", "", 60000);
        if (!box)
            break;
        std::string text;
        for (const std::string &line : DialogTexts(box))
            text += line;
        texts.push_back(text);
        PressButton(box, "OK");
        WaitUntil([&] { return !IsWindow(box) || !IsVisibleWindow(box); }, 20000);
    }
    return texts;
}

bool HasText(const std::vector<std::string> &Texts, const std::string &Text) {
    return std::find(Texts.begin(), Texts.end(), Text) != Texts.end();
}

struct TExpectedItem {
    std::vector<std::string> Path;
    const char *ShortCut;
    bool Enabled;
};

TEST(E2EMainWindowTest, SplashMainWindowMenusToolWindowsHandOverAndStoredLayout) {
    // A fresh layout: what the program stores at exit must come from this run.
    ASSERT_TRUE(DeleteRegistryTree(ProgramRegistryKey() + "\\Forms"));
    ASSERT_TRUE(DeleteRegistryTree(ProgramRegistryKey() + "\\Tools"));
    ASSERT_TRUE(DeleteRegistryTree(ProgramRegistryKey() + "\\FileHistory"));
    // Without a document window at start: the start-up action does nothing.
    ASSERT_TRUE(WriteProgramInteger("General", "StartupAction", 0));

    TProgramProcess program;
    ASSERT_TRUE(program.Started());

    // The splash comes first and stays until the main window has taken over.
    HWND splash = program.WaitForWindow("TAboutForm", "", 60000);
    ASSERT_NE(nullptr, splash) << "no splash";
    const RECT splashRect = WindowRect(splash);
    EXPECT_EQ(560, splashRect.right - splashRect.left);
    EXPECT_EQ(280, splashRect.bottom - splashRect.top);
    SaveScreenshot("splash");

    HWND main = program.WaitForWindow("TMainForm", "", 60000);
    ASSERT_NE(nullptr, main);
    ASSERT_TRUE(WaitUntil([&] { return !program.FindWindow("TAboutForm"); }, 60000)) << "the splash stays";
    ASSERT_TRUE(program.WaitForIdle());

    // The bars.
    HWND statusBar = FindDescendant(main, "TTaskStatusBar", "");
    ASSERT_NE(nullptr, statusBar) << ChildClasses(main);
    ASSERT_TRUE(WaitUntil([&] {
        const std::vector<std::string> texts = StatusBarTexts(statusBar);
        return !texts.empty() && texts[0] == " Press F1 to get help.";
    })) << "status panels: "
        << ::testing::PrintToString(StatusBarTexts(statusBar));
    HWND dockBar = FindDescendant(main, "TAdvDockBar", "");
    ASSERT_NE(nullptr, dockBar) << ChildClasses(main);
    EXPECT_TRUE(IsVisibleWindow(dockBar));
    HWND toolBar = FindDescendant(main, "TAdvToolBar", "");
    ASSERT_NE(nullptr, toolBar) << ChildClasses(main);
    EXPECT_TRUE(IsVisibleWindow(toolBar));
    // The dock bar stands at the right, between the tool bar's row and the status bar.
    const RECT client = ClientScreenRect(main);
    const RECT dock = WindowRect(dockBar), status = WindowRect(statusBar);
    EXPECT_EQ(client.right, dock.right);
    EXPECT_EQ(status.top, dock.bottom);
    EXPECT_EQ(client.bottom, status.bottom);

    // The menus: the commands of the main window with their shortcuts; with no document window
    // the arrangement commands are off.
    const std::vector<TMenuEntry> menu = program.ReadMenuBar(main);
    std::vector<std::string> titles;
    for (const TMenuEntry &item : menu)
        titles.push_back(Unmarked(item));
    EXPECT_EQ((std::vector<std::string>{"File", "Options", "Window", "Help"}), titles);
    const TExpectedItem expected[] = {
        {{"File", "Exit"}, "Alt+F4", true},
        {{"File", "Open..."}, "Ctrl+O", true},
        {{"File", "Browse..."}, "Ctrl+B", false},
        {{"File", "New", "Fractal"}, "Ctrl+N", false},
        {{"Options", "Toolbar"}, "", true},
        {{"Options", "Tool Windows"}, "F12", true},
        {{"Options", "Status Bar"}, "", true},
        {{"Options", "Window Panel"}, "", true},
        {{"Options", "Show Hints"}, "", true},
        {{"Window", "Cascade"}, "", false},
        {{"Window", "Tile Horizontal"}, "", false},
        {{"Window", "Tile Vertical"}, "", false},
        {{"Window", "Minimize All"}, "", false},
        {{"Window", "Undo Minimize All"}, "", false},
        {{"Window", "Arrange Icons"}, "", false},
        {{"Window", "Tool Windows", "Layer Properties"}, "Shift+F2", true},
        {{"Window", "Tool Windows", "Fractal Properties"}, "Shift+F3", true},
        {{"Window", "Tool Windows", "Fractal Mode"}, "Shift+F4", true},
        {{"Window", "Tool Windows", "Statistics"}, "Shift+F5", true},
        {{"Window", "Tool Windows", "Color Cycling"}, "Shift+F6", true},
        {{"Window", "Tool Windows", "Network"}, "Shift+F7", true},
        {{"Window", "Tool Windows", "Render to Disk"}, "Shift+F8", true},
        {{"Window", "Tool Windows", "Compiler Messages"}, "Shift+F9", true},
        {{"Help", "About..."}, "", true},
    };
    for (const TExpectedItem &item : expected) {
        const std::vector<TMenuEntry> *level = &menu;
        const TMenuEntry *entry = nullptr;
        for (const std::string &caption : item.Path) {
            entry = level ? Find(*level, caption) : nullptr;
            level = entry ? &entry->Items : nullptr;
        }
        std::string path;
        for (const std::string &caption : item.Path)
            path += "/" + caption;
        ASSERT_NE(nullptr, entry) << path;
        EXPECT_EQ(item.ShortCut, entry->ShortCut) << path;
        EXPECT_EQ(item.Enabled, entry->Enabled) << path;
    }
    // By default the first three tool windows show and the dock bar is out, so F12's item is checked.
    const TMenuEntry *tools = Find(Find(menu, "Window")->Items, "Tool Windows");
    ASSERT_NE(nullptr, tools);
    std::vector<bool> shown;
    for (const TMenuEntry &item : tools->Items)
        if (!item.Separator)
            shown.push_back(item.Checked);
    EXPECT_EQ((std::vector<bool>{true, true, true, false, false, false, false, false}), shown);
    EXPECT_TRUE(Find(Find(menu, "Options")->Items, "Tool Windows")->Checked);

    // F12 rolls the dock bar in, F12 again brings it back as it was.
    auto toolWindowsChecked = [&] {
        std::optional<TMenuEntry> item = program.FindMenuItem(main, {"Options", "Tool Windows"});
        return item && item->Checked;
    };
    const LONG dockWidth = dock.right - dock.left;
    ASSERT_TRUE(PressKeys(main, {VK_F12}));
    ASSERT_TRUE(WaitUntil([&] { return !toolWindowsChecked(); })) << "F12 did not hide the tool windows";
    EXPECT_TRUE(WaitUntil([&] {
        const RECT now = WindowRect(dockBar);
        return !IsVisibleWindow(dockBar) || now.right - now.left < dockWidth;
    })) << "the dock bar did not roll in";
    ASSERT_TRUE(PressKeys(main, {VK_F12}));
    ASSERT_TRUE(WaitUntil([&] { return toolWindowsChecked(); })) << "F12 again did not bring them back";
    EXPECT_TRUE(WaitUntil([&] {
        const RECT now = WindowRect(dockBar);
        return IsVisibleWindow(dockBar) && now.right - now.left == dockWidth;
    }));

    // A later start hands its files to this one and ends at once; a quoted name with a blank
    // arrives whole, a switch is left out. No window opens these kinds yet: each file shows its own
    // message, raised on the interface thread, and the program goes on afterwards.
    {
        TProgramProcess second({"/nosplash", Missing1, Missing2});
        ASSERT_TRUE(second.Started());
        EXPECT_EQ(std::optional<DWORD>(0), second.WaitForExit(60000));
    }
    const std::vector<std::string> messages = AnswerMessageBoxes(program, 2);
    EXPECT_EQ(2u, messages.size());
    EXPECT_TRUE(HasText(messages, "Could not open '" + Missing1 + "'."))
        << ::testing::PrintToString(messages);
    EXPECT_TRUE(HasText(messages, "Could not open '" + Missing2 + "'."))
        << ::testing::PrintToString(messages);
    ASSERT_TRUE(WaitUntil([&] { return !program.FindWindow("TMessageForm"); }));
    ASSERT_TRUE(program.WaitForIdle());
    EXPECT_TRUE(IsVisibleWindow(main));

    SaveScreenshot("main-window-menus");
    DWORD exitCode = 1;
    ASSERT_TRUE(program.Close(&exitCode, main));
    EXPECT_EQ(0u, exitCode);

    // Stored at exit: the file history, the dock bar's layout and state, the window's placement.
    EXPECT_EQ(std::optional<DWORD>(0), ReadProgramInteger("FileHistory", "Count"));
    EXPECT_EQ(std::optional<DWORD>(0), ReadProgramInteger("Forms\\MainForm", "DockBarRolledUp"));
    EXPECT_TRUE(ReadProgramInteger("Forms\\MainForm", "State").has_value());
    EXPECT_TRUE(ReadProgramInteger("Tools", "Width").has_value());
    EXPECT_EQ(std::optional<DWORD>(1), ReadProgramInteger("Tools\\TLayerToolForm", "Visible"));
    EXPECT_EQ(std::optional<DWORD>(0), ReadProgramInteger("Tools\\TStatisticsToolForm", "Visible"));
}

// A start that comes while the first still shows its splash is not lost: its files are opened once
// the first has finished starting.
TEST(E2EMainWindowTest, AStartDuringTheSplashIsHandedOver) {
    // Without a document window at start: the start-up action does nothing.
    ASSERT_TRUE(WriteProgramInteger("General", "StartupAction", 0));
    TProgramProcess program;
    ASSERT_TRUE(program.Started());
    ASSERT_NE(nullptr, program.WaitForWindow("TAboutForm", "", 60000));
    {
        TProgramProcess second({Missing2});
        ASSERT_TRUE(second.Started());
        EXPECT_EQ(std::optional<DWORD>(0), second.WaitForExit(60000));
    }
    HWND main = program.WaitForWindow("TMainForm", "", 60000);
    ASSERT_NE(nullptr, main);
    const std::vector<std::string> messages = AnswerMessageBoxes(program, 1);
    EXPECT_EQ((std::vector<std::string>{"Could not open '" + Missing2 + "'."}), messages);
    ASSERT_TRUE(WaitUntil([&] { return !program.FindWindow("TMessageForm"); }));
    DWORD exitCode = 1;
    ASSERT_TRUE(program.Close(&exitCode, main));
    EXPECT_EQ(0u, exitCode);
}

} // namespace
