// Adaptive anti-aliasing of a calculated float-colour layer. The image is a grid of cells, each
// spanned by four neighbouring pixels; every cell is sampled at sub-pixel positions, split further
// where the samples disagree, and its filtered colour goes into the layer image's anti-aliasing
// buffer. Every drawing method derives from TComputeAntiAliasing, so that any piece can run this
// pass in place of its method.
#pragma once

#include <cstdint>
#include <memory>

#include "FracCompute.h"
#include "GenColor.h"

// The filter weight of a sample at distance D (in cells) from the centre of the split grid:
// 0.918 at the centre, 0 at distance 1, clamped to 0 .. 10.
double AntiAliasingWeight(double D);

// The sampling grid the settings give for a piece Width cells wide.
struct TAntiAliasingGrid {
    int Split = 2;      // 2, or 3 with the 3x3 split
    int Sub = 2;        // samples per cell side: Split ^ clamp(depth, 1, 4)
    int StripWidth = 0; // cells per strip, so that the edge buffer stays within 512 KiB
};
TAntiAliasingGrid AntiAliasingGridFor(const TAntiAliasingSettings &Settings, int Width);

class TComputeAntiAliasing : public TCompute {
public:
    using TCompute::TCompute;
    ~TComputeAntiAliasing() override;
    DECLARE_CLASS_NAME(TComputeAntiAliasing)

    // Set by the layer: the layer has no alpha, so samples are averaged without alpha weights.
    void SetOpaque(bool Value) { FOpaque = Value; }
    bool GetOpaque() const { return FOpaque; }

protected:
    // The whole pass over the piece's cells. Only cells whose four corners lie in the image are
    // filtered: the piece's rectangle is cut back so that no cell starts in the image's last
    // column or row.
    void CalculateAntiAliased() override;
    // The filtered colour of the square of samples from (SX, SY) with side N (sample coordinates
    // are pixel coordinates times the grid's Sub).
    TFloatColor SampleCell(int SX, int SY, int N);

    // One pixel of a drawing method (TCompute::CalculatePixel); the tests count the calls.
    virtual void SamplePixel(int X, int Y);
    // One sub-pixel sample of this pass (TCompute::CalculateColor at sample coordinates).
    virtual TFloatColor SampleColor(int SX, int SY);

    // Prepares the grid, weights and buffers for cells of a piece Width cells wide; FreeBuffers
    // releases them. CalculateAntiAliased calls both; the tests call them around SampleCell.
    void PrepareGrid(int Width);
    void FreeBuffers();
    void LoadCorners(int X, int Y);
    void CalculateCell(int X, int Y);
    void SaveEdgeSamples(int X);
    void ClearStripFlags();

    // Records (X, Y) as the resume position: the pixel, block or cell there is done again.
    void Interrupt(int X, int Y) {
        ResumeX = X;
        ResumeY = Y;
        Resume = true;
    }
    // The resume position when the piece holds one (clearing the flag); else false.
    bool TakeResume(int &X, int &Y) {
        if (!Resume)
            return false;
        X = ResumeX;
        Y = ResumeY;
        Resume = false;
        return true;
    }
    // The band in work, for the display.
    void SetUpdateRect(int Left, int Top, int Right, int Bottom) {
        if (UpdateRect)
            UpdateRect->SetRect(TLayerRect{Left, Top, Right, Bottom});
    }

private:
    void InitWeights();
    bool SamplesSimilar(const TFloatColor &A, const TFloatColor &B) const;
    TFloatColor GetSample(int SX, int SY);
    int CacheIndex(int I, int J) const { return J * (FSub + 1) + I; }

    int FStripWidth = 0;
    double FWeights[4][4] = {};
    std::unique_ptr<TFloatColor[]> FEdgeBuffer; // FStripWidth x FSub
    std::unique_ptr<bool[]> FEdgeFlags;
    bool FOpaque = false;
    std::unique_ptr<TFloatColor[]> FCellCache; // (FSub + 1)^2, row by row
    std::unique_ptr<bool[]> FCellFlags;
    int FCellOriginX = 0;
    int FCellOriginY = 0;
    int FSub = 2;
    int FSplit = 2;
    long double FThreshold = 0;
    int FStripLeft = 0; // first cell column of the strip in work
};
