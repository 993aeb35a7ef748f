#pragma once

#include <cstdint>
#include <string>

#include "options.h"

namespace visca_ip {

enum class ReplyKind : uint8_t { Ack, Completion, Error, InquiryReply, ControlReply, Other };

struct Reply {
    ReplyKind kind = ReplyKind::Other;
    uint32_t sequence_number = 0;
    std::string text;  // type, bytes and meaning, for one output line
    // True when no further reply to its request is to be expected.
    bool last() const { return kind != ReplyKind::Ack && kind != ReplyKind::Other; }
};

// Describes one received datagram; `named` says what the request was (for decoding values).
// False when it is no VISCA-over-IP datagram (shorter than its header).
bool describe_reply(const uint8_t* datagram, int length, Named named, Reply& reply);

// Name of the VISCA error code (90 6y cc FF).
const char* error_name(uint8_t code);

}  // namespace visca_ip
