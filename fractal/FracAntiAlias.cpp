#include "FracAntiAlias.h"

#include <algorithm>
#include <cmath>

#include "FracImage.h"

namespace {

// The edge buffer (strip width x sub samples of 16 bytes) stays within this many bytes.
constexpr int EdgeBufferBytes = 0x80000;

} // namespace

double AntiAliasingWeight(double D) {
    const double K = -1.953, M = 0.918;
    const double weight = (1 - (1 - std::exp(K * D * D)) / (1 - std::exp(K))) * M;
    return std::clamp(weight, 0.0, 10.0);
}

TAntiAliasingGrid AntiAliasingGridFor(const TAntiAliasingSettings &Settings, int Width) {
    TAntiAliasingGrid grid;
    grid.Split = Settings.Split3x3 ? 3 : 2;
    grid.Sub = 1;
    for (int i = std::clamp<int>(Settings.Depth, 1, 4); i > 0; --i)
        grid.Sub *= grid.Split;
    grid.StripWidth = std::max(std::min(EdgeBufferBytes / (grid.Sub * 16), Width), 0);
    return grid;
}

TComputeAntiAliasing::~TComputeAntiAliasing() = default;

void TComputeAntiAliasing::SamplePixel(int X, int Y) {
    CalculatePixel(X, Y);
}

TFloatColor TComputeAntiAliasing::SampleColor(int SX, int SY) {
    TFloatColor color{};
    CalculateColor(SX, SY, color, FSub, FSub);
    return color;
}

void TComputeAntiAliasing::PrepareGrid(int Width) {
    const TAntiAliasingGrid grid = AntiAliasingGridFor(*AntiAliasing, Width);
    FSplit = grid.Split;
    FSub = grid.Sub;
    FStripWidth = grid.StripWidth;
    FThreshold = 4.0L / 3.0L * static_cast<long double>(AntiAliasing->Threshold);
    InitWeights();
    const int edge = std::max(FStripWidth, 1) * FSub;
    FEdgeBuffer = std::make_unique<TFloatColor[]>(edge);
    FEdgeFlags = std::make_unique<bool[]>(edge);
    const int cell = (FSub + 1) * (FSub + 1);
    FCellCache = std::make_unique<TFloatColor[]>(cell);
    FCellFlags = std::make_unique<bool[]>(cell);
    FCellOriginX = FCellOriginY = 0;
    FStripLeft = 0;
}

void TComputeAntiAliasing::FreeBuffers() {
    FEdgeBuffer.reset();
    FEdgeFlags.reset();
    FCellCache.reset();
    FCellFlags.reset();
}

void TComputeAntiAliasing::InitWeights() {
    for (int i = 0; i <= FSplit; ++i)
        for (int j = 0; j <= FSplit; ++j) {
            const double di = double(i) / FSplit - 0.5, dj = double(j) / FSplit - 0.5;
            FWeights[i][j] = AntiAliasingWeight(std::sqrt(di * di + dj * dj));
        }
}

void TComputeAntiAliasing::CalculateAntiAliased() {
    Pass = 0;
    TLayerImage &image = *Image;
    const TLayerRect &r = Rect;
    // Cells are spanned by four pixels, so the last column and row of the image start no cell.
    const int left = std::max(r.Left, 0), top = std::max(r.Top, 0);
    const int right = std::min(r.Right, image.Width() - 1);
    const int bottom = std::min(r.Bottom, image.Height() - 1);
    int x = left, y = top;
    const bool resumed = TakeResume(x, y);
    if (right <= left || bottom <= top || !image.HasAntiAliasBuffer() || image.Mode() != lmFloatColor)
        return;
    // A resume position is a cell of the piece, or one past its last column or row (a strip re-cut
    // after its row was done): the cells from there on remain.
    if (!resumed || y < top) {
        x = left;
        y = top;
    }
    x = std::max(x, left);
    if (x >= right) {
        x = left;
        ++y;
    }
    if (y >= bottom)
        return;
    PrepareGrid(right - left);
    const int startX = x, startY = y;
    for (int x0 = left + (startX - left) / FStripWidth * FStripWidth; x0 < right; x0 += FStripWidth) {
        const int x1 = std::min(x0 + FStripWidth, right);
        FStripLeft = x0;
        ClearStripFlags();
        const bool firstStrip = x0 <= startX;
        for (y = firstStrip ? startY : top; y < bottom; ++y) {
            // The first cell of a row has no left neighbour in the cache.
            for (int j = 1; j < FSub; ++j)
                FCellFlags[CacheIndex(FSub, j)] = false;
            for (x = (firstStrip && y == startY) ? startX : x0; x < x1; ++x) {
                LoadCorners(x, y);
                CalculateCell(x, y);
                SaveEdgeSamples(x);
                if (IsStopping()) {
                    Interrupt(x, y);
                    FreeBuffers();
                    return;
                }
            }
        }
    }
    FreeBuffers();
}

void TComputeAntiAliasing::ClearStripFlags() {
    std::fill_n(FEdgeFlags.get(), std::max(FStripWidth, 1) * FSub, false);
}

