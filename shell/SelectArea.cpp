#include "SelectArea.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numbers>

#include "FracInteractive.h"
#include "FracManager.h"
#include "FractalWindowHost.h"
#include "GenSetup.h"
#include "GenUtils.h"

namespace {

TSelectArea *GlobalSelectArea = nullptr;

constexpr double Pi = std::numbers::pi;
// The skew stops short of a right angle, where the box would fold flat.
constexpr double MaxSkew = 0.45 * Pi;
constexpr int MinHalfHeight = 4;
// A point within this distance of an edge or the handle grabs it.
constexpr int HitTolerance = 8;
// The longest handle line, in pixels.
constexpr int HandleLength = 40;
// Auto-scroll: the border zone of the scroll box, the step, and the timer's period.
constexpr int ScrollZone = 25;
constexpr int ScrollStep = 20;
constexpr UINT ScrollInterval = 200;

const char *const RotateHint = " Drag to rotate the selection box. Use Ctrl to skew, Esc to cancel.";
const char *const ResizeHint = " Drag to resize the selection box. Use Ctrl to stretch, Esc to cancel.";
const char *const MoveHint = " Drag to move the selection box. Use Esc to cancel.";
const char *const OutsideHint = " Click or press Esc to cancel.";

int RoundInt(double Value) {
    return static_cast<int>(std::lround(Value));
}

double Angle(int Y, int X) {
    return static_cast<double>(VectorAngle(Y, X));
}

// The sizing cursor whose arrows lie closest to the direction (VX, VY) on screen.
TCursor SizingCursor(double VX, double VY) {
    if (std::fabs(VY) > 2 * std::fabs(VX))
        return crSizeNS;
    if (std::fabs(VX) > 2 * std::fabs(VY))
        return crSizeWE;
    return VX * VY >= 0 ? crSizeNWSE : crSizeNESW;
}

TFractalConfiguration *FractalOptions() {
    TConfigManager *config = ConfigManager();
    return config ? config->Fractal.get() : nullptr;
}

void NotifyInteraction() {
    if (TFractalManager *manager = FractalManager())
        manager->Notify(fekInteraction);
}

} // namespace

TSelectArea::TSelectArea() = default;

TSelectArea::~TSelectArea() = default;

int TSelectArea::ImageWidth() const {
    return FWindow ? FWindow->HostFractal()->GetWidth() : 0;
}

int TSelectArea::ImageHeight() const {
    return FWindow ? FWindow->HostFractal()->GetHeight() : 0;
}

// --- Showing and hiding ------------------------------------------------------------------------

void TSelectArea::Show() {
    if (!FWindow || FState != bsHidden)
        return;
    const int w = ImageWidth(), h = ImageHeight();
    Start(POINT{w / 2, h / 2}, h / 6);
}

void TSelectArea::Start(POINT Point, int HalfHeight) {
    FCenter = Point;
    FHalfHeight = HalfHeight;
    FAngle = 0;
    FStretch = 1;
    FSkew = 0;
    FDrawn = false;
    if (!FScrollTimer) {
        FScrollTimer = std::make_unique<TTimer>(nullptr);
        FScrollTimer->SetEnabled(false);
        FScrollTimer->SetInterval(ScrollInterval);
        FScrollTimer->SetOnTimer(MakeNotifyEvent<&TSelectArea::ScrollTimer>(this));
    }
    FState = bsIdle;
    Geometry();
    // The state is set first: the window's mode change shows the box, which is shown already.
    FWindow->HostSetMouseMode(mmoSelect);
    if (TFractalConfiguration *options = FractalOptions())
        FStretchMode = options->SelectMode != 0;
}

void TSelectArea::Hide() {
    if (FState == bsHidden)
        return;
    if (FWindow) {
        // The display thread draws a shown box after its blits: erased and hidden in one step.
        TScopeLock<TBaseBitmap> guard(FWindow->HostFractal()->GetBitmap());
        Erase();
        FState = bsHidden;
    }
    // Hidden before the window leaves select mode, which would hide the box again.
    FState = bsHidden;
    FPending = false;
    FScrollTimer.reset();
    if (FWindow) {
        FWindow->HostDisplay()->SetCursor(FWindow->HostCursor());
        FWindow->HostSetMouseMode(mmoNormal);
    }
    if (TFractalConfiguration *options = FractalOptions())
        options->SelectMode = FStretchMode ? 1 : 0;
}

