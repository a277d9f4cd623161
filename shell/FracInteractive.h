// The document of the fractal window: the persistent fractal with the view operations a user
// performs with the mouse, the selection box and the zoom commands. Each operation is one undo step
// with its own caption. A mouse drag is previewed by moving the picture already on screen; releasing
// the mouse applies the move to the layers' locations and starts the recalculation.
//
// A view change is a picture transform (TAnimatedCorners): the corners top-left, top-right and
// bottom-right of the picture, in units of the image height around the image centre, y downwards.
// The display shows a transform by resampling the picture into the moved corners; the layers take
// its inverse: the picture's new corners, mapped through each layer's mapping to exact coordinates,
// become the layer's corners.
//
// Pixel scale: a layer of W x H pixels at magnification M spans U(W, H) / M per pixel, with
// U(w, h) = 3 / h for images wider than 4:3 and 4 / w otherwise. Operations that change the image
// size (crop, zooms into a box in resize mode) set the magnification through U, so that the kept
// pixels and the new size agree with the location.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "FracPersistent.h"

DECLARE_EXCEPTION(EViewOperationError, Exception);

// The view of a selection box: its centre in image pixels, its half-height in pixels, its stretch
// (width over the width of a box of the image's aspect), its angle and skew in radians.
struct TViewBox {
    double CenterX = 0;
    double CenterY = 0;
    double HalfHeight = 0;
    double Stretch = 1;
    double Angle = 0;
    double Skew = 0;
};

// U(w, h) as a fraction Numerator / Denominator of whole numbers.
struct TPixelUnit {
    std::int64_t Numerator;
    std::int64_t Denominator;
};
TPixelUnit PixelUnit(std::int32_t Width, std::int32_t Height);

// The picture transform that zooms into Box on an image of Width x Height: the box's view (the
// identity scaled to the box, stretched when Stretched is set, skewed, rotated and moved to its
// centre), inverted.
std::unique_ptr<TAnimatedCorners> ViewBoxCorners(const TViewBox &Box, std::int32_t Width, std::int32_t Height,
                                                 bool Stretched);

// The modifier keys of a mouse event, bits as in the class library's TDragShift (Controls.h,
// whose graphics names clash with the compiler's): Shift 1, Alt 2, Ctrl 4.
using TDragShift = std::uint16_t;
constexpr TDragShift dsShift = 1;
constexpr TDragShift dsAlt = 2;
constexpr TDragShift dsCtrl = 4;

class TInteractiveFractal : public TPersistentFractal {
public:
    enum class TDragKind : std::uint8_t { None = 0, Zoom = 1, Pan = 2, Rotate = 3, Stretch = 4, Skew = 5 };

    // The largest image size an operation may ask for when no configuration gives one.
    static constexpr std::int32_t DefaultMaxWidth = 1600;
    static constexpr std::int32_t DefaultMaxHeight = 1200;

    explicit TInteractiveFractal(TCalculateManager *AManager = nullptr,
                                 THistoryDataManager *AHistoryManager = nullptr);
    DECLARE_CLASS_NAME(TInteractiveFractal)

    // --- Mouse drags ---
    void BeginDrag(TDragKind Kind, POINT Point);
    void DragTo(POINT Point, TDragShift Shift);
    void EndDrag(POINT Point, TDragShift Shift);
    void CancelDrag();
    TDragKind GetDragKind() const { return FDragKind; }
    // The transform that a drag of the current kind to Point shows; nil without a drag. The
    // drag's angles and factors are updated.
    std::unique_ptr<TAnimatedCorners> DragTransform(POINT Point, TDragShift Shift);

    // --- View operations ---
    // With Apply: one undo step with Caption that moves the display to the transform and gives
    // the editable layers its inverse. Without: the display previews it.
    void SetCorners(const TAnimatedCorners &Transform, bool Apply, const std::string &Caption, bool Animate);
    // Zooms by Factor at Point; with KeepPoint the point under the mouse stays, without it the
    // point moves to the centre.
    void ZoomAt(POINT Point, double Factor, bool Animate, bool Apply, bool KeepPoint);
    void ZoomInAt(POINT Point, TDragShift Shift);
    void ZoomOutAt(POINT Point, TDragShift Shift);
    // Zooms into a view: the layers (all, or the editable ones) take the transform's inverse.
    void ZoomIn(const TAnimatedCorners &Transform, bool Animate, bool AllLayers);
    // The current view shrinks into the transform: the editable layers take the transform itself.
    void ZoomOut(const TAnimatedCorners &Transform, bool Animate);
    // Cuts the image to the rectangle (right and bottom exclusive). A rectangle of no width or
    // height is widened to one pixel; one larger than the maximum image size is refused with
    // EViewOperationError. The pixels survive when the rectangle lies inside a finished image.
    void Crop(RECT Rectangle);

    // --- Selection box ---
    // Zooms into the box; in resize mode the image takes the box's aspect (at least 1 pixel a
    // side), in stretch mode it keeps its size and the layers take the box's stretch.
    void SelectZoomIn(const TViewBox &Box, bool StretchMode) { SelectZoom(Box, StretchMode, false); }
    void SelectZoomOut(const TViewBox &Box, bool StretchMode) { SelectZoom(Box, StretchMode, true); }
    // An upright box cuts the image; a turned or skewed one makes a new image of the box's view at
    // the same pixel scale (refused with EViewOperationError beyond the maximum image size).
    void SelectCrop(const TViewBox &Box);

    double GetRotationAngle() const { return FRotationAngle; }
    double GetZoomFactor() const { return FZoomFactor; }
    double GetSkewAngle() const { return FSkewAngle; }
    double GetStretchAngle() const { return FStretchAngle; }
    double GetStretchFactor() const { return FStretchFactor; }
    // The pixels a pan drag moved the picture by, y downwards.
    POINT GetPanOffset() const { return FPanOffset; }

protected:
    std::unique_ptr<TLayer> CreateLayer() override;

private:
    // The layers (all, or the editable ones) take the location of the picture's corners.
    void ApplyToLayers(const TAnimatedCorners &Transform, bool AllLayers);
    // The zoom factor of a click: ZoomFactor + 2, or ZoomShiftFactor + 2 with Shift.
    double ClickZoomFactor(TDragShift Shift) const;
    void CheckImageSize(std::int32_t Width, std::int32_t Height) const;
    void SelectZoom(const TViewBox &Box, bool StretchMode, bool Out);
    // Zoom into the transform, then the new size, in one undo step with Caption.
    void ZoomAndResize(const TAnimatedCorners &Transform, bool Out, bool Animate, bool AllLayers,
                       std::int32_t NewWidth, std::int32_t NewHeight, const std::string &Caption);

    TDragKind FDragKind = TDragKind::None;
    double FRotationAngle = 0;
    POINT FPanOffset = {0, 0};
    POINT FLastPoint = {0, 0};
    double FZoomFactor = 1;
    double FStartAngle = 0;
    POINT FStartPoint = {0, 0};
    double FSkewAngle = 0;
    double FStretchAngle = 0;
    double FStretchFactor = 1;
};
