// TThread: start, wait, terminate, free-on-terminate, exceptions and the x87 control word.
#include <windows.h>

#include "Classes.h"

#include <atomic>
#include <stdexcept>

#include <gtest/gtest.h>

namespace {

const DWORD Generous = 20000; // ms; only reached when something is broken

// A Win32 event the tests wait on.
class Signal {
public:
    Signal() : FHandle(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    ~Signal() { CloseHandle(FHandle); }
    void Set() { SetEvent(FHandle); }
    bool Wait(DWORD ms = Generous) { return WaitForSingleObject(FHandle, ms) == WAIT_OBJECT_0; }
    bool IsSet() { return WaitForSingleObject(FHandle, 0) == WAIT_OBJECT_0; }

private:
    HANDLE FHandle;
};

class TProbe : public TThread {
public:
    enum Mode { Return, LoopUntilTerminated, ThrowException, ThrowInt };
    TProbe(Mode mode, Signal *destroyed = nullptr, std::atomic<int> *executed = nullptr)
        : TThread(true), FMode(mode), FDestroyed(destroyed), FExecuted(executed) {}
    ~TProbe() override {
        if (FDestroyed)
            FDestroyed->Set();
    }
    void Terminate() override {
        TThread::Terminate();
        Stop.Set();
    }
    std::atomic<int> ExecuteCalls{0};
    std::atomic<unsigned> ControlWord{0};
    std::atomic<DWORD> ExecuteThread{0};
    std::atomic<DWORD> EndThread{0};
    Signal Running;
    Signal Stop;

protected:
    void Execute() override {
        ++ExecuteCalls;
        if (FExecuted)
            ++*FExecuted;
        ExecuteThread = GetCurrentThreadId();
        unsigned short cw = 0;
        __asm__ __volatile__("fnstcw %0" : "=m"(cw));
        ControlWord = cw;
        Running.Set();
        switch (FMode) {
        case Return:
            SetReturnValue(42);
            break;
        case LoopUntilTerminated:
            while (!Terminated())
                Stop.Wait();
            SetReturnValue(7);
            break;
        case ThrowException:
            throw Exception("failed in %s", "Execute");
        case ThrowInt:
            throw 5;
        }
    }
    void DoTerminate() override {
        EndThread = GetCurrentThreadId();
        TThread::DoTerminate();
    }

private:
    Mode FMode;
    Signal *FDestroyed;
    std::atomic<int> *FExecuted;
};
using TProbeThread = TJoinedThread<TProbe>;

class TTerminateWatcher : public TObject {
public:
    std::atomic<int> Calls{0};
    TObject *Sender = nullptr;
    void Terminated(TObject *sender) {
        Sender = sender;
        ++Calls;
    }
};

TEST(ThreadTest, RunsExecuteWithTheCalculationControlWord) {
    // The creating thread runs with another control word; the new thread must not inherit it.
    unsigned short mine = 0x027F, saved = 0;
    __asm__ __volatile__("fnstcw %0" : "=m"(saved));
    __asm__ __volatile__("fldcw %0" : : "m"(mine));
    TTerminateWatcher watcher;
    TProbeThread thread(TProbeThread::Return);
    thread.OnTerminate = MakeNotifyEvent<&TTerminateWatcher::Terminated>(&watcher);
    EXPECT_TRUE(thread.Suspended());
    EXPECT_NE(nullptr, thread.Handle());
    EXPECT_NE(0u, thread.ThreadID());
    thread.Start();
    EXPECT_EQ(42u, thread.WaitFor());
    __asm__ __volatile__("fldcw %0" : : "m"(saved));
    EXPECT_EQ(0x137Fu, thread.ControlWord.load());
    EXPECT_EQ(1, thread.ExecuteCalls.load());
    EXPECT_EQ(thread.ThreadID(), thread.ExecuteThread.load());
    EXPECT_EQ(42, thread.ReturnValue());
    EXPECT_TRUE(thread.Finished());
    // The end-of-thread notification runs on the thread itself, with the thread as sender.
    EXPECT_EQ(thread.ThreadID(), thread.EndThread.load());
    EXPECT_EQ(1, watcher.Calls.load());
    EXPECT_EQ(&thread, watcher.Sender);
}

TEST(ThreadTest, TerminateEndsALoopingThread) {
    TProbeThread thread(TProbeThread::LoopUntilTerminated);
    thread.Start();
    ASSERT_TRUE(thread.Running.Wait());
    EXPECT_FALSE(thread.Finished());
    thread.Terminate();
    EXPECT_TRUE(thread.Terminated());
    EXPECT_EQ(7u, thread.WaitFor());
}

TEST(ThreadTest, NoExceptionLeavesTheThread) {
    for (TProbeThread::Mode mode : {TProbeThread::ThrowException, TProbeThread::ThrowInt}) {
        TTerminateWatcher watcher;
        TProbeThread thread(mode);
        thread.OnTerminate = MakeNotifyEvent<&TTerminateWatcher::Terminated>(&watcher);
        thread.Start();
        thread.WaitFor();
        EXPECT_EQ(1, watcher.Calls.load()); // the thread still ended the usual way
        ASSERT_TRUE(thread.FatalException());
        if (mode == TProbeThread::ThrowException) {
            try {
                std::rethrow_exception(thread.FatalException());
            } catch (const Exception &e) {
                EXPECT_EQ("failed in Execute", e.Message());
            }
        }
    }
}

TEST(ThreadTest, FreeOnTerminateDeletesTheObject) {
    Signal destroyed;
    TProbeThread *thread = new TProbeThread(TProbeThread::Return, &destroyed);
    thread->SetFreeOnTerminate(true);
    EXPECT_THROW(thread->WaitFor(), EThread);
    thread->Start();
    EXPECT_TRUE(destroyed.Wait());
}

TEST(ThreadTest, ThreadDestroyedBeforeItRanNeverRunsExecute) {
    std::atomic<int> executed{0};
    Signal destroyed;
    auto *thread = new TProbeThread(TProbeThread::Return, &destroyed, &executed);
    thread->Suspend(); // suspend count 2
    delete thread;     // must neither hang nor call Execute of a dying object
    EXPECT_TRUE(destroyed.IsSet());
    EXPECT_EQ(0, executed.load());
}

// Execute sleeps on an event that only this class's own Terminate sets. Destroying the object
// must reach that Terminate and wait for Execute to end before the members are gone.
class TSleeper : public TThread {
public:
    struct TLog {
        std::atomic<int> Clock{0};
        std::atomic<int> ExecuteEnded{0};
        std::atomic<int> MembersDestroyed{0};
        std::atomic<bool> Woken{false};
    };
    explicit TSleeper(TLog &log) : TThread(true), FLog(log) {}
    ~TSleeper() override { FLog.MembersDestroyed = ++FLog.Clock; }
    void Terminate() override {
        TThread::Terminate();
        FWake.Set();
    }
    Signal Running;

protected:
    void Execute() override {
        Running.Set();
        FLog.Woken = FWake.Wait(); // a time-out here means Terminate was never called
        FLog.ExecuteEnded = ++FLog.Clock;
    }

private:
    TLog &FLog;
    Signal FWake;
};

TEST(ThreadTest, DestructionWakesTheThreadThroughItsOwnTerminate) {
    TSleeper::TLog log;
    auto *thread = new TJoinedThread<TSleeper>(log);
    thread->Start();
    ASSERT_TRUE(thread->Running.Wait());
    delete thread;
    EXPECT_TRUE(log.Woken.load());
    EXPECT_NE(0, log.ExecuteEnded.load());
    EXPECT_LT(log.ExecuteEnded.load(), log.MembersDestroyed.load());
}

TEST(ThreadTest, DestroyingARunningThreadStopsItFirst) {
    Signal destroyed;
    auto *thread = new TProbeThread(TProbeThread::LoopUntilTerminated, &destroyed);
    thread->Start();
    ASSERT_TRUE(thread->Running.Wait());
    delete thread;
    EXPECT_TRUE(destroyed.IsSet());
}

TEST(ThreadTest, MisuseIsRefused) {
    struct TNothing : TThread {
        TNothing(bool suspended) : TThread(suspended) {}
        void Execute() override {}
    };
    EXPECT_THROW(TJoinedThread<TNothing>(false), EThread); // would start before the object is complete
    TJoinedThread<TNothing> idle(true);
    EXPECT_THROW(idle.WaitFor(), EThread); // suspended: the wait would never end
}

TEST(ThreadTest, PriorityAndSuspendResume) {
    TProbeThread thread(TProbeThread::LoopUntilTerminated);
    thread.SetPriority(tpLower);
    EXPECT_EQ(tpLower, thread.Priority());
    thread.SetPriority(tpHigher);
    EXPECT_EQ(tpHigher, thread.Priority());
    thread.Start();
    ASSERT_TRUE(thread.Running.Wait());
    thread.Suspend();
    EXPECT_TRUE(thread.Suspended());
    thread.Resume();
    EXPECT_FALSE(thread.Suspended());
    thread.Terminate();
    EXPECT_EQ(7u, thread.WaitFor());
}

} // namespace
