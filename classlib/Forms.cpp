// Forms, the application, the screen and the hint window.
#include "Forms.h"

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>

#include "ContextHelp.h"

TApplication *Application = nullptr;
TScreen *Screen = nullptr;

void InitializeForms() {
    if (Application)
        return;
    INITCOMMONCONTROLSEX init = {sizeof(init), ICC_WIN95_CLASSES | ICC_DATE_CLASSES | ICC_USEREX_CLASSES |
                                                   ICC_COOL_CLASSES | ICC_BAR_CLASSES | ICC_TAB_CLASSES};
    InitCommonControlsEx(&init);
    Screen = new TScreen(nullptr);
    Application = new TApplication(nullptr);
}

void FinalizeForms() {
    FreeAndNil(Application);
    FreeAndNil(Screen);
}

// =============================================================================================
// Keys offered before dispatching (windowed controls)

bool TWinControl::HandleFormKey(WORD Key, LPARAM KeyData) {
    TCustomForm *form = ParentForm();
    TShiftState shift = KeyboardStateToShiftState();
    // With key preview the main form sees the keys of the windows that work beside it (MDI
    // children, floating tool windows) before they do, and its menu serves an MDI child's keys
    // after the child's own menu; a modal dialog keeps its keys.
    TCustomForm *main = Application ? Application->MainForm() : nullptr;
    bool besideMain = main && form && form != main && !form->Modal() && main->HandleAllocated() &&
                      IsWindowEnabled(main->Handle());
    if (besideMain && main->KeyPreview()) {
        bool handled = false;
        main->OnShortCut(Key, shift, handled);
        if (handled)
            return true;
    }
    if (form && form->IsShortCut(Key, shift))
        return true;
    if (besideMain && main->Menu() && main->Menu()->IsShortCut(Key, shift))
        return true;
    // Dialog keys go to the form unless the control wants them itself.
    bool dialogKey = Key == VK_TAB || Key == VK_RETURN || Key == VK_ESCAPE || Key == VK_CANCEL;
    if (!dialogKey || !form)
        return false;
    LRESULT code = FHandle ? SendMessageA(FHandle, WM_GETDLGCODE, Key, 0) : 0;
    if (code & DLGC_WANTALLKEYS)
        return false;
    if (Key == VK_TAB && (code & DLGC_WANTTAB))
        return false;
    if (Perform(CM_WANTSPECIALKEY, Key, KeyData))
        return false;
    return form->Perform(CM_DIALOGKEY, Key, KeyData) != 0;
}

// =============================================================================================
// TCustomForm

TCustomForm::TCustomForm(TComponent *AOwner)
    : TScrollingWinControl(AOwner), FCanvas(std::make_unique<TControlCanvas>()) {
    FCanvas->SetControl(this);
    FVisible = false;
    FParentColor = false;
    FParentFont = false;
    FColor = clBtnFace;
    FBrush->SetColor(FColor);
    FControlStyle |= csAcceptsControls | csSetCaption;
    FLeft = CW_USEDEFAULT;
    FTop = CW_USEDEFAULT;
    FWidth = 320;
    FHeight = 240;
    FLeft = 100;
    FTop = 100;
    FAutoScroll = false;
    if (Screen)
        Screen->AddForm(this);
}

TCustomForm::~TCustomForm() {
    SetDestroying();
    if (Application && Application->FMainForm == this)
        Application->FMainForm = nullptr;
    if (Screen)
        Screen->RemoveForm(this);
    DestroyComponents();
    DestroyHandle();
}

void TCustomForm::SetFormStyle(TFormStyle Value) {
    if (Value == FFormStyle)
        return;
    FFormStyle = Value;
    if (Value == fsMDIChild)
        FVisible = true;
    RecreateWnd();
}

void TCustomForm::SetBorderStyle(TFormBorderStyle Value) {
    if (Value == FBorderStyle)
        return;
    FBorderStyle = Value;
    RecreateWnd();
}

void TCustomForm::SetMenu(TMainMenu *Value) {
    FMenu = Value;
    if (FHandle && !FParent && FFormStyle != fsMDIChild)
        ::SetMenu(FHandle, Value ? Value->Handle() : nullptr);
}

