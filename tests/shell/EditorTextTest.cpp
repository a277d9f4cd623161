// Caret columns with tabs, going to a compiler position, auto-indent, the help word, line breaks.
#include <gtest/gtest.h>

#include "EditorTestSupport.h"
#include "EditorText.h"

namespace {

struct TCaretCase {
    const char *Line;
    int TabSize;
    int Column;   // asked for
    int Chars;    // where the caret lands
    int Reported; // the column it reports there
};

// Columns count a tab as TabSize columns; a column inside a tab's width lands after that tab
// (never before it), a column beyond the line lands at its end.
const TCaretCase kCaretCases[] = {
    {"\tx", 2, 2, 1, 2},   {"\tx", 2, 3, 2, 3},     {"\tx", 2, 1, 1, 2},  {"\tx", 2, 0, 0, 0},
    {"\t\tx", 4, 8, 2, 8}, {"\t\tx", 4, 5, 2, 8},   {"a\tb", 4, 5, 2, 5}, {"abc", 3, 10, 3, 3},
    {"", 2, 4, 0, 0},      {"  \tz", 8, 10, 3, 10}, {"\t", 1, 1, 1, 1},
};

TEST(EditorCaretTest, ColumnsCountTabsAsTabSize) {
    for (const TCaretCase &c : kCaretCases) {
        SCOPED_TRACE(::testing::Message()
                     << '"' << c.Line << "\" tab " << c.TabSize << " column " << c.Column);
        EXPECT_EQ(ColumnToChars(c.Line, c.Column, c.TabSize), c.Chars);
        EXPECT_EQ(CaretColumn(c.Line, c.Chars, c.TabSize), c.Reported);
    }
}

TEST(EditorCaretTest, GoToPositionThenStatusShowsTheColumn) {
    auto text = TEditorStringText::Make("first\n\tx\nlast");
    GoToPosition(text, 2, 1, 2);
    EXPECT_EQ(text.Marked(), "first\n\t|x\nlast");
    int line = -1, column = -1;
    GetCaretPosition(text, 2, line, column);
    EXPECT_EQ(line, 1);
    EXPECT_EQ(column, 2);
    const TEditorStatusTexts status = MakeStatusTexts(line, column, true, false);
    EXPECT_EQ(status.Row, " Row: 2");
    EXPECT_EQ(status.Column, " Column: 3");
    EXPECT_EQ(status.Modified, " Modified");
    EXPECT_EQ(status.Mode, " Overwrite");
    EXPECT_EQ(MakeStatusTexts(0, 0, false, true).Modified, " Saved");
    EXPECT_EQ(MakeStatusTexts(0, 0, false, true).Mode, " Insert");
}

TEST(EditorCaretTest, GoToPositionOnTheFirstLineAndBeyondTheLastLine) {
    auto text = TEditorStringText::Make("\tx|");
    GoToPosition(text, 2, 0, 2);
    EXPECT_EQ(text.Marked(), "\t|x");
    GoToPosition(text, 2, 7, 0); // a line beyond the text: its last line
    EXPECT_EQ(text.Marked(), "|\tx");
}

TEST(EditorTextTest, AutoIndentKeepsTheIndentationBeforeTheCaret) {
    EXPECT_EQ(AutoIndentBreak("    x = 1", 9), "\r    ");
    EXPECT_EQ(AutoIndentBreak("    x = 1", 0), "\r");
    EXPECT_EQ(AutoIndentBreak("    x = 1", 2), "\r  ");
    EXPECT_EQ(AutoIndentBreak("\t x", 3), "\r\t ");
}

TEST(EditorTextTest, TopicWordAroundTheCaret) {
    struct {
        const char *Line;
        int Chars;
        const char *Word;
    } cases[] = {
        {"z = #pixel + 1", 6, "#pixel"}, // '#' belongs to the word backwards
        {"z = #pixel + 1", 4, ""},       // but not forwards over the "#"
        {"a = my_var", 5, "my_var"},
        {"sqrt(z)", 2, "sqrt"},
        {"sqrt(z)", 7, ""}, // at the very end of the line
        {"x + y", 1, "x"},
        {"x + y", 2, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Line);
        EXPECT_EQ(TopicWordAt(c.Line, c.Chars), c.Word);
    }
}

TEST(EditorTextTest, LineBreaksForTheControlAndForTheFile) {
    EXPECT_EQ(NormalizeLineBreaks("a\r\nb\nc\rd"), "a\rb\rc\rd");
    EXPECT_EQ(ToCrLf("a\rb\nc\r\nd\r"), "a\r\nb\r\nc\r\nd\r\n");
    const std::string text = "ab\r\rcd";
    const TEditorLines lines(text);
    ASSERT_EQ(lines.Count(), 3);
    EXPECT_EQ(lines.Text(1), "");
    EXPECT_EQ(lines.LineOf(2), 0); // the CR belongs to the line it ends
    EXPECT_EQ(lines.LineOf(4), 2);
    EXPECT_EQ(lines.End(2), 6);
}

} // namespace
