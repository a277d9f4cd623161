#include "FormFullScreen.h"

#include "FormFractal.h"
#include "SelectArea.h"

TFullScreenForm::TFullScreenForm(TFractalForm &Window) : TForm(&Window), FWindow(Window) {
    SetBorderStyle(bsNone);
    SetCaption("Orbisk Vantel");
    SetColor(clBlack);
    SetPosition(poDesigned);
    SetBounds(0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    Display = new TFractalDisplay(this, Window);
    Display->SetParent(this);
    Display->OnMouseDown = MakeEvent<&TFractalForm::DisplayMouseDown>(&Window);
    Display->OnMouseMove = MakeEvent<&TFractalForm::DisplayMouseMove>(&Window);
    Display->OnMouseUp = MakeEvent<&TFractalForm::DisplayMouseUp>(&Window);
}

void TFullScreenForm::SetImageSize(int Width, int Height) {
    const int screenWidth = GetSystemMetrics(SM_CXSCREEN), screenHeight = GetSystemMetrics(SM_CYSCREEN);
    Display->SetBounds((screenWidth - Width) / 2, (screenHeight - Height) / 2, Width, Height);
}

bool TFullScreenForm::IsShortCut(WORD Key, TShiftState Shift) {
    WORD key = Key;
    FormKeyDown(key, Shift);
    return key == 0 || TForm::IsShortCut(Key, Shift);
}

void TFullScreenForm::FormKeyDown(WORD &Key, TShiftState Shift) {
    const bool ctrl = Shift & ssCtrl;
    bool handled = true;
    if (!ctrl) {
        switch (Key) {
        case VK_ESCAPE:
            if (GetMouseMode() == mmoNormal)
                SetModalResult(mrCancel);
            else
                handled = false;
            break;
        case VK_F5:
            FWindow.SetMouseMode(mmoNormal);
            break;
        case VK_F6:
        case VK_PRIOR:
            FWindow.SetMouseMode(mmoSelect);
            break;
        case VK_F7:
        case VK_SPACE:
            FWindow.SetMouseMode(mmoSwitch);
            break;
        default:
            handled = false;
            break;
        }
    } else {
        TMenuItem *item = nullptr;
        switch (Key) {
        case 'Z':
            item = FWindow.EditUndoItem;
            break;
        case 'Y':
            item = FWindow.EditRedoItem;
            break;
        case 'C':
            item = FWindow.CopyItem;
            break;
        case 'V':
            item = FWindow.EditPasteItem;
            break;
        case '1':
            item = FWindow.RandomizeItem;
            break;
        case '2':
            item = FWindow.RandomizeBrightItem;
            break;
        case '3':
            item = FWindow.RandomizeMistyItem;
            break;
        case '4':
            item = FWindow.RandomizeCustomItem;
            break;
        case 'Q':
            item = FWindow.AdjustColorsItem;
            break;
        case VK_OEM_4:
            item = FWindow.CycleBackwardItem;
            break;
        case VK_OEM_6:
            item = FWindow.CycleForwardItem;
            break;
        case 'F':
            SetModalResult(mrCancel);
            break;
        default:
            handled = false;
            break;
        }
        if (item && item->Enabled())
            item->Click();
    }
    // Esc in select mode closes the box, the other keys move it.
    if (GetMouseMode() == mmoSelect && SelectArea() && SelectArea()->GetActive()) {
        if (!handled && Key == VK_ESCAPE)
            FWindow.SetMouseMode(mmoNormal);
        else if (!handled)
            SelectArea()->KeyDown(Key, Shift);
        FWindow.UpdateStatus();
        handled = true;
    } else if (!handled && Key == VK_ESCAPE && GetMouseMode() != mmoNormal) {
        FWindow.SetMouseMode(mmoNormal);
        handled = true;
    }
    if (handled)
        Key = 0;
}

void TFullScreenForm::MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) {
    TForm::MouseUp(Button, Shift, X, Y);
    if (Button == mbRight) {
        POINT point{X, Y};
        ::ClientToScreen(Handle(), &point);
        FWindow.UpdateCommandItems();
        FWindow.GeneralMenu->Popup(point.x, point.y);
    } else if (Button == mbLeft) {
        SetModalResult(mrCancel);
    }
}
