// Portable part of the class library core: exceptions, Format, number text, text and file-name
// helpers and the date arithmetic. No Win32 here: the arbitrary-precision code is also built
// natively for benchmarks and uses these routines.
#include "SysUtils.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <clocale>
#include <limits>
#include <vector>

void Abort() {
    throw EAbort(std::string());
}

// =============================================================================================
// Exact decimal <-> binary conversion.
//
// Both directions work on exact big integers, so results are correctly rounded for every value,
// including denormals and the extremes of the 80-bit format, and never depend on the locale or
// on the C library.
namespace {

// Unsigned big integer, 32-bit words, least significant first, no leading zero words.
class BigUInt {
public:
    BigUInt() = default;
    explicit BigUInt(uint64_t value) {
        while (value) {
            FWords.push_back(static_cast<uint32_t>(value));
            value >>= 32;
        }
    }
    bool IsZero() const { return FWords.empty(); }

    int BitLength() const {
        if (FWords.empty())
            return 0;
        return static_cast<int>(FWords.size() - 1) * 32 + (32 - __builtin_clz(FWords.back()));
    }
    bool Bit(int index) const {
        size_t word = static_cast<size_t>(index) / 32;
        return word < FWords.size() && ((FWords[word] >> (index % 32)) & 1);
    }
    // True when any bit below index is set.
    bool AnyBitBelow(int index) const {
        size_t fullWords = static_cast<size_t>(index) / 32;
        for (size_t i = 0; i < fullWords && i < FWords.size(); ++i)
            if (FWords[i])
                return true;
        int rest = index % 32;
        return rest && fullWords < FWords.size() && (FWords[fullWords] & ((1u << rest) - 1));
    }
    // The bits from index upwards (at most 64 of them are kept).
    uint64_t BitsFrom(int index) const {
        uint64_t result = 0;
        for (int i = 63; i >= 0; --i)
            result = (result << 1) | (Bit(index + i) ? 1 : 0);
        return result;
    }

