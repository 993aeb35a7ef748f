#include "peripheral/std/std.h"

#include <cstdio>

// Columns: index; h_fp, h_sync, h_bp, h_active, h_total; v_sync, v_bp, v_active, v_fp;
// extra_v_sync, extra_v_bp, extra_v_active, extra_v_fp; v_total; color, size, rate, scan, mode,
// freq, frac.
// clang-format off
constexpr Video_StdFormat_Info StdFormat_Info[VID_STD_COUNT] = {
    {VID_HD_720P50, 440, 40, 220, 1280, 1980, 5, 20, 720, 5, 0, 0, 0, 0, 750, YUV422, ARG_SIZE_1280x720, ARG_RATE_50FPS, ARG_SCAN_P, ARG_MODE_HD, ARG_FREQ_74M25, ARG_FRAC_DIS},
    {VID_HD_720P59_94, 110, 40, 220, 1280, 1650, 5, 20, 720, 5, 0, 0, 0, 0, 750, YUV422, ARG_SIZE_1280x720, ARG_RATE_59_94FPS, ARG_SCAN_P, ARG_MODE_HD, ARG_FREQ_74M25, ARG_FRAC_EN},
    {VID_HD_720P60, 110, 40, 220, 1280, 1650, 5, 20, 720, 5, 0, 0, 0, 0, 750, YUV422, ARG_SIZE_1280x720, ARG_RATE_60FPS, ARG_SCAN_P, ARG_MODE_HD, ARG_FREQ_74M25, ARG_FRAC_DIS},
    {VID_HD_1080I50, 528, 44, 148, 1920, 2640, 5, 15, 540, 3, 5, 15, 540, 2, 1125, YUV422, ARG_SIZE_1920x1080, ARG_RATE_50FPS, ARG_SCAN_I, ARG_MODE_HD, ARG_FREQ_74M25, ARG_FRAC_DIS},
    {VID_HD_1080I59_94, 88, 44, 148, 1920, 2200, 5, 15, 540, 3, 5, 15, 540, 2, 1125, YUV422, ARG_SIZE_1920x1080, ARG_RATE_59_94FPS, ARG_SCAN_I, ARG_MODE_HD, ARG_FREQ_74M25, ARG_FRAC_EN},
    {VID_HD_1080I60, 88, 44, 148, 1920, 2200, 5, 15, 540, 3, 5, 15, 540, 2, 1125, YUV422, ARG_SIZE_1920x1080, ARG_RATE_60FPS, ARG_SCAN_I, ARG_MODE_HD, ARG_FREQ_74M25, ARG_FRAC_DIS},
    {VID_HD_1080SFP23_98, 638, 44, 148, 1920, 2750, 5, 36, 1080, 4, 0, 0, 0, 0, 1125, YUV422, ARG_SIZE_1920x1080, ARG_RATE_23_98FPS, ARG_SCAN_P, ARG_MODE_HD, ARG_FREQ_74M25, ARG_FRAC_EN},
    {VID_HD_1080SFP24, 638, 44, 148, 1920, 2750, 5, 36, 1080, 4, 0, 0, 0, 0, 1125, YUV422, ARG_SIZE_1920x1080, ARG_RATE_24FPS, ARG_SCAN_P, ARG_MODE_HD, ARG_FREQ_74M25, ARG_FRAC_DIS},
    {VID_HD_1080P23_98, 638, 44, 148, 1920, 2750, 5, 36, 1080, 4, 0, 0, 0, 0, 1125, YUV422, ARG_SIZE_1920x1080, ARG_RATE_23_98FPS, ARG_SCAN_P, ARG_MODE_HD, ARG_FREQ_74M25, ARG_FRAC_EN},
    {VID_HD_1080P24, 638, 44, 148, 1920, 2750, 5, 36, 1080, 4, 0, 0, 0, 0, 1125, YUV422, ARG_SIZE_1920x1080, ARG_RATE_24FPS, ARG_SCAN_P, ARG_MODE_HD, ARG_FREQ_74M25, ARG_FRAC_DIS},
    {VID_HD_1080P25, 528, 44, 148, 1920, 2640, 5, 36, 1080, 4, 0, 0, 0, 0, 1125, YUV422, ARG_SIZE_1920x1080, ARG_RATE_25FPS, ARG_SCAN_P, ARG_MODE_HD, ARG_FREQ_74M25, ARG_FRAC_DIS},
    {VID_HD_1080P29_97, 88, 44, 148, 1920, 2200, 5, 36, 1080, 4, 0, 0, 0, 0, 1125, YUV422, ARG_SIZE_1920x1080, ARG_RATE_29_97FPS, ARG_SCAN_P, ARG_MODE_HD, ARG_FREQ_74M25, ARG_FRAC_EN},
    {VID_HD_1080P30, 88, 44, 148, 1920, 2200, 5, 36, 1080, 4, 0, 0, 0, 0, 1125, YUV422, ARG_SIZE_1920x1080, ARG_RATE_30FPS, ARG_SCAN_P, ARG_MODE_HD, ARG_FREQ_74M25, ARG_FRAC_DIS},
    {VID_3G_1080P50, 528, 44, 148, 1920, 2640, 5, 36, 1080, 4, 0, 0, 0, 0, 1125, YUV422, ARG_SIZE_1920x1080, ARG_RATE_50FPS, ARG_SCAN_P, ARG_MODE_3G, ARG_FREQ_148M5, ARG_FRAC_DIS},
    {VID_3G_1080P59_94, 88, 44, 148, 1920, 2200, 5, 36, 1080, 4, 0, 0, 0, 0, 1125, YUV422, ARG_SIZE_1920x1080, ARG_RATE_59_94FPS, ARG_SCAN_P, ARG_MODE_3G, ARG_FREQ_148M5, ARG_FRAC_EN},
    {VID_3G_1080P60, 88, 44, 148, 1920, 2200, 5, 36, 1080, 4, 0, 0, 0, 0, 1125, YUV422, ARG_SIZE_1920x1080, ARG_RATE_60FPS, ARG_SCAN_P, ARG_MODE_3G, ARG_FREQ_148M5, ARG_FRAC_DIS},
    {VID_6G_2160P23_98, 1276, 88, 296, 3840, 5500, 10, 72, 2160, 8, 0, 0, 0, 0, 2250, YUV422, ARG_SIZE_3840x2160, ARG_RATE_23_98FPS, ARG_SCAN_P, ARG_MODE_6G, ARG_FREQ_297M, ARG_FRAC_EN},
    {VID_6G_2160P24, 1276, 88, 296, 3840, 5500, 10, 72, 2160, 8, 0, 0, 0, 0, 2250, YUV422, ARG_SIZE_3840x2160, ARG_RATE_24FPS, ARG_SCAN_P, ARG_MODE_6G, ARG_FREQ_297M, ARG_FRAC_DIS},
    {VID_6G_2160P25, 1056, 88, 296, 3840, 5280, 10, 72, 2160, 8, 0, 0, 0, 0, 2250, YUV422, ARG_SIZE_3840x2160, ARG_RATE_25FPS, ARG_SCAN_P, ARG_MODE_6G, ARG_FREQ_297M, ARG_FRAC_DIS},
    {VID_6G_2160P29_97, 176, 88, 296, 3840, 4400, 10, 72, 2160, 8, 0, 0, 0, 0, 2250, YUV422, ARG_SIZE_3840x2160, ARG_RATE_29_97FPS, ARG_SCAN_P, ARG_MODE_6G, ARG_FREQ_297M, ARG_FRAC_EN},
    {VID_6G_2160P30, 176, 88, 296, 3840, 4400, 10, 72, 2160, 8, 0, 0, 0, 0, 2250, YUV422, ARG_SIZE_3840x2160, ARG_RATE_30FPS, ARG_SCAN_P, ARG_MODE_6G, ARG_FREQ_297M, ARG_FRAC_DIS},
    {VID_DL3G_2160P23_98, 1276, 88, 296, 3840, 5500, 10, 72, 2160, 8, 0, 0, 0, 0, 2250, YUV422, ARG_SIZE_3840x2160, ARG_RATE_23_98FPS, ARG_SCAN_P, ARG_MODE_DL3G, ARG_FREQ_297M, ARG_FRAC_EN},
    {VID_DL3G_2160P24, 1276, 88, 296, 3840, 5500, 10, 72, 2160, 8, 0, 0, 0, 0, 2250, YUV422, ARG_SIZE_3840x2160, ARG_RATE_24FPS, ARG_SCAN_P, ARG_MODE_DL3G, ARG_FREQ_297M, ARG_FRAC_DIS},
    {VID_DL3G_2160P25, 1056, 88, 296, 3840, 5280, 10, 72, 2160, 8, 0, 0, 0, 0, 2250, YUV422, ARG_SIZE_3840x2160, ARG_RATE_25FPS, ARG_SCAN_P, ARG_MODE_DL3G, ARG_FREQ_297M, ARG_FRAC_DIS},
    {VID_DL3G_2160P29_97, 176, 88, 296, 3840, 4400, 10, 72, 2160, 8, 0, 0, 0, 0, 2250, YUV422, ARG_SIZE_3840x2160, ARG_RATE_29_97FPS, ARG_SCAN_P, ARG_MODE_DL3G, ARG_FREQ_297M, ARG_FRAC_EN},
    {VID_DL3G_2160P30, 176, 88, 296, 3840, 4400, 10, 72, 2160, 8, 0, 0, 0, 0, 2250, YUV422, ARG_SIZE_3840x2160, ARG_RATE_30FPS, ARG_SCAN_P, ARG_MODE_DL3G, ARG_FREQ_297M, ARG_FRAC_DIS},
};
// clang-format on

