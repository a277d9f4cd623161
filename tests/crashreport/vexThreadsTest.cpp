#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>

#include "vexStrings.h"
#include "vexThreads.h"

namespace {

// A worker that signals when it runs and waits until told to end.
struct TWorker {
    HANDLE Started = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE Finish = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE Thread = nullptr;
    DWORD Id = 0;
    void (*Body)(TWorker &) = nullptr;

    explicit TWorker(void (*body)(TWorker &) = nullptr) : Body(body) {
        Thread = CreateThread(nullptr, 0, Run, this, 0, &Id);
        EXPECT_EQ(WaitForSingleObject(Started, 30000), WAIT_OBJECT_0);
    }
    ~TWorker() {
        SetEvent(Finish);
        WaitForSingleObject(Thread, 30000);
        CloseHandle(Thread);
        CloseHandle(Started);
        CloseHandle(Finish);
    }
    static DWORD WINAPI Run(void *self) {
        auto &worker = *static_cast<TWorker *>(self);
        if (worker.Body)
            worker.Body(worker);
        SetEvent(worker.Started);
        WaitForSingleObject(worker.Finish, INFINITE);
        return 0;
    }
    // The count SuspendThread reports for the thread (how often it is suspended now).
    DWORD SuspendCount() const {
        const DWORD count = SuspendThread(Thread);
        ResumeThread(Thread);
        return count;
    }
};

std::string Id(DWORD id) {
    return HexText(static_cast<std::uint32_t>(id), 1, '0');
}

class vexThreadsTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        ASSERT_TRUE(InitializeVexThreads());
        InstallThreadNaming();
    }
    static void TearDownTestSuite() {
        RemoveThreadNaming();
        FinalizeVexThreads();
    }
};

TEST_F(vexThreadsTest, ThreadListHoldsThisProcessesThreads) {
    TWorker worker;
    const TThreadIdList ids = GetThreadList();
    EXPECT_NE(std::find(ids.begin(), ids.end(), GetCurrentThreadId()), ids.end());
    EXPECT_NE(std::find(ids.begin(), ids.end(), worker.Id), ids.end());
    HANDLE opened = OpenThreadById(worker.Id, THREAD_QUERY_INFORMATION);
    ASSERT_NE(opened, nullptr);
    EXPECT_EQ(GetThreadId(opened), worker.Id);
    CloseHandle(opened);
}

// A report suspends every other thread once and resumes them; the reporting thread runs on, and a
// thread that appeared during the report is kept out of the next one.
TEST_F(vexThreadsTest, ReportsSuspendOtherThreadsButNotKeptOnes) {
    TWorker before;
    CleanKeepList();
    SuspendOtherThreads(true, true);
    EXPECT_EQ(before.SuspendCount(), 1u);
    TWorker *during = nullptr;
    {
        // Started while the others are held: it is not in the report's list.
        during = new TWorker;
        EXPECT_EQ(during->SuspendCount(), 0u);
    }
    SuspendOtherThreads(false, true);
    EXPECT_EQ(before.SuspendCount(), 0u);
    const TThreadIdList kept = KeptThreads();
    EXPECT_NE(std::find(kept.begin(), kept.end(), during->Id), kept.end());

    SuspendOtherThreads(true, true);
    EXPECT_EQ(before.SuspendCount(), 1u);
    EXPECT_EQ(during->SuspendCount(), 0u) << "kept threads are never suspended";
    SuspendOtherThreads(false, true);

    const DWORD duringId = during->Id;
    delete during;
    CleanKeepList();
    const TThreadIdList cleaned = KeptThreads();
    EXPECT_EQ(std::find(cleaned.begin(), cleaned.end(), duringId), cleaned.end()) << "ended threads leave";
}

// While another thread holds the table's lock no thread is suspended.
TEST_F(vexThreadsTest, AThreadHoldingTheTableLockIsNotSuspended) {
    TWorker worker([](TWorker &) { WaitForSingleObject(SharedBlock()->InfoMutex, INFINITE); });
    EXPECT_FALSE(SuspendThreadSafely(worker.Thread));
    EXPECT_EQ(worker.SuspendCount(), 0u);
    // The mutex is abandoned when the worker ends; the next wait still obtains it.
}

TEST_F(vexThreadsTest, TableEntriesAreMadeUpdatedAndRemoved) {
    TWorker worker;
    TThreadInfo info;
    EXPECT_EQ(GetThreadInfo(worker.Id, 1000, info), TThreadLookup::NotFound);
    EXPECT_EQ(ThreadDisplayName(worker.Id, false), "thread " + Id(worker.Id));

    SetThreadInfo(worker.Id, nullptr, "", "TWorkerThread", reinterpret_cast<void *>(0x401234), 77);
    EXPECT_EQ(ThreadDisplayName(worker.Id, false, &info), "thread " + Id(worker.Id) + " (TWorkerThread)");
    EXPECT_EQ(info.CreatorAddress, reinterpret_cast<void *>(0x401234));
    EXPECT_EQ(info.CreatorThreadId, 77u);

    SetThreadName(worker.Id, "painter");
    EXPECT_EQ(ThreadDisplayName(worker.Id, false, &info), "painter (" + Id(worker.Id) + ")");
    EXPECT_EQ(info.ClassName, "TWorkerThread") << "an update keeps what it does not name";
    EXPECT_EQ(info.CreatorAddress, reinterpret_cast<void *>(0x401234));

    SetThreadName(worker.Id, "-");
    EXPECT_EQ(ThreadDisplayName(worker.Id, false), "");
    EXPECT_EQ(ThreadDisplayName(worker.Id, true), "- (" + Id(worker.Id) + ")");

    SetThreadInfo(worker.Id, nullptr, "", "", nullptr, 0);
    EXPECT_EQ(GetThreadInfo(worker.Id, 1000, info), TThreadLookup::NotFound);
}

