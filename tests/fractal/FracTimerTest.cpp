#include <gtest/gtest.h>

#include <cmath>

#include "FracCalculate.h"
#include "FracLayer.h"
#include "FracTimer.h"

namespace {

constexpr double Second = 1.0 / 86400;

// A timer over a clock and pixel counts that the test sets.
class TTestTimer : public TCalculationTimer {
public:
    double Clock = 1000;
    std::int64_t Done = 0;
    std::int64_t Total = 0;

protected:
    std::int64_t GetDonePixels() override { return Done; }
    std::int64_t GetTotalPixels() override { return Total; }
    double CurrentTime() override { return Clock; }
};

} // namespace

TEST(FracTimer, TimeTextRoundsToHundredthsAndNeverWrapsHours) {
    struct {
        double Days;
        const char *Text;
    } cases[] = {
        {0.0625, "1:30:00.00"},          {25.0 / 24, "25:00:00.00"},
        {Second, "0:00:01.00"},          {0.99999 * Second, "0:00:01.00"},
        {59.996 * Second, "0:01:00.00"}, {3599.994 * Second, "0:59:59.99"},
        {1.25 * Second, "0:00:01.25"},   {0, "0:00:00.00"},
        {-5 * Second, "0:00:00.00"},     {std::nan(""), "0:00:00.00"},
        {1000.0, "24000:00:00.00"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(FormatCalculationTime(c.Days), c.Text) << c.Days;
}

TEST(FracTimer, StartStopResumeAndLoadedTimes) {
    TTestTimer timer;
    timer.Start();
    timer.Clock += 10 * Second;
    EXPECT_NEAR(timer.GetElapsed(), 10 * Second, 1e-12);
    timer.Stop();
    timer.Clock += 100 * Second; // stopped: no time passes
    EXPECT_EQ(timer.GetElapsedText(), "0:00:10.00");
    timer.Resume();
    timer.Clock += 5 * Second;
    EXPECT_EQ(timer.GetElapsedText(), "0:00:15.00");
    timer.Start(); // already running: nothing
    EXPECT_EQ(timer.GetElapsedText(), "0:00:15.00");
    timer.Stop();
    timer.SetElapsed(3600 * Second);
    EXPECT_FALSE(timer.Running());
    EXPECT_EQ(timer.GetElapsedText(), "1:00:00.00");
    timer.Start(); // a new start counts from zero
    timer.Clock += 2 * Second;
    EXPECT_EQ(timer.GetElapsedText(), "0:00:02.00");
}

TEST(FracTimer, ProgressSpeedAndRemainingTime) {
    TTestTimer timer;
    EXPECT_EQ(timer.GetProgress(), 0);
    EXPECT_EQ(timer.GetRemaining(), 0);
    EXPECT_EQ(timer.GetPixelsPerSecond(), 0);
    timer.Total = 1000;
    timer.Start();
    timer.Clock += 20 * Second;
    timer.Done = 250;
    EXPECT_DOUBLE_EQ(timer.GetProgress(), 0.25);
    EXPECT_EQ(timer.GetPercentage(), 25);
    EXPECT_NEAR(timer.GetPixelsPerSecond(), 12.5, 1e-6);
    EXPECT_EQ(timer.GetRemainingText(), "0:01:00.00");
    timer.Done = 1200; // more counted than the total: progress stays at 1, nothing remains
    EXPECT_EQ(timer.GetProgress(), 1);
    EXPECT_EQ(timer.GetRemaining(), 0);
    timer.Done = 5;
    timer.Total = 0;
    EXPECT_EQ(timer.GetProgress(), 0);
}

TEST(FracTimer, FractalTimerSumsTheLayersStatistics) {
    TCalculateManager manager(1);
    TLayerList layers;
    TFractalTimer timer(layers);
    EXPECT_EQ(timer.GetProgress(), 0); // no layers, no pixels
    for (std::uint32_t total : {1000u, 3000u}) {
        auto layer = std::make_unique<TLayer>(nullptr, &manager);
        layer->EndUpdate();
        layer->GetStatistics().Reset(total, 100);
        layers.Add(std::move(layer));
    }
    EXPECT_EQ(timer.GetProgress(), 0);
    for (int i = 0; i < 500; ++i)
        layers.Items(0).GetStatistics().CountPixel();
    for (int i = 0; i < 1500; ++i)
        layers.Items(1).GetStatistics().CountPixel();
    EXPECT_DOUBLE_EQ(timer.GetProgress(), 0.5);
    for (int i = 0; i < 5000; ++i) // counts stop at each layer's total
        layers.Items(1).GetStatistics().CountPixel();
    EXPECT_DOUBLE_EQ(timer.GetProgress(), 3500.0 / 4000);
    for (int i = 0; i < 600; ++i)
        layers.Items(0).GetStatistics().CountPixel();
    EXPECT_EQ(timer.GetProgress(), 1);
    EXPECT_EQ(timer.GetPercentage(), 100);
}
