#include "HugeBase.h"

#include "HugeConsts.h"

#include <cmath>
#include <cstring>
#include <vector>

namespace {

// Run-time random generator for Randomize: a 32-bit linear congruential
// generator; Random(range) takes the high part of state * range.
thread_local uint32_t RandomState = 0x2545F491u;

uint32_t RandomBelow(uint32_t range) {
    RandomState = RandomState * 134775813u + 1u;
    return static_cast<uint32_t>((static_cast<uint64_t>(RandomState) * range) >> 32);
}

struct RawNumber {
    THugeState State;
    bool Negative;
    int32_t Exponent;
    const uint32_t *Words; // word 0 lowest
    int Count;
    bool IsZero() const { return State == hsNormal && Words[Count - 1] == 0; }
};

RawNumber Raw(const THugeFloatBase &f) {
    return {f.FState, f.FSign, f.FExponent, f.FMantissa, f.FWordCount};
}

int32_t CompareRaw(const RawNumber &a, const RawNumber &b) {
    if (a.State == hsNaN || b.State == hsNaN)
        return 0;
    if (a.State == hsInfinite) {
        if (b.State == hsInfinite && b.Negative == a.Negative)
            return 0;
        return a.Negative ? -HugeMaxExponent : HugeMaxExponent;
    }
    if (b.State == hsInfinite)
        return b.Negative ? HugeMaxExponent : -HugeMaxExponent;
    bool aZero = a.IsZero(), bZero = b.IsZero();
    if (aZero && bZero)
        return 0;
    if (aZero)
        return b.Negative ? HugeMaxExponent : -HugeMaxExponent;
    if (bZero)
        return a.Negative ? -HugeMaxExponent : HugeMaxExponent;
    if (a.Negative != b.Negative)
        return a.Negative ? -HugeMaxExponent : HugeMaxExponent;
    int32_t result = 0;
    if (a.Exponent != b.Exponent) {
        result = a.Exponent > b.Exponent ? HugeMaxExponent : -HugeMaxExponent;
    } else {
        int count = a.Count < b.Count ? a.Count : b.Count;
        const uint32_t *pa = a.Words + a.Count - 1;
        const uint32_t *pb = b.Words + b.Count - 1;
        for (int i = 0; i < count; ++i) {
            if (pa[-i] != pb[-i]) {
                result = count - i;
                if (pa[-i] < pb[-i])
                    result = -result;
                break;
            }
        }
    }
    return a.Negative ? -result : result;
}

const char *const InvalidOperationText = "Invalid floating point operation";

} // namespace

int HugeWordCount(int digits) {
    if (digits < HugeMinDigits)
        digits = HugeMinDigits;
    if (digits > HugeMaxDigits)
        digits = HugeMaxDigits;
    // digits / (32 * log10 2), with 32 * log10 2 taken as 9.63295986125
    return static_cast<int>(static_cast<int64_t>(digits) * 100000000000LL / 963295986125LL) + 2;
}

// ---------------------------------------------------------------- life cycle

THugeFloatBase::THugeFloatBase(int precision) {
    SetPrecisionFields(precision);
    AllocStorage();
    Clear();
}

THugeFloatBase::THugeFloatBase(int precision, int32_t value) {
    SetPrecisionFields(precision);
    AllocStorage();
    SetInteger(value);
}

THugeFloatBase::THugeFloatBase(const THugeFloatBase &source) : TObject() {
    SetPrecisionFields(source.FPrecision);
    AllocStorage();
    SetView(source.FWordCount <= FFullCount ? source.FWordCount : FFullCount);
    FExponent = source.FExponent;
    FSign = source.FSign;
    FState = source.FState;
    std::memcpy(FMantissa, source.FMantissa + (source.FWordCount - FWordCount),
                sizeof(uint32_t) * FWordCount);
}

THugeFloatBase::THugeFloatBase(int precision, NoAlloc) {
    SetPrecisionFields(precision);
}

THugeFloatBase::~THugeFloatBase() {
    FreeStorage();
}

void THugeFloatBase::SetPrecisionFields(int digits) {
    if (digits < HugeMinDigits)
        digits = HugeMinDigits;
    if (digits > HugeMaxDigits)
        digits = HugeMaxDigits;
    FPrecision = digits;
    FFullCount = HugeWordCount(digits);
    FWordCount = FFullCount;
}

