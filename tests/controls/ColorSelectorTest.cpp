// The colour selector: the clipboard number, which changes are reported, and its shared menu.
#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "../WindowTestSupport.h"
#include "Clipbrd.h"
#include "ColorSelector.h"

using namespace window_test;

namespace {

class ColorSelectorEnvironment : public testing::Environment {
public:
    void TearDown() override { FinalizeColorSelector(); }
};

const auto *const Environment = testing::AddGlobalTestEnvironment(new ColorSelectorEnvironment);

struct SelectorWatcher {
    int Changes = 0, Eyedroppers = 0, Copies = 0;
    uint8_t CopyKind = 255;
    bool RefusePaste = false;
    TColorSelector *Selector = nullptr;
    void Changed(TObject *) { ++Changes; }
    void Eyedropper(TObject *) { ++Eyedroppers; }
    // The owner's colour dialog choosing a colour while it is open.
    void Select(TObject *) {
        EXPECT_TRUE(Selector->InSelect());
        Selector->SetSelectedColor(0x00FF00);
    }
    void Copied(uint8_t Kind) {
        ++Copies;
        CopyKind = Kind;
    }
    void Paste(uint8_t, bool &CanPaste) {
        if (RefusePaste)
            CanPaste = false;
    }
};

void CALLBACK EndShownMenu(HWND, UINT, UINT_PTR Timer, DWORD) {
    KillTimer(nullptr, Timer);
    EndMenu();
}

class ColorSelectorTest : public HostFormTest {
protected:
    void SetUp() override {
        HostFormTest::SetUp();
        Selector = MakeSelector();
        Watcher.Selector = Selector;
        SetClipboardHooks(MakeEvent<&SelectorWatcher::Copied>(&Watcher),
                          MakeEvent<&SelectorWatcher::Paste>(&Watcher));
    }
    void TearDown() override {
        SetClipboardHooks(nullptr, nullptr);
        HostFormTest::TearDown();
    }
    TColorSelector *MakeSelector() {
        auto *selector = new TColorSelector(Form);
        selector->SetParent(Form);
        selector->SetLeft(10);
        selector->SetTop(10);
        selector->OnChange = MakeNotifyEvent<&SelectorWatcher::Changed>(&Watcher);
        selector->OnEyedropper = MakeNotifyEvent<&SelectorWatcher::Eyedropper>(&Watcher);
        return selector;
    }
    // Runs an item of the shared menu for a selector, as the user's choice does.
    static TMenuItem *MenuFor(TColorSelector *Selector, const char *Name) {
        TPopupMenu &menu = ColorSelectorMenu();
        menu.SetPopupComponent(Selector);
        menu.OnPopup(&menu);
        for (int i = 0; i < menu.Items().Count(); ++i)
            if (menu.Items()[i]->Name() == Name)
                return menu.Items()[i];
        ADD_FAILURE() << Name;
        return nullptr;
    }
    TColorSelector *Selector;
    SelectorWatcher Watcher;
};

TEST_F(ColorSelectorTest, CopyGivesTheNumberAndPasteRestoresIt) {
    EXPECT_EQ(Selector->Width(), 105);
    EXPECT_EQ(Selector->Height(), 21);
    // A right click shows the shared menu for this selector (ended from a timer of its loop).
    SetTimer(nullptr, 0, 30, EndShownMenu);
    LPARAM at = MAKELPARAM(Selector->Left() + 20, Selector->Top() + 10);
    SendMessageA(Form->Handle(), WM_RBUTTONDOWN, MK_RBUTTON, at);
    SendMessageA(Form->Handle(), WM_RBUTTONUP, 0, at);
    EXPECT_EQ(ColorSelectorMenu().PopupComponent(), Selector);
    struct Case {
        TColor Color;
        int Opacity;
        const char *Text; // opacity * 2^24 + colour, worked out by hand
    } cases[] = {
        {0x123456, 128, "2148676694"},
        {0x0000FF, 255, "4278190335"},
        {0xFFFFFF, 0, "16777215"},
        {0x000000, 1, "16777216"},
    };
    TColorSelector *target = MakeSelector();
    for (const Case &c : cases) {
        Selector->SetSelection(c.Color, c.Opacity);
        MenuFor(Selector, "CopyItem")->Click();
        EXPECT_EQ(Clipboard().AsText(), c.Text);
        EXPECT_EQ(Watcher.CopyKind, ckColor);
        target->SetSelection(0x808080, 77);
        MenuFor(target, "PasteItem")->Click();
        EXPECT_EQ(target->SelectedColor(), c.Color) << c.Text;
        EXPECT_EQ(target->SelectedOpacity(), c.Opacity) << c.Text;
        EXPECT_EQ(target->Color(), c.Color) << c.Text; // shown in the box too
        EXPECT_EQ(target->Opacity(), c.Opacity) << c.Text;
    }
    EXPECT_EQ(Watcher.Copies, 4);
    // Texts that are no integer change nothing and raise nothing.
    target->SetSelection(0x010203, 40);
    int changes = Watcher.Changes;
    for (const char *text : {"abc", "12x", "", " ", "1.5"}) {
        Clipboard().SetAsText(text);
        target->PasteColor();
        EXPECT_EQ(target->SelectedColor(), 0x010203) << text;
        EXPECT_EQ(target->SelectedOpacity(), 40) << text;
    }
    EXPECT_EQ(Watcher.Changes, changes);
}

TEST_F(ColorSelectorTest, ChangesDuringSelectWithoutPreviewAndWhileEyedroppingAreNotReported) {
    Selector->OnSelect = MakeNotifyEvent<&SelectorWatcher::Select>(&Watcher);
    for (bool preview : {true, false}) {
        Selector->SetSelection(0, 255);
        Selector->SetPreviewEnabled(preview);
        Watcher.Changes = 0;
        // A click on the selector opens the owner's dialog.
        LPARAM at = MAKELPARAM(Selector->Left() + 20, Selector->Top() + 10);
        SendMessageA(Form->Handle(), WM_LBUTTONDOWN, MK_LBUTTON, at);
        SendMessageA(Form->Handle(), WM_LBUTTONUP, 0, at);
        EXPECT_EQ(Selector->SelectedColor(), 0x00FF00) << preview;
        EXPECT_EQ(Watcher.Changes, preview ? 1 : 0) << preview;
        EXPECT_FALSE(Selector->InSelect());
        Selector->SetSelectedOpacity(100); // afterwards it is reported
        EXPECT_EQ(Watcher.Changes, preview ? 2 : 1) << preview;
    }
    // The menu toggles eyedropping, ticks its item and tells the owner.
    MenuFor(Selector, "EyedropperItem")->Click();
    EXPECT_TRUE(Selector->Eyedropping());
    EXPECT_EQ(Watcher.Eyedroppers, 1);
    EXPECT_TRUE(MenuFor(Selector, "EyedropperItem")->Checked());
    int changes = Watcher.Changes;
    Selector->SetSelectedColor(0x112233);
    EXPECT_EQ(Watcher.Changes, changes);
    EXPECT_EQ(Selector->Color(), 0x112233); // the preview still follows
}

TEST_F(ColorSelectorTest, PasteIsOfferedOnlyForTextThatTheHookAccepts) {
    Clipboard().SetAsText("1");
    EXPECT_TRUE(MenuFor(Selector, "PasteItem")->Enabled());
    Watcher.RefusePaste = true;
    EXPECT_FALSE(MenuFor(Selector, "PasteItem")->Enabled());
    Watcher.RefusePaste = false;
    Clipboard().Clear();
    EXPECT_FALSE(MenuFor(Selector, "PasteItem")->Enabled());
}

} // namespace
