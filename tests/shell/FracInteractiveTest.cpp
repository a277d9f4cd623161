// The interactive fractal's view operations: pans and zooms against exact decimal references in
// double, extended and arbitrary precision; zooms into and out of a selection box for a table of
// image aspects and box stretches; crops that keep the pixels and the pixel scale of a finished
// image (among them a 640 x 480 image cut to a 640 x 160 strip) and those that cannot; and the edge
// cases of mouse drags.
#include <windows.h>

#include <cmath>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/documents/DocumentTestSupport.h"

#include "FracInteractive.h"
#include "FracMapping.h"
#include "HugeMath.h"

namespace {

std::string ShellDataPath(const std::string &Name) {
    return std::string(TEST_DATA_DIR) + "shell\\data\\" + Name;
}

// |A - B| / Unit of two decimal texts, in 100 digits.
long double Distance(const std::string &A, const std::string &B, long double Unit) {
    THugeFloat a(100), b(100);
    a.SetText(A);
    b.SetText(B);
    a.Subtract(b);
    a.Abs();
    return a.GetExtended() / Unit;
}

class TInteractiveFractalTest : public testing::Test {
protected:
    static void SetUpTestSuite() { Configuration = new TDocumentConfiguration("Alice"); }
    static void TearDownTestSuite() {
        delete Configuration;
        Configuration = nullptr;
    }

    std::unique_ptr<TInteractiveFractal> NewDocument(std::int32_t Width, std::int32_t Height,
                                                     const std::string &Center = "-0.5/0",
                                                     const std::string &Magnification = "1",
                                                     std::int32_t MaxIter = 6) {
        auto document = std::make_unique<TInteractiveFractal>(&Manager, &HistoryManager);
        SetUpMandelbrot(*document, ShellDataPath("FracInteractive_fixtures.ofm"), Width, Height, Center,
                        Magnification, MaxIter);
        document->OnCalculate = MakeNotifyEvent<&TInteractiveFractalTest::CountCalculation>(this);
        return document;
    }
    void CountCalculation(TObject *) { ++Calculations; }

    static TMapping &MappingOf(TCustomFractal &Document, int Layer = 0) {
        return Document.GetLayers().Items(Layer).GetMapping();
    }

    static inline TDocumentConfiguration *Configuration = nullptr;
    THistoryDataManager HistoryManager{"", 1 << 28};
    TCalculateManager Manager{2};
    int Calculations = 0;
};

struct TOracleCase {
    std::string Re, Im, Magnification;
};

// Precision name -> case name -> the reference location (tools/frac_interactive_reference.py).
std::map<std::string, std::map<std::string, TOracleCase>> ReadOracle() {
    std::map<std::string, std::map<std::string, TOracleCase>> oracle;
    std::ifstream file(ShellDataPath("FracInteractive_oracle.txt"));
    std::string precision, name;
    TOracleCase c;
    while (file >> precision >> name >> c.Re >> c.Im >> c.Magnification)
        oracle[precision][name] = c;
    return oracle;
}

} // namespace

