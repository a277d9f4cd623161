#include "FracFiles.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "CompEntries.h"
#include "CompPersistent.h"
#include "FracPersistent.h"
#include "FracProgress.h"
#include "GenClasses.h"
#include "GenUtils.h"

namespace {

// Pixel streams that zlib refuses, or that would inflate beyond what their layer can hold.
DECLARE_EXCEPTION(EFractalFileDecompress, Exception);
// A file whose structure does not hold together.
DECLARE_EXCEPTION(EFractalFileCorrupt, Exception);
// zlib failed while compressing: reported as a failed write.
DECLARE_EXCEPTION(EFractalFileCompress, EWriteError);

constexpr std::size_t ZBufferSize = 64 * 1024;

// A write-only stream that deflates everything written to it into Dest as one zlib stream
// (RFC 1950, default level). Finish writes the end of the stream; without it the stream is
// incomplete.
class TDeflateStream : public TStream {
public:
    explicit TDeflateStream(TStream &ADest) : FDest(ADest), FBuffer(ZBufferSize) {
        if (deflateInit(&FZ, Z_DEFAULT_COMPRESSION) != Z_OK)
            throw EFractalFileCompress("deflateInit");
    }
    ~TDeflateStream() override { deflateEnd(&FZ); }
    DECLARE_CLASS_NAME(TDeflateStream)

    int32_t Read(void *, int32_t) override { return 0; }
    int32_t Write(const void *Buffer, int32_t Count) override {
        if (Count > 0)
            Pump(Buffer, static_cast<uInt>(Count), Z_NO_FLUSH);
        return Count;
    }
    int64_t Seek(int64_t Offset, int Origin) override {
        if (Offset == 0 && Origin == soFromCurrent)
            return static_cast<int64_t>(FZ.total_in);
        throw EStreamError("Invalid stream operation");
    }
    void Finish() { Pump(nullptr, 0, Z_FINISH); }

private:
    void Pump(const void *Buffer, uInt Count, int Flush) {
        FZ.next_in = static_cast<Bytef *>(const_cast<void *>(Buffer));
        FZ.avail_in = Count;
        int status;
        do {
            FZ.next_out = FBuffer.data();
            FZ.avail_out = static_cast<uInt>(FBuffer.size());
            status = deflate(&FZ, Flush);
            if (status == Z_STREAM_ERROR)
                throw EFractalFileCompress("deflate");
            const uInt produced = static_cast<uInt>(FBuffer.size()) - FZ.avail_out;
            if (produced > 0)
                FDest.WriteBuffer(FBuffer.data(), static_cast<int32_t>(produced));
        } while (FZ.avail_out == 0 || (Flush == Z_FINISH && status != Z_STREAM_END));
    }

    TStream &FDest;
    std::vector<Bytef> FBuffer;
    z_stream FZ{};
};

// Inflates the one zlib stream that begins at Source's position, producing at most Limit bytes,
// and leaves Source at the first byte the stream did not consume. A source that ends first
// raises EReadError; data zlib refuses, or more output than Limit, EFractalFileDecompress.
std::string InflateOne(TStream &Source, std::int64_t Limit) {
    struct TInflater {
        z_stream Z{};
        bool Open = false;
        ~TInflater() {
            if (Open)
                inflateEnd(&Z);
        }
    } inflater;
    if (inflateInit(&inflater.Z) != Z_OK)
        throw EOutOfMemory("Out of memory");
    inflater.Open = true;
    z_stream &z = inflater.Z;
    std::vector<Bytef> input(ZBufferSize), output(ZBufferSize);
    std::string result;
    int status = Z_OK;
    while (status != Z_STREAM_END) {
        if (z.avail_in == 0) {
            const int32_t count = Source.Read(input.data(), static_cast<int32_t>(input.size()));
            if (count <= 0)
                throw EReadError("Stream read error");
            z.next_in = input.data();
            z.avail_in = static_cast<uInt>(count);
        }
        z.next_out = output.data();
        z.avail_out = static_cast<uInt>(output.size());
        status = inflate(&z, Z_NO_FLUSH);
        if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR)
            throw EFractalFileDecompress("inflate");
        const std::size_t produced = output.size() - z.avail_out;
        if (static_cast<std::int64_t>(result.size() + produced) > Limit)
            throw EFractalFileDecompress("inflate");
        result.append(reinterpret_cast<const char *>(output.data()), produced);
    }
    Source.Seek(-static_cast<int64_t>(z.avail_in), soFromCurrent);
    return result;
}