    void MulAdd(uint32_t factor, uint32_t addend) {
        uint64_t carry = addend;
        for (uint32_t &w : FWords) {
            uint64_t t = static_cast<uint64_t>(w) * factor + carry;
            w = static_cast<uint32_t>(t);
            carry = t >> 32;
        }
        if (carry)
            FWords.push_back(static_cast<uint32_t>(carry));
        Normalize();
    }
    void MulPow5(int n) {
        static const uint32_t pow5_13 = 1220703125u;
        while (n >= 13) {
            MulAdd(pow5_13, 0);
            n -= 13;
        }
        uint32_t f = 1;
        while (n-- > 0)
            f *= 5;
        if (f != 1)
            MulAdd(f, 0);
    }
    void ShiftLeft(int bits) {
        if (FWords.empty() || bits == 0)
            return;
        int words = bits / 32, rest = bits % 32;
        if (rest) {
            uint32_t carry = 0;
            for (uint32_t &w : FWords) {
                uint32_t next = w >> (32 - rest);
                w = (w << rest) | carry;
                carry = next;
            }
            if (carry)
                FWords.push_back(carry);
        }
        FWords.insert(FWords.begin(), static_cast<size_t>(words), 0u);
    }
    void ShiftRight1() {
        uint32_t carry = 0;
        for (size_t i = FWords.size(); i-- > 0;) {
            uint32_t next = FWords[i] & 1;
            FWords[i] = (FWords[i] >> 1) | (carry << 31);
            carry = next;
        }
        Normalize();
    }
    void MulPow10(int n) {
        MulPow5(n);
        ShiftLeft(n);
    }
    friend int Compare(const BigUInt &a, const BigUInt &b) {
        if (a.FWords.size() != b.FWords.size())
            return a.FWords.size() < b.FWords.size() ? -1 : 1;
        for (size_t i = a.FWords.size(); i-- > 0;)
            if (a.FWords[i] != b.FWords[i])
                return a.FWords[i] < b.FWords[i] ? -1 : 1;
        return 0;
    }
    // this -= other; requires this >= other.
    void Subtract(const BigUInt &other) {
        int64_t borrow = 0;
        for (size_t i = 0; i < FWords.size(); ++i) {
            int64_t t = static_cast<int64_t>(FWords[i]) - borrow -
                        (i < other.FWords.size() ? static_cast<int64_t>(other.FWords[i]) : 0);
            borrow = t < 0;
            FWords[i] = static_cast<uint32_t>(t + (borrow << 32));
        }
        Normalize();
    }

private:
    void Normalize() {
        while (!FWords.empty() && FWords.back() == 0)
            FWords.pop_back();
    }
    std::vector<uint32_t> FWords;
};

// A finite binary value Mantissa * 2^Exponent2 with its sign; the kind tells special values.
enum class FloatKind { Finite, Infinite, NotANumber };
struct BinaryValue {
    FloatKind Kind = FloatKind::Finite;
    bool Negative = false;
    uint64_t Mantissa = 0;
    int Exponent2 = 0;
};

// The 10 significant bytes of an x87 extended value, independent of sizeof(long double).
BinaryValue Decompose(long double value) {
    unsigned char bytes[sizeof(long double)] = {};
    std::memcpy(bytes, &value, sizeof(value) < 10 ? sizeof(value) : 10);
    uint64_t mantissa = 0;
    for (int i = 7; i >= 0; --i)
        mantissa = (mantissa << 8) | bytes[i];
    unsigned signExp = bytes[8] | (bytes[9] << 8);
    BinaryValue result;
    result.Negative = (signExp & 0x8000) != 0;
    unsigned exponent = signExp & 0x7FFF;
    if (exponent == 0x7FFF) {
        result.Kind = (mantissa << 1) == 0 ? FloatKind::Infinite : FloatKind::NotANumber;
    } else if (exponent == 0) {
        result.Mantissa = mantissa; // denormal (or pseudo-denormal), value m * 2^-16445
        result.Exponent2 = -16445;
    } else if ((mantissa >> 63) == 0) {
        result.Kind = FloatKind::NotANumber; // unnormal: the processor rejects it as invalid
    } else {
        result.Mantissa = mantissa;
        result.Exponent2 = static_cast<int>(exponent) - 16383 - 63;
    }
    return result;
}

long double ComposeExtended(bool negative, uint64_t mantissa, int lsbExponent) {
    unsigned biased = 0;
    if (mantissa >> 63)
        biased = static_cast<unsigned>(lsbExponent + 63 + 16383);
    unsigned signExp = biased | (negative ? 0x8000u : 0u);
    unsigned char bytes[16] = {};
    for (int i = 0; i < 8; ++i)
        bytes[i] = static_cast<unsigned char>(mantissa >> (8 * i));
    bytes[8] = static_cast<unsigned char>(signExp);
    bytes[9] = static_cast<unsigned char>(signExp >> 8);
    long double result = 0;
    std::memcpy(&result, bytes, sizeof(result) < 10 ? sizeof(result) : 10);
    return result;
}

double ComposeDouble(bool negative, uint64_t mantissa, int lsbExponent) {
    uint64_t bits = 0;
    if (mantissa >> 52)
        bits = (static_cast<uint64_t>(lsbExponent + 52 + 1023) << 52) | (mantissa & ((1ull << 52) - 1));
    else
        bits = mantissa; // denormal
    if (negative)
        bits |= 1ull << 63;
    double result;
    std::memcpy(&result, &bits, sizeof(result));
    return result;
}

// Rounding of decimal digits: C's printf rounds exact ties to even, the Delphi-style routines
// round them away from zero.
enum class TieRule { ToEven, AwayFromZero };

// Decimal digits of Mantissa * 2^Exponent2 (Mantissa > 0): the result D = d0 d1 d2 ... means
// d0.d1d2... * 10^Exponent10. At most MaxSignificant digits are produced and none below
// 10^-MaxDecimals. Trailing zeros are removed. Digits is empty when the value rounds to zero.
struct DecimalValue {
    std::string Digits;
    int Exponent10 = 0;
};

constexpr int NoDecimalLimit = std::numeric_limits<int>::max();

DecimalValue ExactDecimal(uint64_t mantissa, int exponent2, int maxSignificant, int maxDecimals,
                          TieRule tie) {
    DecimalValue result;
    BigUInt r(mantissa), s(1);
    if (exponent2 >= 0)
        r.ShiftLeft(exponent2);
    else
        s.ShiftLeft(-exponent2);
    // Estimate k = floor(log10(value)); corrected below.
    int bits = 63 - __builtin_clzll(mantissa) + exponent2;
    int k = static_cast<int>(std::floor(bits * 0.30102999566398119521));
    if (k >= 0)
        s.MulPow10(k);
    else
        r.MulPow10(-k);
    // Now r / s = value / 10^k; bring it into [1, 10).
    for (;;) {
        BigUInt ten_s = s;
        ten_s.MulAdd(10, 0);
        if (Compare(r, ten_s) >= 0) {
            s = ten_s;
            ++k;
        } else if (Compare(r, s) < 0) {
            r.MulAdd(10, 0);
            --k;
        } else {
            break;
        }
    }
    // Digit j has the weight 10^(k - j).
    long long count = maxSignificant;
    if (maxDecimals != NoDecimalLimit && static_cast<long long>(k) + maxDecimals + 1 < count)
        count = static_cast<long long>(k) + maxDecimals + 1;
    if (count < 0)
        return result; // far below the last decimal kept: zero
    if (count == 0) {
        // Only the rounding digit exists: r / s in [1, 10) is the value in units of 10^k, and the
        // unit kept is 10^(k + 1).
        BigUInt five_s = s;
        five_s.MulAdd(5, 0);
        int c = Compare(r, five_s);
        if (c > 0 || (c == 0 && tie == TieRule::AwayFromZero)) {
            result.Digits = "1";
            result.Exponent10 = k + 1;
        }
        return result;
    }
    std::string digits;
    digits.reserve(static_cast<size_t>(count));
    for (long long j = 0; j < count; ++j) {
        int d = 0;
        while (Compare(r, s) >= 0) {
            r.Subtract(s);
            ++d;
        }
        digits.push_back(static_cast<char>('0' + d));
        if (r.IsZero())
            break; // exact: every further digit is zero
        if (j + 1 < count)
            r.MulAdd(10, 0);
    }
    // r / s is the remainder in units of the last digit kept.
    BigUInt twice_r = r;
    twice_r.ShiftLeft(1);
    int c = Compare(twice_r, s);
    bool up = c > 0 || (c == 0 && (tie == TieRule::AwayFromZero || ((digits.back() - '0') & 1)));
    if (up) {
        size_t i = digits.size();
        while (i > 0 && digits[i - 1] == '9')
            digits[--i] = '0';
        if (i == 0) {
            digits.insert(digits.begin(), '1');
            digits.pop_back();
            ++k;
        } else {
            ++digits[i - 1];
        }
    }
    while (!digits.empty() && digits.back() == '0')
        digits.pop_back();
    result.Digits = digits;
    result.Exponent10 = digits.empty() ? 0 : k;
    return result;
}

DecimalValue ExactDecimal(const BinaryValue &value, int maxSignificant, int maxDecimals, TieRule tie) {
    if (value.Mantissa == 0)
        return DecimalValue();
    return ExactDecimal(value.Mantissa, value.Exponent2, maxSignificant, maxDecimals, tie);
}

// Format of a binary target: MantissaBits significant bits, the lowest exponent of the last
// mantissa bit (denormals) and the highest exponent of the leading bit.
struct BinaryFormat {
    int MantissaBits;
    int MinLsbExponent;
    int MaxExponent;
};
constexpr BinaryFormat ExtendedFormat{64, -16445, 16383};
constexpr BinaryFormat DoubleFormat{53, -1074, 1023};

// Rounds (q + tail) * 2^exponent2 to the target, half to even; tail is a nonzero fraction of
// q's last bit exactly when sticky is set, and q has at least MantissaBits + 2 bits whenever
// sticky is set. False on overflow.
bool RoundToBinary(const BigUInt &q, int exponent2, bool sticky, const BinaryFormat &format,
                   uint64_t &mantissa, int &lsbExponent) {
    int length = q.BitLength();
    if (length == 0) {
        mantissa = 0;
        lsbExponent = format.MinLsbExponent;
        return true;
    }
    long long lsb = static_cast<long long>(exponent2) + length - format.MantissaBits;
    if (lsb < format.MinLsbExponent)
        lsb = format.MinLsbExponent;
    long long shift = lsb - exponent2;
    if (shift <= 0) {
        BigUInt shifted = q;
        shifted.ShiftLeft(static_cast<int>(-shift));
        mantissa = shifted.BitsFrom(0);
    } else if (shift > length + 1) {
        mantissa = 0; // far below half of the smallest denormal
    } else {
        int s = static_cast<int>(shift);
        mantissa = q.BitsFrom(s);
        bool half = q.Bit(s - 1);
        bool rest = sticky || q.AnyBitBelow(s - 1);
        if (half && (rest || (mantissa & 1))) {
            ++mantissa;
            if (format.MantissaBits < 64 && (mantissa >> format.MantissaBits)) {
                mantissa >>= 1;
                ++lsb;
            } else if (format.MantissaBits == 64 && mantissa == 0) {
                mantissa = 1ull << 63;
                ++lsb;
            }
        }
    }
    lsbExponent = static_cast<int>(lsb);
    return lsb + format.MantissaBits - 1 <= format.MaxExponent;
}

// Parsed decimal text: Negative, the significant digits (no leading zeros) and Exponent10 with
// value = digits * 10^Exponent10; Sticky when nonzero digits beyond the kept ones were dropped.
struct DecimalText {
    bool Negative = false;
    std::string Digits;
    long long Exponent10 = 0;
    bool Sticky = false;
};

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// Exact parsing needs at most about 11,500 significant digits for the 80-bit format; digits
// beyond the cap only decide through the sticky flag.
constexpr size_t MaxKeptDigits = 12000;

bool ParseDecimalText(const std::string &text, DecimalText &out) {
    size_t i = 0, n = text.size();
    while (i < n && IsBlank(text[i]))
        ++i;
    if (i < n && (text[i] == '+' || text[i] == '-'))
        out.Negative = text[i++] == '-';
    bool anyDigit = false, seenPoint = false;
    long long pointShift = 0; // digits kept after the point, as a negative exponent
    for (; i < n; ++i) {
        char c = text[i];
        if (c >= '0' && c <= '9') {
            anyDigit = true;
            if (out.Digits.empty() && c == '0') {
                if (seenPoint)
                    --pointShift;
                continue;
            }
            if (out.Digits.size() < MaxKeptDigits) {
                out.Digits.push_back(c);
                if (seenPoint)
                    --pointShift;
            } else {
                if (c != '0')
                    out.Sticky = true;
                if (!seenPoint)
                    ++pointShift;
            }
        } else if (c == '.' && !seenPoint) {
            seenPoint = true;
        } else {
            break;
        }
    }
    if (!anyDigit)
        return false;
    long long exponent = 0;
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        bool negative = false;
        if (i < n && (text[i] == '+' || text[i] == '-'))
            negative = text[i++] == '-';
        bool expDigit = false;
        for (; i < n && text[i] >= '0' && text[i] <= '9'; ++i) {
            expDigit = true;
            if (exponent < 100000000)
                exponent = exponent * 10 + (text[i] - '0');
        }
        if (!expDigit)
            return false;
        if (negative)
            exponent = -exponent;
    }
    while (i < n && IsBlank(text[i]))
        ++i;
    if (i != n)
        return false;
    out.Exponent10 = exponent + pointShift;
    return true;
}

