#pragma once

#include <netinet/in.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>

// The receive loop shared by VISCA over IP and the proprietary channel.
struct voip_receiver {
    int sockfd = -1;
    const std::atomic<bool>* running = nullptr;  // the loop ends once it is cleared
    // The service's activity flag. The handler sets it while it works on a datagram; the loop
    // clears it once kActiveHold has passed since the last datagram that was acted on, so
    // datagrams that were not acted on (junk, other cameras, refused requests) cannot keep it set.
    std::atomic<bool>* active = nullptr;
    // The members a datagram is received into.
    uint8_t* buffer = nullptr;
    int buffer_size = 0;
    int* length = nullptr;
    sockaddr_in* client = nullptr;
    socklen_t* client_len = nullptr;
    // A datagram that waited in the socket for longer than this is dropped unread (zero: any age).
    std::chrono::milliseconds max_age{0};
    // Asked before every receive; true when the service is not to read now (it has waited).
    std::function<bool()> stand_aside;
    // Acts on one datagram; true when it was acted on (a command executed, an inquiry answered).
    std::function<bool(const uint8_t* datagram, int length, const sockaddr_in& client)> handle;
};

inline constexpr std::chrono::milliseconds kActiveHold{50};

// A receiver on `sockfd` that receives into the service's members; max_age, stand_aside and handle
// are left to the service.
template <std::size_t N>
voip_receiver voip_receiver_on(int sockfd, const std::atomic<bool>& running,
                               std::atomic<bool>& active, uint8_t (&buffer)[N], int& length,
                               sockaddr_in& client, socklen_t& client_len)
{
    voip_receiver receiver;
    receiver.sockfd = sockfd;
    receiver.running = &running;
    receiver.active = &active;
    receiver.buffer = buffer;
    receiver.buffer_size = static_cast<int>(N);
    receiver.length = &length;
    receiver.client = &client;
    receiver.client_len = &client_len;
    return receiver;
}

// Runs until *receiver.running is cleared; every receive waits at most 50 ms.
void voip_receive_loop(const voip_receiver& receiver);
