// Image export: the writer base that pulls 8-bit rows and layer descriptions through callbacks,
// the format tables, the byte routines the writers share, and the six format writers.
//
// A writer is made for one file, executed once and freed. It writes into a temporary file beside
// the target (TSafeFileStream), so an aborted or failed export leaves no partial file behind and
// never replaces an existing file with a broken one: the target is replaced only when the writer
// is freed after a successful export.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "GenClasses.h"
#include "SysUtils.h"

DECLARE_EXCEPTION(EExportError, Exception);

// Format index, stored as one byte in the configuration and in render jobs.
enum class TExportFormat : std::uint8_t { Bitmap = 0, Photoshop = 1, PNG = 2, JPEG = 3, Targa = 4, TIFF = 5 };
constexpr int ExportFormatCount = 6;

// Bits of ExportFormatOptions: what the export dialogs offer for a format.
constexpr std::uint8_t ExportOptionQuality = 1;
constexpr std::uint8_t ExportOptionTransparency = 2;
constexpr std::uint8_t ExportOptionLayers = 4;

struct TExportImageInfo {
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    std::int32_t LayerCount = 0;
    double Resolution = 72; // dots per inch
    double Gamma = 2.2;
    std::string Title;
    std::string Author;
    TDateTime Date = 0;
    std::string Comments;      // CR LF separated lines
    std::int32_t Quality = 80; // 1..100, JPEG only
    bool Transparency = false; // write an alpha channel
    bool Layers = false;       // write the layers (Photoshop only)
};

struct TExportLayerInfo {
    std::string Caption;
    std::uint8_t MergeMode = 0; // 0 normal .. 18
    std::int32_t Opacity = 100; // percent
    bool Visible = true;
    bool Transparent = false; // the layer or one of its masks carries transparency
};

class TExportImage : public TObject {
public:
    // Row y (0 the top row) of the merged image: blue, green, red over a white background, or
    // with WithAlpha blue, green, red, alpha without background.
    using TGetRowEvent = std::function<void(std::int32_t Y, std::uint8_t *Row, bool WithAlpha)>;
    using TGetLayerInfoEvent = std::function<void(std::int32_t ExportLayer, TExportLayerInfo &Info)>;
    // Row y of one export layer (0 the top layer), blue, green, red, alpha.
    using TGetLayerRowEvent =
        std::function<void(std::int32_t ExportLayer, std::int32_t Y, std::uint8_t *Row)>;

    // Creates the (temporary) output file; EExportError "Could not create '%s'" when it cannot.
    explicit TExportImage(const std::string &AFileName);
    // Deletes the temporary file when the export failed or was aborted, else puts it in place
    // of the target.
    ~TExportImage() override;
    DECLARE_CLASS_NAME(TExportImage)

    // Copies the record and writes the file. An EAbort from a callback ends the export silently;
    // a write error raises EExportError "Could not write to '%s'. The destination drive may be
    // full"; an image beyond the format's limits raises EExportError "The image is too large for
    // the %s format." before anything is written. Each failure sets Failed.
    void Execute(const TExportImageInfo &AInfo);

    TExportImageInfo Info;
    bool Failed = false;
    std::string FileName;
    TGetRowEvent OnGetRow;
    TGetLayerInfoEvent OnGetLayerInfo;
    TGetLayerRowEvent OnGetLayerRow;
    double Progress = 0; // 0..1
    std::unique_ptr<TSafeFileStream> Stream;

protected:
    virtual void GetRow(std::int32_t Y, std::uint8_t *Row, bool WithAlpha);
    virtual void GetLayerRow(std::int32_t ExportLayer, std::int32_t Y, std::uint8_t *Row);
    virtual void WriteImage() {}
    // Raises the too-large error when Info does not fit the format; runs before any write.
    virtual void CheckLimits() {}
    void GetLayerInfo(std::int32_t ExportLayer, TExportLayerInfo &LayerInfo);
    // The format's name from the table, for messages.
    virtual TExportFormat ExportFormat() const = 0;
    [[noreturn]] void RaiseTooLarge() const;
    // A row buffer of Width × 4 + 16 bytes.
    std::vector<std::uint8_t> MakeRowBuffer() const;
};

