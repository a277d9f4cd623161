#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "GenColor.h"

namespace {

constexpr float Nan = std::numeric_limits<float>::quiet_NaN();
constexpr float Inf = std::numeric_limits<float>::infinity();

std::string Hex(std::uint32_t Value) {
    char text[16];
    std::snprintf(text, sizeof text, "%08lx", static_cast<unsigned long>(Value));
    return text;
}

TEST(GenColor, ByteOrderConversions) {
    const std::uint32_t color = 0x00332211; // red 0x11, green 0x22, blue 0x33
    TRGBTriple triple{};
    ColorToRGBTriple(color, triple);
    EXPECT_EQ(triple.Red, 0x11);
    EXPECT_EQ(triple.Green, 0x22);
    EXPECT_EQ(triple.Blue, 0x33);
    EXPECT_EQ(SwapRedBlue(0x00332211u), 0x00112233u);
    EXPECT_EQ(SwapRedBlue(0xAA332211u), 0xAA112233u); // the top byte stays
    EXPECT_EQ(ColorToPixel(color, 0x80), 0x80112233u);
    EXPECT_EQ(PixelToColor(0x80112233u), color);
}

TEST(GenColor, PixelAndFloatColours) {
    TFloatColor f{};
    PixelToFloatColor(0xFF8000FFu, f); // alpha 255, red 128, green 0, blue 255
    EXPECT_FLOAT_EQ(f.Red, 128.0f / 255);
    EXPECT_EQ(f.Green, 0.0f);
    EXPECT_EQ(f.Blue, 1.0f);
    EXPECT_EQ(f.Alpha, 1.0f);
    // (1, 0.5, 0, 1): red 255, green 128 (127.5 rounds to the even 128), blue 0, alpha 255.
    EXPECT_EQ(FloatColorToPixel(TFloatColor{1.0f, 0.5f, 0.0f, 1.0f}), 0xFFFF8000u);
    // Every byte survives the way through float and back.
    for (std::uint32_t b = 0; b < 256; ++b) {
        const std::uint32_t pixel = b | ((255 - b) << 8) | (b << 16) | ((b ^ 0x5A) << 24);
        PixelToFloatColor(pixel, f);
        ASSERT_EQ(FloatColorToPixel(f), pixel) << b;
    }
}

TEST(GenColor, ClampUnitFloat) {
    struct Case {
        float In, Out;
    } cases[] = {{Nan, 0}, {Inf, 0},       {-Inf, 0},        {-0.0f, 0}, {-0.25f, 0},
                 {0, 0},   {0.25f, 0.25f}, {0.999f, 0.999f}, {1, 1},     {1.5f, 1}};
    for (const Case &c : cases) {
        const float out = ClampUnitFloat(c.In);
        EXPECT_EQ(out, c.Out) << c.In;
        EXPECT_FALSE(std::signbit(out)) << c.In;
    }
    TFloatColor clamped{};
    ClampFloatColor(TFloatColor{Nan, 2, -1, 0.5f}, clamped);
    EXPECT_EQ(clamped.Red, 0);
    EXPECT_EQ(clamped.Green, 1);
    EXPECT_EQ(clamped.Blue, 0);
    EXPECT_EQ(clamped.Alpha, 0.5f);
}

TEST(GenColor, IntegerHSLKnownColours) {
    struct Case {
        std::uint32_t Color;
        int H, S, L;
    } cases[] = {{0x0000FF, 0, 255, 127},   {0xFFFFFF, 0, 0, 255},     {0x000000, 0, 0, 0},
                 {0xFF00FF, 300, 255, 127}, {0x00FF00, 120, 255, 127}, {0xFF0000, 240, 255, 127}};
    for (const Case &c : cases) {
        const std::uint32_t hsl = RGBToHSL(c.Color);
        EXPECT_EQ(PackedHue(hsl), c.H) << Hex(c.Color);
        EXPECT_EQ(PackedSaturation(hsl), c.S) << Hex(c.Color);
        EXPECT_EQ(PackedLightness(hsl), c.L) << Hex(c.Color);
    }
    // The integer round trip may lose one step.
    EXPECT_EQ(HSLToRGB(RGBToHSL(0xFF00FF)), 0xFE00FEu);
    const std::uint32_t grey = RGBToHSV(0x808080);
    EXPECT_EQ(PackedHue(grey), 0);
    EXPECT_EQ(PackedSaturation(grey), 0);
    EXPECT_EQ(PackedLightness(grey), 128);
}

TEST(GenColor, FloatHSLKnownColours) {
    float h = -1, s = -1, l = -1;
    RGBToHSLFloat(TFloatColor{0, 0, 1, 1}, h, s, l);
    EXPECT_EQ(h, 4.0f);
    EXPECT_EQ(s, 1.0f);
    EXPECT_EQ(l, 0.5f);
    float r = -1, g = -1, b = -1;
    HSLToRGBFloat(h, s, l, r, g, b);
    EXPECT_EQ(r, 0.0f);
    EXPECT_EQ(g, 0.0f);
    EXPECT_EQ(b, 1.0f);
    // Pure red lies at the wrap of the circle: its hue is 0, never 6.
    EXPECT_EQ(RGBToHueFloat(TFloatColor{1, 0, 0, 1}), 0.0f);
    // A red with a trace of blue is just below 6 and must stay inside [0, 6).
    const float nearlyRed = RGBToHueFloat(TFloatColor{1, 0, 1e-9f, 1});
    EXPECT_GE(nearlyRed, 0.0f);
    EXPECT_LT(nearlyRed, 6.0f);
    // Black and grey have neither hue nor saturation.
    RGBToHSLFloat(TFloatColor{0, 0, 0, 1}, h, s, l);
    EXPECT_EQ(h, 0.0f);
    EXPECT_EQ(s, 0.0f);
    RGBToSaturationLightness(TFloatColor{0.5f, 0.5f, 0.5f, 1}, s, l);
    EXPECT_EQ(s, 0.0f);
    EXPECT_EQ(l, 0.5f);
}

// Reference values made once by data/make_gencolor_reference.py.
const std::vector<std::string> &ReferenceLines() {
    static const std::vector<std::string> lines = [] {
        std::vector<std::string> result;
        std::ifstream file(std::string(TEST_DATA_DIR) + "foundation\\data\\gencolor_reference.txt");
        std::string line;
        while (std::getline(file, line))
            result.push_back(line);
        return result;
    }();
    return lines;
}

TEST(GenColorReference, IntegerConversionsMatchExactly) {
    int checked = 0;
    for (const std::string &line : ReferenceLines()) {
        std::istringstream in(line);
        std::string kind;
        in >> kind >> std::hex;
        std::uint32_t a = 0, b = 0, c = 0;
        if (kind == "rgb") {
            in >> a >> b >> c;
            EXPECT_EQ(Hex(RGBToHSL(a)), Hex(b)) << line;
            EXPECT_EQ(Hex(RGBToHSV(a)), Hex(c)) << line;
        } else if (kind == "hsl") {
            in >> a >> b;
            EXPECT_EQ(Hex(HSLToRGB(a)), Hex(b)) << line;
        } else if (kind == "hsv") {
            in >> a >> b;
            EXPECT_EQ(Hex(HSVToRGB(a)), Hex(b)) << line;
        } else {
            continue;
        }
        ++checked;
    }
    EXPECT_GT(checked, 0);
}

TEST(GenColorReference, FloatConversionsAgreeWithIndependentReference) {
    // The reference is computed in double precision; the conversions work in single precision.
    const double tolerance = 2e-6;
    int checked = 0;
    for (const std::string &line : ReferenceLines()) {
        std::istringstream in(line);
        std::string kind;
        double v[6];
        in >> kind >> v[0] >> v[1] >> v[2] >> v[3] >> v[4] >> v[5];
        if (kind == "frgb") {
            float h, s, l;
            RGBToHSLFloat(TFloatColor{float(v[0]), float(v[1]), float(v[2]), 1}, h, s, l);
            EXPECT_NEAR(l, v[5], tolerance) << line;
            if (v[4] > 0) {
                EXPECT_NEAR(s, v[4], tolerance) << line;
                // Hue is a circle: 0 and 6 are the same place.
                const double dh = std::fabs(h - v[3]);
                EXPECT_LE(std::fmin(dh, 6 - dh), 1e-5) << line;
                EXPECT_LT(h, 6.0f) << line;
            }
        } else if (kind == "fhsl") {
            float r, g, b;
            HSLToRGBFloat(float(v[0]), float(v[1]), float(v[2]), r, g, b);
            EXPECT_NEAR(r, v[3], tolerance) << line;
            EXPECT_NEAR(g, v[4], tolerance) << line;
            EXPECT_NEAR(b, v[5], tolerance) << line;
        } else {
            continue;
        }
        ++checked;
    }
    EXPECT_GT(checked, 0);
}

} // namespace
