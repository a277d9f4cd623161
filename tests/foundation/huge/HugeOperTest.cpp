// Arithmetic of the arbitrary-precision numbers against an exact model
// (tests/foundation/data/huge_arith.txt, made once by tools/huge_vectors.py
// from Python integers) and against mpmath for reciprocals and quotients.
#include "HugeMath.h"
#include "HugeTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <vector>

using namespace hugetest;

namespace {

struct ArithCase {
    int Line;
    std::vector<std::string> Parts; // op n A B result
};

const std::map<std::string, std::vector<ArithCase>> &ArithCases() {
    static const std::map<std::string, std::vector<ArithCase>> cases = [] {
        std::map<std::string, std::vector<ArithCase>> result;
        int line = 1;
        for (const std::string &text : ReadDataLines("huge_arith.txt")) {
            ++line;
            auto parts = Split(text);
            if (parts.size() == 5)
                result[parts[0]].push_back({line, parts});
        }
        return result;
    }();
    return cases;
}

class ExactArithmetic : public testing::TestWithParam<const char *> {};

// Runs every vector of one operation: the result must equal the model's in
// state, sign, exponent and every word (a zero matches any zero).
TEST_P(ExactArithmetic, MatchesModelBitForBit) {
    const std::string op = GetParam();
    auto found = ArithCases().find(op);
    ASSERT_NE(found, ArithCases().end()) << "no vectors for " << op;
    int failures = 0;
    std::map<int, bool> widths;
    for (const ArithCase &c : found->second) {
        const int n = std::stoi(c.Parts[1]);
        widths[n] = true;
        THugeFloat a(DigitsForWords(n));
        ASSERT_EQ(a.FWordCount, n);
        LoadNumber(a, ParseNumber(c.Parts[2]));
        const std::string &b = c.Parts[3];
        const std::string &expected = c.Parts[4];
        if (op == "compare") {
            THugeFloat other(DigitsForWords(n));
            LoadNumber(other, ParseNumber(b));
            int32_t result = a.Compare(other);
            if (result != std::stoi(expected) && ++failures <= 10)
                ADD_FAILURE() << "line " << c.Line << ": compare " << c.Parts[2] << " " << b << " gave "
                              << result << ", expected " << expected;
            continue;
        }
        if (op == "add" || op == "sub" || op == "subrev" || op == "mul") {
            THugeFloat other(DigitsForWords(n));
            LoadNumber(other, ParseNumber(b));
            if (op == "add")
                a.Add(other);
            else if (op == "sub")
                a.Subtract(other);
            else if (op == "subrev")
                a.SubtractRev(other);
            else
                a.Multiply(other);
        } else if (op == "square") {
            a.Square();
        } else if (op == "mul2") {
            a.MultiplyByTwo();
        } else if (op == "div2") {
            a.DivideByTwo();
        } else if (op == "mulpow2") {
            a.MultiplyPowerOfTwo(std::stoi(b));
        } else if (op == "addint") {
            a.AddInteger(static_cast<uint32_t>(std::stoul(b)));
        } else if (op == "mulint") {
            a.MultiplyInteger(static_cast<int32_t>(std::stol(b)));
        } else if (op == "divint") {
            a.DivideInteger(static_cast<int32_t>(std::stol(b)));
        } else {
            FAIL() << "unknown operation " << op;
        }
        if (!SameNumber(a, ParseNumber(expected)) && ++failures <= 10)
            ADD_FAILURE() << "line " << c.Line << ": " << op << " " << c.Parts[2] << " " << b
                          << "\n  gave     " << Describe(a) << "\n  expected " << expected;
    }
    EXPECT_EQ(failures, 0) << op << ": failing vectors";
    if (op == "add" || op == "sub" || op == "subrev" || op == "mul" || op == "compare") {
        // the data covers every width from 2 to 105 words
        EXPECT_TRUE(widths.count(2) && widths.count(105));
    }
}

INSTANTIATE_TEST_SUITE_P(HugeOper, ExactArithmetic,
                         testing::Values("add", "sub", "subrev", "mul", "square", "compare", "mul2", "div2",
                                         "mulpow2", "addint", "mulint", "divint"),
                         [](const testing::TestParamInfo<const char *> &info) {
                             return std::string(info.param);
                         });

// ---------------------------------------------------------------- reciprocal and division against mpmath

struct FunctionCase {
    int Line;
    std::vector<std::string> Parts;
};

std::vector<FunctionCase> FunctionCases(const std::string &name) {
    std::vector<FunctionCase> cases;
    int line = 1;
    for (const std::string &text : ReadDataLines("huge_funcs.txt")) {
        ++line;
        auto parts = Split(text);
        if (!parts.empty() && parts[0] == name)
            cases.push_back({line, parts});
    }
    return cases;
}

TEST(HugeOper, ReciprocalIsWithinAFewUnitsOfTheLastWord) {
    auto cases = FunctionCases("recip");
    ASSERT_FALSE(cases.empty());
    for (const FunctionCase &c : cases) {
        const int n = std::stoi(c.Parts[1]);
        THugeFloat x(DigitsForWords(n));
        LoadNumber(x, ParseNumber(c.Parts[2]));
        x.Reciprocal();
        EXPECT_LE(UnitsApart(x, ParseNumber(c.Parts[3])), 4.0L)
            << "line " << c.Line << ": 1 / " << c.Parts[2] << " gave " << Describe(x);
        EXPECT_EQ(x.FWordCount, n);
    }
}

TEST(HugeOper, DivideIsWithinAFewUnitsOfTheLastWord) {
    auto cases = FunctionCases("divide");
    ASSERT_FALSE(cases.empty());
    for (const FunctionCase &c : cases) {
        const int n = std::stoi(c.Parts[1]);
        THugeFloat x(DigitsForWords(n)), y(DigitsForWords(n));
        LoadNumber(x, ParseNumber(c.Parts[2]));
        LoadNumber(y, ParseNumber(c.Parts[3]));
        THugeFloat rev(y);
        x.Divide(y);
        EXPECT_LE(UnitsApart(x, ParseNumber(c.Parts[4])), 6.0L)
            << "line " << c.Line << ": " << c.Parts[2] << " / " << c.Parts[3] << " gave " << Describe(x);
        // y.DivideRev(x0) computes x0 / y as well
        THugeFloat x0(DigitsForWords(n));
        LoadNumber(x0, ParseNumber(c.Parts[2]));
        rev.DivideRev(x0);
        EXPECT_LE(UnitsApart(rev, ParseNumber(c.Parts[4])), 6.0L) << "line " << c.Line << " (DivideRev)";
    }
}

// ---------------------------------------------------------------- behaviour around the word format

class HugeOperFixture : public testing::Test {
protected:
    static constexpr int Digits = 40; // 6 words
    THugeFloat Make(int32_t value) { return THugeFloat(Digits, value); }
};

TEST_F(HugeOperFixture, TermBelowTheLastWordLeavesTheSumAndTheHighestDroppedWordRounds) {
    THugeFloat one = Make(1);
    const int n = one.FWordCount;
    // 2^(-32 (n + 1)): entirely below the last word
    THugeFloat tiny = Make(1);
    tiny.FExponent = -(n + 1);
    THugeFloat sum(one);
    sum.Add(tiny);
    EXPECT_TRUE(sum.Equals(one)) << Describe(sum);

    // a term overlapping only the last word: its top word adds to the last
    // word, and its next word, the highest one dropped, rounds half up
    THugeFloat term = Make(1);
    term.FExponent = -(n - 1);
    term.FMantissa[n - 2] = 0x80000000u;
    THugeFloat rounded(one);
    rounded.Add(term);
    EXPECT_EQ(rounded.FExponent, 0);
    EXPECT_EQ(rounded.FMantissa[0], 2u) << Describe(rounded);
    term.FMantissa[n - 2] = 0x7FFFFFFFu;
    THugeFloat kept(one);
    kept.Add(term);
    EXPECT_EQ(kept.FMantissa[0], 1u) << Describe(kept);
}

TEST_F(HugeOperFixture, ReciprocalOfPowersOfTwoIsExact) {
    for (int32_t value : {1, 2, 4, 1024, -65536}) {
        THugeFloat x = Make(value);
        x.Reciprocal();
        THugeFloat back(x);
        back.Reciprocal();
        EXPECT_TRUE(back.Equals(Make(value))) << value << ": " << Describe(back);
    }
    THugeFloat quarter = Make(4);
    quarter.Reciprocal();
    THugeFloat expected = Make(0);
    expected.FExponent = -1;
    std::fill(expected.FMantissa, expected.FMantissa + expected.FWordCount, 0u);
    expected.FMantissa[expected.FWordCount - 1] = 0x40000000u;
    EXPECT_TRUE(quarter.Equals(expected)) << Describe(quarter);
}

TEST_F(HugeOperFixture, DivisionByZeroAndSpecialOperands) {
    struct Case {
        int32_t Dividend;
        int32_t Divisor;
        THugeState State;
        bool Negative;
    } cases[] = {{0, 0, hsNaN, false}, {5, 0, hsInfinite, false}, {-5, 0, hsInfinite, true}};
    for (const Case &c : cases) {
        THugeFloat x = Make(c.Dividend);
        x.Divide(Make(c.Divisor));
        EXPECT_EQ(x.FState, c.State) << c.Dividend << " / " << c.Divisor;
        if (c.State == hsInfinite) {
            EXPECT_EQ(x.FSign, c.Negative);
        }
    }
    THugeFloat inf = Make(1);
    inf.SetInfinite(false);
    inf.Reciprocal();
    EXPECT_TRUE(inf.IsZero());
}

TEST_F(HugeOperFixture, DivideRevWithItselfGivesOneExceptForNonNumbers) {
    for (int32_t value : {0, 7, -3}) {
        THugeFloat x = Make(value);
        x.DivideRev(x);
        EXPECT_TRUE(x.Equals(Make(1))) << value;
    }
    THugeFloat nan = Make(0);
    nan.SetNaN();
    nan.DivideRev(nan);
    EXPECT_EQ(nan.FState, hsNaN);
    THugeFloat inf = Make(0);
    inf.SetInfinite(true);
    inf.DivideRev(inf);
    EXPECT_EQ(inf.FState, hsNaN);
}

TEST_F(HugeOperFixture, OperandsOfOtherWidthsAreAssignedFirst) {
    // a 4-word operand acts as its value padded with zero words
    THugeFloat narrow(20, 3); // 4 words
    ASSERT_EQ(narrow.FWordCount, 4);
    narrow.Reciprocal(); // 1/3, truncated to 4 words
    THugeFloat wide = Make(2);
    THugeFloat widened = Make(0);
    widened.Assign(narrow);
    struct Op {
        const char *Name;
        void (THugeFloatOper::*Fn)(const THugeFloatBase &);
    } ops[] = {{"Add", &THugeFloatOper::Add},
               {"Subtract", &THugeFloatOper::Subtract},
               {"SubtractRev", &THugeFloatOper::SubtractRev},
               {"Multiply", &THugeFloatOper::Multiply}};
    for (const Op &op : ops) {
        THugeFloat mixed(wide), same(wide);
        (mixed.*op.Fn)(narrow);
        (same.*op.Fn)(widened);
        EXPECT_TRUE(mixed.Equals(same)) << op.Name << ": " << Describe(mixed) << " vs " << Describe(same);
    }
}

TEST_F(HugeOperFixture, ReciprocalLeavesNoViewBehind) {
    THugeFloat x = Make(3);
    const int n = x.FWordCount;
    uint32_t *mantissa = x.FMantissa;
    x.Reciprocal();
    EXPECT_EQ(x.FWordCount, n);
    EXPECT_EQ(x.FMantissa, mantissa);
    // and the result does not depend on what the scratch values held before
    THugeFloat again = Make(3);
    again.Reciprocal();
    EXPECT_TRUE(again.Equals(x));
}

} // namespace