void TSelectArea::Reset() {
    const int w = ImageWidth(), h = ImageHeight();
    // A sixth of the width, not of the height as Show takes it.
    FHalfHeight = w / 6;
    FAngle = 0;
    FStretch = 1;
    FSkew = 0;
    FCenter = POINT{w / 2, h / 2};
    Geometry();
}

void TSelectArea::SetWindow(TFractalWindowHost *Window) {
    if (Window == FWindow)
        return;
    if (FState != bsHidden) {
        Hide();
        FWindow = Window;
        Show();
    } else
        FWindow = Window;
}

void TSelectArea::SetStretch(bool Value) {
    if (Value == FStretchMode)
        return;
    FStretchMode = Value;
    NotifyInteraction();
}

// --- The view of the box -----------------------------------------------------------------------

double TSelectArea::GetMagnification() const {
    return FHalfHeight > 0 ? ImageHeight() / (2.0 * FHalfHeight) : 1;
}

TViewBox TSelectArea::GetViewBox() const {
    TViewBox box;
    box.CenterX = FCenter.x;
    box.CenterY = FCenter.y;
    box.HalfHeight = FHalfHeight;
    box.Stretch = FStretch;
    box.Angle = FAngle;
    box.Skew = FSkew;
    return box;
}

std::unique_ptr<TAnimatedCorners> TSelectArea::GetCorners(bool Stretched) const {
    return ViewBoxCorners(GetViewBox(), ImageWidth(), ImageHeight(), Stretched);
}

// --- Geometry ----------------------------------------------------------------------------------

POINT TSelectArea::BoxToScreen(int X, int Y) const {
    const double c = std::cos(FAngle), s = std::sin(FAngle);
    const double x = X + std::tan(FSkew) * Y;
    return POINT{RoundInt(c * x - s * Y) + FCenter.x, RoundInt(s * x + c * Y) + FCenter.y};
}

POINT TSelectArea::ScreenToBox(int X, int Y) const {
    const double c = std::cos(FAngle), s = std::sin(FAngle);
    const double dx = X - FCenter.x, dy = Y - FCenter.y;
    const int y = RoundInt(c * dy - s * dx);
    const int x = RoundInt(s * dy + c * dx - std::tan(FSkew) * y);
    return POINT{x, y};
}

template <class Body> void TSelectArea::WithDisplay(Body body) {
    if (!FWindow)
        return;
    TWinControl *display = FWindow->HostDisplay();
    if (!display || !display->HandleAllocated())
        return;
    TDirectBitmap &bitmap = FWindow->HostFractal()->GetBitmap();
    TScopeLock<TBaseBitmap> guard(bitmap);
    HWND window = display->Handle();
    HDC dc = GetDC(window);
    if (!dc)
        return;
    body(dc, bitmap);
    ReleaseDC(window, dc);
}

void TSelectArea::Geometry() {
    if (!FWindow)
        return;
    const int w = ImageWidth(), h = ImageHeight();
    {
        // The display thread draws the box after its blits: it must see the old outline or the new
        // one, never half of each.
        TScopeLock<TBaseBitmap> guard(FWindow->HostFractal()->GetBitmap());
        Erase();
        const int right = h > 0 ? RoundInt(FHalfHeight * FStretch * w / h) : 0;
        FBox = RECT{-right, -FHalfHeight, right, FHalfHeight};
        const int handle = std::min(FHalfHeight, HandleLength);
        FHandle = POINT{RoundInt(std::tan(FSkew) * handle), FBox.top - handle};
        FScreenPoints[0] = BoxToScreen(FBox.left, FBox.top);
        FScreenPoints[1] = BoxToScreen(FBox.right, FBox.top);
        FScreenPoints[2] = BoxToScreen(FBox.right, FBox.bottom);
        FScreenPoints[3] = BoxToScreen(FBox.left, FBox.bottom);
        FScreenPoints[4] = BoxToScreen(FHandle.x, FHandle.y);
        FScreenPoints[5] = BoxToScreen(0, FBox.top);
        Draw();
    }
    NotifyInteraction();
}

// --- Drawing -----------------------------------------------------------------------------------

