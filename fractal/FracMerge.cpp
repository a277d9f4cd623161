#include "FracMerge.h"

#include <algorithm>

#include "GenColor.h"

std::uint8_t MergeProductTable[256 * 256];
std::uint8_t MergeCompositeTable[256 * 256];
std::uint8_t MergeMod60Table[512];
std::uint8_t MergeDiv60Table[16384];

namespace {

// Num / Den rounded to nearest, ties to even; both positive.
int RoundQuotient(int Num, int Den) {
    int quotient = Num / Den;
    const int twice = 2 * (Num % Den);
    if (twice > Den || (twice == Den && (quotient & 1) != 0))
        ++quotient;
    return quotient;
}

inline const std::uint8_t *Bytes(const std::uint32_t *Row) {
    return reinterpret_cast<const std::uint8_t *>(Row);
}
inline std::uint8_t *Bytes(std::uint32_t *Row) {
    return reinterpret_cast<std::uint8_t *>(Row);
}

inline std::uint8_t P(int A, int B) {
    return MergeProductTable[A * 256 + B];
}

// Applies Op(layer, base) to blue, green and red of every pixel; alpha stays.
template <class Op>
inline void MergeChannels(const std::uint32_t *Base, std::uint32_t *Layer, int Count, Op op) {
    const std::uint8_t *base = Bytes(Base);
    std::uint8_t *layer = Bytes(Layer);
    for (int i = 0; i < Count; ++i, base += 4, layer += 4) {
        layer[0] = op(layer[0], base[0]);
        layer[1] = op(layer[1], base[1]);
        layer[2] = op(layer[2], base[2]);
    }
}

// Blends Layer over Base by a weight a: Layer.c = P[255 - a][Base.c] + P[a][Layer.c].
inline void BlendPixel(const std::uint8_t *Base, std::uint8_t *Layer, int A) {
    const std::uint8_t *keep = MergeProductTable + (255 - A) * 256;
    const std::uint8_t *take = MergeProductTable + A * 256;
    Layer[0] = static_cast<std::uint8_t>(keep[Base[0]] + take[Layer[0]]);
    Layer[1] = static_cast<std::uint8_t>(keep[Base[1]] + take[Layer[1]]);
    Layer[2] = static_cast<std::uint8_t>(keep[Base[2]] + take[Layer[2]]);
}

// Composites one pixel with layer alpha Al over the base; the weights never sum above 255.
inline void CompositePixel(const std::uint8_t *Base, std::uint8_t *Layer, int Al) {
    const int ab = Base[3];
    const int w = MergeCompositeTable[ab * 256 + Al];
    const std::uint8_t *keep = MergeProductTable + (255 - w) * 256;
    const std::uint8_t *take = MergeProductTable + w * 256;
    Layer[0] = static_cast<std::uint8_t>(take[Layer[0]] + keep[Base[0]]);
    Layer[1] = static_cast<std::uint8_t>(take[Layer[1]] + keep[Base[1]]);
    Layer[2] = static_cast<std::uint8_t>(take[Layer[2]] + keep[Base[2]]);
    Layer[3] = static_cast<std::uint8_t>(ab + Al - P(ab, Al));
}

// Runs Op(base pixel, layer pixel) for every pixel of two rows of whole pixels.
template <class Op>
inline void MergePixels(const std::uint32_t *Base, std::uint32_t *Layer, int Count, Op op) {
    for (int i = 0; i < Count; ++i)
        op(Base[i], Layer[i]);
}

} // namespace

void InitMergeTables() {
    for (int a = 0; a < 256; ++a)
        for (int b = 0; b < 256; ++b) {
            // a * b / 255 is never exactly halfway between two integers, so +127 rounds correctly.
            MergeProductTable[a * 256 + b] = static_cast<std::uint8_t>((a * b + 127) / 255);
            // b / (b + a - a * b / 255) * 255 = 65025 b / (255 (a + b) - a b).
            MergeCompositeTable[a * 256 + b] =
                b == 0 ? 0 : static_cast<std::uint8_t>(RoundQuotient(65025 * b, 255 * (a + b) - a * b));
        }
    for (int i = 0; i < 512; ++i)
        MergeMod60Table[i] = static_cast<std::uint8_t>(i % 60);
    for (int i = 0; i < 16384; ++i)
        MergeDiv60Table[i] = static_cast<std::uint8_t>(i / 60);
}

