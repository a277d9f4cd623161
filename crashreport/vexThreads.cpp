#include "vexThreads.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "vexDisAsm.h"
#include "vexStrings.h"
#include "vexTools.h"

namespace {

TSharedBlock *Block = nullptr;
std::atomic<HANDLE> OwnHeap{nullptr};

// Threads taken for the current report, and threads that must never be suspended.
TThreadIdList *ReportList = nullptr;
struct TKeptThread {
    DWORD ThreadId;
    HANDLE Thread;
};
std::vector<TKeptThread, TVexAllocator<TKeptThread>> *KeepList = nullptr;
CRITICAL_SECTION ListLock;
std::atomic<bool> ListLockReady{false};

std::string ProcessIdText() {
    return HexText(static_cast<std::uint32_t>(GetCurrentProcessId()), 1, '0');
}

// Holds a mutex for a scope; Owned tells whether the wait succeeded (an abandoned mutex counts).
class TMutexGuard {
public:
    TMutexGuard(HANDLE Mutex, DWORD Timeout) : FMutex(Mutex) {
        if (Mutex) {
            const DWORD result = WaitForSingleObject(Mutex, Timeout);
            Owned = result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
        }
    }
    ~TMutexGuard() {
        if (Owned)
            ReleaseMutex(FMutex);
    }
    TMutexGuard(const TMutexGuard &) = delete;
    TMutexGuard &operator=(const TMutexGuard &) = delete;
    bool Owned = false;

private:
    HANDLE FMutex;
};

CRITICAL_SECTION ReportSection;

void EnsureListLock() {
    static std::atomic<int> state{0};
    CallOnce(state, [] {
        InitializeCriticalSection(&ListLock);
        InitializeCriticalSection(&ReportSection);
        ReportList = new (HeapAlloc(VexHeap(), 0, sizeof(TThreadIdList))) TThreadIdList();
        KeepList =
            new (HeapAlloc(VexHeap(), 0, sizeof(*KeepList))) std::remove_pointer_t<decltype(KeepList)>();
        ListLockReady = true;
    });
}

char *LocalText(const char *Text) {
    const std::size_t size = std::strlen(Text) + 1;
    auto *copy = static_cast<char *>(LocalAlloc(LMEM_FIXED, size));
    if (copy)
        std::memcpy(copy, Text, size);
    return copy;
}

bool EntryHasField(const TThreadInfoEntry *Entry, std::size_t End) {
    return LocalSize((HLOCAL)Entry) >= End;
}

void FreeEntry(TThreadInfoEntry *Entry, bool CloseThread) {
    if (Entry->Name)
        LocalFree(Entry->Name);
    if (EntryHasField(Entry, 16) && Entry->ClassName)
        LocalFree(Entry->ClassName);
    if (CloseThread && EntryHasField(Entry, 28) && Entry->Thread)
        CloseHandle(Entry->Thread);
    LocalFree(Entry);
}

bool IsSignalled(HANDLE Handle) {
    return Handle && WaitForSingleObject(Handle, 0) == WAIT_OBJECT_0;
}

} // namespace

void CallOnce(std::atomic<int> &State, void (*Make)()) {
    int expected = 0;
    if (State.compare_exchange_strong(expected, 1)) {
        Make();
        State = 2;
    }
    while (State.load() != 2)
        Sleep(0);
}

CRITICAL_SECTION &ReportLock() {
    EnsureListLock();
    return ReportSection;
}

HANDLE VexHeap() {
    HANDLE heap = OwnHeap.load();
    if (!heap) {
        HANDLE made = HeapCreate(0, 0x10000, 0);
        if (OwnHeap.compare_exchange_strong(heap, made))
            heap = made;
        else
            HeapDestroy(made); // another thread was first
    }
    return heap;
}

