#include "glyph_raster.h"

void GlyphBox::set(int64_t x, int64_t y)
{
    if (x < 0 || y < 0 || x >= static_cast<int64_t>(width) || y >= static_cast<int64_t>(height)) {
        return;
    }
    const auto col = static_cast<uint32_t>(x);
    const auto row = static_cast<uint32_t>(y);
    bytes[row * (width / 8) + col / 8] |= static_cast<uint8_t>(1U << (col % 8));
}

GlyphBox draw_arrow(uint32_t width, uint32_t height)
{
    GlyphBox box(width, height);
    const int64_t w = width;
    const int64_t h = height;
    const int64_t mid = h / 2;
    const int64_t shaft = h / 16 > 0 ? h / 16 : 1;  // half the shaft's thickness
    const int64_t head_start = w / 2;
    const int64_t tip = w - w / 8;
    const int64_t head_half = h / 5;  // half the head's height at its base
    for (int64_t x = w / 8; x < head_start; ++x) {
        for (int64_t y = mid - shaft; y < mid + shaft; ++y) {
            box.set(x, y);
        }
    }
    for (int64_t x = head_start; x < tip; ++x) {
        // The head narrows linearly from head_half at its base to 0 at the tip.
        const int64_t half = head_half * (tip - x) / (tip - head_start);
        for (int64_t y = mid - half; y <= mid + half; ++y) {
            box.set(x, y);
        }
    }
    return box;
}
