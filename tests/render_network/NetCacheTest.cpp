// The parameter cache: most recently used first, bounded by count and size, and keyed by a
// checksum it checks itself.
#include <string>

#include <gtest/gtest.h>

#include "NetCache.h"

namespace {

std::string Text(int I, std::size_t Size = 10) {
    std::string text = "text " + std::to_string(I) + " ";
    text.resize(Size, char('a' + I % 26));
    return text;
}

TEST(NetworkServerCache, ChecksumIsTheStandardCrc32) {
    // The check value of CRC-32 (ISO 3309).
    EXPECT_EQ(TextCrc32("123456789"), 0xCBF43926u);
    EXPECT_EQ(TextCrc32(""), 0u);
}

TEST(NetworkServerCache, ATextWithAWrongChecksumIsRefused) {
    TNetworkServerCache cache;
    const std::string text = "parameters { }";
    EXPECT_FALSE(cache.Add(TextCrc32(text) ^ 1, text));
    EXPECT_EQ(cache.GetCount(), 0);
    std::string found;
    EXPECT_FALSE(cache.Find(TextCrc32(text) ^ 1, std::uint32_t(text.size()), found));
    EXPECT_TRUE(cache.Add(TextCrc32(text), text));
    EXPECT_TRUE(cache.Find(TextCrc32(text), std::uint32_t(text.size()), found));
    EXPECT_EQ(found, text);
    EXPECT_FALSE(cache.Find(TextCrc32(text), std::uint32_t(text.size()) + 1, found)) << "another length";
}

TEST(NetworkServerCache, The33rdTextDropsTheLeastRecentlyUsed) {
    TNetworkServerCache cache;
    for (int i = 0; i < 32; ++i)
        ASSERT_TRUE(cache.Add(TextCrc32(Text(i)), Text(i)));
    std::string found;
    // Using text 0 moves it to the front: text 1 is now the oldest.
    ASSERT_TRUE(cache.Find(TextCrc32(Text(0)), 10, found));
    ASSERT_TRUE(cache.Add(TextCrc32(Text(32)), Text(32)));
    EXPECT_EQ(cache.GetCount(), 32);
    EXPECT_TRUE(cache.Find(TextCrc32(Text(0)), 10, found));
    EXPECT_FALSE(cache.Find(TextCrc32(Text(1)), 10, found));
    EXPECT_TRUE(cache.Find(TextCrc32(Text(2)), 10, found));
    EXPECT_EQ(cache.GetTotalSize(), 320u);
}

TEST(NetworkServerCache, SizeIsBoundedAndAnOversizedTextIsStoredAlone) {
    TNetworkServerCache cache;
    const std::size_t MiB = 1u << 20;
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(cache.Add(TextCrc32(Text(i, MiB + 1)), Text(i, MiB + 1)));
    // A fourth text of 1 MiB + 1 passes 4 MiB: the oldest goes.
    ASSERT_TRUE(cache.Add(TextCrc32(Text(3, MiB + 1)), Text(3, MiB + 1)));
    EXPECT_EQ(cache.GetCount(), 3);
    EXPECT_LE(cache.GetTotalSize(), TNetworkServerCache::MaxTotalSize);
    const std::string big = Text(9, 5 * MiB);
    ASSERT_TRUE(cache.Add(TextCrc32(big), big));
    EXPECT_EQ(cache.GetCount(), 1);
    EXPECT_EQ(cache.GetTotalSize(), big.size());
}

} // namespace
