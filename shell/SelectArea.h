// The selection box of select mode: one box, shared by every fractal window, drawn in inverted
// lines over the image of the window it is on. It is moved, resized around its centre, rotated by
// its handle, stretched and skewed with the mouse or the keyboard, and describes the view that the
// window zooms into, zooms out of or crops to.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "Controls.h"
#include "ExtCtrls.h"

class TAnimatedCorners;
class TFractalWindowHost;
struct TViewBox;

class TSelectArea : public TObject {
public:
    DECLARE_CLASS_NAME(TSelectArea)
    TSelectArea();
    ~TSelectArea() override;
    TSelectArea(const TSelectArea &) = delete;
    TSelectArea &operator=(const TSelectArea &) = delete;

    // Shows the box at the image centre with a sixth of the image height as half-height.
    void Show();
    void Hide();
    // Back to a sixth of the image width as half-height, upright, unstretched, at the centre.
    void Reset();
    // The window the box belongs to; a shown box moves along (hidden, then shown on the new one).
    void SetWindow(TFractalWindowHost *Window);
    TFractalWindowHost *GetWindow() const { return FWindow; }
    // Stretch mode: the fractal is stretched to fit the box; otherwise it is resized to the box's
    // aspect ratio.
    void SetStretch(bool Value);
    bool GetStretch() const { return FStretchMode; }
    bool GetActive() const { return FState != bsHidden; }

    double GetMagnification() const;
    // The box as the view operations take it.
    TViewBox GetViewBox() const;
    // The picture transform of the view inside the box, x stretched by the box's stretch when
    // Stretched is set.
    std::unique_ptr<TAnimatedCorners> GetCorners(bool Stretched) const;
    double GetAngle() const { return FAngle; }
    double GetStretchValue() const { return FStretch; }
    double GetSkew() const { return FSkew; }
    int GetHalfHeight() const { return FHalfHeight; }
    POINT GetCenter() const { return FCenter; }
    int GetState() const { return FState; }
    // The status-bar text for the pointer's position over the box.
    const std::string &GetHint() const { return FHint; }
    // The box's corners top-left, top-right, bottom-right, bottom-left, its rotation handle and the
    // middle of its top edge, in image pixels.
    POINT GetScreenPoint(int Index) const { return FScreenPoints[Index]; }
    bool GetDrawn() const { return FDrawn; }

    // The zone of the box's outline under an image point (see the zone constants), and whether the
    // point lies inside the box.
    int HitTest(int X, int Y, bool &Inside) const;
    // Image point to box coordinates (x along the unskewed top edge, y downwards, centre 0) and back.
    POINT ScreenToBox(int X, int Y) const;
    POINT BoxToScreen(int X, int Y) const;

    // Box states.
    static constexpr int bsHidden = 0, bsIdle = 1, bsMoving = 2, bsResizing = 3, bsRotating = 4,
                         bsStretchingSide = 5, bsStretchingTopBottom = 6, bsStretchingCorner = 7,
                         bsSkewing = 8;
    // Zones of the outline: none, top or bottom edge, left or right edge, the top-left and
    // bottom-right corners, the bottom-left and top-right corners, the rotation handle.
    static constexpr int hzNone = 0, hzTopBottom = 1, hzLeftRight = 2, hzMainDiagonal = 3,
                         hzOtherDiagonal = 4, hzHandle = 5;

    // The fractal window erases the box before each blit of its bitmap and draws it afterwards.
    void Draw();
    void Erase();

    void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y);
    void MouseMove(TShiftState Shift, int X, int Y);
    void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y);
    void KeyDown(WORD &Key, TShiftState Shift);

private:
    // A new box at Point, upright and unstretched, idle; the window goes into select mode.
    void Start(POINT Point, int HalfHeight);
    // Erases the box, recomputes its outline and screen points, draws it again and tells the
    // active-fractal manager.
    void Geometry();
    // The outline (corners and handle line) inverted on DC.
    void DrawOutline(HDC DC) const;
    // Runs Body with the display's device context under the display bitmap's lock; nothing without
    // a window, a display or its window handle.
    template <class Body> void WithDisplay(Body body);
    // The cursor and hint for the pointer at an image point while the box is idle.
    void UpdateHover(int X, int Y);
    // Starts the scroll timer when the pointer (image point) is near the scroll box's border.
    void CheckAutoScroll(int X, int Y);
    void ScrollTimer(TObject *Sender);
    int ImageWidth() const;
    int ImageHeight() const;

    double FAngle = 0;
    RECT FBox = {0, 0, 0, 0};
    POINT FHandle = {0, 0};
    POINT FCenter = {0, 0};
    POINT FScreenPoints[6] = {};
    TFractalWindowHost *FWindow = nullptr;
    bool FDrawn = false;
    bool FPending = false;
    bool FErasing = false;
    bool FStretchMode = false;
    double FGrabAngle = 0;
    POINT FPressPoint = {0, 0};
    POINT FMoveOffset = {0, 0};
    std::unique_ptr<TTimer> FScrollTimer;
    int FHalfHeight = 0;
    double FSkew = 0;
    int FState = bsHidden;
    std::string FHint;
    double FStretch = 1;
};

// The global box; nullptr outside InitializeSelectArea .. FinalizeSelectArea.
TSelectArea *SelectArea();
void InitializeSelectArea();
void FinalizeSelectArea();
