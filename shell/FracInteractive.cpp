#include "FracInteractive.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "FracMapping.h"
#include "GenSetup.h"
#include "GenUtils.h"
#include "HugeMath.h"

namespace {

constexpr double Pi = std::numbers::pi;

// Angle of the vector in [0, 2 pi), the components given as VectorAngle takes them (Y first).
double Angle(int Y, int X) {
    return static_cast<double>(VectorAngle(Y, X));
}

double RoundToMultiple(double Value, double Step) {
    return std::round(Value / Step) * Step;
}

// Multiplies the mapping's magnification by Numerator / Denominator in exact decimal arithmetic.
void ScaleMagnification(TMapping &Mapping, std::int64_t Numerator, std::int64_t Denominator) {
    const int digits = static_cast<int>(std::clamp<std::int64_t>(
        MagnificationDigits(Mapping.Magnification.GetValue()) + 10, HugeMinDigits, HugeMaxDigits));
    THugeFloat value(digits);
    value.SetText(Mapping.Magnification.GetText());
    value.Multiply(THugeFloat(digits, static_cast<std::int32_t>(Numerator)));
    value.Divide(THugeFloat(digits, static_cast<std::int32_t>(Denominator)));
    Mapping.Magnification.SetText(value.GetText());
}

std::int32_t RoundSide(double Value) {
    return static_cast<std::int32_t>(std::max(1.0, std::round(Value)));
}

} // namespace

TPixelUnit PixelUnit(std::int32_t Width, std::int32_t Height) {
    if (3LL * Width > 4LL * Height)
        return {3, Height};
    return {4, Width};
}

std::unique_ptr<TAnimatedCorners> ViewBoxCorners(const TViewBox &Box, std::int32_t Width, std::int32_t Height,
                                                 bool Stretched) {
    auto corners = std::make_unique<TAnimatedCorners>(Height > 0 ? static_cast<double>(Width) / Height : 1.0);
    if (Height < 1)
        return corners;
    corners->Scale(2 * Box.HalfHeight / Height);
    if (Stretched)
        corners->Stretch(Box.Stretch);
    corners->Skew(Box.Skew);
    corners->Rotate(Box.Angle);
    corners->Translate((Box.CenterX - Width / 2) / Height, (Box.CenterY - Height / 2) / Height);
    corners->Invert();
    return corners;
}

TInteractiveFractal::TInteractiveFractal(TCalculateManager *AManager, THistoryDataManager *AHistoryManager)
    : TPersistentFractal(AManager, AHistoryManager) {
    // The layers the base made before this class could make them.
    for (int i = 0; i < GetLayers().Count(); ++i)
        GetLayers().Items(i).SetShared(true);
}

std::unique_ptr<TLayer> TInteractiveFractal::CreateLayer() {
    std::unique_ptr<TLayer> layer = TPersistentFractal::CreateLayer();
    layer->SetShared(true);
    return layer;
}

// --- Mouse drags -------------------------------------------------------------------------------

void TInteractiveFractal::BeginDrag(TDragKind Kind, POINT Point) {
    FDragKind = Kind;
    FStartPoint = Point;
    FLastPoint = Point;
    FStartAngle = Angle(Point.x - GetWidth() / 2, Point.y - GetHeight() / 2);
    PauseCalculation();
}

