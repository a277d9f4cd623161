// The writers' pure parts: the PackBits packets, the format limits and what a failed or
// aborted export leaves on disk; the export of a fractal's layers with their masks. The files themselves are
// checked by independent readers (ImageMagick, pngcheck, tiffinfo, djpeg and a PSD reader of the test's own)
// in check_export.py over what programs/ExportSamples writes.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "FracCalculate.h"
#include "FracExport.h"
#include "FracImage.h"
#include "FracLayer.h"
#include "FracMain.h"
#include "FracMerge.h"
#include "GenJPEG.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes FromText(const std::string &Text) {
    return Bytes(Text.begin(), Text.end());
}

Bytes Pack(const Bytes &Input) {
    Bytes output(static_cast<std::size_t>(PackBitsBound(static_cast<std::int64_t>(Input.size()))));
    const std::int32_t n = PackBits(output.data(), static_cast<std::int64_t>(output.size()), Input.data(),
                                    static_cast<std::int32_t>(Input.size()));
    output.resize(static_cast<std::size_t>(n));
    return output;
}

// An unpacker written from the packet description, independent of the encoder.
Bytes Unpack(const Bytes &Packed) {
    Bytes result;
    for (std::size_t i = 0; i < Packed.size();) {
        const int header = static_cast<std::int8_t>(Packed[i++]);
        if (header >= 0) {
            for (int k = 0; k <= header; ++k)
                result.push_back(Packed.at(i++));
        } else {
            EXPECT_NE(header, -128) << "no-op header";
            const std::uint8_t value = Packed.at(i++);
            result.insert(result.end(), static_cast<std::size_t>(1 - header), value);
        }
    }
    return result;
}

Bytes Literal(const std::string &Text) {
    Bytes packet{static_cast<std::uint8_t>(Text.size() - 1)};
    packet.insert(packet.end(), Text.begin(), Text.end());
    return packet;
}

Bytes Repeat(int Count, char Value) {
    return {static_cast<std::uint8_t>(1 - Count), static_cast<std::uint8_t>(Value)};
}

Bytes Join(std::initializer_list<Bytes> Parts) {
    Bytes result;
    for (const Bytes &part : Parts)
        result.insert(result.end(), part.begin(), part.end());
    return result;
}

struct TPackCase {
    const char *Name;
    Bytes Input;
    Bytes Expected;
};

TEST(PackBits, PacketsFollowTheRunRules) {
    const std::string distinct130 = [] {
        std::string s;
        for (int i = 0; i < 130; ++i)
            s += static_cast<char>(i % 2 ? 'a' + i % 26 : 'A' + i % 26);
        return s;
    }();
    const TPackCase cases[] = {
        {"empty", {}, {}},
        {"one byte", FromText("a"), Literal("a")},
        {"130 equal", Bytes(130, 'b'), Join({Repeat(128, 'b'), Repeat(2, 'b')})},
        {"129 equal leave one", Bytes(129, 'b'), Join({Repeat(128, 'b'), Literal("b")})},
        {"abbc", FromText("abbc"), Literal("abbc")},
        // A pair at the end of the row ends the literal: two packets, five bytes for three.
        {"abb", FromText("abb"), Join({Literal("ab"), Literal("b")})},
        {"abbb", FromText("abbb"), Join({Literal("ab"), Repeat(2, 'b')})},
        {"aaab", FromText("aaab"), Join({Repeat(3, 'a'), Literal("b")})},
        {"130 distinct", FromText(distinct130),
         Join({Literal(distinct130.substr(0, 128)), Literal(distinct130.substr(128))})},
    };
    for (const TPackCase &c : cases) {
        EXPECT_EQ(Pack(c.Input), c.Expected) << c.Name;
        EXPECT_EQ(Unpack(Pack(c.Input)), c.Input) << c.Name;
    }
}

