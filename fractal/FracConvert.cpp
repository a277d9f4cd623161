#include "FracConvert.h"

#include <cstring>

#include "FracImage.h"

void ConvertIndexRow(const std::uint16_t *Codes, std::uint32_t *Colors, int Count,
                     const TGradientTable *ColorTable) {
    if (!Codes || !Colors || !ColorTable || Count <= 0)
        return;
    const std::uint32_t *table = ColorTable->Entries;
    int pairs = Count / 2;
    for (int i = 0; i < pairs; ++i) {
        std::uint32_t two;
        std::memcpy(&two, Codes + 2 * i, 4);
        Colors[2 * i] = table[two & 0xFFFF];
        Colors[2 * i + 1] = table[two >> 16];
    }
    if (Count & 1)
        Colors[Count - 1] = table[Codes[Count - 1]];
}

void FillUncalculatedRow(std::uint32_t *Colors, int Count, const TGradientTable *ColorTable) {
    if (!Colors || !ColorTable || Count <= 0)
        return;
    std::uint32_t color = ColorTable->Entries[UncalculatedCode];
    for (int i = 0; i < Count; ++i)
        Colors[i] = color;
}

void ConvertRowToRGB(const void *Source, void *Dest, int Count) {
    if (!Source || !Dest || Count <= 0)
        return;
    const std::uint8_t *from = static_cast<const std::uint8_t *>(Source);
    std::uint8_t *to = static_cast<std::uint8_t *>(Dest);
    for (int i = 0; i < Count; ++i, from += 4, to += 3) {
        to[0] = from[0];
        to[1] = from[1];
        to[2] = from[2];
    }
}

void ConvertRowToRGBA(const void *Source, void *Dest, int Count) {
    if (!Source || !Dest || Count <= 0)
        return;
    const std::uint8_t *from = static_cast<const std::uint8_t *>(Source);
    std::uint8_t *to = static_cast<std::uint8_t *>(Dest);
    for (int i = 0; i < Count; ++i, from += 3, to += 4) {
        to[0] = from[0];
        to[1] = from[1];
        to[2] = from[2];
        to[3] = 255;
    }
}
