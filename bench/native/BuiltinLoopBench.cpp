// Native timing of the built-in loop's x87 instructions (BuiltinLoopNative.S) beside the same loop
// written in C++ with z in 80-bit registers, compiled by GCC -O2 in the same run: Mandelbrot and
// Julia on a grid, counts compared, iterations per second and the ratio. Each pixel's time is the best
// of several runs, as the machines this runs on are shared. Built by bench/native/builtin-loop.sh.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include <x86intrin.h>

#include "FracBuiltinData.h"
#include "bench/BuiltinPlainLoop.h"

extern "C" int BuiltinFastLoop(void *Block);

namespace {

constexpr int GridSize = 128;
constexpr int MaxIter = 500;
constexpr int Runs = 15;

// The block as the loop reads it: the formula data block's bailout, z0 and c, maxiter at 0x50.
struct TBlock {
    alignas(16) std::uint8_t Bytes[128] = {};
    void Set(long double ZRe, long double ZIm, long double CRe, long double CIm, std::int32_t Max) {
        std::memcpy(Bytes + 0x00, &ZRe, 10);
        std::memcpy(Bytes + 0x10, &ZIm, 10);
        std::memcpy(Bytes + 0x20, &CRe, 10);
        std::memcpy(Bytes + 0x30, &CIm, 10);
        const double bailout = 4;
        std::memcpy(Bytes + BD_BAILOUT, &bailout, 8);
        std::memcpy(Bytes + 0x50, &Max, 4);
    }
};

__attribute__((noinline)) int PlainLoop(long double ZRe, long double ZIm, long double CRe, long double CIm,
                                        int Max) {
    return PlainEscapeCount(ZRe, ZIm, CRe, CIm, Max);
}

// Timer ticks (the time-stamp counter) and their length in nanoseconds.
inline std::uint64_t Ticks() {
    return __rdtsc();
}

double NanosecondsPerTick() {
    const auto start = std::chrono::steady_clock::now();
    const std::uint64_t first = Ticks();
    while (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(200)) {
    }
    const double ns =
        std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
    return ns / double(Ticks() - first);
}

struct TResult {
    double Ticks = 0; // the sum of every pixel's best time, the timer's own cost taken out
    long long Iterations = 0;
    std::vector<int> Counts;
};

// Every pixel is timed on its own, the two loops in turn, and keeps its best of Runs times: on a
// shared machine a whole-grid time depends on what else runs, the best time of a short piece of
// work hardly does.
template <class Builtin, class Plain>
void Time(bool Julia, Builtin RunBuiltin, Plain RunPlain, TResult &BuiltinResult, TResult &PlainResult) {
    std::uint64_t empty = ~0ull;
    for (int i = 0; i < 1000; ++i) {
        const std::uint64_t t0 = Ticks();
        empty = std::min(empty, Ticks() - t0);
    }
    for (int y = 0; y < GridSize; ++y)
        for (int x = 0; x < GridSize; ++x) {
            const long double side = Julia ? 3.2L : 2.8L;
            const long double re = (Julia ? -1.6L : -2.2L) + side * x / GridSize;
            const long double im = (Julia ? -1.6L : -1.4L) + side * y / GridSize;
            // Mandelbrot with start 0 begins at z1 = c.
            const long double cRe = Julia ? -0.8L : re, cIm = Julia ? 0.156L : im;
            std::uint64_t best[2] = {~0ull, ~0ull};
            int counts[2] = {};
            for (int run = 0; run < Runs; ++run) {
                std::uint64_t t0 = Ticks();
                counts[0] = RunBuiltin(re, im, cRe, cIm);
                best[0] = std::min(best[0], Ticks() - t0);
                t0 = Ticks();
                counts[1] = RunPlain(re, im, cRe, cIm);
                best[1] = std::min(best[1], Ticks() - t0);
            }
            TResult *results[2] = {&BuiltinResult, &PlainResult};
            for (int i = 0; i < 2; ++i) {
                results[i]->Ticks += double(best[i] > empty ? best[i] - empty : 0);
                results[i]->Iterations += counts[i];
                results[i]->Counts.push_back(counts[i]);
            }
        }
}

} // namespace

int main() {
    std::printf("Built-in loop (x87, re-hosted natively) against GCC -O2 C++, %dx%d grid, maxiter %d, best "
                "of %d runs a pixel\n",
                GridSize, GridSize, MaxIter, Runs);
    const double tick = NanosecondsPerTick();
    for (const bool julia : {false, true}) {
        TBlock block;
        TResult builtin, plain;
        Time(
            julia,
            [&](long double ZRe, long double ZIm, long double CRe, long double CIm) {
                block.Set(ZRe, ZIm, CRe, CIm, MaxIter);
                return BuiltinFastLoop(block.Bytes);
            },
            [](long double ZRe, long double ZIm, long double CRe, long double CIm) {
                return PlainLoop(ZRe, ZIm, CRe, CIm, MaxIter);
            },
            builtin, plain);
        int differ = 0;
        for (size_t i = 0; i < plain.Counts.size(); ++i)
            differ += plain.Counts[i] != builtin.Counts[i];
        const double builtinNs = builtin.Ticks * tick / builtin.Iterations;
        const double plainNs = plain.Ticks * tick / plain.Iterations;
        std::printf(
            "%-10s built-in %7.1f M iter/s (%.2f ns/iter)  C++ %7.1f M iter/s (%.2f ns/iter)  ratio %.2f  "
            "(%d pixels differ in count)\n",
            julia ? "Julia" : "Mandelbrot", 1e3 / builtinNs, builtinNs, 1e3 / plainNs, plainNs,
            plainNs / builtinNs, differ);
    }
    return 0;
}
