#include "GenClasses.h"

#include <windows.h>
#include <mmsystem.h>

#include <cstring>

#include "GenUtils.h"

// ---------------------------------------------------------------------------------------------
// Fault guard
//
// A structured-exception frame is linked into the thread's frame chain (fs:[0]) around the body.
// C++ exceptions of this compiler never pass through that chain (they unwind by tables), so the
// frame only sees what the system raises: processor faults and exceptions of foreign code. When
// one reaches it, the handler unwinds the inner frames with RtlUnwind and jumps back to the frame
// owner, which raises the fault as a C++ exception from a sound place on the stack.

namespace {

constexpr DWORD UnwindFlags = EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND;

struct TFaultFrame {
    // The system's registration record: must come first and lie on the thread's stack.
    TFaultFrame *Next;
    void *Handler;
    void *Resume[5]; // __builtin_setjmp buffer
    volatile DWORD Code;
    void *volatile Address;
    volatile ULONG_PTR Access;
    volatile ULONG_PTR Target;
    volatile DWORD Parameters;
    TFaultRelease *Holders; // armed release actions of the region, newest first
};

struct TGuardedCall {
    void (*Body)(void *);
    void *Data;
    std::exception_ptr Error;
};

void *ReadFrameChain() {
    void *head;
    __asm__ __volatile__("movl %%fs:0, %0" : "=r"(head));
    return head;
}

void WriteFrameChain(void *Head) {
    __asm__ __volatile__("movl %0, %%fs:0" : : "r"(Head) : "memory");
}

// RtlUnwind on x86 does not keep ebx, esi and edi; they are saved around the call here.
void UnwindFramesTo(void *Frame, EXCEPTION_RECORD *Record) {
    void *routine = reinterpret_cast<void *>(&RtlUnwind);
    __asm__ __volatile__("pushl %%ebp\n\t"
                         "pushl %%ebx\n\t"
                         "pushl %%esi\n\t"
                         "pushl %%edi\n\t"
                         "pushl $0\n\t" // return value
                         "pushl %2\n\t" // exception record
                         "pushl $0\n\t" // target address (unused on x86)
                         "pushl %1\n\t" // target frame
                         "call *%0\n\t"
                         "popl %%edi\n\t"
                         "popl %%esi\n\t"
                         "popl %%ebx\n\t"
                         "popl %%ebp"
                         : "+a"(routine), "+c"(Frame), "+d"(Record)
                         :
                         : "memory", "cc");
}

} // namespace

struct TFaultReleaseAccess {
    static void ReleaseAll(TFaultFrame *Frame) {
        while (TFaultRelease *holder = Frame->Holders) {
            Frame->Holders = holder->FNext;
            holder->FGuard = nullptr;
            holder->FRelease(holder->FData);
        }
    }
};

