// Compute pieces with the built-in Mandelbrot formula, the layer statistics and the update
// rectangles.
#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "CompMessages.h"
#include "FracCalculate.h"
#include "FracColoring.h"
#include "FracCompute.h"
#include "FracFormula.h"
#include "FracImage.h"
#include "FracMapping.h"

namespace {

constexpr std::uint32_t Patience = 60000;

std::string FormulaFixtures() {
    return std::string(TEST_DATA_DIR) + "fractal\\data\\FracFormula_fixtures.ofm";
}

std::string ColoringFixtures() {
    return std::string(TEST_DATA_DIR) + "fractal\\data\\FracColoring_fixtures.ocl";
}

std::string TransformFixtures() {
    return std::string(TEST_DATA_DIR) + "fractal\\data\\FracTransform_fixtures.oxf";
}

// ---------------------------------------------------------------------------------------------
// Statistics

std::string StatisticsBytes(const TLayerStatistics &Statistics) {
    TMemoryStream stream;
    Statistics.WriteResumeState(stream);
    return {static_cast<const char *>(stream.Memory()), static_cast<std::size_t>(stream.Size())};
}

void LoadStatistics(TLayerStatistics &Statistics, const std::string &Bytes) {
    TMemoryStream stream;
    stream.WriteBuffer(Bytes.data(), static_cast<std::int32_t>(Bytes.size()));
    stream.SetPosition(0);
    Statistics.ReadResumeState(stream);
}

void Put32(std::string &Bytes, std::size_t Offset, std::uint32_t Value) {
    for (int i = 0; i < 4; ++i)
        Bytes[Offset + i] = static_cast<char>((Value >> (8 * i)) & 0xFF);
}

TEST(LayerStatistics, ShiftBinCountAndBins) {
    struct TCase {
        std::int32_t MaxIter, Shift, BinCount;
    };
    const TCase cases[] = {{100, 0, 99}, {1000, 2, 249}, {1, 0, 0}, {256, 0, 255}, {257, 1, 128}};
    for (const TCase &c : cases) {
        TLayerStatistics statistics;
        statistics.Reset(10, c.MaxIter);
        EXPECT_EQ(statistics.Shift(), c.Shift) << c.MaxIter;
        EXPECT_EQ(statistics.BinCount(), c.BinCount) << c.MaxIter;
    }

    TLayerStatistics statistics;
    statistics.Reset(100, 1000);
    statistics.AddPixel(0);
    statistics.AddPixel(1);
    EXPECT_EQ(statistics.GetBinCount(0), 2u) << "0 and 1 iterations land in bin 0";
    statistics.AddPixel(5); // (5 - 1) shr 2 = 1
    EXPECT_EQ(statistics.GetBinCount(1), 1u);
    EXPECT_EQ(statistics.GetBinIteration(1), 5);
    // 997..999 would fall in bin 249, past the last bin in use (248): merged into it.
    statistics.AddPixel(999);
    statistics.AddPixel(993);
    EXPECT_EQ(statistics.GetBinCount(248), 2u);
    EXPECT_EQ(statistics.GetBinCount(249), 0u);
    statistics.AddPixel(1000);
    EXPECT_EQ(statistics.Inside(), 1u);
    EXPECT_EQ(statistics.Calculated(), 6u);
    EXPECT_EQ(statistics.HistogramSum(), statistics.Calculated() - statistics.Inside());
    EXPECT_EQ(statistics.MinIteration(), 1) << "0 iterations do not count as a minimum";
    EXPECT_EQ(statistics.MaxIteration(), 999);
}

TEST(LayerStatistics, CountsStopAtTheTotalAndWhileSuspended) {
    TLayerStatistics statistics;
    statistics.Reset(3, 100);
    statistics.SetSuspended(true);
    statistics.AddPixel(5);
    statistics.CountGuessed();
    statistics.CountSkipped();
    EXPECT_EQ(statistics.Counted(), 0u);
    statistics.CountPixel();
    EXPECT_EQ(statistics.Counted(), 1u) << "anti-aliased cells count while suspended";
    statistics.SetSuspended(false);
    statistics.CountGuessed();
    statistics.AddPixel(5);
    statistics.AddPixel(6);
    statistics.CountSkipped();
    EXPECT_EQ(statistics.Counted(), 3u);
    EXPECT_EQ(statistics.Calculated(), 1u);
    EXPECT_EQ(statistics.HistogramSum(), 1u);
}

// Several threads count into one statistics object: nothing is lost.
TEST(LayerStatistics, ThreadsCountingAtOnceLoseNothing) {
    TLayerStatistics statistics;
    constexpr int threads = 4, pixels = 20000;
    statistics.Reset(threads * pixels * 2, 256);
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([&statistics, t] {
            for (int i = 0; i < pixels; ++i) {
                statistics.AddPixel(i % 2 ? 255 : 1 + (i + t) % 200);
                statistics.CountGuessed();
            }
        });
    for (auto &worker : workers)
        worker.join();
    EXPECT_EQ(statistics.Counted(), static_cast<std::uint32_t>(threads * pixels * 2));
    EXPECT_EQ(statistics.Calculated(), static_cast<std::uint32_t>(threads * pixels));
    EXPECT_EQ(statistics.HistogramSum() + statistics.Inside(), statistics.Calculated());
    EXPECT_EQ(statistics.MinIteration(), 1);
    EXPECT_EQ(statistics.MaxIteration(), 255);
}

TEST(LayerStatistics, ResumeRecordsRoundTripAndBadOnesAreRefused) {
    TLayerStatistics statistics;
    statistics.Reset(50, 1000);
    for (int i : {3, 17, 17, 400, 1000})
        statistics.AddPixel(i);
    statistics.CountGuessed();
    const std::string record = StatisticsBytes(statistics);
    ASSERT_EQ(record.size(), static_cast<std::size_t>(StatisticsRecordSize));
    EXPECT_EQ(StatisticsRecordSize, 1056);

    TLayerStatistics loaded;
    LoadStatistics(loaded, record);
    EXPECT_EQ(StatisticsBytes(loaded), record);
    EXPECT_EQ(loaded.Shift(), 2);
    EXPECT_EQ(loaded.BinCount(), 249);
    EXPECT_EQ(loaded.MinIteration(), 3);

    // Version 0: no min and max; the histogram follows at offset 24.
    std::string old = record.substr(0, 24) + record.substr(32);
    Put32(old, 0, 0);
    TLayerStatistics fromOld;
    LoadStatistics(fromOld, old);
    EXPECT_EQ(fromOld.MinIteration(), 0);
    EXPECT_EQ(fromOld.MaxIteration(), 0);
    EXPECT_EQ(fromOld.GetBinCount(4), 2u); // 17 iterations: (16 shr 2)
    EXPECT_EQ(fromOld.Calculated(), 5u);

    struct TCase {
        const char *Name;
        std::size_t Offset;
        std::uint32_t Value;
    };
    const TCase cases[] = {
        {"version 2", 0, 2},
        {"counted above total", 12, 51},
        {"calculated above counted", 16, 7},
        {"inside above calculated", 20, 6},
        {"maxiter 0", 8, 0},
        {"max iteration at maxiter", 28, 1000},
        {"histogram above calculated", 32 + 4 * 10, 9},
    };
    for (const TCase &c : cases) {
        std::string bad = record;
        Put32(bad, c.Offset, c.Value);
        try {
            LoadStatistics(loaded, bad);
            ADD_FAILURE() << c.Name << " accepted";
        } catch (const EComputeError &E) {
            EXPECT_EQ(E.Message(), "Unsupported resume state") << c.Name;
        }
        EXPECT_EQ(StatisticsBytes(loaded), record) << c.Name;
    }
    EXPECT_THROW(LoadStatistics(loaded, record.substr(0, 100)), EReadError);
    EXPECT_EQ(StatisticsBytes(loaded), record);
}

TEST(LayerStatistics, RemoteSnapshotsAreFoldedInOnce) {
    TLayerStatistics own, previous, server;
    own.Reset(100, 100);
    previous.Reset(100, 100);
    server.Reset(100, 100);
    own.AddPixel(50); // counted here
    for (int i : {10, 20, 100})
        server.AddPixel(i);
    TMemoryStream stream;
    server.WriteResumeState(stream);
    server.AddPixel(30);
    server.WriteResumeState(stream);
    stream.SetPosition(0);
    own.MergeRemoteState(previous, stream);
    own.MergeRemoteState(previous, stream);
    EXPECT_EQ(own.Counted(), 5u);
    EXPECT_EQ(own.Calculated(), 5u);
    EXPECT_EQ(own.Inside(), 1u);
    EXPECT_EQ(own.MinIteration(), 10);
    EXPECT_EQ(own.MaxIteration(), 50);
    EXPECT_EQ(own.HistogramSum(), 4u);
}

// ---------------------------------------------------------------------------------------------
// Update rectangles

TEST(UpdateRects, IncludeRectMergesNeighboursOnly) {
    struct TCase {
        const char *Name;
        std::vector<TLayerRect> Rects;
        std::vector<TLayerRect> Expected;
    };
    const TCase cases[] = {
        {"touching squares side by side merge", {{0, 0, 10, 10}, {10, 0, 20, 10}}, {{0, 0, 20, 10}}},
        {"far apart squares stay two",
         {{0, 0, 10, 10}, {100, 100, 110, 110}},
         {{0, 0, 10, 10}, {100, 100, 110, 110}}},
        {"a rectangle inside another is absorbed", {{0, 0, 50, 50}, {10, 10, 20, 20}}, {{0, 0, 50, 50}}},
        {"empty rectangles are ignored", {{5, 5, 5, 9}}, {}},
        {"only the last four entries are tried",
         {{0, 0, 10, 10},
          {100, 0, 110, 10},
          {200, 0, 210, 10},
          {300, 0, 310, 10},
          {400, 0, 410, 10},
          {10, 0, 20, 10}},
         {{0, 0, 10, 10},
          {100, 0, 110, 10},
          {200, 0, 210, 10},
          {300, 0, 310, 10},
          {400, 0, 410, 10},
          {10, 0, 20, 10}}},
    };
    for (const TCase &c : cases) {
        TUpdateRectList list;
        list.Lock();
        for (const TLayerRect &r : c.Rects)
            list.IncludeRect(r);
        list.Unlock();
        std::vector<TLayerRect> rects;
        list.ExtractRects(rects);
        ASSERT_EQ(rects.size(), c.Expected.size()) << c.Name;
        for (std::size_t i = 0; i < rects.size(); ++i) {
            EXPECT_EQ(rects[i].Left, c.Expected[i].Left) << c.Name;
            EXPECT_EQ(rects[i].Top, c.Expected[i].Top) << c.Name;
            EXPECT_EQ(rects[i].Right, c.Expected[i].Right) << c.Name;
            EXPECT_EQ(rects[i].Bottom, c.Expected[i].Bottom) << c.Name;
        }
        EXPECT_EQ(list.Count(), 0);
    }

    TUpdateRectList list;
    list.Lock();
    for (int i = 0; i < 40; ++i)
        list.IncludeRect({i * 100, 0, i * 100 + 10, 10});
    list.Unlock();
    EXPECT_EQ(list.Count(), 40);
    EXPECT_GE(list.Capacity(), 40);
}

TEST(UpdateRects, RectanglesInProgressAreRedrawnAgain) {
    TUpdateRectList list;
    std::vector<TLayerRect> rects;
    {
        TUpdateRect band(&list);
        band.SetRect({0, 5, 64, 6});
        band.AddRect({200, 0, 210, 10});
        EXPECT_EQ(band.GetRect().Left, 0);
        list.ExtractRects(rects);
        EXPECT_EQ(rects.size(), 2u);
        list.ExtractRects(rects);
        ASSERT_EQ(rects.size(), 1u) << "the band in progress comes again";
        EXPECT_EQ(rects[0].Top, 5);
    }
    list.ExtractRects(rects);
    list.ExtractRects(rects);
    EXPECT_TRUE(rects.empty()) << "a freed update rect is no longer registered";
}

// ---------------------------------------------------------------------------------------------
// Compute pieces on the built-in Mandelbrot formula

// Linear order with a stop test after every pixel; the anti-aliasing pass samples every pixel's
// own position on a grid twice as fine, and half a pixel to the right.
class TLinearCompute : public TCompute {
public:
    using TCompute::TCompute;
    void CalculatePixels() override {
        Pass = 0;
        int x = Resume ? ResumeX : Rect.Left;
        int y = Resume ? ResumeY : Rect.Top;
        Resume = false;
        for (; y < Rect.Bottom; ++y, x = Rect.Left) {
            UpdateRect->SetRect({Rect.Left, y, Rect.Right, y + 1});
            for (; x < Rect.Right; ++x) {
                CalculatePixel(x, y);
                if (IsStopping()) {
                    Resume = true;
                    ResumeX = x + 1 < Rect.Right ? x + 1 : Rect.Left;
                    ResumeY = x + 1 < Rect.Right ? y : y + 1;
                    return;
                }
            }
        }
    }
    void CalculateAntiAliased() override {
        for (int y = Rect.Top; y < Rect.Bottom; ++y)
            for (int x = Rect.Left; x < Rect.Right; ++x) {
                TFloatColor color;
                CalculateColor(2 * x, 2 * y, color, 2, 2);
                Samples->at(static_cast<std::size_t>(y * Image->Width() + x)) = color;
                CalculateColor(2 * x + 1, 2 * y, color, 2, 2);
                HalfSamples->at(static_cast<std::size_t>(y * Image->Width() + x)) = color;
            }
    }
    std::vector<TFloatColor> *Samples = nullptr;
    std::vector<TFloatColor> *HalfSamples = nullptr;
};

// One layer's parts around a small engine.
class TMandelbrotLayer : public TCalculateEngine {
public:
    TMandelbrotLayer(TCalculateManager &Manager, int W, int H, std::int32_t MaxIter,
                     std::uint8_t Precision = pmDouble, const char *OutsideEntry = nullptr)
        : TCalculateEngine(&Manager), Width(W), Height(H), Table(std::make_unique<TGradientTable>()),
          Samples(static_cast<std::size_t>(W * H)), HalfSamples(static_cast<std::size_t>(W * H)) {
        SetShared(true);
        for (TFormulaBase *part :
             {static_cast<TFormulaBase *>(&Formula), static_cast<TFormulaBase *>(&Inside),
              static_cast<TFormulaBase *>(&Outside)}) {
            part->SetDigits(30);
            part->SetPrecision(Precision);
        }
        if (OutsideEntry) {
            ErrorManager()->SetFormula(&Outside);
            Outside.SetSource(ColoringFixtures(), OutsideEntry);
            EXPECT_FALSE(Outside.GetHasError());
        }
        Mapping.SetPrecision(Precision);
        Mapping.SetDigits(30);
        ErrorManager()->SetFormula(&Formula);
        Formula.SetSource(FormulaFixtures(), "BuiltinMandelbrot");
        EXPECT_FALSE(Formula.GetHasError());
        Formula.SetColorings(&Inside, &Outside);
        Formula.SetMaxIter(MaxIter);
        Formula.SetPeriodicity(0);
        Mapping.BeginUpdate();
        Mapping.Center.SetText("-0.5", "0");
        Mapping.SetWidth(W);
        Mapping.SetHeight(H);
        Mapping.EndUpdate();
        Image.SetSize(W, H);
        for (int i = 0; i < ColorTableSize; ++i)
            (*Table)[i] = 0xFF000000u | static_cast<std::uint32_t>(i * 2654435761u >> 8);
        Image.SetColorTable(Table.get());
    }
    ~TMandelbrotLayer() override { Detach(); }

