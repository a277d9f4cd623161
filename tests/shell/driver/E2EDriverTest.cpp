// The end-to-end driver against a probe program whose menus, status bar and message box the test
// knows (tests/shell/programs/E2EProbe.cpp): reading another process's menus and status bar, a
// message box and its buttons, keys and clicks through the system's input, and the exit code.
#include <windows.h>

#include <commctrl.h>

#include <cstdlib>

#include <gtest/gtest.h>

#include "E2EDriver.h"

namespace {

using namespace e2e;

struct TExpectedItem {
    std::vector<std::string> Path;
    const char *Caption;
    const char *ShortCut;
    bool Enabled;
    bool Checked;
    UINT Command;
};

// The probe's menus as its source makes them.
const TExpectedItem ProbeItems[] = {
    {{"File", "Open..."}, "&Open...", "Ctrl+O", true, false, 101},
    {{"File", "Save"}, "&Save", "Ctrl+S", false, false, 102},
    {{"File", "Exit"}, "E&xit", "", true, false, 103},
    {{"View", "Status Bar"}, "&Status Bar", "", true, true, 201},
    {{"View", "Zoom", "Zoom In"}, "Zoom &In", "Num +", true, false, 211},
};

class E2EDriverTest : public testing::Test {
protected:
    // One start of the probe for the whole suite: each start takes seconds under emulation.
    static void SetUpTestSuite() {
        Probe = new TProgramProcess({"7"}, TestProgramPath("E2EProbe.exe"));
        if (Probe->Started())
            Window = Probe->WaitForWindow("TE2EProbeForm");
        if (Window)
            StatusBar = FindDescendant(Window, STATUSCLASSNAMEA);
    }
    static void TearDownTestSuite() {
        delete Probe;
        Probe = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(Probe->Started());
        ASSERT_NE(nullptr, Window);
        ASSERT_NE(nullptr, StatusBar);
    }
    std::string Status(size_t Index) {
        const std::vector<std::string> texts = StatusBarTexts(StatusBar);
        return Index < texts.size() ? texts[Index] : "<no panel " + std::to_string(Index) + ">";
    }

