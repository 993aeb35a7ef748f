#pragma once

// A recording register layer for tests of the modules above WriteRegister/ReadRegister (and
// GetMmapVirBaseAddr). The test library platform_app_recorded links it in place of the real layer
// (which maps "/dev/mem"), so a test sees every access in order and decides what reads return.

#include <cstdint>
#include <ostream>
#include <vector>

#include "platform/interconnect/interconnect.h"

namespace vantor::test {

// A wait (Delay_Ms) is logged as a read of REG_MAX with the milliseconds as its value.
struct RegisterAccess {
    bool write;  // false: a read (or a wait)
    InterConnectRegList reg;
    uint32_t value;  // written, returned by the read, or the wait in ms

    bool operator==(const RegisterAccess& other) const
    {
        return write == other.write && reg == other.reg && value == other.value;
    }
};

// Readable failure messages: "W HDMI_REG_STD = 3".
inline void PrintTo(const RegisterAccess& access, std::ostream* os)
{
    if (access.reg == REG_MAX && !access.write) {
        *os << "WAIT " << access.value << " ms";
        return;
    }
    *os << (access.write ? "W " : "R ") << InterConnectRegName(access.reg) << " = " << access.value;
}

inline RegisterAccess Wait(uint32_t ms)
{
    return {false, REG_MAX, ms};
}

// The recording layer's state. Registers behave as plain storage: a read returns the last value
// written or set, 0 at first.
class RecordingRegisters {
public:
    // Forgets the log and sets every register to 0.
    static void reset();
    // Sets what reads of `reg` return, without logging a write.
    static void set(InterConnectRegList reg, uint32_t value);
    // Every access since reset(), in order.
    static std::vector<RegisterAccess> log();
    // Only the writes, as (register, value).
    static std::vector<RegisterAccess> writes();
    // The writes and the waits, in order.
    static std::vector<RegisterAccess> writes_and_waits();
    // The OSD memory window that GetMmapVirBaseAddr(GP0_M_BASE_ADDR) hands out (the other
    // windows read as unmapped).
    static uint8_t* osd_window();
    // Logs a wait (called by the recording Delay_Ms).
    static void note_wait(uint32_t ms);
};

}  // namespace vantor::test
