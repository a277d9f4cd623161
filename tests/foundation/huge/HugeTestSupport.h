// Helpers of the arbitrary-precision number tests: reading the reference data
// made by tools/huge_vectors.py and measuring the distance between a result
// and a reference with plain big-integer code of the test's own.
#pragma once

#include "HugeBase.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace hugetest {

// Smallest precision whose word count is n.
inline int DigitsForWords(int n) {
    int digits = 2;
    while (HugeWordCount(digits) < n)
        ++digits;
    return digits;
}

// A number of the data files: "q" (NaN), "i+" / "i-" (infinite) or
// "n<sign><exponent>:<hex words, top first>".
struct RefNumber {
    THugeState State = hsNormal;
    bool Negative = false;
    int32_t Exponent = 0;
    std::vector<uint32_t> Words; // lowest first

    bool IsZero() const { return State == hsNormal && (Words.empty() || Words.back() == 0); }
};

inline RefNumber ParseNumber(const std::string &token) {
    RefNumber r;
    if (token == "q") {
        r.State = hsNaN;
        return r;
    }
    if (token[0] == 'i') {
        r.State = hsInfinite;
        r.Negative = token[1] == '-';
        return r;
    }
    r.Negative = token[1] == '-';
    size_t colon = token.find(':');
    r.Exponent = std::stoi(token.substr(2, colon - 2));
    std::string hex = token.substr(colon + 1);
    for (size_t i = hex.size(); i >= 8; i -= 8)
        r.Words.push_back(static_cast<uint32_t>(std::stoul(hex.substr(i - 8, 8), nullptr, 16)));
    return r;
}

// Loads a reference into a number of the same word count.
inline void LoadNumber(THugeFloatBase &number, const RefNumber &r) {
    number.FState = r.State;
    number.FSign = r.Negative;
    number.FExponent = r.Exponent;
    if (r.State == hsNormal) {
        EXPECT_EQ(static_cast<int>(r.Words.size()), number.FWordCount);
        for (int i = 0; i < number.FWordCount && i < static_cast<int>(r.Words.size()); ++i)
            number.FMantissa[i] = r.Words[i];
    }
}

inline std::string Describe(const THugeFloatBase &number) {
    if (number.FState == hsNaN)
        return "q";
    if (number.FState == hsInfinite)
        return number.FSign ? "i-" : "i+";
    std::string text = std::string("n") + (number.FSign ? "-" : "+") + std::to_string(number.FExponent) + ":";
    char word[9];
    for (int i = number.FWordCount - 1; i >= 0; --i) {
        std::snprintf(word, sizeof word, "%08X", number.FMantissa[i]);
        text += word;
    }
    return text;
}

// True when the number has exactly the reference's value in the word format
// (a zero reference matches any zero).
inline bool SameNumber(const THugeFloatBase &number, const RefNumber &r) {
    if (number.FState != r.State)
        return false;
    if (r.State == hsNaN)
        return true;
    if (r.State == hsInfinite)
        return number.FSign == r.Negative;
    if (r.IsZero())
        return number.IsZero();
    if (number.FSign != r.Negative || number.FExponent != r.Exponent)
        return false;
    if (static_cast<int>(r.Words.size()) != number.FWordCount)
        return false;
    for (int i = 0; i < number.FWordCount; ++i)
        if (number.FMantissa[i] != r.Words[i])
            return false;
    return true;
}