namespace {
// Words for the kernel tests (xorshift).
struct WordSource {
    uint32_t State;
    uint32_t operator()() {
        State ^= State << 13;
        State ^= State >> 17;
        State ^= State << 5;
        return State;
    }
};

// The machine-specific column kernels against the plain C++ ones, for every
// width from 1 to 120, every starting column and words that make every carry
// ripple.
TEST(HugeOper, ColumnKernelsAgreeWithThePortableOnes) {
    WordSource next{12345};
    for (int n = 1; n <= 120; ++n) {
        for (int pattern = 0; pattern < 3; ++pattern) {
            std::vector<uint32_t> a(n), b(n);
            for (int i = 0; i < n; ++i) {
                a[i] = pattern == 1 ? 0xFFFFFFFFu : next();
                b[i] = pattern == 2 ? (i % 2 ? 0xFFFFFFFFu : 0u) : next();
            }
            for (int from : {0, 1, n - 1, 2 * n - 2}) {
                if (from < 0 || from > 2 * n - 2)
                    continue;
                std::vector<uint32_t> fast(2 * n + 2, 0xDEADBEEF), plain(2 * n + 2, 0xDEADBEEF);
                HugeKernel::MultiplyColumns(a.data(), b.data(), n, from, fast.data());
                HugeKernel::MultiplyColumnsPortable(a.data(), b.data(), n, from, plain.data());
                ASSERT_EQ(fast, plain) << "multiply n=" << n << " from=" << from << " pattern " << pattern;
                HugeKernel::SquareColumns(a.data(), n, from, fast.data());
                HugeKernel::SquareColumnsPortable(a.data(), n, from, plain.data());
                ASSERT_EQ(fast, plain) << "square n=" << n << " from=" << from << " pattern " << pattern;
            }
        }
    }
}
} // namespace

