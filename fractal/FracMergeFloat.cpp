#include "FracMergeFloat.h"

namespace {

using Real = long double;

// A byte 0..255 as a 32-bit float fraction.
float ByteFraction(std::uint8_t Value) {
    volatile float stored = static_cast<float>(static_cast<Real>(Value) / 255);
    return stored;
}

// Applies Op(layer, base) in 80-bit arithmetic to red, green and blue of every pixel; alpha stays.
template <class Op> inline void MergeChannels(const TFloatColor *Base, TFloatColor *Layer, int Count, Op op) {
    for (int i = 0; i < Count; ++i) {
        TFloatColor &layer = Layer[i];
        const TFloatColor &base = Base[i];
        layer.Red = static_cast<float>(op(static_cast<Real>(layer.Red), static_cast<Real>(base.Red)));
        layer.Green = static_cast<float>(op(static_cast<Real>(layer.Green), static_cast<Real>(base.Green)));
        layer.Blue = static_cast<float>(op(static_cast<Real>(layer.Blue), static_cast<Real>(base.Blue)));
    }
}

// Layer.c = Layer.c * w + (1 - w) * Base.c for one pixel.
inline void Weigh(const TFloatColor &Base, TFloatColor &Layer, Real W) {
    Layer.Red = static_cast<float>(Layer.Red * W + (1 - W) * Base.Red);
    Layer.Green = static_cast<float>(Layer.Green * W + (1 - W) * Base.Green);
    Layer.Blue = static_cast<float>(Layer.Blue * W + (1 - W) * Base.Blue);
}

// Writes an HSL colour into Layer's red, green and blue.
inline void StoreHSL(float H, float S, float L, TFloatColor &Layer) {
    HSLToRGBFloat(H, S, L, Layer.Red, Layer.Green, Layer.Blue);
}

inline Real Clamp01(Real X) {
    return X < 0 ? 0 : X > 1 ? 1 : X;
}

} // namespace

void MergeFloatNormal(const TFloatColor *Base, TFloatColor *Layer, int Count) {
    MergeFloatNormalAlpha(Base, Layer, Layer, Count);
}

void MergeFloatNormalAlpha(const TFloatColor *Base, TFloatColor *Layer, const TFloatColor *AlphaRow,
                           int Count) {
    for (int i = 0; i < Count; ++i)
        Weigh(Base[i], Layer[i], AlphaRow[i].Alpha);
}

void MergeFloatOpacity(const TFloatColor *Base, TFloatColor *Layer, int Count, std::uint8_t Opacity) {
    const float o = ByteFraction(Opacity);
    volatile float rest = 1 - o;
    const Real keep = rest;
    for (int i = 0; i < Count; ++i) {
        const TFloatColor &base = Base[i];
        TFloatColor &layer = Layer[i];
        layer.Red = static_cast<float>(layer.Red * static_cast<Real>(o) + base.Red * keep);
        layer.Green = static_cast<float>(layer.Green * static_cast<Real>(o) + base.Green * keep);
        layer.Blue = static_cast<float>(layer.Blue * static_cast<Real>(o) + base.Blue * keep);
    }
}

void MergeFloatComposite(const TFloatColor *Base, TFloatColor *Layer, int Count) {
    MergeFloatCompositeAlpha(Base, Layer, Layer, Count);
}

void MergeFloatCompositeAlpha(const TFloatColor *Base, TFloatColor *Layer, const TFloatColor *AlphaRow,
                              int Count) {
    if (!AlphaRow)
        return;
    for (int i = 0; i < Count; ++i) {
        const Real a1 = Base[i].Alpha, a2 = AlphaRow[i].Alpha;
        volatile float combined = static_cast<float>(a1 + a2 - a1 * a2);
        const Real r = combined;
        Weigh(Base[i], Layer[i], r > 0 ? a2 / r : 0);
        Layer[i].Alpha = combined;
    }
}

void MergeFloatMask(TFloatColor *Row, const TFloatColor *Mask, int Count) {
    for (int i = 0; i < Count; ++i)
        Row[i].Alpha = static_cast<float>(static_cast<Real>(Row[i].Alpha) * Mask[i].Alpha);
}

void MergeFloatScaleAlpha(TFloatColor *Row, int Count, std::uint8_t Opacity) {
    const Real scale = ByteFraction(Opacity);
    for (int i = 0; i < Count; ++i)
        Row[i].Alpha = static_cast<float>(Row[i].Alpha * scale);
}

void MergeFloatSetAlpha(TFloatColor *Row, int Count, std::uint8_t Alpha) {
    const float alpha = ByteFraction(Alpha);
    for (int i = 0; i < Count; ++i)
        Row[i].Alpha = alpha;
}

void MergeFloatFill(TFloatColor *Row, int Count, std::uint32_t Color) {
    TFloatColor fill;
    PixelToFloatColor(Color, fill);
    for (int i = 0; i < Count; ++i)
        Row[i] = fill;
}

void MergeFloatMultiply(const TFloatColor *Base, TFloatColor *Layer, int Count) {
    MergeChannels(Base, Layer, Count, [](Real l, Real b) { return l * b; });
}

void MergeFloatScreen(const TFloatColor *Base, TFloatColor *Layer, int Count) {
    MergeChannels(Base, Layer, Count, [](Real l, Real b) { return 1 - (1 - l) * (1 - b); });
}

void MergeFloatOverlay(const TFloatColor *Base, TFloatColor *Layer, int Count) {
    MergeChannels(Base, Layer, Count,
                  [](Real l, Real b) { return b >= 0.5L ? 1 - 2 * (1 - l) * (1 - b) : 2 * l * b; });
}