    std::unique_ptr<TCompute> CreatePiece() override {
        auto piece = std::make_unique<TLinearCompute>(&Mapping, &Statistics, &Updates, &Image, &Outside,
                                                      &Inside, &Formula);
        piece->Method = dmLinear;
        piece->Samples = &Samples;
        piece->HalfSamples = &HalfSamples;
        return piece;
    }
    void CalculationFinished() override { Done.SetEvent(); }
    TLayerRect ResumeArea() const override { return {0, 0, Width, Height}; }

    // A fresh run over the whole image; false when it did not end.
    bool Run() {
        ClearPieces();
        Statistics.Reset(static_cast<std::uint32_t>(Width * Height), Formula.GetMaxIter());
        Done.ResetEvent();
        StartCalculation({0, 0, Width, Height}, {});
        return Done.WaitFor(Patience) == TEvent::wrSignaled;
    }
    int Code(int X, int Y) const {
        std::uint16_t code;
        std::memcpy(&code, Image.PixelPtr(X, Y), 2);
        return code;
    }

    int Width, Height;
    TMapping Mapping;
    TColoring Inside{0}, Outside{1};
    TFormula Formula;
    TLayerStatistics Statistics;
    TUpdateRectList Updates;
    TLayerImage Image;
    std::unique_ptr<TGradientTable> Table;
    std::vector<TFloatColor> Samples, HalfSamples;
    TEvent Done{true, false};
};

std::uint32_t HighWord(double Value) {
    std::uint64_t bits;
    std::memcpy(&bits, &Value, 8);
    return static_cast<std::uint32_t>(bits >> 32);
}

// The double-precision built-in Mandelbrot with start 0 and bailout 4 written out: z1 = c is
// never tested, at most maxiter - 1 further steps, the last one not tested.
std::int32_t ReferenceIterations(double CRe, double CIm, std::int32_t MaxIter) {
    long double zRe = CRe, zIm = CIm;
    for (std::int32_t steps = 1; steps <= MaxIter - 1; ++steps) {
        const long double re = zRe * zRe - zIm * zIm + CRe;
        zIm = (zRe + zRe) * zIm + CIm;
        zRe = re;
        if (steps == MaxIter - 1)
            break;
        if (HighWord(static_cast<double>(zRe * zRe + zIm * zIm)) > HighWord(4.0))
            return steps;
    }
    return MaxIter;
}

TEST(ComputePieces, AFullRunOnFourThreadsCountsEveryPixelOnce) {
    TCalculateManager manager(4);
    constexpr int w = 64, h = 48, maxIter = 60;
    TMandelbrotLayer layer(manager, w, h, maxIter);
    ASSERT_TRUE(layer.Run());
    EXPECT_FALSE(layer.Failed()) << layer.ErrorMessage();
    EXPECT_EQ(layer.Pieces().size(), 4u);

    // The reference: every pixel mapped by the mapping's own mapper and iterated by the loop above.
    TDoubleMapper mapper;
    mapper.Setup(layer.Mapping);
    std::uint32_t inside = 0;
    std::int32_t low = 0, high = 0;
    std::vector<std::uint32_t> bins(256);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            double re, im;
            mapper.MapPoint(x, y, re, im);
            const std::int32_t iterations = ReferenceIterations(re, im, maxIter);
            if (iterations == maxIter) {
                ++inside;
                EXPECT_EQ(layer.Code(x, y), InsideSolidCode) << x << "," << y;
                continue;
            }
            EXPECT_LT(layer.Code(x, y), GradientCodeCount) << x << "," << y;
            ++bins[static_cast<std::size_t>(std::min(iterations > 0 ? iterations - 1 : 0, 58))];
            low = low == 0 ? iterations : std::min(low, iterations);
            high = std::max(high, iterations);
        }
    const TLayerStatistics &statistics = layer.Statistics;
    EXPECT_EQ(statistics.Counted(), static_cast<std::uint32_t>(w * h));
    EXPECT_EQ(statistics.Calculated(), static_cast<std::uint32_t>(w * h));
    EXPECT_EQ(statistics.Inside(), inside);
    EXPECT_GT(inside, 0u);
    EXPECT_EQ(statistics.HistogramSum(), statistics.Calculated() - statistics.Inside());
    EXPECT_EQ(statistics.MinIteration(), low);
    EXPECT_EQ(statistics.MaxIteration(), high);
    for (int i = 0; i < 256; ++i)
        EXPECT_EQ(statistics.GetBinCount(i), bins[static_cast<std::size_t>(i)]) << "bin " << i;