namespace {

EXCEPTION_DISPOSITION __cdecl FaultFrameHandler(EXCEPTION_RECORD *Record, void *Establisher, CONTEXT *Context,
                                                void *Dispatcher) {
    if (Record->ExceptionFlags & UnwindFlags)
        return ExceptionContinueSearch;
    // Only errors: informational and warning codes (debug output, thread names) are left to
    // whoever raised them.
    if ((Record->ExceptionCode & 0xC0000000u) != 0xC0000000u)
        return ExceptionContinueSearch;
    TFaultFrame *frame = static_cast<TFaultFrame *>(Establisher);
    frame->Code = Record->ExceptionCode;
    frame->Address = Record->ExceptionAddress;
    frame->Parameters = Record->NumberParameters;
    frame->Access = Record->NumberParameters >= 1 ? Record->ExceptionInformation[0] : 0;
    frame->Target = Record->NumberParameters >= 2 ? Record->ExceptionInformation[1] : 0;
    UnwindFramesTo(frame, Record);
    // The region's stack is still intact below the jump target: give back what it holds while
    // the holders can still be reached.
    TFaultReleaseAccess::ReleaseAll(frame);
    __builtin_longjmp(frame->Resume, 1);
}

void CallCatching(TGuardedCall *Call) noexcept {
    try {
        Call->Body(Call->Data);
    } catch (...) {
        Call->Error = std::current_exception();
    }
}

// True when the body ran to its end, false after a fault (the frame then holds its details).
__attribute__((noinline)) bool RunInFaultFrame(TGuardedCall *Call, TFaultFrame *Frame) {
    Frame->Handler = reinterpret_cast<void *>(&FaultFrameHandler);
    Frame->Next = static_cast<TFaultFrame *>(ReadFrameChain());
    if (__builtin_setjmp(Frame->Resume) == 0) {
        WriteFrameChain(Frame);
        CallCatching(Call);
        WriteFrameChain(Frame->Next);
        return true;
    }
    WriteFrameChain(Frame->Next);
    return false;
}

// The innermost fault guard's frame of this thread, or null.
TFaultFrame *InnermostFaultFrame() {
    for (auto *frame = static_cast<TFaultFrame *>(ReadFrameChain());
         frame && frame != reinterpret_cast<TFaultFrame *>(-1); frame = frame->Next) {
        if (frame->Handler == reinterpret_cast<void *>(&FaultFrameHandler))
            return frame;
    }
    return nullptr;
}

// A stack overflow uses up the guard page below the stack; without it the next overflow would
// end the process. The guard goes back on the lowest committed page of the stack, which lies far
// below the running code once the fault has been unwound. False when nothing could be armed.
bool RestoreStackGuard() {
    volatile char here = 0;
    MEMORY_BASIC_INFORMATION info;
    if (!VirtualQuery(const_cast<char *>(&here), &info, sizeof info))
        return false;
    char *const reservation = static_cast<char *>(info.AllocationBase);
    char *address = reservation;
    for (;;) {
        if (!VirtualQuery(address, &info, sizeof info) || info.AllocationBase != reservation)
            return false;
        // Committed pages without access at the very bottom are the system's last barrier.
        if (info.State == MEM_COMMIT && (info.Protect & 0xFF) != PAGE_NOACCESS)
            break;
        address = static_cast<char *>(info.BaseAddress) + info.RegionSize;
    }
    if (info.Protect & PAGE_GUARD)
        return true; // still armed
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    char *page = static_cast<char *>(info.BaseAddress);
    if (page + 4 * system.dwPageSize > const_cast<char *>(&here))
        return false; // the running code is still down there
    DWORD previous = 0;
    return VirtualProtect(page, system.dwPageSize, PAGE_READWRITE | PAGE_GUARD, &previous) != 0;
}

std::string ModuleNameAt(void *Address) {
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCSTR>(Address), &module))
        return std::string();
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(module, path, MAX_PATH);
    return length ? ExtractFileName(std::string(path, length)) : std::string();
}

unsigned AddressValue(const void *Address) {
    return static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(Address));
}

[[noreturn]] void RaiseFault(const TFaultFrame &Frame) {
    const std::uint32_t code = Frame.Code;
    void *address = Frame.Address;
    if (code == EXCEPTION_ACCESS_VIOLATION) {
        const char *access = Frame.Access == 0 ? "Read" : Frame.Access == 8 ? "Execute" : "Write";
        const std::string module = ModuleNameAt(address);
        std::string message = Format("Access violation at address %.8X", AddressValue(address));
        if (!module.empty())
            message += Format(" in module '%s'", module);
        if (Frame.Parameters >= 2)
            message += Format(". %s of address %.8X", access, static_cast<unsigned>(Frame.Target));
        throw EAccessViolation(message, code, address);
    }
    if (code == EXCEPTION_STACK_OVERFLOW)
        throw EStackOverflow(std::string("Stack overflow"), code, address);
    throw EExternal(Format("External exception %.8X at address %.8X", code, AddressValue(address)), code,
                    address);
}

} // namespace

void CallWithFaultGuard(void (*Body)(void *), void *Data) {
    unsigned short controlWord;
    __asm__ __volatile__("fnstcw %0" : "=m"(controlWord));
    TGuardedCall call{Body, Data, nullptr};
    TFaultFrame frame{};
    if (!RunInFaultFrame(&call, &frame)) {
        // The fault may have left values on the x87 stack or pending exception flags.
        __asm__ __volatile__("fninit\n\tfldcw %0" : : "m"(controlWord));
        if (frame.Code == EXCEPTION_STACK_OVERFLOW)
            RestoreStackGuard();
        RaiseFault(frame);
    }
    if (call.Error)
        std::rethrow_exception(call.Error);
}

void TFaultRelease::Arm(void (*Release)(void *) noexcept, void *Data) {
    Disarm();
    TFaultFrame *frame = InnermostFaultFrame();
    if (!frame)
        return;
    FRelease = Release;
    FData = Data;
    FNext = frame->Holders;
    frame->Holders = this;
    FGuard = frame;
}

