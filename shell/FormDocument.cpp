#include "FormDocument.h"

#include "FormMain.h"
#include "GenEyedrop.h"

TDocumentForm::TDocumentForm(TComponent *AOwner, bool MDIChild) : TForm(AOwner) {
    if (!MDIChild)
        return;
    SetFormStyle(fsMDIChild);
    if (MainForm)
        MainForm->StatusBar->AddTask(this);
}

TDocumentForm::~TDocumentForm() {
    OnDeactivate = nullptr;
}

TStatusBar *TDocumentForm::GetStatusBar() {
    return MainForm ? MainForm->GetDocumentStatusBar(this) : nullptr;
}

void TDocumentForm::RefreshStatusBar() {
    if (GetStatusBar())
        MainForm->UpdateStatusBar();
}

void TDocumentForm::Activate() {
    if (HandleAllocated())
        SetWindowLongA(Handle(), GWL_STYLE, GetWindowLongA(Handle(), GWL_STYLE) | WS_SYSMENU);
    TForm::Activate();
    if (MainForm && FormStyle() == fsMDIChild)
        MainForm->StatusBar->UpdateTask(this);
}

void TDocumentForm::WndProc(TMessage &Message) {
    switch (Message.Msg) {
    case WM_CHILDACTIVATE:
        // A pick clicks into any window without making it the active document.
        if (Eyedropper().IsActive()) {
            Message.Result = 0;
            return;
        }
        break;
    case WM_WINDOWPOSCHANGING:
        if (Eyedropper().IsActive())
            reinterpret_cast<WINDOWPOS *>(Message.LParam)->flags |= SWP_NOZORDER | SWP_NOACTIVATE;
        break;
    case CM_TEXTCHANGED:
        TForm::WndProc(Message);
        if (MainForm && FormStyle() == fsMDIChild)
            MainForm->StatusBar->UpdateTask(this);
        return;
    default:
        break;
    }
    TForm::WndProc(Message);
}
