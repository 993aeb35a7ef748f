#pragma once

// Small helpers of the streaming tests: waiting on a condition with a deadline, counting lines.

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace vantor::test {

// Polls `condition` until it holds or `timeout` passes; true when it held.
inline bool wait_until(const std::function<bool()>& condition,
                       std::chrono::milliseconds timeout = std::chrono::seconds(20))
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// How many times `line` occurs in `text`.
inline int count_of(const std::string& text, const std::string& line)
{
    int count = 0;
    for (std::size_t at = text.find(line); at != std::string::npos;
         at = text.find(line, at + line.size())) {
        ++count;
    }
    return count;
}

inline int count_of(const std::vector<std::string>& lines, const std::string& line)
{
    int count = 0;
    for (const std::string& each : lines) {
        count += each == line ? 1 : 0;
    }
    return count;
}

}  // namespace vantor::test
