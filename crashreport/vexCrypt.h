// Blowfish (64-bit blocks, 16 rounds) on byte strings in place, and Base64 (RFC 4648).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Processes the whole 8-byte blocks of the buffer in place; trailing bytes stay as they are.
// Standard word order: bytes 0-3 are the left half, big-endian. Swapped: bytes 4-7 are the left
// half, little-endian. A counter (two words, both zero for none) switches to counter mode: per block
// the counter is incremented as a big-endian 8-byte number, processed, and XORed into the block.
// An empty key processes nothing and gives false.
bool BlowfishCrypt(void *Buffer, std::size_t Length, bool Encipher, bool SwappedWords, std::uint32_t Counter0,
                   std::uint32_t Counter1, const std::string &Key);
// Deciphers in the standard order (counter mode when a counter is given) and removes the padding.
void DecipherText(std::string &Text, const std::string &Key, std::uint32_t Counter0 = 0,
                  std::uint32_t Counter1 = 0);
void EncipherBlocks(std::string &Text, const std::string &Key);
void DecipherBlocks(std::string &Text, const std::string &Key);

std::string Base64Encode(const void *Bytes, std::size_t Count);
std::string Base64EncodeText(const std::string &Text);
