// The server window on 127.0.0.1 with a free port: its log and list show what the connections do,
// the memo keeps the newest lines, the time column counts whole hours past a day.
#include "FormServer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "FormServerOptions.h"
#include "GenProgram.h"
#include "GenRegistry.h"
#include "GenSetup.h"
#include "NetCommon.h"
#include "NetGeneral.h"
#include "NetServer.h"
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

TEST(ServerAddFilter, SingleAddressesRangesAndBadText) {
    TServerAddFilterForm dialog(nullptr);
    dialog.AddSingleRadio->SetChecked(true);
    dialog.UpdateControls();
    EXPECT_EQ(dialog.FromLabel->Caption(), "&Address:");
    EXPECT_FALSE(dialog.ToInput->Visible());
    EXPECT_EQ(dialog.ClientHeight(), 93);
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
    EXPECT_EQ(dialog.ClientHeight(), 117);
    dialog.FromInput->SetText("10.0.0.1");
    dialog.ToInput->SetText("10.0.0.9");
    ASSERT_TRUE(dialog.Accept(false));
    EXPECT_EQ(dialog.Filter().GetText(), "10.0.0.1 - 10.0.0.9");
}

} // namespace
