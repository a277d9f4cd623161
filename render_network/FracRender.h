// Rendering to disk: a render job calculates one or more images of any size in horizontal strips,
// layer by layer with an optional anti-aliasing pass, keeps every strip on disk as it is done, and
// assembles and exports the finished image from the strip files. A job can be stopped at any point
// and resumed later, also by another program run, and writes a log of what it did.
//
// Files of a job (all in the System folder): the header (strip 0xFFFF) and one data file per
// strip, named by RenderDataFileName; a bundle (.orj) packs them into one file.
//
// Threads: TRenderEngine.Start runs the load step on a TRenderThread; layers calculate on the
// calculation manager's threads, and the thread that finishes a layer runs LayerCalculated, which
// starts the next layer or strip itself or hands the save step to a new TRenderThread. Lock guards
// the state, the stop request, the counters and the resume mode. Stop waits outside the lock.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <atomic>

#include "CompEntries.h"
#include "FracDocument.h"
#include "FracExport.h"
#include "FracMergeEngine.h"
#include "FracReaders.h"
#include "FracTimer.h"
#include "GenClasses.h"

DECLARE_EXCEPTION(ERenderError, Exception);

// --- Job files ------------------------------------------------------------------------------

// Strip index of the header file.
constexpr std::uint32_t RenderHeaderIndex = 0xFFFF;
// Most strips of an image: strip numbers stay below the header's number.
constexpr std::int32_t MaxRenderStripCount = 0xFFFE;
// Most files of a bundle: the header and every strip.
constexpr std::uint32_t MaxRenderBundleFiles = MaxRenderStripCount + 1;
constexpr std::uint32_t RenderHeaderVersion = 2;
constexpr std::uint32_t RenderStripVersion = 1;
constexpr std::uint32_t RenderBundleVersion = 1;
constexpr std::int32_t RenderHeaderFixedSize = 100;
constexpr std::int32_t RenderStripHeaderSize = 28;
constexpr std::int32_t RenderBundleHeaderSize = 12;
// Pixels a strip holds at most (its height is this divided by the width).
constexpr std::int32_t RenderStripPixels = 32768;

// Kinds of a strip data file.
enum class TRenderStripKind : std::uint32_t { PlainPass = 0, AntiAliasingPass = 1, Finished = 2 };

// Folder (ending with a backslash), four hex digits of the job id, four of the strip, ".odr".
std::string RenderDataFileName(const std::string &Folder, std::uint32_t Id, std::uint32_t Strip);

// Strip height and count of an image: about RenderStripPixels pixels a strip, at least one row,
// and never more than MaxRenderStripCount strips. Width and Height are at least 1.
void RenderStripLayout(std::int32_t Width, std::int32_t Height, std::int32_t &StripHeight,
                       std::int32_t &StripCount);

// A title as a file name: the characters a file name cannot hold become blanks, and a name that
// the system reserves for a device ("CON", "NUL", "COM1" ...) gets "_" appended.
std::string RenderFileNameOf(const std::string &Title);

// --- Dithering ------------------------------------------------------------------------------

// The 8-bit value of a 12-bit value V (0..4095) at pixel column X and row Y: V x 255 div 4095,
// plus 1 where the ordered 4 x 4 dither matrix says so.
std::uint8_t RenderDither(std::int32_t X, std::int32_t Y, std::int32_t V);
// A float row converted with the dither table: bytes blue, green, red, alpha per pixel; channel
// values are clamped to 0..1 and rounded to 12 bits.
void DitherFloatRow(const TFloatColor *Row, std::int32_t Count, std::int32_t Y, std::uint8_t *Out);

// --- Render fractal, timer, thread ----------------------------------------------------------

// A fractal without display: layers calculate at the lowest priority above idle, and every end of
// a layer's run goes to OnCalculated after the document has counted it.
class TRenderFractal : public TCustomFractal {
public:
    explicit TRenderFractal(TCalculateManager *AManager = nullptr);
    ~TRenderFractal() override;
    DECLARE_CLASS_NAME(TRenderFractal)

    TNotifyEvent OnCalculated;

protected:
    void CalculationFinished(TObject *Sender) override;
};

class TRenderEngine;

