// Packed entry bodies: leading comment lines stay readable, the rest is zlib data written as
// printable lines that start with "::".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Largest text an unpacked body may grow to. A body that would inflate beyond it is treated as
// damaged and left packed, so a hostile or corrupt file cannot exhaust memory.
constexpr std::size_t MaxUnpackedEntrySize = 64u * 1024u * 1024u;

// Number of bytes at the start of Buffer that form its leading comment lines (kept unpacked).
std::size_t SkipLeadingComments(const char *Buffer, std::size_t Size);

// The character packing of a payload: a first line starting with "::", further lines starting with
// two blanks, each with up to 72 characters of data and ending in CR LF.
void PackEntryText(const std::uint8_t *Bytes, std::size_t Count, std::string &Text);

// Reverse of PackEntryText over Text, which must start with "::". Characters outside the packing
// alphabet are skipped. Returns false when Text does not start with "::".
bool UnpackEntryText(const char *Text, std::size_t Length, std::string &Bytes);

class TEntryCompressor {
public:
    // Replaces Buffer by its packed form (kept comment part, then the packed lines).
    static void Compress(std::string &Buffer);
};

class TEntryDecompressor {
public:
    // When Buffer holds an intact packed body, replaces it by the kept part followed by the
    // unpacked text and returns true; otherwise leaves it exactly as it was and returns false.
    // Never raises.
    static bool Decompress(std::string &Buffer) noexcept;
};
