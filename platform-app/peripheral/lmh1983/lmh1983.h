#pragma once

// The LMH1983 clock generator and genlock reference detector.

#include <cstdint>

#include "peripheral/std/std.h"
#include "platform/i2c/i2c.h"

inline constexpr uint8_t LMH1983_ADDR = 0x65;

class Lmh1983 {
public:
    explicit Lmh1983(I2c* bus) : p(bus) {}
    virtual ~Lmh1983() = default;
    Lmh1983(const Lmh1983&) = delete;
    Lmh1983& operator=(const Lmh1983&) = delete;

    void SetLmh1983();
    // The standard of the detected reference (register 20); VID_INVALID when there is none, it
    // is not one the table knows, or the register cannot be read.
    VideoStd_Index GetLmh1983Format();

    I2c* p;
};
