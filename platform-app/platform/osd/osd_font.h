#pragma once

// The OSD's font tables: bitmaps generated at build time (fontgen/) and linked in as binary data.
// Glyphs follow one another, each row by row from the top, each row as whole bytes left to right,
// bit 0 of a byte the leftmost pixel, 1 = foreground.
//
// ASCII_*: 128 half-width glyphs indexed by the character code (glyph 0 blank).
// GB2312_*: 94 x 94 full-width glyphs indexed by (h - 0xA1) * 94 + (l - 0xA1).
// DIR_*: one half-width right-pointing arrow.

#include <cstdint>

#include "peripheral/std/std.h"

inline constexpr uint32_t OSD_ASCII_GLYPHS = 128;
inline constexpr uint32_t OSD_GB2312_ROW = 94;
inline constexpr uint32_t OSD_GB2312_GLYPHS = OSD_GB2312_ROW * OSD_GB2312_ROW;
inline constexpr uint8_t OSD_GB2312_FIRST = 0xA1;
inline constexpr uint8_t OSD_GB2312_LAST = 0xFE;

extern "C" {
extern const uint8_t ASCII_48x96[];
extern const uint8_t ASCII_24x48[];
extern const uint8_t ASCII_16x32[];
extern const uint8_t GB2312_96x96[];
extern const uint8_t GB2312_48x48[];
extern const uint8_t GB2312_32x32[];
extern const uint8_t DIR_48x96[];
extern const uint8_t DIR_24x48[];
extern const uint8_t DIR_16x32[];
}

// The three tables of one size class.
struct OSD_Font_Tables {
    const uint8_t* ascii;
    const uint8_t* gb2312;
    const uint8_t* dir;
};

// The tables of size class `size` (which must be one of the three).
const OSD_Font_Tables& OSD_Fonts(VideoStd_ArgSize size);
