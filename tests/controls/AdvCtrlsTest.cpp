// The control set: colour routines, pattern bitmaps and frames, the colour box, the speed
// button's drop-down menu and hot tracking, clipboard hooks, help routing and the enhanced
// standard controls.
#include <windows.h>

#include <richedit.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "../WindowTestSupport.h"
#include "AdvCtrls.h"

using namespace window_test;

namespace {

class ControlsEnvironment : public FormsEnvironment {
public:
    void TearDown() override {
        FinalizeAdvCtrls();
        FormsEnvironment::TearDown();
    }
};

const auto *const Environment = testing::AddGlobalTestEnvironment(new ControlsEnvironment);

struct Counter {
    int Count = 0;
    void Notify(TObject *) { ++Count; }
};

TEST(BlendColorTest, ChannelsMixByAlpha) {
    struct Case {
        TColor C1, C2;
        int Alpha;
        TColor Expected;
    } cases[] = {
        {clRed, clWhite, 255, clRed},
        {clRed, clWhite, 0, clWhite},
        {0x000000, 0xFFFFFF, 128, 0x7F7F7F},
        {0x102030, 0x405060, 51, 0x364656}, // worked out in Python per channel
    };
    for (const Case &c : cases)
        EXPECT_EQ(BlendColor(c.C1, c.C2, c.Alpha), c.Expected)
            << std::hex << c.C1 << " " << c.C2 << " " << c.Alpha;
    // System colours take their present values.
    EXPECT_EQ(static_cast<COLORREF>(BlendColor(clBtnFace, clBlack, 255)), GetSysColor(COLOR_BTNFACE));
    EXPECT_EQ(BlendColor128(0x000000, 0xFFFFFF, 64), 0x7F7F7F);
    EXPECT_EQ(BlendColor128(0x808080, 0x000000, 0), 0x808080);
    EXPECT_EQ(BlendColor128(0x808080, 0x000000, 128), 0x000000);
}

TEST(PatternBitmapTest, SecondColourExactlyWhereXPlusYIsOdd) {
    auto bitmap = CreatePatternBitmap(0x123456, 0xABCDEF);
    ASSERT_EQ(bitmap->Width(), 8);
    ASSERT_EQ(bitmap->Height(), 8);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            EXPECT_EQ(PixelAt(*bitmap, x, y), (x + y) % 2 ? 0xABCDEFu : 0x123456u) << x << "," << y;
}

TEST(PatternFrameTest, BarsCoverTheFrameAndNothingElse) {
    TBitmap image(20, 16, pf24bit);
    for (bool invert : {false, true}) {
        image.Canvas().Brush().SetColor(clWhite);
        image.Canvas().FillRect(Rect(0, 0, 20, 16));
        DrawPatternFrame(image.Canvas(), Rect(2, 2, 18, 14), 2, invert);
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 20; ++x) {
                bool inFrame = x >= 2 && x < 18 && y >= 2 && y < 14 && (x < 4 || x >= 16 || y < 4 || y >= 12);
                COLORREF pixel = PixelAt(image, x, y);
                if (!inFrame)
                    EXPECT_EQ(pixel, 0xFFFFFFu) << x << "," << y;
                else if (!invert)
                    EXPECT_EQ(pixel, 0u) << x << "," << y;
                else // white inverted by a black and white checker: black where the pattern is white
                    EXPECT_TRUE(pixel == 0u || pixel == 0xFFFFFFu) << x << "," << y;
            }
        if (invert) {
            // Neighbours in the bar differ: a checker, not a solid bar.
            EXPECT_NE(PixelAt(image, 5, 2), PixelAt(image, 6, 2));
        }
    }
}

