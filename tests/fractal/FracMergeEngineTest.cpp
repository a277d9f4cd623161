#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "FracCalculate.h"
#include "FracLayer.h"
#include "FracMerge.h"
#include "FracMergeEngine.h"
#include "GenClasses.h"

namespace {

constexpr int ImageWidth = 8;
constexpr int ImageHeight = 4;

// round(A * B / 255), the product the 8-bit merging is built on.
int P(int A, int B) {
    return (A * B + 127) / 255;
}

int Channel(std::uint32_t Pixel, int Shift) {
    return static_cast<int>((Pixel >> Shift) & 0xFF);
}

std::uint32_t Pack(int Alpha, int Red, int Green, int Blue) {
    return static_cast<std::uint32_t>(Alpha) << 24 | static_cast<std::uint32_t>(Red) << 16 |
           static_cast<std::uint32_t>(Green) << 8 | static_cast<std::uint32_t>(Blue);
}

// Applies Op(channel of A, channel of B) to red, green and blue; the alpha is Alpha.
template <class Op> std::uint32_t PerChannel(std::uint32_t A, std::uint32_t B, int Alpha, Op op) {
    return Pack(Alpha, op(Channel(A, 16), Channel(B, 16)), op(Channel(A, 8), Channel(B, 8)),
                op(Channel(A, 0), Channel(B, 0)));
}

// What a test layer is.
struct TLayerSetup {
    int Seed;
    bool Visible = true;
    std::int32_t Opacity = 100;
    std::uint8_t Mode = 0;
    bool Transparent = false;
    bool Mask = false;
    bool MaskOnly = false;
};

// The colours of a test layer; layers with alpha (transparent ones and masks) get alphas that include
// 0 and 255.
std::uint32_t SetupPixel(const TLayerSetup &Setup, int X, int Y) {
    static const int alphas[ImageWidth] = {0, 255, 64, 128, 200, 17, 255, 90};
    const int alpha = Setup.Transparent || Setup.Mask ? alphas[X] : 255;
    return Pack(alpha, (37 * Setup.Seed + 29 * X + 77 * Y + 13) & 255,
                (91 * Setup.Seed + 51 * X + 53 * Y + 7) & 255,
                (23 * Setup.Seed + 97 * X + 19 * Y + 101) & 255);
}

// Hands the 8-bit engine its layer rows, read under the image's lock as the view does.
struct TRowSource {
    int Calls = 0;
    void GetRow(TObject *, TLayer *Layer, std::int32_t X, std::int32_t Y, int Count, std::uint32_t *Row) {
        ++Calls;
        TLayerImage &image = Layer->GetImage();
        TScopeLock<TLayerImage> lock(image);
        std::memcpy(Row, image.PixelPtr(X, Y), static_cast<std::size_t>(Count) * 4);
    }
};

struct TSegment {
    std::int32_t X = 0;
    std::int32_t Y = 2;
    std::int32_t Count = ImageWidth;
    int Background = mbNone;
    int Flags = 0;
};

class MergeEngine : public testing::Test {
protected:
    static void SetUpTestSuite() { InitMergeTables(); }

    // Fills List with layers of Setups, their pixels written straight into the images in Mode (the
    // construction bracket stays open, so nothing ever calculates them).
    void Build(const std::vector<TLayerSetup> &Setups, std::uint8_t Mode) {
        List.Clear();
        for (const TLayerSetup &setup : Setups) {
            auto layer = std::make_unique<TLayer>(nullptr, &Manager);
            layer->SetVisible(setup.Visible);
            layer->SetOpacity(setup.Opacity);
            layer->SetMergeMode(setup.Mode);
            layer->SetTransparent(setup.Transparent);
            layer->SetMask(setup.Mask);
            layer->SetMaskOnly(setup.MaskOnly);
            TLayerImage &image = layer->GetImage();
            image.SetMode(Mode);
            image.SetSize(ImageWidth, ImageHeight);
            for (int y = 0; y < ImageHeight; ++y)
                for (int x = 0; x < ImageWidth; ++x) {
                    const std::uint32_t pixel = SetupPixel(setup, x, y);
                    if (Mode == lmFloatColor) {
                        const TFloatColor color{Channel(pixel, 16) / 255.0f, Channel(pixel, 8) / 255.0f,
                                                Channel(pixel, 0) / 255.0f, Channel(pixel, 24) / 255.0f};
                        std::memcpy(image.PixelPtr(x, y), &color, sizeof color);
                    } else {
                        std::memcpy(image.PixelPtr(x, y), &pixel, 4);
                    }
                }
            List.Add(std::move(layer));
        }
    }

