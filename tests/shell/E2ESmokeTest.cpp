// The program as a user meets it: it starts, shows its main window with the program's title, ends
// cleanly when the window is closed and stores its configuration on the way out.
#include <windows.h>

#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "E2EDriver.h"

namespace {

using namespace e2e;

// One start of the program for every check: under emulation each start takes seconds.
TEST(E2ESmokeTest, ShowsTheTitledMainWindowAndSavesTheConfigurationAtExit) {
    // The title from the program file's own version information, not from the code that builds it.
    const std::optional<TFileVersion> version = ReadFileVersion(ProgramPath());
    ASSERT_TRUE(version.has_value()) << ProgramPath();
    ASSERT_EQ("Orbisk Vantel", version->ProductName);
    const std::string title = version->ProductName + " " + version->ProductVersion;

    // Without a document window at start: the start-up action does nothing.
    ASSERT_TRUE(WriteProgramInteger("General", "StartupAction", 0));
    TProgramProcess program;
    ASSERT_TRUE(program.Started()) << "could not start " << ProgramPath();
    HWND main = program.WaitForMainWindow();
    ASSERT_NE(nullptr, main) << "no main window; the program " << (program.Running() ? "runs" : "ended");

    EXPECT_EQ(0u, WindowText(main).rfind(title, 0)) << "caption: " << WindowText(main);
    const RECT frame = WindowRect(main);
    EXPECT_GT(frame.right - frame.left, 200);
    EXPECT_GT(frame.bottom - frame.top, 150);

    // The configuration is loaded at the start and stored at the end: a section removed while the
    // program runs comes back only through the store at exit.
    const std::string general = ProgramRegistryKey() + "\\General";
    ASSERT_TRUE(WaitUntil([&] { return RegistryKeyExists(ProgramRegistryKey()); }));
    ASSERT_TRUE(DeleteRegistryTree(general));
    ASSERT_FALSE(RegistryKeyExists(general));

    ASSERT_TRUE(program.WaitForIdle());
    const std::optional<std::string> picture = SaveScreenshot("main-window");
    ASSERT_TRUE(picture.has_value());
    std::ifstream file(*picture, std::ios::binary);
    const std::string head((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_EQ(0u, head.rfind("\x89PNG\r\n\x1A\n", 0));

    DWORD exitCode = 1;
    ASSERT_TRUE(program.Close(&exitCode, main));
    EXPECT_EQ(0u, exitCode);
    EXPECT_TRUE(RegistryKeyExists(general));
    EXPECT_EQ(std::optional<DWORD>(1), ReadProgramInteger("General", "ShowStatusBar"));
    EXPECT_TRUE(ReadProgramInteger("General", "FileHistorySize").has_value());
    EXPECT_TRUE(ReadProgramString("General", "FontName").has_value());
}

} // namespace
