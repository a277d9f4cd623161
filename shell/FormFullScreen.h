// The full-screen view: the image of a fractal window alone on a black screen. The fractal window
// shows it modally and draws its image on the view's panel, so that calculation, painting and the
// mouse work as in the window; the view adds the keys of the window's menus, which it hides.
#pragma once

#include "Forms.h"

class TFractalForm;
class TFractalDisplay;

class TFullScreenForm : public TForm {
public:
    DECLARE_CLASS_NAME(TFullScreenForm)
    // Black, borderless, covering the screen; owned by the fractal window.
    explicit TFullScreenForm(TFractalForm &Window);

    // The panel the image is drawn on.
    TFractalDisplay *Display;

    // The panel takes the image's size, centred on the screen (a larger image is cut on both
    // sides).
    void SetImageSize(int Width, int Height);
    // The keys: Esc and Ctrl+F close the view, F5, F6 (and Page Up), F7 (and Space) set the mouse
    // modes, Ctrl with a letter runs the window's command; in select mode the selection box sees
    // every key too.
    void FormKeyDown(WORD &Key, TShiftState Shift);
    // The keys are taken before the dialog keys (Esc) and the menus see them.
    bool IsShortCut(WORD Key, TShiftState Shift) override;

protected:
    // On the black area: the right button opens the window's general popup menu, the left one
    // closes the view.
    void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) override;

private:
    TFractalForm &FWindow;
};
