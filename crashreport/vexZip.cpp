#include "vexZip.h"

#include <zlib.h>

#include <climits>

std::uint32_t BlockCrc32(const void *Data, std::size_t Length) {
    return static_cast<std::uint32_t>(
        crc32(crc32(0, nullptr, 0), static_cast<const Bytef *>(Data), static_cast<uInt>(Length)));
}

std::size_t InflateBuffer(const void *Source, std::size_t SourceLength, void *Target,
                          std::size_t TargetLength) {
    if (SourceLength > UINT_MAX || TargetLength > UINT_MAX)
        return 0;
    z_stream stream = {};
    if (inflateInit2(&stream, -15) != Z_OK)
        return 0;
    stream.next_in = const_cast<Bytef *>(static_cast<const Bytef *>(Source));
    stream.avail_in = static_cast<uInt>(SourceLength);
    stream.next_out = static_cast<Bytef *>(Target);
    stream.avail_out = static_cast<uInt>(TargetLength);
    const int status = inflate(&stream, Z_FINISH);
    const bool complete = (status == Z_STREAM_END || status == Z_BUF_ERROR || status == Z_OK) &&
                          stream.avail_out == 0 && stream.avail_in == 0;
    inflateEnd(&stream);
    return complete ? TargetLength : 0;
}

namespace {
std::uint32_t ReadWord(const std::string &bytes, std::size_t at) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at])) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 2])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 3])) << 24;
}
} // namespace

std::string UnpackBlock(const std::string &Block) {
    if (Block.size() < 13)
        return std::string();
    const std::uint32_t size = ReadWord(Block, 0);
    const std::size_t packed = Block.size() - 12;
    if (size == 0 || size / MaxUnpackRatio > packed)
        return std::string();
    std::string result(size, '\0');
    if (InflateBuffer(Block.data() + 12, packed, result.data(), size) != size)
        return std::string();
    if (BlockCrc32(result.data(), result.size()) != ReadWord(Block, 8))
        return std::string();
    return result;
}
