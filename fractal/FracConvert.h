// Row routines: mode-0 codes to colours through the colour table, and repacking of pixel rows.
// Each does nothing for a nil row or a count of 0 or less.
#pragma once

#include <cstdint>

struct TGradientTable;

// Colors[i] = ColorTable[Codes[i]]; codes are read two at a time (low half first).
void ConvertIndexRow(const std::uint16_t *Codes, std::uint32_t *Colors, int Count,
                     const TGradientTable *ColorTable);
// Every entry gets the not-calculated colour.
void FillUncalculatedRow(std::uint32_t *Colors, int Count, const TGradientTable *ColorTable);
// 4-byte pixels to 3-byte pixels: bytes 0, 1, 2 kept in order, byte 3 dropped.
void ConvertRowToRGB(const void *Source, void *Dest, int Count);
// 3-byte pixels to 4-byte pixels, byte 3 set to 255.
void ConvertRowToRGBA(const void *Source, void *Dest, int Count);