// Interlaced outputs are written from the progressive standard whose frame rate equals their field
// rate, segmented-frame outputs from the progressive standard of the same rate, dual-link 3G
// outputs from the 6G standard, and every 1080-line and 2160-line output at 24, 30 or 60 Hz from
// the matching 1000/1001-rate standard; 720-line outputs are written from themselves.
// clang-format off
constexpr Video_Std_IO Std_IO_Info[VID_STD_COUNT] = {
    {VID_HD_720P50, VID_HD_720P50, 1, 0},
    {VID_HD_720P59_94, VID_HD_720P59_94, 1, 0},
    {VID_HD_720P60, VID_HD_720P60, 1, 0},
    {VID_HD_1080I50, VID_3G_1080P50, 1, 0},
    {VID_HD_1080I59_94, VID_3G_1080P59_94, 1, 0},
    {VID_HD_1080I60, VID_3G_1080P59_94, 1, 0},
    {VID_HD_1080SFP23_98, VID_HD_1080P23_98, 1, 0},
    {VID_HD_1080SFP24, VID_HD_1080P23_98, 1, 0},
    {VID_HD_1080P23_98, VID_HD_1080P23_98, 1, 0},
    {VID_HD_1080P24, VID_HD_1080P23_98, 1, 0},
    {VID_HD_1080P25, VID_HD_1080P25, 1, 0},
    {VID_HD_1080P29_97, VID_HD_1080P29_97, 1, 0},
    {VID_HD_1080P30, VID_HD_1080P29_97, 1, 0},
    {VID_3G_1080P50, VID_3G_1080P50, 1, 0},
    {VID_3G_1080P59_94, VID_3G_1080P59_94, 1, 0},
    {VID_3G_1080P60, VID_3G_1080P59_94, 1, 0},
    {VID_6G_2160P23_98, VID_6G_2160P23_98, 1, 0},
    {VID_6G_2160P24, VID_6G_2160P23_98, 1, 0},
    {VID_6G_2160P25, VID_6G_2160P25, 1, 0},
    {VID_6G_2160P29_97, VID_6G_2160P29_97, 1, 0},
    {VID_6G_2160P30, VID_6G_2160P29_97, 1, 0},
    {VID_DL3G_2160P23_98, VID_6G_2160P23_98, 1, 0},
    {VID_DL3G_2160P24, VID_6G_2160P23_98, 1, 0},
    {VID_DL3G_2160P25, VID_6G_2160P25, 1, 0},
    {VID_DL3G_2160P29_97, VID_6G_2160P29_97, 1, 0},
    {VID_DL3G_2160P30, VID_6G_2160P29_97, 1, 0},
};
// clang-format on

