// Packed entry bodies: the character packing, the kept comment part, the checksum and the cap.
#include <zlib.h>

#include <cstdint>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CompEntries.h"
#include "CompEntriesTestSupport.h"
#include "CompPacked.h"
#include "GenUtils.h"

namespace {

std::string FromHex(const std::string &Hex) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < Hex.size(); i += 2)
        bytes += static_cast<char>(std::stoi(Hex.substr(i, 2), nullptr, 16));
    return bytes;
}

const std::uint8_t *Bytes(const std::string &Text) {
    return reinterpret_cast<const std::uint8_t *>(Text.data());
}

// The lines of the packed part start with "::" (first) or two blanks, hold at most 72
// characters of data and end with CR LF.
void ExpectPackedLayout(const std::string &Packed) {
    std::size_t start = 0;
    int line = 0;
    while (start < Packed.size()) {
        std::size_t end = Packed.find("\r\n", start);
        ASSERT_NE(end, std::string::npos) << "the last packed line ends with CR LF";
        std::string text = Packed.substr(start, end - start);
        EXPECT_EQ(text.substr(0, 2), line == 0 ? "::" : "  ");
        EXPECT_LE(text.size(), 74u);
        start = end + 2;
        ++line;
    }
}

TEST(PackEntryText, MatchesIndependentVectors) {
    // Made by tools/make_packed_fixtures.py: payloads of 1 to 200 bytes, covering every pad
    // count and the line break after 18 groups.
    std::istringstream vectors(ReadFileBytes(CompilerDataPath("packed_vectors.txt")));
    std::string payloadHex, packedHex;
    int count = 0;
    while (vectors >> payloadHex >> packedHex) {
        std::string payload = FromHex(payloadHex);
        std::string expected = FromHex(packedHex);
        std::string packed;
        PackEntryText(Bytes(payload), payload.size(), packed);
        EXPECT_EQ(packed, expected) << "payload of " << payload.size() << " bytes";
        std::string unpacked;
        EXPECT_TRUE(UnpackEntryText(expected.data(), expected.size(), unpacked));
        EXPECT_EQ(unpacked, payload) << "payload of " << payload.size() << " bytes";
        ++count;
    }
    EXPECT_GT(count, 0) << "the vector file was read";
}

TEST(PackEntryText, PadsFollowThePayloadLength) {
    struct Case {
        std::size_t Size;
        const char *Tail;
    } cases[] = {{3, "\r\n"}, {4, "==\r\n"}, {5, "=\r\n"}, {6, "\r\n"}};
    for (const Case &c : cases) {
        std::string payload(c.Size, '\x5A');
        std::string packed;
        PackEntryText(Bytes(payload), payload.size(), packed);
        std::string tail = c.Tail;
        ASSERT_GE(packed.size(), tail.size());
        EXPECT_EQ(packed.substr(packed.size() - tail.size()), tail) << c.Size;
        if (tail == "\r\n") {
            EXPECT_NE(packed[packed.size() - 3], '=') << c.Size;
        }
    }
}

TEST(SkipLeadingComments, KeepsWholeCommentLinesOnly) {
    struct Case {
        const char *Body;
        std::size_t Kept;
    } cases[] = {
        {"; one\r\n; two\r\nz=1", 14},
        {"  \r\n\t; indented\r\n\r\nz=1", 17}, // blank lines after the comment are not kept
        {"z=1 ; not leading", 0},
        {";last line without end", 22},
        {"; lf only\n; two\nz=1\r\n", 16}, // a lone LF ends a comment line too
        {"; lone cr\rz=1", 10},
        {"", 0},
        {"\r\n\r\n", 0},
    };
    for (const Case &c : cases) {
        std::string body = c.Body;
        EXPECT_EQ(SkipLeadingComments(body.data(), body.size()), c.Kept) << body;
    }
}

class PackedBodyRoundTrip : public testing::TestWithParam<std::string> {};

