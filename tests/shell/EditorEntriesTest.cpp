// File kinds, new-entry skeletons, the current-entry scan, the entry list and going to entries.
#include <string>

#include <gtest/gtest.h>

#include "EditorEntries.h"
#include "EditorTestSupport.h"

namespace {

// Lines given with '\n', as CR LF text.
std::string CrLf(const std::string &Text) {
    std::string out;
    for (char c : Text)
        out += c == '\n' ? std::string("\r\n") : std::string(1, c);
    return out;
}

TEST(EditorKindTest, ExtensionChoosesTheKind) {
    struct {
        const char *Name;
        TEditorKind Kind;
    } cases[] = {
        {"a.oxf", TEditorKind::Transformation},   {"C:\\f\\b.OFM", TEditorKind::Formula},
        {"c.frm", TEditorKind::Formula},          {"d.ocl", TEditorKind::Coloring},
        {"e.Opr", TEditorKind::Parameter},        {"f.par", TEditorKind::Parameter},
        {"g.ogr", TEditorKind::Gradient},         {"h.oal", TEditorKind::Gradient},
        {"i.map", TEditorKind::Gradient},         {"j.txt", TEditorKind::Text},
        {"C:\\x.ofm\\readme", TEditorKind::Text}, {"noext", TEditorKind::Text},
    };
    for (const auto &c : cases)
        EXPECT_EQ(EditorKindOfFile(c.Name), c.Kind) << c.Name;
    EXPECT_STREQ(EditorKindInfo(TEditorKind::Coloring).SaveTitle, "Save Coloring Algorithm File");
    EXPECT_STREQ(EditorKindInfo(TEditorKind::Transformation).CaptionPrefix, "Transformation");
    EXPECT_EQ(EditorKindInfo(TEditorKind::Text).FilterIndex, 6);
}

TEST(EditorNewEntryTest, FormulaWithoutCommentsAndGlobalOnAnEmptyFile) {
    const TNewEntryEdit edit = MakeNewEntry(TEditorKind::Formula, "", {"Test", "XAXIS", false, false});
    EXPECT_EQ(edit.KeepLength, 0);
    EXPECT_EQ(edit.Skeleton, CrLf("\nTest(XAXIS) {\ninit:\n  \n  \nloop:\n  \nbailout:\n  \ndefault:\n"
                                  "  title = \"Test\"\nswitch:\n}\n"));
    // After the two blanks of the line that follows "init:".
    EXPECT_EQ(edit.Caret, static_cast<int>(CrLf("\nTest(XAXIS) {\ninit:\n  ").size()));
}

const char *const kTransformationSkeleton = R"(
Twist {
; Here, you can describe the transformation. This text
; will appear in the browsers as comments.
; For more information about transformations, look up
; "writing transformations" in the online help index.
global:
; This section is executed once per image. This is a good
; place for initializing variables and precalculating tables.
; Variables declared here will be read-only in the rest of
; the transformation.
  
transform:
; In this section, you should take the value of the
; predefined variable #pixel, transform it, and write
; it back to #pixel.
  
  
default:
; This section contains default settings that make the
; transformation and its parameters easier to use.
  title = "Twist"
}
)";

const char *const kColoringSkeleton = R"(
Smooth(OUTSIDE) {
; Here, you can describe the coloring algorithm. This text
; will appear in the browsers as comments.
; For more information about coloring algorithms, look up
; "writing coloring algorithms" in the online help index.
global:
; This section is executed once per image. This is a good
; place for initializing variables and precalculating tables.
; Variables declared here will be read-only in the rest of
; the coloring algorithm.
  
init:
; The code in this section is executed once per pixel, before
; the iteration loop is entered. It should set up variables
; used in the loop: section. If you don't use the loop:
; section, you can remove this section, too.
  
  
loop:
; The code in this section is repeatedly executed in parallel
; with the code in the loop: section of the fractal formula.
; This code should read the #z variable, which is being
; manipulated by the fractal formula, and perform calculations
; to enable the code in the final: section to calculate the
; resulting color/index value of the pixel.
; You can remove this section if you don't need the value of
; #z, or if you only need it in the final: section.
  
final:
; In this section, you should compute a color or index value
; for the pixel being calculated and assign it to the predefined
; variables #color or #index. You can use the values of #z and 
; #maxiter to do this.
  
default:
; This section contains default settings that make the
; coloring algorithm and its parameters easier to use.
  title = "Smooth"
}
)";

const char *const kFormulaSkeleton = R"(
MyFormula {
; Here, you can describe the fractal formula. This text
; will appear in the browsers as comments.
; For more information about fractal formulas, look up
; "writing fractal formulas" in the online help index.
global:
; This section is executed once per image. This is a good
; place for initializing variables and precalculating tables.
; Variables declared here will be read-only in the rest of
; the fractal formula.
  
init:
; The code in this section is executed once per pixel, before
; the iteration loop is entered. It should set up variables
; used in the loop: section.
  
  
loop:
; The code in this section is repeatedly executed, until
; either the maximum iteration count has been reached (then
; the pixel being computed is considered to be inside), or
; the boolean expression in the bailout: section becomes
; false (then the pixel is considered to be outside).
  
bailout:
; This section should contain a boolean expression, such as
; |z| < 4. When this expression becomes false, the iteration
; loop is stopped, and the pixel is considered to be outside.
  
default:
; This section contains default settings that make the
; fractal formula and its parameters easier to use.
  title = "My formula"
switch:
; This section is optional and can be used to specify a formula
; in the same file that forms a switch pair with this formula.
; This is the case for example with Mandelbrot and Julia sets.
}
)";

