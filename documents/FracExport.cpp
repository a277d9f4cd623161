#include "FracExport.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstring>

#include <zlib.h>

#include "FracConvert.h"
#include "FracImage.h"
#include "FracLayer.h"
#include "FracMain.h"
#include "FracMerge.h"
#include "FracProgress.h"
#include "GenJPEG.h"
#include "GenSetup.h"
#include "GenProgram.h"
#include "GenUtils.h"

namespace {

// Fixed-width fields collected in memory and written in one transfer; the formats differ in
// byte order, so each field says which it uses.
class TFieldWriter {
public:
    void U8(std::uint8_t Value) { FBytes.push_back(Value); }
    void LE16(std::uint16_t Value) {
        U8(Value & 0xFF);
        U8(Value >> 8);
    }
    void LE32(std::uint32_t Value) {
        LE16(Value & 0xFFFF);
        LE16(Value >> 16);
    }
    void BE16(std::uint16_t Value) {
        U8(Value >> 8);
        U8(Value & 0xFF);
    }
    void BE32(std::uint32_t Value) {
        BE16(Value >> 16);
        BE16(Value & 0xFFFF);
    }
    void Text(const std::string &S) { FBytes.insert(FBytes.end(), S.begin(), S.end()); }
    void Zeros(std::size_t Count) { FBytes.insert(FBytes.end(), Count, 0); }
    const std::uint8_t *Data() const { return FBytes.data(); }
    std::uint32_t Size() const { return static_cast<std::uint32_t>(FBytes.size()); }
    void WriteTo(TStream &Stream) const {
        if (!FBytes.empty())
            Stream.WriteBuffer(FBytes.data(), static_cast<std::int32_t>(FBytes.size()));
    }

private:
    std::vector<std::uint8_t> FBytes;
};

// Pixels per metre from dots per inch, as the bitmap and PNG headers store them.
std::uint32_t PixelsPerMetre(double Resolution) {
    const double value = std::floor(Resolution * 39.3701 + 0.5);
    return value <= 0 ? 0 : value >= 4294967295.0 ? 0xFFFFFFFFu : static_cast<std::uint32_t>(value);
}

std::uint32_t RoundToUInt32(double Value) {
    const double value = std::floor(Value + 0.5);
    return value <= 0 ? 0 : value >= 4294967295.0 ? 0xFFFFFFFFu : static_cast<std::uint32_t>(value);
}

constexpr std::int64_t UInt32Limit = 0xFFFFFFFFLL;

template <class T> std::unique_ptr<TExportImage> MakeWriter(const std::string &FileName) {
    return std::make_unique<T>(FileName);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Tables

const TExportImageFactory ExportImageClasses[ExportFormatCount] = {
    MakeWriter<TExportBitmapImage>, MakeWriter<TExportPhotoshopImage>, MakeWriter<TExportPNGImage>,
    MakeWriter<TExportJPEGImage>,   MakeWriter<TExportTargaImage>,     MakeWriter<TExportTIFFImage>};

const char *const ExportFormatNames[ExportFormatCount] = {"bitmap", "Photoshop", "PNG",
                                                          "JPEG",   "Targa",     "TIFF"};

const char *const ExportFileExtensions[2 * ExportFormatCount] = {
    ".bmp", "", ".psd", "", ".png", "", ".jpg", ".jpeg", ".tga", "", ".tif", ".tiff"};

const std::uint8_t ExportFormatOptions[ExportFormatCount] = {
    0,
    ExportOptionTransparency | ExportOptionLayers,
    ExportOptionTransparency,
    ExportOptionQuality,
    ExportOptionTransparency,
    ExportOptionTransparency,
};

std::unique_ptr<TExportImage> CreateExportImage(const std::string &FileName, int FormatIndex) {
    assert(FormatIndex >= 0 && FormatIndex < ExportFormatCount);
    return ExportImageClasses[FormatIndex](FileName);
}

// ---------------------------------------------------------------------------------------------
// Byte routines

void SwapRedBlue24(std::uint8_t *Row, std::int32_t Count) {
    for (std::int32_t i = 0; i < Count; ++i, Row += 3)
        std::swap(Row[0], Row[2]);
}

void SwapRedBlue32(std::uint8_t *Row, std::int32_t Count) {
    for (std::int32_t i = 0; i < Count; ++i, Row += 4)
        std::swap(Row[0], Row[2]);
}

namespace {
// Moving forward is safe in place: plane byte i lands at C + i, never beyond source byte
// C + i × Size that is still to be read.
void ExtractChannel(std::uint8_t *Row, int C, std::int32_t Count, int Size) {
    std::uint8_t *plane = Row + C;
    const std::uint8_t *source = Row + C;
    for (std::int32_t i = 0; i < Count; ++i, source += Size)
        plane[i] = *source;
}
} // namespace

void ExtractChannel24(std::uint8_t *Row, int C, std::int32_t Count) {
    ExtractChannel(Row, C, Count, 3);
}
void ExtractChannel32(std::uint8_t *Row, int C, std::int32_t Count) {
    ExtractChannel(Row, C, Count, 4);
}

void SwapBytes16(std::uint16_t *Values, std::int32_t Count) {
    for (std::int32_t i = 0; i < Count; ++i)
        Values[i] = static_cast<std::uint16_t>((Values[i] >> 8) | (Values[i] << 8));
}

void SwapBytes32(std::uint32_t *Values, std::int32_t Count) {
    for (std::int32_t i = 0; i < Count; ++i) {
        const std::uint32_t v = Values[i];
        Values[i] = (v >> 24) | ((v >> 8) & 0xFF00) | ((v << 8) & 0xFF0000) | (v << 24);
    }
}

std::int32_t PackBits(std::uint8_t *Output, std::int64_t OutputSize, const std::uint8_t *Input,
                      std::int32_t Count) {
    std::int64_t out = 0;
    auto put = [&](std::uint8_t Value) {
        if (out >= OutputSize)
            throw EExportError("PackBits output exceeds its buffer");
        Output[out++] = Value;
    };
    std::int32_t i = 0;
    while (i < Count) {
        if (i + 1 < Count && Input[i + 1] == Input[i]) {
            std::int32_t run = 2;
            while (i + run < Count && run < 128 && Input[i + run] == Input[i])
                ++run;
            put(static_cast<std::uint8_t>(1 - run));
            put(Input[i]);
            i += run;
            continue;
        }
        // A literal stretch ends before a byte that repeats the last one taken when a third
        // equal byte follows or the row ends there; longer stretches go out in packets of 128.
        const std::int32_t start = i++;
        while (i < Count && !(Input[i] == Input[i - 1] && (i + 1 >= Count || Input[i + 1] == Input[i])))
            ++i;
        for (std::int32_t first = start; first < i; first += 128) {
            const std::int32_t n = std::min<std::int32_t>(128, i - first);
            put(static_cast<std::uint8_t>(n - 1));
            for (std::int32_t k = 0; k < n; ++k)
                put(Input[first + k]);
        }
    }
    return static_cast<std::int32_t>(out);
}

std::string ExportSoftwareText() {
    const TProgramInformation *information = ProgramInformation();
    return information ? information->Title : std::string();
}

std::string StripLineFeeds(const std::string &Text) {
    std::string result = Text;
    result.erase(std::remove(result.begin(), result.end(), '\n'), result.end());
    return result;
}

std::string PNGLineEnds(const std::string &Text) {
    std::string result;
    result.reserve(Text.size());
    for (std::size_t i = 0; i < Text.size(); ++i) {
        if (Text[i] == '\r') {
            result += '\n';
            if (i + 1 < Text.size() && Text[i + 1] == '\n')
                ++i;
        } else {
            result += Text[i];
        }
    }
    return result;
}

// ---------------------------------------------------------------------------------------------
// TExportImage

TExportImage::TExportImage(const std::string &AFileName) : FileName(AFileName) {
    try {
        Stream = std::make_unique<TSafeFileStream>(FileName, fmCreate);
    } catch (const EStreamError &) {
        throw EExportError("Could not create '%s'", FileName);
    }
}

TExportImage::~TExportImage() {
    // Execute commits a finished file; whatever is left here is incomplete.
    if (Stream)
        Stream->Discard();
}

void TExportImage::Execute(const TExportImageInfo &AInfo) {
    assert(AInfo.Width > 0 && AInfo.Height > 0 && AInfo.LayerCount >= 0);
    Info = AInfo;
    Progress = 0;
    try {
        CheckLimits();
        WriteImage();
        Stream->Commit();
        Progress = 1;
    } catch (const EAbort &) {
        Failed = true;
        Stream->Discard();
    } catch (const EWriteError &) {
        Failed = true;
        Stream->Discard();
        throw EExportError("Could not write to '%s'. The destination drive may be full", FileName);
    } catch (...) {
        Failed = true;
        Stream->Discard();
        throw;
    }
}

void TExportImage::GetRow(std::int32_t Y, std::uint8_t *Row, bool WithAlpha) {
    if (OnGetRow)
        OnGetRow(Y, Row, WithAlpha);
}

void TExportImage::GetLayerRow(std::int32_t ExportLayer, std::int32_t Y, std::uint8_t *Row) {
    if (OnGetLayerRow)
        OnGetLayerRow(ExportLayer, Y, Row);
}

void TExportImage::GetLayerInfo(std::int32_t ExportLayer, TExportLayerInfo &LayerInfo) {
    if (OnGetLayerInfo)
        OnGetLayerInfo(ExportLayer, LayerInfo);
}

void TExportImage::RaiseTooLarge() const {
    throw EExportError("The image is too large for the %s format.",
                       std::string(ExportFormatNames[static_cast<int>(ExportFormat())]));
}

std::vector<std::uint8_t> TExportImage::MakeRowBuffer() const {
    return std::vector<std::uint8_t>(static_cast<std::size_t>(Info.Width) * 4 + 16, 0);
}

// ---------------------------------------------------------------------------------------------
// Windows bitmap

namespace {
std::int64_t BitmapStride(std::int32_t Width) {
    return (static_cast<std::int64_t>(Width) * 3 + 3) & ~3LL;
}
} // namespace

void TExportBitmapImage::CheckLimits() {
    if (54 + Info.Height * BitmapStride(Info.Width) > UInt32Limit)
        RaiseTooLarge();
}

void TExportBitmapImage::WriteImage() {
    const std::int64_t stride = BitmapStride(Info.Width);
    const std::uint32_t imageSize = static_cast<std::uint32_t>(Info.Height * stride);
    const std::uint32_t ppm = PixelsPerMetre(Info.Resolution);
    TFieldWriter header;
    header.Text("BM");
    header.LE32(54 + imageSize);
    header.LE32(0);
    header.LE32(54);
    header.LE32(40);
    header.LE32(static_cast<std::uint32_t>(Info.Width));
    header.LE32(static_cast<std::uint32_t>(Info.Height));
    header.LE16(1);
    header.LE16(24);
    header.LE32(0);
    header.LE32(imageSize);
    header.LE32(ppm);
    header.LE32(ppm);
    header.LE32(0);
    header.LE32(0);
    header.WriteTo(*Stream);

    std::vector<std::uint8_t> row = MakeRowBuffer();
    for (std::int32_t y = Info.Height - 1; y >= 0; --y) {
        // The callback fills width × 3 bytes; the padding up to the stride stays zero.
        std::fill(row.begin() + Info.Width * 3, row.begin() + stride, 0);
        GetRow(y, row.data(), false);
        Stream->WriteBuffer(row.data(), static_cast<std::int32_t>(stride));
        Progress = static_cast<double>(Info.Height - y) / Info.Height;
    }
}

// ---------------------------------------------------------------------------------------------
// Targa

void TExportTargaImage::CheckLimits() {
    if (Info.Width > 0xFFFF || Info.Height > 0xFFFF)
        RaiseTooLarge();
}

void TExportTargaImage::WriteImage() {
    const bool alpha = Info.Transparency;
    TFieldWriter header;
    header.U8(0);
    header.U8(0);
    header.U8(2);
    header.Zeros(5);
    header.LE16(0);
    header.LE16(0);
    header.LE16(static_cast<std::uint16_t>(Info.Width));
    header.LE16(static_cast<std::uint16_t>(Info.Height));
    header.U8(alpha ? 32 : 24);
    header.U8(alpha ? 8 : 0);
    header.WriteTo(*Stream);

    std::vector<std::uint8_t> row = MakeRowBuffer();
    const std::int32_t rowBytes = Info.Width * (alpha ? 4 : 3);
    for (std::int32_t y = Info.Height - 1; y >= 0; --y) {
        GetRow(y, row.data(), alpha);
        Stream->WriteBuffer(row.data(), rowBytes);
        Progress = static_cast<double>(Info.Height - y) / Info.Height;
    }
}

// ---------------------------------------------------------------------------------------------
// Photoshop

namespace {

constexpr std::int32_t PhotoshopMaxSide = 30000;

const char *BlendModeKey(std::uint8_t MergeMode) {
    static const char *const keys[] = {"norm", "mul ", "scrn", "over", "sLit", "hLit", "dark",
                                       "lite", "diff", "hue ", "sat ", "colr", "lum "};
    return MergeMode < std::size(keys) ? keys[MergeMode] : "norm";
}

// The byte of a BGRA pixel that holds each channel, in record order with transparency first.
constexpr int ChannelBytesWithAlpha[4] = {3, 2, 1, 0};
constexpr std::int16_t ChannelIdsWithAlpha[4] = {-1, 0, 1, 2};
// The merged image stores red, green, blue and then alpha.
constexpr int MergedChannelBytes[4] = {2, 1, 0, 3};

} // namespace

void TExportPhotoshopImage::CheckLimits() {
    if (Info.Width > PhotoshopMaxSide || Info.Height > PhotoshopMaxSide)
        RaiseTooLarge();
}

void TExportPhotoshopImage::RowDone() {
    ++FRowsDone;
    Progress = static_cast<double>(FRowsDone) / FRowsTotal;
}

std::int64_t TExportPhotoshopImage::WriteLayerChannel(std::int32_t ExportLayer, int ByteIndex,
                                                      std::vector<std::uint8_t> &Row,
                                                      std::vector<std::uint8_t> &Packed) {
    const std::int32_t height = Info.Height;
    const std::int64_t start = Stream->Position();
    Stream->WriteUInt8(0);
    Stream->WriteUInt8(1); // PackBits
    const std::int64_t countsAt = Stream->Position();
    std::vector<std::uint8_t> counts(static_cast<std::size_t>(height) * 2, 0);
    Stream->WriteBuffer(counts.data(), static_cast<std::int32_t>(counts.size()));
    for (std::int32_t y = 0; y < height; ++y) {
        GetLayerRow(ExportLayer, y, Row.data());
        ExtractChannel32(Row.data(), ByteIndex, Info.Width);
        const std::int32_t packed = PackBits(Packed.data(), static_cast<std::int64_t>(Packed.size()),
                                             Row.data() + ByteIndex, Info.Width);
        if (packed > 0xFFFF)
            RaiseTooLarge();
        counts[2 * y] = static_cast<std::uint8_t>(packed >> 8);
        counts[2 * y + 1] = static_cast<std::uint8_t>(packed & 0xFF);
        Stream->WriteBuffer(Packed.data(), packed);
        RowDone();
    }
    const std::int64_t end = Stream->Position();
    Stream->Seek(countsAt, soFromBeginning);
    Stream->WriteBuffer(counts.data(), static_cast<std::int32_t>(counts.size()));
    Stream->Seek(end, soFromBeginning);
    return end - start;
}

void TExportPhotoshopImage::WriteImage() {
    const std::int32_t width = Info.Width;
    const std::int32_t height = Info.Height;
    const bool withLayers = Info.Layers && Info.LayerCount > 0;
    const std::int32_t layerCount = withLayers ? Info.LayerCount : 0;

    std::vector<TExportLayerInfo> layers(static_cast<std::size_t>(layerCount));
    for (std::int32_t i = 0; i < layerCount; ++i)
        GetLayerInfo(i, layers[i]);
    const bool mergedAlpha =
        withLayers ? layers.back().Opacity < 100 || layers.back().Transparent : Info.Transparency;
    const int mergedChannels = mergedAlpha ? 4 : 3;
    // Records go from the bottom export layer (the last) to the top one.
    auto channelCount = [&](std::int32_t ExportLayer) {
        return ExportLayer == layerCount - 1 && !mergedAlpha ? 3 : 4;
    };
    FRowsDone = 0;
    FRowsTotal = static_cast<std::int64_t>(height) * mergedChannels;
    for (std::int32_t i = 0; i < layerCount; ++i)
        FRowsTotal += static_cast<std::int64_t>(height) * channelCount(i);

    TFieldWriter header;
    header.Text("8BPS");
    header.BE16(1);
    header.Zeros(6);
    header.BE16(static_cast<std::uint16_t>(mergedChannels));
    header.BE32(static_cast<std::uint32_t>(height));
    header.BE32(static_cast<std::uint32_t>(width));
    header.BE16(8);
    header.BE16(3); // RGB
    header.BE32(0); // colour mode data
    header.BE32(0); // image resources
    if (!withLayers)
        header.BE32(0);
    header.WriteTo(*Stream);

    std::vector<std::uint8_t> row = MakeRowBuffer();
    std::vector<std::uint8_t> packed(static_cast<std::size_t>(PackBitsBound(width)));

    if (withLayers) {
        const std::int64_t sectionAt = Stream->Position();
        TFieldWriter lengths;
        lengths.Zeros(10); // section length, layer information length, layer count: written last
        lengths.WriteTo(*Stream);

        // Where each record's channel information lies, to fill in the data lengths.
        std::vector<std::int64_t> channelInfoAt(static_cast<std::size_t>(layerCount));
        for (std::int32_t layer = layerCount - 1; layer >= 0; --layer) {
            const TExportLayerInfo &info = layers[layer];
            const int channels = channelCount(layer);
            TFieldWriter record;
            record.BE32(0);
            record.BE32(0);
            record.BE32(static_cast<std::uint32_t>(height));
            record.BE32(static_cast<std::uint32_t>(width));
            record.BE16(static_cast<std::uint16_t>(channels));
            for (int c = 4 - channels; c < 4; ++c) {
                record.BE16(static_cast<std::uint16_t>(ChannelIdsWithAlpha[c]));
                record.BE32(0);
            }
            record.Text("8BIM");
            record.Text(BlendModeKey(info.MergeMode));
            const std::int32_t opacity = std::clamp<std::int32_t>(info.Opacity, 0, 100);
            record.U8(static_cast<std::uint8_t>(opacity * 255 / 100));
            record.U8(0);
            record.U8(info.Visible ? 0 : 2);
            record.U8(0);
            const std::size_t nameLength = std::min<std::size_t>(255, info.Caption.size());
            const std::size_t nameField = (nameLength + 4) & ~static_cast<std::size_t>(3);
            record.BE32(static_cast<std::uint32_t>(48 + nameField));
            record.BE32(0); // layer mask data
            record.BE32(40);
            for (int i = 0; i < 10; ++i) {
                record.BE16(0x0000);
                record.BE16(0xFFFF);
            }
            record.U8(static_cast<std::uint8_t>(nameLength));
            record.Text(info.Caption.substr(0, nameLength));
            record.Zeros(nameField - 1 - nameLength);
            channelInfoAt[layer] = Stream->Position() + 18;
            record.WriteTo(*Stream);
        }

        for (std::int32_t layer = layerCount - 1; layer >= 0; --layer) {
            const int channels = channelCount(layer);
            for (int c = 4 - channels, slot = 0; c < 4; ++c, ++slot) {
                const std::int64_t length = WriteLayerChannel(layer, ChannelBytesWithAlpha[c], row, packed);
                if (length > UInt32Limit)
                    RaiseTooLarge();
                const std::int64_t end = Stream->Position();
                Stream->Seek(channelInfoAt[layer] + slot * 6 + 2, soFromBeginning);
                TFieldWriter field;
                field.BE32(static_cast<std::uint32_t>(length));
                field.WriteTo(*Stream);
                Stream->Seek(end, soFromBeginning);
            }
        }
        if (Stream->Position() % 2)
            Stream->WriteUInt8(0);
        Stream->WriteUInt32(0); // global layer mask information
        const std::int64_t end = Stream->Position();
        if (end - sectionAt - 4 > UInt32Limit)
            RaiseTooLarge();
        Stream->Seek(sectionAt, soFromBeginning);
        TFieldWriter fields;
        fields.BE32(static_cast<std::uint32_t>(end - sectionAt - 4));
        fields.BE32(static_cast<std::uint32_t>(end - sectionAt - 12));
        // A negative count tells readers that the merged image's first alpha channel holds the
        // transparency of the merged result.
        fields.BE16(
            static_cast<std::uint16_t>(static_cast<std::int16_t>(mergedAlpha ? -layerCount : layerCount)));
        fields.WriteTo(*Stream);
        Stream->Seek(end, soFromBeginning);
    }

    // The merged image: every row is fetched again for each channel, so that no more than one
    // row is ever held.
    Stream->WriteUInt8(0);
    Stream->WriteUInt8(1); // PackBits
    const std::int64_t countsAt = Stream->Position();
    std::vector<std::uint8_t> counts(static_cast<std::size_t>(height) * mergedChannels * 2, 0);
    Stream->WriteBuffer(counts.data(), static_cast<std::int32_t>(counts.size()));
    for (int c = 0; c < mergedChannels; ++c) {
        const int byteIndex = MergedChannelBytes[c];
        for (std::int32_t y = 0; y < height; ++y) {
            GetRow(y, row.data(), mergedAlpha);
            if (mergedAlpha)
                ExtractChannel32(row.data(), byteIndex, width);
            else
                ExtractChannel24(row.data(), byteIndex, width);
            const std::int32_t count = PackBits(packed.data(), static_cast<std::int64_t>(packed.size()),
                                                row.data() + byteIndex, width);
            if (count > 0xFFFF)
                RaiseTooLarge();
            const std::size_t at = (static_cast<std::size_t>(c) * height + y) * 2;
            counts[at] = static_cast<std::uint8_t>(count >> 8);
            counts[at + 1] = static_cast<std::uint8_t>(count & 0xFF);
            Stream->WriteBuffer(packed.data(), count);
            RowDone();
        }
    }
    const std::int64_t end = Stream->Position();
    Stream->Seek(countsAt, soFromBeginning);
    Stream->WriteBuffer(counts.data(), static_cast<std::int32_t>(counts.size()));
    Stream->Seek(end, soFromBeginning);
}

// ---------------------------------------------------------------------------------------------
// TIFF

namespace {

enum class TTiffType : std::uint16_t { Ascii = 2, Short = 3, Long = 4, Rational = 5 };

struct TTiffEntry {
    std::uint16_t Tag;
    TTiffType Type;
    std::uint32_t Count;
    // The value's bytes as the file stores them (little-endian); four bytes or fewer go into the
    // entry itself, longer values after the directory.
    std::vector<std::uint8_t> Value;
};

std::vector<std::uint8_t> LittleEndian(std::initializer_list<std::uint32_t> Values, int Size) {
    std::vector<std::uint8_t> bytes;
    for (std::uint32_t v : Values)
        for (int i = 0; i < Size; ++i)
            bytes.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    return bytes;
}

TTiffEntry ShortEntry(std::uint16_t Tag, std::uint16_t Value) {
    return {Tag, TTiffType::Short, 1, LittleEndian({Value}, 2)};
}

TTiffEntry LongEntry(std::uint16_t Tag, std::uint32_t Value) {
    return {Tag, TTiffType::Long, 1, LittleEndian({Value}, 4)};
}

TTiffEntry TextEntry(std::uint16_t Tag, const std::string &Text) {
    std::vector<std::uint8_t> bytes(Text.begin(), Text.end());
    bytes.push_back(0);
    return {Tag, TTiffType::Ascii, static_cast<std::uint32_t>(bytes.size()), bytes};
}

std::string TiffDateText(TDateTime Date) {
    std::uint16_t year, month, day, hour, minute, second, msec;
    DecodeDate(Date, year, month, day);
    DecodeTime(Date, hour, minute, second, msec);
    return Format("%.4d:%.2d:%.2d %.2d:%.2d:%.2d", static_cast<int>(year), static_cast<int>(month),
                  static_cast<int>(day), static_cast<int>(hour), static_cast<int>(minute),
                  static_cast<int>(second));
}

constexpr std::uint16_t TagStripOffsets = 273;
constexpr std::uint16_t TagStripByteCounts = 279;

} // namespace

void TExportTIFFImage::CheckLimits() {
    // Offsets are 32-bit: the file must fit even if every strip packs as badly as it can.
    const std::int64_t rowBytes = static_cast<std::int64_t>(Info.Width) * (Info.Transparency ? 4 : 3);
    const std::int64_t texts = static_cast<std::int64_t>(Info.Author.size()) + Info.Comments.size() +
                               ExportSoftwareText().size() + 64;
    const std::int64_t worst = 1024 + texts + Info.Height * (8 + PackBitsBound(rowBytes) + 1);
    if (worst > UInt32Limit)
        RaiseTooLarge();
}

void TExportTIFFImage::WriteImage() {
    const bool alpha = Info.Transparency;
    const int samples = alpha ? 4 : 3;
    const std::int32_t height = Info.Height;
    const std::uint32_t resolution = RoundToUInt32(Info.Resolution * 1000);

    std::vector<TTiffEntry> entries;
    entries.push_back(LongEntry(256, static_cast<std::uint32_t>(Info.Width)));
    entries.push_back(LongEntry(257, static_cast<std::uint32_t>(height)));
    entries.push_back({258, TTiffType::Short, static_cast<std::uint32_t>(samples),
                       alpha ? LittleEndian({8, 8, 8, 8}, 2) : LittleEndian({8, 8, 8}, 2)});
    entries.push_back(ShortEntry(259, 32773)); // PackBits
    entries.push_back(ShortEntry(262, 2));     // RGB
    entries.push_back({TagStripOffsets, TTiffType::Long, static_cast<std::uint32_t>(height),
                       std::vector<std::uint8_t>(static_cast<std::size_t>(height) * 4, 0)});
    entries.push_back(ShortEntry(277, static_cast<std::uint16_t>(samples)));
    entries.push_back(LongEntry(278, 1));
    entries.push_back({TagStripByteCounts, TTiffType::Long, static_cast<std::uint32_t>(height),
                       std::vector<std::uint8_t>(static_cast<std::size_t>(height) * 4, 0)});
    entries.push_back({282, TTiffType::Rational, 1, LittleEndian({resolution, 1000}, 4)});
    entries.push_back({283, TTiffType::Rational, 1, LittleEndian({resolution, 1000}, 4)});
    entries.push_back(ShortEntry(296, 2)); // inch
    entries.push_back(TextEntry(305, ExportSoftwareText()));
    entries.push_back(TextEntry(306, TiffDateText(Info.Date)));
    entries.push_back(TextEntry(315, Info.Author));
    if (alpha)
        entries.push_back(ShortEntry(338, 2)); // unassociated alpha
    entries.push_back(TextEntry(33432, Info.Comments));

    // Lay out the values behind the directory, each starting on a word boundary.
    const std::int64_t directorySize = 2 + 12 * static_cast<std::int64_t>(entries.size()) + 4;
    std::int64_t next = 8 + directorySize;
    std::vector<std::int64_t> valueAt(entries.size(), -1); // where each value's bytes lie in the file
    TFieldWriter directory;
    directory.Text("II");
    directory.LE16(42);
    directory.LE32(8);
    directory.LE16(static_cast<std::uint16_t>(entries.size()));
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const TTiffEntry &entry = entries[i];
        directory.LE16(entry.Tag);
        directory.LE16(static_cast<std::uint16_t>(entry.Type));
        directory.LE32(entry.Count);
        if (entry.Value.size() <= 4) {
            valueAt[i] = 8 + 2 + 12 * static_cast<std::int64_t>(i) + 8;
            directory.Text(std::string(entry.Value.begin(), entry.Value.end()));
            directory.Zeros(4 - entry.Value.size());
        } else {
            valueAt[i] = next;
            directory.LE32(static_cast<std::uint32_t>(next));
            next += static_cast<std::int64_t>(entry.Value.size());
            next += next % 2;
        }
    }
    directory.LE32(0); // no next directory
    directory.WriteTo(*Stream);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].Value.size() <= 4)
            continue;
        Stream->WriteBuffer(entries[i].Value.data(), static_cast<std::int32_t>(entries[i].Value.size()));
        if (Stream->Position() % 2)
            Stream->WriteUInt8(0);
    }

    std::vector<std::uint32_t> offsets(static_cast<std::size_t>(height));
    std::vector<std::uint32_t> byteCounts(static_cast<std::size_t>(height));
    std::vector<std::uint8_t> row = MakeRowBuffer();
    const std::int64_t rowBytes = static_cast<std::int64_t>(Info.Width) * samples;
    std::vector<std::uint8_t> packed(static_cast<std::size_t>(PackBitsBound(rowBytes)));
    for (std::int32_t y = 0; y < height; ++y) {
        GetRow(y, row.data(), alpha);
        if (alpha)
            SwapRedBlue32(row.data(), Info.Width);
        else
            SwapRedBlue24(row.data(), Info.Width);
        const std::int32_t count = PackBits(packed.data(), static_cast<std::int64_t>(packed.size()),
                                            row.data(), static_cast<std::int32_t>(rowBytes));
        const std::int64_t at = Stream->Position();
        if (at + count > UInt32Limit)
            RaiseTooLarge();
        offsets[y] = static_cast<std::uint32_t>(at);
        byteCounts[y] = static_cast<std::uint32_t>(count);
        Stream->WriteBuffer(packed.data(), count);
        if (Stream->Position() % 2)
            Stream->WriteUInt8(0);
        Progress = static_cast<double>(y + 1) / height;
    }

    const std::int64_t end = Stream->Position();
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const std::uint16_t tag = entries[i].Tag;
        if (tag != TagStripOffsets && tag != TagStripByteCounts)
            continue;
        const std::vector<std::uint32_t> &values = tag == TagStripOffsets ? offsets : byteCounts;
        TFieldWriter table;
        for (std::uint32_t v : values)
            table.LE32(v);
        Stream->Seek(valueAt[i], soFromBeginning);
        table.WriteTo(*Stream);
    }
    Stream->Seek(end, soFromBeginning);
}

