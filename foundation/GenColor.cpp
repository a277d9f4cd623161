#include "GenColor.h"

#include <algorithm>
#include <cmath>

#include "GenUtils.h"

namespace {

struct TBytes {
    int Red, Green, Blue;
};

TBytes SplitColor(std::uint32_t Color) {
    return {static_cast<int>(Color & 0xFF), static_cast<int>((Color >> 8) & 0xFF),
            static_cast<int>((Color >> 16) & 0xFF)};
}

std::uint32_t JoinColor(int Red, int Green, int Blue) {
    return (static_cast<std::uint32_t>(Red) & 0xFF) | ((static_cast<std::uint32_t>(Green) & 0xFF) << 8) |
           ((static_cast<std::uint32_t>(Blue) & 0xFF) << 16);
}

// The hue shared by the integer HSL and HSV forms. Ties between channels go to red before green before
// blue, both for the largest and for the smallest channel; all divisions truncate.
int IntegerHue(int R, int G, int B, int Largest, int Smallest) {
    const int d = Largest - Smallest;
    int hue;
    if (R == Largest) {
        if (G == Smallest)
            hue = (R - B) * 60 / d + 300;
        else
            hue = 60 - (R - G) * 60 / d;
    } else if (G == Largest) {
        if (B == Smallest)
            hue = (G - R) * 60 / d + 60;
        else
            hue = 180 - (G - B) * 60 / d;
    } else {
        if (R == Smallest)
            hue = (B - G) * 60 / d + 180;
        else
            hue = 300 - (B - R) * 60 / d;
    }
    return hue >= 360 ? 0 : hue;
}

// Forces a value through a 32-bit float: on the x87 an intermediate would otherwise keep 64 bits of
// mantissa, and the stored single is what makes the float conversions reproducible.
float StoreSingle(long double X) {
    volatile float stored = static_cast<float>(X);
    return stored;
}

// Hue, saturation and lightness of a float colour; the flags say which parts the caller wants.
void FloatHSL(const TFloatColor &Float, float *H, float *S, float *L) {
    const long double r = Float.Red, g = Float.Green, b = Float.Blue;
    const long double mx = std::fmax(std::fmax(r, g), b);
    const long double mn = std::fmin(std::fmin(r, g), b);
    const long double d = mx - mn;
    const float lightness = StoreSingle((mx + mn) / 2);
    if (L)
        *L = lightness;
    if (lightness <= 0 || d == 0) {
        if (H)
            *H = 0;
        if (S)
            *S = 0;
        return;
    }
    if (H) {
        long double hue;
        if (r == mx) {
            if (g == mn)
                hue = (r - b) / d + 5;
            else
                hue = 1 - (r - g) / d;
        } else if (g == mx) {
            if (b == mn)
                hue = (g - r) / d + 1;
            else
                hue = 3 - (g - b) / d;
        } else {
            if (r == mn)
                hue = (b - g) / d + 3;
            else
                hue = 5 - (b - r) / d;
        }
        // Checked after rounding to single: a value just below 6 can round up to 6.
        float stored = StoreSingle(hue);
        if (stored >= 6 || stored < 0)
            stored = 0;
        *H = stored;
    }
    if (S) {
        if (lightness <= 0.5f) {
            *S = StoreSingle(d / (mx + mn));
        } else {
            const long double t = 2 - mx - mn;
            *S = t > 0 ? StoreSingle(d / t) : 1.0f;
        }
    }
}

} // namespace

void ColorToRGBTriple(std::uint32_t Color, TRGBTriple &Triple) {
    const TBytes bytes = SplitColor(Color);
    Triple.Blue = static_cast<std::uint8_t>(bytes.Blue);
    Triple.Green = static_cast<std::uint8_t>(bytes.Green);
    Triple.Red = static_cast<std::uint8_t>(bytes.Red);
}

std::uint32_t SwapRedBlue(std::uint32_t Color) {
    return (Color & 0xFF00FF00u) | ((Color & 0xFF) << 16) | ((Color >> 16) & 0xFF);
}

std::uint32_t ColorToPixel(std::uint32_t Color, std::uint8_t Alpha) {
    return SwapRedBlue(Color & 0x00FFFFFF) | (static_cast<std::uint32_t>(Alpha) << 24);
}

std::uint32_t PixelToColor(std::uint32_t Pixel) {
    return SwapRedBlue(Pixel & 0x00FFFFFF);
}

void PixelToFloatColor(std::uint32_t Pixel, TFloatColor &Float) {
    Float.Blue = StoreSingle(static_cast<long double>(Pixel & 0xFF) / 255);
    Float.Green = StoreSingle(static_cast<long double>((Pixel >> 8) & 0xFF) / 255);
    Float.Red = StoreSingle(static_cast<long double>((Pixel >> 16) & 0xFF) / 255);
    Float.Alpha = StoreSingle(static_cast<long double>(Pixel >> 24) / 255);
}

