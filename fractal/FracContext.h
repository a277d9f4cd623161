// A pixel context as a calculation piece owns it: zeroed, 16-byte aligned memory of the size its
// precision needs, with the common fields reachable by name (the layout is in CompPixelContext.h),
// and the periodicity values a piece derives from maxiter.
#pragma once

#include <cstdint>
#include <memory>

#include "CompPixelContext.h"

class TPixelContextBlock {
public:
    // 0 double, 1 extended, any other value arbitrary precision.
    explicit TPixelContextBlock(std::uint8_t Precision);
    TPixelContextBlock(const TPixelContextBlock &) = delete;
    TPixelContextBlock &operator=(const TPixelContextBlock &) = delete;

    std::uint8_t *Bytes() const { return FBytes; }
    TPixelContext &Common() const { return *reinterpret_cast<TPixelContext *>(FBytes); }
    const TContextValueOffsets &Values() const { return *FValues; }
    std::int32_t Size() const { return FValues->ContextSize; }
    template <class T> T &At(std::int32_t Offset) const { return *reinterpret_cast<T *>(FBytes + Offset); }
    // PIXEL in the context's precision (in arbitrary precision into the context's numbers, when
    // they exist).
    void SetPixel(long double Re, long double Im) const;
    // A real value of the context's precision at Offset, as an 80-bit value (0 for a missing
    // arbitrary-precision number).
    long double ReadValue(std::int32_t Offset) const;

private:
    std::unique_ptr<std::uint8_t[]> FMemory;
    std::uint8_t *FBytes;
    const TContextValueOffsets *FValues;
    std::uint8_t FPrecision;
};

// The periodicity window of a run: n = max(round(log10 maxiter), 4) saves per mask step and the
// initial mask 2n + 1.
struct TPeriodicityWindow {
    std::int32_t SavesPerStep;
    std::uint32_t InitialMask;
};
TPeriodicityWindow PeriodicityWindow(std::int32_t MaxIter);

// Bytes of an orbit array for MaxIter iterations ((MaxIter + 1) points of BytesPerPoint), in 64
// bits so that no setting can wrap it; the allocator refuses what cannot be had.
std::uint64_t OrbitArraySize(std::int32_t MaxIter, std::uint32_t BytesPerPoint);

// An arbitrary-precision orbit array holds two number handles per point. The array's owner creates
// the numbers of Points points (of Digits digits) before the run, and frees them after it;
// freeing leaves nil handles and may be called again.
void CreateHugeOrbitNumbers(void *Start, std::int32_t Points, std::int32_t Digits);
void FreeHugeOrbitNumbers(void *Start, std::int32_t Points);

// Runs the calling thread under the formula control word until the scope ends, then restores the
// thread's own word. A thread that calls pixel routines for a whole calculation holds one, so that
// the routines' entry and exit loads find the word they load already in place: on some processors
// a load that changes the word costs far more than one that does not.
class TFormulaControlWordScope {
public:
    TFormulaControlWordScope();
    ~TFormulaControlWordScope();
    TFormulaControlWordScope(const TFormulaControlWordScope &) = delete;
    TFormulaControlWordScope &operator=(const TFormulaControlWordScope &) = delete;

private:
    std::uint16_t FSaved;
};
