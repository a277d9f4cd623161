// The formula download: the index rules and status texts, and downloads against a formula server
// of Python's http.server on 127.0.0.1 (formula_server.py, which runs this program with
// OV_FORMULA_SERVER and OV_FORMULA_FILES set; without them the server tests are skipped). The
// expected remaining-time texts are the examples the download dialog is made to show.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/foundation/TempFolderTest.h"

#include "GenProgram.h"
#include "GenRegistry.h"
#include "GenSetup.h"
#include "GenUpdateFormulas.h"
#include "ProgressBars.h"
#include "GenZip.h"

namespace {

TEST(GenUpdateFormulasTest, StatusTextsRoundTheRemainingTime) {
    struct TCase {
        int State;
        double Progress;
        std::uint32_t Elapsed;
        const char *Text;
    };
    const TCase cases[] = {
        {0, 0, 0, "Connecting..."},
        {1, 0, 5000, "Downloading formulas..."},
        {1, 0.5, 47000, "Downloading formulas (45 seconds remaining)..."},
        {1, 0.5, 7000, "Downloading formulas (7 seconds remaining)..."},
        {1, 0.5, 10999, "Downloading formulas (10 seconds remaining)..."},
        {1, 0.5, 14999, "Downloading formulas (10 seconds remaining)..."},
        {1, 0.5, 1500, "Downloading formulas (1 second remaining)..."},
        {1, 0.5, 999, "Downloading formulas (0 seconds remaining)..."},
        {1, 0.25, 1000, "Downloading formulas (3 seconds remaining)..."},
        {1, 0.5, 60000, "Downloading formulas (1 minute remaining)..."},
        {1, 0.5, 119000, "Downloading formulas (1 minute remaining)..."},
        {1, 0.5, 125000, "Downloading formulas (2 minutes remaining)..."},
        {1, 0.1, 100000, "Downloading formulas (15 minutes remaining)..."},
        {2, 1, 1000, ""},
    };
    for (const TCase &c : cases)
        EXPECT_EQ(c.Text, DownloadStatusText(c.State, c.Progress, c.Elapsed))
            << c.State << " " << c.Progress << " " << c.Elapsed;
}

TEST(GenUpdateFormulasTest, IndexLinesAreTrimmedAndCounted) {
    const std::string index =
        "\r\n  http://h/full.zip \r\n\r\n\thttp://h/monthly.zip\nhttp://h/weekly.zip\n\n"
        "http://h/one/%s/%S.txt\r\n\r\n";
    EXPECT_EQ("http://h/full.zip", ReadDatabaseList(index, 0, "x.ufm"));
    EXPECT_EQ("http://h/monthly.zip", ReadDatabaseList(index, 1, "x.ufm"));
    EXPECT_EQ("http://h/weekly.zip", ReadDatabaseList(index, 2, "x.ufm"));
    EXPECT_EQ("http://h/one/x.ufm/x.ufm.txt", ReadDatabaseList(index, 3, "x.ufm"));
    for (const char *shortIndex : {"", "a\nb\nc", "\r\n\r\na\r\n\r\n\r\nb\r\n  \r\nc\r\n\r\n\r\n"}) {
        try {
            ReadDatabaseList(shortIndex, 0, "");
            ADD_FAILURE() << "accepted: " << shortIndex;
        } catch (const EDownloadFormulasError &error) {
            EXPECT_EQ("Formula database URL not found", error.Message());
        }
    }
}

// The configuration for the dialog's tests, with the folders and the last update date of the test;
// what it changed is put back at the end.
class TUpdateConfiguration {
public:
    TUpdateConfiguration(const std::string &Root) {
        FStarted = ConfigManager() == nullptr;
        if (FStarted) {
            InitializeGenProgram();
            InitializeGenRegistry();
            InitializeGenSetup();
        }
        TFolderConfiguration &folder = *ConfigManager()->Folder;
        FSaved = {folder.Formula, folder.FormulaPublic, folder.System};
        FLastUpdate = ConfigManager()->General->LastFormulaUpdate;
        folder.Formula = Root + "Formulas\\";
        folder.FormulaPublic = Root + "Formulas\\Public\\";
        folder.System = Root + "System\\";
        ForceDirectories(Root + "Formulas\\Public");
        ForceDirectories(Root + "System");
    }
    ~TUpdateConfiguration() {
        TFolderConfiguration &folder = *ConfigManager()->Folder;
        folder.Formula = FSaved[0];
        folder.FormulaPublic = FSaved[1];
        folder.System = FSaved[2];
        ConfigManager()->General->LastFormulaUpdate = FLastUpdate;
        if (FStarted) {
            FinalizeGenSetup();
            FinalizeGenRegistry();
            FinalizeGenProgram();
        }
    }

private:
    bool FStarted;
    std::vector<std::string> FSaved;
    double FLastUpdate;
};

class UpdateFormulasFormTest : public TTempFolderTest {
protected:
    UpdateFormulasFormTest() : TTempFolderTest("ovupd") {}
    void SetUp() override {
        TTempFolderTest::SetUp();
        Config = std::make_unique<TUpdateConfiguration>(Root);
        SetInstallerMessageDialog([this](const std::string &Message, TMsgDlgType, TMsgDlgButtons) {
            Messages.push_back(Message);
            return static_cast<int>(mrOk);
        });
    }
    void TearDown() override {
        SetInstallerMessageDialog(nullptr);
        Config.reset();
        TTempFolderTest::TearDown();
    }
    std::unique_ptr<TUpdateConfiguration> Config;
    std::vector<std::string> Messages;
};

TEST_F(UpdateFormulasFormTest, LastUpdatePicksTheOption) {
    struct TCase {
        double DaysAgo; // < 0: never
        const char *Text;
        const char *Selected;
    };
    const TCase cases[] = {
        {-1, "You've never updated your formulas before.", "Full"},
        {1, "You've last updated your formulas 1 day ago.", "Weekly"},
        {3, "You've last updated your formulas 3 days ago.", "Weekly"},
        {7, "You've last updated your formulas 7 days ago.", "Weekly"},
        {8, "You've last updated your formulas 8 days ago.", "Monthly"},
        {30, "You've last updated your formulas 30 days ago.", "Monthly"},
        {31, "You've last updated your formulas 31 days ago.", "Full"},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Text);
        ConfigManager()->General->LastFormulaUpdate = c.DaysAgo < 0 ? 0 : Date() - c.DaysAgo;
        TUpdateFormulasForm form(nullptr);
        EXPECT_EQ(c.Text, form.LastUpdateLabel->Caption());
        const std::string selected = form.FullRadio->Checked()      ? "Full"
                                     : form.MonthlyRadio->Checked() ? "Monthly"
                                     : form.WeeklyRadio->Checked()  ? "Weekly"
                                                                    : "none";
        EXPECT_EQ(c.Selected, selected);
        EXPECT_FALSE(form.SingleRadio->Visible());
        EXPECT_EQ(Root + "System\\Obdb.tmp", form.TempFileName);
    }
    TUpdateFormulasForm form(nullptr);
    form.SetSingleFile("missing.ufm");
    EXPECT_TRUE(form.SingleRadio->Visible());
    EXPECT_TRUE(form.SingleRadio->Checked());
    EXPECT_EQ("&Only the file 'missing.ufm'", form.SingleRadio->Caption());
    EXPECT_LT(form.SingleRadio->Top(), form.WeeklyRadio->Top());
}

