#include "FracCompute.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "CompDefinitions.h"
#include "CompPixelContext.h"
#include "FracColoring.h"
#include "FracContext.h"
#include "FracFormula.h"
#include "FracMapping.h"
#include "HugeBase.h"
#include "HugeFPU.h"
#include "HugeMath.h"

const char *const UnsupportedResumeState = "Unsupported resume state";

namespace {

[[noreturn]] void RefuseResumeState() {
    throw EComputeError(UnsupportedResumeState);
}

std::int64_t Area(const TLayerRect &R) {
    return static_cast<std::int64_t>(R.Right - R.Left) * (R.Bottom - R.Top);
}

// clamp(image height div 300 + 3, 2, 4).
std::int32_t StartExponentFor(const TLayerImage *Image) {
    const std::int32_t height = Image ? Image->Height() : 0;
    return std::clamp(height / 300 + 3, 2, 4);
}

} // namespace

bool IsEmptyRect(const TLayerRect &R) {
    return R.Right <= R.Left || R.Bottom <= R.Top;
}

TLayerRect UnionRect(const TLayerRect &A, const TLayerRect &B) {
    if (IsEmptyRect(A))
        return B;
    if (IsEmptyRect(B))
        return A;
    return {std::min(A.Left, B.Left), std::min(A.Top, B.Top), std::max(A.Right, B.Right),
            std::max(A.Bottom, B.Bottom)};
}

bool RectsIntersect(const TLayerRect &A, const TLayerRect &B) {
    return !IsEmptyRect(A) && !IsEmptyRect(B) && A.Left < B.Right && B.Left < A.Right && A.Top < B.Bottom &&
           B.Top < A.Bottom;
}

bool RectInside(const TLayerRect &Inner, const TLayerRect &Outer) {
    return !IsEmptyRect(Inner) && Inner.Left >= Outer.Left && Inner.Top >= Outer.Top &&
           Inner.Right <= Outer.Right && Inner.Bottom <= Outer.Bottom;
}

// ---------------------------------------------------------------------------------------------
// TAntiAliasingSettings

void TAntiAliasingSettings::Assign(const TAntiAliasingSettings &Source) {
    Depth = Source.Depth;
    Enabled = Source.Enabled;
    Split3x3 = Source.Split3x3;
    Threshold = Source.Threshold;
}

std::int32_t TAntiAliasingSettings::UsedDepth() const {
    return std::clamp(Depth, 1, 4);
}

// ---------------------------------------------------------------------------------------------
// TLayerStatistics

TLayerStatistics::TLayerStatistics() {
    for (auto &bin : FHistogram)
        bin.store(0, std::memory_order_relaxed);
    SetMaxIter(1);
}

void TLayerStatistics::SetMaxIter(std::int32_t MaxIter) {
    FMaxIter = std::max(MaxIter, 1);
    const std::uint32_t last = static_cast<std::uint32_t>(FMaxIter - 1);
    FShift = 0;
    while ((last >> FShift) >= HistogramSize)
        ++FShift;
    FBinCount = static_cast<std::int32_t>(last >> FShift);
}

void TLayerStatistics::Reset(std::uint32_t Total, std::int32_t MaxIter) {
    FCalculated.store(0, std::memory_order_relaxed);
    for (auto &bin : FHistogram)
        bin.store(0, std::memory_order_relaxed);
    FInside.store(0, std::memory_order_relaxed);
    FMaxIteration.store(0, std::memory_order_relaxed);
    FMinIteration.store(0, std::memory_order_relaxed);
    FCounted.store(0, std::memory_order_relaxed);
    FTotal = Total;
    SetMaxIter(MaxIter);
}

bool TLayerStatistics::TakeCount() {
    std::uint32_t counted = FCounted.load(std::memory_order_relaxed);
    do {
        if (counted >= FTotal)
            return false;
    } while (!FCounted.compare_exchange_weak(counted, counted + 1, std::memory_order_relaxed));
    return true;
}