std::unique_ptr<TAnimatedCorners> TInteractiveFractal::DragTransform(POINT Point, TDragShift Shift) {
    const std::int32_t w = GetWidth(), h = GetHeight();
    if (FDragKind == TDragKind::None || h < 1)
        return nullptr;
    auto t = std::make_unique<TAnimatedCorners>(static_cast<double>(w) / h);
    const bool ctrl = (Shift & dsCtrl) != 0, shift = (Shift & dsShift) != 0, alt = (Shift & dsAlt) != 0;
    const int x0 = FStartPoint.x, y0 = FStartPoint.y;
    switch (FDragKind) {
    case TDragKind::Zoom: {
        FZoomFactor = std::exp((y0 - Point.y) / (ctrl ? 400.0 : 100.0));
        const double px = static_cast<double>(x0 - w / 2) / h, py = static_cast<double>(y0 - h / 2) / h;
        t->Translate(-px, -py);
        t->Scale(FZoomFactor);
        t->Translate(px, py);
        break;
    }
    case TDragKind::Pan: {
        int dx = Point.x - x0, dy = Point.y - y0;
        if (ctrl) {
            dx /= 4;
            dy /= 4;
        }
        FPanOffset = {dx, dy};
        t->Translate(static_cast<double>(dx) / h, static_cast<double>(dy) / h);
        break;
    }
    case TDragKind::Rotate:
        FRotationAngle = FStartAngle - Angle(Point.x - w / 2, Point.y - h / 2);
        if (shift)
            FRotationAngle = RoundToMultiple(FRotationAngle, Pi / 4);
        t->Rotate(FRotationAngle);
        break;
    case TDragKind::Stretch: {
        const int dx = Point.x - x0, dy = Point.y - y0;
        const double distance = std::sqrt(static_cast<double>(dx) * dx + static_cast<double>(dy) * dy);
        FStretchFactor = std::exp(distance / 400);
        if (alt)
            FStretchFactor = 1 / FStretchFactor;
        FStretchAngle = Angle(dy, dx);
        if (shift)
            FStretchAngle = RoundToMultiple(FStretchAngle, Pi / 4);
        t->Rotate(-FStretchAngle);
        t->Stretch(FStretchFactor);
        t->Rotate(FStretchAngle);
        break;
    }
    case TDragKind::Skew: {
        const int half = h / 2, x = Point.x, y = Point.y;
        if (y > half)
            FSkewAngle = x0 < x ? -Angle(x - x0, y - half) : Angle(x0 - x, y - half);
        else
            FSkewAngle = x0 < x ? Angle(x - x0, half - y) : -Angle(x0 - x, half - y);
        FSkewAngle = std::clamp(FSkewAngle, -0.45 * Pi, 0.45 * Pi);
        t->Skew(-FSkewAngle);
        break;
    }
    default:
        break;
    }
    return t;
}

void TInteractiveFractal::DragTo(POINT Point, TDragShift Shift) {
    if (FDragKind == TDragKind::None || (Point.x == FLastPoint.x && Point.y == FLastPoint.y))
        return;
    FLastPoint = Point;
    if (std::unique_ptr<TAnimatedCorners> t = DragTransform(Point, Shift))
        SetCorners(*t, false, std::string(), false);
}

void TInteractiveFractal::EndDrag(POINT Point, TDragShift Shift) {
    std::unique_ptr<TAnimatedCorners> t = DragTransform(Point, Shift);
    const TDragKind kind = FDragKind;
    FDragKind = TDragKind::None;
    if (!t)
        return;
    const char *caption = "";
    switch (kind) {
    case TDragKind::Zoom:
        caption = FZoomFactor < 1 ? "Zoom Out" : "Zoom In";
        break;
    case TDragKind::Pan:
        caption = "Pan";
        break;
    case TDragKind::Rotate:
        caption = "Rotate";
        break;
    case TDragKind::Stretch:
        caption = "Stretch";
        break;
    default:
        caption = "Skew";
        break;
    }
    SetCorners(*t, true, caption, false);
}

void TInteractiveFractal::CancelDrag() {
    if (FDragKind == TDragKind::None)
        return;
    GetUpdateManager().View().Reset();
    GetUpdateManager().InvalidateAll();
    ResumeCalculation();
    FDragKind = TDragKind::None;
}

// --- View operations ---------------------------------------------------------------------------