    // The update rects held each band in progress.
    std::vector<TLayerRect> rects;
    layer.Updates.ExtractRects(rects);
    EXPECT_FALSE(rects.empty());
}

TEST(ComputePieces, SolidSidesAndSolidTransformationsStoreTheirCodes) {
    TCalculateManager manager(2);
    constexpr int w = 32, h = 16;
    TMandelbrotLayer layer(manager, w, h, 30);
    layer.Outside.SetTransfer(0);
    layer.Mapping.AddTransformationEntry(TransformFixtures(), "RightSolid");
    ASSERT_TRUE(layer.Run());
    EXPECT_FALSE(layer.Failed()) << layer.ErrorMessage();
    TDoubleMapper mapper;
    mapper.Setup(layer.Mapping);
    std::uint32_t solid = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            double re, im;
            mapper.MapPoint(x, y, re, im);
            int expected;
            if (re > 0) {
                expected = FirstTransformCode;
                ++solid;
            } else {
                expected = ReferenceIterations(re, im, 30) == 30 ? InsideSolidCode : OutsideSolidCode;
            }
            EXPECT_EQ(layer.Code(x, y), expected) << x << "," << y;
        }
    EXPECT_GT(solid, 0u);
    EXPECT_EQ(layer.Statistics.Counted(), static_cast<std::uint32_t>(w * h)) << "solid points are counted";
    EXPECT_EQ(layer.Statistics.Calculated(), w * h - solid) << "but not calculated";

    // Samples on the pixels give the pixels' colours; samples half a pixel right of a pixel are
    // mapped at their own position (the transformation decides by it).
    layer.AntiAliasing().Enabled = true;
    ASSERT_TRUE(layer.Run());
    EXPECT_FALSE(layer.Failed()) << layer.ErrorMessage();
    int halfDiffers = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const TFloatColor sample = layer.Samples[static_cast<std::size_t>(y * w + x)];
            const TFloatColor pixel = layer.Image.CodeColor(layer.Code(x, y));
            EXPECT_EQ(std::memcmp(&sample, &pixel, sizeof sample), 0) << x << "," << y;
            double re, im;
            mapper.MapPoint(x + 0.5L, y, re, im);
            const TFloatColor half = layer.HalfSamples[static_cast<std::size_t>(y * w + x)];
            if (re > 0) {
                const TFloatColor solidColor = layer.Image.CodeColor(FirstTransformCode);
                EXPECT_EQ(std::memcmp(&half, &solidColor, sizeof half), 0) << x << "," << y;
            }
            halfDiffers += std::memcmp(&half, &sample, sizeof half) != 0;
        }
    EXPECT_GT(halfDiffers, 0);
}

