#include <algorithm>
#include <chrono>

#include "visca/visca.h"

namespace {

constexpr uint8_t kReplyAddress = 0x90;   // camera address 1 answering
constexpr uint8_t kAckKind = 0x4;         // 90 4y FF: acknowledged on socket y
constexpr uint8_t kCompletionKind = 0x5;  // 90 5y FF: completed on socket y
constexpr uint8_t kErrorKind = 0x6;       // 90 6y zz FF: an error (y 0 for inquiries)
constexpr int kErrorLength = 4;
constexpr uint8_t kInquiryReply = 0x50;
constexpr uint8_t kTerminator = 0xFF;
constexpr uint8_t kSocketCount = 2;
constexpr int kPollCount = 200;
constexpr int kShortestPacket = 3;
constexpr auto kPollPeriod = std::chrono::milliseconds(1);

// 90 <kind><socket> FF for one of the command sockets.
bool is_socket_message(const uint8_t* bytes, int length, uint8_t kind)
{
    const auto socket = static_cast<uint8_t>(bytes[1] & 0x0FU);
    return length == kShortestPacket && (bytes[1] >> 4U) == kind && socket >= 1 &&
           socket <= kSocketCount;
}

bool is_socket_message(const visca_reply_packet& packet, uint8_t kind)
{
    return is_socket_message(packet.bytes, packet.length, kind);
}

// 90 6y zz FF, the module's error reply.
bool is_error(const uint8_t* bytes, int length)
{
    return length == kErrorLength && (bytes[1] >> 4U) == kErrorKind;
}

// An error of a command socket: a running command's cancellation or failure, never an inquiry's.
bool is_socket_error(const uint8_t* bytes, int length)
{
    const auto socket = static_cast<uint8_t>(bytes[1] & 0x0FU);
    return is_error(bytes, length) && socket >= 1 && socket <= kSocketCount;
}

// IF_Clear, addressed or broadcast: the module drops every pending completion.
bool is_if_clear(const uint8_t* bytes, int length)
{
    return length == 5 && bytes[1] == 0x01 && bytes[2] == 0x00 && bytes[3] == 0x01 &&
           bytes[4] == kTerminator;
}

}  // namespace

bool visca::read_packet(visca_reply_packet& packet, int& polls)
{
    packet = visca_reply_packet{};
    // The shortest answer is three bytes; nothing is read before they are all there.
    for (int waiting = bytes_waiting(); waiting < kShortestPacket; waiting = bytes_waiting()) {
        if (waiting < 0 || polls <= 0) {
            return false;
        }
        --polls;
        if (waiting == 0) {
            wait_for_input();
        } else {
            std::this_thread::sleep_for(kPollPeriod);  // the rest of the packet is on its way
        }
    }
    while (packet.length < VISCA_PACKET_SIZE) {
        const int waiting = bytes_waiting();
        if (waiting < 0) {
            return false;
        }
        if (waiting == 0) {
            // The rest of a longer packet (an error, a reply) is still on its way.
            if (polls <= 0) {
                return false;
            }
            --polls;
            wait_for_input();
            continue;
        }
        uint8_t& byte = packet.bytes[packet.length];
        if (!read_bytes(&byte, 1)) {
            return false;
        }
        ++packet.length;
        if (packet.length == 1 && byte != kReplyAddress) {
            return false;
        }
        if (byte == kTerminator) {
            packet.alone = bytes_waiting() == 0;
            return packet.length >= kShortestPacket;
        }
    }
    return false;  // longer than any answer
}

bool visca::visca_wait_for_ack()
{
    int polls = kPollCount;
    visca_reply_packet packet;
    m_refusal = visca_reply_packet{};
    while (read_packet(packet, polls)) {
        if (is_socket_message(packet, kAckKind)) {
            m_ack_socket = packet.socket();
            return true;
        }
        if (!is_socket_message(packet, kCompletionKind)) {
            // An error or garbage: not acknowledged. An error is kept for a requester to see.
            if (is_error(packet.bytes, packet.length)) {
                m_refusal = packet;
            }
            break;
        }
        // The late completion of an earlier command (a move that has just ended): not an answer
        // to this one.
    }
    visca_cls_rx();
    return false;
}

bool visca::visca_wait_for_cmp()
{
    int polls = kPollCount;
    visca_reply_packet packet;
    while (read_packet(packet, polls)) {
        if (packet.socket() != 0 && packet.socket() != m_ack_socket) {
            continue;  // the other socket's command, still running when this one was sent
        }
        // A completion that arrives together with another packet is not taken: the bytes that
        // follow could belong to anything.
        if (is_socket_message(packet, kCompletionKind) && packet.alone) {
            return true;
        }
        break;
    }
    visca_cls_rx();
    return false;
}

void visca::visca_exec_cmd(visca_command& exec_cmd)
{
    run_command(exec_cmd, nullptr);
}