bool InitializeVexThreads() {
    EnsureListLock();
    if (Block)
        return true;
    const std::string name = "vexExceptThreadNameBuf" + ProcessIdText();
    HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                        sizeof(TSharedBlock), name.c_str());
    if (!mapping)
        return false;
    const bool first = GetLastError() != ERROR_ALREADY_EXISTS;
    auto *block =
        static_cast<TSharedBlock *>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(TSharedBlock)));
    if (!block) {
        CloseHandle(mapping);
        return false;
    }
    if (first) {
        block->ProcessMutex = CreateMutexA(nullptr, FALSE, nullptr);
        block->InfoMutex = CreateMutexA(nullptr, FALSE, nullptr);
        block->Head = nullptr;
        block->Mapping = mapping;
    } else {
        CloseHandle(mapping); // the block keeps the first module's mapping handle
    }
    InterlockedIncrement(&block->RefCount);
    Block = block;
    return true;
}

void FinalizeVexThreads() {
    StopFreezeWatchdog();
    if (ListLockReady) {
        TSectionGuard guard(ListLock);
        for (const TKeptThread &kept : *KeepList)
            CloseHandle(kept.Thread);
        KeepList->clear();
        ReportList->clear();
    }
    if (!Block)
        return;
    TSharedBlock *block = Block;
    if (InterlockedDecrement(&block->RefCount) == 0) {
        {
            TMutexGuard guard(block->InfoMutex, INFINITE);
            while (TThreadInfoEntry *entry = block->Head) {
                block->Head = entry->Next;
                FreeEntry(entry, true);
            }
        }
        CloseHandle(block->ProcessMutex);
        CloseHandle(block->InfoMutex);
        HANDLE mapping = block->Mapping;
        Block = nullptr;
        UnmapViewOfFile(block);
        CloseHandle(mapping);
        return;
    }
    Block = nullptr;
    UnmapViewOfFile(block);
}

TSharedBlock *SharedBlock() {
    return Block;
}

// ------------------------------------------------------------------------------------------------
// Thread ids of the process, from the system's process information (class 5). The records' layout
// is that of Windows 2000 and later: the thread records start 184 bytes into the process record,
// 64 bytes each, with the thread id at offset 36; the process id is at offset 68.

TThreadIdList GetThreadList() {
    TThreadIdList ids;
    using TQuery = LONG(WINAPI *)(ULONG, void *, ULONG, ULONG *);
    static const auto query = reinterpret_cast<TQuery>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
    if (!query)
        return ids;
    constexpr ULONG ProcessInformationClass = 5, FirstSize = 0x10000, LastSize = 0x400000;
    ULONG needed = 0;
    query(ProcessInformationClass, nullptr, 0, &needed);
    ULONG size = needed ? needed * 2 : FirstSize;
    std::uint8_t *buffer = nullptr;
    ULONG got = 0;
    for (;;) {
        buffer = static_cast<std::uint8_t *>(HeapAlloc(VexHeap(), HEAP_ZERO_MEMORY, size));
        if (!buffer)
            return ids;
        if (query(ProcessInformationClass, buffer, size, &got) >= 0)
            break;
        HeapFree(VexHeap(), 0, buffer);
        buffer = nullptr;
        if (size >= LastSize)
            return ids;
        size = std::min(size * 2, LastSize);
    }
    // Every offset is checked against the buffer before it is read.
    auto word = [&](std::size_t at, std::uint32_t &value) {
        if (at + 4 > size)
            return false;
        std::memcpy(&value, buffer + at, 4);
        return true;
    };
    constexpr std::size_t ProcessIdAt = 68, ThreadsAt = 184, ThreadSize = 64, ThreadIdAt = 36;
    const std::uint32_t self = GetCurrentProcessId();
    std::size_t record = 0;
    for (;;) {
        std::uint32_t next = 0, count = 0, process = 0;
        if (!word(record, next) || !word(record + 4, count) || !word(record + ProcessIdAt, process))
            break;
        if (process == self) {
            for (std::uint32_t i = 0; i < count; ++i) {
                std::uint32_t id = 0;
                if (!word(record + ThreadsAt + i * ThreadSize + ThreadIdAt, id))
                    break;
                ids.push_back(id);
            }
            break;
        }
        if (next == 0)
            break;
        record += next;
    }
    HeapFree(VexHeap(), 0, buffer);
    return ids;
}

HANDLE OpenThreadById(DWORD ThreadId, DWORD Access) {
    return OpenThread(Access, FALSE, ThreadId);
}

namespace {
std::string ClassPatchMutexName() {
    return "HookTThread" + ProcessIdText();
}
} // namespace

