#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "FracMerge.h"
#include "FracMergeFloat.h"

namespace {

class FracMergeTest : public testing::Test {
protected:
    static void SetUpTestSuite() { InitMergeTables(); }
};

int ByteOf(std::uint32_t Pixel, int Index) {
    return static_cast<int>((Pixel >> (8 * Index)) & 0xFF);
}

TEST_F(FracMergeTest, TablesHoldRoundedProductsAndCompositingWeights) {
    for (int x = 0; x < 256; ++x) {
        EXPECT_EQ(MergeProduct(255, x), x);
        EXPECT_EQ(MergeProduct(0, x), 0);
        EXPECT_EQ(MergeCompositeTable[x * 256], 0) << "D[" << x << "][0]";
        if (x > 0) {
            EXPECT_EQ(MergeCompositeTable[x], 255) << "D[0][" << x << "]";
        }
    }
    for (int a = 0; a < 256; a += 7)
        for (int b = 0; b < 256; b += 5)
            EXPECT_EQ(MergeProduct(a, b), MergeProduct(b, a));
    // Reference values from exact rational arithmetic; 144.5 and ties like it round to even.
    struct {
        const std::uint8_t *Table;
        int A, B, Expected;
    } const cases[] = {
        {MergeProductTable, 100, 200, 78},    {MergeProductTable, 128, 128, 64},
        {MergeProductTable, 1, 128, 1},       {MergeProductTable, 1, 127, 0},
        {MergeCompositeTable, 128, 128, 170}, {MergeCompositeTable, 255, 1, 1},
        {MergeCompositeTable, 200, 100, 115}, {MergeCompositeTable, 26, 30, 144},
        {MergeCompositeTable, 60, 60, 144},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.Table[c.A * 256 + c.B], c.Expected) << c.A << ", " << c.B;
    EXPECT_EQ(MergeMod60Table[359], 59);
    EXPECT_EQ(MergeDiv60Table[359], 5);
    EXPECT_EQ(MergeDiv60Table[255 * 59], 250); // the largest entry the HSL conversion reads
}

// Expected results worked out from the mode formulas with exact arithmetic in a separate script. The
// pairs cover the branch points: base red 128 (overlay's upper branch), layer green and blue 128 (soft and
// hard light's upper branch), layer red 127, black under white.
struct TModeCase {
    int Mode;
    std::uint32_t Base, Layer, Expected;
};
const TModeCase ModeCases[] = {
    {mmMultiply, 0xFF8040C0, 0x7F7F8080, 0x7F402060},    {mmMultiply, 0x20FF0080, 0xC010F07F, 0xC0100040},
    {mmMultiply, 0x80336699, 0x40CC3311, 0x4029140A},    {mmMultiply, 0x00000000, 0xFFFFFFFF, 0xFF000000},
    {mmScreen, 0xFF8040C0, 0x7F7F8080, 0x7FBFA0E0},      {mmScreen, 0x20FF0080, 0xC010F07F, 0xC0FFF0BF},
    {mmScreen, 0x80336699, 0x40CC3311, 0x40D685A0},      {mmScreen, 0x00000000, 0xFFFFFFFF, 0xFFFFFFFF},
    {mmOverlay, 0xFF8040C0, 0x7F7F8080, 0x7F8040C0},     {mmOverlay, 0x20FF0080, 0xC010F07F, 0xC0FF0080},
    {mmOverlay, 0x80336699, 0x40CC3311, 0x40522941},     {mmOverlay, 0x00000000, 0xFFFFFFFF, 0xFF000000},
    {mmSoftLight, 0xFF8040C0, 0x7F7F8080, 0x7F7F41C0},   {mmSoftLight, 0x20FF0080, 0xC010F07F, 0xC08F717F},
    {mmSoftLight, 0x80336699, 0x40CC3311, 0x40714756},   {mmSoftLight, 0x00000000, 0xFFFFFFFF, 0xFF808080},
    {mmHardLight, 0xFF8040C0, 0x7F7F8080, 0x7F7F41C0},   {mmHardLight, 0x20FF0080, 0xC010F07F, 0xC020E17F},
    {mmHardLight, 0x80336699, 0x40CC3311, 0x40AD2914},   {mmHardLight, 0x00000000, 0xFFFFFFFF, 0xFFFFFFFF},
    {mmDarken, 0xFF8040C0, 0x7F7F8080, 0x7F7F4080},      {mmDarken, 0x20FF0080, 0xC010F07F, 0xC010007F},
    {mmDarken, 0x80336699, 0x40CC3311, 0x40333311},      {mmDarken, 0x00000000, 0xFFFFFFFF, 0xFF000000},
    {mmLighten, 0xFF8040C0, 0x7F7F8080, 0x7F8080C0},     {mmLighten, 0x20FF0080, 0xC010F07F, 0xC0FFF080},
    {mmLighten, 0x80336699, 0x40CC3311, 0x40CC6699},     {mmLighten, 0x00000000, 0xFFFFFFFF, 0xFFFFFFFF},
    {mmDifference, 0xFF8040C0, 0x7F7F8080, 0x7F014040},  {mmDifference, 0x20FF0080, 0xC010F07F, 0xC0EFF001},
    {mmDifference, 0x80336699, 0x40CC3311, 0x40993388},  {mmDifference, 0x00000000, 0xFFFFFFFF, 0xFFFFFFFF},
    {mmHue, 0xFF8040C0, 0x7F7F8080, 0x7F40C0C0},         {mmHue, 0x20FF0080, 0xC010F07F, 0xC000FE7F},
    {mmHue, 0x80336699, 0x40CC3311, 0x40984634},         {mmHue, 0x00000000, 0xFFFFFFFF, 0xFF000000},
    {mmSaturation, 0xFF8040C0, 0x7F7F8080, 0x7F808080},  {mmSaturation, 0x20FF0080, 0xC010F07F, 0xC0EE1083},
    {mmSaturation, 0x80336699, 0x40CC3311, 0x401066BC},  {mmSaturation, 0x00000000, 0xFFFFFFFF, 0xFF000000},
    {mmColor, 0xFF8040C0, 0x7F7F8080, 0x7F808080},       {mmColor, 0x20FF0080, 0xC010F07F, 0xC010EE7F},
    {mmColor, 0x80336699, 0x40CC3311, 0x40BC2F10},       {mmColor, 0x00000000, 0xFFFFFFFF, 0xFF000000},
    {mmLuminance, 0xFF8040C0, 0x7F7F8080, 0x7F7F40BE},   {mmLuminance, 0x20FF0080, 0xC010F07F, 0xC0FF0185},
    {mmLuminance, 0x80336699, 0x40CC3311, 0x40386EA4},   {mmLuminance, 0x00000000, 0xFFFFFFFF, 0xFFFFFFFF},
    {mmAddition, 0xFF8040C0, 0x7F7F8080, 0x7FFFC0FF},    {mmAddition, 0x20FF0080, 0xC010F07F, 0xC0FFF0FF},
    {mmAddition, 0x80336699, 0x40CC3311, 0x40FF99AA},    {mmAddition, 0x00000000, 0xFFFFFFFF, 0xFFFFFFFF},
    {mmSubtraction, 0xFF8040C0, 0x7F7F8080, 0x7F010040}, {mmSubtraction, 0x20FF0080, 0xC010F07F, 0xC0EF0001},
    {mmSubtraction, 0x80336699, 0x40CC3311, 0x40003388}, {mmSubtraction, 0x00000000, 0xFFFFFFFF, 0xFF000000},
    {mmHSLAdd, 0xFF8040C0, 0x7F7F8080, 0x7F7F7F7F},      {mmHSLAdd, 0x20FF0080, 0xC010F07F, 0xC005FE00},
    {mmHSLAdd, 0x80336699, 0x40CC3311, 0x400E3B9A},      {mmHSLAdd, 0x00000000, 0xFFFFFFFF, 0xFF7F7F7F},
    {mmRed, 0xFF8040C0, 0x7F7F8080, 0x7F7F40C0},         {mmRed, 0x20FF0080, 0xC010F07F, 0xC0100080},
    {mmRed, 0x80336699, 0x40CC3311, 0x40CC6699},         {mmRed, 0x00000000, 0xFFFFFFFF, 0xFFFF0000},
    {mmGreen, 0xFF8040C0, 0x7F7F8080, 0x7F8080C0},       {mmGreen, 0x20FF0080, 0xC010F07F, 0xC0FFF080},
    {mmGreen, 0x80336699, 0x40CC3311, 0x40333399},       {mmGreen, 0x00000000, 0xFFFFFFFF, 0xFF00FF00},
    {mmBlue, 0xFF8040C0, 0x7F7F8080, 0x7F804080},        {mmBlue, 0x20FF0080, 0xC010F07F, 0xC0FF007F},
    {mmBlue, 0x80336699, 0x40CC3311, 0x40336611},        {mmBlue, 0x00000000, 0xFFFFFFFF, 0xFF0000FF},
};

TEST_F(FracMergeTest, EveryModeFollowsItsFormulaAndKeepsTheLayerAlpha) {
    for (const TModeCase &c : ModeCases) {
        // Through the dispatcher, on a row of three so that a routine that runs past a pixel shows.
        std::uint32_t base[3] = {0x11223344, c.Base, 0x55667788};
        std::uint32_t layer[3] = {0x99AABBCC, c.Layer, 0xDDEEFF00};
        MergeRows(base + 1, layer + 1, 1, c.Mode);
        EXPECT_EQ(layer[1], c.Expected) << "mode " << c.Mode << std::hex << " base " << c.Base << " layer "
                                        << c.Layer << " got " << layer[1];
        EXPECT_EQ(layer[0], 0x99AABBCCu);
        EXPECT_EQ(layer[2], 0xDDEEFF00u);
    }
}

TEST_F(FracMergeTest, NormalUnknownModesAndEmptyRowsLeaveTheLayer) {
    const std::uint32_t base[2] = {0xFF102030, 0x80405060};
    for (int mode : {0, -1, 19, 1000}) {
        std::uint32_t layer[2] = {0x11223344, 0x55667788};
        MergeRows(base, layer, 2, mode);
        EXPECT_EQ(layer[0], 0x11223344u) << mode;
        EXPECT_EQ(layer[1], 0x55667788u) << mode;
    }
    for (int mode = 1; mode < MergeModeCount; ++mode) {
        std::uint32_t layer[1] = {0x11223344};
        MergeRows(base, layer, 0, mode);
        EXPECT_EQ(layer[0], 0x11223344u) << mode;
    }
}

TEST_F(FracMergeTest, BlendingAndAlphaRoutines) {
    const std::uint32_t base = 0xC0336699, layer = 0x80CC3311;
    struct {
        const char *Name;
        void (*Run)(std::uint32_t &Base, std::uint32_t &Layer);
        std::uint32_t Expected;
    } const cases[] = {
        {"normal", [](std::uint32_t &b, std::uint32_t &l) { MergeNormal(&b, &l, 1); }, 0x807F4D55},
        {"normal alpha 255 keeps the layer",
         [](std::uint32_t &b, std::uint32_t &l) {
             l |= 0xFF000000;
             MergeNormal(&b, &l, 1);
         },
         0xFFCC3311},
        {"normal alpha 0 takes the base",
         [](std::uint32_t &b, std::uint32_t &l) {
             l &= 0x00FFFFFF;
             MergeNormal(&b, &l, 1);
         },
         0x00336699},
        {"normal by another row's alpha",
         [](std::uint32_t &b, std::uint32_t &l) {
             const std::uint32_t alpha = 0x20FFFFFF;
             MergeNormalAlpha(&b, &l, &alpha, 1);
         },
         0x80475F88},
        {"opacity 127", [](std::uint32_t &b, std::uint32_t &l) { MergeOpacity(&b, &l, 1, 127); }, 0x80804C55},
        {"composite",
         [](std::uint32_t &b, std::uint32_t &l) {
             b = 0x80336699, l = 0x40CC3311;
             MergeComposite(&b, &l, 1);
         },
         0xA0715163},
        {"composite of alpha 0 gives the base",
         [](std::uint32_t &b, std::uint32_t &l) {
             l &= 0x00FFFFFF;
             MergeComposite(&b, &l, 1);
         },
         0xC0336699},
        {"composite by another row's alpha",
         [](std::uint32_t &b, std::uint32_t &l) {
             b = 0x80336699, l = 0x40CC3311;
             const std::uint32_t alpha = 0xC0000000;
             MergeCompositeAlpha(&b, &l, &alpha, 1);
         },
         0xE0B63A25},
        {"composite without an alpha row",
         [](std::uint32_t &b, std::uint32_t &l) { MergeCompositeAlpha(&b, &l, nullptr, 1); }, 0x80CC3311},
        {"mask",
         [](std::uint32_t &b, std::uint32_t &l) {
             const std::uint32_t mask = 0x40000000;
             MergeMask(&l, &mask, 1);
         },
         0x20CC3311},
        {"scale alpha", [](std::uint32_t &b, std::uint32_t &l) { MergeScaleAlpha(&l, 1, 127); }, 0x40CC3311},
        {"set alpha", [](std::uint32_t &b, std::uint32_t &l) { MergeSetAlpha(&l, 1, 7); }, 0x07CC3311},
        {"fill", [](std::uint32_t &b, std::uint32_t &l) { MergeFill(&l, 1, 0x12345678); }, 0x12345678},
    };
    for (const auto &c : cases) {
        std::uint32_t b = base, l = layer;
        c.Run(b, l);
        EXPECT_EQ(l, c.Expected) << c.Name << std::hex << ": got " << l;
    }
}

TEST_F(FracMergeTest, IntegerHSL) {
    struct {
        std::uint32_t Pixel;
        int Hue, Saturation, Lightness;
    } const cases[] = {
        {0xFFFF0000, 0, 255, 127},   // pure red: 300 + 60 = 360 becomes 0
        {0x00808080, 0, 0, 128},     // grey
        {0x00000000, 0, 0, 0},       // black
        {0x0000FF00, 120, 255, 127}, // green
        {0x000000FF, 240, 255, 127}, // blue
        {0x00FF00FF, 300, 255, 127}, // magenta: mx = red and mn = green
        {0x00FF0001, 359, 255, 127}, // mn = green, just short of a full turn
        {0x00336699, 210, 127, 102},
    };
    for (const auto &c : cases) {
        const TIntegerHSL hsl = PixelToHSL(c.Pixel);
        EXPECT_EQ(hsl.Hue, c.Hue) << std::hex << c.Pixel;
        EXPECT_EQ(hsl.Saturation, c.Saturation) << std::hex << c.Pixel;
        EXPECT_EQ(hsl.Lightness, c.Lightness) << std::hex << c.Pixel;
        EXPECT_EQ(PixelHue(c.Pixel), c.Hue);
        TIntegerHSL partial{999, 0, 0};
        PixelSatLight(c.Pixel, partial);
        EXPECT_EQ(partial.Hue, 999);
        EXPECT_EQ(partial.Saturation, c.Saturation);
        EXPECT_EQ(partial.Lightness, c.Lightness);
    }
    // Back to a pixel: the alpha byte stays, fully saturated primaries come back exactly.
    std::uint32_t pixel = 0xAB000000;
    HSLToPixel({0, 255, 127}, pixel);
    EXPECT_EQ(pixel, 0xABFE0000u); // q = 127 * 510 div 255 = 254
    HSLToPixel({240, 255, 128}, pixel);
    EXPECT_EQ(pixel, 0xAB0101FFu); // q = 128 + 255 - 128 = 255, p = 1
    HSLToPixel({0, 0, 0}, pixel);
    EXPECT_EQ(pixel, 0xAB000000u);

    // Two pixels of hue 200 add up to hue 40.
    std::uint32_t base = 0xFF3399CC, layer = 0xFF3399CC;
    ASSERT_EQ(PixelHue(base), 200);
    MergeHSLAdd(&base, &layer, 1);
    EXPECT_EQ(PixelHue(layer), 40);
}

// The fixture holds random rows merged by ImageMagick's compose operators (tools/frac_merge_reference.py):
// keyword, then red, green, blue bytes of every pixel in hex.
std::map<std::string, std::vector<int>> ReadImageMagickFixture() {
    std::ifstream file(std::string(TEST_DATA_DIR) + "fractal\\data\\merge_imagemagick.txt");
    std::map<std::string, std::vector<int>> rows;
    std::string line;
    while (std::getline(file, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream fields(line);
        std::string keyword, hex;
        fields >> keyword >> hex;
        std::vector<int> &bytes = rows[keyword];
        for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
            bytes.push_back(std::stoi(hex.substr(i, 2), nullptr, 16));
    }
    return rows;
}

std::vector<std::uint32_t> ToPixels(const std::vector<int> &Bytes, std::uint8_t Alpha) {
    std::vector<std::uint32_t> pixels;
    for (std::size_t i = 0; i + 2 < Bytes.size(); i += 3)
        pixels.push_back((static_cast<std::uint32_t>(Alpha) << 24) | (Bytes[i] << 16) | (Bytes[i + 1] << 8) |
                         Bytes[i + 2]);
    return pixels;
}

TEST_F(FracMergeTest, ModesAgreeWithImageMagickWithinOne) {
    const auto rows = ReadImageMagickFixture();
    ASSERT_TRUE(rows.count("base") && rows.count("layer")) << "fixture missing";
    const std::vector<std::uint32_t> base = ToPixels(rows.at("base"), 255);
    const std::vector<std::uint32_t> layer = ToPixels(rows.at("layer"), 255);
    ASSERT_EQ(base.size(), 256u);
    const struct {
        const char *Keyword;
        int Mode;
    } modes[] = {{"multiply", mmMultiply},     {"screen", mmScreen},     {"overlay", mmOverlay},
                 {"hardlight", mmHardLight},   {"darken", mmDarken},     {"lighten", mmLighten},
                 {"difference", mmDifference}, {"addition", mmAddition}, {"subtraction", mmSubtraction}};
    for (const auto &m : modes) {
        ASSERT_TRUE(rows.count(m.Keyword)) << m.Keyword;
        const std::vector<std::uint32_t> expected = ToPixels(rows.at(m.Keyword), 255);
        ASSERT_EQ(expected.size(), base.size());

        std::vector<std::uint32_t> merged = layer;
        MergeRows(base.data(), merged.data(), static_cast<int>(merged.size()), m.Mode);

        std::vector<TFloatColor> floatBase(base.size()), floatMerged(base.size());
        for (std::size_t i = 0; i < base.size(); ++i) {
            PixelToFloatColor(base[i], floatBase[i]);
            PixelToFloatColor(layer[i], floatMerged[i]);
        }
        MergeFloatRows(floatBase.data(), floatMerged.data(), static_cast<int>(floatMerged.size()), m.Mode);

        int worst = 0, worstFloat = 0;
        for (std::size_t i = 0; i < base.size(); ++i) {
            const std::uint32_t fromFloat = FloatColorToPixel(floatMerged[i]);
            for (int channel = 0; channel < 3; ++channel) {
                const int want = ByteOf(expected[i], channel);
                worst = std::max(worst, std::abs(ByteOf(merged[i], channel) - want));
                worstFloat = std::max(worstFloat, std::abs(ByteOf(fromFloat, channel) - want));
            }
            EXPECT_EQ(merged[i] >> 24, 255u);
        }
        EXPECT_LE(worst, 1) << m.Keyword << " (8-bit)";
        EXPECT_LE(worstFloat, 1) << m.Keyword << " (float)";
    }
}

// ---------------------------------------------------------------------------------------------
// Float routines

// Expected colours from the mode formulas, the HSL modes through Python's colorsys (hue scaled to sixths).
struct TFloatModeCase {
    int Mode;
    float Base[3], Layer[3], Expected[3];
};
const TFloatModeCase FloatModeCases[] = {
    {mmMultiply, {0.75f, 0.25f, 0.5f}, {0.125f, 0.875f, 0.375f}, {0.09375, 0.21875, 0.1875}},
    {mmMultiply, {0.5f, 0.5f, 0.0625f}, {0.5f, 1, 0.6875f}, {0.25, 0.5, 0.04296875}},
    {mmScreen, {0.75f, 0.25f, 0.5f}, {0.125f, 0.875f, 0.375f}, {0.78125, 0.90625, 0.6875}},
    {mmScreen, {0.5f, 0.5f, 0.0625f}, {0.5f, 1, 0.6875f}, {0.75, 1, 0.70703125}},
    {mmOverlay, {0.75f, 0.25f, 0.5f}, {0.125f, 0.875f, 0.375f}, {0.5625, 0.4375, 0.375}},
    {mmOverlay, {0.5f, 0.5f, 0.0625f}, {0.5f, 1, 0.6875f}, {0.5, 1, 0.0859375}},
    {mmSoftLight, {0.75f, 0.25f, 0.5f}, {0.125f, 0.875f, 0.375f}, {0.46875, 0.53125, 0.4375}},
    {mmSoftLight, {0.5f, 0.5f, 0.0625f}, {0.5f, 1, 0.6875f}, {0.5, 0.75, 0.23828125}},
    {mmHardLight, {0.75f, 0.25f, 0.5f}, {0.125f, 0.875f, 0.375f}, {0.1875, 0.8125, 0.375}},
    {mmHardLight, {0.5f, 0.5f, 0.0625f}, {0.5f, 1, 0.6875f}, {0.5, 1, 0.4140625}},
    {mmDarken, {0.75f, 0.25f, 0.5f}, {0.125f, 0.875f, 0.375f}, {0.125, 0.25, 0.375}},
    {mmDarken, {0.5f, 0.5f, 0.0625f}, {0.5f, 1, 0.6875f}, {0.5, 0.5, 0.0625}},
    {mmLighten, {0.75f, 0.25f, 0.5f}, {0.125f, 0.875f, 0.375f}, {0.75, 0.875, 0.5}},
    {mmLighten, {0.5f, 0.5f, 0.0625f}, {0.5f, 1, 0.6875f}, {0.5, 1, 0.6875}},
    {mmDifference, {0.75f, 0.25f, 0.5f}, {0.125f, 0.875f, 0.375f}, {0.625, 0.625, 0.125}},
    {mmDifference, {0.5f, 0.5f, 0.0625f}, {0.5f, 1, 0.6875f}, {0, 0.5, 0.625}},
    {mmAddition, {0.75f, 0.25f, 0.5f}, {0.125f, 0.875f, 0.375f}, {0.875, 1, 0.875}},
    {mmAddition, {0.5f, 0.5f, 0.0625f}, {0.5f, 1, 0.6875f}, {1, 1, 0.75}},
    {mmSubtraction, {0.75f, 0.25f, 0.5f}, {0.125f, 0.875f, 0.375f}, {0.625, 0, 0.125}},
    {mmSubtraction, {0.5f, 0.5f, 0.0625f}, {0.5f, 1, 0.6875f}, {0, 0, 0}},
    {mmHue, {0.75f, 0.25f, 0.5f}, {0.125f, 0.875f, 0.375f}, {0.25, 0.75, 0.416666667}},
    {mmHue, {0.5f, 0.5f, 0.0625f}, {0.5f, 1, 0.6875f}, {0.0625, 0.5, 0.2265625}},
    {mmSaturation, {0.75f, 0.25f, 0.5f}, {0.125f, 0.875f, 0.375f}, {0.875, 0.125, 0.5}},
    {mmSaturation, {0.5f, 0.5f, 0.0625f}, {0.5f, 1, 0.6875f}, {0.5625, 0.5625, 0}},
    {mmColor, {0.75f, 0.25f, 0.5f}, {0.125f, 0.875f, 0.375f}, {0.125, 0.875, 0.375}},
    {mmColor, {0.5f, 0.5f, 0.0625f}, {0.5f, 1, 0.6875f}, {0, 0.5625, 0.2109375}},
    {mmLuminance, {0.75f, 0.25f, 0.5f}, {0.125f, 0.875f, 0.375f}, {0.75, 0.25, 0.5}},
    {mmLuminance, {0.5f, 0.5f, 0.0625f}, {0.5f, 1, 0.6875f}, {0.944444444, 0.944444444, 0.555555556}},
    {mmHSLAdd, {0.75f, 0.25f, 0.5f}, {0.125f, 0.875f, 0.375f}, {0.25, 0.875, 0.125}},
    {mmHSLAdd, {0.5f, 0.5f, 0.0625f}, {0.5f, 1, 0.6875f}, {0.0625, 0.6484375, 1}},
    {mmRed, {0.75f, 0.25f, 0.5f}, {0.125f, 0.875f, 0.375f}, {0.125, 0.25, 0.5}},
    {mmGreen, {0.75f, 0.25f, 0.5f}, {0.125f, 0.875f, 0.375f}, {0.75, 0.875, 0.5}},
    {mmBlue, {0.75f, 0.25f, 0.5f}, {0.125f, 0.875f, 0.375f}, {0.75, 0.25, 0.375}},
};

TEST_F(FracMergeTest, EveryFloatModeFollowsItsFormulaAndKeepsTheLayerAlpha) {
    for (const TFloatModeCase &c : FloatModeCases) {
        const TFloatColor base[3] = {{9, 9, 9, 9}, {c.Base[0], c.Base[1], c.Base[2], 0.25f}, {9, 9, 9, 9}};
        TFloatColor layer[3] = {{7, 7, 7, 7}, {c.Layer[0], c.Layer[1], c.Layer[2], 0.625f}, {7, 7, 7, 7}};
        MergeFloatRows(base + 1, layer + 1, 1, c.Mode);
        EXPECT_NEAR(layer[1].Red, c.Expected[0], 2e-6) << "mode " << c.Mode;
        EXPECT_NEAR(layer[1].Green, c.Expected[1], 2e-6) << "mode " << c.Mode;
        EXPECT_NEAR(layer[1].Blue, c.Expected[2], 2e-6) << "mode " << c.Mode;
        EXPECT_EQ(layer[1].Alpha, 0.625f);
        EXPECT_EQ(layer[0].Red, 7.0f);
        EXPECT_EQ(layer[2].Alpha, 7.0f);
    }
    for (int mode : {0, -1, 19}) {
        const TFloatColor base = {0.5f, 0.5f, 0.5f, 1};
        TFloatColor layer = {0.25f, 0.125f, 1, 0.5f};
        MergeFloatRows(&base, &layer, 1, mode);
        EXPECT_EQ(layer.Red, 0.25f);
        EXPECT_EQ(layer.Green, 0.125f);
    }
}

TEST_F(FracMergeTest, FloatBlendingAndAlphaRoutines) {
    const TFloatColor base = {0.5f, 0.25f, 1, 0.5f};
    const TFloatColor layer = {1, 0.75f, 0, 0.25f};
    struct {
        const char *Name;
        void (*Run)(TFloatColor &Base, TFloatColor &Layer);
        TFloatColor Expected;
    } const cases[] = {
        {"normal",
         [](TFloatColor &b, TFloatColor &l) { MergeFloatNormal(&b, &l, 1); },
         {0.625f, 0.375f, 0.75f, 0.25f}},
        {"normal by another row's alpha",
         [](TFloatColor &b, TFloatColor &l) {
             const TFloatColor alpha = {0, 0, 0, 0.75f};
             MergeFloatNormalAlpha(&b, &l, &alpha, 1);
         },
         {0.875f, 0.625f, 0.25f, 0.25f}},
        {"opacity 255",
         [](TFloatColor &b, TFloatColor &l) { MergeFloatOpacity(&b, &l, 1, 255); },
         {1, 0.75f, 0, 0.25f}},
        {"opacity 0",
         [](TFloatColor &b, TFloatColor &l) { MergeFloatOpacity(&b, &l, 1, 0); },
         {0.5f, 0.25f, 1, 0.25f}},
        // r = 0.5 + 0.25 - 0.125 = 0.625, w = 0.4
        {"composite",
         [](TFloatColor &b, TFloatColor &l) { MergeFloatComposite(&b, &l, 1); },
         {0.7f, 0.45f, 0.6f, 0.625f}},
        {"composite of two clear pixels keeps the base colour",
         [](TFloatColor &b, TFloatColor &l) {
             b.Alpha = 0, l.Alpha = 0;
             MergeFloatComposite(&b, &l, 1);
         },
         {0.5f, 0.25f, 1, 0}},
        {"composite without an alpha row",
         [](TFloatColor &b, TFloatColor &l) { MergeFloatCompositeAlpha(&b, &l, nullptr, 1); },
         {1, 0.75f, 0, 0.25f}},
        {"mask", [](TFloatColor &b, TFloatColor &l) { MergeFloatMask(&l, &b, 1); }, {1, 0.75f, 0, 0.125f}},
        {"scale alpha",
         [](TFloatColor &b, TFloatColor &l) { MergeFloatScaleAlpha(&l, 1, 51); },
         {1, 0.75f, 0, 0.05f}},
        {"set alpha",
         [](TFloatColor &b, TFloatColor &l) { MergeFloatSetAlpha(&l, 1, 51); },
         {1, 0.75f, 0, 0.2f}},
        {"fill blue",
         [](TFloatColor &b, TFloatColor &l) { MergeFloatFill(&l, 1, 0xFF0000FF); },
         {0, 0, 1, 1}},
        {"screen of halves",
         [](TFloatColor &b, TFloatColor &l) {
             b = {0.5f, 0.5f, 0.5f, 1}, l = {0.5f, 0.5f, 0.5f, 1};
             MergeFloatScreen(&b, &l, 1);
         },
         {0.75f, 0.75f, 0.75f, 1}},
    };
    for (const auto &c : cases) {
        TFloatColor b = base, l = layer;
        c.Run(b, l);
        EXPECT_NEAR(l.Red, c.Expected.Red, 1e-6) << c.Name;
        EXPECT_NEAR(l.Green, c.Expected.Green, 1e-6) << c.Name;
        EXPECT_NEAR(l.Blue, c.Expected.Blue, 1e-6) << c.Name;
        EXPECT_NEAR(l.Alpha, c.Expected.Alpha, 1e-6) << c.Name;
    }
}

} // namespace
