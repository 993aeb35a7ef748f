#pragma once

#include <netinet/in.h>

#include <chrono>
#include <cstdint>

#include "vantor/unique_fd.h"

// The UDP socket of a service (`service` names it in the lines printed) on `port` at the bind
// address; `local` is set to the address bound. An invalid descriptor after one line saying why
// the service stays off (no such bind address, no socket, bind refused).
vantor::UniqueFd voip_open_service(const char* service, uint16_t port, sockaddr_in& local);

// Receive time-out of a socket, so that a thread's running flag is seen.
bool voip_set_receive_timeout(int sockfd, std::chrono::milliseconds timeout);
