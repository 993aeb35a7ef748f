#pragma once

#include <cstddef>
#include <cstdint>

// The VISCA-over-IP framing: an 8-byte header (payload type, payload length, sequence number, all
// big-endian) followed by one VISCA message. Shared by the VISCA-over-IP server, the proprietary
// channel and the visca-ip client.

inline constexpr uint16_t VOIP_VISCA_COMMAND = 0x0100;
inline constexpr uint16_t VOIP_VISCA_INQUIRY = 0x0110;
inline constexpr uint16_t VOIP_VISCA_REPLY = 0x0111;
inline constexpr uint16_t VOIP_DEVICE_SETTING = 0x0120;  // IF_Clear and the version inquiry
inline constexpr uint16_t VOIP_CONTROL_COMMAND = 0x0200;
inline constexpr uint16_t VOIP_CONTROL_REPLY = 0x0201;

inline constexpr int VOIP_HEADER_LENGTH = 8;
inline constexpr int VOIP_MESSAGE_MAX = 16;  // longest VISCA message carried
inline constexpr int VOIP_DATAGRAM_MAX = 1024;

struct voip_header {
    uint16_t payload_type = 0;
    uint16_t payload_length = 0;
    uint32_t sequence_number = 0;
};

// Decodes the header of a datagram of `length` bytes; false when it is shorter than the header.
bool voip_decode_header(const uint8_t* datagram, int length, voip_header& header);

// Copies the VISCA message that starts at the payload: its bytes up to and including the first
// FF, at most VOIP_MESSAGE_MAX, and only bytes of this datagram. Returns the message length, or 0
// when there is no FF among them (such a datagram is not acted on).
int voip_visca_message(const uint8_t* datagram, int length, uint8_t (&message)[VOIP_MESSAGE_MAX]);

// Writes the header (payload length = `payload_length`) and the payload into `out`, which holds
// `out_size` bytes. Returns the datagram length, or 0 when it does not fit.
int voip_build(uint16_t payload_type, uint32_t sequence_number, const uint8_t* payload,
               int payload_length, uint8_t* out, std::size_t out_size);

// Writes the header fields alone into out[0..7].
void voip_write_header(uint16_t payload_type, uint16_t payload_length, uint32_t sequence_number,
                       uint8_t* out);

// A command for camera 1: 81 01 ...
bool voip_is_camera_command(const uint8_t* message, int length);
// The block inquiry of this system: 81 09 7E 7E EE FF.
bool voip_is_block_inquiry(const uint8_t* message, int length);
