#include "EditListBox.h"

#include <windowsx.h>

#include <algorithm>
#include <cstdlib>

namespace {

// Pattern bitmaps shared by every list, made on first use.
TBitmap *GutterDots = nullptr;
TBitmap *TextDots = nullptr;
TBitmap *SelectionDots = nullptr;

TBitmap &Pattern(TBitmap *&Bitmap, TColor Color1, TColor Color2) {
    if (!Bitmap)
        Bitmap = CreatePatternBitmap(Color1, Color2).release();
    return *Bitmap;
}

// The one timer of all lists: it exists only while a list uses it, and that list owns it.
enum TTimerUse { tuEdit, tuScroll };
TTimer *ListTimer = nullptr;
TEditListBox *ListTimerOwner = nullptr;
TTimerUse ListTimerUse = tuEdit;

void StartListTimer(TEditListBox *Owner, TTimerUse Use, UINT Interval, TNotifyEvent Handler) {
    auto timer = std::make_unique<TTimer>(nullptr);
    timer->SetEnabled(false);
    timer->SetInterval(Interval);
    timer->SetOnTimer(Handler);
    ListTimer = timer.release();
    ListTimerOwner = Owner;
    ListTimerUse = Use;
    ListTimer->SetEnabled(true);
}

// Frees the timer and clears every reference to it. A timer's handler may call this: the timer's
// window procedure touches nothing of the timer after the handler returns.
void FreeListTimer() {
    TTimer *doomed = ListTimer;
    ListTimer = nullptr;
    ListTimerOwner = nullptr;
    delete doomed;
}

void ReleaseListTimer(TEditListBox *Owner) {
    if (ListTimer && ListTimerOwner == Owner)
        FreeListTimer();
}

void ReleaseListTimer(TEditListBox *Owner, TTimerUse Use) {
    if (ListTimer && ListTimerOwner == Owner && ListTimerUse == Use)
        FreeListTimer();
}

// The in-place editor: a flat edit with a single border.
class TEditListEditor : public TAdvEdit {
public:
    using TAdvEdit::TAdvEdit;

protected:
    void CreateParams(TCreateParams &Params) override {
        TAdvEdit::CreateParams(Params);
        Params.ExStyle &= ~WS_EX_CLIENTEDGE;
        Params.Style |= WS_BORDER;
    }
};

} // namespace

bool EditListTimerFree() {
    return ListTimer == nullptr;
}

void FinalizeEditListBox() {
    FreeListTimer();
    FreeAndNil(GutterDots);
    FreeAndNil(TextDots);
    FreeAndNil(SelectionDots);
}

// =============================================================================================
// Construction and properties

TEditListBox::TEditListBox(TComponent *AOwner)
    : TAdvListBox(AOwner), FButtonBitmap(std::make_unique<TBitmap>(1, 1, pf24bit)),
      FImageBitmap(std::make_unique<TBitmap>(16, 16, pf24bit)) {
    FEditor = new TEditListEditor(this);
    FEditor->SetVisible(false);
    FStyle = lbOwnerDrawFixed;
    FItemHeight = 24;
}

TEditListBox::~TEditListBox() {
    // Everything that could call back into this list goes while its members still live.
    SetDestroying();
    EndDrag(false);
    ReleaseListTimer(this);
    FEditing = false;
    FEditor->OnChange = nullptr;
    FEditor->OnKeyDown = nullptr;
    FEditor->OnExit = nullptr;
}

bool TEditListBox::OwnsTimer() const {
    return ListTimer && ListTimerOwner == this;
}

void TEditListBox::SetParent(TWinControl *AParent) {
    TAdvListBox::SetParent(AParent);
    if (AParent && FEditor->Parent() != this) {
        FEditor->SetVisible(false);
        FEditor->SetParent(this);
        FEditor->OnChange = MakeNotifyEvent<&TEditListBox::EditorChange>(this);
        FEditor->OnKeyDown = MakeEvent<&TEditListBox::EditorKeyDown>(this);
        FEditor->OnExit = MakeNotifyEvent<&TEditListBox::EditorExit>(this);
    }
}

