#include "support/instant_sleep.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <ctime>

namespace vantor::fuzz {
thread_local bool g_sleep_is_instant = false;
}  // namespace vantor::fuzz

// The C library names its parameters with reserved identifiers.
// NOLINTNEXTLINE(readability-inconsistent-declaration-parameter-name)
extern "C" int nanosleep(const struct timespec* request, struct timespec* remaining)
{
    if (!vantor::fuzz::g_sleep_is_instant) {
        return static_cast<int>(::syscall(SYS_nanosleep, request, remaining));
    }
    if (remaining != nullptr) {
        remaining->tv_sec = 0;
        remaining->tv_nsec = 0;
    }
    return 0;
}
