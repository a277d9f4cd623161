#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "FracAntiAlias.h"
#include "FracCompute.h"
#include "FracImage.h"

namespace {

// A smooth colour field over sample coordinates: the same function the reference values below
// were computed with (a Python model of the filter, run once).
TFloatColor Field(int SX, int SY) {
    return {float(0.1 + 0.15 * SX), float(0.2 * SY), float(0.05 * SX * SY),
            float(0.25 + 0.125 * SX + 0.0625 * SY)};
}

// An anti-aliasing piece whose sub-pixel samples come from a function instead of a formula; it
// records every sample and can stop itself after a number of samples.
class TProbeAntiAliasing : public TComputeAntiAliasing {
public:
    TProbeAntiAliasing(TLayerImage &AImage, TLayerStatistics *AStatistics)
        : TComputeAntiAliasing(nullptr, AStatistics, nullptr, &AImage, nullptr, nullptr, nullptr) {}

    void Run() { CalculateAntiAliased(); }
    void CalculatePixels() override {}
    // The grid and buffers of a run, for a test of one cell at (0, 0).
    TFloatColor OneCell() {
        PrepareGrid(1);
        LoadCorners(0, 0);
        const int sub = AntiAliasingGridFor(*AntiAliasing, 1).Sub;
        const TFloatColor color = SampleCell(0, 0, sub);
        FreeBuffers();
        return color;
    }

