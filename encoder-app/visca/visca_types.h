#pragma once

#include <netinet/in.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
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

// Wake-up of the engine thread. A waiter returns when a notification arrives after it started
// waiting, or as soon as the given running flag is false: the flag is checked under the event's
// mutex and whoever clears it notifies afterwards, so a stop can never be missed.
class visca_ndi_event {
public:
    void wait(const std::atomic<bool>& running);
    void notify();

private:
    std::mutex m_mutex;
    std::condition_variable m_condVar;
    bool m_notified = false;  // guarded by m_mutex
};
