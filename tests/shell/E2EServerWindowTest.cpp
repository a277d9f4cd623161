// The calculation server's window as a user meets it: started with "/server", hidden to the tray
// with Ctrl+H and the minimize command, brought back by a click on the tray icon and by a second
// "/server" start (which hands over and ends), and coming up again where and how it was closed:
// at the same place and size, and hidden to the tray when it was closed there.
#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "E2EDriver.h"

namespace {

using namespace e2e;

const std::string ServerCaption = "Orbisk Vantel Server";

// The server form itself (the application window carries the same title).
HWND FindServerWindow(const TProgramProcess &Program) {
    for (HWND window : Program.TopLevelWindows(true))
        if (WindowClassName(window) == "TServerForm")
            return window;
    return nullptr;
}

// The hidden window that the shell reports the tray icon's mouse messages to.
HWND FindTrayWindow(const TProgramProcess &Program) {
    for (HWND window : Program.TopLevelWindows(true))
        if (WindowClassName(window) == "TSystemTrayWindow")
            return window;
    return nullptr;
}

bool Shown(HWND Window) {
    return IsVisibleWindow(Window) && !IsIconic(Window);
}

// A left click on the tray icon, as the shell reports it.
void ClickTrayIcon(HWND Tray) {
    PostMessageA(Tray, WM_USER, 0, WM_LBUTTONUP);
}

TEST(E2EServerWindowTest, TrayHideShowSecondStartAndPlacementAcrossARestart) {
    // On loopback only, on a port of its own, without a log file.
    const DWORD port = 20000 + GetCurrentProcessId() % 20000;
    ASSERT_TRUE(WriteProgramString("Server", "ListenAddress", "127.0.0.1"));
    ASSERT_TRUE(WriteProgramInteger("Server", "Port", port));
    ASSERT_TRUE(WriteProgramInteger("Server", "LogEnabled", 0));
    ASSERT_TRUE(DeleteRegistryTree(ProgramRegistryKey() + "\\Forms\\ServerForm"));
    const RECT placed{60, 40, 660, 460};

    {
        TProgramProcess program({"/server"});
        ASSERT_TRUE(program.Started());
        HWND window = program.WaitForMainWindow();
        ASSERT_NE(window, nullptr);
        ASSERT_EQ(window, FindServerWindow(program));
        EXPECT_EQ(WindowText(window), ServerCaption);
        ASSERT_TRUE(program.WaitForIdle());
        auto hide = program.FindMenuItem(window, {"File", "Hide"});
        ASSERT_TRUE(hide.has_value());
        EXPECT_EQ(hide->ShortCut, "Ctrl+H");
        auto index = program.FindMenuItem(window, {"Help", "Index"});
        ASSERT_TRUE(index.has_value());
        EXPECT_EQ(index->ShortCut, "Ctrl+F1");
        HWND memo = FindDescendant(window, "TMemo");
        ASSERT_NE(memo, nullptr);
        EXPECT_NE(WindowText(memo).find("Listening on port " + std::to_string(port) + "."), std::string::npos)
            << WindowText(memo);
        HWND tray = FindTrayWindow(program);
        ASSERT_NE(tray, nullptr);

        SetWindowPos(window, nullptr, placed.left, placed.top, placed.right - placed.left,
                     placed.bottom - placed.top, SWP_NOZORDER | SWP_NOACTIVATE);
        ASSERT_TRUE(program.WaitForIdle());

        // The options dialog from the menu (kept as a picture for a person to look at), cancelled.
        auto options = program.FindMenuItem(window, {"File", "Options..."});
        ASSERT_TRUE(options.has_value());
        ASSERT_TRUE(PostCommand(window, options->Command));
        HWND dialog = program.WaitForWindow("TServerOptionsForm", "Options");
        ASSERT_NE(dialog, nullptr);
        ASSERT_TRUE(program.WaitForIdle());
        EXPECT_NE(FindDescendant(dialog, "TButton", "Browse..."), nullptr);
        EXPECT_TRUE(WritePng(ArtifactsFolder() + "\\server-options.png",
                             CropImage(CaptureSettledScreen(), WindowRect(dialog))));
        ASSERT_TRUE(PressButton(dialog, "Cancel"));
        ASSERT_TRUE(WaitUntil([&] { return !IsWindow(dialog) || !IsVisibleWindow(dialog); }, 20000));

        // Ctrl+H: the window leaves the screen and the task bar.
        ASSERT_TRUE(PressKeys(window, {VK_CONTROL, 'H'}));
        ASSERT_TRUE(WaitUntil([&] { return !IsVisibleWindow(window); }, 20000)) << "Ctrl+H hides";
        ClickTrayIcon(tray);
        ASSERT_TRUE(WaitUntil([&] { return Shown(window); }, 20000)) << "a click on the icon shows";

        // The minimize command goes to the tray too.
        PostMessageA(window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
        ASSERT_TRUE(WaitUntil([&] { return !IsVisibleWindow(window); }, 20000)) << "minimize hides";

        // A second server start hands over to this one and ends; the window comes back.
        {
            TProgramProcess second({"/server"});
            ASSERT_TRUE(second.Started());
            auto code = second.WaitForExit();
            ASSERT_TRUE(code.has_value()) << "the second start ends by itself";
            EXPECT_EQ(*code, 0u);
        }
        ASSERT_TRUE(WaitUntil([&] { return Shown(window); }, 20000)) << "the second start shows the server";
        EXPECT_EQ(FindServerWindow(program), window) << "one server window, the first one";
        ASSERT_TRUE(program.WaitForIdle());
        const RECT rect = WindowRect(window);
        EXPECT_EQ(rect.left, placed.left);
        EXPECT_EQ(rect.top, placed.top);

        // Closed while in the tray.
        ASSERT_TRUE(PressKeys(window, {VK_CONTROL, 'H'}));
        ASSERT_TRUE(WaitUntil([&] { return !IsVisibleWindow(window); }, 20000));
        DWORD exitCode = 1;
        ASSERT_TRUE(program.Close(&exitCode, window));
        EXPECT_EQ(exitCode, 0u);
    }
    EXPECT_EQ(ReadProgramInteger("Forms\\ServerForm", "Taskbar"), std::optional<DWORD>(1));
    EXPECT_EQ(ReadProgramInteger("Forms\\ServerForm", "Left"), std::optional<DWORD>(placed.left));
    EXPECT_EQ(ReadProgramInteger("Forms\\ServerForm", "Top"), std::optional<DWORD>(placed.top));
    EXPECT_EQ(ReadProgramInteger("Forms\\ServerForm", "Width"),
              std::optional<DWORD>(placed.right - placed.left));
    EXPECT_EQ(ReadProgramInteger("Forms\\ServerForm", "Height"),
              std::optional<DWORD>(placed.bottom - placed.top));

    {
        // The next start comes up in the tray, and out of it at the stored place and size.
        TProgramProcess program({"/server"});
        ASSERT_TRUE(program.Started());
        HWND tray = nullptr;
        HWND window = nullptr;
        ASSERT_TRUE(WaitUntil([&] {
            tray = FindTrayWindow(program);
            window = FindServerWindow(program);
            return tray && window;
        }));
        ASSERT_TRUE(program.WaitForIdle());
        ASSERT_TRUE(WaitUntil([&] { return !IsVisibleWindow(window); }, 20000)) << "starts in the tray";
        ClickTrayIcon(tray);
        ASSERT_TRUE(WaitUntil([&] { return Shown(window); }, 20000));
        ASSERT_TRUE(program.WaitForIdle());
        const RECT rect = WindowRect(window);
        EXPECT_EQ(rect.left, placed.left);
        EXPECT_EQ(rect.top, placed.top);
        EXPECT_EQ(rect.right, placed.right);
        EXPECT_EQ(rect.bottom, placed.bottom);
        DWORD exitCode = 1;
        ASSERT_TRUE(program.Close(&exitCode, window));
        EXPECT_EQ(exitCode, 0u);
    }
    EXPECT_EQ(ReadProgramInteger("Forms\\ServerForm", "Taskbar"), std::optional<DWORD>(0));
}

} // namespace
