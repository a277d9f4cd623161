// Layout of the pixel context: the record through which the calculation pieces, the mapping, the
// fixed pieces of a pixel routine, the routine templates and generated code talk for every pixel.
// Generated code addresses it by byte offset, so the layout is part of the code format.
//
// This file is the one definition of that layout. The assembly templates include it for the PC_*
// offsets; C++ code uses the constants and the structures below, whose offsets are checked against
// the same numbers at compile time.
#pragma once

// Common part, the same in every precision.
#define PC_PERIODICITY_THRESHOLD 0x00
#define PC_PERIODICITY_MASK 0x04
#define PC_SAVES_LEFT 0x08
#define PC_INITIAL_MASK 0x0C
#define PC_SAVES_PER_STEP 0x10
#define PC_TOLERANCE 0x14
#define PC_PERIODICITY_MODE 0x18
#define PC_X 0x1C
#define PC_Y 0x20
#define PC_WIDTH 0x24
#define PC_HEIGHT 0x28
#define PC_HALF_WIDTH 0x2C
#define PC_HALF_HEIGHT 0x30
#define PC_MAXITER 0x34
#define PC_ITERATIONS_DONE 0x38
#define PC_INSIDE_INIT 0x3C
#define PC_INSIDE_LOOP 0x40
#define PC_INSIDE_FINAL 0x44
#define PC_OUTSIDE_INIT 0x48
#define PC_OUTSIDE_LOOP 0x4C
#define PC_OUTSIDE_FINAL 0x50
#define PC_ORBIT_START 0x54
#define PC_ORBIT_WRITE 0x58
#define PC_ORBIT_ALLOCATION 0x5C
#define PC_ORBIT_ROUTINE 0x60
#define PC_TRANSFORM_DATA 0x64
#define PC_FORMULA_DATA 0x6C
#define PC_INSIDE_DATA 0x70
#define PC_OUTSIDE_DATA 0x74
#define PC_COLOR 0x78
#define PC_INSIDE_MAPPER 0x88
#define PC_OUTSIDE_MAPPER 0x8C
#define PC_PRINT_LINE 0x90
#define PC_SAVED_CONTROL_WORD 0x94
#define PC_WHITESQ 0x96
#define PC_SOLID 0x97
#define PC_STOP_FLAG 0x98
#define PC_PRECISION_PART 0xA0

// Values of the precision-specific part that hand-written loops address (checked below): Z
// and PIXEL in double, extended and arbitrary precision.
#define PC_DOUBLE_Z 0xB0
#define PC_DOUBLE_PIXEL 0xD0
#define PC_EXTENDED_Z 0xC0
#define PC_EXTENDED_PIXEL 0x100
#define PC_HUGE_Z 0xA8
#define PC_HUGE_PIXEL 0xB8

#ifndef __ASSEMBLER__

#include <cstddef>
#include <cstdint>

// Code blocks the pixel routine calls through the context (coloring INIT, LOOP, FINAL, the orbit
// recorder): no arguments, the context in esi.
using TContextCode = void (*)();

struct TPixelContext {
    std::uint32_t PeriodicityThreshold; // test only while the remaining count is below (unsigned)
    std::uint32_t PeriodicityMask;      // save z when remaining AND mask is 0
    std::int32_t SavesLeft;
    std::uint32_t InitialMask; // 2n + 1
    std::int32_t SavesPerStep; // n
    float Tolerance;
    std::uint8_t PeriodicityMode; // 0 off, 1 conservative, 2 normal, 3 rough
    std::uint8_t Free19[3];
    std::int32_t X, Y;
    std::int32_t Width, Height;
    std::int32_t HalfWidth, HalfHeight; // Width div 2, Height div 2, for the mapping
    std::int32_t MaxIter;
    std::int32_t IterationsDone;
    TContextCode InsideInit, InsideLoop, InsideFinal;
    TContextCode OutsideInit, OutsideLoop, OutsideFinal;
    void *OrbitStart;      // 16-byte aligned, nil when no coloring needs the orbit
    void *OrbitWrite;      // reset to OrbitStart before every pixel
    void *OrbitAllocation; // the block OrbitStart lies in
    TContextCode OrbitRoutine;
    void *TransformData;
    std::uint8_t Free68[4];
    void *FormulaData;
    void *InsideData;
    void *OutsideData;
    float Color[4]; // red, green, blue, alpha
    void *InsideMapper;
    void *OutsideMapper;
    void *PrintLine; // owned std::string * of a PRINT statement under construction
    std::uint16_t SavedControlWord;
    std::uint8_t WhiteSq;
    std::uint8_t Solid;
    volatile std::uint8_t StopFlag; // the one field another thread writes
    std::uint8_t Free99[7];
};

