#pragma once

#include <netinet/in.h>

#include <optional>

namespace vantor {

// Name of the environment variable that names the address the camera's listening sockets bind.
inline constexpr const char* kBindAddressVariable = "VANTOR_BIND_ADDRESS";

// The address every listening UDP socket of the camera binds. On the camera the variable is unset
// (or empty) and this is the any-address, as the system's own services expect. On a PC outside the
// board's own network namespaces it names an address (127.0.0.1) so that nothing listens on, or
// answers to, the machine's real network. Empty when the variable names no IPv4 address.
std::optional<in_addr> bind_address();

// True for an address of 127.0.0.0/8.
bool is_loopback(in_addr address);

}  // namespace vantor