TEST_F(TInteractiveFractalTest, PansAndZoomsMatchExactDecimalReferencesInEveryPrecision) {
    const auto oracle = ReadOracle();
    struct TStart {
        const char *Name;
        const char *Center;
        const char *Magnification;
        std::uint8_t Precision;
    };
    const TStart starts[] = {
        {"double", "-0.5/0", "1", 0},
        {"extended", "-0.7436438870371587/0.131825904205312", "1e9", 1},
        {"arbitrary", "-0.743643887037158704752191506114774/0.131825904205311970493132056385139", "1e40", 2},
    };
    struct TOperation {
        const char *Name;
        const char *Caption;
        void (*Run)(TInteractiveFractal &);
    };
    const TOperation operations[] = {
        {"pan", "Pan",
         [](TInteractiveFractal &d) {
             d.BeginDrag(TInteractiveFractal::TDragKind::Pan, POINT{10, 10});
             d.DragTo(POINT{12, 9}, 0);
             d.EndDrag(POINT{15, 7}, 0);
         }},
        {"pan_ctrl", "Pan",
         [](TInteractiveFractal &d) {
             d.BeginDrag(TInteractiveFractal::TDragKind::Pan, POINT{10, 10});
             d.EndDrag(POINT{3, 21}, dsCtrl);
         }},
        {"zoom_keep", "Zoom In",
         [](TInteractiveFractal &d) {
             d.ZoomAt(POINT{7, 5}, 2, false, true, true);
         }},
        {"zoom_centre", "Zoom In",
         [](TInteractiveFractal &d) {
             d.ZoomAt(POINT{20, 3}, 3, false, true, false);
         }},
        {"zoom_out_keep", "Zoom Out",
         [](TInteractiveFractal &d) {
             d.ZoomAt(POINT{25, 18}, 0.25, false, true, true);
         }},
        {"zoom_drag", "Zoom In",
         [](TInteractiveFractal &d) {
             d.BeginDrag(TInteractiveFractal::TDragKind::Zoom, POINT{9, 14});
             d.DragTo(POINT{9, 8}, 0);
             d.EndDrag(POINT{9, 4}, 0);
         }},
    };
    for (const TStart &start : starts) {
        ASSERT_EQ(oracle.count(start.Name), 1u) << start.Name;
        auto document = NewDocument(32, 24, start.Center, start.Magnification, 3);
        // Undo reads the layers anew: the mapping is fetched each time.
        auto mapping = [&]() -> TMapping & { return MappingOf(*document); };
        EXPECT_EQ(document->GetLayers().Items(0).GetPrecision(), start.Precision) << start.Name;
        // One pixel of the 32 x 24 image (not wider than 4:3): 4 / (32 M).
        const long double pixel = 0.125L / FloatTextToExtended(start.Magnification);
        for (const TOperation &operation : operations) {
            const TOracleCase &expected = oracle.at(start.Name).at(operation.Name);
            const int step = document->GetHistory().ItemIndex();
            operation.Run(*document);
            const std::string where = std::string(start.Name) + " " + operation.Name;
            EXPECT_EQ(document->GetHistory().ItemIndex(), step + 1) << where;
            EXPECT_FALSE(document->GetHistory().CanRedo()) << where;
            EXPECT_EQ(document->GetHistory().GetCurrent()->Caption, operation.Caption) << where;
            // The corners come from the mapping's exact coordinates of image points, which carry
            // ten digits beyond the magnification's: a few billionths of a pixel.
            EXPECT_LE(Distance(mapping().Center.Re.GetText(), expected.Re, pixel), 1e-8L)
                << where << ": " << mapping().Center.Re.GetText() << " instead of " << expected.Re;
            EXPECT_LE(Distance(mapping().Center.Im.GetText(), expected.Im, pixel), 1e-8L)
                << where << ": " << mapping().Center.Im.GetText() << " instead of " << expected.Im;
            // Magnifications are kept to 8 significant digits.
            const long double magnification = FloatTextToExtended(expected.Magnification);
            EXPECT_NEAR(mapping().Magnification.GetValue() / magnification, 1.0L, 6e-8L) << where;
            EXPECT_EQ(mapping().Stretch.GetValue(), 1.0L) << where;
            EXPECT_EQ(mapping().Angle.GetValue(), 0.0L) << where;
            EXPECT_EQ(document->GetLayers().Items(0).GetPrecision(), start.Precision) << where;
            // Back to the start for the next operation, through the undo step.
            document->GetHistory().Undo();
            ASSERT_EQ(mapping().Magnification.GetValue(), FloatTextToExtended(start.Magnification)) << where;
        }
        WaitCalculated(*document);
    }
}

