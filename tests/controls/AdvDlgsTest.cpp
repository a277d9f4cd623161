// The program's message box: captions, button order, default and cancel buttons and the
// result of the key that closes it.
#include <windows.h>

#include <dlgs.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "../WindowTestSupport.h"
#include "AdvDlgs.h"

using namespace window_test;

namespace {

TEST(MessageDialogTest, ConfirmationButtonsInOrderWithYesDefaultAndCancelCancelling) {
    auto form = CreateAdvMessageDialog("Save the changes?", mtConfirmation, {mbCancel, mbNo, mbYes});
    EXPECT_EQ(form->Caption(), "Confirmation");
    auto *yes = dynamic_cast<TButton *>(form->FindComponent("Yes"));
    auto *no = dynamic_cast<TButton *>(form->FindComponent("No"));
    auto *cancel = dynamic_cast<TButton *>(form->FindComponent("Cancel"));
    ASSERT_TRUE(yes && no && cancel);
    EXPECT_EQ(yes->Caption(), "&Yes");
    EXPECT_EQ(no->Caption(), "&No");
    EXPECT_EQ(cancel->Caption(), "Cancel");
    EXPECT_LT(yes->Left(), no->Left());
    EXPECT_LT(no->Left(), cancel->Left());
    EXPECT_EQ(yes->Top(), cancel->Top());
    EXPECT_TRUE(yes->Default());
    EXPECT_FALSE(no->Default() || cancel->Default());
    EXPECT_TRUE(cancel->Cancel());
    EXPECT_FALSE(yes->Cancel() || no->Cancel());
    EXPECT_EQ(yes->ModalResult(), mrYes);
    EXPECT_EQ(no->ModalResult(), mrNo);
    EXPECT_EQ(cancel->ModalResult(), mrCancel);
    // The group of buttons is centred below the text, inside the form.
    int groupLeft = yes->Left(), groupRight = cancel->Left() + cancel->Width();
    EXPECT_LE(std::abs(groupLeft - (form->ClientWidth() - groupRight)), 1);
    auto *message = dynamic_cast<TControl *>(form->FindComponent("Message"));
    ASSERT_TRUE(message);
    EXPECT_GE(yes->Top(), message->Top() + message->Height());
    EXPECT_LE(yes->Top() + yes->Height(), form->ClientHeight());
    EXPECT_TRUE(form->FindComponent("Image"));
}

TEST(MessageDialogTest, DefaultAndCancelButtonsFollowThePresentButtons) {
    struct Case {
        TMsgDlgButtons Buttons;
        const char *Default, *Cancel;
    } cases[] = {
        {{mbOK}, "OK", "OK"},
        {{mbYes, mbNo}, "Yes", "No"},
        {{mbOK, mbCancel, mbHelp}, "OK", "Cancel"},
        {{mbAbort, mbRetry, mbIgnore}, "Retry", nullptr},
    };
    for (const Case &c : cases) {
        auto form = CreateAdvMessageDialog("Text", mtCustom, c.Buttons);
        EXPECT_FALSE(form->FindComponent("Image")); // a custom box has no icon
        for (int i = 0; i < form->ComponentCount(); ++i)
            if (auto *button = dynamic_cast<TButton *>(form->Components(i))) {
                EXPECT_EQ(button->Default(), button->Name() == c.Default)
                    << c.Default << " " << button->Name();
                EXPECT_EQ(button->Cancel(), c.Cancel && button->Name() == c.Cancel) << button->Name();
            }
    }
}

// Presses a key in the message box once it is up (or, for key 0, closes the box as its close
// box does), from a timer of the box's own message loop.
WORD KeyToPress = 0;
int Ticks = 0;
void CALLBACK PressKeyInDialog(HWND, UINT, UINT_PTR Timer, DWORD) {
    HWND focus = GetFocus();
    if (++Ticks > 400 && focus) {
        // The key did nothing: close the box, so that the test fails instead of waiting forever.
        KillTimer(nullptr, Timer);
        PostMessageA(GetAncestor(focus, GA_ROOT), WM_CLOSE, 0, 0);
        return;
    }
    if (!focus || !IsWindowVisible(GetAncestor(focus, GA_ROOT)))
        return; // not shown yet
    KillTimer(nullptr, Timer);
    if (KeyToPress == 0) {
        PostMessageA(GetAncestor(focus, GA_ROOT), WM_CLOSE, 0, 0);
        return;
    }
    PostMessageA(focus, WM_KEYDOWN, KeyToPress, 1);
    PostMessageA(focus, WM_KEYUP, KeyToPress, 0xC0000001);
}

// Escape presses the cancel button: Cancel, else No, else OK. So a box with OK only answers
// Escape with OK (1); only closing the window itself gives Cancel (2).
TEST(MessageDialogTest, EscapePressesTheCancelButtonAndEnterTheDefault) {
    struct Case {
        TMsgDlgButtons Buttons;
        WORD Key; // 0: the window is closed
        int Result;
    } cases[] = {
        {{mbYes, mbNo, mbCancel}, VK_ESCAPE, mrCancel},
        {{mbYes, mbNo, mbCancel}, VK_RETURN, mrYes},
        {{mbYes, mbNo}, VK_ESCAPE, mrNo},
        {{mbOK}, VK_ESCAPE, mrOk},
        {{mbOK}, VK_RETURN, mrOk},
        {{mbOK}, 0, mrCancel},
    };
    for (const Case &c : cases) {
        KeyToPress = c.Key;
        Ticks = 0;
        UINT_PTR timer = SetTimer(nullptr, 0, 50, PressKeyInDialog);
        int result = AdvMessageDlg("Go on?", mtConfirmation, c.Buttons, 0);
        KillTimer(nullptr, timer);
        EXPECT_EQ(result, c.Result) << c.Key;
    }
}

// ---------------------------------------------------------------------------------------------
// Find and replace dialogs

BOOL CALLBACK CollectDialog(HWND Window, LPARAM Data) {
    char name[16] = {};
    GetClassNameA(Window, name, sizeof(name));
    if (std::string(name) == "#32770" && IsWindowVisible(Window))
        reinterpret_cast<std::vector<HWND> *>(Data)->push_back(Window);
    return TRUE;
}

// The visible dialog windows of this thread.
std::vector<HWND> ThreadDialogs() {
    std::vector<HWND> dialogs;
    EnumThreadWindows(GetCurrentThreadId(), CollectDialog, reinterpret_cast<LPARAM>(&dialogs));
    return dialogs;
}

using XY = std::pair<int, int>;

XY At(TPoint P) {
    return {P.X, P.Y};
}

XY WindowTopLeft(HWND Window) {
    RECT r;
    GetWindowRect(Window, &r);
    return {r.left, r.top};
}

struct FindWatcher {
    std::vector<std::string> Events;
    TAdvFindDialog *Dialog = nullptr;
    void Find(TObject *) { Events.push_back("find " + Dialog->FindText()); }
    void Replace(TObject *) { Events.push_back("replace " + Dialog->FindText()); }
    void Close(TObject *) { Events.push_back("close"); }
};

class FindDialogTest : public HostFormTest {
protected:
    void TearDown() override {
        HostFormTest::TearDown();
        FinalizeAdvDlgs();
    }
    // The user's Cancel: the dialog reports its end and closes.
    static void Cancel(HWND Dialog) {
        SendMessageA(Dialog, WM_COMMAND, IDCANCEL, 0);
        PumpPending();
    }
};

TEST_F(FindDialogTest, OpeningTwiceShowsOneDialogThatReopensWhereItWasLeft) {
    auto *dialog = new TAdvFindDialog(Form);
    int windowsBefore = ThreadWindowCount();
    ASSERT_TRUE(dialog->Execute());
    HWND window = dialog->DialogHandle();
    ASSERT_TRUE(window);
    EXPECT_TRUE(dialog->Execute());
    EXPECT_EQ(dialog->DialogHandle(), window);
    EXPECT_EQ(ThreadDialogs(), std::vector<HWND>{window});
    // Owned by the hidden redirector, which the form owns.
    HWND redirector = GetWindow(window, GW_OWNER);
    ASSERT_TRUE(redirector);
    EXPECT_FALSE(IsWindowVisible(redirector));
    EXPECT_EQ(GetWindow(redirector, GW_OWNER), Form->Handle());

    // The user moves it and closes it; the next opening shows it there.
    SetWindowPos(window, nullptr, 123, 97, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    EXPECT_EQ(At(dialog->Position()), (XY{123, 97}));
    Cancel(window);
    EXPECT_EQ(dialog->DialogHandle(), nullptr);
    EXPECT_TRUE(ThreadDialogs().empty());
    EXPECT_EQ(At(dialog->Position()), (XY{123, 97}));
    EXPECT_TRUE(PumpUntil([&] { return ThreadWindowCount() == windowsBefore; })); // redirector freed
    ASSERT_TRUE(dialog->Execute());
    EXPECT_EQ(WindowTopLeft(dialog->DialogHandle()), (XY{123, 97}));

    // Freeing the component takes the open dialog and the redirector with it.
    HWND reopened = dialog->DialogHandle();
    delete dialog;
    EXPECT_FALSE(IsWindow(reopened));
    EXPECT_EQ(Application->DialogHandle(), nullptr);
    EXPECT_EQ(ThreadWindowCount(), windowsBefore);
}

TEST_F(FindDialogTest, SavedPositionIsUsedOnlyOnAMonitor) {
    RECT work;
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    struct Case {
        TPoint Saved;
        bool Centred;
    } cases[] = {
        {{-1, -1}, true},
        {{40, 30}, false},
        {{-5000, -5000}, true},        // a monitor that is gone
        {{work.right + 10, 30}, true}, // right of the only monitor
        {{work.left, work.top}, false},
    };
    auto *dialog = new TAdvFindDialog(Form);
    for (const Case &c : cases) {
        dialog->SetPosition(c.Saved);
        ASSERT_TRUE(dialog->Execute());
        HWND window = dialog->DialogHandle();
        RECT r;
        GetWindowRect(window, &r);
        XY expected = At(c.Saved);
        if (c.Centred) // horizontally centred, at a third of the free height
            expected = {work.left + (work.right - work.left - (r.right - r.left)) / 2,
                        work.top + (work.bottom - work.top - (r.bottom - r.top)) / 3};
        EXPECT_EQ(WindowTopLeft(window), expected) << c.Saved.X << "," << c.Saved.Y;
        Cancel(window);
    }
    // Setting the position moves an open dialog.
    ASSERT_TRUE(dialog->Execute());
    dialog->SetPosition({60, 50});
    EXPECT_EQ(WindowTopLeft(dialog->DialogHandle()), (XY{60, 50}));
    dialog->CloseDialog();
    EXPECT_TRUE(PumpUntil([&] { return dialog->DialogHandle() == nullptr; }));
    EXPECT_EQ(At(dialog->Position()), (XY{60, 50}));
    delete dialog;
}

TEST_F(FindDialogTest, RequestsFireTheirEventsWithTheDialogsTextAndOptions) {
    FindWatcher watcher;
    auto *find = new TAdvFindDialog(Form);
    watcher.Dialog = find;
    find->OnFind = MakeNotifyEvent<&FindWatcher::Find>(&watcher);
    find->OnClose = MakeNotifyEvent<&FindWatcher::Close>(&watcher);
    find->SetFindText(std::string(300, 'x'));
    EXPECT_EQ(find->FindText().size(), 255u);
    find->SetFindText("julia");
    find->SetOptions(FindOption(frDown) | FindOption(frMatchCase));
    ASSERT_TRUE(find->Execute());
    HWND window = find->DialogHandle();
    char text[64] = {};
    GetDlgItemTextA(window, edt1, text, sizeof(text));
    EXPECT_STREQ(text, "julia");
    EXPECT_EQ(Application->DialogHandle(), window); // its keys go through the message loop
    SetDlgItemTextA(window, edt1, "mandel");
    SendMessageA(window, WM_COMMAND, IDOK, 0); // Find Next
    Cancel(window);
    EXPECT_EQ(watcher.Events, (std::vector<std::string>{"find mandel", "close"}));
    EXPECT_TRUE(find->Options() & FindOption(frMatchCase));
    EXPECT_TRUE(find->Options() & FindOption(frDown));
    EXPECT_EQ(Application->DialogHandle(), nullptr);

    watcher.Events.clear();
    auto *replace = new TAdvReplaceDialog(Form);
    watcher.Dialog = replace;
    replace->OnReplace = MakeNotifyEvent<&FindWatcher::Replace>(&watcher);
    replace->SetFindText("a");
    replace->SetReplaceText("b");
    ASSERT_TRUE(replace->Execute());
    window = replace->DialogHandle();
    GetDlgItemTextA(window, edt2, text, sizeof(text));
    EXPECT_STREQ(text, "b");
    SetDlgItemTextA(window, edt2, "z^2+c");
    SendMessageA(window, WM_COMMAND, psh2, 0); // Replace All
    EXPECT_EQ(watcher.Events, (std::vector<std::string>{"replace a"}));
    EXPECT_EQ(replace->ReplaceText(), "z^2+c");
    EXPECT_TRUE(replace->Options() & FindOption(frReplaceAll));
    Cancel(window);
}

} // namespace