void TLayerStatistics::AddPixel(std::int32_t Iter) {
    if (Suspended() || !TakeCount())
        return;
    FCalculated.fetch_add(1, std::memory_order_relaxed);
    if (Iter >= FMaxIter) {
        FInside.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    std::int32_t current = FMaxIteration.load(std::memory_order_relaxed);
    while (Iter > current && !FMaxIteration.compare_exchange_weak(current, Iter, std::memory_order_relaxed)) {
    }
    current = FMinIteration.load(std::memory_order_relaxed);
    while ((current == 0 || Iter < current) &&
           !FMinIteration.compare_exchange_weak(current, Iter, std::memory_order_relaxed)) {
    }
    const std::int32_t clamped = std::max(Iter, 0);
    std::int32_t bin = (clamped > 0 ? clamped - 1 : 0) >> FShift;
    // The last bin in use takes what lies beyond it, so that no count falls off the display.
    bin = std::min(bin, std::max(FBinCount - 1, 0));
    FHistogram[bin].fetch_add(1, std::memory_order_relaxed);
}

void TLayerStatistics::CountGuessed() {
    if (!Suspended())
        TakeCount();
}

void TLayerStatistics::CountSkipped() {
    if (!Suspended())
        TakeCount();
}

void TLayerStatistics::CountPixel() {
    TakeCount();
}

std::uint32_t TLayerStatistics::GetBinCount(int Index) const {
    if (Index < 0 || Index >= HistogramSize)
        return 0;
    return FHistogram[Index].load(std::memory_order_relaxed);
}

std::uint64_t TLayerStatistics::HistogramSum() const {
    std::uint64_t sum = 0;
    for (const auto &bin : FHistogram)
        sum += bin.load(std::memory_order_relaxed);
    return sum;
}

namespace {

// One statistics record as it lies in a stream.
struct TStatisticsRecord {
    std::uint32_t Total, MaxIter, Counted, Calculated, Inside, MinIteration, MaxIteration;
    std::uint32_t Histogram[TLayerStatistics::HistogramSize];
};

// Reads a whole record and checks that its counts fit together.
TStatisticsRecord ReadStatisticsRecord(TStream &Stream) {
    const std::uint32_t version = Stream.ReadUInt32();
    if (version > 1)
        RefuseResumeState();
    TStatisticsRecord record{};
    record.Total = Stream.ReadUInt32();
    record.MaxIter = Stream.ReadUInt32();
    record.Counted = Stream.ReadUInt32();
    record.Calculated = Stream.ReadUInt32();
    record.Inside = Stream.ReadUInt32();
    if (version == 1) {
        record.MinIteration = Stream.ReadUInt32();
        record.MaxIteration = Stream.ReadUInt32();
    }
    std::uint64_t sum = 0;
    for (auto &bin : record.Histogram) {
        bin = Stream.ReadUInt32();
        sum += bin;
    }
    const bool sane = record.MaxIter >= 1 && record.MaxIter <= 0x7FFFFFFF && record.Counted <= record.Total &&
                      record.Calculated <= record.Counted && record.Inside <= record.Calculated &&
                      sum <= record.Calculated - record.Inside && record.MaxIteration < record.MaxIter &&
                      record.MinIteration <= record.MaxIteration;
    if (!sane)
        RefuseResumeState();
    return record;
}

} // namespace

void TLayerStatistics::ReadResumeState(TStream &Stream) {
    const TStatisticsRecord record = ReadStatisticsRecord(Stream);
    FTotal = record.Total;
    SetMaxIter(static_cast<std::int32_t>(record.MaxIter));
    FCounted.store(record.Counted, std::memory_order_relaxed);
    FCalculated.store(record.Calculated, std::memory_order_relaxed);
    FInside.store(record.Inside, std::memory_order_relaxed);
    FMinIteration.store(static_cast<std::int32_t>(record.MinIteration), std::memory_order_relaxed);
    FMaxIteration.store(static_cast<std::int32_t>(record.MaxIteration), std::memory_order_relaxed);
    for (int i = 0; i < HistogramSize; ++i)
        FHistogram[i].store(record.Histogram[i], std::memory_order_relaxed);
}

void TLayerStatistics::WriteResumeState(TStream &Stream) const {
    Stream.WriteUInt32(1);
    Stream.WriteUInt32(FTotal);
    Stream.WriteUInt32(static_cast<std::uint32_t>(FMaxIter));
    Stream.WriteUInt32(Counted());
    Stream.WriteUInt32(Calculated());
    Stream.WriteUInt32(Inside());
    Stream.WriteUInt32(static_cast<std::uint32_t>(MinIteration()));
    Stream.WriteUInt32(static_cast<std::uint32_t>(MaxIteration()));
    for (int i = 0; i < HistogramSize; ++i)
        Stream.WriteUInt32(GetBinCount(i));
}

void TLayerStatistics::MergeRemoteState(TLayerStatistics &Previous, TStream &Stream) {
    const TStatisticsRecord snapshot = ReadStatisticsRecord(Stream);
    // own + snapshot - previous, never above total; previous takes the snapshot's value.
    auto merge = [this](std::atomic<std::uint32_t> &Own, std::atomic<std::uint32_t> &Prev,
                        std::uint32_t Value) {
        const std::int64_t merged = static_cast<std::int64_t>(Own.load(std::memory_order_relaxed)) + Value -
                                    Prev.load(std::memory_order_relaxed);
        Own.store(static_cast<std::uint32_t>(std::clamp<std::int64_t>(merged, 0, FTotal)),
                  std::memory_order_relaxed);
        Prev.store(Value, std::memory_order_relaxed);
    };
    merge(FCounted, Previous.FCounted, snapshot.Counted);
    merge(FCalculated, Previous.FCalculated, snapshot.Calculated);
    merge(FInside, Previous.FInside, snapshot.Inside);
    const auto snapshotMin = static_cast<std::int32_t>(snapshot.MinIteration);
    const auto snapshotMax = static_cast<std::int32_t>(snapshot.MaxIteration);
    const std::int32_t ownMin = MinIteration();
    if (snapshotMin != 0 && (ownMin == 0 || ownMin > snapshotMin))
        FMinIteration.store(snapshotMin, std::memory_order_relaxed);
    if (snapshotMax > MaxIteration())
        FMaxIteration.store(snapshotMax, std::memory_order_relaxed);
    for (int i = 0; i < FBinCount && i < HistogramSize; ++i) {
        const std::int64_t merged =
            static_cast<std::int64_t>(GetBinCount(i)) + snapshot.Histogram[i] - Previous.GetBinCount(i);
        FHistogram[i].store(static_cast<std::uint32_t>(std::max<std::int64_t>(merged, 0)),
                            std::memory_order_relaxed);
        Previous.FHistogram[i].store(snapshot.Histogram[i], std::memory_order_relaxed);
    }
}

// ---------------------------------------------------------------------------------------------
// TUpdateRectList, TUpdateRect

TUpdateRectList::TUpdateRectList() : FLock(std::make_unique<TCriticalSection>()) {}

TUpdateRectList::~TUpdateRectList() = default;

void TUpdateRectList::AddUpdateRect(TUpdateRect *Rect) {
    TScopeLock<TCriticalSection> lock(*FLock);
    FUpdateRects.push_back(Rect);
}

void TUpdateRectList::RemoveUpdateRect(TUpdateRect *Rect) {
    TScopeLock<TCriticalSection> lock(*FLock);
    const auto it = std::find(FUpdateRects.begin(), FUpdateRects.end(), Rect);
    if (it != FUpdateRects.end())
        FUpdateRects.erase(it);
}

void TUpdateRectList::IncludeRect(const TLayerRect &Rect) {
    if (IsEmptyRect(Rect))
        return;
    const int count = static_cast<int>(FRects.size());
    for (int i = count - 1; i >= 0 && i >= count - 4; --i) {
        TLayerRect &entry = FRects[static_cast<std::size_t>(i)];
        const TLayerRect united = UnionRect(entry, Rect);
        if (Area(entry) + Area(Rect) >= Area(united)) {
            entry = united;
            return;
        }
    }
    if (FRects.size() == FRects.capacity())
        FRects.reserve(FRects.capacity() + 16);
    FRects.push_back(Rect);
}

void TUpdateRectList::ExtractRects(std::vector<TLayerRect> &Rects) {
    TScopeLock<TCriticalSection> lock(*FLock);
    Rects.clear();
    Rects.swap(FRects);
    for (TUpdateRect *rect : FUpdateRects)
        IncludeRect(rect->GetRect());
}

TUpdateRect::TUpdateRect(TUpdateRectList *List) : FList(List) {
    if (FList)
        FList->AddUpdateRect(this);
}

TUpdateRect::~TUpdateRect() {
    if (FList)
        FList->RemoveUpdateRect(this);
}

void TUpdateRect::SetRect(const TLayerRect &Rect) {
    if (!FList) {
        FRect = Rect;
        return;
    }
    TScopeLock<TUpdateRectList> lock(*FList);
    FRect = Rect;
    FList->IncludeRect(Rect);
}

void TUpdateRect::AddRect(const TLayerRect &Rect) {
    if (!FList)
        return;
    TScopeLock<TUpdateRectList> lock(*FList);
    FList->IncludeRect(Rect);
}

// ---------------------------------------------------------------------------------------------
// TCompute

TCompute::TCompute(TMapping *AMapping, TLayerStatistics *AStatistics, TUpdateRectList *UpdateRects,
                   TLayerImage *AImage, TColoring *AOutsideColoring, TColoring *AInsideColoring,
                   TFormula *AFormula)
    : AntiAliasing(std::make_unique<TAntiAliasingSettings>()), Formula(AFormula), Image(AImage),
      InsideColoring(AInsideColoring), Mapping(AMapping), OutsideColoring(AOutsideColoring),
      Statistics(AStatistics), UpdateRect(std::make_unique<TUpdateRect>(UpdateRects)),
      FContextLock(std::make_unique<TCriticalSection>()) {
    // Known before the first run, so that a piece read from a resume record can be re-cut.
    StartExponent = StartExponentFor(Image);
}

TCompute::~TCompute() {
    FreeRun();
}

void TCompute::Stop() {
    TScopeLock<TCriticalSection> lock(*FContextLock);
    FStopFlag.store(true, std::memory_order_relaxed);
    // The byte the generated loops test.
    if (auto *context = static_cast<TPixelContext *>(FContext))
        context->StopFlag = 1;
}

void TCompute::Calculate() {
    TFormulaControlWordScope controlWord;
    StartExponent = StartExponentFor(Image);
    try {
        Precision = Formula ? Formula->GetPrecision() : pmDouble;
        if (Precision == pmArbitrary)
            HugeProcessor = std::make_unique<THugeProcessor>(Formula->GetDigits());
        if (InsideColoring)
            InsideMapper = std::make_unique<TColoringMapper>(*InsideColoring);
        if (OutsideColoring)
            OutsideMapper = std::make_unique<TColoringMapper>(*OutsideColoring);
        if (Formula)
            InitContext();
        // Generated code runs from here on: a processor fault becomes an exception at the guard,
        // and everything this run made is held by the piece, so FreeRun gives it back.
        CallWithFaultGuard(
            [](void *Data) {
                auto &self = *static_cast<TCompute *>(Data);
                if (self.FContext) {
                    void *processor = self.HugeProcessor.get();
                    if (self.Mapping)
                        self.Mapping->ExecuteGlobals(self.FContext, processor);
                    self.Formula->ExecuteGlobal(self.FContext, processor);
                    if (self.InsideColoring)
                        self.InsideColoring->ExecuteGlobal(self.FContext, processor);
                    if (self.OutsideColoring)
                        self.OutsideColoring->ExecuteGlobal(self.FContext, processor);
                }
                if (self.AntiAliasing->Enabled)
                    self.CalculateAntiAliased();
                else
                    self.CalculatePixels();
            },
            this);
    } catch (...) {
        FreeRun();
        throw;
    }
    FreeRun();
}

void TCompute::FreeRun() noexcept {
    try {
        FreeContext();
    } catch (...) {
        // Releasing the run's data never stops the release of the rest.
    }
    InsideMapper.reset();
    OutsideMapper.reset();
    HugeProcessor.reset();
    FStopFlag.store(false, std::memory_order_relaxed);
}

void TCompute::InitContext() {
    FContextBlock = std::make_unique<TPixelContextBlock>(Precision);
    {
        TScopeLock<TCriticalSection> lock(*FContextLock);
        FContext = FContextBlock->Bytes();
        FContextBlock->Common().StopFlag = FStopFlag.load(std::memory_order_relaxed) ? 1 : 0;
    }
    TPixelContext &context = FContextBlock->Common();
    if (Precision == pmArbitrary) {
        InitHugeContextValues(FContext, Formula->GetDigits());
        FHugeValues = true;
    }
    if (Mapping) {
        Mapping->InitContext(FContext);
        FMappingStarted = true;
    }
    Formula->InitContext(FContext);
    FFormulaStarted = true;
    if (InsideColoring) {
        InsideColoring->SetupContext(FContext);
        FInsideStarted = true;
    }
    if (OutsideColoring) {
        OutsideColoring->SetupContext(FContext);
        FOutsideStarted = true;
    }
    context.InsideMapper = InsideMapper.get();
    context.OutsideMapper = OutsideMapper.get();
    if ((InsideColoring && InsideColoring->GetUsesOrbit()) ||
        (OutsideColoring && OutsideColoring->GetUsesOrbit()))
        AllocateOrbit();

    const TContextValueOffsets &values = FContextBlock->Values();
    const long double width = context.Width, height = context.Height;
    if (Precision == pmDouble) {
        FContextBlock->At<double>(values.ScreenMax) = static_cast<double>(width);
        FContextBlock->At<double>(values.ScreenMax + values.ImaginaryStep) = static_cast<double>(height);
    } else if (Precision == pmExtended) {
        FContextBlock->At<long double>(values.ScreenMax) = width;
        FContextBlock->At<long double>(values.ScreenMax + values.ImaginaryStep) = height;
    } else {
        if (auto *number = FContextBlock->At<THugeFloatBase *>(values.ScreenMax))
            number->SetExtended(width);
        if (auto *number = FContextBlock->At<THugeFloatBase *>(values.ScreenMax + values.ImaginaryStep))
            number->SetExtended(height);
    }
    FPixelSize = static_cast<double>(FContextBlock->ReadValue(values.PixelScale));

    const TPeriodicityWindow window = PeriodicityWindow(context.MaxIter);
    context.InitialMask = window.InitialMask;
    context.SavesPerStep = window.SavesPerStep;
    context.PeriodicityThreshold = 0;
    static constexpr double toleranceFactor[4] = {0, 0.25, 0.5, 1};
    context.Tolerance = static_cast<float>(FPixelSize * toleranceFactor[context.PeriodicityMode & 3]);
}

void TCompute::AllocateOrbit() {
    TPixelContext &context = FContextBlock->Common();
    const std::uint32_t bytesPerPoint = Precision == pmDouble ? 16 : Precision == pmExtended ? 20 : 8;
    const std::uint64_t size = OrbitArraySize(context.MaxIter, bytesPerPoint) + 16;
    if (size > 0x7FFFFFFF)
        throw EOutOfMemory("Out of memory");
    FOrbitBlock = std::make_unique<std::uint8_t[]>(static_cast<std::size_t>(size));
    const std::uintptr_t start =
        (reinterpret_cast<std::uintptr_t>(FOrbitBlock.get()) + 15) & ~std::uintptr_t{15};
    context.OrbitAllocation = FOrbitBlock.get();
    context.OrbitStart = reinterpret_cast<void *>(start);
    context.OrbitWrite = context.OrbitStart;
    if (Precision == pmArbitrary) {
        FOrbitPoints = context.MaxIter < 0 ? 1 : context.MaxIter + 1;
        auto *slots = static_cast<THugeFloat **>(context.OrbitStart);
        std::fill(slots, slots + 2 * FOrbitPoints, nullptr);
        FOrbitNumbers = true;
        for (std::int32_t i = 0; i < 2 * FOrbitPoints; ++i)
            slots[i] = new THugeFloat(Formula->GetDigits());
    }
}

void TCompute::FreeContext() {
    if (!FContextBlock)
        return;
    {
        TScopeLock<TCriticalSection> lock(*FContextLock);
        FContext = nullptr;
    }
    void *const bytes = FContextBlock->Bytes();
    TPixelContext &context = FContextBlock->Common();
    if (FOutsideStarted) {
        FOutsideStarted = false;
        OutsideColoring->ReleaseContext(bytes);
    }
    if (FInsideStarted) {
        FInsideStarted = false;
        InsideColoring->ReleaseContext(bytes);
    }
    if (FFormulaStarted) {
        FFormulaStarted = false;
        Formula->DoneContext(bytes);
    }
    if (FMappingStarted) {
        FMappingStarted = false;
        Mapping->DoneContext(bytes);
    }
    if (FOrbitNumbers) {
        FOrbitNumbers = false;
        auto *slots = static_cast<THugeFloat **>(context.OrbitStart);
        for (std::int32_t i = 0; i < 2 * FOrbitPoints; ++i)
            delete slots[i];
    }
    context.OrbitStart = context.OrbitWrite = context.OrbitAllocation = nullptr;
    FOrbitBlock.reset();
    if (FHugeValues) {
        FHugeValues = false;
        DoneHugeContextValues(bytes);
    }
    FContextBlock.reset();
}

namespace {

// A number in [0, 1) that depends only on the sample position and Salt, so that a resumed or
// re-cut run gives the same RANDOM values as an uninterrupted one.
double PositionRandom(std::int32_t X, std::int32_t Y, std::uint32_t Salt) {
    std::uint64_t z = (static_cast<std::uint64_t>(static_cast<std::uint32_t>(X)) << 32) ^
                      static_cast<std::uint32_t>(Y) ^ (static_cast<std::uint64_t>(Salt) << 16);
    z += 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    return static_cast<double>(z >> 11) * (1.0 / 9007199254740992.0);
}

} // namespace

std::int32_t TCompute::ComputePoint(std::int32_t X, std::int32_t Y, std::int32_t NY, std::int32_t NX) {
    TPixelContext &context = FContextBlock->Common();
    const TContextValueOffsets &values = FContextBlock->Values();
    long double sampleX = X, sampleY = Y;
    std::int32_t pixelX = X, pixelY = Y;
    if (NX != 1 || NY != 1) {
        sampleX = static_cast<long double>(X) / NX;
        sampleY = static_cast<long double>(Y) / NY;
        pixelX = static_cast<std::int32_t>(std::floor(sampleX));
        pixelY = static_cast<std::int32_t>(std::floor(sampleY));
    }
    const std::int32_t originX = Mapping ? Mapping->GetOriginX() : 0;
    const std::int32_t originY = Mapping ? Mapping->GetOriginY() : 0;
    context.X = pixelX + originX;
    context.Y = pixelY + originY;
    sampleX += originX;
    sampleY += originY;
    const double random1 = PositionRandom(X, Y, static_cast<std::uint32_t>(NX) * 7919u + 1);
    const double random2 = PositionRandom(X, Y, static_cast<std::uint32_t>(NY) * 104729u + 2);
    const std::int32_t step = values.ImaginaryStep;
    if (Precision == pmDouble) {
        FContextBlock->At<double>(values.ScreenPixel) = static_cast<double>(sampleX);
        FContextBlock->At<double>(values.ScreenPixel + step) = static_cast<double>(sampleY);
        for (std::int32_t offset :
             {values.Z, values.Z + step, values.SavedZ, values.SavedZ + step, values.Index})
            FContextBlock->At<double>(offset) = 0;
        FContextBlock->At<double>(values.Random) = random1;
        FContextBlock->At<double>(values.Random + step) = random2;
    } else if (Precision == pmExtended) {
        FContextBlock->At<long double>(values.ScreenPixel) = sampleX;
        FContextBlock->At<long double>(values.ScreenPixel + step) = sampleY;
        for (std::int32_t offset :
             {values.Z, values.Z + step, values.SavedZ, values.SavedZ + step, values.Index})
            FContextBlock->At<long double>(offset) = 0;
        FContextBlock->At<long double>(values.Random) = random1;
        FContextBlock->At<long double>(values.Random + step) = random2;
    } else {
        auto set = [this](std::int32_t Offset, long double Value) {
            if (auto *number = FContextBlock->At<THugeFloatBase *>(Offset)) {
                if (Value == 0)
                    number->SetZero();
                else
                    number->SetExtended(Value);
            }
        };
        set(values.ScreenPixel, sampleX);
        set(values.ScreenPixel + step, sampleY);
        for (std::int32_t offset :
             {values.Z, values.Z + step, values.SavedZ, values.SavedZ + step, values.Index})
            set(offset, 0);
        set(values.Random, random1);
        set(values.Random + step, random2);
    }
    context.WhiteSq = ((context.X + context.Y) & 1) != 0;
    if (context.PeriodicityMode == 0 || (InsideColoring && InsideColoring->GetTransfer() != 0))
        context.PeriodicityThreshold = 0;
    context.PeriodicityMask = context.InitialMask;
    context.SavesLeft = context.SavesPerStep;
    std::fill(std::begin(context.Color), std::end(context.Color), 0.0f);
    context.Solid = 0;

    std::int32_t solidCode = 0;
    if (Mapping)
        solidCode = NX == 1 && NY == 1 ? Mapping->MapPixel(FContext, HugeProcessor.get())
                                       : MapSample(sampleX, sampleY);
    if (solidCode != 0) {
        if (!IsStopping() && Statistics)
            Statistics->CountSkipped();
        return solidCode;
    }
    context.OrbitWrite = context.OrbitStart;
    Formula->Iterate(FContext, HugeProcessor.get());
    const std::int32_t done = context.IterationsDone;
    if (!IsStopping() && Statistics)
        Statistics->AddPixel(done);
    std::int32_t code = 0;
    if (done >= context.MaxIter) {
        context.PeriodicityThreshold = 0xFFFFFFFFu;
        if (context.Solid || !InsideColoring || InsideColoring->GetTransfer() == 0)
            code = InsideSolidCode;
    } else {
        context.PeriodicityThreshold = static_cast<std::uint32_t>(std::max(context.MaxIter - done - 10, 0));
        if (context.Solid || !OutsideColoring || OutsideColoring->GetTransfer() == 0)
            code = OutsideSolidCode;
    }
    if ((InsideColoring && InsideColoring->GetOutputMode() == 2) ||
        (OutsideColoring && OutsideColoring->GetOutputMode() == 2))
        for (float &channel : context.Color)
            channel = std::clamp(channel, 0.0f, 1.0f);
    return code;
}

std::int32_t TCompute::MapSample(long double X, long double Y) {
    // The mapping maps the context's integer pixel; a sample between pixels is mapped at its own
    // position, then the transformations run on it as they do for a pixel.
    const TContextValueOffsets &values = FContextBlock->Values();
    const TLocationMapper &mapper = Mapping->GetMapper();
    if (const auto *doubleMapper = dynamic_cast<const TFloatMapper<double> *>(&mapper)) {
        double re, im;
        doubleMapper->MapPoint(X, Y, re, im);
        FContextBlock->At<double>(values.Pixel) = re;
        FContextBlock->At<double>(values.Pixel + values.ImaginaryStep) = im;
    } else if (const auto *extendedMapper = dynamic_cast<const TFloatMapper<long double> *>(&mapper)) {
        long double re, im;
        extendedMapper->MapPoint(X, Y, re, im);
        FContextBlock->At<long double>(values.Pixel) = re;
        FContextBlock->At<long double>(values.Pixel + values.ImaginaryStep) = im;
    } else if (const auto *hugeMapper = dynamic_cast<const THugeMapper *>(&mapper);
               hugeMapper && HugeProcessor) {
        auto *re = FContextBlock->At<THugeFloatBase *>(values.Pixel);
        auto *im = FContextBlock->At<THugeFloatBase *>(values.Pixel + values.ImaginaryStep);
        if (re && im)
            hugeMapper->MapPoint(X, Y, *HugeProcessor, *re, *im);
    } else {
        mapper.MapPixel(FContext, HugeProcessor.get());
    }
    return Mapping->ApplyTransformations(FContext, HugeProcessor.get());
}

void TCompute::CalculatePixel(std::int32_t X, std::int32_t Y) {
    const std::int32_t code = ComputePoint(X, Y, 1, 1);
    if (code != 0) {
        Image->SetCode(X, Y, code);
        return;
    }
    const TPixelContext &context = FContextBlock->Common();
    const bool inside = context.IterationsDone >= context.MaxIter;
    const TColoring *coloring = inside ? InsideColoring : OutsideColoring;
    if (coloring->GetOutputMode() == 2) {
        Image->SetColor(X, Y, {context.Color[0], context.Color[1], context.Color[2], context.Color[3]});
        return;
    }
    const TColoringMapper &mapper = inside ? *InsideMapper : *OutsideMapper;
    Image->SetIndex(X, Y, mapper.MapPixel(FContext));
}

void TCompute::CalculateColor(std::int32_t X, std::int32_t Y, TFloatColor &Color, std::int32_t NX,
                              std::int32_t NY) {
    const std::int32_t code = ComputePoint(X, Y, NY, NX);
    if (code != 0) {
        Color = Image->CodeColor(code);
        return;
    }
    const TPixelContext &context = FContextBlock->Common();
    const bool inside = context.IterationsDone >= context.MaxIter;
    const TColoring *coloring = inside ? InsideColoring : OutsideColoring;
    if (coloring->GetOutputMode() == 2) {
        Color = {context.Color[0], context.Color[1], context.Color[2], context.Color[3]};
        return;
    }
    const TColoringMapper &mapper = inside ? *InsideMapper : *OutsideMapper;
    Color = Image->GradientColor(mapper.MapPixel(FContext));
}

void TCompute::ReadResumeState(TStream &Stream) {
    const std::uint32_t version = Stream.ReadUInt32();
    if (version != 0)
        RefuseResumeState();
    TLayerRect rect;
    rect.Left = Stream.ReadInt32();
    rect.Top = Stream.ReadInt32();
    rect.Right = Stream.ReadInt32();
    rect.Bottom = Stream.ReadInt32();
    std::uint8_t state = Stream.ReadUInt8();
    std::int32_t pass = Stream.ReadInt32();
    const std::int32_t resumeX = Stream.ReadInt32();
    const std::int32_t resumeY = Stream.ReadInt32();
    if (state > psDone || IsEmptyRect(rect) || pass < -1 || pass > 4)
        RefuseResumeState();
    if (state == psInterrupted &&
        (resumeX < rect.Left || resumeX >= rect.Right || resumeY < rect.Top || resumeY >= rect.Bottom))
        RefuseResumeState();
    if (state == psRunning) {
        // Writers stop a run first; a piece stored while running starts again.
        state = psNew;
        pass = -1;
    }
    Rect = rect;
    State = state;
    Pass = pass;
    ResumeX = resumeX;
    ResumeY = resumeY;
}

void TCompute::WriteResumeState(TStream &Stream) const {
    Stream.WriteUInt32(0);
    Stream.WriteInt32(Rect.Left);
    Stream.WriteInt32(Rect.Top);
    Stream.WriteInt32(Rect.Right);
    Stream.WriteInt32(Rect.Bottom);
    Stream.WriteUInt8(State);
    Stream.WriteInt32(Pass);
    Stream.WriteInt32(ResumeX);
    Stream.WriteInt32(ResumeY);
}
