// The main window's client window (wallpaper, scrolling), the messages it hands to its document
// and tool windows, and the details of its layout.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "FormDocument.h"
#include "FormMain.h"
#include "FormMainTestSupport.h"
#include "GenProgram.h"
#include "GenRegistry.h"
#include "GenSetup.h"
#include "GenUtils.h"
#include "StdCtrls.h"
#include "tests/WindowTestSupport.h"

using window_test::PumpPending;

namespace {

// The colour of pixel (X, Y) of the test pictures: red and green the low bytes of X and Y,
// blue their high bits, so that every pixel of a picture up to 4096 wide names its position.
TColor PicturePixel(int X, int Y) {
    const int blue = ((X >> 8) & 0x0F) | (((Y >> 8) & 0x0F) << 4);
    return static_cast<TColor>((X & 0xFF) | ((Y & 0xFF) << 8) | (blue << 16));
}

// Writes a 24-bit bottom-up .bmp file of the test picture.
void WritePicture(const std::string &FileName, int Width, int Height) {
    const int stride = (Width * 3 + 3) & ~3;
    std::vector<uint8_t> file(54 + stride * Height, 0);
    auto put = [&](size_t Offset, uint32_t Value, int Bytes) {
        for (int i = 0; i < Bytes; ++i)
            file[Offset + i] = static_cast<uint8_t>(Value >> (8 * i));
    };
    file[0] = 'B';
    file[1] = 'M';
    put(2, static_cast<uint32_t>(file.size()), 4);
    put(10, 54, 4);
    put(14, 40, 4);
    put(18, Width, 4);
    put(22, Height, 4);
    put(26, 1, 2);
    put(28, 24, 2);
    for (int y = 0; y < Height; ++y)
        for (int x = 0; x < Width; ++x) {
            const TColor c = PicturePixel(x, y);
            uint8_t *p = &file[54 + (Height - 1 - y) * stride + 3 * x];
            p[0] = static_cast<uint8_t>(c >> 16);
            p[1] = static_cast<uint8_t>(c >> 8);
            p[2] = static_cast<uint8_t>(c);
        }
    std::ofstream(FileName, std::ios::binary).write(reinterpret_cast<const char *>(file.data()), file.size());
}

std::string TempFile(const std::string &Name) {
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    return std::string(folder) + "ov_" + std::to_string(GetCurrentProcessId()) + "_" + Name;
}

// A document window that records the messages the main window hands it and answers the palette
// query with its own value.
class TRecordingDocument : public TDocumentForm {
public:
    explicit TRecordingDocument(LRESULT PaletteAnswer)
        : TDocumentForm(nullptr), PaletteAnswer(PaletteAnswer) {}
    TWinControl *GetToolBar() override { return nullptr; }
    void WndProc(TMessage &Message) override {
        switch (Message.Msg) {
        case WM_ENTERMENULOOP:
        case WM_EXITMENULOOP:
        case WM_PALETTECHANGED:
            Received.push_back(Message);
            break;
        case WM_QUERYNEWPALETTE:
            Received.push_back(Message);
            Message.Result = PaletteAnswer;
            return;
        default:
            break;
        }
        TDocumentForm::WndProc(Message);
    }
    LRESULT PaletteAnswer;
    std::vector<TMessage> Received;
};

class MainFormDetailsTest : public MainWindowTest {
protected:
    void TearDown() override {
        MainWindowTest::TearDown();
        for (const std::string &name : Files)
            DeleteFileA(name.c_str());
    }
    std::string Picture(const std::string &Name, int Width, int Height) {
        Files.push_back(TempFile(Name));
        WritePicture(Files.back(), Width, Height);
        return Files.back();
    }
    SIZE ClientSize() {
        RECT r;
        GetClientRect(Form->ClientHandle(), &r);
        return {r.right, r.bottom};
    }
    // Erases the client window's background into a bitmap of its size.
    std::unique_ptr<TBitmap> EraseClient(LRESULT *Result = nullptr) {
        const SIZE size = ClientSize();
        auto bitmap = std::make_unique<TBitmap>(size.cx, size.cy, pf24bit);
        bitmap->Canvas().Brush().SetColor(clBlack);
        bitmap->Canvas().FillRect({0, 0, size.cx, size.cy});
        LRESULT result = SendMessageA(Form->ClientHandle(), WM_ERASEBKGND,
                                      reinterpret_cast<WPARAM>(bitmap->Canvas().Handle()), 0);
        if (Result)
            *Result = result;
        return bitmap;
    }
    std::vector<std::string> Files;
};

} // namespace

