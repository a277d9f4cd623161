#include "TrackBar.h"

#include <algorithm>
#include <cstdint>
#include <memory>

#include "SysUtils.h"

namespace {
// The usable thumb range is 4 .. Width - 5: the thumb is 9 pixels wide.
constexpr int ThumbSize = 9;
constexpr int ThumbHalf = 4;

std::unique_ptr<TImageList> Thumb;
std::unique_ptr<TBitmap> Background;

// a * b / c rounded to the nearest, as the system's MulDiv, for a, b >= 0 and c > 0.
int ScaleRounded(int a, int b, int c) {
    return static_cast<int>((static_cast<int64_t>(a) * b + c / 2) / c);
}

// The thumb in the present button colours: a 9 x 9 plate with a point at the bottom, lit from
// the top left; fuchsia is left out when it is drawn.
TImageList &ThumbImage() {
    if (Thumb)
        return *Thumb;
    TBitmap image(ThumbSize, ThumbSize, pf24bit);
    TCanvas &canvas = image.Canvas();
    canvas.Brush().SetColor(clFuchsia);
    canvas.FillRect({0, 0, ThumbSize, ThumbSize});
    for (int y = 0; y < ThumbSize; ++y) {
        // Rows 0 to 4 are full; below them the plate narrows to the point.
        int inset = y < 5 ? 0 : y - 4;
        int left = inset, right = ThumbSize - 1 - inset;
        for (int x = left; x <= right; ++x) {
            TColor color = clBtnFace;
            if (y == 0 || x == left)
                color = clBtnHighlight;
            if (x == right || (y >= 5 && x > ThumbHalf) || y == ThumbSize - 1)
                color = x == left && y < 5 ? clBtnHighlight : clBtnShadow;
            canvas.SetPixel(x, y, ColorToRGB(color));
        }
    }
    Thumb = std::make_unique<TImageList>(ThumbSize, ThumbSize);
    Thumb->AddMasked(image, clFuchsia);
    return *Thumb;
}
} // namespace

void FinalizeTrackBar() {
    Thumb.reset();
    Background.reset();
}

TAdvTrackBar::TAdvTrackBar(TComponent *AOwner) : TGraphicControl(AOwner) {
    FControlStyle |= csOpaque;
    FWidth = 65;
    FHeight = 17;
    UpdateThumb();
}

void TAdvTrackBar::UpdateThumb() {
    // An empty range or a bar too narrow for the thumb keeps it at the start of the track.
    if (FMax == FMin || FWidth - ThumbSize <= 0)
        FThumbX = ThumbHalf;
    else
        FThumbX = ScaleRounded(FPosition - FMin, FWidth - ThumbSize, FMax - FMin) + ThumbHalf;
}

void TAdvTrackBar::SetPosition(int Value) {
    Value = std::clamp(Value, FMin, FMax);
    if (Value == FPosition)
        return;
    FPosition = Value;
    UpdateThumb();
    Invalidate();
}

void TAdvTrackBar::SetMax(int Value) {
    if (Value == FMax)
        return;
    FMax = Value;
    if (FMax < FMin)
        FMin = FMax;
    if (FMax < FPosition)
        FPosition = FMax;
    UpdateThumb();
    Invalidate();
}

void TAdvTrackBar::SetMin(int Value) {
    if (Value == FMin)
        return;
    FMin = Value;
    if (FMin > FMax)
        FMax = FMin;
    if (FMin > FPosition)
        FPosition = FMin;
    UpdateThumb();
    Invalidate();
}

void TAdvTrackBar::InteriorChanged() {
    if (!FInChange)
        Invalidate();
}

void TAdvTrackBar::SetBounds(int ALeft, int ATop, int AWidth, int AHeight) {
    TGraphicControl::SetBounds(ALeft, ATop, AWidth, AHeight);
    UpdateThumb();
}

void TAdvTrackBar::SetThumb(int X) {
    int last = FWidth - ThumbHalf - 1;
    X = last < ThumbHalf ? ThumbHalf : std::clamp(X, ThumbHalf, last);
    if (X == FThumbX)
        return;
    FThumbX = X;
    int span = FWidth - ThumbSize;
    FPosition = span > 0 ? ScaleRounded(X - ThumbHalf, FMax - FMin, span) + FMin : FMin;
    Invalidate();
    FInChange = true;
    try {
        OnChange(this);
    } catch (...) {
        FInChange = false;
        throw;
    }
    FInChange = false;
}

void TAdvTrackBar::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) {
    TGraphicControl::MouseDown(Button, Shift, X, Y);
    if (Button == mbLeft)
        SetThumb(X);
}

void TAdvTrackBar::MouseMove(TShiftState Shift, int X, int Y) {
    TGraphicControl::MouseMove(Shift, X, Y);
    if (Shift & ssLeft)
        SetThumb(X);
}

void TAdvTrackBar::Paint() {
    if (FWidth <= 0 || FHeight <= 0)
        return;
    if (!Background)
        Background = std::make_unique<TBitmap>(FWidth, FHeight);
    else if (Background->Width() != FWidth || Background->Height() != FHeight)
        Background->SetSize(FWidth, FHeight);
    TCanvas &canvas = Background->Canvas();
    canvas.Brush().SetColor(FColor);
    RECT all = {0, 0, FWidth, FHeight};
    canvas.FillRect(all);
    RECT frame = {2, 0, FWidth - 2, FHeight - 5};
    Frame3D(canvas, frame, clBtnShadow, clBtnHighlight, 1);
    Frame3D(canvas, frame, cl3DDkShadow, clBtnFace, 1);
    RECT inside = {4, 2, FWidth - 4, FHeight - 7};
    if (inside.right > inside.left && inside.bottom > inside.top) {
        canvas.Brush().SetColor(FColor);
        canvas.FillRect(inside);
        OnPaintInterior(this, canvas, inside);
    }
    FCanvas->CopyRect(all, canvas, all);
    ThumbImage().Draw(*FCanvas, FThumbX - ThumbHalf, FHeight - ThumbSize, 0, FEnabled);
}

void TAdvTrackBar::WndProc(TMessage &Message) {
    switch (Message.Msg) {
    case CM_SYSCOLORCHANGE:
        Thumb.reset(); // made again in the new button colours
        Invalidate();
        break;
    case CM_COLORCHANGED:
        Invalidate();
        break;
    default:
        break;
    }
    TGraphicControl::WndProc(Message);
}
