#include "vexHandler.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

#include "SysUtils.h"
#include "vexActions.h"
#include "vexBugReport.h"
#include "vexExceptBox.h"
#include "vexHooks.h"
#include "vexSettings.h"
#include "vexStrings.h"
#include "vexThreads.h"
#include "vexTools.h"
#include "vexTypes.h"

TExceptSettings &ExceptSettings() {
    static TExceptSettings settings;
    return settings;
}

namespace {

constexpr LRESULT MainThreadAnswer = 777;
constexpr DWORD RestartWaitMs = 30000;

struct THandlerEntry {
    bool CallInMainThread;
    bool CallIfMainThreadUnreachable;
    TExceptionHandler Handler;
};

std::atomic<int> HandlerSectionState{0};
CRITICAL_SECTION HandlerSection;
std::vector<THandlerEntry> *Handlers = nullptr;

CRITICAL_SECTION &HandlerLock() {
    CallOnce(HandlerSectionState, [] {
        InitializeCriticalSection(&HandlerSection);
        Handlers = new std::vector<THandlerEntry>();
    });
    return HandlerSection;
}

// One request over the pipe, written and read as a whole. Everything it points to lives in the
// requesting thread's frame, which waits until the request is done.
struct TRequest {
    HANDLE Event; // null: stop the handler thread
    DWORD ThreadId;
    BOOL Frozen;
    const std::exception_ptr *Object;
    void *Address;
    BOOL CanContinue;
    const TBugReportInput *Input;
    std::string *ReportVariable;
};

struct TDispatch {
    bool Frozen;
    std::exception_ptr Object;
    void *Address;
    DWORD ThreadId;
    std::string Report;
    std::string Screenshot;
    bool CanContinue;
    bool Handled;
    bool MainThreadUnreachable;
    std::vector<THandlerEntry> Entries;
};

HANDLE PipeRead = nullptr, PipeWrite = nullptr;
HANDLE HandlerThread = nullptr;
std::atomic<DWORD> HandlerId{0};

HWND MainWindow = nullptr;
UINT MainMessage = 0;
DWORD MainThread = 0;
std::atomic<bool> MainPassRunning{false};

std::uint64_t History[HistoryLength] = {};

std::uint64_t NowSeconds() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return ((static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime) / 10000000;
}

bool IsAbort(const std::exception_ptr &Object) {
    try {
        std::rethrow_exception(Object);
    } catch (const EAbort &) {
        return true;
    } catch (...) {
    }
    return false;
}

// Calls the entries that the pass may call, each guarded, until one marks the exception handled.
void RunPass(TDispatch &Dispatch, bool MainThreadPass, bool Unreachable) {
    for (const THandlerEntry &entry : Dispatch.Entries) {
        if (Dispatch.Handled)
            return;
        if (entry.CallInMainThread != MainThreadPass)
            continue;
        if (Unreachable && !entry.CallIfMainThreadUnreachable)
            continue;
        try {
            entry.Handler(Dispatch.Frozen, Dispatch.Object, Dispatch.Address, Dispatch.ThreadId,
                          Dispatch.Report, Dispatch.Screenshot, Dispatch.CanContinue, Dispatch.Handled);
        } catch (...) {
            // A failing handler is passed over; the next one still runs.
        }
    }
}

void MainThreadMessage(HWND, UINT, WPARAM WParam, LPARAM LParam, LRESULT &Result) {
    Result = MainThreadAnswer;
    if (WParam != 0 || !LParam)
        return;
    MainPassRunning = true;
    RunPass(*reinterpret_cast<TDispatch *>(LParam), true, false);
    MainPassRunning = false;
}

void Dispatch(TDispatch &Dispatch) {
    {
        TSectionGuard guard(HandlerLock());
        Dispatch.Entries = *Handlers;
    }
    RunPass(Dispatch, false, false);
    const bool anyMain = std::any_of(Dispatch.Entries.begin(), Dispatch.Entries.end(),
                                     [](const THandlerEntry &e) { return e.CallInMainThread; });
    if (Dispatch.Handled || Dispatch.Frozen || !MainWindow || !anyMain)
        return;
    bool called = false;
    if (HANDLE main = OpenThread(THREAD_SUSPEND_RESUME, FALSE, MainThread)) {
        const DWORD count = ResumeThread(main);
        const bool wasSuspended = count != static_cast<DWORD>(-1) && count > 0;
        SetReportAllocationThreads(GetCurrentThreadId(), MainThread);
        DWORD_PTR answer = 0;
        if (SendMessageTimeoutA(MainWindow, MainMessage, 1, reinterpret_cast<LPARAM>(&Dispatch),
                                SMTO_ABORTIFHUNG, 1500, &answer) &&
            answer == MainThreadAnswer) {
            answer = 0;
            called = SendMessageTimeoutA(MainWindow, MainMessage, 0, reinterpret_cast<LPARAM>(&Dispatch),
                                         SMTO_ABORTIFHUNG, 0x7FFFFFFE, &answer) &&
                     answer == MainThreadAnswer;
        }
        SetReportAllocationThreads(GetCurrentThreadId(), 0);
        if (wasSuspended)
            SuspendThread(main);
        CloseHandle(main);
    }
    if (!called) {
        Dispatch.MainThreadUnreachable = true;
        RunPass(Dispatch, true, true);
    }
}

// The automatic end after a report that nobody handled and no box window decided on.
void AutomaticEnd(bool CanContinue) {
    const TExceptSettings &settings = ExceptSettings();
    if (AutoActionDue(settings.AutoClose))
        CloseApplication();
    if (AutoActionDue(settings.AutoRestart))
        RestartApplication();
    if (!CanContinue)
        CloseApplication();
}

void ProcessException(const TRequest &Request) {
    TSectionGuard guard(ReportLock());
    const TExceptSettings &settings = ExceptSettings();
    CleanKeepList();
    const bool pause = !Request.Frozen && settings.PauseThreads;
    // From here on the reporting thread allocates only from the report's own heap.
    SetReportAllocationThreads(GetCurrentThreadId(), 0);
    if (pause)
        SuspendOtherThreads(true, true);
    for (int i = HistoryLength - 1; i > 0; --i)
        History[i] = History[i - 1];
    History[0] = NowSeconds();

    TBugReportInput input = *Request.Input;
    input.ShowProgress = settings.ShowBox && !settings.WebExtensionMode;
    TDispatch dispatch{};
    dispatch.Frozen = Request.Frozen;
    if (Request.Object)
        dispatch.Object = *Request.Object;
    dispatch.Address = Request.Address;
    dispatch.ThreadId = Request.ThreadId;
    dispatch.Report = CreateBugReport(input);
    dispatch.CanContinue = Request.CanContinue;
    ::Dispatch(dispatch);
    if (!Request.CanContinue) {
        dispatch.Handled = false;
        dispatch.CanContinue = false;
    }
    if (!dispatch.Handled) {
        if (settings.AutoSave)
            AutoSaveBugReport(dispatch.Report);
        if (settings.AutoMail)
            MailBugReport(dispatch.Report, dispatch.Screenshot, nullptr, true);
        bool decided = false;
        if (settings.ShowBox) {
            if (settings.WebExtensionMode) {
                if (Request.ReportVariable)
                    *Request.ReportVariable = dispatch.Report;
            } else {
                ShowExceptionBox(dispatch.Frozen, dispatch.Object, dispatch.Address, dispatch.CanContinue,
                                 dispatch.Screenshot, dispatch.Report);
                decided = !(settings.ConsoleOutput && IsConsoleProgram());
            }
        }
        if (!decided)
            AutomaticEnd(dispatch.CanContinue);
    }
    dispatch = TDispatch{};
    input = TBugReportInput{};
    if (pause)
        SuspendOtherThreads(false, true);
    SetReportAllocationThreads(0, 0);
}

void ProcessGuarded(const TRequest &Request) {
    try {
        ProcessException(Request);
    } catch (...) {
        SetReportAllocationThreads(0, 0);
    }
}

DWORD WINAPI HandlerThreadProc(void *) {
    TRequest request;
    DWORD read = 0;
    while (ReadFile(PipeRead, &request, sizeof(request), &read, nullptr) && read == sizeof(request) &&
           request.Event) {
        ProcessGuarded(request);
        SetEvent(request.Event);
        // A thread that waits in GetMessageA sees the event only with a message.
        PostThreadMessageA(request.ThreadId, WM_NULL, 0, 0);
    }
    return 0;
}

// The main thread goes on dispatching its messages while it waits for its report (the handlers
// that need it and the program's own windows keep working). A quit message is kept for later:
// the request lives in this frame, so the wait cannot end before the report does.
void WaitInMainThread(HANDLE Event) {
    bool quit = false;
    int exitCode = 0;
    while (!quit && WaitForSingleObject(Event, 0) == WAIT_TIMEOUT) {
        MSG message;
        const BOOL got = GetMessageA(&message, nullptr, 0, 0);
        if (got == 0) {
            quit = true;
            exitCode = static_cast<int>(message.wParam);
        } else if (got < 0) {
            break;
        } else {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    // Sent messages (the handler thread's calls) are still answered while waiting without a loop.
    while (MsgWaitForMultipleObjects(1, &Event, FALSE, INFINITE, QS_SENDMESSAGE) == WAIT_OBJECT_0 + 1) {
        MSG message;
        PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    if (quit)
        PostQuitMessage(exitCode);
}

void Submit(TRequest &Request) {
    PauseFreezeWatchdog(true);
    HANDLE event = IsSystemLockHeld() ? nullptr : CreateEventA(nullptr, TRUE, FALSE, nullptr);
    bool done = false;
    if (event && PipeWrite && HandlerId != 0) {
        Request.Event = event;
        DWORD written = 0;
        if (WriteFile(PipeWrite, &Request, sizeof(Request), &written, nullptr) &&
            written == sizeof(Request)) {
            if (GetCurrentThreadId() == MainThread)
                WaitInMainThread(event);
            else
                WaitForSingleObject(event, INFINITE);
            done = true;
        }
    }
    if (event)
        CloseHandle(event);
    if (!done) {
        // No handler thread, a held system lock or a failed write: the report is made here rather
        // than lost.
        Request.Event = nullptr;
        ProcessGuarded(Request);
    }
    PauseFreezeWatchdog(false);
    if (ExceptSettings().ResetFpuAfterReport)
        ResetFloatingPointUnit();
}

int Report(bool Frozen, const std::exception_ptr &Object, void *Address, bool CanContinue,
           TBugReportInput &Input, std::string *ReportVariable) {
    TRequest request{};
    request.ThreadId = GetCurrentThreadId();
    request.Frozen = Frozen;
    request.Object = &Object;
    request.Address = Address;
    request.CanContinue = CanContinue;
    request.Input = &Input;
    request.ReportVariable = ReportVariable;
    Submit(request);
    return 0;
}

bool Blocked() {
    const DWORD self = GetCurrentThreadId();
    return self == HandlerId || (self == MainThread && MainPassRunning);
}

} // namespace

void RegisterExceptionHandler(bool CallInMainThread, bool CallIfMainThreadUnreachable,
                              TExceptionHandler Handler) {
    TSectionGuard guard(HandlerLock());
    for (THandlerEntry &entry : *Handlers)
        if (entry.Handler == Handler) {
            entry.CallInMainThread = CallInMainThread;
            entry.CallIfMainThreadUnreachable = CallIfMainThreadUnreachable;
            return;
        }
    Handlers->push_back({CallInMainThread, CallIfMainThreadUnreachable, Handler});
}

bool UnregisterExceptionHandler(TExceptionHandler Handler) {
    TSectionGuard guard(HandlerLock());
    bool removed = false;
    for (std::size_t i = 0; i < Handlers->size();) {
        if ((*Handlers)[i].Handler == Handler) {
            (*Handlers)[i] = Handlers->back();
            Handlers->pop_back();
            removed = true;
        } else {
            ++i;
        }
    }
    return removed;
}

int HandleException(bool Frozen, std::exception_ptr ExceptObject, void *ExceptAddr, bool CanContinue,
                    std::uintptr_t StackPointer, std::uintptr_t FramePointer, std::string *ReportVariable) {
    try {
        if (Blocked())
            return 0;
        if (!ExceptObject && !Frozen)
            ExceptObject = std::current_exception();
        if (ExceptObject && IsAbort(ExceptObject)) {
            if (CanContinue)
                return 0;
            CloseApplication();
        }
        // What the report needs of the exception is copied here, in the faulting thread, before the
        // other threads are held.
        TBugReportInput input;
        input.Frozen = Frozen;
        DescribeReportException(ExceptObject, input);
        input.ExceptAddress = reinterpret_cast<std::uintptr_t>(ExceptAddr);
        input.ThreadId = GetCurrentThreadId();
        if (!StackPointer) {
            StackPointer = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
            FramePointer = StackPointer;
        }
        input.StackPointer = StackPointer;
        input.FramePointer = FramePointer;
        return Report(Frozen, ExceptObject, ExceptAddr, CanContinue, input, ReportVariable);
    } catch (...) {
        return 0;
    }
}

int HandleProcessorException(const EXCEPTION_RECORD &Record, const CONTEXT &Context, bool CanContinue) {
    try {
        if (Blocked())
            return 0;
        std::exception_ptr object = std::make_exception_ptr(VexException(HardwareExceptionText(Record)));
        TBugReportInput input;
        DescribeReportException(object, input);
        input.ExceptAddress = reinterpret_cast<std::uintptr_t>(Record.ExceptionAddress);
        input.ThreadId = GetCurrentThreadId();
        input.StackPointer = Context.Esp;
        input.FramePointer = Context.Ebp;
        input.ProcessorException = true;
        return Report(false, object, Record.ExceptionAddress, CanContinue, input, nullptr);
    } catch (...) {
        return 0;
    }
}

void HandleFreeze() {
    try {
        TBugReportInput input;
        input.Frozen = true;
        const std::exception_ptr none;
        Report(true, none, nullptr, true, input, nullptr);
    } catch (...) {
    }
}

bool AutoActionDue(std::uint32_t N) {
    if (N == 0)
        return false;
    if (N == 1)
        return true;
    const std::uint64_t now = NowSeconds();
    for (std::uint64_t time : History)
        if (time == 0 || time + N < now)
            return false;
    return true;
}

void ExceptionHistory(std::uint64_t (&Out)[HistoryLength]) {
    std::memcpy(Out, History, sizeof(History));
}

void SetExceptionHistory(const std::uint64_t (&In)[HistoryLength]) {
    std::memcpy(History, In, sizeof(History));
}

namespace {

std::string RestartName(DWORD ProcessId) {
    return "vexExceptRestart" + HexText(static_cast<std::uint32_t>(ProcessId), 1, '0');
}

constexpr DWORD RestartBlockSize = 88;

} // namespace

void RestartApplication() {
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    std::string commandLine = GetCommandLineA();
    if (CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                       nullptr, &startup, &process)) {
        // Default security: only this user's processes can open the hand-over.
        HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                            RestartBlockSize, RestartName(process.dwProcessId).c_str());
        if (mapping) {
            if (auto *block = static_cast<std::uint8_t *>(
                    MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, RestartBlockSize))) {
                const DWORD self = GetCurrentProcessId();
                HANDLE duplicate = nullptr;
                DuplicateHandle(GetCurrentProcess(), mapping, process.hProcess, &duplicate, 0, FALSE,
                                DUPLICATE_SAME_ACCESS);
                std::memcpy(block, &self, 4);
                std::memcpy(block + 4, &duplicate, 4);
                std::memcpy(block + 8, History, sizeof(History));
                UnmapViewOfFile(block);
            }
        }
        ResumeThread(process.hThread);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    TerminateProcess(GetCurrentProcess(), 2);
    ExitProcess(2);
}

void CloseApplication() {
    TerminateProcess(GetCurrentProcess(), 1);
    ExitProcess(1);
}

void WaitForRestartedPredecessor() {
    HANDLE mapping = OpenFileMappingA(FILE_MAP_READ, FALSE, RestartName(GetCurrentProcessId()).c_str());
    if (!mapping)
        return;
    if (const auto *block = static_cast<const std::uint8_t *>(
            MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, RestartBlockSize))) {
        DWORD predecessor = 0;
        HANDLE duplicate = nullptr;
        std::memcpy(&predecessor, block, 4);
        std::memcpy(&duplicate, block + 4, 4);
        if (duplicate)
            CloseHandle(duplicate);
        if (HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, predecessor)) {
            // The predecessor ends right after the hand-over; a hung one does not keep this one.
            WaitForSingleObject(process, RestartWaitMs);
            CloseHandle(process);
        }
        std::memcpy(History, block + 8, sizeof(History));
        UnmapViewOfFile(block);
    }
    CloseHandle(mapping);
}

