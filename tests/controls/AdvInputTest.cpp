// Delayed-input edits, combo boxes and memos: one report per finished input, refused texts put
// back, the background colour rule and the combo box's list and window recreation.
#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "../WindowTestSupport.h"
#include "AdvCtrls.h"

using namespace window_test;

namespace {

struct Counter {
    int Count = 0;
    void Notify(TObject *) { ++Count; }
};

struct CopyWatcher {
    int Copies = 0;
    void Copied(uint8_t Kind) {
        EXPECT_EQ(Kind, ckPlainText);
        ++Copies;
    }
};

struct InputWatcher {
    std::vector<std::string> Inputs;
    std::vector<DWORD> Times;
    bool DigitsOnly = false; // the validator refuses any text with other characters
    int Validations = 0;
    void Input(TObject *Sender) {
        Inputs.push_back(static_cast<TControl *>(Sender)->Text());
        Times.push_back(GetTickCount());
    }
    void Validate(TObject *Sender, bool &Valid) {
        ++Validations;
        if (DigitsOnly &&
            static_cast<TControl *>(Sender)->Text().find_first_not_of("0123456789") != std::string::npos)
            Valid = false;
    }
};

class AdvInputTest : public HostFormTest {
protected:
    TAdvEdit *MakeEdit(int Top, InputWatcher &Watcher) {
        auto *edit = new TAdvEdit(Form);
        edit->SetParent(Form);
        edit->SetBounds(10, Top, 120, 21);
        edit->OnInput = MakeNotifyEvent<&InputWatcher::Input>(&Watcher);
        edit->OnValidate = MakeEvent<&InputWatcher::Validate>(&Watcher);
        return edit;
    }
    // Characters as the edit window receives them from typing.
    static void Type(HWND Window, const std::string &Text) {
        for (char c : Text)
            SendMessageA(Window, WM_CHAR, static_cast<unsigned char>(c), 1);
    }
    static void PressEnter(HWND Window) {
        SendMessageA(Window, WM_KEYDOWN, VK_RETURN, 1);
        SendMessageA(Window, WM_CHAR, '\r', 1);
        SendMessageA(Window, WM_KEYUP, VK_RETURN, 0xC0000001);
    }
    // Handles messages for a while, to see that nothing more arrives.
    static void PumpFor(DWORD Ms) {
        PumpUntil([] { return false; }, Ms);
    }
};

TEST_F(AdvInputTest, TypingWithinTheDelayGivesOneInputAndOnlyTheLastControlKeepsTheTimer) {
    InputWatcher first, second;
    TAdvEdit *a = MakeEdit(10, first);
    TAdvEdit *b = MakeEdit(40, second);
    a->SetFocus();
    Type(a->Handle(), "12");
    Type(a->Handle(), "3");
    DWORD typed = GetTickCount();
    EXPECT_TRUE(a->TimerOwned());
    ASSERT_TRUE(PumpUntil([&] { return !first.Inputs.empty(); }, 5000));
    EXPECT_GE(first.Times[0] - typed, 400u); // the 500 ms pause, with the tick's granularity
    PumpFor(700);
    ASSERT_EQ(first.Inputs, std::vector<std::string>{"123"});
    EXPECT_EQ(a->LastText(), "123");
    EXPECT_FALSE(a->TimerOwned());

    // Typing in A and then, within the delay, in B: B takes the timer and A waits for Enter.
    Type(a->Handle(), "4");
    b->SetFocus(); // leaving A reports it
    ASSERT_EQ(first.Inputs.size(), 2u);
    EXPECT_EQ(first.Inputs[1], "1234");
    a->SetFocus();
    Type(a->Handle(), "5");
    EXPECT_TRUE(a->TimerOwned());
    // B's text set by the program while B has no focus: nothing fires, the text is accepted.
    b->SetText("x");
    EXPECT_EQ(b->LastText(), "x");
    EXPECT_TRUE(a->TimerOwned());
    b->SetFocus();
    ASSERT_EQ(first.Inputs.size(), 3u);
    SendMessageA(b->Handle(), EM_SETSEL, 1, 1);
    Type(b->Handle(), "y");
    EXPECT_FALSE(a->TimerOwned());
    EXPECT_TRUE(b->TimerOwned());
    ASSERT_TRUE(PumpUntil([&] { return !second.Inputs.empty(); }, 5000));
    PumpFor(700);
    EXPECT_EQ(first.Inputs.size(), 3u);
    // B reported its empty text when A took the focus back from it.
    EXPECT_EQ(second.Inputs, (std::vector<std::string>{"", "xy"}));
}

// An edit whose owner handles its loss of focus itself, so it sees no exit when another control
// takes the focus (and with it the shared timer).
class TEditWithoutExit : public TAdvEdit {
public:
    using TAdvEdit::TAdvEdit;
    void WndProc(TMessage &Message) override {
        if (Message.Msg == WM_KILLFOCUS)
            DefaultHandler(Message);
        else
            TAdvEdit::WndProc(Message);
    }
};

TEST_F(AdvInputTest, AControlWhoseTimerWasTakenLeavesTheNewOwnersInputAlone) {
    InputWatcher first, second;
    auto *a = new TEditWithoutExit(Form);
    a->SetParent(Form);
    a->SetBounds(10, 10, 120, 21);
    a->OnInput = MakeNotifyEvent<&InputWatcher::Input>(&first);
    TAdvEdit *b = MakeEdit(40, second);
    a->SetFocus();
    Type(a->Handle(), "1");
    ASSERT_TRUE(a->TimerOwned());
    b->SetFocus();
    Type(b->Handle(), "2");
    EXPECT_FALSE(a->TimerOwned());
    ASSERT_TRUE(b->TimerOwned());
    // A goes without an exit while B's input is pending: B's input still arrives.
    delete a;
    EXPECT_TRUE(b->TimerOwned());
    ASSERT_TRUE(PumpUntil([&] { return !second.Inputs.empty(); }, 5000));
    EXPECT_EQ(second.Inputs, std::vector<std::string>{"2"});
    EXPECT_TRUE(first.Inputs.empty());
}

TEST_F(AdvInputTest, WithoutDelayEnterAndLeavingReportAndZeroReportsEveryChange) {
    InputWatcher watcher, other;
    TAdvEdit *edit = MakeEdit(10, watcher);
    TAdvEdit *next = MakeEdit(40, other);
    edit->SetDelay(-1);
    edit->SetFocus();
    Type(edit->Handle(), "45");
    PumpFor(700);
    EXPECT_TRUE(watcher.Inputs.empty());
    PressEnter(edit->Handle());
    ASSERT_EQ(watcher.Inputs, std::vector<std::string>{"45"});
    EXPECT_EQ(edit->SelStart(), 0);
    EXPECT_EQ(edit->SelLength(), 2);
    next->SetFocus();
    EXPECT_EQ(watcher.Inputs, (std::vector<std::string>{"45", "45"}));

    next->SetDelay(0);
    Type(next->Handle(), "ab");
    EXPECT_EQ(other.Inputs, (std::vector<std::string>{"a", "ab"}));
    EXPECT_FALSE(next->TimerOwned());
}

TEST_F(AdvInputTest, RefusedTextGoesBackOnEnterAndOnLeaving) {
    for (bool byEnter : {true, false}) {
        InputWatcher watcher, other;
        watcher.DigitsOnly = true;
        TAdvEdit *edit = MakeEdit(10, watcher);
        TAdvEdit *next = MakeEdit(40, other);
        edit->SetText("7");
        edit->SetFocus();
        edit->SetSelStart(1);
        Type(edit->Handle(), "abc");
        EXPECT_FALSE(edit->TimerOwned()) << byEnter; // the delay path never reports a refused text
        if (byEnter)
            PressEnter(edit->Handle());
        else
            next->SetFocus();
        EXPECT_EQ(edit->Text(), "7") << byEnter;
        EXPECT_EQ(watcher.Inputs, std::vector<std::string>{"7"}) << byEnter;
        // Putting the old text back starts no timed input of its own.
        PumpFor(700);
        EXPECT_EQ(watcher.Inputs.size(), 1u) << byEnter;
        delete edit;
        delete next;
    }
}

TEST_F(AdvInputTest, DestroyingTheTimerOwnerLeavesTheTimerHarmless) {
    InputWatcher watcher;
    TAdvEdit *edit = MakeEdit(10, watcher);
    edit->SetFocus();
    Type(edit->Handle(), "9");
    ASSERT_TRUE(edit->TimerOwned());
    delete edit;
    PumpFor(700); // a timer still pointing at the edit would call into freed memory here
    EXPECT_TRUE(watcher.Inputs.empty());
}

TEST_F(AdvInputTest, BackgroundFollowsEnabledAndReadOnly) {
    auto *edit = new TAdvEdit(Form);
    edit->SetParent(Form);
    auto *memo = new TAdvMemo(Form);
    memo->SetParent(Form);
    memo->SetTop(40);
    edit->SetColor(clYellow);
    memo->SetColor(clYellow);
    struct Case {
        bool DefaultColor, Enabled, ReadOnly;
        TColor Expected;
    } cases[] = {
        {true, true, false, clWindow},  {true, false, false, clBtnFace}, {true, true, true, clBtnFace},
        {false, false, true, clYellow}, {false, true, false, clYellow},
    };
    for (const Case &c : cases) {
        for (TCustomEdit *control : {static_cast<TCustomEdit *>(edit), static_cast<TCustomEdit *>(memo)}) {
            if (control == edit)
                edit->SetDefaultColor(c.DefaultColor);
            else
                memo->SetDefaultColor(c.DefaultColor);
            control->SetEnabled(c.Enabled);
            control->SetReadOnly(c.ReadOnly);
            // The brush the parent hands the window when it paints.
            HDC dc = GetDC(control->Handle());
            UINT msg = c.Enabled && !c.ReadOnly ? WM_CTLCOLOREDIT : WM_CTLCOLORSTATIC;
            auto brush =
                reinterpret_cast<HBRUSH>(SendMessageA(Form->Handle(), msg, reinterpret_cast<WPARAM>(dc),
                                                      reinterpret_cast<LPARAM>(control->Handle())));
            ReleaseDC(control->Handle(), dc);
            LOGBRUSH info = {};
            ASSERT_TRUE(GetObjectA(brush, sizeof(info), &info));
            EXPECT_EQ(info.lbColor, static_cast<COLORREF>(ColorToRGB(c.Expected)))
                << control->ClassName() << " " << c.DefaultColor << c.Enabled << c.ReadOnly;
        }
    }
}

TEST_F(AdvInputTest, ComboBoxListClosingSelectionAndRecreation) {
    InputWatcher watcher;
    auto *combo = new TAdvComboBox(Form);
    combo->SetParent(Form);
    combo->SetBounds(10, 10, 150, 21);
    for (const char *text : {"red", "green", "blue"})
        combo->Items().Add(text);
    combo->OnInput = MakeNotifyEvent<&InputWatcher::Input>(&watcher);
    Counter closes;
    combo->OnClose = MakeNotifyEvent<&Counter::Notify>(&closes);
    combo->SetText("typed");

    // The list closing with nothing chosen leaves the text alone.
    combo->Perform(CN_COMMAND, MAKEWPARAM(0, CBN_CLOSEUP), 0);
    EXPECT_EQ(combo->Text(), "typed");
    EXPECT_EQ(closes.Count, 1);
    EXPECT_TRUE(watcher.Inputs.empty());

    // Typing in the edit field waits for the pause, as in an edit.
    combo->SetFocus();
    ASSERT_NE(combo->EditHandle(), nullptr);
    SendMessageA(combo->EditHandle(), EM_SETSEL, 0, -1);
    Type(combo->EditHandle(), "gr");
    EXPECT_TRUE(combo->TimerOwned());
    ASSERT_TRUE(PumpUntil([&] { return !watcher.Inputs.empty(); }, 5000));
    EXPECT_EQ(watcher.Inputs, std::vector<std::string>{"gr"});

    // Without a delay a choice from the list is an input at once.
    combo->SetDelay(-1);
    SendMessageA(combo->Handle(), CB_SETCURSEL, 2, 0);
    combo->Perform(CN_COMMAND, MAKEWPARAM(0, CBN_SELCHANGE), 0);
    ASSERT_EQ(watcher.Inputs.size(), 2u);
    EXPECT_EQ(watcher.Inputs[1], "blue");
    combo->Perform(CN_COMMAND, MAKEWPARAM(0, CBN_CLOSEUP), 0);
    EXPECT_EQ(combo->Text(), "blue");
    EXPECT_EQ(closes.Count, 2);

    // A new window for the owner-drawn list keeps the selection and the item height.
    combo->SetItemIndex(1);
    combo->SetItemHeight(20);
    combo->SetDropDownOwnerDraw(true);
    EXPECT_EQ(combo->ItemIndex(), 1);
    EXPECT_EQ(combo->ItemHeight(), 20);
    EXPECT_TRUE(GetWindowLongA(combo->Handle(), GWL_STYLE) & CBS_OWNERDRAWFIXED);
    EXPECT_EQ(SendMessageA(combo->Handle(), CB_GETITEMHEIGHT, 0, 0), 20);

    // Copies and cuts in the edit field and in an edit reach the clipboard hook.
    CopyWatcher copies;
    SetClipboardHooks(MakeEvent<&CopyWatcher::Copied>(&copies), nullptr);
    combo->SelectAll();
    combo->CopyToClipboard();
    combo->CutToClipboard();
    auto *edit = new TAdvEdit(Form);
    edit->SetParent(Form);
    edit->SetTop(60);
    edit->SetText("copied");
    edit->SelectAll();
    edit->CopyToClipboard();
    SetClipboardHooks(nullptr, nullptr);
    EXPECT_EQ(copies.Copies, 3);
}

} // namespace
