// The fractal window's commands as a user meets them, in one start of the program: Ctrl+E exports
// a BMP file through the export dialog that holds exactly the headless picture; Ctrl+C puts the
// parameters and a 24-bit bitmap at 300 dpi on the clipboard; Ctrl+D duplicates the window with
// the same parameters; Ctrl+] cycles the colours until a key is pressed; Ctrl+F shows the fractal
// on a black screen until Esc or a click on the black area; the right button opens the popup menu.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "E2EDriver.h"
#include "tests/shell/E2EFractalSupport.h"

namespace {

using namespace e2e;

std::string TempPath(const std::string &Name) {
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    return std::string(folder) + Name;
}

std::uint32_t ReadLittle(const std::vector<std::uint8_t> &Data, std::size_t At, int Bytes) {
    std::uint32_t value = 0;
    for (int i = Bytes - 1; i >= 0; --i)
        value = value << 8 | Data.at(At + i);
    return value;
}

// A picture read from a device-independent bitmap (BITMAPINFOHEADER at Offset, pixels at Bits),
// as 0xRRGGBB values top row first; 24-bit and 32-bit uncompressed only.
struct TReadPicture {
    int Width = 0, Height = 0, BitCount = 0;
    std::int32_t PelsPerMetreX = 0, PelsPerMetreY = 0;
    std::vector<std::uint32_t> Pixels;
};

TReadPicture ReadDib(const std::vector<std::uint8_t> &Data, std::size_t Offset, std::size_t Bits) {
    TReadPicture picture;
    picture.Width = static_cast<std::int32_t>(ReadLittle(Data, Offset + 4, 4));
    const std::int32_t height = static_cast<std::int32_t>(ReadLittle(Data, Offset + 8, 4));
    picture.BitCount = static_cast<int>(ReadLittle(Data, Offset + 14, 2));
    picture.PelsPerMetreX = static_cast<std::int32_t>(ReadLittle(Data, Offset + 24, 4));
    picture.PelsPerMetreY = static_cast<std::int32_t>(ReadLittle(Data, Offset + 28, 4));
    picture.Height = height < 0 ? -height : height;
    if (ReadLittle(Data, Offset + 16, 4) != 0 || (picture.BitCount != 24 && picture.BitCount != 32))
        return picture;
    const int bytes = picture.BitCount / 8;
    const std::size_t stride = (static_cast<std::size_t>(picture.Width) * bytes + 3) / 4 * 4;
    if (Data.size() < Bits + stride * picture.Height)
        return picture;
    for (int y = 0; y < picture.Height; ++y) {
        const int row = height > 0 ? picture.Height - 1 - y : y;
        const std::uint8_t *p = Data.data() + Bits + stride * row;
        for (int x = 0; x < picture.Width; ++x, p += bytes)
            picture.Pixels.push_back(std::uint32_t(p[2]) << 16 | std::uint32_t(p[1]) << 8 | p[0]);
    }
    return picture;
}

std::vector<std::uint8_t> ReadFileBytes(const std::string &Path) {
    std::ifstream in(Path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The clipboard's text and device-independent bitmap (empty when absent).
struct TClipboardContent {
    std::string Text;
    std::vector<std::uint8_t> Dib;
};

TClipboardContent ReadClipboard() {
    TClipboardContent content;
    if (!WaitUntil([] { return OpenClipboard(nullptr) != FALSE; }, 10000))
        return content;
    if (HANDLE text = GetClipboardData(CF_TEXT)) {
        if (const char *p = static_cast<const char *>(GlobalLock(text))) {
            content.Text = p;
            GlobalUnlock(text);
        }
    }
    if (HANDLE dib = GetClipboardData(CF_DIB)) {
        if (const auto *p = static_cast<const std::uint8_t *>(GlobalLock(dib))) {
            content.Dib.assign(p, p + GlobalSize(dib));
            GlobalUnlock(dib);
        }
    }
    CloseClipboard();
    return content;
}

void EmptyTheClipboard() {
    if (WaitUntil([] { return OpenClipboard(nullptr) != FALSE; }, 10000)) {
        EmptyClipboard();
        CloseClipboard();
    }
}

bool ClipboardHasText() {
    return IsClipboardFormatAvailable(CF_TEXT) != FALSE;
}

// The pixels that differ between a read picture and the headless one (the first described).
testing::AssertionResult SamePixels(const THeadlessPicture &Expected, const TReadPicture &Read) {
    if (Read.Width != Expected.Width || Read.Height != Expected.Height ||
        Read.Pixels.size() != Expected.Pixels.size())
        return testing::AssertionFailure() << "size " << Read.Width << " x " << Read.Height << " with "
                                           << Read.Pixels.size() << " pixels read";
    for (std::size_t i = 0; i < Read.Pixels.size(); ++i)
        if (Read.Pixels[i] != Expected.Pixels[i]) {
            char text[96];
            std::snprintf(text, sizeof(text), "(%d, %d): %06X read, %06X headless",
                          static_cast<int>(i % Read.Width), static_cast<int>(i / Read.Width), Read.Pixels[i],
                          Expected.Pixels[i]);
            return testing::AssertionFailure() << text;
        }
    return testing::AssertionSuccess();
}

// The parameter entry without its header line and title: what two copies of a fractal share.
std::string WithoutNames(std::string Text) {
    const std::size_t header = Text.find('\n');
    Text.erase(0, header == std::string::npos ? Text.size() : header + 1);
    const std::size_t title = Text.find("title=");
    if (title != std::string::npos)
        Text.erase(title, Text.find('\n', title) - title);
    return Text;
}

TImage Shown(HWND Window) {
    return CropImage(CaptureScreen(), ClientScreenRect(Window));
}

// Types a name into a save dialog and confirms it.
bool ChooseFileName(HWND Dialog, const std::string &FileName) {
    HWND name = GetDlgItem(Dialog, 0x47c); // the file name box of the common dialog
    if (!name)
        name = GetDlgItem(Dialog, 0x480);
    if (!name)
        return false;
    SendMessageA(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(FileName.c_str()));
    return PressButton(Dialog, "Save");
}

TEST(E2EFractalCommandsTest, ExportCopyDuplicateCyclingAndFullScreen) {
    const std::string file = WriteDefaultFile();
    ASSERT_FALSE(file.empty());
    const std::string exported = TempPath("ov-e2e-export.bmp");
    DeleteFileA(exported.c_str());
    ASSERT_TRUE(WriteProgramInteger("General", "StartupAction", 3));
    ASSERT_TRUE(WriteProgramInteger("General", "ExportFormat", 0));
    ASSERT_TRUE(WriteProgramString("Fractal", "DefaultFile", file));
    ASSERT_TRUE(WriteProgramString("Fractal", "DefaultEntry", "Small"));
    EmptyTheClipboard();
    const THeadlessPicture expected = RenderHeadless(file, "Small");
    ASSERT_TRUE(expected.Direct) << "the headless display is not a 32-bit bitmap";

    TProgramProcess program;
    ASSERT_TRUE(program.Started());
    HWND main = program.WaitForWindow("TMainForm", "", 60000);
    ASSERT_NE(nullptr, main);
    HWND window = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (window = FindDescendant(main, "TFractalForm", "")) != nullptr; }));
    HWND statusBar = FindDescendant(main, "TTaskStatusBar", "");
    ASSERT_NE(nullptr, statusBar);
    ASSERT_TRUE(WaitForStatus(statusBar, " Completed", 300000));
    ASSERT_TRUE(program.WaitForIdle());
    HWND display = FindDescendant(window, "TFractalDisplay", "");
    ASSERT_NE(nullptr, display);

