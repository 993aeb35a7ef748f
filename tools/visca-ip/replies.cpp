#include "replies.h"

#include <cstdio>

#include "camcontrol/voip_framing.h"

namespace visca_ip {

namespace {

constexpr int kPanTiltReplyLength = 11;
constexpr int kZoomReplyLength = 7;
constexpr int kBlockDatagramLength = 103;

std::string hex(const uint8_t* bytes, int length)
{
    std::string text;
    char byte[4];
    for (int i = 0; i < length; ++i) {
        std::snprintf(byte, sizeof(byte), i == 0 ? "%02X" : " %02X", bytes[i]);
        text += byte;
    }
    return text;
}

// Four bytes of one nibble each, most significant first.
uint16_t nibbles(const uint8_t* bytes)
{
    return static_cast<uint16_t>(((bytes[0] & 0x0FU) << 12U) | ((bytes[1] & 0x0FU) << 8U) |
                                 ((bytes[2] & 0x0FU) << 4U) | (bytes[3] & 0x0FU));
}

std::string decoded(const uint8_t* payload, int length, Named named, int datagram_length)
{
    char text[96] = {};
    if (named == Named::PanTiltPosition && length == kPanTiltReplyLength) {
        std::snprintf(text, sizeof(text), ": pan %d, tilt %d",
                      static_cast<int16_t>(nibbles(payload + 2)),
                      static_cast<int16_t>(nibbles(payload + 6)));
    } else if (named == Named::ZoomPosition && length == kZoomReplyLength) {
        std::snprintf(text, sizeof(text), ": zoom %u", static_cast<unsigned>(nibbles(payload + 2)));
    } else if (named == Named::Block && datagram_length == kBlockDatagramLength) {
        std::snprintf(text, sizeof(text),
                      ": block reply, video format 0x%02X, camera version 0x%02X%02X", payload[87],
                      payload[88], payload[89]);
    }
    return text;
}

}  // namespace

const char* error_name(uint8_t code)
{
    switch (code) {
    case 0x01:
        return "message length error";
    case 0x02:
        return "syntax error";
    case 0x03:
        return "command buffer full";
    case 0x04:
        return "command cancelled";
    case 0x05:
        return "no socket";
    case 0x41:
        return "command not executable";
    default:
        return "unknown error";
    }
}

bool describe_reply(const uint8_t* datagram, int length, Named named, Reply& reply)
{
    voip_header header;
    if (!voip_decode_header(datagram, length, header)) {
        return false;
    }
    reply.sequence_number = header.sequence_number;
    const uint8_t* payload = datagram + VOIP_HEADER_LENGTH;
    const int payload_length = length - VOIP_HEADER_LENGTH;
    const std::string bytes = hex(payload, payload_length);
    if (header.payload_type == VOIP_CONTROL_REPLY) {
        reply.kind = ReplyKind::ControlReply;
        reply.text = "control reply  " + bytes;
        return true;
    }
    if (header.payload_type != VOIP_VISCA_REPLY || payload_length < 3) {
        reply.kind = ReplyKind::Other;
        reply.text = "unknown (type " + hex(datagram, 2) + ")  " + bytes;
        return true;
    }
    const auto kind = static_cast<uint8_t>(payload[1] >> 4U);
    if (kind == 0x4) {
        reply.kind = ReplyKind::Ack;
        reply.text = "ack            " + bytes;
    } else if (payload[1] == 0x50) {
        reply.kind = ReplyKind::InquiryReply;
        reply.text = "reply          " + bytes + decoded(payload, payload_length, named, length);
    } else if (kind == 0x5) {
        reply.kind = ReplyKind::Completion;
        reply.text = "completion     " + bytes;
    } else if (kind == 0x6) {
        reply.kind = ReplyKind::Error;
        reply.text = "error          " + bytes + ": " + error_name(payload[2]);
    } else {
        reply.kind = ReplyKind::Other;
        reply.text = "unknown        " + bytes;
    }
    return true;
}

}  // namespace visca_ip