TEST(PackBits, RoundTripsAndStaysWithinTheBound) {
    // Rows of few symbols give every mix of runs and literals; the worst pattern ("xyyy"
    // repeated) costs five bytes for four, beyond count + count / 128 + 1.
    std::uint32_t seed = 12345;
    for (int trial = 0; trial < 2000; ++trial) {
        seed = seed * 1103515245 + 12345;
        const int length = static_cast<int>(seed >> 16) % 600;
        Bytes row(static_cast<std::size_t>(length));
        for (auto &b : row) {
            seed = seed * 1103515245 + 12345;
            b = static_cast<std::uint8_t>((seed >> 16) % (trial % 3 + 2));
        }
        const Bytes packed = Pack(row);
        ASSERT_EQ(Unpack(packed), row) << "trial " << trial;
        ASSERT_LE(static_cast<std::int64_t>(packed.size()), PackBitsBound(length));
    }
    Bytes worst;
    for (int i = 0; i < 64; ++i)
        worst.insert(worst.end(), {1, 2, 2, 2});
    EXPECT_EQ(Pack(worst).size(), 64u * 5);
    EXPECT_EQ(Unpack(Pack(worst)), worst);
}

TEST(PackBits, RefusesAnOutputBufferThatIsTooSmall) {
    const Bytes input = FromText("abb");
    Bytes output(4, 0xEE);
    output.push_back(0x5A); // guard byte beyond the size given
    EXPECT_THROW(PackBits(output.data(), 4, input.data(), 3), EExportError);
    EXPECT_EQ(output[4], 0x5A);
}

// ---------------------------------------------------------------------------------------------
// Files on disk

class ExportFiles : public ::testing::Test {
protected:
    void SetUp() override {
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        Folder = std::string(temp) + "ovexport" + std::to_string(GetCurrentProcessId()) + "\\";
        CreateDirectoryA(Folder.c_str(), nullptr);
    }
    void TearDown() override {
        for (const std::string &name : FilesInFolder())
            DeleteFileA((Folder + name).c_str());
        RemoveDirectoryA(Folder.c_str());
    }
    std::vector<std::string> FilesInFolder() const {
        std::vector<std::string> names;
        WIN32_FIND_DATAA data;
        HANDLE find = FindFirstFileA((Folder + "*").c_str(), &data);
        if (find == INVALID_HANDLE_VALUE)
            return names;
        do {
            const std::string name = data.cFileName;
            if (name != "." && name != "..")
                names.push_back(name);
        } while (FindNextFileA(find, &data));
        FindClose(find);
        return names;
    }
    void WriteFile(const std::string &Name, const std::string &Content) {
        TFileStream stream(Folder + Name, fmCreate);
        stream.WriteString(Content);
    }
    std::string ReadFile(const std::string &Name) {
        TFileStream stream(Folder + Name, fmOpenRead);
        return stream.ReadString(stream.Size());
    }
    static TExportImageInfo SmallImage(std::int32_t Width = 5, std::int32_t Height = 4) {
        TExportImageInfo info;
        info.Width = Width;
        info.Height = Height;
        info.LayerCount = 1;
        info.Transparency = true;
        info.Layers = true;
        return info;
    }
    static void GreyRows(TExportImage &Writer) {
        Writer.OnGetRow = [&Writer](std::int32_t, std::uint8_t *Row, bool WithAlpha) {
            std::memset(Row, 0x80, static_cast<std::size_t>(Writer.Info.Width) * (WithAlpha ? 4 : 3));
        };
        Writer.OnGetLayerRow = [&Writer](std::int32_t, std::int32_t, std::uint8_t *Row) {
            std::memset(Row, 0x80, static_cast<std::size_t>(Writer.Info.Width) * 4);
        };
    }
    std::string Folder;
};

struct TLimitCase {
    TExportFormat Format;
    std::int32_t Width;
    std::int32_t Height;
    const char *Name;
};