namespace {
// Karatsuba's products against the column kernels, around the widths where the method starts and
// up to the largest numbers, with words that make every carry of the sums and the joins ripple.
TEST(HugeOper, KaratsubaProductsAgreeWithTheColumnKernels) {
    WordSource next{987654321};
    const int base = HugeKernel::KaratsubaBaseWords, top = HugeKernel::KaratsubaTopWords;
    const int squareBase = HugeKernel::KaratsubaSquareBaseWords,
              squareTop = HugeKernel::KaratsubaSquareTopWords;
    for (int n : {base, base + 1, 2 * base + 1, squareBase, squareBase + 1, 2 * squareBase + 1, top, top + 1,
                  squareTop, squareTop + 1, HugeMaxWords}) {
        for (int pattern = 0; pattern < 3; ++pattern) {
            std::vector<uint32_t> a(n), b(n);
            for (int i = 0; i < n; ++i) {
                a[i] = pattern == 1 ? 0xFFFFFFFFu : next();
                b[i] = pattern == 2 ? (i % 2 ? 0xFFFFFFFFu : 0u) : (pattern == 1 ? 0xFFFFFFFFu : next());
            }
            std::vector<uint32_t> scratch(HugeKernel::KaratsubaScratchWords(n));
            std::vector<uint32_t> fast(2 * n, 0xDEADBEEF), plain(2 * n, 0xDEADBEEF);
            HugeKernel::MultiplyKaratsuba(a.data(), b.data(), n, fast.data(), scratch.data());
            HugeKernel::MultiplyColumns(a.data(), b.data(), n, 0, plain.data());
            ASSERT_EQ(fast, plain) << "multiply n=" << n << " pattern " << pattern;
            HugeKernel::SquareKaratsuba(a.data(), n, fast.data(), scratch.data());
            HugeKernel::SquareColumns(a.data(), n, 0, plain.data());
            ASSERT_EQ(fast, plain) << "square n=" << n << " pattern " << pattern;
            // the top words, with and without the scratch that lets them take the whole product
            HugeKernel::MultiplyTop(a.data(), b.data(), n, fast.data(), scratch.data());
            HugeKernel::MultiplyTop(a.data(), b.data(), n, plain.data());
            ASSERT_TRUE(std::equal(fast.begin(), fast.begin() + n + 1, plain.begin())) << "top n=" << n;
            HugeKernel::SquareTop(a.data(), n, fast.data(), scratch.data());
            HugeKernel::SquareTop(a.data(), n, plain.data());
            ASSERT_TRUE(std::equal(fast.begin(), fast.begin() + n + 1, plain.begin()))
                << "square top n=" << n;
        }
    }
}
} // namespace

