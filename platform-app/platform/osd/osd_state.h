#pragma once

// The OSD module's state, shared by its source files (osd_cmd.cpp owns it).

#include <cstdint>

#include "platform/osd/osd.h"

struct OsdState {
    bool head_en = false;            // a frame start has been seen
    uint32_t cmd = OSD_CMD_INVALID;  // command being assembled (0xA5 after a start)
    uint8_t num = 0;                 // bytes received after the command byte
    uint8_t extract_chn = 0;         // channel of the last standard frame
    VideoStd_Index hdmistd = VID_INVALID;
    VideoStd_Index uhdsdistd = VID_INVALID;
    VideoStd_ArgSize argsize = ARG_SIZE_1920x1080;
    bool aud_sw = false;
    OUT_COLOR_SPACE color_space = COLOR_YUV;
    uint8_t mac[OSD_MAC_BYTES] = {};
    uint8_t char_feature = 0;  // attribute nibble of the last position frame
    uint8_t x = 0, y = 0, h = 0, l = 0;
    uint8_t dir_mode = 0;  // 0 none, 1 blank, 2 arrow
};

extern OsdState g_osd;