    // The window's menus are in the main window's bar.
    const auto exportItem = program.FindMenuItem(main, {"File", "Export Image..."});
    ASSERT_TRUE(exportItem.has_value());
    EXPECT_TRUE(exportItem->Enabled);
    EXPECT_EQ("Ctrl+E", exportItem->ShortCut);

    // Ctrl+E: the export dialog starts on BMP; the file holds the headless picture exactly.
    ASSERT_TRUE(PressKeys(main, {VK_CONTROL, 'E'}));
    HWND dialog = program.WaitForDialog("Export Image");
    ASSERT_NE(nullptr, dialog);
    ASSERT_TRUE(ChooseFileName(dialog, exported));
    ASSERT_TRUE(program.WaitForNoDialog());
    ASSERT_TRUE(WaitUntil([&] { return GetFileAttributesA(exported.c_str()) != INVALID_FILE_ATTRIBUTES; }));
    ASSERT_TRUE(program.WaitForIdle());
    {
        const std::vector<std::uint8_t> bmp = ReadFileBytes(exported);
        ASSERT_GT(bmp.size(), 54u);
        ASSERT_EQ('B', bmp[0]);
        ASSERT_EQ('M', bmp[1]);
        const TReadPicture picture = ReadDib(bmp, 14, ReadLittle(bmp, 10, 4));
        EXPECT_TRUE(SamePixels(expected, picture)) << "the exported BMP";
    }

