// The selection box on a stand-in fractal window of 640 x 480 pixels: its hit zones and limits,
// keyboard steps, the mouse states, hints and cursors, the view it describes, and its drawing over
// the display (erasing gives the display's pixels back exactly).
#include <windows.h>

#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "FakeFractalHost.h"
#include "GenSetup.h"

using window_test::PumpPending;

namespace {

constexpr double Pi = std::numbers::pi;
constexpr double Degree = Pi / 180;

class SelectAreaTest : public ShellWindowTest {
protected:
    void SetUp() override {
        StoreMouseMode(mmoNormal);
        ConfigManager()->Fractal->SelectMode = 0;
        Host = std::make_unique<TFakeFractalHost>(Manager, History, 640, 480);
        Host->Box = &Box;
        Box.SetWindow(Host.get());
    }
    void TearDown() override {
        Box.Hide();
        Box.SetWindow(nullptr);
        Host.reset();
        StoreMouseMode(mmoNormal);
        PumpPending();
    }

public:
    // Presses at one point, drags to the other (past the drag threshold) and releases there.
    void Drag(POINT From, POINT To, TShiftState Shift = 0) {
        Box.MouseDown(mbLeft, Shift, From.x, From.y);
        Box.MouseMove(Shift, To.x, To.y);
        Box.MouseUp(mbLeft, Shift, To.x, To.y);
    }
    void Press(WORD Key, TShiftState Shift = 0, int Times = 1) {
        for (int i = 0; i < Times; ++i) {
            WORD key = Key;
            Box.KeyDown(key, Shift);
            EXPECT_EQ(key, 0) << "key " << Key << " not taken";
        }
    }

protected:
    TSelectArea Box;
    std::unique_ptr<TFakeFractalHost> Host;
};

// Show on 640 x 480: centre (320, 240), half-height 80, half-width round(80 * 640 / 480) = 107,
// the handle 40 pixels above the top edge at (320, 120).
TEST_F(SelectAreaTest, HitZonesOfAnUprightAndATurnedBox) {
    Box.Show();
    ASSERT_EQ(Box.GetHalfHeight(), 80);
    struct TCase {
        int Turns; // quarter turns by keyboard
        int X, Y;
        int Zone;
        bool Inside;
    };
    const TCase cases[] = {
        {0, 320, 120, TSelectArea::hzHandle, false},
        {0, 327, 113, TSelectArea::hzHandle, false},
        {0, 320, 160, TSelectArea::hzTopBottom, true},
        {0, 320, 152, TSelectArea::hzTopBottom, false}, // 8 pixels off still counts
        {0, 320, 151, TSelectArea::hzNone, false},      // 9 do not
        {0, 320, 168, TSelectArea::hzTopBottom, true},
        {0, 320, 169, TSelectArea::hzNone, true},
        {0, 300, 320, TSelectArea::hzTopBottom, true},
        {0, 213, 240, TSelectArea::hzLeftRight, true},
        {0, 435, 240, TSelectArea::hzLeftRight, false},
        {0, 213, 160, TSelectArea::hzMainDiagonal, true},
        {0, 206, 154, TSelectArea::hzMainDiagonal, false},
        {0, 427, 320, TSelectArea::hzMainDiagonal, true},
        {0, 213, 320, TSelectArea::hzOtherDiagonal, true},
        {0, 427, 160, TSelectArea::hzOtherDiagonal, true},
        {0, 320, 240, TSelectArea::hzNone, true},
        {0, 10, 10, TSelectArea::hzNone, false},
        // A quarter turn clockwise: the top edge lies right of the centre, the handle beyond it.
        {1, 440, 240, TSelectArea::hzHandle, false},
        {1, 400, 240, TSelectArea::hzTopBottom, true},
        {1, 320, 133, TSelectArea::hzLeftRight, true},
        {1, 400, 133, TSelectArea::hzMainDiagonal, true},
        {1, 240, 347, TSelectArea::hzMainDiagonal, true},
        {1, 240, 133, TSelectArea::hzOtherDiagonal, true},
    };
    int turns = 0;
    for (const TCase &c : cases) {
        while (turns < c.Turns) {
            Press(VK_ADD, 0, 18);
            ++turns;
        }
        bool inside = !c.Inside;
        EXPECT_EQ(Box.HitTest(c.X, c.Y, inside), c.Zone) << c.X << "," << c.Y << " turns " << c.Turns;
        EXPECT_EQ(inside, c.Inside) << c.X << "," << c.Y << " turns " << c.Turns;
    }
}

TEST_F(SelectAreaTest, LimitsOfKeyboardAndMouseChanges) {
    struct TCase {
        const char *Name;
        void (*Run)(SelectAreaTest &);
        int HalfHeight;
        LONG CenterX, CenterY;
        double Stretch, Skew;
    };
    const TCase cases[] = {
        {"page up to the smallest box", [](SelectAreaTest &t) { t.Press(VK_PRIOR, 0, 40); }, 4, 320, 240, 1,
         0},
        {"page down to the image height", [](SelectAreaTest &t) { t.Press(VK_NEXT, 0, 60); }, 240, 320, 240,
         1, 0},
        {"left and up past the corner",
         [](SelectAreaTest &t) { t.Press(VK_LEFT, 0, 70), t.Press(VK_UP, 0, 60); }, 80, 0, 0, 1, 0},
        {"right and down past the corner",
         [](SelectAreaTest &t) { t.Press(VK_RIGHT, 0, 70), t.Press(VK_DOWN, 0, 60); }, 80, 640, 480, 1, 0},
        {"squeezed to a tenth", [](SelectAreaTest &t) { t.Press(VK_INSERT, 0, 30); }, 80, 320, 240, 0.1, 0},
        {"stretched to ten", [](SelectAreaTest &t) { t.Press(VK_DELETE, 0, 30); }, 80, 320, 240, 10, 0},
        {"skewed to 81 degrees", [](SelectAreaTest &t) { t.Press(VK_HOME, 0, 17); }, 80, 320, 240, 1,
         81 * Degree},
        {"skewed to -81 degrees", [](SelectAreaTest &t) { t.Press(VK_END, 0, 17); }, 80, 320, 240, 1,
         -81 * Degree},
        // A drag of the bottom edge far below the image: the half-height stops at the image height.
        {"resized beyond the image",
         [](SelectAreaTest &t) {
             t.Drag({320, 320}, {320, 2000});
         },
         480, 320, 240, 1, 0},
        // A drag of the bottom edge onto the centre line: the box keeps its smallest half-height.
        {"resized to nothing",
         [](SelectAreaTest &t) {
             t.Drag({320, 320}, {320, 240});
         },
         4, 320, 240, 1, 0},
        {"moved beyond the image",
         [](SelectAreaTest &t) {
             t.Drag({320, 240}, {-500, 900});
         },
         80, 0, 479, 1, 0},
        // Ctrl on the right edge: stretch = |x| H / (W h), at most W / h = 8.
        {"stretched beyond the image",
         [](SelectAreaTest &t) {
             t.Drag({427, 240}, {3000, 240}, ssCtrl);
         },
         80, 320, 240, 8, 0},
        {"stretched to nothing",
         [](SelectAreaTest &t) {
             t.Drag({427, 240}, {320, 240}, ssCtrl);
         },
         80, 320, 240, 0.05, 0},
        // Ctrl on the handle beyond the right border: the skew stops at 81 degrees.
        {"skewed by the handle",
         [](SelectAreaTest &t) {
             t.Drag({320, 120}, {-4000, 120}, ssCtrl);
         },
         80, 320, 240, 1, 81 * Degree},
    };
    for (const TCase &c : cases) {
        Box.Show();
        c.Run(*this);
        EXPECT_EQ(Box.GetHalfHeight(), c.HalfHeight) << c.Name;
        EXPECT_EQ(Box.GetCenter().x, c.CenterX) << c.Name;
        EXPECT_EQ(Box.GetCenter().y, c.CenterY) << c.Name;
        EXPECT_NEAR(Box.GetStretchValue(), c.Stretch, 1e-9) << c.Name;
        EXPECT_NEAR(Box.GetSkew(), c.Skew, 1e-9) << c.Name;
        Box.Hide();
    }
}

TEST_F(SelectAreaTest, KeyboardStepsAndAngleWrapAround) {
    Box.Show();
    Press(VK_RIGHT);
    EXPECT_EQ(Box.GetCenter().x, 325);
    Press(VK_RIGHT, ssCtrl);
    EXPECT_EQ(Box.GetCenter().x, 326);
    Press(VK_UP);
    EXPECT_EQ(Box.GetCenter().y, 235);
    Press(VK_NEXT, ssCtrl);
    EXPECT_EQ(Box.GetHalfHeight(), 81);
    Press(VK_UP, ssShift);
    EXPECT_NEAR(Box.GetStretchValue(), 1 / 1.1, 1e-12);
    Press(VK_DOWN, ssShift | ssCtrl);
    EXPECT_NEAR(Box.GetStretchValue(), 1.02 / 1.1, 1e-12);
    EXPECT_EQ(Box.GetCenter().y, 235);

    // Turning back past 0 gives 355 degrees; 73 steps forward from 0 give 365, that is 5.
    Press(VK_SUBTRACT);
    EXPECT_NEAR(Box.GetAngle(), 355 * Degree, 1e-9);
    Press(VK_ADD);
    EXPECT_NEAR(std::fmod(Box.GetAngle() + Pi, 2 * Pi) - Pi, 0, 1e-9);
    Press(VK_ADD, 0, 73);
    EXPECT_NEAR(Box.GetAngle(), 5 * Degree, 1e-9);
    Press(VK_ADD, ssCtrl);
    EXPECT_NEAR(Box.GetAngle(), 6 * Degree, 1e-9);
    EXPECT_GE(Box.GetAngle(), 0);
    EXPECT_LT(Box.GetAngle(), 2 * Pi);

    // Skew: 16 steps are 80 degrees, the 17th stops at 81.
    Press(VK_HOME, 0, 16);
    EXPECT_NEAR(Box.GetSkew(), 80 * Degree, 1e-9);
    Press(VK_HOME);
    EXPECT_NEAR(Box.GetSkew(), 81 * Degree, 1e-9);
    Press(VK_END, ssCtrl);
    EXPECT_NEAR(Box.GetSkew(), 80 * Degree, 1e-9);

    // Keys the box does not know stay for the window.
    WORD key = 'A';
    Box.KeyDown(key, 0);
    EXPECT_EQ(key, 'A');
}

TEST_F(SelectAreaTest, EnterZoomsAndEscapeHides) {
    Box.Show();
    Press(VK_RETURN);
    Press(VK_RETURN, ssCtrl);
    EXPECT_EQ(Host->Commands, (std::vector<std::string>{"Zoom In", "Zoom Out"}));
    EXPECT_TRUE(Box.GetActive());
    Press(VK_ESCAPE);
    EXPECT_FALSE(Box.GetActive());
    EXPECT_EQ(GetMouseMode(), mmoNormal);
}

TEST_F(SelectAreaTest, ResetTakesASixthOfTheWidthShowASixthOfTheHeight) {
    Box.Show();
    EXPECT_EQ(Box.GetHalfHeight(), 80);
    EXPECT_EQ(Box.GetCenter().x, 320);
    EXPECT_EQ(Box.GetCenter().y, 240);
    EXPECT_EQ(GetMouseMode(), mmoSelect);
    Press(VK_ADD, 0, 3);
    Press(VK_HOME);
    Press(VK_DELETE);
    Press(VK_LEFT);
    Box.Reset();
    EXPECT_EQ(Box.GetHalfHeight(), 106);
    EXPECT_EQ(Box.GetCenter().x, 320);
    EXPECT_EQ(Box.GetCenter().y, 240);
    EXPECT_EQ(Box.GetAngle(), 0);
    EXPECT_EQ(Box.GetSkew(), 0);
    EXPECT_EQ(Box.GetStretchValue(), 1);
    EXPECT_DOUBLE_EQ(Box.GetMagnification(), 480.0 / 212);
}

TEST_F(SelectAreaTest, APressOutsideWithoutABoxDrawsANewOne) {
    ASSERT_FALSE(Box.GetActive());
    Box.MouseDown(mbLeft, 0, 100, 90);
    EXPECT_EQ(Box.GetState(), TSelectArea::bsResizing);
    EXPECT_EQ(GetMouseMode(), mmoSelect);
    EXPECT_EQ(Box.GetHalfHeight(), 4);
    // Within the drag threshold nothing changes yet.
    Box.MouseMove(0, 101, 91);
    EXPECT_EQ(Box.GetHalfHeight(), 4);
    // The half-height follows the farther of the pointer's offsets: 30 down, or 60 across on a 4:3
    // image (60 * 480 / 640 = 45).
    Box.MouseMove(0, 100, 120);
    EXPECT_EQ(Box.GetHalfHeight(), 30);
    Box.MouseMove(0, 160, 100);
    EXPECT_EQ(Box.GetHalfHeight(), 45);
    EXPECT_EQ(Box.GetCenter().x, 100);
    EXPECT_EQ(Box.GetCenter().y, 90);
    Box.MouseUp(mbLeft, 0, 160, 100);
    EXPECT_EQ(Box.GetState(), TSelectArea::bsIdle);
}

TEST_F(SelectAreaTest, DraggingFromOutsideHidesTheBox) {
    Box.Show();
    Box.MouseDown(mbLeft, 0, 20, 20);
    EXPECT_FALSE(Box.GetActive());
    EXPECT_EQ(GetMouseMode(), mmoNormal);
    Box.MouseMove(0, 200, 200);
    Box.MouseUp(mbLeft, 0, 200, 200);
    EXPECT_FALSE(Box.GetActive());
    EXPECT_EQ(Box.GetCenter().x, 320);
}

TEST_F(SelectAreaTest, DragsMoveRotateStretchAndSkew) {
    struct TCase {
        const char *Name;
        POINT From, To;
        TShiftState Shift;
        int State; // while dragging
        int HalfHeight;
        LONG CenterX, CenterY;
        double Angle, Stretch, Skew;
    };
    const TCase cases[] = {
        {"move", {330, 250}, {360, 270}, 0, TSelectArea::bsMoving, 80, 350, 260, 0, 1, 0},
        {"rotate a quarter turn",
         {320, 120},
         {440, 240},
         0,
         TSelectArea::bsRotating,
         80,
         320,
         240,
         Pi / 2,
         1,
         0},
        {"rotate back by 45 degrees",
         {320, 120},
         {200, 120},
         0,
         TSelectArea::bsRotating,
         80,
         320,
         240,
         7 * Pi / 4,
         1,
         0},
        {"resize from a corner", {427, 320}, {420, 360}, 0, TSelectArea::bsResizing, 120, 320, 240, 0, 1, 0},
        // Ctrl on the right edge: 160 * 480 / (640 * 80) = 1.5.
        {"stretch from the side",
         {427, 240},
         {480, 240},
         ssCtrl,
         TSelectArea::bsStretchingSide,
         80,
         320,
         240,
         0,
         1.5,
         0},
        // Ctrl on the bottom edge: the width stays, the height halves.
        {"stretch from the bottom",
         {320, 320},
         {320, 280},
         ssCtrl,
         TSelectArea::bsStretchingTopBottom,
         40,
         320,
         240,
         0,
         2,
         0},
        // Ctrl on a corner: half-height 60, stretch 150 * 480 / (640 * 60) = 1.875.
        {"stretch from a corner",
         {427, 320},
         {470, 300},
         ssCtrl,
         TSelectArea::bsStretchingCorner,
         60,
         320,
         240,
         0,
         1.875,
         0},
        // Ctrl on the handle, 80 pixels right of the centre: atan(80 / -80).
        {"skew", {320, 120}, {400, 120}, ssCtrl, TSelectArea::bsSkewing, 80, 320, 240, 0, 1, -Pi / 4},
    };
    for (const TCase &c : cases) {
        Box.Show();
        Box.MouseDown(mbLeft, c.Shift, c.From.x, c.From.y);
        EXPECT_EQ(Box.GetState(), c.State) << c.Name;
        Box.MouseMove(c.Shift, c.To.x, c.To.y);
        Box.MouseUp(mbLeft, c.Shift, c.To.x, c.To.y);
        EXPECT_EQ(Box.GetState(), TSelectArea::bsIdle) << c.Name;
        EXPECT_EQ(Box.GetHalfHeight(), c.HalfHeight) << c.Name;
        EXPECT_EQ(Box.GetCenter().x, c.CenterX) << c.Name;
        EXPECT_EQ(Box.GetCenter().y, c.CenterY) << c.Name;
        EXPECT_NEAR(Box.GetAngle(), c.Angle, 1e-6) << c.Name;
        EXPECT_NEAR(Box.GetStretchValue(), c.Stretch, 1e-9) << c.Name;
        EXPECT_NEAR(Box.GetSkew(), c.Skew, 1e-9) << c.Name;
        Box.Hide();
    }
}

TEST_F(SelectAreaTest, DoubleClickInTheBoxZoomsAndHides) {
    Box.Show();
    Box.MouseDown(mbLeft, ssDouble, 320, 240);
    EXPECT_FALSE(Box.GetActive());
    Box.Show();
    Box.MouseDown(mbLeft, ssDouble | ssCtrl, 320, 240);
    EXPECT_FALSE(Box.GetActive());
    EXPECT_EQ(Host->Commands, (std::vector<std::string>{"Zoom In", "Zoom Out"}));
    // Other buttons leave the box alone.
    Box.Show();
    Box.MouseDown(mbRight, 0, 10, 10);
    EXPECT_TRUE(Box.GetActive());
}

TEST_F(SelectAreaTest, HoverGivesHintsAndCursorsAlongTheBox) {
    const std::string rotate = " Drag to rotate the selection box. Use Ctrl to skew, Esc to cancel.";
    const std::string resize = " Drag to resize the selection box. Use Ctrl to stretch, Esc to cancel.";
    const std::string move = " Drag to move the selection box. Use Esc to cancel.";
    const std::string outside = " Click or press Esc to cancel.";
    struct TCase {
        int Turns;
        int X, Y;
        const std::string &Hint;
        TCursor Cursor;
    };
    const TCase cases[] = {
        {0, 320, 120, rotate, crSizeWE},
        {0, 320, 160, resize, crSizeNS},
        {0, 213, 240, resize, crSizeWE},
        {0, 213, 160, resize, crSizeNWSE},
        {0, 427, 160, resize, crSizeNESW},
        {0, 320, 240, move, crSizeAll},
        {0, 10, 10, outside, crCross},
        // A quarter turn: the top edge stands upright on the right.
        {1, 400, 240, resize, crSizeWE},
        {1, 440, 240, rotate, crSizeNS},
        {1, 400, 133, resize, crSizeNESW},
    };
    Box.Show();
    int turns = 0;
    for (const TCase &c : cases) {
        while (turns < c.Turns) {
            Press(VK_ADD, 0, 18);
            ++turns;
        }
        Box.MouseMove(0, c.X, c.Y);
        EXPECT_EQ(Box.GetHint(), c.Hint) << c.X << "," << c.Y;
        EXPECT_EQ(Host->Display->Cursor(), c.Cursor) << c.X << "," << c.Y;
    }
    Box.Hide();
    EXPECT_EQ(Host->Display->Cursor(), crCross);
}

// The box's view, shown on the display, puts the display's corners where the box's corners are:
// the inverse of the picture transform, in pixels, lands on the outline the box draws.
TEST_F(SelectAreaTest, CornersDescribeTheDrawnBox) {
    struct TCase {
        int Rotate, Skew, Stretch, Move;
    };
    const TCase cases[] = {{0, 0, 0, 0}, {5, 0, 0, 3}, {0, 3, 0, 0},
                           {0, 0, 4, 0}, {7, 2, 3, 5}, {40, -4, -5, -6}};
    for (const TCase &c : cases) {
        Box.Show();
        Press(c.Rotate >= 0 ? VK_ADD : VK_SUBTRACT, 0, std::abs(c.Rotate));
        Press(c.Skew >= 0 ? VK_HOME : VK_END, 0, std::abs(c.Skew));
        Press(c.Stretch >= 0 ? VK_DELETE : VK_INSERT, 0, std::abs(c.Stretch));
        Press(c.Move >= 0 ? VK_RIGHT : VK_LEFT, 0, std::abs(c.Move));
        Press(VK_DOWN, 0, std::abs(c.Move));
        const TViewBox view = Box.GetViewBox();
        EXPECT_EQ(view.CenterX, Box.GetCenter().x);
        EXPECT_EQ(view.CenterY, Box.GetCenter().y);
        EXPECT_EQ(view.HalfHeight, Box.GetHalfHeight());
        EXPECT_EQ(view.Angle, Box.GetAngle());
        EXPECT_EQ(view.Skew, Box.GetSkew());
        EXPECT_EQ(view.Stretch, Box.GetStretchValue());
        std::unique_ptr<TAnimatedCorners> corners = Box.GetCorners(true);
        corners->Invert();
        for (int i = 0; i < 3; ++i) {
            const TViewPoint corner = corners->GetCorner(i);
            const POINT drawn = Box.GetScreenPoint(i);
            // The outline's corners are rounded to whole pixels.
            EXPECT_NEAR(corner.X * 480 + 320, drawn.x, 1.0) << i << " of case " << &c - cases;
            EXPECT_NEAR(corner.Y * 480 + 240, drawn.y, 1.0) << i << " of case " << &c - cases;
        }
        Box.Hide();
    }
}

TEST_F(SelectAreaTest, TheStretchModeSurvivesInTheOptions) {
    Box.Show();
    EXPECT_FALSE(Box.GetStretch());
    Box.SetStretch(true);
    Box.Hide();
    EXPECT_EQ(ConfigManager()->Fractal->SelectMode, 1);
    ConfigManager()->Fractal->SelectMode = 0;
    Box.Show();
    EXPECT_FALSE(Box.GetStretch());
    Box.Hide();
    ConfigManager()->Fractal->SelectMode = 1;
    Box.Show();
    EXPECT_TRUE(Box.GetStretch());
}

TEST_F(SelectAreaTest, MovingToAnotherWindowStartsAtItsCentre) {
    TFakeFractalHost other(Manager, History, 200, 120, 100, 100);
    other.Box = &Box;
    Box.Show();
    Press(VK_LEFT, 0, 3);
    Box.SetWindow(&other);
    EXPECT_TRUE(Box.GetActive());
    EXPECT_EQ(Box.GetWindow(), &other);
    EXPECT_EQ(Box.GetCenter().x, 100);
    EXPECT_EQ(Box.GetCenter().y, 60);
    EXPECT_EQ(Box.GetHalfHeight(), 20);
    Box.Hide();
    Box.SetWindow(Host.get());
    EXPECT_FALSE(Box.GetActive());
    EXPECT_EQ(Box.GetWindow(), Host.get());
}

// A drag that reaches the border of the window's scroll box scrolls it by 20 pixels every 200 ms
// until the scroll position stops at its end; the timer stops then.
TEST_F(SelectAreaTest, DraggingNearTheBorderScrollsTheWindow) {
    TFakeFractalHost scrolled(Manager, History, 640, 480, 60, 60, SIZE{300, 200});
    scrolled.Box = &Box;
    Box.SetWindow(&scrolled);
    Box.Show();
    TScrollingWinControl &view = *scrolled.ScrollBox;
    ASSERT_EQ(view.VertScrollBar().Position(), 0);
    // A move of the box by its centre to 10 pixels above the scroll box's bottom edge.
    const int bottom = view.ClientHeight() - 10;
    ASSERT_TRUE(window_test::MovePointer(scrolled.Display->ClientToScreen(TPoint{150, bottom})));
    Box.MouseDown(mbLeft, 0, 320, 240);
    Box.MouseMove(0, 150, bottom);
    EXPECT_EQ(Box.GetState(), TSelectArea::bsMoving);
    const int limit = 480 - view.ClientHeight();
    EXPECT_TRUE(window_test::PumpUntil([&] { return view.VertScrollBar().Position() > 0; }));
    const int first = view.VertScrollBar().Position();
    EXPECT_TRUE(first % 20 == 0 || first == limit) << first;
    EXPECT_TRUE(window_test::PumpUntil([&] { return view.VertScrollBar().Position() == limit; }, 20000));
    EXPECT_EQ(view.HorzScrollBar().Position(), 0);
    Box.MouseUp(mbLeft, 0, 150, bottom);
    Box.Hide();
    Box.SetWindow(Host.get());
}

TEST_F(SelectAreaTest, DrawingInvertsTheOutlineAndErasingRestoresEveryPixel) {
    PumpPending();
    Host->Display->Repaint();
    const std::vector<std::uint32_t> before = ScreenPixels(*Host->Display);
    auto at = [](const std::vector<std::uint32_t> &Pixels, int X, int Y) { return Pixels[Y * 640 + X]; };
    Box.Show();
    Press(VK_ADD, 0, 3);
    ASSERT_TRUE(Box.GetDrawn());
    const std::vector<std::uint32_t> drawn = ScreenPixels(*Host->Display);
    // The five squares: white inside, a black frame.
    for (int i = 0; i < 5; ++i) {
        const POINT p = Box.GetScreenPoint(i);
        EXPECT_EQ(at(drawn, p.x, p.y), 0xFFFFFFu) << i;
        EXPECT_EQ(at(drawn, p.x - 2, p.y - 2), 0u) << i;
        EXPECT_EQ(at(drawn, p.x + 2, p.y + 2), 0u) << i;
    }
    // Halfway along the top edge, away from the squares and the handle line, the pixel is inverted.
    const POINT a = Box.GetScreenPoint(0), b = Box.GetScreenPoint(5);
    const POINT middle = {(a.x + b.x) / 2, (a.y + b.y) / 2};
    int inverted = 0;
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx)
            inverted += at(drawn, middle.x + dx, middle.y + dy) ==
                        (at(before, middle.x + dx, middle.y + dy) ^ 0xFFFFFFu);
    EXPECT_GE(inverted, 1);
    int changed = 0;
    for (std::size_t i = 0; i < before.size(); ++i)
        changed += before[i] != drawn[i];
    EXPECT_GT(changed, 5 * 25);

    Box.Erase();
    EXPECT_FALSE(Box.GetDrawn());
    const std::vector<std::uint32_t> erased = ScreenPixels(*Host->Display);
    EXPECT_TRUE(erased == before);

    // A repaint of the display (bitmap blit between erase and draw) keeps the box once on screen.
    Box.Draw();
    Host->Display->Repaint();
    EXPECT_TRUE(ScreenPixels(*Host->Display) == drawn);
    Box.Hide();
    EXPECT_TRUE(ScreenPixels(*Host->Display) == before);
}

} // namespace
