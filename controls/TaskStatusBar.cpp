#include "TaskStatusBar.h"

#include <algorithm>

#include "GenUtils.h"

namespace {

constexpr int MinButtonWidth = 50;
constexpr int MaxButtonWidth = 100;
constexpr int OverflowWidth = 12;
constexpr int HotInterval = 150;

// The small icon of a window: its own, else its class's, else the system's application icon.
HICON WindowIcon(HWND Window) {
    auto icon = reinterpret_cast<HICON>(SendMessageA(Window, WM_GETICON, ICON_SMALL, 0));
    if (!icon)
        icon = reinterpret_cast<HICON>(SendMessageA(Window, WM_GETICON, ICON_BIG, 0));
    if (!icon)
        icon = reinterpret_cast<HICON>(GetClassLongPtrA(Window, GCLP_HICONSM));
    if (!icon)
        icon = reinterpret_cast<HICON>(GetClassLongPtrA(Window, GCLP_HICON));
    if (!icon)
        icon = LoadIconA(nullptr, IDI_APPLICATION);
    return icon;
}

TMenuItem *AddMenuItem(TPopupMenu &Menu, const char *Caption, const char *Name, TNotifyEvent OnClick) {
    auto *item = new TMenuItem(&Menu);
    item->SetCaption(Caption);
    item->SetName(Name);
    item->OnClick = OnClick;
    Menu.Items().Add(item);
    return item;
}

} // namespace

// =============================================================================================
// TTaskPanel

TTaskPanel::TTaskPanel(TComponent *AOwner)
    : TAdvControl(AOwner), FOverflowMenu(std::make_unique<TPopupMenu>(nullptr)),
      FButtonMenu(std::make_unique<TPopupMenu>(nullptr)) {
    FControlStyle |= csOpaque;
    FOverflowMenu->SetName("Menu");
    FOverflowMenu->SetAlignment(paLeft);
    FOverflowMenu->SetAutoPopup(false);
    try {
        TBitmap bitmap;
        bitmap.LoadFromResourceName(GetModuleHandleA(nullptr), "TASK_MENUBUTTON");
        FMenuButtonBitmap = std::make_unique<TImageList>(8, 5);
        FMenuButtonBitmap->AddMasked(bitmap, 0x800080);
    } catch (const EResNotFound &) {
        // Without the picture the overflow button draws its arrow itself.
    }
    FButtonMenu->SetName("PopupMenu");
    FButtonMenu->SetAlignment(paRight);
    FButtonMenu->SetAutoPopup(false);
    FRestoreItem = AddMenuItem(*FButtonMenu, "Restore", "RestoreItem",
                               MakeNotifyEvent<&TTaskPanel::RestoreItemClick>(this));
    FMinimizeItem = AddMenuItem(*FButtonMenu, "Minimize", "MinimizeItem",
                                MakeNotifyEvent<&TTaskPanel::MinimizeItemClick>(this));
    AddMenuItem(*FButtonMenu, "-", "N1", nullptr);
    AddMenuItem(*FButtonMenu, "Close", "CloseItem", MakeNotifyEvent<&TTaskPanel::CloseItemClick>(this))
        ->SetShortCut(ShortCut(VK_F4, ssCtrl));
}

TTaskPanel::~TTaskPanel() {
    for (TCustomForm *form : FForms)
        form->RemoveFreeNotification(this);
}

void TTaskPanel::AddForm(TCustomForm *Form) {
    if (!Form || std::find(FForms.begin(), FForms.end(), Form) != FForms.end())
        return;
    FForms.push_back(Form);
    Form->FreeNotification(this);
    LayoutButtons();
}

void TTaskPanel::UpdateForm(TCustomForm *Form) {
    auto it = std::find(FForms.begin(), FForms.end(), Form);
    if (it != FForms.end() && it - FForms.begin() < FVisibleCount)
        InvalidateButton(static_cast<int>(it - FForms.begin()));
}

void TTaskPanel::Notification(TComponent *AComponent, TOperation Operation) {
    TAdvControl::Notification(AComponent, Operation);
    if (Operation != opRemove)
        return;
    auto it = std::find(FForms.begin(), FForms.end(), AComponent);
    if (it == FForms.end())
        return;
    FForms.erase(it);
    if (FButtonMenu->PopupComponent() == AComponent)
        FButtonMenu->SetPopupComponent(nullptr);
    if (!Destroying())
        LayoutButtons();
}

