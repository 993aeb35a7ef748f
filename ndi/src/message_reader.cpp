#include "message_reader.h"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <utility>

namespace vantor::ndi {

bool MessageReader::grow_payload(std::string& error)
{
    if (m_have < m_payload.size() || m_payload.size() == m_current.length) {
        return true;
    }
    // The payload grows with what has arrived (doubling from 64 KiB), never to the announced
    // length on the header alone: a peer announcing 64 MiB and sending nothing holds 64 KiB.
    const std::size_t step = std::max<std::size_t>(kFirstPayloadStep, m_payload.size());
    const std::size_t size = std::min<std::size_t>(m_current.length, m_payload.size() + step);
    try {
        m_payload.resize(size);
    } catch (const std::bad_alloc&) {
        error = "no memory for a message of " + std::to_string(m_current.length) + " bytes";
        return false;
    }
    return true;
}

MessageReader::Status MessageReader::read(int fd, Message& out, std::string& error,
                                          std::size_t budget)
{
    while (budget > 0) {
        std::uint8_t* target = nullptr;
        std::size_t wanted = 0;
        if (m_in_payload) {
            if (!grow_payload(error)) {
                return Status::Failed;
            }
            target = m_payload.data() + m_have;
            wanted = m_payload.size() - m_have;
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
            m_payload.clear();
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
