// Routine assembler: the fixed pieces are checked byte for byte where their encoding carries a
// computed value (addresses, jump distances), and by running whole pixel routines assembled
// around small bodies written with the processor access emitters, against a plain C++ model of
// the iteration protocol (counter, bailout, periodicity window, stop flag).
#include <windows.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CompAccess.h"
#include "CompAssembler.h"
#include "CompDefinitions.h"
#include "CompRoutines.h"
#include "HugeFPU.h"
#include "HugeMath.h"

namespace {

class TCompAssemblerEnvironment : public testing::Environment {
public:
    void SetUp() override { InitializeCompRoutines(); }
};

const testing::Environment *const CompAssemblerEnvironment =
    testing::AddGlobalTestEnvironment(new TCompAssemblerEnvironment);

// Function id of sqr in the formula language.
constexpr int FunctionSqr = 14;

// Pixel context offsets the tests fill or read.
constexpr std::int32_t cxThreshold = 0x00, cxMask = 0x04, cxSavesLeft = 0x08, cxSavesPerStep = 0x10,
                       cxTolerance = 0x14, cxMaxIter = 0x34, cxIterationsDone = 0x38, cxInsideInit = 0x3C,
                       cxInsideFinal = 0x44, cxOutsideInit = 0x48, cxOutsideFinal = 0x50,
                       cxFormulaData = 0x6C, cxSavedControlWord = 0x94, cxStopFlag = 0x98;
// Free room after the largest context, used by the test bodies to count and record.
constexpr std::int32_t cxInsideInitCount = 0x200, cxOutsideInitCount = 0x204, cxInsideFinalCount = 0x208,
                       cxOutsideFinalCount = 0x20C, cxColoringLoops = 0x210, cxRecordedWord = 0x214;

struct TPrecisionLayout {
    std::int32_t Z, SavedZ, Pixel, Part; // Part: distance of the imaginary part
};
constexpr TPrecisionLayout Layouts[2] = {{0xB0, 0xC0, 0xD0, 8}, {0xC0, 0xE0, 0x100, 16}};

// A pixel context with room for test fields, a data block and the calling thread's
// arbitrary-precision numbers.
struct alignas(16) TContext {
    std::uint8_t Bytes[640] = {};
    alignas(16) std::uint8_t Data[64] = {};

    TContext() { Put<void *>(cxFormulaData, Data); }

    template <class T> T Get(std::int32_t Offset) const {
        T value;
        std::memcpy(&value, Bytes + Offset, sizeof value);
        return value;
    }
    template <class T> void Put(std::int32_t Offset, T Value) {
        std::memcpy(Bytes + Offset, &Value, sizeof Value);
    }
    // A complex value in the precision's format.
    void PutComplex(int Precision, std::int32_t Offset, double Re, double Im) {
        if (Precision == 0) {
            Put<double>(Offset, Re);
            Put<double>(Offset + 8, Im);
        } else {
            Put<long double>(Offset, Re);
            Put<long double>(Offset + 16, Im);
        }
    }
    long double GetPart(int Precision, std::int32_t Offset) const {
        return Precision == 0 ? Get<double>(Offset) : Get<long double>(Offset);
    }
};

std::uint32_t FloatBits(float Value) {
    std::uint32_t bits;
    std::memcpy(&bits, &Value, sizeof bits);
    return bits;
}

void EmitVector(TCodeAssembler &Target, const std::vector<std::uint8_t> &Bytes) {
    Target.Emit(Bytes.data(), static_cast<std::int32_t>(Bytes.size()));
}

std::vector<std::uint8_t> BytesOf(const TCodeAssembler &Source) {
    return std::vector<std::uint8_t>(Source.GetCode(), Source.GetCode() + Source.GetSize());
}

std::vector<std::uint8_t> Concat(std::vector<std::uint8_t> A, const std::vector<std::uint8_t> &B) {
    A.insert(A.end(), B.begin(), B.end());
    return A;
}

// inc dword [esi + Offset]
std::vector<std::uint8_t> IncrementField(std::int32_t Offset) {
    std::vector<std::uint8_t> code = {0xFF, 0x86};
    for (int i = 0; i < 4; ++i)
        code.push_back(static_cast<std::uint8_t>(Offset >> (8 * i)));
    return code;
}

// mov eax, esi; mov ecx, Function; call ecx: a call of a C++ helper with the context.
std::vector<std::uint8_t> CallWithContext(const void *Function) {
    const auto address = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(Function));
    std::vector<std::uint8_t> code = {0x89, 0xF0, 0xB9};
    for (int i = 0; i < 4; ++i)
        code.push_back(static_cast<std::uint8_t>(address >> (8 * i)));
    code.insert(code.end(), {0xFF, 0xD1});
    return code;
}

// The four coloring code blocks: each counts its calls in the context.
class TColoringStubs {
public:
    TColoringStubs() {
        const std::int32_t counters[4] = {cxInsideInitCount, cxOutsideInitCount, cxInsideFinalCount,
                                          cxOutsideFinalCount};
        for (int i = 0; i < 4; ++i) {
            EmitVector(FBlocks[i], IncrementField(counters[i]));
            FBlocks[i].EmitReturn();
        }
    }
    void Install(TContext &Context) const {
        Context.Put<const void *>(cxInsideInit, FBlocks[0].GetCode());
        Context.Put<const void *>(cxOutsideInit, FBlocks[1].GetCode());
        Context.Put<const void *>(cxInsideFinal, FBlocks[2].GetCode());
        Context.Put<const void *>(cxOutsideFinal, FBlocks[3].GetCode());
    }

private:
    TRoutineAssembler FBlocks[4];
};

struct TPixelParts {
    std::vector<std::uint8_t> Init, Loop, Bailout, ColoringLoop;
};

// The joined pixel routine: entry, data pointer, INIT, loop start, LOOP and BAILOUT, the bailout
// branch over the coloring loop code, the loop end, data pointer release, loop exit and exit.
void AssemblePixelRoutine(TRoutineAssembler &Routine, std::uint8_t Precision, const TPixelParts &Parts) {
    Routine.AssemblePixelRoutine(Precision, cxFormulaData, Parts.Init, Parts.Loop, Parts.Bailout,
                                 Parts.ColoringLoop);
}

// ---------------------------------------------------------------------------------------------
// Bodies

enum class TStep { Mandelbrot, Constant, Rotate, Negate, Count };

// z := pixel, written with the access emitters of the precision.
std::vector<std::uint8_t> EmitZFromPixel(int Precision) {
    const TPrecisionLayout &layout = Layouts[Precision];
    auto access = CreateProcessorAccess(Precision);
    access->LoadComplex(layout.Pixel, true);
    access->StoreComplexPop(layout.Z, true);
    return BytesOf(*access);
}