bool SuspendThreadSafely(HANDLE Thread) {
    HANDLE classMutex = CreateMutexA(nullptr, FALSE, ClassPatchMutexName().c_str());
    bool suspended = false;
    {
        TMutexGuard table(Block ? Block->InfoMutex : nullptr, 2000);
        TMutexGuard patch(classMutex, 2000);
        if (table.Owned && patch.Owned)
            suspended = SuspendThread(Thread) != static_cast<DWORD>(-1);
    }
    if (classMutex)
        CloseHandle(classMutex);
    return suspended;
}

void CleanKeepList() {
    EnsureListLock();
    TSectionGuard guard(ListLock);
    for (std::size_t i = 0; i < KeepList->size();) {
        if (IsSignalled((*KeepList)[i].Thread)) {
            CloseHandle((*KeepList)[i].Thread);
            (*KeepList)[i] = KeepList->back();
            KeepList->pop_back();
        } else {
            ++i;
        }
    }
}

TThreadIdList KeptThreads() {
    EnsureListLock();
    TSectionGuard guard(ListLock);
    TThreadIdList ids;
    for (const TKeptThread &kept : *KeepList)
        ids.push_back(kept.ThreadId);
    return ids;
}

void SuspendOtherThreads(bool Suspend, bool TakeNewList) {
    EnsureListLock();
    TSectionGuard guard(ListLock);
    if (Suspend && TakeNewList)
        *ReportList = GetThreadList();
    const DWORD self = GetCurrentThreadId();
    auto kept = [](DWORD id) {
        return std::any_of(KeepList->begin(), KeepList->end(),
                           [id](const TKeptThread &k) { return k.ThreadId == id; });
    };
    for (DWORD id : *ReportList) {
        if (id == self || kept(id))
            continue;
        HANDLE thread = OpenThreadById(id, THREAD_SUSPEND_RESUME);
        if (!thread)
            continue;
        if (Suspend)
            SuspendThreadSafely(thread);
        else
            ResumeThread(thread);
        CloseHandle(thread);
    }
    if (!Suspend && TakeNewList) {
        for (DWORD id : GetThreadList()) {
            if (std::find(ReportList->begin(), ReportList->end(), id) != ReportList->end() || kept(id))
                continue;
            if (HANDLE thread = OpenThreadById(id, SYNCHRONIZE))
                KeepList->push_back({id, thread});
        }
        ReportList->clear();
    }
}

// ------------------------------------------------------------------------------------------------

void SetThreadInfo(DWORD ThreadId, HANDLE Thread, const std::string &Name, const std::string &ClassName,
                   void *CreatorAddress, DWORD CreatorThreadId) {
    if (!Block)
        return;
    TMutexGuard guard(Block->InfoMutex, INFINITE);
    const bool keep = !Name.empty() || CreatorAddress != nullptr;
    std::string name = Name, className = ClassName;
    HANDLE kept = nullptr;
    for (TThreadInfoEntry **link = &Block->Head; *link; link = &(*link)->Next) {
        TThreadInfoEntry *old = *link;
        if (old->ThreadId != ThreadId)
            continue;
        *link = old->Next;
        const bool full = EntryHasField(old, 28);
        if (keep) {
            if (name.empty() && old->Name)
                name = old->Name;
            if (full) {
                if (className.empty() && old->ClassName)
                    className = old->ClassName;
                if (!CreatorAddress)
                    CreatorAddress = old->CreatorAddress;
                if (!CreatorThreadId)
                    CreatorThreadId = old->CreatorThreadId;
                kept = old->Thread;
            }
        } else if (full && old->Thread) {
            CloseHandle(old->Thread);
        }
        FreeEntry(old, false);
        break;
    }
    if (keep) {
        constexpr DWORD Access = SYNCHRONIZE | THREAD_QUERY_INFORMATION;
        if (!kept && Thread)
            DuplicateHandle(GetCurrentProcess(), Thread, GetCurrentProcess(), &kept, Access, FALSE, 0);
        else if (!kept)
            kept = OpenThreadById(ThreadId, Access);
        if (kept) {
            auto *entry = static_cast<TThreadInfoEntry *>(
                LocalAlloc(LMEM_FIXED | LMEM_ZEROINIT, sizeof(TThreadInfoEntry)));
            if (entry) {
                entry->ThreadId = ThreadId;
                entry->Name = LocalText(name.c_str());
                entry->ClassName = LocalText(className.c_str());
                entry->CreatorAddress = CreatorAddress;
                entry->CreatorThreadId = CreatorThreadId;
                entry->Thread = kept;
                entry->Next = Block->Head;
                Block->Head = entry;
            } else {
                CloseHandle(kept);
            }
        }
    }
    // The table forgets ended threads one per call.
    for (TThreadInfoEntry **link = &Block->Head; *link; link = &(*link)->Next) {
        TThreadInfoEntry *entry = *link;
        if (EntryHasField(entry, 28) && IsSignalled(entry->Thread)) {
            *link = entry->Next;
            FreeEntry(entry, true);
            break;
        }
    }
}