enum class ParseResult { Ok, Invalid, Overflow };

ParseResult DecimalToBinary(const DecimalText &text, const BinaryFormat &format, uint64_t &mantissa,
                            int &lsbExponent) {
    mantissa = 0;
    lsbExponent = format.MinLsbExponent;
    if (text.Digits.empty())
        return ParseResult::Ok; // zero
    // Decimal exponent of the leading digit.
    long long lead = text.Exponent10 + static_cast<long long>(text.Digits.size()) - 1;
    // Bounds with margin: the largest values are below 10^4933 (10^309), the half of the
    // smallest denormal above 10^-4952 (10^-325).
    long long maxLead = format.MantissaBits == 64 ? 4933 : 309;
    long long minLead = format.MantissaBits == 64 ? -4952 : -325;
    if (lead > maxLead)
        return ParseResult::Overflow;
    if (lead < minLead)
        return ParseResult::Ok;
    BigUInt digits;
    for (size_t i = 0; i < text.Digits.size();) {
        uint32_t chunk = 0, factor = 1;
        for (int j = 0; j < 9 && i < text.Digits.size(); ++j, ++i) {
            chunk = chunk * 10 + static_cast<uint32_t>(text.Digits[i] - '0');
            factor *= 10;
        }
        digits.MulAdd(factor, chunk);
    }
    const int wanted = format.MantissaBits + 3; // quotient bits: enough for a round and a sticky bit
    if (text.Exponent10 >= 0) {
        digits.MulPow10(static_cast<int>(text.Exponent10));
        // The integer is exact: the sticky digits lie below its last digit but above zero.
        int length = digits.BitLength();
        if (length <= wanted && !text.Sticky) {
            return RoundToBinary(digits, 0, false, format, mantissa, lsbExponent) ? ParseResult::Ok
                                                                                  : ParseResult::Overflow;
        }
        if (length <= wanted) {
            int extra = wanted - length + 1;
            digits.ShiftLeft(extra);
            return RoundToBinary(digits, -extra, true, format, mantissa, lsbExponent) ? ParseResult::Ok
                                                                                      : ParseResult::Overflow;
        }
        return RoundToBinary(digits, 0, text.Sticky, format, mantissa, lsbExponent) ? ParseResult::Ok
                                                                                    : ParseResult::Overflow;
    }
    // value = digits / (5^n * 2^n), n = -Exponent10.
    int n = static_cast<int>(-text.Exponent10);
    BigUInt divisor(1);
    divisor.MulPow5(n);
    int shift = wanted + divisor.BitLength() - digits.BitLength();
    if (shift > 0)
        digits.ShiftLeft(shift);
    else
        divisor.ShiftLeft(-shift);
    // digits / divisor now lies in [2^(wanted-1), 2^(wanted+1)).
    BigUInt quotient;
    BigUInt step = divisor;
    step.ShiftLeft(wanted);
    for (int bit = wanted; bit >= 0; --bit) {
        quotient.MulAdd(2, 0);
        if (Compare(digits, step) >= 0) {
            digits.Subtract(step);
            quotient.MulAdd(1, 1);
        }
        step.ShiftRight1();
    }
    bool sticky = !digits.IsZero() || text.Sticky;
    return RoundToBinary(quotient, -shift - n, sticky, format, mantissa, lsbExponent) ? ParseResult::Ok
                                                                                      : ParseResult::Overflow;
}