void TCustomForm::CreateParams(TCreateParams &Params) {
    TScrollingWinControl::CreateParams(Params);
    if (FParent) {
        // Placed inside a control (docked): a plain child window.
        Params.Style = (Params.Style & ~(WS_POPUP | WS_CAPTION)) | WS_CHILD | WS_CLIPCHILDREN;
        return;
    }
    Params.Style &= ~(WS_CHILD | WS_TABSTOP);
    Params.Style |= WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
    Params.ExStyle &= ~WS_EX_CONTROLPARENT;
    Params.ExStyle |= WS_EX_CONTROLPARENT;
    switch (FBorderStyle) {
    case bsNone:
        Params.Style |= WS_POPUP;
        break;
    case bsSingle:
        Params.Style |= WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_BORDER;
        break;
    case bsSizeable:
        Params.Style |= WS_OVERLAPPEDWINDOW;
        break;
    case bsDialog:
        Params.Style |= WS_POPUP | WS_CAPTION | WS_SYSMENU;
        Params.ExStyle |= WS_EX_DLGMODALFRAME | WS_EX_WINDOWEDGE;
        break;
    case bsToolWindow:
        Params.Style |= WS_POPUP | WS_CAPTION | WS_SYSMENU;
        Params.ExStyle |= WS_EX_TOOLWINDOW;
        break;
    case bsSizeToolWin:
        Params.Style |= WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME;
        Params.ExStyle |= WS_EX_TOOLWINDOW;
        break;
    }
    if (FFormStyle == fsStayOnTop)
        Params.ExStyle |= WS_EX_TOPMOST;
    Params.Style &= ~WS_VISIBLE; // shown by Show
    Params.WndParent = FParentWindow;
    if (FFormStyle == fsMDIChild) {
        TCustomForm *main = Application ? Application->MainForm() : nullptr;
        if (!main || main->FFormStyle != fsMDIForm || !main->Handle() || !main->FClientHandle)
            throw Exception("Cannot create form. No MDI forms are currently active");
        Params.WndParent = main->FClientHandle;
        Params.ExStyle |= WS_EX_MDICHILD;
        Params.Style =
            WS_CHILD | WS_OVERLAPPEDWINDOW | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | (FVisible ? WS_VISIBLE : 0);
    } else if (!Params.WndParent && Application && Application->MainForm() != this) {
        HWND mainWindow = Application->MainForm() && Application->MainForm()->HandleAllocated()
                              ? Application->MainForm()->FHandle
                              : nullptr;
        Params.WndParent = mainWindow ? mainWindow : Application->Handle();
    }
    if (FPosition == poScreenCenter) {
        Params.X = (GetSystemMetrics(SM_CXSCREEN) - FWidth) / 2;
        Params.Y = (GetSystemMetrics(SM_CYSCREEN) - FHeight) / 2;
    }
}

namespace {

// The command of the first child window in an MDI window list; the menus' own commands stay below.
constexpr UINT FirstMDIChildCommand = 0xFF00;

// The subclass procedure of an MDI main form's client window.
LRESULT CALLBACK MDIClientProc(HWND Window, UINT Msg, WPARAM WParam, LPARAM LParam, UINT_PTR,
                               DWORD_PTR Data) {
    auto *form = reinterpret_cast<TCustomForm *>(Data);
    if (Msg == WM_NCDESTROY)
        RemoveWindowSubclass(Window, MDIClientProc, 1);
    // While the frame takes its windows down the form no longer knows the client window.
    if (Msg == WM_NCDESTROY || form->ClientHandle() != Window)
        return DefSubclassProc(Window, Msg, WParam, LParam);
    TMessage message{Msg, WParam, LParam, 0};
    try {
        form->ClientWndProc(message);
    } catch (...) {
        if (Application)
            Application->HandleException(form);
    }
    return message.Result;
}

} // namespace

void TCustomForm::ClientWndProc(TMessage &Message) {
    Message.Result = DefSubclassProc(FClientHandle, Message.Msg, Message.WParam, Message.LParam);
}

void TCustomForm::CreateWnd() {
    TScrollingWinControl::CreateWnd();
    if (FAcceptFiles)
        DragAcceptFiles(FHandle, TRUE);
    if (FMenu && !FParent && FFormStyle != fsMDIChild)
        ::SetMenu(FHandle, FMenu->Handle());
    if (FFormStyle == fsMDIForm && !FClientHandle) {
        CLIENTCREATESTRUCT client = {nullptr, FirstMDIChildCommand};
        RECT r;
        GetClientRect(FHandle, &r);
        FClientHandle =
            CreateWindowExA(WS_EX_CLIENTEDGE, "MDICLIENT", nullptr,
                            WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_VSCROLL | WS_HSCROLL, 0, 0, r.right,
                            r.bottom, FHandle, nullptr, GetModuleHandleA(nullptr), &client);
        if (FClientHandle)
            SetWindowSubclass(FClientHandle, MDIClientProc, 1, reinterpret_cast<DWORD_PTR>(this));
        UpdateMDIWindowMenu();
    }
}

void TCustomForm::DestroyWnd() {
    if (FHandle && GetMenu(FHandle))
        ::SetMenu(FHandle, nullptr); // the menu belongs to the TMainMenu
    FClientHandle = nullptr;         // destroyed with the frame window
    TScrollingWinControl::DestroyWnd();
}

void TCustomForm::AlignControls(TControl *AControl, RECT &Rect) {
    TScrollingWinControl::AlignControls(AControl, Rect);
    if (FClientHandle)
        SetWindowPos(FClientHandle, HWND_BOTTOM, Rect.left, Rect.top, Rect.right - Rect.left,
                     Rect.bottom - Rect.top, SWP_NOACTIVATE);
}

void TCustomForm::PaintWindow(HDC DC) {
    FCanvas->FreeHandle();
    TCanvasDCScope scope(*FCanvas, DC);
    Paint();
}

void TCustomForm::Paint() {
    if (!Destroying())
        OnPaint(this);
}

void TCustomForm::Show() {
    SetVisible(true);
    if (FHandle && !FParent)
        SetForegroundWindow(FHandle);
}

