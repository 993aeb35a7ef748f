#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

// The web UI is the reader of the dashboard pipe: it makes "/tmp/vantor-dashboard-pipe" a FIFO
// (a plain file left by an earlier writer is read once, then replaced) and keeps the last object
// encoder-app wrote. Page connections wait for the next change.

inline constexpr const char* kDashboardPipe = "/tmp/vantor-dashboard-pipe";

class DashboardFeed {
public:
    DashboardFeed() = default;
    ~DashboardFeed();
    DashboardFeed(const DashboardFeed&) = delete;
    DashboardFeed& operator=(const DashboardFeed&) = delete;

    // Creates the FIFO and starts the reader thread; false (with a line on standard output) when
    // the FIFO cannot be made.
    bool start();
    void stop();

    // The status text of the last object ("2160p30-420"), or "" before the first, and its number.
    std::string status(uint64_t& sequence) const;
    // Waits up to `timeout` for a status newer than `sequence`; true when there is one.
    bool wait_newer(uint64_t sequence, std::chrono::milliseconds timeout) const;

    // Takes one object as written by encoder-app (the reader thread's work, public for tests).
    void take(const std::string& object);

private:
    int install_pipe(ino_t& inode);
    void run(int fd, ino_t inode);

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::string m_status;
    uint64_t m_sequence = 0;
    std::atomic<bool> m_running{false};
    int m_wake[2] = {-1, -1};
    std::thread m_thread;
};