// The most bytes a layer's pixel store can take: its pixels at their width, plus the cells of
// anti-aliasing.
std::int64_t PixelStoreLimit(TLayer &Layer) {
    const TLayerImage &image = Layer.GetImage();
    const std::int64_t pixels = static_cast<std::int64_t>(image.Width()) * image.Height();
    return pixels * image.BytesPerPixel() + pixels * 16 + 16;
}

// The parameter reader's 0 to 100 % as the first fifth of reading a file.
struct TReadProgress {
    void Report(TObject *, int Percent) {
        if (TProgressManager *manager = ProgressManager())
            manager->SetProgress(Percent / 5);
    }
};

std::uint32_t FileOffset(TStream &Stream) {
    const int64_t position = Stream.Position();
    if (position > static_cast<int64_t>(UINT32_MAX))
        throw EWriteError("Stream write error");
    return static_cast<std::uint32_t>(position);
}

} // namespace

// --- Header ------------------------------------------------------------------------------------

void TFractalFileHeader::Write(TStream &Stream) const {
    Stream.WriteBuffer(Signature, static_cast<int32_t>(SignatureLength));
    Stream.WriteUInt32(Version);
    Stream.WriteUInt32(ParameterOffset);
    Stream.WriteUInt32(ParameterLength);
    Stream.WriteUInt32(LayerHeaderOffset);
    Stream.WriteUInt32(LayerHeaderLength);
    Stream.WriteUInt32(PixelOffset);
    Stream.WriteInt32(Width);
    Stream.WriteInt32(Height);
    Stream.WriteInt32(LayerCount);
    Stream.WriteFloat64(CalculationTime);
    Stream.WriteUInt64(0);
}

void TFractalFileHeader::Read(TStream &Stream) {
    char signature[SignatureLength];
    Stream.ReadBuffer(signature, static_cast<int32_t>(SignatureLength));
    SignatureText.assign(signature, SignatureLength);
    Version = Stream.ReadUInt32();
    ParameterOffset = Stream.ReadUInt32();
    ParameterLength = Stream.ReadUInt32();
    LayerHeaderOffset = Stream.ReadUInt32();
    LayerHeaderLength = Stream.ReadUInt32();
    PixelOffset = Stream.ReadUInt32();
    Width = Stream.ReadInt32();
    Height = Stream.ReadInt32();
    LayerCount = Stream.ReadInt32();
    CalculationTime = Stream.ReadFloat64();
    Stream.ReadUInt64();
}

bool TFractalFileHeader::SignatureKnown() const {
    return SignatureText == Signature || SignatureText == OpenSignature;
}

bool TFractalFileHeader::VersionAccepted() const {
    if (!SignatureKnown())
        return false;
    return Version <= CurrentVersion || SignatureText == OpenSignature;
}

// --- Writer ------------------------------------------------------------------------------------

void TFractalWriter::Execute() {
    TProgressScope progress("Saving fractal file");
    std::unique_ptr<TSafeFileStream> file;
    try {
        file = std::make_unique<TSafeFileStream>(FileName, fmCreate);
    } catch (const Exception &) {
        throw Exception("Could not create '%s'", FileName);
    }
    // Only the layers that were calculating go on afterwards; a layer the user stopped stays so.
    TLayerList &layers = Fractal.GetLayers();
    std::vector<TLayer *> running;
    for (int i = 0; i < layers.Count(); ++i)
        if (layers.Items(i).IsCalculating())
            running.push_back(&layers.Items(i));
    Fractal.PauseCalculation();
    std::string failure;
    try {
        WriteFile(*file);
        file->Commit();
    } catch (const EWriteError &) {
        failure = Format("Could not write to '%s'. The destination drive may be full", FileName);
    } catch (const EStreamError &) {
        failure = Format("Could not create '%s'", FileName);
    } catch (...) {
        file->Discard();
        for (TLayer *layer : running)
            layer->ResumeCalculation();
        throw;
    }
    file->Discard();
    for (TLayer *layer : running)
        layer->ResumeCalculation();
    if (!failure.empty())
        throw Exception(failure);
}