void TCustomForm::SetVisible(bool Value) {
    if (Value == FVisible && (!Value || (FHandle && IsWindowVisible(FHandle))))
        return;
    if (FFormStyle == fsMDIChild && !Value)
        throw Exception("Cannot hide an MDI Child Form");
    FVisible = Value;
    if (Value) {
        HandleNeeded();
        DoShow();
        ShowWindow(FHandle, FParent ? SW_SHOWNA : SW_SHOW);
        if (FActiveControl && FActiveControl->CanFocus() && !FParent)
            FActiveControl->SetFocus();
    } else {
        if (FHandle)
            ShowWindow(FHandle, SW_HIDE);
        DoHide();
    }
    Perform(CM_VISIBLECHANGED, Value);
    if (FParent && FAlign != alNone)
        RequestAlign();
}

void TCustomForm::DoShow() {
    if (!Destroying())
        OnShow(this);
}

void TCustomForm::DoHide() {
    if (!Destroying())
        OnHide(this);
}

void TCustomForm::DoClose(TCloseAction &Action) {
    OnClose(this, Action);
}

void TCustomForm::Activate() {
    if (!Destroying())
        OnActivate(this);
}

void TCustomForm::Deactivate() {
    if (!Destroying())
        OnDeactivate(this);
}

bool TCustomForm::CloseQuery() {
    // A frame closes only when each of its document windows agrees to, the first that refuses
    // ending the round: a document with unsaved changes is never lost by closing the frame.
    if (FFormStyle == fsMDIForm)
        for (int i = 0; i < MDIChildCount(); ++i)
            if (!MDIChildren(i)->CloseQuery())
                return false;
    bool canClose = true;
    OnCloseQuery(this, canClose);
    return canClose;
}

void TCustomForm::Close() {
    if (FModal) {
        if (CloseQuery()) {
            TCloseAction action = caHide;
            DoClose(action);
            if (action != caNone && FModalResult == mrNone)
                FModalResult = mrCancel;
        }
        return;
    }
    if (!CloseQuery())
        return;
    TCloseAction action = FFormStyle == fsMDIChild ? caFree : caHide;
    DoClose(action);
    if (action == caNone)
        return;
    if (Application && Application->MainForm() == this) {
        Application->Terminate();
        return;
    }
    switch (action) {
    case caHide:
        Hide();
        break;
    case caMinimize:
        if (FHandle)
            ShowWindow(FHandle, SW_MINIMIZE);
        break;
    case caFree:
        Release();
        break;
    default:
        break;
    }
}

void TCustomForm::Release() {
    PostMessageA(Handle(), CM_RELEASE, 0, 0);
}

namespace {
BOOL CALLBACK CollectEnabledWindow(HWND window, LPARAM data) {
    auto *list = reinterpret_cast<std::vector<HWND> *>(data);
    if (IsWindowVisible(window) && IsWindowEnabled(window))
        list->push_back(window);
    return TRUE;
}

BOOL CALLBACK CollectMonitor(HMONITOR monitor, HDC, LPRECT, LPARAM data) {
    MONITORINFO info = {sizeof(info)};
    GetMonitorInfoA(monitor, &info);
    reinterpret_cast<std::vector<TMonitor> *>(data)->push_back(
        {monitor, info.rcMonitor, info.rcWork, (info.dwFlags & MONITORINFOF_PRIMARY) != 0});
    return TRUE;
}

int CALLBACK CollectFont(const LOGFONTA *logFont, const TEXTMETRICA *, DWORD, LPARAM data) {
    auto *list = reinterpret_cast<TStringList *>(data);
    if (logFont->lfFaceName[0] != '@' && list->IndexOf(logFont->lfFaceName) < 0)
        list->Add(logFont->lfFaceName);
    return 1;
}
} // namespace

TModalResult TCustomForm::ShowModal() {
    if (FVisible || FModal || FFormStyle == fsMDIChild)
        throw Exception("Cannot make a visible window modal");
    if (GetCapture())
        SendMessageA(GetCapture(), WM_CANCELMODE, 0, 0);
    ReleaseCapture();
    // Every other enabled top-level window of the thread waits.
    std::vector<HWND> disabled;
    HandleNeeded();
    EnumThreadWindows(GetCurrentThreadId(), CollectEnabledWindow, reinterpret_cast<LPARAM>(&disabled));
    disabled.erase(std::remove(disabled.begin(), disabled.end(), FHandle), disabled.end());
    for (HWND window : disabled)
        EnableWindow(window, FALSE);
    FModal = true;
    FModalResult = mrNone;
    TModalResult result = mrNone;
    try {
        Show();
        while (FModalResult == mrNone && Application && !Application->Terminated()) {
            Application->HandleMessage();
            if (FModalResult != mrNone && !CloseQuery())
                FModalResult = mrNone;
        }
        result = FModalResult;
    } catch (...) {
        FModal = false;
        for (HWND window : disabled)
            if (IsWindow(window))
                EnableWindow(window, TRUE);
        throw;
    }
    FModal = false;
    for (HWND window : disabled)
        if (IsWindow(window))
            EnableWindow(window, TRUE);
    Hide();
    return result;
}

void TCustomForm::SetActiveControl(TWinControl *Value) {
    if (Value == FActiveControl)
        return;
    FActiveControl = Value;
    if (Value && FHandle && FActive && Value->CanFocus())
        Value->SetFocus();
}

void TCustomForm::FocusChanged(TWinControl *Control) {
    if (Control != this)
        FActiveControl = Control;
}

