// The program's message box: captions, button order, default and cancel buttons and the
// result of the key that closes it.
#include <windows.h>

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

// Presses a key in the message box once it is up, from a timer of the box's own message loop.
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
    PostMessageA(focus, WM_KEYDOWN, KeyToPress, 1);
    PostMessageA(focus, WM_KEYUP, KeyToPress, 0xC0000001);
}

TEST(MessageDialogTest, EscapeGivesCancelAndEnterGivesTheDefault) {
    struct Case {
        WORD Key;
        int Result;
    } cases[] = {{VK_ESCAPE, mrCancel}, {VK_RETURN, mrYes}};
    for (const Case &c : cases) {
        KeyToPress = c.Key;
        Ticks = 0;
        UINT_PTR timer = SetTimer(nullptr, 0, 50, PressKeyInDialog);
        int result = AdvMessageDlg("Go on?", mtConfirmation, {mbYes, mbNo, mbCancel}, 0);
        KillTimer(nullptr, timer);
        EXPECT_EQ(result, c.Result) << c.Key;
    }
}

} // namespace
