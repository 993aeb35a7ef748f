#pragma once

// A probe on the serial line between the engine and the camera-module simulator: a pty pair of
// the benchmark's own whose slave the engine opens as its line, forwarding every byte both ways
// between the pty master and the simulator's line, and recording each packet with the time its
// first and its last byte passed.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

namespace vantor::bench {

class LineProbe {
public:
    using Clock = std::chrono::steady_clock;
    enum class Direction { ToCamera, ToEngine };
    struct Packet {
        Clock::time_point first_byte;
        Clock::time_point last_byte;
        std::vector<uint8_t> bytes;
    };

    LineProbe(int engine_master, int camera_line) : m_engine(engine_master), m_camera(camera_line)
    {
        m_thread = std::thread([this] { run(); });
    }
    ~LineProbe()
    {
        m_running = false;
        m_thread.join();
    }
    LineProbe(const LineProbe&) = delete;
    LineProbe& operator=(const LineProbe&) = delete;

    // The first packet equal to `bytes` sent in `direction` whose first byte passed after
    // `since`, if any yet.
    bool find(Direction direction, const std::vector<uint8_t>& bytes, Clock::time_point since,
              Packet& found)
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        for (const Packet& packet : m_packets[index(direction)]) {
            if (packet.first_byte >= since && packet.bytes == bytes) {
                found = packet;
                return true;
            }
        }
        return false;
    }

    // Raw 9600 8N1 on the simulator's end of the line, as the camera module expects it.
    static bool set_raw_9600(int fd)
    {
        termios options = {};
        if (::tcgetattr(fd, &options) != 0) {
            return false;
        }
        ::cfmakeraw(&options);
        ::cfsetispeed(&options, B9600);
        ::cfsetospeed(&options, B9600);
        options.c_cflag |= CLOCAL | CREAD;
        options.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS | CSTOPB | PARENB);
        return ::tcsetattr(fd, TCSANOW, &options) == 0;
    }

private:
    static int index(Direction direction) { return direction == Direction::ToCamera ? 0 : 1; }

    void run()
    {
        pollfd fds[2] = {{m_engine, POLLIN, 0}, {m_camera, POLLIN, 0}};
        uint8_t buffer[256];
        while (m_running) {
            if (::poll(fds, 2, 10) <= 0) {
                continue;
            }
            if ((fds[0].revents & POLLIN) != 0) {
                forward(m_engine, m_camera, Direction::ToCamera, buffer, sizeof buffer);
            }
            if ((fds[1].revents & POLLIN) != 0) {
                forward(m_camera, m_engine, Direction::ToEngine, buffer, sizeof buffer);
            }
        }
    }
    void forward(int from, int to, Direction direction, uint8_t* buffer, std::size_t size)
    {
        const ssize_t n = ::read(from, buffer, size);
        if (n <= 0) {
            return;
        }
        const auto read_at = Clock::now();
        if (::write(to, buffer, static_cast<std::size_t>(n)) != n) {
            std::fprintf(stderr, "probe: short write\n");
        }
        // Bytes towards the engine count once written: then the engine can read them.
        const auto at = direction == Direction::ToEngine ? Clock::now() : read_at;
        for (ssize_t i = 0; i < n; ++i) {
            take(direction, buffer[i], at);
        }
    }
    void take(Direction direction, uint8_t byte, Clock::time_point at)
    {
        Packet& current = m_current[index(direction)];
        if (current.bytes.empty()) {
            current.first_byte = at;
        }
        current.bytes.push_back(byte);
        current.last_byte = at;
        if (byte == 0xFF) {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_packets[index(direction)].push_back(std::move(current));
            current = Packet{};
        }
    }

    int m_engine;
    int m_camera;
    std::atomic<bool> m_running{true};
    Packet m_current[2];
    std::mutex m_mutex;
    std::vector<Packet> m_packets[2];
    std::thread m_thread;
};

}  // namespace vantor::bench
