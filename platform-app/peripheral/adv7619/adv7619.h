#pragma once

// The ADV7619 HDMI receiver. Its register maps answer at their own bus addresses; the IO map
// places the others (registers F4 to FD) at the addresses below, given here in the 7-bit form.

#include <chrono>
#include <cstdint>

#include "peripheral/std/std.h"
#include "platform/i2c/i2c.h"

inline constexpr uint8_t ADV761X_IO = 0x98 >> 1;
inline constexpr uint8_t ADV761X_CEC = 0x80 >> 1;
inline constexpr uint8_t ADV761X_INF = 0x7C >> 1;
inline constexpr uint8_t ADV761X_DPLL = 0x4C >> 1;
inline constexpr uint8_t ADV761X_KSV = 0x64 >> 1;
inline constexpr uint8_t ADV761X_EDID = 0x6C >> 1;
inline constexpr uint8_t ADV761X_HDMI = 0x68 >> 1;
inline constexpr uint8_t ADV761X_CP = 0x44 >> 1;

enum Adv761X_Resolution : uint32_t { ADV761X_4K = 0, ADV761X_2K = 1 };

// The wait for the chip reset to finish (the IO map's reset register FF reading 0): at most
// ADV761X_RESET_POLLS reads and ADV761X_RESET_WAIT of time, and it ends at the first failed read
// (a hung bus answers each read only after its time-out).
inline constexpr uint32_t ADV761X_RESET_POLLS = 100;
inline constexpr std::chrono::milliseconds ADV761X_RESET_WAIT{100};

class Adv7619 {
public:
    explicit Adv7619(I2c* bus) : p(bus) {}

    // Programs the receiver for input standard `std`: the 1080-line sequence for standards up to
    // 15, the 2160-line sequence for 16 to 25. Any other value is refused with a message and
    // nothing is sent. Bus failures are printed by I2c; the sequence goes on.
    void SetAdv7619(VideoStd_Index std);

    I2c* p;
};
