#include "vexThreadHooks.h"

#include <pthread.h>

#include <cstring>
#include <exception>
#include <vector>

#include "vexDisAsm.h"
#include "vexDisAsmWalk.h"
#include "vexExcept.h"
#include "vexThreads.h"
#include "vexTools.h"

// The thread object's start routine of the C++ run time (a private member, so named by its symbol).
extern "C" void StandardThreadStart() asm(
    "__ZNSt6thread15_M_start_threadESt10unique_ptrINS_6_StateESt14default_deleteIS1_EEPFvvE");

namespace {

using TCreateThread = HANDLE(WINAPI *)(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD,
                                       LPDWORD);

TCreateThread RealCreateThread = nullptr;
// The loader may have put either the kernel32 entry or the one it forwards to into import cells.
std::uintptr_t RealAddresses[2] = {0, 0};

struct TPatchedCell {
    std::uintptr_t *Cell;
    std::uintptr_t Old;
};
std::vector<TPatchedCell> *PatchedCells = nullptr;

struct TStartRecord {
    LPTHREAD_START_ROUTINE Start;
    void *Parameter;
};

// Code ranges of the run time's thread-start routines: the creating code is the first caller
// outside them.
TUnwindRange StartRoutineRanges[2];

bool InStartRoutine(std::uintptr_t Address) {
    for (const TUnwindRange &range : StartRoutineRanges)
        if (range.Begin <= Address && Address < range.End)
            return true;
    return false;
}

bool InModule(std::uintptr_t Address, HMODULE Module) {
    MEMORY_BASIC_INFORMATION info;
    return VirtualQuery(reinterpret_cast<void *>(Address), &info, sizeof(info)) == sizeof(info) &&
           info.AllocationBase == Module;
}

// The creating code: the first return address on the stack above the hook's own frame that lies in
// the program's module outside the run time's thread-start routines. The stack is read through
// the guarded reader, at most 256 slots.
void *FindCreatingCode(const std::uintptr_t *From) {
    const HMODULE program = GetModuleHandleA(nullptr);
    const std::uintptr_t top = CurrentStackBase();
    for (int i = 0; i < 256 && reinterpret_cast<std::uintptr_t>(From + i) + 4 <= top; ++i) {
        std::uintptr_t value = 0;
        if (!SafeReadMemory(From + i, &value, 4, nullptr))
            break;
        if (value > 7 && InModule(value, program) && !InStartRoutine(value) && FollowsCallInstruction(value))
            return reinterpret_cast<void *>(value);
    }
    return nullptr;
}

DWORD WINAPI ThreadStartWrapper(void *Parameter) {
    const TStartRecord record = *static_cast<TStartRecord *>(Parameter);
    LocalFree(Parameter);
    DWORD result = 0xFFFFFFFF;
    try {
        result = record.Start(record.Parameter);
    } catch (...) {
        // Nothing may leave the thread's top: the exception is reported and ends here.
        SubmitExceptionReport(0, std::current_exception(), nullptr, 0, 0, 0, 0);
        result = 0xFFFFFFFF;
    }
    SetThreadInfo(GetCurrentThreadId(), nullptr, "", "", nullptr, 0);
    return result;
}

HANDLE WINAPI HookedCreateThread(LPSECURITY_ATTRIBUTES Security, SIZE_T StackSize,
                                 LPTHREAD_START_ROUTINE Start, LPVOID Parameter, DWORD Flags,
                                 LPDWORD ThreadId) {
    void *creator = FindCreatingCode(static_cast<const std::uintptr_t *>(__builtin_frame_address(0)) + 1);
    auto *record = static_cast<TStartRecord *>(LocalAlloc(LMEM_FIXED, sizeof(TStartRecord)));
    if (!record)
        return RealCreateThread(Security, StackSize, Start, Parameter, Flags, ThreadId);
    record->Start = Start;
    record->Parameter = Parameter;
    // The new thread may only run once its table entry exists: it removes the entry at its end.
    DWORD id = 0;
    HANDLE thread =
        RealCreateThread(Security, StackSize, ThreadStartWrapper, record, Flags | CREATE_SUSPENDED, &id);
    if (!thread) {
        LocalFree(record);
        return nullptr;
    }
    if (ThreadId)
        *ThreadId = id;
    SetThreadInfo(id, thread, "", "", creator, GetCurrentThreadId());
    if (!(Flags & CREATE_SUSPENDED))
        ResumeThread(thread);
    return thread;
}

// Calls Visit for every import cell of the module. The import descriptors and the cells must lie
// in the module's image; a descriptor outside ends the walk.
template <class TVisit> void WalkImportCells(HMODULE Module, TVisit Visit) {
    const IMAGE_NT_HEADERS32 *headers = ImageNtHeaders(Module);
    std::uint32_t size = 0;
    const auto *descriptor = static_cast<const IMAGE_IMPORT_DESCRIPTOR *>(ImageDirectory(Module, 1, &size));
    if (!headers || !descriptor)
        return;
    const auto base = reinterpret_cast<std::uintptr_t>(Module);
    const std::uint32_t imageSize = headers->OptionalHeader.SizeOfImage;
    for (;; ++descriptor) {
        IMAGE_IMPORT_DESCRIPTOR entry;
        if (!SafeReadMemory(descriptor, &entry, sizeof(entry), nullptr) || entry.Name == 0)
            break;
        if (entry.FirstThunk == 0 || entry.FirstThunk >= imageSize)
            break;
        for (std::uint32_t at = entry.FirstThunk; at + 4 <= imageSize; at += 4) {
            auto *cell = reinterpret_cast<std::uintptr_t *>(base + at);
            std::uintptr_t value = 0;
            if (!SafeReadMemory(cell, &value, 4, nullptr) || value == 0)
                break;
            Visit(cell, value);
        }
    }
}

bool WriteCell(std::uintptr_t *Cell, std::uintptr_t Value) {
    DWORD old = 0;
    if (!VirtualProtect(Cell, 4, PAGE_EXECUTE_READWRITE, &old))
        return false;
    *Cell = Value;
    VirtualProtect(Cell, 4, old, &old);
    return true;
}

} // namespace

