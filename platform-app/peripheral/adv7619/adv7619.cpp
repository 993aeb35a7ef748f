#include "peripheral/adv7619/adv7619.h"

#include <chrono>
#include <cstdio>

#include "platform/delay/delay.h"

namespace {

enum class Step : uint8_t {
    WRITE,       // reg = value
    WAIT_MS,     // value milliseconds
    CLEAR_BITS,  // read reg, clear the bits of value, write back
    SET_BITS,    // read reg, set the bits of value, write back
    POLL_ZERO,   // read reg until it reads 0 (bounded)
};

struct AdvStep {
    Step step;
    uint8_t dev;
    uint8_t reg;
    uint8_t value;
};

constexpr uint8_t IO = ADV761X_IO;
constexpr uint8_t HD = ADV761X_HDMI;
constexpr uint8_t DP = ADV761X_DPLL;
constexpr uint8_t CP = ADV761X_CP;
constexpr uint8_t KS = ADV761X_KSV;
constexpr uint8_t IF = ADV761X_INF;
constexpr Step W = Step::WRITE;

// clang-format off
// Chip reset, then 5 ms for it to start.
constexpr AdvStep kReset[] = {{W, IO, 0xFF, 0x80}, {Step::WAIT_MS, 0, 0, 5}};
// The 1080-line sequence also waits for the reset to finish.
constexpr AdvStep kAwaitReset[] = {{Step::POLL_ZERO, IO, 0xFF, 0}};
// The other maps placed at their 8-bit addresses.
constexpr AdvStep kPlaceMaps[] = {
    {W, IO, 0xF4, 0x80}, {W, IO, 0xF5, 0x7C}, {W, IO, 0xF8, 0x4C}, {W, IO, 0xF9, 0x64},
    {W, IO, 0xFA, 0x6C}, {W, IO, 0xFB, 0x68}, {W, IO, 0xFD, 0x44},
};
// After the placement.
constexpr AdvStep k2160Lines[] = {
    {W, HD, 0xC0, 0x03},
    {W, IO, 0x00, 0x19}, {W, IO, 0x01, 0x05}, {W, IO, 0x02, 0x20}, {W, IO, 0x03, 0x94},
    {Step::CLEAR_BITS, IO, 0x04, 0x06},
    {W, IO, 0x05, 0x28}, {W, IO, 0x06, 0xA0}, {W, IO, 0x0C, 0x42}, {W, IO, 0x15, 0x80},
    {W, IO, 0x19, 0x83}, {W, IO, 0x33, 0x40}, {W, IO, 0xDD, 0x00}, {W, IO, 0xE7, 0x04},
    {W, DP, 0xB5, 0x01}, {W, DP, 0xC3, 0x80}, {W, DP, 0xCF, 0x03}, {W, DP, 0xDB, 0x80},
    {W, HD, 0xC0, 0x03}, {W, HD, 0x00, 0x08}, {W, HD, 0x02, 0x03}, {W, HD, 0x03, 0x98},
    {W, HD, 0x10, 0xA5}, {W, HD, 0x1B, 0x00}, {W, HD, 0x45, 0x04}, {W, HD, 0x97, 0xC0},
    {W, HD, 0x3E, 0x69}, {W, HD, 0x3F, 0x46}, {W, HD, 0x4E, 0xFE}, {W, HD, 0x4F, 0x08},
    {W, HD, 0x50, 0x00}, {W, HD, 0x57, 0xA3}, {W, HD, 0x58, 0x07}, {W, HD, 0x6F, 0x08},
    {W, HD, 0x83, 0xFC}, {W, HD, 0x84, 0x03}, {W, HD, 0x85, 0x10}, {W, HD, 0x86, 0x9B},
    {W, HD, 0x89, 0x03}, {W, HD, 0x9B, 0x03}, {W, HD, 0x93, 0x03}, {W, HD, 0x5A, 0x80},
    {W, HD, 0x9C, 0x80}, {W, HD, 0x9C, 0xC0}, {W, HD, 0x9C, 0x00},
};

constexpr AdvStep k1080Lines[] = {
    {W, HD, 0xC0, 0x03},
    {W, IO, 0x00, 0x1E}, {W, IO, 0x01, 0x05}, {W, IO, 0x02, 0x25}, {W, IO, 0x03, 0x80},
    {Step::CLEAR_BITS, IO, 0x04, 0x06},
    {W, IO, 0x05, 0x28}, {W, IO, 0x06, 0xA6}, {W, IO, 0x0C, 0x42}, {W, IO, 0x15, 0x80},
    {Step::SET_BITS, IO, 0x14, 0x3F},
    {W, IO, 0x19, 0x83}, {W, IO, 0x33, 0x40},
    {W, CP, 0xBA, 0x01}, {W, CP, 0x6C, 0x00}, {W, KS, 0x40, 0x81}, {W, DP, 0xB5, 0x01},
    {W, HD, 0xC0, 0x03}, {W, HD, 0x00, 0x08}, {W, HD, 0x02, 0x03}, {W, HD, 0x03, 0x98},
    {W, HD, 0x10, 0xA5}, {W, HD, 0x1B, 0x00}, {W, HD, 0x45, 0x04}, {W, HD, 0x97, 0xC0},
    {W, HD, 0x3D, 0x10}, {W, HD, 0x3E, 0x69}, {W, HD, 0x3F, 0x46}, {W, HD, 0x4E, 0xFE},
    {W, HD, 0x4F, 0x08}, {W, HD, 0x50, 0x00}, {W, HD, 0x57, 0xA3}, {W, HD, 0x58, 0x07},
    {W, HD, 0x6F, 0x08}, {W, HD, 0x83, 0xFC}, {W, HD, 0x84, 0x03}, {W, HD, 0x85, 0x10},
    {W, HD, 0x86, 0x9B}, {W, HD, 0x89, 0x03}, {W, HD, 0x9B, 0x03}, {W, HD, 0x93, 0x03},
    {W, HD, 0x5A, 0x80}, {W, HD, 0x9C, 0x80}, {W, HD, 0x9C, 0xC0}, {W, HD, 0x9C, 0x00},
    {W, IF, 0x01, 0x00}, {W, IF, 0x02, 0x18}, {W, IF, 0x03, 0x00}, {W, IF, 0x15, 0x01},
    {W, IF, 0x16, 0xED}, {W, IF, 0x18, 0x46}, {W, IF, 0x3B, 0x80}, {W, IF, 0x40, 0x80},
    {W, IF, 0x41, 0x10}, {W, IF, 0x48, 0x08}, {W, IF, 0x49, 0xA8}, {W, IF, 0x4C, 0x04},
    {W, IF, 0x55, 0x20}, {W, IF, 0x56, 0x08}, {W, IF, 0x96, 0x20}, {W, IF, 0x98, 0x03},
    {W, IF, 0x99, 0x02}, {W, IF, 0x9C, 0x30}, {W, IF, 0x9D, 0x61}, {W, IF, 0xA2, 0xA4},
    {W, IF, 0xA3, 0xA4}, {W, IF, 0xAF, 0x16}, {W, IF, 0xBA, 0x60}, {W, IF, 0xDE, 0x9C},
    {W, IF, 0xE4, 0x60}, {W, IF, 0xFA, 0x7D},
};
// clang-format on

void poll_reset(I2c& bus, const AdvStep& s)
{
    const auto deadline = std::chrono::steady_clock::now() + ADV761X_RESET_WAIT;
    for (uint32_t n = 0; n < ADV761X_RESET_POLLS && std::chrono::steady_clock::now() < deadline;
         ++n) {
        uint8_t value = 0xFF;
        if (!bus.ReadByte(s.dev, s.reg, value)) {
            std::puts("ERR: SetAdv7619: reset register unreadable, going on");
            return;
        }
        if (value == 0) {
            return;
        }
    }
    std::puts("ERR: SetAdv7619: reset not finished, going on");
}

void run_step(I2c& bus, const AdvStep& s)
{
    uint8_t value = 0;
    switch (s.step) {
    case Step::WRITE:
        (void)bus.WriteByte(s.dev, s.reg, s.value);
        break;
    case Step::WAIT_MS:
        Delay_Ms(s.value);
        break;
    case Step::CLEAR_BITS:
    case Step::SET_BITS:
        // A register that cannot be read is left alone: writing back a guess would change bits
        // the sequence means to keep.
        if (bus.ReadByte(s.dev, s.reg, value)) {
            value = s.step == Step::SET_BITS ? static_cast<uint8_t>(value | s.value)
                                             : static_cast<uint8_t>(value & ~s.value);
            (void)bus.WriteByte(s.dev, s.reg, value);
        }
        break;
    case Step::POLL_ZERO:
        poll_reset(bus, s);
        break;
    }
}

template <size_t N> void run_sequence(I2c& bus, const AdvStep (&steps)[N])
{
    for (const AdvStep& s : steps) {
        run_step(bus, s);
    }
}

}  // namespace

void Adv7619::SetAdv7619(VideoStd_Index std)
{
    if (!VideoStd_Check("SetAdv7619", std)) {
        return;
    }
    std::puts("SetAdv7619 Begin");
    const bool lines_2160 = std > VID_LAST_1080_LINE;
    run_sequence(*p, kReset);
    if (!lines_2160) {
        run_sequence(*p, kAwaitReset);
    }
    run_sequence(*p, kPlaceMaps);
    if (lines_2160) {
        run_sequence(*p, k2160Lines);
    } else {
        run_sequence(*p, k1080Lines);
    }
    std::puts("SetAdv7619 Done");
}
