// A limit on a scope that could wait forever when the code under test is wrong (a stop that
// never ends, a thread that is never joined): past the limit the test program ends with a
// message and a failing exit code, so a fault shows in seconds rather than at the test
// program's time limit, and nothing after it can hang on the stuck thread.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>
#include <thread>

class TWatchdog {
public:
    TWatchdog(std::string AWhat, DWORD ALimit)
        : FWhat(std::move(AWhat)), FDone(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
          FThread([this, ALimit] { Watch(ALimit); }) {}
    ~TWatchdog() {
        SetEvent(FDone);
        FThread.join();
        CloseHandle(FDone);
    }
    TWatchdog(const TWatchdog &) = delete;
    TWatchdog &operator=(const TWatchdog &) = delete;

private:
    void Watch(DWORD Limit) {
        if (WaitForSingleObject(FDone, Limit) != WAIT_TIMEOUT)
            return;
        std::fprintf(stderr, "\nFAILED: %s did not end within %lu ms\n", FWhat.c_str(), Limit);
        std::fflush(stderr);
        TerminateProcess(GetCurrentProcess(), 4);
    }

    std::string FWhat;
    HANDLE FDone;
    std::thread FThread;
};
