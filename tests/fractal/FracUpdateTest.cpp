#include <windows.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "FracWatchdog.h"

#include "FracCalculate.h"
#include "FracCompute.h"
#include "FracLayer.h"
#include "FracUpdate.h"

namespace {

constexpr DWORD Patience = 60000;

// --- TAnimatedCorners -------------------------------------------------------------------------

void ExpectCorners(const TAnimatedCorners &View, const TViewPoint (&Expected)[3], const char *Name) {
    for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(View.GetCorner(i).X, Expected[i].X, 1e-12) << Name << " corner " << i;
        EXPECT_NEAR(View.GetCorner(i).Y, Expected[i].Y, 1e-12) << Name << " corner " << i;
    }
}

TEST(FracUpdate, CornersAtRestAndTheRestTolerance) {
    TAnimatedCorners view(2.0);
    ExpectCorners(view, {{-1, -0.5}, {1, -0.5}, {1, 0.5}}, "rest");
    EXPECT_TRUE(view.IsAtRest());
    view.Translate(0.0009, -0.0009);
    EXPECT_TRUE(view.IsAtRest());
    view.Translate(0.0002, 0);
    EXPECT_FALSE(view.IsAtRest());
    view.Reset();
    view.SetCorner(2, TViewPoint{1, 0.4985});
    EXPECT_FALSE(view.IsAtRest());
}

TEST(FracUpdate, CornerTransformationsAndChangeEvents) {
    struct TCase {
        const char *Name;
        void (*Apply)(TAnimatedCorners &);
        TViewPoint Expected[3]; // from the rest of aspect 2 worked by hand
    } cases[] = {
        {"translate",
         [](TAnimatedCorners &v) { v.Translate(0.25, -0.5); },
         {{-0.75, -1}, {1.25, -1}, {1.25, 0}}},
        {"rotate 90", [](TAnimatedCorners &v) { v.Rotate(M_PI / 2); }, {{0.5, -1}, {0.5, 1}, {-0.5, 1}}},
        {"scale", [](TAnimatedCorners &v) { v.Scale(3); }, {{-3, -1.5}, {3, -1.5}, {3, 1.5}}},
        {"stretch", [](TAnimatedCorners &v) { v.Stretch(0.5); }, {{-0.5, -0.5}, {0.5, -0.5}, {0.5, 0.5}}},
        {"skew 45", [](TAnimatedCorners &v) { v.Skew(M_PI / 4); }, {{-1.5, -0.5}, {0.5, -0.5}, {1.5, 0.5}}},
    };
    struct TCounter {
        int Changes = 0;
        void Changed(TObject *) { ++Changes; }
    };
    for (const TCase &c : cases) {
        TAnimatedCorners view(2.0);
        TCounter counter;
        view.OnChange = MakeNotifyEvent<&TCounter::Changed>(&counter);
        c.Apply(view);
        ExpectCorners(view, c.Expected, c.Name);
        EXPECT_EQ(counter.Changes, 1) << c.Name;
    }
}

// Centre x, y, size, angle, stretch and skew.
void ExpectParts(const TAnimatedCorners &View, const double (&Expected)[6], const char *Name) {
    double parts[6];
    View.Decompose(parts[0], parts[1], parts[2], parts[3], parts[4], parts[5]);
    for (int i = 0; i < 6; ++i)
        EXPECT_NEAR(parts[i], Expected[i], 1e-12) << Name << " part " << i;
}