void TSelectArea::DrawOutline(HDC DC) const {
    HPEN pen = CreatePen(PS_SOLID, 1, RGB(255, 255, 255));
    HGDIOBJ oldPen = SelectObject(DC, pen);
    const int oldMode = SetROP2(DC, R2_XORPEN);
    const POINT outline[5] = {FScreenPoints[0], FScreenPoints[1], FScreenPoints[2], FScreenPoints[3],
                              FScreenPoints[0]};
    Polyline(DC, outline, 5);
    const POINT handleLine[2] = {FScreenPoints[4], FScreenPoints[5]};
    Polyline(DC, handleLine, 2);
    SetROP2(DC, oldMode);
    SelectObject(DC, oldPen);
    DeleteObject(pen);
}

namespace {

// The square drawn over a corner or the handle.
RECT HandleSquare(POINT Point) {
    return RECT{Point.x - 2, Point.y - 2, Point.x + 3, Point.y + 3};
}

} // namespace

void TSelectArea::Draw() {
    if (FState == bsHidden || FDrawn || FErasing)
        return;
    WithDisplay([&](HDC dc, TDirectBitmap &) {
        DrawOutline(dc);
        HBRUSH white = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
        HBRUSH black = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
        for (int i = 0; i < 5; ++i) {
            const RECT square = HandleSquare(FScreenPoints[i]);
            FillRect(dc, &square, white);
            FrameRect(dc, &square, black);
        }
        FDrawn = true;
    });
}

void TSelectArea::Erase() {
    if (!FDrawn || FErasing)
        return;
    FErasing = true;
    WithDisplay([&](HDC dc, TDirectBitmap &bitmap) {
        DrawOutline(dc);
        // The squares covered what the outline inverted under them: they come back from the bitmap.
        for (int i = 0; i < 5; ++i)
            bitmap.BlitTo(dc, HandleSquare(FScreenPoints[i]), FScreenPoints[i].x - 2, FScreenPoints[i].y - 2);
    });
    FDrawn = false;
    FErasing = false;
}

// --- Pointer -----------------------------------------------------------------------------------

int TSelectArea::HitTest(int X, int Y, bool &Inside) const {
    const POINT p = ScreenToBox(X, Y);
    Inside = p.x >= FBox.left && p.x <= FBox.right && p.y >= FBox.top && p.y <= FBox.bottom;
    auto within = [](int A, int B) { return std::abs(A - B) <= HitTolerance; };
    const bool top = within(p.y, FBox.top), bottom = within(p.y, FBox.bottom);
    const bool left = within(p.x, FBox.left), right = within(p.x, FBox.right);
    const bool inX = p.x >= FBox.left - HitTolerance && p.x <= FBox.right + HitTolerance;
    const bool inY = p.y >= FBox.top - HitTolerance && p.y <= FBox.bottom + HitTolerance;
    // Later zones win: the corners over the edges, the edges over the handle of a small box.
    int zone = hzNone;
    if (within(p.x, FHandle.x) && within(p.y, FHandle.y))
        zone = hzHandle;
    if ((top || bottom) && inX)
        zone = hzTopBottom;
    if ((left || right) && inY)
        zone = hzLeftRight;
    if ((top && left) || (bottom && right))
        zone = hzMainDiagonal;
    if ((bottom && left) || (top && right))
        zone = hzOtherDiagonal;
    return zone;
}

void TSelectArea::UpdateHover(int X, int Y) {
    if (!FWindow)
        return;
    bool inside = false;
    const int zone = HitTest(X, Y, inside);
    const double c = std::cos(FAngle), s = std::sin(FAngle);
    TCursor cursor = FWindow->HostCursor();
    switch (zone) {
    case hzTopBottom:
        cursor = SizingCursor(-s, c);
        break;
    case hzLeftRight:
    case hzHandle:
        cursor = SizingCursor(c, s);
        break;
    case hzMainDiagonal:
        cursor = SizingCursor(c - s, s + c);
        break;
    case hzOtherDiagonal:
        cursor = SizingCursor(s + c, s - c);
        break;
    default:
        if (inside)
            cursor = crSizeAll;
        break;
    }
    if (zone == hzHandle)
        FHint = RotateHint;
    else if (zone != hzNone)
        FHint = ResizeHint;
    else
        FHint = inside ? MoveHint : OutsideHint;
    FWindow->HostDisplay()->SetCursor(cursor);
}