std::vector<std::uint8_t> EmitStep(int Precision, TStep Step) {
    const TPrecisionLayout &layout = Layouts[Precision];
    auto access = CreateProcessorAccess(Precision);
    switch (Step) {
    case TStep::Mandelbrot:
        access->LoadComplex(layout.Z, true);
        access->EmitFunction(FunctionSqr, vtComplex, vtComplex);
        access->LoadComplex(layout.Pixel, true);
        access->EmitOperator(opAdd, 2, vtComplex, vtComplex, vtComplex);
        break;
    case TStep::Constant:
        access->LoadComplex(layout.Pixel, true);
        break;
    case TStep::Rotate:
        access->LoadComplex(layout.Z, true);
        access->EmitFunction(fnTimesI, vtComplex, vtComplex);
        break;
    case TStep::Negate:
        access->LoadComplex(layout.Z, true);
        access->EmitUnaryOperator(uoNegate, vtComplex, vtComplex);
        break;
    case TStep::Count:
        access->LoadComplex(layout.Z, true);
        access->LoadComplex(layout.Pixel, true);
        access->EmitOperator(opAdd, 2, vtComplex, vtComplex, vtComplex);
        break;
    }
    access->StoreComplexPop(layout.Z, true);
    return BytesOf(*access);
}

// al := |z|^2 < the bail-out value at the start of the data block.
std::vector<std::uint8_t> EmitBailout(int Precision) {
    auto access = CreateProcessorAccess(Precision);
    access->LoadComplex(Layouts[Precision].Z, true);
    access->EmitUnaryOperator(uoModulus, vtComplex, vtFloat);
    access->LoadReal(0, false);
    access->EmitOperator(opLess, 2, vtBoolean, vtFloat, vtFloat);
    return BytesOf(*access);
}

void PutBailoutValue(TContext &Context, int Precision, double Value) {
    if (Precision == 0)
        std::memcpy(Context.Data, &Value, sizeof Value);
    else {
        const long double value = Value;
        std::memcpy(Context.Data, &value, 10);
    }
}

// ---------------------------------------------------------------------------------------------
// The model: the iteration protocol in plain C++ over exactly representable values.

struct TModelInput {
    TStep Step;
    double PixelRe, PixelIm;
    double Bailout; // |z|^2 must stay below it
    std::int32_t MaxIter;
    std::uint32_t Threshold, Mask;
    std::int32_t SavesLeft, SavesPerStep;
    float Tolerance;
    bool StopFlag;
};

struct TModelResult {
    std::int32_t IterationsDone = 0;
    bool Inside = false;
    std::int32_t ColoringLoops = 0;
    std::uint32_t Mask = 0;
    std::int32_t SavesLeft = 0;
    double SavedRe = 0, SavedIm = 0, ZRe = 0, ZIm = 0;
};

bool Near(double A, double B, float Tolerance) {
    return FloatBits(static_cast<float>(std::fabs(A - B))) <= FloatBits(Tolerance);
}

// HugeRule: the arbitrary-precision test reloads the save countdown when it drops to 0 or below,
// the machine-code tests when it reaches exactly 0.
TModelResult RunModel(const TModelInput &In, bool HugeRule) {
    TModelResult r;
    r.Mask = In.Mask;
    r.SavesLeft = In.SavesLeft;
    double zr = In.PixelRe, zi = In.PixelIm;
    std::uint32_t counter = static_cast<std::uint32_t>(In.MaxIter);
    for (;;) {
        switch (In.Step) {
        case TStep::Mandelbrot: {
            const double re = zr * zr - zi * zi + In.PixelRe;
            zi = 2 * zr * zi + In.PixelIm;
            zr = re;
            break;
        }
        case TStep::Constant:
            zr = In.PixelRe;
            zi = In.PixelIm;
            break;
        case TStep::Rotate: {
            const double re = -zi;
            zi = zr;
            zr = re;
            break;
        }
        case TStep::Negate:
            zr = -zr;
            zi = -zi;
            break;
        case TStep::Count:
            zr += In.PixelRe;
            zi += In.PixelIm;
            break;
        }
        if (!(zr * zr + zi * zi < In.Bailout))
            break;
        ++r.ColoringLoops;
        if (counter < In.Threshold) {
            if ((counter & r.Mask) != 0) {
                if (Near(zr, r.SavedRe, In.Tolerance) && Near(zi, r.SavedIm, In.Tolerance)) {
                    counter = 0;
                    break;
                }
            } else {
                r.SavedRe = zr;
                r.SavedIm = zi;
                --r.SavesLeft;
                if (HugeRule ? r.SavesLeft <= 0 : r.SavesLeft == 0) {
                    r.Mask = r.Mask * 2 + 1;
                    r.SavesLeft = In.SavesPerStep;
                }
            }
        }
        if (In.StopFlag)
            break;
        if (--counter == 0)
            break;
    }
    r.IterationsDone = In.MaxIter - static_cast<std::int32_t>(counter);
    r.Inside = counter == 0;
    r.ZRe = zr;
    r.ZIm = zi;
    return r;
}

void PrepareContext(TContext &Context, int Precision, const TModelInput &In) {
    Context.Put<std::uint32_t>(cxThreshold, In.Threshold);
    Context.Put<std::uint32_t>(cxMask, In.Mask);
    Context.Put<std::int32_t>(cxSavesLeft, In.SavesLeft);
    Context.Put<std::int32_t>(cxSavesPerStep, In.SavesPerStep);
    Context.Put<float>(cxTolerance, In.Tolerance);
    Context.Put<std::int32_t>(cxMaxIter, In.MaxIter);
    Context.Put<std::uint8_t>(cxStopFlag, In.StopFlag ? 1 : 0);
    if (Precision < 2) {
        Context.PutComplex(Precision, Layouts[Precision].Pixel, In.PixelRe, In.PixelIm);
        PutBailoutValue(Context, Precision, In.Bailout);
    }
}

// ---------------------------------------------------------------------------------------------
// Arbitrary precision: the body is a call into C++, which steps the context's huge z.

constexpr int HugeDigits = 30;
constexpr std::int32_t cxHugeZ = 0xA8, cxHugeSavedZ = 0xB0, cxHugeInput = 0x220;

// The test's arbitrary-precision numbers and the model input the helper reads.
struct THugeState {
    THugeFloat ZRe{HugeDigits}, ZIm{HugeDigits}, SavedRe{HugeDigits}, SavedIm{HugeDigits};
    TModelInput Input{};
    void Install(TContext &Context) {
        Context.Put<THugeFloatBase *>(cxHugeZ, &ZRe);
        Context.Put<THugeFloatBase *>(cxHugeZ + 4, &ZIm);
        Context.Put<THugeFloatBase *>(cxHugeSavedZ, &SavedRe);
        Context.Put<THugeFloatBase *>(cxHugeSavedZ + 4, &SavedIm);
        Context.Put<THugeState *>(cxHugeInput, this);
        ZRe.SetExtended(Input.PixelRe);
        ZIm.SetExtended(Input.PixelIm);
    }
};

