// Writes the export samples that check_export.py reads back with independent tools: a synthetic
// 257 × 129 gradient with an alpha ramp in every format, layered Photoshop files, tiny TIFFs and
// a PNG whose image data is split into small IDAT chunks.
//
// The pixel formulas are repeated, not shared, in check_export.py, which builds its reference
// images from them on its own.
//
// Usage: ExportSamples <folder>. Exit code 0 when every file was written.
#include <cstdio>
#include <cstring>
#include <string>

#include "FracExport.h"
#include "GenProgram.h"
#include "SysUtils.h"

namespace {

constexpr int SampleWidth = 257;
constexpr int SampleHeight = 129;

std::string Folder;

// Merged image, blue, green, red, alpha.
void MergedPixel(int X, int Y, std::uint8_t *P) {
    P[0] = static_cast<std::uint8_t>(X & 255);
    P[1] = static_cast<std::uint8_t>((2 * Y) & 255);
    P[2] = static_cast<std::uint8_t>((X ^ Y) & 255);
    P[3] = static_cast<std::uint8_t>(X * 255 / 256);
}

// Export layer K (0 the top layer).
void LayerPixel(int K, int X, int Y, std::uint8_t *P) {
    P[0] = static_cast<std::uint8_t>((X + 40 * K) & 255);
    P[1] = static_cast<std::uint8_t>((2 * Y + 17 * K) & 255);
    P[2] = static_cast<std::uint8_t>((X + Y + 90 * K) & 255);
    P[3] = static_cast<std::uint8_t>(K == 1 ? Y * 255 / 128 : K == 2 ? 255 - X * 255 / 256 : X * 255 / 256);
}

TExportImageInfo SampleInfo(int Width = SampleWidth, int Height = SampleHeight) {
    TExportImageInfo info;
    info.Width = Width;
    info.Height = Height;
    info.Resolution = 300;
    info.Gamma = 2.5;
    info.Title = "Gradient ramp";
    info.Author = "Test Author";
    info.Date = EncodeDate(2024, 8, 19) + EncodeTime(13, 5, 9, 0);
    info.Comments = "first line\r\nsecond line";
    info.Quality = 90;
    return info;
}

void SetSampleCallbacks(TExportImage &Writer, const TExportLayerInfo *Layers) {
    Writer.OnGetRow = [&Writer](std::int32_t Y, std::uint8_t *Row, bool WithAlpha) {
        for (int x = 0; x < Writer.Info.Width; ++x) {
            std::uint8_t p[4];
            MergedPixel(x, Y, p);
            if (WithAlpha) {
                std::memcpy(Row + 4 * x, p, 4);
            } else {
                // Over white, rounded to the nearest value.
                for (int c = 0; c < 3; ++c)
                    Row[3 * x + c] =
                        static_cast<std::uint8_t>((p[c] * p[3] + 255 * (255 - p[3]) + 127) / 255);
            }
        }
    };
    Writer.OnGetLayerRow = [&Writer](std::int32_t Layer, std::int32_t Y, std::uint8_t *Row) {
        for (int x = 0; x < Writer.Info.Width; ++x)
            LayerPixel(Layer, x, Y, Row + 4 * x);
    };
    Writer.OnGetLayerInfo = [Layers](std::int32_t Layer, TExportLayerInfo &Info) { Info = Layers[Layer]; };
}

// A PNG writer with small chunks, so that the image data needs several IDAT chunks.
class TSmallChunkPNGImage : public TExportPNGImage {
public:
    explicit TSmallChunkPNGImage(const std::string &FileName) : TExportPNGImage(FileName) {
        MaxChunkLength = 1000;
    }
};

int Failures = 0;

void Export(std::unique_ptr<TExportImage> Writer, const TExportImageInfo &Info,
            const TExportLayerInfo *Layers = nullptr) {
    const std::string name = Writer->FileName;
    try {
        SetSampleCallbacks(*Writer, Layers);
        Writer->Execute(Info);
        if (Writer->Failed)
            throw Exception("aborted");
        Writer.reset(); // puts the file in place
    } catch (const Exception &e) {
        std::printf("FAILED %s: %s\n", name.c_str(), e.Message().c_str());
        ++Failures;
    }
}

void Export(TExportFormat Format, const std::string &Name, const TExportImageInfo &Info,
            const TExportLayerInfo *Layers = nullptr) {
    try {
        Export(CreateExportImage(Folder + Name, static_cast<int>(Format)), Info, Layers);
    } catch (const Exception &e) {
        std::printf("FAILED %s: %s\n", Name.c_str(), e.Message().c_str());
        ++Failures;
    }
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        std::printf("usage: ExportSamples <folder>\n");
        return 2;
    }
    Folder = argv[1];
    if (!Folder.empty() && Folder[0] == '/') // a Linux path under Wine
        Folder = "Z:" + Folder;
    for (char &c : Folder)
        if (c == '/')
            c = '\\';
    if (Folder.back() != '\\')
        Folder += '\\';
    InitializeGenProgram();

