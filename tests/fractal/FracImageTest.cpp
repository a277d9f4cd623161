#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "FracConvert.h"
#include "FracImage.h"
#include "FracProgress.h"

namespace {

int CodeAt(const TLayerImage &Image, int X, int Y) {
    std::uint16_t code;
    std::memcpy(&code, Image.PixelPtr(X, Y), 2);
    return code;
}

// A colour table whose entry i is 0xFF000000 + i, except the not-calculated entry.
std::unique_ptr<TGradientTable> NumberedTable() {
    auto table = std::make_unique<TGradientTable>();
    for (int i = 0; i < ColorTableSize; ++i)
        (*table)[i] = 0xFF000000u + static_cast<std::uint32_t>(i);
    (*table)[UncalculatedCode] = 0x80336699u;
    return table;
}

std::string Bytes(TMemoryStream &Stream) {
    return std::string(static_cast<const char *>(Stream.Memory()), static_cast<std::size_t>(Stream.Size()));
}

// Fills every pixel with a value made from its place, in the image's own mode.
void FillPattern(TLayerImage &Image) {
    for (int y = 0; y < Image.Height(); ++y)
        for (int x = 0; x < Image.Width(); ++x) {
            int n = x * 7 + y * 131;
            if (Image.Mode() == lmCode)
                Image.SetCode(x, y, n % ColorTableSize);
            else
                Image.SetColor(x, y, TFloatColor{(n % 256) / 255.0f, 0.25f, (n % 17) / 16.0f, 1.0f});
        }
}

// Sets mode and size and fills the pattern.
void MakePatterned(TLayerImage &Image, std::uint8_t Mode, int W, int H) {
    Image.SetMode(Mode);
    Image.SetSize(W, H);
    FillPattern(Image);
}

} // namespace

TEST(FracImage, GradientPositionsBecomeCodes) {
    struct {
        float V;
        int Code;
    } cases[] = {{0.5f, 25600},     {1.0f, 0},   {0.0f, 0}, {1.0f / 51200, 1}, {0.4999f / 51200, 0},
                 {0.99999f, 51199}, {-0.25f, 0}, {7.0f, 0}, {NAN, 0}};
    for (const auto &c : cases)
        EXPECT_EQ(GradientPositionToCode(c.V), c.Code) << c.V;
}

TEST(FracImage, ANewSizeOrModeClearsEveryPixelToNotCalculated) {
    auto table = NumberedTable();
    for (std::uint8_t mode : {lmCode, lmColor, lmFloatColor}) {
        TLayerImage image;
        image.SetColorTable(table.get());
        image.SetMode(mode);
        EXPECT_EQ(image.BytesPerPixel(), mode == lmCode ? 2 : mode == lmColor ? 4 : 16);
        image.SetSize(5, 3);
        EXPECT_EQ(image.CenterX(), 2);
        EXPECT_EQ(image.CenterY(), 1);
        FillPattern(image);
        image.SetSize(4, 3);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 4; ++x)
                ASSERT_EQ(image.GetPixelColor(x, y), 0x80336699u) << int(mode) << " " << x << "," << y;
        if (mode == lmCode) {
            EXPECT_EQ(CodeAt(image, 0, 0), UncalculatedCode);
        }
        if (mode == lmFloatColor) {
            TFloatColor c = image.GetFloatColor(0, 0);
            EXPECT_FLOAT_EQ(c.Alpha, 0x80 / 255.0f);
            EXPECT_FLOAT_EQ(c.Red, 0x33 / 255.0f);
        }
    }
}

TEST(FracImage, PixelWritesInEachMode) {
    auto table = NumberedTable();
    TLayerImage image;
    image.SetColorTable(table.get());
    image.SetSize(2, 2);
    image.SetIndex(0, 0, 0.5f);
    image.SetCode(1, 0, OutsideSolidCode);
    EXPECT_EQ(image.GetPixelColor(0, 0), 0xFF000000u + 25600);
    EXPECT_EQ(image.GetPixelColor(1, 0), 0xFF000000u + OutsideSolidCode);
    EXPECT_TRUE(image.SamePixel(0, 0, 2, 0));
    EXPECT_TRUE(image.SamePixel(0, 0, 0, -1));
    EXPECT_FALSE(image.SamePixel(0, 0, 1, 0));

    image.SetMode(lmColor);
    image.SetColor(0, 0, TFloatColor{1.0f, 0.5f, 0.0f, 0.2f});
    // Bytes blue, green, red, alpha, each rounded from 255 times the component.
    EXPECT_EQ(image.GetPixelColor(0, 0), 0x33FF8000u);
    image.SetCode(1, 1, InsideSolidCode);
    EXPECT_EQ(image.GetPixelColor(1, 1), 0xFF000000u + InsideSolidCode);

    image.SetMode(lmFloatColor);
    image.SetCode(1, 1, 70000); // beyond the table: shown as not calculated
    EXPECT_EQ(image.GetPixelColor(1, 1), 0x80336699u);
    image.SetColor(0, 1, TFloatColor{0.1f, 0.2f, 0.3f, 0.4f});
    EXPECT_FLOAT_EQ(image.GetFloatColor(0, 1).Blue, 0.3f);
    image.SetIndex(1, 0, 0.0f); // the interpolator of a new image: black, opaque
    EXPECT_EQ(image.GetPixelColor(1, 0), 0xFF000000u);
}

