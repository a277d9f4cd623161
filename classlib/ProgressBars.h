// The system's progress bar control (the crash report draws a bar of its own, TProgressBar).
#pragma once

#include "Controls.h"

class TProgressBarControl : public TWinControl {
public:
    DECLARE_CLASS_NAME(TProgressBarControl)
    explicit TProgressBarControl(TComponent *AOwner);
    int Min() const { return FMin; }
    int Max() const { return FMax; }
    void SetRange(int AMin, int AMax);
    // Clamped to the range; kept while there is no window.
    int Position() const { return FPosition; }
    void SetPosition(int Value);

protected:
    void CreateParams(TCreateParams &Params) override;
    void CreateWnd() override;

private:
    int FMin = 0;
    int FMax = 100;
    int FPosition = 0;
};