// ---------------------------------------------------------------------------------------------
// PNG

namespace {
const std::uint8_t PngSignature[8] = {137, 80, 78, 71, 13, 10, 26, 10};
} // namespace

void TExportPNGImage::CheckLimits() {
    // Each row goes through zlib in one piece; a text chunk must fit one chunk.
    if (static_cast<std::int64_t>(Info.Width) * 4 + 1 > 0x7FFFFFFF)
        RaiseTooLarge();
    const std::int64_t longestText = std::max<std::int64_t>(
        {static_cast<std::int64_t>(Info.Title.size()), static_cast<std::int64_t>(Info.Author.size()),
         static_cast<std::int64_t>(Info.Comments.size()),
         static_cast<std::int64_t>(ExportSoftwareText().size())});
    if (longestText + 16 > MaxChunkLength)
        RaiseTooLarge();
}

void TExportPNGImage::UpdateCRC(const std::uint8_t *Data, std::uint32_t Count) {
    FCrc = UpdateCrc32(FCrc, Data, static_cast<int>(Count));
}

void TExportPNGImage::WriteChunk(const char *Type, const std::uint8_t *Data, std::uint32_t Count) {
    TFieldWriter head;
    head.BE32(Count);
    head.Text(std::string(Type, 4));
    head.WriteTo(*Stream);
    FCrc = UpdateCrc32(0, Type, 4);
    if (Count) {
        Stream->WriteBuffer(Data, static_cast<std::int32_t>(Count));
        UpdateCRC(Data, Count);
    }
    TFieldWriter crc;
    crc.BE32(FCrc);
    crc.WriteTo(*Stream);
}

