// The encoder device's socket transport as its client (the encoder application) sees the
// answers: the client opens the device (two connections to a listening socket of this process),
// the input's answer bytes wait on both connections, and a few operations (requests with and
// without argument, picture reads, the status read after a frame wait) take them. The leading
// input bytes pick the operations and their codes; the rest is the peer's byte stream.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "NdiTransmitter/SpeedHqDevice.h"
#include "support/fuzz_input.h"
#include "support/temp_root.h"
#include "vantor/board_root.h"
#include "vantor/file_io.h"

namespace {

constexpr int kOperations = 3;
constexpr std::size_t kLargestRead = std::size_t{64} * 1024;

// The device node of the board root: a listening Unix socket.
class DeviceListener {
public:
    DeviceListener() : m_fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        const std::string path = vantor::board_path(kVantorSpeedHqDevicePath);
        if (!m_fd || path.size() >= sizeof(address.sun_path)) {
            std::abort();
        }
        std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
        if (::bind(m_fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
            ::listen(m_fd.get(), 4) != 0) {
            std::abort();
        }
    }
    // The next connection, with `answer` waiting on it and nothing more to come.
    vantor::UniqueFd accept_with(const uint8_t* answer, std::size_t size) const
    {
        vantor::UniqueFd peer(::accept4(m_fd.get(), nullptr, nullptr, SOCK_CLOEXEC));
        int buffer = 1 << 20;
        (void)::setsockopt(peer.get(), SOL_SOCKET, SO_SNDBUF, &buffer, sizeof(buffer));
        if (!peer || !vantor::send_all(peer.get(), answer, size)) {
            std::abort();
        }
        ::shutdown(peer.get(), SHUT_WR);
        return peer;
    }

private:
    vantor::UniqueFd m_fd;
};

void operate(SpeedHqDevice& device, uint8_t choice, uint8_t code, uint32_t count)
{
    switch (choice % 4) {
    case 0:
        (void)device.request(code);
        break;
    case 1: {
        auto argument = static_cast<std::int32_t>(count);
        (void)device.request(code, argument);
        break;
    }
    case 2: {
        std::vector<uint8_t> picture(count % (kLargestRead + 1));
        (void)device.read(picture.data(), picture.size());
        break;
    }
    default: {
        SpeedHqDevice::StatusRecord status{};
        (void)device.read_status(status);
        break;
    }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    static const vantor::fuzz::TempRoot root;
    static const DeviceListener listener;
    vantor::fuzz::FuzzInput input(data, size);
    uint8_t choices[kOperations];
    uint8_t codes[kOperations];
    uint32_t counts[kOperations];
    for (int i = 0; i < kOperations; ++i) {
        choices[i] = input.byte();
        codes[i] = input.byte();
        counts[i] = static_cast<uint32_t>(input.u64());
    }
    SpeedHqDevice device;
    if (!device.open()) {
        std::abort();
    }
    // The control connection is made first, then the frame-wait one.
    const vantor::UniqueFd control = listener.accept_with(input.rest(), input.rest_size());
    const vantor::UniqueFd wait = listener.accept_with(input.rest(), input.rest_size());
    for (int i = 0; i < kOperations; ++i) {
        operate(device, choices[i], codes[i], counts[i]);
    }
    device.close();
    return 0;
}
