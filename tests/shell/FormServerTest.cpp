// The server window on 127.0.0.1 with a free port: its log and list show what the connections do,
// the memo keeps the newest lines, the time column counts whole hours past a day.
#include "FormServer.h"
#include "HelpHandler.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "FormServerOptions.h"
#include "GenProgram.h"
#include "GenUtils.h"
#include "GenRegistry.h"
#include "GenSetup.h"
#include "NetCommon.h"
#include "NetGeneral.h"
#include "NetServer.h"
#include "SystemTray.h"
#include "tests/WindowTestSupport.h"

using window_test::PumpPending;
using window_test::PumpUntil;

namespace {

bool MemoHas(TServerForm &Form, const std::string &Text) {
    TStrings &lines = Form.LogMemo->Lines();
    for (int i = 0; i < lines.Count(); ++i)
        if (lines.Strings(i).find(Text) != std::string::npos)
            return true;
    return false;
}

// A client that logs in with the frames of the published layout.
std::unique_ptr<TTcpSocket> LoggedInClient(std::uint16_t Port) {
    auto socket = std::make_unique<TTcpSocket>();
    socket->Connect("127.0.0.1", Port);
    std::uint8_t frame[24] = {'C', 'O', 'N', 'N', 24, 0, 0, 0, 'O', 'B', 'C', 'L', 'I', 'E', 'N', 'T'};
    const std::uint32_t major = ProgramMajorVersion();
    for (int i = 0; i < 4; ++i)
        frame[16 + i] = std::uint8_t(major >> (8 * i));
    frame[20] = 5;
    socket->WriteAll(frame, 24);
    std::uint8_t reply[8];
    for (int read = 0; read < 8;)
        read += socket->ReadSome(reply + read, 8 - read, 20000);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(reply), 4), "GOOD");
    return socket;
}

class ServerWindow : public testing::Test {
protected:
    static void SetUpTestSuite() { InitializeNetGeneral(); }
    static void TearDownTestSuite() { FinalizeNetGeneral(); }
    void SetUp() override {
        Form = std::make_unique<TServerForm>(nullptr, "127.0.0.1", 0);
        Form->Show();
        PumpPending();
    }
    void TearDown() override {
        Form.reset();
        PumpPending();
    }
    std::unique_ptr<TServerForm> Form;
};

TEST_F(ServerWindow, LogAndListFollowTheConnections) {
    ASSERT_TRUE(PumpUntil([&] { return MemoHas(*Form, ": Listening on port "); }));
    EXPECT_TRUE(MemoHas(*Form, ": Server started."));
    EXPECT_TRUE(MemoHas(*Form, Format(": Listening on port %d.", int(Form->Port()))));
    EXPECT_EQ(Form->List->ItemCount(), 0);
    EXPECT_FALSE(Form->Timer->Enabled());
    EXPECT_EQ(Form->StatusBar->Panels(0).Text, " 0 connection(s)");

    auto client = LoggedInClient(Form->Port());
    ASSERT_TRUE(PumpUntil([&] { return Form->List->ItemCount() == 1 && MemoHas(*Form, "Connected."); }));
    TListItem &row = *Form->List->Items(0);
    // "host (address:port)" of the peer.
    EXPECT_NE(row.Caption().find(" (127.0.0.1:"), std::string::npos) << row.Caption();
    EXPECT_EQ(row.Caption().back(), ')') << row.Caption();
    ASSERT_EQ(row.SubItems().Count(), 3);
    EXPECT_EQ(row.SubItems().Strings(0), "Connected");
    EXPECT_EQ(row.SubItems().Strings(1), "0:00");
    EXPECT_EQ(row.SubItems().Strings(2), "0.00");
    EXPECT_TRUE(Form->Timer->Enabled());
    EXPECT_EQ(Form->StatusBar->Panels(0).Text, " 1 connection(s)");
    EXPECT_TRUE(MemoHas(*Form, "Incoming connection."));

    client.reset();
    ASSERT_TRUE(PumpUntil([&] { return Form->List->ItemCount() == 0 && MemoHas(*Form, "Disconnected."); }));
    EXPECT_FALSE(Form->Timer->Enabled());
    EXPECT_EQ(Form->StatusBar->Panels(0).Text, " 0 connection(s)");
}

