// An icon in the notification area of the task bar, with a hidden message window of its own that
// receives the shell's mouse notifications and the owner form's posted hide and show requests.
//
// The component is made in a loading state: property changes are only recorded until Loaded(),
// which adds the icon when Visible is still set (so an owner that turns Visible off while it sets
// the component up never shows the icon for a moment).
#pragma once

#include <windows.h>

#include <shellapi.h>

#include <functional>
#include <memory>
#include <string>

#include "Controls.h"
#include "Graphics.h"

class TCustomForm;
class TPopupMenu;

// The shell's notification-area call (Shell_NotifyIconA by default). Tests put a recorder here;
// the previous function is returned.
using TShellNotifyIconFunction = std::function<BOOL(DWORD Message, const NOTIFYICONDATAA &Data)>;
TShellNotifyIconFunction SetShellNotifyIconFunction(TShellNotifyIconFunction Function);

// Messages of the tray's hidden window.
constexpr UINT WM_TRAYNOTIFY = WM_USER;        // the shell's callback; LParam: the mouse message
constexpr UINT WM_TRAYHIDEOWNER = WM_USER + 1; // hides the owner form
constexpr UINT WM_TRAYSHOWOWNER = WM_USER + 2; // shows, restores and activates the owner form

// The tip text the shell shows: at most this many characters (the classic record's 64 bytes).
constexpr int TrayTipLength = 63;

class TSystemTray : public TComponent {
public:
    DECLARE_CLASS_NAME(TSystemTray)
    explicit TSystemTray(TComponent *AOwner);
    ~TSystemTray() override;

    // Ends the loading state: adds the icon when Visible, and remembers the owner when it is a form.
    void Loaded();
    bool Loading() const { return FLoading; }

    // The icon shown (owned); empty: the first icon of the program's own file. Each change updates
    // the icon in the notification area.
    const TIcon &Icon() const { return FIcon; }
    void SetIconHandle(HICON Value);
    // The icon resource of that name from the program's own file (raises when there is none).
    void LoadIconResource(const std::string &Name);
    // The tip; empty: the application's title.
    const std::string &Text() const { return FText; }
    void SetText(const std::string &Value);
    bool Visible() const { return FVisible; }
    void SetVisible(bool Value);
    // Whether the icon is in the notification area now.
    bool IconAdded() const { return FAdded; }

    // Hide or show the owner form after the current event returns (through the hidden window).
    void HideOwner();
    void ShowOwner();

    // The hidden window that the shell notifies.
    HWND Handle() const { return FWindow; }

    // The menu shown on a right button press (not owned; forgotten when it is freed).
    TPopupMenu *PopupMenu() const { return FPopupMenu; }
    void SetPopupMenu(TPopupMenu *Value);
    TNotifyEvent OnClick;
    TNotifyEvent OnDblClick;
    TMouseEvent OnMouseDown;
    TMouseEvent OnMouseUp;
    TMouseMoveEvent OnMouseMove;

protected:
    virtual void Click();
    virtual void DblClick();
    virtual void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y);
    virtual void MouseMove(TShiftState Shift, int X, int Y);
    virtual void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y);
    void Notification(TComponent *AComponent, TOperation Operation) override;

private:
    static LRESULT CALLBACK WindowProc(HWND Window, UINT Msg, WPARAM WParam, LPARAM LParam);
    LRESULT HandleMessage(UINT Msg, WPARAM WParam, LPARAM LParam);
    void TrayNotify(UINT MouseMessage);
    void HideOwnerNow();
    void ShowOwnerNow();
    void IconChanged();
    NOTIFYICONDATAA IconData(UINT Flags) const;
    void AddIcon();
    void RemoveIcon();

    HWND FWindow = nullptr;
    TIcon FIcon;
    HICON FProgramIcon = nullptr; // the program file's first icon, made when first needed
    std::string FText;
    bool FVisible = true;
    bool FLoading = true;
    bool FAdded = false;
    TCustomForm *FOwnerForm = nullptr;
    TPopupMenu *FPopupMenu = nullptr;
};
