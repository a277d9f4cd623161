// The edit list box: solo clicks with Shift, sweeps over buttons, the delayed start of editing
// that a double click cancels, accepting edits, and the one timer that the lists share.
#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "../WindowTestSupport.h"
#include "EditListBox.h"

using namespace window_test;

namespace {

class EditListEnvironment : public testing::Environment {
public:
    void TearDown() override { FinalizeEditListBox(); }
};

const auto *const Environment = testing::AddGlobalTestEnvironment(new EditListEnvironment);

// The owner's model: one state per item of button 0, as the layer list keeps "visible".
struct ButtonModel {
    std::vector<bool> Down;
    int Updates = 0;  // open ButtonBeginUpdate brackets
    int Brackets = 0; // brackets closed
    int Drops = 0;
    bool AcceptDrags = true;
    TObject *DropSource = nullptr;
    std::vector<std::string> Edited;
    void Get(TObject *, int Index, int Button, int &, bool &IsDown) { IsDown = Down.at(Index); }
    void Set(TObject *, int Index, int Button, bool IsDown) { Down.at(Index) = IsDown; }
    void Begin(TObject *) { ++Updates; }
    void End(TObject *) {
        --Updates;
        ++Brackets;
    }
    void Drop(TObject *, TObject *Source, int, int) {
        ++Drops;
        DropSource = Source;
    }
    void DragOver(TObject *, TObject *, int, int, TDragState, bool &Accept) { Accept = AcceptDrags; }
    void Edit(TObject *, std::string &Text) { Edited.push_back(Text); }
};

class EditListBoxTest : public HostFormTest {
protected:
    TEditListBox *MakeList(ButtonModel &Model, int Count, int Left = 10) {
        auto *list = new TEditListBox(Form);
        list->SetParent(Form);
        list->SetBounds(Left, 10, 180, 6 * 24 + 4);
        list->SetButtonCount(1);
        list->SetGutter(TEditListBox::ButtonPitch + 5);
        for (int i = 0; i < Count; ++i)
            list->Items().Add("Layer " + std::to_string(i + 1));
        Model.Down.assign(Count, false);
        list->OnButtonGet = MakeEvent<&ButtonModel::Get>(&Model);
        list->OnButtonSet = MakeEvent<&ButtonModel::Set>(&Model);
        list->OnButtonBeginUpdate = MakeNotifyEvent<&ButtonModel::Begin>(&Model);
        list->OnButtonEndUpdate = MakeNotifyEvent<&ButtonModel::End>(&Model);
        list->OnDragDrop = MakeEvent<&ButtonModel::Drop>(&Model);
        list->OnDragOver = MakeEvent<&ButtonModel::DragOver>(&Model);
        list->OnEdited = MakeEvent<&ButtonModel::Edit>(&Model);
        list->SetItemIndex(0);
        PumpPending();
        return list;
    }
    // The client point on button 0 of an item, and a point on its text.
    static TPoint ButtonPoint(TEditListBox &List, int Index) {
        RECT r = List.ItemRect(Index);
        return {3 + TEditListBox::ButtonSize / 2, (r.top + r.bottom) / 2};
    }
    static TPoint TextPoint(TEditListBox &List, int Index) {
        RECT r = List.ItemRect(Index);
        return {120, (r.top + r.bottom) / 2};
    }
    static void Send(TEditListBox &List, UINT Msg, WPARAM Keys, TPoint At) {
        SendMessageA(List.Handle(), Msg, Keys, MAKELPARAM(At.X, At.Y));
    }
    static void Click(TEditListBox &List, TPoint At, WPARAM Keys = 0) {
        Send(List, WM_LBUTTONDOWN, MK_LBUTTON | Keys, At);
        Send(List, WM_LBUTTONUP, Keys, At);
    }
    static void PumpFor(DWORD Ms) {
        PumpUntil([] { return false; }, Ms);
    }
};

TEST_F(EditListBoxTest, ShiftClickMakesTheItemSoloOrShowsAllWhenItWasTheOnlyOne) {
    struct Case {
        const char *Name;
        std::vector<bool> Before;
        int Clicked;
        WPARAM Keys;
        std::vector<bool> After;
    };
    const Case cases[] = {
        {"shift on the only visible item shows all",
         {false, false, true, false},
         2,
         MK_SHIFT,
         {true, true, true, true}},
        {"shift on another item shows it alone",
         {false, false, true, false},
         1,
         MK_SHIFT,
         {false, true, false, false}},
        {"shift with several visible keeps only it",
         {true, false, true, true},
         3,
         MK_SHIFT,
         {false, false, false, true}},
        {"a plain click toggles only its item",
         {false, false, true, false},
         0,
         0,
         {true, false, true, false}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.Name);
        ButtonModel model;
        TEditListBox *list = MakeList(model, 4);
        model.Down = c.Before;
        Click(*list, ButtonPoint(*list, c.Clicked), c.Keys);
        EXPECT_EQ(model.Down, c.After);
        EXPECT_EQ(model.Updates, 0);
        EXPECT_EQ(model.Brackets, c.Keys ? 1 : 0);
        EXPECT_EQ(list->ItemIndex(), 0); // a button press does not select
        delete list;
    }
}

TEST_F(EditListBoxTest, SweepOverFiveItemsCopiesThePressedItemsState) {
    ButtonModel model;
    TEditListBox *list = MakeList(model, 6);
    ASSERT_GE(Mouse.DragThreshold(), 1);
    TPoint press = ButtonPoint(*list, 0), over = ButtonPoint(*list, 4);
    ASSERT_TRUE(MovePointer(list->ClientToScreen(press)));
    Send(*list, WM_LBUTTONDOWN, MK_LBUTTON, press);
    EXPECT_EQ(model.Down, (std::vector<bool>{true, false, false, false, false, false}));
    // Down over four more items: the drag starts there and copies item 0's new state.
    ASSERT_TRUE(MovePointer(list->ClientToScreen(over)));
    Send(*list, WM_MOUSEMOVE, MK_LBUTTON, over);
    EXPECT_TRUE(list->Dragging());
    Send(*list, WM_LBUTTONUP, 0, over);
    PumpPending();
    EXPECT_FALSE(list->Dragging());
    EXPECT_EQ(model.Down, (std::vector<bool>{true, true, true, true, true, false}));
    EXPECT_EQ(model.Updates, 0);
    EXPECT_EQ(model.Drops, 0); // a sweep is no drop of an item
    EXPECT_EQ(list->ItemIndex(), 0);
    EXPECT_EQ(list->DropIndex(), -1);
    delete list;
}

TEST_F(EditListBoxTest, AnItemDragShowsTheDropTargetScrollsNearTheBottomAndDrops) {
    ButtonModel model;
    TEditListBox *list = MakeList(model, 20);
    int visible = list->ClientHeight() / list->ItemHeight();
    ASSERT_LT(visible, 20);
    TPoint press = TextPoint(*list, 0), over = TextPoint(*list, 3);
    // The pointer goes first, so that its own moves come before the simulated press.
    ASSERT_TRUE(MovePointer(list->ClientToScreen(over)));
    Send(*list, WM_LBUTTONDOWN, MK_LBUTTON, press);
    Send(*list, WM_MOUSEMOVE, MK_LBUTTON, over);
    ASSERT_TRUE(list->Dragging());
    EXPECT_EQ(list->DropIndex(), 3);
    EXPECT_EQ(list->ItemIndex(), 0);

    // Near the bottom edge the list scrolls on the shared timer until the pointer leaves the zone.
    TPoint bottom{over.X, list->ClientHeight() - 3};
    ASSERT_TRUE(MovePointer(list->ClientToScreen(bottom)));
    Send(*list, WM_MOUSEMOVE, MK_LBUTTON, bottom);
    EXPECT_TRUE(list->OwnsTimer());
    ASSERT_TRUE(PumpUntil([&] { return list->TopIndex() >= 2; }, 5000));
    ASSERT_TRUE(MovePointer(list->ClientToScreen(over)));
    ASSERT_TRUE(PumpUntil([] { return EditListTimerFree(); }, 5000));
    int top = list->TopIndex();
    EXPECT_LE(top, 20 - visible);

    // Not accepted: no target shown; accepted again and dropped: the owner gets the list itself.
    model.AcceptDrags = false;
    Send(*list, WM_MOUSEMOVE, MK_LBUTTON, over);
    EXPECT_EQ(list->DropIndex(), -1);
    model.AcceptDrags = true;
    Send(*list, WM_MOUSEMOVE, MK_LBUTTON, over);
    EXPECT_EQ(list->DropIndex(), list->ItemAtPos(over, true));
    Send(*list, WM_LBUTTONUP, 0, over);
    PumpPending();
    EXPECT_FALSE(list->Dragging());
    EXPECT_EQ(model.Drops, 1);
    EXPECT_EQ(model.DropSource, list);
    EXPECT_EQ(list->DropIndex(), -1);
    EXPECT_EQ(list->TopIndex(), top);
    delete list;
}

TEST_F(EditListBoxTest, GutterButtonsSeparatorsAndSelectionArePainted) {
    ButtonModel model;
    TEditListBox *list = MakeList(model, 3);
    list->SetItemSeparators(true);
    list->SetColor(clWindow);
    const int gutter = list->Gutter(), height = list->ItemHeight();
    TBitmap image;
    image.SetPixelFormat(pf24bit);
    image.SetSize(list->Width(), list->Height());
    // The background, then the items, as the window paints them.
    SendMessageA(list->Handle(), WM_ERASEBKGND, reinterpret_cast<WPARAM>(image.Canvas().Handle()), 0);
    for (int i = 0; i < 3; ++i) {
        DRAWITEMSTRUCT item = {};
        item.CtlType = ODT_LISTBOX;
        item.itemID = i;
        item.itemAction = ODA_DRAWENTIRE;
        item.itemState = i == 0 ? ODS_SELECTED : 0;
        item.hwndItem = list->Handle();
        item.hDC = image.Canvas().Handle();
        item.rcItem = list->ItemRect(i);
        list->Perform(CN_DRAWITEM, 0, reinterpret_cast<LPARAM>(&item));
    }
    const COLORREF face = ColorToRGB(clBtnFace), shadow = ColorToRGB(clBtnShadow),
                   highlight = ColorToRGB(clBtnHighlight), window = ColorToRGB(clWindow),
                   selected = ColorToRGB(clHighlight);
    RECT second = list->ItemRect(1);
    int buttonTop = second.top + (height - TEditListBox::ButtonSize) / 2;
    EXPECT_EQ(PixelAt(image, gutter - 1, second.top + 5), shadow); // the gutter's edge
    EXPECT_EQ(PixelAt(image, 1, second.top + 5), face);            // the gutter
    EXPECT_EQ(PixelAt(image, 3, buttonTop), shadow);               // sunken button bevel
    EXPECT_EQ(PixelAt(image, 3 + TEditListBox::ButtonSize - 1, buttonTop + TEditListBox::ButtonSize - 1),
              highlight);
    EXPECT_EQ(PixelAt(image, gutter + 3, second.top + 3), window); // an unselected text cell
    EXPECT_EQ(PixelAt(image, gutter + 3, 3), selected);            // the selected one
    // Separator dots under the unselected item: odd x + y in the text colour.
    int y = second.bottom - 1;
    int x = gutter + ((gutter + y) % 2 == 0 ? 1 : 0) + 10;
    EXPECT_EQ(PixelAt(image, x, y), window);
    EXPECT_EQ(PixelAt(image, x + 1, y), ColorToRGB(clWindowText));
    delete list;
}

TEST_F(EditListBoxTest, SingleClickOnTheSelectedItemEditsAfterTheDoubleClickTimeAndADoubleClickNever) {
    ButtonModel model;
    TEditListBox *list = MakeList(model, 3);
    list->SetItemIndex(1);
    list->SetFocus();
    PumpPending();
    DWORD wait = GetDoubleClickTime() + 300;

    TPoint at = TextPoint(*list, 1);
    Send(*list, WM_LBUTTONDOWN, MK_LBUTTON, at);
    Send(*list, WM_LBUTTONUP, 0, at);
    Send(*list, WM_LBUTTONDBLCLK, MK_LBUTTON, at);
    Send(*list, WM_LBUTTONUP, 0, at);
    EXPECT_TRUE(EditListTimerFree());
    PumpFor(wait);
    EXPECT_FALSE(list->Editing());

    Click(*list, at);
    EXPECT_TRUE(list->OwnsTimer());
    EXPECT_FALSE(list->Editing()); // not before the double-click time
    ASSERT_TRUE(PumpUntil([&] { return list->Editing(); }, wait + 2000));
    EXPECT_TRUE(EditListTimerFree());
    EXPECT_EQ(list->Editor().Text(), "Layer 2");
    EXPECT_TRUE(list->Editor().Visible());

    // Enter accepts through OnEdited; an empty text leaves the item as it was.
    list->Editor().SetText("Background");
    SendMessageA(list->Editor().Handle(), WM_KEYDOWN, VK_RETURN, 1);
    EXPECT_FALSE(list->Editing());
    EXPECT_FALSE(list->Editor().Visible());
    EXPECT_EQ(list->Items().Strings(1), "Background");
    EXPECT_EQ(model.Edited, std::vector<std::string>{"Background"});
    EXPECT_EQ(list->ItemIndex(), 1);

    SendMessageA(list->Handle(), WM_KEYDOWN, VK_F2, 1);
    ASSERT_TRUE(list->Editing());
    list->Editor().SetText("");
    SendMessageA(list->Editor().Handle(), WM_KEYDOWN, VK_RETURN, 1);
    EXPECT_EQ(list->Items().Strings(1), "Background");
    EXPECT_EQ(model.Edited.size(), 1u);

    // Escape cancels.
    SendMessageA(list->Handle(), WM_KEYDOWN, VK_F2, 1);
    list->Editor().SetText("Other");
    SendMessageA(list->Editor().Handle(), WM_KEYDOWN, VK_ESCAPE, 1);
    EXPECT_FALSE(list->Editing());
    EXPECT_EQ(list->Items().Strings(1), "Background");
    delete list;
}

TEST_F(EditListBoxTest, TheSharedTimerGoesWithTheListThatOwnsIt) {
    ButtonModel first, second;
    TEditListBox *a = MakeList(first, 3);
    TEditListBox *b = MakeList(second, 3, 200);
    DWORD wait = GetDoubleClickTime() + 300;
    auto startEditTimer = [](TEditListBox &List) {
        List.SetFocus();
        PumpPending();
        Click(List, TextPoint(List, 0));
    };

    // A pending edit of A: B finds the timer busy and starts nothing.
    startEditTimer(*a);
    ASSERT_TRUE(a->OwnsTimer());
    startEditTimer(*b);
    EXPECT_FALSE(b->OwnsTimer());
    EXPECT_TRUE(a->OwnsTimer());

    // A's window made again: its pending edit goes, and the timer is free for B.
    a->RecreateWnd();
    EXPECT_TRUE(EditListTimerFree());
    startEditTimer(*b);
    ASSERT_TRUE(b->OwnsTimer());

    // B freed while its timer is pending: nothing is left that could fire into it.
    delete b;
    EXPECT_TRUE(EditListTimerFree());
    PumpFor(wait);
    EXPECT_FALSE(a->Editing());

    // A can take the timer again and edits as usual.
    startEditTimer(*a);
    ASSERT_TRUE(a->OwnsTimer());
    EXPECT_TRUE(PumpUntil([&] { return a->Editing(); }, wait + 2000));
    delete a;
    EXPECT_TRUE(EditListTimerFree());
}

} // namespace