TEST_F(TInteractiveFractalTest, SelectionBoxZoomsForAspectsAndStretches) {
    const POINT sizes[] = {{32, 24}, {40, 20}, {24, 32}, {30, 30}, {48, 16}};
    const double stretches[] = {0.5, 0.8, 1, 1.25, 2};
    for (const POINT size : sizes) {
        auto document = NewDocument(size.x, size.y, "-0.5/0.25", "1.5", 3);
        // Undo reads the layers anew: the mapping is fetched each time.
        auto mapping = [&]() -> TMapping & { return MappingOf(*document); };
        const int w = size.x, h = size.y;
        for (const double s : stretches) {
            const std::string where =
                std::to_string(w) + " x " + std::to_string(h) + ", stretch " + std::to_string(s);
            TViewBox box;
            box.CenterX = w / 2 + 3;
            box.CenterY = h / 2 - 2;
            box.HalfHeight = h / 4.0;
            box.Stretch = s;
            const long double pixel = mapping().PixelScale.GetValue();
            const std::string before = document->StateText(TPersistentFractal::UndoWriteFlags);
            TComplexValue boxCenter;
            mapping().PointToLocation(boxCenter, box.CenterX, box.CenterY);

            // Zooming in: the image takes the box's aspect, the box's centre and height fill it.
            document->SelectZoomIn(box, false);
            const int newWidth = s < 1 ? static_cast<int>(std::lround(w * s)) : w;
            const int newHeight = s < 1 ? h : static_cast<int>(std::lround(h / s));
            EXPECT_EQ(document->GetWidth(), newWidth) << where;
            EXPECT_EQ(document->GetHeight(), newHeight) << where;
            EXPECT_NEAR(mapping().PixelScale.GetValue() * newHeight / (2 * box.HalfHeight * pixel), 1.0L,
                        1e-7L)
                << where;
            EXPECT_LE(Distance(mapping().Center.Re.GetText(), boxCenter.Re.GetText(), pixel), 1e-6L) << where;
            EXPECT_LE(Distance(mapping().Center.Im.GetText(), boxCenter.Im.GetText(), pixel), 1e-6L) << where;
            EXPECT_EQ(mapping().Stretch.GetValue(), 1.0L) << where;
            EXPECT_EQ(mapping().Angle.GetValue(), 0.0L) << where;
            EXPECT_EQ(document->GetHistory().GetCurrent()->Caption, "Zoom In") << where;
            document->GetHistory().Undo();
            ASSERT_EQ(document->StateText(TPersistentFractal::UndoWriteFlags), before) << where;

            // Zooming out: the old image's height shrinks to the box's share of the new one.
            document->SelectZoomOut(box, false);
            const int outWidth = s < 1 ? w : static_cast<int>(std::lround(w / s));
            const int outHeight = s < 1 ? static_cast<int>(std::lround(h * s)) : h;
            EXPECT_EQ(document->GetWidth(), outWidth) << where;
            EXPECT_EQ(document->GetHeight(), outHeight) << where;
            EXPECT_NEAR(mapping().PixelScale.GetValue() * outHeight * 2 * box.HalfHeight / (pixel * h * h),
                        1.0L, 1e-7L)
                << where;
            EXPECT_EQ(document->GetHistory().GetCurrent()->Caption, "Zoom Out") << where;
            document->GetHistory().Undo();
            ASSERT_EQ(document->StateText(TPersistentFractal::UndoWriteFlags), before) << where;
        }
        WaitCalculated(*document);
    }
}

