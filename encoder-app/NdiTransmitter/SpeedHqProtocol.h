#pragma once

// Messages of the encoder device's socket transport (see speedhq-protocol.md beside this file).
// Shared by the device-access module and the encoder-device simulator. Every field is a fixed-width
// little-endian integer, encoded and decoded byte by byte, so the layout is the same on every
// machine and no message is ever read through a cast pointer.

#include <cstddef>
#include <cstdint>

namespace speedhq_protocol {

inline constexpr std::uint8_t kMagic[4] = {'V', 'S', 'H', 'Q'};

// Message kinds. A response carries the kind of the request it answers, or kRefused when the
// request could not be understood (the sender then closes the connection).
inline constexpr std::uint16_t kRefused = 0;
inline constexpr std::uint16_t kControl = 1;  // a control request ("ioctl")
inline constexpr std::uint16_t kRead = 2;     // a read of `code` bytes

// Flag bit: the message carries the request's 32-bit argument.
inline constexpr std::uint16_t kFlagArgument = 0x0001;

inline constexpr std::size_t kRequestSize = 16;
inline constexpr std::size_t kResponseHeaderSize = 24;

// The largest read a peer has to serve; larger counts are refused with EINVAL.
inline constexpr std::uint32_t kMaxReadCount = 64U * 1024U * 1024U;

// How long the client waits for any answer before it counts the peer as gone and drops the
// connection. A server answers a frame wait that finds no frame with ETIMEDOUT before that, at
// most kMaxWaitTimeoutMs after the wait arrived, so the connection survives a stalled encoder.
inline constexpr int kReplyTimeoutMs = 5000;
inline constexpr int kMaxWaitTimeoutMs = 4000;
static_assert(kMaxWaitTimeoutMs < kReplyTimeoutMs, "a failed wait must come before the time-out");

struct Request {
    std::uint16_t kind = kControl;
    bool has_argument = false;
    std::uint32_t code = 0;  // request number, or the byte count of a read
    std::int32_t argument = 0;
};

struct ResponseHeader {
    std::uint16_t kind = kRefused;
    bool has_argument = false;
    std::int32_t result = -1;        // what ioctl or read returns: 0 or more, or -1
    std::int32_t error = 0;          // the errno value when `result` is -1
    std::int32_t argument = 0;       // the argument after the request (filled in by 9 and 21)
    std::uint32_t payload_size = 0;  // bytes that follow the header
};

inline void put_u16(std::uint8_t* out, std::uint16_t value)
{
    out[0] = static_cast<std::uint8_t>(value & 0xFFU);
    out[1] = static_cast<std::uint8_t>(value >> 8U);
}

inline void put_u32(std::uint8_t* out, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i) {
        out[i] = static_cast<std::uint8_t>((value >> (8U * static_cast<unsigned>(i))) & 0xFFU);
    }
}

inline std::uint16_t get_u16(const std::uint8_t* in)
{
    return static_cast<std::uint16_t>(in[0] | (in[1] << 8U));
}

inline std::uint32_t get_u32(const std::uint8_t* in)
{
    return static_cast<std::uint32_t>(in[0]) | (static_cast<std::uint32_t>(in[1]) << 8U) |
           (static_cast<std::uint32_t>(in[2]) << 16U) | (static_cast<std::uint32_t>(in[3]) << 24U);
}

inline void put_i32(std::uint8_t* out, std::int32_t value)
{
    put_u32(out, static_cast<std::uint32_t>(value));
}

inline std::int32_t get_i32(const std::uint8_t* in)
{
    return static_cast<std::int32_t>(get_u32(in));
}

inline bool has_magic(const std::uint8_t* in)
{
    return in[0] == kMagic[0] && in[1] == kMagic[1] && in[2] == kMagic[2] && in[3] == kMagic[3];
}

inline void put_magic(std::uint8_t* out)
{
    for (int i = 0; i < 4; ++i) {
        out[i] = kMagic[i];
    }
}

inline void encode_request(const Request& request, std::uint8_t (&out)[kRequestSize])
{
    put_magic(out);
    put_u16(out + 4, request.kind);
    put_u16(out + 6, request.has_argument ? kFlagArgument : 0);
    put_u32(out + 8, request.code);
    put_i32(out + 12, request.has_argument ? request.argument : 0);
}

// False when the bytes are not a request: wrong magic, unknown kind or unknown flag bits.
inline bool decode_request(const std::uint8_t (&in)[kRequestSize], Request& request)
{
    const std::uint16_t kind = get_u16(in + 4);
    const std::uint16_t flags = get_u16(in + 6);
    if (!has_magic(in) || (kind != kControl && kind != kRead) || (flags & ~kFlagArgument) != 0) {
        return false;
    }
    request.kind = kind;
    request.has_argument = (flags & kFlagArgument) != 0;
    request.code = get_u32(in + 8);
    request.argument = get_i32(in + 12);
    return true;
}

inline void encode_response_header(const ResponseHeader& header,
                                   std::uint8_t (&out)[kResponseHeaderSize])
{
    put_magic(out);
    put_u16(out + 4, header.kind);
    put_u16(out + 6, header.has_argument ? kFlagArgument : 0);
    put_i32(out + 8, header.result);
    put_i32(out + 12, header.error);
    put_i32(out + 16, header.argument);
    put_u32(out + 20, header.payload_size);
}

// False when the bytes are not a response header: wrong magic, unknown kind or flag bits, or a
// payload larger than any read may return.
inline bool decode_response_header(const std::uint8_t (&in)[kResponseHeaderSize],
                                   ResponseHeader& header)
{
    const std::uint16_t kind = get_u16(in + 4);
    const std::uint16_t flags = get_u16(in + 6);
    const std::uint32_t payload_size = get_u32(in + 20);
    if (!has_magic(in) || kind > kRead || (flags & ~kFlagArgument) != 0 ||
        payload_size > kMaxReadCount) {
        return false;
    }
    header.kind = kind;
    header.has_argument = (flags & kFlagArgument) != 0;
    header.result = get_i32(in + 8);
    header.error = get_i32(in + 12);
    header.argument = get_i32(in + 16);
    header.payload_size = payload_size;
    return true;
}

}  // namespace speedhq_protocol