bool TCustomForm::IsShortCut(WORD Key, TShiftState Shift) {
    bool handled = false;
    OnShortCut(Key, Shift, handled);
    if (handled)
        return true;
    if (FMenu && FMenu->IsShortCut(Key, Shift))
        return true;
    for (int i = 0; i < ComponentCount(); ++i)
        if (auto *popup = dynamic_cast<TPopupMenu *>(Components(i)))
            if (popup->IsShortCut(Key, Shift))
                return true;
    return false;
}

TCustomForm *TCustomForm::ActiveMDIChild() {
    if (!FClientHandle)
        return nullptr;
    HWND child = reinterpret_cast<HWND>(SendMessageA(FClientHandle, WM_MDIGETACTIVE, 0, 0));
    return dynamic_cast<TCustomForm *>(FindControl(child));
}

int TCustomForm::MDIChildCount() {
    int count = 0;
    if (FClientHandle && Screen)
        for (int i = 0; i < Screen->FormCount(); ++i)
            if (Screen->Forms(i)->FFormStyle == fsMDIChild && Screen->Forms(i)->HandleAllocated())
                ++count;
    return count;
}

TCustomForm *TCustomForm::MDIChildren(int Index) {
    if (FClientHandle && Screen)
        for (int i = 0; i < Screen->FormCount(); ++i)
            if (Screen->Forms(i)->FFormStyle == fsMDIChild && Screen->Forms(i)->HandleAllocated() &&
                Index-- == 0)
                return Screen->Forms(i);
    return nullptr;
}

void TCustomForm::PlaceClientWindow(const RECT &Bounds) {
    if (FClientHandle)
        SetWindowPos(FClientHandle, HWND_BOTTOM, Bounds.left, Bounds.top, Bounds.right - Bounds.left,
                     Bounds.bottom - Bounds.top, SWP_NOACTIVATE);
}

void TCustomForm::SetWindowMenu(TMenuItem *Value) {
    FWindowMenu = Value;
    UpdateMDIWindowMenu();
}

void TCustomForm::UpdateMDIWindowMenu() {
    if (!FClientHandle || !FMenu || !FMenu->HandleAllocated() || GetMenu(FHandle) != FMenu->Handle())
        return;
    // Only while the item is on the bar: a merged child menu may stand in its place.
    HMENU bar = FMenu->Handle(), list = nullptr;
    for (int i = 0; FWindowMenu && i < GetMenuItemCount(bar); ++i)
        if (GetSubMenu(bar, i) == FWindowMenu->SubMenuHandle())
            list = GetSubMenu(bar, i);
    SendMessageA(FClientHandle, WM_MDISETMENU, reinterpret_cast<WPARAM>(bar), reinterpret_cast<LPARAM>(list));
    DrawMenuBar(FHandle);
}

void TCustomForm::Cascade() {
    if (FClientHandle)
        SendMessageA(FClientHandle, WM_MDICASCADE, 0, 0);
}

void TCustomForm::Tile(bool Horizontal) {
    if (FClientHandle)
        SendMessageA(FClientHandle, WM_MDITILE, Horizontal ? MDITILE_HORIZONTAL : MDITILE_VERTICAL, 0);
}

void TCustomForm::ArrangeIcons() {
    if (FClientHandle)
        SendMessageA(FClientHandle, WM_MDIICONARRANGE, 0, 0);
}

bool TCustomForm::Minimized() {
    return FHandle && IsIconic(FHandle);
}

bool TCustomForm::Maximized() {
    return FHandle && IsZoomed(FHandle);
}

void TCustomForm::Minimize() {
    ShowWindow(Handle(), SW_MINIMIZE);
}

void TCustomForm::Maximize() {
    ShowWindow(Handle(), SW_MAXIMIZE);
}

void TCustomForm::Restore() {
    ShowWindow(Handle(), SW_RESTORE);
}

void TCustomForm::SetAcceptFiles(bool Value) {
    FAcceptFiles = Value;
    if (FHandle)
        DragAcceptFiles(FHandle, Value);
}