TEST(FracImage, StreamsOutAndBackIdenticallyInEveryMode) {
    auto table = NumberedTable();
    for (std::uint8_t mode : {lmCode, lmColor, lmFloatColor}) {
        for (bool antiAlias : {false, true}) {
            if (antiAlias && mode != lmFloatColor)
                continue;
            TLayerImage image;
            image.SetColorTable(table.get());
            MakePatterned(image, mode, 7, 5);
            if (antiAlias) {
                image.CreateAntiAliasBuffer();
                for (int y = 0; y < 4; ++y)
                    for (int x = 0; x < 6; ++x)
                        image.SetAntiAliasPixel(x, y, TFloatColor{x / 8.0f, y / 8.0f, 0.5f, 1.0f});
            }
            TMemoryStream stream;
            image.SaveData(stream);
            std::int64_t expected = 7 * 5 * image.BytesPerPixel() + (antiAlias ? 6 * 4 * 16 : 0);
            ASSERT_EQ(stream.Size(), expected);

            TLayerImage copy;
            copy.SetColorTable(table.get());
            copy.SetMode(mode);
            copy.SetSize(7, 5);
            if (antiAlias)
                copy.CreateAntiAliasBuffer();
            stream.SetPosition(0);
            copy.LoadData(stream);
            TMemoryStream again;
            copy.SaveData(again);
            EXPECT_EQ(Bytes(again), Bytes(stream)) << int(mode) << antiAlias;
        }
    }
}

TEST(FracImage, AShortStreamRaisesAndChangesNothing) {
    TLayerImage image;
    image.SetSize(4, 4);
    FillPattern(image);
    TMemoryStream before;
    image.SaveData(before);
    TMemoryStream shortStream;
    shortStream.WriteBuffer(before.Memory(), 4 * 4 * 2 - 1);
    std::memset(shortStream.Memory(), 0x11, 4 * 4 * 2 - 1);
    shortStream.SetPosition(0);
    EXPECT_THROW(image.LoadData(shortStream), EReadError);
    TMemoryStream after;
    image.SaveData(after);
    EXPECT_EQ(Bytes(after), Bytes(before));
    // A rectangle that does not fit the image or the stream is refused before anything moves.
    shortStream.SetPosition(0);
    EXPECT_THROW(image.ReadRect(shortStream, TLayerRect{0, 0, 5, 1}), ELayerImageError);
    EXPECT_THROW(image.ReadRect(shortStream, TLayerRect{2, 0, 1, 1}), ELayerImageError);
    EXPECT_THROW(image.ReadRect(shortStream, TLayerRect{0, 0, 4, 4}), EReadError);
    EXPECT_THROW(image.ReadAntiAliasRect(shortStream, TLayerRect{0, 0, 1, 1}), ELayerImageError);
    TMemoryStream unchanged;
    image.SaveData(unchanged);
    EXPECT_EQ(Bytes(unchanged), Bytes(before));
}

TEST(FracImage, LoadedCodesBeyondTheTableCountAsNotCalculated) {
    TLayerImage image;
    image.SetSize(2, 1);
    TMemoryStream stream;
    stream.WriteUInt16(60000);
    stream.WriteUInt16(FirstTransformCode + 5);
    stream.SetPosition(0);
    image.LoadData(stream);
    std::uint16_t codes[2];
    std::memcpy(codes, image.Pixels(), 4);
    EXPECT_EQ(codes[0], UncalculatedCode);
    EXPECT_EQ(codes[1], FirstTransformCode + 5);
}

