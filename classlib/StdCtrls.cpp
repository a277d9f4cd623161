// Standard controls.
#include "StdCtrls.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>

#include "Forms.h"

// =============================================================================================
// TControlItems

TControlItems::TControlItems(TWinControl &Control, UINT InsertMsg, UINT DeleteMsg, UINT ResetMsg)
    : FControl(Control), FInsertMsg(InsertMsg), FDeleteMsg(DeleteMsg), FResetMsg(ResetMsg) {}

void TControlItems::CheckIndex(int Index) const {
    if (Index < 0 || Index >= Count())
        RaiseListIndexError(Index);
}

std::string TControlItems::Strings(int Index) const {
    CheckIndex(Index);
    return FItems[Index].Text;
}

void TControlItems::SetStrings(int Index, const std::string &S) {
    CheckIndex(Index);
    TObject *object = FItems[Index].Object;
    Delete(Index);
    Insert(Index, S);
    FItems[Index].Object = object;
}

TObject *TControlItems::Objects(int Index) const {
    CheckIndex(Index);
    return FItems[Index].Object;
}

void TControlItems::PutObject(int Index, TObject *AObject) {
    CheckIndex(Index);
    FItems[Index].Object = AObject;
}

void TControlItems::Insert(int Index, const std::string &S) {
    if (Index < 0 || Index > Count())
        RaiseListIndexError(Index);
    FItems.insert(FItems.begin() + Index, TItem{S, nullptr});
    if (FControl.HandleAllocated())
        SendMessageA(FControl.Handle(), FInsertMsg, Index, reinterpret_cast<LPARAM>(S.c_str()));
}

void TControlItems::Delete(int Index) {
    CheckIndex(Index);
    FItems.erase(FItems.begin() + Index);
    if (FControl.HandleAllocated())
        SendMessageA(FControl.Handle(), FDeleteMsg, Index, 0);
}

void TControlItems::Clear() {
    FItems.clear();
    if (FControl.HandleAllocated())
        SendMessageA(FControl.Handle(), FResetMsg, 0, 0);
}

void TControlItems::Fill() {
    if (!FControl.HandleAllocated())
        return;
    HWND window = FControl.Handle();
    SendMessageA(window, FResetMsg, 0, 0);
    for (size_t i = 0; i < FItems.size(); ++i)
        SendMessageA(window, FInsertMsg, i, reinterpret_cast<LPARAM>(FItems[i].Text.c_str()));
}

// =============================================================================================
// TCustomEdit

TCustomEdit::TCustomEdit(TComponent *AOwner) : TWinControl(AOwner) {
    FWidth = 121;
    FHeight = 21;
    UseInputStyle();
}

void TCustomEdit::CreateParams(TCreateParams &Params) {
    TWinControl::CreateParams(Params);
    Params.SystemClassName = "EDIT";
    Params.Style |= ES_AUTOHSCROLL | (FReadOnly ? ES_READONLY : 0);
    Params.ExStyle |= WS_EX_CLIENTEDGE;
}

void TCustomEdit::CreateWnd() {
    FCreating = true;
    try {
        TWinControl::CreateWnd();
    } catch (...) {
        FCreating = false;
        throw;
    }
    FCreating = false;
    SendMessageA(FHandle, EM_LIMITTEXT, FMaxLength, 0);
    if (FPasswordChar)
        SendMessageA(FHandle, EM_SETPASSWORDCHAR, static_cast<unsigned char>(FPasswordChar), 0);
}

void TCustomEdit::SetReadOnly(bool Value) {
    if (Value == FReadOnly)
        return;
    FReadOnly = Value;
    if (FHandle)
        SendMessageA(FHandle, EM_SETREADONLY, Value, 0);
}

void TCustomEdit::SetMaxLength(int Value) {
    FMaxLength = Value;
    if (FHandle)
        SendMessageA(FHandle, EM_LIMITTEXT, Value, 0);
}

void TCustomEdit::SetPasswordChar(char Value) {
    FPasswordChar = Value;
    if (FHandle) {
        SendMessageA(FHandle, EM_SETPASSWORDCHAR, static_cast<unsigned char>(Value), 0);
        Invalidate();
    }
}

int TCustomEdit::SelStart() {
    DWORD start = 0;
    SendMessageA(Handle(), EM_GETSEL, reinterpret_cast<WPARAM>(&start), 0);
    return static_cast<int>(start);
}

void TCustomEdit::SetSelStart(int Value) {
    SendMessageA(Handle(), EM_SETSEL, Value, Value);
}