    static TProgramProcess *Probe;
    static HWND Window;
    static HWND StatusBar;
};

TProgramProcess *E2EDriverTest::Probe = nullptr;
HWND E2EDriverTest::Window = nullptr;
HWND E2EDriverTest::StatusBar = nullptr;

// The tests run in this order (GoogleTest keeps the order of a file): reading first, then what
// changes the probe, closing last.
TEST_F(E2EDriverTest, ReadsTheWindowAndItsStatusBar) {
    EXPECT_EQ("E2E probe", WindowText(Window));
    EXPECT_EQ("TE2EProbeForm", WindowClassName(Window));
    EXPECT_EQ(Window, Probe->FindWindow("", "E2E"));
    EXPECT_EQ(Window, Probe->WaitForMainWindow());
    const RECT frame = WindowRect(Window);
    EXPECT_EQ(480, frame.right - frame.left);
    EXPECT_EQ(320, frame.bottom - frame.top);
    EXPECT_EQ((std::vector<std::string>{"Ready", "Centred", "Third panel"}), StatusBarTexts(StatusBar));
}

TEST_F(E2EDriverTest, ReadsTheMenusOfAnotherProcess) {
    const std::vector<TMenuEntry> bar = Probe->ReadMenuBar(Window);
    ASSERT_EQ(2u, bar.size());
    EXPECT_EQ("&File", bar[0].Caption);
    EXPECT_EQ("&View", bar[1].Caption);
    ASSERT_EQ(4u, bar[0].Items.size());
    EXPECT_TRUE(bar[0].Items[2].Separator);
    ASSERT_EQ(2u, bar[1].Items.size());
    EXPECT_TRUE(bar[1].Items[1].HasSubMenu);
    for (const TExpectedItem &expected : ProbeItems) {
        SCOPED_TRACE(expected.Caption);
        const std::optional<TMenuEntry> item = Probe->FindMenuItem(Window, expected.Path);
        ASSERT_TRUE(item.has_value());
        EXPECT_EQ(expected.Caption, item->Caption);
        EXPECT_EQ(expected.ShortCut, item->ShortCut);
        EXPECT_EQ(expected.Enabled, item->Enabled);
        EXPECT_EQ(expected.Checked, item->Checked);
        EXPECT_EQ(expected.Command, item->Command);
    }
    EXPECT_FALSE(Probe->FindMenuItem(Window, {"File", "Print"}).has_value());
}

TEST_F(E2EDriverTest, AnswersAMessageBoxAndSeesTheMenuFollowTheProgramState) {
    ASSERT_TRUE(PostCommand(Window, 101));
    HWND box = Probe->WaitForDialog("E2E probe");
    ASSERT_NE(nullptr, box);
    EXPECT_EQ((std::vector<std::string>{"Open the probe document?"}), DialogTexts(box));
    EXPECT_FALSE(PressButton(box, "Retry"));
    ASSERT_TRUE(PressButton(box, "OK"));
    EXPECT_TRUE(Probe->WaitForNoDialog());
    EXPECT_TRUE(WaitUntil([&] { return Status(0) == "Opened"; })) << Status(0);
    // The probe enables Save only when its File menu is announced to open.
    std::optional<TMenuEntry> save = Probe->FindMenuItem(Window, {"File", "Save"}, false);
    ASSERT_TRUE(save.has_value());
    EXPECT_FALSE(save->Enabled);
    save = Probe->FindMenuItem(Window, {"File", "Save"});
    ASSERT_TRUE(save.has_value());
    EXPECT_TRUE(save->Enabled);
}

TEST_F(E2EDriverTest, TypesKeysAndClicksThroughTheSystemInput) {
    ASSERT_TRUE(PressKeys(Window, {'K'}));
    EXPECT_TRUE(WaitUntil([&] { return Status(0) == "Key 75"; })) << Status(0);
    ASSERT_TRUE(ClickAt(Window, {30, 40}));
    EXPECT_TRUE(WaitUntil([&] { return Status(0) == "Click 30,40"; })) << Status(0);
}

TEST_F(E2EDriverTest, TakesAPictureOfTheDesktopWithTheWindowFrame) {
    const TImage screen = CaptureScreen();
    ASSERT_GT(screen.Width, 0);
    // Under Wine the virtual desktop that tools/wine-run sets up, of the size it was given.
    if (const char *desktop = std::getenv("OV_WINE_DESKTOP")) {
        EXPECT_EQ(desktop, std::to_string(screen.Width) + "x" + std::to_string(screen.Height));
    }
    ASSERT_TRUE(SaveScreenshot("e2e-probe").has_value());
    // The caption bar is drawn: across most of its width its middle row differs both from the
    // desktop around the window and from the window's white client area.
    const RECT frame = WindowRect(Window), client = ClientScreenRect(Window);
    const int captionRow = frame.top + GetSystemMetrics(SM_CYFRAME) + GetSystemMetrics(SM_CYCAPTION) / 2;
    ASSERT_LT(captionRow, client.top);
    ASSERT_LT(frame.right + 10, screen.Width);
    const std::uint32_t desktop = screen.Pixel(frame.right + 10, captionRow);
    const std::uint32_t inside = screen.Pixel(client.left + 5, client.top + 40);
    int drawn = 0;
    for (int x = frame.left; x < frame.right; ++x)
        drawn += screen.Pixel(x, captionRow) != desktop && screen.Pixel(x, captionRow) != inside;
    EXPECT_GT(drawn, (frame.right - frame.left) * 3 / 4);
}

TEST_F(E2EDriverTest, ClosesTheProgramAndReadsItsExitCode) {
    DWORD exitCode = 0;
    ASSERT_TRUE(Probe->Close(&exitCode, Window));
    EXPECT_EQ(7u, exitCode);
    EXPECT_FALSE(Probe->Running());
}

} // namespace