// =============================================================================================
// Text of decimal digits.

std::string Zeros(long long n) {
    return n > 0 ? std::string(static_cast<size_t>(n), '0') : std::string();
}

// Fixed notation of digits d0.d1d2... * 10^exp10 with exactly `decimals` digits after the point
// (padded with zeros); the point is left out when decimals is 0 unless forcePoint.
std::string FixedText(const DecimalValue &value, int decimals, bool forcePoint) {
    std::string text;
    const std::string &d = value.Digits;
    long long intDigits = d.empty() ? 0 : static_cast<long long>(value.Exponent10) + 1;
    if (intDigits <= 0) {
        text = "0";
    } else {
        for (long long i = 0; i < intDigits; ++i)
            text.push_back(i < static_cast<long long>(d.size()) ? d[static_cast<size_t>(i)] : '0');
    }
    if (decimals > 0 || forcePoint)
        text.push_back('.');
    for (long long j = 0; j < decimals; ++j) {
        long long index = intDigits + j; // digit index with weight 10^-(j+1)
        text.push_back(index >= 0 && index < static_cast<long long>(d.size()) ? d[static_cast<size_t>(index)]
                                                                              : '0');
    }
    return text;
}

// Scientific mantissa d.ddd with `decimals` digits after the point (padded with zeros).
std::string MantissaText(const DecimalValue &value, int decimals, bool forcePoint) {
    std::string text(1, value.Digits.empty() ? '0' : value.Digits[0]);
    if (decimals > 0 || forcePoint)
        text.push_back('.');
    for (int j = 1; j <= decimals; ++j)
        text.push_back(static_cast<size_t>(j) < value.Digits.size() ? value.Digits[static_cast<size_t>(j)]
                                                                    : '0');
    return text;
}

std::string ExponentText(int exponent, bool alwaysSign, int minDigits) {
    std::string digits = std::to_string(exponent < 0 ? -static_cast<long long>(exponent) : exponent);
    if (static_cast<int>(digits.size()) < minDigits)
        digits.insert(0, static_cast<size_t>(minDigits) - digits.size(), '0');
    if (exponent < 0)
        return "-" + digits;
    return alwaysSign ? "+" + digits : digits;
}

void TrimFractionZeros(std::string &text) {
    size_t point = text.find('.');
    if (point == std::string::npos)
        return;
    size_t end = text.size();
    while (end > point + 1 && text[end - 1] == '0')
        --end;
    if (end == point + 1)
        --end;
    text.erase(end);
}

// =============================================================================================
// printf engine. Integer, character, string and pointer conversions go to the C library one at
// a time (they do not depend on the locale); float conversions are made here.

struct Directive {
    bool Left = false, Plus = false, Space = false, Alt = false, Zero = false;
    int Width = 0;
    int Precision = -1;
    char Conversion = 0;
};

std::string Pad(std::string body, const Directive &directive, bool numericZeroPad) {
    if (static_cast<int>(body.size()) >= directive.Width)
        return body;
    size_t fill = static_cast<size_t>(directive.Width) - body.size();
    if (directive.Left)
        return body + std::string(fill, ' ');
    if (numericZeroPad) {
        size_t signLength = (!body.empty() && (body[0] == '-' || body[0] == '+' || body[0] == ' ')) ? 1 : 0;
        body.insert(signLength, fill, '0');
        return body;
    }
    return std::string(fill, ' ') + body;
}

std::string FormatFloat(long double value, const Directive &directive) {
    BinaryValue binary = Decompose(value);
    char conv = directive.Conversion;
    bool upper = conv == 'E' || conv == 'F' || conv == 'G';
    std::string sign = binary.Negative ? "-" : directive.Plus ? "+" : directive.Space ? " " : "";
    if (binary.Kind != FloatKind::Finite) {
        std::string body =
            binary.Kind == FloatKind::Infinite ? (upper ? "INF" : "inf") : (upper ? "NAN" : "nan");
        if (binary.Kind == FloatKind::NotANumber)
            sign = directive.Plus ? "+" : directive.Space ? " " : ""; // the sign of a NaN carries no meaning
        return Pad(sign + body, directive, false);
    }
    int precision = directive.Precision < 0 ? 6 : directive.Precision;
    std::string body;
    char lowerConv = static_cast<char>(conv | 0x20);
    if (lowerConv == 'f') {
        body = FixedText(ExactDecimal(binary, std::numeric_limits<int>::max(), precision, TieRule::ToEven),
                         precision, directive.Alt);
    } else if (lowerConv == 'e') {
        DecimalValue d = ExactDecimal(binary, precision + 1, NoDecimalLimit, TieRule::ToEven);
        body = MantissaText(d, precision, directive.Alt) + (upper ? "E" : "e") +
               ExponentText(d.Exponent10, true, 2);
    } else { // g
        int p = precision == 0 ? 1 : precision;
        DecimalValue d = ExactDecimal(binary, p, NoDecimalLimit, TieRule::ToEven);
        int x = d.Digits.empty() ? 0 : d.Exponent10;
        if (x < p && x >= -4) {
            body =
                FixedText(ExactDecimal(binary, std::numeric_limits<int>::max(), p - 1 - x, TieRule::ToEven),
                          p - 1 - x, directive.Alt);
        } else {
            body = MantissaText(d, p - 1, directive.Alt);
            if (!directive.Alt)
                TrimFractionZeros(body);
            body += (upper ? "E" : "e") + ExponentText(x, true, 2);
            return Pad(sign + body, directive, directive.Zero && !directive.Left);
        }
        if (!directive.Alt)
            TrimFractionZeros(body);
    }
    return Pad(sign + body, directive, directive.Zero && !directive.Left);
}

// Hexadecimal float: rare; taken from the C library with its radix point replaced.
std::string FormatHexFloat(long double value, const Directive &directive, const std::string &directiveText) {
    char buffer[128];
    std::snprintf(buffer, sizeof(buffer), directiveText.c_str(), value);
    std::string text = buffer;
    const char *point = std::localeconv()->decimal_point;
    if (point && *point && std::strcmp(point, ".") != 0) {
        size_t at = text.find(point);
        if (at != std::string::npos)
            text.replace(at, std::strlen(point), ".");
    }
    (void)directive;
    return text;
}