TEST_F(ServerWindow, StatusBarUnderTheLogAndPlainColumnHeaders) {
    // From the top: list, splitter, log, status bar at the bottom edge, also after the log grows.
    auto checkOrder = [&](const char *When) {
        const int splitterBottom = Form->Splitter->Top() + Form->Splitter->Height();
        const int logBottom = Form->LogMemo->Top() + Form->LogMemo->Height();
        EXPECT_LE(Form->List->Top() + Form->List->Height(), Form->Splitter->Top()) << When;
        EXPECT_LE(splitterBottom, Form->LogMemo->Top()) << When;
        EXPECT_EQ(logBottom, Form->StatusBar->Top()) << When;
        EXPECT_EQ(Form->StatusBar->Top() + Form->StatusBar->Height(), Form->ClientHeight()) << When;
    };
    checkOrder("at start");
    Form->SetLogHeight(200);
    PumpPending();
    EXPECT_EQ(Form->LogMemo->Height(), 200);
    checkOrder("after the log grew");

    // The list has small images for its rows; its column headers show none.
    HWND header = ListView_GetHeader(Form->List->Handle());
    ASSERT_NE(header, nullptr);
    ASSERT_EQ(Header_GetItemCount(header), 4);
    for (int i = 0; i < 4; ++i) {
        HDITEMA item{};
        item.mask = HDI_FORMAT;
        ASSERT_TRUE(SendMessageA(header, HDM_GETITEMA, i, reinterpret_cast<LPARAM>(&item)));
        EXPECT_EQ(item.fmt & HDF_IMAGE, 0) << "column " << i;
    }
}

TEST_F(ServerWindow, MemoKeepsTheNewestLines) {
    PumpUntil([&] { return MemoHas(*Form, ": Listening on port "); });
    // 1,100 lines: the first 1,000 in one go (each line appended through the edit window costs
    // a re-layout of the whole memo under emulation), the last 100 one by one across the limit.
    std::string first;
    for (int i = 0; i < 1000; ++i)
        first += (i ? "\r\n" : "") + Format("line %d", i);
    Form->LogMemo->Lines().SetText(first);
    for (int i = 1000; i < 1100; ++i)
        Form->AddLogLine(Format("line %d", i));
    TStrings &lines = Form->LogMemo->Lines();
    ASSERT_EQ(lines.Count(), ServerLogLines);
    EXPECT_EQ(lines.Strings(0), "line 76");
    EXPECT_EQ(lines.Strings(ServerLogLines - 1), "line 1099");
    Form->MainMenu->Items().Items(0)->Items(1)->Click(); // "&Clear Log"
    EXPECT_EQ(Form->LogMemo->Lines().Count(), 0) << "Clear Log empties the memo";
}

// ---------------------------------------------------------------------------------------------
// Hiding to the tray and back, the menus, help and hints

// Records the notification-area calls instead of making them (from before the window is made).
class ServerTray : public ServerWindow {
protected:
    void SetUp() override {
        FPrevious = SetShellNotifyIconFunction([this](DWORD Message, const NOTIFYICONDATAA &Data) {
            Calls.push_back({Message, Data.hWnd, Data.hIcon, (Data.uFlags & NIF_TIP) ? Data.szTip : ""});
            return TRUE;
        });
        ServerWindow::SetUp();
    }
    void TearDown() override {
        ServerWindow::TearDown();
        SetShellNotifyIconFunction(FPrevious);
    }
    bool Shown() const { return IsWindowVisible(Form->Handle()) && !IsIconic(Form->Handle()); }
    struct TCall {
        DWORD Message;
        HWND Window;
        HICON Icon;
        std::string Tip;
    };
    std::vector<TCall> Calls;

private:
    TShellNotifyIconFunction FPrevious;
};