TEST(FracImage, RectanglesCarryTheirPixelsOnly) {
    TLayerImage image;
    MakePatterned(image, lmFloatColor, 6, 4);
    image.CreateAntiAliasBuffer();
    image.SetAntiAliasPixel(3, 2, TFloatColor{0.5f, 0.5f, 0.5f, 0.5f});
    TMemoryStream stream;
    image.WriteRect(stream, TLayerRect{1, 1, 4, 3});
    image.WriteAntiAliasRect(stream, TLayerRect{2, 2, 5, 3});
    EXPECT_EQ(stream.Size(), (3 * 2 + 3) * 16);

    TLayerImage copy;
    copy.SetMode(lmFloatColor);
    copy.SetSize(6, 4);
    copy.CreateAntiAliasBuffer();
    stream.SetPosition(0);
    copy.ReadRect(stream, TLayerRect{1, 1, 4, 3});
    copy.ReadAntiAliasRect(stream, TLayerRect{2, 2, 5, 3});
    TLayerImage fresh;
    fresh.SetMode(lmFloatColor);
    fresh.SetSize(6, 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x) {
            bool inside = x >= 1 && x < 4 && y >= 1 && y < 3;
            EXPECT_EQ(std::memcmp(copy.PixelPtr(x, y), (inside ? image : fresh).PixelPtr(x, y), 16), 0)
                << x << "," << y;
        }
    copy.ApplyAntiAliasBuffer();
    EXPECT_FLOAT_EQ(copy.GetFloatColor(3, 2).Alpha, 0.5f);
}

TEST(FracImage, CropKeepsTheOverlapAndOtherwiseClears) {
    for (std::uint8_t mode : {lmCode, lmColor, lmFloatColor}) {
        TLayerImage image;
        MakePatterned(image, mode, 8, 6);
        TLayerImage reference;
        MakePatterned(reference, mode, 8, 6);

        image.Crop(TLayerRect{2, 1, 7, 4});
        ASSERT_EQ(image.Width(), 5);
        ASSERT_EQ(image.Height(), 3);
        EXPECT_EQ(image.CenterX(), 2);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 5; ++x)
                ASSERT_EQ(std::memcmp(image.PixelPtr(x, y), reference.PixelPtr(x + 2, y + 1),
                                      image.BytesPerPixel()),
                          0)
                    << int(mode);
        // The row buffer now holds a column's worth too.
        image.SaveRow(0, 0, 5);
        EXPECT_EQ(image.SavedRowCount(), 5);

        // Reaching outside: the image takes the rectangle's size and is cleared, even at the same size.
        image.Crop(TLayerRect{-1, 0, 4, 3});
        EXPECT_EQ(image.Width(), 5);
        TLayerImage cleared;
        cleared.SetMode(mode);
        cleared.SetSize(5, 3);
        EXPECT_EQ(std::memcmp(image.Pixels(), cleared.Pixels(), 5 * 3 * image.BytesPerPixel()), 0)
            << int(mode);

        image.Crop(TLayerRect{4, 3, 1, 1}); // inverted
        EXPECT_EQ(image.Width(), 0);
        EXPECT_EQ(image.Height(), 0);
    }
}

TEST(FracImage, ImagesTooLargeForMemoryAreRefusedWhole) {
    TLayerImage image;
    MakePatterned(image, lmFloatColor, 3, 2);
    TMemoryStream before;
    image.SaveData(before);
    struct {
        int W, H;
    } sizes[] = {{100000, 100000}, {65536, 65536}, {0x7FFFFFFF, 2}, {46341, 46341}};
    for (const auto &s : sizes) {
        EXPECT_THROW(image.SetSize(s.W, s.H), EOutOfMemory) << s.W << "x" << s.H;
        EXPECT_EQ(image.Width(), 3);
        EXPECT_EQ(image.Height(), 2);
    }
    TMemoryStream after;
    image.SaveData(after);
    EXPECT_EQ(Bytes(after), Bytes(before));
}

TEST(FracImage, AntiAliasCellsReplaceAllButTheLastRowAndColumn) {
    TLayerImage image;
    MakePatterned(image, lmFloatColor, 3, 3);
    TLayerImage reference;
    MakePatterned(reference, lmFloatColor, 3, 3);
    image.CreateAntiAliasBuffer();
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x)
            image.SetAntiAliasPixel(x, y, TFloatColor{0.125f * x, 0.125f * y, 1.0f, 0.75f});
    image.ApplyAntiAliasBuffer();
    EXPECT_FALSE(image.HasAntiAliasBuffer());
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 3; ++x) {
            TFloatColor c = image.GetFloatColor(x, y);
            if (x < 2 && y < 2) {
                EXPECT_FLOAT_EQ(c.Red, 0.125f * x);
                EXPECT_FLOAT_EQ(c.Alpha, 0.75f);
            } else {
                EXPECT_EQ(std::memcmp(image.PixelPtr(x, y), reference.PixelPtr(x, y), 16), 0)
                    << x << "," << y;
            }
        }
    image.SetMode(lmColor); // leaving mode 2 never keeps cells
    image.CreateAntiAliasBuffer();
    EXPECT_FALSE(image.HasAntiAliasBuffer());
}

