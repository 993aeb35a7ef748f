#include "visca/visca_late_replies.h"

#include <utility>

namespace {

constexpr uint8_t kReplyAddress = 0x90;  // camera address 1 answering
constexpr uint8_t kTerminator = 0xFF;
constexpr uint8_t kAckKind = 0x4;
constexpr uint8_t kCompletionKind = 0x5;
constexpr uint8_t kErrorKind = 0x6;
constexpr int kSocketMessageLength = 3;  // 90 4y FF, 90 5y FF
constexpr int kErrorLength = 4;          // 90 6y zz FF

}  // namespace

void visca_late_replies::set_sink(visca_reply_sink sink)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_sink = std::move(sink);
}

void visca_late_replies::expect(uint8_t socket, const visca_command& origin)
{
    if (socket < 1 || socket > kSockets) {
        return;
    }
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        entry& slot = m_entries[socket];
        slot.active = true;
        slot.origin = origin;
        slot.deadline = std::chrono::steady_clock::now() + kBound;
    }
    m_changed.notify_all();
}

void visca_late_replies::on_byte(uint8_t byte)
{
    if (m_length == 0 && byte != kReplyAddress) {
        return;  // between packets: noise, or the rest of a packet whose start was not seen
    }
    m_packet[m_length++] = byte;
    if (byte == kTerminator) {
        on_packet(m_packet, m_length);
        m_length = 0;
    } else if (m_length == VISCA_PACKET_SIZE) {
        m_length = 0;  // longer than any answer
    }
}

void visca_late_replies::on_packet(const uint8_t* bytes, int length)
{
    const auto kind = static_cast<uint8_t>(bytes[1] >> 4U);
    const auto socket = static_cast<uint8_t>(bytes[1] & 0x0FU);
    if (socket < 1 || socket > kSockets) {
        return;  // inquiry replies and errors of inquiries carry no socket
    }
    const bool answer = (kind == kCompletionKind && length == kSocketMessageLength) ||
                        (kind == kErrorKind && length == kErrorLength);
    const bool reused = kind == kAckKind && length == kSocketMessageLength;
    if (!answer && !reused) {
        return;
    }
    visca_command origin;
    visca_reply_sink sink;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        entry& slot = m_entries[socket];
        const bool due = slot.active && std::chrono::steady_clock::now() < slot.deadline;
        slot.active = false;
        if (!answer || !due || !m_sink) {
            return;
        }
        origin = slot.origin;
        sink = m_sink;
    }
    sink(origin, bytes, length);
}

void visca_late_replies::clear()
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    for (entry& slot : m_entries) {
        slot.active = false;
    }
}

bool visca_late_replies::expecting_locked(std::chrono::steady_clock::time_point now)
{
    bool any = false;
    for (entry& slot : m_entries) {
        if (slot.active && now >= slot.deadline) {
            slot.active = false;  // the bound passed: nothing is relayed any more
        }
        any = any || slot.active;
    }
    return any;
}

bool visca_late_replies::expecting()
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return expecting_locked(std::chrono::steady_clock::now());
}

void visca_late_replies::wait_for_entry(const std::atomic<bool>& running)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock,
                   [&] { return !running || expecting_locked(std::chrono::steady_clock::now()); });
}

void visca_late_replies::wake()
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
    }
    m_changed.notify_all();
}
