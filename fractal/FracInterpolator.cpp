#include "FracInterpolator.h"

#include "FracGradient.h"

namespace {

// Fills Start and the coefficients of record i + 1 for every node i of Items; Put(record, channel,
// coefficients) stores one channel.
template <class TSegment, class Put>
void BuildSegments(const TGradientItems &Items, std::vector<TSegment> &Segments, Put put) {
    int count = Items.GetCount();
    Segments.assign(count + 1, TSegment{});
    for (int i = 0; i < count; ++i) {
        TSegment &segment = Segments[i + 1];
        int from = Items.GetNode(i)->Position();
        int to = Items.GetNode((i + 1) % count)->Position();
        segment.Start = static_cast<float>(from) / GradientPositions;
        double w = static_cast<double>(to - from) / GradientPositions;
        if (from >= to)
            w += 1;
        for (int channel = 0; channel < Items.ChannelCount(); ++channel) {
            TGradientInterpolator::TCoefficients k;
            if (Items.Smooth()) {
                int a, b, c, d, width;
                Items.GetSmoothCurve(i, channel, a, b, c, d, width);
                k.A = static_cast<float>(a / (w * w * w * 255));
                k.B = static_cast<float>(b / (w * w * 255));
                k.C = static_cast<float>(c / (w * 255));
                k.D = static_cast<float>(d / 255.0);
            } else {
                int v0 = Items.GetNode(i)->GetChannel(channel);
                int v1 = Items.GetNode((i + 1) % count)->GetChannel(channel);
                k.A = k.B = 0;
                k.C = static_cast<float>((v1 - v0) / (255 * w));
                k.D = static_cast<float>(v0 / 255.0);
            }
            put(segment, channel, k);
        }
    }
    Segments[0] = Segments[count];
    Segments[0].Start -= 1;
}

// The record for position V: the one before the first record (from 1) whose Start exceeds V, or
// the last record.
template <class TSegment> const TSegment &FindSegment(const std::vector<TSegment> &Segments, float V) {
    std::size_t last = Segments.size() - 1;
    for (std::size_t k = 1; k <= last; ++k)
        if (Segments[k].Start > V)
            return Segments[k - 1];
    return Segments[last];
}

float Evaluate(const TGradientInterpolator::TCoefficients &K, float X, float X2, float X3) {
    return K.A * X3 + K.B * X2 + K.C * X + K.D;
}

} // namespace

TGradientInterpolator::TGradientInterpolator() {
    FColorSegments.assign(1, TColorSegment{});
    FOpacitySegments.assign(1, TOpacitySegment{0, {0, 0, 0, 1}});
}

void TGradientInterpolator::Build(const TGradient &Gradient) {
    const TGradientColorItems &color = Gradient.ColorItems();
    if (color.GetCount() == 0) {
        FColorSegments.assign(1, TColorSegment{});
    } else {
        // Channels come in table byte order: 0 blue, 1 green, 2 red.
        BuildSegments(color, FColorSegments, [](TColorSegment &segment, int channel, const TCoefficients &k) {
            (channel == 0 ? segment.Blue : channel == 1 ? segment.Green : segment.Red) = k;
        });
    }
    const TGradientOpacityItems &opacity = Gradient.OpacityItems();
    if (opacity.GetCount() == 0) {
        FOpacitySegments.assign(1, TOpacitySegment{0, {0, 0, 0, 1}});
    } else {
        BuildSegments(opacity, FOpacitySegments,
                      [](TOpacitySegment &segment, int, const TCoefficients &k) { segment.Opacity = k; });
    }
}

void TGradientInterpolator::GetColor(double Index, TFloatColor &Color) const {
    float v = 0;
    if (Index > 0 && Index < 1e9)
        v = static_cast<float>(Index - static_cast<double>(static_cast<std::int32_t>(Index)));
    const TColorSegment &segment = FindSegment(FColorSegments, v);
    float x1 = v - segment.Start;
    float x2 = x1 * x1;
    float x3 = x2 * x1;
    Color.Red = Evaluate(segment.Red, x1, x2, x3);
    Color.Green = Evaluate(segment.Green, x1, x2, x3);
    Color.Blue = Evaluate(segment.Blue, x1, x2, x3);
    const TOpacitySegment &opacity = FindSegment(FOpacitySegments, v);
    float y1 = v - opacity.Start;
    float y2 = y1 * y1;
    float y3 = y2 * y1;
    Color.Alpha = Evaluate(opacity.Opacity, y1, y2, y3);
}
