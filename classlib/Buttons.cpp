// Speed buttons.
#include "Buttons.h"

TSpeedButton::TSpeedButton(TComponent *AOwner)
    : TGraphicControl(AOwner), FGlyph(std::make_unique<TBitmap>()) {
    FWidth = 23;
    FHeight = 22;
    FColor = clBtnFace;
    FParentColor = false;
    FControlStyle = csCaptureMouse | csDoubleClicks | csOpaque;
    FGlyph->OnChange = MakeNotifyEvent<&TSpeedButton::GlyphChanged>(this);
}

TSpeedButton::~TSpeedButton() = default;

void TSpeedButton::GlyphChanged(TObject *) {
    Invalidate();
}

void TSpeedButton::SetNumGlyphs(int Value) {
    FNumGlyphs = Value < 1 ? 1 : Value;
    Invalidate();
}

void TSpeedButton::SetFlat(bool Value) {
    FFlat = Value;
    Invalidate();
}

void TSpeedButton::SetDown(bool Value) {
    if (FGroupIndex == 0)
        Value = false;
    if (Value == FDown)
        return;
    if (FDown && !Value && !FAllowAllUp)
        return;
    FDown = Value;
    FState = Value ? bsExclusive : bsUp;
    Invalidate();
    if (Value)
        UpdateExclusive();
}

void TSpeedButton::UpdateExclusive() {
    if (FGroupIndex == 0 || !FParent)
        return;
    for (int i = 0; i < FParent->ControlCount(); ++i) {
        auto *other = dynamic_cast<TSpeedButton *>(FParent->Controls(i));
        if (other && other != this && other->FGroupIndex == FGroupIndex && other->FDown) {
            other->FDown = false;
            other->FState = bsUp;
            other->Invalidate();
        }
    }
}

void TSpeedButton::Click() {
    TGraphicControl::Click();
}

void TSpeedButton::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) {
    TGraphicControl::MouseDown(Button, Shift, X, Y);
    if (Button == mbLeft && FEnabled) {
        if (!FDown) {
            FState = bsDown;
            Invalidate();
        }
        FDragging = true;
    }
}

void TSpeedButton::MouseMove(TShiftState Shift, int X, int Y) {
    TGraphicControl::MouseMove(Shift, X, Y);
    if (!FDragging)
        return;
    TButtonState state = FDown ? bsExclusive : bsUp;
    if (X >= 0 && X < FWidth && Y >= 0 && Y < FHeight)
        state = FDown ? bsExclusive : bsDown;
    if (state != FState) {
        FState = state;
        Invalidate();
    }
}

void TSpeedButton::MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) {
    bool inside = X >= 0 && X < FWidth && Y >= 0 && Y < FHeight;
    if (FDragging && Button == mbLeft) {
        FDragging = false;
        if (FGroupIndex == 0) {
            FState = bsUp;
            Invalidate();
        } else if (inside) {
            SetDown(!FDown);
            if (FDown)
                FState = bsExclusive;
        } else {
            FState = FDown ? bsExclusive : bsUp;
            Invalidate();
        }
        if (inside)
            Click();
    }
    TGraphicControl::MouseUp(Button, Shift, X, Y);
}

void TSpeedButton::WndProc(TMessage &Message) {
    // The click comes from MouseUp, where the group state is settled first.
    if (Message.Msg == WM_LBUTTONUP || Message.Msg == WM_LBUTTONDOWN || Message.Msg == WM_LBUTTONDBLCLK) {
        FControlState &= ~csClicked;
        TGraphicControl::WndProc(Message);
        FControlState &= ~csClicked;
        return;
    }
    if (Message.Msg == CM_ENABLEDCHANGED) {
        FState = FEnabled ? (FDown ? bsExclusive : bsUp) : bsDisabled;
        Invalidate();
        return;
    }
    TGraphicControl::WndProc(Message);
}

void TSpeedButton::Paint() {
    TCanvas &canvas = Canvas();
    RECT r = ClientRect();
    canvas.Brush().SetColor(FColor);
    canvas.FillRect(r);
    bool pressed = FState == bsDown || FState == bsExclusive;
    if (!FFlat || pressed || FMouseInControl)
        DrawEdge(canvas.Handle(), &r, pressed ? BDR_SUNKENOUTER : BDR_RAISEDINNER, BF_RECT);
    if (!FGlyph->Empty()) {
        int width = FGlyph->Width() / FNumGlyphs, height = FGlyph->Height();
        int x = (FWidth - width) / 2 + (pressed ? 1 : 0), y = (FHeight - height) / 2 + (pressed ? 1 : 0);
        int index = FState == bsDisabled && FNumGlyphs > 1 ? 1 : 0;
        HDC source = FGlyph->Canvas().Handle();
        GdiTransparentBlt(canvas.Handle(), x, y, width, height, source, index * width, 0, width, height,
                          ColorToRGB(FGlyph->TransparentColor()));
    }
    std::string text = Text();
    if (!text.empty()) {
        canvas.Font().Assign(*FFont);
        if (FState == bsDisabled)
            canvas.Font().SetColor(clGrayText);
        canvas.Brush().SetStyle(bsClear);
        canvas.TextRect(r, text, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    }
}
