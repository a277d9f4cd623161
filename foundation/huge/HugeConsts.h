// Constant tables for the arbitrary-precision numbers: binary expansions in
// 32-bit words, most significant word first, so that a number of any width
// takes the first n words.
#pragma once

#include <cstdint>

constexpr int HugeConstWords = 1702;

// Exponent 0: the integer part is the first word.
extern const uint32_t HugePiTable[HugeConstWords];
extern const uint32_t HugeETable[HugeConstWords];
extern const uint32_t HugeLog2ETable[HugeConstWords];
// Exponent -1: the first word is the first fraction word.
extern const uint32_t HugeLn2Table[HugeConstWords];