TEST(DisabledGlyphTest, TransparentBecomesFaceAndGreysBlend) {
    TBitmap glyph(4, 2, pf24bit);
    HDC dc = glyph.Canvas().Handle();
    SetPixelV(dc, 0, 1, RGB(255, 0, 255)); // the transparent colour: bottom-left
    SetPixelV(dc, 1, 1, RGB(255, 0, 255));
    SetPixelV(dc, 0, 0, RGB(0, 0, 0));
    SetPixelV(dc, 1, 0, RGB(255, 255, 255));
    SetPixelV(dc, 2, 0, RGB(60, 60, 60));
    SetPixelV(dc, 3, 0, RGB(200, 200, 200));
    auto disabled = CreateDisabledGlyph(glyph);
    TColor shadow = static_cast<TColor>(GetSysColor(COLOR_BTNSHADOW));
    TColor face = static_cast<TColor>(GetSysColor(COLOR_BTNFACE));
    TColor highlight = static_cast<TColor>(GetSysColor(COLOR_BTNHIGHLIGHT));
    EXPECT_EQ(PixelAt(*disabled, 0, 1), static_cast<COLORREF>(face));
    EXPECT_EQ(PixelAt(*disabled, 0, 0), static_cast<COLORREF>(shadow));
    EXPECT_EQ(PixelAt(*disabled, 1, 0), static_cast<COLORREF>(BlendColor128(face, highlight, 127)));
    EXPECT_EQ(PixelAt(*disabled, 2, 0), static_cast<COLORREF>(BlendColor128(shadow, face, 60)));
    EXPECT_EQ(PixelAt(*disabled, 3, 0), static_cast<COLORREF>(BlendColor128(face, highlight, 72)));
}

class ColorBoxTest : public HostFormTest {
protected:
    TAdvColorBox *MakeBox(int Width, int Height) {
        auto *box = new TAdvColorBox(Form);
        box->SetParent(Form);
        box->SetBounds(10, 10, Width, Height);
        return box;
    }
};

TEST_F(ColorBoxTest, OpacityZeroShowsThePlainCheckerWhateverTheColour) {
    TAdvColorBox *box = MakeBox(44, 44);
    box->SetCheckerSize(8);
    box->SetOpacity(0);
    TBitmap image;
    for (TColor color : {clRed, clBlue, clBlack, 0x336699}) {
        box->SetColor(color);
        PaintControl(*box, image);
        // Inner area from (2, 2): square (i, j) is silver when i + j is odd, white otherwise.
        for (int j = 0; j < 5; ++j)
            for (int i = 0; i < 5; ++i)
                EXPECT_EQ(PixelAt(image, 2 + i * 8 + 3, 2 + j * 8 + 3), (i + j) % 2 ? 0xC0C0C0u : 0xFFFFFFu)
                    << std::hex << color << " square " << i << "," << j;
        // The last column and row are cut at the edge of the inner area.
        EXPECT_EQ(PixelAt(image, 41, 41), (5 + 4 + 1) % 2 ? 0xC0C0C0u : 0xFFFFFFu);
        // The sunken border.
        EXPECT_EQ(PixelAt(image, 0, 0), GetSysColor(COLOR_BTNSHADOW));
        EXPECT_EQ(PixelAt(image, 43, 43), GetSysColor(COLOR_BTNHIGHLIGHT));
        EXPECT_EQ(PixelAt(image, 1, 1), GetSysColor(COLOR_3DDKSHADOW));
    }
}

TEST_F(ColorBoxTest, OpaqueLargeCheckerDualViewAndDisabled) {
    TAdvColorBox *box = MakeBox(40, 30);
    box->SetColor(0x3060A0);
    TBitmap image;
    PaintControl(*box, image); // opacity 255: both squares are the colour
    EXPECT_EQ(PixelAt(image, 5, 5), 0x3060A0u);
    EXPECT_EQ(PixelAt(image, 37, 27), 0x3060A0u);

    box->SetOpacity(128);
    box->SetCheckerSize(100); // larger than the box: one light square
    PaintControl(*box, image);
    COLORREF light = BlendColor(0x3060A0, clWhite, 128);
    EXPECT_EQ(PixelAt(image, 3, 3), light);
    EXPECT_EQ(PixelAt(image, 36, 26), light);

    box->SetDualView(true);
    box->SetBorderStyle(TAdvCustomColorBox::bsNone);
    PaintControl(*box, image);
    EXPECT_EQ(PixelAt(image, 0, 0), 0u); // black frame
    EXPECT_EQ(PixelAt(image, 5, 5), 0x3060A0u);
    EXPECT_EQ(PixelAt(image, 19, 5), 0x3060A0u);
    EXPECT_EQ(PixelAt(image, 20, 5), light);

    box->SetEnabled(false);
    PaintControl(*box, image);
    EXPECT_EQ(PixelAt(image, 20, 15), GetSysColor(COLOR_BTNFACE));
}

// Ends the popup menu that a speed button shows, from a timer of the menu's own loop.
int MenusShown = 0;
void CALLBACK EndShownMenu(HWND, UINT, UINT_PTR Timer, DWORD) {
    KillTimer(nullptr, Timer);
    EndMenu();
}

