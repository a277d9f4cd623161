// The track bar: thumb geometry, positions from pointer presses, limits and degenerate sizes.
#include <windows.h>

#include <gtest/gtest.h>

#include "../WindowTestSupport.h"
#include "TrackBar.h"

using namespace window_test;

namespace {

class TrackBarEnvironment : public testing::Environment {
public:
    void TearDown() override { FinalizeTrackBar(); }
};

const auto *const Environment = testing::AddGlobalTestEnvironment(new TrackBarEnvironment);

struct ChangeWatcher {
    int Changes = 0;
    RECT Interior = {};
    void Changed(TObject *) { ++Changes; }
    void PaintInterior(TObject *, TCanvas &Canvas, const RECT &Rect) {
        Interior = Rect;
        Canvas.Brush().SetColor(clRed);
        Canvas.FillRect(Rect);
    }
};

class TrackBarTest : public HostFormTest {
protected:
    void SetUp() override {
        HostFormTest::SetUp();
        Bar = new TAdvTrackBar(Form);
        Bar->SetParent(Form);
        Bar->SetLeft(20);
        Bar->SetTop(30);
        Bar->SetColor(clYellow);
        Bar->OnChange = MakeNotifyEvent<&ChangeWatcher::Changed>(&Watcher);
    }
    void Press(int X, WPARAM Keys = MK_LBUTTON) {
        SendMessageA(Form->Handle(), WM_LBUTTONDOWN, Keys, MAKELPARAM(Bar->Left() + X, Bar->Top() + 8));
        SendMessageA(Form->Handle(), WM_LBUTTONUP, 0, MAKELPARAM(Bar->Left() + X, Bar->Top() + 8));
    }
    TAdvTrackBar *Bar;
    ChangeWatcher Watcher;
};

TEST_F(TrackBarTest, ThumbIsDrawnAtItsPositionOverTheOwnersInterior) {
    ASSERT_EQ(Bar->Width(), 65);
    ASSERT_EQ(Bar->Height(), 17);
    Bar->OnPaintInterior = MakeEvent<&ChangeWatcher::PaintInterior>(&Watcher);
    COLORREF highlight = GetSysColor(COLOR_BTNHIGHLIGHT), shadow = GetSysColor(COLOR_BTNSHADOW);
    struct Case {
        int Position, ThumbX;
    } cases[] = {{50, 32}, {0, 4}, {100, 60}, {25, 18}};
    TBitmap image;
    for (const Case &c : cases) {
        Bar->SetPosition(c.Position);
        EXPECT_EQ(Bar->ThumbX(), c.ThumbX) << c.Position;
        PaintControl(*Bar, image);
        // Row 12, below the track: the thumb's 9 pixels from its lit left edge to its shaded
        // right edge, the control's colour beside them.
        int left = c.ThumbX - 4;
        if (left > 0) {
            EXPECT_EQ(PixelAt(image, left - 1, 12), 0x00FFFFu) << c.Position;
        }
        EXPECT_EQ(PixelAt(image, left, 12), highlight) << c.Position;
        EXPECT_EQ(PixelAt(image, c.ThumbX, 12), GetSysColor(COLOR_BTNFACE)) << c.Position;
        EXPECT_EQ(PixelAt(image, left + 8, 12), shadow) << c.Position;
        if (left + 9 < 65) {
            EXPECT_EQ(PixelAt(image, left + 9, 12), 0x00FFFFu) << c.Position;
        }
    }
    EXPECT_EQ(Watcher.Interior.left, 4);
    EXPECT_EQ(Watcher.Interior.top, 2);
    EXPECT_EQ(Watcher.Interior.right, 61);
    EXPECT_EQ(Watcher.Interior.bottom, 10);
    EXPECT_EQ(PixelAt(image, 4, 2), 0x0000FFu);
    EXPECT_EQ(PixelAt(image, 3, 2), GetSysColor(COLOR_3DDKSHADOW)); // the inner frame
    EXPECT_EQ(PixelAt(image, 2, 0), shadow);                        // the outer frame
    EXPECT_EQ(Watcher.Changes, 0);                                  // set by the program
}

TEST_F(TrackBarTest, PressesAndDragsSetThePositionAndReportIt) {
    struct Case {
        int X, Position;
    } cases[] = {{0, 0}, {64, 100}, {32, 50}, {33, 52}, {60, 100}}; // 29 * 100 / 56 = 51.8 rounds to 52
    int changes = 0;
    for (const Case &c : cases) {
        Press(c.X);
        EXPECT_EQ(Bar->Position(), c.Position) << c.X;
        if (Watcher.Changes != changes)
            ++changes;
        EXPECT_EQ(Watcher.Changes, changes) << c.X; // at most one report, only on a change
    }
    // Moving with the button held drags the thumb, beyond the ends too.
    SendMessageA(Form->Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(Bar->Left() + 4, Bar->Top() + 8));
    struct Drag {
        int X, Position;
    } drags[] = {{18, 25}, {-30, 0}, {300, 100}};
    for (const Drag &d : drags) {
        SendMessageA(Bar->Parent()->Handle(), WM_MOUSEMOVE, MK_LBUTTON,
                     MAKELPARAM(Bar->Left() + d.X, Bar->Top() + 8));
        EXPECT_EQ(Bar->Position(), d.Position) << d.X;
    }
    SendMessageA(Form->Handle(), WM_LBUTTONUP, 0, MAKELPARAM(Bar->Left() + 300, Bar->Top() + 8));
}

TEST_F(TrackBarTest, LimitsMoveThePositionSilentlyAndDegenerateBarsNeverDivideByZero) {
    Bar->SetPosition(80);
    Bar->SetMax(60);
    EXPECT_EQ(Bar->Position(), 60);
    Bar->SetMin(70);
    EXPECT_EQ(Bar->Max(), 70);
    EXPECT_EQ(Bar->Position(), 70);
    EXPECT_EQ(Watcher.Changes, 0);
    // Maximum equal to minimum: the thumb rests at the start, presses keep the position.
    EXPECT_EQ(Bar->ThumbX(), 4);
    Press(40);
    EXPECT_EQ(Bar->Position(), 70);
    // Bars too narrow for the thumb, down to no width at all.
    Bar->SetMin(0);
    Bar->SetMax(100);
    TBitmap image;
    for (int width : {9, 5, 0}) {
        Bar->SetWidth(width);
        Bar->SetPosition(100);
        EXPECT_EQ(Bar->ThumbX(), 4) << width;
        Press(width / 2);
        EXPECT_GE(Bar->Position(), 0) << width;
        EXPECT_LE(Bar->Position(), 100) << width;
        if (width > 0)
            PaintControl(*Bar, image);
    }
}

} // namespace