int TCustomEdit::SelLength() {
    DWORD start = 0, end = 0;
    SendMessageA(Handle(), EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    return static_cast<int>(end - start);
}

void TCustomEdit::SetSelLength(int Value) {
    int start = SelStart();
    SendMessageA(Handle(), EM_SETSEL, start, start + Value);
}

std::string TCustomEdit::SelText() {
    int start = SelStart(), length = SelLength();
    return Text().substr(start, length);
}

void TCustomEdit::SetSelText(const std::string &Value) {
    SendMessageA(Handle(), EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(Value.c_str()));
}

void TCustomEdit::SelectAll() {
    SendMessageA(Handle(), EM_SETSEL, 0, -1);
}

bool TCustomEdit::Modified() {
    return FHandle && SendMessageA(FHandle, EM_GETMODIFY, 0, 0) != 0;
}

void TCustomEdit::SetModified(bool Value) {
    SendMessageA(Handle(), EM_SETMODIFY, Value, 0);
}

bool TCustomEdit::CanUndo() {
    return FHandle && SendMessageA(FHandle, EM_CANUNDO, 0, 0) != 0;
}

void TCustomEdit::Undo() {
    SendMessageA(Handle(), EM_UNDO, 0, 0);
}

void TCustomEdit::ClearSelection() {
    SendMessageA(Handle(), WM_CLEAR, 0, 0);
}

void TCustomEdit::CopyToClipboard() {
    SendMessageA(Handle(), WM_COPY, 0, 0);
}

void TCustomEdit::CutToClipboard() {
    SendMessageA(Handle(), WM_CUT, 0, 0);
}

void TCustomEdit::PasteFromClipboard() {
    SendMessageA(Handle(), WM_PASTE, 0, 0);
}

void TCustomEdit::Change() {
    if (!Destroying())
        OnChange(this);
}

void TCustomEdit::WndProc(TMessage &Message) {
    if (Message.Msg == CN_COMMAND) {
        if (HIWORD(Message.WParam) == EN_CHANGE && !FCreating)
            Change();
        return;
    }
    TWinControl::WndProc(Message);
}

// =============================================================================================
// TCustomMemo

namespace {

class TMemoStrings : public TStrings {
public:
    explicit TMemoStrings(TCustomMemo &Memo) : FMemo(Memo) {}
    int Count() const override { return static_cast<int>(Split().size()); }
    std::string Strings(int Index) const override {
        auto lines = Split();
        if (Index < 0 || Index >= static_cast<int>(lines.size()))
            RaiseListIndexError(Index);
        return lines[Index];
    }
    void SetStrings(int Index, const std::string &S) override {
        auto lines = Split();
        if (Index < 0 || Index >= static_cast<int>(lines.size()))
            RaiseListIndexError(Index);
        lines[Index] = S;
        Join(lines);
    }
    void Insert(int Index, const std::string &S) override {
        auto lines = Split();
        if (Index < 0 || Index > static_cast<int>(lines.size()))
            RaiseListIndexError(Index);
        lines.insert(lines.begin() + Index, S);
        Join(lines);
    }
    void Delete(int Index) override {
        auto lines = Split();
        if (Index < 0 || Index >= static_cast<int>(lines.size()))
            RaiseListIndexError(Index);
        lines.erase(lines.begin() + Index);
        Join(lines);
    }
    void Clear() override { FMemo.SetText(""); }
    void SetText(const std::string &Value) override {
        // Every line break becomes CR LF, as the edit window shows only those.
        TStringList lines;
        lines.SetText(Value);
        std::vector<std::string> list;
        for (int i = 0; i < lines.Count(); ++i)
            list.push_back(lines[i]);
        Join(list);
    }

private:
    std::vector<std::string> Split() const {
        std::string text = FMemo.Text();
        std::vector<std::string> lines;
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find_first_of("\r\n", start);
            if (end == std::string::npos) {
                lines.push_back(text.substr(start));
                break;
            }
            lines.push_back(text.substr(start, end - start));
            start = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
        }
        return lines;
    }
    void Join(const std::vector<std::string> &Lines) {
        std::string text;
        for (size_t i = 0; i < Lines.size(); ++i) {
            if (i)
                text += "\r\n";
            text += Lines[i];
        }
        FMemo.SetText(text);
    }
    TCustomMemo &FMemo;
};

} // namespace

TCustomMemo::TCustomMemo(TComponent *AOwner)
    : TCustomEdit(AOwner), FLines(std::make_unique<TMemoStrings>(*this)) {
    FWidth = 185;
    FHeight = 89;
}

TCustomMemo::~TCustomMemo() = default;

