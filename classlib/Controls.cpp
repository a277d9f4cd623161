// Components, controls, windowed controls, canvases of controls, scrolling, dragging and the mouse.
#include "Controls.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <type_traits>

#include "Forms.h"
#include "Menus.h"

TMouse Mouse;

// =============================================================================================
// TComponent

TComponent::TComponent(TComponent *AOwner) {
    if (AOwner)
        AOwner->InsertComponent(this);
}

TComponent::~TComponent() {
    SetDestroying();
    // Free-notification partners forget this component.
    std::vector<TComponent *> partners;
    partners.swap(FFreeNotifies);
    for (TComponent *partner : partners) {
        auto &list = partner->FFreeNotifies;
        list.erase(std::remove(list.begin(), list.end(), this), list.end());
        partner->Notification(this, opRemove);
    }
    DestroyComponents();
    if (FOwner)
        FOwner->RemoveComponent(this);
}

void TComponent::SetDestroying() {
    if (FDestroying)
        return;
    FDestroying = true;
    for (TComponent *component : FComponents)
        component->SetDestroying();
}

void TComponent::DestroyComponents() {
    while (!FComponents.empty()) {
        TComponent *component = FComponents.back();
        RemoveComponent(component);
        delete component;
    }
}

void TComponent::InsertComponent(TComponent *AComponent) {
    FComponents.push_back(AComponent);
    AComponent->FOwner = this;
}

void TComponent::RemoveComponent(TComponent *AComponent) {
    FComponents.erase(std::remove(FComponents.begin(), FComponents.end(), AComponent), FComponents.end());
    AComponent->FOwner = nullptr;
    // The owner's other components are told as with a free notification.
    for (TComponent *component : FComponents)
        component->Notification(AComponent, opRemove);
}

TComponent *TComponent::FindComponent(const std::string &AName) const {
    for (TComponent *component : FComponents)
        if (!AName.empty() && SameText(component->FName, AName))
            return component;
    return nullptr;
}

void TComponent::ChangeOwner(TComponent *NewOwner) {
    if (FOwner)
        FOwner->RemoveComponent(this);
    if (NewOwner)
        NewOwner->InsertComponent(this);
}

void TComponent::FreeNotification(TComponent *AComponent) {
    if (!AComponent || AComponent == this)
        return;
    if (std::find(FFreeNotifies.begin(), FFreeNotifies.end(), AComponent) == FFreeNotifies.end()) {
        FFreeNotifies.push_back(AComponent);
        AComponent->FreeNotification(this); // both sides forget each other when one goes
    }
}

void TComponent::RemoveFreeNotification(TComponent *AComponent) {
    FFreeNotifies.erase(std::remove(FFreeNotifies.begin(), FFreeNotifies.end(), AComponent),
                        FFreeNotifies.end());
    if (AComponent)
        AComponent->FFreeNotifies.erase(
            std::remove(AComponent->FFreeNotifies.begin(), AComponent->FFreeNotifies.end(), this),
            AComponent->FFreeNotifies.end());
}

void TComponent::Notification(TComponent *, TOperation) {}

// =============================================================================================
// Helpers

std::string GetShortHint(const std::string &Hint) {
    size_t bar = Hint.find('|');
    return bar == std::string::npos ? Hint : Hint.substr(0, bar);
}

std::string GetLongHint(const std::string &Hint) {
    size_t bar = Hint.find('|');
    return bar == std::string::npos ? Hint : Hint.substr(bar + 1);
}

TShiftState KeyboardStateToShiftState() {
    TShiftState result = 0;
    if (GetKeyState(VK_SHIFT) < 0)
        result |= ssShift;
    if (GetKeyState(VK_CONTROL) < 0)
        result |= ssCtrl;
    if (GetKeyState(VK_MENU) < 0)
        result |= ssAlt;
    return result;
}

TShiftState KeysToShiftState(WPARAM Keys) {
    TShiftState result = 0;
    if (Keys & MK_SHIFT)
        result |= ssShift;
    if (Keys & MK_CONTROL)
        result |= ssCtrl;
    if (Keys & MK_LBUTTON)
        result |= ssLeft;
    if (Keys & MK_RBUTTON)
        result |= ssRight;
    if (Keys & MK_MBUTTON)
        result |= ssMiddle;
    if (GetKeyState(VK_MENU) < 0)
        result |= ssAlt;
    return result;
}

namespace {

TCursor ScreenCursorOverride = crDefault;
std::map<int, HCURSOR> *CustomCursors = nullptr;

bool IsMouseMessage(UINT Msg) {
    return Msg >= WM_MOUSEFIRST && Msg <= WM_MOUSELAST;
}

// The control under the pointer, for mouse enter and leave.
TControl *MouseControl = nullptr;

} // namespace

HCURSOR CursorHandle(TCursor Cursor) {
    if (CustomCursors) {
        auto found = CustomCursors->find(Cursor);
        if (found != CustomCursors->end())
            return found->second;
    }
    LPCSTR id = IDC_ARROW;
    switch (Cursor) {
    case crNone:
        return nullptr;
    case crCross:
        id = IDC_CROSS;
        break;
    case crIBeam:
        id = IDC_IBEAM;
        break;
    case crSizeNESW:
        id = IDC_SIZENESW;
        break;
    case crSizeNS:
    case crVSplit:
        id = IDC_SIZENS;
        break;
    case crSizeNWSE:
        id = IDC_SIZENWSE;
        break;
    case crSizeWE:
    case crHSplit:
        id = IDC_SIZEWE;
        break;
    case crUpArrow:
        id = IDC_UPARROW;
        break;
    case crHourGlass:
    case crSQLWait:
        id = IDC_WAIT;
        break;
    case crNoDrop:
    case crNo:
        id = IDC_NO;
        break;
    case crAppStart:
        id = IDC_APPSTARTING;
        break;
    case crHelp:
        id = IDC_HELP;
        break;
    case crHandPoint:
        id = IDC_HAND;
        break;
    case crSizeAll:
        id = IDC_SIZEALL;
        break;
    default:
        break;
    }
    return LoadCursorA(nullptr, id);
}

void SetCustomCursor(TCursor Cursor, HCURSOR Handle) {
    if (!CustomCursors)
        CustomCursors = new std::map<int, HCURSOR>;
    (*CustomCursors)[Cursor] = Handle;
}

TCursor GetScreenCursor() {
    return ScreenCursorOverride;
}

void SetScreenCursor(TCursor Cursor) {
    ScreenCursorOverride = Cursor;
    if (Cursor != crDefault) {
        SetCursor(CursorHandle(Cursor));
    } else {
        POINT pos;
        GetCursorPos(&pos);
        SetCursorPos(pos.x, pos.y); // lets the window under the pointer set its own cursor again
    }
}

void ForgetMouseControl(TControl *Control) {
    if (MouseControl == Control)
        MouseControl = nullptr;
}

// =============================================================================================
// Dragging

class TDragManager {
public:
    TControl *Source = nullptr;
    TDragObject *Object = nullptr;
    std::unique_ptr<TDragObject> OwnObject;
    TControl *Target = nullptr;
    TPoint StartPos;
    TPoint LastPos;
    int Threshold = 0;
    bool Active = false;
    bool Accepted = false;
    HWND CaptureWindow = nullptr;

    bool SendDrag(TControl *To, TDragMessage Message, TPoint Pos) {
        TDragRec rec{Pos, Object, To, false};
        return To->Perform(CM_DRAG, Message, reinterpret_cast<LPARAM>(&rec)) != 0;
    }

    void DragTo(TPoint Pos) {
        LastPos = Pos;
        if (!Active) {
            if (std::abs(Pos.X - StartPos.X) <= Threshold && std::abs(Pos.Y - StartPos.Y) <= Threshold)
                return;
            Active = true;
        }
        TControl *target = FindDragTarget(Pos, false);
        if (target != Target) {
            if (Target)
                SendDrag(Target, dmDragLeave, Pos);
            Target = target;
            Object->FDragTarget = target;
            Accepted = Target ? SendDrag(Target, dmDragEnter, Pos) : false;
        } else if (Target) {
            Accepted = SendDrag(Target, dmDragMove, Pos);
        }
        Object->FDragPos = Pos;
        TPoint local = Target ? Target->ScreenToClient(Pos) : Pos;
        SetCursor(CursorHandle(Object->GetDragCursor(Accepted, local.X, local.Y)));
    }

    static void Finish(bool Drop);
};

namespace {
TDragManager *DragState = nullptr;

} // namespace

void TDragManager::Finish(bool Drop) {
    if (!DragState)
        return;
    std::unique_ptr<TDragManager> state(DragState);
    DragState = nullptr;
    if (GetCapture() == state->CaptureWindow)
        ReleaseCapture();
    TControl *source = state->Source;
    TPoint pos = state->LastPos;
    if (!state->Active) {
        // Released before the pointer moved far enough: an ordinary click.
        source->SetControlState(source->ControlState() & ~csLButtonDown);
        if (Drop) {
            TPoint local = source->ScreenToClient(pos);
            if (PtInRect(source->ClientRect(), local) && (source->ControlStyle() & csClickEvents))
                source->Click();
        }
        state->Object->Finished(nullptr, 0, 0, false);
        source->DoEndDrag(nullptr, 0, 0);
        return;
    }
    TControl *target = state->Target;
    bool accepted = Drop && target && state->Accepted;
    TPoint local = target ? target->ScreenToClient(pos) : pos;
    if (target) {
        if (accepted)
            state->SendDrag(target, dmDragDrop, pos);
        else
            state->SendDrag(target, dmDragLeave, pos);
    }
    state->Object->Finished(accepted ? target : nullptr, local.X, local.Y, accepted);
    source->DoEndDrag(accepted ? target : nullptr, local.X, local.Y);
}