TEST_F(ServerTray, HideMinimizeAndSecondStartGoToTheTrayAndBack) {
    EXPECT_TRUE(Calls.empty()) << "no tray icon while the window shows";
    EXPECT_FALSE(Form->Taskbar());
    ASSERT_TRUE(Shown());

    // Ctrl+H, as the key reaches the form.
    ASSERT_TRUE(Form->IsShortCut('H', ssCtrl));
    EXPECT_TRUE(Form->Taskbar());
    ASSERT_EQ(Calls.size(), 1u);
    EXPECT_EQ(Calls[0].Message, DWORD(NIM_ADD));
    EXPECT_EQ(Calls[0].Window, Form->SystemTray->Handle());
    EXPECT_NE(Calls[0].Icon, nullptr);
    EXPECT_EQ(Calls[0].Tip, "Orbisk Vantel Server");
    ASSERT_TRUE(PumpUntil([&] { return !IsWindowVisible(Form->Handle()); }));

    // A left click on the icon, as the shell reports it to the tray's window.
    SendMessageA(Form->SystemTray->Handle(), WM_USER, 0, WM_LBUTTONUP);
    EXPECT_FALSE(Form->Taskbar());
    ASSERT_EQ(Calls.size(), 2u);
    EXPECT_EQ(Calls[1].Message, DWORD(NIM_DELETE));
    ASSERT_TRUE(PumpUntil([&] { return Shown(); }));

    // The minimize command goes to the tray instead of the task bar.
    SendMessageA(Form->Handle(), WM_SYSCOMMAND, SC_MINIMIZE, 0);
    EXPECT_TRUE(Form->Taskbar());
    ASSERT_EQ(Calls.size(), 3u);
    EXPECT_EQ(Calls[2].Message, DWORD(NIM_ADD));
    ASSERT_TRUE(PumpUntil([&] { return !IsWindowVisible(Form->Handle()); }));

    // A later server start brings the window back whole: shown, and the tray icon gone.
    Form->InstanceHandOver({});
    EXPECT_FALSE(Form->Taskbar());
    ASSERT_EQ(Calls.size(), 4u);
    EXPECT_EQ(Calls[3].Message, DWORD(NIM_DELETE));
    ASSERT_TRUE(PumpUntil([&] { return Shown(); }));
    EXPECT_FALSE(Form->SystemTray->IconAdded());

    // The icon's menu: "Show" (the default) and "Exit".
    TMenuItem &popup = Form->PopupMenu->Items();
    ASSERT_EQ(popup.Count(), 2);
    EXPECT_EQ(popup.Items(0)->Caption(), "&Show");
    EXPECT_TRUE(popup.Items(0)->Default());
    EXPECT_EQ(popup.Items(1)->Caption(), "E&xit");
    EXPECT_EQ(Form->SystemTray->PopupMenu(), Form->PopupMenu);
}

