// Find Next, Replace and Replace All over one shared search.
#include <gtest/gtest.h>

#include "EditorSearch.h"
#include "EditorTestSupport.h"

namespace {

TEST(EditorSearchTest, FindHonoursCaseAndWholeWords) {
    struct {
        const char *Text, *Find;
        bool MatchCase, WholeWord;
        int From, Hit;
    } cases[] = {
        {"Abc abc", "abc", false, false, 0, 0}, {"Abc abc", "abc", true, false, 0, 4},
        {"abcd abc", "abc", false, true, 0, 5}, {"x_abc abc", "abc", false, true, 0, 6},
        {"abc", "abc", false, false, 1, -1},    {"abc", "", false, false, 0, -1},
        {"a\rabc", "abc", false, true, 0, 2},   {"abc1", "abc", false, true, 0, -1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(::testing::Message() << c.Text << " / " << c.Find);
        EXPECT_EQ(FindInText(c.Text, c.From, {c.Find, "", c.MatchCase, c.WholeWord}), c.Hit);
    }
}

TEST(EditorSearchTest, FindNextWalksTheHitsAndKeepsTheLastOneSelected) {
    auto text = TEditorStringText::Make("|z = z*z");
    const TEditorSearchOptions options{"z", "", true, false};
    int hits = 0;
    while (SearchFindNext(text, options))
        ++hits;
    EXPECT_EQ(hits, 3);
    int start = 0, length = 0;
    text.GetSelection(start, length);
    EXPECT_EQ(start, 6);
    EXPECT_EQ(length, 1);
}

TEST(EditorSearchTest, ReplaceFindsTheSelectedHitAgain) {
    auto text = TEditorStringText::Make("a b a");
    const TEditorSearchOptions options{"a", "xy", true, false};
    text.SetSelection(0, 1); // the hit Find Next would leave selected
    ASSERT_TRUE(SearchReplace(text, options));
    EXPECT_EQ(text.Marked(), "xy| b a");
}

TEST(EditorSearchTest, ReplaceAllReplacesEveryLaterHitOnceEvenWhenTheReplacementContainsTheText) {
    auto text = TEditorStringText::Make("|a b a");
    EXPECT_EQ(SearchReplaceAll(text, {"a", "aa", true, false}), 2);
    EXPECT_EQ(text.GetText(), "aa b aa");
    auto none = TEditorStringText::Make("|a b a");
    EXPECT_EQ(SearchReplaceAll(none, {"q", "x", true, false}), 0);
    EXPECT_EQ(none.GetText(), "a b a");
    EXPECT_EQ(CouldNotFindMessage("q"), "Could not find 'q'.");
}

} // namespace
