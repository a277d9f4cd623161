// Waiting in tests for work that reaches this thread through its message queue (layers post the
// ends of their runs there).
#pragma once

#include <windows.h>

// Dispatches this thread's messages until Done holds or the time-out passes; waits for messages,
// never sleeps.
template <class TCondition> bool WaitUntil(TCondition Done, DWORD Timeout = 180000) {
    const DWORD start = GetTickCount();
    for (;;) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
        if (Done())
            return true;
        if (GetTickCount() - start > Timeout)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    }
}