TEST(FracUpdate, DecomposeGivesBackTheMoveAndInvertUndoesIt) {
    TAnimatedCorners view(1.5);
    view.Scale(0.5);
    view.Translate(0.2, -0.1);
    ExpectParts(view, {0.2, -0.1, 0.5, 0, 1, 0}, "zoom and pan");

    // An animation frame's order of steps; the parts come back (the centre turned with the view).
    TAnimatedCorners frame(1.5);
    frame.Scale(0.8);
    frame.Skew(0.2);
    frame.Stretch(1.25);
    frame.Translate(0.1, 0.05);
    frame.Rotate(0.3);
    ExpectParts(frame,
                {0.1 * std::cos(0.3) - 0.05 * std::sin(0.3), 0.1 * std::sin(0.3) + 0.05 * std::cos(0.3), 0.8,
                 0.3, 1.25, 0.2},
                "frame");

    // Inverting a zoom by 2 centred at (0.2, 0) gives a zoom by 1/2 centred at (-0.1, 0).
    TAnimatedCorners zoom(1.0);
    zoom.Scale(2);
    zoom.Translate(0.2, 0);
    zoom.Invert();
    ExpectCorners(zoom, {{-0.35, -0.25}, {0.15, -0.25}, {0.15, 0.25}}, "inverted");

    // A view squeezed to nothing reports a stretch of 1, not a division by zero.
    TAnimatedCorners flat(1.0);
    flat.Scale(0);
    double cx, cy, size, angle, stretch, skew;
    flat.Decompose(cx, cy, size, angle, stretch, skew);
    EXPECT_EQ(size, 0);
    EXPECT_EQ(stretch, 1);
}

// --- TUpdateManager ---------------------------------------------------------------------------

// A manager whose 300 ms waits run on a clock the test moves, and which says each time it is
// back at its wait (so the test knows a step's work is done).
class TClockedManager : public TUpdateManager {
public:
    using TUpdateManager::TUpdateManager;

    void Advance(std::uint32_t Milliseconds) {
        Parked.ResetEvent();
        Now += Milliseconds;
        Clock.SetEvent();
        ASSERT_EQ(Parked.WaitFor(Patience), TEvent::wrSignaled);
    }
    // Runs Action and waits until the thread is back at its wait.
    template <class TAction> void AndWait(TAction Action) {
        Parked.ResetEvent();
        Action();
        ASSERT_EQ(Parked.WaitFor(Patience), TEvent::wrSignaled);
    }

    std::atomic<std::uint32_t> Now{0};
    TEvent Parked{true, false};
    TEvent Clock{false, false};
    TAnimationOptions Options{2, 100, true, 640, 480}; // animated also with a second layer

protected:
    std::uint32_t WaitForWake(std::uint32_t Timeout) override {
        const std::uint32_t start = Now.load();
        for (;;) {
            if (Timeout != INFINITE && Now.load() - start >= Timeout)
                return TEvent::wrTimeout;
            Parked.SetEvent();
            HANDLE handles[2] = {static_cast<HANDLE>(WakeEvent().Handle()),
                                 static_cast<HANDLE>(Clock.Handle())};
            if (WaitForMultipleObjects(2, handles, FALSE, INFINITE) == WAIT_OBJECT_0)
                return TEvent::wrSignaled;
        }
    }
    TAnimationOptions GetAnimationOptions() const override { return Options; }
};

constexpr std::uint32_t Sentinel = 0x00123456;
constexpr int Side = 8;

// One 8 x 8 layer of codes x + 8y drawn through colour table entries 0x00xxyy, a display bitmap
// of the same size filled with a sentinel, and a started manager on a test clock. The layer's
// construction bracket stays open, so nothing calculates it.
struct TViewFixture {
    TCalculateManager Calculations{1};
    TUpdateRectList UpdateRects;
    TLayerList Layers;
    TCanvasBitmap Bitmap{TBaseBitmap::bmRGB32, 0};
    std::unique_ptr<TClockedManager> Manager;
    TLayer *Layer = nullptr;