template <class T> void AppendOne(std::string &out, const std::string &directiveText, T value) {
    char buffer[256];
    int length = std::snprintf(buffer, sizeof(buffer), directiveText.c_str(), value);
    if (length < 0)
        return;
    if (static_cast<size_t>(length) < sizeof(buffer)) {
        out.append(buffer, static_cast<size_t>(length));
        return;
    }
    std::vector<char> big(static_cast<size_t>(length) + 1);
    std::snprintf(big.data(), big.size(), directiveText.c_str(), value);
    out.append(big.data(), static_cast<size_t>(length));
}

} // namespace

namespace classlib_detail {

std::string FormatVA(const char *fmt, ...) {
    std::string out;
    va_list args;
    va_start(args, fmt);
    const char *p = fmt;
    while (*p) {
        if (*p != '%') {
            const char *start = p;
            while (*p && *p != '%')
                ++p;
            out.append(start, static_cast<size_t>(p - start));
            continue;
        }
        const char *directiveStart = p++;
        if (*p == '%') {
            out.push_back('%');
            ++p;
            continue;
        }
        Directive directive;
        for (;; ++p) {
            if (*p == '-')
                directive.Left = true;
            else if (*p == '+')
                directive.Plus = true;
            else if (*p == ' ')
                directive.Space = true;
            else if (*p == '#')
                directive.Alt = true;
            else if (*p == '0')
                directive.Zero = true;
            else if (*p == '\'')
                ; // grouping would follow the locale: ignored
            else
                break;
        }
        if (*p == '*') {
            directive.Width = va_arg(args, int);
            if (directive.Width < 0) {
                directive.Left = true;
                directive.Width = -directive.Width;
            }
            ++p;
        } else {
            while (*p >= '0' && *p <= '9')
                directive.Width = directive.Width * 10 + (*p++ - '0');
        }
        if (*p == '.') {
            ++p;
            directive.Precision = 0;
            if (*p == '*') {
                directive.Precision = va_arg(args, int);
                if (directive.Precision < 0)
                    directive.Precision = -1;
                ++p;
            } else {
                while (*p >= '0' && *p <= '9')
                    directive.Precision = directive.Precision * 10 + (*p++ - '0');
            }
        }
        // Length: 0 int, 1 char, 2 short, 3 long, 4 long long / 64-bit, 5 long double, 6 size_t.
        int length = 0;
        if (p[0] == 'h' && p[1] == 'h') {
            length = 1;
            p += 2;
        } else if (*p == 'h') {
            length = 2;
            ++p;
        } else if (p[0] == 'l' && p[1] == 'l') {
            length = 4;
            p += 2;
        } else if (*p == 'l') {
            length = 3;
            ++p;
        } else if (*p == 'L') {
            length = 5;
            ++p;
        } else if (*p == 'q' || *p == 'j') {
            length = 4;
            ++p;
        } else if (*p == 'z' || *p == 't') {
            length = 6;
            ++p;
        } else if (p[0] == 'I' && p[1] == '6' && p[2] == '4') {
            length = 4;
            p += 3;
        } else if (p[0] == 'I' && p[1] == '3' && p[2] == '2') {
            length = 0;
            p += 3;
        } else if (*p == 'I') {
            length = 6;
            ++p;
        }
        char conv = *p;
        if (!conv)
            break; // a lone '%' at the end is dropped
        ++p;
        directive.Conversion = conv;
        // The directive for the C library, width and precision resolved.
        std::string directiveText = "%";
        if (directive.Left)
            directiveText += '-';
        if (directive.Plus)
            directiveText += '+';
        if (directive.Space)
            directiveText += ' ';
        if (directive.Alt)
            directiveText += '#';
        if (directive.Zero)
            directiveText += '0';
        if (directive.Width)
            directiveText += std::to_string(directive.Width);
        if (directive.Precision >= 0)
            directiveText += "." + std::to_string(directive.Precision);
        switch (conv) {
        case 'd':
        case 'i':
        case 'u':
        case 'o':
        case 'x':
        case 'X': {
            bool isSigned = conv == 'd' || conv == 'i';
            if (length == 4) {
                long long v = va_arg(args, long long);
                AppendOne(out, directiveText + "ll" + conv, v);
            } else if (length == 3) {
                long v = va_arg(args, long);
                AppendOne(out, directiveText + "l" + conv, v);
            } else if (length == 6) {
                size_t v = va_arg(args, size_t);
                AppendOne(out, directiveText + "ll" + conv, static_cast<unsigned long long>(v));
            } else {
                int v = va_arg(args, int);
                if (length == 1)
                    v = isSigned ? static_cast<signed char>(v) : static_cast<unsigned char>(v);
                else if (length == 2)
                    v = isSigned ? static_cast<short>(v) : static_cast<unsigned short>(v);
                AppendOne(out, directiveText + conv, v);
            }
            break;
        }
        case 'c':
            if (length == 3)
                AppendOne(out, directiveText + "lc", static_cast<wint_t>(va_arg(args, int)));
            else
                AppendOne(out, directiveText + "c", va_arg(args, int));
            break;
        case 's':
            if (length == 3) {
                AppendOne(out, directiveText + "ls", va_arg(args, const wchar_t *));
            } else {
                const char *s = va_arg(args, const char *);
                AppendOne(out, directiveText + "s", s ? s : "(null)");
            }
            break;
        case 'p':
            AppendOne(out, directiveText + "p", va_arg(args, void *));
            break;
        case 'n':
            // Writing through an argument pointer is never wanted here; the pointer is skipped.
            (void)va_arg(args, void *);
            break;
        case 'e':
        case 'E':
        case 'f':
        case 'F':
        case 'g':
        case 'G':
        case 'a':
        case 'A': {
            long double v =
                length == 5 ? va_arg(args, long double) : static_cast<long double>(va_arg(args, double));
            if (conv == 'a' || conv == 'A')
                out += FormatHexFloat(v, directive, directiveText + "L" + conv);
            else
                out += FormatFloat(v, directive);
            break;
        }
        default:
            // Unknown conversion: copied as written.
            out.append(directiveStart, static_cast<size_t>(p - directiveStart));
            break;
        }
    }
    va_end(args);
    return out;
}

} // namespace classlib_detail

// =============================================================================================
// Integer text.

std::string Int64ToStr(int64_t Value) {
    if (Value < 0)
        return "-" + UInt64ToStr(0 - static_cast<uint64_t>(Value));
    return UInt64ToStr(static_cast<uint64_t>(Value));
}