TEST_F(ServerTray, MenusHelpCommandsAndHintMode) {
    struct TItem {
        int Menu, Index;
        const char *Caption;
        TShortCut Keys;
    };
    const TItem items[] = {
        {0, 0, "&Options...", 0},
        {0, 1, "&Clear Log", 0},
        {0, 3, "&Hide", ShortCut('H', ssCtrl)},
        {0, 4, "E&xit", ShortCut(VK_F4, ssAlt)},
        {1, 0, "&Help", ShortCut(VK_F1, 0)},
        {1, 1, "&Contents", ShortCut(VK_F1, ssShift)},
        {1, 2, "&Index", ShortCut(VK_F1, ssCtrl)},
        {1, 4, "&About...", 0},
    };
    TMenuItem &bar = Form->MainMenu->Items();
    for (const TItem &item : items) {
        TMenuItem &entry = *bar.Items(item.Menu)->Items(item.Index);
        EXPECT_EQ(entry.Caption(), item.Caption);
        EXPECT_EQ(entry.ShortCut(), item.Keys) << item.Caption;
    }
    EXPECT_EQ(Form->HideItem->Hint(), "Minimizes to an icon in the system tray.");

    struct THelpCall {
        WORD Command;
        std::string Text;
    };
    std::vector<THelpCall> help;
    struct TRecorder {
        std::vector<THelpCall> *Calls;
        bool Help(WORD Command, intptr_t Data, bool &CallHelp) {
            Calls->push_back({Command, Data ? reinterpret_cast<const char *>(Data) : "(none)"});
            CallHelp = false;
            return true;
        }
    } recorder{&help};
    const THelpEvent previous = Application->OnHelp;
    Application->OnHelp = MakeEvent<&TRecorder::Help>(&recorder);
    bar.Items(1)->Items(0)->Click();
    bar.Items(1)->Items(1)->Click();
    bar.Items(1)->Items(2)->Click();
    Form->HelpButton->Click();
    Application->OnHelp = previous;
    // A jump to the page (HELP_COMMAND with the jump macro), HELP_FINDER (11), HELP_PARTIALKEY
    // (0x105) with an empty key.
    ASSERT_EQ(help.size(), 4u);
    EXPECT_EQ(help[0].Command, HELP_COMMAND);
    EXPECT_EQ(help[0].Text, HelpJumpMacro("Html/network/networkservers.html"));
    EXPECT_EQ(help[1].Command, 11);
    EXPECT_EQ(help[1].Text, "(none)");
    EXPECT_EQ(help[2].Command, 0x105);
    EXPECT_EQ(help[2].Text, "");
    EXPECT_EQ(help[3].Command, HELP_COMMAND) << "the tool bar's Help button is the menu's Help";
    EXPECT_EQ(help[3].Text, HelpJumpMacro("Html/network/networkservers.html"));
    EXPECT_EQ(Form->OptionsButton->Hint(), "Options|Sets security and connection options.");
    EXPECT_EQ(Form->HelpButton->Hint(), "Help (F1)|Shows context-sensitive help.");

    // A hint takes the status bar over with one wide flat panel; without one the counts return.
    Application->SetHint("Clears the server log.");
    EXPECT_TRUE(Form->ShowingHint());
    ASSERT_EQ(Form->StatusBar->PanelCount(), 2);
    EXPECT_EQ(Form->StatusBar->Panels(0).Text, " Clears the server log.");
    EXPECT_EQ(Form->StatusBar->Panels(0).Width, ScaleForScreenFont(500));
    EXPECT_FALSE(Form->StatusBar->Panels(0).Bevel);
    EXPECT_FALSE(Form->StatusBar->Panels(1).Bevel);
    Form->UpdateList(); // a list change while the hint shows leaves the hint alone
    EXPECT_EQ(Form->StatusBar->Panels(0).Text, " Clears the server log.");
    Application->SetHint("");
    EXPECT_FALSE(Form->ShowingHint());
    ASSERT_EQ(Form->StatusBar->PanelCount(), 3);
    EXPECT_EQ(Form->StatusBar->Panels(0).Text, " 0 connection(s)");
    EXPECT_EQ(Form->StatusBar->Panels(0).Width, ScaleForScreenFont(200));
    EXPECT_EQ(Form->StatusBar->Panels(1).Width, ScaleForScreenFont(200));
    EXPECT_TRUE(Form->StatusBar->Panels(0).Bevel);
    EXPECT_FALSE(Form->StatusBar->Panels(2).Bevel);
}

TEST(ServerWindowTexts, ConnectionTimeCountsHoursPastADay) {
    struct TCase {
        double Seconds;
        const char *Text;
    };
    const TCase cases[] = {
        {0, "0:00"},    {59, "0:00"},   {60, "0:01"},
        {3599, "0:59"}, {3600, "1:00"}, {25 * 3600 + 3 * 60 + 30, "25:03"},
    };
    for (const TCase &c : cases)
        EXPECT_EQ(ConnectionTimeText(c.Seconds / 86400.0), c.Text) << c.Seconds;
    EXPECT_EQ(ServerStateText(0), "Not connected");
    EXPECT_EQ(ServerStateText(1), "Authenticating");
    EXPECT_EQ(ServerStateText(2), "Connected");
    EXPECT_EQ(ServerStateText(3), "Calculating");
}

// With OV_SCREENSHOT_READY and OV_SCREENSHOT_DONE set (by tools/window-screenshot), shows the
// server window with one client connected, says so in the first file and waits for the second.
TEST(ScreenshotTest, ShowsTheServerWindowForAPicture) {
    const char *ready = std::getenv("OV_SCREENSHOT_READY");
    const char *done = std::getenv("OV_SCREENSHOT_DONE");
    if (!ready || !done)
        GTEST_SKIP() << "run by tools/window-screenshot";
    InitializeNetGeneral();
    {
        TServerForm form(nullptr, "127.0.0.1", 0);
        form.SetBounds(0, 0, 560, 380);
        form.Show();
        auto client = LoggedInClient(form.Port());
        PumpUntil([&] { return form.List->ItemCount() == 1 && MemoHas(form, "Connected."); });
        PumpPending();
        std::ofstream(ready) << "ready\n";
        PumpUntil([&] { return std::ifstream(done).good(); }, 600000);
    }
    FinalizeNetGeneral();
}

// ---------------------------------------------------------------------------------------------
// Options and address-filter dialogs (their warnings are not shown: Accept(false) reports them)

