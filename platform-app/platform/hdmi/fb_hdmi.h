#pragma once

// The HDMI output's frame buffer: a writer stores the incoming video in one of four 16 MiB buffers,
// a reader produces the output timing. The output is either stopped (enables 0, block held in
// reset by HDMI_REG_SW_RST = 1) or running (enables 1, reset released).

#include <cstdint>

#include "peripheral/std/std.h"

// Physical addresses of the four HDMI frame buffers (the daemon never touches their contents).
inline constexpr uint32_t HDMI_FB_ADDR[4] = {0x36000000, 0x37000000, 0x38000000, 0x39000000};

// Configures and starts the HDMI frame buffer for output standard `std`, then prints the block's
// registers. A standard outside the tables (VID_INVALID included) is refused with a message and
// nothing is written.
void FB_Hdmi_Run_Reg(VideoStd_Index std);
// Stops writer and reader and holds the block in reset.
void FB_Hdmi_Stop_Reg();
// Pulses the block reset (enables unchanged) and prints the timing counters.
void FB_Hdmi_ReStart();
// Sets the HDMI and HDBaseT audio switches.
void FB_Hdmi_Set_AudSw(uint8_t sw);
// True when a display is connected (HDMI_REG_HDBASET_HPD reads exactly 1).
bool FB_Hdmi_Get_Hpd();
// Prints the pixel-clock and clock-wizard counters and their difference.
void FB_Hdmi_PrintTimer();
