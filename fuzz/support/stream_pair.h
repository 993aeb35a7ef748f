#pragma once

// A connected pair of Unix stream sockets: what a target writes into `peer` arrives at `local`,
// the descriptor the code under test reads, as from a network peer. Closing the peer's writing
// side ends the stream.

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "vantor/unique_fd.h"

namespace vantor::fuzz {

struct StreamPair {
    vantor::UniqueFd local;
    vantor::UniqueFd peer;
};

// `bytes` wait at `local`, which is non-blocking when `non_blocking`; the peer has stopped
// writing. Aborts when the pair cannot be made (the machine, not the code, is at fault).
inline StreamPair stream_with(const uint8_t* bytes, std::size_t size, bool non_blocking)
{
    int fds[2] = {-1, -1};
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
        std::abort();
    }
    StreamPair pair{vantor::UniqueFd(fds[0]), vantor::UniqueFd(fds[1])};
    // The socket buffer holds far more than libFuzzer's longest input (4096 bytes by default).
    int buffer = 1 << 20;
    (void)::setsockopt(pair.peer.get(), SOL_SOCKET, SO_SNDBUF, &buffer, sizeof(buffer));
    std::size_t done = 0;
    while (done < size) {
        const ssize_t wrote = ::write(pair.peer.get(), bytes + done, size - done);
        if (wrote <= 0) {
            std::abort();
        }
        done += static_cast<std::size_t>(wrote);
    }
    ::shutdown(pair.peer.get(), SHUT_WR);
    if (non_blocking) {
        const int flags = ::fcntl(pair.local.get(), F_GETFL);
        ::fcntl(pair.local.get(), F_SETFL, flags | O_NONBLOCK);
    }
    return pair;
}

}  // namespace vantor::fuzz
