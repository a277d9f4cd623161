// The browser as a user meets it: a parameter file given to the program opens in the browser,
// which lists the file's parameter sets, shows the selected one's text and its preview, and opens
// it in a fractal window on Enter. One start of the program shows all of it.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "E2EDriver.h"

namespace {

using namespace e2e;

std::string ShippedFormulas() {
    return std::string(TEST_DATA_DIR) + "..\\resources\\formulas\\Standard.ofm";
}

std::string SmallEntry(const std::string &Name, const std::string &Title, const std::string &Center) {
    return Name + " {\r\nfractal:\r\n  title=\"" + Title +
           "\"\r\n  width=48\r\n  height=36\r\n  layers=1\r\nlayer:\r\n  caption=\"Background\"\r\n"
           "  opacity=100\r\nmapping:\r\n  center=" +
           Center + "\r\n  magn=1\r\nformula:\r\n  filename=\"" + ShippedFormulas() +
           "\"\r\n  entry=\"Mandelbrot\"\r\n  maxiter=30\r\n}\r\n";
}

std::string WriteParameterFile() {
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    const std::string file = std::string(folder) + "ov-e2e-browse.opr";
    const std::string text = "comment {\r\n; two small sets\r\n}\r\n" +
                             SmallEntry("Whole", "Whole Set", "-0.5/0") +
                             SmallEntry("Left", "Left Part", "-1.2/0");
    FILE *out = std::fopen(file.c_str(), "wb");
    if (!out)
        return {};
    std::fwrite(text.data(), 1, text.size(), out);
    std::fclose(out);
    return file;
}

// A left click at a point of a child window of the (foreground) main window.
bool ClickChild(HWND Main, HWND Child, POINT ClientPoint) {
    if (!BringToForeground(Main))
        return false;
    POINT point = ClientPoint;
    ClientToScreen(Child, &point);
    SetCursorPos(point.x, point.y);
    INPUT inputs[2] = {};
    inputs[0].type = inputs[1].type = INPUT_MOUSE;
    inputs[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    inputs[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    return SendInput(2, inputs, sizeof(INPUT)) == 2;
}

HWND FindListView(HWND Parent) {
    HWND list = FindDescendant(Parent, "TListView");
    return list ? list : FindDescendant(Parent, "SysListView32");
}

TEST(E2EBrowserTest, AParameterFileOpensInTheBrowserWithPreviewsAndItsEntryOpensAFractalWindow) {
    const std::string file = WriteParameterFile();
    ASSERT_FALSE(file.empty());
    TProgramProcess program({file});
    ASSERT_TRUE(program.Started());
    HWND main = program.WaitForMainWindow(120000);
    ASSERT_NE(main, nullptr);
    HWND browser = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (browser = FindDescendant(main, "TBrowseForm")) != nullptr; }, 120000))
        << "no browser window";
    EXPECT_TRUE(WaitUntil([&] { return WindowText(browser) == "Browsing - ov-e2e-browse.opr"; }))
        << WindowText(browser);

    HWND list = FindListView(browser);
    ASSERT_NE(list, nullptr);
    // The comment entry is not a row.
    ASSERT_TRUE(WaitUntil([&] { return SendMessageA(list, LVM_GETITEMCOUNT, 0, 0) == 2; }))
        << SendMessageA(list, LVM_GETITEMCOUNT, 0, 0) << " rows";

    // The first row (sorted by title: "Left Part") shows its text and its preview.
    // A click into the list gives it the focus; Home selects the first row.
    auto listFocused = [&] {
        GUITHREADINFO info{};
        info.cbSize = sizeof(info);
        return GetGUIThreadInfo(GetWindowThreadProcessId(list, nullptr), &info) && info.hwndFocus == list;
    };
    for (int attempt = 0; attempt < 5 && !listFocused(); ++attempt) {
        ASSERT_TRUE(ClickChild(main, list, POINT{60, 28}));
        WaitUntil(listFocused, 10000);
    }
    ASSERT_TRUE(listFocused()) << "the list never got the focus";
    ASSERT_TRUE(PressKeys(main, {VK_END}));
    ASSERT_TRUE(PressKeys(main, {VK_HOME}));
    HWND memo = FindDescendant(browser, "TMemo");
    ASSERT_NE(memo, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return WindowText(memo).rfind("Left {", 0) == 0; }, 60000))
        << "entry text: " << WindowText(memo);
    HWND preview = FindDescendant(browser, "TBrowsePreview");
    ASSERT_NE(preview, nullptr);
    const RECT area = ClientScreenRect(preview);
    std::size_t colours = 0;
    EXPECT_TRUE(WaitUntil(
        [&] {
            const TImage picture = CropImage(CaptureScreen(), area);
            std::set<std::uint32_t> seen;
            for (int y = 0; y < picture.Height; ++y)
                for (int x = 0; x < picture.Width; ++x)
                    seen.insert(picture.Pixel(x, y));
            colours = seen.size();
            // The button face alone, or with the "Loading..." caption, has few colours; a
            // Mandelbrot picture with its gradient has many.
            return colours > 8;
        },
        180000))
        << "the preview shows " << colours << " colours";
    EXPECT_EQ(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0), 2) << "the rows stay while an entry is shown";
    EXPECT_TRUE(SaveScreenshot("browser").has_value());

    // Enter opens the selected parameter set in a fractal window.
    ASSERT_TRUE(PressKeys(main, {VK_RETURN}));
    HWND fractal = nullptr;
    EXPECT_TRUE(
        WaitUntil([&] { return (fractal = FindDescendant(main, "TFractalForm")) != nullptr; }, 120000))
        << "no fractal window";
    // The window stands before its caption is set: wait for the caption.
    if (fractal)
        EXPECT_TRUE(WaitUntil([&] { return WindowText(fractal).find("Left Part") != std::string::npos; }))
            << WindowText(fractal);

    DWORD exitCode = 1;
    EXPECT_TRUE(program.Close(&exitCode, main));
    DeleteFileA(file.c_str());
}

} // namespace