TEST(EditorNewEntryTest, EachKindWithCommentsAndGlobalOnAnEmptyFile) {
    struct {
        TEditorKind Kind;
        TNewEntryOptions Options;
        const char *Skeleton;
        const char *CaretAfter; // the skeleton up to the caret ends with this line and two blanks
    } cases[] = {
        {TEditorKind::Transformation,
         {"Twist", "", true, true},
         kTransformationSkeleton,
         "; it back to #pixel.\n  "},
        {TEditorKind::Coloring,
         {"Smooth", "OUTSIDE", true, true},
         kColoringSkeleton,
         "; section, you can remove this section, too.\n  "},
        {TEditorKind::Formula,
         {"My formula", "", true, true},
         kFormulaSkeleton,
         "; used in the loop: section.\n  "},
        {TEditorKind::Parameter,
         {"My formula", "", true, true},
         kFormulaSkeleton,
         "; used in the loop: section.\n  "},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Options.Title);
        const TNewEntryEdit edit = MakeNewEntry(c.Kind, "", c.Options);
        EXPECT_EQ(edit.Skeleton, CrLf(c.Skeleton));
        const std::string head = CrLf(c.CaretAfter);
        ASSERT_GE(edit.Caret, static_cast<int>(head.size()));
        EXPECT_EQ(edit.Skeleton.substr(edit.Caret - head.size(), head.size()), head);
    }
}

TEST(EditorNewEntryTest, TrailingBlankLinesGoAndOneEmptyLineSeparatesTheEntries) {
    auto text = TEditorStringText::Make("Test {\n}\n  \n\t\n");
    InsertNewEntry(text, TEditorKind::Formula, {"Test", "", false, false});
    const std::string expected = "Test {\n}\n\nTest1 {\ninit:\n  |\n  \nloop:\n  \nbailout:\n  \ndefault:\n  "
                                 "title = \"Test\"\nswitch:\n}\n";
    EXPECT_EQ(text.Marked(), expected);
    EXPECT_EQ(text.Replacements, 1);
}

TEST(EditorNewEntryTest, TransformationWithoutGlobalSectionKeepsTheOtherComments) {
    const TNewEntryEdit edit = MakeNewEntry(TEditorKind::Transformation, "x", {"T", "", true, false});
    EXPECT_EQ(edit.Skeleton.find("global:"), std::string::npos);
    EXPECT_EQ(edit.Skeleton.find("; the transformation."), std::string::npos);
    EXPECT_EQ(edit.Skeleton.substr(0, 13), "\r\n\r\nT {\r\n; He");
    EXPECT_NE(edit.Skeleton.find("transform:\r\n; In this section"), std::string::npos);
}

// Lines 0..9 of a file with two entries and a comment entry.
const char *const kEntriesText = "; file\n"          // 0
                                 "First {\n"         // 1
                                 "init:\n"           // 2
                                 "  z = 0\n"         // 3
                                 "}\n"               // 4
                                 "between\n"         // 5
                                 "comment {\n"       // 6
                                 "  words\n"         // 7
                                 "}\n"               // 8
                                 "second(XAXIS) {\n" // 9
                                 "  loop:\n"         // 10
                                 "}";                // 11

TEST(EditorEntryScanTest, ShowsTheEntryOfTheCaretAndNothingOutside) {
    const std::string text = TEditorStringText::Make(kEntriesText).GetText();
    TEntryScanState state;
    EXPECT_EQ(ScanCurrentEntry(text, 3, state), std::optional<std::string>("First"));
    EXPECT_EQ(state.EntryLine, 1);
    // Moving down inside the same entry needs no new result.
    EXPECT_EQ(ScanCurrentEntry(text, 3, state), std::nullopt);
    // Below the closing brace: outside every entry.
    EXPECT_EQ(ScanCurrentEntry(text, 5, state), std::optional<std::string>(""));
    EXPECT_EQ(state.ScannedLine, -1);
    // A comment entry shows as empty.
    state = {};
    EXPECT_EQ(ScanCurrentEntry(text, 7, state), std::optional<std::string>(""));
    EXPECT_EQ(state.EntryLine, 6);
    EXPECT_EQ(ScanCurrentEntry(text, 10, state), std::optional<std::string>("second"));
    // Back above the known entry: scanned afresh down to line 0.
    EXPECT_EQ(ScanCurrentEntry(text, 2, state), std::optional<std::string>("First"));
}

TEST(EditorEntryScanTest, ListLeavesOutCommentAndSelectsTheEntryAboveTheCaret) {
    const std::string text = TEditorStringText::Make(kEntriesText).GetText();
    TEntryList list = MakeEntryList(text, 10);
    EXPECT_EQ(list.Names, (std::vector<std::string>{"First", "second"}));
    EXPECT_EQ(list.Selected, 1);
    EXPECT_EQ(MakeEntryList(text, 0).Selected, 0);
    EXPECT_EQ(MakeEntryList(text, 7).Selected, 0);
}

TEST(EditorEntryScanTest, GoToEntryFindsTheHeaderIgnoringCase) {
    auto text = TEditorStringText::Make(std::string(kEntriesText) + "|");
    EXPECT_TRUE(GoToEntry(text, "SECOND"));
    int start = 0, length = 0;
    text.GetSelection(start, length);
    EXPECT_EQ(text.GetText().substr(start, 6), "second");
    EXPECT_FALSE(GoToEntry(text, "missing"));
    int after = 0;
    text.GetSelection(after, length);
    EXPECT_EQ(after, start);
}

} // namespace