void TCustomMemo::AppendLine(const std::string &Line, int MaxLines) {
    if (!HandleAllocated()) {
        while (MaxLines > 0 && FLines->Count() >= MaxLines)
            FLines->Delete(0);
        FLines->Add(Line);
        return;
    }
    HWND window = Handle();
    // A log may outgrow the edit window's default limit of typed text.
    SendMessageA(window, EM_SETLIMITTEXT, 0, 0);
    const int length = GetWindowTextLengthA(window);
    const int lines = length == 0 ? 0 : static_cast<int>(SendMessageA(window, EM_GETLINECOUNT, 0, 0));
    if (MaxLines > 0 && lines >= MaxLines) {
        const int cut = static_cast<int>(SendMessageA(window, EM_LINEINDEX, lines - MaxLines + 1, 0));
        SendMessageA(window, EM_SETSEL, 0, cut);
        SendMessageA(window, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(""));
    }
    const int end = GetWindowTextLengthA(window);
    const std::string text = (end > 0 ? std::string("\r\n") : std::string()) + Line;
    SendMessageA(window, EM_SETSEL, end, end);
    SendMessageA(window, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
    SendMessageA(window, EM_SCROLLCARET, 0, 0);
}

void TCustomMemo::CreateParams(TCreateParams &Params) {
    TCustomEdit::CreateParams(Params);
    Params.Style &= ~ES_AUTOHSCROLL;
    Params.Style |= ES_MULTILINE | ES_AUTOVSCROLL | (FWordWrap ? 0 : ES_AUTOHSCROLL);
    if (FScrollBars == ssVertical || FScrollBars == ssBoth)
        Params.Style |= WS_VSCROLL;
    if (FScrollBars == ssHorizontal || FScrollBars == ssBoth)
        Params.Style |= WS_HSCROLL;
}

void TCustomMemo::SetScrollBars(TScrollStyle Value) {
    RecreateOnChange(FScrollBars, Value);
}

void TCustomMemo::SetWordWrap(bool Value) {
    RecreateOnChange(FWordWrap, Value);
}

void TCustomMemo::WndProc(TMessage &Message) {
    if (Message.Msg == WM_GETDLGCODE) {
        TCustomEdit::WndProc(Message);
        Message.Result &= ~(DLGC_WANTALLKEYS | DLGC_WANTTAB);
        if (FWantReturns)
            Message.Result |= DLGC_WANTALLKEYS;
        if (FWantTabs)
            Message.Result |= DLGC_WANTTAB;
        return;
    }
    TCustomEdit::WndProc(Message);
}

// =============================================================================================
// TCustomComboBox

LRESULT CALLBACK ComboChildProc(HWND Window, UINT Msg, WPARAM WParam, LPARAM LParam, UINT_PTR,
                                DWORD_PTR Data) {
    auto *combo = reinterpret_cast<TCustomComboBox *>(Data);
    TMessage message{Msg, WParam, LParam, 0};
    bool handled = false;
    try {
        combo->ComboWndProc(message, Window, handled);
    } catch (...) {
        handled = true;
        if (Application)
            Application->HandleException(combo);
    }
    if (Msg == WM_NCDESTROY) {
        RemoveWindowSubclass(Window, ComboChildProc, 1);
        if (combo->FEditHandle == Window)
            combo->FEditHandle = nullptr;
        if (combo->FListHandle == Window)
            combo->FListHandle = nullptr;
    }
    if (!handled)
        return DefSubclassProc(Window, Msg, WParam, LParam);
    return message.Result;
}

TCustomComboBox::TCustomComboBox(TComponent *AOwner)
    : TWinControl(AOwner),
      FItems(std::make_unique<TControlItems>(*this, CB_INSERTSTRING, CB_DELETESTRING, CB_RESETCONTENT)),
      FCanvas(std::make_unique<TCanvas>()) {
    FWidth = 145;
    FHeight = 21;
    UseInputStyle();
}

TCustomComboBox::~TCustomComboBox() {
    SetDestroying();
    DestroyHandle();
}

int TCustomComboBox::ExtraWindowHeight() {
    if (FStyle == csSimple)
        return 0;
    int item = FItemHeight > 0 ? FItemHeight : 16;
    return FDropDownCount * item + 4;
}

void TCustomComboBox::CreateParams(TCreateParams &Params) {
    TWinControl::CreateParams(Params);
    Params.SystemClassName = "COMBOBOX";
    static const DWORD styles[] = {CBS_DROPDOWN, CBS_SIMPLE, CBS_DROPDOWNLIST,
                                   CBS_DROPDOWNLIST | CBS_OWNERDRAWFIXED,
                                   CBS_DROPDOWNLIST | CBS_OWNERDRAWVARIABLE};
    Params.Style |= WS_VSCROLL | CBS_AUTOHSCROLL | CBS_HASSTRINGS | styles[FStyle];
}

void TCustomComboBox::CreateWnd() {
    std::string text = FText;
    TWinControl::CreateWnd();
    FItems->Fill();
    if (FMaxLength)
        SendMessageA(FHandle, CB_LIMITTEXT, FMaxLength, 0);
    if (FItemHeight > 0 && FStyle != csOwnerDrawVariable)
        SendMessageA(FHandle, CB_SETITEMHEIGHT, 0, FItemHeight);
    COMBOBOXINFO info = {};
    info.cbSize = sizeof(info);
    if (GetComboBoxInfo(FHandle, &info)) {
        FEditHandle = info.hwndItem;
        FListHandle = info.hwndList;
        if (FEditHandle && FEditHandle != FHandle)
            SetWindowSubclass(FEditHandle, ComboChildProc, 1, reinterpret_cast<DWORD_PTR>(this));
        else
            FEditHandle = nullptr;
        if (FListHandle)
            SetWindowSubclass(FListHandle, ComboChildProc, 1, reinterpret_cast<DWORD_PTR>(this));
    }
    if (FItemIndex >= 0 && FItemIndex < FItems->Count())
        SendMessageA(FHandle, CB_SETCURSEL, FItemIndex, 0);
    else if (FStyle == csDropDown || FStyle == csSimple)
        SetWindowTextA(FHandle, text.c_str());
}

void TCustomComboBox::DestroyWnd() {
    FItemIndex = static_cast<int>(SendMessageA(FHandle, CB_GETCURSEL, 0, 0));
    if (FEditHandle)
        RemoveWindowSubclass(FEditHandle, ComboChildProc, 1);
    if (FListHandle)
        RemoveWindowSubclass(FListHandle, ComboChildProc, 1);
    FEditHandle = FListHandle = nullptr;
    TWinControl::DestroyWnd();
}

int TCustomComboBox::ItemIndex() {
    if (!FHandle)
        return FItemIndex;
    return static_cast<int>(SendMessageA(FHandle, CB_GETCURSEL, 0, 0));
}

void TCustomComboBox::SetItemIndex(int Value) {
    if (Value < -1 || Value >= FItems->Count())
        Value = -1;
    FItemIndex = Value;
    if (FHandle)
        SendMessageA(FHandle, CB_SETCURSEL, Value, 0);
    else if (Value >= 0)
        FText = FItems->Strings(Value);
}

void TCustomComboBox::SetStyle(TComboBoxStyle Value) {
    RecreateOnChange(FStyle, Value);
}

int TCustomComboBox::ItemHeight() {
    if (FHandle && FStyle != csOwnerDrawFixed && FStyle != csOwnerDrawVariable)
        return static_cast<int>(SendMessageA(FHandle, CB_GETITEMHEIGHT, 0, 0));
    return FItemHeight;
}

void TCustomComboBox::SetItemHeight(int Value) {
    if (Value <= 0 || Value == FItemHeight)
        return;
    FItemHeight = Value;
    if (FHandle)
        SendMessageA(FHandle, CB_SETITEMHEIGHT, 0, Value);
}

bool TCustomComboBox::DroppedDown() {
    return FHandle && SendMessageA(FHandle, CB_GETDROPPEDSTATE, 0, 0) != 0;
}

void TCustomComboBox::SetDroppedDown(bool Value) {
    SendMessageA(Handle(), CB_SHOWDROPDOWN, Value, 0);
}

void TCustomComboBox::SetMaxLength(int Value) {
    FMaxLength = Value;
    if (FHandle)
        SendMessageA(FHandle, CB_LIMITTEXT, Value, 0);
}

void TCustomComboBox::SelectAll() {
    SendMessageA(Handle(), CB_SETEDITSEL, 0, MAKELPARAM(0, -1));
}

void TCustomComboBox::Change() {
    if (!Destroying())
        OnChange(this);
}

void TCustomComboBox::Select() {
    if (!Destroying())
        OnSelect(this);
}

void TCustomComboBox::DropDown() {
    if (!Destroying())
        OnDropDown(this);
}

void TCustomComboBox::CloseUp() {
    if (!Destroying())
        OnCloseUp(this);
}

void TCustomComboBox::DrawItem(int Index, RECT Rect, TOwnerDrawState State) {
    if (OnDrawItem.Assigned()) {
        OnDrawItem(this, Index, Rect, State);
        return;
    }
    FCanvas->FillRect(Rect);
    if (Index >= 0 && Index < FItems->Count())
        FCanvas->TextOut(Rect.left + 2, Rect.top, FItems->Strings(Index));
}

void TCustomComboBox::MeasureItem(int Index, int &Height) {
    OnMeasureItem(this, Index, Height);
}

void TCustomComboBox::ComboWndProc(TMessage &Message, HWND ChildWindow, bool &Handled) {
    switch (Message.Msg) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN: {
        WORD key = static_cast<WORD>(Message.WParam);
        if (DoKeyDown(key, KeyboardStateToShiftState())) {
            Handled = true;
            return;
        }
        Message.WParam = key;
        break;
    }
    case WM_KEYUP:
    case WM_SYSKEYUP: {
        WORD key = static_cast<WORD>(Message.WParam);
        KeyUp(key, KeyboardStateToShiftState());
        if (key == 0)
            Handled = true;
        Message.WParam = key;
        break;
    }
    case WM_CHAR: {
        char key = static_cast<char>(Message.WParam);
        KeyPress(key);
        if (key == 0)
            Handled = true;
        Message.WParam = static_cast<unsigned char>(key);
        break;
    }
    case WM_SETFOCUS:
        if (TCustomForm *form = ParentForm())
            form->FocusChanged(this);
        break;
    case WM_CONTEXTMENU:
        if (GetPopupMenu()) {
            Message.Result = Perform(WM_CONTEXTMENU, reinterpret_cast<WPARAM>(FHandle), Message.LParam);
            Handled = true;
        }
        break;
    default:
        break;
    }
    (void)ChildWindow;
}

