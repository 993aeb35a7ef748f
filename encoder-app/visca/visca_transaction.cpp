#include <chrono>

#include "visca/visca.h"

namespace {

constexpr uint8_t kReplyAddress = 0x90;  // camera address 1 answering
constexpr uint8_t kAck = 0x41;           // acknowledgement, socket 1
constexpr uint8_t kCompletion = 0x51;    // completion, socket 1
constexpr uint8_t kInquiryReply = 0x50;
constexpr uint8_t kTerminator = 0xFF;
constexpr int kPollCount = 200;
constexpr auto kPollPeriod = std::chrono::milliseconds(1);

}  // namespace

bool visca::read_reply3(uint8_t kind, int waiting, bool exactly_three)
{
    uint8_t reply[3] = {};
    if (!read_bytes(reply, 3)) {
        visca_cls_rx();
        return false;
    }
    const bool match = reply[0] == kReplyAddress && reply[1] == kind && reply[2] == kTerminator &&
                       (!exactly_three || waiting == 3);
    if (!match) {
        visca_cls_rx();
    }
    return match;
}

bool visca::visca_wait_for_ack()
{
    int waiting = 0;
    if (!wait_for_bytes(3, waiting)) {
        visca_cls_rx();
        return false;
    }
    return read_reply3(kAck, waiting, false);
}

bool visca::visca_wait_for_cmp()
{
    int waiting = 0;
    if (!wait_for_bytes(3, waiting)) {
        visca_cls_rx();
        return false;
    }
    // A completion that arrives together with another packet is not taken: the bytes that follow
    // could belong to anything.
    return read_reply3(kCompletion, waiting, true);
}

void visca::visca_exec_cmd(visca_command& exec_cmd)
{
    const std::lock_guard<std::mutex> lock(visca_uart_mutex);
    exec_cmd.cmd[0] = static_cast<uint8_t>(0x80U | camAddress);
    visca_cls_rx();
    const bool written = write_packet(exec_cmd.cmd, exec_cmd.cmd_length);
    exec_cmd.cmd_fill = false;
    exec_cmd.ack = false;
    exec_cmd.comp = false;
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
            exec_cmd.comp = visca_wait_for_cmp();
            return;
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
            std::this_thread::sleep_for(kPollPeriod);
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
        if (byte == kTerminator && waiting == 1) {
            if (idx >= 3 && res_cmd.inq[1] == kInquiryReply) {
                res_cmd.inq_fill = true;
                res_cmd.inq_length = idx;
                visca_cls_rx();
                return true;
            }
            // An acknowledgement or error packet instead of a reply.
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
    const std::lock_guard<std::mutex> lock(visca_uart_mutex);
    exec_cmd.cmd[0] = static_cast<uint8_t>(0x80U | camAddress);
    exec_cmd.cmd_fill = false;
    exec_cmd.inq_fill = false;
    visca_cls_rx();
    if (!write_packet(exec_cmd.cmd, exec_cmd.cmd_length)) {
        return;
    }
    if (visca_wait_for_res(exec_cmd)) {
        return;
    }
    visca_cls_rx();
    if (!write_packet(exec_cmd.cmd, exec_cmd.cmd_length)) {
        return;
    }
    visca_wait_for_res(exec_cmd);
}