namespace {
void FinishDrag(bool Drop) {
    TDragManager::Finish(Drop);
}

// Mouse and key messages of the window that holds the drag capture.
bool HandleDragMessage(HWND Window, UINT Msg, WPARAM WParam, LPARAM LParam) {
    if (!DragState || Window != DragState->CaptureWindow)
        return false;
    POINT pos;
    GetCursorPos(&pos);
    switch (Msg) {
    case WM_MOUSEMOVE:
        DragState->DragTo({pos.x, pos.y});
        return true;
    case WM_LBUTTONUP:
        DragState->LastPos = {pos.x, pos.y};
        FinishDrag(true);
        return true;
    case WM_RBUTTONDOWN:
    case WM_CANCELMODE:
        FinishDrag(false);
        return true;
    case WM_KEYDOWN:
        if (WParam == VK_ESCAPE) {
            FinishDrag(false);
            return true;
        }
        return false;
    case WM_CAPTURECHANGED:
        if (reinterpret_cast<HWND>(LParam) != Window)
            FinishDrag(false);
        return true;
    default:
        return IsMouseMessage(Msg);
    }
}
} // namespace

void TControl::BeginDrag(bool Immediate, int Threshold) {
    if (DragState || !FParent)
        return;
    auto state = std::make_unique<TDragManager>();
    state->Source = this;
    TDragObject *object = nullptr;
    DoStartDrag(object);
    if (!object) {
        state->OwnObject = std::make_unique<TDragControlObject>(this);
        object = state->OwnObject.get();
    }
    state->Object = object;
    state->Threshold = Immediate ? -1 : (Threshold < 0 ? Mouse.DragThreshold() : Threshold);
    state->StartPos = state->LastPos = Mouse.CursorPos();
    auto *windowed = dynamic_cast<TWinControl *>(this);
    state->CaptureWindow = windowed ? windowed->Handle() : FParent->Handle();
    FParent->FCaptureControl = nullptr;
    DragState = state.release();
    SetCapture(DragState->CaptureWindow);
    if (Immediate)
        DragState->DragTo(DragState->StartPos);
}

void TControl::EndDrag(bool Drop) {
    if (DragState && DragState->Source == this)
        FinishDrag(Drop);
}

bool TControl::Dragging() const {
    return DragState && DragState->Source == this;
}

void TControl::DoStartDrag(TDragObject *&DragObject) {
    OnStartDrag(this, DragObject);
}

void TControl::DragOver(TObject *Source, int X, int Y, TDragState State, bool &Accept) {
    Accept = OnDragOver.Assigned();
    OnDragOver(this, Source, X, Y, State, Accept);
}

void TControl::DragDrop(TObject *Source, int X, int Y) {
    OnDragDrop(this, Source, X, Y);
}

void TControl::DoEndDrag(TObject *Target, int X, int Y) {
    OnEndDrag(this, Target, X, Y);
}

// =============================================================================================
// TControl

TControl::TControl(TComponent *AOwner)
    : TComponent(AOwner), FFont(std::make_unique<TFont>()),
      FConstraints(std::make_unique<TSizeConstraints>(*this)) {
    FFont->OnChange = MakeNotifyEvent<&TControl::FontChanged>(this);
}

TControl::~TControl() {
    SetDestroying();
    if (DragState && DragState->Source == this)
        FinishDrag(false);
    if (DragState && DragState->Target == this)
        DragState->Target = nullptr;
    ForgetMouseControl(this);
    if (FPopupMenu)
        FPopupMenu->RemoveFreeNotification(this);
    if (FParent)
        FParent->RemoveControl(this);
}

void TControl::Notification(TComponent *AComponent, TOperation Operation) {
    TComponent::Notification(AComponent, Operation);
    if (Operation == opRemove && AComponent == FPopupMenu)
        FPopupMenu = nullptr;
}

LRESULT TControl::Perform(UINT Msg, WPARAM WParam, LPARAM LParam) {
    TMessage message{Msg, WParam, LParam, 0};
    WndProc(message);
    return message.Result;
}

void TControl::DefaultHandler(TMessage &) {}

TCustomForm *TControl::ParentForm() const {
    const TControl *control = this;
    while (control->FParent)
        control = control->FParent;
    return dynamic_cast<TCustomForm *>(const_cast<TControl *>(control));
}

void TControl::SetParent(TWinControl *AParent) {
    if (AParent == FParent)
        return;
    if (AParent == this)
        throw Exception("A control cannot have itself as its parent");
    if (FParent) {
        FParent->RemoveControl(this); // which destroys a windowed control's window
    } else if (auto *windowed = dynamic_cast<TWinControl *>(this)) {
        // A top-level window becomes a child window: made again inside the new parent.
        windowed->DestroyHandle();
    }
    if (AParent)
        AParent->InsertControl(this);
}

void TControl::SetBounds(int ALeft, int ATop, int AWidth, int AHeight) {
    ConstrainSize(AWidth, AHeight);
    if (ALeft == FLeft && ATop == FTop && AWidth == FWidth && AHeight == FHeight)
        return;
    InvalidateControl(FVisible, false);
    bool sized = AWidth != FWidth || AHeight != FHeight;
    FLeft = ALeft;
    FTop = ATop;
    FWidth = AWidth;
    FHeight = AHeight;
    if (!FAnchoring)
        UpdateAnchorRules();
    InvalidateControl(FVisible, false);
    BoundsChanged();
    RequestAlign();
    if (sized)
        Resize();
}

// --- Size constraints and anchors --------------------------------------------------------------

void TSizeConstraints::Change(int &Field, int Value) {
    Value = std::max(0, Value);
    if (Value == Field)
        return;
    Field = Value;
    FControl.SetBounds(FControl.Left(), FControl.Top(), FControl.Width(), FControl.Height());
}

void TSizeConstraints::SetMinWidth(int Value) {
    Change(FMinWidth, Value);
}

void TSizeConstraints::SetMinHeight(int Value) {
    Change(FMinHeight, Value);
}

void TSizeConstraints::SetMaxWidth(int Value) {
    Change(FMaxWidth, Value);
}

void TSizeConstraints::SetMaxHeight(int Value) {
    Change(FMaxHeight, Value);
}

void TSizeConstraints::Apply(int &Width, int &Height) const {
    if (FMaxWidth > 0)
        Width = std::min(Width, FMaxWidth);
    if (FMinWidth > 0)
        Width = std::max(Width, FMinWidth);
    if (FMaxHeight > 0)
        Height = std::min(Height, FMaxHeight);
    if (FMinHeight > 0)
        Height = std::max(Height, FMinHeight);
}

void TControl::ConstrainSize(int &AWidth, int &AHeight) {
    FConstraints->Apply(AWidth, AHeight);
}

void TControl::SetAnchors(TAnchors Value) {
    if (Value == FAnchors)
        return;
    FAnchors = Value;
    UpdateAnchorRules();
}

void TControl::UpdateAnchorRules() {
    if (FAnchors == (akLeft | akTop) || FAlign != alNone)
        return;
    FAnchorOrigin = BoundsRect();
    FAnchorParentSize = {0, 0};
    // A parent without its window does not know its client size yet: the base is taken at the
    // first alignment after the window is there. The size is that of the area the parent
    // aligns its children in, as alignment later gives it.
    if (FParent && FParent->HandleAllocated()) {
        RECT area = FParent->DisplayRect();
        if (area.right > area.left && area.bottom > area.top)
            FAnchorParentSize = {area.right - area.left, area.bottom - area.top};
    }
}

void TControl::ApplyAnchors(int ParentWidth, int ParentHeight) {
    if (FAnchors == (akLeft | akTop) || FAlign != alNone || ParentWidth <= 0 || ParentHeight <= 0)
        return;
    if (FAnchorParentSize.X <= 0 || FAnchorParentSize.Y <= 0) {
        FAnchorOrigin = BoundsRect();
        FAnchorParentSize = {ParentWidth, ParentHeight};
        return;
    }
    // One direction: the near edge, the far edge, both (stretch) or neither (the centre keeps
    // its relative place).
    auto place = [](int &Pos, int &Size, int OldParent, int NewParent, bool Near, bool Far) {
        if (Near && Far)
            Size += NewParent - OldParent;
        else if (Far)
            Pos += NewParent - OldParent;
        else if (!Near)
            Pos = MulDiv(Pos + Size / 2, NewParent, OldParent) - Size / 2;
    };
    int left = FAnchorOrigin.left, top = FAnchorOrigin.top;
    int width = FAnchorOrigin.right - FAnchorOrigin.left, height = FAnchorOrigin.bottom - FAnchorOrigin.top;
    place(left, width, FAnchorParentSize.X, ParentWidth, FAnchors & akLeft, FAnchors & akRight);
    place(top, height, FAnchorParentSize.Y, ParentHeight, FAnchors & akTop, FAnchors & akBottom);
    FAnchoring = true;
    try {
        SetBounds(left, top, std::max(0, width), std::max(0, height));
    } catch (...) {
        FAnchoring = false;
        throw;
    }
    FAnchoring = false;
}

void TControl::UpdateBoundsRect(const RECT &R) {
    bool sized = R.right - R.left != FWidth || R.bottom - R.top != FHeight;
    FLeft = R.left;
    FTop = R.top;
    FWidth = R.right - R.left;
    FHeight = R.bottom - R.top;
    if (sized)
        Resize();
}

void TControl::Resize() {
    if (!Destroying())
        OnResize(this);
}

RECT TControl::ClientRect() {
    return Rect(0, 0, FWidth, FHeight);
}

void TControl::SetClientSize(int AWidth, int AHeight) {
    RECT client = ClientRect();
    SetBounds(FLeft, FTop, FWidth + AWidth - client.right, FHeight + AHeight - client.bottom);
}

TPoint TControl::ClientOrigin() const {
    if (!FParent)
        return {FLeft, FTop};
    TPoint origin = FParent->ClientOrigin();
    return {origin.X + FLeft, origin.Y + FTop};
}

TPoint TControl::ClientToScreen(TPoint P) const {
    TPoint origin = ClientOrigin();
    return {P.X + origin.X, P.Y + origin.Y};
}

TPoint TControl::ScreenToClient(TPoint P) const {
    TPoint origin = ClientOrigin();
    return {P.X - origin.X, P.Y - origin.Y};
}

void TControl::SetAlign(TAlign Value) {
    if (Value == FAlign)
        return;
    FAlign = Value;
    RequestAlign();
}

void TControl::RequestAlign() {
    if (FParent && (FAlign != alNone || FParent->FAlignLevel > 0))
        FParent->Realign();
}