void TTaskPanel::SetBounds(int ALeft, int ATop, int AWidth, int AHeight) {
    // A request that would only add room is of no use while every window has a full button.
    bool allFull = !HasOverflow() && FButtonWidth == MaxButtonWidth;
    if (allFull && ATop == FTop && AHeight == FHeight && ALeft + AWidth == FLeft + FWidth && AWidth >= FWidth)
        return;
    FAvailableWidth = AWidth;
    TAdvControl::SetBounds(ALeft, ATop, AWidth, AHeight);
    LayoutButtons();
}

void TTaskPanel::LayoutButtons() {
    int n = FormCount(), w = FAvailableWidth;
    if (n * MinButtonWidth + 6 <= w) {
        FVisibleCount = n;
        FButtonWidth = n == 0 ? MaxButtonWidth : std::min((w - 6) / n, MaxButtonWidth);
    } else {
        FVisibleCount = std::max((w - 18) / MinButtonWidth, 0);
        FButtonWidth = FVisibleCount == 0 ? MaxButtonWidth : (w - 18) / FVisibleCount;
    }
    int overflow = HasOverflow() ? OverflowWidth : 0;
    int needed = FVisibleCount * FButtonWidth + 6 + overflow;
    if (needed > FWidth) // grows to the left, keeping its right edge
        TAdvControl::SetBounds(FLeft + FWidth - needed, FTop, needed, FHeight);
    FFirstLeft = std::max(FWidth - FVisibleCount * FButtonWidth - overflow, 6);
    FHotIndex = -1;
    FPressed = false;
    Invalidate();
}

RECT TTaskPanel::ButtonRect(int Index) {
    if (Index == FVisibleCount && HasOverflow())
        return {FWidth - OverflowWidth, 0, FWidth, FHeight};
    int left = FFirstLeft + Index * FButtonWidth;
    return {left, 0, left + FButtonWidth, FHeight};
}

void TTaskPanel::InvalidateButton(int Index) {
    if (Index < 0 || Index > FVisibleCount || !HandleAllocated())
        return;
    RECT r = ButtonRect(Index);
    InvalidateRect(FHandle, &r, FALSE);
}

// Hit testing counts from the first button's left edge, so that button i covers exactly the
// pixels it is drawn on; the overflow button is the last 12 pixels.
int TTaskPanel::IndexAt(int X, int Y) {
    if (Y < 0 || Y >= FHeight || X < FFirstLeft || X >= FWidth)
        return -1;
    if (HasOverflow() && X >= FWidth - OverflowWidth)
        return FVisibleCount;
    int index = (X - FFirstLeft) / FButtonWidth;
    return index < FVisibleCount ? index : -1;
}

void TTaskPanel::Restore(int Index) {
    if (Index < 0 || Index >= FormCount())
        return;
    TCustomForm *form = FForms[Index];
    HWND window = form->Handle();
    if (GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_MDICHILD)
        SendMessageA(GetParent(window), WM_MDIRESTORE, reinterpret_cast<WPARAM>(window), 0);
    if (IsIconic(window))
        ShowWindow(window, SW_RESTORE);
}

void TTaskPanel::SetHotIndex(int Value) {
    if (Value == FHotIndex)
        return;
    InvalidateButton(FHotIndex);
    InvalidateButton(Value);
    FHotIndex = Value;
    if (Application)
        Application->CancelHint();
    if (Value >= 0 && Value < FVisibleCount) {
        SetHint(FForms[Value]->Caption() + "|");
        SetShowHint(true);
    } else {
        SetShowHint(false);
    }
    if (Value >= 0) {
        if (!FHotTimer) {
            FHotTimer = std::make_unique<TTimer>(nullptr);
            FHotTimer->SetInterval(HotInterval);
            FHotTimer->SetOnTimer(MakeNotifyEvent<&TTaskPanel::HotTimerTick>(this));
        }
        FHotTimer->SetEnabled(true);
    }
}

void TTaskPanel::HotTimerTick(TObject *) {
    TPoint at = ScreenToClient(Mouse.CursorPos());
    bool over = HandleAllocated() && WindowFromPoint({Mouse.CursorPos().X, Mouse.CursorPos().Y}) == FHandle;
    if (over && IndexAt(at.X, at.Y) >= 0)
        return;
    // Stopped rather than freed: this runs inside the timer's own tick.
    FHotTimer->SetEnabled(false);
    SetHotIndex(-1);
}

