// The bytes the camera module sends on the serial line, as the VISCA engine collects them: the
// acknowledgement and completion of a command, or the reply to an inquiry. The first input byte
// picks the collector; the rest waits on the line (a socket pair standing in for the UART; its
// far end has finished). A reply taken must be a whole reply of the camera: 90 50 ... FF within
// the packet size.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <mutex>

#include "support/fuzz_input.h"
#include "support/instant_sleep.h"
#include "support/stream_pair.h"
#include "visca/visca.h"

namespace {

void check_reply(const visca_inq_command& inquiry)
{
    const int length = inquiry.inq_length;
    if (length < 3 || length > VISCA_PACKET_SIZE || inquiry.inq[0] != 0x90 ||
        inquiry.inq[1] != 0x50 || inquiry.inq[length - 1] != 0xFF) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    static visca engine;
    const vantor::fuzz::InstantSleep instant;
    vantor::fuzz::FuzzInput input(data, size);
    const uint8_t choice = input.byte();
    const auto line = vantor::fuzz::stream_with(input.rest(), input.rest_size(), false);
    const std::lock_guard<visca_line_mutex> lock(engine.visca_uart_mutex);
    engine.cam_fd = line.local.get();
    switch (choice % 3) {
    case 0:
        if (engine.visca_wait_for_ack()) {
            (void)engine.visca_wait_for_cmp();
        }
        break;
    case 1:
        (void)engine.visca_wait_for_cmp();
        break;
    default: {
        visca_inq_command inquiry;
        if (engine.visca_wait_for_res(inquiry)) {
            check_reply(inquiry);
        }
        break;
    }
    }
    engine.cam_fd = -1;
    return 0;
}