namespace {

constexpr bool rows_are_consistent()
{
    for (uint32_t n = 0; n < VID_STD_COUNT; ++n) {
        const Video_StdFormat_Info& row = StdFormat_Info[n];
        if (row.index != n || Std_IO_Info[n].std_o != n) {
            return false;
        }
        if (row.h_fp + row.h_sync + row.h_bp + row.h_active != row.h_total) {
            return false;
        }
        const uint32_t lines = row.v_sync + row.v_bp + row.v_active + row.v_fp + row.extra_v_sync +
                               row.extra_v_bp + row.extra_v_active + row.extra_v_fp;
        if (lines != row.v_total) {
            return false;
        }
        if (!VideoStd_IsValid(Std_IO_Info[n].std_i)) {
            return false;
        }
    }
    return true;
}

// Row n describes standard n in both tables, the porches, sync and active counts of every row add
// up to its totals, and every writer standard is itself a row of the timing table.
static_assert(rows_are_consistent(), "video standard tables are inconsistent");

// The index thresholds other modules rely on.
static_assert(StdFormat_Info[VID_LAST_720_LINE].v_active == 720 &&
                  StdFormat_Info[VID_LAST_720_LINE + 1].v_active +
                          StdFormat_Info[VID_LAST_720_LINE + 1].extra_v_active ==
                      1080,
              "standards above 2 have 1080 or 2160 lines");
static_assert(StdFormat_Info[VID_LAST_1080_LINE].v_active == 1080 &&
                  StdFormat_Info[VID_LAST_1080_LINE + 1].v_active == 2160,
              "standards above 15 have 2160 lines");

}  // namespace

bool VideoStd_Check(const char* who, uint32_t std)
{
    if (VideoStd_IsValid(std)) {
        return true;
    }
    std::printf("ERR: %s: video standard %u is not a known standard, nothing changed\n", who, std);
    return false;
}
