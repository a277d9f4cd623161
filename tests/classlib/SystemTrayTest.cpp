// The notification-area icon: what it asks of the shell (add, modify, delete, with which record),
// and which events the shell's mouse notifications on its hidden window raise.
#include <windows.h>

#include <shellapi.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "../WindowTestSupport.h"
#include "Forms.h"
#include "SystemTray.h"

using namespace window_test;

namespace {

const auto *const Environment = testing::AddGlobalTestEnvironment(new FormsEnvironment);

struct TShellCall {
    DWORD Message;
    DWORD Size;
    HWND Window;
    UINT Id;
    UINT Flags;
    UINT Callback;
    HICON Icon;
    std::string Tip;
};

// Records the shell calls instead of making them, for as long as it lives.
class TShellRecorder {
public:
    TShellRecorder() {
        FPrevious = SetShellNotifyIconFunction([this](DWORD Message, const NOTIFYICONDATAA &Data) {
            Calls.push_back({Message, Data.cbSize, Data.hWnd, Data.uID, Data.uFlags, Data.uCallbackMessage,
                             Data.hIcon, (Data.uFlags & NIF_TIP) ? std::string(Data.szTip) : std::string()});
            return TRUE;
        });
    }
    ~TShellRecorder() { SetShellNotifyIconFunction(FPrevious); }
    std::vector<TShellCall> Calls;

private:
    TShellNotifyIconFunction FPrevious;
};

// The size of the first (classic) layout of the icon record: cbSize, hWnd, uID, uFlags,
// uCallbackMessage and hIcon of four bytes each on 32-bit Windows, then a 64-character tip.
constexpr DWORD ClassicRecordSize = 6 * 4 + 64;

TEST(SystemTray, AsksTheShellToAddModifyAndDeleteTheIcon) {
    TShellRecorder shell;
    {
        TSystemTray tray(nullptr);
        EXPECT_TRUE(tray.Visible()) << "visible after construction";
        tray.SetText("Tray tip");
        tray.SetVisible(false);
        tray.SetVisible(true);
        EXPECT_TRUE(shell.Calls.empty()) << "nothing reaches the shell while the component loads";
        tray.Loaded();
        ASSERT_EQ(shell.Calls.size(), 1u);
        const TShellCall &add = shell.Calls[0];
        EXPECT_EQ(add.Message, DWORD(NIM_ADD));
        EXPECT_EQ(add.Size, ClassicRecordSize);
        EXPECT_EQ(add.Window, tray.Handle());
        EXPECT_EQ(add.Id, 0u);
        EXPECT_EQ(add.Flags, UINT(NIF_MESSAGE | NIF_ICON | NIF_TIP));
        EXPECT_EQ(add.Callback, UINT(WM_USER));
        EXPECT_NE(add.Icon, nullptr) << "without an icon of its own the program's first icon shows";
        EXPECT_EQ(add.Tip, "Tray tip");
        EXPECT_TRUE(tray.IconAdded());

        shell.Calls.clear();
        tray.SetText("Tray tip"); // unchanged: nothing to tell
        tray.SetText("Other tip");
        tray.SetIconHandle(LoadIconA(nullptr, MAKEINTRESOURCEA(32516))); // IDI_INFORMATION
        tray.SetVisible(true);                                           // unchanged
        ASSERT_EQ(shell.Calls.size(), 2u);
        EXPECT_EQ(shell.Calls[0].Message, DWORD(NIM_MODIFY));
        EXPECT_EQ(shell.Calls[0].Flags, UINT(NIF_TIP));
        EXPECT_EQ(shell.Calls[0].Tip, "Other tip");
        EXPECT_EQ(shell.Calls[1].Message, DWORD(NIM_MODIFY));
        EXPECT_EQ(shell.Calls[1].Flags, UINT(NIF_ICON));
        EXPECT_EQ(shell.Calls[1].Icon, tray.Icon().Handle());

        shell.Calls.clear();
        tray.SetVisible(false);
        ASSERT_EQ(shell.Calls.size(), 1u);
        EXPECT_EQ(shell.Calls[0].Message, DWORD(NIM_DELETE));
        EXPECT_EQ(shell.Calls[0].Id, 0u);
        tray.SetText("Hidden tip");
        tray.SetIconHandle(nullptr);
        EXPECT_EQ(shell.Calls.size(), 1u) << "no changes are sent for an icon that is not shown";

        // A tip longer than the record holds is cut; an empty one is the application's title.
        shell.Calls.clear();
        tray.SetText(std::string(70, 'x'));
        tray.SetVisible(true);
        ASSERT_EQ(shell.Calls.size(), 1u);
        EXPECT_EQ(shell.Calls[0].Tip, std::string(63, 'x'));
        tray.SetText("");
        ASSERT_EQ(shell.Calls.size(), 2u);
        EXPECT_EQ(shell.Calls[1].Tip, Application->Title());
        shell.Calls.clear();
    }
    // Freed while shown: the icon goes with it.
    ASSERT_EQ(shell.Calls.size(), 1u);
    EXPECT_EQ(shell.Calls[0].Message, DWORD(NIM_DELETE));
}

// What each mouse notification raises, in order.
class TEventLog {
public:
    explicit TEventLog(TSystemTray &Tray) {
        Tray.OnClick = MakeNotifyEvent<&TEventLog::Click>(this);
        Tray.OnDblClick = MakeNotifyEvent<&TEventLog::DblClick>(this);
        Tray.OnMouseDown = MakeEvent<&TEventLog::MouseDown>(this);
        Tray.OnMouseUp = MakeEvent<&TEventLog::MouseUp>(this);
        Tray.OnMouseMove = MakeEvent<&TEventLog::MouseMove>(this);
    }
    std::string Text;

private:
    static std::string Describe(TMouseButton Button, TShiftState Shift) {
        std::string text = Button == mbLeft ? "left" : Button == mbRight ? "right" : "middle";
        if (Shift & ssLeft)
            text += "+L";
        if (Shift & ssRight)
            text += "+R";
        if (Shift & ssDouble)
            text += "+double";
        return text;
    }
    void Add(const std::string &Event) { Text += (Text.empty() ? "" : " ") + Event; }
    void Click(TObject *) { Add("click"); }
    void DblClick(TObject *) { Add("dblclick"); }
    void MouseDown(TObject *, TMouseButton Button, TShiftState Shift, int, int) {
        Add("down(" + Describe(Button, Shift) + ")");
    }
    void MouseUp(TObject *, TMouseButton Button, TShiftState Shift, int, int) {
        Add("up(" + Describe(Button, Shift) + ")");
    }
    void MouseMove(TObject *, TShiftState Shift, int, int) { Add(Shift ? "move(shift)" : "move"); }
};

TEST(SystemTray, MouseNotificationsRaiseTheirEvents) {
    TShellRecorder shell;
    TSystemTray tray(nullptr);
    tray.SetVisible(false);
    tray.Loaded();
    TEventLog log(tray);
    struct TCase {
        UINT Mouse;
        const char *Events;
    };
    const TCase cases[] = {
        {WM_MOUSEMOVE, "move"},
        {WM_LBUTTONDOWN, "down(left+L)"},
        {WM_LBUTTONUP, "up(left+L) click"},
        {WM_LBUTTONDBLCLK, "down(left+L+double) dblclick"},
        {WM_RBUTTONDOWN, "down(right+R)"}, // no pop-up menu set
        {WM_RBUTTONUP, "up(right+R)"},
        {WM_RBUTTONDBLCLK, "down(right+R+double)"},
        {WM_MBUTTONDOWN, ""},
        {WM_KEYDOWN, ""},
    };
    for (const TCase &c : cases) {
        log.Text.clear();
        SendMessageA(tray.Handle(), WM_USER, 0, LPARAM(c.Mouse));
        EXPECT_EQ(log.Text, c.Events) << "mouse message 0x" << std::hex << c.Mouse;
    }
    // Other messages of the hidden window go to the default procedure.
    EXPECT_EQ(SendMessageA(tray.Handle(), WM_USER + 3, 0, LPARAM(WM_LBUTTONUP)), 0);
    EXPECT_EQ(log.Text, "");
}

TEST(SystemTray, HidesAndShowsItsOwnerFormAfterTheEventReturns) {
    TShellRecorder shell;
    TForm owner(nullptr);
    owner.SetBounds(20, 20, 200, 120);
    auto *tray = new TSystemTray(&owner);
    tray->SetVisible(false);
    tray->Loaded();
    owner.Show();
    PumpPending();
    ASSERT_TRUE(IsWindowVisible(owner.Handle()));

    tray->HideOwner();
    EXPECT_TRUE(IsWindowVisible(owner.Handle())) << "posted: the current event finishes first";
    ASSERT_TRUE(PumpUntil([&] { return !IsWindowVisible(owner.Handle()); }));
    EXPECT_FALSE(owner.Visible());

    tray->ShowOwner();
    ASSERT_TRUE(PumpUntil([&] { return IsWindowVisible(owner.Handle()) != FALSE; }));
    EXPECT_FALSE(IsIconic(owner.Handle())) << "restored, not left minimised";
    EXPECT_TRUE(owner.Visible());

    // Without an owner form the requests do nothing.
    TSystemTray lonely(nullptr);
    lonely.Loaded();
    lonely.HideOwner();
    PumpPending();
    EXPECT_TRUE(IsWindowVisible(owner.Handle()));
}

} // namespace