void TExportPNGImage::WriteTextChunk(const std::string &Keyword, const std::string &Text) {
    TFieldWriter data;
    data.Text(Keyword);
    data.U8(0);
    data.Text(Text);
    WriteChunk("tEXt", data.Data(), data.Size());
}

void TExportPNGImage::BeginData() {
    FChunkStart = Stream->Position();
    TFieldWriter head;
    head.BE32(0);
    head.Text("IDAT");
    head.WriteTo(*Stream);
    FCrc = UpdateCrc32(0, "IDAT", 4);
    FChunkLength = 0;
}

// Ends the open IDAT chunk: its CRC goes after the data, its length into the head written at
// its start.
void TExportPNGImage::EndData() {
    TFieldWriter crc;
    crc.BE32(FCrc);
    crc.WriteTo(*Stream);
    const std::int64_t end = Stream->Position();
    Stream->Seek(FChunkStart, soFromBeginning);
    TFieldWriter length;
    length.BE32(FChunkLength);
    length.WriteTo(*Stream);
    Stream->Seek(end, soFromBeginning);
}

void TExportPNGImage::WriteData(const std::uint8_t *Data, std::uint32_t Count) {
    while (Count > 0) {
        if (FChunkLength >= MaxChunkLength) {
            EndData();
            BeginData();
        }
        const std::uint32_t part = std::min(MaxChunkLength - FChunkLength, Count);
        Stream->WriteBuffer(Data, static_cast<std::int32_t>(part));
        UpdateCRC(Data, part);
        FChunkLength += part;
        Data += part;
        Count -= part;
    }
}