void TFractalWriter::WriteFile(TStream &File) {
    TParWriter writer;
    Fractal.WriteParameters(writer, TPersistentFractal::FileWriteFlags);
    writer.Finish();

    // The header is written twice: first to hold the place, then with the offsets.
    TLayerList &layers = Fractal.GetLayers();
    TFractalFileHeader header;
    header.Width = Fractal.GetWidth();
    header.Height = Fractal.GetHeight();
    header.LayerCount = layers.Count();
    header.CalculationTime = Fractal.GetTimer().GetElapsed();
    header.ParameterOffset = TFractalFileHeader::Size;
    header.Write(File);
    writer.WriteEntryToStream(File, TitleToName(Fractal.GetTitle()));
    header.LayerHeaderOffset = FileOffset(File);
    header.ParameterLength = header.LayerHeaderOffset - header.ParameterOffset;
    for (int i = 0; i < layers.Count(); ++i)
        layers.Items(i).WriteResumeState(File);
    header.PixelOffset = FileOffset(File);
    header.LayerHeaderLength = header.PixelOffset - header.LayerHeaderOffset;
    File.SetPosition(0);
    header.Write(File);
    File.SetPosition(header.PixelOffset);

    const int count = layers.Count();
    for (int i = 0; i < count; ++i) {
        TDeflateStream deflater(File);
        layers.Items(i).GetImage().SaveData(deflater, 100 * i / count, 100 * (i + 1) / count);
        deflater.Finish();
    }
}

// --- Reader ------------------------------------------------------------------------------------

TFractalReader::TFractalReader(TPersistentFractal &AFractal, const std::string &AFileName)
    : TFractalFiler(AFractal, AFileName) {}

TFractalReader::~TFractalReader() = default;

void TFractalReader::RaiseCorrupted() const {
    throw EFractalFileCorrupt("Could not read '%s'. The file is corrupted", FileName);
}

void TFractalReader::Execute() {
    TProgressScope progress("Opening fractal file");
    Prepare();
    Apply();
}

void TFractalReader::Prepare() {
    TProgressScope progress("Opening fractal file");
    FPrepared = false;
    FLayers.clear();
    std::unique_ptr<TFileStream> file;
    try {
        file = std::make_unique<TFileStream>(FileName, fmOpenRead | fmShareDenyWrite);
    } catch (const Exception &) {
        throw Exception("Could not open '%s'", FileName);
    }
    try {
        ReadFile(*file);
    } catch (const EFractalFileCorrupt &) {
        throw;
    } catch (const EFractalFileDecompress &) {
        throw Exception("Could not decompress '%s'. The file is corrupted", FileName);
    } catch (const EReadError &) {
        RaiseCorrupted();
    } catch (const EStreamError &) {
        throw Exception("Could not open '%s'", FileName);
    }
    FPrepared = true;
}

void TFractalReader::ReadFile(TStream &File) {
    const int64_t fileSize = File.Size();
    FHeader.Read(File);
    if (!FHeader.VersionAccepted())
        RaiseCorrupted();
    // Every section lies inside the file, in order, within its cap, before anything is allocated.
    const int64_t parameterEnd = FHeader.LayerHeaderOffset;
    if (FHeader.ParameterOffset < TFractalFileHeader::Size || parameterEnd < FHeader.ParameterOffset ||
        FHeader.PixelOffset < parameterEnd || FHeader.PixelOffset > fileSize ||
        parameterEnd - FHeader.ParameterOffset > MaxFractalFileText ||
        FHeader.PixelOffset - parameterEnd > MaxFractalFileLayerHeaders)
        RaiseCorrupted();
    if (!ImageSizeAllowed(FHeader.Width, FHeader.Height, FHeader.LayerCount))
        RaiseCorrupted();

    File.SetPosition(FHeader.ParameterOffset);
    FParameterText = File.ReadString(parameterEnd - FHeader.ParameterOffset, MaxFractalFileText);
    File.SetPosition(FHeader.LayerHeaderOffset);
    TStringStream resumeStates(
        File.ReadString(FHeader.PixelOffset - parameterEnd, MaxFractalFileLayerHeaders));

    // A scratch document of the same parameters reads every resume state and pixel store, so
    // that the open document changes only when all of the file can be used.
    TCustomFractal scratch(Fractal.GetCalculateManager());
    scratch.BeginChange();
    std::unique_ptr<TParReader> reader;
    try {
        reader = TEntryStream::CreateFromString<TParReader>(FParameterText);
    } catch (const Exception &) {
        RaiseCorrupted();
    }
    TReadProgress progress;
    scratch.ReadParameters(*reader, TPersistentFractal::NormalReadFlags,
                           MakeEvent<&TReadProgress::Report>(&progress));
    TLayerList &layers = scratch.GetLayers();
    if (scratch.GetWidth() != FHeader.Width || scratch.GetHeight() != FHeader.Height ||
        layers.Count() != FHeader.LayerCount)
        RaiseCorrupted();

    // A resume state or pixel store the layer refuses makes the file corrupted; broken zlib data
    // and a lack of memory keep their own messages.
    try {
        ReadLayers(File, scratch, resumeStates);
    } catch (const EFractalFileDecompress &) {
        throw;
    } catch (const EOutOfMemory &) {
        throw;
    } catch (const Exception &) {
        RaiseCorrupted();
    }
}