std::string UInt64ToStr(uint64_t Value) {
    char buffer[24];
    int i = sizeof(buffer);
    do {
        buffer[--i] = static_cast<char>('0' + Value % 10);
        Value /= 10;
    } while (Value);
    return std::string(buffer + i, buffer + sizeof(buffer));
}

std::string IntToHex(uint64_t Value, int Digits) {
    static const char hex[] = "0123456789ABCDEF";
    std::string text;
    do {
        text.insert(text.begin(), hex[Value & 15]);
        Value >>= 4;
    } while (Value);
    if (static_cast<int>(text.size()) < Digits)
        text.insert(0, static_cast<size_t>(Digits) - text.size(), '0');
    return text;
}
std::string IntToHex(int64_t Value, int Digits) {
    return IntToHex(static_cast<uint64_t>(Value), Digits);
}
std::string IntToHex(uint32_t Value, int Digits) {
    return IntToHex(static_cast<uint64_t>(Value), Digits);
}
std::string IntToHex(int32_t Value, int Digits) {
    return IntToHex(static_cast<uint64_t>(static_cast<uint32_t>(Value)), Digits);
}

namespace {
bool ParseInteger(const std::string &s, int64_t lo, uint64_t hiMagnitude, int64_t &value) {
    size_t i = 0, n = s.size();
    while (i < n && IsBlank(s[i]))
        ++i;
    bool negative = false;
    if (i < n && (s[i] == '+' || s[i] == '-'))
        negative = s[i++] == '-';
    if (i == n)
        return false;
    uint64_t limit = negative ? static_cast<uint64_t>(0) - static_cast<uint64_t>(lo) : hiMagnitude;
    uint64_t magnitude = 0;
    for (; i < n; ++i) {
        char c = s[i];
        if (c < '0' || c > '9')
            return false;
        unsigned d = static_cast<unsigned>(c - '0');
        if (magnitude > (limit - d) / 10)
            return false;
        magnitude = magnitude * 10 + d;
    }
    value = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
    return true;
}
} // namespace

bool TryStrToInt64(const std::string &S, int64_t &Value) {
    return ParseInteger(S, std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max(), Value);
}
bool TryStrToInt(const std::string &S, int32_t &Value) {
    int64_t v;
    if (!ParseInteger(S, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max(), v))
        return false;
    Value = static_cast<int32_t>(v);
    return true;
}
int32_t StrToInt(const std::string &S) {
    int32_t v;
    if (!TryStrToInt(S, v))
        throw EConvertError("'%s' is not a valid integer value", S);
    return v;
}
int64_t StrToInt64(const std::string &S) {
    int64_t v;
    if (!TryStrToInt64(S, v))
        throw EConvertError("'%s' is not a valid integer value", S);
    return v;
}
int32_t StrToIntDef(const std::string &S, int32_t Default) {
    int32_t v;
    return TryStrToInt(S, v) ? v : Default;
}
int64_t StrToInt64Def(const std::string &S, int64_t Default) {
    int64_t v;
    return TryStrToInt64(S, v) ? v : Default;
}

// =============================================================================================
// Float text.

void FloatToDecimal(TFloatRec &Result, long double Value, int Precision, int Decimals) {
    BinaryValue binary = Decompose(Value);
    Result = TFloatRec();
    Result.Negative = binary.Negative;
    if (binary.Kind != FloatKind::Finite) {
        Result.Exponent = 0x7FFF;
        if (binary.Kind == FloatKind::NotANumber) {
            Result.Digits = "N";
            Result.Negative = false;
        }
        return;
    }
    if (Precision < 1)
        Precision = 1;
    if (Precision > 21)
        Precision = 21;
    DecimalValue d =
        ExactDecimal(binary, Precision, Decimals >= 9999 ? NoDecimalLimit : Decimals, TieRule::AwayFromZero);
    if (d.Digits.empty()) {
        Result.Negative = false; // no "-0"
        return;
    }
    Result.Digits = d.Digits;
    Result.Exponent = d.Exponent10 + 1;
}

namespace {

std::string SpecialText(const TFloatRec &rec) {
    if (rec.Digits == "N")
        return "NAN";
    return rec.Negative ? "-INF" : "INF";
}

// Scientific form of rec with Delphi's general exponent: "E", a '-' only for negative
// exponents, at least minExpDigits digits.
std::string GeneralScientific(const TFloatRec &rec, int minExpDigits) {
    std::string text(1, rec.Digits[0]);
    if (rec.Digits.size() > 1)
        text += "." + rec.Digits.substr(1);
    return text + "E" + ExponentText(rec.Exponent - 1, false, minExpDigits);
}

std::string GeneralText(long double value, int precision, int minExpDigits) {
    TFloatRec rec;
    FloatToDecimal(rec, value, precision, 9999);
    if (rec.Exponent == 0x7FFF)
        return SpecialText(rec);
    if (rec.Digits.empty())
        return "0";
    if (precision < 1)
        precision = 1;
    if (precision > 21)
        precision = 21;
    std::string text;
    if (rec.Exponent > precision || rec.Exponent < -3) {
        text = GeneralScientific(rec, minExpDigits);
    } else if (rec.Exponent <= 0) {
        text = "0." + Zeros(-rec.Exponent) + rec.Digits;
    } else {
        int intDigits = rec.Exponent;
        if (static_cast<int>(rec.Digits.size()) <= intDigits)
            text = rec.Digits + Zeros(intDigits - static_cast<int>(rec.Digits.size()));
        else
            text = rec.Digits.substr(0, static_cast<size_t>(intDigits)) + "." +
                   rec.Digits.substr(static_cast<size_t>(intDigits));
    }
    return rec.Negative ? "-" + text : text;
}

} // namespace

std::string FloatToStr(long double Value) {
    return GeneralText(Value, 15, 0);
}

