// The crash library's fault scenarios, each run in this separate process by the crash tests:
//   VexCrashChild.exe REPORTFILE SCENARIO...
// The library is installed as in the program (but saves every report to REPORTFILE instead of
// showing a box, unless the scenario shows the box); the scenarios run one after another, and each
// that the program survives prints "done SCENARIO". Worker threads carry the scenario's name (given
// through the debugger's naming exception), so that the test finds each scenario's report.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>

#include "Forms.h"
#include "SysUtils.h"
#include "vexBugReport.h"
#include "vexHandler.h"
#include "vexHooks.h"
#include "vexMapFile.h"
#include "vexSettings.h"
#include "vexThreads.h"

// A write through a null pointer that the compiler cannot see: a fault it knows of would let it
// drop the code around it.
int *volatile NullTarget = nullptr;
inline void Fault(int Value) {
    *NullTarget = Value;
}

// The crashing routines stay outside any namespace and are never inlined, so that the map and
// addr2line name them alike; the empty asm statements keep their calls from being tail calls.

__attribute__((noinline)) void CrashChainF3() {
    Fault(1);
    asm volatile("" ::: "memory");
}

__attribute__((noinline)) void CrashChainF2() {
    CrashChainF3();
    asm volatile("" ::: "memory");
}

__attribute__((noinline)) void CrashChainF1() {
    CrashChainF2();
    asm volatile("" ::: "memory");
}

__attribute__((noinline)) void CrashRecursion(int depth) {
    if (depth == 0)
        Fault(2);
    else
        CrashRecursion(depth - 1);
    asm volatile("" ::: "memory");
}

__attribute__((noinline)) std::uintptr_t CrashStaleCallee() {
    return reinterpret_cast<std::uintptr_t>(__builtin_return_address(0));
}

__attribute__((noinline)) std::uintptr_t CrashStaleCaller() {
    const std::uintptr_t at = CrashStaleCallee();
    asm volatile("" ::: "memory");
    return at;
}

__attribute__((noinline)) void CrashStaleHolder(std::uintptr_t stale) {
    volatile std::uintptr_t slots[4] = {stale, stale, stale, stale};
    Fault(3);
    asm volatile("" ::: "memory");
    (void)slots[0];
}

namespace {

constexpr UINT ThrowMessage = WM_USER + 77;

void NameThisThread(const char *Name) {
    const ULONG_PTR info[4] = {0x1000, reinterpret_cast<ULONG_PTR>(Name), 0xFFFFFFFF, 0};
    RaiseException(ThreadNameExceptionCode, 0, 4, info);
}

struct TWorker {
    const char *Name;
    void (*Body)();
};

DWORD WINAPI WorkerThread(void *Parameter) {
    const TWorker &worker = *static_cast<TWorker *>(Parameter);
    NameThisThread(worker.Name);
    worker.Body();
    return 7; // not reached: the fault ends the thread
}

// Runs Body in a named worker and waits for that thread to end.
bool RunWorker(const char *Name, void (*Body)()) {
    TWorker worker{Name, Body};
    HANDLE thread = CreateThread(nullptr, 0, WorkerThread, &worker, 0, nullptr);
    if (!thread)
        return false;
    const bool ended = WaitForSingleObject(thread, 300000) == WAIT_OBJECT_0;
    CloseHandle(thread);
    return ended;
}

// An exception that escapes a handler of the application window's messages: the window
// procedure's catch hands it to the application's exception handler.
struct TThrowingHook {
    std::string Kind;
    bool Hook(TMessage &Message) {
        if (Message.Msg != ThrowMessage)
            return false;
        if (Kind == "abort")
            throw EAbort("quiet");
        throw Exception("Window procedure failure");
    }
};

void SendToApplication(const std::string &Kind) {
    TThrowingHook hook{Kind};
    const TWindowHook method = MakeEvent<&TThrowingHook::Hook>(&hook);
    Application->HookMainWindow(method);
    SendMessageA(Application->Handle(), ThrowMessage, 0, 0);
    Application->UnhookMainWindow(method);
}

struct THandlingHandler {
    int Calls = 0;
    void Handle(bool, std::exception_ptr, void *, DWORD, std::string &, std::string &, bool &,
                bool &Handled) {
        ++Calls;
        Handled = true;
    }
};

[[noreturn]] __attribute__((noinline)) void ThrowUncaught() {
    throw std::runtime_error("Uncaught in the main thread");
}

bool RunScenario(const std::string &Scenario) {
    if (Scenario == "worker-av")
        return RunWorker("worker-av", [] { Fault(4); });
    if (Scenario == "chain")
        return RunWorker("chain", CrashChainF1);
    if (Scenario == "recursion")
        return RunWorker("recursion", [] { CrashRecursion(50); });
    if (Scenario == "stale")
        return RunWorker("stale", [] { CrashStaleHolder(CrashStaleCaller()); });
    if (Scenario == "windowproc" || Scenario == "abort") {
        SendToApplication(Scenario);
        return true;
    }
    if (Scenario == "handled") {
        THandlingHandler handler;
        const TExceptionHandler method = MakeEvent<&THandlingHandler::Handle>(&handler);
        RegisterExceptionHandler(false, false, method);
        SendToApplication("windowproc");
        UnregisterExceptionHandler(method);
        return handler.Calls == 1;
    }
    if (Scenario == "main-throw")
        ThrowUncaught();
    if (Scenario == "main-av") {
        Fault(5);
        return false;
    }
    if (Scenario == "freeze") {
        // The interface thread stops answering for 5 s.
        HANDLE never = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        WaitForSingleObject(never, 5000);
        CloseHandle(never);
        return true;
    }
    return false;
}

} // namespace

int main(int argc, char **argv) {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc < 3) {
        std::printf("usage: VexCrashChild REPORTFILE SCENARIO...\n");
        return 9;
    }
    TExceptSettings &settings = ExceptSettings();
    settings.ReportFileName = argv[1];
    settings.AutoSave = true;
    settings.ConsoleOutput = false;
    bool box = false;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "freeze") == 0)
            settings.FreezeTimeout = 1000;
        if (std::strncmp(argv[i], "box", 3) == 0)
            box = true;
    }
    settings.ShowBox = box;
    InitializeForms();
    InitializeVexMapFile();
    InitializeVexExcept();
    int code = 0;
    for (int i = 2; i < argc; ++i) {
        std::string scenario = argv[i];
        if (scenario == "box-continue")
            scenario = "windowproc";
        else if (scenario == "box-close")
            scenario = "main-throw";
        if (!RunScenario(scenario)) {
            std::printf("failed %s\n", argv[i]);
            code = 8;
        } else {
            std::printf("done %s\n", argv[i]);
        }
    }
    FinalizeVexExcept();
    FinalizeVexMapFile();
    FinalizeForms();
    return code;
}
