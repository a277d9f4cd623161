// The eyedropper with stand-ins for the fractal window, the gradient editor and its curves:
// previews, picks, leaving every target, cancelling, an owner destroyed mid-pick, and pixel reads
// of a display bitmap under its lock.
#include <windows.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "../WindowTestSupport.h"
#include "CompValues.h"
#include "GenBitmap.h"
#include "GenEyedrop.h"

using namespace window_test;

namespace {

class EyedropEnvironment : public testing::Environment {
public:
    void TearDown() override { FinalizeEyedropper(); }
};

const auto *const Environment = testing::AddGlobalTestEnvironment(new EyedropEnvironment);

// A fractal window: a display panel over a 32-bit display bitmap; the location of (X, Y) is
// (X, -Y), and pixel (X, Y) has red X, green Y and blue 7.
class FakeFractalForm : public TForm, public TEyedropFractalTarget {
public:
    explicit FakeFractalForm(TComponent *AOwner) : TForm(AOwner), Bitmap(TBaseBitmap::bmRGB32, 0) {
        SetBounds(480, 40, 200, 160);
        Display = new TPanel(this);
        Display->SetParent(this);
        Display->SetBounds(10, 10, 64, 48);
        Bitmap.SetSize(64, 48);
        std::vector<std::uint32_t> row(64);
        for (int y = 0; y < 48; ++y) {
            for (int x = 0; x < 64; ++x)
                row[x] = static_cast<std::uint32_t>(x) << 16 | static_cast<std::uint32_t>(y) << 8 | 7;
            Bitmap.WriteRow(0, y, row.data(), 64);
        }
    }
    TControl *EyedropDisplay() override { return Display; }
    bool EyedropLocation(int X, int Y, TComplexValue &Location) override {
        Location.SetText(std::to_string(X), std::to_string(-Y));
        return true;
    }
    TBaseBitmap *EyedropBitmap() override { return &Bitmap; }
    TPanel *Display = nullptr;
    TBaseBitmap Bitmap;
};

class FakeCurve : public TPanel, public TEyedropCurveTarget {
public:
    using TPanel::TPanel;
    TColor ColorAt(TPoint Point) override { return static_cast<TColor>(0x010000 * Point.X + Tag()); }
};

class FakeGradientForm : public TForm, public TEyedropGradientTarget {
public:
    explicit FakeGradientForm(TComponent *AOwner) : TForm(AOwner) {
        SetBounds(480, 260, 300, 120);
        for (int i = 0; i < CurveCount; ++i) {
            Curves[i] = new FakeCurve(this);
            Curves[i]->SetParent(this);
            Curves[i]->SetBounds(4 + 40 * i, 4, 36, 60);
            Curves[i]->SetTag(i);
        }
    }
    TControl *GetCurve(int Index) override { return Curves[Index]; }
    FakeCurve *Curves[CurveCount] = {};
};

struct Report {
    uint8_t Action;
    std::string Text; // the location "re/im", or the colour in hex
};

struct PickWatcher {
    std::vector<Report> Reports;
    void Location(uint8_t Action, const TComplexValue *Value) {
        Reports.push_back({Action, Value ? Value->Re.GetText() + "/" + Value->Im.GetText() : ""});
    }
    void Color(uint8_t Action, TColor Color) {
        char text[16];
        snprintf(text, sizeof(text), "%06X", static_cast<unsigned>(Color));
        Reports.push_back({Action, text});
    }
    TEyedropLocationEvent LocationEvent() { return MakeEvent<&PickWatcher::Location>(this); }
    TEyedropColorEvent ColorEvent() { return MakeEvent<&PickWatcher::Color>(this); }
};

class EyedropperTest : public HostFormTest {
protected:
    void SetUp() override {
        HostFormTest::SetUp();
        Fractal = new FakeFractalForm(nullptr);
        Fractal->Show();
        Gradient = new FakeGradientForm(nullptr);
        Gradient->Show();
        PumpPending();
    }
    void TearDown() override {
        Eyedropper().Cancel();
        delete Gradient;
        delete Fractal;
        HostFormTest::TearDown();
    }
    static TPoint Desktop() { return {Screen->Width() - 8, Screen->Height() - 8}; }
    static TPoint CentreOf(TControl &Control) {
        return Control.ClientToScreen({Control.Width() / 2, Control.Height() / 2});
    }
    static void PumpFor(DWORD Ms) {
        PumpUntil([] { return false; }, Ms);
    }
    FakeFractalForm *Fractal = nullptr;
    FakeGradientForm *Gradient = nullptr;
};

TEST_F(EyedropperTest, LocationPickPreviewsReportsLeavingPromptlyAndPicks) {
    PickWatcher watcher;
    TEyedropper &dropper = Eyedropper();
    ASSERT_TRUE(MovePointer(CentreOf(*Fractal->Display)));
    dropper.StartLocation(Form, watcher.LocationEvent());
    EXPECT_EQ(dropper.Mode(), TEyedropper::emLocation);
    EXPECT_EQ(dropper.PickOwner(), Form);

    dropper.PickAt(Fractal, 10, 20, false);
    ASSERT_EQ(watcher.Reports.size(), 1u);
    EXPECT_EQ(watcher.Reports[0].Action, eaPreview);
    EXPECT_EQ(watcher.Reports[0].Text, "10/-20");
    EXPECT_TRUE(dropper.TimerRunning());
    // Over the display the ticks report nothing.
    PumpFor(4 * TEyedropper::TimerInterval);
    EXPECT_EQ(watcher.Reports.size(), 1u);

    // On the desktop the next tick says the pointer left every target, and the pick stays open.
    ASSERT_TRUE(MovePointer(Desktop()));
    ASSERT_TRUE(PumpUntil([&] { return watcher.Reports.size() == 2; }, 1500));
    EXPECT_EQ(watcher.Reports[1].Action, eaLeft);
    EXPECT_EQ(watcher.Reports[1].Text, "");
    EXPECT_FALSE(dropper.TimerRunning());
    EXPECT_EQ(dropper.Mode(), TEyedropper::emLocation);

    // Back over the display (here reported by the display itself): previews again, then the pick.
    ASSERT_TRUE(MovePointer(CentreOf(*Fractal->Display)));
    dropper.PickAt(Fractal->Display, 3, 4, false);
    dropper.PickAt(Fractal->Display, 5, 6, true);
    ASSERT_EQ(watcher.Reports.size(), 4u);
    EXPECT_EQ(watcher.Reports[2].Action, eaPreview);
    EXPECT_EQ(watcher.Reports[3].Action, eaPicked);
    EXPECT_EQ(watcher.Reports[3].Text, "5/-6");
    EXPECT_FALSE(dropper.IsActive());
    EXPECT_EQ(dropper.PickOwner(), nullptr);
    // A finished pick hears nothing more.
    dropper.PickAt(Fractal, 1, 1, true);
    dropper.Cancel();
    EXPECT_EQ(watcher.Reports.size(), 4u);
}

TEST_F(EyedropperTest, ColorPickReadsTheDisplayBitmapAndTheCurvesAndAStartCancelsThePickUnderWay) {
    PickWatcher location, color;
    TEyedropper &dropper = Eyedropper();
    dropper.StartLocation(Form, location.LocationEvent());
    dropper.StartColor(Form, color.ColorEvent());
    ASSERT_EQ(location.Reports.size(), 1u);
    EXPECT_EQ(location.Reports[0].Action, eaCancelled);
    EXPECT_EQ(dropper.Mode(), TEyedropper::emColor);

    dropper.PickAt(Fractal, 0x21, 0x12, false); // pixel: red 0x21, green 0x12, blue 7
    dropper.PickAt(Fractal, 64, 0, false);      // outside the bitmap: no preview
    dropper.PickAt(Form, 5, 5, false);          // not a target
    dropper.PickAt(Gradient->Curves[3], 0x40, 9, false);
    ASSERT_EQ(color.Reports.size(), 2u);
    EXPECT_EQ(color.Reports[0].Action, eaPreview);
    EXPECT_EQ(color.Reports[0].Text, "071221");
    EXPECT_EQ(color.Reports[1].Text, "400003");

    // The curves are targets for the ticks; the rest of the gradient window is not.
    EXPECT_TRUE(dropper.PointOnTarget(CentreOf(*Gradient->Curves[6])));
    EXPECT_FALSE(dropper.PointOnTarget(Gradient->ClientToScreen({Gradient->ClientWidth() - 3, 100})));
    EXPECT_TRUE(dropper.PointOnTarget(CentreOf(*Fractal->Display)));
    EXPECT_FALSE(dropper.PointOnTarget(Fractal->ClientToScreen({Fractal->ClientWidth() - 3, 2})));
    EXPECT_FALSE(dropper.PointOnTarget(Desktop()));

    dropper.PickAt(Gradient->Curves[0], 2, 9, true);
    ASSERT_EQ(color.Reports.size(), 3u);
    EXPECT_EQ(color.Reports[2].Action, eaPicked);
    EXPECT_EQ(color.Reports[2].Text, "020000");
    EXPECT_FALSE(dropper.IsActive());
}

TEST_F(EyedropperTest, DestroyingThePicksOwnerEndsItWithNoCall) {
    for (bool colorPick : {false, true}) {
        SCOPED_TRACE(colorPick ? "colour pick" : "location pick");
        PickWatcher watcher;
        TEyedropper &dropper = Eyedropper();
        auto *owner = new TPanel(Form);
        owner->SetParent(Form);
        if (colorPick)
            dropper.StartColor(owner, watcher.ColorEvent());
        else
            dropper.StartLocation(owner, watcher.LocationEvent());
        dropper.PickAt(Fractal, 1, 2, false);
        ASSERT_EQ(watcher.Reports.size(), 1u);
        ASSERT_TRUE(dropper.TimerRunning());
        ASSERT_TRUE(MovePointer(Desktop()));

        delete owner;
        EXPECT_FALSE(dropper.IsActive());
        EXPECT_FALSE(dropper.TimerRunning());
        EXPECT_EQ(dropper.PickOwner(), nullptr);
        PumpFor(3 * TEyedropper::TimerInterval);
        dropper.PickAt(Fractal, 3, 4, true);
        dropper.Cancel();
        EXPECT_EQ(watcher.Reports.size(), 1u);
    }
}

TEST(ReadDisplayPixelTest, ReadsUnderTheBitmapsLockAndRefusesInvalidReads) {
    TBaseBitmap bitmap(TBaseBitmap::bmRGB32, 0);
    TColor color = 0;
    EXPECT_FALSE(ReadDisplayPixel(bitmap, 0, 0, color)); // no section yet
    bitmap.SetSize(8, 4);
    const std::uint32_t first[1] = {0x00112233};
    bitmap.WriteRow(2, 1, first, 1);
    ASSERT_TRUE(ReadDisplayPixel(bitmap, 2, 1, color));
    EXPECT_EQ(color, 0x332211u);
    for (TPoint outside : {TPoint{-1, 0}, TPoint{8, 0}, TPoint{0, 4}, TPoint{0, -1}})
        EXPECT_FALSE(ReadDisplayPixel(bitmap, outside.X, outside.Y, color));

    // Another thread holds the lock and changes the pixel: the read waits for it and sees the
    // change.
    HANDLE locked = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE readDone = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD waited = 0;
    std::thread holder([&] {
        bitmap.Lock();
        SetEvent(locked);
        waited = WaitForSingleObject(readDone, 300); // a read that ignores the lock ends now
        const std::uint32_t second[1] = {0x00445566};
        bitmap.WriteRow(2, 1, second, 1);
        bitmap.Unlock();
    });
    ASSERT_EQ(WaitForSingleObject(locked, 10000), WAIT_OBJECT_0);
    TColor read = 0;
    bool ok = false;
    std::thread reader([&] {
        ok = ReadDisplayPixel(bitmap, 2, 1, read);
        SetEvent(readDone);
    });
    reader.join();
    holder.join();
    EXPECT_EQ(waited, static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_TRUE(ok);
    EXPECT_EQ(read, 0x665544u);
    CloseHandle(locked);
    CloseHandle(readDone);
}

// A part edit as the complex edits give it: a text and an eyedropping flag.
struct PartEdit {
    std::string Text;
    bool Eyedropping = false;
    void SetText(const std::string &Value) { Text = Value; }
    void SetEyedropping(bool Value) { Eyedropping = Value; }
};

TEST(EyedropperShowTest, StandardHandlingOfLocationAndColourPicks) {
    TComplexValue value, old;
    value.SetText("1.5", "-2");
    old.SetText("0", "3");
    struct Case {
        uint8_t Action;
        const char *Re, *Im;
        bool Eyedropping;
    };
    const Case cases[] = {
        {eaPreview, "1.5", "-2", true}, {eaLeft, "0", "3", true}, {eaCancelled, "0", "3", false}};
    for (const Case &c : cases) {
        PartEdit re, im;
        EyedropperShowLocation(c.Action, &re, &im, &value, &old);
        EXPECT_EQ(re.Text, c.Re);
        EXPECT_EQ(im.Text, c.Im);
        EXPECT_EQ(re.Eyedropping, c.Eyedropping);
        EXPECT_EQ(im.Eyedropping, c.Eyedropping);
    }
    PartEdit re{"x", true}, im{"y", true};
    EyedropperShowLocation(eaPicked, &re, &im, &value, &old);
    EXPECT_EQ(old.Re.GetText() + "/" + old.Im.GetText(), "1.5/-2");
    EXPECT_EQ(re.Text, "x");
    EXPECT_FALSE(re.Eyedropping);

    TColorSelector selector(nullptr);
    selector.SetSelection(0x102030, 128);
    selector.SetEyedropping(true);
    EyedropperShowColor(eaPreview, &selector, 0xABCDEF, 0x102030);
    EXPECT_EQ(selector.SelectedColor(), 0xABCDEFu);
    EXPECT_EQ(selector.SelectedOpacity(), 128);
    EXPECT_TRUE(selector.Eyedropping());
    EyedropperShowColor(eaCancelled, &selector, 0xABCDEF, 0x102030);
    EXPECT_EQ(selector.SelectedColor(), 0x102030u);
    EXPECT_FALSE(selector.Eyedropping());
    EyedropperShowColor(eaPicked, &selector, 0x445566, 0x102030);
    EXPECT_EQ(selector.SelectedColor(), 0x102030u); // the owner stores the pick
}

} // namespace
