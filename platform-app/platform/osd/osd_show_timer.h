#pragma once

// When the OSD is shown: 0.1 s after the last character arrived. Every position command restarts
// the delay, a clear cancels a pending show. Times come from a steady clock (64-bit): a 32-bit
// processor-time count would overflow after about 36 minutes of the process's CPU time.

#include <chrono>

class OsdShowTimer {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    // The time that must pass: more than 99,999 microseconds.
    static constexpr std::chrono::microseconds kDelay{99999};

    void position(TimePoint now)
    {
        m_pending = true;
        m_start = now;
    }
    void cancel() { m_pending = false; }
    bool pending() const { return m_pending; }
    // True once, when the delay has passed; the show is then no longer pending.
    bool due(TimePoint now)
    {
        if (!m_pending || now - m_start <= kDelay) {
            return false;
        }
        m_pending = false;
        return true;
    }

private:
    bool m_pending = false;
    TimePoint m_start{};
};
