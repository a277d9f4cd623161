// The fractal document with its display: a two-layer entry (a compiled formula under a
// transformation, merged by multiply at 60 % over the built-in Mandelbrot) calculated on three
// threads and merged into the image of an independent reference; the update manager's refreshes
// while layers calculate; and the suspensions of the update manager around size and layer-list
// changes, which must stay balanced also when a change of the list fails.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "FracMessageWait.h"
#include "FracWatchdog.h"

#include "CompPersistent.h"
#include "FracCalculate.h"
#include "FracMain.h"
#include "FracMerge.h"

namespace {

constexpr std::int32_t ImageWidth = 64, ImageHeight = 48;

std::string DataPath(const std::string &Name) {
    return std::string(TEST_DATA_DIR) + "fractal\\data\\" + Name;
}

// The entry of the reference image (tools/frac_main_reference.py holds the same values). Both layers
// draw every pixel themselves (method linear) so that no guessed pixel can differ from the
// reference, and neither checks periodicity.
std::string TwoLayerEntry(std::int32_t BottomMaxIter = 80) {
    const std::string formulas = DataPath("FracMain_fixtures.ofm");
    const std::string transforms = DataPath("FracMain_fixtures.oxf");
    return "fractal:\r\n"
           "  title=\"Display\" width=64 height=48 layers=2\r\n"
           "layer:\r\n"
           "  method=linear caption=\"Julia\" opacity=60 mergemode=multiply\r\n"
           "mapping:\r\n"
           "  center=0/0 magn=1 transforms=1\r\n"
           "transform:\r\n"
           "  filename=\"" +
           transforms +
           "\" entry=\"ScaleShift\" p_factor=1.5 p_shift=0.25/-0.125\r\n"
           "formula:\r\n"
           "  maxiter=60 percheck=off filename=\"" +
           formulas +
           "\" entry=\"JuliaQuadratic\" p_seed=-0.4/0.6\r\n"
           "inside:\r\n"
           "  transfer=none\r\n"
           "outside:\r\n"
           "  transfer=linear\r\n"
           "gradient:\r\n"
           "  smooth=no index=0 color=2024965 index=200 color=11804415\r\n"
           "opacity:\r\n"
           "  smooth=no index=0 opacity=255\r\n"
           "layer:\r\n"
           "  method=linear caption=\"Mandelbrot\" opacity=100\r\n"
           "mapping:\r\n"
           "  center=-0.5/0 magn=1\r\n"
           "formula:\r\n"
           "  maxiter=" +
           std::to_string(BottomMaxIter) + " percheck=off filename=\"" + formulas +
           "\" entry=\"Mandelbrot\" p_start=0/0 p_bailout=4\r\n"
           "inside:\r\n"
           "  transfer=none\r\n"
           "outside:\r\n"
           "  transfer=linear\r\n"
           "gradient:\r\n"
           "  smooth=no index=0 color=51450 index=200 color=13132800\r\n"
           "opacity:\r\n"
           "  smooth=no index=0 opacity=255\r\n";
}

void ReadEntry(TCustomFractal &Fractal, const std::string &Body) {
    auto reader = TEntryStream::CreateFromString<TParReader>("Display {\r\n" + Body + "}\r\n");
    Fractal.ReadParameters(*reader, TCustomFractal::rfTakeSize, TFractalProgressEvent());
}

bool CalculationDone(TCustomFractal &Fractal) {
    if (!Fractal.IsCalculationDone())
        return false;
    for (int i = 0; i < Fractal.GetLayers().Count(); ++i)
        if (Fractal.GetLayers().Items(i).GetCalculationState() != csIdle)
            return false;
    return true;
}

// Pixels of the reference as 0xRRGGBB; -1 where the reference leaves a pixel open.
std::vector<std::int32_t> ReadReference() {
    std::ifstream file(DataPath("FracMain_reference.txt"));
    std::vector<std::int32_t> pixels;
    int width = 0, height = 0;
    file >> width >> height;
    EXPECT_EQ(width, ImageWidth);
    EXPECT_EQ(height, ImageHeight);
    std::string token;
    while (file >> token)
        pixels.push_back(token == "------" ? -1 : static_cast<std::int32_t>(std::stoul(token, nullptr, 16)));
    EXPECT_EQ(pixels.size(), static_cast<std::size_t>(ImageWidth * ImageHeight));
    return pixels;
}

// Compares rows of pixels (bytes blue, green, red, with Stride bytes a pixel) with the reference;
// the count of differing pixels, the first few described in Report.
template <class TRow>
int CountDifferences(const std::vector<std::int32_t> &Reference, int Stride, TRow Row, std::string &Report) {
    int differences = 0;
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(ImageWidth) * 4);
    for (int y = 0; y < ImageHeight; ++y) {
        const std::uint8_t *row = Row(y, buffer.data());
        for (int x = 0; x < ImageWidth; ++x) {
            const std::int32_t expected = Reference[static_cast<std::size_t>(y * ImageWidth + x)];
            if (expected < 0)
                continue;
            const std::uint8_t *pixel = row + x * Stride;
            const std::int32_t actual = pixel[2] << 16 | pixel[1] << 8 | pixel[0];
            if (actual != expected && ++differences <= 5) {
                char text[80];
                std::snprintf(text, sizeof text, " (%d, %d): %06x, expected %06x;", x, y,
                              static_cast<unsigned>(actual), static_cast<unsigned>(expected));
                Report += text;
            }
        }
    }
    return differences;
}