#define PC_CHECK(field, offset) static_assert(offsetof(TPixelContext, field) == (offset), #field)
PC_CHECK(PeriodicityThreshold, PC_PERIODICITY_THRESHOLD);
PC_CHECK(PeriodicityMask, PC_PERIODICITY_MASK);
PC_CHECK(SavesLeft, PC_SAVES_LEFT);
PC_CHECK(InitialMask, PC_INITIAL_MASK);
PC_CHECK(SavesPerStep, PC_SAVES_PER_STEP);
PC_CHECK(Tolerance, PC_TOLERANCE);
PC_CHECK(PeriodicityMode, PC_PERIODICITY_MODE);
PC_CHECK(X, PC_X);
PC_CHECK(Y, PC_Y);
PC_CHECK(Width, PC_WIDTH);
PC_CHECK(Height, PC_HEIGHT);
PC_CHECK(HalfWidth, PC_HALF_WIDTH);
PC_CHECK(HalfHeight, PC_HALF_HEIGHT);
PC_CHECK(MaxIter, PC_MAXITER);
PC_CHECK(IterationsDone, PC_ITERATIONS_DONE);
PC_CHECK(InsideInit, PC_INSIDE_INIT);
PC_CHECK(InsideLoop, PC_INSIDE_LOOP);
PC_CHECK(InsideFinal, PC_INSIDE_FINAL);
PC_CHECK(OutsideInit, PC_OUTSIDE_INIT);
PC_CHECK(OutsideLoop, PC_OUTSIDE_LOOP);
PC_CHECK(OutsideFinal, PC_OUTSIDE_FINAL);
PC_CHECK(OrbitStart, PC_ORBIT_START);
PC_CHECK(OrbitWrite, PC_ORBIT_WRITE);
PC_CHECK(OrbitAllocation, PC_ORBIT_ALLOCATION);
PC_CHECK(OrbitRoutine, PC_ORBIT_ROUTINE);
PC_CHECK(TransformData, PC_TRANSFORM_DATA);
PC_CHECK(FormulaData, PC_FORMULA_DATA);
PC_CHECK(InsideData, PC_INSIDE_DATA);
PC_CHECK(OutsideData, PC_OUTSIDE_DATA);
PC_CHECK(Color, PC_COLOR);
PC_CHECK(InsideMapper, PC_INSIDE_MAPPER);
PC_CHECK(OutsideMapper, PC_OUTSIDE_MAPPER);
PC_CHECK(PrintLine, PC_PRINT_LINE);
PC_CHECK(SavedControlWord, PC_SAVED_CONTROL_WORD);
PC_CHECK(WhiteSq, PC_WHITESQ);
PC_CHECK(Solid, PC_SOLID);
PC_CHECK(StopFlag, PC_STOP_FLAG);
static_assert(sizeof(TPixelContext) == PC_PRECISION_PART);
#undef PC_CHECK

// The common fields as offsets, for code that emits or patches instructions.
constexpr std::int32_t pcPeriodicityThreshold = PC_PERIODICITY_THRESHOLD;
constexpr std::int32_t pcPeriodicityMask = PC_PERIODICITY_MASK;
constexpr std::int32_t pcSavesLeft = PC_SAVES_LEFT;
constexpr std::int32_t pcSavesPerStep = PC_SAVES_PER_STEP;
constexpr std::int32_t pcTolerance = PC_TOLERANCE;
constexpr std::int32_t pcMaxIter = PC_MAXITER;
constexpr std::int32_t pcIterationsDone = PC_ITERATIONS_DONE;
constexpr std::int32_t pcInsideInit = PC_INSIDE_INIT;
constexpr std::int32_t pcInsideFinal = PC_INSIDE_FINAL;
constexpr std::int32_t pcOutsideInit = PC_OUTSIDE_INIT;
constexpr std::int32_t pcOutsideFinal = PC_OUTSIDE_FINAL;
constexpr std::int32_t pcOrbitStart = PC_ORBIT_START;
constexpr std::int32_t pcTransformData = PC_TRANSFORM_DATA;
constexpr std::int32_t pcFormulaData = PC_FORMULA_DATA;
constexpr std::int32_t pcInsideData = PC_INSIDE_DATA;
constexpr std::int32_t pcOutsideData = PC_OUTSIDE_DATA;
constexpr std::int32_t pcColor = PC_COLOR;
constexpr std::int32_t pcInsideMapper = PC_INSIDE_MAPPER;
constexpr std::int32_t pcOutsideMapper = PC_OUTSIDE_MAPPER;
constexpr std::int32_t pcPrintLine = PC_PRINT_LINE;
constexpr std::int32_t pcSavedControlWord = PC_SAVED_CONTROL_WORD;
constexpr std::int32_t pcWhiteSq = PC_WHITESQ;
constexpr std::int32_t pcSolid = PC_SOLID;
constexpr std::int32_t pcStopFlag = PC_STOP_FLAG;
constexpr std::int32_t pcX = PC_X;
constexpr std::int32_t pcY = PC_Y;