void TCustomForm::WndProc(TMessage &Message) {
    switch (Message.Msg) {
    case WM_DROPFILES: {
        HDROP drop = reinterpret_cast<HDROP>(Message.WParam);
        std::vector<std::string> names;
        const UINT count = DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0);
        for (UINT i = 0; i < count; ++i) {
            char name[MAX_PATH + 1] = {};
            if (DragQueryFileA(drop, i, name, MAX_PATH) > 0)
                names.push_back(name);
        }
        DragFinish(drop);
        OnDropFiles(this, names);
        Message.Result = 0;
        return;
    }
    case WM_MENUSELECT:
        // The status hint of the highlighted menu item.
        if (Application) {
            TMenuItem *item = nullptr;
            const UINT flags = HIWORD(Message.WParam);
            if (FMenu && !(flags & MF_POPUP) && !(flags == 0xFFFF && Message.LParam == 0))
                item = FMenu->Items().FindCommand(LOWORD(Message.WParam));
            if (!item && FMenu && FMenu->Merged() && !(flags & MF_POPUP))
                item = FMenu->Merged()->Items().FindCommand(LOWORD(Message.WParam));
            Application->SetHint(item ? GetLongHint(item->Hint()) : std::string());
        }
        break;
    case WM_EXITMENULOOP:
        if (Application)
            Application->SetHint(std::string());
        break;
    case WM_CLOSE:
        Close();
        return;
    case CM_RELEASE:
        delete this;
        return;
    case WM_COMMAND:
        if (Message.LParam == 0 && FMenu && HIWORD(Message.WParam) <= 1 &&
            FMenu->DispatchCommand(LOWORD(Message.WParam)))
            return;
        if (Message.LParam == 0 && FFormStyle == fsMDIForm) {
            // Commands of the active child's menu and the window menu.
            if (TCustomForm *child = ActiveMDIChild())
                if (child->FMenu && child->FMenu->DispatchCommand(LOWORD(Message.WParam)))
                    return;
            // The window list's items: the frame's default procedure activates the child.
            if (FClientHandle && LOWORD(Message.WParam) >= FirstMDIChildCommand) {
                DefaultHandler(Message);
                return;
            }
        }
        break;
    case WM_ACTIVATE:
        DefaultHandler(Message);
        FActive = LOWORD(Message.WParam) != WA_INACTIVE;
        if (FActive) {
            if (Screen)
                Screen->SetActiveForm(this);
            if (FActiveControl && FActiveControl->HandleAllocated() && FActiveControl->CanFocus())
                ::SetFocus(FActiveControl->Handle());
            Activate();
        } else {
            Deactivate();
        }
        return;
    case WM_MDIACTIVATE:
        DefaultHandler(Message);
        if (TCustomForm *main = Application ? Application->MainForm() : nullptr; main && main->FMenu) {
            // The frame's bar shows the active child's menu merged in; none when the last goes.
            if (reinterpret_cast<HWND>(Message.LParam) == FHandle)
                main->FMenu->Merge(Destroying() ? nullptr : FMenu);
            else if (reinterpret_cast<HWND>(Message.WParam) == FHandle && Message.LParam == 0)
                main->FMenu->Merge(nullptr);
        }
        if (reinterpret_cast<HWND>(Message.LParam) == FHandle) {
            FActive = true;
            if (Screen)
                Screen->SetActiveForm(this);
            Activate();
        } else if (reinterpret_cast<HWND>(Message.WParam) == FHandle) {
            FActive = false;
            Deactivate();
        }
        return;
    case WM_SETFOCUS:
        // The form hands its focus to its active control.
        if (FActiveControl && FActiveControl != this && FActiveControl->HandleAllocated() &&
            FActiveControl->CanFocus()) {
            ::SetFocus(FActiveControl->Handle());
            return;
        }
        break;
    case WM_HELP: {
        // The help context of the control asked about, or of the nearest parent that has one.
        auto *info = reinterpret_cast<HELPINFO *>(Message.LParam);
        TControl *control = info && info->iContextType == HELPINFO_WINDOW
                                ? FindControl(static_cast<HWND>(info->hItemHandle))
                                : nullptr;
        while (control && control->HelpContext() == 0)
            control = control->Parent();
        int context = control ? control->HelpContext() : HelpContext();
        if (context != 0 && Application)
            Application->HelpContext(context);
        Message.Result = 1;
        return;
    }
    case WM_SYSCOMMAND:
        // The library's own context-help mode stands in for the system's.
        if (HandleContextHelpCommand(FHandle, Message.Msg, Message.WParam)) {
            Message.Result = 0;
            return;
        }
        break;
    case CM_DIALOGKEY:
        if (Message.WParam == VK_TAB && !(GetKeyState(VK_CONTROL) < 0)) {
            SelectNext(FActiveControl, GetKeyState(VK_SHIFT) >= 0, true);
            Message.Result = 1;
            return;
        }
        break;
    default:
        break;
    }
    TScrollingWinControl::WndProc(Message);
}

void TCustomForm::DefaultHandler(TMessage &Message) {
    if (!FHandle)
        return;
    if (FFormStyle == fsMDIChild && !FParent) {
        Message.Result = DefMDIChildProcA(FHandle, Message.Msg, Message.WParam, Message.LParam);
        return;
    }
    if (FClientHandle) {
        Message.Result = DefFrameProcA(FHandle, FClientHandle, Message.Msg, Message.WParam, Message.LParam);
        return;
    }
    TScrollingWinControl::DefaultHandler(Message);
}

// =============================================================================================
// THintWindow

// ---------------------------------------------------------------------------------------------
// TScrollBox

TScrollBox::TScrollBox(TComponent *AOwner) : TScrollingWinControl(AOwner) {
    FControlStyle |= csCaptureMouse | csClickEvents | csSetCaption | csDoubleClicks;
    FWidth = 185;
    FHeight = 41;
}

void TScrollBox::CreateParams(TCreateParams &Params) {
    TScrollingWinControl::CreateParams(Params);
    Params.Style |= WS_CLIPCHILDREN;
    if (FBordered)
        Params.ExStyle |= WS_EX_CLIENTEDGE;
    Params.ClassStyle &= ~(CS_HREDRAW | CS_VREDRAW);
}

THintWindow::THintWindow(TComponent *AOwner) : TCustomControl(AOwner) {
    FVisible = false;
    FColor = clInfoBk;
    FParentColor = false;
    FParentFont = false;
    if (Screen)
        FFont->Assign(Screen->HintFont());
    FFont->SetColor(clInfoText);
    FParentFont = false;
}

void THintWindow::CreateParams(TCreateParams &Params) {
    TCustomControl::CreateParams(Params);
    Params.Style = WS_POPUP | WS_BORDER;
    Params.ExStyle = WS_EX_TOOLWINDOW | WS_EX_TOPMOST;
    Params.WndParent = Application ? Application->Handle() : nullptr;
    Params.ClassStyle |= CS_SAVEBITS;
}