void TCustomComboBox::WndProc(TMessage &Message) {
    switch (Message.Msg) {
    case CN_COMMAND:
        switch (HIWORD(Message.WParam)) {
        case CBN_EDITCHANGE:
            Change();
            break;
        case CBN_SELCHANGE: {
            int index = ItemIndex();
            if (index >= 0 && FEditHandle)
                SetWindowTextA(FEditHandle, FItems->Strings(index).c_str());
            Click();
            Select();
            Change();
            break;
        }
        case CBN_DROPDOWN:
            DropDown();
            break;
        case CBN_CLOSEUP:
            CloseUp();
            break;
        case CBN_SETFOCUS:
            DoEnter();
            break;
        case CBN_KILLFOCUS:
            DoExit();
            break;
        default:
            break;
        }
        return;
    case CN_DRAWITEM: {
        auto *item = reinterpret_cast<DRAWITEMSTRUCT *>(Message.LParam);
        DrawOwnerItem(*FCanvas, *FFont, FColor, *item, true,
                      [&] { DrawItem(static_cast<int>(item->itemID), item->rcItem, item->itemState); });
        Message.Result = 1;
        return;
    }
    case CN_MEASUREITEM: {
        auto *item = reinterpret_cast<MEASUREITEMSTRUCT *>(Message.LParam);
        int height = FItemHeight > 0 ? FItemHeight : static_cast<int>(item->itemHeight);
        if (FStyle == csOwnerDrawVariable)
            MeasureItem(static_cast<int>(item->itemID), height);
        item->itemHeight = height;
        Message.Result = 1;
        return;
    }
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
        // CBN_SETFOCUS and CBN_KILLFOCUS report the focus of the whole box.
        DefaultHandler(Message);
        return;
    default:
        break;
    }
    TWinControl::WndProc(Message);
}

// =============================================================================================
// TCustomListBox

