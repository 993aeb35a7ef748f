#pragma once

// The catalogue of video standards the daemon knows: the standard index, its timing table and the
// frame-buffer pairing table (which standard the frame-buffer writer receives for each output
// standard). Both tables are constant data checked at compile time (std.cpp).

#include <cstdint>

enum VideoStd_Index : uint32_t {
    VID_HD_720P50 = 0,
    VID_HD_720P59_94 = 1,
    VID_HD_720P60 = 2,
    VID_HD_1080I50 = 3,
    VID_HD_1080I59_94 = 4,
    VID_HD_1080I60 = 5,
    VID_HD_1080SFP23_98 = 6,
    VID_HD_1080SFP24 = 7,
    VID_HD_1080P23_98 = 8,
    VID_HD_1080P24 = 9,
    VID_HD_1080P25 = 10,
    VID_HD_1080P29_97 = 11,
    VID_HD_1080P30 = 12,
    VID_3G_1080P50 = 13,
    VID_3G_1080P59_94 = 14,
    VID_3G_1080P60 = 15,
    VID_6G_2160P23_98 = 16,
    VID_6G_2160P24 = 17,
    VID_6G_2160P25 = 18,
    VID_6G_2160P29_97 = 19,
    VID_6G_2160P30 = 20,
    VID_DL3G_2160P23_98 = 21,
    VID_DL3G_2160P24 = 22,
    VID_DL3G_2160P25 = 23,
    VID_DL3G_2160P29_97 = 24,
    VID_DL3G_2160P30 = 25,
    VID_INVALID = 255,
};

// Number of known standards: the rows of StdFormat_Info and Std_IO_Info.
inline constexpr uint32_t VID_STD_COUNT = 26;

// Index thresholds other modules rely on: above 2 a standard has 1080 or 2160 lines, above 15 it is
// a 2160-line (4K) standard.
inline constexpr uint32_t VID_LAST_720_LINE = VID_HD_720P60;
inline constexpr uint32_t VID_LAST_1080_LINE = VID_3G_1080P60;

enum VideoStd_ArgColor : uint32_t { RGB888 = 0, YUV888 = 1, YUV422 = 2, YUV420 = 3 };

enum VideoStd_ArgSize : uint32_t {
    ARG_SIZE_3840x2160 = 0,
    ARG_SIZE_1920x1080 = 1,
    ARG_SIZE_1280x720 = 2,
};

enum VideoStd_ArgRate : uint32_t {
    ARG_RATE_23_98FPS = 0,
    ARG_RATE_24FPS = 1,
    ARG_RATE_25FPS = 2,
    ARG_RATE_29_97FPS = 3,
    ARG_RATE_30FPS = 4,
    ARG_RATE_50FPS = 5,
    ARG_RATE_59_94FPS = 6,
    ARG_RATE_60FPS = 7,
};

enum VideoStd_ArgScan : uint32_t { ARG_SCAN_P = 0, ARG_SCAN_I = 1 };

// SDI link mode.
enum VideoStd_ArgMode : uint32_t {
    ARG_MODE_HD = 0,
    ARG_MODE_3G = 1,
    ARG_MODE_6G = 2,
    ARG_MODE_12G = 3,
    ARG_MODE_DL3G = 4,  // dual-link 3G
    ARG_MODE_DL6G = 5,
};

// Pixel-clock family for the clock wizard.
enum VideoStd_ArgFreq : uint32_t {
    ARG_FREQ_74M25 = 0,  // 74.25 MHz
    ARG_FREQ_148M5 = 1,  // 148.5 MHz
    ARG_FREQ_297M = 2,   // 297 MHz
};

enum VideoStd_ArgFrac : uint32_t {
    ARG_FRAC_DIS = 0,  // integer rate
    ARG_FRAC_EN = 1,   // rate x 1000/1001
};

// Timing of one standard. Vertical counts are lines of the first field (or the frame); the extra_
// counts are the second field of an interlaced standard and 0 for progressive ones.
struct Video_StdFormat_Info {
    VideoStd_Index index;
    uint16_t h_fp;
    uint16_t h_sync;
    uint16_t h_bp;
    uint16_t h_active;
    uint16_t h_total;
    uint16_t v_sync;
    uint16_t v_bp;
    uint16_t v_active;
    uint16_t v_fp;
    uint16_t extra_v_sync;
    uint16_t extra_v_bp;
    uint16_t extra_v_active;
    uint16_t extra_v_fp;
    uint16_t v_total;
    VideoStd_ArgColor color;
    VideoStd_ArgSize size_id;
    VideoStd_ArgRate rate_id;
    VideoStd_ArgScan scan_id;
    VideoStd_ArgMode mode_id;
    VideoStd_ArgFreq freq_id;
    VideoStd_ArgFrac frac_id;
};

// Frame-buffer pairing for one output standard.
struct Video_Std_IO {
    VideoStd_Index std_o;   // output standard
    VideoStd_Index std_i;   // standard the frame-buffer writer receives
    uint8_t fb_index;       // frame-buffer index register value
    uint32_t fb_init_line;  // initial line register value
};

// Row n describes standard n.
extern const Video_StdFormat_Info StdFormat_Info[VID_STD_COUNT];
// Row n pairs output standard n with its writer's standard.
extern const Video_Std_IO Std_IO_Info[VID_STD_COUNT];

// True for the 26 standards of the tables; false for VID_INVALID and any other value.
constexpr bool VideoStd_IsValid(uint32_t std)
{
    return std < VID_STD_COUNT;
}

// Lines of a frame (1080 for 1080i as well as 1080p) and bytes of one line in YUV 4:2:2.
constexpr uint32_t VideoStd_Lines(const Video_StdFormat_Info& info)
{
    return static_cast<uint32_t>(info.v_active) + info.extra_v_active;
}
constexpr uint32_t VideoStd_LineBytes(const Video_StdFormat_Info& info)
{
    return static_cast<uint32_t>(info.h_active) * 2U;
}

// Guard for the functions that index the tables by a standard: true for a known standard; for any
// other value prints "ERR: <who>: video standard <n> is not a known standard, nothing changed" and
// returns false, so the caller leaves the hardware as it is.
bool VideoStd_Check(const char* who, uint32_t std);
