// The complex-number edit, its eyedropper button and the context menu shared by every edit-like
// control of the control set.
#include <windowsx.h>

#include <memory>

#include "AdvCtrls.h"
#include "Clipbrd.h"

// A named namespace, not an anonymous one: under this tool chain the event thunks of a member of an
// anonymous-namespace class are global symbols, so the colour selector's handler class of the
// same name would share them.
namespace adv_edit_menu {

// Frees the eyedropper panel of the edit it is posted to (the panel's own click usually switches
// eyedropping off, so the panel must outlive that click).
constexpr UINT WM_FREEEYEDROPPANEL = WM_APP + 0x401;

// Runs the items of the shared edit menu for the control that showed it.
class TPopupMenuHandler {
public:
    TPopupMenuHandler();
    TPopupMenu &Menu() { return *FMenu; }
    TImageList &Images() { return FImages; }
    bool Prepare(TControl *Control);

private:
    TMenuItem *AddItem(const char *Caption, TShortCut ShortCut, const char *Name, const char *Hint,
                       TNotifyEvent OnClick);
    TComponent *Target() { return FMenu->PopupComponent(); }
    void EyedropperClick(TObject *);
    void CopyComplexClick(TObject *);
    void PasteComplexClick(TObject *);
    void UndoClick(TObject *);
    void CutClick(TObject *);
    void CopyClick(TObject *);
    void PasteClick(TObject *);
    void DeleteClick(TObject *);
    void SelectAllClick(TObject *);

