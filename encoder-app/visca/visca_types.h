#pragma once

#include <netinet/in.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

// Size of every VISCA packet buffer: the longest command or reply this system handles.
inline constexpr int VISCA_PACKET_SIZE = 16;

// One VISCA command and its outcome.
struct visca_command {
    uint8_t cmd[VISCA_PACKET_SIZE] = {};  // address byte ... FF
    int cmd_length = 0;                   // bytes of cmd to send
    bool cmd_fill = false;                // pending in a capture buffer; cleared when sent
    bool ack = false;                     // acknowledgement 90 41 FF received
    bool comp = false;                    // completion 90 51 FF received
    sockaddr_in cliaddr = {};             // origin of a command that came over the network
    int sockfd = -1;                      // socket to answer a network command on
    uint32_t sequence_number = 0;         // VISCA-over-IP sequence number of the origin
};

// One VISCA inquiry and its reply.
struct visca_inq_command {
    uint8_t cmd[VISCA_PACKET_SIZE] = {};
    int cmd_length = 0;
    bool cmd_fill = false;
    uint8_t inq[VISCA_PACKET_SIZE] = {};  // the reply as received, 90 ... FF
    int inq_length = 0;                   // 0 after an acknowledgement/error packet or no reply
    bool inq_fill = false;                // inq holds a valid 90 50 ... FF reply
    sockaddr_in cliaddr = {};
    int sockfd = -1;
    uint32_t sequence_number = 0;
};

// One answer packet read from the line: 90 ... FF.
struct visca_reply_packet {
    uint8_t bytes[VISCA_PACKET_SIZE] = {};
    int length = 0;
    bool alone = false;  // nothing else was waiting on the line once its FF was read

    uint8_t kind() const { return static_cast<uint8_t>(bytes[1] >> 4U); }      // 4 ack, 5 done
    uint8_t socket() const { return static_cast<uint8_t>(bytes[1] & 0x0FU); }  // 0 for errors
};

// Wake-up of the engine thread. A waiter returns once `ready` holds or a notification arrived
// that it has not consumed yet. `ready` is checked under the event's mutex and whoever changes
// what it reads notifies afterwards, so a producer that captures and notifies just before the
// waiter blocks is never lost, nor is a stop.
class visca_ndi_event {
public:
    void wait(const std::function<bool()>& ready);
    void notify();

private:
    std::mutex m_mutex;
    std::condition_variable m_condVar;
    bool m_notified = false;  // guarded by m_mutex; consumed by the wait that returns
};
