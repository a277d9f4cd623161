#include <gtest/gtest.h>

#include <windows.h>

#include <array>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>

#include "CompEntries.h"
#include "FracGradientTestSupport.h"

namespace {

std::string DataFile(const std::string &Name) {
    return std::string(TEST_DATA_DIR) + "fractal\\data\\" + Name;
}

// The palette as the test reads it itself: 256 lines of red, green, blue.
std::vector<std::array<int, 3>> ReadPalette(const std::string &Name) {
    std::ifstream file(DataFile(Name));
    std::vector<std::array<int, 3>> colors;
    std::string line;
    while (colors.size() < 256 && std::getline(file, line)) {
        std::istringstream fields(line);
        std::array<int, 3> c;
        if (fields >> c[0] >> c[1] >> c[2])
            colors.push_back(c);
    }
    return colors;
}

} // namespace

TEST(FracGradientText, WritingReadingAndWritingAgainGivesTheSameText) {
    struct {
        const char *Name;
        void (*Prepare)(TGradient &);
    } cases[] = {
        {"default", [](TGradient &) {}},
        {"linked",
         [](TGradient &g) {
             g.SetLinked(true);
             g.OpacityItems().GetOpacityNode(2)->SetOpacity(40);
         }},
        {"rotated",
         [](TGradient &g) {
             g.ColorItems().SetRotation(-77);
             g.OpacityItems().InsertAt(123);
             g.OpacityItems().SetRotation(150);
         }},
        {"one node",
         [](TGradient &g) {
             g.ColorItems().Delete(3);
             g.ColorItems().Delete(2);
             g.ColorItems().Delete(1);
             g.ColorItems().SetSmooth(false);
         }},
        {"empty opacity", [](TGradient &g) { g.OpacityItems().Clear(); }},
        {"comments and selection",
         [](TGradient &g) {
             g.SetComments("First line\r\nA path a/b\r\n");
             g.ColorItems().SelectAll();
             g.OpacityItems().SetActive(true);
         }},
        // Lines that comment lines cannot hold: the comments go into their key instead.
        {"comments with an empty, an indented and a continued line",
         [](TGradient &g) { g.SetComments("First\r\n\r\n  indented\r\nends in C:\\\r\nlast"); }},
    };
    for (const auto &c : cases) {
        TGradientFixture source;
        c.Prepare(*source);
        for (int flags : {71, 1 | 2 | 8 | 16, 1 | 2 | 4 | 8 | 64}) {
            const std::string text = GradientText(*source, flags);
            TGradientFixture copy;
            ReadGradientText(*copy, text, flags & 16 ? 1 : 0);
            EXPECT_EQ(GradientText(*copy, flags), text) << c.Name << " flags " << flags;
            if (flags == 71) {
                EXPECT_EQ(std::memcmp(source.Table->Entries, copy.Table->Entries, GradientCodeCount * 4), 0)
                    << c.Name;
            }
        }
    }
}

// Through a stored entry, where a brace in a value would end the entry (or start another): the
// comments keep their braces and quotes, and the text reads back as it was written.
TEST(FracGradientText, CommentsWithBracesAndQuotesSurviveAnEntry) {
    const std::string comments = "Made {with} \"care\"\r\nsee a/b and {";
    TGradientFixture source;
    source->SetComments(comments);
    source->SetTitle("A {braced} title");
    for (int flags : {71 | 8, 1 | 2 | 8 | 16}) {
        SCOPED_TRACE(flags);
        TParWriter writer;
        source->WriteParameters(writer, flags);
        writer.Finish();
        std::string entry;
        writer.GetEntryText("Braces", false, entry);
        TGradientFixture copy;
        auto reader = TEntryStream::CreateFromString<TParReader>(entry);
        copy->ReadParameters(*reader, flags & 16 ? 1 : 0);
        if (!(flags & 16)) {
            EXPECT_EQ(copy->Comments(), comments);
        }
        EXPECT_EQ(copy->Title(), "A braced title");
        EXPECT_EQ(GradientText(*copy, flags), writer.GetText());
    }
}

