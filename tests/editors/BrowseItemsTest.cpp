// The browser's rows: which files a folder shows and how, the size texts, the entries of a file
// and the sort orders.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "BrowseItems.h"
#include "BrowseTestSupport.h"

namespace {

TEST(BrowseKinds, ExtensionsGiveTheirKinds) {
    const struct {
        const char *Extension;
        int Kind;
    } cases[] = {{".ofr", 1}, {".OPR", 2}, {".par", 2}, {".ogr", 3}, {".Map", 3}, {".oal", 3}, {".oxf", 4},
                 {".ofm", 5}, {".frm", 5}, {".ocl", 6}, {".txt", 0}, {".op", 0},  {"", 0},     {".", 0}};
    for (const auto &c : cases)
        EXPECT_EQ(KindOfExtension(c.Extension), c.Kind) << c.Extension;
}

TEST(BrowseKinds, FilterMatches) {
    EXPECT_TRUE(FileMatchesKind(bkParameters, bkAll));
    EXPECT_FALSE(FileMatchesKind(bkAll, bkAll));
    EXPECT_TRUE(FileMatchesKind(bkColoring, bkInsideColoring));
    EXPECT_FALSE(FileMatchesKind(bkFormula, bkColoring));
    EXPECT_FALSE(FileMatchesKind(bkGradient, bkParameters));
}

TEST(BrowseSizes, TextsOfFileAndDiskSizes) {
    // Worked out by hand: sizes round up to whole KB; disk sizes keep three significant digits.
    const struct {
        std::int64_t Bytes;
        const char *Text;
    } files[] = {{0, "0KB"},    {1, "1KB"},    {1024, "1KB"},
                 {1025, "2KB"}, {1536, "2KB"}, {1048576000, "1,024,000KB"}};
    for (const auto &c : files)
        EXPECT_EQ(FileSizeText(c.Bytes), c.Text) << c.Bytes;
    const struct {
        double Bytes;
        const char *Text;
    } disks[] = {{80000000000.0, "74.5GB"},
                 {1536, "1.5KB"},
                 {5242880, "5MB"},
                 {1073741824.0, "1GB"},
                 {1048575.0 * 1024, "1.02e+03MB"}};
    for (const auto &c : disks)
        EXPECT_EQ(DiskSizeText(c.Bytes), c.Text) << c.Bytes;
}

class BrowseRowsTest : public TBrowseFolderTest {
protected:
    std::vector<std::string> Captions(const TVirtualListItems &Items) {
        std::vector<std::string> captions;
        for (int i = 0; i < Items.Count(); ++i)
            captions.push_back(Items.Item(i).Caption);
        return captions;
    }
    void SortBy(TVirtualListItems &Items, std::uint8_t Content, int Column, bool Ascending) {
        Items.OnCompare = [=](const TVirtualListItem &A, const TVirtualListItem &B) {
            return CompareRows(A, B, Content, Column, Ascending, false);
        };
        Items.Sort();
    }
};

TEST_F(BrowseRowsTest, AFolderShowsSubfoldersAndMatchingFilesWithTheirSizes) {
    Put("MY.OPR", "");
    Put("b.opr", std::string(1536, 'x'));
    Put("Grad.ogr", std::string(5000, 'x'));
    Put("notes.txt", "");
    Put("Hidden.opr", "");
    SetFileAttributesA((Root + "Hidden.opr").c_str(), FILE_ATTRIBUTE_HIDDEN);
    MakeFolder("Sub");
    MakeFolder("ALLCAPS");

    TVirtualListItems all;
    ReadFolderRows(Root, bkAll, all);
    SortBy(all, bcFolder, 0, true);
    EXPECT_EQ(Captions(all), (std::vector<std::string>{"Allcaps", "Sub", "b.opr", "Grad.ogr", "My.opr"}));
    for (int i = 0; i < all.Count(); ++i) {
        const TVirtualListItem &row = all.Item(i);
        if (row.Caption == "b.opr") {
            EXPECT_EQ(row.SubItems.at(0), "2KB");
            EXPECT_EQ(row.SubItems.at(1), "Parameter Sets");
        }
        if (row.Caption == "Sub")
            EXPECT_EQ(row.SubItems.at(1), "Folder");
    }

    // Descending by name puts the files first; ascending by size lists the largest file first.
    SortBy(all, bcFolder, 0, false);
    EXPECT_EQ(Captions(all), (std::vector<std::string>{"My.opr", "Grad.ogr", "b.opr", "Sub", "Allcaps"}));
    SortBy(all, bcFolder, 1, true);
    EXPECT_EQ(all.Item(0).Caption, "Grad.ogr");

    TVirtualListItems gradients;
    ReadFolderRows(Root, bkGradient, gradients);
    SortBy(gradients, bcFolder, 0, true);
    EXPECT_EQ(Captions(gradients), (std::vector<std::string>{"Allcaps", "Sub", "Grad.ogr"}));
}

TEST_F(BrowseRowsTest, EntryFilesListTheirEntries) {
    Put("p.opr", "comment {\r\n; the file\r\n}\r\n"
                 "Alpha {\r\n; first\r\n; line two\r\nfractal:\r\n  title=\"Alpha Set\"\r\n}\r\n"
                 "std.ofm:Mandel {\r\n}\r\n"
                 "Beta {\r\nfractal:\r\n  title=\"Beta\"\r\n}\r\n");
    TVirtualListItems parameters;
    ReadEntryRows(Root + "p.opr", bcParameters, bkParameters, parameters);
    ASSERT_EQ(parameters.Count(), 2);
    EXPECT_EQ(parameters.Item(0).SubItems.at(0), "Alpha");
    EXPECT_EQ(parameters.Item(0).SubItems.at(1), "Parameter Set");
    EXPECT_EQ(parameters.Item(0).SubItems.at(4), "first line two");
    EXPECT_EQ(parameters.Item(1).SubItems.at(0), "Beta");

    Put("c.ocl", "Out(OUTSIDE) {\r\n}\r\nIn(INSIDE) {\r\n}\r\nBoth {\r\n}\r\n");
    TVirtualListItems inside;
    ReadEntryRows(Root + "c.ocl", bcFormulas, bkInsideColoring, inside);
    std::vector<std::string> names;
    for (int i = 0; i < inside.Count(); ++i)
        names.push_back(inside.Item(i).SubItems.at(0));
    EXPECT_EQ(names, (std::vector<std::string>{"In", "Both"}));

    Put("g.ogr",
        "Op {\r\nopacity:\r\n}\r\nBoth {\r\ngradient:\r\nalpha:\r\n}\r\nCol {\r\ngradient:\r\n}\r\n");
    TVirtualListItems gradients;
    ReadEntryRows(Root + "g.ogr", bcGradients, bkGradient, gradients);
    ASSERT_EQ(gradients.Count(), 3);
    EXPECT_EQ(gradients.Item(0).SubItems.at(1), "Opacity Gradient");
    EXPECT_EQ(gradients.Item(1).SubItems.at(1), "Color/Opacity Gradient");
    EXPECT_EQ(gradients.Item(2).SubItems.at(1), "Color Gradient");
}

} // namespace
