// Win32 part of the class library's classes: handle and file streams, threads.
#include <windows.h>

#include "Classes.h"

namespace {
std::string SystemErrorText(DWORD code) {
    const std::string text = SysErrorMessage(code);
    return text.empty() ? Format("error %lu", code) : text;
}
} // namespace

// =============================================================================================
// THandleStream, TFileStream

int32_t THandleStream::Read(void *Buffer, int32_t Count) {
    if (Count <= 0)
        return 0;
    DWORD done = 0;
    if (!ReadFile(FHandle, Buffer, static_cast<DWORD>(Count), &done, nullptr)) {
        if (GetLastError() == ERROR_BROKEN_PIPE || GetLastError() == ERROR_HANDLE_EOF)
            return 0; // the other end is closed: the end of the stream
        RaiseReadError();
    }
    return static_cast<int32_t>(done);
}

int32_t THandleStream::Write(const void *Buffer, int32_t Count) {
    if (Count <= 0)
        return 0;
    DWORD done = 0;
    if (!WriteFile(FHandle, Buffer, static_cast<DWORD>(Count), &done, nullptr))
        RaiseWriteError();
    return static_cast<int32_t>(done);
}

int64_t THandleStream::Seek(int64_t Offset, int Origin) {
    static const DWORD methods[] = {FILE_BEGIN, FILE_CURRENT, FILE_END};
    if (Origin < 0 || Origin > 2)
        throw EStreamError("Invalid stream seek origin (%d)", Origin);
    LARGE_INTEGER distance, result;
    distance.QuadPart = Offset;
    if (!SetFilePointerEx(FHandle, distance, &result, methods[Origin]))
        throw EStreamError("Stream seek error");
    return result.QuadPart;
}

void THandleStream::SetSize(int64_t NewSize) {
    int64_t position = Position();
    Seek(NewSize, soFromBeginning);
    if (!SetEndOfFile(FHandle))
        RaiseWriteError();
    Seek(position < NewSize ? position : NewSize, soFromBeginning);
}

