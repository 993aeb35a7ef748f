#include "message_reader.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace vantor::ndi {

MessageReader::Status MessageReader::read(int fd, Message& out, std::string& error,
                                          std::size_t budget)
{
    while (budget > 0) {
        std::uint8_t* target = nullptr;
        std::size_t wanted = 0;
        if (m_in_payload) {
            target = m_payload.data() + m_have;
            wanted = m_current.length - m_have;
        } else {
            target = m_header + m_have;
            wanted = kHeaderSize - m_have;
        }
        if (wanted > 0) {
            if (wanted > budget) {
                wanted = budget;
            }
            ssize_t got = ::recv(fd, target, wanted, MSG_DONTWAIT);
            if (got < 0 && errno == ECONNRESET) {
                got = 0;  // a peer that closes with data unread resets: an ordinary close
            }
            if (got == 0) {
                if (m_in_payload || m_have > 0) {
                    const std::size_t expected =
                        m_in_payload ? kHeaderSize + m_current.length : kHeaderSize;
                    const std::size_t received = m_in_payload ? kHeaderSize + m_have : m_have;
                    error = "connection closed inside a message (" + std::to_string(received) +
                            " of " + std::to_string(expected) + " bytes)";
                    return Status::Failed;
                }
                return Status::Closed;
            }
            if (got < 0) {
                if (errno == EINTR) {
                    continue;
                }
                if (errno == EAGAIN || errno == EWOULDBLOCK) {
                    return Status::Pending;
                }
                error = std::string("receive failed: ") + std::strerror(errno);
                return Status::Failed;
            }
            m_have += static_cast<std::size_t>(got);
            budget -= static_cast<std::size_t>(got);
        }
        if (!m_in_payload) {
            if (m_have < kHeaderSize) {
                continue;
            }
            error = check_header(m_header, m_direction, m_current);
            if (!error.empty()) {
                return Status::Failed;
            }
            m_in_payload = true;
            m_have = 0;
            m_payload.assign(m_current.length, 0);
        }
        if (m_have == m_current.length) {
            out.type = m_current.type;
            out.payload = std::move(m_payload);
            m_payload = {};
            m_in_payload = false;
            m_have = 0;
            return Status::Message;
        }
    }
    return Status::Pending;
}

}  // namespace vantor::ndi