TEST_F(MainFormDetailsTest, ClientWindowHasAnEdgeAndStaysBehindTheBars) {
    HWND client = Form->ClientHandle();
    ASSERT_TRUE(client);
    EXPECT_TRUE(GetWindowLongA(client, GWL_EXSTYLE) & WS_EX_CLIENTEDGE);
    EXPECT_EQ(GetWindow(client, GW_HWNDLAST), client);
    Form->StatusBarItem->Click();
    Form->StatusBarItem->Click();
    EXPECT_EQ(GetWindow(client, GW_HWNDLAST), client);
}

// Tiles start at the client's origin and repeat with the picture's size.
TEST_F(MainFormDetailsTest, TiledWallpaperRepeatsFromTheOrigin) {
    if (GetScreenColorDepth() < 15)
        GTEST_SKIP() << "the wallpaper needs at least 15 bits of colour";
    const int width = 37, height = 23;
    Form->SetWallpaperFile(Picture("tile.bmp", width, height));
    EXPECT_EQ(Form->Wallpaper(), nullptr); // mode still off
    Form->SetWallpaperMode(wmTile);
    ASSERT_NE(Form->Wallpaper(), nullptr);
    LRESULT result = 0;
    auto painted = EraseClient(&result);
    EXPECT_EQ(result, 1);
    const SIZE size = ClientSize();
    int mismatches = 0;
    for (int y = 0; y < size.cy; y += 3)
        for (int x = 0; x < size.cx; x += 3)
            if (painted->Canvas().Pixels(x, y) != PicturePixel(x % width, y % height) && ++mismatches < 5)
                ADD_FAILURE() << x << "," << y;
    EXPECT_EQ(mismatches, 0);
}

// Centred: x = (w - width) div 2 toward zero. A picture larger than the window starts left of
// and above it (clipped), and no band is painted over it.
TEST_F(MainFormDetailsTest, CentredWallpaperLargerThanTheClientIsClipped) {
    if (GetScreenColorDepth() < 15)
        GTEST_SKIP() << "the wallpaper needs at least 15 bits of colour";
    const SIZE size = ClientSize();
    const int width = size.cx + 201, height = size.cy + 151;
    Form->SetWallpaperMode(wmCentre);
    Form->SetWallpaperFile(Picture("large.bmp", width, height));
    ASSERT_NE(Form->Wallpaper(), nullptr);
    auto painted = EraseClient();
    // (w - (w + 201)) / 2 = -100, not -101; likewise -75.
    int mismatches = 0;
    for (int y = 0; y < size.cy; y += 3)
        for (int x = 0; x < size.cx; x += 3)
            if (painted->Canvas().Pixels(x, y) != PicturePixel(x + 100, y + 75) && ++mismatches < 5)
                ADD_FAILURE() << x << "," << y;
    EXPECT_EQ(mismatches, 0);
}