void TEditListBox::CreateParams(TCreateParams &Params) {
    TAdvListBox::CreateParams(Params);
    Params.Style |= WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
}

void TEditListBox::DestroyWnd() {
    // A pending edit or scroll belongs to this window.
    ReleaseListTimer(this);
    if (FEditing) {
        FEditing = false;
        FEditor->SetVisible(false);
    }
    TAdvListBox::DestroyWnd();
}

namespace {
void InvalidateRange(TWinControl &Control, int Left, int Right) {
    if (!Control.HandleAllocated())
        return;
    RECT r = {Left, 0, Right, Control.ClientHeight()};
    InvalidateRect(Control.Handle(), &r, TRUE);
}
} // namespace

void TEditListBox::SetButtonBevels(bool Value) {
    if (Value != FButtonBevels) {
        FButtonBevels = Value;
        InvalidateRange(*this, 3, 3 + ButtonPitch * FButtonCount);
    }
}

void TEditListBox::SetButtonCount(int Value) {
    Value = std::max(Value, 0);
    if (Value == FButtonCount)
        return;
    FButtonCount = Value;
    InvalidateRange(*this, 3, 3 + ButtonPitch * FButtonCount);
}

void TEditListBox::SetGutter(int Value) {
    if (Value != FGutter) {
        FGutter = Value;
        Invalidate();
    }
}

void TEditListBox::SetGutterBevel(bool Value) {
    if (Value != FGutterBevel) {
        FGutterBevel = Value;
        Invalidate();
    }
}

void TEditListBox::SetImages(TImageList *Value) {
    if (Value != FImages) {
        FImages = Value;
        InvalidateRange(*this, 3, 3 + ButtonPitch * FButtonCount);
    }
}

void TEditListBox::SetItemSeparators(bool Value) {
    if (Value != FItemSeparators) {
        FItemSeparators = Value;
        Invalidate();
    }
}

void TEditListBox::SetMargin(int Value) {
    if (Value != FMargin) {
        FMargin = Value;
        InvalidateRange(*this, FGutter, Width());
    }
}

void TEditListBox::InvalidateMargin(int Index) {
    if (!HandleAllocated() || FMargin <= 0)
        return;
    if (Index < 0) {
        InvalidateRange(*this, FGutter, FGutter + FMargin);
        return;
    }
    RECT item = ItemRect(Index);
    RECT r = {FGutter, item.top, FGutter + FMargin, item.bottom};
    InvalidateRect(Handle(), &r, FALSE);
}

void TEditListBox::InvalidateItemFrom(int Index, int Left) {
    if (Index < 0 || !HandleAllocated() || Index >= Items().Count())
        return;
    RECT r = ItemRect(Index);
    r.left = Left;
    InvalidateRect(Handle(), &r, FALSE);
}

// =============================================================================================
// Virtual operations: the points where the list asks or tells its owner

void TEditListBox::ButtonBeginUpdate() {
    OnButtonBeginUpdate(this);
}

void TEditListBox::ButtonEndUpdate() {
    OnButtonEndUpdate(this);
}

void TEditListBox::GetButton(int Index, int Button, int &ImageIndex, bool &Down) {
    OnButtonGet(this, Index, Button, ImageIndex, Down);
}

void TEditListBox::SetButton(int Index, int Button, bool Down) {
    OnButtonSet(this, Index, Button, Down);
}

void TEditListBox::DrawButton(int Index, int Button, TCanvas &Canvas, const RECT &ItemRect,
                              const RECT &ButtonRect, bool &DefaultDraw) {
    OnButtonDraw(this, Index, Button, Canvas, ItemRect, ButtonRect, DefaultDraw);
}

template <class Body> void TEditListBox::InButtonUpdate(Body body) {
    ButtonBeginUpdate();
    try {
        body();
    } catch (...) {
        ButtonEndUpdate();
        throw;
    }
    ButtonEndUpdate();
}

