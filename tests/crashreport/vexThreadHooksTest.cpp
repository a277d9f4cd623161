#include <gtest/gtest.h>

#include <windows.h>

#include <stdexcept>
#include <thread>

#include "vexDisAsmWalk.h"
#include "vexExcept.h"
#include "vexMapFile.h"
#include "vexThreadHooks.h"
#include "vexThreads.h"

namespace {

class vexThreadHooksTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        ASSERT_TRUE(InitializeVexThreads());
        ASSERT_TRUE(InstallThreadHooks());
    }
    static void TearDownTestSuite() {
        RemoveThreadHooks();
        FinalizeVexThreads();
    }
};

HANDLE Release = nullptr;

DWORD WINAPI WaitForRelease(void *) {
    WaitForSingleObject(Release, 30000);
    return 5;
}

__attribute__((noinline)) HANDLE CreateWaitingThread(DWORD &id) {
    HANDLE thread = CreateThread(nullptr, 0, WaitForRelease, nullptr, 0, &id);
    asm volatile("" ::: "memory"); // keeps the call from being a tail call
    return thread;
}

bool InRoutine(void *address, const void *routine) {
    TUnwindRange range;
    return FindUnwindRange(routine, range, nullptr) &&
           range.Begin <= reinterpret_cast<std::uintptr_t>(address) &&
           reinterpret_cast<std::uintptr_t>(address) < range.End;
}

TEST_F(vexThreadHooksTest, NewThreadsRecordTheirCreatorAndLeaveAtTheirEnd) {
    EXPECT_GE(PatchedImportCells(), 1) << "the program's own import of CreateThread";
    Release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD id = 0;
    HANDLE thread = CreateWaitingThread(id);
    ASSERT_NE(thread, nullptr);
    ASSERT_NE(id, 0u);
    TThreadInfo info;
    ASSERT_EQ(GetThreadInfo(id, 1000, info), TThreadLookup::Found);
    EXPECT_TRUE(InRoutine(info.CreatorAddress, reinterpret_cast<const void *>(&CreateWaitingThread)))
        << info.CreatorAddress;
    EXPECT_EQ(info.CreatorThreadId, GetCurrentThreadId());

    SetEvent(Release);
    ASSERT_EQ(WaitForSingleObject(thread, 30000), WAIT_OBJECT_0);
    DWORD result = 0;
    GetExitCodeThread(thread, &result);
    EXPECT_EQ(result, 5u) << "the routine's own result";
    CloseHandle(thread);
    EXPECT_EQ(GetThreadInfo(id, 1000, info), TThreadLookup::NotFound);
    CloseHandle(Release);
}

DWORD WINAPI Throwing(void *) {
    throw std::runtime_error("escaped the thread");
}

TEST_F(vexThreadHooksTest, AnEscapingExceptionIsReportedAndEndsTheThread) {
    ResetExceptionReports();
    HANDLE thread = CreateThread(nullptr, 0, Throwing, nullptr, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(WaitForSingleObject(thread, 30000), WAIT_OBJECT_0);
    DWORD result = 0;
    GetExitCodeThread(thread, &result);
    CloseHandle(thread);
    EXPECT_EQ(result, 0xFFFFFFFFu);
    const TExceptionReportRecord reports = GetExceptionReports();
    EXPECT_EQ(reports.Count, 1);
    EXPECT_EQ(reports.LastMessage, "escaped the thread");
}

// Through the run time (thread object, pthreads, the C run time's thread start) the creator is the
// program's code that made the thread object, not the run time's start routines.
__attribute__((noinline)) void StartStandardThread(std::thread &made, HANDLE started, DWORD &id) {
    made = std::thread([started, &id] {
        id = GetCurrentThreadId();
        SetEvent(started);
        WaitForSingleObject(Release, 30000);
    });
    asm volatile("" ::: "memory");
}

TEST_F(vexThreadHooksTest, TheCreatorOfAStandardThreadIsTheProgramsCode) {
    HANDLE started = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    Release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::thread made;
    DWORD id = 0;
    // The table entry is gone once the thread ends, so the creator is read while it runs.
    StartStandardThread(made, started, id);
    ASSERT_EQ(WaitForSingleObject(started, 30000), WAIT_OBJECT_0);
    TThreadInfo info;
    const TThreadLookup found = GetThreadInfo(id, 1000, info);
    SetEvent(Release);
    made.join();
    CloseHandle(started);
    CloseHandle(Release);
    if (found != TThreadLookup::Found)
        GTEST_SKIP() << "the run time's thread start does not go through a patched import here";
    const MapPublic *routine =
        FindPublic(*GetModuleMap(nullptr), reinterpret_cast<std::uintptr_t>(info.CreatorAddress));
    ASSERT_NE(routine, nullptr);
    EXPECT_TRUE(routine->name.find("StartStandardThread") != std::string::npos ||
                routine->name.find("std::thread::thread") != std::string::npos)
        << routine->name;
}

TEST_F(vexThreadHooksTest, RemovedHooksLeaveNewThreadsAlone) {
    RemoveThreadHooks();
    Release = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    DWORD id = 0;
    HANDLE thread = CreateWaitingThread(id);
    TThreadInfo info;
    EXPECT_EQ(GetThreadInfo(id, 1000, info), TThreadLookup::NotFound);
    WaitForSingleObject(thread, 30000);
    CloseHandle(thread);
    CloseHandle(Release);
    EXPECT_TRUE(InstallThreadHooks());
}

} // namespace