extern "C" __attribute__((regparm(1))) std::uint8_t HugeTestStep(void *Context) noexcept {
    try {
        std::uint8_t *bytes = static_cast<std::uint8_t *>(Context);
        THugeState *state;
        std::memcpy(&state, bytes + cxHugeInput, sizeof state);
        const TModelInput &in = state->Input;
        const long double zr = state->ZRe.GetExtended(), zi = state->ZIm.GetExtended();
        long double re = zr, im = zi;
        switch (in.Step) {
        case TStep::Mandelbrot:
            re = zr * zr - zi * zi + in.PixelRe;
            im = 2 * zr * zi + in.PixelIm;
            break;
        case TStep::Constant:
            re = in.PixelRe;
            im = in.PixelIm;
            break;
        case TStep::Rotate:
            re = -zi;
            im = zr;
            break;
        case TStep::Negate:
            re = -zr;
            im = -zi;
            break;
        case TStep::Count:
            re = zr + in.PixelRe;
            im = zi + in.PixelIm;
            break;
        }
        state->ZRe.SetExtended(re);
        state->ZIm.SetExtended(im);
        return re * re + im * im < in.Bailout ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

// ---------------------------------------------------------------------------------------------
// Pieces with computed values

TEST(RoutineAssemblerPieces, EntryAndExitKeepTheirLengthsAndEmbedTheFormulaControlWord) {
    TRoutineAssembler routine;
    routine.EmitEntry();
    ASSERT_EQ(routine.GetSize(), RoutineEntrySize);
    const std::uint8_t *code = routine.GetCode();
    // The caller's word is stored into the context before the reset, then the formula word loads.
    const std::vector<std::uint8_t> head(code, code + 21);
    const std::vector<std::uint8_t> expected = {0x53, 0x56, 0x55, 0x89, 0xC6, 0x89, 0xD5,
                                                0x9B, 0x9B, 0xD9, 0xBE, 0x94, 0x00, 0x00,
                                                0x00, 0x9B, 0xDB, 0xE3, 0x9B, 0xD9, 0x2D};
    EXPECT_EQ(head, expected);
    std::uint32_t address;
    std::memcpy(&address, code + 21, 4);
    EXPECT_EQ(*reinterpret_cast<const std::uint16_t *>(static_cast<std::uintptr_t>(address)), 0x137F);

    routine.Clear();
    routine.EmitExit();
    EXPECT_EQ(BytesOf(routine), (std::vector<std::uint8_t>{0x9B, 0xDB, 0xE2, 0x9B, 0xD9, 0xAE, 0x94, 0x00,
                                                           0x00, 0x00, 0x5D, 0x5E, 0x5B, 0xC3}));
}

TEST(RoutineAssemblerPieces, JumpDistancesFollowThePrecision) {
    struct TCase {
        std::uint8_t Precision;
        std::int32_t LoopEndSize;
    };
    const TCase cases[] = {{0, 153}, {1, 177}, {2, 35}};
    for (const TCase &c : cases) {
        SCOPED_TRACE(testing::Message() << "precision " << int(c.Precision));
        EXPECT_EQ(RoutineLoopEndSize(c.Precision), c.LoopEndSize);
        TRoutineAssembler routine;
        routine.Precision = c.Precision;
        routine.EmitBailoutBranch(40);
        ASSERT_EQ(routine.GetSize(), RoutineBailoutBranchSize);
        std::int32_t rel;
        std::memcpy(&rel, routine.GetCode() + 4, 4);
        EXPECT_EQ(rel, 40 + c.LoopEndSize);

        routine.Clear();
        routine.EmitLoopEnd(300);
        ASSERT_EQ(routine.GetSize(), c.LoopEndSize);
        std::memcpy(&rel, routine.GetCode() + c.LoopEndSize - 4, 4);
        EXPECT_EQ(rel, -(300 + 8 + c.LoopEndSize));
        // Each loop end closes with the stop-flag test and the counted jump back.
        const std::uint8_t *tail = routine.GetCode() + c.LoopEndSize - 16;
        EXPECT_EQ(std::vector<std::uint8_t>(tail, tail + 12),
                  (std::vector<std::uint8_t>{0x80, 0xBE, 0x98, 0, 0, 0, 0, 0x75, 0x07, 0x4B, 0x0F, 0x85}));
    }
    TRoutineAssembler huge;
    huge.Precision = 2;
    huge.EmitLoopEnd(0);
    std::uint32_t address;
    std::memcpy(&address, huge.GetCode() + 7, 4);
    EXPECT_EQ(address, static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(&HugePeriodicityCheck)));
}

// The loop ends as they were first counted out by hand, up to the closing rel32; the pieces are now
// emitted through labels and must keep every byte.
TEST(RoutineAssemblerPieces, LoopEndsKeepTheirBytes) {
    const std::vector<std::uint8_t> doubleLoopEnd = {
        0x3B, 0x1E, 0x0F, 0x83, 0x81, 0x00, 0x00, 0x00, 0x85, 0x5E, 0x04, 0x74, 0x3B, 0xDD, 0x86, 0xB0, 0x00,
        0x00, 0x00, 0xDD, 0x86, 0xC0, 0x00, 0x00, 0x00, 0xDE, 0xE9, 0x8B, 0x46, 0x14, 0xD9, 0xE1, 0xD9, 0x5C,
        0x24, 0xFC, 0x39, 0x44, 0x24, 0xFC, 0x77, 0x5F, 0xDD, 0x86, 0xB8, 0x00, 0x00, 0x00, 0xDD, 0x86, 0xC8,
        0x00, 0x00, 0x00, 0xDE, 0xE9, 0xD9, 0xE1, 0xD9, 0x5C, 0x24, 0xFC, 0x39, 0x44, 0x24, 0xFC, 0x77, 0x45,
        0x31, 0xDB, 0xEB, 0x51, 0x8B, 0x86, 0xB0, 0x00, 0x00, 0x00, 0x8B, 0x96, 0xB4, 0x00, 0x00, 0x00, 0x89,
        0x86, 0xC0, 0x00, 0x00, 0x00, 0x89, 0x96, 0xC4, 0x00, 0x00, 0x00, 0x8B, 0x86, 0xB8, 0x00, 0x00, 0x00,
        0x8B, 0x96, 0xBC, 0x00, 0x00, 0x00, 0x89, 0x86, 0xC8, 0x00, 0x00, 0x00, 0x89, 0x96, 0xCC, 0x00, 0x00,
        0x00, 0xFF, 0x4E, 0x08, 0x75, 0x0C, 0x8B, 0x46, 0x10, 0xD1, 0x66, 0x04, 0xFF, 0x46, 0x04, 0x89, 0x46,
        0x08, 0x80, 0xBE, 0x98, 0x00, 0x00, 0x00, 0x00, 0x75, 0x07, 0x4B, 0x0F, 0x85,
    };
    const std::vector<std::uint8_t> extendedLoopEnd = {
        0x3B, 0x1E, 0x0F, 0x83, 0x99, 0x00, 0x00, 0x00, 0x85, 0x5E, 0x04, 0x74, 0x3B, 0xDB, 0xAE, 0xC0,
        0x00, 0x00, 0x00, 0xDB, 0xAE, 0xE0, 0x00, 0x00, 0x00, 0xDE, 0xE9, 0x8B, 0x46, 0x14, 0xD9, 0xE1,
        0xD9, 0x5C, 0x24, 0xFC, 0x39, 0x44, 0x24, 0xFC, 0x77, 0x77, 0xDB, 0xAE, 0xD0, 0x00, 0x00, 0x00,
        0xDB, 0xAE, 0xF0, 0x00, 0x00, 0x00, 0xDE, 0xE9, 0xD9, 0xE1, 0xD9, 0x5C, 0x24, 0xFC, 0x39, 0x44,
        0x24, 0xFC, 0x77, 0x5D, 0x31, 0xDB, 0xEB, 0x69, 0x8B, 0x86, 0xC0, 0x00, 0x00, 0x00, 0x8B, 0x96,
        0xC4, 0x00, 0x00, 0x00, 0x89, 0x86, 0xE0, 0x00, 0x00, 0x00, 0x8B, 0x86, 0xC8, 0x00, 0x00, 0x00,
        0x89, 0x96, 0xE4, 0x00, 0x00, 0x00, 0x89, 0x86, 0xE8, 0x00, 0x00, 0x00, 0x8B, 0x86, 0xD0, 0x00,
        0x00, 0x00, 0x8B, 0x96, 0xD4, 0x00, 0x00, 0x00, 0x89, 0x86, 0xF0, 0x00, 0x00, 0x00, 0x8B, 0x86,
        0xD8, 0x00, 0x00, 0x00, 0x89, 0x96, 0xF4, 0x00, 0x00, 0x00, 0x89, 0x86, 0xF8, 0x00, 0x00, 0x00,
        0xFF, 0x4E, 0x08, 0x75, 0x0C, 0x8B, 0x46, 0x10, 0xD1, 0x66, 0x04, 0xFF, 0x46, 0x04, 0x89, 0x46,
        0x08, 0x80, 0xBE, 0x98, 0x00, 0x00, 0x00, 0x00, 0x75, 0x07, 0x4B, 0x0F, 0x85,
    };
    const std::vector<std::uint8_t> *expected[2] = {&doubleLoopEnd, &extendedLoopEnd};
    for (std::uint8_t precision = 0; precision < 2; ++precision) {
        SCOPED_TRACE(testing::Message() << "precision " << int(precision));
        TRoutineAssembler routine;
        routine.Precision = precision;
        routine.EmitLoopEnd(100);
        const std::vector<std::uint8_t> bytes = BytesOf(routine);
        ASSERT_EQ(bytes.size(), expected[precision]->size() + 4);
        EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin(), bytes.end() - 4), *expected[precision]);
    }
    TRoutineAssembler huge;
    huge.Precision = 2;
    huge.EmitLoopEnd(100);
    std::vector<std::uint8_t> bytes = BytesOf(huge);
    ASSERT_EQ(bytes.size(), 35u);
    std::fill(bytes.begin() + 7, bytes.begin() + 11, 0); // the helper's address
    bytes.resize(31);
    EXPECT_EQ(bytes,
              (std::vector<std::uint8_t>{0x3B, 0x1E, 0x73, 0x0F, 0x89, 0xD9, 0xBB, 0,    0,    0,    0,
                                         0x89, 0xE8, 0x89, 0xF2, 0xFF, 0xD3, 0x89, 0xC3, 0x80, 0xBE, 0x98,
                                         0,    0,    0,    0,    0x75, 0x07, 0x4B, 0x0F, 0x85}));

    TRoutineAssembler pieces;
    pieces.EmitLoopStart();
    pieces.EmitLoopExit();
    EXPECT_EQ(BytesOf(pieces),
              (std::vector<std::uint8_t>{0xFF, 0x56, 0x3C, 0xFF, 0x56, 0x48, 0x8B, 0x5E, 0x34, 0x8B,
                                         0x46, 0x34, 0x29, 0xD8, 0x89, 0x46, 0x38, 0x09, 0xDB, 0x74,
                                         0x05, 0xFF, 0x56, 0x50, 0xEB, 0x03, 0xFF, 0x56, 0x44}));
}