TEST_F(TInteractiveFractalTest, CropInsideAFinishedImageKeepsPixelsAndPixelScale) {
    // Locations whose pixel coordinates are exact binary fractions, so that a recalculation must
    // reproduce every kept pixel.
    struct TCase {
        std::int32_t Width, Height;
        RECT Rectangle;
        const char *Magnification;
    };
    const TCase cases[] = {
        {32, 24, {4, 3, 20, 15}, "1"},         // 4:3 to 4:3
        {32, 24, {0, 0, 32, 8}, "1"},          // 4:3 to a wide strip
        {32, 48, {2, 4, 22, 10}, "1"},         // tall to wide
        {640, 480, {0, 160, 640, 320}, "0.8"}, // 640 x 480 to a 640 x 160 strip
    };
    for (const TCase &c : cases) {
        const std::string where = std::to_string(c.Width) + " x " + std::to_string(c.Height);
        auto document = NewDocument(c.Width, c.Height, "-0.5/0", c.Magnification, 6);
        // Undo reads the layers anew: they are fetched each time.
        auto layer = [&]() -> TLayer & { return document->GetLayers().Items(0); };
        auto mapping = [&]() -> TMapping & { return MappingOf(*document); };
        const RECT r = c.Rectangle;
        const std::string whole = LayerPixels(layer());
        const std::string kept = LayerPixels(layer(), r.left, r.top, r.right - r.left, r.bottom - r.top);
        const long double pixel = mapping().PixelScale.GetValue();
        Calculations = 0;

        document->Crop(r);
        ASSERT_EQ(document->GetWidth(), r.right - r.left) << where;
        ASSERT_EQ(document->GetHeight(), r.bottom - r.top) << where;
        EXPECT_EQ(document->GetHistory().GetCurrent()->Caption, "Crop") << where;
        EXPECT_EQ(mapping().PixelScale.GetValue(), pixel) << where;
        WaitCalculated(*document);
        EXPECT_EQ(Calculations, 0) << where << ": the kept pixels were calculated again";
        EXPECT_TRUE(LayerPixels(layer()) == kept) << where;

        // The location agrees with the kept pixels: calculated anew they come out the same.
        layer().Recalculate();
        WaitCalculated(*document);
        EXPECT_GT(Calculations, 0) << where;
        EXPECT_TRUE(LayerPixels(layer()) == kept) << where << ": the location does not match the kept pixels";

        document->GetHistory().Undo();
        EXPECT_EQ(document->GetWidth(), c.Width) << where;
        EXPECT_TRUE(LayerPixels(layer()) == whole) << where;
        EXPECT_EQ(mapping().PixelScale.GetValue(), pixel) << where;
        WaitCalculated(*document);
    }
}

TEST_F(TInteractiveFractalTest, CropsThatCannotKeepPixelsAndSizesOutOfBounds) {
    auto document = NewDocument(32, 24);
    auto layer = [&]() -> TLayer & { return document->GetLayers().Items(0); };
    const long double pixel = MappingOf(*document).PixelScale.GetValue();

    // Reaching beyond the image: the cut image is calculated anew, at the same pixel scale.
    Calculations = 0;
    document->Crop(RECT{-4, -4, 12, 8});
    EXPECT_EQ(document->GetWidth(), 16);
    EXPECT_EQ(document->GetHeight(), 12);
    WaitCalculated(*document);
    EXPECT_GT(Calculations, 0);
    EXPECT_EQ(MappingOf(*document).PixelScale.GetValue(), pixel);
    document->GetHistory().Undo();
    WaitCalculated(*document);

    // While the image calculates: calculated anew as well.
    layer().GetFormula().SetMaxIter(3000);
    ASSERT_TRUE(document->IsCalculating() || !document->IsCalculationDone());
    Calculations = 0;
    document->Crop(RECT{8, 6, 24, 18});
    WaitCalculated(*document);
    EXPECT_GT(Calculations, 0);

    // A rectangle without width or height becomes one pixel.
    document->Crop(RECT{5, 5, 5, 5});
    EXPECT_EQ(document->GetWidth(), 1);
    EXPECT_EQ(document->GetHeight(), 1);
    document->GetHistory().Undo();
    WaitCalculated(*document);

    // Larger than the largest image: refused, nothing changes.
    const int steps = document->GetHistory().GetCount();
    const std::string before = document->StateText(TPersistentFractal::UndoWriteFlags);
    EXPECT_THROW(document->Crop(RECT{0, 0, 5000, 10}), EViewOperationError);
    TViewBox tiny;
    tiny.CenterX = 8;
    tiny.CenterY = 6;
    tiny.HalfHeight = 1000; // a view 166 times the image's height at the same pixel scale
    tiny.Angle = 0.3;
    EXPECT_THROW(document->SelectCrop(tiny), EViewOperationError);
    EXPECT_EQ(document->GetHistory().GetCount(), steps);
    EXPECT_EQ(document->StateText(TPersistentFractal::UndoWriteFlags), before);

    // A box of no height cannot be cropped to; one squeezed to a sliver makes one-pixel sides.
    tiny.HalfHeight = 0;
    EXPECT_THROW(document->SelectCrop(tiny), EViewOperationError);
    ASSERT_EQ(document->GetWidth(), 16);
    ASSERT_EQ(document->GetHeight(), 12);
    TViewBox sliver;
    sliver.CenterX = 8;
    sliver.CenterY = 6;
    sliver.HalfHeight = 3;
    sliver.Stretch = 0.001;
    document->SelectZoomIn(sliver, false);
    EXPECT_EQ(document->GetWidth(), 1);
    EXPECT_EQ(document->GetHeight(), 12);
    EXPECT_GT(MappingOf(*document).Magnification.GetValue(), 0);
    WaitCalculated(*document);
}