TEST(FracGradientText, KeysAreWrappedClampedAndMerged) {
    TGradientFixture g;
    ReadGradientText(*g, "gradient:\r\n"
                         "  rotation=250 index=405 color=255 index=100 color=1 index=100 color=65280\r\n"
                         "opacity:\r\n"
                         "  rotation=250 index=-1 alpha=10 index=4 opacity=300\r\n");
    TGradientColorItems &color = g->ColorItems();
    EXPECT_EQ(color.Rotation(), -150);
    EXPECT_EQ(NodePositions(color), (std::vector<int>{5, 100}));
    EXPECT_EQ(color.GetColorNode(1)->GetColor(), 65280u);
    EXPECT_TRUE(color.GetNode(0)->Selected()); // none was selected: node 0 is
    EXPECT_EQ(g->OpacityItems().Rotation(), 199);
    EXPECT_EQ(NodePositions(g->OpacityItems()), (std::vector<int>{4, 399}));
    EXPECT_EQ(g->OpacityItems().GetOpacityNode(0)->Opacity(), 255);
    EXPECT_EQ(g->OpacityItems().GetOpacityNode(1)->Opacity(), 10);
}

TEST(FracGradientText, SectionsReplaceOnlyTheirOwnPart) {
    TGradientFixture g;
    ReadGradientText(*g, "alpha:\r\n  smooth=yes index=10 opacity=7 index=20 opacity=8\r\n");
    EXPECT_EQ(NodePositions(g->ColorItems()), (std::vector<int>{0, 100, 200, 300}));
    EXPECT_EQ(NodePositions(g->OpacityItems()), (std::vector<int>{10, 20}));
    EXPECT_TRUE(g->OpacityItems().Smooth());

    // Keys before any section are a gradient section; flag 8 resets the opacity part.
    ReadGradientText(*g, "index=3 color=16711680 title=\"Blue\"\r\n", 8);
    EXPECT_EQ(NodePositions(g->ColorItems()), (std::vector<int>{3}));
    EXPECT_EQ(g->Title(), "Blue");
    EXPECT_EQ(NodePositions(g->OpacityItems()), (std::vector<int>{0}));
    EXPECT_EQ(g->OpacityItems().GetOpacityNode(0)->Opacity(), 255);
}

TEST(FracGradientText, BrokenTextRaisesAndLeavesTheGradientAsItWas) {
    const char *texts[] = {
        "gradient:\r\n  color=255 index=5\r\n",                             // colour before any index
        "gradient:\r\n  index=5 selected=yes\r\nopacity:\r\n  alpha=3\r\n", // opacity before its index
        "gradient:\r\n  index=5 color=red\r\n",                             // not a number
        "gradient:\r\n  index=5 smooth=perhaps\r\n",                        // not yes or no
        "layer:\r\n  index=5\r\n",                                          // neither section
    };
    for (const char *text : texts) {
        TGradientFixture g;
        g->ColorItems().SetRotation(12);
        g->SetTitle("Kept");
        const std::string before = GradientText(*g, 71 | 8);
        const TGradientTable table = *g.Table;
        int steps = g->History().GetCount();
        EXPECT_THROW(ReadGradientText(*g, text), EInvalidParFile) << text;
        EXPECT_EQ(GradientText(*g, 71 | 8), before) << text;
        EXPECT_EQ(std::memcmp(table.Entries, g.Table->Entries, GradientCodeCount * 4), 0) << text;
        EXPECT_EQ(g->History().GetCount(), steps) << text;
        // The update bracket is closed again: the next edit commits at once.
        g->ColorItems().InsertAt(55);
        EXPECT_EQ(g->History().GetCount(), steps + 1) << text;
    }
}

TEST(FracGradientText, LoadingWithFlagsClearsHistoryAndModified) {
    TGradientFixture g;
    g->ColorItems().Invert();
    g->ColorItems().Reverse();
    ASSERT_GE(g->History().GetCount(), 3);
    ReadGradientText(*g, "; a comment line\r\ngradient:\r\n  index=0 color=1\r\n", 1 | 2 | 4);
    EXPECT_EQ(g->History().GetCount(), 1);
    EXPECT_FALSE(g->Modified());
    EXPECT_EQ(g->Comments(), "a comment line");
}