    TExportImageInfo opaque = SampleInfo();
    TExportImageInfo alpha = SampleInfo();
    alpha.Transparency = true;

    Export(TExportFormat::Bitmap, "merged.bmp", opaque);
    Export(TExportFormat::Targa, "merged.tga", alpha);
    Export(TExportFormat::Targa, "merged-opaque.tga", opaque);
    Export(TExportFormat::TIFF, "merged.tif", alpha);
    Export(TExportFormat::TIFF, "merged-opaque.tif", opaque);
    Export(TExportFormat::PNG, "merged.png", alpha);
    Export(TExportFormat::PNG, "merged-opaque.png", opaque);
    Export(std::make_unique<TSmallChunkPNGImage>(Folder + "split.png"), alpha);
    Export(TExportFormat::Photoshop, "merged.psd", alpha);
    Export(TExportFormat::Photoshop, "merged-opaque.psd", opaque);
    for (int quality : {90, 50}) {
        TExportImageInfo info = SampleInfo();
        info.Quality = quality;
        Export(TExportFormat::JPEG, "q" + std::to_string(quality) + ".jpg", info);
    }

    // Three layers at full opacity, the bottom one transparent: the merged image has alpha and
    // the layer count is negative.
    const TExportLayerInfo plainLayers[3] = {
        {"Top", 0, 100, true, true}, {"Middle", 0, 100, true, true}, {"Bottom", 0, 100, true, true}};
    TExportImageInfo layered = SampleInfo();
    layered.LayerCount = 3;
    layered.Layers = true;
    layered.Transparency = true;
    Export(TExportFormat::Photoshop, "layers.psd", layered, plainLayers);

    // Records of every kind: modes, opacities, a hidden layer, a 300-character name, and an
    // opaque bottom layer (three channels, a positive count).
    const TExportLayerInfo recordLayers[3] = {{std::string(300, 'N'), 1, 50, true, true},
                                              {"Hidden", 8, 30, false, true},
                                              {"Base", 12, 100, true, false}};
    Export(TExportFormat::Photoshop, "records.psd", layered, recordLayers);

    // Tiny TIFFs whose strip tables and short texts fit into their directory entries.
    const struct {
        const char *Name;
        int Width, Height;
        bool Alpha;
    } tiny[] = {{"t1x1.tif", 1, 1, true},
                {"t1x1-opaque.tif", 1, 1, false},
                {"t1x5.tif", 1, 5, true},
                {"t5x1.tif", 5, 1, true},
                {"t200x1.tif", 200, 1, false}};
    for (const auto &t : tiny) {
        TExportImageInfo info = SampleInfo(t.Width, t.Height);
        info.Transparency = t.Alpha;
        info.Author = "";
        info.Comments = "ab";
        Export(TExportFormat::TIFF, t.Name, info);
    }

    std::printf("Software text: %s\n", ExportSoftwareText().c_str());
    FinalizeGenProgram();
    return Failures ? 1 : 0;
}
