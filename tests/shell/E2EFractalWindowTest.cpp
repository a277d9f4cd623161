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
#include "tests/documents/DocumentTestSupport.h"

#include "CompPersistent.h"
#include "FracInteractive.h"

namespace {

using namespace e2e;

// The shipped formula file, so that the program and the test read the same formula.
std::string ShippedFormulas() {
    return std::string(TEST_DATA_DIR) + "..\\resources\\formulas\\Standard.ofm";
}

// A small default fractal: under emulation a 640 x 480 image takes long.
std::string WriteDefaultFile() {
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    const std::string file = std::string(folder) + "ov-e2e-default.opr";
    const std::string text =
        "Small {\r\nfractal:\r\n  title=\"Small Mandelbrot\"\r\n  width=120\r\n  height=90\r\n"
        "  layers=1\r\nlayer:\r\n  caption=\"Background\"\r\n  opacity=100\r\nmapping:\r\n  center=-0.5/0\r\n"
        "  magn=1\r\nformula:\r\n  filename=\"" +
        ShippedFormulas() + "\"\r\n  entry=\"Mandelbrot\"\r\n  maxiter=40\r\n}\r\n";
    FILE *out = std::fopen(file.c_str(), "wb");
    if (!out)
        return {};
    std::fwrite(text.data(), 1, text.size(), out);
    std::fclose(out);
    return file;
}

// Every pixel of the display bitmap after the headless calculation of the same entry, as 0xRRGGBB.
struct THeadlessPicture {
    int Width = 0, Height = 0;
    bool Direct = false; // 32-bit pixels, copied as they are merged
    std::vector<std::uint32_t> Pixels;
};

THeadlessPicture RenderHeadless(const std::string &File, const std::string &Entry) {
    TDocumentConfiguration configuration("Alice");
    THistoryDataManager history("", 1 << 28);
    TCalculateManager manager(2);
    TInteractiveFractal document(&manager, &history);
    TParReader reader;
    reader.LoadFileEntry(File, Entry);
    document.BeginChange();
    document.ReadParameters(reader, TPersistentFractal::NormalReadFlags, TFractalProgressEvent());
    document.EndChange();
    WaitCalculated(document);
    THeadlessPicture picture;
    picture.Width = document.GetWidth();
    picture.Height = document.GetHeight();
    document.GetUpdateManager().RefreshRect(RECT{0, 0, picture.Width, picture.Height});
    TBaseBitmap &bitmap = document.GetBitmap();
    picture.Direct = bitmap.Mode() == TBaseBitmap::bmRGB32;
    if (!picture.Direct)
        return picture;
    for (int y = 0; y < picture.Height; ++y)
        for (int x = 0; x < picture.Width; ++x) {
            const std::uint8_t *p = bitmap.Bits() + y * bitmap.RowBytes() + 4 * x;
            picture.Pixels.push_back(std::uint32_t(p[2]) << 16 | std::uint32_t(p[1]) << 8 | p[0]);
        }
    return picture;
}

// Waits until the first status panel reads Text.
testing::AssertionResult WaitForStatus(HWND StatusBar, const std::string &Text,
                                       DWORD TimeoutMs = DefaultTimeoutMs) {
    if (WaitUntil(
            [&] {
                const std::vector<std::string> texts = StatusBarTexts(StatusBar);
                return !texts.empty() && texts[0] == Text;
            },
            TimeoutMs))
        return testing::AssertionSuccess();
    return testing::AssertionFailure()
           << "status panels: " << testing::PrintToString(StatusBarTexts(StatusBar));
}

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
    EXPECT_EQ("Small Mandelbrot", WindowText(window));
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
