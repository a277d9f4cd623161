// Indent, outdent, comment and uncomment of whole lines, and which lines a selection covers.
#include <gtest/gtest.h>

#include "EditorBlocks.h"
#include "EditorTestSupport.h"

namespace {

using Lines = std::vector<std::string>;

struct TBlockCase {
    TBlockCommand Command;
    bool TabCharacters;
    Lines Before, After;
};

const TBlockCase kBlockCases[] = {
    {TBlockCommand::Indent, true, {"a", "", "\tb"}, {"\ta", "\t", "\t\tb"}},
    {TBlockCommand::Indent, false, {"a", " b"}, {" a", "  b"}},
    {TBlockCommand::Outdent, false, {"\ta", "  b", "c", ""}, {"a", " b", "c", ""}},
    // Comments go before the indentation; lines already commented stay; blank lines are commented.
    {TBlockCommand::Comment, false, {"  a", "; b"}, {";   a", "; b"}},
    {TBlockCommand::Comment, false, {"", "  ;c", " "}, {"; ", "  ;c", ";  "}},
    // ";x" has no separator, so no line loses the character after its ';'.
    {TBlockCommand::Uncomment, false, {";x", "; y"}, {"x", " y"}},
    {TBlockCommand::Uncomment, false, {"; x", "  ; y"}, {"x", "y"}},
    {TBlockCommand::Uncomment, false, {";\tx", "code", "\t; y"}, {"x", "code", "y"}},
    {TBlockCommand::Uncomment, false, {"; x", ";"}, {" x", ""}}, // a bare ';' is no separator
};

TEST(EditorBlockTest, CommandsRewriteEachLine) {
    for (const TBlockCase &c : kBlockCases) {
        SCOPED_TRACE(::testing::Message() << static_cast<int>(c.Command) << " " << c.Before[0]);
        EXPECT_EQ(ApplyBlockCommand(c.Command, c.Before, c.TabCharacters), c.After);
    }
}

TEST(EditorBlockTest, SelectionEndingAtALineStartLeavesThatLineOut) {
    auto text = TEditorStringText::Make("one\ntwo\nthree\nfour\nfive\nsix");
    // From the middle of line 3 ("three") to the start of line 5 ("five").
    text.SetSelection(10, 9);
    ASSERT_TRUE(RunBlockCommand(text, TBlockCommand::Indent, true));
    EXPECT_EQ(text.GetText(), "one\rtwo\r\tthree\r\tfour\rfive\rsix");
    EXPECT_EQ(text.Selected(), "\tthree\r\tfour\r");
}

TEST(EditorBlockTest, BlockOnTheLastLineSelectsToTheEndAndOnlyChangedLinesAreReplaced) {
    auto text = TEditorStringText::Make("a\n; b\nc");
    text.SetSelection(0, 7);
    ASSERT_TRUE(RunBlockCommand(text, TBlockCommand::Comment, false));
    EXPECT_EQ(text.GetText(), "; a\r; b\r; c");
    EXPECT_EQ(text.Selected(), "; a\r; b\r; c");
    EXPECT_EQ(text.Replacements, 2);
}

TEST(EditorBlockTest, EmptySelectionDoesNothing) {
    auto text = TEditorStringText::Make("a|b");
    EXPECT_FALSE(RunBlockCommand(text, TBlockCommand::Indent, true));
    EXPECT_EQ(text.Marked(), "a|b");
    EXPECT_EQ(text.Replacements, 0);
}

} // namespace