namespace {
// zlib's state, always ended, also when a callback or a write raises.
struct TDeflater {
    z_stream Z{};
    bool Open = false;
    ~TDeflater() {
        if (Open)
            deflateEnd(&Z);
    }
};
} // namespace

void TExportPNGImage::WriteImage() {
    const bool alpha = Info.Transparency;
    Stream->WriteBuffer(PngSignature, sizeof PngSignature);

    TFieldWriter ihdr;
    ihdr.BE32(static_cast<std::uint32_t>(Info.Width));
    ihdr.BE32(static_cast<std::uint32_t>(Info.Height));
    ihdr.U8(8);
    ihdr.U8(alpha ? 6 : 2);
    ihdr.U8(0);
    ihdr.U8(0);
    ihdr.U8(0);
    WriteChunk("IHDR", ihdr.Data(), ihdr.Size());

    TFieldWriter gama;
    gama.BE32(Info.Gamma > 0 ? RoundToUInt32(100000 / Info.Gamma) : 0);
    WriteChunk("gAMA", gama.Data(), gama.Size());

    TFieldWriter phys;
    const std::uint32_t ppm = PixelsPerMetre(Info.Resolution);
    phys.BE32(ppm);
    phys.BE32(ppm);
    phys.U8(1); // metre
    WriteChunk("pHYs", phys.Data(), phys.Size());

    WriteTextChunk("Title", Info.Title);
    WriteTextChunk("Author", Info.Author);
    WriteTextChunk("Creation Time", DateToLongText(Info.Date));
    WriteTextChunk("Software", ExportSoftwareText());
    WriteTextChunk("Comment", PNGLineEnds(Info.Comments));

    TDeflater deflater;
    if (deflateInit(&deflater.Z, Z_BEST_COMPRESSION) != Z_OK)
        throw EOutOfMemory("Out of memory");
    deflater.Open = true;
    std::vector<std::uint8_t> output(65536);
    auto drain = [&](int Flush) {
        int status;
        do {
            deflater.Z.next_out = output.data();
            deflater.Z.avail_out = static_cast<uInt>(output.size());
            status = deflate(&deflater.Z, Flush);
            if (status == Z_STREAM_ERROR)
                throw EWriteError("Stream write error");
            const std::uint32_t produced = static_cast<std::uint32_t>(output.size() - deflater.Z.avail_out);
            if (produced)
                WriteData(output.data(), produced);
        } while (deflater.Z.avail_out == 0 || (Flush == Z_FINISH && status != Z_STREAM_END));
    };

    BeginData();
    const std::int32_t pixelBytes = alpha ? 4 : 3;
    // The filter byte (0, none) goes in front of the pixels, so the row is fetched one byte in.
    std::vector<std::uint8_t> row(static_cast<std::size_t>(Info.Width) * 4 + 16 + 1, 0);
    for (std::int32_t y = 0; y < Info.Height; ++y) {
        row[0] = 0;
        GetRow(y, row.data() + 1, alpha);
        if (alpha)
            SwapRedBlue32(row.data() + 1, Info.Width);
        else
            SwapRedBlue24(row.data() + 1, Info.Width);
        deflater.Z.next_in = row.data();
        deflater.Z.avail_in = static_cast<uInt>(1 + Info.Width * pixelBytes);
        drain(Z_NO_FLUSH);
        Progress = static_cast<double>(y + 1) / Info.Height;
    }
    drain(Z_FINISH);
    EndData();
    WriteChunk("IEND", nullptr, 0);
}

