#include "wall_clock.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

namespace vantor::ndi {

namespace {

constexpr std::int64_t kUnitsPerSecond = 10'000'000;
constexpr std::int64_t kNanosecondsPerUnit = 100;

bool read_with_time_t(WallTime& time)
{
    timespec now{};
    if (::clock_gettime(CLOCK_REALTIME, &now) != 0) {
        return false;
    }
    time = {static_cast<std::int64_t>(now.tv_sec), static_cast<std::int64_t>(now.tv_nsec)};
    return true;
}

}  // namespace

std::int64_t to_100ns(WallTime time)
{
    return time.seconds * kUnitsPerSecond + time.nanoseconds / kNanosecondsPerUnit;
}

bool read_wall_clock(WallTime& time)
{
#if defined(SYS_clock_gettime64)
    if constexpr (sizeof(time_t) < sizeof(std::int64_t)) {
        // The kernel's own 64-bit layout (struct __kernel_timespec).
        struct {
            std::int64_t tv_sec;
            std::int64_t tv_nsec;
        } now{};
        if (::syscall(SYS_clock_gettime64, CLOCK_REALTIME, &now) == 0) {
            time = {now.tv_sec, now.tv_nsec};
            return true;
        }
        if (errno != ENOSYS) {
            return false;
        }
        // A kernel older than 5.1: only the 32-bit call exists.
    }
#endif
    return read_with_time_t(time);
}

}  // namespace vantor::ndi
