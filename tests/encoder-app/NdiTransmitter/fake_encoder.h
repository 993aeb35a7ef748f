#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "vantor/unique_fd.h"

namespace vantor::test {

// One frame the fake encoder hands to a frame wait.
struct ScriptedFrame {
    std::int32_t index = 1;     // what the status read returns; negative: the read fails (EIO)
    std::int32_t previous = 0;  // status word 4
    std::string program;        // picture bytes, returned after request 10 with 2
    std::string preview;        // picture bytes, returned after request 10 with 3
    std::int32_t field = 0;     // answer of request 9
    // The lengths request 21 reports; -1: the picture's own size.
    std::int32_t program_length = -1;
    std::int32_t preview_length = -1;
};

// `size` bytes that start with a SpeedHQ single-field header of quality `quality`; a different
// `offset` byte makes the header corrupt.
std::string speedhq_picture(std::size_t size, std::uint8_t quality = 92, std::uint8_t offset = 4);

// A scripted stand-in for the encoder device on a Unix socket, small enough for the target: it
// answers every request at once, hands the scripted frames to frame waits in order and fails a
// wait with ETIMEDOUT when none is left. Records the requests as the simulator does ("12=7", "1",
// "read:6").
class FakeEncoder {
public:
    explicit FakeEncoder(const std::string& socket_path);
    ~FakeEncoder();
    FakeEncoder(const FakeEncoder&) = delete;
    FakeEncoder& operator=(const FakeEncoder&) = delete;

    void add(const ScriptedFrame& frame);
    // Frames not yet handed to a wait.
    std::size_t frames_left();
    // Waits failed because no frame was left.
    int failed_waits() const { return m_failed_waits.load(); }
    std::vector<std::string> requests();
    void clear_requests();

    // Gate on control request `code`: its answers are held back, one released per credit, so that
    // a test knows exactly how far a periodic caller got. ungate() releases everything.
    void gate(std::uint32_t code);
    void release(int answers = 1) { m_credits.fetch_add(answers); }
    void ungate();
    // True while an answer waits at the gate.
    bool holding() const { return m_holding.load(); }

private:
    struct Connection {
        vantor::UniqueFd fd;
        std::string input;
    };
    void serve();
    void handle(int id, Connection& connection, const std::string& raw);
    void send_held_when_released();

    std::mutex m_lock;  // the script and the log
    std::deque<ScriptedFrame> m_script;
    ScriptedFrame m_current;
    int m_selected = 0;
    int m_frame_number = 0;
    std::vector<std::string> m_requests;
    std::atomic<int> m_failed_waits{0};

    std::atomic<std::int64_t> m_gate_code{-1};
    std::atomic<int> m_credits{0};
    std::atomic<bool> m_holding{false};
    int m_held_connection = -1;  // serving thread only
    std::string m_held_answer;   // serving thread only

    std::string m_path;
    vantor::UniqueFd m_listen;
    vantor::UniqueFd m_stop_read;
    vantor::UniqueFd m_stop_write;
    std::map<int, Connection> m_connections;  // serving thread only
    int m_next_connection = 0;
    std::thread m_thread;
};

}  // namespace vantor::test