using TExportImageFactory = std::unique_ptr<TExportImage> (*)(const std::string &FileName);

extern const TExportImageFactory ExportImageClasses[ExportFormatCount];
extern const char *const ExportFormatNames[ExportFormatCount];
// Two per format, the first the default; the second empty where there is only one.
extern const char *const ExportFileExtensions[2 * ExportFormatCount];
extern const std::uint8_t ExportFormatOptions[ExportFormatCount];

// Constructs the writer of the format index (0..5).
std::unique_ptr<TExportImage> CreateExportImage(const std::string &FileName, int FormatIndex);

class TExportBitmapImage : public TExportImage {
public:
    using TExportImage::TExportImage;
    DECLARE_CLASS_NAME(TExportBitmapImage)

protected:
    void WriteImage() override;
    void CheckLimits() override;
    TExportFormat ExportFormat() const override { return TExportFormat::Bitmap; }
};

class TExportPhotoshopImage : public TExportImage {
public:
    using TExportImage::TExportImage;
    DECLARE_CLASS_NAME(TExportPhotoshopImage)

protected:
    void WriteImage() override;
    void CheckLimits() override;
    TExportFormat ExportFormat() const override { return TExportFormat::Photoshop; }

private:
    struct TRowSource;
    // Writes the packed rows of one channel (compression field, byte counts, packets) and
    // returns the number of bytes from the compression field to the last packet.
    std::int64_t WriteLayerChannel(std::int32_t ExportLayer, int ByteIndex, std::vector<std::uint8_t> &Row,
                                   std::vector<std::uint8_t> &Packed);
    void RowDone();
    std::int64_t FRowsDone = 0;
    std::int64_t FRowsTotal = 1;
};

class TExportPNGImage : public TExportImage {
public:
    using TExportImage::TExportImage;
    DECLARE_CLASS_NAME(TExportPNGImage)

    void WriteTextChunk(const std::string &Keyword, const std::string &Text);

protected:
    void WriteImage() override;
    void CheckLimits() override;
    TExportFormat ExportFormat() const override { return TExportFormat::PNG; }
    // Longest data of one chunk; the image data goes into as many IDAT chunks as it needs.
    std::uint32_t MaxChunkLength = 0x7FFFFFFF;

private:
    void WriteChunk(const char *Type, const std::uint8_t *Data, std::uint32_t Count);
    void BeginData();
    void EndData();
    // Writes compressed bytes into the open IDAT chunk, opening new chunks as they fill.
    void WriteData(const std::uint8_t *Data, std::uint32_t Count);
    void UpdateCRC(const std::uint8_t *Data, std::uint32_t Count);
    std::int64_t FChunkStart = 0;
    std::uint32_t FChunkLength = 0;
    std::uint32_t FCrc = 0;
};

class TExportJPEGImage : public TExportImage {
public:
    using TExportImage::TExportImage;
    DECLARE_CLASS_NAME(TExportJPEGImage)

protected:
    void WriteImage() override;
    void CheckLimits() override;
    TExportFormat ExportFormat() const override { return TExportFormat::JPEG; }
};

class TExportTargaImage : public TExportImage {
public:
    using TExportImage::TExportImage;
    DECLARE_CLASS_NAME(TExportTargaImage)

protected:
    void WriteImage() override;
    void CheckLimits() override;
    TExportFormat ExportFormat() const override { return TExportFormat::Targa; }
};

class TExportTIFFImage : public TExportImage {
public:
    using TExportImage::TExportImage;
    DECLARE_CLASS_NAME(TExportTIFFImage)

protected:
    void WriteImage() override;
    void CheckLimits() override;
    TExportFormat ExportFormat() const override { return TExportFormat::TIFF; }
};

