#pragma once

// The OSD's font tables: bitmaps generated at build time (fontgen/) and linked in as binary data.
// Glyphs follow one another, each row by row from the top, each row as whole bytes left to right,
// bit 0 of a byte the leftmost pixel, 1 = foreground.
//
// ASCII_*: 128 half-width glyphs indexed by the character code (glyph 0 blank), stored as is.
// DIR_*: one half-width right-pointing arrow, stored as is.
// GB2312_*: 94 x 94 full-width glyphs indexed by (h - 0xA1) * 94 + (l - 0xA1), stored compressed:
// each block of OSD_GB2312_BLOCK_GLYPHS glyphs in index order is one raw DEFLATE stream, decoded on
// demand into a small cache of blocks (OSD_GB2312_CACHE_BLOCKS, shared by the size classes).

#include <cstdint>

#include "peripheral/std/std.h"

inline constexpr uint32_t OSD_ASCII_GLYPHS = 128;
inline constexpr uint32_t OSD_GB2312_ROW = 94;
inline constexpr uint32_t OSD_GB2312_GLYPHS = OSD_GB2312_ROW * OSD_GB2312_ROW;
inline constexpr uint8_t OSD_GB2312_FIRST = 0xA1;
inline constexpr uint8_t OSD_GB2312_LAST = 0xFE;
inline constexpr uint32_t OSD_GB2312_BLOCK_GLYPHS = 16;
inline constexpr uint32_t OSD_GB2312_BLOCKS =
    (OSD_GB2312_GLYPHS + OSD_GB2312_BLOCK_GLYPHS - 1) / OSD_GB2312_BLOCK_GLYPHS;
// Decoded blocks kept: at most 48 x 16 x 1152 bytes (864 KiB) with 96 x 96 glyphs.
inline constexpr uint32_t OSD_GB2312_CACHE_BLOCKS = 48;

extern "C" {
extern const uint8_t ASCII_48x96[];
extern const uint8_t ASCII_24x48[];
extern const uint8_t ASCII_16x32[];
extern const uint8_t DIR_48x96[];
extern const uint8_t DIR_24x48[];
extern const uint8_t DIR_16x32[];
// Each: OSD_GB2312_BLOCKS + 1 little-endian 32-bit offsets from the table's start (block b's
// stream runs from offset b to offset b + 1), then the streams.
extern const uint8_t GB2312_96x96_Z[];
extern const uint8_t GB2312_48x48_Z[];
extern const uint8_t GB2312_32x32_Z[];
}

// The uncompressed tables of one size class.
struct OSD_Font_Tables {
    const uint8_t* ascii;
    const uint8_t* dir;
};

// The tables of size class `size` (which must be one of the three).
const OSD_Font_Tables& OSD_Fonts(VideoStd_ArgSize size);

// Copies GB2312 glyph `index` (below OSD_GB2312_GLYPHS) of size class `size` to `out` (a
// full-width glyph's bytes). False, with one message per damaged block, when its block cannot be
// decoded.
bool OSD_GB2312_Glyph(VideoStd_ArgSize size, uint32_t index, uint8_t* out);