struct MenuWatcher {
    void Popup(TObject *) {
        ++MenusShown;
        SetTimer(nullptr, 0, 30, EndShownMenu);
    }
};

class SpeedButtonTest : public HostFormTest {
protected:
    void SetUp() override {
        HostFormTest::SetUp();
        Menu = new TPopupMenu(Form);
        auto *item = new TMenuItem(Form);
        item->SetCaption("Item");
        Menu->Items().Add(item);
        Menu->OnPopup = MakeNotifyEvent<&MenuWatcher::Popup>(&Watcher);
        Button = new TAdvSpeedButton(Form);
        Button->SetParent(Form);
        Button->SetBounds(20, 20, 24, 24);
        Button->SetMenu(Menu);
        Button->OnClick = MakeNotifyEvent<&Counter::Notify>(&Clicks);
        MenusShown = 0;
    }
    void Press() { SendMessageA(Form->Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(30, 30)); }
    void Release() { SendMessageA(Form->Handle(), WM_LBUTTONUP, 0, MAKELPARAM(30, 30)); }
    TPopupMenu *Menu;
    TAdvSpeedButton *Button;
    MenuWatcher Watcher;
    Counter Clicks;
};

TEST_F(SpeedButtonTest, HoldingDropsTheMenuAfterTheDelay) {
    DWORD start = GetTickCount();
    Press();
    EXPECT_EQ(MenusShown, 0); // not at once: the button has an OnClick
    EXPECT_EQ(Button->MenuState(), 1);
    ASSERT_TRUE(PumpUntil([] { return MenusShown == 1; }));
    EXPECT_GE(GetTickCount() - start, 300u); // the 350 ms delay, with the tick's own granularity
    ASSERT_TRUE(PumpUntil([&] { return Button->MenuState() == 0; }));
    EXPECT_EQ(Clicks.Count, 0);
    EXPECT_EQ(Menu->PopupComponent(), Button);
}

TEST_F(SpeedButtonTest, QuickClickOnlyClicks) {
    Press();
    Release();
    EXPECT_EQ(Clicks.Count, 1);
    EXPECT_EQ(Button->MenuState(), 0);
    // Long enough for the menu delay to have passed.
    PumpUntil([] { return MenusShown > 0; }, 600);
    EXPECT_EQ(MenusShown, 0);
}

TEST_F(SpeedButtonTest, RightPressOrNoClickHandlerDropsAtOnce) {
    SendMessageA(Form->Handle(), WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(30, 30));
    EXPECT_EQ(MenusShown, 1);
    SendMessageA(Form->Handle(), WM_RBUTTONUP, 0, MAKELPARAM(30, 30));
    Button->OnClick = nullptr;
    Press();
    EXPECT_EQ(MenusShown, 2);
    Release();
    EXPECT_EQ(Clicks.Count, 0);
    EXPECT_EQ(Button->MenuState(), 0);
}

TEST_F(SpeedButtonTest, LeavingAHotButtonClearsItsHotState) {
    auto *other = new TAdvSpeedButton(Form);
    other->SetParent(Form);
    other->SetBounds(60, 20, 24, 24);
    TPoint inside = Button->ClientToScreen({12, 12});
    ASSERT_TRUE(MovePointer(inside));
    SendMessageA(Form->Handle(), WM_MOUSEMOVE, 0, MAKELPARAM(32, 32));
    EXPECT_TRUE(Button->Hot());
    // Another button taking the hot state: the first leaves it at once.
    TPoint second = other->ClientToScreen({12, 12});
    ASSERT_TRUE(MovePointer(second));
    SendMessageA(Form->Handle(), WM_MOUSEMOVE, 0, MAKELPARAM(72, 32));
    EXPECT_TRUE(other->Hot());
    EXPECT_FALSE(Button->Hot());
    // Leaving without a move over any control: the poll clears it.
    TPoint away = Form->ClientToScreen({300, 200});
    SetCursorPos(away.X, away.Y);
    EXPECT_TRUE(PumpUntil([&] { return !other->Hot(); }, 3000));
}

struct ClipboardWatcher {
    int Copies = 0;
    uint8_t LastKind = 255;
    bool Refuse = false;
    void Copied(uint8_t Kind) {
        ++Copies;
        LastKind = Kind;
    }
    void Paste(uint8_t, bool &CanPaste) {
        if (Refuse)
            CanPaste = false;
    }
};