    std::vector<std::uint32_t> Merge8(const TSegment &S, int EngineWidth) {
        TFractalMergeEngine engine(&List);
        engine.OnGetLayerRow = MakeEvent<&TRowSource::GetRow>(&Source);
        engine.SetSize(EngineWidth, ImageHeight);
        void *row = nullptr;
        engine.MergeRow(S.X, S.Y, S.Count, row, S.Background, S.Flags);
        const auto *pixels = static_cast<const std::uint32_t *>(row);
        return std::vector<std::uint32_t>(pixels, pixels + S.Count);
    }

    std::vector<TFloatColor> MergeFloat(const TSegment &S, int EngineWidth) {
        TRenderMergeEngine engine(&List);
        engine.SetSize(EngineWidth, ImageHeight);
        void *row = nullptr;
        engine.MergeRow(S.X, S.Y, S.Count, row, S.Background, S.Flags);
        const auto *pixels = static_cast<const TFloatColor *>(row);
        return std::vector<TFloatColor>(pixels, pixels + S.Count);
    }

    // The 8-bit engine's merge of Setups; the float engine merges the same layers (as float pixels) and
    // must agree within the 8-bit arithmetic's rounding.
    std::vector<std::uint32_t> Merge(const std::vector<TLayerSetup> &Setups, const TSegment &S = {},
                                     int EngineWidth = ImageWidth) {
        Build(Setups, lmColor);
        const std::vector<std::uint32_t> bytes = Merge8(S, EngineWidth);
        Build(Setups, lmFloatColor);
        const std::vector<TFloatColor> floats = MergeFloat(S, EngineWidth);
        for (int i = 0; i < S.Count; ++i) {
            const float got[4] = {floats[i].Red, floats[i].Green, floats[i].Blue, floats[i].Alpha};
            const int shifts[4] = {16, 8, 0, 24};
            for (int c = 0; c < 4; ++c)
                EXPECT_NEAR(got[c] * 255.0f, Channel(bytes[i], shifts[c]), 1.5f)
                    << "pixel " << i << " channel " << c;
        }
        return bytes;
    }

    std::uint32_t Pixel(const TLayerSetup &Setup, int X, const TSegment &S = {}) {
        return SetupPixel(Setup, X, S.Y);
    }