void TControl::SetVisible(bool Value) {
    if (Value == FVisible)
        return;
    InvalidateControl(true, false);
    FVisible = Value;
    Perform(CM_VISIBLECHANGED, Value);
    if (FAlign != alNone)
        RequestAlign();
}

void TControl::SetEnabled(bool Value) {
    if (Value == FEnabled)
        return;
    FEnabled = Value;
    Perform(CM_ENABLEDCHANGED);
}

void TControl::SetColor(TColor Value) {
    if (Value == FColor && !FParentColor)
        return;
    FColor = Value;
    FParentColor = false;
    Perform(CM_COLORCHANGED);
}

void TControl::SetParentColor(bool Value) {
    if (Value == FParentColor)
        return;
    FParentColor = Value;
    if (Value && FParent)
        Perform(CM_PARENTCOLORCHANGED);
}

void TControl::FontChanged(TObject *) {
    FParentFont = false;
    Perform(CM_FONTCHANGED);
}

void TControl::SetParentFont(bool Value) {
    if (Value == FParentFont)
        return;
    FParentFont = Value;
    if (Value && FParent)
        Perform(CM_PARENTFONTCHANGED);
}

void TControl::SetShowHint(bool Value) {
    FShowHint = Value;
    FParentShowHint = false;
}

void TControl::SetParentShowHint(bool Value) {
    FParentShowHint = Value;
    if (Value && FParent)
        FShowHint = FParent->ShowHint();
}

void TControl::SetPopupMenu(TPopupMenu *Value) {
    SetComponentReference(this, FPopupMenu, Value);
}

void TControl::SetCursor(TCursor Value) {
    if (Value == FCursor)
        return;
    FCursor = Value;
    Perform(CM_CURSORCHANGED);
}

std::string TControl::Text() {
    return GetText();
}

void TControl::SetText(const std::string &Value) {
    if (Value != GetText())
        SetTextBuf(Value);
}

std::string TControl::GetText() {
    return FText;
}

void TControl::SetTextBuf(const std::string &Value) {
    FText = Value;
    Perform(CM_TEXTCHANGED);
}

bool TControl::MouseCapture() const {
    if (auto *windowed = dynamic_cast<const TWinControl *>(this))
        return windowed->HandleAllocated() && GetCapture() == windowed->FHandle;
    return FParent && FParent->FCaptureControl == this && GetCapture() == FParent->FHandle;
}

void TControl::SetMouseCapture(bool Value) {
    if (Value == MouseCapture())
        return;
    if (auto *windowed = dynamic_cast<TWinControl *>(this)) {
        if (Value)
            SetCapture(windowed->Handle());
        else
            ReleaseCapture();
        return;
    }
    if (!FParent)
        return;
    if (Value) {
        FParent->FCaptureControl = this;
        SetCapture(FParent->Handle());
    } else {
        FParent->FCaptureControl = nullptr;
        ReleaseCapture();
    }
}

void TControl::InvalidateControl(bool IsVisible, bool IsOpaque) {
    if (!IsVisible || !FParent || !FParent->HandleAllocated() || dynamic_cast<TWinControl *>(this))
        return;
    RECT r = BoundsRect();
    InvalidateRect(FParent->FHandle, &r, !(IsOpaque || (FControlStyle & csOpaque)));
}

void TControl::Invalidate() {
    InvalidateControl(FVisible, (FControlStyle & csOpaque) != 0);
}

void TControl::Update() {
    if (FParent)
        FParent->Update();
}

void TControl::Repaint() {
    Invalidate();
    Update();
}