std::string FloatToStrF(long double Value, TFloatFormat Format, int Precision, int Digits) {
    if (Precision < 1)
        Precision = 1;
    if (Precision > 21)
        Precision = 21;
    if (Digits < 0)
        Digits = 0;
    switch (Format) {
    case ffGeneral:
        return GeneralText(Value, Precision, Digits > 4 ? 4 : Digits);
    case ffExponent: {
        TFloatRec rec;
        FloatToDecimal(rec, Value, Precision, 9999);
        if (rec.Exponent == 0x7FFF)
            return SpecialText(rec);
        std::string digits = rec.Digits.empty() ? std::string("0") : rec.Digits;
        digits += Zeros(Precision - static_cast<int>(digits.size()));
        int exponent = rec.Digits.empty() ? 0 : rec.Exponent - 1;
        std::string text = digits.substr(0, 1);
        if (Precision > 1)
            text += "." + digits.substr(1);
        text += "E" + ExponentText(exponent, true, Digits > 4 ? 4 : Digits);
        return rec.Negative ? "-" + text : text;
    }
    case ffFixed:
    default: {
        if (Digits > 18)
            Digits = 18;
        TFloatRec rec;
        FloatToDecimal(rec, Value, Precision, Digits);
        if (rec.Exponent == 0x7FFF)
            return SpecialText(rec);
        if (rec.Exponent > Precision)
            return GeneralText(Value, Precision, 0);
        DecimalValue d;
        d.Digits = rec.Digits;
        d.Exponent10 = rec.Exponent - 1;
        std::string text = FixedText(d, Digits, false);
        return rec.Negative ? "-" + text : text;
    }
    }
}

bool TryStrToFloat(const std::string &S, long double &Value) {
    DecimalText text;
    if (!ParseDecimalText(S, text))
        return false;
    uint64_t mantissa;
    int lsb;
    if (DecimalToBinary(text, ExtendedFormat, mantissa, lsb) != ParseResult::Ok)
        return false;
    Value = ComposeExtended(text.Negative, mantissa, lsb);
    return true;
}

bool TryStrToFloat(const std::string &S, double &Value) {
    DecimalText text;
    if (!ParseDecimalText(S, text))
        return false;
    uint64_t mantissa;
    int lsb;
    if (DecimalToBinary(text, DoubleFormat, mantissa, lsb) != ParseResult::Ok)
        return false;
    Value = ComposeDouble(text.Negative, mantissa, lsb);
    return true;
}

long double StrToFloat(const std::string &S) {
    long double value;
    if (!TryStrToFloat(S, value))
        throw EConvertError("'%s' is not a valid floating point value", S);
    return value;
}

long double StrToFloatDef(const std::string &S, long double Default) {
    long double value;
    return TryStrToFloat(S, value) ? value : Default;
}

// =============================================================================================
// Text helpers.

namespace {
bool IsTrimmed(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}
char UpperChar(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
}
char LowerChar(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}
} // namespace

std::string Trim(const std::string &S) {
    size_t begin = 0, end = S.size();
    while (begin < end && IsTrimmed(S[begin]))
        ++begin;
    while (end > begin && IsTrimmed(S[end - 1]))
        --end;
    return S.substr(begin, end - begin);
}
std::string TrimLeft(const std::string &S) {
    size_t begin = 0;
    while (begin < S.size() && IsTrimmed(S[begin]))
        ++begin;
    return S.substr(begin);
}
std::string TrimRight(const std::string &S) {
    size_t end = S.size();
    while (end > 0 && IsTrimmed(S[end - 1]))
        --end;
    return S.substr(0, end);
}
std::string UpperCase(const std::string &S) {
    std::string r = S;
    for (char &c : r)
        c = UpperChar(c);
    return r;
}
std::string LowerCase(const std::string &S) {
    std::string r = S;
    for (char &c : r)
        c = LowerChar(c);
    return r;
}
int CompareStr(const std::string &S1, const std::string &S2) {
    size_t n = S1.size() < S2.size() ? S1.size() : S2.size();
    for (size_t i = 0; i < n; ++i)
        if (S1[i] != S2[i])
            return static_cast<unsigned char>(S1[i]) - static_cast<unsigned char>(S2[i]);
    return S1.size() < S2.size() ? -1 : S1.size() > S2.size() ? 1 : 0;
}
int CompareText(const std::string &S1, const std::string &S2) {
    size_t n = S1.size() < S2.size() ? S1.size() : S2.size();
    for (size_t i = 0; i < n; ++i) {
        unsigned char a = static_cast<unsigned char>(UpperChar(S1[i]));
        unsigned char b = static_cast<unsigned char>(UpperChar(S2[i]));
        if (a != b)
            return a - b;
    }
    return S1.size() < S2.size() ? -1 : S1.size() > S2.size() ? 1 : 0;
}
bool SameText(const std::string &S1, const std::string &S2) {
    return S1.size() == S2.size() && CompareText(S1, S2) == 0;
}

std::string StringReplace(const std::string &S, const std::string &OldPattern, const std::string &NewPattern,
                          unsigned Flags) {
    if (OldPattern.empty())
        return S;
    const bool ignoreCase = (Flags & rfIgnoreCase) != 0;
    const std::string haystack = ignoreCase ? UpperCase(S) : S;
    const std::string needle = ignoreCase ? UpperCase(OldPattern) : OldPattern;
    std::string result;
    size_t from = 0;
    for (;;) {
        size_t at = haystack.find(needle, from);
        if (at == std::string::npos)
            break;
        result.append(S, from, at - from);
        result += NewPattern;
        from = at + needle.size();
        if (!(Flags & rfReplaceAll))
            break;
    }
    result.append(S, from, std::string::npos);
    return result;
}

// =============================================================================================
// File names.

namespace {
// Index of the last character of S that is one of delimiters, or npos.
size_t LastDelimiter(const char *delimiters, const std::string &s) {
    return s.find_last_of(delimiters);
}
} // namespace

std::string ExtractFilePath(const std::string &FileName) {
    size_t i = LastDelimiter("\\:", FileName);
    return i == std::string::npos ? std::string() : FileName.substr(0, i + 1);
}
std::string ExtractFileDir(const std::string &FileName) {
    size_t i = LastDelimiter("\\:", FileName);
    if (i == std::string::npos)
        return std::string();
    if (i > 0 && FileName[i] == '\\' && FileName[i - 1] != '\\' && FileName[i - 1] != ':')
        return FileName.substr(0, i);
    return FileName.substr(0, i + 1);
}
std::string ExtractFileName(const std::string &FileName) {
    size_t i = LastDelimiter("\\:", FileName);
    return i == std::string::npos ? FileName : FileName.substr(i + 1);
}
std::string ExtractFileExt(const std::string &FileName) {
    size_t i = LastDelimiter(".\\:", FileName);
    if (i != std::string::npos && FileName[i] == '.')
        return FileName.substr(i);
    return std::string();
}
std::string ChangeFileExt(const std::string &FileName, const std::string &Extension) {
    size_t i = LastDelimiter(".\\:", FileName);
    if (i == std::string::npos || FileName[i] != '.')
        return FileName + Extension;
    return FileName.substr(0, i) + Extension;
}
std::string IncludeTrailingPathDelimiter(const std::string &S) {
    if (!S.empty() && S.back() == '\\')
        return S;
    return S + "\\";
}
std::string ExcludeTrailingPathDelimiter(const std::string &S) {
    if (!S.empty() && S.back() == '\\')
        return S.substr(0, S.size() - 1);
    return S;
}