// An 80-bit value in a 16-byte cell, as extended-precision code keeps it.
struct TExtendedCell {
    long double Value;
    std::uint8_t Free[16 - sizeof(long double)];
};
static_assert(sizeof(TExtendedCell) == 16);

// The precision-specific parts, each at PC_PRECISION_PART. A complex value is (re, im); its
// imaginary part follows at +8, +16 and +4 (a second number handle) in the three precisions.
template <class TValue> struct TPrecisionPart {
    TValue Center[2];
    TValue Z[2];
    TValue SavedZ[2];
    TValue Pixel[2];
    TValue ScreenMax[2];
    TValue ScreenPixel[2];
    TValue Random[2];
    TValue Magn;
    TValue PixelScale;
    TValue Stretch;
    TValue Angle;
    TValue Skew;
    TValue Index;
};
class THugeFloatBase;
using TDoublePart = TPrecisionPart<double>;
using TExtendedPart = TPrecisionPart<TExtendedCell>;
using THugePart = TPrecisionPart<THugeFloatBase *>;

// Where each value lies in one precision, for the code generator and the fixed pieces.
struct TContextValueOffsets {
    std::int32_t Center, Z, SavedZ, Pixel, ScreenMax, ScreenPixel, Random, Magn, PixelScale, Stretch, Angle,
        Skew, Index;
    std::int32_t ImaginaryStep; // from a complex value's real part to its imaginary part
    std::int32_t ContextSize;   // the whole context
};

template <class TPart> constexpr TContextValueOffsets MakeContextValueOffsets() {
    constexpr std::int32_t base = PC_PRECISION_PART;
    return {base + std::int32_t(offsetof(TPart, Center)),
            base + std::int32_t(offsetof(TPart, Z)),
            base + std::int32_t(offsetof(TPart, SavedZ)),
            base + std::int32_t(offsetof(TPart, Pixel)),
            base + std::int32_t(offsetof(TPart, ScreenMax)),
            base + std::int32_t(offsetof(TPart, ScreenPixel)),
            base + std::int32_t(offsetof(TPart, Random)),
            base + std::int32_t(offsetof(TPart, Magn)),
            base + std::int32_t(offsetof(TPart, PixelScale)),
            base + std::int32_t(offsetof(TPart, Stretch)),
            base + std::int32_t(offsetof(TPart, Angle)),
            base + std::int32_t(offsetof(TPart, Skew)),
            base + std::int32_t(offsetof(TPart, Index)),
            std::int32_t(sizeof(TPart::Z[0])),
            base + std::int32_t(sizeof(TPart))};
}

// Indexed by precision: 0 double, 1 extended, 2 arbitrary.
inline constexpr TContextValueOffsets ContextValueOffsets[3] = {MakeContextValueOffsets<TDoublePart>(),
                                                                MakeContextValueOffsets<TExtendedPart>(),
                                                                MakeContextValueOffsets<THugePart>()};

// The offsets generated code and the assembled pieces were written against.
static_assert(ContextValueOffsets[0].Z == 0xB0 && ContextValueOffsets[0].SavedZ == 0xC0 &&
              ContextValueOffsets[0].Pixel == 0xD0 && ContextValueOffsets[0].Index == 0x138 &&
              ContextValueOffsets[0].ContextSize == 320);
static_assert(ContextValueOffsets[1].Z == 0xC0 && ContextValueOffsets[1].SavedZ == 0xE0 &&
              ContextValueOffsets[1].Pixel == 0x100 && ContextValueOffsets[1].Index == 0x1D0 &&
              ContextValueOffsets[1].ContextSize == 480);
static_assert(ContextValueOffsets[2].Z == 0xA8 && ContextValueOffsets[2].SavedZ == 0xB0 &&
              ContextValueOffsets[2].Pixel == 0xB8 && ContextValueOffsets[2].Index == 0xEC &&
              ContextValueOffsets[2].ContextSize == 240);

static_assert(ContextValueOffsets[0].Z == PC_DOUBLE_Z && ContextValueOffsets[0].Pixel == PC_DOUBLE_PIXEL);
static_assert(ContextValueOffsets[1].Z == PC_EXTENDED_Z && ContextValueOffsets[1].Pixel == PC_EXTENDED_PIXEL);
static_assert(ContextValueOffsets[2].Z == PC_HUGE_Z && ContextValueOffsets[2].Pixel == PC_HUGE_PIXEL);

// Number of arbitrary-precision numbers the context holds, from PC_PRECISION_PART on.
constexpr int ContextHugeCount = int(sizeof(THugePart) / sizeof(THugeFloatBase *));

#endif
