// Threads of the process as the crash report sees them: the process-wide shared block with the
// thread-information table (names, creators, handles), the list of thread ids, suspension of all
// other threads while a report is made, the list of loaded modules, the test for held system locks,
// the freeze watchdog of the main thread, and the debugger's thread-naming exception.
// Nothing here raises; every failure gives an empty or zero result.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <limits>
#include <new>
#include <string>
#include <vector>

// One entry of the thread-information table. Allocated with LocalAlloc (the process heap), so that
// every module of the process that carries the library can read and free entries that another made;
// entries of other builds may be shorter (only the first 12 bytes are sure), hence the fixed layout.
struct TThreadInfoEntry {
    DWORD ThreadId;
    char *Name;
    TThreadInfoEntry *Next;
    char *ClassName;
    void *CreatorAddress;
    DWORD CreatorThreadId;
    HANDLE Thread; // SYNCHRONIZE | THREAD_QUERY_INFORMATION, owned by the entry
};
static_assert(sizeof(TThreadInfoEntry) == 28);

// Named shared memory that every module of the process maps: the first creates the mutexes.
struct TSharedBlock {
    HANDLE ProcessMutex; // held by the one freeze watchdog of the process
    HANDLE InfoMutex;    // guards the thread-information list
    TThreadInfoEntry *Head;
    volatile LONG RefCount;
    HANDLE Mapping;
};
static_assert(sizeof(TSharedBlock) == 20);

// Runs Make once per State (0 at first), also when several threads come at once: reports may come
// before the module start-up or after its end.
void CallOnce(std::atomic<int> &State, void (*Make)());

// The one lock of the crash library's reports: a report, and every trace in it, runs under it, and
// the tracer's caches are used only under it. Recursive, like every critical section.
CRITICAL_SECTION &ReportLock();

// Holds a critical section for a scope.
class TSectionGuard {
public:
    explicit TSectionGuard(CRITICAL_SECTION &Section) : FSection(Section) { EnterCriticalSection(&Section); }
    ~TSectionGuard() { LeaveCriticalSection(&FSection); }
    TSectionGuard(const TSectionGuard &) = delete;
    TSectionGuard &operator=(const TSectionGuard &) = delete;

private:
    CRITICAL_SECTION &FSection;
};

// Maps (and on first use creates) the shared block; false when it cannot be had.
bool InitializeVexThreads();
// Drops this module's reference; the last one empties the table and closes the block. Also closes
// the keep list's handles and stops the watchdog.
void FinalizeVexThreads();
TSharedBlock *SharedBlock();

// The library's own heap. While other threads are suspended one of them may hold the C run time's or
// the process heap's lock, so everything a report allocates then comes from here.
HANDLE VexHeap();
template <class T> struct TVexAllocator {
    using value_type = T;
    TVexAllocator() = default;
    template <class U> TVexAllocator(const TVexAllocator<U> &) {}
    T *allocate(std::size_t Count) {
        if (Count > std::numeric_limits<std::size_t>::max() / sizeof(T))
            throw std::bad_alloc();
        void *memory = HeapAlloc(VexHeap(), 0, Count * sizeof(T));
        if (!memory)
            throw std::bad_alloc();
        return static_cast<T *>(memory);
    }
    void deallocate(T *Memory, std::size_t) { HeapFree(VexHeap(), 0, Memory); }
    template <class U> bool operator==(const TVexAllocator<U> &) const { return true; }
};
using TThreadIdList = std::vector<DWORD, TVexAllocator<DWORD>>;

TThreadIdList GetThreadList();
HANDLE OpenThreadById(DWORD ThreadId, DWORD Access);
// Suspends only when neither the table's lock nor the thread-class patch lock is held by anyone
// (waiting at most 2 s for each); true when suspended.
bool SuspendThreadSafely(HANDLE Thread);
// A report runs between (true, true) and (false, true). Threads that appear during a report go to
// the keep list and are never suspended.
void SuspendOtherThreads(bool Suspend, bool TakeNewList);
// Before each report: forgets kept threads that have ended.
void CleanKeepList();
TThreadIdList KeptThreads();

// Adds or updates the entry when a name or a creator address is given, removes it otherwise. Empty
// fields of an update keep their old values. Thread may be null (the id is then opened).
void SetThreadInfo(DWORD ThreadId, HANDLE Thread, const std::string &Name, const std::string &ClassName,
                   void *CreatorAddress, DWORD CreatorThreadId);
void SetThreadName(DWORD ThreadId, const std::string &Name);

struct TThreadInfo {
    std::string Name;
    std::string ClassName;
    void *CreatorAddress = nullptr;
    DWORD CreatorThreadId = 0;
};
enum class TThreadLookup { Found, NotFound, Unavailable };
// Looks the thread up, waiting at most Timeout ms for the table's lock.
TThreadLookup GetThreadInfo(DWORD ThreadId, DWORD Timeout, TThreadInfo &Info);
// The report's name of a thread: "name ($id)", "thread $id" or "thread $id (class)"; empty for the
// library's own threads (named "-") unless Forced.
std::string ThreadDisplayName(DWORD ThreadId, bool Forced, TThreadInfo *Info = nullptr);

struct TLoadedModule {
    HMODULE Module = nullptr;
    std::string FileName; // without folder
    std::string Folder;   // without trailing backslash
    std::string Version;  // only when asked for
};
std::vector<TLoadedModule> GetModuleList(bool WithVersions);

std::string ModuleFileName(HMODULE Module);
// The text after the last backslash, and the text up to and including it.
std::string FileNameOfPath(const std::string &Path);
std::string FolderOfPath(const std::string &Path);
std::string ComputerName();

// The upper end of the calling thread's stack (from its information block).
std::uintptr_t CurrentStackBase();

// True while the loader lock or the process environment block's lock is held by any thread.
bool IsSystemLockHeld();

// The freeze watchdog pings the calling (main) thread's hidden window every Timeout / 10 ms; after
// ten unanswered pings it calls OnFreeze from its own thread, and the interval grows by half.
using TFreezeProc = void (*)();
bool StartFreezeWatchdog(int Timeout, TFreezeProc OnFreeze);
void StopFreezeWatchdog();
void PauseFreezeWatchdog(bool Pause);
DWORD FreezeWatchdogThreadId();
// What the main thread answers a ping with, and the ping's message number (0 without a watchdog).
inline constexpr WPARAM FreezeAnswer = 777;
UINT FreezePingMessage();

// The debugger's thread-naming convention: exception 0x406D1388 with the information words {0x1000,
// name, thread id (0xFFFFFFFF: the raising thread), 0}. True when the record was such a request and
// the table got the name.
inline constexpr DWORD ThreadNameExceptionCode = 0x406D1388;
bool CheckThreadNameException(const EXCEPTION_RECORD &Record);
// Without a debugger nobody would answer the naming exception: a vectored handler does what a
// debugger does (takes the name and continues the raising thread).
void InstallThreadNaming();
void RemoveThreadNaming();