void TSelectArea::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) {
    if (Button != mbLeft || !FWindow)
        return;
    if ((Shift & ssDouble) && FState == bsIdle) {
        Hide();
        if (Shift & ssCtrl)
            FWindow->HostSelectZoomOut();
        else
            FWindow->HostSelectZoomIn();
        return;
    }
    FPressPoint = POINT{X, Y};
    FGrabAngle = Angle(X - FCenter.x, FCenter.y - Y) - FAngle;
    FPending = true;
    if (FState == bsHidden) {
        // The user draws a new box from the press point.
        Start(FPressPoint, MinHalfHeight);
        FState = bsResizing;
        return;
    }
    if (FState != bsIdle)
        return;
    bool inside = false;
    const int zone = HitTest(X, Y, inside);
    if (Shift & ssCtrl) {
        switch (zone) {
        case hzTopBottom:
            FState = bsStretchingTopBottom;
            break;
        case hzLeftRight:
            FState = bsStretchingSide;
            break;
        case hzMainDiagonal:
        case hzOtherDiagonal:
            FState = bsStretchingCorner;
            break;
        case hzHandle:
            FState = bsSkewing;
            break;
        default:
            break;
        }
        if (zone != hzNone)
            return;
    } else if (zone == hzHandle) {
        FState = bsRotating;
        return;
    } else if (zone != hzNone) {
        FState = bsResizing;
        return;
    }
    if (inside) {
        FState = bsMoving;
        FMoveOffset = POINT{X - FCenter.x, Y - FCenter.y};
    } else
        Hide();
}

void TSelectArea::MouseMove(TShiftState Shift, int X, int Y) {
    if (FState == bsHidden || !FWindow)
        return;
    if (FPending) {
        const int threshold = Mouse.DragThreshold();
        if (std::abs(X - FPressPoint.x) <= threshold && std::abs(Y - FPressPoint.y) <= threshold)
            return;
        FPending = false;
    }
    if (FState == bsIdle) {
        UpdateHover(X, Y);
        return;
    }
    CheckAutoScroll(X, Y);
    const int w = ImageWidth(), h = ImageHeight();
    if (w < 1 || h < 1)
        return;
    const POINT p = ScreenToBox(X, Y);
    bool changed = false;
    auto set = [&changed](auto &Field, auto Value) {
        if (Field != Value) {
            Field = Value;
            changed = true;
        }
    };
    switch (FState) {
    case bsMoving:
        set(FCenter.x, std::clamp<LONG>(X - FMoveOffset.x, 0, w - 1));
        set(FCenter.y, std::clamp<LONG>(Y - FMoveOffset.y, 0, h - 1));
        break;
    case bsResizing: {
        const int fromWidth = std::abs(RoundInt(static_cast<double>(h) * p.x / (w * FStretch)));
        set(FHalfHeight, std::clamp(std::max(fromWidth, std::abs(static_cast<int>(p.y))), MinHalfHeight, h));
        break;
    }
    case bsRotating:
        set(FAngle, Angle(X - FCenter.x, FCenter.y - Y) - FGrabAngle);
        break;
    case bsStretchingSide:
        set(FStretch,
            std::clamp(std::abs(p.x) * static_cast<double>(h) / (static_cast<double>(w) * FHalfHeight),
                       static_cast<double>(MinHalfHeight) / FHalfHeight,
                       static_cast<double>(w) / FHalfHeight));
        break;
    case bsStretchingTopBottom: {
        // The width stays: the stretch takes up the change of the height.
        const int height = std::clamp(std::abs(static_cast<int>(p.y)), MinHalfHeight, h);
        if (height != FHalfHeight) {
            FStretch = FStretch * FHalfHeight / height;
            FHalfHeight = height;
            changed = true;
        }
        break;
    }
    case bsStretchingCorner: {
        const int height = std::clamp(std::abs(static_cast<int>(p.y)), MinHalfHeight, h);
        const double stretch =
            std::clamp(std::abs(p.x) * static_cast<double>(h) / (static_cast<double>(w) * height),
                       static_cast<double>(MinHalfHeight) / height, static_cast<double>(w) / height);
        set(FHalfHeight, height);
        set(FStretch, stretch);
        break;
    }
    case bsSkewing: {
        const double c = std::cos(FAngle), s = std::sin(FAngle);
        const double along = c * (X - FCenter.x) + s * (Y - FCenter.y);
        set(FSkew, std::clamp(std::atan(along / FBox.top), -MaxSkew, MaxSkew));
        break;
    }
    default:
        break;
    }
    if (changed)
        Geometry();
}

void TSelectArea::MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) {
    FPending = false;
    if (FState != bsHidden)
        FState = bsIdle;
}

// --- Keyboard ----------------------------------------------------------------------------------

