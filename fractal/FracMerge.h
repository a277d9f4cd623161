// Pixel arithmetic for merging layers in 8-bit colour: row routines on 32-bit pixels (bytes blue, green,
// red, alpha). Every routine works on a Base row (the colours merged so far) and a Layer row, and writes
// the result into Layer. Products and compositing weights come from two 256 x 256 byte tables, so that a
// row merge needs no multiplication or division per channel; the HSL modes use integer HSL with two small
// division tables. The tables are filled by InitMergeTables before the first merge.
#pragma once

#include <cstdint>

// Merge modes by number, as layers store them.
enum TMergeMode : int {
    mmNormal = 0,
    mmMultiply = 1,
    mmScreen = 2,
    mmOverlay = 3,
    mmSoftLight = 4,
    mmHardLight = 5,
    mmDarken = 6,
    mmLighten = 7,
    mmDifference = 8,
    mmHue = 9,
    mmSaturation = 10,
    mmColor = 11,
    mmLuminance = 12,
    mmAddition = 13,
    mmSubtraction = 14,
    mmHSLAdd = 15,
    mmRed = 16,
    mmGreen = 17,
    mmBlue = 18,
};
constexpr int MergeModeCount = 19;

// P[a][b] = round(a * b / 255), index a * 256 + b.
extern std::uint8_t MergeProductTable[256 * 256];
// D[a][b], a the base alpha and b the layer alpha: the layer's share of the colour when a layer of alpha
// b is composited over a base of alpha a; index a * 256 + b.
extern std::uint8_t MergeCompositeTable[256 * 256];
// i mod 60 and i div 60.
extern std::uint8_t MergeMod60Table[512];
extern std::uint8_t MergeDiv60Table[16384];

// Fills the tables; calling it again changes nothing.
void InitMergeTables();
void InitializeFracMerge();
void FinalizeFracMerge();

inline std::uint8_t MergeProduct(int A, int B) {
    return MergeProductTable[A * 256 + B];
}

// Integer HSL: hue 0..359 degrees, saturation and lightness 0..255.
struct TIntegerHSL {
    std::uint16_t Hue;
    std::uint8_t Saturation;
    std::uint8_t Lightness;
};

TIntegerHSL PixelToHSL(std::uint32_t Pixel);
int PixelHue(std::uint32_t Pixel);
// Fills only saturation and lightness of HSL.
void PixelSatLight(std::uint32_t Pixel, TIntegerHSL &HSL);
// Writes red, green and blue of Pixel; its alpha stays.
void HSLToPixel(const TIntegerHSL &HSL, std::uint32_t &Pixel);

// Blending and alpha routines. Unless stated, only the colour bytes of Layer change.
void MergeNormal(const std::uint32_t *Base, std::uint32_t *Layer, int Count);
void MergeNormalAlpha(const std::uint32_t *Base, std::uint32_t *Layer, const std::uint32_t *AlphaRow,
                      int Count);
void MergeOpacity(const std::uint32_t *Base, std::uint32_t *Layer, int Count, std::uint8_t Opacity);
// Also sets Layer's alpha to the combined alpha.
void MergeComposite(const std::uint32_t *Base, std::uint32_t *Layer, int Count);
// Does nothing without an AlphaRow.
void MergeCompositeAlpha(const std::uint32_t *Base, std::uint32_t *Layer, const std::uint32_t *AlphaRow,
                         int Count);
// Alpha routines: they change only the alpha byte (MergeFill the whole pixel).
void MergeMask(std::uint32_t *Row, const std::uint32_t *Mask, int Count);
void MergeScaleAlpha(std::uint32_t *Row, int Count, std::uint8_t Opacity);
void MergeSetAlpha(std::uint32_t *Row, int Count, std::uint8_t Alpha);
void MergeFill(std::uint32_t *Row, int Count, std::uint32_t Color);

// The merge modes; each writes only the colour bytes of Layer.
using TMergeRowProc = void (*)(const std::uint32_t *Base, std::uint32_t *Layer, int Count);
void MergeMultiply(const std::uint32_t *Base, std::uint32_t *Layer, int Count);
void MergeScreen(const std::uint32_t *Base, std::uint32_t *Layer, int Count);
void MergeOverlay(const std::uint32_t *Base, std::uint32_t *Layer, int Count);
void MergeSoftLight(const std::uint32_t *Base, std::uint32_t *Layer, int Count);
void MergeHardLight(const std::uint32_t *Base, std::uint32_t *Layer, int Count);
void MergeDarken(const std::uint32_t *Base, std::uint32_t *Layer, int Count);
void MergeLighten(const std::uint32_t *Base, std::uint32_t *Layer, int Count);
void MergeDifference(const std::uint32_t *Base, std::uint32_t *Layer, int Count);
void MergeHue(const std::uint32_t *Base, std::uint32_t *Layer, int Count);
void MergeSaturation(const std::uint32_t *Base, std::uint32_t *Layer, int Count);
void MergeColor(const std::uint32_t *Base, std::uint32_t *Layer, int Count);
void MergeLuminance(const std::uint32_t *Base, std::uint32_t *Layer, int Count);
void MergeAddition(const std::uint32_t *Base, std::uint32_t *Layer, int Count);
void MergeSubtraction(const std::uint32_t *Base, std::uint32_t *Layer, int Count);
void MergeHSLAdd(const std::uint32_t *Base, std::uint32_t *Layer, int Count);
void MergeRed(const std::uint32_t *Base, std::uint32_t *Layer, int Count);
void MergeGreen(const std::uint32_t *Base, std::uint32_t *Layer, int Count);
void MergeBlue(const std::uint32_t *Base, std::uint32_t *Layer, int Count);

// The routine of Mode; normal (0) has none, and a mode outside 0..18 does nothing.
void MergeRows(const std::uint32_t *Base, std::uint32_t *Layer, int Count, int Mode);