void MergeFloatSoftLight(const TFloatColor *Base, TFloatColor *Layer, int Count) {
    MergeChannels(Base, Layer, Count,
                  [](Real l, Real b) { return l >= 0.5L ? 1 - (1.5L - l) * (1 - b) : (l + 0.5L) * b; });
}

void MergeFloatHardLight(const TFloatColor *Base, TFloatColor *Layer, int Count) {
    MergeChannels(Base, Layer, Count,
                  [](Real l, Real b) { return l >= 0.5L ? 1 - 2 * (1 - l) * (1 - b) : 2 * l * b; });
}

void MergeFloatDarken(const TFloatColor *Base, TFloatColor *Layer, int Count) {
    MergeChannels(Base, Layer, Count, [](Real l, Real b) { return b < l ? b : l; });
}

void MergeFloatLighten(const TFloatColor *Base, TFloatColor *Layer, int Count) {
    MergeChannels(Base, Layer, Count, [](Real l, Real b) { return b > l ? b : l; });
}

void MergeFloatDifference(const TFloatColor *Base, TFloatColor *Layer, int Count) {
    MergeChannels(Base, Layer, Count, [](Real l, Real b) { return l > b ? l - b : b - l; });
}

void MergeFloatAddition(const TFloatColor *Base, TFloatColor *Layer, int Count) {
    MergeChannels(Base, Layer, Count, [](Real l, Real b) {
        const Real sum = l + b;
        return sum > 1 ? 1 : sum;
    });
}

void MergeFloatSubtraction(const TFloatColor *Base, TFloatColor *Layer, int Count) {
    MergeChannels(Base, Layer, Count, [](Real l, Real b) {
        const Real difference = b - l;
        return difference < 0 ? 0 : difference;
    });
}

void MergeFloatHue(const TFloatColor *Base, TFloatColor *Layer, int Count) {
    for (int i = 0; i < Count; ++i) {
        float s, l;
        RGBToSaturationLightness(Base[i], s, l);
        StoreHSL(RGBToHueFloat(Layer[i]), s, l, Layer[i]);
    }
}

namespace {

// Converts the pixel that gives two components fully and takes the remaining one (saturation or
// lightness) from the other pixel.
template <bool WholeFromLayer, bool TakeSaturation>
void MergeTwoAndOne(const TFloatColor *Base, TFloatColor *Layer, int Count) {
    for (int i = 0; i < Count; ++i) {
        float h, s, l, otherS, otherL;
        RGBToHSLFloat(WholeFromLayer ? Layer[i] : Base[i], h, s, l);
        RGBToSaturationLightness(WholeFromLayer ? Base[i] : Layer[i], otherS, otherL);
        if (TakeSaturation)
            s = otherS;
        else
            l = otherL;
        StoreHSL(h, s, l, Layer[i]);
    }
}

} // namespace

void MergeFloatSaturation(const TFloatColor *Base, TFloatColor *Layer, int Count) {
    MergeTwoAndOne<false, true>(Base, Layer, Count);
}

void MergeFloatColor(const TFloatColor *Base, TFloatColor *Layer, int Count) {
    MergeTwoAndOne<true, false>(Base, Layer, Count);
}

void MergeFloatLuminance(const TFloatColor *Base, TFloatColor *Layer, int Count) {
    MergeTwoAndOne<false, false>(Base, Layer, Count);
}

void MergeFloatHSLAdd(const TFloatColor *Base, TFloatColor *Layer, int Count) {
    for (int i = 0; i < Count; ++i) {
        float hb, sb, lb, hl, sl, ll;
        RGBToHSLFloat(Base[i], hb, sb, lb);
        RGBToHSLFloat(Layer[i], hl, sl, ll);
        volatile float hue = static_cast<float>(static_cast<Real>(hl) + hb);
        float h = hue;
        if (h >= 6)
            h = static_cast<float>(static_cast<Real>(h) - 6);
        StoreHSL(h, static_cast<float>(Clamp01(static_cast<Real>(sl) + sb - 0.5L)),
                 static_cast<float>(Clamp01(static_cast<Real>(ll) + lb - 0.5L)), Layer[i]);
    }
}

void MergeFloatRed(const TFloatColor *Base, TFloatColor *Layer, int Count) {
    for (int i = 0; i < Count; ++i) {
        Layer[i].Green = Base[i].Green;
        Layer[i].Blue = Base[i].Blue;
    }
}

void MergeFloatGreen(const TFloatColor *Base, TFloatColor *Layer, int Count) {
    for (int i = 0; i < Count; ++i) {
        Layer[i].Red = Base[i].Red;
        Layer[i].Blue = Base[i].Blue;
    }
}

void MergeFloatBlue(const TFloatColor *Base, TFloatColor *Layer, int Count) {
    for (int i = 0; i < Count; ++i) {
        Layer[i].Red = Base[i].Red;
        Layer[i].Green = Base[i].Green;
    }
}

void MergeFloatRows(const TFloatColor *Base, TFloatColor *Layer, int Count, int Mode) {
    static constexpr TMergeFloatRowProc routines[19] = {
        nullptr,
        MergeFloatMultiply,
        MergeFloatScreen,
        MergeFloatOverlay,
        MergeFloatSoftLight,
        MergeFloatHardLight,
        MergeFloatDarken,
        MergeFloatLighten,
        MergeFloatDifference,
        MergeFloatHue,
        MergeFloatSaturation,
        MergeFloatColor,
        MergeFloatLuminance,
        MergeFloatAddition,
        MergeFloatSubtraction,
        MergeFloatHSLAdd,
        MergeFloatRed,
        MergeFloatGreen,
        MergeFloatBlue,
    };
    if (Mode < 0 || Mode >= 19 || !routines[Mode])
        return;
    routines[Mode](Base, Layer, Count);
}