TCustomListBox::TCustomListBox(TComponent *AOwner)
    : TWinControl(AOwner),
      FItems(std::make_unique<TControlItems>(*this, LB_INSERTSTRING, LB_DELETESTRING, LB_RESETCONTENT)),
      FCanvas(std::make_unique<TCanvas>()) {
    FWidth = 121;
    FHeight = 97;
    UseInputStyle();
}

TCustomListBox::~TCustomListBox() {
    SetDestroying();
    DestroyHandle();
}

void TCustomListBox::CreateParams(TCreateParams &Params) {
    TWinControl::CreateParams(Params);
    Params.SystemClassName = "LISTBOX";
    Params.Style |= LBS_NOTIFY | WS_VSCROLL | LBS_HASSTRINGS | LBS_NOINTEGRALHEIGHT;
    if (FMultiSelect)
        Params.Style |= LBS_EXTENDEDSEL;
    if (FStyle == lbOwnerDrawFixed)
        Params.Style |= LBS_OWNERDRAWFIXED;
    else if (FStyle == lbOwnerDrawVariable)
        Params.Style |= LBS_OWNERDRAWVARIABLE;
    Params.ExStyle |= WS_EX_CLIENTEDGE;
}

void TCustomListBox::CreateWnd() {
    TWinControl::CreateWnd();
    FItems->Fill();
    if (FStyle == lbOwnerDrawFixed)
        SendMessageA(FHandle, LB_SETITEMHEIGHT, 0, FItemHeight);
    if (FItemIndex >= 0)
        SetItemIndex(FItemIndex);
}

void TCustomListBox::DestroyWnd() {
    FItemIndex = ItemIndex();
    TWinControl::DestroyWnd();
}

int TCustomListBox::ItemIndex() {
    if (!FHandle)
        return FItemIndex;
    if (FMultiSelect)
        return static_cast<int>(SendMessageA(FHandle, LB_GETCARETINDEX, 0, 0));
    return static_cast<int>(SendMessageA(FHandle, LB_GETCURSEL, 0, 0));
}

void TCustomListBox::SetItemIndex(int Value) {
    FItemIndex = Value;
    if (!FHandle)
        return;
    if (FMultiSelect)
        SendMessageA(FHandle, LB_SETCARETINDEX, Value, FALSE);
    else
        SendMessageA(FHandle, LB_SETCURSEL, Value, 0);
}

bool TCustomListBox::Selected(int Index) {
    LRESULT result = SendMessageA(Handle(), LB_GETSEL, Index, 0);
    if (result == LB_ERR)
        RaiseListIndexError(Index);
    return result != 0;
}

void TCustomListBox::SetSelected(int Index, bool Value) {
    if (FMultiSelect)
        SendMessageA(Handle(), LB_SETSEL, Value, Index);
    else
        SendMessageA(Handle(), LB_SETCURSEL, Value ? Index : -1, 0);
}

int TCustomListBox::SelCount() {
    if (!FMultiSelect)
        return ItemIndex() >= 0 ? 1 : 0;
    return static_cast<int>(SendMessageA(Handle(), LB_GETSELCOUNT, 0, 0));
}

void TCustomListBox::SetMultiSelect(bool Value) {
    RecreateOnChange(FMultiSelect, Value);
}

void TCustomListBox::SetStyle(TListBoxStyle Value) {
    RecreateOnChange(FStyle, Value);
}

void TCustomListBox::SetItemHeight(int Value) {
    if (Value > 0 && Value != FItemHeight) {
        FItemHeight = Value;
        if (FHandle)
            SendMessageA(FHandle, LB_SETITEMHEIGHT, 0, Value);
        Invalidate();
    }
}

int TCustomListBox::TopIndex() {
    return static_cast<int>(SendMessageA(Handle(), LB_GETTOPINDEX, 0, 0));
}

void TCustomListBox::SetTopIndex(int Value) {
    SendMessageA(Handle(), LB_SETTOPINDEX, Value, 0);
}

int TCustomListBox::ItemAtPos(TPoint Pos, bool Existing) {
    int count = FItems->Count();
    for (int i = TopIndex(); i < count; ++i) {
        RECT r = ItemRect(i);
        if (r.top > Pos.Y)
            break;
        if (Pos.Y >= r.top && Pos.Y < r.bottom && Pos.X >= r.left && Pos.X < r.right)
            return i;
    }
    return Existing ? -1 : count;
}

RECT TCustomListBox::ItemRect(int Index) {
    RECT r = {0, 0, 0, 0};
    SendMessageA(Handle(), LB_GETITEMRECT, Index, reinterpret_cast<LPARAM>(&r));
    return r;
}

void TCustomListBox::DrawItem(int Index, RECT Rect, TOwnerDrawState State) {
    if (OnDrawItem.Assigned()) {
        OnDrawItem(this, Index, Rect, State);
        return;
    }
    FCanvas->FillRect(Rect);
    if (Index >= 0 && Index < FItems->Count())
        FCanvas->TextOut(Rect.left + 2, Rect.top, FItems->Strings(Index));
}

void TCustomListBox::MeasureItem(int Index, int &Height) {
    OnMeasureItem(this, Index, Height);
}

