// Calls that worker threads hand to the thread that made the queue, by a posted window message.
// The worker never waits for the receiving thread, so a receiver that waits for the worker (a
// stop that waits for the last piece of a calculation) cannot deadlock with it.
#pragma once

#include <functional>
#include <memory>

#include "SysUtils.h"

class TPostedCalls : public TObject {
public:
    DECLARE_CLASS_NAME(TPostedCalls)
    // Made on the receiving thread, which must dispatch window messages for the calls to run.
    TPostedCalls();
    // On the receiving thread; calls not yet run are dropped.
    ~TPostedCalls() override;
    TPostedCalls(const TPostedCalls &) = delete;
    TPostedCalls &operator=(const TPostedCalls &) = delete;

    // Any thread: queues Call and wakes the receiving thread; never waits for it.
    void Post(std::function<void()> Call);
    // Receiving thread: runs every queued call now, in the order posted (also calls posted while
    // they run). A call that raises is dropped and the exception passes on; the rest stay queued.
    // Calls run by the wake-up message hand their exception to Application->HandleException.
    void RunPending();
    // Calls queued and not yet run.
    int PendingCount();
    bool OnReceivingThread() const;

private:
    struct TState;
    std::unique_ptr<TState> FState;
};
