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