namespace detail {
using Big = std::vector<uint32_t>; // lowest word first

inline Big Shifted(const std::vector<uint32_t> &words, int64_t shift) {
    Big big(static_cast<size_t>(shift), 0u);
    big.insert(big.end(), words.begin(), words.end());
    return big;
}

inline int CompareBig(const Big &a, const Big &b) {
    size_t n = a.size() > b.size() ? a.size() : b.size();
    for (size_t i = n; i-- > 0;) {
        uint32_t x = i < a.size() ? a[i] : 0, y = i < b.size() ? b[i] : 0;
        if (x != y)
            return x < y ? -1 : 1;
    }
    return 0;
}

inline Big AddBig(const Big &a, const Big &b) {
    size_t n = a.size() > b.size() ? a.size() : b.size();
    Big r(n + 1, 0u);
    uint64_t carry = 0;
    for (size_t i = 0; i < n; ++i) {
        uint64_t s = carry + (i < a.size() ? a[i] : 0) + (i < b.size() ? b[i] : 0);
        r[i] = static_cast<uint32_t>(s);
        carry = s >> 32;
    }
    r[n] = static_cast<uint32_t>(carry);
    return r;
}

inline Big SubBig(const Big &a, const Big &b) { // a >= b
    Big r(a.size(), 0u);
    int64_t borrow = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        int64_t d = static_cast<int64_t>(a[i]) - (i < b.size() ? b[i] : 0) - borrow;
        borrow = d < 0;
        r[i] = static_cast<uint32_t>(d + (borrow << 32));
    }
    return r;
}

inline long double ToLongDouble(const Big &a) {
    long double v = 0;
    for (size_t i = a.size(); i-- > 0;)
        v = v * 4294967296.0L + a[i];
    return v;
}
} // namespace detail

// |number - reference| in units of the number's last word; with a floor
// exponent, the unit is at least one last word of a number of that exponent
// (absolute error for results that may cancel against values of that size).
inline long double UnitsApart(const THugeFloatBase &number, const RefNumber &r, bool absoluteFloor = false) {
    using namespace detail;
    if (number.FState != hsNormal || r.State != hsNormal)
        return (number.FState == r.State && number.FSign == r.Negative) ? 0.0L : INFINITY;
    const int n = number.FWordCount;
    const int m = static_cast<int>(r.Words.size());
    std::vector<uint32_t> mine(number.FMantissa, number.FMantissa + n);
    bool mineZero = number.IsZero(), refZero = r.IsZero();
    int64_t mineLow = static_cast<int64_t>(number.FExponent) - (n - 1);
    int64_t refLow = static_cast<int64_t>(r.Exponent) - (m - 1);
    int64_t unit = mineZero ? (refZero ? 0 : static_cast<int64_t>(r.Exponent) - (n - 1)) : mineLow;
    if (absoluteFloor && unit < -(n - 1))
        unit = -(n - 1);
    if (mineZero)
        mine.assign(1, 0u), mineLow = unit;
    std::vector<uint32_t> ref = r.Words;
    if (refZero)
        ref.assign(1, 0u), refLow = unit;
    int64_t low = std::min(std::min(mineLow, refLow), unit);
    if (mineLow - low > 4096 || refLow - low > 4096)
        return INFINITY;
    Big a = Shifted(mine, mineLow - low), b = Shifted(ref, refLow - low);
    bool aNeg = !mineZero && number.FSign, bNeg = !refZero && r.Negative;
    Big diff;
    if (aNeg != bNeg)
        diff = AddBig(a, b);
    else
        diff = CompareBig(a, b) >= 0 ? SubBig(a, b) : SubBig(b, a);
    return std::ldexp(ToLongDouble(diff), static_cast<int>(-32 * (unit - low)));
}

inline std::vector<std::string> ReadDataLines(const std::string &name) {
    std::vector<std::string> lines;
    std::ifstream file(std::string(TEST_DATA_DIR) + "foundation\\data\\" + name);
    EXPECT_TRUE(file.good()) << "cannot open " << name;
    std::string line;
    while (std::getline(file, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty() && line[0] != '#')
            lines.push_back(line);
    }
    return lines;
}

inline std::vector<std::string> Split(const std::string &line) {
    std::istringstream in(line);
    std::vector<std::string> parts;
    std::string part;
    while (in >> part)
        parts.push_back(part);
    return parts;
}

} // namespace hugetest
