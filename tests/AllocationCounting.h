// Allocation counting for tests that check a path allocates nothing: a replacement operator new
// that counts the allocations made while a TAllocationCounter is switched on.
//
// Exactly one source file of a test program defines COUNTING_OPERATOR_NEW_HERE before including
// this header; that file holds the replacement. Other files of the program include it plainly.
#pragma once

#include <atomic>
#include <cstdlib>
#include <new>

namespace allocation_counting {
inline std::atomic<bool> Counting{false};
inline std::atomic<long> Count{0};
} // namespace allocation_counting

// Counts from zero; counts only between Start and Stop, and stops on destruction.
class TAllocationCounter {
public:
    TAllocationCounter() { allocation_counting::Count = 0; }
    ~TAllocationCounter() { Stop(); }
    TAllocationCounter(const TAllocationCounter &) = delete;
    TAllocationCounter &operator=(const TAllocationCounter &) = delete;

    void Start() { allocation_counting::Counting = true; }
    void Stop() { allocation_counting::Counting = false; }
    long Count() const { return allocation_counting::Count.load(); }

    // Whether the counting operator new is the one this program uses.
    static bool InUse() {
        TAllocationCounter probe;
        probe.Start();
        static int *volatile sink;
        sink = new int(1); // kept through a volatile, so the pair is not elided
        probe.Stop();
        delete sink;
        return probe.Count() > 0;
    }
};

#ifdef COUNTING_OPERATOR_NEW_HERE
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void *operator new(std::size_t size) {
    if (allocation_counting::Counting.load(std::memory_order_relaxed))
        allocation_counting::Count.fetch_add(1, std::memory_order_relaxed);
    if (void *p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void *p) noexcept {
    std::free(p);
}
void operator delete(void *p, std::size_t) noexcept {
    std::free(p);
}
#pragma GCC diagnostic pop
#endif