    explicit TViewFixture(int BitmapSide = Side) {
        auto layer = std::make_unique<TLayer>(nullptr, &Calculations);
        Layer = layer.get();
        TLayerImage &image = layer->GetImage();
        image.SetMode(lmCode);
        image.SetSize(Side, Side);
        for (int y = 0; y < Side; ++y)
            for (int x = 0; x < Side; ++x) {
                image.SetCode(x, y, x + Side * y);
                layer->GetColorTable()[x + Side * y] = 0xFF000000u | (x << 8) | y;
            }
        layer->GetColorTable()[UncalculatedCode] = 0xFF0000FFu;
        Layers.Add(std::move(layer));
        Bitmap.SetSize(BitmapSide, BitmapSide);
        const std::vector<std::uint32_t> fill(BitmapSide, Sentinel);
        for (int y = 0; y < BitmapSide; ++y)
            Bitmap.WriteRow(0, y, fill.data(), BitmapSide);
        Manager = std::make_unique<TJoinedThread<TClockedManager>>(&UpdateRects, &Bitmap, &Layers);
        Manager->AndWait([&] { Manager->Start(); });
    }
    std::uint32_t Pixel(int X, int Y) const {
        return *reinterpret_cast<const std::uint32_t *>(Bitmap.Bits() + Y * Bitmap.RowBytes() + X * 4) &
               0xFFFFFF;
    }
    int Code(int X, int Y) const {
        return *reinterpret_cast<const std::uint16_t *>(Layer->GetImage().PixelPtr(X, Y));
    }
    void AddUpdateRect(const TLayerRect &R) {
        TScopeLock<TUpdateRectList> lock(UpdateRects);
        UpdateRects.IncludeRect(R);
    }
};

TEST(FracUpdate, OneSecondOfCalculationRefreshesThreeTimesAndOnceAtTheEnd) {
    TViewFixture f;
    TClockedManager &m = *f.Manager;
    m.AndWait([&] { m.CalculationStarted(); });
    EXPECT_EQ(m.GetRefreshCount(), 0);
    for (int step = 1; step <= 10; ++step) { // 100 ms a step, each reporting one row as calculated
        f.AddUpdateRect(TLayerRect{0, step - 1, Side, step});
        m.Advance(100);
        EXPECT_EQ(m.GetRefreshCount(), step / 3) << "after " << step * 100 << " ms";
    }
    EXPECT_EQ(f.Pixel(3, 5), 0x000305u); // rows 0 .. 8 were merged at 900 ms
    EXPECT_EQ(f.Pixel(3, 7), 0x000307u);
    EXPECT_EQ(f.UpdateRects.Count(), 1); // row 9 (outside the bitmap) waits for the next pass
    m.AndWait([&] { m.CalculationFinished(); });
    EXPECT_EQ(m.GetRefreshCount(), 4);
    EXPECT_EQ(f.UpdateRects.Count(), 0);
    // Idle again: no calculation, so the clock wakes nothing.
    m.Advance(1000);
    EXPECT_EQ(m.GetRefreshCount(), 4);
    // An unmatched finish keeps the count at zero: the next start is again the first.
    m.CalculationFinished();
    m.AndWait([&] { m.CalculationStarted(); });
    m.Advance(300);
    EXPECT_EQ(m.GetRefreshCount(), 5);
}

TEST(FracUpdate, InvalidationInsideAnUpdateBracketIsDropped) {
    TViewFixture f;
    TClockedManager &m = *f.Manager;
    m.BeginUpdate();
    m.InvalidateAll();
    m.EndUpdate();
    m.AndWait([&] { m.InvalidateRect(RECT{1, 2, 3, 3}); });
    EXPECT_EQ(m.GetInvalidationRefreshCount(), 1);
    EXPECT_EQ(f.Pixel(1, 2), 0x000102u);
    EXPECT_EQ(f.Pixel(2, 2), 0x000202u);
    EXPECT_EQ(f.Pixel(3, 2), Sentinel); // the bracket's whole-view invalidation left nothing behind
    EXPECT_EQ(f.Pixel(0, 0), Sentinel);
    EXPECT_EQ(f.Pixel(1, 3), Sentinel);
    // Outside a bracket, rectangles add up until the thread takes them.
    m.AndWait([&] { m.InvalidateAll(); });
    EXPECT_EQ(m.GetInvalidationRefreshCount(), 2);
    EXPECT_EQ(f.Pixel(7, 7), 0x000707u);
}