// Byte routines of the writers.
void SwapRedBlue24(std::uint8_t *Row, std::int32_t Count); // Count pixels
void SwapRedBlue32(std::uint8_t *Row, std::int32_t Count);
// Gathers byte C of Count 3- or 4-byte pixels into a plane that begins at byte C of the row.
void ExtractChannel24(std::uint8_t *Row, int C, std::int32_t Count);
void ExtractChannel32(std::uint8_t *Row, int C, std::int32_t Count);
void SwapBytes16(std::uint16_t *Values, std::int32_t Count); // to big-endian and back
void SwapBytes32(std::uint32_t *Values, std::int32_t Count);

// The most bytes PackBits may write for Count input bytes (its literal runs cost a header byte
// each, and a row that ends in a pair gets two short literals: "abb" takes 5 bytes).
constexpr std::int64_t PackBitsBound(std::int64_t Count) {
    return 2 * Count + 16;
}
// Encodes Count bytes in PackBits packets into Output, which holds at least OutputSize bytes;
// returns the encoded length. Raises EExportError when the output would not fit (never with a
// buffer of PackBitsBound(Count)).
std::int32_t PackBits(std::uint8_t *Output, std::int64_t OutputSize, const std::uint8_t *Input,
                      std::int32_t Count);

// The program title written into exported files ("<product> <version>"); empty before the
// program information exists.
std::string ExportSoftwareText();
// The text without its line-feed characters (carriage returns stay).
std::string StripLineFeeds(const std::string &Text);
// The text with each CR LF and each lone CR turned into LF: PNG text chunks end their lines with
// a line feed alone (a CR in a tEXt chunk is an error to PNG checkers).
std::string PNGLineEnds(const std::string &Text);

// --- Export of a fractal document ----------------------------------------------------------

class TFractal;
class TLayerList;

// An export layer: a layer of the list that is not a mask, with the mask layers that directly
// follow it (below it). Masks at the head of the list belong to no export layer.
struct TExportLayerGroup {
    std::int32_t Layer = 0;
    std::vector<std::int32_t> Masks;
};
std::vector<TExportLayerGroup> GroupExportLayers(const std::vector<bool> &IsMask);
// The description of an export layer: its layer's caption, mode, opacity and visibility, and
// transparent when the layer or one of its masks is.
void GetExportLayerInfo(const TLayerList &Layers, const TExportLayerGroup &Group, TExportLayerInfo &Info);

// Exports a fractal on screen: its merged rows come from the display's update manager, its
// layer rows from the layers' pixel stores. The values that belong to the persistent document
// (resolution, gamma, comments, the first credit) are set by its owner before Execute; without a
// credit the author is the Owner of the General configuration and the date today.
class TFractalExporter : public TObject {
public:
    TFractalExporter(TFractal &AFractal, bool ALayers, bool ATransparency, std::int32_t AQuality,
                     int FormatIndex, const std::string &FileName);
    ~TFractalExporter() override;
    DECLARE_CLASS_NAME(TFractalExporter)

    // Writes the file under the progress caption "Exporting %s image".
    void Execute();
    std::int32_t ExportLayerCount() const;

    double Resolution = 72;
    double Gamma = 2.2;
    // The first credit's name and date; used when HasCredit is set.
    bool HasCredit = false;
    std::string Author;
    TDateTime Date = 0;
    std::string Comments; // as stored ("$CALCTIME" is not expanded)

    TExportImage &GetImage() const { return *FImage; }

private:
    void GetMergedRow(std::int32_t Y, std::uint8_t *Row, bool WithAlpha);
    void GetLayerInfo(std::int32_t ExportLayer, TExportLayerInfo &Info);
    void GetLayerRow(std::int32_t ExportLayer, std::int32_t Y, std::uint8_t *Row);
    void ReportProgress();
    std::vector<TExportLayerGroup> Groups() const;

    TFractal &FFractal;
    bool FLayers;
    bool FTransparency;
    std::int32_t FQuality;
    int FFormatIndex;
    std::unique_ptr<TExportImage> FImage;
    std::vector<TExportLayerGroup> FGroups; // taken when Execute starts
    std::vector<std::uint32_t> FMaskRow;
};