TEST_F(MainFormDetailsTest, CentredWallpaperSmallerThanTheClientHasBandsInTheWindowColour) {
    if (GetScreenColorDepth() < 15)
        GTEST_SKIP() << "the wallpaper needs at least 15 bits of colour";
    const int width = 41, height = 27;
    Form->SetWallpaperMode(wmCentre);
    Form->SetWallpaperFile(Picture("small.bmp", width, height));
    auto painted = EraseClient();
    const SIZE size = ClientSize();
    const int left = (size.cx - width) / 2, top = (size.cy - height) / 2;
    const TColor band = static_cast<TColor>(ColorToRGB(Form->Color()));
    for (POINT p : {POINT{0, 0}, POINT{size.cx - 1, size.cy - 1}, POINT{left - 1, top + 5},
                    POINT{left + width, top + 5}, POINT{left + 5, top - 1}, POINT{left + 5, top + height}})
        EXPECT_EQ(painted->Canvas().Pixels(p.x, p.y), band) << p.x << "," << p.y;
    for (POINT p : {POINT{0, 0}, POINT{width - 1, height - 1}, POINT{20, 13}})
        EXPECT_EQ(painted->Canvas().Pixels(left + p.x, top + p.y), PicturePixel(p.x, p.y))
            << p.x << "," << p.y;
}

// A file that is no picture, or none at all, leaves the workspace plain and raises nothing.
TEST_F(MainFormDetailsTest, WallpaperThatCannotBeLoadedShowsNothing) {
    Files.push_back(TempFile("text.bmp"));
    std::ofstream(Files.back()) << "not a bitmap";
    Form->SetWallpaperMode(wmTile);
    for (const std::string &name : {Files.back(), TempFile("missing.bmp"), std::string("")}) {
        Form->SetWallpaperFile(name);
        EXPECT_EQ(Form->Wallpaper(), nullptr) << name;
        LRESULT result = 0;
        EraseClient(&result);
        EXPECT_EQ(result, 1) << name; // the client window's own erasing
    }
}

// Scrolling moves the documents, not the wallpaper: the whole client is painted again.
TEST_F(MainFormDetailsTest, ScrollingInvalidatesTheWholeClient) {
    HWND client = Form->ClientHandle();
    for (UINT message : {WM_HSCROLL, WM_VSCROLL}) {
        ValidateRect(client, nullptr);
        RECT update = {};
        ASSERT_FALSE(GetUpdateRect(client, &update, FALSE));
        SendMessageA(client, message, SB_ENDSCROLL, 0);
        ASSERT_TRUE(GetUpdateRect(client, &update, FALSE)) << message;
        RECT whole;
        GetClientRect(client, &whole);
        EXPECT_TRUE(EqualRect(&update, &whole)) << message;
    }
}

TEST_F(MainFormDetailsTest, MenuLoopAndPaletteMessagesReachEveryDocument) {
    auto *first = new TRecordingDocument(0);
    auto *second = new TRecordingDocument(7);
    auto *third = new TRecordingDocument(9);
    PumpPending();
    std::vector<TRecordingDocument *> documents = {first, second, third};
    for (auto *document : documents)
        document->Received.clear();
    Form->Perform(WM_ENTERMENULOOP, 0, 0);
    Form->Perform(WM_PALETTECHANGED, 1234, 77);
    for (auto *document : documents) {
        ASSERT_EQ(document->Received.size(), 2u);
        EXPECT_EQ(document->Received[0].Msg, static_cast<UINT>(WM_ENTERMENULOOP));
        EXPECT_EQ(document->Received[1].Msg, static_cast<UINT>(WM_PALETTECHANGED));
        EXPECT_EQ(document->Received[1].WParam, 1234u);
        EXPECT_EQ(document->Received[1].LParam, 0);
        document->Received.clear();
    }
    // The palette query stops at the first document that answers.
    std::vector<LRESULT> answers;
    for (int i = 0; i < Form->MDIChildCount(); ++i)
        answers.push_back(static_cast<TRecordingDocument *>(Form->MDIChildren(i))->PaletteAnswer);
    const LRESULT expected = answers[0] ? answers[0] : answers[1] ? answers[1] : answers[2];
    EXPECT_EQ(Form->Perform(WM_QUERYNEWPALETTE), expected);
    int asked = 0;
    for (auto *document : documents)
        asked += static_cast<int>(document->Received.size());
    EXPECT_EQ(asked, answers[0] ? 1 : 2);
    for (auto *document : documents)
        delete document;
    PumpPending();
    EXPECT_EQ(Form->Perform(WM_QUERYNEWPALETTE), 0);
}

