// The screen eyedropper: a control starts picking a location (a complex number) from a fractal
// window or a colour from a fractal window or a gradient editor's curve; the windows under the
// pointer report pointer moves and the button release to it, and it reports back through the
// caller's callback. The windows take part through the target interfaces below.
#pragma once

#include <windows.h>

#include <cstdint>

#include "AdvCtrls.h"
#include "ColorSelector.h"

class TComplexValue;
class TBaseBitmap;

// What the eyedropper uses of a fractal window; the fractal window implements it.
class TEyedropFractalTarget {
public:
    virtual ~TEyedropFractalTarget() = default;
    // The control that shows the image; positions given to PickAt are in its client coordinates.
    virtual TControl *EyedropDisplay() = 0;
    // The location of an image point by the document's location mapping (PointToLocation);
    // false while there is no mapping to ask.
    virtual bool EyedropLocation(int X, int Y, TComplexValue &Location) = 0;
    // The display bitmap, nullptr while there is none; it is read under its own lock.
    virtual TBaseBitmap *EyedropBitmap() = 0;
};

// What the eyedropper uses of a gradient editor window; the gradient editor implements it.
class TEyedropGradientTarget {
public:
    virtual ~TEyedropGradientTarget() = default;
    static constexpr int CurveCount = 7; // red, green, blue, hue, saturation, luminance, opacity
    // The curve control with that index (0 to 6).
    virtual TControl *GetCurve(int Index) = 0;
};

// What the eyedropper uses of a gradient curve; the curve control implements it.
class TEyedropCurveTarget {
public:
    virtual ~TEyedropCurveTarget() = default;
    // The gradient colour (24-bit RGB) at the x position of a client point; black without one.
    virtual TColor ColorAt(TPoint Point) = 0;
};

// Actions passed to the callbacks.
enum : uint8_t { eaLeft = 0, eaPreview = 1, eaPicked = 2, eaCancelled = 3 };

// Value is nullptr where there is none; callbacks copy it.
using TEyedropLocationEvent = TMethod<void(uint8_t Action, const TComplexValue *Value)>;
using TEyedropColorEvent = TMethod<void(uint8_t Action, TColor Color)>;

class TEyedropper : public TComponent {
public:
    DECLARE_CLASS_NAME(TEyedropper)
    // Modes.
    static constexpr uint8_t emNone = 0, emLocation = 1, emColor = 2;
    static constexpr UINT TimerInterval = 100;

    explicit TEyedropper(TComponent *AOwner);
    ~TEyedropper() override;

    uint8_t Mode() const { return FMode; }
    bool IsActive() const { return FMode != emNone; }
    // The component that started the pick under way; when it is destroyed, the pick ends with
    // no call.
    TComponent *PickOwner() const { return FPickOwner; }
    bool TimerRunning() const;

    // Each first cancels a pick under way (action 3).
    void StartLocation(TComponent *Owner, TEyedropLocationEvent Callback);
    void StartColor(TComponent *Owner, TEyedropColorEvent Callback);
    void Cancel();
    // From a fractal window (Control is the window or its display) or a gradient curve, with the
    // pointer in the display's or curve's client coordinates: moves (Picked false) and the button
    // release (Picked true).
    void PickAt(TControl *Control, int X, int Y, bool Picked);
    // Whether a screen point lies on a target: inside a fractal window's display or on a curve of
    // a gradient editor.
    bool PointOnTarget(TPoint Pos);

protected:
    void Notification(TComponent *AComponent, TOperation Operation) override;

private:
    void TimerTick(TObject *Sender);
    void RestartTimer();
    // Back to no pick; the callbacks and the owner are forgotten.
    void EndPick();
    TEyedropFractalTarget *FractalTargetOf(TControl *Control);

    uint8_t FMode = emNone;
    TTimer *FTimer = nullptr; // owned as a component
    TEyedropLocationEvent FLocationCallback;
    TEyedropColorEvent FColorCallback;
    TComponent *FPickOwner = nullptr;
};

// The one eyedropper of the program, made on first use.
TEyedropper &Eyedropper();
void FinalizeEyedropper();

// The colour of a pixel of a display bitmap, read under the bitmap's lock through a memory device
// context; false when the point is outside, there is no section, or the read fails (no preview).
bool ReadDisplayPixel(TBaseBitmap &Bitmap, int X, int Y, TColor &Color);

// The standard handling of a location pick for a pair of edits of the real and the imaginary
// part (any edit class with SetText and SetEyedropping): leaving and cancelling show OldValue
// again, a preview shows Value, a pick copies Value into OldValue.
template <class TPartEdit>
void EyedropperShowLocation(uint8_t Action, TPartEdit *ReEdit, TPartEdit *ImEdit, const TComplexValue *Value,
                            TComplexValue *OldValue);

// The standard handling of a colour pick for a colour selector: a preview shows Color, leaving and
// cancelling show OldColor, a pick leaves the selector to its owner; the opacity stays.
void EyedropperShowColor(uint8_t Action, TColorSelector *Selector, TColor Color, TColor OldColor);

#include "CompValues.h"

template <class TPartEdit>
void EyedropperShowLocation(uint8_t Action, TPartEdit *ReEdit, TPartEdit *ImEdit, const TComplexValue *Value,
                            TComplexValue *OldValue) {
    const TComplexValue *shown = nullptr;
    if (Action == eaLeft || Action == eaCancelled)
        shown = OldValue;
    else if (Action == eaPreview)
        shown = Value;
    else if (Action == eaPicked && Value && OldValue)
        OldValue->Assign(*Value);
    if (shown) {
        if (ReEdit)
            ReEdit->SetText(shown->Re.GetText());
        if (ImEdit)
            ImEdit->SetText(shown->Im.GetText());
    }
    bool eyedropping = Action == eaLeft || Action == eaPreview;
    if (ReEdit)
        ReEdit->SetEyedropping(eyedropping);
    if (ImEdit)
        ImEdit->SetEyedropping(eyedropping);
}