void THugeFloatBase::AllocStorage() {
    FStorage = new uint32_t[FFullCount]();
    FWordCount = FFullCount;
    FMantissa = FStorage;
}

void THugeFloatBase::FreeStorage() {
    delete[] FStorage;
    FStorage = nullptr;
    FMantissa = nullptr;
}

void THugeFloatBase::AllocMantissa() {
    AllocStorage();
}

void THugeFloatBase::FreeMantissa() {
    FreeStorage();
}

void THugeFloatBase::InitPrecision(int digits) {
    if (FStorage)
        FreeMantissa();
    SetPrecisionFields(digits);
    AllocMantissa();
    Clear();
}

// ---------------------------------------------------------------- plain operations

void THugeFloatBase::Clear() {
    FExponent = 0;
    FSign = false;
    FState = hsNormal;
    FMantissa[FWordCount - 1] = 0;
}

void THugeFloatBase::SetNaN() {
    FState = hsNaN;
    FSign = false;
}

void THugeFloatBase::SetInfinite(bool negative) {
    FState = hsInfinite;
    FSign = negative;
}

void THugeFloatBase::SetZero(bool negative) {
    FState = hsNormal;
    FSign = negative;
    FExponent = 0;
    FMantissa[FWordCount - 1] = 0;
}

void THugeFloatBase::SetInteger(int32_t value) {
    std::memset(FMantissa, 0, sizeof(uint32_t) * (FWordCount - 1));
    FState = hsNormal;
    FExponent = 0;
    FSign = value < 0;
    // -2^31 has no positive counterpart; unsigned negation gives 0x80000000
    FMantissa[FWordCount - 1] = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
}

void THugeFloatBase::Assign(const THugeFloatBase &source) {
    if (&source == this)
        return;
    FSign = source.FSign;
    FState = source.FState;
    FExponent = source.FExponent;
    int n = FWordCount, m = source.FWordCount;
    if (m >= n) {
        std::memcpy(FMantissa, source.FMantissa + (m - n), sizeof(uint32_t) * n);
    } else {
        std::memset(FMantissa, 0, sizeof(uint32_t) * (n - m));
        std::memcpy(FMantissa + (n - m), source.FMantissa, sizeof(uint32_t) * m);
    }
}

bool THugeFloatBase::Equals(const THugeFloatBase &other) const {
    return FWordCount == other.FWordCount && FExponent == other.FExponent && FState == other.FState &&
           FSign == other.FSign &&
           std::memcmp(FMantissa, other.FMantissa, sizeof(uint32_t) * FWordCount) == 0;
}

int THugeFloatBase::Sign() const {
    if (FState == hsNaN)
        return 0;
    if (FState == hsNormal && IsZero())
        return 0;
    return FSign ? -1 : 1;
}

void THugeFloatBase::Randomize() {
    FState = hsNormal;
    FSign = false;
    FExponent = -1;
    for (int i = 0; i < FWordCount; ++i) {
        uint32_t high = RandomBelow(65535);
        FMantissa[i] = high * 65536u + RandomBelow(65535);
    }
    if (FMantissa[FWordCount - 1] == 0)
        FMantissa[FWordCount - 1] = 1;
}

// Removes leading zero words by moving the mantissa up; a value that has no
// non-zero word left, or that falls below the exponent range, becomes 0.
void THugeFloatBase::NormaliseWords() {
    int n = FWordCount;
    int top = HugeWords::HighestNonZero(FMantissa, n);
    if (top < 0) {
        SetZero(FSign);
        return;
    }
    int shift = n - 1 - top;
    if (shift == 0)
        return;
    if (static_cast<int64_t>(FExponent) - shift < HugeMinExponent) {
        SetZero(FSign);
        return;
    }
    std::memmove(FMantissa + shift, FMantissa, sizeof(uint32_t) * (n - shift));
    std::memset(FMantissa, 0, sizeof(uint32_t) * shift);
    FExponent -= shift;
}

