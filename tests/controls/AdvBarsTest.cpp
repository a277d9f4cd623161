// The dock bar's splitter, tool opacity, dragging tools (threshold, docking, floating) without
// leftovers, snapping, the roll-up bar's hints and the dock-bar layout in the registry.
#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "../WindowTestSupport.h"
#include "../foundation/RegistryTestSupport.h"
#include "AdvBars.h"

using namespace window_test;

namespace {

class BarsEnvironment : public FormsEnvironment {
public:
    void TearDown() override {
        FinalizeAdvBars();
        FinalizeAdvCtrls();
        FormsEnvironment::TearDown();
    }
};

const auto *const Environment = testing::AddGlobalTestEnvironment(new BarsEnvironment);

// Test tools differ in their class name (the registry key of their layout) and their size.
class TTestTool : public TToolForm {
public:
    TTestTool(TToolPanel *Panel, const char *Caption, int Width, int Height) : TToolForm(Panel) {
        SetCaption(Caption);
        SetBounds(0, 0, Width, Height);
    }
};

class TToolA : public TTestTool {
public:
    DECLARE_CLASS_NAME(TToolA)
    explicit TToolA(TToolPanel *Panel) : TTestTool(Panel, "Tool A", 180, 120) {
        Constraints().SetMinHeight(40);
    }
};

class TToolB : public TTestTool {
public:
    DECLARE_CLASS_NAME(TToolB)
    explicit TToolB(TToolPanel *Panel) : TTestTool(Panel, "Tool B", 160, 100) {}
};

class TToolC : public TTestTool {
public:
    DECLARE_CLASS_NAME(TToolC)
    explicit TToolC(TToolPanel *Panel) : TTestTool(Panel, "Tool C", 160, 60) {}
};

int ToolEditInputs = 0;

// A tool with a delayed-input edit, whose input goes to ToolEditInputs.
class TToolWithEdit : public TToolForm {
public:
    DECLARE_CLASS_NAME(TToolWithEdit)
    explicit TToolWithEdit(TToolPanel *Panel) : TToolForm(Panel) {
        SetCaption("Tool with an edit");
        SetBounds(0, 0, 160, 80);
        Edit = new TAdvEdit(this);
        Edit->SetParent(this);
        Edit->SetBounds(4, 4, 100, 21);
        Edit->SetDelay(300);
        Edit->OnInput = MakeNotifyEvent<&TToolWithEdit::Input>(this);
    }
    void Input(TObject *) { ++ToolEditInputs; }
    TAdvEdit *Edit;
};

// A main form with a dock bar along its right edge.
class DockBarTest : public HostFormTest {
protected:
    void SetUp() override {
        HostFormTest::SetUp();
        Form->SetBounds(40, 40, 640, 480);
        Bar = new TAdvDockBar(Form);
        Bar->SetParent(Form);
        Bar->SetAlign(alRight);
        PumpPending();
    }
    TAdvDockBar *Bar = nullptr;
};

LPARAM At(int X, int Y) {
    return MAKELPARAM(static_cast<WORD>(static_cast<short>(X)), static_cast<WORD>(static_cast<short>(Y)));
}

// A point of the screen in a window's client coordinates, as a mouse message carries it.
LPARAM ScreenAt(HWND Window, POINT Screen) {
    ScreenToClient(Window, &Screen);
    return At(Screen.x, Screen.y);
}

TEST_F(DockBarTest, SplitterStopsAtItsLimits) {
    Bar->AddTool(ToolFormClass<TToolA>());
    Bar->AddTool(ToolFormClass<TToolB>());
    PumpPending();
    const int parentWidth = Form->ClientWidth();
    ASSERT_GE(Bar->MinWidth(), 128);
    const int y = Bar->Grip().Height() + 10;
    auto drag = [&](int toX) {
        SendMessageA(Bar->Handle(), WM_LBUTTONDOWN, MK_LBUTTON, At(2, y));
        EXPECT_TRUE(Bar->Dragging());
        SendMessageA(Bar->Handle(), WM_MOUSEMOVE, MK_LBUTTON, At(toX, y));
        SendMessageA(Bar->Handle(), WM_LBUTTONUP, 0, At(toX, y));
        PumpPending();
        EXPECT_FALSE(Bar->Dragging());
    };
    drag(-5000);
    EXPECT_EQ(Bar->Left(), 64);
    EXPECT_EQ(Bar->Width(), parentWidth - 64);
    EXPECT_EQ(Bar->BarWidth(), parentWidth - 64);
    drag(5000);
    EXPECT_EQ(Bar->Left(), parentWidth - Bar->MinWidth());
    EXPECT_EQ(Bar->Width(), Bar->MinWidth());
    // A press outside the splitter strip starts nothing.
    SendMessageA(Bar->Handle(), WM_LBUTTONDOWN, MK_LBUTTON, At(Bar->Grip().Width() + 5, y));
    EXPECT_FALSE(Bar->Dragging());
    SendMessageA(Bar->Handle(), WM_LBUTTONUP, 0, At(Bar->Grip().Width() + 5, y));
}

TEST_F(DockBarTest, MinWidthReservesTheScrollBarAndRollingInKeepsBarWidth) {
    Bar->AddTool(ToolFormClass<TToolB>());
    PumpPending();
    ASSERT_LE(Bar->DockPanel().TotalHeight(), Bar->DockPanel().Height());
    EXPECT_EQ(Bar->MinWidth(), 128 + GetSystemMetrics(SM_CXVSCROLL));
    EXPECT_EQ(Bar->Width(), Bar->MinWidth());
    int changes = 0;
    struct Counter {
        int *Count;
        void Changed(TObject *) { ++*Count; }
    } counter{&changes};
    Bar->OnChange = MakeNotifyEvent<&Counter::Changed>(&counter);
    Bar->SetRolledUp(true);
    EXPECT_EQ(Bar->Width(), 12);
    EXPECT_EQ(Bar->Grip().Hint(), "Show Tools|");
    EXPECT_FALSE(Bar->DockPanel().Visible());
    Bar->SetRolledUp(false);
    EXPECT_EQ(Bar->Width(), Bar->BarWidth());
    EXPECT_EQ(Bar->Grip().Hint(), "Hide Tools|");
    EXPECT_EQ(changes, 2);
    Bar->OnChange = nullptr;
    try {
        Bar->FindTool(ToolFormClass<TToolA>());
        ADD_FAILURE() << "found a tool that is not there";
    } catch (const Exception &E) {
        EXPECT_EQ(E.Message(), "Tool class not found");
    }
}

TEST_F(DockBarTest, OpacityIsClampedAndLayeredOnlyBelowFull) {
    TToolPanel *panel = Bar->AddTool(ToolFormClass<TToolB>());
    panel->SetDocked(false);
    PumpPending();
    HWND window = panel->ToolForm()->Handle();
    ASSERT_EQ(GetParent(window) == Form->Handle(), false);
    char text[64] = {};
    GetMenuStringA(GetSystemMenu(window, FALSE), 1, text, sizeof(text), MF_BYCOMMAND);
    EXPECT_STREQ(text, "&Increase Opacity  \tCtrl+=");
    auto layered = [&] { return (GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_LAYERED) != 0; };
    struct Case {
        int Set;
        int Stored;
        bool Layered;
    } cases[] = {{100, 100, true}, {300, 255, false}, {0, 31, true}, {-5, 31, true}, {255, 255, false}};
    for (const Case &c : cases) {
        panel->SetOpacity(c.Set);
        EXPECT_EQ(panel->Opacity(), c.Stored) << c.Set;
        EXPECT_EQ(layered(), c.Layered) << c.Set;
    }
    // The system menu's items step by 16 within the same limits.
    panel->SetOpacity(250);
    SendMessageA(window, WM_SYSCOMMAND, 1, 0);
    EXPECT_EQ(panel->Opacity(), 255);
    EXPECT_FALSE(layered());
    panel->SetOpacity(40);
    SendMessageA(window, WM_SYSCOMMAND, 2, 0);
    EXPECT_EQ(panel->Opacity(), 31);
    EXPECT_TRUE(layered());
    // Ctrl with "=" does the same from the keyboard, and the key goes no further.
    BYTE keys[256] = {}, saved[256] = {};
    GetKeyboardState(saved);
    keys[VK_CONTROL] = 0x80;
    SetKeyboardState(keys);
    panel->SetOpacity(250);
    SendMessageA(window, WM_KEYDOWN, VK_OEM_PLUS, 1);
    SetKeyboardState(saved);
    EXPECT_EQ(panel->Opacity(), 255);
    EXPECT_FALSE(layered());
}

class ToolDragTest : public DockBarTest {
protected:
    void SetUp() override {
        DockBarTest::SetUp();
        A = Bar->AddTool(ToolFormClass<TToolA>());
        B = Bar->AddTool(ToolFormClass<TToolB>());
        PumpPending();
    }
    // Presses the caption of a tool, moves the pointer to a screen point and releases there.
    void DragTool(TToolPanel *Tool, POINT To, bool Release = true) {
        SendMessageA(Tool->Handle(), WM_LBUTTONDOWN, MK_LBUTTON, At(10, 10));
        ASSERT_EQ(Tool->ToolForm()->DragState(), 1);
        HWND form = Tool->ToolForm()->Handle();
        SendMessageA(form, WM_MOUSEMOVE, MK_LBUTTON, ScreenAt(form, To));
        if (Release)
            SendMessageA(form, WM_LBUTTONUP, 0, ScreenAt(form, To));
    }
    void DragB(POINT To, bool Release = true) { DragTool(B, To, Release); }
    POINT CaptionPointOfB() {
        POINT p = {10, 10};
        ClientToScreen(B->Handle(), &p);
        return p;
    }
    TToolPanel *A = nullptr, *B = nullptr;
};

TEST_F(ToolDragTest, ShorterThanTheDragThresholdMovesNothing) {
    TToolForm *form = B->ToolForm();
    POINT start = CaptionPointOfB();
    const int threshold = Mouse.DragThreshold();
    DragB({start.x + threshold, start.y - threshold});
    EXPECT_EQ(form->DragState(), 0);
    EXPECT_EQ(GetCapture(), nullptr);
    PumpPending();
    EXPECT_EQ(B->ToolForm(), form) << "the form was not made again";
    EXPECT_EQ(B->Index(), 1);
    EXPECT_TRUE(B->Docked());
}

TEST_F(ToolDragTest, DroppingOnADockedToolTakesItsPlace) {
    RECT a;
    GetWindowRect(A->Handle(), &a);
    DragB({a.left + 20, a.top + 10}, false);
    EXPECT_EQ(B->ToolForm()->DragState(), 2);
    EXPECT_TRUE(B->ToolForm()->DropDocks());
    HWND form = B->ToolForm()->Handle();
    SendMessageA(form, WM_LBUTTONUP, 0, ScreenAt(form, {a.left + 20, a.top + 10}));
    PumpPending();
    EXPECT_EQ(B->Index(), 0);
    EXPECT_EQ(A->Index(), 1);
    EXPECT_TRUE(B->Docked());
    EXPECT_LT(B->Top(), A->Top());
}

TEST_F(ToolDragTest, DroppingBelowTheLastDockedToolDocksAtTheEnd) {
    RECT area;
    GetWindowRect(Bar->DockPanel().Handle(), &area);
    RECT b;
    GetWindowRect(B->Handle(), &b);
    ASSERT_LT(b.bottom + 20, area.bottom) << "room below the last tool";
    DragTool(A, {area.left + 30, area.bottom - 10});
    PumpPending();
    EXPECT_EQ(A->Index(), 1);
    EXPECT_EQ(B->Index(), 0);
    EXPECT_TRUE(A->Docked());
    EXPECT_EQ(A->Top(), B->Top() + B->Height());
}

// The sizing bar under a docked tool stops where the form reaches its lowest height; without
// an upper limit it goes as far as it is dragged.
TEST_F(ToolDragTest, SizingBarKeepsTheFormWithinItsHeightLimits) {
    const int minHeight = A->ToolForm()->Constraints().MinHeight();
    ASSERT_GT(minHeight, 0);
    ASSERT_EQ(A->ToolForm()->Constraints().MaxHeight(), 0);
    auto size = [&](int dy) {
        const int y = A->Height() - 2;
        SendMessageA(A->Handle(), WM_LBUTTONDOWN, MK_LBUTTON, At(20, y));
        EXPECT_TRUE(A->Sizing());
        SendMessageA(A->Handle(), WM_MOUSEMOVE, MK_LBUTTON, At(20, y + dy));
        SendMessageA(A->Handle(), WM_LBUTTONUP, 0, At(20, y + dy));
        PumpPending();
        EXPECT_FALSE(A->Sizing());
    };
    size(-5000);
    EXPECT_EQ(A->Height(), 28 + minHeight);
    EXPECT_EQ(A->ToolHeight(), A->Height());
    EXPECT_EQ(A->ToolForm()->Height(), minHeight);
    const int before = A->Height();
    size(300);
    EXPECT_EQ(A->Height(), before + 300);
    EXPECT_EQ(B->Top(), A->Top() + A->Height()) << "the tool below follows";
}

// Floating and docking again make the tool form anew; nothing of the old form stays behind.
TEST_F(ToolDragTest, FloatingAndDockingAgainLeaveNothingBehind) {
    const int windows = ThreadWindowCount();
    const int gdiObjects = LibraryGdiObjectCount();
    POINT start = CaptionPointOfB();
    RECT formBefore;
    GetWindowRect(Form->Handle(), &formBefore);
    // Well away from the bar and from every edge of the main window.
    const POINT to = {formBefore.left + 150, formBefore.top + 150};
    DragB(to);
    EXPECT_EQ(GetCapture(), nullptr);
    ASSERT_TRUE(PumpUntil([&] { return !B->Docked(); }));
    EXPECT_TRUE(B->ToolVisible());
    EXPECT_FALSE(B->Visible()) << "the panel shows only while docked";
    RECT floating = B->FloatingRect();
    RECT window;
    GetWindowRect(B->ToolForm()->Handle(), &window);
    EXPECT_TRUE(EqualRect(&floating, &window));
    EXPECT_EQ(floating.left, B->ToolForm()->Left());

    B->SetDocked(true);
    PumpPending();
    EXPECT_TRUE(B->Docked());
    EXPECT_EQ(ThreadWindowCount(), windows);
    EXPECT_EQ(LibraryGdiObjectCount(), gdiObjects);
    (void)start;
}

// The shared input timer, started by an edit of a tool that is then floated (its form made
// anew), is let go by the old edit: waiting past the delay calls nothing.
TEST_F(DockBarTest, FloatingAToolReleasesTheInputTimerOfItsEdit) {
    TToolPanel *panel = Bar->AddTool(ToolFormClass<TToolWithEdit>());
    PumpPending();
    auto *form = static_cast<TToolWithEdit *>(panel->ToolForm());
    form->Edit->SetFocus();
    SendMessageA(form->Edit->Handle(), WM_CHAR, '5', 1);
    ASSERT_TRUE(form->Edit->TimerOwned());
    ToolEditInputs = 0;
    panel->SetDocked(false);
    ASSERT_NE(panel->ToolForm(), nullptr);
    PumpUntil([] { return false; }, 700);
    EXPECT_EQ(ToolEditInputs, 0);
    auto *floating = static_cast<TToolWithEdit *>(panel->ToolForm());
    EXPECT_FALSE(floating->Edit->TimerOwned());
    EXPECT_EQ(floating->Edit->Text(), "");
}

TEST(SnapToolPositionTest, SnapsToNearEdgesOfOtherToolsAndTheMainWindow) {
    // One other tool at (100, 100)-(200, 200); the dragged frame is 50 x 40. Expected places
    // worked out by hand from the edges named in each case.
    const std::vector<RECT> others = {{100, 100, 200, 200}};
    const RECT main = {0, 0, 800, 600};
    struct Case {
        const char *What;
        int Left, Top;
        bool WithMain;
        int ExpectLeft, ExpectTop;
    } cases[] = {
        {"above, bottom edge on its top", 120, 55, false, 120, 60},
        {"above, left edges meet too", 104, 58, false, 100, 60},
        {"below, right edges meet", 150, 203, false, 150, 200},
        {"beside on the right, tops meet", 205, 103, false, 200, 100},
        {"beside on the left, bottoms meet", 45, 157, false, 50, 160},
        {"above but too far to the side", 300, 55, false, 300, 55},
        {"far away", 400, 400, false, 400, 400},
        {"main window's left and top inside edges", 10, 33, true, 6, 26},
        {"main window's right inside edge", 739, 300, true, 744, 300},
    };
    for (const Case &c : cases) {
        TPoint p = SnapToolPosition(c.Left, c.Top, 50, 40, others, c.WithMain ? &main : nullptr, 4, 4, 20);
        EXPECT_EQ(p.X, c.ExpectLeft) << c.What;
        EXPECT_EQ(p.Y, c.ExpectTop) << c.What;
    }
}

TEST(AdvBarTest, GripHintFollowsCaptionAndRollState) {
    TForm form(nullptr);
    auto *bar = new TAdvToolBar(&form);
    bar->SetParent(&form);
    form.Show();
    PumpPending();
    EXPECT_EQ(bar->Height(), 30);
    EXPECT_EQ(bar->Grip().Hint(), "Hide|");
    // Children are aligned beside the grip, below the etched top line.
    auto *child = new TPanel(&form);
    child->SetParent(bar);
    child->SetAlign(alClient);
    EXPECT_EQ(child->BoundsRect().left, bar->Grip().Width());
    EXPECT_EQ(child->Top(), 2);
    EXPECT_EQ(child->Width(), bar->Width() - 2 - bar->Grip().Width());
    bar->SetRolledUp(true);
    EXPECT_FALSE(child->Visible());
    EXPECT_FALSE(child->HandleAllocated());
    EXPECT_EQ(bar->Grip().Hint(), "Show|");
    EXPECT_EQ(bar->Height(), 2 + 9);
    EXPECT_TRUE(bar->Grip().Horizontal());
    EXPECT_EQ(bar->Grip().Width(), 26);
    EXPECT_EQ(bar->Grip().Height(), 9);
    bar->SetCaption("Fractal");
    EXPECT_EQ(bar->Grip().Hint(), "Show Fractal|");
    bar->SetRolledUp(false);
    EXPECT_EQ(bar->Grip().Hint(), "Hide Fractal|");
    EXPECT_EQ(bar->Height(), 30);
    EXPECT_EQ(bar->Grip().Width(), 12);
    EXPECT_EQ(bar->Grip().Height(), 28);
    EXPECT_TRUE(child->Visible());
}

// ---------------------------------------------------------------------------------------------
// The layout in the registry

class DockLayoutTest : public RegistryTest {
protected:
    void SetUp() override {
        RegistryTest::SetUp();
        Form = new TForm(nullptr);
        Form->SetBounds(40, 40, 640, 480);
        Form->Show();
        PumpPending();
    }
    void TearDown() override {
        delete Form;
        PumpPending();
        RegistryTest::TearDown();
    }
    TAdvDockBar *NewBar() {
        auto *bar = new TAdvDockBar(Form);
        bar->SetParent(Form);
        bar->SetAlign(alRight);
        return bar;
    }
    static int ReadToolValue(const std::string &Tool, const std::string &Name) {
        TRegistry registry;
        EXPECT_TRUE(registry.OpenKey(RegistryBaseKey() + "Tools\\" + Tool, false)) << Tool;
        return registry.ReadInteger(Name);
    }
    static std::vector<int32_t> ReadRect(const std::string &Tool) {
        TRegistry registry;
        EXPECT_TRUE(registry.OpenKey(RegistryBaseKey() + "Tools\\" + Tool, false));
        EXPECT_EQ(registry.GetDataType("FloatingRect"), rdBinary);
        uint8_t bytes[16] = {};
        EXPECT_EQ(registry.ReadBinaryData("FloatingRect", bytes, 16), 16);
        std::vector<int32_t> values;
        for (int i = 0; i < 4; ++i)
            values.push_back(static_cast<int32_t>(bytes[i * 4] | bytes[i * 4 + 1] << 8 |
                                                  bytes[i * 4 + 2] << 16 |
                                                  static_cast<uint32_t>(bytes[i * 4 + 3]) << 24));
        return values;
    }
    TForm *Form = nullptr;
};

TEST_F(DockLayoutTest, SavedValuesPerToolAndRestoredInStoredOrder) {
    TAdvDockBar *bar = NewBar();
    TToolPanel *a = bar->AddTool(ToolFormClass<TToolA>());
    TToolPanel *b = bar->AddTool(ToolFormClass<TToolB>());
    PumpPending();
    bar->SetBarWidth(230);
    a->SetToolHeight(90);
    a->HideTool();
    b->SetFloatingRect(Rect(60, 70, 260, 200));
    b->SetDocked(false);
    b->SetOpacity(100);
    PumpPending();
    TRegistryManager manager;
    manager.SaveDockBar(*bar);

    {
        TRegistry registry;
        ASSERT_TRUE(registry.OpenKey(RegistryBaseKey() + "Tools\\", false));
        EXPECT_EQ(registry.ReadInteger("Width"), 230);
        EXPECT_EQ(registry.ReadInteger("ScrollPos"), 0);
    }
    EXPECT_EQ(ReadToolValue("TToolA", "Index"), 0);
    EXPECT_EQ(ReadToolValue("TToolA", "Height"), 90);
    EXPECT_EQ(ReadToolValue("TToolA", "Visible"), 0);
    EXPECT_EQ(ReadToolValue("TToolA", "Docked"), 1);
    EXPECT_EQ(ReadToolValue("TToolA", "Opacity"), 255);
    EXPECT_EQ(ReadToolValue("TToolB", "Index"), 1);
    EXPECT_EQ(ReadToolValue("TToolB", "Visible"), 1);
    EXPECT_EQ(ReadToolValue("TToolB", "Docked"), 0);
    EXPECT_EQ(ReadToolValue("TToolB", "Opacity"), 100);
    EXPECT_EQ(ReadRect("TToolB"), (std::vector<int32_t>{60, 70, 260, 200}));
    delete bar;
    PumpPending();

    // A bar made in the other order takes the stored order and states back.
    TAdvDockBar *again = NewBar();
    again->AddTool(ToolFormClass<TToolB>());
    again->AddTool(ToolFormClass<TToolA>());
    PumpPending();
    ASSERT_TRUE(manager.LoadDockBar(*again));
    PumpPending();
    TToolPanel *first = again->GetTool(0), *second = again->GetTool(1);
    EXPECT_STREQ(first->ToolForm()->ClassName(), "TToolA");
    EXPECT_STREQ(second->ToolForm()->ClassName(), "TToolB");
    EXPECT_FALSE(first->ToolVisible());
    EXPECT_EQ(first->ToolHeight(), 90);
    EXPECT_FALSE(second->Docked());
    EXPECT_TRUE(second->ToolVisible());
    EXPECT_EQ(second->Opacity(), 100);
    RECT placed;
    GetWindowRect(second->ToolForm()->Handle(), &placed);
    EXPECT_EQ(placed.left, 60);
    EXPECT_EQ(placed.top, 70);
    EXPECT_EQ(again->BarWidth(), 230);
}

TEST_F(DockLayoutTest, ANewToolWithoutKeyMakesRestoringFail) {
    TAdvDockBar *bar = NewBar();
    bar->AddTool(ToolFormClass<TToolA>());
    bar->AddTool(ToolFormClass<TToolB>());
    PumpPending();
    TRegistryManager manager;
    EXPECT_FALSE(manager.LoadDockBar(*bar)) << "nothing stored yet";
    manager.SaveDockBar(*bar);
    delete bar;
    PumpPending();

    TAdvDockBar *grown = NewBar();
    grown->AddTool(ToolFormClass<TToolC>());
    grown->AddTool(ToolFormClass<TToolA>());
    grown->AddTool(ToolFormClass<TToolB>());
    PumpPending();
    EXPECT_FALSE(manager.LoadDockBar(*grown));
    EXPECT_STREQ(grown->GetTool(0)->ToolForm()->ClassName(), "TToolC") << "nothing was reordered";
}

// Stored values beyond the screen are brought within it; a floating rectangle on no monitor
// is not used.
TEST_F(DockLayoutTest, StoredValuesAreBroughtWithinTheScreen) {
    TAdvDockBar *bar = NewBar();
    TToolPanel *a = bar->AddTool(ToolFormClass<TToolA>());
    PumpPending();
    TRegistryManager manager;
    manager.SaveDockBar(*bar);
    const RECT defaultRect = a->FloatingRect();
    {
        TRegistry registry;
        ASSERT_TRUE(registry.OpenKey(RegistryBaseKey() + "Tools\\", false));
        registry.WriteInteger("Width", 1000000);
        registry.WriteInteger("ScrollPos", -50);
        ASSERT_TRUE(registry.OpenKey(RegistryBaseKey() + "Tools\\TToolA", false));
        registry.WriteInteger("Height", 2000000000);
        registry.WriteInteger("Opacity", -3);
        const int32_t offScreen = 1000000;
        uint8_t bytes[16];
        const int32_t values[4] = {offScreen, offScreen, offScreen + 100, offScreen + 100};
        for (int i = 0; i < 16; ++i)
            bytes[i] = static_cast<uint8_t>(static_cast<uint32_t>(values[i / 4]) >> (8 * (i % 4)));
        registry.WriteBinaryData("FloatingRect", bytes, 16);
    }
    ASSERT_TRUE(manager.LoadDockBar(*bar));
    EXPECT_LE(bar->BarWidth(), GetSystemMetrics(SM_CXVIRTUALSCREEN));
    EXPECT_LE(a->ToolHeight(), GetSystemMetrics(SM_CYVIRTUALSCREEN));
    EXPECT_EQ(a->Opacity(), 31);
    EXPECT_EQ(bar->DockPanel().VertScrollBar().Position(), 0);
    RECT kept = a->FloatingRect();
    EXPECT_TRUE(EqualRect(&kept, &defaultRect));
}

} // namespace