void TEditListBox::ButtonClick(int Index, int Button, TShiftState Shift) {
    OnButtonClick(this, Index, Button, Shift);
    int image = -1;
    if (!(Shift & ssShift)) {
        bool down = true;
        GetButton(Index, Button, image, down);
        SetButton(Index, Button, !down);
        return;
    }
    // Solo: the clicked item alone, or every item when the click took the last one down.
    InButtonUpdate([&] {
        int count = Items().Count();
        bool anyDown = false;
        for (int i = 0; i < count; ++i) {
            bool down = true;
            GetButton(i, Button, image, down);
            if (i == Index)
                down = !down;
            anyDown = anyDown || down;
        }
        for (int i = 0; i < count; ++i)
            SetButton(i, Button, anyDown ? i == Index : true);
    });
}

void TEditListBox::SweepTo(int Index) {
    if (FPressedItem < 0 || FPressedItem >= Items().Count())
        return;
    int image = -1;
    bool down = true;
    GetButton(FPressedItem, FPressedButton, image, down);
    int first = std::min(Index, FPressedItem), last = std::max(Index, FPressedItem);
    InButtonUpdate([&] {
        for (int i = first; i <= last; ++i)
            SetButton(i, FPressedButton, down);
    });
}

// =============================================================================================
// Painting

void TEditListBox::DrawItem(int Index, RECT Rect, TOwnerDrawState State) {
    bool separator = FItemSeparators;
    OnDrawSeparator(this, Index, separator);
    DrawButtons(Index, Rect, separator);
    DrawMargin(Index, Rect, State);
    DrawText(Index, Rect, separator, State);
    DrawDropTarget(Index, Rect);
}

void TEditListBox::DrawButtons(int Index, const RECT &Rect, bool Separator) {
    TCanvas &canvas = Canvas();
    if (FButtonCount > 0) {
        int height = FItemHeight - (Separator ? 1 : 0);
        FButtonBitmap->SetSize(FButtonCount * ButtonPitch - 2, std::max(height, 1));
        TCanvas &buttons = FButtonBitmap->Canvas();
        buttons.Brush().SetBitmap(nullptr);
        buttons.Brush().SetColor(clBtnFace);
        buttons.FillRect(::Rect(0, 0, FButtonBitmap->Width(), FButtonBitmap->Height()));
        for (int b = 0; b < FButtonCount; ++b) {
            RECT buttonRect = Bounds(b * ButtonPitch, (FItemHeight - ButtonSize) / 2, ButtonSize, ButtonSize);
            int image = -1;
            bool down = true, defaultDraw = true;
            GetButton(Index, b, image, down);
            DrawButton(Index, b, buttons, Rect, buttonRect, defaultDraw);
            if (!defaultDraw)
                continue;
            RECT r = buttonRect;
            if (FButtonBevels)
                Frame3D(buttons, r, clBtnShadow, clBtnHighlight, 1);
            else
                InflateRect(&r, -1, -1);
            if (FImages && image >= 0 && image < FImages->Count()) {
                if (down) {
                    FImages->Draw(buttons, r.left, r.top, image);
                } else {
                    TCanvas &greyed = FImageBitmap->Canvas();
                    greyed.Brush().SetColor(clBtnFace);
                    greyed.FillRect(::Rect(0, 0, FImageBitmap->Width(), FImageBitmap->Height()));
                    FImages->Draw(greyed, 0, 0, image);
                    auto disabled = CreateDisabledGlyph(*FImageBitmap);
                    buttons.Draw(r.left, r.top, *disabled);
                }
            }
        }
        canvas.Draw(3, Rect.top, *FButtonBitmap);
    }
    if (FGutter >= 2) {
        RECT bottom = ::Rect(0, Rect.bottom - 1, FGutter - 2, Rect.bottom);
        TBrush saved;
        saved.Assign(canvas.Brush());
        if (Separator) {
            canvas.Brush().SetBitmap(&Pattern(GutterDots, clBtnShadow, clBtnFace));
        } else {
            canvas.Brush().SetBitmap(nullptr);
            canvas.Brush().SetColor(clBtnFace);
        }
        canvas.FillRect(bottom);
        canvas.Brush().Assign(saved);
    }
}

