#include "FracContext.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "CompRoutines.h"
#include "HugeBase.h"
#include "HugeMath.h"

TPixelContextBlock::TPixelContextBlock(std::uint8_t Precision)
    : FValues(&ContextValueOffsets[Precision > 2 ? 2 : Precision]),
      FPrecision(Precision > 2 ? 2 : Precision) {
    const std::size_t size = static_cast<std::size_t>(FValues->ContextSize);
    // 16 bytes more than the context, so that its start can lie on a 16-byte boundary.
    FMemory = std::make_unique<std::uint8_t[]>(size + 16);
    const std::uintptr_t start = (reinterpret_cast<std::uintptr_t>(FMemory.get()) + 15) & ~std::uintptr_t{15};
    FBytes = reinterpret_cast<std::uint8_t *>(start);
    std::memset(FBytes, 0, size);
}

void TPixelContextBlock::SetPixel(long double Re, long double Im) const {
    const std::int32_t re = FValues->Pixel, im = FValues->Pixel + FValues->ImaginaryStep;
    if (FPrecision == 0) {
        At<double>(re) = static_cast<double>(Re);
        At<double>(im) = static_cast<double>(Im);
    } else if (FPrecision == 1) {
        At<long double>(re) = Re;
        At<long double>(im) = Im;
    } else {
        if (THugeFloatBase *number = At<THugeFloatBase *>(re))
            number->SetExtended(Re);
        if (THugeFloatBase *number = At<THugeFloatBase *>(im))
            number->SetExtended(Im);
    }
}

long double TPixelContextBlock::ReadValue(std::int32_t Offset) const {
    if (FPrecision == 0)
        return At<double>(Offset);
    if (FPrecision == 1)
        return At<long double>(Offset);
    const THugeFloatBase *number = At<THugeFloatBase *>(Offset);
    return number ? number->GetExtended() : 0;
}

TPeriodicityWindow PeriodicityWindow(std::int32_t MaxIter) {
    const long double digits = MaxIter > 0 ? std::log10(static_cast<long double>(MaxIter)) : 0;
    std::int32_t n = static_cast<std::int32_t>(std::lround(digits));
    if (n < 4)
        n = 4;
    return {n, static_cast<std::uint32_t>(2 * n + 1)};
}

std::uint64_t OrbitArraySize(std::int32_t MaxIter, std::uint32_t BytesPerPoint) {
    const std::uint64_t points = MaxIter < 0 ? 1 : static_cast<std::uint64_t>(MaxIter) + 1;
    return points * BytesPerPoint;
}

void CreateHugeOrbitNumbers(void *Start, std::int32_t Points, std::int32_t Digits) {
    auto *handles = static_cast<THugeFloatBase **>(Start);
    const std::size_t count = Points > 0 ? 2 * static_cast<std::size_t>(Points) : 0;
    std::fill(handles, handles + count, nullptr);
    try {
        for (std::size_t i = 0; i < count; ++i)
            handles[i] = new THugeFloat(std::clamp(Digits, HugeMinDigits, HugeMaxDigits));
    } catch (...) {
        FreeHugeOrbitNumbers(Start, Points);
        throw;
    }
}

void FreeHugeOrbitNumbers(void *Start, std::int32_t Points) {
    auto *handles = static_cast<THugeFloatBase **>(Start);
    const std::size_t count = Points > 0 ? 2 * static_cast<std::size_t>(Points) : 0;
    for (std::size_t i = 0; i < count; ++i) {
        delete handles[i];
        handles[i] = nullptr;
    }
}

TFormulaControlWordScope::TFormulaControlWordScope() {
    SetFormulaFPUControl(FSaved);
}

TFormulaControlWordScope::~TFormulaControlWordScope() {
    RestoreFPUControl(FSaved);
}
