#pragma once

// One glyph box as the OSD stores it: `width` x `height` pixels, rows of width / 8 bytes from the
// top, bit 0 of a byte the leftmost pixel.

#include <cstddef>
#include <cstdint>
#include <vector>

struct GlyphBox {
    uint32_t width;
    uint32_t height;
    std::vector<uint8_t> bytes;

    GlyphBox(uint32_t w, uint32_t h) : width(w), height(h), bytes(size_t{w} / 8 * h, 0) {}
    // Sets pixel (x, y); pixels outside the box are dropped.
    void set(int64_t x, int64_t y);
};

// A right-pointing arrow filling the box: a shaft at mid-height and a triangular head.
GlyphBox draw_arrow(uint32_t width, uint32_t height);