TEST_F(ExportFiles, SizesBeyondAFormatAreRefusedBeforeAnythingIsWritten) {
    const TLimitCase cases[] = {
        {TExportFormat::Targa, 65536, 1, "Targa"},
        {TExportFormat::Targa, 1, 65536, "Targa"},
        {TExportFormat::Photoshop, 30001, 1, "Photoshop"},
        {TExportFormat::Photoshop, 1, 30001, "Photoshop"},
        {TExportFormat::JPEG, 65501, 1, "JPEG"},
        {TExportFormat::JPEG, 1, 65501, "JPEG"},
        // 54 + 23000 × 69000 bytes of bitmap rows pass 4 GB.
        {TExportFormat::Bitmap, 23000, 62300, "bitmap"},
        {TExportFormat::TIFF, 40000, 40000, "TIFF"},
        {TExportFormat::PNG, 0x20000000, 1, "PNG"},
    };
    for (const TLimitCase &c : cases) {
        WriteFile("old.img", "the previous export");
        {
            std::unique_ptr<TExportImage> writer =
                CreateExportImage(Folder + "old.img", static_cast<int>(c.Format));
            int calls = 0;
            writer->OnGetRow = [&](std::int32_t, std::uint8_t *, bool) { ++calls; };
            writer->OnGetLayerRow = [&](std::int32_t, std::int32_t, std::uint8_t *) { ++calls; };
            writer->OnGetLayerInfo = [&](std::int32_t, TExportLayerInfo &) { ++calls; };
            TExportImageInfo info = SmallImage(c.Width, c.Height);
            try {
                writer->Execute(info);
                ADD_FAILURE() << c.Name << " " << c.Width << "x" << c.Height << " was accepted";
            } catch (const EExportError &e) {
                EXPECT_EQ(e.Message(), std::string("The image is too large for the ") + c.Name + " format.");
            }
            EXPECT_EQ(calls, 0) << c.Name;
            EXPECT_TRUE(writer->Failed);
        }
        EXPECT_EQ(ReadFile("old.img"), "the previous export") << c.Name;
        EXPECT_EQ(FilesInFolder(), std::vector<std::string>{"old.img"}) << c.Name;
    }
}

TEST_F(ExportFiles, LargestSizesOfAFormatPassItsCheck) {
    // One pixel short of each limit is written (an abort from the first row stops the work).
    const TLimitCase cases[] = {
        {TExportFormat::Targa, 65535, 2, "Targa"},
        {TExportFormat::Photoshop, 30000, 2, "Photoshop"},
        {TExportFormat::JPEG, 65500, 2, "JPEG"},
    };
    for (const TLimitCase &c : cases) {
        std::unique_ptr<TExportImage> writer =
            CreateExportImage(Folder + "big.img", static_cast<int>(c.Format));
        bool fetched = false;
        writer->OnGetRow = [&](std::int32_t, std::uint8_t *, bool) {
            fetched = true;
            throw EAbort("");
        };
        writer->Execute(SmallImage(c.Width, c.Height));
        EXPECT_TRUE(fetched) << c.Name;
        EXPECT_TRUE(writer->Failed) << c.Name;
    }
}

// A failure or an abort in the middle of each format leaves the folder as it was.
TEST_F(ExportFiles, FailedOrAbortedExportLeavesNoFileAndKeepsTheOldOne) {
    for (int format = 0; format < ExportFormatCount; ++format) {
        for (bool abort : {false, true}) {
            WriteFile("out.img", "the previous export");
            const std::string target = Folder + "out.img";
            {
                std::unique_ptr<TExportImage> writer = CreateExportImage(target, format);
                int rows = 0;
                auto failSoon = [&] {
                    if (++rows == 3) {
                        if (abort)
                            throw EAbort("");
                        throw EWriteError("Stream write error");
                    }
                };
                writer->OnGetRow = [&](std::int32_t, std::uint8_t *Row, bool WithAlpha) {
                    std::memset(Row, 0x40,
                                static_cast<std::size_t>(writer->Info.Width) * (WithAlpha ? 4 : 3));
                    failSoon();
                };
                writer->OnGetLayerRow = [&](std::int32_t, std::int32_t, std::uint8_t *Row) {
                    std::memset(Row, 0x40, static_cast<std::size_t>(writer->Info.Width) * 4);
                    failSoon();
                };
                TExportImageInfo info = SmallImage(40, 30);
                if (abort) {
                    EXPECT_NO_THROW(writer->Execute(info)) << ExportFormatNames[format];
                } else {
                    try {
                        writer->Execute(info);
                        ADD_FAILURE() << ExportFormatNames[format] << ": no error";
                    } catch (const EExportError &e) {
                        EXPECT_EQ(e.Message(),
                                  "Could not write to '" + target + "'. The destination drive may be full");
                    }
                }
                EXPECT_TRUE(writer->Failed);
            }
            EXPECT_EQ(ReadFile("out.img"), "the previous export") << ExportFormatNames[format];
            EXPECT_EQ(FilesInFolder(), std::vector<std::string>{"out.img"}) << ExportFormatNames[format];
        }
    }
}

