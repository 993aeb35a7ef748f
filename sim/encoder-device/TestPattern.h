#pragma once

#include <cstdint>

// Planar Y'CbCr picture memory to draw into (8 bits per sample, limited range, BT.709).
struct PlanarPicture {
    std::uint8_t* plane[3] = {nullptr, nullptr, nullptr};
    int stride[3] = {0, 0, 0};
    int width = 0;
    int height = 0;
    int chroma_shift_x = 1;  // 1 for 4:2:0 and 4:2:2
    int chroma_shift_y = 1;  // 1 for 4:2:0, 0 for 4:2:2
};

// Draws the simulator's test pattern: 75% colour bars, a grey ramp, a white box that moves with
// `counter`, the counter itself in large digits and, for a field picture, a marker block whose
// position shows the field parity (left for field 0, right for field 1; `field` < 0: no marker).
void draw_test_pattern(const PlanarPicture& picture, int counter, int field);
