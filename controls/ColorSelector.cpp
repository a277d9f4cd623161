#include "ColorSelector.h"

#include <charconv>
#include <memory>
#include <random>

#include "Clipbrd.h"

namespace {

// Runs the items of the shared menu for the selector that showed it.
class TPopupMenuHandler {
public:
    TPopupMenuHandler();
    TPopupMenu &Menu() { return *FMenu; }

private:
    TColorSelector *Selector() { return dynamic_cast<TColorSelector *>(FMenu->PopupComponent()); }
    void Popup(TObject *);
    void SelectClick(TObject *);
    void RandomizeClick(TObject *);
    void EyedropperClick(TObject *);
    void CopyClick(TObject *);
    void PasteClick(TObject *);
    TMenuItem *AddItem(const char *Caption, const char *Name, const char *Hint, TNotifyEvent OnClick);
    std::unique_ptr<TPopupMenu> FMenu;
    TMenuItem *FEyedropperItem = nullptr;
    TMenuItem *FPasteItem = nullptr;
};

std::unique_ptr<TPopupMenuHandler> Handler;

TPopupMenuHandler::TPopupMenuHandler() : FMenu(std::make_unique<TPopupMenu>(nullptr)) {
    FMenu->SetName("PopupMenu");
    FMenu->SetAlignment(paLeft);
    FMenu->SetAutoPopup(true);
    FMenu->OnPopup = MakeNotifyEvent<&TPopupMenuHandler::Popup>(this);
    AddItem("&Select", "SelectItem", "Opens the Select Color dialog, which allows you to change the color.",
            MakeNotifyEvent<&TPopupMenuHandler::SelectClick>(this));
    AddItem("&Randomize", "RandomizeItem", "Randomizes the selected color.",
            MakeNotifyEvent<&TPopupMenuHandler::RandomizeClick>(this));
    AddItem("-", "N1", "", nullptr);
    FEyedropperItem =
        AddItem("&Eyedropper", "EyedropperItem",
                "Toggles to/from Eyedropper mode, which allows you to select a color from any open "
                "fractal or gradient window.",
                MakeNotifyEvent<&TPopupMenuHandler::EyedropperClick>(this));
    AddItem("-", "N2", "", nullptr);
    AddItem("&Copy", "CopyItem", "Copies the selected color to the Clipboard.",
            MakeNotifyEvent<&TPopupMenuHandler::CopyClick>(this));
    FPasteItem = AddItem("&Paste", "PasteItem", "Pastes a color from the Clipboard into the color selector.",
                         MakeNotifyEvent<&TPopupMenuHandler::PasteClick>(this));
}

TMenuItem *TPopupMenuHandler::AddItem(const char *Caption, const char *Name, const char *Hint,
                                      TNotifyEvent OnClick) {
    auto *item = new TMenuItem(FMenu.get());
    item->SetCaption(Caption);
    item->SetName(Name);
    item->SetHint(Hint);
    item->OnClick = OnClick;
    FMenu->Items().Add(item);
    return item;
}

void TPopupMenuHandler::Popup(TObject *) {
    TColorSelector *selector = Selector();
    FEyedropperItem->SetChecked(selector && selector->Eyedropping());
    bool canPaste = Clipboard().HasFormat(CF_TEXT);
    QueryClipboardPaste(ckColor, canPaste);
    FPasteItem->SetEnabled(canPaste);
}

void TPopupMenuHandler::SelectClick(TObject *) {
    if (TColorSelector *selector = Selector())
        selector->Click();
}

void TPopupMenuHandler::RandomizeClick(TObject *) {
    if (TColorSelector *selector = Selector())
        selector->Randomize();
}

void TPopupMenuHandler::EyedropperClick(TObject *) {
    if (TColorSelector *selector = Selector()) {
        selector->SetEyedropping(!selector->Eyedropping());
        selector->OnEyedropper(selector);
    }
}

void TPopupMenuHandler::CopyClick(TObject *) {
    if (TColorSelector *selector = Selector())
        selector->CopyColor();
}

void TPopupMenuHandler::PasteClick(TObject *) {
    if (TColorSelector *selector = Selector())
        selector->PasteColor();
}

} // namespace

TPopupMenu &ColorSelectorMenu() {
    if (!Handler)
        Handler = std::make_unique<TPopupMenuHandler>();
    return Handler->Menu();
}

void FinalizeColorSelector() {
    Handler.reset();
}

std::string ColorClipboardText(TColor Color, int Opacity) {
    uint64_t value = (static_cast<uint64_t>(Opacity & 0xFF) << 24) | (ColorToRGB(Color) & 0xFFFFFF);
    return std::to_string(value);
}

bool ParseColorClipboardText(const std::string &Text, TColor &Color, int &Opacity) {
    size_t first = Text.find_first_not_of(" \t\r\n");
    size_t last = Text.find_last_not_of(" \t\r\n");
    if (first == std::string::npos)
        return false;
    int64_t value = 0;
    const char *begin = Text.data() + first, *end = Text.data() + last + 1;
    auto [stop, error] = std::from_chars(begin, end, value);
    if (error != std::errc() || stop != end)
        return false;
    Color = static_cast<TColor>(value & 0xFFFFFF);
    Opacity = static_cast<int>((value >> 24) & 0xFF);
    return true;
}

TColorSelector::TColorSelector(TComponent *AOwner) : TAdvCustomColorBox(AOwner) {
    SetDualView(true);
    SetCheckerSize(6);
    SetColor(0);
    SetOpacity(255);
    FWidth = 105;
    FHeight = 21;
}

void TColorSelector::SetSelection(TColor Color, int Opacity) {
    Opacity = Opacity < 0 ? 0 : Opacity > 255 ? 255 : Opacity;
    if (Color == FSelectedColor && Opacity == FSelectedOpacity)
        return;
    FSelectedColor = Color;
    FSelectedOpacity = Opacity;
    SetColor(Color);
    SetOpacity(Opacity);
    if (!FEyedropping && !(FInSelect && !FPreviewEnabled))
        OnChange(this);
}

void TColorSelector::DoSelect() {
    FInSelect = true;
    try {
        OnSelect(this);
    } catch (...) {
        FInSelect = false;
        throw;
    }
    FInSelect = false;
}

void TColorSelector::Click() {
    TAdvCustomColorBox::Click();
    DoSelect();
}

void TColorSelector::Randomize() {
    static std::mt19937 generator(GetTickCount());
    std::uniform_int_distribution<int> color(0, 0xFFFFFF), opacity(0, 255);
    SetSelection(static_cast<TColor>(color(generator)), opacity(generator));
}

void TColorSelector::CopyColor() {
    Clipboard().SetAsText(ColorClipboardText(FSelectedColor, FSelectedOpacity));
    NotifyClipboardCopy(ckColor);
}

void TColorSelector::PasteColor() {
    TColor color;
    int opacity;
    if (!Clipboard().HasFormat(CF_TEXT) || !ParseColorClipboardText(Clipboard().AsText(), color, opacity))
        return;
    SetSelectedColor(color);
    SetSelectedOpacity(opacity);
}

TPopupMenu *TColorSelector::GetPopupMenu() {
    return &ColorSelectorMenu();
}
