#include <gtest/gtest.h>

#include <cmath>

#include "FracGradientTestSupport.h"
#include "FracInterpolator.h"

namespace {

TFloatColor ColorAt(const TGradientInterpolator &Interpolator, double Index) {
    TFloatColor color;
    Interpolator.GetColor(Index, color);
    return color;
}

void ExpectSameColor(const TFloatColor &A, const TFloatColor &B, float Tolerance, const std::string &Where) {
    EXPECT_NEAR(A.Red, B.Red, Tolerance) << Where;
    EXPECT_NEAR(A.Green, B.Green, Tolerance) << Where;
    EXPECT_NEAR(A.Blue, B.Blue, Tolerance) << Where;
    EXPECT_NEAR(A.Alpha, B.Alpha, Tolerance) << Where;
}

TFloatColor TableColor(const TGradientTable &Table, int Entry) {
    return TFloatColor{TableByte(Table, Entry, 2) / 255.0f, TableByte(Table, Entry, 1) / 255.0f,
                       TableByte(Table, Entry, 0) / 255.0f, TableByte(Table, Entry, 3) / 255.0f};
}

} // namespace

TEST(FracInterpolator, AgreesWithTheRenderedTable) {
    struct {
        const char *Name;
        const char *Text;
    } cases[] = {
        {"default", nullptr},
        {"linear with opacity",
         "gradient:\r\n smooth=no index=20 color=16711935 index=180 color=65280 index=350 color=1193046\r\n"
         "opacity:\r\n smooth=no index=50 opacity=0 index=250 opacity=255\r\n"},
        {"smooth wrapping",
         "gradient:\r\n smooth=yes index=30 color=255 index=90 color=16776960 index=210 color=8421504 "
         "index=330 color=65535\r\nopacity:\r\n smooth=yes index=100 opacity=20 index=300 opacity=240\r\n"},
    };
    for (const auto &c : cases) {
        TGradientFixture g;
        if (c.Text)
            ReadGradientText(*g, c.Text);
        TGradientInterpolator interpolator;
        interpolator.Build(*g);
        // At every node position the interpolated value is the table's, which is the node's.
        for (int i = 0; i < g->ColorItems().GetCount(); ++i) {
            int position = g->ColorItems().GetNode(i)->Position();
            TFloatColor exact = ColorAt(interpolator, position / 400.0),
                        table = TableColor(*g.Table, 128 * position);
            std::string where = std::string(c.Name) + " colour node at " + std::to_string(position);
            EXPECT_NEAR(exact.Red, table.Red, 1e-5f) << where;
            EXPECT_NEAR(exact.Green, table.Green, 1e-5f) << where;
            EXPECT_NEAR(exact.Blue, table.Blue, 1e-5f) << where;
        }
        for (int i = 0; i < g->OpacityItems().GetCount(); ++i) {
            int position = g->OpacityItems().GetNode(i)->Position();
            EXPECT_NEAR(ColorAt(interpolator, position / 400.0).Alpha,
                        TableColor(*g.Table, 128 * position).Alpha, 1e-5f)
                << c.Name << " opacity node at " << position;
        }
        // Between nodes the two agree within the table's quantization: the rounding of the table to
        // bytes, its averaged odd entries and the sample spacing of smooth segments (about 2/255
        // for segments of 60 positions or more).
        float worst = 0;
        for (int entry = 0; entry < GradientCodeCount; entry += 37) {
            TFloatColor exact = ColorAt(interpolator, entry / 51200.0), table = TableColor(*g.Table, entry);
            worst = std::max({worst, std::fabs(exact.Red - table.Red), std::fabs(exact.Green - table.Green),
                              std::fabs(exact.Blue - table.Blue), std::fabs(exact.Alpha - table.Alpha)});
        }
        EXPECT_LE(worst, 2.0f / 255) << c.Name;
    }
}

TEST(FracInterpolator, PositionsWrapAndOutOfRangeIndexesCountAsZero) {
    TGradientFixture g;
    TGradientInterpolator interpolator;
    interpolator.Build(*g);
    ExpectSameColor(ColorAt(interpolator, 0.25), ColorAt(interpolator, 1.25), 1e-6f, "0.25 and 1.25");
    for (double index : {-3.0, 2e9, 1e9, std::nan("")})
        ExpectSameColor(ColorAt(interpolator, index), ColorAt(interpolator, 0), 0, std::to_string(index));
    // Position 0 is node 0: blue 133.
    ExpectSameColor(ColorAt(interpolator, 0), TFloatColor{0, 0, 133 / 255.0f, 1}, 1e-6f, "node 0");
}

TEST(FracInterpolator, SegmentsWrapAcrossTheEndOfTheCircle) {
    TGradientFixture g;
    // Red 0 at 100 and 200 at 300, linear: position 0.1 (40 steps) lies 140 of the 200 steps from
    // 300 towards 100 (across 400): 200 - 140 * 200 / 200 = 60.
    ReadGradientText(*g, "gradient:\r\n smooth=no index=100 color=0 index=300 color=200\r\nopacity:\r\n");
    TGradientInterpolator interpolator;
    interpolator.Build(*g);
    EXPECT_NEAR(ColorAt(interpolator, 0.1).Red, 60 / 255.0f, 1e-5f);
    EXPECT_NEAR(ColorAt(interpolator, 0.5).Red, 100 / 255.0f, 1e-5f);
    // Without opacity nodes everything is opaque.
    EXPECT_EQ(ColorAt(interpolator, 0.1).Alpha, 1.0f);
    EXPECT_EQ(ColorAt(interpolator, 0.9).Alpha, 1.0f);
}

TEST(FracInterpolator, OneNodeGivesItsColourEverywhere) {
    for (const char *smooth : {"yes", "no"}) {
        TGradientFixture g;
        ReadGradientText(*g, std::string("gradient:\r\n smooth=") + smooth +
                                 " index=123 color=3368601\r\nopacity:\r\n index=7 opacity=51\r\n");
        TGradientInterpolator interpolator;
        interpolator.Build(*g);
        // 3368601 = 0x336699: red 0x99, green 0x66, blue 0x33.
        for (double index : {0.0, 0.1, 0.3075, 0.5, 0.99999})
            ExpectSameColor(ColorAt(interpolator, index),
                            TFloatColor{0x99 / 255.0f, 0x66 / 255.0f, 0x33 / 255.0f, 51 / 255.0f}, 1e-5f,
                            std::string(smooth) + " " + std::to_string(index));
    }
}

TEST(FracInterpolator, EmptyPartsGiveBlackAndOpaque) {
    TGradientFixture g;
    g->ColorItems().Clear();
    g->OpacityItems().Clear();
    TGradientInterpolator interpolator;
    interpolator.Build(*g);
    ExpectSameColor(ColorAt(interpolator, 0.7), TFloatColor{0, 0, 0, 1}, 0, "empty");
}