void TControl::BringToFront() {
    if (!FParent)
        return;
    auto &list = FParent->FControls;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
    list.push_back(this);
    if (auto *windowed = dynamic_cast<TWinControl *>(this)) {
        if (windowed->HandleAllocated())
            SetWindowPos(windowed->FHandle, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
    Invalidate();
}

void TControl::SendToBack() {
    if (!FParent)
        return;
    auto &list = FParent->FControls;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
    list.insert(list.begin(), this);
    if (auto *windowed = dynamic_cast<TWinControl *>(this)) {
        if (windowed->HandleAllocated())
            SetWindowPos(windowed->FHandle, HWND_BOTTOM, 0, 0, 0, 0,
                         SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
    Invalidate();
}

TPopupMenu *TControl::GetPopupMenu() {
    if (FPopupMenu)
        return FPopupMenu;
    return FParent ? FParent->GetPopupMenu() : nullptr;
}

void TControl::Click() {
    if (!Destroying())
        OnClick(this);
}

void TControl::DblClick() {
    if (!Destroying())
        OnDblClick(this);
}

void TControl::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) {
    if (!Destroying())
        OnMouseDown(this, Button, Shift, X, Y);
}

void TControl::MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) {
    if (!Destroying())
        OnMouseUp(this, Button, Shift, X, Y);
}

void TControl::MouseMove(TShiftState Shift, int X, int Y) {
    if (!Destroying())
        OnMouseMove(this, Shift, X, Y);
}

void TControl::HandleMouseMessage(TMessage &Message) {
    int x = GET_X_LPARAM(Message.LParam), y = GET_Y_LPARAM(Message.LParam);
    TShiftState shift = KeysToShiftState(Message.WParam);
    bool stdEvents = !(FControlStyle & csNoStdEvents);
    switch (Message.Msg) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
        if (FControlStyle & csCaptureMouse)
            SetMouseCapture(true);
        if (FControlStyle & csClickEvents)
            FControlState |= csClicked;
        FControlState |= csLButtonDown;
        DefaultHandler(Message);
        if (Message.Msg == WM_LBUTTONDBLCLK && (FControlStyle & csDoubleClicks)) {
            shift |= ssDouble;
            DblClick();
        }
        if (stdEvents)
            MouseDown(mbLeft, shift, x, y);
        if (FDragMode == dmAutomatic && Message.Msg == WM_LBUTTONDOWN && !Destroying())
            BeginDrag(false);
        break;
    case WM_LBUTTONUP: {
        FControlState &= ~csLButtonDown;
        bool clicked = (FControlState & csClicked) != 0;
        FControlState &= ~csClicked;
        if (FControlStyle & csCaptureMouse)
            SetMouseCapture(false);
        DefaultHandler(Message);
        if (clicked && PtInRect(ClientRect(), Point(x, y)))
            Click();
        if (stdEvents && !Destroying())
            MouseUp(mbLeft, shift, x, y);
        break;
    }
    case WM_RBUTTONDOWN:
    case WM_RBUTTONDBLCLK:
    case WM_MBUTTONDOWN:
    case WM_MBUTTONDBLCLK:
        DefaultHandler(Message);
        if (stdEvents)
            MouseDown(Message.Msg == WM_MBUTTONDOWN || Message.Msg == WM_MBUTTONDBLCLK ? mbMiddle : mbRight,
                      shift, x, y);
        break;
    case WM_RBUTTONUP:
    case WM_MBUTTONUP:
        DefaultHandler(Message);
        if (stdEvents)
            MouseUp(Message.Msg == WM_MBUTTONUP ? mbMiddle : mbRight, shift, x, y);
        if (Message.Msg == WM_RBUTTONUP && !dynamic_cast<TWinControl *>(this)) {
            // Graphic controls get no WM_CONTEXTMENU of their own.
            TPoint screen = ClientToScreen({x, y});
            Perform(WM_CONTEXTMENU, 0, MAKELPARAM(screen.X, screen.Y));
        }
        break;
    case WM_MOUSEMOVE:
        DefaultHandler(Message);
        if (stdEvents)
            MouseMove(shift, x, y);
        break;
    default:
        DefaultHandler(Message);
        break;
    }
}

void TControl::WndProc(TMessage &Message) {
    switch (Message.Msg) {
    case CM_MOUSEENTER:
        FMouseInControl = true;
        if (!Destroying())
            OnMouseEnter(this);
        return;
    case CM_MOUSELEAVE:
        FMouseInControl = false;
        if (!Destroying())
            OnMouseLeave(this);
        return;
    case CM_PARENTFONTCHANGED:
        if (FParentFont && FParent) {
            FFont->Assign(FParent->Font());
            FParentFont = true; // Assign fired the change handler, which cleared it
        }
        return;
    case CM_PARENTCOLORCHANGED:
        if (FParentColor && FParent) {
            FColor = FParent->Color();
            Perform(CM_COLORCHANGED);
        }
        return;
    case CM_FONTCHANGED:
    case CM_COLORCHANGED:
    case CM_ENABLEDCHANGED:
    case CM_VISIBLECHANGED:
    case CM_TEXTCHANGED:
        Invalidate();
        return;
    case CM_DRAG: {
        auto *rec = reinterpret_cast<TDragRec *>(Message.LParam);
        TPoint local = ScreenToClient(rec->Pos);
        // A plain control drag shows its control as the source, other drags their object.
        auto *controlObject = dynamic_cast<TDragControlObject *>(rec->Source);
        TObject *source = controlObject ? static_cast<TObject *>(controlObject->Control()) : rec->Source;
        switch (Message.WParam) {
        case dmDragEnter:
        case dmDragLeave:
        case dmDragMove: {
            bool accept = false;
            TDragState state = Message.WParam == dmDragEnter   ? dsDragEnter
                               : Message.WParam == dmDragLeave ? dsDragLeave
                                                               : dsDragMove;
            DragOver(source, local.X, local.Y, state, accept);
            Message.Result = accept;
            break;
        }
        case dmDragDrop:
            DragDrop(source, local.X, local.Y);
            break;
        default:
            break;
        }
        return;
    }
    case WM_CONTEXTMENU: {
        TPoint pos{GET_X_LPARAM(Message.LParam), GET_Y_LPARAM(Message.LParam)};
        bool handled = false;
        TPoint local = pos.X == -1 && pos.Y == -1 ? TPoint{-1, -1} : ScreenToClient(pos);
        OnContextPopup(this, local, handled);
        if (handled) {
            Message.Result = 1;
            return;
        }
        TPopupMenu *menu = GetPopupMenu();
        if (menu && menu->AutoPopup()) {
            if (pos.X == -1 && pos.Y == -1)
                pos = ClientToScreen({0, 0});
            menu->SetPopupComponent(this);
            menu->Popup(pos.X, pos.Y);
            Message.Result = 1;
            return;
        }
        DefaultHandler(Message);
        return;
    }
    default:
        break;
    }
    if (IsMouseMessage(Message.Msg)) {
        HandleMouseMessage(Message);
        return;
    }
    DefaultHandler(Message);
}

// =============================================================================================
// Window classes and the window procedure

namespace {

const char *const ControlProperty = "OrbiskControl";
thread_local TWinControl *CreationControl = nullptr;

struct TRegisteredClass {
    WNDPROC DefProc;
};
std::map<std::string, TRegisteredClass> *RegisteredClasses = nullptr;

WNDPROC RegisterControlClass(const TCreateParams &Params) {
    if (!RegisteredClasses)
        RegisteredClasses = new std::map<std::string, TRegisteredClass>;
    auto found = RegisteredClasses->find(Params.WinClassName);
    if (found != RegisteredClasses->end())
        return found->second.DefProc;
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA windowClass = {};
    WNDPROC defProc = DefWindowProcA;
    if (!Params.SystemClassName.empty()) {
        if (!GetClassInfoA(nullptr, Params.SystemClassName.c_str(), &windowClass) &&
            !GetClassInfoA(instance, Params.SystemClassName.c_str(), &windowClass))
            throw Exception("Window class %s is not registered", Params.SystemClassName);
        defProc = windowClass.lpfnWndProc;
        windowClass.style = (windowClass.style & ~CS_GLOBALCLASS) | (Params.ClassStyle & CS_DBLCLKS);
    } else {
        windowClass.style = Params.ClassStyle;
        windowClass.hCursor = Params.ClassCursor ? Params.ClassCursor : LoadCursorA(nullptr, IDC_ARROW);
        windowClass.hbrBackground = Params.ClassBackground;
    }
    windowClass.lpfnWndProc = ControlWindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = Params.WinClassName.c_str();
    if (!RegisterClassA(&windowClass))
        throw Exception("Cannot register window class %s", Params.WinClassName);
    (*RegisteredClasses)[Params.WinClassName] = {defProc};
    return defProc;
}

WNDPROC ClassDefaultProc(HWND Window) {
    char name[256] = {};
    GetClassNameA(Window, name, sizeof(name));
    if (RegisteredClasses) {
        auto found = RegisteredClasses->find(name);
        if (found != RegisteredClasses->end())
            return found->second.DefProc;
    }
    return DefWindowProcA;
}

} // namespace

TWinControl *FindControl(HWND Window) {
    if (!Window)
        return nullptr;
    if (GetWindowThreadProcessId(Window, nullptr) != GetCurrentThreadId())
        return nullptr;
    return static_cast<TWinControl *>(GetPropA(Window, ControlProperty));
}

LRESULT CALLBACK ControlWindowProc(HWND Window, UINT Msg, WPARAM WParam, LPARAM LParam) {
    auto *control = static_cast<TWinControl *>(GetPropA(Window, ControlProperty));
    if (!control) {
        control = CreationControl;
        if (!control)
            return CallWindowProcA(ClassDefaultProc(Window), Window, Msg, WParam, LParam);
        CreationControl = nullptr;
        control->FHandle = Window;
        SetPropA(Window, ControlProperty, control);
    }
    TMessage message{Msg, WParam, LParam, 0};
    try {
        if (DragState && HandleDragMessage(Window, Msg, WParam, LParam))
            return 0;
        control->WndProc(message);
    } catch (...) {
        if (Application)
            Application->HandleException(control);
    }
    if (Msg == WM_NCDESTROY) {
        RemovePropA(Window, ControlProperty);
        if (control->FHandle == Window)
            control->FHandle = nullptr;
    }
    return message.Result;
}

// =============================================================================================
// TWinControl

TWinControl::TWinControl(TComponent *AOwner) : TControl(AOwner), FBrush(std::make_unique<TBrush>()) {
    // System controls click and capture the mouse by themselves.
    FControlStyle &= ~(csClickEvents | csCaptureMouse);
    FBrush->SetColor(FColor);
}

TWinControl::~TWinControl() {
    SetDestroying();
    DestroyComponents();
    while (!FControls.empty())
        FControls.back()->SetParent(nullptr);
    if (FParent)
        FParent->RemoveControl(this);
    DestroyHandle();
}

HWND TWinControl::Handle() {
    HandleNeeded();
    return FHandle;
}

void TWinControl::HandleNeeded() {
    if (FHandle)
        return;
    if (FParent)
        FParent->HandleNeeded();
    if (!FHandle)
        CreateHandle();
}

void TWinControl::SetParentWindow(HWND Value) {
    if (Value == FParentWindow)
        return;
    FParentWindow = Value;
    if (!FParent && FHandle)
        RecreateWnd();
}

void TWinControl::CreateParams(TCreateParams &Params) {
    Params.Caption = FText;
    Params.Style = WS_CHILD | WS_CLIPSIBLINGS;
    if (FControlStyle & csAcceptsControls)
        Params.Style |= WS_CLIPCHILDREN;
    Params.ExStyle = (FControlStyle & csAcceptsControls) ? WS_EX_CONTROLPARENT : 0;
    if (FVisible)
        Params.Style |= WS_VISIBLE;
    if (!FEnabled)
        Params.Style |= WS_DISABLED;
    if (FTabStop)
        Params.Style |= WS_TABSTOP;
    Params.X = FLeft;
    Params.Y = FTop;
    Params.Width = FWidth;
    Params.Height = FHeight + ExtraWindowHeight();
    Params.WndParent = FParent ? FParent->Handle() : FParentWindow;
    Params.WinClassName = ClassName();
}

void TWinControl::CreateWindowHandle(const TCreateParams &Params) {
    CreationControl = this;
    HWND window = CreateWindowExA(Params.ExStyle, Params.WinClassName.c_str(), Params.Caption.c_str(),
                                  Params.Style, Params.X, Params.Y, Params.Width, Params.Height,
                                  Params.WndParent, nullptr, GetModuleHandleA(nullptr), Params.Param);
    CreationControl = nullptr;
    if (!window)
        throw Exception("Error creating window of %s (%lu)", std::string(ClassName()), GetLastError());
    if (!FHandle) {
        // A window that sent nothing during creation.
        FHandle = window;
        SetPropA(window, ControlProperty, this);
    }
}

void TWinControl::CreateWnd() {
    TCreateParams params;
    CreateParams(params);
    if ((params.Style & WS_CHILD) && !params.WndParent)
        throw Exception("Control '%s' has no parent window", Name());
    FDefWndProc = RegisterControlClass(params);
    CreateWindowHandle(params);
    UpdateWindowFont();
}

void TWinControl::UpdateWindowFont() {
    if (FHandle)
        SendMessageA(FHandle, WM_SETFONT, reinterpret_cast<WPARAM>(FFont->Handle()), 0);
}

void TWinControl::CreateHandle() {
    if (FHandle)
        return;
    FControlState |= csCreating;
    try {
        CreateWnd();
    } catch (...) {
        FControlState &= ~csCreating;
        throw;
    }
    FControlState &= ~csCreating;
    // Window order follows the control list.
    CreateChildHandles();
    Realign();
}

void TWinControl::DestroyWnd() {
    FText = GetText();
    DestroyWindowHandle();
}

void TWinControl::DestroyWindowHandle() {
    HWND window = FHandle;
    if (window) {
        DestroyWindow(window);
        if (FHandle == window) {
            RemovePropA(window, ControlProperty);
            FHandle = nullptr;
        }
    }
}

void TWinControl::DestroyHandle() {
    if (!FHandle)
        return;
    // Children first, so that each keeps its state.
    for (TControl *child : FControls)
        if (auto *windowed = dynamic_cast<TWinControl *>(child))
            windowed->DestroyHandle();
    if (FHandle)
        DestroyWnd();
}

void TWinControl::RecreateWnd() {
    if (!FHandle || FRecreating)
        return;
    FRecreating = true;
    bool focused = Focused();
    try {
        DestroyHandle();
        UpdateShowing();
        if (FVisible && (!FParent || FParent->HandleAllocated()))
            HandleNeeded();
    } catch (...) {
        FRecreating = false;
        throw;
    }
    FRecreating = false;
    if (focused && FHandle)
        ::SetFocus(FHandle);
}

void TWinControl::UpdateShowing() {}

void TWinControl::CreateChildHandles() {
    // Windows destroyed to save resources (hidden pages) come back when shown.
    for (TControl *child : FControls)
        if (auto *windowed = dynamic_cast<TWinControl *>(child))
            if (windowed->FVisible && !windowed->FHandle)
                windowed->CreateHandle();
}

bool TWinControl::Showing() const {
    if (!FHandle || !FVisible)
        return false;
    return IsWindowVisible(FHandle) != FALSE;
}

void TWinControl::InsertControl(TControl *AControl) {
    AControl->FParent = this;
    FControls.push_back(AControl);
    if (auto *windowed = dynamic_cast<TWinControl *>(AControl))
        FTabList.push_back(windowed);
    AControl->Perform(CM_PARENTCOLORCHANGED);
    AControl->Perform(CM_PARENTFONTCHANGED);
    if (AControl->FParentShowHint)
        AControl->FShowHint = FShowHint;
    if (auto *windowed = dynamic_cast<TWinControl *>(AControl)) {
        if (FHandle && windowed->FVisible)
            windowed->HandleNeeded();
    } else {
        AControl->Invalidate();
    }
    if (AControl->FAlign != alNone)
        Realign();
}

void TWinControl::RemoveControl(TControl *AControl) {
    if (FCaptureControl == AControl)
        FCaptureControl = nullptr;
    if (auto *windowed = dynamic_cast<TWinControl *>(AControl)) {
        windowed->DestroyHandle();
        FTabList.erase(std::remove(FTabList.begin(), FTabList.end(), windowed), FTabList.end());
    } else {
        AControl->Invalidate();
    }
    FControls.erase(std::remove(FControls.begin(), FControls.end(), AControl), FControls.end());
    AControl->FParent = nullptr;
    if (AControl->FAlign != alNone && !Destroying())
        Realign();
}

bool TWinControl::ContainsControl(TControl *Control) const {
    while (Control && Control != this)
        Control = Control->Parent();
    return Control == this;
}

TControl *TWinControl::ControlAtPos(TPoint Pos, bool AllowDisabled, bool AllowWinControls) {
    for (auto it = FControls.rbegin(); it != FControls.rend(); ++it) {
        TControl *control = *it;
        bool windowed = dynamic_cast<TWinControl *>(control) != nullptr;
        if (windowed && !AllowWinControls)
            continue;
        if (!control->FVisible || (!control->FEnabled && !AllowDisabled))
            continue;
        if (PtInRect(control->BoundsRect(), Pos))
            return control;
    }
    return nullptr;
}

TControl *FindDragTarget(TPoint Pos, bool AllowDisabled) {
    HWND window = WindowFromPoint({Pos.X, Pos.Y});
    TWinControl *control = nullptr;
    while (window && !(control = FindControl(window)))
        window = GetParent(window);
    if (!control)
        return nullptr;
    TControl *child = control->ControlAtPos(control->ScreenToClient(Pos), AllowDisabled);
    return child ? child : control;
}

void TWinControl::DisableAlign() {
    ++FAlignLevel;
}

void TWinControl::EnableAlign() {
    if (--FAlignLevel == 0 && (FControlState & csAlignmentNeeded))
        Realign();
}

void TWinControl::Realign() {
    if (FAlignLevel > 0 || FAligning) {
        FControlState |= csAlignmentNeeded;
        return;
    }
    FControlState &= ~csAlignmentNeeded;
    AlignChildren();
}

void TWinControl::AlignChildren() {
    FAligning = true;
    try {
        RECT rect = DisplayRect();
        AlignControls(nullptr, rect);
    } catch (...) {
        FAligning = false;
        throw;
    }
    FAligning = false;
    if (FControlState & csAlignmentNeeded) {
        FControlState &= ~csAlignmentNeeded;
        FAligning = true;
        RECT rect = DisplayRect();
        try {
            AlignControls(nullptr, rect);
        } catch (...) {
            FAligning = false;
            throw;
        }
        FAligning = false;
    }
}

void TWinControl::AlignControls(TControl *, RECT &Rect) {
    // Children without alignment follow their anchors within the whole area.
    if (FHandle) {
        const int areaWidth = Rect.right - Rect.left, areaHeight = Rect.bottom - Rect.top;
        for (TControl *control : std::vector<TControl *>(FControls))
            control->ApplyAnchors(areaWidth, areaHeight);
    }
    // Top, bottom, left, right, client, each group in order of its place on the edge it sits on.
    static const TAlign order[] = {alTop, alBottom, alLeft, alRight, alClient};
    for (TAlign align : order) {
        std::vector<TControl *> group;
        for (TControl *control : FControls)
            if (control->FAlign == align && control->FVisible)
                group.push_back(control);
        auto key = [align](TControl *c) {
            switch (align) {
            case alTop:
                return c->FTop;
            case alBottom:
                return -(c->FTop + c->FHeight);
            case alLeft:
                return c->FLeft;
            case alRight:
                return -(c->FLeft + c->FWidth);
            default:
                return 0;
            }
        };
        std::stable_sort(group.begin(), group.end(),
                         [&](TControl *a, TControl *b) { return key(a) < key(b); });
        for (TControl *control : group) {
            int width = Rect.right - Rect.left, height = Rect.bottom - Rect.top;
            switch (align) {
            case alTop:
                control->SetBounds(Rect.left, Rect.top, width, control->FHeight);
                Rect.top += control->FHeight;
                break;
            case alBottom:
                control->SetBounds(Rect.left, Rect.bottom - control->FHeight, width, control->FHeight);
                Rect.bottom -= control->FHeight;
                break;
            case alLeft:
                control->SetBounds(Rect.left, Rect.top, control->FWidth, height);
                Rect.left += control->FWidth;
                break;
            case alRight:
                control->SetBounds(Rect.right - control->FWidth, Rect.top, control->FWidth, height);
                Rect.right -= control->FWidth;
                break;
            default:
                control->SetBounds(Rect.left, Rect.top, width, height);
                break;
            }
        }
    }
}

void TWinControl::SetBounds(int ALeft, int ATop, int AWidth, int AHeight) {
    ConstrainSize(AWidth, AHeight);
    if (ALeft == FLeft && ATop == FTop && AWidth == FWidth && AHeight == FHeight)
        return;
    bool sized = AWidth != FWidth || AHeight != FHeight;
    FLeft = ALeft;
    FTop = ATop;
    FWidth = AWidth;
    FHeight = AHeight;
    if (!FAnchoring)
        UpdateAnchorRules();
    if (FHandle) {
        // WM_WINDOWPOSCHANGED reads back what the window took (and reports a size other than
        // the one asked for itself).
        SetWindowPos(FHandle, nullptr, ALeft, ATop, AWidth, AHeight + ExtraWindowHeight(),
                     SWP_NOZORDER | SWP_NOACTIVATE);
        if (sized && !Destroying())
            Resize();
    } else if (sized) {
        Realign();
        Resize();
    }
    RequestAlign();
}

void TWinControl::BoundsChanged() {}

void TWinControl::UseInputStyle() {
    FTabStop = true;
    FColor = clWindow;
    FParentColor = false;
    FBrush->SetColor(FColor);
    FControlStyle &= ~csSetCaption;
}

HWND AllocateUtilityWindow(const char *ClassName, WNDPROC Proc, HWND Parent, void *Data) {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA windowClass = {};
    if (!GetClassInfoA(instance, ClassName, &windowClass)) {
        windowClass.lpfnWndProc = Proc;
        windowClass.hInstance = instance;
        windowClass.lpszClassName = ClassName;
        RegisterClassA(&windowClass);
    }
    HWND window = CreateWindowExA(Parent == HWND_MESSAGE ? 0 : WS_EX_TOOLWINDOW, ClassName, "",
                                  Parent == HWND_MESSAGE ? 0 : WS_POPUP, 0, 0, 0, 0, Parent, nullptr,
                                  instance, nullptr);
    if (!window)
        throw Exception("Error creating window of %s (%lu)", std::string(ClassName), GetLastError());
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(Data));
    return window;
}