// --- Against the formula server ----------------------------------------------------------------

std::string ServerBase() {
    const char *base = std::getenv("OV_FORMULA_SERVER");
    return base ? base : "";
}

std::string ServedFile(const std::string &Name) {
    const char *folder = std::getenv("OV_FORMULA_FILES");
    std::ifstream in(std::string(folder ? folder : "") + "expected\\" + Name, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

// Handles the thread's messages until Condition holds or a minute passed.
bool PumpUntil(const std::function<bool()> &Condition, DWORD TimeoutMs = 60000) {
    const DWORD start = GetTickCount();
    while (!Condition()) {
        if (GetTickCount() - start > TimeoutMs)
            return false;
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
    return true;
}

class FormulaServerTest : public UpdateFormulasFormTest {
protected:
    void SetUp() override {
        if (ServerBase().empty())
            GTEST_SKIP() << "needs the formula server: run through tests/documents/formula_server.py";
        UpdateFormulasFormTest::SetUp();
        FSavedAddress = GetFormulaDatabaseAddress();
    }
    void TearDown() override {
        if (ServerBase().empty())
            return;
        SetFormulaDatabaseAddress(FSavedAddress);
        UpdateFormulasFormTest::TearDown();
    }

    // Runs a download of Kind from the server's Route to its end; the thread is returned ended.
    std::unique_ptr<TDownloadFormulasThreadObject> Download(const std::string &Route, int Kind,
                                                            const std::string &Single = "",
                                                            std::uint32_t Timeout = 30000) {
        auto thread = std::make_unique<TDownloadFormulasThreadObject>();
        thread->ServerAddress = ServerBase() + Route;
        thread->Kind = static_cast<std::uint8_t>(Kind);
        thread->SingleFile = Single;
        thread->TempFileName = Root + "download.tmp";
        thread->ArchiveCap = 1000000;
        thread->ReceiveTimeout = Timeout;
        thread->Start();
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread->Handle(), 60000));
        return thread;
    }

    std::string FSavedAddress;
};

TEST_F(FormulaServerTest, DialogInstallsWhatTheServerServes) {
    struct TCase {
        const char *Option;
        std::vector<std::string> Files;
        bool DateStored;
    };
    const TCase cases[] = {
        {"Full", {"full-a.ufm", "full-b.ucl"}, true},
        {"Weekly", {"weekly-a.ufm", "weekly-b.ufm"}, true},
        {"Single", {"one.ufm"}, false},
    };
    SetFormulaDatabaseAddress(ServerBase() + "/ok");
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Option);
        Messages.clear();
        const double before = Date() - 100;
        ConfigManager()->General->LastFormulaUpdate = before;
        TUpdateFormulasForm form(nullptr);
        form.Show();
        if (std::string(c.Option) == "Single")
            form.SetSingleFile("one.ufm");
        else
            (std::string(c.Option) == "Full" ? form.FullRadio : form.WeeklyRadio)->SetChecked(true);
        form.OkButtonClick(&form);
        EXPECT_FALSE(form.OkButton->Visible());
        EXPECT_TRUE(form.ProgressBar->Visible());
        ASSERT_TRUE(PumpUntil([&] { return !Messages.empty(); })) << form.StatusLabel->Caption();
        EXPECT_EQ(nullptr, form.Thread());
        EXPECT_FALSE(form.Visible());
        EXPECT_EQ(std::string::npos, Messages[0].find("error")) << Messages[0];
        for (const std::string &name : c.Files)
            EXPECT_EQ(ServedFile(name), Get("Formulas\\Public\\" + name)) << name;
        EXPECT_FALSE(FileExists(form.TempFileName));
        if (c.DateStored)
            EXPECT_EQ(Date(), ConfigManager()->General->LastFormulaUpdate);
        else
            EXPECT_EQ(before, ConfigManager()->General->LastFormulaUpdate);
    }
}