void TCustomListBox::WndProc(TMessage &Message) {
    switch (Message.Msg) {
    case CN_COMMAND:
        switch (HIWORD(Message.WParam)) {
        case LBN_SELCHANGE:
            Click();
            break;
        case LBN_DBLCLK:
            DblClick();
            break;
        default:
            break;
        }
        return;
    case WM_LBUTTONDBLCLK:
        // LBN_DBLCLK reports it.
        DefaultHandler(Message);
        if (!(FControlStyle & csNoStdEvents))
            MouseDown(mbLeft, KeysToShiftState(Message.WParam) | ssDouble, GET_X_LPARAM(Message.LParam),
                      GET_Y_LPARAM(Message.LParam));
        return;
    case CN_DRAWITEM: {
        auto *item = reinterpret_cast<DRAWITEMSTRUCT *>(Message.LParam);
        DrawOwnerItem(*FCanvas, *FFont, FColor, *item, true, [&] {
            if (static_cast<int>(item->itemID) >= 0)
                DrawItem(static_cast<int>(item->itemID), item->rcItem, item->itemState);
            else
                FCanvas->FillRect(item->rcItem);
        });
        Message.Result = 1;
        return;
    }
    case CN_MEASUREITEM: {
        auto *item = reinterpret_cast<MEASUREITEMSTRUCT *>(Message.LParam);
        int height = FItemHeight;
        if (FStyle == lbOwnerDrawVariable)
            MeasureItem(static_cast<int>(item->itemID), height);
        item->itemHeight = height;
        Message.Result = 1;
        return;
    }
    default:
        break;
    }
    TWinControl::WndProc(Message);
}

// =============================================================================================
// TCheckListBox

TCheckListBox::TCheckListBox(TComponent *AOwner) : TCustomListBox(AOwner) {
    FStyle = lbOwnerDrawFixed;
}

TCheckBoxState TCheckListBox::State(int Index) {
    if (Index < 0 || Index >= FItems->Count())
        RaiseListIndexError(Index);
    if (static_cast<int>(FStates.size()) < FItems->Count())
        FStates.resize(FItems->Count(), cbUnchecked);
    return FStates[Index];
}

void TCheckListBox::SetState(int Index, TCheckBoxState Value) {
    State(Index); // checks the index and sizes the list
    if (FStates[Index] == Value)
        return;
    FStates[Index] = Value;
    if (FHandle) {
        RECT r = ItemRect(Index);
        InvalidateRect(FHandle, &r, FALSE);
    }
}

bool TCheckListBox::Checked(int Index) {
    return State(Index) == cbChecked;
}

void TCheckListBox::SetChecked(int Index, bool Value) {
    SetState(Index, Value ? cbChecked : cbUnchecked);
}

void TCheckListBox::ClickCheck() {
    if (!Destroying())
        OnClickCheck(this);
}

void TCheckListBox::ToggleClickCheck(int Index) {
    if (Index < 0 || Index >= FItems->Count())
        return;
    SetChecked(Index, !Checked(Index));
    ClickCheck();
}

void TCheckListBox::DrawItem(int Index, RECT Rect, TOwnerDrawState State) {
    int size = FItemHeight;
    RECT box = {Rect.left, Rect.top, Rect.left + size, Rect.top + size};
    FCanvas->Brush().SetColor(FColor);
    FCanvas->FillRect(box);
    InflateRect(&box, -2, -2);
    UINT flags = DFCS_BUTTONCHECK | (this->State(Index) == cbChecked ? DFCS_CHECKED : 0) |
                 (this->State(Index) == cbGrayed ? DFCS_INACTIVE | DFCS_CHECKED : 0);
    DrawFrameControl(FCanvas->Handle(), &box, DFC_BUTTON, flags);
    Rect.left += size;
    if (State & ODS_SELECTED) {
        FCanvas->Brush().SetColor(clHighlight);
        FCanvas->Font().SetColor(clHighlightText);
    }
    TCustomListBox::DrawItem(Index, Rect, State);
}

void TCheckListBox::WndProc(TMessage &Message) {
    if (Message.Msg == WM_LBUTTONDOWN || Message.Msg == WM_LBUTTONDBLCLK) {
        int x = GET_X_LPARAM(Message.LParam), y = GET_Y_LPARAM(Message.LParam);
        int index = ItemAtPos({x, y}, true);
        TCustomListBox::WndProc(Message);
        if (index >= 0 && x < FItemHeight && !Destroying())
            ToggleClickCheck(index);
        return;
    }
    if (Message.Msg == WM_CHAR && Message.WParam == ' ') {
        ToggleClickCheck(ItemIndex());
        return;
    }
    TCustomListBox::WndProc(Message);
}

// =============================================================================================
// Buttons

TStaticText::TStaticText(TComponent *AOwner) : TWinControl(AOwner) {
    FColor = clBtnFace;
    FBrush->SetColor(FColor);
}

void TStaticText::CreateParams(TCreateParams &Params) {
    TWinControl::CreateParams(Params);
    Params.SystemClassName = "STATIC";
    // Left-aligned, broken at word ends, '&' shown as it is.
    Params.Style |= SS_LEFT | SS_NOPREFIX;
}

TButtonControl::TButtonControl(TComponent *AOwner) : TWinControl(AOwner) {
    FTabStop = true;
    FColor = clBtnFace;
    FBrush->SetColor(FColor);
}

void TButtonControl::WndProc(TMessage &Message) {
    if (Message.Msg == CN_COMMAND) {
        if (HIWORD(Message.WParam) == BN_CLICKED)
            Click();
        return;
    }
    TWinControl::WndProc(Message);
}

TButton::TButton(TComponent *AOwner) : TButtonControl(AOwner) {
    FWidth = 75;
    FHeight = 25;
}