    std::function<TFloatColor(int, int)> Color = Field;
    std::map<std::pair<int, int>, int> Samples;
    bool Record = true;
    int StopAfter = -1;

protected:
    TFloatColor SampleColor(int SX, int SY) override {
        if (Record)
            ++Samples[{SX, SY}];
        if (StopAfter > 0 && --StopAfter == 0) {
            Stop();
            return {9, 9, 9, 9}; // a sample cut short holds nonsense
        }
        return Color(SX, SY);
    }
};

// A float-colour image whose pixels are the field at their sample positions for Sub.
void FillImage(TLayerImage &Image, int W, int H, int Sub,
               const std::function<TFloatColor(int, int)> &Color = Field) {
    Image.SetMode(lmFloatColor);
    Image.SetSize(W, H);
    Image.CreateAntiAliasBuffer();
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            Image.SetColor(x, y, Color(x * Sub, y * Sub));
}

void ExpectColor(const TFloatColor &Actual, const double (&Expected)[4], const char *What) {
    EXPECT_NEAR(Actual.Red, Expected[0], 1e-6) << What;
    EXPECT_NEAR(Actual.Green, Expected[1], 1e-6) << What;
    EXPECT_NEAR(Actual.Blue, Expected[2], 1e-6) << What;
    EXPECT_NEAR(Actual.Alpha, Expected[3], 1e-6) << What;
}

TEST(AntiAliasingWeight, FollowsTheFilterCurve) {
    // Python: (1 - (1 - exp(K d^2)) / (1 - exp(K))) * M clamped to 0..10, K = -1.953, M = 0.918.
    const std::pair<double, double> cases[] = {{0, 0.918},
                                               {1.0 / 6, 0.8615126545757122},
                                               {0.5, 0.5047586647953951},
                                               {std::sqrt(0.5), 0.25115269333870976},
                                               {1, 0},
                                               {1.5, 0}};
    for (const auto &[d, weight] : cases)
        EXPECT_NEAR(AntiAliasingWeight(d), weight, 1e-12) << d;
}

TEST(AntiAliasingGrid, SubSamplesAndStripWidthFollowDepthAndSplit) {
    struct TCase {
        std::int32_t Depth;
        bool Split3x3;
        int Width;
        int Split, Sub, StripWidth;
    };
    // The edge buffer, strip width x sub x 16 bytes, stays within 512 KiB.
    const TCase cases[] = {
        {1, false, 100000, 2, 2, 16384}, {4, true, 1000, 3, 81, 404},     {4, true, 50, 3, 81, 50},
        {0, false, 640, 2, 2, 640},      {9, false, 100000, 2, 16, 2048}, {2, true, 10, 3, 9, 10},
    };
    for (const TCase &c : cases) {
        TAntiAliasingSettings settings;
        settings.Depth = c.Depth;
        settings.Split3x3 = c.Split3x3;
        const TAntiAliasingGrid grid = AntiAliasingGridFor(settings, c.Width);
        EXPECT_EQ(grid.Split, c.Split) << c.Depth;
        EXPECT_EQ(grid.Sub, c.Sub) << c.Depth;
        EXPECT_EQ(grid.StripWidth, c.StripWidth) << c.Depth;
        EXPECT_LE(grid.StripWidth * grid.Sub * 16, 0x80000);
    }
}

TEST(AntiAliasingCell, SimilarCornersCostNoSampleAndGiveTheirAverage) {
    TLayerImage image;
    const TFloatColor corners[4] = {{0.5f, 0.25f, 0.125f, 1},
                                    {0.51f, 0.25f, 0.125f, 1},
                                    {0.5f, 0.26f, 0.125f, 1},
                                    {0.5f, 0.25f, 0.135f, 1}};
    FillImage(image, 2, 2, 2, [&](int SX, int SY) { return corners[SX / 2 + SY]; });
    for (bool opaque : {true, false}) {
        TProbeAntiAliasing piece(image, nullptr);
        piece.SetOpaque(opaque);
        piece.AntiAliasing->Depth = 3;
        piece.AntiAliasing->Threshold = 0.01; // differences of 0.01 are below 4/3 of it
        const TFloatColor color = piece.OneCell();
        EXPECT_TRUE(piece.Samples.empty());
        ExpectColor(color, {0.5025, 0.2525, 0.1275, 1}, opaque ? "opaque" : "transparent");
    }
}

TEST(AntiAliasingCell, ThresholdZeroSplitsDownToSingleSamplesEachTakenOnce) {
    struct TCase {
        bool Split3x3;
        std::int32_t Depth;
        bool Opaque;
        double Expected[4]; // the Python model of the filter over Field
    };
    const TCase cases[] = {
        {false, 1, true, {0.2914548326368782, 0.2552731101825042, 0.07495691462108181, 0.4893185407960977}},
        {false, 1, false, {0.3088596494962846, 0.26189602549911173, 0.08472915058045834, 0.4893185407960977}},
        {true, 1, true, {0.37529978343356907, 0.36706637791142543, 0.16001063595470208, 0.5941247292919614}},
        {false, 2, false, {0.5412410795660582, 0.5486603096126712, 0.37460251934973054, 0.7572788007413884}},
    };
    for (const TCase &c : cases) {
        TLayerImage image;
        TProbeAntiAliasing piece(image, nullptr);
        piece.AntiAliasing->Depth = c.Depth;
        piece.AntiAliasing->Split3x3 = c.Split3x3;
        piece.AntiAliasing->Threshold = 0;
        piece.SetOpaque(c.Opaque);
        const int sub = AntiAliasingGridFor(*piece.AntiAliasing, 1).Sub;
        FillImage(image, 2, 2, sub);
        ExpectColor(piece.OneCell(), c.Expected, c.Split3x3 ? "3x3" : "2x2");
        // Every inner position of the cell once; the corners come from the image.
        EXPECT_EQ(static_cast<int>(piece.Samples.size()), (sub + 1) * (sub + 1) - 4);
        for (const auto &[position, count] : piece.Samples) {
            EXPECT_EQ(count, 1) << position.first << "," << position.second;
            EXPECT_TRUE(position.first >= 0 && position.first <= sub && position.second >= 0 &&
                        position.second <= sub);
        }
    }
}

TEST(AntiAliasingCell, AFullyTransparentCellStaysTransparentBlack) {
    TLayerImage image;
    const auto clear = [](int SX, int SY) { return TFloatColor{0.2f * SX, 0.7f, 0.1f * SY, 0}; };
    FillImage(image, 2, 2, 4, clear);
    TProbeAntiAliasing piece(image, nullptr);
    piece.Color = clear;
    piece.AntiAliasing->Depth = 2;
    piece.AntiAliasing->Threshold = 0;
    ExpectColor(piece.OneCell(), {0, 0, 0, 0}, "transparent");
}

// A 7 x 5 float-colour image over the field, with statistics that count up to every pixel.
struct TSmallImage {
    static constexpr int W = 7, H = 5;
    TSmallImage() {
        FillImage(Image, W, H, 2);
        Statistics.Reset(W * H, 100);
    }
    TLayerImage Image;
    TLayerStatistics Statistics;
};

// Pieces reaching the image's last column and row: only cells whose four corners lie in the
// image are filtered, and no sample lies beyond the last pixel.
TEST(AntiAliasingPass, FiltersOnlyCellsInsideTheImage) {
    const int w = TSmallImage::W, h = TSmallImage::H;
    const TLayerRect rects[] = {{0, 0, w, h}, {4, 2, w, h}, {6, 0, w, h}, {0, 4, w, h}};
    for (const TLayerRect &rect : rects) {
        TSmallImage small;
        TLayerImage &image = small.Image;
        const TLayerStatistics &statistics = small.Statistics;
        TProbeAntiAliasing piece(image, &small.Statistics);
        piece.AntiAliasing->Threshold = 0;
        piece.Rect = rect;
        piece.Run();
        const int cells =
            (std::min(rect.Right, w - 1) - rect.Left) * (std::min(rect.Bottom, h - 1) - rect.Top);
        EXPECT_EQ(static_cast<int>(statistics.Counted()), std::max(cells, 0)) << rect.Left << "," << rect.Top;
        for (const auto &[position, count] : piece.Samples) {
            EXPECT_LE(position.first, (w - 1) * 2);
            EXPECT_LE(position.second, (h - 1) * 2);
        }
        for (int y = 0; y < h - 1; ++y)
            for (int x = 0; x < w - 1; ++x) {
                const float red = image.AntiAliasBuffer()[(y * (w - 1) + x) * 4];
                const bool inside = x >= rect.Left && y >= rect.Top;
                EXPECT_EQ(red != 0, inside) << x << "," << y;
            }
    }
}

// A strip re-cut after it finished its row resumes one row lower, which may lie past the last
// row of cells: nothing is left then. A resume column past the last cell goes on with the next row.
TEST(AntiAliasingPass, AResumePastTheLastCellGoesOnWithWhatIsLeft) {
    struct TCase {
        int ResumeX, ResumeY;
        int Cells;
    };
    const TCase cases[] = {{0, 4, 0}, {6, 1, 12}, {3, 3, 3}, {0, 0, 24}};
    for (const TCase &c : cases) {
        TSmallImage small;
        TProbeAntiAliasing piece(small.Image, &small.Statistics);
        piece.Rect = {0, 0, TSmallImage::W, TSmallImage::H};
        piece.Resume = true;
        piece.ResumeX = c.ResumeX;
        piece.ResumeY = c.ResumeY;
        piece.Run();
        EXPECT_EQ(int(small.Statistics.Counted()), c.Cells) << c.ResumeX << "," << c.ResumeY;
        EXPECT_FALSE(piece.Resume);
    }
}

// A stopped pass resumes at the cell in work and gives exactly the cells of an uninterrupted
// pass, also across strips (3x3 split of depth 4: strips of 404 cells).
TEST(AntiAliasingPass, StopsAndResumesToTheUninterruptedCells) {
    const int w = 406, h = 2;
    // Pixel columns alternate between two colours and the field ramps between them, so every
    // cell splits once and its sub-cells do not.
    const auto stripes = [](int SX, int SY) {
        const bool odd = (SX / 81) % 2 != 0;
        const float t = float(SX % 81) / 81;
        return TFloatColor{odd ? 0.8f - 0.7f * t : 0.1f + 0.7f * t, 0.3f, 0.2f,
                           odd ? 1 - 0.5f * t : 0.5f + 0.5f * t};
    };
    auto run = [&](TLayerImage &Image, std::mt19937 *Random) {
        FillImage(Image, w, h, 81, stripes);
        TLayerRect rect{0, 0, w, h};
        int resumeX = 0, resumeY = 0, stops = 0;
        bool resume = false;
        for (;;) {
            TProbeAntiAliasing piece(Image, nullptr);
            piece.Color = stripes;
            piece.AntiAliasing->Depth = 4;
            piece.AntiAliasing->Split3x3 = true;
            piece.AntiAliasing->Threshold = 0.5;
            piece.Rect = rect;
            piece.Record = false;
            piece.Resume = resume;
            piece.ResumeX = resumeX;
            piece.ResumeY = resumeY;
            if (Random)
                piece.StopAfter = std::uniform_int_distribution<int>(1, 800)(*Random);
            piece.Run();
            if (!piece.Resume)
                return stops;
            ++stops;
            resume = true;
            resumeX = piece.ResumeX;
            resumeY = piece.ResumeY;
        }
    };
    TLayerImage plain, stopped;
    EXPECT_EQ(run(plain, nullptr), 0);
    std::mt19937 random(12);
    EXPECT_GT(run(stopped, &random), 2);
    const std::size_t cells = std::size_t(w - 1) * (h - 1) * 4;
    for (std::size_t i = 0; i < cells; ++i)
        ASSERT_EQ(plain.AntiAliasBuffer()[i], stopped.AntiAliasBuffer()[i]) << "cell " << i / 4;
}

} // namespace
