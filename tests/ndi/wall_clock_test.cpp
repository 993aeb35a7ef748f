// The NDI timecode clock: 64-bit arithmetic from the clock's seconds and nanoseconds, right past
// 2038-01-19 on a 32-bit target, and a reading that agrees with the C library's clock.

#include <cstdint>
#include <ctime>

#include <gtest/gtest.h>

#include "wall_clock.h"

namespace {

using vantor::ndi::read_wall_clock;
using vantor::ndi::to_100ns;
using vantor::ndi::WallTime;

TEST(NdiWallClock, HundredNanosecondUnitsPast2038)
{
    struct Case {
        const char* when;
        WallTime time;
        std::int64_t expected;
    };
    const Case cases[] = {
        {"2038-01-19T03:14:07.9999999Z, the last second of a 32-bit time_t",
         {2147483647, 999999999},
         21474836479999999},
        {"2038-01-19T03:14:08Z, one second later", {2147483648, 0}, 21474836480000000},
        {"2040-01-01T00:00:00.1234567Z", {2208988800, 123456789}, 22089888001234567},
        {"2106-02-07T06:28:16Z, past an unsigned 32-bit count",
         {4294967296, 50},
         42949672960000000},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(to_100ns(c.time), c.expected) << c.when;
    }
}

TEST(NdiWallClock, ReadingAgreesWithTheCLibrary)
{
    WallTime now;
    const std::time_t before = std::time(nullptr);
    ASSERT_TRUE(read_wall_clock(now));
    const std::time_t after = std::time(nullptr);
    EXPECT_GE(now.seconds, static_cast<std::int64_t>(before));
    EXPECT_LE(now.seconds, static_cast<std::int64_t>(after));
    EXPECT_GE(now.nanoseconds, 0);
    EXPECT_LT(now.nanoseconds, 1'000'000'000);
}

}  // namespace
