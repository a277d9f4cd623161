// Compressed blocks: a 12-byte header (unpacked size, a word the reader ignores, CRC-32 of the
// unpacked bytes, all little-endian) followed by raw deflate data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Raw inflate from one buffer into another; TargetLength when the target was filled exactly while
// every source byte was used, else 0.
std::size_t InflateBuffer(const void *Source, std::size_t SourceLength, void *Target,
                          std::size_t TargetLength);
// The unpacked bytes, or an empty result for a short, corrupt or mismatching block. The stated size
// may not exceed MaxUnpackRatio times the compressed size (deflate cannot do better than about
// 1032:1), so a forged header cannot make the reader allocate more than that.
inline constexpr std::size_t MaxUnpackRatio = 1032;
std::string UnpackBlock(const std::string &Block);
std::uint32_t BlockCrc32(const void *Data, std::size_t Length);
