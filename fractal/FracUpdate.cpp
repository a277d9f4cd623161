#include "FracUpdate.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "FracCompute.h"
#include "FracConvert.h"
#include "FracLayer.h"
#include "FracMergeEngine.h"
#include "GenSetup.h"

namespace {

constexpr double RestTolerance = 0.001;
constexpr double MaxSkew = 1.41421356;
constexpr std::uint32_t UpdateInterval = 300;
constexpr long double FixedOne = 4294967296.0L; // 2^32

bool EmptyRect(const RECT &R) {
    return R.right <= R.left || R.bottom <= R.top;
}

// The not-calculated value of the image's own pixel format: the code, the table's colour, or that
// colour as floats.
void UncalculatedPixel(const TLayerImage &Image, std::uint8_t *Pixel) {
    switch (Image.Mode()) {
    case lmCode: {
        const std::uint16_t code = UncalculatedCode;
        std::memcpy(Pixel, &code, 2);
        break;
    }
    case lmColor: {
        const std::uint32_t color = Image.ColorTable() ? (*Image.ColorTable())[UncalculatedCode] : 0;
        std::memcpy(Pixel, &color, 4);
        break;
    }
    default: {
        const TFloatColor color = Image.CodeColor(UncalculatedCode);
        const float values[4] = {color.Red, color.Green, color.Blue, color.Alpha};
        std::memcpy(Pixel, values, 16);
        break;
    }
    }
}

std::uint32_t UncalculatedColor(const TLayerImage &Image) {
    return Image.ColorTable() ? (*Image.ColorTable())[UncalculatedCode] : 0;
}

// The range [First, Last] of k (clamped to 0 .. Count - 1) with 0 <= A + k * B < Limit; empty when
// First > Last.
void SpanInside(long double A, long double B, int Limit, int Count, int &First, int &Last) {
    long double lo, hi; // k in [lo, hi] after rounding
    if (B == 0) {
        if (A >= 0 && A < Limit) {
            lo = 0;
            hi = Count - 1;
        } else {
            lo = 1;
            hi = 0;
        }
    } else if (B > 0) {
        lo = std::ceil(-A / B);
        hi = std::ceil((Limit - A) / B) - 1;
    } else {
        lo = std::floor((Limit - A) / B) + 1;
        hi = std::floor(-A / B);
    }
    lo = std::max<long double>(lo, 0);
    hi = std::min<long double>(hi, Count - 1);
    if (!(lo <= hi)) { // also a NaN
        First = 1;
        Last = 0;
        return;
    }
    First = std::max(First, static_cast<int>(lo));
    Last = std::min(Last, static_cast<int>(hi));
}

// Walks Count target pixels of one row through a display-to-image mapping: Inside(k, px, py) for
// pixels that land on the image, Outside(k) for the rest. The image position steps in 32.32 fixed
// point; every position is clamped to the image, so rounding at the span's ends cannot leave it.
template <class TInside, class TOutside>
void ScanRow(long double AX, long double BX, long double AY, long double BY, int ImageWidth, int ImageHeight,
             int Count, TInside Inside, TOutside Outside) {
    int first = 0, last = Count - 1;
    if (ImageWidth < 1 || ImageHeight < 1) {
        first = 1;
        last = 0;
    } else {
        SpanInside(AX, BX, ImageWidth, Count, first, last);
        if (first <= last)
            SpanInside(AY, BY, ImageHeight, Count, first, last);
    }
    if (first > last) {
        for (int k = 0; k < Count; ++k)
            Outside(k);
        return;
    }
    for (int k = 0; k < first; ++k)
        Outside(k);
    const long double limit = 2147483647.0L; // steps beyond the image fit in 64 bits this way
    auto fixed = [&](long double V) {
        return static_cast<std::int64_t>(std::clamp(V, -limit, limit) * FixedOne);
    };
    std::int64_t fx = fixed(AX + first * BX), fy = fixed(AY + first * BY);
    const std::int64_t sx = fixed(BX), sy = fixed(BY);
    const std::int64_t maxX = static_cast<std::int64_t>(ImageWidth - 1), maxY = ImageHeight - 1;
    for (int k = first; k <= last; ++k) {
        const std::int64_t px = std::clamp<std::int64_t>(fx >> 32, 0, maxX);
        const std::int64_t py = std::clamp<std::int64_t>(fy >> 32, 0, maxY);
        Inside(k, static_cast<int>(px), static_cast<int>(py));
        fx += sx;
        fy += sy;
    }
    for (int k = last + 1; k < Count; ++k)
        Outside(k);
}

// Runs Body with a memory context that has Target's section selected.
template <class TBody> void WithBitmapDC(TBaseBitmap &Target, TBody Body) {
    if (!Target.Section())
        return;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    ReleaseDC(nullptr, screen);
    if (!memory)
        return;
    HGDIOBJ old = SelectObject(memory, Target.Section());
    Body(memory);
    SelectObject(memory, old);
    DeleteDC(memory);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// TAnimatedCorners

TAnimatedCorners::TAnimatedCorners(double AAspect) : FAspect(AAspect) {
    Reset();
}

std::unique_ptr<TAnimatedCorners> TAnimatedCorners::CreateCopy(const TAnimatedCorners &Other) {
    auto copy = std::make_unique<TAnimatedCorners>(Other.FAspect);
    std::copy(std::begin(Other.FCorners), std::end(Other.FCorners), copy->FCorners);
    return copy;
}

void TAnimatedCorners::Assign(const TAnimatedCorners &Other) {
    FAspect = Other.FAspect;
    std::copy(std::begin(Other.FCorners), std::end(Other.FCorners), FCorners);
    Changed();
}

void TAnimatedCorners::SetCorner(int I, const TViewPoint &Point) {
    FCorners[I] = Point;
    Changed();
}

void TAnimatedCorners::Reset() {
    FCorners[0] = {-FAspect / 2, -0.5};
    FCorners[1] = {FAspect / 2, -0.5};
    FCorners[2] = {FAspect / 2, 0.5};
    Changed();
}

bool TAnimatedCorners::IsAtRest() const {
    const TViewPoint rest[3] = {{-FAspect / 2, -0.5}, {FAspect / 2, -0.5}, {FAspect / 2, 0.5}};
    for (int i = 0; i < 3; ++i)
        if (!(std::fabs(FCorners[i].X - rest[i].X) <= RestTolerance) ||
            !(std::fabs(FCorners[i].Y - rest[i].Y) <= RestTolerance))
            return false;
    return true;
}

void TAnimatedCorners::Translate(double DX, double DY) {
    for (TViewPoint &c : FCorners) {
        c.X += DX;
        c.Y += DY;
    }
    Changed();
}

void TAnimatedCorners::Rotate(double A) {
    const double cosA = std::cos(A), sinA = std::sin(A);
    for (TViewPoint &c : FCorners)
        c = {c.X * cosA - c.Y * sinA, c.X * sinA + c.Y * cosA};
    Changed();
}

void TAnimatedCorners::Scale(double F) {
    for (TViewPoint &c : FCorners) {
        c.X *= F;
        c.Y *= F;
    }
    Changed();
}

void TAnimatedCorners::Stretch(double F) {
    for (TViewPoint &c : FCorners)
        c.X *= F;
    Changed();
}

void TAnimatedCorners::Skew(double A) {
    const double t = std::tan(A);
    for (TViewPoint &c : FCorners)
        c.X += t * c.Y;
    Changed();
}

void TAnimatedCorners::Decompose(double &CX, double &CY, double &Size, double &Angle, double &AStretch,
                                 double &ASkew) const {
    const std::unique_ptr<TAnimatedCorners> copy = CreateCopy(*this);
    TViewPoint *c = copy->FCorners;
    CX = (c[0].X + c[2].X) / 2;
    CY = (c[0].Y + c[2].Y) / 2;
    copy->Translate(-CX, -CY);
    Angle = std::atan2(c[1].Y - c[0].Y, c[1].X - c[0].X);
    copy->Rotate(-Angle);
    Size = c[2].Y - c[1].Y;
    const double width = c[1].X - c[0].X;
    const double extent = Size * FAspect;
    AStretch = extent != 0 && width != 0 ? width / extent : 1.0;
    copy->Stretch(1 / AStretch);
    ASkew = M_PI / 2 - std::atan2(c[2].Y - c[1].Y, c[2].X - c[1].X);
}

void TAnimatedCorners::Invert() {
    double cx, cy, size, angle, stretch, skew;
    Decompose(cx, cy, size, angle, stretch, skew);
    Reset();
    Translate(-cx, -cy);
    Rotate(-angle);
    Stretch(1 / stretch);
    Skew(-skew);
    if (size != 0)
        Scale(1 / size);
}

// ---------------------------------------------------------------------------------------------
// TUpdateManager

TUpdateManager::TUpdateManager(TUpdateRectList *AUpdateRects, TBaseBitmap *ABitmap, TLayerList *ALayers)
    : TGeneralThread(true), FBitmap(ABitmap), FLayers(ALayers), FUpdateRects(AUpdateRects) {
    FWidth = std::max(FBitmap->Width(), 0);
    FHeight = std::max(FBitmap->Height(), 0);
    const double aspect = FWidth > 0 && FHeight > 0 ? static_cast<double>(FWidth) / FHeight : 1.0;
    FEngine = std::make_unique<TFractalMergeEngine>(FLayers);
    FEngine->SetSize(FWidth, FHeight);
    FEngine->OnGetLayerRow = MakeEvent<&TUpdateManager::GetLayerRow>(this);
    FRowEngine = std::make_unique<TFractalMergeEngine>(FLayers);
    FRowEngine->OnGetLayerRow = MakeEvent<&TUpdateManager::GetRestingLayerRow>(this);
    FView = std::make_unique<TAnimatedCorners>(aspect);
    FView->OnChange = MakeNotifyEvent<&TUpdateManager::ViewChanged>(this);
    FWakeEvent = std::make_unique<TEvent>(false, false);
    FIdleEvent = std::make_unique<TEvent>(true, false);
    FCountLock = std::make_unique<TCriticalSection>();
    FDirtyLock = std::make_unique<TCriticalSection>();
    FSnapshotLock = std::make_unique<TCriticalSection>();
    UpdateSnapshotSize();
}

TUpdateManager::~TUpdateManager() = default;

std::unique_ptr<TUpdateManager> TUpdateManager::Create(TUpdateRectList *AUpdateRects, TBaseBitmap *ABitmap,
                                                       TLayerList *ALayers) {
    std::unique_ptr<TUpdateManager> manager =
        std::make_unique<TJoinedThread<TUpdateManager>>(AUpdateRects, ABitmap, ALayers);
    manager->Start();
    return manager;
}

void TUpdateManager::Terminate() {
    TGeneralThread::Terminate();
    FWakeEvent->SetEvent();
}

std::uint32_t TUpdateManager::WaitForWake(std::uint32_t Timeout) {
    return FWakeEvent->WaitFor(Timeout);
}

void TUpdateManager::DoExecute() {
    // A BeginUpdate on the interface thread must not wait for a thread that has ended.
    struct TIdleAtExit {
        TEvent &Idle;
        ~TIdleAtExit() { Idle.SetEvent(); }
    } idleAtExit{*FIdleEvent};
    while (!Terminated()) {
        std::uint32_t result;
        do {
            FIdleEvent->SetEvent();
            bool calculating;
            {
                TScopeLock<TCriticalSection> lock(*FCountLock);
                calculating = FCalculations > 0;
            }
            result = WaitForWake(calculating ? UpdateInterval : INFINITE);
            if (Terminated())
                return;
            FAbort = false;
            FDirtyPending = false;
        } while (FUpdateCount.load() > 0);
        FIdleEvent->ResetEvent();
        if (FUpdateCount.load() > 0)
            continue;
        if (FFinalRefresh.load() || result == TEvent::wrTimeout)
            RefreshCalculated();
        if (result == TEvent::wrSignaled) {
            RECT dirty;
            {
                TScopeLock<TCriticalSection> lock(*FDirtyLock);
                dirty = FDirtyRect;
                FDirtyRect = RECT{};
            }
            if (!EmptyRect(dirty)) {
                RefreshRect(dirty);
                ++FInvalidationRefreshCount;
            }
        }
    }
}

void TUpdateManager::RefreshCalculated() {
    FFinalRefresh = false;
    std::vector<TLayerRect> rects;
    if (FUpdateRects)
        FUpdateRects->ExtractRects(rects);
    if (!FView->IsAtRest()) {
        // Every refresh of a transformed view merges all of it; once is enough.
        if (!rects.empty())
            RefreshRect(RECT{0, 0, FWidth, FHeight});
    } else {
        for (const TLayerRect &r : rects) {
            if (Stopped())
                break;
            RefreshRect(RECT{r.Left, r.Top, r.Right, r.Bottom});
        }
    }
    ++FRefreshCount;
}

void TUpdateManager::CalculationStarted() {
    TScopeLock<TCriticalSection> lock(*FCountLock);
    if (++FCalculations == 1)
        FWakeEvent->SetEvent();
}

void TUpdateManager::CalculationFinished() {
    TScopeLock<TCriticalSection> lock(*FCountLock);
    // An unmatched finish never drives the count below zero.
    if (FCalculations > 0 && --FCalculations == 0) {
        FFinalRefresh = true;
        FWakeEvent->SetEvent();
    }
}

void TUpdateManager::InvalidateRect(const RECT &R) {
    if (FUpdateCount.load() > 0)
        return;
    {
        TScopeLock<TCriticalSection> lock(*FDirtyLock);
        RECT joined;
        if (EmptyRect(FDirtyRect))
            joined = R;
        else if (EmptyRect(R))
            joined = FDirtyRect;
        else
            UnionRect(&joined, &FDirtyRect, &R);
        FDirtyRect = joined;
    }
    FDirtyPending = true;
    FWakeEvent->SetEvent();
}

void TUpdateManager::InvalidateAll() {
    InvalidateRect(RECT{0, 0, FWidth, FHeight});
}

void TUpdateManager::BeginUpdate() {
    if (++FUpdateCount == 1) {
        FAbort = true;
        FIdleEvent->WaitForever();
    }
}

void TUpdateManager::EndUpdate() {
    std::int32_t count = FUpdateCount.load();
    while (count > 0 && !FUpdateCount.compare_exchange_weak(count, count - 1)) {
    }
}

void TUpdateManager::SetSize(std::int32_t W, std::int32_t H) {
    W = std::max(W, 0);
    H = std::max(H, 0);
    if (W == FWidth && H == FHeight)
        return;
    TUpdateScope update(*this);
    FWidth = W;
    FHeight = H;
    FBitmap->SetSize(W, H);
    FEngine->SetSize(W, H);
    // A view without pixels is square and at rest; nothing later divides by its size.
    FView->SetAspect(W > 0 && H > 0 ? static_cast<double>(W) / H : 1.0);
    FView->Reset();
    {
        TScopeLock<TCriticalSection> lock(*FDirtyLock);
        FDirtyRect = RECT{};
    }
    UpdateSnapshotSize();
    DropSnapshot();
}

void TUpdateManager::GetMergedRow(std::int32_t Y, void *Buffer, bool RGB) {
    if (FWidth < 1)
        return;
    FRowEngine->SetSize(FWidth, FHeight);
    void *row = nullptr;
    FRowEngine->MergeRow(0, Y, FWidth, row, RGB ? mbWhite : mbNone, 0);
    if (RGB)
        ConvertRowToRGB(row, Buffer, FWidth);
    else
        std::memcpy(Buffer, row, static_cast<std::size_t>(FWidth) * 4);
}

void TUpdateManager::GetMergedRowOver(std::int32_t Y, std::uint32_t *Buffer, int Background) {
    if (FWidth < 1)
        return;
    FRowEngine->SetSize(FWidth, FHeight);
    void *row = nullptr;
    FRowEngine->MergeRow(0, Y, FWidth, row, Background, 0);
    std::memcpy(Buffer, row, static_cast<std::size_t>(FWidth) * 4);
}

// --- Snapshot ---------------------------------------------------------------------------------

void TUpdateManager::UpdateSnapshotSize() {
    GetThumbnailSize(FWidth, FHeight, FSnapshotWidth, FSnapshotHeight);
}

bool TUpdateManager::HasSnapshot() {
    TScopeLock<TCriticalSection> lock(*FSnapshotLock);
    return FSnapshot != nullptr;
}

void TUpdateManager::TakeSnapshot() {
    TScopeLock<TCriticalSection> lock(*FSnapshotLock);
    if (FSnapshot || FSnapshotWidth < 1 || FSnapshotHeight < 1)
        return;
    auto snapshot = std::make_unique<TCanvasBitmap>();
    snapshot->SetSize(FSnapshotWidth, FSnapshotHeight);
    WithBitmapDC(*snapshot, [&](HDC dc) {
        FBitmap->StretchDraw(dc, RECT{0, 0, FSnapshotWidth, FSnapshotHeight}, RECT{0, 0, FWidth, FHeight});
    });
    FSnapshot = std::move(snapshot);
}

void TUpdateManager::DropSnapshot() {
    TScopeLock<TCriticalSection> lock(*FSnapshotLock);
    FSnapshot.reset();
}

void TUpdateManager::ViewChanged(TObject *) {
    if (!FView->IsAtRest())
        TakeSnapshot();
}

void TUpdateManager::DrawTo(HDC Canvas, int X, int Y) {
    TScopeLock<TCriticalSection> lock(*FSnapshotLock);
    const RECT dest{X, Y, X + FSnapshotWidth, Y + FSnapshotHeight};
    if (FSnapshot)
        FSnapshot->BlitTo(Canvas, dest, 0, 0);
    else
        FBitmap->StretchDraw(Canvas, dest, RECT{0, 0, FWidth, FHeight});
}

void TUpdateManager::CopyToBitmap(TCanvasBitmap &B) {
    B.SetSize(FSnapshotWidth, FSnapshotHeight);
    WithBitmapDC(B, [&](HDC dc) { DrawTo(dc, 0, 0); });
}

// --- Merging ----------------------------------------------------------------------------------

bool TUpdateManager::Stopped() const {
    return Terminated() || FAbort.load() || (FTransforming && FPassMode == 2 && FDirtyPending.load());
}

void TUpdateManager::RefreshRect(const RECT &R) {
    bool gradientEdit = false;
    for (int i = 0; i < FLayers->Count(); ++i)
        gradientEdit = gradientEdit || FLayers->Items(i).IsGradientChanging();
    if (gradientEdit)
        TakeSnapshot();
    bool sameSize = true;
    if (FLayers->Count() > 0) {
        const TLayerImage &image = FLayers->Items(0).GetImage();
        sameSize = image.Width() == FWidth && image.Height() == FHeight;
    }
    if (!sameSize) {
        MergeView(1);
    } else if (!FView->IsAtRest()) {
        MergeView(0);
        if (!FDirtyPending.load())
            MergeView(2);
    } else {
        RECT clip;
        const RECT bounds{0, 0, FWidth, FHeight};
        if (IntersectRect(&clip, &R, &bounds)) {
            const int count = clip.right - clip.left;
            for (int y = clip.top; y < clip.bottom; ++y) {
                if (Stopped())
                    break;
                void *row = nullptr;
                FEngine->MergeRow(clip.left, y, count, row, mbCheckerboard, mfMaskView);
                FBitmap->WriteRow(clip.left, y, static_cast<const std::uint32_t *>(row), count);
            }
            FBitmap->DrawRect(clip);
        }
    }
    if (!gradientEdit)
        DropSnapshot();
}

void TUpdateManager::PlaceImageCorners(std::int32_t ImageWidth, std::int32_t ImageHeight,
                                       std::int32_t ViewWidth, std::int32_t ViewHeight) {
    double cx, cy, size, angle, stretch, skew;
    FView->Decompose(cx, cy, size, angle, stretch, skew);
    skew = std::clamp(skew, -MaxSkew, MaxSkew);
    const double aspect = FView->GetAspect();
    const double hw = aspect * size / 2, hh = size / 2, k = std::tan(skew) * hh;
    const double cosA = std::cos(angle), sinA = std::sin(angle);
    const struct {
        double U, V;
        std::int32_t PX, PY;
    } points[4] = {{-(hw + k) * stretch, -hh, 0, 0},
                   {(hw - k) * stretch, -hh, ImageWidth - 1, 0},
                   {(k - hw) * stretch, hh, 0, ImageHeight - 1},
                   {(hw + k) * stretch, hh, ImageWidth - 1, ImageHeight - 1}};
    for (int i = 0; i < 4; ++i) {
        const double u = points[i].U, v = points[i].V;
        FImageCorners[i].X = (u * cosA - v * sinA + aspect / 2 + cx) * ViewWidth / aspect;
        FImageCorners[i].Y = (v * cosA + u * sinA + 0.5 + cy) * ViewHeight;
        FImageCorners[i].PX = points[i].PX;
        FImageCorners[i].PY = points[i].PY;
    }
}

TUpdateManager::TResampleMap TUpdateManager::MakeResampleMap(std::int32_t ImageWidth,
                                                             std::int32_t ImageHeight, std::int32_t ViewWidth,
                                                             std::int32_t ViewHeight,
                                                             std::int32_t TargetWidth,
                                                             std::int32_t TargetHeight) const {
    // The placed corners are the image's outer edges, and target pixels are sampled at their
    // centres: a view at rest then maps every pixel onto itself. The map gives image positions in
    // units of the image's size (0 .. 1), so that layers of other sizes share it.
    TResampleMap map;
    if (ImageWidth < 1 || ImageHeight < 1 || TargetWidth < 1 || TargetHeight < 1 || ViewWidth < 1 ||
        ViewHeight < 1)
        return map;
    const TImageCorner &origin = FImageCorners[0];
    const long double exX = FImageCorners[1].X - origin.X, exY = FImageCorners[1].Y - origin.Y;
    const long double eyX = FImageCorners[2].X - origin.X, eyY = FImageCorners[2].Y - origin.Y;
    const long double det = exX * eyY - eyX * exY;
    if (!std::isfinite(det) || std::fabs(det) < 1e-12L)
        return map; // the view squeezed the image to a line: nothing of it shows
    const long double sx = static_cast<long double>(ViewWidth) / TargetWidth;
    const long double sy = static_cast<long double>(ViewHeight) / TargetHeight;
    const long double dx = sx / 2 - origin.X, dy = sy / 2 - origin.Y;
    map.OriginX = (eyY * dx - eyX * dy) / det;
    map.OriginY = (exX * dy - exY * dx) / det;
    map.StepXX = eyY * sx / det;
    map.StepXY = -exY * sx / det;
    map.StepYX = -eyX * sy / det;
    map.StepYY = exX * sy / det;
    map.Valid = std::isfinite(map.OriginX) && std::isfinite(map.OriginY);
    return map;
}

TUpdateManager::TResampleMap TUpdateManager::PlaceView(std::int32_t ViewWidth, std::int32_t ViewHeight,
                                                       std::int32_t TargetWidth, std::int32_t TargetHeight) {
    std::int32_t imageWidth = TargetWidth, imageHeight = TargetHeight;
    if (FLayers->Count() > 0) {
        imageWidth = FLayers->Items(0).GetImage().Width();
        imageHeight = FLayers->Items(0).GetImage().Height();
    }
    PlaceImageCorners(imageWidth, imageHeight, ViewWidth, ViewHeight);
    return MakeResampleMap(imageWidth, imageHeight, ViewWidth, ViewHeight, TargetWidth, TargetHeight);
}

void TUpdateManager::MergeView(std::uint8_t Mode, TLayer *Layer) {
    struct TTransforming {
        bool &Flag;
        ~TTransforming() { Flag = false; }
    } transforming{FTransforming};
    FTransforming = true;
    FPassMode = Mode;
    if (Mode == 3) {
        if (Layer) {
            TLayerImage &image = Layer->GetImage();
            TScopeLock<TLayerImage> lock(image);
            ResampleLayerImage(*Layer);
        }
        return;
    }
    FMap = PlaceView(FWidth, FHeight, FWidth, FHeight);
    if (FWidth < 1 || FHeight < 1)
        return;
    const bool half = Mode == 0;
    const int count = half ? (FWidth + 1) / 2 : FWidth;
    const int flags = mfMaskView | (half ? mfSmallChecker : 0);
    for (int y = 0; y < FHeight; y += half ? 2 : 1) {
        if (Stopped())
            break;
        void *row = nullptr;
        FEngine->MergeRow(0, y, count, row, mbCheckerboard, flags);
        const auto *pixels = static_cast<const std::uint32_t *>(row);
        if (half)
            FBitmap->WriteRowDouble(0, y, pixels, count);
        else
            FBitmap->WriteRow(0, y, pixels, count);
    }
    FBitmap->Draw();
}

bool TUpdateManager::Follows(const TLayer &Layer) const {
    return FForceTransform || Layer.GetEditable();
}

void TUpdateManager::GetLayerRow(TObject *Sender, TLayer *Layer, std::int32_t X, std::int32_t Y, int Count,
                                 std::uint32_t *Row) {
    if (!FTransforming) {
        GetRestingLayerRow(Sender, Layer, X, Y, Count, Row);
        return;
    }
    TLayerImage &image = Layer->GetImage();
    TScopeLock<TLayerImage> lock(image);
    ResampleRow(*Layer, X, Y, Count, Row);
}

void TUpdateManager::GetRestingLayerRow(TObject *, TLayer *Layer, std::int32_t X, std::int32_t Y, int Count,
                                        std::uint32_t *Row) {
    TLayerImage &image = Layer->GetImage();
    TScopeLock<TLayerImage> lock(image);
    const std::uint32_t outside = UncalculatedColor(image);
    // Layers of another size than the view show what they have; the rest is not calculated.
    const int first = std::clamp(-X, 0, Count);
    const int last = Y >= 0 && Y < image.Height() ? std::clamp(image.Width() - X, first, Count) : first;
    std::fill(Row, Row + first, outside);
    std::fill(Row + last, Row + Count, outside);
    if (last <= first)
        return;
    const std::uint8_t *source = image.PixelPtr(X + first, Y);
    switch (image.Mode()) {
    case lmCode:
        ConvertIndexRow(reinterpret_cast<const std::uint16_t *>(source), Row + first, last - first,
                        image.ColorTable());
        break;
    case lmColor:
        std::memcpy(Row + first, source, static_cast<std::size_t>(last - first) * 4);
        break;
    default:
        for (int k = first; k < last; ++k)
            Row[k] = image.GetPixelColor(X + k, Y);
        break;
    }
}

void TUpdateManager::ResampleRow(TLayer &Layer, std::int32_t X, std::int32_t Y, int Count,
                                 std::uint32_t *Row) {
    const TLayerImage &image = Layer.GetImage();
    const int stride = FPassMode == 0 ? 2 : 1;
    const int imageWidth = image.Width(), imageHeight = image.Height();
    const std::uint32_t outside = UncalculatedColor(image);
    if (imageWidth < 1 || imageHeight < 1 || FWidth < 1 || FHeight < 1) {
        std::fill(Row, Row + Count, outside);
        return;
    }
    if (!Follows(Layer)) {
        // Shown unmoved, scaled to the display by nearest neighbour.
        const std::int64_t sourceY = static_cast<std::int64_t>(imageHeight) * Y / FHeight;
        if (sourceY < 0 || sourceY >= imageHeight) {
            std::fill(Row, Row + Count, outside);
            return;
        }
        const std::int64_t step = (static_cast<std::int64_t>(imageWidth) << 32) / FWidth;
        for (int k = 0; k < Count; ++k) {
            const std::int64_t column = ((static_cast<std::int64_t>(X + k) * stride) * step) >> 32;
            Row[k] = column >= 0 && column < imageWidth
                         ? image.GetPixelColor(static_cast<int>(column), static_cast<int>(sourceY))
                         : outside;
        }
        return;
    }
    if (!FMap.Valid) {
        std::fill(Row, Row + Count, outside);
        return;
    }
    const long double column = static_cast<long double>(X) * stride;
    const long double ax = (FMap.OriginX + column * FMap.StepXX + Y * FMap.StepYX) * imageWidth;
    const long double ay = (FMap.OriginY + column * FMap.StepXY + Y * FMap.StepYY) * imageHeight;
    ScanRow(
        ax, FMap.StepXX * stride * imageWidth, ay, FMap.StepXY * stride * imageHeight, imageWidth,
        imageHeight, Count, [&](int k, int px, int py) { Row[k] = image.GetPixelColor(px, py); },
        [&](int k) { Row[k] = outside; });
}

void TUpdateManager::ResampleLayerImage(TLayer &Layer) {
    TLayerImage &image = Layer.GetImage();
    const int width = image.Width(), height = image.Height(), bytes = image.BytesPerPixel();
    if (width < 1 || height < 1 || !image.Pixels())
        return;
    // The move is worked out on the image's own grid, so it needs no pixels of the display (which may
    // have none).
    const TResampleMap map = PlaceView(width, height, width, height);
    std::uint8_t fill[16];
    UncalculatedPixel(image, fill);
    const std::size_t rowBytes = static_cast<std::size_t>(width) * bytes;
    std::vector<std::uint8_t> moved(rowBytes * static_cast<std::size_t>(height));
    for (int y = 0; y < height; ++y) {
        std::uint8_t *target = moved.data() + rowBytes * static_cast<std::size_t>(y);
        auto outside = [&](int k) { std::memcpy(target + static_cast<std::size_t>(k) * bytes, fill, bytes); };
        if (!map.Valid) {
            for (int k = 0; k < width; ++k)
                outside(k);
            continue;
        }
        ScanRow((map.OriginX + y * map.StepYX) * width, map.StepXX * width,
                (map.OriginY + y * map.StepYY) * height, map.StepXY * height, width, height, width,
                [&](int k, int px, int py) {
                    std::memcpy(target + static_cast<std::size_t>(k) * bytes, image.PixelPtr(px, py), bytes);
                },
                outside);
    }
    std::memcpy(image.Pixels(), moved.data(), moved.size());
}

// --- Animation --------------------------------------------------------------------------------

TUpdateManager::TAnimationOptions TUpdateManager::GetAnimationOptions() const {
    TAnimationOptions options;
    if (TConfigManager *config = ConfigManager(); config && config->Fractal) {
        const TFractalConfiguration &fractal = *config->Fractal;
        options.Animation = fractal.Animation;
        options.Duration = fractal.AnimationDuration;
        options.LimitSize = fractal.AnimationLimitSize;
        options.MaxWidth = fractal.AnimationMaxWidth;
        options.MaxHeight = fractal.AnimationMaxHeight;
    }
    return options;
}

bool TUpdateManager::AnimationAllowed() const {
    const TAnimationOptions options = GetAnimationOptions();
    if (!(options.Animation == 2 || (options.Animation == 1 && FLayers->Count() == 1)))
        return false;
    if (options.LimitSize && (FWidth > options.MaxWidth || FHeight > options.MaxHeight))
        return false;
    if (FWidth < 1 || FHeight < 1)
        return false;
    for (int i = 0; i < FLayers->Count(); ++i)
        if (FLayers->Items(i).GetEditable())
            return true;
    return false;
}

void TUpdateManager::AnimateCorners(const TAnimatedCorners &NewCorners, bool Animate) {
    const bool allowed = Animate && AnimationAllowed();
    TUpdateScope update(*this);
    FAbort = false;
    double cx, cy, size, angle, stretch, skew;
    NewCorners.Decompose(cx, cy, size, angle, stretch, skew);
    // Logarithms of a size or stretch of 0 or below have no path to animate along.
    if (allowed && size > 0 && stretch > 0 && std::isfinite(size) && std::isfinite(stretch)) {
        const int duration = std::max(GetAnimationOptions().Duration, 1);
        const DWORD start = GetTickCount();
        for (;;) {
            const DWORD elapsed = GetTickCount() - start;
            double s = std::clamp(static_cast<double>(elapsed) / duration, 0.0, 1.0);
            s = 3 * s * s - 2 * s * s * s;
            const double zoom = std::exp(std::log(size) * s);
            double tx, ty;
            if (std::fabs(size - 1) <= 0.01) {
                tx = cx * s;
                ty = cy * s;
            } else {
                tx = (zoom - 1) / (size - 1) * cx;
                ty = (zoom - 1) / (size - 1) * cy;
            }
            const double rx = tx * std::cos(angle) + ty * std::sin(angle);
            const double ry = ty * std::cos(angle) - tx * std::sin(angle);
            FView->Reset();
            FView->Scale(zoom);
            FView->Skew(skew * s);
            FView->Stretch(std::exp(std::log(stretch) * s));
            FView->Translate(rx, ry);
            FView->Rotate(angle * s);
            MergeView(0);
            if (elapsed > static_cast<DWORD>(duration) || Terminated())
                break;
        }
    }
    FView->Assign(NewCorners);
    OnApplyView(this);
    for (int i = 0; i < FLayers->Count(); ++i) {
        TLayer &layer = FLayers->Items(i);
        if (Follows(layer))
            MergeView(3, &layer);
    }
    FView->Reset();
    DropSnapshot();
    RefreshRect(RECT{0, 0, FWidth, FHeight});
}
