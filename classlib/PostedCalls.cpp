#include "PostedCalls.h"

#include <windows.h>

#include <deque>

#include "Controls.h"
#include "Forms.h"

namespace {

constexpr UINT CM_RUNPOSTED = WM_APP + 0x3A1;

} // namespace

struct TPostedCalls::TState {
    HWND Window = nullptr;
    DWORD ThreadID = 0;
    CRITICAL_SECTION Lock;
    std::deque<std::function<void()>> Calls;
    // A wake-up message is on its way; further posts need none.
    bool WakePending = false;

    static LRESULT CALLBACK WindowProc(HWND Window, UINT Msg, WPARAM WParam, LPARAM LParam) {
        auto *owner = reinterpret_cast<TPostedCalls *>(GetWindowLongPtrA(Window, GWLP_USERDATA));
        if (Msg != CM_RUNPOSTED || !owner)
            return DefWindowProcA(Window, Msg, WParam, LParam);
        try {
            owner->RunPending();
        } catch (...) {
            // Nothing may unwind through the system's dispatcher. The failed call is dropped and
            // shown like any other failure of the receiving thread (an abort stays silent).
            try {
                if (Application)
                    Application->HandleException(owner);
            } catch (...) {
                OutputDebugStringA("Exception while showing the failure of a posted call");
            }
        }
        return 0;
    }
};

TPostedCalls::TPostedCalls() : FState(std::make_unique<TState>()) {
    InitializeCriticalSection(&FState->Lock);
    FState->ThreadID = GetCurrentThreadId();
    try {
        FState->Window = AllocateUtilityWindow("TPostedCalls", TState::WindowProc, HWND_MESSAGE, this);
    } catch (...) {
        DeleteCriticalSection(&FState->Lock);
        throw;
    }
}

TPostedCalls::~TPostedCalls() {
    SetWindowLongPtrA(FState->Window, GWLP_USERDATA, 0);
    DestroyWindow(FState->Window);
    DeleteCriticalSection(&FState->Lock);
}

void TPostedCalls::Post(std::function<void()> Call) {
    EnterCriticalSection(&FState->Lock);
    try {
        FState->Calls.push_back(std::move(Call));
    } catch (...) {
        LeaveCriticalSection(&FState->Lock);
        throw;
    }
    const bool wake = !FState->WakePending;
    FState->WakePending = true;
    LeaveCriticalSection(&FState->Lock);
    if (wake)
        PostMessageA(FState->Window, CM_RUNPOSTED, 0, 0);
}

void TPostedCalls::RunPending() {
    for (;;) {
        std::function<void()> call;
        EnterCriticalSection(&FState->Lock);
        FState->WakePending = false;
        if (!FState->Calls.empty()) {
            call = std::move(FState->Calls.front());
            FState->Calls.pop_front();
        }
        LeaveCriticalSection(&FState->Lock);
        if (!call)
            return;
        try {
            call();
        } catch (...) {
            // The calls behind the failed one run on the next wake-up.
            EnterCriticalSection(&FState->Lock);
            const bool wake = !FState->Calls.empty() && !FState->WakePending;
            if (wake)
                FState->WakePending = true;
            LeaveCriticalSection(&FState->Lock);
            if (wake)
                PostMessageA(FState->Window, CM_RUNPOSTED, 0, 0);
            throw;
        }
    }
}

int TPostedCalls::PendingCount() {
    EnterCriticalSection(&FState->Lock);
    const int count = static_cast<int>(FState->Calls.size());
    LeaveCriticalSection(&FState->Lock);
    return count;
}

bool TPostedCalls::OnReceivingThread() const {
    return GetCurrentThreadId() == FState->ThreadID;
}
