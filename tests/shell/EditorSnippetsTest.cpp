// Snippet notation, the Insert menu's snippets, and code-template completion.
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "EditorSnippets.h"
#include "EditorTestSupport.h"
#include "GenSetup.h"

namespace {

struct TInsertCase {
    const char *Before; // '|' marks the caret ("|" in the snippet notation is separate)
    const char *Snippet;
    const char *After;
};

// The caret is shown as '|' in Before and After; in the snippets, bars are the notation's.
const TInsertCase kInsertCases[] = {
    {"|", "if |\r  \rendif", "if |\n  \nendif"},
    {"  a = 1\n  |", "if |\r  \rendif", "  a = 1\n  if |\n    \n  endif"},
    {"    a|", "x\r|", "    ax\n    |"}, // caret after the indentation
    {"\t b|", "while |\r  \rendwhile", "\t bwhile |\n\t   \n\t endwhile"},
    {"|", "||||", "|||"},  // Or: two literal bars, caret after
    {"|", "|||||", "|||"}, // modulus squared: bar, caret, bar
    {"|", "(|)", "(|)"},
    {"|", "a|b|c", "ab|c"},   // the last single bar counts
    {"|", "a\r\nb", "a\nb|"}, // CR LF is one break, no bar: caret at the end
    {"  x|", "default:\r  title = \"|\"", "  xdefault:\n    title = \"|\""},
};

TEST(EditorSnippetTest, InsertionPlacesCaretAndKeepsIndentation) {
    for (const TInsertCase &c : kInsertCases) {
        SCOPED_TRACE(c.Snippet);
        auto text = TEditorStringText::Make(c.Before);
        InsertSnippet(text, c.Snippet);
        // Marked() shows the caret as '|': the literal bars of the two operator cases and the
        // caret all read as bars, so those rows also check the resolved snippet directly below.
        EXPECT_EQ(text.Marked(), c.After);
    }
    EXPECT_EQ(ResolveSnippetBars("||||").Text, "||");
    EXPECT_EQ(ResolveSnippetBars("||||").CaretPoint, 2u);
    EXPECT_EQ(ResolveSnippetBars("|||||").Text, "||");
    EXPECT_EQ(ResolveSnippetBars("|||||").CaretPoint, 1u);
}

TEST(EditorSnippetTest, InsertionReplacesTheSelectionAsOneStepPerSnippet) {
    auto text = TEditorStringText::Make("a = old");
    text.SetSelection(4, 3);
    InsertSnippet(text, "sqrt(|)");
    EXPECT_EQ(text.Marked(), "a = sqrt(|)");
    EXPECT_EQ(text.Replacements, 1);
}

TEST(EditorSnippetTest, InsertMenuHasOneCommandPerItemWithItsSnippet) {
    const auto &items = InsertMenuSnippets();
    // 87 commands, and the assignment item, which inserts "=" as its hint says.
    EXPECT_EQ(items.size(), 88u);
    std::set<std::string> seen;
    for (const auto &item : items)
        EXPECT_TRUE(seen.insert(std::string(item.Path) + "/" + item.Caption).second) << item.Caption;
    auto snippetOf = [&](const std::string &path, const std::string &caption) -> std::string {
        for (const auto &item : items)
            if (path == item.Path && caption == item.Caption)
                return item.Snippet;
        return "<missing>";
    };
    EXPECT_EQ(snippetOf("&Predefined symbol", "randomrange"), "#randomrange");
    EXPECT_EQ(snippetOf("&Function/&Trigonometric", "atan2"), "atan2(|)");
    EXPECT_EQ(snippetOf("&Function", "print"), "print(|)");
    EXPECT_EQ(snippetOf("&Label", "transform"), "transform:\r  |");
    EXPECT_EQ(snippetOf("&Variable type", "bool array"), "bool |[]");
    EXPECT_EQ(snippetOf("", "&ELSEIF Clause"), "elseif |\r");
    EXPECT_EQ(snippetOf("&Operator/&Boolean", "&And ( &&&& )"), "&&");
}

class EditorTemplateTest : public ::testing::Test {
protected:
    void SetUp() override { Templates.AddDefaults(); }
    TEditorTemplateList Templates;

    // Template completion as the window runs it, for a text whose caret is marked with '|'.
    std::string Complete(const std::string &Marked, TTemplateLookup *Lookup = nullptr) {
        auto text = TEditorStringText::Make(Marked);
        int start = 0, length = 0;
        text.GetSelection(start, length);
        const std::string all = text.GetText();
        const std::size_t lineStart = all.rfind('\r', start == 0 ? std::string::npos : start - 1);
        const std::size_t from = lineStart == std::string::npos || start == 0 ? 0 : lineStart + 1;
        const std::string pattern =
            TemplatePatternAt(all.substr(from, start - from), static_cast<int>(start - from));
        const TTemplateLookup lookup = LookUpTemplate(Templates, pattern);
        if (Lookup)
            *Lookup = lookup;
        if (lookup.Match == TTemplateMatch::Exact)
            ReplacePatternWithTemplate(text, pattern, lookup.Template);
        return text.Marked();
    }
};

TEST_F(EditorTemplateTest, PatternIsTheRunOfLettersAndDigitsBeforeTheCaret) {
    EXPECT_EQ(TemplatePatternAt("  my_if", 7), "if");
    EXPECT_EQ(TemplatePatternAt("x = dba2", 8), "dba2");
    EXPECT_EQ(TemplatePatternAt("x = ", 4), "");
    EXPECT_EQ(TemplatePatternAt("ife", 2), "if");
}

TEST_F(EditorTemplateTest, ExactPatternIsReplacedByItsTemplate) {
    struct {
        const char *Before, *After;
    } cases[] = {
        {"  ife|", "  if |\n    \n  else\n    \n  endif"},
        {"x = 1\n\tlw|", "x = 1\n\twhile |\n\t  \n\tendwhile"},
        {"SDT|", "default:\n  title = \"|\""},
        {"my_if|", "my_if |\n  \nendif"},
        {"p|", "param |\n  caption = \"\"\nendparam"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Before);
        EXPECT_EQ(Complete(c.Before), c.After);
    }
}

TEST_F(EditorTemplateTest, SeveralMatchesAreOfferedSortedByPattern) {
    TTemplateLookup lookup;
    EXPECT_EQ(Complete("d|", &lookup), "d|");
    ASSERT_EQ(lookup.Match, TTemplateMatch::Choose);
    std::vector<std::string> patterns;
    for (int i : lookup.Candidates)
        patterns.push_back(Templates.GetTemplate(i)->Pattern);
    EXPECT_EQ(patterns, (std::vector<std::string>{"db", "dba", "dc", "dca", "df", "dfa", "di", "dia"}));
}

TEST_F(EditorTemplateTest, NoMatchLeavesTheTextAndNamesThePattern) {
    for (const char *marked : {"x|", "a |", "|"}) {
        SCOPED_TRACE(marked);
        TTemplateLookup lookup;
        EXPECT_EQ(Complete(marked, &lookup), marked);
        EXPECT_EQ(lookup.Match, TTemplateMatch::NoMatch);
    }
    EXPECT_EQ(NoMatchingTemplateMessage("x"),
              "There are no templates matching the pattern 'x'.\rClick Options on "
              "the Options menu to define patterns and templates.");
}

TEST_F(EditorTemplateTest, UserTemplateEndingInALineBreakIndentsTheLineAfterIt) {
    Templates.Add("zz", "user", "a = 1\r\nb = |2\r\n");
    EXPECT_EQ(Complete("  zz|"), "  a = 1\n  b = |2\n  ");
}

} // namespace