TEST_F(ExportFiles, FinishedExportReplacesTheOldFile) {
    WriteFile("done.bmp", "old");
    {
        std::unique_ptr<TExportImage> writer = CreateExportImage(Folder + "done.bmp", 0);
        GreyRows(*writer);
        writer->Execute(SmallImage(1, 2));
        EXPECT_FALSE(writer->Failed);
        EXPECT_EQ(writer->Progress, 1.0);
    }
    const std::string file = ReadFile("done.bmp");
    ASSERT_EQ(file.size(), 54u + 2 * 4); // a 1-pixel row has a stride of 4 bytes
    EXPECT_EQ(file.substr(0, 2), "BM");
    EXPECT_EQ(FilesInFolder(), std::vector<std::string>{"done.bmp"});
}

TEST_F(ExportFiles, UncreatableFileIsReported) {
    const std::string target = Folder + "missing\\sub\\x.png";
    try {
        CreateExportImage(target, 2);
        ADD_FAILURE() << "created";
    } catch (const EExportError &e) {
        EXPECT_EQ(e.Message(), "Could not create '" + target + "'");
    }
}

// A stream that stores a number of bytes and then refuses.
class TShortStream : public TStream {
public:
    explicit TShortStream(std::int32_t Room, bool Raise) : FRoom(Room), FRaise(Raise) {}
    std::int32_t Read(void *, std::int32_t) override { return 0; }
    std::int32_t Write(const void *, std::int32_t Count) override {
        if (Count > FRoom) {
            if (FRaise)
                throw EWriteError("Stream write error");
            const std::int32_t written = FRoom;
            FRoom = 0;
            return written;
        }
        FRoom -= Count;
        Written += Count;
        return Count;
    }
    std::int64_t Seek(std::int64_t, int) override { return 0; }
    std::int64_t Written = 0;

private:
    std::int32_t FRoom;
    bool FRaise;
};

TEST(JPEGCompressor, StreamFailureInsideTheLibraryBecomesAWriteError) {
    // Noise does not compress, so the library's 4096-byte buffer fills within the first rows and
    // the failing write happens inside the library's call of the destination manager.
    for (bool raise : {false, true}) {
        TShortStream stream(1000, raise);
        TJPEGCompressor compressor(stream);
        compressor.Width = 256;
        compressor.Height = 256;
        compressor.Quality = 100;
        std::vector<std::uint8_t> row(256 * 3);
        std::uint32_t seed = 1;
        bool failed = false;
        for (int y = 0; y < 256 && !failed; ++y) {
            for (auto &b : row) {
                seed = seed * 1103515245 + 12345;
                b = static_cast<std::uint8_t>(seed >> 24);
            }
            try {
                compressor.WriteRow(row.data());
            } catch (const EWriteError &e) {
                EXPECT_EQ(e.Message(), "JPEG Error");
                failed = true;
            }
        }
        EXPECT_TRUE(failed) << (raise ? "raising stream" : "short stream");
    }
}

TEST(JPEGCompressor, OneRowImageIsCompleteAfterItsOnlyRow) {
    TShortStream stream(1 << 20, false);
    {
        TJPEGCompressor compressor(stream);
        compressor.Width = 7;
        compressor.Height = 1;
        const std::vector<std::uint8_t> row(7 * 3, 0x99);
        compressor.WriteRow(row.data());
        // Finishing flushed the destination: everything is in the stream before destruction.
        EXPECT_GT(stream.Written, 100);
    }
}

} // namespace

