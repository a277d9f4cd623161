// Throughput of assembled pixel routines: a Mandelbrot formula written with the processor access
// emitters, joined into one pixel routine per precision, run over a grid with and without the
// periodicity test; the reference is the same iteration as a plain C++ loop on doubles.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "CompAccess.h"
#include "CompAssembler.h"
#include "CompDefinitions.h"
#include "CompRoutines.h"
#include "bench/BenchEmulation.h"

namespace {

constexpr int Width = 320, Height = 240;
constexpr std::int32_t MaxIter = 1000;
constexpr int FunctionSqr = 14;
constexpr std::int32_t cxFormulaData = 0x6C;

struct TLayout {
    std::int32_t Z, Pixel;
};
constexpr TLayout Layouts[2] = {{0xB0, 0xD0}, {0xC0, 0x100}};

struct alignas(16) TContext {
    std::uint8_t Bytes[512];
    alignas(16) std::uint8_t Data[16];
};

void AssembleMandelbrot(TRoutineAssembler &Routine, std::uint8_t Precision) {
    const TLayout &layout = Layouts[Precision];
    auto init = CreateProcessorAccess(Precision);
    init->LoadComplex(layout.Pixel, true);
    init->StoreComplexPop(layout.Z, true);
    auto loop = CreateProcessorAccess(Precision);
    loop->LoadComplex(layout.Z, true);
    loop->EmitFunction(FunctionSqr, vtComplex, vtComplex);
    loop->LoadComplex(layout.Pixel, true);
    loop->EmitOperator(opAdd, 2, vtComplex, vtComplex, vtComplex);
    loop->StoreComplexPop(layout.Z, true);
    auto bailout = CreateProcessorAccess(Precision);
    bailout->LoadComplex(layout.Z, true);
    bailout->EmitUnaryOperator(uoModulus, vtComplex, vtFloat);
    bailout->LoadReal(0, false);
    bailout->EmitOperator(opLess, 2, vtBoolean, vtFloat, vtFloat);

    Routine.AssemblePixelRoutine(Precision, cxFormulaData, *init, *loop, *bailout);
}

double Seconds(LARGE_INTEGER Start, LARGE_INTEGER Stop) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(Stop.QuadPart - Start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Coordinate(int I, int N, double From, double Span) {
    return From + Span * I / N;
}

// Runs the routine over the grid; returns the total iterations done.
std::int64_t RunGrid(const TRoutineAssembler &Routine, std::uint8_t Precision, bool Periodicity,
                     double &Time) {
    TRoutineAssembler empty;
    empty.EmitReturn();
    TContext context;
    std::int64_t total = 0;
    LARGE_INTEGER start, stop;
    QueryPerformanceCounter(&start);
    for (int y = 0; y < Height; ++y)
        for (int x = 0; x < Width; ++x) {
            std::memset(&context, 0, sizeof context);
            void *data = context.Data;
            std::memcpy(context.Bytes + cxFormulaData, &data, 4);
            const void *stub = empty.GetCode();
            for (const std::int32_t offset : {0x3C, 0x44, 0x48, 0x50})
                std::memcpy(context.Bytes + offset, &stub, 4);
            std::memcpy(context.Bytes + 0x34, &MaxIter, 4);
            const std::uint32_t threshold = Periodicity ? 0xFFFFFFFFu : 0, mask = 9;
            const std::int32_t saves = 4;
            const float tolerance = 1e-12f;
            std::memcpy(context.Bytes + 0x00, &threshold, 4);
            std::memcpy(context.Bytes + 0x04, &mask, 4);
            std::memcpy(context.Bytes + 0x08, &saves, 4);
            std::memcpy(context.Bytes + 0x10, &saves, 4);
            std::memcpy(context.Bytes + 0x14, &tolerance, 4);
            const double cr = Coordinate(x, Width, -2.2, 3.0), ci = Coordinate(y, Height, -1.2, 2.4);
            if (Precision == 0) {
                const double four = 4.0;
                std::memcpy(context.Data, &four, 8);
                std::memcpy(context.Bytes + 0xD0, &cr, 8);
                std::memcpy(context.Bytes + 0xD8, &ci, 8);
            } else {
                const long double four = 4.0L, re = cr, im = ci;
                std::memcpy(context.Data, &four, 10);
                std::memcpy(context.Bytes + 0x100, &re, 10);
                std::memcpy(context.Bytes + 0x110, &im, 10);
            }
            Routine.Execute(context.Bytes, nullptr);
            std::int32_t done;
            std::memcpy(&done, context.Bytes + 0x38, 4);
            total += done;
        }
    QueryPerformanceCounter(&stop);
    Time = Seconds(start, stop);
    return total;
}

std::int64_t RunReference(double &Time) {
    std::int64_t total = 0;
    LARGE_INTEGER start, stop;
    QueryPerformanceCounter(&start);
    for (int y = 0; y < Height; ++y)
        for (int x = 0; x < Width; ++x) {
            const double cr = Coordinate(x, Width, -2.2, 3.0), ci = Coordinate(y, Height, -1.2, 2.4);
            double zr = cr, zi = ci;
            std::int32_t counter = MaxIter;
            for (;;) {
                const double re = zr * zr - zi * zi + cr;
                zi = 2 * zr * zi + ci;
                zr = re;
                if (!(zr * zr + zi * zi < 4.0))
                    break;
                if (--counter == 0)
                    break;
            }
            total += MaxIter - counter;
        }
    QueryPerformanceCounter(&stop);
    Time = Seconds(start, stop);
    return total;
}

} // namespace

int main() {
    PrintEmulationNotice();
    InitializeCompRoutines();
    std::printf("Mandelbrot pixel routine, %dx%d pixels, maxiter %d\n\n", Width, Height, MaxIter);
    std::printf("%-34s %14s %10s %12s %8s\n", "run", "iterations", "seconds", "M iter/s", "speed");
    double referenceTime = 0;
    const std::int64_t referenceIterations = RunReference(referenceTime);
    const double referenceRate = static_cast<double>(referenceIterations) / referenceTime / 1e6;
    std::printf("%-34s %14lld %10.3f %12.1f %8.2f\n", "C++ loop on doubles (reference)",
                static_cast<long long>(referenceIterations), referenceTime, referenceRate, 1.0);
    const struct {
        const char *Name;
        std::uint8_t Precision;
        bool Periodicity;
    } runs[] = {{"routine, double", 0, false},
                {"routine, double, periodicity", 0, true},
                {"routine, extended", 1, false},
                {"routine, extended, periodicity", 1, true}};
    for (const auto &run : runs) {
        TRoutineAssembler routine;
        AssembleMandelbrot(routine, run.Precision);
        double time = 0;
        const std::int64_t iterations = RunGrid(routine, run.Precision, run.Periodicity, time);
        const double rate = static_cast<double>(iterations) / time / 1e6;
        std::printf("%-34s %14lld %10.3f %12.1f %8.2f\n", run.Name, static_cast<long long>(iterations), time,
                    rate, referenceTime / time);
    }
    std::printf(
        "\nspeed: reference seconds / seconds for the same grid. With periodicity, inside pixels\n"
        "end early but still count maxiter iterations done, so their M iter/s overstates the work.\n");
    FinalizeCompRoutines();
    return 0;
}