void TEditListBox::DrawMargin(int Index, const RECT &Rect, TOwnerDrawState State) {
    if (FMargin <= 0)
        return;
    TCanvas &canvas = Canvas();
    RECT strip = ::Rect(FGutter, Rect.top, FGutter + FMargin, Rect.bottom);
    canvas.Brush().SetBitmap(nullptr);
    canvas.Brush().SetColor((State & ODS_SELECTED) ? clHighlight : clWindow);
    if (OnDrawMargin.Assigned())
        OnDrawMargin(this, Index, strip, State);
    else
        canvas.FillRect(strip);
}

void TEditListBox::DrawText(int Index, const RECT &Rect, bool Separator, TOwnerDrawState State) {
    TCanvas &canvas = Canvas();
    bool selected = (State & ODS_SELECTED) != 0;
    canvas.Brush().SetBitmap(nullptr);
    canvas.Brush().SetColor(selected ? clHighlight : clWindow);
    canvas.Font().SetColor(selected ? clHighlightText : clWindowText);
    bool defaultDraw = true;
    OnDrawText(this, Index, Rect, State, defaultDraw);
    if (!defaultDraw)
        return;
    RECT textRect = ::Rect(FGutter + FMargin, Rect.top, Rect.right, Rect.bottom);
    canvas.FillRect(textRect);
    if (Index >= 0 && Index < Items().Count()) {
        RECT at = textRect;
        at.left += 6;
        at.top += (textRect.bottom - textRect.top - canvas.TextHeight("Pg")) / 2;
        canvas.Brush().SetStyle(bsClear);
        canvas.TextRect(at, Items().Strings(Index), DT_SINGLELINE | DT_NOPREFIX);
        canvas.Brush().SetStyle(bsSolid);
    }
    TBrush saved;
    saved.Assign(canvas.Brush());
    if (selected) {
        canvas.Brush().SetBitmap(&Pattern(SelectionDots, clBlack, clHighlight));
        canvas.FrameRect(::Rect(FGutter, Rect.top, Rect.right, Rect.bottom));
    } else if (Separator) {
        canvas.Brush().SetBitmap(&Pattern(TextDots, clWindowText, clWindow));
        canvas.FillRect(::Rect(FGutter, Rect.bottom - 1, Rect.right, Rect.bottom));
    }
    canvas.Brush().Assign(saved);
}

void TEditListBox::DrawDropTarget(int Index, const RECT &Rect) {
    if (Index != -1 && Index == FDropIndex)
        DrawPatternFrame(Canvas(), ::Rect(FGutter, Rect.top, Rect.right, Rect.bottom), 2, false);
}

void TEditListBox::DrawBackground() {
    TCanvas &canvas = Canvas();
    if (FGutter > 0 && Enabled()) {
        int height = Height();
        canvas.Brush().SetBitmap(nullptr);
        canvas.Brush().SetColor(clBtnFace);
        canvas.FillRect(::Rect(0, 0, FGutter - 2, height));
        canvas.Pen().SetColor(FGutterBevel ? clBtnHighlight : clBtnFace);
        canvas.MoveTo(FGutter - 2, 0);
        canvas.LineTo(FGutter - 2, height);
        canvas.Pen().SetColor(clBtnShadow);
        canvas.MoveTo(FGutter - 1, 0);
        canvas.LineTo(FGutter - 1, height);
        canvas.Brush().SetColor(clWindow);
        canvas.FillRect(::Rect(FGutter, 0, Width(), height));
    }
    OnDrawBackground(this);
}