void TTaskPanel::MouseMove(TShiftState Shift, int X, int Y) {
    TAdvControl::MouseMove(Shift, X, Y);
    SetHotIndex(IndexAt(X, Y));
}

void TTaskPanel::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) {
    TAdvControl::MouseDown(Button, Shift, X, Y);
    if (Button != mbLeft)
        return;
    SetHotIndex(IndexAt(X, Y));
    FPressed = true;
    InvalidateButton(FHotIndex);
    if (FHotIndex == FVisibleCount && HasOverflow()) {
        Update();
        RebuildOverflowMenu();
        TPoint at = ClientToScreen({FWidth, 0});
        FOverflowMenu->SetPopupComponent(this);
        FOverflowMenu->Popup(at.X, at.Y);
        // The menu took the release.
        if (!Destroying())
            MouseUp(mbLeft, Shift, -1, -1);
    }
}

void TTaskPanel::MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) {
    TAdvControl::MouseUp(Button, Shift, X, Y);
    int index = IndexAt(X, Y);
    if (Button == mbLeft) {
        FPressed = false;
        SetHotIndex(index);
        InvalidateButton(index);
        if (index >= 0 && index < FVisibleCount)
            Restore(index);
        return;
    }
    if (Button == mbRight && index >= 0 && index < FVisibleCount) {
        TCustomForm *form = FForms[index];
        bool minimized = IsIconic(form->Handle()) != 0;
        FRestoreItem->SetEnabled(minimized);
        FMinimizeItem->SetEnabled(!minimized);
        FButtonMenu->SetPopupComponent(form);
        TPoint at = Mouse.CursorPos();
        FButtonMenu->Popup(at.X, at.Y);
    }
}

void TTaskPanel::RebuildOverflowMenu() {
    TMenuItem &items = FOverflowMenu->Items();
    int k = 0;
    for (int i = FVisibleCount; i < FormCount(); ++i, ++k) {
        TCustomForm *form = FForms[i];
        if (k >= items.Count()) {
            auto *item = new TMenuItem(FOverflowMenu.get());
            item->OnClick = MakeNotifyEvent<&TTaskPanel::OverflowItemClick>(this);
            items.Add(item);
        }
        TMenuItem *item = items[k];
        item->SetCaption(form->Caption());
        item->SetChecked(form->Active());
        item->SetDefault(form->Active());
        item->SetTag(i);
    }
    while (items.Count() > k)
        delete items[items.Count() - 1];
}

void TTaskPanel::OverflowItemClick(TObject *Sender) {
    Restore(static_cast<int>(static_cast<TMenuItem *>(Sender)->Tag()));
}

TCustomForm *TTaskPanel::MenuForm() {
    auto *form = dynamic_cast<TCustomForm *>(FButtonMenu->PopupComponent());
    return form && std::find(FForms.begin(), FForms.end(), form) != FForms.end() ? form : nullptr;
}

void TTaskPanel::RestoreItemClick(TObject *) {
    if (TCustomForm *form = MenuForm())
        Restore(static_cast<int>(std::find(FForms.begin(), FForms.end(), form) - FForms.begin()));
}

void TTaskPanel::MinimizeItemClick(TObject *) {
    if (TCustomForm *form = MenuForm())
        ShowWindow(form->Handle(), SW_MINIMIZE);
}

void TTaskPanel::CloseItemClick(TObject *) {
    if (TCustomForm *form = MenuForm())
        form->Close();
}

