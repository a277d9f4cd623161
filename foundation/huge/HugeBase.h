// Arbitrary-precision binary floating-point numbers: representation, precision
// and conversions (integers, 80-bit extended, decimal text).
//
// A number is a sign, a state, an exponent counted in 32-bit words and n
// mantissa words (word 0 least significant). Its value is
//   (-1)^Sign * sum_i w[i] * 2^(32 * (Exponent - (n - 1 - i))),
// so with Exponent 0 the top word is the integer part. Numbers are normalised
// by whole words only: the top word of a non-zero number is not 0.
#pragma once

#include "SysUtils.h"

#include <cstdint>
#include <string>

DECLARE_EXCEPTION(EHugeError, Exception);

enum THugeState : uint8_t { hsNormal = 0, hsInfinite = 1, hsNaN = 2 };

constexpr int HugeMinDigits = 2;
constexpr int HugeMaxDigits = 16384;
constexpr int HugeMaxWords = 1702;
// Exponent range in words; beyond it values become infinite or zero.
constexpr int32_t HugeMaxExponent = 4096;
constexpr int32_t HugeMinExponent = -4096;

// Mantissa words for a precision in decimal digits (limited to 2..16384).
int HugeWordCount(int digits);

class THugeFloatBase : public TObject {
public:
    explicit THugeFloatBase(int precision);
    THugeFloatBase(int precision, int32_t value);
    // Same precision, word count, exponent, sign, state and mantissa words.
    THugeFloatBase(const THugeFloatBase &source);
    THugeFloatBase &operator=(const THugeFloatBase &) = delete;
    ~THugeFloatBase() override;
    DECLARE_CLASS_NAME(THugeFloatBase)

    virtual void AllocMantissa();
    virtual void FreeMantissa();

    void InitPrecision(int digits);
    void Clear();
    void SetInteger(int32_t value);
    void Assign(const THugeFloatBase &source);
    bool Equals(const THugeFloatBase &other) const;
    int Sign() const;
    void Abs() { FSign = false; }
    void Randomize();

    // Quiet NaN / signed infinity / signed zero, keeping the word count.
    void SetNaN();
    void SetInfinite(bool negative);
    void SetZero(bool negative = false);

    bool IsZero() const { return FState == hsNormal && FMantissa[FWordCount - 1] == 0; }
    bool IsSpecial() const { return FState != hsNormal; }
    uint32_t TopWord() const { return FMantissa[FWordCount - 1]; }

    int32_t Trunc() const;
    int32_t Round() const;
    int32_t Ceil() const;
    int32_t Floor() const;
    void Frac();

    long double GetExtended() const;
    void SetExtended(long double value);
    std::string GetText() const;
    void SetText(const std::string &text);

    void AddInteger(uint32_t value);
    void MultiplyInteger(int32_t value);
    void DivideInteger(int32_t value);
    int32_t Compare(const THugeFloatBase &other) const;
    int32_t CompareInteger(int32_t value) const;

    void LoadPi();
    void LoadE();
    void LoadLog2E();
    void LoadLn2();

    // Looks at the number through its top `words` words (1..allocated count)
    // without copying; lower words keep whatever they held.
    void SetView(int words) {
        FMantissa = FStorage + (FFullCount - words);
        FWordCount = words;
    }
    int FullWordCount() const { return FFullCount; }

    // Fields. Public so that the word loops of the arithmetic, the register
    // stack and the tests can reach the representation directly.
    int32_t FExponent = 0;
    int FWordCount = 0;
    uint32_t *FMantissa = nullptr;
    int FPrecision = 0;
    bool FSign = false;
    THugeState FState = hsNormal;

protected:
    // Construction without allocation, for descendants that allocate in their
    // own constructor (virtual allocation is not available there).
    struct NoAlloc {};
    THugeFloatBase(int precision, NoAlloc);
    void SetPrecisionFields(int digits);
    void AllocStorage();
    void FreeStorage();
    void LoadTable(const uint32_t *table, int32_t exponent);
    void NormaliseWords();
    void ShiftDownWords(int count);

    uint32_t *FStorage = nullptr;
    int FFullCount = 0;
};

// Plain values without arithmetic.
class TBasicHugeFloat : public THugeFloatBase {
public:
    using THugeFloatBase::THugeFloatBase;
    DECLARE_CLASS_NAME(TBasicHugeFloat)
};

// Restores a number's view (its visible words) when it goes out of scope.
class THugeViewGuard {
public:
    explicit THugeViewGuard(THugeFloatBase &number)
        : FNumber(number), FMantissa(number.FMantissa), FCount(number.FWordCount) {}
    THugeViewGuard(const THugeViewGuard &) = delete;
    THugeViewGuard &operator=(const THugeViewGuard &) = delete;
    ~THugeViewGuard() {
        FNumber.FMantissa = FMantissa;
        FNumber.FWordCount = FCount;
    }

private:
    THugeFloatBase &FNumber;
    uint32_t *FMantissa;
    int FCount;
};

// Word-level helpers shared by the arithmetic modules.
namespace HugeWords {
// Index of the highest non-zero word below `count`, or -1.
inline int HighestNonZero(const uint32_t *words, int count) {
    for (int i = count - 1; i >= 0; --i)
        if (words[i] != 0)
            return i;
    return -1;
}
inline bool AnyNonZero(const uint32_t *words, int count) {
    for (int i = 0; i < count; ++i)
        if (words[i] != 0)
            return true;
    return false;
}
// Divides the 64-bit value hi:lo by d; the caller guarantees hi < d, so the
// quotient fits 32 bits (one divl on x86 instead of a 64-bit library call).
inline uint32_t DivWord(uint32_t hi, uint32_t lo, uint32_t d, uint32_t &rem) {
#if defined(__i386__) && defined(__GNUC__)
    uint32_t q, r;
    asm("divl %4" : "=a"(q), "=d"(r) : "a"(lo), "d"(hi), "rm"(d) : "cc");
    rem = r;
    return q;
#else
    const uint64_t cur = (static_cast<uint64_t>(hi) << 32) | lo;
    rem = static_cast<uint32_t>(cur % d);
    return static_cast<uint32_t>(cur / d);
#endif
}
} // namespace HugeWords