namespace {
// Plain big-integer products of the test's own, lowest word first.
detail::Big MultiplyBig(const detail::Big &a, const detail::Big &b) {
    detail::Big product(a.size() + b.size(), 0u);
    for (size_t j = 0; j < b.size(); ++j) {
        uint64_t carry = 0;
        for (size_t i = 0; i < a.size(); ++i) {
            const uint64_t t = static_cast<uint64_t>(a[i]) * b[j] + product[i + j] + carry;
            product[i + j] = static_cast<uint32_t>(t);
            carry = t >> 32;
        }
        product[j + a.size()] = static_cast<uint32_t>(carry);
    }
    return product;
}

// Whether |x - y| <= bound.
bool WithinBig(const detail::Big &x, const detail::Big &y, const detail::Big &bound) {
    using namespace detail;
    const Big difference = CompareBig(x, y) >= 0 ? SubBig(x, y) : SubBig(y, x);
    return CompareBig(difference, bound) <= 0;
}

detail::Big SmallBig(uint32_t value) {
    return detail::Big(1, value);
}

// The quotients and roots of mantissas against exact integer arithmetic, for every width from 2
// to 40 and a few wider ones (so every chain of Newton widths, the unrolled small products and
// the column kernel), with top words of one bit and of 32 and lower words that make the
// residuals of the rounds cancel over many words. Each result must lie within two units of the
// exact one: x with |B^(2n-1) - a x| <= 2a, q with |a B^(n-1+s) - b q| <= 2b, s with
// |a B^(n-1+r) - s^2| <= 4s + 4.
TEST(HugeOper, QuotientAndRootWordsAreWithinTwoUnits) {
    using namespace detail;
    WordSource next{4242};
    std::vector<int> widths;
    for (int n = 2; n <= 40; ++n)
        widths.push_back(n);
    for (int n : {57, 64, 105, 130})
        widths.push_back(n);
    const uint32_t tops[] = {1u, 2u, 0x80000000u, 0xFFFFFFFFu, 0x12345u, 0};
    for (int n : widths) {
        std::vector<uint32_t> scratch(HugeKernel::QuotientScratchWords(n));
        for (int pattern = 0; pattern < 12; ++pattern) {
            Big a(n), b(n);
            for (int i = 0; i < n; ++i) {
                const int kind = (pattern + i) % 4;
                a[i] = pattern % 3 == 0 ? 0u : (pattern % 3 == 1 ? 0xFFFFFFFFu : next());
                b[i] = kind == 0 ? 0u : (kind == 1 ? 0xFFFFFFFFu : next());
            }
            a[n - 1] = tops[pattern % 6] ? tops[pattern % 6] : next() | 1u;
            b[n - 1] = tops[(pattern + 3) % 6] ? tops[(pattern + 3) % 6] : next() | 1u;
            if (a[n - 1] == 1)
                a[0] |= 1u; // not a power of the word base, whose reciprocal does not fit
            const std::string where = "n=" + std::to_string(n) + " pattern " + std::to_string(pattern);

            Big x(n);
            HugeKernel::ReciprocalWords(a.data(), n, x.data(), scratch.data());
            EXPECT_NE(x[n - 1], 0u) << where;
            EXPECT_TRUE(WithinBig(Shifted({1u}, 2 * n - 1), MultiplyBig(a, x), MultiplyBig(a, SmallBig(2))))
                << "reciprocal " << where;

            Big q(n);
            const bool below = HugeKernel::QuotientWords(a.data(), b.data(), n, q.data(), scratch.data());
            EXPECT_EQ(below, CompareBig(a, b) < 0) << where;
            EXPECT_NE(q[n - 1], 0u) << where;
            EXPECT_TRUE(WithinBig(Shifted(a, n - 1 + (below ? 1 : 0)), MultiplyBig(b, q),
                                  MultiplyBig(b, SmallBig(2))))
                << "quotient " << where;

            for (int r = 0; r <= 1; ++r) {
                Big s(n);
                HugeKernel::RootWords(a.data(), n, r, s.data(), scratch.data());
                EXPECT_NE(s[n - 1], 0u) << where;
                const Big bound = AddBig(MultiplyBig(s, SmallBig(4)), SmallBig(4));
                EXPECT_TRUE(WithinBig(Shifted(a, n - 1 + r), MultiplyBig(s, s), bound))
                    << "root r=" << r << " " << where;
            }
        }
    }
}
} // namespace