std::uint32_t FloatColorToPixel(const TFloatColor &Float) {
    // Round to nearest (ties to even, as the processor rounds); only the low byte is kept.
    auto channel = [](float X) {
        return static_cast<std::uint32_t>(std::lrint(static_cast<long double>(X) * 255)) & 0xFF;
    };
    return channel(Float.Blue) | (channel(Float.Green) << 8) | (channel(Float.Red) << 16) |
           (channel(Float.Alpha) << 24);
}

float ClampUnitFloat(float X) {
    if (std::isnan(X) || std::isinf(X) || X <= 0)
        return 0;
    if (X >= 1)
        return 1;
    return X;
}

void ClampFloatColor(const TFloatColor &Float, TFloatColor &Result) {
    Result.Red = ClampUnitFloat(Float.Red);
    Result.Green = ClampUnitFloat(Float.Green);
    Result.Blue = ClampUnitFloat(Float.Blue);
    Result.Alpha = ClampUnitFloat(Float.Alpha);
}

std::uint32_t RGBToHSL(std::uint32_t Color) {
    const TBytes c = SplitColor(Color);
    const int mx = std::max(std::max(c.Red, c.Green), c.Blue);
    const int mn = std::min(std::min(c.Red, c.Green), c.Blue);
    const int d = mx - mn;
    const int lightness = (mx + mn) / 2;
    if (lightness == 0 || d == 0)
        return MakePackedHSL(0, 0, lightness);
    const int hue = IntegerHue(c.Red, c.Green, c.Blue, mx, mn);
    const int saturation = lightness <= 127 ? d * 255 / (mx + mn) : d * 255 / (510 - mx - mn);
    return MakePackedHSL(hue, saturation, lightness);
}

std::uint32_t HSLToRGB(std::uint32_t HSL) {
    const int h = PackedHue(HSL), s = PackedSaturation(HSL), l = PackedLightness(HSL);
    const int m2 = l <= 127 ? (s + 255) * l / 255 : l + s - s * l / 255;
    if (m2 < 1)
        return 0;
    const int m1 = 2 * l - m2;
    const int t = (h % 60) * (m2 - m1) / 60;
    switch (h / 60) {
    case 0:
        return JoinColor(m2, m1 + t, m1);
    case 1:
        return JoinColor(m2 - t, m2, m1);
    case 2:
        return JoinColor(m1, m2, m1 + t);
    case 3:
        return JoinColor(m1, m2 - t, m2);
    case 4:
        return JoinColor(m1 + t, m1, m2);
    default:
        return JoinColor(m2, m1, m2 - t);
    }
}

std::uint32_t RGBToHSV(std::uint32_t Color) {
    const TBytes c = SplitColor(Color);
    const int mx = std::max(std::max(c.Red, c.Green), c.Blue);
    const int mn = std::min(std::min(c.Red, c.Green), c.Blue);
    const int d = mx - mn;
    if (mx == 0 || d == 0)
        return MakePackedHSL(0, 0, mx);
    return MakePackedHSL(IntegerHue(c.Red, c.Green, c.Blue, mx, mn), d * 255 / mx, mx);
}

std::uint32_t HSVToRGB(std::uint32_t HSV) {
    const int h = PackedHue(HSV), s = PackedSaturation(HSV), v = PackedLightness(HSV);
    const int m = v - s * v / 255;
    const int t = (h % 60) * (v - m) / 60;
    const int q = v - t;
    switch (h / 60) {
    case 0:
        return JoinColor(v, m + t, m);
    case 1:
        return JoinColor(q, v, m);
    case 2:
        return JoinColor(m, v, m + t);
    case 3:
        return JoinColor(m, q, v);
    case 4:
        return JoinColor(m + t, m, v);
    default:
        return JoinColor(v, m, q);
    }
}

void RGBToHSLFloat(const TFloatColor &Float, float &H, float &S, float &L) {
    FloatHSL(Float, &H, &S, &L);
}

void RGBToSaturationLightness(const TFloatColor &Float, float &S, float &L) {
    FloatHSL(Float, nullptr, &S, &L);
}

float RGBToHueFloat(const TFloatColor &Float) {
    float hue = 0;
    FloatHSL(Float, &hue, nullptr, nullptr);
    return hue;
}

void HSLToRGBFloat(float H, float S, float L, float &R, float &G, float &B) {
    const long double h = H, s = S, l = L;
    const float m2 = StoreSingle(l >= 0.5L ? l + s - l * s : (1 + s) * l);
    if (m2 <= 0) {
        R = G = B = 0;
        return;
    }
    const long double m1 = 2 * l - m2;
    const int i = FastTrunc(h);
    const float t = StoreSingle((m2 - m1) * (h - i));
    const float up = StoreSingle(m1 + t);
    const float down = StoreSingle(m2 - t);
    const float low = StoreSingle(m1);
    switch (i) {
    case 0:
        R = m2, G = up, B = low;
        break;
    case 1:
        R = down, G = m2, B = low;
        break;
    case 2:
        R = low, G = m2, B = up;
        break;
    case 3:
        R = low, G = down, B = m2;
        break;
    case 4:
        R = up, G = low, B = m2;
        break;
    default:
        R = m2, G = low, B = down;
        break;
    }
}