RECT THintWindow::CalcHintRect(int MaxWidth, const std::string &AHint) {
    RECT r = Rect(0, 0, MaxWidth, 0);
    HDC dc = GetDC(nullptr);
    HGDIOBJ old = SelectObject(dc, FFont->Handle());
    DrawTextA(dc, AHint.c_str(), -1, &r, DT_CALCRECT | DT_LEFT | DT_WORDBREAK | DT_NOPREFIX);
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    r.right += 6;
    r.bottom += 2;
    return r;
}

void THintWindow::ActivateHint(RECT R, const std::string &AHint) {
    SetText(AHint);
    FLeft = R.left;
    FTop = R.top;
    FWidth = R.right - R.left;
    FHeight = R.bottom - R.top;
    SetWindowPos(Handle(), HWND_TOPMOST, R.left, R.top, FWidth, FHeight, SWP_SHOWWINDOW | SWP_NOACTIVATE);
    FVisible = true;
    Invalidate();
}

void THintWindow::ReleaseHint() {
    if (HandleAllocated())
        ShowWindow(FHandle, SW_HIDE);
    FVisible = false;
}

void THintWindow::Paint() {
    RECT r = ClientRect();
    Canvas().Brush().SetColor(FColor);
    Canvas().FillRect(r);
    Canvas().Brush().SetStyle(bsClear);
    Canvas().Font().Assign(*FFont);
    r.left += 2;
    r.top += 1;
    Canvas().TextRect(r, Text(), DT_LEFT | DT_WORDBREAK | DT_NOPREFIX);
}

// =============================================================================================
// TApplication

namespace {
constexpr UINT_PTR HintTimerId = 1;
}

std::string ExceptionDisplayText(std::exception_ptr E) {
    std::string text;
    try {
        if (E)
            std::rethrow_exception(E);
    } catch (const std::exception &error) {
        text = error.what();
    } catch (...) {
        text = "Unknown exception";
    }
    size_t end = text.size();
    while (end > 0 && text[end - 1] == '.')
        --end;
    if (end < text.size())
        text.resize(end + 1);
    return text;
}

TApplication::TApplication(TComponent *AOwner) : TComponent(AOwner) {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    FTitle = ChangeFileExt(ExtractFileName(path), "");
    // Made now, on the interface thread, so that other threads can post to it.
    Handle();
}

TApplication::~TApplication() {
    SetDestroying();
    StopHintTimer();
    DestroyComponents();
    FHintWindow = nullptr;
    if (FHandle)
        DestroyWindow(FHandle);
    FHandle = nullptr;
}

HWND TApplication::Handle() {
    if (!FHandle) {
        FHandle = AllocateUtilityWindow("TApplication", WindowProc, nullptr, this);
        SetWindowTextA(FHandle, FTitle.c_str());
    }
    return FHandle;
}

LRESULT CALLBACK TApplication::WindowProc(HWND Window, UINT Msg, WPARAM WParam, LPARAM LParam) {
    auto *self = reinterpret_cast<TApplication *>(GetWindowLongPtrA(Window, GWLP_USERDATA));
    if (!self)
        return DefWindowProcA(Window, Msg, WParam, LParam);
    try {
        return self->HandleAppMessage(Msg, WParam, LParam);
    } catch (...) {
        self->HandleException(self);
        return 0;
    }
}

namespace {
// Takes the first equal entry out of a chain, leaving the others in their order.
template <class T> void RemoveFirst(std::vector<T> &Chain, const T &Entry) {
    auto found = std::find(Chain.begin(), Chain.end(), Entry);
    if (found != Chain.end())
        Chain.erase(found);
}
} // namespace

void TApplication::AddMessageFilter(TMessageEvent Filter) {
    FMessageFilters.push_back(Filter);
}

void TApplication::RemoveMessageFilter(TMessageEvent Filter) {
    RemoveFirst(FMessageFilters, Filter);
}

void TApplication::HookMainWindow(TWindowHook Hook) {
    FWindowHooks.push_back(Hook);
}

void TApplication::UnhookMainWindow(TWindowHook Hook) {
    RemoveFirst(FWindowHooks, Hook);
}

LRESULT TApplication::HandleAppMessage(UINT Msg, WPARAM WParam, LPARAM LParam) {
    if (!FWindowHooks.empty()) {
        TMessage message = {Msg, WParam, LParam, 0};
        const std::vector<TWindowHook> hooks = FWindowHooks;
        for (const TWindowHook &hook : hooks)
            if (hook(message))
                return message.Result;
    }
    switch (Msg) {
    case CM_SHOWEXCEPTION: {
        std::unique_ptr<std::string> text(reinterpret_cast<std::string *>(LParam));
        HWND owner = GetActiveWindow();
        MessageBoxA(owner ? owner : FHandle, text->c_str(), FTitle.c_str(), MB_OK | MB_ICONSTOP);
        return 0;
    }
    case CM_HANDLEEXCEPTION: {
        std::unique_ptr<std::exception_ptr> error(reinterpret_cast<std::exception_ptr *>(LParam));
        DisplayException(this, *error);
        return 0;
    }
    case WM_TIMER:
        if (WParam == HintTimerId)
            HintTimerExpired();
        return 0;
    default:
        return DefWindowProcA(FHandle, Msg, WParam, LParam);
    }
}