class TRenderTimer : public TCalculationTimer {
public:
    explicit TRenderTimer(TRenderEngine &AEngine) : FEngine(AEngine) {}
    DECLARE_CLASS_NAME(TRenderTimer)

protected:
    std::int64_t GetDonePixels() override;
    std::int64_t GetTotalPixels() override;

private:
    TRenderEngine &FEngine;
};

// The reader of a job's images: formula entries embedded in the job text are found there.
class TRenderParReader : public TReportingParReader {
public:
    DECLARE_CLASS_NAME(TRenderParReader)
};

// --- Engine ---------------------------------------------------------------------------------

// States of a job.
enum class TRenderState : std::uint8_t {
    Waiting = 0,
    Loading = 1,
    Calculating = 2,
    Saving = 3,
    Finished = 4
};
// Where a waiting job goes on.
enum class TRenderResume : std::uint8_t { FromScratch = 0, InStrip = 1, Saving = 2 };

struct TRenderRect {
    std::int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
};

class TRenderEngine : public TObject {
public:
    // Manager nil: the global calculation manager.
    explicit TRenderEngine(TCalculateManager *AManager = nullptr);
    ~TRenderEngine() override;
    TRenderEngine(const TRenderEngine &) = delete;
    TRenderEngine &operator=(const TRenderEngine &) = delete;
    DECLARE_CLASS_NAME(TRenderEngine)

    // Begins or resumes the job; returns at once (the load step runs on a render thread).
    void Start();
    // Interrupts the job and returns once it is at rest. Waits only for a stop that this call
    // requested or that is pending; an idle or finished job returns at once.
    void Stop();

    std::int32_t GetEntryCount();
    std::int32_t GetProgress();
    std::int64_t GetDonePixels();
    std::int64_t GetTotalPixels();

    TRenderState GetState();
    std::int32_t GetEntryIndex();
    TRenderResume GetResumeMode();
    TRenderTimer &GetTimer() const { return *Timer; }
    TRenderFractal &GetFractal() const { return *Fractal; }
    TLogFile &GetLog() const { return *Log; }
    // The log file's name for the job's destination.
    std::string LogFileName() const;

    // Job settings (set before the job is started or written).
    std::unique_ptr<TAntiAliasingSettings> AntiAliasing;
    std::int32_t StripCount = 0;
    std::int32_t StripHeight = 0;
    std::int32_t CurrentStrip = 0;
    std::string Name;
    std::string Destination;
    std::uint8_t Format = 0;
    bool GenerateLog = true;
    std::int32_t RequestedHeight = 0;
    std::int32_t VirtualHeight = 0;
    std::int32_t VirtualWidth = 0;
    TRenderRect WorkingPortion;
    std::int32_t CurrentLayer = 0;
    bool ParameterFileMode = false;
    TNotifyEvent OnFinished;
    // After a strip's data file was written (finished or interrupted), on the thread that wrote
    // it and under the job's lock: a handler must not wait for the job.
    TNotifyEvent OnStripWritten;
    bool OpenWhenFinished = false;
    bool KeepAspectRatio = false;
    std::int32_t EntryIndex = 0;
    std::string ParameterText;
    double Resolution = 300;
    TRenderResume ResumeMode = TRenderResume::FromScratch;
    bool ExportLayers = false;
    std::int32_t Quality = 80;
    bool Transparency = false;
    std::string Source;
    std::int32_t RequestedWidth = 0;
    TRenderRect Portion;
    std::int32_t Height = 0;
    std::int32_t Width = 0;

protected:
    // The job's files.
    virtual void DeleteFiles() = 0;
    virtual bool ReadStripData() = 0;
    virtual void WriteStripData() = 0;
    virtual void WriteHeader() = 0;
    virtual void SaveImage() = 0;
    // Puts the last sample row of every layer of the finished strip before the current one back
    // as row 0 of the current strip; false when that strip's file does not hold them.
    virtual bool ReadBoundaryRows() = 0;

    bool StopPending() const { return StopRequested.load(); }
    // Rows of the current strip.
    std::int32_t StripRows() const;
    // The caption of the current image in log lines.
    std::string ImageCaption(const std::string &EntryName) const;

