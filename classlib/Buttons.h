// Speed buttons: flat graphic buttons with a glyph, grouping and a down state.
#pragma once

#include <memory>

#include "Controls.h"

enum TButtonState { bsUp, bsDisabled, bsDown, bsExclusive };

class TSpeedButton : public TGraphicControl {
public:
    DECLARE_CLASS_NAME(TSpeedButton)
    explicit TSpeedButton(TComponent *AOwner);
    ~TSpeedButton() override;
    TBitmap &Glyph() { return *FGlyph; }
    int NumGlyphs() const { return FNumGlyphs; }
    void SetNumGlyphs(int Value);
    bool Down() const { return FDown; }
    void SetDown(bool Value);
    int GroupIndex() const { return FGroupIndex; }
    void SetGroupIndex(int Value) { FGroupIndex = Value; }
    bool AllowAllUp() const { return FAllowAllUp; }
    void SetAllowAllUp(bool Value) { FAllowAllUp = Value; }
    bool Flat() const { return FFlat; }
    void SetFlat(bool Value);
    TButtonState State() const { return FState; }
    void Click() override;
    void WndProc(TMessage &Message) override;

protected:
    void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) override;
    void MouseMove(TShiftState Shift, int X, int Y) override;
    void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) override;
    void Paint() override;
    // Releases the other buttons of the group when this one goes down.
    void UpdateExclusive();
    void GlyphChanged(TObject *Sender);
    std::unique_ptr<TBitmap> FGlyph;
    int FNumGlyphs = 1;
    bool FDown = false;
    int FGroupIndex = 0;
    bool FAllowAllUp = false;
    bool FFlat = false;
    bool FDragging = false;
    TButtonState FState = bsUp;
};