namespace {
// Quotients of up to LongDivisionWords words are the exact truncated ones:
// b q <= a B^(n-1+s) < b (q + 1). Words of 0, 1 and next to 2^31 and 2^32 make the estimated
// digit one too large, so that the divisor is added back, and the remainder's top word equal to
// the divisor's (the digit B - 1); the first case needs both.
TEST(HugeOper, QuotientsOfFewWordsAreExact) {
    using namespace detail;
    const uint32_t extremes[] = {0u, 1u, 2u, 0x7FFFFFFFu, 0x80000000u, 0x80000001u, 0xFFFFFFFEu, 0xFFFFFFFFu};
    WordSource next{2024};
    std::vector<std::pair<Big, Big>> cases = {{{0u, 0u, 1u}, {1u, 0u, 1u}}};
    for (int n = 2; n <= HugeKernel::LongDivisionWords; ++n)
        for (int k = 0; k < 60; ++k) {
            Big a(n), b(n);
            for (int i = 0; i < n; ++i) {
                a[i] = extremes[next() % 8];
                b[i] = k % 4 == 3 ? next() : extremes[next() % 8];
            }
            a[n - 1] |= a[n - 1] == 0 ? 1u : 0u;
            b[n - 1] |= b[n - 1] == 0 ? 0x80000000u : 0u;
            cases.emplace_back(a, b);
        }
    for (const auto &[a, b] : cases) {
        const int n = static_cast<int>(a.size());
        if (CompareBig(a, b) == 0)
            continue;
        std::vector<uint32_t> scratch(HugeKernel::QuotientScratchWords(n));
        Big q(n);
        const bool below = HugeKernel::QuotientWords(a.data(), b.data(), n, q.data(), scratch.data());
        const Big dividend = Shifted(a, n - 1 + (below ? 1 : 0));
        std::string where = "n=" + std::to_string(n) + " a";
        for (int i = n - 1; i >= 0; --i)
            where += " " + std::to_string(a[i]);
        where += " b";
        for (int i = n - 1; i >= 0; --i)
            where += " " + std::to_string(b[i]);
        EXPECT_LE(CompareBig(MultiplyBig(b, q), dividend), 0) << where;
        EXPECT_GT(CompareBig(MultiplyBig(b, AddBig(q, SmallBig(1))), dividend), 0) << where;
    }
}
} // namespace

