// A layer whose calculation a test steers: its pieces wait at a gate before they calculate (and
// give up at once when they are stopped there), and it can be told to refuse to make a piece or
// to choose its precision, two ways in which a start fails after the owner heard of it.
#pragma once

#include <atomic>
#include <memory>

#include "FracLayer.h"

struct TLayerScript {
    TEvent Gate{true, true};
    std::atomic<bool> RefusePieces{false};
    std::atomic<bool> RefusePrecision{false};
};

// Walks its strip row by row like the linear method, once the gate is open.
class TGatedPiece : public TCompute {
public:
    TGatedPiece(TLayer &Layer, TLayerScript &Script)
        : TCompute(&Layer.GetMapping(), &Layer.GetStatistics(), Layer.GetUpdateRects(), &Layer.GetImage(),
                   &Layer.GetOutsideColoring(), &Layer.GetInsideColoring(), &Layer.GetFormula()),
          FScript(Script) {
        Method = dmLinear;
        Gradient = &Layer.GetGradient();
    }

    void CalculateAntiAliased() override { CalculatePixels(); }
    void CalculatePixels() override {
        int x = Resume ? ResumeX : Rect.Left;
        int y = Resume ? ResumeY : Rect.Top;
        while (FScript.Gate.WaitFor(2) != TEvent::wrSignaled)
            if (IsStopping())
                return Interrupt(x, y);
        for (; y < Rect.Bottom; ++y, x = Rect.Left)
            for (; x < Rect.Right; ++x) {
                if (IsStopping())
                    return Interrupt(x, y);
                CalculatePixel(x, y);
            }
        Resume = false;
    }

private:
    void Interrupt(int X, int Y) {
        Resume = true;
        ResumeX = X;
        ResumeY = Y;
    }

    TLayerScript &FScript;
};

class TScriptedLayer : public TLayer {
public:
    TScriptedLayer(TUpdateRectList *Rects, TCalculateManager *Manager, TLayerScript &Script)
        : TLayer(Rects, Manager), FScript(Script) {}

protected:
    std::unique_ptr<TCompute> CreatePiece() override {
        if (FScript.RefusePieces)
            throw EOutOfMemory("Out of memory");
        return std::make_unique<TGatedPiece>(*this, FScript);
    }
    int ArbitraryPrecisionOption() const override {
        if (FScript.RefusePrecision)
            throw ELayerError("The precision cannot be chosen");
        return TLayer::ArbitraryPrecisionOption();
    }

private:
    TLayerScript &FScript;
};