    std::unique_ptr<TPopupMenu> FMenu;
    TImageList FImages{16, 16};
    TMenuItem *FItems[13] = {};
};

enum {
    EyedropperItem,
    N1,
    CopyComplexItem,
    PasteComplexItem,
    N2,
    UndoItem,
    N3,
    CutItem,
    CopyItem,
    PasteItem,
    DeleteItem,
    N4,
    SelectAllItem
};

std::unique_ptr<TPopupMenuHandler> Handler;

TPopupMenuHandler &MenuHandler() {
    if (!Handler)
        Handler = std::make_unique<TPopupMenuHandler>();
    return *Handler;
}

TPopupMenuHandler::TPopupMenuHandler() : FMenu(std::make_unique<TPopupMenu>(nullptr)) {
    FMenu->SetName("PopupMenu");
    FMenu->SetAlignment(paLeft);
    // The pictures: eyedropper, cut, copy, paste. A program built without them shows none.
    try {
        TBitmap strip;
        strip.LoadFromResourceName(GetModuleHandleA(nullptr), "ADVCTRLS_MENU");
        FImages.AddMasked(strip, strip.Canvas().Pixels(0, 0));
    } catch (const EResNotFound &) {
    }
    FItems[EyedropperItem] = AddItem(
        "&Eyedropper", ShortCut('E', ssCtrl | ssShift), "EyedropperItem",
        "Toggles to/from Eyedropper mode, which allows you to select a complex number from any open fractal "
        "window.",
        MakeNotifyEvent<&TPopupMenuHandler::EyedropperClick>(this));
    FItems[N1] = AddItem("-", 0, "N1", "", nullptr);
    FItems[CopyComplexItem] =
        AddItem("C&opy Complex Value", ShortCut('C', ssCtrl | ssShift), "CopyComplexItem",
                "Copies the complex number from the input boxes to the Clipboard.",
                MakeNotifyEvent<&TPopupMenuHandler::CopyComplexClick>(this));
    FItems[PasteComplexItem] =
        AddItem("Pa&ste Complex Value", ShortCut('V', ssCtrl | ssShift), "PasteComplexItem",
                "Pastes a complex number from the Clipboard into the input boxes.",
                MakeNotifyEvent<&TPopupMenuHandler::PasteComplexClick>(this));
    FItems[N2] = AddItem("-", 0, "N2", "", nullptr);
    FItems[UndoItem] = AddItem("&Undo", 0, "UndoItem", "Undoes the last action.",
                               MakeNotifyEvent<&TPopupMenuHandler::UndoClick>(this));
    FItems[N3] = AddItem("-", 0, "N3", "", nullptr);
    FItems[CutItem] = AddItem("Cu&t", 0, "CutItem", "Moves the text from the input box to the Clipboard.",
                              MakeNotifyEvent<&TPopupMenuHandler::CutClick>(this));
    FItems[CopyItem] = AddItem("&Copy", 0, "CopyItem", "Copies the text in the input box to the Clipboard.",
                               MakeNotifyEvent<&TPopupMenuHandler::CopyClick>(this));
    FItems[PasteItem] =
        AddItem("&Paste", 0, "PasteItem", "Pastes text from the Clipboard into the input box.",
                MakeNotifyEvent<&TPopupMenuHandler::PasteClick>(this));
    FItems[DeleteItem] = AddItem("&Delete", 0, "DeleteItem", "Deletes the selected text from the input box.",
                                 MakeNotifyEvent<&TPopupMenuHandler::DeleteClick>(this));
    FItems[N4] = AddItem("-", 0, "N4", "", nullptr);
    FItems[SelectAllItem] = AddItem("Select &All", 0, "SelectAllItem", "Selects all text in the input box.",
                                    MakeNotifyEvent<&TPopupMenuHandler::SelectAllClick>(this));
}

TMenuItem *TPopupMenuHandler::AddItem(const char *Caption, TShortCut ShortCut, const char *Name,
                                      const char *Hint, TNotifyEvent OnClick) {
    auto *item = new TMenuItem(FMenu.get());
    item->SetCaption(Caption);
    item->SetShortCut(ShortCut);
    item->SetName(Name);
    item->SetHint(Hint);
    item->OnClick = OnClick;
    FMenu->Items().Add(item);
    return item;
}

// Selection and undo state of an edit field.
struct TEditState {
    bool CanUndo;
    int SelLength;
    int TextLength;
};

TEditState EditState(HWND Edit) {
    DWORD start = 0, end = 0;
    SendMessageA(Edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    return {SendMessageA(Edit, EM_CANUNDO, 0, 0) != 0, static_cast<int>(end) - static_cast<int>(start),
            GetWindowTextLengthA(Edit)};
}

bool TPopupMenuHandler::Prepare(TControl *Control) {
    TEditState state;
    auto *complexEdit = dynamic_cast<TAdvComplexEdit *>(Control);
    if (auto *edit = dynamic_cast<TAdvEdit *>(Control))
        state = EditState(edit->Handle());
    else if (auto *combo = dynamic_cast<TAdvComboBox *>(Control)) {
        HWND field = combo->EditHandle();
        state = field ? EditState(field) : TEditState{false, 0, 0};
    } else if (auto *memo = dynamic_cast<TAdvMemo *>(Control))
        state = EditState(memo->Handle());
    else
        return false;

    bool canPaste = Clipboard().HasFormat(CF_TEXT);
    QueryClipboardPaste(ckPlainText, canPaste);
    FItems[PasteItem]->SetEnabled(canPaste);
    QueryClipboardPaste(ckComplex, canPaste);
    FItems[PasteComplexItem]->SetEnabled(canPaste);

    FItems[UndoItem]->SetEnabled(state.CanUndo);
    bool selected = state.SelLength > 0;
    FItems[CutItem]->SetEnabled(selected);
    FItems[CopyItem]->SetEnabled(selected);
    FItems[DeleteItem]->SetEnabled(selected);
    FItems[SelectAllItem]->SetEnabled(state.SelLength < state.TextLength);
    for (int i = EyedropperItem; i <= N2; ++i)
        FItems[i]->SetVisible(complexEdit != nullptr);
    FItems[EyedropperItem]->SetChecked(complexEdit && complexEdit->Eyedropping());
    FMenu->SetPopupComponent(Control);
    return true;
}

void TPopupMenuHandler::EyedropperClick(TObject *) {
    if (auto *edit = dynamic_cast<TAdvComplexEdit *>(Target()))
        edit->DoEyedropper();
}

void TPopupMenuHandler::CopyComplexClick(TObject *) {
    if (auto *edit = dynamic_cast<TAdvComplexEdit *>(Target()))
        edit->CopyComplexValue();
}

void TPopupMenuHandler::PasteComplexClick(TObject *) {
    if (auto *edit = dynamic_cast<TAdvComplexEdit *>(Target()))
        edit->PasteComplexValue();
}

// Runs an editing operation on the control the menu was opened for, by its class: the complex
// edit's own operation (when it has one), the edit's or memo's, or the combo box's on its edit
// field. A control of another class is left alone.
void RunOnTarget(TComponent *Target, void (TAdvComplexEdit::*Complex)(), void (TCustomEdit::*Edit)(),
                 void (TAdvComboBox::*Combo)()) {
    auto *complexEdit = dynamic_cast<TAdvComplexEdit *>(Target);
    if (complexEdit && Complex)
        (complexEdit->*Complex)();
    else if (dynamic_cast<TAdvEdit *>(Target) || dynamic_cast<TAdvMemo *>(Target))
        (dynamic_cast<TCustomEdit *>(Target)->*Edit)();
    else if (auto *combo = dynamic_cast<TAdvComboBox *>(Target))
        (combo->*Combo)();
}

void TPopupMenuHandler::UndoClick(TObject *) {
    RunOnTarget(Target(), nullptr, &TCustomEdit::Undo, &TAdvComboBox::Undo);
}

void TPopupMenuHandler::CutClick(TObject *) {
    RunOnTarget(Target(), &TAdvComplexEdit::CutToClipboard, &TCustomEdit::CutToClipboard,
                &TAdvComboBox::CutToClipboard);
}

void TPopupMenuHandler::CopyClick(TObject *) {
    RunOnTarget(Target(), &TAdvComplexEdit::CopyToClipboard, &TCustomEdit::CopyToClipboard,
                &TAdvComboBox::CopyToClipboard);
}

void TPopupMenuHandler::PasteClick(TObject *) {
    RunOnTarget(Target(), &TAdvComplexEdit::PasteFromClipboard, &TCustomEdit::PasteFromClipboard,
                &TAdvComboBox::PasteFromClipboard);
}

void TPopupMenuHandler::DeleteClick(TObject *) {
    RunOnTarget(Target(), nullptr, &TCustomEdit::ClearSelection, &TAdvComboBox::ClearSelection);
}

void TPopupMenuHandler::SelectAllClick(TObject *) {
    RunOnTarget(Target(), nullptr, &TCustomEdit::SelectAll, &TAdvComboBox::SelectAll);
}

} // namespace adv_edit_menu

using namespace adv_edit_menu;

void FreeAdvEditMenu() {
    Handler.reset();
}

TPopupMenu &AdvEditMenu() {
    return MenuHandler().Menu();
}

bool PrepareAdvEditMenu(TControl *Control) {
    return MenuHandler().Prepare(Control);
}

void PopupAdvEditMenu(TControl *Control, int X, int Y) {
    if (PrepareAdvEditMenu(Control))
        AdvEditMenu().Popup(X, Y);
}

void ShowAdvEditPopup(TControl &Control, LPARAM ScreenPos) {
    TPoint at{GET_X_LPARAM(ScreenPos), GET_Y_LPARAM(ScreenPos)};
    if (at.X == -1 && at.Y == -1)
        at = Control.ClientToScreen({4, 4});
    PopupAdvEditMenu(&Control, at.X, at.Y);
}

std::string ComplexClipboardText(const std::string &Re, const std::string &Im) {
    return Re + "/" + Im;
}

bool SplitComplexClipboardText(const std::string &Text, std::string &Re, std::string &Im) {
    size_t slash = Text.find('/');
    if (slash == std::string::npos)
        return false;
    Re = Text.substr(0, slash);
    Im = Text.substr(slash + 1);
    return true;
}

// =============================================================================================
// TEyedropPanel

TEyedropPanel::TEyedropPanel(TAdvComplexEdit *AEdit) : TCustomControl(AEdit), FEdit(AEdit) {
    SetHint("Eyedropper|");
    SetShowHint(true);
}

void TEyedropPanel::Paint() {
    TCanvas &canvas = Canvas();
    canvas.Brush().SetColor(clWindow);
    canvas.FillRect(ClientRect());
    TImageList &images = MenuHandler().Images();
    if (images.Count() > 0)
        images.Draw(canvas, 0, 0, 0);
}

void TEyedropPanel::Click() {
    TCustomControl::Click();
    FEdit->DoEyedropper();
}

// =============================================================================================
// TAdvComplexEdit

TAdvComplexEdit::TAdvComplexEdit(TComponent *AOwner) : TAdvEdit(AOwner) {}

void TAdvComplexEdit::Notification(TComponent *AComponent, TOperation Operation) {
    TAdvEdit::Notification(AComponent, Operation);
    if (Operation == opRemove && AComponent == FEyedropPanel)
        FEyedropPanel = nullptr;
}

void TAdvComplexEdit::DoComplexCopy(std::string &Re, std::string &Im) {
    OnComplexCopy(this, Re, Im);
}

void TAdvComplexEdit::DoComplexPaste(const std::string &Re, const std::string &Im) {
    OnComplexPaste(this, Re, Im);
}

void TAdvComplexEdit::DoEyedropper() {
    SetEyedropping(!FEyedropping);
    OnEyedropper(this);
}

void TAdvComplexEdit::SetEyedropping(bool Value) {
    if (Value == FEyedropping)
        return;
    FEyedropping = Value;
    if (Value) {
        if (FEyedropPanel)
            return; // the one switched off a moment ago is still there: use it again
        auto *panel = new TEyedropPanel(this);
        FEyedropPanel = panel;
        panel->FreeNotification(this);
        if (TWinControl *parent = Parent()) {
            // A square of the client height at the right end of the client area.
            int side = ClientHeight();
            TPoint origin = parent->ScreenToClient(ClientOrigin());
            panel->SetBounds(origin.X + ClientWidth() - side, origin.Y, side, side);
            panel->SetParent(parent);
            panel->BringToFront();
        }
        return;
    }
    if (HandleAllocated())
        PostMessageA(Handle(), WM_FREEEYEDROPPANEL, 0, 0);
    else
        FreeAndNil(FEyedropPanel);
}

void TAdvComplexEdit::CopyComplexValue() {
    std::string re, im;
    DoComplexCopy(re, im);
    if (!re.empty() && !im.empty()) {
        Clipboard().SetAsText(ComplexClipboardText(re, im));
        NotifyClipboardCopy(ckComplex);
    } else {
        // Nothing was put on the clipboard: what is there is still plain text for the hook.
        NotifyClipboardCopy(ckPlainText);
    }
}

void TAdvComplexEdit::PasteComplexValue() {
    bool canPaste = Clipboard().HasFormat(CF_TEXT);
    QueryClipboardPaste(ckComplex, canPaste);
    if (!canPaste)
        return;
    std::string re, im;
    if (SplitComplexClipboardText(Clipboard().AsText(), re, im))
        DoComplexPaste(re, im);
}

void TAdvComplexEdit::CopyToClipboard() {
    Clipboard().SetAsText(SelText());
    NotifyClipboardCopy(ckPlainText);
}

void TAdvComplexEdit::CutToClipboard() {
    CopyToClipboard();
    ClearSelection();
}

void TAdvComplexEdit::PasteFromClipboard() {
    if (Clipboard().HasFormat(CF_TEXT))
        SetSelText(Clipboard().AsText());
}

void TAdvComplexEdit::Change() {
    if (FEyedropping)
        TEdit::Change(); // no input delay while picking
    else
        TAdvEdit::Change();
}

void TAdvComplexEdit::WndProc(TMessage &Message) {
    switch (Message.Msg) {
    case WM_KEYDOWN: {
        TShiftState shift = KeyboardStateToShiftState() & (ssShift | ssCtrl | ssAlt);
        WPARAM key = Message.WParam;
        if (shift == (ssCtrl | ssShift)) {
            if (key == 'C')
                CopyComplexValue();
            else if (key == 'E')
                DoEyedropper();
            else if (key == 'V')
                PasteComplexValue();
            return; // no other Ctrl+Shift key reaches the edit
        }
        // The edit field would run these a second time itself.
        if (shift == ssShift && key == VK_DELETE) {
            CutToClipboard();
            return;
        }
        if (shift == ssCtrl && key == VK_INSERT) {
            CopyToClipboard();
            return;
        }
        if (shift == ssShift && key == VK_INSERT) {
            PasteFromClipboard();
            return;
        }
        break;
    }
    case WM_CUT:
    case WM_COPY:
    case WM_PASTE:
        Message.Result = 0; // the complex edit's own operations replace them
        return;
    case WM_FREEEYEDROPPANEL:
        if (!FEyedropping)
            FreeAndNil(FEyedropPanel);
        return;
    default:
        break;
    }
    TAdvEdit::WndProc(Message);
}
