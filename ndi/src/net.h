#pragma once

// Small socket helpers: listening and connecting TCP sockets, addresses as "host:port", and a
// wake-up descriptor for poll loops.

#include <cstdint>
#include <string>

#include "vantor/file_io.h"  // send_all
#include "vantor/unique_fd.h"

namespace vantor::ndi {

// Splits "host:port" (IPv4 dotted quad or a host name). False when it does not have that form.
bool split_host_port(const std::string& text, std::string& host, std::uint16_t& port);

// A non-blocking TCP socket listening on `address` (IPv4) at a port the system chooses.
// Returns an invalid descriptor (and `error`) on failure.
UniqueFd listen_tcp(const std::string& address, std::uint16_t& port, std::string& error);

// Connects to "host:port", waiting at most `timeout_ms`. The socket is left blocking, with
// TCP_NODELAY set. Returns an invalid descriptor (and `error`) on failure.
UniqueFd connect_tcp(const std::string& host_port, int timeout_ms, std::string& error);

// The same in two steps, for a poll loop: a non-blocking socket whose connection is under way
// (it polls writable once settled), then the check of the outcome that leaves it as above.
UniqueFd connect_tcp_start(const std::string& host_port, std::string& error);
bool connect_tcp_finish(int fd, const std::string& host_port, std::string& error);

// The IPv4 address a socket listening on `listen` can be reached at from elsewhere: `listen`
// itself, or for "0.0.0.0" the first address of an interface that is up and not loopback
// ("127.0.0.1" when there is none). `interface_index` is the index of the interface holding it
// (0 for "0.0.0.0" and when not found).
std::string reachable_address(const std::string& listen, int& interface_index);

bool is_loopback(const std::string& address);

// Keep-alive with short intervals and a user time-out on a connected TCP socket, so that a peer
// that vanished without closing (power cut, cable) is given up within about 4 s, also while
// data waits to be acknowledged.
void set_liveness(int fd);

// "a.b.c.d:port" of the peer of a connected socket.
std::string peer_address(int fd);

// An eventfd used to wake a thread waiting in poll().
class WakeFd {
public:
    WakeFd();
    int fd() const { return m_fd.get(); }
    bool valid() const { return m_fd.valid(); }
    void wake() const;
    void drain() const;

private:
    UniqueFd m_fd;
};

}  // namespace vantor::ndi