void SetThreadName(DWORD ThreadId, const std::string &Name) {
    SetThreadInfo(ThreadId, nullptr, Name, "", nullptr, 0);
}

TThreadLookup GetThreadInfo(DWORD ThreadId, DWORD Timeout, TThreadInfo &Info) {
    if (!Block)
        return TThreadLookup::Unavailable;
    TMutexGuard guard(Block->InfoMutex, Timeout);
    if (!guard.Owned)
        return TThreadLookup::Unavailable;
    for (const TThreadInfoEntry *entry = Block->Head; entry; entry = entry->Next) {
        if (entry->ThreadId != ThreadId)
            continue;
        Info.Name = entry->Name ? entry->Name : "";
        if (EntryHasField(entry, 24)) {
            Info.ClassName = entry->ClassName ? entry->ClassName : "";
            Info.CreatorAddress = entry->CreatorAddress;
            Info.CreatorThreadId = entry->CreatorThreadId;
        }
        return TThreadLookup::Found;
    }
    return TThreadLookup::NotFound;
}

std::string ThreadDisplayName(DWORD ThreadId, bool Forced, TThreadInfo *Info) {
    TThreadInfo info;
    const TThreadLookup lookup = GetThreadInfo(ThreadId, 50, info);
    const std::string id = HexText(static_cast<std::uint32_t>(ThreadId), 1, '0');
    std::string text;
    if (lookup == TThreadLookup::Unavailable) {
        info = {};
        text = "thread " + id;
    } else if (info.Name == "-" && !Forced) {
        text.clear();
    } else if (!info.Name.empty()) {
        text = info.Name + " (" + id + ")";
    } else {
        text = "thread " + id;
        if (!info.ClassName.empty())
            text += " (" + info.ClassName + ")";
    }
    if (Info)
        *Info = info;
    return text;
}

// ------------------------------------------------------------------------------------------------