TEST_P(PackedBodyRoundTrip, UnpacksToTheSameBytes) {
    const std::string original = GetParam();
    std::string body = original;
    TEntryCompressor::Compress(body);
    std::size_t kept = SkipLeadingComments(original.data(), original.size());
    ASSERT_EQ(body.substr(0, kept), original.substr(0, kept)) << "comment lines stay readable";
    std::string packed = body.substr(kept);
    std::size_t marker = packed.find("::");
    ASSERT_NE(marker, std::string::npos);
    ExpectPackedLayout(packed.substr(marker));
    EXPECT_TRUE(TEntryDecompressor::Decompress(body));
    EXPECT_EQ(body, original);
}

std::string RandomBytes(std::size_t Size, unsigned Seed) {
    std::mt19937 random(Seed);
    std::string text(Size, '\0');
    for (char &c : text)
        c = static_cast<char>(random() & 0xFF);
    return text;
}

std::string RepetitiveText(std::size_t Lines) {
    std::string text;
    for (std::size_t i = 0; i < Lines; ++i)
        text += "  layer" + std::to_string(i % 7) + ": opacity=100 caption=\"Layer\"\r\n";
    return text;
}

INSTANTIATE_TEST_SUITE_P(Bodies, PackedBodyRoundTrip,
                         testing::Values(std::string(), std::string("; only a comment\r\n; and another\r\n"),
                                         std::string("; comment\r\n\r\nfractal:\r\n  title=\"x\"\r\n"),
                                         std::string("plain text, no comments"),
                                         std::string("a\nb\rc\r\n\0d", 10), RandomBytes(1, 1),
                                         RandomBytes(2, 2), RandomBytes(3, 3), RandomBytes(4096, 4),
                                         RepetitiveText(5000)));

TEST(PackedBody, OnlyCommentsPackToAnEmptyRest) {
    const std::string comments = "; first\r\n;second\r\n";
    std::string body = comments;
    TEntryCompressor::Compress(body);
    ASSERT_EQ(body.substr(0, comments.size()), comments);
    EXPECT_EQ(body.substr(comments.size(), 2), "::");
    ASSERT_TRUE(TEntryDecompressor::Decompress(body));
    EXPECT_EQ(body, comments);
}

TEST(PackedBody, DamageLeavesTheBodyUnchanged) {
    std::string plain = "; kept\r\n" + RepetitiveText(40);
    std::string packed = plain;
    TEntryCompressor::Compress(packed);
    const std::size_t data = packed.find("::") + 2;

    struct Case {
        const char *What;
        std::string Body;
    };
    std::vector<Case> cases;
    {
        std::string changed = packed;
        std::size_t at = data + 40;
        changed[at] = changed[at] == 'A' ? 'B' : 'A';
        cases.push_back({"one payload character changed", changed});
    }
    {
        std::string crc = packed;
        crc[data] = crc[data] == 'A' ? 'B' : 'A'; // the low bits of the checksum
        cases.push_back({"checksum changed", crc});
    }
    cases.push_back({"last line cut off", packed.substr(0, packed.rfind("  "))});
    cases.push_back({"only the marker", "; kept\r\n::\r\n"});
    cases.push_back({"a single colon is plain text", "; kept\r\n:A=1 B=2\r\n"});
    {
        // A payload that passes the checksum but is no zlib stream.
        std::string junk = "\x01\x02\x03\x04\x05\x06\x07\x08";
        std::string payload(4, '\0');
        std::uint32_t crc = UpdateCrc32(0, junk.data(), static_cast<int>(junk.size()));
        for (int i = 0; i < 4; ++i)
            payload[i] = static_cast<char>(crc >> (8 * i));
        std::string text;
        PackEntryText(Bytes(payload + junk), payload.size() + junk.size(), text);
        cases.push_back({"checksum right, stream broken", text});
    }
    for (const Case &c : cases) {
        std::string body = c.Body;
        EXPECT_FALSE(TEntryDecompressor::Decompress(body)) << c.What;
        EXPECT_EQ(body, c.Body) << c.What;
    }
}