class TFractalDisplayTest : public testing::Test {
protected:
    // The program fills the merge tables when its modules start; a test program has no module list.
    static void SetUpTestSuite() { InitMergeTables(); }

    TCalculateManager Manager{3};
};

} // namespace

namespace {

// A document that says whenever its count of calculating layers falls to 0.
class TSignallingFractal : public TFractal {
public:
    using TFractal::TFractal;
    TEvent Ended{true, false};

protected:
    void CalculationFinished(TObject *Sender) override {
        TFractal::CalculationFinished(Sender);
        if (!IsCalculating())
            Ended.SetEvent();
    }
};

} // namespace

// A render job, a preview or a server makes its document on a thread of its own that runs no
// message loop: there the document sees its layers finish, the merged rows are the picture, and
// the document is freed.
TEST_F(TFractalDisplayTest, ADocumentOnAThreadWithoutAMessageLoopFinishesAndIsFreed) {
    bool finished = false;
    std::string failure;
    std::vector<std::vector<std::uint8_t>> rows;
    {
        TWatchdog watchdog("a document made, calculated and freed on a worker thread", 180000);
        std::thread job([&] {
            try {
                TSignallingFractal fractal(&Manager);
                ReadEntry(fractal, TwoLayerEntry());
                const DWORD start = GetTickCount();
                for (;;) {
                    fractal.Ended.ResetEvent();
                    if (CalculationDone(fractal)) {
                        finished = true;
                        break;
                    }
                    if (GetTickCount() - start > 60000)
                        break;
                    fractal.Ended.WaitFor(60000);
                }
                for (int y = 0; finished && y < ImageHeight; ++y) {
                    rows.emplace_back(static_cast<std::size_t>(ImageWidth) * 4);
                    fractal.GetUpdateManager().GetMergedRow(y, rows.back().data(), true);
                }
            } catch (const std::exception &E) {
                failure = E.what();
            }
        });
        job.join();
    }
    EXPECT_EQ(failure, "");
    ASSERT_TRUE(finished) << "the document still counts a layer as calculating";
    std::string report;
    const int differences = CountDifferences(
        ReadReference(), 3, [&](int y, std::uint8_t *) { return rows[static_cast<std::size_t>(y)].data(); },
        report);
    EXPECT_EQ(differences, 0) << "merged rows differ:" << report;
}