// =============================================================================================
// Dates.

namespace {
const uint16_t MonthDays[2][12] = {{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31},
                                   {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31}};

// Splits a date-time into whole days since 0001-01-01 (day 1 = 0001-01-01) and milliseconds of
// the day. Negative values count their fraction forwards from the day of their whole part, and
// a time that rounds up to a full day moves to the next day.
void SplitDateTime(TDateTime value, long long &days, long long &msecs) {
    double whole = std::trunc(value);
    double fraction = std::fabs(value - whole);
    msecs = std::llround(fraction * MSecsPerDay);
    days = static_cast<long long>(whole) + DateDelta;
    if (msecs >= static_cast<long long>(MSecsPerDay)) {
        msecs = 0;
        days += value < 0 ? -1 : 1;
    }
}
} // namespace

bool IsLeapYear(uint16_t Year) {
    return Year % 4 == 0 && (Year % 100 != 0 || Year % 400 == 0);
}

uint16_t DaysInMonth(uint16_t Year, uint16_t Month) {
    if (Month < 1 || Month > 12)
        return 0;
    return MonthDays[IsLeapYear(Year) ? 1 : 0][Month - 1];
}

bool TryEncodeDate(uint16_t Year, uint16_t Month, uint16_t Day, TDateTime &Date) {
    if (Year < 1 || Year > 9999 || Month < 1 || Month > 12 || Day < 1 || Day > DaysInMonth(Year, Month))
        return false;
    long long day = Day;
    for (int m = 1; m < Month; ++m)
        day += DaysInMonth(Year, static_cast<uint16_t>(m));
    long long y = Year - 1;
    Date = static_cast<double>(y * 365 + y / 4 - y / 100 + y / 400 + day - DateDelta);
    return true;
}

bool TryEncodeTime(uint16_t Hour, uint16_t Min, uint16_t Sec, uint16_t MSec, TDateTime &Time) {
    if (Hour >= 24 || Min >= 60 || Sec >= 60 || MSec >= 1000)
        return false;
    Time = (Hour * 3600000.0 + Min * 60000.0 + Sec * 1000.0 + MSec) / MSecsPerDay;
    return true;
}

TDateTime EncodeDate(uint16_t Year, uint16_t Month, uint16_t Day) {
    TDateTime result;
    if (!TryEncodeDate(Year, Month, Day, result))
        throw EConvertError("Invalid argument to date encode");
    return result;
}

TDateTime EncodeTime(uint16_t Hour, uint16_t Min, uint16_t Sec, uint16_t MSec) {
    TDateTime result;
    if (!TryEncodeTime(Hour, Min, Sec, MSec, result))
        throw EConvertError("Invalid argument to time encode");
    return result;
}

void DecodeDate(TDateTime Date, uint16_t &Year, uint16_t &Month, uint16_t &Day) {
    long long days, msecs;
    SplitDateTime(Date, days, msecs);
    if (days < 1 || days > 3652059) { // outside 0001-01-01 .. 9999-12-31
        Year = Month = Day = 0;
        return;
    }
    long long t = days - 1; // days since 0001-01-01
    long long y400 = t / 146097;
    t %= 146097;
    long long y100 = t / 36524;
    if (y100 == 4)
        y100 = 3;
    t -= y100 * 36524;
    long long y4 = t / 1461;
    t %= 1461;
    long long y1 = t / 365;
    if (y1 == 4)
        y1 = 3;
    t -= y1 * 365;
    uint16_t year = static_cast<uint16_t>(y400 * 400 + y100 * 100 + y4 * 4 + y1 + 1);
    const uint16_t *table = MonthDays[IsLeapYear(year) ? 1 : 0];
    uint16_t month = 1;
    while (t >= table[month - 1]) {
        t -= table[month - 1];
        ++month;
    }
    Year = year;
    Month = month;
    Day = static_cast<uint16_t>(t + 1);
}

void DecodeTime(TDateTime Time, uint16_t &Hour, uint16_t &Min, uint16_t &Sec, uint16_t &MSec) {
    long long days, msecs;
    SplitDateTime(Time, days, msecs);
    Hour = static_cast<uint16_t>(msecs / 3600000);
    Min = static_cast<uint16_t>(msecs / 60000 % 60);
    Sec = static_cast<uint16_t>(msecs / 1000 % 60);
    MSec = static_cast<uint16_t>(msecs % 1000);
}

int DayOfWeek(TDateTime Date) {
    long long days, msecs;
    SplitDateTime(Date, days, msecs);
    long long r = days % 7;
    if (r < 0)
        r += 7;
    return static_cast<int>(r) + 1;
}

std::string DateToStr(TDateTime Date) {
    uint16_t y, m, d;
    DecodeDate(Date, y, m, d);
    return Format("%u/%u/%04u", unsigned(m), unsigned(d), unsigned(y));
}

std::string TimeToStr(TDateTime Time) {
    uint16_t h, n, s, ms;
    DecodeTime(Time, h, n, s, ms);
    return Format("%02u:%02u:%02u", unsigned(h), unsigned(n), unsigned(s));
}

std::string DateTimeToStr(TDateTime DateTime) {
    return DateToStr(DateTime) + " " + TimeToStr(DateTime);
}

TDateTime FileDateToDateTime(int32_t FileDate) {
    uint32_t packed = static_cast<uint32_t>(FileDate);
    uint16_t date = static_cast<uint16_t>(packed >> 16), time = static_cast<uint16_t>(packed);
    return EncodeDate(static_cast<uint16_t>((date >> 9) + 1980), (date >> 5) & 15, date & 31) +
           EncodeTime(time >> 11, (time >> 5) & 63, (time & 31) * 2, 0);
}
