#pragma once

#include <netinet/in.h>

#include <chrono>
#include <cstdint>

#include "vantor/unique_fd.h"

// A UDP socket bound to `address`:`port`, or an invalid descriptor after one line saying why
// (`service` names what stays off).
vantor::UniqueFd voip_open_udp(in_addr address, uint16_t port, const char* service);

// Receive time-out of a socket, so that a thread's running flag is seen.
bool voip_set_receive_timeout(int sockfd, std::chrono::milliseconds timeout);

// The bind address of the network services (vantor::bind_address), or none after one line that
// names the refused value and `service`.
bool voip_bind_address_for(const char* service, in_addr& address);