// ---------------------------------------------------------------------------------------------
// JPEG

namespace {
constexpr std::int32_t JPEGMaxSide = 65500;
} // namespace

void TExportJPEGImage::CheckLimits() {
    if (Info.Width > JPEGMaxSide || Info.Height > JPEGMaxSide)
        RaiseTooLarge();
}

void TExportJPEGImage::WriteImage() {
    TJPEGCompressor compressor(*Stream);
    compressor.Width = Info.Width;
    compressor.Height = Info.Height;
    compressor.Quality = std::clamp<std::int32_t>(Info.Quality, 1, 100);
    std::vector<std::uint8_t> row = MakeRowBuffer();
    for (std::int32_t y = 0; y < Info.Height; ++y) {
        GetRow(y, row.data(), false);
        compressor.WriteRow(row.data());
        Progress = static_cast<double>(y + 1) / Info.Height;
    }
}

// ---------------------------------------------------------------------------------------------
// TFractalExporter

std::vector<TExportLayerGroup> GroupExportLayers(const std::vector<bool> &IsMask) {
    std::vector<TExportLayerGroup> groups;
    for (std::size_t i = 0; i < IsMask.size(); ++i) {
        if (!IsMask[i])
            groups.push_back({static_cast<std::int32_t>(i), {}});
        else if (!groups.empty())
            groups.back().Masks.push_back(static_cast<std::int32_t>(i));
    }
    return groups;
}

