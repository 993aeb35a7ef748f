#include "camcontrol/voip_framing.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint8_t kTerminator = 0xFF;

uint16_t read_be16(const uint8_t* bytes)
{
    return static_cast<uint16_t>((bytes[0] << 8U) | bytes[1]);
}

}  // namespace

bool voip_decode_header(const uint8_t* datagram, int length, voip_header& header)
{
    if (datagram == nullptr || length < VOIP_HEADER_LENGTH) {
        return false;
    }
    header.payload_type = read_be16(datagram);
    header.payload_length = read_be16(datagram + 2);
    header.sequence_number =
        (static_cast<uint32_t>(read_be16(datagram + 4)) << 16U) | read_be16(datagram + 6);
    return true;
}

int voip_visca_message(const uint8_t* datagram, int length, uint8_t (&message)[VOIP_MESSAGE_MAX])
{
    if (datagram == nullptr || length <= VOIP_HEADER_LENGTH) {
        return 0;
    }
    const int available = std::min(length - VOIP_HEADER_LENGTH, VOIP_MESSAGE_MAX);
    const uint8_t* payload = datagram + VOIP_HEADER_LENGTH;
    const auto* end = std::find(payload, payload + available, kTerminator);
    if (end == payload + available) {
        return 0;
    }
    const auto count = static_cast<int>(end - payload) + 1;
    std::memcpy(message, payload, static_cast<std::size_t>(count));
    return count;
}

void voip_write_header(uint16_t payload_type, uint16_t payload_length, uint32_t sequence_number,
                       uint8_t* out)
{
    out[0] = static_cast<uint8_t>(payload_type >> 8U);
    out[1] = static_cast<uint8_t>(payload_type);
    out[2] = static_cast<uint8_t>(payload_length >> 8U);
    out[3] = static_cast<uint8_t>(payload_length);
    for (int i = 0; i < 4; ++i) {
        out[4 + i] = static_cast<uint8_t>(sequence_number >> (8U * static_cast<unsigned>(3 - i)));
    }
}

int voip_build(uint16_t payload_type, uint32_t sequence_number, const uint8_t* payload,
               int payload_length, uint8_t* out, std::size_t out_size)
{
    if (payload_length < 0 || out == nullptr ||
        static_cast<std::size_t>(payload_length) + VOIP_HEADER_LENGTH > out_size) {
        return 0;
    }
    voip_write_header(payload_type, static_cast<uint16_t>(payload_length), sequence_number, out);
    if (payload_length > 0) {
        std::memcpy(out + VOIP_HEADER_LENGTH, payload, static_cast<std::size_t>(payload_length));
    }
    return payload_length + VOIP_HEADER_LENGTH;
}

bool voip_is_camera_command(const uint8_t* message, int length)
{
    return length > 1 && message[0] == 0x81 && message[1] == 0x01;
}

bool voip_is_block_inquiry(const uint8_t* message, int length)
{
    return length > 4 && message[0] == 0x81 && message[1] == 0x09 && message[2] == 0x7E &&
           message[3] == 0x7E && message[4] == 0xEE;
}