void TInteractiveFractal::ApplyToLayers(const TAnimatedCorners &Transform, bool AllLayers) {
    const std::int32_t w = GetWidth(), h = GetHeight();
    long double x[3], y[3];
    for (int i = 0; i < 3; ++i) {
        const TViewPoint corner = Transform.GetCorner(i);
        x[i] = static_cast<long double>(corner.X) * h + w / 2;
        y[i] = static_cast<long double>(corner.Y) * h + h / 2;
    }
    TLayerList &layers = GetLayers();
    for (int i = 0; i < layers.Count(); ++i) {
        TLayer &layer = layers.Items(i);
        if (!AllLayers && !layer.GetEditable())
            continue;
        TMapping &mapping = layer.GetMapping();
        TComplexValue leftTop, rightTop, rightBottom;
        mapping.PointToLocation(leftTop, x[0], y[0]);
        mapping.PointToLocation(rightTop, x[1], y[1]);
        mapping.PointToLocation(rightBottom, x[2], y[2]);
        mapping.SetCorners(leftTop.Re.GetText(), leftTop.Im.GetText(), rightBottom.Re.GetText(),
                           rightBottom.Im.GetText(), rightTop.Re.GetText(), rightTop.Im.GetText());
    }
}

void TInteractiveFractal::SetCorners(const TAnimatedCorners &Transform, bool Apply,
                                     const std::string &Caption, bool Animate) {
    if (!Apply) {
        GetUpdateManager().View().Assign(Transform);
        GetUpdateManager().InvalidateAll();
        return;
    }
    BeginChange();
    try {
        PauseCalculation();
        GetUpdateManager().AnimateCorners(Transform, Animate);
        std::unique_ptr<TAnimatedCorners> inverse = TAnimatedCorners::CreateCopy(Transform);
        inverse->Invert();
        ApplyToLayers(*inverse, false);
        ResumeCalculation();
    } catch (...) {
        EndChange();
        throw;
    }
    EndChangeCaption(Caption);
}

void TInteractiveFractal::ZoomAt(POINT Point, double Factor, bool Animate, bool Apply, bool KeepPoint) {
    const std::int32_t w = GetWidth(), h = GetHeight();
    if (h < 1)
        return;
    const double px = static_cast<double>(Point.x - w / 2) / h, py = static_cast<double>(Point.y - h / 2) / h;
    TAnimatedCorners t(static_cast<double>(w) / h);
    t.Translate(-px, -py);
    t.Scale(Factor);
    if (KeepPoint)
        t.Translate(px, py);
    SetCorners(t, Apply, Factor < 1 ? "Zoom Out" : "Zoom In", Animate);
}

double TInteractiveFractal::ClickZoomFactor(TDragShift Shift) const {
    int factor = 0, shiftFactor = 2;
    if (TConfigManager *config = ConfigManager(); config && config->Fractal) {
        factor = config->Fractal->ZoomFactor;
        shiftFactor = config->Fractal->ZoomShiftFactor;
    }
    return ((Shift & dsShift) ? shiftFactor : factor) + 2;
}

void TInteractiveFractal::ZoomInAt(POINT Point, TDragShift Shift) {
    const TConfigManager *config = ConfigManager();
    const bool keepPoint = !(config && config->Fractal && config->Fractal->ZoomDestination == 1);
    ZoomAt(Point, ClickZoomFactor(Shift), true, true, keepPoint);
}

void TInteractiveFractal::ZoomOutAt(POINT Point, TDragShift Shift) {
    const TConfigManager *config = ConfigManager();
    const bool keepPoint = !(config && config->Fractal && config->Fractal->ZoomDestination == 1);
    ZoomAt(Point, 1 / ClickZoomFactor(Shift), true, true, keepPoint);
}

void TInteractiveFractal::ZoomIn(const TAnimatedCorners &Transform, bool Animate, bool AllLayers) {
    BeginChange();
    TUpdateManager &display = GetUpdateManager();
    const bool forced = display.GetForceTransform();
    try {
        PauseCalculation();
        // With all layers every layer's picture moves with the view.
        display.SetForceTransform(forced || AllLayers);
        display.AnimateCorners(Transform, Animate);
        display.SetForceTransform(forced);
        std::unique_ptr<TAnimatedCorners> inverse = TAnimatedCorners::CreateCopy(Transform);
        inverse->Invert();
        ApplyToLayers(*inverse, AllLayers);
        ResumeCalculation();
    } catch (...) {
        display.SetForceTransform(forced);
        EndChange();
        throw;
    }
    EndChangeCaption("Zoom In");
}

