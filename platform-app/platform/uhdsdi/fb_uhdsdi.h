#pragma once

// The UHD-SDI output's frame buffer, the SDI counterpart of fb_hdmi. Stopped means enables 0 and
// the SDI transceivers held in reset (UHDSDI_REG_GTXRST = 1).

#include <cstdint>

#include "peripheral/std/std.h"

// Physical addresses of the four UHD-SDI frame buffers.
inline constexpr uint32_t UHDSDI_FB_ADDR[4] = {0x3A000000, 0x3B000000, 0x3C000000, 0x3D000000};

// UHDSDI_REG_UHDSDI_STATUS: one byte per channel (channel 0 in bits 7 to 0, 1 in 15 to 8, 2 in 23
// to 16). Within each byte:
inline constexpr uint32_t UHDSDI_STATUS_LOCKED = 1U << 7;      // SDI locked
inline constexpr uint32_t UHDSDI_STATUS_FABRIC_RST = 1U << 6;  // transmitter fabric reset
inline constexpr uint32_t UHDSDI_STATUS_PLL_RST = 1U << 5;     // transmitter PLL reset
inline constexpr uint32_t UHDSDI_STATUS_FAIL_CODE_SHIFT = 2;   // bits 4 to 2: failure code
inline constexpr uint32_t UHDSDI_STATUS_FAIL_CODE_MASK = 7U << 2;
inline constexpr uint32_t UHDSDI_STATUS_CHANGE_FAIL = 1U << 1;  // transmitter change failed
inline constexpr uint32_t UHDSDI_STATUS_CHANGE_DONE = 1U << 0;  // transmitter change done
inline constexpr uint32_t UHDSDI_STATUS_CHANNELS = 3;

// Configures and starts the UHD-SDI frame buffer for output standard `std`, then prints the
// block's registers. A standard outside the tables is refused with a message, nothing written.
void FB_UhdSdi_Run_Reg(VideoStd_Index std);
// Stops writer and reader and holds the SDI transceivers in reset.
void FB_UhdSdi_Stop_Reg();
// Pulses the SDI transceiver reset.
void FB_UhdSdi_ReStart();
// Enables (1) or disables (0) SDI embedded audio.
void FB_UhdSdi_Set_AudSw(uint8_t sw);
// True when all three SDI channels are locked.
bool FB_UhdSdi_Get_Status();
// Pulses the SDI transceiver reset and prints the block's registers and channel 0's status fields
// (diagnostic; the daemon's loops do not call it).
void FB_UhdSdi_Set_GtxRst();