TEST_F(TFractalDisplayTest, TwoLayerEntryCalculatesToTheReferenceImage) {
    TFractal fractal(&Manager);
    ReadEntry(fractal, TwoLayerEntry());
    ASSERT_EQ(fractal.GetLayers().Count(), 2);
    const TLayer &top = fractal.GetLayers().Items(0);
    EXPECT_EQ(top.GetMergeMode(), MergeModeFromName("multiply"));
    EXPECT_EQ(top.GetOpacity(), 60);
    EXPECT_EQ(top.GetMapping().GetTransformations().GetCount(), 1);
    EXPECT_FALSE(top.GetFormula().GetHasError());
    EXPECT_EQ(fractal.GetLayers().Items(1).GetOpacity(), 100);
    // The display follows the size the entry brought.
    EXPECT_EQ(fractal.GetBitmap().Width(), ImageWidth);
    EXPECT_EQ(fractal.GetBitmap().Height(), ImageHeight);
    EXPECT_EQ(fractal.GetUpdateManager().Width(), ImageWidth);

    ASSERT_TRUE(WaitUntil([&] { return CalculationDone(fractal); }));
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(fractal.GetLayers().Items(i).GetCalculationError(), "") << i;

    const std::vector<std::int32_t> reference = ReadReference();
    ASSERT_EQ(reference.size(), static_cast<std::size_t>(ImageWidth * ImageHeight));
    TUpdateManager &display = fractal.GetUpdateManager();
    std::string report;
    const int merged = CountDifferences(
        reference, 3,
        [&](int y, std::uint8_t *buffer) {
            display.GetMergedRow(y, buffer, true);
            return buffer;
        },
        report);
    EXPECT_EQ(merged, 0) << "merged rows differ:" << report;

    // The display bitmap: after a merge of the whole view it shows the same picture.
    const int invalidations = display.GetInvalidationRefreshCount();
    display.InvalidateAll();
    ASSERT_TRUE(WaitUntil([&] { return display.GetInvalidationRefreshCount() > invalidations; }));
    const TDirectBitmap &bitmap = fractal.GetBitmap();
    if (bitmap.Mode() == TBaseBitmap::bmRGB32) {
        report.clear();
        const int shown = CountDifferences(
            reference, 4,
            [&](int y, std::uint8_t *) {
                return static_cast<const std::uint8_t *>(bitmap.Bits() + y * bitmap.RowBytes());
            },
            report);
        EXPECT_EQ(shown, 0) << "bitmap differs:" << report;
    }

    // A change of the document repaints the display: with the top layer hidden, the bitmap shows
    // the bottom layer alone.
    const int before = display.GetInvalidationRefreshCount();
    fractal.GetLayers().Items(0).SetVisible(false);
    ASSERT_TRUE(WaitUntil([&] { return display.GetInvalidationRefreshCount() > before; }, 60000));
    if (bitmap.Mode() == TBaseBitmap::bmRGB32) {
        std::vector<std::uint8_t> row(static_cast<std::size_t>(ImageWidth) * 4);
        int stale = 0;
        for (int y = 0; y < ImageHeight; ++y) {
            display.GetMergedRow(y, row.data(), false);
            const std::uint8_t *shown = bitmap.Bits() + y * bitmap.RowBytes();
            for (int x = 0; x < ImageWidth * 4; x += 4)
                stale += shown[x] != row[x] || shown[x + 1] != row[x + 1] || shown[x + 2] != row[x + 2];
        }
        EXPECT_EQ(stale, 0);
        report.clear();
        EXPECT_GT(CountDifferences(
                      reference, 4,
                      [&](int y, std::uint8_t *) {
                          return static_cast<const std::uint8_t *>(bitmap.Bits() + y * bitmap.RowBytes());
                      },
                      report),
                  0);
    }
}

TEST_F(TFractalDisplayTest, DisplayRefreshesWhileLayersCalculateAndOnceAtTheEnd) {
    // The bottom layer's inside pixels cost maxiter steps each. A calculation too short to outlast
    // one 300 ms wait of the update thread shows no periodic refresh, so the work grows until one
    // is seen while the layers still calculate; the bounds then follow from the measured duration.
    for (std::int32_t maxIter = 4000;; maxIter *= 4) {
        SCOPED_TRACE(testing::Message() << "maxiter " << maxIter);
        TFractal fractal(&Manager);
        TUpdateManager &display = fractal.GetUpdateManager();
        const DWORD start = GetTickCount();
        ReadEntry(fractal, TwoLayerEntry(maxIter));
        int seenWhileCalculating = 0;
        // Both layers start inside the reading bracket, and their ends reach this thread only
        // through the messages dispatched here: a count read while the document still calculates
        // holds periodic refreshes only.
        ASSERT_TRUE(WaitUntil([&] {
            if (fractal.IsCalculating())
                seenWhileCalculating = display.GetRefreshCount();
            return CalculationDone(fractal);
        }));
        const DWORD duration = GetTickCount() - start;
        if (seenWhileCalculating == 0 && maxIter < 4000 * 256)
            continue;
        EXPECT_GE(seenWhileCalculating, 1) << duration << " ms";
        // The end brings one more pass over the rectangles left.
        ASSERT_TRUE(WaitUntil([&] { return display.GetRefreshCount() > seenWhileCalculating; }));
        const int refreshes = display.GetRefreshCount();
        // At most one periodic pass per 300 ms of calculation, plus one begun before the start
        // was counted, plus the final one.
        EXPECT_LE(refreshes, static_cast<int>(duration / 300) + 2) << duration << " ms";
        // With nothing calculating, the thread waits until asked: no pass follows within more than
        // two of the periods of a manager that still counted a calculation.
        EXPECT_FALSE(WaitUntil([&] { return display.GetRefreshCount() != refreshes; }, 700));
        // Asked, it merges the invalidated view, and that is no pass over calculated rectangles.
        const int invalidations = display.GetInvalidationRefreshCount();
        display.InvalidateAll();
        ASSERT_TRUE(WaitUntil([&] { return display.GetInvalidationRefreshCount() > invalidations; }));
        EXPECT_EQ(display.GetRefreshCount(), refreshes);
        break;
    }
}

