#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "FormulaModules.h"
#include "FracBuiltin.h"
#include "FracCalculate.h"
#include "FracColoring.h"
#include "FracCompute.h"
#include "FracFormula.h"
#include "FracGradient.h"
#include "FracGradientTestSupport.h"
#include "FracImage.h"
#include "FracInterpolator.h"
#include "FracMapping.h"
#include "FracMethods.h"

namespace {

// ---------------------------------------------------------------------------------------------
// Method geometry on probe pieces: samples come from a table of codes, not from a formula.

// Escape counts of z^2 + c over [-2, 0.75] x [-1.25, 1.25] as pixel codes: a picture with large
// flat areas and detailed borders, like the ones guessing is made for.
std::vector<int> EscapeCodes(int W, int H) {
    std::vector<int> codes(std::size_t(W) * H);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const double cr = -2 + 2.75 * x / W, ci = -1.25 + 2.5 * y / H;
            double zr = 0, zi = 0;
            int n = 0;
            while (n < 40 && zr * zr + zi * zi <= 4) {
                const double t = zr * zr - zi * zi + cr;
                zi = 2 * zr * zi + ci;
                zr = t;
                ++n;
            }
            codes[std::size_t(y) * W + x] = n * 100;
        }
    return codes;
}

template <class TMethod> class TProbe : public TMethod {
public:
    TProbe(TLayerImage &AImage, TLayerStatistics *AStatistics, const std::vector<int> &ACodes)
        : TMethod(nullptr, AStatistics, nullptr, &AImage, nullptr, nullptr, nullptr), Codes(ACodes) {}

    void Run() { this->CalculatePixels(); }

    const std::vector<int> &Codes;
    std::vector<std::pair<int, int>> Order;
    int StopAfter = -1;
    int Junk = 12345;

protected:
    void SamplePixel(int X, int Y) override {
        Order.push_back({X, Y});
        if (StopAfter > 0 && --StopAfter == 0) {
            // The sample in work when the stop came: a pixel routine cut short stores nonsense.
            this->Stop();
            this->Image->SetCode(X, Y, Junk);
            return;
        }
        this->Image->SetCode(X, Y, Codes[std::size_t(Y) * this->Image->Width() + X]);
    }
};

struct TProbeRun {
    std::vector<std::pair<int, int>> Order; // every sample, over all resumes
    std::vector<std::size_t> Resumes;       // index in Order of the first sample after each resume
    int Stops = 0;
};

// Runs a piece of the method over Rect until it is done, stopping it after a random number of
// samples (up to MaxStop) when Random is given; each resume is a new piece that takes over the
// rectangle, pass and resume position, as a piece record carries them.
template <class TMethod>
TProbeRun RunProbe(TLayerImage &Image, const TLayerRect &Rect, int Exponent, const std::vector<int> &Codes,
                   std::mt19937 *Random = nullptr, int MaxStop = 50, TLayerStatistics *Statistics = nullptr) {
    TProbeRun run;
    std::int32_t pass = -1, resumeX = 0, resumeY = 0;
    bool resume = false;
    for (;;) {
        TProbe<TMethod> piece(Image, Statistics, Codes);
        piece.Rect = Rect;
        piece.StartExponent = Exponent;
        piece.Pass = pass;
        piece.Resume = resume;
        piece.ResumeX = resumeX;
        piece.ResumeY = resumeY;
        if (Random)
            piece.StopAfter = std::uniform_int_distribution<int>(1, MaxStop)(*Random);
        if (resume)
            run.Resumes.push_back(run.Order.size());
        piece.Run();
        run.Order.insert(run.Order.end(), piece.Order.begin(), piece.Order.end());
        if (!piece.Resume)
            return run;
        ++run.Stops;
        pass = piece.Pass;
        resume = true;
        resumeX = piece.ResumeX;
        resumeY = piece.ResumeY;
    }
}

