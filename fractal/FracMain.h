// The fractal document with its display: a bitmap of the merged layers and the update manager whose
// thread keeps that bitmap current while layers calculate, and merges what other changes invalidate.
//
// Order of life: the base document makes its layers first, then this class makes the bitmap and the
// update manager over them. On the way out calculation is paused first (no calculation thread then
// reports to the manager any more), then the manager's thread is stopped and freed, then the bitmap,
// and only then does the base document free its layers.
//
// Threads: as the base document. CalculationFinished may come from a calculation thread; the update
// manager takes it under its own lock.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "FracDocument.h"
#include "FracUpdate.h"
#include "GenBitmap.h"

class TFractal : public TCustomFractal {
public:
    // Manager nil: the global calculation manager.
    explicit TFractal(TCalculateManager *AManager = nullptr);
    ~TFractal() override;
    DECLARE_CLASS_NAME(TFractal)

    TDirectBitmap &GetBitmap() const { return *FBitmap; }
    TUpdateManager &GetUpdateManager() const { return *FUpdateManager; }

protected:
    // The update manager is suspended while the display and the layers change size, so that its
    // thread never merges rows of layers whose images are being replaced.
    void SetSize(std::int32_t AWidth, std::int32_t AHeight) override;
    void InvalidateDisplay(const TLayerRect &Rect) override;
    void CreateDisplay() override;
    void DestroyDisplay() override;
    // The update manager stays suspended from the layer list's announcement of a change until the
    // change was reported. The list announces once per change cycle and may end a failed cycle
    // without a report, so one suspension is held at most and the next report ends it.
    void LayerListChanging(TObject *Sender) override;
    void LayerListChanged(TObject *Sender, const std::string &Caption) override;
    void CalculationStarted(TObject *Sender, bool Continued, bool Ignored) override;
    void CalculationFinished(TObject *Sender) override;

private:
    std::unique_ptr<TDirectBitmap> FBitmap;
    std::unique_ptr<TUpdateManager> FUpdateManager;
    // The update manager is suspended for a change of the layer list.
    bool FListSuspended = false;
};
