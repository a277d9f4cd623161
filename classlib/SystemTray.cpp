#include "SystemTray.h"

#include <cstring>

#include "Forms.h"
#include "Menus.h"

namespace {

constexpr const char *TrayWindowClass = "TSystemTrayWindow";

TShellNotifyIconFunction &NotifyIconFunction() {
    static TShellNotifyIconFunction function;
    return function;
}

BOOL NotifyIcon(DWORD Message, const NOTIFYICONDATAA &Data) {
    if (const TShellNotifyIconFunction &function = NotifyIconFunction())
        return function(Message, Data);
    return Shell_NotifyIconA(Message, const_cast<NOTIFYICONDATAA *>(&Data));
}

} // namespace

TShellNotifyIconFunction SetShellNotifyIconFunction(TShellNotifyIconFunction Function) {
    TShellNotifyIconFunction previous = std::move(NotifyIconFunction());
    NotifyIconFunction() = std::move(Function);
    return previous;
}

TSystemTray::TSystemTray(TComponent *AOwner) : TComponent(AOwner) {
    // A top-level hidden window rather than a message-only one: the shell posts to it, and other
    // programs (the tests' driver) can find it among the process's windows.
    FWindow = AllocateUtilityWindow(TrayWindowClass, WindowProc, nullptr, this);
}

TSystemTray::~TSystemTray() {
    SetDestroying();
    if (FAdded)
        RemoveIcon();
    if (FWindow) {
        SetWindowLongPtrA(FWindow, GWLP_USERDATA, 0);
        DestroyWindow(FWindow);
    }
    if (FProgramIcon)
        DestroyIcon(FProgramIcon);
}

void TSystemTray::Loaded() {
    FLoading = false;
    FOwnerForm = dynamic_cast<TCustomForm *>(Owner());
    if (FVisible && !FAdded)
        AddIcon();
}

void TSystemTray::SetIconHandle(HICON Value) {
    FIcon.SetHandle(Value);
    IconChanged();
}

void TSystemTray::LoadIconResource(const std::string &Name) {
    FIcon.LoadFromResourceName(GetModuleHandleA(nullptr), Name);
    IconChanged();
}

void TSystemTray::IconChanged() {
    if (FAdded)
        NotifyIcon(NIM_MODIFY, IconData(NIF_ICON));
}

void TSystemTray::SetText(const std::string &Value) {
    if (Value == FText)
        return;
    FText = Value;
    if (FAdded)
        NotifyIcon(NIM_MODIFY, IconData(NIF_TIP));
}

void TSystemTray::SetVisible(bool Value) {
    if (Value == FVisible)
        return;
    FVisible = Value;
    if (FLoading)
        return;
    if (Value)
        AddIcon();
    else
        RemoveIcon();
}

NOTIFYICONDATAA TSystemTray::IconData(UINT Flags) const {
    NOTIFYICONDATAA data;
    std::memset(&data, 0, sizeof(data));
    // The classic record: every version of the shell takes it.
    data.cbSize = NOTIFYICONDATAA_V1_SIZE;
    data.hWnd = FWindow;
    data.uID = 0;
    data.uFlags = Flags;
    data.uCallbackMessage = WM_TRAYNOTIFY;
    if (Flags & NIF_ICON) {
        data.hIcon = FIcon.Handle();
        if (!data.hIcon) {
            auto *self = const_cast<TSystemTray *>(this);
            if (!self->FProgramIcon) {
                char path[MAX_PATH] = {};
                GetModuleFileNameA(nullptr, path, MAX_PATH);
                self->FProgramIcon = ExtractIconA(GetModuleHandleA(nullptr), path, 0);
                // ExtractIcon answers 1 for a file without icons.
                if (self->FProgramIcon == reinterpret_cast<HICON>(1))
                    self->FProgramIcon = nullptr;
            }
            // A program file without icons still gets a picture in the notification area.
            data.hIcon = FProgramIcon ? FProgramIcon : LoadIconA(nullptr, MAKEINTRESOURCEA(32512));
        }
    }
    if (Flags & NIF_TIP) {
        const std::string tip = !FText.empty() ? FText : (Application ? Application->Title() : std::string());
        std::strncpy(data.szTip, tip.c_str(), TrayTipLength);
        data.szTip[TrayTipLength] = '\0';
    }
    return data;
}

void TSystemTray::AddIcon() {
    NotifyIcon(NIM_ADD, IconData(NIF_MESSAGE | NIF_ICON | NIF_TIP));
    FAdded = true;
}

void TSystemTray::RemoveIcon() {
    NotifyIcon(NIM_DELETE, IconData(0));
    FAdded = false;
}