void visca::run_command(visca_command& exec_cmd, visca_reply_packet* refusal)
{
    const std::lock_guard<visca_line_mutex> lock(visca_uart_mutex);
    exec_cmd.cmd[0] = static_cast<uint8_t>(0x80U | camAddress);
    visca_cls_rx();
    const bool written = write_packet(exec_cmd.cmd, exec_cmd.cmd_length);
    exec_cmd.cmd_fill = false;
    exec_cmd.ack = false;
    exec_cmd.comp = false;
    if (refusal != nullptr) {
        *refusal = visca_reply_packet{};
    }
    if (!written) {
        return;
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (attempt == 1 && !write_packet(exec_cmd.cmd, exec_cmd.cmd_length)) {
            return;
        }
        if (visca_wait_for_ack()) {
            // No retry after an acknowledgement: the camera has the command.
            exec_cmd.ack = true;
            if (refusal != nullptr) {
                // From here on its completion or error goes to the requester when it is read,
                // now or after this transaction.
                m_late_replies.expect(m_ack_socket, exec_cmd);
            }
            exec_cmd.comp = visca_wait_for_cmp();
            return;
        }
        if (refusal != nullptr) {
            *refusal = m_refusal;
        }
    }
}

bool visca::visca_wait_for_res(visca_inq_command& res_cmd)
{
    int idx = 0;
    for (int iteration = 0; iteration < kPollCount; ++iteration) {
        const int waiting = bytes_waiting();
        if (waiting < 0) {
            return false;
        }
        if (waiting == 0) {
            wait_for_input();
            continue;
        }
        uint8_t byte = 0;
        if (!read_bytes(&byte, 1)) {
            visca_cls_rx();
            return false;
        }
        if (idx >= VISCA_PACKET_SIZE) {
            // Longer than any reply: never written past the buffer; the input is discarded and
            // the transaction fails.
            res_cmd.inq_fill = false;
            res_cmd.inq_length = 0;
            visca_cls_rx();
            return false;
        }
        res_cmd.inq[idx++] = byte;
        if (idx == 1 && byte != kReplyAddress) {
            visca_cls_rx();
            return false;
        }
        if (byte == kTerminator && (is_socket_message(res_cmd.inq, idx, kCompletionKind) ||
                                    is_socket_error(res_cmd.inq, idx))) {
            // A running command's completion (90 5y FF) or error (90 6y zz FF, y a command
            // socket) is not this inquiry's reply.
            idx = 0;
            continue;
        }
        if (byte == kTerminator && waiting == 1) {
            if (idx >= 3 && res_cmd.inq[1] == kInquiryReply) {
                res_cmd.inq_fill = true;
                res_cmd.inq_length = idx;
                visca_cls_rx();
                return true;
            }
            // An acknowledgement or error packet instead of a reply; an error is kept for a
            // requester to see.
            if (is_error(res_cmd.inq, idx)) {
                std::copy(res_cmd.inq, res_cmd.inq + idx, m_refusal.bytes);
                m_refusal.length = idx;
            }
            res_cmd.inq_fill = false;
            res_cmd.inq_length = 0;
            visca_cls_rx();
            return false;
        }
    }
    visca_cls_rx();
    return false;
}

void visca::visca_exec_inq_cmd(visca_inq_command& exec_cmd)
{
    run_inquiry_transaction(exec_cmd, nullptr);
}

void visca::run_inquiry_transaction(visca_inq_command& exec_cmd, visca_reply_packet* refusal)
{
    const std::lock_guard<visca_line_mutex> lock(visca_uart_mutex);
    exec_cmd.cmd[0] = static_cast<uint8_t>(0x80U | camAddress);
    exec_cmd.cmd_fill = false;
    exec_cmd.inq_fill = false;
    if (refusal != nullptr) {
        *refusal = visca_reply_packet{};
    }
    visca_cls_rx();
    if (!write_packet(exec_cmd.cmd, exec_cmd.cmd_length)) {
        return;
    }
    if (is_if_clear(exec_cmd.cmd, exec_cmd.cmd_length)) {
        m_late_replies.clear();  // the module forgets the completions it still owed
    }
    m_refusal = visca_reply_packet{};
    if (visca_wait_for_res(exec_cmd)) {
        return;
    }
    if (refusal != nullptr && m_refusal.length > 0) {
        // A definite answer: the camera does not know or cannot take this inquiry. Asking again
        // would only repeat it.
        *refusal = m_refusal;
        return;
    }
    visca_cls_rx();
    if (!write_packet(exec_cmd.cmd, exec_cmd.cmd_length)) {
        return;
    }
    m_refusal = visca_reply_packet{};
    if (!visca_wait_for_res(exec_cmd) && refusal != nullptr) {
        *refusal = m_refusal;
    }
}