void TFaultRelease::Unlink() {
    TFaultFrame *frame = static_cast<TFaultFrame *>(FGuard);
    for (TFaultRelease **link = &frame->Holders; *link; link = &(*link)->FNext) {
        if (*link == this) {
            *link = FNext;
            break;
        }
    }
    FGuard = nullptr;
    FNext = nullptr;
}

// ---------------------------------------------------------------------------------------------
// TCriticalSection

static_assert(sizeof(CRITICAL_SECTION) <= 24, "TCriticalSection storage too small");

TCriticalSection::TCriticalSection() {
    InitializeCriticalSection(reinterpret_cast<CRITICAL_SECTION *>(FSection));
}

TCriticalSection::~TCriticalSection() {
    DeleteCriticalSection(reinterpret_cast<CRITICAL_SECTION *>(FSection));
}

void TCriticalSection::Enter() {
    EnterCriticalSection(reinterpret_cast<CRITICAL_SECTION *>(FSection));
}

void TCriticalSection::Leave() {
    LeaveCriticalSection(reinterpret_cast<CRITICAL_SECTION *>(FSection));
}

// ---------------------------------------------------------------------------------------------
// TEvent

TEvent::TEvent(bool ManualReset, bool InitialState) {
    FHandle = CreateEventA(nullptr, ManualReset, InitialState, nullptr);
    if (!FHandle)
        throw Exception(std::string("Error creating event object"));
}

TEvent::~TEvent() {
    if (FHandle)
        CloseHandle(FHandle);
}

void TEvent::SetEvent() {
    ::SetEvent(FHandle);
}

void TEvent::ResetEvent() {
    ::ResetEvent(FHandle);
}

std::uint32_t TEvent::WaitFor(std::uint32_t Timeout) {
    return WaitForSingleObject(FHandle, Timeout);
}

std::uint32_t TEvent::WaitForever() {
    return WaitFor(INFINITE);
}

// ---------------------------------------------------------------------------------------------
// TNotificationManager

TNotificationManager::~TNotificationManager() = default;

void TNotificationManager::AddHandler(const TNotifyEvent &Handler) {
    TScopeLock<TNotificationManager> guard(*this);
    FHandlers.push_back(Handler);
}

void TNotificationManager::RemoveHandler(const TNotifyEvent &Handler) {
    TScopeLock<TNotificationManager> guard(*this);
    for (std::size_t i = 0; i < FHandlers.size(); ++i) {
        if (!(FHandlers[i] == Handler))
            continue;
        FHandlers.erase(FHandlers.begin() + static_cast<std::ptrdiff_t>(i));
        // Keep every running walk on the same handlers: entries behind the removed one moved
        // one place forward.
        const int removed = static_cast<int>(i);
        for (TWalk *walk = FWalks; walk; walk = walk->Outer) {
            if (removed < walk->Next)
                --walk->Next;
            if (removed < walk->Limit)
                --walk->Limit;
        }
        return;
    }
}

void TNotificationManager::Notify() {
    TScopeLock<TNotificationManager> guard(*this);
    TWalk walk{0, static_cast<int>(FHandlers.size()), FWalks};
    FWalks = &walk;
    struct TWalkEnd {
        TWalk *&Walks;
        TWalk *Outer;
        ~TWalkEnd() { Walks = Outer; }
    } walkEnd{FWalks, walk.Outer};
    while (walk.Next < walk.Limit && walk.Next < static_cast<int>(FHandlers.size())) {
        // A copy: the handler may change the list (and move its storage) while it runs.
        const TNotifyEvent handler = FHandlers[walk.Next++];
        handler(this);
    }
}

int TNotificationManager::Count() {
    TScopeLock<TNotificationManager> guard(*this);
    return static_cast<int>(FHandlers.size());
}

TMultiThreadedNotificationManager::TMultiThreadedNotificationManager()
    : FLock(std::make_unique<TCriticalSection>()) {}

TMultiThreadedNotificationManager::~TMultiThreadedNotificationManager() = default;

void TMultiThreadedNotificationManager::Lock() {
    FLock->Enter();
}

void TMultiThreadedNotificationManager::Unlock() {
    FLock->Leave();
}

// ---------------------------------------------------------------------------------------------
// TMultiThreadedObject, TUpdatedObject

TMultiThreadedObject::TMultiThreadedObject() : FLock(std::make_unique<TCriticalSection>()) {}

TMultiThreadedObject::~TMultiThreadedObject() = default;