std::string TWinControl::GetText() {
    if (!FHandle)
        return FText;
    int length = GetWindowTextLengthA(FHandle);
    std::string text(length + 1, '\0');
    int got = GetWindowTextA(FHandle, text.data(), length + 1);
    text.resize(got > 0 ? got : 0);
    return text;
}

void TWinControl::SetTextBuf(const std::string &Value) {
    FText = Value;
    if (FHandle)
        SetWindowTextA(FHandle, Value.c_str()); // WM_SETTEXT reports the change
    else
        Perform(CM_TEXTCHANGED);
}

RECT TWinControl::ClientRect() {
    if (FHandle) {
        RECT r;
        GetClientRect(FHandle, &r);
        return r;
    }
    return TControl::ClientRect();
}

TPoint TWinControl::ClientOrigin() const {
    if (FHandle) {
        POINT p = {0, 0};
        ::ClientToScreen(FHandle, &p);
        return {p.x, p.y};
    }
    return TControl::ClientOrigin();
}

void TWinControl::SetVisible(bool Value) {
    if (Value == FVisible)
        return;
    FVisible = Value;
    if (FHandle) {
        if (Value)
            CreateChildHandles();
        ShowWindow(FHandle, Value ? (FParent ? SW_SHOWNA : SW_SHOW) : SW_HIDE);
    } else if (Value && FParent && FParent->HandleAllocated()) {
        HandleNeeded();
    }
    Perform(CM_VISIBLECHANGED, Value);
    if (FAlign != alNone)
        RequestAlign();
}

void TWinControl::SetEnabled(bool Value) {
    if (Value == FEnabled)
        return;
    FEnabled = Value;
    if (FHandle)
        EnableWindow(FHandle, Value);
    Perform(CM_ENABLEDCHANGED);
}

void TWinControl::Invalidate() {
    if (FHandle)
        InvalidateRect(FHandle, nullptr, !(FControlStyle & csOpaque));
}

void TWinControl::Update() {
    if (FHandle)
        UpdateWindow(FHandle);
}

bool TWinControl::Focused() const {
    return FHandle && GetFocus() == FHandle;
}

bool TWinControl::CanFocus() {
    for (TWinControl *control = this; control; control = control->FParent)
        if (!control->FVisible || !control->FEnabled)
            return false;
    return true;
}

void TWinControl::SetFocus() {
    ::SetFocus(Handle());
}

void TWinControl::SetTabStop(bool Value) {
    if (Value == FTabStop)
        return;
    FTabStop = Value;
    if (FHandle) {
        LONG style = GetWindowLongA(FHandle, GWL_STYLE);
        SetWindowLongA(FHandle, GWL_STYLE, Value ? style | WS_TABSTOP : style & ~WS_TABSTOP);
    }
}

int TWinControl::TabOrder() const {
    if (!FParent)
        return -1;
    auto &list = FParent->FTabList;
    auto found = std::find(list.begin(), list.end(), this);
    return found == list.end() ? -1 : static_cast<int>(found - list.begin());
}

void TWinControl::SetTabOrder(int Value) {
    if (!FParent)
        return;
    auto &list = FParent->FTabList;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
    Value = std::clamp(Value, 0, static_cast<int>(list.size()));
    list.insert(list.begin() + Value, this);
}

TWinControl *TWinControl::FindNextControl(TWinControl *CurControl, bool GoForward, bool CheckTabStop,
                                          bool CheckParent) {
    // All focusable windowed controls inside this one, in tab order, depth first.
    std::vector<TWinControl *> list;
    std::vector<TWinControl *> stack{this};
    auto collect = [&](auto &&self, TWinControl *parent) -> void {
        for (TWinControl *child : parent->FTabList) {
            list.push_back(child);
            self(self, child);
        }
    };
    collect(collect, this);
    if (list.empty())
        return nullptr;
    int start = -1;
    for (size_t i = 0; i < list.size(); ++i)
        if (list[i] == CurControl)
            start = static_cast<int>(i);
    int count = static_cast<int>(list.size());
    int index = start;
    for (int step = 0; step < count; ++step) {
        index = GoForward ? (index + 1) % count : (index <= 0 ? count - 1 : index - 1);
        TWinControl *candidate = list[index];
        if (candidate == CurControl)
            break;
        if ((!CheckTabStop || candidate->FTabStop) && (!CheckParent || candidate->FParent == this) &&
            candidate->CanFocus())
            return candidate;
    }
    return nullptr;
}