namespace {

struct TGroupCase {
    const char *Name;
    std::vector<bool> IsMask; // the layer list from the top
    std::vector<TExportLayerGroup> Expected;
};

TEST(FractalExporter, MaskLayersBelongToTheLayerAboveThem) {
    const TGroupCase cases[] = {
        {"plain", {false, false}, {{0, {}}, {1, {}}}},
        {"middle mask folds into the top", {false, true, false}, {{0, {1}}, {2, {}}}},
        {"two masks", {false, true, true, false, true}, {{0, {1, 2}}, {3, {4}}}},
        {"a mask on top has no layer", {true, false}, {{1, {}}}},
        {"only masks", {true, true}, {}},
    };
    for (const TGroupCase &c : cases) {
        const std::vector<TExportLayerGroup> groups = GroupExportLayers(c.IsMask);
        ASSERT_EQ(groups.size(), c.Expected.size()) << c.Name;
        for (std::size_t i = 0; i < groups.size(); ++i) {
            EXPECT_EQ(groups[i].Layer, c.Expected[i].Layer) << c.Name;
            EXPECT_EQ(groups[i].Masks, c.Expected[i].Masks) << c.Name;
        }
    }
}

} // namespace

namespace {

// A fractal of three layers whose middle one is a transparent mask: two export layers, the
// mask's alpha folded into the top layer's rows, an opaque layer's alpha 255 whatever its store
// holds.
class FractalExporterFiles : public ExportFiles {
protected:
    static void SetUpTestSuite() { InitMergeTables(); }
    TCalculateManager Manager{1};
};

void FillLayer(TLayer &Layer, std::uint32_t Color) {
    TLayerImage &image = Layer.GetImage();
    image.SetMode(lmColor);
    for (int y = 0; y < image.Height(); ++y)
        for (int x = 0; x < image.Width(); ++x)
            std::memcpy(image.PixelPtr(x, y), &Color, 4);
}

TEST_F(FractalExporterFiles, MaskTransparencyFoldsIntoTheLayerAbove) {
    TFractal fractal(&Manager);
    fractal.SetImageSize(6, 3);
    fractal.DuplicateLayer("Middle");
    fractal.DuplicateLayer("Top");
    ASSERT_EQ(fractal.GetLayers().Count(), 3);
    fractal.GetLayers().Items(0).SetCaption("Top");
    fractal.GetLayers().Items(0).SetTransparent(true);
    fractal.GetLayers().Items(1).SetMask(true);
    fractal.GetLayers().Items(2).SetCaption("Bottom");
    fractal.GetLayers().Items(2).SetTransparent(false);
    fractal.PauseCalculation();
    FillLayer(fractal.GetLayers().Items(0), 0x80102030u); // alpha 128
    FillLayer(fractal.GetLayers().Items(1), 0x66000000u); // mask alpha 102
    FillLayer(fractal.GetLayers().Items(2), 0x10405060u); // alpha 16 in an opaque layer

    TFractalExporter exporter(fractal, true, true, 80, static_cast<int>(TExportFormat::PNG),
                              Folder + "f.png");
    EXPECT_EQ(exporter.ExportLayerCount(), 2);
    exporter.Execute();
    TExportImage &image = exporter.GetImage();
    EXPECT_FALSE(image.Failed);

    TExportLayerInfo top, bottom;
    image.OnGetLayerInfo(0, top);
    image.OnGetLayerInfo(1, bottom);
    EXPECT_EQ(top.Caption, "Top");
    EXPECT_TRUE(top.Transparent);
    EXPECT_EQ(bottom.Caption, "Bottom");
    EXPECT_FALSE(bottom.Transparent);

    std::vector<std::uint8_t> row(6 * 4 + 16);
    image.OnGetLayerRow(0, 1, row.data());
    EXPECT_EQ(row[0], 0x30);
    EXPECT_EQ(row[2], 0x10);
    EXPECT_NEAR(row[3], 128 * 102 / 255, 1);
    image.OnGetLayerRow(1, 2, row.data());
    EXPECT_EQ(row[0], 0x60);
    EXPECT_EQ(row[3], 255);
}

} // namespace
