// The first fractal a user sees: the start-up action opens the default fractal in a fractal window,
// which reports " Completed" when the calculation is done and shows exactly the picture that the
// same document calculates and merges headless; Space enters switch mode for the standard
// Mandelbrot formula and Esc leaves it. One start of the program shows all of it.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "E2EDriver.h"
#include "tests/shell/E2EFractalSupport.h"

namespace {

using namespace e2e;

TEST(E2EFractalWindowTest, StartupOpensTheDefaultFractalThatMatchesTheHeadlessRender) {
    const std::string file = WriteDefaultFile();
    ASSERT_FALSE(file.empty());
    ASSERT_TRUE(WriteProgramInteger("General", "StartupAction", 3));
    ASSERT_TRUE(WriteProgramString("Fractal", "DefaultFile", file));
    ASSERT_TRUE(WriteProgramString("Fractal", "DefaultEntry", "Small"));

    TProgramProcess program;
    ASSERT_TRUE(program.Started());
    HWND main = program.WaitForWindow("TMainForm", "", 60000);
    ASSERT_NE(nullptr, main);
    HWND window = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (window = FindDescendant(main, "TFractalForm", "")) != nullptr; }))
        << "no fractal window";
    // The default fractal is an untitled document with the entry's title.
    EXPECT_TRUE(WaitUntil([&] { return WindowText(window) == "Small Mandelbrot"; })) << WindowText(window);
    HWND statusBar = FindDescendant(main, "TTaskStatusBar", "");
    ASSERT_NE(nullptr, statusBar);
    ASSERT_TRUE(WaitForStatus(statusBar, " Completed", 300000));
    ASSERT_TRUE(program.WaitForIdle());
    EXPECT_TRUE(SaveScreenshot("fractal-window").has_value());

    // The window's picture is the headless one, pixel for pixel.
    HWND display = FindDescendant(window, "TFractalDisplay", "");
    ASSERT_NE(nullptr, display);
    const THeadlessPicture expected = RenderHeadless(file, "Small");
    const RECT area = ClientScreenRect(display);
    ASSERT_EQ(expected.Width, area.right - area.left);
    ASSERT_EQ(expected.Height, area.bottom - area.top);
    if (!expected.Direct) {
        GTEST_SKIP() << "the screen is not a true-colour screen; the picture is dithered";
    } else {
        const TImage shown = CropImage(CaptureSettledScreen(), area);
        ASSERT_EQ(expected.Width, shown.Width);
        ASSERT_EQ(expected.Height, shown.Height);
        int different = 0;
        std::string first;
        for (int y = 0; y < shown.Height; ++y)
            for (int x = 0; x < shown.Width; ++x)
                if (shown.Pixel(x, y) != expected.Pixels[y * expected.Width + x] && different++ == 0) {
                    char text[80];
                    std::snprintf(text, sizeof(text), "(%d, %d): %06X shown, %06X headless", x, y,
                                  shown.Pixel(x, y), expected.Pixels[y * expected.Width + x]);
                    first = text;
                }
        EXPECT_EQ(0, different) << "pixels that differ from the headless render, the first " << first;
    }

    // Space enters switch mode: the standard Mandelbrot formula switches to the Julia set.
    ASSERT_TRUE(PressKeys(main, {VK_SPACE}));
    EXPECT_TRUE(WaitForStatus(statusBar, " Click to switch. Use Esc to cancel."));
    ASSERT_TRUE(PressKeys(main, {VK_ESCAPE}));
    EXPECT_TRUE(WaitForStatus(statusBar, " Completed"));

    // An unchanged fractal closes with the program without a question.
    DWORD exitCode = 1;
    EXPECT_TRUE(program.Close(&exitCode, main));
    EXPECT_EQ(0u, exitCode);
    EXPECT_TRUE(WriteProgramInteger("General", "StartupAction", 0));
    DeleteFileA(file.c_str());
}

} // namespace
