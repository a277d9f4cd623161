#include <windows.h>

#include <vector>

#include <gtest/gtest.h>

#include "Classes.h"
#include "Forms.h"
#include "PostedCalls.h"

namespace {

// Posts three calls, then tells the receiver it is done.
class TPoster : public TThread {
public:
    TPoster(TPostedCalls &ACalls, std::vector<int> &ALog, HANDLE ADone)
        : TThread(true), Calls(ACalls), Log(ALog), Done(ADone) {}

protected:
    void Execute() override {
        for (int i = 1; i <= 3; ++i)
            Calls.Post([this, i] { Log.push_back(i); });
        SetEvent(Done);
    }

private:
    TPostedCalls &Calls;
    std::vector<int> &Log;
    HANDLE Done;
};

// Dispatches this thread's messages until Count calls ran or the time is up.
void DispatchUntil(const std::vector<int> &Log, std::size_t Count) {
    const DWORD start = GetTickCount();
    while (Log.size() < Count && GetTickCount() - start < 10000) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

// What the application's exception display was given.
struct ShownExceptions {
    std::vector<std::string> Texts;
    std::vector<TObject *> Senders;
    void Show(TObject *Sender, std::exception_ptr E) {
        Texts.push_back(ExceptionDisplayText(E));
        Senders.push_back(Sender);
    }
};

} // namespace

TEST(PostedCalls, WorkerNeverWaitsForTheReceiverAndCallsRunInOrderOnIt) {
    TPostedCalls calls;
    std::vector<int> log;
    HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    {
        // The receiver waits for the worker without dispatching anything: a worker that sent
        // or synchronised would never get here.
        TJoinedThread<TPoster> poster(calls, log, done);
        poster.Start();
        ASSERT_EQ(WaitForSingleObject(done, 10000), WAIT_OBJECT_0);
    }
    CloseHandle(done);
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(calls.PendingCount(), 3);
    EXPECT_TRUE(calls.OnReceivingThread());
    DispatchUntil(log, 3);
    EXPECT_EQ(log, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(calls.PendingCount(), 0);
}

TEST(PostedCalls, FailingCallPassesOnAndTheRestStayQueued) {
    TPostedCalls calls;
    std::vector<int> log;
    calls.Post([] { throw Exception("failed call"); });
    calls.Post([&log] { log.push_back(2); });
    EXPECT_THROW(calls.RunPending(), Exception);
    EXPECT_EQ(calls.PendingCount(), 1);
    DispatchUntil(log, 1); // the wake-up for the rest is on its way
    EXPECT_EQ(log, std::vector<int>{2});
    // Calls still queued when the queue goes are dropped, never run.
    {
        TPostedCalls dropped;
        dropped.Post([&log] { log.push_back(99); });
    }
    DispatchUntil(log, 2);
    EXPECT_EQ(log, std::vector<int>{2});
}

// Calls run by the wake-up message have no caller to take their exception: it goes to the
// application's display like every failure on the interface thread, an abort stays silent, and
// the calls behind a failed one still run.
TEST(PostedCalls, FailureOfAWokenCallIsShownByTheApplication) {
    ASSERT_NE(Application, nullptr);
    ShownExceptions shown;
    Application->OnException = MakeEvent<&ShownExceptions::Show>(&shown);
    std::vector<int> log;
    {
        TPostedCalls calls;
        calls.Post([] { Abort(); });
        calls.Post([&log] { log.push_back(1); });
        calls.Post([] { throw Exception("Posted call failed"); });
        calls.Post([&log] { log.push_back(2); });
        DispatchUntil(log, 2);
        EXPECT_EQ(log, (std::vector<int>{1, 2}));
        EXPECT_EQ(shown.Texts, std::vector<std::string>{"Posted call failed"});
        ASSERT_EQ(shown.Senders.size(), 1u);
        EXPECT_EQ(shown.Senders[0], &calls);
    }
    Application->OnException = nullptr;
}
