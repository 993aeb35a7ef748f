#include "camcontrol/voip_socket.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "vantor/bind_address.h"

vantor::UniqueFd voip_open_service(const char* service, uint16_t port, sockaddr_in& local)
{
    local = {};
    const auto chosen = vantor::bind_address();
    if (!chosen) {
        std::printf("%s stays off: %s=\"%s\" is not an IPv4 address\n", service,
                    vantor::kBindAddressVariable, std::getenv(vantor::kBindAddressVariable));
        std::fflush(stdout);
        return {};
    }
    vantor::UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!fd) {
        std::printf("%s: socket creation failed: %s\n", service, std::strerror(errno));
        std::fflush(stdout);
        return fd;
    }
    local.sin_family = AF_INET;
    local.sin_addr = *chosen;
    local.sin_port = htons(port);
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&local), sizeof(local)) != 0) {
        std::printf("%s: bind to UDP port %u failed: %s\n", service, static_cast<unsigned>(port),
                    std::strerror(errno));
        std::fflush(stdout);
        fd.reset();
    }
    return fd;
}

bool voip_set_receive_timeout(int sockfd, std::chrono::milliseconds timeout)
{
    timeval value{};
    value.tv_sec = static_cast<time_t>(timeout.count() / 1000);
    value.tv_usec = static_cast<suseconds_t>((timeout.count() % 1000) * 1000);
    return ::setsockopt(sockfd, SOL_SOCKET, SO_RCVTIMEO, &value, sizeof(value)) == 0;
}