void TInteractiveFractal::ZoomOut(const TAnimatedCorners &Transform, bool Animate) {
    BeginChange();
    try {
        PauseCalculation();
        std::unique_ptr<TAnimatedCorners> inverse = TAnimatedCorners::CreateCopy(Transform);
        inverse->Invert();
        GetUpdateManager().AnimateCorners(*inverse, Animate);
        ApplyToLayers(Transform, false);
        ResumeCalculation();
    } catch (...) {
        EndChange();
        throw;
    }
    EndChangeCaption("Zoom Out");
}

void TInteractiveFractal::CheckImageSize(std::int32_t Width, std::int32_t Height) const {
    std::int32_t maxWidth = DefaultMaxWidth, maxHeight = DefaultMaxHeight;
    if (TConfigManager *config = ConfigManager(); config && config->Fractal) {
        maxWidth = config->Fractal->MaxWidth;
        maxHeight = config->Fractal->MaxHeight;
    }
    if (Width > maxWidth || Height > maxHeight)
        throw EViewOperationError(
            "The new image would be %d x %d pixels; images may be at most %d x %d pixels.", Width, Height,
            maxWidth, maxHeight);
}

void TInteractiveFractal::Crop(RECT Rectangle) {
    Rectangle.right = std::max(Rectangle.right, Rectangle.left + 1);
    Rectangle.bottom = std::max(Rectangle.bottom, Rectangle.top + 1);
    const std::int32_t w = GetWidth(), h = GetHeight();
    const std::int32_t newWidth = Rectangle.right - Rectangle.left,
                       newHeight = Rectangle.bottom - Rectangle.top;
    CheckImageSize(newWidth, newHeight);
    const bool finished = IsCalculationDone();
    PauseCalculation();
    const bool survive = finished && Rectangle.left >= 0 && Rectangle.top >= 0 && Rectangle.right <= w &&
                         Rectangle.bottom <= h;
    // The centre of the new image is the old pixel that lands on it: (left + right) div 2 for a
    // rectangle inside the image, also exact for one that reaches beyond its left or top edge.
    const std::int32_t centerX = Rectangle.left + newWidth / 2, centerY = Rectangle.top + newHeight / 2;
    const TPixelUnit oldUnit = PixelUnit(w, h), newUnit = PixelUnit(newWidth, newHeight);
    BeginChange();
    TUpdateManager &display = GetUpdateManager();
    display.BeginUpdate();
    try {
        StoreLayerImages();
        TLayerList &layers = GetLayers();
        for (int i = 0; i < layers.Count(); ++i) {
            TLayer &layer = layers.Items(i);
            TMemoryStream state;
            if (survive) {
                // A finished image needs none of the pieces that made it, and their rectangles lie
                // in the old image.
                layer.ClearPieces();
                layer.WriteResumeState(state);
            }
            TMapping &mapping = layer.GetMapping();
            TComplexValue center;
            mapping.PointToLocation(center, centerX, centerY);
            mapping.BeginUpdate();
            try {
                mapping.Center.Assign(center);
                // The same pixel scale: M' / U' = M / U.
                ScaleMagnification(mapping, newUnit.Numerator * oldUnit.Denominator,
                                   newUnit.Denominator * oldUnit.Numerator);
            } catch (...) {
                mapping.EndUpdate();
                throw;
            }
            mapping.EndUpdate();
            if (survive) {
                layer.Crop(TLayerRect{Rectangle.left, Rectangle.top, Rectangle.right, Rectangle.bottom});
                state.SetPosition(0);
                layer.ReadResumeState(state);
                layer.SetImageChanged(true);
            }
        }
        SetImageSize(newWidth, newHeight);
    } catch (...) {
        display.EndUpdate();
        EndChange();
        throw;
    }
    display.EndUpdate();
    EndChangeCaption("Crop");
}