// Moves the mantissa down by `count` words (the lowest words are lost) and
// clears the words freed at the top.
void THugeFloatBase::ShiftDownWords(int count) {
    int n = FWordCount;
    if (count >= n) {
        std::memset(FMantissa, 0, sizeof(uint32_t) * n);
        return;
    }
    std::memmove(FMantissa, FMantissa + count, sizeof(uint32_t) * (n - count));
    std::memset(FMantissa + (n - count), 0, sizeof(uint32_t) * count);
}

// ---------------------------------------------------------------- integers

namespace {
int32_t Saturate(uint64_t magnitude, bool negative) {
    if (negative)
        return magnitude >= 0x80000000ull ? INT32_MIN : -static_cast<int32_t>(magnitude);
    return magnitude >= 0x7FFFFFFFull ? INT32_MAX : static_cast<int32_t>(magnitude);
}
} // namespace

int32_t THugeFloatBase::Trunc() const {
    if (FState == hsNaN)
        return 0;
    if (FState == hsInfinite)
        return FSign ? INT32_MIN : INT32_MAX;
    if (IsZero() || FExponent < 0)
        return 0;
    if (FExponent > 0)
        return FSign ? INT32_MIN : INT32_MAX;
    return Saturate(TopWord(), FSign);
}

int32_t THugeFloatBase::Round() const {
    if (FState == hsNaN)
        return 0;
    if (FState == hsInfinite)
        return FSign ? INT32_MIN : INT32_MAX;
    if (IsZero() || FExponent < -1)
        return 0;
    if (FExponent > 0)
        return FSign ? INT32_MIN : INT32_MAX;
    uint64_t magnitude;
    if (FExponent == -1)
        magnitude = (TopWord() & 0x80000000u) ? 1 : 0;
    else
        magnitude = static_cast<uint64_t>(TopWord()) + ((FMantissa[FWordCount - 2] & 0x80000000u) ? 1 : 0);
    return Saturate(magnitude, FSign);
}

int32_t THugeFloatBase::Ceil() const {
    if (FState == hsNaN)
        return 0;
    if (FState == hsInfinite)
        return FSign ? INT32_MIN : INT32_MAX;
    if (IsZero())
        return 0;
    if (FExponent > 0)
        return FSign ? INT32_MIN : INT32_MAX;
    uint64_t whole = FExponent == 0 ? TopWord() : 0;
    int fractionWords = FExponent == 0 ? FWordCount - 1 : FWordCount;
    if (FSign)
        return Saturate(whole, true);
    if (HugeWords::AnyNonZero(FMantissa, fractionWords))
        ++whole;
    return Saturate(whole, false);
}

int32_t THugeFloatBase::Floor() const {
    if (FState == hsNaN)
        return 0;
    if (FState == hsInfinite)
        return FSign ? INT32_MIN : INT32_MAX;
    if (IsZero())
        return 0;
    if (FExponent > 0)
        return FSign ? INT32_MIN : INT32_MAX;
    uint64_t whole = FExponent == 0 ? TopWord() : 0;
    int fractionWords = FExponent == 0 ? FWordCount - 1 : FWordCount;
    if (!FSign)
        return Saturate(whole, false);
    if (HugeWords::AnyNonZero(FMantissa, fractionWords))
        ++whole;
    return Saturate(whole, true);
}

void THugeFloatBase::Frac() {
    if (FState != hsNormal || FExponent < 0 || IsZero())
        return;
    int n = FWordCount;
    int drop = FExponent + 1; // integer words
    if (drop >= n) {
        SetZero(FSign);
        return;
    }
    std::memmove(FMantissa + drop, FMantissa, sizeof(uint32_t) * (n - drop));
    std::memset(FMantissa, 0, sizeof(uint32_t) * drop);
    FExponent = -1;
    NormaliseWords();
}

// ---------------------------------------------------------------- 80-bit extended

namespace {
long double MakeExtended(bool negative, uint32_t field, uint64_t mantissa) {
    unsigned char bytes[sizeof(long double)] = {};
    std::memcpy(bytes, &mantissa, 8);
    uint16_t se = static_cast<uint16_t>((negative ? 0x8000u : 0u) | (field & 0x7FFFu));
    std::memcpy(bytes + 8, &se, 2);
    long double value;
    std::memcpy(&value, bytes, sizeof(long double));
    return value;
}

inline int LeadingZeros(uint32_t word) {
    return word == 0 ? 32 : __builtin_clz(word);
}
} // namespace

