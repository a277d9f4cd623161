// Throughput of the merge routines for every mode, 8-bit and float, and of the display bitmap's row
// writers, in megapixels per second. Each figure stands beside memcpy of the same bytes and a plain C loop
// that does the same arithmetic directly (multiplications and divisions in place of the tables).
//
// A merge writes into its layer row, so every timed pass of a merge first restores the layer row from a
// pristine copy (repeated merging would drift towards tiny floats, which the x87 handles slowly); the
// memcpy column is exactly that restoring copy alone.
//
// The merge engines are measured on stacks of 1, 4 and 16 layers, a row at a time through MergeRow, beside
// memcpy of the layer rows the merge reads and a plain C stack: the same layers blended bottom-up with the
// plain per-mode loops above and a plain opacity blend, from a list of modes and opacities made before
// timing, so that it does the engine's arithmetic without visiting the layers.
//
// The row conversions (codes to colours through the colour table, repacking of 4- and 3-byte pixels)
// stand beside memcpy of the bytes the conversion writes and a plain C loop written out here.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "FracCalculate.h"
#include "FracConvert.h"
#include "FracImage.h"
#include "FracLayer.h"
#include "FracMerge.h"
#include "FracMergeEngine.h"
#include "FracMergeFloat.h"
#include "GenBitmap.h"
#include "GenColor.h"
#include "bench/BenchEmulation.h"