TEST_F(FormulaServerTest, DialogWarnsWhenTheDownloadFails) {
    SetFormulaDatabaseAddress(ServerBase() + "/short");
    const double before = Date() - 3;
    ConfigManager()->General->LastFormulaUpdate = before;
    TUpdateFormulasForm form(nullptr);
    form.Show();
    form.OkButtonClick(&form);
    ASSERT_TRUE(PumpUntil([&] { return !Messages.empty(); }));
    EXPECT_EQ(
        "An error occurred while updating the formulas.\rPlease try again later.\r\rFormula database URL not "
        "found",
        Messages[0]);
    EXPECT_FALSE(form.Visible());
    EXPECT_EQ(before, ConfigManager()->General->LastFormulaUpdate);
}

TEST_F(FormulaServerTest, FailuresEndInTheFailedState) {
    struct TCase {
        const char *Route;
        int Kind;
        const char *Single;
        std::uint32_t Timeout;
        const char *Message;
    };
    const TCase cases[] = {
        {"/short", 2, "", 30000, "Formula database URL not found"},
        {"/missing", 0, "", 30000, "The formula server answered \"404 Not Found\"."},
        {"/err", 3, "nothere.zip", 30000, "The formula server answered \"404 Not Found\"."},
        {"/err", 3, "truncated.zip", 30000, "The download ended before it was complete."},
        {"/err", 3, "big.zip", 30000, "The download is larger than expected."},
        {"/err", 3, "nolength.zip", 30000, "The download is larger than expected."},
        {"/err", 3, "stall.zip", 1500, "The formula server did not answer in time."},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(std::string(c.Route) + " " + c.Single);
        auto thread = Download(c.Route, c.Kind, c.Single, c.Timeout);
        EXPECT_EQ(TDownloadFormulasThread::dsFailed, thread->GetState());
        EXPECT_EQ(c.Message, thread->GetMessage());
    }
    auto done = Download("/ok", 2);
    EXPECT_EQ(TDownloadFormulasThread::dsDone, done->GetState());
    EXPECT_EQ(1.0, done->GetProgress());
}

TEST_F(FormulaServerTest, TricklingTransferEndsSoonAfterCancel) {
    auto thread = std::make_unique<TDownloadFormulasThreadObject>();
    thread->ServerAddress = ServerBase() + "/err";
    thread->Kind = 3;
    thread->SingleFile = "trickle.zip";
    thread->TempFileName = Root + "download.tmp";
    thread->Start();
    // Under way: some bytes of the 100000 announced have come.
    ASSERT_TRUE(PumpUntil([&] { return thread->GetProgress() > 0; }, 30000));
    EXPECT_EQ(TDownloadFormulasThread::dsDownloading, thread->GetState());
    EXPECT_EQ(
        "Downloading formulas (",
        DownloadStatusText(thread->GetState(), thread->GetProgress(), thread->GetElapsed()).substr(0, 22));
    const DWORD start = GetTickCount();
    thread->Terminate();
    // The server would trickle for a minute more; the thread ends at its next network step.
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread->Handle(), 20000));
    std::printf("cancel ended the download after %lu ms\n", GetTickCount() - start);
    EXPECT_EQ(TDownloadFormulasThread::dsFailed, thread->GetState());
}

} // namespace