void TWinControl::SelectNext(TWinControl *CurControl, bool GoForward, bool CheckTabStop) {
    TWinControl *next = FindNextControl(CurControl, GoForward, CheckTabStop, false);
    if (next)
        next->SetFocus();
}

bool TWinControl::DoKeyDown(WORD &Key, TShiftState Shift) {
    TCustomForm *form = ParentForm();
    if (form && form != static_cast<TControl *>(this) && form->KeyPreview()) {
        static_cast<TWinControl *>(form)->KeyDown(Key, Shift);
        if (Key == 0)
            return true;
    }
    if (!(FControlStyle & csNoStdEvents)) {
        KeyDown(Key, Shift);
        if (Key == 0)
            return true;
    }
    return false;
}

void TWinControl::KeyDown(WORD &Key, TShiftState Shift) {
    if (!Destroying())
        OnKeyDown(this, Key, Shift);
}

void TWinControl::KeyUp(WORD &Key, TShiftState Shift) {
    if (!Destroying())
        OnKeyUp(this, Key, Shift);
}

void TWinControl::KeyPress(char &Key) {
    if (!Destroying())
        OnKeyPress(this, Key);
}

void TWinControl::DoEnter() {
    if (!Destroying())
        OnEnter(this);
}

void TWinControl::DoExit() {
    if (!Destroying())
        OnExit(this);
}

void TWinControl::PaintWindow(HDC DC) {
    TMessage message{WM_PAINT, reinterpret_cast<WPARAM>(DC), 0, 0};
    DefaultHandler(message);
}

void TWinControl::PaintControls(HDC DC, TControl *First) {
    bool started = First == nullptr;
    for (TControl *control : FControls) {
        if (!started) {
            started = control == First;
            if (!started)
                continue;
        }
        if (dynamic_cast<TWinControl *>(control) || !control->FVisible)
            continue;
        RECT bounds = control->BoundsRect();
        if (!RectVisible(DC, &bounds))
            continue;
        int saved = SaveDC(DC);
        POINT origin;
        GetViewportOrgEx(DC, &origin);
        SetViewportOrgEx(DC, origin.x + control->FLeft, origin.y + control->FTop, nullptr);
        IntersectClipRect(DC, 0, 0, control->FWidth, control->FHeight);
        control->Perform(WM_PAINT, reinterpret_cast<WPARAM>(DC));
        RestoreDC(DC, saved);
    }
}

void TWinControl::PaintHandler(TMessage &Message) {
    HDC dc = reinterpret_cast<HDC>(Message.WParam);
    PAINTSTRUCT paint;
    if (!dc)
        dc = BeginPaint(FHandle, &paint);
    try {
        int saved = SaveDC(dc);
        // Opaque graphic children are left out of the window's own painting.
        for (TControl *control : FControls)
            if (!dynamic_cast<TWinControl *>(control) && control->FVisible &&
                (control->FControlStyle & csOpaque))
                ExcludeClipRect(dc, control->FLeft, control->FTop, control->FLeft + control->FWidth,
                                control->FTop + control->FHeight);
        PaintWindow(dc);
        RestoreDC(dc, saved);
        PaintControls(dc, nullptr);
    } catch (...) {
        if (!Message.WParam)
            EndPaint(FHandle, &paint);
        throw;
    }
    if (!Message.WParam)
        EndPaint(FHandle, &paint);
}

void TWinControl::ReflectMessage(TMessage &Message) {
    HWND child = nullptr;
    switch (Message.Msg) {
    case WM_COMMAND:
        child = reinterpret_cast<HWND>(Message.LParam);
        break;
    case WM_NOTIFY:
        child = reinterpret_cast<NMHDR *>(Message.LParam)->hwndFrom;
        break;
    case WM_DRAWITEM: {
        auto *item = reinterpret_cast<DRAWITEMSTRUCT *>(Message.LParam);
        if (item->CtlType == ODT_MENU) {
            DefaultHandler(Message);
            return;
        }
        child = item->hwndItem;
        break;
    }
    case WM_MEASUREITEM: {
        auto *item = reinterpret_cast<MEASUREITEMSTRUCT *>(Message.LParam);
        if (item->CtlType == ODT_MENU) {
            DefaultHandler(Message);
            return;
        }
        child = GetDlgItem(FHandle, item->CtlID);
        break;
    }
    default: // WM_CTLCOLOR..., WM_HSCROLL, WM_VSCROLL
        child = reinterpret_cast<HWND>(Message.LParam);
        break;
    }
    TWinControl *control = child ? FindControl(child) : nullptr;
    if (control && control != this) {
        Message.Result = control->Perform(CN_BASE + Message.Msg, Message.WParam, Message.LParam);
        return;
    }
    if (Message.Msg == WM_COMMAND && !child)
        return; // menu and accelerator commands: forms handle them
    DefaultHandler(Message);
}

bool TWinControl::IsControlMouseMsg(TMessage &Message) {
    auto *self = this;
    TControl *control = nullptr;
    TPoint pos{GET_X_LPARAM(Message.LParam), GET_Y_LPARAM(Message.LParam)};
    if (self->FCaptureControl && GetCapture() == self->FHandle) {
        control = self->FCaptureControl->FParent == self ? self->FCaptureControl : nullptr;
    } else {
        control = self->ControlAtPos(pos, false);
    }
    if (Message.Msg == WM_MOUSEMOVE) {
        TControl *under = control ? control : this;
        if (under != MouseControl) {
            TControl *old = MouseControl;
            MouseControl = under;
            if (old)
                old->Perform(CM_MOUSELEAVE);
            if (MouseControl == under)
                under->Perform(CM_MOUSEENTER);
            TRACKMOUSEEVENT track = {sizeof(track), TME_LEAVE, self->FHandle, 0};
            TrackMouseEvent(&track);
        }
    }
    if (!control)
        return false;
    LPARAM local = MAKELPARAM(pos.X - control->FLeft, pos.Y - control->FTop);
    Message.Result = control->Perform(Message.Msg, Message.WParam, local);
    return true;
}