void TApplication::SetTitle(const std::string &Value) {
    FTitle = Value;
    if (FHandle)
        SetWindowTextA(FHandle, Value.c_str());
}

void TApplication::Terminate() {
    FTerminated = true;
    PostQuitMessage(0);
}

void TApplication::Run() {
    if (FMainForm)
        FMainForm->Show();
    while (!FTerminated) {
        try {
            HandleMessage();
        } catch (...) {
            HandleException(this);
        }
    }
}

bool TApplication::ProcessMessage() {
    MSG msg;
    if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
        return false;
    if (msg.message == WM_QUIT) {
        FTerminated = true;
        return true;
    }
    bool handled = false;
    // A copy, so that a filter may add or remove filters while it runs.
    const std::vector<TMessageEvent> filters = FMessageFilters;
    for (const TMessageEvent &filter : filters) {
        filter(msg, handled);
        if (handled)
            return true;
    }
    OnMessage(msg, handled);
    if (handled)
        return true;
    if (msg.message == WM_MOUSEMOVE)
        DoMouseIdle();
    if (msg.message >= WM_KEYFIRST && msg.message <= WM_KEYLAST && FHintActive)
        CancelHint();
    if (!IsMDIMsg(msg) && !IsKeyMsg(msg) && !IsDlgMsg(msg)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return true;
}

void TApplication::ProcessMessages() {
    while (ProcessMessage()) {
    }
}

void TApplication::HandleMessage() {
    if (!ProcessMessage()) {
        Idle();
        if (!FTerminated)
            WaitMessage();
    }
}

void TApplication::Idle() {
    bool done = true;
    OnIdle(this, done);
}

bool TApplication::IsKeyMsg(MSG &Msg) {
    if (Msg.message != WM_KEYDOWN && Msg.message != WM_SYSKEYDOWN && Msg.message != WM_CHAR &&
        Msg.message != WM_SYSCHAR)
        return false;
    // The control of the window, or of its parent for the inner windows of combo boxes.
    HWND window = Msg.hwnd;
    TWinControl *control = nullptr;
    while (window && !(control = FindControl(window)))
        window = GetParent(window);
    if (!control)
        return false;
    return control->Perform(CN_BASE + Msg.message, Msg.wParam, Msg.lParam) != 0;
}

bool TApplication::IsDlgMsg(MSG &Msg) {
    return FDialogHandle && IsWindow(FDialogHandle) && IsDialogMessageA(FDialogHandle, &Msg);
}

bool TApplication::IsMDIMsg(MSG &Msg) {
    if (!FMainForm || FMainForm->FFormStyle != fsMDIForm || !FMainForm->FClientHandle)
        return false;
    if (Msg.message != WM_KEYDOWN && Msg.message != WM_SYSKEYDOWN)
        return false;
    return TranslateMDISysAccel(FMainForm->FClientHandle, &Msg) != 0;
}

void TApplication::HandleException(TObject *Sender) {
    std::exception_ptr error = std::current_exception();
    if (!error)
        return;
    try {
        std::rethrow_exception(error);
    } catch (const EAbort &) {
        return;
    } catch (...) {
    }
    if (FHandle && GetWindowThreadProcessId(FHandle, nullptr) != GetCurrentThreadId()) {
        // Shown on the interface thread.
        auto posted = std::make_unique<std::exception_ptr>(error);
        if (PostMessageA(FHandle, CM_HANDLEEXCEPTION, 0, reinterpret_cast<LPARAM>(posted.get())))
            posted.release();
        return;
    }
    DisplayException(Sender, error);
}

void TApplication::DisplayException(TObject *Sender, std::exception_ptr E) {
    try {
        if (OnException.Assigned())
            OnException(Sender, E);
        else
            ShowException(E);
    } catch (...) {
        // The display itself failed: nothing may leave a window procedure.
        OutputDebugStringA("Exception while showing an exception");
    }
}

void TApplication::ShowException(std::exception_ptr E) {
    auto text = std::make_unique<std::string>(ExceptionDisplayText(E));
    if (PostMessageA(Handle(), CM_SHOWEXCEPTION, 0, reinterpret_cast<LPARAM>(text.get())))
        text.release();
}

void TApplication::Notification(TComponent *AComponent, TOperation Operation) {
    TComponent::Notification(AComponent, Operation);
    if (Operation == opRemove && AComponent == FHintControl) {
        FHintControl = nullptr;
        CancelHint();
    }
}

void TApplication::SetHint(const std::string &Value) {
    if (Value == FHint)
        return;
    FHint = Value;
    OnHint(this);
}

void TApplication::SetShowHint(bool Value) {
    FShowHint = Value;
    if (!Value)
        CancelHint();
}

void TApplication::StartHintTimer(int Delay) {
    SetTimer(Handle(), HintTimerId, static_cast<UINT>(Delay), nullptr);
    FHintTimerRunning = true;
}

void TApplication::StopHintTimer() {
    if (FHintTimerRunning && FHandle)
        KillTimer(FHandle, HintTimerId);
    FHintTimerRunning = false;
}

void TApplication::CancelHint() {
    StopHintTimer();
    if (FHintWindow)
        FHintWindow->ReleaseHint();
    FHintActive = false;
}

void TApplication::DoMouseIdle() {
    TControl *control = FindDragTarget(Mouse.CursorPos(), true);
    if (control == FHintControl)
        return;
    CancelHint();
    SetComponentReference<TControl>(this, FHintControl, control);
    std::string hint;
    for (TControl *c = control; c && hint.empty(); c = c->Parent())
        hint = c->Hint();
    SetHint(GetLongHint(hint));
    if (!control)
        return;
    if (FShowHint && control->ShowHint() && !GetShortHint(control->Hint()).empty())
        StartHintTimer(FHintPause);
}

void TApplication::HintTimerExpired() {
    StopHintTimer();
    if (FHintActive) {
        CancelHint();
        return;
    }
    if (!FHintControl)
        return;
    TPoint pos = Mouse.CursorPos();
    if (FindDragTarget(pos, true) != FHintControl)
        return;
    if (!FHintWindow)
        FHintWindow = new THintWindow(this);
    std::string text = GetShortHint(FHintControl->Hint());
    RECT r = FHintWindow->CalcHintRect(300, text);
    OffsetRect(&r, pos.X, pos.Y + 20);
    FHintWindow->ActivateHint(r, text);
    FHintActive = true;
    StartHintTimer(FHintHidePause);
}

bool TApplication::HelpCommand(WORD Command, intptr_t Data) {
    bool callHelp = true;
    bool result = OnHelp(Command, Data, callHelp);
    if (callHelp)
        result = CallDefaultHelp(Command, Data);
    return result;
}

bool TApplication::CallDefaultHelp(WORD Command, intptr_t Data) {
    if (FHelpFile.empty())
        return false;
    HWND owner = FMainForm && FMainForm->HandleAllocated() ? FMainForm->Handle() : Handle();
    return WinHelpA(owner, FHelpFile.c_str(), Command, static_cast<ULONG_PTR>(Data)) != 0;
}

bool TApplication::HelpContext(int Context) {
    return HelpCommand(HELP_CONTEXT, Context);
}

// =============================================================================================
// TScreen

TScreen::TScreen(TComponent *AOwner)
    : TComponent(AOwner), FHintFont(std::make_unique<TFont>()), FMenuFont(std::make_unique<TFont>()),
      FIconFont(std::make_unique<TFont>()) {
    NONCLIENTMETRICSA metrics = {};
    metrics.cbSize = offsetof(NONCLIENTMETRICSA, lfMessageFont) + sizeof(LOGFONTA);
    if (SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, metrics.cbSize, &metrics, 0)) {
        FHintFont->AssignLogFont(metrics.lfStatusFont);
        FMenuFont->AssignLogFont(metrics.lfMenuFont);
    }
    LOGFONTA icon = {};
    if (SystemParametersInfoA(SPI_GETICONTITLELOGFONT, sizeof(icon), &icon, 0))
        FIconFont->AssignLogFont(icon);
}