TEST(FracUpdate, ViewOfSizeZeroIsAtRestAndRefreshesNothing) {
    TViewFixture f(0);
    TClockedManager &m = *f.Manager;
    EXPECT_EQ(m.View().GetAspect(), 1.0);
    EXPECT_TRUE(m.View().IsAtRest());
    m.AndWait([&] { m.InvalidateAll(); });
    EXPECT_EQ(m.GetInvalidationRefreshCount(), 0);
    for (auto size : {std::pair{10, 0}, std::pair{0, 10}}) {
        m.SetSize(size.first, size.second);
        EXPECT_EQ(m.View().GetAspect(), 1.0) << size.first << " x " << size.second;
        EXPECT_TRUE(m.View().IsAtRest());
        TAnimatedCorners moved(1.0);
        moved.Scale(0.5);
        m.AnimateCorners(moved, true); // nothing to show; the move is still applied
        EXPECT_TRUE(m.View().IsAtRest());
    }
    m.SetSize(4, 2);
    EXPECT_EQ(m.View().GetAspect(), 2.0);
    EXPECT_EQ(m.GetSnapshotWidth(), 36);
    EXPECT_EQ(m.GetSnapshotHeight(), 18);
}

// Display pixel (x, y) after a move shows layer pixel Source(x, y), or nothing calculated.
struct TMoveCase {
    const char *Name;
    void (*Move)(TAnimatedCorners &);
    bool Animate;
    bool (*Source)(int X, int Y, int &SX, int &SY);
};

TEST(FracUpdate, MovesAreAppliedToEditableLayersOnly) {
    // The image's corners land at x = (u cos A - v sin A + 1/2 + CX) * 8, y = (v cos A + u sin A +
    // 1/2 + CY) * 8 for the image's edges u, v = -1/2 .. 1/2; inverted by hand for each case.
    const TMoveCase cases[] = {
        {"rest", [](TAnimatedCorners &) {}, false,
         [](int x, int y, int &sx, int &sy) { return sx = x, sy = y, true; }},
        {"translate right 2", [](TAnimatedCorners &v) { v.Translate(0.25, 0); }, false,
         [](int x, int y, int &sx, int &sy) { return sx = x - 2, sy = y, x >= 2; }},
        {"translate up 1, animated", [](TAnimatedCorners &v) { v.Translate(0, -0.125); }, true,
         [](int x, int y, int &sx, int &sy) { return sx = x, sy = y + 1, y < 7; }},
        {"rotate 90", [](TAnimatedCorners &v) { v.Rotate(M_PI / 2); }, false,
         [](int x, int y, int &sx, int &sy) { return sx = y, sy = 7 - x, true; }},
        // The image spans -4 .. 12: display centre x + 1/2 samples image (x + 4.5) / 2.
        {"zoom in 2", [](TAnimatedCorners &v) { v.Scale(2); }, false,
         [](int x, int y, int &sx, int &sy) { return sx = (2 * x + 9) / 4, sy = (2 * y + 9) / 4, true; }},
    };
    for (const TMoveCase &c : cases) {
        TViewFixture f;
        TClockedManager &m = *f.Manager;
        auto fixed = std::make_unique<TLayer>(nullptr, &f.Calculations);
        fixed->SetEditable(false);
        fixed->SetVisible(false);
        fixed->GetImage().SetSize(Side, Side);
        fixed->GetImage().SetCode(5, 5, 77);
        TLayer &other = *fixed;
        f.Layers.Add(std::move(fixed));
        TAnimatedCorners target(1.0);
        c.Move(target);
        m.AnimateCorners(target, c.Animate);
        EXPECT_TRUE(m.View().IsAtRest()) << c.Name;
        for (int y = 0; y < Side; ++y)
            for (int x = 0; x < Side; ++x) {
                int sx = 0, sy = 0;
                const int expected = c.Source(x, y, sx, sy) ? sx + Side * sy : UncalculatedCode;
                ASSERT_EQ(f.Code(x, y), expected) << c.Name << " at " << x << ", " << y;
                // The merged view shows the moved pixels.
                ASSERT_EQ(f.Pixel(x, y),
                          expected == UncalculatedCode ? 0x0000FFu : std::uint32_t((sx << 8) | sy))
                    << c.Name << " at " << x << ", " << y;
            }
        EXPECT_EQ(*reinterpret_cast<const std::uint16_t *>(other.GetImage().PixelPtr(5, 5)), 77) << c.Name;
        EXPECT_EQ(*reinterpret_cast<const std::uint16_t *>(other.GetImage().PixelPtr(4, 5)),
                  UncalculatedCode);
    }
}

