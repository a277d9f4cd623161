#include <gtest/gtest.h>

#include "VexTestData.h"
#include "vexZip.h"

namespace {

// Blocks packed by Python's zlib (tools/vex_zip_reference.py), with the damaged variants.
TEST(vexZipTest, BlocksPackedByZlibUnpackAndDamagedOnesGiveNothing) {
    const auto cases = ReadFixtureLines("packed_blocks.txt");
    ASSERT_GE(cases.size(), 10u);
    for (const auto &fields : cases) {
        ASSERT_EQ(fields.size(), 3u);
        EXPECT_EQ(UnpackBlock(FromHex(fields[1])), FromHex(fields[2])) << fields[0];
    }
}

TEST(vexZipTest, InflateBufferNeedsTheExactTargetSize) {
    const auto cases = ReadFixtureLines("packed_blocks.txt");
    const std::string block = FromHex(cases[0][1]), expected = FromHex(cases[0][2]);
    std::string target(expected.size(), '\0');
    EXPECT_EQ(InflateBuffer(block.data() + 12, block.size() - 12, target.data(), target.size()),
              expected.size());
    EXPECT_EQ(target, expected);
    std::string larger(expected.size() + 10, '\0');
    EXPECT_EQ(InflateBuffer(block.data() + 12, block.size() - 12, larger.data(), larger.size()), 0u);
    EXPECT_EQ(InflateBuffer("\xff\xff", 2, larger.data(), larger.size()), 0u);
}

} // namespace