TEST(FracGradientText, PalettesBecomeNodesWithinFourOfEveryColour) {
    for (const char *name : {"FracPalette_ramp.map", "FracPalette_updown.map", "FracPalette_steps.map",
                             "FracPalette_noise.map"}) {
        std::vector<std::array<int, 3>> palette = ReadPalette(name);
        ASSERT_EQ(palette.size(), 256u) << name;
        TGradientFixture g;
        g->LoadFromMapFile(DataFile(name));
        TGradientColorItems &color = g->ColorItems();
        EXPECT_FALSE(color.Smooth());
        EXPECT_EQ(g->Title(), std::string(name).substr(0, std::strlen(name) - 4));
        // Each node stands for palette colour k at position k * 399 div 255.
        std::vector<int> indices;
        for (int i = 0; i < color.GetCount(); ++i) {
            int position = color.GetNode(i)->Position(), k = 0;
            while (k * 399 / 255 < position)
                ++k;
            ASSERT_EQ(k * 399 / 255, position) << name;
            TGradientColorNode *node = color.GetColorNode(i);
            EXPECT_EQ(node->Red(), palette[k][0]);
            EXPECT_EQ(node->Green(), palette[k][1]);
            EXPECT_EQ(node->Blue(), palette[k][2]);
            indices.push_back(k);
        }
        ASSERT_EQ(indices.front(), 0);
        ASSERT_EQ(indices.back(), 255);
        for (std::size_t n = 0; n + 1 < indices.size(); ++n)
            for (int k = indices[n]; k <= indices[n + 1]; ++k)
                for (int c = 0; c < 3; ++c) {
                    double t = static_cast<double>(k - indices[n]) / (indices[n + 1] - indices[n]);
                    double line =
                        palette[indices[n]][c] + t * (palette[indices[n + 1]][c] - palette[indices[n]][c]);
                    ASSERT_LE(std::fabs(palette[k][c] - line), 4 + 1e-9) << name << " colour " << k;
                }
        if (std::string(name) == "FracPalette_ramp.map") {
            EXPECT_EQ(NodePositions(color), (std::vector<int>{0, 399}));
        }
        if (std::string(name) == "FracPalette_updown.map") {
            ASSERT_EQ(color.GetCount(), 3);
            EXPECT_NEAR(color.GetNode(1)->Position(), 127 * 399 / 255, 2);
        }
    }
}

TEST(FracGradientText, EqualPaletteGivesTwoNodesAndAnEntryFile) {
    TGradientFixture g;
    g->SetLinked(true);
    g->LoadFromMapFile(DataFile("FracPalette_equal.map"));
    EXPECT_EQ(NodePositions(g->ColorItems()), (std::vector<int>{0, 399}));
    EXPECT_EQ(g->ColorItems().GetColorNode(1)->GetColor(),
              static_cast<std::uint32_t>(17 | 99 << 8 | 201 << 16));
    EXPECT_FALSE(g->Linked());
    EXPECT_EQ(NodePositions(g->OpacityItems()), (std::vector<int>{0}));

    std::unique_ptr<TEntryWriter> entries = ConvertMapFileToEntry(DataFile("FracPalette_equal.map"));
    const std::string text = entries->GetText();
    EXPECT_NE(text.find("FracPalette_equal"), std::string::npos);
    EXPECT_NE(text.find("color=13198097"), std::string::npos);
    EXPECT_EQ(text.find("opacity:"), std::string::npos);
}

TEST(FracGradientText, UnsoundPalettesAreReportedAndChangeNothing) {
    struct {
        const char *Name;
        const char *Message;
    } cases[] = {
        {"FracPalette_short.map", "holds only 200 of 256 colours"},
        {"FracPalette_outofrange.map", "line 41 holds a value outside 0..255"},
        {"FracPalette_noseparator.map", "line 4 is not a colour line"},
    };
    for (const auto &c : cases) {
        TGradientFixture g;
        const std::string before = GradientText(*g, 71 | 8);
        try {
            g->LoadFromMapFile(DataFile(c.Name));
            ADD_FAILURE() << c.Name;
        } catch (const EGradientPaletteError &e) {
            EXPECT_NE(e.Message().find(c.Message), std::string::npos) << e.Message();
            EXPECT_NE(e.Message().find(c.Name), std::string::npos) << e.Message();
        }
        EXPECT_EQ(GradientText(*g, 71 | 8), before) << c.Name;
    }
    // A file far larger than any palette is refused before it is read.
    char temp[MAX_PATH];
    ASSERT_GT(GetTempPathA(MAX_PATH, temp), 0u);
    const std::string huge = std::string(temp) + "FracPaletteHuge.map";
    {
        std::ofstream file(huge, std::ios::binary);
        const std::string line = "1 2 3 a colour with a long name to fill the file quickly\r\n";
        for (std::size_t written = 0; written <= (1u << 20); written += line.size())
            file << line;
    }
    TGradientFixture g;
    EXPECT_THROW(g->LoadFromMapFile(huge), EGradientPaletteError);
    DeleteFileA(huge.c_str());
}