namespace {

constexpr int RowPixels = 1024;
constexpr double MinSeconds = 0.04;

double Now() {
    LARGE_INTEGER counter, frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Megapixels per second of Body, which handles Pixels pixels a call.
template <class Body> double Measure(int Pixels, Body body) {
    body(); // warm the caches and the tables
    long passes = 0;
    const double start = Now();
    double elapsed = 0;
    do {
        for (int i = 0; i < 8; ++i)
            body();
        passes += 8;
        elapsed = Now() - start;
    } while (elapsed < MinSeconds);
    return static_cast<double>(passes) * Pixels / elapsed / 1e6;
}

std::uint32_t Sink = 0;

// ---------------------------------------------------------------------------------------------
// Plain 8-bit loops

template <class Op>
inline void PlainChannels(const std::uint32_t *Base, std::uint32_t *Layer, int Count, Op op) {
    for (int i = 0; i < Count; ++i) {
        const std::uint32_t b = Base[i], l = Layer[i];
        std::uint32_t result = l & 0xFF000000u;
        for (int shift = 0; shift < 24; shift += 8)
            result |= static_cast<std::uint32_t>(
                          op(static_cast<int>((l >> shift) & 0xFF), static_cast<int>((b >> shift) & 0xFF)))
                      << shift;
        Layer[i] = result;
    }
}

int Mul(int A, int B) {
    return (A * B + 127) / 255;
}

// The HSL modes through the packed integer conversions, a division per channel each way.
template <class Combine>
inline void PlainHSL(const std::uint32_t *Base, std::uint32_t *Layer, int Count, Combine combine) {
    for (int i = 0; i < Count; ++i) {
        const std::uint32_t b = RGBToHSL(PixelToColor(Base[i]));
        const std::uint32_t l = RGBToHSL(PixelToColor(Layer[i]));
        Layer[i] = (Layer[i] & 0xFF000000u) | ColorToPixel(HSLToRGB(combine(b, l)), 0);
    }
}

std::uint32_t Packed(std::uint32_t H, std::uint32_t S, std::uint32_t L) {
    return MakePackedHSL(PackedHue(H), PackedSaturation(S), PackedLightness(L));
}

using TPlain8 = void (*)(const std::uint32_t *, std::uint32_t *, int);

const TPlain8 Plain8[MergeModeCount] = {
    nullptr,
    [](const std::uint32_t *B, std::uint32_t *L, int N) {
        PlainChannels(B, L, N, [](int l, int b) { return Mul(l, b); });
    },
    [](const std::uint32_t *B, std::uint32_t *L, int N) {
        PlainChannels(B, L, N, [](int l, int b) { return 255 - Mul(255 - l, 255 - b); });
    },
    [](const std::uint32_t *B, std::uint32_t *L, int N) {
        PlainChannels(B, L, N, [](int l, int b) {
            return b < 128 ? Mul(2 * b, l) : 255 - Mul(2 * (255 - b), 255 - l);
        });
    },
    [](const std::uint32_t *B, std::uint32_t *L, int N) {
        PlainChannels(B, L, N,
                      [](int l, int b) { return l < 128 ? Mul(b, l + 127) : 255 - Mul(255 - b, 382 - l); });
    },
    [](const std::uint32_t *B, std::uint32_t *L, int N) {
        PlainChannels(B, L, N, [](int l, int b) {
            return l < 128 ? Mul(2 * l, b) : 255 - Mul(2 * (255 - l), 255 - b);
        });
    },
    [](const std::uint32_t *B, std::uint32_t *L, int N) {
        PlainChannels(B, L, N, [](int l, int b) { return std::min(l, b); });
    },
    [](const std::uint32_t *B, std::uint32_t *L, int N) {
        PlainChannels(B, L, N, [](int l, int b) { return std::max(l, b); });
    },
    [](const std::uint32_t *B, std::uint32_t *L, int N) {
        PlainChannels(B, L, N, [](int l, int b) { return b > l ? b - l : l - b; });
    },
    [](const std::uint32_t *B, std::uint32_t *L, int N) {
        PlainHSL(B, L, N, [](std::uint32_t b, std::uint32_t l) { return Packed(l, b, b); });
    },
    [](const std::uint32_t *B, std::uint32_t *L, int N) {
        PlainHSL(B, L, N, [](std::uint32_t b, std::uint32_t l) { return Packed(b, l, b); });
    },
    [](const std::uint32_t *B, std::uint32_t *L, int N) {
        PlainHSL(B, L, N, [](std::uint32_t b, std::uint32_t l) { return Packed(l, l, b); });
    },
    [](const std::uint32_t *B, std::uint32_t *L, int N) {
        PlainHSL(B, L, N, [](std::uint32_t b, std::uint32_t l) { return Packed(b, b, l); });
    },
    [](const std::uint32_t *B, std::uint32_t *L, int N) {
        PlainChannels(B, L, N, [](int l, int b) { return std::min(b + l, 255); });
    },
    [](const std::uint32_t *B, std::uint32_t *L, int N) {
        PlainChannels(B, L, N, [](int l, int b) { return std::max(b - l, 0); });
    },
    [](const std::uint32_t *B, std::uint32_t *L, int N) {
        PlainHSL(B, L, N, [](std::uint32_t b, std::uint32_t l) {
            return MakePackedHSL((PackedHue(b) + PackedHue(l)) % 360,
                                 std::clamp(PackedSaturation(b) + PackedSaturation(l) - 128, 0, 255),
                                 std::clamp(PackedLightness(b) + PackedLightness(l) - 128, 0, 255));
        });
    },
    [](const std::uint32_t *B, std::uint32_t *L, int N) {
        for (int i = 0; i < N; ++i)
            L[i] = (L[i] & 0xFFFF0000u) | (B[i] & 0x0000FFFFu);
    },
    [](const std::uint32_t *B, std::uint32_t *L, int N) {
        for (int i = 0; i < N; ++i)
            L[i] = (L[i] & 0xFF00FF00u) | (B[i] & 0x00FF00FFu);
    },
    [](const std::uint32_t *B, std::uint32_t *L, int N) {
        for (int i = 0; i < N; ++i)
            L[i] = (L[i] & 0xFF0000FFu) | (B[i] & 0x00FFFF00u);
    },
};

// ---------------------------------------------------------------------------------------------
// Plain float loops: single-precision arithmetic written out per channel.

template <class Op> inline void PlainFloat(const TFloatColor *Base, TFloatColor *Layer, int Count, Op op) {
    for (int i = 0; i < Count; ++i) {
        Layer[i].Red = op(Layer[i].Red, Base[i].Red);
        Layer[i].Green = op(Layer[i].Green, Base[i].Green);
        Layer[i].Blue = op(Layer[i].Blue, Base[i].Blue);
    }
}

template <class Combine>
inline void PlainFloatHSL(const TFloatColor *Base, TFloatColor *Layer, int Count, Combine combine) {
    for (int i = 0; i < Count; ++i) {
        float b[3], l[3], h, s, lightness;
        RGBToHSLFloat(Base[i], b[0], b[1], b[2]);
        RGBToHSLFloat(Layer[i], l[0], l[1], l[2]);
        combine(b, l, h, s, lightness);
        HSLToRGBFloat(h, s, lightness, Layer[i].Red, Layer[i].Green, Layer[i].Blue);
    }
}

using TPlainFloat = void (*)(const TFloatColor *, TFloatColor *, int);

const TPlainFloat PlainFloatLoops[MergeModeCount] = {
    nullptr,
    [](const TFloatColor *B, TFloatColor *L, int N) {
        PlainFloat(B, L, N, [](float l, float b) { return l * b; });
    },
    [](const TFloatColor *B, TFloatColor *L, int N) {
        PlainFloat(B, L, N, [](float l, float b) { return 1 - (1 - l) * (1 - b); });
    },
    [](const TFloatColor *B, TFloatColor *L, int N) {
        PlainFloat(B, L, N,
                   [](float l, float b) { return b >= 0.5f ? 1 - 2 * (1 - l) * (1 - b) : 2 * l * b; });
    },
    [](const TFloatColor *B, TFloatColor *L, int N) {
        PlainFloat(B, L, N,
                   [](float l, float b) { return l >= 0.5f ? 1 - (1.5f - l) * (1 - b) : (l + 0.5f) * b; });
    },
    [](const TFloatColor *B, TFloatColor *L, int N) {
        PlainFloat(B, L, N,
                   [](float l, float b) { return l >= 0.5f ? 1 - 2 * (1 - l) * (1 - b) : 2 * l * b; });
    },
    [](const TFloatColor *B, TFloatColor *L, int N) {
        PlainFloat(B, L, N, [](float l, float b) { return b < l ? b : l; });
    },
    [](const TFloatColor *B, TFloatColor *L, int N) {
        PlainFloat(B, L, N, [](float l, float b) { return b > l ? b : l; });
    },
    [](const TFloatColor *B, TFloatColor *L, int N) {
        PlainFloat(B, L, N, [](float l, float b) { return l > b ? l - b : b - l; });
    },
    [](const TFloatColor *B, TFloatColor *L, int N) {
        PlainFloatHSL(B, L, N, [](const float *b, const float *l, float &h, float &s, float &li) {
            h = l[0], s = b[1], li = b[2];
        });
    },
    [](const TFloatColor *B, TFloatColor *L, int N) {
        PlainFloatHSL(B, L, N, [](const float *b, const float *l, float &h, float &s, float &li) {
            h = b[0], s = l[1], li = b[2];
        });
    },
    [](const TFloatColor *B, TFloatColor *L, int N) {
        PlainFloatHSL(B, L, N, [](const float *b, const float *l, float &h, float &s, float &li) {
            h = l[0], s = l[1], li = b[2];
        });
    },
    [](const TFloatColor *B, TFloatColor *L, int N) {
        PlainFloatHSL(B, L, N, [](const float *b, const float *l, float &h, float &s, float &li) {
            h = b[0], s = b[1], li = l[2];
        });
    },
    [](const TFloatColor *B, TFloatColor *L, int N) {
        PlainFloat(B, L, N, [](float l, float b) { return std::min(l + b, 1.0f); });
    },
    [](const TFloatColor *B, TFloatColor *L, int N) {
        PlainFloat(B, L, N, [](float l, float b) { return std::max(b - l, 0.0f); });
    },
    [](const TFloatColor *B, TFloatColor *L, int N) {
        PlainFloatHSL(B, L, N, [](const float *b, const float *l, float &h, float &s, float &li) {
            h = b[0] + l[0];
            if (h >= 6)
                h -= 6;
            s = std::clamp(b[1] + l[1] - 0.5f, 0.0f, 1.0f);
            li = std::clamp(b[2] + l[2] - 0.5f, 0.0f, 1.0f);
        });
    },
    [](const TFloatColor *B, TFloatColor *L, int N) {
        for (int i = 0; i < N; ++i)
            L[i].Green = B[i].Green, L[i].Blue = B[i].Blue;
    },
    [](const TFloatColor *B, TFloatColor *L, int N) {
        for (int i = 0; i < N; ++i)
            L[i].Red = B[i].Red, L[i].Blue = B[i].Blue;
    },
    [](const TFloatColor *B, TFloatColor *L, int N) {
        for (int i = 0; i < N; ++i)
            L[i].Red = B[i].Red, L[i].Green = B[i].Green;
    },
};

const char *const ModeNames[MergeModeCount] = {
    "normal",      "multiply",   "screen", "overlay",    "softlight", "hardlight", "darken",
    "lighten",     "difference", "hue",    "saturation", "color",     "luminance", "addition",
    "subtraction", "hsladd",     "red",    "green",      "blue"};

void PrintHeader(const char *Title, const char *Routine) {
    std::printf("%s, rows of %d pixels (megapixels per second)\n", Title, RowPixels);
    std::printf("  %-12s %12s %12s %12s %14s\n", "mode", Routine, "plain C", "memcpy", "routine/plain");
}

void PrintLine(const char *Name, double Routine, double Plain, double Copy) {
    std::printf("  %-12s %12.1f %12.1f %12.1f %14.2f\n", Name, Routine, Plain, Copy, Routine / Plain);
}

std::uint32_t RandomWord(std::uint32_t &State) {
    State = State * 1664525u + 1013904223u;
    return State;
}

void BenchMerge8() {
    std::uint32_t state = 12345;
    std::vector<std::uint32_t> base(RowPixels), pristine(RowPixels), work(RowPixels);
    for (int i = 0; i < RowPixels; ++i) {
        base[i] = RandomWord(state);
        pristine[i] = RandomWord(state);
    }
    const std::size_t bytes = RowPixels * sizeof(std::uint32_t);
    const double copy = Measure(RowPixels, [&] { std::memcpy(work.data(), pristine.data(), bytes); });
    PrintHeader("8-bit MergeRows", "MergeRows");
    for (int mode = 1; mode < MergeModeCount; ++mode) {
        const double routine = Measure(RowPixels, [&] {
            std::memcpy(work.data(), pristine.data(), bytes);
            MergeRows(base.data(), work.data(), RowPixels, mode);
        });
        Sink += work[RowPixels / 2];
        const double plain = Measure(RowPixels, [&] {
            std::memcpy(work.data(), pristine.data(), bytes);
            Plain8[mode](base.data(), work.data(), RowPixels);
        });
        Sink += work[RowPixels / 3];
        PrintLine(ModeNames[mode], routine, plain, copy);
    }
    std::printf("\n");
}

void BenchMergeFloat() {
    std::uint32_t state = 6789;
    std::vector<TFloatColor> base(RowPixels), pristine(RowPixels), work(RowPixels);
    for (int i = 0; i < RowPixels; ++i) {
        PixelToFloatColor(RandomWord(state), base[i]);
        PixelToFloatColor(RandomWord(state), pristine[i]);
    }
    const std::size_t bytes = RowPixels * sizeof(TFloatColor);
    const double copy = Measure(RowPixels, [&] { std::memcpy(work.data(), pristine.data(), bytes); });
    PrintHeader("Float MergeFloatRows", "MergeFloatRows");
    for (int mode = 1; mode < MergeModeCount; ++mode) {
        const double routine = Measure(RowPixels, [&] {
            std::memcpy(work.data(), pristine.data(), bytes);
            MergeFloatRows(base.data(), work.data(), RowPixels, mode);
        });
        Sink += static_cast<std::uint32_t>(work[RowPixels / 2].Red * 255);
        const double plain = Measure(RowPixels, [&] {
            std::memcpy(work.data(), pristine.data(), bytes);
            PlainFloatLoops[mode](base.data(), work.data(), RowPixels);
        });
        Sink += static_cast<std::uint32_t>(work[RowPixels / 3].Red * 255);
        PrintLine(ModeNames[mode], routine, plain, copy);
    }
    std::printf("\n");
}

// ---------------------------------------------------------------------------------------------
// Row conversions

void BenchConversions() {
    std::uint32_t state = 2468;
    auto table = std::make_unique<TGradientTable>();
    for (std::uint32_t &entry : table->Entries)
        entry = RandomWord(state);
    std::vector<std::uint16_t> codes(RowPixels);
    for (std::uint16_t &code : codes)
        code = static_cast<std::uint16_t>(RandomWord(state) % ColorTableSize);
    std::vector<std::uint32_t> pixels(RowPixels), colors(RowPixels);
    for (std::uint32_t &pixel : pixels)
        pixel = RandomWord(state);
    std::vector<std::uint8_t> rgb(RowPixels * 3), rgba(RowPixels * 4);
    for (std::uint8_t &byte : rgb)
        byte = static_cast<std::uint8_t>(RandomWord(state) >> 24);
    // Bytes of the same length as the widest target, the source of the memcpy column.
    const std::vector<std::uint8_t> copySource(RowPixels * 4, 0x5A);

    std::printf("Row conversions, rows of %d pixels (megapixels per second)\n", RowPixels);
    std::printf("  %-20s %12s %12s %12s %14s\n", "conversion", "routine", "plain C", "memcpy",
                "routine/plain");
    const auto line = [&](const char *Name, double Routine, double Plain, void *Target, std::size_t Bytes) {
        const double copy = Measure(RowPixels, [&] { std::memcpy(Target, copySource.data(), Bytes); });
        std::printf("  %-20s %12.1f %12.1f %12.1f %14.2f\n", Name, Routine, Plain, copy, Routine / Plain);
    };

    {
        const double routine =
            Measure(RowPixels, [&] { ConvertIndexRow(codes.data(), colors.data(), RowPixels, table.get()); });
        Sink += colors[RowPixels / 2];
        const double plain = Measure(RowPixels, [&] {
            for (int i = 0; i < RowPixels; ++i)
                colors[i] = table->Entries[codes[i]];
        });
        Sink += colors[RowPixels / 3];
        line("ConvertIndexRow", routine, plain, colors.data(), RowPixels * sizeof(std::uint32_t));
    }
    {
        const double routine =
            Measure(RowPixels, [&] { FillUncalculatedRow(colors.data(), RowPixels, table.get()); });
        Sink += colors[RowPixels / 2];
        const double plain = Measure(RowPixels, [&] {
            const std::uint32_t color = table->Entries[UncalculatedCode];
            for (int i = 0; i < RowPixels; ++i)
                colors[i] = color;
        });
        Sink += colors[RowPixels / 3];
        line("FillUncalculatedRow", routine, plain, colors.data(), RowPixels * sizeof(std::uint32_t));
    }
    {
        const double routine =
            Measure(RowPixels, [&] { ConvertRowToRGB(pixels.data(), rgb.data(), RowPixels); });
        Sink += rgb[RowPixels / 2];
        const double plain = Measure(RowPixels, [&] {
            const std::uint8_t *from = reinterpret_cast<const std::uint8_t *>(pixels.data());
            std::uint8_t *to = rgb.data();
            for (int i = 0; i < RowPixels; ++i, from += 4, to += 3)
                to[0] = from[0], to[1] = from[1], to[2] = from[2];
        });
        Sink += rgb[RowPixels / 3];
        line("ConvertRowToRGB", routine, plain, rgb.data(), rgb.size());
    }
    {
        const double routine =
            Measure(RowPixels, [&] { ConvertRowToRGBA(rgb.data(), rgba.data(), RowPixels); });
        Sink += rgba[RowPixels / 2];
        const double plain = Measure(RowPixels, [&] {
            const std::uint8_t *from = rgb.data();
            std::uint8_t *to = rgba.data();
            for (int i = 0; i < RowPixels; ++i, from += 3, to += 4)
                to[0] = from[0], to[1] = from[1], to[2] = from[2], to[3] = 255;
        });
        Sink += rgba[RowPixels / 3];
        line("ConvertRowToRGBA", routine, plain, rgba.data(), rgba.size());
    }
    std::printf("\n");
}

// ---------------------------------------------------------------------------------------------
// Bitmap writers

constexpr int Dither[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};

// The 5-5-5 dither computed directly: a division and a comparison per channel.
inline std::uint16_t Plain555(std::uint32_t Pixel, int X, int Y) {
    const int threshold = Dither[X & 3][Y & 3];
    std::uint32_t result = 0;
    for (int shift = 0, to = 0; shift < 24; shift += 8, to += 5) {
        const int v = (Pixel >> shift) & 0xFF;
        int level = v * 31 / 255;
        if (((v * 496 / 255) & 15) > threshold)
            ++level;
        result |= static_cast<std::uint32_t>(level) << to;
    }
    return static_cast<std::uint16_t>(result);
}

// The colour-cube index computed directly, with the cube at index 10.
inline std::uint8_t PlainCube(std::uint32_t Pixel, int X, int Y) {
    const int threshold = Dither[X & 3][Y & 3];
    int index = 10;
    for (int shift = 0, weight = 1; shift < 24; shift += 8, weight *= 6) {
        const int v = (Pixel >> shift) & 0xFF;
        int level = v / 51;
        if (((v * 16 / 51) & 15) > threshold)
            ++level;
        index += level * weight;
    }
    return static_cast<std::uint8_t>(index);
}

void BenchWriters() {
    constexpr int Rows = 64;
    std::uint32_t state = 4242;
    std::vector<std::uint32_t> row(RowPixels);
    for (std::uint32_t &pixel : row)
        pixel = RandomWord(state);
    // Source bytes for the memcpy column: as many as the widest section row receives.
    const std::vector<std::uint8_t> copySource(RowPixels * 2 * 4, 0x5A);
    std::printf("Bitmap row writers, rows of %d source pixels (megapixels per second of source)\n",
                RowPixels);
    std::printf("  %-18s %12s %12s %12s %14s\n", "writer", "writer", "plain C", "memcpy", "writer/plain");

    struct TCase {
        const char *Name;
        std::uint8_t Mode;
        bool Doubled;
    };
    const TCase cases[] = {
        {"WriteRow8", TBaseBitmap::bmPalette8, false},     {"WriteRow16", TBaseBitmap::bmRGB555, false},
        {"WriteRow32", TBaseBitmap::bmRGB32, false},       {"WriteRowDouble8", TBaseBitmap::bmPalette8, true},
        {"WriteRowDouble16", TBaseBitmap::bmRGB555, true}, {"WriteRowDouble32", TBaseBitmap::bmRGB32, true}};
    for (const TCase &c : cases) {
        TBaseBitmap bitmap(c.Mode, 20);
        const int scale = c.Doubled ? 2 : 1;
        bitmap.SetSize(RowPixels * scale, Rows * scale);
        const int bytesPerPixel = c.Mode == TBaseBitmap::bmPalette8 ? 1
                                  : c.Mode == TBaseBitmap::bmRGB555 ? 2
                                                                    : 4;
        int y = 0;
        const double writer = Measure(RowPixels, [&] {
            if (c.Doubled)
                bitmap.WriteRowDouble(0, y * 2, row.data(), RowPixels);
            else
                bitmap.WriteRow(0, y, row.data(), RowPixels);
            y = (y + 1) % Rows;
        });
        // The plain loop writes the same pixels as directly computed values.
        const double plain = Measure(RowPixels, [&] {
            const int top = y * scale;
            for (int dy = 0; dy < scale; ++dy) {
                std::uint8_t *line = bitmap.Bits() + (top + dy) * bitmap.RowBytes();
                for (int i = 0; i < RowPixels; ++i)
                    for (int dx = 0; dx < scale; ++dx) {
                        const int x = i * scale + dx;
                        if (c.Mode == TBaseBitmap::bmPalette8)
                            line[x] = PlainCube(row[i], c.Doubled ? i : x, c.Doubled ? y : top);
                        else if (c.Mode == TBaseBitmap::bmRGB555)
                            reinterpret_cast<std::uint16_t *>(line)[x] =
                                Plain555(row[i], c.Doubled ? i : x, c.Doubled ? y : top);
                        else
                            reinterpret_cast<std::uint32_t *>(line)[x] = row[i];
                    }
            }
            y = (y + 1) % Rows;
        });
        // memcpy of the bytes the writer puts into the section.
        const std::size_t rowBytes = static_cast<std::size_t>(RowPixels) * scale * bytesPerPixel;
        const double copy = Measure(RowPixels, [&] {
            for (int dy = 0; dy < scale; ++dy)
                std::memcpy(bitmap.Bits() + (y * scale + dy) * bitmap.RowBytes(), copySource.data(),
                            rowBytes);
            y = (y + 1) % Rows;
        });
        Sink += bitmap.Bits()[7];
        std::printf("  %-18s %12.1f %12.1f %12.1f %14.2f\n", c.Name, writer, plain, copy, writer / plain);
    }
    std::printf("\n");
}

// ---------------------------------------------------------------------------------------------
// Merge engines

// Layer rows for the 8-bit engine, read under the image's lock as the view does.
struct TRowSource {
    void GetRow(TObject *, TLayer *Layer, std::int32_t X, std::int32_t Y, int Count, std::uint32_t *Row) {
        TLayerImage &image = Layer->GetImage();
        TScopeLock<TLayerImage> lock(image);
        std::memcpy(Row, image.PixelPtr(X, Y), static_cast<std::size_t>(Count) * 4);
    }
};

// A stack of Count layers of RowPixels x Rows random pixels in image Mode. Every layer but the bottom
// one has a merge mode or an opacity that keeps the layers under it in the merge; the bottom one is
// opaque. The layers' construction brackets stay open, so nothing calculates them.
void BuildStack(TLayerList &List, TCalculateManager &Manager, int Count, int Rows, std::uint8_t Mode) {
    std::uint32_t state = 777;
    List.Clear();
    for (int i = 0; i < Count; ++i) {
        auto layer = std::make_unique<TLayer>(nullptr, &Manager);
        if (i < Count - 1) {
            layer->SetMergeMode(static_cast<std::uint8_t>(i % 2 == 0 ? 1 + i % (MergeModeCount - 1) : 0));
            layer->SetOpacity(i % 2 == 0 ? 100 : 70);
        }
        TLayerImage &image = layer->GetImage();
        image.SetMode(Mode);
        image.SetSize(RowPixels, Rows);
        for (int y = 0; y < Rows; ++y)
            for (int x = 0; x < RowPixels; ++x) {
                const std::uint32_t pixel = RandomWord(state) | 0xFF000000u;
                if (Mode == lmFloatColor) {
                    TFloatColor color;
                    PixelToFloatColor(pixel, color);
                    std::memcpy(image.PixelPtr(x, y), &color, sizeof color);
                } else {
                    std::memcpy(image.PixelPtr(x, y), &pixel, 4);
                }
            }
        List.Add(std::move(layer));
    }
}

// A layer of the plain stack: its pixel rows, merge mode and opacity byte, read before timing.
struct TPlainLayer {
    const std::uint8_t *Pixels;
    std::size_t RowBytes;
    int Mode;
    std::uint8_t Opacity;
};

// The stack's layers bottom-up, as the merge visits them in BuildStack's stacks: every layer is visible
// and no layer is a mask, and the bottom one is opaque, so the merge starts there without a background.
std::vector<TPlainLayer> PlainLayers(TLayerList &List) {
    std::vector<TPlainLayer> layers;
    for (int i = List.Count() - 1; i >= 0; --i) {
        TLayer &layer = List.Items(i);
        TLayerImage &image = layer.GetImage();
        layers.push_back({static_cast<const std::uint8_t *>(image.PixelPtr(0, 0)),
                          static_cast<std::size_t>(image.Width()) * image.BytesPerPixel(),
                          layer.GetMergeMode(), OpacityByte(layer.GetOpacity())});
    }
    return layers;
}

// Row Y of the stack merged with the plain loops: each layer row is copied into the work row (the plain
// loops, like the routines, write into their layer row), merged with the row below by its mode and
// blended with it by its opacity, and becomes the base of the next layer. Returns the result row.
template <class TPixel, class Merge, class Blend>
TPixel *PlainStack(const std::vector<TPlainLayer> &Layers, int Y, TPixel *Base, TPixel *Work, Merge merge,
                   Blend blend) {
    for (std::size_t k = 0; k < Layers.size(); ++k) {
        const TPlainLayer &layer = Layers[k];
        std::memcpy(Work, layer.Pixels + Y * layer.RowBytes, RowPixels * sizeof(TPixel));
        if (k > 0) {
            if (layer.Mode != 0)
                merge(layer.Mode, Base, Work);
            if (layer.Opacity != 255)
                blend(layer.Opacity, Base, Work);
        }
        std::swap(Base, Work);
    }
    return Base;
}

std::uint32_t *PlainStack8(const std::vector<TPlainLayer> &Layers, int Y, std::uint32_t *Base,
                           std::uint32_t *Work) {
    return PlainStack(
        Layers, Y, Base, Work,
        [](int Mode, const std::uint32_t *B, std::uint32_t *L) { Plain8[Mode](B, L, RowPixels); },
        [](std::uint8_t Opacity, const std::uint32_t *B, std::uint32_t *L) {
            for (int i = 0; i < RowPixels; ++i) {
                std::uint32_t result = L[i] & 0xFF000000u;
                for (int shift = 0; shift < 24; shift += 8)
                    result |= static_cast<std::uint32_t>(Mul(255 - Opacity, (B[i] >> shift) & 0xFF) +
                                                         Mul(Opacity, (L[i] >> shift) & 0xFF))
                              << shift;
                L[i] = result;
            }
        });
}

TFloatColor *PlainStackFloat(const std::vector<TPlainLayer> &Layers, int Y, TFloatColor *Base,
                             TFloatColor *Work) {
    return PlainStack(
        Layers, Y, Base, Work,
        [](int Mode, const TFloatColor *B, TFloatColor *L) { PlainFloatLoops[Mode](B, L, RowPixels); },
        [](std::uint8_t Opacity, const TFloatColor *B, TFloatColor *L) {
            const float o = Opacity / 255.0f, rest = 1 - o;
            for (int i = 0; i < RowPixels; ++i) {
                L[i].Red = L[i].Red * o + B[i].Red * rest;
                L[i].Green = L[i].Green * o + B[i].Green * rest;
                L[i].Blue = L[i].Blue * o + B[i].Blue * rest;
            }
        });
}

void BenchEngines() {
    constexpr int Rows = 4;
    TCalculateManager manager(1);
    TRowSource source;
    std::printf("MergeRow through the merge engines, rows of %d pixels (megapixels per second)\n", RowPixels);
    std::printf("  %-16s %12s %12s %12s %16s\n", "stack", "MergeRow", "plain C", "memcpy", "MergeRow/plain");
    for (const bool useFloat : {false, true})
        for (const int count : {1, 4, 16}) {
            TLayerList list;
            BuildStack(list, manager, count, Rows, useFloat ? lmFloatColor : lmColor);
            std::unique_ptr<TMergeEngine> engine;
            if (useFloat) {
                engine = std::make_unique<TRenderMergeEngine>(&list);
            } else {
                auto fractal = std::make_unique<TFractalMergeEngine>(&list);
                fractal->OnGetLayerRow = MakeEvent<&TRowSource::GetRow>(&source);
                engine = std::move(fractal);
            }
            engine->SetSize(RowPixels, Rows);
            int y = 0;
            void *row = nullptr;
            const double merge = Measure(RowPixels, [&] {
                engine->MergeRow(0, y, RowPixels, row, mbCheckerboard, mfMaskView);
                y = (y + 1) % Rows;
            });
            Sink += *static_cast<const std::uint8_t *>(row);
            // The same arithmetic in plain loops over the layer rows.
            const std::vector<TPlainLayer> layers = PlainLayers(list);
            const std::size_t rowBytes = static_cast<std::size_t>(RowPixels) * engine->BytesPerPixel();
            std::vector<std::uint8_t> base(rowBytes), work(rowBytes);
            const std::uint8_t *result = nullptr;
            const double plain = Measure(RowPixels, [&] {
                if (useFloat)
                    result = reinterpret_cast<const std::uint8_t *>(
                        PlainStackFloat(layers, y, reinterpret_cast<TFloatColor *>(base.data()),
                                        reinterpret_cast<TFloatColor *>(work.data())));
                else
                    result = reinterpret_cast<const std::uint8_t *>(
                        PlainStack8(layers, y, reinterpret_cast<std::uint32_t *>(base.data()),
                                    reinterpret_cast<std::uint32_t *>(work.data())));
                y = (y + 1) % Rows;
            });
            Sink += result[3];
            // memcpy of the layer rows the merge reads.
            const std::size_t bytes = static_cast<std::size_t>(RowPixels) * engine->BytesPerPixel();
            std::vector<std::uint8_t> target(bytes);
            const double copy = Measure(RowPixels, [&] {
                for (int i = 0; i < count; ++i)
                    std::memcpy(target.data(), list.Items(i).GetImage().PixelPtr(0, y), bytes);
                y = (y + 1) % Rows;
            });
            Sink += target[5];
            char name[32];
            std::snprintf(name, sizeof name, "%s, %d layer%s", useFloat ? "float" : "8-bit", count,
                          count == 1 ? "" : "s");
            std::printf("  %-16s %12.1f %12.1f %12.1f %16.2f\n", name, merge, plain, copy, merge / plain);
        }
    std::printf("\n");
}

} // namespace

int main() {
    PrintEmulationNotice();
    InitMergeTables();
    BenchMerge8();
    BenchMergeFloat();
    BenchConversions();
    BenchWriters();
    BenchEngines();
    std::printf("(checksum %u)\n", Sink);
    return 0;
}
