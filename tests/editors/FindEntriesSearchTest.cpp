// The entry search: criteria, the status text, and folders that are links are not walked into.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "BrowseItems.h"
#include "BrowseTestSupport.h"
#include "FindEntriesSearch.h"

namespace {

using FindEntriesSearchTest = TBrowseFolderTest;

std::string Entry(const std::string &Name, const std::string &Title, const std::string &Author) {
    return Name + " {\r\n; about " + Title + "\r\nfractal:\r\n  title=\"" + Title + "\" author=\"" + Author +
           "\"\r\n}\r\n";
}

TEST_F(FindEntriesSearchTest, AnAuthorSearchListsTheirEntries) {
    Put("a.opr", Entry("One", "First", "Ann Smith") + Entry("Two", "Second", "Bob"));
    Put("Sub\\b.par", Entry("Three", "Third", "ann smith"));
    Put("Sub\\c.ogr", Entry("Four", "Fourth", "Ann Smith"));
    TFindEntriesSearch search(bkParameters);
    search.Author = "ANN";
    std::vector<std::string> found;
    search.OnFound = [&](const TFoundEntry &Entry) {
        found.push_back(Entry.Identifier + "@" + ExtractFileName(Entry.Location));
    };
    search.SearchFolder(Root);
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, (std::vector<std::string>{"One@a.opr", "Three@b.par"}));
    EXPECT_EQ(search.StatusText(), " 2 parameter set(s) found");

    TFindEntriesSearch flat(bkParameters);
    flat.SubFolders = false;
    flat.Title = "ir";
    flat.SearchFolder(Root);
    EXPECT_EQ(flat.StatusText(), " 1 parameter set(s) found");
}

TEST(FindEntriesLinks, LinkedFoldersAreNotSearched) {
    // data/links/Here/Link is a symbolic link to data/links/Real, made on the host: under Wine
    // a host link looks like a plain folder.
    const std::string links = std::string(TEST_DATA_DIR) + "editors\\data\\links\\";
    TFindEntriesSearch direct(bkParameters);
    direct.SearchFolder(links + "Here\\Link");
    if (direct.FoundCount() != 1)
        GTEST_SKIP() << "the link does not lead anywhere here";
    TFindEntriesSearch search(bkParameters);
    search.SearchFolder(links + "Here");
    EXPECT_EQ(search.FoundCount(), 0);
    // The real folder is searched as any other.
    TFindEntriesSearch real(bkParameters);
    real.SearchFolder(links);
    EXPECT_EQ(real.FoundCount(), 1);
}

} // namespace