void TFractalReader::ReadLayers(TStream &File, TCustomFractal &Scratch, TStringStream &ResumeStates) {
    TLayerList &layers = Scratch.GetLayers();
    const int count = layers.Count();
    FLayers.resize(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        const int64_t start = ResumeStates.Position();
        layers.Items(i).ReadResumeState(ResumeStates);
        const int64_t end = ResumeStates.Position();
        FLayers[static_cast<std::size_t>(i)].ResumeState = ResumeStates.DataString().substr(
            static_cast<std::size_t>(start), static_cast<std::size_t>(end - start));
    }
    File.SetPosition(FHeader.PixelOffset);
    for (int i = 0; i < count; ++i) {
        TLayer &layer = layers.Items(i);
        std::string &data = FLayers[static_cast<std::size_t>(i)].Pixels;
        data = InflateOne(File, PixelStoreLimit(layer));
        TStringStream pixels(data);
        layer.GetImage().LoadData(pixels, 20 + 80 * i / count, 20 + 80 * (i + 1) / count);
    }
}

void TFractalReader::Apply() {
    if (!FPrepared)
        Prepare();
    Fractal.BeginChange();
    Fractal.PauseCalculation();
    TUpdateManager &display = Fractal.GetUpdateManager();
    display.BeginUpdate();
    auto finish = [&] {
        display.EndUpdate();
        Fractal.EndChangeCaption("Open Fractal");
    };
    try {
        auto reader = TEntryStream::CreateFromString<TParReader>(FParameterText);
        Fractal.ReadParameters(*reader, TPersistentFractal::NormalReadFlags, TFractalProgressEvent());
        Fractal.GetTimer().SetElapsed(FHeader.CalculationTime);
        TLayerList &layers = Fractal.GetLayers();
        if (layers.Count() != static_cast<int>(FLayers.size()))
            RaiseCorrupted();
        for (int i = 0; i < layers.Count(); ++i) {
            const TLayerRecord &record = FLayers[static_cast<std::size_t>(i)];
            TStringStream data(record.ResumeState + record.Pixels);
            layers.Items(i).ReadCalculation(data);
        }
    } catch (...) {
        finish();
        throw;
    }
    finish();
}

// --- Browser peek ------------------------------------------------------------------------------

std::unique_ptr<TEntryCollection> ReadFractalFileEntries(const std::string &FileName) {
    try {
        TFileStream file(FileName, fmOpenRead | fmShareDenyWrite);
        TFractalFileHeader header;
        header.Read(file);
        if (!header.SignatureKnown())
            return nullptr;
        if (header.ParameterOffset < TFractalFileHeader::Size || header.ParameterOffset > file.Size())
            return nullptr;
        file.SetPosition(header.ParameterOffset);
        std::string text = file.ReadString(header.ParameterLength, MaxFractalFileText);
        std::unique_ptr<TEntryCollection> entries = TEntryReader::CreateFromString(text, true);
        if (entries->GetCount() == 0)
            return nullptr;
        entries->ChangeTitle(0, ExtractFileTitle(FileName));
        return entries;
    } catch (const Exception &) {
        return nullptr;
    }
}