std::string ModuleFileName(HMODULE Module) {
    char name[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameA(Module, name, MAX_PATH);
    return std::string(name, std::min<DWORD>(length, MAX_PATH));
}

std::string FileNameOfPath(const std::string &Path) {
    const std::size_t slash = Path.rfind('\\');
    return slash == std::string::npos ? Path : Path.substr(slash + 1);
}

std::string FolderOfPath(const std::string &Path) {
    const std::size_t slash = Path.rfind('\\');
    return slash == std::string::npos ? std::string() : Path.substr(0, slash + 1);
}

std::string ComputerName() {
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof(name);
    return GetComputerNameA(name, &size) ? std::string(name, size) : std::string();
}

std::vector<TLoadedModule> GetModuleList(bool WithVersions) {
    std::vector<TLoadedModule> modules;
    modules.reserve(10);
    std::uintptr_t address = 0, previousBase = ~std::uintptr_t{0};
    MEMORY_BASIC_INFORMATION info;
    while (VirtualQueryEx(GetCurrentProcess(), reinterpret_cast<void *>(address), &info, sizeof(info)) ==
           sizeof(info)) {
        const auto base = reinterpret_cast<std::uintptr_t>(info.AllocationBase);
        if (info.State == MEM_COMMIT && info.BaseAddress == info.AllocationBase && base != previousBase) {
            const std::string path = ModuleFileName(static_cast<HMODULE>(info.AllocationBase));
            if (!path.empty()) {
                TLoadedModule entry;
                entry.Module = static_cast<HMODULE>(info.AllocationBase);
                entry.FileName = FileNameOfPath(path);
                entry.Folder = FolderOfPath(path);
                if (!entry.Folder.empty())
                    entry.Folder.pop_back();
                if (WithVersions)
                    if (const std::uint64_t version = FileVersion(path))
                        entry.Version = VersionText(version);
                modules.push_back(std::move(entry));
            }
        }
        previousBase = base;
        const std::uintptr_t next = reinterpret_cast<std::uintptr_t>(info.BaseAddress) + info.RegionSize;
        if (info.RegionSize == 0 || next <= address)
            break;
        address = next;
    }
    return modules;
}

std::uintptr_t CurrentStackBase() {
    std::uintptr_t base = 0;
    asm volatile("movl %%fs:4, %0" : "=r"(base));
    return base;
}

bool IsSystemLockHeld() {
    // The process environment block: fs:[0x30]. Its lock pointers are read guardedly, and a lock's
    // count (second field) above -1 means some thread holds it.
    std::uintptr_t peb = 0;
    asm volatile("movl %%fs:0x30, %0" : "=r"(peb));
    for (std::uintptr_t at : {peb + 0xA0, peb + 0x1C}) {
        std::uintptr_t lock = 0;
        std::int32_t count = -1;
        if (!SafeReadMemory(reinterpret_cast<const void *>(at), &lock, 4, nullptr) || !lock)
            continue;
        if (SafeReadMemory(reinterpret_cast<const void *>(lock + 4), &count, 4, nullptr) && count > -1)
            return true;
    }
    return false;
}

// ------------------------------------------------------------------------------------------------
// Freeze watchdog.

namespace {

struct TWatchdog {
    HWND Window = nullptr;
    UINT PingMessage = 0;
    HANDLE Thread = nullptr;
    DWORD ThreadId = 0;
    HANDLE StopEvent = nullptr;
    int Timeout = 0;
    TFreezeProc OnFreeze = nullptr;
    std::atomic<int> Misses{0};
    DWORD MainThreadId = 0;
} Watchdog;

void AnswerPing(HWND, UINT, WPARAM WParam, LPARAM, LRESULT &Result) {
    if (WParam)
        PostMessageA(reinterpret_cast<HWND>(WParam), WM_NULL, FreezeAnswer, FreezeAnswer);
    else
        PostThreadMessageA(Watchdog.ThreadId, WM_NULL, FreezeAnswer, FreezeAnswer);
    Result = FreezeAnswer;
}

DWORD WINAPI WatchdogThread(void *) {
    // Only one watchdog per process: the second one waits here for good.
    HANDLE waits[2] = {Watchdog.StopEvent, Block->ProcessMutex};
    if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0)
        return 0;
    const int base = std::max(1, Watchdog.Timeout / 10);
    int interval = base;
    MSG message;
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE); // the thread's queue
    for (;;) {
        PostMessageA(Watchdog.Window, Watchdog.PingMessage, 0, 0);
        if (WaitForSingleObject(Watchdog.StopEvent, interval) == WAIT_OBJECT_0)
            break;
        bool answered = false;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            if (!message.hwnd && message.message == WM_NULL && message.wParam == FreezeAnswer &&
                message.lParam == static_cast<LPARAM>(FreezeAnswer))
                answered = true;
        if (answered) {
            Watchdog.Misses = 0;
            interval = base;
        } else if (++Watchdog.Misses >= 10) {
            if (Watchdog.OnFreeze)
                Watchdog.OnFreeze();
            Watchdog.Misses = 0;
            interval += interval / 2;
        }
    }
    ReleaseMutex(Block->ProcessMutex);
    return 0;
}

} // namespace