    TCalculateManager Manager{1};
    TLayerList List;
    TRowSource Source;
};

TEST_F(MergeEngine, OpaqueTopLayerGivesItsOwnRowWhateverLiesBelow) {
    const TLayerSetup top{1};
    struct TCase {
        std::vector<TLayerSetup> Setups;
        int Background;
    };
    const TCase cases[] = {
        {{top}, mbNone},
        {{top}, mbWhite},
        {{top}, mbCheckerboard},
        // Layers under an opaque one are never merged, translucent or not.
        {{top, TLayerSetup{2, true, 50}, TLayerSetup{3, true, 100, 0, true}}, mbCheckerboard},
        // An invisible top layer lets the next opaque one stand alone.
        {{TLayerSetup{4, false}, top, TLayerSetup{5}}, mbWhite},
    };
    for (const TCase &c : cases) {
        TSegment s;
        s.Background = c.Background;
        Source.Calls = 0;
        const std::vector<std::uint32_t> row = Merge(c.Setups, s);
        for (int x = 0; x < ImageWidth; ++x)
            EXPECT_EQ(row[x], Pixel(top, x)) << "case of " << c.Setups.size() << " layers, x " << x;
        EXPECT_EQ(Source.Calls, 1);
    }
}

TEST_F(MergeEngine, InvisibleLayersGiveTransparentBlackOrTheBackground) {
    // An opaque bottom layer, even invisible, hides the background.
    for (int background : {mbNone, mbWhite, mbCheckerboard}) {
        TSegment s;
        s.Background = background;
        for (std::uint32_t pixel : Merge({TLayerSetup{1, false}, TLayerSetup{2, false}}, s))
            EXPECT_EQ(pixel, 0u);
    }
    // A transparent layer 0 lets it show; the colour comes, the alpha stays 0.
    TSegment s;
    s.Background = mbWhite;
    for (std::uint32_t pixel : Merge({TLayerSetup{1, false, 100, 0, true}, TLayerSetup{2, false}}, s))
        EXPECT_EQ(pixel, 0x00FFFFFFu);
    s.Background = mbCheckerboard;
    s.Y = 0;
    const std::vector<std::uint32_t> row = Merge({TLayerSetup{1, false, 100, 0, true}}, s, 16);
    ASSERT_EQ(row.size(), 8u);
    for (std::uint32_t pixel : row)
        EXPECT_EQ(pixel, 0x00FFFFFFu);
}

TEST_F(MergeEngine, HalfOpaqueLayerBlendsWithOpacity127) {
    const TLayerSetup half{1, true, 50}, bottom{2};
    std::vector<std::uint32_t> row = Merge({half, bottom});
    for (int x = 0; x < ImageWidth; ++x)
        EXPECT_EQ(row[x], PerChannel(Pixel(half, x), Pixel(bottom, x), 255,
                                     [](int l, int b) { return P(127, l) + P(128, b); }))
            << x;

    // The layer's mode comes first, then the opacity.
    TLayerSetup multiply = half;
    multiply.Mode = mmMultiply;
    row = Merge({multiply, bottom});
    for (int x = 0; x < ImageWidth; ++x)
        EXPECT_EQ(row[x], PerChannel(Pixel(half, x), Pixel(bottom, x), 255,
                                     [](int l, int b) { return P(127, P(l, b)) + P(128, b); }))
            << x;
}

TEST_F(MergeEngine, ModeOverTranslucentBaseCountsAsFarAsTheBaseIsOpaque) {
    TLayerSetup multiply{1};
    multiply.Mode = mmMultiply;
    const TLayerSetup base{2, true, 100, 0, true};
    const std::vector<std::uint32_t> row = Merge({multiply, base});
    for (int x = 0; x < ImageWidth; ++x) {
        const int a = Channel(Pixel(base, x), 24);
        EXPECT_EQ(row[x], PerChannel(Pixel(multiply, x), Pixel(base, x), 255,
                                     [a](int l, int b) { return P(a, P(l, b)) + P(255 - a, l); }))
            << x;
    }
}

TEST_F(MergeEngine, HalfOpaqueBottomLayerShowsTheBackgroundOnlyWhenLast) {
    const TLayerSetup half{1, true, 50};
    TSegment s;
    s.Background = mbWhite;
    std::vector<std::uint32_t> row = Merge({half}, s);
    for (int x = 0; x < ImageWidth; ++x)
        EXPECT_EQ(row[x], PerChannel(Pixel(half, x), 0xFFFFFF, 127,
                                     [](int l, int w) { return P(127, l) + P(128, w); }))
            << x;

    // Checkerboard row 2: columns 0..7 are white squares.
    s.Background = mbCheckerboard;
    EXPECT_EQ(Merge({half}, s), row);

    // Without a background the layer keeps its opacity as alpha.
    s.Background = mbNone;
    row = Merge({half}, s);
    for (int x = 0; x < ImageWidth; ++x)
        EXPECT_EQ(row[x], (Pixel(half, x) & 0xFFFFFF) | 127u << 24) << x;

    // An invisible layer below: the layer is not last and counts as opaque.
    s.Background = mbWhite;
    row = Merge({half, TLayerSetup{2, false}}, s);
    for (int x = 0; x < ImageWidth; ++x)
        EXPECT_EQ(row[x], Pixel(half, x)) << x;
}

TEST_F(MergeEngine, MaskCutsIntoTheLayerAboveIt) {
    const TLayerSetup top{1}, mask{2, true, 100, 0, true, true}, bottom{3};
    // Over an opaque layer: the top layer shows as far as the mask's alpha allows.
    std::vector<std::uint32_t> row = Merge({top, mask, bottom});
    for (int x = 0; x < ImageWidth; ++x) {
        const int a = Channel(Pixel(mask, x), 24);
        EXPECT_EQ(row[x], PerChannel(Pixel(top, x), Pixel(bottom, x), a,
                                     [a](int l, int b) { return P(a, l) + P(255 - a, b); }))
            << x;
    }

    // Alone, the masked layer takes the mask's alpha, and the background shows through that.
    TSegment s;
    row = Merge({top, mask}, s);
    for (int x = 0; x < ImageWidth; ++x)
        EXPECT_EQ(row[x], (Pixel(top, x) & 0xFFFFFF) | (Pixel(mask, x) & 0xFF000000u)) << x;
    s.Background = mbWhite;
    row = Merge({top, mask}, s);
    for (int x = 0; x < ImageWidth; ++x) {
        const int a = Channel(Pixel(mask, x), 24);
        EXPECT_EQ(row[x], PerChannel(Pixel(top, x), 0xFFFFFF, a,
                                     [a](int l, int w) { return P(a, l) + P(255 - a, w); }))
            << x;
    }
}

TEST_F(MergeEngine, MaskViewShowsTheMaskAlphaAsGrey) {
    const TLayerSetup top{1}, bottom{3};
    TLayerSetup mask{2, true, 100, 0, true, true, true};
    TSegment s;
    s.Flags = mfMaskView;
    for (int background : {mbNone, mbWhite}) {
        s.Background = background;
        const std::vector<std::uint32_t> row = Merge({top, mask, bottom}, s);
        for (int x = 0; x < ImageWidth; ++x) {
            const int a = Channel(Pixel(mask, x), 24);
            EXPECT_EQ(row[x], Pack(255, a, a, a)) << x;
        }
    }
    // Without the flag a mask-only mask cuts like any mask.
    s = TSegment{};
    const std::vector<std::uint32_t> row = Merge({top, mask, bottom}, s);
    mask.MaskOnly = false;
    EXPECT_EQ(row, Merge({top, mask, bottom}, s));
}

TEST_F(MergeEngine, CheckerboardPhases) {
    const std::uint32_t w = 0x00FFFFFF, g = 0x00C0C0C0;
    struct TCase {
        std::int32_t X, Y;
        int Flags;
        std::uint32_t Expected[16];
    };
    const TCase cases[] = {
        {0, 0, 0, {w, w, w, w, w, w, w, w, g, g, g, g, g, g, g, g}},
        {0, 8, 0, {g, g, g, g, g, g, g, g, w, w, w, w, w, w, w, w}},
        {4, 0, 0, {w, w, w, w, g, g, g, g, g, g, g, g, w, w, w, w}},
        {0, 7, 0, {w, w, w, w, w, w, w, w, g, g, g, g, g, g, g, g}},
        {0, 0, mfSmallChecker, {w, w, w, w, g, g, g, g, w, w, w, w, g, g, g, g}},
        {0, 8, mfSmallChecker, {g, g, g, g, w, w, w, w, g, g, g, g, w, w, w, w}},
        {2, 16, mfSmallChecker, {w, w, g, g, g, g, w, w, w, w, g, g, g, g, w, w}},
    };
    for (const TCase &c : cases) {
        TSegment s;
        s.X = c.X;
        s.Y = c.Y;
        s.Count = 16;
        s.Background = mbCheckerboard;
        s.Flags = c.Flags;
        const std::vector<std::uint32_t> row = Merge({TLayerSetup{1, false, 100, 0, true}}, s, 16);
        EXPECT_EQ(row, std::vector<std::uint32_t>(c.Expected, c.Expected + 16)) << c.X << ", " << c.Y;
    }
}

TEST_F(MergeEngine, EmptyMergesTouchNothing) {
    TFractalMergeEngine engine(&List);
    engine.OnGetLayerRow = MakeEvent<&TRowSource::GetRow>(&Source);
    void *row = nullptr;
    // No size yet: nothing to merge into.
    engine.MergeRow(0, 0, 8, row, mbWhite, 0);

    // No layers: transparent black, and nothing under it.
    engine.SetSize(4, 1);
    engine.MergeRow(0, 0, 4, row, mbCheckerboard, 0);
    ASSERT_NE(row, nullptr);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(static_cast<const std::uint32_t *>(row)[i], 0u);

    // A segment of 0 pixels reads no layer; one longer than the engine is cut to its width.
    Build({TLayerSetup{1}}, lmColor);
    engine.MergeRow(0, 0, 0, row, mbWhite, 0);
    engine.MergeRow(0, 0, -3, row, mbWhite, 0);
    EXPECT_EQ(Source.Calls, 0);
    engine.MergeRow(0, 0, 100, row, mbNone, 0);
    EXPECT_EQ(Source.Calls, 1);
}

TEST_F(MergeEngine, RenderEngineReadsOutsideTheImageAsTransparentBlack) {
    const TLayerSetup layer{1, true, 100, 0, true};
    Build({layer}, lmFloatColor);
    TSegment s;
    s.X = -2;
    s.Count = 12;
    const std::vector<TFloatColor> row = MergeFloat(s, 16);
    for (int i = 0; i < s.Count; ++i) {
        const int x = s.X + i;
        const std::uint32_t expected = x >= 0 && x < ImageWidth ? Pixel(layer, x) : 0u;
        EXPECT_NEAR(row[i].Red * 255.0f, Channel(expected, 16), 0.01f) << i;
        EXPECT_NEAR(row[i].Alpha * 255.0f, Channel(expected, 24), 0.01f) << i;
    }
    s.X = 0;
    s.Y = ImageHeight;
    for (const TFloatColor &pixel : MergeFloat(s, 16))
        EXPECT_EQ(pixel.Alpha, 0.0f);
}

TEST(MergeEngineOpacity, PercentToByte) {
    const std::pair<std::int32_t, int> cases[] = {{0, 0},     {1, 2},  {50, 127}, {99, 252},
                                                  {100, 255}, {-5, 0}, {250, 255}};
    for (const auto &[percent, expected] : cases)
        EXPECT_EQ(OpacityByte(percent), expected) << percent;
}

} // namespace