// Alt+letter belongs to the tool window that has the focus, even when an earlier tool window
// has a control with the same accelerator.
TEST_F(MainFormDetailsTest, DialogCharactersGoToTheFormWithTheFocus) {
    std::vector<TCheckBox *> boxes;
    for (int i = 0; i < 2; ++i) {
        TToolForm *tool = Form->DockBar->GetTool(i)->ToolForm();
        auto *box = new TCheckBox(tool);
        box->SetParent(tool);
        box->SetCaption("&Quick");
        box->SetBounds(4, 30, 80, 20);
        boxes.push_back(box);
    }
    auto *edit = new TEdit(Form->DockBar->GetTool(1)->ToolForm());
    edit->SetParent(Form->DockBar->GetTool(1)->ToolForm());
    edit->SetBounds(4, 4, 80, 22);
    PumpPending();
    edit->SetFocus();
    ASSERT_EQ(GetFocus(), edit->Handle());
    EXPECT_EQ(Form->Perform(CM_DIALOGCHAR, 'q', 0), 1);
    EXPECT_FALSE(boxes[0]->Checked());
    EXPECT_TRUE(boxes[1]->Checked());
    // Without a focused tool window the main window offers the key to all its controls.
    SetFocus(Form->StatusBar->Handle());
    Form->Perform(CM_DIALOGCHAR, 'q', 0);
    EXPECT_TRUE(boxes[0]->Checked());
}

TEST_F(MainFormDetailsTest, StatusBarUsesTheSystemsStatusFont) {
    NONCLIENTMETRICSA metrics = {};
    metrics.cbSize = offsetof(NONCLIENTMETRICSA, lfMessageFont) + sizeof(LOGFONTA);
    ASSERT_TRUE(SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, metrics.cbSize, &metrics, 0));
    EXPECT_EQ(Form->StatusBar->Font().Name(), metrics.lfStatusFont.lfFaceName);
    EXPECT_EQ(Form->StatusBar->Font().Height(), metrics.lfStatusFont.lfHeight);
    EXPECT_FALSE(Form->StatusBar->ParentFont());
}

// Before its first own resize a window that will be maximised lays out its bars for the work
// area when they resize; after it, for its client area.
TEST(MainFormLayout, BarsResizedBeforeTheFirstOwnResizeUseTheWorkArea) {
    TMainForm form(nullptr);
    EXPECT_TRUE(DiscardStartup(form));
    RECT work;
    ASSERT_TRUE(SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0));
    form.ToolBar->SetHeight(form.ToolBar->Height() + 2); // a bar resizes while the window is hidden
    EXPECT_EQ(form.DockBar->Left() + form.DockBar->Width(), work.right - work.left);
    EXPECT_EQ(form.StatusBar->Top() + form.StatusBar->Height(), work.bottom - work.top);
    form.ShowMainWindow();
    PumpPending();
    form.ToolBar->SetHeight(form.ToolBar->Height() - 2);
    const RECT client = form.ClientRect();
    EXPECT_EQ(form.DockBar->Left() + form.DockBar->Width(), client.right);
    EXPECT_EQ(form.StatusBar->Top() + form.StatusBar->Height(), client.bottom);
}