TEST(FracUpdate, WhenAMoveIsAnimated) {
    struct TCase {
        int Animation;
        int Layers;
        bool LimitSize;
        int MaxWidth;
        bool Editable;
        bool Animated;
    } cases[] = {
        {2, 2, true, 640, true, true},  {1, 1, true, 640, true, true},   {1, 2, true, 640, true, false},
        {0, 1, true, 640, true, false}, {2, 1, true, 160, true, true},   {2, 1, true, 7, true, false},
        {2, 1, false, 7, true, true},   {2, 1, true, 640, false, false},
    };
    struct TDraws {
        int Count = 0;
        void Drawn(TObject *) { ++Count; }
    };
    HDC canvas = CreateCompatibleDC(nullptr);
    ASSERT_NE(canvas, nullptr);
    for (const TCase &c : cases) {
        TViewFixture f;
        f.Layer->SetEditable(c.Editable);
        if (c.Layers == 2)
            f.Layers.Add(std::make_unique<TLayer>(nullptr, &f.Calculations));
        f.Manager->Options = {c.Animation, 100, c.LimitSize, c.MaxWidth, 480};
        f.Bitmap.SetCanvas(canvas);
        TDraws draws;
        f.Bitmap.OnAfterDraw = MakeNotifyEvent<&TDraws::Drawn>(&draws);
        TAnimatedCorners target(1.0);
        target.Scale(2);
        f.Manager->AnimateCorners(target, true);
        // An immediate move draws once, at the end; an animation draws its frames before that.
        EXPECT_EQ(draws.Count > 1, c.Animated) << c.Animation << " " << c.Layers << " " << c.MaxWidth;
        f.Bitmap.OnAfterDraw = TNotifyEvent();
        f.Bitmap.SetCanvas(nullptr);
    }
    DeleteDC(canvas);
}

TEST(FracUpdate, TransformedViewShowsTheMovedImageWithoutChangingIt) {
    TViewFixture f;
    TClockedManager &m = *f.Manager;
    m.View().Translate(0.25, 0);
    EXPECT_TRUE(m.HasSnapshot()); // taken as the view left rest
    m.RefreshRect(RECT{0, 0, Side, Side});
    EXPECT_FALSE(m.HasSnapshot());
    EXPECT_EQ(f.Pixel(0, 3), 0x0000FFu);
    EXPECT_EQ(f.Pixel(2, 3), 0x000003u);
    EXPECT_EQ(f.Pixel(7, 6), 0x000506u);
    EXPECT_EQ(f.Code(7, 6), 7 + Side * 6);
}

TEST(FracUpdate, LayerOfAnotherSizeIsScaledToTheView) {
    for (bool editable : {true, false}) { // resampled through the view, or shown unmoved
        TViewFixture f(2 * Side);
        f.Layer->SetEditable(editable);
        f.Manager->AndWait([&] { f.Manager->InvalidateRect(RECT{0, 0, 1, 1}); });
        for (int y = 0; y < 2 * Side; ++y)
            for (int x = 0; x < 2 * Side; ++x)
                ASSERT_EQ(f.Pixel(x, y), std::uint32_t((x / 2) << 8 | (y / 2)))
                    << "editable " << editable << " at " << x << ", " << y;
    }
}