void TSystemTray::HideOwner() {
    if (FOwnerForm)
        PostMessageA(FWindow, WM_TRAYHIDEOWNER, 0, 0);
}

void TSystemTray::ShowOwner() {
    if (FOwnerForm)
        PostMessageA(FWindow, WM_TRAYSHOWOWNER, 0, 0);
}

void TSystemTray::HideOwnerNow() {
    if (!FOwnerForm)
        return;
    // The owner form is the program's task-bar window: hidden, it leaves the task bar too.
    if (FOwnerForm->HandleAllocated() && IsWindowVisible(FOwnerForm->Handle()))
        FOwnerForm->Minimize();
    FOwnerForm->Hide();
}

void TSystemTray::ShowOwnerNow() {
    if (!FOwnerForm)
        return;
    FOwnerForm->Show();
    if (FOwnerForm->Minimized())
        FOwnerForm->Restore();
    SetForegroundWindow(FOwnerForm->Handle());
}

void TSystemTray::SetPopupMenu(TPopupMenu *Value) {
    if (FPopupMenu)
        FPopupMenu->RemoveFreeNotification(this);
    FPopupMenu = Value;
    if (Value)
        Value->FreeNotification(this);
}

void TSystemTray::Notification(TComponent *AComponent, TOperation Operation) {
    TComponent::Notification(AComponent, Operation);
    if (Operation == opRemove && AComponent == FPopupMenu)
        FPopupMenu = nullptr;
}

void TSystemTray::Click() {
    if (!Destroying())
        OnClick(this);
}

void TSystemTray::DblClick() {
    if (!Destroying())
        OnDblClick(this);
}

void TSystemTray::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) {
    if (!Destroying())
        OnMouseDown(this, Button, Shift, X, Y);
}

void TSystemTray::MouseMove(TShiftState Shift, int X, int Y) {
    if (!Destroying())
        OnMouseMove(this, Shift, X, Y);
}

void TSystemTray::MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) {
    if (!Destroying())
        OnMouseUp(this, Button, Shift, X, Y);
}

void TSystemTray::TrayNotify(UINT MouseMessage) {
    POINT at{};
    GetCursorPos(&at);
    switch (MouseMessage) {
    case WM_MOUSEMOVE:
        MouseMove(0, at.x, at.y);
        break;
    case WM_LBUTTONDOWN:
        MouseDown(mbLeft, ssLeft, at.x, at.y);
        break;
    case WM_LBUTTONUP:
        MouseUp(mbLeft, ssLeft, at.x, at.y);
        Click();
        break;
    case WM_LBUTTONDBLCLK:
        MouseDown(mbLeft, ssLeft | ssDouble, at.x, at.y);
        DblClick();
        break;
    case WM_RBUTTONDOWN:
        MouseDown(mbRight, ssRight, at.x, at.y);
        if (FPopupMenu && !Destroying()) {
            // Without the foreground the menu would not close when the user clicks elsewhere.
            if (Application) {
                SetForegroundWindow(Application->Handle());
                Application->ProcessMessages();
            }
            FPopupMenu->Popup(at.x, at.y);
        }
        break;
    case WM_RBUTTONUP:
        MouseUp(mbRight, ssRight, at.x, at.y);
        break;
    case WM_RBUTTONDBLCLK:
        MouseDown(mbRight, ssRight | ssDouble, at.x, at.y);
        break;
    default:
        break;
    }
}

LRESULT TSystemTray::HandleMessage(UINT Msg, WPARAM WParam, LPARAM LParam) {
    switch (Msg) {
    case WM_TRAYNOTIFY:
        TrayNotify(static_cast<UINT>(LParam));
        return 0;
    case WM_TRAYHIDEOWNER:
        HideOwnerNow();
        return 0;
    case WM_TRAYSHOWOWNER:
        ShowOwnerNow();
        return 0;
    default:
        return DefWindowProcA(FWindow, Msg, WParam, LParam);
    }
}

LRESULT CALLBACK TSystemTray::WindowProc(HWND Window, UINT Msg, WPARAM WParam, LPARAM LParam) {
    auto *self = reinterpret_cast<TSystemTray *>(GetWindowLongPtrA(Window, GWLP_USERDATA));
    if (!self)
        return DefWindowProcA(Window, Msg, WParam, LParam);
    // Nothing may unwind into the system's dispatch.
    try {
        return self->HandleMessage(Msg, WParam, LParam);
    } catch (...) {
        if (Application)
            Application->HandleException(self);
        return 0;
    }
}
