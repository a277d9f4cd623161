// The context-help mode: capture and help cursor while it runs, WM_HELP to the window under a
// left click, and the ways it ends without a request.
#include <windows.h>

#include <vector>

#include <gtest/gtest.h>

#include "../WindowTestSupport.h"
#include "ContextHelp.h"
#include "ExtCtrls.h"

using namespace window_test;

namespace {

constexpr UINT WM_PROBE = WM_APP + 7;

struct HelpRecord {
    HWND Window;
    HELPINFO Info;
};

// A panel that records the help requests it gets.
class HelpPanel : public TPanel {
public:
    using TPanel::TPanel;
    std::vector<HelpRecord> Requests;
    void WndProc(TMessage &Message) override {
        if (Message.Msg == WM_HELP) {
            Requests.push_back({Handle(), *reinterpret_cast<HELPINFO *>(Message.LParam)});
            Message.Result = 1;
            return;
        }
        TPanel::WndProc(Message);
    }
};

// A form that records what a message handled during the mode sees, and the loss of its capture.
class ProbeForm : public TForm {
public:
    using TForm::TForm;
    HWND CaptureSeen = nullptr;
    HCURSOR CursorSeen = nullptr;
    int CaptureLost = 0;
    int HelpRequests = 0;
    void WndProc(TMessage &Message) override {
        switch (Message.Msg) {
        case WM_PROBE:
            CaptureSeen = GetCapture();
            CursorSeen = GetCursor();
            return;
        case WM_CAPTURECHANGED:
            ++CaptureLost;
            break;
        case WM_HELP:
            ++HelpRequests;
            Message.Result = 1;
            return;
        default:
            break;
        }
        TForm::WndProc(Message);
    }
};

class ContextHelpTest : public testing::Test {
protected:
    void SetUp() override {
        Form = new ProbeForm(nullptr);
        Form->SetBounds(40, 40, 320, 200);
        Form->Show();
        SetForegroundWindow(Form->Handle());
        Panel = new HelpPanel(Form);
        Panel->SetParent(Form);
        Panel->SetBounds(20, 20, 100, 60);
        Panel->SetHelpContext(4711);
        PumpPending();
    }
    void TearDown() override {
        delete Form;
        PumpPending();
    }
    void PostToForm(UINT Msg, WPARAM WParam, TPoint ClientPos) {
        PostMessageA(Form->Handle(), Msg, WParam, MAKELPARAM(ClientPos.X, ClientPos.Y));
    }
    ProbeForm *Form = nullptr;
    HelpPanel *Panel = nullptr;
};

TEST_F(ContextHelpTest, LeftClickSendsHelpToTheWindowUnderItAfterReleasingTheCapture) {
    TPoint onPanel = Form->ScreenToClient(Panel->ClientToScreen({30, 25}));
    PostMessageA(Form->Handle(), WM_PROBE, 0, 0);
    PostToForm(WM_MOUSEMOVE, 0, onPanel); // input during the mode goes nowhere else
    PostToForm(WM_LBUTTONDOWN, MK_LBUTTON, onPanel);

    HWND target = RunContextHelpMode(Form->Handle());
    EXPECT_EQ(Form->CaptureSeen, Form->Handle());
    EXPECT_EQ(Form->CursorSeen, LoadCursorA(nullptr, IDC_HELP));
    EXPECT_EQ(target, Panel->Handle());
    ASSERT_EQ(Panel->Requests.size(), 1u);
    const HELPINFO &info = Panel->Requests[0].Info;
    EXPECT_EQ(info.iContextType, HELPINFO_WINDOW);
    EXPECT_EQ(info.hItemHandle, Panel->Handle());
    EXPECT_EQ(info.dwContextId, 4711u);
    TPoint screen = Panel->ClientToScreen({30, 25});
    EXPECT_EQ(info.MousePos.x, screen.X);
    EXPECT_EQ(info.MousePos.y, screen.Y);
    EXPECT_EQ(GetCapture(), nullptr);
    EXPECT_GE(Form->CaptureLost, 1);
    EXPECT_EQ(Form->HelpRequests, 0);

    // A click on the form itself asks the form; the form runs the mode on the system command.
    PostToForm(WM_LBUTTONDOWN, MK_LBUTTON, {250, 150});
    SendMessageA(Form->Handle(), WM_SYSCOMMAND, SC_CONTEXTHELP, 0);
    EXPECT_EQ(Form->HelpRequests, 1);
    EXPECT_EQ(GetCapture(), nullptr);
    EXPECT_FALSE(HandleContextHelpCommand(Form->Handle(), WM_SYSCOMMAND, SC_CLOSE));
}

TEST_F(ContextHelpTest, EscapeRightButtonCancelAndAClickOutsideEndTheModeWithoutARequest) {
    struct Case {
        const char *Name;
        UINT Msg;
        WPARAM WParam;
        bool OnDesktop;
    };
    const Case cases[] = {
        {"Escape", WM_KEYDOWN, VK_ESCAPE, false},
        {"right button", WM_RBUTTONDOWN, MK_RBUTTON, false},
        {"cancel", WM_CANCELMODE, 0, false},
        {"click outside the program", WM_LBUTTONDOWN, MK_LBUTTON, true},
    };
    TPoint onPanel = Form->ScreenToClient(Panel->ClientToScreen({30, 25}));
    for (const Case &c : cases) {
        SCOPED_TRACE(c.Name);
        int lost = Form->CaptureLost;
        TPoint at = c.OnDesktop ? Form->ScreenToClient({Screen->Width() - 4, Screen->Height() - 4}) : onPanel;
        // Other keys are swallowed by the mode.
        PostMessageA(Form->Handle(), WM_KEYDOWN, 'A', 1);
        PostToForm(c.Msg, c.WParam, at);
        EXPECT_EQ(RunContextHelpMode(Form->Handle()), nullptr);
        EXPECT_TRUE(Panel->Requests.empty());
        EXPECT_EQ(Form->HelpRequests, 0);
        EXPECT_EQ(GetCapture(), nullptr);
        EXPECT_EQ(Form->CaptureLost, lost + 1);
    }
}

} // namespace