void TButton::CreateParams(TCreateParams &Params) {
    TButtonControl::CreateParams(Params);
    Params.SystemClassName = "BUTTON";
    Params.Style |= FDefault ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON;
}

void TButton::SetDefault(bool Value) {
    if (Value == FDefault)
        return;
    FDefault = Value;
    if (FHandle)
        SendMessageA(FHandle, BM_SETSTYLE, Value ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON, TRUE);
}

void TButton::Click() {
    if (FModalResult != 0)
        if (TCustomForm *form = ParentForm())
            form->SetModalResult(FModalResult);
    TButtonControl::Click();
}

void TButton::WndProc(TMessage &Message) {
    if (Message.Msg == CM_DIALOGKEY) {
        if (((Message.WParam == VK_RETURN && FDefault) || (Message.WParam == VK_ESCAPE && FCancel)) &&
            CanFocus()) {
            Click();
            Message.Result = 1;
        }
        return;
    }
    TButtonControl::WndProc(Message);
}

void TCheckButtonControl::CreateWnd() {
    TButtonControl::CreateWnd();
    SendMessageA(FHandle, BM_SETCHECK, FCheckState, 0);
}

void TCheckButtonControl::DestroyWnd() {
    FCheckState = static_cast<int>(SendMessageA(FHandle, BM_GETCHECK, 0, 0));
    TButtonControl::DestroyWnd();
}

int TCheckButtonControl::CheckState() {
    if (FHandle)
        FCheckState = static_cast<int>(SendMessageA(FHandle, BM_GETCHECK, 0, 0));
    return FCheckState;
}

void TCheckButtonControl::SetCheckState(int Value) {
    FCheckState = Value;
    if (FHandle)
        SendMessageA(FHandle, BM_SETCHECK, Value, 0);
}

TCustomCheckBox::TCustomCheckBox(TComponent *AOwner) : TCheckButtonControl(AOwner) {
    FWidth = 97;
    FHeight = 17;
}

void TCustomCheckBox::CreateParams(TCreateParams &Params) {
    TCheckButtonControl::CreateParams(Params);
    Params.SystemClassName = "BUTTON";
    Params.Style |= FAllowGrayed ? BS_AUTO3STATE : BS_AUTOCHECKBOX;
}

void TCustomCheckBox::SetState(TCheckBoxState Value) {
    if (Value == State())
        return;
    SetCheckState(Value);
    Click();
}

void TCustomCheckBox::SetAllowGrayed(bool Value) {
    RecreateOnChange(FAllowGrayed, Value);
}

void TCustomCheckBox::WndProc(TMessage &Message) {
    if (Message.Msg == CM_DIALOGCHAR) {
        if (IsAccel(static_cast<char>(Message.WParam), Text()) && CanFocus()) {
            SetFocus();
            SetState(Checked() ? cbUnchecked : cbChecked);
            Message.Result = 1;
        }
        return;
    }
    TCheckButtonControl::WndProc(Message);
}

TRadioButton::TRadioButton(TComponent *AOwner) : TCheckButtonControl(AOwner) {
    FWidth = 113;
    FHeight = 17;
}

void TRadioButton::CreateParams(TCreateParams &Params) {
    TCheckButtonControl::CreateParams(Params);
    Params.SystemClassName = "BUTTON";
    Params.Style |= BS_AUTORADIOBUTTON;
}

void TRadioButton::SetChecked(bool Value) {
    if (Value == Checked())
        return;
    SetCheckState(Value ? BST_CHECKED : BST_UNCHECKED);
    if (Value) {
        if (FParent)
            for (int i = 0; i < FParent->ControlCount(); ++i)
                if (auto *other = dynamic_cast<TRadioButton *>(FParent->Controls(i)))
                    if (other != this)
                        other->SetChecked(false);
        Click();
    }
}

void TRadioButton::WndProc(TMessage &Message) {
    if (Message.Msg == CN_COMMAND) {
        if (HIWORD(Message.WParam) == BN_CLICKED)
            Click();
        return;
    }
    TCheckButtonControl::WndProc(Message);
}

// =============================================================================================
// TCustomGroupBox

TCustomGroupBox::TCustomGroupBox(TComponent *AOwner) : TCustomControl(AOwner) {
    FControlStyle |= csAcceptsControls | csSetCaption;
    FWidth = 185;
    FHeight = 105;
    FColor = clBtnFace;
    FParentColor = true;
}

void TCustomGroupBox::CreateParams(TCreateParams &Params) {
    TCustomControl::CreateParams(Params);
    Params.ClassStyle &= ~(CS_HREDRAW | CS_VREDRAW);
}

RECT TCustomGroupBox::DisplayRect() {
    RECT r = ClientRect();
    int height = -FFont->Height();
    if (height <= 0)
        height = 13;
    r.top += height + 2;
    InflateRect(&r, -2, -2);
    return r;
}

void TCustomGroupBox::Paint() {
    TCanvas &canvas = Canvas();
    RECT r = ClientRect();
    canvas.Brush().SetColor(FColor);
    canvas.FillRect(r);
    canvas.Font().Assign(*FFont);
    int height = canvas.TextHeight("0");
    RECT frame = {0, height / 2, r.right, r.bottom};
    DrawEdge(canvas.Handle(), &frame, EDGE_ETCHED, BF_RECT);
    std::string text = Text();
    if (!text.empty()) {
        SIZE size = canvas.TextExtent(text);
        RECT textRect = {8, 0, 8 + size.cx + 4, height};
        canvas.Brush().SetColor(FColor);
        canvas.FillRect(textRect);
        canvas.Brush().SetStyle(bsClear);
        if (!FEnabled)
            canvas.Font().SetColor(clGrayText);
        canvas.TextRect(textRect, text, DT_CENTER | DT_SINGLELINE);
    }
}

