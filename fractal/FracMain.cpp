#include "FracMain.h"

#include <windows.h>

namespace {

// Suspends an update manager for the life of a scope.
class TSuspendScope {
public:
    explicit TSuspendScope(TUpdateManager &AManager) : Manager(AManager) { Manager.BeginUpdate(); }
    ~TSuspendScope() { Manager.EndUpdate(); }
    TSuspendScope(const TSuspendScope &) = delete;
    TSuspendScope &operator=(const TSuspendScope &) = delete;

private:
    TUpdateManager &Manager;
};

} // namespace

TFractal::TFractal(TCalculateManager *AManager) : TCustomFractal(AManager) {
    // The base's constructor reaches only its own CreateDisplay; the display is made here, at the
    // size the document has now, over the layers the base made.
    CreateDisplay();
}

TFractal::~TFractal() {
    // No calculation may report to the update manager once it is gone, and its thread must be
    // stopped while the layers whose rows it merges still exist.
    PauseCalculation();
    DestroyDisplay();
}

void TFractal::CreateDisplay() {
    if (FUpdateManager)
        return;
    auto bitmap = std::make_unique<TDirectBitmap>();
    bitmap->SetSize(GetWidth(), GetHeight());
    FUpdateManager = TUpdateManager::Create(&GetUpdateRects(), bitmap.get(), &GetLayers());
    FBitmap = std::move(bitmap);
}

void TFractal::DestroyDisplay() {
    // The manager first: its thread draws into the bitmap.
    FUpdateManager.reset();
    FBitmap.reset();
    FListSuspended = false;
}

void TFractal::SetSize(std::int32_t AWidth, std::int32_t AHeight) {
    TSuspendScope suspended(*FUpdateManager);
    FUpdateManager->SetSize(AWidth, AHeight);
    try {
        TCustomFractal::SetSize(AWidth, AHeight);
    } catch (...) {
        // Display and document keep one size, whatever size the document ended at.
        FUpdateManager->SetSize(GetWidth(), GetHeight());
        throw;
    }
}

void TFractal::InvalidateDisplay(const TLayerRect &Rect) {
    if (FUpdateManager)
        FUpdateManager->InvalidateRect(RECT{Rect.Left, Rect.Top, Rect.Right, Rect.Bottom});
}

void TFractal::LayerListChanging(TObject *Sender) {
    TCustomFractal::LayerListChanging(Sender);
    if (FUpdateManager && !FListSuspended) {
        FUpdateManager->BeginUpdate();
        FListSuspended = true;
    }
}

void TFractal::LayerListChanged(TObject *Sender, const std::string &Caption) {
    if (FListSuspended) {
        FListSuspended = false;
        FUpdateManager->EndUpdate();
    }
    TCustomFractal::LayerListChanged(Sender, Caption);
}

void TFractal::CalculationStarted(TObject *Sender, bool Continued, bool Ignored) {
    if (FUpdateManager)
        FUpdateManager->CalculationStarted();
    TCustomFractal::CalculationStarted(Sender, Continued, Ignored);
}

void TFractal::CalculationFinished(TObject *Sender) {
    if (FUpdateManager)
        FUpdateManager->CalculationFinished();
    TCustomFractal::CalculationFinished(Sender);
}
