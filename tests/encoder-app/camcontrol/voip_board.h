#pragma once

#include <netinet/in.h>
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "support/camera_sim.h"
#include "support/child_process.h"
#include "support/speedhq_sim.h"
#include "support/temp_board_root.h"
#include "vantor/unique_fd.h"

namespace vantor::test {

using Bytes = std::vector<uint8_t>;

// "81 01 04 07 00 FF" -> bytes.
Bytes hex(const std::string& text);
std::string hex(const Bytes& bytes);

// A VISCA-over-IP controller: one UDP socket of its own sending to `camera`.
class VoipController {
public:
    VoipController(in_addr camera, uint16_t port);
    void send(const Bytes& datagram) const;
    // The next datagram received within `deadline`, or none.
    std::optional<Bytes> receive(std::chrono::milliseconds deadline) const;
    // Sends an inquiry and returns the first reply datagram; everything received before it is
    // appended to `before`. The server handles one datagram after the other, so whatever it was
    // to send for earlier datagrams has been sent once this reply is here.
    std::optional<Bytes> barrier(uint32_t sequence_number,
                                 std::vector<Bytes>* before = nullptr) const;

private:
    vantor::UniqueFd m_fd;
    sockaddr_in m_camera = {};
};

// The encoder application on a temporary board with both simulators. The camera-control services
// bind `bind_address` (a loopback address of the test's own, so that tests running at the same
// time do not meet), or every address when it is empty and `netns` names the camera's namespace.
class VoipBoard {
public:
    explicit VoipBoard(std::string bind_address, std::string netns = {},
                       const std::vector<std::string>& camera_options = {});
    ~VoipBoard();
    VoipBoard(const VoipBoard&) = delete;
    VoipBoard& operator=(const VoipBoard&) = delete;

    // Starts encoder-app; true once it streams (or `ready_line` is in its output) and, outside a
    // namespace, VISCA over IP answers a control command at `reach`.
    bool start_app(in_addr reach, const std::string& ready_line = {});
    // SIGINT; the exit status (-1 when it did not end within the deadline).
    int stop_app();
    std::string app_output() const;
    bool wait_output(const std::string& text, std::chrono::milliseconds deadline) const;

    TempBoardRoot board;
    TempDir tools;
    TempDir registry;
    CameraSimProcess camera;
    SpeedHqSimProcess encoder;

private:
    std::string m_bind_address;
    std::string m_netns;
    pid_t m_app = -1;
};

// "127.0.0.1" -> the address.
in_addr ipv4(const std::string& text);

// Runs argv[0] with `streams` to its end; its exit status, or -1.
int run_child(const std::vector<std::string>& argv, const ChildStreams& streams);

// A loopback address of this test process alone, from its pid (127.64.0.0/10).
std::string own_loopback_address();

}  // namespace vantor::test