    std::unique_ptr<TRenderFractal> Fractal;
    std::unique_ptr<TLogFile> Log;
    std::int32_t LoadProgress = 0;
    std::int32_t SaveProgress = 0;
    TCriticalSection Lock;
    TRenderState State = TRenderState::Waiting;
    std::unique_ptr<TEvent> StopEvent;
    std::atomic<bool> StopRequested{false};
    std::unique_ptr<TRenderTimer> Timer;
    // The current layer is in its anti-aliasing pass.
    bool FAntiAliasingPass = false;

private:
    friend class TRenderStepGuard;
    void LoadStep();
    void SaveStep();
    void StartStrip();
    void StartLayer();
    void LayerCalculated(TObject *Sender);
    void Finish();
    // State 0 and the stop event: the job is at rest after a stop. Under the lock.
    void ComeToRest();
    // Runs Step on a new render thread; the engine is not freed before it ends.
    void RunStep(void (TRenderEngine::*Step)());
    void ReadProgress(TObject *Sender, int Percent);
    // Every entry of the job text whose name holds no ':'.
    std::vector<std::string> ImageEntries(std::unique_ptr<TEntryReader> &Reader);
    // The error of a step that could not go on: files deleted, the error logged, the job ends.
    void AbandonJob(const char *What, const std::string &Message);

    std::int32_t FEntryCount = -1;
    std::string FCaption;
    // The last sample row of each layer of the previous strip, put back as row 0 of the next.
    std::vector<std::vector<std::uint8_t>> FKeptRows;
    // Steps and layer events in progress; the destructor waits until none is left.
    std::int32_t FActivity = 0;
    TCriticalSection FActivityLock;
    std::unique_ptr<TEvent> FIdleEvent;
};

// --- Job ------------------------------------------------------------------------------------

class TRenderJob : public TRenderEngine {
public:
    // Folder empty: the System folder of the configuration.
    explicit TRenderJob(TCalculateManager *AManager = nullptr, const std::string &AFolder = std::string());
    ~TRenderJob() override;
    DECLARE_CLASS_NAME(TRenderJob)

    void ReadHeader();
    void LoadFromFiles(std::uint32_t AId);
    void SetId(std::uint32_t AId);
    std::uint32_t GetId() const { return Id; }
    const std::string &GetFolder() const { return FFolder; }
    std::string FileNameOf(std::uint32_t Strip) const { return RenderDataFileName(FFolder, Id, Strip); }
    // The image file of the current image.
    std::string ImageFileName() const;
    static void OpenImage(const std::string &FileName);

    // The job's files, made public for the queue's backup.
    void DeleteFiles() override;
    void WriteHeader() override;

protected:
    bool ReadStripData() override;
    void WriteStripData() override;
    void SaveImage() override;
    bool ReadBoundaryRows() override;

private:
    void GetMergedRow(std::int32_t Y, std::uint8_t *Row, bool WithAlpha);
    void GetLayerInfo(std::int32_t ExportLayer, TExportLayerInfo &Info);
    void GetLayerRow(std::int32_t ExportLayer, std::int32_t Y, std::uint8_t *Row);
    // Reads Count bytes at Offset of the strip file of row Y.
    void ReadStripBytes(std::int32_t Y, std::int64_t Offset, std::uint8_t *Buffer, std::int32_t Count);
    std::int32_t RowsOfStrip(std::int32_t Strip) const;
    void CheckStop();

    std::uint32_t Id = 0;
    std::string FFolder;
    std::unique_ptr<TRenderMergeEngine> FMergeEngine;
    TExportImage *FImage = nullptr;
    std::vector<TExportLayerGroup> FGroups;
    std::int32_t FOpenStrip = -1;
    std::unique_ptr<TFileStream> FStripStream;
};

// --- Bundles --------------------------------------------------------------------------------

// Packs the header and the strip files that exist from strip 0 on without a gap into FileName.
void WriteRenderBundle(const TRenderJob &Job, const std::string &FileName);
// Unpacks a bundle into the files of job Id in Folder. Every length is checked against the file
// before anything is written; a bundle that cannot be read raises ERenderError "Could not read
// backup job" and leaves no file of the job behind.
void ReadRenderBundle(const std::string &FileName, const std::string &Folder, std::uint32_t Id);