std::vector<int> ImageCodes(const TLayerImage &Image) {
    std::vector<int> codes;
    for (int y = 0; y < Image.Height(); ++y)
        for (int x = 0; x < Image.Width(); ++x)
            codes.push_back(*reinterpret_cast<const std::uint16_t *>(Image.PixelPtr(x, y)));
    return codes;
}

struct TGeometryCase {
    int Width, Height;
    TLayerRect Rect;
    int Exponent;
};
const TGeometryCase GeometryCases[] = {
    {64, 48, {0, 0, 64, 48}, 3},  {50, 23, {5, 0, 42, 23}, 4}, {17, 9, {0, 0, 17, 9}, 2},
    {40, 40, {16, 3, 32, 40}, 4}, {1, 1, {0, 0, 1, 1}, 3},
};

TEST(ComputeMethods, NamesAndNumbers) {
    EXPECT_EQ(ComputeMethodName(dmGuessing), "");
    EXPECT_EQ(ComputeMethodName(dmMultiPass), "multipass");
    EXPECT_EQ(ComputeMethodName(dmLinear), "linear");
    EXPECT_EQ(ComputeMethodFromName("multipass"), dmMultiPass);
    EXPECT_EQ(ComputeMethodFromName("linear"), dmLinear);
    EXPECT_EQ(ComputeMethodFromName("onepass"), dmGuessing);
    const char *const classes[] = {"TComputeGuessing", "TComputeMultiPass", "TComputeLinear"};
    for (std::uint8_t method : {dmGuessing, dmMultiPass, dmLinear, std::uint8_t(7)}) {
        const std::unique_ptr<TCompute> piece =
            CreateCompute(method, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
        const std::uint8_t expected = method < 3 ? method : dmGuessing;
        EXPECT_EQ(piece->Method, expected);
        EXPECT_STREQ(piece->ClassName(), classes[expected]);
        EXPECT_EQ(piece->Pass, -1);
    }
}

// Every pixel of the rectangle once, nothing outside it; the first pass samples the block grid
// of the start exponent, row by row.
TEST(ComputeMultiPass, SamplesEveryPixelOnceStartingOnTheBlockGrid) {
    for (const TGeometryCase &c : GeometryCases) {
        TLayerImage image;
        image.SetSize(c.Width, c.Height);
        const std::vector<int> codes = EscapeCodes(c.Width, c.Height);
        const TProbeRun run = RunProbe<TComputeMultiPass>(image, c.Rect, c.Exponent, codes);
        const TLayerRect &r = c.Rect;
        std::vector<int> counts(codes.size());
        for (const auto &[x, y] : run.Order)
            ++counts[std::size_t(y) * c.Width + x];
        const std::vector<int> result = ImageCodes(image);
        for (int y = 0; y < c.Height; ++y)
            for (int x = 0; x < c.Width; ++x) {
                const bool inside = x >= r.Left && x < r.Right && y >= r.Top && y < r.Bottom;
                const std::size_t i = std::size_t(y) * c.Width + x;
                ASSERT_EQ(counts[i], inside ? 1 : 0) << x << "," << y << " in " << c.Width << "x" << c.Height;
                ASSERT_EQ(result[i], inside ? codes[i] : UncalculatedCode) << x << "," << y;
            }
        const int size = 1 << c.Exponent;
        std::size_t k = 0;
        for (int y = r.Top; y < r.Bottom; y += size)
            for (int x = r.Left; x < r.Right; x += size, ++k)
                ASSERT_EQ(run.Order.at(k), std::make_pair(x, y)) << "first pass, block size " << size;
    }
}

TEST(ComputeLinear, RunsRowByRowAndResumesAtThePixelItStopped) {
    TLayerImage image;
    image.SetSize(37, 21);
    const std::vector<int> codes = EscapeCodes(37, 21);
    const TLayerRect rect{3, 2, 35, 21};
    std::mt19937 random(3);
    const TProbeRun run = RunProbe<TComputeLinear>(image, rect, 3, codes, &random, 60);
    EXPECT_GT(run.Stops, 5);
    // The first sample of each resume is the one the stop cut short.
    std::vector<std::pair<int, int>> order;
    std::size_t next = 0;
    for (std::size_t i = 0; i < run.Order.size(); ++i) {
        if (next < run.Resumes.size() && run.Resumes[next] == i) {
            ASSERT_EQ(run.Order[i], run.Order[i - 1]) << "resume " << next;
            ++next;
            continue;
        }
        order.push_back(run.Order[i]);
    }
    std::size_t k = 0;
    for (int y = rect.Top; y < rect.Bottom; ++y)
        for (int x = rect.Left; x < rect.Right; ++x, ++k)
            ASSERT_EQ(order.at(k), std::make_pair(x, y));
    EXPECT_EQ(k, order.size());
    const std::vector<int> result = ImageCodes(image);
    for (int y = rect.Top; y < rect.Bottom; ++y)
        for (int x = rect.Left; x < rect.Right; ++x)
            ASSERT_EQ(result[std::size_t(y) * 37 + x], codes[std::size_t(y) * 37 + x]);
}

// A flat picture: guessing fills every inner block and samples only the first pass and the blocks
// at the right and bottom edge of the strip, each once; the rest is counted as guessed.
TEST(ComputeGuessing, EdgeBlocksAreNeverGuessed) {
    for (const TGeometryCase &c : GeometryCases) {
        TLayerImage image;
        image.SetSize(c.Width, c.Height);
        const std::vector<int> flat(std::size_t(c.Width) * c.Height, 700);
        // Neighbouring strips are done and flat too.
        for (int y = 0; y < c.Height; ++y)
            for (int x = 0; x < c.Width; ++x)
                image.SetCode(x, y, 700);
        TLayerStatistics statistics;
        statistics.Reset(c.Width * c.Height, 100);
        const TProbeRun run =
            RunProbe<TComputeGuessing>(image, c.Rect, c.Exponent, flat, nullptr, 0, &statistics);
        const TLayerRect &r = c.Rect;
        std::set<std::pair<int, int>> expected;
        for (int y = r.Top; y < r.Bottom; y += 1 << c.Exponent)
            for (int x = r.Left; x < r.Right; x += 1 << c.Exponent)
                expected.insert({x, y});
        for (int size = 1 << c.Exponent; size >= 2; size /= 2)
            for (int y = r.Top; y < r.Bottom; y += size)
                for (int x = r.Left; x < r.Right; x += size) {
                    if (x + size < r.Right && y + size < r.Bottom)
                        continue;
                    const int h = size / 2;
                    for (const auto &[px, py] :
                         {std::make_pair(x + h, y + h), std::make_pair(x + h, y), std::make_pair(x, y + h)})
                        if (px < r.Right && py < r.Bottom)
                            expected.insert({px, py});
                }
        const std::set<std::pair<int, int>> sampled(run.Order.begin(), run.Order.end());
        EXPECT_EQ(sampled, expected) << c.Width << "x" << c.Height;
        EXPECT_EQ(run.Order.size(), sampled.size()) << "no sample twice";
        const int pixels = (r.Right - r.Left) * (r.Bottom - r.Top);
        EXPECT_EQ(int(statistics.Counted()), pixels - int(sampled.size()));
    }
}

// Stops cut a sample short (it stores nonsense); the block in work is done again from the state
// its pass found, so every method ends with the picture of an uninterrupted run.
TEST(ComputeMethods, StopsAtRandomSamplesResumeToTheUninterruptedPicture) {
    std::mt19937 random(1234);
    for (const TGeometryCase &c : GeometryCases) {
        const std::vector<int> codes = EscapeCodes(c.Width, c.Height);
        auto check = [&](auto Run, const char *Name) {
            TLayerImage plain, stopped;
            plain.SetSize(c.Width, c.Height);
            stopped.SetSize(c.Width, c.Height);
            Run(plain, nullptr);
            Run(stopped, &random);
            ASSERT_EQ(ImageCodes(plain), ImageCodes(stopped)) << Name << " " << c.Width << "x" << c.Height;
        };
        check([&](TLayerImage &I,
                  std::mt19937 *R) { RunProbe<TComputeLinear>(I, c.Rect, c.Exponent, codes, R); },
              "linear");
        check([&](TLayerImage &I,
                  std::mt19937 *R) { RunProbe<TComputeMultiPass>(I, c.Rect, c.Exponent, codes, R, 20); },
              "multi-pass");
        check([&](TLayerImage &I,
                  std::mt19937 *R) { RunProbe<TComputeGuessing>(I, c.Rect, c.Exponent, codes, R, 10); },
              "guessing");
    }
}

// A cut-short sample that happens to match all its neighbours must not be taken as guessed: the
// block in work is taken again from the state its pass found.
TEST(ComputeGuessing, ACutShortSampleIsTakenAgainOnResume) {
    // Block (0, 0) of the pass of size 4: its corner differs from the other corners, so the
    // centre (2, 2), the top (2, 0) and then the left (0, 2) are sampled; the stop comes while the
    // left is in work and leaves the value of its neighbours there.
    std::vector<int> codes(25, 900);
    codes[0] = 700;
    codes[2 * 5] = 800;
    const TLayerRect rect{0, 0, 5, 5};
    TLayerImage plain, stopped;
    plain.SetSize(5, 5);
    stopped.SetSize(5, 5);
    RunProbe<TComputeGuessing>(plain, rect, 2, codes);
    TProbe<TComputeGuessing> first(stopped, nullptr, codes);
    first.Rect = rect;
    first.StartExponent = 2;
    first.StopAfter = 4 + 3;
    first.Junk = 900;
    first.Run();
    ASSERT_EQ(first.Order.back(), std::make_pair(0, 2));
    ASSERT_TRUE(first.Resume);
    TProbe<TComputeGuessing> second(stopped, nullptr, codes);
    second.Rect = rect;
    second.StartExponent = 2;
    second.Pass = first.Pass;
    second.Resume = true;
    second.ResumeX = first.ResumeX;
    second.ResumeY = first.ResumeY;
    second.Run();
    EXPECT_EQ(ImageCodes(plain)[2 * 5], 800);
    EXPECT_EQ(ImageCodes(plain), ImageCodes(stopped));
}

// A strip re-cut after it finished a row resumes one row lower; the multi-pass methods take the
// next row of blocks of the same pass from there, and the last row moves on to the next pass.
TEST(ComputeMultiPass, AResumeRowBetweenBlockRowsContinuesWithTheNextRowOfBlocks) {
    const std::vector<int> codes = EscapeCodes(32, 32);
    TLayerImage plain, resumed;
    plain.SetSize(32, 32);
    resumed.SetSize(32, 32);
    const TLayerRect rect{0, 0, 32, 32};
    RunProbe<TComputeMultiPass>(plain, rect, 3, codes);
    // Stop in the pass of block size 4 (pass 1) in the row of blocks at y = 8.
    TProbe<TComputeMultiPass> first(resumed, nullptr, codes);
    first.Rect = rect;
    first.StartExponent = 3;
    // First pass 16 samples, pass 2 48, pass 1 24 a row of blocks; stop at the fifth block.
    first.StopAfter = 16 + 48 + 2 * 24 + 4 * 3 + 2;
    first.Run();
    ASSERT_TRUE(first.Resume);
    ASSERT_EQ(first.Pass, 1);
    ASSERT_EQ(std::make_pair(first.ResumeX, first.ResumeY), std::make_pair(16, 8));
    // The engine's re-cut: a sub-strip right of the stop column has finished the row.
    for (int left : {0, 16}) {
        TProbe<TComputeMultiPass> piece(resumed, nullptr, codes);
        piece.Rect = {left, 0, left + 16, 32};
        piece.StartExponent = 3;
        piece.Pass = 1;
        piece.Resume = true;
        piece.ResumeX = left;
        piece.ResumeY = left == 0 ? 9 : 8;
        piece.Run();
        EXPECT_FALSE(piece.Resume);
    }
    EXPECT_EQ(ImageCodes(plain), ImageCodes(resumed));
}

// ---------------------------------------------------------------------------------------------
// Pieces over the built-in Mandelbrot, driven by a calculation engine on real threads.

class TFormulaModules : public testing::Environment {
public:
    void SetUp() override {
        StartFormulaModules();
        InitializeFracBuiltin();
    }
    void TearDown() override {
        FinalizeFracBuiltin();
        StopFormulaModules();
    }
};

const testing::Environment *const FormulaModules = testing::AddGlobalTestEnvironment(new TFormulaModules);

// The objects of one layer: the built-in Mandelbrot with its colorings, mapping, image and
// statistics.
struct TLayerParts {
    TLayerParts(int W, int H, std::int32_t MaxIter) {
        formula.SetPrecision(pmDouble);
        ErrorManager()->SetFormula(&formula);
        formula.SetSource(std::string(TEST_DATA_DIR) + "fractal\\data\\FracFormula_fixtures.ofm",
                          "BuiltinMandelbrot");
        formula.SetColorings(&inside, &outside);
        formula.SetMaxIter(MaxIter);
        mapping.SetWidth(W);
        mapping.SetHeight(H);
        image.SetSize(W, H);
        statistics.Reset(W * H, MaxIter);
    }
    ~TLayerParts() { ErrorManager()->ClearFormula(); }
    std::unique_ptr<TCompute> Piece(std::uint8_t Method) {
        return CreateCompute(Method, &mapping, &formula, &statistics, &updateRects, &image, &outside,
                             &inside);
    }
    TColoring inside{0}, outside{1};
    TFormula formula;
    TMapping mapping;
    TLayerImage image;
    TLayerStatistics statistics;
    TUpdateRectList updateRects;
};

// The first pass of a real run uses blocks of 8 pixels below 300 rows and of 16 from 300 rows on.
TEST(ComputeMultiPassRun, FirstBlockSizeFollowsTheImageHeight) {
    class TRecording : public TComputeMultiPass {
    public:
        using TComputeMultiPass::TComputeMultiPass;
        std::vector<std::pair<int, int>> Order;

    protected:
        void SamplePixel(int X, int Y) override {
            Order.push_back({X, Y});
            TComputeMultiPass::SamplePixel(X, Y);
            if (Order.size() == 2)
                Stop();
        }
    };
    const std::pair<int, int> cases[] = {{1, 8}, {299, 8}, {300, 16}, {599, 16}, {600, 16}, {1200, 16}};
    for (const auto &[height, size] : cases) {
        TLayerParts parts(32, height, 20);
        TRecording piece(&parts.mapping, &parts.statistics, nullptr, &parts.image, &parts.outside,
                         &parts.inside, &parts.formula);
        piece.Rect = {0, 0, 32, height};
        piece.Calculate();
        ASSERT_EQ(piece.Order.size(), 2u) << height;
        EXPECT_EQ(piece.Order[1], std::make_pair(size, 0)) << height;
        EXPECT_TRUE(piece.Resume);
        EXPECT_FALSE(piece.IsStopping()) << "a run clears its stop";
    }
}

class TTestEngine : public TCalculateEngine {
public:
    TTestEngine(TCalculateManager &Manager, TLayerParts &AParts, std::uint8_t AMethod)
        : TCalculateEngine(&Manager), Parts(AParts), Method(AMethod) {
        SetShared(true);
    }
    ~TTestEngine() override { Detach(); }
    void CalculationFinished() override { Finished.SetEvent(); }
    std::unique_ptr<TCompute> CreatePiece() override { return Parts.Piece(Method); }

    TLayerParts &Parts;
    const std::uint8_t Method;
    TEvent Finished{true, false};
};

// Ends the process when the test hangs: a deadlock cannot be recovered from inside the test.
class TWatchdog {
public:
    explicit TWatchdog(std::uint32_t Milliseconds)
        : FThread([this, Milliseconds] {
              if (FDone.WaitFor(Milliseconds) != TEvent::wrSignaled) {
                  std::fprintf(stderr, "watchdog: no end after %u ms, a calculation hangs\n", Milliseconds);
                  std::fflush(stderr);
                  std::_Exit(3);
              }
          }) {}
    ~TWatchdog() {
        FDone.SetEvent();
        FThread.join();
    }

private:
    TEvent FDone{true, false};
    std::thread FThread;
};

// Waits until a random share of the image (up to a tenth) more has been counted, or the run has
// ended: the moments of the stops spread over the whole run however fast the threads are. The
// wait spins on the counter, so that a busy machine does not let the run slip past it. False when
// the run ended, or when every pixel has been counted (pixels done again after a stop count
// twice) and the run has had its two late stops: those stop it at once, so that a run whose
// restarts count pixels twice (a re-cut strip) still gets stops near its end on a busy machine.
bool WaitForProgress(TTestEngine &Engine, std::mt19937 &Random, int &LateStops) {
    const TLayerStatistics &statistics = Engine.Parts.statistics;
    const std::uint32_t total = statistics.Total();
    if (statistics.Counted() >= total)
        return LateStops++ < 2;
    const std::uint32_t target = std::min(
        total, statistics.Counted() + std::uniform_int_distribution<std::uint32_t>(0, total / 10)(Random));
    for (unsigned i = 1; statistics.Counted() < target; ++i)
        if (i % 4096 == 0 && Engine.Finished.WaitFor(0) == TEvent::wrSignaled)
            return false;
    return true;
}

// The key case: 200 stops and resumes at random moments give the picture of an
// uninterrupted run, for linear and multi-pass on 1, 2 and 4 threads and guessing on one (with
// several threads, guessing compares across strips that other threads are calculating). Each
// case has 60 s before the watchdog takes it for a hang.
TEST(ComputeMethodsRun, RandomStopsAndResumesGiveTheUninterruptedImage) {
    constexpr int Width = 64, Height = 32, MaxIter = 60, Stops = 200;
    const TLayerRect whole{0, 0, Width, Height}, none{0, 0, 0, 0};
    std::mt19937 random(20261210);
    struct TCase {
        std::uint8_t Method;
        int Threads;
        // Each run starts on one thread and goes on on Threads after its first stop, which
        // re-cuts the interrupted strip into narrower ones.
        bool Recut;
    };
    const TCase cases[] = {{dmLinear, 1, false},    {dmLinear, 2, false},    {dmLinear, 4, false},
                           {dmMultiPass, 1, false}, {dmMultiPass, 2, false}, {dmMultiPass, 4, false},
                           {dmGuessing, 1, false},  {dmLinear, 4, true},     {dmMultiPass, 4, true}};
    for (const TCase &c : cases) {
        const TWatchdog watchdog(60000);
        TCalculateManager manager(c.Threads);
        TLayerParts parts(Width, Height, MaxIter);
        TTestEngine engine(manager, parts, c.Method);
        const char *const methods[] = {"guessing", "multi-pass", "linear"};
        const std::string name = std::string(methods[c.Method]) + " on " + std::to_string(c.Threads) +
                                 (c.Recut ? " after one" : "");

        engine.StartCalculation(whole, none);
        ASSERT_EQ(engine.Finished.WaitFor(30000), TEvent::wrSignaled) << name;
        const std::vector<int> reference = ImageCodes(parts.image);
        EXPECT_EQ(parts.statistics.Counted(), std::uint32_t(Width * Height)) << name;

        int stops = 0, runs = 0;
        while (stops < Stops && runs < 2000) {
            parts.image.Clear();
            parts.statistics.Reset(Width * Height, MaxIter);
            engine.ClearPieces();
            engine.Finished.ResetEvent();
            if (c.Recut)
                manager.SetLocalThreadCount(1);
            engine.StartCalculation(whole, none);
            // Stops at random moments until the run ends; a stop that finds the run done ends it.
            for (int lateStops = 0;;) {
                if (!WaitForProgress(engine, random, lateStops) || !engine.StopCalculation())
                    break;
                ++stops;
                if (c.Recut)
                    manager.SetLocalThreadCount(c.Threads);
                engine.StartCalculation(whole, none);
            }
            ASSERT_EQ(engine.Finished.WaitFor(30000), TEvent::wrSignaled) << name;
            ++runs;
            ASSERT_EQ(ImageCodes(parts.image), reference)
                << name << ", run " << runs << ", " << stops << " stops";
        }
        std::printf("  %s thread(s): %d stops in %d runs\n", name.c_str(), stops, runs);
        EXPECT_GE(stops, Stops) << name << ": the runs ended before the stops came";
    }
}

// The anti-aliasing pass over a calculated float-colour layer, on real pieces of the engine whose
// strips reach the image's last column and row: every cell is filtered once, the pixels stay as
// they are, and random stops resume to exactly the cells of an uninterrupted pass.
TEST(ComputeMethodsRun, AntiAliasingPassResumesToTheUninterruptedCells) {
    constexpr int Width = 40, Height = 24, MaxIter = 40;
    const TWatchdog watchdog(60000);
    const TLayerRect whole{0, 0, Width, Height}, none{0, 0, 0, 0};
    TGradientFixture gradient;
    TCalculateManager manager(2);
    TLayerParts parts(Width, Height, MaxIter);
    parts.image.SetColorTable(gradient.Table.get());
    parts.image.Interpolator().Build(*gradient);
    parts.image.SetMode(lmFloatColor);
    TTestEngine engine(manager, parts, dmLinear);
    engine.StartCalculation(whole, none);
    ASSERT_EQ(engine.Finished.WaitFor(30000), TEvent::wrSignaled);
    std::vector<float> pixels(reinterpret_cast<const float *>(parts.image.Pixels()),
                              reinterpret_cast<const float *>(parts.image.Pixels()) + Width * Height * 4);

    TAntiAliasingSettings &settings = engine.AntiAliasing();
    settings.Enabled = true;
    settings.Depth = 2;
    settings.Threshold = 0.05;
    const int cells = (Width - 1) * (Height - 1);
    auto cellsOf = [&] {
        return std::vector<float>(parts.image.AntiAliasBuffer(), parts.image.AntiAliasBuffer() + cells * 4);
    };
    std::mt19937 random(77);
    std::vector<float> reference;
    int stops = 0;
    for (int round = 0; round < 6; ++round) {
        parts.image.UpdateAntiAliasBuffer();
        parts.statistics.Reset(cells, MaxIter);
        parts.statistics.SetSuspended(true);
        engine.ClearPieces();
        engine.Finished.ResetEvent();
        engine.StartCalculation(whole, none);
        for (int lateStops = 0; round > 0 && stops < 200;) {
            if (!WaitForProgress(engine, random, lateStops) || !engine.StopCalculation())
                break;
            ++stops;
            engine.StartCalculation(whole, none);
        }
        ASSERT_EQ(engine.Finished.WaitFor(30000), TEvent::wrSignaled);
        EXPECT_EQ(int(parts.statistics.Counted()), cells) << "every cell once";
        if (round == 0) {
            reference = cellsOf();
        } else {
            ASSERT_EQ(cellsOf(), reference) << "round " << round << ", " << stops << " stops";
        }
    }
    std::printf("  anti-aliasing pass: %d stops\n", stops);
    EXPECT_GT(stops, 0);
    EXPECT_TRUE(
        std::equal(pixels.begin(), pixels.end(), reinterpret_cast<const float *>(parts.image.Pixels())));
    bool varied = false;
    for (int i = 4; i < cells * 4; ++i)
        varied = varied || reference[i] != reference[i % 4];
    EXPECT_TRUE(varied) << "the view shows more than one colour";
}

} // namespace