TEST(FracUpdate, MergedRowsForExport) {
    TViewFixture f;
    std::uint32_t row[Side];
    f.Manager->GetMergedRow(3, row, false);
    std::uint8_t rgb[3 * Side];
    f.Manager->GetMergedRow(5, rgb, true);
    for (int x = 0; x < Side; ++x) {
        EXPECT_EQ(row[x], 0xFF000000u | (x << 8) | 3) << x;
        EXPECT_EQ(rgb[3 * x], 5) << x; // blue, green, red
        EXPECT_EQ(rgb[3 * x + 1], x) << x;
        EXPECT_EQ(rgb[3 * x + 2], 0) << x;
    }
}

TEST(FracUpdate, SnapshotKeepsTheOldViewWhileAGradientIsEdited) {
    TViewFixture f;
    for (int code = 0; code < Side * Side; ++code)
        f.Layer->GetColorTable()[code] = 0xFF336699u;
    TCanvasBitmap thumbnail(TBaseBitmap::bmRGB32, 0);
    auto thumbnailPixel = [&](int X, int Y) {
        return *reinterpret_cast<const std::uint32_t *>(thumbnail.Bits() + Y * thumbnail.RowBytes() + X * 4) &
               0xFFFFFF;
    };
    f.Layer->BeginGradientChange();
    f.Manager->AndWait([&] { f.Manager->InvalidateAll(); });
    EXPECT_EQ(f.Pixel(4, 4), 0x336699u);
    ASSERT_TRUE(f.Manager->HasSnapshot()); // taken before the merge, kept while the edit lasts
    f.Manager->CopyToBitmap(thumbnail);
    ASSERT_EQ(thumbnail.Width(), f.Manager->GetSnapshotWidth());
    ASSERT_EQ(thumbnail.Height(), f.Manager->GetSnapshotHeight());
    ASSERT_GT(thumbnail.Width(), 0);
    EXPECT_EQ(thumbnailPixel(0, 0), Sentinel);
    EXPECT_EQ(thumbnailPixel(thumbnail.Width() - 1, thumbnail.Height() - 1), Sentinel);
    f.Layer->EndGradientChange(false, std::string());
    f.Manager->AndWait([&] { f.Manager->InvalidateRect(RECT{0, 0, 1, 1}); });
    EXPECT_FALSE(f.Manager->HasSnapshot());
    f.Manager->CopyToBitmap(thumbnail); // now stretched from the display bitmap
    EXPECT_EQ(thumbnailPixel(0, 0), 0x336699u);
    EXPECT_EQ(thumbnailPixel(thumbnail.Width() - 1, thumbnail.Height() - 1), 0x336699u);
}

TEST(FracUpdate, FreedCleanlyInsideAnUpdateBracketAndWhileCalculating) {
    // A manager whose thread is never joined would otherwise hold the test program until its
    // time limit.
    TWatchdog watchdog("freeing update managers", 30000);
    {
        TViewFixture f;
        f.Manager->BeginUpdate();
        f.Manager->View().Scale(0.5); // an animation's frame left half done
        f.Manager.reset();
    }
    {
        TViewFixture f;
        f.Manager->AndWait([&] { f.Manager->CalculationStarted(); });
        f.Manager.reset();
    }
    {
        // The production thread on its real 300 ms clock.
        TViewFixture f;
        TUpdateRectList rects;
        std::unique_ptr<TUpdateManager> m = TUpdateManager::Create(&rects, &f.Bitmap, &f.Layers);
        m->CalculationStarted();
        m->InvalidateAll();
        m.reset();
    }
}

} // namespace