TEST(PackedBody, ADamagedEntryReadsAsItsStoredText) {
    TEntryWriter writer;
    writer.AppendEntry("; about\r\n" + RepetitiveText(20), "Damaged", "", true);
    std::string text = writer.GetText();
    std::size_t at = text.find("::") + 30;
    text[at] = text[at] == 'A' ? 'B' : 'A';
    auto reader = TEntryReader::CreateFromString(text, false);
    ASSERT_EQ(reader->GetCount(), 1);
    TEntryData *entry = reader->GetEntry(0);
    std::size_t bodyStart = text.find("{\r\n") + 3;
    EXPECT_EQ(entry->GetText(), text.substr(bodyStart, text.rfind('}') - bodyStart));
    EXPECT_FALSE(entry->Compressed());
}

TEST(PackedBody, ToleratesExtraWhiteSpaceInThePackedLines) {
    std::string plain = "fractal:\r\n  title=\"Spaced\"\r\n" + RepetitiveText(30);
    std::string packed = plain;
    TEntryCompressor::Compress(packed);
    std::string spaced;
    for (std::size_t i = 0; i < packed.size(); ++i) {
        spaced += packed[i];
        if (i > 2 && i % 17 == 0)
            spaced += "  \t";
        if (packed[i] == '\n' && i % 3 == 0)
            spaced += "\r\n\r\n";
    }
    // A LF-only line end in the middle, and blank lines before the marker.
    std::size_t firstBreak = spaced.find("\r\n");
    spaced.replace(firstBreak, 2, "\n");
    spaced = "\r\n  \r\n" + spaced;
    ASSERT_TRUE(TEntryDecompressor::Decompress(spaced));
    EXPECT_EQ(spaced, plain);
}

TEST(PackedBody, AnIndependentZlibBodyDecodes) {
    // tools/make_packed_fixtures.py packed this body with Python's zlib and CRC-32.
    std::string expected = ReadFileBytes(CompilerDataPath("packed_python.txt"));
    ASSERT_FALSE(expected.empty());
    auto reader = TEntryReader::CreateFromFile(CompilerDataPath("packed_python.ofm"), false);
    int index = reader->IndexOfName("packedbypython");
    ASSERT_GE(index, 0);
    TEntryData *entry = reader->GetEntry(index);
    EXPECT_EQ(entry->GetText(), expected);
    EXPECT_TRUE(entry->Compressed());
    EXPECT_FALSE(reader->GetEntry(reader->IndexOfName("Plain"))->Compressed());
}

TEST(PackedBody, OutputBeyondTheCapFailsCleanly) {
    // 65 MiB of zeros deflate to a small stream; unpacking must refuse it rather than grow.
    std::string zeros(MaxUnpackedEntrySize + 1024 * 1024, '\0');
    uLongf size = compressBound(static_cast<uLong>(zeros.size()));
    std::string compressed(size, '\0');
    ASSERT_EQ(compress2(reinterpret_cast<Bytef *>(&compressed[0]), &size, Bytes(zeros),
                        static_cast<uLong>(zeros.size()), 9),
              Z_OK);
    compressed.resize(size);
    zeros.clear();
    zeros.shrink_to_fit();
    std::uint32_t crc = UpdateCrc32(0, compressed.data(), static_cast<int>(compressed.size()));
    std::string payload(4, '\0');
    for (int i = 0; i < 4; ++i)
        payload[i] = static_cast<char>(crc >> (8 * i));
    payload += compressed;
    std::string body;
    PackEntryText(Bytes(payload), payload.size(), body);
    const std::string original = body;
    EXPECT_FALSE(TEntryDecompressor::Decompress(body));
    EXPECT_EQ(body, original);
}

} // namespace