TEST(FracImage, BlocksAndRowBuffer) {
    TLayerImage image;
    image.SetSize(5, 4);
    for (int x = 0; x < 5; ++x)
        image.SetCode(x, 1, 100 + x);
    image.FillBlock(1, 1, 4, 3);
    for (int y = 1; y < 3; ++y)
        for (int x = 1; x < 4; ++x)
            EXPECT_EQ(CodeAt(image, x, y), 101);
    EXPECT_EQ(CodeAt(image, 4, 1), 104);
    EXPECT_EQ(CodeAt(image, 1, 3), UncalculatedCode);
    image.FillBlock(0, 3, 5, 3); // empty
    image.SetCode(0, 0, 1);
    image.SetCode(1, 0, 2);
    image.SetCode(2, 0, 3);
    image.SaveRow(0, 0, 3);
    image.MirrorRow();
    image.RestoreRow(1, 3);
    const int expected[5] = {UncalculatedCode, 3, 2, 1, UncalculatedCode};
    for (int x = 0; x < 5; ++x)
        EXPECT_EQ(CodeAt(image, x, 3), expected[x]) << x;
    image.SaveRow(3, 3, 100); // kept within the buffer and the image
    EXPECT_EQ(image.SavedRowCount(), 2);
    image.SaveRow(0, 0, -4);
    EXPECT_EQ(image.SavedRowCount(), 0);
}

TEST(FracImage, SavingWithProgressReportsEveryRow) {
    bool started = !ProgressManager();
    if (started)
        InitializeFracProgress();
    std::vector<int> percents;
    struct TRecorder {
        std::vector<int> *Percents;
        void Progress(TObject *, int Kind, const std::string &, int Percent) {
            if (Kind == 1)
                Percents->push_back(Percent);
        }
    } recorder{&percents};
    ProgressManager()->OnProgress = MakeEvent<&TRecorder::Progress>(&recorder);
    TLayerImage image;
    image.SetSize(2, 3);
    TMemoryStream stream;
    ProgressManager()->BeginProgress("Saving");
    image.SaveData(stream, 10, 40);
    stream.SetPosition(0);
    image.LoadData(stream, 40, 100);
    ProgressManager()->EndProgress();
    ProgressManager()->OnProgress = nullptr;
    EXPECT_EQ(percents, (std::vector<int>{20, 30, 40, 60, 80, 100}));
    EXPECT_EQ(stream.Size(), 12);
    if (started)
        FinalizeFracProgress();
}

TEST(FracConvert, RowRoutinesConvertExactlyTheirCount) {
    auto table = NumberedTable();
    const std::uint16_t codes[] = {0, 51199, InsideSolidCode, 7, 9};
    for (int count : {0, 1, 3, 4}) {
        std::uint32_t colors[5] = {1, 1, 1, 1, 1};
        ConvertIndexRow(codes, colors, count, table.get());
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(colors[i], i < count ? 0xFF000000u + codes[i] : 1u) << count << " " << i;
    }
    std::uint32_t fill[4] = {0, 0, 0, 0};
    FillUncalculatedRow(fill, 3, table.get());
    EXPECT_EQ(fill[2], 0x80336699u);
    EXPECT_EQ(fill[3], 0u);
    ConvertIndexRow(nullptr, fill, 3, table.get());

    const std::uint8_t rgba[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    std::uint8_t rgb[10] = {};
    ConvertRowToRGB(rgba, rgb, 3);
    EXPECT_EQ(std::vector<int>(rgb, rgb + 10), (std::vector<int>{1, 2, 3, 5, 6, 7, 9, 10, 11, 0}));
    std::uint8_t back[13] = {};
    ConvertRowToRGBA(rgb, back, 3);
    EXPECT_EQ(std::vector<int>(back, back + 13),
              (std::vector<int>{1, 2, 3, 255, 5, 6, 7, 255, 9, 10, 11, 255, 0}));
}