TFileStream::TFileStream(const std::string &AFileName, uint16_t Mode)
    : THandleStream(INVALID_HANDLE_VALUE), FFileName(AFileName) {
    if (Mode == fmCreate) {
        FHandle = CreateFileA(AFileName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
        if (FHandle == INVALID_HANDLE_VALUE)
            throw EFCreateError("Cannot create file \"%s\"", AFileName);
        return;
    }
    static const DWORD access[] = {GENERIC_READ, GENERIC_WRITE, GENERIC_READ | GENERIC_WRITE};
    static const DWORD share[] = {0, 0, FILE_SHARE_READ, FILE_SHARE_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE};
    unsigned accessIndex = Mode & 3, shareIndex = (Mode & 0xF0) >> 4;
    if (accessIndex < 3 && shareIndex < 5)
        FHandle = CreateFileA(AFileName.c_str(), access[accessIndex], share[shareIndex], nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (FHandle == INVALID_HANDLE_VALUE)
        throw EFOpenError("Cannot open file \"%s\"", AFileName);
}

TFileStream::~TFileStream() {
    if (FHandle != INVALID_HANDLE_VALUE)
        CloseHandle(FHandle);
}

// =============================================================================================
// TThread

TThread::TThread(bool CreateSuspended) {
    if (!CreateSuspended)
        throw EThread("Thread creation error: %s", "create it suspended and call Start once it is complete");
    DWORD id = 0;
    FHandle = CreateThread(nullptr, 0, &TThread::ThreadProc, this, CREATE_SUSPENDED, &id);
    if (!FHandle)
        throw EThread("Thread creation error: %s", SystemErrorText(GetLastError()));
    FThreadID = id;
}

TThread::~TThread() {
    TerminateAndWait();
    if (FHandle)
        CloseHandle(FHandle);
}

unsigned long __attribute__((stdcall)) TThread::ThreadProc(void *Parameter) {
    TThread *thread = static_cast<TThread *>(Parameter);
    if (thread->FSkipExecute.load())
        return 0; // destroyed before it was ever started
    // Every thread that calculates runs with all x87 exceptions masked, 64-bit mantissa and
    // rounding to nearest.
    unsigned short controlWord = 0x137F;
    __asm__ __volatile__("fldcw %0" : : "m"(controlWord));
    try {
        thread->Execute();
    } catch (...) {
        thread->FFatalException = std::current_exception();
    }
    bool freeThread = thread->FFreeOnTerminate;
    thread->FFinished.store(true);
    try {
        thread->DoTerminate();
    } catch (...) {
        if (!thread->FFatalException)
            thread->FFatalException = std::current_exception();
    }
    unsigned long result = static_cast<unsigned long>(thread->FReturnValue);
    if (freeThread) {
        try {
            delete thread;
        } catch (...) {
        }
    }
    return result;
}

void TThread::DoTerminate() {
    OnTerminate(this);
}

void TThread::Resume() {
    DWORD previous = ResumeThread(FHandle);
    if (previous == static_cast<DWORD>(-1))
        throw EThread("Thread error: %s", SystemErrorText(GetLastError()));
    if (previous == 1) {
        FSuspended = false;
        FStarted = true;
    }
}

void TThread::Suspend() {
    FSuspended = true;
    if (SuspendThread(FHandle) == static_cast<DWORD>(-1))
        throw EThread("Thread error: %s", SystemErrorText(GetLastError()));
}

void TThread::Terminate() {
    FTerminated.store(true);
}

uint32_t TThread::WaitFor() {
    if (GetCurrentThreadId() == FThreadID)
        throw EThread("Thread error: %s", "a thread cannot wait for itself");
    if (FFreeOnTerminate)
        throw EThread("Thread error: %s", "cannot wait for a thread that frees itself");
    if (FSuspended)
        throw EThread("Thread error: %s", "cannot wait for a suspended thread");
    WaitForSingleObject(FHandle, INFINITE);
    DWORD code = 0;
    GetExitCodeThread(FHandle, &code);
    return code;
}

void TThread::TerminateAndWait() {
    if (!FHandle || GetCurrentThreadId() == FThreadID)
        return;
    if (!FStarted) {
        // Never ran: let the routine end at once, without Execute.
        FSkipExecute.store(true);
        FTerminated.store(true);
        while (ResumeThread(FHandle) > 1) {
        }
        FStarted = true;
        FSuspended = false;
        WaitForSingleObject(FHandle, INFINITE);
        return;
    }
    if (FFinished.load() && FFreeOnTerminate)
        return; // it is deleting itself
    Terminate();
    if (FSuspended) {
        while (ResumeThread(FHandle) > 1) {
        }
        FSuspended = false;
    }
    WaitForSingleObject(FHandle, INFINITE);
}

TThreadPriority TThread::Priority() const {
    switch (GetThreadPriority(FHandle)) {
    case THREAD_PRIORITY_IDLE:
        return tpIdle;
    case THREAD_PRIORITY_LOWEST:
        return tpLowest;
    case THREAD_PRIORITY_BELOW_NORMAL:
        return tpLower;
    case THREAD_PRIORITY_ABOVE_NORMAL:
        return tpHigher;
    case THREAD_PRIORITY_HIGHEST:
        return tpHighest;
    case THREAD_PRIORITY_TIME_CRITICAL:
        return tpTimeCritical;
    default:
        return tpNormal;
    }
}

void TThread::SetPriority(TThreadPriority Value) {
    static const int priorities[] = {THREAD_PRIORITY_IDLE,         THREAD_PRIORITY_LOWEST,
                                     THREAD_PRIORITY_BELOW_NORMAL, THREAD_PRIORITY_NORMAL,
                                     THREAD_PRIORITY_ABOVE_NORMAL, THREAD_PRIORITY_HIGHEST,
                                     THREAD_PRIORITY_TIME_CRITICAL};
    if (Value < tpIdle || Value > tpTimeCritical || !SetThreadPriority(FHandle, priorities[Value]))
        throw EThread("Thread error: %s", "cannot set the priority");
}