void InitializeFracMerge() {
    InitMergeTables();
}

void FinalizeFracMerge() {}

// ---------------------------------------------------------------------------------------------
// Integer HSL

TIntegerHSL PixelToHSL(std::uint32_t Pixel) {
    const std::uint32_t hsl = RGBToHSL(PixelToColor(Pixel));
    return {static_cast<std::uint16_t>(PackedHue(hsl)), static_cast<std::uint8_t>(PackedSaturation(hsl)),
            static_cast<std::uint8_t>(PackedLightness(hsl))};
}

int PixelHue(std::uint32_t Pixel) {
    return PackedHue(RGBToHSL(PixelToColor(Pixel)));
}

void PixelSatLight(std::uint32_t Pixel, TIntegerHSL &HSL) {
    const std::uint32_t hsl = RGBToHSL(PixelToColor(Pixel));
    HSL.Saturation = static_cast<std::uint8_t>(PackedSaturation(hsl));
    HSL.Lightness = static_cast<std::uint8_t>(PackedLightness(hsl));
}

void HSLToPixel(const TIntegerHSL &HSL, std::uint32_t &Pixel) {
    const int l = HSL.Lightness, s = HSL.Saturation;
    // A hue beyond 359 is taken modulo 360 so that the tables are never read out of range.
    const int h = HSL.Hue % 360;
    const int q = l <= 127 ? l * (255 + s) / 255 : l + s - P(l, s);
    int r = 0, g = 0, b = 0;
    if (q > 0) {
        const int p = 2 * l - q;
        const int f = MergeDiv60Table[(q - p) * MergeMod60Table[h]];
        switch (MergeDiv60Table[h]) {
        case 0:
            r = q, g = p + f, b = p;
            break;
        case 1:
            r = q - f, g = q, b = p;
            break;
        case 2:
            r = p, g = q, b = p + f;
            break;
        case 3:
            r = p, g = q - f, b = q;
            break;
        case 4:
            r = p + f, g = p, b = q;
            break;
        default:
            r = q, g = p, b = q - f;
            break;
        }
    }
    Pixel = (Pixel & 0xFF000000u) | static_cast<std::uint32_t>(b) | (static_cast<std::uint32_t>(g) << 8) |
            (static_cast<std::uint32_t>(r) << 16);
}

// ---------------------------------------------------------------------------------------------
// Blending and alpha

void MergeNormal(const std::uint32_t *Base, std::uint32_t *Layer, int Count) {
    const std::uint8_t *base = Bytes(Base);
    std::uint8_t *layer = Bytes(Layer);
    for (int i = 0; i < Count; ++i, base += 4, layer += 4)
        BlendPixel(base, layer, layer[3]);
}

void MergeNormalAlpha(const std::uint32_t *Base, std::uint32_t *Layer, const std::uint32_t *AlphaRow,
                      int Count) {
    const std::uint8_t *base = Bytes(Base);
    const std::uint8_t *alpha = Bytes(AlphaRow);
    std::uint8_t *layer = Bytes(Layer);
    for (int i = 0; i < Count; ++i, base += 4, layer += 4)
        BlendPixel(base, layer, alpha[4 * i + 3]);
}

void MergeOpacity(const std::uint32_t *Base, std::uint32_t *Layer, int Count, std::uint8_t Opacity) {
    const std::uint8_t *base = Bytes(Base);
    std::uint8_t *layer = Bytes(Layer);
    for (int i = 0; i < Count; ++i, base += 4, layer += 4)
        BlendPixel(base, layer, Opacity);
}

void MergeComposite(const std::uint32_t *Base, std::uint32_t *Layer, int Count) {
    const std::uint8_t *base = Bytes(Base);
    std::uint8_t *layer = Bytes(Layer);
    for (int i = 0; i < Count; ++i, base += 4, layer += 4)
        CompositePixel(base, layer, layer[3]);
}