bool StartFreezeWatchdog(int Timeout, TFreezeProc OnFreeze) {
    if (Timeout < 1 || Watchdog.Thread || !Block)
        return false;
    Watchdog.MainThreadId = GetCurrentThreadId();
    Watchdog.Window = ThreadHandlerWindow(Watchdog.MainThreadId);
    Watchdog.PingMessage = AddMessageHandler(AnswerPing, 0, Watchdog.MainThreadId);
    if (!Watchdog.Window || !Watchdog.PingMessage)
        return false;
    Watchdog.Timeout = Timeout;
    Watchdog.OnFreeze = OnFreeze;
    Watchdog.Misses = 0;
    Watchdog.StopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    Watchdog.Thread = CreateThread(nullptr, 0, WatchdogThread, nullptr, CREATE_SUSPENDED, &Watchdog.ThreadId);
    if (!Watchdog.Thread) {
        StopFreezeWatchdog();
        return false;
    }
    SetThreadInfo(Watchdog.ThreadId, Watchdog.Thread, "-", "", nullptr, 0);
    SetThreadPriority(Watchdog.Thread, THREAD_PRIORITY_HIGHEST);
    ResumeThread(Watchdog.Thread);
    return true;
}

void StopFreezeWatchdog() {
    if (Watchdog.PingMessage)
        RemoveMessageHandler(AnswerPing, Watchdog.PingMessage, Watchdog.MainThreadId);
    if (Watchdog.Thread) {
        // The thread ends by itself (releasing the process-wide mutex), so it never dies holding it;
        // a paused watchdog is resumed first.
        SetEvent(Watchdog.StopEvent);
        while (ResumeThread(Watchdog.Thread) > 1) {
        }
        WaitForSingleObject(Watchdog.Thread, INFINITE);
        CloseHandle(Watchdog.Thread);
        SetThreadInfo(Watchdog.ThreadId, nullptr, "", "", nullptr, 0);
    }
    if (Watchdog.StopEvent)
        CloseHandle(Watchdog.StopEvent);
    Watchdog.Window = nullptr;
    Watchdog.PingMessage = 0;
    Watchdog.Thread = nullptr;
    Watchdog.ThreadId = 0;
    Watchdog.StopEvent = nullptr;
    Watchdog.OnFreeze = nullptr;
    Watchdog.Misses = 0;
}

void PauseFreezeWatchdog(bool Pause) {
    if (!Watchdog.Thread || GetCurrentThreadId() == Watchdog.ThreadId)
        return;
    if (Pause) {
        SuspendThreadSafely(Watchdog.Thread);
    } else {
        ResumeThread(Watchdog.Thread);
        Watchdog.Misses = 0;
    }
}

DWORD FreezeWatchdogThreadId() {
    return Watchdog.ThreadId;
}
UINT FreezePingMessage() {
    return Watchdog.PingMessage;
}

// ------------------------------------------------------------------------------------------------
// Thread naming.

bool CheckThreadNameException(const EXCEPTION_RECORD &Record) {
    if (Record.ExceptionCode != ThreadNameExceptionCode || Record.NumberParameters < 4 ||
        Record.ExceptionInformation[0] != 0x1000 || Record.ExceptionInformation[3] != 0)
        return false;
    // The name is read in bounded pieces through the guarded reader: the raising code may pass
    // anything.
    const auto *text = reinterpret_cast<const char *>(Record.ExceptionInformation[1]);
    std::string name;
    char c = 0;
    while (name.size() < 256 && SafeReadMemory(text + name.size(), &c, 1, nullptr) && c != 0)
        name.push_back(c);
    if (name.empty())
        return false;
    DWORD thread = static_cast<DWORD>(Record.ExceptionInformation[2]);
    if (thread == 0xFFFFFFFF)
        thread = GetCurrentThreadId();
    SetThreadName(thread, name);
    return true;
}

namespace {
void *NamingHandler = nullptr;

LONG WINAPI NameThreadHandler(EXCEPTION_POINTERS *Pointers) {
    if (Pointers->ExceptionRecord->ExceptionCode != ThreadNameExceptionCode)
        return EXCEPTION_CONTINUE_SEARCH;
    CheckThreadNameException(*Pointers->ExceptionRecord);
    return EXCEPTION_CONTINUE_EXECUTION;
}
} // namespace

void InstallThreadNaming() {
    if (!NamingHandler)
        NamingHandler = AddVectoredExceptionHandler(1, NameThreadHandler);
}

void RemoveThreadNaming() {
    if (NamingHandler)
        RemoveVectoredExceptionHandler(NamingHandler);
    NamingHandler = nullptr;
}