void TComputeAntiAliasing::LoadCorners(int X, int Y) {
    const TLayerImage &image = *Image;
    const int n = FSub;
    // The right edge of the cell to the left becomes this cell's left edge.
    for (int j = 1; j < n; ++j) {
        FCellCache[CacheIndex(0, j)] = FCellCache[CacheIndex(n, j)];
        FCellFlags[CacheIndex(0, j)] = FCellFlags[CacheIndex(n, j)];
    }
    for (int j = 0; j <= n; ++j)
        for (int i = 1; i <= n; ++i)
            FCellFlags[CacheIndex(i, j)] = false;
    // The bottom edge of the cell above becomes this cell's top edge.
    const int column = (X - FStripLeft) * n;
    for (int i = 1; i < n; ++i) {
        FCellCache[CacheIndex(i, 0)] = FEdgeBuffer[column + i];
        FCellFlags[CacheIndex(i, 0)] = FEdgeFlags[column + i];
    }
    const int corners[4][4] = {{0, 0, 0, 0}, {n, 0, 1, 0}, {0, n, 0, 1}, {n, n, 1, 1}};
    for (const auto &c : corners) {
        FCellCache[CacheIndex(c[0], c[1])] = image.GetFloatColor(X + c[2], Y + c[3]);
        FCellFlags[CacheIndex(c[0], c[1])] = true;
    }
    FCellOriginX = X * n;
    FCellOriginY = Y * n;
}

void TComputeAntiAliasing::SaveEdgeSamples(int X) {
    const int n = FSub;
    const int column = (X - FStripLeft) * n;
    for (int i = 1; i < n; ++i) {
        FEdgeBuffer[column + i] = FCellCache[CacheIndex(i, n)];
        FEdgeFlags[column + i] = FCellFlags[CacheIndex(i, n)];
    }
}

void TComputeAntiAliasing::CalculateCell(int X, int Y) {
    const TFloatColor color = SampleCell(X * FSub, Y * FSub, FSub);
    Image->SetAntiAliasPixel(X, Y, color);
    if (!IsStopping() && Statistics)
        Statistics->CountPixel();
}

bool TComputeAntiAliasing::SamplesSimilar(const TFloatColor &A, const TFloatColor &B) const {
    const long double difference = std::fabs(static_cast<long double>(A.Red) - B.Red) +
                                   std::fabs(static_cast<long double>(A.Green) - B.Green) +
                                   std::fabs(static_cast<long double>(A.Blue) - B.Blue) +
                                   std::fabs(static_cast<long double>(A.Alpha) - B.Alpha);
    return difference < FThreshold;
}

TFloatColor TComputeAntiAliasing::GetSample(int SX, int SY) {
    const int index = CacheIndex(SX - FCellOriginX, SY - FCellOriginY);
    if (!FCellFlags[index]) {
        FCellCache[index] = SampleColor(SX, SY);
        FCellFlags[index] = true;
    }
    return FCellCache[index];
}

TFloatColor TComputeAntiAliasing::SampleCell(int SX, int SY, int N) {
    const TFloatColor c00 = GetSample(SX, SY), c10 = GetSample(SX + N, SY);
    const TFloatColor c01 = GetSample(SX, SY + N), c11 = GetSample(SX + N, SY + N);
    long double red = 0, green = 0, blue = 0, alpha = 0, weights = 0;
    auto add = [&](const TFloatColor &S, long double W) {
        if (FOpaque) {
            red += W * S.Red;
            green += W * S.Green;
            blue += W * S.Blue;
            alpha += W * S.Alpha;
        } else {
            red += W * S.Alpha * S.Red;
            green += W * S.Alpha * S.Green;
            blue += W * S.Alpha * S.Blue;
            alpha += W * S.Alpha;
        }
        weights += W;
    };
    // A stop leaves the cell unfinished; it is done again on resume.
    if (N > 1 && !IsStopping() &&
        !(SamplesSimilar(c00, c10) && SamplesSimilar(c00, c01) && SamplesSimilar(c00, c11))) {
        const int step = N / FSplit;
        for (int j = 0; j <= FSplit; ++j)
            for (int i = 0; i <= FSplit; ++i) {
                const int px = SX + i * step, py = SY + j * step;
                const TFloatColor s =
                    (i == FSplit || j == FSplit) ? GetSample(px, py) : SampleCell(px, py, step);
                add(s, FWeights[j][i]);
            }
    } else {
        for (const TFloatColor *c : {&c00, &c10, &c01, &c11})
            add(*c, 1);
    }
    TFloatColor result;
    if (FOpaque) {
        const long double divisor = weights > 0 ? weights : 1;
        result = {float(red / divisor), float(green / divisor), float(blue / divisor),
                  float(alpha / divisor)};
    } else {
        const long double colorDivisor = alpha > 0 ? alpha : 1;
        const long double alphaDivisor = weights > 0 ? weights : 1;
        result = {float(red / colorDivisor), float(green / colorDivisor), float(blue / colorDivisor),
                  float(alpha / alphaDivisor)};
    }
    return result;
}