namespace {
// The same kernels within one unit, for arguments whose top word holds 1, 2, 16, 31 or 32 bits
// above lower words of all ones or random: a top word of few bits leaves the 80-bit estimate and
// the truncated arguments of the early rounds fewer bits than the result's top word asks for.
TEST(HugeOper, QuotientAndRootWordsAreWithinOneUnitForEveryTopWord) {
    using namespace detail;
    WordSource next{777};
    const uint32_t tops[] = {1u, 3u, 0xFFFFu, 0x7FFFFFFFu, 0x80000001u, 0xFFFFFFFFu};
    for (int n = 2; n <= 40; ++n) {
        std::vector<uint32_t> scratch(HugeKernel::QuotientScratchWords(n));
        for (uint32_t topA : tops) {
            for (uint32_t topB : tops) {
                for (int lower = 0; lower < 2; ++lower) {
                    Big a(n), b(n);
                    for (int i = 0; i < n - 1; ++i) {
                        a[i] = lower == 0 ? 0xFFFFFFFFu : next();
                        b[i] = next();
                    }
                    a[n - 1] = topA;
                    b[n - 1] = topB;
                    const std::string where = "n=" + std::to_string(n) + " tops " + std::to_string(topA) +
                                              " " + std::to_string(topB) + " lower " + std::to_string(lower);
                    Big x(n);
                    HugeKernel::ReciprocalWords(a.data(), n, x.data(), scratch.data());
                    ASSERT_TRUE(WithinBig(Shifted({1u}, 2 * n - 1), MultiplyBig(a, x), a))
                        << "reciprocal " << where;
                    Big q(n);
                    const bool below =
                        HugeKernel::QuotientWords(a.data(), b.data(), n, q.data(), scratch.data());
                    ASSERT_TRUE(WithinBig(Shifted(a, n - 1 + (below ? 1 : 0)), MultiplyBig(b, q), b))
                        << "quotient " << where;
                    for (int r = 0; r <= 1; ++r) {
                        Big s(n);
                        HugeKernel::RootWords(a.data(), n, r, s.data(), scratch.data());
                        const Big bound = AddBig(MultiplyBig(s, SmallBig(2)), SmallBig(1));
                        ASSERT_TRUE(WithinBig(Shifted(a, n - 1 + r), MultiplyBig(s, s), bound))
                            << "root r=" << r << " " << where;
                    }
                }
            }
        }
    }
}
} // namespace

