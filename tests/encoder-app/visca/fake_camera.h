#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "vantor/unique_fd.h"

namespace vantor::test {

using Bytes = std::vector<uint8_t>;

// A camera module that the test scripts: a pseudo-terminal whose slave is linked where the engine
// opens its line. Every packet the engine writes (up to FF) is recorded and handed to the
// responder, whose chunks are written back at once, each in one write. No line pacing: this is
// for the engine's rules, the simulator covers timing.
class FakeCamera {
public:
    using Responder = std::function<std::vector<Bytes>(const Bytes& packet, size_t index)>;

    explicit FakeCamera(const std::string& link_path);
    ~FakeCamera();
    FakeCamera(const FakeCamera&) = delete;
    FakeCamera& operator=(const FakeCamera&) = delete;

    bool ok() const { return m_master.valid(); }
    void respond(Responder responder);
    std::vector<Bytes> packets();
    // Waits until at least `count` packets arrived; false at the deadline.
    bool wait_for_packets(size_t count, std::chrono::milliseconds deadline);
    // Puts bytes into the engine's receive queue and waits until the line holds them.
    bool inject(const Bytes& bytes);
    // Stops reading the line and fills its engine-to-camera direction until it takes no more
    // bytes, so that the engine's next write finds the line stuck. False if it could not.
    bool jam_line();
    // Reads the line again; what it held (the filler, packets written meanwhile) is dropped.
    void unjam_line();
    // The pty's slave, as the engine's end of the line, for reading and changing its settings.
    int slave_fd() const { return m_slave.get(); }

private:
    void run();

    vantor::UniqueFd m_master;
    vantor::UniqueFd m_slave;
    std::string m_link;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    Responder m_responder;
    std::vector<Bytes> m_packets;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_jammed{false};
    std::thread m_thread;
};

// Replies of a well-behaved camera.
inline Bytes ack_packet()
{
    return {0x90, 0x41, 0xFF};
}
inline Bytes completion_packet()
{
    return {0x90, 0x51, 0xFF};
}
inline Bytes syntax_error_packet()
{
    return {0x90, 0x60, 0x02, 0xFF};
}

}  // namespace vantor::test
