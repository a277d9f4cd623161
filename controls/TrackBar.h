// A flat slider whose track the owner may paint (a colour ramp, for example) and whose thumb is
// a small image; only changes by the user are reported.
#pragma once

#include <windows.h>

#include "Controls.h"
#include "Graphics.h"

using TPaintInteriorEvent = TMethod<void(TObject *Sender, TCanvas &Canvas, const RECT &Rect)>;

class TAdvTrackBar : public TGraphicControl {
public:
    DECLARE_CLASS_NAME(TAdvTrackBar)
    explicit TAdvTrackBar(TComponent *AOwner);
    int Max() const { return FMax; }
    void SetMax(int Value);
    int Min() const { return FMin; }
    void SetMin(int Value);
    int Position() const { return FPosition; }
    void SetPosition(int Value);
    // The thumb's centre in pixels.
    int ThumbX() const { return FThumbX; }
    // Repaints the track after the picture of OnPaintInterior changed.
    void InteriorChanged();
    void SetBounds(int ALeft, int ATop, int AWidth, int AHeight) override;
    void WndProc(TMessage &Message) override;

    TNotifyEvent OnChange;
    TPaintInteriorEvent OnPaintInterior;

protected:
    void Paint() override;
    void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) override;
    void MouseMove(TShiftState Shift, int X, int Y) override;
    void UpdateThumb();
    // Moves the thumb to a pointer position and reports the new position.
    void SetThumb(int X);

    int FMax = 100;
    int FMin = 0;
    int FPosition = 0;
    int FThumbX = 4;
    bool FInChange = false;
};

// Frees the thumb image and the background bitmap shared by every track bar.
void FinalizeTrackBar();
