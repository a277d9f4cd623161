// The About window, which also serves as the splash while the program starts.
#pragma once

#include <cstdint>
#include <memory>

#include "Forms.h"
#include "StdCtrls.h"

class TAboutForm : public TForm {
public:
    DECLARE_CLASS_NAME(TAboutForm)
    explicit TAboutForm(TComponent *AOwner);
    ~TAboutForm() override;

    // True while the window serves as the splash: clicks and Esc do not close it.
    bool SplashMode = false;
    TLabel *VersionLabel;
    TLabel *BuildLabel;
    TLabel *CopyrightLabel;
    TLabel *ContactLabel;
    TLabel *WebLabel;
    // The picture, or nullptr when the program carries none.
    TBitmap *Picture() const { return FPicture.get(); }

protected:
    void Paint() override;
    void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) override;

private:
    void FormCreate();
    void CloseClick(TObject *Sender);
    void FormShortCut(WORD Key, TShiftState Shift, bool &Handled);
    TLabel *AddLabel(int Top, TAlignment Alignment);
    std::unique_ptr<TBitmap> FPicture;
};

// The splash: valid from ShowSplash to CloseSplash.
extern TAboutForm *SplashForm;
// Tick count taken right after the splash was shown.
extern uint32_t SplashStartTime;

// Shows the splash and returns after at least 1 s (pending messages handled meanwhile).
void ShowSplash();
// Closes the splash no earlier than 2 s after it was shown.
void CloseSplash();
// The About window, modal.
void ShowAboutForm();

// Whether a wait that began at Start (a tick count) is over at Now: more than Duration ms later,
// or the counter wrapped (Now below Start).
bool SplashWaitOver(uint32_t Start, uint32_t Now, uint32_t Duration);