// Every precision, with an outside coloring that reads the orbit: the runs end without error,
// count every pixel once and agree with double precision on which pixels are inside.
TEST(ComputePieces, EveryPrecisionAndTheOrbitRunToTheEnd) {
    TCalculateManager manager(2);
    constexpr int w = 16, h = 12;
    std::vector<int> insideInDouble;
    for (std::uint8_t precision : {pmDouble, pmExtended, pmArbitrary}) {
        SCOPED_TRACE(static_cast<int>(precision));
        TMandelbrotLayer layer(manager, w, h, 25, precision, "SecondPoint");
        EXPECT_TRUE(layer.Outside.GetUsesOrbit());
        ASSERT_TRUE(layer.Run());
        EXPECT_FALSE(layer.Failed()) << layer.ErrorMessage();
        EXPECT_EQ(layer.Statistics.Counted(), static_cast<std::uint32_t>(w * h));
        EXPECT_EQ(layer.Statistics.HistogramSum(), layer.Statistics.Calculated() - layer.Statistics.Inside());
        std::vector<int> inside;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                inside.push_back(layer.Code(x, y) == InsideSolidCode);
        if (precision == pmDouble)
            insideInDouble = inside;
        else
            EXPECT_EQ(inside, insideInDouble);
    }
}

TEST(ComputePieces, PieceRecordsAreThirtyThreeBytes) {
    TCalculateManager manager(1);
    TMandelbrotLayer layer(manager, 16, 16, 20);
    std::unique_ptr<TCompute> piece = layer.CreatePiece();
    piece->Rect = {0, 0, 16, 16};
    piece->State = psInterrupted;
    piece->Pass = 3;
    piece->ResumeX = 5;
    piece->ResumeY = 9;
    TMemoryStream stream;
    piece->WriteResumeState(stream);
    ASSERT_EQ(stream.Size(), PieceRecordSize);
    stream.SetPosition(0);
    std::unique_ptr<TCompute> copy = layer.CreatePiece();
    copy->ReadResumeState(stream);
    EXPECT_EQ(copy->State, psInterrupted);
    EXPECT_EQ(copy->Pass, 3);
    EXPECT_EQ(copy->ResumeX, 5);
    EXPECT_EQ(copy->ResumeY, 9);
    EXPECT_EQ(copy->Rect.Right, 16);
    EXPECT_EQ(copy->StartExponent, 3) << "16 rows: first blocks of 8";
}

} // namespace
