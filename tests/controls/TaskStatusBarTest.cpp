// The task status bar: button layout and overflow, hit testing, restoring a window by a click, the
// right-click menu and the panel's place in the bar.
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "../WindowTestSupport.h"
#include "GenUtils.h"
#include "TaskStatusBar.h"

using namespace window_test;

namespace {

class TaskPanelTest : public HostFormTest {
protected:
    void SetUp() override {
        HostFormTest::SetUp();
        Panel = new TTaskPanel(Form);
        Panel->SetParent(Form);
    }
    // Windows for the panel (never shown: the layout needs none of their windows).
    void AddWindows(int Count) {
        for (int i = 0; i < Count; ++i) {
            auto *form = new TForm(Form);
            form->SetCaption("Window " + std::to_string(Windows.size()));
            Windows.push_back(form);
            Panel->AddForm(form);
        }
    }
    TTaskPanel *Panel;
    std::vector<TForm *> Windows;
};

TEST_F(TaskPanelTest, ButtonsShareTheWidthAndTheRestGoToTheOverflowButton) {
    struct Case {
        int Windows, Width;
        int Visible, ButtonWidth, FirstLeft;
        bool Overflow;
        int PanelWidth; // after the layout
    } cases[] = {
        {0, 406, 0, 100, 406, false, 406}, // nothing but background
        {4, 406, 4, 100, 6, false, 406},   {9, 406, 7, 55, 9, true, 406},
        {8, 406, 8, 50, 6, false, 406}, // exactly 8 * 50 + 6
        {2, 150, 2, 72, 6, false, 150},    {3, 100, 1, 82, 6, true, 100},
        {1, 10, 0, 100, 6, true, 18}, // too narrow for any button: grows to the overflow button
    };
    for (const Case &c : cases) {
        for (TForm *form : Windows)
            delete form;
        Windows.clear();
        Panel->SetBounds(200, 2, c.Width, 18);
        AddWindows(c.Windows);
        EXPECT_EQ(Panel->VisibleCount(), c.Visible) << c.Windows << " in " << c.Width;
        EXPECT_EQ(Panel->ButtonWidth(), c.ButtonWidth) << c.Windows << " in " << c.Width;
        EXPECT_EQ(Panel->FirstLeft(), c.FirstLeft) << c.Windows << " in " << c.Width;
        EXPECT_EQ(Panel->HasOverflow(), c.Overflow) << c.Windows << " in " << c.Width;
        EXPECT_EQ(Panel->Width(), c.PanelWidth) << c.Windows << " in " << c.Width;
        EXPECT_EQ(Panel->Left() + Panel->Width(), 200 + c.Width) << "the right edge stays";
    }

    // A window that goes loses its button: 8 windows fit exactly.
    Panel->SetBounds(200, 2, 406, 18);
    for (TForm *form : Windows)
        delete form;
    Windows.clear();
    AddWindows(9);
    ASSERT_TRUE(Panel->HasOverflow());
    delete Windows[3];
    Windows.erase(Windows.begin() + 3);
    EXPECT_EQ(Panel->FormCount(), 8);
    EXPECT_EQ(Panel->Forms(3), Windows[3]);
    EXPECT_EQ(Panel->VisibleCount(), 8);
    EXPECT_EQ(Panel->ButtonWidth(), 50);
    EXPECT_FALSE(Panel->HasOverflow());
}

TEST_F(TaskPanelTest, EachButtonIsHitExactlyWhereItIsDrawn) {
    Panel->SetBounds(0, 0, 406, 18);
    AddWindows(9); // 7 buttons of 55 from x 9, the overflow button at 394..405
    struct Case {
        int X, Y, Index;
    } cases[] = {
        {8, 5, -1},  {9, 5, 0},   {63, 5, 0},   {64, 5, 1},   {9 + 6 * 55, 5, 6}, {9 + 7 * 55 - 1, 5, 6},
        {394, 5, 7}, {405, 5, 7}, {406, 5, -1}, {20, -1, -1}, {20, 18, -1},
    };
    for (const Case &c : cases)
        EXPECT_EQ(Panel->IndexAt(c.X, c.Y), c.Index) << c.X << "," << c.Y;

    // Without windows only the background is painted.
    for (TForm *form : Windows)
        delete form;
    Windows.clear();
    TBitmap image;
    PaintControl(*Panel, image);
    COLORREF face = ColorToRGB(clBtnFace);
    for (int x = 0; x < Panel->Width(); x += 7)
        for (int y = 0; y < Panel->Height(); y += 3)
            ASSERT_EQ(PixelAt(image, x, y), face) << x << "," << y;
}

void CALLBACK EndShownMenu(HWND, UINT, UINT_PTR Timer, DWORD) {
    KillTimer(nullptr, Timer);
    EndMenu();
}

// The status bar of an MDI main window with minimised document windows.
class TaskStatusBarTest : public testing::Test {
protected:
    void SetUp() override {
        Main = new TForm(nullptr);
        Main->SetFormStyle(fsMDIForm);
        Application->SetMainForm(Main);
        Main->SetBounds(20, 20, 620, 420);
        Main->Show();
        Bar = new TTaskStatusBar(Main);
        Bar->SetParent(Main);
        Bar->SetAlign(alBottom);
        Bar->AddPanel("Ready", 120);
        Bar->AddPanel("Zoom", 80);
        Bar->AddPanel("", 50);
        for (int i = 0; i < 3; ++i) {
            auto *child = new TForm(nullptr);
            child->SetFormStyle(fsMDIChild);
            child->SetCaption("Document " + std::to_string(i));
            child->Show();
            ShowWindow(child->Handle(), SW_MINIMIZE);
            Children.push_back(child);
            Bar->AddTask(child);
        }
        Bar->UpdateTaskPanel();
        PumpPending();
    }
    void TearDown() override {
        for (TForm *child : Children)
            delete child;
        Application->SetMainForm(nullptr);
        delete Main;
        PumpPending();
    }
    // A click of a mouse button on the middle of a task button.
    void ClickButton(int Index, UINT Down, UINT Up, WPARAM Keys) {
        TTaskPanel &panel = Bar->TaskPanel();
        LPARAM at = MAKELPARAM(panel.FirstLeft() + Index * panel.ButtonWidth() + panel.ButtonWidth() / 2, 8);
        SendMessageA(panel.Handle(), Down, Keys, at);
        SendMessageA(panel.Handle(), Up, 0, at);
    }
    static TMenuItem *Item(TPopupMenu &Menu, const char *Name) {
        for (int i = 0; i < Menu.Items().Count(); ++i)
            if (Menu.Items()[i]->Name() == Name)
                return Menu.Items()[i];
        ADD_FAILURE() << Name;
        return Menu.Items()[0];
    }
    TForm *Main;
    TTaskStatusBar *Bar;
    std::vector<TForm *> Children;
};

TEST_F(TaskStatusBarTest, PanelSitsRightOfTheTextPanelsAndAClickRestoresItsWindow) {
    TTaskPanel &panel = Bar->TaskPanel();
    int right = Bar->ClientWidth() - 1 - 16; // the size grip, the main window not maximized
    int height = ScaleForScreenFont(18);
    EXPECT_EQ(panel.Left(), 200);
    EXPECT_EQ(panel.Width(), right - 200);
    EXPECT_EQ(panel.Height(), height);
    EXPECT_EQ(panel.Top(), (Bar->ClientHeight() - height) / 2);
    ASSERT_EQ(panel.VisibleCount(), 3);
    for (TForm *child : Children)
        ASSERT_TRUE(IsIconic(child->Handle()));

    ClickButton(1, WM_LBUTTONDOWN, WM_LBUTTONUP, MK_LBUTTON);
    EXPECT_FALSE(IsIconic(Children[1]->Handle()));
    EXPECT_TRUE(IsIconic(Children[0]->Handle()));
    EXPECT_TRUE(IsIconic(Children[2]->Handle()));
    EXPECT_FALSE(panel.Pressed());

    // The right-click menu offers Restore only for a minimised window, Minimize only otherwise.
    TPopupMenu &menu = panel.ButtonMenu();
    struct Case {
        int Index;
        bool Minimized;
    } cases[] = {{0, true}, {1, false}};
    for (const Case &c : cases) {
        SetTimer(nullptr, 0, 30, EndShownMenu);
        ClickButton(c.Index, WM_RBUTTONDOWN, WM_RBUTTONUP, MK_RBUTTON);
        EXPECT_EQ(menu.PopupComponent(), Children[c.Index]) << c.Index;
        EXPECT_EQ(Item(menu, "RestoreItem")->Enabled(), c.Minimized) << c.Index;
        EXPECT_EQ(Item(menu, "MinimizeItem")->Enabled(), !c.Minimized) << c.Index;
    }
    EXPECT_EQ(ShortCutToText(Item(menu, "CloseItem")->ShortCut()), "Ctrl+F4");
    Item(menu, "MinimizeItem")->Click(); // for window 1, the last one the menu showed
    EXPECT_TRUE(IsIconic(Children[1]->Handle()));

    // Hiding the tasks hides the panel.
    Bar->SetShowTasks(false);
    EXPECT_FALSE(panel.Visible());
    Bar->SetShowTasks(true);
    EXPECT_TRUE(panel.Visible());
}

TEST_F(TaskStatusBarTest, ActiveWindowsButtonIsCheckeredAndTheHotButtonShowsItsCaptionAsHint) {
    TTaskPanel &panel = Bar->TaskPanel();
    SendMessageA(Main->ClientHandle(), WM_MDIACTIVATE, reinterpret_cast<WPARAM>(Children[1]->Handle()), 0);
    ASSERT_TRUE(Children[1]->Active());
    ASSERT_FALSE(Children[0]->Active());
    TBitmap image;
    PaintControl(panel, image);
    EXPECT_EQ(panel.ActiveIndex(), 1);
    // Near the bottom right corner of each button, inside its frame, where no text reaches.
    COLORREF face = ColorToRGB(clBtnFace), light = ColorToRGB(clBtnHighlight);
    int y = panel.Height() - 2;
    for (int index : {0, 1}) {
        int x = panel.FirstLeft() + (index + 1) * panel.ButtonWidth() - 4;
        std::vector<COLORREF> pixels = {PixelAt(image, x, y), PixelAt(image, x + 1, y),
                                        PixelAt(image, x, y - 1)};
        if (index == 1) { // the checker of face and highlight
            EXPECT_NE(pixels[0], pixels[1]);
            EXPECT_EQ(pixels[1], pixels[2]);
            for (COLORREF pixel : pixels)
                EXPECT_TRUE(pixel == face || pixel == light) << std::hex << pixel;
        } else {
            for (COLORREF pixel : pixels)
                EXPECT_EQ(pixel, face) << std::hex << pixel;
        }
    }

    // Moving over a button makes it hot and its caption the hint; off the buttons, no hint.
    int x = panel.FirstLeft() + 2 * panel.ButtonWidth() + 5;
    SendMessageA(panel.Handle(), WM_MOUSEMOVE, 0, MAKELPARAM(x, 8));
    EXPECT_EQ(panel.HotIndex(), 2);
    EXPECT_EQ(panel.Hint(), "Document 2|");
    EXPECT_TRUE(panel.ShowHint());
    SendMessageA(panel.Handle(), WM_MOUSEMOVE, 0, MAKELPARAM(1, 8));
    EXPECT_EQ(panel.HotIndex(), -1);
    EXPECT_FALSE(panel.ShowHint());
}

TEST_F(TaskStatusBarTest, OverflowMenuListsTheWindowsWithoutAButton) {
    TTaskPanel &panel = Bar->TaskPanel();
    panel.SetBounds(panel.Left() + panel.Width() - 130, panel.Top(), 130, panel.Height());
    ASSERT_EQ(panel.VisibleCount(), 2); // (130 - 18) / 50
    ASSERT_TRUE(panel.HasOverflow());
    SetTimer(nullptr, 0, 30, EndShownMenu);
    LPARAM at = MAKELPARAM(panel.Width() - 6, 8);
    SendMessageA(panel.Handle(), WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageA(panel.Handle(), WM_LBUTTONUP, 0, at);
    EXPECT_FALSE(panel.Pressed()); // the menu took the release
    TPopupMenu &menu = panel.OverflowMenu();
    ASSERT_EQ(menu.Items().Count(), 1);
    EXPECT_EQ(menu.Items()[0]->Caption(), "Document 2");
    menu.Items()[0]->Click();
    EXPECT_FALSE(IsIconic(Children[2]->Handle()));
    EXPECT_TRUE(IsIconic(Children[0]->Handle()));
}

} // namespace