bool StartHandlerThread() {
    if (HandlerThread)
        return true;
    if (!CreatePipe(&PipeRead, &PipeWrite, nullptr, 0))
        return false;
    DWORD id = 0;
    HandlerThread = CreateThread(nullptr, 0, HandlerThreadProc, nullptr, 0, &id);
    if (!HandlerThread) {
        CloseHandle(PipeRead);
        CloseHandle(PipeWrite);
        PipeRead = PipeWrite = nullptr;
        return false;
    }
    HandlerId = id;
    SetThreadInfo(id, HandlerThread, "-", "", nullptr, 0);
    SetThreadPriority(HandlerThread, THREAD_PRIORITY_HIGHEST);
    return true;
}

void StopHandlerThread() {
    if (!HandlerThread)
        return;
    ResumeThread(HandlerThread);
    CloseHandle(PipeWrite); // ends the thread's read loop
    PipeWrite = nullptr;
    // The thread ends by itself once its read fails. Terminating it is the last resort: a thread
    // killed inside the heap or a lock leaves them held for the rest of the shutdown, so it gets
    // time enough even on a slow, busy machine.
    if (IsSystemLockHeld() || WaitForSingleObject(HandlerThread, 10000) != WAIT_OBJECT_0)
        TerminateThread(HandlerThread, 0);
    CloseHandle(HandlerThread);
    HandlerThread = nullptr;
    CloseHandle(PipeRead);
    PipeRead = nullptr;
    SetThreadInfo(HandlerId, nullptr, "", "", nullptr, 0);
    HandlerId = 0;
}

DWORD HandlerThreadId() {
    return HandlerId;
}

void RegisterMainThreadHandler() {
    MainThread = GetCurrentThreadId();
    MainMessage = AddMessageHandler(MainThreadMessage, 0, 0);
    MainWindow = MainMessage ? ThreadHandlerWindow(0) : nullptr;
}

void UnregisterMainThreadHandler() {
    if (MainMessage)
        RemoveMessageHandler(MainThreadMessage, MainMessage, MainThread);
    MainMessage = 0;
    MainWindow = nullptr;
}

// The linker's export directive names the routine without its stdcall decoration.
asm(".section .drectve\n\t.ascii \" -export:vexTraceProcess=vexTraceProcess@4\"\n\t.text");

extern "C" DWORD WINAPI vexTraceProcess(void *) {
    try {
        const DWORD self = GetCurrentThreadId();
        SetThreadName(self, "-");
        TBugReportInput input;
        input.Frozen = true;
        input.ShowProgress = true;
        std::string report = CreateBugReport(input);
        CopyToClipboard(report);
        SetThreadInfo(self, nullptr, "", "", nullptr, 0);
    } catch (...) {
    }
    return 0;
}
