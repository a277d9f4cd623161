#include "CompHugeRoutines.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <string>

#include "CompRoutines.h"
#include "GenColor.h"
#include "HugeFPU.h"

// Entry points written in assembly (CompHugeRoutines.S): they hand the context or the data block
// to the functions below, which the generated code cannot reach otherwise.
extern "C" {
extern const std::uint8_t CompHugeOldZThunk[] __asm__("CompHugeOldZThunk");
extern const std::uint8_t CompHugeArrayCopyThunk[] __asm__("CompHugeArrayCopyThunk");
extern const std::uint8_t CompHugePrintComplexThunk[] __asm__("CompHugePrintComplexThunk");
extern const std::uint8_t CompHugePrintFloatThunk[] __asm__("CompHugePrintFloatThunk");
extern const std::uint8_t CompHugeColorTimesThunk[] __asm__("CompHugeColorTimesThunk");
extern const std::uint8_t CompHugeColorDivideThunk[] __asm__("CompHugeColorDivideThunk");
extern const std::uint8_t CompHugeRGBThunk[] __asm__("CompHugeRGBThunk");
extern const std::uint8_t CompHugeRGBAThunk[] __asm__("CompHugeRGBAThunk");
extern const std::uint8_t CompHugeHSLThunk[] __asm__("CompHugeHSLThunk");
extern const std::uint8_t CompHugeHSLAThunk[] __asm__("CompHugeHSLAThunk");
extern const std::uint8_t CompHugeRedThunk[] __asm__("CompHugeRedThunk");
extern const std::uint8_t CompHugeGreenThunk[] __asm__("CompHugeGreenThunk");
extern const std::uint8_t CompHugeBlueThunk[] __asm__("CompHugeBlueThunk");
extern const std::uint8_t CompHugeHueThunk[] __asm__("CompHugeHueThunk");
extern const std::uint8_t CompHugeSaturationThunk[] __asm__("CompHugeSaturationThunk");
extern const std::uint8_t CompHugeLightnessThunk[] __asm__("CompHugeLightnessThunk");
extern const std::uint8_t CompHugeAlphaThunk[] __asm__("CompHugeAlphaThunk");
extern const std::uint8_t CompHugeInsideGradientThunk[] __asm__("CompHugeInsideGradientThunk");
extern const std::uint8_t CompHugeOutsideGradientThunk[] __asm__("CompHugeOutsideGradientThunk");
extern const std::uint8_t CompHugeBlendThunk[] __asm__("CompHugeBlendThunk");
extern const std::uint8_t CompHugeComposeThunk[] __asm__("CompHugeComposeThunk");
}

#define HUGE_THUNK_TARGET extern "C" __attribute__((regparm(3)))

HUGE_THUNK_TARGET void CompHugeOldZ(THugeProcessor *Processor, std::int32_t Index, void *Context) noexcept
    __asm__("CompHugeOldZ");
HUGE_THUNK_TARGET void CompHugePrintComplex(THugeProcessor *Processor, std::int32_t, void *Context) noexcept
    __asm__("CompHugePrintComplex");
HUGE_THUNK_TARGET void CompHugePrintFloat(THugeProcessor *Processor, std::int32_t, void *Context) noexcept
    __asm__("CompHugePrintFloat");
HUGE_THUNK_TARGET void CompHugeColorTimes(THugeProcessor *Processor, std::int32_t, float *Color) noexcept
    __asm__("CompHugeColorTimes");
HUGE_THUNK_TARGET void CompHugeColorDivide(THugeProcessor *Processor, std::int32_t, float *Color) noexcept
    __asm__("CompHugeColorDivide");
HUGE_THUNK_TARGET void CompHugeRGB(THugeProcessor *Processor, std::int32_t, float *Color) noexcept
    __asm__("CompHugeRGB");
HUGE_THUNK_TARGET void CompHugeRGBA(THugeProcessor *Processor, std::int32_t, float *Color) noexcept
    __asm__("CompHugeRGBA");
HUGE_THUNK_TARGET void CompHugeHSL(THugeProcessor *Processor, std::int32_t, float *Color) noexcept
    __asm__("CompHugeHSL");
HUGE_THUNK_TARGET void CompHugeHSLA(THugeProcessor *Processor, std::int32_t, float *Color) noexcept
    __asm__("CompHugeHSLA");
HUGE_THUNK_TARGET void CompHugeRed(THugeProcessor *Processor, std::int32_t, float *Color) noexcept
    __asm__("CompHugeRed");
HUGE_THUNK_TARGET void CompHugeGreen(THugeProcessor *Processor, std::int32_t, float *Color) noexcept
    __asm__("CompHugeGreen");
HUGE_THUNK_TARGET void CompHugeBlue(THugeProcessor *Processor, std::int32_t, float *Color) noexcept
    __asm__("CompHugeBlue");
HUGE_THUNK_TARGET void CompHugeHue(THugeProcessor *Processor, std::int32_t, float *Color) noexcept
    __asm__("CompHugeHue");
HUGE_THUNK_TARGET void CompHugeSaturation(THugeProcessor *Processor, std::int32_t, float *Color) noexcept
    __asm__("CompHugeSaturation");
HUGE_THUNK_TARGET void CompHugeLightness(THugeProcessor *Processor, std::int32_t, float *Color) noexcept
    __asm__("CompHugeLightness");
HUGE_THUNK_TARGET void CompHugeAlpha(THugeProcessor *Processor, std::int32_t, float *Color) noexcept
    __asm__("CompHugeAlpha");
HUGE_THUNK_TARGET void CompHugeBlend(THugeProcessor *Processor, std::int32_t, float *Color) noexcept
    __asm__("CompHugeBlend");
HUGE_THUNK_TARGET void CompHugeCompose(THugeProcessor *Processor, std::int32_t, float *Color) noexcept
    __asm__("CompHugeCompose");
HUGE_THUNK_TARGET void CompHugeGradient(THugeProcessor *Processor, void *Mapper, float *Color) noexcept
    __asm__("CompHugeGradient");
// The gradient lookup of the x87 routines (position as a stack argument it removes).
extern "C" __attribute__((regparm(2), stdcall)) void CompGradientHelper(void *Mapper, float *Color,
                                                                        float Position) noexcept
    __asm__("CompGradientHelper");
extern "C" void CompHugeArrayCopy(std::uint8_t *Data, std::int32_t Destination, std::int32_t Source,
                                  std::int32_t Count) noexcept __asm__("CompHugeArrayCopy");

