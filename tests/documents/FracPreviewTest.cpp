// The preview cache: what survives a reopening, what a damaged table leaves, the least recently
// used order and the rules for size changes. The file layout after many previews is read back by
// check_preview_cache.py (programs/PreviewCacheSamples).
#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "FracPreview.h"
#include "tests/foundation/TempFolderTest.h"
#include "GenUtils.h"
#include "SysUtils.h"

namespace {

constexpr int W = 6;
constexpr int H = 4;
constexpr std::int64_t Slot = W * H * 3;

TPreviewBitmap Image(int Width, int Height, std::uint32_t Seed) {
    TPreviewBitmap image;
    image.Width = Width;
    image.Height = Height;
    for (int i = 0; i < Width * Height; ++i)
        image.Pixels.push_back((Seed * 2654435761u + std::uint32_t(i) * 40503u) & 0x00FFFFFFu);
    return image;
}

class PreviewCacheTest : public TTempFolderTest {
protected:
    PreviewCacheTest() : TTempFolderTest("ovprev") {}
    void SetUp() override {
        TTempFolderTest::SetUp();
        Folder = Root;
    }
    std::string CacheFile() const { return Folder + "Ob3.prc"; }
    std::string ReadCache() const {
        std::ifstream in(CacheFile(), std::ios::binary);
        std::stringstream content;
        content << in.rdbuf();
        return content.str();
    }
    void WriteCache(const std::string &Data) const {
        std::ofstream(CacheFile(), std::ios::binary | std::ios::trunc) << Data;
    }
    static void Put32(std::string &Data, std::size_t Offset, std::uint32_t Value) {
        for (int i = 0; i < 4; ++i)
            Data[Offset + i] = static_cast<char>((Value >> (8 * i)) & 0xFF);
    }
    // Three previews "a", "b", "c" stored in that order (so "c" is first in the table).
    void FillThree() {
        TPreviewManager manager(Folder, W, H, 10);
        manager.SavePreview("a", Image(W, H, 1));
        manager.SavePreview("b", Image(3, 2, 2));
        manager.SavePreview("c", Image(W, 1, 3));
    }

