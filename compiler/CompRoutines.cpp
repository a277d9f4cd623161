#include "CompRoutines.h"

#include <atomic>
#include <cstring>

#include "CompMessages.h"
#include "GenColor.h"

// One row of a template table: start, length, StackUse.
struct TRoutineEntry {
    const std::uint8_t *Start;
    std::int32_t Length;
    std::int32_t StackUse;
};

// Tables and constants of the template files.
extern "C" const TRoutineEntry CompRoutineTable[153];
extern "C" const TRoutineEntry CompColorRoutineTable[38];
extern "C" const TRoutineEntry CompConversionTable[6];
extern "C" long double CompConstLog2E, CompConstLn2, CompConstLn2Half, CompConstPiHalf, CompConstMinusPiHalf,
    CompConstPi, CompConstMinusPi;

namespace {

const TRoutineEntry *FindRoutine(int Routine) {
    if (Routine >= 1 && Routine <= 153)
        return &CompRoutineTable[Routine - 1];
    if (Routine >= 154 && Routine <= 191)
        return &CompColorRoutineTable[Routine - 154];
    if (Routine >= 192 && Routine <= 197)
        return &CompConversionTable[Routine - 192];
    return nullptr;
}

std::atomic<TGradientColorFunction> GradientColorFunction{nullptr};
TRoutineFormulaInfo FormulaInfo;

// Helpers that templates call may run while formula values occupy x87 registers, which the C++
// code around them knows nothing of: the whole FPU state is saved (fnsave also empties the
// registers) and restored on the way out.
class TFPUStateGuard {
public:
    TFPUStateGuard() { __asm__ volatile("fnsave %0" : "=m"(FState)::"memory"); }
    ~TFPUStateGuard() { __asm__ volatile("frstor %0" ::"m"(FState) : "memory"); }
    TFPUStateGuard(const TFPUStateGuard &) = delete;
    TFPUStateGuard &operator=(const TFPUStateGuard &) = delete;

private:
    std::uint8_t FState[108];
};

std::string *&PrintLine(void *Context) {
    return *reinterpret_cast<std::string **>(static_cast<std::uint8_t *>(Context) + pcPrintLine);
}

bool Stopped(void *Context) {
    return *(static_cast<volatile std::uint8_t *>(Context) + pcStopFlag) != 0;
}

TCompilePosition UnpackPosition(std::int32_t Position) {
    const auto packed = static_cast<std::uint32_t>(Position);
    return {static_cast<std::int32_t>(packed >> 16), static_cast<std::int32_t>(packed & 0xFFFF)};
}

void PostOutput(const TObject *Formula, std::int32_t Position, std::uint8_t Kind, const std::string &Text) {
    TErrorManager *manager = ErrorManager();
    if (!manager)
        return;
    std::string entryName, fileName;
    if (FormulaInfo.GetNames)
        FormulaInfo.GetNames(Formula, entryName, fileName);
    manager->AddOutput(Formula, UnpackPosition(Position), Kind, Text, entryName, fileName);
}

void TruncatePrint(void *Context) noexcept {
    std::string *&line = PrintLine(Context);
    delete line;
    line = nullptr;
}

} // namespace

void AppendPrintLine(void *Context, const std::string &Text) {
    std::string *&line = PrintLine(Context);
    if (!line)
        line = new std::string;
    line->append(Text);
}

// ---------------------------------------------------------------------------------------------
// Helpers called from templates. None lets an exception out: a failure loses the output only.

#define ROUTINE_HELPER extern "C" __attribute__((regparm(3), stdcall))

ROUTINE_HELPER void CompPrintComplexHelper(void *Context, long double Imag, long double Real) noexcept
    __asm__("CompPrintComplexHelper");
ROUTINE_HELPER void CompPrintComplexHelper(void *Context, long double Imag, long double Real) noexcept {
    TFPUStateGuard guard;
    try {
        AppendPrintLine(Context, Format("(%Lg, %Lg)", Real, Imag));
    } catch (...) {
    }
}

ROUTINE_HELPER void CompPrintFloatHelper(void *Context, long double Value) noexcept
    __asm__("CompPrintFloatHelper");
ROUTINE_HELPER void CompPrintFloatHelper(void *Context, long double Value) noexcept {
    TFPUStateGuard guard;
    try {
        AppendPrintLine(Context, Format("%Lg", Value));
    } catch (...) {
    }
}

ROUTINE_HELPER void CompPrintIntHelper(void *Context, std::int32_t Value) noexcept
    __asm__("CompPrintIntHelper");
ROUTINE_HELPER void CompPrintIntHelper(void *Context, std::int32_t Value) noexcept {
    TFPUStateGuard guard;
    try {
        AppendPrintLine(Context, Format("%d", Value));
    } catch (...) {
    }
}

ROUTINE_HELPER void CompPrintBoolHelper(void *Context, std::int32_t Value) noexcept
    __asm__("CompPrintBoolHelper");
