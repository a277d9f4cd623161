// The fractal image file (.ofr): a whole fractal with its calculated layers, so that it opens
// without recalculation and an interrupted calculation continues where it stopped.
//
// Layout, integers little-endian: a 64-byte header (signature "OrbiskVantel", version, the
// offsets and lengths of the three sections, image width, height, layer count, calculation time
// as a double in days, eight reserved bytes); the parameter text as one entry; every layer's
// resume state in layer order; one zlib stream per layer holding its pixel store. Nothing records
// the lengths of the zlib streams: each one ends where zlib says it ends, and the next begins at
// the first byte the previous one did not consume.
//
// Reading prepares everything before the document changes: the header, the parameter text, the
// resume states and every pixel stream are read and checked against a scratch document of the
// same parameters, so that a truncated or corrupt file leaves the open document as it was.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "SysUtils.h"

class TEntryCollection;
class TPersistentFractal;
class TCustomFractal;
class TStream;
class TStringStream;

// The fixed header of a fractal image file.
struct TFractalFileHeader {
    static constexpr std::size_t Size = 64;
    static constexpr const char *Signature = "OrbiskVantel";
    // The capital signature lets a later version be read by this one.
    static constexpr const char *OpenSignature = "ORBISKVANTEL";
    static constexpr std::size_t SignatureLength = 12;
    static constexpr std::uint32_t CurrentVersion = 1;

    std::string SignatureText;
    std::uint32_t Version = CurrentVersion;
    std::uint32_t ParameterOffset = Size;
    std::uint32_t ParameterLength = 0;
    std::uint32_t LayerHeaderOffset = 0;
    std::uint32_t LayerHeaderLength = 0;
    std::uint32_t PixelOffset = 0;
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    std::int32_t LayerCount = 0;
    double CalculationTime = 0;

    void Write(TStream &Stream) const;
    // Reads the 64 bytes; EReadError when the stream ends before.
    void Read(TStream &Stream);
    // Either signature.
    bool SignatureKnown() const;
    // A known signature, and a version above the current one only with the capital signature.
    bool VersionAccepted() const;
};

// The most parameter text and resume-state bytes a file may declare; beyond, it is corrupted.
constexpr std::int64_t MaxFractalFileText = 64 * 1024 * 1024;
constexpr std::int64_t MaxFractalFileLayerHeaders = 64 * 1024 * 1024;

class TFractalFiler : public TObject {
public:
    TFractalFiler(TPersistentFractal &AFractal, const std::string &AFileName)
        : FileName(AFileName), Fractal(AFractal) {}
    DECLARE_CLASS_NAME(TFractalFiler)
    virtual void Execute() = 0;

    std::string FileName;
    TPersistentFractal &Fractal;
};

// Writes through a safe file stream: an existing file is replaced only by a complete new one.
// Errors: "Could not create '%s'" when the file cannot be made, "Could not write to '%s'. The
// destination drive may be full" when writing or compressing fails.
class TFractalWriter : public TFractalFiler {
public:
    using TFractalFiler::TFractalFiler;
    DECLARE_CLASS_NAME(TFractalWriter)
    void Execute() override;

private:
    void WriteFile(TStream &File);
};

// Errors (the document unchanged): "Could not open '%s'" when the file cannot be opened or
// another stream error occurs; "Could not read '%s'. The file is corrupted" for a short file, a
// wrong signature or version, lengths that do not fit, or a size or layer count that does not
// match the parameters; "Could not decompress '%s'. The file is corrupted" for broken pixel
// streams. Errors of the parameter text pass on as the parameter reader raises them.
class TFractalReader : public TFractalFiler {
public:
    TFractalReader(TPersistentFractal &AFractal, const std::string &AFileName);
    ~TFractalReader() override;
    DECLARE_CLASS_NAME(TFractalReader)

    // Prepare, then Apply.
    void Execute() override;
    // Reads and checks the whole file; the document is not touched.
    void Prepare();
    // Puts what Prepare read into the document, in one change captioned "Open Fractal".
    void Apply();

private:
    struct TLayerRecord {
        std::string ResumeState;
        std::string Pixels;
    };
    void ReadFile(TStream &File);
    // Every layer's resume state and pixel store, read into the scratch document's layers.
    void ReadLayers(TStream &File, TCustomFractal &Scratch, TStringStream &ResumeStates);
    [[noreturn]] void RaiseCorrupted() const;

    TFractalFileHeader FHeader;
    std::string FParameterText;
    std::vector<TLayerRecord> FLayers;
    bool FPrepared = false;
};

// The parameter text of a fractal image file as an entry collection whose one entry carries the
// file's title; nil for anything that is not a readable fractal image file. Never raises.
std::unique_ptr<TEntryCollection> ReadFractalFileEntries(const std::string &FileName);
