#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

#include "visca/visca_types.h"

// Receives the camera's later answer to a network controller's command: `origin` is the command
// as the controller sent it (cliaddr, sockfd and sequence_number name the requester), `packet` the
// camera's completion 90 5y FF or error 90 6y zz FF as read from the line.
using visca_reply_sink =
    std::function<void(const visca_command& origin, const uint8_t* packet, int length)>;

// The answers still owed to network controllers. A long command (a move, a preset recall, a direct
// zoom) is completed by the module long after its transaction has ended; the command's socket is
// remembered here, and every byte read from the line passes through on_byte, so whoever reads the
// line (a transaction, its flushes, the idle-line listener) hands the completion or error on to the
// requester as soon as its FF is read. An entry ends with its answer, when another command is
// acknowledged on its socket (the module reused it), when the module is cleared (IF_Clear), or
// after kBound.
class visca_late_replies {
public:
    static constexpr std::chrono::seconds kBound{30};

    void set_sink(visca_reply_sink sink);
    // `origin` was acknowledged on `socket` (1 or 2) and waits for its completion or error.
    void expect(uint8_t socket, const visca_command& origin);
    // One byte read from the line. Callers hold the line's mutex (the byte order is the line's).
    void on_byte(uint8_t byte);
    // Forgets every entry (the module dropped its pending completions, or the line closed).
    void clear();
    // True while an answer is owed.
    bool expecting();
    // Blocks while no answer is owed and `running` is set.
    void wait_for_entry(const std::atomic<bool>& running);
    // Wakes wait_for_entry (after `running` was cleared).
    void wake();

private:
    struct entry {
        bool active = false;
        visca_command origin;
        std::chrono::steady_clock::time_point deadline;
    };
    static constexpr int kSockets = 2;

    void on_packet(const uint8_t* bytes, int length);
    bool expecting_locked(std::chrono::steady_clock::time_point now);

    std::mutex m_mutex;
    std::condition_variable m_changed;
    entry m_entries[kSockets + 1];  // by socket number; [0] unused
    visca_reply_sink m_sink;        // guarded by m_mutex; called without it
    // The packet being assembled from the bytes read; touched only under the line's mutex.
    uint8_t m_packet[VISCA_PACKET_SIZE] = {};
    int m_length = 0;
};
