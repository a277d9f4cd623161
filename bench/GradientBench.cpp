// Speed of the gradient render into the colour table and of the layer image's row routines, each
// with a plain C loop doing the same arithmetic measured in the same run.
#include <windows.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "bench/BenchEmulation.h"
#include "CompPersistent.h"
#include "FracConvert.h"
#include "FracGradient.h"
#include "FracInterpolator.h"

namespace {

double Now() {
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart);
}

template <class Body> double TimePerRun(int Runs, Body body) {
    double start = Now();
    for (int i = 0; i < Runs; ++i)
        body();
    return (Now() - start) / Runs;
}

void Report(const char *Name, double Seconds, double Reference, double Items) {
    std::printf("%-32s %10.3f ms %10.1f M/s   reference %10.3f ms   ratio %5.2f\n", Name, Seconds * 1e3,
                Items / Seconds / 1e6, Reference * 1e3, Seconds / Reference);
}

constexpr int NodeCount = 8;
const int Positions[NodeCount] = {0, 37, 90, 140, 200, 260, 310, 370};
const int Values[NodeCount][3] = {{10, 200, 30}, {250, 20, 90}, {0, 0, 255},   {128, 128, 128},
                                  {255, 255, 0}, {40, 90, 200}, {200, 10, 10}, {90, 250, 160}};

std::string GradientText(bool Smooth) {
    std::string text = std::string("gradient:\r\n smooth=") + (Smooth ? "yes" : "no") + "\r\n";
    for (int i = 0; i < NodeCount; ++i)
        text += " index=" + std::to_string(Positions[i]) +
                " color=" + std::to_string(Values[i][2] | Values[i][1] << 8 | Values[i][0] << 16) + "\r\n";
    return text + "opacity:\r\n index=0 opacity=255\r\n";
}

// The same linear arithmetic over plain arrays: 16.16 fixed-point steps from node to node.
void PlainLinear(std::uint8_t *Table) {
    for (int i = 0; i < NodeCount; ++i) {
        int j = (i + 1) % NodeCount;
        int start = 128 * Positions[i], length = 128 * Positions[j] - start;
        if (length <= 0)
            length += 51200;
        for (int c = 0; c < 3; ++c) {
            std::int32_t step = ((Values[j][c] - Values[i][c]) * 65536) / length,
                         value = Values[i][c] * 65536;
            for (int k = 0, e = start; k < length; ++k, value += step, e = e + 1 == 51200 ? 0 : e + 1)
                Table[4 * e + c] = static_cast<std::uint8_t>(value >> 16);
        }
    }
}

// The same smooth arithmetic: a cubic in single precision per sample, the averages between.
void PlainSmooth(std::uint8_t *Table) {
    for (int i = 0; i < NodeCount; ++i) {
        int j = (i + 1) % NodeCount;
        int w = Positions[j] - Positions[i];
        if (w <= 0)
            w += 400;
        for (int c = 0; c < 3; ++c) {
            float y1 = static_cast<float>(Values[i][c]), y2 = static_cast<float>(Values[j][c]);
            float c1 = y1 + (y2 - y1) / 3, c2 = y2 - (y2 - y1) / 3;
            float a = 3 * c1 - y1 - 3 * c2 + y2, b = 3 * (y1 - 2 * c1 + c2), cc = 3 * (c1 - y1), d = y1;
            int m = 64 * w, e = 128 * Positions[i];
            int previous = static_cast<int>(std::floor(d + 0.5f));
            Table[4 * e + c] = static_cast<std::uint8_t>(previous);
            for (int k = 1; k <= m; ++k) {
                float t = static_cast<float>(k - 1) / static_cast<float>(m - 1);
                int v = static_cast<int>(std::floor(((a * t + b) * t + cc) * t + d + 0.5f));
                v = v < 0 ? 0 : v > 255 ? 255 : v;
                e = e + 1 == 51200 ? 0 : e + 1;
                Table[4 * e + c] = static_cast<std::uint8_t>((previous + v) / 2);
                e = e + 1 == 51200 ? 0 : e + 1;
                Table[4 * e + c] = static_cast<std::uint8_t>(v);
                previous = v;
            }
        }
    }
}

} // namespace

