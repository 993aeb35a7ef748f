#pragma once

// When the OSD is shown: 0.1 s of processor time after the last character arrived. Every
// position command restarts the delay, a clear cancels a pending show.

#include <ctime>

class OsdShowTimer {
public:
    // Processor-time ticks (clock(), 1,000,000 per second) that must pass: more than 99,999.
    static constexpr clock_t kDelay = 99999;

    void position(clock_t now)
    {
        m_pending = true;
        m_start = now;
    }
    void cancel() { m_pending = false; }
    bool pending() const { return m_pending; }
    // True once, when the delay has passed; the show is then no longer pending.
    bool due(clock_t now)
    {
        if (!m_pending || now - m_start <= kDelay) {
            return false;
        }
        m_pending = false;
        return true;
    }

private:
    bool m_pending = false;
    clock_t m_start = 0;
};