void TSelectArea::KeyDown(WORD &Key, TShiftState Shift) {
    if (FState == bsHidden || !FWindow)
        return;
    const bool fine = (Shift & ssCtrl) != 0;
    const int step = fine ? 1 : 5;
    const double angleStep = (fine ? 1 : 5) * Pi / 180;
    const double factor = fine ? 1.02 : 1.1;
    switch (Key) {
    case VK_LEFT:
        FCenter.x -= step;
        break;
    case VK_RIGHT:
        FCenter.x += step;
        break;
    case VK_UP:
        if (Shift & ssShift)
            FStretch /= factor;
        else
            FCenter.y -= step;
        break;
    case VK_DOWN:
        if (Shift & ssShift)
            FStretch *= factor;
        else
            FCenter.y += step;
        break;
    case VK_INSERT:
        FStretch /= factor;
        break;
    case VK_DELETE:
        FStretch *= factor;
        break;
    case VK_PRIOR:
        FHalfHeight -= step;
        break;
    case VK_NEXT:
        FHalfHeight += step;
        break;
    case VK_HOME:
        FSkew += angleStep;
        break;
    case VK_END:
        FSkew -= angleStep;
        break;
    case VK_ADD:
        FAngle += angleStep;
        break;
    case VK_SUBTRACT:
        FAngle -= angleStep;
        break;
    case VK_RETURN:
        Key = 0;
        if (Shift & ssCtrl)
            FWindow->HostSelectZoomOut();
        else
            FWindow->HostSelectZoomIn();
        return;
    case VK_ESCAPE:
        Key = 0;
        Hide();
        return;
    default:
        return;
    }
    Key = 0;
    const int w = ImageWidth(), h = ImageHeight();
    FAngle = static_cast<double>(NormalizeAngle(FAngle));
    FHalfHeight = std::clamp(FHalfHeight, MinHalfHeight, std::max(MinHalfHeight, h / 2));
    FCenter.x = std::clamp<LONG>(FCenter.x, 0, w);
    FCenter.y = std::clamp<LONG>(FCenter.y, 0, h);
    FStretch = std::clamp(FStretch, 0.1, 10.0);
    FSkew = std::clamp(FSkew, -MaxSkew, MaxSkew);
    Geometry();
}

// --- Auto-scroll -------------------------------------------------------------------------------

void TSelectArea::CheckAutoScroll(int X, int Y) {
    if (!FScrollTimer || FScrollTimer->Enabled())
        return;
    TScrollingWinControl *box = FWindow->HostScrollBox();
    if (!box || !box->HandleAllocated())
        return;
    const TPoint p = box->ScreenToClient(FWindow->HostDisplay()->ClientToScreen(TPoint{X, Y}));
    const int width = box->ClientWidth(), height = box->ClientHeight();
    if (p.Y < ScrollZone || p.Y >= height - ScrollZone || p.X < ScrollZone || p.X >= width - ScrollZone)
        FScrollTimer->SetEnabled(true);
}

void TSelectArea::ScrollTimer(TObject *Sender) {
    TScrollingWinControl *box = FWindow ? FWindow->HostScrollBox() : nullptr;
    if (!box || !box->HandleAllocated() || FState <= bsIdle) {
        FScrollTimer->SetEnabled(false);
        return;
    }
    const TPoint p = box->ScreenToClient(Mouse.CursorPos());
    const int width = box->ClientWidth(), height = box->ClientHeight();
    TControlScrollBar &vertical = box->VertScrollBar(), &horizontal = box->HorzScrollBar();
    const int oldVertical = vertical.Position(), oldHorizontal = horizontal.Position();
    if (p.Y < ScrollZone)
        vertical.SetPosition(oldVertical - ScrollStep);
    else if (p.Y >= height - ScrollZone)
        vertical.SetPosition(oldVertical + ScrollStep);
    else if (p.X < ScrollZone)
        horizontal.SetPosition(oldHorizontal - ScrollStep);
    else if (p.X >= width - ScrollZone)
        horizontal.SetPosition(oldHorizontal + ScrollStep);
    if (vertical.Position() == oldVertical && horizontal.Position() == oldHorizontal)
        FScrollTimer->SetEnabled(false);
}

// --- Module ------------------------------------------------------------------------------------

TSelectArea *SelectArea() {
    return GlobalSelectArea;
}

void InitializeSelectArea() {
    if (!GlobalSelectArea)
        GlobalSelectArea = new TSelectArea();
}

void FinalizeSelectArea() {
    delete GlobalSelectArea;
    GlobalSelectArea = nullptr;
}