// A joined routine is the same whether its jumps come from labels or from counted sizes.
TEST(RoutineAssemblerPieces, LabelledAndCountedJoinsAgree) {
    const std::vector<std::uint8_t> init = {0x90, 0x90}, loop(70, 0x90), bailout = {0xB0, 0x01},
                                    coloring(130, 0x90), recording = {0x90, 0x90, 0x90};
    for (std::uint8_t precision = 0; precision < 3; ++precision) {
        TRoutineAssembler joined;
        joined.AssemblePixelRoutine(precision, 0x6C, init, loop, bailout, coloring, recording);
        TRoutineAssembler counted;
        counted.Precision = precision;
        counted.EmitEntry();
        counted.EmitPushData(0x6C);
        counted.Emit(init.data(), 2);
        counted.Emit(recording.data(), 3);
        counted.EmitLoopStart();
        counted.Emit(loop.data(), 70);
        counted.Emit(bailout.data(), 2);
        counted.EmitBailoutBranch(133);
        counted.Emit(coloring.data(), 130);
        counted.Emit(recording.data(), 3);
        counted.EmitLoopEnd(70 + 2 + 133);
        counted.EmitPopData();
        counted.EmitLoopExit();
        counted.EmitExit();
        EXPECT_EQ(BytesOf(joined), BytesOf(counted)) << "precision " << int(precision);
    }
}

TEST(CodeLabels, PatchForwardAndBackwardJumps) {
    TCodeAssembler code;
    TCodeLabel ahead, back;
    code.PlaceLabel(back);
    code.Emit("\x90", 1);
    code.EmitJumpTo({0xEB}, ahead, 1); // forward, patched later
    code.EmitJumpTo({0xE9}, ahead, 4);
    code.EmitJumpTo({0x0F, 0x85}, back, 4); // backward, known at once
    code.PlaceLabel(ahead);
    EXPECT_EQ(BytesOf(code), (std::vector<std::uint8_t>{0x90, 0xEB, 0x0B, 0xE9, 0x06, 0, 0, 0, 0x0F, 0x85,
                                                        0xF2, 0xFF, 0xFF, 0xFF}));

    TCodeAssembler distant;
    TCodeLabel target;
    distant.EmitJumpTo({0xEB}, target, 1);
    const std::vector<std::uint8_t> filler(200, 0x90);
    distant.Emit(filler.data(), 200);
    EXPECT_THROW(distant.PlaceLabel(target), EInternalCompilerError);
    TCodeLabel twice;
    distant.PlaceLabel(twice);
    EXPECT_THROW(distant.PlaceLabel(twice), EInternalCompilerError);
}

