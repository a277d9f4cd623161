#include "CompPacked.h"

#include <zlib.h>

#include <cstring>
#include <new>
#include <stdexcept>
#include <vector>

#include "GenUtils.h"

namespace {

constexpr char PackAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::size_t GroupsPerLine = 18;

bool IsBlankOrLineEnd(char c) {
    return c == '\t' || c == '\n' || c == '\r' || c == ' ';
}

// Value of a packing character, 64 for the pad, -1 for anything that is skipped.
int CharValue(unsigned char c) {
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    if (c == '=')
        return 64;
    return -1;
}

void WriteLittleEndian32(std::uint32_t value, std::uint8_t *out) {
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t ReadLittleEndian32(const std::uint8_t *in) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | in[i];
    return value;
}

// Inflates a zlib stream; fails on any error, on a stream that does not end, and on output
// beyond MaxUnpackedEntrySize.
bool InflateCapped(const std::uint8_t *data, std::size_t size, std::string &out) {
    z_stream stream;
    std::memset(&stream, 0, sizeof(stream));
    if (inflateInit(&stream) != Z_OK)
        return false;
    out.clear();
    stream.next_in = const_cast<Bytef *>(data);
    stream.avail_in = static_cast<uInt>(size);
    int status = Z_OK;
    std::size_t chunk = size * 4 + 256;
    while (status == Z_OK) {
        if (out.size() >= MaxUnpackedEntrySize) {
            status = Z_MEM_ERROR;
            break;
        }
        std::size_t room = chunk;
        if (room > MaxUnpackedEntrySize - out.size())
            room = MaxUnpackedEntrySize - out.size();
        std::size_t used = out.size();
        out.resize(used + room);
        stream.next_out = reinterpret_cast<Bytef *>(&out[used]);
        stream.avail_out = static_cast<uInt>(room);
        status = inflate(&stream, Z_NO_FLUSH);
        out.resize(used + room - stream.avail_out);
        if (status == Z_BUF_ERROR && stream.avail_in == 0)
            break; // truncated stream
        if (status == Z_BUF_ERROR)
            status = Z_OK; // output was full; go on with more room
        if (chunk < (1u << 20))
            chunk *= 2;
    }
    inflateEnd(&stream);
    if (status != Z_STREAM_END) {
        out.clear();
        return false;
    }
    return true;
}

} // namespace

std::size_t SkipLeadingComments(const char *Buffer, std::size_t Size) {
    std::size_t kept = 0;
    std::size_t i = 0;
    for (;;) {
        while (i < Size && IsBlankOrLineEnd(Buffer[i]))
            ++i;
        if (i >= Size || Buffer[i] != ';')
            return kept;
        // A comment line ends at CR LF, a lone CR or a lone LF.
        while (i < Size && Buffer[i] != '\r' && Buffer[i] != '\n')
            ++i;
        if (i < Size && Buffer[i++] == '\r' && i < Size && Buffer[i] == '\n')
            ++i;
        kept = i;
    }
}

void PackEntryText(const std::uint8_t *Bytes, std::size_t Count, std::string &Text) {
    Text.clear();
    Text.reserve((Count + 2) / 3 * 4 + (Count / 54 + 1) * 4 + 2);
    Text += "::";
    std::size_t groupsOnLine = 0;
    for (std::size_t i = 0; i < Count; i += 3) {
        if (groupsOnLine == GroupsPerLine) {
            Text += "\r\n  ";
            groupsOnLine = 0;
        }
        std::size_t left = Count - i;
        unsigned b0 = Bytes[i];
        unsigned b1 = left > 1 ? Bytes[i + 1] : 0;
        unsigned b2 = left > 2 ? Bytes[i + 2] : 0;
        Text += PackAlphabet[b0 & 63];
        Text += PackAlphabet[(b0 >> 6) + (b1 & 15) * 4];
        if (left > 1)
            Text += PackAlphabet[(b1 >> 4) + (b2 & 3) * 16];
        else
            Text += '=';
        if (left > 2)
            Text += PackAlphabet[b2 >> 2];
        else
            Text += '=';
        ++groupsOnLine;
    }
    Text += "\r\n";
}

bool UnpackEntryText(const char *Text, std::size_t Length, std::string &Bytes) {
    Bytes.clear();
    if (Length < 2 || Text[0] != ':' || Text[1] != ':')
        return false;
    Bytes.reserve(Length / 4 * 3);
    int values[4];
    int filled = 0;
    int pads = 0;
    for (std::size_t i = 2; i < Length; ++i) {
        int value = CharValue(static_cast<unsigned char>(Text[i]));
        if (value < 0)
            continue;
        if (value == 64) {
            value = 0;
            ++pads;
        }
        values[filled++] = value;
        if (filled < 4)
            continue;
        unsigned char group[3];
        group[0] = static_cast<unsigned char>(values[0] + (values[1] & 3) * 64);
        group[1] = static_cast<unsigned char>((values[1] >> 2) + (values[2] & 15) * 16);
        group[2] = static_cast<unsigned char>((values[2] >> 4) + values[3] * 4);
        int keep = 3 - pads;
        if (keep > 0)
            Bytes.append(reinterpret_cast<const char *>(group), keep);
        if (pads > 0)
            break;
        filled = 0;
    }
    return true;
}

void TEntryCompressor::Compress(std::string &Buffer) {
    std::size_t kept = SkipLeadingComments(Buffer.data(), Buffer.size());
    const Bytef *source = reinterpret_cast<const Bytef *>(Buffer.data() + kept);
    uLong sourceSize = static_cast<uLong>(Buffer.size() - kept);
    uLongf packedSize = compressBound(sourceSize);
    std::vector<std::uint8_t> payload(4 + packedSize);
    int status = compress2(payload.data() + 4, &packedSize, source, sourceSize, 9);
    if (status == Z_MEM_ERROR)
        throw std::bad_alloc();
    if (status != Z_OK)
        throw std::runtime_error("compress2 failed"); // cannot happen with a compressBound buffer
    payload.resize(4 + packedSize);
    WriteLittleEndian32(UpdateCrc32(0, payload.data() + 4, static_cast<int>(packedSize)), payload.data());
    std::string text;
    PackEntryText(payload.data(), payload.size(), text);
    Buffer.resize(kept);
    Buffer += text;
}

bool TEntryDecompressor::Decompress(std::string &Buffer) noexcept {
    try {
        std::size_t kept = SkipLeadingComments(Buffer.data(), Buffer.size());
        std::size_t start = kept;
        while (start < Buffer.size() && IsBlankOrLineEnd(Buffer[start]))
            ++start;
        if (Buffer.size() - start < 2 || Buffer[start] != ':' || Buffer[start + 1] != ':')
            return false;
        std::string payload;
        UnpackEntryText(Buffer.data() + start, Buffer.size() - start, payload);
        if (payload.size() <= 4)
            return false;
        const std::uint8_t *bytes = reinterpret_cast<const std::uint8_t *>(payload.data());
        if (UpdateCrc32(0, bytes + 4, static_cast<int>(payload.size() - 4)) != ReadLittleEndian32(bytes))
            return false;
        std::string text;
        if (!InflateCapped(bytes + 4, payload.size() - 4, text))
            return false;
        std::string result;
        result.reserve(kept + text.size());
        result.append(Buffer, 0, kept);
        result += text;
        Buffer.swap(result);
        return true;
    } catch (...) {
        // Out of memory while unpacking: the body stays packed, as for any other damage.
        return false;
    }
}
