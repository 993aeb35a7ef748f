#include "vantor/bind_address.h"

#include <arpa/inet.h>

#include <cstdlib>

namespace vantor {

std::optional<in_addr> bind_address()
{
    in_addr address{};
    address.s_addr = htonl(INADDR_ANY);
    const char* chosen = std::getenv(kBindAddressVariable);
    if (chosen == nullptr || *chosen == '\0') {
        return address;
    }
    if (::inet_pton(AF_INET, chosen, &address) != 1) {
        return std::nullopt;
    }
    return address;
}

bool is_loopback(in_addr address)
{
    constexpr uint32_t kLoopbackNet = 0x7F000000U;
    constexpr uint32_t kLoopbackMask = 0xFF000000U;
    return (ntohl(address.s_addr) & kLoopbackMask) == kLoopbackNet;
}

}  // namespace vantor
