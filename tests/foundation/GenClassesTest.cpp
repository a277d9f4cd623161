#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "CommonClasses.h"
#include "GenClasses.h"
#include "GenUtils.h"
#include "TempFolderTest.h"
#include "vexExcept.h"

namespace {

constexpr std::uint32_t GenerousTimeout = 60000;

// ---------------------------------------------------------------------------------------------
// Notification managers

// Records the calls of its handlers and lets a test run an action inside one of them.
struct TObserver {
    std::string Name;
    std::string *Trace;
    std::function<void()> Action;
    void Handle(TObject *Sender) {
        *Trace += Name;
        LastSender = Sender;
        if (Action)
            Action();
    }
    TNotifyEvent Event() { return MakeNotifyEvent<&TObserver::Handle>(this); }
    TObject *LastSender = nullptr;
};

// Counts Lock and Unlock and checks that they pair up.
class TCountingManager : public TNotificationManager {
public:
    void Lock() override { ++Locks, ++Depth; }
    void Unlock() override { ++Unlocks, --Depth; }
    int Locks = 0, Unlocks = 0, Depth = 0;
};

class NotificationTest : public ::testing::Test {
protected:
    TObserver &Make(const std::string &Name) {
        Observers.push_back(std::make_unique<TObserver>(TObserver{Name, &Trace, nullptr}));
        return *Observers.back();
    }
    std::string Trace;
    std::vector<std::unique_ptr<TObserver>> Observers;
    TCountingManager Manager;
};

TEST_F(NotificationTest, EmptyManagerOnlyLocksAndUnlocks) {
    Manager.Notify();
    EXPECT_EQ(Manager.Locks, 1);
    EXPECT_EQ(Manager.Unlocks, 1);
    EXPECT_EQ(Trace, "");
}

TEST_F(NotificationTest, OrderDuplicatesAndRemoval) {
    TObserver &a = Make("a"), &b = Make("b"), &c = Make("c");
    Manager.AddHandler(a.Event());
    Manager.AddHandler(b.Event());
    Manager.AddHandler(c.Event());
    Manager.AddHandler(a.Event());
    Manager.Notify();
    EXPECT_EQ(Trace, "abca");
    EXPECT_EQ(a.LastSender, &Manager);

    Manager.RemoveHandler(a.Event()); // the first of the two entries
    Trace.clear();
    Manager.Notify();
    EXPECT_EQ(Trace, "bca");

    TObserver &stranger = Make("x");
    Manager.RemoveHandler(stranger.Event()); // never added: nothing changes
    Manager.RemoveHandler(b.Event());
    Trace.clear();
    Manager.Notify();
    EXPECT_EQ(Trace, "ca");
    EXPECT_EQ(Manager.Count(), 2);
    EXPECT_EQ(Manager.Depth, 0);
}

// What a handler does to the list while Notify runs, and what that walk must call.
struct TChangeCase {
    const char *Description;
    int Actor;         // index of the observer that acts
    int Removed;       // index of the observer it removes, or -1
    bool AddsNew;      // whether it adds a new observer "n"
    const char *First; // calls of the walk in which it acts
    const char *Second;
};

void PrintTo(const TChangeCase &Case, std::ostream *Out) {
    *Out << Case.Description;
}

class NotificationChangeTest : public NotificationTest, public ::testing::WithParamInterface<TChangeCase> {};

TEST_P(NotificationChangeTest, WalkStaysOnTheLiveList) {
    const TChangeCase &c = GetParam();
    const char *names[] = {"a", "b", "c", "d"};
    std::vector<TObserver *> all;
    for (const char *name : names) {
        all.push_back(&Make(name));
        Manager.AddHandler(all.back()->Event());
    }
    TObserver &added = Make("n");
    bool done = false;
    all[c.Actor]->Action = [&] {
        if (done)
            return;
        done = true;
        if (c.Removed >= 0)
            Manager.RemoveHandler(all[c.Removed]->Event());
        if (c.AddsNew)
            Manager.AddHandler(added.Event());
    };
    Manager.Notify();
    EXPECT_EQ(Trace, c.First) << c.Description;
    Trace.clear();
    Manager.Notify();
    EXPECT_EQ(Trace, c.Second) << c.Description;
    EXPECT_EQ(Manager.Depth, 0);
}

INSTANTIATE_TEST_SUITE_P(
    GenClasses, NotificationChangeTest,
    ::testing::Values(TChangeCase{"removes itself", 1, 1, false, "abcd", "acd"},
                      TChangeCase{"removes a later one", 1, 2, false, "abd", "abd"},
                      TChangeCase{"removes an earlier one", 2, 0, false, "abcd", "bcd"},
                      TChangeCase{"the last removes itself", 3, 3, false, "abcd", "abc"},
                      TChangeCase{"the first removes the last", 0, 3, false, "abc", "abc"},
                      TChangeCase{"adds a handler", 1, -1, true, "abcd", "abcdn"},
                      TChangeCase{"removes itself and adds one", 0, 0, true, "abcd", "bcdn"}));

TEST_F(NotificationTest, EveryHandlerRemovingItselfEmptiesTheList) {
    for (const char *name : {"a", "b", "c"}) {
        TObserver &o = Make(name);
        o.Action = [this, &o] { Manager.RemoveHandler(o.Event()); };
        Manager.AddHandler(o.Event());
    }
    Manager.Notify();
    EXPECT_EQ(Trace, "abc");
    EXPECT_EQ(Manager.Count(), 0);
}

TEST_F(NotificationTest, NestedNotifyAndRemovalInsideIt) {
    TObserver &a = Make("a"), &b = Make("b"), &c = Make("c");
    int nesting = 0;
    a.Action = [&] {
        if (nesting++ == 0) {
            Manager.Notify(); // inner walk: a (no action), then b removes c
        }
    };
    b.Action = [&] { Manager.RemoveHandler(c.Event()); };
    for (TObserver *o : {&a, &b, &c})
        Manager.AddHandler(o->Event());
    Manager.Notify();
    // Outer a, inner a b (c removed), outer b; c is never called.
    EXPECT_EQ(Trace, "aabb");
    EXPECT_EQ(Manager.Depth, 0);
}

TEST_F(NotificationTest, HandlerExceptionReleasesTheLock) {
    TObserver &a = Make("a"), &b = Make("b"), &c = Make("c");
    b.Action = [] { throw Exception(std::string("handler failed")); };
    for (TObserver *o : {&a, &b, &c})
        Manager.AddHandler(o->Event());
    EXPECT_THROW(Manager.Notify(), Exception);
    EXPECT_EQ(Trace, "ab");
    EXPECT_EQ(Manager.Depth, 0);
    // A later walk is complete (no stale walk left behind).
    b.Action = nullptr;
    Trace.clear();
    Manager.RemoveHandler(a.Event());
    Manager.Notify();
    EXPECT_EQ(Trace, "bc");
}

// A thread that runs a function; the function may block on events of the test.
class TFunctionBody : public TGeneralThread {
public:
    explicit TFunctionBody(std::function<void()> Body) : TGeneralThread(true), FBody(std::move(Body)) {}

protected:
    void DoExecute() override { FBody(); }

private:
    std::function<void()> FBody;
};
using TFunctionThread = TJoinedThread<TFunctionBody>;

TEST(GenClassesThreads, LockedManagerIsReleasedAfterHandlerException) {
    TMultiThreadedNotificationManager manager;
    std::string trace;
    TObserver thrower{"t", &trace, [] { throw Exception(std::string("boom")); }};
    manager.AddHandler(thrower.Event());
    EXPECT_THROW(manager.Notify(), Exception);
    // Another thread can take the lock: Count() locks the manager.
    std::atomic<int> seen{-1};
    TFunctionThread other([&] { seen = manager.Count(); });
    other.Start();
    EXPECT_EQ(WaitForSingleObject(other.Handle(), GenerousTimeout), WAIT_OBJECT_0);
    EXPECT_EQ(seen.load(), 1);
}

// ---------------------------------------------------------------------------------------------
// Deferred change

class TChangeCounter : public TUpdatedObject {
public:
    int Changes = 0;

protected:
    void DoChange() override {
        ++Changes;
        TUpdatedObject::DoChange();
    }
};

TEST(GenClassesUpdated, ChangesInsideAnUpdateCollapseIntoOne) {
    struct Case {
        const char *Steps; // B begin, E end, C changed
        int Changes;
    } cases[] = {{"BCCCE", 1},
                 {"C", 1},
                 {"CC", 2},
                 {"BBCE", 0},
                 {"BBCEE", 1},
                 {"BE", 0},
                 {"BCEBCE", 2},
                 // An extra EndUpdate does not leave the object stuck in "updating".
                 {"EBCE", 1},
                 {"EC", 1}};
    for (const Case &c : cases) {
        TChangeCounter object;
        std::string trace;
        TObserver listener{"x", &trace, nullptr};
        object.OnChange = listener.Event();
        for (const char *step = c.Steps; *step; ++step) {
            if (*step == 'B')
                object.BeginUpdate();
            else if (*step == 'E')
                object.EndUpdate();
            else
                object.Changed();
        }
        EXPECT_EQ(object.Changes, c.Changes) << c.Steps;
        EXPECT_EQ(static_cast<int>(trace.size()), c.Changes) << c.Steps;
        if (c.Changes > 0) {
            EXPECT_EQ(listener.LastSender, &object);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Events and locks

TEST(GenClassesEvents, ResetModes) {
    TEvent manual(true, false);
    EXPECT_EQ(manual.WaitFor(0), TEvent::wrTimeout);
    manual.SetEvent();
    EXPECT_EQ(manual.WaitFor(0), TEvent::wrSignaled);
    EXPECT_EQ(manual.WaitFor(0), TEvent::wrSignaled); // stays set
    manual.ResetEvent();
    EXPECT_EQ(manual.WaitFor(0), TEvent::wrTimeout);

    TEvent automatic(false, true);
    EXPECT_EQ(automatic.WaitForever(), TEvent::wrSignaled);
    EXPECT_EQ(automatic.WaitFor(0), TEvent::wrTimeout); // consumed by the first wait
}

TEST(GenClassesEvents, LockedObjectSerializesThreads) {
    class TCounter : public TMultiThreadedObject {
    public:
        long Value = 0;
    } counter;
    constexpr int Threads = 4, Steps = 20000;
    TEvent go(true, false);
    std::vector<std::unique_ptr<TFunctionThread>> threads;
    for (int t = 0; t < Threads; ++t) {
        threads.push_back(std::make_unique<TFunctionThread>([&] {
            go.WaitFor(GenerousTimeout);
            for (int i = 0; i < Steps; ++i) {
                TScopeLock<TCounter> guard(counter);
                // A read-modify-write that loses updates when two threads interleave.
                const long value = counter.Value;
                if ((i & 255) == 0)
                    SwitchToThread();
                counter.Value = value + 1;
            }
        }));
        threads.back()->Start();
    }
    go.SetEvent();
    for (auto &thread : threads)
        ASSERT_EQ(WaitForSingleObject(thread->Handle(), GenerousTimeout), WAIT_OBJECT_0);
    EXPECT_EQ(counter.Value, Threads * Steps);
}

// ---------------------------------------------------------------------------------------------
// Worker threads and the crash report

class GeneralThreadTest : public ::testing::Test {
protected:
    void SetUp() override { ResetExceptionReports(); }
    // Runs Body on a TGeneralThread to its end; the thread must end normally (nothing escapes
    // Execute) within the time-out.
    void RunThread(std::function<void()> Body) {
        TFunctionThread thread(std::move(Body));
        thread.Start();
        ASSERT_EQ(WaitForSingleObject(thread.Handle(), GenerousTimeout), WAIT_OBJECT_0);
        thread.WaitFor();
        EXPECT_TRUE(thread.Finished());
        EXPECT_FALSE(thread.FatalException());
    }
};

// A page reserved without access: writing to it faults on every system (the null page may be
// mapped when the program runs under a compatibility layer with special rights).
int *NoAccessPage() {
    static int *page =
        static_cast<int *>(VirtualAlloc(nullptr, 4096, MEM_RESERVE | MEM_COMMIT, PAGE_NOACCESS));
    return page;
}

void FaultByAccessViolation() {
    int *volatile target = NoAccessPage();
    *target = 42;
}

// Under QEMU's user-mode emulation (tools/wine-run sets OV_EMULATED) the emulator hands Wine a
// page fault without the processor's trap number, so Wine raises it as an illegal instruction
// (C000001D) at the right address, without the access details. The guard turns any fault into
// an exception all the same; only the class and the code differ.
bool Emulated() {
    return std::getenv("OV_EMULATED") != nullptr;
}

std::uint32_t AccessViolationCode() {
    return Emulated() ? 0xC000001Du : 0xC0000005u;
}

std::string AccessViolationClass() {
    return Emulated() ? "EExternal" : "EAccessViolation";
}

struct TReportCase {
    const char *Description;
    void (*Body)();
    int Reports;
    const char *ClassName; // null: the class of an access violation where the test runs
};

void PrintTo(const TReportCase &Case, std::ostream *Out) {
    *Out << Case.Description;
}

class GeneralThreadReportTest : public GeneralThreadTest,
                                public ::testing::WithParamInterface<TReportCase> {};

TEST_P(GeneralThreadReportTest, EveryEscapingExceptionIsReportedOnce) {
    const TReportCase &c = GetParam();
    RunThread(c.Body);
    const TExceptionReportRecord reports = GetExceptionReports();
    EXPECT_EQ(reports.Count, c.Reports) << c.Description;
    if (c.Reports > 0) {
        EXPECT_EQ(reports.LastClassName, c.ClassName ? c.ClassName : AccessViolationClass()) << c.Description;
    }
}

INSTANTIATE_TEST_SUITE_P(
    GenClasses, GeneralThreadReportTest,
    ::testing::Values(
        TReportCase{"no exception", [] {}, 0, nullptr},
        TReportCase{"Exception", [] { throw Exception("thread failed %d", 7); }, 1, "Exception"},
        TReportCase{"descendant", [] { throw EConvertError(std::string("bad")); }, 1, "EConvertError"},
        TReportCase{"standard exception", [] { throw std::runtime_error("std"); }, 1, "std::exception"},
        TReportCase{"not an exception class", [] { throw 42; }, 1, "unknown"},
        TReportCase{"EAbort is silent", [] { Abort(); }, 0, nullptr},
        TReportCase{"access violation", FaultByAccessViolation, 1, nullptr}));

TEST_F(GeneralThreadTest, ReportCarriesTheMessage) {
    RunThread([] { throw Exception("thread failed %d", 7); });
    EXPECT_EQ(GetExceptionReports().LastMessage, "thread failed 7");
    RunThread(FaultByAccessViolation);
    const TExceptionReportRecord reports = GetExceptionReports();
    EXPECT_EQ(reports.Count, 2);
    if (Emulated()) {
        // No access details arrive with the emulated fault; the report names the code it got.
        EXPECT_NE(reports.LastMessage.find("External exception C000001D at address "), std::string::npos)
            << reports.LastMessage;
        return;
    }
    EXPECT_NE(reports.LastMessage.find("Access violation"), std::string::npos) << reports.LastMessage;
    const std::string access = Format(
        "Write of address %.8X", static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(NoAccessPage())));
    EXPECT_NE(reports.LastMessage.find(access), std::string::npos) << reports.LastMessage;
}

TEST_F(GeneralThreadTest, FaultingThreadsOneAfterAnother) {
    // Each fault must leave the thread's handler chain and the process sound for the next.
    for (int i = 0; i < 3; ++i)
        RunThread(FaultByAccessViolation);
    EXPECT_EQ(GetExceptionReports().Count, 3);
}

TEST(GenClassesFaultGuard, FaultBecomesAnExceptionOnTheCallingThread) {
    unsigned short before = 0, after = 0;
    __asm__ __volatile__("fnstcw %0" : "=m"(before));
    for (int i = 0; i < 2; ++i) {
        try {
            CallWithFaultGuard([](void *) { FaultByAccessViolation(); }, nullptr);
            ADD_FAILURE() << "no exception";
        } catch (const EExternal &e) {
            EXPECT_EQ(e.ClassName(), AccessViolationClass());
            EXPECT_EQ(e.ExceptionCode, AccessViolationCode());
            EXPECT_NE(e.ExceptionAddress, nullptr);
        }
    }
    __asm__ __volatile__("fnstcw %0" : "=m"(after));
    EXPECT_EQ(after, before);
}

TEST(GenClassesFaultGuard, CppExceptionsPassUnchanged) {
    int ran = 0;
    EXPECT_THROW(CallWithFaultGuard(
                     [](void *p) {
                         ++*static_cast<int *>(p);
                         throw std::out_of_range("x");
                     },
                     &ran),
                 std::out_of_range);
    EXPECT_EQ(ran, 1);
    CallWithFaultGuard([](void *p) { ++*static_cast<int *>(p); }, &ran);
    EXPECT_EQ(ran, 2);
}

TEST(GenClassesFaultGuard, InnerGuardTakesTheFaultFirst) {
    struct TResult {
        int NotReached = 0;
        std::string InnerClass;
    } result;
    CallWithFaultGuard(
        [](void *p) {
            auto &result = *static_cast<TResult *>(p);
            try {
                CallWithFaultGuard([](void *) { FaultByAccessViolation(); }, nullptr);
            } catch (const EExternal &e) {
                result.InnerClass = e.ClassName();
                return;
            }
            ++result.NotReached;
        },
        &result);
    EXPECT_EQ(result.NotReached, 0);
    EXPECT_EQ(result.InnerClass, AccessViolationClass());
    // The outer guard is still sound.
    try {
        CallWithFaultGuard([](void *) { FaultByAccessViolation(); }, nullptr);
        ADD_FAILURE() << "no exception";
    } catch (const EExternal &e) {
        EXPECT_EQ(e.ClassName(), AccessViolationClass());
    }
}

// Counts Lock and Unlock calls, for TScopeLock.
struct TCountingLock {
    int Locks = 0, Unlocks = 0;
    void Lock() { ++Locks; }
    void Unlock() { ++Unlocks; }
};

TEST(GenClassesFaultGuard, FaultGivesBackTheLocksOfItsRegionOnly) {
    struct TLocks {
        TCountingLock Outside, Outer, Inner;
    };
    struct Case {
        const char *Description;
        void (*Body)(void *);
        bool Faults;
    } cases[] = {
        {"fault with two locks held",
         [](void *p) {
             TLocks &locks = *static_cast<TLocks *>(p);
             TScopeLock<TCountingLock> outer(locks.Outer);
             TScopeLock<TCountingLock> inner(locks.Inner);
             FaultByAccessViolation();
         },
         true},
        {"no fault",
         [](void *p) {
             TLocks &locks = *static_cast<TLocks *>(p);
             TScopeLock<TCountingLock> outer(locks.Outer);
             TScopeLock<TCountingLock> inner(locks.Inner);
         },
         false},
        {"lock given back before the fault",
         [](void *p) {
             TLocks &locks = *static_cast<TLocks *>(p);
             TScopeLock<TCountingLock> outer(locks.Outer);
             { TScopeLock<TCountingLock> inner(locks.Inner); }
             FaultByAccessViolation();
         },
         true},
        {"inner guard releases its own lock, the outer region unwinds as usual",
         [](void *p) {
             TLocks &locks = *static_cast<TLocks *>(p);
             TScopeLock<TCountingLock> outer(locks.Outer);
             try {
                 CallWithFaultGuard(
                     [](void *p) {
                         TScopeLock<TCountingLock> inner(static_cast<TLocks *>(p)->Inner);
                         FaultByAccessViolation();
                     },
                     p);
             } catch (const EExternal &) {
             }
         },
         false},
    };
    for (const Case &c : cases) {
        TLocks locks;
        {
            TScopeLock<TCountingLock> outside(locks.Outside);
            bool faulted = false;
            try {
                CallWithFaultGuard(c.Body, &locks);
            } catch (const EExternal &) {
                faulted = true;
            }
            EXPECT_EQ(faulted, c.Faults) << c.Description;
            // What was held before the guard is not the region's to give back.
            EXPECT_EQ(locks.Outside.Unlocks, 0) << c.Description;
        }
        for (const TCountingLock *lock : {&locks.Outside, &locks.Outer, &locks.Inner}) {
            EXPECT_EQ(lock->Locks, 1) << c.Description;
            EXPECT_EQ(lock->Unlocks, 1) << c.Description;
        }
    }
}

TEST(GenClassesFaultGuard, AnotherThreadTakesALockHeldAtTheFault) {
    TCriticalSection lock;
    EXPECT_THROW(CallWithFaultGuard(
                     [](void *p) {
                         TScopeLock<TCriticalSection> held(*static_cast<TCriticalSection *>(p));
                         FaultByAccessViolation();
                     },
                     &lock),
                 EExternal);
    std::atomic<bool> taken{false};
    TFunctionThread other([&] {
        TScopeLock<TCriticalSection> held(lock);
        taken = true;
    });
    other.Start();
    if (WaitForSingleObject(other.Handle(), 20000) != WAIT_OBJECT_0) {
        ADD_FAILURE() << "the lock stayed owned by the faulting thread";
        lock.Leave(); // this thread still owns it: let the other one end
    }
    EXPECT_TRUE(taken.load());
}

// Recurses with a page of stack per call until the stack is used up.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winfinite-recursion"
__attribute__((noinline)) int UseUpTheStack(int Depth) {
    volatile char page[4096];
    page[0] = static_cast<char>(Depth);
    return UseUpTheStack(Depth + 1) + page[0];
}
#pragma GCC diagnostic pop

TEST(GenClassesFaultGuard, TwoStackOverflowsInARow) {
    std::vector<std::uint32_t> codes;
    std::vector<std::string> classes;
    TFunctionThread thread([&] {
        for (int i = 0; i < 2; ++i) {
            try {
                CallWithFaultGuard([](void *) { UseUpTheStack(0); }, nullptr);
            } catch (const EExternal &e) {
                codes.push_back(e.ExceptionCode);
                classes.push_back(e.ClassName());
            }
        }
    });
    thread.Start();
    ASSERT_EQ(WaitForSingleObject(thread.Handle(), GenerousTimeout), WAIT_OBJECT_0);
    ASSERT_EQ(codes.size(), 2u);
    // Under emulation the touch of the stack's guard page comes as C000001D like any other fault
    // (see Emulated): Wine never learns that it was the guard page, so it neither reports a
    // stack overflow nor uses the guard up, and the second run stops at the same page.
    const std::uint32_t code = Emulated() ? 0xC000001Du : 0xC00000FDu;
    const std::string name = Emulated() ? "EExternal" : "EStackOverflow";
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(codes[i], code) << i;
        EXPECT_EQ(classes[i], name) << i;
    }
}

TEST(GenClassesFaultGuard, ResumeHandleStartsASuspendedThread) {
    std::atomic<bool> ran{false};
    TFunctionThread thread([&] { ran = true; });
    EXPECT_EQ(thread.ResumeHandle(), 1);
    ASSERT_EQ(WaitForSingleObject(thread.Handle(), GenerousTimeout), WAIT_OBJECT_0);
    EXPECT_TRUE(ran.load());
}

// ---------------------------------------------------------------------------------------------
// Files

class GenClassesFiles : public TTempFolderTest {
protected:
    GenClassesFiles() : TTempFolderTest("GenClassesTest") {}
    std::set<std::string> Names() {
        std::set<std::string> names;
        TFileEnumerator entries(Root + "*", faAnyFile);
        while (entries.Next())
            if (entries.GetName() != "." && entries.GetName() != "..")
                names.insert(entries.GetName());
        return names;
    }
};

const std::string Original = std::string("original content\r\n") + std::string(5000, 'o');

TEST_F(GenClassesFiles, SafeStreamReplacesTheTargetOnClose) {
    Put("picture.ofr", Original);
    {
        TSafeFileStream stream(Root + "picture.ofr", fmCreate);
        EXPECT_EQ(stream.TempName(), Root + "picture.$00");
        stream.WriteString("new content");
        EXPECT_EQ(Get("picture.ofr"), Original); // untouched while writing
    }
    EXPECT_EQ(Get("picture.ofr"), "new content");
    EXPECT_EQ(Names(), (std::set<std::string>{"picture.ofr"}));
}

TEST_F(GenClassesFiles, StaleTemporaryFileDoesNotStopTheSave) {
    Put("picture.ofr", Original);
    Put("picture.$00", "stale");
    {
        TSafeFileStream stream(Root + "picture.ofr", fmCreate);
        EXPECT_EQ(stream.TempName(), Root + "picture.$01");
        stream.WriteString("new content");
    }
    EXPECT_EQ(Get("picture.ofr"), "new content");
    EXPECT_EQ(Get("picture.$00"), "stale");
    EXPECT_EQ(Names(), (std::set<std::string>{"picture.ofr", "picture.$00"}));
}

TEST_F(GenClassesFiles, SaveAbortedByAnExceptionLeavesTheOriginal) {
    Put("picture.ofr", Original);
    try {
        TSafeFileStream stream(Root + "picture.ofr", fmCreate);
        stream.WriteString(std::string(3000, 'n'));
        throw EWriteError(std::string("writer failed half-way"));
    } catch (const EWriteError &) {
    }
    EXPECT_EQ(Get("picture.ofr"), Original);
    EXPECT_EQ(Names(), (std::set<std::string>{"picture.ofr"}));
}

TEST_F(GenClassesFiles, FailedWriteLeavesTheOriginal) {
    Put("picture.ofr", Original);
    {
        TSafeFileStream stream(Root + "picture.ofr", fmCreate);
        stream.WriteString(std::string(3000, 'n'));
        // The system refuses to write from an unreadable buffer.
        EXPECT_THROW(stream.WriteBuffer(reinterpret_cast<const void *>(16), 4096), EStreamError);
        EXPECT_TRUE(stream.Failed());
        // The writer swallowed the error and frees the stream normally.
    }
    EXPECT_EQ(Get("picture.ofr"), Original);
    EXPECT_EQ(Names(), (std::set<std::string>{"picture.ofr"}));
}

TEST_F(GenClassesFiles, CommitReportsAnEarlierFailure) {
    Put("picture.ofr", Original);
    TSafeFileStream stream(Root + "picture.ofr", fmCreate);
    EXPECT_THROW(stream.WriteBuffer(reinterpret_cast<const void *>(16), 4096), EStreamError);
    EXPECT_THROW(stream.Commit(), EWriteError);
    EXPECT_EQ(Get("picture.ofr"), Original);
    EXPECT_EQ(Names(), (std::set<std::string>{"picture.ofr"}));
}

TEST_F(GenClassesFiles, CommitMakesTheNewFileAtOnce) {
    TSafeFileStream stream(Root + "new.txt", fmCreate);
    stream.WriteString("fresh");
    stream.Commit();
    EXPECT_EQ(Get("new.txt"), "fresh");
    stream.Commit(); // a second commit does nothing
    EXPECT_EQ(Names(), (std::set<std::string>{"new.txt"}));
}

TEST_F(GenClassesFiles, OtherModesOpenInPlace) {
    Put("data.bin", "0123456789");
    {
        TSafeFileStream stream(Root + "data.bin", fmOpenReadWrite);
        EXPECT_EQ(stream.TempName(), "");
        stream.Seek(2, soFromBeginning);
        stream.WriteString("xy");
    }
    EXPECT_EQ(Get("data.bin"), "01xy456789");
}

TEST(GenClassesSafeStream, TemporaryNames) {
    struct Case {
        const char *Name, *Temp;
    } cases[] = {{"C:\\no\\such\\folder\\picture.ofr", "C:\\no\\such\\folder\\picture.$00"},
                 {"C:\\no\\such\\folder\\noext", "C:\\no\\such\\folder\\noext.$00"},
                 {"C:\\no\\such\\dir.x\\noext", "C:\\no\\such\\dir.x\\noext.$00"}};
    for (const Case &c : cases)
        EXPECT_EQ(TSafeFileStream::MakeTempFileName(c.Name), c.Temp);
}

TEST(GenClassesAccessStream, ReadsAndWritesTheCallersBlock) {
    char block[8] = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'};
    TAccessMemoryStream stream(block, sizeof block);
    char head[3] = {};
    EXPECT_EQ(stream.Read(head, 3), 3);
    EXPECT_EQ(std::string(head, 3), "abc");
    EXPECT_EQ(stream.Write("XYZ", 3), 3);
    EXPECT_EQ(std::string(block, 8), "abcXYZgh");
    // Only what fits is copied; the block never grows.
    EXPECT_EQ(stream.Write("123456", 6), 2);
    EXPECT_EQ(std::string(block, 8), "abcXYZ12");
    EXPECT_EQ(stream.Size(), 8);
    EXPECT_EQ(stream.Write("!", 1), 0);
    stream.Seek(20, soFromBeginning);
    EXPECT_EQ(stream.Write("!", 1), 0);
    EXPECT_EQ(std::string(block, 8), "abcXYZ12");
}

TEST_F(GenClassesFiles, LogLinesOfManyThreadsStayWhole) {
    constexpr int Threads = 8, Lines = 1000;
    TLogFile log(Root + "server.log");
    TEvent go(true, false);
    std::vector<std::unique_ptr<TFunctionThread>> threads;
    for (int t = 0; t < Threads; ++t) {
        threads.push_back(std::make_unique<TFunctionThread>([&, t] {
            go.WaitFor(GenerousTimeout);
            for (int i = 0; i < Lines; ++i)
                log.AddFormat("worker %d line %d %s", t, i, std::string(40, static_cast<char>('a' + t)));
        }));
        threads.back()->Start();
    }
    go.SetEvent();
    for (auto &thread : threads)
        ASSERT_EQ(WaitForSingleObject(thread->Handle(), GenerousTimeout), WAIT_OBJECT_0);

    const std::string content = Get("server.log");
    std::set<std::string> expected, seen;
    for (int t = 0; t < Threads; ++t)
        for (int i = 0; i < Lines; ++i)
            expected.insert(
                Format("worker %d line %d %s", t, i, std::string(40, static_cast<char>('a' + t))));
    std::size_t start = 0, lines = 0;
    while (start < content.size()) {
        const std::size_t end = content.find("\r\n", start);
        ASSERT_NE(end, std::string::npos) << "last line without CR LF";
        const std::string line = content.substr(start, end - start);
        EXPECT_TRUE(expected.count(line)) << "torn line: " << line;
        seen.insert(line);
        ++lines;
        start = end + 2;
    }
    EXPECT_EQ(lines, expected.size());
    EXPECT_EQ(seen, expected);
}

TEST_F(GenClassesFiles, LogLineFormats) {
    TLogFile log(Root + "a.log");
    log.Add("plain");
    EXPECT_EQ(Get("a.log"), "plain\r\n");
    log.AddEmptyLine();
    log.ThreadIds = true;
    log.Add("tagged");
    EXPECT_EQ(Get("a.log"), Format("plain\r\n\r\nThread %lu: tagged\r\n", GetCurrentThreadId()));

    log.TimeStamps = true;
    log.Clear();
    EXPECT_FALSE(FileExists(Root + "a.log"));
    log.AddEmptyLine(); // only to an existing file
    EXPECT_FALSE(FileExists(Root + "a.log"));
    log.Add("both");
    const std::string line = Get("a.log");
    const std::string tail = Format(": Thread %lu: both\r\n", GetCurrentThreadId());
    ASSERT_GT(line.size(), tail.size());
    EXPECT_EQ(line.substr(line.size() - tail.size()), tail);
    EXPECT_NE(line.find('/'), std::string::npos); // the date comes first

    log.Enabled = false;
    log.Add("not written");
    EXPECT_EQ(Get("a.log"), line);
}

TEST_F(GenClassesFiles, LogIntoAMissingFolderIsQuiet) {
    TLogFile log(Root + "missing\\a.log");
    EXPECT_NO_THROW(log.Add("lost"));
    EXPECT_NO_THROW(log.AddEmptyLine());
    EXPECT_FALSE(DirectoryExists(Root + "missing"));
    TLogFile unnamed("");
    EXPECT_NO_THROW(unnamed.Add("nowhere"));
}

TEST_F(GenClassesFiles, EnumeratorHonoursAttributes) {
    Put("one.txt", "1");
    Put("two.txt", "22");
    ASSERT_TRUE(CreateDir(Root + "sub.txt"));
    std::set<std::string> files;
    TFileEnumerator plain(Root + "*.txt", 0);
    while (plain.Next()) {
        files.insert(plain.GetName());
        EXPECT_FALSE(plain.HasAttribute(faDirectory));
        if (plain.GetName() == "two.txt") {
            EXPECT_EQ(plain.GetSize(), 2);
        }
        EXPECT_NE(plain.GetTime(), 0);
    }
    EXPECT_EQ(files, (std::set<std::string>{"one.txt", "two.txt"}));
    EXPECT_EQ(plain.GetName(), ""); // past the end nothing is current
    EXPECT_EQ(plain.GetSize(), 0);

    std::set<std::string> folders;
    TFileEnumerator withFolders(Root + "*.txt", faDirectory);
    while (withFolders.Next())
        if (withFolders.HasAttribute(faDirectory))
            folders.insert(withFolders.GetName());
    EXPECT_EQ(folders, (std::set<std::string>{"sub.txt"}));
}

TEST_F(GenClassesFiles, EnumeratorOverNothing) {
    TFileEnumerator none(Root + "*.nothing", faAnyFile);
    EXPECT_FALSE(none.IsOpened());
    EXPECT_FALSE(none.Next());
    EXPECT_EQ(none.GetName(), "");
    EXPECT_EQ(none.GetAttributes(), 0);
    EXPECT_FALSE(none.HasAttribute(faAnyFile));
}

} // namespace