ROUTINE_HELPER void CompPrintBoolHelper(void *Context, std::int32_t Value) noexcept {
    TFPUStateGuard guard;
    try {
        // A bool lives in al; the rest of eax is not part of it.
        AppendPrintLine(Context, (Value & 0xFF) ? "true" : "false");
    } catch (...) {
    }
}

ROUTINE_HELPER void CompPrintColorHelper(void *Context, const float *Color) noexcept
    __asm__("CompPrintColorHelper");
ROUTINE_HELPER void CompPrintColorHelper(void *Context, const float *Color) noexcept {
    TFPUStateGuard guard;
    try {
        AppendPrintLine(Context, Format("(%g, %g, %g, %g)", static_cast<double>(Color[0]),
                                        static_cast<double>(Color[1]), static_cast<double>(Color[2]),
                                        static_cast<double>(Color[3])));
    } catch (...) {
    }
}

ROUTINE_HELPER void CompPrintStringHelper(void *Context, const TObject *Formula, std::int32_t Index) noexcept
    __asm__("CompPrintStringHelper");
ROUTINE_HELPER void CompPrintStringHelper(void *Context, const TObject *Formula,
                                          std::int32_t Index) noexcept {
    TFPUStateGuard guard;
    try {
        if (FormulaInfo.GetPrintString)
            AppendPrintLine(Context, FormulaInfo.GetPrintString(Formula, Index));
    } catch (...) {
    }
}

ROUTINE_HELPER void CompPrintEndHelper(void *Context, const TObject *Formula, std::int32_t Position) noexcept
    __asm__("CompPrintEndHelper");
ROUTINE_HELPER void CompPrintEndHelper(void *Context, const TObject *Formula,
                                       std::int32_t Position) noexcept {
    TFPUStateGuard guard;
    try {
        if (!Stopped(Context)) {
            std::string *line = PrintLine(Context);
            PostOutput(Formula, Position, okPrint, line ? *line : std::string());
        }
    } catch (...) {
    }
    TruncatePrint(Context);
}

void ReportRuntimeError(void *Context, const TObject *Formula, std::int32_t Code,
                        std::int32_t Position) noexcept {
    TFPUStateGuard guard;
    try {
        if (!Stopped(Context))
            PostOutput(Formula, Position, static_cast<std::uint8_t>(Code), GetRuntimeErrorText(Code));
    } catch (...) {
    }
}

// Colour helpers: the x87 stack is free when they run (their routines' StackUse reserves it).

extern "C" __attribute__((regparm(1))) void CompHSLHelper(float *Color) noexcept __asm__("CompHSLHelper");
extern "C" __attribute__((regparm(1))) void CompHSLHelper(float *Color) noexcept {
    float red, green, blue;
    HSLToRGBFloat(Color[0], Color[1], Color[2], red, green, blue);
    Color[0] = red;
    Color[1] = green;
    Color[2] = blue;
}

namespace {

TFloatColor ToColor(const float *Color) {
    return {Color[0], Color[1], Color[2], Color[3]};
}

// Writes red, green and blue of an HSL colour over Layer; its alpha stays.
void StoreHSL(float *Layer, float H, float S, float L) {
    HSLToRGBFloat(H, S, L, Layer[0], Layer[1], Layer[2]);
}

float Clamp01(float X) {
    return X < 0 ? 0 : (X > 1 ? 1 : X);
}

} // namespace

extern "C" __attribute__((regparm(1))) float CompHueHelper(const float *Color) noexcept
    __asm__("CompHueHelper");
extern "C" __attribute__((regparm(1))) float CompHueHelper(const float *Color) noexcept {
    return RGBToHueFloat(ToColor(Color));
}

extern "C" __attribute__((regparm(1))) float CompSaturationHelper(const float *Color) noexcept
    __asm__("CompSaturationHelper");
extern "C" __attribute__((regparm(1))) float CompSaturationHelper(const float *Color) noexcept {
    float s, l;
    RGBToSaturationLightness(ToColor(Color), s, l);
    return s;
}

extern "C" __attribute__((regparm(1))) float CompLightnessHelper(const float *Color) noexcept
    __asm__("CompLightnessHelper");
extern "C" __attribute__((regparm(1))) float CompLightnessHelper(const float *Color) noexcept {
    float s, l;
    RGBToSaturationLightness(ToColor(Color), s, l);
    return l;
}

// Merge helpers: Colors[0..3] is the base, Colors[4..7] the layer, which receives the result.

extern "C" __attribute__((regparm(1))) void CompMergeHueHelper(float *Colors) noexcept
    __asm__("CompMergeHueHelper");
extern "C" __attribute__((regparm(1))) void CompMergeHueHelper(float *Colors) noexcept {
    float h, s, l;
    RGBToHSLFloat(ToColor(Colors), h, s, l);
    StoreHSL(Colors + 4, RGBToHueFloat(ToColor(Colors + 4)), s, l);
}

extern "C" __attribute__((regparm(1))) void CompMergeSaturationHelper(float *Colors) noexcept
    __asm__("CompMergeSaturationHelper");
