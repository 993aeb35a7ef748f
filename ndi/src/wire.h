#pragma once

// The framing between senders and receivers: every message is an 8-byte header followed by its
// payload. All integers are little-endian, floats IEEE-754 binary32; see ndi/README.md.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vantor::ndi {

inline constexpr std::size_t kHeaderSize = 8;
inline constexpr std::uint8_t kMagic0 = 'V';
inline constexpr std::uint8_t kMagic1 = 'N';

// Largest payload a sender accepts from a receiver (hello, metadata, tally).
inline constexpr std::uint32_t kMaxPayloadFromReceiver = 64 * 1024;
// Largest payload a receiver accepts from a sender (a 4K uncompressed picture fits).
inline constexpr std::uint32_t kMaxPayloadFromSender = 64 * 1024 * 1024;

// Liveness of a connection whatever TCP sees: each end sends a heartbeat (empty payload) every
// interval, and gives its peer up when nothing at all has arrived from it for the limit. A peer
// whose program hangs while its host still answers TCP is so given up within the limit plus one
// pass of the poll loop.
inline constexpr std::chrono::milliseconds kHeartbeatInterval{1000};
inline constexpr std::chrono::milliseconds kSilenceLimit{3000};

enum class MessageType : std::uint8_t {
    // receiver -> sender
    Hello = 0x01,
    Tally = 0x03,
    // both directions
    Metadata = 0x02,
    Heartbeat = 0x04,
    // sender -> receiver
    Source = 0x10,
    Video = 0x11,
    Audio = 0x12,
    Failover = 0x13,
};

// Streams a receiver subscribes to in its hello. Metadata always flows.
inline constexpr std::uint32_t kStreamProgramVideo = 1U << 0;
inline constexpr std::uint32_t kStreamPreviewVideo = 1U << 1;
inline constexpr std::uint32_t kStreamAudio = 1U << 2;

// Which side a message travels to; the header check refuses types that do not belong there.
enum class Direction { ToSender, ToReceiver };

struct Header {
    MessageType type = MessageType::Hello;
    std::uint32_t length = 0;
};

// Checks a received header. Returns an empty text when it is acceptable, otherwise why not.
std::string check_header(const std::uint8_t* bytes, Direction direction, Header& out);

// Appends the header of a message with a payload of `length` bytes.
void put_header(std::vector<std::uint8_t>& out, MessageType type, std::uint32_t length);

// Appends little-endian fields.
class ByteWriter {
public:
    explicit ByteWriter(std::vector<std::uint8_t>& out) : m_out(out) {}
    void u8(std::uint8_t value) { m_out.push_back(value); }
    void u32(std::uint32_t value);
    void i32(std::int32_t value) { u32(static_cast<std::uint32_t>(value)); }
    void i64(std::int64_t value);
    void f32(float value);
    void bytes(const void* data, std::size_t size);
    void text(const std::string& value) { bytes(value.data(), value.size()); }
    // A text preceded by its length as u32.
    void sized_text(const std::string& value);

private:
    std::vector<std::uint8_t>& m_out;
};

// Reads little-endian fields from a payload. Reading past the end sets `ok()` false and yields 0.
class ByteReader {
public:
    ByteReader(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}
    std::uint8_t u8();
    std::uint32_t u32();
    std::int32_t i32() { return static_cast<std::int32_t>(u32()); }
    std::int64_t i64();
    float f32();
    // `size` bytes as a text; empty (and not ok) when fewer remain.
    std::string text(std::size_t size);
    std::string sized_text();
    // The position of the next unread byte; advances past `size` bytes.
    const std::uint8_t* skip(std::size_t size);
    std::size_t remaining() const { return m_size - m_pos; }
    bool ok() const { return m_ok; }

private:
    bool take(std::size_t size);

    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
    bool m_ok = true;
};

// Name of a message type for explanations ("video", "0x7f").
std::string type_name(std::uint8_t type);

}  // namespace vantor::ndi