long double THugeFloatBase::GetExtended() const {
    if (FState == hsNaN)
        return MakeExtended(false, 0x7FFF, 0xFFFFFFFFFFFFFFFFull);
    if (FState == hsInfinite)
        return MakeExtended(FSign, 0x7FFF, 0x8000000000000000ull);
    if (IsZero())
        return MakeExtended(false, 0, 0);
    int n = FWordCount;
    uint32_t top = FMantissa[n - 1];
    uint32_t second = FMantissa[n - 2];
    uint32_t third = n >= 3 ? FMantissa[n - 3] : 0;
    int z = LeadingZeros(top);
    uint64_t mantissa = (static_cast<uint64_t>(top) << 32) | second;
    if (z > 0)
        mantissa = (mantissa << z) | (third >> (32 - z));
    int32_t biased = FExponent * 32 + 16414 - z;
    if (biased >= 32767)
        return MakeExtended(FSign, 0x7FFF, 0x8000000000000000ull);
    if (biased < 1)
        return MakeExtended(FSign, 0, 0);
    return MakeExtended(FSign, static_cast<uint32_t>(biased), mantissa);
}

void THugeFloatBase::SetExtended(long double value) {
    unsigned char bytes[sizeof(long double)];
    std::memcpy(bytes, &value, sizeof(long double));
    uint64_t mantissa;
    uint16_t se;
    std::memcpy(&mantissa, bytes, 8);
    std::memcpy(&se, bytes + 8, 2);
    bool negative = (se & 0x8000u) != 0;
    uint32_t field = se & 0x7FFFu;
    bool integerBit = (mantissa >> 63) != 0;
    if (field == 0x7FFF) {
        if (!integerBit) { // pseudo-infinity or pseudo-NaN
            SetNaN();
            throw EHugeError(InvalidOperationText);
        }
        FSign = negative;
        FState = mantissa == 0x8000000000000000ull ? hsInfinite : hsNaN;
        return;
    }
    if (field == 0 && mantissa == 0) {
        SetZero(negative);
        return;
    }
    // Unnormals (integer bit clear with a non-zero exponent) and
    // pseudo-denormals (integer bit set with a zero exponent) are encodings
    // the number format does not define.
    if ((field != 0) != integerBit) {
        SetNaN();
        throw EHugeError(InvalidOperationText);
    }
    FSign = negative;
    FState = hsNormal;
    int32_t e;
    if (field == 0) {
        e = -16382;
        while ((mantissa >> 63) == 0) {
            mantissa <<= 1;
            --e;
        }
    } else {
        e = static_cast<int32_t>(field) - 16383;
    }
    int32_t exponent = e >= 0 ? e / 32 : -((-e + 31) / 32);
    int b = e - exponent * 32; // 0..31
    int n = FWordCount;
    std::memset(FMantissa, 0, sizeof(uint32_t) * n);
    FExponent = exponent;
    FMantissa[n - 1] = static_cast<uint32_t>(mantissa >> (63 - b));
    FMantissa[n - 2] = static_cast<uint32_t>(mantissa >> (31 - b));
    if (n >= 3 && b < 31)
        FMantissa[n - 3] = static_cast<uint32_t>(mantissa << (b + 1));
}

// ---------------------------------------------------------------- integer helpers

void THugeFloatBase::AddInteger(uint32_t value) {
    if (FState != hsNormal || value == 0)
        return;
    int n = FWordCount;
    if (IsZero()) {
        std::memset(FMantissa, 0, sizeof(uint32_t) * (n - 1));
        FMantissa[n - 1] = value;
        FExponent = 0;
        return;
    }
    if (FExponent < 0) {
        // |Self| < 1: move the words down so that the top word is the units word
        int64_t shift = -static_cast<int64_t>(FExponent);
        ShiftDownWords(shift >= n ? n : static_cast<int>(shift));
        FMantissa[n - 1] = value;
        FExponent = 0;
        return;
    }
    if (FExponent >= n)
        return; // the units word lies below the last word
    int index = n - 1 - FExponent;
    uint64_t sum = static_cast<uint64_t>(FMantissa[index]) + value;
    FMantissa[index] = static_cast<uint32_t>(sum);
    uint32_t carry = static_cast<uint32_t>(sum >> 32);
    for (int i = index + 1; carry && i < n; ++i) {
        FMantissa[i] += 1;
        carry = FMantissa[i] == 0;
    }
    if (carry) {
        if (FExponent >= HugeMaxExponent) {
            SetInfinite(FSign);
            return;
        }
        ShiftDownWords(1);
        FMantissa[n - 1] = 1;
        ++FExponent;
    }
}

