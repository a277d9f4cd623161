#include <gtest/gtest.h>

#include "vexStrings.h"

namespace {

TEST(vexStringsTest, ListRoutines) {
    EXPECT_FALSE(ContainsItem("a,bc", "b", ','));
    EXPECT_TRUE(ContainsItem("a,B", "b", ','));
    EXPECT_TRUE(ContainsItem("x", "X", ','));
    EXPECT_FALSE(ContainsItem("a, b", "b", ','));
    std::string list = " a , b ,c ";
    TidySeparatedList(list, ',');
    EXPECT_EQ(list, "a,b,c");
    std::string blanks = "  \t ";
    TidySeparatedList(blanks, ',');
    EXPECT_EQ(blanks, "");
    EXPECT_EQ(ItemAt("a;b", 3, ';'), "");
    EXPECT_EQ(ItemAt("a;;c", 3, ';'), "c");
    EXPECT_EQ(CountItems("", ';'), 0);
    EXPECT_EQ(CountItems("a;", ';'), 2);
}

TEST(vexStringsTest, NumberTexts) {
    struct Case {
        std::string text, expected;
    } cases[] = {
        {IntegerText(-5, 4, '0'), "-005"},
        {IntegerText(-5, 4, ' '), "  -5"},
        {IntegerText(-5, -4, ' '), "-5  "},
        {IntegerText(std::int32_t(-2147483647 - 1)), "-2147483648"},
        {IntegerText(std::uint32_t(4294967295u)), "4294967295"},
        {IntegerText(std::int64_t(-1234567890123LL), 1, '0'), "-1234567890123"},
        {HexText(0u, 1, '0'), "$0"},
        {HexText(0x1au, 1, '0'), "$1a"},
        {HexText(0x1au, 8, '0'), "$0000001a"},
        {HexText(0x1a2bu, 8, ' '), "   $1a2b"},
        {HexText(0x1au, -4, '0'), "$1a00"},
        {HexText(std::uint64_t(0x100000002ULL), 1, '0'), "$100000002"},
        {PadText("ab", 4, '.'), "..ab"},
        {PadText("ab", -4, '.'), "ab.."},
        {PadText("abcde", 4, '.'), "abcde"},
        {ByteSizeText(1023), "1023 Bytes"},
        {ByteSizeText(-1023), "1023 Bytes"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.text, c.expected);
    // The separator is the user's; the digits around it are fixed.
    const std::string sep(1, DecimalSeparatorChar());
    EXPECT_EQ(ByteSizeText(1024), "1" + sep + "00 KB");
    EXPECT_EQ(ByteSizeText(1536), "1" + sep + "50 KB");
    EXPECT_EQ(ByteSizeText(1048576), "1" + sep + "00 MB");
    EXPECT_EQ(ByteSizeText(3LL << 30), "3" + sep + "00 GB");
    EXPECT_EQ(ParseInteger(true, "-1aG", 4), -0x1a0);
    EXPECT_EQ(ParseInteger(false, "123", 2), 12);
}

TEST(vexStringsTest, Searching) {
    struct Case {
        int found, expected;
    } cases[] = {
        {FindSubstring("ab", "xabab", 1, 5), 2},
        {FindSubstring("ab", "xabab", 5, 1), 4},
        {FindSubstring("ab", "xabab", 3, 5), 4},
        {FindSubstring("ab", "xabab", 0, 5), 0},
        {FindSubstring("AB", "xabab", 1, 5), 0},
        {FindSubstringIgnoreCase("AB", "xabab", 1, 5), 2},
        {FindSubstring("", "xabab", 1, 5), 0},
        {FindSubstring("xababx", "xabab", 1, 5), 0},
        {FindSubstringIgnoreCase("\xC4", "a\xE4", 1, 2), 2},
        {FindCharInSet(MakeCharSet(",;"), "a,b;c", 1, 99), 2},
        {FindCharInSet(MakeCharSet(",;"), "a,b;c", 99, 1), 4},
        {FindCharInSet(MakeCharSet(",;"), "abc", 1, 3), 0},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(cases[i].found, cases[i].expected) << i;
    EXPECT_TRUE(StartsWithIgnoreCase("", "abc"));
    EXPECT_TRUE(StartsWithIgnoreCase("AB", "abc"));
    EXPECT_FALSE(StartsWithIgnoreCase("abcd", "abc"));
    EXPECT_TRUE(EqualIgnoreCase("\x8A\xC0Z", "\x9A\xE0z"));
    EXPECT_FALSE(EqualIgnoreCase("\xD7", "\xF7"));
    EXPECT_EQ(UpperCaseText("az\xE4\xF6\xFC\xE0"), "AZ\xC4\xD6\xDC\xE0");
}

TEST(vexStringsTest, Editing) {
    std::string blanks = "a     b  c";
    EXPECT_TRUE(ReplaceSubstring(blanks, "  ", " ", true));
    EXPECT_EQ(blanks, "a b c");
    std::string once = "a     b";
    ReplaceSubstring(once, "  ", " ", false);
    EXPECT_EQ(once, "a   b");
    std::string growing = "aa";
    EXPECT_TRUE(ReplaceSubstring(growing, "a", "aa", false));
    EXPECT_EQ(growing, "aaaa");
    // A new part that contains the old one is not searched again even with the repeat flag, since
    // the replacing would never end.
    std::string repeated = "ab";
    EXPECT_TRUE(ReplaceSubstring(repeated, "a", "aa", true));
    EXPECT_EQ(repeated, "aab");
    std::string same = "xax";
    EXPECT_TRUE(ReplaceSubstringIgnoreCase(same, "A", "a", true));
    EXPECT_EQ(same, "xax");
    std::string longer = "aab";
    EXPECT_TRUE(ReplaceSubstring(longer, "ab", "bxb", true));
    EXPECT_EQ(longer, "abxb");
    std::string mixed = "Hello HELLO";
    EXPECT_TRUE(ReplaceSubstringIgnoreCase(mixed, "hello", "bye", false));
    EXPECT_EQ(mixed, "bye bye");
    EXPECT_FALSE(ReplaceSubstring(mixed, "x", "y", false));
    std::string chars = "a-b_c";
    EXPECT_TRUE(RemoveCharsInSet(chars, MakeCharSet("-_")));
    EXPECT_EQ(chars, "abc");
    EXPECT_FALSE(RemoveCharsInSet(chars, MakeCharSet("-_")));
    EXPECT_EQ(CopyWithout("abcdef", 2, 3), "aef");
    EXPECT_EQ(CopyWithout("abcdef", 9, 3), "abcdef");
    std::string range = "abcdef";
    KeepRange(range, 2, 3);
    EXPECT_EQ(range, "bcd");
    EXPECT_EQ(RightPart("abcdef", 2), "ef");
    EXPECT_EQ(RightPart("ab", 5), "ab");
    EXPECT_EQ(Unscramble(Unscramble("ntdll.dll")), "ntdll.dll");
    EXPECT_NE(Unscramble("ntdll.dll"), "ntdll.dll");
    EXPECT_EQ(ToWideText("a\xE4", true), std::wstring(L"a\u00E4\0", 3));
}

TEST(vexStringsTest, SystemErrorTextIsOneLine) {
    const std::string text = SystemErrorText(87);
    EXPECT_FALSE(text.empty());
    EXPECT_EQ(text.find('\n'), std::string::npos);
    EXPECT_EQ(text.find('\r'), std::string::npos);
    // A status code goes through the conversion: an access violation reads as the invalid-access error.
    EXPECT_EQ(SystemErrorText(0xC0000005u), SystemErrorText(998));
    EXPECT_EQ(SystemErrorText(0x2FFFFFFFu), "Error $2fffffff");
}

} // namespace
