// Exact evaluation of a gradient at any real position: per segment of the colour and of the
// opacity part, the cubic (or linear) polynomial of each channel, scaled to positions 0 .. 1 and
// values 0 .. 1. Built on the gradient's thread; afterwards read concurrently without locks.
#pragma once

#include <vector>

#include "Classes.h"
#include "GenColor.h"

class TGradient;

class TGradientInterpolator : public TObject {
public:
    DECLARE_CLASS_NAME(TGradientInterpolator)

    // Channel value at v inside a segment: A x^3 + B x^2 + C x + D with x = v - Start.
    struct TCoefficients {
        float A, B, C, D;
    };
    struct TColorSegment {
        float Start; // the segment's first position / 400
        TCoefficients Red, Green, Blue;
    };
    struct TOpacitySegment {
        float Start;
        TCoefficients Opacity;
    };

    // A new interpolator gives black, fully opaque, everywhere.
    TGradientInterpolator();

    // Recomputes both segment lists from the gradient's two parts.
    void Build(const TGradient &Gradient);
    // Red, green, blue and opacity at gradient position Index; only the fraction of Index counts
    // (0 <= fraction < 1); Index <= 0 or >= 1e9 (and NaN) count as 0.
    void GetColor(double Index, TFloatColor &Color) const;
    TFloatColor GetColor(double Index) const {
        TFloatColor color;
        GetColor(Index, color);
        return color;
    }

    // Record 0 repeats the last record with Start - 1; record i + 1 is the segment from node i.
    const std::vector<TColorSegment> &ColorSegments() const { return FColorSegments; }
    const std::vector<TOpacitySegment> &OpacitySegments() const { return FOpacitySegments; }

private:
    std::vector<TColorSegment> FColorSegments;
    std::vector<TOpacitySegment> FOpacitySegments;
};