void TEditListBox::EraseBackground(TMessage &Message) {
    TAdvListBox::WndProc(Message);
    if (FGutter < 1 && !OnDrawBackground.Assigned())
        return;
    TCanvasDCScope scope(Canvas(), reinterpret_cast<HDC>(Message.WParam));
    DrawBackground();
    Message.Result = 1;
}

// =============================================================================================
// Mouse and keys

int TEditListBox::ButtonAt(int Index, TPoint Pos) {
    RECT item = ItemRect(Index);
    for (int b = 0; b < FButtonCount; ++b) {
        RECT r =
            Bounds(b * ButtonPitch + 3, item.top + (FItemHeight - ButtonSize) / 2, ButtonSize, ButtonSize);
        if (PtInRect(r, Pos))
            return b;
    }
    return -1;
}

void TEditListBox::LeftPress(TMessage &Message, bool Double) {
    FEditPending = false;
    FPressPending = false;
    FPressedButton = -1;
    // A double click ends a pending start of editing, so it never edits.
    if (Double)
        ReleaseListTimer(this, tuEdit);
    if (FEditing) {
        AcceptEdit();
        return;
    }
    TPoint pos{GET_X_LPARAM(Message.LParam), GET_Y_LPARAM(Message.LParam)};
    int index = ItemAtPos(pos, true);
    if (ItemIndex() < 0 || index < 0) {
        TAdvListBox::WndProc(Message);
        return;
    }
    int button = pos.X < FGutter ? ButtonAt(index, pos) : -1;
    if (button >= 0) {
        // A button press leaves the selection alone; the capture keeps a sweep going outside.
        FPressedButton = button;
        FPressedItem = index;
        SetCapture(Handle());
        ButtonClick(index, button, KeysToShiftState(Message.WParam));
    } else {
        bool onSelected = index == ItemIndex() && Focused();
        TAdvListBox::WndProc(Message);
        FEditPending = onSelected && !Double;
    }
    FPressPending = true;
    FPressPoint = ClientToScreen(pos);
}

void TEditListBox::LeftRelease(TMessage &Message) {
    TPoint pos = ClientToScreen({GET_X_LPARAM(Message.LParam), GET_Y_LPARAM(Message.LParam)});
    int threshold = Mouse.DragThreshold();
    bool still = std::abs(pos.X - FPressPoint.X) <= threshold && std::abs(pos.Y - FPressPoint.Y) <= threshold;
    bool startEdit = !FEditing && FEditPending && still && EditListTimerFree();
    FEditPending = false;
    FPressPending = false;
    if (FPressedButton >= 0 && GetCapture() == Handle())
        ReleaseCapture();
    TAdvListBox::WndProc(Message);
    if (startEdit && !Destroying())
        StartListTimer(this, tuEdit, GetDoubleClickTime(),
                       MakeNotifyEvent<&TEditListBox::EditTimerFired>(this));
}

void TEditListBox::MoveWithButton(TMessage &Message) {
    TPoint pos = ClientToScreen({GET_X_LPARAM(Message.LParam), GET_Y_LPARAM(Message.LParam)});
    int threshold = Mouse.DragThreshold();
    if (std::abs(pos.X - FPressPoint.X) <= threshold && std::abs(pos.Y - FPressPoint.Y) <= threshold)
        return;
    FPressPending = false;
    FEditPending = false;
    if (FPressedButton < 0) {
        // The list window's own press tracking ends where the drag begins.
        TMessage release{WM_LBUTTONUP, 0, Message.LParam, 0};
        DefaultHandler(release);
    }
    SetDragCursor(FPressedButton >= 0 ? crDefault : crDrag);
    BeginDrag(true);
}

void TEditListBox::RightRelease(TMessage &Message) {
    TPopupMenu *menu = PopupMenu();
    if (!menu) {
        TAdvListBox::WndProc(Message);
        return;
    }
    TPoint pos{GET_X_LPARAM(Message.LParam), GET_Y_LPARAM(Message.LParam)};
    int index = ItemAtPos(pos, true);
    if (index >= 0 && index != ItemIndex()) {
        SetItemIndex(index);
        Click();
    }
    TPoint screen = ClientToScreen(pos);
    menu->SetPopupComponent(this);
    menu->Popup(screen.X, screen.Y);
}

