#include <sys/socket.h>

#include <chrono>
#include <thread>

#include "camcontrol/Camcontrol.h"
#include "camcontrol/voip_socket.h"

// The proprietary control channel on UDP 420: the VISCA-over-IP framing, but only commands for
// camera 1 and the block inquiry. It gives way to VISCA over IP: while VISCA-over-IP traffic is
// active it does not read its socket, so datagrams wait there.

namespace {

constexpr auto kReceiveTimeout = std::chrono::milliseconds(50);
constexpr auto kVoipBusyPause = std::chrono::milliseconds(1000);
constexpr auto kVoipBusyCheck = std::chrono::milliseconds(10);
constexpr uint8_t kInquiry = 0x09;

}  // namespace

void Camcontrol::camcontrol_init_vtip()
{
    if (camcontrol_vtip_thread.joinable()) {
        return;
    }
    cliaddr_vtip = {};
    sockfd_vtip = voip_open_service("proprietary control channel", VTIP_PORT, servaddr_vtip);
    if (!sockfd_vtip) {
        return;
    }
    camcontrol_vtip_Running = true;
    camcontrol_vtip_thread = std::thread(&Camcontrol::camcontrol_vtip, this);
}

void Camcontrol::camcontrol_deinit_vtip()
{
    camcontrol_vtip_Running = false;
    if (camcontrol_vtip_thread.joinable()) {
        camcontrol_vtip_thread.join();
    }
}

void Camcontrol::camcontrol_vtip()
{
    const int sockfd = sockfd_vtip.get();
    voip_set_receive_timeout(sockfd, kReceiveTimeout);
    // The command flag is this thread's: cleared after a receive time-out that follows traffic.
    bool traffic = false;
    while (camcontrol_vtip_Running) {
        if (camcontrol_voip_det_cmd) {
            // About a second, but the running flag is looked at meanwhile.
            const auto end = std::chrono::steady_clock::now() + kVoipBusyPause;
            while (camcontrol_vtip_Running && std::chrono::steady_clock::now() < end) {
                std::this_thread::sleep_for(kVoipBusyCheck);
            }
            continue;
        }
        cliaddr_len_vtip = sizeof(cliaddr_vtip);
        recv_length_vtip = static_cast<int>(
            ::recvfrom(sockfd, recv_buffer_vtip, sizeof(recv_buffer_vtip), 0,
                       reinterpret_cast<sockaddr*>(&cliaddr_vtip), &cliaddr_len_vtip));
        if (recv_length_vtip <= 0) {
            if (traffic) {
                camcontrol_vtip_det_cmd = false;
                traffic = false;
            }
            continue;
        }
        traffic = true;
        vtip_handle_datagram(recv_buffer_vtip, recv_length_vtip, cliaddr_vtip, sockfd);
    }
}

void Camcontrol::vtip_handle_datagram(const uint8_t* datagram, int length,
                                      const sockaddr_in& client, int sockfd)
{
    voip_header header;
    if (!voip_decode_header(datagram, length, header)) {
        return;
    }
    recv_payload_type_vtip = header.payload_type;
    recv_payload_length_vtip = header.payload_length;
    recv_sequence_number_vtip = header.sequence_number;
    if (recv_payload_type_vtip != VOIP_VISCA_COMMAND &&
        recv_payload_type_vtip != VOIP_VISCA_INQUIRY) {
        return;
    }
    uint8_t message[VOIP_MESSAGE_MAX];
    const int message_length = voip_visca_message(datagram, length, message);
    if (voip_is_camera_command(message, message_length)) {
        camcontrol_vtip_det_cmd = true;
        write_voip_command(message, message_length, client, recv_sequence_number_vtip, sockfd);
    } else if (message_length > 1 && message[1] == kInquiry) {
        // Of the inquiries only the block inquiry is answered here.
        camcontrol_vtip_det_cmd = false;
        if (voip_is_block_inquiry(message, message_length)) {
            res_voip_inq_blk(client, recv_sequence_number_vtip, sockfd);
        }
    }
}
