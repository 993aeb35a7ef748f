#include "camcontrol/voip_receive_loop.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "camcontrol/voip_socket.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kReceiveTimeout = std::chrono::milliseconds(50);

// Receives one datagram; `age` is how long it waited in the socket (the kernel's receive time
// stamp against the clock now), zero when the time stamp is missing.
int receive(const voip_receiver& r, std::chrono::nanoseconds& age)
{
    iovec data = {r.buffer, static_cast<std::size_t>(r.buffer_size)};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))] = {};
    msghdr message = {};
    message.msg_name = r.client;
    message.msg_namelen = sizeof(sockaddr_in);
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof(control);
    const ssize_t n = ::recvmsg(r.sockfd, &message, 0);
    *r.client_len = message.msg_namelen;
    age = std::chrono::nanoseconds(0);
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); n > 0 && c != nullptr;
         c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
            timespec stamp = {};
            timespec now = {};
            std::memcpy(&stamp, CMSG_DATA(c), sizeof(stamp));
            ::clock_gettime(CLOCK_REALTIME, &now);
            age = std::chrono::seconds(now.tv_sec - stamp.tv_sec) +
                  std::chrono::nanoseconds(now.tv_nsec - stamp.tv_nsec);
        }
    }
    return static_cast<int>(n);
}

}  // namespace

void voip_receive_loop(const voip_receiver& r)
{
    voip_set_receive_timeout(r.sockfd, kReceiveTimeout);
    if (r.max_age.count() > 0) {
        const int on = 1;
        (void)::setsockopt(r.sockfd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof(on));
    }
    // Long ago: nothing acted on yet.
    Clock::time_point last_acted = Clock::now() - 2 * kActiveHold;
    // The flag is cleared only after this loop handled datagrams (the handler may have set it):
    // a flag set by someone else (a test standing in for traffic) is not overruled.
    bool handled = false;
    while (*r.running) {
        if (r.stand_aside && r.stand_aside()) {
            continue;
        }
        std::chrono::nanoseconds age{0};
        *r.length = receive(r, age);
        // A datagram older than the bound is stale: a move sent then is not the one wanted now.
        const bool stale = r.max_age.count() > 0 && age > r.max_age;
        if (*r.length > 0 && !stale) {
            handled = true;
            if (r.handle(r.buffer, *r.length, *r.client)) {
                last_acted = Clock::now();
            }
        }
        if (handled && Clock::now() - last_acted >= kActiveHold) {
            *r.active = false;
            handled = false;
        }
    }
}