void TWinControl::WndProc(TMessage &Message) {
    switch (Message.Msg) {
    case WM_PAINT:
        if (FDefWndProc == DefWindowProcA || !FControls.empty() || FDefWndProc == nullptr) {
            PaintHandler(Message);
            Message.Result = 0;
            return;
        }
        break;
    case WM_ERASEBKGND:
        if (FDefWndProc == DefWindowProcA) {
            if (!(FControlStyle & csOpaque)) {
                RECT r;
                GetClientRect(FHandle, &r);
                FBrush->SetColor(FColor);
                ::FillRect(reinterpret_cast<HDC>(Message.WParam), &r, FBrush->Handle());
            }
            Message.Result = 1;
            return;
        }
        break;
    case WM_COMMAND:
    case WM_NOTIFY:
    case WM_DRAWITEM:
    case WM_MEASUREITEM:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORSCROLLBAR:
    case WM_HSCROLL:
    case WM_VSCROLL:
        ReflectMessage(Message);
        return;
    case CN_CTLCOLOREDIT:
    case CN_CTLCOLORLISTBOX:
    case CN_CTLCOLORBTN:
    case CN_CTLCOLORSTATIC: {
        HDC dc = reinterpret_cast<HDC>(Message.WParam);
        SetTextColor(dc, ColorToRGB(FFont->Color()));
        SetBkColor(dc, ColorToRGB(FColor));
        FBrush->SetColor(FColor);
        Message.Result = reinterpret_cast<LRESULT>(FBrush->Handle());
        return;
    }
    case WM_WINDOWPOSCHANGED: {
        DefaultHandler(Message);
        auto *pos = reinterpret_cast<WINDOWPOS *>(Message.LParam);
        if (!(pos->flags & SWP_NOSIZE) || !(pos->flags & SWP_NOMOVE)) {
            RECT r;
            GetWindowRect(FHandle, &r);
            HWND parent = GetParent(FHandle);
            if (parent && (GetWindowLongA(FHandle, GWL_STYLE) & WS_CHILD))
                MapWindowPoints(nullptr, parent, reinterpret_cast<POINT *>(&r), 2);
            bool sized = r.right - r.left != FWidth || r.bottom - r.top != FHeight;
            FLeft = r.left;
            FTop = r.top;
            FWidth = r.right - r.left;
            FHeight = r.bottom - r.top;
            if (sized || !(pos->flags & SWP_NOSIZE)) {
                Realign();
                if (sized)
                    Resize();
            }
        }
        return;
    }
    case WM_GETMINMAXINFO: {
        // The user's sizing of a window stays within the size constraints.
        DefaultHandler(Message);
        auto *info = reinterpret_cast<MINMAXINFO *>(Message.LParam);
        if (FConstraints->MinWidth() > 0)
            info->ptMinTrackSize.x = FConstraints->MinWidth();
        if (FConstraints->MinHeight() > 0)
            info->ptMinTrackSize.y = FConstraints->MinHeight();
        if (FConstraints->MaxWidth() > 0)
            info->ptMaxTrackSize.x = FConstraints->MaxWidth();
        if (FConstraints->MaxHeight() > 0)
            info->ptMaxTrackSize.y = FConstraints->MaxHeight();
        return;
    }
    case WM_SETFOCUS:
        DefaultHandler(Message);
        if (TCustomForm *form = ParentForm())
            form->FocusChanged(this);
        DoEnter();
        return;
    case WM_KILLFOCUS:
        DefaultHandler(Message);
        DoExit();
        return;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN: {
        WORD key = static_cast<WORD>(Message.WParam);
        if (DoKeyDown(key, KeyboardStateToShiftState()))
            return;
        Message.WParam = key;
        break;
    }
    case WM_KEYUP:
    case WM_SYSKEYUP: {
        WORD key = static_cast<WORD>(Message.WParam);
        if (!(FControlStyle & csNoStdEvents))
            KeyUp(key, KeyboardStateToShiftState());
        if (key == 0)
            return;
        Message.WParam = key;
        break;
    }
    case WM_CHAR: {
        char key = static_cast<char>(Message.WParam);
        if (!(FControlStyle & csNoStdEvents))
            KeyPress(key);
        if (key == 0)
            return;
        Message.WParam = static_cast<unsigned char>(key);
        break;
    }
    case CN_KEYDOWN:
    case CN_SYSKEYDOWN:
        Message.Result = HandleFormKey(static_cast<WORD>(Message.WParam), Message.LParam) ? 1 : 0;
        return;
    case CN_SYSCHAR:
        // Alt with a letter: the accelerators of the form's controls.
        if (TCustomForm *form = ParentForm())
            Message.Result = form->Perform(CM_DIALOGCHAR, Message.WParam, Message.LParam);
        return;
    case WM_SETCURSOR:
        if (reinterpret_cast<HWND>(Message.WParam) == FHandle && LOWORD(Message.LParam) == HTCLIENT) {
            TCursor cursor = GetScreenCursor();
            if (cursor == crDefault) {
                POINT pos;
                GetCursorPos(&pos);
                ::ScreenToClient(FHandle, &pos);
                TControl *child = ControlAtPos({pos.x, pos.y}, false);
                cursor = child && child->Cursor() != crDefault ? child->Cursor() : FCursor;
            }
            if (cursor != crDefault) {
                ::SetCursor(CursorHandle(cursor));
                Message.Result = 1;
                return;
            }
        }
        break;
    case WM_MOUSELEAVE:
        if (MouseControl && (MouseControl == this || MouseControl->FParent == this)) {
            TControl *old = MouseControl;
            MouseControl = nullptr;
            old->Perform(CM_MOUSELEAVE);
        }
        break;
    case WM_CANCELMODE:
        if (FCaptureControl) {
            FCaptureControl->FControlState &= ~(csLButtonDown | csClicked);
            FCaptureControl = nullptr;
            if (GetCapture() == FHandle)
                ReleaseCapture();
        }
        break;
    case WM_CAPTURECHANGED:
        if (reinterpret_cast<HWND>(Message.LParam) != FHandle)
            FCaptureControl = nullptr;
        break;
    case CM_FONTCHANGED:
        UpdateWindowFont();
        for (TControl *child : FControls)
            child->Perform(CM_PARENTFONTCHANGED);
        Invalidate();
        return;
    case CM_COLORCHANGED:
        FBrush->SetColor(FColor);
        for (TControl *child : FControls)
            child->Perform(CM_PARENTCOLORCHANGED);
        Invalidate();
        return;
    case CM_TEXTCHANGED:
        return;
    case WM_SETTEXT:
        DefaultHandler(Message);
        Perform(CM_TEXTCHANGED);
        return;
    case CM_SYSCOLORCHANGE:
        for (TControl *child : FControls)
            child->Perform(CM_SYSCOLORCHANGE);
        Invalidate();
        return;
    case WM_SYSCOLORCHANGE:
        DefaultHandler(Message);
        Perform(CM_SYSCOLORCHANGE);
        return;
    case CM_DIALOGCHAR:
    case CM_DIALOGKEY:
        // Offered to the children until one takes it.
        for (TControl *child : FControls) {
            if (child->FVisible && child->FEnabled &&
                child->Perform(Message.Msg, Message.WParam, Message.LParam)) {
                Message.Result = 1;
                return;
            }
        }
        return;
    case CM_RECREATEWND:
        RecreateWnd();
        return;
    default:
        break;
    }
    if (IsMouseMessage(Message.Msg) && FHandle) {
        if (IsControlMouseMsg(Message))
            return;
    }
    TControl::WndProc(Message);
}

void TWinControl::DefaultHandler(TMessage &Message) {
    if (!FHandle)
        return;
    WNDPROC proc = FDefWndProc ? FDefWndProc : DefWindowProcA;
    Message.Result = CallWindowProcA(proc, FHandle, Message.Msg, Message.WParam, Message.LParam);
}

// =============================================================================================
// TControlCanvas, TGraphicControl, TCustomControl

TControlCanvas::~TControlCanvas() {
    FreeHandle();
}

void TControlCanvas::SetControl(TControl *Value) {
    if (Value != FControl) {
        FreeHandle();
        FControl = Value;
    }
}

void TControlCanvas::FreeHandle() {
    if (FOwnDC) {
        HDC dc = FOwnDC;
        FOwnDC = nullptr;
        SetHandle(nullptr);
        ReleaseDC(FDCWindow, dc);
        classlib_detail::CountGdiObject(-1);
        FDCWindow = nullptr;
    }
}

void TControlCanvas::CreateHandle() {
    if (!FControl)
        return;
    HWND window = nullptr;
    int dx = 0, dy = 0;
    if (auto *windowed = dynamic_cast<TWinControl *>(FControl)) {
        window = windowed->Handle();
    } else if (FControl->Parent()) {
        window = FControl->Parent()->Handle();
        dx = FControl->Left();
        dy = FControl->Top();
    }
    if (!window)
        return;
    HDC dc = GetDCEx(window, nullptr, DCX_CACHE | DCX_CLIPSIBLINGS);
    classlib_detail::CountGdiObject(1);
    SetViewportOrgEx(dc, dx, dy, nullptr);
    IntersectClipRect(dc, 0, 0, FControl->Width(), FControl->Height());
    FOwnDC = dc;
    FDCWindow = window;
    SetHandle(dc);
}

TGraphicControl::TGraphicControl(TComponent *AOwner)
    : TControl(AOwner), FCanvas(std::make_unique<TControlCanvas>()) {
    FCanvas->SetControl(this);
}

TGraphicControl::~TGraphicControl() {
    FCanvas->FreeHandle();
}

void TGraphicControl::WndProc(TMessage &Message) {
    if (Message.Msg == WM_PAINT) {
        FCanvas->FreeHandle();
        TCanvasDCScope scope(*FCanvas, reinterpret_cast<HDC>(Message.WParam));
        FCanvas->Font().Assign(*FFont);
        Paint();
        return;
    }
    TControl::WndProc(Message);
}

TCustomControl::TCustomControl(TComponent *AOwner)
    : TWinControl(AOwner), FCanvas(std::make_unique<TControlCanvas>()) {
    FControlStyle |= csClickEvents | csCaptureMouse;
    FCanvas->SetControl(this);
}

TCustomControl::~TCustomControl() {
    FCanvas->FreeHandle();
}

void TCustomControl::PaintWindow(HDC DC) {
    FCanvas->FreeHandle();
    TCanvasDCScope scope(*FCanvas, DC);
    FCanvas->Font().Assign(*FFont);
    FCanvas->Brush().SetColor(FColor);
    Paint();
}

// =============================================================================================
// Scrolling

void TControlScrollBar::SetPosition(int Value) {
    RECT client = FControl.ClientRect();
    int page = FKind == sbHorizontal ? client.right : client.bottom;
    int limit = std::max(0, FRange - page);
    Value = std::clamp(Value, 0, limit);
    if (Value == FPosition)
        return;
    int delta = FPosition - Value;
    FPosition = Value;
    if (FKind == sbHorizontal)
        FControl.ScrollBy(delta, 0);
    else
        FControl.ScrollBy(0, delta);
    Update();
}

void TControlScrollBar::SetRange(int Value) {
    Value = std::max(0, Value);
    if (Value == FRange)
        return;
    FRange = Value;
    Update();
    SetPosition(FPosition); // clamps to the new range
}

namespace {

// The flat scroll bar functions of comctl32, looked up when first needed (the import library
// does not carry them). Where the system lacks them the window's own scroll bars serve.
struct TFlatScrollBarApi {
    BOOL(WINAPI *Initialize)(HWND) = nullptr;
    HRESULT(WINAPI *Uninitialize)(HWND) = nullptr;
    BOOL(WINAPI *Show)(HWND, int, BOOL) = nullptr;
    int(WINAPI *SetInfo)(HWND, int, LPSCROLLINFO, BOOL) = nullptr;
    BOOL(WINAPI *GetInfo)(HWND, int, LPSCROLLINFO) = nullptr;
    BOOL(WINAPI *SetProp)(HWND, UINT, INT_PTR, BOOL) = nullptr;
};

const TFlatScrollBarApi &FlatScrollBarApi() {
    static const TFlatScrollBarApi api = [] {
        TFlatScrollBarApi result;
        HMODULE comctl = GetModuleHandleA("comctl32.dll");
        if (!comctl)
            comctl = LoadLibraryA("comctl32.dll");
        if (!comctl)
            return result;
        auto find = [comctl](auto &Function, const char *Name) {
            Function = reinterpret_cast<std::remove_reference_t<decltype(Function)>>(
                reinterpret_cast<void *>(GetProcAddress(comctl, Name)));
        };
        find(result.Initialize, "InitializeFlatSB");
        find(result.Uninitialize, "UninitializeFlatSB");
        find(result.Show, "FlatSB_ShowScrollBar");
        find(result.SetInfo, "FlatSB_SetScrollInfo");
        find(result.GetInfo, "FlatSB_GetScrollInfo");
        find(result.SetProp, "FlatSB_SetScrollProp");
        if (!result.Show || !result.SetInfo || !result.GetInfo || !result.SetProp)
            result = TFlatScrollBarApi();
        return result;
    }();
    return api;
}

// Whether a control's scroll bars go through the flat scroll bar functions.
bool UsesFlatScrollBars(bool Wanted) {
    return Wanted && FlatScrollBarApi().SetInfo != nullptr;
}

} // namespace

void TControlScrollBar::SetVisible(bool Value) {
    FVisible = Value;
    Update();
}

