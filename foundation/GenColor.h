// Conversions between the colour forms of the program: the Windows colour value (0x00BBGGRR), 32-bit
// pixels (bytes blue, green, red, alpha), packed integer HSL and HSV, and single-precision float RGBA
// with float HSL. The integer conversions use truncating integer arithmetic so that their results are
// exactly reproducible on every machine.
#pragma once

#include <cstdint>

// Three bytes in pixel order: blue, green, red.
struct TRGBTriple {
    std::uint8_t Blue;
    std::uint8_t Green;
    std::uint8_t Red;
};

// Red, green, blue and alpha, nominally 0..1.
struct TFloatColor {
    float Red;
    float Green;
    float Blue;
    float Alpha;
};

// Packed HSL: bits 0-15 hue 0..359, bits 16-23 saturation 0..255, bits 24-31 lightness 0..255.
// Packed HSV: the same with value in place of lightness.
inline std::uint32_t MakePackedHSL(int Hue, int Saturation, int Lightness) {
    return (static_cast<std::uint32_t>(Hue) & 0xFFFF) |
           (static_cast<std::uint32_t>(Saturation & 0xFF) << 16) |
           (static_cast<std::uint32_t>(Lightness & 0xFF) << 24);
}
inline int PackedHue(std::uint32_t Packed) {
    return static_cast<int>(Packed & 0xFFFF);
}
inline int PackedSaturation(std::uint32_t Packed) {
    return static_cast<int>((Packed >> 16) & 0xFF);
}
inline int PackedLightness(std::uint32_t Packed) {
    return static_cast<int>(Packed >> 24);
}

void ColorToRGBTriple(std::uint32_t Color, TRGBTriple &Triple);
std::uint32_t SwapRedBlue(std::uint32_t Color);
std::uint32_t ColorToPixel(std::uint32_t Color, std::uint8_t Alpha);
std::uint32_t PixelToColor(std::uint32_t Pixel);

void PixelToFloatColor(std::uint32_t Pixel, TFloatColor &Float);
// Each component times 255, rounded to nearest; callers clamp first.
std::uint32_t FloatColorToPixel(const TFloatColor &Float);
// 0 for NaN, infinities, negative values and 0; 1 for X >= 1; X otherwise.
float ClampUnitFloat(float X);
void ClampFloatColor(const TFloatColor &Float, TFloatColor &Result);

std::uint32_t RGBToHSL(std::uint32_t Color);
std::uint32_t HSLToRGB(std::uint32_t HSL);
std::uint32_t RGBToHSV(std::uint32_t Color);
std::uint32_t HSVToRGB(std::uint32_t HSV);

// Float HSL: hue 0 <= H < 6 in sixths of the circle (0 red, 2 green, 4 blue), S and L 0..1.
void RGBToHSLFloat(const TFloatColor &Float, float &H, float &S, float &L);
void RGBToSaturationLightness(const TFloatColor &Float, float &S, float &L);
float RGBToHueFloat(const TFloatColor &Float);
void HSLToRGBFloat(float H, float S, float L, float &R, float &G, float &B);