TEST(RoutineAssemblerPieces, SmallPiecesCarryTheirOperands) {
    TRoutineAssembler routine;
    routine.EmitPushData(0x74);
    routine.EmitLoopStart();
    routine.EmitPopData();
    routine.EmitLoopExit();
    routine.EmitReturn();
    EXPECT_EQ(routine.GetSize(), RoutinePushDataSize + RoutineLoopStartSize + RoutinePopDataSize +
                                     RoutineLoopExitSize + RoutineReturnSize);
    EXPECT_EQ(std::vector<std::uint8_t>(routine.GetCode(), routine.GetCode() + 7),
              (std::vector<std::uint8_t>{0x57, 0x8B, 0xBE, 0x74, 0x00, 0x00, 0x00}));
}

// ---------------------------------------------------------------------------------------------
// Memory

class TMemoryProbe : public TRoutineAssembler {
public:
    using TRoutineAssembler::FreeCode;
};

TEST(RoutineAssemblerMemory, CodeStaysExecutableWhenTheBufferGrows) {
    TRoutineAssembler routine;
    routine.EmitReturn();
    const std::uint8_t *first = routine.GetCode();
    MEMORY_BASIC_INFORMATION info{};
    ASSERT_NE(VirtualQuery(first, &info, sizeof info), 0u);
    EXPECT_EQ(info.State, static_cast<DWORD>(MEM_COMMIT));
    EXPECT_EQ(info.Protect, static_cast<DWORD>(PAGE_EXECUTE_READWRITE));

    const std::vector<std::uint8_t> filler(5000, 0x90);
    EmitVector(routine, filler);
    ASSERT_EQ(routine.GetCapacity(), 8192);
    ASSERT_NE(VirtualQuery(routine.GetCode(), &info, sizeof info), 0u);
    EXPECT_EQ(info.Protect, static_cast<DWORD>(PAGE_EXECUTE_READWRITE));
    EXPECT_EQ(routine.GetCode()[0], 0xC3); // moved along with the buffer
}

TEST(RoutineAssemblerMemory, AnEmptyRoutineIsNeverCalled) {
    TContext context;
    TRoutineAssembler routine;
    routine.Execute(context.Bytes, nullptr); // no buffer at all

    // A complete routine that marks the context, then emptied: the old bytes must not run.
    routine.EmitEntry();
    EmitVector(routine, IncrementField(cxRecordedWord));
    routine.EmitExit();
    routine.Execute(context.Bytes, nullptr);
    ASSERT_EQ(context.Get<std::int32_t>(cxRecordedWord), 1);
    routine.Clear();
    routine.Execute(context.Bytes, nullptr);
    EXPECT_EQ(context.Get<std::int32_t>(cxRecordedWord), 1);
}

TEST(RoutineAssemblerMemory, ReleasingForeignMemoryRaisesTheSystemError) {
    TMemoryProbe probe;
    static std::uint8_t notCode[16];
    try {
        probe.FreeCode(notCode);
        FAIL() << "no exception";
    } catch (const ECodeMemoryError &error) {
        EXPECT_NE(error.ErrorCode(), 0u);
        EXPECT_NE(error.Message().find("System Error.  Code: "), std::string::npos);
    }
}

// ---------------------------------------------------------------------------------------------
// Entry and exit around the caller's FPU state and registers

TEST(RoutineAssemblerEntry, RestoresTheCallersControlWordAndRegisters) {
    // fnstcw [esi + cxRecordedWord]; mov ebx, -1; mov edi, -1; mov ebp, -1: a body that uses
    // every register the routine must keep.
    std::vector<std::uint8_t> body = {0xD9, 0xBE, cxRecordedWord & 0xFF, cxRecordedWord >> 8, 0, 0};
    body.insert(body.end(),
                {0xBB, 0xFF, 0xFF, 0xFF, 0xFF, 0xBF, 0xFF, 0xFF, 0xFF, 0xFF, 0xBD, 0xFF, 0xFF, 0xFF, 0xFF});
    TRoutineAssembler routine;
    routine.EmitEntry();
    routine.EmitPushData(cxFormulaData);
    EmitVector(routine, body);
    routine.EmitPopData();
    routine.EmitExit();

    // Masked exceptions, with precision and rounding other than the formula mode's.
    const std::uint16_t callerWords[] = {0x027F, 0x037F, 0x0F7F, 0x077F, 0x007F};
    for (const std::uint16_t word : callerWords) {
        SCOPED_TRACE(testing::Message() << "caller word " << std::hex << word);
        TContext context;
        std::uint16_t before = 0;
        __asm__ volatile("fnstcw %0" : "=m"(before));
        __asm__ volatile("fldcw %0" ::"m"(word));
        std::uint32_t ebx = 0x11111111, esi = 0x22222222, edi = 0x33333333, ebp = 0;
        void *eax = context.Bytes;
        std::uint32_t edx = 0;
        const std::uint8_t *ecx = routine.GetCode();
        __asm__ volatile("push %%ebp\n\t"
                         "mov $0x44444444, %%ebp\n\t"
                         "call *%%ecx\n\t"
                         "mov %%ebp, %%ecx\n\t"
                         "pop %%ebp"
                         : "+a"(eax), "+c"(ecx), "+d"(edx), "+b"(ebx), "+S"(esi), "+D"(edi)
                         :
                         : "memory", "cc", "st", "st(1)", "st(2)", "st(3)", "st(4)", "st(5)", "st(6)",
                           "st(7)");
        ebp = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(ecx));
        std::uint16_t after = 0;
        __asm__ volatile("fnstcw %0" : "=m"(after));
        __asm__ volatile("fldcw %0" ::"m"(before));

        EXPECT_EQ(after, word);
        EXPECT_EQ(context.Get<std::uint16_t>(cxSavedControlWord), word);
        EXPECT_EQ(context.Get<std::uint16_t>(cxRecordedWord), 0x137F);
        EXPECT_EQ(ebx, 0x11111111u);
        EXPECT_EQ(esi, 0x22222222u);
        EXPECT_EQ(edi, 0x33333333u);
        EXPECT_EQ(ebp, 0x44444444u);
    }
}

// ---------------------------------------------------------------------------------------------
// Whole pixel routines

