// A colour with its opacity (solid half and checker half) that the user selects through its
// owner, randomizes, picks with the eyedropper, and copies and pastes as a number.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "AdvCtrls.h"

class TColorSelector : public TAdvCustomColorBox {
public:
    DECLARE_CLASS_NAME(TColorSelector)
    explicit TColorSelector(TComponent *AOwner);
    bool Eyedropping() const { return FEyedropping; }
    void SetEyedropping(bool Value) { FEyedropping = Value; }
    bool PreviewEnabled() const { return FPreviewEnabled; }
    void SetPreviewEnabled(bool Value) { FPreviewEnabled = Value; }
    TColor SelectedColor() const { return FSelectedColor; }
    void SetSelectedColor(TColor Value) { SetSelection(Value, FSelectedOpacity); }
    int SelectedOpacity() const { return FSelectedOpacity; }
    void SetSelectedOpacity(int Value) { SetSelection(FSelectedColor, Value); }
    bool InSelect() const { return FInSelect; }
    // Stores both and shows them; reports the change unless eyedropping, or while OnSelect runs
    // with the preview off.
    void SetSelection(TColor Color, int Opacity);
    void DoSelect();
    void Randomize();
    // The clipboard text: opacity * 2^24 + the colour's 24-bit value.
    void CopyColor();
    // Reads the clipboard text as that number; anything else is ignored.
    void PasteColor();
    void Click() override;

    TNotifyEvent OnChange;
    TNotifyEvent OnEyedropper;
    TNotifyEvent OnSelect;

protected:
    TPopupMenu *GetPopupMenu() override;
    bool FEyedropping = false;
    bool FPreviewEnabled = true;
    TColor FSelectedColor = 0;
    int FSelectedOpacity = 255;
    bool FInSelect = false;
};

// The text of a colour and opacity on the clipboard, and its reading (false for a text that is
// not an integer).
std::string ColorClipboardText(TColor Color, int Opacity);
bool ParseColorClipboardText(const std::string &Text, TColor &Color, int &Opacity);

// The popup menu shared by every colour selector (made on first use).
TPopupMenu &ColorSelectorMenu();
void FinalizeColorSelector();