void MergeCompositeAlpha(const std::uint32_t *Base, std::uint32_t *Layer, const std::uint32_t *AlphaRow,
                         int Count) {
    if (!AlphaRow)
        return;
    const std::uint8_t *base = Bytes(Base);
    const std::uint8_t *alpha = Bytes(AlphaRow);
    std::uint8_t *layer = Bytes(Layer);
    for (int i = 0; i < Count; ++i, base += 4, layer += 4)
        CompositePixel(base, layer, alpha[4 * i + 3]);
}

void MergeMask(std::uint32_t *Row, const std::uint32_t *Mask, int Count) {
    std::uint8_t *row = Bytes(Row);
    const std::uint8_t *mask = Bytes(Mask);
    for (int i = 0; i < Count; ++i)
        row[4 * i + 3] = P(mask[4 * i + 3], row[4 * i + 3]);
}

void MergeScaleAlpha(std::uint32_t *Row, int Count, std::uint8_t Opacity) {
    std::uint8_t *row = Bytes(Row);
    const std::uint8_t *scale = MergeProductTable + Opacity * 256;
    for (int i = 0; i < Count; ++i)
        row[4 * i + 3] = scale[row[4 * i + 3]];
}

void MergeSetAlpha(std::uint32_t *Row, int Count, std::uint8_t Alpha) {
    std::uint8_t *row = Bytes(Row);
    for (int i = 0; i < Count; ++i)
        row[4 * i + 3] = Alpha;
}

void MergeFill(std::uint32_t *Row, int Count, std::uint32_t Color) {
    if (Count > 0)
        std::fill(Row, Row + Count, Color);
}

// ---------------------------------------------------------------------------------------------
// Merge modes

void MergeMultiply(const std::uint32_t *Base, std::uint32_t *Layer, int Count) {
    MergeChannels(Base, Layer, Count, [](int l, int b) { return P(l, b); });
}

void MergeScreen(const std::uint32_t *Base, std::uint32_t *Layer, int Count) {
    MergeChannels(Base, Layer, Count,
                  [](int l, int b) { return static_cast<std::uint8_t>(255 - P(255 - l, 255 - b)); });
}

void MergeOverlay(const std::uint32_t *Base, std::uint32_t *Layer, int Count) {
    MergeChannels(Base, Layer, Count, [](int l, int b) {
        return b < 128 ? P(2 * b, l) : static_cast<std::uint8_t>(255 - P(2 * (255 - b), 255 - l));
    });
}

void MergeSoftLight(const std::uint32_t *Base, std::uint32_t *Layer, int Count) {
    MergeChannels(Base, Layer, Count, [](int l, int b) {
        return l < 128 ? P(b, l + 127) : static_cast<std::uint8_t>(255 - P(255 - b, 382 - l));
    });
}

void MergeHardLight(const std::uint32_t *Base, std::uint32_t *Layer, int Count) {
    MergeChannels(Base, Layer, Count, [](int l, int b) {
        return l < 128 ? P(2 * l, b) : static_cast<std::uint8_t>(255 - P(2 * (255 - l), 255 - b));
    });
}

void MergeDarken(const std::uint32_t *Base, std::uint32_t *Layer, int Count) {
    MergeChannels(Base, Layer, Count, [](int l, int b) { return static_cast<std::uint8_t>(l < b ? l : b); });
}

void MergeLighten(const std::uint32_t *Base, std::uint32_t *Layer, int Count) {
    MergeChannels(Base, Layer, Count, [](int l, int b) { return static_cast<std::uint8_t>(l > b ? l : b); });
}

void MergeDifference(const std::uint32_t *Base, std::uint32_t *Layer, int Count) {
    MergeChannels(Base, Layer, Count,
                  [](int l, int b) { return static_cast<std::uint8_t>(b > l ? b - l : l - b); });
}

void MergeAddition(const std::uint32_t *Base, std::uint32_t *Layer, int Count) {
    MergeChannels(Base, Layer, Count,
                  [](int l, int b) { return static_cast<std::uint8_t>(std::min(b + l, 255)); });
}

void MergeSubtraction(const std::uint32_t *Base, std::uint32_t *Layer, int Count) {
    MergeChannels(Base, Layer, Count,
                  [](int l, int b) { return static_cast<std::uint8_t>(std::max(b - l, 0)); });
}

