#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "SysUtils.h"
#include "vexBugReport.h"
#include "vexHandler.h"
#include "vexSettings.h"
#include "vexThreads.h"

namespace {

std::string TempFile(const char *Name) {
    char folder[MAX_PATH + 1] = {};
    GetTempPathA(MAX_PATH, folder);
    return std::string(folder) + Name + std::to_string(GetCurrentProcessId()) + ".txt";
}

std::string ReadFileText(const std::string &Name) {
    std::ifstream in(Name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Handlers that record their calls and do what the case asks.
struct TRecorder {
    std::vector<std::string> *Calls;
    std::string Name;
    bool SetHandled = false;
    bool Throw = false;
    std::string Prefix;
    void Handle(bool, std::exception_ptr, void *, DWORD, std::string &BugReport, std::string &, bool &,
                bool &Handled) {
        Calls->push_back(Name);
        BugReport = Prefix + BugReport;
        if (Throw)
            throw std::runtime_error("handler failure");
        Handled = SetHandled;
    }
};

// Without the handler thread a report is made in the calling thread; the settings save it to a
// file of the test and show nothing.
class vexHandlerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(InitializeVexThreads());
        FSaved = ExceptSettings();
        TExceptSettings &settings = ExceptSettings();
        settings.ShowBox = false;
        settings.PauseThreads = false;
        settings.AutoSave = true;
        FFile = TempFile("vexHandlerTest");
        DeleteFileA(FFile.c_str());
        settings.ReportFileName = FFile;
    }
    void TearDown() override {
        ExceptSettings() = FSaved;
        DeleteFileA(FFile.c_str());
        FinalizeVexThreads();
    }
    void Report() {
        try {
            throw Exception("Handled here");
        } catch (...) {
            HandleException(false, nullptr, nullptr, true, 0, 0, nullptr);
        }
    }
    TExceptSettings FSaved;
    std::string FFile;
};

TEST_F(vexHandlerTest, HandlersAreCalledInOrderUntilOneHandlesTheException) {
    std::vector<std::string> calls;
    TRecorder first{&calls, "first"}, failing{&calls, "failing"}, handling{&calls, "handling"},
        last{&calls, "last"};
    failing.Throw = true;
    handling.SetHandled = true;
    const TExceptionHandler methods[] = {MakeEvent<&TRecorder::Handle>(&first), MakeEvent<&TRecorder::Handle>(&failing),
                                         MakeEvent<&TRecorder::Handle>(&handling),
                                         MakeEvent<&TRecorder::Handle>(&last)};
    for (const TExceptionHandler &method : methods)
        RegisterExceptionHandler(false, false, method);
    // A second registration only updates the options: the handler is still called once.
    RegisterExceptionHandler(false, true, methods[0]);
    Report();
    EXPECT_EQ(calls, (std::vector<std::string>{"first", "failing", "handling"}));
    EXPECT_EQ(GetFileAttributesA(FFile.c_str()), INVALID_FILE_ATTRIBUTES) << "a handled exception saves nothing";
    for (const TExceptionHandler &method : methods)
        EXPECT_TRUE(UnregisterExceptionHandler(method));
    EXPECT_FALSE(UnregisterExceptionHandler(methods[0]));
    calls.clear();
    Report();
    EXPECT_TRUE(calls.empty());
}

TEST_F(vexHandlerTest, AHandlersChangedReportIsWhatIsSaved) {
    std::vector<std::string> calls;
    TRecorder changing{&calls, "changing"};
    changing.Prefix = "Steps to reproduce, please.\r\n";
    const TExceptionHandler method = MakeEvent<&TRecorder::Handle>(&changing);
    RegisterExceptionHandler(false, false, method);
    Report();
    UnregisterExceptionHandler(method);
    const std::string saved = ReadFileText(FFile);
    EXPECT_EQ(saved.rfind("Steps to reproduce, please.\r\ndate/time         : ", 0), 0u) << saved.substr(0, 200);
    EXPECT_NE(saved.find("exception message : Handled here."), std::string::npos);
    EXPECT_EQ(saved.substr(saved.size() - 4), "\r\n\r\n");
}

// An abort that may continue is no report at all; no handler sees it.
TEST_F(vexHandlerTest, AnAbortThatCanContinueIsNotReported) {
    std::vector<std::string> calls;
    TRecorder recorder{&calls, "recorder"};
    const TExceptionHandler method = MakeEvent<&TRecorder::Handle>(&recorder);
    RegisterExceptionHandler(false, false, method);
    try {
        throw EAbort("quiet");
    } catch (...) {
        HandleException(false, nullptr, nullptr, true, 0, 0, nullptr);
    }
    UnregisterExceptionHandler(method);
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(GetFileAttributesA(FFile.c_str()), INVALID_FILE_ATTRIBUTES);
}

std::uint64_t NowSeconds() {
    SYSTEMTIME now;
    GetSystemTime(&now);
    FILETIME file;
    SystemTimeToFileTime(&now, &file);
    return ((static_cast<std::uint64_t>(file.dwHighDateTime) << 32) | file.dwLowDateTime) / 10000000;
}

struct TDueCase {
    const char *Name;
    std::uint32_t N;
    std::uint64_t Ages[HistoryLength]; // seconds before now; ~0: empty entry
    bool Due;
};

TEST(vexHandlerAutoAction, AnActionIsDueAfterTenExceptionsWithinItsSeconds) {
    constexpr std::uint64_t Empty = ~0ull;
    const TDueCase cases[] = {
        {"never for 0", 0, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, false},
        {"always for 1", 1, {Empty, Empty, Empty, Empty, Empty, Empty, Empty, Empty, Empty, Empty}, true},
        {"ten within 3 s", 3, {0, 0, 0, 1, 1, 1, 1, 2, 2, 2}, true},
        {"the oldest too old", 3, {0, 0, 0, 1, 1, 1, 1, 2, 2, 6}, false},
        {"only nine", 3, {0, 0, 0, 1, 1, 1, 1, 2, 2, Empty}, false},
    };
    std::uint64_t saved[HistoryLength];
    ExceptionHistory(saved);
    for (const TDueCase &c : cases) {
        const std::uint64_t now = NowSeconds();
        std::uint64_t history[HistoryLength];
        for (int i = 0; i < HistoryLength; ++i)
            history[i] = c.Ages[i] == Empty ? 0 : now - c.Ages[i];
        SetExceptionHistory(history);
        EXPECT_EQ(AutoActionDue(c.N), c.Due) << c.Name;
    }
    SetExceptionHistory(saved);
}

} // namespace
