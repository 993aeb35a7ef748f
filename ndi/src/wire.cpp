#include "wire.h"

#include <cstdio>
#include <cstring>

namespace vantor::ndi {

namespace {

bool known_type(std::uint8_t type, Direction direction)
{
    switch (static_cast<MessageType>(type)) {
    case MessageType::Hello:
    case MessageType::Tally:
        return direction == Direction::ToSender;
    case MessageType::Metadata:
    case MessageType::Heartbeat:
        return true;
    case MessageType::Source:
    case MessageType::Video:
    case MessageType::Audio:
    case MessageType::Failover:
        return direction == Direction::ToReceiver;
    }
    return false;
}

}  // namespace

std::string check_header(const std::uint8_t* bytes, Direction direction, Header& out)
{
    if (bytes[0] != kMagic0 || bytes[1] != kMagic1) {
        char text[64];
        std::snprintf(text, sizeof text, "not a message header (bytes 0x%02x 0x%02x)", bytes[0],
                      bytes[1]);
        return text;
    }
    if (!known_type(bytes[2], direction)) {
        return "unexpected message type " + type_name(bytes[2]);
    }
    if (bytes[3] != 0) {
        return "unknown message flags";
    }
    ByteReader reader(bytes + 4, 4);
    const std::uint32_t length = reader.u32();
    const std::uint32_t limit =
        direction == Direction::ToSender ? kMaxPayloadFromReceiver : kMaxPayloadFromSender;
    if (length > limit) {
        return "message length " + std::to_string(length) + " exceeds " + std::to_string(limit);
    }
    out.type = static_cast<MessageType>(bytes[2]);
    out.length = length;
    return {};
}

void put_header(std::vector<std::uint8_t>& out, MessageType type, std::uint32_t length)
{
    ByteWriter writer(out);
    writer.u8(kMagic0);
    writer.u8(kMagic1);
    writer.u8(static_cast<std::uint8_t>(type));
    writer.u8(0);
    writer.u32(length);
}

void ByteWriter::u32(std::uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8) {
        m_out.push_back(static_cast<std::uint8_t>(value >> shift));
    }
}

void ByteWriter::i64(std::int64_t value)
{
    const auto bits = static_cast<std::uint64_t>(value);
    u32(static_cast<std::uint32_t>(bits));
    u32(static_cast<std::uint32_t>(bits >> 32));
}

void ByteWriter::f32(float value)
{
    std::uint32_t bits = 0;
    static_assert(sizeof bits == sizeof value);
    std::memcpy(&bits, &value, sizeof bits);
    u32(bits);
}

void ByteWriter::bytes(const void* data, std::size_t size)
{
    const auto* begin = static_cast<const std::uint8_t*>(data);
    m_out.insert(m_out.end(), begin, begin + size);
}

void ByteWriter::sized_text(const std::string& value)
{
    u32(static_cast<std::uint32_t>(value.size()));
    text(value);
}

bool ByteReader::take(std::size_t size)
{
    if (!m_ok || size > m_size - m_pos) {
        m_ok = false;
        return false;
    }
    return true;
}

std::uint8_t ByteReader::u8()
{
    if (!take(1)) {
        return 0;
    }
    return m_data[m_pos++];
}

std::uint32_t ByteReader::u32()
{
    if (!take(4)) {
        return 0;
    }
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) {
        value = (value << 8) | m_data[m_pos + static_cast<std::size_t>(i)];
    }
    m_pos += 4;
    return value;
}

std::int64_t ByteReader::i64()
{
    const std::uint64_t low = u32();
    const std::uint64_t high = u32();
    return static_cast<std::int64_t>(low | (high << 32));
}

float ByteReader::f32()
{
    const std::uint32_t bits = u32();
    float value = 0;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

std::string ByteReader::text(std::size_t size)
{
    const std::uint8_t* begin = skip(size);
    if (!m_ok || size == 0) {
        return {};
    }
    return {reinterpret_cast<const char*>(begin), size};
}

std::string ByteReader::sized_text()
{
    const std::uint32_t size = u32();
    return text(size);
}

const std::uint8_t* ByteReader::skip(std::size_t size)
{
    if (!take(size)) {
        return nullptr;
    }
    const std::uint8_t* begin = m_data + m_pos;
    m_pos += size;
    return begin;
}

std::string type_name(std::uint8_t type)
{
    switch (static_cast<MessageType>(type)) {
    case MessageType::Hello:
        return "hello";
    case MessageType::Tally:
        return "tally";
    case MessageType::Metadata:
        return "metadata";
    case MessageType::Heartbeat:
        return "heartbeat";
    case MessageType::Source:
        return "source";
    case MessageType::Video:
        return "video";
    case MessageType::Audio:
        return "audio";
    case MessageType::Failover:
        return "failover";
    }
    char text[8];
    std::snprintf(text, sizeof text, "0x%02x", type);
    return text;
}

}  // namespace vantor::ndi