// A Mandelbrot pixel routine (z := pixel, then z := z^2 + pixel while |z|^2 < 4) over a small
// grid, compared with the iteration counts of a C++ loop that rounds as the x87 code does.
struct TMandelbrotCase {
    std::uint8_t Precision;
    int Padding; // no-op bytes in the loop and coloring code: far jumps and a grown buffer
};

void PrintTo(const TMandelbrotCase &Case, std::ostream *Out) {
    *Out << "precision " << int(Case.Precision) << ", padding " << Case.Padding;
}

class MandelbrotRoutine : public testing::TestWithParam<TMandelbrotCase> {};

// Iterations done and inside/outside of the reference, with x87 rounding: extended products
// and sums, each z rounded to the precision's storage format.
void ReferenceMandelbrot(int Precision, double Cr, double Ci, std::int32_t MaxIter, std::int32_t &Done,
                         bool &Inside, std::int32_t &Rounds) {
    long double zr = Cr, zi = Ci;
    const long double cr = Cr, ci = Ci;
    std::int32_t counter = MaxIter;
    Rounds = 0;
    for (;;) {
        long double re = zr * zr - zi * zi + cr;
        long double im = (zr + zr) * zi + ci;
        if (Precision == 0) {
            // Through memory, so that the value really is rounded to a double as the store does.
            volatile double storedRe = static_cast<double>(re), storedIm = static_cast<double>(im);
            re = storedRe;
            im = storedIm;
        }
        zr = re;
        zi = im;
        if (!(zr * zr + zi * zi < 4.0L))
            break;
        ++Rounds;
        if (--counter == 0)
            break;
    }
    Done = MaxIter - counter;
    Inside = counter == 0;
}

TEST_P(MandelbrotRoutine, IterationCountsMatchTheReference) {
    const TMandelbrotCase param = GetParam();
    const int precision = param.Precision;
    const std::vector<std::uint8_t> padding(static_cast<std::size_t>(param.Padding), 0x90);
    TPixelParts parts;
    parts.Init = EmitZFromPixel(precision);
    parts.Loop = Concat(padding, EmitStep(precision, TStep::Mandelbrot));
    parts.Bailout = EmitBailout(precision);
    parts.ColoringLoop = Concat(padding, IncrementField(cxColoringLoops));
    TRoutineAssembler routine;
    AssemblePixelRoutine(routine, param.Precision, parts);
    TColoringStubs colorings;

    constexpr int Width = 24, Height = 16;
    constexpr std::int32_t MaxIter = 60;
    int insideCount = 0;
    std::uint16_t saved;
    for (int y = 0; y < Height; ++y)
        for (int x = 0; x < Width; ++x) {
            const double cr = -2.25 + 3.0 * x / Width, ci = -1.2 + 2.4 * y / Height;
            SCOPED_TRACE(testing::Message() << "pixel " << x << "," << y);
            TContext context;
            colorings.Install(context);
            TModelInput in{TStep::Mandelbrot, cr, ci, 4.0, MaxIter, 0, 1, 1, 4, 0.0f, false};
            PrepareContext(context, precision, in);
            routine.Execute(context.Bytes, nullptr);

            std::int32_t done, rounds;
            bool inside;
            SetFormulaFPUControl(saved);
            ReferenceMandelbrot(precision, cr, ci, MaxIter, done, inside, rounds);
            RestoreFPUControl(saved);
            insideCount += inside;
            ASSERT_EQ(context.Get<std::int32_t>(cxIterationsDone), done);
            ASSERT_EQ(context.Get<std::int32_t>(cxColoringLoops), rounds);
            ASSERT_EQ(context.Get<std::int32_t>(cxInsideFinalCount), inside ? 1 : 0);
            ASSERT_EQ(context.Get<std::int32_t>(cxOutsideFinalCount), inside ? 0 : 1);
            ASSERT_EQ(context.Get<std::int32_t>(cxInsideInitCount), 1);
            ASSERT_EQ(context.Get<std::int32_t>(cxOutsideInitCount), 1);
        }
    // The grid covers both kinds of pixel.
    EXPECT_GT(insideCount, 0);
    EXPECT_LT(insideCount, Width * Height);
}

INSTANTIATE_TEST_SUITE_P(Precisions, MandelbrotRoutine,
                         testing::Values(TMandelbrotCase{0, 0}, TMandelbrotCase{1, 0},
                                         TMandelbrotCase{0, 3000}, TMandelbrotCase{1, 3000}),
                         [](const testing::TestParamInfo<TMandelbrotCase> &info) {
                             return std::string(info.param.Precision == 0 ? "Double" : "Extended") +
                                    (info.param.Padding ? "FarJumps" : "");
                         });

// The loop protocol against the model, in every precision.
struct TProtocolCase {
    const char *Name;
    TModelInput Input;
};

const TProtocolCase ProtocolCases[] = {
    // Counter and bailout.
    {"MaxIterReached", {TStep::Count, 0.25, 0, 1e9, 50, 0, 1, 1, 4, 0.0f, false}},
    {"BailoutAtFirstIteration", {TStep::Count, 1.5, 0, 4, 50, 0, 1, 1, 4, 0.0f, false}},
    {"BailoutLater", {TStep::Count, 0.5, 0.25, 4, 50, 0, 1, 1, 4, 0.0f, false}},
    {"StopFlagEndsAfterOneRound", {TStep::Count, 0.25, 0, 1e9, 50, 0xFFFFFFFF, 1, 1, 4, 0.0f, true}},
    // Periodicity window.
    {"ThresholdZeroNeverTests", {TStep::Constant, 0.5, 0.5, 1e9, 50, 0, 1, 1, 4, 1.0f, false}},
    {"ConstantFoundAtOnce", {TStep::Constant, 0.5, 0.5, 1e9, 50, 0xFFFFFFFF, 1, 1, 4, 0.0f, false}},
    {"ThresholdStartsTheTestLate", {TStep::Constant, 0.5, 0.5, 1e9, 50, 20, 1, 1, 4, 0.0f, false}},
    {"PeriodTwo", {TStep::Negate, 0.5, -0.75, 1e9, 200, 0xFFFFFFFF, 1, 1, 4, 0.0f, false}},
    {"PeriodFour", {TStep::Rotate, 0.5, -0.75, 1e9, 200, 0xFFFFFFFF, 9, 4, 4, 0.0f, false}},
    {"NeverPeriodicMaskGrowth", {TStep::Count, 1, 0, 1e9, 40, 31, 1, 1, 3, 0.0f, false}},
    {"NeverPeriodicLongRun", {TStep::Count, 1, 2, 1e12, 300, 0xFFFFFFFF, 9, 4, 4, 0.0f, false}},
    // Tolerance: steps of 1 are within 1.5 and never within 0.5.
    {"WithinTolerance", {TStep::Count, 1, 0, 1e9, 50, 0xFFFFFFFF, 1, 1, 4, 1.5f, false}},
    {"BeyondTolerance", {TStep::Count, 1, 0, 1e9, 50, 0xFFFFFFFF, 1, 1, 4, 0.5f, false}},
    {"RealEqualImaginaryApart", {TStep::Count, 0, 1, 1e9, 50, 0xFFFFFFFF, 1, 1, 4, 0.5f, false}},
};