bool TControlScrollBar::IsScrollBarVisible() {
    if (!FControl.HandleAllocated())
        return false;
    if (UsesFlatScrollBars(FControl.FFlatScrollBars)) {
        SCROLLINFO info = {sizeof(info), SIF_RANGE | SIF_PAGE, 0, 0, 0, 0, 0};
        FlatScrollBarApi().GetInfo(FControl.Handle(), FKind == sbHorizontal ? SB_HORZ : SB_VERT, &info);
        return FVisible && info.nMax > 0;
    }
    LONG style = GetWindowLongA(FControl.Handle(), GWL_STYLE);
    return (style & (FKind == sbHorizontal ? WS_HSCROLL : WS_VSCROLL)) != 0;
}

void TControlScrollBar::Update() {
    if (!FControl.HandleAllocated())
        return;
    RECT client = FControl.ClientRect();
    int page = FKind == sbHorizontal ? client.right : client.bottom;
    SCROLLINFO info = {sizeof(info), SIF_ALL, 0, 0, 0, 0, 0};
    bool show = FVisible && FRange > page;
    info.nMax = show ? FRange - 1 : 0;
    info.nPage = show ? static_cast<UINT>(std::max(page, 0)) : 0;
    info.nPos = show ? FPosition : 0;
    int bar = FKind == sbHorizontal ? SB_HORZ : SB_VERT;
    if (UsesFlatScrollBars(FControl.FFlatScrollBars)) {
        FlatScrollBarApi().Show(FControl.Handle(), bar, show);
        FlatScrollBarApi().SetInfo(FControl.Handle(), bar, &info, TRUE);
    } else {
        ShowScrollBar(FControl.Handle(), bar, show);
        SetScrollInfo(FControl.Handle(), bar, &info, TRUE);
    }
}

void TControlScrollBar::UpdateFlatProps() {
    if (!FControl.HandleAllocated() || !UsesFlatScrollBars(FControl.FFlatScrollBars))
        return;
    const auto setProp = FlatScrollBarApi().SetProp;
    HWND window = FControl.Handle();
    const bool vertical = FKind == sbVertical;
    static const INT_PTR modes[] = {FSB_REGULAR_MODE, FSB_FLAT_MODE, FSB_ENCARTA_MODE};
    setProp(window, vertical ? WSB_PROP_VSTYLE : WSB_PROP_HSTYLE, modes[FStyle], FALSE);
    if (FSize > 0)
        setProp(window, vertical ? WSB_PROP_CXVSCROLL : WSB_PROP_CYHSCROLL, FSize, FALSE);
    if (FButtonSize > 0)
        setProp(window, vertical ? WSB_PROP_CYVSCROLL : WSB_PROP_CXHSCROLL, FButtonSize, FALSE);
    if (FThumbSize > 0)
        setProp(window, vertical ? WSB_PROP_CYVTHUMB : WSB_PROP_CXHTHUMB, FThumbSize, FALSE);
    TColor color = FParentColor ? FControl.Color() : FColor;
    setProp(window, vertical ? WSB_PROP_VBKGCOLOR : WSB_PROP_HBKGCOLOR, ColorToRGB(color), TRUE);
}

void TControlScrollBar::SetButtonSize(int Value) {
    FButtonSize = std::max(0, Value);
    UpdateFlatProps();
}

void TControlScrollBar::SetColor(TColor Value) {
    FColor = Value;
    FParentColor = false;
    UpdateFlatProps();
}

void TControlScrollBar::SetParentColor(bool Value) {
    FParentColor = Value;
    UpdateFlatProps();
}

void TControlScrollBar::SetSize(int Value) {
    FSize = std::max(0, Value);
    UpdateFlatProps();
}

void TControlScrollBar::SetStyle(TScrollBarStyle Value) {
    FStyle = Value;
    UpdateFlatProps();
}

void TControlScrollBar::SetThumbSize(int Value) {
    FThumbSize = std::max(0, Value);
    UpdateFlatProps();
}

int TControlScrollBar::LineStep(int Page) const {
    return FSmooth ? std::max(1, Page / LineDiv) : FIncrement;
}

int TControlScrollBar::PageStep(int Page) const {
    if (FSmooth)
        return std::max(1, Page - Page / PageDiv);
    return FPageIncrement > 0 ? FPageIncrement : Page;
}

void TControlScrollBar::ScrollMessage(WPARAM Code) {
    RECT client = FControl.ClientRect();
    int page = FKind == sbHorizontal ? client.right : client.bottom;
    int bar = FKind == sbHorizontal ? SB_HORZ : SB_VERT;
    switch (LOWORD(Code)) {
    case SB_LINEUP:
        SetPosition(FPosition - LineStep(page));
        break;
    case SB_LINEDOWN:
        SetPosition(FPosition + LineStep(page));
        break;
    case SB_PAGEUP:
        SetPosition(FPosition - PageStep(page));
        break;
    case SB_PAGEDOWN:
        SetPosition(FPosition + PageStep(page));
        break;
    case SB_THUMBTRACK:
        if (!FTracking)
            break;
        [[fallthrough]];
    case SB_THUMBPOSITION: {
        SCROLLINFO info = {sizeof(info), SIF_TRACKPOS, 0, 0, 0, 0, 0};
        if (UsesFlatScrollBars(FControl.FFlatScrollBars))
            FlatScrollBarApi().GetInfo(FControl.Handle(), bar, &info);
        else
            GetScrollInfo(FControl.Handle(), bar, &info);
        SetPosition(info.nTrackPos);
        break;
    }
    case SB_TOP:
        SetPosition(0);
        break;
    case SB_BOTTOM:
        SetPosition(FRange);
        break;
    default:
        break;
    }
}

TScrollingWinControl::TScrollingWinControl(TComponent *AOwner)
    : TWinControl(AOwner), FHorzScrollBar(std::make_unique<TControlScrollBar>(*this, sbHorizontal)),
      FVertScrollBar(std::make_unique<TControlScrollBar>(*this, sbVertical)) {
    FControlStyle |= csAcceptsControls;
}

void TScrollingWinControl::SetAutoScroll(bool Value) {
    if (Value == FAutoScroll)
        return;
    FAutoScroll = Value;
    if (Value)
        UpdateScrollBars();
}

void TScrollingWinControl::CreateWnd() {
    TWinControl::CreateWnd();
    // Flat scroll bars draw left to right only; a right-to-left system keeps the normal ones
    // (the FlatSB_ calls then act on them).
    if (UsesFlatScrollBars(FFlatScrollBars) && FlatScrollBarApi().Initialize &&
        !GetSystemMetrics(SM_MIDEASTENABLED)) {
        FFlatInitialized = FlatScrollBarApi().Initialize(FHandle) != FALSE;
        FHorzScrollBar->UpdateFlatProps();
        FVertScrollBar->UpdateFlatProps();
    }
    FHorzScrollBar->Update();
    FVertScrollBar->Update();
}

void TScrollingWinControl::DestroyWnd() {
    if (FFlatInitialized && FHandle && FlatScrollBarApi().Uninitialize)
        FlatScrollBarApi().Uninitialize(FHandle);
    FFlatInitialized = false;
    TWinControl::DestroyWnd();
}

void TScrollingWinControl::ScrollBy(int DeltaX, int DeltaY) {
    DisableAlign();
    for (TControl *control : FControls)
        control->SetBounds(control->Left() + DeltaX, control->Top() + DeltaY, control->Width(),
                           control->Height());
    FControlState &= ~csAlignmentNeeded;
    EnableAlign();
    Invalidate();
}

void TScrollingWinControl::UpdateScrollBars() {
    if (!FAutoScroll)
        return;
    int right = 0, bottom = 0;
    for (TControl *control : FControls) {
        if (!control->Visible() || control->Align() != alNone)
            continue;
        right = std::max(right, control->Left() + control->Width());
        bottom = std::max(bottom, control->Top() + control->Height());
    }
    FHorzScrollBar->SetRange(right + FHorzScrollBar->Position() + FHorzScrollBar->Margin());
    FVertScrollBar->SetRange(bottom + FVertScrollBar->Position() + FVertScrollBar->Margin());
}

void TScrollingWinControl::AlignControls(TControl *AControl, RECT &Rect) {
    TWinControl::AlignControls(AControl, Rect);
    UpdateScrollBars();
}

void TScrollingWinControl::ScrollInView(TControl *AControl) {
    if (!AControl || !ContainsControl(AControl))
        return;
    RECT client = ClientRect();
    if (AControl->Top() < 0)
        FVertScrollBar->SetPosition(FVertScrollBar->Position() + AControl->Top());
    else if (AControl->Top() + AControl->Height() > client.bottom)
        FVertScrollBar->SetPosition(FVertScrollBar->Position() + AControl->Top() + AControl->Height() -
                                    client.bottom);
    if (AControl->Left() < 0)
        FHorzScrollBar->SetPosition(FHorzScrollBar->Position() + AControl->Left());
    else if (AControl->Left() + AControl->Width() > client.right)
        FHorzScrollBar->SetPosition(FHorzScrollBar->Position() + AControl->Left() + AControl->Width() -
                                    client.right);
}

void TScrollingWinControl::WndProc(TMessage &Message) {
    if ((Message.Msg == WM_HSCROLL || Message.Msg == WM_VSCROLL) && Message.LParam == 0) {
        (Message.Msg == WM_HSCROLL ? FHorzScrollBar : FVertScrollBar)->ScrollMessage(Message.WParam);
        return;
    }
    TWinControl::WndProc(Message);
    if (Message.Msg == WM_SIZE) {
        FHorzScrollBar->Update();
        FVertScrollBar->Update();
    }
}

// =============================================================================================
// TMouse

TPoint TMouse::CursorPos() const {
    POINT p = {0, 0};
    GetCursorPos(&p);
    return {p.x, p.y};
}

void TMouse::SetCursorPos(TPoint P) {
    ::SetCursorPos(P.X, P.Y);
}

int TMouse::DragThreshold() const {
    int x = GetSystemMetrics(SM_CXDRAG), y = GetSystemMetrics(SM_CYDRAG);
    int threshold = std::max(x, y);
    return threshold > 0 ? threshold : 5;
}

int TMouse::WheelScrollLines() const {
    UINT lines = 3;
    SystemParametersInfoA(SPI_GETWHEELSCROLLLINES, 0, &lines, 0);
    return static_cast<int>(lines);
}