void THugeFloatBase::MultiplyInteger(int32_t value) {
    uint32_t factor = static_cast<uint32_t>(value);
    if (value < 0) {
        FSign = !FSign;
        factor = 0u - factor;
    }
    if (FState == hsNaN)
        return;
    if (FState == hsInfinite) {
        if (factor == 0)
            SetNaN();
        return;
    }
    if (IsZero())
        return;
    if (factor == 0) {
        SetZero(FSign);
        return;
    }
    int n = FWordCount;
    uint32_t carry = 0;
    for (int i = 0; i < n; ++i) {
        uint64_t product = static_cast<uint64_t>(FMantissa[i]) * factor + carry;
        FMantissa[i] = static_cast<uint32_t>(product);
        carry = static_cast<uint32_t>(product >> 32);
    }
    if (carry) {
        if (FExponent >= HugeMaxExponent) {
            SetInfinite(FSign);
            return;
        }
        ShiftDownWords(1);
        FMantissa[n - 1] = carry;
        ++FExponent;
    }
}

void THugeFloatBase::DivideInteger(int32_t value) {
    uint32_t divisor = static_cast<uint32_t>(value);
    if (value < 0) {
        FSign = !FSign;
        divisor = 0u - divisor;
    }
    if (FState != hsNormal)
        return;
    if (divisor == 0) {
        // x / 0 is infinite; 0 / 0 has no value
        if (IsZero())
            SetNaN();
        else
            SetInfinite(FSign);
        return;
    }
    if (IsZero())
        return;
    int n = FWordCount;
    uint32_t rem = 0;
    for (int i = n - 1; i >= 0; --i)
        FMantissa[i] = HugeWords::DivWord(rem, FMantissa[i], divisor, rem);
    if (FMantissa[n - 1] == 0) {
        if (FExponent <= HugeMinExponent) {
            SetZero(FSign);
            return;
        }
        uint32_t extra = HugeWords::DivWord(rem, 0, divisor, rem);
        std::memmove(FMantissa + 1, FMantissa, sizeof(uint32_t) * (n - 1));
        FMantissa[0] = extra;
        --FExponent;
    }
}

int32_t THugeFloatBase::Compare(const THugeFloatBase &other) const {
    return CompareRaw(Raw(*this), Raw(other));
}

int32_t THugeFloatBase::CompareInteger(int32_t value) const {
    // The integer as a number of this word count: top word |value|, the
    // lower words 0. Only the top words are ever looked at beyond the first
    // difference, so a zero-filled buffer of this width stands for it.
    uint32_t buffer[HugeMaxWords + 1];
    int n = FWordCount;
    std::memset(buffer, 0, sizeof(uint32_t) * n);
    buffer[n - 1] = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
    RawNumber other{hsNormal, value < 0, 0, buffer, n};
    return CompareRaw(Raw(*this), other);
}

// ---------------------------------------------------------------- constants

void THugeFloatBase::LoadTable(const uint32_t *table, int32_t exponent) {
    FExponent = exponent;
    FSign = false;
    FState = hsNormal;
    int n = FWordCount;
    for (int i = 0; i < n; ++i)
        FMantissa[n - 1 - i] = table[i];
}

void THugeFloatBase::LoadPi() {
    LoadTable(HugePiTable, 0);
}
void THugeFloatBase::LoadE() {
    LoadTable(HugeETable, 0);
}
void THugeFloatBase::LoadLog2E() {
    LoadTable(HugeLog2ETable, 0);
}
void THugeFloatBase::LoadLn2() {
    LoadTable(HugeLn2Table, -1);
}

// ---------------------------------------------------------------- decimal text