TFractalExporter::TFractalExporter(TFractal &AFractal, bool ALayers, bool ATransparency,
                                   std::int32_t AQuality, int FormatIndex, const std::string &FileName)
    : FFractal(AFractal), FLayers(ALayers), FTransparency(ATransparency), FQuality(AQuality),
      FFormatIndex(FormatIndex), FImage(CreateExportImage(FileName, FormatIndex)) {}

TFractalExporter::~TFractalExporter() = default;

std::vector<TExportLayerGroup> TFractalExporter::Groups() const {
    const TLayerList &layers = FFractal.GetLayers();
    std::vector<bool> isMask(static_cast<std::size_t>(layers.Count()));
    for (int i = 0; i < layers.Count(); ++i)
        isMask[static_cast<std::size_t>(i)] = layers.Items(i).GetMask();
    return GroupExportLayers(isMask);
}

std::int32_t TFractalExporter::ExportLayerCount() const {
    return static_cast<std::int32_t>(Groups().size());
}

void TFractalExporter::Execute() {
    TProgressManager *progress = ProgressManager();
    if (progress)
        progress->BeginProgress(::Format("Exporting %s image", std::string(ExportFormatNames[FFormatIndex])));
    struct TEndProgress {
        TProgressManager *Manager;
        ~TEndProgress() {
            if (Manager)
                Manager->EndProgress();
        }
    } endProgress{progress};

    FGroups = Groups();
    TExportImageInfo info;
    info.Width = FFractal.GetWidth();
    info.Height = FFractal.GetHeight();
    info.LayerCount = static_cast<std::int32_t>(FGroups.size());
    info.Resolution = Resolution;
    info.Gamma = Gamma;
    info.Title = FFractal.GetTitle();
    if (HasCredit) {
        info.Author = Author;
        info.Date = Date;
    } else {
        const TConfigManager *config = ConfigManager();
        info.Author = config ? config->General->Owner : std::string();
        info.Date = ::Date();
    }
    info.Comments = Comments;
    info.Quality = FQuality;
    info.Transparency = FTransparency;
    info.Layers = FLayers;

    FImage->OnGetRow = [this](std::int32_t Y, std::uint8_t *Row, bool WithAlpha) {
        GetMergedRow(Y, Row, WithAlpha);
    };
    FImage->OnGetLayerInfo = [this](std::int32_t Layer, TExportLayerInfo &Info) {
        GetLayerInfo(Layer, Info);
    };
    FImage->OnGetLayerRow = [this](std::int32_t Layer, std::int32_t Y, std::uint8_t *Row) {
        GetLayerRow(Layer, Y, Row);
    };
    FImage->Execute(info);
}

