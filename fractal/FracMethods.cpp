#include "FracMethods.h"

#include <algorithm>

#include "FracImage.h"

std::string ComputeMethodName(std::uint8_t Method) {
    switch (Method) {
    case dmMultiPass:
        return "multipass";
    case dmLinear:
        return "linear";
    default:
        return "";
    }
}

std::uint8_t ComputeMethodFromName(const std::string &Name) {
    if (Name == "multipass")
        return dmMultiPass;
    if (Name == "linear")
        return dmLinear;
    return dmGuessing;
}

// ---------------------------------------------------------------------------------------------
// Linear

void TComputeLinear::CalculatePixels() {
    const TLayerRect &r = Rect;
    Pass = 0;
    int x = r.Left, y = r.Top;
    if (TakeResume(x, y)) {
        // A position from outside the rectangle starts the row or the piece over.
        if (y < r.Top) {
            y = r.Top;
            x = r.Left;
        }
        x = std::max(x, r.Left);
        if (x >= r.Right) {
            x = r.Left;
            ++y;
        }
    }
    for (; y < r.Bottom; ++y, x = r.Left) {
        SetUpdateRect(r.Left, y, r.Right, y + 1);
        for (; x < r.Right; ++x) {
            SamplePixel(x, y);
            if (IsStopping()) {
                Interrupt(x, y);
                return;
            }
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Multi-pass

namespace {

// The first line of the grid From + k x Size (k >= 0) at or after Position.
int OnGrid(int Position, int From, int Size) {
    if (Position <= From)
        return From;
    return From + (Position - From + Size - 1) / Size * Size;
}

} // namespace

void TComputeMultiPass::CalculatePixels() {
    const TLayerRect &r = Rect;
    const int first = StartExponent;
    // A pass that this image cannot have (none yet, or from another size) starts over.
    if (!Resume || Pass < 0 || Pass > first) {
        Resume = false;
        Pass = first;
    }
    int exponent = Pass + 1;
    if (Pass == first) {
        const int size = 1 << first;
        for (int y = StartRow(size); y < r.Bottom; y += size)
            if (!CalculateBlockRow(y, size))
                return;
        exponent = first;
    }
    for (; exponent >= 1; --exponent) {
        Pass = exponent - 1;
        const int size = 1 << exponent;
        for (int y = StartRow(size); y < r.Bottom; y += size)
            if (!CalculatePass(y, size))
                return;
    }
}

int TComputeMultiPass::StartRow(int Size) {
    const TLayerRect &r = Rect;
    if (!Resume)
        return r.Top;
    // A resume row between grid rows (a strip re-cut after it finished its row) continues with
    // the next row of blocks from its left edge.
    const int y = OnGrid(ResumeY, r.Top, Size);
    if (y != ResumeY)
        Resume = false;
    return y;
}

int TComputeMultiPass::StartColumn(int Size) {
    const TLayerRect &r = Rect;
    int x = r.Left, y = 0;
    if (TakeResume(x, y))
        x = OnGrid(x, r.Left, Size);
    return x;
}

bool TComputeMultiPass::CalculateBlockRow(int Y, int Size) {
    const TLayerRect &r = Rect;
    const int bottom = std::min(Y + Size, r.Bottom);
    int x = StartColumn(Size);
    SetUpdateRect(r.Left, Y, r.Right, bottom);
    TLayerImage &image = *Image;
    for (; x < r.Right; x += Size) {
        SamplePixel(x, Y);
        image.FillBlock(x, Y, std::min(x + Size, r.Right), bottom);
        if (IsStopping()) {
            Interrupt(x, Y);
            return false;
        }
    }
    return true;
}

void TComputeMultiPass::RestoreBlock(int X, int Y, int Size) {
    const TLayerRect &r = Rect;
    Image->FillBlock(X, Y, std::min(X + Size, r.Right), std::min(Y + Size, r.Bottom));
}

bool TComputeMultiPass::CalculatePass(int Y, int Size) {
    const TLayerRect &r = Rect;
    const int half = Size / 2;
    const int bottom = std::min(Y + Size, r.Bottom);
    const int ym = Y + half;
    int x = StartColumn(Size);
    SetUpdateRect(r.Left, Y, r.Right, bottom);
    TLayerImage &image = *Image;
    for (; x < r.Right; x += Size) {
        const int xm = x + half;
        const int right = std::min(x + Size, r.Right);
        if (xm < r.Right) {
            if (ym < r.Bottom) {
                SamplePixel(xm, ym);
                if (Size > 2)
                    image.FillBlock(xm, ym, right, bottom);
            }
            SamplePixel(xm, Y);
            if (Size > 2)
                image.FillBlock(xm, Y, right, std::min(ym, r.Bottom));
        }
        if (ym < r.Bottom) {
            SamplePixel(x, ym);
            if (Size > 2)
                image.FillBlock(x, ym, std::min(xm, r.Right), bottom);
        }
        if (IsStopping()) {
            // A sample cut short holds a wrong value; the block goes back to its state before
            // this pass and is done again on resume.
            RestoreBlock(x, Y, Size);
            Interrupt(x, Y);
            return false;
        }
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Guessing

bool TComputeGuessing::CalculatePass(int Y, int Size) {
    const TLayerRect &r = Rect;
    const int half = Size / 2;
    const int bottom = std::min(Y + Size, r.Bottom);
    const int ym = Y + half;
    const int yb = Y + Size;
    const int ya = std::max(Y - half, r.Top);
    int x = StartColumn(Size);
    SetUpdateRect(r.Left, Y, r.Right, bottom);
    TLayerImage &image = *Image;
    // True when the pixel (PX, PY) equals each of the listed positions.
    auto same = [&image](int PX, int PY, std::initializer_list<std::pair<int, int>> Others) {
        for (const auto &other : Others)
            if (!image.SamePixel(PX, PY, other.first, other.second))
                return false;
        return true;
    };
    for (; x < r.Right; x += Size) {
        const int xm = x + half;
        const int xb = x + Size;
        const int right = std::min(xb, r.Right);
        // Blocks at the right or bottom edge of the strip are never guessed.
        const bool inner = xb < r.Right && yb < r.Bottom;
        bool needCentre = xm < r.Right && ym < r.Bottom;
        bool needTop = xm < r.Right;
        bool needLeft = ym < r.Bottom;
        bool stopped = false;
        // Each sample may change what its neighbours are compared with, so the tests repeat until
        // a round samples nothing new.
        for (;;) {
            if (needCentre && !(inner && same(xm, ym, {{xb, yb}, {xb, Y}, {x, yb}, {xm, Y}, {x, ym}}))) {
                SamplePixel(xm, ym);
                needCentre = false;
                if (Size > 2)
                    image.FillBlock(xm, ym, right, bottom);
                if ((stopped = IsStopping()))
                    break;
            }
            if (needTop &&
                !(inner && same(xm, Y, {{xm, ym}, {xb, Y}, {xm, ya}, {x, ya}, {xb, ya}, {x, ym}}))) {
                SamplePixel(xm, Y);
                needTop = false;
                if (Size > 2)
                    image.FillBlock(xm, Y, right, std::min(ym, r.Bottom));
                if ((stopped = IsStopping()))
                    break;
                continue;
            }
            if (needLeft &&
                !(inner && same(x, ym, {{xm, ym}, {x, yb}, {x - half, ym}, {x - half, Y}, {xm, Y}}))) {
                SamplePixel(x, ym);
                needLeft = false;
                if (Size > 2)
                    image.FillBlock(x, ym, std::min(xm, r.Right), bottom);
                if ((stopped = IsStopping()))
                    break;
                continue;
            }
            break;
        }
        if (stopped || IsStopping()) {
            RestoreBlock(x, Y, Size);
            Interrupt(x, Y);
            return false;
        }
        for (bool guessed : {needCentre, needTop, needLeft})
            if (guessed)
                if (Statistics)
                    Statistics->CountGuessed();
    }
    return true;
}

// ---------------------------------------------------------------------------------------------

std::unique_ptr<TCompute> CreateCompute(std::uint8_t Method, TMapping *Mapping, TFormula *Formula,
                                        TLayerStatistics *Statistics, TUpdateRectList *UpdateRects,
                                        TLayerImage *Image, TColoring *OutsideColoring,
                                        TColoring *InsideColoring) {
    std::unique_ptr<TCompute> piece;
    switch (Method) {
    case dmMultiPass:
        piece = std::make_unique<TComputeMultiPass>(Mapping, Statistics, UpdateRects, Image, OutsideColoring,
                                                    InsideColoring, Formula);
        break;
    case dmLinear:
        piece = std::make_unique<TComputeLinear>(Mapping, Statistics, UpdateRects, Image, OutsideColoring,
                                                 InsideColoring, Formula);
        break;
    default:
        Method = dmGuessing;
        piece = std::make_unique<TComputeGuessing>(Mapping, Statistics, UpdateRects, Image, OutsideColoring,
                                                   InsideColoring, Formula);
        break;
    }
    piece->Method = Method;
    return piece;
}
