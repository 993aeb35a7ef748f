#pragma once

#include <chrono>
#include <thread>

namespace vantor::test {

// Polls `done` every millisecond until it is true or `deadline` has passed; reports which.
template <typename Done> bool wait_until(Done done, std::chrono::milliseconds deadline)
{
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace vantor::test