int main() {
    PrintEmulationNotice();
    auto table = std::make_unique<TGradientTable>();
    TGradient gradient(*table);
    gradient.History().Recording = false;
    std::vector<std::uint8_t> plain(4 * ColorTableSize);
    volatile std::uint32_t sink = 0;

    std::printf("Gradient render (8 nodes, 51200 entries x 3 channels per render)\n");
    for (bool smooth : {false, true}) {
        std::string text = GradientText(smooth);
        TParReader reader(text.data(), text.size());
        gradient.ReadParameters(reader, 0);
        double render = TimePerRun(40, [&] { gradient.ColorItems().RenderAll(); });
        double reference =
            TimePerRun(40, [&] { smooth ? PlainSmooth(plain.data()) : PlainLinear(plain.data()); });
        Report(smooth ? "smooth render" : "linear render", render, reference, 51200.0 * 3);
    }

    std::printf("\nRow routines (rows of 1920 pixels)\n");
    constexpr int RowLength = 1920, Rows = 400;
    std::vector<std::uint16_t> codes(RowLength);
    for (int i = 0; i < RowLength; ++i)
        codes[i] = static_cast<std::uint16_t>((i * 977) % ColorTableSize);
    std::vector<std::uint32_t> colors(RowLength);
    std::vector<std::uint8_t> rgb(RowLength * 3), rgba(RowLength * 4);
    const std::uint32_t *entries = table->Entries;

    double convert =
        TimePerRun(Rows, [&] { ConvertIndexRow(codes.data(), colors.data(), RowLength, table.get()); });
    double convertPlain = TimePerRun(Rows, [&] {
        for (int i = 0; i < RowLength; ++i)
            colors[i] = entries[codes[i]];
        sink = sink + colors[RowLength - 1];
    });
    Report("ConvertIndexRow", convert, convertPlain, RowLength);

    double toRgb = TimePerRun(Rows, [&] { ConvertRowToRGB(colors.data(), rgb.data(), RowLength); });
    double toRgbPlain = TimePerRun(Rows, [&] {
        const std::uint8_t *from = reinterpret_cast<const std::uint8_t *>(colors.data());
        for (int i = 0; i < RowLength; ++i)
            for (int b = 0; b < 3; ++b)
                rgb[3 * i + b] = from[4 * i + b];
        sink = sink + rgb[5];
    });
    Report("ConvertRowToRGB", toRgb, toRgbPlain, RowLength);

    double toRgba = TimePerRun(Rows, [&] { ConvertRowToRGBA(rgb.data(), rgba.data(), RowLength); });
    double toRgbaPlain = TimePerRun(Rows, [&] {
        for (int i = 0; i < RowLength; ++i) {
            for (int b = 0; b < 3; ++b)
                rgba[4 * i + b] = rgb[3 * i + b];
            rgba[4 * i + 3] = 255;
        }
        sink = sink + rgba[7];
    });
    Report("ConvertRowToRGBA", toRgba, toRgbaPlain, RowLength);

    std::printf("\nInterpolated colours (8 smooth nodes) against the table lookup\n");
    TGradientInterpolator interpolator;
    interpolator.Build(gradient);
    constexpr int Lookups = 200000;
    double interpolate = TimePerRun(1, [&] {
        TFloatColor color;
        for (int i = 0; i < Lookups; ++i) {
            interpolator.GetColor(i * (1.0 / Lookups), color);
            sink = sink + static_cast<std::uint32_t>(color.Red * 255);
        }
    });
    double lookup = TimePerRun(1, [&] {
        for (int i = 0; i < Lookups; ++i)
            sink = sink + entries[static_cast<int>(i * (51200.0 / Lookups))];
    });
    Report("GetColor", interpolate, lookup, Lookups);
    return 0;
}
