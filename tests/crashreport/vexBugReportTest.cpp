#include <gtest/gtest.h>

#include <windows.h>

#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "SysUtils.h"
#include "vexBugReport.h"
#include "vexStrings.h"
#include "vexThreadHooks.h"
#include "vexThreads.h"

namespace {

class vexBugReportTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        ASSERT_TRUE(InitializeVexThreads());
        InitializeVexBugReport(); // gtest runs the tests on the main thread
    }
    static void TearDownTestSuite() { FinalizeVexThreads(); }
};

std::vector<std::string> ReportLines(const std::string &report) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    for (std::size_t end; (end = report.find("\r\n", at)) != std::string::npos; at = end + 2)
        lines.push_back(report.substr(at, end - at));
    lines.push_back(report.substr(at));
    return lines;
}

HANDLE Started = nullptr, Release = nullptr;

// The worker stands in a wait two routines deep when the report is made.
__attribute__((noinline)) void ReportedWorkerInner() {
    SetEvent(Started);
    WaitForSingleObject(Release, 30000);
    asm volatile("" ::: "memory");
}

__attribute__((noinline)) DWORD WINAPI ReportedWorkerOuter(void *) {
    ReportedWorkerInner();
    asm volatile("" ::: "memory");
    return 0;
}

__attribute__((noinline)) HANDLE CreateReportedWorker(DWORD &id) {
    HANDLE thread = CreateThread(nullptr, 0, ReportedWorkerOuter, nullptr, 0, &id);
    asm volatile("" ::: "memory");
    return thread;
}

// The header's labels in their order (optional ones may be missing), then the exception's class and
// message, a section per thread, the modules and the disassembly.
TEST_F(vexBugReportTest, TheReportHasItsLabelsInOrderAndItsSections) {
    struct Label {
        const char *text;
        bool optional;
    };
    const Label labels[] = {
        {"date/time         : ", false}, {"computer name     : ", false}, {"wts client name   : ", true},
        {"user name         : ", false}, {"operating system  : ", false}, {"system language   : ", true},
        {"system up time    : ", true},  {"program up time   : ", false}, {"physical memory   : ", false},
        {"free disk space   : ", false}, {"process id        : ", false}, {"command line      : ", true},
        {"executable        : ", false}, {"current module    : ", true},  {"exec. date/time   : ", false},
        {"version           : ", true},  {"vexExcept version : ", false}, {"exception class   : ", false},
        {"exception message : ", false},
    };
    ASSERT_TRUE(InstallThreadHooks());
    Started = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    Release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD workerId = 0;
    HANDLE worker = CreateReportedWorker(workerId);
    ASSERT_EQ(WaitForSingleObject(Started, 30000), WAIT_OBJECT_0);
    SetThreadName(workerId, "painter");

    TBugReportInput input;
    DescribeReportException(std::make_exception_ptr(std::runtime_error("disk is full!!")), input);
    SuspendOtherThreads(true, true);
    const std::string report = CreateBugReport(input);
    SuspendOtherThreads(false, true);
    SetEvent(Release);
    WaitForSingleObject(worker, 30000);
    CloseHandle(worker);
    CloseHandle(Release);
    CloseHandle(Started);
    RemoveThreadHooks();

    const std::vector<std::string> lines = ReportLines(report);
    std::size_t at = 0;
    for (const Label &label : labels) {
        if (at < lines.size() && lines[at].compare(0, 20, label.text) == 0)
            ++at;
        else
            EXPECT_TRUE(label.optional) << "missing or out of order: \"" << label.text << "\"\n" << report;
    }
    EXPECT_EQ(lines[0].size(), std::string("date/time         : 2026-01-01 00:00").size());
    EXPECT_NE(report.find("\r\nexecutable        : CrashreportTests.exe\r\n"), std::string::npos);
    EXPECT_NE(report.find("\r\nvexExcept version : 2.7b\r\n"), std::string::npos);
    EXPECT_NE(
        report.find("\r\nexception class   : std::runtime_error\r\nexception message : disk is full!.\r\n"),
        std::string::npos)
        << report;
    EXPECT_NE(report.find("\r\nprocess id        : " +
                          HexText(static_cast<std::uint32_t>(GetCurrentProcessId())) + "\r\n"),
              std::string::npos);

    // The worker's section: its name, its stack, and the code that created it.
    const std::string workerHeader =
        "\r\n\r\npainter (" + HexText(static_cast<std::uint32_t>(workerId)) + "):\r\n";
    const std::size_t section = report.find(workerHeader);
    ASSERT_NE(section, std::string::npos) << report;
    const std::size_t inner = report.find("ReportedWorkerInner", section);
    const std::size_t outer = report.find("ReportedWorkerOuter", section);
    EXPECT_LT(inner, outer) << report.substr(section, 2000);
    const std::size_t created =
        report.find(">> created by " + ThreadDisplayName(GetCurrentThreadId(), true) + " at:\r\n", section);
    ASSERT_NE(created, std::string::npos) << report.substr(section, 2000);
    EXPECT_LT(outer, created);
    const std::size_t creatorLineEnd = report.find("\r\n", report.find("\r\n", created) + 2);
    EXPECT_NE(report.substr(created, creatorLineEnd - created).find("CreateReportedWorker"),
              std::string::npos)
        << report.substr(section, 2000);

    EXPECT_NE(report.find("\r\n\r\nmodules:\r\n"), std::string::npos);
    EXPECT_NE(report.find(" CrashreportTests.exe "), std::string::npos);
    EXPECT_NE(report.find("\r\n\r\ndisassembling:\r\n"), std::string::npos);
}