TEST_F(vexThreadsTest, EndedThreadsLeaveTheTable) {
    DWORD ended = 0;
    {
        TWorker worker;
        ended = worker.Id;
        SetThreadName(worker.Id, "short-lived");
    }
    TThreadInfo info;
    ASSERT_EQ(GetThreadInfo(ended, 1000, info), TThreadLookup::Found);
    SetThreadName(GetCurrentThreadId(), "tester"); // each call forgets one ended thread
    EXPECT_EQ(GetThreadInfo(ended, 1000, info), TThreadLookup::NotFound);
    SetThreadInfo(GetCurrentThreadId(), nullptr, "", "", nullptr, 0);
}

TEST_F(vexThreadsTest, ABusyTableGivesThePlainName) {
    TWorker worker;
    SetThreadName(worker.Id, "named");
    TWorker holder([](TWorker &) { WaitForSingleObject(SharedBlock()->InfoMutex, INFINITE); });
    TThreadInfo info;
    EXPECT_EQ(GetThreadInfo(worker.Id, 50, info), TThreadLookup::Unavailable);
    EXPECT_EQ(ThreadDisplayName(worker.Id, false), "thread " + Id(worker.Id));
}

struct TNameRequest {
    DWORD Type, Thread, Flags;
    const char *Name;
    bool Named;
};

void RaiseNameRequest(const TNameRequest &request, DWORD thread) {
    const ULONG_PTR words[4] = {request.Type, reinterpret_cast<ULONG_PTR>(request.Name), thread,
                                request.Flags};
    RaiseException(ThreadNameExceptionCode, 0, 4, words);
}

// The debugger's naming convention, raised by the named thread itself (0xFFFFFFFF) or for another
// thread; only type 0x1000 with flags 0 names.
TEST_F(vexThreadsTest, TheNamingExceptionNamesThreads) {
    const TNameRequest cases[] = {
        {0x1000, 0xFFFFFFFF, 0, "render worker", true},
        {0x1001, 0xFFFFFFFF, 0, "wrong type", false},
        {0x1000, 0xFFFFFFFF, 1, "wrong flags", false},
        {0x1000, 0, 0, "for another thread", true},
    };
    for (const TNameRequest &request : cases) {
        static const TNameRequest *current;
        current = &request;
        TWorker worker([](TWorker &) {
            if (current->Thread == 0xFFFFFFFF)
                RaiseNameRequest(*current, 0xFFFFFFFF);
        });
        if (request.Thread == 0)
            RaiseNameRequest(request, worker.Id);
        const std::string expected = request.Named ? std::string(request.Name) + " (" + Id(worker.Id) + ")"
                                                   : "thread " + Id(worker.Id);
        EXPECT_EQ(ThreadDisplayName(worker.Id, false), expected) << request.Name;
        SetThreadInfo(worker.Id, nullptr, "", "", nullptr, 0);
    }
}

TEST_F(vexThreadsTest, ModuleListIsInAddressOrderWithTheProgram) {
    const std::vector<TLoadedModule> modules = GetModuleList(true);
    ASSERT_GE(modules.size(), 2u);
    EXPECT_TRUE(
        std::is_sorted(modules.begin(), modules.end(),
                       [](const TLoadedModule &a, const TLoadedModule &b) { return a.Module < b.Module; }));
    const std::string program = ModuleFileName(nullptr);
    auto self = std::find_if(modules.begin(), modules.end(),
                             [](const TLoadedModule &m) { return m.Module == GetModuleHandleA(nullptr); });
    ASSERT_NE(self, modules.end());
    EXPECT_EQ(self->FileName, "CrashreportTests.exe");
    EXPECT_EQ(self->Folder + "\\" + self->FileName, program);
    EXPECT_FALSE(self->Version.empty()) << "the program carries a version resource";
    EXPECT_TRUE(std::any_of(modules.begin(), modules.end(), [](const TLoadedModule &m) {
        return EqualIgnoreCase(m.FileName, "kernel32.dll");
    }));
    EXPECT_EQ(FileNameOfPath("C:\\a\\b.exe"), "b.exe");
    EXPECT_EQ(FolderOfPath("C:\\a\\b.exe"), "C:\\a\\");
    EXPECT_FALSE(IsSystemLockHeld());
}

// The watchdog pings the main thread's window: while this thread pumps messages no freeze is
// reported; once it stops answering for ten pings (1 s here) the freeze handler runs.
std::atomic<int> Freezes{0};
HANDLE FrozenEvent = nullptr;

TEST_F(vexThreadsTest, TheWatchdogReportsABlockedMainThread) {
    FrozenEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    Freezes = 0;
    ASSERT_TRUE(StartFreezeWatchdog(1000, [] {
        ++Freezes;
        SetEvent(FrozenEvent);
    }));
    ASSERT_NE(FreezeWatchdogThreadId(), 0u);
    EXPECT_EQ(ThreadDisplayName(FreezeWatchdogThreadId(), false), "")
        << "the watchdog is one of the library's own";

    // Answering: pump for about three freeze times.
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < 3000) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
    }
    EXPECT_EQ(Freezes.load(), 0);

    // Blocked for up to 5 s: the freeze is reported in that time (generously 30 s under emulation).
    EXPECT_EQ(WaitForSingleObject(FrozenEvent, 30000), WAIT_OBJECT_0);
    EXPECT_GE(Freezes.load(), 1);
    StopFreezeWatchdog();
    EXPECT_EQ(FreezeWatchdogThreadId(), 0u);
    CloseHandle(FrozenEvent);
}

} // namespace
