#include "GenEyedrop.h"

#include "CompValues.h"
#include "GenBitmap.h"

namespace {

TEyedropper *TheEyedropper = nullptr;

// Holds a display bitmap's lock for one scope.
class TBitmapLock {
public:
    explicit TBitmapLock(TBaseBitmap &Bitmap) : FBitmap(Bitmap) { Bitmap.Lock(); }
    ~TBitmapLock() { FBitmap.Unlock(); }
    TBitmapLock(const TBitmapLock &) = delete;
    TBitmapLock &operator=(const TBitmapLock &) = delete;

private:
    TBaseBitmap &FBitmap;
};

} // namespace

TEyedropper &Eyedropper() {
    if (!TheEyedropper)
        TheEyedropper = new TEyedropper(nullptr);
    return *TheEyedropper;
}

void FinalizeEyedropper() {
    FreeAndNil(TheEyedropper);
}

bool ReadDisplayPixel(TBaseBitmap &Bitmap, int X, int Y, TColor &Color) {
    TBitmapLock lock(Bitmap);
    if (!Bitmap.Section() || X < 0 || Y < 0 || X >= Bitmap.Width() || Y >= Bitmap.Height())
        return false;
    HDC dc = CreateCompatibleDC(nullptr);
    if (!dc)
        return false;
    COLORREF pixel = CLR_INVALID;
    // A section selected into another context cannot be selected here: that read fails too.
    if (HGDIOBJ old = SelectObject(dc, Bitmap.Section())) {
        pixel = GetPixel(dc, X, Y);
        SelectObject(dc, old);
    }
    DeleteDC(dc);
    if (pixel == CLR_INVALID)
        return false;
    Color = static_cast<TColor>(pixel & 0xFFFFFF);
    return true;
}

void EyedropperShowColor(uint8_t Action, TColorSelector *Selector, TColor Color, TColor OldColor) {
    if (!Selector)
        return;
    if (Action == eaPreview)
        Selector->SetSelectedColor(Color);
    else if (Action == eaLeft || Action == eaCancelled)
        Selector->SetSelectedColor(OldColor);
    Selector->SetEyedropping(Action == eaLeft || Action == eaPreview);
}

// =============================================================================================
// TEyedropper

TEyedropper::TEyedropper(TComponent *AOwner) : TComponent(AOwner) {
    FTimer = new TTimer(this);
    FTimer->SetInterval(TimerInterval);
    FTimer->SetOnTimer(MakeNotifyEvent<&TEyedropper::TimerTick>(this));
}

TEyedropper::~TEyedropper() {
    SetDestroying();
    if (FPickOwner)
        FPickOwner->RemoveFreeNotification(this);
    FPickOwner = nullptr;
}

bool TEyedropper::TimerRunning() const {
    return FTimer->Enabled();
}

void TEyedropper::EndPick() {
    FMode = emNone;
    FTimer->SetEnabled(false);
    FLocationCallback = nullptr;
    FColorCallback = nullptr;
    SetComponentReference<TComponent>(this, FPickOwner, nullptr);
}

void TEyedropper::Notification(TComponent *AComponent, TOperation Operation) {
    TComponent::Notification(AComponent, Operation);
    if (Operation == opRemove && AComponent == FPickOwner) {
        // The control that asked for the pick is going: nobody is left to tell.
        FPickOwner = nullptr;
        EndPick();
    }
}

void TEyedropper::StartLocation(TComponent *Owner, TEyedropLocationEvent Callback) {
    Cancel();
    FLocationCallback = Callback;
    FMode = emLocation;
    SetComponentReference(this, FPickOwner, Owner);
}

void TEyedropper::StartColor(TComponent *Owner, TEyedropColorEvent Callback) {
    Cancel();
    FColorCallback = Callback;
    FMode = emColor;
    SetComponentReference(this, FPickOwner, Owner);
}

void TEyedropper::Cancel() {
    TEyedropLocationEvent location = FLocationCallback;
    TEyedropColorEvent color = FColorCallback;
    uint8_t mode = FMode;
    EndPick();
    if (mode == emLocation)
        location(eaCancelled, nullptr);
    else if (mode == emColor)
        color(eaCancelled, 0);
}

void TEyedropper::RestartTimer() {
    FTimer->SetEnabled(false);
    FTimer->SetEnabled(true);
}

TEyedropFractalTarget *TEyedropper::FractalTargetOf(TControl *Control) {
    if (!Control)
        return nullptr;
    if (auto *target = dynamic_cast<TEyedropFractalTarget *>(Control))
        return target;
    // The display itself reports: its form is the window.
    auto *target = dynamic_cast<TEyedropFractalTarget *>(Control->ParentForm());
    return target && target->EyedropDisplay() == Control ? target : nullptr;
}

void TEyedropper::PickAt(TControl *Control, int X, int Y, bool Picked) {
    if (FMode == emLocation && FLocationCallback.Assigned()) {
        TEyedropFractalTarget *target = FractalTargetOf(Control);
        if (!target)
            return;
        TComplexValue value;
        if (!target->EyedropLocation(X, Y, value))
            return;
        TEyedropLocationEvent callback = FLocationCallback;
        if (Picked) {
            EndPick();
            callback(eaPicked, &value);
        } else {
            callback(eaPreview, &value);
            if (FMode == emLocation)
                RestartTimer();
        }
        return;
    }
    if (FMode == emColor && FColorCallback.Assigned()) {
        TColor color = 0;
        if (TEyedropFractalTarget *target = FractalTargetOf(Control)) {
            TBaseBitmap *bitmap = target->EyedropBitmap();
            if (!bitmap || !ReadDisplayPixel(*bitmap, X, Y, color))
                return; // no preview
        } else if (auto *curve = dynamic_cast<TEyedropCurveTarget *>(Control)) {
            color = curve->ColorAt({X, Y}) & 0xFFFFFF;
        } else {
            return;
        }
        TEyedropColorEvent callback = FColorCallback;
        if (Picked) {
            EndPick();
            callback(eaPicked, color);
        } else {
            callback(eaPreview, color);
            if (FMode == emColor)
                RestartTimer();
        }
    }
}

bool TEyedropper::PointOnTarget(TPoint Pos) {
    if (!Screen)
        return false;
    TControl *under = FindDragTarget(Pos, true);
    for (int i = 0; i < Screen->FormCount(); ++i) {
        TCustomForm *form = Screen->Forms(i);
        if (!form->HandleAllocated() || !IsWindowVisible(form->Handle()))
            continue;
        if (auto *fractal = dynamic_cast<TEyedropFractalTarget *>(form)) {
            TControl *display = fractal->EyedropDisplay();
            if (display && PtInRect(display->ClientRect(), display->ScreenToClient(Pos)))
                return true;
        }
        if (auto *gradient = dynamic_cast<TEyedropGradientTarget *>(form); gradient && under)
            for (int curve = 0; curve < TEyedropGradientTarget::CurveCount; ++curve)
                if (gradient->GetCurve(curve) == under)
                    return true;
    }
    return false;
}

void TEyedropper::TimerTick(TObject *) {
    if (PointOnTarget(Mouse.CursorPos()))
        return;
    FTimer->SetEnabled(false);
    // The mode stays: the pick goes on when the pointer comes back.
    if (FMode == emLocation)
        FLocationCallback(eaLeft, nullptr);
    else if (FMode == emColor)
        FColorCallback(eaLeft, 0);
}
