#include <gtest/gtest.h>

#include <windows.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "CommonUtils.h"
#include "GenUtils.h"
#include "Graphics.h"
#include "TempFolderTest.h"

namespace {

constexpr long double Pi = 3.14159265358979323846264338327950288L;

class GenUtilsEnvironment : public ::testing::Environment {
public:
    void SetUp() override { InitializeGenUtils(); }
    void TearDown() override { FinalizeGenUtils(); }
};
const auto *const Registered = ::testing::AddGlobalTestEnvironment(new GenUtilsEnvironment);

// ---------------------------------------------------------------------------------------------
// CRC-32

TEST(GenUtilsCrc32, PublicTestVectors) {
    struct Case {
        const char *Text;
        std::uint32_t Crc;
    } cases[] = {{"123456789", 0xCBF43926u}, {"The quick brown fox jumps over the lazy dog", 0x414FA339u}};
    for (const Case &c : cases)
        EXPECT_EQ(UpdateCrc32(0, c.Text, static_cast<int>(std::strlen(c.Text))), c.Crc) << c.Text;
}

TEST(GenUtilsCrc32, ContinuesARunningValueAndHandlesEmptyInput) {
    std::vector<std::uint8_t> data(1024);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(i);
    const std::uint32_t whole = UpdateCrc32(0, data.data(), 1024);
    EXPECT_EQ(whole, 0xB70B4C26u); // Python's zlib.crc32 of bytes(range(256)) * 4
    for (int split : {1, 255, 256, 1000}) {
        const std::uint32_t first = UpdateCrc32(0, data.data(), split);
        EXPECT_EQ(UpdateCrc32(first, data.data() + split, 1024 - split), whole) << split;
    }
    EXPECT_EQ(UpdateCrc32(0x12345678u, data.data(), 0), 0x12345678u);
    EXPECT_EQ(UpdateCrc32(0x12345678u, data.data(), -5), 0x12345678u);
    EXPECT_EQ(UpdateCrc32(0x12345678u, nullptr, 10), 0u);
}

// ---------------------------------------------------------------------------------------------
// Text

TEST(GenUtilsText, MakeCopyName) {
    struct Case {
        const char *Name, *Copy;
    } cases[] = {
        {"Report", "Copy of Report"},
        {"Copy of Report", "Copy (2) of Report"},
        {"Copy (2) of Report", "Copy (3) of Report"},
        {"Copy (41) of My fractal", "Copy (42) of My fractal"},
        {"Copy (0) of X", "Copy (1) of X"},
        // No number before the first ')' or no ')' at all: the whole name gets the prefix.
        {"Copy () of Report", "Copy of Copy () of Report"},
        {"Copy (x) of Report", "Copy of Copy (x) of Report"},
        {"Copy (-3) of Report", "Copy of Copy (-3) of Report"},
        {"Copy (2 of Report", "Copy of Copy (2 of Report"},
        // Eight characters or fewer always get the prefix, also "Copy of " itself.
        {"Copy of ", "Copy of Copy of "},
        {"Copy (2)", "Copy of Copy (2)"},
        {"", "Copy of "},
        // A number that cannot be counted up any further is not taken as one.
        {"Copy (2147483647) of X", "Copy of Copy (2147483647) of X"},
        // Fewer than four characters after the ')': the rest is empty.
        {"Copy (7)ab", "Copy (8) of "},
    };
    for (const Case &c : cases)
        EXPECT_EQ(MakeCopyName(c.Name), c.Copy) << c.Name;
}

TEST(GenUtilsText, JoinLines) {
    struct Case {
        const char *In, *Out;
    } cases[] = {
        {"first\r\n  second", "first second"},
        {"first\rsecond", "first second"},
        {"\r\nstarts with a break", "starts with a break"},
        {"\rstarts with CR", "starts with CR"},
        {"ends with blank \r\nnext", "ends with blank next"},
        {"a\r\n\r\n\r\nb", "a b"},
        {"keeps  inner  blanks", "keeps  inner  blanks"},
        {"lone\nLF", "lone\nLF"},
        {"", ""},
    };
    for (const Case &c : cases)
        EXPECT_EQ(JoinLines(c.In), c.Out) << c.In;
}

TEST(GenUtilsText, EncodeAndDecodeLineBreaks) {
    struct Case {
        const char *Plain, *Encoded;
    } cases[] = {
        {"a/b\r\nc", "a//b/nc"}, {"\r\n\r\n", "/n/n"}, {"//", "////"}, {"no breaks", "no breaks"}, {"", ""},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(EncodeLineBreaks(c.Plain), c.Encoded) << c.Plain;
        EXPECT_EQ(DecodeLineBreaks(c.Encoded), c.Plain) << c.Encoded;
    }
    // A lone LF is lost; a lone CR comes back as CR LF.
    EXPECT_EQ(DecodeLineBreaks(EncodeLineBreaks("a\nb")), "ab");
    EXPECT_EQ(DecodeLineBreaks(EncodeLineBreaks("a\rb")), "a\r\nb");
    // Unknown pairs and a trailing '/' are dropped.
    EXPECT_EQ(DecodeLineBreaks("a/xb/"), "ab");
}

TEST(GenUtilsText, SmallTextRoutines) {
    struct Case {
        std::string (*Routine)(const std::string &);
        const char *In, *Out;
    } cases[] = {
        {CapitalizeUpperCase, "MANDELBROT", "Mandelbrot"},
        {CapitalizeUpperCase, "JULIA SET 2", "Julia set 2"},
        {CapitalizeUpperCase, "Julia", "Julia"},
        {CapitalizeUpperCase, "123", "123"},
        {CapitalizeUpperCase, "", ""},
        {MakeValidFileName, "a\"b*c/d:e<f>g?h\\i|j", "a b c d e f g h i j"},
        {MakeValidFileName, "plain.txt", "plain.txt"},
        {RemoveQuotesAndBraces, "\"x\" {y}", "x y"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.Routine(c.In), c.Out) << c.In;
    EXPECT_TRUE(HasNoLowerCase(""));
    EXPECT_FALSE(HasNoLowerCase("ABc"));
}

TEST(GenUtilsText, FloatToShortText) {
    struct Case {
        long double Value;
        const char *Text;
    } cases[] = {
        {3.14159L, "3.141"},
        {2.5L, "2.5"},
        {-2.71828L, "-2.718"},
        {100, "100"},
        {0.0001234L, "0.000"},
        {3.1000001L, "3.100"},
        // The exponent of a very small or large number is kept; only mantissa digits are cut.
        {1.5e-10L, "1.5E-10"},
        {1.23456789e-7L, "1.234E-7"},
        {1e20L, "1E20"},
        {-6.789012e25L, "-6.789E25"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(FloatToShortText(c.Value), c.Text) << static_cast<double>(c.Value);
}

TEST(GenUtilsText, FloatToStrExactHasNineteenDigits) {
    // Reference digits: the exact value of each 80-bit number, rounded to 19 digits in Python.
    struct Case {
        long double Value;
        const char *Text;
    } cases[] = {
        {Pi, "3.141592653589793239"},
        {1.0L / 3, "0.3333333333333333333"},
        {0.1L, "0.1"},
        {-123.456L, "-123.456"},
        {6.666666666666666666666666666e-8L, "6.666666666666666667E-8"},
        {1e25L, "1E25"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(FloatToStrExact(c.Value), c.Text);
}

// ---------------------------------------------------------------------------------------------
// Numbers

TEST(GenUtilsNumbers, IntegerClamps) {
    struct Case {
        int Value, Lo, Hi, Out;
    } cases[] = {{5, 0, 10, 5}, {-5, 0, 10, 0}, {15, 0, 10, 10}, {5, 10, 0, 0}, {-5, 10, 0, 0}};
    for (const Case &c : cases)
        EXPECT_EQ(Clamp(c.Value, c.Lo, c.Hi), c.Out) << c.Value << " " << c.Lo << " " << c.Hi;
    EXPECT_EQ(Min(-3, 2), -3);
    EXPECT_EQ(Max(-3, 2), 2);
}

TEST(GenUtilsNumbers, FloatClamps) {
    struct Case {
        long double Value, Lo, Hi, Out;
    } cases[] = {{0.5L, 0, 1, 0.5L},
                 {-1, 0, 1, 0},
                 {2, 0, 1, 1},
                 {0, 0, 1, 0},
                 {1, 0, 1, 1},
                 // Lo above Hi: the high bound wins for values above it.
                 {5, 10, 0, 0}};
    for (const Case &c : cases)
        EXPECT_EQ(ClampFloat(c.Value, c.Lo, c.Hi), c.Out) << static_cast<double>(c.Value);
    EXPECT_EQ(MinFloat(1.5L, -2), -2);
    EXPECT_EQ(MaxFloat(1.5L, -2), 1.5L);
}

TEST(GenUtilsNumbers, RoundingRoutines) {
    struct Case {
        long double X;
        int Ceil, Floor, Trunc;
        long double Frac;
    } cases[] = {
        {2.5L, 3, 2, 2, 0.5L},
        {-2.5L, -2, -3, -2, -0.5L},
        {3, 3, 3, 3, 0},
        {-0.25L, 0, -1, 0, -0.25L},
        {1e9L + 0.75L, 1000000001, 1000000000, 1000000000, 0.75L},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(Ceil(c.X), c.Ceil) << static_cast<double>(c.X);
        EXPECT_EQ(Floor(c.X), c.Floor) << static_cast<double>(c.X);
        EXPECT_EQ(FastTrunc(c.X), c.Trunc) << static_cast<double>(c.X);
        EXPECT_EQ(FastFrac(c.X), c.Frac) << static_cast<double>(c.X);
    }
    // Out of the 32-bit range: the processor's integer indefinite, never undefined behaviour.
    EXPECT_EQ(Ceil(1e12L), INT_MIN);
    EXPECT_EQ(Floor(std::numeric_limits<long double>::quiet_NaN()), INT_MIN);
}

TEST(GenUtilsNumbers, TruncationRestoresTheControlWord) {
    unsigned short before = 0, after = 0;
    __asm__ __volatile__("fnstcw %0" : "=m"(before));
    FastTrunc(2.7L);
    FastFrac(2.7L);
    __asm__ __volatile__("fnstcw %0" : "=m"(after));
    EXPECT_EQ(after, before);
    // And rounding to nearest is still in force afterwards.
    EXPECT_EQ(std::lrint(2.7L), 3);
}

TEST(GenUtilsNumbers, RoundUpToMultiple) {
    struct Case {
        std::uint32_t Value, Step, Out;
    } cases[] = {{10, 4, 12}, {12, 4, 12},          {0, 7, 0},
                 {1, 1, 1},   {4294967295u, 16, 0}, {4294967280u, 16, 4294967280u},
                 {5, 0, 5}};
    for (const Case &c : cases)
        EXPECT_EQ(RoundUpToMultiple(c.Value, c.Step), c.Out) << c.Value << " " << c.Step;
}

TEST(GenUtilsNumbers, FloatComparisons) {
    EXPECT_TRUE(SameFloat(1.0, 1.05, 0.1));
    EXPECT_FALSE(SameFloat(1.0, 1.2, 0.1));
    EXPECT_EQ(CompareFloat(1, 2), -1);
    EXPECT_EQ(CompareFloat(2, 2), 0);
    EXPECT_EQ(CompareFloat(3, 2), 1);
    EXPECT_EQ(PowerFloat(0, 3), 0);
    EXPECT_NEAR(static_cast<double>(PowerFloat(2, 10)), 1024, 1e-12);
    EXPECT_NEAR(static_cast<double>(Tan(Pi / 4)), 1, 1e-15);
}

TEST(GenUtilsNumbers, NormalizeAngleStaysInRange) {
    const long double twoPi = 2 * Pi;
    struct Case {
        long double In;
        long double Expected; // NaN: only the range is checked
    } cases[] = {
        {0, 0},
        {-0.0L, 0},
        {1, 1},
        {twoPi, 0},
        {7 * Pi, Pi},
        {-Pi / 2, 3 * Pi / 2},
        {-twoPi, 0},
        {-1e-30L, std::numeric_limits<long double>::quiet_NaN()},
        {-1e-19L, std::numeric_limits<long double>::quiet_NaN()},
        {1e30L, std::numeric_limits<long double>::quiet_NaN()},
        {-1e30L, std::numeric_limits<long double>::quiet_NaN()},
        {std::numeric_limits<long double>::infinity(), 0},
    };
    for (const Case &c : cases) {
        const long double out = NormalizeAngle(c.In);
        EXPECT_GE(out, 0.0L) << static_cast<double>(c.In);
        EXPECT_LT(out, twoPi) << static_cast<double>(c.In);
        EXPECT_FALSE(std::signbit(out)) << static_cast<double>(c.In);
        if (!std::isnan(c.Expected)) {
            EXPECT_NEAR(static_cast<double>(out), static_cast<double>(c.Expected), 1e-12)
                << static_cast<double>(c.In);
        }
    }
}

TEST(GenUtilsNumbers, VectorAngle) {
    struct Case {
        int Y, X;
        long double Angle;
    } cases[] = {
        // The axes are exact.
        {0, 5, 0},
        {0, 0, 0},
        {0, -5, Pi},
        {7, 0, Pi / 2},
        {-3, 0, 3 * Pi / 2},
        // The quadrants, against the arc tangent of the library.
        {1, 1, Pi / 4},
        {1, -1, 3 * Pi / 4},
        {-1, -1, 5 * Pi / 4},
        {-1, 1, 7 * Pi / 4},
        {3, 4, std::atan2(3.0L, 4.0L)},
        {-3, 4, 2 * Pi + std::atan2(-3.0L, 4.0L)},
    };
    for (const Case &c : cases) {
        const long double angle = VectorAngle(c.Y, c.X);
        if (c.X == 0 || c.Y == 0) {
            EXPECT_EQ(angle, c.Angle) << c.Y << " " << c.X;
        } else { // the quotient passes through single precision
            EXPECT_NEAR(static_cast<double>(angle), static_cast<double>(c.Angle), 1e-7) << c.Y << " " << c.X;
        }
    }
}

TEST(GenUtilsNumbers, ArcTan2) {
    struct Case {
        long double Y, X, Angle;
    } cases[] = {
        {0, -1, -Pi}, // not +pi: Y = 0 counts as "not above"
        {0, 0, -Pi / 2},
        {1, 0, Pi / 2},
        {-1, 0, -Pi / 2},
        {3, 4, std::atan2(3.0L, 4.0L)},
        {3, -4, std::atan2(3.0L, -4.0L)},
        {-3, -4, std::atan2(-3.0L, -4.0L)},
    };
    for (const Case &c : cases)
        EXPECT_NEAR(static_cast<double>(ArcTan2(c.Y, c.X)), static_cast<double>(c.Angle), 1e-15)
            << static_cast<double>(c.Y) << " " << static_cast<double>(c.X);
}

TEST(GenUtilsNumbers, RectArea) {
    RECT r{10, 20, 40, 30};
    EXPECT_EQ(RectArea(r), 300);
    struct Rect {
        int Left, Top, Right, Bottom;
    } d{0, 0, 5, 4};
    EXPECT_EQ(RectArea(d), 20);
}

// ---------------------------------------------------------------------------------------------
// Dates

TEST(GenUtilsDates, TextsOfADate) {
    const TDateTime release = EncodeDate(2004, 8, 19);
    EXPECT_EQ(DateToLongText(release), "August 19, 2004");
    EXPECT_EQ(DateToShortText(release), "8/19/2004");
    EXPECT_EQ(DateToLongText(EncodeDate(1999, 1, 2)), "January 2, 1999");
    EXPECT_EQ(DateToShortText(EncodeDate(2010, 12, 31)), "12/31/2010");
}

TEST(GenUtilsDates, LongTextToDateAcceptsVariants) {
    const TDateTime release = EncodeDate(2004, 8, 19);
    for (const char *text : {"August 19, 2004", "august 19 2004", "AUGUST\t19,2004", "August19,,2004"})
        EXPECT_EQ(LongTextToDate(text), release) << text;
    EXPECT_EQ(LongTextToDate(DateToLongText(EncodeDate(2000, 2, 29))), EncodeDate(2000, 2, 29));
}

TEST(GenUtilsDates, BadTextsRaise) {
    struct Case {
        TDateTime (*Parse)(const std::string &);
        const char *Text;
        const char *Message; // nullptr: any EConvertError
    } cases[] = {
        {LongTextToDate, "Aug 19, 2004", "'Aug 19, 2004' is not a valid date"},
        {LongTextToDate, "August , 2004", "'August , 2004' is not a valid date"},
        {LongTextToDate, "August 19", "'August 19' is not a valid date"},
        {LongTextToDate, "", "'' is not a valid date"},
        {LongTextToDate, "February 30, 2004", nullptr},
        // Absurd numbers must not wrap into a valid date.
        {LongTextToDate, "August 19, 67540", nullptr},
        {ShortTextToDate, "8-19-2004", "'8-19-2004' is not a valid date"},
        {ShortTextToDate, "8/19", "'8/19' is not a valid date"},
        {ShortTextToDate, "8/x/2004", "'8/x/2004' is not a valid date"},
        {ShortTextToDate, "13/1/2004", nullptr},
        {ShortTextToDate, "8/19/67540", nullptr},
    };
    for (const Case &c : cases) {
        try {
            c.Parse(c.Text);
            ADD_FAILURE() << "no error for " << c.Text;
        } catch (const EConvertError &e) {
            if (c.Message) {
                EXPECT_EQ(e.Message(), c.Message);
            }
        }
    }
    EXPECT_EQ(ShortTextToDate("8/19/2004"), EncodeDate(2004, 8, 19));
}

// ---------------------------------------------------------------------------------------------
// Paths

TEST(GenUtilsPaths, PathTexts) {
    struct Case {
        std::string (*Routine)(const std::string &);
        const char *In, *Out;
    } cases[] = {
        {AddTrailingBackslash, "C:\\a", "C:\\a\\"},
        {AddTrailingBackslash, "C:\\a\\", "C:\\a\\"},
        {AddTrailingBackslash, "", ""},
        {RemoveTrailingBackslash, "C:\\a\\\\", "C:\\a\\"},
        {RemoveTrailingBackslash, "C:\\a", "C:\\a"},
        {RemoveTrailingBackslash, "", ""},
        {ExtractFileTitle, "C:\\dir.x\\name.tar.gz", "name.tar"},
        {ExtractFileTitle, "C:name", "name"},
        {ExtractFileTitle, "dir.x\\noext", "noext"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.Routine(c.In), c.Out) << c.In;
    struct RelativeCase {
        const char *Path;
        bool Relative;
    } relative[] = {{"a\\b", true},   {"", false},    {"\\a", false},
                    {"C:\\a", false}, {"C:a", false}, {".\\a", true}};
    for (const RelativeCase &c : relative)
        EXPECT_EQ(IsRelativePath(c.Path), c.Relative) << c.Path;
}

TEST(GenUtilsPaths, ProgramFolderHoldsTheProgram) {
    const std::string folder = GetProgramFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.back(), '\\');
    EXPECT_TRUE(FileExists(folder + "FoundationTests.exe"));
}

class GenUtilsFiles : public TTempFolderTest {
protected:
    GenUtilsFiles() : TTempFolderTest("GenUtilsTest") {}
};

TEST_F(GenUtilsFiles, LongNamesComeBackInTheirStoredCase) {
    ASSERT_TRUE(CreateDir(Root + "MixedCase Folder"));
    Put("MixedCase Folder\\Some File.TXT", "x");
    const std::string typed = LowerCase(Root + "mixedcase folder\\some file.txt");
    const std::string expanded = ExpandLongFileName(typed);
    EXPECT_TRUE(SameText(expanded, Root + "MixedCase Folder\\Some File.TXT")) << expanded;
    EXPECT_NE(expanded.find("MixedCase Folder\\Some File.TXT"), std::string::npos) << expanded;
    EXPECT_EQ(GetLongComponentName("", "c:"), "C:");
    EXPECT_EQ(GetLongComponentName(Root, "missing.txt"), "missing.txt");
    // A wildcard is never replaced by whatever entry it happens to match.
    EXPECT_EQ(GetLongComponentName(Root, "*"), "*");
}

TEST_F(GenUtilsFiles, CopiesAndMovesFolderTrees) {
    ASSERT_TRUE(ForceDirectories(Root + "src\\sub"));
    Put("src\\a.txt", "alpha");
    Put("src\\sub\\b.txt", "beta");

    CopyOrMoveFolder(Root + "src", Root + "copy", cmfCopy);
    EXPECT_EQ(Get("copy\\a.txt"), "alpha");
    EXPECT_EQ(Get("copy\\sub\\b.txt"), "beta");
    EXPECT_EQ(Get("src\\a.txt"), "alpha");

    CopyOrMoveFolder(Root + "src", Root + "moved", 0);
    EXPECT_FALSE(DirectoryExists(Root + "src"));
    EXPECT_EQ(Get("moved\\sub\\b.txt"), "beta");

    // Into its own subfolder: nothing at all happens (letter case ignored).
    CopyOrMoveFolder(Root + "moved", Root + "MOVED\\sub\\inner", cmfCopy);
    EXPECT_FALSE(DirectoryExists(Root + "moved\\sub\\inner"));
    CopyOrMoveFolder(Root + "moved\\", Root + "moved", 0);
    EXPECT_EQ(Get("moved\\a.txt"), "alpha");
}

TEST_F(GenUtilsFiles, CopyOntoAnExistingFile) {
    Put("new.txt", "new");
    Put("old.txt", "old");
    // Without the overwrite flag both stay as they are and nothing is raised.
    CopyOrMoveFolder(Root + "new.txt", Root + "old.txt", cmfCopy);
    EXPECT_EQ(Get("old.txt"), "old");
    EXPECT_EQ(Get("new.txt"), "new");
    CopyOrMoveFolder(Root + "new.txt", Root + "old.txt", cmfCopy | cmfOverwrite);
    EXPECT_EQ(Get("old.txt"), "new");
}

TEST_F(GenUtilsFiles, MoveOntoAnExistingFile) {
    Put("new.txt", "new");
    Put("old.txt", "old");
    EXPECT_THROW(CopyOrMoveFolder(Root + "new.txt", Root + "old.txt", 0), EFileMoveError);
    EXPECT_EQ(Get("old.txt"), "old");
    CopyOrMoveFolder(Root + "new.txt", Root + "old.txt", cmfOverwrite);
    EXPECT_EQ(Get("old.txt"), "new");
    EXPECT_FALSE(FileExists(Root + "new.txt"));
}

TEST_F(GenUtilsFiles, FailuresNameThePaths) {
    const std::string missing = Root + "missing.txt";
    try {
        CopyOrMoveFolder(missing, Root + "x.txt", cmfCopy);
        ADD_FAILURE() << "copy of a missing file";
    } catch (const EFileMoveError &e) {
        EXPECT_EQ(e.Message(), Format("Could not copy '%s' to '%s'.", missing, Root + "x.txt"));
    }
    try {
        DeleteFileOrFolder(missing);
        ADD_FAILURE() << "delete of a missing file";
    } catch (const Exception &e) {
        EXPECT_EQ(e.Message(), Format("Could not delete '%s'.", missing));
    }
}

TEST_F(GenUtilsFiles, DeletesAWholeTree) {
    ASSERT_TRUE(ForceDirectories(Root + "tree\\a\\b"));
    Put("tree\\one.txt", "1");
    Put("tree\\a\\b\\two.txt", "2");
    DeleteFileOrFolder(Root + "tree\\");
    EXPECT_FALSE(DirectoryExists(Root + "tree"));
    EXPECT_TRUE(DirectoryExists(Root));
}

// ---------------------------------------------------------------------------------------------
// System

TEST(GenUtilsSystem, VersionStringsOfTheProgramFile) {
    // The test programs carry the product's version resource.
    EXPECT_FALSE(GetVersionInfoString(4).empty());
    EXPECT_FALSE(GetVersionInfoString(5).empty());
    EXPECT_EQ(GetVersionInfoString(7), "");
    EXPECT_EQ(GetVersionInfoString(-1), "");
    EXPECT_EQ(GetVersionInfoString(0, "Z:\\no\\such\\file.exe"), "");
}

TEST(GenUtilsSystem, Queries) {
    EXPECT_GE(GetProcessorCount(), 1);
    EXPECT_GT(GetScreenColorDepth(), 0);
    // The height of "0" in 8-point MS Sans Serif on the desktop, measured here on its own; a
    // design size of 13 pixels is the unit.
    HDC dc = GetDC(nullptr);
    ASSERT_NE(dc, nullptr);
    HFONT font = CreateFontA(-MulDiv(8, GetDeviceCaps(dc, LOGPIXELSY), 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE,
                             FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                             DEFAULT_PITCH | FF_DONTCARE, "MS Sans Serif");
    HGDIOBJ old = SelectObject(dc, font);
    SIZE extent{0, 0};
    GetTextExtentPoint32A(dc, "0", 1, &extent);
    SelectObject(dc, old);
    DeleteObject(font);
    ReleaseDC(nullptr, dc);
    const int height = extent.cy > 0 ? extent.cy : 13;
    for (int size : {0, 1, 13, 130, 200, -26})
        EXPECT_EQ(ScaleForScreenFont(size), size * height / 13) << size << " at height " << height;
}

TEST(GenUtilsSystem, WaitCursorStack) {
    HCURSOR before = GetCursor();
    BeginWaitCursor();
    BeginWaitCursor();
    EXPECT_EQ(GetCursor(), LoadCursor(nullptr, IDC_WAIT));
    EndWaitCursor();
    EndWaitCursor();
    EXPECT_EQ(GetCursor(), before);
    EndWaitCursor(); // nothing pushed: nothing happens
    EXPECT_EQ(GetCursor(), before);
}

struct TEventTarget {
    void Handle(TObject *) {}
    void Other(TObject *) {}
};

TEST(GenUtilsSystem, SameMethod) {
    TEventTarget a, b;
    EXPECT_TRUE(
        SameMethod(MakeNotifyEvent<&TEventTarget::Handle>(&a), MakeNotifyEvent<&TEventTarget::Handle>(&a)));
    EXPECT_FALSE(
        SameMethod(MakeNotifyEvent<&TEventTarget::Handle>(&a), MakeNotifyEvent<&TEventTarget::Handle>(&b)));
    EXPECT_FALSE(
        SameMethod(MakeNotifyEvent<&TEventTarget::Handle>(&a), MakeNotifyEvent<&TEventTarget::Other>(&a)));
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Progress blocks

// Expected counts and block edges from a Python transcription of the bar's arithmetic (pitch =
// (height - 2) * 2 / 3 + 2 with division toward zero; count = round(width * fraction) / pitch).
TEST(GenUtilsDrawing, ProgressBlockCount) {
    struct Case {
        RECT Rect;
        double Fraction;
        int Blocks;
    } cases[] = {
        {{0, 0, 102, 12}, 0, 0}, {{0, 0, 102, 12}, 0.5, 6}, {{0, 0, 102, 12}, 1, 12},
        {{10, 5, 60, 21}, 1, 4}, {{10, 5, 60, 21}, 0.5, 2}, {{10, 5, 60, 21}, 0.3, 1},
        {{0, 0, 3, 3}, 1, 1},    {{0, 0, 1, 1}, 1, 0},      {{0, 0, 0, 0}, 1, 0},
    };
    for (const Case &c : cases)
        EXPECT_EQ(DrawProgressBlocks(nullptr, c.Rect, c.Fraction), c.Blocks)
            << c.Rect.right - c.Rect.left << "x" << c.Rect.bottom - c.Rect.top << " " << c.Fraction;
}

TEST(GenUtilsDrawing, ProgressBlocksAreFilledInsideTheRectangle) {
    TBitmap bitmap(80, 30, pf24bit);
    bitmap.Canvas().Brush().SetColor(clWhite);
    bitmap.Canvas().FillRect({0, 0, 80, 30});
    EXPECT_EQ(DrawProgressBlocks(&bitmap.Canvas(), {10, 5, 60, 21}, 1), 4);
    const TColor highlight = static_cast<TColor>(ColorToRGB(clHighlight));
    // Each block spans its columns from row top + 2 to bottom - 2.
    std::vector<int> filled;
    for (int x = 0; x < 80; ++x) {
        const bool inBlock = bitmap.Canvas().Pixels(x, 12) == highlight;
        if (inBlock)
            filled.push_back(x);
        if (inBlock) {
            EXPECT_EQ(bitmap.Canvas().Pixels(x, 7), highlight) << x;
            EXPECT_EQ(bitmap.Canvas().Pixels(x, 18), highlight) << x;
            EXPECT_NE(bitmap.Canvas().Pixels(x, 6), highlight) << x;
            EXPECT_NE(bitmap.Canvas().Pixels(x, 19), highlight) << x;
        }
    }
    std::vector<int> expected;
    for (auto [from, to] : {std::pair{12, 21}, {23, 32}, {34, 43}, {45, 54}})
        for (int x = from; x < to; ++x)
            expected.push_back(x);
    EXPECT_EQ(filled, expected);
}