namespace {

using TProc = THugeProcessor;

// ---------------------------------------------------------------------------------------------
// Building blocks. Stack pictures list ST(0) first; "+n" is the number of registers a block needs
// beyond what it starts with.

// [a, b, ..] -> [a^2 + b^2, a, b, ..]; +2.
void PushSquaredModulus(TProc &P) {
    P.LoadRegister(0);
    P.Square();
    P.LoadRegister(2);
    P.Square();
    P.AddPop(1);
}

// Parts beyond about 2^(32 x 2040) or below its reciprocal make a^2 + b^2 overflow or vanish,
// although the modulus itself, its root and its logarithm lie well within the range. Such a pair
// is scaled by 2^(-32 s), s the larger part's word exponent: exactly, as only the exponents change
// (a part that falls below the range becomes 0, negligible beside the other), and without changing
// the angle. The caller puts the scale back into its result. The pair in ST(First) and
// ST(First + 1) is scaled in place; returns s, 0 for a pair that needs no scaling.
std::int32_t ScaleToModulusRange(TProc &P, int First = 0) {
    TProcessorFloat &a = P.Register(First), &b = P.Register(First + 1);
    if (a.IsSpecial() || b.IsSpecial() || (a.IsZero() && b.IsZero()))
        return 0;
    const std::int32_t top = a.IsZero()   ? b.FExponent
                             : b.IsZero() ? a.FExponent
                                          : std::max(a.FExponent, b.FExponent);
    constexpr std::int32_t Limit = HugeMaxExponent / 2 - 8;
    if (top > -Limit && top < Limit)
        return 0;
    for (TProcessorFloat *part : {&a, &b}) {
        if (part->IsZero())
            continue;
        const std::int64_t exponent = static_cast<std::int64_t>(part->FExponent) - top;
        if (exponent < HugeMinExponent)
            part->SetZero(part->FSign);
        else
            part->FExponent = static_cast<std::int32_t>(exponent);
    }
    return top;
}

// Both parts of the complex value on top times 2^(-32 s), undoing a scaled divisor.
void UnscaleQuotient(TProc &P, std::int32_t S) {
    P.Register(0).MultiplyPowerOfTwo(-32 * S);
    P.Register(1).MultiplyPowerOfTwo(-32 * S);
}

// X := X + 32 s ln 2, the logarithm of the factor 2^(32 s) that ScaleToModulusRange took out.
void AddWordsLog(TProcessorFloat &X, std::int32_t S) {
    THugeTempHolder term(X);
    term->LoadLn2();
    term->MultiplyInteger(32 * S);
    X.Add(*term);
}

// [a, b, c, d] -> [c, d, a, b]
void SwapPairs(TProc &P) {
    P.Exchange(2);
    P.Exchange(1);
    P.Exchange(3);
    P.Exchange(1);
}

// ST(0) +/- 1 without a register: the processor's shared constant.
void AddOne(TProc &P, bool Subtract = false) {
    TProcessorFloat &top = P.Register(0);
    THugeFloatBase *one = top.GetOne();
    if (Subtract)
        top.Subtract(*one);
    else
        top.Add(*one);
    top.ReleaseConstant(one);
}

void PushPi(TProc &P) {
    P.LoadZero();
    P.Register(0).LoadPi();
}

// ST(0) - pi through a temporary of the processor's pool, without a register.
void SubtractPi(TProc &P) {
    TProcessorFloat &top = P.Register(0);
    THugeFloatOper *pi = top.GetTemp();
    pi->LoadPi();
    top.Subtract(*pi);
    top.ReleaseTemp(pi);
}

// Applies a real operation to both parts of the complex value on top.
template <class Operation> void BothParts(TProc &P, Operation Apply) {
    Apply();
    P.Exchange(1);
    Apply();
    P.Exchange(1);
}

// [x, ..] -> [sinh x, cosh x, ..]; +2. E = e^x; sinh = E/2 - 1/(2E), cosh = E/2 + 1/(2E). Below
// |x| = 1/2 the pair comes from m = e^x - 1 instead, with q = m / E: sinh = (m + q) / 2 and
// cosh = 1 + m q / 2 add terms of one sign, where E/2 - 1/(2E) from a rounded E would leave
// only rounding noise for a tiny x.
void SinhCoshPair(TProc &P) {
    if (P.Register(0).IsBelowHalf()) {
        P.ExpMinusOne();
        P.LoadRegister(0);
        AddOne(P);
        P.LoadRegister(1); // [m, E, m]
        P.Divide(1);
        P.StoreRegisterPop(1); // [q, m]
        P.LoadRegister(0);
        P.Multiply(2);
        P.DivideByTwo();
        AddOne(P);     // [cosh, q, m]
        P.Exchange(2); // [m, q, cosh]
        P.AddPop(1);
        P.DivideByTwo(); // [sinh, cosh]
        return;
    }
    P.Exp();
    P.LoadRegister(0);
    P.Reciprocal();
    P.DivideByTwo();
    P.Exchange(1);
    P.DivideByTwo(); // [E/2, 1/(2E)]
    P.LoadRegister(1);
    P.Add(1);         // [cosh, E/2, 1/(2E)]
    P.Exchange(2);    // [1/(2E), E/2, cosh]
    P.SubtractPop(1); // [sinh, cosh]
}

// [x, ..] -> [E/2, 1/(2E), ..]; +1.
void HalfExpPair(TProc &P) {
    P.Exp();
    P.LoadRegister(0);
    P.Reciprocal();
    P.DivideByTwo();
    P.Exchange(1);
    P.DivideByTwo();
}

// ---------------------------------------------------------------------------------------------
// Complex arithmetic; the left operand on top ([a, b, c, d] is (a + bi) op (c + di)).

void ComplexAdd(TProc &P) {
    P.AddPop(2);
    P.AddPop(2);
}

void ComplexSubtract(TProc &P) {
    P.SubtractRevPop(2);
    P.SubtractRevPop(2);
}

void ComplexSubtractReversed(TProc &P) {
    P.SubtractPop(2);
    P.SubtractPop(2);
}

// (ac - bd, ad + bc) with two registers beyond the operands.
void ComplexMultiply(TProc &P) {
    P.LoadRegister(0);
    P.Multiply(3); // [ac, a, b, c, d]
    P.Exchange(2); // [b, a, ac, c, d]
    P.LoadRegister(0);
    P.Multiply(5);    // [bd, b, a, ac, c, d]
    P.Exchange(1);    // [b, bd, a, ac, c, d]
    P.MultiplyPop(4); // [bd, a, ac, bc, d]
    P.SubtractPop(2); // [a, ac - bd, bc, d]
    P.MultiplyPop(3); // [ac - bd, bc, ad]
    P.Exchange(1);
    P.AddPop(2); // [ac - bd, ad + bc]
}

void ComplexNegate(TProc &P) {
    BothParts(P, [&] { P.Negate(); });
}

// (a + bi) / (c + di) = (a + bi)(c - di) / (c^2 + d^2); +2.
void ComplexDivide(TProc &P) {
    const std::int32_t scale = ScaleToModulusRange(P, 2);
    P.LoadRegister(2);
    P.Square();
    P.LoadRegister(4);
    P.Square();
    P.AddPop(1);   // [n, a, b, c, d]
    P.Exchange(3); // [c, a, b, n, d]
    P.Divide(3);
    P.Exchange(3); // [n, a, b, c/n, d]
    P.Exchange(4); // [d, a, b, c/n, n]
    P.Divide(4);
    P.Negate();
    P.Exchange(4); // [n, a, b, c/n, -d/n]
    P.Pop();
    ComplexMultiply(P);
    if (scale != 0)
        UnscaleQuotient(P, scale);
}

void ComplexDivideReversed(TProc &P) {
    SwapPairs(P);
    ComplexDivide(P);
}

void ComplexDuplicate(TProc &P) {
    P.LoadRegister(1);
    P.LoadRegister(1);
}

// (a^2 - b^2, 2ab); +1.
void ComplexSquare(TProc &P) {
    P.LoadRegister(1);
    P.Multiply(1);
    P.MultiplyByTwo(); // [2ab, a, b]
    P.Exchange(2);     // [b, a, 2ab]
    P.Square();
    P.Exchange(1);
    P.Square();          // [a^2, b^2, 2ab]
    P.SubtractRevPop(1); // [a^2 - b^2, 2ab]
}

void ComplexTimesI(TProc &P) { // (-b, a)
    P.Exchange(1);
    P.Negate();
}

void ComplexTimesMinusI(TProc &P) { // (b, -a)
    P.Negate();
    P.Exchange(1);
}

void ComplexHalve(TProc &P) {
    BothParts(P, [&] { P.DivideByTwo(); });
}

void ComplexTimesTwo(TProc &P) {
    BothParts(P, [&] { P.MultiplyByTwo(); });
}

// [y, x, ..] -> [the angle of (x, y), ..]. The angle of the origin is 0, as the x87 partial
// arctangent gives it, where the processor's would give pi/2.
void Angle(TProc &P) {
    if (P.Test() == 0) {
        P.Exchange(1);
        const bool origin = P.Test() == 0;
        P.Exchange(1);
        if (origin) {
            P.Pop();
            P.Pop();
            P.LoadZero();
            return;
        }
    }
    P.ArcTan2Pop();
}

// (ln(a^2 + b^2) / 2, atan2 (b, a)); +2.
void ComplexLog(TProc &P) {
    const std::int32_t scale = ScaleToModulusRange(P);
    PushSquaredModulus(P);
    P.Ln();
    P.DivideByTwo(); // [l, a, b]
    if (scale != 0)
        AddWordsLog(P.Register(0), scale);
    P.Exchange(2); // [b, a, l]
    Angle(P);      // [t, l]
    P.Exchange(1);
}

// e^a (cos b, sin b); +1.
void ComplexExp(TProc &P) {
    P.Exp();       // [E, b]
    P.Exchange(1); // [b, E]
    P.LoadRegister(0);
    P.Sin();
    P.Multiply(2); // [E sin b, b, E]
    P.Exchange(1);
    P.Cos();
    P.MultiplyPop(2); // [E sin b, E cos b]
    P.Exchange(1);
}

// sqrt |z| at half the angle; +2.
void ComplexSqrt(TProc &P) {
    const std::int32_t scale = ScaleToModulusRange(P);
    PushSquaredModulus(P);
    P.Sqrt();
    P.Sqrt(); // [r, a, b]
    if (scale != 0)
        P.Register(0).MultiplyPowerOfTwo(16 * scale);
    P.Exchange(2); // [b, a, r]
    Angle(P);      // [t, r]
    P.DivideByTwo();
    P.LoadRegister(0);
    P.Sin();
    P.Multiply(2); // [r sin, t, r]
    P.Exchange(2);
    P.Exchange(1); // [t, r, r sin]
    P.Cos();
    P.MultiplyPop(1); // [r cos, r sin]
}

// x - (2^31 - 1) in place, for deciding whether a saturated 32-bit result was exact.
void SubtractIntMax(TProcessorFloat &X) {
    THugeFloatOper *limit = X.GetTemp();
    limit->SetInteger(INT32_MAX);
    X.Subtract(*limit);
    X.ReleaseTemp(limit);
}

// x87 rounding semantics on a register that is about to be dropped: the floor of x + 0.5 (so
// -2.5 rounds to -2), computed exactly from the integer and fraction parts.
std::int32_t RoundHalfUp(TProcessorFloat &X) {
    const std::int32_t floor = X.Floor();
    if (floor == INT32_MIN && X.CompareInteger(INT32_MIN) < 0)
        return floor; // below -2^31 every result is -2^31 or the indefinite value, the same bits
    if (floor == INT32_MAX) {
        SubtractIntMax(X); // x >= 2^31 - 1: beyond the range from 2^31 - 0.5 on
        X.MultiplyByTwo();
        return X.CompareInteger(1) >= 0 ? INT32_MIN : INT32_MAX;
    }
    const bool negative = X.Sign() < 0;
    X.Frac(); // the fraction with the sign of x
    if (X.IsZero())
        return floor;
    bool up;
    if (!negative)
        up = X.Round() != 0; // fraction >= 0.5
    else if (X.Round() == 0)
        up = true; // |fraction| < 0.5, so floor's fraction 1 + f > 0.5
    else {
        X.MultiplyByTwo(); // |fraction| >= 0.5: exactly a half rounds up
        X.Frac();
        up = X.IsZero();
    }
    return up ? floor + 1 : floor;
}

enum TRounding { rdFloor, rdCeil, rdTrunc, rdRound };

// ST(0) rounded to a 32-bit integer as the x87 stores it: a result outside the 32-bit range, NaN
// and infinities give the integer indefinite 80000000h (the processor alone would saturate them,
// or give 0 for NaN). ST(0) is changed; the callers pop it.
template <TRounding Mode> std::int32_t RoundTop(TProc &P) {
    TProcessorFloat &x = P.Register(0);
    if (x.IsSpecial())
        return INT32_MIN;
    std::int32_t result;
    switch (Mode) {
    case rdFloor:
        result = x.Floor();
        break;
    case rdCeil:
        result = x.Ceil();
        break;
    case rdTrunc:
        result = x.Trunc();
        break;
    default:
        return RoundHalfUp(x);
    }
    // Below the range the saturated value is the indefinite value already; at the top it is either
    // exact or saturated.
    if (result != INT32_MAX)
        return result;
    SubtractIntMax(x);
    const bool beyond = Mode == rdCeil ? x.Sign() > 0 && !x.IsZero() : x.CompareInteger(1) >= 0;
    return beyond ? INT32_MIN : INT32_MAX;
}

template <TRounding Mode> void ComplexRounding(TProc &P) {
    const std::int32_t real = RoundTop<Mode>(P);
    P.Pop();
    const std::int32_t imag = RoundTop<Mode>(P);
    P.Pop();
    P.LoadInteger(imag);
    P.LoadInteger(real);
}

template <TRounding Mode> std::int32_t FloatRounding(TProc &P) {
    const std::int32_t value = RoundTop<Mode>(P);
    P.Pop();
    return value;
}

// z^w = exp (w log z), 0 when |z|^2 is 0; z on top; +2. The modulus is 0 exactly when both parts
// are (the square of a part far below 1 would vanish although the power need not); a NaN part
// is not 0, as the x87 test of the modulus finds.
void ComplexPower(TProc &P) {
    if (P.Register(0).IsZero() && P.Register(1).IsZero()) {
        for (int i = 0; i < 4; ++i)
            P.Pop();
        P.LoadZero();
        P.LoadZero();
        return;
    }
    ComplexLog(P);
    ComplexMultiply(P);
    ComplexExp(P);
}

void ComplexPowerReversed(TProc &P) {
    SwapPairs(P);
    ComplexPower(P);
}

// ---------------------------------------------------------------------------------------------
// Complex functions (z = a + bi on top); the formulas and branches of the x87 routines.

void ComplexSin(TProc &P) { // (sin a cosh b, cos a sinh b)
    P.Exchange(1);
    SinhCoshPair(P); // [sh, ch, a]
    P.LoadRegister(2);
    P.Cos();
    P.MultiplyPop(1);
    P.Exchange(2);
    P.Sin();
    P.MultiplyPop(1);
}

void ComplexSinh(TProc &P) { // (sinh a cos b, cosh a sin b)
    SinhCoshPair(P);         // [sh, ch, b]
    P.LoadRegister(2);
    P.Cos();
    P.MultiplyPop(1);
    P.Exchange(2);
    P.Sin();
    P.MultiplyPop(1);
    P.Exchange(1);
}

void ComplexCos(TProc &P) { // (cos a cosh b, -sin a sinh b)
    P.Exchange(1);
    SinhCoshPair(P); // [sh, ch, a]
    P.LoadRegister(2);
    P.Sin();
    P.MultiplyPop(1);
    P.Negate();
    P.Exchange(2);
    P.Cos();
    P.MultiplyPop(1);
}

void ComplexCosh(TProc &P) { // (cosh a cos b, sinh a sin b)
    SinhCoshPair(P);         // [sh, ch, b]
    P.LoadRegister(2);
    P.Sin();
    P.MultiplyPop(1);
    P.Exchange(2);
    P.Cos();
    P.MultiplyPop(1);
}

// The tangent family is computed without overflow, as the x87 routines do: with E = e^(-2|x|),
// [x, t] -> [Q, D, S] where Q = sign (x) (1 - E^2), S = 2E sin 2t and D = 1 + E^2 +/- 2E cos 2t,
// that is (sinh 2x, sin 2t, cosh 2x +/- cos 2t) all multiplied by 2E; a huge |x| gives the limits
// instead of infinity over infinity. The parts are formed from m = e^(-2|x|) - 1 without
// differences of nearly equal values, which would leave rounding noise for a tiny x or near a
// pole: Q = -sign (x) m (2 + m), S = 4E sin t cos t and D = m^2 + 4E w^2 with w = cos t (+) or
// sin t (-). +2.
template <bool Minus> void TangentParts(TProc &P) {
    const std::int32_t sign = P.Test();
    P.Abs();
    P.MultiplyByTwo();
    P.Negate();
    P.ExpMinusOne(); // [m, t]
    P.Exchange(1);
    P.LoadRegister(0);
    P.Sin();
    P.Exchange(1);
    P.Cos(); // [cos t, sin t, m]
    if (Minus)
        P.Exchange(1); // [w, v, m]: v the other one
    P.LoadRegister(2);
    AddOne(P);
    P.MultiplyByTwo();
    P.MultiplyByTwo(); // [4E, w, v, m]
    P.Multiply(1);
    P.Exchange(1);
    P.Multiply(1); // [4E w^2, 4E w, v, m]
    P.Exchange(2);
    P.MultiplyPop(1); // [S, 4E w^2, m]
    P.Exchange(2);
    P.LoadRegister(0);
    P.Square();
    P.AddPop(2); // [m, D, S]
    P.LoadRegister(0);
    AddOne(P);
    AddOne(P);
    P.MultiplyPop(1);
    if (sign >= 0)
        P.Negate(); // [Q, D, S]
}

// [Q, D, S] -> [Q / D, S / D]
void DivideTangentParts(TProc &P) {
    P.Divide(1);
    P.Exchange(2);
    P.Divide(1);
    P.StoreRegisterPop(1);
    P.Exchange(1);
}

// tan and cotan: (sin 2a, +/-sinh 2b) / (cosh 2b +/- cos 2a).
template <bool Cotangent> void ComplexTan(TProc &P) {
    P.Exchange(1); // x = b, t = a
    TangentParts<Cotangent>(P);
    DivideTangentParts(P); // [sinh part, sin part]
    if (Cotangent)
        P.Negate();
    P.Exchange(1);
}

// tanh and cotanh: (sinh 2a, +/-sin 2b) / (cosh 2a +/- cos 2b).
template <bool Cotangent> void ComplexTanh(TProc &P) {
    TangentParts<Cotangent>(P);
    DivideTangentParts(P);
    if (Cotangent) {
        P.Exchange(1);
        P.Negate();
        P.Exchange(1);
    }
}

// [z] -> [z + sqrt (z^2 +/- 1)]; +4.
void AddRootOfSquarePlus(TProc &P, bool Minus) {
    ComplexDuplicate(P);
    ComplexSquare(P);
    AddOne(P, Minus);
    ComplexSqrt(P);
    ComplexAdd(P);
}

void ComplexArcSin(TProc &P) { // -i log (iz + sqrt (1 - z^2))
    ComplexDuplicate(P);
    ComplexTimesI(P);
    SwapPairs(P); // [z, iz]
    ComplexSquare(P);
    ComplexNegate(P);
    AddOne(P);
    ComplexSqrt(P);
    ComplexAdd(P);
    ComplexLog(P);
    ComplexTimesMinusI(P);
}

void ComplexArcSinh(TProc &P) { // log (z + sqrt (z^2 + 1))
    AddRootOfSquarePlus(P, false);
    ComplexLog(P);
}

void ComplexArcCos(TProc &P) { // -i log (z + sqrt (z^2 - 1))
    AddRootOfSquarePlus(P, true);
    ComplexLog(P);
    ComplexTimesMinusI(P);
}

void ComplexArcCosh(TProc &P) { // log (z + sqrt (z^2 - 1))
    AddRootOfSquarePlus(P, true);
    ComplexLog(P);
}

void ComplexArcTan(TProc &P) { // (i / 2) log ((1 - iz) / (1 + iz))
    ComplexTimesI(P);
    ComplexDuplicate(P);
    ComplexNegate(P);
    AddOne(P); // [1 - iz, iz]
    SwapPairs(P);
    AddOne(P);                // [1 + iz, 1 - iz]
    ComplexDivideReversed(P); // (1 - iz) / (1 + iz)
    ComplexLog(P);
    ComplexTimesI(P);
    ComplexHalve(P);
}

void ComplexArcTanh(TProc &P) { // (1 / 2) log ((1 + z) / (1 - z))
    ComplexDuplicate(P);
    AddOne(P); // [1 + z, z]
    SwapPairs(P);
    ComplexNegate(P);
    AddOne(P);                // [1 - z, 1 + z]
    ComplexDivideReversed(P); // (1 + z) / (1 - z)
    ComplexLog(P);
    ComplexHalve(P);
}

void ComplexCube(TProc &P) {
    ComplexDuplicate(P);
    ComplexSquare(P);
    ComplexMultiply(P);
}

void ComplexFourthPower(TProc &P) {
    ComplexSquare(P);
    ComplexSquare(P);
}

void ComplexAbs(TProc &P) {
    BothParts(P, [&] { P.Abs(); });
}

void ComplexModulusFloat(TProc &P) {
    P.Square();
    P.Exchange(1);
    P.Square();
    P.AddPop(1);
}

void ComplexCabs(TProc &P) {
    const std::int32_t scale = ScaleToModulusRange(P);
    ComplexModulusFloat(P);
    P.Sqrt();
    if (scale != 0)
        P.Register(0).MultiplyPowerOfTwo(32 * scale);
}

void ComplexCabsComplex(TProc &P) {
    ComplexCabs(P);
    P.LoadZero();
    P.Exchange(1);
}

// (a, -b) / (a^2 + b^2); +2.
void ComplexReciprocal(TProc &P) {
    const std::int32_t scale = ScaleToModulusRange(P);
    PushSquaredModulus(P); // [n, a, b]
    P.Exchange(1);
    P.Divide(1); // [a/n, n, b]
    P.Exchange(2);
    P.Divide(1);
    P.Negate(); // [-b/n, n, a/n]
    P.Exchange(1);
    P.Pop();
    P.Exchange(1);
    if (scale != 0)
        UnscaleQuotient(P, scale);
}

void ComplexConj(TProc &P) {
    P.Exchange(1);
    P.Negate();
    P.Exchange(1);
}

void ComplexReal(TProc &P) {
    P.StoreRegisterPop(1);
}

void ComplexImag(TProc &P) {
    P.Pop();
}

void ComplexFlip(TProc &P) {
    P.Exchange(1);
}

// atan2 of the x87 routine: real part as x, imaginary part as y, but an imaginary part of 0 with
// a real part of 0 or less gives -pi/2 (x = 0) or -pi (x < 0).
void ComplexArcTan2(TProc &P) {
    const std::int32_t x = P.Test();
    P.Exchange(1);
    const std::int32_t y = P.Test();
    if (y == 0 && x <= 0) {
        P.Pop();
        P.Pop();
        PushPi(P);
        P.Negate();
        if (x == 0)
            P.DivideByTwo();
        return;
    }
    P.ArcTan2Pop();
}

bool IsNaN(TProcessorFloat &Value) {
    return Value.IsSpecial() && std::isnan(Value.GetExtended());
}

bool Unordered(TProc &P, int I) {
    return IsNaN(P.Register(0)) || IsNaN(P.Register(I));
}

enum TComparison { cmLess, cmLessEqual, cmGreater, cmGreaterEqual, cmEqual, cmNotEqual };

// As the x87 routines decide, from the flags of the comparison: an unordered pair (a NaN operand)
// sets "equal" and "less" at once, so ==, < and <= hold and !=, > and >= do not. The processor's
// own comparison calls a NaN equal to everything, which would make >= hold too.
bool Decide(TComparison Kind, std::int32_t Order, bool Unordered) {
    const bool less = Unordered || Order < 0;
    const bool equal = Unordered || Order == 0;
    switch (Kind) {
    case cmLess:
        return less;
    case cmLessEqual:
        return less || equal;
    case cmGreater:
        return !less && !equal;
    case cmGreaterEqual:
        return !less;
    case cmEqual:
        return equal;
    default:
        return !equal;
    }
}

std::int32_t ComplexEqual(TProc &P) {
    const bool real = Decide(cmEqual, P.Compare(2), Unordered(P, 2));
    P.Exchange(1);
    const bool imag = Decide(cmEqual, P.Compare(3), Unordered(P, 3));
    for (int i = 0; i < 4; ++i)
        P.Pop();
    return real && imag;
}

std::int32_t ComplexNotEqual(TProc &P) {
    return !ComplexEqual(P);
}

// Real parts compared, both complex values popped.
template <TComparison Kind> std::int32_t ComplexCompare(TProc &P) {
    const bool unordered = Unordered(P, 2);
    const std::int32_t order = P.Compare(2);
    for (int i = 0; i < 4; ++i)
        P.Pop();
    return Decide(Kind, order, unordered);
}

template <TComparison Kind> std::int32_t FloatCompare(TProc &P) {
    const bool unordered = Unordered(P, 1);
    const std::int32_t order = P.Compare(1);
    P.Pop();
    P.Pop();
    return Decide(Kind, order, unordered);
}

// ---------------------------------------------------------------------------------------------
// Floats ([x, y] is x op y).

void PushComplexZero(TProc &P) {
    P.LoadZero();
    P.LoadZero();
}

void PushComplexOne(TProc &P) {
    P.LoadZero();
    P.LoadOne();
}

void PopComplex(TProc &P) {
    P.Pop();
    P.Pop();
}

void Reset(TProc &P) {
    P.Reset();
}
void PushZero(TProc &P) {
    P.LoadZero();
}
void PushOne(TProc &P) {
    P.LoadOne();
}
void Duplicate(TProc &P) {
    P.LoadRegister(0);
}
void PopFloat(TProc &P) {
    P.Pop();
}
void FloatAdd(TProc &P) {
    P.AddPop(1);
}
void FloatSubtract(TProc &P) {
    P.SubtractRevPop(1);
}
void FloatSubtractReversed(TProc &P) {
    P.SubtractPop(1);
}
void FloatMultiply(TProc &P) {
    P.MultiplyPop(1);
}
void FloatDivide(TProc &P) {
    P.DivideRevPop(1);
}
void FloatDivideReversed(TProc &P) {
    P.DividePop(1);
}

// The remainder with the sign of x, as the x87 partial remainder: x - n y with n = trunc (x / y).
// n is never narrowed to an integer type, so large quotients stay right; a quotient that the
// division left just beside an integer is put right by one step of y, so that |r| < |y| and r
// has the sign of x. +1.
void FloatModulo(TProc &P) {
    const std::int32_t signX = P.Test();
    P.LoadRegister(0);
    P.Divide(2); // [q, x, y]
    {
        TProcessorFloat &q = P.Register(0);
        THugeFloatOper *fraction = q.GetTemp();
        fraction->Assign(q);
        fraction->Frac();
        q.Subtract(*fraction); // n
        q.ReleaseTemp(fraction);
    }
    P.Multiply(2);
    P.SubtractPop(1); // [x - n y, y]
    if (signX != 0) {
        // y becomes s = |y| with the sign of x
        P.Exchange(1);
        P.Abs();
        if (signX < 0)
            P.Negate();
        P.Exchange(1);
        const std::int32_t signR = P.Test();
        if (signR != 0 && signR != signX)
            P.Add(1); // one y too many
        const std::int32_t order = P.Compare(1);
        if (signX > 0 ? order >= 0 : order <= 0) {
            P.SubtractRev(1); // one y too few: r - s
            P.Negate();
        }
    }
    P.StoreRegisterPop(1);
}

void FloatModuloReversed(TProc &P) {
    P.Exchange(1);
    FloatModulo(P);
}

// e^(y ln |x|), the sign of x ignored; 0^y = 0. +1 (none used).
void FloatPower(TProc &P) {
    if (P.Test() == 0) {
        P.Pop();
        P.Pop();
        P.LoadZero();
        return;
    }
    P.Abs();
    P.Ln();
    P.MultiplyPop(1);
    P.Exp();
}

void FloatPowerReversed(TProc &P) {
    P.Exchange(1);
    FloatPower(P);
}

void FloatNegate(TProc &P) {
    P.Negate();
}
void FloatSin(TProc &P) {
    P.Sin();
}
void FloatCos(TProc &P) {
    P.Cos();
}
// Outside -1 .. 1 the x87 formulas take the square root of a negative number: NaN.
bool OutsideUnitRange(TProc &P) {
    TProcessorFloat &x = P.Register(0);
    if (x.IsSpecial() || x.CompareInteger(1) > 0 || x.CompareInteger(-1) < 0) {
        x.SetNaN();
        return true;
    }
    return false;
}

void FloatArcSin(TProc &P) {
    if (!OutsideUnitRange(P))
        P.ArcSin();
}

// The x87 routine's atan (sqrt (1 - x^2) / x), in -pi/2 .. pi/2: the principal value less pi for
// negative x.
void FloatArcCos(TProc &P) {
    if (OutsideUnitRange(P))
        return;
    const std::int32_t sign = P.Test();
    P.ArcCos();
    if (sign < 0)
        SubtractPi(P);
}

// Below |x| = 1/2 from m = e^x - 1: sinh = m (1 + 1/E) / 2 with E = 1 + m, no cancellation.
void FloatSinh(TProc &P) {
    if (P.Register(0).IsBelowHalf()) {
        P.ExpMinusOne();
        P.LoadRegister(0);
        AddOne(P);
        P.Reciprocal();
        AddOne(P);
        P.MultiplyPop(1);
        P.DivideByTwo();
        return;
    }
    HalfExpPair(P);
    P.SubtractRevPop(1);
}

void FloatCosh(TProc &P) {
    HalfExpPair(P);
    P.AddPop(1);
}

// Below 1/8 the inverse hyperbolic functions take ln (1 + u) of a small u from LnOnePlus: the
// logarithm of a rounded 1 + u would leave rounding noise for a tiny argument.
bool IsBelowEighth(TProc &P) {
    return std::fabs(P.Register(0).GetExtended()) < 0.125L;
}

// ln |x + sqrt (x^2 +/- 1)|; +1. For a small x, asinh x = sign (x) ln (1 + u) with
// u = |x| + x^2 / (1 + sqrt (1 + x^2)), a sum of positive terms.
template <bool Minus> void FloatArcHyperbolic(TProc &P) {
    if (!Minus && IsBelowEighth(P)) {
        TProcessorFloat &x = P.Register(0);
        const bool negative = x.Sign() < 0;
        x.Abs();
        {
            THugeMathTempHolder square(x), root(x);
            square->Assign(x);
            square->Square();
            root->Assign(*square);
            root->AddInteger(1);
            root->Sqrt();
            root->AddInteger(1);
            square->Divide(*root);
            x.Add(*square);
        }
        P.LnOnePlus();
        if (negative)
            P.Negate();
        return;
    }
    P.LoadRegister(0);
    P.Square();
    AddOne(P, Minus);
    P.Sqrt();
    P.AddPop(1);
    P.Abs();
    P.Ln();
}

template <bool Cotangent> void FloatTan(TProc &P) {
    P.LoadRegister(0);
    P.Sin();
    P.Exchange(1);
    P.Cos(); // [cos, sin]
    if (Cotangent)
        P.DivideRevPop(1);
    else
        P.DividePop(1);
}

// sign (x) (1 - E) / (1 + E) with E = e^(-2|x|), and its inverse, as the x87 routines compute
// them: no overflow for large |x|. 1 - E and 1 + E are -m and 2 + m of m = e^(-2|x|) - 1, so
// that a tiny x keeps its digits. +1.
template <bool Cotangent> void FloatTanh(TProc &P) {
    const std::int32_t sign = P.Test();
    P.Abs();
    P.MultiplyByTwo();
    P.Negate();
    P.ExpMinusOne();
    P.LoadRegister(0);
    AddOne(P);
    AddOne(P); // [2 + m, m]
    P.Exchange(1);
    P.Negate(); // [1 - E, 1 + E]
    if (Cotangent)
        P.DividePop(1);
    else
        P.DivideRevPop(1);
    if (sign < 0)
        P.Negate();
}

void FloatArcTan(TProc &P) {
    P.ArcTan();
}

// (1/2) ln |(1 + x) / (1 - x)|; +1. For a small x, (1/2) ln (1 + u) with u = 2x / (1 - x).
void FloatArcTanh(TProc &P) {
    if (IsBelowEighth(P)) {
        P.LoadRegister(0);
        P.Negate();
        AddOne(P); // [1 - x, x]
        P.DividePop(1);
        P.MultiplyByTwo();
        P.LnOnePlus();
        P.DivideByTwo();
        return;
    }
    P.LoadOne();
    P.SubtractRevTo(1); // [1, 1 - x]
    P.MultiplyByTwo();
    P.SubtractRev(1); // [-(1 + x), 1 - x]
    P.DivideRevPop(1);
    P.Abs();
    P.Ln();
    P.DivideByTwo();
}

void FloatSquare(TProc &P) {
    P.Square();
}
void FloatTimesTwo(TProc &P) {
    P.MultiplyByTwo();
}
void FloatTimesI(TProc &P) {
    P.LoadZero();
}
void FloatTimesMinusI(TProc &P) {
    P.Negate();
    P.LoadZero();
}
void FloatCube(TProc &P) {
    P.LoadRegister(0);
    P.Square();
    P.MultiplyPop(1);
}
void FloatFourthPower(TProc &P) {
    P.Square();
    P.Square();
}
void FloatSqrt(TProc &P) {
    P.Sqrt();
}

// ln |x|, and 0 for 0.
void FloatLog(TProc &P) {
    P.Abs();
    if (P.Test() != 0)
        P.Ln();
}

void FloatExp(TProc &P) {
    P.Exp();
}
void FloatAbs(TProc &P) {
    P.Abs();
}
void FloatReciprocal(TProc &P) {
    P.Reciprocal();
}

// ---------------------------------------------------------------------------------------------
// Mixed complex and float ([a, b, x]: complex on top; [x, a, b]: float on top).

void ComplexTimesFloat(TProc &P) {
    P.Multiply(2);
    P.Exchange(2);
    P.MultiplyPop(1);
    P.Exchange(1);
}

void FloatTimesComplex(TProc &P) {
    P.MultiplyTo(1);
    P.MultiplyPop(2);
}

void ComplexPlusFloat(TProc &P) {
    P.Add(2);
    P.Exchange(2);
    P.Pop();
    P.Exchange(1);
}

void FloatPlusComplex(TProc &P) {
    P.AddPop(1);
}

void ComplexMinusFloatComplexTop(TProc &P) {
    P.Exchange(2);
    P.SubtractPop(2);
    P.Exchange(1);
}

void FloatMinusComplexFloatTop(TProc &P) {
    P.SubtractRevPop(1);
    P.Exchange(1);
    P.Negate();
    P.Exchange(1);
}

void FloatMinusComplexComplexTop(TProc &P) {
    P.Exchange(2);
    P.SubtractRevPop(2);
    P.Negate();
    P.Exchange(1);
}

void ComplexMinusFloatFloatTop(TProc &P) {
    P.SubtractPop(1);
}

void ComplexDivFloatComplexTop(TProc &P) {
    P.Divide(2);
    P.Exchange(2);
    P.DividePop(1);
    P.Exchange(1);
}

void ComplexDivFloatFloatTop(TProc &P) {
    P.Exchange(1);
    P.Divide(1);
    P.Exchange(1);
    P.DividePop(2);
}

// ---------------------------------------------------------------------------------------------
// Conversions; the int or bool operand comes in edx.

void FloatToComplex(TProc &P) {
    P.LoadZero();
    P.Exchange(1);
}

std::int32_t IntToComplex(TProc &P, std::int32_t Value) {
    P.LoadZero();
    P.LoadInteger(Value);
    return Value;
}

std::int32_t IntToFloat(TProc &P, std::int32_t Value) {
    P.LoadInteger(Value);
    return Value;
}

std::int32_t BoolToComplex(TProc &P, std::int32_t Value) {
    P.LoadZero();
    P.LoadInteger(Value & 1);
    return Value;
}

std::int32_t BoolToFloat(TProc &P, std::int32_t Value) {
    P.LoadInteger(Value & 1);
    return Value;
}

// ---------------------------------------------------------------------------------------------
// Entry wrappers: the processor in eax, the previous eax in edx, the result in eax. Nothing may
// unwind into generated code.

template <void (*Routine)(TProc &)>
HUGE_REGCALL std::int32_t PlainEntry(THugeProcessor *Processor, std::int32_t Value) noexcept {
    try {
        Routine(*Processor);
    } catch (...) {
        Processor->Fault();
    }
    return Value;
}

template <std::int32_t (*Routine)(TProc &)>
HUGE_REGCALL std::int32_t ResultEntry(THugeProcessor *Processor, std::int32_t) noexcept {
    try {
        return Routine(*Processor);
    } catch (...) {
        Processor->Fault();
        return 0;
    }
}

template <std::int32_t (*Routine)(TProc &, std::int32_t)>
HUGE_REGCALL std::int32_t ValueEntry(THugeProcessor *Processor, std::int32_t Value) noexcept {
    try {
        return Routine(*Processor, Value);
    } catch (...) {
        Processor->Fault();
        return Value;
    }
}

struct TRoutineEntry {
    const void *Address = nullptr;
    int StackUse = 0;
};

struct TRoutineTable {
    TRoutineEntry Entries[LastRoutine + 1];
    void Set(int Routine, const void *Address) { Entries[Routine].Address = Address; }
};

template <void (*Routine)(TProc &)> const void *Plain() {
    return reinterpret_cast<const void *>(&PlainEntry<Routine>);
}
template <std::int32_t (*Routine)(TProc &)> const void *Result() {
    return reinterpret_cast<const void *>(&ResultEntry<Routine>);
}
template <std::int32_t (*Routine)(TProc &, std::int32_t)> const void *Value() {
    return reinterpret_cast<const void *>(&ValueEntry<Routine>);
}

TRoutineTable MakeTable() {
    TRoutineTable t{};
    t.Set(1, Plain<Reset>());
    t.Set(4, CompHugeOldZThunk);
    t.Set(9, CompHugeArrayCopyThunk);
    t.Set(10, CompHugePrintComplexThunk);
    t.Set(11, CompHugePrintFloatThunk);
    t.Set(18, Plain<PushComplexZero>());
    t.Set(19, Plain<PushComplexOne>());
    t.Set(20, Plain<ComplexDuplicate>());
    t.Set(21, Plain<PopComplex>());
    t.Set(22, Plain<ComplexAdd>());
    t.Set(23, Plain<ComplexSubtract>());
    t.Set(24, Plain<ComplexSubtractReversed>());
    t.Set(25, Plain<ComplexMultiply>());
    t.Set(26, Plain<ComplexDivide>());
    t.Set(27, Plain<ComplexDivideReversed>());
    t.Set(28, Plain<ComplexPower>());
    t.Set(29, Plain<ComplexPowerReversed>());
    t.Set(30, Plain<ComplexNegate>());
    t.Set(31, Plain<ComplexSin>());
    t.Set(32, Plain<ComplexArcSin>());
    t.Set(33, Plain<ComplexSinh>());
    t.Set(34, Plain<ComplexArcSinh>());
    t.Set(35, Plain<ComplexCos>());
    t.Set(36, Plain<ComplexArcCos>());
    t.Set(37, Plain<ComplexCosh>());
    t.Set(38, Plain<ComplexArcCosh>());
    t.Set(39, Plain<ComplexTan<false>>());
    t.Set(40, Plain<ComplexArcTan>());
    t.Set(41, Plain<ComplexTanh<false>>());
    t.Set(42, Plain<ComplexArcTanh>());
    t.Set(43, Plain<ComplexTan<true>>());
    t.Set(44, Plain<ComplexTanh<true>>());
    t.Set(45, Plain<ComplexSquare>());
    t.Set(46, Plain<ComplexTimesTwo>());
    t.Set(47, Plain<ComplexTimesI>());
    t.Set(48, Plain<ComplexTimesMinusI>());
    t.Set(49, Plain<ComplexCube>());
    t.Set(50, Plain<ComplexFourthPower>());
    t.Set(51, Plain<ComplexSqrt>());
    t.Set(52, Plain<ComplexLog>());
    t.Set(53, Plain<ComplexExp>());
    t.Set(54, Plain<ComplexAbs>());
    t.Set(55, Plain<ComplexCabs>());
    t.Set(56, Plain<ComplexCabsComplex>());
    t.Set(57, Plain<ComplexModulusFloat>());
    t.Set(58, Plain<ComplexReciprocal>());
    t.Set(59, Plain<ComplexConj>());
    t.Set(60, Plain<ComplexReal>());
    t.Set(61, Plain<ComplexImag>());
    t.Set(62, Plain<ComplexFlip>());
    t.Set(63, Plain<ComplexRounding<rdFloor>>());
    t.Set(64, Plain<ComplexRounding<rdCeil>>());
    t.Set(65, Plain<ComplexRounding<rdTrunc>>());
    t.Set(66, Plain<ComplexRounding<rdRound>>());
    t.Set(67, Plain<ComplexArcTan2>());
    t.Set(68, Result<ComplexEqual>());
    t.Set(69, Result<ComplexNotEqual>());
    t.Set(70, Result<ComplexCompare<cmLess>>());
    t.Set(71, Result<ComplexCompare<cmLessEqual>>());
    t.Set(72, Result<ComplexCompare<cmGreater>>());
    t.Set(73, Result<ComplexCompare<cmGreaterEqual>>());
    t.Set(74, Plain<PushZero>());
    t.Set(75, Plain<PushOne>());
    t.Set(76, Plain<Duplicate>());
    t.Set(77, Plain<PopFloat>());
    t.Set(78, Plain<FloatAdd>());
    t.Set(79, Plain<FloatSubtract>());
    t.Set(80, Plain<FloatSubtractReversed>());
    t.Set(81, Plain<FloatMultiply>());
    t.Set(82, Plain<FloatDivide>());
    t.Set(83, Plain<FloatDivideReversed>());
    t.Set(84, Plain<FloatModulo>());
    t.Set(85, Plain<FloatModuloReversed>());
    t.Set(86, Plain<FloatPower>());
    t.Set(87, Plain<FloatPowerReversed>());
    t.Set(88, Plain<FloatNegate>());
    t.Set(89, Plain<FloatSin>());
    t.Set(90, Plain<FloatArcSin>());
    t.Set(91, Plain<FloatSinh>());
    t.Set(92, Plain<FloatArcHyperbolic<false>>());
    t.Set(93, Plain<FloatCos>());
    t.Set(94, Plain<FloatArcCos>());
    t.Set(95, Plain<FloatCosh>());
    t.Set(96, Plain<FloatArcHyperbolic<true>>());
    t.Set(97, Plain<FloatTan<false>>());
    t.Set(98, Plain<FloatArcTan>());
    t.Set(99, Plain<FloatTanh<false>>());
    t.Set(100, Plain<FloatArcTanh>());
    t.Set(101, Plain<FloatTan<true>>());
    t.Set(102, Plain<FloatTanh<true>>());
    t.Set(103, Plain<FloatSquare>());
    t.Set(104, Plain<FloatTimesTwo>());
    t.Set(105, Plain<FloatTimesI>());
    t.Set(106, Plain<FloatTimesMinusI>());
    t.Set(107, Plain<FloatCube>());
    t.Set(108, Plain<FloatFourthPower>());
    t.Set(109, Plain<FloatSqrt>());
    t.Set(110, Plain<FloatLog>());
    t.Set(111, Plain<FloatExp>());
    t.Set(112, Plain<FloatAbs>());
    t.Set(113, Plain<FloatReciprocal>());
    t.Set(114, Result<FloatRounding<rdFloor>>());
    t.Set(115, Result<FloatRounding<rdCeil>>());
    t.Set(116, Result<FloatRounding<rdRound>>());
    t.Set(117, Result<FloatRounding<rdTrunc>>());
    t.Set(118, Result<FloatCompare<cmEqual>>());
    t.Set(119, Result<FloatCompare<cmNotEqual>>());
    t.Set(120, Result<FloatCompare<cmLess>>());
    t.Set(121, Result<FloatCompare<cmLessEqual>>());
    t.Set(122, Result<FloatCompare<cmGreater>>());
    t.Set(123, Result<FloatCompare<cmGreaterEqual>>());
    t.Set(144, Plain<ComplexTimesFloat>());
    t.Set(145, Plain<FloatTimesComplex>());
    t.Set(146, Plain<ComplexPlusFloat>());
    t.Set(147, Plain<FloatPlusComplex>());
    t.Set(148, Plain<ComplexMinusFloatComplexTop>());
    t.Set(149, Plain<FloatMinusComplexFloatTop>());
    t.Set(150, Plain<FloatMinusComplexComplexTop>());
    t.Set(151, Plain<ComplexMinusFloatFloatTop>());
    t.Set(152, Plain<ComplexDivFloatComplexTop>());
    t.Set(153, Plain<ComplexDivFloatFloatTop>());
    t.Set(156, CompHugeColorTimesThunk);
    t.Set(157, CompHugeColorDivideThunk);
    t.Set(158, CompHugeRGBThunk);
    t.Set(159, CompHugeRGBAThunk);
    t.Set(160, CompHugeHSLThunk);
    t.Set(161, CompHugeHSLAThunk);
    t.Set(162, CompHugeRedThunk);
    t.Set(163, CompHugeGreenThunk);
    t.Set(164, CompHugeBlueThunk);
    t.Set(165, CompHugeHueThunk);
    t.Set(166, CompHugeSaturationThunk);
    t.Set(167, CompHugeLightnessThunk);
    t.Set(168, CompHugeAlphaThunk);
    t.Set(169, CompHugeInsideGradientThunk);
    t.Set(170, CompHugeOutsideGradientThunk);
    t.Set(171, CompHugeBlendThunk);
    t.Set(172, CompHugeComposeThunk);
    t.Set(192, Plain<FloatToComplex>());
    t.Set(193, Value<IntToComplex>());
    t.Set(194, Value<IntToFloat>());
    t.Set(195, Value<BoolToComplex>());
    t.Set(196, Value<BoolToFloat>());

    for (int n : {25, 26, 27, 28, 29, 31, 33, 35, 37, 39, 41, 43, 44, 50, 51, 52, 58, 92, 96, 99, 100, 102})
        t.Entries[n].StackUse = 2;
    for (int n : {32, 34, 36, 38, 40, 42, 49})
        t.Entries[n].StackUse = 4;
    for (int n : {45, 53, 84, 85, 91, 95, 97, 101, 107})
        t.Entries[n].StackUse = 1;
    return t;
}

const TRoutineTable &Table() {
    static const TRoutineTable table = MakeTable();
    return table;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Routines reached through the assembly thunks.

void CompHugeOldZ(THugeProcessor *Processor, std::int32_t Index, void *Context) noexcept {
    auto *context = static_cast<std::uint8_t *>(Context);
    std::uint32_t done;
    std::memcpy(&done, context + pcIterationsDone, 4);
    THugeFloatBase *const *entries;
    std::memcpy(&entries, context + pcOrbitStart, sizeof entries);
    if (static_cast<std::uint32_t>(Index) > done || !entries) {
        Processor->LoadZero();
        Processor->LoadZero();
        return;
    }
    THugeFloatBase *real = entries[2 * static_cast<std::uint32_t>(Index)];
    THugeFloatBase *imag = entries[2 * static_cast<std::uint32_t>(Index) + 1];
    if (imag)
        Processor->LoadHuge(*imag);
    else
        Processor->LoadZero();
    if (real)
        Processor->LoadHuge(*real);
    else
        Processor->LoadZero();
}

void CompHugeArrayCopy(std::uint8_t *Data, std::int32_t Destination, std::int32_t Source,
                       std::int32_t Count) noexcept {
    for (std::int32_t i = 0; i < Count; ++i) {
        THugeFloatBase *target;
        THugeFloatBase *source;
        std::memcpy(&target, Data + Destination + 4 * i, sizeof target);
        std::memcpy(&source, Data + Source + 4 * i, sizeof source);
        if (target && source && target != source)
            target->Assign(*source);
    }
}

void CompHugePrintComplex(THugeProcessor *Processor, std::int32_t, void *Context) noexcept {
    try {
        std::string real = Processor->GetText();
        Processor->Pop();
        std::string imag = Processor->GetText();
        Processor->Pop();
        AppendPrintLine(Context, "(" + real + ", " + imag + ")");
    } catch (...) {
    }
}

void CompHugePrintFloat(THugeProcessor *Processor, std::int32_t, void *Context) noexcept {
    try {
        std::string text = Processor->GetText();
        Processor->Pop();
        AppendPrintLine(Context, text);
    } catch (...) {
    }
}

// ---------------------------------------------------------------------------------------------
// Colour routines. Floats move between the processor and 80-bit values; the channel arithmetic
// is that of the x87 templates (80-bit intermediate values, each channel stored as a 32-bit
// float). Float arguments are on the processor with the first one on top.

namespace {

// Takes Count floats off the processor, top first.
void TakeFloats(THugeProcessor *Processor, long double *Values, int Count) {
    for (int i = 0; i < Count; ++i) {
        Values[i] = Processor->GetExtended();
        Processor->Pop();
    }
}

void ScaleColor(float *Color, long double Factor) {
    for (int k = 0; k < 4; ++k)
        Color[k] = static_cast<float>(Color[k] * Factor);
}

void MakeColor(THugeProcessor *Processor, float *Color, bool WithAlpha, bool FromHSL) {
    long double values[4] = {0, 0, 0, 1};
    TakeFloats(Processor, values, WithAlpha ? 4 : 3);
    for (int k = 0; k < 4; ++k)
        Color[k] = static_cast<float>(values[k]);
    if (FromHSL) {
        float red, green, blue;
        HSLToRGBFloat(Color[0], Color[1], Color[2], red, green, blue);
        Color[0] = red;
        Color[1] = green;
        Color[2] = blue;
    }
}

TFloatColor ToFloatColor(const float *Color) {
    return {Color[0], Color[1], Color[2], Color[3]};
}

} // namespace

void CompHugeColorTimes(THugeProcessor *Processor, std::int32_t, float *Color) noexcept {
    long double factor;
    TakeFloats(Processor, &factor, 1);
    ScaleColor(Color, factor);
}

void CompHugeColorDivide(THugeProcessor *Processor, std::int32_t, float *Color) noexcept {
    long double divisor;
    TakeFloats(Processor, &divisor, 1);
    ScaleColor(Color, 1.0L / divisor);
}

void CompHugeRGB(THugeProcessor *Processor, std::int32_t, float *Color) noexcept {
    MakeColor(Processor, Color, false, false);
}

void CompHugeRGBA(THugeProcessor *Processor, std::int32_t, float *Color) noexcept {
    MakeColor(Processor, Color, true, false);
}

void CompHugeHSL(THugeProcessor *Processor, std::int32_t, float *Color) noexcept {
    MakeColor(Processor, Color, false, true);
}

void CompHugeHSLA(THugeProcessor *Processor, std::int32_t, float *Color) noexcept {
    MakeColor(Processor, Color, true, true);
}

void CompHugeRed(THugeProcessor *Processor, std::int32_t, float *Color) noexcept {
    Processor->LoadExtended(Color[0]);
}

void CompHugeGreen(THugeProcessor *Processor, std::int32_t, float *Color) noexcept {
    Processor->LoadExtended(Color[1]);
}

void CompHugeBlue(THugeProcessor *Processor, std::int32_t, float *Color) noexcept {
    Processor->LoadExtended(Color[2]);
}

void CompHugeAlpha(THugeProcessor *Processor, std::int32_t, float *Color) noexcept {
    Processor->LoadExtended(Color[3]);
}

void CompHugeHue(THugeProcessor *Processor, std::int32_t, float *Color) noexcept {
    Processor->LoadExtended(RGBToHueFloat(ToFloatColor(Color)));
}

void CompHugeSaturation(THugeProcessor *Processor, std::int32_t, float *Color) noexcept {
    float saturation, lightness;
    RGBToSaturationLightness(ToFloatColor(Color), saturation, lightness);
    Processor->LoadExtended(saturation);
}

void CompHugeLightness(THugeProcessor *Processor, std::int32_t, float *Color) noexcept {
    float saturation, lightness;
    RGBToSaturationLightness(ToFloatColor(Color), saturation, lightness);
    Processor->LoadExtended(lightness);
}

void CompHugeGradient(THugeProcessor *Processor, void *Mapper, float *Color) noexcept {
    long double position;
    TakeFloats(Processor, &position, 1);
    CompGradientHelper(Mapper, Color, static_cast<float>(position));
}

// Color[0..3] the first colour, Color[4..7] the second, which receives the result.
void CompHugeBlend(THugeProcessor *Processor, std::int32_t, float *Color) noexcept {
    long double t;
    TakeFloats(Processor, &t, 1);
    const long double rest = 1.0L - t;
    for (int k = 0; k < 4; ++k)
        Color[4 + k] = static_cast<float>(Color[k] * rest + Color[4 + k] * t);
}

void CompHugeCompose(THugeProcessor *Processor, std::int32_t, float *Color) noexcept {
    long double t;
    TakeFloats(Processor, &t, 1);
    const long double s = t * Color[7];
    const long double alpha1 = Color[3];
    const long double alpha = (alpha1 - s * alpha1) + s;
    Color[7] = static_cast<float>(alpha);
    const long double w = alpha == 0 ? 0.0L : s / alpha;
    const long double rest = 1.0L - w;
    for (int k = 0; k < 3; ++k)
        Color[4 + k] = static_cast<float>(Color[k] * rest + Color[4 + k] * w);
}

const void *HugeRoutineAddress(int Routine) {
    if (Routine < FirstRoutine || Routine > LastRoutine)
        return nullptr;
    return Table().Entries[Routine].Address;
}

int HugeRoutineStackUse(int Routine) {
    if (Routine < FirstRoutine || Routine > LastRoutine || !Table().Entries[Routine].Address)
        return 0;
    return Table().Entries[Routine].StackUse;
}

void InitializeCompHugeRoutines() {
    (void)Table();
}

void FinalizeCompHugeRoutines() {}
