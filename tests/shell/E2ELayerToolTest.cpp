// The Layer Properties window as a user meets it: it shows the default fractal's layer, typing a new
// maximum iteration count into its Formula tab recalculates the fractal, and typing a new value for
// the formula's bailout parameter changes the picture. One start of the program.
#include <windows.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "E2EDriver.h"

namespace {

using namespace e2e;

std::string WriteSmallFractal() {
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    const std::string file = std::string(folder) + "ov-e2e-layer.opr";
    const std::string formulas = std::string(TEST_DATA_DIR) + "..\\resources\\formulas\\Standard.ofm";
    const std::string text =
        "Small {\r\nfractal:\r\n  title=\"Small Mandelbrot\"\r\n  width=120\r\n  height=90\r\n"
        "  layers=1\r\nlayer:\r\n  caption=\"Background\"\r\n  opacity=100\r\nmapping:\r\n  center=-0.5/0\r\n"
        "  magn=1\r\nformula:\r\n  filename=\"" +
        formulas + "\"\r\n  entry=\"Mandelbrot\"\r\n  maxiter=40\r\n}\r\n";
    FILE *out = std::fopen(file.c_str(), "wb");
    if (!out)
        return {};
    std::fwrite(text.data(), 1, text.size(), out);
    std::fclose(out);
    return file;
}

bool StatusIs(HWND StatusBar, const std::string &Text) {
    const std::vector<std::string> texts = StatusBarTexts(StatusBar);
    return !texts.empty() && texts[0] == Text;
}

// Replaces the text of an edit field by typing, and confirms it with Enter.
// The keys go through the main window, which holds the focus of the edit.
bool TypeOver(HWND Main, HWND Edit, int OldLength, const std::string &Text) {
    POINT point = {4, 4};
    ClientToScreen(Edit, &point);
    ScreenToClient(Main, &point);
    if (!ClickAt(Main, point) || !PressKeys(Main, {VK_END}))
        return false;
    for (int i = 0; i < OldLength; ++i)
        if (!PressKeys(Main, {VK_BACK}))
            return false;
    for (char ch : Text)
        if (!PressKeys(Main, {static_cast<WORD>(ch == '.' ? VK_DECIMAL : ch)}))
            return false;
    return PressKeys(Main, {VK_RETURN});
}

TEST(E2ELayerToolTest, TypedValuesRecalculateTheActiveFractal) {
    const std::string file = WriteSmallFractal();
    ASSERT_FALSE(file.empty());
    ASSERT_TRUE(WriteProgramInteger("General", "StartupAction", 3));
    ASSERT_TRUE(WriteProgramString("Fractal", "DefaultFile", file));
    ASSERT_TRUE(WriteProgramString("Fractal", "DefaultEntry", "Small"));
    ASSERT_TRUE(WriteProgramInteger("Forms\\TLayerToolForm", "ActivePage", 2));

    TProgramProcess program;
    ASSERT_TRUE(program.Started());
    HWND main = program.WaitForWindow("TMainForm", "", 60000);
    ASSERT_NE(nullptr, main);
    HWND window = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (window = FindDescendant(main, "TFractalForm", "")) != nullptr; }));
    HWND statusBar = FindDescendant(main, "TTaskStatusBar", "");
    ASSERT_NE(nullptr, statusBar);
    ASSERT_TRUE(WaitUntil([&] { return StatusIs(statusBar, " Completed"); }, 300000));
    ASSERT_TRUE(program.WaitForIdle());

    HWND tool = FindDescendant(main, "TLayerToolForm", "");
    ASSERT_NE(nullptr, tool);
    EXPECT_EQ("Layer Properties - Small Mandelbrot, Background", WindowText(tool));
    SaveScreenshot("layer-window-e2e");

    // The maximum iterations: one undo step with its caption, and the fractal calculates again.
    HWND maxIter = FindDescendant(tool, "TAdvComboBox", "40");
    ASSERT_NE(nullptr, maxIter);
    HWND maxIterEdit = FindDescendant(maxIter, "Edit", "");
    ASSERT_NE(nullptr, maxIterEdit);
    HWND display = FindDescendant(window, "TFractalDisplay", "");
    ASSERT_NE(nullptr, display);
    ASSERT_TRUE(TypeOver(main, maxIterEdit, 2, "60"));
    ASSERT_TRUE(WaitUntil([&] { return StatusIs(statusBar, " Completed"); }, 300000));
    ASSERT_TRUE(program.WaitForIdle());
    EXPECT_EQ("60", WindowText(maxIter));

    // The formula's bailout parameter: the picture changes.
    const TImage before = CropImage(CaptureSettledScreen(), ClientScreenRect(display));
    HWND bailout = FindDescendant(tool, "TAdvEdit", "4");
    ASSERT_NE(nullptr, bailout);
    ASSERT_TRUE(TypeOver(main, bailout, 1, "1.5"));
    ASSERT_TRUE(WaitUntil([&] { return StatusIs(statusBar, " Completed"); }, 300000));
    ASSERT_TRUE(program.WaitForIdle());
    const TImage after = CropImage(CaptureSettledScreen(), ClientScreenRect(display));
    ASSERT_EQ(before.Width, after.Width);
    ASSERT_EQ(before.Height, after.Height);
    EXPECT_NE(before.Rgb, after.Rgb) << "the picture did not change";

    program.Terminate();
    EXPECT_TRUE(WriteProgramInteger("General", "StartupAction", 0));
    DeleteFileA(file.c_str());
}

} // namespace