std::string THugeFloatBase::GetText() const {
    if (FState == hsNaN)
        return "NAN";
    if (FState == hsInfinite)
        return FSign ? "-INF" : "+INF";
    if (IsZero())
        return "0";

    THugeFloatBase work(*this);
    work.FSign = false;
    int64_t decimalExponent = 0;
    // Bring the value into [1, 10).
    while (work.FExponent > 0 || (work.FExponent == 0 && work.TopWord() >= 10)) {
        work.DivideInteger(10);
        ++decimalExponent;
    }
    while (work.FExponent < 0) {
        work.MultiplyInteger(10);
        --decimalExponent;
    }

    const int precision = FPrecision;
    std::vector<unsigned char> digits;
    digits.reserve(precision + 10);
    digits.push_back(static_cast<unsigned char>(work.TopWord()));
    // The fraction words, multiplied by 10^9 at a time: the carry out of the
    // top is the next nine digits, exactly.
    std::vector<uint32_t> fraction(work.FMantissa, work.FMantissa + work.FWordCount - 1);
    while (static_cast<int>(digits.size()) < precision + 1) {
        uint32_t carry = 0;
        for (uint32_t &word : fraction) {
            uint64_t product = static_cast<uint64_t>(word) * 1000000000u + carry;
            word = static_cast<uint32_t>(product);
            carry = static_cast<uint32_t>(product >> 32);
        }
        char chunk[10];
        for (int i = 8; i >= 0; --i) {
            chunk[i] = static_cast<char>(carry % 10);
            carry /= 10;
        }
        for (int i = 0; i < 9 && static_cast<int>(digits.size()) < precision + 1; ++i)
            digits.push_back(static_cast<unsigned char>(chunk[i]));
    }

    // Round to `precision` digits, half up.
    bool roundUp = digits[precision] >= 5;
    digits.resize(precision);
    if (roundUp) {
        int i = precision - 1;
        while (i >= 0 && digits[i] == 9) {
            digits[i] = 0;
            --i;
        }
        if (i >= 0) {
            ++digits[i];
        } else {
            digits.insert(digits.begin(), 1);
            digits.resize(precision);
            ++decimalExponent;
        }
    }

    std::string text;
    if (FSign)
        text += '-';
    auto trimZeros = [](std::string &s, size_t keep) {
        while (s.size() > keep && s.back() == '0')
            s.pop_back();
    };
    const int64_t d = decimalExponent;
    if (d > 9 || d >= precision || d < -5) {
        std::string mantissa;
        mantissa += static_cast<char>('0' + digits[0]);
        mantissa += '.';
        for (int i = 1; i < precision; ++i)
            mantissa += static_cast<char>('0' + digits[i]);
        trimZeros(mantissa, 1);
        if (mantissa.back() == '.')
            mantissa.pop_back();
        text += mantissa;
        text += 'e';
        text += std::to_string(d);
    } else if (d >= 0) {
        std::string body;
        for (int i = 0; i < precision; ++i) {
            body += static_cast<char>('0' + digits[i]);
            if (i == d)
                body += '.';
        }
        size_t point = body.find('.');
        if (point != std::string::npos) {
            trimZeros(body, point + 1);
            if (body.back() == '.')
                body.pop_back();
        }
        text += body;
    } else {
        std::string body = "0.";
        body.append(static_cast<size_t>(-d - 1), '0');
        for (int i = 0; i < precision; ++i)
            body += static_cast<char>('0' + digits[i]);
        trimZeros(body, 2);
        text += body;
    }
    return text;
}

