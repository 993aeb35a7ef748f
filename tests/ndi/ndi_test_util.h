#pragma once

// Helpers for the NDI runtime's tests: owned senders and receivers, waiting on conditions with a
// deadline, raw TCP clients that misbehave, and capturing what the runtime prints.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Processing.NDI.Lib.h"
#include "support/temp_board_root.h"
#include "support/wait_until.h"
#include "vantor/unique_fd.h"

namespace vantor::test {

inline constexpr std::chrono::seconds kDeadline = kDefaultDeadline;

struct SenderDeleter {
    void operator()(NDIlib_send_instance_type* sender) const { NDIlib_send_destroy(sender); }
};
struct ReceiverDeleter {
    void operator()(NDIlib_recv_instance_type* receiver) const { NDIlib_recv_destroy(receiver); }
};
using SenderPtr = std::unique_ptr<NDIlib_send_instance_type, SenderDeleter>;
using ReceiverPtr = std::unique_ptr<NDIlib_recv_instance_type, ReceiverDeleter>;

SenderPtr make_sender(const std::string& name, const char* config = nullptr);
// A receiver of the sender's address (or, with `by_name`, of its name).
ReceiverPtr make_receiver(NDIlib_send_instance_t sender,
                          NDIlib_recv_bandwidth_e bandwidth = NDIlib_recv_bandwidth_highest,
                          bool by_name = false);
std::string address_of(NDIlib_send_instance_t sender);

// Waits until the sender counts `count` connected receivers.
bool wait_for_connections(NDIlib_send_instance_t sender, int count);

// The next metadata text a receiver gets, if one arrives before the deadline.
std::optional<std::string> next_metadata(NDIlib_recv_instance_t receiver,
                                         std::chrono::milliseconds deadline = kDeadline);
// The next metadata text a sender captures from its receivers.
std::optional<std::string> next_captured(NDIlib_send_instance_t sender,
                                         std::chrono::milliseconds deadline = kDeadline);

// A received picture, copied out of the runtime's frame.
struct Picture {
    int xres = 0;
    int yres = 0;
    std::uint32_t fourcc = 0;
    int frame_rate_N = 0;
    int frame_rate_D = 0;
    std::string metadata;
    std::vector<std::uint8_t> data;
};
std::optional<Picture> next_picture(NDIlib_recv_instance_t receiver,
                                    std::chrono::milliseconds deadline = kDeadline);

// A compressed code as a frame's FourCC field takes it.
inline NDIlib_FourCC_video_type_e fourcc(NDIlib_FourCC_video_type_ex_e code)
{
    return static_cast<NDIlib_FourCC_video_type_e>(code);
}

// A compressed program picture of `size` bytes, each byte (seed + index) & 0xff.
std::vector<std::uint8_t> pattern(std::size_t size, std::uint8_t seed);
NDIlib_video_frame_v2_t program_frame(std::vector<std::uint8_t>& data);

// A TCP client speaking raw bytes to a sender.
class RawClient {
public:
    // `receive_buffer` > 0 shrinks the socket's receive buffer before connecting (a stuck reader).
    // With `connect` false only the socket is made; connect_now() connects.
    explicit RawClient(const std::string& address, int receive_buffer = 0, bool connect = true);
    bool connect_now();
    int fd() const { return m_fd.get(); }
    bool send_bytes(const std::vector<std::uint8_t>& bytes);
    // A well-formed hello asking for every stream.
    bool send_hello();
    // True once the peer has closed the connection (reads and discards what arrives before).
    bool wait_closed(std::chrono::milliseconds deadline = kDeadline);
    // Reads exactly `size` bytes (blocking with the deadline). False on end or error.
    bool read_exact(std::uint8_t* target, std::size_t size,
                    std::chrono::milliseconds deadline = kDeadline);

private:
    UniqueFd m_fd;
    std::string m_address;
};

// Redirects standard output to a file while it lives.
class StdoutCapture {
public:
    StdoutCapture();
    ~StdoutCapture();
    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;
    std::string text() const;
    // Lines containing `needle`.
    std::vector<std::string> lines_with(const std::string& needle) const;

private:
    TempDir m_dir;
    int m_saved = -1;
};

// Every test gets its own registry folder, so tests running at the same time never see each other's
// senders.
class NdiTest : public ::testing::Test {
protected:
    TempDir m_registry_dir;
    ScopedEnv m_registry{"VANTOR_NDI_REGISTRY", m_registry_dir.path()};
};

}  // namespace vantor::test
