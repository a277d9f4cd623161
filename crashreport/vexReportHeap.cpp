// While a report holds the other threads, one of them may hold the C run time's heap lock: every
// allocation of the reporting threads then comes from the report heap, which nobody else locks.
// Any thread may free such a block later; a free tells the blocks apart by their address.
#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "vexHandler.h"

namespace {

// A heap of fixed size reserves one range of addresses up front, so that its blocks are known by
// their address. Its blocks are limited to somewhat below 512 KB; bigger ones get their own
// reservation and are listed.
constexpr SIZE_T ReportHeapSize = 16 * 1024 * 1024;
constexpr SIZE_T LargeBlock = 256 * 1024;
constexpr int LargeSlots = 64;

std::atomic<DWORD> AllocationThreads[2];
HANDLE ReportHeap = nullptr;
std::uintptr_t HeapBegin = 0, HeapEnd = 0;
std::atomic<void *> LargeBlocks[LargeSlots];
std::atomic<int> LargeCount{0};

// Inlined into the operators: a routine of its own would leave its return addresses in stack slots
// that thread-creator searches read.
[[gnu::always_inline]] inline bool ReportThread() {
    const DWORD self = GetCurrentThreadId();
    return AllocationThreads[0].load(std::memory_order_relaxed) == self ||
           AllocationThreads[1].load(std::memory_order_relaxed) == self;
}

void *ReportAllocate(std::size_t Size) {
    if (Size >= LargeBlock) {
        void *block = VirtualAlloc(nullptr, Size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
        if (!block)
            return nullptr;
        for (std::atomic<void *> &slot : LargeBlocks) {
            void *empty = nullptr;
            if (slot.compare_exchange_strong(empty, block)) {
                ++LargeCount;
                return block;
            }
        }
        VirtualFree(block, 0, MEM_RELEASE);
        return nullptr;
    }
    return HeapAlloc(ReportHeap, 0, Size ? Size : 1);
}

// True when the block was the report's and is now freed.
bool ReportFree(void *Block) {
    const auto address = reinterpret_cast<std::uintptr_t>(Block);
    if (address >= HeapBegin && address < HeapEnd) {
        HeapFree(ReportHeap, 0, Block);
        return true;
    }
    if (LargeCount.load(std::memory_order_relaxed) == 0)
        return false;
    for (std::atomic<void *> &slot : LargeBlocks) {
        void *expected = Block;
        if (slot.compare_exchange_strong(expected, nullptr)) {
            --LargeCount;
            VirtualFree(Block, 0, MEM_RELEASE);
            return true;
        }
    }
    return false;
}

[[gnu::always_inline]] inline void *Allocate(std::size_t Size) {
    if (ReportHeap && ReportThread())
        return ReportAllocate(Size);
    return std::malloc(Size ? Size : 1);
}

[[gnu::always_inline]] inline void Release(void *Block) {
    if (!Block)
        return;
    if (!ReportFree(Block))
        std::free(Block);
}

} // namespace

void SetReportAllocationThreads(DWORD First, DWORD Second) {
    if (!ReportHeap && (First || Second)) {
        HANDLE heap = HeapCreate(0, 0x10000, ReportHeapSize);
        if (!heap)
            return;
        // The heap's reservation: every region that shares its first block's allocation base.
        MEMORY_BASIC_INFORMATION info;
        void *probe = HeapAlloc(heap, 0, 16);
        if (!probe || VirtualQuery(probe, &info, sizeof(info)) != sizeof(info)) {
            HeapDestroy(heap);
            return;
        }
        HeapFree(heap, 0, probe);
        void *const base = info.AllocationBase;
        std::uintptr_t end = reinterpret_cast<std::uintptr_t>(base);
        while (VirtualQuery(reinterpret_cast<void *>(end), &info, sizeof(info)) == sizeof(info) &&
               info.AllocationBase == base && info.RegionSize)
            end += info.RegionSize;
        HeapBegin = reinterpret_cast<std::uintptr_t>(base);
        HeapEnd = end;
        ReportHeap = heap;
    }
    AllocationThreads[0] = First;
    AllocationThreads[1] = Second;
}

// The operators are weak: a program that counts its allocations with operators of its own (some test
// programs do) keeps those.
[[gnu::weak]] void *operator new(std::size_t Size) {
    if (void *block = Allocate(Size))
        return block;
    throw std::bad_alloc();
}
[[gnu::weak]] void *operator new[](std::size_t Size) {
    return operator new(Size);
}
[[gnu::weak]] void *operator new(std::size_t Size, const std::nothrow_t &) noexcept {
    return Allocate(Size);
}
[[gnu::weak]] void *operator new[](std::size_t Size, const std::nothrow_t &) noexcept {
    return Allocate(Size);
}
[[gnu::weak]] void operator delete(void *Block) noexcept {
    Release(Block);
}
[[gnu::weak]] void operator delete[](void *Block) noexcept {
    Release(Block);
}
[[gnu::weak]] void operator delete(void *Block, std::size_t) noexcept {
    Release(Block);
}
[[gnu::weak]] void operator delete[](void *Block, std::size_t) noexcept {
    Release(Block);
}
[[gnu::weak]] void operator delete(void *Block, const std::nothrow_t &) noexcept {
    Release(Block);
}
[[gnu::weak]] void operator delete[](void *Block, const std::nothrow_t &) noexcept {
    Release(Block);
}
