#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "SysUtils.h"
#include "VexTestData.h"
#include "vexBugReport.h"
#include "vexHandler.h"
#include "vexSettings.h"
#include "vexThreads.h"

namespace {

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
        FFile = VexTempFile("vexHandlerTest");
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
    const TExceptionHandler methods[] = {
        MakeEvent<&TRecorder::Handle>(&first), MakeEvent<&TRecorder::Handle>(&failing),
        MakeEvent<&TRecorder::Handle>(&handling), MakeEvent<&TRecorder::Handle>(&last)};
    for (const TExceptionHandler &method : methods)
        RegisterExceptionHandler(false, false, method);
    // A second registration only updates the options: the handler is still called once.
    RegisterExceptionHandler(false, true, methods[0]);
    Report();
    EXPECT_EQ(calls, (std::vector<std::string>{"first", "failing", "handling"}));
    EXPECT_EQ(GetFileAttributesA(FFile.c_str()), INVALID_FILE_ATTRIBUTES)
        << "a handled exception saves nothing";
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
    const std::string saved = ReadWholeFile(FFile);
    EXPECT_EQ(saved.rfind("Steps to reproduce, please.\r\ndate/time         : ", 0), 0u)
        << saved.substr(0, 200);
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

unsigned short ControlWord() {
    unsigned short word = 0;
    asm volatile("fnstcw %0" : "=m"(word));
    return word;
}

// After a report the floating-point unit is back to the run time's control word with every
// exception masked, whatever the faulting code had set.
TEST_F(vexHandlerTest, AReportCanLeaveTheFloatingPointUnitWithEveryExceptionMasked) {
    ExceptSettings().ResetFpuAfterReport = true;
    const unsigned short unmasking = 0x1332;
    asm volatile("fldcw %0" : : "m"(unmasking));
    Report();
    EXPECT_EQ(ControlWord(), 0x037F);
}

// A freeze-style report of every thread but the caller's, on the clipboard.
TEST_F(vexHandlerTest, TracingTheProcessPutsAFreezeReportOnTheClipboard) {
    DWORD tracer = 0;
    HANDLE thread = CreateThread(nullptr, 0, vexTraceProcess, nullptr, 0, &tracer);
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(WaitForSingleObject(thread, 120000), WAIT_OBJECT_0);
    CloseHandle(thread);
    const std::string text = ClipboardText();
    EXPECT_EQ(text.rfind("date/time         : ", 0), 0u) << text.substr(0, 100);
    EXPECT_NE(text.find("exception message : The application seems to be frozen."), std::string::npos);
    char id[16];
    std::snprintf(id, sizeof(id), "($%lx)", tracer);
    EXPECT_EQ(text.find(id), std::string::npos) << "the tracing thread leaves itself out";
}

// A restarted program takes its predecessor's exception times over; a predecessor that is gone
// already is not waited for.
TEST(vexHandlerRestart, TheHistoryIsHandedToTheRestartedProgram) {
    char name[64];
    std::snprintf(name, sizeof(name), "vexExceptRestart$%lx", GetCurrentProcessId());
    HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 88, name);
    ASSERT_NE(mapping, nullptr);
    auto *block = static_cast<std::uint8_t *>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 88));
    ASSERT_NE(block, nullptr);
    const DWORD gone = 0xFFFFFFF0; // no such process
    HANDLE duplicate = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), mapping, GetCurrentProcess(), &duplicate, 0, FALSE,
                                DUPLICATE_SAME_ACCESS));
    std::memcpy(block, &gone, 4);
    std::memcpy(block + 4, &duplicate, 4);
    const std::uint64_t handed[HistoryLength] = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0};
    std::memcpy(block + 8, handed, sizeof(handed));
    std::uint64_t saved[HistoryLength];
    ExceptionHistory(saved);

    WaitForRestartedPredecessor();
    std::uint64_t history[HistoryLength];
    ExceptionHistory(history);
    EXPECT_EQ(std::memcmp(history, handed, sizeof(handed)), 0);
    EXPECT_FALSE(CloseHandle(duplicate)) << "the handle made for this process was closed";
    SetExceptionHistory(saved);
    UnmapViewOfFile(block);
    CloseHandle(mapping);
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