TEST_F(vexBugReportTest, AFreezeReportNamesTheFreezeAndTracesTheMainThread) {
    TBugReportInput input;
    input.Frozen = true;
    input.ShowProgress = true; // the traces report their progress on the way
    const std::string report = CreateBugReport(input);
    EXPECT_EQ(report.find("exception class"), std::string::npos);
    const std::string message = "\r\nexception message : The application seems to be frozen.\r\n\r\n";
    const std::size_t at = report.find(message);
    ASSERT_NE(at, std::string::npos) << report;
    const std::string mainSection =
        "thread " + HexText(static_cast<std::uint32_t>(GetCurrentThreadId())) + ":\r\n";
    EXPECT_EQ(report.compare(at + message.size(), mainSection.size(), mainSection), 0)
        << report.substr(at, 300);
}

TEST(vexBugReportTexts, ExceptionsAreDescribedByClassAndMessage) {
    TBugReportInput input;
    DescribeReportException(std::make_exception_ptr(EConvertError("'x' is not a number")), input);
    EXPECT_TRUE(input.HasException);
    EXPECT_EQ(input.ExceptionClass, "EConvertError");
    EXPECT_EQ(input.ExceptionMessage, "'x' is not a number");
    DescribeReportException(std::make_exception_ptr(std::out_of_range("index")), input);
    EXPECT_EQ(input.ExceptionClass, "std::out_of_range");
    EXPECT_EQ(input.ExceptionMessage, "index");
    DescribeReportException(std::make_exception_ptr(42), input);
    EXPECT_EQ(input.ExceptionClass, "Unknown");
    DescribeReportException(nullptr, input);
    EXPECT_FALSE(input.HasException);
}

TEST_F(vexBugReportTest, AMessageEqualToItsClassHasNoMessageLine) {
    TBugReportInput input;
    DescribeReportException(std::make_exception_ptr(std::runtime_error("std::runtime_error")), input);
    const std::string report = CreateBugReport(input);
    EXPECT_NE(report.find("exception class   : std::runtime_error\r\n\r\n"), std::string::npos);
    EXPECT_EQ(report.find("exception message"), std::string::npos);
}

HANDLE SecondDone = nullptr;
std::string SecondReport;

DWORD WINAPI MakeSecondReport(void *) {
    TBugReportInput input;
    DescribeReportException(std::make_exception_ptr(std::runtime_error("second")), input);
    SecondReport = CreateBugReport(input);
    SetEvent(SecondDone);
    return 0;
}

// Reports are made one at a time: a second one waits for the library's report lock.
TEST_F(vexBugReportTest, ReportsAreMadeOneAtATime) {
    SecondDone = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    EnterCriticalSection(&ReportLock());
    HANDLE thread = CreateThread(nullptr, 0, MakeSecondReport, nullptr, 0, nullptr);
    EXPECT_EQ(WaitForSingleObject(SecondDone, 500), static_cast<DWORD>(WAIT_TIMEOUT))
        << "made under the held lock";
    LeaveCriticalSection(&ReportLock());
    EXPECT_EQ(WaitForSingleObject(SecondDone, 30000), WAIT_OBJECT_0);
    WaitForSingleObject(thread, 30000);
    CloseHandle(thread);
    CloseHandle(SecondDone);
    EXPECT_NE(SecondReport.find("exception message : second."), std::string::npos);
}

TEST(vexBugReportTexts, TimeSpans) {
    const std::pair<std::uint64_t, const char *> cases[] = {
        {183600, "2 days 3 hours "}, {3660, "1 hour 1 minute "},
        {45, "45 seconds "},         {0, ""},
        {86400, "1 day "},           {90061, "1 day 1 hour "},
        {61, "1 minute 1 second "},  {7200, "2 hours "},
    };
    for (const auto &[seconds, text] : cases)
        EXPECT_EQ(TimeSpanText(seconds), text) << seconds;
}

TEST(vexBugReportTexts, MessagesKeepOneClosingMark) {
    const std::pair<const char *, const char *> cases[] = {
        {"Disk full!!", "Disk full!"},
        {"Plain", "Plain"},
        {"a\x01"
         "b\n",
         "ab"},
        {"", "Unknown"},
        {"\t\r\n", "Unknown"},
        {"End...", "End."},
        {"Why?!.", "Why?!"},
        {"!!!", "!"},
    };
    for (const auto &[message, text] : cases)
        EXPECT_EQ(ReportMessageText(message), text) << message;
}

TEST(vexBugReportTexts, HeaderLinesAndDisks) {
    EXPECT_EQ(HeaderLine("process id", "$1a"), "process id        : $1a\r\n");
    EXPECT_EQ(DiskText('\\'), "");
    EXPECT_EQ(DiskText('c').compare(0, 5, "(C:) "), 0) << DiskText('c');
}

} // namespace
