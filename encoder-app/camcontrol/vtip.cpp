#include <sys/socket.h>

#include <chrono>
#include <thread>

#include "camcontrol/Camcontrol.h"
#include "camcontrol/voip_receive_loop.h"
#include "camcontrol/voip_socket.h"

// The proprietary control channel on UDP 420: the VISCA-over-IP framing, but only commands for
// camera 1 and the block inquiry. It gives way to VISCA over IP: while VISCA-over-IP traffic is
// active it does not read its socket, so datagrams wait there; one that waited longer than
// kStaleAfter is dropped unread.

namespace {

constexpr auto kStaleAfter = std::chrono::milliseconds(1000);
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
    // A restart after a stop: the old socket is closed first, so the port can be bound again.
    sockfd_vtip.reset();
    sockfd_vtip = voip_open_service("proprietary control channel", VTIP_PORT, servaddr_vtip);
    if (!sockfd_vtip) {
        return;
    }
    voip_install_reply_relay();
    camcontrol_vtip_Running = true;
    camcontrol_vtip_thread = std::thread(&Camcontrol::camcontrol_vtip, this);
}

void Camcontrol::camcontrol_deinit_vtip()
{
    camcontrol_vtip_Running = false;
    if (camcontrol_vtip_thread.joinable()) {
        camcontrol_vtip_thread.join();
    }
    m_visca.forget_late_replies();
}

void Camcontrol::camcontrol_vtip()
{
    voip_receiver receiver =
        voip_receiver_on(sockfd_vtip.get(), camcontrol_vtip_Running, camcontrol_vtip_det_cmd,
                         recv_buffer_vtip, recv_length_vtip, cliaddr_vtip, cliaddr_len_vtip);
    receiver.max_age = kStaleAfter;
    receiver.stand_aside = [this] {
        if (!camcontrol_voip_det_cmd) {
            return false;
        }
        // Up to about a second, but the running flag is looked at meanwhile, and the wait ends as
        // soon as VISCA over IP is idle (datagrams waiting here then run before they are stale).
        const auto end = std::chrono::steady_clock::now() + kVoipBusyPause;
        while (camcontrol_vtip_Running && camcontrol_voip_det_cmd &&
               std::chrono::steady_clock::now() < end) {
            std::this_thread::sleep_for(kVoipBusyCheck);
        }
        return true;
    };
    receiver.handle = [this, sockfd = receiver.sockfd](const uint8_t* datagram, int length,
                                                       const sockaddr_in& client) {
        return vtip_handle_datagram(datagram, length, client, sockfd);
    };
    voip_receive_loop(receiver);
}

bool Camcontrol::vtip_handle_datagram(const uint8_t* datagram, int length,
                                      const sockaddr_in& client, int sockfd)
{
    voip_header header;
    if (!voip_decode_header(datagram, length, header)) {
        return false;
    }
    recv_payload_type_vtip = header.payload_type;
    recv_payload_length_vtip = header.payload_length;
    recv_sequence_number_vtip = header.sequence_number;
    if (recv_payload_type_vtip != VOIP_VISCA_COMMAND &&
        recv_payload_type_vtip != VOIP_VISCA_INQUIRY) {
        return false;
    }
    uint8_t message[VOIP_MESSAGE_MAX];
    const int message_length = voip_visca_message(datagram, length, message);
    if (voip_is_camera_command(message, message_length)) {
        camcontrol_vtip_det_cmd = true;
        return write_voip_command(message, message_length, client, recv_sequence_number_vtip,
                                  sockfd);
    }
    if (message_length > 1 && message[1] == kInquiry) {
        // Of the inquiries only the block inquiry is answered here.
        camcontrol_vtip_det_cmd = false;
        if (voip_is_block_inquiry(message, message_length)) {
            res_voip_inq_blk(client, recv_sequence_number_vtip, sockfd);
        }
    }
    return false;
}