void TEditListBox::EditTimerFired(TObject *) {
    FreeListTimer();
    BeginEdit();
}

void TEditListBox::KeyDown(WORD &Key, TShiftState Shift) {
    WORD key = Key;
    TAdvListBox::KeyDown(Key, Shift);
    if (key == VK_F2)
        BeginEdit();
}

void TEditListBox::DoExit() {
    TAdvListBox::DoExit();
    HWND focus = GetFocus();
    if (FEditing && !(FEditor->HandleAllocated() && focus == FEditor->Handle()))
        AcceptEdit();
}

void TEditListBox::WndProc(TMessage &Message) {
    switch (Message.Msg) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
        LeftPress(Message, Message.Msg == WM_LBUTTONDBLCLK);
        return;
    case WM_LBUTTONUP:
        LeftRelease(Message);
        return;
    case WM_MOUSEMOVE:
        if (FPressPending && (Message.WParam & MK_LBUTTON) && !Dragging()) {
            MoveWithButton(Message);
            if (Dragging())
                return;
        }
        break;
    case WM_RBUTTONUP:
        RightRelease(Message);
        return;
    case WM_CONTEXTMENU:
        // The list shows its popup menu itself, on the right-button release.
        if (PopupMenu()) {
            Message.Result = 1;
            return;
        }
        break;
    case WM_ERASEBKGND:
        EraseBackground(Message);
        return;
    case WM_PAINT:
        if (Items().Count() == 0) {
            PAINTSTRUCT paint;
            HDC dc = BeginPaint(Handle(), &paint);
            HBRUSH brush = CreateSolidBrush(ColorToRGB(Brush().Color()));
            RECT r = {FGutter, 0, Width(), Height()};
            ::FillRect(dc, &r, brush);
            DeleteObject(brush);
            EndPaint(Handle(), &paint);
            return;
        }
        break;
    case WM_SIZE:
        TAdvListBox::WndProc(Message);
        Invalidate();
        return;
    default:
        break;
    }
    TAdvListBox::WndProc(Message);
}

// =============================================================================================
// Dragging items and sweeping buttons

void TEditListBox::DoStartDrag(TDragObject *&DragObject) {
    TAdvListBox::DoStartDrag(DragObject);
    if (!DragObject) {
        FDragObject = std::make_unique<TEditListDragObject>(this);
        DragObject = FDragObject.get();
    }
}

bool TEditListBox::InScrollZone(TPoint Pos, int &Direction) {
    Direction = 0;
    if (Pos.Y < 7 && TopIndex() >= 1)
        Direction = -1;
    else if (Pos.Y >= ClientHeight() - 6 && FItemHeight > 0 &&
             Items().Count() - ClientHeight() / FItemHeight > TopIndex())
        Direction = 1;
    return Direction != 0;
}

void TEditListBox::AutoScroll(TPoint Pos) {
    int direction;
    if (EditListTimerFree() && InScrollZone(Pos, direction))
        StartListTimer(this, tuScroll, 250, MakeNotifyEvent<&TEditListBox::ScrollTimerFired>(this));
}

void TEditListBox::ScrollTimerFired(TObject *) {
    int direction;
    if (!HandleAllocated() || !InScrollZone(ScreenToClient(Mouse.CursorPos()), direction)) {
        FreeListTimer();
        return;
    }
    SetTopIndex(TopIndex() + direction);
}

void TEditListBox::SetDropIndex(int Value) {
    if (Value == FDropIndex)
        return;
    int old = FDropIndex;
    FDropIndex = Value;
    InvalidateItemFrom(old, FGutter);
    InvalidateItemFrom(Value, FGutter);
}