class ServerOptions : public testing::Test {
protected:
    // The configuration needs the registry key, which comes from the program information.
    static void SetUpTestSuite() {
        if (ProgramInformation())
            return;
        InitializeGenProgram();
        InitializeGenRegistry();
        StartedRegistry = true;
    }
    static void TearDownTestSuite() {
        if (!StartedRegistry)
            return;
        FinalizeGenRegistry();
        FinalizeGenProgram();
        StartedRegistry = false;
    }
    static inline bool StartedRegistry = false;

    void SetUp() override {
        TServerConfiguration &server = *Config.Server;
        server.Port = 9000;
        server.Password = "old";
        server.PasswordRequired = false;
        server.FilterEnabled = true;
        TNetworkAddressFilter *filter = server.Filters->Add();
        filter->From().SetText("10.0.0.1");
        filter->To().SetText("10.0.0.9");
        server.Priority = 1;
    }
    TConfigManager Config;
};

TEST_F(ServerOptions, ControlsFollowTheConfiguration) {
    TServerOptionsForm dialog(nullptr, *Config.Server);
    // Shown, so that the edits report typing and the list keeps its selection.
    dialog.Show();
    PumpPending();
    EXPECT_FALSE(dialog.PortDefaultCheck->Checked());
    EXPECT_TRUE(dialog.PortInput->Enabled());
    EXPECT_EQ(dialog.PortInput->Text(), "9000");
    EXPECT_EQ(dialog.PriorityInput->ItemIndex(), 1);
    ASSERT_EQ(dialog.FilterList->Items().Count(), 1);
    EXPECT_EQ(dialog.FilterList->Items().Strings(0), "10.0.0.1 - 10.0.0.9");
    EXPECT_TRUE(dialog.FilterRemoveButton->Enabled());
    EXPECT_FALSE(dialog.PasswordInput->Enabled()) << "no password required";

    dialog.PortDefaultCheck->SetChecked(true);
    dialog.UpdatePort();
    EXPECT_EQ(dialog.PortInput->Text(), "8691");
    EXPECT_FALSE(dialog.PortInput->Enabled());
    dialog.PortDefaultCheck->SetChecked(false);
    dialog.UpdatePort();
    EXPECT_EQ(dialog.PortInput->Text(), "8691") << "unchecking leaves 8691 until the user types";
    dialog.PortInput->SetText("65536");
    EXPECT_EQ(dialog.WorkingPort(), 8691) << "a text that is no port is refused";
    dialog.PortInput->SetText("8700");
    EXPECT_EQ(dialog.WorkingPort(), 8700);

    dialog.FilterList->SetItemIndex(0);
    dialog.FilterRemoveButton->Click();
    EXPECT_EQ(dialog.FilterList->Items().Count(), 0);
    EXPECT_FALSE(dialog.FilterRemoveButton->Enabled());
    EXPECT_EQ(dialog.FilterList->ItemIndex(), -1);

    dialog.PasswordInput->SetText("new");
    ASSERT_TRUE(dialog.Accept(false));
    EXPECT_EQ(Config.Server->Port, 8700);
    EXPECT_EQ(Config.Server->Filters->GetCount(), 0);
    EXPECT_EQ(Config.Server->Password, "old") << "without a required password the stored one stays";
}

// The window's real client area holds every control, the OK and Cancel buttons included.
TEST_F(ServerOptions, ClientAreaHoldsTheButtons) {
    TServerOptionsForm options(nullptr, *Config.Server);
    TServerAddFilterForm filter(nullptr);
    for (TForm *form : {static_cast<TForm *>(&options), static_cast<TForm *>(&filter)}) {
        RECT client{};
        GetClientRect(form->Handle(), &client);
        EXPECT_EQ(client.bottom, form->ClientHeight()) << form->Caption();
        for (int i = 0; i < form->ControlCount(); ++i) {
            TControl &control = *form->Controls(i);
            if (control.Visible())
                EXPECT_LE(control.Top() + control.Height(), client.bottom) << form->Caption();
        }
    }
}