void TTaskPanel::DrawButton(int Index, bool Active) {
    TCanvas &canvas = Canvas();
    RECT r = ButtonRect(Index);
    bool hot = Index == FHotIndex;
    if (Active) {
        Frame3D(canvas, r, clBtnShadow, clBtnHighlight, 1);
    } else if (hot) {
        if (FPressed)
            Frame3D(canvas, r, clBtnShadow, clBtnHighlight, 1);
        else
            Frame3D(canvas, r, clBtnHighlight, clBtnShadow, 1);
    }
    FillButtonFace(canvas, r, Active && !hot, clBtnFace);
    TCustomForm *form = FForms[Index];
    DrawIconEx(canvas.Handle(), r.left + 2, (FHeight - 16) / 2, WindowIcon(form->Handle()), 16, 16, 0,
               nullptr, DI_NORMAL);
    canvas.Font().SetStyle(Active ? fsBold : 0);
    SetBkMode(canvas.Handle(), TRANSPARENT);
    RECT text = {r.left + 20, r.top, r.right, r.bottom};
    std::string caption = form->Caption();
    DrawTextA(canvas.Handle(), caption.c_str(), static_cast<int>(caption.size()), &text,
              DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
}

void TTaskPanel::DrawOverflowButton() {
    TCanvas &canvas = Canvas();
    RECT r = ButtonRect(FVisibleCount);
    bool hot = FHotIndex == FVisibleCount;
    int shift = hot && FPressed ? 1 : 0;
    if (hot)
        Frame3D(canvas, r, FPressed ? clBtnShadow : clBtnHighlight, FPressed ? clBtnHighlight : clBtnShadow,
                1);
    canvas.Brush().SetColor(clBtnFace);
    canvas.FillRect(r);
    int left = FWidth - OverflowWidth + (OverflowWidth - 8) / 2 + shift, top = 4 + shift;
    if (FMenuButtonBitmap) {
        FMenuButtonBitmap->Draw(canvas, left, top, 0);
    } else {
        // A small downward arrow, 8 x 4.
        canvas.Pen().SetColor(clBtnText);
        for (int row = 0; row < 4; ++row) {
            canvas.MoveTo(left + row, top + row);
            canvas.LineTo(left + 8 - row, top + row);
        }
    }
}

void TTaskPanel::Paint() {
    TCanvas &canvas = Canvas();
    canvas.Font().Assign(Font());
    canvas.Brush().SetColor(clBtnFace);
    canvas.FillRect({0, 0, FFirstLeft, FHeight});
    if (FormCount() > 0) {
        canvas.Pen().SetColor(clBtnShadow);
        canvas.MoveTo(FFirstLeft - 4, 0);
        canvas.LineTo(FFirstLeft - 4, FHeight);
        canvas.Pen().SetColor(clBtnHighlight);
        canvas.MoveTo(FFirstLeft - 3, 0);
        canvas.LineTo(FFirstLeft - 3, FHeight);
    }
    int active = -1;
    for (int i = 0; i < FVisibleCount; ++i) {
        bool isActive = FForms[i]->Active();
        if (isActive)
            active = i;
        DrawButton(i, isActive);
    }
    // Whatever lies between the buttons and the right edge.
    int right = FFirstLeft + FVisibleCount * FButtonWidth;
    canvas.Brush().SetColor(clBtnFace);
    canvas.FillRect({right, 0, HasOverflow() ? FWidth - OverflowWidth : FWidth, FHeight});
    if (HasOverflow())
        DrawOverflowButton();
    if (active != FActiveIndex) {
        int old = FActiveIndex;
        FActiveIndex = active;
        InvalidateButton(old);
    }
}

// =============================================================================================
// TTaskStatusBar

TTaskStatusBar::TTaskStatusBar(TComponent *AOwner) : TAdvStatusBar(AOwner) {
    FTaskPanel = new TTaskPanel(this);
    FTaskPanel->SetParent(this);
}

void TTaskStatusBar::CreateParams(TCreateParams &Params) {
    TAdvStatusBar::CreateParams(Params);
    Params.Style |= WS_CLIPCHILDREN;
}

void TTaskStatusBar::SetShowTasks(bool Value) {
    if (Value == FShowTasks)
        return;
    FShowTasks = Value;
    FTaskPanel->SetVisible(Value);
}

void TTaskStatusBar::UpdateTaskPanel() {
    int left = 0;
    for (int i = 0; i + 1 < PanelCount(); ++i)
        left += Panels(i).Width;
    int right = ClientWidth() - 1;
    bool maximized = false;
    if (Application && Application->MainForm() && Application->MainForm()->HandleAllocated()) {
        WINDOWPLACEMENT placement = {sizeof(placement)};
        GetWindowPlacement(Application->MainForm()->Handle(), &placement);
        maximized = placement.showCmd == SW_SHOWMAXIMIZED;
    }
    if (SizeGrip() && !maximized)
        right -= 16;
    left = std::min(left, right - 18);
    int height = ScaleForScreenFont(18);
    int top = (ClientHeight() - height) / 2;
    FTaskPanel->SetBounds(left, top, right - left, height);
}

void TTaskStatusBar::WndProc(TMessage &Message) {
    TAdvStatusBar::WndProc(Message);
    if (Message.Msg == WM_SIZE)
        UpdateTaskPanel();
}
