// Font styles, shared by the fonts of windows and the font settings of the configuration.
#pragma once

#include <cstdint>

enum TFontStyle : uint8_t { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };
using TFontStyles = uint8_t;
