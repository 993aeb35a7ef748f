#pragma once

#include <pthread.h>
#include <sys/types.h>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

#include "NdiTransmitter/SpeedHqProtocol.h"
#include "NdiTransmitter/vantor_speedhq_ioctl.h"
#include "vantor/unique_fd.h"

// Access to the SpeedHQ encoder device. The node is opened by its system path (resolved through the
// board root) and its kind decides the transport once, at open:
//   - a character device (the camera's driver) gets ioctl(fd, request, &int32) and read(2);
//   - a Unix socket (the virtual board's simulator) gets the same requests and reads as messages
//     (speedhq-protocol.md).
// Callers see the same operations and results either way: a request returns what ioctl returns
// (0 or more on success, -1 with errno set on failure) and a read returns the byte count or -1.
//
// The operations may be called from several threads at once (the frame thread waits for frames
// while the settings thread sets bit rates). On a socket, frame waits travel on a connection of
// their own, so that a request of another thread is never held up behind a wait, as with the
// driver. open() and close() must not run concurrently with any other operation.
//
// A frame wait can be ended from another thread (cancel_waits), so that stopping never depends on
// the device answering: on a socket the wait gives up at once and its connection is opened anew
// for the next wait; on a character device the waiting thread is sent a signal, whose handler
// does nothing, so that the driver's interruptible wait returns.
class SpeedHqDevice {
public:
    enum class Transport { Closed, CharacterDevice, Socket };
    using StatusRecord = std::array<std::int32_t, VANTOR_SPEEDHQ_STATUS_WORDS>;

    // How long a socket transaction may take before the peer counts as gone (the simulator
    // answers every frame wait well within this).
    static constexpr int kReplyTimeoutMs = speedhq_protocol::kReplyTimeoutMs;
    // How long cancel_waits keeps signalling a thread waiting on a character device.
    static constexpr std::chrono::milliseconds kCancelLimit{500};

    SpeedHqDevice() = default;
    SpeedHqDevice(const SpeedHqDevice&) = delete;
    SpeedHqDevice& operator=(const SpeedHqDevice&) = delete;

    // Opens the node read-write; any device opened before is closed first. False (errno set) when
    // the node is missing, cannot be opened or connected, or is neither a character device nor a
    // socket (anything else that open(2) accepts, such as a plain file, is used like a character
    // device, so that its ioctl failures surface as the driver's would).
    bool open(const char* system_path = kVantorSpeedHqDevicePath);
    void close();
    bool is_open() const { return m_transport != Transport::Closed; }
    Transport transport() const { return m_transport; }

    // A request without argument.
    int request(std::uint32_t code);
    // A request whose argument is one 32-bit int, passed in and filled in by some requests.
    int request(std::uint32_t code, std::int32_t& argument);

    // Reads up to `count` bytes of the selected picture; returns the count read or -1.
    ssize_t read(void* buffer, std::size_t count);

    // After a frame wait: the read of VANTOR_SPEEDHQ_STATUS_WORDS that fills the status record and
    // returns the buffer index (or -1 with errno set).
    int read_status(StatusRecord& status);

    // Ends frame waits: one in progress fails with ECANCELED as soon as it notices (at once on a
    // socket; on a character device the waiting thread is signalled until its wait has ended, at
    // most kCancelLimit), and every later one fails at once until resume_waits().
    void cancel_waits();
    void resume_waits();

private:
    // One socket connection; a transaction (request and its whole answer) holds the lock.
    struct Channel {
        std::mutex lock;
        vantor::UniqueFd fd;
        bool reconnect = false;  // dropped by a cancelled wait: connect again for the next one
    };

    int wait_frame(std::int32_t& argument);
    int wait_on_socket(std::int32_t& argument);
    int wait_on_character_device(std::int32_t& argument);

    // Sends one message and receives its answer. A read's payload goes to `payload` (at most
    // `capacity` bytes, exactly `exact_payload` when that is not zero). A malformed or missing
    // answer fails with EPROTO (or the receive error) and drops the connection for good: the byte
    // stream can no longer be trusted.
    // A readable `cancel_fd` (-1: none) ends the wait for the answer with ECANCELED.
    static int transact(Channel& channel, const speedhq_protocol::Request& request,
                        std::int32_t* argument, void* payload, std::size_t capacity,
                        std::size_t exact_payload, int cancel_fd = -1);

    Transport m_transport = Transport::Closed;
    vantor::UniqueFd m_fd;  // the character device
    Channel m_control;      // socket: every request and read except frame waits
    Channel m_wait;         // socket: frame waits
    std::string m_path;     // the node as opened, for connecting the wait channel again

    // Cancellation of frame waits. The flag and the waiter are published under the lock, so that
    // a wait either sees the cancellation or is seen (and signalled) by it.
    std::mutex m_waiter_lock;
    std::condition_variable m_waiter_left;
    std::atomic<bool> m_waits_cancelled{false};
    bool m_waiting = false;           // a thread waits on the character device
    pthread_t m_waiter{};             // that thread
    vantor::UniqueFd m_cancel_event;  // socket: an eventfd, readable while waits are cancelled
};