namespace {

// A document whose own change handler can change the layer list once more, inside the list's
// report of a change.
struct TNestedChange {
    TFractal *Fractal = nullptr;
    bool Armed = false;
    void Changed(TObject *) {
        if (!Armed)
            return;
        Armed = false;
        Fractal->GetLayers().Move(0, 1);
    }
};

void RefuseAdd(TObject *, int) {
    throw std::runtime_error("refused");
}

struct TRefuser {
    void Add(TObject *Sender, int Index) { RefuseAdd(Sender, Index); }
};

// True when an invalidation reaches the update thread, that is, when the manager is not suspended
// (a suspended manager drops invalidations).
bool DisplayResponds(TFractal &Fractal) {
    TUpdateManager &display = Fractal.GetUpdateManager();
    const int before = display.GetInvalidationRefreshCount();
    display.InvalidateAll();
    return WaitUntil([&] { return display.GetInvalidationRefreshCount() > before; }, 60000);
}

} // namespace

TEST_F(TFractalDisplayTest, SuspensionsStayBalancedAroundSizeAndLayerListChanges) {
    TFractal fractal(&Manager);
    // Inside the document's bracket no layer calculates.
    fractal.BeginChange();
    fractal.SetImageSize(40, 30);
    EXPECT_EQ(fractal.GetBitmap().Width(), 40);
    EXPECT_EQ(fractal.GetBitmap().Height(), 30);
    EXPECT_EQ(fractal.GetUpdateManager().Width(), 40);
    EXPECT_EQ(fractal.GetUpdateManager().Height(), 30);
    EXPECT_EQ(fractal.GetLayers().Items(0).GetWidth(), 40);
    ASSERT_TRUE(DisplayResponds(fractal)) << "after a size change";

    TLayerList &layers = fractal.GetLayers();
    fractal.DuplicateLayer("Second");
    fractal.DuplicateLayer("Third");
    ASSERT_EQ(layers.Count(), 3);
    ASSERT_TRUE(DisplayResponds(fractal)) << "after insertions";

    // Nested updates of the list: one announcement, one report.
    layers.BeginUpdate();
    layers.BeginUpdate();
    layers.Move(0, 2);
    layers.Move(1, 0);
    layers.EndUpdate();
    layers.EndUpdate();
    ASSERT_TRUE(DisplayResponds(fractal)) << "after nested list updates";

    // A change of the list made from inside the document's report of the previous one.
    TNestedChange nested{&fractal, true};
    fractal.OnChange = MakeNotifyEvent<&TNestedChange::Changed>(&nested);
    fractal.EndChange(); // commits: the nested move runs inside the report
    fractal.BeginChange();
    layers.Move(2, 0);
    EXPECT_FALSE(nested.Armed);
    fractal.OnChange = TNotifyEvent();
    ASSERT_TRUE(DisplayResponds(fractal)) << "after a change nested in a report";

    // A change of the list that fails after its announcement, inside an update of the list that
    // then ends without a report: the next change of the list ends the suspension, and only once.
    TRefuser refuser;
    layers.OnAdd = MakeEvent<&TRefuser::Add>(&refuser);
    layers.BeginUpdate();
    EXPECT_THROW(fractal.DuplicateLayer("Refused"), std::runtime_error);
    layers.EndUpdate();
    layers.OnAdd = TLayerIndexEvent();
    EXPECT_EQ(layers.Count(), 3);
    fractal.DuplicateLayer("Accepted");
    EXPECT_EQ(layers.Count(), 4);
    ASSERT_TRUE(DisplayResponds(fractal)) << "after a failed change of the list";
    layers.Delete(0);
    ASSERT_TRUE(DisplayResponds(fractal)) << "after a deletion";
    fractal.EndChange();
}

TEST_F(TFractalDisplayTest, FreedWhileItsLayersCalculate) {
    // The calculation threads are stopped before the update manager goes, and its thread before
    // the layers go; nothing may wait for ever or touch freed memory.
    for (int wait : {0, 1}) {
        auto fractal = std::make_unique<TFractal>(&Manager);
        ReadEntry(*fractal, TwoLayerEntry(4000));
        if (wait) {
            ASSERT_TRUE(WaitUntil([&] {
                return fractal->GetUpdateManager().GetRefreshCount() > 0 || CalculationDone(*fractal);
            }));
        }
        fractal.reset();
    }
    // The manager serves the next document.
    TFractal next(&Manager);
    ReadEntry(next, TwoLayerEntry());
    EXPECT_TRUE(WaitUntil([&] { return CalculationDone(next); }));
}
