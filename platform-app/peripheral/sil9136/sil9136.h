#pragma once

// The SiI9136-3 HDMI transmitter, programmed through its TPI register page. Its reset line is a
// GPIO owned by the caller.

#include <cstdint>

#include "peripheral/sil9136/out_color_space.h"
#include "platform/gpio/gpio.h"
#include "platform/i2c/i2c.h"

inline constexpr uint8_t SIL9136_TPI_ADDR = 0x76 >> 1;
inline constexpr unsigned SIL9136_RESET_PIN = 51;

class Sil9136_3 {
public:
    // `reset` may be null (no reset line: the pulse is skipped).
    Sil9136_3(I2c* bus, Gpio* reset) : p(bus), rst(reset) {}

    // Resets and programs the transmitter for HDMI standard `std` in colour space `space`;
    // returns 1. The dual-link standards (21 to 25) carry the same 2160-line picture as their
    // 6G counterparts (16 to 20) and are programmed with those timings. Any other value is
    // refused with a message: nothing is sent and 0 is returned.
    int SetSil9136_3(unsigned std, OUT_COLOR_SPACE space);
    // True when a display is connected and the link is up (status register 40: bits 7 and 6
    // both set). A failed status read reports false, so the watchdog treats the output as lost.
    bool GetSil9136_3_Debug();

    I2c* p;
    Gpio* rst;
    int Curr_VIC = 20;
};
