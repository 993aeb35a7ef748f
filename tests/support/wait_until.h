#pragma once

#include <chrono>
#include <thread>

namespace vantor::test {

// Generous: the tests also run under sanitizers and qemu on a shared machine.
inline constexpr std::chrono::seconds kDefaultDeadline{20};

// Polls `done` every `step` until it is true or `deadline` has passed; returns its last value (it
// is asked once more at the deadline).
template <typename Done>
bool wait_until(Done done, std::chrono::milliseconds deadline = kDefaultDeadline,
                std::chrono::milliseconds step = std::chrono::milliseconds(1))
{
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end) {
            return done();
        }
        std::this_thread::sleep_for(step);
    }
    return true;
}

}  // namespace vantor::test
