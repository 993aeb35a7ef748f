// One datagram as the VISCA-over-IP server (UDP 52381) or the proprietary channel (UDP 420)
// receives it: the first input byte picks the service, the rest is the datagram (at most what
// the receive buffer takes). Replies go out for real, on a loopback socket that is drained after
// each input. The camera module is absent (its line is closed), so commands and inquiries end
// when they cannot be written; the camera's own answers have a target of their own (visca_reply).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "camcontrol/Camcontrol.h"
#include "support/fuzz_input.h"
#include "support/loopback_udp.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    static Camcontrol control;
    static const vantor::fuzz::LoopbackUdp socket;
    vantor::fuzz::FuzzInput input(data, size);
    const bool proprietary = (input.byte() & 1U) != 0;
    std::size_t length = input.rest_size();
    if (length > static_cast<std::size_t>(Camcontrol::MAXLINE)) {
        length = Camcontrol::MAXLINE;  // recvfrom cuts a longer datagram to the buffer
    }
    // A buffer of exactly the datagram: a read past its end is caught.
    const std::vector<uint8_t> datagram(input.rest(), input.rest() + length);
    const int count = static_cast<int>(length);
    if (proprietary) {
        control.vtip_handle_datagram(datagram.data(), count, socket.address(), socket.fd());
    } else {
        control.voip_handle_datagram(datagram.data(), count, socket.address(), socket.fd());
    }
    socket.drain();
    return 0;
}
