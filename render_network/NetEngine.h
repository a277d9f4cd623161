// The calculation server's engine: one per client connection. It rebuilds one layer of the
// client's fractal from the network parameter block, calculates one rectangular piece of it on a
// thread of its own, and writes the pixels with the resume state and statistics back for the
// client to merge.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "Classes.h"
#include "FracCompute.h"
#include "FracImage.h"
#include "GenClasses.h"

class TColoring;
class TFormula;
class TGradient;
class TMapping;
class TParReader;
class TServerCalculateThread;
class TServerTimer;

DECLARE_EXCEPTION(EServerEngineError, Exception);

// The largest layer pixel store a client may ask for (width x height x bytes per pixel): far
// beyond any piece a client sends, far below what a 32-bit server can hold for several clients.
constexpr std::int64_t MaxServerImageBytes = 256ll << 20;
// The largest parameter text accepted (the cache holds 4 MiB in all).
constexpr std::uint32_t MaxParameterTextSize = 16u << 20;

using TServerErrorEvent = TMethod<void(TObject *Sender, const std::string &Message)>;

class TServerCalculateEngine : public TObject {
public:
    TServerCalculateEngine();
    ~TServerCalculateEngine() override;
    TServerCalculateEngine(const TServerCalculateEngine &) = delete;
    TServerCalculateEngine &operator=(const TServerCalculateEngine &) = delete;
    DECLARE_CLASS_NAME(TServerCalculateEngine)

    // Loads a piece. The geometry is checked first (sizes at least 1, the pixel store within
    // MaxServerImageBytes, the rectangle non-empty and inside the layer): EServerEngineError
    // "Invalid image geometry" leaves no piece. "Cannot load parameters" while a calculation runs.
    void LoadParameters(std::int32_t OffsetX, std::int32_t OffsetY, const std::string &Text,
                        const TLayerRect &Rect);
    // The CALC payload (one zlib stream), inflated into at most what the piece can hold.
    void LoadCalculateData(const void *Data, std::size_t Size);
    void Start();
    void Stop();
    void GetStatus(double &Progress, double &Rate, bool &Done);
    // The rate alone, safe from any thread (the timer has its own lock).
    double GetRate();
    // The piece's data as one zlib stream; nothing without a piece.
    void WriteData(TStream &Stream);
    bool HasPiece() const { return FCompute != nullptr; }
    // The largest inflated CALC payload of the loaded piece.
    std::size_t MaxCalculateDataSize() const;

    // The thread priority of the calculation (0 idle .. 3 normal).
    void SetPriority(std::uint8_t Value) { FPriority = Value; }

    TLayerImage &Image() const { return *FImage; }
    TLayerStatistics &Statistics() const { return *FStatistics; }
    const TLayerRect &Region() const { return FRegion; }

    TNotifyEvent OnCall;
    TServerErrorEvent OnError;

private:
    friend class TServerCalculateThread;
    void ReadParameters(TParReader &Reader);
    void PrepareCalculation();
    void ColoringCodeChanged(TObject *Sender);
    void ThreadFinished();
    void ReapFinishedThread();
    void ThreadFailed(const std::string &Message);

    std::unique_ptr<TAntiAliasingSettings> FAntiAliasing;
    TLayerRect FRegion;
    std::int32_t FDecimals = 0;
    std::unique_ptr<TGradientTable> FColorTable;
    std::unique_ptr<TMapping> FMapping;
    std::unique_ptr<TColoring> FInside;
    std::unique_ptr<TColoring> FOutside;
    std::unique_ptr<TFormula> FFormula;
    std::unique_ptr<TGradient> FGradient;
    std::unique_ptr<TLayerImage> FImage;
    std::uint8_t FMethod = 0;
    bool FOpaque = false;
    std::uint8_t FPrecision = 0;
    std::unique_ptr<TLayerStatistics> FStatistics;
    std::unique_ptr<TUpdateRectList> FUpdateRects;
    std::unique_ptr<TCompute> FCompute;
    bool FResumable = false;
    bool FStopped = false;
    std::unique_ptr<TServerTimer> FTimer;
    std::unique_ptr<TServerCalculateThread> FThread;
    std::uint8_t FPriority = 2;
};