class EnhancedControlsTest : public HostFormTest {
protected:
    void TearDown() override {
        SetClipboardHooks(nullptr, nullptr);
        HostFormTest::TearDown();
    }
};

TEST_F(EnhancedControlsTest, ClipboardHooksAreCalledWhenSet) {
    bool canPaste = true;
    QueryClipboardPaste(ckColor, canPaste);
    EXPECT_TRUE(canPaste);
    NotifyClipboardCopy(ckPlainText); // nothing set: nothing happens
    ClipboardWatcher watcher;
    watcher.Refuse = true;
    SetClipboardHooks(MakeEvent<&ClipboardWatcher::Copied>(&watcher),
                      MakeEvent<&ClipboardWatcher::Paste>(&watcher));
    QueryClipboardPaste(ckComplex, canPaste);
    EXPECT_FALSE(canPaste);
    auto *edit = new TAdvRichEdit(Form);
    edit->SetParent(Form);
    edit->SetText("copy me");
    edit->SelectAll();
    edit->CopyToClipboard();
    EXPECT_EQ(watcher.Copies, 1);
    EXPECT_EQ(watcher.LastKind, ckPlainText);
}

TEST_F(EnhancedControlsTest, RichEditGutterSetsTheFormattingRectangleAndPaints) {
    auto *edit = new TAdvRichEdit(Form);
    edit->SetParent(Form);
    edit->SetBounds(0, 0, 200, 100);
    edit->SetText("text");
    RECT r;
    SendMessageA(edit->Handle(), EM_GETRECT, 0, reinterpret_cast<LPARAM>(&r));
    EXPECT_EQ(r.left, 0);
    edit->SetGutter(40);
    SendMessageA(edit->Handle(), EM_GETRECT, 0, reinterpret_cast<LPARAM>(&r));
    // Wine's rich edit reports the left edge one pixel further left than it was set.
    EXPECT_GE(r.left, 39);
    EXPECT_LE(r.left, 40);
    RedrawWindow(edit->Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ERASE);
    HDC dc = GetDC(edit->Handle());
    EXPECT_EQ(GetPixel(dc, 10, 10), GetSysColor(COLOR_BTNFACE));
    EXPECT_EQ(GetPixel(dc, 36, 10), GetSysColor(COLOR_BTNHIGHLIGHT));
    EXPECT_EQ(GetPixel(dc, 37, 10), GetSysColor(COLOR_BTNSHADOW));
    ReleaseDC(edit->Handle(), dc);
    edit->SetGutter(0);
    SendMessageA(edit->Handle(), EM_GETRECT, 0, reinterpret_cast<LPARAM>(&r));
    EXPECT_EQ(r.left, 0);
}

struct Refuser {
    bool Allow = false;
    int Asked = 0;
    void MouseAllow(TObject *, TShiftState, int, int, bool &Value) {
        ++Asked;
        Value = Allow;
    }
    void Clicking(TObject *, bool &Value) {
        ++Asked;
        Value = Allow;
    }
};