void TFractalExporter::ReportProgress() {
    if (TProgressManager *progress = ProgressManager())
        progress->SetProgress(static_cast<int>(std::floor(FImage->Progress * 100 + 0.5)));
}

void TFractalExporter::GetMergedRow(std::int32_t Y, std::uint8_t *Row, bool WithAlpha) {
    // Without alpha: three bytes over white; with alpha: four bytes without background.
    FFractal.GetUpdateManager().GetMergedRow(Y, Row, !WithAlpha);
    ReportProgress();
}

void GetExportLayerInfo(const TLayerList &Layers, const TExportLayerGroup &Group, TExportLayerInfo &Info) {
    const TLayer &layer = Layers.Items(Group.Layer);
    Info.Caption = layer.GetCaption();
    Info.MergeMode = layer.GetMergeMode();
    Info.Opacity = layer.GetOpacity();
    Info.Visible = layer.GetVisible();
    Info.Transparent = layer.GetTransparent();
    for (std::int32_t mask : Group.Masks)
        Info.Transparent = Info.Transparent || Layers.Items(mask).GetTransparent();
}

void TFractalExporter::GetLayerInfo(std::int32_t ExportLayer, TExportLayerInfo &Info) {
    GetExportLayerInfo(FFractal.GetLayers(), FGroups.at(static_cast<std::size_t>(ExportLayer)), Info);
}