// One pixel of a routine around the step body of the precision, with the context laid out as the
// model input says.
struct TPixelRun {
    TContext Context;
    THugeState Huge;
    THugeProcessor Processor{HugeDigits};

    long double Part(int Precision, std::int32_t Offset, std::int32_t Index,
                     const THugeFloat &HugeValue) const {
        if (Precision == 2)
            return HugeValue.GetExtended();
        return Context.GetPart(Precision, Offset + Index * Layouts[Precision].Part);
    }
    long double ZRe(int Precision) const { return Part(Precision, Layouts[Precision % 2].Z, 0, Huge.ZRe); }
    long double ZIm(int Precision) const { return Part(Precision, Layouts[Precision % 2].Z, 1, Huge.ZIm); }
    long double SavedRe(int Precision) const {
        return Part(Precision, Layouts[Precision % 2].SavedZ, 0, Huge.SavedRe);
    }
    long double SavedIm(int Precision) const {
        return Part(Precision, Layouts[Precision % 2].SavedZ, 1, Huge.SavedIm);
    }
};

// The pixel routine around the step body of the precision; in arbitrary precision the body is
// the C++ step, which takes its step kind from the context.
void AssembleProtocolRoutine(TRoutineAssembler &Routine, int Precision, TStep Step) {
    TPixelParts parts;
    if (Precision < 2) {
        parts.Init = EmitZFromPixel(Precision);
        parts.Loop = EmitStep(Precision, Step);
        parts.Bailout = EmitBailout(Precision);
    } else {
        parts.Loop = CallWithContext(reinterpret_cast<const void *>(&HugeTestStep));
    }
    parts.ColoringLoop = IncrementField(cxColoringLoops);
    AssemblePixelRoutine(Routine, static_cast<std::uint8_t>(Precision), parts);
}

void ExecuteProtocolPixel(const TRoutineAssembler &Routine, const TColoringStubs &Colorings, int Precision,
                          const TModelInput &In, TPixelRun &Run) {
    if (Precision == 2) {
        Run.Huge.Input = In;
        Run.Huge.Install(Run.Context);
    }
    Colorings.Install(Run.Context);
    PrepareContext(Run.Context, Precision, In);
    Routine.Execute(Run.Context.Bytes, Precision == 2 ? &Run.Processor : nullptr);
}

void RunProtocolPixel(int Precision, const TModelInput &In, TPixelRun &Run) {
    TRoutineAssembler routine;
    AssembleProtocolRoutine(routine, Precision, In.Step);
    TColoringStubs colorings;
    ExecuteProtocolPixel(routine, colorings, Precision, In, Run);
}

void PrintTo(const TProtocolCase &Case, std::ostream *Out) {
    *Out << Case.Name;
}

class LoopProtocol : public testing::TestWithParam<std::tuple<int, TProtocolCase>> {};

TEST_P(LoopProtocol, FollowsTheModel) {
    const int precision = std::get<0>(GetParam());
    const TModelInput &in = std::get<1>(GetParam()).Input;
    const TModelResult expected = RunModel(in, precision == 2);
    TPixelRun run;
    RunProtocolPixel(precision, in, run);
    const TContext &context = run.Context;

    EXPECT_EQ(context.Get<std::int32_t>(cxIterationsDone), expected.IterationsDone);
    EXPECT_EQ(context.Get<std::int32_t>(cxColoringLoops), expected.ColoringLoops);
    EXPECT_EQ(context.Get<std::int32_t>(cxInsideFinalCount), expected.Inside ? 1 : 0);
    EXPECT_EQ(context.Get<std::int32_t>(cxOutsideFinalCount), expected.Inside ? 0 : 1);
    EXPECT_EQ(context.Get<std::uint32_t>(cxMask), expected.Mask);
    EXPECT_EQ(context.Get<std::int32_t>(cxSavesLeft), expected.SavesLeft);
    EXPECT_EQ(run.ZRe(precision), expected.ZRe);
    EXPECT_EQ(run.ZIm(precision), expected.ZIm);
    EXPECT_EQ(run.SavedRe(precision), expected.SavedRe);
    EXPECT_EQ(run.SavedIm(precision), expected.SavedIm);
    if (precision == 2) {
        EXPECT_FALSE(run.Processor.Failed());
        EXPECT_EQ(run.Processor.Top(), THugeProcessor::RegisterCount); // the test leaves the stack empty
    }
}

using TProtocolParam = std::tuple<int, TProtocolCase>;

std::string ProtocolCaseName(const testing::TestParamInfo<TProtocolParam> &Info) {
    static const char *const names[] = {"Double", "Extended", "Huge"};
    return std::string(names[std::get<0>(Info.param)]) + "_" + std::get<1>(Info.param).Name;
}

INSTANTIATE_TEST_SUITE_P(AllPrecisions, LoopProtocol,
                         testing::Combine(testing::Values(0, 1, 2), testing::ValuesIn(ProtocolCases)),
                         ProtocolCaseName);

// With mask 1 and one save per mask step, the first reference is taken at the first even counter
// below the threshold and each later one at the next multiple of the grown mask plus one: with
// threshold 31 and 40 iterations at counters 30, 28, 24 and 16, leaving the mask at 31. z counts
// up by 1 from 1, so after the round at counter c it is 42 - c.
TEST(LoopProtocolWindow, EachSaveDoublesTheMask) {
    const TModelInput in{TStep::Count, 1, 0, 1e9, 40, 31, 1, 1, 1, 0.0f, false};
    for (int precision = 0; precision < 3; ++precision) {
        SCOPED_TRACE(testing::Message() << "precision " << precision);
        TPixelRun run;
        RunProtocolPixel(precision, in, run);
        EXPECT_EQ(run.Context.Get<std::uint32_t>(cxMask), 31u);
        EXPECT_EQ(run.SavedRe(precision), 42 - 16);
        EXPECT_EQ(run.Context.Get<std::int32_t>(cxIterationsDone), 40);
    }
}

// Several threads run one routine at once, each with its own context (and processor): the code
// keeps no state of its own, so every pixel still follows the model.
struct TThreadWork {
    const TRoutineAssembler *Routine;
    const TColoringStubs *Colorings;
    int Precision;
    std::vector<TModelInput> Inputs;
    int Mismatches = 0;
    HANDLE Done;
};