TEST_F(ServerOptions, MismatchedPasswordsWriteNothing) {
    TServerOptionsForm dialog(nullptr, *Config.Server);
    dialog.PasswordRequiredCheck->SetChecked(true);
    dialog.UpdatePassword();
    EXPECT_TRUE(dialog.PasswordInput->Enabled());
    dialog.PasswordInput->SetText("one");
    dialog.PasswordConfirmInput->SetText("two");
    dialog.PortDefaultCheck->SetChecked(true);
    dialog.UpdatePort();
    EXPECT_FALSE(dialog.Accept(false));
    EXPECT_EQ(Config.Server->Port, 9000);
    EXPECT_FALSE(Config.Server->PasswordRequired);
    dialog.PasswordConfirmInput->SetText("one");
    ASSERT_TRUE(dialog.Accept(false));
    EXPECT_TRUE(Config.Server->PasswordRequired);
    EXPECT_EQ(Config.Server->Password, "one");
    EXPECT_EQ(Config.Server->Port, 8691);
}

TEST_F(ServerOptions, BrowseOffersTheLogFileAndTakesTheChosenName) {
    TServerOptionsForm dialog(nullptr, *Config.Server);
    struct TSeen {
        std::string Title, DefaultExt, Filter, FileName;
        bool OverwritePrompt = true;
    };
    std::vector<TSeen> seen;
    std::string answer;
    bool confirm = true;
    const TServerLogDialogFunction previous = SetServerLogDialog([&](TSaveDialog &Dialog) {
        seen.push_back(
            {Dialog.Title, Dialog.DefaultExt, Dialog.Filter, Dialog.FileName, Dialog.OverwritePrompt});
        Dialog.FileName = answer;
        return confirm;
    });
    dialog.LogEnabledCheck->SetChecked(true);
    dialog.UpdateLog();
    EXPECT_TRUE(dialog.LogBrowseButton->Enabled());
    dialog.LogFileInput->SetText("C:\\logs\\old.log");
    answer = "C:\\logs\\new.log";
    dialog.LogBrowseButton->Click();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].Title, "Browse");
    EXPECT_EQ(seen[0].DefaultExt, "log");
    EXPECT_EQ(seen[0].Filter, "Log files (*.log)|*.log|All files (*.*)|*.*");
    EXPECT_EQ(seen[0].FileName, "C:\\logs\\old.log");
    EXPECT_FALSE(seen[0].OverwritePrompt) << "the log is appended to, never replaced";
    EXPECT_EQ(dialog.LogFileInput->Text(), "C:\\logs\\new.log");
    // Cancelled: the name stays.
    confirm = false;
    answer = "C:\\elsewhere.log";
    dialog.LogBrowseButton->Click();
    EXPECT_EQ(dialog.LogFileInput->Text(), "C:\\logs\\new.log");
    SetServerLogDialog(previous);

    dialog.LogEnabledCheck->SetChecked(false);
    dialog.UpdateLog();
    EXPECT_FALSE(dialog.LogBrowseButton->Enabled());
    EXPECT_FALSE(dialog.LogFileInput->Enabled());
}

TEST(ServerAddFilter, SingleAddressesRangesAndBadText) {
    TServerAddFilterForm dialog(nullptr);
    dialog.AddSingleRadio->SetChecked(true);
    dialog.UpdateControls();
    EXPECT_EQ(dialog.FromLabel->Caption(), "&Address:");
    EXPECT_FALSE(dialog.ToInput->Visible());
    EXPECT_EQ(dialog.ClientHeight(), ScaleForScreenFont(93));
    std::string error;
    dialog.FromInput->SetText("10.0.0.300");
    EXPECT_FALSE(dialog.Accept(false, &error));
    EXPECT_EQ(error, "'10.0.0.300' is not a valid IP address.");
    dialog.FromInput->SetText("10.1.2.3");
    ASSERT_TRUE(dialog.Accept(false));
    EXPECT_EQ(dialog.Filter().From().GetText(), "10.1.2.3");
    EXPECT_EQ(dialog.Filter().To().GetText(), "10.1.2.3");
    EXPECT_EQ(dialog.Filter().GetText(), "10.1.2.3");

    dialog.AddRangeRadio->SetChecked(true);
    dialog.UpdateControls();
    EXPECT_EQ(dialog.FromLabel->Caption(), "&From:");
    EXPECT_TRUE(dialog.ToInput->Visible());
    EXPECT_EQ(dialog.ClientHeight(), ScaleForScreenFont(117));
    dialog.FromInput->SetText("10.0.0.1");
    dialog.ToInput->SetText("10.0.0.9");
    ASSERT_TRUE(dialog.Accept(false));
    EXPECT_EQ(dialog.Filter().GetText(), "10.0.0.1 - 10.0.0.9");
}

} // namespace