namespace {
// Products of unequal operands, column by column, against the test's own product: every shape up
// to 14 words (the unrolled products up to six words and the column loop beyond, which takes two
// columns at a time), the whole product and all columns but the top one (an odd or even count).
TEST(HugeOper, ProductColumnsAgreeWithPlainProducts) {
    using namespace detail;
    WordSource next{31337};
    for (int na = 1; na <= 14; ++na) {
        for (int nb = 1; nb <= 14; ++nb) {
            for (int pattern = 0; pattern < 2; ++pattern) {
                Big a(na), b(nb);
                for (uint32_t &word : a)
                    word = pattern == 0 ? 0xFFFFFFFFu : next();
                for (uint32_t &word : b)
                    word = pattern == 0 ? 0xFFFFFFFFu : next();
                const Big exact = MultiplyBig(a, b);
                const int last = na + nb - 2;
                std::vector<uint32_t> out(na + nb + 1, 0xDEADBEEF);
                HugeKernel::ProductColumns(a.data(), na, b.data(), nb, 0, last, out.data());
                EXPECT_TRUE(std::equal(exact.begin(), exact.end(), out.begin()))
                    << na << " x " << nb << " pattern " << pattern;
                if (last >= 1) {
                    HugeKernel::ProductColumns(a.data(), na, b.data(), nb, 0, last - 1, out.data());
                    EXPECT_TRUE(std::equal(exact.begin(), exact.begin() + last, out.begin()))
                        << na << " x " << nb << " to " << last - 1 << " pattern " << pattern;
                }
            }
        }
    }
}
} // namespace
