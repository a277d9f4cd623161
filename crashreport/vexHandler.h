// The handling core: every intercepted exception ends in HandleException, which hands it over a
// pipe to the library's handler thread (a healthy stack and message queue), while the faulting
// thread waits. The handler thread holds the other threads, builds the report, lets the registered
// handlers see and change it, then saves, mails or shows it, and continues, restarts or closes.
#pragma once

#include <windows.h>

#include <cstdint>
#include <exception>
#include <string>

#include "Classes.h"

// Called for each report. Setting Handled ends the dispatch and every further action for this
// exception; changing BugReport changes what is shown, saved and mailed.
using TExceptionHandler =
    TMethod<void(bool Frozen, std::exception_ptr ExceptObject, void *ExceptAddr, DWORD ThreadId,
                 std::string &BugReport, std::string &Screenshot, bool &CanContinue, bool &Handled)>;

// Appends the handler, or updates the two options of one already registered.
void RegisterExceptionHandler(bool CallInMainThread, bool CallIfMainThreadUnreachable,
                              TExceptionHandler Handler);
bool UnregisterExceptionHandler(TExceptionHandler Handler);

// Reports one exception. A null object stands for the exception being handled at the moment of the
// call. StackPointer and FramePointer are those of the reporting code (0: the caller's). Returns 0.
int HandleException(bool Frozen, std::exception_ptr ExceptObject, void *ExceptAddr, bool CanContinue,
                    std::uintptr_t StackPointer, std::uintptr_t FramePointer, std::string *ReportVariable);
// The same for a processor fault met by the outermost filter.
int HandleProcessorException(const EXCEPTION_RECORD &Record, const CONTEXT &Context, bool CanContinue);
// The freeze watchdog's report about the main thread.
void HandleFreeze();

// End the process: restart (exit code 2, the new process waits for this one) or close (exit code 1).
[[noreturn]] void RestartApplication();
[[noreturn]] void CloseApplication();
// Module start-up of a restarted program: waits until its predecessor has ended (at most 30 s) and
// takes over its exception-time history.
void WaitForRestartedPredecessor();

// Whether an automatic action with setting N is due now: never for 0, always for 1, and for 2 or
// more when the last ten exceptions all came within N seconds.
bool AutoActionDue(std::uint32_t N);
// Seconds since 1601 of the last ten exceptions, newest first (0: none).
inline constexpr int HistoryLength = 10;
void ExceptionHistory(std::uint64_t (&History)[HistoryLength]);
void SetExceptionHistory(const std::uint64_t (&History)[HistoryLength]);

bool StartHandlerThread();
void StopHandlerThread();
DWORD HandlerThreadId();
// The main thread's hidden window answers the handler thread's calls.
void RegisterMainThreadHandler();
void UnregisterMainThreadHandler();

// Allocations of these threads (0: none) come from the report's own heap while the other threads
// are held; any thread may free them.
void SetReportAllocationThreads(DWORD First, DWORD Second);

// The program's one export, under its plain name (vexTraceProcess, not vexTraceProcess@4), in the
// form of a thread routine: another program may start it as a remote thread of this one.
extern "C" DWORD WINAPI vexTraceProcess(void *Parameter);