// --- Selection box -----------------------------------------------------------------------------

void TInteractiveFractal::ZoomAndResize(const TAnimatedCorners &Transform, bool Out, bool Animate,
                                        bool AllLayers, std::int32_t NewWidth, std::int32_t NewHeight,
                                        const std::string &Caption) {
    BeginChange();
    try {
        if (Out)
            ZoomOut(Transform, Animate);
        else
            ZoomIn(Transform, Animate, AllLayers);
        SetImageSize(NewWidth, NewHeight);
    } catch (...) {
        EndChange();
        throw;
    }
    EndChangeCaption(Caption);
}

void TInteractiveFractal::SelectZoom(const TViewBox &Box, bool StretchMode, bool Out) {
    const std::int32_t w = GetWidth(), h = GetHeight();
    std::int32_t newWidth = w, newHeight = h;
    if (!StretchMode) {
        // Zooming in, the image takes the box's aspect; zooming out, the inverse one.
        if ((Box.Stretch < 1) != Out)
            newWidth = RoundSide(Out ? w / Box.Stretch : w * Box.Stretch);
        else
            newHeight = RoundSide(Out ? h * Box.Stretch : h / Box.Stretch);
    }
    std::unique_ptr<TAnimatedCorners> t = ViewBoxCorners(Box, w, h, StretchMode);
    if (!StretchMode) {
        // The box's height and the new image's height stand for the same part of the plane: the
        // magnification that the layers get from the box for the old size, times
        // g = U(new) H' / (U(old) H). Scaling the transform by g does that when the layers take its
        // inverse (zooming in), by 1 / g when they take the transform itself (zooming out).
        const TPixelUnit oldUnit = PixelUnit(w, h), newUnit = PixelUnit(newWidth, newHeight);
        const double g = static_cast<double>(newUnit.Numerator * oldUnit.Denominator * newHeight) /
                         static_cast<double>(newUnit.Denominator * oldUnit.Numerator * h);
        t->Scale(Out ? 1 / g : g);
    }
    ZoomAndResize(*t, Out, newWidth == w && newHeight == h, false, newWidth, newHeight,
                  Out ? "Zoom Out" : "Zoom In");
}

void TInteractiveFractal::SelectCrop(const TViewBox &Box) {
    const std::int32_t w = GetWidth(), h = GetHeight();
    if (h < 1 || !(Box.HalfHeight > 0))
        throw EViewOperationError("The selection has no height.");
    const double angle = std::fmod(std::fmod(Box.Angle, 2 * Pi) + 2 * Pi, 2 * Pi);
    const double m = h / (2 * Box.HalfHeight);
    if (angle <= 0.01 && std::fabs(Box.Skew) <= 0.01) {
        const double hh = h / (2 * m);
        const int halfWidth = static_cast<int>(std::round(hh * Box.Stretch * w / h));
        const int halfHeight = static_cast<int>(std::round(hh));
        const int cx = static_cast<int>(std::round(Box.CenterX)),
                  cy = static_cast<int>(std::round(Box.CenterY));
        Crop(RECT{cx - halfWidth, cy - halfHeight, cx + halfWidth, cy + halfHeight});
        return;
    }
    const std::int32_t newWidth = RoundSide(w * Box.Stretch / m), newHeight = RoundSide(h / m);
    CheckImageSize(newWidth, newHeight);
    std::unique_ptr<TAnimatedCorners> t = ViewBoxCorners(Box, w, h, false);
    // The unstretched box gives the layers m times the magnification for the old size; the new
    // image keeps the old pixel scale: M' = M U(new) / U(old).
    const TPixelUnit oldUnit = PixelUnit(w, h), newUnit = PixelUnit(newWidth, newHeight);
    const double f = m * static_cast<double>(oldUnit.Numerator * newUnit.Denominator) /
                     static_cast<double>(oldUnit.Denominator * newUnit.Numerator);
    t->Scale(1 / f);
    ZoomAndResize(*t, false, false, true, newWidth, newHeight, "Crop");
}
