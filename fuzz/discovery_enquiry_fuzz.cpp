// One datagram as the IP-setup discovery responder (UDP 52380) receives it, checked for the
// enquiry. The reply is a broadcast and is never sent from here.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "camcontrol/voip_search_enquiry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const std::size_t length = size < 1024 ? size : 1024;  // the responder's receive buffer
    const std::vector<uint8_t> datagram(data, data + length);
    (void)voip_is_search_enquiry(datagram.data(), static_cast<int>(length));
    return 0;
}