TScreen::~TScreen() = default;

void TScreen::AddForm(TCustomForm *Form) {
    FForms.push_back(Form);
}

void TScreen::RemoveForm(TCustomForm *Form) {
    FForms.erase(std::remove(FForms.begin(), FForms.end(), Form), FForms.end());
    if (FActiveForm == Form)
        SetActiveForm(nullptr);
}

void TScreen::SetActiveForm(TCustomForm *Form) {
    if (Form == FActiveForm)
        return;
    FActiveForm = Form;
    if (!Destroying())
        OnActiveFormChange(this);
}

TWinControl *TScreen::ActiveControl() const {
    return FActiveForm ? FActiveForm->ActiveControl() : nullptr;
}

RECT TScreen::WorkAreaRect() const {
    RECT r = {0, 0, Width(), Height()};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &r, 0);
    return r;
}

int TScreen::PixelsPerInch() const {
    HDC dc = GetDC(nullptr);
    int result = GetDeviceCaps(dc, LOGPIXELSY);
    ReleaseDC(nullptr, dc);
    return result;
}

std::vector<TMonitor> TScreen::EnumMonitors() {
    std::vector<TMonitor> result;
    EnumDisplayMonitors(nullptr, nullptr, CollectMonitor, reinterpret_cast<LPARAM>(&result));
    return result;
}

int TScreen::MonitorCount() {
    return static_cast<int>(EnumMonitors().size());
}

TMonitor TScreen::Monitors(int Index) {
    auto monitors = EnumMonitors();
    if (Index < 0 || Index >= static_cast<int>(monitors.size()))
        RaiseListIndexError(Index);
    return monitors[Index];
}

TMonitor TScreen::MonitorFromPoint(TPoint P) {
    HMONITOR handle = ::MonitorFromPoint({P.X, P.Y}, MONITOR_DEFAULTTONEAREST);
    MONITORINFO info = {sizeof(info)};
    GetMonitorInfoA(handle, &info);
    return {handle, info.rcMonitor, info.rcWork, (info.dwFlags & MONITORINFOF_PRIMARY) != 0};
}

TStrings &TScreen::Fonts() {
    if (!FFonts) {
        FFonts = std::make_unique<TStringList>();
        FFonts->SetSorted(true);
        HDC dc = GetDC(nullptr);
        LOGFONTA font = {};
        font.lfCharSet = DEFAULT_CHARSET;
        EnumFontFamiliesExA(dc, &font, CollectFont, reinterpret_cast<LPARAM>(FFonts.get()), 0);
        ReleaseDC(nullptr, dc);
    }
    return *FFonts;
}