void TEditListBox::DragOver(TObject *Source, int X, int Y, TDragState State, bool &Accept) {
    if (State == dsDragLeave)
        ReleaseListTimer(this, tuScroll);
    if (Source == this && FPressedButton >= 0 && Dragging()) {
        // A sweep over the buttons: the pressed item's state goes to every item passed.
        Accept = true;
        if (State != dsDragLeave) {
            int index = ItemAtPos({X, Y}, true);
            if (index >= 0)
                SweepTo(index);
            AutoScroll({X, Y});
        }
        return;
    }
    TAdvListBox::DragOver(Source, X, Y, State, Accept);
    if (State == dsDragLeave) {
        SetDropIndex(-1);
        return;
    }
    SetDropIndex(Accept ? ItemAtPos({X, Y}, true) : -1);
    AutoScroll({X, Y});
}

void TEditListBox::DragDrop(TObject *Source, int X, int Y) {
    ReleaseListTimer(this, tuScroll);
    SetDropIndex(-1);
    if (!(Source == this && FPressedButton >= 0))
        TAdvListBox::DragDrop(Source, X, Y);
}

void TEditListBox::DoEndDrag(TObject *Target, int X, int Y) {
    ReleaseListTimer(this, tuScroll);
    SetDropIndex(-1);
    TAdvListBox::DoEndDrag(Target, X, Y);
    FPressedButton = -1;
    FDragObject.reset();
}

// =============================================================================================
// In-place editing

void TEditListBox::BeginEdit() {
    int index = ItemIndex();
    if (FEditing || index < 0 || index >= Items().Count() || !FEditor->Parent())
        return;
    std::string text = Items().Strings(index);
    bool allow = true;
    OnEditing(this, text, allow);
    if (!allow)
        return;
    FEditor->SetLeft(FGutter + FMargin + 4);
    FEditor->SetTop((index - TopIndex()) * FItemHeight + (FItemHeight - FEditor->Height()) / 2);
    FEditor->SetText(text);
    SizeEditor();
    FEditor->Show();
    FEditor->SetFocus();
    FEditor->SelectAll();
    FEditing = true;
}

void TEditListBox::AcceptEdit() {
    if (!FEditing || FAccepting)
        return;
    FAccepting = true;
    try {
        std::string text = FEditor->Text();
        int index = ItemIndex();
        if (!text.empty()) {
            OnEdited(this, text);
            if (index >= 0 && index < Items().Count() && Items().Strings(index) != text) {
                Items().SetStrings(index, text);
                SetItemIndex(index);
            }
        }
    } catch (...) {
        FAccepting = false;
        CancelEdit();
        throw;
    }
    FAccepting = false;
    CancelEdit();
}

void TEditListBox::CancelEdit() {
    if (!FEditing)
        return;
    // Cleared first: hiding the editor takes its focus, and its exit would accept again.
    FEditing = false;
    FEditor->Hide();
    if (!Destroying() && CanFocus())
        SetFocus();
}

void TEditListBox::SizeEditor() {
    TCanvas &canvas = Canvas();
    HDC dc = GetDC(nullptr);
    int width;
    {
        TCanvasDCScope scope(canvas, dc);
        canvas.Font().Assign(Font());
        width = canvas.TextWidth(FEditor->Text()) + 24;
    }
    ReleaseDC(nullptr, dc);
    int most = ClientWidth() - FEditor->Left() - 2;
    FEditor->SetWidth(std::max(48, std::min(width, most)));
}

void TEditListBox::EditorChange(TObject *) {
    if (FEditing)
        SizeEditor();
}

void TEditListBox::EditorKeyDown(TObject *, WORD &Key, TShiftState) {
    switch (Key) {
    case VK_RETURN:
    case VK_TAB:
        Key = 0;
        AcceptEdit();
        break;
    case VK_ESCAPE:
        Key = 0;
        CancelEdit();
        break;
    default:
        break;
    }
}

void TEditListBox::EditorExit(TObject *) {
    AcceptEdit();
}
