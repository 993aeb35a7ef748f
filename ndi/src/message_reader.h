#pragma once

// Cuts the byte stream of one connection into messages.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "wire.h"

namespace vantor::ndi {

struct Message {
    MessageType type = MessageType::Hello;
    std::vector<std::uint8_t> payload;
};

class MessageReader {
public:
    enum class Status {
        Message,  // `out` holds a complete message
        Pending,  // nothing more to read right now
        Closed,   // the peer closed the connection between two messages
        Failed,   // the stream is broken: `error` says why
    };

    explicit MessageReader(Direction direction) : m_direction(direction) {}

    // Reads from the non-blocking socket until one message is complete or nothing more is there.
    // At most `budget` bytes are read per call, so that one busy peer cannot starve the others.
    Status read(int fd, Message& out, std::string& error,
                std::size_t budget = std::size_t{256} * 1024);

    // Bytes held for the message being read (grows as its payload arrives).
    std::size_t held() const { return m_payload.capacity(); }

    static constexpr std::size_t kFirstPayloadStep = std::size_t{64} * 1024;

private:
    bool grow_payload(std::string& error);

    Direction m_direction;
    bool m_in_payload = false;
    std::uint8_t m_header[kHeaderSize] = {};
    std::size_t m_have = 0;  // bytes of the current header or payload
    Header m_current;
    std::vector<std::uint8_t> m_payload;
};

}  // namespace vantor::ndi
