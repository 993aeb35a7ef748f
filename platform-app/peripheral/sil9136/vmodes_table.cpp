#include "peripheral/sil9136/vmodes_table.h"

#include "peripheral/std/std.h"

namespace {

enum class Lines : uint8_t { L720, L1080I, L1080P, L2160 };

struct Geometry {
    uint8_t refr_type_vh_pol;
    uint32_t pos_h, pos_v;
    uint32_t res_h, res_v;
    uint32_t top, dly;  // vertical and horizontal back porch
};

constexpr Geometry geometry(Lines lines)
{
    switch (lines) {
    case Lines::L720:
        return {3, 260, 25, 1280, 720, 20, 220};
    case Lines::L1080I:
        return {7, 192, 20, 1920, 1080, 15, 148};
    case Lines::L1080P:
        return {3, 192, 41, 1920, 1080, 36, 148};
    case Lines::L2160:
        break;
    }
    return {0, 384, 82, 3840, 2160, 72, 296};
}

// One row from the values that differ between standards; the rest follows from the line class.
constexpr VModeInfoType mode(uint8_t vic, uint32_t pix_clk, uint32_t v_freq, uint32_t pixels,
                             uint32_t lines, uint32_t h_length, uint8_t v_length,
                             uint32_t h_bit_2_hsync, uint8_t v_bit_2_vsync, uint32_t field2_offset,
                             Lines line_class)
{
    const Geometry g = geometry(line_class);
    return {{vic, 0, 0},
            pix_clk,
            {g.refr_type_vh_pol, v_freq, {pixels, lines}},
            {g.pos_h, g.pos_v},
            {g.res_h, g.res_v},
            2,
            {0, h_length, v_length, g.top, g.dly, h_bit_2_hsync, v_bit_2_vsync, field2_offset},
            0,
            {0, 0, 0, 0, 0},
            15};
}

constexpr Lines L720 = Lines::L720;
constexpr Lines L1080I = Lines::L1080I;
constexpr Lines L1080P = Lines::L1080P;
constexpr Lines L2160 = Lines::L2160;

}  // namespace

// PixClk is in 10 kHz units throughout: 297 MHz is 29700 (as 297000 its low 16 bits, which are
// all the transmitter takes, would program 348.56 MHz).
// clang-format off
const VModeInfoType VModesTable[VMODES_COUNT] = {
    mode(19, 7425, 5000, 1980, 750, 40, 5, 440, 5, 0, L720),          // VID_HD_720P50
    mode(4, 7417, 5994, 1650, 750, 40, 5, 110, 5, 0, L720),           // VID_HD_720P59_94
    mode(4, 7425, 6000, 1650, 750, 40, 5, 110, 5, 0, L720),           // VID_HD_720P60
    mode(20, 7425, 5000, 2640, 1125, 44, 5, 528, 2, 1320, L1080I),    // VID_HD_1080I50
    mode(5, 7417, 5994, 2200, 562, 44, 5, 88, 2, 1100, L1080I),       // VID_HD_1080I59_94
    mode(5, 7425, 6000, 2200, 562, 44, 5, 88, 2, 1100, L1080I),       // VID_HD_1080I60
    mode(32, 7417, 2398, 2750, 1125, 44, 5, 638, 4, 0, L1080P),       // VID_HD_1080SFP23_98
    mode(32, 7425, 2400, 2750, 1125, 44, 5, 638, 4, 0, L1080P),       // VID_HD_1080SFP24
    mode(32, 7417, 2398, 2750, 1125, 44, 5, 638, 4, 0, L1080P),       // VID_HD_1080P23_98
    mode(32, 7425, 2400, 2750, 1125, 44, 5, 638, 4, 0, L1080P),       // VID_HD_1080P24
    mode(33, 7425, 2500, 2640, 1125, 44, 5, 528, 4, 0, L1080P),       // VID_HD_1080P25
    mode(34, 7417, 2997, 2200, 1125, 44, 5, 88, 4, 0, L1080P),        // VID_HD_1080P29_97
    mode(34, 7425, 3000, 2200, 1125, 44, 5, 88, 4, 0, L1080P),        // VID_HD_1080P30
    mode(31, 14850, 5000, 2640, 1125, 44, 5, 528, 4, 0, L1080P),      // VID_3G_1080P50
    mode(16, 14835, 5994, 2200, 1125, 44, 5, 88, 4, 0, L1080P),       // VID_3G_1080P59_94
    mode(16, 14850, 6000, 2200, 1125, 44, 5, 88, 4, 0, L1080P),       // VID_3G_1080P60
    mode(93, 29700, 2398, 5500, 2250, 88, 10, 1276, 8, 0, L2160),    // VID_6G_2160P23_98
    mode(93, 29700, 2400, 5500, 2250, 88, 10, 1276, 8, 0, L2160),    // VID_6G_2160P24
    mode(94, 29700, 2500, 5280, 2250, 88, 10, 1056, 8, 0, L2160),    // VID_6G_2160P25
    mode(95, 29700, 2997, 4400, 2250, 88, 10, 176, 8, 0, L2160),     // VID_6G_2160P29_97
    mode(95, 29700, 3000, 4400, 2250, 88, 10, 176, 8, 0, L2160),     // VID_6G_2160P30
};
// clang-format on

static_assert(VMODES_COUNT == VID_6G_2160P30 + 1, "one row per single-link standard");