    // Ctrl+C: the parameters as a fractal entry and the image at 300 dpi (11811 pixels a metre).
    ASSERT_TRUE(PressKeys(main, {VK_CONTROL, 'C'}));
    ASSERT_TRUE(WaitUntil(ClipboardHasText));
    ASSERT_TRUE(program.WaitForIdle());
    const TClipboardContent copied = ReadClipboard();
    EXPECT_EQ(0u, copied.Text.find("SmallMandelbrot {")) << copied.Text;
    ASSERT_FALSE(copied.Dib.empty()) << "no bitmap on the clipboard";
    {
        EXPECT_EQ(40u, ReadLittle(copied.Dib, 0, 4));
        const TReadPicture picture = ReadDib(copied.Dib, 0, 40);
        EXPECT_EQ(24, picture.BitCount);
        EXPECT_EQ(11811, picture.PelsPerMetreX);
        EXPECT_EQ(11811, picture.PelsPerMetreY);
        EXPECT_TRUE(SamePixels(expected, picture)) << "the clipboard's bitmap";
    }

    // Ctrl+D: a second window, "Copy of" the title, with the same parameters (copied from it).
    ASSERT_TRUE(PressKeys(main, {VK_CONTROL, 'D'}));
    HWND copy = nullptr;
    ASSERT_TRUE(WaitUntil([&] {
        return (copy = FindDescendant(main, "TFractalForm", "Copy of Small Mandelbrot")) != nullptr;
    }));
    ASSERT_TRUE(program.WaitForIdle());
    EmptyTheClipboard();
    ASSERT_TRUE(PressKeys(main, {VK_CONTROL, 'C'}));
    ASSERT_TRUE(WaitUntil(ClipboardHasText));
    ASSERT_TRUE(program.WaitForIdle());
    const TClipboardContent duplicated = ReadClipboard();
    EXPECT_EQ(0u, duplicated.Text.find("CopyOfSmallMandelbrot {")) << duplicated.Text;
    EXPECT_EQ(WithoutNames(copied.Text), WithoutNames(duplicated.Text));
    HWND copyDisplay = FindDescendant(copy, "TFractalDisplay", "");
    ASSERT_NE(nullptr, copyDisplay);

    // Popup menu on a right click; a screenshot of it.
    const RECT area = ClientScreenRect(copyDisplay);
    ASSERT_TRUE(
        ClickAt(copyDisplay, POINT{(area.right - area.left) / 2, (area.bottom - area.top) / 2}, true));
    EXPECT_TRUE(WaitUntil([&] { return program.FindWindow("#32768") != nullptr; }, 20000)) << "no popup menu";
    EXPECT_TRUE(SaveScreenshot("fractal-window-popup").has_value());
    ASSERT_TRUE(PressKeys(main, {VK_ESCAPE}));
    EXPECT_TRUE(WaitUntil([&] { return program.FindWindow("#32768") == nullptr; }, 20000));
    ASSERT_TRUE(program.WaitForIdle());

    // Ctrl+]: the colours change at every look until a key is pressed, then they stay.
    const TImage before = Shown(copyDisplay);
    ASSERT_TRUE(PressKeys(main, {VK_CONTROL, VK_OEM_6}));
    TImage last = before;
    for (int look = 0; look < 3; ++look) {
        TImage now;
        EXPECT_TRUE(WaitUntil([&] { return (now = Shown(copyDisplay)).Rgb != last.Rgb; }, 20000))
            << "the colours did not change at look " << look;
        last = now;
    }
    ASSERT_TRUE(PressKeys(main, {VK_SHIFT}));
    ASSERT_TRUE(program.WaitForIdle());
    const TImage stopped = CropImage(CaptureSettledScreen(), ClientScreenRect(copyDisplay));
    ASSERT_TRUE(program.WaitForIdle());
    EXPECT_TRUE(stopped.Rgb == Shown(copyDisplay).Rgb) << "cycling went on after the key";