void TMultiThreadedObject::Lock() {
    FLock->Enter();
}

void TMultiThreadedObject::Unlock() {
    FLock->Leave();
}

void TUpdatedObject::BeginUpdate() {
    ++FUpdateCount;
}

void TUpdatedObject::EndUpdate() {
    if (FUpdateCount <= 0)
        return;
    --FUpdateCount;
    if (FUpdateCount == 0 && FChangePending) {
        FChangePending = false;
        DoChange();
    }
}

void TUpdatedObject::Changed() {
    if (FUpdateCount < 1)
        DoChange();
    else
        FChangePending = true;
}

void TUpdatedObject::DoChange() {
    if (OnChange)
        OnChange(this);
}

// ---------------------------------------------------------------------------------------------
// TGeneralThread

int TGeneralThread::ResumeHandle() {
    return static_cast<int>(ResumeThread(Handle()));
}

void TGeneralThread::Execute() {
    try {
        CallWithFaultGuard([](void *self) { static_cast<TGeneralThread *>(self)->DoExecute(); }, this);
    } catch (...) {
        HandleThreadException();
    }
}

// ---------------------------------------------------------------------------------------------
// TSafeFileStream

namespace {

bool PathExists(const std::string &Name) {
    return GetFileAttributesA(Name.c_str()) != INVALID_FILE_ATTRIBUTES;
}

} // namespace

TSafeFileStream::TSafeFileStream(const std::string &FileName, std::uint16_t Mode)
    : TSafeFileStream(FileName, Mode, Mode == fmCreate ? MakeTempFileName(FileName) : FileName) {}

TSafeFileStream::TSafeFileStream(const std::string &FileName, std::uint16_t Mode, const std::string &OpenName)
    : TFileStream(OpenName, Mode), FTargetName(FileName),
      FTempName(Mode == fmCreate ? OpenName : std::string()),
      FUncaughtAtCreation(std::uncaught_exceptions()) {}

TSafeFileStream::~TSafeFileStream() {
    if (FTempName.empty() || FDone)
        return;
    // Destroyed while an exception unwinds: the content is incomplete whatever was written.
    if (FFailed || std::uncaught_exceptions() > FUncaughtAtCreation) {
        Discard();
        return;
    }
    try {
        Commit();
    } catch (...) {
        // A destructor cannot report; Commit has already removed the temporary file.
    }
}

int32_t TSafeFileStream::Write(const void *Buffer, int32_t Count) {
    try {
        const int32_t written = TFileStream::Write(Buffer, Count);
        if (written < Count)
            FFailed = true;
        return written;
    } catch (...) {
        FFailed = true;
        throw;
    }
}

