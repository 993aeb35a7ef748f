#include <sys/socket.h>

#include <chrono>
#include <cstdio>
#include <cstring>

#include "camcontrol/Camcontrol.h"
#include "camcontrol/voip_receive_loop.h"
#include "camcontrol/voip_socket.h"
#include "vantor/bind_address.h"

// VISCA over IP on UDP 52381: commands and inquiries for camera 1 go to the VISCA engine, the
// controller gets acknowledgement, completion and reply datagrams; control commands get their
// control reply; the block inquiry 81 09 7E 7E EE FF is answered from the current values.

namespace {

constexpr uint8_t kCameraOne = 0x81;
constexpr uint8_t kInquiry = 0x09;
constexpr uint8_t kPanTiltPosition = 0x12;
constexpr int kPanTiltReplyLength = 11;
constexpr uint8_t kZoomPosition = 0x47;
constexpr int kZoomReplyLength = 7;
constexpr uint8_t kAckPayload[] = {0x90, 0x41, 0xFF};
constexpr uint8_t kCompletionPayload[] = {0x90, 0x51, 0xFF};
// Not executable, on the socket the acknowledgement named: the camera is switching format.
constexpr uint8_t kNotExecutablePayload[] = {0x90, 0x61, 0x41, 0xFF};
constexpr uint8_t kCompletionKind = 0x5;
constexpr uint8_t kControlReplyPayload = 0x01;

// IF_Clear: the camera answers it with the reply packet 90 50 FF, neither acknowledgement nor
// completion, so it is carried out as a transaction that collects a reply.
constexpr uint8_t kIfClear[] = {0x81, 0x01, 0x00, 0x01, 0xFF};

bool is_if_clear(const uint8_t* message, int length)
{
    return length == static_cast<int>(sizeof(kIfClear)) &&
           std::memcmp(message, kIfClear, sizeof(kIfClear)) == 0;
}

}  // namespace

void Camcontrol::camcontrol_init_voip()
{
    if (camcontrol_voip_thread.joinable()) {
        return;
    }
    cliaddr = {};
    // A restart after a stop: the old socket is closed first, so the port can be bound again.
    sockfd_voip.reset();
    sockfd_voip = voip_open_service("VISCA over IP", PORT, servaddr);
    if (!sockfd_voip) {
        return;
    }
    voip_bind_address = servaddr.sin_addr;
    voip_control_command = {};
    voip_write_header(VOIP_CONTROL_REPLY, 1, 0, voip_control_command.cmd);
    voip_control_command.cmd[VOIP_HEADER_LENGTH] = kControlReplyPayload;
    voip_control_command.cmd_length = sizeof(voip_control_command.cmd);
    voip_install_reply_relay();
    camcontrol_voip_Running = true;
    camcontrol_voip_thread = std::thread(&Camcontrol::camcontrol_voip, this);
    if (vantor::is_loopback(voip_bind_address)) {
        // Nothing may be broadcast from a loopback-bound board.
        std::puts("IP-setup discovery is off: the services listen on loopback, nothing is "
                  "broadcast");
        std::fflush(stdout);
    } else {
        camcontrol_voip_search_thread = std::thread(&Camcontrol::camcontrol_voip_search, this);
    }
}

void Camcontrol::camcontrol_deinit_voip()
{
    camcontrol_voip_Running = false;
    if (camcontrol_voip_thread.joinable()) {
        camcontrol_voip_thread.join();
    }
    if (camcontrol_voip_search_thread.joinable()) {
        camcontrol_voip_search_thread.join();
    }
    m_visca.forget_late_replies();
}

void Camcontrol::voip_install_reply_relay()
{
    m_visca.set_reply_sink([this](const visca_command& origin, const uint8_t* packet, int length) {
        // The completion as the acknowledgement announced it (socket 1, as 90 41 FF did); an error
        // as the camera sent it.
        const bool completion = (packet[1] >> 4U) == kCompletionKind;
        voip_send_reply(origin.sockfd, origin.cliaddr, origin.sequence_number,
                        completion ? kCompletionPayload : packet,
                        completion ? static_cast<int>(sizeof(kCompletionPayload)) : length);
    });
}

void Camcontrol::voip_send(int sockfd, const sockaddr_in& client, const uint8_t* bytes, int length)
{
    const std::lock_guard<std::mutex> lock(udp_send_mutex);
    (void)::sendto(sockfd, bytes, static_cast<std::size_t>(length), MSG_CONFIRM,
                   reinterpret_cast<const sockaddr*>(&client), sizeof(client));
}

void Camcontrol::voip_send_reply(int sockfd, const sockaddr_in& client, uint32_t sequence_number,
                                 const uint8_t* payload, int payload_length)
{
    uint8_t reply[VOIP_HEADER_LENGTH + VISCA_PACKET_SIZE];
    const int length = voip_build(VOIP_VISCA_REPLY, sequence_number, payload, payload_length, reply,
                                  sizeof(reply));
    if (length > 0) {
        voip_send(sockfd, client, reply, length);
    }
}

bool Camcontrol::write_voip_command(const uint8_t* message, int message_length,
                                    const sockaddr_in& client, uint32_t sequence_number, int sockfd)
{
    visca_command command;
    if (message_length <= 0 || message_length > VISCA_PACKET_SIZE) {
        return false;
    }
    std::memcpy(command.cmd, message, static_cast<std::size_t>(message_length));
    command.cmd_length = message_length;
    command.cliaddr = client;
    command.sockfd = sockfd;
    command.sequence_number = sequence_number;

    voip_send_reply(sockfd, client, sequence_number, kAckPayload, sizeof(kAckPayload));
    if (m_visca.vid_fmt_switch) {
        // Acknowledged, but the camera is switching format: not executed, and the controller is
        // told so instead of waiting for a completion that never comes.
        voip_send_reply(sockfd, client, sequence_number, kNotExecutablePayload,
                        sizeof(kNotExecutablePayload));
        return false;
    }
    // The completion, or an error after the acknowledgement, is relayed by the engine whenever
    // the camera sends it (voip_install_reply_relay).
    visca_reply_packet refusal;
    m_visca.visca_exec_relayed_cmd(command, refusal);
    if (!command.ack && refusal.length > 0) {
        voip_send_reply(sockfd, client, sequence_number, refusal.bytes, refusal.length);
    }
    return command.ack;
}

