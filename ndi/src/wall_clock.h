#pragma once

#include <cstdint>

namespace vantor::ndi {

// A wall-clock reading as seconds and nanoseconds since 1970 (UTC), 64 bits wide whatever the
// width of time_t.
struct WallTime {
    std::int64_t seconds = 0;
    std::int64_t nanoseconds = 0;
};

// The same instant in 100 ns units since 1970, the unit of NDI timecodes and timestamps.
std::int64_t to_100ns(WallTime time);

// Reads the real-time clock; false when the kernel cannot give it. On a 32-bit time_t build this
// asks the kernel's 64-bit clock call directly, so readings past 2038-01-19 stay right even there
// (the C library's and the C++ runtime's 32-bit clock calls fail past that second).
bool read_wall_clock(WallTime& time);

}  // namespace vantor::ndi