void TSafeFileStream::Commit() {
    if (FTempName.empty() || FDone)
        return;
    if (FFailed) {
        Discard();
        throw EWriteError("Cannot save file \"%s\"", FTargetName);
    }
    CloseFile();
    FDone = true;
    if (!MoveFileExA(FTempName.c_str(), FTargetName.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        DeleteFileA(FTempName.c_str());
        throw EWriteError("Cannot save file \"%s\"", FTargetName);
    }
}

void TSafeFileStream::Discard() {
    if (FTempName.empty() || FDone)
        return;
    CloseFile();
    FDone = true;
    DeleteFileA(FTempName.c_str());
}

void TSafeFileStream::CloseFile() {
    if (FHandle && FHandle != INVALID_HANDLE_VALUE)
        CloseHandle(FHandle);
    FHandle = INVALID_HANDLE_VALUE;
}

std::string TSafeFileStream::MakeTempFileName(const std::string &FileName) {
    const std::string base = ChangeFileExt(FileName, ".$");
    for (int i = 0; i < 256; ++i) {
        const std::string name = Format("%s%.2x", base, i);
        if (!PathExists(name))
            return name;
    }
    return base + "ff";
}

// ---------------------------------------------------------------------------------------------
// TAccessMemoryStream

TAccessMemoryStream::TAccessMemoryStream(void *Buffer, int64_t Size) {
    SetPointer(Buffer, Size);
}

int32_t TAccessMemoryStream::Write(const void *Buffer, int32_t Count) {
    const int64_t room = Size() - FPosition;
    const int64_t count = Count < room ? Count : room;
    if (count <= 0)
        return 0;
    std::memcpy(static_cast<char *>(Memory()) + FPosition, Buffer, static_cast<std::size_t>(count));
    FPosition += count;
    return static_cast<int32_t>(count);
}

// ---------------------------------------------------------------------------------------------
// TLogFile

TLogFile::TLogFile(const std::string &FileName) : FileName(FileName) {}

void TLogFile::Add(const std::string &Text) {
    if (!Enabled || FileName.empty())
        return;
    std::string line = Text + "\r\n";
    if (ThreadIds)
        line = Format("Thread %d: %s", static_cast<int>(GetCurrentThreadId()), line);
    if (TimeStamps)
        line = Format("%s: %s", DateTimeToStr(Now()), line);
    Append(line, false);
}

void TLogFile::AddEmptyLine() {
    if (!Enabled || FileName.empty())
        return;
    Append("\r\n", true);
}

void TLogFile::Clear() {
    if (!Enabled || FileName.empty())
        return;
    DeleteFileA(FileName.c_str());
}

void TLogFile::Append(const std::string &Line, bool OnlyIfExists) {
    TScopeLock<TLogFile> guard(*this);
    try {
        const bool exists = FileExists(FileName);
        if (!exists && OnlyIfExists)
            return;
        TFileStream file(FileName,
                         exists ? static_cast<std::uint16_t>(fmOpenReadWrite | fmShareDenyWrite) : fmCreate);
        file.Seek(0, soFromEnd);
        file.WriteBuffer(Line.data(), static_cast<int32_t>(Line.size()));
    } catch (const EStreamError &) {
        // A log must never stop its writer: the line is lost.
    }
}

// ---------------------------------------------------------------------------------------------
// TFileEnumerator

struct TFileEnumerator::TSearchData {
    HANDLE Handle = INVALID_HANDLE_VALUE;
    WIN32_FIND_DATAA Data{};
};

TFileEnumerator::TFileEnumerator(const std::string &PathMask, int Attributes)
    : FSearch(std::make_unique<TSearchData>()) {
    // Hidden, system, volume and folder entries are listed only when asked for.
    FExcluded = ~Attributes & (faHidden | faSysFile | faVolumeID | faDirectory);
    FSearch->Handle = FindFirstFileA(PathMask.c_str(), &FSearch->Data);
    if (FSearch->Handle == INVALID_HANDLE_VALUE)
        return;
    FOpened = true;
    FCurrent = Matches() || FindNextMatch();
}

TFileEnumerator::~TFileEnumerator() {
    if (FOpened)
        FindClose(FSearch->Handle);
}

bool TFileEnumerator::Matches() const {
    return (static_cast<int>(FSearch->Data.dwFileAttributes) & FExcluded) == 0;
}

bool TFileEnumerator::FindNextMatch() {
    while (FindNextFileA(FSearch->Handle, &FSearch->Data))
        if (Matches())
            return true;
    return false;
}

bool TFileEnumerator::Next() {
    if (!FCurrent)
        return false;
    if (FFirstPending) {
        FFirstPending = false;
        return true;
    }
    FCurrent = FindNextMatch();
    return FCurrent;
}

std::string TFileEnumerator::GetName() const {
    return FCurrent ? std::string(FSearch->Data.cFileName) : std::string();
}

int64_t TFileEnumerator::GetSize() const {
    if (!FCurrent)
        return 0;
    return (static_cast<int64_t>(FSearch->Data.nFileSizeHigh) << 32) | FSearch->Data.nFileSizeLow;
}

int32_t TFileEnumerator::GetTime() const {
    if (!FCurrent)
        return 0;
    FILETIME local;
    WORD date = 0, time = 0;
    if (!FileTimeToLocalFileTime(&FSearch->Data.ftLastWriteTime, &local) ||
        !FileTimeToDosDateTime(&local, &date, &time))
        return 0;
    return static_cast<int32_t>((static_cast<std::uint32_t>(date) << 16) | time);
}

int TFileEnumerator::GetAttributes() const {
    return FCurrent ? static_cast<int>(FSearch->Data.dwFileAttributes) : 0;
}

bool TFileEnumerator::HasAttribute(int Mask) const {
    return (GetAttributes() & Mask) != 0;
}

// ---------------------------------------------------------------------------------------------
// TIntervalTimer

TIntervalTimer::TIntervalTimer() : FStart(timeGetTime()) {}

std::uint32_t TIntervalTimer::Elapsed() const {
    return static_cast<std::uint32_t>(timeGetTime() - FStart);
}

void TIntervalTimer::Restart() {
    FStart = timeGetTime();
}
