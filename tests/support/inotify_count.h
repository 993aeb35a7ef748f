#pragma once

#include <sys/inotify.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

namespace vantor::test {

// Reads every event waiting on the non-blocking inotify descriptor `fd`; how many of them carry a
// bit of `mask`.
inline int count_inotify_events(int fd, std::uint32_t mask)
{
    int count = 0;
    char events[4096];
    ssize_t n = 0;
    while ((n = ::read(fd, events, sizeof events)) > 0) {
        for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
            // Copied out: the records follow each other without alignment on the target.
            inotify_event event = {};
            std::memcpy(&event, events + at, sizeof event);
            count += (event.mask & mask) != 0 ? 1 : 0;
            at += static_cast<ssize_t>(sizeof(inotify_event) + event.len);
        }
    }
    return count;
}

}  // namespace vantor::test
