// Float twins of the 8-bit merge routines, for rendering to disk: rows of pixels of four 32-bit floats
// red, green, blue, alpha, nominally 0..1. Every routine works on a Base row and a Layer row and writes
// the result into Layer; the arithmetic runs in 80-bit registers and each result is stored as a 32-bit
// float. Opacity and Alpha arguments are bytes 0..255, divided by 255.
#pragma once

#include <cstdint>

#include "GenColor.h"

// Blending and alpha routines. Unless stated, only red, green and blue of Layer change.
void MergeFloatNormal(const TFloatColor *Base, TFloatColor *Layer, int Count);
void MergeFloatNormalAlpha(const TFloatColor *Base, TFloatColor *Layer, const TFloatColor *AlphaRow,
                           int Count);
void MergeFloatOpacity(const TFloatColor *Base, TFloatColor *Layer, int Count, std::uint8_t Opacity);
// Also sets Layer's alpha to the combined alpha.
void MergeFloatComposite(const TFloatColor *Base, TFloatColor *Layer, int Count);
void MergeFloatCompositeAlpha(const TFloatColor *Base, TFloatColor *Layer, const TFloatColor *AlphaRow,
                              int Count);
// Alpha routines: they change only the alpha (MergeFloatFill the whole pixel).
void MergeFloatMask(TFloatColor *Row, const TFloatColor *Mask, int Count);
void MergeFloatScaleAlpha(TFloatColor *Row, int Count, std::uint8_t Opacity);
void MergeFloatSetAlpha(TFloatColor *Row, int Count, std::uint8_t Alpha);
// Color is a 32-bit pixel, bytes blue, green, red, alpha.
void MergeFloatFill(TFloatColor *Row, int Count, std::uint32_t Color);

// The merge modes; each writes only red, green and blue of Layer.
using TMergeFloatRowProc = void (*)(const TFloatColor *Base, TFloatColor *Layer, int Count);
void MergeFloatMultiply(const TFloatColor *Base, TFloatColor *Layer, int Count);
void MergeFloatScreen(const TFloatColor *Base, TFloatColor *Layer, int Count);
void MergeFloatOverlay(const TFloatColor *Base, TFloatColor *Layer, int Count);
void MergeFloatSoftLight(const TFloatColor *Base, TFloatColor *Layer, int Count);
void MergeFloatHardLight(const TFloatColor *Base, TFloatColor *Layer, int Count);
void MergeFloatDarken(const TFloatColor *Base, TFloatColor *Layer, int Count);
void MergeFloatLighten(const TFloatColor *Base, TFloatColor *Layer, int Count);
void MergeFloatDifference(const TFloatColor *Base, TFloatColor *Layer, int Count);
void MergeFloatHue(const TFloatColor *Base, TFloatColor *Layer, int Count);
void MergeFloatSaturation(const TFloatColor *Base, TFloatColor *Layer, int Count);
void MergeFloatColor(const TFloatColor *Base, TFloatColor *Layer, int Count);
void MergeFloatLuminance(const TFloatColor *Base, TFloatColor *Layer, int Count);
void MergeFloatAddition(const TFloatColor *Base, TFloatColor *Layer, int Count);
void MergeFloatSubtraction(const TFloatColor *Base, TFloatColor *Layer, int Count);
void MergeFloatHSLAdd(const TFloatColor *Base, TFloatColor *Layer, int Count);
void MergeFloatRed(const TFloatColor *Base, TFloatColor *Layer, int Count);
void MergeFloatGreen(const TFloatColor *Base, TFloatColor *Layer, int Count);
void MergeFloatBlue(const TFloatColor *Base, TFloatColor *Layer, int Count);

// The routine of Mode; normal (0) has none, and a mode outside 0..18 does nothing.
void MergeFloatRows(const TFloatColor *Base, TFloatColor *Layer, int Count, int Mode);