void MergeHue(const std::uint32_t *Base, std::uint32_t *Layer, int Count) {
    MergePixels(Base, Layer, Count, [](std::uint32_t base, std::uint32_t &layer) {
        TIntegerHSL hsl{};
        PixelSatLight(base, hsl);
        hsl.Hue = static_cast<std::uint16_t>(PixelHue(layer));
        HSLToPixel(hsl, layer);
    });
}

namespace {

// Converts the pixel that gives two components fully and takes the remaining one, Taken, from the
// other pixel.
template <bool WholeFromLayer, std::uint8_t TIntegerHSL::*Taken>
void MergeTwoAndOne(const std::uint32_t *Base, std::uint32_t *Layer, int Count) {
    MergePixels(Base, Layer, Count, [](std::uint32_t base, std::uint32_t &layer) {
        TIntegerHSL hsl = PixelToHSL(WholeFromLayer ? layer : base);
        TIntegerHSL other{};
        PixelSatLight(WholeFromLayer ? base : layer, other);
        hsl.*Taken = other.*Taken;
        HSLToPixel(hsl, layer);
    });
}

} // namespace

void MergeSaturation(const std::uint32_t *Base, std::uint32_t *Layer, int Count) {
    MergeTwoAndOne<false, &TIntegerHSL::Saturation>(Base, Layer, Count);
}

void MergeColor(const std::uint32_t *Base, std::uint32_t *Layer, int Count) {
    MergeTwoAndOne<true, &TIntegerHSL::Lightness>(Base, Layer, Count);
}

void MergeLuminance(const std::uint32_t *Base, std::uint32_t *Layer, int Count) {
    MergeTwoAndOne<false, &TIntegerHSL::Lightness>(Base, Layer, Count);
}

void MergeHSLAdd(const std::uint32_t *Base, std::uint32_t *Layer, int Count) {
    MergePixels(Base, Layer, Count, [](std::uint32_t base, std::uint32_t &layer) {
        const TIntegerHSL b = PixelToHSL(base);
        const TIntegerHSL l = PixelToHSL(layer);
        TIntegerHSL sum;
        sum.Hue = static_cast<std::uint16_t>((b.Hue + l.Hue) % 360);
        sum.Saturation = static_cast<std::uint8_t>(std::clamp(b.Saturation + l.Saturation - 128, 0, 255));
        sum.Lightness = static_cast<std::uint8_t>(std::clamp(b.Lightness + l.Lightness - 128, 0, 255));
        HSLToPixel(sum, layer);
    });
}

namespace {

// Takes the colour bytes of Base except the one at Keep, which stays the layer's.
template <int Keep> void MergeOneChannel(const std::uint32_t *Base, std::uint32_t *Layer, int Count) {
    constexpr std::uint32_t keep = 0xFFu << (8 * Keep);
    constexpr std::uint32_t alpha = 0xFF000000u;
    for (int i = 0; i < Count; ++i)
        Layer[i] = (Layer[i] & (keep | alpha)) | (Base[i] & ~(keep | alpha));
}

} // namespace

void MergeRed(const std::uint32_t *Base, std::uint32_t *Layer, int Count) {
    MergeOneChannel<2>(Base, Layer, Count);
}

void MergeGreen(const std::uint32_t *Base, std::uint32_t *Layer, int Count) {
    MergeOneChannel<1>(Base, Layer, Count);
}

void MergeBlue(const std::uint32_t *Base, std::uint32_t *Layer, int Count) {
    MergeOneChannel<0>(Base, Layer, Count);
}

void MergeRows(const std::uint32_t *Base, std::uint32_t *Layer, int Count, int Mode) {
    static constexpr TMergeRowProc routines[MergeModeCount] = {
        nullptr,         MergeMultiply, MergeScreen,    MergeOverlay,    MergeSoftLight,
        MergeHardLight,  MergeDarken,   MergeLighten,   MergeDifference, MergeHue,
        MergeSaturation, MergeColor,    MergeLuminance, MergeAddition,   MergeSubtraction,
        MergeHSLAdd,     MergeRed,      MergeGreen,     MergeBlue,
    };
    if (Mode < 0 || Mode >= MergeModeCount || !routines[Mode])
        return;
    routines[Mode](Base, Layer, Count);
}