bool FollowsCallInstruction(std::uintptr_t Address) {
    if (Address < 8)
        return false;
    std::uint8_t before[8];
    if (!SafeReadMemory(reinterpret_cast<const void *>(Address - 8), before, 8, nullptr))
        return false;
    // before[8 - n] is the byte at Address - n.
    if (before[3] == 0xE8 || before[1] == 0x9A)
        return true;
    for (int length : {2, 3, 4, 6, 7})
        if (before[8 - length] == 0xFF && (before[9 - length] & 0x38) == 0x10)
            return true;
    return false;
}

bool InstallThreadHooks() {
    if (RealCreateThread)
        return true;
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    RealAddresses[0] = reinterpret_cast<std::uintptr_t>(ExportAddressByName(kernel, "CreateThread"));
    RealAddresses[1] =
        reinterpret_cast<std::uintptr_t>(reinterpret_cast<void *>(GetProcAddress(kernel, "CreateThread")));
    const std::uintptr_t real = RealAddresses[1] ? RealAddresses[1] : RealAddresses[0];
    if (!real)
        return false;
    RealCreateThread = reinterpret_cast<TCreateThread>(real);
    FindUnwindRange(reinterpret_cast<const void *>(&pthread_create), StartRoutineRanges[0], nullptr);
    FindUnwindRange(reinterpret_cast<const void *>(&StandardThreadStart), StartRoutineRanges[1], nullptr);

    PatchedCells = new std::vector<TPatchedCell>;
    const auto hook = reinterpret_cast<std::uintptr_t>(&HookedCreateThread);
    for (const TLoadedModule &module : GetModuleList(false))
        WalkImportCells(module.Module, [&](std::uintptr_t *cell, std::uintptr_t value) {
            if ((value == RealAddresses[0] || value == RealAddresses[1]) && WriteCell(cell, hook))
                PatchedCells->push_back({cell, value});
        });
    return true;
}

void RemoveThreadHooks() {
    if (!RealCreateThread)
        return;
    const auto hook = reinterpret_cast<std::uintptr_t>(&HookedCreateThread);
    for (const TPatchedCell &patched : *PatchedCells) {
        std::uintptr_t value = 0;
        if (SafeReadMemory(patched.Cell, &value, 4, nullptr) && value == hook)
            WriteCell(patched.Cell, patched.Old);
    }
    delete PatchedCells;
    PatchedCells = nullptr;
    RealCreateThread = nullptr;
}

int PatchedImportCells() {
    return PatchedCells ? static_cast<int>(PatchedCells->size()) : 0;
}