namespace {
// Row Y of a layer's pixel store as 4-byte colours.
void LayerColorRow(const TLayer &Layer, std::int32_t Y, std::uint32_t *Row, std::int32_t Width) {
    const TLayerImage &image = Layer.GetImage();
    if (Y >= image.Height() || image.Width() < Width) {
        // A store of another size (being replaced) shows as not calculated: transparent.
        std::fill(Row, Row + Width, 0u);
        return;
    }
    switch (image.Mode()) {
    case lmCode:
        ConvertIndexRow(reinterpret_cast<const std::uint16_t *>(image.PixelPtr(0, Y)), Row, Width,
                        image.ColorTable());
        break;
    case lmColor:
        std::memcpy(Row, image.PixelPtr(0, Y), static_cast<std::size_t>(Width) * 4);
        break;
    default:
        for (std::int32_t x = 0; x < Width; ++x)
            Row[x] = image.GetPixelColor(x, Y);
        break;
    }
}
} // namespace

void TFractalExporter::GetLayerRow(std::int32_t ExportLayer, std::int32_t Y, std::uint8_t *Row) {
    const TExportLayerGroup &group = FGroups.at(static_cast<std::size_t>(ExportLayer));
    const TLayerList &layers = FFractal.GetLayers();
    const std::int32_t width = FImage->Info.Width;
    const TLayer &layer = layers.Items(group.Layer);
    // The row buffer holds width × 4 + 16 bytes and is suitably aligned for 4-byte pixels.
    std::uint32_t *pixels = reinterpret_cast<std::uint32_t *>(Row);
    LayerColorRow(layer, Y, pixels, width);
    if (!layer.GetTransparent())
        MergeSetAlpha(pixels, width, 255);
    for (std::int32_t maskIndex : group.Masks) {
        const TLayer &mask = layers.Items(maskIndex);
        if (!mask.GetTransparent())
            continue;
        FMaskRow.resize(static_cast<std::size_t>(width));
        LayerColorRow(mask, Y, FMaskRow.data(), width);
        MergeMask(pixels, FMaskRow.data(), width);
    }
    ReportProgress();
}