// =============================================================================================
// TCustomLabel

bool IsAccel(char Key, const std::string &Text) {
    size_t pos = 0;
    while ((pos = Text.find('&', pos)) != std::string::npos && pos + 1 < Text.size()) {
        if (Text[pos + 1] != '&')
            return std::toupper(static_cast<unsigned char>(Text[pos + 1])) ==
                   std::toupper(static_cast<unsigned char>(Key));
        pos += 2;
    }
    return false;
}

TCustomLabel::TCustomLabel(TComponent *AOwner) : TGraphicControl(AOwner) {
    FWidth = 65;
    FHeight = 17;
    FParentColor = true;
    FControlStyle |= csReplicatable | csSetCaption;
}

void TCustomLabel::Notification(TComponent *AComponent, TOperation Operation) {
    TGraphicControl::Notification(AComponent, Operation);
    if (Operation == opRemove && AComponent == FFocusControl)
        FFocusControl = nullptr;
}

void TCustomLabel::SetFocusControl(TWinControl *Value) {
    SetComponentReference(this, FFocusControl, Value);
}

void TCustomLabel::SetAutoSize(bool Value) {
    if (Value != FAutoSize) {
        FAutoSize = Value;
        AdjustBounds();
    }
}

void TCustomLabel::SetAlignment(TAlignment Value) {
    if (Value != FAlignment) {
        FAlignment = Value;
        Invalidate();
    }
}

void TCustomLabel::SetLayout(TTextLayout Value) {
    if (Value != FLayout) {
        FLayout = Value;
        Invalidate();
    }
}

void TCustomLabel::SetWordWrap(bool Value) {
    if (Value != FWordWrap) {
        FWordWrap = Value;
        AdjustBounds();
        Invalidate();
    }
}

void TCustomLabel::SetShowAccelChar(bool Value) {
    if (Value != FShowAccelChar) {
        FShowAccelChar = Value;
        Invalidate();
    }
}

void TCustomLabel::SetTransparent(bool Value) {
    if (Value != FTransparent) {
        FTransparent = Value;
        Invalidate();
    }
}

UINT TCustomLabel::TextFlags() const {
    static const UINT alignments[] = {DT_LEFT, DT_RIGHT, DT_CENTER};
    UINT flags = alignments[FAlignment] | DT_EXPANDTABS;
    flags |= FWordWrap ? DT_WORDBREAK : 0;
    if (!FShowAccelChar)
        flags |= DT_NOPREFIX;
    return flags;
}

void TCustomLabel::DoDrawText(RECT &Rect, UINT Flags) {
    std::string text = FText;
    if ((Flags & DT_CALCRECT) && (text.empty() || (FShowAccelChar && text == "&")))
        text = " ";
    if (!FShowAccelChar)
        Flags |= DT_NOPREFIX;
    HDC dc = Canvas().Handle();
    Canvas().Font().Assign(*FFont);
    Canvas().Brush().SetStyle(bsClear);
    Canvas().TextExtent(""); // selects the font
    if (!FEnabled) {
        OffsetRect(&Rect, 1, 1);
        SetTextColor(dc, ColorToRGB(clBtnHighlight));
        DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &Rect, Flags);
        OffsetRect(&Rect, -1, -1);
        SetTextColor(dc, ColorToRGB(clBtnShadow));
    }
    SetBkMode(dc, TRANSPARENT);
    DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &Rect, Flags);
}

void TCustomLabel::Paint() {
    RECT r = ClientRect();
    if (!FTransparent) {
        Canvas().Brush().SetColor(FColor);
        Canvas().FillRect(r);
    }
    UINT flags = TextFlags();
    if (FLayout != tlTop) {
        RECT calc = r;
        DoDrawText(calc, flags | DT_CALCRECT);
        int height = calc.bottom - calc.top;
        if (FLayout == tlBottom)
            OffsetRect(&r, 0, r.bottom - r.top - height);
        else
            OffsetRect(&r, 0, (r.bottom - r.top - height) / 2);
    }
    DoDrawText(r, flags);
}

void TCustomLabel::AdjustBounds() {
    if (!FAutoSize || !FParent || !FParent->HandleAllocated())
        return;
    RECT r = ClientRect();
    HDC dc = GetDC(nullptr);
    Canvas().SetHandle(dc);
    DoDrawText(r, TextFlags() | DT_CALCRECT);
    Canvas().SetHandle(nullptr);
    ReleaseDC(nullptr, dc);
    int left = FLeft;
    if (FAlignment == taRightJustify)
        left += FWidth - (r.right - r.left);
    SetBounds(left, FTop, r.right - r.left, r.bottom - r.top);
}

void TCustomLabel::WndProc(TMessage &Message) {
    switch (Message.Msg) {
    case CM_TEXTCHANGED:
    case CM_FONTCHANGED:
        Invalidate();
        AdjustBounds();
        return;
    case CM_DIALOGCHAR:
        if (FFocusControl && FEnabled && FShowAccelChar &&
            IsAccel(static_cast<char>(Message.WParam), FText) && FFocusControl->CanFocus()) {
            FFocusControl->SetFocus();
            Message.Result = 1;
        }
        return;
    default:
        break;
    }
    TGraphicControl::WndProc(Message);
}
