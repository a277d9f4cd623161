// Dragging within the program, key preview, exceptions from other threads, and the state that
// list views, tree views, page controls and check boxes keep across a new window.
#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "../WindowTestSupport.h"
#include "ComCtrls.h"
#include "ExtCtrls.h"
#include "Forms.h"
#include "StdCtrls.h"

using namespace window_test;

namespace {

struct DragWatcher {
    int Overs = 0, Drops = 0, Ends = 0, Clicks = 0;
    bool Accept = true;
    TObject *DropSource = nullptr;
    TObject *EndTarget = nullptr;
    TPoint DropPos;
    void Over(TObject *, TObject *, int, int, TDragState, bool &Value) {
        ++Overs;
        Value = Accept;
    }
    void Drop(TObject *, TObject *Source, int X, int Y) {
        ++Drops;
        DropSource = Source;
        DropPos = {X, Y};
    }
    void End(TObject *, TObject *Target, int, int) {
        ++Ends;
        EndTarget = Target;
    }
    void Click(TObject *) { ++Clicks; }
};

class DragTest : public HostFormTest {
protected:
    void SetUp() override {
        HostFormTest::SetUp();
        Source = new TPanel(Form);
        Source->SetParent(Form);
        Source->SetBounds(10, 10, 80, 60);
        Source->SetDragMode(dmAutomatic);
        Target = new TPanel(Form);
        Target->SetParent(Form);
        Target->SetBounds(200, 10, 100, 100);
        Source->OnEndDrag = MakeEvent<&DragWatcher::End>(&Watcher);
        Source->OnClick = MakeNotifyEvent<&DragWatcher::Click>(&Watcher);
        Target->OnDragOver = MakeEvent<&DragWatcher::Over>(&Watcher);
        Target->OnDragDrop = MakeEvent<&DragWatcher::Drop>(&Watcher);
    }
    // Moves the pointer to a client point of a control and tells the window that has the mouse.
    void MoveTo(TControl *Control, int X, int Y, UINT Message) {
        TPoint screen = Control->ClientToScreen({X, Y});
        ASSERT_TRUE(MovePointer(screen));
        HWND capture = GetCapture() ? GetCapture() : Source->Handle();
        POINT local = {screen.X, screen.Y};
        ScreenToClient(capture, &local);
        SendMessageA(capture, Message, Message == WM_LBUTTONUP ? 0 : MK_LBUTTON,
                     MAKELPARAM(local.x, local.y));
    }
    TPanel *Source;
    TPanel *Target;
    DragWatcher Watcher;
};

TEST_F(DragTest, DropOnAnAcceptingControl) {
    MoveTo(Source, 20, 20, WM_LBUTTONDOWN);
    EXPECT_TRUE(Source->Dragging());
    MoveTo(Target, 30, 40, WM_MOUSEMOVE);
    EXPECT_GE(Watcher.Overs, 1);
    MoveTo(Target, 31, 41, WM_LBUTTONUP);
    EXPECT_FALSE(Source->Dragging());
    EXPECT_EQ(Watcher.Drops, 1);
    EXPECT_EQ(Watcher.DropSource, Source); // a plain control drag gives the control
    EXPECT_EQ(Watcher.DropPos.X, 31);
    EXPECT_EQ(Watcher.DropPos.Y, 41);
    EXPECT_EQ(Watcher.Ends, 1);
    EXPECT_EQ(Watcher.EndTarget, Target);
    EXPECT_EQ(Watcher.Clicks, 0);
    EXPECT_EQ(GetCapture(), nullptr);
}

TEST_F(DragTest, RefusedDropEndsWithoutTarget) {
    Watcher.Accept = false;
    MoveTo(Source, 20, 20, WM_LBUTTONDOWN);
    MoveTo(Target, 30, 40, WM_MOUSEMOVE);
    MoveTo(Target, 30, 40, WM_LBUTTONUP);
    EXPECT_EQ(Watcher.Drops, 0);
    EXPECT_EQ(Watcher.Ends, 1);
    EXPECT_EQ(Watcher.EndTarget, nullptr);
}

TEST_F(DragTest, ReleaseBeforeTheThresholdIsAClick) {
    MoveTo(Source, 20, 20, WM_LBUTTONDOWN);
    MoveTo(Source, 21, 21, WM_MOUSEMOVE); // within the drag threshold
    MoveTo(Source, 21, 21, WM_LBUTTONUP);
    EXPECT_EQ(Watcher.Clicks, 1);
    EXPECT_EQ(Watcher.Overs, 0);
    EXPECT_EQ(Watcher.Drops, 0);
    EXPECT_FALSE(Source->Dragging());
}

struct KeyWatcher {
    int FormKeys = 0, EditKeys = 0;
    void FormKey(TObject *, WORD &Key, TShiftState) {
        ++FormKeys;
        if (Key == VK_F5)
            Key = 0;
    }
    void EditKey(TObject *, WORD &, TShiftState) { ++EditKeys; }
};

class KeyTest : public HostFormTest {};

TEST_F(KeyTest, KeyPreviewSeesKeysFirstAndCanTakeThem) {
    auto *edit = new TEdit(Form);
    edit->SetParent(Form);
    KeyWatcher watcher;
    Form->OnKeyDown = MakeEvent<&KeyWatcher::FormKey>(&watcher);
    edit->OnKeyDown = MakeEvent<&KeyWatcher::EditKey>(&watcher);
    edit->SetFocus();
    ASSERT_TRUE(PumpUntil([&] { return edit->Focused(); }));
    SendKeys({VK_F5});
    SendKeys({VK_F6});
    PumpUntil([&] { return watcher.EditKeys >= 2; }, 1500);
    EXPECT_EQ(watcher.FormKeys, 0); // no preview
    EXPECT_EQ(watcher.EditKeys, 2);
    Form->SetKeyPreview(true);
    SendKeys({VK_F5});
    SendKeys({VK_F6});
    ASSERT_TRUE(PumpUntil([&] { return watcher.FormKeys == 2; }));
    PumpPending();
    EXPECT_EQ(watcher.EditKeys, 3); // F5 was taken by the form
}

TEST_F(KeyTest, TabMovesTheFocusInTabOrder) {
    auto *first = new TEdit(Form);
    first->SetParent(Form);
    auto *second = new TEdit(Form);
    second->SetParent(Form);
    second->SetTop(30);
    auto *third = new TButton(Form);
    third->SetParent(Form);
    third->SetTop(60);
    second->SetTabOrder(0);
    second->SetFocus();
    ASSERT_TRUE(PumpUntil([&] { return second->Focused(); }));
    SendKeys({VK_TAB});
    ASSERT_TRUE(PumpUntil([&] { return first->Focused(); }));
    SendKeys({VK_TAB});
    ASSERT_TRUE(PumpUntil([&] { return third->Focused(); }));
    EXPECT_EQ(Form->ActiveControl(), third);
}

struct ThreadFailure {
    int Shown = 0;
    DWORD Thread = 0;
    std::string Text;
    void Show(TObject *, std::exception_ptr E) {
        ++Shown;
        Thread = GetCurrentThreadId();
        Text = ExceptionDisplayText(E);
    }
};

DWORD WINAPI FailOnAThread(void *) {
    try {
        throw Exception("Worker failed..");
    } catch (...) {
        Application->HandleException(nullptr);
    }
    return 0;
}

TEST(ApplicationTest, ExceptionsOfOtherThreadsAreShownOnTheInterfaceThread) {
    ThreadFailure failure;
    Application->OnException = MakeEvent<&ThreadFailure::Show>(&failure);
    HANDLE thread = CreateThread(nullptr, 0, FailOnAThread, nullptr, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    EXPECT_TRUE(PumpUntil([&] { return failure.Shown == 1; }));
    WaitForSingleObject(thread, 10000);
    CloseHandle(thread);
    Application->OnException = nullptr;
    EXPECT_EQ(failure.Thread, GetCurrentThreadId());
    EXPECT_EQ(failure.Text, "Worker failed.");
}

TEST(ApplicationTest, HintsSplitAtTheBar) {
    EXPECT_EQ(GetShortHint("Help|Shows the help"), "Help");
    EXPECT_EQ(GetLongHint("Help|Shows the help"), "Shows the help");
    EXPECT_EQ(GetShortHint("Plain"), "Plain");
    EXPECT_EQ(GetLongHint("Plain"), "Plain");
    EXPECT_EQ(GetShortHint("Hide|"), "Hide");
    EXPECT_EQ(GetLongHint("Hide|"), "");
}

struct OwnerData {
    int Asked = 0;
    void Data(TObject *, TListItem *Item) {
        ++Asked;
        Item->SetCaption("Row " + IntToStr(Item->Index()));
        Item->SubItems().Add("Detail " + IntToStr(Item->Index() * 2));
    }
};

std::string ListText(TListView &View, int Index, int Column) {
    char buffer[64] = {};
    LVITEMA item = {};
    item.iSubItem = Column;
    item.pszText = buffer;
    item.cchTextMax = sizeof(buffer);
    SendMessageA(View.Handle(), LVM_GETITEMTEXTA, Index, reinterpret_cast<LPARAM>(&item));
    return buffer;
}

class StatefulControlsTest : public HostFormTest {};

TEST_F(StatefulControlsTest, ListViewRowsComeFromItsItemsOrItsOwner) {
    auto *view = new TListView(Form);
    view->SetParent(Form);
    view->SetViewStyle(vsReport);
    view->SetBounds(0, 0, 300, 200);
    view->AddColumn("Name", 100);
    view->AddColumn("Value", 100);
    TListItem *item = view->AddItem();
    item->SetCaption("first");
    item->SubItems().Add("one");
    view->AddItem()->SetCaption("second");
    view->SetItemIndex(1);
    EXPECT_EQ(ListText(*view, 0, 0), "first");
    EXPECT_EQ(ListText(*view, 0, 1), "one");
    view->RecreateWnd();
    EXPECT_EQ(ListView_GetItemCount(view->Handle()), 2);
    EXPECT_EQ(ListText(*view, 1, 0), "second");
    EXPECT_EQ(view->ItemIndex(), 1);
    view->DeleteItem(0);
    EXPECT_EQ(view->Items(0)->Index(), 0);
    EXPECT_EQ(ListText(*view, 0, 0), "second");

    OwnerData owner;
    view->SetOwnerData(true);
    view->OnData = MakeEvent<&OwnerData::Data>(&owner);
    view->SetItemCount(100000);
    EXPECT_EQ(ListView_GetItemCount(view->Handle()), 100000);
    EXPECT_EQ(ListText(*view, 99999, 0), "Row 99999");
    EXPECT_EQ(ListText(*view, 12, 1), "Detail 24");
    EXPECT_GE(owner.Asked, 2);
    EXPECT_THROW(view->AddItem(), Exception);
}

TEST_F(StatefulControlsTest, TreeNodesSurviveANewWindow) {
    auto *tree = new TTreeView(Form);
    tree->SetParent(Form);
    tree->SetBounds(0, 0, 200, 200);
    TTreeNode *root = tree->AddChild(nullptr, "root");
    TTreeNode *child = tree->AddChild(root, "child");
    tree->AddChild(child, "grandchild");
    root->SetExpanded(true);
    tree->SetSelected(child);
    EXPECT_EQ(tree->Selected(), child);
    tree->RecreateWnd();
    EXPECT_EQ(TreeView_GetCount(tree->Handle()), 3u);
    EXPECT_TRUE(root->Expanded());
    EXPECT_FALSE(child->Expanded());
    EXPECT_EQ(tree->Selected(), child);
    EXPECT_EQ(child->Level(), 1);
    child->Delete();
    EXPECT_EQ(TreeView_GetCount(tree->Handle()), 1u);
    EXPECT_EQ(root->Count(), 0);
}

struct PageWatcher {
    bool Allow = true;
    int Changes = 0;
    void Changing(TObject *, bool &Value) { Value = Allow; }
    void Change(TObject *) { ++Changes; }
};

TEST_F(StatefulControlsTest, PageControlShowsOnePageAndAsksBeforeChanging) {
    auto *pages = new TPageControl(Form);
    pages->SetParent(Form);
    pages->SetBounds(0, 0, 300, 200);
    auto *first = new TTabSheet(Form);
    first->SetCaption("First");
    first->SetPageControl(pages);
    auto *second = new TTabSheet(Form);
    second->SetCaption("Second");
    second->SetPageControl(pages);
    EXPECT_EQ(pages->ActivePage(), first);
    EXPECT_TRUE(first->Visible());
    EXPECT_FALSE(second->Visible());
    EXPECT_EQ(TabCtrl_GetItemCount(pages->Handle()), 2);
    // The page fills the display area inside the tabs.
    EXPECT_GT(first->Top(), 0);
    EXPECT_LT(first->Width(), 300);
    PageWatcher watcher;
    pages->OnChanging = MakeEvent<&PageWatcher::Changing>(&watcher);
    pages->OnChange = MakeNotifyEvent<&PageWatcher::Change>(&watcher);
    // A click on the second tab, as the tab control reports it.
    RECT tab;
    TabCtrl_GetItemRect(pages->Handle(), 1, &tab);
    LPARAM at = MAKELPARAM((tab.left + tab.right) / 2, (tab.top + tab.bottom) / 2);
    watcher.Allow = false;
    SendMessageA(pages->Handle(), WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageA(pages->Handle(), WM_LBUTTONUP, 0, at);
    EXPECT_EQ(pages->ActivePage(), first);
    watcher.Allow = true;
    SendMessageA(pages->Handle(), WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageA(pages->Handle(), WM_LBUTTONUP, 0, at);
    EXPECT_EQ(pages->ActivePage(), second);
    EXPECT_EQ(watcher.Changes, 1);
    EXPECT_TRUE(second->Visible());
    EXPECT_FALSE(first->Visible());
    delete first;
    EXPECT_EQ(pages->PageCount(), 1);
    EXPECT_EQ(TabCtrl_GetItemCount(pages->Handle()), 1);
}

TEST_F(StatefulControlsTest, FormDockedInAControlBecomesAChildWindowAndFloatsAgain) {
    auto *panel = new TPanel(Form);
    panel->SetParent(Form);
    panel->SetAlign(alClient);
    panel->SetBevelOuter(bvNone);
    auto *tool = new TForm(Form);
    tool->SetBounds(500, 100, 200, 150);
    auto *edit = new TEdit(tool);
    edit->SetParent(tool);
    edit->SetText("kept");
    tool->Show();
    HWND floating = tool->Handle();
    EXPECT_EQ(GetWindowLongA(floating, GWL_STYLE) & WS_CHILD, 0);
    tool->SetParent(panel);
    tool->SetAlign(alClient);
    tool->Show();
    EXPECT_FALSE(IsWindow(floating));
    EXPECT_NE(GetWindowLongA(tool->Handle(), GWL_STYLE) & WS_CHILD, 0);
    EXPECT_EQ(GetParent(tool->Handle()), panel->Handle());
    EXPECT_EQ(tool->Width(), panel->ClientWidth());
    EXPECT_EQ(edit->Text(), "kept");
    tool->SetParent(nullptr);
    tool->SetAlign(alNone);
    tool->Show();
    EXPECT_EQ(GetWindowLongA(tool->Handle(), GWL_STYLE) & WS_CHILD, 0);
    EXPECT_EQ(edit->Text(), "kept");
}

TEST_F(StatefulControlsTest, CheckAndRadioStatesSurviveANewWindow) {
    auto *check = new TCheckBox(Form);
    check->SetParent(Form);
    auto *radio1 = new TRadioButton(Form);
    radio1->SetParent(Form);
    radio1->SetTop(30);
    auto *radio2 = new TRadioButton(Form);
    radio2->SetParent(Form);
    radio2->SetTop(60);
    check->SetChecked(true);
    radio1->SetChecked(true);
    radio2->SetChecked(true);
    EXPECT_FALSE(radio1->Checked());
    SendMessageA(check->Handle(), BM_CLICK, 0, 0); // the user unchecks it
    EXPECT_FALSE(check->Checked());
    SendMessageA(check->Handle(), BM_CLICK, 0, 0);
    Form->RecreateWnd();
    EXPECT_TRUE(check->Checked());
    EXPECT_EQ(SendMessageA(check->Handle(), BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_TRUE(radio2->Checked());
    EXPECT_FALSE(radio1->Checked());
}

} // namespace

namespace {

struct HintWatcher {
    int Changes = 0;
    std::string Last;
    void Hint(TObject *) {
        ++Changes;
        Last = Application->Hint();
    }
};

class HintTest : public HostFormTest {};

TEST_F(HintTest, LongHintGoesToTheApplicationAndTheShortOnePopsUp) {
    auto *button = new TButton(Form);
    button->SetParent(Form);
    button->SetBounds(20, 20, 80, 25);
    button->SetHint("Export|Exports the image");
    button->SetShowHint(true);
    HintWatcher watcher;
    Application->OnHint = MakeNotifyEvent<&HintWatcher::Hint>(&watcher);
    TPoint pos = button->ClientToScreen({10, 10});
    ASSERT_TRUE(MovePointer(pos));
    PostMessageA(button->Handle(), WM_MOUSEMOVE, 0, MAKELPARAM(10, 10));
    EXPECT_TRUE(PumpUntil([&] { return watcher.Last == "Exports the image"; }));
    EXPECT_TRUE(PumpUntil([] {
        return Application->HintWindow() && Application->HintWindow()->HandleAllocated() &&
               IsWindowVisible(Application->HintWindow()->Handle());
    }));
    EXPECT_EQ(Application->HintWindow()->Text(), "Export");
    // Cancelling (as a key press does) hides it.
    Application->CancelHint();
    EXPECT_FALSE(IsWindowVisible(Application->HintWindow()->Handle()));
    Application->OnHint = nullptr;
}

} // namespace