    std::string Folder;
};

TEST_F(PreviewCacheTest, ChecksumIsTheStandardCrc32) {
    // The check value of CRC-32 (ISO 3309).
    EXPECT_EQ(TPreviewManager::EntryChecksum("123456789"), 0xCBF43926u);
}

TEST_F(PreviewCacheTest, AReopenedCacheGivesTheStoredPixelsAndMovesTheViewedOneToTheFront) {
    FillThree();
    TPreviewManager manager(Folder, W, H, 10);
    ASSERT_EQ(manager.GetCount(), 3);
    EXPECT_EQ(manager.GetEntry(0).Checksum, TPreviewManager::EntryChecksum("c"));

    auto b = manager.LoadPreview("b");
    ASSERT_TRUE(b);
    const TPreviewBitmap expected = Image(3, 2, 2);
    ASSERT_EQ(b->Width, 3);
    ASSERT_EQ(b->Height, 2);
    for (std::size_t i = 0; i < expected.Pixels.size(); ++i)
        EXPECT_EQ(b->Pixels[i], expected.Pixels[i] | 0xFF000000u) << "pixel " << i;
    EXPECT_EQ(manager.GetEntry(0).Checksum, TPreviewManager::EntryChecksum("b"));
    EXPECT_EQ(manager.GetEntry(1).Checksum, TPreviewManager::EntryChecksum("c"));
    EXPECT_EQ(manager.GetEntry(2).Checksum, TPreviewManager::EntryChecksum("a"));
    EXPECT_FALSE(manager.LoadPreview("never stored"));

    // The new order is on disk.
    TPreviewManager again(Folder, W, H, 10);
    EXPECT_EQ(again.GetEntry(0).Checksum, TPreviewManager::EntryChecksum("b"));
}

TEST_F(PreviewCacheTest, ADamagedTableCountsAsAnEmptyCache) {
    FillThree();
    const std::string good = ReadCache();
    const std::size_t firstEntry = 24;
    const std::size_t secondEntry = 24 + 16;
    struct Case {
        const char *What;
        std::function<void(std::string &)> Damage;
    } cases[] = {
        {"an image wider than the preview", [&](std::string &d) { Put32(d, firstEntry + 8, W + 1); }},
        {"an image higher than the preview", [&](std::string &d) { Put32(d, firstEntry + 12, H + 1); }},
        {"an image without pixels", [&](std::string &d) { Put32(d, firstEntry + 8, 0); }},
        {"an offset between slots", [&](std::string &d) { Put32(d, firstEntry + 4, 16408 + Slot + 3); }},
        {"an offset inside the table", [&](std::string &d) { Put32(d, firstEntry + 4, 100); }},
        {"two entries in one slot", [&](std::string &d) { Put32(d, secondEntry + 4, 16408 + 2 * Slot); }},
        {"a slot beyond the table's 1024",
         [&](std::string &d) { Put32(d, firstEntry + 4, 16408 + 1024 * Slot); }},
        {"a slot past the end of the file",
         [&](std::string &d) { Put32(d, firstEntry + 4, 16408 + 7 * Slot); }},
        {"a cut image", [&](std::string &d) { d.resize(d.size() - 1); }},
        {"a wrong magic", [&](std::string &d) { d[0] = 'X'; }},
        {"another preview width", [&](std::string &d) { Put32(d, 16, W + 2); }},
    };
    for (const Case &c : cases) {
        std::string damaged = good;
        c.Damage(damaged);
        WriteCache(damaged);
        TPreviewManager manager(Folder, W, H, 10);
        EXPECT_EQ(manager.GetCount(), 0) << c.What;
        EXPECT_FALSE(manager.LoadPreview("a")) << c.What;
    }
    // The undamaged file is taken whole.
    WriteCache(good);
    TPreviewManager manager(Folder, W, H, 10);
    EXPECT_EQ(manager.GetCount(), 3);
}

TEST_F(PreviewCacheTest, ACacheOfSizeZeroNeverWritesTheFile) {
    TPreviewManager manager(Folder, W, H, 0);
    manager.SavePreview("a", Image(W, H, 1));
    EXPECT_EQ(manager.GetCount(), 0);
    EXPECT_FALSE(FileExists(CacheFile()));
}

TEST_F(PreviewCacheTest, APreviewLargerThanTheCacheIsRefusedAndTheThreadSkipsIt) {
    TPreviewManager manager(Folder, W, H, 10);
    try {
        manager.SavePreview("big", Image(W + 1, H, 1));
        ADD_FAILURE() << "no exception";
    } catch (const Exception &error) {
        EXPECT_STREQ(error.what(), "TPreviewManager.SavePreview: Incompatible fractal size");
    }
    EXPECT_EQ(manager.GetCount(), 0);
    // The preview size changed while the preview was calculated: the thread's store step skips it.
    manager.OptionsChanged(W / 2, H / 2, 10);
    EXPECT_FALSE(StoreFinishedPreview(&manager, "a", Image(W, H, 1)));
    EXPECT_EQ(manager.GetCount(), 0);
    EXPECT_TRUE(StoreFinishedPreview(&manager, "a", Image(W / 2, H / 2, 1)));
    EXPECT_EQ(manager.GetCount(), 1);
}

TEST_F(PreviewCacheTest, ANewPreviewSizeDeletesTheCacheAndALowerSizeKeepsTheMostRecent) {
    FillThree();
    {
        TPreviewManager manager(Folder, W, H, 10);
        manager.OptionsChanged(W, H + 1, 10);
        EXPECT_EQ(manager.GetCount(), 0);
        EXPECT_FALSE(FileExists(CacheFile()));
    }
    FillThree();
    TPreviewManager manager(Folder, W, H, 10);
    ASSERT_TRUE(manager.LoadPreview("a")); // order now a, c, b; slots 0, 2, 1
    manager.OptionsChanged(W, H, 2);
    EXPECT_EQ(manager.GetCount(), 2);
    EXPECT_EQ(ReadCache().size(), std::size_t(16408 + 2 * Slot));
    EXPECT_FALSE(manager.LoadPreview("b"));
    auto c = manager.LoadPreview("c");
    ASSERT_TRUE(c);
    const TPreviewBitmap expected = Image(W, 1, 3);
    EXPECT_EQ(c->Pixels.front(), expected.Pixels.front() | 0xFF000000u);
    EXPECT_EQ(c->Pixels.back(), expected.Pixels.back() | 0xFF000000u);
    // Every kept entry in one of the first two slots.
    for (int i = 0; i < 2; ++i)
        EXPECT_LT(manager.GetEntry(i).Offset, std::uint32_t(16408 + 2 * Slot)) << i;
}

TEST_F(PreviewCacheTest, AFullCacheReusesTheLeastRecentlyUsedSlot) {
    TPreviewManager manager(Folder, W, H, 2);
    manager.SavePreview("a", Image(W, H, 1));
    manager.SavePreview("b", Image(W, H, 2));
    const std::uint32_t slotOfA = manager.GetEntry(1).Offset;
    manager.SavePreview("c", Image(W, H, 3));
    EXPECT_EQ(manager.GetCount(), 2);
    EXPECT_EQ(manager.GetEntry(0).Offset, slotOfA);
    EXPECT_FALSE(manager.LoadPreview("a"));
    EXPECT_TRUE(manager.LoadPreview("b"));
}

} // namespace
