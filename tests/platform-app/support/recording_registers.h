#pragma once

// A recording register layer for tests of the modules above WriteRegister/ReadRegister. The test
// library platform_app_recorded links it in place of the real layer (which maps "/dev/mem"), so a
// test sees every access in order and decides what reads return.

#include <cstdint>
#include <ostream>
#include <vector>

#include "platform/interconnect/interconnect.h"

namespace vantor::test {

struct RegisterAccess {
    bool write;  // false: a read
    InterConnectRegList reg;
    uint32_t value;  // written, or returned by the read

    bool operator==(const RegisterAccess& other) const
    {
        return write == other.write && reg == other.reg && value == other.value;
    }
};

// Readable failure messages: "W HDMI_REG_STD = 3".
inline void PrintTo(const RegisterAccess& access, std::ostream* os)
{
    *os << (access.write ? "W " : "R ") << InterConnectRegName(access.reg) << " = " << access.value;
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
};

}  // namespace vantor::test