TEST_F(TInteractiveFractalTest, TurnedCropKeepsThePixelScale) {
    // Boxes of half the image's height (magnification 2), turned by half a radian: the new image is
    // round(W s / 2) x round(H / 2) pixels, whatever the aspects before and after.
    const struct {
        std::int32_t Width, Height;
        double Stretch;
        std::int32_t NewWidth, NewHeight;
    } cases[] = {{32, 24, 1.25, 20, 12}, {48, 16, 1, 24, 8}, {24, 32, 0.8, 10, 16}, {40, 20, 0.5, 10, 10}};
    for (const auto &c : cases) {
        const std::string where = std::to_string(c.Width) + " x " + std::to_string(c.Height);
        auto document = NewDocument(c.Width, c.Height, "-0.5/0", "1", 3);
        // Undo reads the layers anew: the mapping is fetched each time.
        auto mapping = [&]() -> TMapping & { return MappingOf(*document); };
        const long double pixel = mapping().PixelScale.GetValue();
        TViewBox box;
        box.CenterX = c.Width / 2 + 2;
        box.CenterY = c.Height / 2 - 2;
        box.HalfHeight = c.Height / 4.0;
        box.Stretch = c.Stretch;
        box.Angle = 0.5;
        TComplexValue center;
        mapping().PointToLocation(center, box.CenterX, box.CenterY);
        document->SelectCrop(box);
        EXPECT_EQ(document->GetWidth(), c.NewWidth) << where;
        EXPECT_EQ(document->GetHeight(), c.NewHeight) << where;
        EXPECT_EQ(document->GetHistory().GetCurrent()->Caption, "Crop") << where;
        EXPECT_NEAR(mapping().PixelScale.GetValue() / pixel, 1.0L, 1e-7L) << where;
        EXPECT_LE(Distance(mapping().Center.Re.GetText(), center.Re.GetText(), pixel), 1e-6L) << where;
        EXPECT_LE(Distance(mapping().Center.Im.GetText(), center.Im.GetText(), pixel), 1e-6L) << where;
        EXPECT_NEAR(std::fabs(static_cast<double>(mapping().Angle.GetValue())), 0.5, 1e-9) << where;
        WaitCalculated(*document);
    }
}