    // The Color Cycling tool window is captioned after the active fractal; Shift+F6 toggles it
    // and leaves the mouse mode alone.
    HWND tool = nullptr;
    EXPECT_TRUE(
        WaitUntil([&] { return (tool = FindDescendant(main, "TCyclingToolForm", "")) != nullptr; }, 30000))
        << "no Color Cycling tool window";
    if (tool)
        EXPECT_EQ("Color Cycling - Copy of Small Mandelbrot", WindowText(tool));
    if (!IsVisibleWindow(tool))
        ASSERT_TRUE(PressKeys(main, {VK_SHIFT, VK_F6}));
    ASSERT_TRUE(program.WaitForIdle());
    EXPECT_TRUE(SaveScreenshot("color-cycling-tool").has_value());
    EXPECT_TRUE(WaitForStatus(statusBar, " Completed")) << "Shift+F6 changed the mouse mode";

    // Ctrl+F: the image on a black screen; Esc returns, and so does a click on the black area.
    ASSERT_TRUE(BringToForeground(main));
    ASSERT_TRUE(PressKeys(main, {VK_CONTROL, 'F'}));
    HWND full = program.WaitForWindow("TFullScreenForm", "Orbisk Vantel", 30000);
    ASSERT_NE(nullptr, full);
    ASSERT_TRUE(program.WaitForIdle());
    const TImage screen = CaptureSettledScreen();
    EXPECT_TRUE(SaveScreenshot("full-screen").has_value());
    const RECT fullRect = WindowRect(full);
    EXPECT_EQ(0, fullRect.left);
    EXPECT_EQ(0, fullRect.top);
    EXPECT_EQ(screen.Width, fullRect.right);
    EXPECT_EQ(screen.Height, fullRect.bottom);
    EXPECT_EQ(0u, screen.Pixel(2, 2));
    EXPECT_EQ(0u, screen.Pixel(screen.Width - 3, screen.Height - 3));
    HWND fullDisplay = FindDescendant(full, "TFractalDisplay", "");
    ASSERT_NE(nullptr, fullDisplay);
    const RECT shownAt = ClientScreenRect(fullDisplay);
    EXPECT_EQ((screen.Width - expected.Width) / 2, shownAt.left);
    EXPECT_EQ((screen.Height - expected.Height) / 2, shownAt.top);
    EXPECT_EQ(expected.Width, shownAt.right - shownAt.left);
    ASSERT_TRUE(PressKeys(full, {VK_ESCAPE}));
    EXPECT_TRUE(WaitUntil([&] { return !IsWindowVisible(full); }, 30000)) << "Esc did not leave full screen";
    ASSERT_TRUE(program.WaitForIdle());
    ASSERT_TRUE(PressKeys(main, {VK_CONTROL, 'F'}));
    full = program.WaitForWindow("TFullScreenForm", "Orbisk Vantel", 30000);
    ASSERT_NE(nullptr, full);
    ASSERT_TRUE(program.WaitForIdle());
    ASSERT_TRUE(ClickAt(full, POINT{5, 5}));
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(full) || !IsWindowVisible(full); }, 30000))
        << "a click on the black area did not leave full screen";

    // The changed copy asks to be saved: not this time.
    PostMessageA(main, WM_CLOSE, 0, 0);
    for (int question = 0; question < 2 && program.Running(); ++question)
        if (HWND box = program.WaitForWindow("TMessageForm", "", 15000)) {
            EXPECT_TRUE(PressButton(box, "No"));
            WaitUntil([&] { return !IsWindow(box) || !IsVisibleWindow(box); }, 20000);
        }
    EXPECT_TRUE(program.WaitForExit().has_value());
    EXPECT_TRUE(WriteProgramInteger("General", "StartupAction", 0));
    DeleteFileA(file.c_str());
    DeleteFileA(exported.c_str());
}

} // namespace
