#include "net.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace vantor::ndi {

bool split_host_port(const std::string& text, std::string& host, std::uint16_t& port)
{
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 >= text.size()) {
        return false;
    }
    const std::string digits = text.substr(colon + 1);
    if (digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    const long value = std::strtol(digits.c_str(), nullptr, 10);
    if (value <= 0 || value > 65535) {
        return false;
    }
    host = text.substr(0, colon);
    port = static_cast<std::uint16_t>(value);
    return true;
}

UniqueFd listen_tcp(const std::string& address, std::uint16_t& port, std::string& error)
{
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    if (::inet_pton(AF_INET, address.c_str(), &addr.sin_addr) != 1) {
        error = "'" + address + "' is not an IPv4 address";
        return {};
    }
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd) {
        error = std::string("socket: ") + std::strerror(errno);
        return fd;
    }
    const int on = 1;
    ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(fd.get(), 16) != 0) {
        error = "bind/listen on " + address + ": " + std::strerror(errno);
        return {};
    }
    socklen_t length = sizeof addr;
    ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&addr), &length);
    port = ntohs(addr.sin_port);
    return fd;
}

UniqueFd connect_tcp_start(const std::string& host_port, std::string& error)
{
    std::string host;
    std::uint16_t port = 0;
    if (!split_host_port(host_port, host, port)) {
        error = "'" + host_port + "' is not host:port";
        return {};
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) {
        error = "unknown host '" + host + "'";
        return {};
    }
    sockaddr_in addr{};
    std::memcpy(&addr, found->ai_addr, sizeof addr);
    ::freeaddrinfo(found);
    addr.sin_port = htons(port);

    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd) {
        error = std::string("socket: ") + std::strerror(errno);
        return fd;
    }
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 &&
        errno != EINPROGRESS) {
        error = "connect to " + host_port + ": " + std::strerror(errno);
        return {};
    }
    return fd;
}

bool connect_tcp_finish(int fd, const std::string& host_port, std::string& error)
{
    int failure = 0;
    socklen_t length = sizeof failure;
    ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &failure, &length);
    if (failure != 0) {
        error = "connect to " + host_port + ": " + std::strerror(failure);
        return false;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    set_liveness(fd);
    return true;
}

UniqueFd connect_tcp(const std::string& host_port, int timeout_ms, std::string& error)
{
    UniqueFd fd = connect_tcp_start(host_port, error);
    if (!fd) {
        return fd;
    }
    pollfd waiting{fd.get(), POLLOUT, 0};
    int ready = 0;
    do {
        ready = ::poll(&waiting, 1, timeout_ms);
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0) {
        error = "connect to " + host_port + ": timed out";
        return {};
    }
    if (!connect_tcp_finish(fd.get(), host_port, error)) {
        return {};
    }
    return fd;
}

std::string reachable_address(const std::string& listen, int& interface_index)
{
    interface_index = 0;
    const bool any = listen == "0.0.0.0";
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) {
        return any ? "127.0.0.1" : listen;
    }
    std::string found;
    for (const ifaddrs* entry = list; entry != nullptr && found.empty(); entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET ||
            (entry->ifa_flags & IFF_UP) == 0) {
            continue;
        }
        sockaddr_in addr{};
        std::memcpy(&addr, entry->ifa_addr, sizeof addr);
        char text[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &addr.sin_addr, text, sizeof text);
        if (any ? (entry->ifa_flags & IFF_LOOPBACK) == 0 : listen == text) {
            found = text;
            interface_index = any ? 0 : static_cast<int>(::if_nametoindex(entry->ifa_name));
        }
    }
    ::freeifaddrs(list);
    if (found.empty()) {
        return any ? "127.0.0.1" : listen;
    }
    return found;
}

bool is_loopback(const std::string& address)
{
    return address.compare(0, 4, "127.") == 0;
}

void set_liveness(int fd)
{
    // Idle 1 s, then a probe a second, given up after 3 unanswered: about 4 s.
    const int on = 1;
    const int idle = 1;
    const int interval = 1;
    const int probes = 3;
    // Unacknowledged data is given up on after the same time.
    const unsigned user_timeout_ms = 4000;
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
    ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &user_timeout_ms, sizeof user_timeout_ms);
}

std::string peer_address(int fd)
{
    sockaddr_in addr{};
    socklen_t length = sizeof addr;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
        return "unknown peer";
    }
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &addr.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(addr.sin_port));
}

WakeFd::WakeFd() : m_fd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

void WakeFd::wake() const
{
    const std::uint64_t one = 1;
    // A full counter means a wake-up is pending anyway.
    [[maybe_unused]] const ssize_t written = ::write(m_fd.get(), &one, sizeof one);
}

void WakeFd::drain() const
{
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t got = ::read(m_fd.get(), &count, sizeof count);
}

}  // namespace vantor::ndi
