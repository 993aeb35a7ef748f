#pragma once

// The DS10CP clock crosspoint switch.

#include <cstdint>

#include "platform/i2c/i2c.h"

inline constexpr uint8_t DS10CP_DEV_ADDR = 0xA0 >> 1;

enum Clk_Mode : uint8_t {
    HDMI_INT_SDI_SYNC = 0xB4,
    HDMI_INT_SDI_ASYNC = 0xBB,
    HDMI_FRAC_SDI_SYNC = 0xE4,
    HDMI_FRAC_SDI_ASYNC = 0xEE,
};

class Ds10Cp {
public:
    explicit Ds10Cp(I2c* bus) : p(bus) {}

    // Writes the routing, reads it back and prints "SetDs10Cp = 0x<value>" (or, when the read
    // fails, "ERR: SetDs10Cp: read back failed").
    void SetDs10Cp(Clk_Mode mode);

    I2c* p;
};
