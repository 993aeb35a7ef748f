#pragma once

// A UDP socket on 127.0.0.1 at a port the system picks: a service's socket whose replies, sent to
// its own address, come back to it and are drained after each input. Nothing leaves the machine.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <cstdlib>

#include "vantor/unique_fd.h"

namespace vantor::fuzz {

class LoopbackUdp {
public:
    LoopbackUdp() : m_fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0))
    {
        m_address.sin_family = AF_INET;
        m_address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof(m_address);
        if (!m_fd ||
            ::bind(m_fd.get(), reinterpret_cast<const sockaddr*>(&m_address), length) != 0 ||
            ::getsockname(m_fd.get(), reinterpret_cast<sockaddr*>(&m_address), &length) != 0) {
            std::abort();
        }
    }

    int fd() const { return m_fd.get(); }
    const sockaddr_in& address() const { return m_address; }

    // Reads and forgets every datagram waiting.
    void drain() const
    {
        uint8_t scratch[2048];
        while (::recv(m_fd.get(), scratch, sizeof(scratch), MSG_DONTWAIT) >= 0) {
        }
    }

private:
    vantor::UniqueFd m_fd;
    sockaddr_in m_address = {};
};

}  // namespace vantor::fuzz