extern "C" __attribute__((regparm(1))) void CompMergeSaturationHelper(float *Colors) noexcept {
    float h, s, l, layerS, layerL;
    RGBToHSLFloat(ToColor(Colors), h, s, l);
    RGBToSaturationLightness(ToColor(Colors + 4), layerS, layerL);
    StoreHSL(Colors + 4, h, layerS, l);
}

extern "C" __attribute__((regparm(1))) void CompMergeColorHelper(float *Colors) noexcept
    __asm__("CompMergeColorHelper");
extern "C" __attribute__((regparm(1))) void CompMergeColorHelper(float *Colors) noexcept {
    float h, s, l, layerH, layerS, layerL;
    RGBToHSLFloat(ToColor(Colors), h, s, l);
    RGBToHSLFloat(ToColor(Colors + 4), layerH, layerS, layerL);
    StoreHSL(Colors + 4, layerH, layerS, l);
}

extern "C" __attribute__((regparm(1))) void CompMergeLuminanceHelper(float *Colors) noexcept
    __asm__("CompMergeLuminanceHelper");
extern "C" __attribute__((regparm(1))) void CompMergeLuminanceHelper(float *Colors) noexcept {
    float h, s, l, layerS, layerL;
    RGBToHSLFloat(ToColor(Colors), h, s, l);
    RGBToSaturationLightness(ToColor(Colors + 4), layerS, layerL);
    StoreHSL(Colors + 4, h, s, layerL);
}

extern "C" __attribute__((regparm(1))) void CompMergeHSLAddHelper(float *Colors) noexcept
    __asm__("CompMergeHSLAddHelper");
extern "C" __attribute__((regparm(1))) void CompMergeHSLAddHelper(float *Colors) noexcept {
    float h, s, l, layerH, layerS, layerL;
    RGBToHSLFloat(ToColor(Colors), h, s, l);
    RGBToHSLFloat(ToColor(Colors + 4), layerH, layerS, layerL);
    float hue = h + layerH;
    if (hue >= 6)
        hue -= 6;
    StoreHSL(Colors + 4, hue, Clamp01(s + layerS - 0.5f), Clamp01(l + layerL - 0.5f));
}

// Gradient lookup: mapper in eax, colour address in edx, the position on the stack (removed here).
extern "C" __attribute__((regparm(2), stdcall)) void CompGradientHelper(void *Mapper, float *Color,
                                                                        float Position) noexcept
    __asm__("CompGradientHelper");
extern "C" __attribute__((regparm(2), stdcall)) void CompGradientHelper(void *Mapper, float *Color,
                                                                        float Position) noexcept {
    Color[0] = Color[1] = Color[2] = Color[3] = 0;
    if (TGradientColorFunction function = GradientColorFunction.load()) {
        try {
            function(Mapper, Position, Color);
        } catch (...) {
        }
    }
}

// ---------------------------------------------------------------------------------------------

const std::uint8_t *RoutineAddress(int Routine) {
    const TRoutineEntry *entry = FindRoutine(Routine);
    return entry && entry->Length > 0 ? entry->Start : nullptr;
}

int RoutineLength(int Routine) {
    const TRoutineEntry *entry = FindRoutine(Routine);
    return entry ? entry->Length : 0;
}

int RoutineStackUse(int Routine) {
    const TRoutineEntry *entry = FindRoutine(Routine);
    return entry ? entry->StackUse : 0;
}

void SetFormulaFPUControl(std::uint16_t &Saved) {
    std::uint16_t word = FormulaControlWord;
    __asm__ volatile("fnstcw %0\n\tfldcw %1" : "=m"(Saved) : "m"(word) : "memory");
}

void RestoreFPUControl(std::uint16_t Saved) {
    __asm__ volatile("fnclex\n\tfldcw %0" ::"m"(Saved) : "memory");
}

void DonePrintLine(void *Context) {
    if (Context)
        TruncatePrint(Context);
}

void SetRoutineFormulaInfo(const TRoutineFormulaInfo &Info) {
    FormulaInfo = Info;
}

void SetGradientColorFunction(TGradientColorFunction Function) {
    GradientColorFunction.store(Function);
}

void InitializeCompRoutines() {
    long double log2e, ln2, pi;
    __asm__ volatile("fldl2e" : "=t"(log2e));
    __asm__ volatile("fldln2" : "=t"(ln2));
    __asm__ volatile("fldpi" : "=t"(pi));
    CompConstLog2E = log2e;
    CompConstLn2 = ln2;
    CompConstLn2Half = ln2 * 0.5L;
    CompConstPiHalf = pi * 0.5L;
    CompConstMinusPiHalf = -(pi * 0.5L);
    CompConstPi = pi;
    CompConstMinusPi = -pi;
    // What routine 1 does, once: a clean FPU state for the thread that starts the program.
    __asm__ volatile("finit" ::: "memory");
}

void FinalizeCompRoutines() {
    FormulaInfo = TRoutineFormulaInfo();
    GradientColorFunction.store(nullptr);
}