DWORD WINAPI RunThreadWork(void *Parameter) {
    auto *work = static_cast<TThreadWork *>(Parameter);
    for (int round = 0; round < 20; ++round)
        for (const TModelInput &in : work->Inputs) {
            const TModelResult expected = RunModel(in, work->Precision == 2);
            auto run = std::make_unique<TPixelRun>();
            ExecuteProtocolPixel(*work->Routine, *work->Colorings, work->Precision, in, *run);
            if (run->Context.Get<std::int32_t>(cxIterationsDone) != expected.IterationsDone ||
                run->Context.Get<std::uint32_t>(cxMask) != expected.Mask ||
                run->SavedRe(work->Precision) != expected.SavedRe ||
                run->ZRe(work->Precision) != expected.ZRe)
                ++work->Mismatches;
        }
    SetEvent(work->Done);
    return 0;
}

TEST(RoutineAssemblerThreads, SeveralThreadsRunOneRoutine) {
    for (int precision = 0; precision < 3; ++precision) {
        SCOPED_TRACE(testing::Message() << "precision " << precision);
        TRoutineAssembler routine;
        AssembleProtocolRoutine(routine, precision, TStep::Count);
        TColoringStubs colorings;
        constexpr int ThreadCount = 4;
        std::unique_ptr<TThreadWork> works[ThreadCount];
        HANDLE threads[ThreadCount] = {};
        for (int t = 0; t < ThreadCount; ++t) {
            works[t] = std::make_unique<TThreadWork>();
            TThreadWork &work = *works[t];
            work.Routine = &routine;
            work.Colorings = &colorings;
            work.Precision = precision;
            work.Done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
            // Each thread its own mix: periodic within the tolerance, never periodic, bailing out.
            for (int i = 0; i < 6; ++i)
                work.Inputs.push_back(TModelInput{TStep::Count, 1.0 + t, 0.5 * i, i % 3 == 2 ? 4000.0 : 1e9,
                                                  40 + 7 * i, i % 2 ? 0xFFFFFFFFu : 25u, 1, 1 + t % 2, 3,
                                                  i == 1 ? 10.0f : 0.0f, false});
            threads[t] = CreateThread(nullptr, 0, RunThreadWork, &work, 0, nullptr);
            ASSERT_NE(threads[t], nullptr);
        }
        for (int t = 0; t < ThreadCount; ++t) {
            EXPECT_EQ(WaitForSingleObject(works[t]->Done, 60000), WAIT_OBJECT_0);
            WaitForSingleObject(threads[t], 60000);
            CloseHandle(threads[t]);
            CloseHandle(works[t]->Done);
            EXPECT_EQ(works[t]->Mismatches, 0) << "thread " << t;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Stop flag from another thread

struct TStopRun {
    TRoutineAssembler *Routine;
    TContext *Context;
    HANDLE Running;
    HANDLE Finished;
    volatile LONG Signalled;
};

TStopRun *CurrentStopRun = nullptr;

// Called by generated code on every round: tells the test once that the code is running.
extern "C" __attribute__((regparm(1))) void SignalRunning(void *) noexcept {
    TStopRun *run = CurrentStopRun;
    if (run && InterlockedExchange(&run->Signalled, 1) == 0)
        SetEvent(run->Running);
}

DWORD WINAPI RunRoutine(void *Parameter) {
    auto *run = static_cast<TStopRun *>(Parameter);
    run->Routine->Execute(run->Context->Bytes, nullptr);
    SetEvent(run->Finished);
    return 0;
}

struct TStopCase {
    const char *Name;
    bool EndlessWhile; // else an endless iteration loop
};

void PrintTo(const TStopCase &Case, std::ostream *Out) {
    *Out << Case.Name;
}

class StopFlag : public testing::TestWithParam<TStopCase> {};

TEST_P(StopFlag, EndsARunningLoop) {
    // WHILE true: signal; stop check; ENDWHILE, as the generator lays it out.
    std::vector<std::uint8_t> loop;
    if (GetParam().EndlessWhile) {
        auto access = CreateProcessorAccess(0);
        access->LoadBoolImmediate(1);
        const std::int32_t condition = access->GetPosition();
        access->EmitJumpIfFalse(0);
        EmitVector(*access, CallWithContext(reinterpret_cast<const void *>(&SignalRunning)));
        const std::int32_t stopCheck = access->GetPosition();
        const std::int32_t exitPosition = stopCheck + 9 + 5;
        const std::uint8_t check[9] = {
            0x80, 0xBE, 0x98, 0, 0, 0, 0, 0x75, static_cast<std::uint8_t>(exitPosition - stopCheck - 9)};
        access->Emit(check, 9);
        access->EmitJump(-access->GetPosition());
        access->SetPosition(condition);
        access->EmitJumpIfFalse(exitPosition - condition);
        loop = BytesOf(*access);
    } else {
        loop = CallWithContext(reinterpret_cast<const void *>(&SignalRunning));
    }
    TPixelParts parts;
    parts.Loop = loop;
    parts.Bailout = {0xB0, 0x01}; // mov al, 1: never bails out
    TRoutineAssembler routine;
    AssemblePixelRoutine(routine, 0, parts);
    TColoringStubs colorings;
    TContext context;
    colorings.Install(context);
    context.Put<std::int32_t>(cxMaxIter, -1); // 2^32 - 1 rounds

    TStopRun run{&routine, &context, CreateEventA(nullptr, TRUE, FALSE, nullptr),
                 CreateEventA(nullptr, TRUE, FALSE, nullptr), 0};
    CurrentStopRun = &run;
    HANDLE thread = CreateThread(nullptr, 0, RunRoutine, &run, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(WaitForSingleObject(run.Running, 10000), WAIT_OBJECT_0);
    *reinterpret_cast<volatile std::uint8_t *>(context.Bytes + cxStopFlag) = 1;
    const DWORD finished = WaitForSingleObject(run.Finished, 10000);
    if (finished != WAIT_OBJECT_0)
        TerminateThread(thread, 1); // the loop did not stop; do not leave it spinning
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    CloseHandle(run.Running);
    CloseHandle(run.Finished);
    CurrentStopRun = nullptr;
    ASSERT_EQ(finished, WAIT_OBJECT_0);
    // Stopped, not finished: the pixel counts as outside.
    EXPECT_EQ(context.Get<std::int32_t>(cxOutsideFinalCount), 1);
    EXPECT_EQ(context.Get<std::int32_t>(cxInsideFinalCount), 0);
}

INSTANTIATE_TEST_SUITE_P(Loops, StopFlag,
                         testing::Values(TStopCase{"EndlessWhile", true},
                                         TStopCase{"EndlessIteration", false}),
                         [](const testing::TestParamInfo<TStopCase> &info) { return info.param.Name; });

} // namespace