// A changed General section is read again: the wallpaper follows its file and mode.
TEST(MainFormConfiguration, ChangedSettingsReloadTheWallpaper) {
    if (GetScreenColorDepth() < 15)
        GTEST_SKIP() << "the wallpaper needs at least 15 bits of colour";
    const bool started = ConfigManager() == nullptr;
    if (started) {
        InitializeGenProgram();
        InitializeGenRegistry();
        InitializeGenSetup();
    }
    TGeneralConfiguration &general = *ConfigManager()->General;
    const std::string savedFile = general.WallpaperFile;
    const uint8_t savedMode = general.WallpaperMode;
    const std::string file = TempFile("config.bmp");
    WritePicture(file, 30, 20);
    {
        TMainForm form(nullptr);
        DiscardStartup(form);
        general.WallpaperFile = file;
        general.WallpaperMode = wmTile;
        ConfigManager()->Changed();
        ASSERT_NE(form.Wallpaper(), nullptr);
        EXPECT_EQ(form.Wallpaper()->Width(), 30);
        general.WallpaperMode = wmOff;
        ConfigManager()->Changed();
        EXPECT_EQ(form.Wallpaper(), nullptr);
        general.WallpaperMode = wmCentre;
        general.WallpaperFile = "";
        ConfigManager()->Changed();
        EXPECT_EQ(form.Wallpaper(), nullptr);
    }
    general.WallpaperFile = savedFile;
    general.WallpaperMode = savedMode;
    DeleteFileA(file.c_str());
    if (started) {
        FinalizeGenSetup();
        FinalizeGenRegistry();
        FinalizeGenProgram();
    }
}

namespace {

// The texts of the items of the pop-up menu at Position of a window's menu bar.
std::vector<std::string> SubMenuTexts(HWND Window, int Position) {
    std::vector<std::string> texts;
    HMENU sub = GetSubMenu(GetMenu(Window), Position);
    for (int i = 0; sub && i < GetMenuItemCount(sub); ++i) {
        char text[256] = {};
        GetMenuStringA(sub, i, text, sizeof(text), MF_BYPOSITION);
        texts.push_back(text);
    }
    return texts;
}

bool EndsWith(const std::string &Text, const std::string &End) {
    return Text.size() >= End.size() && Text.compare(Text.size() - End.size(), End.size(), End) == 0;
}

} // namespace

// The Window menu ends with the list of document windows, also after the menu was built again.
TEST_F(MainFormDetailsTest, WindowMenuListsTheDocumentWindows) {
    auto *first = new TRecordingDocument(0);
    first->SetCaption("First picture");
    auto *second = new TRecordingDocument(0);
    second->SetCaption("Second picture");
    PumpPending();
    const int windowMenu = 2; // File, Options, Window, Help
    auto listed = [&] {
        int found = 0;
        for (const std::string &text : SubMenuTexts(Form->Handle(), windowMenu))
            found |= (EndsWith(text, "First picture") ? 1 : 0) | (EndsWith(text, "Second picture") ? 2 : 0);
        return found;
    };
    EXPECT_EQ(listed(), 3);
    Form->ShowHintsItem->Click(); // a check mark: the menu is built again
    PumpPending();
    EXPECT_EQ(listed(), 3);
    Form->ShowHintsItem->Click();
    // Choosing a window's item activates it.
    ASSERT_EQ(Form->ActiveMDIChild(), second);
    HMENU list = GetSubMenu(GetMenu(Form->Handle()), windowMenu);
    UINT command = 0;
    for (int i = 0; i < GetMenuItemCount(list); ++i) {
        char text[256] = {};
        GetMenuStringA(list, i, text, sizeof(text), MF_BYPOSITION);
        if (EndsWith(text, "First picture"))
            command = GetMenuItemID(list, i);
    }
    ASSERT_NE(command, 0u);
    Form->Perform(WM_COMMAND, command, 0);
    PumpPending();
    EXPECT_EQ(Form->ActiveMDIChild(), first);
    delete second;
    PumpPending();
    EXPECT_EQ(listed(), 1);
    delete first;
    PumpPending();
    EXPECT_EQ(listed(), 0);
}
