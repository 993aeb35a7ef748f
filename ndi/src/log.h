#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

namespace vantor::ndi {

// Prints one line, "ndi: <text>", on standard output. It never waits: where standard output
// cannot take the line at once (a full pipe nobody reads) the line is dropped, and the next line
// that goes out says how many were.
void log_line(const std::string& text);

// Lines a peer can cause (refused connections, bad input): at most `burst` per `period` go out;
// the first line of the next period says how many were held back.
class LineLimit {
public:
    explicit LineLimit(int burst = 10, std::chrono::seconds period = std::chrono::seconds(10))
        : m_burst(burst), m_period(period)
    {
    }
    void line(const std::string& text);

private:
    const int m_burst;
    const std::chrono::seconds m_period;
    std::mutex m_mutex;
    std::chrono::steady_clock::time_point m_window_start{};
    int m_in_window = 0;
    std::uint64_t m_held_back = 0;
};

}  // namespace vantor::ndi