void Camcontrol::sendto_res_voip_tx(visca_inq_command& inq)
{
    voip_send_reply(inq.sockfd, inq.cliaddr, inq.sequence_number, inq.inq, inq.inq_length);
    inq.inq_fill = false;
}

void Camcontrol::res_voip_inq_blk(const sockaddr_in& client, uint32_t sequence_number, int sockfd)
{
    if (!voip_block_budget.take()) {
        return;  // the block replies of this second are spent: not answered
    }
    uint8_t reply[103];
    build_voip_inq_blk(sequence_number, reply);
    voip_send(sockfd, client, reply, sizeof(reply));
}

namespace {

// The inquiry `message` as the engine's record, from `client`.
visca_inq_command voip_inquiry_record(const uint8_t* message, int length, const sockaddr_in& client,
                                      uint32_t sequence_number, int sockfd)
{
    visca_inq_command inq;
    std::memcpy(inq.cmd, message, static_cast<std::size_t>(length));
    inq.cmd_length = length;
    inq.cmd_fill = true;
    inq.inq_fill = false;
    inq.cliaddr = client;
    inq.sockfd = sockfd;
    inq.sequence_number = sequence_number;
    return inq;
}

// The position inquiries are answered only with a reply of their full length.
bool voip_reply_complete(const visca_inq_command& inq)
{
    if (inq.cmd_length > 3 && inq.cmd[3] == kPanTiltPosition) {
        return inq.inq_length == kPanTiltReplyLength;
    }
    if (inq.cmd_length > 3 && inq.cmd[3] == kZoomPosition) {
        return inq.inq_length == kZoomReplyLength;
    }
    return true;
}

}  // namespace

void Camcontrol::camcontrol_voip()
{
    voip_receiver receiver =
        voip_receiver_on(sockfd_voip.get(), camcontrol_voip_Running, camcontrol_voip_det_cmd,
                         recv_buffer, recv_length, cliaddr, cliaddr_len);
    receiver.handle = [this, sockfd = receiver.sockfd](const uint8_t* datagram, int length,
                                                       const sockaddr_in& client) {
        return voip_handle_datagram(datagram, length, client, sockfd);
    };
    voip_receive_loop(receiver);
}

bool Camcontrol::voip_run_inquiry(const uint8_t* message, int message_length,
                                  const sockaddr_in& client, int sockfd)
{
    camcontrol_voip_det_cmd = true;
    if (m_visca.vid_fmt_switch) {
        return false;  // no reply during a format change
    }
    visca_inq_command inq =
        voip_inquiry_record(message, message_length, client, recv_sequence_number, sockfd);
    visca_reply_packet refusal;
    m_visca.visca_exec_relayed_inq_cmd(inq, refusal);
    if (inq.inq_fill && voip_reply_complete(inq)) {
        sendto_res_voip_tx(inq);
        return true;
    }
    if (refusal.length > 0) {
        // The camera's error, as it sent it, once: the controller need not wait for a time-out.
        voip_send_reply(sockfd, client, recv_sequence_number, refusal.bytes, refusal.length);
    }
    return false;
}

bool Camcontrol::voip_handle_datagram(const uint8_t* datagram, int length,
                                      const sockaddr_in& client, int sockfd)
{
    voip_header header;
    if (!voip_decode_header(datagram, length, header)) {
        return false;  // shorter than its header
    }
    recv_payload_type = header.payload_type;
    recv_payload_length = header.payload_length;
    recv_sequence_number = header.sequence_number;

    if (recv_payload_type == VOIP_CONTROL_COMMAND) {
        std::memcpy(voip_control_command.cmd + 4, datagram + 4, 4);
        voip_control_command.sequence_number = recv_sequence_number;
        voip_control_command.cliaddr = client;
        voip_control_command.new_cmd = true;
        voip_send(sockfd, client, voip_control_command.cmd, voip_control_command.cmd_length);
        return false;
    }
    if (recv_payload_type != VOIP_VISCA_COMMAND && recv_payload_type != VOIP_VISCA_INQUIRY &&
        recv_payload_type != VOIP_DEVICE_SETTING) {
        return false;
    }
    // What is done depends on the payload, whichever of the three types carried it.
    uint8_t message[VOIP_MESSAGE_MAX];
    const int message_length = voip_visca_message(datagram, length, message);
    if (message_length == 0) {
        return false;
    }
    const bool inquiry = message_length > 2 && message[0] == kCameraOne && message[1] == kInquiry;
    if (is_if_clear(message, message_length) ||
        (inquiry && !voip_is_block_inquiry(message, message_length))) {
        return voip_run_inquiry(message, message_length, client, sockfd);
    }
    if (voip_is_camera_command(message, message_length)) {
        camcontrol_voip_det_cmd = true;
        return write_voip_command(message, message_length, client, recv_sequence_number, sockfd);
    }
    if (voip_is_block_inquiry(message, message_length)) {
        camcontrol_voip_det_cmd = false;
        res_voip_inq_blk(client, recv_sequence_number, sockfd);
    }
    return false;
}
