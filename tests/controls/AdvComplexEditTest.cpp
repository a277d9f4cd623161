// The complex-number edit and the shared edit popup: the complex clipboard text, the clipboard
// hooks, the items the popup offers per control class and the eyedropper button.
#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "../WindowTestSupport.h"
#include "AdvCtrls.h"
#include "Clipbrd.h"

using namespace window_test;

namespace {

struct ComplexWatcher {
    std::string CopyRe, CopyIm;
    std::vector<std::pair<std::string, std::string>> Pastes;
    std::vector<uint8_t> CopyKinds;
    bool RefuseComplexPaste = false;
    int Eyedroppers = 0;
    void Copy(TObject *, std::string &Re, std::string &Im) {
        Re = CopyRe;
        Im = CopyIm;
    }
    void Paste(TObject *, const std::string &Re, const std::string &Im) { Pastes.emplace_back(Re, Im); }
    void Copied(uint8_t Kind) { CopyKinds.push_back(Kind); }
    void CanPaste(uint8_t Kind, bool &CanPaste) {
        if (Kind == ckComplex && RefuseComplexPaste)
            CanPaste = false;
    }
    void Eyedropper(TObject *) { ++Eyedroppers; }
};

class AdvComplexEditTest : public HostFormTest {
protected:
    void SetUp() override {
        HostFormTest::SetUp();
        Edit = new TAdvComplexEdit(Form);
        Edit->SetParent(Form);
        Edit->SetBounds(10, 10, 120, 21);
        Edit->OnComplexCopy = MakeEvent<&ComplexWatcher::Copy>(&Watcher);
        Edit->OnComplexPaste = MakeEvent<&ComplexWatcher::Paste>(&Watcher);
        Edit->OnEyedropper = MakeNotifyEvent<&ComplexWatcher::Eyedropper>(&Watcher);
        SetClipboardHooks(MakeEvent<&ComplexWatcher::Copied>(&Watcher),
                          MakeEvent<&ComplexWatcher::CanPaste>(&Watcher));
    }
    void TearDown() override {
        SetClipboardHooks(nullptr, nullptr);
        HostFormTest::TearDown();
    }
    static TMenuItem *Item(const char *Name) {
        TPopupMenu &menu = AdvEditMenu();
        for (int i = 0; i < menu.Items().Count(); ++i)
            if (menu.Items()[i]->Name() == Name)
                return menu.Items()[i];
        ADD_FAILURE() << Name;
        return menu.Items()[0];
    }
    TAdvComplexEdit *Edit;
    ComplexWatcher Watcher;
};

TEST_F(AdvComplexEditTest, PasteSplitsAtTheFirstSlashAndIgnoresTextWithoutOne) {
    struct Case {
        const char *Text;
        bool Pasted;
        const char *Re, *Im;
    } cases[] = {
        {"1/2/3", true, "1", "2/3"}, {"1.5/-2", true, "1.5", "-2"}, {"/4", true, "", "4"},
        {"12", false, "", ""},       {"", false, "", ""},
    };
    for (const Case &c : cases) {
        Watcher.Pastes.clear();
        Clipboard().SetAsText(c.Text);
        Edit->PasteComplexValue();
        ASSERT_EQ(Watcher.Pastes.size(), c.Pasted ? 1u : 0u) << c.Text;
        if (c.Pasted) {
            EXPECT_EQ(Watcher.Pastes[0].first, c.Re) << c.Text;
            EXPECT_EQ(Watcher.Pastes[0].second, c.Im) << c.Text;
        }
    }
    // Ctrl+Shift+V typed in the box pastes the same way, unless the paste hook refuses.
    Edit->SetFocus();
    ASSERT_TRUE(PumpUntil([&] { return Edit->Focused(); }));
    Clipboard().SetAsText("7/8");
    for (bool refuse : {false, true}) {
        Watcher.Pastes.clear();
        Watcher.RefuseComplexPaste = refuse;
        SendKeys({VK_CONTROL, VK_SHIFT, 'V'});
        PumpUntil([&] { return !Watcher.Pastes.empty(); }, refuse ? 300 : 5000);
        EXPECT_EQ(Watcher.Pastes.size(), refuse ? 0u : 1u) << refuse;
    }
    EXPECT_EQ(Edit->Text(), ""); // the key went nowhere else

    // Shift+Ins pastes the plain text once: the edit field does not run the key a second time.
    Clipboard().SetAsText("ab");
    SendKeys({VK_SHIFT, VK_INSERT});
    EXPECT_TRUE(PumpUntil([&] { return !Edit->Text().empty(); }));
    PumpPending();
    EXPECT_EQ(Edit->Text(), "ab");
}

TEST_F(AdvComplexEditTest, CopyNotifiesTheKindThatIsReallyOnTheClipboard) {
    struct Case {
        const char *Re, *Im;
        const char *Clipboard; // afterwards
        uint8_t Kind;
    } cases[] = {
        {"0.25", "-1e-3", "0.25/-1e-3", ckComplex},
        {"3", "", "before", ckPlainText}, // nothing copied: the clipboard still holds plain text
        {"", "4", "before", ckPlainText},
    };
    for (const Case &c : cases) {
        Clipboard().SetAsText("before");
        Watcher.CopyKinds.clear();
        Watcher.CopyRe = c.Re;
        Watcher.CopyIm = c.Im;
        Edit->CopyComplexValue();
        EXPECT_EQ(Clipboard().AsText(), c.Clipboard) << c.Re << "/" << c.Im;
        EXPECT_EQ(Watcher.CopyKinds, std::vector<uint8_t>{c.Kind}) << c.Re << "/" << c.Im;
    }
    // The menu's plain copy and cut of a complex edit put the selection there as plain text,
    // once: the edit's own clipboard messages do nothing.
    Edit->SetText("1.5e3");
    Edit->SetSelStart(1);
    Edit->SetSelLength(3);
    Watcher.CopyKinds.clear();
    ASSERT_TRUE(PrepareAdvEditMenu(Edit));
    Item("CutItem")->Click();
    EXPECT_EQ(Clipboard().AsText(), ".5e");
    EXPECT_EQ(Edit->Text(), "13");
    EXPECT_EQ(Watcher.CopyKinds, std::vector<uint8_t>{ckPlainText});
    SendMessageA(Edit->Handle(), WM_PASTE, 0, 0);
    EXPECT_EQ(Edit->Text(), "13");
}

TEST_F(AdvComplexEditTest, PopupOffersWhatTheControlAndTheHooksAllow) {
    Clipboard().SetAsText("1/2");
    Edit->SetText("12");
    Edit->SetSelStart(0);
    Edit->SetSelLength(0);
    ASSERT_TRUE(PrepareAdvEditMenu(Edit));
    EXPECT_EQ(AdvEditMenu().PopupComponent(), Edit);
    for (const char *name : {"EyedropperItem", "N1", "CopyComplexItem", "PasteComplexItem", "N2"})
        EXPECT_TRUE(Item(name)->Visible()) << name;
    EXPECT_EQ(Item("PasteComplexItem")->Caption(), "Pa&ste Complex Value");
    EXPECT_EQ(ShortCutToText(Item("PasteComplexItem")->ShortCut()), "Ctrl+Shift+V");
    EXPECT_TRUE(Item("PasteComplexItem")->Enabled());
    EXPECT_TRUE(Item("PasteItem")->Enabled());
    for (const char *name : {"CutItem", "CopyItem", "DeleteItem"})
        EXPECT_FALSE(Item(name)->Enabled()) << name; // nothing selected
    EXPECT_TRUE(Item("SelectAllItem")->Enabled());
    EXPECT_FALSE(Item("EyedropperItem")->Checked());

    // A paste hook refusing complex values disables only the complex paste.
    Watcher.RefuseComplexPaste = true;
    PrepareAdvEditMenu(Edit);
    EXPECT_FALSE(Item("PasteComplexItem")->Enabled());
    EXPECT_TRUE(Item("PasteItem")->Enabled());
    Watcher.RefuseComplexPaste = false;

    // A plain edit with all of its text selected: no complex items, no "Select All".
    auto *plain = new TAdvEdit(Form);
    plain->SetParent(Form);
    plain->SetBounds(10, 40, 120, 21);
    plain->SetText("abc");
    plain->SelectAll();
    ASSERT_TRUE(PrepareAdvEditMenu(plain));
    for (const char *name : {"EyedropperItem", "N1", "CopyComplexItem", "PasteComplexItem", "N2"})
        EXPECT_FALSE(Item(name)->Visible()) << name;
    EXPECT_TRUE(Item("CutItem")->Enabled());
    EXPECT_FALSE(Item("SelectAllItem")->Enabled());
    // The plain edit's copy goes through the edit and tells the hook about plain text.
    Watcher.CopyKinds.clear();
    Item("CopyItem")->Click();
    EXPECT_EQ(Clipboard().AsText(), "abc");
    EXPECT_EQ(Watcher.CopyKinds, std::vector<uint8_t>{ckPlainText});

    // An empty clipboard offers no paste; a control of another class gets no menu.
    Clipboard().Clear();
    PrepareAdvEditMenu(Edit);
    EXPECT_FALSE(Item("PasteItem")->Enabled());
    EXPECT_FALSE(Item("PasteComplexItem")->Enabled());
    auto *button = new TButton(Form);
    EXPECT_FALSE(PrepareAdvEditMenu(button));
}

void CALLBACK EndShownMenu(HWND, UINT, UINT_PTR Timer, DWORD) {
    KillTimer(nullptr, Timer);
    EndMenu();
}

TEST_F(AdvComplexEditTest, ContextRequestsOfEveryEditKindShowTheSharedMenu) {
    auto *memo = new TAdvMemo(Form);
    memo->SetParent(Form);
    memo->SetBounds(10, 40, 120, 60);
    auto *combo = new TAdvComboBox(Form);
    combo->SetParent(Form);
    combo->SetBounds(10, 110, 120, 21);
    TPopupMenu &menu = AdvEditMenu();
    struct Case {
        const char *Name;
        TControl *Control;
        HWND Window; // that gets the request
        LPARAM Pos;
        TPoint Expected; // where the menu shows
    } cases[] = {
        {"edit, keyboard", Edit, Edit->Handle(), MAKELPARAM(-1, -1), Edit->ClientToScreen({4, 4})},
        {"edit, mouse", Edit, Edit->Handle(), MAKELPARAM(100, 90), {100, 90}},
        {"memo", memo, memo->Handle(), MAKELPARAM(70, 60), {70, 60}},
        {"combo box's edit field", combo, combo->EditHandle(), MAKELPARAM(-1, -1),
         combo->ClientToScreen({4, 4})},
    };
    for (const Case &c : cases) {
        menu.SetPopupComponent(nullptr);
        SetTimer(nullptr, 0, 30, EndShownMenu);
        SendMessageA(c.Window, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(c.Window), c.Pos);
        EXPECT_EQ(menu.PopupComponent(), c.Control) << c.Name;
        EXPECT_EQ(menu.PopupPoint().X, c.Expected.X) << c.Name;
        EXPECT_EQ(menu.PopupPoint().Y, c.Expected.Y) << c.Name;
    }
    // A control with a menu of its own shows that one.
    TPopupMenu own(nullptr);
    own.Items().Add(new TMenuItem(&own));
    Edit->SetPopupMenu(&own);
    menu.SetPopupComponent(nullptr);
    SetTimer(nullptr, 0, 30, EndShownMenu);
    SendMessageA(Edit->Handle(), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(Edit->Handle()),
                 MAKELPARAM(50, 50));
    EXPECT_EQ(own.PopupComponent(), Edit);
    EXPECT_EQ(menu.PopupComponent(), nullptr);
    Edit->SetPopupMenu(nullptr);
}

TEST_F(AdvComplexEditTest, EyedropperPanelSwitchesOffFromItsOwnClick) {
    Edit->DoEyedropper();
    EXPECT_TRUE(Edit->Eyedropping());
    EXPECT_EQ(Watcher.Eyedroppers, 1);
    TEyedropPanel *panel = Edit->EyedropPanel();
    ASSERT_TRUE(panel);
    // A square of the client height at the right end of the box's client area.
    TPoint origin = Form->ScreenToClient(Edit->ClientOrigin());
    EXPECT_EQ(panel->Width(), Edit->ClientHeight());
    EXPECT_EQ(panel->Height(), Edit->ClientHeight());
    EXPECT_EQ(panel->Left(), origin.X + Edit->ClientWidth() - Edit->ClientHeight());
    EXPECT_EQ(panel->Top(), origin.Y);
    EXPECT_EQ(panel->Parent(), Form);
    PrepareAdvEditMenu(Edit);
    EXPECT_TRUE(Item("EyedropperItem")->Checked());

    // The click runs to its end on a panel that is still there; the panel goes afterwards.
    LPARAM at = MAKELPARAM(2, 2);
    SendMessageA(panel->Handle(), WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageA(panel->Handle(), WM_LBUTTONUP, 0, at);
    EXPECT_FALSE(Edit->Eyedropping());
    EXPECT_EQ(Watcher.Eyedroppers, 2);
    EXPECT_EQ(Edit->EyedropPanel(), panel);
    EXPECT_TRUE(PumpUntil([&] { return Edit->EyedropPanel() == nullptr; }));
}

} // namespace