void THugeFloatBase::SetText(const std::string &text) {
    auto fail = [&]() {
        std::memset(FMantissa, 0, sizeof(uint32_t) * FWordCount);
        SetZero(false);
        throw EHugeError("'%s' is not a valid floating point value", text);
    };
    size_t first = 0, last = text.size();
    while (first < last && (text[first] == ' ' || text[first] == '\t'))
        ++first;
    while (last > first && (text[last - 1] == ' ' || text[last - 1] == '\t'))
        --last;
    if (first == last)
        fail();

    std::memset(FMantissa, 0, sizeof(uint32_t) * FWordCount);
    SetZero(false);
    // The texts GetText writes for the special values read back as them.
    {
        std::string word;
        for (size_t p = first; p < last; ++p)
            word += static_cast<char>(text[p] >= 'a' && text[p] <= 'z' ? text[p] - 'a' + 'A' : text[p]);
        if (word == "NAN") {
            SetNaN();
            return;
        }
        if (word == "INF" || word == "+INF" || word == "-INF") {
            SetInfinite(word[0] == '-');
            return;
        }
    }
    bool negative = false;
    if (text[first] == '-' || text[first] == '+') {
        negative = text[first] == '-';
        ++first;
    }

    size_t expPos = text.find('e', first);
    if (expPos >= last)
        expPos = text.find('E', first);
    if (expPos >= last)
        expPos = last;

    // The exponent part: a decimal integer with an optional sign, saturated
    // far beyond any exponent that could still give a finite non-zero value.
    int64_t scale = -1;
    if (expPos < last) {
        size_t p = expPos + 1;
        bool expNegative = false;
        if (p < last && (text[p] == '-' || text[p] == '+')) {
            expNegative = text[p] == '-';
            ++p;
        }
        if (p >= last)
            fail();
        int64_t exponent = 0;
        for (; p < last; ++p) {
            char c = text[p];
            if (c < '0' || c > '9')
                fail();
            if (exponent < (int64_t(1) << 40))
                exponent = exponent * 10 + (c - '0');
        }
        scale += expNegative ? -exponent : exponent;
    }

    // The mantissa's digits form an exact integer (exact while it fits the
    // words; beyond, the lowest words are truncated), and the value is that
    // integer times a power of ten. Integers and short decimal fractions are
    // exact this way: 12 is 12, not a truncated 1.2 times 10.
    size_t point = std::string::npos;
    int64_t digitCount = 0, fractionDigits = 0;
    int64_t leadingZeros = 0;
    bool anyNonZero = false;
    for (size_t p = first; p < expPos; ++p) {
        const char c = text[p];
        if (c == '.') {
            if (point != std::string::npos)
                fail();
            point = p;
        } else if (c >= '0' && c <= '9') {
            ++digitCount;
            if (point != std::string::npos)
                ++fractionDigits;
            if (c != '0')
                anyNonZero = true;
            else if (!anyNonZero)
                ++leadingZeros;
        } else {
            fail();
        }
    }
    if (digitCount == 0)
        fail();
    FSign = negative;
    if (!anyNonZero)
        return;
    // decimal exponent of the first non-zero digit: beyond +-39500 no finite
    // non-zero value exists (2^(32*4097) < 10^39467 and 2^(-32*4097) > 10^-39467)
    const int64_t magnitude = scale + (digitCount - fractionDigits) - leadingZeros;
    if (magnitude > 39500) {
        SetInfinite(negative);
        return;
    }
    if (magnitude < -39500) {
        SetZero(negative);
        return;
    }
    // Only the leading significant digits that the words can hold, and a few more, go into the
    // integer: digits beyond could only round, and taking them all would overflow the integer
    // (and cost time per digit and word) for a long text whatever its exponent.
    const int64_t keptDigits = int64_t(FWordCount) * 10 + 10;
    int64_t significant = 0, usedFractionDigits = 0, droppedIntegerDigits = 0;
    bool inFraction = false, seenNonZero = false;
    for (size_t p = first; p < expPos; ++p) {
        const char c = text[p];
        if (c == '.') {
            inFraction = true;
            continue;
        }
        seenNonZero = seenNonZero || c != '0';
        if (!seenNonZero) {
            // A leading zero adds nothing to the integer; after the point it still shifts.
            if (inFraction)
                ++usedFractionDigits;
            continue;
        }
        if (significant < keptDigits) {
            ++significant;
            if (inFraction)
                ++usedFractionDigits;
            MultiplyInteger(10);
            AddInteger(static_cast<uint32_t>(c - '0'));
        } else if (!inFraction) {
            ++droppedIntegerDigits;
        }
    }
    FSign = negative;
    scale += 1 - usedFractionDigits + droppedIntegerDigits; // value = integer * 10^scale
    for (; scale >= 9 && FState == hsNormal; scale -= 9)
        MultiplyInteger(1000000000);
    for (; scale > 0 && FState == hsNormal; --scale)
        MultiplyInteger(10);
    for (; scale <= -9 && !IsZero(); scale += 9)
        DivideInteger(1000000000);
    for (; scale < 0 && !IsZero(); ++scale)
        DivideInteger(10);
}