TEST_F(EnhancedControlsTest, RefusedPressesKeepSelectionAndCheckState) {
    auto *list = new TAdvListBox(Form);
    list->SetParent(Form);
    list->SetBounds(0, 0, 120, 100);
    for (const char *text : {"one", "two", "three"})
        list->Items().Add(text);
    list->SetItemIndex(0);
    Refuser refuser;
    list->OnMouseAllow = MakeEvent<&Refuser::MouseAllow>(&refuser);
    RECT third = list->ItemRect(2);
    LPARAM at = MAKELPARAM(10, (third.top + third.bottom) / 2);
    SendMessageA(list->Handle(), WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageA(list->Handle(), WM_LBUTTONUP, 0, at);
    EXPECT_EQ(refuser.Asked, 1);
    EXPECT_EQ(list->ItemIndex(), 0);
    refuser.Allow = true;
    SendMessageA(list->Handle(), WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageA(list->Handle(), WM_LBUTTONUP, 0, at);
    EXPECT_EQ(list->ItemIndex(), 2);

    auto *checks = new TAdvCheckListBox(Form);
    checks->SetParent(Form);
    checks->SetBounds(130, 0, 120, 100);
    checks->Items().Add("first");
    checks->Items().Add("second");
    Refuser clicking;
    checks->OnClickingCheck = MakeEvent<&Refuser::Clicking>(&clicking);
    RECT box = checks->ItemRect(1);
    LPARAM onBox = MAKELPARAM(3, (box.top + box.bottom) / 2);
    SendMessageA(checks->Handle(), WM_LBUTTONDOWN, MK_LBUTTON, onBox);
    SendMessageA(checks->Handle(), WM_LBUTTONUP, 0, onBox);
    EXPECT_EQ(clicking.Asked, 1);
    EXPECT_FALSE(checks->Checked(1));
    clicking.Allow = true;
    SendMessageA(checks->Handle(), WM_LBUTTONDOWN, MK_LBUTTON, onBox);
    SendMessageA(checks->Handle(), WM_LBUTTONUP, 0, onBox);
    EXPECT_TRUE(checks->Checked(1));
}

TEST_F(EnhancedControlsTest, SplitterThatCannotDisappearStopsAboveTheMinimum) {
    auto *left = new TPanel(Form);
    left->SetParent(Form);
    left->SetAlign(alLeft);
    left->SetWidth(120);
    auto *splitter = new TAdvSplitter(Form);
    splitter->SetParent(Form);
    splitter->SetLeft(130); // right of the panel
    splitter->SetMinSize(30);
    auto *rest = new TPanel(Form);
    rest->SetParent(Form);
    rest->SetAlign(alClient);
    ASSERT_EQ(splitter->Left(), 120);
    HWND window = Form->Handle();
    struct Case {
        bool CanDisappear;
        int Expected;
    } cases[] = {{false, 31}, {true, 0}};
    for (const Case &c : cases) {
        left->SetWidth(120);
        splitter->SetCanDisappear(c.CanDisappear);
        int x = splitter->Left() + 1;
        SendMessageA(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, 50));
        // To exactly the minimum size of the panel.
        SendMessageA(window, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(x - 90, 50));
        SendMessageA(window, WM_LBUTTONUP, 0, MAKELPARAM(x - 90, 50));
        EXPECT_EQ(left->Width(), c.Expected) << c.CanDisappear;
    }
}

TEST_F(EnhancedControlsTest, GroupRangeIsTheLowestChildPlusTheScrollBarMargin) {
    auto *group = new TAdvGroup(Form);
    group->SetParent(Form);
    group->SetBounds(0, 0, 150, 100);
    group->VertScrollBar().SetMargin(8);
    group->SetMargin(3); // the group's own margin does not count
    auto *first = new TPanel(Form);
    first->SetParent(group);
    first->SetBounds(0, 0, 100, 120);
    auto *second = new TPanel(Form);
    second->SetParent(group);
    second->SetBounds(0, 150, 100, 50);
    group->UpdateScrollRange();
    EXPECT_EQ(group->VertScrollBar().Range(), 208);
}

TEST_F(EnhancedControlsTest, PageControlFreesTheWindowsOfHiddenPages) {
    auto *pages = new TAdvPageControl(Form);
    pages->SetParent(Form);
    pages->SetBounds(0, 0, 300, 200);
    TTabSheet *sheets[2];
    TEdit *edits[2];
    for (int i = 0; i < 2; ++i) {
        sheets[i] = new TTabSheet(Form);
        sheets[i]->SetCaption(i ? "Second" : "First");
        sheets[i]->SetPageControl(pages);
        edits[i] = new TEdit(Form);
        edits[i]->SetParent(sheets[i]);
        edits[i]->SetText(i ? "two" : "one");
    }
    RedrawWindow(pages->Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    EXPECT_TRUE(edits[0]->HandleAllocated());
    EXPECT_FALSE(edits[1]->HandleAllocated()); // freed after the first paint
    // The user picks the second tab: the first page's windows go, the second's come.
    RECT tab;
    TabCtrl_GetItemRect(pages->Handle(), 1, &tab);
    LPARAM at = MAKELPARAM((tab.left + tab.right) / 2, (tab.top + tab.bottom) / 2);
    SendMessageA(pages->Handle(), WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageA(pages->Handle(), WM_LBUTTONUP, 0, at);
    ASSERT_EQ(pages->ActivePage(), sheets[1]);
    EXPECT_FALSE(edits[0]->HandleAllocated());
    ASSERT_TRUE(edits[1]->HandleAllocated());
    EXPECT_TRUE(IsWindowVisible(edits[1]->Handle()));
    EXPECT_EQ(edits[1]->Text(), "two");
    EXPECT_EQ(edits[0]->Text(), "one"); // kept while it has no window
}

struct HelpWatcher {
    int Context = 0;
    WORD Command = 0;
    int X = 0, Y = 0;
    bool Help(WORD ACommand, intptr_t Data, bool &) {
        Command = ACommand;
        Context = static_cast<int>(Data);
        return true;
    }
    void Asked(TObject *, int AX, int AY) {
        X = AX;
        Y = AY;
    }
};

TEST_F(EnhancedControlsTest, HelpRequestsReachNonWindowedChildren) {
    auto *panel = new TAdvPanel(Form);
    panel->SetParent(Form);
    panel->SetBounds(0, 0, 200, 100);
    auto *label = new TAdvLabel(Form);
    label->SetParent(panel);
    label->SetBounds(20, 20, 80, 17);
    label->SetHelpContext(77);
    HelpWatcher watcher;
    label->OnHelp = MakeEvent<&HelpWatcher::Asked>(&watcher);
    Application->OnHelp = MakeEvent<&HelpWatcher::Help>(&watcher);
    TPoint pos = panel->ClientToScreen({30, 25});
    HELPINFO info = {sizeof(info), HELPINFO_WINDOW, 0, panel->Handle(), 0, {pos.X, pos.Y}};
    SendMessageA(panel->Handle(), WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
    Application->OnHelp = nullptr;
    EXPECT_EQ(watcher.Command, HELP_CONTEXTPOPUP);
    EXPECT_EQ(watcher.Context, 77);
    EXPECT_EQ(watcher.X, pos.X);
    EXPECT_EQ(watcher.Y, pos.Y);
}

// With OV_SCREENSHOT_READY and OV_SCREENSHOT_DONE set (by tools/window-screenshot), shows a
// sample form, says so in the first file and waits for the second, while a tool outside takes
// a picture of the display for a person to look at.
TEST(ScreenshotTest, ShowsTheSampleFormForAPicture) {
    const char *ready = std::getenv("OV_SCREENSHOT_READY");
    const char *done = std::getenv("OV_SCREENSHOT_DONE");
    if (!ready || !done)
        GTEST_SKIP() << "run by tools/window-screenshot";
    auto *form = new TForm(nullptr);
    form->SetBounds(0, 0, 480, 320);
    form->SetCaption("Control set");
    auto *panel = new TAdvPanel(form);
    panel->SetParent(form);
    panel->SetAlign(alTop);
    panel->SetHeight(36);
    auto *button = new TAdvSpeedButton(form);
    button->SetParent(panel);
    button->SetBounds(6, 6, 24, 24);
    button->SetCaption("A");
    auto *box = new TAdvColorBox(form);
    box->SetParent(panel);
    box->SetBounds(40, 4, 60, 28);
    box->SetCheckerSize(8);
    box->SetColor(clRed);
    box->SetOpacity(128);
    box->SetDualView(true);
    auto *combo = new TComboBox(form);
    combo->SetParent(panel);
    combo->SetBounds(110, 7, 120, 21);
    combo->Items().Add("Combo box");
    combo->SetItemIndex(0);
    auto *status = new TAdvStatusBar(form);
    status->SetParent(form);
    status->AddPanel("Status bar", 120);
    status->AddPanel("second panel", 120);
    auto *list = new TAdvListView(form);
    list->SetParent(form);
    list->SetAlign(alLeft);
    list->SetWidth(180);
    list->SetViewStyle(vsReport);
    list->AddColumn("Name", 100);
    list->AddItem()->SetCaption("List view item");
    auto *group = new TAdvGroupBox(form);
    group->SetParent(form);
    group->SetAlign(alClient);
    group->SetCaption("Group box");
    auto *check = new TAdvCheckBox(form);
    check->SetParent(group);
    check->SetBounds(10, 24, 120, 17);
    check->SetCaption("Check box");
    check->SetChecked(true);
    auto *edit = new TEdit(form);
    edit->SetParent(group);
    edit->SetBounds(10, 50, 150, 21);
    edit->SetText("Edit");
    form->Show();
    PumpUntil([] { return false; }, 500); // painted
    std::string readyPath = std::string("Z:") + ready, donePath = std::string("Z:") + done;
    if (FILE *file = std::fopen(readyPath.c_str(), "w"))
        std::fclose(file);
    EXPECT_TRUE(
        PumpUntil([&] { return GetFileAttributesA(donePath.c_str()) != INVALID_FILE_ATTRIBUTES; }, 60000));
    delete form;
}

} // namespace