TEST_F(TInteractiveFractalTest, EdgeCasesOfMouseDrags) {
    using TKind = TInteractiveFractal::TDragKind;
    auto document = NewDocument(32, 24);
    THistoryList &history = document->GetHistory();

    // Released where they began: each still one undo step.
    const struct {
        TKind Kind;
        const char *Caption;
    } still[] = {{TKind::Pan, "Pan"}, {TKind::Zoom, "Zoom In"}, {TKind::Rotate, "Rotate"}};
    for (const auto &drag : still) {
        const int steps = history.GetCount();
        document->BeginDrag(drag.Kind, POINT{20, 7});
        document->DragTo(POINT{20, 7}, 0);
        document->EndDrag(POINT{20, 7}, 0);
        EXPECT_EQ(history.GetCount(), steps + 1) << drag.Caption;
        EXPECT_EQ(history.GetCurrent()->Caption, drag.Caption);
        EXPECT_EQ(document->GetDragKind(), TKind::None);
    }
    EXPECT_EQ(MappingOf(*document).Magnification.GetValue(), 1.0L);

    // Rotation snaps to 45 degrees with Shift; skewing stops at 81 degrees; Alt compresses.
    document->BeginDrag(TKind::Rotate, POINT{26, 12});
    ASSERT_TRUE(document->DragTransform(POINT{23, 19}, dsShift));
    const double eighths = document->GetRotationAngle() / (std::acos(-1.0) / 4);
    EXPECT_NEAR(eighths, std::round(eighths), 1e-12);
    EXPECT_NE(std::round(eighths), 0);
    document->CancelDrag();
    document->BeginDrag(TKind::Skew, POINT{16, 12});
    for (const POINT p : {POINT{1000, 13}, POINT{-1000, 13}, POINT{1000, 11}, POINT{-1000, 0}}) {
        document->DragTransform(p, 0);
        EXPECT_LE(std::fabs(document->GetSkewAngle()), 0.45 * std::acos(-1.0) + 1e-12);
        EXPECT_GT(std::fabs(document->GetSkewAngle()), 0.4 * std::acos(-1.0));
    }
    document->CancelDrag();
    document->BeginDrag(TKind::Stretch, POINT{16, 12});
    document->DragTransform(POINT{36, 12}, 0);
    const double stretch = document->GetStretchFactor();
    document->DragTransform(POINT{36, 12}, dsAlt);
    EXPECT_DOUBLE_EQ(document->GetStretchFactor(), 1 / stretch);
    EXPECT_DOUBLE_EQ(stretch, std::exp(20.0 / 400));
    const int steps = history.GetCount();
    document->CancelDrag();
    EXPECT_EQ(history.GetCount(), steps);
    EXPECT_TRUE(document->GetUpdateManager().View().IsAtRest());

    // Click zooms: ZoomFactor + 2, ZoomShiftFactor + 2 with Shift.
    TFractalConfiguration &options = *ConfigManager()->Fractal;
    const std::uint8_t savedFactor = options.ZoomFactor, savedShift = options.ZoomShiftFactor;
    options.ZoomFactor = 0;
    options.ZoomShiftFactor = 4;
    const struct {
        bool In;
        TDragShift Shift;
        long double Magnification;
    } clicks[] = {{true, 0, 2}, {true, dsShift, 6}, {false, 0, 0.5L}, {false, dsShift, 1 / 6.0L}};
    for (const auto &click : clicks) {
        if (click.In)
            document->ZoomInAt(POINT{16, 12}, click.Shift);
        else
            document->ZoomOutAt(POINT{16, 12}, click.Shift);
        EXPECT_NEAR(MappingOf(*document).Magnification.GetValue() / click.Magnification, 1.0L, 1e-7L);
        EXPECT_EQ(history.GetCurrent()->Caption, click.In ? "Zoom In" : "Zoom Out");
        history.Undo();
    }
    options.ZoomFactor = savedFactor;
    options.ZoomShiftFactor = savedShift;

    // Layers that are not editable keep their location.
    document->DuplicateLayer("Copy");
    document->GetLayers().Items(1).SetEditable(false);
    const std::string fixed = MappingOf(*document, 1).Center.Re.GetText();
    const std::string moving = MappingOf(*document, 0).Center.Re.GetText();
    document->BeginDrag(TKind::Pan, POINT{10, 10});
    document->EndDrag(POINT{14, 10}, 0);
    EXPECT_EQ(MappingOf(*document, 1).Center.Re.GetText(), fixed);
    EXPECT_NE(MappingOf(*document, 0).Center.Re.GetText(), moving);
    EXPECT_TRUE(document->GetLayers().Items(0).GetShared());
    EXPECT_TRUE(document->GetLayers().Items(1).GetShared());
    WaitCalculated(*document);
}
